// The library as a connect program uses it (examples/vendconnect) against
// the simulated modem and receiver: dialing, the link test, the queries, the
// lock, and every way a session can fail, with the exact bytes on the line.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/sem.h>

#include "harness.h"
#include "vendlink/semlock.h"

using namespace e2e;

namespace {

const std::string enq = "\x05";
const std::string zeros(260, '\0');
const std::string config_request("\x02\x00\x4a\x00\x4a\x03", 6);
const std::string mode_request("\x02\x00\x82\x05\x00\x08\x00\x00\x02\x91\x03", 11);
const std::string ident_request("\x02\x00\x06\x00\x06\x03", 6);

// Removes the semaphore set that the lock on `path` made.  The key is taken
// at once: by the end of the test the simulator may have closed its pty,
// and the device node is gone with it.
class LockCleanup {
public:
    explicit LockCleanup(const std::string &path) : key_(ftok(path.c_str(), 100)) {}
    ~LockCleanup()
    {
        int id = key_ == -1 ? -1 : semget(key_, 0, 0);
        if (id != -1)
            semctl(id, 0, IPC_RMID);
    }

private:
    key_t key_;
};

struct Session {
    TempDir dir;
    std::unique_ptr<Sim> sim;
    std::unique_ptr<LockCleanup> cleanup;
    RunResult r;

    explicit Session(const std::vector<std::string> &sim_args,
                     const std::vector<std::string> &extra = {})
    {
        sim = std::make_unique<Sim>(dir, sim_args);
        cleanup = std::make_unique<LockCleanup>(sim->slave());
        RunOptions o;
        o.program = vendconnect_path;
        o.args = {"-D" + sim->link(), "-MATDT5551234"};
        o.args.insert(o.args.end(), extra.begin(), extra.end());
        o.cwd = dir.path();
        o.timeout_ms = 150000;
        r = run_vendhook(o);
    }
};

std::string dialing_lines(const std::string &result)
{
    return "Initializing modem...\nDialing...\n\nATDT5551234\n\n\n" + result + "\n";
}

}  // namespace

TEST(Link, WholeSessionAgainstTheSimulator)
{
    Session s({});
    EXPECT_EQ(s.r.status, 0);
    EXPECT_EQ(s.r.out, "Receiver type 4: \"RCV-3000\" \"SN004711\", versions 2.35 1.20 0.45, "
                       "counts 12 12\n");
    EXPECT_EQ(s.r.err, "Could not find \"serial_port\", creating...\n"
                       "Storing new device file name (" + s.sim->link() + ").\n"
                       "RTSXOFF is Disabled\nCTSXON is Disabled\nRTSXOFF is now ENABLED.\n"
                       "Port initialized (9600 baud, 8 data bits, Odd, 1 stop bit)\n"
                       "Using defaults for all modem strings.\n" +
                           dialing_lines("CONNECT 9600") +
                           "Testing communications link...wait.\n"
                           "Testing receiver configuration\n"
                           "\nDisconnecting modem...\n"
                           "Done.\n");
    ASSERT_EQ(s.sim->wait_exit(5000), 0);
    EXPECT_EQ(s.sim->host_bytes(), "AT\rATDT5551234\r" + zeros + enq + config_request +
                                       mode_request + ident_request + "+++ATH\r");
}

TEST(Link, BusyOrNoCarrierEndsDialingAtOnce)
{
    for (const char *result : {"busy", "no-carrier"}) {
        Session s({"--dial", result});
        const std::string shown = std::string(result) == "busy" ? "BUSY" : "NO CARRIER";
        EXPECT_EQ(s.r.status, 251) << result;
        EXPECT_NE(s.r.err.find(dialing_lines(shown) + "\nDisconnecting modem...\nDone (-5).\n"),
                  std::string::npos)
            << s.r.err;
        EXPECT_EQ(s.r.out, "");
        // Nothing reaches the receiver; the hang-up still goes out.
        EXPECT_EQ(s.sim->host_bytes(), "AT\rATDT5551234\r+++ATH\r") << result;
    }
}

TEST(Link, ModemThatDoesNotAcknowledgeTheSetup)
{
    Session s({"--reply", "silent"});
    EXPECT_EQ(s.r.status, 250);
    EXPECT_NE(s.r.err.find("Initializing modem...\n\nDisconnecting modem...\nDone (-6).\n"),
              std::string::npos)
        << s.r.err;
    EXPECT_EQ(s.r.err.find("Dialing"), std::string::npos);
}

TEST(Link, DialingGivesUpAfter75Seconds)
{
    Session s({"--dial", "silent"});
    EXPECT_EQ(s.r.status, 250);
    EXPECT_NE(s.r.err.find("Could not establish host->modem connection.\n"
                           "\nDisconnecting modem...\n"),
              std::string::npos)
        << s.r.err;
    EXPECT_GE(s.r.wall, 1 + 75);
    EXPECT_LE(s.r.wall, 1 + 75 + 7 + 12);
    EXPECT_LT(s.r.cpu, 0.1);
}

TEST(Link, ReceiverThatNaksFailsTheHandshakeAfter30Seconds)
{
    Session s({"--enq", "nak"});
    EXPECT_EQ(s.r.status, 247);
    EXPECT_NE(s.r.err.find("...and wait\nCould not establish communication with remote "
                           "receiver.\n\nDisconnecting modem...\nDone (-9).\n"),
              std::string::npos)
        << s.r.err.substr(s.r.err.size() > 400 ? s.r.err.size() - 400 : 0);
    EXPECT_EQ(s.r.err.find("Testing receiver configuration"), std::string::npos);
    // One try a second (the read timeout), not a storm of them.
    EXPECT_GE(count_of(s.r.err, "...and wait\n"), 29);
    EXPECT_LE(count_of(s.r.err, "...and wait\n"), 32);
    EXPECT_LT(s.r.cpu, 0.1);
    // An ENQ for every "...and wait", and one more for the first try.
    std::string sent = s.sim->host_bytes();
    EXPECT_EQ(count_of(sent, enq), count_of(s.r.err, "...and wait\n"));
    EXPECT_GE(s.r.wall, 3 + 30);
}

TEST(Link, ReceiverInRemoteMonitorMode)
{
    Session s({"--monitor"});
    EXPECT_EQ(s.r.status, 221);
    EXPECT_NE(s.r.err.find("Testing receiver configuration\nReceiver is in REMOTE MONITOR.\n"),
              std::string::npos);
    EXPECT_EQ(s.r.out, "");
}

TEST(Link, ReceiverTypesOtherThan3To5AreRefused)
{
    for (const char *type : {"6", "0", "255"}) {
        Session s({"--config-type", type});
        EXPECT_EQ(s.r.status, 233) << type;
        EXPECT_TRUE(s.r.err.find("Done (-23).\n") != std::string::npos) << type;
    }
    Session accepted({"--config-type", "3"});
    EXPECT_EQ(accepted.r.status, 0);
}

TEST(Link, ConfigurationRecordWithoutItsCheckByteOrTooShort)
{
    Session unchecked({"--config-check", "0"});
    EXPECT_EQ(unchecked.r.status, 233);
    // A record that ends before the type byte carries no type: refused.
    Session short_record({"--config-len", "40"});
    EXPECT_EQ(short_record.r.status, 233);
    EXPECT_EQ(short_record.r.err.find("Could not retrieve"), std::string::npos);
}

TEST(Link, NoConfigurationReplyInTenAttempts)
{
    Session s({"--packet-reply", "silent"});
    EXPECT_EQ(s.r.status, 233);
    EXPECT_NE(s.r.err.find("Testing receiver configuration\nCould not retrieve receiver "
                           "config.\n\nDisconnecting modem...\nDone (-23).\n"),
              std::string::npos)
        << s.r.err;
    std::string sent = s.sim->host_bytes();
    EXPECT_EQ(count_of(sent, config_request), 10);
    // The line is cleared between attempts: nine blocks, plus the one before
    // the handshake.
    EXPECT_EQ(count_of(sent, zeros + config_request), 9);
    EXPECT_GE(s.r.wall, 10 * 5);
    EXPECT_LT(s.r.cpu, 0.1);
}

TEST(Link, NoiseStrayPacketsAndABadChecksumAreGotOver)
{
    Session s({"--noise", "7", "--slip-93", "2", "--bad-checksum", "1"});
    EXPECT_EQ(s.r.status, 0) << s.r.err;
    EXPECT_EQ(s.r.out.rfind("Receiver type 4: \"RCV-3000\"", 0), 0u);
    // The damaged reply cost one attempt and a clearing of the line.
    std::string sent = s.sim->host_bytes();
    EXPECT_EQ(count_of(sent, config_request), 2);
    EXPECT_EQ(count_of(sent, zeros + config_request), 1);
}

TEST(Link, ShortIdentificationStaysWithinTheRecord)
{
    Session s({"--ident", "RCV-3000SN00"});
    EXPECT_EQ(s.r.status, 0);
    // The first text is whole; the second is cut short, so it and every
    // field after it stay empty or 0.
    EXPECT_EQ(s.r.out, "Receiver type 4: \"RCV-3000\" \"\", versions 0.00 0.00 0.00, "
                       "counts 0 0\n");
}

TEST(Link, IdentificationCounts)
{
    struct Case {
        const char *fields;
        const char *counts;
    } cases[] = {
        {"2412", "counts 12 12"}, {"1212", "counts 12 0"}, {"2424", "counts 24 24"},
        {"0909", "counts 9 0"},   {"1224", "counts 24 -12"},
    };
    for (const Case &c : cases) {
        std::string ident = std::string("RCV-3000SN004711  235  120   45FW-0123456") + c.fields;
        Session s({"--ident", ident});
        EXPECT_NE(s.r.out.find(c.counts), std::string::npos) << c.fields << ": " << s.r.out;
    }
}

TEST(Link, HeldLockStopsASecondProgram)
{
    TempDir dir;
    Sim sim(dir);
    LockCleanup cleanup(sim.slave());
    ASSERT_EQ(lock_device(sim.link().c_str()), 0);
    RunOptions o;
    o.program = vendconnect_path;
    o.args = {"-D" + sim.link()};
    o.cwd = dir.path();
    RunResult r = run_vendhook(o);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "semaphore lock failure: Resource temporarily unavailable\n");
    EXPECT_LT(r.wall, 1.0);
    // Refused before the port was touched.
    EXPECT_FALSE(file_exists(dir / "serial_port"));
    EXPECT_EQ(unlock_device(sim.link().c_str()), 0);
}
