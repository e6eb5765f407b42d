// The chain of control matrices: creation and binding of windows, the handle check, lookups,
// state elements, cursors and the free road.
#include "cmatrix.h"

#include <cstring>

#include "applications.h"
#include "cattach.h"
#include "ccallback.h"
#include "cfield.h"
#include "cfunctionkey.h"
#include "interp.h"
#include "kinds.h"
#include "message.h"
#include "numerics.h"
#include "run_time.h"
#include "stack.h"

namespace {

unsigned long hex(const void *p) { return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)); }

long entry_value(const Stack *entry)
{
    long value = 0;
    NumericToLONG(entry->s_c.C_N, &value);
    return value;
}

bool has_unbound_cm(GlobalData_t *gd)
{
    for (ControlMatrix_t *cm = gd->first_cm; cm; cm = cm->next)
        if (!cm->window) return true;
    return false;
}

// Steps of binding shared by the intrinsic and the built-in windows: create or bind, then tie
// the CM to its parent window and to the application.
ControlMatrix_t *attach(GlobalData_t *gd, std::uintptr_t handle, GtkWidget *window)
{
    ControlMatrix_t *cm = window && has_unbound_cm(gd) ? cset_new_find(gd, window, handle) : cset_new(gd, window, handle);
    ControlMatrix_t *prior = cm->prior;
    if (prior) prior->return_focus = prior->event_index;
    if (gd->log_level_lumbas > 0) mlog(0, "Do icattach_window: Window = %lX; CM = %lX", hex(window), hex(cm));
    if (window && prior && prior->window && prior->window != CM_WINDOWLESS) {
        gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(prior->window));
        gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    }
    GtkWidget *own = cget_window_for_cm(gd, cm);
    if (own == CM_WINDOWLESS) Abort("Control Matrix not found");
    if (own != window) {
        ControlMatrix_t *holder = cget_cm_for_window(gd, window, 0);
        Abort("Too many windows open. Attempting to add window %lX index %d when prior window %lX index %d exists "
              "with same Control Matrix.",
              hex(window), cm_chain_position(holder), hex(own), cm_chain_position(cm));
    }
    if (window && !prior && !cm->child_container) cm->child_container = gtk_window_get_child(GTK_WINDOW(window));
    Application_t *ap = FindApplication(Program_name);
    if (ap && !ap->owner_window) ap->owner_window = window ? window : cm->window;
    // Last, the older form shows the wait cursor at once: the main loop turns for it, and what it
    // handles then may destroy either window and free its CM, so the binding is complete before.
    if (prior) {
        prior->busy = 0;
        ccursor_set_busy(prior, 0);
    }
    return cm;
}

void refuse_attached(GlobalData_t *gd, GtkWidget *window)
{
    if (window && cmat_window_exists_in_cm(gd, window))
        Abort("Attempting to attach a window %lX when the window is already attached to a Control Matrix", hex(window));
}

// The application area and monitor of a new CM: its parent's, or the launch values.
template <class From> void inherit_area(ControlMatrix_t *cm, const From &from)
{
    cm->oae_app_x = from.oae_app_x;
    cm->oae_app_y = from.oae_app_y;
    cm->oae_app_width = from.oae_app_width;
    cm->oae_app_height = from.oae_app_height;
    cm->monitor = from.monitor;
    cm->monitor_width = from.monitor_width;
    cm->monitor_height = from.monitor_height;
}

void free_invocations(ControlMatrix_t *cm)
{
    while (Invocation_t *inv = cm->invoke_stack) {
        cm->invoke_stack = inv->prior;
        g_free(inv->routine_name);
        g_free(inv->ip_text);
        g_free(inv->ip_decimal);
        g_free(inv);
    }
}

void free_rows(ControlMatrix_t *cm)
{
    for (int i = 1; i <= cm->field_count; ++i) g_free(cm_field(cm, i).name);
    g_free(cm->field);
    cm->field = nullptr;
    cm->field_count = cm->field_capacity = 0;
}

} // namespace

// ---- Creation and binding -------------------------------------------------------------------------

ControlMatrix_t *cset_new(GlobalData_t *gd, GtkWidget *window, std::uintptr_t handle)
{
    auto *cm = g_new0(ControlMatrix_t, 1);
    if (handle && handle != reinterpret_cast<std::uintptr_t>(cm)) {
        g_free(cm);
        Abort("Invalid numeric Control Matrix pointer passed to icattach_window");
    }
    Interp_t *interp = current_application && current_application->app ? current_application->app->interp : nullptr;
    if (Minterp != interp) {
        g_free(cm);
        Abort("Attempt to record cm->Minterp as %lX when current_application->app->app_interp is %lX", hex(Minterp),
              hex(interp));
    }
    ControlMatrix_t *prior = gd->last_cm;
    cm->prior = prior;
    if (prior) {
        prior->next = cm;
        inherit_area(cm, *prior);
        cm->softkey_event = prior->softkey_event;
    } else {
        gd->first_cm = cm;
        inherit_area(cm, *gd);
    }
    gd->last_cm = cm;
    cm->window = window;
    cm->type = CM_WT_WINDOW;
    cm->Minterp = Minterp;
    cm->sem_id = cm->sem_key = cm->pipe_read_fd = cm->pipe_write_fd = -1;
    cm->busy = 1;
    cm->user_edit_watch = 1;
    return cm;
}

ControlMatrix_t *cset_new_find(GlobalData_t *gd, GtkWidget *window, std::uintptr_t handle)
{
    ControlMatrix_t *cm = gd->last_cm;
    if (!cm) Abort("Control Matrix not found when attempting to update it");
    if (cm->window) Abort("Unexpected pre-existing window id encountered when attempting to update it");
    if (handle && handle != reinterpret_cast<std::uintptr_t>(cm))
        Abort("Invalid numeric Control Matrix pointer passed to icattach_window");
    cm->window = window;
    return cm;
}

ControlMatrix_t *cattach_window1(const Stack *entry, GtkWidget *window, int)
{
    refuse_attached(global_data, window);
    if (entry->s_t != real || !entry->s_c.C_N) Abort("The Control Matrix must be defined as a numeric");
    return attach(global_data, static_cast<std::uintptr_t>(entry_value(entry)), window);
}

// ---- Handle check and lookups -----------------------------------------------------------------------

ControlMatrix_t *cutil_get_cm(GlobalData_t *gd, const Stack *entry)
{
    if (entry->s_t != real || !entry->s_c.C_N) assertion_failed(__FILE__, __LINE__, "stk->s_t == real");
    const auto value = static_cast<std::uintptr_t>(entry_value(entry));
    if (!value) return nullptr;
    for (ControlMatrix_t *cm = gd->first_cm; cm; cm = cm->next)
        if (reinterpret_cast<std::uintptr_t>(cm) == value) return cm;
    Abort("Invalid Control Matrix pointer; The Control Matrix has possibly been deleted.");
}

ControlMatrix_t *cget_cm_for_window(GlobalData_t *gd, const GtkWidget *window, int must_exist)
{
    for (ControlMatrix_t *cm = gd->first_cm; cm; cm = cm->next)
        if (cm->window == window) return cm;
    if (must_exist) Abort("Widget not found in the Process Control Matrix (k)");
    return nullptr;
}

int cmat_window_exists_in_cm(GlobalData_t *gd, const GtkWidget *window)
{
    return cget_cm_for_window(gd, window, 0) ? 1 : 0;
}

GtkWidget *cget_window_for_cm(GlobalData_t *, const ControlMatrix_t *cm)
{
    if (cm->window != CM_WINDOWLESS) return cm->window;
    PROGRAM_ASSERT(cm->next);
    return cm->next->window;
}

namespace {

ControlMatrix_t *cm_owning(GlobalData_t *gd, GtkWidget *widget)
{
    GtkWidget *parent = cmat_widget_get_parent(widget);
    for (ControlMatrix_t *cm = gd->first_cm; cm; cm = cm->next) {
        if (cm->window != CM_WINDOWLESS) {
            if (widget == cm->window || parent == cm->window) return cm;
            if (parent && parent == cm->child_container) return cm;
            if (widget == cm->extra_widget) return cm;
        }
        for (int i = 1; i <= cm->field_count; ++i)
            if (cmat_cmp_widget(cm_field(cm, i).entry, widget, parent)) return cm;
    }
    return nullptr;
}

} // namespace

ControlMatrix_t *cget_cm_for_widget(GlobalData_t *gd, GtkWidget *widget)
{
    // A box nested deeper in a form (a row inside the content box, a box in a grid cell) belongs
    // to the form its nearest enclosing known container belongs to.
    for (GtkWidget *w = widget; w; w = gtk_widget_get_parent(w))
        if (ControlMatrix_t *cm = cm_owning(gd, w)) return cm;
    Abort("Widget %lX not found in the Control Matrix (n)", hex(widget));
}

void cutil_destroy_widget(GtkWidget *widget)
{
    GtkWidget *window = gtk_widget_get_ancestor(widget, GTK_TYPE_WINDOW);
    ControlMatrix_t *cm = cget_cm_for_window(global_data, window, 1);
    const int index = cget_index_for_ptr(cm, CM_ENTRY_PTR, widget, 0);
    const bool logging = global_data->log_level_lumbas > 2;
    if (logging) mlog(3, "igtable_delete_row index %d , widget %p", index, static_cast<void *>(widget));
    if (index < 1) return;
    cremove_ind(cm, index, index);
    if (logging) mlog(3, "igtable_delete_row cutil_destroy_widget Remove index %d from the Control Matrix", index);
}

GtkWidget *cget_window_for_widget(void *entry)
{
    GtkWidget *widget = cget_widget_for_widget(entry);
    return widget ? gtk_widget_get_ancestor(widget, GTK_TYPE_WINDOW) : nullptr;
}

ControlMatrix_t *cutil_get_last_cm(GlobalData_t *gd)
{
    return gd->last_cm;
}

ControlMatrix_t *cutil_get_last_real_cm()
{
    for (ControlMatrix_t *cm = global_data->last_cm; cm; cm = cm->prior)
        if (!cm->closing) return cm;
    return global_data->first_cm;
}

int cutil_count_next_real_cm(const ControlMatrix_t *cm)
{
    int n = 0;
    for (const ControlMatrix_t *c = cm->next; c; c = c->next)
        if (!c->closing) ++n;
    return n;
}

int cm_chain_position(const ControlMatrix_t *cm)
{
    int n = 1;
    for (const ControlMatrix_t *c = global_data->first_cm; c; c = c->next, ++n)
        if (c == cm) return n;
    return 0;
}

GtkWindow *cm_real_window(const ControlMatrix_t *cm)
{
    if (!cm || reinterpret_cast<std::intptr_t>(cm->window) <= 1000) return nullptr;
    GtkWidget *w = gtk_widget_get_ancestor(cm->window, GTK_TYPE_WINDOW);
    return w ? GTK_WINDOW(w) : nullptr;
}

bool cm_windows_mode()
{
    return !Back_ground && gtk_is_initialized();
}

// ---- State elements ---------------------------------------------------------------------------------------

int cset_st_get_int(const ControlMatrix_t *cm, int element)
{
    if (element < 1 || element > CM_MAX) Abort("Index into Control Matrix out of range (e): %d", element);
    switch (element) {
    case CM_PROG_MODE: return cm->program_mode;
    case CM_ANYCHANGE: return cm->anychange;
    case CM_MODIFIED: return cm->modified;
    case CM_CUR_FOCUS: return cm->current_focus;
    case CM_RET_FOCUS: return cm->return_focus;
    default: Abort("Unexpected element %d of cset_st_get_int", element);
    }
}

void cset_st_put_int(ControlMatrix_t *cm, int element, int value)
{
    if (element < 1 || element > CM_MAX) Abort("Index into Control Matrix out of range (f): %d", element);
    switch (element) {
    case CM_PROG_MODE: cm->program_mode = value; break;
    case CM_ANYCHANGE: cm->anychange = value; break;
    case CM_MODIFIED: cm->modified = value; break;
    case CM_CUR_FOCUS: cm->current_focus = value; break;
    default: Abort("Unexpected element %d of cset_st_put_int", element);
    }
}

// ---- Cursors ------------------------------------------------------------------------------------------------

void ccursor_set_busy(ControlMatrix_t *cm, int key)
{
    if (!cm || cm->busy) return;
    cm->busy = 1;
    GtkWindow *window = cm_real_window(cm);
    if (!window) return;
    gtk_widget_set_cursor_from_name(GTK_WIDGET(window), "wait");
    if (key == GDK_KEY_Control_L || key == GDK_KEY_Control_R || key == GDK_KEY_Alt_L || key == GDK_KEY_Alt_R) return;
    igtk_main_iteration();
}

void ccursor_set_standard(ControlMatrix_t *cm)
{
    GtkWindow *window = cm_real_window(cm);
    if (!window) return;
    cm->busy = 0;
    gtk_widget_set_cursor_from_name(GTK_WIDGET(window), "default");
}

void ccursor_set_inactive(ControlMatrix_t *cm)
{
    GtkWindow *window = cm_real_window(cm);
    if (!window) return;
    gtk_widget_set_cursor_from_name(GTK_WIDGET(window), "not-allowed");
    igtk_main_iteration();
}

void ccallbacks_change_cursor()
{
    for (ControlMatrix_t *cm = global_data->first_cm; cm; cm = cm->next)
        if (cm == global_data->last_cm)
            ccursor_set_standard(cm);
        else
            ccursor_set_inactive(cm);
}

// ---- Free road ------------------------------------------------------------------------------------------------

void cmat_free_window(GtkWidget *window, const char *program)
{
    char *saved = Program_name;
    Program_name = const_cast<char *>(program);
    if (ControlMatrix_t *cm = cget_cm_for_window(global_data, window, 0)) cmat_free_window_cm(cm);
    Program_name = saved;
}

void cmat_free_window_cm(ControlMatrix_t *cm)
{
    GtkWindow *newer = cm_real_window(cm->next);
    GtkWindow *older = cm_real_window(cm->prior);
    if (newer && older && cm->prior->type != CM_WT_MENU) gtk_window_set_transient_for(newer, older);
    if (cm->window && cm->window != CM_WINDOWLESS) cm_resources().delete_softkeys(cm->window);
    cmat_free_cm(cm);
}

void cmat_free_cm(ControlMatrix_t *cm)
{
    GlobalData_t *gd = global_data;
    if (cm->prior && !cm->next && cm->prior->window == CM_WINDOWLESS) Abort("Unexpected return to Menu");
    if (cm->next) cm->next->prior = cm->prior;
    if (cm->prior) cm->prior->next = cm->next;
    if (gd->first_cm == cm) gd->first_cm = cm->next;
    if (gd->last_cm == cm) gd->last_cm = cm->prior;
    cm->next = cm->prior = nullptr;
    if (gd->presented_cm == cm) gd->presented_cm = nullptr;
    if (cm->external_job) {
        // Its external program still runs and will report to it: it waits on a list of its own.
        cm->external_job = nullptr;
        cm->deferred_next = gd->deferred_cms;
        gd->deferred_cms = cm;
        return;
    }
    cmatrix_free(cm);
}

int cmat_free_deferred(ControlMatrix_t *cm)
{
    for (ControlMatrix_t **link = &global_data->deferred_cms; *link; link = &(*link)->deferred_next)
        if (*link == cm) {
            *link = cm->deferred_next;
            cmatrix_free(cm);
            return 1;
        }
    return 0;
}

void cmatrix_free(ControlMatrix_t *cm)
{
    cattach_free_all(cm);
    // The soft-key records of its window go too, however the CM goes (its window destroyed, or the
    // run's end): none may outlive the buttons it names.
    if (cm->window && cm->window != CM_WINDOWLESS) cm_resources().delete_softkeys(cm->window);
    cfunctionkey_delete(cm);
    if (cm->window_data && cm->type != CM_WT_NOTE) {
        const WindowKindHooks &kind = window_kind(cm->type);
        if (!kind.free_data) Abort("Window type %d not available", cm->type);
        kind.free_data(cm);
        cm->window_data = nullptr;
    }
    cm_resources().free_print_handles(cm);
    cipc_release(cm);
    cm_resources().free_colour_tables(cm);
    while (ScrolledWindow_t *s = cm->scrolled_windows) {
        cm->scrolled_windows = s->next;
        g_free(s);
    }
    free_invocations(cm);
    free_rows(cm);
    g_free(cm->app_name);
    g_free(cm->post_text);
    g_free(cm);
}

void cmat_free_all()
{
    GlobalData_t *gd = global_data;
    if (!gd) return;
    while (gd->first_cm) cmat_free_cm(gd->first_cm);
    while (ControlMatrix_t *cm = gd->deferred_cms) {
        gd->deferred_cms = cm->deferred_next;
        cmatrix_free(cm);
    }
    gd->first_cm = gd->last_cm = nullptr;
    gd->presented_cm = nullptr;
}
