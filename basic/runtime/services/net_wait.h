// Waiting on a network peer. A server that stops answering must neither freeze a program for ever
// nor hold back a request to end it: every network call has a connect and a reply time-out, and
// every wait returns to the run-time's safe point when a signal arrives, so a termination signal
// ends the run at once instead of when the peer answers.
#pragma once

#include <chrono>

// How long a connection may take to be made, and a reply to come, unless a caller says otherwise.
inline constexpr int NET_CONNECT_TIMEOUT_MS = 30'000;
inline constexpr int NET_REPLY_TIMEOUT_MS = 120'000;

struct NetTimeouts {
    int connect_ms;
    int reply_ms;
};
// The time-outs in force (the constants above unless a test changed them).
NetTimeouts net_timeouts();
// Seam for tests: short time-outs against stalled servers. Returns what it replaces; a value of 0
// restores that member's default.
NetTimeouts set_net_timeouts(NetTimeouts timeouts);

// A point in time a wait must not pass; a negative span means no limit.
class NetDeadline {
public:
    explicit NetDeadline(int ms);
    bool unlimited() const { return unlimited_; }
    bool passed() const;
    // Milliseconds left (0 once passed), or -1 without a limit.
    int remaining_ms() const;

private:
    bool unlimited_;
    std::chrono::steady_clock::time_point end_;
};

enum class NetWait { ready, timed_out, failed, interrupted };

// What a wait does before the safe point acts on a signal that arrived meanwhile (a statement in
// progress is cancelled, so the server does not go on with it).
using NetSignalAction = void (*)(void *data);

// Where a wait hands a signal on: to the safe point at once (a termination signal ends the run
// from inside the wait), or back to its caller as interrupted, for a wait that runs inside another
// library's callback, which must return through that library first.
enum class OnSignal { safe_point, give_up };

// Waits until fd is ready for events (POLLIN, POLLOUT) or the deadline passes. A signal recorded
// meanwhile is handed on as on says, after action: when the safe point lets the run go on, so does
// the wait. failed: errno tells why.
NetWait net_wait(int fd, short events, const NetDeadline &deadline, OnSignal on = OnSignal::safe_point,
                 NetSignalAction action = nullptr, void *data = nullptr);

// For a library call that gave up (many give up when a signal interrupts their wait, EINTR): a
// signal pending is what made it fail, so the run ends through the signal path, quietly for a
// termination signal, rather than as the library's error. Returns when no signal is pending.
void after_library_failure();
