// SIGTERM to lumba_run while a program waits on a server that stopped answering: the run ends
// promptly, quietly, with status 1 - no fatal report, no mail, no core - whatever library call it
// waits in. Each case starts the program, waits until it sleeps in its wait on the stalled server,
// signals it and times its end. Every stall lasts at least STALL_S, far beyond the bound of
// PROMPT_MS, which leaves room for a loaded machine and a sanitizer's exit.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include <libpq-fe.h>

#include "cert_api_site.h"
#include "gui_child.h"
#include "intrinsics.h"
#include "log_wait.h"
#include "pg_cluster.h"
#include "program_text.h"
#include "run_time.h"
#include "slapd.h"
#include "stall.h"
#include "zasm_run.h"

namespace {

using lumba_test::read_all;

using lumba_test::call;
using lumba_test::num;
using lumba_test::pg_cluster;
using lumba_test::str;

std::string site() { return std::getenv("LUMBA_SITE"); }

std::string store(int v) { return "storrd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string load(int v) { return "loadrvd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string log_line(const std::string &text) { return num(0) + str(text) + call("ipcall", in_IMLOG, 2); }

// Until sql's first value is expected on the test's own connection to the cluster.
bool wait_for_value(const std::string &sql, const std::string &expected)
{
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(lumba_test::scaled_ms(lumba_test::WAIT_MS));
    while (std::chrono::steady_clock::now() < end) {
        if (pg_cluster().query(sql) == expected) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

struct Ended {
    int status;
    double seconds;  // from the signal to the end
    std::string output;
};

// Runs body as a program (three numeric locals) that logs "waiting" before it calls into the
// stalled server; once it sleeps there (and stalled() holds), SIGTERM.
template <class Stalled>
Ended terminate_while_waiting(const std::string &name, const std::string &body, Stalled stalled)
{
    lumba_test::zasm(".proc r:main I:0 I:0 I:3 I:0 I:0 I:0\nsrcline I:3 I:0\n" + body + "exit\n",
                     "/usr/local/oska/apps/unit0/" + name);
    const std::string out = site() + "/" + name + ".out";
    lumba_test::GuiChild run({LUMBA_RUN, "-b", "-v", "0", name, "0"}, {}, out);
    EXPECT_TRUE(lumba_test::wait_for_log_line(out, "waiting")) << read_all(out);
    EXPECT_TRUE(stalled()) << read_all(out);
    EXPECT_TRUE(lumba_test::wait_blocked(run.pid())) << read_all(out);
    const auto signalled = std::chrono::steady_clock::now();
    kill(run.pid(), SIGTERM);
    const int status = run.wait();
    return {status, lumba_test::seconds_since(signalled), read_all(out)};
}

// Ended promptly through the signal path: status 1, no fatal report, nothing mailed.
void expect_quiet_prompt_end(const Ended &e)
{
    EXPECT_EQ(e.status, 1) << e.output;
    EXPECT_LT(e.seconds, lumba_test::scaled_ms(lumba_test::PROMPT_MS) / 1000.0) << e.output;
    EXPECT_EQ(e.output.find("E R R O R"), std::string::npos) << e.output;
    EXPECT_EQ(e.output.find("Caught signal"), std::string::npos) << e.output;
    // In the sanitizer build its reports come on standard error.
    EXPECT_EQ(e.output.find("Sanitizer"), std::string::npos) << e.output;
    EXPECT_EQ(e.output.find("runtime error"), std::string::npos) << e.output;
    EXPECT_FALSE(std::filesystem::exists(site() + "/mail/0.args")) << read_all(site() + "/mail/0.txt");
}

bool always() { return true; }

// A session of the test's own that holds a lock until it goes.
class Holder {
public:
    explicit Holder(const std::string &sql) : conn_(PQconnectdb(pg_cluster().conninfo().c_str()))
    {
        PGresult *res = PQexec(conn_, ("BEGIN; " + sql).c_str());
        EXPECT_EQ(PQresultStatus(res), PGRES_COMMAND_OK) << PQerrorMessage(conn_);
        PQclear(res);
    }
    ~Holder() { PQfinish(conn_); }
    Holder(const Holder &) = delete;
    Holder &operator=(const Holder &) = delete;

private:
    PGconn *conn_;
};

} // namespace

TEST(StallRun, TermEndsALongStatementAndCancelsIt)
{
    const std::string statement = "select pg_sleep(" + std::to_string(lumba_test::STALL_S) + ")";
    const std::string body = str(pg_cluster().conninfo()) + call("ifcallr", in_IPQCONNECTDB, 1) + store(0) +
                             log_line("waiting") + load(0) + str(statement) + call("ifcallr", in_IPQEXEC, 2) +
                             store(1);
    const Ended e = terminate_while_waiting("pgsleep", body, [&] {
        return wait_for_value("select count(*) from pg_stat_activity where state = 'active' and query = '" +
                                  statement + "'",
                              "1");
    });
    expect_quiet_prompt_end(e);
    // The server does not go on with it.
    EXPECT_TRUE(lumba_test::wait_for_log_line(pg_cluster().socket_dir() + "/server.log",
                                              "canceling statement due to user request"));
}

TEST(StallRun, TermEndsAConnectToAStoppedServer)
{
    // A connect time-out of its own, as long as a stall: the run-time's default is shorter.
    const std::string conninfo = pg_cluster().conninfo() + " connect_timeout=" + std::to_string(lumba_test::STALL_S);
    lumba_test::Stopped held(pg_cluster().postmaster_pid());
    const std::string body = log_line("waiting") + str(conninfo) + call("ifcallr", in_IPQCONNECTDB, 1) + store(0);
    expect_quiet_prompt_end(terminate_while_waiting("pgconnect", body, always));
}

TEST(StallRun, TermEndsLargeObjectReadsTheServerHoldsBack)
{
    const std::string oid = pg_cluster().query("select lo_from_bytea(0, 'frames of a video')");
    // The reads wait for the lock on the objects' pages.
    Holder lock("LOCK TABLE pg_largeobject IN ACCESS EXCLUSIVE MODE");
    const std::string body = str(pg_cluster().conninfo()) + call("ifcallr", in_IPQCONNECTDB, 1) + store(0) +
                             log_line("waiting") + load(0) + num(oid) + num(1) + str(site() + "/frame") +
                             call("ifcallr", in_IPQVIDEOFRAMES, 4) + store(1);
    const Ended e = terminate_while_waiting("lostall", body, [] {
        return wait_for_value("select count(*) from pg_stat_activity where wait_event_type = 'Lock'", "1");
    });
    expect_quiet_prompt_end(e);
}

TEST(StallRun, TermEndsADirectoryCallToAStoppedServer)
{
    auto &server = lumba_test::slapd();
    lumba_test::Stopped held(server.pid());
    const std::string body = log_line("waiting") + str(lumba_test::Slapd::ldapinfo()) + str("stall-nobody") +
                             call("ifcallr", in_ILDAP_CHECKUSER, 2) + store(0);
    expect_quiet_prompt_end(terminate_while_waiting("ldapstall", body, always));
}

TEST(StallRun, TermEndsAFileServerCallThatIsNeverAnswered)
{
    lumba_test::SilentListener server(55199);
    const std::string body = log_line("waiting") + num(0) + str("list") + call("ifcalls", in_IMFILER, 1) +
                             call("ipcall", in_IMLOG, 2);
    expect_quiet_prompt_end(terminate_while_waiting("filerstall", body, always));
}

TEST(StallRun, TermEndsACertificateRequestThatIsNeverAnswered)
{
    lumba_test::CertApiSite::get();
    lumba_test::SilentListener server(443);
    std::string body;
    for (int list = 0; list < 3; ++list) body += str("char") + call("ifcallr", in_ILIST_DECLARE, 1) + store(list);
    body += log_line("waiting") + load(0) + load(1) + load(2) + call("ifcallr", in_ICERT_LIST, 3) + store(0);
    expect_quiet_prompt_end(terminate_while_waiting("certstall", body, always));
}

namespace {

// A client that looks a host name up before it connects, and the program that makes it do so.
struct LookupCase {
    const char *name;
    const char *host;  // the name looked up, taken out of the hosts file
    std::string (*body)();
};

const LookupCase lookup_cases[] = {
    {"pg", "db.stalled.example",
     [] {
         return log_line("waiting") + str("host=db.stalled.example dbname=postgres user=postgres") +
                call("ifcallr", in_IPQCONNECTDB, 1) + store(0);
     }},
    {"ldap", "ldap.stalled.example",
     [] {
         return log_line("waiting") + str("admin:secret@ldap.stalled.example:389?dc=example,dc=test") +
                str("stall-nobody") + call("ifcallr", in_ILDAP_CHECKUSER, 2) + store(0);
     }},
    {"cert", CERT_API_HOST,
     [] {
         lumba_test::CertApiSite::get();
         std::string body;
         for (int list = 0; list < 3; ++list)
             body += str("char") + call("ifcallr", in_ILIST_DECLARE, 1) + store(list);
         return body + log_line("waiting") + load(0) + load(1) + load(2) + call("ifcallr", in_ICERT_LIST, 3) +
                store(0);
     }},
    {"filer", "localhost",
     [] {
         return log_line("waiting") + num(0) + str("list") + call("ifcalls", in_IMFILER, 1) +
                call("ipcall", in_IMLOG, 2);
     }},
};

void PrintTo(const LookupCase &c, std::ostream *os) { *os << c.name; }

class StallRunLookup : public testing::TestWithParam<LookupCase> {};

} // namespace

// The name server does not answer: the system resolver would wait a minute and more, retrying
// its wait when a signal interrupts it. SIGTERM during the lookup ends the run promptly and
// quietly all the same.
TEST_P(StallRunLookup, TermEndsAClientWaitingForItsNameServer)
{
    const LookupCase &c = GetParam();
    const std::string body = c.body();
    lumba_test::SilentResolver resolver;
    lumba_test::SilentResolver::forget_host(c.host);
    const Ended e = terminate_while_waiting(std::string("lookup") + c.name, body, [&] {
        const auto end = std::chrono::steady_clock::now() +
                         std::chrono::milliseconds(lumba_test::scaled_ms(lumba_test::WAIT_MS));
        while (!resolver.asked() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return resolver.asked();
    });
    expect_quiet_prompt_end(e);
    EXPECT_EQ(e.output.find("getaddrinfo"), std::string::npos) << e.output;
}

INSTANTIATE_TEST_SUITE_P(Clients, StallRunLookup, testing::ValuesIn(lookup_cases),
                         [](const testing::TestParamInfo<LookupCase> &info) { return std::string(info.param.name); });
