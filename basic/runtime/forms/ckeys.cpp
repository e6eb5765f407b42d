// The keys that drive a form: the key dispatcher every field widget's key controller calls, and
// the handlers of Tab and Back-Tab, Escape, the function keys, Ctrl-z and Alt-m, the Edit_Content
// step of a field visit's first editing key, and the event's name for ICGET_EVENT_NAME$. Enter is in
// center.cpp, the field advance in cnext.cpp, the end of the event in cevents.cpp.
#include "ckeys.h"

#include <cstdio>
#include <optional>

#include "cases.h"
#include "cattach.h"
#include "ccallback.h"
#include "center.h"
#include "cevent_steps.h"
#include "cevents.h"
#include "cfield.h"
#include "cfocus.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "cnext.h"
#include "handles.h"
#include "hooks.h"
#include "kinds.h"
#include "message.h"
#include "run_time.h"

using namespace events;

namespace {

// Control, Alt, Meta and Hyper are the modifiers that turn a key into a command; Shift, Caps
// Lock, Num Lock (reported on every key while it is on) and Super do not.
constexpr unsigned COMMAND_MODIFIERS = GDK_CONTROL_MASK | GDK_ALT_MASK | GDK_META_MASK | GDK_HYPER_MASK;
// The Meta bit Alt-m asks for; Alt itself (0x8) is not enough.
constexpr unsigned META_BIT = 0x10000000;

constexpr int AC_F3 = AC_F1 + 2, AC_F5 = AC_F1 + 4, AC_F8 = AC_F1 + 7, AC_F9 = AC_F1 + 8;

bool is_up_down(guint k) { return k == GDK_KEY_Up || k == GDK_KEY_Down || k == GDK_KEY_KP_Up || k == GDK_KEY_KP_Down; }
bool is_left_right(guint k)
{
    return k == GDK_KEY_Left || k == GDK_KEY_Right || k == GDK_KEY_KP_Left || k == GDK_KEY_KP_Right;
}

// Whether keyval (with state) edits a field of Widget Type type.
bool is_editing_key(int type, unsigned state, guint k)
{
    const unsigned mods = state & COMMAND_MODIFIERS;
    switch (type) {
    case WIDGET_INPUT:
    case WIDGET_DATE:
    case WIDGET_NOTE:
        if (mods == 0)
            return (k >= 0x20 && k <= 0x7E) || (k >= 0xFFAA && k <= 0xFFB9) || k == GDK_KEY_KP_Equal ||
                   k == GDK_KEY_KP_Space || k == GDK_KEY_KP_Delete || k == GDK_KEY_Delete || k == GDK_KEY_BackSpace ||
                   k == GDK_KEY_Return || k == GDK_KEY_KP_Enter;
        return mods == GDK_CONTROL_MASK && (k == GDK_KEY_v || k == GDK_KEY_x || k == GDK_KEY_V || k == GDK_KEY_X);
    case WIDGET_COMBO:
        return is_up_down(k);
    case WIDGET_CHECKBOX:
        return k == GDK_KEY_space || k == GDK_KEY_KP_Space;
    case WIDGET_TOGGLE:
    case WIDGET_RADIO:
        return is_up_down(k) || is_left_right(k);
    default:
        return false;
    }
}

// Saves or cancels the note edit window's edit.
void note_window_save(ControlMatrix_t *cm)
{
    auto save = window_kind(CM_WT_NOTE).save;
    if (!save) Abort("Note editing not available");
    save(cm);
}
void note_window_cancel(ControlMatrix_t *cm, guint keyval)
{
    auto cancel = window_kind(CM_WT_NOTE).cancel;
    if (!cancel) Abort("Note editing not available");
    cancel(cm, keyval);
}

// An open combo list takes F12 (save) or Escape.
bool combo_list_takes(ControlMatrix_t *cm, int save)
{
    auto take = widget_type(WIDGET_COMBO).list_key;
    return take && take(cm, save);
}

void log3(GlobalData_t *gd, const char *text)
{
    if (gd->log_level_lumbas >= 3) mlog(3, "%s", text);
}

// Runs code (0: none) on the field, then Pre_Focus where the routine moved the focus to; F3 runs
// its routine only when no F3 routine runs already.
void run_function_key(ControlMatrix_t *cm, int index, int code)
{
    static int func_flag = 0;  // 1 while an F3 routine runs
    const bool f3 = code == AC_F3;
    if (!code || (f3 && func_flag)) return;
    int at = index;
    Ran ran;
    if (f3) {
        struct Flag {
            Flag() { func_flag = 1; }
            ~Flag() { func_flag = 0; }
        } flag;
        ran = run(cm, code, &at, true);
    } else {
        ran = run(cm, code, &at, true);
    }
    if (!ran.closing && at != index) run(cm, AC_PRE_FOCUS, &at, true);
}

// The field gets the focus back and its Pre_Focus runs again (an F8 or back move refused).
void stay_on(ControlMatrix_t *cm, int index, const char *message)
{
    cmat_set_focus_index(cm, index);
    int at = index;
    run_pre_no_close(cm, &at, message);
}

} // namespace

// ---- What a key does ---------------------------------------------------------------------------------

namespace {

constexpr KeyRoute KEY_ROUTES[] = {
    {GDK_KEY_Escape, KeyAction::escape, false},
    {GDK_KEY_Return, KeyAction::enter, false},
    {GDK_KEY_KP_Enter, KeyAction::enter, false},
    {GDK_KEY_Tab, KeyAction::tab, true},
    {GDK_KEY_ISO_Left_Tab, KeyAction::tab, true},
    {GDK_KEY_F1, KeyAction::function_key, true},
    {GDK_KEY_F2, KeyAction::function_key, true},
    {GDK_KEY_F3, KeyAction::f3, true},
    {GDK_KEY_F4, KeyAction::function_key, true},
    {GDK_KEY_F5, KeyAction::f5, true},
    {GDK_KEY_F6, KeyAction::function_key, true},
    {GDK_KEY_F7, KeyAction::function_key, true},
    {GDK_KEY_F8, KeyAction::f8, false},  // takes Enter's busy flags itself
    {GDK_KEY_F9, KeyAction::f9, true},
    {GDK_KEY_F10, KeyAction::function_key, true},
    {GDK_KEY_F11, KeyAction::function_key, true},
    {GDK_KEY_F12, KeyAction::f12, false},  // takes Enter's busy flags itself
};

} // namespace

std::span<const KeyRoute> key_routes()
{
    return KEY_ROUTES;
}

KeyRoute key_route(guint keyval)
{
    for (const KeyRoute &route : KEY_ROUTES)
        if (route.keyval == keyval) return route;
    return {keyval, KeyAction::none, false};
}

void run_key_action(KeyAction action, GtkWidget *widget, GtkEventController *controller, guint keyval,
                    GlobalData_t *gd, int block)
{
    switch (action) {
    case KeyAction::tab: on_key_press_tab(widget, controller, keyval, gd, 0, block); break;
    case KeyAction::function_key: on_key_press_fn(widget, keyval, gd); break;
    case KeyAction::f3: on_key_press_f3(widget, keyval, gd); break;
    case KeyAction::f5: on_key_press_f5(widget, gd); break;
    case KeyAction::f8: on_key_press_f8(widget, controller, gd, 0, block); break;
    case KeyAction::f9: on_key_press_f9(widget, gd, 0); break;
    default: Abort("run_key_action: key action %d is the caller's", static_cast<int>(action));
    }
}

// ---- The dispatcher -----------------------------------------------------------------------------------

namespace {

// The dispatcher's work; answers what GTK gets.
gboolean dispatch(GtkEventControllerKey *controller, guint keyval, GdkModifierType state, GlobalData_t *gd)
{
    GtkEventController *ctl = controller ? GTK_EVENT_CONTROLLER(controller) : nullptr;
    GtkWidget *widget = ctl ? gtk_event_controller_get_widget(ctl) : nullptr;
    const DispatcherBlock self(ctl, 1, gd);
    const RoutineName name("on_key_press_event");
    gd->last_key = static_cast<int>(keyval);
    ++gd->key_count;
    // A key's work under Enter's guards, then the end of its event; dropped when one is held.
    const auto guarded = [gd](auto work) -> gboolean {
        {
            const EventGuard guard(gd);
            if (!guard.taken()) return TRUE;
            work();
        }
        ccallbacks_finish_event(1, 1);
        return TRUE;
    };

    switch (const KeyRoute route = key_route(keyval); route.action) {
    case KeyAction::none:
        break;
    case KeyAction::escape:
        ccallbacks_finish_event(1, on_key_press_escape(widget, ctl, gd, 0));
        return TRUE;
    case KeyAction::enter:
        if (on_key_press_enter(widget, ctl, keyval, gd, 0)) ccallbacks_finish_event(1, 1);
        return TRUE;
    case KeyAction::f12:
        on_key_press_f12(widget, ctl, gd, 0);  // takes the guards itself
        ccallbacks_finish_event(1, 1);
        return TRUE;
    default:
        if (route.guarded) return guarded([&] { run_key_action(route.action, widget, ctl, keyval, gd, 0); });
        run_key_action(route.action, widget, ctl, keyval, gd, 0);
        ccallbacks_finish_event(1, 1);
        return TRUE;
    }

    switch (keyval) {
    case GDK_KEY_z:
    case GDK_KEY_Z:
        if (state & GDK_CONTROL_MASK) {
            int taken = 0;
            {
                const EventGuard guard(gd);
                if (!guard.taken()) return TRUE;
                taken = on_key_press_ctrl_z(widget, state, gd);
            }
            if (taken) {
                ccallbacks_finish_event(1, 1);
                return TRUE;
            }
        }
        break;
    case GDK_KEY_m:
    case GDK_KEY_M:
        if (on_key_press_alt_m(widget, keyval, state, gd)) return TRUE;
        break;
    default:
        break;
    }

    ControlMatrix_t *cm = cm_of(gd, widget, false);
    const int index = cm ? field_of(cm, widget) : 0;
    if (!index) {
        ccallbacks_finish_event(1, 0);
        return FALSE;
    }
    gboolean result = FALSE;
    const int type = cm_field(cm, index).type;
    switch (type) {
    case WIDGET_INPUT:
    case WIDGET_CHECKBOX:
        ccallback_do_edit(cm, index, type, state, keyval);
        [[fallthrough]];
    case WIDGET_BUTTON:
    case WIDGET_IMAGE:
    case WIDGET_LABEL:
        if (is_up_down(keyval)) result = TRUE;
        break;
    case WIDGET_TABLE:
        Abort("Widget Type 'Table' not permitted to respond to keystrokes at index %d", index);
    case WIDGET_COMBO:
        if (is_left_right(keyval))
            result = TRUE;
        else
            ccallback_do_edit(cm, index, type, state, keyval);
        break;
    case WIDGET_DATE:
    case WIDGET_TOGGLE:
    case WIDGET_RADIO:
        ccallback_do_edit(cm, index, type, state, keyval);
        result = field_hook(type, &WidgetTypeHooks::key_press)(cm, index, keyval, gd);
        break;
    case WIDGET_NOTE: {
        if (keyval == GDK_KEY_Page_Up || keyval == GDK_KEY_KP_Page_Up || keyval == GDK_KEY_Page_Down ||
            keyval == GDK_KEY_KP_Page_Down) {
            const bool up = keyval == GDK_KEY_Page_Up || keyval == GDK_KEY_KP_Page_Up;
            on_key_press_f9(widget, gd, up ? GDK_KEY_Page_Up : GDK_KEY_Page_Down);
            ccallbacks_finish_event(1, 1);
            return TRUE;
        }
        if (is_up_down(keyval)) {
            result = TRUE;
            break;
        }
        void *entry = cm_field(cm, index).entry;
        if (!entry || handle_kind(entry) != CM_FIELD_TYPE_GNOTE) Abort("Unexpected type found in Note");
        int *refused = field_hook(WIDGET_NOTE, &WidgetTypeHooks::key_refused)(entry);
        const int before = *refused;
        ccallback_do_edit(cm, index, type, state, keyval);
        if (before == 0 && *refused == 1) {
            *refused = 0;
            result = TRUE;
        }
        break;
    }
    case WIDGET_TEXT:
        ccallback_do_edit(cm, index, type, state, keyval);
        break;
    default:
        Abort("Invalid field type encountered");
    }
    ccallbacks_finish_event(1, 0);
    return result;
}

} // namespace

gboolean on_key_press_event(GtkEventControllerKey *controller, guint keyval, guint, GdkModifierType state, gpointer gd)
{
    gboolean result = TRUE;
    forms_callback([&] { result = dispatch(controller, keyval, state, static_cast<GlobalData_t *>(gd)); });
    return result;
}

// ---- Blocking the dispatcher ----------------------------------------------------------------------------

DispatcherBlock::DispatcherBlock(GtkEventController *controller, int block, GlobalData_t *gd)
{
    if (!block || !controller) return;
    controller_ = controller;
    gd_ = gd;
    g_signal_handlers_block_by_func(controller_, reinterpret_cast<gpointer>(on_key_press_event), gd_);
}

DispatcherBlock::~DispatcherBlock()
{
    if (controller_) g_signal_handlers_unblock_by_func(controller_, reinterpret_cast<gpointer>(on_key_press_event), gd_);
}

// ---- Tab and Back-Tab -------------------------------------------------------------------------------------

void on_key_press_tab(GtkWidget *widget, GtkEventController *controller, guint keyval, GlobalData_t *gd, int shift,
                      int block)
{
    const DispatcherBlock blocked(controller, block, gd);
    const RoutineName name("on_key_press_tab");
    ControlMatrix_t *cm = cm_of(gd, widget, true);
    int index = field_of(cm, widget);
    const bool back = keyval != GDK_KEY_Tab;
    char line[64];
    std::snprintf(line, sizeof line,
                  back ? "===   Pressed the Back Tab Key; index%3d         ===" : "===   Pressed the Tab Key; index%3d              ===",
                  index);
    banner(gd, line);
    set_event_name(cm, back ? "Back Tab" : "Tab");
    cm->edit_checked = 0;
    if (!index || !cinvoke_val_enter(cm, index, gd, 1)) {
        cinvoke_post_display(cm, index);
        return;
    }
    cinvoke_post_display(cm, index);
    const int mode = cm->program_mode;
    const int tab_seq = cm_field(cm, index).tab_seq;
    if (tab_seq == TAB_ANYCHANGE) cm->anychange = 0;
    if (back) {
        const int target = cmat_get_focus_on_left_tab(cm, index);
        if (target >= 1 && cm_field(cm, target).tab_seq == TAB_ANYCHANGE) return;
    } else if (tab_seq == TAB_ANYCHANGE) {
        return;
    }
    const int field = index;
    const Ran ran = run(cm, AC_POST_FOCUS, &index, true);
    if (ran.closing) {
        log3(gd, "on_key_press_tab: Exit from window");
        return;
    }
    if (back && tab_seq == TAB_KEY) cm->program_mode = CM_MODE_NULL;
    ccallback_set_focus_next_field(cm, field, ran.answer, mode, 0, back ? GDK_KEY_ISO_Left_Tab : GDK_KEY_Tab, shift);
}

// ---- Function keys ----------------------------------------------------------------------------------------

void on_key_press_fn(GtkWidget *widget, guint keyval, GlobalData_t *gd)
{
    const RoutineName name("on_key_press_fn");
    ControlMatrix_t *cm = cm_of(gd, widget, true);
    const int index = field_of(cm, widget);
    banner(gd, "===   Pressed a Function Key                     ===");
    cinvoke_post_display(cm, index);
    cm->edit_checked = 0;
    int n = 0;
    switch (keyval) {
    case GDK_KEY_F1: n = 1; break;
    case GDK_KEY_F2: n = 2; break;
    case GDK_KEY_F4: n = 4; break;
    case GDK_KEY_F6: n = 6; break;
    case GDK_KEY_F7: n = 7; break;
    case GDK_KEY_F10: n = 10; break;
    case GDK_KEY_F11: n = 11; break;
    default: Abort("on_key_press_fn: Invalid function key");
    }
    char key[4];
    std::snprintf(key, sizeof key, "F%d", n);
    set_event_name(cm, key);
    if (gd->log_level_lumbas >= 3) mlog(3, "Do on_key_press_fn %s: ind = %d", key, index);
    run_function_key(cm, index, n == 4 ? 0 : AC_F1 - 1 + n);
}

void on_key_press_f3(GtkWidget *widget, guint, GlobalData_t *gd)
{
    const RoutineName name("on_key_press_f3");
    ControlMatrix_t *cm = cm_of(gd, widget, true);
    const int index = field_of(cm, widget);
    char line[64];
    std::snprintf(line, sizeof line, "===   Pressed F3 Key; index%3d                   ===", index);
    banner(gd, line);
    cinvoke_post_display(cm, index);
    cm->edit_checked = 0;
    set_event_name(cm, "F3");
    run_function_key(cm, index, AC_F3);
}

void on_key_press_f5(GtkWidget *widget, GlobalData_t *gd)
{
    const RoutineName name("on_key_press_f5");
    ControlMatrix_t *cm = cm_of(gd, widget, true);
    const int index = field_of(cm, widget);
    char line[64];
    std::snprintf(line, sizeof line, "===   Pressed F5 Key; index%3d                   ===", index);
    banner(gd, line);
    cinvoke_post_display(cm, index);
    set_event_name(cm, "F5");
    cm->edit_checked = 0;
    if (cm->type == CM_WT_ZOOM) {
        auto search = window_kind(CM_WT_ZOOM).search;
        if (!search) Abort("Zoom pick-list not available");
        search(cm);
        return;
    }
    run_function_key(cm, index, AC_F5);
}

void on_key_press_f9(GtkWidget *widget, GlobalData_t *gd, guint page_key)
{
    const RoutineName name("on_key_press_f9");
    ControlMatrix_t *cm = cm_of(gd, widget, true);
    int index = field_of(cm, widget);
    char line[64];
    std::snprintf(line, sizeof line, "===   Do F9 Key Press; Index =%3d                ===", index);
    banner(gd, line);
    set_event_name(cm, "F9");
    cm->edit_checked = 0;
    if (type_of(cm, index) == WIDGET_NOTE) {
        auto edit = field_hook(WIDGET_NOTE, &WidgetTypeHooks::edit);
        if (cm->current_focus == index) {
            edit(cm, index, page_key);
            return;
        }
        int focused = cm->current_focus;
        if (focused >= 1 && !cinvoke_val_enter(cm, focused, gd, 1)) {
            cinvoke_post_display(cm, focused);
            return;
        }
        cinvoke_post_display(cm, focused);
        if (type_of(cm, focused) && cm_field(cm, focused).tab_seq == TAB_ANYCHANGE) cm->anychange = 0;
        const Ran post = run(cm, AC_POST_FOCUS, &focused, false);
        if (post.closing) Abort("on_key_press_f9: Not permitted to terminate window in the Post");
        if (post.answer) {
            cmat_set_focus_index(cm, index);
            int at = index;
            if (run(cm, AC_PRE_FOCUS, &at, false).closing)
                Abort("on_key_press_f9: Not permitted to terminate window in the Pre on field %d", index);
            edit(cm, index, page_key);
        }
        cinvoke_pre_display(cm);
        return;
    }
    cinvoke_post_display(cm, index);
    const int remembered = cm->current_focus;
    if (run(cm, AC_F9, &index, false).closing) Abort("on_key_press_f9: Not permitted to terminate window here");
    if (remembered != index) {
        int at = remembered;
        run(cm, AC_PRE_FOCUS, &at, true);
    }
}

int on_key_press_f12(GtkWidget *widget, GtkEventController *controller, GlobalData_t *gd, int block)
{
    std::optional<EventGuard> guard(std::in_place, gd);
    if (!guard->taken()) return 1;
    const DispatcherBlock blocked(controller, block, gd);
    const RoutineName name("on_key_press_f12");
    ControlMatrix_t *cm = cm_of(gd, widget, true);
    int index = field_of(cm, widget);
    char line[64];
    std::snprintf(line, sizeof line, "===   Pressed F12 Key; Index =%3d                ===", index);
    banner(gd, line);
    set_event_name(cm, "F12");
    if (index >= 1 && !cinvoke_val_enter(cm, index, gd, 1)) {
        cinvoke_post_display(cm, index);
        gd->enter_running = 0;
        return 1;
    }
    cinvoke_post_display(cm, index);
    cm->edit_checked = 0;
    if (cm->type == CM_WT_NOTE) {
        note_window_save(cm);
        return 1;
    }
    // An open combo list saves through the Enter handling, which takes the guards itself.
    guard.reset();
    if (combo_list_takes(cm, 1)) return 1;
    guard.emplace(gd);
    if (!guard->taken()) return 1;
    if (!index) {
        int at = 0;
        return run(cm, AC_F12, &at, true).answer;
    }
    if (!cmat_get_fn_ptr(cm, index, AC_F12)) return 1;
    const int field = index;
    Ran ran = run(cm, AC_POST_FOCUS, &index, true);
    if (ran.closing) return 0;
    if (!ran.answer) {
        cmat_set_focus_index(cm, field);
        return 0;
    }
    cm->anychange = 0;
    ran = run(cm, AC_F12, &index, true);
    if (ran.answer && !ran.closing) {
        int at = cm->current_focus;
        run(cm, AC_PRE_FOCUS, &at, true);
    }
    return ran.answer;
}

// ---- Escape and F8 --------------------------------------------------------------------------------------

int ccallback_do_escape_check(ControlMatrix_t *cm, int)
{
    if (cm->modified && (cm->anychange || cm->program_mode != CM_MODE_NULL)) return discard_changes() ? 1 : 0;
    return 1;
}

int on_key_press_escape(GtkWidget *widget, GtkEventController *controller, GlobalData_t *gd, int block)
{
    const BusyFlag busy(gd->escape_lock);
    if (!busy.taken()) return 1;
    const RoutineName name("on_key_press_escape");
    ControlMatrix_t *cm = cm_of(gd, widget, false);
    if (!cm) return 1;
    const DispatcherBlock blocked(controller, block, gd);
    int index = field_of(cm, widget);
    char line[64];
    std::snprintf(line, sizeof line, "===   Pressed Escape Key (keypress:%d)            ===", block);
    banner(gd, line);
    set_event_name(cm, "Escape");
    if (cm->type != CM_WT_ZOOM) cinvoke_post_display(cm, index);
    cm->edit_checked = 0;
    if (cm->type == CM_WT_NOTE) {
        note_window_cancel(cm, GDK_KEY_Escape);
        return 0;
    }
    if (combo_list_takes(cm, 0)) return 0;
    if (!ccallback_do_escape_check(cm, index)) {
        cm->closing = 0;
        return 1;
    }
    if (run(cm, AC_ESCAPE, &index, false, false, "").answer) {
        cm->closing = 1;
        cdeletewin(cm, gd);
    } else {
        cm->closing = 0;
    }
    return 1;
}

int on_key_press_f8(GtkWidget *widget, GtkEventController *controller, GlobalData_t *gd, int shift, int block)
{
    const BusyFlag busy(gd->f8_lock);
    if (!busy.taken()) return 1;
    const DispatcherBlock blocked(controller, block, gd);
    const RoutineName name("on_key_press_f8");
    ControlMatrix_t *cm = cm_of(gd, widget, true);
    const int index = field_of(cm, widget);
    char line[64];
    std::snprintf(line, sizeof line, "===   Pressed F8 Key; Index =%3d                 ===", index);
    banner(gd, line);
    if (cm->type != CM_WT_ZOOM) cinvoke_post_display(cm, index);
    cm->edit_checked = 0;
    if (cm->type == CM_WT_NOTE) {
        note_window_cancel(cm, GDK_KEY_F8);
        return 1;
    }
    set_event_name(cm, "F8");
    static const char pre_closes[] = "Not permitted to delete a window in the 'Pre' Action Code";

    if (!index) {
        int at = 0;
        if (run(cm, AC_F8, &at, false).answer) {
            cm->closing = 1;
            if (cm->next) Abort("Must return false from F8 when creating a window");
        }
        cdeletewin(cm, gd);
        return 1;
    }

    int at = index;
    const Ran first = cmat_get_fn_ptr(cm, index, AC_F8) ? run(cm, AC_F8, &at, false) : run_pre_no_close(cm, &at, pre_closes);
    if (!first.answer) return 1;

    if (cm_field(cm, index).tab_seq == TAB_ANYCHANGE && !cm->closing) {
        static const char pre_destroys[] = "Not permitted to destroy a window within a function attached with the 'Pre' Action Code";
        const int keys = cutil_count(cm, CM_TAB_SEQ, TAB_KEY);
        if (keys == 0) {
            int zero = 0;
            const Ran revert = run(cm, AC_REVERT, &zero, false);
            if (revert.closing)
                Abort("Not permitted to destroy a window in the function attached with the 'Revert' Action Code");
            if (revert.answer && cm->program_mode != CM_MODE_NULL && !discard_changes()) {
                stay_on(cm, index, pre_destroys);
                return 1;
            }
            int field = index;
            if (run(cm, AC_ESCAPE, &field, false, false, "").answer) {
                cm->closing = 1;
                cdeletewin(cm, gd);
            }
        }
        if (!cm->closing) {
            int target;
            if (keys == 0 && cm->program_mode != CM_MODE_NULL) {
                cm->anychange = 0;
                target = cmat_set_focus_on_left_tab(cm, index, 1);
            } else {
                const int anychange = cmat_get_anychange(cm, 0);
                target = cmat_get_focus_on_tab(cm, anychange >= 1 ? anychange : 1);
                if (!ccallback_do_revert(cm, index, target)) {
                    stay_on(cm, index, pre_destroys);
                    return 1;
                }
                target = cm->current_focus;
            }
            run_pre_no_close(cm, &target, pre_closes);
        }
        return 1;
    }

    int target = cm->closing ? index : cmat_get_focus_on_left_tab(cm, index);
    if (!cm->closing) {
        if (!ccallback_do_revert(cm, index, target)) {
            stay_on(cm, index, pre_closes);
            return 1;
        }
        // A revert that cleared the form has moved the focus itself.
        if (cm->current_focus != index) target = cm->current_focus;
        if (target >= index) {
            // No earlier field: the form leaves its mode, and with still none the window goes.
            if (cm->program_mode != CM_MODE_NULL) {
                cm->program_mode = CM_MODE_NULL;
                blank_add_change(cm);
                cm->modified = 0;
            }
            target = cmat_get_focus_on_left_tab(cm, index);
            if (target >= index) {
                int field = index;
                if (run(cm, AC_ESCAPE, &field, false, false, "").answer) cm->closing = 1;
            }
        }
    }
    if (!cm->closing) {
        if (target != cm->current_focus) cmat_set_focus_index(cm, target);
        const Ran pre = run(cm, AC_PRE_FOCUS, &target, true);
        if (pre.closing) return 1;  // the window may have gone on its close road
        const int type = type_of(cm, target);
        if (type == WIDGET_RADIO || type == WIDGET_TOGGLE)
            field_hook(type, &WidgetTypeHooks::toggle)(cm, target, 0, shift, nullptr);
    } else {
        cdeletewin(cm, gd);
    }
    return 1;
}

// ---- Ctrl-z and Alt-m ---------------------------------------------------------------------------------------

int on_key_press_ctrl_z(GtkWidget *widget, GdkModifierType state, GlobalData_t *gd)
{
    if (!(state & GDK_CONTROL_MASK)) return 0;
    const RoutineName name("on_key_press_ctrl_z");
    ControlMatrix_t *cm = cm_of(gd, widget, true);
    int index = field_of(cm, widget);
    set_event_name(cm, "Ctrl-z");
    switch (type_of(cm, index)) {
    case WIDGET_INPUT:
    case WIDGET_COMBO:
    case WIDGET_CHECKBOX:
    case WIDGET_DATE:
    case WIDGET_NOTE:
    case WIDGET_TOGGLE:
    case WIDGET_RADIO:
        break;
    default:
        return 0;
    }
    cinvoke_post_display(cm, index);
    if (cmat_get_fn_ptr(cm, index, AC_F8))
        run(cm, AC_F8, &index, false);
    else
        run_pre_no_close(cm, &index, "Not permitted to delete a window in the 'Pre' Action Code");
    return 1;
}

int on_key_press_alt_m(GtkWidget *widget, guint keyval, GdkModifierType state, GlobalData_t *gd)
{
    if ((keyval != GDK_KEY_m && keyval != GDK_KEY_M) || !(state & META_BIT)) return 0;
    const RoutineName name("on_key_press_alt_m");
    ControlMatrix_t *cm = cm_of(gd, widget, true);
    const int index = field_of(cm, widget);
    set_event_name(cm, "Alt-m");
    if (type_of(cm, index) != WIDGET_INPUT) return 0;
    return field_hook(WIDGET_INPUT, &WidgetTypeHooks::context_menu)(cm, index, cm_field(cm, index).entry, 3);
}

// ---- Edit_Content -------------------------------------------------------------------------------------------

void ccallback_do_edit(ControlMatrix_t *cm, int index, int type, GdkModifierType state, guint keyval)
{
    if (cm->edit_checked || !is_editing_key(type, state, keyval)) return;
    int at = index;
    Ran ran;
    {
        struct InEdit {
            explicit InEdit(ControlMatrix_t *c) : cm(c) { cm->in_edit = 1; }
            ~InEdit() { cm->in_edit = 0; }
            ControlMatrix_t *cm;
        } in_edit(cm);
        ran = run(cm, AC_EDIT_CONTENT, &at, false, type == WIDGET_NOTE);
    }
    if (ran.closing)
        Abort("Not permitted to exit from screen in a function attached with the 'Edit_Content' Action Code");
    if (at != index) Abort("Not premitted to change focus in a function attached with the Edit_Content Action Code");
    cm->edit_checked = ran.answer;
    if (ran.answer) return;
    switch (type) {
    case WIDGET_NOTE:
        *field_hook(WIDGET_NOTE, &WidgetTypeHooks::key_refused)(cm_field(cm, index).entry) = 1;
        break;
    case WIDGET_INPUT:
    case WIDGET_DATE:
        window_hooks().message("The lumbas code for false return from function attached to the Edit_Content event "
                               "needs to be written. Please provide Oska with example usage, and ask to have this "
                               "code completed.",
                               "W");
        break;
    default:
        window_hooks().message("The lumbas code for false return from Edit_Content needs to be written. Please "
                               "provide Oska with an example of its use.",
                               "W");
        break;
    }
}

// ---- ICGET_EVENT_NAME$ --------------------------------------------------------------------------------------

void cget_event_name(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("Invalid number of parameters");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must have a valid Process Control Matrix");
    intr::set_text(result, cm->event_name);
}
