// The soft-key bar: a row of buttons "Esc", "F1" .. "F12" along the bottom of a window, each the
// mouse equivalent of its key. A press replays the key through the forms engine's key handling on
// the focused field (or the window) and ends the event. The labels come from a named key set of
// the soft-key file; each button is registered with its action code in the window's control
// matrix, which makes it sensitive only while something is attached to that key.
#pragma once

#include <cstdint>
#include <gtk/gtk.h>

#include "forms.h"
#include "softkeys.h"

struct Stack;

// One key of a bar: index 0 Escape, 1 .. 12 F1 .. F12.
struct GSoftkeySlot {
    GtkWidget *button;  // nullptr until the bar makes it
    std::uint8_t state; // 2 when the key set labels the key, else 1
    const char *label;  // the key set's text (borrowed), nullptr when it has none
};

// The soft keys of one window; the newest record of a window is the one found.
struct GSoftkeys {
    GtkWidget *window;  // the top-level window: the lookup key
    KeySet_t *keyset;   // borrowed from the key-set list
    GSoftkeySlot slots[NUM_SOFTKEYS];
    GSoftkeys *prev, *next;
};

// Every record, newest first.
extern GSoftkeys *gtk_softkeys;

// A new record for window with the slots of the named key set (nullptr: the default set), linked
// at the head; nullptr when no such set was loaded.
GSoftkeys *GCreateSoftkeys(GtkWidget *window, const char *name);
// The newest record of window, or nullptr.
GSoftkeys *GFindSoftkeys(const GtkWidget *window);
// Unlinks and frees the newest record of window; nothing when it has none.
void GDeleteSoftkeys(GtkWidget *window);
// Frees every record of a window that goes (its CM is freed), so that no record outlives the
// window whose buttons it names.
void gsoftkey_delete_window(GtkWidget *window);
// Puts button into slot key (0 .. 12) of window's record and returns the record; a window without
// a record, a key out of range or a slot already taken ends the run.
GSoftkeys *GAddKey(GtkWidget *window, GtkWidget *button, int key);
// The slot of window's record holding button; none ends the run.
GSoftkeySlot *gfindsoftkey_by_widgit(GtkWidget *window, GtkWidget *button);
// Gives button the label of its slot (an empty text for a key without one).
void set_fkey_label_by_widget(GtkWidget *window, GtkWidget *button);
// softkey_event becomes 0 on every control matrix of the chain.
void gsoftkey_unset_function_key();

// Builds a bar of key set name into box (replacing a bar built there before) for cm, whose window
// must hold the box: only the keys the set labels when all is 0, else all thirteen. The bar's
// handle goes into result when one is given. Returns the bar.
GtkWidget *gsoftkey_box(ControlMatrix_t *cm, int all, const char *name, GtkWidget *box, Stack *result);
// IGSOFTKEY_BOX (box, key set name [, all]).
void gsoftkey_box_i(int nargs, int last, Stack *result);

// ---- Handlers (user data: global_data) ---------------------------------------------------------------
void gsoftkey_button_press_escape(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);
void gsoftkey_button_press_F1(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);
void gsoftkey_button_press_F2(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);
void gsoftkey_button_press_F3(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);
void gsoftkey_button_press_F4(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);
void gsoftkey_button_press_F5(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);
void gsoftkey_button_press_F6(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);
void gsoftkey_button_press_F7(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);
void gsoftkey_button_press_F8(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);
void gsoftkey_button_press_F9(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);
void gsoftkey_button_press_F10(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);
void gsoftkey_button_press_F11(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);
void gsoftkey_button_press_F12(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);
// Escape and F1 .. F12 go to the forms engine's key handler; other keys are left to GTK.
gboolean gsoftkey_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode,
                                  GdkModifierType state, gpointer gd);
// On the F12 button every key runs F12.
gboolean gsoftkey_key_press_F12(GtkEventControllerKey *controller, guint keyval, guint keycode,
                                GdkModifierType state, gpointer gd);

// ---- What the soft keys and the menu screen call in the forms engine --------------------------------
//
// The forms engine's key handlers and routine invocation, reached through this table so that a
// test can watch what a press replays. Defaults: the forms engine's own functions.
struct FormsEventCalls {
    gboolean (*key)(GtkEventControllerKey *controller, guint keyval, guint keycode, GdkModifierType state,
                    gpointer gd);  // on_key_press_event
    int (*escape)(GtkWidget *widget, GtkEventController *controller, GlobalData_t *gd, int block);
    void (*fn)(GtkWidget *widget, guint keyval, GlobalData_t *gd);
    void (*f3)(GtkWidget *widget, guint keyval, GlobalData_t *gd);
    void (*f5)(GtkWidget *widget, GlobalData_t *gd);
    int (*f8)(GtkWidget *widget, GtkEventController *controller, GlobalData_t *gd, int shift, int block);
    void (*f9)(GtkWidget *widget, GlobalData_t *gd, guint page_key);
    int (*f12)(GtkWidget *widget, GtkEventController *controller, GlobalData_t *gd, int block);
    void (*change_cursor)();
    int (*invoke)(ControlMatrix_t *cm, ControlMatrix_t **out_cm, int code, int *index, int *closed, GlobalData_t *gd,
                  const char *variable, const char *text, int value, int must_exist, char **result_text,
                  int *closing, int close_processing);  // cinvoke_basic_routine
};
const FormsEventCalls &forms_event_calls();
// Installs every member (all must be set) and returns the table it replaces.
FormsEventCalls set_forms_event_calls(const FormsEventCalls &calls);
