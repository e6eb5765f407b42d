#include "child_signals.h"

#include <cerrno>
#include <csignal>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The kernel's own sigaction record, for the signals the C library keeps to itself (its thread
// cancellation and set-id signals) and refuses to set: a parent that left them ignored would
// pass that on through exec.
struct KernelSigaction {
    void (*handler)(int);
    unsigned long flags;
    void (*restorer)();
    unsigned long mask;
};

void default_action(int sig) noexcept
{
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    if (sigaction(sig, &sa, nullptr) == 0 || errno != EINVAL || sig == SIGKILL || sig == SIGSTOP) return;
    const KernelSigaction dfl{SIG_DFL, 0, nullptr, 0};
    syscall(SYS_rt_sigaction, sig, &dfl, nullptr, sizeof dfl.mask);
}

} // namespace

void reset_child_signals() noexcept
{
    const int saved = errno;
    for (int sig = 1; sig < NSIG; ++sig) default_action(sig);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    errno = saved;
}

void reset_child_signals_setup(gpointer) noexcept { reset_child_signals(); }
