// The executor's general path: any op of the current context, one at a time (general_op), with the
// executor's state in its globals; routine entries, calls and exits, the intrinsic and I/O
// dispatch, the traps and Execute. The common ops run on each routine's decoded steps instead
// (decoded.cpp), which fall back on general_op for anything else; the loads and stores of
// variables both paths use are in variables.cpp. Routine calls, gosubs and jumps only move the
// position; EXECUTE, CHAIN and the end of a program switch contexts (contexts.cpp) and the run goes
// on at npc.
//
// A trappable error (Xerror 110, Syserr) throws BailOut; the Execute run that owns the active
// trap catches it, cuts the value stack back and continues at the trap's handler.
//
// Operands come from a loaded program: everything that indexes memory (stack entries, areas,
// label tables, routine numbers) is checked here before use.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "applications.h"
#include "common_block.h"
#include "contexts.h"
#include "decoded.h"
#include "exec_util.h"
#include "executor.h"
#include "globals.h"
#include "hooks.h"
#include "intrinsics.h"
#include "mem_mgt.h"
#include "run_time.h"
#include "signals.h"
#include "structops.h"
#include "trace_ring.h"

Code *npc;
Stack fn_value;
int new_routine = -1;
int argcount;
Code **code;
dec_t *local_numerics;
char *local_chars;
char *local_structs;
int depth;
CallerRecord *caller;
TrapVector *ERROR_TRAP;
TrapVector *TRAP_VECTORS;
TrapVector IO_TRAP;
const TrapVector NULL_TRAP{};
TrapVector *SAVE_TRAP;
int PF8KEY;
Code **gosub_stk;
int gosub_ptr;
bool executor_general_path_only;
bool executor_switch_steps;

namespace exec {
namespace {

void select_routine(int number)
{
    cur_routine = number;
    Routine &r = routines[number];
    local_numerics = r.local_numerics;
    local_chars = r.local_chars;
    local_structs = r.local_structs;
    ERROR_TRAP = &TRAP_VECTORS[number];
}

void check_routine_number(int number)
{
    if (number < 0 || number > loaded_routines || number >= MAX_ROUTINES)
        Abort("Illegal routine number %d", number);
}

// The position right after n label words at pc; the table must lie inside the program's code.
Code *after_table(Code *pc, int n)
{
    Code *end = Minterp ? Minterp->code_base + Minterp->code_size : nullptr;
    if (n < 0 || !end || pc > end || n > end - pc) Abort("Label table outside the program code");
    return pc + n;
}

// ---- Routines -------------------------------------------------------------------------------

const char *trace_file_name()
{
    // The last lookup is kept until the index, the application or the loaded programs change.
    static const Application_t *app;
    static int index, generation = -1;
    static const char *name;
    if (current_application != app || src_file_index != index || basic_trace_generation != generation) {
        app = current_application;
        index = src_file_index;
        generation = basic_trace_generation;
        name = (!app || !app->app) ? "Unk" : FindLoadedFileExIndex(index, &current_application->app->loaded_files);
    }
    return name;
}

void routine_entry(Run &run, unsigned op, Code *&pc)
{
    const int number = operand(pc);
    static_assert(WORDS<o__nfunc> == 7 && WORDS<o__proc> == 7 && WORDS<o__sfunc> == 7);
    const int declared = operand(pc + 6);
    pc += WORDS<o__proc>;
    if (op == o__nfunc) run.result_kind = 0;
    if (op == o__sfunc) run.result_kind = 1;
    check_routine_number(number);
    cur_routine = number;
    Routine &r = routines[number];
    const char *name = r.R_name.c_str();
    basic_trace_enter(name, trace_file_name(), src_line_number);

    if (r.executing) Xerror(309, "Routine %s is being recursively called!", name);
    r.executing = 1;
    if (new_routine < 0) Xerror(7777, "Illegal entry to routine %s", name);
    if (new_routine != cur_routine) Xerror(7777, "Internal routine call error");
    new_routine = -1;
    Rname = name;
    if (declared != argcount) Xerror(200, "Routine %s called with wrong number of arguments", Rname);
    if (depth > MAX_NESTING - 1) Xerror(201, "Nesting of routines too deep at routine %s", Rname);
    caller[depth].name = Rname;
    ++depth;

    select_routine(number);
    run.frame = sp - declared;
    *ERROR_TRAP = NULL_TRAP;
    if (declared > 0) {
        if (run.frame < 0) stack_underflow();
        ArgumentSymbolMemory(&r, &Stk[run.frame], declared);
    }
}

void routine_call(Run &run, Code *&pc)
{
    const int number = operand(pc);
    const int count = operand(pc + 1);
    static_assert(WORDS<o_fcallr> == 2 && WORDS<o_fcalls> == 2 && WORDS<o_pcall> == 2);
    pc += WORDS<o_pcall>;
    check_routine_number(number);
    need(count);
    if (!code[number]) Abort("Routine %s is not loaded", routines[number].R_name.c_str());
    new_routine = number;
    argcount = count;
    Stack &m = push();
    m = Stack{};
    m.s_t = marker;
    m.s_c.C_L = pc;
    m.length = static_cast<std::uint32_t>(count);
    m.params[0] = static_cast<Address>(static_cast<std::int64_t>(run.frame));
    m.params[1] = static_cast<Address>(cur_routine);
    if (depth >= 1) caller[depth - 1].position = static_cast<std::uint16_t>(yylineno & 0xFFFF);
    npc = code[number];
}

// After unwinding to the caller: depth, name, areas and trap of the restored routine.
void returned_to(int routine)
{
    --depth;
    check_routine_number(routine);
    select_routine(routine);
    // The main routine has no caller record below it.
    Rname = depth >= 1 ? caller[depth - 1].name : routines[routine].R_name.c_str();
}

// end and stop. Returns true when the executor is to return.
bool program_end(Run &run, Code *&pc)
{
    if (depth < 1) Xerror(7777, "Routine stack underflow");
    --depth;
    if (routines && routines[cur_routine].executing)
        Email(TRANSACTION_LOG_ADDRESS, "Routine %s has had no exit before end/stop!",
              routines[cur_routine].R_name.c_str());
    if (Back_ground) CanDeleteLastApplication();
    Interp_t *left = Minterp;
    pop_interpreter();
    if (Minterp && depth >= 0 && depth < MAX_CALLERS) run.frame = caller[depth].frame;
    if (!npc) return true;
    release_ended_child(left);
    pc = npc;
    npc = nullptr;
    push_int(0);
    return false;
}

// exit and exitv. Returns true when the executor is to return.
bool routine_exit(Run &run, Code *&pc, bool with_value)
{
    if (with_value) {
        need(1);
        Stack &top = Stk[sp];
        if (top.s_t == marker) stack_underflow();  // no result above the call
        fn_value = top;
        if (top.s_t == real || top.s_t == real_array) {
            if (!top.s_c.C_N) not_numeric(top);
            fn_value.num = *top.s_c.C_N;
            fn_value.s_t = real;
            fn_value.s_c.C_N = &fn_value.num;
            fn_value.flags = 0;
            fn_value.s_dims[0] = fn_value.s_dims[1] = 0;
        }
        --sp;  // the result now belongs to fn_value
    } else if (run.result_kind == 0) {
        fn_value = Stack{};
        fn_value.s_t = real;
        fn_value.num = ZERO_DEC;
        fn_value.s_c.C_N = &fn_value.num;
    } else {
        fn_value = Stack{};
        fn_value.s_t = string;
    }
    routines[cur_routine].executing = 0;
    int routine = cur_routine;
    unwind_stack(&pc, &run.frame, &routine);
    if (with_value) push_result(fn_value.s_t == real);
    returned_to(routine);
    if (!pc && !with_value) {
        depth = 1;
        return program_end(run, pc);
    }
    return false;
}


// ---- Intrinsics and I/O ---------------------------------------------------------------------

const char *intrinsic_name(int number)
{
    if (number < 0 || number >= IN_ROWS) Abort("Bad intrinsic code - %d", number);
    return inbuilt[number].F_name;
}

} // namespace

// The call of intrinsic number with the nargs entries at the top of the stack as its arguments,
// through its dispatcher (anything but EXECUTE and CHAIN): the arguments replaced by the result of
// a function.
void dispatch_intrinsic(Run &run, unsigned op, int number, int nargs)
{
    if (op == o_ifcalls && depth >= 1) caller[depth - 1].position = static_cast<std::uint16_t>(yylineno & 0xFFFF);
    Rname = intrinsic_name(number);
    run.intrinsic_depth = depth;
    ++depth;
    const IntrinsicCalls &calls = intrinsic_calls();
    if (op == o_ifcallr)
        calls.numeric(&fn_value, number, nargs, sp);
    else if (op == o_ifcalls)
        calls.string(&fn_value, number, nargs, sp);
    else
        calls.statement(number, nargs, sp);
    --depth;
    run.intrinsic_depth = -1;
    restore_caller_name();
    POPSTK(nargs);
    if (op == o_ifcallr) push_result(true);
    if (op == o_ifcalls) push_result(false);
}

namespace {

void call_intrinsic(Run &run, unsigned op, Code *&pc)
{
    const int number = operand(pc);
    const int nargs = operand(pc + 1);
    static_assert(WORDS<o_ifcallr> == 2 && WORDS<o_ifcalls> == 2 && WORDS<o_ipcall> == 2);
    pc += WORDS<o_ipcall>;
    need(nargs);
    if (op == o_ifcallr && number == in_EXECUTE) {
        Interp_t *child = new_interpreter(nargs, sp);
        if (depth >= 0 && depth < MAX_CALLERS) caller[depth].frame = run.frame;
        push_interpreter(child, pc, "execute");
        return;
    }
    if (op == o_ipcall && number == in_CHAIN) {
        Chain(nargs, sp);
        return;
    }
    dispatch_intrinsic(run, op, number, nargs);
}

void io_statement(Code *&pc)
{
    const int io_code = operand(pc);
    const int nargs = operand(pc + 1);
    static_assert(WORDS<o_callio> == 2);
    pc += WORDS<o_callio>;
    need(nargs);
    // The I/O trap's handler is the ERL label (Io_error puts the EOF label there for an end of
    // file); its level is below the statement's values, so a trapped error leaves none behind.
    const IntrinsicCalls &calls = intrinsic_calls();
    const bool trap = calls.io_traps_set();
    if (trap) {
        IO_TRAP = {sp - nargs, calls.io_trap_label()};
        SAVE_TRAP = ERROR_TRAP;
        ERROR_TRAP = &IO_TRAP;
    }
    calls.io_statement(io_code, nargs, sp, &running_routine());
    POPSTK(nargs);
    if (trap) ERROR_TRAP = SAVE_TRAP;
    SAVE_TRAP = nullptr;
    calls.io_reset();
    IO_TRAP = NULL_TRAP;
}

// A label operand selected by the top entry (jumpl, gosubl): the label, or nullptr.
Code *selected_label(Code *&pc)
{
    static_assert(WORDS<o_jumpl> == 1 && WORDS<o_gosubl> == 1);
    const int n = operand(pc);
    Code *table = pc + WORDS<o_jumpl>;
    Code *after = after_table(table, n);
    need(1);
    const int k = integer_of(Stk[sp]);
    pc = after;
    return (k >= 1 && k <= n) ? table[k - 1].c_ptr : nullptr;
}

// ---- The general path -----------------------------------------------------------------------

[[noreturn]] void bad_op(unsigned op) { Abort("execute op = %d\n", static_cast<int>(op)); }

void arithmetic(unsigned op)
{
    need(2);
    maths(op, sp, sp - 1, &fn_value);
    if (Stk[sp].s_t == real && Stk[sp - 1].s_t == real)
        sp -= 2;  // numbers own nothing
    else
        POPSTK(2);
    push_result(true);
}

// neg and not: the number at the top replaced by its negation or its logical not.
void unary(unsigned op)
{
    need(1);
    Stack &e = Stk[sp];
    if (op == o_neg) {
        const dec_t v = *numeric_of(e);
        NumericSub(&ZERO_DEC, &v, &e.num);
        if (e.num.dec_ndgts == 0) e.num.dec_pos = 1;
    } else {
        const bool zero = NumericCmp(numeric_of(e), &ZERO_DEC) == 0;
        NumericCvINT(zero ? 1 : 0, &e.num);
    }
    e.s_c.C_N = &e.num;
    e.s_t = real;
    e.flags = 0;
    e.s_dims[0] = e.s_dims[1] = 0;
}

} // namespace

void publish_exit()
{
    if (Minterp) {
        EXIT_STAT = Minterp->EXIT_STAT;
        std::memcpy(EXIT_STRING, Minterp->EXIT_STRING, sizeof EXIT_STRING);
    }
}

// One op by the general path, with the executor's state in its globals (sp, npc, yylineno set to
// the op). True when the run is over, its exit published.
bool general_op(Run &run, unsigned op, Code *&pc)
{
    switch (op) {
    case o__common: {
        const std::int64_t n = operand(pc), m = operand(pc + 1);
        pc += WORDS<o__common>;
        common_declare(n, m);
        break;
    }
    case o__label: {
        Stack &e = push();
        e = Stack{};
        e.s_t = label;
        e.s_c.C_L = pc->c_ptr;
        pc += WORDS<o__label>;
        break;
    }
    case o__nfunc:
    case o__proc:
    case o__sfunc:
        routine_entry(run, op, pc);
        break;
    case o_add: case o_and: case o_eq: case o_ge: case o_gt: case o_le: case o_lt: case o_mul: case o_ne:
    case o_or: case o_sub: case o_div: case o_mod:
        arithmetic(op);
        break;
    case o_callio:
        io_statement(pc);
        break;
    case o_cmpidx: {
        Code *exit_label = pc->c_ptr;
        pc += WORDS<o_cmpidx>;
        need(3);
        const int c = NumericCmp(numeric_of(Stk[sp - 1]), numeric_of(Stk[sp - 2]));
        const bool negative_step = numeric_of(Stk[sp])->dec_pos == 0;
        if (negative_step ? c == 1 : c == -1) npc = exit_label;
        sp -= 3;  // all three are numbers (numeric_of stops otherwise), which own nothing
        break;
    }
    case o_end:
    case o_stop:
        run.pc = pc;
        if (program_end(run, pc)) {
            publish_exit();
            TRACE_OUT;
            return true;
        }
        break;
    case o_exit:
    case o_exitv:
        if (routine_exit(run, pc, op == o_exitv)) {
            publish_exit();
            TRACE_OUT;
            return true;
        }
        break;
    case o_fcallr:
    case o_fcalls:
    case o_pcall:
        routine_call(run, pc);
        break;
    case o_gosub:
        push_gosub(pc + WORDS<o_gosub>, gosub_stk, &gosub_ptr);
        npc = pc->c_ptr;
        pc += WORDS<o_gosub>;
        break;
    case o_gosubl: {
        Code *target = selected_label(pc);
        // Only a taken branch has a return to come back to.
        if (target) {
            push_gosub(pc, gosub_stk, &gosub_ptr);
            npc = target;
        }
        POPSTK(1);
        break;
    }
    case o_ifcallr:
    case o_ifcalls:
    case o_ipcall:
        call_intrinsic(run, op, pc);
        break;
    case o_ifref: {
        const int number = operand(pc);
        pc += WORDS<o_ifref>;
        push_int(number);
        break;
    }
    case o_ioc: {
        const int io_code = operand(pc);
        pc += WORDS<o_ioc>;
        need(1);
        intrinsic_calls().io_parameter(io_code, sp);
        POPSTK(1);
        break;
    }
    case o_jump:
        npc = pc->c_ptr;
        pc += WORDS<o_jump>;
        break;
    case o_jumpl: {
        Code *target = selected_label(pc);
        if (target) npc = target;
        POPSTK(1);
        break;
    }
    case o_jumpz: {
        Code *target = pc->c_ptr;
        pc += WORDS<o_jumpz>;
        need(1);
        if (NumericCmp(numeric_of(Stk[sp]), &ZERO_DEC) == 0) npc = target;
        --sp;  // a number (numeric_of stops otherwise), which owns nothing
        break;
    }
    case o_neg:
    case o_not:
        unary(op);
        break;
    case o_passign: {
        const int number = operand(pc);
        pc += WORDS<o_passign>;
        need(2);
        passign(number);
        POPSTK(2);
        break;
    }
    case o_reseterr:
        *ERROR_TRAP = NULL_TRAP;
        ERR_REG = 0;
        break;
    case o_restore:
        running_routine().data_nindex = operand(pc);
        running_routine().data_cindex = operand(pc + 1);
        pc += WORDS<o_restore>;
        break;
    case o_return:
        npc = pop_gosub(gosub_stk, &gosub_ptr);
        break;
    case o_scat: {
        const int n = operand(pc);
        pc += WORDS<o_scat>;
        need(n);
        s_concat(&fn_value, sp, n);
        POPSTK(n);
        push_result(false);
        break;
    }
    case o_sclear:
        need(1);
        sclear(sp);
        POPSTK(1);
        break;
    case o_seterr:
        need(1);
        ERR_REG = integer_of(Stk[sp]);
        break;
    case o_srcline:
        src_line_number = operand(pc);
        src_file_index = operand(pc + 1);
        pc += WORDS<o_srcline>;
        basic_trace_source_line(routines ? &routines[cur_routine] : nullptr, open_transactions());
        break;
    case o_srnge: {
        need(1);
        const int v = integer_of(Stk[sp]);
        if (v < 0) Xerror(205, "Range reference of string must be >= 0 but it is %d now", v);
        srange = v;
        POPSTK(1);
        break;
    }
    case o_tsterr:
        ERROR_TRAP->level = sp;
        ERROR_TRAP->handler = pc + WORDS<o_tsterr>;
        npc = pc->c_ptr;
        pc += WORDS<o_tsterr>;
        break;
    default:
        if (!variable_op(run, op, pc)) bad_op(op);
    }
    return false;
}


namespace {

// The error return: continue at the active trap's handler, or end the program.
bool take_trap(Run &run)
{
    intrinsic_calls().io_reset();
    if (run.intrinsic_depth >= 0) {
        depth = run.intrinsic_depth;
        run.intrinsic_depth = -1;
        restore_caller_name();
    }
    npc = nullptr;
    TrapVector *saved = SAVE_TRAP;  // set while an I/O statement with labels runs
    SAVE_TRAP = nullptr;
    TrapVector *trap = ERROR_TRAP;
    if (trap && trap->handler) {
        if (trap->level < sp) POPSTK(sp - std::max(trap->level, -1));
        run.pc = trap->handler;
        *trap = NULL_TRAP;
        // A trapped I/O error gives the routine back its own trap record.
        if (trap == &IO_TRAP && saved) ERROR_TRAP = saved;
        return true;
    }
    M_mesg("fatal", Error_vector);
    Interp_t *left = Minterp;
    pop_interpreter();
    if (!npc) return false;
    release_ended_child(left);
    // The parent of an EXECUTE child goes on after its call with -1.
    if (depth >= 0 && depth < MAX_CALLERS) run.frame = caller[depth].frame;
    if (ERROR_TRAP) *ERROR_TRAP = NULL_TRAP;
    run.pc = npc;
    npc = nullptr;
    push_int(-1);
    return true;
}

} // namespace
} // namespace exec

int Execute(Code *entry)
{
    TRACE_IN;
    npc = nullptr;
    IOERR_REG = 0;
    ERR_REG = 0;
    PF8KEY = 0;
    srange = -1;
    fn_value.s_dims[0] = fn_value.s_dims[1] = 0;
    exec::Run run{entry};
    for (;;) {
        try {
            exec::run_steps(run, !executor_general_path_only);
            return 0;
        } catch (const BailOut &) {
            if (!exec::take_trap(run)) {
                exec::publish_exit();
                TRACE_OUT;
                return 0;
            }
        }
    }
}
