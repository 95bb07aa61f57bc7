// SIGTERM and SIGINT end the run cleanly.  They stay blocked except while
// the loop waits, so a stop can only land where it is looked for.
#ifndef VENDSIM_SIGNALS_H
#define VENDSIM_SIGNALS_H

#include <csignal>

// Fills wait_mask with the mask to wait under (ppoll).
void install_stop_signals(sigset_t *wait_mask);
bool stop_requested();

#endif
