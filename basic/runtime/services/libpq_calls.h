// libpq, reached through the module lumba-libpq.so (core/modules.h): linked into the program, libpq
// and what it brings (Kerberos, the directory client, GnuTLS) would weigh on every program's start.
#pragma once

#include <libpq-fe.h>
#include <libpq/libpq-fs.h>

#include "modules.h"

// The functions of libpq the run-time calls.
#define LUMBA_LIBPQ_CALLS(X) \
    X(PQbackendPID) X(PQcancel) X(PQclear) X(PQcmdStatus) X(PQcmdTuples) X(PQconnectPoll) \
    X(PQconnectStart) X(PQconnectStartParams) X(PQconninfoFree) X(PQconninfoParse) \
    X(PQconsumeInput) X(PQerrorMessage) \
    X(PQescapeBytea) X(PQescapeByteaConn) X(PQescapeStringConn) X(PQfinish) X(PQflush) \
    X(PQfreeCancel) X(PQfreemem) X(PQgetCancel) X(PQgetResult) X(PQgetisnull) X(PQgetlength) \
    X(PQgetvalue) X(PQisBusy) X(PQnfields) X(PQnotifies) X(PQntuples) X(PQparameterStatus) \
    X(PQresultErrorField) X(PQresultErrorMessage) X(PQresultStatus) X(PQsendQuery) \
    X(PQsendQueryParams) X(PQsetnonblocking) X(PQsocket) X(PQstatus) X(PQtransactionStatus) \
    X(PQunescapeBytea) X(lo_close) X(lo_open)

struct LibpqCalls {
    LUMBA_LIBPQ_CALLS(LUMBA_CALL_POINTER)
};

// libpq's functions; the first call loads the module lumba-libpq.so.
inline const LibpqCalls &libpq()
{
    static const LibpqCalls &calls = module_table<LibpqCalls>("lumba-libpq.so", "lumba_libpq", "PostgreSQL");
    return calls;
}
