// A text search over every column of a table the program declared: the primary keys of the rows
// whose columns, joined as text, contain the text (case-insensitively).
#include <string>

#include "applications.h"
#include "libpq_calls.h"
#include "message.h"
#include "pg_internal.h"
#include "sql.h"

namespace {

constexpr std::size_t STATEMENT_LIMIT = 8192;

bool in_key(const OskaIdx_t &key, int column)
{
    for (int i = 0; i < key.natts; ++i)
        if (key.atts[i] == column) return true;
    return false;
}

} // namespace

int OskaTblStrSearch(std::uint16_t handle, const char *table_name, const char *text)
{
    PGconn *conn = hdlgetconn(handle);
    if (libpq().PQstatus(conn) != CONNECTION_OK)
        Abort("OskaTblStrSearch: database connection \"%i\" in invalid state", static_cast<int>(handle));
    if (!current_application || !current_application->app) return 0;
    const OskaTable_t *table = FindOskaTable(current_application->app->tables, table_name);
    const OskaIdx_t *key = tblgetpk(table);
    // Without a primary key there is nothing to hand back that names a row.
    if (!key || key->natts == 0) return 0;

    // Names from the object file go into the statement unquoted, so each must be a plain SQL name.
    if (!pg_table_name(table->tname)) Abort("OskaTblStrSearch: bad table name \"%s\"", table->tname.c_str());
    std::string select, search;
    for (int c = 0; c < table->ncols; ++c) {
        const std::string &name = table->cols[c]->cname;
        if (!pg_column_name(name)) Abort("OskaTblStrSearch: bad column name \"%s\"", name.c_str());
        if (in_key(*key, c)) select += (select.empty() ? "" : ", ") + name;
        search += (search.empty() ? "" : " || ' ' || ") + name + "::text";
    }
    const std::string sql = "SELECT " + select + " FROM " + table->tname + " WHERE (" + search + ") ILIKE '%" +
                            pg_escape(conn, text) + "%';";
    if (sql.size() > STATEMENT_LIMIT) Abort("Buffer overflow");

    PGresult *res = OskaPQexec(conn, sql.c_str(), 0);
    if (!res) return 0;
    if (libpq().PQresultStatus(res) == PGRES_TUPLES_OK) return allocreshdl_for(res, sql.c_str());
    setreserrmsgs(res);
    libpq().PQclear(res);
    return 0;
}
