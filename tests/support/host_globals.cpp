// The host globals liblumba-common reads, for the programs that host it outside the run-time:
// the library tests (test_host.cpp), the object-file tools and the benchmarks (tool_host.cpp).
// They serve an executing program whose object file is read, if at all, through Load_buffer.
#include "globals.h"

RunPhase phase = executing;
int yylineno;
int quiet = 1;
Routine *routines;
int cur_loaded_routine = -1;
char *obj_ptr;
char *obj_end;

void mlog_mem_save(int, const void *) {}
