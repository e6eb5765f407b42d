// The module lumba-libpq.so: the addresses of libpq's functions the run-time calls.
#include "libpq_calls.h"

extern "C" [[gnu::visibility("default")]] const LibpqCalls lumba_libpq = {
    LUMBA_LIBPQ_CALLS(LUMBA_CALL_ADDRESS)
};
