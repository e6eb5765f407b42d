// What a forked child of the run-time does between fork and exec. The run-time may have other
// threads (the external-program workers), so a child makes only calls that are safe there:
// dup2, close, sigaction, write, exec and _exit; anything it needs is prepared by the parent
// before the fork. A child that cannot go on tells the parent through a report pipe (a step and
// an error number) and ends; the parent makes the report, since no program code, mail or dialog
// may run in a child.
#pragma once

#include <cstddef>
#include <sys/types.h>

namespace child_exec {

// What a failed child writes into its report pipe.
struct Failure {
    int step;   // the caller's number of the step that failed, 0 when none did
    int error;  // errno of that step
};

// Makes target a copy of fd that survives exec (also when fd already is target). False on failure.
bool move_to(int fd, int target) noexcept;

// Every descriptor from 3 up is closed on exec, whoever opened it, so a program started inherits
// only its standard input, output and error. Descriptors stay usable until the exec.
void close_others_on_exec() noexcept;

// Writes text to descriptor 2, as far as it goes.
void say(const char *text, std::size_t length) noexcept;

// Ends the child after a failed step: the report into report_fd (when it is 0 or more), the
// message on descriptor 2, and _exit with the error number (1 when there is none).
[[noreturn]] void fail(int report_fd, int step, const char *message, std::size_t length) noexcept;

// Reads a child's report from the read end of its report pipe (closing it) once the child has run
// its program or failed: a failure with step 0 when the exec succeeded. A signal that interrupts
// the read goes to the safe point.
Failure await_report(int report_fd);

// Waits for the child pid itself (never for any other child of the process): its raw wait status,
// or -1 with errno set when it cannot be waited for. A signal that interrupts the wait goes to the
// safe point.
int reap(pid_t pid);

} // namespace child_exec
