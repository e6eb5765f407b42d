// Notes and multi-line texts in print: a report field longer than its place prints its first line
// where it stands and hands the rest, one line at a time, to the report lines that follow (at the
// same position, in the same style) until it is used up, or to flush lines of the page writer.
// Notes are cut into print lines by the note print conversion, multi-line texts by its line
// cutter.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "note_print.h"
#include "print_state.h"

// A multi-line text being printed across lines, in the state's list in order of creation. Every
// remaining print line has a segment in lines and a piece in text, in the same order.
struct PrintMultiLine_t {
    FormatValue_t *lines;  // one segment per remaining print line
    std::string text;      // the remaining pieces, each followed by a NUL
    int number;            // the state's multi-line count when it began
    int completion;        // the tag's multi-line-completion
    PrintMultiLine_t *next, *prior;
};

// Begins a note field at segment: the first piece of the note's first print line; a second piece
// (an amount column) goes to second_part with a segment for it after segment. A note already
// printing with the same text ends the run unless note_flag is set (a line rendered again).
std::string postscript_convert_note(std::string &second_part, PrintState_t *state, FormatValue_t *segment,
                                    std::string note_text, int screen, int note_flag);
// Begins a multi-line field at segment and returns its first piece (note_flag has no effect).
std::string postscript_convert_multi_line(PrintState_t *state, FormatValue_t *segment, std::string text, int screen,
                                          int note_flag);
// Cuts the record's text into pieces of the field's wrap width, with a segment for each.
void ps_multiline_convert2print(PrintMultiLine_t *record, const FormatValue_t *segment, int screen);

// The line text with the next line of every note and then of every multi-line text appended, their
// segments appended after first's last; *total becomes the text's length + 1. A heading line takes
// none (heading non-zero).
std::string postscript_notes_get_line(int *total, FormatValue_t *first, std::string_view text, PrintState_t *state,
                                      int heading);
// The multi-line part of it; *total must be text's length + 1.
std::string postscript_multi_line_get_line(int *total, FormatValue_t *first, std::string text, PrintState_t *state);
// Drops the line just printed from every note and multi-line text and frees those used up.
void postscript_notes_free_line(PrintState_t *state);
void postscript_multi_line_free_line(PrintState_t *state);
// The same for the multi-line texts numbered above count only (those a heading line began: a
// heading line takes no continuation lines).
void postscript_multi_line_free_line_since(PrintState_t *state, int count);
// Frees every note and multi-line text still pending (a state that is given up).
void postscript_notes_free_all(PrintState_t *state);
// Forgets the notes after last (all when it is null) and the multi-line texts numbered above
// count: what a rendering began, before the line is rendered again.
void postscript_notes_forget_since(PrintState_t *state, const PrintNote_t *last, int count);

// Whether pending notes (or multi-line texts) must be flushed before the line whose format the
// state holds: completion was asked for and the line carries no note (multi-line) field itself.
int pswrite_do_clear_note(const PrintState_t *state, int clear);
int pswrite_do_clear_multi_line(const PrintState_t *state, int clear);
// The note flush the report and the drill window share: when forced or when completion was asked
// for, prints the pending lines of notes and multi-line texts by themselves, each through an empty
// line that write_flush_line puts through the caller's own write step, at the flush spacing.
void pswrite_flush_pending(PrintState_t *state, int forced, const std::function<void()> &write_flush_line);
