// Ctrl-C handling and every wait of the io module.
//
// A run spends nearly all its time in a wait (a read timeout, a pause, a
// bounded write), so the handler works in two ways.  When the signal comes
// during a wait, it only notes it; the wait returns at once and ends the run
// in normal context: DTR, terminal settings, the message through the stdio
// stream, and exit() with its flushing.  When it comes anywhere else (inside
// stdio, say, or in the pager's key read), the handler ends the run itself
// with system calls alone, which is safe at any moment.  Either way the
// message is printed once and the status is RC_INTERRUPTED.
#include "vendlink/io.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

#include "devlock.h"
#include "io_internal.h"

namespace {

const char interrupt_message[] = "Terminated from Ctrl-C\n";

volatile sig_atomic_t in_wait = 0;
// 0: no interrupt; 1: noted during a wait, which will end the run;
// 2: the run is ending.
volatile sig_atomic_t interrupt_state = 0;

[[noreturn]] void end_run_in_normal_context()
{
    interrupt_state = 2;
    close_comm();
    console_restore_terminal();
    fprintf(get_stderr(), "%s", interrupt_message);
    exit(RC_INTERRUPTED);
}

[[noreturn]] void end_run_from_handler()
{
    close_comm();
    console_restore_terminal();
    lock_files_release_all();  // _exit skips the library's exit-time removal
    ssize_t ignored = write(console_diag_fd(), interrupt_message, sizeof interrupt_message - 1);
    (void)ignored;
    _exit(RC_INTERRUPTED & 0xff);
}

struct timespec ms_to_timespec(long ms)
{
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = (ms % 1000) * 1000000L;
    return ts;
}

void install(void (*action)(int))
{
    struct sigaction sa { };
    sa.sa_handler = action;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
}

}  // namespace

extern "C" {

void ctrl_C_handler(int sig)
{
    (void)sig;
    install(ctrl_C_handler);
    if (interrupt_state != 0)
        return;  // the run is already ending
    if (in_wait) {
        interrupt_state = 1;
        return;
    }
    interrupt_state = 2;
    end_run_from_handler();
}

void ctrl_C_capture(void)
{
    install(ctrl_C_handler);
}

void ctrl_C_uncapture(void)
{
    install(SIG_DFL);
}

void Pause(unsigned int seconds)
{
    io_sleep_ms(static_cast<long>(seconds) * 1000L);
}

}  // extern "C"

long long io_now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int io_wait(int fd, short events, int ms)
{
    // SIGINT is held back from here to ppoll, which lets it in atomically, so
    // a signal that comes just before the wait still cuts it short.
    sigset_t hold, before;
    sigemptyset(&hold);
    sigaddset(&hold, SIGINT);
    sigprocmask(SIG_BLOCK, &hold, &before);
    in_wait = 1;

    struct pollfd p;
    p.fd = fd;
    p.events = events;
    p.revents = 0;
    struct timespec ts = ms_to_timespec(ms < 0 ? 0 : ms);
    int r = ppoll(fd >= 0 ? &p : nullptr, fd >= 0 ? 1 : 0, &ts, &before);
    int saved_errno = errno;

    sigprocmask(SIG_SETMASK, &before, nullptr);  // a held SIGINT arrives here
    in_wait = 0;
    if (interrupt_state == 1)
        end_run_in_normal_context();
    errno = saved_errno;
    return r > 0 && fd >= 0 ? p.revents : r;
}

void io_sleep_ms(long ms)
{
    long long end = io_now_ms() + ms;
    for (long long left = ms; left > 0; left = end - io_now_ms())
        io_wait(-1, 0, static_cast<int>(left));
}
