// Events of a form: the key and click handlers that the field widgets connect, the end of every
// event and the closing of windows, and the GTK main loop that programs hand control to
// (IGTK_MAIN). Running the routine attached to an event is cinvoke.h's, the focus cfocus.h's.
//
// What a handler does when an exception (a trappable error, or a test's fatal stop) reaches it:
// it never crosses GTK's C frames. forms_callback runs the handler's work, keeps the exception and
// quits the main loop; igtk_main and igtk_main_iteration throw it again once GTK has returned.
#pragma once

#include <exception>
#include <gtk/gtk.h>

#include "cfocus.h"
#include "cinvoke.h"
#include "forms.h"

struct Stack;

// ---- Handlers the field widgets connect (user data: global_data) -----------------------------------
// The key dispatcher of every field widget's key controller: TRUE when the key was taken, FALSE to
// let GTK go on. Ends the event itself.
gboolean on_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode, GdkModifierType state,
                            gpointer gd);
// The "pressed" handler of every field widget's click gesture: claims the click's event sequence
// unless the click is left to the widget (an ordinary click on the focused field).
void on_button_press_event(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);

// ---- Clicks -------------------------------------------------------------------------------------------
// The work of on_button_press_event for a click of mouse button `button` with n_press presses (two
// or more: a double click, ignored) on widget, a field's widget: answers TRUE when the click's event
// sequence is to be claimed. Ends the event itself. A click while a key or another click is at
// work is dropped; one that leaves the focus where it was gives the keyboard back to the focused
// field.
gboolean cclick_button_press(GtkWidget *widget, guint button, int n_press, double x, double y, GlobalData_t *gd);
// Resets the count of presses of the click gesture that took the last press: a dialog opened by
// that click took its release, so the next press on the field is a first press again.
void cclick_reset_gesture();
// Whether a click may move the focus from field current to field clicked: 1, or 0 after the user
// has been told (not for a field that never takes the focus) and the focus is back on current.
int cmat_check_clickable(ControlMatrix_t *cm, int current, int clicked);

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

// Enter on a field (the Enter key, or a field's "activate"): answers 1 when the key was taken, 0
// when it goes on to GTK (a nested Enter, or one while an external program runs).
int on_key_press_enter(GtkWidget *widget, GtkEventController *controller, guint keyval, GlobalData_t *gd, int block);

// ---- Steps the handlers share ---------------------------------------------------------------------------
// The Edit_Content routine of the first editing key of a field visit, for a field of Widget Type
// type; its answer is kept in the CM's edit_checked (a false answer lets the next key run it again).
void ccallback_do_edit(ControlMatrix_t *cm, int index, int type, GdkModifierType state, guint keyval);
// Escape's question: 1 to leave, 0 to stay (a modified form in add, change or any-change mode asks
// whether to discard the changes).
int ccallback_do_escape_check(ControlMatrix_t *cm, int index);
// The focus moves on from field old after a routine answered (the step every accepting event ends
// with); clicked is the clicked field (0 for keys), keyval the key (0 for clicks); mode is not used;
// widget is the widget a click landed on (the item a toggle or radio field then chooses), nullptr
// for keys and posts.
void ccallback_set_focus_next_field(ControlMatrix_t *cm, int old, int answer, int mode, int clicked, guint keyval,
                                    int shift, GtkWidget *widget = nullptr);
// A click on field clicked: its Activate or Pre_Focus routine; back is the field to return to
// after a button. Answers the field that now has the focus, or -1 (closing, or none).
int ccallback_do_activate_on_focus(ControlMatrix_t *cm, GlobalData_t *gd, int clicked, int back);
// Moving back from field old onto key field new_index: 1 when it may go ahead (the form is cleared
// from the key field on and leaves its mode), 0 when refused.
int ccallback_do_revert(ControlMatrix_t *cm, int old, int new_index);
// Selects an input field's whole text, puts a date field's cursor first; other kinds nothing.
void ccallback_set_selection(ControlMatrix_t *cm, int index);
// A widget's key-controller dispatcher, blocked while block is set and unblocked again when the
// guard goes (every way out of a handler).
class DispatcherBlock {
public:
    DispatcherBlock(GtkEventController *controller, int block, GlobalData_t *gd);
    ~DispatcherBlock();
    DispatcherBlock(const DispatcherBlock &) = delete;
    DispatcherBlock &operator=(const DispatcherBlock &) = delete;
private:
    GtkEventController *controller_ = nullptr;
    GlobalData_t *gd_ = nullptr;
};
// A busy flag of global_data taken by try-take: taken() is false when it was busy; a taken flag is
// released when the guard goes.
class BusyFlag {
public:
    explicit BusyFlag(int &flag) : flag_(flag), taken_(flag == 0) { flag_ = 1; }
    ~BusyFlag() { if (taken_) flag_ = 0; }
    BusyFlag(const BusyFlag &) = delete;
    BusyFlag &operator=(const BusyFlag &) = delete;
    bool taken() const { return taken_; }
private:
    int &flag_;
    bool taken_;
};

// Enter's three busy flags taken together, as Tab, Back-Tab, the function keys and Ctrl-z (from
// the keyboard or the soft keys) hold them while their routines run: taken() is false when one was
// busy, and the event is then dropped.
class EventGuard {
public:
    explicit EventGuard(GlobalData_t *gd) : activate_(gd->activate_lock), escape_(gd->escape_lock), f8_(gd->f8_lock) {}
    bool taken() const { return activate_.taken() && escape_.taken() && f8_.taken(); }

private:
    BusyFlag activate_, escape_, f8_;
};

// ---- End of an event --------------------------------------------------------------------------------
// Ends the current event: the menu's refresh, the windows of CMs marked closing destroyed (newest
// first; one a routine still runs on stays marked for the end of the outermost event), the newest
// window presented and, with predisplay, its focused field made editable. A call made while one
// runs does nothing.
void ccallbacks_finish_event(int destroy, int predisplay);
// Closing a CM after the routine that marked it closing answered true: its Exit routine and its
// parent's post routine (and so on up the chain). Answers the CM to go on with: cm itself when it
// is not marked closing, nullptr for a windowless CM whose next is windowless too.
ControlMatrix_t *cdeletewin(ControlMatrix_t *cm, GlobalData_t *gd);
// The parent's Win_Post, Drill_Post or Zoom_Post routine with the post text, when run is set: a
// true answer closes the parent in turn. Answers the CM to go on with (parent when run is 0).
ControlMatrix_t *cinvoke_run_win_post(ControlMatrix_t *parent, const char *text, int run);
ControlMatrix_t *cinvoke_run_drill_post(ControlMatrix_t *parent, const char *text, int run);
ControlMatrix_t *cinvoke_run_zoom_post(ControlMatrix_t *parent, const char *text, int run);

// ---- Close requests while a routine runs -------------------------------------------------------------
// A close request of cm's window (its title bar's button): refused and recorded when a routine runs
// on cm or on a newer CM, since destroying the window would free the CM under that routine.
// Answers true when the request was so deferred.
bool ccallbacks_defer_close(ControlMatrix_t *cm);
// Once no routine runs on a CM with a deferred close request (nor on a newer one) and no event
// is at work, the request is made again from the main loop, so that the window's own close road
// runs. Called when the outermost routine run on a CM and when an event ends.
void ccallbacks_schedule_deferred_closes();

// ---- Intrinsics -------------------------------------------------------------------------------------
void cget_event_name(int nargs, int last, Stack *result);  // ICGET_EVENT_NAME$
void cdelete_window(int nargs, int last);                  // ICDELETE_WINDOW

// ---- Main loop ------------------------------------------------------------------------------------------
// IGTK_MAIN: runs the one main loop of the run-time (made on first use) until it is quit; a call
// while it runs nests, and one quit ends every run.
void igtk_main(int nargs, int last);
// IGTK_MAIN_ITERATION: handles every event pending now, then returns.
void igtk_main_iteration(int nargs, int last);
// The same for the engine's own waits.
void igtk_main_iteration();
// Quits the main loop (the last CM's window is gone); nothing when it does not run.
void igtk_main_quit();
// Whether the main loop runs now.
bool igtk_main_running();

// Keeps an exception that reached a callback and quits the main loop.
void forms_keep_exception(std::exception_ptr e) noexcept;
// Throws the exception a callback kept, if any.
void forms_rethrow_kept();
// Runs work for a GLib or GTK callback (see the head of this file); returns false when it threw.
template <class Work> bool forms_callback(Work &&work) noexcept
{
    try {
        work();
        return true;
    } catch (...) {
        forms_keep_exception(std::current_exception());
        return false;
    }
}
