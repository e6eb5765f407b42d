#include "stall.h"

#include <cerrno>
#include <csignal>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
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
