// The interpreter context: one running program with its code, routine table, value stack, call
// and gosub records, error traps and exit state. Contexts chain through `previous`.
#pragma once

#include <cstdint>

#include "code.h"
#include "disamdec.h"
#include "symtab.h"
#include "value_stack.h"

struct Application_t;
struct KeySet_t;
struct Routine;

inline constexpr int PROGRAM_NAME_SIZE = 64;  // "<base>__<suffix>" and the terminator
inline constexpr int ORIGIN_NAME_SIZE = 72;
inline constexpr int EXIT_STRING_SIZE = 2049;
inline constexpr int SECOND_TEXT_SIZE = 39;
inline constexpr int MAX_CALLERS = 100;
// The most programs running one inside another by EXECUTE, the first program included. Each costs
// a context and a loaded copy of its program; a program that executes itself would otherwise nest
// until memory runs out.
inline constexpr int MAX_EXECUTE_NESTING = 250;

// An error trap: the value-stack level to return to and the handler; no handler, no trap.
struct TrapVector {
    std::int32_t level;
    Code *handler;
};

// Who called the routine at one depth: its name, the low 16 bits of the calling op's position
// and the value-stack frame base.
struct CallerRecord {
    const char *name;
    std::uint16_t position;
    std::int32_t frame;
};

struct Interp_t {
    char program_name[PROGRAM_NAME_SIZE];
    char *title;  // window title; none for the first context
    char origin_name[ORIGIN_NAME_SIZE];
    std::int32_t ARGC;
    Stack ARGV;
    Code *code_base;  // the application's code words
    std::int32_t code_size;
    Routine *routines;
    Application_t *current_application;
    std::int32_t loaded_routines;  // highest routine number
    std::int32_t cur_routine;
    Code *code[MAX_ROUTINES];  // entry of each routine
    TrapVector TRAP_VECTORS[MAX_ROUTINES];
    void *Common_variables;
    std::int32_t Common_size;
    std::int32_t Common_shared;
    dec_t *numerics;
    char *chars;
    std::int32_t ncount;  // decimals in the numeric area
    std::int32_t ccount;  // bytes in the character area
    char *structs;
    std::int32_t stcount;
    Stack *Stk;
    std::int32_t sp;  // top of the value stack, -1 when empty
    CallerRecord caller[MAX_CALLERS];
    std::int32_t depth;
    Code *npc;  // where the context continues when it becomes current again
    std::int32_t EXIT_STAT;
    char EXIT_STRING[EXIT_STRING_SIZE];
    char second_text[SECOND_TEXT_SIZE];
    KeySet_t *keyset;
    std::uint64_t spare;
    std::uint32_t line_start;  // restored into yylinestart on every switch
    Code *gosub_stk[GOSUB_STK];
    std::int32_t gosub_ptr;
    Interp_t *previous;
};

extern Interp_t *Minterp;  // the current context
extern char *Program_name;  // the running program's name
extern int loaded_routines;  // highest routine number of the routine table (routines), -1 = none

// Callback runs in progress (invoke_basic_callback_routine nests inside GUI main loops).
extern int ib_callback_depth;

// Makes the application current: its routine table and entries, its name as Program_name, and
// the areas of the running routine number. A null application changes nothing.
void set_application_context(Application_t *ap);

// Runs the program routine called name of application ap in context, as a GUI event does: the
// nargs entries of args are copied onto a fresh value stack (the routine's parameters; numbers
// keep pointing at the caller's decimals and texts stay the caller's), the routine runs in a
// nested Execute, and everything of the interrupted run is restored afterwards, whether the
// routine returned with exitv or exit or ended with an untrapped error. The function value is
// left in fn_value. A name the application lacks is error 202 "callback %s not found"; the
// executor's own rules apply inside (309 recursion, 201 nesting).
void invoke_basic_callback_routine(const char *name, Stack *args, int nargs, Application_t *ap, Interp_t *context);
// The same for a routine record (its name is what counts).
void invoke_basic_callback_routine(const Routine *routine, Stack *args, int nargs, Application_t *ap,
                                   Interp_t *context);
// Whether the application's code runs in a context of the running programs: the current context
// and those it returns to, and the same of every run a callback interrupted (whose context the
// runner cuts off from the context it returns to).
bool ProgramRunning(const Application_t *ap);

// The running routine's name, "UNK" without a routine table.
const char *CurrentRoutineName();
// "<source line>-<routine>:" ("-UNK:" without a routine name) in a buffer the next call reuses.
const char *ProgramPoint();
// A new tracked text "<routine>@<application>" (either may be empty), or nullptr when both are.
char *copy_cur_routine_aname();
