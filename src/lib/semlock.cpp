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
const int held_max = 4;
const int held_path_size = 320;
const char semaphore_lock[] = "the vendlink semaphore";

// Wait for zero, then take: both or neither.
const struct sembuf lock_request[2] = {{0, 0, op_flags}, {0, 1, op_flags}};
const struct sembuf release_request[1] = {{0, -1, op_flags}};

// The locks this process took, by the path it named: released by their set's id, so that a path
// gone since (a device unplugged under its program) costs nothing more.
struct HeldLock {
    char path[held_path_size];
    int id;
    bool used;
};
HeldLock held[held_max];

// The device's semaphore set, made on first use; -1, said, when there is none.
int set_of(const char *path)
{
    key_t key = ftok(path, key_project);
    if (key == -1) {
        fprintf(stderr, "device lock failed.\n");
        return -1;
    }
    int id = semget(key, 1, IPC_CREAT | 0666);
    if (id == -1)
        fprintf(stderr, "semaphore failure: %s\n", strerror(errno));
    return id;
}

int apply(int id, const struct sembuf *request, size_t count)
{
    struct sembuf ops[2];
    memcpy(ops, request, count * sizeof *request);
    if (semop(id, ops, count) < 0) {
        fprintf(stderr, "semaphore lock failure: %s\n", strerror(errno));
        return RC_FAIL;
    }
    return RC_OK;
}

HeldLock *held_lock(const char *path)
{
    for (HeldLock &h : held) {
        if (h.used && strcmp(h.path, path) == 0)
            return &h;
    }
    return nullptr;
}

// A path too long to keep, or a fifth lock, is released by its path again.
void remember(const char *path, int id)
{
    for (HeldLock &h : held) {
        if (!h.used && strlen(path) < sizeof h.path) {
            snprintf(h.path, sizeof h.path, "%s", path);
            h.id = id;
            h.used = true;
            return;
        }
    }
}

// The live process, other than this one, that holds the set: the last to change it.
bool semaphore_holder(int id, LockHolder *h)
{
    int pid = semctl(id, 0, GETPID);
    if (pid <= 0 || pid == getpid() || !process_alive(pid))
        return false;
    name_holder(h, pid, semaphore_lock);
    return true;
}

}  // namespace

// The semaphore first, as ever; the line must then be free of the other
// programs' locks too, or the semaphore is let go again.
int device_take(const char *path, LockHolder *h)
{
    h->pid = 0;
    h->lock = nullptr;
    int id = set_of(path);
    if (id == -1)
        return RC_FAIL;
    struct sembuf ops[2];
    memcpy(ops, lock_request, sizeof ops);
    if (semop(id, ops, 2) < 0) {
        int error = errno;
        if (error != EAGAIN || !semaphore_holder(id, h))
            fprintf(stderr, "semaphore lock failure: %s\n", strerror(error));
        return RC_FAIL;
    }
    int rc = device_flock_holder(path, h) ? RC_FAIL : lock_file_take(path, h);
    if (rc != RC_OK) {
        apply(id, release_request, 1);
        return rc;
    }
    remember(path, id);
    return RC_OK;
}

extern "C" {

// A holder of the semaphore is refused as the semaphore refuses it; one of
// the other locks is named.
int lock_device(const char *path)
{
    LockHolder h;
    int rc = device_take(path, &h);
    if (rc != RC_OK && h.lock == semaphore_lock)
        fprintf(stderr, "semaphore lock failure: %s\n", strerror(EAGAIN));
    else if (rc != RC_OK && h.pid > 0)
        report_holder(path, h);
    return rc;
}

// The lock file goes only if this process wrote it; the semaphore, as ever,
// whoever asks.
int unlock_device(const char *path)
{
    lock_file_release(path);
    HeldLock *h = held_lock(path);
    int id = h != nullptr ? h->id : set_of(path);
    if (h != nullptr)
        h->used = false;
    return id == -1 ? RC_FAIL : apply(id, release_request, 1);
}

}  // extern "C"
