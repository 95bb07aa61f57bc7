// The two other ways of serving the line: relaying it to a real serial
// device and recording what passes (--record), and playing back the
// device's side of a recorded transcript (--replay).
#ifndef VENDSIM_RELAY_H
#define VENDSIM_RELAY_H

#include <string>
#include <vector>

#include "session.h"

// Relays bytes both ways as they come, and puts the host's line settings
// on the device whenever the host changes them.
SessionEnd serve_record(const SessionSetup &setup, int device);

// One entry of a transcript with bytes on the line.
struct Exchange {
    bool from_host;
    Speaker who;  // of device bytes
    double t;
    Bytes bytes;
};

// The exchanges of a transcript; false with a message in error when the
// file cannot be read or holds none.
bool read_exchanges(const std::string &path, std::vector<Exchange> &script, std::string &error);

// Sends the device's bytes as the script has them, each the recorded time
// after what came before it, and holds the host's bytes to the script:
// SessionEnd::Mismatch once they differ, or when the host stops short.
SessionEnd serve_replay(const SessionSetup &setup, const std::vector<Exchange> &script);

#endif
