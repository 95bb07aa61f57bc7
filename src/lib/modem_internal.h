// What the files of the modem module share; not part of the library's
// public interface.
#ifndef VENDLINK_MODEM_INTERNAL_H
#define VENDLINK_MODEM_INTERNAL_H

enum { MODEM_STRING_SIZE = 133, MODEM_LINE_SIZE = 80 };

struct ModemStrings {
    char dial_string[MODEM_STRING_SIZE];
    char hangup_string[MODEM_STRING_SIZE];
    char connect_string[MODEM_STRING_SIZE];
    char ack_string[MODEM_STRING_SIZE];
    char setup_string[MODEM_STRING_SIZE];
};

// The strings as last loaded.
const ModemStrings &modem_strings();

// Empties the strings, then fills them from the override, the file and the
// defaults, and writes the file back.
int load_modem_config(const char *dial_override, const char *config_file);

// Sends text one character at a time, each "~" a one-second pause, then a
// carriage return; returns the characters written, or -1 when the line went
// away before all of them and the carriage return were written.
int send_modem_string(int fd, const char *text);

// Reads one reply line (at most size - 1 characters) into buffer.
char *read_modem_line(int fd, int size, char *buffer);

// The reply matching rule: all characters of expected but its last.
bool reply_matches(const char *line, const char *expected);

#endif
