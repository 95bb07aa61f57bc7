// The time-stamped record of a run, one line per entry, written as it
// happens so a test can read it while the simulator is still running.
#ifndef VENDSIM_TRANSCRIPT_H
#define VENDSIM_TRANSCRIPT_H

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "personality.h"

class Transcript {
public:
    // Each line is flushed, so the file is complete whenever anyone looks;
    // without a file the transcript keeps nothing.
    Transcript(FILE *file, const timespec &start);

    void pty(double t, const std::string &path);
    // Bytes from the host, gathered into entries (see tick()).
    void host(double t, const uint8_t *p, size_t n);
    void sent(double t, Speaker who, const Bytes &bytes);
    void event(double t, const std::string &text);
    void packet(double t, const std::string &text);

    // Writes out the host bytes gathered so far once the line has gone
    // quiet long enough.
    void tick(double now);
    double next_deadline() const;

private:
    void flush_host();
    void write(double t, const char *tag, const std::string &content);
    void put(const std::string &line);

    FILE *file_;
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
    std::string line;  // the line's settings then, as the last "line" event gave them
};

// The exchanges of a transcript, and in *ready (when given) the time of its
// "pty" entry, when its terminal was ready; false with a message in error
// when the file cannot be read or holds none.
bool read_exchanges(const std::string &path, std::vector<Exchange> &script, std::string &error,
                    double *ready = nullptr);

#endif
