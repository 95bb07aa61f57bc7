// vendhook hanging up the simulated modem: what it prints, what the modem
// receives and when, the files it leaves, DTR, and its cost.
#include <gtest/gtest.h>
#include <termios.h>
#include <fcntl.h>
#include <unistd.h>

#include "harness.h"

using namespace e2e;

namespace {

std::string port_lines(const std::string &device, const char *flow)
{
    return "Could not find \"serial_port\", creating...\n"
           "Storing new device file name (" + device + ").\n" + flow +
           "Port initialized (9600 baud, 8 data bits, Odd, 1 stop bit)\n";
}

const char fresh_pty_flow[] = "RTSXOFF is Disabled\nCTSXON is Disabled\nRTSXOFF is now ENABLED.\n";

struct ShimCall {
    double t;
    std::string what;
    int bits;
};

std::vector<ShimCall> shim_calls(const std::string &log)
{
    std::vector<ShimCall> calls;
    std::istringstream in(read_file(log));
    ShimCall c;
    std::string bits;
    while (in >> c.t >> c.what >> bits) {
        c.bits = static_cast<int>(std::stoi(bits, nullptr, 16));
        calls.push_back(c);
    }
    return calls;
}

// Times (Unix) of the bursts the host sent that are exactly `bytes`.
std::vector<double> host_entry_times(const Sim &sim, const std::string &bytes)
{
    std::vector<double> times;
    for (const auto &burst : sim.host_bursts()) {
        if (burst.second == bytes)
            times.push_back(burst.first);
    }
    return times;
}

const int TIOCM_DTR_BIT = 0x002;

}  // namespace

TEST(Timing, HangUpAgainstAModemThatAnswersAtOnce)
{
    TempDir dir;
    Sim sim(dir);
    RunResult r = run_vendhook(in_dir(dir, {"-D" + sim.link()}));

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, version_lines(vendhook_path) + port_lines(sim.link(), fresh_pty_flow) +
                         "Using defaults for all modem strings.\n"
                         "\nDisconnecting modem...\n"
                         "Done.\n");
    EXPECT_EQ(read_file(dir / "serial_port"), sim.link());
    EXPECT_FALSE(file_exists(dir / "modem.dat"));

    // Half a second draining the line, two seconds, "+++", two seconds, "ATH".
    ASSERT_EQ(sim.wait_exit(5000), 0);
    EXPECT_EQ(sim.host_bytes(), "+++ATH\r");
    auto plus = host_entry_times(sim, "+++");
    auto ath = host_entry_times(sim, "ATH\r");
    ASSERT_EQ(plus.size(), 1u) << sim.transcript_text();
    ASSERT_EQ(ath.size(), 1u) << sim.transcript_text();
    EXPECT_NEAR(plus[0] - r.started, 2.5, 0.25);
    EXPECT_NEAR(ath[0] - plus[0], 2.0, 0.15);

    EXPECT_LE(r.wall, 4.6);
    EXPECT_GE(r.wall, 4.5);
    EXPECT_LT(r.cpu, 0.1);
}

TEST(HangUp, SilentModemStillEndsDone)
{
    TempDir dir;
    Sim sim(dir, {"--reply", "silent"});
    RunResult r = run_vendhook(in_dir(dir, {"-D" + sim.link()}));

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.substr(r.err.size() - 30), "\nDisconnecting modem...\nDone.\n");
    // The reply wait gives up only when a line read ends: after more than five
    // seconds of silence on the whole-second clock.
    EXPECT_GE(r.wall, 4.5 + 5.0);
    EXPECT_LE(r.wall, 4.5 + 7.0);
    EXPECT_LT(r.cpu, 0.1);
    ASSERT_EQ(sim.wait_exit(5000), 0);
    EXPECT_EQ(sim.host_bytes(), "+++ATH\r");
}

TEST(HangUp, DeviceThatIsNotATerminal)
{
    TempDir dir;
    RunResult r = run_vendhook(in_dir(dir, {"-D/dev/null"}));

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, version_lines(vendhook_path) +
                         port_lines("/dev/null",
                                    "Could not read H/W Flow Control Settings: Inappropriate ioctl "
                                    "for device\n") +
                         "Using defaults for all modem strings.\n"
                         "\nDisconnecting modem...\n"
                         "Done.\n");
    EXPECT_LT(r.cpu, 0.1);
    EXPECT_GE(r.wall, 4.5 + 5.0);
}

TEST(HangUp, DtrRaisedAndLeftUpWithoutDropdtr)
{
    TempDir dir;
    Sim sim(dir);
    RunOptions o = in_dir(dir, {"-D" + sim.link()});
    o.with_shim = true;
    o.shim_log = dir / "lines.log";
    RunResult r = run_vendhook(o);
    ASSERT_EQ(r.status, 0);

    auto calls = shim_calls(o.shim_log);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].what, "TIOCMGET");
    EXPECT_EQ(calls[1].what, "TIOCMSET");
    EXPECT_EQ(calls[1].bits & TIOCM_DTR_BIT, TIOCM_DTR_BIT);
    // Raised while the port is set up, before anything is sent.
    ASSERT_EQ(sim.wait_exit(5000), 0);
    auto plus = host_entry_times(sim, "+++");
    ASSERT_EQ(plus.size(), 1u);
    EXPECT_LT(calls[1].t, plus[0]);
}

TEST(HangUp, DropdtrLowersDtrAtTheEnd)
{
    TempDir dir;
    Sim sim(dir);
    RunOptions o = in_dir(dir, {"-D" + sim.link(), "--dropdtr"});
    o.with_shim = true;
    o.shim_log = dir / "lines.log";
    RunResult r = run_vendhook(o);
    ASSERT_EQ(r.status, 0);

    auto calls = shim_calls(o.shim_log);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[1].bits & TIOCM_DTR_BIT, TIOCM_DTR_BIT);
    EXPECT_EQ(calls[3].what, "TIOCMSET");
    EXPECT_EQ(calls[3].bits & TIOCM_DTR_BIT, 0);
    ASSERT_EQ(sim.wait_exit(5000), 0);
    auto ath = host_entry_times(sim, "ATH\r");
    ASSERT_EQ(ath.size(), 1u);
    // The transcript's times are rounded to the millisecond, and the modem's
    // "OK", which lets the run end, follows ATH within it.
    EXPECT_GT(calls[3].t, ath[0] - 0.001);
}

TEST(HangUp, FlowControlReportAndLineSettings)
{
    TempDir dir;
    Sim sim(dir);
    // Hold the line open ourselves, with RTS/CTS already on, as a port left
    // so by another program.
    int fd = open(sim.slave().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    struct termios tio;
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    tio.c_cflag |= CRTSCTS;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);

    RunResult r = run_vendhook(in_dir(dir, {"-d" + sim.link(), "--RtsCts", "-B19200", "-Peven"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("RTSXOFF is Enabled\nCTSXON is Enabled\nRTSXOFF is now DISABLED.\n"
                         "Port initialized (19200 baud, 8 data bits, Even, 1 stop bit)\n"),
              std::string::npos)
        << r.err;

    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tio.c_iflag, static_cast<tcflag_t>(IGNBRK));
    EXPECT_EQ(tio.c_oflag, 0u);
    EXPECT_EQ(tio.c_lflag, 0u);
    // A pty keeps no parity (it clears PARENB itself); PARODD shows the choice.
    EXPECT_EQ(tio.c_cflag & (CSIZE | CSTOPB | PARODD | CREAD | CLOCAL | HUPCL),
              static_cast<tcflag_t>(CS8 | CREAD | CLOCAL));
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 10);
    close(fd);
}

TEST(HangUp, FlowControlThatCannotBeSetIsReportedAndTheRunGoesOn)
{
    TempDir dir;
    Sim sim(dir);
    RunOptions o = in_dir(dir, {"-D" + sim.link()});
    o.preload = refuse_flowctl_path;
    RunResult r = run_vendhook(o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, version_lines(vendhook_path) +
                         port_lines(sim.link(), "RTSXOFF is Disabled\nCTSXON is Disabled\n"
                                                "Could not set H/W Flow Control.\n") +
                         "Using defaults for all modem strings.\n"
                         "\nDisconnecting modem...\n"
                         "Done.\n");
    ASSERT_EQ(sim.wait_exit(5000), 0);
    EXPECT_EQ(sim.host_bytes(), "+++ATH\r");
}
