// Rendering one report line, whose format the state holds as segments, as PostScript for the
// report file or as the mark-up of one row of the drill window, with the helpers both use.
#pragma once

#include <string>
#include <string_view>

#include "print_state.h"

// Renders text as PostScript into out (emptied first) and returns the line's font size in points.
// heading: a heading line, which takes no continuation lines of notes and multi-line texts.
// note: a second rendering of the line, where a note the first began is taken up again.
int postscript_apply_format_to_print_line(std::string &out, std::string_view text, PrintState_t *state, int heading,
                                          int note);
// Renders text as the drill window's row mark-up into out (emptied first).
void postscript_apply_format_to_display_line(std::string &out, std::string_view text, PrintState_t *state);

// The text cut to the segment's length when it is above 0.1 cm (at a line feed, or where the
// characters' widths at the segment's print size fill it); without such a length the whole text.
std::string postscript_truncate(std::string_view text, const FormatValue_t *segment);
// The truncated text without white space at either end.
std::string postscript_trim_space(std::string_view text, const FormatValue_t *segment);
// The body of a PostScript string: leading white space dropped, '\', '(' and ')' escaped, a TAB
// as four blanks, UTF-8 text as ISO Latin-1 ('?' for a character outside it, or a broken one).
std::string postscript_escape(std::string_view text);
// Appends the colour command of a 0xRRGGBB colour to out and returns the colour.
int postscript_print_colour(std::string &out, int colour);
// text with the local time appended in the strftime format, at most room - 1 characters of it.
std::string postscript_convert_ts_format(std::string text, int room, const char *format);
