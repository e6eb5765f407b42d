// A fixture for executor tests: programs written as zasm text are loaded and run in-process the
// way start-up runs the first program; results are read from COMMON or from the variables.
#pragma once

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "common_block.h"
#include "context_globals.h"
#include "contexts.h"
#include "core_fixture.h"
#include "executor.h"
#include "globals.h"
#include "message.h"
#include "numerics.h"

class ExecTest : public CoreTest {
protected:
    struct Outcome {
        std::string abort;  // the fatal message, "" when the program ended
        int status = 0;     // EXIT_STAT after the run
        std::string err;    // standard error of the run
    };

    void SetUp() override
    {
        CoreTest::SetUp();
        Back_ground = 1;
        ZERO_DEC = dec_t{0, 1, 0, {}};
        setenv("PID", std::to_string(getpid()).c_str(), 1);
        lumba_test::trapped_errors().clear();
        lumba_test::mailed().clear();
        reset_executor();
    }

    void TearDown() override
    {
        reset_executor();
        release_common_block();
        CoreTest::TearDown();
    }

    // What a fatal stop leaves behind is forgotten, as the end of the process would.
    static void reset_executor() { context_globals::set_values<context_globals::test_reset>(); }

    // Loads and runs text as the first program.
    Outcome run(const std::string &text)
    {
        Interp_t *c = nullptr;
        std::string error = load_text(text, &c);
        EXPECT_EQ(error, "") << "the program did not load";
        if (!error.empty()) return {"load: " + error, -1, ""};
        context = c;
        return execute(c);
    }

    Outcome execute(Interp_t *c)
    {
        Outcome o;
        sp = -1;
        depth = 0;
        EXIT_STAT = 0;
        testing::internal::CaptureStderr();
        o.abort = lumba_test::abort_text([&] {
            push_interpreter(c, nullptr, "");
            Execute(c->code[0]);
        });
        o.err = testing::internal::GetCapturedStderr();
        o.status = EXIT_STAT;
        if (!o.abort.empty()) reset_executor();
        return o;
    }

    // A run on the general path alone or with the fast paths: its outcome and the bytes of COMMON
    // it left, everything it made released for the next run.
    struct PathRun {
        Outcome outcome;
        std::string common;
    };
    // The fast paths run twice, in the loop's default form and in its portable switch form, which
    // must leave the same.
    PathRun run_on_path(const std::string &text, bool general_only)
    {
        const PathRun r = run_on_path_in(text, general_only, false);
        if (!general_only) {
            const PathRun w = run_on_path_in(text, false, true);
            expect_same_outcome(w.outcome, r.outcome);
            EXPECT_EQ(w.common, r.common) << "COMMON in the switch form";
        }
        return r;
    }
    PathRun run_on_path_in(const std::string &text, bool general_only, bool switch_form)
    {
        select_path(general_only, switch_form);
        PathRun r{run(text), {}};
        select_path(false, false);
        r.common.assign(static_cast<const char *>(Common_variables), static_cast<std::size_t>(Common_size));
        release_common_block();
        delete_all_applications();
        reset_executor();
        return r;
    }

    // The path the next runs take: the general path alone, or the fast paths in the loop's default
    // or its switch form.
    static void select_path(bool general_only, bool switch_form)
    {
        executor_general_path_only = general_only;
        executor_switch_steps = switch_form;
    }

    static void expect_same_outcome(const Outcome &switch_form, const Outcome &default_form)
    {
        EXPECT_EQ(switch_form.abort, default_form.abort) << "the switch form";
        EXPECT_EQ(switch_form.status, default_form.status) << "the switch form";
        EXPECT_EQ(switch_form.err, default_form.err) << "the switch form";
    }

    // Runs text on both paths (the fast paths in both forms of the loop), each expected to end
    // normally, and checks that they leave the same COMMON byte for byte: the COMMON the fast paths
    // left.
    std::string common_on_both_paths(const std::string &text)
    {
        std::string common[2];
        for (bool general_only : {false, true}) {
            const PathRun r = run_on_path(text, general_only);
            const char *path = general_only ? "general path" : "fast paths";
            EXPECT_EQ(r.outcome.abort, "") << path;
            EXPECT_EQ(r.outcome.status, 0) << path << ": " << r.outcome.err;
            common[general_only] = r.common;
        }
        EXPECT_EQ(common[0], common[1]) << "COMMON, byte for byte";
        return common[0];
    }

    // A run on one path: its outcome, then the bytes of the main routine's first numerics cells and
    // chars characters followed by COMMON's, as the run left them; everything released after.
    struct AreasRun {
        Outcome outcome;
        std::string areas;
    };
    AreasRun run_reading_areas(const std::string &text, bool general_only, int numerics, int chars)
    {
        const AreasRun r = run_reading_areas_in(text, general_only, false, numerics, chars);
        if (!general_only) {
            const AreasRun w = run_reading_areas_in(text, false, true, numerics, chars);
            expect_same_outcome(w.outcome, r.outcome);
            EXPECT_EQ(w.areas, r.areas) << "the areas in the switch form";
        }
        return r;
    }
    AreasRun run_reading_areas_in(const std::string &text, bool general_only, bool switch_form, int numerics, int chars)
    {
        select_path(general_only, switch_form);
        AreasRun r{run(text), {}};
        select_path(false, false);
        const Routine &main = context->routines[0];
        if (numerics > 0)
            r.areas.assign(reinterpret_cast<const char *>(main.local_numerics), static_cast<std::size_t>(numerics) * sizeof(dec_t));
        if (chars > 0) r.areas.append(main.local_chars, static_cast<std::size_t>(chars));
        r.areas.append(static_cast<const char *>(Common_variables), static_cast<std::size_t>(Common_size));
        release_common_block();
        delete_all_applications();
        reset_executor();
        return r;
    }

    // COMMON cell i of the last run.
    const dec_t &cell(int i) const { return static_cast<const dec_t *>(Common_variables)[i]; }

    static bool same(const dec_t &a, const char *text)
    {
        dec_t b{};
        NumericCvASC(text, static_cast<int>(std::strlen(text)), &b);
        return NumericCmp(&a, &b) == 0;
    }

    static std::string text_of(const dec_t &d)
    {
        char buffer[48];
        NumericToASC(&d, buffer, 40, -1);
        buffer[40] = '\0';
        std::string s(buffer);
        while (!s.empty() && s.back() == ' ') s.pop_back();
        if (!s.empty() && s.back() == '.') s.pop_back();
        return s;
    }

    Interp_t *context = nullptr;
};

// A main routine with n local numerics and c local characters around body, storing nothing.
inline std::string program(const std::string &body, int numerics = 4, int chars = 0, const std::string &more = "")
{
    return ".proc r:main I:0 I:0 I:" + std::to_string(numerics) + " I:" + std::to_string(chars) + " I:0 I:0\n" +
           body + "\n" + more;
}
