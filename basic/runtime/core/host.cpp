// What the run-time defines for the shared library: its globals and hooks. Abort lives with the
// error reports (errors.cpp).
#include "globals.h"

RunPhase phase = initializing;
int yylineno;
int quiet;
Routine *routines;
int cur_loaded_routine = -1;
char *obj_ptr;
char *obj_end;

void mlog_mem_save(int, const void *) {}
