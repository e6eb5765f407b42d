// Running the program routine attached to a form event: the CM's action-code stack and its stack
// of running invocations, the routine's IP and IP$ parameters (set from the field or from a value
// the caller gives, and put back for the run around a nested one), the nested run of the executor
// and the reading of its answer, the focus, Enabled and closing bookkeeping around it, the one
// delayed call (ICCALL_FUN), the immediate call (ICINVOKE_FETCH) and the post requests; also the
// field hooks the event handlers call around a routine: validation, pre- and post-display; and the
// close requests refused while a routine runs.
#pragma once

#include <vector>

#include "forms.h"

struct Routine;
struct Stack;

// ---- The run ---------------------------------------------------------------------------------------
// Runs the routine attached to (*index, code) of cm (the field's own, else the window's) and
// returns its answer (0 false, else true). IP and IP$ come from the field when variable is "IP$"
// and text is empty; otherwise the parameter called variable gets text (or value when text is
// empty), and IP$ an empty text when variable is empty. Outs: *out_cm the CM to go on with;
// *index the field focused when the routine asked for a focus move; *result_text a new g_malloc
// text the caller frees (the routine's string answer, else its IP$); *closing the CM's closing
// flag as the run left it (0 after a false answer); *closed (may be nullptr) 1 when close
// processing closed the window. Without a routine: with must_exist the run ends, else the answer
// is true with an empty text. With close_processing a true answer of a closing window runs its
// closing (cdeletewin). A run nested in another on the same CM leaves the outer run's focus,
// closing and post requests standing.
int cinvoke_basic_routine(ControlMatrix_t *cm, ControlMatrix_t **out_cm, int code, int *index, int *closed,
                          GlobalData_t *gd, const char *variable, const char *text, int value, int must_exist,
                          char **result_text, int *closing, int close_processing);

// The answer of routine, just run: 1 with *text a new g_malloc text for a string result, else
// the number as an integer with *text nullptr. A text the run handed over is released. A routine
// that ended the program (end or stop) instead of returning left no value and answers 1, as an
// event without a routine does.
int cinvoke_read_answer(const Routine *routine, char **text);

// ---- The CM's stacks ---------------------------------------------------------------------------------
// Pushes code on the action-code stack (a 17th ends the run), pops the last one, and reads the
// current one (0 when none runs).
void cinvoke_record_ac(ControlMatrix_t *cm, int code);
void cinvoke_pop_ac(ControlMatrix_t *cm);
int cinvoke_get_ac(const ControlMatrix_t *cm);
// Pushes a new innermost invocation; pops one, only when it is the innermost.
Invocation_t *cinvoke_add_func(ControlMatrix_t *cm, const char *routine_name, int code);
void cinvoke_remove_func(ControlMatrix_t *cm, Invocation_t *invocation);
// Pre_Focus entering the AnyChange field (Tab Sequence Type 7) turns AnyChange on.
void cinvoke_set_anychange(ControlMatrix_t *cm, int code, int index);

// ---- A routine's parameters for one run --------------------------------------------------------------
// A per-call copy of an attached record's arguments (cutil_cp_scm) with the names of the variables
// they refer to; released with the object.
struct RoutineParams {
    explicit RoutineParams(const SubControlMatrix_t *scm);
    RoutineParams(const RoutineParams &) = delete;
    RoutineParams &operator=(const RoutineParams &) = delete;
    ~RoutineParams();
    Stack *stack = nullptr;
    int count = 0;
    char **strings = nullptr;  // the copy's own texts
    int nstrings = 0;
    const char **names = nullptr;  // the record's, per argument; nullptr for a value

private:
    static constexpr int FEW = 8;  // most routines have no more parameters than this
    const char *few_names_[FEW];
    std::vector<const char *> many_names_;
};
// Store into the first parameter called name (numbers from parameter 2 on, texts from 3 on):
// an integer, a decimal text or a text cut and blank-padded to the variable's declared length.
// What is stored into "IP" or "IP$" is remembered in invocation (may be nullptr). A routine with
// fewer than two parameters ends the run; no parameter of that name stores nothing.
void cinvoke_set_int(Invocation_t *invocation, RoutineParams &params, const char *name, int value);
void cinvoke_set_dbl(Invocation_t *invocation, RoutineParams &params, const char *name, const char *decimal);
void cinvoke_set_str(Invocation_t *invocation, RoutineParams &params, const char *name, const char *text);
// A new g_malloc copy of the text of the string parameter called name (from parameter 3 on), or
// an empty text.
char *cinvoke_get_str(const RoutineParams &params, const char *name);
// The index variable (parameter 2).
void cinvoke_set_index(RoutineParams &params, int index);
int cinvoke_get_index(const RoutineParams &params);
// Re-stores every string variable among the parameters blank-padded to its declared length.
void cinvoke_fix_string(RoutineParams &params);

// ---- Field values ------------------------------------------------------------------------------------
// The value of field index (0: the window) for IP$ as a new g_malloc text, or nullptr; *ip_int,
// *ip_decimal and *ip_given begin as -1, "0.0" and 0 and the field's kind may set them
// (*ip_decimal is a g_malloc text that is replaced, never freed by the caller's old pointer).
char *gkey_press_get_ip1(ControlMatrix_t *cm, int index, int *ip_int, char **ip_decimal, int *ip_given);
// The same by Widget Type for a field's entry element.
char *gkey_press_get_ip(ControlMatrix_t *cm, int index, void *entry, int type, int *ip_int, char **ip_decimal,
                        int *ip_given);
// Frees old (may be nullptr) and returns a new g_malloc copy of text.
char *gkey_press_copy_dbl(char *old, const char *text);

// ---- Field hooks around a routine --------------------------------------------------------------------
// 1 when the field's text may be accepted on Enter or Tab, 0 when refused (the field has shown
// why); with check_empty an empty key or required field is refused first.
int cinvoke_val_enter(ControlMatrix_t *cm, int index, GlobalData_t *gd, int check_empty);
// 1 when field index is a key or required input, date or text field holding only blanks (a date
// also '/'): "Field must not be empty" has been shown. Else 0.
int cinvoke_is_empty(ControlMatrix_t *cm, int index);
// Editing of the focused field begins (the field kind's pre-display, then its soft keys), and
// ends on field index (0: the focused one).
void cinvoke_pre_display(ControlMatrix_t *cm);
void cinvoke_post_display(ControlMatrix_t *cm, int index);
// Puts field index into its shown form without touching its handlers (input and date fields).
void cinvoke_post_display_init(ControlMatrix_t *cm, int index);
// The interpreter a follow-on routine is shown in: nothing to do in this system.
void cinvoke_display_context(Interp_t *interp);

// ---- Close requests while a routine runs -------------------------------------------------------------
// A close request of cm's window (its title bar's button): refused and recorded when a routine runs
// on cm or on a newer CM, since destroying the window would free the CM under that routine.
// Answers true when the request was so deferred.
bool ccallbacks_defer_close(ControlMatrix_t *cm);
// Once no routine runs on a CM with a deferred close request (nor on a newer one) and no event
// is at work, the request is made again from the main loop, so that the window's own close road
// runs. Called when the outermost routine run on a CM and when an event ends.
void ccallbacks_schedule_deferred_closes();

// ---- The closing road ------------------------------------------------------------------------------
// What a run with close processing takes after a true answer: the closing of the window
// (cdeletewin, cnext.h), which runs routines and moves the focus itself and so comes back here.
// The forms engine's registration installs it; without it such a run stops ("Closing windows not
// available"). Returns what it replaces.
using CloseRoad = ControlMatrix_t *(*)(ControlMatrix_t *cm, GlobalData_t *gd);
CloseRoad register_close_road(CloseRoad road);

// ---- The delayed call ----------------------------------------------------------------------------------
// Runs the pending ICCALL_FUN call, and any it queues in turn.
void ccall_fun_delayed();
// Drops a pending call whose application has gone.
void ccall_fun_forget_gone();

// ---- Intrinsics ------------------------------------------------------------------------------------------
void ccall_fun(int nargs, int last);           // ICCALL_FUN
void cinvoke_fetch(int nargs, int last);       // ICINVOKE_FETCH
void cinvoke_win_post(int nargs, int last);    // ICINVOKE_WIN_POST
void cinvoke_zoom_post(int nargs, int last);   // ICINVOKE_ZOOM_POST
void cinvoke_drill_post(int nargs, int last);  // ICINVOKE_DRILL_POST
