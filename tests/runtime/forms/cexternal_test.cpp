// The forms engine's side of IEXTERNAL_PROGRAM_START in-process: the process CM's follow-on record
// (action code 121, index 0) with the values after the CM, the CM's job and the external-running
// flag while the command runs and cleared before the follow-on routine, the routine's call with the
// command's whole output as IP$, and a CM whose window closed meanwhile, kept until the routine
// has run and freed afterwards. The routine call itself is recorded through its seam.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "applications.h"
#include "cexternal.h"
#include "external_program.h"
#include "forms_fixture.h"

using namespace forms_test;

namespace {

constexpr int POST = 1;  // post (cm, index, IP, IP$)

// What the bookkeeping looked like while the command ran, and the follow-on call.
struct Seen {
    bool job_while_running = false, flag_while_running = false;
    bool record_while_running = false;
    int calls = 0;
    ControlMatrix_t *cm = nullptr;
    int code = 0, index = -1, must_exist = 0;
    std::string variable, text;
    bool job_at_call = true, flag_at_call = true;
    bool close_cm = false;  // the test closes the CM's window while the command runs
};
Seen *seen;

// A file whose existence lets a held command go on.
std::string go_on_file()
{
    return std::string(g_get_tmp_dir()) + "/cexternal-go-on-" + std::to_string(getpid());
}

// A command that runs until the test lets it go on, then does then.
std::string held(const std::string &then)
{
    return "sh -c 'until [ -e " + go_on_file() + " ]; do sleep 0.01; done'; " + then;
}

int record_call(ControlMatrix_t *cm, ControlMatrix_t **, int code, int *index, int *, GlobalData_t *gd,
                const char *variable, const char *text, int, int must_exist, char **, int *, int)
{
    ++seen->calls;
    seen->cm = cm;
    seen->code = code;
    seen->index = *index;
    seen->must_exist = must_exist;
    seen->variable = variable;
    seen->text = text;
    seen->job_at_call = cm->external_job != nullptr;
    seen->flag_at_call = gd->external_running != 0;
    return 1;
}

// Polls until the command runs, then looks at the newest CM and lets the command go on.
gboolean look(gpointer)
{
    ControlMatrix_t *cm = global_data->last_cm;
    if (!cm || !cm->external_job) return G_SOURCE_CONTINUE;
    seen->job_while_running = cm->external_job->command.starts_with(held(""));
    seen->flag_while_running = global_data->external_running == 1;
    const SubControlMatrix_t *s = cmat_get_fn_ptr(cm, 0, AC_EXTERNAL_END);
    seen->record_while_running = s && s->nparams == 2 && s->ind == 0;
    if (seen->close_cm) cmat_free_cm(cm);  // what closing its window does
    std::ofstream(go_on_file()) << "go on\n";
    return G_SOURCE_REMOVE;
}

class ExternalForms : public FormsTest {
protected:
    void SetUp() override
    {
        FormsTest::SetUp();
        seen = &state;
        saved_call = register_external_routine_call(record_call);
    }
    void TearDown() override
    {
        std::remove(go_on_file().c_str());
        register_external_routine_call(saved_call);
        seen = nullptr;
        FormsTest::TearDown();
    }
    // A windowless CM, then START of command with routine post, the CM and 5.
    Outcome start(const std::string &command)
    {
        std::remove(go_on_file().c_str());
        g_timeout_add(10, look, nullptr);
        return form(ref(CM) + num(0L) + st(in_ICATTACH_WINDOW, 2) + str(command) + num(POST) + val(CM) + num(5) +
                    st(in_IEXTERNAL_PROGRAM_START, 4));
    }

    Seen state;
    ExternalRoutineCall saved_call = nullptr;
};

} // namespace

TEST_F(ExternalForms, TheCommandRunsForItsCMAndTheFollowOnGetsItsOutput)
{
    ASSERT_EQ(start(held("printf 'a\\nb\\n'")).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    EXPECT_TRUE(state.job_while_running);
    EXPECT_TRUE(state.flag_while_running);
    EXPECT_TRUE(state.record_while_running);
    // Both are cleared before the routine runs, so Enter works again from it.
    EXPECT_EQ(state.calls, 1);
    EXPECT_FALSE(state.job_at_call);
    EXPECT_FALSE(state.flag_at_call);
    EXPECT_EQ(state.cm, cm);
    EXPECT_EQ(state.code, AC_EXTERNAL_END);
    EXPECT_EQ(state.index, 0);
    EXPECT_EQ(state.variable, "IP$");
    EXPECT_EQ(state.text, "a\nb\n");
    EXPECT_EQ(cm->external_job, nullptr);
    EXPECT_EQ(global_data->external_running, 0);
    ASSERT_NE(applications, nullptr);
    EXPECT_EQ(applications->busy, 0);
    // The record stays for the routine's next run; a second START replaces it.
    const SubControlMatrix_t *first = cmat_get_fn_ptr(cm, 0, AC_EXTERNAL_END);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->routine, &context->routines[POST]);
    EXPECT_TRUE(lumba_test::mailed().empty());
}

TEST_F(ExternalForms, ACMClosedWhileTheCommandRunsIsFreedAfterTheFollowOn)
{
    state.close_cm = true;
    const std::string command = held("echo done; exit 3");
    ASSERT_EQ(start(command).abort, "");
    EXPECT_TRUE(state.job_while_running);
    EXPECT_EQ(state.calls, 1);
    EXPECT_EQ(state.text, "done\n");
    EXPECT_EQ(global_data->first_cm, nullptr);
    EXPECT_EQ(global_data->deferred_cms, nullptr);  // freed once the routine had run
    EXPECT_EQ(global_data->external_running, 0);
    ASSERT_NE(applications, nullptr);
    EXPECT_EQ(applications->busy, 0);
    EXPECT_EQ(lumba_test::mailed(),
              std::vector<std::string>{"external program: exit: 3; output of " + command + " is below\r\ndone\n\r\n"});
}

TEST_F(ExternalForms, AStaleCMIsRefusedBeforeAnyCommandRuns)
{
    const Outcome o = form(str("true") + num(POST) + num(12345) + st(in_IEXTERNAL_PROGRAM_START, 3));
    EXPECT_EQ(o.abort, "Invalid Control Matrix pointer; The Control Matrix has possibly been deleted.");
    EXPECT_EQ(state.calls, 0);
    EXPECT_EQ(global_data->external_running, 0);
}
