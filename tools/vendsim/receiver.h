// The remote receiver personality: answers ENQ and the mode, identification
// and configuration requests, with the faults a scenario asks for.
#ifndef VENDSIM_RECEIVER_H
#define VENDSIM_RECEIVER_H

#include "agenda.h"
#include "frame.h"
#include "options.h"
#include "personality.h"

class Receiver : public Personality {
public:
    explicit Receiver(const ReceiverScenario &sc);

    void feed(const uint8_t *p, size_t n, double now, Outbox &out) override;
    void tick(double now, Outbox &out) override;
    double next_deadline() const override { return agenda_.next(); }
    void reset() override;

private:
    void take_byte(uint8_t b, double now, Outbox &out);
    void answer_enq(Outbox &out);
    void answer_request(const Frame &req, double now, Outbox &out);
    bool build_reply(const Frame &req, Frame &reply) const;
    bool holds_back(Outbox &out);
    Bytes config_record() const;
    void send_reply(const Frame &reply, Outbox &out) const;
    void report_ignored(Outbox &out);

    const ReceiverScenario &sc_;
    FrameReader reader_;
    Agenda agenda_;
    double last_byte_ = 0;
    size_t ignored_ = 0;               // bytes outside packets, not yet logged
    unsigned long requests_held_ = 0;  // requests left unanswered on purpose
    unsigned long replies_ = 0;
};

#endif
