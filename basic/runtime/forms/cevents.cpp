// The end of an event: the menu's refresh, destroying the windows marked closing, presenting the
// newest window and making its focused field editable. The closing of a window after its routine
// answered is cnext.cpp's.
#include "cevents.h"

#include "cases.h"
#include "cattach.h"
#include "cfocus.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "kinds.h"
#include "message.h"

namespace {

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

void ccallbacks_finish_event(int destroy_closing, int predisplay)
{
    GlobalData_t *gd = global_data;
    if (!gd || gd->finishing_event) return;
    const FinishingEvent guard(gd);

    if (ControlMatrix_t *cm = newest_open(gd)) {
        ControlMatrix_t *first = gd->first_cm;
        if (first && cm->next && first->menu_refresh_due) refresh_menu(gd, first);
        cm_resources().paint_colour_tables(cm);
    }
    if (destroy_closing) {
        for (ControlMatrix_t *cm = gd->last_cm, *prior; cm; cm = prior) {
            prior = cm->prior;
            // A CM a routine still runs on stays marked: the end of the outermost event takes it,
            // so that no routine's window (or application) goes away under it.
            if (!cm->closing || cm_routine_running(cm)) continue;
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
    // The menu, the newest window again, gets its focus back: only now, since a menu that lent its
    // window to a form has it back only once the form's CM is taken above.
    if (last && last == gd->first_cm && last->type == CM_WT_MENU && last->window != CM_WINDOWLESS)
        if (auto grab = window_kind(CM_WT_MENU).grab_focus) grab(last);
    cfocus_window_present(last);
    if (last && !cm_routine_running(last)) cmat_free_scmfree(last);
    if (predisplay && last) cinvoke_pre_display(last);
    ccallbacks_schedule_deferred_closes();
}
