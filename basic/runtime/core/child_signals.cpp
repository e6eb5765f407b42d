#include "child_signals.h"

#include <csignal>

void reset_child_signals() noexcept
{
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    // SIGKILL, SIGSTOP and the C library's own signals are refused, and need no reset.
    for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &sa, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

void reset_child_signals_setup(gpointer) noexcept { reset_child_signals(); }
