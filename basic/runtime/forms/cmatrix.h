// Control matrices: the chain in global_data (oldest first; the last is the active window, the
// prior of a CM its parent), creation and binding of a window, the handle check, lookups by
// window and widget, the state elements, cursors, the free road and the dump; also the window's
// pipe and semaphore, which live and die with the CM (the soft-key slots are cfunctionkey.h's).
#pragma once

#include <cstdint>
#include <cstdio>

#include "forms.h"

struct Stack;

// ---- Creation and binding -----------------------------------------------------------------------

// Creates a CM for window (nullptr: bound later; CM_WINDOWLESS: the menu's) and appends it to the
// chain, inheriting the application area of the previous last CM (of global_data for the first).
// handle, when nonzero, must be the new CM. Minterp must be the current application's interpreter.
ControlMatrix_t *cset_new(GlobalData_t *gd, GtkWidget *window, std::uintptr_t handle);
// Binds window to the last CM, made before its window.
ControlMatrix_t *cset_new_find(GlobalData_t *gd, GtkWidget *window, std::uintptr_t handle);
// Creates or binds the CM of window for the numeric entry that holds (or will hold) its handle, as
// ICATTACH_WINDOW does, and returns it; writes nothing into the entry. A window some CM already
// has is refused.
ControlMatrix_t *cattach_window1(const Stack *entry, GtkWidget *window, int ignored);

// ---- Handle check and lookups ---------------------------------------------------------------------

// The CM a numeric entry names: nullptr for 0; a number that is no CM of the chain ends the run.
ControlMatrix_t *cutil_get_cm(GlobalData_t *gd, const Stack *entry);
// First CM whose window is window; none: nullptr, or with must_exist the run ends.
ControlMatrix_t *cget_cm_for_window(GlobalData_t *gd, const GtkWidget *window, int must_exist);
int cmat_window_exists_in_cm(GlobalData_t *gd, const GtkWidget *window);
// The CM's window; a windowless CM's is the next CM's.
GtkWidget *cget_window_for_cm(GlobalData_t *gd, const ControlMatrix_t *cm);
// The CM a widget belongs to (its window, the first CM's content, the extra widget, or a field's
// widgets); none ends the run.
ControlMatrix_t *cget_cm_for_widget(GlobalData_t *gd, GtkWidget *widget);
// A grid row's widget is being destroyed: removes the row whose entry it is, if any.
void cutil_destroy_widget(GtkWidget *widget);
// The GtkWindow enclosing an entry element's focusable widget, or nullptr.
GtkWidget *cget_window_for_widget(void *entry);
ControlMatrix_t *cutil_get_last_cm(GlobalData_t *gd);
// Newest CM not marked closing; the first CM when all are.
ControlMatrix_t *cutil_get_last_real_cm();
// How many CMs after cm are not marked closing.
int cutil_count_next_real_cm(const ControlMatrix_t *cm);
// 1-based position of cm in the chain, 0 when it is not there.
int cm_chain_position(const ControlMatrix_t *cm);
// The GtkWindow of a CM whose window is real (neither nullptr nor CM_WINDOWLESS), else nullptr.
GtkWindow *cm_real_window(const ControlMatrix_t *cm);
// Whether widgets exist: a run with windows, GTK initialised.
bool cm_windows_mode();

// ---- State elements (CM_PROG_MODE .. CM_RET_FOCUS) -------------------------------------------------
int cset_st_get_int(const ControlMatrix_t *cm, int element);
void cset_st_put_int(ControlMatrix_t *cm, int element, int value);  // CM_RET_FOCUS is read-only

// ---- Cursors --------------------------------------------------------------------------------------
// Busy: once per busy spell; shows "wait" and lets it appear at once (unless key is a Control or
// Alt key, whose release would be lost).
void ccursor_set_busy(ControlMatrix_t *cm, int key);
void ccursor_set_standard(ControlMatrix_t *cm);
void ccursor_set_inactive(ControlMatrix_t *cm);
// The newest CM's window gets the standard cursor, every other CM's the inactive one.
void ccallbacks_change_cursor();

// ---- Free road ---------------------------------------------------------------------------------------

// Frees the CM of window (if any) with Program_name set to program meanwhile; the newer window
// becomes transient for the older one, and the window's soft-key bar goes.
void cmat_free_window(GtkWidget *window, const char *program);
// cmat_free_window's work for a CM found otherwise.
void cmat_free_window_cm(ControlMatrix_t *cm);
// Unlinks cm from the chain and frees it, or, while its external program runs, moves it to
// global_data's deferred list (linked through deferred_next), where freeing other CMs never
// reaches it.
void cmat_free_cm(ControlMatrix_t *cm);
// Called when the external program of a deferred CM ends: takes cm off the deferred list and
// frees it. Returns 0 (and does nothing) when cm is not on the list.
int cmat_free_deferred(ControlMatrix_t *cm);
// Frees a CM and all it owns (it must be off the chain).
void cmatrix_free(ControlMatrix_t *cm);
// The run's end: every CM of the chain from the first, then every deferred one.
void cmat_free_all();

// ---- Dump ---------------------------------------------------------------------------------------------
void cdisplay_cm(ControlMatrix_t *cm, const char *title);

// ---- Pipe and semaphore ------------------------------------------------------------------------------
void cipc_sem_remove(int sem_id);
// Closes a descriptor that is open (0 or more) and sets it to -1; a failing close ends the run.
void cipc_close_pipe_for_reading(int *fd);
// Releases both as when the window goes: semaphore id to -1, read end closed.
void cipc_release(ControlMatrix_t *cm);

// ---- Intrinsics -------------------------------------------------------------------------------------
// The CM an intrinsic's argument at position (0 = the first) names; a handle of 0 ends the run
// with zero_message, a stale one with the handle check's.
ControlMatrix_t *cm_argument(int nargs, int last, int position, const char *zero_message);
void cattach_window(int nargs, int last);     // ICATTACH_WINDOW
void cset_anychange(int nargs, int last);     // ICSET_ANYCHANGE
void cset_modified(int nargs, int last);      // ICSET_MODIFIED
void cset_program_mode(int nargs, int last);  // ICSET_PROGRAM_MODE
void cget_anychange(int nargs, int last, Stack *result);       // ICGET_ANYCHANGE
void cget_modified(int nargs, int last, Stack *result);        // ICGET_MODIFIED
void cget_program_mode(int nargs, int last, Stack *result);    // ICGET_PROGRAM_MODE
void cget_current_focus(int nargs, int last, Stack *result);   // ICGET_CURRENT_FOCUS
void cget_return_focus(int nargs, int last, Stack *result);    // ICGET_RETURN_FOCUS
void cshow_all(int nargs, int last);          // ICSHOW_ALL
void chide_all(int nargs, int last);          // ICHIDE_ALL
void display_cm(int nargs, int last);         // IDISPLAY_CM
