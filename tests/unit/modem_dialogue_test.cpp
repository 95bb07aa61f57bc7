// The text dialogue with the modem over a pty: commands, reply lines, the
// matching rule, waiting for an answer, and the hang-up.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "modem_internal.h"
#include "support.h"
#include "vendlink/io.h"
#include "vendlink/modem.h"

namespace {

TEST(ReplyMatches, AllButTheLastCharacterOfTheExpectedText)
{
    struct Case {
        const char *line, *expected;
        bool match;
    } cases[] = {
        {"OK", "OK", true},
        {"O", "OK", true},
        {"Oops", "OK", true},
        {"K", "OK", false},
        {"", "OK", false},
        {"ok", "OK", false},
        {"CONNECT 9600", "CONNECT", true},
        {"CONNEC", "CONNECT", true},
        {"CONNXCT", "CONNECT", false},
        {"anything", "X", true},
        {"", "X", true},
        {"", "", true},
        {"OK", "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("[") + c.line + "] against [" + c.expected + "]");
        EXPECT_EQ(reply_matches(c.line, c.expected), c.match);
    }
}

std::vector<std::string> read_lines(int fd, int count, int size = MODEM_LINE_SIZE)
{
    std::vector<std::string> lines;
    std::vector<char> buf(static_cast<size_t>(size));
    for (int i = 0; i < count; ++i)
        lines.push_back(read_modem_line(fd, size, buf.data()));
    return lines;
}

TEST(ReadModemLine, CarriageReturnAndLineFeedEachEndALine)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    pty.send("\r\nOK\r\n");
    long long start = unit::now_ms();
    EXPECT_EQ(read_lines(pty.slave(), 4), (std::vector<std::string>{"", "", "OK", ""}));
    EXPECT_LT(unit::now_ms() - start, 1000);
}

TEST(ReadModemLine, LongReplyComesBackInPiecesOfTheBufferSize)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    pty.send(std::string(100, 'A') + "\rOK\r");
    EXPECT_EQ(read_lines(pty.slave(), 3),
              (std::vector<std::string>{std::string(79, 'A'), std::string(21, 'A'), "OK"}));
}

TEST(ReadModemLine, BufferOfOneByteIsEmptiedAndNothingRead)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    pty.send("OK\r");
    std::vector<char> one(1, 'X');
    EXPECT_EQ(read_modem_line(pty.slave(), 1, one.data()), one.data());
    EXPECT_EQ(one[0], '\0');
    EXPECT_EQ(read_lines(pty.slave(), 1), std::vector<std::string>{"OK"});
}

// Slow: the line ends once the modem has been quiet for five seconds.
TEST(ReadModemLine, QuietLineEndsTheLineAfterFiveSeconds)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    pty.send("AT");
    long long start = unit::now_ms();
    EXPECT_EQ(read_lines(pty.slave(), 1), std::vector<std::string>{"AT"});
    long long elapsed = unit::now_ms() - start;
    EXPECT_GT(elapsed, 5000);
    EXPECT_LT(elapsed, 8000);
}

TEST(WaitForResponse, MatchingLineInTimeIsOk)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    pty.send("ATH\r\nERROR\r\nOK\r\n");
    long long start = unit::now_ms();
    EXPECT_EQ(wait_for_response(pty.slave(), "OK", 3), RC_OK);
    EXPECT_LT(unit::now_ms() - start, 1000);
    // Reading stopped at the matching line.
    EXPECT_EQ(read_lines(pty.slave(), 1), std::vector<std::string>{""});
}

// Slow: the limit is only looked at when a line read has ended.
TEST(WaitForResponse, SilentModemTimesOutAfterTheFirstLineRead)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    long long start = unit::now_ms();
    EXPECT_EQ(wait_for_response(pty.slave(), "OK", 1), RC_MODEM_TIMEOUT);
    long long elapsed = unit::now_ms() - start;
    EXPECT_GT(elapsed, 5000);
    EXPECT_LT(elapsed, 8000);
}

TEST(SendModemString, SendsEachCharacterAndACarriageReturn)
{
    struct Case {
        const char *text;
        int count;
        const char *bytes;
    } cases[] = {
        {"ATZ", 3, "ATZ\r"},
        {"", 0, "\r"},
        {"AT&F0 E0", 8, "AT&F0 E0\r"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        unit::Pty pty;
        EXPECT_EQ(send_modem_string(pty.slave(), c.text), c.count);
        EXPECT_EQ(pty.drain(), c.bytes);
    }
}

TEST(SendModemString, TildeIsAOneSecondPauseNeverSent)
{
    unit::Pty pty;
    long long start = unit::now_ms();
    EXPECT_EQ(send_modem_string(pty.slave(), "A~T"), 2);
    long long elapsed = unit::now_ms() - start;
    EXPECT_EQ(pty.drain(), "AT\r");
    EXPECT_GE(elapsed, 990);
    EXPECT_LT(elapsed, 1800);
}

// Plays the modem: notes when each byte arrives and answers once the host
// has sent the trigger.
class Responder {
public:
    Responder(unit::Pty &pty, std::string trigger, std::string reply)
        : pty_(pty), trigger_(std::move(trigger)), reply_(std::move(reply)),
          thread_([this] { run(); })
    {
    }
    ~Responder() { stop(); }

    void stop()
    {
        done_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    std::string bytes() const { return bytes_; }
    // Monotonic milliseconds at which byte i arrived.
    long long at(size_t i) const { return times_.at(i); }

private:
    void run()
    {
        bool answered = false;
        while (!done_) {
            struct pollfd p = {pty_.master(), POLLIN, 0};
            if (poll(&p, 1, 50) <= 0 || !(p.revents & POLLIN))
                continue;
            char buf[256];
            ssize_t n = read(pty_.master(), buf, sizeof buf);
            if (n <= 0)
                break;
            long long now = unit::now_ms();
            for (ssize_t i = 0; i < n; ++i) {
                bytes_ += buf[i];
                times_.push_back(now);
            }
            if (!answered && bytes_.find(trigger_) != std::string::npos) {
                pty_.send(reply_);
                answered = true;
            }
        }
    }

    unit::Pty &pty_;
    std::string trigger_, reply_;
    std::string bytes_;
    std::vector<long long> times_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

TEST(DisconnectModem, DefaultStringsHangUpWithPausesAroundTheEscape)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    Responder modem(pty, "ATH\r", "ATH\r\nOK\r\n");
    long long start = unit::now_ms();
    unit::CaptureFd err(2);
    int rc = disconnect_modem(pty.slave(), nullptr);
    std::string text = err.finish();
    long long end = unit::now_ms();
    modem.stop();

    EXPECT_EQ(rc, RC_OK);
    EXPECT_EQ(text, "Using defaults for all modem strings.\n\nDisconnecting modem...\n");
    ASSERT_EQ(modem.bytes(), "+++ATH\r");
    EXPECT_GE(modem.at(0) - start, 1950) << "two seconds before the escape";
    EXPECT_LT(modem.at(2) - modem.at(0), 500) << "the escape in one go";
    EXPECT_GE(modem.at(3) - modem.at(2), 1950) << "two seconds after the escape";
    EXPECT_LT(end - modem.at(6), 1500) << "did not stop at the modem's OK";
}

TEST(DisconnectModem, StringsComeFromTheConfigurationFile)
{
    unit::TempDir dir;
    unit::write_file("modem.dat", "HANGUP ATH0\nACK READY\n");
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    Responder modem(pty, "ATH0\r", "OK\r\nREADY\r\n");
    long long start = unit::now_ms();
    unit::CaptureFd err(2);
    int rc = disconnect_modem(pty.slave(), "modem.dat");
    std::string text = err.finish();
    long long elapsed = unit::now_ms() - start;
    modem.stop();

    EXPECT_EQ(rc, RC_OK);
    EXPECT_EQ(text, "\nDisconnecting modem...\n");
    EXPECT_EQ(modem.bytes(), "ATH0\r");
    EXPECT_LT(elapsed, 2500);
    EXPECT_EQ(unit::read_file("modem.dat"),
              "DIAL \nHANGUP ATH0\nSETUP AT\nCONNECT CONNECT\nACK READY\n");
}

TEST(DisconnectModem, StringsLoadedForDialingAreKept)
{
    unit::TempDir dir;
    unit::write_file("dial.dat", "HANGUP ATH0\n");
    unit::CaptureFd err(2);
    ASSERT_EQ(load_modem_config("ATDT5551234", "dial.dat"), RC_OK);
    err.finish();

    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    Responder modem(pty, "ATH0\r", "OK\r\n");
    EXPECT_EQ(disconnect_modem(pty.slave(), "other.dat"), RC_OK);
    modem.stop();
    EXPECT_EQ(modem.bytes(), "ATH0\r");
    EXPECT_FALSE(unit::file_exists("other.dat"));
}

TEST(DisconnectModem, UnwritableConfigurationSendsNothing)
{
    unit::TempDir dir;
    ASSERT_EQ(mkdir("modem.dat", 0755), 0);
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    unit::CaptureFd err(2);
    int rc = disconnect_modem(pty.slave(), "modem.dat");
    std::string text = err.finish();
    EXPECT_EQ(rc, RC_CONFIG_WRITE);
    EXPECT_EQ(text, "Could not open modem.dat for writing.\n");
    EXPECT_EQ(pty.drain(), "");
}

}  // namespace
