// The intrinsics that run routines outside an event's attachment: ICCALL_FUN queues the one
// delayed call (run when the current routine run ends), ICINVOKE_FETCH runs a routine at once,
// and ICINVOKE_WIN_POST, ICINVOKE_ZOOM_POST and ICINVOKE_DRILL_POST ask for the window to close
// with a post on its parent.
#include <string>

#include "applications.h"
#include "cases.h"
#include "cattach.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "interp.h"
#include "message.h"
#include "run_time.h"
#include "symtab.h"

namespace {

using intr::arg;

unsigned long hex(const void *p) { return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)); }
const char *program_name() { return Program_name ? Program_name : ""; }

Application_t *running_application()
{
    Application_t *ap = FindApplication(Program_name);
    if (!ap) Abort("Failed to determine application, given the program name %s", program_name());
    return ap;
}

void free_call(PendingCall_t *call)
{
    if (!call) return;
    cutil_free_stk(call->params, call->strings, call->nstrings);
    g_free(call);
}

// A per-call copy of the count arguments from `first` on, released with the object.
struct Arguments {
    Arguments(int nargs, int last, int first)
        : count(nargs - first), stack(count > 0 ? cutil_cp_stk(&arg(nargs, last, first), count, &strings, &nstrings, nullptr)
                                                : nullptr)
    {
    }
    Arguments(const Arguments &) = delete;
    Arguments &operator=(const Arguments &) = delete;
    ~Arguments() { cutil_free_stk(stack, strings, nstrings); }
    int count;
    char **strings = nullptr;
    int nstrings = 0;
    Stack *stack;
};

struct SavedRname {
    const char *rname = Rname;
    ~SavedRname() { Rname = rname; }
};

void post(int nargs, int last, int ControlMatrix_t::*due, const char *intrinsic, const char *log_text, bool win)
{
    FORMS_TRACE;
    if (nargs < 1) Abort("Invalid number of parameters to %s", intrinsic);
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must set the Process Control Matrix first");
    if (!cm->prior) Abort("No parent window found");
    const std::string text = nargs == 2 ? std::string(intr::text(arg(nargs, last, 1))) : std::string();
    if (win) ccursor_set_standard(global_data->last_cm);
    if (global_data->log_level_lumbas >= 3) mlog(3, "%s", log_text);
    cm->closing = 1;
    cm->*due = 1;
    g_free(cm->post_text);
    cm->post_text = g_strndup(text.data(), text.size());
}

} // namespace

// ---- The delayed call -------------------------------------------------------------------------------------

void ccall_fun(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs < 1) Abort("Invalid number of parameters to iccall_fun");
    const int number = intr::integer(arg(nargs, last, 0));
    Routine *routine = GetRoutine(number);
    if (!routine) Abort("Routine %d not found! Program_name %s", number, program_name());
    Application_t *ap = running_application();
    auto *call = g_new0(PendingCall_t, 1);
    call->routine = routine;
    call->application = ap;
    call->interp = Minterp;
    call->nparams = nargs - 1;
    if (call->nparams > 0)
        call->params = cutil_cp_stk(&arg(nargs, last, 1), call->nparams, &call->strings, &call->nstrings, nullptr);
    // Only the last request of a run is kept.
    free_call(global_data->pending_call);
    global_data->pending_call = call;
}

void ccall_fun_delayed()
{
    GlobalData_t *gd = global_data;
    while (gd && gd->pending_call) {
        PendingCall_t *call = gd->pending_call;
        // Cleared first, so the routine may queue the next one.
        gd->pending_call = nullptr;
        const SavedRname saved;
        struct Release {
            PendingCall_t *call;
            ~Release() { free_call(call); }
        } release{call};
        invoke_basic_callback_routine(call->routine, call->params, call->nparams, call->application, call->interp);
        // Its answer is not used; a text it returned is released.
        char *answer = nullptr;
        cinvoke_read_answer(call->routine, &answer);
        g_free(answer);
    }
}

void ccall_fun_forget_gone()
{
    GlobalData_t *gd = global_data;
    if (!gd || !gd->pending_call) return;
    for (Application_t *ap = applications; ap; ap = ap->next)
        if (ap == gd->pending_call->application) return;
    free_call(gd->pending_call);
    gd->pending_call = nullptr;
}

// ---- ICINVOKE_FETCH -------------------------------------------------------------------------------------------

void cinvoke_fetch(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs < 2) Abort("Invalid number of parameters to icinvoke_fetch");
    const int number = intr::integer(arg(nargs, last, 0));
    Routine *routine = cutil_routine_by_number(number, FindApplication(Program_name));
    ControlMatrix_t *cm = cm_argument(nargs, last, 1, "Must set the Process Control Matrix first");
    Application_t *ap = running_application();
    const Arguments args(nargs, last, 1);
    const char *name = routine->R_name.c_str();
    if (global_data->log_level_lumbas > 0)
        mlog(1, "Do icinvoke_fetch; CM = %lX; Function = %s; Program = %s", hex(cm), name, program_name());
    const SavedRname saved;
    invoke_basic_callback_routine(routine, args.stack, args.count, ap, Minterp);
    char *text = nullptr;
    const int answer = cinvoke_read_answer(routine, &text);
    g_free(text);
    if (global_data->log_level_lumbas >= 0)
        mlog(0, "Return value: %d from 'basic' function %s; Program %s", answer, name, program_name());
    ccall_fun_delayed();
}

// ---- Post requests ----------------------------------------------------------------------------------------------

void cinvoke_win_post(int nargs, int last)
{
    post(nargs, last, &ControlMatrix_t::win_post_due, "icinvoke_win_post", "Request delayed running of Win_Post", true);
}

void cinvoke_zoom_post(int nargs, int last)
{
    post(nargs, last, &ControlMatrix_t::zoom_post_due, "icinvoke_zoom_post", "Request delayed running of Zoom_Post",
         false);
}

void cinvoke_drill_post(int nargs, int last)
{
    post(nargs, last, &ControlMatrix_t::drill_post_due, "icinvoke_drill_post",
         "Request delayed running of Drill_Post", false);
}
