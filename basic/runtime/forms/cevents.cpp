// The end of an event (the menu's refresh, destroying the windows marked closing, presenting the
// newest window and making its focused field editable), the closing of a window after its routine
// answered (its Exit routine and the parent's post routines up the chain) and ICDELETE_WINDOW.
#include "cevents.h"

#include <memory>

#include "cases.h"
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
    cfocus_window_present(last);
    if (last && !cm_routine_running(last)) cmat_free_scmfree(last);
    if (predisplay && last) cinvoke_pre_display(last);
    ccallbacks_schedule_deferred_closes();
}

namespace {

guint deferred_close_source = 0;

// Whether a routine runs on cm or on a CM newer than it (whose window goes with cm's).
bool routine_running_from(const ControlMatrix_t *cm)
{
    for (; cm; cm = cm->next)
        if (cm_routine_running(cm)) return true;
    return false;
}

// The newest CM whose deferred close request may be made again now, or nullptr.
ControlMatrix_t *deferred_close_due(GlobalData_t *gd)
{
    // An event at work ends with ccallbacks_finish_event, which asks again.
    if (gd->finishing_event || gd->activate_lock || gd->escape_lock || gd->f8_lock) return nullptr;
    for (ControlMatrix_t *cm = gd->last_cm; cm; cm = cm->prior)
        if (cm->close_requested && !routine_running_from(cm)) return cm;
    return nullptr;
}

gboolean run_deferred_close(gpointer)
{
    deferred_close_source = 0;
    forms_callback([] {
        GlobalData_t *gd = global_data;
        ControlMatrix_t *cm = gd ? deferred_close_due(gd) : nullptr;
        if (!cm) return;
        cm->close_requested = 0;
        GtkWidget *window = cget_window_for_cm(gd, cm);
        if (gd->log_level_lumbas >= 0) mlog(0, "Deferred close request of Control Matrix %lX made again", hex(cm));
        // One at a time: the close road may change the chain, and its event's end asks again.
        if (window && window != CM_WINDOWLESS && GTK_IS_WINDOW(window)) gtk_window_close(GTK_WINDOW(window));
    });
    return G_SOURCE_REMOVE;
}

} // namespace

bool ccallbacks_defer_close(ControlMatrix_t *cm)
{
    if (!cm || !routine_running_from(cm)) return false;
    if (!cm->close_requested && global_data->log_level_lumbas >= 0)
        mlog(0, "Close request of Control Matrix %lX deferred: a routine runs on its window", hex(cm));
    cm->close_requested = 1;
    return true;
}

void ccallbacks_schedule_deferred_closes()
{
    GlobalData_t *gd = global_data;
    if (!gd || deferred_close_source) return;
    for (const ControlMatrix_t *cm = gd->last_cm; cm; cm = cm->prior)
        if (cm->close_requested && !routine_running_from(cm)) {
            // Made from the main loop, once the event that runs now has ended.
            deferred_close_source = g_idle_add(run_deferred_close, nullptr);
            return;
        }
}

namespace {

struct GFree {
    void operator()(void *p) const { g_free(p); }
};
using Text = std::unique_ptr<char, GFree>;

// What tells the three post routines apart.
struct PostKind {
    int code;
    const char *name;  // in the messages: "Win_Post", ...
    int ControlMatrix_t::*other1;
    const char *other1_message;
    int ControlMatrix_t::*other2;
    const char *other2_message;
};

const PostKind WIN_POST{AC_WIN_POST, "Win_Post", &ControlMatrix_t::drill_post_due,
                       "Not permitted to run icinvoke_drill_post from a Win_Post.", &ControlMatrix_t::zoom_post_due,
                       "Not permitted to run icinvoke_zoom_post from a Win_Post."};
const PostKind DRILL_POST{AC_DRILL_POST, "Drill_Post", &ControlMatrix_t::win_post_due,
                         "Not permitted to run icinvoke_win_post from a Drill_Post.", &ControlMatrix_t::zoom_post_due,
                         "Not permitted to run icinvoke_zoom_post from a Drill_Post."};
const PostKind ZOOM_POST{AC_ZOOM_POST, "Zoom_Post", &ControlMatrix_t::win_post_due,
                        "Not permitted to run icinvoke_win_post from a Zoom_Post.", &ControlMatrix_t::drill_post_due,
                        "Not permitted to run icinvoke_drill_post from a Zoom_Post."};

ControlMatrix_t *run_post(const PostKind &kind, ControlMatrix_t *parent, const char *text, int run)
{
    if (!parent) return nullptr;
    if (!run) return parent;
    GlobalData_t *gd = global_data;
    const int mode = parent->program_mode;
    int index = parent->return_focus;
    ControlMatrix_t *out = parent;
    char *answer_text = nullptr;
    int closing = 0;
    const int answer = cinvoke_basic_routine(parent, &out, kind.code, &index, nullptr, gd, "IP$", text ? text : "", 0,
                                             1, &answer_text, &closing, 0);
    Text result_text(answer_text);
    ControlMatrix_t *result = parent;
    if (answer) {
        if (parent->*kind.other1) Abort("%s", kind.other1_message);
        if (parent->*kind.other2) Abort("%s", kind.other2_message);
        if (cutil_count_next_real_cm(parent) > 0)
            Abort("Not permitted to create a window when returning true from the %s", kind.name);
        parent->closing = 1;
        if (!parent->post_text || !*parent->post_text) {
            g_free(parent->post_text);
            parent->post_text = result_text.release();
        }
        result = cdeletewin(parent, gd);
    }
    if (result) {
        ControlMatrix_t *newest = cutil_get_last_real_cm();
        if (newest && newest != result) {
            result = newest;
        } else if (result == parent && parent->focus_request) {
            if (parent->type == CM_WT_MENU) Abort("Not permitted to set focus in the Menu");
            ccallback_set_focus_next_field(parent, parent->return_focus, answer, mode, 0, 0, 0);
        }
    }
    return result;
}

// The window's Exit routine when one is attached: answers the CM that stands in for the closing
// one as the parent of its post (the window the routine made), or nullptr when the routine kept
// the window open. *ran is set when there was a routine.
ControlMatrix_t *run_exit(ControlMatrix_t *cm, GlobalData_t *gd, bool posts_taken, bool *ran)
{
    *ran = false;
    if (!cmat_get_fn_ptr(cm, 0, AC_EXIT)) return cm->prior;
    *ran = true;
    cm->zoom_post_due = cm->drill_post_due = cm->win_post_due = cm->closing = 0;
    if (cm->next)
        Abort("Unexpected child window exists when attempting to run a funciton attached with the 'Exit' Action Code");
    int index = 0, closing = 0;
    ControlMatrix_t *out = cm;
    char *text = nullptr;
    const int answer = cinvoke_basic_routine(cm, &out, AC_EXIT, &index, nullptr, gd, "IP$", "", 0, 1, &text, &closing, 0);
    g_free(text);
    if (!answer) {
        if (cm->next)
            Abort("May not create a window in the function attached with the Exit Action Code when returning false");
        return nullptr;
    }
    if (!cm->next) Abort("Must create a window in the function attached with the 'Exit' Action Code when returning true");
    if (posts_taken)
        Abort("Not permitted to call Win_Post, Drill_Post, or Zoom_Post, when function is attached with the 'Exit' "
              "Action Code");
    if (cm->closing || cm->win_post_due || cm->drill_post_due || cm->zoom_post_due)
        Abort("Not permitted to destroy a window, run Win_Post, Drill_Post, or Zoom_Post from an the 'Exit' Action "
              "Code");
    if (cm->next->next) Abort("May create only one window from the function attached with the 'Exit' Action Code");
    cm->closing = 1;
    return cm->next;
}

} // namespace

ControlMatrix_t *cinvoke_run_win_post(ControlMatrix_t *parent, const char *text, int run)
{
    return run_post(WIN_POST, parent, text, run);
}
ControlMatrix_t *cinvoke_run_drill_post(ControlMatrix_t *parent, const char *text, int run)
{
    return run_post(DRILL_POST, parent, text, run);
}
ControlMatrix_t *cinvoke_run_zoom_post(ControlMatrix_t *parent, const char *text, int run)
{
    return run_post(ZOOM_POST, parent, text, run);
}

ControlMatrix_t *cdeletewin(ControlMatrix_t *cm, GlobalData_t *gd)
{
    FORMS_TRACE;
    if (!gd) gd = global_data;
    const bool logging = gd->log_level_lumbas >= 0;
    if (logging)
        mlog(0, "cdeletewin: Control Matrix %lX; prior %lX; next %lX", hex(cm), hex(cm->prior), hex(cm->next));
    if (cget_window_for_cm(gd, cm) == CM_WINDOWLESS) return nullptr;
    ControlMatrix_t *result = cm;
    if (cm->closing) {
        if (cm->sem_id != -1) {
            cipc_sem_remove(cm->sem_id);
            cm->sem_id = -1;
        }
        cipc_close_pipe_for_reading(&cm->pipe_read_fd);
        const int win = cm->win_post_due, drill = cm->drill_post_due, zoom = cm->zoom_post_due;
        const Text text(cm->post_text);
        cm->post_text = nullptr;
        ControlMatrix_t *parent = cm->prior;
        bool exit_ran = false;
        ControlMatrix_t *cm_parent = run_exit(cm, gd, win || drill || zoom, &exit_ran);
        if (exit_ran && !cm_parent) {
            result = cm;  // the Exit routine kept the window open
        } else {
            if (win + drill + zoom >= 2)
                Abort("Not permitted to call more than one of Win_Post, Drill_Post, and Zoom_Post, from within the "
                      "one function");
            if (!cm_parent && parent) Abort("Unexpected null cm_parent1 and non null parent");
            result = cinvoke_run_win_post(cm_parent, text.get(), win);
            result = cinvoke_run_drill_post(result, text.get(), drill);
            result = cinvoke_run_zoom_post(result, text.get(), zoom);
            if (result) ccursor_set_standard(result);
        }
    }
    if (logging) mlog(0, "cdeletewin: Return(cm_parent) = %lX", hex(result));
    return result;
}

void cdelete_window(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("Invalid number of parameters to icdelete_window");
    ControlMatrix_t *cm = cutil_get_cm(global_data, &intr::arg(nargs, last, 0));
    if (!cm) Abort("Must set the Process Control Matrix first");
    cm->closing = 1;
    const int open_children = cutil_count_next_real_cm(cm);
    if (global_data->log_level_lumbas >= 3)
        mlog(3, "\n\nSet icdelete_window %lX; Control Matrix %lX; Undeleted children %d\n\n",
             hex(cget_window_for_cm(global_data, cm)), hex(cm), open_children);
    if (open_children >= 2)
        Abort("Attempting to use icdelete_window to delete a parent window when it has undeleted children. Child "
              "windows must be deleted along with deleting the parent.");
}
