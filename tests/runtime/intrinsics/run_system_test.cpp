// Programs run by the real lumba_run in a private site: the process scripts (argument vectors,
// never a shell), LOG.ERROR's report and mail, the interval timer, and the crash-dump offer after
// a fatal error, answered under a private X server with xdotool.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>

#include "intrinsics.h"
#include "program_text.h"
#include "shell_time.h"
#include "site.h"
#include "xvfb.h"

using lumba_test::Site;
using lumba_test::Xvfb;

namespace {

using lumba_test::call;
using lumba_test::num;
using lumba_test::str;

std::string main_proc(const std::string &body)
{
    return ".proc r:main I:0 I:0 I:2 I:0 I:0 I:0\n.common I:2 I:0\nsrcline I:3 I:0\n" + body + "exit\n";
}
// A stub site script: records its arguments, one a line after their count, under
// $LUMBA_SITE/<name>.args, then exits with the status written in $LUMBA_SITE/<name>.status.
std::string stub_script(const std::string &name)
{
    return "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"$LUMBA_SITE/" + name + ".args\"\nexit $(cat \"$LUMBA_SITE/" +
           name + ".status\")\n";
}

// Runs the program in the site from $LUMBA_SITE, with the stub sudo first in the search path.
lumba_test::RunResult run_in_site(const Site &site, const std::string &program, const std::vector<std::string> &options)
{
    std::vector<std::string> argv{"sh", "-c", "cd \"$LUMBA_SITE\" && PATH=\"$LUMBA_SITE/stubs:$PATH\" exec \"$@\"",
                                  "run", LUMBA_RUN};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(program);
    argv.push_back("0");
    return site.run(argv);
}

void make_executable(const Site &site, const std::string &relative, const std::string &text)
{
    site.write_file(relative, text);
    chmod((site.root() + "/" + relative).c_str(), 0755);
}

// The texts the program logged (lines "<pid> <time> B <text>"), in order.
std::vector<std::string> logged(const std::string &err)
{
    static const std::regex program_line(R"(^[0-9]+ [0-9:.]+ +B (.*)$)");
    std::vector<std::string> values;
    std::istringstream in(err);
    std::smatch m;
    for (std::string line; std::getline(in, line);)
        if (std::regex_match(line, m, program_line)) values.push_back(m[1]);
    return values;
}

} // namespace

TEST(RunSystem, ProcessScriptsGetOneArgumentEach)
{
    Site site;
    make_executable(site, "oska/scripts/process_check.pl", stub_script("check"));
    make_executable(site, "oska/scripts/process_kill.pl", stub_script("kill"));
    make_executable(site, "stubs/sudo", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"$LUMBA_SITE/sudo.args\"\nexec \"$@\"\n");
    const std::string check = call("ifcallr", in_IPROCESS_CHECK, 2), kill = call("ifcallr", in_IPROCESS_KILL, 1);
    auto logs = [](const std::string &value) { return num("1") + value + call("ipcall", in_IMLOG, 2); };
    struct {
        std::string name, body, status;
        std::vector<std::string> values;
        std::string args_file, args;  // what the script received
    } cases[] = {
        {"check0", logs(str("x; touch pwned") + num("7") + check + "ifcalls I:" + std::to_string(in_STR) + " I:1\n"), "0",
         {"1"}, "check.args", "2\nx; touch pwned\n7\n"},
        {"check3", logs(str("$(touch pwned)") + num("-2") + check + "ifcalls I:" + std::to_string(in_STR) + " I:1\n"), "3",
         {"0"}, "check.args", "2\n$(touch pwned)\n-2\n"},
        {"kill0", logs(num("4242") + kill + "ifcalls I:" + std::to_string(in_STR) + " I:1\n"), "0", {"1"}, "kill.args",
         "1\n4242\n"},
        {"kill9", logs(num("4242") + kill + "ifcalls I:" + std::to_string(in_STR) + " I:1\n"), "9", {"0"}, "kill.args",
         "1\n4242\n"},
        // Process ids that stand for init, a group or every process never reach the script.
        {"kill1", logs(num("1") + kill + "ifcalls I:" + std::to_string(in_STR) + " I:1\n") +
                      logs(num("0") + kill + "ifcalls I:" + std::to_string(in_STR) + " I:1\n") +
                      logs(num("-1") + kill + "ifcalls I:" + std::to_string(in_STR) + " I:1\n"),
         "0", {"0", "0", "0"}, "kill.args", ""},
    };
    for (const auto &c : cases) {
        site.write_file("check.status", c.status + "\n");
        site.write_file("kill.status", c.status + "\n");
        std::remove((site.root() + "/check.args").c_str());
        std::remove((site.root() + "/kill.args").c_str());
        std::remove((site.root() + "/sudo.args").c_str());
        site.install_program(c.name, main_proc(c.body));
        auto r = run_in_site(site, c.name, {"-b", "-v", "1"});
        EXPECT_EQ(r.status, 0) << c.name << "\n" << r.err;
        EXPECT_EQ(logged(r.err), c.values) << c.name << "\n" << r.err;
        EXPECT_EQ(site.read_file(c.args_file), c.args) << c.name;
        // The kill script runs through sudo, which is given the script and the process id.
        if (c.args_file == "kill.args") {
            EXPECT_EQ(site.read_file("sudo.args"), c.args.empty() ? "" : "/usr/local/oska/scripts/process_kill.pl\n4242\n");
        }
        EXPECT_EQ(site.read_file("pwned"), "") << c.name;
        EXPECT_EQ(site.read_file("oska/pwned"), "") << c.name;
    }
}

TEST(RunSystem, ProcessScriptFailures)
{
    Site site;
    make_executable(site, "oska/scripts/process_check.pl", "#!/bin/sh\nkill -KILL $$\n");
    site.install_program("killed", main_proc(str("name") + num("1") + call("ifcallr", in_IPROCESS_CHECK, 2)));
    auto r = run_in_site(site, "killed", {"-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lumba_test::report_message(r.err), "system error") << r.err;

    // A script that cannot be run at all is a failed check, as a shell would have found it.
    std::remove((site.oska() + "/scripts/process_check.pl").c_str());
    site.install_program("missing", main_proc(num("1") + str("name") + num("1") + call("ifcallr", in_IPROCESS_CHECK, 2) +
                                              "ifcalls I:" + std::to_string(in_STR) + " I:1\n" +
                                              call("ipcall", in_IMLOG, 2)));
    r = run_in_site(site, "missing", {"-b", "-v", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(logged(r.err), std::vector<std::string>{"0"}) << r.err;
}

TEST(RunSystem, LogErrorIsLoggedAndMailedToSupportOnce)
{
    std::string body;
    for (const char *part : {"Heading", "prog", "7", "label", "table", "/data", "fn", "meaning", "the message"})
        body += str(part);
    Site site;
    site.install_program("logerr", main_proc(body + call("ipcall", in_LOG_ERROR, 9)));
    auto r = site.lumba({"-b", "logerr", "0"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Message:  the message\n"), std::string::npos) << r.err;
    EXPECT_NE(site.read_file("oska/log/errorlog").find("Message:  the message"), std::string::npos);

    const std::string args = site.read_file("mail/0.args"), mail = site.read_file("mail/0.txt");
    EXPECT_EQ(site.read_file("mail/1.args"), "");  // one mail only
    EXPECT_EQ(args.substr(0, args.find('\n')), "support@lumba-runtime.example") << args;
    EXPECT_NE(args.find("\nE-rerror:"), std::string::npos) << args;
    // The report, then both trace rings: the program's routines and the run-time's own entries.
    for (const char *line : {"\nHeading\n", "** E R R O R ** This information will be emailed to Oska.\n",
                             "Program:  prog\n", "Function Name: fn\n", "Message:  the message\n", " main  @ ",
                             " --TRACE -IN: Execute -- "})
        EXPECT_NE(mail.find(line), std::string::npos) << line << " in\n" << mail;
    EXPECT_LT(mail.find("Message:  the message"), mail.find(" main  @ "));
}

TEST(RunSystem, TimerLapBeforeAnyResetCountsFromTheEpoch)
{
    Site site;
    site.install_program("lap", main_proc(call("ipcall", in_ITIMER_LAP, 0) + call("ipcall", in_ITIMER_RESET, 0) +
                                          call("ipcall", in_ITIMER_LAP, 0)));
    auto r = site.lumba({"-b", "lap", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string head = "\n -- Timer elapsed ";
    const std::size_t first = r.err.find(head);
    ASSERT_NE(first, std::string::npos) << r.err;
    const double since_epoch = std::atof(r.err.c_str() + first + head.size());
    EXPECT_NEAR(since_epoch, static_cast<double>(std::time(nullptr)), 300.0);  // single precision
    EXPECT_NE(r.err.find("\n -- Timer reset\n\n"), std::string::npos);
    const std::size_t second = r.err.find(head, first + 1);
    ASSERT_NE(second, std::string::npos) << r.err;
    // Counted from the reset: far below the time since the epoch.
    EXPECT_LT(std::atof(r.err.c_str() + second + head.size()), lumba_test::scaled_ms(lumba_test::PROMPT_MS) / 1000.0);
}

namespace {

// X = 5, then a number, a reference to X and a text on the stack; ABORT ends the run.
const std::string crashing = main_proc(num("5") + "storrd I:0 I:0 I:0 I:0 I:0\n" + num("1") +
                                       "loadrad I:0 I:0 I:0 I:0 I:0\n" + str("boom") + call("ipcall", in_ABORT, 1));

// Starts lumba_run with the options given in $1, closes its fatal report with Return, answers the
// dump offer with the key in $2 when there is one, and prints the process id and the exit status.
// $3: how long the run may take to show its report (s), a whole start; $4: how long to wait for
// the offer after it (s). A run that shows no report is killed; once it has, a watchdog ($5 s,
// longer than the wait for the offer) ends a run that waits for an answer nobody gives (a dialog
// that should not be there).
const char *offer_script =
    "\"$0\" $1 crash 0 2>\"$LUMBA_SITE/err\" & p=$!; echo pid=$p; "
    "w1=$(timeout $3 xdotool search --sync --onlyvisible --pid $p | head -1); "
    "[ -n \"$w1\" ] || { echo no report; kill -KILL $p; }; "
    "( sleep $5; kill -KILL $p ) >/dev/null 2>&1 & watchdog=$!; "
    "xdotool windowfocus --sync $w1 key Return; "
    "if [ -n \"$2\" ]; then "
    "  i=0; w2=; while [ $i -lt $(( $4 * 10 )) ] && [ -z \"$w2\" ]; do "
    "    w2=$(xdotool search --onlyvisible --pid $p 2>/dev/null | grep -v \"^$w1\\$\" | head -1); sleep 0.1; i=$((i+1)); "
    "  done; "
    "  [ -n \"$w2\" ] && echo offered=$(xdotool getwindowname $w2) && xdotool windowfocus --sync $w2 key $2; "
    "fi; "
    "wait $p; s=$?; kill $watchdog 2>/dev/null; echo status=$s";

struct Offer {
    std::string pid, offered, status;
};

Offer answer_offer(const Site &site, const Xvfb &x, const std::string &options, const std::string &key)
{
    using lumba_test::scaled_s_text;
    auto r = site.run({"sh", "-c", offer_script, LUMBA_RUN, options, key, scaled_s_text(lumba_test::RUN_WAIT_MS),
                       scaled_s_text(lumba_test::WAIT_MS), scaled_s_text(lumba_test::RUN_WAIT_MS)},
                      x.gui_env());
    auto field = [&](const std::string &name) {
        const std::size_t at = r.out.find(name + "=");
        return at == std::string::npos ? std::string() : r.out.substr(at + name.size() + 1, r.out.find('\n', at) - at - name.size() - 1);
    };
    return {field("pid"), field("offered"), field("status")};
}

} // namespace

class CrashDumpOffer : public ::testing::Test {
protected:
    void SetUp() override { site.install_program("crash", crashing); }
    Offer answer(const std::string &options, const std::string &key) { return answer_offer(site, x, options, key); }

    Xvfb x;
    Site site;
};

TEST_F(CrashDumpOffer, YesWritesTheDump)
{
    const Offer o = answer("-d", "alt+y");
    EXPECT_EQ(o.status, "1") << site.read_file("err");
    EXPECT_NE(o.offered, "") << "no dump was offered";
    const std::string path = "oska/crash/" + o.pid;
    const std::string dump = site.read_file(path);
    EXPECT_EQ(dump.substr(0, dump.find("\nDate")), "OSKA dump\n" + o.pid + "\nabcdefghijklmnopqrstuvwxyz");
    EXPECT_NE(dump.find("\n<Error>\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("\nboom\n"), std::string::npos) << dump;
    // A fatal error in the main program: a traceback of one line.
    const std::size_t trace = dump.find("<Traceback>\n");
    ASSERT_NE(trace, std::string::npos) << dump;
    EXPECT_EQ(dump.substr(trace + 12, 6), "ABORT\t");
    EXPECT_EQ(dump.substr(trace + 12 + 13, 8), "<Stack>\n") << dump;
    EXPECT_NE(dump.find("\nSTK[  1]: real (5)\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("\nAll application variable dump\n"), std::string::npos) << dump;
    struct stat st;
    ASSERT_EQ(stat((site.root() + "/" + path).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(CrashDumpOffer, NoWritesNothing)
{
    const Offer o = answer("-d", "alt+n");
    EXPECT_EQ(o.status, "1") << site.read_file("err");
    EXPECT_NE(o.offered, "");
    EXPECT_EQ(site.read_file("oska/crash/" + o.pid), "");
}

TEST_F(CrashDumpOffer, NotOfferedWithoutTheOptionOrWindows)
{
    // No second window: the run ends once its report is closed, before the watchdog.
    const Offer o = answer("", "");
    EXPECT_EQ(o.status, "1") << site.read_file("err");
    EXPECT_EQ(site.read_file("oska/crash/" + o.pid), "");

    auto r = site.lumba({"-b", "-d", "crash", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lumba_test::report_message(r.err), "boom") << r.err;
    EXPECT_EQ(site.run({"sh", "-c", "ls /usr/local/oska/crash | wc -l"}).out, "0\n");
}

TEST_F(CrashDumpOffer, MissingCrashDirectoryEndsTheRunOnce)
{
    site.run({"rmdir", "/usr/local/oska/crash"});
    // Answered once; a second offer would wait for the watchdog.
    const Offer o = answer("-d", "alt+y");
    EXPECT_EQ(o.status, "1");
    EXPECT_NE(o.offered, "");
    EXPECT_NE(site.read_file("err").find("Cannot open dump file - /usr/local/oska/crash/" + o.pid + "\n"),
              std::string::npos)
        << site.read_file("err");
}
