#include "peer.h"

#include <poll.h>
#include <unistd.h>

namespace unit {

Peer::Peer(Pty &pty, Mode mode, Answer answer)
    : pty_(pty), mode_(mode), answer_(std::move(answer)), thread_([this] { run(); })
{
}

Peer::~Peer()
{
    stop();
}

void Peer::stop()
{
    done_ = true;
    if (thread_.joinable())
        thread_.join();
}

size_t Peer::count(Sent::Kind kind, int type) const
{
    size_t n = 0;
    for (const Sent &s : sent_)
        n += s.kind == kind && (type < 0 || s.type == type);
    return n;
}

void Peer::run()
{
    while (!done_) {
        struct pollfd p = {pty_.master(), POLLIN, 0};
        if (poll(&p, 1, 50) <= 0 || !(p.revents & POLLIN))
            continue;
        unsigned char buf[512];
        ssize_t n = read(pty_.master(), buf, sizeof buf);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i)
            take(buf[i]);
    }
}

void Peer::take(unsigned char c)
{
    bytes_ += static_cast<char>(c);
    Sent unit;
    unit.zeros_before = zeros_;
    if (mode_ == modem) {
        if (c != '\r') {
            partial_ += static_cast<char>(c);
            return;
        }
        unit.kind = Sent::command;
        unit.data = partial_;
        partial_.clear();
        finish_unit(unit);
        return;
    }
    if (in_packet_) {
        partial_ += static_cast<char>(c);
        size_t length = partial_.size() >= 4 ? static_cast<unsigned char>(partial_[3]) : 0;
        if (partial_.size() < 4 || partial_.size() < length + 6)
            return;
        in_packet_ = false;
        unit.kind = Sent::packet;
        unit.type = static_cast<unsigned char>(partial_[2]);
        unit.data = partial_.substr(4, length);
        partial_.clear();
        finish_unit(unit);
    } else if (c == 0x02) {
        in_packet_ = true;
        partial_.assign(1, static_cast<char>(c));
    } else if (c == 0x05) {
        finish_unit(unit);
    } else if (c == 0x00) {
        ++zeros_;
    }
}

void Peer::finish_unit(Sent unit)
{
    unit.at_ms = now_ms();
    sent_.push_back(unit);
    std::string reply = answer_(sent_.back(), sent_.size() - 1);
    if (!reply.empty())
        pty_.send(reply);
}

std::string packet(int type, const std::string &data, int status)
{
    std::string p;
    p += '\x02';
    p += static_cast<char>(status);
    p += static_cast<char>(type);
    p += static_cast<char>(data.size());
    p += data;
    unsigned sum = static_cast<unsigned>(status + type) + static_cast<unsigned>(data.size());
    for (unsigned char c : data)
        sum += c;
    p += static_cast<char>(sum & 0xff);
    p += '\x03';
    return p;
}

std::string bytes_of(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

}  // namespace unit
