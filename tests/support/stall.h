// Peers that stop answering, and a run ended by a signal while it waits on one: a process held
// stopped (a server's sockets stay open and the kernel still takes connections, but nothing
// answers), a TCP listener that takes connections and never answers, and the wait until a child
// sleeps in a system call, so that a signal meets it there.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

#include "test_time.h"

namespace lumba_test {

// Holds the process stopped (SIGSTOP) while the object lives; continues it (SIGCONT) when it goes.
class Stopped {
public:
    explicit Stopped(pid_t pid);
    ~Stopped();
    Stopped(const Stopped &) = delete;
    Stopped &operator=(const Stopped &) = delete;

private:
    pid_t pid_;
};

// A listening TCP socket on 127.0.0.1:port (0: a free port) that never accepts: the kernel
// completes every connection and takes what the client sends, and no byte ever comes back.
class SilentListener {
public:
    explicit SilentListener(int port = 0);
    ~SilentListener();
    SilentListener(const SilentListener &) = delete;
    SilentListener &operator=(const SilentListener &) = delete;
    int port() const { return port_; }
    // Fills the queue of connections the kernel completes for it: a further client's connection
    // then stays unanswered.
    void fill_queue();

private:
    int fd_ = -1;
    int port_ = 0;
    std::vector<int> queued_;
};

// A name server that never answers, for the test program's private mount and network namespaces
// (`isolate`; it refuses to run elsewhere): a UDP socket on 127.0.0.1:53 takes queries and sends
// nothing back, and a private resolv.conf naming it with a long time-out is bind-mounted over
// /etc/resolv.conf while the object lives. A lookup of a name the hosts file does not give then
// waits far longer than a stall, in a process started afterwards.
class SilentResolver {
public:
    SilentResolver();
    ~SilentResolver();
    SilentResolver(const SilentResolver &) = delete;
    SilentResolver &operator=(const SilentResolver &) = delete;
    // A query has come (and is left unanswered).
    bool asked() const;
    // Takes name out of the private hosts file, so that it is looked up through the name server.
    static void forget_host(const std::string &name);

private:
    int fd_ = -1;
    std::string dir_;
};

// Waits up to timeout_ms until process pid sleeps in a system call that waits on descriptors
// (poll, select, epoll, a read or receive); false when it does not.
bool wait_blocked(pid_t pid, int timeout_ms = WAIT_MS);

// Seconds since a steady-clock time point.
double seconds_since(std::chrono::steady_clock::time_point t);

} // namespace lumba_test
