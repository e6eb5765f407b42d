// The steps a forked child takes before exec, and the parent's side of its report pipe.
#include "child_exec.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "run_time.h"
#include "signals.h"

namespace child_exec {

bool move_to(int fd, int target) noexcept
{
    if (fd == target) return fcntl(fd, F_SETFD, 0) == 0;
    return dup2(fd, target) == target;
}

void close_others_on_exec() noexcept
{
    if (syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC) == 0) return;
    // Kernels without the flag: one descriptor at a time.
    const long limit = sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (limit > 0 ? limit : 1024); ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
}

void say(const char *text, std::size_t length) noexcept
{
    while (length > 0) {
        const ssize_t n = write(2, text, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        length -= static_cast<std::size_t>(n);
    }
}

void fail(int report_fd, int step, const char *message, std::size_t length) noexcept
{
    const int error = errno;
    if (report_fd >= 0) {
        const Failure f{step, error};
        while (write(report_fd, &f, sizeof f) < 0 && errno == EINTR) {}
    }
    say(message, length);
    _exit(error ? error : 1);
}

Failure await_report(int report_fd)
{
    Failure f{};
    std::size_t got = 0;
    while (got < sizeof f) {
        const ssize_t n = read(report_fd, reinterpret_cast<char *>(&f) + got, sizeof f - got);
        if (n < 0 && interrupted(errno)) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(report_fd);
    // End of file without a report: the exec closed the pipe.
    return got == sizeof f ? f : Failure{};
}

int reap(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (!interrupted(errno)) return -1;
    return status;
}

} // namespace child_exec
