// Opening files in shared directories without following what another user planted there.
#include "shared_files.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string directory_of(const char *path)
{
    const std::string p(path);
    const auto slash = p.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : p.substr(0, slash);
}

// Why an opened file is not the run's own, or 0.
int refusal(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    if (st.st_uid != geteuid() || st.st_nlink != 1) return EACCES;
    return 0;
}

} // namespace

bool in_shared_directory(const char *path)
{
    struct stat st;
    const std::string dir = directory_of(path);
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) && (st.st_mode & S_IWOTH);
}

int open_own_file(const char *path, int flags, mode_t mode)
{
    // Non-blocking, so that a FIFO is seen for what it is instead of waiting for a peer.
    const int fd = open(path, (flags & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK, mode);
    if (fd < 0) return -1;
    int why = refusal(fd);
    if (!why && !(flags & O_NONBLOCK) && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) why = errno;
    if (!why && (flags & O_TRUNC) && ftruncate(fd, 0) != 0) why = errno;
    if (why) {
        close(fd);
        errno = why;
        return -1;
    }
    return fd;
}

int open_data_file(const char *path, int flags, mode_t mode)
{
    return in_shared_directory(path) ? open_own_file(path, flags, mode) : open(path, flags, mode);
}
