// finish (restart by re-exec, exit statuses), the signal catcher with its safe point, and the
// smaller report calls (through core_probe).
#include <gtest/gtest.h>

#include <csignal>
#include <glib.h>
#include <pwd.h>
#include <string>
#include <unistd.h>

#include "shell_time.h"
#include "site.h"

using lumba_test::Site;

namespace {

// A stand-in for the run-time image: records its arguments and environment, exits 42.
const char *stub_image =
    "#!/bin/sh\n"
    "printf '%s\\n' \"$0\" \"$@\" > \"$LUMBA_SITE/restart.args\"\n"
    "env > \"$LUMBA_SITE/restart.env\"\n"
    "exit 42\n";

bool has_line(const std::string &text, const std::string &line)
{
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// Runs core_probe wait, sends it the signal once it is in its loop, then the second one if there
// is one, and prints its status. A signal the probe ignores is dropped when it is sent; one it
// catches would be taken first, having the lower number of the two.
lumba_test::RunResult signal_probe(const Site &site, const char *sig, const char *then = "")
{
    return site.run({"sh", "-c",
                     "ulimit -c 0; cd \"$LUMBA_SITE\"; \"$0\" wait > ready & p=$!; "
                     "i=0; while [ $i -lt $(( $3 / 10 )) ] && [ ! -s ready ]; do sleep 0.01; i=$((i+1)); done; "
                     "kill -$1 $p; "
                     "if [ \"$2\" ]; then kill -$2 $p; fi; "
                     "wait $p; echo status=$?",
                     CORE_PROBE, sig, then, lumba_test::scaled_ms_text(lumba_test::WAIT_MS)});
}

} // namespace

TEST(Finish, RestartStatusesReexecute)
{
    struct {
        const char *status;
        bool fresh_database;
    } cases[] = {{"-1", false}, {"-2", true}};
    for (const auto &c : cases) {
        Site site;
        site.write_file("stub", stub_image);
        auto r = site.run({"sh", "-c", "chmod 755 \"$LUMBA_SITE/stub\" && exec \"$0\" finish \"$1\" \"$LUMBA_SITE/stub\"",
                           CORE_PROBE, c.status},
                          {"DPATH=/data/x", "PP=pp", "OSKA_SESSION=s1", "KEEP=kept"});
        EXPECT_EQ(r.status, 42) << c.status << r.err;
        EXPECT_EQ(site.read_file("restart.args"), site.root() + "/stub\n") << c.status;
        std::string env = site.read_file("restart.env");
        EXPECT_TRUE(has_line(env, "KEEP=kept")) << env;
        if (c.fresh_database) {
            EXPECT_TRUE(has_line(env, "DPATH=")) << env;
            EXPECT_TRUE(has_line(env, "PP=")) << env;
            EXPECT_TRUE(has_line(env, "OSKA_SESSION=")) << env;
        } else {
            EXPECT_TRUE(has_line(env, "DPATH=/data/x")) << env;
            EXPECT_TRUE(has_line(env, "PP=pp")) << env;
            EXPECT_TRUE(has_line(env, "OSKA_SESSION=s1")) << env;
        }
    }
}

TEST(Finish, OtherStatusesArePassedOn)
{
    for (const char *status : {"0", "1", "7", "-3"}) {
        Site site;
        site.write_file("stub", stub_image);
        auto r = site.run({"sh", "-c", "chmod 755 \"$LUMBA_SITE/stub\" && exec \"$0\" finish \"$1\" \"$LUMBA_SITE/stub\"",
                           CORE_PROBE, status});
        EXPECT_EQ(r.status, std::stoi(status) & 0xFF) << status;
        EXPECT_FALSE(g_file_test((site.root() + "/restart.args").c_str(), G_FILE_TEST_EXISTS)) << status;
    }
}

TEST(Finish, FailedRestartIsFatal)
{
    Site site;
    auto r = site.run({CORE_PROBE, "finish", "-1", "/nonexistent/lumba_run"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("\nMessage:  Cannot restart Orun\n"), std::string::npos) << r.err;
}

TEST(Signals, OrderlyExitAtSafePoint)
{
    for (const char *sig : {"TERM", "HUP", "USR1"}) {
        Site site;
        auto r = signal_probe(site, sig);
        EXPECT_EQ(r.out, "status=1\n") << sig << r.err;
        EXPECT_EQ(r.err.find("E R R O R"), std::string::npos) << sig << r.err;  // quietly
        EXPECT_FALSE(g_file_test((site.root() + "/mail/0.args").c_str(), G_FILE_TEST_EXISTS)) << sig;
    }
}

TEST(Signals, InterruptGivesFatalReportThenTrap)
{
    Site site;
    auto r = signal_probe(site, "INT");
    EXPECT_EQ(r.out, "status=133\n") << r.err;  // the report ends by raising SIGTRAP
    EXPECT_NE(r.err.find("\nMessage:  Program interrupted by user\n"), std::string::npos) << r.err;
    EXPECT_NE(site.read_file("oska/log/errorlog").find("Program interrupted by user"), std::string::npos);
    EXPECT_NE(site.read_file("mail/0.args").find("E-fatal:Program interrupted by user"), std::string::npos);
}

// The first signal caught is the one acted on: an interrupt after a request to terminate still
// ends the run quietly, and a request to terminate after another signal's report is due does
// not take it back. Only a pending interrupt is replaced by a request to terminate (both sent
// together arrive interrupt first): the run ends quietly.
TEST(Signals, TheFirstSignalCaughtIsActedOn)
{
    struct {
        const char *raised;  // in this order, before the safe point
        int status;
        const char *message;  // of the report, or nullptr for a quiet end
    } cases[] = {
        {"15 2", 1, nullptr},
        {"1 2", 1, nullptr},
        {"2 15", 1, nullptr},
        {"2 1", 1, nullptr},
        {"2 10", 1, nullptr},
        {"3 15", 128 + 5, "Caught signal 3"},
        {"2 3", 128 + 5, "Program interrupted by user"},
    };
    for (const auto &c : cases) {
        Site site;
        auto r = site.run({"sh", "-c", std::string("ulimit -c 0; exec \"$0\" signals ") + c.raised, CORE_PROBE});
        EXPECT_EQ(r.status, c.status) << c.raised << "\n" << r.err;
        if (c.message)
            EXPECT_NE(r.err.find(std::string("\nMessage:  ") + c.message + "\n"), std::string::npos) << c.raised << r.err;
        else
            EXPECT_EQ(r.err.find("E R R O R"), std::string::npos) << c.raised << "\n" << r.err;
    }
}

TEST(Signals, OtherSignalsAreFatalAndPipeIgnored)
{
    Site site;
    auto r = signal_probe(site, "QUIT");
    EXPECT_EQ(r.out, "status=133\n") << r.err;
    EXPECT_NE(r.err.find("\nMessage:  Caught signal 3\n"), std::string::npos) << r.err;

    Site second;
    r = signal_probe(second, "PIPE", "TERM");  // SIGPIPE ignored: still running until SIGTERM
    EXPECT_EQ(r.out, "status=1\n") << r.err;
    EXPECT_EQ(r.err.find("Caught signal"), std::string::npos) << r.err;
}

// A fault while the current application is one that was unloaded (a routine of it still ran):
// the report is made without reading that record, from what is still loaded, and the COMMON
// object goes before the trap ends the run.
TEST(Signals, FaultUnderAnUnloadedApplicationIsReported)
{
    Site site;
    const std::string pid = "unloaded" + std::to_string(getpid());
    const struct passwd *pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    const std::string common = std::string("/dev/shm/oska_") + pw->pw_name + "_" + pid;
    auto r = site.run({"sh", "-c", "ulimit -c 0; exec \"$0\" unloaded", CORE_PROBE}, {"PID=" + pid});
    EXPECT_EQ(r.status, 128 + SIGTRAP) << r.err;
    EXPECT_EQ(r.out, "common made\n") << r.err;
    EXPECT_NE(r.err.find("\nMessage:  Caught signal 11\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\nProgram:  Unknown; App:v."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("; kept__A; Lumba:v."), std::string::npos) << r.err;
    EXPECT_NE(site.read_file("mail/0.args").find("E-fatal:Caught signal 11"), std::string::npos);
    EXPECT_FALSE(g_file_test(common.c_str(), G_FILE_TEST_EXISTS)) << common;
}

TEST(Reports, NoticesAndMails)
{
    Site site;
    // Before a program is loaded a notice goes to standard error, escaped.
    auto r = site.run({CORE_PROBE, "report", "Message", "say \"hi\" for $5 [ok]\\"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "say \\\"hi\\\" for \\$5 \\[ok]\\\\\n\n");

    // Warnings only from run-time log level 2 on.
    r = site.run({CORE_PROBE, "report", "Warn", "careful", "2"});
    EXPECT_EQ(r.err, "careful\n\n");
    r = site.run({CORE_PROBE, "report", "Warn", "careful", "1"});
    EXPECT_EQ(r.err, "");

    r = site.run({CORE_PROBE, "report", "Email", "first line\nsecond line"});
    EXPECT_EQ(r.status, 0);
    std::string args = site.read_file("mail/0.args");
    EXPECT_TRUE(has_line(args, "support@lumba-runtime.example")) << args;
    EXPECT_TRUE(has_line(args, "E-info:first line")) << args;

    r = site.run({CORE_PROBE, "report", "Debug", "inside a transaction"});
    args = site.read_file("mail/1.args");
    EXPECT_TRUE(has_line(args, "dbtrans@lumba-runtime.example")) << args;
    EXPECT_TRUE(has_line(args, "E-debug:inside a transaction")) << args;
}

TEST(Reports, TrappableAndFatalErrors)
{
    Site site;
    auto r = site.run({CORE_PROBE, "report", "Xerror110", "end of data"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "bail out, ERR_REG=110, n_errors=1\n");
    EXPECT_NE(r.err.find("\nMessage:  end of data\n"), std::string::npos) << r.err;
    EXPECT_FALSE(g_file_test((site.root() + "/mail/0.args").c_str(), G_FILE_TEST_EXISTS));

    // Any other code is fatal; the shown text is cleaned: CR LF one break, a bell as 0x7.
    r = site.run({CORE_PROBE, "report", "Xerror200", "bad\r\nvalue\a here"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(site.read_file("oska/log/errorlog").find("\nMessage:  bad\nvalue0x7 here\n"), std::string::npos)
        << site.read_file("oska/log/errorlog");
    EXPECT_TRUE(has_line(site.read_file("mail/0.args"), "E-fatal:bad")) << site.read_file("mail/0.args");
}

// A sink that returns from a fatal report does not make Abort return: the run-time's own report
// is made and the run ends with status 1.
TEST(Reports, FatalReportEndsTheRunWhateverTheSink)
{
    Site site;
    auto r = site.run({CORE_PROBE, "report", "ReturningSink", "still fatal"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(site.read_file("oska/log/errorlog").find("\nMessage:  still fatal\n"), std::string::npos)
        << site.read_file("oska/log/errorlog");
    EXPECT_TRUE(has_line(site.read_file("mail/0.args"), "E-fatal:still fatal")) << site.read_file("mail/0.args");
}

// An allocation that fails where nothing catches it ends in the run-time's fatal report, not in
// std::terminate's message, an abort and a core.
TEST(Reports, AnAllocationFailureNothingCatchesIsAFatalReport)
{
    Site site;
    auto r = site.run({"sh", "-c", "ulimit -c 0; cd \"$LUMBA_SITE\"; exec \"$0\" report OutOfMemory x", CORE_PROBE});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err.find("terminate called"), std::string::npos) << r.err;
    EXPECT_NE(site.read_file("oska/log/errorlog").find("\nMessage:  Out of memory\n"), std::string::npos)
        << site.read_file("oska/log/errorlog");
    EXPECT_TRUE(has_line(site.read_file("mail/0.args"), "E-fatal:Out of memory")) << site.read_file("mail/0.args");
}

TEST(Reports, ProgramAssertion)
{
    Site site;
    auto r = site.run({"sh", "-c", "ulimit -c 0; cd \"$LUMBA_SITE\"; exec \"$0\" report Assert x", CORE_PROBE});
    EXPECT_EQ(r.status, 128 + 5);
    EXPECT_NE(r.err.find("Message:  Program assertion failed in core_probe@"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(": text == nullptr\n"), std::string::npos) << r.err;
}
