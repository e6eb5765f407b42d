// The soft-key bar: the records of each window's keys, building the bar, and the press and key
// handlers that replay a key on the focused field through the forms engine.
#include "gsoftkeys.h"

#include <cstring>
#include <optional>

#include "cases.h"
#include "cattach.h"
#include "ccallback.h"
#include "cevents.h"
#include "cfield.h"
#include "cfunctionkey.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "gmisc.h"
#include "gwidget.h"
#include "interp.h"
#include "message.h"

GSoftkeys *gtk_softkeys;

namespace {

using PressHandler = void (*)(GtkGestureClick *, int, double, double, gpointer);

// The keys of a bar, slot by slot.
struct KeyRow {
    const char *text;        // the button's first (mnemonic) text
    const char *click_name;  // its click gesture
    const char *key_name;    // its key controller
    int action_code;         // what it is registered for in the CM
    const char *handler;     // Rname while its press is handled
    PressHandler press;
};

const KeyRow key_rows[NUM_SOFTKEYS] = {
    {"Esc", "gsoftkey-Esc-button", "gsoftkey-Esc", AC_ESCAPE, "gsoftkey_button_press_escape",
     gsoftkey_button_press_escape},
    {"F1", "gsoftkey-F1-button", "gsoftkey-F1", 51, "gsoftkey_button_press_F1", gsoftkey_button_press_F1},
    {"F2", "gsoftkey-F2-button", "gsoftkey-F2", 52, "gsoftkey_button_press_F2", gsoftkey_button_press_F2},
    {"F3", "gsoftkey-F3-button", "gsoftkey-F3", 53, "gsoftkey_button_press_F3", gsoftkey_button_press_F3},
    // The fourth button follows the Screen_Capture routine, which holds the fourth slot.
    {"F4", "gsoftkey-F4-button", "gsoftkey-F4", AC_SCREEN_CAPTURE, "gsoftkey_button_press_F4",
     gsoftkey_button_press_F4},
    {"F5", "gsoftkey-F5-button", "gsoftkey-F5", 55, "gsoftkey_button_press_F5", gsoftkey_button_press_F5},
    {"F6", "gsoftkey-F6-button", "gsoftkey-F6", 56, "gsoftkey_button_press_F6", gsoftkey_button_press_F6},
    {"F7", "gsoftkey-F7-button", "gsoftkey-F7", 57, "gsoftkey_button_press_F7", gsoftkey_button_press_F7},
    {"F8", "gsoftkey-F8-button", "gsoftkey-F8", 58, "gsoftkey_button_press_F8", gsoftkey_button_press_F8},
    {"F9", "gsoftkey-F9-button", "gsoftkey-F9", 59, "gsoftkey_button_press_F9", gsoftkey_button_press_F9},
    {"F10", "gsoftkey-F10-button", "gsoftkey-F10", 60, "gsoftkey_button_press_F10", gsoftkey_button_press_F10},
    {"F11", "gsoftkey-F11-button", "gsoftkey-F11", 61, "gsoftkey_button_press_F11", gsoftkey_button_press_F11},
    {"F12", "gsoftkey-F12-button", "gsoftkey-F12", AC_F12, "gsoftkey_button_press_F12", gsoftkey_button_press_F12},
};

constexpr int ESCAPE_SLOT = 0;
constexpr int F4_SLOT = 4;
constexpr int F12_SLOT = 12;

FormsEventCalls event_calls{
    on_key_press_event, on_key_press_escape, on_key_press_fn,  on_key_press_f3,          on_key_press_f5,
    on_key_press_f8,    on_key_press_f9,     on_key_press_f12, ccallbacks_change_cursor, cinvoke_basic_routine,
};

unsigned long hex(const void *p) { return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)); }

GSoftkeys *record_of(GtkWidget *window, const char *missing)
{
    GSoftkeys *keys = GFindSoftkeys(window);
    if (!keys) Abort(missing, hex(window));
    return keys;
}

// The widget a replayed key goes to: the focused field's, else the window.
GtkWidget *replay_target(ControlMatrix_t *cm, GtkWidget *window)
{
    const int f = cm->current_focus;
    if (f < 1 || f > cm->field_count) return window;
    GtkWidget *widget = cget_widget_for_widget(cm_field(cm, f).entry);
    return widget ? widget : window;
}

// The fourth button runs the Screen_Capture routine of the focused field (or of the window), as a
// function key runs its routine: editing ends, the event is named, and a routine that moves the
// focus has the new field's Pre_Focus run.
void screen_capture(ControlMatrix_t *cm, GlobalData_t *gd)
{
    cinvoke_post_display(cm, 0);
    cm->edit_checked = 0;
    std::strcpy(cm->event_name, "F4");
    const int before = cm->current_focus;
    int index = before, closing = 0;
    ControlMatrix_t *out = cm;
    char *text = nullptr;
    event_calls.invoke(cm, &out, AC_SCREEN_CAPTURE, &index, nullptr, gd, "IP$", "", 0, 0, &text, &closing, 1);
    g_free(text);
    if (closing || index == before) return;
    text = nullptr;
    event_calls.invoke(out, &out, AC_PRE_FOCUS, &index, nullptr, gd, "IP$", "", 0, 0, &text, &closing, 1);
    g_free(text);
}

// Replays the key of slot on the focused field of the button's window and ends the event. The
// answer of the key's handler where it has one (Escape, F12), else 1.
int replay(GtkWidget *button, int slot, GlobalData_t *gd)
{
    GtkWidget *window = oska_widget_get_toplevel(button);
    ControlMatrix_t *cm = cget_cm_for_window(gd, window, 1);
    if (slot != ESCAPE_SLOT) cm->softkey_event = 1;
    GtkWidget *target = replay_target(cm, window);
    int answer = 1;
    // The keys whose handlers take no guard of their own hold Enter's while they work.
    std::optional<EventGuard> guard;
    if (slot != ESCAPE_SLOT && slot != 8 && slot != F12_SLOT) {
        guard.emplace(gd);
        if (!guard->taken()) return 1;
    }
    switch (slot) {
    case ESCAPE_SLOT: {
        const int predisplay = event_calls.escape(target, nullptr, gd, 1);
        ccallbacks_finish_event(1, predisplay);
        if (gd->first_cm && gd->first_cm->next) event_calls.change_cursor();
        return predisplay;
    }
    case 3: event_calls.f3(target, GDK_KEY_F3, gd); break;
    case F4_SLOT: screen_capture(cm, gd); break;
    case 5: event_calls.f5(target, gd); break;
    case 8: event_calls.f8(target, nullptr, gd, 0, 1); break;
    case 9: event_calls.f9(target, gd, 0); break;
    case F12_SLOT: answer = event_calls.f12(target, nullptr, gd, 1); break;
    default: event_calls.fn(target, GDK_KEY_F1 + static_cast<guint>(slot - 1), gd); break;
    }
    guard.reset();
    gsoftkey_unset_function_key();
    ccallbacks_finish_event(1, 1);
    return answer;
}

// A press on the button of slot: replayed with the handler's own connection blocked, the press
// claimed so that it goes no further (for F12 only when its action answered true).
void press(GtkGestureClick *gesture, int slot, gpointer gd)
{
    const KeyRow &row = key_rows[slot];
    const BlockedHandler blocked(gesture, G_CALLBACK(row.press), gd);
    forms_callback([&] {
        const RoutineName name(row.handler);
        GtkWidget *button = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(gesture));
        const int answer = replay(button, slot, static_cast<GlobalData_t *>(gd));
        oska_on_button_propagate(GTK_GESTURE(gesture), slot == F12_SLOT ? answer : 1);
    });
}

// Return and Space on a focused soft key run it as a press does.
bool activates(guint keyval)
{
    return keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter || keyval == GDK_KEY_ISO_Enter ||
           keyval == GDK_KEY_space || keyval == GDK_KEY_KP_Space;
}

void run_focused_key(GtkWidget *button, GlobalData_t *gd)
{
    GSoftkeys *keys = GFindSoftkeys(oska_widget_get_toplevel(button));
    for (int k = 0; keys && k < NUM_SOFTKEYS; ++k)
        if (keys->slots[k].button == button) {
            const RoutineName name(key_rows[k].handler);
            replay(button, k, gd);
            return;
        }
}

bool function_key(guint keyval)
{
    return keyval == GDK_KEY_Escape || (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12);
}

void add_press_gesture(GtkWidget *button, const KeyRow &row, GlobalData_t *gd)
{
    GtkGesture *click = gtk_gesture_click_new();
    gtk_event_controller_set_name(GTK_EVENT_CONTROLLER(click), row.click_name);
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), 0);
    gtk_gesture_single_set_exclusive(GTK_GESTURE_SINGLE(click), TRUE);
    g_signal_connect(click, "pressed", G_CALLBACK(row.press), gd);
    gtk_widget_add_controller(button, GTK_EVENT_CONTROLLER(click));
}

void add_key_controller(GtkWidget *widget, const char *name, GCallback handler, GtkPropagationPhase phase,
                        GlobalData_t *gd)
{
    GtkEventController *keys = gtk_event_controller_key_new();
    gtk_event_controller_set_name(keys, name);
    gtk_event_controller_set_propagation_phase(keys, phase);
    g_signal_connect(keys, "key-pressed", handler, gd);
    gtk_widget_add_controller(widget, keys);
}

// Removes the first child of box named "functionkeys": a bar built there before.
void remove_old_bar(GtkWidget *box)
{
    for (GtkWidget *child = gtk_widget_get_first_child(box); child; child = gtk_widget_get_next_sibling(child))
        if (std::strcmp(gtk_widget_get_name(child), "functionkeys") == 0) {
            gtk_box_remove(GTK_BOX(box), child);
            return;
        }
}

} // namespace

// ---- Records ---------------------------------------------------------------------------------------------

GSoftkeys *GCreateSoftkeys(GtkWidget *window, const char *name)
{
    KeySet_t *set = name ? FindKeySet(name) : default_keyset();
    if (!set) return nullptr;
    auto *keys = static_cast<GSoftkeys *>(g_try_malloc0(sizeof(GSoftkeys)));
    if (!keys) Abort("No memory to add gtk softkey structure");
    keys->window = window;
    keys->keyset = set;
    for (int k = 0; k < NUM_SOFTKEYS; ++k) {
        keys->slots[k].state = (set->defined >> k) & 1 ? 2 : 1;
        keys->slots[k].label = set->labels[k];
    }
    keys->next = gtk_softkeys;
    if (gtk_softkeys) gtk_softkeys->prev = keys;
    gtk_softkeys = keys;
    return keys;
}

GSoftkeys *GFindSoftkeys(const GtkWidget *window)
{
    for (GSoftkeys *keys = gtk_softkeys; keys; keys = keys->next)
        if (keys->window == window) return keys;
    return nullptr;
}

void GDeleteSoftkeys(GtkWidget *window)
{
    GSoftkeys *keys = GFindSoftkeys(window);
    if (!keys) return;
    if (keys->prev)
        keys->prev->next = keys->next;
    else
        gtk_softkeys = keys->next;
    if (keys->next) keys->next->prev = keys->prev;
    g_free(keys);
}

void gsoftkey_delete_window(GtkWidget *window)
{
    while (GFindSoftkeys(window)) GDeleteSoftkeys(window);
}

GSoftkeys *GAddKey(GtkWidget *window, GtkWidget *button, int key)
{
    GSoftkeys *keys = record_of(window, "No parent window with address 0x%lX in GAddKey()");
    if (key < 0 || key >= NUM_SOFTKEYS) Abort("Invalid keynum %d passed to GAddKey()", key);
    if (keys->slots[key].button)
        Abort("Key %d already has widget 0x%lX in GAddKey()", key, hex(keys->slots[key].button));
    keys->slots[key].button = button;
    return keys;
}

GSoftkeySlot *gfindsoftkey_by_widgit(GtkWidget *window, GtkWidget *button)
{
    GSoftkeys *keys = record_of(window, "No parent window with address 0x%lX");
    for (GSoftkeySlot &slot : keys->slots)
        if (slot.button == button) return &slot;
    Abort("Failed to find softkey registered for widget with address 0x%lX", hex(button));
}

void set_fkey_label_by_widget(GtkWidget *window, GtkWidget *button)
{
    GSoftkeys *keys = GFindSoftkeys(window);
    const GSoftkeySlot *found = nullptr;
    if (keys)
        for (const GSoftkeySlot &slot : keys->slots)
            if (slot.button == button) found = &slot;
    if (!found) Abort("Failed to find key in set_fkey_label_by_widget()");
    gtk_button_set_label(GTK_BUTTON(button), found->label ? found->label : "");
}

void gsoftkey_unset_function_key()
{
    for (ControlMatrix_t *cm = global_data->first_cm; cm; cm = cm->next) cm->softkey_event = 0;
}

// ---- The bar ---------------------------------------------------------------------------------------------

GtkWidget *gsoftkey_box(ControlMatrix_t *cm, int all, const char *name, GtkWidget *box, Stack *result)
{
    FORMS_TRACE;
    GlobalData_t *gd = global_data;
    GtkWidget *window = oska_widget_get_toplevel(box);
    if (window != cm->window)
        Abort("Attempting to add Softkeys in a vbox that does not appear in the current Control Matrix");
    GSoftkeys *keys = GCreateSoftkeys(window, name);
    if (!keys) Abort("Cannot find keyset named - %s", name);
    if (Minterp) Minterp->keyset = keys->keyset;

    remove_old_bar(box);
    GtkWidget *bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_set_homogeneous(GTK_BOX(bar), FALSE);
    gtk_widget_set_hexpand(bar, TRUE);
    gtk_widget_set_name(bar, "functionkeys");
    gtk_widget_set_visible(bar, TRUE);
    oska_box_append(box, bar, 0, 1, 0);
    oska_box_append(bar, gtk_label_new(""), 1, 0, 0);

    // One window controller serves every bar the window gets.
    if (!oska_widget_get_controller(window, "gsoftkey-window-key"))
        add_key_controller(window, "gsoftkey-window-key", G_CALLBACK(gsoftkey_key_press_event),
                           GTK_PHASE_BUBBLE, gd);
    for (int k = 0; k < NUM_SOFTKEYS; ++k) {
        if (keys->slots[k].state != 2 && !all) continue;
        const KeyRow &row = key_rows[k];
        GtkWidget *button = gtk_button_new_with_mnemonic(row.text);
        GAddKey(window, button, k);
        set_fkey_label_by_widget(window, button);
        gtk_widget_set_visible(button, TRUE);
        oska_box_append(bar, button, 1, 1, 0);
        cfunctionkey_add(cm, button, static_cast<std::uint32_t>(row.action_code));
        add_press_gesture(button, row, gd);
        add_key_controller(button, row.key_name,
                           k == F12_SLOT ? G_CALLBACK(gsoftkey_key_press_F12) : G_CALLBACK(gsoftkey_key_press_event),
                           k == ESCAPE_SLOT ? GTK_PHASE_CAPTURE : GTK_PHASE_BUBBLE, gd);
    }
    oska_box_append_end(bar, gtk_label_new(""), 1, 0, 0);
    if (result) gwidget_give(result, bar);
    return bar;
}

void gsoftkey_box_i(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs < 2 || nargs > 3) Abort("Invalid number of parameters");
    GtkWidget *box = gwidget_arg_of(intr::arg(nargs, last, 0), GTK_TYPE_BOX);
    const std::string name(intr::text(intr::arg(nargs, last, 1)));
    const int all = nargs > 2 ? intr::integer(intr::arg(nargs, last, 2)) : 1;
    ControlMatrix_t *cm = cget_cm_for_widget(global_data, box);
    gsoftkey_box(cm, all != 0, name.c_str(), box, result);
}

// ---- Handlers ------------------------------------------------------------------------------------------

#define SOFTKEY_PRESS(name, slot)                                                                          \
    void name(GtkGestureClick *gesture, int, double, double, gpointer gd) { press(gesture, slot, gd); }
SOFTKEY_PRESS(gsoftkey_button_press_escape, 0)
SOFTKEY_PRESS(gsoftkey_button_press_F1, 1)
SOFTKEY_PRESS(gsoftkey_button_press_F2, 2)
SOFTKEY_PRESS(gsoftkey_button_press_F3, 3)
SOFTKEY_PRESS(gsoftkey_button_press_F4, 4)
SOFTKEY_PRESS(gsoftkey_button_press_F5, 5)
SOFTKEY_PRESS(gsoftkey_button_press_F6, 6)
SOFTKEY_PRESS(gsoftkey_button_press_F7, 7)
SOFTKEY_PRESS(gsoftkey_button_press_F8, 8)
SOFTKEY_PRESS(gsoftkey_button_press_F9, 9)
SOFTKEY_PRESS(gsoftkey_button_press_F10, 10)
SOFTKEY_PRESS(gsoftkey_button_press_F11, 11)
SOFTKEY_PRESS(gsoftkey_button_press_F12, 12)
#undef SOFTKEY_PRESS

gboolean gsoftkey_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode,
                                  GdkModifierType state, gpointer gd)
{
    GtkWidget *widget = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller));
    const bool run_key = activates(keyval) && GTK_IS_BUTTON(widget);
    if (!function_key(keyval) && !run_key) return FALSE;
    const BlockedHandler blocked(controller, G_CALLBACK(gsoftkey_key_press_event), gd);
    if (run_key) {
        forms_callback([&] { run_focused_key(widget, static_cast<GlobalData_t *>(gd)); });
        return TRUE;
    }
    gboolean handled = TRUE;
    forms_callback([&] {
        const RoutineName name("gsoftkey_key_press_event");
        handled = event_calls.key(controller, keyval, keycode, state, gd);
    });
    return handled;
}

gboolean gsoftkey_key_press_F12(GtkEventControllerKey *controller, guint, guint, GdkModifierType, gpointer gd)
{
    const BlockedHandler blocked(controller, G_CALLBACK(gsoftkey_key_press_F12), gd);
    gboolean answer = TRUE;
    forms_callback([&] {
        const RoutineName name(key_rows[F12_SLOT].handler);
        GtkWidget *button = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller));
        answer = replay(button, F12_SLOT, static_cast<GlobalData_t *>(gd)) != 0;
    });
    return answer;
}

// ---- Calls into the forms engine ----------------------------------------------------------------------

const FormsEventCalls &forms_event_calls()
{
    return event_calls;
}

FormsEventCalls set_forms_event_calls(const FormsEventCalls &calls)
{
    if (!calls.key || !calls.escape || !calls.fn || !calls.f3 || !calls.f5 || !calls.f8 || !calls.f9 || !calls.f12 ||
        !calls.change_cursor || !calls.invoke)
        g_error("set_forms_event_calls: every member must be set");
    const FormsEventCalls previous = event_calls;
    event_calls = calls;
    return previous;
}
