// What the run-time defines for the shared library: its globals and hooks.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "globals.h"

RunPhase phase = initializing;
int yylineno;
int quiet;
Routine *routines;
int cur_loaded_routine = -1;
char *obj_ptr;
char *obj_end;

void mlog_mem_save(int, const void *) {}

void Abort(const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    std::vfprintf(stderr, format, ap);
    va_end(ap);
    std::fputc('\n', stderr);
    std::exit(1);
}
