// The note edit window: building it (its actions, whose handlers the satellites install, and
// their tool bar), its element views, taking the views back into the element list, and the roads
// out (save, cancel, and the window destroyed any other way), where it calls the field through
// the operations the field registered.
#include "gnote_edit_parts.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "cattach.h"
#include "ccallback.h"
#include "cevents.h"
#include "cfield.h"
#include "cfocus.h"
#include "cinvoke.h"
#include "ckeys.h"
#include "cmatrix.h"
#include "cnext.h"
#include "ctable_bgcolour.h"
#include "gdata.h"
#include "gmessage.h"
#include "ginput.h"
#include "gmisc.h"
#include "gsoftkeys.h"
#include "gwidget.h"
#include "gwindow.h"
#include "interp.h"
#include "kinds.h"
#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"

namespace {

// The field's operations, registered with the window kind.
const NoteFieldOps *field_ops = nullptr;

const NoteFieldOps &field()
{
    if (!field_ops) Abort("The note field is not available");
    return *field_ops;
}

constexpr int SPACER_HEIGHT = 7;
constexpr char SPACER_KEY[] = "note-spacer";
constexpr int AMOUNT_CHARS = 20;
constexpr int AC_F8_KEY = AC_F1 + 7;

bool is_paragraph(const NoteElement_t *e)
{
    return e->type == CM_GNOTE_NOTE_TYPE_P || e->type == CM_GNOTE_NOTE_TYPE_HIDE;
}

char *copy_text(std::string_view text)
{
    auto *copy = static_cast<char *>(salloc(text.size() + 1));
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

// ---- The paragraph views' heights ---------------------------------------------------------------------
// A text view lays its text out for its width while it is being allocated, and asks then for the
// height that text needs; GTK drops a resize asked for during an allocation, so a view could keep
// the height it had before (none at all when it was new, two lines where its text had wrapped
// before it had a width). The paragraph views ask again at the next frame.

struct NoteTextView {
    GtkTextView parent_instance;
};
struct NoteTextViewClass {
    GtkTextViewClass parent_class;
};
G_DEFINE_TYPE(NoteTextView, note_text_view, GTK_TYPE_TEXT_VIEW)

int natural_height(GtkWidget *w)
{
    int natural = 0;
    gtk_widget_measure(w, GTK_ORIENTATION_VERTICAL, -1, nullptr, &natural, nullptr, nullptr);
    return natural;
}

gboolean resize_again(GtkWidget *w, GdkFrameClock *, gpointer)
{
    gtk_widget_queue_resize(w);
    return G_SOURCE_REMOVE;
}

void note_text_view_size_allocate(GtkWidget *w, int width, int height, int baseline)
{
    const int before = natural_height(w);
    GTK_WIDGET_CLASS(note_text_view_parent_class)->size_allocate(w, width, height, baseline);
    // A tick callback runs before the next frame's layout, where the resize is kept.
    if (natural_height(w) != before) gtk_widget_add_tick_callback(w, resize_again, nullptr, nullptr);
}

void note_text_view_class_init(NoteTextViewClass *c)
{
    GTK_WIDGET_CLASS(c)->size_allocate = note_text_view_size_allocate;
}

void note_text_view_init(NoteTextView *) {}

// The element the redraw puts the focus into is the current one, so that keys and actions work
// on the element the user is in.
void take_current(NoteElement_t *e)
{
    for (NoteElement_t *o = e->note_data->note; o; o = o->next) o->focus = 0;
    e->focus = 1;
}

// ---- The edit refusal on every change of text ---------------------------------------------------------
// Paste, cut, input-method text and non-ASCII characters change a view without a key the key
// handlers know; the buffers' and inputs' own change signals run the check for them too.

void paragraph_insert_checked(GtkTextBuffer *buffer, GtkTextIter *, char *, int, gpointer element)
{
    auto *e = static_cast<NoteElement_t *>(element);
    bool refused = false;
    forms_callback([&] { refused = gnote_edit_refused(e->note_data, GdkModifierType(0), GDK_KEY_space); });
    if (refused) g_signal_stop_emission_by_name(buffer, "insert-text");
}

void paragraph_delete_checked(GtkTextBuffer *buffer, GtkTextIter *start, GtkTextIter *end, gpointer element)
{
    if (gtk_text_iter_equal(start, end)) return;
    auto *e = static_cast<NoteElement_t *>(element);
    bool refused = false;
    forms_callback([&] { refused = gnote_edit_refused(e->note_data, GdkModifierType(0), GDK_KEY_Delete); });
    if (refused) g_signal_stop_emission_by_name(buffer, "delete-range");
}

void amount_insert_checked(GtkEditable *editable, const char *, int, int *, gpointer element)
{
    auto *e = static_cast<NoteElement_t *>(element);
    bool refused = false;
    forms_callback([&] { refused = gnote_edit_refused(e->note_data, GdkModifierType(0), GDK_KEY_space); });
    if (refused) g_signal_stop_emission_by_name(editable, "insert-text");
}

void amount_delete_checked(GtkEditable *editable, int start, int end, gpointer element)
{
    if (start == end) return;
    auto *e = static_cast<NoteElement_t *>(element);
    bool refused = false;
    forms_callback([&] { refused = gnote_edit_refused(e->note_data, GdkModifierType(0), GDK_KEY_Delete); });
    if (refused) g_signal_stop_emission_by_name(editable, "delete-text");
}

// ---- The window's actions ---------------------------------------------------------------------------------

void quit_action(GSimpleAction *, GVariant *, gpointer note)
{
    forms_callback([&] {
        auto *n = static_cast<NoteData_t *>(note);
        if (!n->edit_scroller) return;
        gnote_edit_button_press_cancel(n->edit_scroller, GDK_KEY_Escape, n);
        ccallbacks_finish_event(1, 0);
    });
}

void save_action(GSimpleAction *, GVariant *, gpointer note)
{
    forms_callback([&] {
        auto *n = static_cast<NoteData_t *>(note);
        if (!n->edit_scroller) return;
        gnote_edit_button_press_save(n->edit_scroller, 0, n);
        ccallbacks_finish_event(1, 1);
    });
}

// The window's actions, in the order of the Edit menu and the tool bar; a row with an icon has a
// button in the tool bar, which activates the action. Each satellite installs the handlers of its
// own actions.
struct ActionRow {
    const char *submenu, *label, *name;
    int presence;  // 0 always, 1 outside Template mode, 2 in Template mode only
    const char *icon, *tooltip;
};

const ActionRow action_rows[] = {
    {"File", "_Quit", "quit", 0, nullptr, nullptr},
    {"File", "_Save", "save", 0, nullptr, nullptr},
    {"Edit", "_Bold", "bold", 0, "format-text-bold", "Bold the selected text"},
    {"Edit", "_Italic", "italic", 0, "format-text-italic", "Make the selected text italic"},
    {"Edit", "_Underline", "underline", 0, "format-text-underline", "Underline the selected text"},
    {"Edit", "Add A_mount", "amount", 0, "list-add", "Add an amount field"},
    {"Edit", "D_elete Amount", "del-amount", 0, "list-remove", "Delete an amount field"},
    {"Edit", "_Hidden comments", "visibility", 1, "format-text-strikethrough", "Toggle hidden comments visibility"},
    {"Edit", "_Tag", "tag", 2, "bookmark-new", "Highlight block and add start and end tags"},
    {"Edit", "_Hidden comment", "hide", 2, "format-text-strikethrough", "Toggle hidden comment status for a paragraph"},
    {"Edit", "App_rove", "approve", 0, "go-next", "Approve the note"},
};

std::string detailed_name(const ActionRow &row) { return std::string("gnotes.") + row.name; }

bool present(int presence, int mode)
{
    return presence == 0 || (presence == 1 && mode != GNOTE_MODE_TEMPLATE) ||
           (presence == 2 && mode == GNOTE_MODE_TEMPLATE);
}

GtkWidget *menu_bar(GtkWidget *window, NoteData_t *n)
{
    GSimpleActionGroup *group = g_simple_action_group_new();
    GMenu *model = g_menu_new();
    GMenu *file = g_menu_new(), *edit = g_menu_new();
    for (const ActionRow &row : action_rows) {
        if (!present(row.presence, n->mode)) continue;
        GSimpleAction *action = g_simple_action_new(row.name, nullptr);
        g_action_map_add_action(G_ACTION_MAP(group), G_ACTION(action));
        g_object_unref(action);
        g_menu_append(std::strcmp(row.submenu, "File") == 0 ? file : edit, row.label, detailed_name(row).c_str());
    }
    GActionMap *actions = G_ACTION_MAP(group);
    gnote_edit_on_action(actions, "quit", G_CALLBACK(quit_action), n);
    gnote_edit_on_action(actions, "save", G_CALLBACK(save_action), n);
    gnote_edit_actions_install(actions, n);
    gnote_edit_amounts_install(actions, n);
    gnote_edit_tags_install(actions, n);
    // An action nobody installed would do nothing, silently.
    const guint activate = g_signal_lookup("activate", G_TYPE_SIMPLE_ACTION);
    for (const ActionRow &row : action_rows)
        if (GAction *action = g_action_map_lookup_action(actions, row.name))
            PROGRAM_ASSERT(g_signal_has_handler_pending(action, activate, 0, FALSE));
    g_menu_append_submenu(model, "File", G_MENU_MODEL(file));
    g_menu_append_submenu(model, "Edit", G_MENU_MODEL(edit));
    gtk_widget_insert_action_group(window, "gnotes", G_ACTION_GROUP(group));
    GtkWidget *bar = gtk_popover_menu_bar_new_from_model(G_MENU_MODEL(model));
    for (GObject *o : {G_OBJECT(group), G_OBJECT(model), G_OBJECT(file), G_OBJECT(edit)}) g_object_unref(o);
    return bar;
}

// After a tool-bar action the keys go on to the element the clerk was in (or the one the action
// made current), not to the button clicked.
void focus_back(GtkButton *, gpointer note)
{
    forms_callback([&] {
        auto *n = static_cast<NoteData_t *>(note);
        if (!n->edit_scroller || !n->note) return;
        if (GtkWidget *w = gnote_element_widget(gnote_get_current_focus(n))) gtk_widget_grab_focus(w);
    });
}

GtkWidget *tool_bar(NoteData_t *n)
{
    GtkWidget *bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_set_homogeneous(GTK_BOX(bar), FALSE);
    gtk_widget_add_css_class(bar, "toolbar");
    for (const ActionRow &row : action_rows) {
        if (!row.icon || !present(row.presence, n->mode)) continue;
        GtkWidget *button = gtk_button_new_from_icon_name(row.icon);
        gtk_widget_set_tooltip_text(button, row.tooltip);
        // A click leaves the keyboard where it was: a selection to format stays selected.
        gtk_widget_set_focus_on_click(button, FALSE);
        gtk_actionable_set_action_name(GTK_ACTIONABLE(button), detailed_name(row).c_str());
        g_signal_connect_after(button, "clicked", G_CALLBACK(focus_back), n);
        gtk_box_append(GTK_BOX(bar), button);
    }
    return bar;
}

// ---- The views box ----------------------------------------------------------------------------------
// GTK draws every child of a scrolled box at every frame, seen or not: with thousands of views a
// typed key cost tens of milliseconds. The views box draws only the views in the scroller's page,
// and draws again when the page moves.

constexpr double DRAW_MARGIN = 32;  // pixels above and below the page drawn as well

// The page's first view is kept from one frame to the next: the walk to the page starts there,
// so that it does not grow with the note.
struct NoteViewsBox {
    GtkBox parent_instance;
    GtkWidget *first_drawn;  // a reference, or null
};
struct NoteViewsBoxClass {
    GtkBoxClass parent_class;
};
G_DEFINE_TYPE(NoteViewsBox, note_views_box, GTK_TYPE_BOX)

// The child's top and bottom in the box; false when it has no place yet.
bool child_span(GtkWidget *box, GtkWidget *child, double *top, double *bottom)
{
    graphene_rect_t bounds;
    if (!gtk_widget_compute_bounds(child, box, &bounds)) return false;
    *top = bounds.origin.y;
    *bottom = bounds.origin.y + bounds.size.height;
    return true;
}

// The first child reaching down to top or below, searched from the page's first view of the last
// frame (the box's first child when that view has gone).
GtkWidget *first_reaching(NoteViewsBox *self, GtkWidget *box, double top)
{
    GtkWidget *child = self->first_drawn && gtk_widget_get_parent(self->first_drawn) == box
                           ? self->first_drawn
                           : gtk_widget_get_first_child(box);
    double from = 0, to = 0;
    // Back while the child before still reaches the page, then on past children above it.
    for (GtkWidget *prior = child ? gtk_widget_get_prev_sibling(child) : nullptr; prior;
         prior = gtk_widget_get_prev_sibling(prior)) {
        if (child_span(box, prior, &from, &to) && to < top) break;
        child = prior;
    }
    while (child && (!child_span(box, child, &from, &to) || to < top)) child = gtk_widget_get_next_sibling(child);
    return child;
}

void note_views_box_snapshot(GtkWidget *box, GtkSnapshot *snapshot)
{
    GtkWidget *scroller = gtk_widget_get_ancestor(box, GTK_TYPE_SCROLLED_WINDOW);
    if (!scroller) {
        GTK_WIDGET_CLASS(note_views_box_parent_class)->snapshot(box, snapshot);
        return;
    }
    // The viewport places the box at minus the scroll position: the page is that far down the box.
    GtkAdjustment *adj = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scroller));
    const double top = gtk_adjustment_get_value(adj) - DRAW_MARGIN;
    const double bottom = gtk_adjustment_get_value(adj) + gtk_adjustment_get_page_size(adj) + DRAW_MARGIN;
    auto *self = reinterpret_cast<NoteViewsBox *>(box);
    GtkWidget *first = first_reaching(self, box, top);
    g_set_object(&self->first_drawn, first);
    double from = 0, to = 0;
    for (GtkWidget *child = first; child; child = gtk_widget_get_next_sibling(child)) {
        if (!child_span(box, child, &from, &to)) continue;
        if (from > bottom) break;
        gtk_widget_snapshot_child(box, child, snapshot);
    }
}

void note_views_box_dispose(GObject *box)
{
    g_clear_object(&reinterpret_cast<NoteViewsBox *>(box)->first_drawn);
    G_OBJECT_CLASS(note_views_box_parent_class)->dispose(box);
}

void note_views_box_class_init(NoteViewsBoxClass *c)
{
    GTK_WIDGET_CLASS(c)->snapshot = note_views_box_snapshot;
    G_OBJECT_CLASS(c)->dispose = note_views_box_dispose;
}

void note_views_box_init(NoteViewsBox *self) { self->first_drawn = nullptr; }

GtkWidget *new_views_box()
{
    GtkWidget *box =
        GTK_WIDGET(g_object_new(note_views_box_get_type(), "orientation", GTK_ORIENTATION_VERTICAL, nullptr));
    gtk_widget_set_valign(box, GTK_ALIGN_START);
    gtk_box_set_homogeneous(GTK_BOX(box), FALSE);
    gtk_box_set_baseline_position(GTK_BOX(box), GTK_BASELINE_POSITION_TOP);
    return box;
}

// A new views box becomes the scroller's child; it draws again whenever the page moves or the
// content's height changes.
void put_views_box(NoteData_t *n)
{
    n->views_box = new_views_box();
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(n->edit_scroller), n->views_box);
    GtkAdjustment *adj = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(n->edit_scroller));
    for (const char *signal : {"value-changed", "changed"})
        g_signal_connect_object(adj, signal, G_CALLBACK(gtk_widget_queue_draw), n->views_box, G_CONNECT_SWAPPED);
}

GtkWidget *heading(NoteData_t *n)
{
    GtkWidget *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    GtkWidget *type = gtk_label_new(valid_utf8(n->note_type).c_str());
    gtk_widget_set_name(type, "l1NoteEdit");
    GtkWidget *desc = gtk_label_new(valid_utf8(n->type_desc).c_str());
    gtk_widget_set_name(desc, "l2NoteEdit");
    oska_box_append(row, type, 0, 0, 2);
    oska_box_append(row, desc, 0, 0, 2);
    n->total_label = gtk_label_new("nil");
    gtk_widget_set_name(n->total_label, "l3NoteEdit");
    oska_box_append_end(row, n->total_label, 1, 0, 25);
    return row;
}

int scroller_width(NoteData_t *n)
{
    int width = 0;
    gtk_widget_measure(n->edit_scroller, GTK_ORIENTATION_HORIZONTAL, -1, &width, nullptr, nullptr, nullptr);
    return width;
}

void size_view(GtkWidget *view, int width)
{
    int natural = 0;
    gtk_widget_measure(view, GTK_ORIENTATION_VERTICAL, width, nullptr, &natural, nullptr, nullptr);
    gtk_widget_set_size_request(view, width, natural);
}

// Sizes the views for the scroller: the views box asks for the scroller's minimum width and its
// minimum height at that width, every view for that width and its natural height there. GTK 4
// measures a scrolled window by its scroll bar and a text view not yet laid out by its frame, so
// these are floors the box layout goes beyond: a view still follows its text as it wraps and grows.
void size_views(NoteData_t *n)
{
    const int width = scroller_width(n);
    int height = 0;
    gtk_widget_measure(n->edit_scroller, GTK_ORIENTATION_VERTICAL, width, &height, nullptr, nullptr, nullptr);
    gtk_widget_set_size_request(n->views_box, width, height);
    gtk_widget_queue_resize(n->views_box);
    for (GtkWidget *view = gtk_widget_get_first_child(n->views_box); view; view = gtk_widget_get_next_sibling(view))
        size_view(view, width);
}


// The views of an element without one now are stale: forget them.
void forget_views(NoteElement_t *e)
{
    e->p.view = nullptr;
    e->p.buffer = nullptr;
    e->p.bold_tag = e->p.italic_tag = e->p.underline_tag = nullptr;
    e->p.click_controller = e->p.key_controller = e->p.focus_controller = e->p.motion_controller = nullptr;
}

// The bytes of the note's longest paragraph (hidden ones too: Template mode edits them).
std::size_t longest_paragraph(const NoteData_t *n)
{
    std::size_t longest = 0;
    for (const NoteElement_t *e = n->note; e; e = e->next)
        if (is_paragraph(e) && e->p.text) longest = std::max(longest, std::strlen(e->p.text));
    return longest;
}

// The edit window's GtkWindow.
GtkWidget *edit_window(const NoteData_t *n)
{
    return n->edit_scroller ? GTK_WIDGET(gtk_widget_get_root(n->edit_scroller)) : nullptr;
}

void on_gnote_new_destroy(GtkWidget *window, gpointer note);

// Releases the edit window from the forms engine and destroys it. Its destroy handler is
// disconnected first: the road out has done the handler's work on the note already.
void close_window(GtkWidget *window, NoteData_t *n)
{
    g_signal_handlers_disconnect_by_func(window, reinterpret_cast<gpointer>(on_gnote_new_destroy), n);
    n->edit_scroller = nullptr;
    n->views_box = nullptr;
    n->focus_widget = nullptr;
    n->total_label = nullptr;
    cmat_free_window(window, Program_name);
    gtk_window_destroy(GTK_WINDOW(window));
}

// The field's redisplay after the window: expanded when it was expanded (state 3).
void redisplay(NoteData_t *n, bool expanded)
{
    if (expanded)
        field().expand(n);
    else
        field().collapse(n);
}

// A program routine of the field run on the form's matrix (IP$ empty): its answer.
struct RoutineRun {
    int answer = 1;
    int closing = 0;
};
RoutineRun run_routine(ControlMatrix_t *cm, int code, int *index)
{
    RoutineRun r;
    ControlMatrix_t *out = nullptr;
    char *text = nullptr;
    r.answer =
        cinvoke_basic_routine(cm, &out, code, index, nullptr, global_data, "IP$", "", 0, 0, &text, &r.closing, 0);
    g_free(text);
    return r;
}

void save_hook(ControlMatrix_t *cm)
{
    auto *n = static_cast<NoteData_t *>(cm->window_data);
    gnote_edit_button_press_save(cm->window, GDK_KEY_F12, n);
}

void cancel_hook(ControlMatrix_t *cm, guint keyval)
{
    auto *n = static_cast<NoteData_t *>(cm->window_data);
    gnote_edit_button_press_cancel(cm->window, keyval, n);
}

void grab_focus_hook(ControlMatrix_t *cm)
{
    auto *n = static_cast<NoteData_t *>(cm->window_data);
    if (n && n->focus_widget) gtk_widget_grab_focus(n->focus_widget);
}

// The arrays of one kind of run of a paragraph.
struct RunKind {
    std::int32_t *NoteParagraph_t::*start;
    std::int32_t *NoteParagraph_t::*end;
    std::int32_t NoteParagraph_t::*count;
};
constexpr RunKind run_kinds[] = {
    {&NoteParagraph_t::bold_start, &NoteParagraph_t::bold_end, &NoteParagraph_t::bold_count},
    {&NoteParagraph_t::italic_start, &NoteParagraph_t::italic_end, &NoteParagraph_t::italic_count},
    {&NoteParagraph_t::underline_start, &NoteParagraph_t::underline_end, &NoteParagraph_t::underline_count},
};

// Where byte position at of text lies in shown, the text its view was filled with, reached by
// characters as the view's runs were applied.
std::int32_t shown_position(const char *text, const std::string &shown, std::int32_t at)
{
    if (at < 0) return at;
    const glong chars = std::min<glong>(gnote_byte_to_char(text, at), g_utf8_strlen(shown.c_str(), -1));
    return static_cast<std::int32_t>(g_utf8_offset_to_pointer(shown.c_str(), chars) - shown.c_str());
}

// A paragraph taken back from its view just as the view was filled, runs included, keeps its own
// bytes and runs: the view had to show bytes that are no UTF-8 as replacement characters, which are
// no change of the clerk's.
void keep_unchanged_bytes(NoteParagraph_t &now, const NoteParagraph_t &before)
{
    if (!before.text || !now.text || g_utf8_validate(before.text, -1, nullptr)) return;
    const std::string shown = valid_utf8(before.text);
    if (shown != now.text) return;
    for (const RunKind &k : run_kinds) {
        if (now.*k.count != before.*k.count) return;
        for (int i = 0; i < now.*k.count; ++i)
            if ((now.*k.start)[i] != shown_position(before.text, shown, (before.*k.start)[i]) ||
                (now.*k.end)[i] != shown_position(before.text, shown, (before.*k.end)[i]))
                return;
    }
    sfree(now.text);
    now.text = copy_text(before.text);
    for (const RunKind &k : run_kinds)
        for (int i = 0; i < now.*k.count; ++i) {
            (now.*k.start)[i] = (before.*k.start)[i];
            (now.*k.end)[i] = (before.*k.end)[i];
        }
}

} // namespace

// ---- Controllers and actions -------------------------------------------------------------------------

GtkEventController *gnote_edit_add_controller(GtkEventController *controller, const char *name, GtkWidget *widget)
{
    gtk_event_controller_set_name(controller, name);
    gtk_widget_add_controller(widget, controller);
    return controller;
}

void gnote_edit_on_action(GActionMap *actions, const char *name, GCallback handler, NoteData_t *note)
{
    if (GAction *action = g_action_map_lookup_action(actions, name))
        g_signal_connect(action, "activate", handler, note);
}

// ---- Offsets ---------------------------------------------------------------------------------------------

int gnote_char_to_byte(const char *text, int chars)
{
    if (!text || chars <= 0) return 0;
    const char *p = text;
    for (int i = 0; i < chars && *p; ++i) p = g_utf8_next_char(p);
    return static_cast<int>(p - text);
}

int gnote_byte_to_char(const char *text, int bytes)
{
    if (!text || bytes <= 0) return 0;
    // Counted as the view shows the text (valid_utf8): a byte that is no UTF-8 is one replacement
    // character there, so a run after it is applied where its text shows.
    int chars = 0;
    const char *p = text;
    while (*p && p - text < bytes) {
        const gunichar c = g_utf8_get_char_validated(p, -1);
        p = c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2) ? p + 1 : g_utf8_next_char(p);
        ++chars;
    }
    return chars;
}

// ---- The views -------------------------------------------------------------------------------------------

namespace {

// Applies the runs of one kind ("bold", "italic", "underline") to the paragraph's buffer.
void gnote_apply_format_tag(NoteElement_t *e, const char *tag_name)
{
    const std::int32_t *starts, *ends;
    int count;
    switch (tag_name[0]) {
    case 'b': starts = e->p.bold_start, ends = e->p.bold_end, count = e->p.bold_count; break;
    case 'i': starts = e->p.italic_start, ends = e->p.italic_end, count = e->p.italic_count; break;
    case 'u': starts = e->p.underline_start, ends = e->p.underline_end, count = e->p.underline_count; break;
    default: Abort("gnote_apply_format_tag unexpected format type");
    }
    const char *text = e->p.text ? e->p.text : "";
    for (int i = 0; i < count; ++i) {
        GtkTextIter from, to;
        gtk_text_buffer_get_iter_at_offset(e->p.buffer, &from, gnote_byte_to_char(text, starts[i]));
        if (ends[i] < 0)
            gtk_text_buffer_get_end_iter(e->p.buffer, &to);
        else
            gtk_text_buffer_get_iter_at_offset(e->p.buffer, &to, gnote_byte_to_char(text, ends[i]));
        gtk_text_buffer_apply_tag_by_name(e->p.buffer, tag_name, &from, &to);
    }
}

// A paragraph after anything but a tag is kept apart from it by a spacer.
GtkWidget *paragraph_spacer(const NoteElement_t *e)
{
    if (!e->prior || e->prior->type == CM_GNOTE_NOTE_TYPE_TAG) return nullptr;
    GtkWidget *spacer = gtk_label_new(" ");
    gtk_widget_set_size_request(spacer, -1, SPACER_HEIGHT);
    g_object_set_data(G_OBJECT(spacer), SPACER_KEY, GINT_TO_POINTER(1));
    return spacer;
}

// The buffer's text and runs are the element's, without asking the Edit_Content routine: the
// element changed already.
void fill_buffer(NoteElement_t *e)
{
    g_signal_handlers_block_matched(e->p.buffer, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, e);
    gtk_text_buffer_set_text(e->p.buffer, valid_utf8(e->p.text ? e->p.text : "").c_str(), -1);
    gnote_apply_format_tag(e, "bold");
    gnote_apply_format_tag(e, "italic");
    gnote_apply_format_tag(e, "underline");
    g_signal_handlers_unblock_matched(e->p.buffer, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, e);
}

// Reads the paragraph view of from (its buffer and format tags) into the text and runs of into,
// which holds no runs.
void read_paragraph_view(const NoteElement_t *from, NoteElement_t *into)
{
    GtkTextIter it, end;
    gtk_text_buffer_get_bounds(from->p.buffer, &it, &end);
    char *text = gtk_text_buffer_get_text(from->p.buffer, &it, &end, TRUE);
    sfree(into->p.text);
    into->p.text = copy_text(text);
    g_free(text);
    // Runs are recorded at byte positions: each character advances the position by its length.
    int bold = 0, italic = 0, underline = 0, at = 0;
    for (; !gtk_text_iter_is_end(&it); gtk_text_iter_forward_char(&it)) {
        if (gtk_text_iter_toggles_tag(&it, nullptr)) {
            if (gtk_text_iter_starts_tag(&it, from->p.bold_tag))
                bold = gnote_add_format_tag_position(into, "bold", at, bold);
            if (gtk_text_iter_starts_tag(&it, from->p.italic_tag))
                italic = gnote_add_format_tag_position(into, "italic", at, italic);
            if (gtk_text_iter_starts_tag(&it, from->p.underline_tag))
                underline = gnote_add_format_tag_position(into, "underline", at, underline);
            if (gtk_text_iter_ends_tag(&it, from->p.bold_tag))
                bold = gnote_end_format_tag_position(into, "bold", at, bold);
            if (gtk_text_iter_ends_tag(&it, from->p.italic_tag))
                italic = gnote_end_format_tag_position(into, "italic", at, italic);
            if (gtk_text_iter_ends_tag(&it, from->p.underline_tag))
                underline = gnote_end_format_tag_position(into, "underline", at, underline);
        }
        char utf8[6];
        at += g_unichar_to_utf8(gtk_text_iter_get_char(&it), utf8);
    }
    if (bold) gnote_end_format_tag_position(into, "bold", at, bold);
    if (italic) gnote_end_format_tag_position(into, "italic", at, italic);
    if (underline) gnote_end_format_tag_position(into, "underline", at, underline);
}

bool same_positions(const std::int32_t *a, const std::int32_t *b, int count)
{
    return count <= 0 || std::memcmp(a, b, sizeof(std::int32_t) * count) == 0;
}

bool same_text_and_runs(const NoteParagraph_t &a, const NoteParagraph_t &b)
{
    return std::strcmp(a.text ? a.text : "", b.text ? b.text : "") == 0 && a.bold_count == b.bold_count &&
           a.italic_count == b.italic_count && a.underline_count == b.underline_count &&
           same_positions(a.bold_start, b.bold_start, a.bold_count) &&
           same_positions(a.bold_end, b.bold_end, a.bold_count) &&
           same_positions(a.italic_start, b.italic_start, a.italic_count) &&
           same_positions(a.italic_end, b.italic_end, a.italic_count) &&
           same_positions(a.underline_start, b.underline_start, a.underline_count) &&
           same_positions(a.underline_end, b.underline_end, a.underline_count);
}

void swap_text_and_runs(NoteParagraph_t &a, NoteParagraph_t &b)
{
    std::swap(a.text, b.text);
    std::swap(a.bold_start, b.bold_start), std::swap(a.bold_end, b.bold_end), std::swap(a.bold_count, b.bold_count);
    std::swap(a.italic_start, b.italic_start), std::swap(a.italic_end, b.italic_end);
    std::swap(a.italic_count, b.italic_count);
    std::swap(a.underline_start, b.underline_start), std::swap(a.underline_end, b.underline_end);
    std::swap(a.underline_count, b.underline_count);
}

void gnote_view_add_paragraph(NoteData_t *n, GtkWidget *box, NoteElement_t *e)
{
    if (box) {
        if (GtkWidget *spacer = paragraph_spacer(e)) oska_box_append(box, spacer, 0, 0, 0);
    }
    e->p.view = GTK_WIDGET(g_object_new(note_text_view_get_type(), nullptr));
    if (box) oska_box_append(box, e->p.view, 1, 0, 0);
    e->p.buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(e->p.view));
    gtk_text_buffer_set_text(e->p.buffer, valid_utf8(e->p.text ? e->p.text : "").c_str(), -1);
    e->p.bold_tag = gtk_text_buffer_create_tag(e->p.buffer, "bold", "weight", 900, nullptr);
    e->p.italic_tag = gtk_text_buffer_create_tag(e->p.buffer, "italic", "style", PANGO_STYLE_ITALIC, nullptr);
    e->p.underline_tag = gtk_text_buffer_create_tag(e->p.buffer, "underline", "underline", PANGO_UNDERLINE_SINGLE,
                                                    nullptr);
    GtkWidget *view = e->p.view;
    if (n->mode == GNOTE_MODE_TEMPLATE || e->type != CM_GNOTE_NOTE_TYPE_HIDE) {
        if (!is_paragraph(e)) Abort("Unexpected note type @ %s", "gnote_view_add_paragraph");
        gtk_text_view_set_editable(GTK_TEXT_VIEW(view), TRUE);
        gnote_edit_views_install(view, e);
        gnote_edit_keys_install(view, e);
        g_signal_connect(e->p.buffer, "insert-text", G_CALLBACK(paragraph_insert_checked), e);
        g_signal_connect(e->p.buffer, "delete-range", G_CALLBACK(paragraph_delete_checked), e);
    } else {
        gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
        gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
    }
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD);
    gnote_apply_format_tag(e, "bold");
    gnote_apply_format_tag(e, "italic");
    gnote_apply_format_tag(e, "underline");
    const bool hidden = e->type == CM_GNOTE_NOTE_TYPE_HIDE;
    gtk_widget_set_name(view, e->selected ? (hidden ? "HideNoteSelect" : "ParNoteSelect")
                                          : (hidden ? "HideNoteEditHide" : "ParNoteEdit"));
}

void gnote_view_add_amount(GtkWidget *box, NoteElement_t *e)
{
    e->am.box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_set_halign(e->am.box, GTK_ALIGN_END);
    gtk_box_set_homogeneous(GTK_BOX(e->am.box), FALSE);
    gtk_widget_set_name(e->am.box, "AmtNoteBackground");
    oska_box_append(box, e->am.box, 0, 0, 0);
    gtk_widget_set_valign(e->am.box, GTK_ALIGN_START);
    e->am.input = gtk_entry_new();
    GtkWidget *input = e->am.input;
    gtk_widget_add_css_class(input, "ginput");
    g_object_set(input, "enable-emoji-completion", FALSE, nullptr);
    gtk_entry_set_alignment(GTK_ENTRY(input), 1.0f);
    gtk_entry_set_max_length(GTK_ENTRY(input), AMOUNT_CHARS);
    oska_box_append_end(e->am.box, input, 0, 0, 0);
    gnote_edit_views_install(input, e);
    gnote_edit_keys_install(input, e);
    char *text = gnote_format_amount(&e->am.value);
    gtk_editable_set_text(GTK_EDITABLE(input), text);
    sfree(text);
    GtkEditable *delegate = gtk_editable_get_delegate(GTK_EDITABLE(input));
    g_signal_connect(delegate, "insert-text", G_CALLBACK(amount_insert_checked), e);
    g_signal_connect(delegate, "delete-text", G_CALLBACK(amount_delete_checked), e);
    gtk_widget_set_name(input, e->selected ? "AmtNoteSelect" : "AmtNoteEdit");
}

void gnote_view_add_tag(GtkWidget *box, NoteElement_t *e)
{
    GtkWidget *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    const std::string text = std::string(e->tag.name ? e->tag.name : "") + " " + (e->tag.text ? e->tag.text : "");
    e->tag.view = gtk_label_new(valid_utf8(text).c_str());
    gtk_widget_set_name(e->tag.view, "lNoteEditTag");
    // A long tag text ends in an ellipsis rather than widen every view past the window.
    gtk_label_set_ellipsize(GTK_LABEL(e->tag.view), PANGO_ELLIPSIZE_END);
    oska_box_append(row, e->tag.view, 0, 0, 0);
    oska_box_append(box, row, 0, 0, 0);
}

// Builds one view per element into views_box and picks the focus widget.
void gnote_display_edit_note(NoteData_t *n)
{
    FORMS_TRACE;
    GtkWidget *box = n->views_box;
    GtkWidget *last_paragraph = nullptr;
    bool focused = false;
    for (NoteElement_t *e = n->note; e; e = e->next) {
        switch (e->type) {
        case CM_GNOTE_NOTE_TYPE_HIDE:
            // In Template mode, where hidden paragraphs are made, they always have their view.
            if (!gnote_hidden_shown(n)) {
                forget_views(e);
                break;
            }
            [[fallthrough]];
        case CM_GNOTE_NOTE_TYPE_P:
            gnote_view_add_paragraph(n, box, e);
            last_paragraph = e->p.view;
            break;
        case CM_GNOTE_NOTE_TYPE_AM: gnote_view_add_amount(box, e); break;
        case CM_GNOTE_NOTE_TYPE_TAG: gnote_view_add_tag(box, e); break;
        default: Abort("Unexpected note type @ %s:%d", "gnote_display_edit_note", __LINE__);
        }
        if (e->focus && gnote_element_widget(e)) {
            n->focus_widget = gnote_element_widget(e);
            focused = true;
        }
    }
    NoteElement_t *last = n->note;
    while (last && last->next) last = last->next;
    if (!last || !is_paragraph(last)) {
        NoteElement_t *p = gmenu_parse_xml_add(n, "p");
        p->p.text = copy_text("");
        gnote_view_add_paragraph(n, box, p);
        last_paragraph = p->p.view;
    }
    if (!focused) {
        if (!last_paragraph) Abort("Unexpected missing paragraph block from Note");
        n->focus_widget = last_paragraph;
    }
    gnote_set_total_amount(n);
    size_views(n);
}

// Takes one view or input back into its element.
void gnote_get_screen_element(GtkWidget *widget, NoteData_t *n)
{
    if (!GTK_IS_TEXT_VIEW(widget)) {
        for (NoteElement_t *e = n->note; e; e = e->next) {
            if (e->type != CM_GNOTE_NOTE_TYPE_AM || e->am.input != widget) continue;
            const std::string plain = ginput_remove_commas(gtk_editable_get_text(GTK_EDITABLE(widget)));
            if (NumericCvASC(plain.c_str(), static_cast<int>(plain.size()), &e->am.value) != 0 ||
                NumericCmp(&e->am.value, &e->am.value) != 0)
                NumericCvINT(0, &e->am.value);
            // Two decimals, as the input shows it on leaving: what is written is what was shown.
            gnote_round_amount(&e->am.value);
            return;
        }
        return;
    }
    for (NoteElement_t *e = n->note; e; e = e->next) {
        const bool hidden = e->type == CM_GNOTE_NOTE_TYPE_HIDE && gnote_hidden_shown(n);
        if ((e->type != CM_GNOTE_NOTE_TYPE_P && !hidden) || e->p.view != widget) continue;
        read_paragraph_view(e, e);
        return;
    }
}

} // namespace

void gnote_take_paragraph(NoteElement_t *e)
{
    PROGRAM_ASSERT(is_paragraph(e) && e->p.view);
    NoteData_t *n = e->note_data;
    NoteElement_t *taken = gmenu_parse_xml_add_tag(n, e->type == CM_GNOTE_NOTE_TYPE_HIDE ? "hide" : "p");
    read_paragraph_view(e, taken);
    if (!same_text_and_runs(e->p, taken->p)) n->modified = 1;
    swap_text_and_runs(e->p, taken->p);
    gnote_free_xml_p(&taken);
}

void gnote_view_refill_paragraph(NoteElement_t *e)
{
    if (e->p.view) fill_buffer(e);
}

void gnote_view_insert_paragraph_after(NoteData_t *n, NoteElement_t *after, NoteElement_t *e)
{
    PROGRAM_ASSERT(after->p.view && gtk_widget_get_parent(after->p.view) == n->views_box);
    GtkWidget *place = after->p.view;
    const int width = scroller_width(n);
    if (GtkWidget *spacer = paragraph_spacer(e)) {
        oska_box_append(n->views_box, spacer, 0, 0, 0);
        gtk_box_reorder_child_after(GTK_BOX(n->views_box), spacer, place);
        size_view(spacer, width);
        place = spacer;
    }
    gnote_view_add_paragraph(n, nullptr, e);
    oska_box_append(n->views_box, e->p.view, 1, 0, 0);
    gtk_box_reorder_child_after(GTK_BOX(n->views_box), e->p.view, place);
    size_view(e->p.view, width);
}

void gnote_view_remove_paragraph(NoteData_t *n, NoteElement_t *e)
{
    GtkWidget *view = e->p.view;
    if (!view || gtk_widget_get_parent(view) != n->views_box) return;
    // The spacer before the view goes with it (a view after a tag has none).
    GtkWidget *before = gtk_widget_get_prev_sibling(view);
    if (before && g_object_get_data(G_OBJECT(before), SPACER_KEY)) gtk_box_remove(GTK_BOX(n->views_box), before);
    if (n->focus_widget == view) n->focus_widget = nullptr;
    gtk_box_remove(GTK_BOX(n->views_box), view);
    forget_views(e);
}

GtkWidget *gnote_element_widget(const NoteElement_t *e)
{
    switch (e->type) {
    case CM_GNOTE_NOTE_TYPE_P:
    case CM_GNOTE_NOTE_TYPE_HIDE: return e->p.view;
    case CM_GNOTE_NOTE_TYPE_AM: return e->am.input;
    case CM_GNOTE_NOTE_TYPE_TAG: return e->tag.view;
    default: return nullptr;
    }
}

NoteElement_t *gnote_get_current_focus(NoteData_t *n)
{
    NoteElement_t *last = nullptr;
    for (NoteElement_t *e = n->note; e; e = e->next) {
        if (e->focus) return e;
        last = e;
    }
    PROGRAM_ASSERT(last);
    return last;
}

void gnote_redraw_note(NoteData_t *n, NoteElement_t *e, int from, int to)
{
    FORMS_TRACE;
    if (e->type != CM_GNOTE_NOTE_TYPE_P && e->type != CM_GNOTE_NOTE_TYPE_AM && e->type != CM_GNOTE_NOTE_TYPE_HIDE)
        Abort("Unexpected note paragraph type %d in gnote_redraw_note", e->type);
    take_current(e);
    put_views_box(n);
    gnote_display_edit_note(n);
    gtk_widget_set_visible(n->edit_scroller, TRUE);
    gnote_focus_element(n, e, from, to);
}

void gnote_focus_element(NoteData_t *n, NoteElement_t *e, int from, int to)
{
    take_current(e);
    if (is_paragraph(e)) {
        NoteElement_t *note_p = e;
        PROGRAM_ASSERT(note_p->p.view);
        n->focus_widget = e->p.view;
        gtk_widget_grab_focus(e->p.view);
        GtkTextIter start, end;
        if (from < 0) {
            gtk_text_buffer_get_end_iter(e->p.buffer, &start);
            gtk_text_buffer_place_cursor(e->p.buffer, &start);
        } else {
            gtk_text_buffer_get_iter_at_offset(e->p.buffer, &start, from);
            if (to < 0)
                gtk_text_buffer_get_end_iter(e->p.buffer, &end);
            else
                gtk_text_buffer_get_iter_at_offset(e->p.buffer, &end, to);
            if (to == from) end = start;
            gtk_text_buffer_select_range(e->p.buffer, &end, &start);
        }
    } else {
        n->focus_widget = e->am.input;
        gtk_widget_grab_focus(e->am.input);
        gnote_remove_commas(e);
        if (to != from)
            gtk_editable_select_region(GTK_EDITABLE(e->am.input), from, to);
        else
            gtk_editable_set_position(GTK_EDITABLE(e->am.input), from);
    }
    gnote_do_scrolling(e);
}

// ---- Taking the views back ---------------------------------------------------------------------------------

void gnote_parse_text2XML(NoteData_t *n)
{
    FORMS_TRACE;
    NoteData_t scratch{};
    scratch.cm = n->cm;
    scratch.note = n->note;
    n->note = nullptr;
    gnote_copy_note_shell(n, scratch.note);
    for (GtkWidget *child = gtk_widget_get_first_child(n->views_box); child;
         child = gtk_widget_get_next_sibling(child)) {
        if (GTK_IS_BOX(child)) {
            for (GtkWidget *c = gtk_widget_get_first_child(child); c; c = gtk_widget_get_next_sibling(c))
                gnote_get_screen_element(c, n);
        } else {
            gnote_get_screen_element(child, n);
        }
    }
    // The shell is the old list's copy, element for element.
    for (NoteElement_t *now = n->note, *before = scratch.note; now && before; now = now->next, before = before->next)
        if (now->type == before->type && is_paragraph(now)) keep_unchanged_bytes(now->p, before->p);
    n->modified = gnote_compare_notes(n->modified, n->note, scratch.note);
    const NoteElement_t *first = n->note;
    while (first && (first->type == CM_GNOTE_NOTE_TYPE_TAG || first->type == CM_GNOTE_NOTE_TYPE_HIDE))
        first = first->next;
    if (!first || first->type == CM_GNOTE_NOTE_TYPE_AM)
        Abort("gnote_parse_text2XML: A Note must begin with a paragraph");
    field().short_note(n);
    gnote_free_xml(&scratch);
}

void gnote_remove_sigs(NoteElement_t *e)
{
    for (; e; e = e->next) {
        switch (e->type) {
        case CM_GNOTE_NOTE_TYPE_P:
        case CM_GNOTE_NOTE_TYPE_HIDE:
            // The buffer can outlive its view (a paste still under way holds it): its checks go too.
            if (e->p.buffer) g_signal_handlers_disconnect_by_data(e->p.buffer, e);
            for (GtkEventController **c : {&e->p.click_controller, &e->p.key_controller, &e->p.focus_controller,
                                           &e->p.motion_controller}) {
                if (*c && e->p.view) gtk_widget_remove_controller(e->p.view, *c);
                *c = nullptr;
            }
            break;
        case CM_GNOTE_NOTE_TYPE_AM:
            if (e->am.input)
                g_signal_handlers_disconnect_by_data(gtk_editable_get_delegate(GTK_EDITABLE(e->am.input)), e);
            for (GtkEventController **c : {&e->am.key_controller, &e->am.focus_controller, &e->am.motion_controller}) {
                if (*c && e->am.input) gtk_widget_remove_controller(e->am.input, *c);
                *c = nullptr;
            }
            break;
        case CM_GNOTE_NOTE_TYPE_TAG: break;
        default: Abort("Unexpected Note element type @ %s:%d", "gnote_remove_sigs", __LINE__);
        }
    }
}

bool gnote_edit_refused(NoteData_t *n, GdkModifierType state, guint keyval)
{
    if (!n->cm || !n->cm->user_edit_watch) return false;
    const int before = n->modified;
    ccallback_do_edit(n->cm, n->index, WIDGET_NOTE, state, keyval);
    if (before == 0 && n->modified == 1) {
        n->modified = 0;
        return true;
    }
    return false;
}

bool gnote_edit_take_typed(NoteData_t *n, const char *text, int length)
{
    if (!n->edit_scroller || !n->focus_widget || !GTK_IS_TEXT_VIEW(n->focus_widget)) return false;
    // The keys come before any the window gets itself: at the end of the paragraph the window
    // opened in, with the cursor after them for the keys that follow. The buffer's own insert check
    // asks the Edit_Content routine, as for a key typed in the window.
    GtkTextBuffer *buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(n->focus_widget));
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(buffer, &end);
    gtk_text_buffer_insert(buffer, &end, text, length);
    gtk_text_buffer_get_end_iter(buffer, &end);
    gtk_text_buffer_place_cursor(buffer, &end);
    return true;
}

// ---- Building the window ------------------------------------------------------------------------------

namespace {

// The message of the refusal of a note with a paragraph of bytes.
std::string gnote_paragraph_limit_message(std::size_t bytes)
{
    return "This note has a paragraph of " + std::to_string(bytes) +
           " bytes: the note edit window takes paragraphs of at most " + std::to_string(GNOTE_EDIT_PARAGRAPH_LIMIT) +
           " bytes.";
}

} // namespace

void gnote_edit_create(GtkWidget *parent, NoteData_t *n)
{
    FORMS_TRACE;
    GlobalData_t *gd = global_data;
    const NoteFieldOps &ops = field();
    // The number is checked before anything is built: a window left half made would outlive the
    // stop.
    const std::size_t number_length = strnlen(n->number, sizeof n->number);
    if (number_length > CM_GNOTE_ID_SIZE)
        Abort("Note number is %d characters which exceeds %d - '%.*s'", static_cast<int>(number_length),
              CM_GNOTE_ID_SIZE, static_cast<int>(number_length), n->number);
    // A paragraph too long to edit key by key is refused before anything is built.
    if (const std::size_t longest = longest_paragraph(n); longest > GNOTE_EDIT_PARAGRAPH_LIMIT) {
        gmessage(gnote_paragraph_limit_message(longest).c_str(), "Warning");
        return;
    }
    if (!n->original) gnote_save_original(n);
    GtkWidget *window = gtk_window_new();
    GtkWidget *grid = gtk_grid_new();
    ControlMatrix_t *cm = cset_new(gd, window, 0);
    PROGRAM_ASSERT(cm->prior);
    GtkWidget *parent_window = parent;
    PROGRAM_ASSERT(parent_window == cm->prior->window);
    cm->prior->return_focus = cm->prior->event_index;
    cm->type = CM_WT_NOTE;
    cm->window_data = n;
    g_signal_connect(window, "destroy", G_CALLBACK(on_gnote_new_destroy), n);
    g_signal_connect(window, "close-request", G_CALLBACK(on_gwin_new_delete), gd);
    gtk_widget_set_size_request(window, n->edit_width, n->edit_height);
    cutil_cp_stack(cm, nullptr, 0, 0, AC_NOTE_WINDOW, nullptr, nullptr, 0);
    gwindow_move(window, n->placement, n->edit_width, n->edit_height);
    gtk_window_set_title(GTK_WINDOW(window), number_length ? valid_utf8(n->number).c_str() : "New");
    gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    gnote_edit_keys_install_window(window, n);
    gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(parent));

    gtk_grid_set_row_homogeneous(GTK_GRID(grid), TRUE);
    gtk_grid_set_column_homogeneous(GTK_GRID(grid), TRUE);
    gtk_window_set_child(GTK_WINDOW(window), grid);
    gtk_grid_attach(GTK_GRID(grid), menu_bar(window, n), 0, 0, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), tool_bar(n), 0, 1, 1, 2);
    GtkWidget *vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_grid_attach(GTK_GRID(grid), vbox, 0, 3, 1, 17);
    oska_box_append(vbox, heading(n), 0, 0, 2);
    n->edit_scroller = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(n->edit_scroller), GTK_POLICY_AUTOMATIC, GTK_POLICY_ALWAYS);
    oska_box_append(vbox, n->edit_scroller, 1, 1, 0);
    put_views_box(n);
    gsoftkey_box(cm, 0, "FKN", vbox, nullptr);
    cutil_set_active_function_keys(cm, 0);

    for (NoteElement_t *e = n->note; e; e = e->next) e->focus = 0;
    NoteElement_t *last = n->note;
    while (last && last->next) last = last->next;
    NoteElement_t *note = last;
    while (note && !is_paragraph(note)) note = note->prior;
    if (n->note) PROGRAM_ASSERT(note);
    if (note) note->focus = 1;

    gnote_display_edit_note(n);
    gtk_widget_set_visible(n->edit_scroller, TRUE);
    // The field is in its edit-window state before the main loop turns: a key typed at once (F12,
    // Escape) can save or cancel the window during the turns, and its road out must find the field
    // in that state to take it out again.
    ops.window_opened(n);
    igtk_main_iteration();
    if (edit_window(n) != window) return;
    gtk_window_present(GTK_WINDOW(window));
    if (n->focus_widget) gtk_widget_grab_focus(n->focus_widget);
    igtk_main_iteration();
    // The window may have been closed meanwhile; keys typed while it opened may have split or
    // joined paragraphs, freeing elements: the focused one is looked up again rather than trusted.
    if (edit_window(n) != window) return;
    NoteElement_t *focused = nullptr;
    for (NoteElement_t *e = n->note; e; e = e->next)
        if (e->focus) focused = e;
    if (focused && gnote_element_widget(focused)) gnote_do_scrolling(focused);
}

// ---- The roads out -------------------------------------------------------------------------------------------

int gnote_edit_button_press_save(GtkWidget *widget, guint keyval, NoteData_t *n)
{
    FORMS_TRACE;
    GlobalData_t *gd = global_data;
    ccursor_set_busy(n->cm, static_cast<int>(keyval));
    // An amount being edited counts as left: its value and the total are what is written.
    gnote_take_edited_amount(n);
    gnote_remove_sigs(n->note);
    gnote_parse_text2XML(n);
    gnote_free_original_note(n);
    field().input_text(n, n->short_text);
    GtkWidget *window = edit_window(n);
    if (!window) window = oska_widget_get_window(widget);
    close_window(window, n);
    ControlMatrix_t *cm = gd->last_cm;
    if (GtkWidget *form = cget_window_for_cm(gd, cm)) gtk_window_present(GTK_WINDOW(form));
    const int index = cget_index_for_ptr(cm, CM_ENTRY_PTR, n->hbox, 1);
    redisplay(n, n->has_more == 1);
    cinvoke_post_display(cm, index);
    int at = index;
    const RoutineRun post = run_routine(cm, AC_POST_FOCUS, &at);
    if (post.closing)
        Abort("Not permitted to exit from window in the function attached with the 'Post_Focus' Action Code index %d",
              index);
    ccallback_set_focus_next_field(cm, index, post.answer, cm->program_mode, 0, GDK_KEY_F12, 0);
    return 1;
}

int gnote_edit_button_press_cancel(GtkWidget *widget, guint keyval, NoteData_t *n)
{
    FORMS_TRACE;
    GlobalData_t *gd = global_data;
    ccursor_set_busy(n->cm, static_cast<int>(keyval));
    gnote_remove_sigs(n->note);
    gnote_free_xml(n);
    n->note = n->original;
    n->original = nullptr;
    GtkWidget *window = edit_window(n);
    if (!window) window = oska_widget_get_window(widget);
    close_window(window, n);
    field().short_note(n);
    ControlMatrix_t *cm = gd->last_cm;
    if (GtkWidget *form = cget_window_for_cm(gd, cm)) gtk_window_present(GTK_WINDOW(form));
    const int index = cget_index_for_ptr(cm, CM_ENTRY_PTR, n->hbox, 1);

    const bool escape = keyval == GDK_KEY_Escape;
    const int code = escape ? AC_ESCAPE : AC_F8_KEY;
    const bool attached = cmat_get_scm(cm, index, code) != nullptr;
    int at = index;
    RoutineRun last;
    if (attached) {
        last = run_routine(cm, code, &at);
        if (last.closing)
            Abort("Not permitted to exit from window in the function attached with the '%s' Action Code index %d",
                  escape ? "Escape" : "F8", index);
    }
    const bool moved = attached && at != index;
    redisplay(n, field().was_expanded(n));
    int anychange = -1;
    if (!attached) {
        anychange = cmat_get_anychange(cm, 0);
        if (anychange > 0) {
            at = index;
            last = run_routine(cm, AC_POST_FOCUS, &at);
            if (last.closing)
                Abort("Not permitted to exit from window in the function attached with the 'Post_Focus' Action Code "
                      "index %d",
                      index);
            if (at == index) at = anychange;
        }
    }
    if (!last.answer) {
        at = index;
    } else if (moved || anychange > 0) {
        const int focus = at;
        const RoutineRun pre = run_routine(cm, AC_PRE_FOCUS, &at);
        if (at != focus) Abort("Not permitted to change focus in the Pre_Focus to field %d", focus);
        if (pre.closing)
            Abort(
                "Not permitted to exit from window in the function attached with the 'Pre_Focus' Action Code index %d",
                focus);
    }
    cmat_set_focus_index(cm, at);
    const bool ran = attached || anychange > 0;
    if (ran)
        ctable_bgcolour_display(cm);
    else if (cm->prior)
        ctable_bgcolour_display(cm->prior);
    ccallbacks_finish_event(1, 0);
    return 1;
}

namespace {

void on_gnote_new_destroy(GtkWidget *window, gpointer note)
{
    forms_callback([&] {
        auto *n = static_cast<NoteData_t *>(note);
        // The window's children are already gone here: the views are not touched.
        if (global_data->last_cm) ccursor_set_standard(global_data->last_cm);
        cmat_free_window(window, Program_name);
        n->edit_scroller = nullptr;
        n->views_box = nullptr;
        n->focus_widget = nullptr;
        n->total_label = nullptr;
        // A window destroyed other than by save or cancel leaves the note as it was opened, and the
        // field out of its edit-window state.
        if (n->original) {
            gnote_free_xml(n);
            n->note = n->original;
            n->original = nullptr;
        }
        for (NoteElement_t *e = n->note; e; e = e->next)
            if (is_paragraph(e)) forget_views(e);
        field().window_gone(n);
        field().short_note(n);
    });
}

} // namespace

void gnote_edit_window_destroy(NoteData_t *n)
{
    if (GtkWidget *window = edit_window(n)) gtk_window_destroy(GTK_WINDOW(window));
}

void gnote_register_edit_window(const NoteFieldOps &ops)
{
    field_ops = &ops;
    WindowKindHooks row = window_kind(CM_WT_NOTE);
    row.save = save_hook;
    row.cancel = cancel_hook;
    row.grab_focus = grab_focus_hook;
    register_window_kind(CM_WT_NOTE, row);
}
