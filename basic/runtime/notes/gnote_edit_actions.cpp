// The note edit window's actions: bold, italic and underline on the selection, the hidden
// comments' visibility and Approve, each behind the edit-refusal check, and Delete Amount, which
// needs none. gnote_edit_actions_install connects them to the window's actions.
#include <gdk/gdkkeysyms.h>

#include "ccallback.h"
#include "cevents.h"
#include "cmatrix.h"
#include "gnote_edit_parts.h"
#include "mem_mgt.h"
#include "message.h"

namespace {

// The marker character is the action's own device, not an edit: the buffer's refusal checks stay
// out of it, so the Edit_Content routine runs once, for the action.
void insert_marker(GtkTextBuffer *buffer, gpointer element)
{
    g_signal_handlers_block_matched(buffer, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, element);
    GtkTextIter start;
    gtk_text_buffer_get_start_iter(buffer, &start);
    gtk_text_buffer_insert(buffer, &start, "-", 1);
    g_signal_handlers_unblock_matched(buffer, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, element);
}

void delete_marker(GtkTextBuffer *buffer, gpointer element)
{
    g_signal_handlers_block_matched(buffer, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, element);
    GtkTextIter start, second;
    gtk_text_buffer_get_start_iter(buffer, &start);
    gtk_text_buffer_get_iter_at_offset(buffer, &second, 1);
    gtk_text_buffer_delete(buffer, &start, &second);
    g_signal_handlers_unblock_matched(buffer, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, element);
}

// Toggles the tag called name on the selection of a paragraph's buffer: a selection wholly inside
// one run loses it, any other becomes wholly tagged. element is the paragraph whose change checks
// are kept out of the toggle's own marker.
void gnote_format_text_tag(GtkTextBuffer *buffer, GtkTextTag *tag, const char *name, gpointer element)
{
    GtkTextIter s, e;
    if (!gtk_text_buffer_get_selection_bounds(buffer, &s, &e)) return;
    // A run that begins at the first character has no toggle after the buffer's start; the marker
    // in front gives it one.
    insert_marker(buffer, element);
    gtk_text_buffer_get_selection_bounds(buffer, &s, &e);
    bool removed = false;
    GtkTextIter p;
    gtk_text_buffer_get_start_iter(buffer, &p);
    while (!removed && gtk_text_iter_forward_to_tag_toggle(&p, tag) && !gtk_text_iter_is_end(&p)) {
        GtkTextIter q = p;
        if (!gtk_text_iter_forward_to_tag_toggle(&q, tag)) Abort("Missmatching on and off tags");
        if (gtk_text_iter_compare(&p, &s) <= 0 && gtk_text_iter_compare(&q, &e) >= 0) {
            gtk_text_buffer_remove_tag_by_name(buffer, name, &s, &e);
            removed = true;
        }
        p = q;
    }
    if (!removed) gtk_text_buffer_apply_tag_by_name(buffer, name, &s, &e);
    delete_marker(buffer, element);
}

// The first paragraph or hidden paragraph holding the focus, or nullptr.
NoteElement_t *focused_paragraph(NoteData_t *n)
{
    for (NoteElement_t *e = n->note; e; e = e->next)
        if ((e->type == CM_GNOTE_NOTE_TYPE_P || e->type == CM_GNOTE_NOTE_TYPE_HIDE) && e->focus) return e;
    return nullptr;
}

enum class Format { bold, italic, underline };

void format_focused(NoteData_t *n, Format f)
{
    NoteElement_t *e = focused_paragraph(n);
    if (!e || !e->p.buffer) return;
    switch (f) {
    case Format::bold: gnote_format_text_tag(e->p.buffer, e->p.bold_tag, "bold", e); break;
    case Format::italic: gnote_format_text_tag(e->p.buffer, e->p.italic_tag, "italic", e); break;
    case Format::underline: gnote_format_text_tag(e->p.buffer, e->p.underline_tag, "underline", e); break;
    }
}

// An action behind the edit-refusal check, as if a space had been typed.
template <class Body> void checked_action(gpointer note, Body &&body)
{
    forms_callback([&] {
        auto *n = static_cast<NoteData_t *>(note);
        if (!n->edit_scroller) return;
        if (gnote_edit_refused(n, GdkModifierType(0), GDK_KEY_space)) return;
        body(n);
    });
}

// The nearest paragraph (not hidden) from e forward, else backward; nullptr when there is none.
NoteElement_t *nearest_paragraph(NoteElement_t *e)
{
    for (NoteElement_t *f = e; f; f = f->next)
        if (f->type == CM_GNOTE_NOTE_TYPE_P) return f;
    for (NoteElement_t *b = e; b; b = b->prior)
        if (b->type == CM_GNOTE_NOTE_TYPE_P) return b;
    return nullptr;
}

// Bold, italic or underline on the selection of the current paragraph.
void gnote_edit_edit_bold_event(GSimpleAction *, GVariant *, gpointer note)
{
    checked_action(note, [](NoteData_t *n) { format_focused(n, Format::bold); });
}
void gnote_edit_edit_italic_event(GSimpleAction *, GVariant *, gpointer note)
{
    checked_action(note, [](NoteData_t *n) { format_focused(n, Format::italic); });
}
void gnote_edit_edit_underline_event(GSimpleAction *, GVariant *, gpointer note)
{
    checked_action(note, [](NoteData_t *n) { format_focused(n, Format::underline); });
}

} // namespace

int delete_amount(NoteData_t *n)
{
    const TryLock lock(&n->lock);
    if (!lock.taken()) return 1;
    gnote_remove_sigs(n->note);
    gnote_parse_text2XML(n);
    NoteElement_t *shown = gnote_get_current_focus(n);
    if (shown && shown->type == CM_GNOTE_NOTE_TYPE_AM) {
        NoteElement_t *curr = shown;
        PROGRAM_ASSERT(curr->prior);
        PROGRAM_ASSERT(curr->next);
        shown = curr->prior;
        shown->focus = 1;
        note_unlink(&n->note, curr);
        gnote_free_xml_am(&curr);
    }
    gnote_redraw_note(n, shown, -1, -1);
    return 1;
}

namespace {

void gnote_edit_del_amount_event(GSimpleAction *, GVariant *, gpointer note)
{
    forms_callback([&] {
        auto *n = static_cast<NoteData_t *>(note);
        if (n->edit_scroller) delete_amount(n);
    });
}

// Shows or hides the hidden paragraphs' views (outside Template mode).
void gnote_edit_toggle_hide_visibility_event(GSimpleAction *, GVariant *, gpointer note)
{
    forms_callback([&] {
        auto *n = static_cast<NoteData_t *>(note);
        if (!n->edit_scroller) return;
        ccursor_set_busy(n->cm, 0);
        if (!gnote_edit_refused(n, GdkModifierType(0), GDK_KEY_space)) {
            gnote_remove_sigs(n->note);
            gnote_parse_text2XML(n);
            n->hidden_visible = n->hidden_visible == 0 ? 1 : 0;
            // The views stay as they are when there is no paragraph to put the focus in.
            if (NoteElement_t *e = nearest_paragraph(gnote_get_current_focus(n))) gnote_redraw_note(n, e, -1, -1);
        }
        ccallbacks_finish_event(1, 0);
    });
}
// Approve: the note marked approved and saved as F12 saves it.
int gnote_edit_approval_event(GtkWidget *window, NoteData_t *n)
{
    n->approved = 1;
    gnote_edit_button_press_save(window, 0, n);
    ccallbacks_finish_event(1, 1);
    return 1;
}

void gnote_edit_edit_approve_event(GSimpleAction *, GVariant *, gpointer note)
{
    forms_callback([&] {
        auto *n = static_cast<NoteData_t *>(note);
        if (!n->edit_scroller) return;
        ccursor_set_busy(n->cm, 0);
        if (!gnote_edit_refused(n, GdkModifierType(0), GDK_KEY_space)) gnote_edit_approval_event(n->edit_scroller, n);
        ccallbacks_finish_event(1, 0);
    });
}

} // namespace

void gnote_edit_actions_install(GActionMap *actions, NoteData_t *note)
{
    gnote_edit_on_action(actions, "bold", G_CALLBACK(gnote_edit_edit_bold_event), note);
    gnote_edit_on_action(actions, "italic", G_CALLBACK(gnote_edit_edit_italic_event), note);
    gnote_edit_on_action(actions, "underline", G_CALLBACK(gnote_edit_edit_underline_event), note);
    gnote_edit_on_action(actions, "del-amount", G_CALLBACK(gnote_edit_del_amount_event), note);
    gnote_edit_on_action(actions, "visibility", G_CALLBACK(gnote_edit_toggle_hide_visibility_event), note);
    gnote_edit_on_action(actions, "approve", G_CALLBACK(gnote_edit_edit_approve_event), note);
}
