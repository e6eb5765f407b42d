// Fatal reports of lumba_run in background mode: both error logs, the user log, the mail.
#include <gtest/gtest.h>

#include <glib.h>
#include <pwd.h>
#include <string>
#include <unistd.h>

#include "shell_time.h"
#include "site.h"

using lumba_test::Site;

namespace {

const std::string banner = "** E R R O R ** This information will be emailed to Oska.";

int count_of(const std::string &text, const std::string &what)
{
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string user_name()
{
    struct passwd *pw = getpwuid(getuid());
    return pw ? pw->pw_name : "";
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::string::size_type start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// An empty object file: the loader stops the run with "Null load file".
void install_empty_program(const Site &site)
{
    site.write_file("oska/apps/unit0/prog", "");
}

} // namespace

TEST(FatalReport, BackgroundAbortLogsAndMailsOneReport)
{
    Site site;
    install_empty_program(site);
    site.write_file("oska/log/errorlog", "earlier site report\n");
    site.write_file("home/.oska/errorlog", "earlier user report\n");
    auto r = site.lumba({"-b", "prog", "0"});
    ASSERT_EQ(r.status, 1) << r.err;

    for (const char *log : {"oska/log/errorlog", "home/.oska/errorlog"}) {
        std::string text = site.read_file(log);
        EXPECT_EQ(text.rfind("earlier ", 0), 0u) << log;  // earlier content intact
        EXPECT_EQ(count_of(text, banner), 1) << log << "\n" << text;
        EXPECT_NE(text.find("\nMessage:  Null load file\n"), std::string::npos) << text;
        EXPECT_NE(text.find("\nFunction Name: __MAIN__\n"), std::string::npos) << text;
        EXPECT_NE(text.find("Lumba:v.15.06.111; "), std::string::npos) << text;
    }
    // The same report in the user log and on standard error (log mode 3), once each.
    std::string user_log = site.read_file("oska/temp/" + user_name() + ".log");
    EXPECT_EQ(count_of(user_log, banner), 1) << user_log;
    EXPECT_EQ(count_of(r.err, banner), 1) << r.err;

    auto args = lines_of(site.read_file("mail/0.args"));
    ASSERT_EQ(args.size(), 4u);
    EXPECT_EQ(args[0], "translog@lumba-runtime.example");  // fatal reports go to the transaction log
    EXPECT_NE(args[1].find("@lumba-runtime.example"), std::string::npos);
    EXPECT_EQ(args[2], "E-fatal:Null load file");
    EXPECT_EQ(args[3].rfind("/usr/local/oska/temp/email-", 0), 0u) << args[3];
    EXPECT_FALSE(g_file_test((site.root() + "/mail/1.args").c_str(), G_FILE_TEST_EXISTS));

    std::string mail = site.read_file("mail/0.txt");
    auto lines = lines_of(mail);
    ASSERT_GE(lines.size(), 4u);
    // No program header was read: the program's issue field is empty.
    EXPECT_NE(lines[0].find(" Issue:  RPC: "), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1], "Null load file");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3].rfind("Host:  ", 0), 0u) << mail;
    EXPECT_NE(mail.find("\n---\n"), std::string::npos) << mail;
    // Once the script has taken it, the mail text is removed from the site's temp directory.
    EXPECT_FALSE(g_file_test((site.oska() + "/temp/" + args[3].substr(std::string("/usr/local/oska/temp/").size())).c_str(),
                             G_FILE_TEST_EXISTS));
}

TEST(FatalReport, StackTraceFromDebugger)
{
    if (!g_file_test("/usr/bin/gdb", G_FILE_TEST_IS_EXECUTABLE)) GTEST_SKIP() << "no gdb";
    Site site;
    install_empty_program(site);
    auto r = site.lumba({"-b", "prog", "0"}, {"LUMBA_SITE_DEBUGGER=gdb"});
    ASSERT_EQ(r.status, 1);
    std::string mail = site.read_file("mail/0.txt");
    // The site's command file asks for a backtrace of every thread; the trace names Abort.
    EXPECT_NE(mail.find("Abort"), std::string::npos) << mail;
    EXPECT_NE(mail.find("LoadCode"), std::string::npos) << mail;
}

TEST(FatalReport, MailFileIsNewForEveryReport)
{
    Site site;
    site.lumba({"-b", "prog"});
    site.lumba({"-b", "prog"}, {"F=9x"});
    auto first = lines_of(site.read_file("mail/0.args"));
    auto second = lines_of(site.read_file("mail/1.args"));
    ASSERT_EQ(first.size(), 4u);
    ASSERT_EQ(second.size(), 4u);
    EXPECT_NE(first[3], second[3]);
    EXPECT_EQ(second[2], "E-fatal:Environment variable F ill-formed");
    EXPECT_NE(site.read_file("mail/0.txt"), site.read_file("mail/1.txt"));
}

TEST(FatalReport, UserLogIsNotOpenedThroughSymlink)
{
    Site site;
    site.write_file("outside", "precious\n");
    const std::string log = "/usr/local/oska/temp/" + user_name() + ".log";
    auto r = site.run({"sh", "-c", "ln -sf \"$LUMBA_SITE/outside\" \"$0\" && exec \"$1\" -b prog", log, LUMBA_RUN});
    // The run goes on without the user log, to its report that there is no program.
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("mlog: Running without the log file " + log + ": it is a link\n", 0), 0u) << r.err;
    EXPECT_EQ(lumba_test::report_message(r.err), "Cannot load prog") << r.err;
    EXPECT_EQ(site.read_file("outside"), "precious\n");
}

TEST(FatalReport, FailureWhileReportingEndsOnStandardError)
{
    Site site;
    // Start-up waits on the soft-key FIFO while the user log is taken away, so writing the fatal
    // report to the log fails: that second fatal error must end the run at once, status 1.
    const std::string log = "/usr/local/oska/temp/" + user_name() + ".log";
    auto r = site.run({"sh", "-c",
                       "rm -f /usr/local/oska/conf/softkeys; mkfifo /usr/local/oska/conf/softkeys; "
                       "\"$1\" -b prog 2>\"$LUMBA_SITE/err\" & p=$!; "
                       "i=0; while [ $i -lt $(( $2 / 10 )) ] && [ ! -e \"$0\" ]; do sleep 0.01; i=$((i+1)); done; "
                       "rm -f \"$0\"; "
                       "timeout $(( ($2 + 999) / 1000 )) sh -c 'echo \"default : 1 \\\"Help\\\"\" > /usr/local/oska/conf/softkeys'; "
                       "wait $p; echo status=$?",
                       log, LUMBA_RUN, lumba_test::scaled_ms_text(lumba_test::WAIT_MS)});
    EXPECT_EQ(r.out, "status=1\n") << r.err;
    std::string err = site.read_file("err");
    EXPECT_NE(err.find("mlog: No such file or directory error when attempting to open log file " + log),
              std::string::npos)
        << err;
    EXPECT_EQ(err.substr(err.size() - 12), "mlog_abort!\n") << err;
    // No mail: the run ended inside the first report.
    EXPECT_FALSE(g_file_test((site.root() + "/mail/0.args").c_str(), G_FILE_TEST_EXISTS));
}

namespace {

std::string abort_program(const std::string &header, const std::string &message)
{
    return header + ".proc r:main I:0 I:0 I:2 I:0 I:0 I:0\nloadsc s:\"" + message + "\" p:1\nipcall I:0 I:1\nexit\n";
}

} // namespace

// Title, Issue line and mail show the issue field of the failing program's header.
TEST(FatalReport, IssueOfTheProgram)
{
    struct {
        std::string header, issue;
    } cases[] = {{"", "V150611"}, {".header V15abcd * * * * * * * * * * * * * * *\n", "V15abcd"}};
    for (const auto &c : cases) {
        Site site;
        site.install_program("prog", abort_program(c.header, "boom"));
        auto r = site.lumba({"-b", "prog", "0"});
        ASSERT_EQ(r.status, 1) << r.err;
        const std::string log = site.read_file("oska/log/errorlog");
        EXPECT_NE(log.find(" Issue: " + c.issue + " RPC: "), std::string::npos) << log;
        EXPECT_NE(log.find("\nIssue:    " + c.issue + "\n"), std::string::npos) << log;
        const std::string mail = site.read_file("mail/0.txt");
        EXPECT_NE(mail.find(" Issue: " + c.issue + " RPC: "), std::string::npos) << mail;
        EXPECT_NE(mail.find("\nIssue:    " + c.issue + "\n"), std::string::npos) << mail;
        EXPECT_EQ(log.find("V15 RPC"), std::string::npos) << log;
    }
}

// A login name with line ends cannot forge lines of the shared error log nor reach the mail
// script's arguments.
TEST(FatalReport, ControlCharactersOfTheLoginName)
{
    Site site;
    site.install_program("prog", abort_program("", "boom"));
    auto r = site.lumba({"-b", "prog", "0"}, {"LOGNAME=eve\nForged: line\x1b"});
    ASSERT_EQ(r.status, 1) << r.err;
    const std::string log = site.read_file("oska/log/errorlog");
    EXPECT_NE(log.find(" RPC: eve0xAForged: line0x1B ("), std::string::npos) << log;
    EXPECT_EQ(log.find("\nForged: line"), std::string::npos) << log;
    auto args = lines_of(site.read_file("mail/0.args"));
    ASSERT_EQ(args.size(), 4u);
    EXPECT_EQ(args[1], "oska@lumba-runtime.example");
}

// A mail the script could not send stays in the temp directory and the run-time log says where;
// a recipient with control characters in it (a program's LOGEMAIL) is refused the same way.
TEST(FatalReport, UnsentMailIsKept)
{
    Site site;
    site.install_program("prog", abort_program("", "boom"));
    site.write_file("oska/scripts/mailit-mutt-noatt.sh", "#!/bin/sh\nexit 3\n");
    auto r = site.run({"sh", "-c", "chmod 755 /usr/local/oska/scripts/mailit-mutt-noatt.sh && exec \"$0\" -b prog 0",
                       LUMBA_RUN});
    ASSERT_EQ(r.status, 1) << r.err;
    const std::string said = "E_mesg: the mail script failed; the report stays in /usr/local/oska/temp/email-";
    const auto at = r.err.find(said);
    ASSERT_NE(at, std::string::npos) << r.err;
    const std::string kept = r.err.substr(at + said.size() - 6, r.err.find('\n', at) - at - said.size() + 6);
    const std::string text = site.read_file("oska/temp/" + kept);
    EXPECT_NE(text.find("boom"), std::string::npos) << kept;

    Site other;
    other.install_program("mailer", ".proc r:main I:0 I:0 I:2 I:0 I:0 I:0\nloadsc s:\"a\\nb@x\" p:1\n"
                                    "loadsc s:\"hello\" p:1\ncallio I:6 I:2\nexit\n");
    r = other.lumba({"-b", "mailer", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("E_mesg: recipient a0xAb@x refused; the report stays in /usr/local/oska/temp/email-"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(g_file_test((other.root() + "/mail/0.args").c_str(), G_FILE_TEST_EXISTS));
}

// However many programs are loaded, a report names the first twenty and counts the others.
TEST(FatalReport, ApplicationNamesAreBounded)
{
    Site site;
    // Each run of nest counts itself in COMMON and runs the next as its EXECUTE child, 25 in all;
    // the last stops the run while all are loaded.
    site.install_program("nest", ".proc r:main I:0 I:0 I:2 I:0 I:0 I:0\n.common I:1 I:0\n"
                                 "loadrvd I:0 I:0 I:0 I:0 I:0\nloadrc n:1 c:0\nadd\nstorrd I:0 I:0 I:0 I:0 I:0\n"
                                 "loadrvd I:0 I:0 I:0 I:0 I:0\nloadrc n:25 c:0\nlt\njumpz l:deep\n"
                                 "loadsc s:\"nest\" p:1\nloadrc n:0 c:0\nifcallr I:24 I:2\nexit\n"
                                 "deep:\nloadsc s:\"deep\" p:1\nipcall I:0 I:1\nexit\n");
    auto r = site.lumba({"-b", "nest", "0"});
    ASSERT_EQ(r.status, 1) << r.err;
    std::string names;
    for (char c = 'A'; c <= 'T'; ++c) names += std::string(names.empty() ? "" : ", ") + "nest__" + c;
    const std::string log = site.read_file("oska/log/errorlog");
    EXPECT_NE(log.find("; " + names + ", ... and 5 more; Lumba:v."), std::string::npos) << log;
    EXPECT_NE(site.read_file("mail/0.txt").find("; " + names + ", ... and 5 more; Lumba:v."), std::string::npos);
}
