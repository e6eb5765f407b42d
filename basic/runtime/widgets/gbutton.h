// Plain buttons and clickable boxes that programs put on forms: a button click acts as the Enter
// key on that button; a clickable box hands its clicks and keys to the forms engine.
#pragma once

#include <gtk/gtk.h>

struct Stack;

// A button's "clicked": the forms engine's Enter road for the button, as if Return had been
// pressed on it, and the end of the event when Enter took it. User data: global_data.
void gbutton_activate_event(GtkButton *button, gpointer gd);

// ---- Intrinsics -------------------------------------------------------------------------------------------
void igbutton_new(int nargs, int last, Stack *result);        // IGBUTTON_NEW
void igbutton_new_empty(int nargs, int last, Stack *result);  // IGBUTTON_NEW_EMPTY
void igbutton_add_label(int nargs, int last);                 // IGBUTTON_ADD_LABEL
void igebox_new(int nargs, int last, Stack *result);          // IGEBOX_NEW
void igebox_add_label(int nargs, int last);                   // IGEBOX_ADD_LABEL
