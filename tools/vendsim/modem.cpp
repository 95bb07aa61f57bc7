#include "modem.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

const char kOk[] = "\r\nOK\r\n";
const char kNoCarrier[] = "\r\nNO CARRIER\r\n";
const char kBusy[] = "\r\nBUSY\r\n";
// What a modem with a wrong speed or a noisy line answers: never an OK.
const Bytes kGarbage = {'\r', '\n', 0x7f, '#', '$', '%', '&', 0x01, 0x8a, '?', '\r', '\n'};
// Longer command lines are cut, as a modem's command buffer would.
constexpr size_t kMaxCommand = 255;

// Upper case without blanks, unprintables shown as '?', so "d t 123" and
// "DT123" read alike and the transcript stays one line.
std::string normalise(const std::string &s)
{
    std::string n;
    for (char c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u == ' ')
            continue;
        n += (u > ' ' && u < 0x7f) ? static_cast<char>(toupper(u)) : '?';
    }
    return n;
}

}  // namespace

Modem::Modem(const ModemScenario &sc, Personality &remote)
    : sc_(sc)
    , remote_(remote)
{
}

void Modem::start(double now, Outbox &out)
{
    if (!sc_.connected)
        return;
    call_up_ = true;
    enter_data_mode(now);
    out.event("connect");
    remote_.start(now, out);
}

void Modem::feed(const uint8_t *p, size_t n, double now, Outbox &out)
{
    // Anything that fell due before these bytes arrived happens first.
    tick(now, out);
    for (size_t i = 0; i < n && !closed_; ++i) {
        switch (mode_) {
        case Mode::Command:
            command_byte(p[i], now, out);
            break;
        case Mode::Dialing:
            break;  // busy dialing: input is lost
        case Mode::Data:
            data_byte(p[i], now);
            break;
        }
    }
    flush_echo(out);
    pass_data(now, out);
}

void Modem::tick(double now, Outbox &out)
{
    if (closed_)
        return;
    agenda_.run_due(now, out);
    settle_escape(now, out);
    relay_remote(now, out);
}

double Modem::next_deadline() const
{
    if (closed_)
        return kNever;
    double due = std::min(agenda_.next(), remote_.next_deadline());
    if (mode_ == Mode::Data && pluses_ > 0)
        due = std::min(due, last_plus_ + sc_.guard);
    return due;
}

void Modem::command_byte(uint8_t b, double now, Outbox &out)
{
    if (sc_.echo)
        echo_.push_back(b);
    if (!reading_command_) {
        // Everything before "AT" is noise, a stray "+++" included.
        reading_command_ = toupper(prev_) == 'A' && toupper(b) == 'T';
        prev_ = b;
        if (reading_command_)
            line_.clear();
        return;
    }
    if (b != '\r') {
        if (line_.size() < kMaxCommand)
            line_ += static_cast<char>(b);
        return;
    }
    reading_command_ = false;
    prev_ = 0;
    flush_echo(out);
    run_command(normalise(line_), now, out);
}

void Modem::run_command(const std::string &cmd, double now, Outbox &out)
{
    out.event("command AT" + cmd);
    if (sc_.reply == ReplyMode::Vanish) {
        closed_ = true;
        out.close("vanish (line closed)");
        return;
    }
    if (!cmd.empty() && cmd[0] == 'D') {
        dial(cmd.substr(1), now, out);
        return;
    }
    if (cmd == "O" || cmd == "O0") {
        go_online(now, out);
        return;
    }
    if (cmd == "H" || cmd == "H0")
        hang_up(out);
    answer(now, out);
}

void Modem::answer(double now, Outbox &out)
{
    switch (sc_.reply) {
    case ReplyMode::Ok:
    case ReplyMode::Vanish:  // only a command makes it vanish; an escape is answered
        say(kOk, out);
        return;
    case ReplyMode::Silent:
        return;
    case ReplyMode::Garbage:
        out.send(Speaker::Modem, kGarbage);
        return;
    case ReplyMode::Late:
        agenda_.add(now + sc_.late, [this](double, Outbox &o) { say(kOk, o); });
        return;
    }
}

void Modem::dial(const std::string &number, double now, Outbox &out)
{
    // Tone and pulse prefixes are not part of the number.
    size_t skip = (!number.empty() && (number[0] == 'T' || number[0] == 'P')) ? 1 : 0;
    out.event("dial " + number.substr(skip));
    mode_ = Mode::Dialing;
    agenda_.add(now + sc_.dial_delay, [this](double t, Outbox &o) { finish_dial(t, o); });
}

void Modem::finish_dial(double now, Outbox &out)
{
    mode_ = Mode::Command;
    switch (sc_.dial) {
    case DialResult::Connect:
        call_up_ = true;
        remote_.reset();
        say(connect_text().c_str(), out);
        out.event("connect");
        enter_data_mode(now);
        remote_.start(now, out);
        return;
    case DialResult::Busy:
        say(kBusy, out);
        out.event("busy");
        return;
    case DialResult::NoCarrier:
        say(kNoCarrier, out);
        out.event("no carrier");
        return;
    case DialResult::Ok:
        // As for a dial command ending in ";": back in command mode, no call.
        say(kOk, out);
        out.event("dial ended without a call");
        return;
    case DialResult::Silent:
        out.event("dial unanswered");
        return;
    case DialResult::Vanish:
        closed_ = true;
        out.close("vanish (line closed)");
        return;
    }
}

void Modem::hang_up(Outbox &out)
{
    if (!call_up_) {
        out.event("hang-up (no call)");
        return;
    }
    call_up_ = false;
    remote_.reset();
    out.event("hang-up");
}

void Modem::go_online(double now, Outbox &out)
{
    if (!call_up_) {
        say(kNoCarrier, out);
        out.event("no carrier (no call)");
        return;
    }
    say(connect_text().c_str(), out);
    out.event("online");
    enter_data_mode(now);
}

std::string Modem::connect_text() const
{
    return sc_.speed.empty() ? "\r\nCONNECT\r\n" : "\r\nCONNECT " + sc_.speed + "\r\n";
}

void Modem::enter_data_mode(double now)
{
    mode_ = Mode::Data;
    // The silence before an escape counts from here.
    last_rx_ = now;
    pluses_ = 0;
}

void Modem::enter_command_mode()
{
    mode_ = Mode::Command;
    reading_command_ = false;
    prev_ = 0;
}

void Modem::data_byte(uint8_t b, double now)
{
    bool quiet_before = now >= last_rx_ + sc_.guard;
    last_rx_ = now;
    // An escape still pending here is within its guard time: settle_escape()
    // has already dropped any that waited too long.
    if (b == '+' && pluses_ > 0 && pluses_ < 3) {
        ++pluses_;
        last_plus_ = now;
        return;
    }
    // Anything else breaks an escape in progress: its pluses were data.
    release_pluses();
    if (b == '+' && quiet_before) {
        pluses_ = 1;
        last_plus_ = now;
        return;
    }
    data_.push_back(b);
}

void Modem::settle_escape(double now, Outbox &out)
{
    if (mode_ != Mode::Data || pluses_ == 0 || now < last_plus_ + sc_.guard)
        return;
    if (pluses_ < 3) {
        // Too slow for an escape: the pluses were data after all.
        release_pluses();
        pass_data(now, out);
        return;
    }
    pluses_ = 0;
    enter_command_mode();
    out.event("escape recognised");
    answer(now, out);
}

void Modem::release_pluses()
{
    data_.insert(data_.end(), static_cast<size_t>(pluses_), '+');
    pluses_ = 0;
}

void Modem::pass_data(double now, Outbox &out)
{
    if (data_.empty())
        return;
    Bytes data;
    data.swap(data_);
    remote_.feed(data.data(), data.size(), now, out);
}

void Modem::relay_remote(double now, Outbox &out)
{
    if (mode_ == Mode::Data) {
        remote_.tick(now, out);
        return;
    }
    // Off line, nothing from the far end reaches the host.
    Outbox held;
    remote_.tick(now, held);
    for (Action &a : held.actions) {
        if (a.kind == Action::Kind::Send)
            out.event("remote output dropped (command mode)");
        else if (a.kind != Action::Kind::Packet)
            out.actions.push_back(std::move(a));
    }
}

void Modem::flush_echo(Outbox &out)
{
    if (echo_.empty())
        return;
    Bytes echo;
    echo.swap(echo_);
    out.send(Speaker::Modem, std::move(echo));
}

void Modem::say(const char *text, Outbox &out)
{
    out.send(Speaker::Modem, Bytes(text, text + strlen(text)));
}
