// The driver's option parsing, and --help, from one table.
#include "driver/options.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "vendlink/io.h"

namespace {

int parity_code(char c)
{
    switch (tolower(static_cast<unsigned char>(c))) {
    case 'e':
        return 1;
    case 'n':
        return 2;
    default:
        return 0;
    }
}

// Every option, once: as written (a letter with the name of its value behind it, or a word behind
// "--" or "-+"), its line of --help, and what it does with its value.
struct Option {
    const char *spelling;
    const char *value;  // nullptr: a word
    const char *help;
    void (*apply)(char *value, RunSettings *run);
};

const Option options[] = {
    {"-D", "dev", "the serial device, kept in serial_port for the runs without -D",
     [](char *v, RunSettings *run) { run->device = v; }},
    {"-B", "baud", "300, 600, 1200, 2400, 4800, 9600 (default), 19200 or 38400",
     [](char *v, RunSettings *run) { sscanf(v, "%lu", &run->baud); }},
    {"-P", "parity", "e even, n none, anything else odd (the default)",
     [](char *v, RunSettings *run) { run->parity = parity_code(v[0]); }},
    {"-C", "config", "the modem configuration file; with -D/dev/ttyS0: config.ttyS0",
     // NOLINTNEXTLINE(readability-non-const-parameter): the table's one signature, for -D's sake
     [](char *v, RunSettings *run) { run->config_base = v; }},
    {"--rtscts", nullptr, "host RTS/CTS flow control off",
     [](char *, RunSettings *) { io_use_rts_cts(0); }},
    {"-+rtscts", nullptr, "host RTS/CTS flow control on (the default)",
     [](char *, RunSettings *) { io_use_rts_cts(1); }},
    {"--dropdtr", nullptr, "lower DTR at the end of the run, Ctrl-C included",
     [](char *, RunSettings *) { io_drop_dtr(1); }},
    {"--force", nullptr, "hang up even a line that another program holds",
     [](char *, RunSettings *run) { run->force = true; }},
    {"--help", nullptr, "this text; nothing is opened or written",
     [](char *, RunSettings *run) { run->help = true; }},
};

// One line of the synopsis: the options with a value, or the words but --help.
void print_synopsis(FILE *to, const char *start, bool words)
{
    char line[100];
    size_t n = static_cast<size_t>(snprintf(line, sizeof line, "%s", start));
    for (const Option &o : options) {
        if ((o.value == nullptr) == words && strcmp(o.spelling, "--help") != 0 && n < sizeof line)
            n += static_cast<size_t>(snprintf(line + n, sizeof line - n, " [%s%s]", o.spelling,
                                              o.value != nullptr ? o.value : ""));
    }
    fprint_usage(to, "%s\n", line);
}

}  // namespace

bool apply_option(char *arg, RunSettings *run)
{
    if (arg[0] != '-' || arg[1] == '\0')
        return false;
    int kind = tolower(static_cast<unsigned char>(arg[1]));
    for (const Option &o : options) {
        bool word = o.value == nullptr;
        if (tolower(static_cast<unsigned char>(o.spelling[1])) != kind
            || (word && strcasecmp(arg + 2, o.spelling + 2) != 0))
            continue;
        o.apply(arg + 2, run);
        return true;
    }
    return kind == '-' || kind == '+';  // other words there are ignored
}

void print_help(FILE *to)
{
    print_synopsis(to, "usage: vendhook", false);
    print_synopsis(to, "               ", true);
    fprint_usage(to, "       vendhook --help\n");
    fprint_usage(to, "Hangs up the dial-up modem on a serial port.  A value is written directly\n");
    fprint_usage(to,
                 "behind its letter (-D/dev/ttyS0); letters and words are read in either case.\n");
    fprint_usage(to, "\n");
    for (const Option &o : options) {
        char option[16];
        snprintf(option, sizeof option, "%s%s", o.spelling, o.value != nullptr ? o.value : "");
        fprint_usage(to, "  %-10s %s\n", option, o.help);
    }
    fprint_usage(to, "See vendhook(1).\n");
}
