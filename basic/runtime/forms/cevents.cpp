// The end of an event (destroying the windows marked closing, presenting the newest window and
// making its focused field editable), the closing of a window after its routine answered, and the
// entry points of key and click events, which stop with "... not available" until they are built.
#include "cevents.h"

#include "cattach.h"
#include "cmatrix.h"
#include "kinds.h"
#include "message.h"

namespace {

unsigned long hex(const void *p) { return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)); }

// The newest CM not marked closing, or nullptr when all are.
ControlMatrix_t *newest_open(GlobalData_t *gd)
{
    for (ControlMatrix_t *cm = gd->last_cm; cm; cm = cm->prior)
        if (!cm->closing) return cm;
    return nullptr;
}

// The menu's refresh routine, due when a window above it closes in this event.
void refresh_menu(GlobalData_t *gd, ControlMatrix_t *menu)
{
    ControlMatrix_t *out = menu;
    int index = 0, closing = 0;
    char *text = nullptr;
    cinvoke_basic_routine(menu, &out, AC_MENU_REFRESH, &index, nullptr, gd, "", "", 0, 1, &text, &closing, 0);
    g_free(text);
    menu->menu_refresh_due = 0;
    if (menu->closing) Abort("Not permitted to delete a window from within Menu_Refresh");
    if (menu->focus_request) Abort("Not permitted to set the focus for the Menu");
    if (menu->drill_post_due) Abort("Not permitted to run Drill_Post from the Menu");
    if (menu->win_post_due) Abort("Not permitted to run Win_Post from the Menu");
    if (menu->zoom_post_due) Abort("Not permitted to run Zoom_Post from within Menu_Refresh");
}

// Destroys the window of a closing CM. Its destroy handler frees the CM; a CM still on the chain
// afterwards (no window, or no handler) is freed here, so that none outlives its window.
void destroy(ControlMatrix_t *cm)
{
    GtkWidget *window = cm->window;
    if (window && window != CM_WINDOWLESS && GTK_IS_WINDOW(window)) gtk_window_destroy(GTK_WINDOW(window));
    if (cm_chain_position(cm)) cmat_free_window_cm(cm);
}

struct FinishingEvent {
    explicit FinishingEvent(GlobalData_t *gd) : gd(gd) { gd->finishing_event = 1; }
    ~FinishingEvent() { gd->finishing_event = 0; }
    GlobalData_t *gd;
};

} // namespace

gboolean on_key_press_event(GtkEventControllerKey *, guint, guint, GdkModifierType, gpointer)
{
    forms_callback([] { Abort("Key events not available"); });
    return TRUE;
}

void on_button_press_event(GtkGestureClick *, int, double, double, gpointer)
{
    forms_callback([] { Abort("Mouse clicks not available"); });
}

int on_key_press_escape(GtkWidget *widget, GtkEventController *, GlobalData_t *gd, int)
{
    GtkWidget *window = widget ? gtk_widget_get_ancestor(widget, GTK_TYPE_WINDOW) : nullptr;
    if (!window || !cget_cm_for_window(gd, window, 0)) return 1;
    Abort("Key events not available");
}

int on_key_press_enter(GtkWidget *, GtkEventController *, guint, GlobalData_t *, int)
{
    Abort("Key events not available");
}

void ccallback_do_edit(ControlMatrix_t *, int, int, GdkModifierType, guint)
{
    Abort("Key events not available");
}

void ccallback_set_focus_next_field(ControlMatrix_t *, int, int, int, int, guint, int)
{
    Abort("Key events not available");
}

void ccallbacks_finish_event(int destroy_closing, int predisplay)
{
    GlobalData_t *gd = global_data;
    if (!gd || gd->finishing_event) return;
    const FinishingEvent guard(gd);

    if (ControlMatrix_t *cm = newest_open(gd)) {
        ControlMatrix_t *first = gd->first_cm;
        if (cm == first && cm->type == CM_WT_MENU)
            if (auto grab = window_kind(CM_WT_MENU).grab_focus) grab(cm);
        if (first && cm->next && first->menu_refresh_due) refresh_menu(gd, first);
        cm_resources().paint_colour_tables(cm);
    }
    if (destroy_closing) {
        for (ControlMatrix_t *cm = gd->last_cm, *prior; cm; cm = prior) {
            prior = cm->prior;
            if (!cm->closing) continue;
            if (prior && prior->window == CM_WINDOWLESS) {
                auto restore = window_kind(prior->type).restore;
                if (!restore) Abort("Menu screen not available");
                restore(prior);
            } else {
                destroy(cm);
            }
        }
    }
    ControlMatrix_t *last = gd->last_cm;
    cfocus_window_present(last);
    if (last && !cm_routine_running(last)) cmat_free_scmfree(last);
    if (predisplay && last) cinvoke_pre_display(last);
}

ControlMatrix_t *cdeletewin(ControlMatrix_t *cm, GlobalData_t *gd)
{
    FORMS_TRACE;
    if (!gd) gd = global_data;
    const bool logging = gd->log_level_lumbas >= 0;
    if (logging)
        mlog(0, "cdeletewin: Control Matrix %lX; prior %lX; next %lX", hex(cm), hex(cm->prior), hex(cm->next));
    if (cget_window_for_cm(gd, cm) == CM_WINDOWLESS) return nullptr;
    if (cm->closing) Abort("Window closing not available");
    if (logging) mlog(0, "cdeletewin: Return(cm_parent) = %lX", hex(cm));
    return cm;
}
