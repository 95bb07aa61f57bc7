// The two other ways of serving the line: relaying it to a real serial
// device and recording what passes (--record), and playing back the
// device's side of a recorded transcript (--replay).
#ifndef VENDSIM_RELAY_H
#define VENDSIM_RELAY_H

#include <vector>

#include "session.h"

// Relays bytes both ways as they come, and puts the host's line settings
// on the device whenever the host changes them.
SessionEnd serve_record(const SessionSetup &setup, int device);

// Sends the device's bytes as the script has them, each the recorded time
// after what came before it, and holds the host's bytes, and the line
// settings they come with, to the recording: SessionEnd::Mismatch once
// they differ, or when the host stops short.
SessionEnd serve_replay(const SessionSetup &setup, const std::vector<Exchange> &script);

#endif
