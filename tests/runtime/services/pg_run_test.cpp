// A program using the database through the real lumba_run in a private site: what the end of the
// program reports (results never cleared, the statement statistics) and a discipline mail handed
// to the site's mail script.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <glib.h>

#include "intrinsics.h"
#include "pg_cluster.h"
#include "program_text.h"
#include "site.h"

namespace {

using lumba_test::call;
using lumba_test::str;

const std::string store_conn = "storrd I:0 I:1 I:0 I:0 I:0\n";
const std::string load_conn = "loadrvd I:0 I:1 I:0 I:0 I:0\n";
const std::string drop = "storrd I:1 I:1 I:0 I:0 I:0\n";

// Runs sql on the connection; the result is cleared unless kept.
std::string statement(const std::string &sql, bool keep = false)
{
    return load_conn + str(sql) + call("ifcallr", in_IPQEXEC, 2) + (keep ? "" : call("ifcallr", in_IPQCLEAR, 1)) + drop;
}

} // namespace

TEST(PgRun, ExitReportsOrphansLeakAndStatistics)
{
    lumba_test::pg_cluster().query("SELECT 1");  // started before the program needs it
    std::string body = str(lumba_test::pg_cluster().conninfo()) + call("ifcallr", in_IPQCONNECTDB, 1) + store_conn;
    body += statement("create temp table t (a int)");
    body += statement("insert into t values (1)");  // outside a transaction: mailed
    body += statement("insert into t values (2)");
    body += statement("select a from t order by a", true);
    body += statement("select 1");
    body += statement("select 2");
    body += statement("set datestyle to ISO");
    body += statement("listen ch");
    body += statement("select 3");
    body += statement("select count(*) from t", true);
    lumba_test::Site site;
    site.install_program("pgexit", ".proc r:main I:0 I:0 I:2 I:0 I:0 I:0\nsrcline I:3 I:0\n" + body + "exit\n");
    auto r = site.lumba({"-b", "pgexit", "0"});
    EXPECT_EQ(r.status, 0) << r.err;

    // Orphans name the routine and application that ran the statement.
    const std::string routine = "main@pgexit__";
    EXPECT_TRUE(g_regex_match_simple(("^Orphan 1: EX " + routine + "[A-Z]+ \\[select a from t order by a\\]\n"
                                      "Orphan 2: EX " + routine + "[A-Z]+ \\[select count\\(\\*\\) from t\\]\n"
                                      "Postgresql MEMLEAK: 2 results not cleared\n$").c_str(),
                                     r.out.c_str(), GRegexCompileFlags(0), GRegexMatchFlags(0)))
        << r.out;
    EXPECT_NE(r.err.find("PgSQL stats:\nRequests: 10\nSelects: 5 (50.00)\nInserts: 2 (20.00)\nUpdates: 0 (0.00)\n"
                         "Deletes: 0 (0.00)\nTruncates: 0 (0.00)\nComments: 0 (0.00)\n"
                         "Read/Write ratio: 1.667 (1/0.333)\nBegins: 0 (0.00)\nCommits: 0 (0.00)\nRollbacks: 0 (0.00)\n"),
              std::string::npos)
        << r.err;

    // Two mails, one per insert, to the transaction-log address.
    for (int i = 0; i < 2; ++i) {
        const std::string args = site.read_file("mail/" + std::to_string(i) + ".args");
        EXPECT_EQ(args.substr(0, args.find('\n')), "translog@lumba-runtime.example") << args;
        EXPECT_NE(site.read_file("mail/" + std::to_string(i) + ".txt")
                      .find("__MAIN__:INSERT is not allowed outside SQL transaction"),
                  std::string::npos);
    }
    EXPECT_EQ(site.read_file("mail/2.args"), "");
}

TEST(PgRun, AProgramFetchesIntoAStructureAndStoresItElsewhere)
{
    // person (id varchar(10) key, amount numeric(9,2), notes text) as a structure variable R.
    lumba_test::pg_cluster().query(
        "create table person (id varchar(10) primary key, amount numeric(9,2), notes text);"
        "create table person_copy (like person); alter table person_copy add primary key (id);"
        "insert into person values ('k1', 12.5, 'O''Brien'); insert into person_copy (id) values ('k1');");
    const std::string R = "loadstad I:0 I:2 I:0 I:0 I:0\n";
    const std::string load_res = "loadrvd I:1 I:1 I:0 I:0 I:0\n";
    std::string body = str(lumba_test::pg_cluster().conninfo()) + call("ifcallr", in_IPQCONNECTDB, 1) + store_conn;
    body += load_conn + str("select * from person") + call("ifcallr", in_IPQEXEC, 2) + "storrd I:1 I:1 I:0 I:0 I:0\n";
    body += load_res + R + call("ifcallr", in_IPQFETCH, 2) + "storrd I:2 I:1 I:0 I:0 I:0\n";
    body += lumba_test::num(0) + load_conn + R + call("ifcalls", in_IPQCSVOUT, 2) + call("ipcall", in_IMLOG, 2);
    body += load_conn + call("ipcall", in_IPQBEGIN, 1);
    body += load_conn + str("person_copy") + R + call("ifcallr", in_IPQPARTIALSTORE, 3) + "storrd I:3 I:1 I:0 I:0 I:0\n";
    body += load_conn + call("ifcallr", in_IPQCOMMIT, 1) + drop;
    body += load_res + call("ifcallr", in_IPQCLEAR, 1) + drop;
    // The exit status is the sum of the fetch's and the partial store's answers, 1 each.
    body += "loadrvd I:2 I:1 I:0 I:0 I:0\nloadrvd I:3 I:1 I:0 I:0 I:0\nadd\n" + str("") + call("ipcall", in_SETEXIT, 2);
    const std::string tables = R"(symtab
__ROUTINE__ main 1
R 0 0 0x200010 0 1 person
__END_ROUTINE__
.end
sqltab
__SQL_TABLES__ 1
T:person 1 3 0 56
C:id 3 10 0 0 0 0
C:amount 4 9 2 22 0 0
C:notes 5 0 0 48 0 0
I:person_pkey 1
0
.end
)";
    lumba_test::Site site;
    site.install_program("pgrows",
                         ".proc r:main I:0 I:0 I:4 I:0 I:56 I:0\nsrcline I:3 I:0\n" + body + "exit\n" + tables);
    auto r = site.lumba({"-b", "-v", "0", "pgrows", "0"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("B 'k1','12.50       ','O''Brien'\n"), std::string::npos) << r.err;
    EXPECT_EQ(lumba_test::pg_cluster().query("select id || ' ' || amount || ' ' || notes from person_copy"),
              "k1 12.50 O'Brien");
}
