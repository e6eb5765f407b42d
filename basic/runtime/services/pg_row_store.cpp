// Writing structure variables: IPQSTORE (UPDATE, else INSERT), IPQINSERT, IPQUPDATE and
// IPQPARTIALSTORE, each only inside a healthy transaction block the program opened; and IPQCSVOUT$.
#include <cstdlib>
#include <cstring>

#include "cases.h"
#include "libpq_calls.h"
#include "message.h"
#include "pg_internal.h"
#include "pg_row_internal.h"
#include "pg_rows.h"
#include "stack.h"

namespace {

constexpr const char *MISSING_BEGIN = " (is ipqbegin() missing ?)";

const char *or_empty(const char *text) { return text ? text : ""; }

// The connection of a write, once it is usable and inside an open, healthy transaction block;
// otherwise the run ends with the operation's message. A write given a schema name (schema null)
// looks it up after the connection check. no_transaction reports a connection outside any block.
template <class NoTransaction>
PGconn *writable(const char *operation, std::uint16_t handle, const char *schema_name, const OskaTable_t *&schema,
                 NoTransaction no_transaction)
{
    PGconn *conn = hdlgetconn(handle);
    const PGTransactionStatusType status = libpq().PQtransactionStatus(conn);
    if (libpq().PQstatus(conn) != CONNECTION_OK || status == PQTRANS_UNKNOWN)
        Abort("%s: database connection \"%i\" in invalid state", operation, static_cast<int>(handle));
    if (!schema) schema = pg_find_table(schema_name);
    if (!schema) Abort("%s: cannot find table \"%s\" definition", operation, schema_name);
    if (status == PQTRANS_INERROR)
        Abort("%s: connection \"%i\" is in abort state (%s, %s)", operation, static_cast<int>(handle),
              or_empty(lasterrmsg), or_empty(lastsqlstate));
    if (status != PQTRANS_INTRANS) no_transaction();
    return conn;
}

// Sends a statement the layer built: the rows it changed, or -1 when it failed (the error kept).
long send(PGconn *conn, const std::string &sql)
{
    PGresult *res = OskaPQexec(conn, sql.c_str(), 0);
    long rows = -1;
    if (libpq().PQresultStatus(res) == PGRES_COMMAND_OK)
        rows = std::atol(libpq().PQcmdTuples(res));
    else
        keep_error(conn, res);
    libpq().PQclear(res);
    return rows;
}

// Names from the object file go into the statements as they are (quoting them would change the
// server's case folding), so each must be a plain SQL name before anything is sent.
void check_names(const char *operation, const char *table_name, const OskaTable_t &table)
{
    if (!pg_table_name(table_name)) Abort("%s: bad table name \"%s\"", operation, table_name);
    for (int i = 0; i < table.ncols; ++i)
        if (table.cols[i] && !pg_column_name(table.cols[i]->cname))
            Abort("%s: bad column name \"%s\"", operation, table.cols[i]->cname.c_str());
}

int store(std::uint16_t handle, const char *table_name, const OskaTable_t *table, char *record)
{
    PGconn *conn = writable("OskaPgStoreX", handle, table_name, table, [&] {
        Abort("OskaPgStoreX: Transaction has NOT been started yet on table %s%s", table_name, MISSING_BEGIN);
    });
    check_names("OskaPgStoreX", table->tname.c_str(), *table);
    const auto update = bldudstrX(conn, table->tname.c_str(), *table, record);
    if (!update) return 0;
    const long updated = send(conn, *update);
    if (updated < 0) return 0;
    if (updated > 0) return 1;
    const auto insert = bldinsstrX(conn, *table, record);
    return insert && send(conn, *insert) > 0 ? 1 : 0;
}

int insert_or_update(std::uint16_t handle, int command, const char *table_name, const OskaTable_t *table,
                     char *record)
{
    const char *verb = command == 0 ? "INSERT" : "UPDATE";
    PGconn *conn = writable("OskaPgiuX", handle, table_name, table, [&] {
        Abort("OskaPgiuX: %s transaction has NOT be started yet on table %s%s", verb, table_name, MISSING_BEGIN);
    });
    check_names("OskaPgiuX", table->tname.c_str(), *table);
    const auto sql =
        command == 0 ? bldinsstrX(conn, *table, record) : bldudstrX(conn, table->tname.c_str(), *table, record);
    return sql && send(conn, *sql) > 0 ? 1 : 0;
}

int partial_store(std::uint16_t handle, const char *target, const char *schema_name, const OskaTable_t *schema,
                  char *record)
{
    if (!pg_table_name(target)) Abort("OskaPgPartialStoreX: bad table name \"%s\"", target);
    PGconn *conn = writable("OskaPgPartialStoreX", handle, schema_name, schema, [&] {
        Abort("OskaPgPartialStoreX: Transaction has NOT be started yet on %s struct %s%s", target, schema_name,
              MISSING_BEGIN);
    });
    check_names("OskaPgPartialStoreX", target, *schema);
    const auto update = bldudstrX(conn, target, *schema, record);
    return update && send(conn, *update) > 0 ? 1 : 0;
}

int csv(std::uint16_t handle, const char *table_name, const OskaTable_t *table, char *record, Stack *result)
{
    PGconn *conn = hdlgetconn(handle);
    if (libpq().PQstatus(conn) != CONNECTION_OK)
        Abort("OskaPgcsvX: database connection \"%i\" in invalid state", static_cast<int>(handle));
    if (!table) table = pg_find_table(table_name);
    if (!table) Abort("OskaPgcsv: cannot find table \"%s\" definition", table_name);
    const auto line = bldcsvstrX(conn, *table, record);
    intr::set_text(result, line ? std::string_view(*line) : std::string_view());
    return static_cast<int>(result->length);
}

} // namespace

int OskaPgStoreX(std::uint16_t handle, const char *table, char *record)
{
    return store(handle, table, nullptr, record);
}
int OskaPgStoreX(std::uint16_t handle, const OskaTable_t &table, char *record)
{
    return store(handle, table.tname.c_str(), &table, record);
}

int OskaPgiuX(std::uint16_t handle, int command, const char *table, char *record)
{
    return insert_or_update(handle, command, table, nullptr, record);
}
int OskaPgiuX(std::uint16_t handle, int command, const OskaTable_t &table, char *record)
{
    return insert_or_update(handle, command, table.tname.c_str(), &table, record);
}

int OskaPgPartialStoreX(std::uint16_t handle, const char *target, const char *schema, char *record)
{
    return partial_store(handle, target, schema, nullptr, record);
}
int OskaPgPartialStoreX(std::uint16_t handle, const char *target, const OskaTable_t &schema, char *record)
{
    return partial_store(handle, target, schema.tname.c_str(), &schema, record);
}

int OskaPgcsvX(std::uint16_t handle, const char *table, char *record, Stack *result)
{
    return csv(handle, table, nullptr, record, result);
}
int OskaPgcsvX(std::uint16_t handle, const OskaTable_t &table, char *record, Stack *result)
{
    return csv(handle, table.tname.c_str(), &table, record, result);
}
