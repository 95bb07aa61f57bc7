// The receiver configuration test (modem module).
#include "vendlink/modem.h"

#include <cstdint>

#include "io_internal.h"
#include "vendlink/io.h"

unsigned char ReceiverType = 0;

namespace {

const int config_query = 0x4A;
const int config_reply = 0x4B;
const int query_attempts = 10;
const int check_offset = 38;
const int type_offset = 44;

bool accepted_type(unsigned char type)
{
    return type == 3 || type == 4 || type == 5;
}

}  // namespace

extern "C" {

int test_receiver_configuration(int fd)
{
    unsigned char reply[256];
    uint16_t length = 0;
    for (int attempt = 1;; ++attempt) {
        send_msg(fd, config_query, nullptr, 0);
        if (get_message(fd, reply, &length) == config_reply)
            break;
        if (io_line_gone(fd))
            return RC_NO_CONFIG;
        if (attempt == query_attempts) {
            fprintf(get_stderr(), "Could not retrieve receiver config.\n");
            return RC_NO_CONFIG;
        }
        clear_comm(fd);
    }
    // A record too short to hold a byte reads it as 0: no type, and a check
    // byte that fails.
    ReceiverType = length > type_offset ? reply[type_offset] : 0;
    unsigned char check = length > check_offset ? reply[check_offset] : 0;
    if (check == 0)
        return RC_FAIL;
    return accepted_type(ReceiverType) ? RC_OK : RC_FAIL;
}

int test_comm_link(int fd)
{
    if (establish_comm(fd) != RC_OK)
        return RC_NO_LINK;
    fprintf(get_stderr(), "Testing receiver configuration\n");
    if (test_receiver_configuration(fd) != RC_OK)
        return RC_BAD_CONFIG;
    return RC_OK;
}

}  // extern "C"
