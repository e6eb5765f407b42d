// The module lumba-libcurl.so: the addresses of libcurl's functions the run-time calls.
#include "libcurl_calls.h"

extern "C" [[gnu::visibility("default")]] const LibcurlCalls lumba_libcurl = {
    LUMBA_LIBCURL_CALLS(LUMBA_CALL_ADDRESS)
};
