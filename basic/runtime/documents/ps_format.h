// printf-style formatting for the PostScript and drill mark-up the renderers write. Every number
// goes out in the C notation whatever the process's locale: a report made under a locale with a
// decimal comma must still be PostScript ("12.50 n", not "12,50 n").
#pragma once

#include <cstdarg>
#include <string>

#include <glib.h>

// Appends the formatted text to out.
void ps_append(std::string &out, const char *format, ...) G_GNUC_PRINTF(2, 3);
// Appends value with that many decimals ("%0.2f") or an integer: the renderers' hot path, without
// a format to interpret.
void ps_fixed(std::string &out, double value, int decimals);
void ps_integer(std::string &out, int value);
// The formatted text.
std::string ps_format(const char *format, ...) G_GNUC_PRINTF(1, 2);
