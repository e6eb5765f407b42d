// MACH through the real lumba_run in a private site: children started with and without pipes, in
// the foreground and the background, lines read back, the refusals with their exact messages,
// and what a child inherits, leaves behind and sees of the others.
#include <gtest/gtest.h>

#include <regex>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "intrinsics.h"
#include "io_program.h"
#include "shell_time.h"
#include "site.h"
#include "xvfb.h"

using lumba_test::Site;
using namespace io_program;

namespace {

using lumba_test::call;

// Main's variables: numeric cells 0..7; the process references P$ (offset 0) and Q$ (8), a line
// buffer B$ (16, 100 bytes), a status S$ (120) and a fixed-length text F$ (124).
const std::string P = svar(0, 4), Q = svar(8, 4), B = svar(16, 100), S = svar(120, 4);
const std::string F = "loadsad I:124 I:1 I:4 I:0 I:0 I:0 I:1 I:0\n";

// How long a child the run is to end sleeps: far beyond what the run waits for it.
const std::string STALL = std::to_string(lumba_test::STALL_S);

std::string program(const std::string &body) { return ".proc r:main I:0 I:0 I:8 I:256 I:0 I:0\n" + body + "exit\n"; }

std::string set_cell(int k, int value) { return num(value) + "storrd I:" + std::to_string(k) + " I:1 I:0 I:0 I:0\n"; }
std::string set_text(int at, int max, const std::string &t)
{
    return str(t) + "storsd I:" + std::to_string(at) + " I:1 I:" + std::to_string(max) + " I:0 I:0 I:0 I:0 I:0\n";
}

// MACH with the code and the arguments after it (args pushes nargs - 1 values).
std::string mach(const std::string &code, const std::string &args, int nargs)
{
    return str(code) + args + call("ipcall", in_MACH, nargs);
}
std::string sp(const std::string &option, const std::string &ref, const std::vector<std::string> &argv)
{
    std::string args = ref;
    for (const std::string &a : argv) args += str(a);
    return mach("SP" + option, args, 2 + static_cast<int>(argv.size()));
}
// RP of at most length bytes into B$, then "B$|count" on standard output.
std::string rp(const std::string &ref, int length)
{
    return set_cell(0, length) + mach("RP", ref + B + nvar(0), 4) + logprint(sval(16, 100) + str("|") + nval(0), 3);
}
std::string wp(const std::string &ref, const std::string &text) { return mach("WP", ref + str(text), 3); }
// TP into S$, then "length/code" of S$ on standard output.
std::string tp(const std::string &ref, const std::string &option)
{
    const std::string status = sval(120, 4);
    return mach("TP" + option, ref + S, 3) +
           logprint(status + call("ifcallr", in_LEN, 1) + str("/") + status + call("ifcallr", in_ASC, 1), 3);
}

struct Case {
    std::string name, body;
    std::string out;      // standard output
    int status = 0;
    std::string message = "";  // the fatal report's message (none: "")
    std::vector<std::string> options = {};
};

void run_cases(const std::vector<Case> &cases)
{
    Site site;
    for (const Case &c : cases) {
        site.install_program(c.name, program(c.body));
        std::vector<std::string> argv{"timeout", lumba_test::scaled_s_text(lumba_test::RUN_WAIT_MS), LUMBA_RUN, "-b"};
        argv.insert(argv.end(), c.options.begin(), c.options.end());
        argv.push_back(c.name);
        argv.push_back("0");
        auto r = site.run(argv);
        EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.err;
        EXPECT_EQ(r.out, c.out) << c.name << "\n" << r.err;
        EXPECT_EQ(lumba_test::report_message(r.err), c.message) << c.name << "\n" << r.err;
    }
}

} // namespace

TEST(ChildProcesses, PipesLinesAndStatuses)
{
    std::string fifteen;
    for (int i = 0; i < 15; ++i) fifteen += sp("0", P, {"true"});
    run_cases({
        // Through cat and back; once the input is closed the next read gives -1.
        {"cat", sp("3", P, {"cat"}) + wp(P, "abc\\n") + mach("CO", P, 2) + rp(P, 10) + rp(P, 10) + tp(P, "1"),
         "abc|3\n|-1\n0/0\n"},
        // A line longer than the request comes in pieces; the last line without a line end comes
        // whole with its count, and -1 only on the next read.
        {"pieces", sp("1", P, {"printf", "abcdef\\ntail"}) + rp(P, 3) + rp(P, 3) + rp(P, 3) + rp(P, 10) + rp(P, 10),
         "abc|3\ndef|3\n|0\ntail|4\n|-1\n"},
        {"status2", sp("0", P, {"sh", "-c", "exit 2"}) + tp(P, "1") + sp("0", P, {"true"}) + tp(P, "1"), "1/2\n0/0\n"},
        // The foreground waits; TP collects what it left.
        {"foreground", sp("4", P, {"sh", "-c", "echo fg; exit 3"}) + tp(P, "1"), "fg\n1/3\n"},
        // TP0 ends a child that would run on, with the code of SIGTERM.
        {"terminate", sp("0", P, {"sleep", STALL}) + tp(P, "0"), "1/15\n"},
        // Arguments go to the program as they are, never through a shell.
        {"literal", sp("1", P, {"echo", "$HOME; touch x", "*"}) + rp(P, 60), "$HOME; touch x *|16\n"},
        {"limit", fifteen + sp("0", P, {"true"}), "", 1, "MACH: Process limit exceeded"},
        // A child that stopped reading: what it said becomes the report of the failed write ...
        {"refused", sp("3", P, {"sh", "-c", "exec 0<&-; printf 'ready\\nrefused\\n'; exec sleep 2"}) + rp(P, 6) +
                        wp(P, "x"),
         "ready|5\n", 1, "refused"},
        // ... and one that said nothing leaves the system's error.
        {"writefail", sp("3", P, {"sh", "-c", "exec 0<&- >&- 2>&-; exec sleep 2"}) + rp(P, 10) + wp(P, "x"), "|-1\n", 1,
         "Error writing to spawned process"},
    });
}

TEST(ChildProcesses, RefusalsOfStartingEndTheRunWithTheirMessage)
{
    run_cases({
        {"sp7", mach("SP7", P + str("true"), 3), "", 1, "MACH: Illegal SP option"},
        {"sp", mach("SP", P + str("true"), 3), "", 1, "MACH: Illegal SP option"},
        {"xp", mach("XP", P, 2), "", 1, "MACH: Illegal parameter - \"XP\""},
        {"empty", mach("", P, 2), "", 1, "MACH: Illegal parameter - \"\""},
        {"one", mach("SP0", "", 1), "", 1, "MACH: Insufficient arguments"},
        {"noprogram", mach("SP0", P, 2), "", 1, "MACH: Insufficient arguments"},
        {"fixed", mach("SP0", F + str("true"), 3), "", 1, "MACH: Argument #2 cannot be fixed"},
        {"constant", mach("SP0", str("R") + str("true"), 3), "", 1, "MACH: Argument #2 must be a variable"},
        {"number", mach("SP0", P + num(5), 3), "", 1, "MACH: Argument #3 must be a string"},
        {"argnumber", mach("SP0", P + str("echo") + num(5), 4), "", 1, "MACH: Argument #4 must be a string"},
        {"argempty", mach("SP0", P + str("echo") + str(""), 4), "", 1, "MACH: Argument #4 cannot be a null string"},
    });
}

TEST(ChildProcesses, RefusalsOfTheOtherCodesEndTheRunWithTheirMessage)
{
    const std::string started = sp("0", P, {"true"});
    run_cases({
        {"rx", started + mach("RX", P, 2), "", 1, "MACH: Illegal MACH code"},
        {"tp", started + mach("TP", P + S, 3), "", 1, "MACH: Illegal MACH code"},
        {"tp2", started + mach("TP2", P + S, 3), "", 1, "MACH: Illegal TP option"},
        {"refA", set_text(0, 4, "\\x14") + mach("CI", P, 2), "", 1, "MACH: Illegal process ref A - \"20\""},
        {"notforreading", sp("2", P, {"cat"}) + rp(P, 10), "", 1, "MACH: Process not opened for reading"},
        {"notforwriting", sp("1", P, {"true"}) + wp(P, "x"), "", 1, "MACH: Process not opened for writing"},
        {"toolong", sp("1", P, {"true"}) + rp(P, 101), "", 1, "MACH: RP Length exceeds buffer size"},
    });
}

TEST(ChildProcesses, ArgumentRefusalsOfTheOtherCodesEndTheRunWithTheirMessage)
{
    const std::string started = sp("0", P, {"true"});
    run_cases({
        {"rpcount", started + mach("RP", P + B, 3), "", 1, "MACH: Incorrect parameter count"},
        {"wpcount", started + mach("WP", P + str("a") + str("b"), 4), "", 1, "MACH: Too many parameters"},
        {"cocount", started + mach("CO", P + S, 3), "", 1, "MACH: Incorrect parameter count"},
        {"tpcount", started + mach("TP1", P, 2), "", 1, "MACH: Incorrect parameter count"},
        {"tpvalue", started + mach("TP1", P + str("x"), 3), "", 1, "MACH: argument #3 must be a variable"},
        {"tpfixed", started + mach("TP1", P + F, 3), "", 1, "MACH: return code must be non-fixed"},
        {"rpvalue", sp("1", P, {"true"}) + mach("RP", P + str("x") + nvar(0), 4), "", 1,
         "MACH: argument #3 must be a variable"},
        {"rpfixed", sp("1", P, {"true"}) + mach("RP", P + F + nvar(0), 4), "", 1,
         "MACH: string buffer must be non-fixed"},
        {"rplength", sp("1", P, {"true"}) + mach("RP", P + B + str("x"), 4), "", 1,
         "MACH: buffer length argument must be numeric scalar"},
    });
}

TEST(ChildProcesses, AFreeSlotIsRefusedWithTheRunsProcessId)
{
    Site site;
    site.install_program("free", program(mach("CI", P, 2)));
    auto r = site.lumba({"-b", "free", "0"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(std::regex_match(lumba_test::report_message(r.err), std::regex(R"(MACH: Illegal process ref B - "0" [0-9]+)")))
        << r.err;
}

TEST(ChildProcesses, ANonZeroStatusIsNoticedAtTheHigherLogLevels)
{
    Site site;
    site.install_program("warn", program(sp("0", P, {"sh", "-c", "exit 2"}) + tp(P, "1")));
    auto r = site.lumba({"-b", "-w", "2", "warn", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Debug: mach: Child exits with non zero status = 2"), std::string::npos) << r.err;
}

// Two children at once: closing the first one's input ends what it reads, which it could not see
// if the second had inherited that pipe's write end.
TEST(ChildProcesses, ClosingOneChildsInputIsNotHeldOpenByAnother)
{
    run_cases({{"two", sp("3", P, {"cat"}) + sp("3", Q, {"cat"}) + wp(P, "x\\n") + mach("CO", P, 2) + rp(P, 10) +
                           rp(P, 10) + wp(Q, "y\\n") + rp(Q, 10) + mach("CO", Q, 2) + rp(Q, 10),
                "x|1\n|-1\ny|1\n|-1\n"}});
}

// A child holds only its standard descriptors, even with a file channel, another child's pipes
// and a report pipe open in the run-time.
TEST(ChildProcesses, AChildInheritsOnlyItsStandardDescriptors)
{
    Site site;
    const std::string f = site.root() + "/open.txt";
    site.install_program(
        "fds", program(open_lfn(1, f, "S", 1) + sp("3", Q, {"cat"}) + sp("1", P, {"sh", "-c", "ls /proc/$$/fd"}) +
                       rp(P, 10) + rp(P, 10) + rp(P, 10) + rp(P, 10)));
    auto r = site.lumba({"-b", "fds", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0|1\n1|1\n2|1\n|-1\n") << r.err;
}

// A record written but not yet flushed when the run forks is written once, by the run-time.
TEST(ChildProcesses, BufferedRecordsAreWrittenOnceWhenAChildFails)
{
    Site site;
    const std::string f = site.root() + "/kept.txt";
    site.install_program("kept", program(open_lfn(1, f, "S", 1) + stmt(callio_write, {lfn(1)}, str("record"), 1) +
                                         sp("0", P, {"no-such-program-here"})));
    auto r = site.lumba({"-b", "kept", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(site.read_file("kept.txt"), "record");
}

// A program that cannot be run ends only its child, with the error number (ENOENT, 2) as its
// status for TP, in the background and in the foreground; each failure is mailed to support and
// the run goes on. The child's own complaint goes where its standard error goes (here the pipe).
TEST(ChildProcesses, AProgramThatCannotBeRunEndsOnlyItsChild)
{
    Site site;
    site.install_program("missing", program(sp("0", P, {"no-such-program-here"}) + tp(P, "1") +
                                            sp("3", Q, {"no-such-program-here"}) + rp(Q, 10) + tp(Q, "1") +
                                            sp("4", P, {"no-such-program-here"}) + tp(P, "1") +
                                            logprint(str("after"), 1)));
    auto r = site.lumba({"-b", "missing", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lumba_test::report_message(r.err), "") << r.err;
    EXPECT_EQ(r.out, "1/2\nMACH: Chil|10\n1/2\n1/2\nafter\n") << r.err;
    // TP frees the slot each time: every child had slot 0.
    for (int i = 0; i < 3; ++i) {
        const std::string args = site.read_file("mail/" + std::to_string(i) + ".args");
        EXPECT_EQ(args.substr(0, args.find('\n')), "support@lumba-runtime.example") << args;
        EXPECT_NE(site.read_file("mail/" + std::to_string(i) + ".txt")
                      .find("mach syserror: slot: 0 emsg: Child cannot exec command"),
                  std::string::npos)
            << site.read_file("mail/" + std::to_string(i) + ".txt");
    }
    EXPECT_EQ(site.read_file("mail/3.args"), "");
}

// Children ended by TP0 are reaped at once, one that ignores SIGTERM after a bounded wait: none is
// left a zombie of the run.
TEST(ChildProcesses, NoZombieIsLeftAfterTerminating)
{
    run_cases({{"zombies",
                sp("0", P, {"sleep", STALL}) + sp("0", Q, {"sh", "-c", "trap '' TERM; exec sleep " + STALL}) + tp(P, "0") +
                    tp(Q, "0") + sp("1", P, {"sh", "-c", "ps -o stat= --ppid $PPID | grep -c Z"}) + rp(P, 10),
                "1/15\n1/15\n0|1\n"}});
}

// SP5 in windows mode asks for the Enter key on the terminal after the child has ended.
TEST(ChildProcesses, ForegroundWithPauseWaitsForEnter)
{
    lumba_test::Xvfb x;
    Site site;
    site.install_program("pause", program(sp("5", P, {"echo", "done"}) + tp(P, "1") + logprint(str("after"), 1)));
    std::vector<std::string> env = x.gui_env();
    auto r = site.run({LUMBA_RUN, "pause", "0"}, env, "\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "done\n\nPress the [ENTER] key to continue ...0/0\nafter\n") << r.err;
}

// Every program the run started begins with each signal at its default action and none blocked,
// whatever the run ignores (SIGPIPE, and SIGWINCH and the C library's own signals, which it keeps as
// its own parent left them: ignored here) or blocks: a MACH child, a process script, the mail script and a detached external
// program each write what /proc shows of their own signals.
TEST(ChildProcesses, ProgramsStartWithDefaultSignals)
{
    Site site;
    auto record = [](const std::string &name) {
        return "grep -E '^Sig(Blk|Ign):' /proc/self/status > \"$LUMBA_SITE/" + name + ".signals\"";
    };
    auto script = [&](const std::string &relative, const std::string &name) {
        site.write_file(relative, "#!/bin/sh\n" + record(name) + "\nexit 0\n");
        chmod((site.root() + "/" + relative).c_str(), 0755);
    };
    script("oska/scripts/process_check.pl", "check");
    script("oska/scripts/mailit-mutt-noatt.sh", "mail");
    site.install_program(
        "signals",
        program(sp("0", P, {"sh", "-c", record("mach")}) + tp(P, "1") +
                // A program that cannot be run is mailed.
                sp("0", P, {"no-such-program-here"}) + tp(P, "1") +
                str("name") + num(1) + call("ifcallr", in_IPROCESS_CHECK, 2) +
                str(record("detached")) + call("ifcallr", in_IEXTERNAL_PROGRAM_DETACH, 1)));
    // The run's parent also leaves the C library's own signals (32 and 33: thread cancellation and
    // set-id) ignored, as some launchers do; only the system call itself (x86-64's rt_sigaction,
    // number 13) can set those.
    const char *ignore_internal =
        "import ctypes, os, sys\n"
        "class Action(ctypes.Structure):\n"
        "    _fields_ = [('h', ctypes.c_void_p), ('f', ctypes.c_ulong), ('r', ctypes.c_void_p), ('m', ctypes.c_ulong)]\n"
        "libc = ctypes.CDLL(None)\n"
        "for sig in (32, 33): assert libc.syscall(13, sig, ctypes.byref(Action(1, 0, None, 0)), None, 8) == 0\n"
        "os.execvp(sys.argv[1], sys.argv[1:])\n";
    auto r = site.run({"/usr/bin/python3", "-c", ignore_internal, "sh", "-c", "trap '' WINCH; exec \"$@\"", "sh", LUMBA_RUN,
                       "-b", "signals", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string defaults = "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n";
    // The detached program runs on its own: wait for it.
    for (int i = 0; i < lumba_test::scaled_ms(lumba_test::WAIT_MS) / 100 && site.read_file("detached.signals").empty(); ++i)
        usleep(100000);
    for (const char *name : {"mach", "check", "mail", "detached"})
        EXPECT_EQ(site.read_file(std::string(name) + ".signals"), defaults) << name;
}
