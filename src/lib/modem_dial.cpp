// Dialing (modem module): from an idle modem to a connected call.
#include "vendlink/modem.h"

#include <cstring>
#include <ctime>

#include "io_internal.h"
#include "modem_internal.h"
#include "vendlink/io.h"

namespace {

const double setup_ack_limit = 3.0;
const double connect_limit = 75.0;

// The text without its "~" pauses, as a modem echoes it.  Cut to the length
// of a reply line: an echo is read in lines of at most 79 characters, so a
// longer text could never be compared in full anyway.
void without_pauses(const char *text, char dest[MODEM_LINE_SIZE])
{
    size_t n = 0;
    for (const char *p = text; *p != '\0' && n < MODEM_LINE_SIZE - 1; ++p) {
        if (*p != '~')
            dest[n++] = *p;
    }
    dest[n] = '\0';
}

bool begins_with(const char *line, const char *text)
{
    return strncmp(line, text, strlen(text)) == 0;
}

enum class Reply { ignored, connected, unexpected };

Reply classify(const char *line, const char *dial_text, const char *hangup_text)
{
    const ModemStrings &s = modem_strings();
    if (begins_with(line, s.ack_string))
        return Reply::ignored;
    if (reply_matches(line, dial_text) || reply_matches(line, hangup_text))
        return Reply::ignored;  // the modem's echo of a command
    if (reply_matches(line, s.connect_string))
        return Reply::connected;
    if (line[0] == '\0' || line[0] == '\r' || line[0] == '\n')
        return Reply::ignored;
    return Reply::unexpected;
}

}  // namespace

extern "C" int init_modem(int fd, const char *dial, const char *config_file)
{
    int rc = load_modem_config(dial, config_file);
    if (rc != RC_OK)
        return rc;

    char dial_text[MODEM_LINE_SIZE];
    char hangup_text[MODEM_LINE_SIZE];
    without_pauses(modem_strings().dial_string, dial_text);
    without_pauses(modem_strings().hangup_string, hangup_text);

    fprintf(get_stderr(), "Initializing modem...\n");
    io_pause_on(fd, 1000);
    send_modem_string(fd, modem_strings().setup_string);
    if (wait_for_response(fd, modem_strings().ack_string, setup_ack_limit) != RC_OK)
        return RC_MODEM_TIMEOUT;

    if (send_modem_string(fd, modem_strings().dial_string) < 0)
        return RC_MODEM_TIMEOUT;
    fprintf(get_stderr(), "Dialing...\n");
    time_t dialing_start = time(nullptr);
    char line[MODEM_LINE_SIZE];
    for (;;) {
        read_modem_line(fd, sizeof line, line);
        // What a line that went away left unfinished is no answer.
        if (io_line_gone(fd))
            return RC_MODEM_TIMEOUT;
        fprintf(get_stderr(), "%s\n", line);
        Reply reply = classify(line, dial_text, hangup_text);
        if (reply == Reply::connected)
            return RC_OK;
        if (reply == Reply::unexpected)
            return RC_MODEM_UNEXPECTED;
        if (difftime(time(nullptr), dialing_start) >= connect_limit) {
            fprintf(get_stderr(), "Could not establish host->modem connection.\n");
            return RC_MODEM_TIMEOUT;
        }
    }
}
