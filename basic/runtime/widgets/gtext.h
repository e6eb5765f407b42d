// The text field: a multi-line, word-wrapped GtkTextView of fixed pixel size in a scrolled window,
// whose input type filters typed characters as the input field's does and may allow line breaks.
// Types: a letter a (alphabetic), c (alphabetic or digit), s (printable, not a backslash) or p
// (as s, with a mask and message that must be given), then nothing, u (typed letters upper-cased),
// r (line breaks allowed) or ur. Line ends are carriage returns in every value the program reads or
// writes and line feeds inside the widget.
#pragma once

#include <gtk/gtk.h>
#include <string>
#include <string_view>

#include "forms.h"

struct Stack;

inline constexpr int CM_TEXT_TYPE_SIZE = 11;  // 10 characters and the terminator

// The field record (kind CM_FIELD_TYPE_GTEXT, internal code 112), owned by its attachment.
struct text_data {
    int type;
    int min_chars;
    int max_chars;
    char input_type[CM_TEXT_TYPE_SIZE];
    char *mask;                  // g_malloc; "" when none
    char *message;               // g_malloc; "" when none
    GtkWidget *view;             // the GtkTextView
    GtkWidget *scrolled_window;  // around it
    GtkWidget *box;              // the vertical box holding the scrolled window: what is packed
    int index;                   // the field index, kept equal to the attachment's by the forms engine
};

// ---- Types and characters (no display needed) ------------------------------------------------------

// Whether a type is one of the accepted ones (a, au, ar, aur and the same for c, p and s).
bool gtext_type_valid(std::string_view type);
// Whether a character may be typed in a field of the type: a line feed only for types with r
// second or third. A type of 16 characters or more ends the run ("Invalid Input Type: '%s'"), and
// so does another letter ("gtext_is_valid_char: Invald input type").
bool gtext_is_valid_char(std::string_view type, gunichar c);
// The Enter check of a text in program form (carriage returns): empty when it passes, else the
// message to show.
std::string gtext_value_message(std::string_view type, std::string_view value, int min_chars, int max_chars,
                                bool required);

// ---- The field ------------------------------------------------------------------------------------------

// Enter validation: true when the text passes; false (after showing why, unless a character is
// refused) with the whole text selected.
gboolean gtext_val_return_press(text_data *record, GlobalData_t *gd);
// The whole text in program form (a new g_malloc text): line feeds turned into carriage returns.
char *gtext_get_text(const text_data *record);
// Replaces the text of the view, carriage returns turned into line feeds, without the filter.
void gtext_write_text(GtkWidget *view, text_data *record, const char *text);
// Writes the empty text.
void gtext_clear(text_data *record);

// The rows of the text kind in the forms engine's and the widgets' tables.
void gtext_register_kind();

// IGTEXT_NEW
void igtext_new(int nargs, int last, Stack *result);
