// The check box field: a GtkCheckButton whose state ("active": 1 checked, 0 not) a change by the
// user hands to the routine attached for Change_Content as IP; the program reads and sets the
// state (setting runs no routine), and the forms engine clears and flips it.
#pragma once

#include <gtk/gtk.h>

#include "forms.h"

struct Stack;

// The field record (kind CM_FIELD_TYPE_GCHECKBOX, internal code 105), owned by its attachment.
struct checkbox_data {
    int type;
    GtkWidget *outer;  // what containers pack and names go to: the check button itself when the
                       // field was made with the background-colour flag, else nullptr
    GtkWidget *check;  // the GtkCheckButton
};

// Unchecks the box without running Change_Content (the record must be a check box's).
void gcheckbox_clear(void *record);
// Flips the box of field index so that Change_Content runs as for a click.
void gcheckbox_toggle(ControlMatrix_t *cm, int index);

// The rows of the check box kind in the forms engine's and the widgets' tables.
void gcheckbox_register_kind();

// ---- Intrinsics -------------------------------------------------------------------------------------------
void igcheckbox_new(int nargs, int last, Stack *result);  // IGCHECKBOX_NEW
void igcheckbox_get(int nargs, int last, Stack *result);  // IGCHECKBOX_GET
void igcheckbox_set(int nargs, int last);                 // IGCHECKBOX_SET
