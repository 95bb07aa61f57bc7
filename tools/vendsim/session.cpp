#include "session.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "modem.h"
#include "pty.h"
#include "receiver.h"
#include "signals.h"

namespace {

// Waking a little late makes sure one wake-up reaches the deadline.
constexpr double kWakeSlack = 0.001;
// How long a host that reads nothing may hold up our writes.
constexpr int kWriteStallMs = 2000;
// How often the host's line settings are looked at when no byte comes: a
// pty tells its master nothing of a change.
constexpr double kLineLook = 0.1;

timespec to_timespec(double s)
{
    timespec ts;
    ts.tv_sec = static_cast<time_t>(s);
    ts.tv_nsec = static_cast<long>((s - static_cast<double>(ts.tv_sec)) * 1e9);
    return ts;
}

// The simulated modem, with the simulated receiver behind it.
class Simulation : public Session {
public:
    explicit Simulation(const SessionSetup &s)
        : Session(s)
        , receiver_(s.scenario.receiver)
        , modem_(s.scenario.modem, receiver_)
        , bytes_left_(s.scenario.vanish_bytes)
    {
    }

private:
    End start(double now) override
    {
        Outbox out;
        modem_.start(now, out);
        return perform(out);
    }

    End take(const uint8_t *p, size_t n, double now) override
    {
        bool vanish = false;
        if (s_.scenario.vanish_after && n >= bytes_left_) {
            // The modem is switched off after the last byte it gets.
            n = bytes_left_;
            vanish = true;
        }
        bytes_left_ -= n;
        if (n) {
            s_.log.host(now, p, n);
            Outbox out;
            modem_.feed(p, n, now, out);
            if (auto e = perform(out))
                return e;
        }
        if (vanish)
            return end(SessionEnd::Vanished, "vanish (line closed)");
        return std::nullopt;
    }

    End tick(double now) override
    {
        Outbox out;
        modem_.tick(now, out);
        return perform(out);
    }

    double next_deadline() const override { return modem_.next_deadline(); }

    Receiver receiver_;
    Modem modem_;
    unsigned long bytes_left_;
};

}  // namespace

SessionEnd Session::run()
{
    look_at_line(s_.clock.now());
    if (auto e = start(s_.clock.now()))
        return *e;
    for (;;) {
        if (auto e = round())
            return *e;
    }
}

Session::End Session::round()
{
    if (stop_requested())
        return end(SessionEnd::Stopped, "stopped by signal");
    double now = s_.clock.now();
    if (now >= s_.end_time)
        return end(SessionEnd::TimeUp, "max-time reached");
    s_.log.tick(now);
    look_at_line(now);
    if (auto e = tick(now))
        return e;
    double due = std::min({next_deadline(), now + kLineLook, s_.log.next_deadline(), s_.end_time});
    timespec timeout = to_timespec(std::max(0.0, due - now) + kWakeSlack);
    pollfd p[2] = {{s_.master, POLLIN, 0}, {device(), POLLIN, 0}};
    if (ppoll(p, 2, &timeout, s_.wait_mask) < 0)
        return std::nullopt;  // a signal: looked at on the next round
    now = s_.clock.now();
    if (p[0].revents & POLLIN) {
        if (auto e = from_host(now))
            return e;
    } else if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        return closed(now);
    }
    if (p[1].revents)
        return from_device(now);
    return std::nullopt;
}

Session::End Session::from_host(double now)
{
    look_at_line(now);  // before the bytes they are meant for
    uint8_t buf[4096];
    ssize_t n = read(s_.master, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return std::nullopt;
    if (n <= 0)  // EIO once the last slave descriptor is closed
        return closed(now);
    return take(buf, static_cast<size_t>(n), now);
}

// Writes the line's settings to the transcript when they change.  A pty
// keeps no parity bit: they are given as a device would take them.
void Session::look_at_line(double now)
{
    termios t;
    if (tcgetattr(s_.master, &t) != 0)
        return;
    tcflag_t cflag = t.c_cflag & (CBAUD | CSTOPB | PARENB | PARODD | CRTSCTS);
    if (line_known_ && cflag == line_cflag_)
        return;
    line_known_ = true;
    line_cflag_ = cflag;
    bool pty = s_.scenario.port.empty();
    std::string text = line_text(pty ? device_settings(t, DeviceParity::FromHost) : t);
    s_.log.event(now, "line " + text);
    line(t, text, now);
}

SessionEnd Session::closed(double)
{
    if (!s_.scenario.port.empty())
        return end(SessionEnd::DeviceGone, "the port went away");
    return end(SessionEnd::HostClosed, "host closed the line");
}

Session::End Session::perform(const Outbox &out)
{
    for (const Action &a : out.actions) {
        double t = s_.clock.now();
        switch (a.kind) {
        case Action::Kind::Send: {
            WriteResult r = write_all(s_.master, a.bytes);
            if (r == WriteResult::Gone)
                return closed(t);
            s_.log.sent(t, a.speaker, a.bytes);
            if (r == WriteResult::Stalled)
                s_.log.event(s_.clock.now(), "output stalled (host not reading), rest dropped");
            break;
        }
        case Action::Kind::Event:
            s_.log.event(t, a.text);
            break;
        case Action::Kind::Packet:
            s_.log.packet(t, a.text);
            break;
        case Action::Kind::Close:
            return end(SessionEnd::Vanished, a.text);
        }
    }
    return std::nullopt;
}

SessionEnd Session::end(SessionEnd why, const std::string &event)
{
    s_.log.event(s_.clock.now(), event);
    return why;
}

SessionEnd serve_session(const SessionSetup &setup)
{
    Simulation simulation(setup);
    return simulation.run();
}

WriteResult write_all(int fd, const Bytes &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return WriteResult::Gone;
        pollfd p = {fd, POLLOUT, 0};
        if (poll(&p, 1, kWriteStallMs) <= 0)
            return WriteResult::Stalled;
        if (p.revents & (POLLHUP | POLLERR))
            return WriteResult::Gone;
    }
    return WriteResult::Done;
}
