// Labels on a form: a plain GtkLabel, or a label field registered in the control matrix under a
// field index, whose record remembers a format type for numbers printed into it (IGPRINT) and
// which, when asked, answers clicks and keys like other fields. A label field's text is Pango
// mark-up cleaned first, so that only simple inline tags reach the toolkit; IGLABEL_SIMPLE_NEW
// takes its mark-up as it is. Mark-up the toolkit still refuses shows as plain text.
#pragma once

#include <gtk/gtk.h>
#include <string_view>

#include "forms.h"

struct Stack;

inline constexpr int CM_LABEL_TYPE_SIZE = 10;  // 9 characters and the terminator

// The field record (kind CM_FIELD_TYPE_GLABEL, internal code 107), owned by its attachment.
struct clabel_data {
    int type;
    ControlMatrix_t *cm;
    int index;                                // kept equal to the attachment's by the forms engine
    char format_type[CM_LABEL_TYPE_SIZE];     // "" when none
    GtkWidget *frame;                         // placed instead of the label when set; none here
    GtkWidget *label;
    int clickable;                            // 1 when the label takes clicks and keys
};

// Cleans mark-up in place: "<" starting one of the simple tags b, big, i, s, small, span, sub,
// sup, tt, u (either case, opening or closing) keeps the tag; any other tag is dropped, a closing
// p or a br tag leaving a line break in its place.
void sanitise_markup(char *text);
// Whether a text is a label format type: empty, or m, md, m+, m+d, n, nd, n+, n+d, n+,, n+,d, n,,
// n,d (d a digit).
bool glabel_format_valid(std::string_view format);

// Empties the label of a label field's record.
void glabel_clear(void *record);

// The rows of the label kind in the forms engine's and the widgets' tables.
void glabel_register_kind();

// ---- Intrinsics -------------------------------------------------------------------------------------------
void iglabel_new(int nargs, int last, Stack *result);         // IGLABEL_NEW
void iglabel_simple_new(int nargs, int last, Stack *result);  // IGLABEL_SIMPLE_NEW
void iglabel_setup(int nargs, int last);                      // IGLABEL_SETUP
