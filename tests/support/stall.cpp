#include "stall.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace lumba_test {

Stopped::Stopped(pid_t pid) : pid_(pid)
{
    if (pid_ <= 0 || kill(pid_, SIGSTOP) != 0) throw std::runtime_error("cannot stop process " + std::to_string(pid));
}

Stopped::~Stopped() { kill(pid_, SIGCONT); }

SilentListener::SilentListener(int port)
{
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    socklen_t size = sizeof a;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd_, 4) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &size) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
    port_ = ntohs(a.sin_port);
}

SilentListener::~SilentListener()
{
    for (const int q : queued_) close(q);
    if (fd_ >= 0) close(fd_);
}

void SilentListener::fill_queue()
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port_));
    // Connections until one is not completed at once.
    for (;;) {
        const int c = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        queued_.push_back(c);
        if (connect(c, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) continue;
        if (errno != EINPROGRESS) throw std::runtime_error("cannot fill the queue of a listener");
        pollfd p{c, POLLOUT, 0};
        if (poll(&p, 1, 200) == 0) return;
    }
}

namespace {

// The only network interface is the loopback: `isolate`'s private network namespace, which comes
// with a private mount namespace and hosts file.
bool only_loopback()
{
    struct if_nameindex *names = if_nameindex();
    if (!names) return false;
    bool only = true;
    for (struct if_nameindex *n = names; n->if_index != 0; ++n)
        if (std::strcmp(n->if_name, "lo") != 0) only = false;
    if_freenameindex(names);
    return only;
}

// Each query waits the longest time-out glibc takes, tried the most times: far beyond a stall.
constexpr const char *SILENT_RESOLV_CONF = "nameserver 127.0.0.1\noptions timeout:30 attempts:5\n";

} // namespace

SilentResolver::SilentResolver()
{
    if (!only_loopback()) throw std::runtime_error("SilentResolver needs private namespaces (isolate)");
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(53);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        throw std::runtime_error("cannot bind 127.0.0.1:53");
    char pattern[] = "/tmp/silent-resolver-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("cannot make a directory for resolv.conf");
    dir_ = pattern;
    std::ofstream(dir_ + "/resolv.conf") << SILENT_RESOLV_CONF;
    if (mount((dir_ + "/resolv.conf").c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0)
        throw std::runtime_error("cannot bind-mount a resolv.conf: " + std::string(std::strerror(errno)));
}

SilentResolver::~SilentResolver()
{
    umount2("/etc/resolv.conf", MNT_DETACH);
    if (!dir_.empty()) {
        unlink((dir_ + "/resolv.conf").c_str());
        rmdir(dir_.c_str());
    }
    if (fd_ >= 0) close(fd_);
}

bool SilentResolver::asked() const
{
    char byte;
    return recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) >= 0;
}

void SilentResolver::forget_host(const std::string &name)
{
    std::string kept, line;
    {
        std::ifstream in("/etc/hosts");
        while (std::getline(in, line)) {
            std::istringstream words(line);
            bool names_it = false;
            for (std::string w; words >> w;) names_it = names_it || w == name;
            if (!names_it) kept += line + "\n";
        }
    }
    std::ofstream("/etc/hosts", std::ios::trunc) << kept;
}

namespace {

bool waiting_call(long number)
{
    switch (number) {
    case SYS_poll: case SYS_ppoll: case SYS_select: case SYS_pselect6: case SYS_epoll_wait: case SYS_epoll_pwait:
    case SYS_read: case SYS_recvfrom: case SYS_recvmsg:
        return true;
    default:
        return false;
    }
}

} // namespace

bool wait_blocked(pid_t pid, int timeout_ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaled_ms(timeout_ms));
    const std::string dir = "/proc/" + std::to_string(pid);
    // Seen twice in a row, some time apart: not a call on its way through.
    int seen = 0;
    while (std::chrono::steady_clock::now() < end) {
        std::ifstream stat(dir + "/stat"), call(dir + "/syscall");
        std::string line;
        std::getline(stat, line);
        const std::size_t paren = line.rfind(')');
        const char state = paren != std::string::npos && paren + 2 < line.size() ? line[paren + 2] : '?';
        long number = -1;
        call >> number;
        seen = state == 'S' && waiting_call(number) ? seen + 1 : 0;
        if (seen == 2) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

double seconds_since(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

} // namespace lumba_test
