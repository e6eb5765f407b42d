// libtls, for the certificate API client, reached through the module lumba-libtls.so
// (core/modules.h), so that a program that never calls the API does not load it at start.
#pragma once

#include <tls.h>

#include "modules.h"

// The functions of libtls the run-time calls.
#define LUMBA_LIBTLS_CALLS(X) \
    X(tls_client) X(tls_close) X(tls_config_free) X(tls_config_new) X(tls_config_set_ca_mem) \
    X(tls_config_set_crl_mem) X(tls_config_set_keypair_mem) X(tls_configure) X(tls_connect_socket) \
    X(tls_error) X(tls_free) X(tls_read) X(tls_write)

struct LibtlsCalls {
    LUMBA_LIBTLS_CALLS(LUMBA_CALL_POINTER)
};

// libtls's functions; the first call loads the module lumba-libtls.so.
inline const LibtlsCalls &libtls()
{
    static const LibtlsCalls &calls = module_table<LibtlsCalls>("lumba-libtls.so", "lumba_libtls", "TLS");
    return calls;
}
