#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "receiver.h"

namespace {

// Request bytes built by hand, so the receiver's framing is checked against
// an independent reading of the format.
Bytes request(uint8_t type, Bytes data = {}, int sum_error = 0, uint8_t end = 0x03)
{
    unsigned sum = type + data.size();
    Bytes b(data.size() + 6);
    b[0] = 0x02;
    b[2] = type;
    b[3] = static_cast<uint8_t>(data.size());
    for (size_t i = 0; i < data.size(); ++i)
        sum += b[4 + i] = data[i];
    b[b.size() - 2] = static_cast<uint8_t>(sum + sum_error);
    b[b.size() - 1] = end;
    return b;
}

const Bytes kModeData = {0x00, 0x08, 0x00, 0x00, 0x02};
const Bytes kModeQuery = request(0x82, kModeData);
const Bytes kIdentQuery = request(0x06);
const Bytes kConfigQuery = request(0x4a);

struct Reply {
    uint8_t type;
    Bytes data;
    bool ok;  // checksum and end byte right
};

// What the host would make of the bytes: frames, and a count of the rest.
std::vector<Reply> hear(const Bytes &in, size_t *noise = nullptr)
{
    std::vector<Reply> frames;
    size_t i = 0, stray = 0;
    while (i < in.size()) {
        size_t len = i + 3 < in.size() ? in[i + 3] : 0;
        if (in[i] != 0x02 || i + len + 6 > in.size()) {
            ++stray, ++i;
            continue;
        }
        Reply r{in[i + 2], Bytes(in.begin() + i + 4, in.begin() + i + 4 + len), false};
        unsigned sum = in[i + 1] + r.type + len;
        for (uint8_t b : r.data)
            sum += b;
        r.ok = in[i + 4 + len] == static_cast<uint8_t>(sum) && in[i + 5 + len] == 0x03;
        frames.push_back(r);
        i += len + 6;
    }
    if (noise)
        *noise = stray;
    return frames;
}

struct Rig {
    explicit Rig(ReceiverScenario s = {}) : sc(std::move(s)), rx(sc) {}

    // Sends the bytes at time t and returns what the receiver sent back.
    Bytes send(const Bytes &b, double t = 1.0)
    {
        out.actions.clear();
        rx.feed(b.data(), b.size(), t, out);
        return sent();
    }
    Bytes sent() const
    {
        Bytes all;
        for (const Action &a : out.actions) {
            if (a.kind == Action::Kind::Send)
                all.insert(all.end(), a.bytes.begin(), a.bytes.end());
        }
        return all;
    }
    std::string log() const
    {
        std::string s;
        for (const Action &a : out.actions) {
            if (a.kind != Action::Kind::Send)
                s += a.text + "\n";
        }
        return s;
    }

    ReceiverScenario sc;
    Receiver rx;
    Outbox out;
};

ReceiverScenario with(void (*adjust)(ReceiverScenario &))
{
    ReceiverScenario sc;
    adjust(sc);
    return sc;
}

TEST(Receiver, AnswersEachRequestType)
{
    const std::string ident = ReceiverScenario().ident;
    const struct {
        const char *what;
        ReceiverScenario sc;
        Bytes req;
        uint8_t type;
        Bytes data;
    } cases[] = {
        {"mode", {}, kModeQuery, 0x82, kModeData},
        {"monitor", with([](ReceiverScenario &s) { s.monitor = true; }), kModeQuery, 0x92, kModeData},
        {"ident", {}, kIdentQuery, 0x07, Bytes(ident.begin(), ident.end())},
        {"own ident", with([](ReceiverScenario &s) { s.ident = "ABC"; }), kIdentQuery, 0x07, {'A', 'B', 'C'}},
        {"empty config", with([](ReceiverScenario &s) { s.config_len = 0; }), kConfigQuery, 0x4b, {}},
    };
    for (const auto &c : cases) {
        Rig rig(c.sc);
        size_t noise;
        std::vector<Reply> frames = hear(rig.send(c.req), &noise);
        ASSERT_EQ(frames.size(), 1u) << c.what;
        EXPECT_EQ(noise, 0u) << c.what;
        EXPECT_EQ(frames[0].type, c.type) << c.what;
        EXPECT_EQ(frames[0].data, c.data) << c.what;
        EXPECT_TRUE(frames[0].ok) << c.what;
    }
}

TEST(Receiver, ConfigRecordCarriesCheckAndTypeWhereTheyFit)
{
    for (unsigned long len : {255, 45, 44, 39, 38}) {
        ReceiverScenario sc;
        sc.config_len = len;
        sc.config_check = 0xc1;
        sc.config_type = 0xc7;
        Rig rig(sc);
        std::vector<Reply> frames = hear(rig.send(kConfigQuery));
        ASSERT_EQ(frames.size(), 1u);
        Bytes d = frames[0].data;
        ASSERT_EQ(d.size(), len);
        d.resize(256);
        EXPECT_EQ(d[38] == 0xc1, len > 38) << len;
        EXPECT_EQ(d[44] == 0xc7, len > 44) << len;
    }
}

TEST(Receiver, EnqAnswers)
{
    const struct {
        EnqAnswer answer;
        Bytes expected;
        std::string event;
    } cases[] = {{EnqAnswer::Ack, {0x06}, "enq answered ack\n"},
                 {EnqAnswer::Nak, {0x15}, "enq answered nak\n"},
                 {EnqAnswer::Silent, {}, "enq not answered\n"}};
    for (const auto &c : cases) {
        ReceiverScenario sc;
        sc.enq = c.answer;
        Rig rig(sc);
        EXPECT_EQ(rig.send({0x05}), c.expected) << c.event;
        EXPECT_EQ(rig.log(), c.event);
    }
}

TEST(Receiver, DamagedOrUnknownRequestsGetNoAnswer)
{
    const struct {
        Bytes req;
        const char *logged;
    } cases[] = {
        {request(0x06, {}, 1), "bad-sum"},
        {request(0x06, {}, 0, 0x04), "bad-end"},
        {request(0x10), "unknown request type 0x10"},
    };
    for (const auto &c : cases) {
        Rig rig;
        EXPECT_TRUE(rig.send(c.req).empty()) << c.logged;
        EXPECT_NE(rig.log().find(c.logged), std::string::npos) << rig.log();
    }
}

TEST(Receiver, StrayBytesAndBrokenPacketsDoNotDerailIt)
{
    Rig rig;
    Bytes zeros(260, 0x00);
    zeros.push_back('x');
    EXPECT_TRUE(rig.send(zeros).empty());
    EXPECT_EQ(rig.log(), "ignored 261 bytes outside packets\n");

    // A request split over reads is answered once complete.
    EXPECT_TRUE(rig.send(Bytes(kModeQuery.begin(), kModeQuery.begin() + 6), 2.0).empty());
    EXPECT_EQ(hear(rig.send(Bytes(kModeQuery.begin() + 6, kModeQuery.end()), 2.1)).size(), 1u);

    // Half a packet is dropped once the line has gone quiet.
    rig.send({0x02, 0x00, 0x06}, 3.0);
    EXPECT_EQ(rig.send({0x05}, 4.5), Bytes{0x06});
}

TEST(Receiver, NoiseAndSlipsComeBeforeEachReply)
{
    Rig rig(with([](ReceiverScenario &s) { s.noise = 7, s.slip_93 = 2; }));
    Bytes all = rig.send(kIdentQuery);
    size_t noise;
    std::vector<Reply> frames = hear(all, &noise);
    EXPECT_EQ(noise, 7u);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(std::vector<int>({frames[0].type, frames[1].type, frames[2].type}),
              std::vector<int>({0x93, 0x93, 0x07}));
    EXPECT_TRUE(frames[0].ok && frames[1].ok && frames[2].ok);
    // The reply is the last thing sent, right after the noise.
    EXPECT_EQ(Bytes(all.end() - 51, all.end() - 48), Bytes({0x02, 0x00, 0x07}));
}

TEST(Receiver, FaultyAndHeldBackReplies)
{
    // Each entry: what the host hears for four requests in a row.
    const struct {
        const char *what;
        ReceiverScenario sc;
        std::string heard;  // '.' nothing, 'o' good reply, 'x' bad checksum
    } cases[] = {
        {"bad checksum", with([](ReceiverScenario &s) { s.bad_checksum = 2; }), "xxoo"},
        {"ignore one", with([](ReceiverScenario &s) { s.ignore_requests = 1; }), ".ooo"},
        {"ignore then bad", with([](ReceiverScenario &s) { s.ignore_requests = 1, s.bad_checksum = 1; }), ".xoo"},
        {"silent", with([](ReceiverScenario &s) { s.packets_silent = true; }), "...."},
    };
    for (const auto &c : cases) {
        Rig rig(c.sc);
        std::string heard;
        for (int i = 0; i < 4; ++i) {
            std::vector<Reply> frames = hear(rig.send(kModeQuery, 1.0 + i));
            heard += frames.empty() ? '.' : frames[0].ok ? 'o' : 'x';
        }
        EXPECT_EQ(heard, c.heard) << c.what;
        EXPECT_EQ(rig.send({0x05}, 9.0), Bytes{0x06}) << c.what << ": ENQ is not a packet request";
    }
}

TEST(Receiver, DelayedReplyWaitsAndResetCancelsIt)
{
    Rig rig(with([](ReceiverScenario &s) { s.reply_delay = 0.5; }));
    EXPECT_TRUE(rig.send(kIdentQuery, 1.0).empty());
    EXPECT_DOUBLE_EQ(rig.rx.next_deadline(), 1.5);
    rig.rx.tick(1.49, rig.out);
    EXPECT_TRUE(rig.sent().empty());
    rig.rx.tick(1.5, rig.out);
    EXPECT_EQ(hear(rig.sent()).size(), 1u);
    EXPECT_EQ(rig.rx.next_deadline(), kNever);

    rig.send(kIdentQuery, 2.0);
    rig.rx.reset();
    rig.rx.tick(3.0, rig.out);
    EXPECT_TRUE(rig.sent().empty());
}

}  // namespace
