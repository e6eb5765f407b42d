// isolate COMMAND [ARGS...]
// Runs COMMAND in private mount, network and PID namespaces, for test programs that start servers
// on fixed ports or answer for fixed host names:
//   - the only network interface is a loopback that is up, so a server may bind 127.0.0.1:443 or
//     any other fixed port without meeting the host's or another test program's;
//   - /etc/hosts is a private copy that COMMAND may extend (echo "127.0.0.1 api.example" >>
//     /etc/hosts); the host's file is never touched;
//   - every process COMMAND starts, servers included, ends when COMMAND ends, even when it
//     crashes; /proc shows the namespace's own processes.
// The exit status is COMMAND's (128 + the signal that ended it). Used as a test's
// CROSSCOMPILING_EMULATOR (see tests/support/README.md), so gtest_discover_tests runs both the
// listing and every test case through it. No shell or other tool is started on the way: on the
// machines CI runs on every process started costs tens of milliseconds.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int fail(const char *what)
{
    std::fprintf(stderr, "isolate: %s: %s\n", what, std::strerror(errno));
    return 127;
}

int exit_status(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A private copy of /etc/hosts that anyone may read.
bool copy_hosts(std::string &path)
{
    const char *tmp = std::getenv("TMPDIR");
    path = std::string(tmp && *tmp ? tmp : "/tmp") + "/lumba-hosts.XXXXXX";
    const int out = mkostemp(path.data(), O_CLOEXEC);
    if (out < 0) return false;
    const int in = open("/etc/hosts", O_RDONLY | O_CLOEXEC);
    struct stat st {};
    bool ok = in >= 0 && fstat(in, &st) == 0;
    for (off_t done = 0; ok && done < st.st_size;) {
        const ssize_t n = sendfile(out, in, &done, static_cast<size_t>(st.st_size - done));
        ok = n > 0;
    }
    ok = ok && fchmod(out, 0644) == 0;
    if (in >= 0) close(in);
    close(out);
    return ok;
}

bool loopback_up()
{
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(s, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP | IFF_RUNNING;
    ok = ok && ioctl(s, SIOCSIFFLAGS, &request) == 0;
    close(s);
    return ok;
}

// The namespace's first process: it sets the namespace up, runs COMMAND and reaps every orphan
// until COMMAND ends; when it ends, the kernel ends everything else in the namespace.
int first_process(const std::string &hosts, char **command)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // the runner killed: the namespace goes with it
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return fail("private mounts");
    if (mount("proc", "/proc", "proc", MS_NOSUID | MS_NOEXEC | MS_NODEV, nullptr) != 0) return fail("mount /proc");
    if (mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) return fail("mount /etc/hosts");
    if (!loopback_up()) return fail("loopback up");
    const pid_t child = fork();
    if (child < 0) return fail("fork");
    if (child == 0) {
        execvp(command[0], command);
        std::fprintf(stderr, "isolate: cannot run %s: %s\n", command[0], std::strerror(errno));
        _exit(127);
    }
    for (;;) {
        int status = 0;
        const pid_t ended = wait(&status);
        if (ended == child) return exit_status(status);
        if (ended < 0 && errno != EINTR) return fail("wait");
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: isolate COMMAND [ARGS...]\n");
        return 2;
    }
    std::string hosts;
    if (!copy_hosts(hosts)) return fail("copy /etc/hosts");
    int status = 127;
    if (unshare(CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWPID) != 0) {
        status = fail("unshare");
    } else {
        const pid_t first = fork();
        if (first < 0) {
            status = fail("fork");
        } else if (first == 0) {
            _exit(first_process(hosts, argv + 1));
        } else {
            int wait_status = 0;
            while (waitpid(first, &wait_status, 0) < 0 && errno == EINTR) {}
            status = exit_status(wait_status);
        }
    }
    unlink(hosts.c_str());
    return status;
}
