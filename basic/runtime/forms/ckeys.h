// The keys that drive a form: the key dispatcher every field widget's key controller connects, the
// handlers of Tab and Back-Tab, Escape, the function keys, Ctrl-z and Alt-m, the Edit_Content step
// of a field visit's first editing key, and the event's name. Enter is center.h's.
#pragma once

#include <gtk/gtk.h>
#include <span>

#include "forms.h"

struct Stack;

// The key dispatcher of every field widget's key controller: TRUE when the key was taken, FALSE to
// let GTK go on. Ends the event itself.
gboolean on_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode, GdkModifierType state,
                            gpointer gd);

// ---- Key handlers -----------------------------------------------------------------------------------
// Each takes the widget that got the key (a field's entry, or any widget of the window); with
// block 1 (called from elsewhere than the dispatcher: soft keys, combo, clicks) it blocks the
// dispatcher on controller (may be nullptr) while it works. None ends the event: the caller does.
//
// Tab (keyval Tab) and Back-Tab (any other): validates, runs Post_Focus and moves on.
void on_key_press_tab(GtkWidget *widget, GtkEventController *controller, guint keyval, GlobalData_t *gd, int shift,
                      int block);
// Escape on a field or window (also the close button of a form window): answers the pre-display
// flag for the end of the event. A widget whose window has no CM, or an Escape arriving while one
// is at work, does nothing: 1.
int on_key_press_escape(GtkWidget *widget, GtkEventController *controller, GlobalData_t *gd, int block);
// F1, F2, F4, F6, F7, F10 and F11: the key's routine (F4 has none), then Pre_Focus of a moved focus.
void on_key_press_fn(GtkWidget *widget, guint keyval, GlobalData_t *gd);
// F3: as the function keys, never nested in itself.
void on_key_press_f3(GtkWidget *widget, guint keyval, GlobalData_t *gd);
// F5: a zoom window's search box, elsewhere as the function keys.
void on_key_press_f5(GtkWidget *widget, GlobalData_t *gd);
// F8, the back key: the field's F8 (or Pre_Focus) routine, then back to the earlier field or out
// of the window. Answers 1.
int on_key_press_f8(GtkWidget *widget, GtkEventController *controller, GlobalData_t *gd, int shift, int block);
// F9 (page_key 0) and the page keys of a note (GDK_KEY_Page_Up, GDK_KEY_Page_Down).
void on_key_press_f9(GtkWidget *widget, GlobalData_t *gd, guint page_key);
// F12: answers the last routine's answer, or 1 when none ran.
int on_key_press_f12(GtkWidget *widget, GtkEventController *controller, GlobalData_t *gd, int block);
// Ctrl-z and Alt-m (the Meta bit 0x10000000): nonzero when taken.
int on_key_press_ctrl_z(GtkWidget *widget, GdkModifierType state, GlobalData_t *gd);
int on_key_press_alt_m(GtkWidget *widget, guint keyval, GdkModifierType state, GlobalData_t *gd);

// ---- What a key does ---------------------------------------------------------------------------------
// One table routes the keys that work alike on every field of a form, whichever widget has the
// key: the dispatcher and a combo's open list both read it. Escape, Enter and F12 are the caller's
// (an open list closes on them before Enter's work); the others run through run_key_action.
enum class KeyAction { none, escape, enter, tab, function_key, f3, f5, f8, f9, f12 };
struct KeyRoute {
    guint keyval;
    KeyAction action;
    bool guarded;  // runs under Enter's busy flags, taken by the caller (EventGuard)
};
// Every row of the table.
std::span<const KeyRoute> key_routes();
// The row of keyval; a key the table does not name gets action none.
KeyRoute key_route(guint keyval);
// Runs the handler of a routed action (Tab and Back-Tab, the function keys, F8) for the key
// keyval on widget, with block as the key handlers take it. The event is the caller's to end.
void run_key_action(KeyAction action, GtkWidget *widget, GtkEventController *controller, guint keyval,
                    GlobalData_t *gd, int block);

// ---- Steps the handlers share ---------------------------------------------------------------------------
// The Edit_Content routine of the first editing key of a field visit, for a field of Widget Type
// type; its answer is kept in the CM's edit_checked (a false answer lets the next key run it again).
void ccallback_do_edit(ControlMatrix_t *cm, int index, int type, GdkModifierType state, guint keyval);
// Escape's question: 1 to leave, 0 to stay (a modified form in add, change or any-change mode asks
// whether to discard the changes).
int ccallback_do_escape_check(ControlMatrix_t *cm, int index);

// ---- Intrinsics -------------------------------------------------------------------------------------
void cget_event_name(int nargs, int last, Stack *result);  // ICGET_EVENT_NAME$
