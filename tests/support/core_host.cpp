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
#include <vector>

#include <glib.h>

#include "executor.h"
#include "message.h"
#include "run_time.h"
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

// A trappable error does what the run-time's does without the report: it records the code and
// the exit status and unwinds to the executor's error return. Every other code ends the run.
void Xerror(int code, const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    std::string text = format_text(format, ap);
    va_end(ap);
    if (code != TRAPPABLE_ERROR) throw lumba_test::AbortError(text);
    ERR_REG = code;
    ++n_errors;
    lumba_test::trapped_errors().push_back(text);
    if (ContextRunning() && !ErrorTrapArmed()) SetContextExitStatus(1);
    error_vector_clear();
    error_vector_add(text.c_str());
    throw BailOut{};
}

// Mailed reports are recorded, not sent.
void Email(const char *, const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    lumba_test::mailed().push_back(format_text(format, ap));
    va_end(ap);
}

std::vector<std::string> &lumba_test::trapped_errors()
{
    static std::vector<std::string> v;
    return v;
}

std::vector<std::string> &lumba_test::mailed()
{
    static std::vector<std::string> v;
    return v;
}
