// The driver's option parsing.
#include "driver/options.h"

#include <cctype>
#include <cstdio>
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

}  // namespace

bool apply_option(char *arg, RunSettings *run)
{
    if (arg[0] != '-')
        return false;
    char *value = arg[1] != '\0' ? arg + 2 : arg + 1;
    switch (tolower(static_cast<unsigned char>(arg[1]))) {
    case '+':
        if (strcasecmp(value, "rtscts") == 0)
            io_use_rts_cts(1);
        return true;
    case '-':
        if (strcasecmp(value, "rtscts") == 0)
            io_use_rts_cts(0);
        else if (strcasecmp(value, "dropdtr") == 0)
            io_drop_dtr(1);
        else if (strcasecmp(value, "help") == 0)
            run->help = true;
        else if (strcasecmp(value, "force") == 0)
            run->force = true;
        return true;
    case 'b':
        sscanf(value, "%lu", &run->baud);
        return true;
    case 'c':
        run->config_base = value;
        return true;
    case 'd':
        run->device = value;
        return true;
    case 'p':
        run->parity = parity_code(value[0]);
        return true;
    default:
        return false;
    }
}
