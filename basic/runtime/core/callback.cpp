// The callback runner: a program routine run by name from a GUI event, in a nested Execute on a
// fresh value stack, inside whatever intrinsic's main loop delivered the event.
//
// The interrupted run must find everything as it left it. The runner therefore saves all of the
// executor's state that a nested run (or the end of one) can change and puts it back afterwards.
// While the routine runs, the context is cut off from the context it was started from: a routine
// ending with `exit` (which the executor treats as the end of the program) or with an untrapped
// error leaves the context, and with no previous context to fall back to, the nested run simply
// returns instead of continuing an EXECUTE parent's code inside the callback.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "applications.h"
#include "executor.h"
#include "globals.h"
#include "interp.h"
#include "loader.h"
#include "mem_mgt.h"
#include "message.h"
#include "run_time.h"
#include "startup.h"

int ib_callback_depth;

namespace {

// What a nested run may change, of the executor's globals and of the context it runs in.
struct CallerState {
    Interp_t *minterp;
    Interp_t *context;
    Interp_t *previous;
    Stack *context_stk;
    std::int32_t context_sp, context_depth, context_routine, context_gosub_ptr;
    Code *context_npc;

    Stack *stk;
    int sp, depth, cur_routine, new_routine, argcount, loaded_routines, gosub_ptr, srange;
    CallerRecord *caller;
    Application_t *current_application;
    Routine *routines;
    Code **code;
    const char *rname;
    dec_t *local_numerics;
    char *local_chars;
    char *local_structs;
    TrapVector *error_trap;
    TrapVector *trap_vectors;
    Code **gosub_stk;
    Code *npc;
    int exit_stat;
    std::string exit_string;
    char *program_name;
    int argc;
    char *argv;
    int argv_width;
    int yylinestart, yylineno, src_line_number, src_file_index;
    int last_ap_delete_ok;
};

CallerState save(Interp_t *context)
{
    CallerState s{};
    s.minterp = Minterp;
    s.context = context;
    s.previous = context->previous;
    s.context_stk = context->Stk;
    s.context_sp = context->sp;
    s.context_depth = context->depth;
    s.context_routine = context->cur_routine;
    s.context_gosub_ptr = context->gosub_ptr;
    s.context_npc = context->npc;
    s.stk = Stk;
    s.sp = sp;
    s.depth = depth;
    s.cur_routine = cur_routine;
    s.new_routine = new_routine;
    s.argcount = argcount;
    s.loaded_routines = loaded_routines;
    s.gosub_ptr = gosub_ptr;
    s.srange = srange;
    s.caller = caller;
    s.current_application = current_application;
    s.routines = routines;
    s.code = code;
    s.rname = Rname;
    s.local_numerics = local_numerics;
    s.local_chars = local_chars;
    s.local_structs = local_structs;
    s.error_trap = ERROR_TRAP;
    s.trap_vectors = TRAP_VECTORS;
    s.gosub_stk = gosub_stk;
    s.npc = npc;
    s.exit_stat = EXIT_STAT;
    s.exit_string = EXIT_STRING;
    s.program_name = Program_name;
    s.argc = ARGC;
    s.argv = ARGV;
    s.argv_width = ARGV_width;
    s.yylinestart = yylinestart;
    s.yylineno = yylineno;
    s.src_line_number = src_line_number;
    s.src_file_index = src_file_index;
    s.last_ap_delete_ok = last_ap_delete_ok;
    return s;
}

void restore(const CallerState &s)
{
    Interp_t *c = s.context;
    c->previous = s.previous;
    c->Stk = s.context_stk;
    c->sp = s.context_sp;
    c->depth = s.context_depth;
    c->cur_routine = s.context_routine;
    c->gosub_ptr = s.context_gosub_ptr;
    c->npc = s.context_npc;
    Minterp = s.minterp;
    Stk = s.stk;
    sp = s.sp;
    depth = s.depth;
    cur_routine = s.cur_routine;
    new_routine = s.new_routine;
    argcount = s.argcount;
    loaded_routines = s.loaded_routines;
    gosub_ptr = s.gosub_ptr;
    srange = s.srange;
    caller = s.caller;
    current_application = s.current_application;
    routines = s.routines;
    code = s.code;
    Rname = s.rname;
    local_numerics = s.local_numerics;
    local_chars = s.local_chars;
    local_structs = s.local_structs;
    ERROR_TRAP = s.error_trap;
    TRAP_VECTORS = s.trap_vectors;
    gosub_stk = s.gosub_stk;
    npc = s.npc;
    EXIT_STAT = s.exit_stat;
    std::snprintf(EXIT_STRING, sizeof EXIT_STRING, "%s", s.exit_string.c_str());
    Program_name = s.program_name;
    ARGC = s.argc;
    ARGV = s.argv;
    ARGV_width = s.argv_width;
    yylinestart = s.yylinestart;
    yylineno = s.yylineno;
    src_line_number = s.src_line_number;
    src_file_index = s.src_file_index;
    last_ap_delete_ok = s.last_ap_delete_ok;
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

// Puts the interrupted run back together however the nested run ends (a fatal stop included,
// where the test hosts throw).
class Restorer {
public:
    explicit Restorer(const CallerState &state) : state_(state) { ++ib_callback_depth; }
    ~Restorer()
    {
        if (fresh_) release_fresh_stack(fresh_, Stk == fresh_ ? sp : -1);
        restore(state_);
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

void invoke_basic_callback_routine(const char *name, Stack *args, int nargs, Application_t *ap, Interp_t *context)
{
    PROGRAM_ASSERT(ap != NULL);
    PROGRAM_ASSERT(context != NULL);
    PROGRAM_ASSERT(nargs >= 0 && nargs < STACKSIZE - 1);
    PROGRAM_ASSERT(nargs == 0 || args != NULL);
    if (!name) name = "";

    const CallerState saved = save(context);
    Restorer restorer(saved);

    // The context becomes current; its own records serve the routine. Another context than the
    // current one continues from its own saved depth and gosub state.
    Minterp = context;
    caller = context->caller;
    TRAP_VECTORS = context->TRAP_VECTORS;
    if (context != saved.minterp) {
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
    m.params[0] = static_cast<Address>(static_cast<std::int64_t>(saved.sp));
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
