// libcurl, for URL encoding, reached through the module lumba-libcurl.so (core/modules.h):
// linked into the program, it and what it brings (SSH, RTMP, HTTP/2, the directory client) would
// weigh on every program's start.
#pragma once

#include <curl/curl.h>

#include "modules.h"

// The functions of libcurl the run-time calls.
#define LUMBA_LIBCURL_CALLS(X) \
    X(curl_easy_cleanup) X(curl_easy_escape) X(curl_easy_init) X(curl_free)

struct LibcurlCalls {
    LUMBA_LIBCURL_CALLS(LUMBA_CALL_POINTER)
};

// libcurl's functions; the first call loads the module lumba-libcurl.so.
inline const LibcurlCalls &libcurl()
{
    static const LibcurlCalls &calls = module_table<LibcurlCalls>("lumba-libcurl.so", "lumba_libcurl", "URL encoding");
    return calls;
}
