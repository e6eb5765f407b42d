// The intrinsic rows of the database and directory services. Each topic of the library keeps its
// dispatcher cases and their rows in its own file and exports the rows here; registration.cpp
// registers every span. A new topic adds its file, its span function and one line in
// registration.cpp.
#pragma once

#include <span>

#include "cases.h"

std::span<const IntrinsicRow> pg_intrinsics();        // PostgreSQL connections, statements, transactions and results
std::span<const IntrinsicRow> aes_intrinsics();       // AES-GCM text encryption
std::span<const IntrinsicRow> cert_intrinsics();      // the certificate API client
std::span<const IntrinsicRow> ldap_intrinsics();      // LDAP directory administration
std::span<const IntrinsicRow> pg_row_intrinsics();    // structure variables and table rows
std::span<const IntrinsicRow> document_intrinsics();  // documents in bytea columns, video frames and the file server
