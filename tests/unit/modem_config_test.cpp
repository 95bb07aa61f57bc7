// The modem strings and their configuration file (load_modem_config), and
// the per-device file name (form_safe_script_name).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "modem_internal.h"
#include "support.h"
#include "vendlink/io.h"

namespace {

const char config_name[] = "modem.dat";

struct Strings {
    std::string dial, hangup, setup, connect, ack;
};

const Strings defaults = {"", "~~+++~~ATH", "AT", "CONNECT", "OK"};

Strings loaded()
{
    const ModemStrings &s = modem_strings();
    return {s.dial_string, s.hangup_string, s.setup_string, s.connect_string, s.ack_string};
}

void expect_strings(const Strings &want)
{
    Strings got = loaded();
    EXPECT_EQ(got.dial, want.dial);
    EXPECT_EQ(got.hangup, want.hangup);
    EXPECT_EQ(got.setup, want.setup);
    EXPECT_EQ(got.connect, want.connect);
    EXPECT_EQ(got.ack, want.ack);
}

// The file as load_modem_config writes it back.
std::string file_text(const Strings &s)
{
    return "DIAL " + s.dial + "\nHANGUP " + s.hangup + "\nSETUP " + s.setup + "\nCONNECT " +
           s.connect + "\nACK " + s.ack + "\n";
}

struct Load {
    int rc;
    std::string err;
};

Load load(const char *dial_override, const char *file)
{
    unit::CaptureFd err(2);
    Load r;
    r.rc = load_modem_config(dial_override, file);
    r.err = err.finish();
    return r;
}

Strings with(Strings s, std::string Strings::*field, const std::string &value)
{
    s.*field = value;
    return s;
}

TEST(ModemConfig, NoFileNameUsesDefaultsAndWritesNothing)
{
    unit::TempDir dir;
    Load r = load(nullptr, nullptr);
    EXPECT_EQ(r.rc, RC_OK);
    EXPECT_EQ(r.err, "Using defaults for all modem strings.\n");
    expect_strings(defaults);
    EXPECT_TRUE(unit::list_dir(dir.path()).empty());

    r = load("ATDT5551234", nullptr);
    EXPECT_EQ(r.rc, RC_OK);
    expect_strings(with(defaults, &Strings::dial, "ATDT5551234"));
}

TEST(ModemConfig, MissingFileIsCreatedWithTheDefaults)
{
    unit::TempDir dir;
    Load r = load(nullptr, config_name);
    EXPECT_EQ(r.rc, RC_OK);
    EXPECT_EQ(r.err, "File not found.  Creating...modem.dat.\n");
    expect_strings(defaults);
    EXPECT_EQ(unit::read_file(config_name),
              "DIAL \nHANGUP ~~+++~~ATH\nSETUP AT\nCONNECT CONNECT\nACK OK\n");
}

TEST(ModemConfig, MissingFileIsCreatedWithTheDialOverride)
{
    unit::TempDir dir;
    Load r = load("ATDT5551234", config_name);
    EXPECT_EQ(r.rc, RC_OK);
    EXPECT_EQ(unit::read_file(config_name), file_text(with(defaults, &Strings::dial, "ATDT5551234")));
}

struct ReadCase {
    const char *what;
    std::string file;
    const char *dial_override;
    Strings want;
};

const std::string long_override(200, '7');

const ReadCase read_cases[] = {
    {"every keyword",
     "DIAL ATDT5551234\nHANGUP ATH0\nSETUP ATZ\nCONNECT CARRIER\nACK READY\n",
     nullptr, {"ATDT5551234", "ATH0", "ATZ", "CARRIER", "READY"}},
    {"value right behind the keyword", "HANGUPATH\nACKREADY\n", nullptr,
     {"", "ATH", "AT", "CONNECT", "READY"}},
    {"first word of the value only", "ACK OK now\nDIAL ATDT 555\n", nullptr,
     {"ATDT", "~~+++~~ATH", "AT", "CONNECT", "OK"}},
    {"keyword without value keeps the default", "HANGUP\nACK   \nSETUP\t\n", nullptr, defaults},
    {"CR LF line ends", "HANGUP ATH0\r\nACK READY\r\n", nullptr,
     {"", "ATH0", "AT", "CONNECT", "READY"}},
    {"tab-led, empty and CR lines are skipped", "\tnotes here\n\nHANGUP ATH0\n\r\n", nullptr,
     {"", "ATH0", "AT", "CONNECT", "OK"}},
    {"the last of a repeated keyword", "ACK ONE\nACK TWO\n", nullptr,
     {"", "~~+++~~ATH", "AT", "CONNECT", "TWO"}},
    {"last line without its end", "ACK READY", nullptr,
     {"", "~~+++~~ATH", "AT", "CONNECT", "READY"}},
    {"continuation of a long line led by a tab",
     "HANGUP ATH0" + std::string(68, ' ') + "\tmore\n", nullptr,
     {"", "ATH0", "AT", "CONNECT", "OK"}},
    {"continuation of a long line that is its end",
     "HANGUP ATH0" + std::string(68, ' ') + "\n", nullptr, {"", "ATH0", "AT", "CONNECT", "OK"}},
    {"value of high bytes", "ACK \xff\xfeOK\n", nullptr,
     {"", "~~+++~~ATH", "AT", "CONNECT", "\xff\xfeOK"}},
    {"NUL bytes end a value and lead a skipped line",
     std::string("ACK O\0K\n\0junk\nHANGUP ATH0\n", 26), nullptr,
     {"", "ATH0", "AT", "CONNECT", "O"}},
    {"dial override beats the file", "DIAL ATDT999\nACK READY\n", "ATDT5551234",
     {"ATDT5551234", "~~+++~~ATH", "AT", "CONNECT", "READY"}},
    {"empty dial override beats the file too", "DIAL ATDT999\n", "", defaults},
    {"long dial override is cut", "", long_override.c_str(),
     with(defaults, &Strings::dial, long_override.substr(0, 132))},
};

TEST(ModemConfig, ReadsTheFileAndWritesItBackInOrder)
{
    for (const ReadCase &c : read_cases) {
        SCOPED_TRACE(c.what);
        unit::TempDir dir;
        unit::write_file(config_name, c.file);
        Load r = load(c.dial_override, config_name);
        EXPECT_EQ(r.rc, RC_OK);
        EXPECT_EQ(r.err, "");
        expect_strings(c.want);
        EXPECT_EQ(unit::read_file(config_name), file_text(c.want));
    }
}

struct BadCase {
    const char *what;
    std::string file;
    std::string reported;  // the offending line as read
};

const BadCase bad_cases[] = {
    {"line led by a blank", "HANGUP ATH0\n ACK OK\n", " ACK OK\n"},
    {"comment", "# modem strings\nACK OK\n", "# modem strings\n"},
    {"lower-case keyword", "ack OK\n", "ack OK\n"},
    {"unknown word with CR LF", "ACK OK\r\nSPEED 9600\r\n", "SPEED 9600\r\n"},
    {"high bytes", "\xff\xfe\n", "\xff\xfe\n"},
    {"continuation of a long line",
     "HANGUP " + std::string(100, 'A') + "\n", std::string(28, 'A') + "\n"},
    {"last line without its end", "ACK OK\nFOO", "FOO"},
};

TEST(ModemConfig, UnrecognizedLineStopsTheLoadAndLeavesTheFile)
{
    for (const BadCase &c : bad_cases) {
        SCOPED_TRACE(c.what);
        unit::TempDir dir;
        unit::write_file(config_name, c.file);
        Load r = load(nullptr, config_name);
        EXPECT_EQ(r.rc, RC_CONFIG_IDENTIFIER);
        EXPECT_EQ(r.err, "Unrecognized identifier:\n" + c.reported + "\n");
        EXPECT_EQ(unit::read_file(config_name), c.file);
    }
}

TEST(ModemConfig, EachLoadStartsFromEmptyStrings)
{
    unit::TempDir dir;
    unit::write_file("first.dat", "DIAL ATDT999\nACK READY\n");
    unit::write_file("second.dat", "HANGUP ATH0\n");
    ASSERT_EQ(load(nullptr, "first.dat").rc, RC_OK);
    ASSERT_EQ(load(nullptr, "second.dat").rc, RC_OK);
    expect_strings({"", "ATH0", "AT", "CONNECT", "OK"});
}

TEST(ModemConfig, FileNamedLikeADirectoryCannotBeWritten)
{
    unit::TempDir dir;
    ASSERT_EQ(mkdir(config_name, 0755), 0);
    Load r = load(nullptr, config_name);
    EXPECT_EQ(r.rc, RC_CONFIG_WRITE);
    EXPECT_EQ(r.err, "Could not open modem.dat for writing.\n");
}

TEST(ModemConfig, ReadOnlyFileIsReportedAndKept)
{
    unit::TempDir dir;
    const std::string old_text = "ACK READY\n";
    unit::write_file(config_name, old_text);
    ASSERT_EQ(chmod(config_name, 0444), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);

    unit::CaptureFd err(2);
    int status = unit::run_in_child([] {
        // root writes any file: do it as a user whom the mode binds.
        if (geteuid() == 0 && setuid(unit::nobody_id) != 0)
            return 200;
        return load_modem_config(nullptr, config_name) & 0xff;
    });
    std::string text = err.finish();
    if (status == 200)
        GTEST_SKIP() << "cannot drop privileges here";
    EXPECT_EQ(status, RC_CONFIG_WRITE & 0xff);
    EXPECT_EQ(text, "Could not open modem.dat for writing.\n");
    EXPECT_EQ(unit::read_file(config_name), old_text);
}

TEST(ModemConfig, FileIsReplacedWholeWithNothingLeftBeside)
{
    unit::TempDir dir;
    unit::write_file(config_name, "ACK READY\n");
    ASSERT_EQ(chmod(config_name, 0640), 0);
    ino_t before = unit::inode_of(config_name);
    ASSERT_EQ(load(nullptr, config_name).rc, RC_OK);
    EXPECT_NE(unit::inode_of(config_name), before) << "not replaced by a rename";
    EXPECT_EQ(unit::read_file(config_name), file_text(with(defaults, &Strings::ack, "READY")));
    EXPECT_EQ(unit::list_dir(dir.path()), std::vector<std::string>{config_name});
    struct stat st;
    ASSERT_EQ(stat(config_name, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(ModemConfig, HardLinkedFileIsRewrittenInPlace)
{
    unit::TempDir dir;
    unit::write_file(config_name, "ACK READY\n" + std::string(500, '\t') + "\n");
    ASSERT_EQ(link(config_name, "other-name"), 0);
    ASSERT_EQ(load(nullptr, config_name).rc, RC_OK);
    std::string want = file_text(with(defaults, &Strings::ack, "READY"));
    EXPECT_EQ(unit::read_file(config_name), want);
    EXPECT_EQ(unit::read_file("other-name"), want);
}

struct NameCase {
    const char *base;
    const char *device;
    const char *name;          // nullptr: refused
    const char *device_after;
};

TEST(ScriptName, BaseFollowedByTheLastComponentOfTheDevice)
{
    const std::string base_199 = std::string(194, 'b');  // + ".ttya" = 199
    const std::string base_200 = std::string(195, 'b');  // + ".ttya" = 200
    const std::string name_199 = base_199 + ".ttya";
    const std::string dev_long = "/" + std::string(200, 'd');
    const NameCase cases[] = {
        {"modem.dat", "/dev/ttya", "modem.dat.ttya", "/dev.ttya"},
        {"modem.dat", "/dev/term/a", "modem.dat.a", "/dev/term.a"},
        {"cfg/modem.dat", "/dev/ttyS0", "cfg/modem.dat.ttyS0", "/dev.ttyS0"},
        {"modem.dat", "ttya", "modem.datttya", "ttya"},
        {"modem.dat", "/ttya", "modem.dat/ttya", "/ttya"},
        {"modem.dat", "", "modem.dat", ""},
        {"", "/dev/ttya", ".ttya", "/dev.ttya"},
        {base_199.c_str(), "/dev/ttya", name_199.c_str(), "/dev.ttya"},
        {base_200.c_str(), "/dev/ttya", nullptr, "/dev/ttya"},
        {"m", dev_long.c_str(), nullptr, dev_long.c_str()},
    };
    for (const NameCase &c : cases) {
        SCOPED_TRACE(std::string(c.base) + " + " + c.device);
        std::vector<char> dest(SCRIPT_NAME_SIZE, 'X');
        std::vector<char> device(c.device, c.device + strlen(c.device) + 1);
        char *r = form_safe_script_name(dest.data(), c.base, device.data());
        if (c.name == nullptr) {
            EXPECT_EQ(r, nullptr);
            EXPECT_EQ(dest[0], '\0');
        } else {
            EXPECT_EQ(r, dest.data());
            EXPECT_STREQ(dest.data(), c.name);
        }
        EXPECT_STREQ(device.data(), c.device_after);
    }
}

TEST(ScriptName, MissingBaseOrDeviceGivesTheBaseBack)
{
    char dest[SCRIPT_NAME_SIZE] = "untouched";
    char device[] = "/dev/ttya";
    const char *base = "modem.dat";
    EXPECT_EQ(form_safe_script_name(dest, base, nullptr), base);
    EXPECT_EQ(form_safe_script_name(dest, nullptr, device), nullptr);
    EXPECT_STREQ(dest, "untouched");
    EXPECT_STREQ(device, "/dev/ttya");
}

}  // namespace
