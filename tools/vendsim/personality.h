// What every simulated role (modem, receiver, ...) looks like to the loop
// that drives it.  A personality never touches a file descriptor: it takes
// bytes and the current time and hands back what should happen, so it can
// be tested without a terminal and without waiting.
#ifndef VENDSIM_PERSONALITY_H
#define VENDSIM_PERSONALITY_H

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The deadline of a personality that has nothing pending.
constexpr double kNever = std::numeric_limits<double>::infinity();

// Who put bytes on the line, as the transcript tags them.
enum class Speaker { Modem, Receiver };

struct Action {
    enum class Kind { Send, Event, Packet, Close };
    Kind kind;
    Speaker speaker;
    Bytes bytes;       // Send
    std::string text;  // Event, Packet, Close
};

// The actions a personality asks for, in the order they must happen.
class Outbox {
public:
    void send(Speaker who, Bytes bytes) { add(Action::Kind::Send, who, std::move(bytes), {}); }
    void event(std::string text) { add(Action::Kind::Event, Speaker::Modem, {}, std::move(text)); }
    void packet(std::string text)
    {
        add(Action::Kind::Packet, Speaker::Modem, {}, std::move(text));
    }
    // Drop the line for good; text is the event that says so.
    void close(std::string text) { add(Action::Kind::Close, Speaker::Modem, {}, std::move(text)); }

    std::vector<Action> actions;

private:
    void add(Action::Kind kind, Speaker who, Bytes bytes, std::string text)
    {
        actions.push_back({kind, who, std::move(bytes), std::move(text)});
    }
};

class Personality {
public:
    virtual ~Personality() = default;
    // The line is up; now is the time of that.
    virtual void start(double, Outbox &) { }
    // Bytes that arrived at time now.
    virtual void feed(const uint8_t *p, size_t n, double now, Outbox &out) = 0;
    // Does whatever has fallen due by now.
    virtual void tick(double now, Outbox &out) = 0;
    // When tick() next has something to do; kNever if nothing.
    virtual double next_deadline() const = 0;
    // The call carrying this role ended: forget half-read input and
    // anything still waiting to be sent.
    virtual void reset() { }
};

#endif
