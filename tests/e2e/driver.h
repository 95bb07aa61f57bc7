// The end-to-end driver: a row is one run of a real program in a fresh folder, beside vendsim on
// a pseudo-terminal, and states what a user could see of it.  Its times, and the quarter second of
// CPU it may use, count from its first output to its last (the closing line), whatever its
// start-up and exit cost a busy machine; the calendar clock's seconds fall the same way in every
// run; a long row's programs may run on a faster clock (docs/ci.md says how and why).
#ifndef VENDTEST_DRIVER_H
#define VENDTEST_DRIVER_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

struct Burst {
    double t;  // seconds after the program's first output; below 0: whenever
    std::string bytes;
};
struct File {
    std::string name;  // inside the run's folder
    std::string text;
};

// In every text of a row "$M" stands for the modem (a link in the run's folder), "$D" for the
// folder, "$N" for a name of the run's own; "[...]" in an expected text for any text.
struct Run {
    std::string dir;    // the folder
    std::string slave;  // the simulator's terminal
    int line_fd = -1;   // that terminal, held open by the driver
    key_t key = -1;     // its key for the System V lock, taken while its path is there
    std::string expand(const std::string &text) const;
};

struct Row {
    std::string name;
    std::vector<std::string> args = {"-D$M"};
    std::vector<std::string> sim = {};     // vendsim's options
    std::vector<std::string> device = {};  // a second vendsim's, as a real device at $D/device
    std::vector<File> given = {};          // files made before the run
    void (*setup)(const Run &) = nullptr;  // anything else before it
    const char *env = nullptr;             // "NAME=value" for the program (and the shim)
    bool nobody = false;                   // run as user 65534 (modes bind it)
    bool tty = false;    // input and error a terminal; a key at the pager's prompt
    int sigint_ms = -1;  // Ctrl-C this long after its first output (tty: at the prompt)
    int status = -1;  // as the shell sees it; below 0: as its closing "Done (-N)." or Ctrl-C gives
    bool usage = false;  // its errors end in the usage text, as a bad option gets it, paged on its
                         // terminal: 23 lines, the prompt, then the rest (a key) or the Ctrl-C
    int sim_status = 0;  // the simulator's, which must end by itself
    std::string out = "";          // exactly
    std::string err = "";          // exactly; after vendhook's version lines
    std::vector<Burst> sent = {};  // what the modem got, in bursts a pause apart
    std::vector<File> left = {};   // files afterwards, exactly
    std::string dtr = "-";         // DTR set, in order: "1" raised, "0" lowered; "-": not looked at
    std::string line = "";         // the line's settings afterwards (line_of); "": not looked at
    double wall = -1;    // from its first output to its last; below 0: the Ctrl-C's or last burst's
    double slack = 0.3;  // give or take
    int pace = 1;        // their seconds (the program's, vendsim's) to one of the wall clock
    void (*check)(const Run &) = nullptr;  // anything else afterwards
};
inline void PrintTo(const Row &row, std::ostream *os)
{
    *os << row.name;
}

// What vendhook and the connect program print and send on the way.
const std::string created = "Could not find \"serial_port\", creating...\n";
const std::string stored = "Storing new device file name ($M).\n";
const std::string flow = "RTSXOFF is Disabled\nCTSXON is Disabled\nRTSXOFF is now ENABLED.\n";
const std::string port = "Port initialized (9600 baud, 8 data bits, Odd, 1 stop bit)\n";
const std::string opened = created + stored + flow + port;
const std::string defaults_used = "Using defaults for all modem strings.\n";
const std::string hangup = "\nDisconnecting modem...\n";
const std::string done = defaults_used + hangup + "Done.\n";
const std::string interrupted = "Terminated from Ctrl-C\n";
const std::string gone = "$M went away (unplugged, or hung up by the system).\n";

// Half a second draining the line, two of guard time, the escape, two more.
const std::vector<Burst> hung_up = {{2.5, "+++"}, {4.5, "ATH\r"}};

// The lock file that Linux's serial programs take for a device.
inline std::string lock_file_of(const std::string &device)
{
    std::error_code ec;
    return (std::filesystem::is_directory("/run/lock") ? "/run/lock/LCK.." : "/var/lock/LCK..")
        + std::filesystem::canonical(device, ec).filename().string();
}

void run_row(const char *program, bool version_lines, const Row &row);
// The settings of a raw line at `baud` with these c_cflag bits, and a read timeout of a second,
// as the driver describes a line.
std::string line_of(int baud, unsigned cflag);

#endif
