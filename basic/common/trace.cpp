// The trace ring: the last 100 entries and exits of forms and widget functions.
#include <cstdio>

#include "mem_mgt.h"

char trace_log[TRACE_SIZE][TRACE_LINE];
int p_trace;
char trace_path[TRACE_DEPTH];
int trace_level;

namespace {

void trace_write(const char *kind, const char *what, const char *file, int line)
{
    std::snprintf(trace_log[p_trace], TRACE_LINE, " --TRACE %s%s %s -- %s:%d", trace_path, kind, what, file,
                  line);
    p_trace = (p_trace + 1) % TRACE_SIZE;
}

} // namespace

void trace_in(const char *func, const char *file, int line)
{
    // The path stays terminated: its last byte is never written.
    trace_path[trace_level] = '-';
    if (trace_level < TRACE_DEPTH - 1) ++trace_level;
    trace_path[trace_level] = '\0';
    trace_write("IN:", func, file, line);
}

void trace_out(const char *func, const char *file, int line)
{
    trace_write("OUT", func, file, line);
    if (trace_level > 0) --trace_level;
    trace_path[trace_level] = '\0';
}

void trace_mark(const char *text, const char *file, int line)
{
    trace_write("MARK", text, file, line);
}
