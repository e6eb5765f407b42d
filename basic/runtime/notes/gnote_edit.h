// The note edit window: a modal window over the form's, with a control matrix of its own (type
// CM_WT_NOTE), a menu bar, a tool bar, a heading, one view per note element and the "FKN" soft
// keys; the road out through save and cancel; the keys of its paragraph views and amount inputs.
//
// The element list keeps byte offsets; the views count characters. Every conversion between the
// two happens here, where a view's text is read or written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include <glib.h>
#include <gtk/gtk.h>

#include "intrinsic_dispatch.h"
#include "note_model.h"

struct Stack;

// The note's try-lock, released on every way out.
class TryLock {
public:
    explicit TryLock(GMutex *m) : mutex_(m), taken_(g_mutex_trylock(m)) {}
    ~TryLock() { if (taken_) g_mutex_unlock(mutex_); }
    TryLock(const TryLock &) = delete;
    TryLock &operator=(const TryLock &) = delete;
    bool taken() const { return taken_; }
private:
    GMutex *mutex_;
    bool taken_;
};

// The longest paragraph the edit window takes, in bytes: a paragraph is one text view, which lays
// all its text out again on every key, and beyond this a key takes more than 20 ms (the note edit
// benchmark). A note with a longer paragraph is refused at the window's opening, with a message
// naming the limit.
inline constexpr int GNOTE_EDIT_PARAGRAPH_LIMIT = 10'000;
// The message of that refusal, for a paragraph of bytes.
std::string gnote_paragraph_limit_message(std::size_t bytes);

// ---- The views ----------------------------------------------------------------------------------------

// Builds one view per element into views_box and picks the focus widget.
void gnote_display_edit_note(NoteData_t *note);
void gnote_view_add_paragraph(NoteData_t *note, GtkWidget *box, NoteElement_t *element);
void gnote_view_add_amount(GtkWidget *box, NoteElement_t *element);
void gnote_view_add_tag(GtkWidget *box, NoteElement_t *element);
// Applies the runs of one kind ("bold", "italic", "underline") to the paragraph's buffer.
void gnote_apply_format_tag(NoteElement_t *element, const char *tag_name);
// Rebuilds every view and puts the focus into element: the cursor at character offset from (the
// end when negative), or the characters from..to selected (to negative: the end).
void gnote_redraw_note(NoteData_t *note, NoteElement_t *element, int from, int to);
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
// The widget an element shows in (a paragraph's view, an amount's input, a tag's label), or
// nullptr.
GtkWidget *gnote_element_widget(const NoteElement_t *element);
// The current element: the first with focus set, else the last.
NoteElement_t *gnote_get_current_focus(NoteData_t *note);
// Brings an element's own view or input into the scroller's sight (see below).
void gnote_do_scrolling(NoteElement_t *element);

// Takes the views back into the element list.
void gnote_get_screen_element(GtkWidget *widget, NoteData_t *note);
void gnote_parse_text2XML(NoteData_t *note);
// Removes the views' event controllers from element to the end of its list.
void gnote_remove_sigs(NoteElement_t *element);

// The edit-refusal check before a change of text: true when the field's Edit_Content routine
// refused it (modified is put back to 0 and the change is to be dropped).
bool gnote_edit_refused(NoteData_t *note, GdkModifierType state, guint keyval);

// Text that reached the field's one-line input while its edit window is open (the window's opening
// turns the main loop while the form still has the keyboard): it goes to the end of the paragraph
// the window's focus is in. False when no window shows a paragraph to take it.
bool gnote_edit_take_typed(NoteData_t *note, const char *text, int length);

// ---- The road out --------------------------------------------------------------------------------------

int gnote_edit_button_press_save(GtkWidget *widget, guint keyval, NoteData_t *note);
int gnote_edit_button_press_cancel(GtkWidget *widget, guint keyval, NoteData_t *note);
void on_gnote_new_destroy(GtkWidget *window, gpointer note);
// The edit window of a note record that is being freed goes first.
void gnote_edit_window_destroy(NoteData_t *note);
// Registers the note edit window's kind (save and cancel) with the forms engine.
void gnote_register_edit_window();

// ---- Actions -------------------------------------------------------------------------------------------

// Toggles the tag called name on the selection of a paragraph's buffer: a selection wholly inside
// one run loses it, any other becomes wholly tagged. element is the paragraph whose change checks
// are kept out of the toggle's own marker.
void gnote_format_text_tag(GtkTextBuffer *buffer, GtkTextTag *tag, const char *name, gpointer element);
// Bold, italic or underline on the selection of the current paragraph.
void gnote_format_text_bold(GtkWidget *, NoteData_t *note);
void gnote_format_text_italic(GtkWidget *, NoteData_t *note);
void gnote_format_text_underline(GtkWidget *, NoteData_t *note);
// The "activate" handlers of the actions and the "clicked" handlers of their tool-bar buttons.
void gnote_edit_edit_bold_event(GSimpleAction *, GVariant *, gpointer note);
void gnote_edit_edit_italic_event(GSimpleAction *, GVariant *, gpointer note);
void gnote_edit_edit_underline_event(GSimpleAction *, GVariant *, gpointer note);
void gnote_edit_edit_bold_button(GtkButton *, gpointer note);
void gnote_edit_edit_italic_button(GtkButton *, gpointer note);
void gnote_edit_edit_underline_button(GtkButton *, gpointer note);
// Deletes the current amount of the open edit window and shows the paragraph before it; returns 1.
// Nothing happens while the note's lock is held.
int delete_amount(NoteData_t *note);
void gnote_edit_del_amount_event(GSimpleAction *, GVariant *, gpointer note);
void gnote_edit_del_amount_button(GtkButton *, gpointer note);
// Shows or hides the hidden paragraphs' views (outside Template mode).
void gnote_edit_toggle_hide_visibility_event(GSimpleAction *, GVariant *, gpointer note);
void gnote_edit_toggle_hide_visibility_button(GtkButton *, gpointer note);
// Approve: the note marked approved and saved as F12 saves it.
int gnote_edit_approval_event(GtkWidget *window, NoteData_t *note);
void gnote_edit_edit_approve_event(GSimpleAction *, GVariant *, gpointer note);
void gnote_edit_edit_approve_button(GtkButton *, gpointer note);

// ---- The edit-window intrinsics ------------------------------------------------------------------------

// The note of the edit window under the window whose matrix is an edit-window intrinsic's first
// argument (a window a program opened over the edit window); any other matrix stops the run with
// the intrinsic's name.
NoteData_t *gnote_edit_window_note(int nargs, int last, const char *intrinsic);

// ---- Amounts -------------------------------------------------------------------------------------------

// Add Amount: in Template mode the form's Get_Note_Amount routine adds it (with
// IGNOTE_PRINT_AMOUNT); otherwise a nil amount goes after the current paragraph or amount.
void gnote_edit_amount_event(GtkWidget *, NoteData_t *note);
void gnote_edit_edit_amount_event(GSimpleAction *, GVariant *, gpointer note);
void gnote_edit_edit_amount_button(GtkButton *, gpointer note);
// Inserts an amount of these settings after the current paragraph (an empty paragraph keeping it
// apart from what follows where needed), or overwrites the current amount; the views are rebuilt
// with the amount's text selected. A current hidden paragraph or tag stands for the nearest
// paragraph before it; with none, nothing happens.
void gnote_add_amount_field(NoteData_t *note, const dec_t *value, int required, int next, int protect,
                            int orsecvalue, int orsec);
// Rounds an amount half away from zero to the two decimals it is shown and written with.
void gnote_round_amount(dec_t *value);
// IGNOTE_GET_AMOUNT, IGNOTE_PRINT_AMOUNT and IGNOTE_DELETE_AMOUNT, on the matrix of a window
// opened over the note edit window.
void ignote_get_amount(int nargs, int last, Stack *result);
void ignote_print_amount(int nargs, int last);
void ignote_delete_amount(int nargs, int last);
// Their rows, for the dispatchers.
std::span<const IntrinsicRow> gnote_amount_intrinsics();

// ---- Block tags and hidden comments --------------------------------------------------------------------

// The elements that bound the selected block: the selected elements (else the current one) widened
// back to a paragraph and on over an amount that follows; or the two tags of one name that enclose
// those directly.
void gnote_tag_get_bounds(NoteData_t *note, NoteElement_t **first, NoteElement_t **last);
// Tag (Template mode only): the program's Get_Note_Block_Tag routine, at index 0 of the form's
// matrix, reads, sets or removes the block tag through the block-tag intrinsics.
void gnote_edit_tag_event(GtkWidget *, GtkWidget *, NoteData_t *note);
void gnote_edit_edit_tag_event(GSimpleAction *, GVariant *, gpointer note);
void gnote_edit_edit_tag_button(GtkButton *, gpointer note);
// Hidden comment: the current paragraph becomes a hidden paragraph, or a hidden one a paragraph.
void gnote_format_text_toggle_hide(GtkWidget *, NoteData_t *note);
void gnote_edit_toggle_hide_event(GSimpleAction *, GVariant *, gpointer note);
void gnote_edit_toggle_hide_button(GtkButton *, gpointer note);
// IGNOTE_GET_BLOCK_TAG, IGNOTE_PRINT_BLOCK_TAG, IGNOTE_DELETE_BLOCK_TAG: on the note of the edit
// window under the window whose matrix is the first argument.
void ignote_get_block_tag(int nargs, int last, Stack *result);
void ignote_print_block_tag(int nargs, int last, Stack *result);
void ignote_delete_block_tag(int nargs, int last, Stack *result);
// Their rows for the dispatchers.
std::span<const IntrinsicRow> gnote_edit_tag_intrinsics();

// ---- Paragraph views and amount inputs -----------------------------------------------------------------
// Their handlers receive the element of their widget. A drag from one paragraph view released over
// another selects the block between them (in Template mode): the press marks the element, the
// release stamps it, and the pointer entering the other view within the selection window selects.
// The pointer entering an amount input selects from the pressed element (or the amount itself) on.

// The clock of the selection window: microseconds of a monotonic clock (g_get_monotonic_time)
// until a test installs another (nullptr puts it back). Returns the clock it replaces.
using NoteSelectClock = std::int64_t (*)();
NoteSelectClock gnote_set_select_clock(NoteSelectClock clock);

void gnote_textview_button_press_event(GtkGestureClick *gesture, int n_press, double x, double y, gpointer element);
void gnote_textview_button_release_event(GtkGestureClick *gesture, int n_press, double x, double y,
                                         gpointer element);
void gnote_textview_focus_in_event(GtkEventControllerFocus *controller, gpointer element);
void gnote_textview_focus_out_event(GtkEventControllerFocus *controller, gpointer element);
void gnote_textview_enter_notify_event(GtkEventControllerMotion *controller, double x, double y, gpointer element);
void gnote_input_focus_in_event(GtkEventControllerFocus *controller, gpointer element);
void gnote_input_focus_out_event(GtkEventControllerFocus *controller, gpointer element);
void gnote_input_enter_notify_event(GtkEventControllerMotion *controller, double x, double y, gpointer element);

// Clears selected and the press and release marks of every element and gives every view and input
// its not-selected name.
void gnote_display_clear_release(NoteData_t *note);
// 1 when the pointer entered entered (now) within the selection window after the release on
// pressed, else 0; stamps entered with the time.
int gnote_compare_select_time(NoteElement_t *entered, NoteElement_t *pressed);
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

// ---- Keys ------------------------------------------------------------------------------------------------

gboolean gnote_edit_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode,
                                    GdkModifierType state, gpointer element);
gboolean gnote_edit_am_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode,
                                       GdkModifierType state, gpointer element);
// Runs and extra positions at or after byte position move from first to second (shifted).
void gnote_split_paragraph_format(NoteElement_t *first, NoteElement_t *second, int position);
// The runs and extra positions of second join first's, shifted by the byte offset.
void gnote_append_paragraph_format(NoteElement_t *first, NoteElement_t *second, int offset);
// Each flag 1 when the character before iter carries that format.
void gnote_paragraph_get_format_at_cursor(const GtkTextIter *iter, int *bold, int *italic, int *underline);

// Byte offset of character offset chars in text, and back (clamped to the text).
int gnote_char_to_byte(const char *text, int chars);
int gnote_byte_to_char(const char *text, int bytes);
