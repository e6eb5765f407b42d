// An amount added through the real lumba_run in Template mode: the form's Get_Note_Amount routine
// opens a small window of its own over the note edit window ("Amount"), sets the amount with that
// window's matrix (IGNOTE_PRINT_AMOUNT) and closes it again. A user (xdotool) opens the edit window
// with F9, clicks the tool bar's amount button, and saves with F12; the note's Post_Focus routine
// logs the saved note.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
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

const char *const note = "<note ver=\\\"1\\\"><p datatype=\\\"P\\\" position=\\\"0\\\"><![CDATA[Fees]]></p></note>";

std::string program()
{
    const std::string main = form_fields("Amount form", 3) + attach("Edit_Content", 1, 1) + attach("Escape", 2, 1) +
                             attach("Escape", 2, 0) + attach("Post_Focus", 3, 1) + attach("Get_Note_Amount", 4, 0) +
                             attach("Pre_Focus", 5, 1) + attach("Pre_Focus", 5, 0) + print_note(note, 3) + form_run();
    const std::string edit = routine("edit") + answer_true();
    const std::string pre = routine("pre") + answer_true();
    const std::string escape = routine("escape") + log_line(str("escape"), 1) + answer_true();
    const std::string post = routine("post", POST_NUMERICS, POST_TEXTS) + note_get() +
                             log_line(str("xml ") + sload(10, 600), 2) + answer_true();
    // amount: a window titled "Amount" over the edit window (W 0, its matrix C 1), 12.5 set with
    // its matrix (required, not next, not protected, orsec 0 and 0), the window closed again.
    const std::string amount = routine("amount", 2) + str("a") + call("ifcallr", in_IGWIN_NEW, 1) + store(0) +
                               load(0) + str("Amount") + call("ipcall", in_IGPRINT_TITLE, 2) + ref(1) + load(0) +
                               call("ipcall", in_ICATTACH_WINDOW, 2) + load(0) + call("ipcall", in_IGSHOW, 1) +
                               load(1) + num("12.5") + num(1) + num(0) + num(0) + num(0) + num(0) +
                               call("ipcall", in_IGNOTE_PRINT_AMOUNT, 7) + log_line(str("amount set"), 1) + load(1) +
                               call("ipcall", in_ICDELETE_WINDOW, 1) + answer_true();
    return main + edit + escape + post + amount + pre + main_symbols() + routine_symbols("edit") +
           routine_symbols("escape") + routine_symbols("post", POST_LOCALS) +
           routine_symbols("amount", "W 0 0 0x12 0 5 -\nC 0 0 0x12 1 6 -\n") + routine_symbols("pre");
}

// The amount button's place in the edit window: the fourth button of the tool bar, which fills the
// second and third of the window's twenty rows.
constexpr int AMOUNT_BUTTON_X = 148, AMOUNT_BUTTON_Y = 45;

// Whether a window titled title is on the screen.
bool shows(const lumba_test::Xdotool &user, const std::string &title)
{
    try {
        return !user.run({"search", "--onlyvisible", "--name", title}).empty();
    } catch (const std::runtime_error &) {
        return false;  // xdotool finds none: it fails
    }
}

} // namespace

TEST(NoteRun, TheAmountRoutinesWindowGoesAndTheEditWindowTakesKeysAgain)
{
    ProgramRun program_run(program(), "amounter");
    const std::string &out = program_run.out;
    const lumba_test::Xdotool user(program_run.x.display());
    const std::string form = form_up(program_run, user, "^Amount form$");
    user.key({"F9"});
    const std::string window = user.search("^N1$");
    user.focus(window);
    user.click(window, AMOUNT_BUTTON_X, AMOUNT_BUTTON_Y);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B amount set")) << read_all(out);
    EXPECT_TRUE(lumba_test::wait_until([&] { return !shows(user, "^Amount$"); }))
        << "the routine's window closed is gone from the screen";
    screenshot(program_run.x.display(), "note_amount_run.png");
    save_and_leave(program_run, user, window, form);
    const std::string p = "<p datatype=\"P\" position=\"0\"><![CDATA[";
    const std::vector<std::string> expected = {
        "form up",
        "amount set",
        "xml <note ver=\"1\">" + p + "Fees]]></p><am required=\"true\" next=\"false\" protect=\"false\" orsec=\"0\" "
            "orsecvalue=\"0\">12.50</am>" + p + "]]></p></note>",
        "escape",
        "main loop done",
    };
    EXPECT_EQ(lumba_test::program_lines(read_all(out)), expected) << read_all(out);
}
