// The Hayes modem personality: command mode with echo and AT commands, data
// mode with the guarded "+++" escape, and a remote personality (the far end
// of the call) that gets the data.
#ifndef VENDSIM_MODEM_H
#define VENDSIM_MODEM_H

#include <string>

#include "agenda.h"
#include "options.h"
#include "personality.h"

class Modem : public Personality {
public:
    Modem(const ModemScenario &sc, Personality &remote);

    void start(double now, Outbox &out) override;
    void feed(const uint8_t *p, size_t n, double now, Outbox &out) override;
    void tick(double now, Outbox &out) override;
    double next_deadline() const override;

private:
    enum class Mode { Command, Dialing, Data };

    void command_byte(uint8_t b, double now, Outbox &out);
    void data_byte(uint8_t b, double now);
    void run_command(const std::string &cmd, double now, Outbox &out);
    void answer(double now, Outbox &out);
    void dial(const std::string &number, double now, Outbox &out);
    void finish_dial(double now, Outbox &out);
    void hang_up(Outbox &out);
    void go_online(double now, Outbox &out);
    void enter_data_mode(double now);
    void enter_command_mode();
    void settle_escape(double now, Outbox &out);
    void release_pluses();
    void pass_data(double now, Outbox &out);
    void relay_remote(double now, Outbox &out);
    void flush_echo(Outbox &out);
    void say(const char *text, Outbox &out);
    std::string connect_text() const;

    const ModemScenario &sc_;
    Personality &remote_;
    Agenda agenda_;
    Mode mode_ = Mode::Command;
    bool call_up_ = false;
    bool closed_ = false;

    // Command mode: echo not yet written, and the command being read.
    Bytes echo_;
    bool reading_command_ = false;
    uint8_t prev_ = 0;
    std::string line_;

    // Data mode: when the host last sent anything, and the escape so far.
    double last_rx_ = 0;
    double last_plus_ = 0;
    int pluses_ = 0;
    Bytes data_;  // data for the remote, passed on in one piece per feed
};

#endif
