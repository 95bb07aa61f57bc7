// The receiver link over a pty, with a peer thread playing the receiver:
// the ENQ/ACK handshake, the remote-monitor, identification and
// configuration queries, and the link test that combines them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "peer.h"
#include "support.h"
#include "vendlink/io.h"
#include "vendlink/modem.h"

namespace {

using unit::bytes_of;
using unit::packet;
using unit::Peer;
using unit::Sent;

const std::string ACK = "\x06", NAK = "\x15";
const std::string mode_request = bytes_of({0x02, 0x00, 0x82, 0x05, 0x00, 0x08, 0x00, 0x00, 0x02, 0x91, 0x03});
const std::string ident_request = bytes_of({0x02, 0x00, 0x06, 0x00, 0x06, 0x03});
const std::string config_request = bytes_of({0x02, 0x00, 0x4A, 0x00, 0x4A, 0x03});
const std::string zero_block(260, '\0');
const std::string testing_link = "Testing communications link...wait.\n";

// A pty whose slave has the port's one-second read timeout.
struct Line : unit::Pty {
    Line() { set_timeout(slave(), 10); }
    int fd() const { return slave(); }
};

// The receiver answers ENQ with `enq` and each packet with `reply`.
unit::Answer receiver(std::string enq, std::function<std::string(size_t packet_index)> reply)
{
    auto packets = std::make_shared<size_t>(0);
    return [=](const Sent &s, size_t) {
        return s.kind == Sent::enq ? enq : reply((*packets)++);
    };
}

TEST(GetAck, ClassifiesTheReceiversAnswer)
{
    struct Case {
        std::string answer;
        int result;
        long long min_ms, max_ms;
    } cases[] = {
        {ACK, RC_OK, 0, 500},
        {NAK, RC_NAK, 0, 500},
        {"\x05", RC_NO_ACK, 0, 500},
        {"", RC_NO_ACK, 950, 2000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.answer.empty() ? -1 : c.answer[0]));
        Line line;
        line.send(c.answer);
        long long start = unit::now_ms();
        EXPECT_EQ(get_ack(line.fd()), c.result);
        long long elapsed = unit::now_ms() - start;
        EXPECT_GE(elapsed, c.min_ms);
        EXPECT_LE(elapsed, c.max_ms);
    }
}

TEST(EstablishComm, AckAtOnceAfterClearingTheLine)
{
    Line line;
    Peer peer(line, Peer::receiver, receiver(ACK, [](size_t) { return ""; }));
    long long start = unit::now_ms();
    unit::CaptureFd err(2);
    int rc = establish_comm(line.fd());
    std::string text = err.finish();
    peer.stop();
    EXPECT_EQ(rc, RC_OK);
    EXPECT_EQ(text, testing_link);
    EXPECT_EQ(peer.bytes(), zero_block + "\x05");
    ASSERT_EQ(peer.sent().size(), 1u);
    EXPECT_GE(peer.sent()[0].at_ms - start, 450) << "the line is drained for half a second";
    EXPECT_LT(unit::now_ms() - start, 1500);
}

// A failed try lasts at least the read timeout, however fast the answer.
TEST(EstablishComm, FailedTryIsFollowedByAnotherAfterTheReadTimeout)
{
    for (const std::string &first : {NAK, std::string("x"), std::string()}) {
        SCOPED_TRACE(first.empty() ? "silence" : first);
        Line line;
        Peer peer(line, Peer::receiver,
                  [&](const Sent &, size_t i) { return i == 0 ? first : ACK; });
        unit::CaptureFd err(2);
        int rc = establish_comm(line.fd());
        std::string text = err.finish();
        peer.stop();
        EXPECT_EQ(rc, RC_OK);
        EXPECT_EQ(text, testing_link + "...and wait\n");
        ASSERT_EQ(peer.count(Sent::enq), 2u);
        long long gap = peer.sent()[1].at_ms - peer.sent()[0].at_ms;
        EXPECT_GE(gap, 950);
        EXPECT_LT(gap, 1700);
    }
}

// Slow (30 s): the only test of the handshake's limit.  The timeout scale
// makes each try two seconds but leaves the limit at 30 s.
TEST(TestCommLink, SilentReceiverFailsTheHandshakeAfter30SecondsWhateverTheScale)
{
    Line line;
    set_timeout_scale_factor(2);
    set_timeout(line.fd(), 10);
    Peer peer(line, Peer::receiver, [](const Sent &, size_t) { return ""; });
    long long start = unit::now_ms(), cpu = unit::cpu_ms();
    unit::CaptureFd err(2);
    int rc = test_comm_link(line.fd());
    std::string text = err.finish();
    long long elapsed = unit::now_ms() - start;
    long long cpu_used = unit::cpu_ms() - cpu;
    peer.stop();

    EXPECT_EQ(rc, RC_NO_LINK);
    int tries = static_cast<int>(peer.count(Sent::enq));
    EXPECT_GE(tries, 14);
    EXPECT_LE(tries, 16);
    std::string waits;
    for (int i = 0; i < tries; ++i)
        waits += "...and wait\n";
    EXPECT_EQ(text, testing_link + waits +
                        "Could not establish communication with remote receiver.\n");
    EXPECT_EQ(peer.bytes(), zero_block + std::string(static_cast<size_t>(tries), '\x05'));
    EXPECT_GE(elapsed, 1000 + 29000);
    EXPECT_LE(elapsed, 1000 + 33000);
    EXPECT_LT(cpu_used, 300);
}

std::string config_record(int check, int type, size_t length = 45)
{
    std::string data(length, 'c');
    if (length > 38)
        data[38] = static_cast<char>(check);
    if (length > 44)
        data[44] = static_cast<char>(type);
    return data;
}

TEST(TestCommLink, ConfigurationDecidesOnceTheLinkIsUp)
{
    const std::string both = testing_link + "Testing receiver configuration\n";
    struct Case {
        const char *name;
        std::string reply;
        int result;
        std::string text;
    } cases[] = {
        {"accepted", packet(0x4B, config_record(1, 4)), RC_OK, both},
        {"refused", packet(0x4B, config_record(1, 6)), RC_BAD_CONFIG, both},
        {"no reply", packet(0x10, ""), RC_BAD_CONFIG, both + "Could not retrieve receiver config.\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Line line;
        Peer peer(line, Peer::receiver, receiver(ACK, [&](size_t) { return c.reply; }));
        unit::CaptureFd err(2);
        EXPECT_EQ(test_comm_link(line.fd()), c.result);
        EXPECT_EQ(err.finish(), c.text);
        peer.stop();
        EXPECT_GE(peer.count(Sent::packet, 0x4A), 1u);
    }
}

// A query whose every attempt gets a packet of the wrong type: ten requests
// with the line cleared between them.  Fast: the peer answers at once.
void expect_ten_attempts(int (*query)(int), const std::string &request, int result,
                         const std::string &message)
{
    Line line;
    Peer peer(line, Peer::receiver, receiver(ACK, [](size_t) { return packet(0x10, "no"); }));
    unit::CaptureFd err(2);
    EXPECT_EQ(query(line.fd()), result);
    EXPECT_EQ(err.finish(), message);
    peer.stop();
    ASSERT_EQ(peer.sent().size(), 10u);
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ(peer.sent()[i].zeros_before, i * 260) << i;
    EXPECT_EQ(peer.zeros(), 9u * 260);
    std::string expected;
    for (int i = 0; i < 10; ++i)
        expected += (i > 0 ? zero_block : "") + request;
    EXPECT_EQ(peer.bytes(), expected);
}

TEST(ReceiverInMonitor, GivesUpAfterTenAttempts)
{
    expect_ten_attempts(receiver_in_monitor, mode_request, RC_NO_ACK, "");
}

int ident_query(int fd)
{
    char t1[9], t2[9];
    double n1, n2, n3;
    long c1, c2;
    return get_receiver_type(fd, t1, t2, &n1, &n2, &n3, &c1, &c2);
}

TEST(GetReceiverType, GivesUpAfterTenAttempts)
{
    expect_ten_attempts(ident_query, ident_request, RC_NO_ACK, "");
}

TEST(TestReceiverConfiguration, GivesUpAfterTenAttemptsLeavingTheType)
{
    ReceiverType = 42;
    expect_ten_attempts(test_receiver_configuration, config_request, RC_NO_CONFIG,
                        "Could not retrieve receiver config.\n");
    EXPECT_EQ(ReceiverType, 42);
}

TEST(ReceiverInMonitor, ModeReplyDecides)
{
    const std::string monitor = "Receiver is in REMOTE MONITOR.\n";
    struct Case {
        std::vector<int> replies;  // the last one repeats
        int result;
        std::string text;
        size_t requests;
    } cases[] = {
        {{0x82}, RC_OK, "", 1},
        {{0x92}, RC_REMOTE_MONITOR, monitor, 1},
        {{0x10, 0x92}, RC_REMOTE_MONITOR, monitor, 2},
        {{0x10, 0x07, 0x82}, RC_OK, "", 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.replies.back());
        Line line;
        Peer peer(line, Peer::receiver, receiver(ACK, [&](size_t i) {
            return packet(c.replies[std::min(i, c.replies.size() - 1)], "");
        }));
        unit::CaptureFd err(2);
        EXPECT_EQ(receiver_in_monitor(line.fd()), c.result);
        EXPECT_EQ(err.finish(), c.text);
        peer.stop();
        EXPECT_EQ(peer.count(Sent::packet, 0x82), c.requests);
        EXPECT_EQ(peer.zeros(), (c.requests - 1) * 260);
        EXPECT_EQ(peer.bytes().substr(0, mode_request.size()), mode_request);
    }
}

struct Identity {
    std::vector<char> text1 = std::vector<char>(9, 'Z'), text2 = text1;  // the size callers give
    double n1 = 999, n2 = 999, n3 = 999;
    long c1 = 999, c2 = 999;
    int result = 999;
};

// Asks for the identification once per record, the calls back to back: the
// reply of one lies in the same stack memory as the one before it, so a read
// past the received data would show the earlier record.
std::vector<Identity> identify(Line &line, const std::vector<std::string> &records)
{
    Peer peer(line, Peer::receiver,
              [&](const Sent &, size_t i) { return packet(0x07, records.at(i)); });
    std::vector<Identity> ids(records.size());
    for (Identity &id : ids)
        id.result = get_receiver_type(line.fd(), id.text1.data(), id.text2.data(), &id.n1,
                                      &id.n2, &id.n3, &id.c1, &id.c2);
    peer.stop();
    for (Identity &id : ids) {
        EXPECT_EQ(id.text1[8], '\0');
        EXPECT_EQ(id.text2[8], '\0');
    }
    return ids;
}

const std::string full_record = "RECEIVERSN00471100235 0120-0045XXXXXXXXXX";

TEST(GetReceiverType, LastTwoFieldsGiveTheCounts)
{
    struct Case {
        const char *f7f8;
        long c1, c2;
    } cases[] = {
        {"2412", 12, 12}, {"1212", 12, 0}, {"2424", 24, 24}, {"0909", 9, 0}, {"1224", 24, -12},
    };
    Line line;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.f7f8);
        Identity id = identify(line, {full_record + c.f7f8})[0];
        EXPECT_EQ(id.result, RC_OK);
        EXPECT_STREQ(id.text1.data(), "RECEIVER");
        EXPECT_STREQ(id.text2.data(), "SN004711");
        EXPECT_DOUBLE_EQ(id.n1, 2.35);
        EXPECT_DOUBLE_EQ(id.n2, 1.20);
        EXPECT_DOUBLE_EQ(id.n3, -0.45);
        EXPECT_EQ(id.c1, c.c1);
        EXPECT_EQ(id.c2, c.c2);
    }
}

// Every length of record, cut short or with a NUL byte at the cut: texts
// are whole or empty, numbers read as scanf reads them, and nothing of an
// earlier, longer reply shows through.
TEST(GetReceiverType, ShortRecordsAreReadAsFarAsTheyGo)
{
    const std::string record = full_record + "2412";
    Line line;
    for (size_t length = 45; length-- > 0;) {
        std::string cut = record.substr(0, length);
        std::string with_nul = cut + '\0' + record.substr(length + 1);
        // The numbers as sscanf reads the text up to the cut.
        long f[5] = {0, 0, 0, 0, 0};
        char scratch[2][9];
        sscanf(cut.c_str(), "%8c%8c%5ld%5ld%5ld%*10c%2ld%2ld", scratch[0], scratch[1], &f[0],
               &f[1], &f[2], &f[3], &f[4]);
        std::vector<Identity> ids = identify(line, {record, cut, with_nul});
        for (size_t i = 1; i < ids.size(); ++i) {
            SCOPED_TRACE(std::to_string(length) + (i == 2 ? " + NUL" : ""));
            const Identity &id = ids[i];
            EXPECT_EQ(id.result, RC_OK);
            EXPECT_EQ(std::string(id.text1.data()), length >= 8 ? record.substr(0, 8) : "");
            EXPECT_EQ(std::string(id.text2.data()), length >= 16 ? record.substr(8, 8) : "");
            EXPECT_DOUBLE_EQ(id.n1, f[0] * 0.01);
            EXPECT_DOUBLE_EQ(id.n2, f[1] * 0.01);
            EXPECT_DOUBLE_EQ(id.n3, f[2] * 0.01);
            EXPECT_EQ(id.c1, f[4]);
            EXPECT_EQ(id.c2, f[3] - f[4] == 0 && f[3] > 12 ? f[3] : f[3] - f[4]);
        }
    }
}

struct Configured {
    int result;
    int type;  // ReceiverType afterwards
};

// Runs the configuration test once per record, back to back (see identify).
std::vector<Configured> configure(Line &line, const std::vector<std::string> &records)
{
    Peer peer(line, Peer::receiver,
              [&](const Sent &, size_t i) { return packet(0x4B, records.at(i)); });
    std::vector<Configured> results(records.size());
    for (Configured &r : results) {
        ReceiverType = 77;
        r.result = test_receiver_configuration(line.fd());
        r.type = ReceiverType;
    }
    peer.stop();
    std::string requests;
    for (size_t i = 0; i < records.size(); ++i)
        requests += config_request;
    EXPECT_EQ(peer.bytes(), requests);
    return results;
}

TEST(TestReceiverConfiguration, TypeAndCheckByteDecide)
{
    struct Case {
        int check, type, result;
        size_t length;
    } cases[] = {
        {1, 3, RC_OK, 45},   {1, 4, RC_OK, 45},     {0xFF, 5, RC_OK, 45},  {1, 4, RC_OK, 249},
        {1, 0, RC_FAIL, 45}, {1, 6, RC_FAIL, 45},   {1, 255, RC_FAIL, 45}, {1, 2, RC_FAIL, 45},
        {0, 4, RC_FAIL, 45}, {0, 3, RC_FAIL, 100},
    };
    Line line;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.check) + "/" + std::to_string(c.type));
        Configured r = configure(line, {config_record(c.check, c.type, c.length)})[0];
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(r.type, c.type);
    }
}

// Records too short for the type byte fail and leave no type, also right
// after a full record whose bytes an overrun would pick up.
TEST(TestReceiverConfiguration, ShortRecordHasNoTypeAndFails)
{
    Line line;
    for (size_t length = 45; length-- > 0;) {
        SCOPED_TRACE(length);
        std::vector<Configured> r =
            configure(line, {config_record(1, 4), config_record(1, 4).substr(0, length)});
        EXPECT_EQ(r[0].result, RC_OK);
        EXPECT_EQ(r[0].type, 4);
        EXPECT_EQ(r[1].result, RC_FAIL);
        EXPECT_EQ(r[1].type, 0);
    }
}

}  // namespace
