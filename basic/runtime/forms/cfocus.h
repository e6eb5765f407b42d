// Focus and Tab order of a form: the three walks over the Tab Sequence Types (Tab, Back-Tab and
// the next-field rule after Enter and other keys) with the AnyChange field's place in the order,
// the Pre_Focus routines of the fields Tab passes, the giving of the focus to a field's widget
// with scrolling into view, the presenting of the newest window, the consistency check a form
// gets at its first ICSET_FOCUS (or ICCLEAR), and ICSET_FOCUS itself.
//
// Without a window system (background mode) the walks, checks and routines run as ever and the
// focus is recorded; no widget is touched or required.
#pragma once

#include "forms.h"

// ---- Small questions -----------------------------------------------------------------------------
int cmat_max_fields(const ControlMatrix_t *cm);
// The highest prompt number (0 when no field has one).
int cmat_max_prompts(const ControlMatrix_t *cm);
// Gives the focus to the AnyChange field and returns its index; none: the current focus, unchanged.
int cmat_set_focus_anychange(ControlMatrix_t *cm);
// Empties the AnyChange field's text and returns its index; none: the current focus.
int cmat_clear_anychange(ControlMatrix_t *cm);

// ---- The walks ------------------------------------------------------------------------------------
// The Tab target from field `from` (0: none yet), running the Pre_Focus routines of the Enabled
// type-5 fields it passes in add mode; the focus stays where it is. With nothing to stop at the
// answer is `from`.
int cmat_get_focus_on_tab(ControlMatrix_t *cm, int from);
// The same, then the target gets the focus; returns it.
int cmat_set_focus_on_tab(ControlMatrix_t *cm, int from);
// The Back-Tab twins (no routines run); the third argument of the setter is not used.
int cmat_get_focus_on_left_tab(ControlMatrix_t *cm, int from);
int cmat_set_focus_on_left_tab(ControlMatrix_t *cm, int from, int unused);
// The next-field rule: in add mode the next Enabled key, required or standard field (running
// passed type-5 Pre_Focus routines), in any-change mode the AnyChange field. The target gets the
// focus; returns it. With nothing to stop at: the last field, unless that is a table, in which
// case the focus stays on `from`.
int cmat_set_focus_next(ControlMatrix_t *cm, int from);
// Runs the Pre_Focus routine of a field a walk passes; returns the field count afterwards.
int cfocus_invoke_pre_on_skip(ControlMatrix_t *cm, int index);

// ---- Giving the focus ---------------------------------------------------------------------------------
// Gives the keyboard focus to the widget of field index by its Widget Type, records it as the
// current focus and scrolls it into view.
void cmat_set_focus_index(ControlMatrix_t *cm, int index);
// Gives the keyboard back to the CM's focused field when GTK has given it to another widget (a
// clicked text takes it on the press, before the click is handled); nothing when it has it.
void cfocus_keyboard_back(ControlMatrix_t *cm);
// Brings field index into view in every scrolled window of the form that holds it.
void cfocus_set_scrolled_window(ControlMatrix_t *cm, int index);
// Moves adjustment so that position .. position + size is in its page, if it is not.
void scroll_to_view(GtkAdjustment *adjustment, double position, double size);
// Presents the newest CM's window, unless it was the last one presented, and gives its focused
// field the focus again.
void cfocus_window_present(ControlMatrix_t *cm);

// ---- The consistency check --------------------------------------------------------------------------
// Prompt numbers 1, 2, 3, ... in field order.
void cmat_val_prompts(ControlMatrix_t *cm);
// Prompts, Post_Focus without Pre_Focus, routines without a routine, prompts on fields that cannot
// have one, duplicate names, note and table fields' needs; a table entry that is no grid warns.
void cset_do_validation(ControlMatrix_t *cm);

// ---- Intrinsics -----------------------------------------------------------------------------------------
void cset_focus(int nargs, int last);  // ICSET_FOCUS
