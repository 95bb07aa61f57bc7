// The device lock (semlock module): one System V semaphore per device path,
// 0 free and 1 held.  Nothing waits: a held lock is refused at once, and the
// system undoes a holder's lock when it exits.
#include "vendlink/semlock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/ipc.h>
#include <sys/sem.h>

namespace {

[[maybe_unused]] const char semlock_ident[]
    = "$Header: semlock.cpp,v 1.3 99/07/26 01:12:29 devel Exp $";

const int key_project = 100;
const short op_flags = IPC_NOWAIT | SEM_UNDO;

// Wait for zero, then take: both or neither.
const struct sembuf lock_request[2] = {{0, 0, op_flags}, {0, 1, op_flags}};
const struct sembuf release_request[1] = {{0, -1, op_flags}};

int apply(const char *path, const struct sembuf *request, size_t count)
{
    key_t key = ftok(path, key_project);
    if (key == -1) {
        fprintf(stderr, "device lock failed.\n");
        return RC_FAIL;
    }
    int id = semget(key, 1, IPC_CREAT | 0666);
    if (id == -1) {
        fprintf(stderr, "semaphore failure: %s\n", strerror(errno));
        return RC_FAIL;
    }
    struct sembuf ops[2];
    memcpy(ops, request, count * sizeof *request);
    if (semop(id, ops, count) < 0) {
        fprintf(stderr, "semaphore lock failure: %s\n", strerror(errno));
        return RC_FAIL;
    }
    return RC_OK;
}

}  // namespace

extern "C" {

int lock_device(const char *path)
{
    return apply(path, lock_request, 2);
}

int unlock_device(const char *path)
{
    return apply(path, release_request, 1);
}

}  // extern "C"
