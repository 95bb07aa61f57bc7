#include "frame.h"

#include <algorithm>
#include <cstdio>

#include "dump.h"

uint8_t frame_checksum(uint8_t status, uint8_t type, const Bytes &data)
{
    unsigned sum = status + type + data.size();
    for (uint8_t b : data)
        sum += b;
    return static_cast<uint8_t>(sum);
}

bool Frame::sum_ok() const
{
    return sum == frame_checksum(status, type, data);
}

Frame make_frame(uint8_t type, Bytes data)
{
    Frame f;
    f.type = type;
    f.data = std::move(data);
    if (f.data.size() > 255)
        f.data.resize(255);
    f.sum = frame_checksum(f.status, f.type, f.data);
    return f;
}

Bytes encode_frame(const Frame &f)
{
    Bytes b(f.data.size() + 6);
    b[0] = ctl::STX;
    b[1] = f.status;
    b[2] = f.type;
    b[3] = static_cast<uint8_t>(f.data.size());
    std::copy(f.data.begin(), f.data.end(), b.begin() + 4);
    b[b.size() - 2] = f.sum;
    b[b.size() - 1] = f.end;
    return b;
}

static const char *verdict(const Frame &f)
{
    if (!f.sum_ok())
        return "bad-sum";
    return f.end_ok() ? "ok" : "bad-end";
}

std::string describe_frame(const char *who, const Frame &f)
{
    char head[64], tail[64];
    snprintf(head, sizeof head, "%s type=0x%02x len=%zu data=", who, f.type, f.data.size());
    snprintf(tail, sizeof tail, " sum=0x%02x end=0x%02x %s", f.sum, f.end, verdict(f));
    return head + hex_bytes(f.data.data(), f.data.size()) + tail;
}

FrameReader::Step FrameReader::push(uint8_t b)
{
    switch (state_) {
    case State::Idle:
        if (b != ctl::STX)
            return Step::Outside;
        frame_ = Frame();
        state_ = State::Status;
        return Step::Inside;
    case State::Status:
        frame_.status = b;
        state_ = State::Type;
        return Step::Inside;
    case State::Type:
        frame_.type = b;
        state_ = State::Length;
        return Step::Inside;
    case State::Length:
        length_ = b;
        state_ = length_ ? State::Data : State::Sum;
        return Step::Inside;
    case State::Data:
        frame_.data.push_back(b);
        if (frame_.data.size() == length_)
            state_ = State::Sum;
        return Step::Inside;
    case State::Sum:
        frame_.sum = b;
        state_ = State::End;
        return Step::Inside;
    case State::End:
        frame_.end = b;
        state_ = State::Idle;
        return Step::Done;
    }
    return Step::Outside;
}
