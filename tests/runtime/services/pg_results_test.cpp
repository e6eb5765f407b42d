// Result access, last errors, notifications, the server's time and the table text search through
// the intrinsics, against the scratch cluster.
#include <chrono>
#include <thread>
#include <unistd.h>

#include "applications.h"
#include "net_wait.h"
#include "pg_fixture.h"
#include "sql.h"
#include "stall.h"

namespace {

using lumba_test::abort_text;
using lumba_test::pg_cluster;

class PgResults : public PgTest {
protected:
    // One result of sql on a new connection.
    long result_of(const std::string &sql)
    {
        conn = connect();
        return exec(conn, sql);
    }
    long conn = 0;
};

} // namespace

TEST_F(PgResults, CountsStatusAndValues)
{
    const long r = result_of("select * from (values (1, 'one'), (2, NULL)) v(n, t)");
    EXPECT_EQ(numeric(in_IPQNTUPLES, {num(r)}), 2);
    EXPECT_EQ(numeric(in_IPQNFIELDS, {num(r)}), 2);
    EXPECT_EQ(text(in_IPQCMDSTATUS, {num(r)}), "SELECT 2");
    testing::internal::CaptureStderr();
    EXPECT_EQ(text(in_IPQGETVALUE, {num(r), num(0), num(1)}), "one");
    EXPECT_EQ(text(in_IPQGETVALUE, {num(r), num(1), num(1)}), "");  // NULL
    EXPECT_EQ(text(in_IPQGETVALUE, {num(0), num(0), num(0)}), "");  // bad handle
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "returning string \"one\", for row 0, col 1\nreturning string \"\", for row 1, col 1\n"
              "returning string \"\", for row 0, col 0\n");

    clear(exec(conn, "create temp table w (a int)"));
    const long w = exec(conn, "insert into w select generate_series(1, 7)");
    EXPECT_EQ(numeric(in_IPQAFFECTEDROWS, {num(w)}), 7);
    EXPECT_EQ(text(in_IPQCMDSTATUS, {num(w)}), "INSERT 0 7");
    for (long bad : {0L, 99L}) {
        EXPECT_EQ(numeric(in_IPQNTUPLES, {num(bad)}), 0);
        EXPECT_EQ(numeric(in_IPQNFIELDS, {num(bad)}), 0);
        EXPECT_EQ(numeric(in_IPQAFFECTEDROWS, {num(bad)}), 0);
    }
    EXPECT_EQ(numeric(in_IPQBACKENDPID, {num(conn)}),
              std::stol(text(in_IPQGETVALUE, {num(exec(conn, "select pg_backend_pid()")), num(0), num(0)})));
}

TEST_F(PgResults, StringFetchJoinsRowsAndKeepsItsCursor)
{
    const long r = result_of("select * from (values ('a', NULL, 'c'), ('x|y', '', 'z')) v");
    dec_t flag = decimal(7);
    EXPECT_EQ(text(in_IPQSTRFETCH, {num(r), var(flag)}), "a||c");
    EXPECT_EQ(as_long(flag), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(text(in_IPQGETVALUE, {num(r), num(0), num(0)}), "a");  // does not move the cursor
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(text(in_IPQSTRFETCH, {num(r), var(flag)}), "x|y||z");
    EXPECT_EQ(as_long(flag), 1);
    EXPECT_EQ(text(in_IPQSTRFETCH, {num(r), var(flag)}), "");
    EXPECT_EQ(as_long(flag), 0);
    flag = decimal(7);
    EXPECT_EQ(text(in_IPQSTRFETCH, {num(55), var(flag)}), "");
    EXPECT_EQ(as_long(flag), 0);
}

TEST_F(PgResults, NumericFetchOutcomes)
{
    struct {
        const char *sql;
        std::vector<std::pair<const char *, long>> fetches;  // value, flag, in order
    } cases[] = {
        {"select * from (values (12.5), (-3), (123456789.25)) v", {{"12.5", 1}, {"-3", 1}, {"123456789.25", 1}, {"0", 0}}},
        {"select 1, 2", {{"0", 0}, {"0", 0}}},                              // two columns: never moves
        {"select * from (values (NULL::int), (4)) v", {{"0", 0}, {"0", 0}}},  // a missing value holds the cursor
        {"select * from (values (''), ('7')) v", {{"0", 0}, {"0", 0}}},       // so does an empty one
        {"select 1 where false", {{"0", 0}}},
    };
    for (const auto &k : cases) {
        const long r = result_of(k.sql);
        ASSERT_GT(r, 0) << k.sql;
        for (const auto &[value, flag] : k.fetches) {
            dec_t f = decimal(9);
            EXPECT_EQ(number(in_IPQNUMFETCH, {num(r), var(f)}), value) << k.sql;
            EXPECT_EQ(as_long(f), flag) << k.sql;
        }
        numeric(in_IPQCLOSE, {num(conn)});
    }
    dec_t f = decimal(9);
    EXPECT_EQ(number(in_IPQNUMFETCH, {num(0), var(f)}), "0");
    EXPECT_EQ(as_long(f), 0);
}

TEST_F(PgResults, CommandStatusOfAClearedResultStops)
{
    const long r = result_of("select 1");
    clear(r);
    EXPECT_EQ(abort_text([&] { text(in_IPQCMDSTATUS, {num(r)}); }), "ipqcmdstatus$(1): Result set already cleared");
    EXPECT_EQ(abort_text([&] { text(in_IPQCMDSTATUS, {num(65536 + 40)}); }),
              "ipqcmdstatus$(40): Result set already cleared");
}

TEST_F(PgResults, LastErrorTexts)
{
    // Before any error: empty, and nothing on standard error.
    testing::internal::CaptureStderr();
    EXPECT_EQ(text(in_IPQERRMSG), "");
    EXPECT_EQ(text(in_IPQERRCODE), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    conn = connect();
    testing::internal::CaptureStderr();
    EXPECT_EQ(exec(conn, "select 1/0"), 0);
    testing::internal::GetCapturedStderr();
    testing::internal::CaptureStderr();
    EXPECT_EQ(text(in_IPQERRMSG), "ERROR:  division by zero\n");
    EXPECT_EQ(text(in_IPQERRCODE), "22012");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "returning ERROR:  division by zero\n22012");
    // A failed connection replaces only the message.
    EXPECT_EQ(numeric(in_IPQCONNECTDB, {str("host=/nonexistent/lumba")}), 0);
    testing::internal::CaptureStderr();
    EXPECT_NE(text(in_IPQERRMSG).find("/nonexistent/lumba"), std::string::npos);
    EXPECT_EQ(text(in_IPQERRCODE), "22012");
    testing::internal::GetCapturedStderr();
}

TEST_F(PgResults, ServerTime)
{
    conn = connect();
    const std::size_t mark = pg_cluster().log_size();
    struct {
        int code;
        std::vector<std::string> args;
        std::string expected;  // "" when only the shape is known
    } cases[] = {
        {in_IPQTIME, {"1 hour", "2024-01-01 10:00:00"}, "11:00:00"},
        {in_IPQTIMESTAMP, {"1 hour", "2024-01-01 10:00:00"}, "2024-01-01 11:00:00"},
        {in_IPQTIMESTAMP, {"-1 day", "2024-03-01 00:00:30"}, "2024-02-29 00:00:30"},
        {in_IPQTIME, {}, ""},
        {in_IPQTIMESTAMP, {"2 days"}, ""},
    };
    for (const auto &k : cases) {
        std::string got;
        if (k.args.empty()) got = text(k.code, {num(conn)});
        else if (k.args.size() == 1) got = text(k.code, {num(conn), str(k.args[0])});
        else got = text(k.code, {num(conn), str(k.args[0]), str(k.args[1])});
        if (!k.expected.empty()) {
            EXPECT_EQ(got, k.expected);
        }
        const bool time = k.code == in_IPQTIME;
        EXPECT_EQ(got.size(), time ? 8u : 19u) << got;
        EXPECT_TRUE(g_regex_match_simple(time ? "^\\d\\d:\\d\\d:\\d\\d$" : "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$",
                                         got.c_str(), GRegexCompileFlags(0), GRegexMatchFlags(0)))
            << got;
    }
    const auto sent = pg_cluster().statements_since(mark);
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[0], "select substr(cast(timestamp '2024-01-01 10:00:00' + interval '1 hour' as char(19)), 12, 8)");
    EXPECT_EQ(sent[1], "select cast(timestamp '2024-01-01 10:00:00' + interval '1 hour' as char(19))");
    EXPECT_EQ(sent[3], "select substr(cast(now() as char(19)), 12, 8)");
    EXPECT_EQ(sent[4], "select cast(now() + interval '2 days' as char(19))");
}

TEST_F(PgResults, ServerTimeLimitsAndRefusals)
{
    conn = connect();
    const std::string h = std::to_string(conn);
    // The longest texts that still fit: an interval of 469 characters; 462 for both together.
    const std::string interval469 = "1 hour" + std::string(463, ' ');
    const std::string stamp456 = std::string(446, ' ') + "2024-01-01";
    EXPECT_EQ(text(in_IPQTIME, {num(conn), str(interval469)}).size(), 8u);
    EXPECT_EQ(text(in_IPQTIME, {num(conn), str("1 hour"), str(stamp456)}), "01:00:00");
    EXPECT_EQ(text(in_IPQTIMESTAMP, {num(conn), str("1 hour"), str(stamp456)}), "2024-01-01 01:00:00");

    const std::string interval470 = interval469 + " ";
    const std::string stamp457 = " " + stamp456;
    struct {
        int code;
        std::vector<lumba_test::Arg> args;
        std::string stop;
        bool whole;  // else only the start of the message is known
    } cases[] = {
        {in_IPQTIME, {num(conn), str(interval470)}, "ipqtime(" + h + ", " + interval470 + ", no arg) failed - arg1 too big\n", true},
        {in_IPQTIMESTAMP, {num(conn), str(interval470)},
         "ipqtimestamp(" + h + ", " + interval470 + ", no arg) failed - arg1 too big\n", true},
        {in_IPQTIME, {num(conn), str("1 hour"), str(stamp457)},
         "ipqtime(" + h + ", 1 hour, " + stamp457 + ") failed - arg1 + arg2 too big\n", true},
        {in_IPQTIMESTAMP, {num(conn), str("1 hour"), str(stamp457)},
         "ipqtimestamp(" + h + ", 1 hour, " + stamp457 + ") failed - arg1 + arg2 too big\n", true},
        {in_IPQTIME, {num(conn), num(1)}, "Second arg to ipqtime() must be a string", true},
        {in_IPQTIMESTAMP, {num(conn), num(1)}, "Second arg to ipqtimestamp() must be a string", true},
        {in_IPQTIME, {num(conn), str("1 day"), num(2)}, "Third arg to ipqtime() must be a string", true},
        {in_IPQTIMESTAMP, {num(conn), str("1 day"), num(2)}, "Third arg to ipqtimestamp() must be a string", true},
        {in_IPQTIME, {num(conn), str("fortnight")},
         "ipqtime(" + h + ", fortnight, no arg) failed with ERROR:  invalid input syntax for type interval: \"fortnight\"\n",
         false},
        {in_IPQTIMESTAMP, {num(conn), str("1 day"), str("yesterday-ish")},
         "ipqtimestamp$(" + h + ", 1 day, yesterday-ish) failed with ERROR:  invalid input syntax for type timestamp: "
         "\"yesterday-ish\"\n",
         false},
    };
    for (const auto &k : cases) {
        testing::internal::CaptureStderr();
        const std::string stop = abort_text([&] {
            if (k.args.size() == 2) text(k.code, {k.args[0], k.args[1]});
            else text(k.code, {k.args[0], k.args[1], k.args[2]});
        });
        testing::internal::GetCapturedStderr();
        if (k.whole)
            EXPECT_EQ(stop, k.stop);
        else
            EXPECT_EQ(stop.substr(0, k.stop.size()), k.stop);
    }
}

TEST_F(PgResults, ServerTimeArgumentsCannotBreakOutOfTheirLiteral)
{
    conn = connect();
    const std::size_t mark = pg_cluster().log_size();
    std::string stop;
    testing::internal::CaptureStderr();
    stop = abort_text([&] { text(in_IPQTIME, {num(conn), str("'; select 1; --")}); });
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(stop.rfind("ipqtime(1, '; select 1; --, no arg) failed with ERROR:  invalid input syntax for type interval", 0), 0u)
        << stop;
    // The message comes from what IPQERRMSG$ would give, whose line goes to standard error first.
    EXPECT_EQ(err.rfind("returning ERROR:  invalid input syntax for type interval", 0), 0u) << err;
    const auto sent = pg_cluster().statements_since(mark);
    EXPECT_EQ(sent, std::vector<std::string>{"select substr(cast(now() + interval '''; select 1; --' as char(19)), 12, 8)"});
}

TEST_F(PgResults, NotificationsAlreadyQueuedOrStillToCome)
{
    conn = connect();
    clear(exec(conn, "LISTEN first"));
    clear(exec(conn, "LISTEN second"));
    // Notified by the connection itself: queued when its NOTIFY returned.
    clear(exec(conn, "NOTIFY first"));
    EXPECT_EQ(text(in_IPQNOTIFIES, {num(conn)}), "first");
    // Notified by another session: still on the socket.
    pg_cluster().query("NOTIFY second, 'payload'");
    EXPECT_EQ(text(in_IPQNOTIFIES, {num(conn)}), "second");
    EXPECT_EQ(text(in_IPQNOTIFIES, {num(0)}), "");
    EXPECT_EQ(text(in_IPQNOTIFIES, {num(9)}), "");
}

TEST_F(PgResults, NotificationWaitHasNoTimeOut)
{
    // A program waits for the next notification as long as it takes: the network reply time-out
    // does not end the wait. The notification comes once the wait has lasted well past it.
    // Connected first, with the default connect time-out: a busy machine may take longer than a
    // short one to make the connection, which is not what this test is about.
    conn = connect();
    ASSERT_NE(conn, 0) << errmsg();
    clear(exec(conn, "LISTEN later"));
    set_net_timeouts({0, 100});
    std::thread notifier([] {
        EXPECT_TRUE(lumba_test::wait_blocked(getpid()));
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        pg_cluster().query("NOTIFY later");
    });
    EXPECT_EQ(text(in_IPQNOTIFIES, {num(conn)}), "later");
    notifier.join();
    set_net_timeouts({0, 0});
}

TEST_F(PgResults, NotificationWaitEndsWhenTheServerDropsTheConnection)
{
    conn = connect();
    clear(exec(conn, "LISTEN never"));
    const long pid = numeric(in_IPQBACKENDPID, {num(conn)});
    pg_cluster().query("SELECT pg_terminate_backend(" + std::to_string(pid) + ")");
    EXPECT_EQ(text(in_IPQNOTIFIES, {num(conn)}), "");
    const std::string message = errmsg();
    EXPECT_NE(message, "");
    EXPECT_TRUE(message.find("terminat") != std::string::npos || message.find("closed") != std::string::npos) << message;
}

TEST_F(PgResults, TableTextSearchGivesPrimaryKeys)
{
    pg_cluster().query("DROP TABLE IF EXISTS customer; CREATE TABLE customer (id int, region text, name text, "
                       "PRIMARY KEY (region, id));"
                       "INSERT INTO customer VALUES (1, 'north', 'Miller''s'), (2, 'south', 'Smith'), "
                       "(3, 'north', 'Millerson'), (4, 'east', 'Nobody')");
    AppMemory_t *mem = NewApplicationMem(0, 0, 0, 0);
    Application_t app{};
    app.name = const_cast<char *>("search__A");
    app.app = mem;
    current_application = &app;
    OskaTable_t *t = CreateOskaTable(mem->tables, "customer");
    for (const char *column : {"id", "region", "name"}) CreateOskaCol(t, column);
    OskaIdx_t *pk = CreateOskaIdx(t, "customer_pkey");
    AddColAttribute(t, pk, "region");
    AddColAttribute(t, pk, "id");
    OskaTable_t *bare = CreateOskaTable(mem->tables, "bare");
    CreateOskaCol(bare, "a");

    conn = connect();
    const std::size_t mark = pg_cluster().log_size();
    const int r = OskaTblStrSearch(static_cast<std::uint16_t>(conn), "customer", "MILLER'S");
    ASSERT_GT(r, 0);
    EXPECT_EQ(numeric(in_IPQNTUPLES, {num(r)}), 1);
    dec_t flag{};
    EXPECT_EQ(text(in_IPQSTRFETCH, {num(r), var(flag)}), "1|north");  // key columns in column order
    EXPECT_EQ(pg_cluster().statements_since(mark),
              std::vector<std::string>{"SELECT id, region FROM customer WHERE (id::text || ' ' || region::text || ' ' || "
                                       "name::text) ILIKE '%MILLER''S%';"});
    EXPECT_EQ(OskaTblStrSearch(static_cast<std::uint16_t>(conn), "missing", "x"), 0);
    EXPECT_EQ(OskaTblStrSearch(static_cast<std::uint16_t>(conn), "bare", "x"), 0);  // no primary key
    EXPECT_EQ(abort_text([&] { OskaTblStrSearch(0, "customer", "x"); }),
              "OskaTblStrSearch: database connection \"0\" in invalid state");
    current_application = nullptr;
    DeleteApplicationMem(mem);
}
