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

// ---- Handlers the field widgets connect (user data: global_data) -----------------------------------
gboolean on_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode, GdkModifierType state,
                            gpointer gd);
void on_button_press_event(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);
// Escape on a field or window (also the close button of a form window): answers the pre-display
// flag for the end of the event. A widget whose window has no CM has nothing to leave: 1. Until
// key events are built, any other stops the run ("Key events not available").
int on_key_press_escape(GtkWidget *widget, GtkEventController *controller, GlobalData_t *gd, int block);
// The handlers of the function keys, which the soft-key bar replays on the focused field's widget
// (or the window) as if the key had been typed there; `block` makes a handler block the key
// dispatcher on the controller while it works. Until key events are built each stops the run
// ("Key events not available").
// F1, F2, F4, F6, F7, F10, F11 by key value.
void on_key_press_fn(GtkWidget *widget, guint keyval, GlobalData_t *gd);
void on_key_press_f3(GtkWidget *widget, guint keyval, GlobalData_t *gd);
void on_key_press_f5(GtkWidget *widget, GlobalData_t *gd);
// Answers 1.
int on_key_press_f8(GtkWidget *widget, GtkEventController *controller, GlobalData_t *gd, int shift, int block);
// page_key: 0, GDK_KEY_Page_Up or GDK_KEY_Page_Down.
void on_key_press_f9(GtkWidget *widget, GlobalData_t *gd, guint page_key);
// The answer of the last routine run, or 1.
int on_key_press_f12(GtkWidget *widget, GtkEventController *controller, GlobalData_t *gd, int block);

// Enter on a field (the Enter key, or a field's "activate"): answers 1 when the key was taken, 0
// when it goes on to GTK. Until key events are built, stops the run ("Key events not available").
int on_key_press_enter(GtkWidget *widget, GtkEventController *controller, guint keyval, GlobalData_t *gd, int block);
// The Edit_Content step of the first editing key of a field visit, for a field of Widget Type
// type. Until key events are built, stops the run ("Key events not available").
void ccallback_do_edit(ControlMatrix_t *cm, int index, int type, GdkModifierType state, guint keyval);
// The focus moves on from field old after a routine answered (the step every accepting event ends
// with); clicked is the clicked field (0 for keys), keyval the key (0 for clicks). Until key
// events are built, stops the run ("Key events not available").
void ccallback_set_focus_next_field(ControlMatrix_t *cm, int old, int answer, int mode, int clicked, guint keyval,
                                    int shift);

// ---- End of an event --------------------------------------------------------------------------------
// Ends the current event: the windows of CMs marked closing are destroyed (newest first), the
// newest window is presented and, with predisplay, its focused field made editable. A call made
// while one runs does nothing.
void ccallbacks_finish_event(int destroy, int predisplay);
// Closing a CM after the routine that marked it closing answered true: the CM to go on with. A
// CM not marked closing is returned as it is (a windowless one whose next is windowless too:
// nullptr); until window closing is built a closing one stops the run ("Window closing not
// available").
ControlMatrix_t *cdeletewin(ControlMatrix_t *cm, GlobalData_t *gd);

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
