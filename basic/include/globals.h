// What the shared library reads from and calls in whichever program hosts it.
// The host (lumba_run, or the test host) defines every name declared here.
#pragma once

#include "enum_codes.h"
#include "message.h"

struct Routine;

extern RunPhase phase;          // which host the library serves, and what it is doing
extern int yylineno;            // code position kept up to date by the executor
extern int quiet;               // no listings while writing sections
extern Routine *routines;       // the current application's routine table
extern int cur_loaded_routine;  // index of the last routine loaded, -1 when none
extern char *obj_ptr;           // next byte of the object buffer
extern char *obj_end;           // end of the filled part of the object buffer

// Reads the next block of the object file into the buffer: 0, or -1 at its end.
int Load_buffer();
// Memory-tracking hook, called for every string the library copies; records nothing here.
void mlog_mem_save(int kind, const void *block);
