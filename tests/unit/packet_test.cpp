#include <algorithm>
#include <ctime>

#include "support.h"

// Every packet the ring gives up now, framed again with status 0; the data comes in a buffer of the
// 249 bytes the largest needs.
static std::string taken()
{
    std::string got;
    Guarded data(249);
    int type = -1;
    int length = -1;
    while (is_msg_in_buffer(data.udata(), &type, &length) == 1 && data.intact())
        got += framed(type, data.substr(0, static_cast<size_t>(length)));
    return got;
}

static int put(const std::string &bytes)
{
    return write_buffer(reinterpret_cast<const unsigned char *>(bytes.data()), int(bytes.size()));
}

static std::string changed(std::string bytes, size_t at, char to)
{
    bytes.at(at) = to;
    return bytes;
}

TEST(Ring, HuntsValidPacketsAmongOtherBytes)
{
    const std::string a = framed(0x07, "abc");
    const std::string b = framed(0x4b, std::string(249, '\x02'));
    const std::pair<std::string, std::string> rows[] = {
        // written, taken
        {"noise" + a + "\x03\x03" + b, a + b},
        {changed(a, 7, a[7] ^ 1) + a, a},  // a damaged candidate costs only its 0x02
        {changed(a, 8, 0x04) + b, b},
        {std::string("\x02\x00\x07\xfa", 4) + a, a},  // length 250: no start byte
        {framed(0x82, "x", 0x55), framed(0x82, "x")},
        {a.substr(0, 5), ""},  // an unfinished packet waits for the rest
        {a.substr(5), a},
    };
    for (const auto &[written, out] : rows) {
        EXPECT_EQ(put(written), static_cast<int>(written.size()));
        EXPECT_EQ(taken(), out);
    }
}

TEST(Ring, EveryLengthComesBackWholeWhereverTheRingEndCutsIt)
{
    unsigned head = 0;  // where the ring stores its next byte
    for (int length = 0; length <= 249; ++length) {
        std::string data(static_cast<size_t>(length), '\0');
        std::generate(data.begin(), data.end(), [i = length]() mutable { return char(i += 7); });
        const std::string p = framed(length, data);
        for (unsigned cut = 1; cut < p.size(); ++cut) {          // bytes of it before the end
            put(std::string((8192 - cut - head) % 8192, '\0'));  // filler, no start byte
            ASSERT_EQ(taken(), "");
            put(p);
            ASSERT_EQ(taken(), p) << "length " << length << ", cut " << cut;
            head = (8192 - cut + p.size()) % 8192;
        }
    }
}

// Filled from its start and then from its last byte on, the ring takes 8191 bytes and says the rest
// did not fit: on the stream set, and on standard error once that is unset.
TEST(Ring, HoldsAtMost8191BytesAndSaysSoOnTheStreamSet)
{
    const auto fill = [] { EXPECT_EQ(put(std::string(8192, 'x')), 8191); };
    set_stderr(stdout);
    EXPECT_EQ(get_stderr(), stdout);
    EXPECT_EQ(output_of(2, [&] { EXPECT_EQ(output_of(1, fill), "\nBuffer full\n"); }), "");
    taken();
    set_stderr(nullptr);
    EXPECT_EQ(get_stderr(), stderr);
    EXPECT_EQ(output_of(2, fill), "\nBuffer full\n");
}

// The first good packet at once, even with a read timeout of 0; on a silent line, 0 once the
// whole-second clock is past the five-second deadline, and no CPU spent on it.
TEST(GetMessage, FirstGoodPacketAtOnceOrNothingAtTheDeadlineWithoutSpinning)
{
    const std::tuple<std::string, int, std::string, int> rows[] = {
        // the line, type, data, seconds
        {"\x01\x03" + framed(0x07, std::string(255, 'i')), 0x07, std::string(255, 'i'), 0},
        {changed(framed(0x4b, "any status and end", 0x42), 23, 'Z'), 0x4b, "any status and end", 0},
        {framed(0x93, "stray") + framed(0x82, "mode"), 0x82, "mode", 0},
        {framed(0x00, "zero"), 0, "", 0},  // a valid type 0 reads as a failure
        {changed(framed(0x07, "x"), 5, 'x') + framed(0x07, "y"), 0, "", 0},
        {"", 0, "", 6},
    };
    for (const auto &[bytes, type, expected, seconds] : rows) {
        Line line(bytes);
        set_timeout(line.port, 0);
        Guarded data(255);
        uint16_t length = 0;
        const time_t start = time(nullptr);
        const clock_t cpu = clock();
        EXPECT_EQ(get_message(line.port, data.udata(), &length), type);
        const time_t took = time(nullptr) - start;
        EXPECT_TRUE(seconds == 0 ? took <= 1 : took == seconds) << took;
        EXPECT_LT(clock() - cpu, CLOCKS_PER_SEC / 4);  // spinning, the call would burn seconds
        EXPECT_TRUE(data.intact() && (type == 0 || data.substr(0, length) == expected));
    }
}

TEST(Conversions, BigEndianIntegersAndDoublesAndTwoDigitYears)
{
    EXPECT_EQ(buf2UL(reinterpret_cast<const unsigned char *>("\x12\x34\x56\x78")), 0x12345678u);
    EXPECT_EQ(buf2UL(reinterpret_cast<const unsigned char *>("\xff\xff\xff\xff")), 4294967295u);
    const std::pair<double, std::string> rows[] = {{1.0, std::string("\x3f\xf0\0\0\0\0\0\0", 8)},
                                                   {-2.5, std::string("\xc0\x04\0\0\0\0\0\0", 8)},
                                                   {1.0 / 3, "\x3f\xd5\x55\x55\x55\x55\x55\x55"}};
    for (const auto &[value, bytes] : rows) {
        Guarded buf(8);
        double2buf(buf.udata(), value);
        EXPECT_EQ(buf, bytes + std::string(16, '\xa5'));  // and nothing behind it
        EXPECT_EQ(buf2double(buf.udata()), value);
    }
    // A two-digit year below 80 is in the 2000s; the caller's tm keeps its year.
    for (int year : {5, 99, 105}) {
        tm t = {};
        t.tm_year = year;
        t.tm_mday = 1;
        t.tm_isdst = -1;
        const time_t at = y2k_mktime(&t);
        EXPECT_EQ(localtime(&at)->tm_year, year < 80 ? year + 100 : year) << year;
        EXPECT_EQ(t.tm_year, year % 100);
    }
}
