// Bounded formatting helpers of the forms engine.
#pragma once

#include <cstdarg>
#include <glib.h>

// Formats like sprintf when size is below 1, like snprintf otherwise; a format error or (with a
// size) a text that does not fit stops the run. Returns the number of characters written.
int cutil_sprintf(char *buffer, int size, const char *format, ...) G_GNUC_PRINTF(3, 4);
// Formats with the size bound; a format error or a text that does not fit stops the run.
int cutil_vpsprintf(char *buffer, int size, const char *format, std::va_list ap);
