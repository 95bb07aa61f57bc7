// The device lock: a System V semaphore keyed on the device path.  Each test
// locks its own temporary file and removes the semaphore set afterwards.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "support.h"
#include "vendlink/semlock.h"

namespace {

const std::string held = "semaphore lock failure: Resource temporarily unavailable\n";

// A temporary device file, and the removal of the semaphore set its lock
// made, also when an assertion ends the test early.
class Device {
public:
    Device() : dir_(false), path_(dir_ / "ttyS9")
    {
        unit::write_file(path_, "");
        key_ = ftok(path_.c_str(), 100);
    }
    ~Device()
    {
        int id = key_ == -1 ? -1 : semget(key_, 0, 0);
        if (id != -1)
            semctl(id, 0, IPC_RMID);
    }
    const char *path() const { return path_.c_str(); }
    std::string operator/(const std::string &name) const { return dir_ / name; }

private:
    unit::TempDir dir_;
    std::string path_;
    key_t key_ = -1;
};

struct Outcome {
    int result;
    std::string text;
};

Outcome attempt(int (*op)(const char *), const std::string &path)
{
    unit::CaptureFd err(2);
    int rc = op(path.c_str());
    return {rc, err.finish()};
}

// For children: the losers' complaints are expected and not shown.
void quiet_stderr()
{
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    close(null);
}

// 0 when a child process could take the lock (and so let it go at exit).
int lock_in_child(const std::string &path)
{
    return unit::run_in_child([&] {
        quiet_stderr();
        return lock_device(path.c_str()) == RC_OK ? 0 : 1;
    });
}

TEST(DeviceLock, SecondLockInOneProcessFailsAndTheLockStaysHeld)
{
    Device dev;
    EXPECT_EQ(attempt(lock_device, dev.path()).result, RC_OK);
    Outcome again = attempt(lock_device, dev.path());
    EXPECT_EQ(again.result, RC_FAIL);
    EXPECT_EQ(again.text, held);
    EXPECT_EQ(lock_in_child(dev.path()), 1);

    EXPECT_EQ(attempt(unlock_device, dev.path()).result, RC_OK);
    EXPECT_EQ(lock_in_child(dev.path()), 0);
    Outcome twice = attempt(unlock_device, dev.path());
    EXPECT_EQ(twice.result, RC_FAIL);
    EXPECT_EQ(twice.text, held);
    EXPECT_EQ(attempt(lock_device, dev.path()).result, RC_OK);
}

TEST(DeviceLock, UnlockWithoutLockFails)
{
    Device dev;
    Outcome o = attempt(unlock_device, dev.path());
    EXPECT_EQ(o.result, RC_FAIL);
    EXPECT_EQ(o.text, held);
    EXPECT_EQ(lock_in_child(dev.path()), 0) << "the lock is still free";
}

TEST(DeviceLock, OtherProcessIsRefusedAtOnce)
{
    Device dev;
    ASSERT_EQ(attempt(lock_device, dev.path()).result, RC_OK);
    int status = unit::run_in_child([&] {
        quiet_stderr();
        long long start = unit::now_ms();
        int rc = lock_device(dev.path());
        long long elapsed = unit::now_ms() - start;
        return rc == RC_FAIL ? (elapsed < 200 ? 0 : 2) : 1;
    });
    EXPECT_EQ(status, 0) << "1: taken, 2: waited";
}

TEST(DeviceLock, MissingPathFails)
{
    unit::TempDir dir(false);
    for (auto op : {lock_device, unlock_device}) {
        Outcome o = attempt(op, dir / "no-such-device");
        EXPECT_EQ(o.result, RC_FAIL);
        EXPECT_EQ(o.text, "device lock failed.\n");
    }
}

TEST(DeviceLock, OtherNamesOfTheFileShareTheLock)
{
    for (bool symbolic : {true, false}) {
        SCOPED_TRACE(symbolic ? "symbolic link" : "hard link");
        Device dev;
        std::string other = dev / "modem";
        ASSERT_EQ(symbolic ? symlink(dev.path(), other.c_str()) : link(dev.path(), other.c_str()),
                  0);
        ASSERT_EQ(attempt(lock_device, dev.path()).result, RC_OK);
        EXPECT_EQ(attempt(lock_device, other).text, held);
        EXPECT_EQ(lock_in_child(other), 1);
        EXPECT_EQ(attempt(unlock_device, other).result, RC_OK);
        EXPECT_EQ(lock_in_child(dev.path()), 0);
    }
}

// Starts body in a child that ends with its result; the caller reaps it.
pid_t spawn(const std::function<int()> &body)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        quiet_stderr();
        _exit(body());
    }
    return pid;
}

// Waits (bounded) until fd is readable or closed.
bool wait_readable(int fd, int ms)
{
    struct pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
}

TEST(DeviceLock, HolderKilledLeavesTheLockFree)
{
    Device dev;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = spawn([&] {
        int rc = lock_device(dev.path());
        char c = rc == RC_OK ? 'L' : 'F';
        if (write(ready[1], &c, 1) != 1)
            return 1;
        struct pollfd none = {-1, 0, 0};
        poll(&none, 0, 30000);  // held until killed
        return 0;
    });
    ASSERT_GT(holder, 0);
    close(ready[1]);
    char c = 0;
    ASSERT_TRUE(wait_readable(ready[0], 5000));
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    EXPECT_EQ(c, 'L');
    EXPECT_EQ(lock_in_child(dev.path()), 1);
    kill(holder, SIGKILL);
    int status = 0;
    waitpid(holder, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(attempt(lock_device, dev.path()).result, RC_OK);
}

// Many processes try at the same moment: exactly one gets the lock.  The
// winner holds it until every other has tried, then exits, which frees it
// for the next round.
TEST(DeviceLock, OneWinnerAmongFiftyAtOnce)
{
    Device dev;
    const int children = 50, rounds = 20;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        int start[2], tried[2], finish[2];
        ASSERT_EQ(pipe(start), 0);
        ASSERT_EQ(pipe(tried), 0);
        ASSERT_EQ(pipe(finish), 0);
        std::vector<pid_t> pids;
        for (int i = 0; i < children; ++i) {
            pid_t pid = spawn([&] {
                close(start[1]);
                close(finish[1]);
                if (!wait_readable(start[0], 10000))
                    return 3;
                int rc = lock_device(dev.path());
                if (write(tried[1], "t", 1) != 1)
                    return 4;
                if (rc == RC_OK)
                    wait_readable(finish[0], 10000);
                return rc == RC_OK ? 0 : 1;
            });
            ASSERT_GT(pid, 0);
            pids.push_back(pid);
        }
        close(tried[1]);
        close(start[1]);  // all go
        close(start[0]);
        int reports = 0;
        char buf[64];
        while (reports < children && wait_readable(tried[0], 10000)) {
            ssize_t n = read(tried[0], buf, sizeof buf);
            if (n <= 0)
                break;
            reports += static_cast<int>(n);
        }
        EXPECT_EQ(reports, children);
        close(finish[1]);  // the winner may go
        close(finish[0]);
        close(tried[0]);
        int winners = 0, losers = 0;
        for (pid_t pid : pids) {
            int status = 0;
            waitpid(pid, &status, 0);
            int code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
            winners += code == 0;
            losers += code == 1;
        }
        EXPECT_EQ(winners, 1);
        EXPECT_EQ(losers, children - 1);
    }
}

}  // namespace
