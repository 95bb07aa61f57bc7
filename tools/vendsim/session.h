// One session: the host on the far side of one pty or port, served by one
// event loop until it closes the line, the modem vanishes, a signal arrives
// or time runs out.  What answers the host is the simulated modem, a real
// device relayed to (--record) or a recording played back (--replay).
#ifndef VENDSIM_SESSION_H
#define VENDSIM_SESSION_H

#include <termios.h>

#include <csignal>
#include <optional>

#include "clock.h"
#include "options.h"
#include "transcript.h"

// Failed: the device to record could not be opened; DeviceGone: the device recorded or the port
// served went away.
enum class SessionEnd { HostClosed, Vanished, Stopped, TimeUp, Mismatch, Failed, DeviceGone };

struct SessionSetup {
    int master;
    const Scenario &scenario;
    Transcript &log;
    const Clock &clock;
    double end_time;            // on the clock, when the whole run must end
    const sigset_t *wait_mask;  // the signal mask to wait under
};

// The event loop of a session, and what a subclass does in it: each call
// returns how the session ends, when it does.
class Session {
public:
    explicit Session(const SessionSetup &s)
        : s_(s)
    {
    }
    virtual ~Session() = default;
    SessionEnd run();

protected:
    using End = std::optional<SessionEnd>;

    virtual End start(double) { return std::nullopt; }
    // The host's bytes, read at now.
    virtual End take(const uint8_t *p, size_t n, double now) = 0;
    // Does what has fallen due by now; next_deadline() says when that is.
    virtual End tick(double) { return std::nullopt; }
    virtual double next_deadline() const { return kNever; }
    // The host has set its line so; text is as the transcript gives it.
    virtual void line(const termios &, const std::string &, double) { }
    // A second descriptor to wait on, or -1, and what to do when it is ready.
    virtual int device() const { return -1; }
    virtual End from_device(double) { return std::nullopt; }
    // The host closed the line, or the port went away.
    virtual SessionEnd closed(double);

    // Writes the bytes to the host and logs the rest, in order.
    End perform(const Outbox &out);
    // Logs why the session ends, and returns it.
    SessionEnd end(SessionEnd why, const std::string &event);

    const SessionSetup &s_;

private:
    End round();
    End from_host(double now);
    void look_at_line(double now);

    bool line_known_ = false;
    tcflag_t line_cflag_ = 0;
};

// With the simulated modem and receiver.
SessionEnd serve_session(const SessionSetup &setup);

enum class WriteResult { Done, Gone, Stalled };
// Writes all of bytes to a non-blocking fd, waiting for room a while.
WriteResult write_all(int fd, const Bytes &bytes);

#endif
