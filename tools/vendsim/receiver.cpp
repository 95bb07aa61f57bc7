#include "receiver.h"

#include <cstdio>

namespace {

constexpr uint8_t kModeQuery = 0x82;
constexpr uint8_t kMonitorMode = 0x92;
constexpr uint8_t kIdentQuery = 0x06;
constexpr uint8_t kIdentReply = 0x07;
constexpr uint8_t kConfigQuery = 0x4a;
constexpr uint8_t kConfigReply = 0x4b;
constexpr uint8_t kSlip = 0x93;
constexpr size_t kConfigCheckAt = 38;
constexpr size_t kConfigTypeAt = 44;

// A half-read packet is dropped after this much silence, so a host that
// gave up in the middle of one is not misread from then on.
constexpr double kFrameGap = 1.0;

// Line noise; never STX, so it cannot be taken for the start of a packet.
const uint8_t kNoise[] = {0xff, 0x55, 0x00, 0xaa, 0x7e, 0x13, 0x80, 0x0f};

std::string hex_type(const char *what, uint8_t type)
{
    char s[80];
    snprintf(s, sizeof s, "%s 0x%02x", what, type);
    return s;
}

}  // namespace

Receiver::Receiver(const ReceiverScenario &sc)
    : sc_(sc)
{
}

void Receiver::feed(const uint8_t *p, size_t n, double now, Outbox &out)
{
    tick(now, out);
    for (size_t i = 0; i < n; ++i)
        take_byte(p[i], now, out);
    report_ignored(out);
}

void Receiver::tick(double now, Outbox &out)
{
    agenda_.run_due(now, out);
}

void Receiver::reset()
{
    reader_.reset();
    agenda_.clear();
    ignored_ = 0;
}

void Receiver::take_byte(uint8_t b, double now, Outbox &out)
{
    if (reader_.inside() && now >= last_byte_ + kFrameGap) {
        reader_.reset();
        out.event("partial packet dropped (line went quiet)");
    }
    last_byte_ = now;
    switch (reader_.push(b)) {
    case FrameReader::Step::Outside:
        if (b == ctl::ENQ)
            answer_enq(out);
        else
            ++ignored_;
        return;
    case FrameReader::Step::Inside:
        return;
    case FrameReader::Step::Done:
        answer_request(reader_.frame(), now, out);
        return;
    }
}

void Receiver::answer_enq(Outbox &out)
{
    report_ignored(out);
    switch (sc_.enq) {
    case EnqAnswer::Ack:
        out.send(Speaker::Receiver, {ctl::ACK});
        out.event("enq answered ack");
        return;
    case EnqAnswer::Nak:
        out.send(Speaker::Receiver, {ctl::NAK});
        out.event("enq answered nak");
        return;
    case EnqAnswer::Silent:
        out.event("enq not answered");
        return;
    }
}

void Receiver::answer_request(const Frame &req, double now, Outbox &out)
{
    report_ignored(out);
    out.packet(describe_frame("host", req));
    if (!req.sum_ok() || !req.end_ok()) {
        out.event("no answer: damaged packet");
        return;
    }
    Frame reply;
    if (!build_reply(req, reply)) {
        out.event(hex_type("no answer: unknown request type", req.type));
        return;
    }
    if (holds_back(out))
        return;
    if (replies_++ < sc_.bad_checksum)
        reply.sum = static_cast<uint8_t>(reply.sum + 1);
    if (sc_.reply_delay > 0)
        agenda_.add(now + sc_.reply_delay,
                    [this, reply](double, Outbox &o) { send_reply(reply, o); });
    else
        send_reply(reply, out);
}

bool Receiver::build_reply(const Frame &req, Frame &reply) const
{
    switch (req.type) {
    case kModeQuery:
        // The mode record comes back as asked for, under the mode's type.
        reply = make_frame(sc_.monitor ? kMonitorMode : kModeQuery, req.data);
        return true;
    case kIdentQuery:
        reply = make_frame(kIdentReply, Bytes(sc_.ident.begin(), sc_.ident.end()));
        return true;
    case kConfigQuery:
        reply = make_frame(kConfigReply, config_record());
        return true;
    }
    return false;
}

// The scenario's reasons to leave a good request unanswered.
bool Receiver::holds_back(Outbox &out)
{
    if (sc_.packets_silent) {
        out.event("no answer: packet replies off");
        return true;
    }
    if (requests_held_ < sc_.ignore_requests) {
        ++requests_held_;
        out.event("no answer: request ignored");
        return true;
    }
    return false;
}

Bytes Receiver::config_record() const
{
    Bytes rec(sc_.config_len);
    for (size_t i = 0; i < rec.size(); ++i)
        rec[i] = static_cast<uint8_t>(i);
    if (rec.size() > kConfigCheckAt)
        rec[kConfigCheckAt] = static_cast<uint8_t>(sc_.config_check);
    if (rec.size() > kConfigTypeAt)
        rec[kConfigTypeAt] = static_cast<uint8_t>(sc_.config_type);
    return rec;
}

// Stray packets first, then noise right before the reply, as a busy line
// would deliver them.
void Receiver::send_reply(const Frame &reply, Outbox &out) const
{
    for (unsigned long i = 0; i < sc_.slip_93; ++i) {
        Frame slip = make_frame(kSlip, {0x00, 0x01});
        out.send(Speaker::Receiver, encode_frame(slip));
        out.packet(describe_frame("recv", slip));
    }
    if (sc_.noise) {
        Bytes noise(sc_.noise);
        for (size_t i = 0; i < noise.size(); ++i)
            noise[i] = kNoise[i % sizeof kNoise];
        out.send(Speaker::Receiver, std::move(noise));
    }
    out.send(Speaker::Receiver, encode_frame(reply));
    out.packet(describe_frame("recv", reply));
}

void Receiver::report_ignored(Outbox &out)
{
    if (!ignored_)
        return;
    out.event("ignored " + std::to_string(ignored_) + " bytes outside packets");
    ignored_ = 0;
}
