// The intrinsic rows of the database and directory services. Each topic of the library keeps its
// dispatcher cases in its own file and lists them here; registration.cpp installs every list in
// the dispatchers. A new topic adds its file, its list function and one line in registration.cpp.
#pragma once

#include <span>

#include "cases.h"

struct ServiceCases {
    std::span<const IntrinsicCase<NumericIntrinsic>> numeric;
    std::span<const IntrinsicCase<StringIntrinsic>> string;
    std::span<const IntrinsicCase<StatementIntrinsic>> statement;
};

ServiceCases pg_cases();  // PostgreSQL connections, statements, transactions and results
ServiceCases aes_cases();   // AES-GCM text encryption
ServiceCases cert_cases();  // the certificate API client
ServiceCases ldap_cases();  // LDAP directory administration
ServiceCases pg_row_cases();  // structure variables and table rows
ServiceCases document_cases();  // documents in bytea columns, video frames and the file server
