#include "cutil.h"

#include <cstdio>

#include "message.h"

int cutil_sprintf(char *buffer, int size, const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    // Size 0 is the callers' promise that the buffer is large enough (statement builders).
    int n = size < 1 ? std::vsprintf(buffer, format, ap)
                     : std::vsnprintf(buffer, static_cast<std::size_t>(size), format, ap);
    va_end(ap);
    if (n < 0) Abort("cutil_sprintf format error encountered");
    if (size > 0 && n >= size) Abort("cutil_sprintf buffer overflow");
    return n;
}

int cutil_vpsprintf(char *buffer, int size, const char *format, std::va_list ap)
{
    int n = std::vsnprintf(buffer, static_cast<std::size_t>(size > 0 ? size : 0), format, ap);
    if (n < 0) Abort("cutil_sprintf format error encountered");
    if (n >= size) Abort("cutil_sprintf buffer overflow(2)");
    return n;
}
