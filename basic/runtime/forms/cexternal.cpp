// The forms engine's side of external programs (IEXTERNAL_PROGRAM_START, intrinsics library):
// the process control matrix a START names, the follow-on record it attaches there, the CM's job
// and the flag that makes Enter wait while a command runs, and the follow-on routine run with the
// command's output when the command has ended.
#include "cexternal.h"

#include "cattach.h"
#include "cevents.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "external_program.h"

namespace {

ExternalRoutineCall routine_call = cinvoke_basic_routine;

ControlMatrix_t *process_cm(const Stack *entry) { return cutil_get_cm(global_data, entry); }

// A CM whose window was closed while its command ran waits on the deferred list (cmatrix.h).
bool waits_deferred(const ControlMatrix_t *cm)
{
    for (const ControlMatrix_t *d = global_data->deferred_cms; d; d = d->deferred_next)
        if (d == cm) return true;
    return false;
}

void attach(ExternalJob_t *job, const Stack *args, int count)
{
    ControlMatrix_t *cm = job->cm;
    if (SubControlMatrix_t *old = cmat_get_fn_ptr(cm, 0, AC_EXTERNAL_END)) cremove_scm(cm, old);
    cutil_cp_stack(cm, args, count, 0, AC_EXTERNAL_END, job->routine, job->application, 0);
    cm->external_job = job;
    global_data->external_running = 1;
}

// The CM keeps the newest job still running for it (a deferred CM keeps none: it is off the
// chain already), and Enter waits while any command runs.
void detach(ExternalJob_t *job)
{
    ControlMatrix_t *cm = job->cm;
    if (!waits_deferred(cm)) cm->external_job = external_program_running_on(cm);
    global_data->external_running = external_programs_running() ? 1 : 0;
}

// A CM whose window has gone runs the routine off the chain, its field widgets untouched (they
// went with the window), and is freed afterwards unless another command still runs for it.
void follow_on(ExternalJob_t *job, const std::string &output)
{
    ControlMatrix_t *cm = job->cm;
    const bool closed = waits_deferred(cm);
    if (!closed) cinvoke_post_display(cm, 0);
    ControlMatrix_t *out = cm;
    int index = 0, closing = 0;
    char *text = nullptr;
    routine_call(cm, &out, AC_EXTERNAL_END, &index, nullptr, global_data, "IP$", output.c_str(), 0, 1,
                          &text, &closing, 0);
    g_free(text);
    if (closed && !external_program_running_on(cm)) cmat_free_deferred(cm);
    ccallbacks_finish_event(1, 1);
}

} // namespace

ExternalRoutineCall register_external_routine_call(ExternalRoutineCall call)
{
    const ExternalRoutineCall previous = routine_call;
    routine_call = call;
    return previous;
}

void register_external_program_forms()
{
    register_external_program_hooks({process_cm, attach, detach, follow_on});
}
