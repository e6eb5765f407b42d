// Enter, the key that accepts a field, and the field advance every accepting event ends with: the
// next field by the Tab rules with its Pre_Focus routine, the jump to a prompt number typed on the
// AnyChange field, the move back onto a key field (Revert), a click's Activate routine, and the
// selection of the text of the field that gets the focus.
#include <cstdlib>
#include <memory>

#include "cattach.h"
#include "cevent_steps.h"
#include "cevents.h"
#include "cfield.h"
#include "cfocus.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "hooks.h"
#include "kinds.h"
#include "message.h"
#include "run_time.h"

using namespace events;

namespace {

struct GFree {
    void operator()(void *p) const { g_free(p); }
};
template <class T> using GPtr = std::unique_ptr<T, GFree>;

const char PRE_DESTROYS[] = "Not permitted to destroy a window within a function attached with the 'Pre' Action Code";

void log3(GlobalData_t *gd, const char *format, int a, int b = 0, int c = 0)
{
    if (gd->log_level_lumbas >= 3) mlog(3, format, a, b, c);
}

// A member of a Widget Type's row that must be there ("<Kind> fields not available").
template <class Member> auto field_hook(int type, Member member)
{
    auto hook = widget_type(type).*member;
    if (!hook) type_not_available(type);
    return hook;
}

// enter_running for one Enter: set on entry, clear on every way out.
struct EnterRunning {
    explicit EnterRunning(GlobalData_t *gd) : gd(gd) { gd->enter_running = 1; }
    ~EnterRunning() { gd->enter_running = 0; }
    EnterRunning(const EnterRunning &) = delete;
    EnterRunning &operator=(const EnterRunning &) = delete;
    GlobalData_t *gd;
};

// Pre_Focus on the AnyChange jump's target: must not close the window nor move the focus.
void pre_on_target(ControlMatrix_t *cm, int target, bool must_exist)
{
    int at = target;
    if (run(cm, AC_PRE_FOCUS, &at, false, must_exist).closing)
        Abort("Not permitted to destroy a window within a function attached with the 'Pre_Focus' Action Code");
    if (at != target) Abort("Unexpected focus change in the Pre_Focus from index %d to index %d", target, at);
}

// Whether the AnyChange field may jump to target (an Enabled key, required, standard or
// skip-in-add field while AnyChange is on).
bool may_change(ControlMatrix_t *cm, int target)
{
    const CmField_t &field = cm_field(cm, target);
    switch (field.tab_seq) {
    case TAB_KEY:
    case TAB_REQUIRED:
    case TAB_STANDARD:
    case TAB_SKIP_IN_ADD:
        return cm->anychange && field.enabled;
    case TAB_SKIP:
    case TAB_NO_FOCUS:
    case TAB_ANYCHANGE:
    case TAB_SKIP_NOT_ANYCHANGE:
        return false;
    default:
        Abort("Invalid Widget Tab Sequence Type %d; Index %d", field.tab_seq, target);
    }
}

// Enter on the AnyChange field holding a prompt number: the jump to that field.
void jump_to_prompt(ControlMatrix_t *cm, int index, const char *number, GlobalData_t *gd)
{
    const long n = std::strtol(number, nullptr, 10);
    if (n < 1 || n > cmat_max_prompts(cm)) {
        window_hooks().message("Prompt number out of range", "E");
        return;
    }
    const int target = cget_index_for_int(cm, CM_PROMPT, static_cast<int>(n));
    if (!may_change(cm, target)) {
        const int tab_seq = cm_field(cm, target).tab_seq;
        if (tab_seq != TAB_NO_FOCUS) window_hooks().message("This field is not available to be changed.", "I");
        if (gd->log_level_lumbas >= 3)
            mlog(3, "AnyChange not allowed: Index = %d; Tab Sequence Type = %d; AddChange Mode = %d", target, tab_seq,
                 cm->program_mode);
        cmat_set_focus_index(cm, index);
        cmat_clear_anychange(cm);
        return;
    }
    int at = index;
    const Ran post = run(cm, AC_POST_FOCUS, &at, true);
    if (post.closing || !post.answer) return;
    cm->anychange = 0;
    if (!ccallback_do_revert(cm, index, target)) {
        cmat_set_focus_index(cm, index);
        at = index;
        run_pre_no_close(cm, &at,
                         "Not permitted to destroy a window within a function attached with the 'Pre_Focus' Action Code");
        return;
    }
    const int type = cm_field(cm, target).type;
    switch (type) {
    case WIDGET_BUTTON:
    case WIDGET_IMAGE:
    case WIDGET_LABEL: {
        pre_on_target(cm, target, false);
        int t = target;
        run(cm, AC_ACTIVATE, &t, false, true);
        if (cm->closing) return;
        int back = cm->focus_request ? cm->current_focus : index;
        if (back == target) Abort("Assertion failed: n1 != ind");
        cmat_set_focus_index(cm, back);
        run(cm, AC_PRE_FOCUS, &back, true);
        return;
    }
    case WIDGET_NOTE: {
        pre_on_target(cm, target, true);
        const int back = cm->focus_request ? target : index;
        cmat_set_focus_index(cm, target);
        cinvoke_pre_display(cm);
        field_hook(WIDGET_NOTE, &WidgetTypeHooks::edit)(cm, target, 0);
        if (back == target) Abort("Assertion failed: n1 != ind");
        cm->return_focus = back;
        return;
    }
    default: {
        int t = target;
        const Ran pre = run(cm, AC_PRE_FOCUS, &t, true, type == WIDGET_COMBO);
        if (pre.closing) {
            if (gd->log_level_lumbas >= 3) mlog(3, "on_key_press_enter: Exit from window - AnyChange");
            return;
        }
        if (type == WIDGET_COMBO) field_hook(WIDGET_COMBO, &WidgetTypeHooks::edit)(cm, target, 0);
        cmat_set_focus_index(cm, target);
        log3(gd, "Set focus to %d from AnyChange field", target);
        return;
    }
    }
}

} // namespace

int on_key_press_enter(GtkWidget *widget, GtkEventController *controller, guint keyval, GlobalData_t *gd, int block)
{
    const BusyFlag activate(gd->activate_lock);
    if (!activate.taken()) return 1;
    if (gd->enter_running) return 0;
    const EnterRunning running(gd);
    if (gd->external_running) return 0;
    const BusyFlag escape(gd->escape_lock);
    if (!escape.taken()) return 1;
    const BusyFlag f8(gd->f8_lock);
    if (!f8.taken()) return 1;
    const DispatcherBlock blocked(controller, block, gd);
    if (gd->external_running) return 0;

    const RoutineName name("on_key_press_enter run Post");
    ControlMatrix_t *cm = cm_of(gd, widget, true);
    const int index = cget_index_for_ptr(cm, CM_ENTRY_PTR, widget, 1);
    const CmField_t &field = cm_field(cm, index);
    const int tab_seq = field.tab_seq, type = field.type;
    char line[64];
    g_snprintf(line, sizeof line, "===   Pressed Enter Key; Index =%3d              ===", index);
    banner(gd, line);
    set_event_name(cm, "Enter");

    if (!cinvoke_val_enter(cm, index, gd, 1)) {
        cinvoke_post_display(cm, index);
        return 1;
    }
    cinvoke_post_display(cm, index);
    cm->edit_checked = 0;

    if (tab_seq == TAB_ANYCHANGE) {
        int ip_int = -1, given = 0;
        char *decimal = nullptr;
        GPtr<char> text(gkey_press_get_ip1(cm, index, &ip_int, &decimal, &given));
        g_free(decimal);
        const char *p = text ? text.get() : "";
        while (*p == ' ') ++p;
        if (*p) {
            jump_to_prompt(cm, index, p, gd);
            return 1;
        }
    }

    const int mode = cm->program_mode;
    int at = index;
    Ran ran;
    if (cmat_get_fn_ptr(cm, index, AC_ACTIVATE))
        ran = run(cm, AC_ACTIVATE, &at, true, true);
    else
        ran = run(cm, AC_POST_FOCUS, &at, true,
                  !(tab_seq == TAB_ANYCHANGE || tab_seq == TAB_NO_FOCUS || type == WIDGET_CHECKBOX));
    if (!ran.closing)
        ccallback_set_focus_next_field(cm, index, ran.answer, mode, 0, keyval, 0);
    else if (gd->log_level_lumbas >= 3)
        mlog(3, "cinvoke_set_focus_next_field: Exit from window");
    return 1;
}

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
