// The far end of a pseudo-terminal for the link tests: a thread on the
// master that splits what the host writes into units (ENQ bytes, packets,
// modem command lines), counts the zero bytes of clear_comm, and sends back
// what the test's answer function gives for each unit.
#ifndef VENDLINK_UNIT_PEER_H
#define VENDLINK_UNIT_PEER_H

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace unit {

struct Sent {
    enum Kind { enq, packet, command } kind = enq;
    int type = 0;             // of a packet
    std::string data;         // a packet's data, or a command without its CR
    size_t zeros_before = 0;  // zero bytes the host sent before this unit
    long long at_ms = 0;      // monotonic time of arrival
};

// What to send back for the host's unit number `index` (empty: nothing).
// It runs on the peer's thread and may sleep to answer late.
using Answer = std::function<std::string(const Sent &sent, size_t index)>;

class Peer {
public:
    enum Mode { receiver, modem };
    Peer(Pty &pty, Mode mode, Answer answer);
    ~Peer();
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    // Ends the thread; the results below are complete only after it.
    void stop();
    const std::vector<Sent> &sent() const { return sent_; }
    const std::string &bytes() const { return bytes_; }
    size_t zeros() const { return zeros_; }
    // Units of one kind (and, for packets, one type when type >= 0).
    size_t count(Sent::Kind kind, int type = -1) const;

private:
    void run();
    void take(unsigned char c);
    void finish_unit(Sent unit);

    Pty &pty_;
    Mode mode_;
    Answer answer_;
    std::string bytes_;
    std::string partial_;  // a packet or command under way
    bool in_packet_ = false;
    size_t zeros_ = 0;
    std::vector<Sent> sent_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// A framed packet: 0x02, status, type, length, data, checksum, 0x03.
std::string packet(int type, const std::string &data, int status = 0);

// A string of the given bytes.
std::string bytes_of(std::initializer_list<int> values);

}  // namespace unit

#endif
