// Enter, the key that accepts a field, with the jump to a prompt number typed on the AnyChange
// field; the field advance it ends with is cnext.cpp's.
#include "center.h"

#include <cstdlib>
#include <memory>

#include "cattach.h"
#include "cevent_steps.h"
#include "cfield.h"
#include "cfocus.h"
#include "cinvoke.h"
#include "cnext.h"
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

void log3(GlobalData_t *gd, const char *format, int a, int b = 0, int c = 0)
{
    if (gd->log_level_lumbas >= 3) mlog(3, format, a, b, c);
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
