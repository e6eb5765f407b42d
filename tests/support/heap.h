// The bytes a test program holds on the heap now, for tests of work that must not keep memory
// (compare before and after). The sanitizer build's allocator keeps its own count, and glibc's
// figures (mallinfo2) see nothing of it.
#pragma once

#include <cstddef>
#include <malloc.h>

#include "sanitizer_reports.h"
#if defined(LUMBA_ASAN)
#include <sanitizer/allocator_interface.h>
#endif

namespace lumba_test {

inline std::size_t heap_in_use()
{
#if defined(LUMBA_ASAN)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

} // namespace lumba_test
