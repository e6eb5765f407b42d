// The typed input field: a single-line GtkText whose input type fixes which characters may be
// typed, how the whole value is checked on Enter and, for numbers, how the value shows while the
// field does not have the focus (thousands commas, fixed decimals, the sign before or after).
//
// Input types, after IGINPUT_NEW has normalised them (an n or m type with no digit after its
// letter gets a "0"): a (alphabetic), c (alphabetic or digit), s (printable, not a backslash), p (as
// s, the whole value matched by a POSIX extended regular expression), each optionally followed by
// u (typed letters upper-cased); n[,][+]D and m[+]D numbers, D the decimals character (a digit,
// or b or - for none), "," thousands commas (m always has them), "+" positive only; and any n
// type holding b or - after its letter. Characters are whole UTF-8 characters judged by GLib's
// Unicode classes; lengths count characters. The note field shares the checks and the first six fields of the record.
#pragma once

#include <gtk/gtk.h>
#include <string>
#include <string_view>

#include "forms.h"

struct Stack;

inline constexpr int CM_INPUT_TYPE_SIZE_A = 10;  // 9 characters, blank-filled, and the terminator

// The field record (kind CM_FIELD_TYPE_GINPUT, internal code 101), owned by its attachment. The
// first six fields are laid out as the note's record, so one finder serves both.
struct input_data {
    int type;
    int min_length;
    int max_length;                          // characters; the width of number formatting
    char input_type[CM_INPUT_TYPE_SIZE_A];   // left-justified, blank-filled to 9
    char *mask;                              // g_malloc; "" when none
    char *message;                           // the mask's message, g_malloc; "" when none
    GtkWidget *entry;                        // the GtkText
};

// ---- Input types and characters (no display needed) --------------------------------------------------

// The type IGINPUT_NEW keeps: trailing blanks dropped, an n or m type with no digit after its
// letter completed with "0".
std::string ginput_normalise_type(std::string_view type);
// Whether a normalised type is one of the accepted types.
bool ginput_type_valid(std::string_view type);
// Whether one character may be typed at position (0 = the beginning of the text) in a field of
// the type. A type of 16 characters or more ends the run ("Invalid Input Type: '%s'"), and so does
// a type letter other than a, c, m, n, p, s ("ginput_is_valid_char: Invald input type: %s").
bool ginput_is_valid_char(std::string_view type, gunichar c, int position);
// c upper-cased when the type's letter is a, c, p or s and its second character is u; else c.
gunichar ginput_convert_toupper(gunichar c, std::string_view type);

// What the insert filter makes of text inserted at a character position of the field's current
// text: the text to insert (upper-cased for u types), or refused (the bell rings), or dropped (a
// single blank typed into an empty number field: nothing happens).
struct InputInsert {
    enum Outcome { accepted, refused, dropped } outcome;
    std::string text;
};
InputInsert ginput_filter_insert(std::string_view type, std::string_view current, std::string_view inserted,
                                 int position);

// ---- Whole values (no display needed) -----------------------------------------------------------

// The Enter check of a value: empty when it passes, else the message to show. required: a
// value shorter than the minimum is refused even when empty. For type p the value must match mask
// (an empty value always does) unless forgive_mismatch (F3 is being handled); a mask that does not
// compile ends the run ("ginput_match: Error in compiling regular expression: %s"). A type letter
// without a check ends the run ("Invalid input validation type: %s").
std::string ginput_value_message(std::string_view type, std::string_view value, int min_length, bool required,
                                 const char *mask, const char *mask_message, bool forgive_mismatch);
// The text without its thousands commas: "-" first when it holds a minus sign anywhere, leading
// white space skipped, every comma and minus sign dropped, ending at the first white space after.
std::string ginput_remove_commas(std::string_view text);
// A number's text in display form for a field of the type, width characters wide (see the .cpp
// for the rules). A value longer than the width is reported to the maker's support address and
// formatted all the same; a number of decimals outside 0..9 ends the run.
std::string ginput_format_numeric(std::string_view value, int width, std::string_view type);
// The display form of a number field's text on leaving it: blanks and leading zeros trimmed,
// commas removed, then formatted into width characters.
std::string ginput_add_commas1(std::string_view text, int width, std::string_view type);

// The input validation the note field uses: the text (its length bytes) checked by the first
// letter of the type as the input field checks a value that is not required (with minimum, and
// for p with pattern and its message); with show set a refusal is shown in a warning dialog.
// 1 when valid, else 0.
int ginput_validate_input(const char *text, GlobalData_t *gd, int show, int minimum, int length, const char *type,
                          const char *pattern, const char *pattern_message);

// ---- The field -----------------------------------------------------------------------------------------

// Enter validation: true when the entry's value passes its field's checks; otherwise shows why
// (a warning dialog) and answers false.
gboolean ginput_val_return_press(GtkWidget *entry, GlobalData_t *gd);
// Editing begins and ends: a number field's text loses its commas, and is formatted for display.
void ginput_from_commas(GtkWidget *entry, ControlMatrix_t *cm, int index);
void ginput_to_commas(GtkWidget *entry, ControlMatrix_t *cm, int index);
// Replaces the entry's text (a GtkText or GtkEntry) without running the insert filter.
void ginput_write_text(GtkWidget *entry, GlobalData_t *gd, const char *text);
// The "activate" of input and date entries (connected as the signal's handler): the Enter handler
// as for the keypad Enter key, then the end of the event when it took the key.
void ginput_on_activate(GtkWidget *entry, gpointer gd);
// The right-mouse edit menu of an input field (or the focused note field) at index: for button 3
// it pops up and the answer is true; any other button answers false.
gboolean ginput_right_mouse_menu(ControlMatrix_t *cm, int index, GtkWidget *entry, int button);

// The rows of the input kind in the forms engine's and the widgets' tables.
void ginput_register_kind();

// IGINPUT_NEW
void iginput_new(int nargs, int last, Stack *result);
