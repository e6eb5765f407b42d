// The program trace ring: the last 1024 routine entries and source lines, printed newest first
// by fatal reports. Names are interned once, in pairs (the ring outlives the applications whose
// names it shows), so recording an entry allocates nothing after the first time a name is seen;
// the names of the running position are kept looked up (trace_ring.h), so the executor records a
// source line without a call. The named arrays are filled from the entries when a report reads
// the ring.
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <unordered_set>

#include "applications.h"
#include "errors.h"
#include "hooks.h"
#include "trace_ring.h"

const char *basic_trace_fn[BASIC_TRACE_SIZE];
const char *basic_trace_file[BASIC_TRACE_SIZE];
int basic_trace_line[BASIC_TRACE_SIZE];
const char *basic_trace_file_top[BASIC_TRACE_SIZE];
int basic_trace_line_top[BASIC_TRACE_SIZE];
int basic_trace_tr[BASIC_TRACE_SIZE];
int p_basic_trace;
int p_basic_trace_prev;

TraceEntry basic_trace_entries[BASIC_TRACE_SIZE];
TracePosition trace_position;

namespace {

std::unordered_set<std::string> *names;

struct NamesLess {
    bool operator()(const TraceNames &a, const TraceNames &b) const
    {
        return a.function != b.function ? std::less<>()(a.function, b.function) : std::less<>()(a.file, b.file);
    }
};
std::set<TraceNames, NamesLess> *pairs;

const char *intern_slow(const char *text)
{
    if (!names) names = new std::unordered_set<std::string>;
    return names->emplace(text ? text : "").first->c_str();
}

const TraceNames *pair_of(const char *function, const char *file)
{
    if (!pairs) pairs = new std::set<TraceNames, NamesLess>;
    return &*pairs->insert(TraceNames{function, file}).first;
}

// A one-entry cache per call site: the source texts most recently interned there and their pair.
// Source texts live in applications; a load or a deletion forgets them (basic_trace_forget).
struct InternCache {
    const char *function = nullptr;
    const char *file = nullptr;
    const TraceNames *pair = nullptr;
    const TraceNames *intern(const char *fn, const char *f)
    {
        if (!fn) fn = "";
        if (!f) f = "";
        if (pair && fn == function && f == file) return pair;
        function = fn;
        file = f;
        return pair = pair_of(intern_slow(fn), intern_slow(f));
    }
};

InternCache enter_cache, note_cache;

} // namespace

int basic_trace_generation;

void trace_position_refresh(const Routine *routine)
{
    TracePosition &t = trace_position;
    t.routine = routine;
    t.app = current_application;
    t.file_index = src_file_index;
    t.generation = basic_trace_generation;
    const char *file = (!t.app || !t.app->app) ? "Unk" : FindLoadedFileExIndex(t.file_index, &t.app->app->loaded_files);
    t.names = pair_of(intern_slow(routine && !routine->R_name.empty() ? routine->R_name.c_str() : "Unk"),
                      intern_slow(file));
    t.kind = TRACE_EXECUTOR | (t.names->file[0] == '.' ? TRACE_OUTER : 0);
}

void basic_trace_forget()
{
    enter_cache = note_cache = InternCache{};
    ++basic_trace_generation;
}

void basic_trace_enter(const char *function, const char *file, int line)
{
    const TraceNames *n = enter_cache.intern(function, file);
    basic_trace_add(n, TRACE_EXECUTOR | (n->file[0] == '.' ? TRACE_OUTER : 0), line, open_transactions());
}

void basic_trace_note(const char *function, const char *file, int line)
{
    basic_trace_add(note_cache.intern(function, file), TRACE_OUTER, line, open_transactions());
}

namespace {

// The named arrays, from the entries.
void basic_trace_arrays()
{
    for (int slot = 0; slot < BASIC_TRACE_SIZE; ++slot) {
        const TraceEntry &e = basic_trace_entries[slot];
        basic_trace_fn[slot] = e.names ? e.names->function : nullptr;
        basic_trace_file[slot] = e.names ? e.names->file : nullptr;
        basic_trace_line[slot] = e.line;
        basic_trace_tr[slot] = e.transactions;
        if (e.names) {
            basic_trace_top(slot, basic_trace_file_top[slot], basic_trace_line_top[slot]);
        } else {
            basic_trace_file_top[slot] = nullptr;
            basic_trace_line_top[slot] = 0;
        }
    }
}

} // namespace

void ProgramTraceLines(std::vector<std::string> &lines)
{
    basic_trace_arrays();
    for (int i = 0; i < BASIC_TRACE_SIZE; ++i) {
        const int slot = (p_basic_trace - i + BASIC_TRACE_SIZE) % BASIC_TRACE_SIZE;
        if (!basic_trace_fn[slot]) break;
        char line[1024];
        std::snprintf(line, sizeof line, "%c %s  @ %s:%d\t%s:%d",
                      (basic_trace_entries[slot].kind & TRACE_EXECUTOR) ? 'T' : ' ', basic_trace_fn[slot],
                      basic_trace_file[slot] ? basic_trace_file[slot] : "", basic_trace_line[slot],
                      basic_trace_file_top[slot] ? basic_trace_file_top[slot] : "", basic_trace_line_top[slot]);
        lines.emplace_back(line);
    }
}

void free_program_trace_ring()
{
    for (auto &e : basic_trace_entries) e = TraceEntry{};
    basic_trace_arrays();
    p_basic_trace = p_basic_trace_prev = 0;
    basic_trace_forget();
    trace_position = TracePosition{};
    delete pairs;
    pairs = nullptr;
    delete names;
    names = nullptr;
}
