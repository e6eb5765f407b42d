// The GTK main loop programs hand control to (IGTK_MAIN, IGTK_MAIN_ITERATION). While the loop
// runs, a 100 ms timer is the signal safe point, as the executor loop is otherwise. The loop
// itself, its quitting and the carrying of exceptions out of callbacks are ccallback.h's.
#pragma once

// IGTK_MAIN: runs the one main loop of the run-time (made on first use) until it is quit; a call
// while it runs nests, and one quit ends every run.
void igtk_main(int nargs, int last);
// IGTK_MAIN_ITERATION: handles every event pending now, then returns.
void igtk_main_iteration(int nargs, int last);
