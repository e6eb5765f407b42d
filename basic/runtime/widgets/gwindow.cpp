// Form windows: the type table, the placement arithmetic, IGWIN_NEW and IGWINDOW_MOVE, and the
// close and destroy handlers of every window made here.
#include "gwindow.h"

#include <string>

#include "aoae.h"
#include "applications.h"
#include "cases.h"
#include "ccallback.h"
#include "cevents.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "gwidget.h"
#include "interp.h"
#include "kinds.h"
#include "message.h"
#include "run_time.h"

namespace {

int rounded(float v) { return static_cast<int>(v + 0.5f); }

// The rows of the type table, but "a" (scaled) and "x" (the launch area).
struct FixedType {
    char letter;
    WindowType type;
};
constexpr FixedType fixed_types[] = {
    {'b', {530, 500, 4, false}},    {'c', {530, 500, 0, false}},   {'e', {530, 670, 3, false}},
    {'f', {530, 670, 103, true}},   {'g', {530, 500, 106, true}},  {'h', {1, 1, 100, true}},
    {'i', {1014, 680, 108, true}},  {'j', {530, 500, 104, true}},  {'k', {530, 500, 100, true}},
    {'n', {1, 1, 0, false}},        {'p', {530, 350, 0, false}},   {'q', {530, 350, 100, true}},
    {'s', {1014, 480, 5, false}},   {'t', {1014, 480, 105, true}}, {'w', {530, 500, 6, false}},
};

WindowArea area_of(const GlobalData_t &gd)
{
    if (const ControlMatrix_t *cm = gd.last_cm) return {cm->oae_app_x, cm->oae_app_y, cm->oae_app_width, cm->oae_app_height};
    return {gd.oae_app_x, gd.oae_app_y, gd.oae_app_width, gd.oae_app_height};
}

void free_name(gpointer name, GClosure *) { g_free(name); }

// The destroy handler owns name (freed with the handler).
void connect_window(GtkWidget *window, GlobalData_t *gd, char *name)
{
    g_signal_connect_data(window, "destroy", G_CALLBACK(on_gwin_new_destroy), name, free_name, GConnectFlags(0));
    g_signal_connect(window, "close-request", G_CALLBACK(on_gwin_new_delete), gd);
    for (const char *property : {"notify::default-width", "notify::default-height", "notify::maximized",
                                 "notify::fullscreened"})
        g_signal_connect(window, property, G_CALLBACK(aoae_configure_event), gd);
}

} // namespace

bool windows_use(const Application_t *ap, const GlobalData_t &gd)
{
    if (!ap) return false;
    const Interp_t *context = ap->app ? ap->app->interp : nullptr;
    for (const ControlMatrix_t *cm = gd.first_cm; cm; cm = cm->next) {
        if (context && cm->Minterp == context) return true;
        for (const SubControlMatrix_t *s = cm->scm_list; s; s = s->next)
            if (s->application == ap) return true;
    }
    return false;
}

// ---- Arithmetic ----------------------------------------------------------------------------------------

float gwin_scaling_factor(char letter, int area_width, int area_height)
{
    float s = 1.0f;
    if (letter != 'a' && letter != 'i' && letter != 's' && letter != 't') return s;
    if (area_width < 1014) s = static_cast<float>(area_width) / 1014.0f;
    if (area_height < rounded(s * 680.0f)) s = static_cast<float>(area_height) / 680.0f;
    return s;
}

bool gwin_type(char letter, float factor, const GlobalData_t &gd, WindowType *out)
{
    if (letter == 'a') {
        *out = {rounded(factor * 1014.0f), rounded(factor * 680.0f), 8, false};
        return true;
    }
    if (letter == 'x') {
        *out = {gd.oae_app_width, gd.oae_app_height, 8, false};
        return true;
    }
    for (const FixedType &t : fixed_types)
        if (t.letter == letter) {
            *out = t.type;
            return true;
        }
    return false;
}

WindowPosition gwindow_position(int p, int w, int h, int dw, int dh, const WindowArea &a, int dx, int dy)
{
    if (w < 2) {
        w = dw;
        h = dh;
    }
    const int xc = (a.width - w) / 2 + a.x - dx, xr = a.width - w + a.x - 2 * dx;
    const int ym = (a.height - h) / 2 + a.y - dy, yb = a.height - h + a.y - 2 * dy;
    // The second set: the passed width and height act as offsets from the same ten points.
    const int oc = w + a.x - a.width / 2 - dx, or_ = a.x + w - a.width - 2 * dx, ol = a.x + w;
    const int om = h + a.y - a.height / 2 - dy, ot = a.y + h, ob = a.y + h - a.height - 2 * dy;
    int x = 0, y = 0;
    switch (p) {
    case 0: x = xc, y = ym; break;
    case 1: x = xc, y = a.y; break;
    case 2: x = xr, y = a.y; break;
    case 3: x = xr, y = ym; break;
    case 4: x = xr, y = yb; break;
    case 5: x = xc, y = yb; break;
    case 6: x = a.x, y = yb; break;
    case 7: x = a.x, y = ym; break;
    case 8: case 9: x = a.x, y = a.y; break;
    case 100: x = oc, y = om; break;
    case 101: x = oc, y = ot; break;
    case 102: x = or_, y = ot; break;
    case 103: x = or_, y = om; break;
    case 104: x = or_, y = ob; break;
    case 105: x = oc, y = ob; break;
    case 106: x = ol, y = ob; break;
    case 107: x = ol, y = om; break;
    case 108: case 109: x = ol, y = ot; break;
    default: break;
    }
    if (p != 0 && p != 100) {
        w = dw;
        h = dh;
    }
    if (x + w > a.x + a.width - 2 * dx) x = a.x + a.width - 2 * dx - w;
    if (x < a.x) x = a.x;
    if (y + h > a.y + a.height - 2 * dy) y = a.y + a.height - 2 * dy - h;
    if (y < a.y) y = a.y;
    return {x, y};
}

WindowPosition gwin_new_offsets(int p, int W, int H, int pw, int ph)
{
    const int cx = (pw + 10 - W) / 2, rx = pw + 10 - W, my = (ph + 28 - H) / 2, by = ph + 28 - H;
    WindowPosition o{0, 0};
    switch (p) {
    case 100: o = {cx, my}; break;
    case 101: o = {cx, 0}; break;
    case 102: o = {rx, 0}; break;
    case 103: o = {rx, my}; break;
    case 104: o = {rx, by}; break;
    case 105: o = {cx, by}; break;
    case 106: o = {0, by}; break;
    case 107: o = {0, my}; break;
    default: break;
    }
    if (o.x < 0) o.x = 0;
    if (o.y < 0) o.y = 0;
    return o;
}

// ---- Windows ---------------------------------------------------------------------------------------------

WindowPosition gwin_new_get_posn(int p, int width, int height)
{
    GtkWindow *parent = cm_real_window(global_data->last_cm);
    if (!parent) return {0, 0};
    int pw = 0, ph = 0;
    gtk_window_get_default_size(parent, &pw, &ph);
    return gwin_new_offsets(p, width, height, pw, ph);
}

void gwindow_move(GtkWidget *window, int p, int width, int height)
{
    GlobalData_t *gd = global_data;
    ControlMatrix_t *cm = gd->last_cm;
    if (cm) {
        cm->window_width = width;
        cm->window_height = height;
    }
    int dw = 0, dh = 0;
    gtk_window_get_default_size(GTK_WINDOW(window), &dw, &dh);
    const WindowArea area = area_of(*gd);
    const int dx = gd->window_x_decoration, dy = gd->window_y_decoration;
    const WindowPosition pos = gwindow_position(p, width, height, dw, dh, area, dx, dy);
    if (cm) {
        cm->window_x = pos.x;
        cm->window_y = pos.y;
    }
    if (gd->log_level_lumbas < 0) return;
    mlog(0, "gwindow_move: placement %d; width %d; height %d; default size %dx%d", p, width, height, dw, dh);
    mlog(0, "gwindow_move: area x = %d; y = %d; width = %d; height = %d; decoration %d, %d", area.x, area.y,
         area.width, area.height, dx, dy);
    const std::string rule(44, '#');
    mlog(0, "%s", rule.c_str());
    mlog(0, "###  Move Window to: x = %4d; y = %4d  ###", pos.x, pos.y);
    mlog(0, "%s", rule.c_str());
}

GtkWidget *gwin_new_nb(const char *type, float factor)
{
    FORMS_TRACE;
    GlobalData_t *gd = global_data;
    WindowType t;
    if (!gwin_type(type[0], factor, *gd, &t)) Abort("Unexpected window type %s", type);
    int passed_w = t.width, passed_h = t.height;
    if (t.offsets) {
        const WindowPosition o = gwin_new_get_posn(t.placement, t.width, t.height);
        passed_w = o.x;
        passed_h = o.y;
    }
    // The running program's name, empty inside a routine run from an event: the destroy handler
    // unloads what was loaded for it.
    char *name = g_strdup(ib_callback_depth == 0 && Program_name ? Program_name : "");
    if (Application_t *ap = FindApplication(name)) ap->windowed = 1;
    ControlMatrix_t *newest = gd->last_cm;
    GtkWidget *window;
    if (newest && newest->type == CM_WT_MENU) {
        g_free(name);
        // The form shows in the menu's window, which the menu takes back when the form closes.
        auto lend = window_kind(CM_WT_MENU).lend_window;
        if (!lend) Abort("Menu screen not available");
        window = lend(newest);
        gtk_window_set_default_size(GTK_WINDOW(window), t.width, t.height);
        gwindow_move(window, t.placement, passed_w, passed_h);
    } else {
        window = gtk_window_new();
        gd->presented_cm = nullptr;  // the next focus change presents a window again
        connect_window(window, gd, name);
        gtk_window_set_default_size(GTK_WINDOW(window), t.width, t.height);
        gwindow_move(window, t.placement, passed_w, passed_h);
        gtk_window_set_title(GTK_WINDOW(window), "Oska Application Manager");
        if (GtkWindow *parent = cm_real_window(newest)) gtk_window_set_transient_for(GTK_WINDOW(window), parent);
    }
    if (!gtk_widget_get_visible(window)) gtk_window_present(GTK_WINDOW(window));
    gtk_widget_set_cursor_from_name(window, "wait");
    return window;
}

gboolean on_gwin_new_delete(GtkWindow *window, gpointer data)
{
    const RoutineName name("on_gwin_new_delete");
    gboolean refuse = TRUE;
    forms_callback([&] {
        auto *gd = static_cast<GlobalData_t *>(data);
        // Never under a routine: the window and its CM would go while it still runs on them.
        if (ccallbacks_defer_close(cget_cm_for_window(gd, GTK_WIDGET(window), 0))) return;
        ccursor_set_inactive(gd->last_cm);
        const int predisplay = on_key_press_escape(GTK_WIDGET(window), nullptr, gd, 0);
        ccallbacks_finish_event(1, predisplay);
        ControlMatrix_t *cm = cget_cm_for_window(gd, GTK_WIDGET(window), 0);
        if (!cm || !cm->closing) {
            if (cm && !cm->next) ccursor_set_standard(cm);
            return;
        }
        gd->last_key = GDK_KEY_Escape;
        ++gd->key_count;
        ControlMatrix_t *prior = cm->prior;
        if (!cm->next && prior) ccursor_set_standard(prior);
        if (!cm->next && prior && prior->window == CM_WINDOWLESS) {
            auto restore = window_kind(prior->type).restore;
            if (!restore) Abort("Menu screen not available");
            restore(prior);
            return;
        }
        refuse = FALSE;
    });
    return refuse;
}

void on_gwin_new_destroy(GtkWidget *window, gpointer program_name)
{
    const RoutineName name("on_gwin_new_destroy");
    forms_callback([&] {
        GlobalData_t *gd = global_data;
        if (!gd) return;
        const char *program = static_cast<const char *>(program_name);
        cmat_free_window(window, program);
        if (!gd->first_cm) {
            igtk_main_quit();  // the last window is gone: the run goes on after IGTK_MAIN
            return;
        }
        // The program goes with the window its main made once nothing else of it is in use: its
        // code has ended (DelApplication sees to that) and no window left runs its routines.
        if (!windows_use(FindApplication(program), *gd)) DelApplication(program, window);
        const ControlMatrix_t *first = gd->first_cm;
        const bool menu_alone = first == gd->last_cm && first->type == CM_WT_MENU;
        ccallbacks_finish_event(0, menu_alone ? 0 : 1);
    });
}

// ---- Intrinsics ------------------------------------------------------------------------------------------

void igwin_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("Invalid number of parameters");
    const std::string type(intr::text(intr::arg(nargs, last, 0)));
    GlobalData_t *gd = global_data;
    const float s = gwin_scaling_factor(type.empty() ? '\0' : type[0], gd->oae_app_width, gd->oae_app_height);
    if (gd->log_level_lumbas > 0) {
        mlog(0, "gwin_new: scaling factor: %f", static_cast<double>(s));
        mlog(0, "gwin_new: device geometry: %dx%d", gd->oae_app_width, gd->oae_app_height);
    }
    ccallbacks_finish_event(1, 1);
    gwidget_give(result, gwin_new_nb(type.c_str(), s));
}

void igwindow_move(int nargs, int last)
{
    FORMS_TRACE;
    if (Back_ground) return;  // no window to move
    if (nargs != 3) Abort("Invalid number of parameters");
    GtkWidget *window = gwidget_arg_of(intr::arg(nargs, last, 0), GTK_TYPE_WINDOW);
    const int placement = intr::integer(intr::arg(nargs, last, 1));
    const int width = intr::integer(intr::arg(nargs, last, 2));
    int dw = 0, dh = 0;
    gtk_window_get_default_size(GTK_WINDOW(window), &dw, &dh);
    gwindow_move(window, placement, width, dh);
}
