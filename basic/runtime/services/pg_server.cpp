// What a program asks of the server itself: LISTEN notifications, the server process id, and the
// server's time (optionally moved by an interval from a given time stamp).
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <string>

#include "libpq_calls.h"
#include "mem_mgt.h"
#include "net_wait.h"
#include "message.h"
#include "pg_internal.h"
#include "run_time.h"

namespace {

struct TimeQuery {
    const char *name;         // in the messages
    const char *failed_name;  // in the "failed with" message
    const char *now;          // the statements for 1, 2 and 3 arguments
    const char *with_interval;
    const char *with_stamp;   // time stamp first, interval second
};

constexpr TimeQuery time_query{
    "ipqtime", "ipqtime",
    "select substr(cast(now() as char(19)), 12, 8)",
    "select substr(cast(now() + interval '%s' as char(19)), 12, 8)",
    "select substr(cast(timestamp '%s' + interval '%s' as char(19)), 12, 8)",
};

constexpr TimeQuery timestamp_query{
    "ipqtimestamp", "ipqtimestamp$",
    "select cast(now() as char(19))",
    "select cast(now() + interval '%s' as char(19))",
    "select cast(timestamp '%s' + interval '%s' as char(19))",
};

// The limits programs have always been held to (the statement once had to fit 512 bytes).
constexpr std::size_t STATEMENT_LIMIT = 512;
constexpr std::size_t INTERVAL_OVERHEAD = 43;
constexpr std::size_t STAMP_OVERHEAD = 50;

// pattern with each "%s" replaced by the next value, in order.
std::string filled(const char *pattern, std::initializer_list<std::string> values)
{
    std::string out;
    auto value = values.begin();
    for (const char *p = pattern; *p; ++p) {
        if (p[0] == '%' && p[1] == 's' && value != values.end()) {
            out += *value++;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

char *server_time(const TimeQuery &q, std::uint16_t handle, const char *interval, const char *stamp)
{
    const char *shown1 = interval ? interval : "no arg";
    const char *shown2 = stamp ? stamp : "no arg";
    const int h = handle;
    PGconn *conn = hdlgetconn(handle);
    std::string sql;
    if (interval && stamp) {
        if (std::strlen(interval) + std::strlen(stamp) + STAMP_OVERHEAD > STATEMENT_LIMIT)
            Abort("%s(%d, %s, %s) failed - arg1 + arg2 too big\n", q.name, h, shown1, shown2);
        sql = filled(q.with_stamp, {pg_escape(conn, stamp), pg_escape(conn, interval)});
    } else if (interval) {
        if (std::strlen(interval) + INTERVAL_OVERHEAD > STATEMENT_LIMIT)
            Abort("%s(%d, %s, %s) failed - arg1 too big\n", q.name, h, shown1, shown2);
        sql = filled(q.with_interval, {pg_escape(conn, interval)});
    } else {
        sql = q.now;
    }

    PGresult *res = OskaPQexec(conn, sql.c_str(), 0);
    const ExecStatusType status = libpq().PQresultStatus(res);
    if (!res || (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)) {
        keep_error(conn, res);
        libpq().PQclear(res);
        char *text = pg_last_error_for_program();
        const std::string message = text;
        sfree(text);
        Abort("%s(%d, %s, %s) failed with %s\n", q.failed_name, h, shown1, shown2, message.c_str());
    }
    if (libpq().PQnfields(res) != 1 || libpq().PQntuples(res) != 1) {
        const int fields = libpq().PQnfields(res), rows = libpq().PQntuples(res);
        libpq().PQclear(res);
        Abort("%s(%d, %s, %s) returned %d fields, %d turples!\n", q.name, h, shown1, shown2, fields, rows);
    }
    char *value = Strcpy(libpq().PQgetvalue(res, 0, 0));
    libpq().PQclear(res);
    return value;
}

} // namespace

char *ipqtime(std::uint16_t handle, const char *interval, const char *stamp)
{
    return server_time(time_query, handle, interval, stamp);
}

char *ipqtimestamp(std::uint16_t handle, const char *interval, const char *stamp)
{
    return server_time(timestamp_query, handle, interval, stamp);
}

int OskaPgConnBEPID(std::uint16_t handle)
{
    PGconn *conn = hdlgetconn(handle);
    return conn ? libpq().PQbackendPID(conn) : -1;
}

char *OskaPgNotifies(std::uint16_t handle)
{
    PGconn *conn = hdlgetconn(handle);
    const int fd = libpq().PQsocket(conn);
    if (fd < 0) return Strcpy("");
    // A notification that arrived with an earlier statement is already queued.
    PGnotify *notify = libpq().PQnotifies(conn);
    while (!notify) {
        // Without a time limit (a program waits for the next notification), but a signal still
        // reaches the safe point.
        if (net_wait(fd, POLLIN, NetDeadline(-1)) == NetWait::failed)
            Abort("OskaPQNotifies(), select failed: %s", std::strerror(errno));
        // A connection the server dropped cannot deliver any more: the error is kept for
        // IPQERRMSG$ and the program gets an empty text instead of waiting for ever.
        if (!libpq().PQconsumeInput(conn)) {
            keep_error(conn, nullptr);
            return Strcpy("");
        }
        notify = libpq().PQnotifies(conn);
    }
    char *channel = Strcpy(notify->relname);
    libpq().PQfreemem(notify);
    return channel;
}
