// Error calls. Abort never returns: it reports and ends the process (the run-time), or throws
// (the test host of the library tests).
#pragma once

#include <glib.h>

[[noreturn]] void Abort(const char *format, ...) G_GNUC_PRINTF(1, 2);
// A failed system call: the message, ": " and the text of errno.
[[noreturn]] void Syserr(const char *format, ...) G_GNUC_PRINTF(1, 2);
// A run-time error with its code.
[[noreturn]] void Xerror(int code, const char *format, ...) G_GNUC_PRINTF(2, 3);

extern int have_abort;  // 1 once a fatal report has started
