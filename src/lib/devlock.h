// Who holds a device, and the lock file the semaphore is taken beside: what
// the semlock module, the Ctrl-C path and the driver share; not part of the
// library's public interface.
#ifndef VENDLINK_DEVLOCK_H
#define VENDLINK_DEVLOCK_H

struct LockHolder {
    int pid;
    char program[32];  // as the system names it, or "unknown"
    const char *lock;  // which lock: "the vendlink semaphore", "a lock file", "flock"
};

// The live process, other than this one, that holds the device by that lock;
// false when none does.  None of them opens the device.
bool device_semaphore_holder(const char *path, LockHolder *h);
bool device_lock_file_holder(const char *path, LockHolder *h);
bool device_flock_holder(const char *path, LockHolder *h);
// The first holder by any of the three, in that order.
bool device_holder(const char *path, LockHolder *h);

bool process_alive(int pid);
// Fills in *h for that process and lock, the program's name from the system.
void name_holder(LockHolder *h, int pid, const char *lock);
// One line: "PATH is locked by process PID (PROGRAM) with LOCK."
void report_holder(const char *path, const LockHolder &h);

// Takes the device's lock file.  RC_OK when it is taken, or when none can
// be made (one line says other programs will not see the lock); RC_FAIL,
// with one line naming the holder, when a live process holds it.
int lock_file_take(const char *path);
// Removes the device's lock file if it holds this process's id; the one this process took
// for that path is found even when the path has gone since.
void lock_file_release(const char *path);
// The same for every lock file this process took.  System calls only: the
// Ctrl-C handler calls it at any moment.
void lock_files_release_all();

#endif
