// Connections, statements and transactions as programs use them: connecting with retries,
// closing, running a statement or a statement file, clearing a result, and the transaction
// intrinsics.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "gdata.h"
#include "libpq_calls.h"
#include "mem_mgt.h"
#include "message.h"
#include "pg_internal.h"
#include "run_time.h"
#include "shared_files.h"

namespace {

constexpr int CONNECT_ATTEMPTS = 6;
constexpr int COMMIT_ATTEMPTS = 4;

int connect_total_ms = PG_CONNECT_TOTAL_MS;

bool bad_connection_handle(std::uint16_t handle) { return handle == 0 || handle >= pgctabsize; }

bool succeeded(const PGresult *res)
{
    const ExecStatusType s = libpq().PQresultStatus(res);
    return res && (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK);
}

// Sends a statement of the layer's own; one the server refuses ends the run with failure.
void send_or_stop(PGconn *conn, const char *sql, const char *failure)
{
    PGresult *res = OskaPQexec(conn, sql, 0);
    const bool ok = libpq().PQresultStatus(res) == PGRES_COMMAND_OK;
    libpq().PQclear(res);
    if (!ok) Abort("%s", failure);
}

// The text of a statement file, read whole.
std::string statement_file(const char *name)
{
    std::string path = name;
    if (name[0] != '/') {
        const char *ppath = std::getenv("PPATH");
        path = std::string(ppath ? ppath : PPATH_ROOT) + "/apps/sql/" + name;
    }
    // Below a shared directory only a file of our own (or root's): never one another user put there.
    const int fd = open_to_read(path.c_str());
    if (fd < 0) Abort("Error opening file '%s'", path.c_str());
    struct stat st;
    if (fstat(fd, &st) != 0) {
        const int e = errno;
        close(fd);
        Abort("fstat() error %d (%s) while opening %s", e, std::strerror(e), name);
    }
    const std::size_t size = static_cast<std::size_t>(st.st_size);
    auto *text = static_cast<char *>(DpsXmalloc(size + 1));
    if (!text) {
        close(fd);
        Abort("Error in allocating %d bytes", static_cast<int>(size + 1));
    }
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = read(fd, text + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    if (got != size) {
        std::free(text);
        Abort("Error reading file '%s'", name);
    }
    std::string whole(text, size);
    std::free(text);
    return whole;
}

} // namespace

int set_pg_connect_total_ms(int ms)
{
    const int previous = connect_total_ms;
    connect_total_ms = ms > 0 ? ms : PG_CONNECT_TOTAL_MS;
    return previous;
}

// A server that does not answer must not freeze a form for minutes: the attempts and the pauses
// between them end together at the whole connect's time-out. An attempt the time left could not
// follow after its pause is not made.
int OskaPgConnect(const char *conninfo)
{
    const NetDeadline total(connect_total_ms);
    for (int failed = 0;;) {
        std::string error;
        PGconn *conn = pg_connect(conninfo, total, error);
        if (conn) return allocconn(conn);
        keep_error_text(error.c_str());
        const unsigned pause = static_cast<unsigned>(failed + 3);
        if (++failed == CONNECT_ATTEMPTS || total.remaining_ms() <= static_cast<int>(pause * 1000)) return 0;
        pg_connect_pause(pause);
    }
}

int OskaFreePgConn(std::uint16_t handle)
{
    PGconn *conn = hdlgetconn(handle);
    if (!conn) return 0;
    libpq().PQfinish(conn);
    releaseconn(handle);
    pg_count_transactions();
    return 1;
}

int OskaPgExec(std::uint16_t handle, const char *sql)
{
    PGconn *conn = hdlgetconn(handle);
    // A bad handle, or one whose connection was closed, has its neutral result whatever the
    // statement: the classification would otherwise ask a missing connection about its
    // transaction and end the run.
    if (!conn) return 0;
    PGresult *res = OskaPQexec(conn, sql, 1);
    if (!succeeded(res)) {
        keep_error(conn, res);
        _mlog(1, -1, "PgSQL result error: %s\n", lasterrmsg);
        libpq().PQclear(res);
        return 0;
    }
    return allocreshdl_for(res, sql);
}

int OskaPgExecFile(std::uint16_t handle, const char *name)
{
    const std::string text = statement_file(name);
    return OskaPgExec(handle, text.c_str());
}

int OskaPgFreeRes(std::uint16_t handle)
{
    PgResEntry *e = reshdlgetent(handle);
    if (!e) return 0;
    if (!e->res) {
        Email(TRANSACTION_LOG_ADDRESS, "ipqclear(%d): Result set already cleared", handle);
        return 0;
    }
    libpq().PQclear(e->res);
    DPS_FREE(e->sql);
    DPS_FREE(e->routine);
    releasereshdl(handle);
    return 1;
}

void OskaPgBegin(std::uint16_t handle)
{
    if (bad_connection_handle(handle)) return;
    PGconn *conn = contab[handle].conn;
    if (OskaPQTransactionStatus(conn) == 1) {
        Debug("IPQBEGIN: PgSQL transaction is already opened");
        return;
    }
    send_or_stop(conn, "BEGIN", "OskaPgBegin: could not start transaction");
}

int OskaPgCommit(std::uint16_t handle)
{
    if (bad_connection_handle(handle)) {
        Debug("IPQCOMMIT: unexpected return pgctabsize %i chdl = %i **\n", pgctabsize, handle);
        return 0;
    }
    PGconn *conn = contab[handle].conn;
    if (OskaPgTransactionStatus(handle) == 0) {
        Debug("IPQCOMMIT: PgSQL transaction is rather in an error state");
        return 0;
    }
    bool success = true;
    for (int attempt = 1; attempt <= COMMIT_ATTEMPTS; ++attempt) {
        success = true;
        PGresult *res = OskaPQexec(conn, "COMMIT", 0);
        switch (libpq().PQresultStatus(res)) {
        case PGRES_COMMAND_OK:
            libpq().PQclear(res);
            return 1;
        case PGRES_FATAL_ERROR:
            if (libpq().PQstatus(conn) != CONNECTION_OK) {
                libpq().PQclear(res);
                Abort("IPQCOMMIT: database connection \"%i\" is in an invalid state", handle);
            }
            [[fallthrough]];
        case PGRES_NONFATAL_ERROR:
            keep_error(conn, res);
            success = false;
            break;
        default:
            break;
        }
        libpq().PQclear(res);
        const PGTransactionStatusType s = libpq().PQtransactionStatus(conn);
        if (s == PQTRANS_ACTIVE) continue;
        if (s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_UNKNOWN) return 0;
        break;
    }
    return success ? 1 : 0;
}

void OskaPgRollback(std::uint16_t handle)
{
    if (bad_connection_handle(handle)) return;
    PGconn *conn = contab[handle].conn;
    // A failed block is ended too: the program recovers from a failed statement by rolling back.
    OskaPQTransactionStatus(conn);  // a bad connection ends the run here
    const PGTransactionStatusType s = libpq().PQtransactionStatus(conn);
    if (s != PQTRANS_INTRANS && s != PQTRANS_INERROR) {
        Debug("IPQROLLBACK: PgSQL transaction is not in progress");
        return;
    }
    send_or_stop(conn, "ROLLBACK", "OskaPgRollback: could not rollback transaction");
}
