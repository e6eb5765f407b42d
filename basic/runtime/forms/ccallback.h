// What every GTK and GLib callback of the forms engine and the widgets stands on: the one main loop
// of the run-time (made on first use), its quitting, the handling of the events pending now (the
// engine's own waits, and a cursor that must show at once), and the carrying of an exception from
// a callback to the code that runs the loop. Programs hand control to the loop through cloop.h.
//
// What a handler does when an exception (a trappable error, or a test's fatal stop) reaches it:
// it never crosses GTK's C frames. forms_callback runs the handler's work, keeps the exception and
// quits the main loop; igtk_main and igtk_main_iteration throw it again once GTK has returned.
#pragma once

#include <exception>
#include <glib.h>

// The one main loop of the run-time, made on first use.
GMainLoop *forms_main_loop();
// Handles every event pending now, then returns (the engine's own waits).
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
