// The receiver link (io module): the ENQ/ACK handshake, the remote-monitor
// query and the identification query.
#include "vendlink/io.h"

#include <cctype>
#include <cstring>
#include <ctime>

#include "io_internal.h"

namespace {

const unsigned char ENQ = 0x05;
const unsigned char ACK = 0x06;
const unsigned char NAK = 0x15;
const double handshake_limit_s = 30.0;
const int query_attempts = 10;
const int reply_buffer_size = 256;

const int mode_query = 0x82;
const int mode_normal = 0x82;
const int mode_remote_monitor = 0x92;
const int ident_query = 0x06;
const int ident_reply = 0x07;

// Reads a record the way the scanf conversions "%Nc" and "%Nld" would, and
// never past the end of the text.  A field the text does not hold stops the
// reading; its output, and those after it, keep what they were set to.
class RecordReader {
public:
    explicit RecordReader(const char *text)
        : p_(text)
    {
    }

    bool chars(int n, char *dest)
    {
        if (!ok_ || static_cast<int>(strnlen(p_, static_cast<size_t>(n))) < n)
            return ok_ = false;
        if (dest != nullptr)
            memcpy(dest, p_, static_cast<size_t>(n));
        p_ += n;
        return true;
    }

    bool number(int width, long *dest)
    {
        if (!ok_)
            return false;
        while (*p_ != '\0' && isspace(static_cast<unsigned char>(*p_)))
            ++p_;
        const char *q = p_;
        bool negative = false;
        if ((*q == '-' || *q == '+') && width > 1) {
            negative = *q == '-';
            ++q;
        }
        long value = 0;
        const char *digits = q;
        while (q - p_ < width && isdigit(static_cast<unsigned char>(*q)))
            value = value * 10 + (*q++ - '0');
        if (q == digits)
            return ok_ = false;
        p_ = q;
        *dest = negative ? -value : value;
        return true;
    }

private:
    const char *p_;
    bool ok_ = true;
};

// The identification record: "%8c%8c%5ld%5ld%5ld%*10c%2ld%2ld".
void parse_identification(const char *text, char *text1, char *text2, long fields[5])
{
    RecordReader r(text);
    r.chars(8, text1);
    r.chars(8, text2);
    r.number(5, &fields[0]);
    r.number(5, &fields[1]);
    r.number(5, &fields[2]);
    r.chars(10, nullptr);
    r.number(2, &fields[3]);
    r.number(2, &fields[4]);
}

}  // namespace

extern "C" {

int get_ack(int fd)
{
    unsigned char c;
    if (read_port(fd, &c, 1) != 1)
        return RC_NO_ACK;
    if (c == ACK)
        return RC_OK;
    return c == NAK ? RC_NAK : RC_NO_ACK;
}

int establish_comm(int fd)
{
    fprintf(get_stderr(), "Testing communications link...wait.\n");
    clear_comm(fd);
    time_t deadline = time(nullptr) + static_cast<time_t>(handshake_limit_s);
    for (;;) {
        long long attempt_start = io_now_ms();
        write_port(fd, &ENQ, 1);
        if (get_ack(fd) == RC_OK)
            return RC_OK;
        if (io_line_gone(fd))
            return RC_NO_LINK;
        // A receiver that answers NAK at once would otherwise make this a
        // loop of hundreds of thousands of tries: each try takes at least
        // the read timeout, as a try that gets no answer does.
        long long left = attempt_start + io_read_timeout_ms() - io_now_ms();
        if (left > 0)
            io_sleep_ms(static_cast<long>(left));
        fprintf(get_stderr(), "...and wait\n");
        if (difftime(time(nullptr), deadline) >= 0) {
            fprintf(get_stderr(), "Could not establish communication with remote receiver.\n");
            return RC_NO_LINK;
        }
    }
}

int receiver_in_monitor(int fd)
{
    static const unsigned char query[] = {0x00, 0x08, 0x00, 0x00, 0x02};
    unsigned char reply[reply_buffer_size];
    uint16_t length;
    for (int attempt = 1;; ++attempt) {
        send_msg(fd, mode_query, query, sizeof query);
        int type = get_message(fd, reply, &length);
        if (type == mode_remote_monitor) {
            fprintf(get_stderr(), "Receiver is in REMOTE MONITOR.\n");
            return RC_REMOTE_MONITOR;
        }
        if (type == mode_normal)
            return RC_OK;
        if (attempt == query_attempts || io_line_gone(fd))
            return RC_NO_ACK;
        clear_comm(fd);
    }
}

int get_receiver_type(int fd, char *text1, char *text2, double *number1, double *number2,
                      double *number3, long *count1, long *count2)
{
    unsigned char reply[reply_buffer_size];
    uint16_t length = 0;
    for (int attempt = 1;; ++attempt) {
        send_msg(fd, ident_query, nullptr, 0);
        if (get_message(fd, reply, &length) == ident_reply)
            break;
        if (attempt == query_attempts || io_line_gone(fd))
            return RC_NO_ACK;
        clear_comm(fd);
    }

    // A record shorter than its layout leaves the fields it lacks empty (text)
    // or 0 (numbers).
    char text[reply_buffer_size + 1];
    memcpy(text, reply, length);
    text[length] = '\0';
    memset(text1, 0, 9);
    memset(text2, 0, 9);
    long fields[5] = {0, 0, 0, 0, 0};
    parse_identification(text, text1, text2, fields);
    text1[8] = '\0';
    text2[8] = '\0';

    *number1 = fields[0] * 0.01;
    *number2 = fields[1] * 0.01;
    *number3 = fields[2] * 0.01;
    long f7 = fields[3], f8 = fields[4];
    *count1 = f8;
    *count2 = f7 - f8;
    if (*count2 == 0 && f7 > 12)
        *count2 = f7;
    return RC_OK;
}

}  // extern "C"
