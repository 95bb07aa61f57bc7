// The scenarios: vendhook, every way a run can go; the library as a connect program uses it
// (examples/vendconnect.c); vendsim's own command line.  docs/fault-matrix.md names the rows of
// the faults.
#include <sys/sem.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <set>

#include "driver.h"
#include "fuzz.h"
#include "vendlink/semlock.h"

namespace {

namespace fs = std::filesystem;

// The pty keeps no parity bit of its own: PARODD alone shows odd parity.
const std::string raw_line = line_of(9600, CS8 | PARODD | CRTSCTS | CLOCAL | CREAD);

using fuzz::config_file;

// A run that hangs up with the built-in strings after the messages in `err`.
Row hangs_up(Row row)
{
    row.err += done;
    row.sent = hung_up;
    return row;
}

// A run that hangs up with the file's "ATH0", the port opened as by default.
Row hangs_up_with_ath0(Row row)
{
    row.err = opened + hangup + "Done.\n";
    row.sent = {{0.5, "ATH0\r"}};
    return row;
}

// A value glued to its keyword filling a 79-character piece; the line written back, one longer.
const std::string glued = std::string(70, '0') + "ATH";

std::string owner_of(const std::string &path)
{
    struct stat st { };
    lstat(path.c_str(), &st);
    return std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid) + " "
        + std::to_string(st.st_mode & 07777);
}

std::string entries_of(const std::string &dir)
{
    std::set<std::string> names;
    for (const auto &e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return std::accumulate(names.begin(), names.end(), std::string(),
                           [](auto a, auto b) { return a + b + " "; });
}

// User 4242's configuration file, mode 0666, rewritten by another user or by root (in the folder
// all may write): it stays 4242's.
Row others_file(const char *name, bool nobody)
{
    return hangs_up_with_ath0(
        {.name = name,
         .args = {"-D$M", "-Ccfg"},
         .given = {{"cfg.modem", "HANGUP ATH0\n"}},
         .setup =
             [](const Run &r) {
                 ASSERT_EQ(chown((r.dir + "/cfg.modem").c_str(), 4242, 4242), 0);
                 ASSERT_EQ(chmod((r.dir + "/cfg.modem").c_str(), 0666), 0);
             },
         .nobody = nobody,
         .left = {{"cfg.modem", config_file("", "ATH0")}},
         .check
         = [](const Run &r) { EXPECT_EQ(owner_of(r.dir + "/cfg.modem"), "4242:4242 438"); }});
}

void in_read_only_folder(const Run &r)
{
    mkdir((r.dir + "/ro").c_str(), 0755);
    std::ofstream(r.dir + "/ro/cfg.modem") << "HANGUP ATH0\n";
    chmod((r.dir + "/ro/cfg.modem").c_str(), 0666);
    chmod((r.dir + "/ro").c_str(), 0555);
}

std::vector<Row> hangup_rows()
{
    const std::string long_path = "/" + std::string(99, 'd');
    const std::string cut_path = long_path.substr(0, 80);
    return {
        hangs_up({.name = "HangsUpACall",
                  .sim = {"--connected"},
                  .err = opened,
                  .left = {{"serial_port", "$M"}},
                  .dtr = "1",
                  .line = raw_line}),
        hangs_up({.name = "LaterOptionsWinAndOtherWordsAreIgnored",
                  .args = {"-B2400", "-Bfast", "-B", "-B19200x", "-D/nowhere", "-d$M", "-Pz",
                           "-PNONE", "-PE", "--rtscts", "-+RTSCTS", "-+dropdtr", "--verbose", "--",
                           "-+", "--RtsCts"},
                  .setup =
                      [](const Run &r) {
                          termios t;
                          tcgetattr(r.line_fd, &t);
                          t.c_cflag |= CRTSCTS;
                          tcsetattr(r.line_fd, TCSANOW, &t);
                      },
                  .err = created + stored
                      + "RTSXOFF is Enabled\nCTSXON is Enabled\nRTSXOFF is now DISABLED.\n"
                        "Port initialized (19200 baud, 8 data bits, Even, 1 stop bit)\n",
                  .dtr = "1",
                  .line = line_of(19200, CS8 | CLOCAL | CREAD)}),
        hangs_up({.name = "UnsupportedBaudFallsBackTo9600",
                  .args = {"-D$M", "-B110", "-Pn"},
                  .err = created + stored + "Warning: 110 baud not supported on this platform.\n"
                      + "         Will default to 9600 baud.\n" + flow
                      + "Port initialized (9600 baud, 8 data bits, None, 1 stop bit)\n",
                  .line = raw_line}),
        hangs_up({.name = "LineRefusingFlowControl",
                  .env = "VENDTEST_NO_RTSCTS=1",
                  .err = created + stored + "RTSXOFF is Disabled\nCTSXON is Disabled\n"
                      + "Could not set H/W Flow Control.\n" + port,
                  .line = line_of(9600, CS8 | PARODD | CLOCAL | CREAD)}),

        // A silent modem costs the reply wait, which ends once a line read has had more than five
        // idle seconds.
        {.name = "SilentModem",
         .sim = {"--reply", "silent"},
         .err = opened + done,
         .sent = hung_up,
         .wall = 10.5},
        {.name = "FlowControlHoldingTheHangUp",
         .args = {"-D$M", "--dropdtr"},
         .sim = {"--reply", "silent"},
         .env = "VENDTEST_HELD=1",
         .err = opened + defaults_used + hangup
             + "The modem did not take the hang-up string (flow control is holding it: "
               "is the modem on, and the cable wired for RTS/CTS?).\nDone.\n",
         .sent = hung_up,
         .dtr = "10",
         .wall = 10.5},
        // The modem gone (vendsim closing its side) ends the run at once, which never reports a
        // hang-up that did not all go out.
        {.name = "ModemVanishingInThePauses",
         .args = {"-D$M", "-Ccfg"},
         .sim = {"--vanish-after-bytes", "1"},
         .given = {{"cfg.modem", "HANGUP X~~+++~~ATH\n"}},
         .err = opened + hangup + gone + "Done (-1).\n",
         .sent = {{0.5, "X"}}},
        {.name = "ModemVanishingInTheEscape",
         .sim = {"--vanish-after-bytes", "1"},
         .err = opened + defaults_used + hangup + gone + "Done (-1).\n",
         .sent = {{2.5, "+"}},
         .left = {{"serial_port", "$M"}}},
        {.name = "ModemVanishingInTheReplyWait",
         .sim = {"--reply", "silent", "--vanish-after-bytes", "7"},
         .err = opened + defaults_used + hangup + gone + "Done.\n",
         .sent = hung_up},
        // A committed recording played back: a program that sends something else is caught.
        {.name = "ReplayCatchesAnotherHangUpString",
         .args = {"-D$M", "-Ccfg"},
         .sim = {"--replay", RECORDED "/hangup.log"},
         .given = {{"cfg.modem", "HANGUP ATZ\n"}},
         .sim_status = 4,
         .err = opened + hangup + "Done.\n",
         .sent = {{0.5, "ATZ\r"}},
         .wall = 6.5},
        {.name = "ReplayCatchesAnotherSpeed",
         .args = {"-D$M", "-B2400"},
         .sim = {"--replay", RECORDED "/hangup.log"},
         .sim_status = 4,
         .err = created + stored + flow
             + "Port initialized (2400 baud, 8 data bits, Odd, 1 stop bit)\n" + done,
         .sent = hung_up,
         .wall = 10.5,
         .check =
             [](const Run &r) {
                 EXPECT_EQ(
                     system(r.expand("grep -qx '.*event   expected line 9600 8O1, RTS/CTS on, "
                                     "got line 2400 8O1, RTS/CTS on' $D/../modem.log")
                                .c_str()),
                     0);
             }},

        // A file of the run's own name, not /dev/null, whose lock every suite at work would share.
        {.name = "DeviceThatIsNotATerminal",
         .args = {"-D$D/plain"},
         .setup =
             [](const Run &r) {
                 const std::filesystem::path top = std::filesystem::path(r.dir).parent_path();
                 std::ofstream(top / top.filename()).flush();
                 std::filesystem::create_symlink(top / top.filename(), r.dir + "/plain");
             },
         .err = created + "Storing new device file name ($D/plain).\n"
             + "Could not read H/W Flow Control Settings: Inappropriate ioctl for device\n" + port
             + done,
         .dtr = "",
         .wall = 10.5},
        {.name = "DevicePathCutTo80Characters",
         .args = {"-D" + long_path},
         .out = "Unable to open device file \"" + cut_path + "\"\n\n",
         .err = created + "Storing new device file name (" + cut_path + ").\nDone (-1).\n",
         .left = {{"serial_port", cut_path}}},

        // The device-name file; runs it must refuse run as another user.
        {.name = "DeviceFromTheNameFileAndConfigWithoutDevice",
         .args = {"-Cmodem.dat"},
         .given = {{"serial_port", "$M\r\n/dev/x\n"}},
         .err = flow + port + "File not found.  Creating...modem.dat.\n" + hangup + "Done.\n",
         .sent = hung_up,
         .left = {{"serial_port", "$M\r\n/dev/x\n"}, {"modem.dat", config_file("")}}},
        {.name = "NoNameFileAndNoDevice",
         .args = {},
         .out = "Unable to open device file \"/dev/ttya\"\n\n",
         .err = created + "Done (-1).\n",
         .left = {{"serial_port", "/dev/ttya"}}},
        {.name = "EmptyNameFile",
         .args = {},
         .given = {{"serial_port", ""}},
         .err = "Can not read file.\nDone (-1).\n"},
        {.name = "NameFileLongerThanALine",
         .args = {},
         .given = {{"serial_port", std::string(300, 'x')}},
         .out = "Unable to open device file \"" + std::string(79, 'x') + "\"\n\n",
         .err = "Done (-1).\n"},
        {.name = "NameFileUnreadableWithDevice",
         .given = {{"serial_port", "/dev/old"}},
         .setup = [](const Run &r) { chmod((r.dir + "/serial_port").c_str(), 0); },
         .nobody = true,
         .err = created + "Can not create \"serial_port\"\nDone (-1).\n",
         .left = {{"serial_port", "/dev/old"}},
         .check =
             [](const Run &r) {
                 EXPECT_EQ(fs::status(r.dir + "/serial_port").permissions(), fs::perms::none);
             }},
        hangs_up({.name = "NameFileReadOnlyWithDevice",
                  .given = {{"serial_port", "/dev/old"}},
                  .setup = [](const Run &r) { chmod((r.dir + "/serial_port").c_str(), 0444); },
                  .nobody = true,
                  .err = stored
                      + "Can not store the device name in \"serial_port\" (Permission "
                        "denied); using $M for this run.\n"
                      + flow + port,
                  .left = {{"serial_port", "/dev/old"}}}),

        {.name = "ConfigFileValuesUsedAndCompleted",
         .args = {"-D$M", "-Ccfg"},
         .given = {{"cfg.modem", "HANGUP ~ATH0\r\nACK ATHX\n\tskipped\n\nSETUPAT&F extra\nDIAL\n"}},
         .err = opened + hangup + "Done.\n",
         .sent = {{1.5, "ATH0\r"}},
         .left = {{"cfg.modem", config_file("", "~ATH0", "AT&F", "CONNECT", "ATHX")}}},
        {.name = "ConfigFileWithAnUnknownLine",
         .args = {"-D$M", "-Ccfg"},
         .given = {{"cfg.modem", "HANGUP ATH\n# a comment\n"}},
         .err = opened + "Unrecognized identifier:\n# a comment\n\nDone (-7).\n",
         .left = {{"cfg.modem", "HANGUP ATH\n# a comment\n"}},
         .wall = 0.5},
        {.name = "ConfigFileReadOnly",
         .args = {"-D$M", "-Ccfg"},
         .given = {{"cfg.modem", "ACK OK\n"}},
         .setup = [](const Run &r) { chmod((r.dir + "/cfg.modem").c_str(), 0444); },
         .nobody = true,
         .err = opened + "Could not open cfg.modem for writing.\nDone (-8).\n",
         .left = {{"cfg.modem", "ACK OK\n"}},
         .wall = 0.5},
        {.name = "ConfigFileNameTooLong",
         .args = {"-D$M", "-C" + std::string(194, 'c')},
         .err = opened + "Modem config file name would be longer than 199 characters.\n"
             + "Done (-8).\n",
         .wall = 0.5},
        hangs_up_with_ath0({.name = "ConfigFileInAReadOnlyFolder",
                            .args = {"-D$M", "-Cro/cfg"},
                            .setup = in_read_only_folder,
                            .nobody = true,
                            .left = {{"ro/cfg.modem", config_file("", "ATH0")}}}),
        {.name = "ConfigValueGluedToItsKeywordOnAFullLine",
         .args = {"-D$M", "-Ccfg"},
         .given = {{"cfg.modem", "HANGUP" + glued + "\n"}},
         .err = opened + hangup + "Done.\n",
         .sent = {{0.5, glued + "\r"}},
         .left = {{"cfg.modem", config_file("", glued)}}},
        {.name = "ConfigLineWrittenBackForAGluedValueIsTooLong",
         .args = {"-D$M", "-Ccfg"},
         .given = {{"cfg.modem", config_file("", glued)}},
         .err = opened + "Unrecognized identifier:\nH\n\nDone (-7).\n",
         .left = {{"cfg.modem", config_file("", glued)}},
         .wall = 0.5},

        // A rewrite keeps the file's owner, group and mode, and one that cannot be written costs no
        // hang-up: the file stays as it was.
        others_file("OtherUsersConfigFileInASharedFolder", true),
        others_file("OtherUsersConfigFileRewrittenByRoot", false),
        {.name = "FilesOnAFullDisk",
         .args = {"-D$M", "-Ccfg"},
         .given = {{"cfg.modem", "HANGUP ATH0\n"}},
         .env = "VENDTEST_FULL=$D",
         .err = created
             + "Could not write serial_port (No space left on device); it is left as it was.\n"
             + stored + flow + port
             + "Could not write cfg.modem (No space left on device); it is left as it was.\n"
             + hangup + "Done.\n",
         .sent = {{0.5, "ATH0\r"}},
         .left = {{"cfg.modem", "HANGUP ATH0\n"}},
         .check = [](const Run &r) { EXPECT_EQ(entries_of(r.dir), "cfg.modem modem "); }},
        {.name = "CtrlCWhileAFileIsRewritten",
         .args = {"-D$M", "-Ccfg"},
         .given = {{"cfg.modem", "HANGUP ATH0\n"}},
         .env = "VENDTEST_SLOW_RENAME=cfg.modem",
         .sigint_ms = 1000,
         .err = opened + interrupted,
         .left = {{"cfg.modem", config_file("", "ATH0")}},
         .wall = 1.5,
         .check
         = [](const Run &r) { EXPECT_EQ(entries_of(r.dir), "cfg.modem modem serial_port "); }},

        // Before the port opens: "serial_port" is a FIFO without a writer, so the run waits in
        // open(2), outside every wait of ours.
        {.name = "CtrlCBeforeThePortOpens",
         .setup = [](const Run &r) { mkfifo((r.dir + "/serial_port").c_str(), 0644); },
         .sigint_ms = 1000,
         .err = interrupted,
         .dtr = "",
         .check = [](const Run &r) { EXPECT_TRUE(fs::is_fifo(r.dir + "/serial_port")); }},
        {.name = "CtrlCInThePausesLeavesDtrUp",
         .sigint_ms = 3000,
         .err = opened + defaults_used + hangup + interrupted,
         .sent = {{2.5, "+++"}},
         .dtr = "1"},
        {.name = "CtrlCWaitingForTheReply",
         .args = {"-D$M", "--dropdtr"},
         .sim = {"--reply", "silent"},
         .sigint_ms = 6000,
         .err = opened + defaults_used + hangup + interrupted,
         .sent = hung_up,
         .dtr = "10"},
        {.name = "CtrlCAtThePagersPrompt",
         .args = {"-x"},
         .tty = true,
         .sigint_ms = 0,
         .usage = true,
         .wall = 0.1},

        // Bad command lines: the usage and help text, status -14; -M too, which its help names.
        {.name = "UsageOnATerminalPauses",
         .args = {"-x"},
         .tty = true,
         .status = 242,
         .usage = true,
         .wall = 0.1},
        {.name = "DialOptionOfTheConnectProgram",
         .args = {"-M"},
         .status = 242,
         .err
         = "usage: vendhook [-Ddev] [-Bbaud] [-Pparity] [-Cconfig]\n\nNote: Usage implies modem "
           "connection.\n  -M[dialing_string]\tInitialize and use modem interface.  Dial "
           "with\n[...]"},
        {.name = "ValueAsASeparateArgument",
         .args = {"-D", "/dev/ttyb"},
         .status = 242,
         .usage = true},
    };
}

const std::vector<std::string> dial = {"-D$M", "-MATDT5551234"};
const std::string dialed = opened + defaults_used;
const std::string dialing = "Initializing modem...\nDialing...\n\nATDT5551234\n";
const std::string connected
    = dialed + dialing + "\n\nCONNECT 9600\nTesting communications link...wait.\n";
const std::string linked = connected + "Testing receiver configuration\n";
const std::string zeros_enq = std::string(260, '\0') + "\x05";
const std::string config_request = fuzz::framed(0x4a, "");
const std::string mode_request = fuzz::framed(0x82, std::string("\0\x08\0\0\x02", 5));
const std::string ident_request = fuzz::framed(0x06, "");
const std::string session = zeros_enq + config_request + mode_request + ident_request;
const std::string ident
    = "Receiver type 4: \"RCV-3000\" \"SN004711\", versions 2.35 1.20 0.45, counts 12 12\n";

// Half a second draining, a second's pause, the set-up and at its "OK" the dial; the call 2 s on.
std::vector<Burst> sent(const std::string &talk)
{
    return {{1.5, "AT\rATDT5551234\r"}, {3.5, talk}, {5.5, "+++"}, {7.5, "ATH\r"}};
}

// The lock is keyed on the line's device file (by any name) with the project number 100, open to
// all, so that the family's other programs keep off too; free again afterwards, even after a
// Ctrl-C.
void lock_released(const Run &r)
{
    int id = semget(r.key, 1, 0);
    ASSERT_NE(id, -1) << "no lock under the line's key";
    semid_ds ds;
    EXPECT_EQ(semctl(id, 0, IPC_STAT, &ds), 0);
    EXPECT_EQ(ds.sem_perm.mode & 0777, 0666u);
    EXPECT_EQ(semctl(id, 0, GETVAL), 0);
    EXPECT_EQ(unlock_device(r.slave.c_str()), RC_FAIL);
    semctl(id, 0, IPC_RMID);
}

std::vector<Row> connect_rows()
{
    std::string nine_more;
    for (int attempt = 2; attempt <= 10; ++attempt)
        nine_more += std::string(260, '\0') + config_request;
    return {
        {.name = "WholeSession",
         .args = {"-D$M", "-MATDT5551234", "-Ccfg"},
         .out = ident,
         .err = opened + "File not found.  Creating...cfg.modem.\n" + linked.substr(dialed.size())
             + hangup + "Done.\n",
         .sent = sent(session),
         .left = {{"cfg.modem", config_file("ATDT5551234")}}},
        {.name = "WholeSessionRecordedThroughARelay",
         .sim = {"--record", "$D/device"},
         .device = {"--dial", "connect:9600"},
         .out = ident,
         .err = linked + hangup + "Done.\n",
         .sent = sent(session)},
        {.name = "WholeSessionReplayed",
         .sim = {"--replay", RECORDED "/connect.log"},
         .out = ident,
         .err = linked + hangup + "Done.\n",
         .sent = sent(session)},
        {.name = "NoisyLineStrayPacketsAndABadChecksum",
         .sim = {"--noise", "8", "--slip-93", "1", "--bad-checksum", "1"},
         .out = ident,
         .err = linked + hangup + "Done.\n",
         .sent = {{1.5, "AT\rATDT5551234\r"},
                  {3.5, zeros_enq + config_request + std::string(260, '\0')},
                  {4.0, config_request + mode_request + ident_request},
                  {6.0, "+++"},
                  {8.0, "ATH\r"}}},
        // An acknowledgement in the limit's third second comes too late, though the line matches.
        {.name = "AcknowledgementInTheLimitsLastSecond",
         .sim = {"--reply", "late:3.3"},
         .err = dialed + "Initializing modem...\n" + hangup + "Done (-6).\n",
         .sent = {{1.5, "AT\r"}, {6.8, "+++"}, {8.8, "ATH\r"}}},
        // Twelve empty lines of a silent modem, then an "OK" in the limit's 75th second: too late.
        {.name = "NoConnectionIn75Seconds",
         .sim = {"--dial", "ok", "--dial-delay", "75.3"},
         .err = dialed + dialing + std::string(13, '\n')
             + "Could not establish host->modem connection.\n" + hangup + "Done (-6).\n",
         .sent = {{1.5, "AT\rATDT5551234\r"}, {78.8, "+++"}, {80.8, "ATH\r"}},
         .pace = 10},
        {.name = "ReceiverNaksFor30Seconds",
         .sim = {"--enq", "nak"},
         .err = connected + "...and wait\n[...]...and wait\n"
             + "Could not establish communication with remote receiver.\n" + hangup
             + "Done (-9).\n",
         .sent = {{1.5, "AT\rATDT5551234\r"},
                  {3.5, zeros_enq},
                  {-1, std::string(29, '\x05') + "+++ATH\r"}},
         .wall = 37.6,
         .pace = 10},
        {.name = "RemoteMonitor",
         .sim = {"--monitor"},
         .err = linked + "Receiver is in REMOTE MONITOR.\n" + hangup + "Done (-35).\n",
         .sent = sent(zeros_enq + config_request + mode_request)},
        {.name = "NoConfigurationReplyInTenAttempts",
         .sim = {"--ignore-requests", "10"},
         .err = linked + "Could not retrieve receiver config.\n" + hangup + "Done (-23).\n",
         .sent = {{1.5, "AT\rATDT5551234\r"},
                  {3.5, zeros_enq + config_request},
                  {-1, nine_more},
                  {-1, "+++ATH\r"}},
         .wall = 72.3,
         .slack = 0.4,  // sixty waits, each a little late
         .pace = 10},
        // The modem gone: every operation ends at once, and nothing more is sent.
        {.name = "ModemVanishingWhileDialing",
         .sim = {"--dial", "vanish"},
         .err = dialed + dialing + gone + "Done (-6).\n",
         .sent = {{1.5, "AT\rATDT5551234\r"}},
         .wall = 3.5},
        {.name = "ModemVanishingInTheHandshake",
         .sim = {"--enq", "silent", "--vanish-after-bytes", "276"},
         .err = connected + gone + "Done (-9).\n",
         .sent = {{1.5, "AT\rATDT5551234\r"}, {3.5, zeros_enq}}},
        {.name = "ModemVanishingWaitingForAPacket",
         .sim = {"--packet-reply", "silent", "--vanish-after-bytes", "282"},
         .err = linked + gone + "Done (-23).\n",
         .sent = {{1.5, "AT\rATDT5551234\r"}, {3.5, zeros_enq + config_request}}},
        {.name = "CtrlCWhileDialing",
         .sigint_ms = 2500,
         .err = dialed + dialing + "Terminated from Ctrl-C\n",
         .sent = {{1.5, "AT\rATDT5551234\r"}}},
        {.name = "DeviceThatDoesNotExist",
         .args = {"-D$D/none"},
         .status = 255,
         .err = "device lock failed.\n",
         .check = [](const Run &) {}},
        {.name = "LockThatWeMayNotUse",
         .setup = [](const Run &r) { semget(ftok(r.slave.c_str(), 100), 1, IPC_CREAT | 0600); },
         .nobody = true,
         .status = 255,
         .err = "semaphore failure: Permission denied\n",
         .check
         = [](const Run &r) { semctl(semget(ftok(r.slave.c_str(), 100), 1, 0), 0, IPC_RMID); }},
        {.name = "LockHeldElsewhere",
         .setup = [](const Run &r) { lock_device(r.slave.c_str()); },
         .status = 255,
         .err = "semaphore lock failure: Resource temporarily unavailable\n",
         .check =
             [](const Run &r) {
                 EXPECT_EQ(unlock_device(r.slave.c_str()), RC_OK);
                 lock_released(r);
             }},
    };
}

// vendsim's own command line and its real devices, where the runs of the programs do not reach.
std::vector<Row> vendsim_rows()
{
    return {
        {.name = "LinkThatWouldReplaceAFile",
         .args = {"--link", "$D/file"},
         .given = {{"file", "mine"}},
         .status = 2,
         .err = "vendsim: $D/file exists and is not a symlink\n",
         .left = {{"file", "mine"}}},
        // Recording a real device (a second vendsim's terminal) that goes away: status 6, and the
        // transcript ends saying so (the port of --port: in the QEMU bench).
        {.name = "RecordingEndsWhenTheDeviceGoesAway",
         .args = {"--record", "$D/device", "--transcript", "$D/log"},
         .device = {"--max-time", "0.5"},
         .status = 6,
         .out = "/dev/pts/[...]",
         .check =
             [](const Run &r) {
                 EXPECT_EQ(system(r.expand("tail -n 1 $D/log | grep -q 'event   the device went "
                                           "away$'")
                                      .c_str()),
                           0);
             }},
    };
}

}  // namespace

class Hangup : public testing::TestWithParam<Row> { };
TEST_P(Hangup, Row)
{
    run_row(VENDHOOK, true, GetParam());
}
INSTANTIATE_TEST_SUITE_P(, Hangup, testing::ValuesIn(hangup_rows()),
                         [](const auto &row) { return row.param.name; });

class Connect : public testing::TestWithParam<Row> { };
TEST_P(Connect, Row)
{
    // A connect row dials, and leaves the lock free, unless it says otherwise.
    Row row = GetParam();
    row.args = row.args == Row().args ? dial : row.args;
    row.check = row.check != nullptr ? row.check : lock_released;
    run_row(VENDCONNECT, false, row);
}
INSTANTIATE_TEST_SUITE_P(, Connect, testing::ValuesIn(connect_rows()),
                         [](const auto &row) { return row.param.name; });

class Vendsim : public testing::TestWithParam<Row> { };
TEST_P(Vendsim, Row)
{
    run_row(VENDSIM, false, GetParam());
}
INSTANTIATE_TEST_SUITE_P(, Vendsim, testing::ValuesIn(vendsim_rows()),
                         [](const auto &row) { return row.param.name; });
