// The driver's command line: each argument is "-" and a letter, read
// case-insensitively, with its value written directly behind the letter.
#ifndef VENDHOOK_OPTIONS_H
#define VENDHOOK_OPTIONS_H

#include <cstdio>

struct RunSettings {
    unsigned long baud = 9600;
    int parity = 0;                     // 0 odd, 1 even, 2 none
    char *device = nullptr;             // points into the argument itself
    const char *config_base = nullptr;  // likewise
    bool help = false;                  // --help: the usage text, and nothing else
    bool force = false;                 // --force: hang up a line another program holds
};

// Applies one argument: settings go into *run, the two line-control choices
// straight to the io module.  False for an argument that ends the run with
// the usage text.
bool apply_option(char *arg, RunSettings *run);

// --help: every option with a line of meaning, paged on a terminal.
void print_help(FILE *to);

#endif
