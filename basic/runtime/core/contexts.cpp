// Interpreter contexts: making a context current (its globals loaded) and leaving it, the first
// program of a run, EXECUTE (a child program in a new context) and CHAIN (a new program in the
// same context), and the report data that name the running program.
#include "contexts.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "applications.h"
#include "common_block.h"
#include "context_globals.h"
#include "errors.h"
#include "exec_util.h"
#include "executor.h"
#include "globals.h"
#include "loader.h"
#include "mem_mgt.h"
#include "objfile.h"
#include "run_time.h"
#include "softkeys.h"
#include "startup.h"

Interp_t *Minterp;
char *Program_name;
char EXIT_STRING[EXIT_STRING_SIZE];

namespace {

namespace cg = context_globals;

// The running routine's name and areas, from the routine table and routine number.
void set_routine_areas()
{
    const bool known = routines && cur_routine >= 0 && cur_routine < MAX_ROUTINES;
    Rname = known ? routines[cur_routine].R_name.c_str() : nullptr;
    local_numerics = known ? routines[cur_routine].local_numerics : nullptr;
    local_chars = known ? routines[cur_routine].local_chars : nullptr;
    local_structs = known ? routines[cur_routine].local_structs : nullptr;
}

// The routine globals and the areas of the context's current routine.
void set_routines(Interp_t *c)
{
    cg::load_from<cg::load | cg::routine_table>(c);
    set_routine_areas();
}

void load_globals(Interp_t *c)
{
    cg::load_from<cg::load>(c);
    set_routine_areas();
    // COMMON is one block for the whole run: a context without one leaves it as it is.
    if (c->Common_variables) cg::load_from<cg::common>(c);
    const bool known = cur_routine >= 0 && cur_routine < MAX_ROUTINES;
    ERROR_TRAP = known ? &TRAP_VECTORS[cur_routine] : &IO_TRAP;
}

// The context whose program is being loaded: until an application holds it, a load that ends
// the run leaves it to the exit's clean-up (release_loose_context).
Interp_t *loading_context;

// True when a loaded application's memory space holds the context (it then frees it).
bool context_owned(const Interp_t *c)
{
    for (Application_t *ap = applications; ap; ap = ap->next)
        if (ap->app && ap->app->interp == c) return true;
    return false;
}

void free_loose_context(Interp_t *c)
{
    DPS_FREE(c->ARGV.s_c.C_S);
    DPS_FREE(c->Stk);
    sfree(c);
}

// A new context with its value stack, as start-up and EXECUTE make one.
Interp_t *new_context()
{
    auto *c = Calloc(1, Interp_t);
    c->Stk = Calloc(STACKSIZE, Stack);
    c->sp = -1;
    c->ARGV.s_t = string_array;
    c->ARGV.flags = stk_ref;
    c->ncount = c->ccount = -1;
    c->keyset = default_keyset();
    return c;
}

// Loads object into c; the application that takes it frees it from then on.
void load_into(Interp_t *c)
{
    loading_context = c;
    LoadCode(c);
    loading_context = nullptr;
}

} // namespace

void release_unused_application(Application_t *ap)
{
    if (!ap || !ap->app || ap->windowed || ap->owner_window || ap->busy || ApplicationInUse(ap)) return;
    // A context that runs another program by now is not the application's to free.
    if (ap->app->interp && ap->app->interp->current_application != ap) ap->app->interp = nullptr;
    DeleteApplication(ap);
}

void release_ended_child(Interp_t *child)
{
    if (!child || child == Minterp || std::strcmp(child->origin_name, "execute") != 0) return;
    Application_t *ap = child->current_application;
    if (!ap || !ap->app || ap->app->interp != child) return;
    // An untrapped error leaves values behind: the texts they own go with the child.
    for (int i = std::min(child->sp, STACKSIZE - 1); i >= 0; --i) {
        Stack &e = child->Stk[i];
        if (e.s_t == string && !(e.flags & stk_ref) && e.s_c.C_S) release_entry(e);
    }
    child->sp = -1;
    release_unused_application(ap);
}

void release_loose_context()
{
    Interp_t *c = loading_context;
    loading_context = nullptr;
    if (c && !context_owned(c)) free_loose_context(c);
}

void push_interpreter(Interp_t *context, Code *return_position, const char *origin)
{
    if (Minterp) {
        cg::store_into<cg::parked>(Minterp);
        Minterp->npc = return_position;
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
    left->sp = sp;  // what its program left on its stack, for whoever frees the context
    cg::load_from<cg::exit_result>(left);
    Interp_t *prev = left->previous;
    if (prev) {
        Minterp = prev;
        load_globals(prev);
        srange = -1;
        return;
    }
    cg::set_values<cg::cleared>();
}

void set_application_context(Application_t *ap)
{
    if (!ap) return;
    current_application = ap;
    Program_name = ap->name;
    AppMemory_t *mem = ap->app;
    routines = mem ? mem->routines : nullptr;
    code = mem ? mem->entries : nullptr;
    loaded_routines = mem ? mem->routine_count - 1 : -1;
    const bool known = routines && cur_routine >= 0 && cur_routine <= loaded_routines && cur_routine < MAX_ROUTINES;
    Rname = known ? routines[cur_routine].R_name.c_str() : nullptr;
    local_numerics = known ? routines[cur_routine].local_numerics : nullptr;
    local_chars = known ? routines[cur_routine].local_chars : nullptr;
    local_structs = known ? routines[cur_routine].local_structs : nullptr;
}

void run_first_program(const char *origin)
{
    Interp_t *c = new_context();
    c->ARGC = ARGC;
    c->ARGV.s_c.C_S = ARGV;
    c->ARGV.s_dims[0] = static_cast<std::uint32_t>(ARGV_width);
    c->ARGV.s_dims[1] = static_cast<std::uint32_t>(ARGC);
    c->ARGV.length = static_cast<std::uint32_t>(ARGV_width * ARGC);
    load_into(c);

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

namespace {

constexpr int ARGUMENT_COUNT_ERROR = 200;
constexpr int ARGUMENT_VALUE_ERROR = 202;
constexpr int OBJECT_PATH_SIZE = 512;  // object paths of EXECUTE and CHAIN, terminator included

// The object path of the program EXECUTE or CHAIN loads; `object` points here during the load.
char object_path_buffer[OBJECT_PATH_SIZE];

// The text of a program-name argument, read by its length (a NUL within it ends it).
std::string name_argument(const Stack &e, const char *statement)
{
    if (e.s_t != string && e.s_t != string_array)
        Xerror(ARGUMENT_VALUE_ERROR, "%s: program name expected", statement);
    long n = 0;
    const char *text = entry_text(e, &n);
    std::string name(text ? text : "", text ? static_cast<std::size_t>(n) : 0);
    return name.substr(0, name.find('\0'));
}

// Sets `object` to path, refusing a path its buffer cannot hold rather than cutting it.
void set_object_path(const std::string &path, const char *statement)
{
    if (path.size() >= sizeof object_path_buffer)
        Xerror(ARGUMENT_VALUE_ERROR, "%s: program path longer than %d characters: %.300s...", statement,
               OBJECT_PATH_SIZE - 1, path.c_str());
    std::memcpy(object_path_buffer, path.c_str(), path.size() + 1);
    object = object_path_buffer;
}

// The program's copy of an ARGV argument: the field text of every element (element width x
// count bytes), blank-padded where the entry holds less.
char *copy_argument_fields(const Stack &argv)
{
    const std::size_t size = static_cast<std::size_t>(argv.s_dims[0]) * argv.s_dims[1];
    auto *fields = static_cast<char *>(salloc(size + 1));
    std::memset(fields, ' ', size);
    fields[size] = '\0';
    long n = 0;
    const char *text = entry_text(argv, &n);
    // A reference entry addresses the whole array in program storage; an owned text holds only
    // its length.
    std::size_t available = (argv.flags & stk_ref) && !(argv.flags & stk_pointer) ? size : static_cast<std::size_t>(n);
    if (text) std::memcpy(fields, text, std::min(available, size));
    return fields;
}

// The programs running one inside another: the current context and those it returns to.
int nesting()
{
    int n = 0;
    for (const Interp_t *c = Minterp; c; c = c->previous) ++n;
    return n;
}

// A load that fails part-way leaves the loader's globals pointing at the new program; the context
// that keeps running gets its own back.
void reload_routines()
{
    if (Minterp) set_routines(Minterp);
}

} // namespace

Interp_t *new_interpreter(int nargs, int last)
{
    // Two arguments (name, unit) or four (and ARGC, ARGV), nothing else. Read as "any other count",
    // three arguments (name, unit, ARGC) would take the unit as the program's name and ARGC as its
    // unit, loading a program the call never named; refused instead, like any wrong count.
    if (nargs != 2 && nargs != 4) Xerror(ARGUMENT_COUNT_ERROR, "EXECUTE: wrong number of arguments (%d)", nargs);
    if (last < nargs - 1 || last >= STACKSIZE) Abort("EXECUTE: arguments outside the value stack");
    const int first = last - nargs + 1;
    const std::string name = name_argument(Stk[first], "EXECUTE");
    const int unit = integer_of(Stk[first + 1]);
    if (nesting() >= MAX_EXECUTE_NESTING)
        Abort("EXECUTE of %s nested too deep: more than %d programs running one inside another", name.c_str(),
              MAX_EXECUTE_NESTING);

    Interp_t *child = new_context();
    try {
        if (nargs == 4) {
            const int argc = integer_of(Stk[last - 1]);
            const Stack &argv = Stk[last];
            if (argv.s_t != string && argv.s_t != string_array)
                Xerror(ARGUMENT_VALUE_ERROR, "EXECUTE: ARGV must be a string array");
            if (static_cast<std::uint32_t>(argc) > argv.s_dims[1])
                Xerror(ARGUMENT_VALUE_ERROR, "EXECUTE: ARGC/ARGV conflict");
            child->ARGC = argc;
            child->ARGV.s_c.C_S = copy_argument_fields(argv);
            child->ARGV.s_dims[0] = argv.s_dims[0];
            child->ARGV.s_dims[1] = argv.s_dims[1];
            child->ARGV.length = argv.s_dims[0] * argv.s_dims[1];
        }
        POPSTK(nargs);
        set_object_path(unit >= 0 ? std::string(apps_PATH ? apps_PATH : "") + "/unit" + std::to_string(unit) + "/" + name
                                  : name,
                        "EXECUTE");
        load_into(child);
    } catch (...) {
        // A refused or failed load (a missing program is a trappable error) leaves the parent
        // running its own program, and the child goes unless an application already holds it.
        object = nullptr;
        loading_context = child;
        release_loose_context();
        reload_routines();
        throw;
    }
    object = nullptr;
    child->npc = child->code[0];
    child->sp = -1;
    child->depth = 0;
    child->gosub_ptr = 0;
    if (Minterp) {
        child->Common_variables = Minterp->Common_variables;
        child->Common_shared = Minterp->Common_shared;
    }
    child->Common_size = static_cast<std::int32_t>(Common_size);
    child->EXIT_STAT = 0;
    child->EXIT_STRING[0] = '\0';
    return child;
}

void Chain(int nargs, int last)
{
    if (nargs != 1 && nargs != 2) Xerror(ARGUMENT_COUNT_ERROR, "CHAIN: wrong number of arguments (%d)", nargs);
    if (last < nargs - 1 || last >= STACKSIZE) Abort("CHAIN: arguments outside the value stack");
    if (!Minterp) Abort("CHAIN: no program is running");
    int unit = 0;
    std::string name;
    if (nargs == 2) {
        unit = integer_of(Stk[last]);
        name = name_argument(Stk[last - 1], "CHAIN");
    } else {
        name = name_argument(Stk[last], "CHAIN");
    }
    name.erase(name.find_last_not_of(" \t") + 1);
    set_object_path(std::string(apps_PATH ? apps_PATH : "") + "/unit" + std::to_string(unit) + "/" + name, "CHAIN");

    // The new program is loaded before the old one's stack is dropped: a program that cannot be
    // loaded (a trappable error) leaves the old one intact at its error trap, in a context put
    // back as it was and held by the old application alone.
    Interp_t *c = Minterp;
    Application_t *old = c->current_application;
    const auto before = std::make_unique<Interp_t>(*c);
    // While the new program loads no application holds the context: the new one takes it over,
    // and a load that ends the run leaves it to the exit's clean-up; so it is freed once.
    const bool held = old && old->app && old->app->interp == c;
    if (held) old->app->interp = nullptr;
    try {
        load_into(c);
    } catch (...) {
        loading_context = nullptr;
        object = nullptr;
        *c = *before;
        for (Application_t *ap = applications; ap; ap = ap->next)
            if (ap->app && ap->app->interp == c) ap->app->interp = nullptr;
        if (held) old->app->interp = c;
        reload_routines();
        throw;
    }
    object = nullptr;
    // The program replaced goes, so that a menu chaining back and forth runs in the same memory.
    if (old && old != c->current_application) release_unused_application(old);

    release_mem();  // the whole stack with its owned texts, arguments included
    std::snprintf(MANUAL_NAME, sizeof MANUAL_NAME, "%02d1", unit);
    std::snprintf(MANUAL_SECTION, sizeof MANUAL_SECTION, "%s", LoadedProgramName ? LoadedProgramName : "");
    // Traps armed by the old program point into its code.
    for (TrapVector &t : c->TRAP_VECTORS) t = NULL_TRAP;
    c->cur_routine = 0;
    set_routines(c);
    Program_name = c->program_name;
    yylinestart = static_cast<int>(c->line_start);
    ERROR_TRAP = &TRAP_VECTORS[0];
    npc = c->code[0];
    c->npc = npc;
    gosub_ptr = 0;
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

char *copy_cur_routine_aname()
{
    const char *routine = routines && cur_routine >= 0 && cur_routine < MAX_ROUTINES ? routines[cur_routine].R_name.c_str() : "";
    const char *app = current_application && current_application->name ? current_application->name : "";
    if (!*routine && !*app) return nullptr;
    return Strcpy((std::string(routine) + "@" + app).c_str());
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
    Application_t *ap = LoadedCurrentApplication();
    if (!ap || !ap->app || !ap->app->routines) return "";
    if (!Common_variables || Common_size <= 0) return "";
    Symbol *s = FindSymInRoutine(&ap->app->routines[0], "COM.DATA.PATH$");
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
