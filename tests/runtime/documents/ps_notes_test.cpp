// Notes in print, in-process: a program's Get_Note routine on a control matrix without a window
// answers each note key with the note itself, so a report line's key is the note's XML. The note
// print conversion cuts it; the renderer prints its first line in place and its next lines on the
// following report lines.
#include <fstream>
#include <gtest/gtest.h>
#include <string>

#include "cmatrix.h"
#include "exec_fixture.h"
#include "forms.h"
#include "gdata.h"
#include "intrinsics.h"
#include "mem_mgt.h"
#include "program_text.h"
#include "ps_notes.h"
#include "ps_page.h"
#include "ps_render.h"
#include "read_error.h"
#include "run_time.h"

namespace {

using lumba_test::abort_text;
using lumba_test::num;
using lumba_test::st;
using lumba_test::str;

const char *const TAGS = R"(mtag_plain { print-style: normal; }
mtag_note { note-type: plain; }
mtag_note2 { note-type: extended; note-extension-width: 6cm; }
mtag_narrow { note-type: plain; note-wrap-width: 2cm; }
mtag_wrap5 { multi-line-wrap-width: 5cm; }
)";

std::string P(const std::string &text) { return "<p datatype=\"P\" position=\"0\"><![CDATA[" + text + "]]></p>"; }
std::string A(const std::string &value)
{
    return "<am required=\"false\" next=\"false\" protect=\"false\" orsec=\"0\" orsecvalue=\"0\">" + value + "</am>";
}
std::string NOTE(const std::string &elements) { return "<note ver=\"1\">" + elements + "</note>"; }

// main: a control matrix without a window and routine 1 attached as its Get_Note at index 0 with
// main's IP and IP$; routine 1 answers the key it is given.
std::string program()
{
    return ".proc r:main I:0 I:0 I:2 I:4000 I:0 I:0\n"
           "loadrad I:0 I:1 I:0 I:0 I:0\n" + num(0L) + st(in_ICATTACH_WINDOW, 2) + str("Get_Note") + num(1L) +
           "loadrvd I:0 I:1 I:0 I:0 I:0\n" + num(0L) + "loadrad I:1 I:1 I:0 I:0 I:0\n" +
           "loadsad I:0 I:1 I:4000 I:0 I:0 I:0 I:0 I:0\n" + st(in_ICATTACH_FUN, 6) + "exit\n" +
           ".sfunc r:getnote I:0 I:0 I:0 I:0 I:0 I:4\nloadsvi I:3 I:0 I:1 I:0 I:0 I:0\nexitv\n"
           "symtab\n__ROUTINE__ main 3\nCM 0 0 0x12 0 1 -\nIP 0 0 0x12 1 2 -\nIP$ 4000 0 0x14 0 3 -\n"
           "__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ getnote 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\n"
           "IP$ 4000 0 0x8014 0 4 -\n__END_ROUTINE__\n.end\n";
}

class PsNoteTest : public ExecTest {
protected:
    void SetUp() override
    {
        ExecTest::SetUp();
        record.log_mode = LOG_MODE_STDERR;
        record.log_level_lumbas = -1;
        record.log_level_basic = -1;
        record.cm_counter = -1;
        saved = global_data;
        global_data = &record;
        std::ofstream(std::string(PPATH_ROOT) + "/conf/tags", std::ios::trunc) << TAGS;
        const Outcome o = run(program());
        ASSERT_EQ(o.abort, "") << o.err;
        ASSERT_FALSE(postscript_print_state_initialise(1, 1.0f, &state));
        postscript_set_margins_form(state, "", "A4");
        long cm = 0;
        NumericToLONG(&context->routines[0].local_numerics[0], &cm);
        state->cm = reinterpret_cast<ControlMatrix_t *>(cm);
        ASSERT_NE(state->cm, nullptr);
    }
    void TearDown() override
    {
        postscript_free_format_line(state);
        postscript_notes_free_all(state);
        postscript_print_state_free(state);
        cmat_free_all();
        delete_all_applications();
        ExecTest::TearDown();
        global_data = saved;
    }

    // One report line rendered for print, its continuations then dropped as the page writer does.
    std::string line(const std::string &format, const std::string &text, int heading = 0)
    {
        EXPECT_FALSE(postscript_parse_format(format.c_str(), state, static_cast<int>(text.size()))) << format;
        std::string out;
        postscript_apply_format_to_print_line(out, text, state, heading, 0);
        postscript_free_format_line(state);
        postscript_notes_free_line(state);
        return out;
    }
    // A line "x" followed by the note's key at 3 cm with tag.
    std::string note_line(const std::string &note, const char *tag = "mtag_note")
    {
        return line("1,1,1,,mtag_plain;2,,3,," + std::string(tag), "x" + note);
    }

    PrintState_t *state = nullptr;
    GlobalData_t record{};
    GlobalData_t *saved = nullptr;
};

TEST_F(PsNoteTest, AnExtendedNotePrintsItsAmountBesideItsFirstLine)
{
    EXPECT_EQ(note_line(NOTE(P("Delivered late\ntwice") + A("1250")), "mtag_note2"),
              "0 0 0 C 1.00 8 (x) sgH 3.00 8 (Delivered late) sgH 9.00 8 (1,250.00) srH");
    EXPECT_EQ(line("1,,1,,mtag_plain", "y"), "1.00 8 (y) sgH 3.00 8 (twice) sgH");
    EXPECT_EQ(line("1,,1,,mtag_plain", "z"), "1.00 8 (z) sgH") << "the paragraph's trailing empty line";
    // The note model ends a note that ends in an amount with an empty paragraph: one more empty line.
    EXPECT_EQ(line("1,,1,,mtag_plain", "w"), "1.00 8 (w) sgH");
    EXPECT_EQ(state->notes, nullptr);
}

TEST_F(PsNoteTest, ANoteOfTwoCentimetresWrapsAtFour)
{
    const std::string word(40, 'a');
    EXPECT_EQ(note_line(NOTE(P(word)), "mtag_narrow"), "0 0 0 C 1.00 8 (x) sgH 3.00 8 (" + word.substr(0, 26) + ") sgH");
    EXPECT_EQ(line("1,,1,,mtag_plain", "y"), "1.00 8 (y) sgH 3.00 8 (" + word.substr(26) + ") sgH");
    EXPECT_EQ(state->notes, nullptr);
}

TEST_F(PsNoteTest, ContinuationsComeInOrderTwoNotesThenAMultiLine)
{
    const std::string first = NOTE(P("n1 a\nn1 b")), second = NOTE(P("n2 a\nn2 b")), remark = "m a\rm b";
    const std::string text = "x" + first + second + remark;
    const int a = 2, b = a + static_cast<int>(first.size()), c = b + static_cast<int>(second.size());
    const std::string format = "1,1,1,,mtag_plain;" + std::to_string(a) + "," + std::to_string(first.size()) +
                               ",3,,mtag_note;" + std::to_string(b) + "," + std::to_string(second.size()) + ",7,,mtag_note;" +
                               std::to_string(c) + ",,11,,mtag_wrap5";
    EXPECT_EQ(line(format, text), "0 0 0 C 1.00 8 (x) sgH 3.00 8 (n1 a) sgH 7.00 8 (n2 a) sgH 11.00 8 (m a) sgH");
    EXPECT_EQ(line("1,,1,,mtag_plain", "y"), "1.00 8 (y) sgH 3.00 8 (n1 b) sgH 7.00 8 (n2 b) sgH 11.00 8 (m b) sgH");
    EXPECT_EQ(state->multi_lines, nullptr);
}

TEST_F(PsNoteTest, DuplicateAndHeadingNotesStop)
{
    const std::string note = NOTE(P("same"));
    const std::string format = "1," + std::to_string(note.size()) + ",3,,mtag_note;" + std::to_string(note.size() + 1) +
                               ",,9,,mtag_note";
    const char *message = "Not permitted to have a Note in a heading, or have a similtaneously duplicated Note";
    EXPECT_EQ(abort_text([&] { line(format, note + note); }), message);
    postscript_free_format_line(state);
    postscript_notes_free_all(state);
    EXPECT_EQ(abort_text([&] { postscript_save_header(state, 0, note.c_str(), "1,,3,,mtag_note");
                               postscript_print_heading(state, 0, 0, nullptr, nullptr, nullptr); }),
              message);
}

TEST_F(PsNoteTest, ANoteStartingWithALineFeedPrintsItsTextOnTheNextLine)
{
    EXPECT_EQ(note_line(NOTE(P("\nlater"))), "0 0 0 C 1.00 8 (x) sgH");
    EXPECT_EQ(line("1,,1,,mtag_plain", "y"), "1.00 8 (y) sgH 3.00 8 (later) sgH");
}

TEST_F(PsNoteTest, DisplayEscapesNoteTextOnce)
{
    const std::string text = "x" + NOTE(P("a &amp; b &lt;c&gt;"));
    ASSERT_FALSE(postscript_parse_format("1,1,1,,mtag_plain;2,,3,,mtag_note", state, static_cast<int>(text.size())));
    std::string out;
    postscript_apply_format_to_display_line(out, text, state);
    postscript_free_format_line(state);
    EXPECT_EQ(out, "<posn start=\"1.00\" align=\"0\"><span font_desc=\"Helvetica 8\">x</span></posn><posn start=\"3.00\" "
                   "align=\"0\"><span font_desc=\"Helvetica 8\">a &amp; b &lt;c&gt;</span></posn>");
}

} // namespace
