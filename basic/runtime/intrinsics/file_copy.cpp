// ICOPY and IREMOVE: copying a file so that a failure never leaves a half-written copy in the
// destination's place, and removing a whole directory tree without following a link out of it.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <glib/gstdio.h>

#include "cases.h"
#include "file_intrinsics.h"
#include "fileio.h"
#include "message.h"
#include "misc.h"
#include "shared_files.h"

namespace {

using namespace intr;

constexpr std::size_t COPY_BLOCK = 1 << 20;

// ---- Copying -----------------------------------------------------------------------------------

// The descriptors and the temporary name of one copy, released on every way out.
struct Copy {
    const std::string &source;
    std::string target;     // the file finally written
    std::string temporary;  // the name written under before the rename, "" when in place
    NamedFile shared;       // the new file below a shared directory, until it is in place
    int in = -1, out = -1;
    bool borrowed = false;  // in is a file channel's, read by offset and never closed here
    off_t read_at = 0;

    Copy(const std::string &from, std::string to) : source(from), target(std::move(to)) {}
    Copy(const Copy &) = delete;
    Copy &operator=(const Copy &) = delete;
    ~Copy() { release(); }

    void release()
    {
        if (in >= 0 && !borrowed) close(in);
        if (out >= 0) close(out);
        in = out = -1;
        if (!temporary.empty()) g_unlink(temporary.c_str());
        temporary.clear();
        shared = NamedFile();
    }

    // Ends the run with the step's message, the error text and a name, leaving no temporary file.
    [[noreturn]] void fail(const char *format, const std::string &name)
    {
        const std::string error = misc_get_error();
        release();
        Abort(format, error.c_str(), name.c_str());
    }
};

// The source as a channel of the program holds it, when one does: closing a descriptor of our own
// would drop the channel's region locks on the file. Otherwise a descriptor of the copy's own.
// Below a shared directory only a regular file of our own (or root's) is read, never through a
// link and never by waiting on a FIFO someone put under the name.
void open_source(Copy &c)
{
    constexpr const char *refused = "Error %s encountered when attempting to open source file for reading %s";
    struct stat st;
    if (stat_to_read(c.source.c_str(), &st) == 0) {
        const int held = channel_read_descriptor(st);
        if (held < 0 && errno != 0) c.fail(refused, c.source);
        if (held >= 0) {
            c.in = held;
            c.borrowed = true;
            return;
        }
    }
    c.in = open_to_read(c.source.c_str());
    if (c.in < 0) c.fail(refused, c.source);
}

// Where the copy finally lands: through a symbolic link to the file it names.
std::string landing_name(const std::string &destination)
{
    struct stat st;
    if (lstat(destination.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return destination;
    char *real = realpath(destination.c_str(), nullptr);
    if (!real) return destination;
    std::string name = real;
    std::free(real);
    return name;
}

void open_destination(Copy &c)
{
    constexpr const char *refused = "Error %s encountered when attempting to open destination file for writing %s";
    if (c.shared.exposed()) {
        // Below a shared directory: a new file of our own, put under the name once complete.
        c.out = c.shared.release();
        return;
    }
    struct stat st;
    const bool exists = stat(c.target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        c.fail(refused, c.target);
    }
    const std::size_t slash = c.target.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : c.target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? c.target : c.target.substr(slash + 1);
    struct stat link;
    const bool dangling = !exists && lstat(c.target.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    if (dangling || (exists && (!S_ISREG(st.st_mode) || st.st_nlink > 1 || st.st_uid != geteuid() ||
                                st.st_gid != getegid() || access(c.target.c_str(), W_OK) != 0 ||
                                access(dir.empty() ? "." : dir.c_str(), W_OK) != 0))) {
        // Devices, files with other names or owners, what a dangling link names, and files that
        // may not be written or not be replaced keep their identity and their protection: they
        // are opened where they are, as they would be for writing.
        c.out = open(c.target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (c.out < 0) c.fail(refused, c.target);
        return;
    }
    std::string name = dir + "." + base.substr(0, NAME_MAX - 16) + ".XXXXXX";
    // Mode 0666 less the umask, as a newly created file gets; an existing file keeps its own.
    c.out = g_mkstemp_full(name.data(), O_WRONLY | O_CLOEXEC, 0666);
    if (c.out < 0) c.fail(refused, c.target);
    c.temporary = name;
    if (exists && fchmod(c.out, st.st_mode & 07777) != 0) c.fail(refused, c.target);
}

// A copy is never open to more than its source is: a private file stays private in its copy. A
// file written in place that is not ours (a device, another user's file) keeps its mode.
void narrow_mode(Copy &c, const struct stat &from)
{
    struct stat st;
    if (fstat(c.out, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) return;
    const mode_t mode = st.st_mode & from.st_mode & 07777;
    if (mode != (st.st_mode & 07777) && fchmod(c.out, mode) != 0)
        c.fail("Error %s encountered when attempting to open destination file for writing %s", c.target);
}

void write_all(Copy &c, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = write(c.out, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            c.fail("Error %s encountered when writing destination file %s", c.target);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// In the kernel while it can; by blocks through memory from wherever it cannot, where any error
// shows itself on the side it belongs to.
void copy_bytes(Copy &c, const struct stat &from)
{
    // Files that tell no size (those of /proc) are read, as the kernel copy sees them empty.
    while (S_ISREG(from.st_mode) && from.st_size > 0) {
        const ssize_t n = copy_file_range(c.in, c.borrowed ? &c.read_at : nullptr, c.out, nullptr, COPY_BLOCK * 64, 0);
        if (n == 0) return;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
    }
    std::vector<char> block(COPY_BLOCK);
    for (;;) {
        const ssize_t n = c.borrowed ? pread(c.in, block.data(), block.size(), c.read_at)
                                     : read(c.in, block.data(), block.size());
        if (n < 0 && errno == EINTR) continue;
        if (n > 0) c.read_at += n;
        if (n < 0) c.fail("Error %s encountered when reading source file %s", c.source);
        if (n == 0) return;
        write_all(c, block.data(), static_cast<std::size_t>(n));
    }
}

void acopy(int nargs, int last)
{
    if (nargs != 2) Abort("icopy must have two parameters; not %d", nargs);
    icopy_file(name_text(arg(nargs, last, 0)), name_text(arg(nargs, last, 1)));
}

// ---- Removing ----------------------------------------------------------------------------------

struct CloseDir {
    void operator()(DIR *d) const { closedir(d); }
};

// A directory being emptied: its stream, its path, and its name within the one above it.
struct Level {
    std::unique_ptr<DIR, CloseDir> dir;
    std::string path;
    std::string name;
};

[[noreturn]] void removal_failed(const char *format, const std::string &path)
{
    Abort(format, misc_get_error().c_str(), path.c_str());
}

[[noreturn]] void unexpected_kind(int code, const std::string &path)
{
    Abort("Unexpected code %d encountered when checking for existence of file or directory '%s'", code, path.c_str());
}

Level open_level(int parent, const std::string &name, const std::string &path)
{
    const int fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR *dir = fd < 0 ? nullptr : fdopendir(fd);
    if (!dir) {
        if (fd >= 0) close(fd);
        removal_failed("%s error occurred when attempting to open directory %s", path);
    }
    return {std::unique_ptr<DIR, CloseDir>(dir), path, name};
}

// The kind of an entry as the tree walk needs it, from the directory when it tells.
unsigned char entry_kind(int dir, const dirent *e, const std::string &path)
{
    if (e->d_type != DT_UNKNOWN) return e->d_type;
    struct stat st;
    if (fstatat(dir, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) Abort("File: '%s' does not exist", path.c_str());
        Abort("Error %d when check for existence of file or directory '%s'", -errno, path.c_str());
    }
    return IFTODT(st.st_mode);
}

// Empties and removes the directory path, depth first, one open directory per level.
void remove_tree(const std::string &path)
{
    std::vector<Level> levels;
    levels.push_back(open_level(AT_FDCWD, path, path));
    while (!levels.empty()) {
        Level &here = levels.back();
        const int fd = dirfd(here.dir.get());
        errno = 0;
        const dirent *e = readdir(here.dir.get());
        if (!e) {
            if (errno != 0) removal_failed("%s error occurred when attempting to read directory %s", here.path);
            const std::string done = here.path, name = here.name;
            if (closedir(here.dir.release()) != 0)
                removal_failed("%s error occurred when attempting to close directory %s", done);
            levels.pop_back();
            const int parent = levels.empty() ? AT_FDCWD : dirfd(levels.back().dir.get());
            if (unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0)
                removal_failed("%s error occured when attempting to remove a directory '%s'", done);
            continue;
        }
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string child = here.path + "/" + name;
        switch (entry_kind(fd, e, child)) {
        case DT_DIR: {
            Level next = open_level(fd, name, child);
            levels.push_back(std::move(next));
            break;
        }
        case DT_REG:
        case DT_LNK:
            if (unlinkat(fd, name.c_str(), 0) != 0)
                removal_failed("%s error occured when attempting to delete a file '%s'", child);
            break;
        case DT_SOCK:
        case DT_BLK:
            // They carry the directory bit, so they are taken for directories, which they are not.
            open_level(fd, name, child);
            break;
        default: unexpected_kind(-2, child);
        }
    }
}

// The root directory, or a name ending in "." or "..": removing it would take with it what the
// program never named.
bool beyond_what_is_named(const std::string &name)
{
    std::string path = name;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const std::string last = path.substr(path.rfind('/') + 1);
    if (last == "." || last == "..") return true;
    struct stat st, root;
    if (lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return false;  // a link goes alone
    return stat(name.c_str(), &st) == 0 && stat("/", &root) == 0 && st.st_dev == root.st_dev && st.st_ino == root.st_ino;
}

void aremove(int nargs, int last)
{
    if (nargs != 1) Abort("iremove must have one parameter; not %d", nargs);
    iremove_path(name_text(arg(nargs, last, 0)));
}


} // namespace

namespace {

constexpr IntrinsicRow rows[] = {
    {in_ICOPY, acopy},
    {in_IREMOVE, aremove},
};

} // namespace

std::span<const IntrinsicRow> copy_and_remove_intrinsics() { return rows; }

void icopy_file(const std::string &source, const std::string &destination)
{
    constexpr const char *same = "Error in ICOPY: source and destination are the same file!";
    if (source == destination) Abort("%s", same);
    // Below a shared directory the destination is walked without following a link and the copy
    // lands under the name itself; elsewhere a link leads the copy to the file it names.
    const bool shared = in_exposed_directory(destination.c_str());
    Copy c(source, shared ? destination : landing_name(destination));
    open_source(c);
    struct stat from, to;
    if (fstat(c.in, &from) != 0) c.fail("Error %s encountered when reading source file %s", source);
    if (S_ISDIR(from.st_mode)) {
        errno = EISDIR;  // found out before any destination is touched
        c.fail("Error %s encountered when reading source file %s", source);
    }
    if (stat(c.target.c_str(), &to) == 0 && to.st_dev == from.st_dev && to.st_ino == from.st_ino) {
        c.release();
        Abort("%s", same);
    }
    if (shared) {
        c.shared = NamedFile(c.target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666, NamedFile::ON_COMMIT);
        if (!c.shared.ok()) c.fail("Error %s encountered when attempting to open destination file for writing %s", c.target);
    }
    open_destination(c);
    narrow_mode(c, from);
    copy_bytes(c, from);
    const int in = c.borrowed ? -1 : c.in, out = c.out;
    c.in = c.out = -1;
    if (in >= 0 && close(in) != 0) c.fail("Error %s encountered when closing source file %s", source);
    if (close(out) != 0) c.fail("Error %s encountered when closing destination file %s", c.target);
    if (!c.shared.commit()) c.fail("Error %s encountered when putting the copy in place as %s", c.target);
    if (!c.temporary.empty()) {
        if (rename(c.temporary.c_str(), c.target.c_str()) != 0)
            c.fail("Error %s encountered when putting the copy in place as %s", c.target);
        c.temporary.clear();
    }
}

void iremove_path(const std::string &name)
{
    if (beyond_what_is_named(name)) Abort("Refusing to remove '%s'", name.c_str());
    const int code = ufexists3(name.c_str());
    if (code == 0) Abort("File: '%s' does not exist", name.c_str());
    if (code < 0) Abort("Error %d when check for existence of file or directory '%s'", code, name.c_str());
    struct stat st;
    if (code == 1 || (lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode))) {
        // A link is removed itself, never what it names.
        if (unlink(name.c_str()) != 0)
            Abort("Error %s occured when attempting to delete a file '%s'", misc_get_error().c_str(), name.c_str());
        return;
    }
    remove_tree(name);
}
