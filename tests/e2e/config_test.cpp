// The modem configuration file on a whole run: created, completed and
// rewritten; and every way it can fail leaves the file as it was and sends
// nothing to the modem.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "harness.h"

using namespace e2e;

namespace {

RunResult run_with_config(const TempDir &dir, const Sim &sim, const std::string &base)
{
    return run_vendhook(in_dir(dir, {"-C" + base, "-D" + sim.link()}));
}

}  // namespace

TEST(ConfigFile, MissingFileIsCreatedWithTheDefaults)
{
    TempDir dir;
    Sim sim(dir);
    RunResult r = run_with_config(dir, sim, "modem.dat");
    EXPECT_EQ(r.status, 0);
    // The link is dir/modem: its last component joins the base with ".".
    EXPECT_NE(r.err.find("Port initialized (9600 baud, 8 data bits, Odd, 1 stop bit)\n"
                         "File not found.  Creating...modem.dat.modem.\n"
                         "\nDisconnecting modem...\nDone.\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(read_file(dir / "modem.dat.modem"), defaults_file);
    ASSERT_EQ(sim.wait_exit(5000), 0);
    EXPECT_EQ(sim.host_bytes(), "+++ATH\r");
}

TEST(ConfigFile, FileValuesAreUsedAndTheFileCompleted)
{
    TempDir dir;
    Sim sim(dir);
    write_file(dir / "cfg.modem", "HANGUP~+++~ATH0 trailing words\r\nACK OK\r\n\tskipped\n\n");
    RunResult r = run_with_config(dir, sim, "cfg");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.find("File not found"), std::string::npos);
    EXPECT_EQ(read_file(dir / "cfg.modem"),
              "DIAL \nHANGUP ~+++~ATH0\nSETUP AT\nCONNECT CONNECT\nACK OK\n");
    ASSERT_EQ(sim.wait_exit(5000), 0);
    EXPECT_EQ(sim.host_bytes(), "+++ATH0\r");
}

TEST(ConfigFile, UnrecognizedLineLeavesTheFileAndSendsNothing)
{
    TempDir dir;
    Sim sim(dir);
    const std::string original = "DIAL ATDT5551234\n# a comment\nACK OK\n";
    write_file(dir / "cfg.modem", original);
    RunResult r = run_with_config(dir, sim, "cfg");
    EXPECT_EQ(r.status, 249);
    EXPECT_LT(r.cpu, 0.1);
    EXPECT_TRUE(ends_with(r.err, "Unrecognized identifier:\n# a comment\n\nDone (-7).\n")) << r.err;
    EXPECT_EQ(r.err.find("Disconnecting"), std::string::npos);
    EXPECT_EQ(read_file(dir / "cfg.modem"), original);
    EXPECT_EQ(sim.host_bytes(), "");
}

TEST(ConfigFile, BinaryJunkIsRefusedAndKept)
{
    TempDir dir;
    Sim sim(dir);
    std::string junk("\x7f" "ELF\x02\x01\x01\0\0\0\xff\xfe\n\x01\x02", 16);
    write_file(dir / "cfg.modem", junk);
    RunResult r = run_with_config(dir, sim, "cfg");
    EXPECT_EQ(r.status, 249);
    EXPECT_LT(r.cpu, 0.1);
    EXPECT_TRUE(ends_with(r.err, "Done (-7).\n"));
    EXPECT_EQ(read_file(dir / "cfg.modem"), junk);
    EXPECT_EQ(sim.host_bytes(), "");
}

TEST(ConfigFile, VeryLongLineIsRefusedAndKept)
{
    TempDir dir;
    Sim sim(dir);
    std::string text = "HANGUP " + std::string(100000, 'A') + "\n";
    write_file(dir / "cfg.modem", text);
    RunResult r = run_with_config(dir, sim, "cfg");
    EXPECT_EQ(r.status, 249);
    EXPECT_LT(r.cpu, 0.1);
    // The rest of the long line is read in 79-character pieces of its own.
    EXPECT_TRUE(ends_with(r.err, "Unrecognized identifier:\n" + std::string(79, 'A') +
                                     "\nDone (-7).\n"));
    EXPECT_EQ(read_file(dir / "cfg.modem"), text);
    EXPECT_EQ(sim.host_bytes(), "");
}

TEST(ConfigFile, FileThatCannotBeWrittenEndsMinus8AndSendsNothing)
{
    TempDir dir;
    Sim sim(dir);
    ASSERT_EQ(mkdir((dir / "cfg.modem").c_str(), 0755), 0);
    RunResult r = run_with_config(dir, sim, "cfg");
    EXPECT_EQ(r.status, 248);
    EXPECT_LT(r.cpu, 0.1);
    EXPECT_TRUE(ends_with(r.err, "Could not open cfg.modem for writing.\nDone (-8).\n")) << r.err;
    EXPECT_EQ(sim.host_bytes(), "");
}

TEST(ConfigFile, ReadOnlyFileKeepsItsContents)
{
    TempDir dir;
    Sim sim(dir);
    const std::string original = "ACK OK\n";
    write_file(dir / "cfg.modem", original);
    chmod((dir / "cfg.modem").c_str(), 0444);
    RunOptions o = in_dir(dir, {"-Ccfg", "-D" + sim.link()});
    as_unprivileged_user(&o, &sim);
    RunResult r = run_vendhook(o);
    EXPECT_EQ(r.status, 248) << r.err;
    EXPECT_LT(r.cpu, 0.1);
    EXPECT_TRUE(ends_with(r.err, "Could not open cfg.modem for writing.\nDone (-8).\n")) << r.err;
    EXPECT_EQ(read_file(dir / "cfg.modem"), original);
    EXPECT_EQ(sim.host_bytes(), "");
}

TEST(ConfigFile, NameTooLongIsRefusedAndNothingSent)
{
    TempDir dir;
    Sim sim(dir);
    RunResult r = run_with_config(dir, sim, std::string(10000, 'c'));
    EXPECT_EQ(r.status, 248);
    EXPECT_LT(r.cpu, 0.1);
    EXPECT_TRUE(ends_with(r.err, "Modem config file name would be longer than 199 characters.\n"
                                 "Done (-8).\n"))
        << r.err;
    EXPECT_EQ(sim.host_bytes(), "");
}
