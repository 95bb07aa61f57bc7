/* The semlock module: an advisory System V semaphore lock on a serial
 * device, keyed on its path.  Plain C interface. */
#ifndef VENDLINK_SEMLOCK_H
#define VENDLINK_SEMLOCK_H

#include "vendlink/status.h"

#ifdef __cplusplus
extern "C" {
#endif

int lock_device(const char *path);
int unlock_device(const char *path);

#ifdef __cplusplus
}
#endif

#endif
