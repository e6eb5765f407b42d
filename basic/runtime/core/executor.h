// The executor: the interpreter's main loop over the op codes of the current context, its
// globals (loaded from the current interpreter context) and the program trace ring printed by
// fatal reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "code.h"
#include "interp.h"
#include "stack.h"
#include "symtab.h"

struct Application_t;

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

// EXECUTE and CHAIN, which the executor serves itself rather than through a dispatcher: a new
// context for the child program named by the nargs entries ending at last, and the switch of the
// current context to another program.
Interp_t *new_interpreter(int nargs, int last);
void Chain(int nargs, int last);

// Interpreter contexts (the current one is Minterp; each links to the one before it).
void push_interpreter(Interp_t *context, Code *return_position, const char *origin);
void pop_interpreter();
// Start-up: the first context, its program loaded, then Execute and finish(EXIT_STAT).
[[noreturn]] void run_first_program(const char *origin);
// The application of a replaced program (CHAIN) or of an ended EXECUTE child goes when no context
// runs it and it keeps no window, owner window or running external program.
void release_unused_application(Application_t *ap);
// The EXECUTE child that has just been left, with its application, as above.
void release_ended_child(Interp_t *child);
// Exit: the context of a program whose load ended the run, unless an application holds it.
void release_loose_context();

// Program trace ring, printed newest first by fatal reports. The entries are kept compact
// (trace_ring.h); these arrays are filled from them when a report reads the ring.
inline constexpr int BASIC_TRACE_SIZE = 1024;
extern const char *basic_trace_fn[BASIC_TRACE_SIZE];
extern const char *basic_trace_file[BASIC_TRACE_SIZE];
extern int basic_trace_line[BASIC_TRACE_SIZE];
extern const char *basic_trace_file_top[BASIC_TRACE_SIZE];
extern int basic_trace_line_top[BASIC_TRACE_SIZE];
extern int basic_trace_tr[BASIC_TRACE_SIZE];
extern int p_basic_trace;
extern int p_basic_trace_prev;
// An executor entry (routine entry, source line): a file beginning with "." takes the outer file
// and line of the previous entry.
void basic_trace_enter(const char *function, const char *file, int line);
// An entry of another kind (flag 0) whose outer file and line are the previous entry's.
void basic_trace_note(const char *function, const char *file, int line);
void free_program_trace_ring();
// Forgets the names cached for the ring: called when a program is loaded or an application goes.
void basic_trace_forget();
extern int basic_trace_generation;  // raised by basic_trace_forget

// Report data.
std::string ProgramDataPath();
bool ProgramLoaded();
void ProgramTraceLines(std::vector<std::string> &lines);
bool ContextRunning();
bool ErrorTrapArmed();
int ContextExitStatus();
void SetContextExitStatus(int status);
// Empties the current value stack and forgets the call depth and pending call (CHAIN).
void release_context_stack();
