// The named times of test_time.h for shell snippets that tests run (Site::run): scaled, as text for
// the snippet's arguments, and a shell function that waits until a process sleeps in a wait, as
// wait_blocked does. A snippet's poll loop derives its cap from the time it is given, so that it
// is no hidden time-out of its own.
#pragma once

#include <string>
#include <sys/syscall.h>

#include "test_time.h"

namespace lumba_test {

// ms, scaled, in milliseconds.
inline std::string scaled_ms_text(int ms) { return std::to_string(scaled_ms(ms)); }

// ms, scaled, in whole seconds (rounded up): for sleep and timeout.
inline std::string scaled_s_text(int ms) { return std::to_string((scaled_ms(ms) + 999) / 1000); }

// The definition of `blocked PID MS`: waits up to MS milliseconds until the process sleeps in a
// system call that waits (on descriptors, a pipe, a FIFO's other end or a time), seen twice 50 ms
// apart, so that a signal sent then meets it in its wait; its status says whether it did.
inline std::string shell_blocked()
{
    std::string calls;
    for (const long n : {SYS_poll, SYS_ppoll, SYS_select, SYS_pselect6, SYS_epoll_wait, SYS_epoll_pwait, SYS_read,
                         SYS_recvfrom, SYS_recvmsg, SYS_nanosleep, SYS_clock_nanosleep, SYS_open, SYS_openat})
        calls += std::to_string(n) + " ";
    return "blocked() { b=0; seen=0; while [ $b -lt $(( $2 / 50 )) ] && [ $seen -lt 2 ]; do "
           "st=$(sed 's/.*) //' /proc/$1/stat 2>/dev/null | cut -c1); "
           "n=$(cut -d' ' -f1 /proc/$1/syscall 2>/dev/null); "
           "case \" " + calls + "\" in *\" $n \"*) [ \"$st\" = S ] && seen=$((seen+1)) || seen=0;; *) seen=0;; esac; "
           "sleep 0.05; b=$((b+1)); done; [ $seen -ge 2 ]; }; ";
}

} // namespace lumba_test
