// The program trace ring: the last 1024 routine entries and source lines, printed newest first
// by fatal reports. Names are interned once (the ring outlives the applications whose names it
// shows), so recording a source line allocates nothing after the first time a name is seen.
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>

#include "executor.h"
#include "hooks.h"

const char *basic_trace_fn[BASIC_TRACE_SIZE];
const char *basic_trace_file[BASIC_TRACE_SIZE];
int basic_trace_line[BASIC_TRACE_SIZE];
const char *basic_trace_file_top[BASIC_TRACE_SIZE];
int basic_trace_line_top[BASIC_TRACE_SIZE];
int basic_trace_tr[BASIC_TRACE_SIZE];
int p_basic_trace;
int p_basic_trace_prev;

namespace {

int basic_trace_flag[BASIC_TRACE_SIZE];  // 1 for executor entries ("T" in reports)

std::unordered_set<std::string> *names;

const char *intern_slow(const char *text)
{
    if (!names) names = new std::unordered_set<std::string>;
    return names->emplace(text).first->c_str();
}

// A one-entry cache per call site: the source text most recently interned there and its copy.
// Source texts live in applications; a load or a deletion forgets them (basic_trace_forget).
struct InternCache {
    const char *source = nullptr;
    const char *copy = nullptr;
    const char *intern(const char *text)
    {
        if (!text) text = "";
        if (text == source) return copy;
        source = text;
        return copy = intern_slow(text);
    }
};

InternCache fn_cache, file_cache, other_cache;

int advance()
{
    p_basic_trace_prev = p_basic_trace;
    p_basic_trace = (p_basic_trace + 1) % BASIC_TRACE_SIZE;
    return p_basic_trace;
}

void top_from_previous(int slot)
{
    const int prev = p_basic_trace_prev;
    basic_trace_file_top[slot] = basic_trace_file_top[prev] ? basic_trace_file_top[prev] : "unk";
    basic_trace_line_top[slot] = basic_trace_line_top[prev];
}

} // namespace

int basic_trace_generation;

void basic_trace_forget()
{
    fn_cache = file_cache = other_cache = InternCache{};
    ++basic_trace_generation;
}

void basic_trace_enter(const char *function, const char *file, int line)
{
    const int slot = advance();
    basic_trace_fn[slot] = fn_cache.intern(function);
    basic_trace_file[slot] = file_cache.intern(file);
    basic_trace_line[slot] = line;
    basic_trace_tr[slot] = open_transactions();
    basic_trace_flag[slot] = 1;
    if (basic_trace_file[slot][0] == '.') {
        top_from_previous(slot);
    } else {
        basic_trace_file_top[slot] = basic_trace_file[slot];
        basic_trace_line_top[slot] = line;
    }
}

void basic_trace_note(const char *function, const char *file, int line)
{
    const int slot = advance();
    basic_trace_fn[slot] = other_cache.intern(function);
    basic_trace_file[slot] = other_cache.intern(file);
    basic_trace_line[slot] = line;
    basic_trace_tr[slot] = open_transactions();
    basic_trace_flag[slot] = 0;
    top_from_previous(slot);
}

void ProgramTraceLines(std::vector<std::string> &lines)
{
    for (int i = 0; i < BASIC_TRACE_SIZE; ++i) {
        const int slot = (p_basic_trace - i + BASIC_TRACE_SIZE) % BASIC_TRACE_SIZE;
        if (!basic_trace_fn[slot]) break;
        char line[1024];
        std::snprintf(line, sizeof line, "%c %s  @ %s:%d\t%s:%d", basic_trace_flag[slot] ? 'T' : ' ',
                      basic_trace_fn[slot], basic_trace_file[slot] ? basic_trace_file[slot] : "",
                      basic_trace_line[slot], basic_trace_file_top[slot] ? basic_trace_file_top[slot] : "",
                      basic_trace_line_top[slot]);
        lines.emplace_back(line);
    }
}

void free_program_trace_ring()
{
    for (int i = 0; i < BASIC_TRACE_SIZE; ++i) {
        basic_trace_fn[i] = basic_trace_file[i] = basic_trace_file_top[i] = nullptr;
        basic_trace_line[i] = basic_trace_line_top[i] = basic_trace_tr[i] = basic_trace_flag[i] = 0;
    }
    p_basic_trace = p_basic_trace_prev = 0;
    basic_trace_forget();
    delete names;
    names = nullptr;
}
