// The file intrinsics that look at names and make or drop single entries: BASENAME$, DELETE_FILE,
// IFEXISTS, IFSIZE, IMKDIR, IIS_WRITEABLE and IIS_LINK, and the existence and link tests that
// other subsystems share.
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>

#include "cases.h"
#include "file_intrinsics.h"
#include "message.h"
#include "misc.h"

namespace {

using namespace intr;

constexpr int LINK_TARGET_MAX = 1023;  // longest link target the link test accepts
constexpr int LINK_CHAIN_MAX = 40;     // as many links as the system follows in one name

const Stack &first_arg(int nargs, int last)
{
    need_an_argument(nargs);
    return arg(nargs, last, 0);
}

// The directory part of path, "." when it has none.
std::string directory_of(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The target of the link at path, or false when it is none or cannot be read.
bool read_link(const std::string &path, std::string &target)
{
    char area[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), area, sizeof area);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof area) return false;
    target.assign(area, static_cast<std::size_t>(n));
    return true;
}

void ubasename(int nargs, int last, Stack *result)
{
    const std::string path = plain_text(first_arg(nargs, last));
    const std::size_t slash = path.rfind('/');
    const std::string component = slash == std::string::npos ? path : path.substr(slash + 1);
    set_text(result, component.substr(0, component.find('.')));
}

void delete_file(int nargs, int last)
{
    const std::string name = plain_text(first_arg(nargs, last));
    if (unlink(name.c_str()) != 0)
        Abort("Error %s when attempting to delete file %s", misc_get_error().c_str(), name.c_str());
}

void ufexists(int nargs, int last, Stack *result)
{
    need_arguments(nargs, 2);
    const std::string name = plain_text(arg(nargs, last, 0));
    const int kind = integer(arg(nargs, last, 1));
    if (kind == 1)
        set_number(result, ufexists1(name.c_str()));
    else if (kind == 2)
        set_number(result, ufexists2(name.c_str()));
    else
        Abort("Invalid type %d", kind);
}

// The whole 64-bit size; only trailing white space leaves the name.
void ufsize(int nargs, int last, Stack *result)
{
    need_arguments(nargs, 1);
    const std::string name = name_text(arg(nargs, last, 0));
    struct stat st;
    if (stat(name.c_str(), &st) != 0)
        Abort("Error %s when attempting to obtain size of file %s", misc_get_error().c_str(), name.c_str());
    set_number(result, static_cast<long>(st.st_size));
}

// The mode is the number as given (493 for 0755); the process umask applies.
void amkdir(int nargs, int last)
{
    if (nargs != 2) Abort("imkdir must have two parameters; not %d", nargs);
    const std::string path = name_text(arg(nargs, last, 0));
    const int mode = integer(arg(nargs, last, 1));
    if (mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0)
        Abort("Error %s when attempting to create directory %s", misc_get_error().c_str(), path.c_str());
}

// Creates name exclusively (mode 0644) and removes it again: true when both work.
bool create_and_remove(const std::string &name)
{
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    close(fd);
    return unlink(name.c_str()) == 0;
}

// A directory is writable when a test file of this process can be made and removed in it; a
// test file left over from an earlier run of the same process id is removed first.
bool directory_writable(const std::string &dir)
{
    const std::string test = dir + (dir.back() == '/' ? "" : "/") + "t" + std::to_string(getpid()) + ".tmp";
    int fd = open(test.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (unlink(test.c_str()) != 0) return false;
        fd = open(test.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) return false;
    }
    close(fd);
    return unlink(test.c_str()) == 0;
}

void ais_writeable(int nargs, int last, Stack *result)
{
    if (nargs != 1) Abort("iis_writeable must have one parameter; not %d", nargs);
    const std::string name = name_text(arg(nargs, last, 0));
    if (name.size() < 2) Abort("Must specify a file or directory name");
    const int code = ufexists3(name.c_str());
    bool writable = false;
    if (code == 1) {
        // Asked of the kernel, not tried by opening: closing a descriptor of the file would drop
        // the region locks a channel of the program holds on it. The effective ids decide, as
        // for an open; a read-only file system or an immutable file answers no.
        writable = faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) == 0;
    } else if (code == 2) {
        writable = directory_writable(name);
    } else if (code == 0) {
        if (name.back() == '/') Abort("Directory name does not exist %s", name.c_str());
        writable = create_and_remove(name);
    } else {
        Abort("Error %d when check for existence of file or directory '%s'", code, name.c_str());
    }
    set_number(result, writable ? 1 : 0);
}

void ais_link(int nargs, int last, Stack *result)
{
    if (nargs != 1) Abort("Must have one parameter; not %d", nargs);
    const std::string name = name_text(arg(nargs, last, 0));
    if (name.size() < 2) Abort("Must specify a full path and name of a link");
    set_number(result, test_is_link(name.c_str()));
}


} // namespace

namespace {

constexpr IntrinsicRow rows[] = {
    {in_BASENAME, ubasename},
    {in_DELETE_FILE, delete_file},
    {in_IFEXISTS, ufexists},
    {in_IFSIZE, ufsize},
    {in_IMKDIR, amkdir},
    {in_IIS_WRITEABLE, ais_writeable},
    {in_IIS_LINK, ais_link},
};

} // namespace

std::span<const IntrinsicRow> file_intrinsics() { return rows; }

void need_arguments(int nargs, int wanted)
{
    if (nargs != wanted) Abort("Invalid number of parameters");
}

void need_an_argument(int nargs)
{
    if (nargs < 1) Abort("Invalid number of parameters");
}

std::string plain_text(const Stack &entry)
{
    const std::string_view t = text(entry);
    return std::string(t.substr(0, t.find('\0')));
}

std::string name_text(const Stack &entry) { return utrunc_space_m(plain_text(entry)); }

int ufexists3(const char *name)
{
    const std::string trimmed = utrunc_space_m(name);
    struct stat st;
    if (stat(trimmed.c_str(), &st) != 0) return errno == ENOENT ? 0 : -errno;
    if (S_ISREG(st.st_mode)) return 1;
    if (st.st_mode & S_IFDIR) return 2;  // the directory bit: block devices and sockets carry it too
    return -2;
}

int ufexists1(const char *name) { return ufexists3(name); }

int ufexists2(const char *name)
{
    const std::string trimmed = utrunc_space_m(name);
    gchar *found = g_find_program_in_path(trimmed.c_str());
    g_free(found);
    return found ? 1 : 0;
}

int test_is_link(const char *path)
{
    char area[LINK_TARGET_MAX + 1];
    const ssize_t n = readlink(path, area, sizeof area);
    struct stat st;
    return n >= 0 && n <= LINK_TARGET_MAX && stat(path, &st) == 0 ? 1 : 0;
}

std::string resolve_link(const char *path)
{
    std::string name = path;
    for (int followed = 0; test_is_link(name.c_str()); ++followed) {
        std::string target;
        if (followed == LINK_CHAIN_MAX || !read_link(name, target)) Abort("Unexpected error in reading link %s", name.c_str());
        name = !target.empty() && target.front() == '/' ? target : directory_of(name) + "/" + target;
    }
    return name;
}
