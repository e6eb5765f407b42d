// What follows a routine's true answer: the focus moves on to the next field by the Tab rules
// (with its Pre_Focus routine, a click's Activate routine, the move back onto a key field and the
// selection of the new field's text), or the window closes (its Exit routine and the parent's post
// routines up the chain); and ICDELETE_WINDOW, which asks for the close.
#pragma once

#include <gtk/gtk.h>

#include "forms.h"

// ---- The focus moves on ---------------------------------------------------------------------------
// The focus moves on from field old after a routine answered (the step every accepting event ends
// with); clicked is the clicked field (0 for keys), keyval the key (0 for clicks); mode is not used;
// widget is the widget a click landed on (the item a toggle or radio field then chooses), nullptr
// for keys and posts.
void ccallback_set_focus_next_field(ControlMatrix_t *cm, int old, int answer, int mode, int clicked, guint keyval,
                                    int shift, GtkWidget *widget = nullptr);
// A click on field clicked: its Activate or Pre_Focus routine; back is the field to return to
// after a button. Answers the field that now has the focus, or -1 (closing, or none).
int ccallback_do_activate_on_focus(ControlMatrix_t *cm, GlobalData_t *gd, int clicked, int back);
// Moving back from field old onto key field new_index: 1 when it may go ahead (the form is cleared
// from the key field on and leaves its mode), 0 when refused.
int ccallback_do_revert(ControlMatrix_t *cm, int old, int new_index);
// Selects an input field's whole text, puts a date field's cursor first; other kinds nothing.
void ccallback_set_selection(ControlMatrix_t *cm, int index);

// ---- The window closes ---------------------------------------------------------------------------
// Closing a CM after the routine that marked it closing answered true: its Exit routine and its
// parent's post routine (and so on up the chain). Answers the CM to go on with: cm itself when it
// is not marked closing, nullptr for a windowless CM whose next is windowless too.
ControlMatrix_t *cdeletewin(ControlMatrix_t *cm, GlobalData_t *gd);
// The parent's Win_Post, Drill_Post or Zoom_Post routine with the post text, when run is set: a
// true answer closes the parent in turn. Answers the CM to go on with (parent when run is 0).
ControlMatrix_t *cinvoke_run_win_post(ControlMatrix_t *parent, const char *text, int run);
ControlMatrix_t *cinvoke_run_drill_post(ControlMatrix_t *parent, const char *text, int run);
ControlMatrix_t *cinvoke_run_zoom_post(ControlMatrix_t *parent, const char *text, int run);

void cdelete_window(int nargs, int last);  // ICDELETE_WINDOW
