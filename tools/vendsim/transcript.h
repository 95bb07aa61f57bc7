// The time-stamped record of a run, one line per entry, written as it
// happens so a test can read it while the simulator is still running.
#ifndef VENDSIM_TRANSCRIPT_H
#define VENDSIM_TRANSCRIPT_H

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "personality.h"

// "   6.503  event   escape recognised\n"
std::string format_entry(double t, const char *tag, const std::string &content);
// "1796537628.123456"
std::string format_unix_time(const timespec &ts);

class Transcript {
public:
    // Receives each finished line; an empty sink makes a transcript that
    // keeps nothing.
    using Sink = std::function<void(const std::string &)>;

    Transcript(Sink sink, const timespec &start);

    void pty(double t, const std::string &path);
    // Bytes from the host, gathered into entries (see host_flush_due()).
    void host(double t, const uint8_t *p, size_t n);
    void sent(double t, Speaker who, const Bytes &bytes);
    void event(double t, const std::string &text);
    void packet(double t, const std::string &text);

    // Writes out the host bytes gathered so far once the line has gone
    // quiet long enough.
    void tick(double now);
    double next_deadline() const;
    void flush_host();

private:
    void write(double t, const char *tag, const std::string &content);

    Sink sink_;
    Bytes group_;
    double group_start_ = 0;
    double group_last_ = 0;
};

// One entry of a transcript with bytes on the line.
struct Exchange {
    bool from_host;
    Speaker who;  // of device bytes
    double t;
    Bytes bytes;
};

// The exchanges of a transcript, and in *start (when given) the wall-clock
// time its entries count from; false with a message in error when the file
// cannot be read or holds none.
bool read_exchanges(const std::string &path, std::vector<Exchange> &script, std::string &error,
                    double *start = nullptr);

#endif
