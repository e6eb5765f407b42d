// The intrinsics that drive a note field after IGNOTE_NEW: loading a note (IGNOTE_PRINT, which keeps
// an open edit window showing the note), reading it back (IGNOTE_GET), asking whether its edit
// window is open, collapsing and expanding it.
#include <cstring>
#include <string>
#include <utility>

#include "cases.h"
#include "cfield.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "gdata.h"
#include "gnote_edit.h"
#include "gnote_field.h"
#include "gnote_store.h"
#include "gwidget.h"
#include "handles.h"
#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"
#include "read_error.h"

namespace {

using intr::arg;

struct Field {
    ControlMatrix_t *cm;
    int index;
    NoteData_t *note;
};

// The note field named by the first two arguments.
Field note_field(int nargs, int last)
{
    ControlMatrix_t *cm = cutil_get_cm(global_data, &arg(nargs, last, 0));
    if (!cm) Abort("Must set the Process Control Matrix first");
    const int index = intr::integer(arg(nargs, last, 1));
    void *entry = cset_cm_get_ptr(cm, CM_ENTRY_PTR, index);
    if (!entry || handle_kind(entry) != CM_FIELD_TYPE_GNOTE) Abort("Unexpected type found in Note");
    return {cm, index, static_cast<NoteData_t *>(entry)};
}

// A text argument without its trailing white space (gnote_trim).
std::string trimmed_text(const Stack &entry)
{
    std::string text(intr::text(entry));
    text.resize(std::strlen(gnote_trim(text.data())));
    return text;
}

// A text argument checked against its limit before trimming, trimmed into field (limit + 1 bytes).
template <std::size_t N> void store_limited(char (&field)[N], const Stack &entry, const char *too_long)
{
    const int length = static_cast<int>(intr::text(entry).size());
    if (length > static_cast<int>(N) - 1) Abort(too_long, static_cast<int>(N) - 1, length);
    const std::string text = trimmed_text(entry);
    std::memcpy(field, text.data(), text.size());
    field[text.size()] = '\0';
}

// The mode a loaded note asks for: the widgets of Display mode, or of the others, are swapped in.
void switch_mode(NoteData_t *n, int mode)
{
    if (mode < GNOTE_MODE_DISPLAY || mode > GNOTE_MODE_ONE_LINE)
        Abort("Operational Mode %d must be one of 1 = Display; 2 = Edit; 3 = Template; 4 = Edit One Line", mode);
    if (n->mode == GNOTE_MODE_NULL) {
        gnote_set_activate_label(n, "<b>+</b>");
        gtk_widget_set_visible(n->activate_button, TRUE);
    }
    const bool was_display = n->mode == GNOTE_MODE_DISPLAY, display = mode == GNOTE_MODE_DISPLAY;
    if (was_display && !display) {
        for (GtkWidget *w : {n->arrow_button, n->full_window, n->line_box}) gtk_widget_set_visible(w, FALSE);
        for (GtkWidget *w : {n->activate_button, n->input}) gtk_widget_set_visible(w, TRUE);
        n->display_state = GNOTE_STATE_INPUT;
    } else if (!was_display && display) {
        for (GtkWidget *w : {n->activate_button, n->full_window, n->input}) gtk_widget_set_visible(w, FALSE);
        for (GtkWidget *w : {n->arrow_button, n->line_box}) gtk_widget_set_visible(w, TRUE);
        n->display_state = GNOTE_STATE_COLLAPSED;
    }
    n->mode = mode;
}

GtkWidget *field_button(const NoteData_t *n)
{
    return n->mode == GNOTE_MODE_DISPLAY ? n->arrow_button : n->activate_button;
}

// Shows a newly loaded note by the state the field is left in. An edit window kept open shows the
// note itself: the field stays in its edit-window state.
void redisplay(NoteData_t *n, bool keeping)
{
    if (keeping) {
        if (n->has_more) gtk_widget_set_name(field_button(n), "NoteActivateButtonOk");
        return;
    }
    if (!n->has_more || n->display_state == GNOTE_STATE_NONE || n->display_state == GNOTE_STATE_INPUT) {
        gnote_collapse_p(n);
    } else {
        gtk_widget_set_name(field_button(n), "NoteActivateButtonOk");
        if (n->mode != GNOTE_MODE_DISPLAY && n->mode != GNOTE_MODE_ONE_LINE)
            gtk_widget_set_tooltip_text(n->activate_button, n->display_state == GNOTE_STATE_EXPANDED
                                                                ? "Right mouse button to collapse display"
                                                                : "Right mouse button to expand display");
    }
    // The program, not the user, fills a field's content: the focus stays where it is.
    const bool focus = !n->cm->set_content;
    switch (n->display_state) {
    case GNOTE_STATE_INPUT:
        gnote_set_input_text(n, n->short_text);
        if (focus) gtk_widget_grab_focus(n->input);
        gtk_editable_select_region(GTK_EDITABLE(n->input), 0, 0);
        break;
    case GNOTE_STATE_COLLAPSED:
        gtk_label_set_text(GTK_LABEL(n->line_label), valid_utf8(n->short_text).c_str());
        if (focus) gtk_widget_grab_focus(field_button(n));
        break;
    case GNOTE_STATE_EXPANDED:
        gnote_display_full_note(n);
        if (focus) gtk_widget_grab_focus(field_button(n));
        break;
    case GNOTE_STATE_EDIT_WINDOW: Abort("Invalid display state");
    default: break;
    }
}

// ---- Keeping an open edit window ------------------------------------------------------------------------
// A routine nested in the field's Edit_Content check (the user has just begun to change the note)
// may load the note again, as it now stands in the database: the open window then shows the new
// note where the user was, or, when another user changed it meanwhile, says so.

// A note read for the field, freed unless the field takes its list.
struct LoadedNote {
    NoteData_t list{};
    ~LoadedNote() { gnote_free_xml(&list); }
};

// The window's place across a load: the note as the window showed it, the position of the element
// the user was in and the selection there.
struct WindowPlace {
    NoteData_t shown{};
    int position = 0;
    int from = -1, to = -1;
    ~WindowPlace() { gnote_free_xml(&shown); }
};

// True when the load happens inside the edit check of the field whose edit window is open.
bool keeping_window(ControlMatrix_t *cm, const NoteData_t *n)
{
    if (!cm->in_edit || !cm->next) return false;
    PROGRAM_ASSERT(cm->next->type == CM_WT_NOTE);
    return cm->next->window_data == n;
}

// The selection (or the cursor twice) of the current element's view, in characters.
void selection_of(const NoteElement_t *current, int *from, int *to)
{
    if (current->type == CM_GNOTE_NOTE_TYPE_AM) {
        const NoteElement_t *note_am = current;
        PROGRAM_ASSERT(note_am->type == CM_GNOTE_NOTE_TYPE_AM);
        if (!note_am->am.input) return;
        GtkEditable *input = GTK_EDITABLE(note_am->am.input);
        if (!gtk_editable_get_selection_bounds(input, from, to)) *from = *to = gtk_editable_get_position(input);
        return;
    }
    const NoteElement_t *note_p = current;
    PROGRAM_ASSERT(note_p->type == CM_GNOTE_NOTE_TYPE_P || note_p->type == CM_GNOTE_NOTE_TYPE_HIDE);
    if (!note_p->p.buffer) return;
    GtkTextIter start, end;
    gtk_text_buffer_get_selection_bounds(note_p->p.buffer, &start, &end);
    *from = gtk_text_iter_get_offset(&start);
    *to = gtk_text_iter_get_offset(&end);
}

// The list and views a load replaced in an open window.
struct RetiredViews {
    NoteData_t shown;
    GtkWidget *views;
};

gboolean release_retired(gpointer data)
{
    auto *retired = static_cast<RetiredViews *>(data);
    gnote_free_xml(&retired->shown);
    if (retired->views) g_object_unref(retired->views);
    delete retired;
    return G_SOURCE_REMOVE;
}

// Takes the shown list out of the field, so that the load frees none of the views' elements.
void save_window_place(NoteData_t *n, WindowPlace &place)
{
    gnote_remove_sigs(n->note);
    const NoteElement_t *current = gnote_get_current_focus(n);
    selection_of(current, &place.from, &place.to);
    for (const NoteElement_t *e = n->note; e != current; e = e->next) ++place.position;
    place.shown.cm = n->cm;
    place.shown.note = n->note;
    n->note = nullptr;
}

// Shows the loaded note in the open window where the user was; when it is not the note the
// window showed, at the end of its last paragraph, marked modified, with a warning.
void restore_window_place(NoteData_t *n, WindowPlace &place)
{
    const bool differ = gnote_compare_notes(n->hidden_visible ? 1 : 0, n->note, place.shown.note) != 0;
    // The window always shows a paragraph, also of an empty note.
    if (!n->note) gmenu_parse_xml_add(n, "p")->p.text = Strcpy("");
    NoteElement_t *note = n->note;
    for (int i = 0; i < place.position && note->next; ++i) note = note->next;
    int from = place.from, to = place.to;
    if (differ) {
        for (NoteElement_t *e = n->note; e; e = e->next)
            if (e->type == CM_GNOTE_NOTE_TYPE_P) note = e;
        from = to = -1;
        n->modified = 1;
    }
    PROGRAM_ASSERT((note->type == CM_GNOTE_NOTE_TYPE_P) || (note->type == CM_GNOTE_NOTE_TYPE_AM) ||
                   (note->type == CM_GNOTE_NOTE_TYPE_HIDE));
    // The key handler whose check ran this load still holds its element of the shown list and
    // that element's view: both stay until the main loop is idle again.
    auto *retired = new RetiredViews{place.shown, n->views_box ? g_object_ref(n->views_box) : nullptr};
    place.shown = NoteData_t{};
    g_idle_add(release_retired, retired);
    gnote_redraw_note(n, note, from, to);
    if (differ)
        mmessage(1, "%s",
                 "The Note content has changed. While you have had this window open, changes were made by another "
                 "user. The changes made by that other user, are now being displayed here. Please proceed with "
                 "making your changes.");
}

} // namespace

int gnote_count_paragraphs(const NoteData_t *n)
{
    int count = 0;
    for (const NoteElement_t *e = n->note; e; e = e->next) count += e->type == CM_GNOTE_NOTE_TYPE_P;
    return count;
}

void ignote_print(int nargs, int last)
{
    FORMS_TRACE;
    mlog(3, "Do ignote_print");
    const Field f = note_field(nargs, last);
    NoteData_t *n = f.note;
    const int running = cinvoke_get_ac(f.cm);
    if (running == AC_EDIT_CONTENT)
        Abort("Not permitted to use ignote_print from within Edit_Content Action Code, index %d cm.current_focus %d",
              f.index, f.cm->current_focus);
    if (running == AC_CHANGE_CONTENT && f.cm->current_focus == f.index)
        Abort("Not permitted to use ignote_print from within Change_Content Action Code, index %d cm.current_focus %d",
              f.index, f.cm->current_focus);

    const bool keeping = keeping_window(f.cm, n);

    // The number is measured trimmed: nine characters with trailing blanks are a valid number.
    const std::string number = trimmed_text(arg(nargs, last, 2));
    if (number.size() > CM_GNOTE_ID_SIZE)
        Abort("Note Number is %d characters being greater then %d characters", static_cast<int>(number.size()),
              CM_GNOTE_ID_SIZE);

    // The new note is read before the field or an open edit window is touched: a note that does
    // not read stops the run with both as they were.
    LoadedNote loaded;
    stop_on(gnote_read_xml(n, trimmed_text(arg(nargs, last, 3)).c_str(), 0, &loaded.list.note));

    WindowPlace place;
    if (keeping)
        save_window_place(n, place);
    else if (n->display_state == GNOTE_STATE_EDIT_WINDOW && n->edit_scroller)
        // The load stops with "Invalid display state" after it freed the list the open window
        // shows: the views' handlers must not outlive their elements.
        gnote_remove_sigs(n->note);
    std::strcpy(n->number, number.c_str());
    gnote_free_xml(n);
    n->note = std::exchange(loaded.list.note, nullptr);
    n->version = 1;
    gnote_save_original(n);

    store_limited(n->note_type, arg(nargs, last, 4),
                  "Type passed to the Note is too long; It should be less than %d and is %d characters");
    store_limited(n->type_desc, arg(nargs, last, 5),
                  "Type Descriptor passed to the Note is too long; It should be less than %d and is %d characters");
    switch_mode(n, intr::integer(arg(nargs, last, 6)));
    if (keeping && n->display_state != GNOTE_STATE_EDIT_WINDOW) {
        // The mode's widgets are swapped behind the window; its state comes back when it closes.
        n->saved_display_state = n->display_state;
        n->display_state = GNOTE_STATE_EDIT_WINDOW;
    }

    static constexpr const char *must_be_false[8] = {
        nullptr, nullptr, "Must pass the flag indicating that Calc data may be entered as false", nullptr, nullptr,
        "Must pass the flag indicating that text may be protected as false",
        "Must pass the flag indicating that Status data may be added as false",
        "Must pass the flag indicating that Instruction data may be added as false"};
    for (int i = 0; i < 8; ++i) {
        n->print_flags[i] = intr::integer(arg(nargs, last, 7 + i));
        if (must_be_false[i] && n->print_flags[i] != 0) Abort("%s", must_be_false[i]);
    }
    store_limited(n->rpc, arg(nargs, last, 15),
                  "RPC passed to the Note is too long; It should be less than %d and is %d characters");
    n->print_last = intr::integer(arg(nargs, last, 16));

    NumericCvINT(0, &n->total);
    for (const NoteElement_t *e = n->note; e; e = e->next)
        if (e->type == CM_GNOTE_NOTE_TYPE_AM) NumericAdd(&n->total, &e->am.value, &n->total);
    n->modified = n->reserved3 = n->approved = 0;
    gnote_set_short_note(n);
    redisplay(n, keeping);
    if (keeping) restore_window_place(n, place);
}

void ignote_get(int nargs, int last)
{
    FORMS_TRACE;
    mlog(3, "Do ignote_get");
    const Field f = note_field(nargs, last);
    NoteData_t *n = f.note;
    intr::store_text(arg(nargs, last, 2), n->number, "IGNOTE_GET");
    // The short text first: it may put a line break into the first paragraph, which the XML must
    // carry so that two calls in a row agree.
    gnote_set_short_note(n);
    char *xml = gnote_get_xml(n);
    const std::string note(xml);
    sfree(xml);
    intr::store_text(arg(nargs, last, 3), note, "IGNOTE_GET");
    intr::store_text(arg(nargs, last, 4), n->short_text, "IGNOTE_GET");
    gnote_store_int(arg(nargs, last, 5), n->approved, "IGNOTE_GET");
    gnote_store_number(arg(nargs, last, 6), n->total, "IGNOTE_GET");
    gnote_store_int(arg(nargs, last, 7), n->modified, "IGNOTE_GET");
    gnote_store_int(arg(nargs, last, 8), gnote_count_paragraphs(n), "IGNOTE_GET");
    gnote_store_int(arg(nargs, last, 9), 0, "IGNOTE_GET");
    if (nargs == 11) gnote_store_int(arg(nargs, last, 10), gnote_only_short_text(n), "IGNOTE_GET");
}

void ignote_is_window(int nargs, int last, Stack *result)
{
    if (nargs != 2) Abort("ignote_is_window must have two parameters: Control Matrix and the index");
    const Field f = note_field(nargs, last);
    intr::set_number(result, f.note->display_state == GNOTE_STATE_EDIT_WINDOW ? 1 : 0);
}

void ignote_collapse(int nargs, int last) { gnote_collapse_p(note_field(nargs, last).note); }
void ignote_expand(int nargs, int last) { gnote_expand_p(note_field(nargs, last).note); }

namespace {

constexpr IntrinsicRow note_field_rows[] = {
    {in_IGNOTE_NEW, ignote_new, exactly(12), WINDOWS_ONLY},
    {in_IGNOTE_PRINT, ignote_print, exactly(17), WINDOWS_ONLY},
    {in_IGNOTE_GET, ignote_get, between(10, 11), WINDOWS_ONLY},
    {in_IGNOTE_IS_WINDOW, ignote_is_window, ANY_COUNT, WINDOWS_ONLY},
    {in_IGNOTE_COLLAPSE, ignote_collapse, exactly(2), WINDOWS_ONLY},
    {in_IGNOTE_EXPAND, ignote_expand, exactly(2), WINDOWS_ONLY},
};

} // namespace

std::span<const IntrinsicRow> gnote_field_intrinsics() { return note_field_rows; }
