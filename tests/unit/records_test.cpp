#include "support.h"
#include "vendlink/modem.h"

TEST(GetAck, AckNakOtherOrNone)
{
    const std::pair<std::string, int> rows[]
        = {{"\x06", RC_OK}, {"\x15", RC_NAK}, {"\x05", RC_NO_ACK}, {"", RC_NO_ACK}};
    for (const auto &[reply, rc] : rows) {
        Line line(reply);
        EXPECT_EQ(get_ack(line.port), rc) << reply.size();
    }
}

// "%8c%8c%5ld%5ld%5ld%*10c%2ld%2ld": two texts, three numbers in hundredths, ten characters
// skipped, two counts; a short record is read as far as it goes.
TEST(GetReceiverType, IdentificationRecordFields)
{
    const std::pair<std::string, std::string> rows[] = {
        {"A       B        -1234    7   +9skipped!!!1212",
         "A       |B       |-12.34 0.07 0.09|12 0"},
        {"RCV-3000SN004711123456789012345FW-01234562424",
         "RCV-3000|SN004711|123.45 678.90 123.45|24 24"},
        {"RCV-3000SN004711    1    2    3FW-01234560909 and more",
         "RCV-3000|SN004711|0.01 0.02 0.03|9 0"},
        {"RCV-3000SN004711    1    2    3FW-01234561224",
         "RCV-3000|SN004711|0.01 0.02 0.03|24 -12"},
        {"RCV-3000SN0047", "RCV-3000||0.00 0.00 0.00|0 0"},
    };
    for (const auto &[record, fields] : rows) {
        Line line(framed(0x07, record));
        Guarded text1(9);
        Guarded text2(9);
        double n[3] = {-1, -1, -1};
        long c[2] = {-1, -1};
        ASSERT_EQ(get_receiver_type(line.port, text1.data(), text2.data(), &n[0], &n[1], &n[2],
                                    &c[0], &c[1]),
                  RC_OK);
        char got[128];
        snprintf(got, sizeof got, "%s|%s|%.2f %.2f %.2f|%ld %ld", text1.data(), text2.data(), n[0],
                 n[1], n[2], c[0], c[1]);
        EXPECT_EQ(got, fields);
        EXPECT_TRUE(text1.intact() && text2.intact());
    }
}

// Byte 38 must be set and byte 44 is the receiver type, of which 3, 4 and 5 pass; the type is kept
// whatever the outcome, and a record too short to hold a byte reads it as 0.
TEST(TestReceiverConfiguration, CheckByteAndType)
{
    const std::tuple<char, int, size_t, int> rows[] = {
        // check byte, type, record length, result
        {1, 3, 45, RC_OK},      {'\xff', 5, 45, RC_OK}, {0, 4, 45, RC_FAIL},
        {1, 2, 45, RC_FAIL},    {1, 6, 45, RC_FAIL},    {1, 0x83, 45, RC_FAIL},
        {1, 0xff, 45, RC_FAIL}, {1, 4, 44, RC_FAIL},    {1, 4, 38, RC_FAIL},
    };
    for (const auto &[check, type, length, rc] : rows) {
        const std::string record = std::string(38, 7) + check + std::string(5, 7) + char(type);
        Line line(framed(0x4b, record.substr(0, length)));
        EXPECT_EQ(test_receiver_configuration(line.port), rc) << type << " " << length;
        EXPECT_EQ(ReceiverType, length > 44 ? type : 0);
    }
}
