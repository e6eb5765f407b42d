// Applications and their memory spaces: naming, lookup, creation and the deletion rules.
#include "applications.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "globals.h"
#include "hooks.h"
#include "ilist.h"
#include "interp.h"
#include "mem_mgt.h"
#include "trace_ring.h"
#include "value_stack.h"

Application_t *applications;
Application_t *current_application;
int last_ap_delete_ok;

namespace {

bool capital(char c) { return c >= 'A' && c <= 'Z'; }

// The routine table of the last application released, emptied, for the next one loaded: a program
// that chains (a menu back and forth) loads again without a fresh table of MAX_ROUTINES entries,
// which takes longer to allocate than the whole rest of a small program's load.
Routine *spare_routines;

Routine *take_routine_table()
{
    if (Routine *table = std::exchange(spare_routines, nullptr)) return table;
    return new Routine[MAX_ROUTINES];
}

void give_back_routine_table(Routine *table)
{
    if (!table) return;
    if (spare_routines) {
        delete[] table;  // each entry frees its name and symbol list
        return;
    }
    std::destroy_n(table, MAX_ROUTINES);
    std::uninitialized_default_construct_n(table, MAX_ROUTINES);
    spare_routines = table;
}

// The suffix of name when it is base + "__" + one to three capital letters, else nullptr.
const char *suffix_of(const char *name, const std::string &prefix)
{
    if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0) return nullptr;
    const char *s = name + prefix.size();
    std::size_t n = std::strlen(s);
    if (n < 1 || n > APP_SUFFIX_SIZE - 1) return nullptr;
    for (std::size_t i = 0; i < n; ++i)
        if (!capital(s[i])) return nullptr;
    return s;
}

// The next suffix, first letter fastest: A..Z, AA, BA, ..., ZZ, AAA, BAA, ... ZZZ stays ZZZ.
void advance_suffix(char *s)
{
    for (int i = 0; i < APP_SUFFIX_SIZE - 1; ++i) {
        if (s[i] == '\0') {
            s[i] = 'A';
            s[i + 1] = '\0';
            return;
        }
        if (s[i] < 'Z') {
            ++s[i];
            return;
        }
        if (i == APP_SUFFIX_SIZE - 2) return;  // ZZZ has no successor
        s[i] = 'A';
    }
}

void free_interp(Interp_t *interp)
{
    DPS_FREE(interp->ARGV.s_c.C_S);
    if (interp->Stk && interp->sp >= 0) {
        std::fprintf(stderr, " -- There are %d elements left on Basic stack.\n", interp->sp + 1);
        for (int i = std::min(interp->sp, STACKSIZE - 1); i >= 0; --i) {
            const Stack &e = interp->Stk[i];
            if (e.s_t == string && !(e.flags & stk_ref) && e.s_c.C_S)
                std::fprintf(stderr, " -- %d: there is a non-NULL string left on Stack, address: %p\n", i,
                             static_cast<void *>(e.s_c.C_S));
        }
    }
    DPS_FREE(interp->Stk);
    sfree(interp);
}

// A list the program left behind goes with its application. One that is no longer a list (it
// was already destroyed) is not touched.
void release_list(const AppHandle_t *h)
{
    auto *list = reinterpret_cast<IList_t *>(h->handle);
    if (ilist_type(list)) ilist_destroy(list);
}

void free_handle(AppHandle_t *h)
{
    DPS_FREE(h->app_name);
    DPS_FREE(h->file);
    sfree(h);
}

void release_handles(AppMemory_t *mem)
{
    while (AppHandle_t *h = mem->handles_first) {
        const char *kind = h->kind == APP_HANDLE_OODOC ? "oo doc" : "ilist";
        const char *file = h->file ? h->file : "";
        const char *app = h->app_name ? h->app_name : "";
        if (!have_abort) std::fprintf(stderr, "Unfreed %s around line %d of %s (app: %s)\n", kind, h->line, file, app);
        if (h->kind == APP_HANDLE_OODOC) {
            // A document handle left over is a fault of the program worth the maker's notice.
            if (!have_abort) Email(RUNTIME_ADDRESS, "Unfreed %s around line %d of %s (app: %s)", kind, h->line, file, app);
            release_insertion_handle(h->handle);
        } else {
            release_list(h);
        }
        mem->handles_first = h->next;
        if (h->next)
            h->next->prev = nullptr;
        else
            mem->handles_last = nullptr;
        free_handle(h);
    }
}

void unlink_and_free(Application_t *ap)
{
    if (ap->prev)
        ap->prev->next = ap->next;
    else
        applications = ap->next;
    if (ap->next) ap->next->prev = ap->prev;
    std::fprintf(stderr, "DELETING application %s @ %p!\n", ap->name, static_cast<void *>(ap));
    basic_trace_note(":delApp:", ap->name, static_cast<int>(reinterpret_cast<std::uintptr_t>(ap)));
    basic_trace_forget();
    if (current_application == ap) current_application = nullptr;
    DPS_FREE(ap->name);
    if (ap->app) DeleteApplicationMem(ap->app);
    sfree(ap);
}

} // namespace

Application_t *FindApplication(const char *name)
{
    if (!name) return nullptr;
    for (Application_t *ap = applications; ap; ap = ap->next)
        if (std::strcmp(ap->name, name) == 0) return ap;
    return nullptr;
}

Application_t *FindLastApplication(const char *base, char *suffix)
{
    if (!base || !*base) return nullptr;
    std::string prefix = std::string(base) + "__";
    Application_t *last = nullptr;
    const char *last_suffix = nullptr;
    for (Application_t *ap = applications; ap; ap = ap->next)
        if (const char *s = suffix_of(ap->name, prefix)) {
            last = ap;
            last_suffix = s;
        }
    if (!last) return nullptr;
    std::snprintf(suffix, APP_SUFFIX_SIZE, "%s", last_suffix);
    advance_suffix(suffix);
    return last;
}

bool FirstFreeSuffix(const char *base, char *suffix)
{
    const std::string prefix = std::string(base ? base : "") + "__";
    std::set<std::string> taken;
    for (Application_t *ap = applications; ap; ap = ap->next)
        if (const char *s = suffix_of(ap->name, prefix)) taken.insert(s);
    char s[APP_SUFFIX_SIZE] = "A";
    for (; std::strcmp(s, "ZZZ") != 0; advance_suffix(s))
        if (!taken.count(s)) {
            std::memcpy(suffix, s, sizeof s);
            return true;
        }
    return false;
}

Application_t *AddApplication(const char *name)
{
    if (Application_t *ap = FindApplication(name)) return ap;
    auto *ap = Calloc(1, Application_t);
    ap->name = Strcpy(name);
    Application_t *tail = applications;
    while (tail && tail->next) tail = tail->next;
    ap->prev = tail;
    if (tail)
        tail->next = ap;
    else
        applications = ap;
    return ap;
}

void CanDeleteLastApplication()
{
    ++last_ap_delete_ok;
}

bool ApplicationInUse(const Application_t *ap) { return ap->running > 0 || ProgramRunning(ap); }

// A window's program goes with the window it made outside any routine, once its code has ended;
// a program still in use stops the walk as a busy one does, and a busy successor in use stays.
void DelApplication(const char *name, void *owner_window)
{
    if (!name || !*name) {
        for (;;) {
            Application_t *ap = applications;
            while (ap && !(ap->owner_window == owner_window && ap->windowed == 0)) ap = ap->next;
            if (!ap || (ap == applications && last_ap_delete_ok == 0) || ap->busy || ApplicationInUse(ap)) return;
            unlink_and_free(ap);
            run_hook(CoreHook::application_deleted);
        }
    }
    Application_t *ap = FindApplication(name);
    while (ap) {
        if (last_ap_delete_ok == 0 && !ap->prev) return;  // the first application stays
        if (ap->busy || ApplicationInUse(ap)) return;
        Application_t *prev = ap->prev;
        if (ap->next && ap->next->busy && !ApplicationInUse(ap->next)) unlink_and_free(ap->next);
        unlink_and_free(ap);
        run_hook(CoreHook::application_deleted);
        if (!prev) return;
        if (prev->owner_window == owner_window || (!prev->owner_window && !prev->windowed))
            ap = prev;
        else
            return;
    }
}

void DeleteApplication(Application_t *ap)
{
    if (!ap) return;
    unlink_and_free(ap);
    run_hook(CoreHook::application_deleted);
}

AppMemory_t *NewApplicationMem(std::uint32_t code_words, std::uint32_t decimals, std::uint32_t chars,
                               std::uint32_t struct_bytes)
{
    auto *mem = Calloc(1, AppMemory_t);
    // Where Abort throws (the test hosts), a refused area must not leave the space behind.
    struct Guard {
        AppMemory_t *mem;
        ~Guard() { DeleteApplicationMem(mem); }
    } guard{mem};
    mem->code = Calloc(code_words ? code_words : 1, Code);
    mem->code_count = static_cast<std::int32_t>(code_words);
    if (decimals) mem->numerics = Calloc(decimals, dec_t);
    mem->ncount = static_cast<std::int32_t>(decimals);
    if (chars) mem->chars = Calloc(chars, char);
    mem->ccount = static_cast<std::int32_t>(chars);
    if (struct_bytes) mem->structs = static_cast<char *>(zerobuf(struct_bytes / sizeof(dec_t) + 1, sizeof(dec_t)));
    mem->stcount = static_cast<std::int32_t>(struct_bytes);
    mem->routines = take_routine_table();
    guard.mem = nullptr;
    return mem;
}

void DeleteApplicationMem(AppMemory_t *mem)
{
    if (!mem) return;
    app_memory_released(mem);  // before any address in the space can be reused
    release_handles(mem);
    DPS_FREE(mem->code);
    DPS_FREE(mem->numerics);
    DPS_FREE(mem->chars);
    DPS_FREE(mem->structs);
    free_pointer_memory(&mem->pointer_memory);
    DelAllOskaTables(mem->tables);
    give_back_routine_table(mem->routines);
    mem->routines = nullptr;
    if (mem->interp) free_interp(mem->interp);
    DeleteLoadedFiles(&mem->loaded_files);
    std::memset(static_cast<void *>(mem), 0, sizeof *mem);
    sfree(mem);
}

void free_pointer_memory(PointerMem_t **list)
{
    for (PointerMem_t *p = *list; p;) {
        PointerMem_t *next = p->next;
        DPS_FREE(p->block);
        sfree(p);
        p = next;
    }
    *list = nullptr;
}

Routine *FindAppRoutine(Application_t *ap, const char *name, int *index)
{
    *index = -1;
    if (!ap || !ap->app || !ap->app->routines || !name) return nullptr;
    for (int i = 0; i < ap->app->routine_count && i < MAX_ROUTINES; ++i)
        if (ap->app->routines[i].R_name == name) {
            *index = i;
            return &ap->app->routines[i];
        }
    return nullptr;
}

Symbol *FindSymInRoutine(Routine *routine, const char *name)
{
    if (!routine || !name) return nullptr;
    for (Symbol *s = routine->R_variables; s; s = s->S_fwd)
        if (s->S_name == name) return s;
    return nullptr;
}

Routine *GetRoutine(int index)
{
    if (!current_application || !current_application->app) return nullptr;
    AppMemory_t *mem = current_application->app;
    if (index < 0 || index >= mem->routine_count || index >= MAX_ROUTINES) return nullptr;
    return &mem->routines[index];
}

Routine *SeekRunTimeRoutine(const char *name)
{
    int index;
    return FindAppRoutine(current_application, name, &index);
}

void AppIlistAdd(AppMemory_t *mem, int kind, std::uintptr_t handle, const char *app_name, int line, int file_index)
{
    auto *h = cmalloc0(0, AppHandle_t, 1);
    if (!h) Abort("Can't alloc memory in AppIlistAdd");
    h->handle = handle;
    h->line = line;
    h->kind = kind;
    h->app_name = Strcpy(app_name ? app_name : "");
    h->file = Strcpy(FindLoadedFileExIndex(file_index, &mem->loaded_files));
    h->prev = mem->handles_last;
    if (mem->handles_last)
        mem->handles_last->next = h;
    else
        mem->handles_first = h;
    mem->handles_last = h;
}

void AppIlistDel(AppMemory_t *mem, std::uintptr_t handle)
{
    for (AppHandle_t *h = mem->handles_first; h; h = h->next) {
        if (h->handle != handle) continue;
        if (h->prev)
            h->prev->next = h->next;
        else
            mem->handles_first = h->next;
        if (h->next)
            h->next->prev = h->prev;
        else
            mem->handles_last = h->prev;
        free_handle(h);
        return;
    }
}

void PrintApplication(Application_t *ap, std::FILE *stream)
{
    std::fprintf(stream, "Application 0x%lX %s %s\n", reinterpret_cast<unsigned long>(ap), ap->name,
                 ap == current_application ? "CURRENT" : " ");
    if (ap->app) PrintApplicationMem(ap->app, stream);
}

void PrintApplicationMem(AppMemory_t *mem, std::FILE *stream)
{
    auto addr = [](const void *p) { return reinterpret_cast<unsigned long>(p); };
    std::fprintf(stream, "Code: 0x%lX, size %d, routines %d, interp 0x%lX, interp Stk 0x%lX\n", addr(mem->code),
                 mem->code_count, mem->routine_count, addr(mem->interp), addr(mem->interp ? mem->interp->Stk : nullptr));
    std::fprintf(stream, "Vars: Num %d @ 0x%lX, Char %d @ %lX", mem->ncount, addr(mem->numerics), mem->ccount,
                 addr(mem->chars));
    std::fprintf(stream, ", Structs %d @ %lX\n", mem->stcount, addr(mem->structs));
    std::fprintf(stream, "Routines: %d\n", mem->routine_count);
    int n = std::min(mem->routine_count, MAX_ROUTINES);
    for (int i = 0; i < n; ++i) {
        std::fprintf(stream, "0x%8.8lX [%-24.24s] ", addr(mem->entries[i]), mem->routines[i].R_name.c_str());
        if (i % 2 == 1) std::fputc('\n', stream);
    }
    if (n % 2 == 1) std::fputc('\n', stream);
    PrintLoadedFiles(stream, 1, &mem->loaded_files);
}

void PrintAppVariables(Application_t *ap, std::FILE *stream)
{
    std::fputc('\n', stream);
    PrintApplication(ap, stream);
    if (!ap->app) return;
    AppMemory_t *mem = ap->app;
    for (int i = 0; i < std::min(mem->routine_count, MAX_ROUTINES); ++i) {
        Routine &r = mem->routines[i];
        std::fprintf(stream, "ROUTINE 0x%8.8lX [%-32.32s] variables\n", reinterpret_cast<unsigned long>(mem->entries[i]),
                     r.R_name.c_str());
        std::fputs("Varname Dim[0] Dim[1] Flag_Wd (Flags) Memloc Order [StructName]\n", stream);
        for (Symbol *s = r.R_variables; s; s = s->S_fwd) PrintSymbol(s, stream);
    }
}

void PrintAllAppVariables(const char *title, std::FILE *stream)
{
    std::fprintf(stream, "%s\n", title);
    for (Application_t *ap = applications; ap; ap = ap->next) PrintAppVariables(ap, stream);
}

void DelAllApplications() { DelApplication(nullptr, nullptr); }

Application_t *LoadedCurrentApplication()
{
    for (Application_t *ap = applications; ap; ap = ap->next)
        if (ap == current_application) return ap;
    return nullptr;
}

const char *CurrentApplicationName()
{
    const Application_t *ap = LoadedCurrentApplication();
    return ap ? ap->name : nullptr;
}

std::string ApplicationNames()
{
    std::string names;
    int count = 0;
    for (Application_t *ap = applications; ap; ap = ap->next, ++count) {
        if (count >= REPORT_APPLICATION_NAMES) continue;  // counted, not named
        if (!names.empty()) names += ", ";
        names += ap->name;
    }
    if (count > REPORT_APPLICATION_NAMES)
        names += ", ... and " + std::to_string(count - REPORT_APPLICATION_NAMES) + " more";
    return names;
}

const char *LoadedFileName(int index)
{
    const Application_t *ap = LoadedCurrentApplication();
    if (!ap || !ap->app) return nullptr;
    return FindLoadedFileExIndex(index, &ap->app->loaded_files);
}
