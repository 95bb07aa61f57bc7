#include "relay.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "dump.h"
#include "frame.h"
#include "pty.h"

namespace {

// Decodes the packets in one direction's bytes into the transcript.
void find_packets(FrameReader &reader, const char *who, const uint8_t *p, size_t n, Outbox &out)
{
    for (size_t i = 0; i < n; ++i)
        if (reader.push(p[i]) == FrameReader::Step::Done)
            out.packet(describe_frame(who, reader.frame()));
}

class Recorder : public Session {
public:
    Recorder(const SessionSetup &s, int device)
        : Session(s)
        , device_(device)
    {
    }

private:
    End take(const uint8_t *p, size_t n, double now) override
    {
        s_.log.host(now, p, n);
        Outbox out;
        find_packets(host_frames_, "host", p, n, out);
        WriteResult written = write_all(device_, Bytes(p, p + n));
        if (written == WriteResult::Gone)
            return end(SessionEnd::DeviceGone, "the device went away");
        if (written == WriteResult::Stalled)
            out.event("the device took not all of it");
        return perform(out);
    }

    void line(const termios &host, const std::string &text, double now) override
    {
        termios dev = device_settings(host, s_.scenario.device_parity);
        if (tcsetattr(device_, TCSANOW, &dev) != 0)
            s_.log.event(now, "the device refused the line settings");
        else if (line_text(dev) != text)
            s_.log.event(now, "the device at " + line_text(dev));
    }

    int device() const override { return device_; }

    End from_device(double) override
    {
        uint8_t buf[4096];
        ssize_t n = read(device_, buf, sizeof buf);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return std::nullopt;
        if (n <= 0)  // EIO, or nothing at all, from a device hung up as it went
            return end(SessionEnd::DeviceGone, "the device went away");
        Outbox out;
        out.send(Speaker::Modem, Bytes(buf, buf + n));
        find_packets(device_frames_, "recv", buf, static_cast<size_t>(n), out);
        return perform(out);
    }

    int device_;
    FrameReader host_frames_;
    FrameReader device_frames_;
};

class Player : public Session {
public:
    Player(const SessionSetup &s, const std::vector<Exchange> &script)
        : Session(s)
        , script_(script)
    {
        for (const Exchange &e : script_) {
            if (e.from_host) {
                expected_.insert(expected_.end(), e.bytes.begin(), e.bytes.end());
                expected_line_.insert(expected_line_.end(), e.bytes.size(), &e.line);
            }
        }
    }

private:
    // Sends the device's entries that are due.
    End tick(double now) override
    {
        while (next_deadline() <= now) {
            next_ = next_device_entry();
            const Exchange &entry = script_[next_++];
            Outbox out;
            out.send(entry.who, entry.bytes);
            if (auto e = perform(out))
                return e;
            sent_at_ = s_.clock.now();
        }
        return std::nullopt;
    }

    // A device entry goes out the recorded time after the entry before it:
    // after the host's bytes up to there have all come, or after the
    // device's previous entry went out.
    double next_deadline() const override
    {
        size_t k = next_device_entry();
        if (failed_ || k >= script_.size())
            return kNever;
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

    void line(const termios &, const std::string &text, double) override { line_ = text; }

    // Holds the host's bytes, and the line they came on, to the recording.
    End take(const uint8_t *p, size_t n, double now) override
    {
        s_.log.host(now, p, n);
        for (size_t i = 0; i < n && !failed_; ++i) {
            if (wrong_line()) {
                fail(now, "line " + *expected_line_[matched_], "line " + line_);
            } else if (matched_ < expected_.size() && p[i] == expected_[matched_]) {
                ++matched_;
                matched_at_.push_back(now);
            } else {
                fail(now, what_is_left(), dump_bytes(p + i, n - i));
            }
        }
        return std::nullopt;
    }

    SessionEnd closed(double now) override
    {
        if (!failed_ && matched_ < expected_.size())
            fail(now, what_is_left(), "the line closed");
        SessionEnd why = Session::closed(now);
        return failed_ ? SessionEnd::Mismatch : why;
    }

    size_t next_device_entry() const
    {
        size_t k = next_;
        while (k < script_.size() && script_[k].from_host)
            ++k;
        return k;
    }

    // Whether the host's next byte comes on other line settings than recorded.
    bool wrong_line() const
    {
        // A port's settings are its own, not the host's.
        if (matched_ >= expected_.size() || !s_.scenario.port.empty())
            return false;
        const std::string &recorded = *expected_line_[matched_];
        return !recorded.empty() && recorded != line_;
    }

    std::string what_is_left() const
    {
        size_t left = std::min<size_t>(expected_.size() - matched_, 32);
        return left == 0 ? "nothing more" : dump_bytes(expected_.data() + matched_, left);
    }

    void fail(double now, const std::string &expected, const std::string &got)
    {
        failed_ = true;
        s_.log.event(now, "expected " + expected + ", got " + got);
    }

    const std::vector<Exchange> &script_;
    Bytes expected_;                                  // all the host's bytes, in order
    std::vector<const std::string *> expected_line_;  // the line's settings for each
    size_t matched_ = 0;                              // how many of them have come
    std::vector<double> matched_at_;                  // when each came
    size_t next_ = 0;                                 // the next entry to look at for sending
    double sent_at_ = 0;
    bool failed_ = false;
    std::string line_;  // the host's line settings
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
