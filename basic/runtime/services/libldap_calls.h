// The directory client (libldap and liblber), reached through the module lumba-libldap.so
// (core/modules.h): linked into the program, it and what it brings (Kerberos, SASL, GnuTLS) would
// weigh on every program's start.
#pragma once

#include <lber.h>
#include <ldap.h>

#include "modules.h"

// The functions of libldap the run-time calls.
#define LUMBA_LIBLDAP_CALLS(X) \
    X(ldap_add_ext_s) X(ldap_bv2escaped_filter_value) X(ldap_count_entries) X(ldap_delete_ext_s) \
    X(ldap_err2string) X(ldap_extended_operation) X(ldap_first_entry) X(ldap_get_values_len) \
    X(ldap_initialize) X(ldap_modify_ext_s) X(ldap_msgfree) X(ldap_next_entry) \
    X(ldap_parse_result) X(ldap_result) X(ldap_sasl_bind_s) X(ldap_search_ext_s) \
    X(ldap_set_option) X(ldap_unbind_ext_s) X(ldap_value_free_len) X(ber_alloc_t) X(ber_bvfree) \
    X(ber_flatten) X(ber_free) X(ber_memfree) X(ber_printf)

struct LibldapCalls {
    LUMBA_LIBLDAP_CALLS(LUMBA_CALL_POINTER)
};

// libldap's functions; the first call loads the module lumba-libldap.so.
inline const LibldapCalls &libldap()
{
    static const LibldapCalls &calls =
        module_table<LibldapCalls>("lumba-libldap.so", "lumba_libldap", "Directory client");
    return calls;
}
