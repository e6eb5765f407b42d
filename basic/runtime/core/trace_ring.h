// The program trace ring as the executor records it: one small entry per routine entry or source
// line, whose names are interned pairs looked up once for each routine, application, file index
// and load. The named arrays below are built from the entries when a report reads the ring.
#pragma once

#include "applications.h"
#include "message.h"

struct Routine;

// Program trace ring, printed newest first by fatal reports. The entries are kept compact
// (below); these arrays are filled from them when a report reads the ring.
inline constexpr int BASIC_TRACE_SIZE = 1024;
extern const char *basic_trace_fn[BASIC_TRACE_SIZE];
extern const char *basic_trace_file[BASIC_TRACE_SIZE];
extern int basic_trace_line[BASIC_TRACE_SIZE];
extern const char *basic_trace_file_top[BASIC_TRACE_SIZE];
extern int basic_trace_line_top[BASIC_TRACE_SIZE];
extern int basic_trace_tr[BASIC_TRACE_SIZE];
extern int p_basic_trace;
extern int p_basic_trace_prev;
// An executor entry (routine entry, source line): a file beginning with "." takes the outer file
// and line of the previous entry.
void basic_trace_enter(const char *function, const char *file, int line);
// An entry of another kind (flag 0) whose outer file and line are the previous entry's.
void basic_trace_note(const char *function, const char *file, int line);
void free_program_trace_ring();
// Forgets the names cached for the ring: called when a program is loaded or an application goes.
void basic_trace_forget();
extern int basic_trace_generation;  // raised by basic_trace_forget

// A routine's and a source file's names, interned; kept until the ring is freed.
struct TraceNames {
    const char *function;
    const char *file;
};

// One entry of the ring.
struct TraceEntry {
    const TraceNames *names;  // nullptr while the slot was never written
    const char *top_file;     // the outer file, kept only for an entry that takes the previous one's
    int line;
    int top_line;
    int transactions;         // open database transactions when the entry was made
    int kind;                 // TRACE_EXECUTOR and TRACE_OUTER bits
};
inline constexpr int TRACE_EXECUTOR = 1;  // a routine entry or source line ("T" in reports)
inline constexpr int TRACE_OUTER = 2;     // the outer file and line are the previous entry's
extern TraceEntry basic_trace_entries[BASIC_TRACE_SIZE];

// The names of the position the last source line looked up, and what they were looked up for.
struct TracePosition {
    const Routine *routine = nullptr;
    const Application_t *app = nullptr;
    int file_index = -1;
    int generation = -1;
    const TraceNames *names = nullptr;  // the routine's name ("Unk" without one) and the source
                                        // file's ("Unk" without an application's memory)
    int kind = TRACE_EXECUTOR;          // with TRACE_OUTER when the file's name begins with "."
};
extern TracePosition trace_position;

// Looks the names up for routine, the current application and src_file_index.
void trace_position_refresh(const Routine *routine);

// True while trace_position holds the names of routine in the current application and load, so
// that a source line only has to compare its file index.
inline bool trace_position_current(const Routine *routine)
{
    const TracePosition &t = trace_position;
    return routine == t.routine && current_application == t.app && basic_trace_generation == t.generation;
}

// The outer file and line of the entry at slot ("unk" and 0 for a slot never written).
inline void basic_trace_top(int slot, const char *&file, int &line)
{
    const TraceEntry &e = basic_trace_entries[slot];
    if (!e.names) {
        file = "unk";
        line = 0;
    } else if (e.kind & TRACE_OUTER) {
        file = e.top_file;
        line = e.top_line;
    } else {
        file = e.names->file;
        line = e.line;
    }
}

// Makes the next entry (the old index becomes the previous one) of the given names and kind.
inline void basic_trace_add(const TraceNames *names, int kind, int line, int transactions)
{
    static_assert((BASIC_TRACE_SIZE & (BASIC_TRACE_SIZE - 1)) == 0);
    const int prev = p_basic_trace;
    const int slot = static_cast<int>(static_cast<unsigned>(prev + 1) % BASIC_TRACE_SIZE);
    p_basic_trace_prev = prev;
    p_basic_trace = slot;
    TraceEntry &e = basic_trace_entries[slot];
    if (kind & TRACE_OUTER) basic_trace_top(prev, e.top_file, e.top_line);
    e.names = names;
    e.line = line;
    e.transactions = transactions;
    e.kind = kind;
}

// The entry of a source line in routine (nullptr when no routines are loaded), as
// basic_trace_enter makes it; src_line_number and src_file_index hold the line; transactions is
// what open_transactions() answers now.
inline void basic_trace_source_line(const Routine *routine, int transactions)
{
    if (src_file_index != trace_position.file_index || !trace_position_current(routine))
        trace_position_refresh(routine);
    basic_trace_add(trace_position.names, trace_position.kind, src_line_number, transactions);
}
