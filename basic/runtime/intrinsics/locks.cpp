// Region locks: how an open channel marks its use of a data file for other processes.
//
// Design. Each data file has lock regions of 64 bytes at 64 MiB + n x 64 (OPEN uses region 0),
// far beyond any ordinary file's data; a lock there never extends the file. The first 32 bytes
// are share slots, one per opener; the last 32 are the writer half, either 32 one-byte writer
// slots or one 32-byte lock. By kind of open:
//   0 reader         one share slot
//   1 shared writer  one share slot and one writer slot
//   2 sole writer    one share slot and the whole writer half
//   3 exclusive      the whole region
// Locks are taken without waiting and OPEN does not look at the result: they are markers that
// other processes (and tools reading /proc/locks) can test, never a reason to stop.
//
// A descriptor opened read-only cannot hold a write lock (fcntl fails with EBADF), so such
// channels take their slots with read locks. Read locks do not conflict with one another, so any
// number of readers share slot 0; any write lock conflicts with them, so an exclusive opener, a
// writer's share slot and a sole writer's half still see every reader. An exclusive open on a
// read-only descriptor (ORG "S"/"R" OPT 7) thus keeps out writers and exclusive openers but not
// other readers. Write-only and read-write descriptors take write locks as before.
//
// The locks belong to the process (POSIX record locks), not to the channel: closing any
// descriptor of the file, by CLOSE of any channel on it, drops all of the process's locks on
// that file, and two channels of one program on one file never conflict.
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "fileio.h"

int locking(int fd, int mode, long len)
{
    struct flock lock {};
    int command = F_SETLKW;
    switch (mode) {
    case 0: lock.l_type = F_UNLCK; break;
    case 1: lock.l_type = F_WRLCK; break;
    case 2: lock.l_type = F_WRLCK; command = F_SETLK; break;
    case 3: lock.l_type = F_RDLCK; break;
    case 4: lock.l_type = F_RDLCK; command = F_SETLK; break;
    default: errno = EINVAL; return -1;
    }
    lock.l_whence = SEEK_CUR;
    lock.l_start = 0;
    lock.l_len = len;
    return fcntl(fd, command, &lock);
}

namespace {

// The non-waiting lock a descriptor can hold: a read lock when it was opened read-only.
int slot_mode(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags != -1 && (flags & O_ACCMODE) == O_RDONLY ? 4 : 2;
}

} // namespace

int rglock(int fd, long offset, long count, long step)
{
    const off_t saved = lseek(fd, 0, SEEK_CUR);
    if (saved == -1 || step <= 0) return -1;
    const int mode = slot_mode(fd);
    long taken = 0;
    off_t at = offset;
    bool had = false;
    while (taken < count) {
        if (lseek(fd, at, SEEK_SET) == -1) break;
        if (locking(fd, mode, step) == 0) {
            had = true;
            break;
        }
        at += step;
        taken += step;
    }
    lseek(fd, saved, SEEK_SET);
    return had ? 0 : -1;
}

int filock(int fd, int m, int n)
{
    const long base = static_cast<long>(n) * LOCK_REGION_SIZE + LOCK_REGION_BASE;
    if (m == 3) return rglock(fd, base, LOCK_REGION_SIZE, LOCK_REGION_SIZE);
    if (rglock(fd, base, SHARE_SLOTS, 1) != 0) return -1;
    const long writers = base + SHARE_SLOTS;
    const long half = LOCK_REGION_SIZE - SHARE_SLOTS;
    switch (m) {
    case 1: return rglock(fd, writers, half, 1);
    case 2: return rglock(fd, writers, half, half);
    default: return 0;
    }
}
