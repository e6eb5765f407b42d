// The module lumba-libtls.so: the addresses of libtls's functions the run-time calls.
#include "libtls_calls.h"

extern "C" [[gnu::visibility("default")]] const LibtlsCalls lumba_libtls = {
    LUMBA_LIBTLS_CALLS(LUMBA_CALL_ADDRESS)
};
