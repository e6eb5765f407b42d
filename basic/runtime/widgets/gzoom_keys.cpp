// The zoom pick-list's behaviour: keys on the list (type-ahead, navigation, function keys), the
// search entry and its Zoom_Search routine, the scroll that keeps the selected row in view and
// focused, and the choosing of a row: the zoom's Post_Focus, then the parent's Zoom_Post (or
// Pre_Focus) and Post_Focus for the field that opened it. See gzoom.h.
#include "ccallback.h"
#include "cevents.h"
#include "cnext.h"
#include "gzoom.h"

#include <cstring>
#include <memory>
#include <string>

#include "cattach.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "cutil.h"
#include "gdata.h"
#include "gwidget.h"
#include "kinds.h"
#include "message.h"
#include "run_time.h"

namespace {

// Blocks a handler's own connection while it runs, so an event arriving in a nested main-loop
// iteration is dropped.
// The instance is held meanwhile: the handler may close the window that owns it.
class Blocked {
public:
    Blocked(gpointer instance, gpointer handler, gpointer data)
        : instance_(g_object_ref(instance)), handler_(handler), data_(data)
    {
        g_signal_handlers_block_matched(instance_, GSignalMatchType(G_SIGNAL_MATCH_FUNC | G_SIGNAL_MATCH_DATA), 0, 0,
                                        nullptr, handler_, data_);
    }
    ~Blocked()
    {
        g_signal_handlers_unblock_matched(instance_, GSignalMatchType(G_SIGNAL_MATCH_FUNC | G_SIGNAL_MATCH_DATA), 0, 0,
                                          nullptr, handler_, data_);
        g_object_unref(instance_);
    }
    Blocked(const Blocked &) = delete;
    Blocked &operator=(const Blocked &) = delete;

private:
    gpointer instance_, handler_, data_;
};

struct GFree {
    void operator()(char *p) const { g_free(p); }
};
using Text = std::unique_ptr<char, GFree>;

bool is_function_key(guint k) { return k == GDK_KEY_Escape || (k >= GDK_KEY_F1 && k <= GDK_KEY_F12); }

bool is_modifier(guint k)
{
    switch (k) {
    case GDK_KEY_Shift_L: case GDK_KEY_Shift_R: case GDK_KEY_Control_L: case GDK_KEY_Control_R:
    case GDK_KEY_Caps_Lock: case GDK_KEY_Shift_Lock: case GDK_KEY_Alt_L: case GDK_KEY_Alt_R:
    case GDK_KEY_Super_L: case GDK_KEY_Super_R: case GDK_KEY_Menu: return true;
    default: return false;
    }
}

bool is_navigation(guint k)
{
    switch (k) {
    case GDK_KEY_Return: case GDK_KEY_Home: case GDK_KEY_Up: case GDK_KEY_Down: case GDK_KEY_Page_Up:
    case GDK_KEY_Page_Down: case GDK_KEY_End: case GDK_KEY_KP_Enter: case GDK_KEY_KP_Home: case GDK_KEY_KP_Up:
    case GDK_KEY_KP_Down: case GDK_KEY_KP_Page_Up: case GDK_KEY_KP_Page_Down: case GDK_KEY_KP_End: return true;
    default: return false;
    }
}

bool is_typeahead(guint k)
{
    if (k >= '!' && k <= '~') return true;
    if (k >= GDK_KEY_KP_0 && k <= GDK_KEY_KP_9) return true;
    return k == GDK_KEY_KP_Multiply || k == GDK_KEY_KP_Add || k == GDK_KEY_KP_Subtract || k == GDK_KEY_KP_Decimal ||
           k == GDK_KEY_KP_Divide;
}

// How many CMs the chain holds: a routine that shortened it closed a window.
int chain_length()
{
    int n = 0;
    for (const ControlMatrix_t *c = global_data->first_cm; c; c = c->next) ++n;
    return n;
}

// Runs the routine of (index, code) on cm with IP$ = text (an empty text: the field's own value);
// *closed tells whether the routine closed a window: it left its window marked closing (a close
// that its true answer keeps), close processing closed it, or a window went meanwhile. The
// routine's text goes into *text.
int run(ControlMatrix_t *cm, int code, int *index, const char *variable, const char *text, int must_exist,
        int close_processing, Text *out_text, int *closed)
{
    const int before = chain_length();
    ControlMatrix_t *out_cm = nullptr;
    char *result = nullptr;
    int closing = 0, closed_by_rules = 0;
    const int answer = cinvoke_basic_routine(cm, &out_cm, code, index, &closed_by_rules, global_data, variable, text,
                                             0, must_exist, &result, &closing, close_processing);
    out_text->reset(result);
    *closed = closing || closed_by_rules || chain_length() < before;
    return answer;
}

void focus_selected_cell(GtkWidget *view)
{
    GtkSingleSelection *selection = GTK_SINGLE_SELECTION(gtk_column_view_get_model(GTK_COLUMN_VIEW(view)));
    GObject *row = G_OBJECT(gtk_single_selection_get_selected_item(selection));
    auto *cell = row ? static_cast<GtkWidget *>(g_object_get_data(row, "gzoom-cell")) : nullptr;
    // The label itself takes no focus: its cell, or the row around it, does.
    for (GtkWidget *w = cell; w && w != view; w = gtk_widget_get_parent(w))
        if (gtk_widget_grab_focus(w)) return;
}

// After one main-loop pass the scrolled-to row has its widgets: the focus follows the selection.
gboolean focus_after_scroll(gpointer view)
{
    forms_callback([&] {
        if (gtk_widget_get_root(GTK_WIDGET(view))) focus_selected_cell(GTK_WIDGET(view));
    });
    return G_SOURCE_REMOVE;
}

void schedule(GSourceFunc function, GtkWidget *view)
{
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, function, g_object_ref(view), g_object_unref);
}

// The zoom CM of the column view's window.
ControlMatrix_t *zoom_of(GtkWidget *view)
{
    return cget_cm_for_window(global_data, GTK_WIDGET(gtk_widget_get_root(view)), 1);
}

} // namespace

void gzoom_schedule_scroll(GtkWidget *view) { schedule(scroll_to_selected, view); }

// ---- The list's keys ----------------------------------------------------------------------------------------

gboolean gzoom_callback_handle_select_key_press(GtkEventControllerKey *controller, guint keyval, guint keycode,
                                                GdkModifierType state, gpointer data)
{
    const Blocked blocked(controller, reinterpret_cast<gpointer>(gzoom_callback_handle_select_key_press), data);
    gboolean used = TRUE;
    forms_callback([&] {
        auto *cm = static_cast<ControlMatrix_t *>(data);
        zoom_data *zd = gzoom_data(cm);
        if (is_modifier(keyval)) return;
        if (is_function_key(keyval)) {
            zd->typeahead[0] = '\0';
            used = on_key_press_event(controller, keyval, keycode, state, global_data);
        } else if (is_navigation(keyval)) {
            zd->typeahead[0] = '\0';
            used = FALSE;
        } else if (keyval == GDK_KEY_space) {
            if (zd->typeahead[0]) {
                gzoom_alphanumeric_search(cm, keyval, state);
            } else {
                used = FALSE;
            }
        } else if (is_typeahead(keyval)) {
            gzoom_alphanumeric_search(cm, keyval, state);
        } else {
            zd->typeahead[0] = '\0';
        }
    });
    return used;
}

void gzoom_alphanumeric_search(ControlMatrix_t *cm, guint keyval, GdkModifierType state)
{
    zoom_data *zd = gzoom_data(cm);
    const int c = cutil_conv_eventkey_to_char(keyval, state);
    if (c == 10) {
        zd->typeahead[0] = '\0';
        return;
    }
    gzoom_typeahead_add(zd->typeahead, c);
    const std::vector<const char *> &answers = gzoom_rows_answers(zd->rows);
    const int chosen = gzoom_typeahead_row(answers, zd->typeahead, zd->matching);
    if (!answers.empty()) gtk_single_selection_set_selected(gzoom_selection(zd), static_cast<guint>(chosen));
    gtk_widget_grab_focus(zd->column_view);
    gzoom_schedule_scroll(zd->column_view);
}

gboolean scroll_to_selected(gpointer data)
{
    forms_callback([&] {
        GtkWidget *view = GTK_WIDGET(data);
        if (!gtk_widget_get_root(view)) return;  // refilled or closed meanwhile
        gtk_widget_grab_focus(view);
        GtkWidget *list = nullptr;
        for (GtkWidget *c = gtk_widget_get_first_child(view); c && !list; c = gtk_widget_get_next_sibling(c))
            if (std::strcmp(G_OBJECT_TYPE_NAME(c), "GtkColumnListView") == 0) list = c;
        if (!list) Abort("gzoom: %s: GtkColumListView not found", "scroll_to_selected");
        const guint position =
            gtk_single_selection_get_selected(GTK_SINGLE_SELECTION(gtk_column_view_get_model(GTK_COLUMN_VIEW(view))));
        if (position == GTK_INVALID_LIST_POSITION) return;
        gtk_widget_activate_action(list, "list.scroll-to-item", "u", position);
        // GTK 4.8 has no "list.focus-on-item": the focus goes to the row's cell once it is built.
        schedule(focus_after_scroll, view);
        GtkAdjustment *v = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(view));
        if (v && static_cast<int>(gtk_adjustment_get_value(v)) < static_cast<int>(gtk_adjustment_get_page_size(v) / 2))
            gtk_adjustment_set_value(v, 0);
    });
    return G_SOURCE_REMOVE;
}

// ---- The search entry -------------------------------------------------------------------------------------------

gboolean gzoom_on_key_press_search(GtkEventControllerKey *controller, guint keyval, guint keycode,
                                   GdkModifierType state, gpointer data)
{
    const RoutineName name("gzoom_on_key_press_search");
    gboolean used = FALSE;
    forms_callback([&] {
        auto *cm = static_cast<ControlMatrix_t *>(data);
        zoom_data *zd = gzoom_data(cm);
        zd->typeahead[0] = '\0';
        if (keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter) {
            // An empty entry hands the selected row's answer (the window's own value) as IP$.
            const std::string text = gtk_editable_get_text(GTK_EDITABLE(zd->search_entry));
            int index = 0, closed = 0;
            Text result;
            run(cm, AC_ZOOM_SEARCH, &index, "IP$", text.c_str(), 1, 1, &result, &closed);
            if (closed) Abort("Not permitted to delete a window here");
            ccallbacks_finish_event(1, 0);
            used = TRUE;
        } else if (is_function_key(keyval)) {
            used = on_key_press_event(controller, keyval, keycode, state, global_data);
        }
    });
    return used;
}

void gzoom_search_field(ControlMatrix_t *cm)
{
    if (!cmat_get_scm(cm, 0, AC_ZOOM_SEARCH_FIELD)) return;
    zoom_data *zd = gzoom_data(cm);
    for (GtkWidget *w = zd->search_box; w; w = gtk_widget_get_parent(w)) gtk_widget_set_visible(w, TRUE);
    gtk_widget_grab_focus(zd->search_entry);
    gtk_window_set_default_widget(GTK_WINDOW(cm->window), zd->search_entry);
}

// ---- Choosing a row --------------------------------------------------------------------------------------------

namespace {

// The parent's routines once the zoom has closed: Zoom_Post (or Pre_Focus) for the field that
// opened the zoom with the answer the zoom's Post_Focus gave, then its Post_Focus and the focus
// moving on.
void post_to_parent(ControlMatrix_t *parent, const char *text)
{
    mlog(2, "Before 'basic' function: ip$ = '%s'", text);
    const int index = parent->return_focus;
    const int code = cmat_get_fn_ptr(parent, index, AC_ZOOM_POST) ? AC_ZOOM_POST : AC_PRE_FOCUS;
    int at = index, closed = 0;
    Text given;
    parent->focus_request = 0;
    const int answer = run(parent, code, &at, "IP$", text, 1, 0, &given, &closed);
    if (answer) {
        if (parent->focus_request)
            Abort("Must return false from the function attached with the 'Zoom_Post' Action Code when calling "
                  "icset_focus");
        if (parent->closing) {
            cdeletewin(parent, global_data);
        } else {
            if (index == 0)
                Abort("Must return false from Zoom_Post (or Pre) when no fields exist in parent, or Zoom is in "
                      "respect of index zero.");
            const int mode = parent->program_mode;
            int post_at = index, post_closed = 0;
            Text posted;
            const int post = run(parent, AC_POST_FOCUS, &post_at, "IP$", given.get(), 0, 1, &posted, &post_closed);
            if (!post_closed) ccallback_set_focus_next_field(parent, index, post, mode, 0, 0, 0);
        }
    } else {
        if (closed)
            Abort("Not permitted to exit window from the Zoom_Post or Pre_Focus on index %d when return value is false",
                  index);
        if (parent->current_focus != index) {
            int current = parent->current_focus, pre_closed = 0;
            Text ignored;
            run(parent, AC_PRE_FOCUS, &current, "", "", 0, 0, &ignored, &pre_closed);
            if (pre_closed)
                Abort("Not permitted to exit window from the function attached with the Pre_Focus Action Code index %d",
                      parent->current_focus);
        }
    }
    if (cm_chain_position(parent)) cm_resources().paint_colour_tables(parent);
}

} // namespace

void gzoom_onSelection(GtkColumnView *view, guint position, gpointer gd)
{
    const Blocked blocked(view, reinterpret_cast<gpointer>(gzoom_onSelection), gd);
    forms_callback([&] {
        ControlMatrix_t *zoom = zoom_of(GTK_WIDGET(view));
        GListModel *rows = gtk_single_selection_get_model(GTK_SINGLE_SELECTION(gtk_column_view_get_model(view)));
        GzoomRow *row = GZOOM_ROW(g_list_model_get_item(rows, position));
        if (!row) return;
        const Text ip(g_strdup(row->answer));
        g_object_unref(row);
        mlog(2, "Before 'basic' function: list position: %u; ip$ = '%s'", position, ip.get());

        int index = 0, closed = 0;
        Text chosen;
        const int answer = run(zoom, AC_POST_FOCUS, &index, "IP$", ip.get(), 1, 0, &chosen, &closed);
        if (!answer) {
            cm_resources().paint_colour_tables(zoom);
        } else {
            if (zoom->next) Abort("Not permitted to create a window from the 'Post' function to a Zoom");
            zoom->closing = 1;
            zoom->zoom_post_due = 0;
            if (zoom->drill_post_due || zoom->win_post_due)
                Abort("Not permitted to run icinvoke_drill_post or icinvoke_win_post here");
            ControlMatrix_t *parent = zoom->prior;
            ControlMatrix_t *next = cdeletewin(zoom, static_cast<GlobalData_t *>(gd));
            ccallbacks_finish_event(1, 1);
            if (next && next == parent) post_to_parent(parent, chosen.get());
        }
        ccallbacks_finish_event(1, 1);
    });
}
