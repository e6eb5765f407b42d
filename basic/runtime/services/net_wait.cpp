#include "net_wait.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

#include "run_time.h"
#include "signals.h"

namespace {

// A signal that arrives just before poll starts does not wake it: looking at the recorded signal
// this often bounds how late the safe point can be.
constexpr int SIGNAL_LOOK_MS = 100;

NetTimeouts timeouts{NET_CONNECT_TIMEOUT_MS, NET_REPLY_TIMEOUT_MS};

} // namespace

NetTimeouts net_timeouts() { return timeouts; }

NetTimeouts set_net_timeouts(NetTimeouts t)
{
    const NetTimeouts previous = timeouts;
    timeouts.connect_ms = t.connect_ms ? t.connect_ms : NET_CONNECT_TIMEOUT_MS;
    timeouts.reply_ms = t.reply_ms ? t.reply_ms : NET_REPLY_TIMEOUT_MS;
    return previous;
}

NetDeadline::NetDeadline(int ms)
    : unlimited_(ms < 0), end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(ms, 0)))
{
}

bool NetDeadline::passed() const { return !unlimited_ && std::chrono::steady_clock::now() >= end_; }

int NetDeadline::remaining_ms() const
{
    if (unlimited_) return -1;
    // Rounded up: a wait never ends before its deadline.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(left.count(), 0));
}

NetWait net_wait(int fd, short events, const NetDeadline &deadline, OnSignal on, NetSignalAction action, void *data)
{
    bool acted = false;
    for (;;) {
        if (pending_signal) {
            if (action && !acted) action(data);
            acted = true;
            if (on == OnSignal::give_up) return NetWait::interrupted;
            check_signals();
        }
        if (deadline.passed()) return NetWait::timed_out;
        const int left = deadline.remaining_ms();
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, left < 0 ? SIGNAL_LOOK_MS : std::min(left, SIGNAL_LOOK_MS));
        if (n > 0) return NetWait::ready;  // an error or hang-up too: the next call on fd tells it
        if (n < 0 && errno != EINTR) return NetWait::failed;
    }
}

void after_library_failure() { check_signals(); }
