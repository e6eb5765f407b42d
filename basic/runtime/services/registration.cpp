// The services library's registration with the dispatchers and the core: the intrinsic rows of
// every topic, the clean-up of database results and connections at exit, and the count of open
// database transactions. Linked whole into every program that links the library (see the CMake
// file).
// The certificate client's TLS configuration is freed at exit as well.
#include "cert_api.h"
#include "hooks.h"
#include "directory.h"
#include "pg.h"
#include "pg_rows.h"
#include "service_cases.h"

namespace {

int open_pg_transactions() { return inPgTransaction; }

const bool registered = [] {
    register_intrinsic_rows(pg_intrinsics());
    register_intrinsic_rows(pg_row_intrinsics());
    register_intrinsic_rows(document_intrinsics());
    register_app_memory_release(pg_forget_structures);
    register_hook(CoreHook::free_db_results, FreeAllPgRes);
    register_hook(CoreHook::free_db_connections, FreeAllPgConn);
    register_transaction_query(open_pg_transactions);
    register_intrinsic_rows(aes_intrinsics());
    register_intrinsic_rows(cert_intrinsics());
    register_hook(CoreHook::free_tls_config, api_tls_config_free);
    register_intrinsic_rows(ldap_intrinsics());
    register_hook(CoreHook::close_directory, ldap_cleanup);  // the directory's cached connection strings
    return true;
}();

} // namespace
