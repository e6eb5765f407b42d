// Programs run by the real lumba_run in background mode: exit statuses and the fatal reports of
// the executor's guards, with their messages and error locations.
#include <gtest/gtest.h>

#include <glib.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "intrinsics.h"
#include "loader.h"
#include "program_text.h"
#include "shell_time.h"
#include "site.h"
#include "zasm_run.h"

using lumba_test::Site;

namespace {

std::string routine(const std::string &name, int params = 0)
{
    return ".proc r:" + name + " I:0 I:0 I:2 I:0 I:0 I:" + std::to_string(params) + "\n";
}

std::string nesting(int levels)
{
    std::string t = routine("main") + "pcall r:f1 I:0\nexit\n";
    for (int i = 1; i <= levels; ++i) {
        t += routine("f" + std::to_string(i));
        if (i < levels) t += "pcall r:f" + std::to_string(i + 1) + " I:0\n";
        t += "exit\n";
    }
    return t;
}

} // namespace

TEST(RunPrograms, HelloComputesItsSum)
{
    Site site;
    site.install_example("hello");
    auto r = site.lumba({"-b", "hello", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lumba_test::report_message(r.err), "") << r.err;
    EXPECT_FALSE(g_file_test((site.root() + "/mail/0.args").c_str(), G_FILE_TEST_EXISTS));
}

TEST(RunPrograms, GuardsStopWithTheirMessages)
{
    struct {
        const char *name;
        std::string text;
        const char *message;
    } cases[] = {
        {"recur", routine("main") + "pcall r:f I:0\nexit\n" + routine("f") + "pcall r:g I:0\nexit\n" + routine("g") +
                      "pcall r:f I:0\nexit\n",
         "Routine f is being recursively called!"},
        {"deep", nesting(98), "Nesting of routines too deep at routine f98"},
        {"args", routine("main") + "loadrc n:1 c:0\nloadrc n:2 c:0\npcall r:f I:2\nexit\n" + routine("f", 3) + "exit\n",
         "Routine f called with wrong number of arguments"},
        {"overflow", routine("main") + "l:\nloadrc n:1 c:0\njump l:l\n", "Stack overflow"},
        {"gosubs", routine("main") + "l:\ngosub l:l\n", "Internal gosub stack overflow"},
        {"returns", routine("main") + "return\n", "Internal gosub stack underflow"},
        {"extend", routine("main") + ".common I:2 I:0\n.common I:2 I:1\nexit\n", "Illegal attempt to extend COMMON"},
        {"divide", routine("main") + "srcline I:12 I:0\nloadrc n:7 c:0\nloadrc n:0 c:0\nmod\nexit\n",
         "Attempt to divide by zero"},
    };
    Site site;
    for (const auto &c : cases) {
        site.install_program(c.name, c.text);
        auto r = site.lumba({"-b", c.name, "0"});
        EXPECT_EQ(r.status, 1) << c.name << "\n" << r.err;
        EXPECT_EQ(lumba_test::report_message(r.err), c.message) << c.name << "\n" << r.err;
    }
    // The report names the routine and the source position.
    auto r = site.lumba({"-b", "divide", "0"});
    EXPECT_NE(r.err.find("in routine __MAIN__ around line 12@"), std::string::npos) << r.err;
    r = site.lumba({"-b", "args", "0"});
    EXPECT_NE(r.err.find("Function Name: f\n"), std::string::npos) << r.err;
}

TEST(RunPrograms, NestingOf97CallsEndsNormally)
{
    Site site;
    site.install_program("deep", nesting(97));
    auto r = site.lumba({"-b", "deep", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(RunPrograms, CommonBlockIsRemovedAtTheEnd)
{
    Site site;
    site.install_program("common", routine("main") + ".common I:3 I:5\nloadrc n:4 c:0\nstorrd I:22 I:0 I:0 I:0 I:0\nexit\n");
    // The run's process id is that of the shell that execs it, which first leaves a stale block
    // of that name (as a killed earlier process would): the run replaces it and removes its own.
    auto r = site.run({"sh", "-c",
                       "exec sh -c 'echo $$; printf stale > /dev/shm/oska_$(id -un)_$$; exec \"$0\" -b common 0' "
                       "\"$0\"",
                       LUMBA_RUN});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string pid = r.out.substr(0, r.out.find('\n'));
    ASSERT_FALSE(pid.empty());
    auto ls = site.run({"sh", "-c", "ls /dev/shm | grep -c \"_$0\\$\" || true", pid});
    EXPECT_EQ(ls.out, "0\n") << ls.out;
}

// Another local user (daemon) who takes the COMMON object's name of a run of nobody before it
// starts, as a file or as a link, does not stop it: the run takes a name of its own beside it,
// leaves the planted name alone, and removes its own at a normal end and on the fatal path of a
// signal alike. All in a /dev/shm of the test's own.
TEST(RunPrograms, CommonNamesTakenByAnotherUserAreLeftAlone)
{
    Site site;
    site.install_program("prog", routine("main") + ".common I:3 I:5\nloadrc n:4 c:0\nstorrd I:22 I:0 I:0 I:0 I:0\n"
                                                   "callio I:5 I:0\nexit\n");
    // $1: what daemon plants ($1 in it is the run's process id, which exec keeps); $2: how the
    // waiting run is ended; $3: how long to wait for its COMMON object (ms). Prints the objects
    // while it waits, its status and the objects after.
    const char *script =
        "mount -t tmpfs -o mode=1777 tmpfs /dev/shm; "
        "chmod 755 \"$LUMBA_SITE\"; chmod 777 /usr/local/oska/log /usr/local/oska/temp \"$HOME\" \"$HOME/.oska\"; "
        "f=\"$LUMBA_SITE/in\"; mkfifo -m 666 \"$f\"; exec 3<>\"$f\"; "
        "sh -c 'setpriv --reuid=daemon --regid=daemon --clear-groups -- sh -c \"$1\" plant $$; "
        "exec \"$0\" -u nobody -b prog 0 <&3 2>\"$LUMBA_SITE/err\"' \"$0\" \"$1\" & p=$!; "
        "i=0; while [ $i -lt $(( $3 / 10 )) ] && ! ls /dev/shm | grep -q \"^oska_nobody_${p}_\"; do sleep 0.01; i=$((i+1)); done; "
        "echo waiting:; ls -ln /dev/shm | awk 'NR>1 {print $3, $9}' | sort; "
        "eval \"$2\"; wait $p; echo status=$?; echo after:; ls -ln /dev/shm | awk 'NR>1 {print $3, $9}' | sort; "
        "cat /dev/shm/oska_nobody_$p";
    struct {
        const char *plant, *end;
        int status;
    } cases[] = {
        {"printf theirs > /dev/shm/oska_nobody_$1", "echo >&3", 0},
        {"printf theirs > /dev/shm/theirs; ln -s theirs /dev/shm/oska_nobody_$1", "kill -INT $p", 128 + SIGTRAP},
    };
    for (const auto &c : cases) {
        auto r = site.run({"sh", "-c", script, LUMBA_RUN, c.plant, c.end, lumba_test::scaled_ms_text(lumba_test::WAIT_MS)});
        const std::string err = site.read_file("err");
        // While the run waits: the planted name (uid 1) and the run's own beside it (uid 65534).
        const std::string waiting = r.out.substr(0, r.out.find("status="));
        EXPECT_NE(waiting.find("\n1 oska_nobody_"), std::string::npos) << r.out << err;
        const auto own = waiting.find("\n65534 oska_nobody_");
        ASSERT_NE(own, std::string::npos) << r.out << err;
        const std::string pid = waiting.substr(own + 19, waiting.find('_', own + 19) - own - 19);
        EXPECT_NE(waiting.find("\n1 oska_nobody_" + pid + "\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("status=" + std::to_string(c.status) + "\n"), std::string::npos) << r.out << err;
        // Afterwards only what daemon planted is left, as daemon left it.
        const std::string after = r.out.substr(r.out.find("after:"));
        EXPECT_EQ(after.find("65534 "), std::string::npos) << r.out;
        EXPECT_NE(after.find("\n1 oska_nobody_" + pid + "\n"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.substr(r.out.size() - 6), "theirs") << r.out;
        EXPECT_EQ(err.find("Cannot create shared memory file"), std::string::npos) << err;
        site.run({"rm", "-f", site.root() + "/in", site.root() + "/err"});
    }
}

namespace {

// Starts lumba_run -b prog 0 with standard input from a pipe the script holds open and idle,
// waits until the program is waiting (its COMMON block exists and it sleeps in a wait), then runs
// the shell commands of $1 (in which $p is the run's process id, fd 3 the pipe and $2 how long a
// wait may take, in ms) and prints the run's status, the milliseconds from those commands to its
// end, and how many COMMON objects of it are left. $3: when a watchdog kills the run (s).
const std::string waiting_run =
    lumba_test::shell_blocked() +
    "f=\"$LUMBA_SITE/in\"; mkfifo \"$f\"; \"$0\" -b prog 0 <\"$f\" 2>\"$LUMBA_SITE/err\" & p=$!; exec 3>\"$f\"; "
    "u=$(id -un); i=0; while [ $i -lt $(( $2 / 10 )) ] && [ ! -e /dev/shm/oska_${u}_$p ]; do sleep 0.01; i=$((i+1)); done; "
    "blocked $p $2; t0=$(date +%s%N); eval \"$1\"; "
    "( sleep $3; kill -KILL $p ) >/dev/null 2>&1 & w=$!; "
    "wait $p; s=$?; t1=$(date +%s%N); kill $w 2>/dev/null; "
    "echo \"status=$s ms=$(( (t1 - t0) / 1000000 )) common=$(ls /dev/shm | grep -c \"^oska_${u}_$p\\$\")\"";

// waiting_run with the commands, after the shell commands before.
lumba_test::RunResult run_waiting(const Site &site, const std::string &commands, const std::string &before = "")
{
    return site.run({"sh", "-c", before + waiting_run, LUMBA_RUN, commands, lumba_test::scaled_ms_text(lumba_test::WAIT_MS),
                     lumba_test::scaled_s_text(lumba_test::RUN_WAIT_MS)});
}

struct Waited {
    int status = -1, ms = -1, common = -1;
};

Waited parse_waited(const std::string &out)
{
    Waited w;
    std::sscanf(out.c_str(), "status=%d ms=%d common=%d", &w.status, &w.ms, &w.common);
    return w;
}

} // namespace

namespace {

// Runs body (after the COMMON block) until it waits, then sends SIGTERM: the run ends at once with
// status 1, quietly, its COMMON block removed and nothing left at leftover (unless ""). before:
// shell commands run first.
void expect_terminated(Site &site, const std::string &what, const std::string &body, const std::string &before,
                       const std::string &leftover)
{
    site.install_program("prog", routine("main") + ".common I:1 I:0\n" + body + "exit\n");
    auto r = run_waiting(site, "kill -TERM $p", before);
    const Waited w = parse_waited(r.out);
    EXPECT_EQ(w.status, 1) << what << ": " << r.out << site.read_file("err");
    // Woken, not waited out: the sleep and the watchdog are far longer than the bound, which
    // leaves room for a loaded machine and a sanitizer's exit.
    EXPECT_LT(w.ms, lumba_test::scaled_ms(lumba_test::PROMPT_MS)) << what;
    EXPECT_EQ(w.common, 0) << what;
    EXPECT_EQ(site.read_file("err").find("E R R O R"), std::string::npos) << what;  // quietly
    if (!leftover.empty()) {
        EXPECT_FALSE(g_file_test(leftover.c_str(), G_FILE_TEST_EXISTS)) << what;
    }
}

} // namespace

// A program waiting in INPUT on an idle pipe, in SLEEP or in a READ of a pipe ends at once on
// SIGTERM (status 1, its COMMON block removed), instead of when its input or time comes.
TEST(Signals, TerminateWakesWhatWaits)
{
    Site site;
    const std::string fifo = site.root() + "/channel";
    struct {
        const char *what;
        std::string body;
    } cases[] = {
        {"INPUT", "callio I:5 I:0\n"},
        {"SLEEP", "loadrc n:" + std::to_string(lumba_test::STALL_S) + " c:0\nipcall I:363 I:1\n"},
        {"READ", "loadrc n:1 c:0\nioc I:12\nloadsc s:\"" + fifo + "\" p:1\nioc I:5\ncallio I:8 I:0\n"
                 "loadrc n:1 c:0\nioc I:12\nloadrad I:0 I:1 I:0 I:0 I:0\ncallio I:10 I:1\n"},
    };
    for (const auto &c : cases) {
        // The READ case's channel is a FIFO whose writer is held open and says nothing.
        const std::string before = std::string(c.what) == "READ" ? "exec 4<>\"" + fifo + "\"; " : "";
        if (!before.empty()) site.run({"mkfifo", fifo});
        expect_terminated(site, c.what, c.body, before, "");
        site.run({"rm", "-f", fifo, site.root() + "/in"});
    }
}

// A copy from a FIFO of the run's own that no one writes waits in the source's open; SIGTERM ends
// it there as any other wait, and no copy is left.
TEST(Signals, TerminateEndsACopyWaitingForItsSource)
{
    Site site;
    const std::string fifo = site.root() + "/channel", copy = site.root() + "/copy";
    site.run({"mkfifo", fifo});
    expect_terminated(site, "ICOPY", lumba_test::str(fifo) + lumba_test::str(copy) + lumba_test::st(in_ICOPY, 2), "", copy);
}

// SIGINT and SIGTERM pending together (sent while the run is stopped) are delivered interrupt
// first, each recorded before the next comes; the request to terminate still ends the run
// quietly, at once.
TEST(Signals, TerminateTogetherWithAnInterruptEndsQuietly)
{
    Site site;
    site.install_program("prog", routine("main") + ".common I:1 I:0\ncallio I:5 I:0\nexit\n");
    // The time is taken from the moment the stopped run is continued.
    const std::string both = "kill -STOP $p; j=0; while [ $j -lt $(( $2 / 10 )) ] && "
                             "[ \"$(sed 's/.*) //' /proc/$p/stat | cut -c1)\" != T ]; do sleep 0.01; j=$((j+1)); done; "
                             "kill -INT $p; kill -TERM $p; t0=$(date +%s%N); kill -CONT $p";
    auto r = run_waiting(site, both);
    const Waited w = parse_waited(r.out);
    const std::string err = site.read_file("err");
    EXPECT_EQ(w.status, 1) << r.out << err;
    EXPECT_LT(w.ms, lumba_test::scaled_ms(lumba_test::PROMPT_MS)) << r.out;
    EXPECT_EQ(w.common, 0);
    EXPECT_EQ(err.find("E R R O R"), std::string::npos) << err;
}

// A fatal report after a caught signal ends by the trap, without the exit's clean-up, and a
// second fatal error while a report is made ends at once: neither leaves the COMMON object.
TEST(Signals, FatalPathsRemoveTheCommonObject)
{
    Site site;
    site.install_program("prog", routine("main") + ".common I:1 I:0\ncallio I:5 I:0\n"
                                                   "loadsc s:\"boom\" p:1\nipcall I:0 I:1\nexit\n");
    auto r = run_waiting(site, "kill -INT $p");
    Waited w = parse_waited(r.out);
    EXPECT_EQ(w.status, 128 + SIGTRAP) << r.out << site.read_file("err");
    EXPECT_EQ(w.common, 0);
    EXPECT_NE(site.read_file("err").find("Message:  Program interrupted by user"), std::string::npos)
        << site.read_file("err");

    // The user log goes while the program waits; its ABORT's report then fails to log. The log is
    // made a little after the COMMON object: under load, wait until it is there to remove it.
    r = run_waiting(site, "l=/usr/local/oska/temp/$(id -un).log; j=0; "
                          "while [ $j -lt $(( $2 / 10 )) ] && [ ! -e $l ]; do sleep 0.01; j=$((j+1)); done; "
                          "rm -f $l; echo go >&3");
    w = parse_waited(r.out);
    EXPECT_EQ(w.status, 1) << r.out << site.read_file("err");
    EXPECT_EQ(w.common, 0);
    EXPECT_NE(site.read_file("err").find("mlog_abort!"), std::string::npos) << site.read_file("err");
}
