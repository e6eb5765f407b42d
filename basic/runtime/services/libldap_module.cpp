// The module lumba-libldap.so: the addresses of libldap's functions the run-time calls.
#include "libldap_calls.h"

extern "C" [[gnu::visibility("default")]] const LibldapCalls lumba_libldap = {
    LUMBA_LIBLDAP_CALLS(LUMBA_CALL_ADDRESS)
};
