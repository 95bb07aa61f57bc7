#include "signals.h"

static volatile sig_atomic_t stop_flag = 0;

static void on_stop(int)
{
    stop_flag = 1;
}

void install_stop_signals(sigset_t *wait_mask)
{
    struct sigaction sa = {};
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    // A reader of our stdout may go away early; that is no reason to die.
    signal(SIGPIPE, SIG_IGN);

    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, wait_mask);
    sigdelset(wait_mask, SIGTERM);
    sigdelset(wait_mask, SIGINT);
}

bool stop_requested()
{
    return stop_flag != 0;
}
