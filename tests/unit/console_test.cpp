// Console side of the io module: version and help text, fprint_usage off a
// terminal, one-character terminal mode, the diagnostics stream.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support.h"
#include "vendlink/io.h"

namespace {

const char banner[] = "Orvanta-RC REMOTE CONTROL, v2.35 SPARC  (20 DEC 1999)\n";
const char rights[] = "Copyright (c) 1996-1999 Orvanta.  All rights reserved.\n";
const char driver_ident[] = "$Header: x.c,v 2.9 99/07/26 01:12:29 devel Exp $";

TEST(PrintVersion, WithoutBufferPrintsThreeLinesAndReturnsNull)
{
    unit::CaptureFd err(2);
    char *r = print_version("prog", driver_ident, nullptr);
    std::string text = err.finish();
    EXPECT_EQ(r, nullptr);
    EXPECT_EQ(text, std::string(banner) + rights + "prog, 2.9\n");
}

TEST(PrintVersion, WithBufferFillsItAndStillPrintsBannerAndRights)
{
    std::vector<char> out(VERSION_TEXT_SIZE, 'X');
    unit::CaptureFd err(2);
    char *r = print_version("prog", driver_ident, out.data());
    std::string text = err.finish();
    EXPECT_EQ(r, out.data());
    EXPECT_STREQ(out.data(), "prog, 2.9");
    EXPECT_EQ(text, std::string(banner) + rights);
}

TEST(PrintVersion, LongProgramNameIsCutToTheBuffer)
{
    std::string program(VERSION_TEXT_SIZE + 100, 'p');
    std::vector<char> out(VERSION_TEXT_SIZE, 'X');
    unit::CaptureFd err(2);
    print_version(program.c_str(), driver_ident, out.data());
    err.finish();
    EXPECT_EQ(std::string(out.data()), program.substr(0, VERSION_TEXT_SIZE - 1));
}

TEST(PrintVersion, IdentOfAnotherFormGivesUnknownRevision)
{
    const char *idents[] = {"", "garbage", "$Header$", "$Header: x.c,v",
                            "$Id: x.c,v 2.9 99/07/26 01:12:29 devel Exp $"};
    for (const char *ident : idents) {
        SCOPED_TRACE(ident);
        unit::CaptureFd err(2);
        print_version("prog", ident, nullptr);
        std::string text = err.finish();
        EXPECT_EQ(text, std::string(banner) + rights + "prog, unknown\n");
    }
}

TEST(IoVersion, IsTheConsoleRevision)
{
    char buf[64];
    EXPECT_EQ(get_io_version(buf), buf);
    EXPECT_STREQ(buf, "2.38.1.5");
}

TEST(IoHelp, PrintsTwentyTwoLinesToStderr)
{
    unit::CaptureFd out(1);
    unit::CaptureFd err(2);
    print_io_help();
    std::string text = err.finish();
    EXPECT_EQ(out.finish(), "");

    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    EXPECT_EQ(start, text.size()) << "text after the last line end";
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(lines[0], "  -M[dialing_string]\tInitialize and use modem interface.  Dial with");
    EXPECT_EQ(lines[1], "\t\t\tdialing_string from 'modem.dat'.");
    EXPECT_EQ(lines[4], "  -Bbaud\t\tHost<->DCE 'baud' value (default: 9600).");
    EXPECT_EQ(lines[7], "  -Ddev   \t\tSerial port device file.");
    EXPECT_EQ(lines[11], "  -Cconfigfile\t\tModem config file.  ");
    EXPECT_EQ(lines[16], "  --rtscts             Disable RTS/CTS requirements at the host computer.");
    EXPECT_EQ(lines[17], "  --dropdtr            Drop DTR upon program termination.");
    EXPECT_EQ(lines[18], "");
    EXPECT_EQ(lines[19], "  Example:    wexal  -dmodem.dat -c/dev/ttya");
    EXPECT_EQ(lines[20], "   or         wexal  -dmodem.dat.ttya");
    EXPECT_EQ(lines[21], "");
}

// fprint_usage on something that is not a terminal never pauses.
TEST(FprintUsage, ToFileOrPipePrintsTextUnchangedWithoutPrompt)
{
    std::string expected;
    for (int i = 1; i <= 60; ++i)
        expected += "line " + std::to_string(i) + "\n";

    FILE *file = tmpfile();
    ASSERT_NE(file, nullptr);
    for (int i = 1; i <= 60; ++i)
        EXPECT_EQ(fprint_usage(file, "line %d\n", i), static_cast<int>(std::to_string(i).size()) + 6);
    fflush(file);
    rewind(file);
    std::string got(4096, '\0');
    got.resize(fread(&got[0], 1, got.size(), file));
    fclose(file);
    EXPECT_EQ(got, expected);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FILE *pipe_out = fdopen(fds[1], "w");
    for (int i = 1; i <= 60; ++i)
        fprint_usage(pipe_out, "line %d\n", i);
    fclose(pipe_out);
    got.assign(4096, '\0');
    ssize_t n, total = 0;
    while ((n = read(fds[0], &got[total], got.size() - total)) > 0)
        total += n;
    close(fds[0]);
    got.resize(static_cast<size_t>(total));
    EXPECT_EQ(got, expected);
}

std::string usage_to_file(const char *format, const std::string &arg, int *result)
{
    FILE *file = tmpfile();
    *result = fprint_usage(file, format, arg.c_str());
    fflush(file);
    rewind(file);
    std::string got(4096, '\0');
    got.resize(fread(&got[0], 1, got.size(), file));
    fclose(file);
    return got;
}

TEST(FprintUsage, TextUpToTheBufferIsPrintedWhole)
{
    int r = 0;
    std::string text = std::string(1022, 'a') + "\n";
    EXPECT_TRUE(usage_to_file("%s", text, &r) == text);
    EXPECT_EQ(r, 1023);
}

// Compared piecewise: a failure then says where, not 2000 characters.
void expect_cut(const std::string &got, char last)
{
    ASSERT_EQ(got.size(), 1023u);
    EXPECT_EQ(got.substr(0, 1022), std::string(1022, 'a'));
    EXPECT_EQ(got.back(), last);
}

// Every caller prints whole lines, so a cut text still ends its line.
TEST(FprintUsage, LongerTextIsCutTo1023CharactersAndEndsItsLine)
{
    int r = 0;
    expect_cut(usage_to_file("%s", std::string(2000, 'a'), &r), '\n');
    EXPECT_EQ(r, 1023);
}

TEST(FprintUsage, LongLineKeepsItsFinalNewline)
{
    int r = 0;
    expect_cut(usage_to_file("%s\n", std::string(2000, 'a'), &r), '\n');
    EXPECT_EQ(r, 1023);
}

// The line end may come from the argument rather than the format.
TEST(FprintUsage, LongLineKeepsFinalNewlineFromArgument)
{
    int r = 0;
    expect_cut(usage_to_file("%s", std::string(2000, 'a') + "\n", &r), '\n');
    EXPECT_EQ(r, 1023);
}

bool same_settings(const struct termios &a, const struct termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

TEST(OneCharReads, OnClearsCanonicalModeAndEchoOnly)
{
    unit::Pty pty(false);
    struct termios before = pty.settings();
    ASSERT_TRUE(before.c_lflag & ICANON);
    ASSERT_TRUE(before.c_lflag & ECHO);
    ASSERT_TRUE(before.c_lflag & ISIG);

    EXPECT_EQ(termio_EnableOneCharReads(pty.slave(), 0), 0);
    struct termios on = pty.settings();
    EXPECT_FALSE(on.c_lflag & ICANON);
    EXPECT_FALSE(on.c_lflag & ECHO);
    EXPECT_EQ(on.c_lflag, before.c_lflag & ~static_cast<tcflag_t>(ICANON | ECHO));
    EXPECT_EQ(on.c_cc[VMIN], 1);
    EXPECT_EQ(on.c_cc[VTIME], 0);
    EXPECT_EQ(on.c_iflag, before.c_iflag);
    EXPECT_EQ(on.c_oflag, before.c_oflag);
    EXPECT_EQ(on.c_cflag, before.c_cflag);
    EXPECT_EQ(on.c_cc[VINTR], before.c_cc[VINTR]);
}

TEST(OneCharReads, OffRestoresTheSettingsFromBefore)
{
    unit::Pty pty(false);
    struct termios before = pty.settings();
    ASSERT_EQ(termio_EnableOneCharReads(pty.slave(), 0), 0);
    EXPECT_EQ(termio_EnableOneCharReads(pty.slave(), 1), 0);
    EXPECT_TRUE(same_settings(pty.settings(), before));
}

TEST(OneCharReads, OnTwiceThenOffRestoresTheSettingsFromBeforeTheFirst)
{
    unit::Pty pty(false);
    struct termios before = pty.settings();
    ASSERT_EQ(termio_EnableOneCharReads(pty.slave(), 0), 0);
    ASSERT_EQ(termio_EnableOneCharReads(pty.slave(), 0), 0);
    EXPECT_FALSE(pty.settings().c_lflag & ICANON);
    EXPECT_EQ(termio_EnableOneCharReads(pty.slave(), 1), 0);
    EXPECT_TRUE(same_settings(pty.settings(), before));
}

TEST(OneCharReads, OffWithNothingSavedChangesNothing)
{
    unit::Pty pty(false);
    struct termios mine = pty.settings();
    mine.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    mine.c_cc[VMIN] = 3;
    ASSERT_EQ(tcsetattr(pty.slave(), TCSANOW, &mine), 0);
    struct termios before = pty.settings();

    EXPECT_EQ(termio_EnableOneCharReads(pty.slave(), 1), 0);
    EXPECT_TRUE(same_settings(pty.settings(), before));
}

TEST(OneCharReads, OnFailsOnAPipe)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_EQ(termio_EnableOneCharReads(fds[0], 0), -1);
    close(fds[0]);
    close(fds[1]);
}

TEST(DiagnosticsStream, DefaultsToStderrAndFollowsSetStderr)
{
    EXPECT_EQ(get_stderr(), stderr);

    unit::TempDir dir;
    FILE *diag = tmpfile();
    ASSERT_NE(diag, nullptr);
    set_stderr(diag);
    EXPECT_EQ(get_stderr(), diag);

    // The diagnostics go to the chosen stream, the rest still to stderr.
    char name[80] = "/dev/ttyb";
    unit::CaptureFd err(2);
    EXPECT_EQ(get_device_file(name), RC_OK);
    std::string on_stderr = err.finish();
    fflush(diag);
    rewind(diag);
    char buf[256] = {0};
    size_t n = fread(buf, 1, sizeof buf - 1, diag);
    EXPECT_EQ(std::string(buf, n), "Storing new device file name (/dev/ttyb).\n");
    EXPECT_EQ(on_stderr, "Could not find \"serial_port\", creating...\n");

    set_stderr(nullptr);
    EXPECT_EQ(get_stderr(), stderr);
    fclose(diag);
}

}  // namespace
