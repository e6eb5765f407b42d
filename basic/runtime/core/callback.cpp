// The callback runner: a program routine run by name from a GUI event, in a nested Execute on a
// fresh value stack, inside whatever intrinsic's main loop delivered the event.
//
// The interrupted run must find everything as it left it. The runner therefore saves all of the
// executor's state that a nested run (or the end of one) can change and puts it back afterwards.
// While the routine runs, the context is cut off from the context it was started from: a routine
// ending with `exit` (which the executor treats as the end of the program) or with an untrapped
// error leaves the context, and with no previous context to fall back to, the nested run simply
// returns instead of continuing an EXECUTE parent's code inside the callback. Nor may the
// routine's program be unloaded while it runs (a window of it destroyed meanwhile would do so),
// nor the programs of the interrupted run, which the runner keeps in sight for that.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "applications.h"
#include "context_globals.h"
#include "executor.h"
#include "globals.h"
#include "interp.h"
#include "mem_mgt.h"
#include "message.h"
#include "run_time.h"
#include "startup.h"

int ib_callback_depth;

namespace {

namespace cg = context_globals;

// What a nested run may change, of the executor's globals and of the context it runs in.
struct CallerState {
    cg::Copies<cg::callback> globals;
    Interp_t *context;
    cg::MemberCopies<cg::callback_context> members;  // of context
    Interp_t *previous;  // context's previous, from which the run cuts it off

    Interp_t *minterp() const { return globals.of<cg::Minterp_row>(); }
    int sp() const { return globals.of<cg::sp_row>(); }
};

CallerState save(Interp_t *context)
{
    return {cg::Copies<cg::callback>::take(), context, cg::MemberCopies<cg::callback_context>::take(context),
            context->previous};
}

void restore(const CallerState &s)
{
    s.context->previous = s.previous;
    s.members.put_back(s.context);
    s.globals.put_back();
}

// Frees what the run left on its stack, except the text the function value hands to the caller.
void release_fresh_stack(Stack *fresh, int top)
{
    const char *result = fn_value.s_t == string ? fn_value.s_c.C_S : nullptr;
    for (int i = std::min(top, STACKSIZE - 1); i >= 0; --i) {
        Stack &e = fresh[i];
        if (e.s_t == string && !(e.flags & stk_ref) && e.s_c.C_S && e.s_c.C_S != result) release_entry(e);
    }
    sfree(fresh);
}

bool loaded(const Application_t *ap)
{
    for (const Application_t *a = applications; a; a = a->next)
        if (a == ap) return true;
    return false;
}

Application_t *owner_of(const Interp_t *context)
{
    for (Application_t *ap = applications; ap; ap = ap->next)
        if (ap->app && ap->app->interp == context) return ap;
    return nullptr;
}

// Keeps the application of the routine, and the one whose context the run uses, loaded until the
// run ends: the routine may close a window of its own program (a child whose closing runs this
// routine on its parent) and then open one, which destroys the closed window, and that would
// unload the program under the running routine. Unloading leaves an application in use alone.
class KeptLoaded {
public:
    KeptLoaded(Application_t *routine, const Interp_t *context) : routine_(routine), context_(owner_of(context))
    {
        if (context_ == routine_) context_ = nullptr;
        for (Application_t *ap : {routine_, context_})
            if (ap) ++ap->running;
    }
    ~KeptLoaded()
    {
        for (Application_t *ap : {routine_, context_})
            if (ap && loaded(ap) && ap->running > 0) --ap->running;
    }
    KeptLoaded(const KeptLoaded &) = delete;
    KeptLoaded &operator=(const KeptLoaded &) = delete;

private:
    Application_t *routine_;
    Application_t *context_;
};

// The runs that callbacks interrupted, innermost last: their contexts still run.
std::vector<const CallerState *> interrupted;

bool runs_in_chain(const Interp_t *c, const Application_t *ap)
{
    for (; c; c = c->previous)
        if (c->current_application == ap) return true;
    return false;
}

// Puts the interrupted run back together however the nested run ends (a fatal stop included,
// where the test hosts throw).
class Restorer {
public:
    explicit Restorer(const CallerState &state) : state_(state)
    {
        interrupted.push_back(&state_);
        ++ib_callback_depth;
    }
    ~Restorer()
    {
        if (fresh_) release_fresh_stack(fresh_, Stk == fresh_ ? sp : -1);
        restore(state_);
        interrupted.pop_back();
        --ib_callback_depth;
    }
    Restorer(const Restorer &) = delete;
    Restorer &operator=(const Restorer &) = delete;
    void own(Stack *fresh) { fresh_ = fresh; }

private:
    const CallerState &state_;
    Stack *fresh_ = nullptr;
};

} // namespace

bool ProgramRunning(const Application_t *ap)
{
    if (runs_in_chain(Minterp, ap)) return true;
    for (const CallerState *s : interrupted)
        if (runs_in_chain(s->minterp(), ap) || runs_in_chain(s->previous, ap)) return true;
    return false;
}

void invoke_basic_callback_routine(const char *name, Stack *args, int nargs, Application_t *ap, Interp_t *context)
{
    PROGRAM_ASSERT(ap != NULL);
    PROGRAM_ASSERT(context != NULL);
    PROGRAM_ASSERT(nargs >= 0 && nargs < STACKSIZE - 1);
    PROGRAM_ASSERT(nargs == 0 || args != NULL);
    if (!name) name = "";

    const KeptLoaded kept(ap, context);  // outlives the restorer, which writes into the context
    const CallerState saved = save(context);
    Restorer restorer(saved);

    // The context becomes current; its own records serve the routine. Another context than the
    // current one continues from its own saved depth and gosub state.
    Minterp = context;
    caller = context->caller;
    TRAP_VECTORS = context->TRAP_VECTORS;
    if (context != saved.minterp()) {
        depth = context->depth;
        gosub_stk = context->gosub_stk;
        gosub_ptr = context->gosub_ptr;
        yylinestart = static_cast<int>(context->line_start);
    }
    context->previous = nullptr;
    set_application_context(ap);

    int number = -1;
    Routine *r = FindAppRoutine(ap, name, &number);
    if (!r || !ap->app->entries[number]) Xerror(202, "callback %s not found", name);
    cur_routine = new_routine = number;
    Rname = r->R_name.c_str();
    local_numerics = r->local_numerics;
    local_chars = r->local_chars;
    local_structs = r->local_structs;
    ERROR_TRAP = &TRAP_VECTORS[number];

    // The arguments are the caller's: copies on the fresh stack refer to their texts and
    // decimals and never free them.
    auto *fresh = Calloc(STACKSIZE, Stack);
    restorer.own(fresh);
    for (int i = 0; i < nargs; ++i) {
        Stack &e = fresh[i];
        const Stack &a = args[i];
        e.s_t = a.s_t;
        e.s_c = a.s_c;
        e.flags = a.flags;
        if (a.s_t == string || a.s_t == string_array) e.flags |= stk_ref;
        e.s_dims[0] = a.s_dims[0];
        e.s_dims[1] = a.s_dims[1];
        e.length = a.length;
        e.params[0] = a.params[0];
        e.params[1] = a.params[1];
    }
    // The call marker: return position 0 ends the nested run. It names the routine itself as the
    // one to return to, which exists in this application and is no longer running by then.
    Stack &m = fresh[nargs];
    m.s_t = marker;
    m.s_c.C_L = nullptr;
    m.length = static_cast<std::uint32_t>(nargs);
    m.params[0] = static_cast<Address>(static_cast<std::int64_t>(saved.sp()));
    m.params[1] = static_cast<Address>(number);
    context->Stk = fresh;
    Stk = fresh;
    sp = nargs;
    argcount = nargs;

    Execute(ap->app->entries[number]);
}

void invoke_basic_callback_routine(const Routine *routine, Stack *args, int nargs, Application_t *ap,
                                   Interp_t *context)
{
    invoke_basic_callback_routine(routine ? routine->R_name.c_str() : nullptr, args, nargs, ap, context);
}
