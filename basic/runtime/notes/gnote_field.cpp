// The note field: IGNOTE_NEW, the display routines, the hooks the forms engine calls, the one-line
// input's handlers and the road into the edit window.
#include "gnote_field.h"
#include "gnote_edit.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cases.h"
#include "cattach.h"
#include "ccallback.h"
#include "cclick.h"
#include "cevent_steps.h"
#include "cevents.h"
#include "cfield.h"
#include "cmatrix.h"
#include "cutil.h"
#include "gdata.h"
#include "ginput.h"
#include "gmessage.h"
#include "gmisc.h"
#include "gwidget.h"
#include "handles.h"
#include "kinds.h"
#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"

using events::cm_of;
using events::field_of;

namespace {

constexpr const char *ACTIVATE_OK = "NoteActivateButtonOk";
constexpr const char *TIP_EDIT = "Left mouse button to edit";
constexpr const char *TIP_EXPAND = "Right mouse button to expand display";
constexpr const char *TIP_COLLAPSE = "Right mouse button to collapse display";
constexpr const char *TIP_UNAVAILABLE = "Field not available to be changed";
// Object data of the one-line input: set while its insert and delete handlers are unblocked.
constexpr const char *EDITING = "oska-note-editing";
constexpr int BUTTON_SIZE = 23;
constexpr int SPACER_HEIGHT = 5;
constexpr int LABEL_INSET = 26;  // the expanded display's labels are this much narrower than the field

NoteData_t *note_of(const void *record) { return static_cast<NoteData_t *>(const_cast<void *>(record)); }

// The record of a field entry, which must be a note.
NoteData_t *checked_note(void *entry)
{
    if (!entry || handle_kind(entry) != CM_FIELD_TYPE_GNOTE) Abort("Unexpected type found in Note");
    return note_of(entry);
}

void set_tooltip(NoteData_t *n, const char *tip)
{
    if (n->mode != GNOTE_MODE_ONE_LINE) gtk_widget_set_tooltip_text(n->activate_button, tip);
}

// The widget that stands for the field's button: the arrow in Display mode, else the +/- button.
GtkWidget *button_of(const NoteData_t *n)
{
    return n->mode == GNOTE_MODE_DISPLAY ? n->arrow_button : n->activate_button;
}

// Moves the keyboard focus, except while a routine fills the field's content (the program, not
// the user, is at work).
void take_focus(const NoteData_t *n, GtkWidget *widget)
{
    if (n->cm && n->cm->set_content) return;
    gtk_widget_grab_focus(widget);
}

std::string input_text(const NoteData_t *n) { return gtk_editable_get_text(GTK_EDITABLE(n->input)); }

// The one-line text as the note is to hold it: the input shows bytes of the short text that are no
// UTF-8 as replacement characters, so a text left as shown is the short text itself.
std::string typed_text(const NoteData_t *n)
{
    const std::string typed = input_text(n);
    return typed != n->short_text && typed == valid_utf8(n->short_text) ? std::string(n->short_text) : typed;
}

void show_line(NoteData_t *n) { gtk_label_set_text(GTK_LABEL(n->line_label), valid_utf8(n->short_text).c_str()); }

// A state 4 (edit window open) gives way to the state the field had before.
void swap_back(NoteData_t *n)
{
    if (n->display_state != GNOTE_STATE_EDIT_WINDOW) return;
    n->display_state = n->saved_display_state;
    n->saved_display_state = GNOTE_STATE_EDIT_WINDOW;
}

// The edit window's opening puts the field in state 4, its state before kept aside.
void swap_in(NoteData_t *n)
{
    n->saved_display_state = n->display_state;
    n->display_state = GNOTE_STATE_EDIT_WINDOW;
}

bool expanded_before_window(const NoteData_t *n)
{
    return (n->display_state == GNOTE_STATE_EDIT_WINDOW ? n->saved_display_state : n->display_state) ==
           GNOTE_STATE_EXPANDED;
}

// The field's button is named for styling as the one to press, carries tip and takes the focus.
void mark_button_ok(NoteData_t *n, const char *tip)
{
    if (n->mode != GNOTE_MODE_DISPLAY) set_tooltip(n, tip);
    gtk_widget_set_name(button_of(n), ACTIVATE_OK);
    take_focus(n, button_of(n));
}

// A new arrow of icon (go-down or go-up) in the arrow button.
void set_arrow(NoteData_t *n, const char *icon)
{
    n->arrow_image = gtk_image_new_from_icon_name(icon);
    gtk_image_set_icon_size(GTK_IMAGE(n->arrow_image), GTK_ICON_SIZE_INHERIT);
    gtk_widget_set_size_request(n->arrow_image, CM_GNOTE_ARROW_SIZE, -1);
    gtk_button_set_child(GTK_BUTTON(n->arrow_button), n->arrow_image);
}

// The window holding the field is made visible (once the field lies in one).
void show_window(const NoteData_t *n)
{
    if (GtkWidget *window = oska_widget_get_window(n->hbox)) gtk_widget_set_visible(window, TRUE);
}

// A centred mark-up label of the +/- button.
GtkWidget *button_label(const NoteData_t *n, const char *markup)
{
    GtkWidget *label = gtk_label_new(nullptr);
    gtk_label_set_markup(GTK_LABEL(label), markup);
    gtk_label_set_xalign(GTK_LABEL(label), 0.5f);
    gtk_label_set_yalign(GTK_LABEL(label), 0.5f);
    gtk_widget_set_halign(label, GTK_ALIGN_CENTER);
    gtk_widget_set_valign(label, GTK_ALIGN_CENTER);
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    gtk_label_set_single_line_mode(GTK_LABEL(label), TRUE);
    if (n->name) gtk_widget_set_name(label, n->name);
    return label;
}

// The first element that is not a tag, or nullptr.
NoteElement_t *first_content(NoteElement_t *e)
{
    while (e && e->type == CM_GNOTE_NOTE_TYPE_TAG) e = e->next;
    return e;
}

bool is_paragraph(const NoteElement_t *e)
{
    return e->type == CM_GNOTE_NOTE_TYPE_P || e->type == CM_GNOTE_NOTE_TYPE_HIDE;
}

void free_runs(NoteParagraph_t &p)
{
    for (std::int32_t **a : {&p.bold_start, &p.bold_end, &p.italic_start, &p.italic_end, &p.underline_start,
                             &p.underline_end}) {
        sfree(*a);
        *a = nullptr;
    }
    p.bold_count = p.italic_count = p.underline_count = 0;
}

char *copy_text(std::string_view text)
{
    auto *copy = static_cast<char *>(salloc(text.size() + 1));
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

// At most CM_GNOTE_TEXT_SIZE bytes of text, cut back to a character boundary so that the short
// text stays valid UTF-8.
std::string_view cut_short(std::string_view text)
{
    if (text.size() <= CM_GNOTE_TEXT_SIZE) return text;
    std::size_t cut = CM_GNOTE_TEXT_SIZE;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

void store_short(NoteData_t *n, std::string_view text)
{
    const std::string_view cut = cut_short(text);
    std::memcpy(n->short_text, cut.data(), cut.size());
    n->short_text[cut.size()] = '\0';
}

bool ascii_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The one-line input's text taken into the note by the expand routine.
void take_one_line(NoteData_t *n)
{
    const std::string typed = typed_text(n);
    if (typed.size() > CM_GNOTE_TEXT_SIZE)
        Abort("Short form of Note text is %d when expecting less than %d", static_cast<int>(typed.size()),
              CM_GNOTE_TEXT_SIZE);
    if (typed != n->short_text) {
        if (NoteElement_t *first = n->note) {
            if (first->next)
                Abort("gnote_expand_p: Not permitted to alter data in the one line input field when an extended note "
                      "exists");
            if (!is_paragraph(first)) Abort("gnote_expand_p: A Note must begin with a paragraph");
            // The typed line replaces the old first line; later lines stay.
            const char *old = first->p.text ? first->p.text : "";
            const char *rest = std::strchr(old, '\n');
            char *text = copy_text(typed + (rest ? rest : ""));
            sfree(first->p.text);
            first->p.text = text;
            free_runs(first->p);
            n->modified = 1;
        } else {
            gmenu_parse_xml_add(n, "p")->p.text = copy_text(typed);
        }
    }
    store_short(n, typed);
    n->has_more = gnote_only_short_text(n) ? 0 : 1;
}

// The insert and delete handlers run only while the field is being edited.
void set_editing(NoteData_t *n, bool editing)
{
    const bool now = g_object_get_data(G_OBJECT(n->input), EDITING) != nullptr;
    if (now == editing) return;
    for (GCallback handler : {G_CALLBACK(gnote_input_insert_text), G_CALLBACK(gnote_input_delete_text)}) {
        if (editing)
            g_signal_handlers_unblock_by_func(n->input, reinterpret_cast<gpointer>(handler), global_data);
        else
            g_signal_handlers_block_by_func(n->input, reinterpret_cast<gpointer>(handler), global_data);
    }
    g_object_set_data(G_OBJECT(n->input), EDITING, editing ? GINT_TO_POINTER(1) : nullptr);
}

// The note field of the input's window whose entry holds the widget.
struct InputField {
    ControlMatrix_t *cm;
    int index;
    NoteData_t *note;
};
InputField input_field(GtkWidget *widget, gpointer gd)
{
    ControlMatrix_t *cm = cm_of(static_cast<GlobalData_t *>(gd), widget, true);
    const int index = field_of(cm, widget);
    return {cm, index, checked_note(index ? cset_cm_get_ptr(cm, CM_ENTRY_PTR, index) : nullptr)};
}

// The Edit_Content check of a change to the one-line input: false when the routine refused it
// (the key-refused flag went from 0 to 1; it is put back, and the change is dropped).
bool edit_allowed(const InputField &f)
{
    if (!f.cm->user_edit_watch) return true;
    const int before = f.note->modified;
    ccallback_do_edit(f.cm, f.index, WIDGET_NOTE, GdkModifierType(0), GDK_KEY_space);
    if (before == 0 && f.note->modified == 1) {
        f.note->modified = 0;
        return false;
    }
    return true;
}

// The widget of the field whose click started the F9 road now under way (the engine's editing
// hook carries only a key), or nullptr.
GtkWidget *clicked_widget = nullptr;
struct ClickedWidget {
    explicit ClickedWidget(GtkWidget *w) : saved(clicked_widget) { clicked_widget = w; }
    ~ClickedWidget() { clicked_widget = saved; }
    ClickedWidget(const ClickedWidget &) = delete;
    ClickedWidget &operator=(const ClickedWidget &) = delete;
    GtkWidget *saved;
};

GtkGesture *any_button_gesture(GtkWidget *widget, const char *name, GCallback pressed, GtkPropagationPhase phase)
{
    GtkGesture *click = gtk_gesture_click_new();
    gtk_event_controller_set_name(GTK_EVENT_CONTROLLER(click), name);
    gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(click), phase);
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), 0);
    gtk_gesture_single_set_exclusive(GTK_GESTURE_SINGLE(click), TRUE);
    g_signal_connect(click, "pressed", pressed, global_data);
    gtk_widget_add_controller(widget, GTK_EVENT_CONTROLLER(click));
    return click;
}

void key_controller(GtkWidget *widget, const char *name, GCallback handler)
{
    GtkEventController *keys = gtk_event_controller_key_new();
    gtk_event_controller_set_name(keys, name);
    // Capture: the keys are decided before the widget's own bindings (Return on a button).
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    g_signal_connect(keys, "key-pressed", handler, global_data);
    gtk_widget_add_controller(widget, keys);
}

// ---- Building the field ------------------------------------------------------------------------------

struct NewArgs {
    int max_length, min_chars;
    std::string name;
    int width, expanded_height, edit_width, edit_height, placement, margin, mode;
};

void build_widgets(NoteData_t *n, const NewArgs &a)
{
    n->hbox = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_set_name(n->hbox, "hbox");
    GtkWidget *column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    n->vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    oska_box_append(n->hbox, n->vbox, 0, 0, 0);
    n->hbox2 = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_set_name(n->hbox2, "hbox2");
    oska_box_append(n->vbox, n->hbox2, 0, 0, a.margin);

    gnote_create_activate_button(n);
    n->arrow_button = gtk_button_new();
    gtk_widget_set_size_request(n->arrow_button, BUTTON_SIZE, BUTTON_SIZE);
    set_arrow(n, "go-down");
    gtk_image_set_icon_size(GTK_IMAGE(n->arrow_image), GTK_ICON_SIZE_NORMAL);
    any_button_gesture(n->arrow_button, "gnote-button", G_CALLBACK(gnote_button_press_F9), GTK_PHASE_CAPTURE);
    key_controller(n->arrow_button, "gnote", G_CALLBACK(on_key_press_event));
    oska_box_append(n->hbox2, n->arrow_button, 1, 0, 0);
    gtk_widget_set_visible(n->arrow_button, a.mode == GNOTE_MODE_DISPLAY);

    oska_box_prepend(n->hbox, column, 0, 0, 0);

    n->input = gtk_text_new();
    gtk_widget_add_css_class(n->input, "ginput");
    gtk_text_set_enable_emoji_completion(GTK_TEXT(n->input), FALSE);
    gtk_text_set_max_length(GTK_TEXT(n->input), std::clamp(a.max_length + 10, 0, 65535));
    gtk_widget_set_size_request(n->input, a.width, -1);
    gtk_editable_set_alignment(GTK_EDITABLE(n->input), 0.0f);
    gtk_widget_set_name(n->input, n->name);
    // Capture: the middle and right buttons paste before the text's own gestures see them.
    any_button_gesture(n->input, "gnote-input-button", G_CALLBACK(gnote_input_focus_in_entry_event), GTK_PHASE_CAPTURE);
    key_controller(n->input, "gnote-input", G_CALLBACK(gnote_input_key_press_event));
    g_signal_connect(n->input, "insert-text", G_CALLBACK(gnote_input_insert_text), global_data);
    g_signal_connect(n->input, "delete-text", G_CALLBACK(gnote_input_delete_text), global_data);
    g_signal_handlers_block_by_func(n->input, reinterpret_cast<gpointer>(gnote_input_insert_text), global_data);
    g_signal_handlers_block_by_func(n->input, reinterpret_cast<gpointer>(gnote_input_delete_text), global_data);
    gtk_widget_set_visible(n->input, a.mode >= GNOTE_MODE_EDIT);

    n->line_box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_set_name(n->line_box, "scrolledline");
    gtk_widget_add_css_class(n->line_box, "ginput");
    if (!a.name.empty()) gtk_widget_add_css_class(n->line_box, n->name);
    gtk_widget_set_size_request(n->line_box, a.width, BUTTON_SIZE);
    n->line_label = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(n->line_label), 0.0f);
    gtk_label_set_yalign(GTK_LABEL(n->line_label), 0.0f);
    gtk_widget_set_name(n->line_label, n->name);
    oska_box_append(n->line_box, n->line_label, 1, 1, 2);
    if (a.mode <= GNOTE_MODE_DISPLAY)
        any_button_gesture(n->line_box, "gnote-scrolledline", G_CALLBACK(gnote_button_press_F9), GTK_PHASE_BUBBLE);
    gtk_widget_set_visible(n->line_box, a.mode <= GNOTE_MODE_DISPLAY);

    n->full_window = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(n->full_window), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_widget_set_size_request(n->full_window, a.width, a.expanded_height);
    n->full_label = gtk_label_new(nullptr);
    gtk_label_set_use_markup(GTK_LABEL(n->full_label), TRUE);
    gtk_label_set_xalign(GTK_LABEL(n->full_label), 0.0f);
    gtk_label_set_yalign(GTK_LABEL(n->full_label), 0.0f);
    gtk_widget_set_size_request(n->full_label, a.width - LABEL_INSET, -1);
    gtk_label_set_wrap(GTK_LABEL(n->full_label), TRUE);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(n->full_window), n->full_label);
    gtk_widget_set_visible(n->full_window, FALSE);

    for (GtkWidget *w : {n->input, n->line_box, n->full_window}) oska_box_append(column, w, 0, 0, a.margin);
    for (GtkWidget *w : {n->hbox2, n->vbox, column, n->hbox}) oska_widget_show(w);
}

// ---- The rows of the note kind ----------------------------------------------------------------------

void free_note(void *record)
{
    NoteData_t *n = note_of(record);
    // An edit window still open on the note goes first: its destroy handler needs the record.
    gnote_edit_window_destroy(n);
    gnote_free_xml(n);
    gnote_free_original_note(n);
    g_free(n->name);
    n->name = nullptr;
    g_mutex_clear(&n->lock);
}

int owns_note(const void *record, const GtkWidget *widget)
{
    const NoteData_t *n = note_of(record);
    for (const GtkWidget *w : {n->hbox, n->hbox2, n->vbox, n->activate_button, n->activate_label, n->arrow_button,
                               n->arrow_image, n->input, n->line_box, n->line_label, n->full_window, n->full_label})
        if (w && w == widget) return 1;
    return 0;
}

GtkWidget *outer_note(const void *record) { return note_of(record)->hbox; }
int *index_of_note(void *record) { return &note_of(record)->index; }
void set_sensitive_note(ControlMatrix_t *, int, void *record, int sensitive, int)
{
    gtk_widget_set_sensitive(note_of(record)->hbox, sensitive != 0);
}
void destroy_note(void *record) { oska_widget_destroy(note_of(record)->hbox); }
void set_name_note(void *record, const char *name)
{
    gtk_widget_set_name(note_of(record)->input, name);
    gtk_widget_set_name(note_of(record)->line_label, name);
}

// IP$ of the field: the one-line text in state 1 (kept as the short text), else the short text.
char *value_note(ControlMatrix_t *, int, void *entry, int *, char **, int *)
{
    NoteData_t *n = checked_note(entry);
    const int state = n->display_state == GNOTE_STATE_EDIT_WINDOW ? n->saved_display_state : n->display_state;
    switch (state) {
    case GNOTE_STATE_NONE: return nullptr;
    case GNOTE_STATE_INPUT: {
        const std::string typed = typed_text(n);
        if (typed.size() <= CM_GNOTE_TEXT_SIZE)
            store_short(n, typed);
        else
            gnote_set_short_note(n);
        return g_strdup(n->short_text);
    }
    case GNOTE_STATE_COLLAPSED:
    case GNOTE_STATE_EXPANDED: return g_strdup(n->short_text);
    default: Abort("Invalid edit/display state");
    }
}

int validate_note(ControlMatrix_t *, int, void *entry)
{
    return gnote_val_return_press(checked_note(entry), global_data);
}
void pre_display_note(ControlMatrix_t *cm, int, void *entry)
{
    gnote_pre_display(checked_note(entry), cm, global_data);
}
void post_display_note(ControlMatrix_t *cm, int, void *entry)
{
    gnote_post_display(checked_note(entry), cm, global_data);
}
void clear_note(ControlMatrix_t *, int, void *entry) { gnote_clear(checked_note(entry)); }

// The widget that takes the focus: the one-line input (its text selected) in state 1, else the
// field's button.
GtkWidget *focus_note(ControlMatrix_t *, int, void *entry)
{
    NoteData_t *n = checked_note(entry);
    switch (n->display_state) {
    case GNOTE_STATE_INPUT:
        gtk_editable_select_region(GTK_EDITABLE(n->input), 0, -1);
        return n->input;
    case GNOTE_STATE_NONE:
    case GNOTE_STATE_COLLAPSED:
    case GNOTE_STATE_EXPANDED: return button_of(n);
    default: Abort("Invalid edit/display state");
    }
}

void edit_note(ControlMatrix_t *cm, int index, guint page_key) { gnote_edit(cm, index, page_key, clicked_widget); }
int *refused_note(void *entry) { return &note_of(entry)->modified; }
// A right click on the focused note pastes (the input's own gesture does it before the engine
// sees the click): the engine offers no edit menu of its own.
int context_menu_note(ControlMatrix_t *, int, void *, int) { return 0; }

// The expanded display's mark-up of a paragraph: its text escaped, so that data never becomes
// formatting, and its own bold, italic and underline runs. Kinds of run may interleave, which
// mark-up cannot nest: the text is cut at every run boundary and each piece carries the marks of
// the runs over it. Bytes that are no UTF-8 show as replacement characters (on screen only).
std::string paragraph_markup(const NoteElement_t *e)
{
    const std::string_view text = e->p.text ? e->p.text : "";
    struct Kind {
        const std::int32_t *start, *end;
        int count;
        const char *open, *close;
    } kinds[] = {{e->p.bold_start, e->p.bold_end, e->p.bold_count, "<b>", "</b>"},
                 {e->p.italic_start, e->p.italic_end, e->p.italic_count, "<i>", "</i>"},
                 {e->p.underline_start, e->p.underline_end, e->p.underline_count, "<u>", "</u>"}};
    // Positions come from the note string: clamped to the text (an end of -1 runs to its end).
    const auto clamp = [&](std::int32_t at) {
        return at < 0 || static_cast<std::size_t>(at) > text.size() ? text.size() : static_cast<std::size_t>(at);
    };
    std::vector<std::size_t> cuts{0, text.size()};
    for (const Kind &k : kinds)
        for (int i = 0; i < k.count && k.start && k.end; ++i) {
            cuts.push_back(clamp(k.start[i]));
            cuts.push_back(clamp(k.end[i]));
        }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    // How many runs of each kind cover each piece, counted from where runs begin and end.
    const auto piece_at = [&](std::size_t at) {
        return static_cast<std::size_t>(std::lower_bound(cuts.begin(), cuts.end(), at) - cuts.begin());
    };
    std::vector<int> cover[3];
    for (int k = 0; k < 3; ++k) {
        cover[k].assign(cuts.size(), 0);
        for (int i = 0; i < kinds[k].count && kinds[k].start && kinds[k].end; ++i) {
            const std::size_t from = clamp(kinds[k].start[i]), to = clamp(kinds[k].end[i]);
            if (from >= to) continue;
            ++cover[k][piece_at(from)];
            --cover[k][piece_at(to)];
        }
        for (std::size_t c = 1; c < cuts.size(); ++c) cover[k][c] += cover[k][c - 1];
    }
    std::string markup;
    for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
        const std::size_t from = cuts[c], to = cuts[c + 1];
        const bool on[3] = {cover[0][c] > 0, cover[1][c] > 0, cover[2][c] > 0};
        for (int k = 0; k < 3; ++k)
            if (on[k]) markup += kinds[k].open;
        const std::string shown = valid_utf8(text.substr(from, to - from));
        gchar *escaped = g_markup_escape_text(shown.c_str(), static_cast<gssize>(shown.size()));
        markup += escaped;
        g_free(escaped);
        for (int k = 2; k >= 0; --k)
            if (on[k]) markup += kinds[k].close;
    }
    return markup;
}

} // namespace

void gnote_set_input_text(NoteData_t *n, const char *text)
{
    const BlockedHandler insert(n->input, G_CALLBACK(gnote_input_insert_text), global_data);
    const BlockedHandler remove(n->input, G_CALLBACK(gnote_input_delete_text), global_data);
    gtk_editable_set_text(GTK_EDITABLE(n->input), valid_utf8(text).c_str());
}

void gnote_set_activate_label(NoteData_t *n, const char *markup)
{
    n->activate_label = button_label(n, markup);
    gtk_button_set_child(GTK_BUTTON(n->activate_button), n->activate_label);
}

// ---- Short text ------------------------------------------------------------------------------------------

std::string gnote_get_short_note(NoteData_t *n)
{
    if (!n->note) {
        n->has_more = 0;
        return n->short_text;
    }
    NoteElement_t *p = first_content(n->note);
    if (!p || p->type == CM_GNOTE_NOTE_TYPE_AM) Abort("gnote_get_short_note: A Note must begin with a paragraph");
    PROGRAM_ASSERT(p->type == CM_GNOTE_NOTE_TYPE_P || p->type == CM_GNOTE_NOTE_TYPE_HIDE);
    char *text = p->p.text;
    const std::size_t length = text ? std::strlen(text) : 0;
    std::string short_text;
    const std::size_t looked = std::min<std::size_t>(length, CM_GNOTE_TEXT_SIZE + 1);
    if (const void *nl = text ? std::memchr(text, '\n', looked) : nullptr)
        short_text.assign(text, static_cast<std::size_t>(static_cast<const char *>(nl) - text));
    else if (length <= CM_GNOTE_TEXT_SIZE)
        short_text.assign(text ? text : "", length);
    else {
        // The first line is too long: cut at the last blank before byte 40, which becomes the
        // paragraph's line break; without one, at the last character boundary within 40 bytes.
        std::size_t k = CM_GNOTE_TEXT_SIZE - 1;
        while (k >= 1 && !ascii_space(text[k])) --k;
        if (k >= 1) {
            short_text.assign(text, k);
            text[k] = '\n';
        } else {
            short_text = cut_short(std::string_view(text, length));
        }
    }
    const bool runs = p->p.bold_count || p->p.italic_count || p->p.underline_count;
    n->has_more = (!p->prior && !p->next && !runs && short_text == (text ? text : "")) ? 0 : 1;
    return short_text;
}

void gnote_set_short_note(NoteData_t *n) { store_short(n, gnote_get_short_note(n)); }

int gnote_only_short_text(const NoteData_t *n)
{
    const NoteElement_t *first = n->note;
    if (!first) return 1;
    if (first->next || !is_paragraph(first)) return 0;
    if (first->p.bold_count || first->p.italic_count || first->p.underline_count) return 0;
    return std::strcmp(first->p.text ? first->p.text : "", n->short_text) == 0;
}

// ---- Display routines ----------------------------------------------------------------------------------

void gnote_collapse_p(NoteData_t *n)
{
    FORMS_TRACE;
    swap_back(n);
    set_tooltip(n, TIP_EDIT);
    const bool display = n->mode == GNOTE_MODE_DISPLAY;
    if (n->display_state == GNOTE_STATE_INPUT && !n->has_more) {
        gtk_widget_set_name(button_of(n), "");
        gnote_set_input_text(n, n->short_text);
        take_focus(n, n->input);
        return;
    }
    if (n->display_state == GNOTE_STATE_COLLAPSED && n->has_more) {
        show_line(n);
        mark_button_ok(n, TIP_EXPAND);
        return;
    }
    mlog(3, "Do ignote_collapse");
    switch (n->display_state) {
    case GNOTE_STATE_EXPANDED: gtk_widget_set_visible(n->full_window, FALSE); break;
    case GNOTE_STATE_COLLAPSED:
    case GNOTE_STATE_NONE: gtk_widget_set_visible(n->line_box, FALSE); break;
    case GNOTE_STATE_INPUT: gtk_widget_set_visible(n->input, FALSE); break;
    default: Abort("Invalid edit/display status");
    }
    if (display) {
        set_arrow(n, "go-down");
        gtk_widget_set_visible(n->arrow_button, TRUE);
    }
    if (n->has_more) {
        n->display_state = GNOTE_STATE_COLLAPSED;
        show_line(n);
        gtk_widget_set_visible(n->line_box, TRUE);
        mark_button_ok(n, TIP_EXPAND);
    } else if (!display) {
        gtk_widget_set_name(n->activate_button, "");
        n->display_state = GNOTE_STATE_INPUT;
        gnote_set_input_text(n, n->short_text);
        gtk_widget_set_visible(n->input, TRUE);
        take_focus(n, n->input);
    } else {
        gtk_widget_set_name(n->arrow_button, "");
        n->display_state = GNOTE_STATE_COLLAPSED;
        show_line(n);
        gtk_widget_set_visible(n->line_box, TRUE);
        take_focus(n, n->arrow_button);
    }
    show_window(n);
}

void gnote_expand_p(NoteData_t *n)
{
    FORMS_TRACE;
    swap_back(n);
    set_tooltip(n, TIP_EDIT);
    if (n->display_state == GNOTE_STATE_EXPANDED && n->has_more) {
        gnote_display_full_note(n);
        mark_button_ok(n, TIP_COLLAPSE);
        return;
    }
    mlog(3, "Do ignote_expand");
    if (n->display_state == GNOTE_STATE_INPUT) take_one_line(n);
    if (!n->has_more || n->mode == GNOTE_MODE_ONE_LINE) {
        gnote_collapse_p(n);
        return;
    }
    const bool line = n->display_state == GNOTE_STATE_COLLAPSED || n->display_state == GNOTE_STATE_NONE;
    gtk_widget_set_visible(line ? n->line_box : n->input, FALSE);
    gnote_display_full_note(n);
    if (n->mode != GNOTE_MODE_DISPLAY) {
        mark_button_ok(n, TIP_COLLAPSE);
    } else {
        set_arrow(n, "go-up");
        gtk_widget_set_name(n->arrow_button, ACTIVATE_OK);
        gtk_widget_set_visible(n->arrow_button, TRUE);
        take_focus(n, n->arrow_button);
    }
    show_window(n);
    n->display_state = GNOTE_STATE_EXPANDED;
}

void gnote_display_full_note(NoteData_t *n)
{
    FORMS_TRACE;
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(n->full_window), box);
    gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(n->full_window), TRUE);
    n->full_label = box;
    const auto spacer = [box] {
        GtkWidget *gap = gtk_label_new("");
        gtk_widget_set_size_request(gap, -1, SPACER_HEIGHT);
        oska_box_append(box, gap, 0, 0, 0);
    };
    if (!n->note) spacer();
    if (n->note && n->note->type == CM_GNOTE_NOTE_TYPE_AM)
        Abort("gnote_display_full_note: A Note must begin with a paragraph");
    for (const NoteElement_t *e = n->note; e; e = e->next) {
        switch (e->type) {
        case CM_GNOTE_NOTE_TYPE_HIDE:
            if (!n->hidden_visible) break;
            [[fallthrough]];
        case CM_GNOTE_NOTE_TYPE_P: {
            if (e->prior) spacer();
            GtkWidget *label = gtk_label_new(nullptr);
            gtk_label_set_markup(GTK_LABEL(label), paragraph_markup(e).c_str());
            gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
            gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
            gtk_widget_set_size_request(label, n->width - LABEL_INSET, -1);
            gtk_label_set_wrap(GTK_LABEL(label), TRUE);
            oska_box_append(box, label, 0, 0, 0);
            break;
        }
        case CM_GNOTE_NOTE_TYPE_AM: {
            GtkWidget *column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
            char *amount = gnote_format_amount(&e->am.value);
            GtkWidget *label = gtk_label_new(nullptr);
            oska_label_set_markup(label, amount);
            sfree(amount);
            gtk_label_set_xalign(GTK_LABEL(label), 1.0f);
            gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
            gtk_label_set_wrap(GTK_LABEL(label), TRUE);
            oska_box_append(column, label, 1, 1, 0);
            oska_box_append(box, column, 1, 1, 0);
            break;
        }
        case CM_GNOTE_NOTE_TYPE_TAG: break;
        default: Abort("Unexpected Note type %d @ %s:%d", e->type, "gnote_display_full_note", __LINE__);
        }
    }
    gtk_widget_set_visible(n->full_window, TRUE);
}

void gnote_toggle_display(ControlMatrix_t *cm, int index)
{
    NoteData_t *n = checked_note(cset_cm_get_ptr(cm, CM_ENTRY_PTR, index));
    if (n->display_state == GNOTE_STATE_EXPANDED)
        gnote_collapse_p(n);
    else
        gnote_expand_p(n);
}

// ---- Hooks of the forms engine -------------------------------------------------------------------

void gnote_pre_display(NoteData_t *n, ControlMatrix_t *, GlobalData_t *)
{
    set_editing(n, true);
    if (n->display_state == GNOTE_STATE_INPUT) gtk_editable_select_region(GTK_EDITABLE(n->input), 0, -1);
}

void gnote_post_display(NoteData_t *n, ControlMatrix_t *, GlobalData_t *)
{
    set_editing(n, false);
    if (n->display_state == GNOTE_STATE_INPUT) {
        const int at = gtk_editable_get_position(GTK_EDITABLE(n->input));
        gtk_editable_select_region(GTK_EDITABLE(n->input), at, at);
    }
}

int gnote_val_return_press(NoteData_t *n, GlobalData_t *gd)
{
    if (n->display_state == GNOTE_STATE_INPUT) {
        gnote_get_short_text(n);
        n->has_more = gnote_only_short_text(n) ? 0 : 1;
    }
    const int tab = cm_field(n->cm, n->index).tab_seq;
    const bool required = tab == TAB_KEY || tab == TAB_REQUIRED;
    mlog(0, "Do gnote_val_return_press; Index = %d", n->index);
    int count = static_cast<int>(std::strlen(n->short_text));
    while (count > 0 && n->short_text[count - 1] == ' ') --count;
    if (count < n->min_chars && (required || count >= 1)) {
        char message[120];
        cutil_sprintf(message, sizeof message, "Entered %d characters, minimum number required is %d.", count,
                      n->min_chars);
        gmessage(message, "Warning");
        return 0;
    }
    const int length = static_cast<int>(std::strlen(n->short_text));
    mlog(3, "gnote_val_return_press: string is '%s', length is %d, minimum length is %d", n->short_text, length,
         n->min_chars);
    return ginput_validate_input(n->short_text, gd, 1, 0, length, "s", nullptr, nullptr);
}

void gnote_clear(NoteData_t *n)
{
    FORMS_TRACE;
    gnote_free_xml(n);
    gnote_free_original_note(n);
    n->number[0] = '\0';
    n->short_text[0] = '\0';
    const bool display = n->mode == GNOTE_MODE_DISPLAY, made_display = n->created_mode == GNOTE_MODE_DISPLAY;
    if (display && !made_display) {
        gtk_widget_set_visible(n->arrow_button, FALSE);
        gtk_widget_set_visible(n->line_box, FALSE);
        gtk_widget_set_visible(n->activate_button, TRUE);
        gtk_widget_set_visible(n->input, TRUE);
        n->display_state = GNOTE_STATE_INPUT;
    } else if (n->mode >= GNOTE_MODE_EDIT && n->mode <= GNOTE_MODE_ONE_LINE && made_display) {
        gtk_widget_set_visible(n->activate_button, FALSE);
        gtk_widget_set_visible(n->input, FALSE);
        gtk_widget_set_visible(n->arrow_button, TRUE);
        gtk_widget_set_visible(n->line_box, TRUE);
        n->display_state = GNOTE_STATE_COLLAPSED;
    }
    n->mode = n->created_mode;
    n->has_more = n->mode <= GNOTE_MODE_DISPLAY ? 1 : 0;
    gnote_collapse_p(n);
    n->has_more = 0;
    switch (n->mode) {
    case GNOTE_MODE_EDIT:
    case GNOTE_MODE_TEMPLATE:
    case GNOTE_MODE_ONE_LINE: gtk_widget_set_name(n->activate_button, ""); break;
    case GNOTE_MODE_DISPLAY: gtk_widget_set_name(n->arrow_button, ""); break;
    case GNOTE_MODE_NULL:
        n->display_state = GNOTE_STATE_NONE;
        gtk_widget_set_visible(n->arrow_button, FALSE);
        gnote_set_activate_label(n, " - ");
        gtk_widget_set_name(n->activate_button, "");
        gtk_widget_set_visible(n->activate_button, TRUE);
        break;
    default: Abort("Invalid operation mode %d", n->mode);
    }
    set_tooltip(n, TIP_UNAVAILABLE);
}

// ---- The road into the edit window ---------------------------------------------------------------

void gnote_get_short_text(NoteData_t *n)
{
    const std::string typed = typed_text(n);
    if (typed == n->short_text && n->note) return;
    store_short(n, typed);
    NoteElement_t *p = first_content(n->note);
    if (p) {
        if (p->type != CM_GNOTE_NOTE_TYPE_P) Abort("The first Note elemenet must be a paragraph");
        if (!p->p.text) Abort("Must have content to a paragraph");
        sfree(p->p.text);
    } else {
        p = gmenu_parse_xml_add(n, "p");
    }
    p->p.text = copy_text(typed);
    free_runs(p->p);
    n->modified = 1;
}

void gnote_edit(ControlMatrix_t *cm, int index, guint key, GtkWidget *widget)
{
    FORMS_TRACE;
    auto *n = static_cast<NoteData_t *>(cset_cm_get_ptr(cm, CM_ENTRY_PTR, index));
    if (!n || handle_kind(n) != CM_FIELD_TYPE_GNOTE) Abort("Unexpected type found in Note");
    const TryLock lock(&n->lock);
    if (!lock.taken()) return;
    ccursor_set_busy(n->cm, 0);
    if (n->field_type != CM_FIELD_TYPE_GNOTE) Abort("Unexpected type found in Note");
    if (widget && widget == n->arrow_button)
        gnote_toggle_display(cm, index);
    else if (!widget && key == GDK_KEY_Page_Up && n->display_state == GNOTE_STATE_EXPANDED)
        gnote_toggle_display(cm, index);
    else if (!widget && key == GDK_KEY_Page_Down && n->display_state != GNOTE_STATE_EXPANDED)
        gnote_toggle_display(cm, index);
    else if (n->mode == GNOTE_MODE_DISPLAY)
        gtk_widget_grab_focus(n->arrow_button);
    else if ((!widget && key == 0) || widget == n->activate_button) {
        if (n->display_state == GNOTE_STATE_INPUT) gnote_get_short_text(n);
        gnote_edit_create(cget_window_for_cm(global_data, cm), n);
    }
    ccallbacks_finish_event(1, 0);
    ccursor_set_inactive(n->cm);
}

// ---- The +/- button ------------------------------------------------------------------------------------

void gnote_create_activate_button(NoteData_t *n)
{
    n->activate_button = gtk_button_new();
    gtk_widget_set_size_request(n->activate_button, BUTTON_SIZE, BUTTON_SIZE);
    any_button_gesture(n->activate_button, "gnote-create-active-button-button", G_CALLBACK(gnote_button_press_F9),
                       GTK_PHASE_CAPTURE);
    key_controller(n->activate_button, "gnote-activate-button", G_CALLBACK(gnote_key_press_event));
    gnote_set_activate_label(n, n->mode == GNOTE_MODE_NULL ? "<b>-</b>" : "<b>+</b>");
    oska_box_append(n->hbox2, n->activate_button, 1, 0, 0);
    gtk_widget_set_visible(n->activate_button, n->mode != GNOTE_MODE_DISPLAY);
}

gboolean gnote_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode, GdkModifierType state,
                               gpointer gd)
{
    if (keyval != GDK_KEY_Return && keyval != GDK_KEY_KP_Enter)
        return on_key_press_event(controller, keyval, keycode, state, gd);
    forms_callback([&] {
        GtkWidget *button = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller));
        ControlMatrix_t *cm = cm_of(static_cast<GlobalData_t *>(gd), button, true);
        gnote_edit(cm, field_of(cm, button), 0, nullptr);
    });
    return TRUE;
}

void gnote_button_press_F9(GtkGestureClick *gesture, int, double, double, gpointer data)
{
    forms_callback([&] {
        auto *gd = static_cast<GlobalData_t *>(data);
        const RoutineName name("gnote_button_press_F9");
        if (gd->log_level_lumbas > 2) mlog(3, "Before gnote_button_press_F9");
        GtkWidget *widget = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(gesture));
        ControlMatrix_t *cm = cm_of(gd, widget, true);
        const int index = field_of(cm, widget);
        if (index && cmat_check_clickable(cm, cm->current_focus, index)) {
            const guint button = gtk_gesture_single_get_current_button(GTK_GESTURE_SINGLE(gesture));
            if (button == GDK_BUTTON_PRIMARY) {
                const ClickedWidget clicked(widget);
                on_key_press_f9(widget, gd, 0);
            } else if (button == GDK_BUTTON_SECONDARY) {
                gnote_toggle_display(cm, index);
            }
        }
        oska_on_button_propagate(GTK_GESTURE(gesture), 1);
        if (gd->log_level_lumbas > 2) mlog(3, "After gnote_button_press_F9");
    });
}

// ---- The one-line input ------------------------------------------------------------------------------

void gnote_input_insert_text(GtkEditable *editable, const char *text, int length, int *position, gpointer gd)
{
    forms_callback([&] {
        const InputField f = input_field(GTK_WIDGET(editable), gd);
        // The form keeps the keyboard until the edit window has it, and the window's opening turns
        // the main loop: what the user types on meanwhile reaches this input, and belongs to the
        // note in the window.
        if (gnote_edit_take_typed(f.note, text, length)) return;
        if (!edit_allowed(f)) return;
        {
            const BlockedHandler self(editable, G_CALLBACK(gnote_input_insert_text), gd);
            gtk_editable_insert_text(editable, text, length, position);
        }
        if (input_text(f.note).size() > CM_GNOTE_TEXT_SIZE) {
            gnote_edit(f.cm, f.index, 0, nullptr);
            gnote_set_short_note(f.note);
            gnote_set_input_text(f.note, f.note->short_text);
            if (f.note->focus_widget) gtk_widget_grab_focus(f.note->focus_widget);
        }
    });
    g_signal_stop_emission_by_name(editable, "insert-text");
}

void gnote_input_delete_text(GtkEditable *editable, int start, int end, gpointer gd)
{
    if (start == end) return;
    forms_callback([&] {
        const InputField f = input_field(GTK_WIDGET(editable), gd);
        const BlockedHandler self(editable, G_CALLBACK(gnote_input_delete_text), gd);
        if (edit_allowed(f)) gtk_editable_delete_text(editable, start, end);
    });
    g_signal_stop_emission_by_name(editable, "delete-text");
}

gboolean gnote_input_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode,
                                     GdkModifierType state, gpointer gd)
{
    if (cutil_conv_eventkey_to_char(keyval, state) != 10) return FALSE;  // a plain character: the input's
    return on_key_press_event(controller, keyval, keycode, state, gd);
}

void gnote_input_focus_in_entry_event(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd)
{
    const guint button = gtk_gesture_single_get_current_button(GTK_GESTURE_SINGLE(gesture));
    if (button != GDK_BUTTON_MIDDLE && button != GDK_BUTTON_SECONDARY) {
        on_button_press_event(gesture, n_press, x, y, gd);
        return;
    }
    GtkWidget *input = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(gesture));
    g_signal_emit_by_name(input, "paste-clipboard");
    oska_on_button_propagate(GTK_GESTURE(gesture), 1);
}

// ---- IGNOTE_NEW ----------------------------------------------------------------------------------------

void ignote_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    mlog(2, "Do ignote_new");
    constexpr const char *no_cm = "Must set the Process Control Matrix before creating the note widget";
    if (!cutil_get_cm(global_data, &intr::arg(nargs, last, 0))) Abort("%s", no_cm);
    const auto integer = [&](int i) { return intr::integer(intr::arg(nargs, last, i)); };
    NewArgs a{integer(2), integer(3), std::string(intr::text(intr::arg(nargs, last, 4))), integer(5), integer(6),
              integer(7), integer(8), integer(9), integer(10), integer(11)};
    if (a.mode < GNOTE_MODE_NULL || a.mode > GNOTE_MODE_ONE_LINE)
        Abort("Operational Mode %d must be one of: 0 = Null; 1 = Display; 2 = Edit; 3 = Template; 4 = Edit One Line",
              a.mode);
    const FieldRecord made = gfield_make_record(nargs, last, CM_FIELD_TYPE_GNOTE, AC_NOTE_SETUP, sizeof(NoteData_t),
                                                no_cm, nullptr);
    cutil_cp_stack(made.cm, nullptr, 0, made.index, AC_NOTE_F9, nullptr, nullptr, 1);

    NoteData_t *n = note_of(made.record);
    n->index = made.index;
    n->cm = made.cm;
    n->edit_width = a.edit_width;
    n->edit_height = a.edit_height;
    n->name = g_strdup(valid_utf8(a.name).c_str());
    n->min_chars = a.min_chars;
    std::strcpy(n->input_type, "s");
    n->mode = n->created_mode = a.mode;
    n->width = a.width;
    NumericCvINT(0, &n->total);
    g_mutex_init(&n->lock);
    if (a.placement < 0 || a.placement > 9) Abort("Placement %d is out of range", a.placement);
    n->placement = a.placement;
    n->display_state = a.mode == GNOTE_MODE_NULL      ? GNOTE_STATE_NONE
                       : a.mode == GNOTE_MODE_DISPLAY ? GNOTE_STATE_COLLAPSED
                                                      : GNOTE_STATE_INPUT;
    build_widgets(n, a);
    n->version = 1;
    gnote_collapse_p(n);
    mlog(2, "gnote_new: note_data pointer = %X", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(n)));
    gwidget_give_record(result, n);
}

void gnote_register_kind()
{
    static constexpr NoteFieldOps edit_window_ops = {
        .collapse = gnote_collapse_p,
        .expand = gnote_expand_p,
        .short_note = gnote_set_short_note,
        .input_text = gnote_set_input_text,
        .window_opened = swap_in,
        .window_gone = swap_back,
        .was_expanded = expanded_before_window,
    };
    gnote_register_edit_window(edit_window_ops);
    register_field_kind({
        .kind = CM_FIELD_TYPE_GNOTE,
        .type = WIDGET_NOTE,
        .record = {
            .free = free_note,
            .owns = owns_note,
            .principal = outer_note,
            .own_index = index_of_note,
            .set_sensitive = set_sensitive_note,
        },
        .behaviour = {
            .value = value_note,
            .validate = validate_note,
            .pre_display = pre_display_note,
            .post_display = post_display_note,
            .focus_widget = focus_note,
            .clear = clear_note,
            .edit = edit_note,
            .context_menu = context_menu_note,
            .key_refused = refused_note,
        },
        .intrinsics = {
            .packed = outer_note,
            .tooltip = outer_note,
            .destroy = destroy_note,
            .set_name = set_name_note,
        },
    });
}
