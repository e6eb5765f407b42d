// The fixture of the PostScript report tests: a style tags file of its own, a print state for
// PostScript on A4 portrait with the default margins, and a scratch directory.
#pragma once

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

#include "gdata.h"
#include "print_state.h"
#include "ps_notes.h"
#include "ps_page.h"
#include "run_time.h"
#include "test_host.h"

namespace ps_test {

inline const char *const TAGS = R"(// the fixture's style tags
mtag_base { print-family: Helvetica; print-size: 10pt; }
mtag_plain { print-style: normal; }
mtag_dec { print-align: decimal; print-neg-colour: #ff0000; print-neg-weight: bold; }
mtag_bool { print-align: boolean; print-neg-colour: #0000ff; }
mtag_boolplain { print-align: boolean; }
mtag_right { print-align: right; }
mtag_centre { print-align: centre; }
mtag_red { print-colour: #ff0000; }
mtag_greyed { print-colour: #ff0000; print-grey: #80; }
mtag_tbi { print-family: Times-Roman; print-weight: bold; print-style: italic; }
mtag_big { print-size: 12pt; }
mtag_head { print-size: 14pt; print-weight: bold; }
mtag_page { page-number: current; }
mtag_next { page-number: next; print-align: right; }
mtag_rule { line-type: single; line-style: solid; }
mtag_dots { line-type: single; line-style: dotted; }
mtag_dash { line-type: single; line-style: dashed; }
mtag_wrap { multi-line-wrap-width: 2cm; }
mtag_wrap5 { multi-line-wrap-width: 5cm; }
mtag_wrapdone { multi-line-wrap-width: 5cm; multi-line-completion: true; }
mtag_note { note-type: plain; }
mtag_note2 { note-type: extended; }
mtag_water { watermark-text: "Draft"; print-family: Helvetica; print-colour: #c0c0c0; print-size: 60pt; print-weight: bold; }
mtag_nowater { watermark-text: none; }
)";

class PsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::ofstream(std::string(PPATH_ROOT) + "/conf/tags", std::ios::binary | std::ios::trunc) << TAGS;
        saved_ = global_data;
        record_.log_level_lumbas = -1;
        record_.log_level_basic = -1;
        global_data = &record_;
        ASSERT_FALSE(postscript_print_state_initialise(1, 1.0f, &state));
        postscript_set_margins_form(state, "", "A4");
        char dir[] = "/tmp/ps-report.XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        scratch = dir;
    }
    void TearDown() override
    {
        if (state) {
            postscript_free_format_line(state);
            postscript_notes_free_all(state);
            postscript_print_state_free(state);
        }
        global_data = saved_;
        std::filesystem::remove_all(scratch);
    }

    PrintState_t *state = nullptr;
    std::filesystem::path scratch;

private:
    GlobalData_t record_{};
    GlobalData_t *saved_ = nullptr;
};

} // namespace ps_test
