// The locks of Linux's serial programs, honoured and taken by vendhook, by the connect program (the
// rows named Connect...) and by vendsim on a real device (Vendsim...).  This test process stands
// for the other program; the lock folder is the system's own, and what a row plants there it
// removes.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/sem.h>
#include <unistd.h>

#include <fstream>
#include <iomanip>

#include "driver.h"
#include "vendlink/semlock.h"

namespace {

const std::string me = std::to_string(getpid()) + " (e2e_tests)";
const std::string folder = std::filesystem::path(lock_file_of("/")).parent_path();
int flock_fd = -1;

void plant_as(const std::string &file)  // as cu and minicom write it
{
    std::ofstream(file) << std::setw(10) << getpid() << "\n";
}

void plant(const Run &r)
{
    plant_as(lock_file_of(r.slave));
}

void hold_flock(const Run &r)
{
    flock_fd = open(r.slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(flock(flock_fd, LOCK_EX), 0);
}

// The other program's lock file is still there.
void let_go(const Run &r)
{
    EXPECT_TRUE(flock_fd >= 0 || unlink(lock_file_of(r.slave).c_str()) == 0);
    close(flock_fd);
}

// On the connected line, beside a configuration file: a refused run sends nothing, sets no DTR,
// and makes or changes no file.
Row locked(Row r)
{
    bool hangs_up = r.err.ends_with(done);
    r.sim = {"--connected"};
    r.given = {{"cfg.modem", "HANGUP ATH0\n"}};
    r.sent = hangs_up ? hung_up : std::vector<Burst> {};
    r.left = {{"cfg.modem", "HANGUP ATH0\n"}, {"serial_port", hangs_up ? "$M" : ""}};
    r.dtr = hangs_up ? "1" : "";
    return r;
}

std::vector<Row> rows()
{
    const std::string held = "Not hanging up: process " + me + " holds $M with ";
    const std::string refused = " (--force hangs up anyway).\nDone (-1).\n";
    const std::string not_a_lock_file
        = ", not a lock file; remove it if no program uses the line.\n";
    const std::vector<std::string> with_config = {"-D$M", "-Ccfg"};
    return {
        locked({.name = "LockFileHeld",
                .args = with_config,
                .setup = plant,
                .err = held + "a lock file" + refused,
                .check = let_go}),
        locked({.name = "FlockHeld",
                .args = with_config,
                .setup = hold_flock,
                .err = held + "flock" + refused,
                .check = let_go}),
        locked({.name = "SemaphoreHeld",
                .args = with_config,
                .setup =
                    [](const Run &r) {
                        ASSERT_EQ(lock_device(r.slave.c_str()), RC_OK);
                        unlink(lock_file_of(r.slave).c_str());
                    },
                .err = held + "the vendlink semaphore" + refused}),
        locked({.name = "ForcedWhileALockFileIsHeld",
                .args = {"-D$M", "--force"},
                .setup = plant,
                .err = "Hanging up anyway: cutting the call of process " + me
                    + ", which holds $M with a lock file.\n" + opened + done,
                .check = let_go}),
        locked(
            {.name = "StaleLockFileReplaced",
             .setup = [](const Run &r) { std::ofstream(lock_file_of(r.slave)) << "  99999999\n"; },
             .err = "$M: removed the stale lock file of process 99999999.\n" + opened + done}),
        locked({.name = "LockFolderNotWritable",
                .env = "VENDTEST_NO_LOCK_FOLDER=1",
                .err = "$M: no lock file made in " + folder
                    + " (Permission denied); other programs will not see the lock.\n" + opened
                    + done}),
        // Under the name the device was given, a link, as a program that does not follow it names
        // the lock.
        locked(
            {.name = "LockFileUnderTheLinksName",
             .args = {"-D$D/$N"},
             .setup =
                 [](const Run &r) {
                     ASSERT_EQ(symlink(r.slave.c_str(), r.expand("$D/$N").c_str()), 0);
                     plant_as(r.expand(folder + "/LCK..$N"));
                 },
             .err = "Not hanging up: process " + me + " holds $D/$N with a lock file" + refused,
             .check
             = [](const Run &r) { EXPECT_EQ(unlink(r.expand(folder + "/LCK..$N").c_str()), 0); }}),
        locked({.name = "HelpWithALiveCall",
                .args = {"-D$M", "--help"},
                .status = 0,
                .out
                = "usage: vendhook [-Ddev] [-Bbaud] [-Pparity] [-Cconfig]\n"
                  "                [--rtscts] [-+rtscts] [--dropdtr] [--force]\n"
                  "       vendhook --help\n"
                  "Hangs up the dial-up modem on a serial port.  A value is written directly\n"
                  "behind its letter (-D/dev/ttyS0); letters and words are read in either case.\n"
                  "\n[...]See vendhook(1).\n"}),
        // The semaphore let go behind the file's back (as by a release from another process).
        locked({.name = "ConnectLockFileOutlivesTheSemaphore",
                .setup =
                    [](const Run &r) {
                        ASSERT_EQ(lock_device(r.slave.c_str()), RC_OK);
                        sembuf give = {0, -1, 0};
                        ASSERT_EQ(semop(semget(ftok(r.slave.c_str(), 100), 1, 0), &give, 1), 0);
                    },
                .status = 255,
                .err = "$M is locked by process " + me + " with a lock file.\n",
                .check =
                    [](const Run &r) {
                        EXPECT_EQ(semctl(semget(ftok(r.slave.c_str(), 100), 1, 0), 0, GETVAL), 0);
                        let_go(r);
                    }}),
        locked({.name = "ConnectFlockHeld",
                .setup = hold_flock,
                .status = 255,
                .err = "$M is locked by process " + me + " with flock.\n",
                .check = let_go}),
        // vendsim, standing between a program and a real device, keeps off a device that is held.
        locked({.name = "VendsimRecordingAHeldDevice",
                .args = {"--record", "$D/device"},
                .device = {"--connected"},
                .setup = [](const Run &r) { plant_as(lock_file_of(r.dir + "/device")); },
                .status = 5,
                .err = "vendsim: process " + me + " holds $D/device with a lock file.\n",
                .check =
                    [](const Run &r) {
                        EXPECT_EQ(unlink(lock_file_of(r.dir + "/device").c_str()), 0);
                    }}),
        // A link is never followed, though it leads to a live process's id.
        locked({.name = "ConnectLinkForALockFile",
                .setup =
                    [](const Run &r) {
                        std::ofstream(r.dir + "/pid") << getpid();
                        ASSERT_EQ(symlink((r.dir + "/pid").c_str(), lock_file_of(r.slave).c_str()),
                                  0);
                    },
                .status = 255,
                .err = "$M is locked by [...]" + not_a_lock_file,
                .check = let_go}),
    };
}

}  // namespace

class Lock : public testing::TestWithParam<Row> { };
TEST_P(Lock, Row)
{
    if (access(folder.c_str(), W_OK) != 0)
        GTEST_SKIP() << "this user may not write in the lock folder " << folder
                     << ", where the row plants the other program's lock";
    bool connect = GetParam().name.starts_with("Connect");
    bool vendsim = GetParam().name.starts_with("Vendsim");
    run_row(connect ? VENDCONNECT : vendsim ? VENDSIM : VENDHOOK, !connect && !vendsim, GetParam());
}
INSTANTIATE_TEST_SUITE_P(, Lock, testing::ValuesIn(rows()),
                         [](const auto &row) { return row.param.name; });
