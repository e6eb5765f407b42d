// The executor: the interpreter's main loop over the op codes of the current context and its
// globals (loaded from the current interpreter context). The contexts themselves are contexts.h,
// the program trace ring trace_ring.h, what fatal reports read of the run errors.h.
#pragma once

#include <cstdint>

#include "code.h"
#include "interp.h"
#include "stack.h"
#include "symtab.h"

inline constexpr int MAX_NESTING = 98;  // active routine levels
inline constexpr int STACK_WARN_LEVEL = 253;  // above: mail a warning; at STACKSIZE - 1: stop

// Executor state (the current context's copies, Interp_t).
extern Code *npc;           // next position set by a transfer; nullptr = none
extern Stack fn_value;      // result of an operator, intrinsic or function routine before it is pushed
extern int new_routine;     // routine about to be entered, -1 = none
extern int argcount;        // argument count of the pending routine call
extern Code **code;         // entry position of each routine
extern dec_t *local_numerics;
extern char *local_chars;
extern char *local_structs;
extern int depth;           // routine/intrinsic nesting depth
extern CallerRecord *caller;
extern TrapVector *ERROR_TRAP;    // the active trap record
extern TrapVector *TRAP_VECTORS;  // one per routine of the current context
extern TrapVector IO_TRAP;
extern const TrapVector NULL_TRAP;
extern TrapVector *SAVE_TRAP;
extern int PF8KEY;
extern Code **gosub_stk;
extern int gosub_ptr;
extern char EXIT_STRING[EXIT_STRING_SIZE];

// Test seam: every op takes the general path, none the loop's fast paths (which must give the
// same results, byte for byte).
extern bool executor_general_path_only;
// Test seam: the decoded steps run in the portable switch form of the loop even where the threaded
// form is built (the default then), so that both forms are checked against the general path.
extern bool executor_switch_steps;

// Writes out the numbers that the executor's loop holds in binary while it calls a handler that
// reads only its texts, so that an error report, its trap and the dump see them as the program
// left them. Every error report calls it first; it does nothing at any other time.
void settle_for_report();

// Runs the current context from entry until the position becomes 0; returns 0. Before returning
// it publishes the exit status and text into EXIT_STAT and EXIT_STRING.
int Execute(Code *entry);
// Binary operator op on the entries at left and right; the result (always numeric) into result.
int maths(unsigned op, int right, int left, Stack *result);
// The concatenation of the count string entries ending at last, into result (scat op).
int s_concat(Stack *result, int last, int count);
// A decimal's shortest text in a static buffer that the next call overwrites.
char *Convert_BCD(const dec_t *value);
