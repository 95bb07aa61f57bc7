#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dump.h"
#include "frame.h"
#include "transcript.h"

namespace {

using Lines = std::vector<std::string>;

Bytes bytes_of(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

TEST(Dump, BytesAsHexAndEscapedText)
{
    const struct {
        std::string in, out;
    } cases[] = {
        {"ATH\r", "41 54 48 0d  |ATH\\r|"},
        {"AT H~", "41 54 20 48 7e  |AT H~|"},
        {"\n\t", "0a 09  |\\n\\t|"},
        {"\\|", "5c 7c  |\\\\\\||"},
        {std::string("\x00\x1f\x7f\x8a\xff", 5), "00 1f 7f 8a ff  |\\x00\\x1f\\x7f\\x8a\\xff|"},
        {"", "  ||"},
    };
    for (const auto &c : cases) {
        Bytes b = bytes_of(c.in);
        EXPECT_EQ(dump_bytes(b.data(), b.size()), c.out);
    }
}

TEST(Transcript, EntryLayout)
{
    const struct {
        double t;
        const char *tag, *content, *line;
    } cases[] = {
        {0.0, "pty", "/dev/pts/3", "   0.000  pty     /dev/pts/3\n"},
        {6.5034, "<-modem", "0d 0a", "   6.503  <-modem 0d 0a\n"},
        {4.5015, "host->", "2b", "   4.502  host->  2b\n"},
        {123.4567, "event", "escape recognised", " 123.457  event   escape recognised\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(format_entry(c.t, c.tag, c.content), c.line);
    EXPECT_EQ(format_unix_time({5, 7000}), "5.000007");
}

// A transcript that keeps its lines; the header is checked once and dropped.
struct Rig {
    Rig() : log([this](const std::string &line) { lines.push_back(line); }, timespec{1796537628, 123456789})
    {
        EXPECT_EQ(lines, (Lines{"# vendsim transcript\n", "# start 1796537628.123456\n"}));
        lines.clear();
    }
    void host(double t, const std::string &s)
    {
        Bytes b = bytes_of(s);
        log.host(t, b.data(), b.size());
    }

    Lines lines;
    Transcript log;
};

TEST(Transcript, HostBytesGroupUntilTheLineGoesQuiet)
{
    Rig rig;
    rig.host(1.0, "AT");
    rig.host(1.02, "H");
    EXPECT_DOUBLE_EQ(rig.log.next_deadline(), 1.07);
    rig.log.tick(1.069);
    EXPECT_TRUE(rig.lines.empty());
    rig.log.tick(1.07);
    EXPECT_EQ(rig.lines, Lines{"   1.000  host->  41 54 48  |ATH|\n"});
    EXPECT_EQ(rig.log.next_deadline(), kNever);
}

TEST(Transcript, HostGroupBoundaries)
{
    const std::string forty(40, 'x');
    const std::string hex32 = hex_bytes(bytes_of(forty).data(), 32);
    const struct {
        const char *why;
        std::vector<std::pair<double, std::string>> steps;
        Lines lines;
    } cases[] = {
        {"a pause splits", {{1.0, "A"}, {1.06, "B"}},
         {"   1.000  host->  41  |A|\n", "   1.060  host->  42  |B|\n"}},
        {"CR ends the entry", {{2.0, "ATH\rAT"}},
         {"   2.000  host->  41 54 48 0d  |ATH\\r|\n", "   2.000  host->  41 54  |AT|\n"}},
        {"long groups split", {{3.0, forty}},
         {"   3.000  host->  " + hex32 + "  |" + std::string(32, 'x') + "|\n",
          "   3.000  host->  78 78 78 78 78 78 78 78  |xxxxxxxx|\n"}},
    };
    for (const auto &c : cases) {
        Rig rig;
        for (const auto &s : c.steps)
            rig.host(s.first, s.second);
        rig.log.tick(100);
        EXPECT_EQ(rig.lines, c.lines) << c.why;
    }
}

TEST(Transcript, OtherEntriesFlushHostBytesFirst)
{
    Rig rig;
    rig.host(1.0, "AT");
    rig.log.sent(1.01, Speaker::Modem, bytes_of("AT"));
    rig.host(1.02, "Z");
    rig.log.event(1.03, "command ATZ");
    rig.host(1.04, "\x05");
    rig.log.sent(1.05, Speaker::Receiver, {0x06});
    rig.log.packet(1.06, "host type=0x06");
    EXPECT_EQ(rig.lines, (Lines{
                             "   1.000  host->  41 54  |AT|\n",
                             "   1.010  <-modem 41 54  |AT|\n",
                             "   1.020  host->  5a  |Z|\n",
                             "   1.030  event   command ATZ\n",
                             "   1.040  host->  05  |\\x05|\n",
                             "   1.050  <-recv  06  |\\x06|\n",
                             "   1.060  packet  host type=0x06\n",
                         }));
}

TEST(Frame, ChecksumAndDescription)
{
    EXPECT_EQ(frame_checksum(0x01, 0x06, {}), 0x07);
    EXPECT_EQ(frame_checksum(0xff, 0xff, {0xff}), 0xfe);
    EXPECT_EQ(frame_checksum(0x00, 0x00, Bytes(255, 0x01)), 0xfe);

    Frame bad_sum = make_frame(0x07, {0x41});
    bad_sum.sum ^= 0x01;
    Frame bad_end = make_frame(0x06, {});
    bad_end.end = 0x00;
    EXPECT_EQ(describe_frame("host", make_frame(0x82, {0x00, 0x08, 0x00, 0x00, 0x02})),
              "host type=0x82 len=5 data=00 08 00 00 02 sum=0x91 end=0x03 ok");
    EXPECT_EQ(describe_frame("recv", bad_sum), "recv type=0x07 len=1 data=41 sum=0x48 end=0x03 bad-sum");
    EXPECT_EQ(describe_frame("host", bad_end), "host type=0x06 len=0 data= sum=0x06 end=0x00 bad-end");
}

TEST(Frame, ReaderRoundTripsEncodedFrames)
{
    for (size_t len : {0, 1, 3, 255}) {
        Bytes data(len);
        for (size_t i = 0; i < len; ++i)
            data[i] = static_cast<uint8_t>(i * 7 + 2);  // STX and ETX inside data too
        Frame sent = make_frame(0x4b, data);
        sent.status = 0x20;
        sent.sum = frame_checksum(sent.status, sent.type, data);
        FrameReader reader;
        EXPECT_EQ(reader.push(0x00), FrameReader::Step::Outside);
        Bytes wire = encode_frame(sent);
        for (size_t i = 0; i + 1 < wire.size(); ++i)
            ASSERT_EQ(reader.push(wire[i]), FrameReader::Step::Inside) << len << "@" << i;
        ASSERT_EQ(reader.push(wire.back()), FrameReader::Step::Done) << len;
        EXPECT_EQ(reader.frame().data, data);
        EXPECT_EQ(reader.frame().status, 0x20);
        EXPECT_TRUE(reader.frame().sum_ok());
    }
}

}  // namespace
