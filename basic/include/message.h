// Error calls. Abort never returns: it reports and ends the process (the run-time), or throws
// (the test host of the library tests).
#pragma once

#include <glib.h>

[[noreturn]] void Abort(const char *format, ...) G_GNUC_PRINTF(1, 2);
