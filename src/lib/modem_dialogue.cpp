// The text dialogue with a Hayes modem: sending commands, reading reply
// lines, waiting for an answer, and the hang-up (modem module).
#include "vendlink/modem.h"

#include <cstring>
#include <ctime>

#include "io_internal.h"
#include "modem_internal.h"
#include "vendlink/io.h"

namespace {

const double line_idle_limit = 5.0;  // seconds without a byte that end a reply line
const double hangup_ack_limit = 3.0;

double seconds_since(time_t then)
{
    return difftime(time(nullptr), then);
}

}  // namespace

int send_modem_string(int fd, const char *text)
{
    int count = 0;
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p == '~') {
            io_pause_on(fd, 1000);
        } else if (write_port(fd, p, 1) == 1) {
            ++count;
            continue;
        }
        if (io_line_gone(fd))
            return -1;
    }
    if (write_port(fd, "\r", 1) != 1 && io_line_gone(fd))
        return -1;
    return count;
}

char *read_modem_line(int fd, int size, char *buffer)
{
    if (size < 1)
        return buffer;
    memset(buffer, 0, static_cast<size_t>(size));
    if (size < 2)
        return buffer;

    time_t last_activity = time(nullptr);
    int stored = 0;
    while (stored < size - 1) {
        if (seconds_since(last_activity) > line_idle_limit)
            break;
        char c;
        if (read_port(fd, &c, 1) != 1) {
            if (io_line_gone(fd))
                break;
            continue;
        }
        last_activity = time(nullptr);
        if (c == '\r' || c == '\n')
            break;
        buffer[stored++] = c;
    }
    buffer[stored] = '\0';
    return buffer;
}

bool reply_matches(const char *line, const char *expected)
{
    size_t n = strlen(expected);
    if (n == 0)
        return line[0] == '\0';
    return strncmp(line, expected, n - 1) == 0;
}

extern "C" {

int wait_for_response(int fd, const char *expected, double limit)
{
    time_t start = time(nullptr);
    char line[MODEM_LINE_SIZE];
    for (;;) {
        read_modem_line(fd, sizeof line, line);
        if (seconds_since(start) >= limit || io_line_gone(fd))
            return RC_MODEM_TIMEOUT;
        if (reply_matches(line, expected))
            return RC_OK;
    }
}

int disconnect_modem(int fd, const char *config_file)
{
    if (modem_strings().dial_string[0] == '\0') {
        int rc = load_modem_config(nullptr, config_file);
        if (rc != RC_OK)
            return rc;
    }
    // Into a line that is gone nothing is sent; a hang-up string that did not all go out may have
    // left the call up.
    if (io_line_gone(fd))
        return RC_FAIL;
    fprintf(get_stderr(), "\nDisconnecting modem...\n");
    if (send_modem_string(fd, modem_strings().hangup_string) < 0)
        return RC_FAIL;
    wait_for_response(fd, modem_strings().ack_string, hangup_ack_limit);
    // A modem that is off keeps CTS low, and RTS/CTS then holds the string
    // in the driver, where closing the port would wait for it half a minute.
    if (io_discard_held_output(fd))
        fprintf(get_stderr(),
                "The modem did not take the hang-up string (flow control is holding it: "
                "is the modem on, and the cable wired for RTS/CTS?).\n");
    return RC_OK;
}

}  // extern "C"
