// IEXTERNAL_PROGRAM_START and IEXTERNAL_PROGRAM_DETACH in-process, through the dispatchers, with
// the window side replaced through its registration seam by a recorder: the output and status
// each job ends with, the mailed reports, the refusals, jobs nested from a callback while another
// runs, and many runs in a row on a loaded machine. Also run under ThreadSanitizer.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <glib.h>

#include "applications.h"
#include "exec_fixture.h"
#include "external_program.h"
#include "interp.h"
#include "intrinsic_call.h"
#include "intrinsics.h"
#include "run_time.h"
#include "signals.h"
#include "test_time.h"

namespace {

using lumba_test::IntrinsicOutcome;
using lumba_test::args::num;
using lumba_test::args::str;

// What the recorder saw of each job's end.
struct Ended {
    std::string command, output;
    int status;
    bool busy;  // the application still counted the job as running
};

struct Recorder {
    std::vector<Ended> ended;
    std::vector<int> attached;  // argument counts handed to attach
    int detached = 0;
    std::function<void(ExternalJob_t *)> during;  // runs inside each follow-on
};
Recorder *recorder;

char window_record;
ControlMatrix_t *const WINDOW = reinterpret_cast<ControlMatrix_t *>(&window_record);

// A START's process CM is any number but 0.
ControlMatrix_t *test_cm(const Stack *entry)
{
    long v = 0;
    NumericToLONG(entry->s_c.C_N, &v);
    return v ? WINDOW : nullptr;
}
void test_attach(ExternalJob_t *, const Stack *, int count) { recorder->attached.push_back(count); }
void test_detach(ExternalJob_t *) { ++recorder->detached; }
void test_follow_on(ExternalJob_t *job, const std::string &output)
{
    recorder->ended.push_back({job->command, output, job->exit_status, job->application->busy > 0});
    if (recorder->during) recorder->during(job);
}

// Main does nothing; routine 1 is the follow-on.
const std::string program_text = ".proc r:main I:0 I:0 I:1 I:0 I:0 I:0\nexit\n.proc r:done I:0 I:0 I:0 I:0 I:0 I:1\nexit\n";

class ExternalPrograms : public ExecTest {
protected:
    void SetUp() override
    {
        ExecTest::SetUp();
        recorder = &record;
        saved = register_external_program_hooks({test_cm, test_attach, test_detach, test_follow_on});
        ASSERT_EQ(run(program_text).abort, "");
        set_application_context(applications);  // as while the program runs
        ASSERT_NE(current_application, nullptr);
    }
    void TearDown() override
    {
        register_external_program_hooks(saved);
        recorder = nullptr;
        ExecTest::TearDown();
    }

public:
    // START of command with routine 1 and process CM 7; "" or "stop: <message>".
    std::string start(const std::string &command, long routine = 1, long cm = 7)
    {
        IntrinsicOutcome call;
        return call.statement(in_IEXTERNAL_PROGRAM_START, {str(command), num(routine), num(cm)});
    }

    Recorder record;
    ExternalProgramHooks saved{};
    std::string *inner = nullptr;  // where a START made from a callback leaves its answer
};

// Longer than any piece the worker may read a line in.
const std::string long_line(300, 'x');

// A file of this test process's own that a command waits for; none there yet.
std::string fresh_flag(const char *name)
{
    const std::string path = std::string(g_get_tmp_dir()) + "/lumba-" + name + "-" + std::to_string(getpid());
    std::remove(path.c_str());
    return path;
}

// Shell commands that wait until the file exists.
std::string until_exists(const std::string &path)
{
    return "i=0; while [ ! -e " + path + " ] && [ $i -lt " +
           std::to_string(lumba_test::scaled_ms(lumba_test::WAIT_MS) / 10) + " ]; do sleep 0.01; i=$((i+1)); done";
}

} // namespace

TEST_F(ExternalPrograms, OutputStatusAndMailedReports)
{
    struct {
        std::string command, output;
        int exit_code;           // -1: ended by a signal
        std::string mail;        // "" when nothing is mailed
    } cases[] = {
        {"printf 'a\\nb\\n'", "a\nb\n", 0, ""},
        {"sh -c 'exit 3'", "", 3, "external program: exit: 3; output of sh -c 'exit 3' is below\r\n\r\n"},
        {"echo out; echo err >&2; exit 1", "out\nerr\n", 1,
         "external program: exit: 1; output of echo out; echo err >&2; exit 1 is below\r\nout\nerr\n\r\n"},
        {"printf '%s\\n' " + long_line, long_line + "\n", 0, ""},
        // The command line is the shell's whole: a comment or a parenthesis at its end stays its own.
        {"echo x # comment )", "x\n", 0, ""},
        {"echo ')' # (", ")\n", 0, ""},
        {"printf 'no end'", "no end", 0, ""},
        {"kill -9 $$", "", -1,
         "external program: abnormal termination; WIFSIGNALED: 1; WTERMSIG: 9; WCOREDUMP: 0; output of kill -9 $$ is "
         "below\r\n\r\n"},
    };
    for (const auto &c : cases) {
        record.ended.clear();
        lumba_test::mailed().clear();
        ASSERT_EQ(start(c.command), "") << c.command;
        ASSERT_EQ(record.ended.size(), 1u) << c.command;
        const Ended &e = record.ended[0];
        EXPECT_EQ(e.command, c.command);
        EXPECT_EQ(e.output, c.output) << c.command;
        if (c.exit_code < 0) {
            EXPECT_TRUE(WIFSIGNALED(e.status)) << c.command;
        } else {
            EXPECT_TRUE(WIFEXITED(e.status)) << c.command;
            EXPECT_EQ(WEXITSTATUS(e.status), c.exit_code) << c.command;
        }
        // The application is let go before the follow-on runs.
        EXPECT_FALSE(e.busy) << c.command;
        EXPECT_EQ(lumba_test::mailed(), c.mail.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.mail})
            << c.command;
    }
    EXPECT_EQ(record.attached, std::vector<int>(std::size(cases), 1));
    EXPECT_EQ(record.detached, static_cast<int>(std::size(cases)));
    EXPECT_EQ(current_application->busy, 0);
    EXPECT_FALSE(external_programs_running());
}

TEST_F(ExternalPrograms, RefusalsComeBeforeAnyCommandRuns)
{
    struct {
        std::vector<lumba_test::Arg> args;
        std::string stop;
    } cases[] = {
        {{str("true"), num(1)}, "stop: Invalid number of parameters to iexternal_program_start"},
        {{str("no-such-program-here -x"), num(1), num(7)}, "stop: External Program 'no-such-program-here' not found"},
        {{str(" true"), num(1), num(7)}, "stop: External Program '' not found"},
        {{str("true"), num(9), num(7)}, "stop: Routine 9 not found! Program_name prog__A"},
        {{str("true"), num(1), num(0L)},
         "stop: Must include the Process Control Matrix as the first parameter of the follow on function"},
        {{str(std::string("tr\0ue", 5)), num(1), num(7)},
         "stop: IEXTERNAL_PROGRAM_START: the command holds a zero byte"},
    };
    for (const auto &c : cases) {
        IntrinsicOutcome call;
        EXPECT_EQ(call.statement(in_IEXTERNAL_PROGRAM_START, c.args), c.stop);
    }
    EXPECT_TRUE(record.attached.empty());
    EXPECT_TRUE(record.ended.empty());
    EXPECT_EQ(current_application->busy, 0);
}

// A second START from a callback while the first runs: each job keeps its own output, and the
// inner one ends inside the outer one's wait.
TEST_F(ExternalPrograms, AStartFromACallbackKeepsEachJobsOutput)
{
    std::string inner_stop = "not run";
    static std::string flag;
    flag = fresh_flag("inner");
    // Fires while the outer command runs, which waits until the inner one has ended.
    g_timeout_add(300, [](gpointer data) -> gboolean {
        auto *self = static_cast<ExternalPrograms *>(data);
        *self->inner = self->start("echo inner");
        g_file_set_contents(flag.c_str(), "", 0, nullptr);
        return G_SOURCE_REMOVE;
    }, this);
    inner = &inner_stop;
    ASSERT_EQ(start("echo outer1; " + until_exists(flag) + "; echo outer2"), "");
    std::remove(flag.c_str());
    EXPECT_EQ(inner_stop, "");
    ASSERT_EQ(record.ended.size(), 2u);
    EXPECT_EQ(record.ended[0].output, "inner\n");
    EXPECT_EQ(record.ended[1].output, "outer1\nouter2\n");
    EXPECT_EQ(current_application->busy, 0);
}

// The same from the follow-on routine of the first job.
TEST_F(ExternalPrograms, AStartFromTheFollowOnRoutineRunsInIt)
{
    record.during = [this](ExternalJob_t *job) {
        if (job->command == "echo first") {
            EXPECT_EQ(start("echo second"), "");
        }
    };
    ASSERT_EQ(start("echo first"), "");
    ASSERT_EQ(record.ended.size(), 2u);
    EXPECT_EQ(record.ended[0].output, "first\n");
    EXPECT_EQ(record.ended[1].output, "second\n");
}

// The end is known from the worker after the shell is reaped: on a machine whose every core is
// busy, no run ever ends before its output or its status are in.
TEST_F(ExternalPrograms, ManyRunsOnALoadedMachineNeverLoseOutput)
{
    std::atomic<bool> stop{false};
    std::vector<std::thread> busy;
    for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i)
        busy.emplace_back([&] {
            while (!stop.load(std::memory_order_relaxed)) {}
        });
    const int runs = 200;
    for (int i = 0; i < runs; ++i) ASSERT_EQ(start("printf 'a\\nb\\n'; exit 5"), "") << i;
    stop = true;
    for (auto &t : busy) t.join();
    ASSERT_EQ(record.ended.size(), static_cast<std::size_t>(runs));
    for (const Ended &e : record.ended) {
        EXPECT_EQ(e.output, "a\nb\n");
        EXPECT_TRUE(WIFEXITED(e.status) && WEXITSTATUS(e.status) == 5);
    }
    EXPECT_EQ(lumba_test::mailed().size(), static_cast<std::size_t>(runs));
}

// The command's end is its shell's exit: a process it left in the background, holding the output
// pipe open, neither holds the run nor loses what the command wrote before it ended.
TEST_F(ExternalPrograms, TheEndIsTheShellsExitNotThePipesEnd)
{
    const std::string stall = std::to_string(lumba_test::STALL_S);
    struct {
        std::string command, output;  // after the background process's id, on a line of its own
    } cases[] = {
        {"sleep " + stall + " & echo $!; echo hi", "hi\n"},
        {"sleep " + stall + " & echo $!; printf 'a\\nb'; exit 4", "a\nb"},
        {"sh -c 'exec sleep " + stall + "' & echo $!; printf '%s\\n' " + long_line, long_line + "\n"},
    };
    for (const auto &c : cases) {
        record.ended.clear();
        const gint64 before = g_get_monotonic_time();
        ASSERT_EQ(start(c.command), "") << c.command;
        const gint64 took = g_get_monotonic_time() - before;
        ASSERT_EQ(record.ended.size(), 1u) << c.command;
        const std::string &output = record.ended[0].output;
        const auto line_end = output.find('\n');
        ASSERT_NE(line_end, std::string::npos) << output;
        const pid_t left = std::stoi(output.substr(0, line_end));
        EXPECT_EQ(kill(left, 0), 0) << c.command;  // still running when the run went on
        kill(left, SIGKILL);
        EXPECT_EQ(output.substr(line_end + 1), c.output) << c.command;
        EXPECT_LT(took, gint64{lumba_test::scaled_ms(lumba_test::PROMPT_MS)} * 1000) << c.command;
    }
    EXPECT_FALSE(external_programs_running());
}

// A signal while START waits reaches the safe point: the run stops with its report once the job is
// done with, instead of waiting unnoticed. The job runs until the safe point has taken the signal.
TEST_F(ExternalPrograms, ASignalWhileWaitingStopsTheRun)
{
    struct Signaller {
        std::string taken = fresh_flag("taken");
        bool raised = false, done = false;
    } signaller;
    const guint source = g_timeout_add(10, [](gpointer data) -> gboolean {
        auto *s = static_cast<Signaller *>(data);
        if (!s->raised) {
            pending_signal = SIGINT;
            s->raised = true;
        } else if (!pending_signal) {
            g_file_set_contents(s->taken.c_str(), "", 0, nullptr);
            s->done = true;
        }
        return s->done ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
    }, &signaller);
    EXPECT_EQ(start("echo waiting; " + until_exists(signaller.taken)), "stop: Program interrupted by user");
    if (!signaller.done) g_source_remove(source);
    std::remove(signaller.taken.c_str());
    pending_signal = 0;
    EXPECT_FALSE(external_programs_running());
}

TEST_F(ExternalPrograms, DetachStartsADaemonAndReturnsAtOnce)
{
    IntrinsicOutcome call;
    const gint64 before = g_get_monotonic_time();
    const std::string pid =
        call.number(in_IEXTERNAL_PROGRAM_DETACH, {str("sleep " + std::to_string(lumba_test::STALL_S))});
    ASSERT_GT(std::stoi(pid), 1) << pid;
    // Not waiting for the sleep.
    EXPECT_LT(g_get_monotonic_time() - before, gint64{lumba_test::scaled_ms(lumba_test::PROMPT_MS)} * 1000);
    // Its own session, no terminal, and not a child of this process. The daemon makes its session
    // itself after the pid is known, so a loaded machine may show it a moment before that.
    gchar *out = nullptr;
    const std::string ps = "ps -o sid=,tty=,ppid= -p " + pid;
    std::string fields;
    int sid = 0, ppid = 0;
    char tty[32] = {};
    for (int tries = 0; tries < lumba_test::scaled_ms(lumba_test::WAIT_MS) / 20 && sid != std::stoi(pid); ++tries) {
        if (tries) g_usleep(20'000);
        ASSERT_TRUE(g_spawn_command_line_sync(ps.c_str(), &out, nullptr, nullptr, nullptr));
        fields = out;
        g_free(out);
        ASSERT_EQ(std::sscanf(fields.c_str(), "%d %31s %d", &sid, tty, &ppid), 3) << fields;
    }
    EXPECT_EQ(sid, std::stoi(pid)) << fields;
    EXPECT_STREQ(tty, "?") << fields;
    EXPECT_NE(ppid, static_cast<int>(getpid())) << fields;
    kill(std::stoi(pid), SIGKILL);
    // The intermediate child has been reaped: this process has no zombie child left.
    const std::string zombies = "sh -c 'ps -o stat= --ppid " + std::to_string(getpid()) + " | grep -c Z'";
    ASSERT_TRUE(g_spawn_command_line_sync(zombies.c_str(), &out, nullptr, nullptr, nullptr));
    EXPECT_STREQ(out, "0\n");
    g_free(out);

    EXPECT_EQ(call.number(in_IEXTERNAL_PROGRAM_DETACH, {str("a"), str("b")}),
              "stop: Invalid number of parameters to iexternal_program_detach");
}
