// What the PostgreSQL layer's own files share beyond pg.h.
#pragma once

#include <cstdint>
#include <string_view>
#include <string>
#include <utility>
#include <vector>

#include "net_wait.h"
#include "pg.h"

// Frees the storage of the connection table (true) or of the result table (false) and sets its
// size to 0; the slots must hold nothing any more.
void pg_free_tables_storage(bool connections);
// Frees every prepared-statement record.
void pg_free_prepared();
// The routine name that discipline mails start with: Rname inside a routine, else "__MAIN__".
const char *pg_mail_routine();
// Milliseconds on the statement clock.
std::int64_t pg_clock_now();
// Sleeps between connection attempts.
void pg_connect_pause(unsigned seconds);
// The text IPQERRMSG$ gives: a new salloc copy of the last error ("" when none); when there is
// one, "returning <message>" goes to standard error first.
char *pg_last_error_for_program();
// Whether name may stand in a statement as a column: a letter or "_", then letters, digits, "_"
// and "$" (ASCII). A table name may have one schema name of that form and a dot before it.
bool pg_column_name(std::string_view name);
bool pg_table_name(std::string_view name);
// Keywords and values of a connection.
using PgParams = std::vector<std::pair<std::string, std::string>>;
// The connection text's keywords and values with its hosts' addresses looked up before deadline
// (net_resolve.h), as hostaddr beside host. True when params is to be used instead of the text
// (empty, with libpq's message in error, when no host has an address); false when the text needs
// no lookup (Unix sockets, addresses, a hostaddr of its own) or is for libpq to refuse.
bool pg_address_params(const char *conninfo, const NetDeadline &deadline, PgParams &params, std::string &error);
// A new connection made without blocking in libpq, so that a signal reaches the safe point while
// the server is waited for; its time-out is the connection text's connect_timeout, else the
// default network connect time-out cut to what is left of total, the whole connect's deadline.
// nullptr when it fails, with libpq's message in error.
PGconn *pg_connect(const char *conninfo, const NetDeadline &total, std::string &error);
// Runs sql as PQexec does (the last result; null when it cannot be sent), waiting for the server
// without blocking in libpq: a signal that arrives meanwhile cancels the statement and reaches
// the safe point. No time limit: a statement may take as long as the server needs.
PGresult *pg_exec(PGconn *conn, const char *sql);
// Large-object reads as libpq's lo_read and lo_lseek64 give them (the count read or the new
// position; -1 on failure), sent and waited for in the same way. They run inside a decoder's
// callbacks: a signal cancels the read and makes it fail, and the caller reaches the safe point
// once the decoder has returned.
int pg_lo_read(PGconn *conn, int fd, char *buffer, std::size_t size);
std::int64_t pg_lo_lseek64(PGconn *conn, int fd, std::int64_t offset, int whence);
