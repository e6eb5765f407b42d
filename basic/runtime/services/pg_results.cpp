// Reading what a result handle holds: row and column counts, single values, whole rows as text,
// single numbers, the command status; and the last error texts.
#include <cstdlib>
#include <cstring>

#include "libpq_calls.h"
#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"
#include "pg_internal.h"

namespace {

PGresult *live_result(std::uint16_t handle)
{
    PgResEntry *e = reshdlgetent(handle);
    return e ? e->res : nullptr;
}

} // namespace

int OskaPgntuples(std::uint16_t handle) { return libpq().PQntuples(live_result(handle)); }
int OskaPgnfields(std::uint16_t handle) { return libpq().PQnfields(live_result(handle)); }

long OskaPgAffectedRows(std::uint16_t handle)
{
    PGresult *res = live_result(handle);
    return res ? std::atol(libpq().PQcmdTuples(res)) : 0;
}

char *OskaPgcmdStatus(std::uint16_t handle)
{
    PGresult *res = live_result(handle);
    if (!res) Abort("ipqcmdstatus$(%ld): Result set already cleared", static_cast<long>(handle));
    return Strcpy(libpq().PQcmdStatus(res));
}

char *OskaPggetvalue(std::uint16_t handle, int row, int column)
{
    PGresult *res = live_result(handle);
    const char *value = res ? libpq().PQgetvalue(res, row, column) : nullptr;
    if (!value) return Strcpy("");
    char *copy = static_cast<char *>(DpsXmalloc(std::strlen(value) + 1));
    if (!copy) Abort("Insufficient memory to duplicate string");
    std::strcpy(copy, value);
    return copy;
}

char *OskaStrFetch(std::uint16_t handle, std::uint32_t *length)
{
    PgResEntry *e = reshdlgetent(handle);
    *length = 0;
    if (!e || !e->res || e->row_cursor >= static_cast<std::uint32_t>(libpq().PQntuples(e->res))) return nullptr;
    const int row = static_cast<int>(e->row_cursor);
    const int columns = libpq().PQnfields(e->res);
    std::size_t total = columns > 0 ? static_cast<std::size_t>(columns - 1) : 0;
    for (int c = 0; c < columns; ++c) total += static_cast<std::size_t>(libpq().PQgetlength(e->res, row, c));
    auto *text = static_cast<char *>(salloc(total + 1));
    std::size_t at = 0;
    for (int c = 0; c < columns; ++c) {
        if (c > 0) text[at++] = '|';
        // A NULL has length 0: it contributes nothing but its separator.
        const std::size_t n = static_cast<std::size_t>(libpq().PQgetlength(e->res, row, c));
        if (n) std::memcpy(text + at, libpq().PQgetvalue(e->res, row, c), n);
        at += n;
    }
    text[at] = '\0';
    ++e->row_cursor;
    *length = static_cast<std::uint32_t>(at);
    return text;
}

int OskaPgNumericFetch(std::uint16_t handle, dec_t *value)
{
    PgResEntry *e = reshdlgetent(handle);
    if (!e || !e->res) return 2;
    if (e->row_cursor >= static_cast<std::uint32_t>(libpq().PQntuples(e->res))) return 1;
    if (libpq().PQnfields(e->res) > 1) return 2;
    const int row = static_cast<int>(e->row_cursor);
    const char *text = libpq().PQgetisnull(e->res, row, 0) ? nullptr : libpq().PQgetvalue(e->res, row, 0);
    if (!text || !*text) return 3;
    NumericCvASC(text, libpq().PQgetlength(e->res, row, 0), value);
    ++e->row_cursor;
    return 0;
}

char *OskaPgLastErrStr() { return pg_last_error_for_program(); }

char *OskaPgLastSQLSTATE()
{
    if (!lastsqlstate) return Strcpy("");
    std::fputs(lastsqlstate, stderr);
    std::fflush(stderr);
    return Strcpy(lastsqlstate);
}
