// End-to-end test bench: runs the real vendhook against the simulated modem
// on a pseudo-terminal and collects what a user would see.
#ifndef VENDTEST_HARNESS_H
#define VENDTEST_HARNESS_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace e2e {

// The configuration file a run writes when it completes an empty one.
constexpr char defaults_file[] = "DIAL \nHANGUP ~~+++~~ATH\nSETUP AT\nCONNECT CONNECT\nACK OK\n";

double now_realtime();
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &text);
bool file_exists(const std::string &path);
bool ends_with(const std::string &s, const std::string &tail);
// How many times `what` stands in `s`.
int count_of(const std::string &s, const std::string &what);

// A fresh directory, removed with its contents at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// One entry of the simulator's transcript.
struct Entry {
    double t = 0;           // seconds since the simulator started
    std::string tag;        // "host->", "<-modem", "event", ...
    std::string bytes;      // the bytes of a byte entry
    std::string rest;       // the content as written
};

// The simulated modem, serving one session on a pty behind a symlink.
class Sim {
public:
    Sim(const TempDir &dir, const std::vector<std::string> &args = {});
    ~Sim();
    const std::string &link() const { return link_; }
    const std::string &slave() const { return slave_; }
    // Waits for the simulator to end; its exit status, or -1 on timeout.
    int wait_exit(int timeout_ms);
    double start_time() const;          // Unix time of the transcript's time 0
    std::vector<Entry> transcript() const;
    std::string host_bytes() const;     // everything the host sent, in order
    // What the host sent, in bursts that silences of more than `gap` seconds
    // separate; each with the Unix time of its first byte.
    std::vector<std::pair<double, std::string>> host_bursts(double gap = 0.5) const;
    std::string transcript_text() const { return read_file(transcript_); }

private:
    pid_t pid_ = -1;
    std::string link_, transcript_, slave_;
};

struct RunOptions {
    std::string program;                // default: vendhook
    std::vector<std::string> args;      // after the program name
    std::string cwd;
    std::string argv0;                  // default: the binary's path
    bool with_shim = false;             // preload the modem-control shim
    std::string shim_log;               // where the shim logs (with_shim)
    std::string preload;                // a further library to preload
    int sigint_after_ms = -1;           // send SIGINT this long after the start
    int uid = -1;                       // run as this user (tests run as root)
    int timeout_ms = 60000;             // kill the run after this long
};

struct RunResult {
    int status = -1;                    // exit status as the shell sees it
    int term_signal = 0;                // signal that killed it, if any
    std::string out, err;
    double started = 0;                 // Unix time of the start
    double wall = 0;                    // seconds
    double cpu = 0;                     // user + system seconds
};

RunResult run_vendhook(const RunOptions &opts);
// Options for a plain run of vendhook with `args`, in `dir`.
RunOptions in_dir(const TempDir &dir, const std::vector<std::string> &args);
// Makes a run that file permissions must refuse run, when the tests run as
// root (who writes through them), as a user whom they bind; `sim`'s line,
// if any, is opened to that user.
void as_unprivileged_user(RunOptions *o, const Sim *sim);

// The text vendhook prints before anything else.
std::string version_lines(const std::string &argv0);
// The usage and help text, as printed after a bad argument.
std::string usage_text();

extern const char *const vendhook_path;
extern const char *const vendsim_path;
extern const char *const shim_path;
extern const char *const vendconnect_path;
extern const char *const refuse_flowctl_path;

}  // namespace e2e

#endif
