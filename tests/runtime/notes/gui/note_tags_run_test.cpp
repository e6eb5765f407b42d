// A block tag set through the real lumba_run on a private X server: a program builds a form of a
// note field in Template mode whose Get_Note_Block_Tag routine opens a small window over the note
// edit window and calls IGNOTE_PRINT_BLOCK_TAG with that window's matrix. A user (xdotool) opens
// the edit window with F9, drags from the first paragraph into the second, clicks the tag button
// and saves with F12; the note's Post_Focus routine logs the saved note.
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
using lumba_test::read_all;
using lumba_test::str;
using namespace note_run;

namespace {

const char *const note =
    "<note ver=\\\"1\\\"><p datatype=\\\"P\\\" position=\\\"0\\\"><![CDATA[First paragraph]]></p>"
    "<p datatype=\\\"P\\\" position=\\\"0\\\"><![CDATA[Second paragraph]]></p></note>";

// prune: what the Post_Focus routine does after logging the saved note (nothing, or the note
// operations on it).
std::string program(const std::string &prune = "")
{
    const std::string main = form_fields("Tag form", 3) + attach("Edit_Content", 1, 1) + attach("Escape", 2, 1) +
                             attach("Escape", 2, 0) + attach("Post_Focus", 3, 1) +
                             attach("Get_Note_Block_Tag", 4, 0) + attach("Pre_Focus", 5, 1) +
                             attach("Pre_Focus", 5, 0) + print_note(note, 3) + form_run();
    const std::string edit = routine("edit") + answer_true();
    const std::string pre = routine("pre") + answer_true();
    const std::string escape = routine("escape") + log_line(str("escape"), 1) + answer_true();
    // post: IGNOTE_GET and the note logged.
    const std::string post = routine("post", POST_NUMERICS, POST_TEXTS) + note_get() +
                             log_line(str("modified ") + number_text(load(2)), 2) +
                             log_line(str("xml ") + sload(10, 600), 2) + prune + answer_true();
    // tagger: a small window over the edit window (W 0, its matrix C 1), the block set with its
    // matrix (result 2), the window closed again at the end of the event.
    const std::string tagger =
        routine("tagger", 3) + str("a") + call("ifcallr", in_IGWIN_NEW, 1) + store(0) + ref(1) + load(0) +
        call("ipcall", in_ICATTACH_WINDOW, 2) + load(1) + str("T1") + str("Start") + str("End") +
        call("ifcallr", in_IGNOTE_PRINT_BLOCK_TAG, 4) + store(2) + log_line(str("tagged ") + number_text(load(2)), 2) +
        load(1) + call("ipcall", in_ICDELETE_WINDOW, 1) + answer_true();
    return main + edit + escape + post + tagger + pre + main_symbols() + routine_symbols("edit") +
           routine_symbols("escape") + routine_symbols("post", POST_LOCALS) +
           routine_symbols("tagger", "W 0 0 0x12 0 5 -\nC 0 0 0x12 1 6 -\nT 0 0 0x12 2 7 -\n") +
           routine_symbols("pre");
}

// The tag button's place in the edit window: the sixth button of the tool bar, which fills the
// second and third of the window's twenty rows.
constexpr int TAG_BUTTON_X = 233, TAG_BUTTON_Y = 45;
// The two paragraph views, one line each, under the heading: the first from y 140 to 159, a spacer
// line, the second from 174 to 193. The drag goes from the middle of the one to the middle of the
// other, right of their text and left of the scroll bar.
constexpr int DRAG_X = 400, FIRST_PARAGRAPH_Y = 150, SECOND_PARAGRAPH_Y = 184;

// The user opens the edit window with F9, drags from the first paragraph into the second and
// clicks the tag button, once the views are laid out where the drag goes; the tag routine's end
// logged. The windows' ids ("" where a step failed, which fails the test).
EditWindow tag_two_paragraphs(const ProgramRun &run, const lumba_test::Xdotool &user)
{
    const EditWindow w = press_f9(run, user, "Tag form", "N1");
    if (w.window.empty()) return {};
    user.focus(w.window);
    if (!lumba_test::wait_until([&] {
            return white_at(run.x.display(), w.window, DRAG_X, FIRST_PARAGRAPH_Y) &&
                   white_at(run.x.display(), w.window, DRAG_X, SECOND_PARAGRAPH_Y);
        })) {
        ADD_FAILURE() << "the paragraph views laid out where the drag goes";
        return {};
    }
    // The drag: the button goes down on the first paragraph and comes up on the second. The X
    // server hands the press, the moves and the release to the program in that order, so the
    // click on the tag button that follows finds the block selected.
    const auto at = [&](int y) { return std::vector<std::string>{"mousemove", "--sync", "--window", w.window,
                                                                  std::to_string(DRAG_X), std::to_string(y)}; };
    std::vector<std::string> press = at(FIRST_PARAGRAPH_Y), release = at(SECOND_PARAGRAPH_Y);
    press.insert(press.end(), {"mousedown", "1"});
    release.insert(release.end(), {"mouseup", "1"});
    user.run(press);
    user.run(release);
    user.click(w.window, TAG_BUTTON_X, TAG_BUTTON_Y);
    if (!lumba_test::wait_for_log_line(run.out, "B tagged ")) {
        ADD_FAILURE() << read_all(run.out);
        return {};
    }
    return w;
}

} // namespace

TEST(NoteRun, TheTagButtonRunsTheProgramsBlockTagRoutine)
{
    ProgramRun program_run(program(), "tagger");
    const lumba_test::Xvfb &x = program_run.x;
    const std::string &out = program_run.out;
    const lumba_test::Xdotool user(x.display());
    const EditWindow opened = tag_two_paragraphs(program_run, user);
    const std::string &window = opened.window;
    ASSERT_FALSE(window.empty());
    screenshot(x.display(), "note_tag_run.png");
    EXPECT_EQ(save_and_leave(program_run, user, opened), 0) << read_all(out);
    const std::string p = "<p datatype=\"P\" position=\"0\"><![CDATA[";
    const std::vector<std::string> expected = {
        "form up",
        "tagged 1",
        "modified 1",
        "xml <note ver=\"1\"><tag name=\"T1\" start=\"true\">Start</tag>" + p + "First paragraph]]></p>" + p +
            "Second paragraph]]></p><tag name=\"T1\" start=\"false\">End</tag>" + p + "]]></p></note>",
        "escape",
        "main loop done",
    };
    EXPECT_EQ(lumba_test::program_lines(read_all(out)), expected) << read_all(out);
}

namespace {

// The hidden comment button: the seventh of the tool bar, right of the tag button.
constexpr int HIDE_BUTTON_X = TAG_BUTTON_X + 40;
// The middle of the second paragraph's view once the start tag's label stands above the first.
constexpr int TAGGED_SECOND_Y = SECOND_PARAGRAPH_Y + 14;

// After the saved note is logged: INOTE_CHECK_BLOCK_TAG on it, then INOTE_DELETE on a fresh copy
// of it (IGNOTE_GET again) for each pair of flags, each result logged with the note left.
std::string prune_saved_note()
{
    std::string code = sload(10, 600) + str("T1") + call("ifcallr", in_INOTE_CHECK_BLOCK_TAG, 2) + store(4) +
                       log_line(str("check ") + number_text(load(4)), 2);
    for (const auto &[tags, text] : {std::pair{1, 0}, std::pair{0, 1}, std::pair{1, 1}}) {
        code += note_get() + sref(10, 600) + str("T1") + num(tags) + num(text) +
                call("ifcallr", in_INOTE_DELETE, 4) + store(4) +
                log_line(str("delete " + std::to_string(tags) + std::to_string(text) + " ") + number_text(load(4)) +
                             str(" ") + sload(10, 600),
                         4);
    }
    return code;
}

} // namespace

// A Template clerk tags two paragraphs and makes the second a hidden comment: the note the edit
// window saves is one that programs prune, and every INOTE_DELETE on it ends normally.
TEST(NoteRun, TheNoteOperationsPruneATemplateSavedWithAHiddenComment)
{
    ProgramRun program_run(program(prune_saved_note()), "pruner");
    const lumba_test::Xvfb &x = program_run.x;
    const std::string &out = program_run.out;
    const lumba_test::Xdotool user(x.display());
    const EditWindow opened = tag_two_paragraphs(program_run, user);
    const std::string &window = opened.window;
    ASSERT_FALSE(window.empty());
    // A click puts the cursor in the second paragraph, moved down by the start tag's label, which
    // then becomes the hidden comment. The X server hands the clicks and F12 over in order.
    // The tagged block stays selected, in the selection colour.
    ASSERT_TRUE(lumba_test::wait_until(
        [&] { return colour_at(x.display(), window, DRAG_X, TAGGED_SECOND_Y) == SITE_SELECTION_COLOUR; }))
        << "the second paragraph laid out below the start tag";
    user.click(window, DRAG_X, TAGGED_SECOND_Y);
    user.click(window, HIDE_BUTTON_X, TAG_BUTTON_Y);
    EXPECT_EQ(save_and_leave(program_run, user, opened), 0) << read_all(out);
    const std::string p = "<p datatype=\"P\" position=\"0\"><![CDATA[", h = "<p datatype=\"H\" position=\"0\"><![CDATA[";
    const std::string start = "<tag name=\"T1\" start=\"true\">Start</tag>", end = "<tag name=\"T1\" start=\"false\">End</tag>";
    const std::string saved = "<note ver=\"1\">" + start + p + "First paragraph]]></p>" + h + "Second paragraph]]></p>" +
                              end + p + "]]></p></note>";
    const std::vector<std::string> expected = {
        "form up",
        "tagged 1",
        "modified 1",
        "xml " + saved,
        "check 1",
        "delete 10 1 <note ver=\"1\">" + p + "First paragraph]]></p>" + h + "Second paragraph]]></p></note>",
        "delete 01 1 <note ver=\"1\">" + start + end + "</note>",
        "delete 11 1 <note ver=\"1\">" + p + "]]></p></note>",
        "escape",
        "main loop done",
    };
    EXPECT_EQ(lumba_test::program_lines(read_all(out)), expected) << read_all(out);
}
