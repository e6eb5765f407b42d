// A PostScript report's page set-up: margins and form, the prolog of procedures the lines call,
// the date comment, and the headings of each level (0 the page heading, -1 the footer): how they
// are saved, measured and written, or handed to the drill window's lists.
#pragma once

#include <string>

#include "print_state.h"

struct IList_t;

// Points in a centimetre (72 / 2.54).
inline constexpr double POINTS_PER_CM = 28.346456693;

// Sets margins (up to four comma-separated figures in cm: left, top, right, bottom; a figure out of
// (0.01, 300.1) keeps its default), the form ("A4", "a3l", "A4P", blank for A4 portrait),
// orientation, page height and current y. Faults end the run.
void postscript_set_margins_form(PrintState_t *state, const char *margins, const char *form);
// The date comment line ("% Date:   ...", line feed included).
std::string postscript_get_timestamp();
// The prolog: the procedures every page calls.
void postscript_initialise_prolog(std::FILE *output);
// The prolog's text.
std::string postscript_prolog_text();

// Saves (or replaces) the heading of level and returns its height in points.
float postscript_save_header(PrintState_t *state, int level, const char *text, const char *format);
// 1.15 × the sum of the font sizes of the heading's lines.
float postscript_get_heading_size(const PrintHeader_t *heading, PrintState_t *state, const char *format,
                                  const char *text);
// Drops every heading of a level above level.
void postscript_cut_header(PrintState_t *state, int level);
// Writes the saved heading of level (or appends its lines to the drill lists when drill is
// non-zero); 0 when there is none.
int postscript_print_heading(PrintState_t *state, int level, int drill, IList_t *texts, IList_t *formats,
                             IList_t *values);
void postscript_do_heading_lines(PrintState_t *state, const char *text, const char *format, int level, int drill,
                                 IList_t *texts, IList_t *formats, IList_t *values);

// Writes one rendered line of size points at the next baseline: the first line of an empty page
// sits below the top margin (new_page), and the report's first line carries the first page's
// set-up (page size, margin, gutter and watermark procedures).
void postscript_place_line(PrintState_t *state, const std::string &line, int size, bool new_page);
// Writes text to the report, ending the run when the write fails.
void postscript_write(PrintState_t *state, const std::string &text);
