// Every PostgreSQL row of the three dispatchers reaches the layer's handler: each is called with a
// bad handle (or no connection) and answers as only that handler does, never with the
// dispatcher's "<NAME> not available".
#include "pg_fixture.h"

namespace {

using lumba_test::abort_text;

class PgDispatch : public PgTest {};

} // namespace

TEST_F(PgDispatch, EveryRowReachesItsHandler)
{
    dec_t flag = decimal(5);
    struct {
        int code;
        std::function<std::string(PgDispatch &)> call;
        std::string answer;  // the value or text, "stop: " and the fatal message, or "mail: " and the mail
    } rows[] = {
        {in_IPQCONNECTDB, [](PgDispatch &t) { return std::to_string(t.numeric(in_IPQCONNECTDB, {str("host=/nonexistent/lumba")})); }, "0"},
        {in_IPQCLOSE, [](PgDispatch &t) { return std::to_string(t.numeric(in_IPQCLOSE, {num(0)})); }, "0"},
        {in_IPQEXEC, [](PgDispatch &t) { return std::to_string(t.numeric(in_IPQEXEC, {num(0), str("insert into x values (1)")})); },
         "0"},
        {in_IPQEXECFILE, [](PgDispatch &t) { return std::to_string(t.numeric(in_IPQEXECFILE, {num(0), str("/nonexistent.sql")})); },
         "stop: Error opening file '/nonexistent.sql'"},
        {in_IPQCLEAR, [](PgDispatch &t) { return std::to_string(t.numeric(in_IPQCLEAR, {num(0)})); }, "0"},
        {in_IPQCOMMIT, [](PgDispatch &t) { return std::to_string(t.numeric(in_IPQCOMMIT, {num(0)})); },
         "mail: IPQCOMMIT: unexpected return pgctabsize 0 chdl = 0 **\n"},
        {in_IPQTRANSACTIONSTATUS, [](PgDispatch &t) { return std::to_string(t.numeric(in_IPQTRANSACTIONSTATUS, {num(0)})); },
         "stop: OskaPgTransactionStatus: database connection \"0\" in invalid state"},
        {in_IPQNTUPLES, [](PgDispatch &t) { return std::to_string(t.numeric(in_IPQNTUPLES, {num(0)})); }, "0"},
        {in_IPQNFIELDS, [](PgDispatch &t) { return std::to_string(t.numeric(in_IPQNFIELDS, {num(0)})); }, "0"},
        {in_IPQAFFECTEDROWS, [](PgDispatch &t) { return std::to_string(t.numeric(in_IPQAFFECTEDROWS, {num(0)})); }, "0"},
        {in_IPQNUMFETCH, [&flag](PgDispatch &t) {
             const long value = t.numeric(in_IPQNUMFETCH, {num(0), var(flag)});
             return std::to_string(value) + "," + std::to_string(as_long(flag));
         }, "0,0"},
        {in_IPQBACKENDPID, [](PgDispatch &t) { return std::to_string(t.numeric(in_IPQBACKENDPID, {num(0)})); }, "-1"},
        {in_IPQCMDSTATUS, [](PgDispatch &t) { return t.text(in_IPQCMDSTATUS, {num(3)}); },
         "stop: ipqcmdstatus$(3): Result set already cleared"},
        {in_IPQGETVALUE, [](PgDispatch &t) { return t.text(in_IPQGETVALUE, {num(0), num(4), num(5)}); },
         "stderr: returning string \"\", for row 4, col 5\n"},
        {in_IPQSTRFETCH, [&flag](PgDispatch &t) {
             flag = decimal(5);
             const std::string row = t.text(in_IPQSTRFETCH, {num(0), var(flag)});
             return row + "," + std::to_string(as_long(flag));
         }, ",0"},
        {in_IPQERRMSG, [](PgDispatch &t) { return t.text(in_IPQERRMSG); },
         "stderr: returning connection to server on socket \"/nonexistent/lumba/.s.PGSQL.5432\" failed: "
         "No such file or directory\n\tIs the server running locally and accepting connections on that socket?\n"},
        {in_IPQERRCODE, [](PgDispatch &t) { return t.text(in_IPQERRCODE); }, ""},
        {in_IPQNOTIFIES, [](PgDispatch &t) { return t.text(in_IPQNOTIFIES, {num(0)}); }, ""},
        {in_IPQTIME, [](PgDispatch &t) { return t.text(in_IPQTIME, {num(0), num(1)}); },
         "stop: Second arg to ipqtime() must be a string"},
        {in_IPQTIMESTAMP, [](PgDispatch &t) { return t.text(in_IPQTIMESTAMP, {num(0), str("1 day"), num(1)}); },
         "stop: Third arg to ipqtimestamp() must be a string"},
        {in_IPQBEGIN, [](PgDispatch &t) { t.statement(in_IPQBEGIN, {num(0)}); return std::string("done"); }, "done"},
        {in_IPQROLLBACK, [](PgDispatch &t) { t.statement(in_IPQROLLBACK, {num(0)}); return std::string("done"); }, "done"},
    };
    EXPECT_EQ(std::size(rows), 22u);
    for (const auto &row : rows) {
        lumba_test::mailed().clear();
        testing::internal::CaptureStderr();
        std::string value;
        const std::string stop = abort_text([&] { value = row.call(*this); });
        const std::string err = testing::internal::GetCapturedStderr();
        std::string answer = value;
        if (!stop.empty()) answer = "stop: " + stop;
        else if (!lumba_test::mailed().empty()) answer = "mail: " + lumba_test::mailed()[0];
        else if (!err.empty() && row.answer.rfind("stderr: ", 0) == 0) answer = "stderr: " + err;
        EXPECT_EQ(answer, row.answer) << inbuilt[row.code].F_name;
    }
}

TEST_F(PgDispatch, ArgumentCountsAreChecked)
{
    lumba_test::trapped_errors().clear();
    EXPECT_EQ(abort_text([&] { numeric(in_IPQEXEC, {num(1)}); }), "IPQEXEC called with wrong number of arguments (1)");
    EXPECT_EQ(abort_text([&] { text(in_IPQTIME, {}); }), "IPQTIME$ called with wrong number of arguments (0)");
    const long conn = connect();
    const long r = exec(conn, "select 1");
    EXPECT_EQ(abort_text([&] { numeric(in_IPQNUMFETCH, {num(r), num(1)}); }),
              "IPQNUMFETCH: argument must be a numeric variable");
}
