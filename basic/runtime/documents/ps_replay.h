// Replaying a closed print buffer file into a PostScript report (IPSPRINT): the page layout that
// lays the write records out from the top of each page down, breaks pages above the footer,
// repeats the headings and prints the pending lines of notes and multi-line texts.
#pragma once

#include <string>

#include "print_state.h"

struct IList_t;
struct PrintHandle_t;

// The steps of one record each. psopen_ps returns the new state of the open record's fields
// (default format, margins, form, output name, colour flag, gutter flag).
PrintState_t *psopen_ps(const std::string &format, const std::string &margins, const std::string &form,
                        const std::string &name, const std::string &colour, const std::string &gutter);
void psheader_ps(PrintState_t *state, const std::string &text, const std::string &format, int new_page, int level,
                 int store_only, float keep_cm, float gap_cm);
void psfooter_ps(PrintState_t *state, const std::string &text, const std::string &format);
// A write record's line (clear 0), or a flush line of the note flush (clear 1).
void pswrite_ps(PrintState_t *state, const std::string &text, const std::string &format, float keep_cm, int clear);
// Ends the last page, closes the output file and frees the state.
void psclose_ps(PrintState_t *state);

// The report's note flush (pswrite_flush_pending through the report's write step).
void pswrite_clear_note(PrintState_t *state, int forced);

// Replays the handle's buffer file into its PostScript output file.
void psprint_replay(PrintHandle_t *handle);
// IPSPRINT (handle, result variable).
void ipsprint(int nargs, int last);
