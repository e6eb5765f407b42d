// The host hooks liblumba-common expects of a program that uses it without reading object files
// through it: the object-file tools (zasm, zdis) and the benchmarks. Such a program never meets
// Load_buffer's end of input; a fatal error is printed and ends the program with status 1.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "globals.h"

int Load_buffer()
{
    return -1;
}

void Abort(const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    std::vfprintf(stderr, format, ap);
    va_end(ap);
    std::fputc('\n', stderr);
    std::exit(1);
}

void assertion_failed(const char *file, int line, const char *condition)
{
    Abort("Program assertion failed in %s@%d: %s", file, line, condition);
}
