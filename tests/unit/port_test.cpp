// Serial-port side of the io module: the device-name file, line set-up and
// its reports, DTR, timeouts as the line holds them, clear_comm.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "modemlines.h"
#include "support.h"
#include "vendlink/io.h"

namespace {

const char not_found[] = "Could not find \"serial_port\", creating...\n";

// A caller's buffer of exactly the size the file is read with.
std::vector<char> name_buffer(const std::string &text = "")
{
    std::vector<char> buf(80, '\0');
    memcpy(buf.data(), text.c_str(), text.size() + 1);
    return buf;
}

TEST(DeviceFile, MissingFileIsCreatedWithTheDefaultDevice)
{
    unit::TempDir dir;
    auto name = name_buffer();
    unit::CaptureFd err(2);
    EXPECT_EQ(get_device_file(name.data()), RC_OK);
    EXPECT_EQ(err.finish(), not_found);
    EXPECT_STREQ(name.data(), "/dev/ttya");
    EXPECT_EQ(unit::read_file("serial_port"), "/dev/ttya");
}

TEST(DeviceFile, GivenNameIsStoredAloneInTheFile)
{
    unit::TempDir dir;
    auto name = name_buffer("/dev/ttyS3");
    unit::CaptureFd err(2);
    EXPECT_EQ(get_device_file(name.data()), RC_OK);
    EXPECT_EQ(err.finish(),
              std::string(not_found) + "Storing new device file name (/dev/ttyS3).\n");
    EXPECT_STREQ(name.data(), "/dev/ttyS3");
    EXPECT_EQ(unit::read_file("serial_port"), "/dev/ttyS3");
}

TEST(DeviceFile, GivenNameReplacesTheStoredOne)
{
    unit::TempDir dir;
    unit::write_file("serial_port", "/dev/old-and-longer-name\n");
    auto name = name_buffer("/dev/new");
    unit::CaptureFd err(2);
    EXPECT_EQ(get_device_file(name.data()), RC_OK);
    EXPECT_EQ(err.finish(), "Storing new device file name (/dev/new).\n");
    EXPECT_EQ(unit::read_file("serial_port"), "/dev/new");
}

TEST(DeviceFile, StoredNameIsTheFirstLineWithoutItsEnd)
{
    struct Case {
        std::string file;
        const char *name;
    } cases[] = {
        {"/dev/ttyb", "/dev/ttyb"},
        {"/dev/ttyb\n", "/dev/ttyb"},
        {"/dev/ttyb\r\n/dev/ttyc\n", "/dev/ttyb"},
        {"/dev/ttyb\n/dev/ttyc\n", "/dev/ttyb"},
        {"\n/dev/ttyc\n", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        unit::TempDir dir;
        unit::write_file("serial_port", c.file);
        auto name = name_buffer();
        unit::CaptureFd err(2);
        EXPECT_EQ(get_device_file(name.data()), RC_OK);
        EXPECT_EQ(err.finish(), "");
        EXPECT_STREQ(name.data(), c.name);
        EXPECT_EQ(unit::read_file("serial_port"), c.file) << "the file is only read";
    }
}

TEST(DeviceFile, EmptyFileAndNoNameFails)
{
    unit::TempDir dir;
    unit::write_file("serial_port", "");
    auto name = name_buffer();
    unit::CaptureFd err(2);
    EXPECT_EQ(get_device_file(name.data()), RC_FAIL);
    EXPECT_EQ(err.finish(), "Can not read file.\n");
}

TEST(DeviceFile, LongBinaryContentStaysInTheBuffer)
{
    unit::TempDir dir;
    std::string junk;
    for (int i = 0; i < 300; ++i)
        junk += static_cast<char>(0x80 + i % 0x70);
    unit::write_file("serial_port", junk);
    auto name = name_buffer();
    unit::CaptureFd err(2);
    EXPECT_EQ(get_device_file(name.data()), RC_OK);
    err.finish();
    EXPECT_EQ(std::string(name.data()), junk.substr(0, 79));

    unit::write_file("serial_port", std::string("\0/dev/ttyb\n", 11));
    name = name_buffer();
    EXPECT_EQ(get_device_file(name.data()), RC_OK);
    EXPECT_STREQ(name.data(), "");
}

TEST(DeviceFile, NameThatCannotBeStoredIsStillUsed)
{
    unit::TempDir dir;
    ASSERT_EQ(mkdir("serial_port", 0755), 0);
    auto name = name_buffer("/dev/ttyb");
    unit::CaptureFd err(2);
    EXPECT_EQ(get_device_file(name.data()), RC_OK);
    EXPECT_EQ(err.finish(),
              "Storing new device file name (/dev/ttyb).\n"
              "Can not store the device name in \"serial_port\" (Is a directory); "
              "using /dev/ttyb for this run.\n");
    EXPECT_STREQ(name.data(), "/dev/ttyb");
}

TEST(DeviceFile, MissingFileThatCannotBeCreatedFails)
{
    unit::TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    unit::CaptureFd err(2);
    int status = unit::run_in_child([] {
        // root creates files anywhere: do it as a user whom the mode binds.
        if (geteuid() == 0 && setuid(unit::nobody_id) != 0)
            return 200;
        auto name = name_buffer();
        return get_device_file(name.data()) & 0xff;
    });
    std::string text = err.finish();
    if (status == 200)
        GTEST_SKIP() << "cannot drop privileges here";
    EXPECT_EQ(status, RC_FAIL & 0xff);
    EXPECT_EQ(text, std::string(not_found) + "Can not create \"serial_port\"\n");
    EXPECT_FALSE(unit::file_exists("serial_port"));
}

struct PortRun {
    int fd;
    std::string out, err;
};

PortRun open_port(long baud, int parity, const char *device)
{
    unit::CaptureFd out(1);
    unit::CaptureFd err(2);
    PortRun r;
    unit::forget_requested_settings();
    r.fd = init_port(baud, parity, device);
    r.err = err.finish();
    r.out = out.finish();
    return r;
}

std::string init_report(const std::string &device, const std::string &flow,
                        const std::string &port_line)
{
    return std::string(not_found) + "Storing new device file name (" + device + ").\n" + flow +
           port_line;
}

const char fresh_flow[] = "RTSXOFF is Disabled\nCTSXON is Disabled\nRTSXOFF is now ENABLED.\n";

TEST(InitPort, SetsUpTheLineForEachBaudAndParity)
{
    struct Case {
        long baud;
        int parity;
        speed_t speed;
        bool parenb, parodd;
        const char *parity_word;
    } cases[] = {
        {9600, 0, B9600, true, true, "Odd"},     {4800, 1, B4800, true, false, "Even"},
        {19200, 2, B19200, false, false, "None"}, {38400, 5, B38400, true, true, "Odd"},
        {300, 0, B300, true, true, "Odd"},       {1200, 1, B1200, true, false, "Even"},
        {2400, 2, B2400, false, false, "None"},   {600, 0, B600, true, true, "Odd"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.baud) + " parity " + std::to_string(c.parity));
        unit::TempDir dir;
        unit::Pty pty;
        PortRun r = open_port(c.baud, c.parity, pty.slave_name().c_str());
        ASSERT_GE(r.fd, 0) << r.out << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, init_report(pty.slave_name(), fresh_flow,
                                     "Port initialized (" + std::to_string(c.baud) +
                                         " baud, 8 data bits, " + c.parity_word +
                                         ", 1 stop bit)\n"));
        EXPECT_EQ(unit::read_file("serial_port"), pty.slave_name());

        struct termios tio;
        ASSERT_EQ(tcgetattr(r.fd, &tio), 0);
        EXPECT_EQ(tio.c_iflag, static_cast<tcflag_t>(IGNBRK));
        EXPECT_EQ(tio.c_oflag, 0u);
        EXPECT_EQ(tio.c_lflag, 0u);
        EXPECT_EQ(tio.c_cflag & (CSIZE | CREAD | CLOCAL | CSTOPB | HUPCL),
                  static_cast<tcflag_t>(CS8 | CREAD | CLOCAL));
        EXPECT_EQ(cfgetispeed(&tio), c.speed);
        EXPECT_EQ(cfgetospeed(&tio), c.speed);
        EXPECT_EQ(tio.c_cc[VMIN], 0);
        EXPECT_EQ(tio.c_cc[VTIME], 10);
        EXPECT_EQ(tio.c_cc[VINTR], 0);
        EXPECT_EQ(tio.c_cc[VEOF], 0);
        EXPECT_TRUE(tio.c_cflag & CRTSCTS);
        // A pty keeps no parity enable bit; see what the set-up asked for.
        struct termios asked;
        ASSERT_TRUE(unit::first_requested_settings(r.fd, &asked));
        EXPECT_EQ((asked.c_cflag & PARENB) != 0, c.parenb);
        if (c.parenb) {
            EXPECT_EQ((asked.c_cflag & PARODD) != 0, c.parodd);
        }
        close(r.fd);
    }
}

TEST(InitPort, UnsupportedBaudWarnsAndUses9600)
{
    unit::TempDir dir;
    unit::Pty pty;
    PortRun r = open_port(110, 0, pty.slave_name().c_str());
    ASSERT_GE(r.fd, 0);
    EXPECT_EQ(r.err, std::string(not_found) + "Storing new device file name (" +
                         pty.slave_name() + ").\n" +
                         "Warning: 110 baud not supported on this platform.\n"
                         "         Will default to 9600 baud.\n" +
                         fresh_flow + "Port initialized (9600 baud, 8 data bits, Odd, 1 stop bit)\n");
    struct termios tio = pty.settings();
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
}

TEST(InitPort, NoDeviceOrEmptyDeviceUsesTheStoredName)
{
    for (const char *device : {static_cast<const char *>(nullptr), ""}) {
        SCOPED_TRACE(device == nullptr ? "null" : "empty");
        unit::TempDir dir;
        unit::Pty pty;
        unit::write_file("serial_port", pty.slave_name() + "\n");
        PortRun r = open_port(9600, 0, device);
        EXPECT_GE(r.fd, 0);
        EXPECT_EQ(r.err, std::string(fresh_flow) +
                             "Port initialized (9600 baud, 8 data bits, Odd, 1 stop bit)\n");
        EXPECT_EQ(unit::read_file("serial_port"), pty.slave_name() + "\n");
        close(r.fd);
    }
}

TEST(InitPort, MissingDeviceIsReportedOnStdoutAfterBeingStored)
{
    unit::TempDir dir;
    PortRun r = open_port(9600, 0, "/dev/vendlink-no-such-line");
    EXPECT_EQ(r.fd, RC_FAIL);
    EXPECT_EQ(r.out, "Unable to open device file \"/dev/vendlink-no-such-line\"\n\n");
    EXPECT_EQ(r.err, std::string(not_found) +
                         "Storing new device file name (/dev/vendlink-no-such-line).\n");
    EXPECT_EQ(unit::read_file("serial_port"), "/dev/vendlink-no-such-line");
}

TEST(InitPort, DevicePathIsCutToEightyCharacters)
{
    unit::TempDir dir;
    std::string device = "./" + std::string(118, 'd');
    PortRun r = open_port(9600, 0, device.c_str());
    EXPECT_EQ(r.fd, RC_FAIL);
    EXPECT_EQ(unit::read_file("serial_port"), device.substr(0, 80));
    EXPECT_EQ(r.out, "Unable to open device file \"" + device.substr(0, 80) + "\"\n\n");
}

TEST(InitPort, FlowControlAlreadyOnIsReportedAndCanBeTurnedOff)
{
    unit::TempDir dir;
    unit::Pty pty;
    struct termios tio = pty.settings();
    tio.c_cflag |= CRTSCTS;
    ASSERT_EQ(tcsetattr(pty.slave(), TCSANOW, &tio), 0);

    io_use_rts_cts(0);
    PortRun r = open_port(9600, 0, pty.slave_name().c_str());
    ASSERT_GE(r.fd, 0);
    EXPECT_EQ(r.err, init_report(pty.slave_name(),
                                 "RTSXOFF is Enabled\nCTSXON is Enabled\nRTSXOFF is now DISABLED.\n",
                                 "Port initialized (9600 baud, 8 data bits, Odd, 1 stop bit)\n"));
    EXPECT_FALSE(pty.settings().c_cflag & CRTSCTS);
}

TEST(InitPort, NonTerminalGetsADescriptorWithoutFlowControlReport)
{
    unit::TempDir dir;
    PortRun r = open_port(9600, 0, "/dev/null");
    EXPECT_GE(r.fd, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, init_report("/dev/null",
                                 "Could not read H/W Flow Control Settings: Inappropriate ioctl "
                                 "for device\n",
                                 "Port initialized (9600 baud, 8 data bits, Odd, 1 stop bit)\n"));
}

TEST(Dtr, InitPortRaisesItAndCloseCommKeepsIt)
{
    unit::TempDir dir;
    unit::Pty pty;
    ASSERT_EQ(shim_modem_lines() & TIOCM_DTR, 0);
    PortRun r = open_port(9600, 0, pty.slave_name().c_str());
    ASSERT_GE(r.fd, 0);
    EXPECT_TRUE(shim_modem_lines() & TIOCM_DTR);
    close_comm();
    EXPECT_TRUE(shim_modem_lines() & TIOCM_DTR);
}

TEST(Dtr, CloseCommDropsItWhenAskedTo)
{
    unit::TempDir dir;
    unit::Pty pty;
    io_drop_dtr(1);
    PortRun r = open_port(9600, 0, pty.slave_name().c_str());
    ASSERT_GE(r.fd, 0);
    ASSERT_TRUE(shim_modem_lines() & TIOCM_DTR);
    close_comm();
    EXPECT_FALSE(shim_modem_lines() & TIOCM_DTR);
}

TEST(Dtr, CloseCommBeforeInitPortTouchesNoLine)
{
    unit::TempDir dir;
    unit::Pty pty;
    dtr_enable(pty.slave(), 1);
    ASSERT_TRUE(shim_modem_lines() & TIOCM_DTR);
    setenv("VENDTEST_MODEMLINES_LOG", (dir / "lines.log").c_str(), 1);
    io_drop_dtr(1);
    close_comm();
    unsetenv("VENDTEST_MODEMLINES_LOG");
    EXPECT_FALSE(unit::file_exists(dir / "lines.log"));
    EXPECT_TRUE(shim_modem_lines() & TIOCM_DTR);
}

TEST(Timeout, VtimeIsTheScaledTenths)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 7);
    EXPECT_EQ(pty.settings().c_cc[VTIME], 7);
    set_timeout_scale_factor(3);
    set_timeout(pty.slave(), 7);
    EXPECT_EQ(pty.settings().c_cc[VTIME], 21);
    // Factors below one are ignored.
    set_timeout_scale_factor(0);
    set_timeout_scale_factor(-2);
    set_timeout(pty.slave(), 7);
    EXPECT_EQ(pty.settings().c_cc[VTIME], 21);
    set_timeout(pty.slave(), 0);
    EXPECT_EQ(pty.settings().c_cc[VTIME], 0);
}

TEST(Timeout, ScaleAppliesToInitPort)
{
    unit::TempDir dir;
    unit::Pty pty;
    set_timeout_scale_factor(2);
    PortRun r = open_port(9600, 0, pty.slave_name().c_str());
    ASSERT_GE(r.fd, 0);
    EXPECT_EQ(pty.settings().c_cc[VTIME], 20);
}

TEST(Timeout, VtimeIsClampedToOneByte)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 255);
    EXPECT_EQ(pty.settings().c_cc[VTIME], 255);
    set_timeout(pty.slave(), 256);
    EXPECT_EQ(pty.settings().c_cc[VTIME], 255);
    set_timeout(pty.slave(), 1000);
    EXPECT_EQ(pty.settings().c_cc[VTIME], 255);
}

TEST(ClearComm, SendsTwoHundredSixtyZerosAndDrainsInput)
{
    unit::Pty pty;
    pty.send("stale reply\r\n");
    clear_comm(pty.slave());
    std::string sent = pty.drain();
    EXPECT_EQ(sent, std::string(260, '\0'));
    struct pollfd p = {pty.slave(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0) << "input left unread";
}

TEST(ReadPort, ReturnsWaitingBytesAtOnce)
{
    unit::Pty pty;
    set_timeout(pty.slave(), 10);
    pty.send("OK\r\n");
    char buf[16];
    long long start = unit::now_ms();
    EXPECT_EQ(read_port(pty.slave(), buf, sizeof buf), 4);
    EXPECT_LT(unit::now_ms() - start, 500);
    EXPECT_EQ(std::string(buf, 4), "OK\r\n");
}

TEST(WritePort, WritesTheBytes)
{
    unit::Pty pty;
    EXPECT_EQ(write_port(pty.slave(), "ATZ\r", 4), 4);
    EXPECT_EQ(pty.drain(), "ATZ\r");
}

}  // namespace
