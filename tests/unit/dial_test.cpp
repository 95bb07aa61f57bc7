// Dialing over a pty, with a peer thread playing the modem: the setup and
// its acknowledgement, the dial string, and how each reply line is taken.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "peer.h"
#include "support.h"
#include "vendlink/io.h"
#include "vendlink/modem.h"

namespace {

using unit::Peer;
using unit::Sent;

const std::string defaults = "Using defaults for all modem strings.\n";

struct Dialing {
    int result;
    std::string text;                   // the diagnostics stream
    std::vector<std::string> commands;  // as the modem received them
    long long setup_at_ms;              // when the setup arrived, from the start
};

// Runs init_modem against a modem that acknowledges the setup after
// ack_delay_ms and answers the dial command with `reply`.
Dialing dial(const char *dial_string, const char *config, const std::string &reply,
             int ack_delay_ms = 0)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    Peer modem(pty, Peer::modem, [&](const Sent &, size_t i) -> std::string {
        if (i > 0)
            return i == 1 ? reply : "";
        std::this_thread::sleep_for(std::chrono::milliseconds(ack_delay_ms));
        return "OK\r";
    });
    long long start = unit::now_ms();
    unit::CaptureFd err(2);
    Dialing d;
    d.result = init_modem(pty.slave(), dial_string, config);
    d.text = err.finish();
    modem.stop();
    for (const Sent &s : modem.sent())
        d.commands.push_back(s.data);
    d.setup_at_ms = modem.sent().empty() ? -1 : modem.sent()[0].at_ms - start;
    return d;
}

TEST(InitModem, EachReplyLineIsIgnoredOrDecides)
{
    const std::string long_dial = "ATDT" + std::string(96, '7');
    struct Case {
        const char *name, *dial, *config_text;
        std::string reply;
        int result;
        std::string shown;  // the reply lines as printed
        std::string sent_dial;
    } cases[] = {
        {"connect", "ATDT555", nullptr, "CONNECT 2400\r", RC_OK, "CONNECT 2400\n", "ATDT555"},
        {"busy", "ATDT555", nullptr, "BUSY\r", RC_MODEM_UNEXPECTED, "BUSY\n", "ATDT555"},
        {"first character of the ack only", "ATDT555", nullptr, "O\r", RC_MODEM_UNEXPECTED,
         "O\n", "ATDT555"},
        {"ack ignored", "ATDT555", nullptr, "OK\rCONNECT\r", RC_OK, "OK\nCONNECT\n", "ATDT555"},
        {"echo without the pause ignored", "AT~DT555", nullptr, "ATDT555\rCONNECT 9600\r", RC_OK,
         "ATDT555\nCONNECT 9600\n", "ATDT555"},
        {"hang-up echo ignored", "ATDT555", nullptr, "+++ATH\rNO CARRIER\r", RC_MODEM_UNEXPECTED,
         "+++ATH\nNO CARRIER\n", "ATDT555"},
        {"empty lines ignored", "ATDT555", nullptr, "\r\n\rCONNECT\r", RC_OK,
         "\n\n\nCONNECT\n", "ATDT555"},
        {"one-character connect text matches even an empty line", "ATDT555", "CONNECT X\n",
         "\r\nBUSY\r", RC_OK, "\n", "ATDT555"},
        {"long dial echo: first 79-character piece ignored", long_dial.c_str(), nullptr,
         long_dial + "\rCONNECT\r", RC_MODEM_UNEXPECTED,
         long_dial.substr(0, 79) + "\n" + long_dial.substr(79) + "\n", long_dial},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        unit::TempDir dir;
        if (c.config_text != nullptr)
            unit::write_file("modem.dat", c.config_text);
        Dialing d = dial(c.dial, c.config_text != nullptr ? "modem.dat" : nullptr, c.reply);
        EXPECT_EQ(d.result, c.result);
        EXPECT_EQ(d.text, (c.config_text != nullptr ? "" : defaults) +
                              "Initializing modem...\nDialing...\n" + c.shown);
        EXPECT_EQ(d.commands, (std::vector<std::string>{"AT", c.sent_dial}));
    }
}

// The setup's acknowledgement counts only within three seconds.
TEST(InitModem, SetupAcknowledgementMustComeWithinThreeSeconds)
{
    Dialing late = dial("ATDT555", nullptr, "CONNECT\r", 3500);
    EXPECT_EQ(late.result, RC_MODEM_TIMEOUT);
    EXPECT_EQ(late.text, defaults + "Initializing modem...\n");
    EXPECT_EQ(late.commands, std::vector<std::string>{"AT"});

    Dialing in_time = dial("ATDT555", nullptr, "CONNECT\r", 1500);
    EXPECT_EQ(in_time.result, RC_OK);
    EXPECT_EQ(in_time.commands, (std::vector<std::string>{"AT", "ATDT555"}));
    EXPECT_GE(in_time.setup_at_ms, 950) << "a second's pause before the setup";
    EXPECT_LT(in_time.setup_at_ms, 1500);
}

}  // namespace
