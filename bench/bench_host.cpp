// The host hooks liblumba-common expects of the program that loads it; a benchmark never
// triggers them, so they only report and stop.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "globals.h"

RunPhase phase = executing;
int yylineno;
int quiet = 1;
Routine *routines;
int cur_loaded_routine = -1;
char *obj_ptr;
char *obj_end;

int Load_buffer() { return -1; }

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
