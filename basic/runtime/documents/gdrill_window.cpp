// The drill window: IGDRILL_SETUP builds it over a control matrix of type CM_WT_DRILL with a list
// view of the report's rows, its keys move between rows that carry a value, activating a row runs
// the program's routines with its value, and the forms engine asks it for the selected value. See
// gdrill.h.
#include "gdrill.h"

#include <memory>
#include <string>

#include "aoae.h"
#include "cases.h"
#include "cattach.h"
#include "ccallback.h"
#include "cevent_steps.h"
#include "cevents.h"
#include "cinvoke.h"
#include "ckeys.h"
#include "cmatrix.h"
#include "cnext.h"
#include "forms.h"
#include "gdata.h"
#include "gmisc.h"
#include "gsoftkeys.h"
#include "gwindow.h"
#include "ilist.h"
#include "kinds.h"
#include "message.h"
#include "print_handles.h"
#include "run_time.h"

namespace {

// The scales of the drill window by the application's width (pixels).
constexpr float WIDE_FACTOR = 1.64f, MEDIUM_FACTOR = 1.25f, NARROW_FACTOR = 1.0f;
constexpr int WIDE_FROM = 1680, MEDIUM_FROM = 1280;

const char *const PAGE_LAYOUTS[] = {"a4", "a4p", "a4l", "a3", "a3p", "a3l"};

std::string trimmed_text(const Stack &entry)
{
    std::string text(intr::text(entry));
    while (!text.empty() && g_ascii_isspace(text.back())) text.pop_back();
    return text;
}

float factor_for(int application_width)
{
    if (application_width < MEDIUM_FROM) return NARROW_FACTOR;
    if (application_width < WIDE_FROM) return MEDIUM_FACTOR;
    return WIDE_FACTOR;
}

struct ListsGuard {
    GdrillLists lists;
    ~ListsGuard()
    {
        for (IList_t *list : {lists.values, lists.texts, lists.formats})
            if (list) ilist_destroy(list);
    }
};

GtkSingleSelection *selection_of(GtkListView *view) { return GTK_SINGLE_SELECTION(gtk_list_view_get_model(view)); }

bool has_value(GListModel *rows, guint position)
{
    auto *row = static_cast<GdrillRow *>(g_list_model_get_item(rows, position));
    const bool selectable = row && row->value[0] != '\0';
    if (row) g_object_unref(row);
    return selectable;
}

// ---- Rows on the screen ----------------------------------------------------------------------------

void gdrill_setup_widget(GtkSignalListItemFactory *, GtkListItem *item, gpointer)
{
    gtk_list_item_set_child(item, gtk_fixed_new());
}

void gdrill_bind_widget(GtkSignalListItemFactory *, GtkListItem *item, gpointer)
{
    GdrillRow *row = GDRILL_ROW(gtk_list_item_get_item(item));
    GtkWidget *fixed = gtk_fixed_new();
    gtk_list_item_set_child(item, fixed);
    const bool selectable = row->value[0] != '\0';
    gtk_list_item_set_activatable(item, selectable);
    gtk_list_item_set_selectable(item, selectable);
    if (selectable) gtk_widget_add_css_class(fixed, "gdrill_selectable");
    for (const GdrillItem &piece : gdrill_layout_get_item(row->markup)) {
        GtkWidget *label = gtk_label_new(nullptr);
        gtk_label_set_markup(GTK_LABEL(label), gdrill_label_set_markup(piece.markup).c_str());
        const double x = gdrill_aligned_x(GTK_LABEL(label), piece.x, piece.align);
        gtk_fixed_put(GTK_FIXED(fixed), label, x, 0);
    }
}

// The first (or last) row with a value from position on in step's direction, or -1.
long next_selectable(GListModel *rows, long position, int step)
{
    const long count = g_list_model_get_n_items(rows);
    for (long p = position; p >= 0 && p < count; p += step)
        if (has_value(rows, static_cast<guint>(p))) return p;
    return -1;
}

struct GFree {
    void operator()(char *p) const { g_free(p); }
};
using Text = std::unique_ptr<char, GFree>;

// Runs the routine of (index, code) on cm with IP$ = text; its text goes into *out.
int run(ControlMatrix_t *cm, int code, int *index, const char *text, Text *out)
{
    ControlMatrix_t *out_cm = nullptr;
    char *result = nullptr;
    int closed = 0, closing = 0;
    const int answer = cinvoke_basic_routine(cm, &out_cm, code, index, &closed, global_data, "IP$", text, 0, 1,
                                             &result, &closing, 0);
    out->reset(result);
    return answer;
}

// The parent's Drill_Post (or, without one, Pre_Focus) with the text the drill's Post gave.
void post_to_parent(ControlMatrix_t *parent, const char *text)
{
    const int index = parent->return_focus;
    mlog(2, "Before 'basic' function: ip$ = '%s'", text);
    parent->drill_post_due = 0;
    int at = index;
    Text ignored;
    if (cmat_get_fn_ptr(parent, index, AC_DRILL_POST)) {
        const int answer = run(parent, AC_DRILL_POST, &at, text, &ignored);
        if (at != index) Abort("Not permitted to change focus from a function attached with the Drill_Post Action Code");
        if (!parent->drill_post_due) return;
        if (!answer) Abort("Must return true from the 'Drill_Post' when calling icinvoke_drill_post");
        // The drill itself is still chained, closing: only a window that stays counts.
        if (cutil_count_next_real_cm(parent) > 0)
            Abort("Not permitted to create a window, return true, and call the icinvoke_drill_post from the "
                  "'Drill_Post' function");
        parent->closing = 1;
        cdeletewin(parent, global_data);
    } else if (index >= 1) {
        run(parent, AC_PRE_FOCUS, &at, text, &ignored);
        if (parent->drill_post_due) Abort("Not permitted to call icinvoke_drill_post from the 'Pre' function");
        if (parent->closing) Abort("Not permitted to destory window in the Pre_Focus");
        if (at != index) Abort("Not permitted to change focus from a function attached with the Drill_Post Action Code");
    }
}

// The drill's Post with the row's value, and what its answer asks for.
void choose(ControlMatrix_t *drill, const char *value)
{
    mlog(2, "Before 'basic' function: ip$ = '%s'", value);
    drill->focus_request = 0;
    drill->drill_post_due = 0;
    drill->edit_checked = 0;
    int index = 0;
    Text chosen;
    const int answer = run(drill, AC_POST_FOCUS, &index, value, &chosen);
    if (drill->focus_request) Abort("Not permitted to set focus from the Post on a Drill");
    if (drill->drill_post_due)
        Abort("May only run icinvoke_drill_post in the Drill_Post function, and not in the Post function. Note that "
              "icinvoke_drill_post invokes the Drill_Post of the parent, from the Drill_Post of the child.");
    if (!answer) return;
    if (drill->next) Abort("Must return false from the 'Post' function to a Drill when creating a window");
    mlog(3, "destroy igdrill window: %0lX", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(drill->window)));
    ControlMatrix_t *parent = drill->prior;
    drill->closing = 1;
    ControlMatrix_t *next = cdeletewin(drill, global_data);
    if (parent && next == parent) post_to_parent(parent, chosen ? chosen.get() : "");
}

} // namespace

void gdrill_onSelection(GtkListView *view, guint position)
{
    GlobalData_t *gd = global_data;
    const BusyFlag lock(gd->activate_lock);
    if (!lock.taken() || gd->enter_running) return;
    const BusyFlag event(gd->enter_running);
    ControlMatrix_t *drill = cget_cm_for_window(gd, oska_widget_get_window(GTK_WIDGET(view)), 1);
    auto *row = static_cast<GdrillRow *>(g_list_model_get_item(G_LIST_MODEL(selection_of(view)), position));
    const Text value(g_strdup(row ? row->value : ""));
    if (row) g_object_unref(row);
    if (value.get()[0] != '\0') choose(drill, value.get());
    mlog(0, "Do gdrill_onSelection ccallbacks_finish_event");
    ccallbacks_finish_event(1, 1);
    mlog(0, "Done gdrill_onSelection ccallbacks_finish_event");
}

void gdrill_row_activated_event(GtkListView *view, guint position, gpointer)
{
    // Enter acts on the row the keys chose. They move the selection at once, the keyboard focus
    // (whose row GTK activates) only from an idle: keys typed ahead come before it.
    const guint selected = gtk_single_selection_get_selected(selection_of(view));
    if (selected != GTK_INVALID_LIST_POSITION) position = selected;
    // The list view is held: the routine may close the window that owns it.
    g_object_ref(view);
    forms_callback([&] { gdrill_onSelection(view, position); });
    g_object_unref(view);
}

namespace {

} // namespace

// ---- The list --------------------------------------------------------------------------------------

GtkWidget *gdrill_create_listview(GListStore *store, guint selected)
{
    GtkListItemFactory *factory = gtk_signal_list_item_factory_new();
    g_signal_connect(factory, "setup", G_CALLBACK(gdrill_setup_widget), nullptr);
    g_signal_connect(factory, "bind", G_CALLBACK(gdrill_bind_widget), nullptr);
    GtkSingleSelection *selection = gtk_single_selection_new(G_LIST_MODEL(store));
    gtk_single_selection_set_selected(selection, selected);
    gtk_single_selection_set_autoselect(selection, TRUE);
    GtkWidget *view = gtk_list_view_new(GTK_SELECTION_MODEL(selection), factory);
    gtk_widget_set_receives_default(view, TRUE);
    gtk_widget_set_can_focus(view, TRUE);
    gtk_list_view_set_single_click_activate(GTK_LIST_VIEW(view), FALSE);
    gtk_list_view_set_show_separators(GTK_LIST_VIEW(view), FALSE);
    return view;
}

gboolean callback_handle_drill_key_press(GtkEventControllerKey *, guint keyval, guint, GdkModifierType,
                                         gpointer list_view)
{
    auto *view = GTK_LIST_VIEW(list_view);
    GtkSingleSelection *selection = selection_of(view);
    GListModel *rows = G_LIST_MODEL(selection);
    const long count = g_list_model_get_n_items(rows);
    const guint current = gtk_single_selection_get_selected(selection);
    const long at = current == GTK_INVALID_LIST_POSITION ? -1 : static_cast<long>(current);
    long target = -1;
    bool upward = false;
    switch (keyval) {
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home: target = next_selectable(rows, 0, 1); break;
    case GDK_KEY_End:
    case GDK_KEY_KP_End:
        target = next_selectable(rows, count - 1, -1);
        upward = true;
        break;
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up:
        target = at > 0 ? next_selectable(rows, at - 1, -1) : -1;
        upward = true;
        break;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down: target = next_selectable(rows, at + 1, 1); break;
    default: return FALSE;
    }
    if (target >= 0) gtk_single_selection_set_selected(selection, static_cast<guint>(target));
    oska_listview_scroll_to_single_selected(view);
    // Above the first selectable row stand the headings: show them when the view is near the top.
    if (upward && target >= 0 && target == next_selectable(rows, 0, 1)) {
        GtkWidget *scrolled = gtk_widget_get_parent(GTK_WIDGET(view));
        if (GTK_IS_SCROLLED_WINDOW(scrolled)) {
            GtkAdjustment *v = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled));
            if (static_cast<int>(gtk_adjustment_get_value(v)) < static_cast<int>(gtk_adjustment_get_page_size(v) / 2))
                gtk_adjustment_set_value(v, 0);
        }
    }
    return TRUE;
}

// ---- The intrinsics --------------------------------------------------------------------------------

void gdrill_setup(int nargs, int last)
{
    FORMS_TRACE;
    GlobalData_t *gd = global_data;
    const int initial_focus = intr::integer(intr::arg(nargs, last, 8));
    const int non_alphabetical = intr::integer(intr::arg(nargs, last, 7));
    if (initial_focus != 0 && initial_focus != 1) Abort("Initial focus flag invalid %d", initial_focus);
    if (non_alphabetical != 0 && non_alphabetical != 1)
        Abort("Return list non-alphabetical flag invalid %d", non_alphabetical);
    if (non_alphabetical && initial_focus)
        Abort("Initial cursor position flag must be false when Return list non-alphabetical flag is true");
    const std::string layout = trimmed_text(intr::arg(nargs, last, 6));
    bool known = layout.empty();
    for (const char *name : PAGE_LAYOUTS) known = known || g_ascii_strcasecmp(layout.c_str(), name) == 0;
    if (!known) Abort("Page Layout '%s' is incorrect, should be either a4,a4p,a4l,a3,a3p,a3l", layout.c_str());
    gdrill_landscape = g_ascii_strcasecmp(layout.c_str(), "a4l") == 0 || g_ascii_strcasecmp(layout.c_str(), "a3l") == 0;

    const std::string key_set(intr::text(intr::arg(nargs, last, 5)));
    const std::string initial = trimmed_text(intr::arg(nargs, last, 4));
    trimmed_text(intr::arg(nargs, last, 3));  // the list text: read, and of no effect
    const std::string title = trimmed_text(intr::arg(nargs, last, 2));
    const long number = intr::long_integer(intr::arg(nargs, last, 0));
    gdrill_factor = factor_for(gd->last_cm ? gd->last_cm->oae_app_width : gd->oae_app_width);

    GtkWidget *window = gwin_new_nb("a", gdrill_factor);
    ControlMatrix_t *cm = cattach_window1(&intr::arg(nargs, last, 1), window, 0);
    cm->type = CM_WT_DRILL;
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_set_homogeneous(GTK_BOX(box), FALSE);
    gtk_window_set_child(GTK_WINDOW(window), box);
    oska_widget_show(box);

    if (number == 0) Abort("Print Handle must not be NULL");
    auto *handle = reinterpret_cast<PrintHandle_t *>(number);
    if (!psprint_handle_owner(gd, handle)) Abort("Invalid Print Handle");

    gtk_window_set_title(GTK_WINDOW(window), title.c_str());
    GtkWidget *scrolled = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    oska_box_append(box, scrolled, 1, 1, 0);

    guint selected = GTK_INVALID_LIST_POSITION;
    GListStore *store;
    {
        const ListsGuard replay{gdrill_read_buffer(handle, gdrill_factor)};
        store = gdrill_fillPopUp(psprint_handle_owner(gd, handle), replay.lists, initial, non_alphabetical, initial_focus, &selected);
    }
    // The window came from gwin_new_nb with its size notifications connected.
    cm->geometry_tracked = 1;

    if (g_list_model_get_n_items(G_LIST_MODEL(store)) > 0) {
        GtkWidget *view = gdrill_create_listview(store, selected);
        gtk_widget_set_name(view, "gDrillFixedFont");
        g_signal_connect(view, "activate", G_CALLBACK(gdrill_row_activated_event), gd);
        GtkEventController *keys = gtk_event_controller_key_new();
        gtk_event_controller_set_name(keys, "gdrill-setup1-drill");
        gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
        g_signal_connect(keys, "key-pressed", G_CALLBACK(callback_handle_drill_key_press), view);
        gtk_widget_add_controller(window, keys);
        gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), view);
        gsoftkey_box(cm, 0, key_set.c_str(), box, nullptr);
        gtk_window_set_default_widget(GTK_WINDOW(window), view);
        gtk_widget_grab_focus(view);
        gtk_window_present(GTK_WINDOW(window));
        oska_listview_scroll_to_single_selected(GTK_LIST_VIEW(view));
    } else {
        g_object_unref(store);
        cm->type = CM_WT_WINDOW;
        gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), gtk_label_new("No data provided to the Drill window"));
        GtkEventController *keys = gtk_event_controller_key_new();
        gtk_event_controller_set_name(keys, "gdrill-setup1");
        g_signal_connect(keys, "key-pressed", G_CALLBACK(on_key_press_event), gd);
        gtk_widget_add_controller(window, keys);
        gsoftkey_box(cm, 0, key_set.c_str(), box, nullptr);
        gtk_window_present(GTK_WINDOW(window));
    }
    if (gd->first_cm && gd->first_cm->next) ccallbacks_change_cursor();
}

void gdrill(int, int) { Abort("This procedure is no longer in use"); }

char *gdrill_f3(ControlMatrix_t *cm)
{
    GtkWidget *window = cm->window;
    // The window's own child: GTK keeps internal children (its tooltip) besides it.
    GtkWidget *box = gtk_window_get_child(GTK_WINDOW(window));
    if (!box) Abort("There is no children to the window %p; of cm=%x (%p)", static_cast<void *>(window),
                    static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(cm)), static_cast<void *>(cm));
    if (!GTK_IS_BOX(box)) Abort("First child of the window expected to be GtkBox but %s is found", G_OBJECT_TYPE_NAME(box));
    GtkWidget *scrolled = gtk_widget_get_first_child(box);
    if (!scrolled || !GTK_IS_SCROLLED_WINDOW(scrolled))
        Abort("First child of the GtkBox expected to be GtkScrolledWindow but %s is found",
              scrolled ? G_OBJECT_TYPE_NAME(scrolled) : "nothing");
    GtkWidget *view = gtk_scrolled_window_get_child(GTK_SCROLLED_WINDOW(scrolled));
    if (!view || !GTK_IS_LIST_VIEW(view))
        Abort("First child of the GtkScrolledWindow expected to be GtkListView but %s is found",
              view ? G_OBJECT_TYPE_NAME(view) : "nothing");
    GtkSingleSelection *selection = selection_of(GTK_LIST_VIEW(view));
    const guint position = gtk_single_selection_get_selected(selection);
    auto *row = static_cast<GdrillRow *>(gtk_single_selection_get_selected_item(selection));
    if (!row)
        Abort("%s: item %d selected out of %d in the model", "gdrill_f3", static_cast<int>(position),
              static_cast<int>(g_list_model_get_n_items(G_LIST_MODEL(selection))));
    char *value = g_strdup(row->value);
    mlog(2, "Before 'basic' function: ip$ = '%s'", value);
    return value;
}

void gdrill_register_kind()
{
    WindowKindHooks hooks{};
    hooks.value = gdrill_f3;
    register_window_kind(CM_WT_DRILL, hooks);
}
