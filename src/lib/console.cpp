// Console side of the io module: version and help text, the pager, the
// one-character terminal mode it waits in, and the diagnostics stream.
#include "vendlink/io.h"

#include <csignal>
#include <cstdarg>
#include <cstring>
#include <termios.h>
#include <unistd.h>

#include "io_internal.h"

namespace {

const char io_ident[] = "$Header: console.cpp,v 2.38.1.5 99/12/21 15:11:17 devel Exp $";

const char banner_format[] = "Orvanta-RC REMOTE CONTROL, v%.2lf %s  (%02d %s %d)\n";
const double release = 2.35;
const char platform_word[] = "SPARC";
const int build_day = 20;
const char build_month[] = "DEC";
const int build_year = 1999;
const char rights_notice[] = "Copyright (c) 1996-1999 Orvanta.  All rights reserved.\n";

const char *const io_help_lines[] = {
    "  -M[dialing_string]\tInitialize and use modem interface.  Dial with",
    "\t\t\tdialing_string from 'modem.dat'.",
    "\t\t\tOptionally, may provide new dialing_string after",
    "\t\t\t'-m' modifier.",
    "  -Bbaud\t\tHost<->DCE 'baud' value (default: 9600).",
    "  -Pparity\t\tHost<->DCE 'parity' value.",
    "\t\t\to->odd, e->even, n->none (default: odd)",
    "  -Ddev   \t\tSerial port device file.",
    "\t\t\tdefaults: HP-UX: '/dev/ser_port1'",
    "\t\t\tSOLARIS: '/dev/ttya'",
    "\t\t\tDOS: '1' (COM 1)",
    "  -Cconfigfile\t\tModem config file.  ",
    "\t\t\tWhen specified with the \"-d\" switch, only",
    "\t\t\tthe path and base name should be provided.",
    "\t\t\tThe \"device\" name will be appended to the",
    "\t\t\tend of \"config\" name.",
    "  --rtscts             Disable RTS/CTS requirements at the host computer.",
    "  --dropdtr            Drop DTR upon program termination.",
    "",
    "  Example:    wexal  -dmodem.dat -c/dev/ttya",
    "   or         wexal  -dmodem.dat.ttya",
    "",
};

const int pager_page_lines = 23;
const char pager_prompt[] = "<Press any key to continue>";
const char pager_blank[] = "\r                           \r";

// Revision printed for an identification string that is not in the
// "$Header: file,v revision ..." form.
const char unknown_revision[] = "unknown";

int pager_line_count = 0;
FILE *pager_stream = nullptr;
int pager_is_tty = 0;

// Written by the main flow, read by the Ctrl-C handler: the flag is raised
// only once the record is complete, and dropped before it is overwritten.
struct termios saved_termios;
int saved_termios_fd = -1;
volatile sig_atomic_t saved_termios_valid = 0;

FILE *diag_stream = nullptr;  // nullptr: standard error
volatile sig_atomic_t diag_fd = STDERR_FILENO;

int wait_for_key()
{
    termio_EnableOneCharReads(STDIN_FILENO, 0);
    int c = fgetc(stdin);
    termio_EnableOneCharReads(STDIN_FILENO, 1);
    return c;
}

void restore_terminal_to(int fd)
{
    if (saved_termios_valid == 1) {
        tcsetattr(fd, TCSANOW, &saved_termios);
        saved_termios_valid = 0;
    }
}

}  // namespace

extern "C" {

char *print_version(const char *program, const char *ident, char *out)
{
    fprint_usage(stderr, banner_format, release, platform_word, build_day, build_month, build_year);
    fprint_usage(stderr, "%s", rights_notice);
    char revision[256];
    if (sscanf(ident, "$Header: %*s %255s %*s", revision) != 1)
        strcpy(revision, unknown_revision);
    if (out == nullptr) {
        fprint_usage(stderr, "%s, %s\n", program, revision);
    } else {
        snprintf(out, VERSION_TEXT_SIZE, "%s, %s", program, revision);
    }
    return out;
}

char *get_io_version(char *buf)
{
    if (sscanf(io_ident, "$ Header: %*s %s", buf) != 1)
        strcpy(buf, unknown_revision);
    return buf;
}

void print_io_help(void)
{
    for (const char *line : io_help_lines)
        fprint_usage(stderr, "%s\n", line);
}

int fprint_usage(FILE *stream, const char *format, ...)
{
    if (stream != pager_stream) {
        pager_is_tty = isatty(fileno(stream)) ? 1 : 0;
        pager_stream = stream;
    }

    char text[1024];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    if (n < 0)
        text[0] = '\0';
    else if (static_cast<size_t>(n) >= sizeof text)
        text[sizeof text - 2] = '\n';  // callers print whole lines: a cut one still ends

    if (pager_is_tty == 1 && pager_line_count > 0 && pager_line_count % pager_page_lines == 0) {
        fputs(pager_prompt, stream);
        fflush(stream);
        wait_for_key();
        fputs(pager_blank, stream);
        fflush(stream);
    }
    ++pager_line_count;
    return fprintf(stream, "%s", text);
}

int termio_EnableOneCharReads(int fd, int restore)
{
    restore_terminal_to(fd);
    if (restore != 0)
        return 0;

    struct termios now;
    if (tcgetattr(fd, &now) != 0)
        return -1;
    saved_termios = now;
    saved_termios_fd = fd;
    saved_termios_valid = 1;

    now.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    now.c_cc[VMIN] = 1;
    now.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &now) != 0)
        return -1;
    return 0;
}

void set_stderr(FILE *stream)
{
    diag_stream = stream;
    diag_fd = stream != nullptr ? fileno(stream) : STDERR_FILENO;
}

FILE *get_stderr(void)
{
    return diag_stream != nullptr ? diag_stream : stderr;
}

}  // extern "C"

void console_restore_terminal()
{
    restore_terminal_to(saved_termios_fd);
}

int console_diag_fd()
{
    return diag_fd;
}
