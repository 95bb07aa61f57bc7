// The modem strings and the per-device modem configuration file (modem module).
#include "vendlink/modem.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fcntl.h>

#include "modem_internal.h"
#include "textfile.h"
#include "vendlink/io.h"

namespace {

[[maybe_unused]] const char modem_ident[]
    = "$Header: modem_config.cpp,v 1.14 99/12/21 15:11:17 devel Exp $";

const char default_hangup[] = "~~+++~~ATH";
const char default_connect[] = "CONNECT";
const char default_ack[] = "OK";
const char default_setup[] = "AT";

// A file written by us is five lines of at most 8 + 1 + 132 + 1 characters.
const int config_text_size = 1024;

ModemStrings strings;

struct Keyword {
    const char *word;
    char *value;
};

void set_string(char *dest, const char *src)
{
    snprintf(dest, MODEM_STRING_SIZE, "%s", src);
}

void default_if_empty(char *dest, const char *fallback)
{
    if (dest[0] == '\0')
        set_string(dest, fallback);
}

bool is_skippable(const char *line)
{
    return line[0] == '\0' || line[0] == '\t' || line[0] == '\r' || line[0] == '\n';
}

// The first word after the keyword, if the line has one.
void take_value(const char *rest, char *dest)
{
    while (*rest != '\0' && isspace(static_cast<unsigned char>(*rest)))
        ++rest;
    size_t n = 0;
    while (rest[n] != '\0' && !isspace(static_cast<unsigned char>(rest[n])))
        ++n;
    if (n == 0)
        return;
    if (n >= MODEM_STRING_SIZE)
        n = MODEM_STRING_SIZE - 1;
    memcpy(dest, rest, n);
    dest[n] = '\0';
}

// RC_OK, or RC_CONFIG_IDENTIFIER after an unrecognized line.
int read_config_lines(FILE *fp, bool has_override)
{
    const Keyword keywords[] = {
        {"DIAL", strings.dial_string},       {"HANGUP", strings.hangup_string},
        {"CONNECT", strings.connect_string}, {"ACK", strings.ack_string},
        {"SETUP", strings.setup_string},
    };
    char line[MODEM_LINE_SIZE];
    while (fgets(line, sizeof line, fp) != nullptr) {
        const Keyword *match = nullptr;
        for (const Keyword &k : keywords) {
            if (strncmp(line, k.word, strlen(k.word)) == 0) {
                match = &k;
                break;
            }
        }
        if (match == nullptr) {
            if (is_skippable(line))
                continue;
            fprintf(get_stderr(), "Unrecognized identifier:\n%s\n", line);
            return RC_CONFIG_IDENTIFIER;
        }
        if (match->value == strings.dial_string && has_override)
            continue;
        take_value(line + strlen(match->word), match->value);
    }
    return RC_OK;
}

int write_config(const char *config_file)
{
    char text[config_text_size];
    int n = snprintf(text, sizeof text, "%s %s\n%s %s\n%s %s\n%s %s\n%s %s\n", "DIAL",
                     strings.dial_string, "HANGUP", strings.hangup_string, "SETUP",
                     strings.setup_string, "CONNECT", strings.connect_string, "ACK",
                     strings.ack_string);
    int rc = n >= 0 && n < static_cast<int>(sizeof text)
        ? replace_file_text(config_file, text, static_cast<size_t>(n), O_WRONLY)
        : TEXTFILE_CANNOT_OPEN;
    if (rc == TEXTFILE_CANNOT_OPEN) {
        fprintf(get_stderr(), "Could not open %s for writing.\n", config_file);
        return RC_CONFIG_WRITE;
    }
    // The strings are loaded: a file that could not be saved costs no hang-up.
    if (rc != 0)
        report_not_written(get_stderr(), config_file);
    return RC_OK;
}

}  // namespace

const ModemStrings &modem_strings()
{
    return strings;
}

int load_modem_config(const char *dial_override, const char *config_file)
{
    memset(&strings, 0, sizeof strings);
    if (dial_override != nullptr)
        set_string(strings.dial_string, dial_override);

    if (config_file == nullptr) {
        fprintf(get_stderr(), "Using defaults for all modem strings.\n");
        set_string(strings.hangup_string, default_hangup);
        set_string(strings.connect_string, default_connect);
        set_string(strings.ack_string, default_ack);
        set_string(strings.setup_string, default_setup);
        return RC_OK;
    }

    FILE *fp = fopen(config_file, "r");
    if (fp == nullptr) {
        fprintf(get_stderr(), "File not found.  Creating...%s.\n", config_file);
    } else {
        int rc = read_config_lines(fp, dial_override != nullptr);
        fclose(fp);
        if (rc != RC_OK)
            return rc;
    }

    default_if_empty(strings.hangup_string, default_hangup);
    default_if_empty(strings.connect_string, default_connect);
    default_if_empty(strings.ack_string, default_ack);
    default_if_empty(strings.setup_string, default_setup);
    return write_config(config_file);
}
