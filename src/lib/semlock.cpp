// The device lock (semlock module): one System V semaphore per device path,
// 0 free and 1 held.  Nothing waits: a held lock is refused at once, and the
// system undoes a holder's lock when it exits.  Beside it, the locks that
// Linux's other serial programs honour: the device's lock file is taken, and
// a line another program holds with flock is refused (uucplock.cpp).
#include "vendlink/semlock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include "devlock.h"

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

bool device_semaphore_holder(const char *path, LockHolder *h)
{
    key_t key = ftok(path, key_project);
    int id = key == -1 ? -1 : semget(key, 1, 0);
    if (id == -1 || semctl(id, 0, GETVAL) != 1)
        return false;
    // Held: the last operation on it was the holder's lock request.
    int pid = semctl(id, 0, GETPID);
    if (pid <= 0 || pid == getpid() || !process_alive(pid))
        return false;
    name_holder(h, pid, "the vendlink semaphore");
    return true;
}

extern "C" {

// The semaphore first, as ever; the line must then be free of the other
// programs' locks too, or the semaphore is let go again.
int lock_device(const char *path)
{
    int rc = apply(path, lock_request, 2);
    if (rc != RC_OK)
        return rc;
    LockHolder h;
    if (device_flock_holder(path, &h)) {
        report_holder(path, h);
        rc = RC_FAIL;
    } else {
        rc = lock_file_take(path);
    }
    if (rc != RC_OK)
        apply(path, release_request, 1);
    return rc;
}

// The lock file goes only if this process wrote it; the semaphore, as ever,
// whoever asks.
int unlock_device(const char *path)
{
    lock_file_release(path);
    return apply(path, release_request, 1);
}

}  // extern "C"
