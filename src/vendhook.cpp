// vendhook: hangs up the modem on the serial port.  Prints the version,
// reads the options, makes sure no other program is using the line, opens
// the port, hangs up, and reports the outcome.
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include "driver/options.h"
#include "lib/devlock.h"
#include "lib/io_internal.h"
#include "vendlink/io.h"
#include "vendlink/modem.h"
#include "vendlink/semlock.h"

namespace {

const char driver_ident[] = "$Header: vendhook.cpp,v 2.9 99/07/26 01:12:29 devel Exp $";

const char *const usage_lines[] = {
    "usage: vendhook [-Ddev] [-Bbaud] [-Pparity] [-Cconfig]",
    "",
    "Note: Usage implies modem connection.",
};

void print_usage()
{
    for (const char *line : usage_lines)
        fprint_usage(stderr, "%s\n", line);
    print_io_help();
}

[[noreturn]] void finish(int status)
{
    if (status == RC_USAGE)
        print_usage();
    else if (status == RC_OK)
        fprintf(stderr, "Done.\n");
    else
        fprintf(stderr, "Done (%d).\n", status);
    exit(status);
}

// The configuration file name for this run; exits when the name is too long.
const char *config_file_name(char *buffer, const RunSettings &run)
{
    const char *name = form_safe_script_name(buffer, run.config_base, run.device);
    if (name == nullptr && run.config_base != nullptr && run.device != nullptr) {
        fprintf(get_stderr(), "Modem config file name would be longer than %d characters.\n",
                SCRIPT_NAME_SIZE - 1);
        close_comm();
        finish(RC_CONFIG_WRITE);
    }
    return name;
}

// A line that another live process holds is left alone, unless --force:
// hanging it up would cut that program's call.  Otherwise the run holds the
// line's locks until it ends; the system and the library let them go at
// exit, Ctrl-C included.  A device that is not there is init_port's to report.
void take_line(const RunSettings &run)
{
    char path[io_device_name_size];
    struct stat st;
    if (!io_device_to_open(run.device, path) || stat(path, &st) != 0)
        return;
    LockHolder h;
    if (device_take(path, &h) == RC_OK)
        return;
    if (h.pid == 0) {  // a lock that could not be taken, said
        if (!run.force)
            finish(RC_FAIL);
        return;
    }
    if (!run.force) {
        fprintf(stderr,
                "Not hanging up: process %d (%s) holds %s with %s (--force hangs up anyway).\n",
                h.pid, h.program, path, h.lock);
        finish(RC_FAIL);
    }
    fprintf(stderr,
            "Hanging up anyway: cutting the call of process %d (%s), which holds %s with %s.\n",
            h.pid, h.program, path, h.lock);
}

}  // namespace

int main(int argc, char **argv)
{
    print_version(argv[0] != nullptr ? argv[0] : "vendhook", driver_ident, nullptr);
    RunSettings run;
    ctrl_C_capture();

    for (int i = 1; i < argc; ++i) {
        if (!apply_option(argv[i], &run))
            finish(RC_USAGE);
    }
    if (run.help) {
        print_help(stdout);
        exit(RC_OK);
    }
    take_line(run);

    int fd = init_port(static_cast<long>(run.baud), run.parity, run.device);
    if (fd < 0)
        finish(fd);

    char config_buffer[SCRIPT_NAME_SIZE];
    const char *config_file = config_file_name(config_buffer, run);
    int status = disconnect_modem(fd, config_file);
    close_comm();
    finish(status);
}
