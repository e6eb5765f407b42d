// The menu screen's intrinsics: building the menu window and its CM (IGMENU_SETUP), rebuilding it
// from a new definition list (IGMENU_RESET) or with new counts (IGMENU_SET_BUTTONS), the short-cut
// display flag, the refresh request, and what the launch routine reads (IGMENU_GET, IGMENU_KEY$);
// and the menu's row in the forms engine's table of window kinds.
#include <string>

#include "aoae.h"
#include "cases.h"
#include "cmatrix.h"
#include "gmenu.h"
#include "gmisc.h"
#include "gsoftkeys.h"
#include "gwidget.h"
#include "ilist.h"
#include "kinds.h"
#include "message.h"

namespace {

using intr::arg;

constexpr const char *MENU_TITLE = "*** OSKA Application Manager ***";

std::string text_arg(int nargs, int last, int i) { return std::string(intr::text(arg(nargs, last, i))); }

IList_t *list_arg(int nargs, int last, int i)
{
    return reinterpret_cast<IList_t *>(static_cast<std::intptr_t>(intr::long_integer(arg(nargs, last, i))));
}

// The menu CM an intrinsic names (a handle of 0 included), else the run ends with message.
ControlMatrix_t *menu_argument(int nargs, int last, const char *message)
{
    ControlMatrix_t *cm = cutil_get_cm(global_data, &arg(nargs, last, 0));
    if (!cm || cm->type != CM_WT_MENU) Abort("%s", message);
    return cm;
}

// The buttons' texts from the argument at first on: Incoming, Project View and Tarvel programs,
// six counts.
MenuButtonTexts button_texts(int nargs, int last, int first)
{
    MenuButtonTexts t;
    t.incoming = text_arg(nargs, last, first);
    t.project_view = text_arg(nargs, last, first + 1);
    t.tarvel = text_arg(nargs, last, first + 2);
    for (int i = 0; i < 6; ++i) t.counts[i] = text_arg(nargs, last, first + 3 + i);
    return t;
}

int background_number(const std::string &text) { return static_cast<int>(std::strtol(text.c_str(), nullptr, 10)); }

// Takes the title, site word, logo, list, programs, counts and background number from the
// argument at `title` on (IGMENU_RESET's are one earlier than IGMENU_SETUP's) and loads the list.
void load_menu(menu_data *v, int nargs, int last, int title)
{
    v->title = g_strdup(text_arg(nargs, last, title).c_str());
    v->site = g_strdup(text_arg(nargs, last, title + 1).c_str());
    v->logo = g_strdup(text_arg(nargs, last, title + 2).c_str());
    IList_t *list = list_arg(nargs, last, title + 3);
    const MenuButtonTexts buttons = button_texts(nargs, last, title + 4);
    menu_bg_no = background_number(text_arg(nargs, last, title + 13));
    gmenu_set_buttons(v, buttons);
    gmenu_fill_data_store(list, v);
}

GtkWidget *menu_window(ControlMatrix_t *cm)
{
    GtkWindow *w = cm_real_window(cm);
    return w ? GTK_WIDGET(w) : nullptr;
}

void set_default_widget(ControlMatrix_t *cm, GtkWidget *widget)
{
    if (GtkWidget *w = menu_window(cm)) gtk_window_set_default_widget(GTK_WINDOW(w), widget);
}

// Header, grid and footer of a reset menu, first in the content box (ahead of the soft-key bar).
void rebuild_content(ControlMatrix_t *cm, menu_data *v)
{
    GtkWidget *content = cm->extra_widget;
    for (GtkWidget *w : {v->header, v->grid, v->footer})
        if (w) gtk_box_remove(GTK_BOX(content), w);
    GtkWidget *footer = gmenu_setup_Footer(global_data);
    gtk_widget_set_name(footer, "footer_gmenu_reset");
    oska_box_prepend(content, footer, 0, 1, 0);
    oska_box_prepend(content, gmenu_setup_Middle(global_data), 1, 1, 0);
    oska_box_prepend(content, gmenu_setup_Header(v, v->logo, v->code, v->title, v->site), 0, 1, 0);
}

void free_menu(ControlMatrix_t *cm)
{
    auto *v = gmenu_data(cm);
    gmenu_delete_data_store(v);
    g_free(v);
}

} // namespace

void igmenu_setup(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 16) Abort("Invalid number of parameters");
    GlobalData_t *gd = global_data;
    // Every menu handler finds the menu as the chain's first CM.
    if (gd->first_cm) Abort("The menu must be built before any other window");
    Stack &variable = arg(nargs, last, 0);
    if (variable.s_t != real || !(variable.flags & stk_ref) || !variable.s_c.C_N)
        Abort("The Control Matrix must be defined as a numeric");

    GtkWidget *window = gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(window), MENU_TITLE);
    const MenuSize size = gmenu_window_size_logged("Setup menu");
    gtk_window_set_default_size(GTK_WINDOW(window), size.width, size.height);

    ControlMatrix_t *cm = cattach_window1(&variable, window, 0);
    NumericCvLONG(reinterpret_cast<long>(cm), variable.s_c.C_N);
    cm->type = CM_WT_MENU;
    auto *v = static_cast<menu_data *>(g_malloc0(sizeof(menu_data)));
    cm->window_data = v;

    v->code = g_strdup(text_arg(nargs, last, 1).c_str());
    g_strlcpy(gd->menu_code, std::string(v->code).substr(0, 6).c_str(), sizeof gd->menu_code);
    load_menu(v, nargs, last, 2);

    g_signal_connect(window, "close-request", G_CALLBACK(on_gmenu_delete), gd);
    g_signal_connect_data(window, "destroy", G_CALLBACK(on_gmenu_destroy), g_strdup("Menu"),
                          [](gpointer name, GClosure *) { g_free(name); }, GConnectFlags(0));
    for (const char *property : {"notify::default-width", "notify::default-height", "notify::maximized",
                                 "notify::fullscreened"})
        g_signal_connect(window, property, G_CALLBACK(aoae_configure_event), gd);
    cm->busy = 1;

    GtkWidget *container = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_name(container, "cm_container");
    gtk_widget_set_hexpand(container, TRUE);
    gtk_widget_set_vexpand(container, TRUE);
    gtk_window_set_child(GTK_WINDOW(window), container);
    cm->child_container = container;
    GtkWidget *content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_name(content, "cm_content");
    oska_box_append(container, content, 1, 1, 0);
    cm->extra_widget = content;

    oska_box_append(content, gmenu_setup_Header(v, v->logo, v->code, v->title, v->site), 0, 1, 0);
    oska_box_append(content, gmenu_setup_Middle(gd), 1, 1, 5);
    GtkWidget *footer = gmenu_setup_Footer(gd);
    gtk_widget_set_name(footer, "footer_gmenu_setup");
    oska_box_append(content, footer, 0, 1, 0);

    gmenu_display_menu(cm);
    gsoftkey_box(cm, 1, "FKA", content, nullptr);
    gtk_window_present(GTK_WINDOW(window));
    gtk_window_set_default_widget(GTK_WINDOW(window), v->short_cut);
    gwidget_give(result, window);
}

void igmenu_reset(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 15) Abort("Invalid number of parameters");
    ControlMatrix_t *cm = menu_argument(nargs, last, "May only use igmenu_reset on a Menu");
    menu_data *v = gmenu_data(cm);
    char *code = v->code;
    v->code = nullptr;
    gmenu_delete_data_store(v);
    v->code = code;
    load_menu(v, nargs, last, 1);

    set_default_widget(cm, nullptr);
    rebuild_content(cm, v);
    gmenu_display_menu(cm);
    set_default_widget(cm, v->short_cut);
}

void igmenu_set_buttons(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 7) Abort("Invalid number of parameters");
    ControlMatrix_t *cm = menu_argument(nargs, last, "May only use igmenu_set_buttons on a Menu");
    menu_data *v = gmenu_data(cm);
    for (int i = 1; i < GMENU_BUTTONS; ++i) {
        g_free(v->buttons[i].count);
        v->buttons[i].count = g_strdup(text_arg(nargs, last, i).c_str());
    }
    if (GtkRoot *root = v->short_cut ? gtk_widget_get_root(v->short_cut) : nullptr)
        if (GTK_IS_WINDOW(root)) gtk_window_set_default_widget(GTK_WINDOW(root), nullptr);
    GtkWidget *old = v->footer;
    GtkWidget *footer = gmenu_setup_Footer(global_data);
    gtk_widget_set_name(footer, "footer_set_buttons");
    gtk_box_insert_child_after(GTK_BOX(cm->extra_widget), footer, old);
    gtk_box_remove(GTK_BOX(cm->extra_widget), old);
    gmenu_display_menu(cm);
    if (!cm->next) set_default_widget(cm, v->short_cut);
}

void igmenu_set_shortcut(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Invalid number of parameters");
    ControlMatrix_t *cm = menu_argument(nargs, last, "May only use igmenu_set_shortcut on a Menu");
    gmenu_data(cm)->show_short_cuts = intr::integer(arg(nargs, last, 1)) == 1 ? 1 : 0;
}

void igmenu_refresh(int, int)
{
    FORMS_TRACE;
    if (ControlMatrix_t *menu = gmenu_cm()) menu->menu_refresh_due = 1;
}

void igmenu_get(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Invalid number of parameters");
    ControlMatrix_t *cm = menu_argument(nargs, last, "May only use igmenu_get on a Menu");
    intr::store_text(arg(nargs, last, 1), gmenu_data(cm)->selected_program, "IGMENU_GET");
}

void igmenu_key(int, int, Stack *result)
{
    std::string key = gmenu_key_text();
    if (!key.empty() && key.back() == '.') key.pop_back();
    intr::set_text(result, key);
}

void gmenu_register_window_kind()
{
    WindowKindHooks row = window_kind(CM_WT_MENU);
    row.free_data = free_menu;
    row.grab_focus = gmenu_grab_focus;
    row.restore = gmenu_restore_menu;
    row.lend_window = gmenu_remove_menu;
    register_window_kind(CM_WT_MENU, row);
}
