#include "relay.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "dump.h"
#include "frame.h"
#include "pty.h"

namespace {

// How often the host's line settings are looked at when no byte comes: a
// pty tells its master nothing of a change.
constexpr double kSettingsLook = 0.1;

// Decodes the packets of one direction into the transcript.
class PacketLog {
public:
    PacketLog(Transcript &log, const char *who)
        : log_(log)
        , who_(who)
    {
    }
    void feed(double t, const uint8_t *p, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            if (reader_.push(p[i]) == FrameReader::Step::Done)
                log_.packet(t, describe_frame(who_, reader_.frame()));
    }

private:
    Transcript &log_;
    const char *who_;
    FrameReader reader_;
};

const char *parity_name(tcflag_t cflag)
{
    return !(cflag & PARENB) ? "N" : (cflag & PARODD) ? "O" : "E";
}

// The device's settings from the host's: its speed, stop bits and RTS/CTS,
// raw 8-bit.  A pty keeps no parity bit (Linux clears PARENB on it), so the
// host's PARODD decides between odd and even, unless --device-parity says.
termios device_settings(const termios &host, DeviceParity parity)
{
    termios t = host;
    cfmakeraw(&t);
    t.c_cflag = (host.c_cflag & (CBAUD | CSTOPB | CRTSCTS)) | CS8 | CREAD | CLOCAL;
    if (parity == DeviceParity::FromHost)
        parity = (host.c_cflag & PARODD) ? DeviceParity::Odd : DeviceParity::Even;
    if (parity != DeviceParity::None)
        t.c_cflag |= PARENB | (parity == DeviceParity::Odd ? PARODD : 0);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return t;
}

class Recorder {
public:
    Recorder(const SessionSetup &s, int device)
        : s_(s)
        , device_(device)
        , host_packets_(s.log, "host")
        , device_packets_(s.log, "recv")
    {
    }

    SessionEnd run()
    {
        for (;;) {
            if (auto e = stop_or_time_up(s_))
                return *e;
            double now = s_.clock.now();
            follow_host_settings(now);
            double due = std::min({now + kSettingsLook, s_.log.next_deadline(), s_.end_time});
            timespec timeout = to_timespec(std::max(0.0, due - now));
            pollfd p[2] = {{s_.master, POLLIN, 0}, {device_, POLLIN, 0}};
            if (ppoll(p, 2, &timeout, s_.wait_mask) < 0)
                continue;
            now = s_.clock.now();
            s_.log.tick(now);
            if (p[0].revents) {
                follow_host_settings(now);  // before the bytes they are meant for
                if (!relay(s_.master, device_, now, true))
                    return end(SessionEnd::HostClosed, "host closed the line");
            }
            if (p[1].revents && !relay(device_, s_.master, now, false))
                return end(SessionEnd::Vanished, "device closed the line");
        }
    }

private:
    void follow_host_settings(double now)
    {
        termios host;
        if (tcgetattr(s_.master, &host) != 0)
            return;
        tcflag_t cflag = host.c_cflag & (CBAUD | CSTOPB | PARODD | CRTSCTS);
        if (known_ && cflag == cflag_)
            return;
        known_ = true;
        cflag_ = cflag;
        termios dev = device_settings(host, s_.scenario.device_parity);
        bool set = tcsetattr(device_, TCSANOW, &dev) == 0;
        char text[96];
        snprintf(text, sizeof text, "line %lu 8%s%d, RTS/CTS %s%s", baud_of(cfgetospeed(&dev)),
                 parity_name(dev.c_cflag), (dev.c_cflag & CSTOPB) ? 2 : 1,
                 (dev.c_cflag & CRTSCTS) ? "on" : "off", set ? "" : " (the device refused them)");
        s_.log.event(now, text);
    }

    // Moves what one side has to the other; false when the side it reads is gone.
    bool relay(int from, int to, double now, bool from_host)
    {
        uint8_t buf[4096];
        ssize_t n = read(from, buf, sizeof buf);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        if (n <= 0)
            return false;
        size_t got = static_cast<size_t>(n);
        Bytes bytes(buf, buf + got);
        if (from_host) {
            s_.log.host(now, buf, got);
            host_packets_.feed(now, buf, got);
        } else {
            s_.log.sent(now, Speaker::Modem, bytes);
            device_packets_.feed(now, buf, got);
        }
        if (write_all(to, bytes) != WriteResult::Done)
            s_.log.event(s_.clock.now(),
                         from_host ? "the device took not all of it"
                                   : "the host took not all of it");
        return true;
    }

    SessionEnd end(SessionEnd why, const char *event) { return end_session(s_, why, event); }

    const SessionSetup &s_;
    int device_;
    PacketLog host_packets_, device_packets_;
    bool known_ = false;
    tcflag_t cflag_ = 0;
};

class Player {
public:
    Player(const SessionSetup &s, const std::vector<Exchange> &script)
        : s_(s)
        , script_(script)
    {
        for (const Exchange &e : script)
            if (e.from_host)
                expected_.insert(expected_.end(), e.bytes.begin(), e.bytes.end());
    }

    SessionEnd run()
    {
        for (;;) {
            if (auto e = stop_or_time_up(s_))
                return *e;
            double now = s_.clock.now();
            double due = std::min({send_due(now), s_.log.next_deadline(), s_.end_time});
            timespec timeout = to_timespec(std::max(0.0, due - now));
            pollfd p = {s_.master, POLLIN, 0};
            if (ppoll(&p, 1, &timeout, s_.wait_mask) < 0)
                continue;
            now = s_.clock.now();
            s_.log.tick(now);
            if (p.revents && !take(now))
                return closed();
        }
    }

private:
    // Sends the device's entries that are due; the time the next is due.
    double send_due(double now)
    {
        for (;;) {
            while (next_ < script_.size() && script_[next_].from_host)
                ++next_;
            if (failed_ || next_ >= script_.size())
                return kNever;
            double due = due_time(next_);
            if (due > now)
                return due;
            const Exchange &e = script_[next_];
            if (write_all(s_.master, e.bytes) == WriteResult::Gone)
                return kNever;
            s_.log.sent(s_.clock.now(), e.who, e.bytes);
            sent_at_ = s_.clock.now();
            ++next_;
        }
    }

    // A device entry goes out the recorded time after the entry before it:
    // after the host's bytes up to there have all come, or after the
    // device's previous entry went out.
    double due_time(size_t k) const
    {
        size_t host_bytes = 0;
        for (size_t i = 0; i < k; ++i)
            host_bytes += script_[i].from_host ? script_[i].bytes.size() : 0;
        if (matched_ < host_bytes)
            return kNever;
        double delay = script_[k].t - (k > 0 ? script_[k - 1].t : 0);
        double after = k == 0          ? 0
            : script_[k - 1].from_host ? matched_at_[host_bytes - 1]
                                       : sent_at_;
        return after + std::max(0.0, delay);
    }

    // Reads the host's bytes and holds them to the script; false once the host is gone.
    bool take(double now)
    {
        uint8_t buf[4096];
        ssize_t n = read(s_.master, buf, sizeof buf);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        if (n <= 0)
            return false;
        s_.log.host(now, buf, static_cast<size_t>(n));
        for (ssize_t i = 0; i < n && !failed_; ++i) {
            if (matched_ < expected_.size() && buf[i] == expected_[matched_]) {
                ++matched_;
                matched_at_.push_back(now);
                continue;
            }
            failed_ = true;
            s_.log.event(now,
                         "expected " + what_is_left() + ", got "
                             + dump_bytes(buf + i, static_cast<size_t>(n - i)));
        }
        return true;
    }

    std::string what_is_left() const
    {
        size_t left = std::min<size_t>(expected_.size() - matched_, 32);
        return left == 0 ? "nothing more" : dump_bytes(expected_.data() + matched_, left);
    }

    SessionEnd closed()
    {
        if (!failed_ && matched_ < expected_.size()) {
            failed_ = true;
            s_.log.event(s_.clock.now(), "expected " + what_is_left() + ", got the line closed");
        }
        return end(failed_ ? SessionEnd::Mismatch : SessionEnd::HostClosed, closed_text(s_));
    }

    SessionEnd end(SessionEnd why, const char *event) { return end_session(s_, why, event); }

    const SessionSetup &s_;
    const std::vector<Exchange> &script_;
    Bytes expected_;                  // all the host's bytes, in order
    size_t matched_ = 0;              // how many of them have come
    std::vector<double> matched_at_;  // when each came
    size_t next_ = 0;                 // the next entry to look at for sending
    double sent_at_ = 0;
    bool failed_ = false;
};

}  // namespace

SessionEnd serve_record(const SessionSetup &setup, int device)
{
    Recorder recorder(setup, device);
    return recorder.run();
}

SessionEnd serve_replay(const SessionSetup &setup, const std::vector<Exchange> &script)
{
    Player player(setup, script);
    return player.run();
}
