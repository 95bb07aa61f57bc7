#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "modem.h"

namespace {

const std::string kOk = "\r\nOK\r\n";

// Stands in for the far end of the call: records what reaches it and can
// be told to send something at a given time.
class FakeRemote : public Personality {
public:
    void start(double, Outbox &) override { ++starts; }
    void feed(const uint8_t *p, size_t n, double, Outbox &) override { got.append((const char *)p, n); }
    void tick(double now, Outbox &out) override
    {
        if (now >= send_at) {
            out.send(Speaker::Receiver, {'R'});
            send_at = kNever;
        }
    }
    double next_deadline() const override { return send_at; }
    void reset() override { ++resets; }

    std::string got;
    int starts = 0, resets = 0;
    double send_at = kNever;
};

// A modem with a fake remote, fed and ticked at chosen times.
struct Rig {
    explicit Rig(ModemScenario s = {}) : sc(std::move(s)), modem(sc, remote) { modem.start(0, out); }

    void type(const std::string &s, double t) { modem.feed((const uint8_t *)s.data(), s.size(), t, out); }
    void at(double t) { modem.tick(t, out); }
    // What the speaker wrote since the last call; events are kept.
    std::string said(Speaker who = Speaker::Modem)
    {
        std::string s;
        for (const Action &a : out.actions) {
            if (a.kind == Action::Kind::Send && a.speaker == who)
                s.append(a.bytes.begin(), a.bytes.end());
            if (a.kind == Action::Kind::Event)
                events.push_back(a.text);
            closed |= a.kind == Action::Kind::Close;
        }
        out.actions.clear();
        return s;
    }
    bool logged(const std::string &event)
    {
        said();
        return std::find(events.begin(), events.end(), event) != events.end();
    }

    ModemScenario sc;
    FakeRemote remote;
    Modem modem;
    Outbox out;
    std::vector<std::string> events;
    bool closed = false;
};

ModemScenario with(void (*adjust)(ModemScenario &))
{
    ModemScenario sc;
    adjust(sc);
    return sc;
}

const ModemScenario kConnected = with([](ModemScenario &s) { s.connected = true; });

TEST(ModemCommands, EchoAndAnswers)
{
    const struct {
        std::string input;
        bool echo;
        std::string expected;
    } cases[] = {
        {"ATH\r", true, "ATH\r" + kOk},
        {"ATH\r", false, kOk},
        {"at&f\r", true, "at&f\r" + kOk},
        {"+++ATH\r", true, "+++ATH\r" + kOk},  // the pluses before AT are noise
        {"AAT\r", false, kOk},
        {"xyz\r", true, "xyz\r"},              // no AT: not a command
        {"HT\r", true, "HT\r"},
        {"ATH", true, "ATH"},                  // no CR yet
        {"ATZ\rATH0\r", true, "ATZ\r" + kOk + "ATH0\r" + kOk},
    };
    for (const auto &c : cases) {
        ModemScenario sc;
        sc.echo = c.echo;
        Rig rig(sc);
        rig.type(c.input, 1.0);
        EXPECT_EQ(rig.said(), c.expected) << c.input;
    }
}

TEST(ModemCommands, ReplyModes)
{
    const struct {
        ReplyMode mode;
        std::string expected;  // to two commands in one write
        bool closes;
    } cases[] = {
        {ReplyMode::Ok, kOk + kOk, false},
        {ReplyMode::Silent, "", false},
        {ReplyMode::Garbage, "\r\n\x7f#$%&\x01\x8a?\r\n\r\n\x7f#$%&\x01\x8a?\r\n", false},
        {ReplyMode::Vanish, "", true},
    };
    for (const auto &c : cases) {
        ModemScenario sc;
        sc.echo = false;
        sc.reply = c.mode;
        Rig rig(sc);
        rig.type("ATZ\rATZ\r", 1.0);
        EXPECT_EQ(rig.said(), c.expected) << int(c.mode);
        EXPECT_EQ(rig.closed, c.closes) << int(c.mode);
        EXPECT_EQ(rig.events.size(), c.closes ? 1u : 2u) << "a vanished modem reads no more";
    }
}

TEST(ModemCommands, LateReplyComesOnlyWhenDue)
{
    Rig rig(with([](ModemScenario &s) { s.reply = ReplyMode::Late, s.late = 0.5, s.echo = false; }));
    rig.type("ATH\r", 1.0);
    EXPECT_DOUBLE_EQ(rig.modem.next_deadline(), 1.5);
    rig.at(1.49);
    EXPECT_EQ(rig.said(), "");
    rig.at(1.5);
    EXPECT_EQ(rig.said(), kOk);
    EXPECT_EQ(rig.modem.next_deadline(), kNever);
}

TEST(ModemDial, ResultsAfterTheDelay)
{
    const struct {
        DialResult result;
        std::string speed, expected;
        bool online;
    } cases[] = {
        {DialResult::Connect, "2400", "\r\nCONNECT 2400\r\n", true},
        {DialResult::Connect, "", "\r\nCONNECT\r\n", true},
        {DialResult::Busy, "9600", "\r\nBUSY\r\n", false},
        {DialResult::NoCarrier, "9600", "\r\nNO CARRIER\r\n", false},
        {DialResult::Silent, "9600", "", false},
    };
    for (const auto &c : cases) {
        ModemScenario sc;
        sc.echo = false;
        sc.dial = c.result;
        sc.speed = c.speed;
        Rig rig(sc);
        rig.type("ATDT5551234\r", 1.0);
        rig.type("ATH\r", 2.0);  // lost: the modem is busy dialing
        rig.at(2.99);
        EXPECT_EQ(rig.said(), "") << c.expected;
        rig.at(3.0);
        EXPECT_EQ(rig.said(), c.expected);
        EXPECT_TRUE(rig.logged("dial 5551234"));
        EXPECT_EQ(rig.modem.in_data_mode() && rig.modem.call_up(), c.online) << c.expected;
        EXPECT_EQ(rig.remote.starts + rig.remote.resets, c.online ? 2 : 0) << c.expected;
        // Back in command mode unless connected: the next command is heard.
        rig.type("ATZ\r", 4.0);
        EXPECT_EQ(rig.said(), c.online ? "" : kOk) << c.expected;
        EXPECT_EQ(rig.remote.got, c.online ? "ATZ\r" : "") << c.expected;
    }
}

TEST(ModemEscape, GuardedPlusesReturnToCommandMode)
{
    Rig rig(kConnected);
    ASSERT_TRUE(rig.modem.in_data_mode());
    rig.type("+", 2.0);
    rig.type("+", 2.4);
    rig.type("+", 2.8);
    EXPECT_DOUBLE_EQ(rig.modem.next_deadline(), 3.8);
    rig.at(3.79);
    EXPECT_TRUE(rig.modem.in_data_mode());
    rig.at(3.8);
    EXPECT_FALSE(rig.modem.in_data_mode());
    EXPECT_TRUE(rig.modem.call_up());
    EXPECT_EQ(rig.said(), kOk);
    EXPECT_TRUE(rig.logged("escape recognised"));
    EXPECT_EQ(rig.remote.got, "");
    EXPECT_EQ(rig.modem.next_deadline(), kNever);

    // A plus a full guard after a lone one starts a fresh escape.
    Rig again(kConnected);
    again.type("+", 2.0);
    again.type("+", 3.1);
    again.type("++", 3.2);
    again.at(4.2);
    EXPECT_FALSE(again.modem.in_data_mode());
    EXPECT_EQ(again.remote.got, "+");
}

TEST(ModemEscape, PlusesThatFailAreData)
{
    const struct {
        const char *why;
        std::vector<std::pair<double, std::string>> steps;
        std::string remote_gets;
    } cases[] = {
        {"no silence before", {{1.5, "x"}, {2.0, "+++"}}, "x+++"},
        {"no silence after", {{2.0, "+++"}, {2.5, "A"}}, "+++A"},
        {"one write with more", {{2.0, "+++ATH\r"}}, "+++ATH\r"},
        {"too few", {{2.0, "++"}}, "++"},
        {"too many", {{2.0, "++++"}}, "++++"},
        {"too far apart", {{2.0, "+"}, {3.5, "+"}, {3.6, "x"}}, "++x"},
    };
    for (const auto &c : cases) {
        Rig rig(kConnected);
        for (const auto &s : c.steps)
            rig.type(s.second, s.first);
        rig.at(10.0);
        EXPECT_TRUE(rig.modem.in_data_mode()) << c.why;
        EXPECT_EQ(rig.remote.got, c.remote_gets) << c.why;
        EXPECT_EQ(rig.said(), "") << c.why;
        EXPECT_EQ(rig.modem.next_deadline(), kNever) << c.why;
    }
}

TEST(ModemCall, OnlineAndHangUpAfterEscape)
{
    Rig rig(kConnected);
    rig.type("+++", 1.0);
    rig.at(2.0);
    rig.type("ATO\r", 2.5);
    EXPECT_EQ(rig.said(), kOk + "ATO\r\r\nCONNECT 9600\r\n");
    rig.type("data", 2.6);
    EXPECT_EQ(rig.remote.got, "data");

    rig.type("+++", 4.0);
    rig.at(5.0);
    rig.type("ATH\r", 5.5);
    EXPECT_EQ(rig.said(), kOk + "ATH\r" + kOk);
    EXPECT_TRUE(rig.logged("hang-up"));
    EXPECT_FALSE(rig.modem.call_up());
    EXPECT_EQ(rig.remote.resets, 1);
    rig.type("ATO\r", 6.0);
    EXPECT_EQ(rig.said(), "ATO\r\r\nNO CARRIER\r\n");
    EXPECT_FALSE(rig.modem.in_data_mode());
}

TEST(ModemCall, RemoteOutputOnlyReachesTheHostInDataMode)
{
    Rig rig(kConnected);
    rig.remote.send_at = 0.2;
    EXPECT_DOUBLE_EQ(rig.modem.next_deadline(), 0.2);
    rig.at(0.2);
    EXPECT_EQ(rig.said(Speaker::Receiver), "R");

    rig.type("+++", 1.0);
    rig.at(2.0);
    rig.remote.send_at = 2.5;
    rig.at(2.5);
    EXPECT_EQ(rig.said(Speaker::Receiver), "");
    EXPECT_TRUE(rig.logged("remote output dropped (command mode)"));
}

}  // namespace
