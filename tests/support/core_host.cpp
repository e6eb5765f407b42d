// Error calls for tests of the interpreter core: they throw lumba_test::AbortError with the text
// the run-time would report, so a test can assert exact messages and go on.
//
// The core library has its own definitions of these calls; core tests link with
// --allow-multiple-definition so that these, linked first, are the ones every caller (the core
// library and the shared library alike) reaches.
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>

#include <glib.h>

#include "message.h"
#include "test_host.h"

namespace {

std::string format_text(const char *format, std::va_list ap)
{
    char *text = g_strdup_vprintf(format, ap);
    std::string s(text);
    g_free(text);
    return s;
}

} // namespace

void Abort(const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    std::string text = format_text(format, ap);
    va_end(ap);
    throw lumba_test::AbortError(text);
}

void Syserr(const char *format, ...)
{
    int err = errno;
    std::va_list ap;
    va_start(ap, format);
    std::string text = format_text(format, ap);
    va_end(ap);
    throw lumba_test::AbortError(text + ": " + std::strerror(err));
}

void Xerror(int, const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    std::string text = format_text(format, ap);
    va_end(ap);
    throw lumba_test::AbortError(text);
}
