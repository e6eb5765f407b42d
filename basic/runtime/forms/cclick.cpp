// Mouse clicks on the fields of a form: a click is an event like a key. It may move the focus to
// the clicked field, but only under the rules that guard the keyboard: the field being left is
// validated and its Post_Focus routine runs first, and a field the Tab order would not reach now
// refuses the click. A click on the field that has the focus is left to that field (its edit menu,
// its choices); a click on the field Back-Tab would reach is a Back-Tab.
#include "cclick.h"

#include <cstdio>

#include "ccallback.h"
#include "cevent_steps.h"
#include "cevents.h"
#include "cfield.h"
#include "cfocus.h"
#include "cinvoke.h"
#include "ckeys.h"
#include "cmatrix.h"
#include "cnext.h"
#include "hooks.h"
#include "kinds.h"
#include "message.h"
#include "run_time.h"

using namespace events;

namespace {

// Button, image and label fields answer a click with their Activate routine.
bool runs_activate_on_click(int type) { return type == WIDGET_BUTTON || type == WIDGET_IMAGE || type == WIDGET_LABEL; }

// How a click ends: the event ends in full (the newest window's focused field made editable
// again), short, or not at all (a double click, a click dropped while another event is at work).
enum class End { none, full, short_ };

struct Click {
    End end = End::full;
    bool claim = true;
};

// The handler blocked on its own gesture while a click is handled, so that a main-loop iteration
// inside a routine cannot enter it again for the same widget. The gesture is held, since a routine
// may close the window and so drop its widget.
class GestureBlock {
public:
    GestureBlock(GtkGesture *gesture, gpointer gd) : gesture_(GTK_GESTURE(g_object_ref(gesture))), gd_(gd)
    {
        g_signal_handlers_block_by_func(gesture_, reinterpret_cast<gpointer>(on_button_press_event), gd_);
    }
    ~GestureBlock()
    {
        g_signal_handlers_unblock_by_func(gesture_, reinterpret_cast<gpointer>(on_button_press_event), gd_);
        g_object_unref(gesture_);
    }
    GestureBlock(const GestureBlock &) = delete;
    GestureBlock &operator=(const GestureBlock &) = delete;

private:
    GtkGesture *gesture_;
    gpointer gd_;
};

// The current field takes a click on itself: a toggle or radio field's choice, an input or note
// field's edit menu (right button only). Answers whether the click was taken.
bool click_on_current(ControlMatrix_t *cm, int index, GtkWidget *widget, guint button)
{
    const CmField_t &field = cm_field(cm, index);
    switch (field.type) {
    case WIDGET_TOGGLE:
    case WIDGET_RADIO: {
        auto choose = widget_type(field.type).click_choice;
        if (!choose) type_not_available(field.type);
        choose(cm, index, widget);
        return false;
    }
    case WIDGET_INPUT:
    case WIDGET_NOTE: {
        auto menu = widget_type(field.type).context_menu;
        if (!menu) type_not_available(field.type);
        return menu(cm, index, field.entry, static_cast<int>(button)) != 0;
    }
    default:
        return false;
    }
}

// The click's work once the guards are taken (the numbered steps of a click, from finding the
// field on).
Click handle(ControlMatrix_t *cm, GtkWidget *widget, guint button, GlobalData_t *gd, const char *event_name)
{
    set_event_name(cm, event_name);
    const int clicked = field_of(cm, widget);
    const int current = cm->current_focus;
    if (!clicked) {
        cinvoke_post_display(cm, current);
        return {};
    }
    if (current < 1) Abort("Must call icset_focus");

    if (clicked == current && !runs_activate_on_click(cm_field(cm, current).type) &&
        cm_field(cm, current).type != WIDGET_COMBO)
        return {End::short_, click_on_current(cm, current, widget, button)};

    const int clicked_tab = cm_field(cm, clicked).tab_seq;
    const int current_tab = cm_field(cm, current).tab_seq;
    const int clicked_type = cm_field(cm, clicked).type;
    cm->edit_checked = 0;

    if (cmat_get_focus_on_left_tab(cm, current) == clicked && clicked_tab != TAB_ANYCHANGE &&
        current_tab != TAB_ANYCHANGE && !runs_activate_on_click(clicked_type)) {
        // The Back-Tab road with Back-Tab's own key, so that the focus moves by the Back-Tab rule.
        on_key_press_tab(cget_widget_for_widget(cm_field(cm, current).entry), nullptr, GDK_KEY_ISO_Left_Tab, gd, 0, 0);
        return {};
    }

    const bool back_among_keys = clicked < current && clicked_tab == TAB_KEY && current_tab == TAB_KEY;
    if (!cinvoke_val_enter(cm, current, gd, back_among_keys ? 0 : 1)) return {End::short_, true};
    if (!cmat_check_clickable(cm, current, clicked)) return {End::short_, true};

    cinvoke_post_display(cm, current);
    if (cm_field(cm, current).type == WIDGET_COMBO)
        if (auto commit = widget_type(WIDGET_COMBO).commit_pending) commit(cm, current);
    const int mode = cm->program_mode;
    int at = current;
    const Ran post = run(cm, AC_POST_FOCUS, &at, true);
    if (post.closing) {
        if (gd->log_level_lumbas > 2) mlog(3, "on_button_press_event: Exit from window");
        return {};
    }
    if (current_tab == TAB_ANYCHANGE) cmat_clear_anychange(cm);
    if (back_among_keys) cm->program_mode = CM_MODE_NULL;
    ccallback_set_focus_next_field(cm, current, post.answer, mode, clicked, 0, 0, widget);
    return {};
}

} // namespace

int cmat_check_clickable(ControlMatrix_t *cm, int current, int clicked)
{
    // Read before the Tab walk, whose Pre_Focus routines may add fields.
    const int tab_seq = cm_field(cm, clicked).tab_seq;
    const int enabled = cm_field(cm, clicked).enabled;
    const int anychange = cm->anychange;
    if (tab_seq < TAB_KEY || tab_seq > TAB_SKIP_NOT_ANYCHANGE)
        Abort("Invalid Widget Tab Sequence Type %d; Index %d", tab_seq, clicked);
    if (enabled && (tab_seq == TAB_SKIP || (tab_seq != TAB_NO_FOCUS && anychange == 1))) return 1;
    if (clicked == current) return 1;
    const bool back_among_keys = clicked < current && tab_seq == TAB_KEY && cm_field(cm, current).tab_seq == TAB_KEY;
    if (cmat_get_focus_on_tab(cm, current) == clicked || (back_among_keys && enabled)) return 1;

    if (tab_seq != TAB_NO_FOCUS)
        window_hooks().message(
            "This field is not available to be changed.\t\t\t\t\t\t\tMouse control currently disabled", "I");
    if (global_data->log_level_lumbas > 2)
        mlog(3, "Mouse control not allowed: Index = %d; Tab Sequence Type = %d; AddChange Mode = %d", clicked, tab_seq,
             anychange);
    cmat_set_focus_index(cm, current);
    return 0;
}

gboolean cclick_button_press(GtkWidget *widget, guint button, int n_press, double x, double y, GlobalData_t *gd,
                             const char *event_name)
{
    if (gd->log_level_lumbas >= 0) {
        static const char row[] = "========================================================";
        mlog(0, "%s", row);
        mlog(0, "===  A Mouse Click - button%d; n_press%d; x=%lf  y=%lf  ===", button, n_press, x, y);
        mlog(0, "%s", row);
    }
    // GTK's own press handler of a clicked text has given it the keyboard already: a click that
    // leaves the engine's focus where it was gives the keyboard back to that field, so that no key
    // reaches a field the engine did not enter.
    GtkWidget *window = widget ? gtk_widget_get_ancestor(widget, GTK_TYPE_WINDOW) : nullptr;
    ControlMatrix_t *before = window ? cget_cm_for_window(gd, window, 0) : nullptr;
    const int focus = before ? before->current_focus : 0;
    const auto keyboard_back = [&] {
        if (before && cm_chain_position(before) && before->current_focus == focus) cfocus_keyboard_back(before);
    };
    if (n_press > 1) {
        keyboard_back();
        return TRUE;
    }

    Click click{End::none, true};
    bool dropped = true;
    {
        // Taken in this order and released in the reverse one; any of them held drops the click.
        const BusyFlag activate(gd->activate_lock);
        const BusyFlag escape(gd->escape_lock);
        const BusyFlag f8(gd->f8_lock);
        if (activate.taken() && escape.taken() && f8.taken()) {
            dropped = false;
            const RoutineName name("on_button_press_event");
            ControlMatrix_t *cm = window ? cget_cm_for_window(gd, window, 0) : nullptr;
            if (!cm) Abort("Widget not found in the Process Control Matrix (k)");
            click = handle(cm, widget, button, gd, event_name);
        }
    }
    if (!dropped && click.end != End::none) ccallbacks_finish_event(1, click.end == End::full ? 1 : 0);
    keyboard_back();
    return click.claim ? TRUE : FALSE;
}

namespace {

// The gesture that took the last press (weak: cleared when its widget goes).
GtkGesture *last_gesture = nullptr;

void remember(GtkGesture *gesture)
{
    if (last_gesture == gesture) return;
    if (last_gesture) g_object_remove_weak_pointer(G_OBJECT(last_gesture), reinterpret_cast<gpointer *>(&last_gesture));
    last_gesture = gesture;
    g_object_add_weak_pointer(G_OBJECT(last_gesture), reinterpret_cast<gpointer *>(&last_gesture));
}

} // namespace

namespace {

gboolean reset_gesture(gpointer)
{
    if (last_gesture) gtk_event_controller_reset(GTK_EVENT_CONTROLLER(last_gesture));
    return G_SOURCE_REMOVE;
}

} // namespace

void cclick_reset_gesture()
{
    if (!last_gesture) return;
    if (global_data && global_data->log_level_lumbas > 2) mlog(3, "A dialog closed: the click count starts again");
    // Once the press that may have opened the dialog has been handled to its end, and before any
    // event after it: at idle priority a busy loop (events, frames) could hand the next press to
    // the gesture first, which would count it as the second of a double click.
    g_idle_add_full(G_PRIORITY_HIGH, reset_gesture, nullptr, nullptr);
}

void on_button_press_event(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd)
{
    GtkGesture *g = GTK_GESTURE(gesture);
    remember(g);
    const GestureBlock blocked(g, gd);
    gboolean claim = TRUE;
    forms_callback([&] {
        GtkWidget *widget = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(gesture));
        const guint button = gtk_gesture_single_get_current_button(GTK_GESTURE_SINGLE(gesture));
        claim = cclick_button_press(widget, button, n_press, x, y, static_cast<GlobalData_t *>(gd));
    });
    if (claim) gtk_gesture_set_state(g, GTK_EVENT_SEQUENCE_CLAIMED);
}
