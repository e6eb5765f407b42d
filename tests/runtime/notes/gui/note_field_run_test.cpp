// The note field through the real lumba_run on a private X server: a program builds a form of a
// note field (with the Edit_Content and Escape routines the form's check demands) and an input
// field, a user (xdotool) types a line into the note and presses Enter, and the note's Post_Focus
// routine logs what IGNOTE_GET gives back; Escape then closes the form. Every routine logs its
// run.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gui_env.h"
#include "intrinsics.h"
#include "log_wait.h"
#include "note_run_program.h"
#include "program_text.h"
#include "xdotool.h"
#include "xvfb.h"

using lumba_test::call;
using lumba_test::num;
using lumba_test::param;
using lumba_test::read_all;
using lumba_test::str;
using namespace note_run;

namespace {

// The routines' text parameter k, its blanks stripped.
std::string text_param(int k)
{
    return "loadsvi I:" + std::to_string(k) + " I:0 I:1 I:0 I:0 I:0\n" + call("ifcalls", in_STRIP, 1);
}

// before: what main does to the field before the form runs (nothing, or a note printed into it).
std::string program(const std::string &before = "")
{
    const std::string main = form_fields("Note form", 2) + attach("Edit_Content", 1, 1) + attach("Escape", 2, 1) +
                             attach("Escape", 2, 0) + attach("Post_Focus", 3, 1) + attach("Pre_Focus", 4, 1) +
                             attach("Pre_Focus", 4, 0) + before + form_run();
    const std::string edit = routine("edit") + log_line(str("edit"), 1) + answer_true();
    const std::string escape = routine("escape") + log_line(str("escape"), 1) + answer_true();
    const std::string pre = routine("pre") + log_line(str("pre ") + number_text(param(1)), 2) + answer_true();
    // post: IGNOTE_GET and its results logged.
    const std::string post =
        routine("post", POST_NUMERICS, POST_TEXTS) + note_get() +
        log_line(str("post [") + text_param(3) + str("] number [") + sload(0, 10) + str("] short [") + sload(610, 40) +
                     str("] approved ") + number_text(load(0)) + str(" total ") + number_text(load(1)) +
                     str(" modified ") + number_text(load(2)) + str(" paragraphs ") + number_text(load(3)) +
                     str(" reserved ") + number_text(load(4)) + str(" only ") + number_text(load(5)),
                 18) +
        log_line(str("xml ") + sload(10, 600), 2) + answer_true();
    return main + edit + escape + post + pre + main_symbols() + routine_symbols("edit") +
           routine_symbols("escape") + routine_symbols("post", POST_LOCALS) + routine_symbols("pre");
}

} // namespace

TEST(NoteRun, ALineTypedIntoTheNoteComesBackThroughIgnoteGet)
{
    ProgramRun program_run(program(), "noter");
    const lumba_test::Xvfb &x = program_run.x;
    const std::string &out = program_run.out;
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B form up")) << read_all(out);
    const lumba_test::Xdotool user(x.display());
    const std::string form = user.search("^Note form$");
    user.focus(form);
    user.type("The quick brown fox jumps over");  // 30 characters
    user.key({"Return"});
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B xml ")) << read_all(out);
    screenshot(x.display(), "note_typed.png");
    user.focus(form);
    user.key({"Escape"});
    EXPECT_EQ(program_run.run.wait(), 0) << read_all(out);
    const std::vector<std::string> expected = {
        "pre 1",
        "form up",
        "edit",
        "post [The quick brown fox jumps over] number [] short [The quick brown fox jumps over] approved 0 total 0 "
        "modified 1 paragraphs 1 reserved 0 only 1",
        "xml <note ver=\"1\"><p datatype=\"P\" position=\"0\"><![CDATA[The quick brown fox jumps over]]></p></note>",
        "pre 2",
        "escape",
        "main loop done",
    };
    EXPECT_EQ(lumba_test::program_lines(read_all(out)), expected) << read_all(out);
}

// The edit window through lumba_run: F9 on the typed line opens it, the user types on, splits the
// paragraph with Return and saves with F12; Post_Focus logs the saved note.
TEST(NoteRun, TheEditWindowOpensEditsAndSaves)
{
    ProgramRun program_run(program(), "noter");
    const lumba_test::Xvfb &x = program_run.x;
    const std::string &out = program_run.out;
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B form up")) << read_all(out);
    const lumba_test::Xdotool user(x.display());
    const std::string form = user.search("^Note form$");
    user.focus(form);
    user.type("Caf\xC3\xA9 first");
    user.key({"F9"});
    const std::string window = user.search("^New$");
    user.focus(window);
    user.key({"ctrl+End"});
    user.type(" line");
    user.key({"Return"});
    user.type("second");
    screenshot(x.display(), "note_window_run.png");
    save_and_leave(program_run, user, window, form);
    const std::string saved =
        "xml <note ver=\"1\"><p datatype=\"P\" position=\"0\"><![CDATA[Caf\xC3\xA9 first line]]></p>"
        "<p datatype=\"P\" position=\"0\"><![CDATA[second]]></p></note>";
    const std::vector<std::string> lines = lumba_test::program_lines(read_all(out));
    EXPECT_NE(std::find(lines.begin(), lines.end(), saved), lines.end()) << read_all(out);
}

// A typist keeps on typing past the one-line input's 40 characters: the 41st opens the edit window
// from inside the input, and every key that follows, whether it reaches the input while the window
// is opening or the window itself, lands at the end of the note, in the order typed. Typists type
// a key every 40 ms; a fast one every 10 ms.
TEST(NoteRun, KeysTypedWhileTheEditWindowOpensReachTheNote)
{
    const std::string typed = "The quick brown fox jumps over the lazy dog, then it keeps on running far away";
    for (const char *delay : {"10", "40"}) {
        SCOPED_TRACE(std::string("a key every ") + delay + " ms");
        ProgramRun program_run(program(), "noter");
        const lumba_test::Xvfb &x = program_run.x;
        const std::string &out = program_run.out;
        const lumba_test::Xdotool user(x.display());
        const std::string form = form_up(program_run, user, "^Note form$");
        user.run({"type", "--delay", delay, typed});
        const std::string window = user.search("^New$");
        screenshot(x.display(), std::string("note_fast_typing_") + delay + ".png");
        save_and_leave(program_run, user, window, form);
        // The short text on the input's line is the first 40 bytes cut back to their last blank,
        // which becomes the paragraph's line break.
        std::string text = typed;
        text[39] = '\n';
        EXPECT_NE(read_all(out).find("<![CDATA[" + text + "]]></p></note>"), std::string::npos) << read_all(out);
    }
}

namespace {

// A note whose text is no UTF-8 in places and looks like mark-up in others, with a bold run: as
// zasm text, and as the bytes the program holds.
const char *const odd_note_text =
    "<note ver=\\\"1\\\"><p datatype=\\\"P\\\" position=\\\"0\\\"><![CDATA[Caf\\xE9 <b>au lait</b>]]></p>"
    "<p datatype=\\\"P\\\" position=\\\"0\\\"><![CDATA[&lt;span foreground='red' size='xx-large'&gt;RED "
    "ALERT&lt;/span&gt;]]></p></note>";
const std::string odd_note =
    "<note ver=\"1\"><p datatype=\"P\" position=\"0\"><![CDATA[Caf\xE9 <b>au lait</b>]]></p>"
    "<p datatype=\"P\" position=\"0\"><![CDATA[&lt;span foreground='red' size='xx-large'&gt;RED "
    "ALERT&lt;/span&gt;]]></p></note>";

// IGNOTE_PRINT (CM, 1, "N1", the note, "TY", "Desc", Edit, eight flags 0, "R", 0), then
// IGNOTE_EXPAND (CM, 1).
std::string print_odd_note()
{
    return print_note(odd_note_text, 2) + load(CM) + num(1) + call("ipcall", in_IGNOTE_EXPAND, 2);
}

} // namespace

// The field shows the note as it says, its mark-up-like text as text and its bold run bold; the
// clerk opens the edit window with F9 and saves with F12 without a change: the note is reported
// unchanged and comes back byte for byte, though its views showed replacement characters.
TEST(NoteRun, ANoteOpenedAndSavedUnchangedKeepsItsBytes)
{
    ProgramRun program_run(program(print_odd_note()), "noter");
    const lumba_test::Xvfb &x = program_run.x;
    const std::string &out = program_run.out;
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B form up")) << read_all(out);
    screenshot(x.display(), "note_field_as_written.png");
    const lumba_test::Xdotool user(x.display());
    const EditWindow opened = press_f9(program_run, user, "Note form", "N1");
    const std::string &window = opened.window;
    ASSERT_FALSE(window.empty());
    // The first paragraph's view, under the heading, laid out.
    ASSERT_TRUE(lumba_test::wait_until([&] { return white_at(x.display(), window, 400, 150); })) << read_all(out);
    screenshot(x.display(), "note_window_as_written.png");
    EXPECT_EQ(save_and_leave(program_run, user, opened), 0) << read_all(out);
    const std::vector<std::string> lines = lumba_test::program_lines(read_all(out));
    const auto post = std::find_if(lines.begin(), lines.end(), [](const std::string &l) { return l.starts_with("post "); });
    ASSERT_NE(post, lines.end()) << read_all(out);
    EXPECT_NE(post->find(" modified 0 "), std::string::npos) << *post;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "xml " + odd_note), lines.end()) << read_all(out);
}
