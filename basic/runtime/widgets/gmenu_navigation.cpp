// Choosing a menu item and launching its program: Enter in the selection entry, selection by key
// path or short cut, grid clicks and footer buttons, the launch through the menu's Post_Focus
// routine; and the menu window's life: lent to a form and taken back, its close request and its
// destruction, which ends the main loop.
#include <cstring>
#include <string>

#include "applications.h"
#include "cattach.h"
#include "ccallback.h"
#include "cevents.h"
#include "cfunctionkey.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "cutil.h"
#include "gmenu.h"
#include "gmessage.h"
#include "gmisc.h"
#include "gsoftkeys.h"
#include "gwidget.h"
#include "gwindow.h"
#include "interp.h"
#include "message.h"
#include "misc.h"
#include "run_time.h"

namespace {

constexpr std::size_t PATH_TEXT_LIMIT = GMENU_ENTRY_MAX;  // longest text split into a path
constexpr int PROGRAM_PATH_SIZE = 512;

menu_data *menu() { return gmenu_data(gmenu_cm()); }

void show(GtkWidget *entry, const std::string &text)
{
    gtk_editable_set_text(GTK_EDITABLE(entry), text.c_str());
    gtk_editable_set_position(GTK_EDITABLE(entry), -1);
}

void clear_marks(menu_item *first)
{
    for (menu_item *i = first; i; i = i->next) i->selected = 0;
}

void clear_below(menu_item *top)
{
    for (menu_item *c = top->children; c; c = c->next) {
        c->selected = 0;
        clear_marks(c->children);
    }
}

// The first item in pre-order whose short cut is text, or nullptr.
menu_item *find_short_cut(menu_item *root, const char *text)
{
    for (menu_item *t = root; t; t = t->next) {
        if (std::strcmp(t->short_cut, text) == 0) return t;
        for (menu_item *c = t->children; c; c = c->next) {
            if (std::strcmp(c->short_cut, text) == 0) return c;
            for (menu_item *g = c->children; g; g = g->next)
                if (std::strcmp(g->short_cut, text) == 0) return g;
        }
    }
    return nullptr;
}

void choose(menu_data *v, const menu_item *item)
{
    g_strlcpy(v->selected_program, item->program, sizeof v->selected_program);
    g_strlcpy(v->selected_description, item->description, sizeof v->selected_description);
    g_strlcpy(v->selected_short_cut, item->short_cut, sizeof v->selected_short_cut);
    g_strlcpy(v->selected_key, item->key, sizeof v->selected_key);
}

void empty_selection(menu_data *v)
{
    v->selected_program[0] = v->selected_description[0] = v->selected_short_cut[0] = v->selected_key[0] = '\0';
}

// The numbers of a path text: an empty component counts 0, another its leading decimal number.
void path_numbers(const std::string &text, int numbers[3])
{
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        numbers[i] = 0;
        if (start > text.size()) continue;
        for (std::size_t p = start; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p)
            if (numbers[i] < 1000) numbers[i] = numbers[i] * 10 + (text[p] - '0');
        const std::size_t dot = text.find('.', start);
        start = dot == std::string::npos ? text.size() + 1 : dot + 1;
    }
}

struct LevelResult {
    menu_item *remembered = nullptr;
    bool found = false;
    bool launched = false;
};

// One level of a number path: every item's mark is cleared, the one numbered `number` marked and
// remembered; one with a program is chosen at once. In the third level a match without a program
// does not count as found.
LevelResult walk_level(menu_data *v, menu_item *first, int number, bool last_level)
{
    LevelResult r;
    for (menu_item *i = first; i; i = i->next) {
        i->selected = 0;
        if (number <= 0 || i->number != number) continue;
        i->selected = 1;
        r.remembered = i;
        if (i->program[0]) {
            choose(v, i);
            r.launched = true;
            return r;
        }
        if (!last_level) r.found = true;
    }
    return r;
}

int redraw(int answer)
{
    gmenu_display_menu(gmenu_cm());
    return answer;
}

// The grid click's match: the item of row r + 1 with a number is marked, and one with a program
// chosen and launched.
bool match_click(menu_data *v, menu_item *item, int r, GtkWidget *widget, GlobalData_t *gd)
{
    if (item->row != r + 1 || item->number <= 0) return false;
    item->selected = 1;
    if (item->program[0]) {
        choose(v, item);
        gmenu_finish(nullptr, v, widget, gd);
    }
    return true;
}

void click(GtkWidget *widget, GlobalData_t *gd)
{
    menu_data *v = menu();
    int column = -1, r = -1;
    for (int c = 0; c < GMENU_COLUMNS && column < 0; ++c)
        for (int row = 0; row < GMENU_ROWS; ++row)
            if (v->cells[c][row].box == widget) {
                column = c;
                r = row;
                break;
            }
    menu_item *top = gmenu_selected_top(v);
    if (column == 0) {
        if (top && top->selected) clear_below(top);
        for (menu_item *t = v->root; t; t = t->next) {
            t->selected = 0;
            match_click(v, t, r, widget, gd);
        }
    } else if (column == 1 && top) {
        if (top->selected) {
            for (menu_item *c = top->children; c; c = c->next) {
                c->selected = 0;
                if (match_click(v, c, r, widget, gd)) clear_marks(c->children);
            }
        } else {
            clear_marks(top->children);
        }
    } else if (column == 2 && top && top->selected) {
        menu_item *child = nullptr, *last = nullptr;
        for (menu_item *c = top->children; c && !child; c = c->next) {
            if (c->selected) child = c;
            last = c;
        }
        if (!child) child = last;
        if (child && child->selected)
            for (menu_item *g = child->children; g; g = g->next) {
                g->selected = 0;
                match_click(v, g, r, widget, gd);
            }
    }
    redraw(0);
}

void search(GtkText *entry_text, GlobalData_t *gd)
{
    menu_data *v = menu();
    if (!GTK_IS_TEXT(v->short_cut)) assertion_failed(__FILE__, __LINE__, "GTK_IS_TEXT(v->short_cut)");
    GtkWidget *entry = GTK_WIDGET(entry_text);
    const std::string text = gtk_editable_get_text(GTK_EDITABLE(entry));
    std::string buffer = text;
    if (v->entry_mode == GMENU_MODE_THOUGHT) {
        if (v->thought_widget) gtk_box_remove(GTK_BOX(v->thought_box), v->thought_widget);
        v->thought_widget = nullptr;
        const int crumb = static_cast<int>(std::strtol(text.empty() ? "" : text.c_str() + 1, nullptr, 10));
        show(entry, "");
        gmenu_get_tod(v, crumb);
        v->entry_mode = GMENU_MODE_PATH;
        buffer.clear();
        gmenu_clear_selected(gd);
    } else if (v->entry_mode == GMENU_MODE_SHORT_CUT) {
        if (const menu_item *item = find_short_cut(v->root, text.c_str())) {
            buffer = item->key;
            show(entry, buffer);
            v->entry_mode = GMENU_MODE_PATH;
        }
    }
    empty_selection(v);
    if (gmenu_display_short_cut(buffer.c_str(), gd) == 1) {
        show(entry, buffer);
        gmenu_finish(buffer.c_str(), v, entry, gd);
        redraw(0);
        return;
    }
    if (!buffer.empty() && buffer.back() != '.') {
        const std::string now = gtk_editable_get_text(GTK_EDITABLE(entry));
        show(entry, now.empty() ? "" : now + ".");
    }
}

} // namespace

void gmenu_Search(GtkText *entry, gpointer data)
{
    auto *gd = static_cast<GlobalData_t *>(data);
    const BusyFlag busy(gd->menu_search_lock);
    if (!busy.taken()) return;  // a search is under way: dropped
    forms_callback([&] {
        const RoutineName name("gmenu_Search");
        search(entry, gd);
    });
}

int gmenu_display_short_cut(const char *text, GlobalData_t *)
{
    menu_data *v = menu();
    const std::string path = std::string(text).substr(0, PATH_TEXT_LIMIT);
    int n[3];
    path_numbers(path, n);
    menu_item *top = gmenu_selected_top(v);
    if (n[0] < 1) {
        const bool letter = !path.empty() && g_ascii_isalpha(path[0]);
        if (!letter) return redraw(0);
        if (top) {
            top->selected = 0;
            clear_below(top);
        }
        const std::string first = path.substr(0, path.find('.'));
        if (menu_item *item = find_short_cut(v->root, first.c_str())) {
            for (menu_item *i = item; i; i = i->parent) i->selected = 1;
            if (item->program[0]) {
                choose(v, item);
                return redraw(1);
            }
        }
        return redraw(0);
    }
    if (top && top->selected) clear_below(top);
    LevelResult level = walk_level(v, v->root, n[0], false);
    if (level.launched) return redraw(1);
    if (level.found && n[1] > 0) {
        level = walk_level(v, level.remembered->children, n[1], false);
        if (level.launched) return redraw(1);
        if (level.found && n[2] > 0) {
            level = walk_level(v, level.remembered->children, n[2], true);
            if (level.launched) return redraw(1);
        }
    }
    if (!level.found) gmessage("Invalid menu selection", "E");
    return redraw(0);
}

int gmenu_clear_selected(GlobalData_t *)
{
    if (menu_item *top = gmenu_selected_top(menu())) {
        top->selected = 0;
        clear_marks(top->children);
    }
    return 1;
}

void gmenu_finish(const char *, menu_data *v, GtkWidget *widget, GlobalData_t *gd)
{
    const RoutineName name("gmenu_finish");
    const std::size_t end = std::strcspn(v->selected_program, " \t\n\r\f\v");
    v->selected_program[end] = '\0';
    const char *program = v->selected_program;
    bool exists = false;
    if (program[0]) {
        const char unit_text[3] = {program[0], program[1], '\0'};
        char path[PROGRAM_PATH_SIZE];
        cutil_sprintf(path, sizeof path, "%s/unit%d/%s", apps_PATH ? apps_PATH : APPS_ROOT,
                      static_cast<int>(std::strtol(unit_text, nullptr, 10)), program);
        exists = ufexists1(path) == 1;
    }
    if (exists) {
        ControlMatrix_t *cm = cget_cm_for_window(gd, gtk_widget_get_ancestor(widget, GTK_TYPE_WINDOW), 1);
        ControlMatrix_t *out = cm;
        int index = 0, closing = 0;
        char *text = nullptr;
        forms_event_calls().invoke(cm, &out, AC_POST_FOCUS, &index, nullptr, gd, "", "", 0, 1, &text, &closing, 0);
        g_free(text);
    } else {
        const std::string message = std::strcmp(program, "07790m") == 0
                                        ? std::string("This will be the Project View program")
                                        : "This will be the " + std::string(program) + " program";
        gmessage(message.c_str(), "I");
    }
    ccallbacks_finish_event(1, 0);
}

void gmenu_button_press_event(GtkGestureClick *gesture, int, double, double, gpointer gd)
{
    const BlockedHandler blocked(gesture, G_CALLBACK(gmenu_button_press_event), gd);
    forms_callback([&] {
        const RoutineName name("gmenu_button_press_event");
        click(gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(gesture)), static_cast<GlobalData_t *>(gd));
    });
}

void gmenu_button_key_event(GtkGestureClick *gesture, int, double, double, gpointer data)
{
    const BlockedHandler blocked(gesture, G_CALLBACK(gmenu_button_key_event), data);
    forms_callback([&] {
        const RoutineName name("gmenu_button_key_event");
        auto *gd = static_cast<GlobalData_t *>(data);
        GtkWidget *widget = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(gesture));
        menu_data *v = menu();
        for (int i = 0; i < GMENU_BUTTONS && v->buttons[i].type; ++i) {
            const menu_button &b = v->buttons[i];
            if (b.button != widget) continue;
            if (!b.program || !b.program[0]) return;
            gmenu_clear_selected(gd);
            v->selected_key[0] = v->selected_description[0] = v->selected_short_cut[0] = '\0';
            g_strlcpy(v->selected_program, b.program, sizeof v->selected_program);
            gmenu_display_short_cut("", gd);
            gmenu_finish(nullptr, v, widget, gd);
            return;
        }
    });
}

void gmenu_grab_focus(ControlMatrix_t *cm)
{
    menu_data *v = gmenu_data(cm);
    if (gmenu_get_time() > v->thought_hour) {
        if (v->thought_widget) gtk_box_remove(GTK_BOX(v->thought_box), v->thought_widget);
        v->thought_widget = nullptr;
        gmenu_get_tod(v, 0);
    }
    gtk_text_grab_focus_without_selecting(GTK_TEXT(v->short_cut));
    gtk_editable_set_position(GTK_EDITABLE(v->short_cut), -1);
}

GtkWidget *gmenu_remove_menu(ControlMatrix_t *cm)
{
    GtkWidget *content = cm->extra_widget;
    gtk_widget_set_visible(content, FALSE);
    g_object_ref(content);  // kept while the form borrows the window
    gtk_box_remove(GTK_BOX(cm->child_container), content);
    GtkWidget *window = cm->window;
    GDeleteSoftkeys(window);
    cfunctionkey_delete(cm);
    cm->window = CM_WINDOWLESS;
    return window;
}

void gmenu_restore_menu(ControlMatrix_t *cm)
{
    ControlMatrix_t *form = cm->next;
    GtkWidget *window = form->window;
    cm->window = window;
    char *program = g_strdup(form->app_name ? form->app_name : "");

    GDeleteSoftkeys(window);
    GtkWidget *content = cm->extra_widget;
    GtkWidget *form_content = form->extra_widget ? oska_form_content_frame(form->extra_widget) : nullptr;
    if (form_content && gtk_widget_get_parent(form_content) == cm->child_container)
        gtk_box_remove(GTK_BOX(cm->child_container), form_content);
    gtk_box_append(GTK_BOX(cm->child_container), content);
    g_object_unref(content);

    cmat_free_cm(form);
    // A window of the program's own still open keeps it loaded: it goes with the last of them.
    if (program[0] && !windows_use(FindApplication(program), *global_data)) DelApplication(program, window);
    g_free(program);

    const MenuSize size = gmenu_window_size_logged("Restore menu");
    gtk_window_set_default_size(GTK_WINDOW(window), size.width, size.height);
    gmenu_display_menu(cm);
    gsoftkey_box(cm, 1, "FKA", content, nullptr);
    gtk_widget_set_visible(content, TRUE);
    gtk_window_present(GTK_WINDOW(window));
    cutil_set_active_function_keys(cm, 0);
    gtk_window_set_title(GTK_WINDOW(window), "*** OSKA Application Manager ***");
    gtk_window_set_default_widget(GTK_WINDOW(window), gmenu_data(cm)->short_cut);
    ccursor_set_standard(cm);
}

gboolean on_gmenu_delete(GtkWindow *window, gpointer data)
{
    auto *gd = static_cast<GlobalData_t *>(data);
    ControlMatrix_t *first = gd->first_cm;
    if (first && first->window == CM_WINDOWLESS) return on_gwin_new_delete(window, data);
    const RoutineName name("on_gmenu_delete");
    gboolean refuse = TRUE;
    forms_callback([&] {
        if (ccallbacks_defer_close(cget_cm_for_window(gd, GTK_WIDGET(window), 0))) return;
        forms_event_calls().escape(GTK_WIDGET(window), nullptr, gd, 0);
        ControlMatrix_t *cm = cget_cm_for_window(gd, GTK_WIDGET(window), 0);
        if (!cm) return;
        if (!cm->closing) {
            ccursor_set_standard(cm);
            return;
        }
        gd->last_key = GDK_KEY_Escape;
        ++gd->key_count;
        if (!cm->next && cm->prior && cm->prior->window == CM_WINDOWLESS) {
            gmenu_restore_menu(cm->prior);
            return;
        }
        refuse = FALSE;
    });
    return refuse;
}

void on_gmenu_destroy(GtkWidget *window, gpointer name)
{
    GlobalData_t *gd = global_data;
    if (!gd) return;
    ControlMatrix_t *first = gd->first_cm;
    if (first && first->window == CM_WINDOWLESS) {
        on_gwin_new_destroy(window, name);
        return;
    }
    const RoutineName routine("on_gmenu_destroy");
    forms_callback([&] {
        if (ControlMatrix_t *cm = cget_cm_for_window(gd, window, 0)) gmenu_delete_data_store(gmenu_data(cm));
        cmat_free_window(window, Program_name);
        igtk_main_quit();  // the program goes on after its IGTK_MAIN
    });
}
