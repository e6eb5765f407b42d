// Interpreter contexts: the current one is Minterp, each linked to the one before it. EXECUTE and
// CHAIN make and switch them; start-up runs the first; what a context leaves behind (its
// application, its value stack) is released here.
#pragma once

#include "code.h"
#include "interp.h"

struct Application_t;

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

// Empties the current value stack and forgets the call depth and pending call (CHAIN).
void release_context_stack();
