// Stand-ins for the system-call and run-time error reports until the error-report code lands:
// both end the run through Abort.
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>

#include <glib.h>

#include "message.h"

int have_abort;

namespace {

std::string format_text(const char *format, std::va_list ap)
{
    char *text = g_strdup_vprintf(format, ap);
    std::string s(text);
    g_free(text);
    return s;
}

} // namespace

void Syserr(const char *format, ...)
{
    int err = errno;
    std::va_list ap;
    va_start(ap, format);
    std::string text = format_text(format, ap);
    va_end(ap);
    Abort("%s: %s", text.c_str(), std::strerror(err));
}

void Xerror(int, const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    std::string text = format_text(format, ap);
    va_end(ap);
    Abort("%s", text.c_str());
}
