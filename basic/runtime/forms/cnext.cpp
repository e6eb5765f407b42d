// What follows a routine's true answer: the field advance every accepting event ends with (the
// next field by the Tab rules with its Pre_Focus routine, a click's Activate routine, the move back
// onto a key field (Revert) and the selection of the text of the field that gets the focus), and
// the closing of a window after its routine answered (its Exit routine and the parent's post
// routines up the chain) with ICDELETE_WINDOW.
#include "cnext.h"

#include <memory>

#include "cases.h"
#include "cattach.h"
#include "cclear.h"
#include "cevent_steps.h"
#include "cfocus.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "kinds.h"
#include "message.h"
#include "run_time.h"

using namespace events;

namespace {

unsigned long hex(const void *p) { return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)); }

const char PRE_DESTROYS[] = "Not permitted to destroy a window within a function attached with the 'Pre' Action Code";

void log3(GlobalData_t *gd, const char *format, int a, int b = 0, int c = 0)
{
    if (gd->log_level_lumbas >= 3) mlog(3, format, a, b, c);
}

} // namespace

// ---- The focus moves on ---------------------------------------------------------------------------

void ccallback_set_focus_next_field(ControlMatrix_t *cm, int old, int answer, int, int clicked, guint keyval, int shift,
                                    GtkWidget *widget)
{
    const RoutineName name(Rname);
    GlobalData_t *gd = global_data;
    if (!answer) {
        if (cm->focus_request && cm->current_focus != old) {
            int at = cm->current_focus;
            if (run(cm, AC_PRE_FOCUS, &at, true).closing)
                Abort("Not premitted to destroy a window within a function attached with the 'Pre' Action Code");
        } else {
            ccallback_set_selection(cm, old);
        }
        log3(gd, "Set focus to %d following FALSE return from validation function", cm->current_focus);
        return;
    }
    Rname = "on_key_press_enter run Pre";
    cm->edit_checked = 0;
    int next;
    if (cm->focus_request) {
        next = cm->current_focus;
    } else if (clicked >= 1) {
        Rname = "on_button_press_event run Pre";
        cmat_set_focus_index(cm, clicked);
        next = clicked;
    } else if (keyval == GDK_KEY_ISO_Left_Tab) {
        Rname = "on_key_press_tab run Pre";
        next = cmat_set_focus_on_left_tab(cm, old, 1);
    } else if (keyval == GDK_KEY_Tab) {
        Rname = "on_key_press_tab run Pre";
        next = cmat_set_focus_on_tab(cm, old);
    } else {
        next = cmat_set_focus_next(cm, old);
    }
    if (!ccallback_do_revert(cm, old, next)) {
        cmat_set_focus_index(cm, old);
        int at = old;
        run_pre_no_close(cm, &at, PRE_DESTROYS);
        return;
    }
    next = cm->current_focus;
    log3(gd, "New index = %d; Old Index = %d", next, old);
    if (clicked < 1) {
        if (run(cm, AC_PRE_FOCUS, &next, true).closing) Abort("%s", PRE_DESTROYS);
    } else {
        next = ccallback_do_activate_on_focus(cm, gd, next, old);
    }
    if (next < 1 || next > cm->field_count) return;
    switch (const int type = cm_field(cm, next).type) {
    case WIDGET_COMBO:
        if (keyval == 0 || keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter)
            field_hook(type, &WidgetTypeHooks::edit)(cm, next, 0);
        break;
    case WIDGET_CHECKBOX:
        if (keyval == 0 || (keyval == GDK_KEY_ISO_Left_Tab && shift))
            field_hook(type, &WidgetTypeHooks::toggle)(cm, next, keyval, shift, widget);
        break;
    case WIDGET_TOGGLE:
    case WIDGET_RADIO:
        field_hook(type, &WidgetTypeHooks::toggle)(cm, next, keyval, shift, widget);
        break;
    default:
        ccallback_set_selection(cm, next);
        break;
    }
}

int ccallback_do_activate_on_focus(ControlMatrix_t *cm, GlobalData_t *gd, int clicked, int back)
{
    if (clicked >= 1) cmat_set_focus_index(cm, clicked);
    cm->edit_checked = 0;
    int result = clicked;
    const int type = type_of(cm, clicked);
    if (type == WIDGET_BUTTON || type == WIDGET_IMAGE || type == WIDGET_LABEL) {
        int at = clicked;
        const Ran act = run(cm, AC_ACTIVATE, &at, true, true);
        if (act.closing) return -1;
        const bool asked = cm->focus_request != 0;
        if (!asked) cm->current_focus = clicked;
        if (act.answer) {
            int go = cm->current_focus;
            if (!asked && !cm->anychange) {
                go = back;
                cmat_set_focus_index(cm, back);
                log3(gd, "Set focus to Index %d upon mouse click on Image or Button Index %d", back, clicked);
            } else if (!asked) {
                go = cmat_set_focus_anychange(cm);
            }
            if (run(cm, AC_PRE_FOCUS, &go, true).closing) return -1;
            if (go == 0) return -1;
            result = go;
        }
    } else {
        int at = clicked;
        const Ran pre = run(cm, AC_PRE_FOCUS, &at, false);
        if (!pre.closing && clicked >= 1) {
            cmat_set_focus_index(cm, clicked);
            log3(gd, "Set focus to Index %d upon mouse click", clicked);
        }
    }
    if (cm->closing || result == 0) result = -1;
    cdeletewin(cm, gd);
    return result;
}

int ccallback_do_revert(ControlMatrix_t *cm, int old, int new_index)
{
    if (new_index < 1 || new_index >= old || new_index > cm->field_count || cm_field(cm, new_index).tab_seq != TAB_KEY)
        return 1;
    if (!cm->anychange) {
        if (cm->program_mode != CM_MODE_NULL && !discard_changes()) return 0;
    } else {
        const int count = cm->field_count;
        int at = new_index;
        const Ran revert = run(cm, AC_REVERT, &at, false);
        if (revert.closing)
            Abort("Not permitted to destroy a window in the function attached with the 'Revert' Action Code");
        if (revert.answer && cm->field_count == count && at == new_index && !discard_changes()) return 0;
    }
    cclear_fields(cm, new_index);
    cm->program_mode = CM_MODE_NULL;
    cm->anychange = 0;
    blank_add_change(cm);
    cm->modified = 0;
    return 1;
}

void ccallback_set_selection(ControlMatrix_t *cm, int index)
{
    if (index < 1 || index > cm->field_count) return;
    const CmField_t &field = cm_field(cm, index);
    if (!field.entry) Abort("Assertion failed: widget");
    if (!cm_windows_mode() || (field.type != WIDGET_INPUT && field.type != WIDGET_DATE)) return;
    GtkWidget *widget = field_hook(field.type, &WidgetTypeHooks::focus_widget)(cm, index, field.entry);
    if (!widget || !GTK_IS_EDITABLE(widget)) return;
    if (field.type == WIDGET_INPUT)
        gtk_editable_select_region(GTK_EDITABLE(widget), 0, -1);
    else
        gtk_editable_set_position(GTK_EDITABLE(widget), 0);
}


// ---- The window closes ---------------------------------------------------------------------------

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
