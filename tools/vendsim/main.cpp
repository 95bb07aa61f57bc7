// vendsim: a simulated modem, with a simulated receiver behind it, on a
// pseudo-terminal or a serial device, for testing the programs that talk to
// the real ones.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "clock.h"
#include "devlock.h"
#include "options.h"
#include "platform/platform.h"
#include "pty.h"
#include "relay.h"
#include "session.h"
#include "signals.h"
#include "transcript.h"
#include "vendlink/status.h"

namespace {

enum Status {
    kDone = 0,
    kFailed = 1,
    kUsage = 2,
    kTimeUp = 3,
    kMismatch = 4,
    kHeld = 5,       // another program holds the device
    kDeviceGone = 6  // the device went away
};

using FilePtr = std::unique_ptr<FILE, int (*)(FILE *)>;

// A real device serves one program at a time: its locks are taken as vendhook takes them, and one
// that another live program holds is refused.  -1 when they are taken; a device that is not there
// is the open's to report.
int take_device(const std::string &path)
{
    struct stat st;
    LockHolder h;
    if (path.empty() || stat(path.c_str(), &st) != 0 || device_take(path.c_str(), &h) == RC_OK)
        return -1;
    if (h.pid > 0)
        fprintf(stderr, "vendsim: process %d (%s) holds %s with %s.\n", h.pid, h.program,
                path.c_str(), h.lock);
    return kHeld;
}

// Opens the port, or a fresh pty and names it, and announces it; -1 or a
// status on failure.
int bring_up(const Scenario &sc, Pty &line)
{
    std::string error;
    if (!sc.port.empty()) {
        line.master = open_port(sc.port, sc.device_speed, sc.device_parity, error);
        line.slave = sc.port;
        platform_flock_line(line.master);
    } else if (open_pty(line, error) && !sc.link.empty()) {
        LinkResult r = point_link(sc.link, line.slave, error);
        if (r != LinkResult::Made) {
            fprintf(stderr, "vendsim: %s\n", error.c_str());
            close(line.master);
            return r == LinkResult::NotSymlink ? kUsage : kFailed;
        }
    }
    if (line.master < 0) {
        fprintf(stderr, "vendsim: %s\n", error.c_str());
        return kFailed;
    }
    printf("%s\n", line.slave.c_str());
    fflush(stdout);
    return -1;
}

// One session of the kind the command line asks for.
SessionEnd serve_one(const SessionSetup &setup, const std::vector<Exchange> &script)
{
    const Scenario &sc = setup.scenario;
    if (!sc.replay.empty())
        return serve_replay(setup, script);
    if (sc.record.empty())
        return serve_session(setup);
    int device = open(sc.record.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (device < 0) {
        perror(("vendsim: " + sc.record).c_str());
        return SessionEnd::Failed;
    }
    platform_flock_line(device);
    SessionEnd end = serve_record(setup, device);
    close(device);
    return end;
}

int status_of(SessionEnd end)
{
    switch (end) {
    case SessionEnd::TimeUp:
        return kTimeUp;
    case SessionEnd::Mismatch:
        return kMismatch;
    case SessionEnd::Failed:
        return kFailed;
    case SessionEnd::DeviceGone:
        return kDeviceGone;
    default:
        return kDone;
    }
}

int serve(const Scenario &sc, Transcript &log, const Clock &clock, const sigset_t &wait_mask,
          const std::vector<Exchange> &script)
{
    for (;;) {
        Pty line;
        int status = bring_up(sc, line);
        if (status >= 0)
            return status;
        log.pty(clock.now(), line.slave);
        SessionEnd end = serve_one({line.master, sc, log, clock, sc.max_time, &wait_mask}, script);
        close(line.master);
        // With --keep the link stays, to be pointed at the next pty.
        if (end == SessionEnd::HostClosed && sc.keep)
            continue;
        if (!sc.link.empty())
            remove_link(sc.link, line.slave);
        return status_of(end);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    Scenario sc;
    std::string error;
    switch (parse_options(argc, argv, sc, error)) {
    case ParseOutcome::Help:
        print_usage(stdout);
        return kDone;
    case ParseOutcome::Error:
        fprintf(stderr, "vendsim: %s (see --help)\n", error.c_str());
        return kUsage;
    case ParseOutcome::Run:
        break;
    }

    int held = take_device(!sc.port.empty() ? sc.port : sc.record);
    if (held >= 0)
        return held;
    std::vector<Exchange> script;
    if (!sc.replay.empty() && !read_exchanges(sc.replay, script, error)) {
        fprintf(stderr, "vendsim: %s\n", error.c_str());
        return kFailed;
    }
    sigset_t wait_mask;
    install_stop_signals(&wait_mask);
    Clock clock;
    FilePtr file(nullptr, fclose);
    if (!sc.transcript.empty()) {
        file.reset(fopen(sc.transcript.c_str(), "w"));
        if (!file) {
            perror(("vendsim: " + sc.transcript).c_str());
            return kFailed;
        }
    }
    Transcript log(file.get(), clock.wall_start());
    return serve(sc, log, clock, wait_mask, script);
}
