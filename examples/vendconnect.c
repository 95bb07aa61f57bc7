/* vendconnect: how a connect program uses the link library.  It locks the
 * device, opens the port, dials, tests the link, checks that the receiver is
 * not in remote-monitor mode, prints the receiver's identification, hangs up
 * and unlocks; it exits with the status of the first failure.
 *
 *   vendconnect -Ddevice [-Bbaud] [-Pparity] [-Cconfig] [-Mdial]
 *
 * Written in C on purpose: the library's headers are plain C. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vendlink/io.h>
#include <vendlink/modem.h>
#include <vendlink/semlock.h>

struct settings {
    long baud;
    int parity;
    char *device;
    const char *config_base;
    const char *dial;
};

static int parse(int argc, char **argv, struct settings *s)
{
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (a[0] != '-' || a[1] == '\0')
            return -1;
        switch (a[1]) {
        case 'D':
            s->device = argv[i] + 2;
            break;
        case 'B':
            s->baud = strtol(a + 2, NULL, 10);
            break;
        case 'P':
            s->parity = a[2] == 'e' ? 1 : a[2] == 'n' ? 2 : 0;
            break;
        case 'C':
            s->config_base = a + 2;
            break;
        case 'M':
            s->dial = a + 2;
            break;
        default:
            return -1;
        }
    }
    return s->device != NULL && s->device[0] != '\0' ? 0 : -1;
}

/* Dial, test the link and the mode, and print the identification. */
static int session(int fd, const char *dial, const char *config)
{
    int rc = init_modem(fd, dial, config);
    if (rc != RC_OK)
        return rc;
    rc = test_comm_link(fd);
    if (rc != RC_OK)
        return rc;
    rc = receiver_in_monitor(fd);
    if (rc != RC_OK)
        return rc;

    char model[9], serial[9];
    double n1, n2, n3;
    long c1, c2;
    rc = get_receiver_type(fd, model, serial, &n1, &n2, &n3, &c1, &c2);
    if (rc != RC_OK)
        return rc;
    printf("Receiver type %u: \"%s\" \"%s\", versions %.2f %.2f %.2f, counts %ld %ld\n",
           (unsigned)ReceiverType, model, serial, n1, n2, n3, c1, c2);
    return RC_OK;
}

int main(int argc, char **argv)
{
    struct settings s = {9600, 0, NULL, NULL, NULL};
    if (parse(argc, argv, &s) != 0) {
        fprintf(stderr, "usage: vendconnect -Ddevice [-Bbaud] [-Pparity] [-Cconfig] [-Mdial]\n");
        return RC_USAGE & 0xff;
    }
    ctrl_C_capture();

    /* The lock goes first: a second program must not touch the line at all.
     * lock_device also refuses a line that cu, minicom, pppd (a lock file)
     * or picocom (flock) holds, in one line naming the program. */
    if (lock_device(s.device) != RC_OK)
        return RC_FAIL & 0xff;
    int fd = init_port(s.baud, s.parity, s.device);
    if (fd < 0) {
        unlock_device(s.device);
        return fd & 0xff;
    }

    char name[SCRIPT_NAME_SIZE];
    char device_copy[SCRIPT_NAME_SIZE];
    snprintf(device_copy, sizeof device_copy, "%s", s.device);
    const char *config = form_safe_script_name(name, s.config_base, device_copy);

    int rc = session(fd, s.dial, config);
    /* Hang up whatever happened: a half-made call must not stay up. */
    disconnect_modem(fd, config);
    close_comm();
    unlock_device(s.device);

    if (rc == RC_OK)
        fprintf(stderr, "Done.\n");
    else
        fprintf(stderr, "Done (%d).\n", rc);
    return rc & 0xff;
}
