/* Result codes shared by every operation of the link library and the exit
 * status of vendhook: 0 is success, failures are negative.  A shell sees the
 * low eight bits (242 for RC_USAGE, 255 for RC_FAIL). */
#ifndef VENDLINK_STATUS_H
#define VENDLINK_STATUS_H

enum {
    RC_OK = 0,                 /* success */
    RC_FAIL = -1,              /* generic failure */
    RC_MODEM_UNEXPECTED = -5,  /* unexpected modem answer while dialing */
    RC_MODEM_TIMEOUT = -6,     /* the modem did not answer in time */
    RC_CONFIG_IDENTIFIER = -7, /* unrecognized line in the modem configuration file */
    RC_CONFIG_WRITE = -8,      /* the modem configuration file cannot be written */
    RC_NO_LINK = -9,           /* ENQ/ACK handshake with the receiver failed */
    RC_USAGE = -14,            /* bad command line */
    RC_NO_ACK = -16,           /* no valid answer from the receiver */
    RC_NAK = -17,              /* the receiver answered NAK */
    RC_NO_CONFIG = -21,        /* no configuration reply from the receiver */
    RC_BAD_CONFIG = -23,       /* the receiver configuration test failed */
    RC_INTERRUPTED = -24,      /* terminated by Ctrl-C */
    RC_REMOTE_MONITOR = -35    /* the receiver is in remote-monitor mode */
};

#endif
