#include "net_resolve.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

// One lookup, shared by the waiting run and the helper thread: whichever lets go last frees it,
// so a lookup the run stopped waiting for finishes alone.
struct Lookup {
    std::string host, service;
    bool has_service = false;
    addrinfo hints{};
    addrinfo *result = nullptr;
    int code = EAI_SYSTEM;
    int error = 0;  // errno of EAI_SYSTEM
    std::atomic<bool> done{false};
    int pipe_fds[2] = {-1, -1};

    ~Lookup()
    {
        if (result) freeaddrinfo(result);
        for (int fd : pipe_fds)
            if (fd >= 0) close(fd);
    }
};

void run_lookup(const std::shared_ptr<Lookup> &lookup)
{
    addrinfo *result = nullptr;
    const int code = getaddrinfo(lookup->host.c_str(), lookup->has_service ? lookup->service.c_str() : nullptr,
                                 &lookup->hints, &result);
    lookup->error = errno;
    lookup->code = code;
    lookup->result = code == 0 ? result : nullptr;
    lookup->done.store(true, std::memory_order_release);
    const char byte = 1;
    while (write(lookup->pipe_fds[1], &byte, 1) < 0 && errno == EINTR) {
    }
}

// Starts the helper with every signal blocked, so that signals go to the run's own thread.
bool start_helper(const std::shared_ptr<Lookup> &lookup)
{
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    bool started = true;
    try {
        std::thread([lookup] { run_lookup(lookup); }).detach();
    } catch (const std::system_error &) {
        started = false;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}

} // namespace

int net_getaddrinfo(const char *host, const char *service, const addrinfo &hints, AddrInfoList &found,
                    const NetDeadline &deadline)
{
    found.reset();
    auto lookup = std::make_shared<Lookup>();
    lookup->host = host;
    lookup->has_service = service != nullptr;
    if (service) lookup->service = service;
    lookup->hints = hints;
    if (pipe2(lookup->pipe_fds, O_CLOEXEC) != 0 || !start_helper(lookup)) {
        errno = errno ? errno : EAGAIN;
        return EAI_SYSTEM;
    }
    switch (net_wait(lookup->pipe_fds[0], POLLIN, deadline)) {
    case NetWait::ready: break;
    case NetWait::timed_out: return EAI_AGAIN;
    default: return EAI_SYSTEM;
    }
    if (!lookup->done.load(std::memory_order_acquire)) return EAI_SYSTEM;
    found.reset(lookup->result);
    lookup->result = nullptr;
    errno = lookup->error;
    return lookup->code;
}

const char *net_lookup_error(int code) { return code == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(code); }
