// MACH: child processes a program starts and talks to through pipes, kept in a table of 15
// slots that belongs to the process (every interpreter context shares it).
#pragma once

#include <span>
#include <sys/types.h>

#include "intrinsic_dispatch.h"

inline constexpr int CHILD_SLOTS = 15;

// One slot. A program names it by the first byte of its process reference variable.
struct ChildSlot {
    pid_t pid;     // 0: the slot is free
    int read_fd;   // our end of the pipe from the child's standard output and error, -1: none
    int write_fd;  // our end of the pipe to the child's standard input, -1: none
    int done;      // 1 once the child's end has been collected
    int status;    // the raw wait status collected
};

extern ChildSlot children[CHILD_SLOTS];

// Start-up: every slot free.
void initialize_children();

// MACH (statement intrinsic). Its arguments are the function code ("SP0".."SP5", "RP", "WP", "CI",
// "CO", "TP0", "TP1"), the process reference variable, then the code's own.
void mach(int nargs, int last);

// Waits until the child of slot has ended (its own pid only; other children of the process are
// never reaped here) and returns its code: the exit status, or the signal number with the core
// flag (128) for a child ended by a signal.
int await_child(int slot);

// The dispatcher row of MACH, registered by the library's registration object.
std::span<const IntrinsicRow> child_process_intrinsics();
