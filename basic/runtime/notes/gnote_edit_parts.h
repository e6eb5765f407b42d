// What the note edit window's own files share: gnote_edit.cpp, which builds the window, its views
// and its roads out, and its satellites gnote_edit_actions.cpp, gnote_edit_amounts.cpp,
// gnote_edit_keys.cpp, gnote_edit_tags.cpp and gnote_edit_views.cpp, each of which installs its
// own GTK handlers. Nothing else includes it but tests of the window's internals.
//
// The element list keeps byte offsets; the views count characters. Every conversion between the
// two happens in the window, where a view's text is read or written.
#pragma once

#include <cstdint>

#include "gnote_edit.h"

// ---- Building the window (gnote_edit.cpp) ---------------------------------------------------------------

// controller, named name for finding it again, added to widget; returns it.
GtkEventController *gnote_edit_add_controller(GtkEventController *controller, const char *name, GtkWidget *widget);
// Connects handler (with the note as its data) to the "activate" signal of the window's action
// called name, when the window has that action: some are there in Template mode only, some only
// outside it. The tool bar's buttons activate the same actions.
void gnote_edit_on_action(GActionMap *actions, const char *name, GCallback handler, NoteData_t *note);
// The widget an element shows in (a paragraph's view, an amount's input, a tag's label), or
// nullptr.
GtkWidget *gnote_element_widget(const NoteElement_t *element);

// Return and BackSpace change one or two paragraphs: their views change in place and every other
// view is kept, so that their cost does not grow with the note.
// The view's text and runs taken into the paragraph (modified set when they differ).
void gnote_take_paragraph(NoteElement_t *element);
// The paragraph's view shows the element's text and runs again.
void gnote_view_refill_paragraph(NoteElement_t *element);
// A view for element (with its spacer) placed after the view of the paragraph after.
void gnote_view_insert_paragraph_after(NoteData_t *note, NoteElement_t *after, NoteElement_t *element);
// The element's view and the spacer before it leave the views box.
void gnote_view_remove_paragraph(NoteData_t *note, NoteElement_t *element);
// The rebuild's end: element becomes the current one and takes the focus, the cursor or selection
// as gnote_redraw_note puts it, and is brought into sight.
void gnote_focus_element(NoteData_t *note, NoteElement_t *element, int from, int to);

// Takes the views back into the element list (after gnote_remove_sigs): the note's short text
// follows, and modified is set when the list changed.
void gnote_parse_text2XML(NoteData_t *note);

// The roads out: the note saved (F12, Save, Approve) or put back as it was opened (Escape, F8,
// Quit), the window closed and the field shown again. widget is one of the window's. Return 1.
int gnote_edit_button_press_save(GtkWidget *widget, guint keyval, NoteData_t *note);
int gnote_edit_button_press_cancel(GtkWidget *widget, guint keyval, NoteData_t *note);

// Byte offset of character offset chars in text, and back (clamped to the text).
int gnote_char_to_byte(const char *text, int chars);
int gnote_byte_to_char(const char *text, int bytes);

// ---- Actions (gnote_edit_actions.cpp) -------------------------------------------------------------------

// Bold, Italic, Underline, Delete Amount, Hidden comments and Approve on the window's actions.
void gnote_edit_actions_install(GActionMap *actions, NoteData_t *note);
// Deletes the current amount of the open edit window and shows the paragraph before it; returns 1.
// Nothing happens while the note's lock is held.
int delete_amount(NoteData_t *note);

// ---- Amounts (gnote_edit_amounts.cpp) -------------------------------------------------------------------

// Add Amount on the window's actions.
void gnote_edit_amounts_install(GActionMap *actions, NoteData_t *note);
// The note of the edit window under the window whose matrix is an edit-window intrinsic's first
// argument (a window a program opened over the edit window); any other matrix stops the run with
// the intrinsic's name.
NoteData_t *gnote_edit_window_note(int nargs, int last, const char *intrinsic);
// Rounds an amount half away from zero to the two decimals it is shown and written with.
void gnote_round_amount(dec_t *value);

// ---- Block tags and hidden comments (gnote_edit_tags.cpp) -----------------------------------------------

// Tag and Hidden comment (Template mode) on the window's actions.
void gnote_edit_tags_install(GActionMap *actions, NoteData_t *note);
// The elements that bound the selected block: the selected elements (else the current one) widened
// back to a paragraph and on over an amount that follows; or the two tags of one name that enclose
// those directly.
void gnote_tag_get_bounds(NoteData_t *note, NoteElement_t **first, NoteElement_t **last);

// ---- Keys (gnote_edit_keys.cpp) -------------------------------------------------------------------------

// The key controller of a paragraph's view or an amount's input (widget, the view or input of
// element), in the capture phase: the keys are decided before the widget's own bindings.
void gnote_edit_keys_install(GtkWidget *widget, NoteElement_t *element);
// The window's own key controller: keys that come before GTK counts the new window active go to
// the view or input with the window's focus.
void gnote_edit_keys_install_window(GtkWidget *window, NoteData_t *note);

// ---- Paragraph views and amount inputs (gnote_edit_views.cpp) -------------------------------------------
// A drag from one paragraph view released over another selects the block between them (in
// Template mode): the press marks the element, the release stamps it, and the pointer entering the
// other view within the selection window selects. The pointer entering an amount input selects
// from the pressed element (or the amount itself) on.

// The mouse, pointer and focus controllers of a paragraph's view or an amount's input (widget, the
// view or input of element).
void gnote_edit_views_install(GtkWidget *widget, NoteElement_t *element);

// The clock of the selection window: microseconds of a monotonic clock (g_get_monotonic_time)
// until a test installs another (nullptr puts it back). Returns the clock it replaces.
using NoteSelectClock = std::int64_t (*)();
NoteSelectClock gnote_set_select_clock(NoteSelectClock clock);
// Clears selected and the press and release marks of every element and gives every view and input
// its not-selected name.
void gnote_display_clear_release(NoteData_t *note);

// The amount whose input holds the keyboard focus is taken as leaving the input takes it; the save
// road ends the edit so, since it removes the handlers before any focus moves.
void gnote_take_edited_amount(NoteData_t *note);
// Recomputes total from the amounts (modified set when it changes) and replaces the total label.
void gnote_set_total_amount(NoteData_t *note);
// The amount's input shows its text without thousands commas, for editing.
void gnote_remove_commas(NoteElement_t *amount);

// Brings the element wholly into the scroller's sight with the smallest move (an amount with the
// paragraph before it, then itself); a widget in sight stays where it is. widget is the element's
// view or input. The widget is brought into sight again whenever the content's height changes
// (views still laying their text out), until another takes its place.
void gnote_do_scrolling(NoteElement_t *element, GtkWidget *widget);
// The same for the element's own view or input.
void gnote_do_scrolling(NoteElement_t *element);
