// The program COMMON block: a POSIX shared-memory object mapped by the first .common op of a run
// and removed when the run ends.
#pragma once

#include <cstdint>

// Maps the block for n numeric cells and m character bytes (the .common op); frees it.
void common_declare(std::int64_t numerics, std::int64_t chars);
void release_common_block();
// Removes the COMMON object's name (async-signal-safe; the mapping stays, for a core dump): for
// the fatal paths that end the process without the exit's clean-up.
void unlink_common_object();
extern void *Common_variables;
extern long Common_size;
