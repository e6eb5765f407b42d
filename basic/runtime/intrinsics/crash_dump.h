// The crash dump a fatal report may leave for the maker's support staff, and the detail line of
// a value-stack entry that it shares with VARINFO.
#pragma once

#include <cstdio>

struct Stack;

// One value-stack entry with its index: "0x%8.8lX STK[%3d]: " (its address and index), then by
// kind its value, reference parentheses, where the value lives and its dimensions; a line end.
void dump_stack_entry(std::FILE *out, int index, const Stack &entry);

// Writes PPATH/crash/<process id> (mode 0600, never through a link): who ran what, the error
// report, the routine call chain, the value stack, the gosub stack and every application's
// variables. A file that cannot be made ends the run with "Cannot open dump file - <path>", and
// no dump is offered again. The library's registration object hands it to the core as its crash
// dump.
void write_crash_dump();
