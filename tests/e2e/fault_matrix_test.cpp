// The fault matrix: whole runs of vendhook against a modem, a device or
// files that misbehave.  Each row states the status and the messages, that
// nothing is lost (files keep their text where they must), what reached the
// modem, and that the run stays cheap (under 0.1 s of CPU) however long it
// waits.  docs/fault-matrix.md lists the rows, with those tested elsewhere.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>

#include <set>

#include "harness.h"

using namespace e2e;

namespace {

const double cpu_budget = 0.1;
// Half a second draining the line, the hang-up string's four seconds of
// pauses, then at least five seconds of silence before a reply line ends.
const double silent_hangup_min = 4.5 + 5.0;
const double silent_hangup_max = 4.5 + 7.0;

std::set<std::string> entries_of(const std::string &folder)
{
    std::set<std::string> names;
    if (DIR *d = opendir(folder.c_str())) {
        while (const dirent *e = readdir(d)) {
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.insert(e->d_name);
        }
        closedir(d);
    }
    return names;
}

struct stat stat_of(const std::string &path)
{
    struct stat st {};
    lstat(path.c_str(), &st);
    return st;
}

const std::string hangup_end = "\nDisconnecting modem...\nDone.\n";

}  // namespace

// The modem answers the hang-up with bytes that make no reply line: the run
// waits out the reply time and ends as if the modem were silent.
TEST(FaultMatrix, ModemAnsweringGarbageEndsDone)
{
    TempDir dir;
    Sim sim(dir, {"--reply", "garbage"});
    RunResult r = run_vendhook(in_dir(dir, {"-D" + sim.link()}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(ends_with(r.err, hangup_end)) << r.err;
    EXPECT_GE(r.wall, silent_hangup_min);
    EXPECT_LE(r.wall, silent_hangup_max);
    EXPECT_LT(r.cpu, cpu_budget);
    EXPECT_EQ(read_file(dir / "serial_port"), sim.link());
    ASSERT_EQ(sim.wait_exit(5000), 0);
    EXPECT_EQ(sim.host_bytes(), "+++ATH\r");
    EXPECT_NE(sim.transcript_text().find("<-modem 0d 0a 7f 23"), std::string::npos)
        << sim.transcript_text();
}

// The modem is switched off part-way: every read and write after that fails
// at once, and each failed read is still given its full timeout.
TEST(FaultMatrix, ModemVanishingMidRunEndsDoneWithoutSpinning)
{
    struct Row {
        std::vector<std::string> sim_args;
        std::string received;  // what the modem got before it vanished
    };
    const Row rows[] = {
        {{"--vanish-after-bytes", "1"}, "+"},        // in the middle of the escape
        {{"--vanish-after-bytes", "3"}, "+++"},      // after the escape, before "ATH"
        {{"--vanish-after-bytes", "5"}, "+++AT"},    // in the middle of the command
        {{"--reply", "vanish"}, "+++ATH\r"},         // at the command, instead of "OK"
    };
    for (const Row &row : rows) {
        const std::string name = row.sim_args[0] + " " + row.sim_args[1];
        TempDir dir;
        Sim sim(dir, row.sim_args);
        RunResult r = run_vendhook(in_dir(dir, {"-D" + sim.link()}));
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.out, "") << name;
        EXPECT_TRUE(ends_with(r.err, hangup_end)) << name << "\n" << r.err;
        EXPECT_GE(r.wall, silent_hangup_min) << name;
        EXPECT_LE(r.wall, silent_hangup_max) << name;
        EXPECT_LT(r.cpu, cpu_budget) << name;
        EXPECT_EQ(read_file(dir / "serial_port"), sim.link()) << name;
        EXPECT_EQ(sim.wait_exit(5000), 0) << name;
        EXPECT_EQ(sim.host_bytes(), row.received) << name;
    }
}

TEST(FaultMatrix, DeviceThatIsADirectoryIsRefused)
{
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "port").c_str(), 0755), 0);
    RunResult r = run_vendhook(in_dir(dir, {"-D" + dir / "port"}));
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Unable to open device file \"" + dir / "port" + "\"\n\n");
    EXPECT_EQ(r.err, version_lines(vendhook_path) +
                         "Could not find \"serial_port\", creating...\n"
                         "Storing new device file name (" + dir / "port" + ").\n"
                         "Done (-1).\n");
    EXPECT_LT(r.cpu, cpu_budget);
    EXPECT_EQ(read_file(dir / "serial_port"), dir / "port");
    EXPECT_EQ(entries_of(dir / "port").size(), 0u);
}

// "serial_port" that cannot be read, written, or is not a file.  Without -D
// the run needs its text and ends -1; with -D a file that can be read but
// not rewritten gets a warning and the run goes on with the device.  Either
// way the file keeps its text and its mode.
TEST(FaultMatrix, DeviceNameFileThatCannotBeUsed)
{
    enum Kind { unreadable_file, unwritable_file, folder };
    struct Row {
        const char *name;
        Kind kind;
        bool device_given;
        int status;
        const char *messages;  // after the version lines; DEV is the device
    };
    const Row rows[] = {
        {"unreadable, no -D", unreadable_file, false, 255,
         "Could not find \"serial_port\", creating...\nCan not create \"serial_port\"\n"
         "Done (-1).\n"},
        // Neither readable nor creatable: the run cannot tell it from a
        // missing file, and a failed creation is fatal even with -D.
        {"unreadable, -D", unreadable_file, true, 255,
         "Could not find \"serial_port\", creating...\nCan not create \"serial_port\"\n"
         "Done (-1).\n"},
        {"unwritable, -D", unwritable_file, true, 0,
         "Storing new device file name (DEV).\n"
         "Can not store the device name in \"serial_port\" (Permission denied); "
         "using DEV for this run.\n"},
        {"a folder, no -D", folder, false, 255, "Can not read file.\nDone (-1).\n"},
        {"a folder, -D", folder, true, 0,
         "Storing new device file name (DEV).\n"
         "Can not store the device name in \"serial_port\" (Is a directory); "
         "using DEV for this run.\n"},
    };
    const std::string stored = "/dev/ttyS7\n";
    for (const Row &row : rows) {
        TempDir dir;
        Sim sim(dir);
        RunOptions o = in_dir(dir, {"-D" + sim.link()});
        if (!row.device_given)
            o.args.clear();
        const std::string file = dir / "serial_port";
        if (row.kind == folder) {
            ASSERT_EQ(mkdir(file.c_str(), 0755), 0);
        } else {
            write_file(file, stored);
            chmod(file.c_str(), row.kind == unreadable_file ? 0000 : 0444);
            as_unprivileged_user(&o, &sim);
        }
        RunResult r = run_vendhook(o);

        std::string messages = row.messages;
        for (size_t at; (at = messages.find("DEV")) != std::string::npos;)
            messages.replace(at, 3, sim.link());
        std::string program = o.uid >= 0 ? dir / ".program-for-user" : vendhook_path;
        EXPECT_EQ(r.status, row.status) << row.name << "\n" << r.err;
        EXPECT_EQ(r.err.rfind(version_lines(program) + messages, 0), 0u) << row.name << "\n"
                                                                         << r.err;
        EXPECT_LT(r.cpu, cpu_budget) << row.name;
        if (row.status == 0) {
            EXPECT_TRUE(ends_with(r.err, hangup_end)) << row.name;
            EXPECT_EQ(sim.wait_exit(8000), 0) << row.name;
            EXPECT_EQ(sim.host_bytes(), "+++ATH\r") << row.name;
        } else {
            EXPECT_EQ(sim.host_bytes(), "") << row.name;
        }
        if (row.kind == folder) {
            EXPECT_TRUE(S_ISDIR(stat_of(file).st_mode)) << row.name;
            EXPECT_EQ(entries_of(file).size(), 0u) << row.name;
        } else {
            EXPECT_EQ(read_file(file), stored) << row.name;
            EXPECT_EQ(stat_of(file).st_mode & 07777, row.kind == unreadable_file ? 0000u : 0444u)
                << row.name;
        }
        // Nothing beside it: no temporary file was left.  (The simulator's
        // link goes when the simulator ends.)
        std::set<std::string> left = entries_of(dir.path());
        left.erase("modem");
        std::set<std::string> want = {"serial_port", "transcript.log"};
        if (o.uid >= 0)
            want.insert(".program-for-user");
        EXPECT_EQ(left, want) << row.name;
    }
}

// The configuration file in a folder where no file can be made: an existing
// file that can be written is rewritten in place (no temporary file beside
// it); a missing one cannot be created, so nothing is sent (-8).
TEST(FaultMatrix, ConfigFileInAReadOnlyFolder)
{
    struct Row {
        const char *name;
        bool exists;
        int status;
        const char *tail;
    };
    const Row rows[] = {
        {"existing file", true, 0,
         "Port initialized (9600 baud, 8 data bits, Odd, 1 stop bit)\n"
         "\nDisconnecting modem...\nDone.\n"},
        {"missing file", false, 248,
         "File not found.  Creating...ro/cfg.modem.\n"
         "Could not open ro/cfg.modem for writing.\nDone (-8).\n"},
    };
    for (const Row &row : rows) {
        TempDir dir;
        Sim sim(dir);
        const std::string folder = dir / "ro";
        const std::string file = folder + "/cfg.modem";
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        if (row.exists) {
            write_file(file, "HANGUP ~+++~ATH0\n\tkept as a comment\n");
            chmod(file.c_str(), 0666);
        }
        chmod(folder.c_str(), 0555);
        ino_t inode = stat_of(file).st_ino;
        RunOptions o = in_dir(dir, {"-D" + sim.link()});
        o.args.push_back("-Cro/cfg");
        as_unprivileged_user(&o, &sim);
        RunResult r = run_vendhook(o);

        EXPECT_EQ(r.status, row.status) << row.name << "\n" << r.err;
        EXPECT_TRUE(ends_with(r.err, row.tail)) << row.name << "\n" << r.err;
        EXPECT_LT(r.cpu, cpu_budget) << row.name;
        if (row.exists) {
            EXPECT_EQ(read_file(file),
                      "DIAL \nHANGUP ~+++~ATH0\nSETUP AT\nCONNECT CONNECT\nACK OK\n");
            EXPECT_EQ(stat_of(file).st_ino, inode) << "not rewritten in place";
            EXPECT_EQ(entries_of(folder), std::set<std::string>{"cfg.modem"});
            EXPECT_EQ(sim.wait_exit(8000), 0);
            EXPECT_EQ(sim.host_bytes(), "+++ATH0\r");
        } else {
            EXPECT_EQ(entries_of(folder).size(), 0u);
            EXPECT_EQ(sim.host_bytes(), "");
        }
        chmod(folder.c_str(), 0755);  // so that the folder can be removed
    }
}

// A value glued to its keyword on a full 79-character line ("HANGUP" and 73
// characters) is read and used, and the file is rewritten in the fixed form
// "keyword, blank, value": 80 characters, one more than a line may hold.
// The next run reads its last character as a line of its own and refuses the
// file (-7) without sending anything, and leaves it as it is, so the user
// can mend it.  The README says so.
TEST(FaultMatrix, ConfigFileWithAGluedValueOnAFullLine)
{
    TempDir dir;
    const std::string value = "~~+++~~ATH" + std::string(63, '0');  // 73 characters
    write_file(dir / "cfg.modem", "HANGUP" + value + "\n");
    const std::string rewritten =
        "DIAL \nHANGUP " + value + "\nSETUP AT\nCONNECT CONNECT\nACK OK\n";

    {
        Sim sim(dir);
        RunOptions o = in_dir(dir, {"-D" + sim.link()});
        o.args.push_back("-Ccfg");
        RunResult r = run_vendhook(o);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(ends_with(r.err, hangup_end)) << r.err;
        EXPECT_LT(r.cpu, cpu_budget);
        EXPECT_EQ(sim.wait_exit(8000), 0);
        EXPECT_EQ(sim.host_bytes(), "+++ATH" + std::string(63, '0') + "\r");
        EXPECT_EQ(read_file(dir / "cfg.modem"), rewritten);
    }
    {
        Sim sim(dir);
        RunOptions o = in_dir(dir, {"-D" + sim.link()});
        o.args.push_back("-Ccfg");
        RunResult r = run_vendhook(o);
        EXPECT_EQ(r.status, 249) << r.err;
        EXPECT_TRUE(ends_with(r.err, "Unrecognized identifier:\n0\n\nDone (-7).\n")) << r.err;
        EXPECT_EQ(sim.host_bytes(), "");
        EXPECT_EQ(read_file(dir / "cfg.modem"), rewritten);
    }
}

// Ctrl-C before the port is opened: "serial_port" is a FIFO without a
// writer, so the run waits in the kernel, in its open(), before any port is
// touched; a Ctrl-C there (outside every wait of the library) ends the run
// from the handler.  The message once, status 232, nothing sent, no file
// changed, and the wait cost no CPU.
TEST(FaultMatrix, CtrlCBeforeThePortOpens)
{
    TempDir dir;
    Sim sim(dir);
    ASSERT_EQ(mkfifo((dir / "serial_port").c_str(), 0644), 0);
    RunOptions o = in_dir(dir, {"-D" + sim.link()});
    o.with_shim = true;
    o.shim_log = dir / "lines.log";
    o.sigint_after_ms = 1000;  // long after start-up, even on a loaded machine
    RunResult r = run_vendhook(o);
    EXPECT_EQ(r.status, 232);
    EXPECT_EQ(r.term_signal, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, version_lines(vendhook_path) + "Terminated from Ctrl-C\n");
    EXPECT_EQ(count_of(r.err, "Terminated from Ctrl-C\n"), 1);
    EXPECT_GE(r.wall, 1.0);
    EXPECT_LT(r.wall, 2.5);
    EXPECT_LT(r.cpu, cpu_budget);
    EXPECT_TRUE(S_ISFIFO(stat_of(dir / "serial_port").st_mode));
    // No other file, not even the shim's log: no modem-control line was
    // touched, the port was never opened.
    EXPECT_EQ(entries_of(dir.path()),
              (std::set<std::string>{"modem", "serial_port", "transcript.log"}));
    EXPECT_EQ(sim.host_bytes(), "");
}
