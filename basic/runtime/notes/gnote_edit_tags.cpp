// The note edit window's block tags and hidden comments: the bounds of the selected block, the Tag
// action (which hands the block to the program's Get_Note_Block_Tag routine), the Hidden comment
// action, and the block-tag intrinsics that routine calls with the matrix of a window it opens
// over the edit window. gnote_edit_tags_install connects Tag and Hidden comment to the window's
// actions.
#include <gdk/gdkkeysyms.h>

#include <cstring>
#include <string>

#include "cases.h"
#include "ccallback.h"
#include "cevents.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "gdata.h"
#include "gnote_edit_parts.h"
#include "mem_mgt.h"
#include "message.h"

namespace {

using intr::arg;

bool is_paragraph(const NoteElement_t *e) { return e->type == CM_GNOTE_NOTE_TYPE_P; }
bool is_tag(const NoteElement_t *e) { return e->type == CM_GNOTE_NOTE_TYPE_TAG; }

bool same_name(const NoteElement_t *a, const NoteElement_t *b)
{
    return std::strcmp(a->tag.name ? a->tag.name : "", b->tag.name ? b->tag.name : "") == 0;
}

// True when b lies after a in their list.
bool comes_after(const NoteElement_t *a, const NoteElement_t *b)
{
    for (const NoteElement_t *e = a->next; e; e = e->next)
        if (e == b) return true;
    return false;
}

char *copy_text(const std::string &text)
{
    auto *copy = static_cast<char *>(salloc(text.size() + 1));
    std::memcpy(copy, text.data(), text.size() + 1);
    return copy;
}

// Replaces an owned text; true when it changed.
bool replace_text(char **slot, const std::string &text)
{
    if (*slot && text == *slot) return false;
    sfree(*slot);
    *slot = copy_text(text);
    return true;
}

NoteElement_t *new_tag(NoteData_t *n, const std::string &name, const std::string &text, int start)
{
    NoteElement_t *t = gmenu_parse_xml_add_tag(n, "tag");
    t->tag.name = copy_text(name);
    t->tag.text = copy_text(text);
    t->tag.start = start;
    return t;
}

// Whether a tag of the note other than the two given has the name.
bool name_taken(const NoteData_t *n, const std::string &name, const NoteElement_t *own1 = nullptr,
                const NoteElement_t *own2 = nullptr)
{
    for (const NoteElement_t *e = n->note; e; e = e->next)
        if (is_tag(e) && e != own1 && e != own2 && name == (e->tag.name ? e->tag.name : "")) return true;
    return false;
}

// The first paragraph or hidden paragraph holding the focus, or nullptr.
NoteElement_t *focused_paragraph(NoteData_t *n)
{
    for (NoteElement_t *e = n->note; e; e = e->next)
        if ((e->type == CM_GNOTE_NOTE_TYPE_P || e->type == CM_GNOTE_NOTE_TYPE_HIDE) && e->focus) return e;
    return nullptr;
}

// Whether the note still holds what every rebuild needs once paragraph p is hidden: a paragraph
// before every amount, and a paragraph at all.
bool hiding_keeps_paragraphs(const NoteData_t *n, const NoteElement_t *p)
{
    bool paragraph = false;
    for (const NoteElement_t *e = n->note; e; e = e->next) {
        if (e == p) continue;
        if (is_paragraph(e)) paragraph = true;
        if (e->type == CM_GNOTE_NOTE_TYPE_AM && !paragraph) return false;
    }
    return paragraph;
}

// An action that first shows the busy pointer and asks the Edit_Content check, and always ends the
// event.
template <class Body> void checked_event(gpointer note, Body &&body)
{
    forms_callback([&] {
        auto *n = static_cast<NoteData_t *>(note);
        if (!n->edit_scroller) return;
        ccursor_set_busy(n->cm, 0);
        if (!gnote_edit_refused(n, GdkModifierType(0), GDK_KEY_space)) body(n);
        ccallbacks_finish_event(1, 0);
    });
}

// A text argument without its trailing white space.
std::string trimmed(const Stack &entry)
{
    std::string text(intr::text(entry));
    text.resize(std::strlen(gnote_trim(text.data())));
    return text;
}

// The list taken back from the views, which the change then rebuilds.
void take_views_back(NoteData_t *n)
{
    gnote_remove_sigs(n->note);
    gnote_parse_text2XML(n);
}

} // namespace

void gnote_tag_get_bounds(NoteData_t *n, NoteElement_t **first_out, NoteElement_t **last_out)
{
    NoteElement_t *first = nullptr, *last = nullptr;
    for (NoteElement_t *e = n->note; e; e = e->next)
        if (e->selected) {
            if (!first) first = e;
            last = e;
        }
    if (!first) first = last = gnote_get_current_focus(n);

    NoteElement_t *p = first;
    while (p && !is_paragraph(p)) p = p->prior;
    if (!p) {
        for (p = n->note; p && !is_paragraph(p); p = p->next) {}
        if (!p) Abort("Unexpected absence of paragraph block in a Note");
        // Only tags and hidden paragraphs were selected, all before the first paragraph: the block
        // is that paragraph, so that its start never comes after its end.
        if (comes_after(last, p)) last = p;
    }
    first = p;
    if (last->next && last->next->type == CM_GNOTE_NOTE_TYPE_AM) last = last->next;

    for (NoteElement_t *t = first->prior; t && is_tag(t); t = t->prior)
        for (NoteElement_t *u = last->next; u && is_tag(u); u = u->next)
            if (same_name(t, u)) {
                *first_out = t;
                *last_out = u;
                return;
            }
    *first_out = first;
    *last_out = last;
}

// ---- The actions -------------------------------------------------------------------------------------

namespace {

// Tag (Template mode only): the program's Get_Note_Block_Tag routine, at index 0 of the form's
// matrix, reads, sets or removes the block tag through the block-tag intrinsics.
void gnote_edit_tag_event(GtkWidget *, GtkWidget *, NoteData_t *n)
{
    if (n->mode != GNOTE_MODE_TEMPLATE) Abort("May only create or edit a tag in template mode");
    NoteData_t *note_data = n;
    PROGRAM_ASSERT(note_data->cm);
    ControlMatrix_t *out = nullptr;
    char *text = nullptr;
    int index = 0, closing = 0;
    cinvoke_basic_routine(n->cm, &out, AC_GET_NOTE_BLOCK_TAG, &index, nullptr, global_data, "IP$", "", 0, 0, &text,
                          &closing, 0);
    g_free(text);
    if (closing) Abort("Not permitted to exit from window here");
}

void gnote_edit_edit_tag_event(GSimpleAction *, GVariant *, gpointer note)
{
    checked_event(note, [](NoteData_t *n) { gnote_edit_tag_event(nullptr, nullptr, n); });
}

// Hidden comment: the current paragraph becomes a hidden paragraph, or a hidden one a paragraph.
void gnote_format_text_toggle_hide(GtkWidget *, NoteData_t *n)
{
    // Both refusals are decided on the list as it stands, before the views lose their controllers:
    // what follows would otherwise leave a window whose views no longer answer.
    NoteElement_t *e = focused_paragraph(n);
    if (!e) return;
    // A note whose amount had no paragraph before it, or that had no paragraph at all, could not be
    // taken back from the views again: such a hide changes nothing.
    if (is_paragraph(e) && !hiding_keeps_paragraphs(n, e)) return;
    take_views_back(n);
    e = focused_paragraph(n);
    if (is_paragraph(e)) {
        e->type = CM_GNOTE_NOTE_TYPE_HIDE;
        std::strcpy(e->p.datatype, "H");
    } else {
        e->type = CM_GNOTE_NOTE_TYPE_P;
        std::strcpy(e->p.datatype, "P");
    }
    n->modified = 1;
    gnote_redraw_note(n, e, -1, -1);
}

void gnote_edit_toggle_hide_event(GSimpleAction *, GVariant *, gpointer note)
{
    checked_event(note, [](NoteData_t *n) { gnote_format_text_toggle_hide(nullptr, n); });
}

} // namespace

void gnote_edit_tags_install(GActionMap *actions, NoteData_t *note)
{
    gnote_edit_on_action(actions, "tag", G_CALLBACK(gnote_edit_edit_tag_event), note);
    gnote_edit_on_action(actions, "hide", G_CALLBACK(gnote_edit_toggle_hide_event), note);
}

// ---- The block-tag intrinsics ------------------------------------------------------------------------

namespace {

// IGNOTE_GET_BLOCK_TAG, IGNOTE_PRINT_BLOCK_TAG, IGNOTE_DELETE_BLOCK_TAG: on the note of the edit
// window under the window whose matrix is the first argument.
void ignote_get_block_tag(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    mlog(3, "Do ignote_get_block_tag");
    if (nargs != 4) Abort("ignote_get_block_tag must have four parameters");
    NoteData_t *n = gnote_edit_window_note(nargs, last, "ignote_get_block_tag");
    NoteElement_t *first, *end;
    gnote_tag_get_bounds(n, &first, &end);
    const bool tagged = is_tag(first);
    const auto text = [](const char *t) { return std::string_view(t ? t : ""); };
    intr::store_text(arg(nargs, last, 1), tagged ? text(first->tag.name) : "", "IGNOTE_GET_BLOCK_TAG");
    intr::store_text(arg(nargs, last, 2), tagged ? text(first->tag.text) : "", "IGNOTE_GET_BLOCK_TAG");
    intr::store_text(arg(nargs, last, 3), tagged ? text(end->tag.text) : "", "IGNOTE_GET_BLOCK_TAG");
    intr::set_number(result, tagged ? 1 : 0);
}

void ignote_print_block_tag(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    mlog(3, "Do ignote_print_block_tag");
    if (nargs != 4) Abort("ignote_print_block_tag must have four parameters");
    NoteData_t *n = gnote_edit_window_note(nargs, last, "ignote_print_block_tag");
    const std::string name = trimmed(arg(nargs, last, 1)), start_text = trimmed(arg(nargs, last, 2)),
                      end_text = trimmed(arg(nargs, last, 3));
    // A tag the note XML string cannot hold is refused before anything changes.
    gnote_check_tag(name.c_str(), start_text.c_str());
    gnote_check_tag(name.c_str(), end_text.c_str());
    take_views_back(n);
    NoteElement_t *first, *end;
    gnote_tag_get_bounds(n, &first, &end);

    int set = 1;
    bool changed = false;
    NoteElement_t *shown;
    if (!is_tag(first)) {
        shown = first;
        if (name_taken(n, name)) {
            set = 0;
        } else {
            note_link_before(&n->note, first, new_tag(n, name, start_text, 1));
            note_link_after(end, new_tag(n, name, end_text, 0));
            changed = true;
        }
    } else {
        if (name != (first->tag.name ? first->tag.name : "")) {
            if (name_taken(n, name, first, end)) {
                set = 0;
            } else {
                changed |= replace_text(&first->tag.name, name);
                changed |= replace_text(&end->tag.name, name);
            }
        }
        if (set) {
            changed |= replace_text(&first->tag.text, start_text);
            changed |= replace_text(&end->tag.text, end_text);
        }
        NoteElement_t *n_start = first->next;
        while (n_start && !is_paragraph(n_start)) n_start = n_start->next;
        PROGRAM_ASSERT(n_start);
        shown = n_start;
    }
    // The views are taken back and compared before the change: the change itself marks the note.
    if (changed) n->modified = 1;
    gnote_redraw_note(n, shown, 0, 0);
    intr::set_number(result, set);
}

void ignote_delete_block_tag(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    mlog(3, "Do ignote_delete_block_tag");
    if (nargs != 1) Abort("ignote_delete_block_tag must have one parameter");
    NoteData_t *n = gnote_edit_window_note(nargs, last, "ignote_delete_block_tag");
    take_views_back(n);
    NoteElement_t *n_start, *n_end;
    gnote_tag_get_bounds(n, &n_start, &n_end);
    int removed = 0;
    NoteElement_t *shown;
    if (is_tag(n_start)) {
        removed = 1;
        shown = n_start->next;
        while (shown && is_tag(shown)) shown = shown->next;
        PROGRAM_ASSERT(n_start != n_end);
        note_unlink(&n->note, n_start);
        note_unlink(&n->note, n_end);
        gnote_free_xml_tag(&n_start);
        gnote_free_xml_tag(&n_end);
        n->modified = 1;
    } else {
        NoteElement_t *note_p = n_start;
        PROGRAM_ASSERT(note_p->type == CM_GNOTE_NOTE_TYPE_P);
        shown = note_p;
    }
    gnote_redraw_note(n, shown, -1, -1);
    intr::set_number(result, removed);
}

// Each handler checks its argument count with its own message.
constexpr IntrinsicRow edit_tag_rows[] = {
    {in_IGNOTE_GET_BLOCK_TAG, ignote_get_block_tag, ANY_COUNT, WINDOWS_ONLY},
    {in_IGNOTE_PRINT_BLOCK_TAG, ignote_print_block_tag, ANY_COUNT, WINDOWS_ONLY},
    {in_IGNOTE_DELETE_BLOCK_TAG, ignote_delete_block_tag, ANY_COUNT, WINDOWS_ONLY},
};

} // namespace

std::span<const IntrinsicRow> gnote_edit_tag_intrinsics() { return edit_tag_rows; }
