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

// Takes the device's semaphore and its lock file for this process: RC_OK,
// also when no lock file can be made (one line says other programs will not
// see the lock).  RC_FAIL, with nothing taken, when a live process holds the
// device by any of the three (named in *h, nothing printed), or when a lock
// cannot be taken for another reason (h->pid 0, one line said why).
int device_take(const char *path, LockHolder *h);
// The live process, other than this one, that holds the device with flock;
// false when none does.  The device is not opened.
bool device_flock_holder(const char *path, LockHolder *h);

bool process_alive(int pid);
// Fills in *h for that process and lock, the program's name from the system.
void name_holder(LockHolder *h, int pid, const char *lock);
// One line: "PATH is locked by process PID (PROGRAM) with LOCK."
void report_holder(const char *path, const LockHolder &h);

// Takes the device's lock file, under its real name, once no live process
// holds one under that name or the name the path gives.  RC_OK when it is
// taken, or when none can be made (one line says other programs will not see
// the lock); RC_FAIL when a live process holds one (named in *h), or when
// something else is there (one line names it).
int lock_file_take(const char *path, LockHolder *h);
// Removes the device's lock file if it holds this process's id; the one this process took
// for that path is found even when the path has gone since.
void lock_file_release(const char *path);
// The same for every lock file this process took.  System calls only: the
// Ctrl-C handler calls it at any moment.
void lock_files_release_all();

#endif
