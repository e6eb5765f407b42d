// The PostgreSQL layer at program end: results the program never cleared are reported and freed,
// connections finished, and the statement statistics printed (and mailed for a busy process).
#include <cstdio>
#include <string>

#include "libpq_calls.h"
#include "mem_mgt.h"
#include "message.h"
#include "pg_internal.h"

namespace {

constexpr std::uint64_t MAILED_ABOVE = 100000;

double share(std::uint64_t count) { return 100.0 * static_cast<double>(count) / static_cast<double>(pg_req_count); }

// The statistics after their heading lines.
std::string statistics_body(bool signed_selects)
{
    const std::uint64_t writes = pg_insert_count + pg_update_count + pg_delete_count + pg_truncate_count +
                                 pg_comment_count;
    const std::uint64_t selects = pg_select_count;
    char text[1024];
    std::snprintf(text, sizeof text,
                  signed_selects ? "Selects: %zd (%.2lf)\n" : "Selects: %zu (%.2lf)\n",
                  static_cast<std::size_t>(selects), share(selects));
    std::string body = text;
    std::snprintf(text, sizeof text,
                  "Inserts: %zu (%.2lf)\nUpdates: %zu (%.2lf)\nDeletes: %zu (%.2lf)\nTruncates: %zu (%.2lf)\n"
                  "Comments: %zu (%.2lf)\nRead/Write ratio: %.3lf (1/%.3lf)\nBegins: %zu (%.2lf)\n"
                  "Commits: %zu (%.2lf)\nRollbacks: %zu (%.2lf)\n",
                  static_cast<std::size_t>(pg_insert_count), share(pg_insert_count),
                  static_cast<std::size_t>(pg_update_count), share(pg_update_count),
                  static_cast<std::size_t>(pg_delete_count), share(pg_delete_count),
                  static_cast<std::size_t>(pg_truncate_count), share(pg_truncate_count),
                  static_cast<std::size_t>(pg_comment_count), share(pg_comment_count),
                  static_cast<double>(selects) / static_cast<double>(writes + 1),
                  static_cast<double>(writes) / static_cast<double>(selects + 1),
                  static_cast<std::size_t>(pg_begin_count), share(pg_begin_count),
                  static_cast<std::size_t>(pg_commit_count), share(pg_commit_count),
                  static_cast<std::size_t>(pg_rollback_count), share(pg_rollback_count));
    return body + text;
}

} // namespace

void FreeAllPgRes()
{
    int orphans = 0;
    for (unsigned i = 1; i < pgrestabsize; ++i) {
        PgResEntry &e = restab[i];
        if (e.res) {
            libpq().PQclear(e.res);
            e.res = nullptr;
            if (e.sql)
                std::printf("Orphan %d: EX %s [%s]\n", ++orphans, e.routine ? e.routine : "(null)", e.sql);
        }
        DPS_FREE(e.sql);
        DPS_FREE(e.routine);
    }
    pg_free_tables_storage(false);
    if (orphans) std::printf("Postgresql MEMLEAK: %d results not cleared\n", orphans);
    std::fflush(stdout);
}

void FreeAllPgConn()
{
    pg_free_prepared();
    for (unsigned i = 1; i < pgctabsize; ++i)
        if (contab[i].conn) libpq().PQfinish(contab[i].conn);
    pg_free_tables_storage(true);
    inPgTransaction = 0;

    if (pg_req_count > MAILED_ABOVE)
        Email(DB_TRANSACTION_ADDRESS, "PgSQL query statistics based on %zu requests in total\n%s",
              static_cast<std::size_t>(pg_req_count), statistics_body(true).c_str());
    if (pg_req_count != 0) {
        std::fprintf(stderr, "PgSQL stats:\nRequests: %zu\n%s", static_cast<std::size_t>(pg_req_count),
                     statistics_body(false).c_str());
        std::fflush(stderr);
    }
    DPS_FREE(lasterrmsg);
    DPS_FREE(lastsqlstate);
}
