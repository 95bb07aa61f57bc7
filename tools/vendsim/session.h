// One session: the host on the far side of one pty or port, served until it
// closes the line, the modem vanishes, a signal arrives or time runs out.
#ifndef VENDSIM_SESSION_H
#define VENDSIM_SESSION_H

#include <csignal>
#include <optional>

#include "clock.h"
#include "options.h"
#include "transcript.h"

// Failed: the device to record could not be opened.
enum class SessionEnd { HostClosed, Vanished, Stopped, TimeUp, Mismatch, Failed };

struct SessionSetup {
    int master;
    const Scenario &scenario;
    Transcript &log;
    const Clock &clock;
    double end_time;            // on the clock, when the whole run must end
    const sigset_t *wait_mask;  // the signal mask to wait under
};

SessionEnd serve_session(const SessionSetup &setup);

// What the loops of the session kinds share.
// Logs why the session ends, and returns it.
SessionEnd end_session(const SessionSetup &setup, SessionEnd why, const char *event);
// What a failed read means: the host closed its pty, or the port went away.
const char *closed_text(const SessionSetup &setup);
// The end a stop signal or the run's time makes, if either has come.
std::optional<SessionEnd> stop_or_time_up(const SessionSetup &setup);
enum class WriteResult { Done, Gone, Stalled };
// Writes all of bytes to a non-blocking fd, waiting for room a while.
WriteResult write_all(int fd, const Bytes &bytes);
timespec to_timespec(double seconds);

#endif
