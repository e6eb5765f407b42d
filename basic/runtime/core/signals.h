// The run-time's signal handling: the handler only records a signal; the run acts on it at a
// safe point, and every call that waits goes back through that point when a signal wakes it.
#pragma once

#include <cerrno>
#include <csignal>

// Signal handler: records the signal (the first one caught stays recorded until it is acted on;
// a request to terminate replaces a pending interrupt);
// the work is done by check_signals at a safe point. Synchronous faults are reported at once.
extern "C" void sigcatcher(int sig);
// Installs sigcatcher for every signal the run-time handles, without SA_RESTART: a signal wakes
// any call that waits (reading INPUT, a READ on a pipe, SLEEP, a wait for a child), which then
// reaches the safe point instead of waiting on.
void install_sigcatcher();
// The safe point: called by the executor loop and by every place that waits. Acts on a signal
// recorded by sigcatcher (orderly exit or fatal report); returns when none is pending.
void act_on_signal();
extern volatile std::sig_atomic_t pending_signal;  // the signal recorded by sigcatcher, 0 = none
inline void check_signals()
{
    if (pending_signal) act_on_signal();
}
// For a call that failed with error: true when a signal interrupted it (EINTR) and the safe point
// has let the run go on, so the call is to be made again.
inline bool interrupted(int error)
{
    if (error != EINTR) return false;
    check_signals();
    return true;
}
// True while sigcatcher reports a synchronous fault from inside the handler.
bool in_fault_handler();
