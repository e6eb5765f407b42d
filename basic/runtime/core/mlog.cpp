// The run-time log: per-user log file and standard error, line by line; the two error logs that
// collect full fatal reports; the program-level log statements.
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <malloc.h>
#include <pwd.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "gdata.h"
#include "message.h"
#include "run_time.h"
#include "shared_files.h"
#include "signals.h"

GlobalData_t _global_data;
GlobalData_t *global_data;

namespace {

constexpr int LOG_LINE_SIZE = 8192;
constexpr const char *REPORT_BANNER = "** E R R O R ** This information will be emailed to Oska.";

// Kind of a path: 1 regular file, 2 directory, 0 missing, -2 other, -errno on other failures.
int file_kind(const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0) return errno == ENOENT ? 0 : -errno;
    if (S_ISREG(st.st_mode)) return 1;
    if (S_ISDIR(st.st_mode)) return 2;
    return -2;
}

[[noreturn]] void fail_path(const char *path)
{
    std::perror(path);
    finish(1);
}

[[noreturn]] void fail_text(const char *text)
{
    std::fputs(text, stderr);
    finish(1);
}

// Opens a log file for appending without following a symbolic link in its last component.
int open_append(const char *path, mode_t mode)
{
    return open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode);
}

bool write_all(int fd, const char *text, std::size_t length)
{
    while (length > 0) {
        ssize_t n = write(fd, text, length);
        if (n < 0) {
            if (interrupted(errno)) continue;
            return false;
        }
        text += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

void append_report(const char *path, const char *report)
{
    mode_t old = umask(002);
    int fd = open_append(path, 0664);
    umask(old);
    if (fd < 0) fail_path(path);
    bool ok = write_all(fd, report, std::strlen(report));
    if (close(fd) != 0 || !ok) fail_path(path);
}

// Builds and writes one line at level 0 to 3 (the indentation).
void mlog_do(int level, const char *format, std::va_list ap)
{
    if (level < 0 || level > 3) mlog_abort("mlog: Log Level %d out of range\n", level);
    const int mode = global_data ? global_data->log_mode : LOG_MODE_STDERR;
    const bool to_file = mode == LOG_MODE_FILE || mode == LOG_MODE_BOTH;
    const bool to_stderr = mode == LOG_MODE_STDERR || mode == LOG_MODE_BOTH;
    if (!to_file && !to_stderr) return;

    int fd = -1;
    if (to_file && global_data->log_file[0]) {
        fd = open_by_name(global_data->log_file, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            mlog_abort("mlog: %s error when attempting to open log file %s\n", std::strerror(errno),
                       global_data->log_file);
    }
    struct timeval tv;
    if (gettimeofday(&tv, nullptr) != 0) {
        int e = errno;
        if (fd >= 0) close(fd);
        mlog_abort("mlog: %s error when attempting to get current time\n", std::strerror(e));
    }
    struct tm tm;
    localtime_r(&tv.tv_sec, &tm);

    // The message is formatted into what is left of the bounded line and cut there; the line
    // always ends with its newline.
    char line[LOG_LINE_SIZE];
    int n = std::snprintf(line, sizeof line - 1, "%ld %02d:%02d.%06ld  %*s", mlog_get_malloc_usage(), tm.tm_min,
                          tm.tm_sec, static_cast<long>(tv.tv_usec), 2 * level, "");
    std::size_t used = static_cast<std::size_t>(n);
    const std::size_t room = sizeof line - 1 - used;  // keeps a byte for the newline
    int m = std::vsnprintf(line + used, room, format, ap);
    if (m > 0) used += std::min(static_cast<std::size_t>(m), room - 1);
    line[used++] = '\n';
    line[used] = '\0';
    for (std::size_t i = 0; i < used; ++i)
        if (line[i] == '\r') line[i] = '\n';

    if (to_stderr) {
        std::fwrite(line, 1, used, stderr);
        std::fflush(stderr);
    }
    if (fd >= 0) {
        bool ok = write_all(fd, line, used);
        if (close(fd) != 0 || !ok)
            mlog_abort("mlog: %s error when attempting to close log file\n", std::strerror(errno));
    }
}

void mlog_level(int enabled, int level, int threshold, const char *format, std::va_list ap)
{
    if (!enabled) return;
    if (level != 9 && level > threshold) return;
    if (level < 0) {
        std::va_list copy;
        va_copy(copy, ap);
        mlog_write_fatal_error(format, copy);
        va_end(copy);
        level = 0;
    } else if (level == 9) {
        level = 0;
    }
    mlog_do(level, format, ap);
}

// Why what lies at path is not a log file of the user's own, or nullptr when it is (or nothing
// lies there): the run's own failure then.
const char *planted(const char *path)
{
    struct stat st;
    if (lstat(path, &st) != 0) return nullptr;
    if (S_ISLNK(st.st_mode)) return "a link";
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    if (st.st_uid != geteuid()) return "owned by another user";
    if (st.st_nlink != 1) return "a link";
    return nullptr;
}

// The user's home directory: HOME, or the password entry's when HOME is empty (an empty HOME
// would put the user's .oska at the root of the file system).
std::string home_directory()
{
    const char *home = std::getenv("HOME");
    if (!home) fail_text("mlog: Attempting to retrieve \"HOME\" environment variable\n");
    if (*home) return home;
    const struct passwd *pw = getpwuid(getuid());
    if (!pw || !pw->pw_dir || !*pw->pw_dir) fail_text("mlog: HOME is empty and the user has no home directory\n");
    return pw->pw_dir;
}

// The user's error log, HOME/.oska/errorlog; a HOME too long for it is said to be so.
std::string user_error_log(const std::string &home)
{
    std::string path = home + "/.oska/errorlog";
    if (path.size() >= PATH_MAX) fail_text("mlog: Name of HOME directory is too long\n");
    return path;
}

} // namespace

GlobalData_t *global_data_init(GlobalData_t *gd)
{
    *gd = GlobalData_t{};
    gd->log_mode = LOG_MODE_BOTH;
    gd->log_level_lumbas = Lumba_Log_Level;
    gd->log_level_basic = Basic_Log_Level;
    gd->cm_counter = -1;
    gd->cm_limit = 5000;
    std::strcpy(gd->menu_code, "init");
    mlog_init(gd->log_file);
    gd->cpu_start = mlog_get_cpu_usage();
    return gd;
}

void mlog_init(char *log_file)
{
    mode_t old = umask(002);
    int fd = open_append(LOG_DIR "/errorlog", 0664);
    umask(old);
    if (fd < 0 || close(fd) != 0) fail_path(LOG_DIR "/errorlog");

    const std::string home = home_directory();
    const std::string user_log = user_error_log(home);
    std::string oska = home + "/.oska";
    int kind = file_kind(oska.c_str());
    if (kind == -ENAMETOOLONG) fail_text("mlog: Name of HOME directory is too long\n");
    if (kind != 0 && kind != 2) {
        std::fprintf(stderr, "%s must be a directory. (tp=%d)\n", oska.c_str(), kind);
        finish(1);
    }
    if (kind == 0) {
        old = umask(0);
        int rc = mkdir(oska.c_str(), 0775);
        umask(old);
        if (rc != 0) fail_text("mlog: Attempting to create .oska directory in users home directory\n");
    }

    // Only checks that the user's error log can be written; it is made when a report needs it.
    // Another start of the same user may probe it at the same moment and remove it first.
    bool existed = file_kind(user_log.c_str()) != 0;
    fd = open_append(user_log.c_str(), 0664);
    if (fd < 0 || close(fd) != 0) fail_path(user_log.c_str());
    if (!existed && unlink(user_log.c_str()) != 0 && errno != ENOENT) fail_path(user_log.c_str());

    struct passwd *pw = getpwuid(getuid());
    if (!pw) fail_text("User not found\n");
    const char *ppath = std::getenv("PPATH");
    if (!ppath || !*ppath) fail_text("mlog: PPATH must be set\n");
    if (std::strlen(ppath) + std::strlen(pw->pw_name) + 11 > LOG_FILE_SIZE)
        fail_text("mlog: Name of log file is too long\n");
    std::snprintf(log_file, LOG_FILE_SIZE, "%s/temp/%s.log", ppath, pw->pw_name);

    // The user log lies in the shared temp directory: only a plain file of the user's own is
    // taken (never another user's, a link or a FIFO planted there), and a new one is the user's
    // alone to read. What another user planted there is refused, but may not stop every run of
    // this login: the run goes on without the user log, saying why.
    fd = open_by_name(log_file, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        if (const char *why = planted(log_file)) {
            std::fprintf(stderr, "mlog: Running without the log file %s: it is %s\n", log_file, why);
            std::fflush(stderr);
            log_file[0] = '\0';
            return;
        }
        errno = error;
        std::string what = std::string("mlog: Attempting to open log file ") + log_file;
        fail_path(what.c_str());
    }
    if (close(fd) != 0) fail_path("mlog: Attempting to close log file");
}

void _mlog(int enabled, int level, const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    mlog_level(enabled, level, global_data ? global_data->log_level_lumbas : Lumba_Log_Level, format, ap);
    va_end(ap);
}

void _mlog_basic(int enabled, int level, const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    mlog_level(enabled, level, global_data ? global_data->log_level_basic : Basic_Log_Level, format, ap);
    va_end(ap);
}

void mlog_do_tprint(const char *text)
{
    if (!global_data || global_data->log_level_basic < 0) return;
    std::size_t length = std::strlen(text);
    auto *line = static_cast<char *>(g_try_malloc(length + 3));
    if (!line) Abort("Can't allocate memory for tprint message.");
    line[0] = 'T';
    line[1] = ' ';
    std::memcpy(line + 2, text, length + 1);
    _mlog_basic(1, 0, "%s", line);
    g_free(line);
}

int mlog_vpsprintf(char *buffer, int size, const char *format, std::va_list ap)
{
    int n = std::vsnprintf(buffer, static_cast<std::size_t>(size > 0 ? size : 0), format, ap);
    if (n < 0) mlog_abort("mlog_sprintf format error encountered");
    if (n >= size)
        Message("mlog_vpsprintf output has been truncated (%d >= %d) @ %s:%d", n, size, __FILE__, __LINE__);
    return n;
}

int mlog_sprintf(char *buffer, int size, const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(buffer, static_cast<std::size_t>(size > 0 ? size : 0), format, ap);
    va_end(ap);
    if (n < 0) mlog_abort("mlog_sprintf format error encountered");
    if (n >= size)
        Message("mlog_sprintf output has been truncated (%d >= %d) @ %s:%d", n, size, __FILE__, __LINE__);
    return n;
}

void mlog_abort(const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    std::vfprintf(stderr, format, ap);
    va_end(ap);
    std::fflush(stderr);
    Abort("mlog_abort!");
}

double mlog_get_cpu_usage()
{
    struct rusage ru;
    errno = 0;
    if (getrusage(RUSAGE_SELF, &ru) != 0) {
        if (errno) mlog_abort("mlog_get_cpu_usage: %s error encountered", std::strerror(errno));
        return 0;
    }
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long mlog_get_malloc_usage()
{
    struct mallinfo2 mi = mallinfo2();
    return static_cast<long>(mi.arena + mi.hblkhd - mi.fordblks);
}

void mlog_append_error_logs(const char *report)
{
    append_report(LOG_DIR "/errorlog", report);
    append_report(user_error_log(home_directory()).c_str(), report);
}

void mlog_write_fatal_error(const char *format, std::va_list ap)
{
    std::va_list copy;
    va_copy(copy, ap);
    char *text = g_strdup_vprintf(format, copy);
    va_end(copy);
    char *report = std::strstr(text, REPORT_BANNER) ? g_strdup(text) : perform_log_message(format, ap);
    g_free(text);
    std::string whole(report);
    g_free(report);
    if (whole.empty() || whole.back() != '\n') whole += '\n';
    mlog_append_error_logs(whole.c_str());
}

void mlog_imlog(int nargs, int level, const char *text, std::size_t length)
{
    if (nargs != 2) Abort("Usage is: call imlog(3, \"some text\")");
    if (!global_data || global_data->log_level_basic < level) return;
    std::string line = "B " + std::string(text, length);
    _mlog_basic(1, level, "%s", line.c_str());
}

void mlog_imlog_stats(int nargs, const char *, std::size_t)
{
    if (nargs != 1) Abort("May have only one parameter");
}

void mlog_mem_update(int, const void *, const void *) {}
void mlog_mem_delete(int, const void *) {}
void mlog_mem_delete2(int, const void *) {}
void mlog_mem_display() {}
void clog_push_stats(const char *) {}
void clog_pop_stats(const char *) {}
