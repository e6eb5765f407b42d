// The note field of a form: IGNOTE_NEW and its widget tree, the ways the field shows its note
// (nothing, the one-line input, the collapsed line, the expanded display), the hooks the forms
// engine calls (value, Enter check, before and after display, clear, the road into the editor),
// the one-line input's handlers and the +/- button; and the intrinsics that drive the field after
// IGNOTE_NEW.
//
// The field's record is the note model's NoteData_t. Its widgets live in the field's window and go
// with it; the record owns its element lists and its name.
#pragma once

#include <span>
#include <string>
#include <gtk/gtk.h>

#include "forms.h"
#include "intrinsic_dispatch.h"
#include "note_model.h"

struct Stack;

// Display states (display_state); the operational modes (mode) are the note model's.
inline constexpr int GNOTE_STATE_NONE = 0;
inline constexpr int GNOTE_STATE_INPUT = 1;
inline constexpr int GNOTE_STATE_COLLAPSED = 2;
inline constexpr int GNOTE_STATE_EXPANDED = 3;
inline constexpr int GNOTE_STATE_EDIT_WINDOW = 4;

// ---- The field ----------------------------------------------------------------------------------

void ignote_new(int nargs, int last, Stack *result);  // IGNOTE_NEW

// The collapse routine: settles the one-line display (also the redisplay after a load, a clear or
// the edit window).
void gnote_collapse_p(NoteData_t *note);
// The expand routine: takes the one-line input's text into the note, then shows the whole note
// when it has more than its short text.
void gnote_expand_p(NoteData_t *note);
// Builds the expanded display of the whole note.
void gnote_display_full_note(NoteData_t *note);
// The note's short text (the first line of its first paragraph, at most CM_GNOTE_TEXT_SIZE bytes,
// cut at a blank, which becomes a newline in the paragraph, or at a character boundary); sets
// has_more.
std::string gnote_get_short_note(NoteData_t *note);
// The same, kept in the record's short_text.
void gnote_set_short_note(NoteData_t *note);
// 1 when the note is only its short text: empty, or one paragraph without runs whose text equals
// short_text.
int gnote_only_short_text(const NoteData_t *note);

// The one-line input's text replaced (its insert and delete handlers not run), and a new mark-up
// label in the +/- button.
void gnote_set_input_text(NoteData_t *note, const char *text);
void gnote_set_activate_label(NoteData_t *note, const char *markup);

// Hooks of the forms engine.
void gnote_pre_display(NoteData_t *note, ControlMatrix_t *cm, GlobalData_t *gd);
void gnote_post_display(NoteData_t *note, ControlMatrix_t *cm, GlobalData_t *gd);
int gnote_val_return_press(NoteData_t *note, GlobalData_t *gd);
void gnote_clear(NoteData_t *note);

// Takes the one-line input's text into the note (its first paragraph).
void gnote_get_short_text(NoteData_t *note);
// The road into the edit window (key: 0, GDK_KEY_Page_Up or GDK_KEY_Page_Down; widget: the field's
// widget that was clicked, or nullptr).
void gnote_edit(ControlMatrix_t *cm, int index, guint key, GtkWidget *widget);
// Switches the field at index between its collapsed and expanded display.
void gnote_toggle_display(ControlMatrix_t *cm, int index);

// The +/- button and its handlers.
void gnote_create_activate_button(NoteData_t *note);
gboolean gnote_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode, GdkModifierType state,
                               gpointer gd);
void gnote_button_press_F9(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);

// The one-line input's handlers.
void gnote_input_insert_text(GtkEditable *editable, const char *text, int length, int *position, gpointer gd);
void gnote_input_delete_text(GtkEditable *editable, int start, int end, gpointer gd);
gboolean gnote_input_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode,
                                     GdkModifierType state, gpointer gd);
void gnote_input_focus_in_entry_event(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);

// Registers the note kind's rows with the forms engine and the widget intrinsics, and the note
// edit window with the field's operations it calls.
void gnote_register_kind();

// ---- The intrinsics --------------------------------------------------------------------------------

void ignote_print(int nargs, int last);                        // IGNOTE_PRINT
void ignote_get(int nargs, int last);                          // IGNOTE_GET
void ignote_is_window(int nargs, int last, Stack *result);     // IGNOTE_IS_WINDOW
void ignote_collapse(int nargs, int last);                     // IGNOTE_COLLAPSE
void ignote_expand(int nargs, int last);                       // IGNOTE_EXPAND
// The number of paragraphs (hidden paragraphs, amounts and tags not counted).
int gnote_count_paragraphs(const NoteData_t *note);
// The rows of IGNOTE_NEW and the intrinsics above.
std::span<const IntrinsicRow> gnote_field_intrinsics();
