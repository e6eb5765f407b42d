// Connecting and running statements without blocking in libpq. libpq's own waits retry when a
// signal interrupts them, so a blocking PQexec or PQconnectdb would hold a request to end the run
// until the server answers: 20 seconds for a long statement, for ever with a stopped server.
// Statements and connects are therefore sent without blocking and waited for here, where a signal
// reaches the safe point; a statement still running then is cancelled first.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <poll.h>
#include <string>
#include <thread>
#include <vector>

#include "libpq_calls.h"
#include "net_wait.h"
#include "pg_internal.h"

namespace {

// How long the safe point waits for the server to take a cancel request: a server that does not
// take it (stopped, unreachable) must not hold the end of the run.
constexpr auto CANCEL_WAIT = std::chrono::milliseconds(200);

// Sends the cancel request of conn's running statement from a thread of its own, waiting for it
// at most CANCEL_WAIT; the thread owns what it needs and is left to finish alone.
void cancel_statement(void *data)
{
    PGcancel *cancel = libpq().PQgetCancel(static_cast<PGconn *>(data));
    if (!cancel) return;
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> sent = done->get_future();
    std::thread([cancel, done] {
        char error[256];
        libpq().PQcancel(cancel, error, sizeof error);
        libpq().PQfreeCancel(cancel);
        done->set_value();
    }).detach();
    sent.wait_for(CANCEL_WAIT);
}

// The time-out of one attempt in milliseconds: the connect_timeout the connection text gives
// (libpq's reading: 0 or a negative number wait without limit, 1 counts as 2), which the program
// chose; without one the default network time-out, cut to what is left of the whole connect.
int connect_timeout_ms(const char *conninfo, const NetDeadline &total)
{
    int ms = net_timeouts().connect_ms;
    if (!total.unlimited()) ms = std::min(ms, total.remaining_ms());
    char *error = nullptr;
    PQconninfoOption *options = libpq().PQconninfoParse(conninfo, &error);
    libpq().PQfreemem(error);
    if (!options) return ms;
    for (const PQconninfoOption *o = options; o->keyword; ++o) {
        if (std::string(o->keyword) != "connect_timeout" || !o->val || !*o->val) continue;
        const long seconds = std::clamp(std::strtol(o->val, nullptr, 10), -1L, long{INT_MAX / 1000});
        ms = seconds <= 0 ? -1 : static_cast<int>(std::max(seconds, 2L) * 1000);
    }
    libpq().PQconninfoFree(options);
    return ms;
}

// The statement's result as PQexec gives it: the last one, except that a later error does not
// replace an earlier one.
PGresult *keep_result(PGresult *last, PGresult *next)
{
    if (last && libpq().PQresultStatus(last) == PGRES_FATAL_ERROR &&
        libpq().PQresultStatus(next) == PGRES_FATAL_ERROR) {
        libpq().PQclear(next);
        return last;
    }
    libpq().PQclear(last);
    return next;
}

bool copying(const PGresult *res)
{
    const ExecStatusType s = libpq().PQresultStatus(res);
    return s == PGRES_COPY_IN || s == PGRES_COPY_OUT || s == PGRES_COPY_BOTH;
}

// Sends what libpq still holds of a statement; false when the connection fails or a signal gave
// the wait up.
bool flush(PGconn *conn, OnSignal on)
{
    for (;;) {
        const int left = libpq().PQflush(conn);
        if (left <= 0) return left == 0;
        // The server may be sending while it reads: take its data in so that it can go on.
        if (net_wait(libpq().PQsocket(conn), POLLIN | POLLOUT, NetDeadline(-1), on, cancel_statement, conn) !=
            NetWait::ready)
            return false;
        if (!libpq().PQconsumeInput(conn)) return false;
    }
}

// Runs the statement send() sends and gives its result as PQexec does; a signal while it runs
// cancels it and goes where on says (given up: null).
template <class Send>
PGresult *run_statement(PGconn *conn, OnSignal on, Send send)
{
    if (!conn) return nullptr;
    // Only while the statement is under way: libpq's other calls on the connection expect a
    // blocking one.
    libpq().PQsetnonblocking(conn, 1);
    PGresult *last = nullptr;
    if (send() && flush(conn, on)) {
        for (;;) {
            NetWait waited = NetWait::ready;
            while (libpq().PQisBusy(conn)) {
                waited = net_wait(libpq().PQsocket(conn), POLLIN, NetDeadline(-1), on, cancel_statement, conn);
                // A failed connection: libpq makes that the statement's error.
                if (waited != NetWait::ready || !libpq().PQconsumeInput(conn)) break;
            }
            if (waited == NetWait::interrupted) {
                libpq().PQclear(last);
                last = nullptr;
                break;
            }
            if (libpq().PQisBusy(conn)) break;
            PGresult *next = libpq().PQgetResult(conn);
            if (!next) break;
            last = keep_result(last, next);
            if (copying(last) || libpq().PQstatus(conn) == CONNECTION_BAD) break;
        }
    }
    libpq().PQsetnonblocking(conn, 0);
    return last;
}

} // namespace

namespace {

// Starts a connection from params without expanding dbname, as the text it came from.
PGconn *start_with(const PgParams &params)
{
    std::vector<const char *> keywords, values;
    for (const auto &[keyword, value] : params) {
        keywords.push_back(keyword.c_str());
        values.push_back(value.c_str());
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    return libpq().PQconnectStartParams(keywords.data(), values.data(), 0);
}

} // namespace

PGconn *pg_connect(const char *conninfo, const NetDeadline &total, std::string &error)
{
    const NetDeadline deadline(connect_timeout_ms(conninfo, total));
    PgParams params;
    const bool looked_up = pg_address_params(conninfo, deadline, params, error);
    if (looked_up && params.empty()) return nullptr;
    PGconn *conn = looked_up ? start_with(params) : libpq().PQconnectStart(conninfo);
    if (!conn) {
        error = "out of memory\n";
        return nullptr;
    }
    PostgresPollingStatusType step = PGRES_POLLING_WRITING;
    while (libpq().PQstatus(conn) != CONNECTION_BAD && step != PGRES_POLLING_OK && step != PGRES_POLLING_FAILED) {
        const short events = step == PGRES_POLLING_READING ? POLLIN : POLLOUT;
        if (net_wait(libpq().PQsocket(conn), events, deadline) == NetWait::timed_out) {
            // As libpq's blocking connect says it.
            error = std::string(libpq().PQerrorMessage(conn)) + "timeout expired\n";
            libpq().PQfinish(conn);
            return nullptr;
        }
        step = libpq().PQconnectPoll(conn);
    }
    if (libpq().PQstatus(conn) != CONNECTION_BAD) return conn;
    error = libpq().PQerrorMessage(conn);
    libpq().PQfinish(conn);
    return nullptr;
}

PGresult *pg_exec(PGconn *conn, const char *sql)
{
    return run_statement(conn, OnSignal::safe_point, [&] { return libpq().PQsendQuery(conn, sql); });
}

int pg_lo_read(PGconn *conn, int fd, char *buffer, std::size_t size)
{
    const std::string fd_text = std::to_string(fd), size_text = std::to_string(size);
    const char *values[] = {fd_text.c_str(), size_text.c_str()};
    PGresult *res = run_statement(conn, OnSignal::give_up, [&] {
        return libpq().PQsendQueryParams(conn, "SELECT pg_catalog.loread($1, $2)", 2, nullptr, values, nullptr,
                                         nullptr, 1);
    });
    int n = -1;
    if (libpq().PQresultStatus(res) == PGRES_TUPLES_OK && libpq().PQntuples(res) == 1 && libpq().PQnfields(res) == 1) {
        n = std::min(libpq().PQgetlength(res, 0, 0), static_cast<int>(size));
        std::memcpy(buffer, libpq().PQgetvalue(res, 0, 0), static_cast<std::size_t>(n));
    }
    libpq().PQclear(res);
    return n;
}

std::int64_t pg_lo_lseek64(PGconn *conn, int fd, std::int64_t offset, int whence)
{
    const std::string fd_text = std::to_string(fd), offset_text = std::to_string(offset),
                      whence_text = std::to_string(whence);
    const char *values[] = {fd_text.c_str(), offset_text.c_str(), whence_text.c_str()};
    PGresult *res = run_statement(conn, OnSignal::give_up, [&] {
        return libpq().PQsendQueryParams(conn, "SELECT pg_catalog.lo_lseek64($1, $2, $3)", 3, nullptr, values, nullptr,
                                         nullptr, 0);
    });
    std::int64_t at = -1;
    if (libpq().PQresultStatus(res) == PGRES_TUPLES_OK && libpq().PQntuples(res) == 1 && libpq().PQnfields(res) == 1)
        at = std::strtoll(libpq().PQgetvalue(res, 0, 0), nullptr, 10);
    libpq().PQclear(res);
    return at;
}
