// Receiver packets: framing as sent, get_message reading one packet from the
// line against its deadline, packet validation and the value conversions.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "packet_internal.h"
#include "peer.h"
#include "read_count.h"
#include "support.h"
#include "vendlink/io.h"

namespace {

using unit::bytes_of;
using unit::packet;

TEST(SendMsg, FramesTypeDataAndChecksum)
{
    struct Case {
        int type;
        std::string data, line;
    } cases[] = {
        {0x06, "", bytes_of({0x02, 0x00, 0x06, 0x00, 0x06, 0x03})},
        {0x4A, "", bytes_of({0x02, 0x00, 0x4A, 0x00, 0x4A, 0x03})},
        {0x82, bytes_of({0x00, 0x08, 0x00, 0x00, 0x02}),
         bytes_of({0x02, 0x00, 0x82, 0x05, 0x00, 0x08, 0x00, 0x00, 0x02, 0x91, 0x03})},
        // The checksum wraps at 256.
        {0xFF, bytes_of({0xFF, 0x03}), bytes_of({0x02, 0x00, 0xFF, 0x02, 0xFF, 0x03, 0x03, 0x03})},
        {0x10, std::string(249, '\xAB'), packet(0x10, std::string(249, '\xAB'))},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        unit::Pty pty;
        send_msg(pty.slave(), c.type, reinterpret_cast<const unsigned char *>(c.data.data()),
                 static_cast<int>(c.data.size()));
        EXPECT_EQ(pty.drain(), c.line);
    }
}

struct Received {
    int type;
    std::string data;
    long long elapsed_ms;
};

Received receive(int fd)
{
    std::vector<unsigned char> data(300, 0xEE);
    uint16_t length = 0xFFFF;
    long long start = unit::now_ms();
    Received r;
    r.type = get_message(fd, data.data(), &length);
    r.elapsed_ms = unit::now_ms() - start;
    if (length != 0xFFFF)
        r.data.assign(reinterpret_cast<char *>(data.data()), length);
    return r;
}

TEST(GetMessage, ReturnsTheTypeAndDataOfAWaitingPacket)
{
    std::string raw_status_end = packet(0x07, "ab", 0x55);
    raw_status_end.back() = '\x99';
    struct Case {
        const char *name;
        std::string line;
        int type;
        std::string data;
    } cases[] = {
        {"plain", packet(0x07, "abc"), 0x07, "abc"},
        {"noise ahead", bytes_of({0xFF, 0x03, 0x00, 0x05}) + packet(0x4B, "x"), 0x4B, "x"},
        {"status and end byte not examined", raw_status_end, 0x07, "ab"},
        {"0x93 skipped", packet(0x93, "zz") + packet(0x82, "ok"), 0x82, "ok"},
        {"type 0", packet(0x00, "q"), 0x00, "q"},
        {"empty", packet(0x92, ""), 0x92, ""},
        {"longest", packet(0x07, std::string(255, 'L')), 0x07, std::string(255, 'L')},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        unit::Pty pty;
        set_timeout(pty.slave(), 10);
        pty.send(c.line);
        Received r = receive(pty.slave());
        EXPECT_EQ(r.type, c.type);
        EXPECT_EQ(r.data, c.data);
        EXPECT_LT(r.elapsed_ms, 900);
    }
}

TEST(GetMessage, WrongChecksumReturnsZeroAtOnce)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    std::string bad = packet(0x07, "abc");
    bad[bad.size() - 2] ^= 0x01;
    pty.send(bad + packet(0x07, "next"));
    Received r = receive(pty.slave());
    EXPECT_EQ(r.type, 0);
    EXPECT_LT(r.elapsed_ms, 900);
    // Only the bad packet was taken from the line.
    r = receive(pty.slave());
    EXPECT_EQ(r.type, 0x07);
    EXPECT_EQ(r.data, "next");
}

TEST(GetMessage, WaitingPacketTakesAtMostThreeReads)
{
    for (size_t length : {0, 1, 3, 249}) {
        SCOPED_TRACE(length);
        unit::Pty pty;
        set_timeout(pty.slave(), 10);
        std::string data(length, 'd');
        pty.send(packet(0x07, data));
        unit::count_reads_on(pty.slave());
        Received r = receive(pty.slave());
        long reads = unit::reads_counted();
        EXPECT_EQ(r.type, 0x07);
        EXPECT_EQ(r.data, data);
        EXPECT_GE(reads, 1);
        EXPECT_LE(reads, 3);
    }
}

TEST(GetMessage, PacketArrivingInPiecesIsCollected)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    // A stray byte, then the start, the rest of the header, and the body
    // in two parts, each after a pause.
    std::string line = "\x01" + packet(0x07, "abcdef");
    const std::pair<size_t, size_t> pieces[] = {{0, 2}, {2, 1}, {3, 2}, {5, 3}, {8, 5}};
    std::thread feeder([&] {
        for (auto [at, n] : pieces) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            pty.send(line.substr(at, n));
        }
    });
    Received r = receive(pty.slave());
    feeder.join();
    EXPECT_EQ(r.type, 0x07);
    EXPECT_EQ(r.data, "abcdef");
}

// Slow: the deadline is five seconds (whole seconds) times the scale; here
// it ends the wait for a packet that never gets its body.
TEST(GetMessage, UnfinishedPacketReturnsZeroAtTheScaledDeadline)
{
    unit::Pty pty;
    set_timeout_scale_factor(2);
    set_timeout(pty.slave(), 10);
    pty.send(bytes_of({0x02, 0x00, 0x07, 0x40}) + "abc");
    Received r = receive(pty.slave());
    EXPECT_EQ(r.type, 0);
    EXPECT_GE(r.elapsed_ms, 10000);
    EXPECT_LE(r.elapsed_ms, 12500);
}

// Slow: bytes that never start a packet do not hold the deadline off.
TEST(GetMessage, StrayBytesUntilTheDeadlineReturnZero)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    std::atomic<bool> done{false};
    std::thread feeder([&] {
        while (!done) {
            pty.send("n\x03");
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
    });
    Received r = receive(pty.slave());
    done = true;
    feeder.join();
    EXPECT_EQ(r.type, 0);
    EXPECT_GE(r.elapsed_ms, 5000);
    EXPECT_LE(r.elapsed_ms, 6500);
}

// Slow: a skipped 0x93 packet starts a new five-second deadline.  The reply
// at seven seconds comes after the first deadline, before the second.
TEST(GetMessage, SkippedPacketStartsAFreshDeadline)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    long long start = unit::now_ms();
    std::thread feeder([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(3000));
        pty.send(packet(0x93, ""));
        std::this_thread::sleep_until(std::chrono::steady_clock::now() +
                                      std::chrono::milliseconds(start + 7000 - unit::now_ms()));
        pty.send(packet(0x4B, "late"));
    });
    Received r = receive(pty.slave());
    feeder.join();
    EXPECT_EQ(r.type, 0x4B);
    EXPECT_EQ(r.data, "late");
    EXPECT_GE(r.elapsed_ms, 6900);
}

TEST(CheckPacket, ClassifiesLengthChecksumAndFrame)
{
    auto with = [](std::string p, size_t at, int value) {
        p[at] = static_cast<char>(value);
        return p;
    };
    const std::string good = packet(0x07, "abc");
    std::string over = bytes_of({0x02, 0x00, 0x07, 250});
    struct Case {
        const char *name;
        std::string packet;
        int result;
    } cases[] = {
        {"valid", good, 0},
        {"longest valid", packet(0x07, std::string(249, 'x')), 0},
        {"empty valid", packet(0x00, ""), 0},
        {"length 250", over, 1},
        {"length 255", with(over, 3, 255), 1},
        {"checksum", with(good, 7, good[7] + 1), 2},
        {"status counted in the checksum", with(good, 1, 1), 2},
        {"end byte", with(good, 8, 0x04), 3},
        {"start byte", with(good, 0, 0x01), 3},
        {"frame before checksum", with(with(good, 8, 0), 7, 0), 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> buf(300, 0);
        memcpy(buf.data(), c.packet.data(), c.packet.size());
        EXPECT_EQ(check_packet(buf.data()), c.result);
    }
}

TEST(Conversions, Buf2ULIsBigEndian)
{
    struct Case {
        std::string bytes;
        uint32_t value;
    } cases[] = {
        {bytes_of({0x12, 0x34, 0x56, 0x78}), 0x12345678u},
        {bytes_of({0xFF, 0xFF, 0xFF, 0xFF}), 4294967295u},
        {bytes_of({0x80, 0x00, 0x00, 0x01}), 0x80000001u},
        {bytes_of({0x00, 0x00, 0x00, 0x00}), 0u},
    };
    for (const Case &c : cases)
        EXPECT_EQ(buf2UL(reinterpret_cast<const unsigned char *>(c.bytes.data())), c.value);
}

TEST(Conversions, DoublesTravelAsBigEndianBitPatterns)
{
    struct Case {
        const char *name;
        uint64_t bits;
    } cases[] = {
        {"1.0", 0x3FF0000000000000ull},
        {"-2.5", 0xC004000000000000ull},
        {"-0.0", 0x8000000000000000ull},
        {"smallest subnormal", 0x0000000000000001ull},
        {"largest", 0x7FEFFFFFFFFFFFFFull},
        {"-inf", 0xFFF0000000000000ull},
        {"NaN with payload", 0x7FF8000000000123ull},
        {"signalling NaN", 0x7FF0000000000001ull},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        double value;
        memcpy(&value, &c.bits, sizeof value);
        unsigned char buf[8];
        double2buf(buf, value);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(buf[i], static_cast<unsigned char>(c.bits >> (56 - 8 * i))) << i;
        double back = buf2double(buf);
        uint64_t back_bits;
        memcpy(&back_bits, &back, sizeof back_bits);
        EXPECT_EQ(back_bits, c.bits);
    }
}

TEST(Y2kMktime, TwoDigitYearsAreReadAcrossTheCentury)
{
    struct Case {
        int year, full_year, left;
    } cases[] = {{5, 2005, 5},   {0, 2000, 0},   {79, 2079, 79},
                 {80, 1980, 80}, {99, 1999, 99}, {105, 2005, 5}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.year);
        struct tm tm = {};
        tm.tm_year = c.year;
        tm.tm_mon = 6;
        tm.tm_mday = 15;
        tm.tm_hour = 12;
        tm.tm_isdst = -1;
        struct tm four_digit = tm;
        four_digit.tm_year = c.full_year - 1900;
        time_t t = y2k_mktime(&tm);
        EXPECT_EQ(t, mktime(&four_digit));
        struct tm back;
        ASSERT_NE(localtime_r(&t, &back), nullptr);
        EXPECT_EQ(back.tm_year + 1900, c.full_year);
        EXPECT_EQ(tm.tm_year, c.left);
    }
}

TEST(Y2kMktime, FailureOfMktimeIsPassedOn)
{
    struct tm tm = {};
    tm.tm_year = INT_MAX - 10;
    tm.tm_mon = INT_MAX;
    tm.tm_mday = 1;
    struct tm copy = tm;
    ASSERT_EQ(mktime(&copy), static_cast<time_t>(-1)) << "this libc copes with the date";
    EXPECT_EQ(y2k_mktime(&tm), static_cast<time_t>(-1));
}

}  // namespace
