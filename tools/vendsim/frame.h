// The receiver's framed packets: STX, status, type, length, data, checksum,
// ETX.  The checksum is the sum of status, type, length and data, mod 256.
#ifndef VENDSIM_FRAME_H
#define VENDSIM_FRAME_H

#include <cstdint>
#include <string>

#include "personality.h"

namespace ctl {
constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;
constexpr uint8_t ENQ = 0x05;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;
}  // namespace ctl

struct Frame {
    uint8_t status = 0;
    uint8_t type = 0;
    Bytes data;
    uint8_t sum = 0;  // as carried, right or wrong
    uint8_t end = ctl::ETX;

    bool sum_ok() const;
    bool end_ok() const { return end == ctl::ETX; }
};

uint8_t frame_checksum(uint8_t status, uint8_t type, const Bytes &data);
// A well-formed frame with status 0; data is cut to the 255 bytes a length
// byte can announce.
Frame make_frame(uint8_t type, Bytes data);
Bytes encode_frame(const Frame &f);
// "host type=0x82 len=5 data=00 08 00 00 02 sum=0x91 end=0x03 ok"
std::string describe_frame(const char *who, const Frame &f);

// Picks frames out of a byte stream, one byte at a time.
class FrameReader {
public:
    enum class Step { Outside, Inside, Done };

    // Outside: the byte is not part of a frame.  Done: frame() is complete.
    Step push(uint8_t b);
    const Frame &frame() const { return frame_; }
    bool inside() const { return state_ != State::Idle; }
    void reset() { state_ = State::Idle; }

private:
    enum class State { Idle, Status, Type, Length, Data, Sum, End };
    State state_ = State::Idle;
    Frame frame_;
    size_t length_ = 0;
};

#endif
