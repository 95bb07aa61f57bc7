/* The modem module: modem strings and their file, hang-up, dialing, and the
 * receiver configuration test.  Plain C interface. */
#ifndef VENDLINK_MODEM_H
#define VENDLINK_MODEM_H

#include "vendlink/status.h"

#ifdef __cplusplus
extern "C" {
#endif

int wait_for_response(int fd, const char *expected, double limit);
int disconnect_modem(int fd, const char *config_file);
int init_modem(int fd, const char *dial, const char *config_file);

/* Receiver configuration */
extern unsigned char ReceiverType;
int test_receiver_configuration(int fd);
int test_comm_link(int fd);

#ifdef __cplusplus
}
#endif

#endif
