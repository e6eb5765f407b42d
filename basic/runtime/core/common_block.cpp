// The program COMMON block: a POSIX shared-memory object named after the user and the process,
// mapped by the first .common op of a run and removed when the run ends.
//
// The object is created exclusively: one left behind by an earlier process of the user that had
// the same id (killed before it could remove it) is removed first, so a run never starts on stale
// data. The names lie in a directory every local user can write to: a name that another user took
// first is left alone and the run takes a name with a random part instead, which cannot be taken
// in advance.
#include "common_block.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "applications.h"
#include "interp.h"
#include "message.h"
#include "value_stack.h"

void *Common_variables;
long Common_size;

namespace {

int common_fd = -1;
std::string common_name;
std::size_t mapped_size;
// The object's name again, in storage a signal handler may read: the fatal paths that end the
// process without the exit's clean-up remove the object by it.
char unlink_name[256];

std::string user_name()
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size == -1) size = 16384;
    std::vector<char> buffer;
    try {
        buffer.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc &) {
        Abort("Can't allocate %zu bytes", static_cast<std::size_t>(size));
    }
    struct passwd pw, *found = nullptr;
    int rc = getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &found);
    if (rc != 0) Abort("Error in getpwuid_r [%d] %s", rc, std::strerror(rc));
    if (!found) Abort("uid %d Not found. How it could be?", static_cast<int>(getuid()));
    return pw.pw_name;
}

// Where shm_open keeps its objects.
constexpr const char *SHM_DIRECTORY = "/dev/shm";
// Fresh names tried after the usual one was taken by another user.
constexpr int FRESH_NAME_TRIES = 16;

// The object of that name is a file of the run's own user: one an earlier run left behind.
bool own_object(const std::string &name)
{
    struct stat st;
    const std::string path = SHM_DIRECTORY + name;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid();
}

// name followed by "_" and 16 random hexadecimal digits.
std::string fresh_name(const std::string &name)
{
    std::uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, 0) != static_cast<ssize_t>(sizeof bits)) return "";
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "_%016llx", static_cast<unsigned long long>(bits));
    return name + suffix;
}

// Creates the object under name, or under a fresh name when another user holds that one (name
// becomes the name taken); -1 with errno set when neither can be made.
int create_object(std::string &name)
{
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
    if (own_object(name)) {
        shm_unlink(name.c_str());
        fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    const std::string usual = name;
    for (int i = 0; i < FRESH_NAME_TRIES; ++i) {
        const std::string fresh = fresh_name(usual);
        if (fresh.empty()) break;
        fd = shm_open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            name = fresh;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

} // namespace

void common_declare(std::int64_t numerics, std::int64_t chars)
{
    if (numerics < 0 || chars < 0) Abort("Illegal COMMON size");
    const std::int64_t size = numerics * static_cast<std::int64_t>(sizeof(dec_t)) + chars;
    if (numerics + chars == 0) return;
    if (Common_variables) {
        if (size > Common_size) Abort("Illegal attempt to extend COMMON");
        return;
    }
    if (size > INT32_MAX) Abort("Illegal COMMON size");

    const char *pid = std::getenv("PID");
    std::string name = "/oska_" + user_name() + "_" + (pid ? pid : "");
    int fd = create_object(name);
    if (fd < 0) Abort("Cannot create shared memory file %s %s", name.c_str(), std::strerror(errno));
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        const int err = errno;
        close(fd);
        shm_unlink(name.c_str());
        Abort("Cannot truncate shared memory file %s  %s", name.c_str(), std::strerror(err));
    }
    void *block = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (block == MAP_FAILED) {
        const int err = errno;
        close(fd);
        shm_unlink(name.c_str());
        Abort("Cannot attach new COMMON segment  %s", std::strerror(err));
    }
    common_fd = fd;
    common_name = name;
    if (name.size() < sizeof unlink_name) std::memcpy(unlink_name, name.c_str(), name.size() + 1);
    mapped_size = static_cast<std::size_t>(size);
    Common_variables = block;
    Common_size = static_cast<long>(size);
    if (Minterp) {
        Minterp->Common_variables = block;
        Minterp->Common_size = static_cast<std::int32_t>(size);
    }
    CommonSymbolMemory(current_application);
}

void unlink_common_object()
{
    if (unlink_name[0]) shm_unlink(unlink_name);
    unlink_name[0] = '\0';
}

void release_common_block()
{
    unlink_name[0] = '\0';
    if (Common_variables && mapped_size) munmap(Common_variables, mapped_size);
    if (common_fd >= 0) close(common_fd);
    if (!common_name.empty()) shm_unlink(common_name.c_str());
    common_fd = -1;
    common_name.clear();
    mapped_size = 0;
    Common_variables = nullptr;
    Common_size = 0;
}
