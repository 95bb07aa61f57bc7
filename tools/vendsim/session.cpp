#include "session.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>

#include "modem.h"
#include "receiver.h"
#include "signals.h"

namespace {

// Waking a little late makes sure one wake-up reaches the deadline.
constexpr double kWakeSlack = 0.001;
// How long a host that reads nothing may hold up our writes.
constexpr int kWriteStallMs = 2000;

}  // namespace

timespec to_timespec(double s)
{
    timespec ts;
    ts.tv_sec = static_cast<time_t>(s);
    ts.tv_nsec = static_cast<long>((s - static_cast<double>(ts.tv_sec)) * 1e9);
    return ts;
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

SessionEnd end_session(const SessionSetup &s, SessionEnd why, const char *event)
{
    s.log.event(s.clock.now(), event);
    return why;
}

const char *closed_text(const SessionSetup &s)
{
    return s.scenario.port.empty() ? "host closed the line" : "the port went away";
}

std::optional<SessionEnd> stop_or_time_up(const SessionSetup &s)
{
    if (stop_requested())
        return end_session(s, SessionEnd::Stopped, "stopped by signal");
    if (s.clock.now() >= s.end_time)
        return end_session(s, SessionEnd::TimeUp, "max-time reached");
    return std::nullopt;
}

namespace {

class Session {
public:
    explicit Session(const SessionSetup &s)
        : s_(s)
        , receiver_(s.scenario.receiver)
        , modem_(s.scenario.modem, receiver_)
        , bytes_left_(s.scenario.vanish_bytes)
    {
    }

    SessionEnd run();

private:
    std::optional<SessionEnd> wait_and_serve();
    std::optional<SessionEnd> take_input(double now);
    std::optional<SessionEnd> perform(const Outbox &out);
    SessionEnd end(SessionEnd why, const char *event);

    const SessionSetup &s_;
    Receiver receiver_;
    Modem modem_;
    unsigned long bytes_left_;
};

SessionEnd Session::run()
{
    Outbox out;
    modem_.start(s_.clock.now(), out);
    if (auto e = perform(out))
        return *e;
    for (;;) {
        if (auto e = wait_and_serve())
            return *e;
    }
}

std::optional<SessionEnd> Session::wait_and_serve()
{
    if (auto e = stop_or_time_up(s_))
        return e;
    double now = s_.clock.now();
    double due = std::min({modem_.next_deadline(), s_.log.next_deadline(), s_.end_time});
    timespec timeout = to_timespec(std::max(0.0, due - now) + kWakeSlack);
    pollfd p = {s_.master, POLLIN, 0};
    int ready = ppoll(&p, 1, &timeout, s_.wait_mask);
    if (ready < 0)
        return std::nullopt;  // a signal: looked at on the next round

    now = s_.clock.now();
    s_.log.tick(now);
    Outbox out;
    modem_.tick(now, out);
    if (auto e = perform(out))
        return e;
    if (p.revents & POLLIN)
        return take_input(now);
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
        return end(SessionEnd::HostClosed, closed_text(s_));
    return std::nullopt;
}

std::optional<SessionEnd> Session::take_input(double now)
{
    uint8_t buf[4096];
    ssize_t n = read(s_.master, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return std::nullopt;
    if (n <= 0)  // EIO once the last slave descriptor is closed
        return end(SessionEnd::HostClosed, closed_text(s_));

    size_t take = static_cast<size_t>(n);
    bool vanish = false;
    if (s_.scenario.vanish_after && take >= bytes_left_) {
        // The modem is switched off after the last byte it gets.
        take = bytes_left_;
        vanish = true;
    }
    bytes_left_ -= take;
    if (take) {
        s_.log.host(now, buf, take);
        Outbox out;
        modem_.feed(buf, take, now, out);
        if (auto e = perform(out))
            return e;
    }
    if (vanish)
        return end(SessionEnd::Vanished, "vanish (line closed)");
    return std::nullopt;
}

std::optional<SessionEnd> Session::perform(const Outbox &out)
{
    for (const Action &a : out.actions) {
        double t = s_.clock.now();
        switch (a.kind) {
        case Action::Kind::Send: {
            WriteResult r = write_all(s_.master, a.bytes);
            if (r == WriteResult::Gone)
                return end(SessionEnd::HostClosed, closed_text(s_));
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
            return end(SessionEnd::Vanished, a.text.c_str());
        }
    }
    return std::nullopt;
}

SessionEnd Session::end(SessionEnd why, const char *event)
{
    return end_session(s_, why, event);
}

}  // namespace

SessionEnd serve_session(const SessionSetup &setup)
{
    Session session(setup);
    return session.run();
}
