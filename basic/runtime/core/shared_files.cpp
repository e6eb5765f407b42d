// Opening and writing files by name without following what another user planted in a shared
// directory (see shared_files.h).
#include "shared_files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "signals.h"

namespace {

constexpr int LINKS_MAX = 40;  // links followed on one walk, as the kernel allows

bool shared_directory(const struct stat &st)
{
    return S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) && (st.st_mode & S_IWOTH);
}

// Whether a user other than us (or root) may add, remove or rename entries of the directory.
bool others_may_write(const struct stat &st)
{
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return true;
    return st.st_uid != geteuid() && st.st_uid != 0 && (st.st_mode & S_IWUSR);
}

// Why an existing entry of an exposed directory is not a file of the run's own (or, for a read,
// of root's), or 0.
int refusal(const struct stat &st, bool root_too = false)
{
    if (S_ISLNK(st.st_mode)) return ELOOP;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    const bool owner = st.st_uid == geteuid() || (root_too && st.st_uid == 0);
    if (!owner || st.st_nlink != 1) return EACCES;
    return 0;
}

// openat(2) made again when a signal that the safe point lets pass ends its wait.
int open_waiting(int dir, const char *name, int flags)
{
    int fd;
    do fd = openat(dir, name, flags);
    while (fd < 0 && interrupted(errno));
    return fd;
}

// The components of path, in order, without empty ones.
std::deque<std::string> components(const std::string &path)
{
    std::deque<std::string> parts;
    std::size_t at = 0;
    while (at <= path.size()) {
        const std::size_t slash = std::min(path.find('/', at), path.size());
        if (slash > at) parts.push_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    return parts;
}

// A path walked from the root, one directory descriptor (O_PATH) per level.
//
// A directory is exposed when it is shared (world-writable and sticky), or lies below a shared
// one and another user may write it. Only there can a name be another user's doing, so only
// there is a link refused and a directory of another user too. A directory of our own that no
// one else may write, even below a shared one, holds only what we (or root) put there: its links
// are followed, by the walk itself, so their targets are walked by the same rules.
class Walk {
public:
    Walk(const char *path, bool follow_last) { walk(path, follow_last); }
    Walk(const Walk &) = delete;
    Walk &operator=(const Walk &) = delete;
    ~Walk()
    {
        for (const Level &l : levels_)
            if (l.fd >= 0) close(l.fd);
    }

    // A shared directory was passed: the path is not opened by open(2) again.
    bool passed_shared() const { return passed_; }
    // The final component lies in an exposed directory, or the walk failed in one.
    bool exposed() const { return error_ ? failed_exposed_ : !levels_.empty() && levels_.back().exposed; }
    int error() const { return error_; }
    // The final component, "" when the path names a directory ("/", "a/.", "a/").
    const std::string &last() const { return last_; }
    int directory() const { return levels_.back().fd; }
    // The final directory's descriptor becomes the caller's.
    int take_directory() { return std::exchange(levels_.back().fd, -1); }

private:
    struct Level {
        int fd;
        bool exposed;
    };

    bool fail(int error)
    {
        failed_exposed_ = !levels_.empty() && levels_.back().exposed;
        error_ = error;
        return false;
    }

    void up()
    {
        close(levels_.back().fd);
        levels_.pop_back();
    }

    // Puts the link's target in front of what is left of the walk.
    bool follow(const std::string &name, std::deque<std::string> &rest)
    {
        if (++links_ > LINKS_MAX) return fail(ELOOP);
        std::string target(PATH_MAX, '\0');
        const ssize_t n = readlinkat(directory(), name.c_str(), target.data(), target.size());
        if (n < 0) return fail(errno);
        if (static_cast<std::size_t>(n) >= target.size()) return fail(ENAMETOOLONG);
        target.resize(static_cast<std::size_t>(n));
        if (target.empty()) return fail(ENOENT);
        if (target.front() == '/')
            while (levels_.size() > 1) up();
        std::deque<std::string> parts = components(target);
        // A target ending in "/" names a directory: kept so for the last component.
        if (target.back() == '/' && rest.empty()) parts.push_back(".");
        rest.insert(rest.begin(), parts.begin(), parts.end());
        return true;
    }

    // One directory further down.
    bool descend(const std::string &name, std::deque<std::string> &rest)
    {
        const bool exposed_here = exposed();
        struct stat st;
        if (fstatat(directory(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return fail(errno);
        if (S_ISLNK(st.st_mode)) return exposed_here ? fail(ELOOP) : follow(name, rest);
        // Opened without following a link, so a directory swapped for a link since the look
        // above is refused rather than followed; the checks are made on what was opened.
        const int fd = openat(directory(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return fail(errno);
        int error = fstat(fd, &st) != 0 ? errno : 0;
        // Root's directories are trusted as the shared directory itself is.
        if (!error && exposed_here && st.st_uid != geteuid() && st.st_uid != 0) error = EACCES;
        if (error) {
            close(fd);
            return fail(error);
        }
        if (shared_directory(st)) passed_ = true;
        levels_.push_back({fd, passed_ && (shared_directory(st) || others_may_write(st))});
        return true;
    }

    void walk(const char *path, bool follow_last)
    {
        std::string full = path ? path : "";
        if (full.empty()) {
            fail(ENOENT);
            return;
        }
        // A relative path is walked from the root through the working directory's real path,
        // so a working directory below a shared one is known as such.
        if (full.front() != '/') {
            char *cwd = getcwd(nullptr, 0);
            if (!cwd) {
                fail(errno);
                return;
            }
            full = std::string(cwd) + "/" + full;
            std::free(cwd);
        }
        const int root = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (root < 0) {
            fail(errno);
            return;
        }
        levels_.push_back({root, false});
        std::deque<std::string> rest = components(full);
        if (full.back() == '/') rest.push_back(".");
        while (!rest.empty()) {
            std::string name = std::move(rest.front());
            rest.pop_front();
            last_.clear();
            if (name == ".") continue;
            if (name == "..") {
                // Links were followed by the walk itself, so the level above is the real parent.
                if (levels_.size() > 1) up();
                continue;
            }
            if (rest.empty()) {
                struct stat st;
                const bool link = fstatat(directory(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
                if (link && follow_last && !exposed()) {
                    if (!follow(name, rest)) return;
                    continue;
                }
                last_ = name;
                return;
            }
            if (!descend(name, rest)) return;
        }
    }

    std::vector<Level> levels_;
    std::string last_;
    bool passed_ = false;
    bool failed_exposed_ = false;
    int error_ = 0;
    int links_ = 0;
};

// Six random letters and digits for a temporary name.
std::string random_suffix()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[6];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        for (unsigned char &b : bytes) b = static_cast<unsigned char>(std::rand());
    std::string s;
    for (const unsigned char b : bytes) s += letters[b % (sizeof letters - 1)];
    return s;
}

} // namespace

bool in_exposed_directory(const char *path)
{
    return Walk(path, true).exposed();
}

NamedFile::NamedFile(const char *path, int flags, mode_t mode, Placing placing)
{
    flags |= O_CLOEXEC;
    Walk walk(path, !(flags & O_NOFOLLOW));
    if (!walk.passed_shared()) {
        // Outside shared directories, and where a walk failed before it reached one, the file
        // is opened as it always was, and the system reports what it finds.
        fd_ = open(path, flags, mode);
        return;
    }
    int error = walk.error();
    if (!error && walk.last().empty()) error = EISDIR;
    if (error) {
        errno = error;
        return;
    }
    if (!walk.exposed()) {
        // A directory only we may write: opened there as open(2) would, without the path
        // being looked up again through the shared directory above.
        fd_ = openat(walk.directory(), walk.last().c_str(), flags, mode);
        return;
    }
    exposed_ = true;
    name_ = walk.last();
    dir_ = walk.take_directory();
    // A file that turns up under the name between the look and the rename is looked at again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct stat st;
        const bool exists = fstatat(dir_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!exists && errno != ENOENT) error = errno;
        else if (!exists && !(flags & O_CREAT)) error = ENOENT;
        const bool in_place = exists && !((flags & O_TRUNC) && placing == ON_COMMIT);
        if (!error && exists && (flags & O_CREAT) && (flags & O_EXCL)) error = EEXIST;
        // What is opened in place is checked on its descriptor below; the open itself tells a
        // FIFO without a reader or a directory first, as open(2) would.
        if (!error && exists) error = in_place && !S_ISLNK(st.st_mode) ? 0 : refusal(st);
        if (error) break;
        if (in_place) {
            // Update in place: the existing file is opened relative to the walked directory
            // without following a link and without waiting on a FIFO, then checked again on the
            // descriptor itself, so what is written (or emptied, for O_TRUNC) is the regular,
            // one-named file of our own that was checked. Another user can neither rename nor
            // remove it in a sticky directory, nor reach it through a second name, since one
            // with two names is refused. Its identity is kept, so the region locks of other
            // processes that have it open still meet ours.
            fd_ = openat(dir_, name_.c_str(), (flags & ~(O_CREAT | O_EXCL | O_TRUNC)) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
            if (fd_ < 0) {
                error = errno;
                break;
            }
            struct stat opened;
            error = fstat(fd_, &opened) != 0 ? errno : refusal(opened);
            if (!error && !(flags & O_NONBLOCK) && fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK) != 0) error = errno;
            if (!error && (flags & O_TRUNC) && ftruncate(fd_, 0) != 0) error = errno;
            if (!error) return;
            break;
        }
        // A new file under a temporary name of our own, with the mode a new file gets or the
        // permissions of the own file it is to replace.
        for (int tries = 0; tries < 100 && fd_ < 0; ++tries) {
            temporary_ = "." + name_.substr(0, NAME_MAX - 16) + "." + random_suffix();
            fd_ = openat(dir_, temporary_.c_str(), (flags & (O_ACCMODE | O_APPEND | O_CLOEXEC)) | O_CREAT | O_EXCL | O_NOFOLLOW,
                         exists ? 0600 : mode);
            if (fd_ < 0) temporary_.clear();
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ < 0) {
            error = errno;
            break;
        }
        if (exists && fchmod(fd_, st.st_mode & 07777) != 0) {
            error = errno;
            break;
        }
        replace_ = exists;
        if (placing == ON_COMMIT || commit()) return;
        error = errno;
        if (error != EEXIST || (flags & O_EXCL)) break;
        close(fd_);
        fd_ = -1;
        error = 0;
    }
    close_all();
    errno = error;
}

NamedFile::NamedFile(NamedFile &&other) noexcept
    : fd_(std::exchange(other.fd_, -1)), dir_(std::exchange(other.dir_, -1)), name_(std::move(other.name_)),
      temporary_(std::move(other.temporary_)), replace_(other.replace_), exposed_(other.exposed_)
{
    other.temporary_.clear();
}

NamedFile &NamedFile::operator=(NamedFile &&other) noexcept
{
    if (this != &other) {
        close_all();
        fd_ = std::exchange(other.fd_, -1);
        dir_ = std::exchange(other.dir_, -1);
        name_ = std::move(other.name_);
        temporary_ = std::move(other.temporary_);
        other.temporary_.clear();
        replace_ = other.replace_;
        exposed_ = other.exposed_;
    }
    return *this;
}

NamedFile::~NamedFile()
{
    const int error = errno;
    close_all();
    errno = error;
}

void NamedFile::close_all()
{
    if (fd_ >= 0) close(fd_);
    if (!temporary_.empty()) unlinkat(dir_, temporary_.c_str(), 0);
    if (dir_ >= 0) close(dir_);
    fd_ = dir_ = -1;
    temporary_.clear();
}

bool NamedFile::commit()
{
    if (temporary_.empty()) return true;
    // The rename works on the directory that was walked, never on the path again. A new name
    // is taken only while nothing is under it; an own file is replaced as a whole.
    int r = replace_ ? renameat(dir_, temporary_.c_str(), dir_, name_.c_str())
                     : renameat2(dir_, temporary_.c_str(), dir_, name_.c_str(), RENAME_NOREPLACE);
    if (r != 0 && !replace_ && errno == EINVAL) {
        // A file system without that kind of rename: a second name, made only where none is.
        r = linkat(dir_, temporary_.c_str(), dir_, name_.c_str(), 0);
        if (r == 0) unlinkat(dir_, temporary_.c_str(), 0);
    }
    if (r != 0) {
        const int error = errno;
        unlinkat(dir_, temporary_.c_str(), 0);
        temporary_.clear();
        errno = error;
        return false;
    }
    temporary_.clear();
    return true;
}

int NamedFile::release()
{
    return std::exchange(fd_, -1);
}

void NamedFile::sync_directory() const
{
    if (dir_ < 0) return;
    const int fd = openat(dir_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

std::string NamedFile::descriptor_name() const
{
    return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd_);
}

int open_by_name(const char *path, int flags, mode_t mode)
{
    NamedFile file(path, flags, mode);
    return file.release();
}

int link_by_name(const char *from, const char *to)
{
    const Walk source(from, false), target(to, false);
    if (!source.passed_shared() && !target.passed_shared()) return link(from, to);
    int error = source.error() ? source.error() : target.error();
    if (!error && source.last().empty()) error = EPERM;
    if (!error && target.last().empty()) error = EEXIST;
    struct stat st;
    if (!error && source.exposed()) {
        // Only a file of our own is given a second name.
        error = fstatat(source.directory(), source.last().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ? errno : refusal(st);
    }
    if (error) {
        errno = error;
        return -1;
    }
    return linkat(source.directory(), source.last().c_str(), target.directory(), target.last().c_str(), 0);
}

int unlink_by_name(const char *path)
{
    const Walk walk(path, false);
    if (!walk.passed_shared()) return unlink(path);
    int error = walk.error();
    if (!error && walk.last().empty()) error = EISDIR;
    struct stat st;
    if (!error && walk.exposed()) {
        // Never another user's entry, whatever root may do.
        if (fstatat(walk.directory(), walk.last().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) error = errno;
        else if (st.st_uid != geteuid()) error = EACCES;
    }
    if (error) {
        errno = error;
        return -1;
    }
    return unlinkat(walk.directory(), walk.last().c_str(), 0);
}

int mkdir_by_name(const char *path, mode_t mode)
{
    // "dir/" names the directory to make, not one to walk into.
    std::string name = path ? path : "";
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    const Walk walk(name.c_str(), false);
    if (!walk.passed_shared()) return mkdir(path, mode);
    int error = walk.error();
    if (!error && walk.last().empty()) error = EEXIST;
    if (error) {
        errno = error;
        return -1;
    }
    return mkdirat(walk.directory(), walk.last().c_str(), mode);
}

int open_to_read(const char *path, int flags)
{
    flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | (flags & O_NONBLOCK);
    const Walk walk(path, true);
    if (!walk.passed_shared()) return open_waiting(AT_FDCWD, path, flags);
    int error = walk.error();
    if (!error && walk.last().empty()) error = EISDIR;
    if (error) {
        errno = error;
        return -1;
    }
    if (!walk.exposed()) return open_waiting(walk.directory(), walk.last().c_str(), flags);
    // Another user may have put anything under the name: it is opened without following a link
    // and without waiting for a FIFO's writer, and judged by what the descriptor shows.
    const int fd = open_waiting(walk.directory(), walk.last().c_str(), flags | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st;
    error = fstat(fd, &st) != 0 ? errno : refusal(st, true);
    if (!error && !(flags & O_NONBLOCK) && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) error = errno;
    if (error) {
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int stat_to_read(const char *path, struct stat *st)
{
    const Walk walk(path, true);
    if (!walk.passed_shared()) return stat(path, st);
    int error = walk.error();
    if (!error && walk.last().empty()) error = EISDIR;
    if (!error && fstatat(walk.directory(), walk.last().c_str(), st, walk.exposed() ? AT_SYMLINK_NOFOLLOW : 0) != 0)
        error = errno;
    if (!error && walk.exposed()) error = refusal(*st, true);
    if (error) {
        errno = error;
        return -1;
    }
    return 0;
}
