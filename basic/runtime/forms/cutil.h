// Small helpers used across the forms engine and the widgets: bounded formatting that stops the
// run rather than cut a text, and the character a key press types.
#pragma once

#include <cstdarg>
#include <glib.h>

// Formats into buffer, which holds size bytes with the terminator, and returns the length. A
// format error stops the run ("cutil_sprintf format error encountered"), and so does a text that
// does not fit ("cutil_sprintf buffer overflow"); a size below 1 fits nothing.
int cutil_sprintf(char *buffer, int size, const char *format, ...) G_GNUC_PRINTF(3, 4);
// The same for a value list; a text that does not fit stops with "cutil_sprintf buffer overflow(2)".
int cutil_vpsprintf(char *buffer, int size, const char *format, std::va_list ap);

// The character a key press types: printable ASCII as itself, the keypad's operators, point and
// digits as their characters; 10 (no character) for every other key and for any key held with
// Control, Alt, Meta or Hyper. Shift, Caps Lock, Num Lock, Super and bits GDK does not name are
// ignored.
int cutil_conv_eventkey_to_char(unsigned keyval, unsigned state);
