// Connections, statements and transactions through the intrinsics, against the scratch cluster:
// handle tables, connecting with retries, statement classification and its mails, timing, the
// transaction intrinsics and the count of open transactions, statement files and clearing.
#include <fstream>

#include "net_wait.h"
#include "pg_fixture.h"
#include "planted.h"
#include "stall.h"

namespace {

using lumba_test::abort_text;
using lumba_test::pg_cluster;

class PgConnections : public PgTest {};

} // namespace

TEST_F(PgConnections, HandlesAreSlotsIssuedInOrderAndReused)
{
    // Each step: the intrinsic on a handle, and its result.
    enum Op { CONNECT, CLOSE, PID };
    struct {
        Op op;
        long handle;  // for CLOSE and PID
        long result;  // PID: 1 when a server process answers, -1 for a bad handle
    } steps[] = {
        {CONNECT, 0, 1}, {CONNECT, 0, 2},
        {PID, 3, -1},        // the table has grown to 3 entries: 3 is no handle
        {CLOSE, 3, 0},
        {PID, 65537, 1},     // only the low 16 bits count: handle 1
        {CLOSE, 1, 1}, {CONNECT, 0, 1},  // the slot freed last is issued next
        {CLOSE, 1, 1}, {CLOSE, 1, 0},    // a second close finds no connection
        {PID, 1, -1},
        {CONNECT, 0, 1}, {CONNECT, 0, 3},  // then the table grows again
        {CLOSE, 0, 0}, {CLOSE, -1, 0},
    };
    int i = 0;
    for (const auto &s : steps) {
        long got = 0;
        if (s.op == CONNECT) got = connect();
        if (s.op == CLOSE) got = numeric(in_IPQCLOSE, {num(s.handle)});
        if (s.op == PID) {
            got = numeric(in_IPQBACKENDPID, {num(s.handle)});
            if (got > 0) got = 1;
        }
        EXPECT_EQ(got, s.result) << "step " << i;
        ++i;
    }
    EXPECT_EQ(pgctabsize, 5);
}

TEST_F(PgConnections, ResultTableStopsAtItsLastSixteenBitHandle)
{
    // 65535 entries hold handles 1 to 65534; one more would wrap the size and reissue handle 1.
    int last = 0;
    for (int i = 1; i <= 65534; ++i) last = allocreshdl(PQmakeEmptyPGresult(nullptr, PGRES_COMMAND_OK));
    EXPECT_EQ(last, 65534);
    EXPECT_EQ(pgrestabsize, 65535);
    PGresult *one_more = PQmakeEmptyPGresult(nullptr, PGRES_COMMAND_OK);
    EXPECT_EQ(abort_text([&] { allocreshdl(one_more); }), "allocreshhdl: Could not allocate memory");
    PQclear(one_more);
    EXPECT_EQ(pgrestabsize, 65535);
    // A freed slot is still issued.
    EXPECT_EQ(clear(700), 1);
    EXPECT_EQ(allocreshdl(PQmakeEmptyPGresult(nullptr, PGRES_COMMAND_OK)), 700);
    finish_pg();
    EXPECT_EQ(exit_out, "");  // results without a statement are no orphans of the program
}

TEST_F(PgConnections, FailedConnectRetriesSixTimesWithGrowingPauses)
{
    const std::string nowhere = "host=/nonexistent/lumba dbname=postgres connect_timeout=2";
    EXPECT_EQ(numeric(in_IPQCONNECTDB, {str(nowhere)}), 0);
    EXPECT_EQ(slept(), (std::vector<unsigned>{3, 4, 5, 6, 7}));
    // The message is libpq's own for that connection string.
    PGconn *peer = PQconnectdb(nowhere.c_str());
    const std::string expected = PQerrorMessage(peer);
    PQfinish(peer);
    EXPECT_NE(expected, "");
    EXPECT_EQ(errmsg(), expected);
    EXPECT_EQ(pgctabsize, 0);  // nothing was allocated
}

TEST_F(PgConnections, AConnectToAStoppedServerGivesUpAfterItsTimeOut)
{
    // The server takes the connection (the kernel does) and never answers. Each of the six
    // attempts waits the default time-out, or the connection text's own when it gives one: the
    // six ends come promptly after that, far below the other's six.
    const std::string conninfo = pg_cluster().conninfo();
    struct {
        const char *extra;
        int default_ms;
        double least;  // seconds, for the six attempts
    } cases[] = {
        {"", 300, 1.8},
        {" connect_timeout=2", 600000, 12},
    };
    lumba_test::Stopped held(pg_cluster().postmaster_pid());
    for (const auto &c : cases) {
        set_net_timeouts({c.default_ms, 0});
        slept().clear();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(numeric(in_IPQCONNECTDB, {str(conninfo + c.extra)}), 0) << c.extra;
        const double took = lumba_test::seconds_since(start);
        EXPECT_GE(took, c.least) << c.extra;
        EXPECT_LT(took, c.least + lumba_test::scaled_ms(lumba_test::PROMPT_MS) / 1000.0) << c.extra;
        EXPECT_EQ(slept(), (std::vector<unsigned>{3, 4, 5, 6, 7})) << c.extra;
        EXPECT_NE(errmsg().find("timeout expired"), std::string::npos) << errmsg();
    }
    set_net_timeouts({0, 0});
}

TEST_F(PgConnections, AWholeConnectEndsAtItsTotalTimeOut)
{
    // Six attempts of a default time-out and their pauses would freeze a form for minutes: the
    // whole connect ends at its total (shortened here). A connect_timeout of the connection text
    // still bounds its attempt, and no attempt is made that its pause would leave no time for.
    const std::string conninfo = pg_cluster().conninfo();
    struct {
        const char *extra;
        int default_ms, total_ms;
        double least;  // seconds
        std::vector<unsigned> pauses;
    } cases[] = {
        {"", 5000, 1000, 1.0, {}},                       // the attempt cut at the total
        {" connect_timeout=2", 600000, 1000, 2.0, {}},   // the program's own time-out rules it
        {"", 300, 8500, 1.5, {3, 4, 5, 6}},              // a sixth attempt would follow a 7 s pause
    };
    lumba_test::Stopped held(pg_cluster().postmaster_pid());
    for (const auto &c : cases) {
        set_net_timeouts({c.default_ms, 0});
        set_pg_connect_total_ms(c.total_ms);
        slept().clear();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(numeric(in_IPQCONNECTDB, {str(conninfo + c.extra)}), 0) << c.extra;
        const double took = lumba_test::seconds_since(start);
        EXPECT_GE(took, c.least) << c.extra;
        EXPECT_LT(took, c.least + lumba_test::scaled_ms(lumba_test::PROMPT_MS) / 1000.0) << c.extra;
        EXPECT_EQ(slept(), c.pauses) << c.extra;
        EXPECT_NE(errmsg().find("timeout expired"), std::string::npos) << errmsg();
    }
    EXPECT_EQ(set_pg_connect_total_ms(0), 8500);
    EXPECT_EQ(set_pg_connect_total_ms(0), PG_CONNECT_TOTAL_MS);
    set_net_timeouts({0, 0});
}

TEST_F(PgConnections, StatementsAreClassifiedCountedAndMailed)
{
    const long c = connect();
    ASSERT_EQ(c, 1);
    pg_cluster().query("DROP TABLE IF EXISTS classify; CREATE TABLE classify (a int)");
    const std::string translog = TRANSACTION_LOG_ADDRESS;
    struct {
        const char *sql;
        std::uint64_t *counter;  // nullptr: no counter moves
        const char *mail;        // "" none
        long in_block;           // IPQTRANSACTIONSTATUS afterwards
    } cases[] = {
        {" \n\r\tselect 1", &pg_select_count, "", 0},
        {"SeLeCt 2", &pg_select_count, "", 0},
        {"insert into classify values (1)", &pg_insert_count, "__MAIN__:INSERT is not allowed outside SQL transaction", 0},
        {"update classify set a = 2", &pg_update_count, "__MAIN__:UPDATE is not allowed outside SQL transaction", 0},
        {"delete from classify", &pg_delete_count, "__MAIN__:DELETE is not allowed outside SQL transaction", 0},
        {"TRUNCATE classify", &pg_truncate_count, "__MAIN__:TRUNCATE is not allowed outside SQL transaction", 0},
        {"truncated nonsense", &pg_truncate_count, "__MAIN__:TRUNCATE is not allowed outside SQL transaction", 0},
        {"COMMENT ON TABLE classify IS 'x'", &pg_comment_count, "__MAIN__:No COMMENT is allowed outside ipqcommit !", 0},
        {"create index on classify (a)", nullptr, "", 0},
        {"PREPARE ins (int) AS INSERT INTO classify VALUES ($1)", nullptr, "", 0},
        {"EXECUTE ins(5)", &pg_insert_count, "__MAIN__:INSERT in EXECUTE is not allowed outside SQL transaction", 0},
        {"execute unknown_statement", nullptr, "", 0},
        {"BEGIN", &pg_begin_count, "__MAIN__:No BEGIN is allowed outside ipqbegin !", 1},
        {"insert into classify values (3)", &pg_insert_count, "", 1},  // inside the block: no mail
        {"EXECUTE ins(6)", &pg_insert_count, "", 1},
        {"COMMIT", &pg_commit_count, "__MAIN__:No COMMIT is allowed outside ipqcommit !", 0},
        {"start transaction", &pg_begin_count, "__MAIN__:No BEGIN is allowed outside ipqbegin !", 1},
        {"ROLLBACK", &pg_rollback_count, "__MAIN__:No ROLLBACK is allowed outside ipqrollback !", 0},
    };
    for (const auto &k : cases) {
        std::vector<std::uint64_t> before;
        for (std::uint64_t *n : counters()) before.push_back(*n);
        lumba_test::mail_reports().clear();
        testing::internal::CaptureStderr();  // failing statements write the error log line
        const long res = exec(c, k.sql);
        testing::internal::GetCapturedStderr();
        if (res) clear(res);
        auto all = counters();
        for (std::size_t i = 0; i < all.size(); ++i) {
            const std::uint64_t moved = (all[i] == k.counter ? 1 : 0) + (i == 0 ? 1 : 0);  // requests always
            EXPECT_EQ(*all[i] - before[i], moved) << k.sql << " counter " << i;
        }
        const auto mails = lumba_test::mail_reports();
        if (*k.mail) {
            ASSERT_EQ(mails.size(), 1u) << k.sql;
            EXPECT_EQ(mails[0].text, k.mail);
            EXPECT_EQ(mails[0].recipient, translog);
            EXPECT_FALSE(mails[0].debug);
        } else {
            EXPECT_TRUE(mails.empty()) << k.sql << ": " << (mails.empty() ? "" : mails[0].text);
        }
        EXPECT_EQ(status(c), k.in_block) << k.sql;
        EXPECT_EQ(inPgTransaction, k.in_block) << k.sql;
    }
    // The statements were run, not only counted: 1 and 5 were written outside, 3 and 6 committed.
    EXPECT_EQ(pg_cluster().query("SELECT string_agg(a::text, ',' ORDER BY a) FROM classify"), "3,5,6");
}

TEST_F(PgConnections, MailsNameTheRunningRoutine)
{
    const long c = connect();
    cur_routine = 2;
    Rname = "IPQEXEC";  // what the executor names while an intrinsic runs
    clear(exec(c, "create temp table t (a int)"));
    clear(exec(c, "insert into t values (1)"));
    EXPECT_EQ(lumba_test::mailed(), (std::vector<std::string>{"IPQEXEC:INSERT is not allowed outside SQL transaction"}));
}

TEST_F(PgConnections, SlowStatementsAreMailedAboveFourSeconds)
{
    struct {
        long long elapsed;
        const char *mail;
    } cases[] = {{4000, nullptr}, {4001, "4.00s query: select 1"}, {12345, "12.35s query: select 1"}};
    const long c = connect();
    static std::int64_t step;
    static int calls;
    // The clock is read before and after each statement.
    set_pg_statement_clock([]() -> std::int64_t { return 1000000 + (calls++ % 2 ? step : 0); });
    for (const auto &k : cases) {
        step = k.elapsed;
        lumba_test::mail_reports().clear();
        clear(exec(c, "select 1"));
        auto mails = mails_to(DB_TRANSACTION_ADDRESS);
        if (k.mail)
            EXPECT_EQ(mails, std::vector<std::string>{k.mail}) << k.elapsed;
        else
            EXPECT_TRUE(mails.empty()) << k.elapsed;
        EXPECT_EQ(lumba_test::mail_reports().size(), mails.size());
    }
}

TEST_F(PgConnections, BeginAndCommit)
{
    const long c = connect();
    const std::size_t mark = pg_cluster().log_size();
    EXPECT_EQ(commit(c), 0);  // no transaction: nothing is sent
    EXPECT_EQ(lumba_test::mail_reports().size(), 1u);
    EXPECT_TRUE(lumba_test::mail_reports()[0].debug);
    EXPECT_EQ(lumba_test::mail_reports()[0].text, "IPQCOMMIT: PgSQL transaction is rather in an error state");
    EXPECT_EQ(lumba_test::mail_reports()[0].recipient, DB_TRANSACTION_ADDRESS);
    EXPECT_TRUE(pg_cluster().statements_since(mark).empty());

    lumba_test::mail_reports().clear();
    lumba_test::mailed().clear();
    begin(c);
    EXPECT_EQ(inPgTransaction, 1);
    EXPECT_EQ(status(c), 1);
    begin(c);  // already open: reported, nothing sent
    EXPECT_EQ(lumba_test::mailed(), std::vector<std::string>{"IPQBEGIN: PgSQL transaction is already opened"});
    EXPECT_EQ(commit(c), 1);
    EXPECT_EQ(inPgTransaction, 0);
    EXPECT_EQ(status(c), 0);
    EXPECT_EQ(pg_cluster().statements_since(mark), (std::vector<std::string>{"BEGIN", "COMMIT"}));

    lumba_test::mailed().clear();
    rollback(c);
    EXPECT_EQ(lumba_test::mailed(), std::vector<std::string>{"IPQROLLBACK: PgSQL transaction is not in progress"});
    lumba_test::mailed().clear();
    EXPECT_EQ(commit(7), 0);
    EXPECT_EQ(lumba_test::mailed(), std::vector<std::string>{"IPQCOMMIT: unexpected return pgctabsize 3 chdl = 7 **\n"});
    begin(0);
    rollback(9);
    EXPECT_EQ(lumba_test::mailed().size(), 1u);  // bad handles do nothing
}

TEST_F(PgConnections, RollbackRecoversFromAFailedStatement)
{
    pg_cluster().query("DROP TABLE IF EXISTS recover; CREATE TABLE recover (a int PRIMARY KEY)");
    const long c = connect();
    const long pid = numeric(in_IPQBACKENDPID, {num(c)});
    begin(c);
    clear(exec(c, "insert into recover values (1)"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(exec(c, "insert into recover values (1)"), 0);  // duplicate key: the block has failed
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(status(c), 0);
    EXPECT_EQ(inPgTransaction, 1);  // still inside a (failed) block
    lumba_test::mailed().clear();
    rollback(c);
    EXPECT_TRUE(lumba_test::mailed().empty());
    EXPECT_EQ(inPgTransaction, 0);
    EXPECT_EQ(pg_cluster().query("SELECT count(*) FROM recover"), "0");
    EXPECT_EQ(pg_cluster().query("SELECT state FROM pg_stat_activity WHERE pid = " + std::to_string(pid)), "idle");
    // The connection goes on working.
    begin(c);
    EXPECT_EQ(commit(c), 1);
}

TEST_F(PgConnections, OpenTransactionCountFollowsEveryWayABlockEnds)
{
    pg_cluster().query("DROP TABLE IF EXISTS deferred; CREATE TABLE deferred (a int UNIQUE DEFERRABLE INITIALLY DEFERRED)");
    const long a = connect(), b = connect(), c = connect();
    begin(a);
    begin(b);
    begin(c);
    EXPECT_EQ(inPgTransaction, 3);

    // COMMIT written by the program ends the block too.
    clear(exec(a, "COMMIT"));
    EXPECT_EQ(inPgTransaction, 2);

    // A COMMIT the server refuses (a deferred constraint) ends the block and answers 0.
    clear(exec(b, "insert into deferred values (1)"));
    clear(exec(b, "insert into deferred values (1)"));
    EXPECT_EQ(commit(b), 0);
    EXPECT_EQ(inPgTransaction, 1);
    EXPECT_NE(errmsg().find("duplicate key"), std::string::npos);
    testing::internal::CaptureStderr();
    EXPECT_EQ(text(in_IPQERRCODE), "23505");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "23505");

    // Closing a connection inside a block.
    EXPECT_EQ(numeric(in_IPQCLOSE, {num(c)}), 1);
    EXPECT_EQ(inPgTransaction, 0);
    EXPECT_EQ(pg_cluster().query("SELECT count(*) FROM deferred"), "0");
}

TEST_F(PgConnections, MoreThanThreeOpenTransactionsAreMailed)
{
    long c[4];
    for (long &h : c) h = connect();
    for (long h : c) begin(h);
    EXPECT_EQ(inPgTransaction, 4);
    lumba_test::mail_reports().clear();
    clear(exec(c[0], "select 1"));
    EXPECT_EQ(mails_to(TRANSACTION_LOG_ADDRESS),
              std::vector<std::string>{"__MAIN__:Transaction count(4) is above expected count of 3"});
    EXPECT_EQ(commit(c[3]), 1);
    lumba_test::mail_reports().clear();
    clear(exec(c[0], "select 1"));
    EXPECT_TRUE(lumba_test::mail_reports().empty());
}

TEST_F(PgConnections, TransactionStatusOfAClosedConnectionStops)
{
    const long c = connect();
    numeric(in_IPQCLOSE, {num(c)});
    EXPECT_EQ(abort_text([&] { status(c); }), "OskaPgTransactionStatus: database connection \"0\" in invalid state");
}

// IPQEXEC on a bad handle (0, beyond the table, or a closed connection's) answers 0 whatever the
// statement, writes and transaction statements included: nothing is sent, counted, mailed or kept
// as the last error.
TEST_F(PgConnections, ExecOnABadHandleAnswersZero)
{
    const long c = connect();
    const long closed = connect();
    numeric(in_IPQCLOSE, {num(closed)});
    testing::internal::CaptureStderr();
    EXPECT_EQ(exec(c, "select * from no_such_table"), 0);
    testing::internal::GetCapturedStderr();
    const std::string error = errmsg();
    const std::vector<std::string> statements = {
        "select 1", "insert into x values (1)", "  UPDATE x SET a = 1", "delete from x", "TRUNCATE x",
        "COMMENT ON TABLE x IS 'y'", "COMMIT", "BEGIN", "ROLLBACK", "PREPARE p AS INSERT INTO x VALUES (1)",
        "EXECUTE p", "create table x (a int)"};
    const std::size_t mark = pg_cluster().log_size();
    for (long handle : {0L, 3L, 65536L, closed}) {
        for (const std::string &sql : statements) {
            long result = -1;
            EXPECT_EQ(abort_text([&] { result = exec(handle, sql); }), "") << handle << ": " << sql;
            EXPECT_EQ(result, 0) << handle << ": " << sql;
        }
    }
    EXPECT_EQ(pg_cluster().statements_since(mark), std::vector<std::string>{});
    EXPECT_EQ(lumba_test::mailed(), std::vector<std::string>{});
    EXPECT_EQ(pg_req_count, 1u) << "only the statement on the good handle";
    EXPECT_EQ(pg_insert_count + pg_update_count + pg_delete_count + pg_begin_count + pg_commit_count, 0u);
    EXPECT_EQ(errmsg(), error);
}

TEST_F(PgConnections, ExecReportsFailuresAndClearIsOnce)
{
    const long c = connect();
    testing::internal::CaptureStderr();
    EXPECT_EQ(exec(c, "select * from no_such_table"), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(errmsg().rfind("ERROR:  relation \"no_such_table\" does not exist\n", 0), 0u);
    const long r = exec(c, "select 1");
    EXPECT_EQ(r, 1);
    EXPECT_EQ(clear(r), 1);
    EXPECT_EQ(clear(r), 0);
    EXPECT_EQ(mails_to(TRANSACTION_LOG_ADDRESS), std::vector<std::string>{"ipqclear(1): Result set already cleared"});
    EXPECT_EQ(clear(0), 0);
    EXPECT_EQ(clear(2), 0);  // the table has 3 entries; slot 2 was never issued
    EXPECT_EQ(clear(3), 0);
}

TEST_F(PgConnections, StatementFiles)
{
    const long c = connect();
    // The run-time looks in the site's apps/sql for relative names (this test program runs in a
    // private site tree).
    unsetenv("PPATH");
    g_mkdir_with_parents(PPATH_ROOT "/apps/sql", 0755);
    std::ofstream(PPATH_ROOT "/apps/sql/two.sql") << "create temp table f (a int); insert into f values (4), (5);\n"
                                                     "select sum(a) from f;";
    const long r = numeric(in_IPQEXECFILE, {num(c), str("two.sql")});
    ASSERT_GT(r, 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(text(in_IPQGETVALUE, {num(r), num(0), num(0)}), "9");
    testing::internal::GetCapturedStderr();
    std::ofstream(PPATH_ROOT "/temp/absolute.sql") << "select 'abs'";
    const long a = numeric(in_IPQEXECFILE, {num(c), str(PPATH_ROOT "/temp/absolute.sql")});
    EXPECT_EQ(numeric(in_IPQNTUPLES, {num(a)}), 1);
    EXPECT_EQ(abort_text([&] { numeric(in_IPQEXECFILE, {num(c), str("missing.sql")}); }),
              "Error opening file '" PPATH_ROOT "/apps/sql/missing.sql'");
    EXPECT_EQ(abort_text([&] { numeric(in_IPQEXECFILE, {num(c), str("/no/such.sql")}); }),
              "Error opening file '/no/such.sql'");
}

// In the site's shared temp directory a statement file is run only when it is the run's own (or
// root's): a link another user put under its name, a FIFO and a file of theirs are refused with
// the open error, and nothing reaches the server.
TEST_F(PgConnections, StatementFilesAnotherUserPlantedAreNotRun)
{
    const long c = connect();
    const std::string temp = PPATH_ROOT "/temp";
    std::ofstream(temp + "/../elsewhere.sql") << "create table planted (a int)";
    lumba_test::plant_link(temp + "/../elsewhere.sql", temp + "/link.sql");
    lumba_test::plant_fifo(temp + "/fifo.sql");
    lumba_test::plant_file(temp + "/theirs.sql", "create table planted (a int)");
    const lumba_test::FifoFeeder feeder(temp + "/fifo.sql", "create table planted (a int)");
    const std::size_t mark = pg_cluster().log_size();
    for (const char *name : {"link.sql", "fifo.sql", "theirs.sql"}) {
        const std::string path = temp + "/" + name;
        EXPECT_EQ(abort_text([&] { numeric(in_IPQEXECFILE, {num(c), str(path)}); }), "Error opening file '" + path + "'");
    }
    EXPECT_EQ(pg_cluster().statements_since(mark), std::vector<std::string>{});
    std::ofstream(temp + "/mine.sql") << "select 'mine'";
    const long r = numeric(in_IPQEXECFILE, {num(c), str(temp + "/mine.sql")});
    EXPECT_EQ(numeric(in_IPQNTUPLES, {num(r)}), 1);
}
