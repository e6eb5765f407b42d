// Interpreter contexts: making a context current (its globals loaded) and leaving it, the first
// program of a run, and the report data that name the running program.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "applications.h"
#include "executor.h"
#include "globals.h"
#include "loader.h"
#include "mem_mgt.h"
#include "run_time.h"
#include "softkeys.h"
#include "startup.h"

Interp_t *Minterp;
char *Program_name;
char EXIT_STRING[EXIT_STRING_SIZE];

namespace {

// The routine globals and the areas of the context's current routine.
void set_routines(Interp_t *c)
{
    routines = c->routines;
    loaded_routines = c->loaded_routines;
    cur_routine = c->cur_routine;
    code = c->code;
    current_application = c->current_application;
    const bool known = routines && cur_routine >= 0 && cur_routine < MAX_ROUTINES;
    Rname = known ? routines[cur_routine].R_name.c_str() : nullptr;
    local_numerics = known ? routines[cur_routine].local_numerics : nullptr;
    local_chars = known ? routines[cur_routine].local_chars : nullptr;
    local_structs = known ? routines[cur_routine].local_structs : nullptr;
}

void load_globals(Interp_t *c)
{
    Program_name = c->program_name;
    ARGC = c->ARGC;
    ARGV = c->ARGV.s_c.C_S;
    ARGV_width = static_cast<int>(c->ARGV.s_dims[0]);
    set_routines(c);
    EXIT_STAT = c->EXIT_STAT;
    std::memcpy(EXIT_STRING, c->EXIT_STRING, sizeof EXIT_STRING);
    Stk = c->Stk;
    caller = c->caller;
    depth = c->depth;
    gosub_stk = c->gosub_stk;
    gosub_ptr = c->gosub_ptr;
    npc = c->npc;
    sp = c->sp;
    yylinestart = static_cast<int>(c->line_start);
    TRAP_VECTORS = c->TRAP_VECTORS;
    if (c->Common_variables) {
        Common_variables = c->Common_variables;
        Common_size = c->Common_size;
    }
    const bool known = cur_routine >= 0 && cur_routine < MAX_ROUTINES;
    ERROR_TRAP = known ? &TRAP_VECTORS[cur_routine] : &IO_TRAP;
}

} // namespace

void push_interpreter(Interp_t *context, Code *return_position, const char *origin)
{
    if (Minterp) {
        Minterp->npc = return_position;
        Minterp->sp = sp;
        Minterp->cur_routine = cur_routine;
        Minterp->depth = depth;
        Minterp->gosub_ptr = gosub_ptr;
    }
    context->previous = Minterp;
    Minterp = context;
    std::snprintf(context->origin_name, sizeof context->origin_name, "%s", origin ? origin : "");
    load_globals(context);
    argcount = 0;
    new_routine = 0;
}

void pop_interpreter()
{
    Interp_t *left = Minterp;
    if (!left) return;
    EXIT_STAT = left->EXIT_STAT;
    std::memcpy(EXIT_STRING, left->EXIT_STRING, sizeof EXIT_STRING);
    Interp_t *prev = left->previous;
    if (prev) {
        Minterp = prev;
        load_globals(prev);
        srange = -1;
        return;
    }
    Minterp = nullptr;
    routines = nullptr;
    loaded_routines = -1;
    cur_routine = 0;
    Rname = nullptr;
    code = nullptr;
    current_application = nullptr;
    npc = nullptr;
}

void run_first_program(const char *origin)
{
    auto *c = Calloc(1, Interp_t);
    c->Stk = Calloc(STACKSIZE, Stack);
    c->sp = -1;
    c->ARGC = ARGC;
    c->ARGV.s_t = string_array;
    c->ARGV.s_c.C_S = ARGV;
    c->ARGV.s_dims[0] = static_cast<std::uint32_t>(ARGV_width);
    c->ARGV.s_dims[1] = static_cast<std::uint32_t>(ARGC);
    c->ARGV.length = static_cast<std::uint32_t>(ARGV_width * ARGC);
    c->ARGV.flags = stk_ref;
    c->ncount = c->ccount = -1;
    c->keyset = default_keyset();
    LoadCode(c);

    sp = -1;
    depth = 0;
    object = nullptr;
    errno = 0;
    Rname = "_MAIN_";
    phase = executing;
    Dump_available = make_dump;
    push_interpreter(c, nullptr, origin);
    Execute(c->code[0]);
    finish(EXIT_STAT);
}

void release_context_stack()
{
    if (Stk && sp >= 0) POPSTK(sp + 1);
    depth = 0;
    argcount = 0;
    new_routine = 0;
}

bool ContextRunning() { return Minterp != nullptr; }

bool ErrorTrapArmed() { return ERROR_TRAP && ERROR_TRAP->handler; }

int ContextExitStatus() { return Minterp ? Minterp->EXIT_STAT : 1; }

void SetContextExitStatus(int status)
{
    if (Minterp) Minterp->EXIT_STAT = status;
}

bool ProgramLoaded() { return Minterp != nullptr; }

const char *CurrentRoutineName()
{
    if (!routines || cur_routine < 0 || cur_routine >= MAX_ROUTINES) return "UNK";
    return routines[cur_routine].R_name.c_str();
}

const char *ProgramPoint()
{
    static char point[300];
    const char *name = routines && cur_routine >= 0 && cur_routine < MAX_ROUTINES
                           ? routines[cur_routine].R_name.c_str()
                           : "";
    if (!*name)
        std::snprintf(point, sizeof point, "%d-UNK:", src_line_number);
    else
        std::snprintf(point, sizeof point, "%d-%.250s:", src_line_number, name);
    return point;
}

std::string ProgramDataPath()
{
    if (!current_application || !current_application->app || !current_application->app->routines) return "";
    if (!Common_variables || Common_size <= 0) return "";
    Symbol *s = FindSymInRoutine(&current_application->app->routines[0], "COM.DATA.PATH$");
    if (!s || !(s->S_type & s_string)) return "";
    const auto *block = static_cast<const char *>(Common_variables);
    const auto *at = reinterpret_cast<const char *>(s->S_memloc);
    if (at < block || at >= block + Common_size) return "";
    std::size_t limit = static_cast<std::size_t>(block + Common_size - at);
    if (s->S_dims[0] > 0 && s->S_dims[0] < limit) limit = s->S_dims[0];
    std::string path;
    for (std::size_t i = 0; i < limit && at[i] && !std::isspace(static_cast<unsigned char>(at[i])); ++i) path += at[i];
    return path;
}
