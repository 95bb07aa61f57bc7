// The driver's command line: apply_option, one argument at a time.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/options.h"
#include "modemlines.h"
#include "support.h"
#include "vendlink/io.h"

namespace {

struct OptionCase {
    std::vector<std::string> args;  // applied in order to fresh settings
    bool accepted;                  // what the last one returns
    unsigned long baud;
    int parity;
    const char *device;             // nullptr: not set
    const char *config;             // nullptr: not set
};

const OptionCase option_cases[] = {
    {{"-D/dev/ttyb"}, true, 9600, 0, "/dev/ttyb", nullptr},
    {{"-B4800"}, true, 4800, 0, nullptr, nullptr},
    {{"-b19200"}, true, 19200, 0, nullptr, nullptr},
    {{"-B4800x"}, true, 4800, 0, nullptr, nullptr},
    {{"-B2400", "-B"}, true, 2400, 0, nullptr, nullptr},
    {{"-B2400", "-Bfast"}, true, 2400, 0, nullptr, nullptr},
    {{"-Peven"}, true, 9600, 1, nullptr, nullptr},
    {{"-PE"}, true, 9600, 1, nullptr, nullptr},
    {{"-PNONE"}, true, 9600, 2, nullptr, nullptr},
    {{"-pn"}, true, 9600, 2, nullptr, nullptr},
    {{"-Peven", "-Podd"}, true, 9600, 0, nullptr, nullptr},
    {{"-Peven", "-P"}, true, 9600, 0, nullptr, nullptr},
    {{"-Peven", "-Pz"}, true, 9600, 0, nullptr, nullptr},
    {{"-d/dev/ttyc"}, true, 9600, 0, "/dev/ttyc", nullptr},
    {{"-D/dev/ttyb", "-d/dev/ttyc"}, true, 9600, 0, "/dev/ttyc", nullptr},
    {{"-Cmodem.dat"}, true, 9600, 0, nullptr, "modem.dat"},
    {{"-cmodem.dat"}, true, 9600, 0, nullptr, "modem.dat"},
    {{"-C"}, true, 9600, 0, nullptr, ""},
    {{"--RtsCts"}, true, 9600, 0, nullptr, nullptr},
    {{"-+rtscts"}, true, 9600, 0, nullptr, nullptr},
    {{"--dropdtr"}, true, 9600, 0, nullptr, nullptr},
    {{"-+dropdtr"}, true, 9600, 0, nullptr, nullptr},
    {{"--verbose"}, true, 9600, 0, nullptr, nullptr},
    {{"--"}, true, 9600, 0, nullptr, nullptr},
    {{"-+"}, true, 9600, 0, nullptr, nullptr},
    {{"-x"}, false, 9600, 0, nullptr, nullptr},
    {{"foo"}, false, 9600, 0, nullptr, nullptr},
    {{"-"}, false, 9600, 0, nullptr, nullptr},
    {{""}, false, 9600, 0, nullptr, nullptr},
    {{"-M"}, false, 9600, 0, nullptr, nullptr},
    {{"-M5551234"}, false, 9600, 0, nullptr, nullptr},
    {{"/dev/ttyb"}, false, 9600, 0, nullptr, nullptr},
};

std::string describe(const std::vector<std::string> &args)
{
    std::string s;
    for (const std::string &a : args)
        s += "[" + a + "]";
    return s;
}

TEST(Options, DefaultsAreNineThousandSixHundredOddNoDeviceNoConfig)
{
    RunSettings run;
    EXPECT_EQ(run.baud, 9600u);
    EXPECT_EQ(run.parity, 0);
    EXPECT_EQ(run.device, nullptr);
    EXPECT_EQ(run.config_base, nullptr);
}

TEST(Options, EachArgumentSetsItsValueOrIsRefused)
{
    for (const OptionCase &c : option_cases) {
        SCOPED_TRACE(describe(c.args));
        // Arguments live as long as the settings that point into them.
        std::vector<std::vector<char>> storage;
        for (const std::string &a : c.args)
            storage.emplace_back(a.c_str(), a.c_str() + a.size() + 1);
        RunSettings run;
        bool last = false;
        for (std::vector<char> &arg : storage)
            last = apply_option(arg.data(), &run);
        EXPECT_EQ(last, c.accepted);
        EXPECT_EQ(run.baud, c.baud);
        EXPECT_EQ(run.parity, c.parity);
        if (c.device == nullptr) {
            EXPECT_EQ(run.device, nullptr);
        } else {
            ASSERT_NE(run.device, nullptr);
            EXPECT_STREQ(run.device, c.device);
            // The value is the argument itself, behind "-D".
            EXPECT_EQ(run.device, storage.back().data() + 2);
        }
        if (c.config == nullptr) {
            EXPECT_EQ(run.config_base, nullptr);
        } else {
            ASSERT_NE(run.config_base, nullptr);
            EXPECT_STREQ(run.config_base, c.config);
        }
    }
}

// The line-control choices go to the io module; init_port and close_comm
// show what it made of them.
struct LineChoices {
    std::string stderr_text;
    bool crtscts;
    bool dtr_after_close;
};

LineChoices run_port_with(const std::vector<std::string> &args)
{
    for (const std::string &a : args) {
        std::vector<char> arg(a.c_str(), a.c_str() + a.size() + 1);
        RunSettings run;
        EXPECT_TRUE(apply_option(arg.data(), &run)) << a;
    }
    unit::TempDir dir;
    unit::Pty pty;
    unit::CaptureFd err(2);
    int fd = init_port(9600, 0, pty.slave_name().c_str());
    close_comm();
    LineChoices out;
    out.stderr_text = err.finish();
    EXPECT_GE(fd, 0);
    out.crtscts = (pty.settings().c_cflag & CRTSCTS) != 0;
    out.dtr_after_close = (shim_modem_lines() & TIOCM_DTR) != 0;
    return out;
}

const char flow_enabled[] = "RTSXOFF is now ENABLED.\n";
const char flow_disabled[] = "RTSXOFF is now DISABLED.\n";

TEST(OptionsLineControl, NothingGivenKeepsFlowControlAndDtr)
{
    LineChoices c = run_port_with({"--verbose", "--", "-+", "-+dropdtr"});
    EXPECT_NE(c.stderr_text.find(flow_enabled), std::string::npos) << c.stderr_text;
    EXPECT_TRUE(c.crtscts);
    EXPECT_TRUE(c.dtr_after_close);
}

TEST(OptionsLineControl, MinusRtsCtsInAnyCaseTurnsFlowControlOff)
{
    LineChoices c = run_port_with({"--RtsCts"});
    EXPECT_NE(c.stderr_text.find(flow_disabled), std::string::npos) << c.stderr_text;
    EXPECT_FALSE(c.crtscts);
}

TEST(OptionsLineControl, PlusRtsCtsTurnsItBackOn)
{
    LineChoices c = run_port_with({"--rtscts", "-+RTSCTS"});
    EXPECT_NE(c.stderr_text.find(flow_enabled), std::string::npos) << c.stderr_text;
    EXPECT_TRUE(c.crtscts);
}

TEST(OptionsLineControl, DropDtrLowersDtrAtTheEnd)
{
    LineChoices c = run_port_with({"--DropDTR"});
    EXPECT_FALSE(c.dtr_after_close);
    EXPECT_TRUE(c.crtscts);
}

}  // namespace
