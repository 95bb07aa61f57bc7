// What a whole run does not show precisely.
#include <termios.h>

#include <csignal>
#include <ctime>
#include <tuple>

#include "io_internal.h"
#include "support.h"
#include "vendlink/modem.h"

// The version into the caller's buffer or as the third line; usage text cut to 1023 characters,
// still ending its line.
TEST(Console, VersionTextsAndUsageLines)
{
    const char ident[] = "$Header: tool.c,v 1.2 99/01/01 00:00:00 me Exp $";
    const std::string banner = "Orvanta-RC REMOTE CONTROL, v2.35 SPARC  (20 DEC 1999)\n"
                               "Copyright (c) 1996-1999 Orvanta.  All rights reserved.\n";
    const auto version = [&](const char *name, const char *id, char *buf) {
        return output_of(2, [&] { EXPECT_EQ(print_version(name, id, buf), buf); });
    };
    Guarded out(VERSION_TEXT_SIZE);
    EXPECT_EQ(version("prog", ident, out.data()), banner);
    EXPECT_STREQ(out.data(), "prog, 1.2");
    const std::string long_name(600, 'p');
    EXPECT_EQ(version(long_name.c_str(), ident, out.data()), banner);
    EXPECT_EQ(out.data(), long_name.substr(0, VERSION_TEXT_SIZE - 1));
    EXPECT_TRUE(out.intact());
    EXPECT_EQ(version("prog", "no header", nullptr), banner + "prog, unknown\n");
    Guarded io(9);
    EXPECT_STREQ(get_io_version(io.data()), "2.38.1.5");
    EXPECT_TRUE(io.intact());
    const std::string fits(1022, 'a');
    const std::string too_long(2000, 'b');
    EXPECT_EQ(output_of(1, [&] { fprint_usage(stdout, "%s\n", fits.c_str()); }), fits + "\n");
    EXPECT_EQ(output_of(1, [&] { fprint_usage(stdout, "%s", too_long.c_str()); }),
              too_long.substr(0, 1022) + "\n");
}

// The modem's echo of a command (without its pauses, dial or hang-up) and a full "OK" are passed
// over; "CONNEC" is enough; a one-letter connect text takes any line; without a dial string only
// the empty line is taken for its echo; a reply line is read in pieces of 79 characters.
TEST(InitModem, RepliesToTheDialCommand)
{
    Folder folder;
    const std::tuple<std::string, const char *, std::string, int> rows[] = {
        {"", "ATDT1~2", "OK\rATDT12\rOK\rCONNEC\r", RC_OK},
        {"", "ATDT1~2", "OK\rO\r", RC_MODEM_UNEXPECTED},
        {"", "ATDT1~2", "OK\r+++ATH\rCONNECT\r", RC_OK},  // the hang-up's echo, too
        {"CONNECT X\n", "ATDT1~2", "OK\r\r", RC_OK},
        {"", "", "OK\r\rCONNECT\r", RC_OK},
        {"", "ATDT1~2", "OK\rATDT12" + std::string(74, 'x') + "\rCONNECT\r",
         RC_MODEM_UNEXPECTED},  // its 80th character alone
    };
    for (const auto &[config, dial, replies, rc] : rows) {
        std::ofstream("m.dat") << config;
        Line line(replies);
        output_of(2, [&] { EXPECT_EQ(init_modem(line.port, dial, "m.dat"), rc) << replies; });
        char sent[16] = {};
        recv(line.far, sent, sizeof sent - 1, MSG_DONTWAIT);
        EXPECT_STREQ(sent, *dial ? "AT\rATDT12\r" : "AT\r\r");
    }
}

// A line that takes nothing (flow control holding it, a modem switched off) must not hold a write
// for ever.
TEST(WritePort, ALineThatTakesNothingFailsAfterTenSeconds)
{
    Line line;
    fcntl(line.port, F_SETFL, O_NONBLOCK);
    for (char block[4096] = {}; write(line.port, block, sizeof block) > 0;) {
    }
    fcntl(line.port, F_SETFL, 0);
    time_t start = time(nullptr);
    errno = 0;
    EXPECT_EQ(write_port(line.port, "x", 1), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_NEAR(time(nullptr) - start, 10, 1);
}

// With standard input closed the port is descriptor 0, a port like any other; a scale factor
// changes the timeouts set after it, back to 1 as well.
TEST(InitPort, OnDescriptorZeroWithScaledTimeouts)
{
    Folder folder;
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(grantpt(master) == 0 && unlockpt(master) == 0);
    output_of(2, [&] {
        close(0);  // after the capture took its descriptor
        EXPECT_EQ(init_port(9600, 0, ptsname(master)), 0);
    });
    termios t;
    for (auto [factor, vtime] : {std::pair {3, 30}, {0, 30}, {1, 10}}) {
        set_timeout_scale_factor(factor);
        set_timeout(0, 10);
        EXPECT_TRUE(tcgetattr(0, &t) == 0 && t.c_cc[VTIME] == vtime) << factor;
    }
}

// A program that captured Ctrl-C can hand it back: the default ends the process again.  Its own
// pauses, which watch no line, take their whole seconds.
TEST(Interrupt, CtrlCGoesBackToItsDefaultAndPauseSleepsItsSeconds)
{
    ctrl_C_capture();
    EXPECT_EQ(signal(SIGINT, ctrl_C_handler), ctrl_C_handler);
    ctrl_C_uncapture();
    EXPECT_EQ(signal(SIGINT, SIG_DFL), SIG_DFL);
    const long long start = io_now_ms();
    Pause(1);
    EXPECT_NEAR(io_now_ms() - start, 1000, 100);
}

// A line whose far end went away (a device unplugged) fails a read at once and says so once, naming
// no device where the port is not init_port's.
TEST(ReadPort, ALineGoneFailsAtOnceAndSaysSoOnce)
{
    Line line;
    close(line.far);
    line.far = -1;
    const time_t start = time(nullptr);
    EXPECT_EQ(output_of(2,
                        [&] {
                            char c;
                            EXPECT_EQ(read_port(line.port, &c, 1), -1);
                            EXPECT_EQ(write_port(line.port, &c, 1), -1);
                        }),
              "The serial line went away (unplugged, or hung up by the system).\n");
    EXPECT_LE(time(nullptr) - start, 1);
}
