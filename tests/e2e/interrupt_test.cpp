// Ctrl-C: the message once, status 232, DTR lowered only when asked, and the
// terminal put back when it comes during the pager's pause.
#include <gtest/gtest.h>

#include "harness.h"

using namespace e2e;

namespace {

std::vector<std::string> shim_sets(const std::string &log)
{
    std::vector<std::string> sets;
    std::istringstream in(read_file(log));
    std::string t, what, bits;
    while (in >> t >> what >> bits) {
        if (what == "TIOCMSET")
            sets.push_back(bits);
    }
    return sets;
}

RunResult interrupted_run(const TempDir &dir, const Sim &sim, bool dropdtr, int after_ms)
{
    RunOptions o;
    o.args = {"-D" + sim.link()};
    if (dropdtr)
        o.args.push_back("--dropdtr");
    o.cwd = dir.path();
    o.with_shim = true;
    o.shim_log = dir / "lines.log";
    o.sigint_after_ms = after_ms;
    return run_vendhook(o);
}

}  // namespace

TEST(CtrlC, DuringThePausesWithDropdtrLowersDtr)
{
    TempDir dir;
    Sim sim(dir);
    RunResult r = interrupted_run(dir, sim, true, 1500);
    EXPECT_EQ(r.status, 232);
    EXPECT_LT(r.cpu, 0.1);
    EXPECT_EQ(count_of(r.err, "Terminated from Ctrl-C\n"), 1);
    EXPECT_NE(r.err.find("\nDisconnecting modem...\nTerminated from Ctrl-C\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("Done"), std::string::npos);
    EXPECT_LT(r.wall, 2.0);
    auto sets = shim_sets(dir / "lines.log");
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0], "0x2");
    EXPECT_EQ(sets[1], "0x0");
    EXPECT_EQ(sim.host_bytes(), "");
}

TEST(CtrlC, WithoutDropdtrLeavesDtrUp)
{
    TempDir dir;
    Sim sim(dir);
    RunResult r = interrupted_run(dir, sim, false, 3000);
    EXPECT_EQ(r.status, 232);
    EXPECT_LT(r.cpu, 0.1);
    EXPECT_EQ(count_of(r.err, "Terminated from Ctrl-C\n"), 1);
    auto sets = shim_sets(dir / "lines.log");
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0], "0x2");
    // Interrupted in the pause between "+++" and "ATH".
    EXPECT_EQ(sim.host_bytes(), "+++");
}

TEST(CtrlC, WhileWaitingForTheReply)
{
    TempDir dir;
    Sim sim(dir, {"--reply", "silent"});
    RunResult r = interrupted_run(dir, sim, true, 6000);
    EXPECT_EQ(r.status, 232);
    EXPECT_LT(r.cpu, 0.1);
    EXPECT_EQ(count_of(r.err, "Terminated from Ctrl-C\n"), 1);
    EXPECT_LT(r.wall, 6.5);
    auto sets = shim_sets(dir / "lines.log");
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[1], "0x0");
    EXPECT_EQ(sim.host_bytes(), "+++ATH\r");
}
