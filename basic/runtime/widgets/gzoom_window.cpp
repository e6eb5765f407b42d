// The zoom pick-list window: IGZOOM_SETUP builds it over a control matrix of type 4 with a column
// view of the program's rows, IGZOOM_RESET refills it, and the forms engine asks it for the
// selected answer. Keys and choosing are gzoom_keys.cpp's. See gzoom.h.
#include "gzoom.h"

#include <cstring>
#include <string>

#include "aoae.h"
#include "cases.h"
#include "cattach.h"
#include "cfunctionkey.h"
#include "cmatrix.h"
#include "gdata.h"
#include "gmisc.h"
#include "gsoftkeys.h"
#include "gwidget.h"
#include "gwindow.h"
#include "ilist.h"
#include "kinds.h"
#include "message.h"
#include "run_time.h"

namespace {

constexpr const char *DEFAULT_KEY_SET = "FKZ";
constexpr int SEARCH_LENGTH = 40;

// A program list argument: its handle checked by the list's own check (0 is no list).
IList_t *list_argument(const Stack &entry)
{
    IList_t *list = reinterpret_cast<IList_t *>(static_cast<std::intptr_t>(intr::long_integer(entry)));
    ilist_length(list);
    return list;
}

// The format list: 0 for none, else a checked handle.
IList_t *format_argument(const Stack &entry)
{
    if (intr::long_integer(entry) == 0) return nullptr;
    return list_argument(entry);
}

std::string key_set_argument(const Stack &entry)
{
    const std::string name(intr::text(entry));
    if (name.size() > 3) Abort("KeySet name too long");
    if (name.size() < 3) Abort("Invalid KeySet name");
    return name;
}

// A list that is not of texts ends the run as fetching a text from it would.
void require_texts(IList_t *list)
{
    if (list && ilist_length(list) && !(list->type & ILIST_STRING)) ilist_sfetch(list, 1, nullptr);
}

// Every text of a string list in order; a list of another kind ends the run as fetching would.
std::vector<const char *> list_texts(IList_t *list)
{
    std::vector<const char *> texts;
    if (!list) return texts;
    require_texts(list);
    texts.reserve(static_cast<std::size_t>(list->count));
    for (const IListElt_t *e = list->head; e; e = e->next) texts.push_back(e->value.text ? e->value.text : "");
    return texts;
}

// ---- Cells -------------------------------------------------------------------------------------------------

void gzoom_setup_widget(GtkSignalListItemFactory *, GtkListItem *item, gpointer)
{
    GtkWidget *label = gtk_label_new(nullptr);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_widget_set_halign(label, GTK_ALIGN_FILL);
    gtk_list_item_set_child(item, label);
}

void gzoom_bind_widget(GtkSignalListItemFactory *, GtkListItem *item, gpointer column)
{
    GtkWidget *label = gtk_list_item_get_child(item);
    GzoomRow *row = GZOOM_ROW(gtk_list_item_get_item(item));
    const unsigned index = GPOINTER_TO_UINT(column);
    char **classes = gtk_widget_get_css_classes(label);
    for (char **c = classes; c && *c; ++c)
        if (g_ascii_strncasecmp(*c, "bg_", 3) == 0) gtk_widget_remove_css_class(label, *c);
    g_strfreev(classes);
    gtk_widget_add_css_class(label, gzoom_bg_class(row->r, row->g, row->b).c_str());
    const char *text = index < row->column_count && row->columns[index] ? row->columns[index] : "";
    if (row->markup)
        gtk_label_set_markup(GTK_LABEL(label), text);
    else
        gtk_label_set_text(GTK_LABEL(label), text);
    // The first column's cell stands for the row when the keyboard focus follows the selection.
    if (index == 0) g_object_set_data(G_OBJECT(row), "gzoom-cell", label);
}

void gzoom_unbind_widget(GtkSignalListItemFactory *, GtkListItem *item, gpointer column)
{
    GObject *row = G_OBJECT(gtk_list_item_get_item(item));
    if (GPOINTER_TO_UINT(column) == 0 && row && g_object_get_data(row, "gzoom-cell") == gtk_list_item_get_child(item))
        g_object_set_data(row, "gzoom-cell", nullptr);
}

// ---- The window's content ------------------------------------------------------------------------------------

// Adds a key controller named name in phase to widget.
void add_keys(GtkWidget *widget, const char *name, GtkPropagationPhase phase, GCallback handler, ControlMatrix_t *cm)
{
    GtkEventController *keys = gtk_event_controller_key_new();
    gtk_event_controller_set_name(keys, name);
    gtk_event_controller_set_propagation_phase(keys, phase);
    g_signal_connect(keys, "key-pressed", handler, cm);
    gtk_widget_add_controller(widget, keys);
}

// The window's child: a main box with its list (of these lists), search box and the soft-key bar
// of key_set (its labelled keys only), for a new window or a refill; the controllers are named
// list_keys and search_keys.
void build_main_box(ControlMatrix_t *cm, zoom_data *zd, IList_t *display, IList_t *answers, IList_t *format,
                    const std::string &key_set, const char *list_keys, const char *search_keys)
{
    GlobalData_t *gd = global_data;
    zd->main_box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    gtk_box_set_homogeneous(GTK_BOX(zd->main_box), FALSE);
    gtk_widget_set_hexpand(zd->main_box, TRUE);
    gtk_widget_set_vexpand(zd->main_box, TRUE);
    gtk_window_set_child(GTK_WINDOW(cm->window), zd->main_box);
    zd->scrolled_window = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(zd->scrolled_window), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    oska_box_append(zd->main_box, zd->scrolled_window, 1, 1, 0);

    zd->column_view = gzoom_fillPopUp(answers, display, zd->column_titles, format, zd->column_count,
                                      zd->initial_answer, zd->markup, zd->matching);
    gtk_widget_set_name(zd->column_view, "gZoomFixedFont");
    zd->rows = GZOOM_ROWS(gtk_single_selection_get_model(gzoom_selection(zd)));
    add_keys(zd->scrolled_window, list_keys, GTK_PHASE_CAPTURE, G_CALLBACK(gzoom_callback_handle_select_key_press), cm);
    g_signal_connect(zd->column_view, "activate", G_CALLBACK(gzoom_onSelection), gd);
    gtk_widget_set_receives_default(zd->column_view, TRUE);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(zd->scrolled_window), zd->column_view);

    zd->search_box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_set_homogeneous(GTK_BOX(zd->search_box), FALSE);
    gtk_widget_set_hexpand(zd->search_box, TRUE);
    gtk_widget_set_vexpand(zd->search_box, TRUE);
    zd->search_entry = gtk_text_new();
    gtk_text_set_max_length(GTK_TEXT(zd->search_entry), SEARCH_LENGTH);
    gtk_text_set_enable_emoji_completion(GTK_TEXT(zd->search_entry), FALSE);
    gtk_widget_add_css_class(zd->search_entry, "ginput");
    gtk_widget_set_receives_default(zd->search_entry, TRUE);
    oska_box_append(zd->search_box, gtk_label_new("Search:"), 0, 0, 0);
    oska_box_append(zd->search_box, zd->search_entry, 0, 0, 0);
    oska_box_append(zd->main_box, zd->search_box, 0, 0, 0);
    add_keys(zd->search_entry, search_keys, GTK_PHASE_TARGET, G_CALLBACK(gzoom_on_key_press_search), cm);

    // The internal record marks the zoom as searchable (F5 shows the search box) exactly while a
    // Zoom_Search routine is attached to the window.
    SubControlMatrix_t *searchable = cmat_get_scm(cm, 0, AC_ZOOM_SEARCH_FIELD);
    if (cmat_get_scm(cm, 0, AC_ZOOM_SEARCH)) {
        if (!searchable) cutil_cp_stack(cm, nullptr, 0, 0, AC_ZOOM_SEARCH_FIELD, nullptr, nullptr, 0);
    } else if (searchable) {
        cremove_scm(cm, searchable);
    }
    gsoftkey_box(cm, 0, key_set.c_str(), zd->main_box, nullptr);
    cutil_set_active_function_keys(cm, 0);
}

// Shows the (re)built content: the list is the default widget and has the focus, the search box
// is hidden, and the selected row is scrolled into view once the window is idle.
void show_content(GtkWidget *window, zoom_data *zd)
{
    gtk_window_present(GTK_WINDOW(window));
    gtk_widget_set_visible(zd->search_box, FALSE);
    gtk_window_set_default_widget(GTK_WINDOW(window), zd->column_view);
    gtk_widget_grab_focus(zd->column_view);
    gzoom_schedule_scroll(zd->column_view);
}

void on_gzoom_destroy(GtkWidget *window, gpointer)
{
    // The zoom's record goes with its control matrix (the window kind's free_data), which the
    // common handling frees.
    static char no_program[] = "";
    on_gwin_new_destroy(window, no_program);
}

void gzoom_free_data(ControlMatrix_t *cm)
{
    auto *zd = static_cast<zoom_data *>(cm->window_data);
    if (!zd) return;
    g_free(zd->initial_answer);
    if (ilist_type(zd->column_titles)) ilist_destroy(zd->column_titles);
    g_free(zd);
    cm->window_data = nullptr;
}

} // namespace

// ---- The list ------------------------------------------------------------------------------------------------

GtkWidget *gzoom_fillPopUp(IList_t *answers, IList_t *display, IList_t *titles, IList_t *format, int columns,
                           const char *initial, int markup, int matching)
{
    require_texts(display);
    require_texts(answers);
    const std::vector<const char *> headings = list_texts(titles);
    const int shown = ilist_length(display);
    const int rows = shown / columns;
    const int returns = ilist_length(answers);
    if (!format && rows != returns)
        Abort("Mismatch in list lengths: Display = %d, Return = %d; Check seventh parameter the number of display "
              "columns",
              rows, returns);
    if (format && (rows != returns || ilist_length(format) != returns))
        Abort("Mismatch in list lengths: Display = %d, Return = %d, Format = %d; Check seventh parameter the number "
              "of display columns",
              rows, returns, ilist_length(format));
    if (format) require_texts(format);

    // A display list that is not a multiple of the columns leaves a last, partly filled row with
    // an empty answer; it has no format entry and stays white.
    const int all_rows = (shown + columns - 1) / columns;
    std::vector<GzoomColour> colours;
    if (format) colours = gzoom_get_row_colours(format, all_rows);
    GzoomRows *store = gzoom_rows_new(display, answers, format ? &colours : nullptr, static_cast<unsigned>(columns),
                                      markup);
    const int chosen = gzoom_initial_row(gzoom_rows_answers(store), initial, matching);

    GtkSingleSelection *selection = gtk_single_selection_new(G_LIST_MODEL(store));
    // Autoselect stays off when no row has an answer: then no row is selected.
    gtk_single_selection_set_autoselect(selection, chosen >= 0);
    gtk_single_selection_set_selected(selection, chosen >= 0 ? static_cast<guint>(chosen) : GTK_INVALID_LIST_POSITION);
    GtkWidget *view = gtk_column_view_new(GTK_SELECTION_MODEL(selection));
    gtk_widget_set_receives_default(view, TRUE);
    gtk_widget_set_can_focus(view, TRUE);
    gtk_column_view_set_single_click_activate(GTK_COLUMN_VIEW(view), FALSE);
    gtk_column_view_set_show_column_separators(GTK_COLUMN_VIEW(view), TRUE);
    gtk_column_view_set_show_row_separators(GTK_COLUMN_VIEW(view), FALSE);
    for (int c = 0; c < columns; ++c) {
        GtkListItemFactory *factory = gtk_signal_list_item_factory_new();
        g_signal_connect(factory, "setup", G_CALLBACK(gzoom_setup_widget), nullptr);
        g_signal_connect(factory, "bind", G_CALLBACK(gzoom_bind_widget), GUINT_TO_POINTER(c));
        g_signal_connect(factory, "unbind", G_CALLBACK(gzoom_unbind_widget), GUINT_TO_POINTER(c));
        const char *title = static_cast<std::size_t>(c) < headings.size() ? headings[c] : "";
        GtkColumnViewColumn *column = gtk_column_view_column_new(title, factory);
        // A row is as wide as its columns: the last one takes the spare width, so that the
        // selected row is marked across the whole list, not only under its texts.
        gtk_column_view_column_set_expand(column, c == columns - 1);
        gtk_column_view_append_column(GTK_COLUMN_VIEW(view), column);
        g_object_unref(column);
    }
    gtk_widget_grab_focus(view);
    return view;
}

// ---- The intrinsics -------------------------------------------------------------------------------------------

void gzoom_setup(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs < 12 || nargs > 14) Abort("Invalid number of parameters");
    GlobalData_t *gd = global_data;
    Stack &cm_entry = intr::arg(nargs, last, 0);
    const std::string title(intr::text(intr::arg(nargs, last, 1)));
    const int tall = intr::integer(intr::arg(nargs, last, 2));
    const int width = intr::integer(intr::arg(nargs, last, 3));
    const int placement = intr::integer(intr::arg(nargs, last, 4));
    IList_t *display = list_argument(intr::arg(nargs, last, 5));
    const int columns = intr::integer(intr::arg(nargs, last, 6));
    IList_t *answers = list_argument(intr::arg(nargs, last, 7));
    IList_t *titles = list_argument(intr::arg(nargs, last, 8));
    std::string initial(intr::text(intr::arg(nargs, last, 9)));
    IList_t *format = format_argument(intr::arg(nargs, last, 10));
    const int markup = intr::integer(intr::arg(nargs, last, 11));
    const int matching = nargs >= 13 ? intr::integer(intr::arg(nargs, last, 12)) : 0;
    if (matching != 0 && matching != 1) Abort("Invalid matching option %d", matching);
    const std::string key_set = nargs >= 14 ? key_set_argument(intr::arg(nargs, last, 13)) : DEFAULT_KEY_SET;
    if (columns < 1) Abort("Invalid number of display columns %d", columns);
    while (!initial.empty() && g_ascii_isspace(initial.back())) initial.pop_back();

    if (cm_entry.s_t != real || !(cm_entry.flags & stk_ref) || !cm_entry.s_c.C_N)
        Abort("The Control Matrix must be defined as a numeric");
    GtkWidget *window = gtk_window_new();
    ControlMatrix_t *cm = cattach_window1(&cm_entry, window, 0);
    NumericCvLONG(reinterpret_cast<long>(cm), cm_entry.s_c.C_N);
    ControlMatrix_t *parent = cm->prior;
    if (!parent) Abort("A zoom window must be opened from another window");
    auto *zd = g_new0(zoom_data, 1);
    cm->type = CM_WT_ZOOM;
    cm->window_data = zd;
    parent->return_focus = parent->event_index;
    mlog(3, "Do igzoom_setup for index = %d", parent->return_focus);

    const int height = tall == 1 ? 600 : 320;
    gtk_window_set_default_size(GTK_WINDOW(window), width * 10, height);
    gtk_window_set_title(GTK_WINDOW(window), title.c_str());
    g_signal_connect(window, "close-request", G_CALLBACK(on_gwin_new_delete), gd);
    g_signal_connect(window, "destroy", G_CALLBACK(on_gzoom_destroy), cm);
    for (const char *property : {"notify::default-width", "notify::default-height", "notify::maximized",
                                 "notify::fullscreened"})
        g_signal_connect(window, property, G_CALLBACK(aoae_configure_event), gd);

    zd->column_titles = ilist_clone(titles);
    zd->column_count = columns;
    zd->markup = markup;
    zd->initial_answer = g_strdup(initial.c_str());
    zd->matching = matching;
    build_main_box(cm, zd, display, answers, format, key_set, "gzoom-setup-select", "gzoom-setup");
    show_content(window, zd);
    gwindow_move(window, placement, width * 10, height);
    gwidget_give(result, window);
    if (gd->first_cm && gd->first_cm->next) ccallbacks_change_cursor();
}

void gzoom_reset(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs < 5 || nargs > 6) Abort("Invalid number of parameters");
    const std::string key_set = nargs == 6 ? key_set_argument(intr::arg(nargs, last, 5)) : DEFAULT_KEY_SET;
    IList_t *format = format_argument(intr::arg(nargs, last, 4));
    IList_t *answers = list_argument(intr::arg(nargs, last, 3));
    IList_t *display = list_argument(intr::arg(nargs, last, 2));
    const std::string title(intr::text(intr::arg(nargs, last, 1)));
    ControlMatrix_t *cm =
        cm_argument(nargs, last, 0, "Must provide pointer to the Control Matrix of the Select or Zoom window");
    if (cm->type != CM_WT_ZOOM) Abort("May only run igzoom_reset on a Zoom window");
    if (ilist_length(answers) == 0) return;

    zoom_data *zd = gzoom_data(cm);
    if (cm->prior) mlog(3, "Do igzoom_reset for index = %d", cm->prior->return_focus);
    GtkWidget *window = cm->window;
    gtk_window_set_title(GTK_WINDOW(window), title.c_str());
    zd->typeahead[0] = '\0';
    GtkSingleSelection *selection = gzoom_selection(zd);
    if (auto *row = static_cast<GzoomRow *>(gtk_single_selection_get_selected_item(selection))) {
        g_free(zd->initial_answer);
        zd->initial_answer = g_strdup(row->answer);
    }
    GDeleteSoftkeys(window);
    cfunctionkey_delete(cm);
    build_main_box(cm, zd, display, answers, format, key_set, "gzoom-reset-select", "gzoom-reset");
    show_content(window, zd);
}

// ---- What the forms engine asks ----------------------------------------------------------------------------------

zoom_data *gzoom_data(ControlMatrix_t *cm)
{
    if (!cm || cm->type != CM_WT_ZOOM || !cm->window_data) Abort("Not a zoom window");
    return static_cast<zoom_data *>(cm->window_data);
}

GtkSingleSelection *gzoom_selection(const zoom_data *zd)
{
    return GTK_SINGLE_SELECTION(gtk_column_view_get_model(GTK_COLUMN_VIEW(zd->column_view)));
}

char *gzoom_get_ip(ControlMatrix_t *cm)
{
    // An empty list (a search that found nothing) has no selected row: its routines see an empty
    // IP$ rather than ending the run.
    auto *row = static_cast<GzoomRow *>(gtk_single_selection_get_selected_item(gzoom_selection(gzoom_data(cm))));
    return g_strdup(row ? row->answer : "");
}

void gzoom_register_kind()
{
    WindowKindHooks hooks{};
    hooks.free_data = gzoom_free_data;
    hooks.value = gzoom_get_ip;
    hooks.search = gzoom_search_field;
    register_window_kind(CM_WT_ZOOM, hooks);
}
