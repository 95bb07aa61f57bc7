// One session: the host on the far side of one pty, served until it closes
// the line, the modem vanishes, a signal arrives or time runs out.
#ifndef VENDSIM_SESSION_H
#define VENDSIM_SESSION_H

#include <csignal>

#include "clock.h"
#include "options.h"
#include "transcript.h"

enum class SessionEnd { HostClosed, Vanished, Stopped, TimeUp };

struct SessionSetup {
    int master;
    const Scenario &scenario;
    Transcript &log;
    const Clock &clock;
    double end_time;            // on the clock, when the whole run must end
    const sigset_t *wait_mask;  // the signal mask to wait under
};

SessionEnd serve_session(const SessionSetup &setup);

#endif
