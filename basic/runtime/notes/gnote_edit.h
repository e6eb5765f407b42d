// The note edit window's face: a modal window over the form's, with a control matrix of its own
// (type CM_WT_NOTE), in which the clerk edits a note field's note. What the note field and the
// notes' registration use of it; the window's own files share gnote_edit_parts.h besides.
//
// The window never includes the field's header: what it asks of the field goes through the
// record of field operations the field registers with it.
#pragma once

#include <span>

#include <glib.h>
#include <gtk/gtk.h>

#include "intrinsic_dispatch.h"
#include "note_model.h"

// The note's try-lock, released on every way out: the field's road into the window and the
// window's changes of structure hold it against re-entry.
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

// What the window asks of the note field whose note it edits.
struct NoteFieldOps {
    // The field's collapse routine (the one-line display settled) and its expand routine (the
    // whole note shown when it has more than its short text).
    void (*collapse)(NoteData_t *note);
    void (*expand)(NoteData_t *note);
    // The note's short text kept in the record's short_text.
    void (*short_note)(NoteData_t *note);
    // The one-line input's text replaced.
    void (*input_text)(NoteData_t *note, const char *text);
    // The field enters its edit-window display state, the state before kept aside; and goes back
    // to that state (a window destroyed other than by save or cancel).
    void (*window_opened)(NoteData_t *note);
    void (*window_gone)(NoteData_t *note);
    // Whether the field showed the whole note before the window opened.
    bool (*was_expanded)(const NoteData_t *note);
};

// Registers the window's kind (save, cancel and focus) with the forms engine, and the field's
// operations the window calls.
void gnote_register_edit_window(const NoteFieldOps &field);

// Builds and shows the edit window of note over parent (the field's form window).
void gnote_edit_create(GtkWidget *parent, NoteData_t *note);
// Rebuilds every view and puts the focus into element: the cursor at character offset from (the
// end when negative), or the characters from..to selected (to negative: the end).
void gnote_redraw_note(NoteData_t *note, NoteElement_t *element, int from, int to);
// The current element: the first with focus set, else the last.
NoteElement_t *gnote_get_current_focus(NoteData_t *note);
// Removes the views' event controllers and change checks from element to the end of its list, so
// that no handler outlives the elements of a list about to be replaced.
void gnote_remove_sigs(NoteElement_t *element);
// The edit window of a note record that is being freed goes first.
void gnote_edit_window_destroy(NoteData_t *note);

// The edit-refusal check before a change of text: true when the field's Edit_Content routine
// refused it (modified is put back to 0 and the change is to be dropped).
bool gnote_edit_refused(NoteData_t *note, GdkModifierType state, guint keyval);

// Text that reached the field's one-line input while its edit window is open (the window's opening
// turns the main loop while the form still has the keyboard): it goes to the end of the paragraph
// the window's focus is in. False when no window shows a paragraph to take it.
bool gnote_edit_take_typed(NoteData_t *note, const char *text, int length);

// The rows of the amount intrinsics (IGNOTE_GET_AMOUNT, IGNOTE_PRINT_AMOUNT, IGNOTE_DELETE_AMOUNT)
// and of the block-tag intrinsics (IGNOTE_GET_BLOCK_TAG, IGNOTE_PRINT_BLOCK_TAG,
// IGNOTE_DELETE_BLOCK_TAG), for the dispatchers. They act on the note of the edit window under the
// window whose matrix is their first argument.
std::span<const IntrinsicRow> gnote_amount_intrinsics();
std::span<const IntrinsicRow> gnote_edit_tag_intrinsics();
