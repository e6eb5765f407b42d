// The statement wrapper every statement of the PostgreSQL layer passes through: classification
// and counting, the transaction-discipline mails, the run-time log lines, timing and the mail
// about slow statements; the count of connections inside a transaction block; the last error.
#include <cstring>
#include <string>
#include <unistd.h>

#include "applications.h"
#include "gdata.h"
#include "interp.h"
#include "libpq_calls.h"
#include "mem_mgt.h"
#include "misc.h"
#include "message.h"
#include "pg_internal.h"
#include "run_time.h"
#include "signals.h"

int inPgTransaction;
char *lasterrmsg;
char *lastsqlstate;
std::uint64_t pg_req_count, pg_select_count, pg_insert_count, pg_update_count, pg_delete_count, pg_truncate_count,
    pg_comment_count, pg_begin_count, pg_commit_count, pg_rollback_count;

namespace {

constexpr long long SLOW_STATEMENT_MS = 4000;
constexpr int OPEN_TRANSACTIONS_EXPECTED = 3;
constexpr std::size_t PREP_NAME_SIZE = 32;

// What a PREPARE said its statement does, found again by the name an EXECUTE gives.
struct PgPrepRecord {
    char name[PREP_NAME_SIZE];
    int select, insert, update, commit, begin, del, truncate, rollback, comment;
    PgPrepRecord *next;
};
PgPrepRecord *Prep;

enum class Mail { never, outside_transaction, always };

struct Rule {
    const char *prefix;
    std::size_t compared;
    std::uint64_t *counter;
    Mail when;            // with strict statements only
    const char *message;  // its %s is the routine name
};

// In this order: the first prefix that matches decides.
const Rule rules[] = {
    {"SELECT", 6, &pg_select_count, Mail::never, nullptr},
    {"INSERT", 6, &pg_insert_count, Mail::outside_transaction, "%s:INSERT is not allowed outside SQL transaction"},
    {"UPDATE", 6, &pg_update_count, Mail::outside_transaction, "%s:UPDATE is not allowed outside SQL transaction"},
    {"DELETE", 6, &pg_delete_count, Mail::outside_transaction, "%s:DELETE is not allowed outside SQL transaction"},
    {"TRUNCATE", 6, &pg_truncate_count, Mail::outside_transaction,
     "%s:TRUNCATE is not allowed outside SQL transaction"},
    {"COMMENT", 7, &pg_comment_count, Mail::outside_transaction, "%s:No COMMENT is allowed outside ipqcommit !"},
    {"COMMIT", 6, &pg_commit_count, Mail::always, "%s:No COMMIT is allowed outside ipqcommit !"},
    {"BEGIN", 5, &pg_begin_count, Mail::always, "%s:No BEGIN is allowed outside ipqbegin !"},
    {"START TRANS", 11, &pg_begin_count, Mail::always, "%s:No BEGIN is allowed outside ipqbegin !"},
    {"ROLLBACK", 8, &pg_rollback_count, Mail::always, "%s:No ROLLBACK is allowed outside ipqrollback !"},
};

bool starts_with(const char *text, const char *prefix, std::size_t n) { return g_ascii_strncasecmp(text, prefix, n) == 0; }

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The statement name after EXECUTE or PREPARE: up to a blank, a parameter list or the end, at most
// 31 characters. A name ends at "(" too, so "EXECUTE ins(1)" finds "PREPARE ins(int) AS ...".
std::string statement_name(const char *&p)
{
    while (is_blank(*p)) ++p;
    std::string name;
    while (*p && !is_blank(*p) && *p != '(' && *p != ';') {
        if (name.size() < PREP_NAME_SIZE - 1) name += *p;
        ++p;
    }
    return name;
}

PgPrepRecord *find_prepared(const std::string &name)
{
    for (PgPrepRecord *r = Prep; r; r = r->next)
        if (g_ascii_strcasecmp(r->name, name.c_str()) == 0) return r;
    return nullptr;
}

bool mentions(const char *text, const char *word) { return strcasestr(text, word) != nullptr; }

void prepare(const char *after_keyword)
{
    const char *p = after_keyword;
    const std::string name = statement_name(p);
    PgPrepRecord *r = find_prepared(name);
    if (!r) {
        r = static_cast<PgPrepRecord *>(zerobuf(1, sizeof(PgPrepRecord)));
        std::memcpy(r->name, name.data(), name.size());
        PgPrepRecord **tail = &Prep;
        while (*tail) tail = &(*tail)->next;
        *tail = r;
    }
    r->select = mentions(p, "SELECT");
    r->insert = mentions(p, "insert");
    r->update = mentions(p, "update");
    r->commit = mentions(p, "commit");
    r->begin = mentions(p, "begin");
    r->del = mentions(p, "delete");
    r->truncate = mentions(p, "truncate");
    r->rollback = mentions(p, "rollback");
    r->comment = mentions(p, "comment");
}

void execute(PGconn *conn, const char *after_keyword, int strict)
{
    const char *p = after_keyword;
    const PgPrepRecord *r = find_prepared(statement_name(p));
    if (!r) return;
    if (strict == 1 && OskaPQTransactionStatus(conn) == 0) {
        const char *routine = pg_mail_routine();
        if (r->insert) Email(TRANSACTION_LOG_ADDRESS, "%s:INSERT in EXECUTE is not allowed outside SQL transaction", routine);
        if (r->update) Email(TRANSACTION_LOG_ADDRESS, "%s:UPDATE in EXECUTE is not allowed outside SQL transaction", routine);
        if (r->del) Email(TRANSACTION_LOG_ADDRESS, "%s:DELETE in EXECUTE is not allowed outside SQL transaction", routine);
        if (r->truncate)
            Email(TRANSACTION_LOG_ADDRESS, "%s:TRUNCATE in EXECUTE is not allowed outside SQL transaction", routine);
        if (r->comment)
            Email(TRANSACTION_LOG_ADDRESS, "%s:COMMENT in EXECUTE is not allowed outside SQL transaction", routine);
    }
    pg_select_count += r->select;
    pg_insert_count += r->insert;
    pg_update_count += r->update;
    pg_delete_count += r->del;
    pg_truncate_count += r->truncate;
    pg_begin_count += r->begin;
    pg_commit_count += r->commit;
    pg_comment_count += r->comment;
    pg_rollback_count += r->rollback;
}

void plain_sleep(unsigned seconds)
{
    // A signal cuts a sleep short: act on it at this safe point, then sleep the rest.
    while (seconds > 0) {
        seconds = sleep(seconds);
        check_signals();
    }
}

PgClock statement_clock = DpsStartTimer;
PgSleep connect_sleep = plain_sleep;

bool statement_log_on()
{
    return (global_data ? global_data->log_level_lumbas : Lumba_Log_Level) >= 0;
}

char *copy_or_null(const char *text) { return text ? Strcpy(text) : nullptr; }

} // namespace

const char *pg_mail_routine()
{
    return cur_routine > 0 && Rname ? Rname : "__MAIN__";
}

std::int64_t pg_clock_now() { return statement_clock(); }
void pg_connect_pause(unsigned seconds) { connect_sleep(seconds); }

PgClock set_pg_statement_clock(PgClock clock)
{
    PgClock previous = statement_clock;
    statement_clock = clock ? clock : DpsStartTimer;
    return previous;
}

PgSleep set_pg_connect_sleep(PgSleep sleep)
{
    PgSleep previous = connect_sleep;
    connect_sleep = sleep ? sleep : plain_sleep;
    return previous;
}

void pg_free_prepared()
{
    while (Prep) {
        PgPrepRecord *next = Prep->next;
        sfree(Prep);
        Prep = next;
    }
}

void OskaPQcheck(PGconn *conn, const char *sql, int strict)
{
    if (inPgTransaction > OPEN_TRANSACTIONS_EXPECTED)
        Email(TRANSACTION_LOG_ADDRESS, "%s:Transaction count(%i) is above expected count of 3", pg_mail_routine(),
              inPgTransaction);
    const char *p = sql;
    while (is_blank(*p)) ++p;
    for (const Rule &rule : rules) {
        if (!starts_with(p, rule.prefix, rule.compared)) continue;
        ++*rule.counter;
        if (strict == 1 && rule.when != Mail::never &&
            (rule.when == Mail::always || OskaPQTransactionStatus(conn) == 0))
            Email(TRANSACTION_LOG_ADDRESS, rule.message, pg_mail_routine());
        return;
    }
    if (starts_with(p, "EXECUTE", 7)) execute(conn, p + 7, strict);
    else if (starts_with(p, "PREPARE", 7)) prepare(p + 7);
}

PGresult *OskaPQexec(PGconn *conn, const char *sql, int strict)
{
    OskaPQcheck(conn, sql, strict);
    ++pg_req_count;
    const std::int64_t t0 = pg_clock_now();
    const bool logged = statement_log_on();
    if (logged) {
        const char *file = LoadedFileName(src_file_index);
        _mlog(1, 0, " ** %s at %s:%d\n -- SQL: %s", CurrentRoutineName(), file ? file : "", src_line_number, sql);
    }
    PGresult *res = pg_exec(conn, sql);
    const std::int64_t elapsed = pg_clock_now() - t0;
    const float seconds = static_cast<float>(elapsed) / 1000.0f;
    if (logged) _mlog(1, 0, " -\\ %.2fs", static_cast<double>(seconds));
    pg_count_transactions();
    if (elapsed > SLOW_STATEMENT_MS) Email(DB_TRANSACTION_ADDRESS, "%.2fs query: %s", static_cast<double>(seconds), sql);
    return res;
}

int OskaPQTransactionStatus(PGconn *conn)
{
    switch (libpq().PQtransactionStatus(conn)) {
    case PQTRANS_INTRANS:
        return 1;
    case PQTRANS_UNKNOWN:
        Abort("OskaPgTransactionStatus: database connection \"%i\" in invalid state", conngethdl(conn));
    default:
        return 0;
    }
}

int OskaPgTransactionStatus(std::uint16_t handle)
{
    return OskaPQTransactionStatus(hdlgetconn(handle));
}

void pg_count_transactions()
{
    int open = 0;
    for (unsigned i = 1; i < pgctabsize; ++i) {
        if (!contab[i].conn) continue;
        const PGTransactionStatusType s = libpq().PQtransactionStatus(contab[i].conn);
        open += s == PQTRANS_INTRANS || s == PQTRANS_INERROR;
    }
    inPgTransaction = open;
}

void setreserrmsgs(const PGresult *res)
{
    DPS_FREE(lasterrmsg);
    DPS_FREE(lastsqlstate);
    lasterrmsg = Strcpy(libpq().PQresultErrorMessage(res));
    lastsqlstate = copy_or_null(libpq().PQresultErrorField(res, PG_DIAG_SQLSTATE));
}

void keep_error(PGconn *conn, const PGresult *res)
{
    if (res) {
        setreserrmsgs(res);
        return;
    }
    DPS_FREE(lastsqlstate);
    keep_error_text(libpq().PQerrorMessage(conn));
}

void keep_error_text(const char *message)
{
    DPS_FREE(lasterrmsg);
    lasterrmsg = Strcpy(message);
}

char *pg_last_error_for_program()
{
    if (!lasterrmsg) return Strcpy("");
    std::fprintf(stderr, "returning %s", lasterrmsg);
    std::fflush(stderr);
    return Strcpy(lasterrmsg);
}

std::string pg_escape(PGconn *conn, const char *text)
{
    const std::size_t n = std::strlen(text);
    std::string out(2 * n + 1, '\0');
    int error = 0;
    out.resize(libpq().PQescapeStringConn(conn, out.data(), text, n, &error));
    return out;
}

bool pg_column_name(std::string_view name)
{
    // A leading "$" would open a dollar-quoted string that runs into the values.
    if (name.empty() || !(g_ascii_isalpha(name.front()) || name.front() == '_')) return false;
    for (char c : name)
        if (!(g_ascii_isalnum(c) || c == '_' || c == '$')) return false;
    return true;
}

bool pg_table_name(std::string_view name)
{
    const std::size_t dot = name.find('.');
    if (dot == std::string_view::npos) return pg_column_name(name);
    return pg_column_name(name.substr(0, dot)) && pg_column_name(name.substr(dot + 1));
}
