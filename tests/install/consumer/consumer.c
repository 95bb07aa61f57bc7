/* A program built against the installed library the way its users build
 * one, with nothing but the installed headers and library.  It reaches the
 * library through functions and through the ReceiverType variable (data
 * shared between program and library is what a wrong export breaks first)
 * and checks every answer.  Exits 1 after reporting each mismatch. */
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vendlink/io.h>
#include <vendlink/modem.h>
#include <vendlink/status.h>

enum { CONFIG_RECORD_SIZE = 45, CHECK_OFFSET = 38, TYPE_OFFSET = 44 };

static int failures;

static void fail(const char *what, const char *detail)
{
    fprintf(stderr, "consumer: %s: %s\n", what, detail);
    ++failures;
}

static void expect_bytes(const char *what, const unsigned char *got, int got_len,
                         const unsigned char *want, int want_len)
{
    if (got_len != want_len || memcmp(got, want, (size_t)want_len) != 0)
        fail(what, "bytes differ");
}

/* Reads what the library wrote to the other end; -1 on error. */
static int drain(int fd, unsigned char *buf, int size)
{
    int n = (int)read(fd, buf, (size_t)size);
    return n < 0 ? -1 : n;
}

static void check_version(void)
{
    char revision[256] = "";
    get_io_version(revision);
    /* A revision such as "2.38.1.5", never the fallback "unknown". */
    if (revision[0] < '0' || revision[0] > '9' || strchr(revision, '.') == NULL)
        fail("get_io_version", revision);
}

static void check_numbers(void)
{
    static const struct {
        unsigned char bytes[4];
        uint32_t value;
    } cases[] = {
        {{0x00, 0x00, 0x00, 0x01}, 1u},
        {{0x12, 0x34, 0x56, 0x78}, 0x12345678u},
        {{0xff, 0xff, 0xff, 0xfe}, 0xfffffffeu},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        if (buf2UL(cases[i].bytes) != cases[i].value)
            fail("buf2UL", "wrong value");
    }

    static const unsigned char one_and_a_half[8] = {0x3f, 0xf8, 0, 0, 0, 0, 0, 0};
    unsigned char buf[8];
    double2buf(buf, 1.5);
    expect_bytes("double2buf", buf, 8, one_and_a_half, 8);
    if (buf2double(one_and_a_half) != 1.5)
        fail("buf2double", "wrong value");
}

static void check_send_msg(void)
{
    static const unsigned char mode_data[] = {0x00, 0x08, 0x00, 0x00, 0x02};
    static const struct {
        int type;
        const unsigned char *data;
        int length;
        unsigned char frame[16];
        int frame_length;
    } cases[] = {
        {0x82, mode_data, 5, {0x02, 0x00, 0x82, 0x05, 0x00, 0x08, 0x00, 0x00, 0x02, 0x91, 0x03}, 11},
        {0x4a, NULL, 0, {0x02, 0x00, 0x4a, 0x00, 0x4a, 0x03}, 6},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        int p[2];
        if (pipe(p) != 0) {
            fail("send_msg", "no pipe");
            return;
        }
        send_msg(p[1], cases[i].type, cases[i].data, cases[i].length);
        close(p[1]);
        unsigned char got[64];
        int n = drain(p[0], got, sizeof got);
        close(p[0]);
        expect_bytes("send_msg", got, n, cases[i].frame, cases[i].frame_length);
    }
}

static void check_script_name(void)
{
    char long_base[SCRIPT_NAME_SIZE];
    memset(long_base, 'm', sizeof long_base - 1);
    long_base[sizeof long_base - 1] = '\0';
    const struct {
        const char *base;
        const char *device;
        const char *name; /* NULL: refused */
    } cases[] = {
        {"modem.dat", "/dev/ttyS0", "modem.dat.ttyS0"},
        {"modem.dat", "ttyS0", "modem.datttyS0"},
        {long_base, "/dev/ttyS0", NULL},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        char dest[SCRIPT_NAME_SIZE];
        char device[64];
        snprintf(device, sizeof device, "%s", cases[i].device);
        const char *got = form_safe_script_name(dest, cases[i].base, device);
        if (cases[i].name == NULL ? got != NULL : got == NULL || strcmp(got, cases[i].name) != 0)
            fail("form_safe_script_name", cases[i].device);
    }
}

/* The configuration reply a receiver of this type sends. */
static int config_reply(unsigned char type, unsigned char *frame)
{
    unsigned char record[CONFIG_RECORD_SIZE];
    memset(record, 0, sizeof record);
    record[CHECK_OFFSET] = 1;
    record[TYPE_OFFSET] = type;
    unsigned sum = 0x4b + CONFIG_RECORD_SIZE;
    frame[0] = 0x02;
    frame[1] = 0x00;
    frame[2] = 0x4b;
    frame[3] = CONFIG_RECORD_SIZE;
    for (int i = 0; i < CONFIG_RECORD_SIZE; ++i) {
        frame[4 + i] = record[i];
        sum += record[i];
    }
    frame[4 + CONFIG_RECORD_SIZE] = (unsigned char)sum;
    frame[5 + CONFIG_RECORD_SIZE] = 0x03;
    return CONFIG_RECORD_SIZE + 6;
}

/* The library sets ReceiverType; the program must see the same variable. */
static void check_receiver_type(void)
{
    static const struct {
        unsigned char type;
        int status;
    } cases[] = {{4, RC_OK}, {9, RC_FAIL}};
    static const unsigned char query[] = {0x02, 0x00, 0x4a, 0x00, 0x4a, 0x03};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) {
            fail("test_receiver_configuration", "no socket pair");
            return;
        }
        unsigned char frame[64];
        int n = config_reply(cases[i].type, frame);
        if (write(sv[1], frame, (size_t)n) != n)
            fail("test_receiver_configuration", "reply not queued");
        set_timeout(sv[0], 10); /* a missing reply ends in time, not never */
        ReceiverType = 0;
        if (test_receiver_configuration(sv[0]) != cases[i].status)
            fail("test_receiver_configuration", "wrong status");
        if (ReceiverType != cases[i].type)
            fail("ReceiverType", "not the type the library read");
        unsigned char sent[64];
        shutdown(sv[0], SHUT_WR);
        int got = drain(sv[1], sent, sizeof sent);
        expect_bytes("test_receiver_configuration query", sent, got, query, sizeof query);
        close(sv[0]);
        close(sv[1]);
    }
}

int main(void)
{
    alarm(60); /* whatever goes wrong, the test ends */
    check_version();
    check_numbers();
    check_send_msg();
    check_script_name();
    check_receiver_type();
    if (failures != 0)
        return 1;
    printf("consumer: all checks passed\n");
    return 0;
}
