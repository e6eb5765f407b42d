// Keys through the real lumba_run on a private X server: a program opens a form of three input
// fields in change mode and hands control to IGTK_MAIN; a user (xdotool) types, goes forward with
// Tab and Enter, back with shift+Tab and F8, and leaves with Escape, answering the discard question
// with keys; the routines log what they are given, in order, and the run ends with status 0 when
// the form's window (the last) has closed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <pwd.h>
#include <unistd.h>

#include "gui_child.h"
#include "intrinsics.h"
#include "log_wait.h"
#include "program_text.h"
#include "xdotool.h"
#include "xvfb.h"
#include "zasm_run.h"

using lumba_test::call;
using lumba_test::num;
using lumba_test::str;

namespace {

using lumba_test::read_all;
using lumba_test::program_lines;

// main's numerics: CM 0, W 1, Y 2, D 3, R 4, IP 5; its text IP$ (40) at 0.
enum { CM, W, Y, D, R, IP };
std::string load(int v) { return "loadrvd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string ref(int v) { return "loadrad I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string store(int v) { return "storrd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
// A routine's parameter k by value; a text parameter without trailing blanks.
using lumba_test::param;
std::string text_param(int k)
{
    return "loadsvi I:" + std::to_string(k) + " I:0 I:1 I:0 I:0 I:0\n" + call("ifcalls", in_STRIP, 1);
}
std::string number_text(const std::string &push) { return push + call("ifcalls", in_STR, 1); }
std::string log_line(const std::string &pieces, int n)
{
    return num(0) + pieces + "scat I:" + std::to_string(n) + "\n" + call("ipcall", in_IMLOG, 2);
}

// An input field named name, packed into the box and added with its prompt and Tab Sequence Type;
// with a mask, of type p with that mask and its message.
std::string field(int index, const char *name, int tab, const char *mask = nullptr, const char *message = nullptr)
{
    const std::string type = mask ? str("p") + str(mask) + str(message) : str("s");
    return ref(CM) + num(index) + num(0) + num(10) + num("0.5") + num(0) + type +
           call("ifcallr", in_IGINPUT_NEW, mask ? 9 : 7) + store(D) + load(Y) + load(D) + num(0) + num(0) + num(0) + num(0) +
           num(0) + num(0) + num(0) + call("ipcall", in_IGHBOX_PACK, 9) + load(CM) + num(-1) + str(name) +
           num(index) + num(0) + load(D) + num(0) + num(tab) + num(1) + num(1) + num(0) +
           call("ifcallr", in_ICADD, 11) + store(R);
}

// ICATTACH_FUN(code, routine, CM, 0, IP, IP$): routine for every field of the window.
std::string attach(const char *code, int routine)
{
    return str(code) + num(routine) + ref(CM) + num(0) + ref(IP) + "loadsad I:0 I:1 I:40 I:0 I:0 I:0 I:0 I:0\n" +
           call("ipcall", in_ICATTACH_FUN, 6);
}

// Routines 1 post, 2 pre, 3 escape (cm, ind, IP, IP$): each counts itself in COMMON cell 0 and logs
// "<count> post <ind> [<IP$>]", "<count> pre <ind>" or "<count> escape"; post also marks the form
// modified; all answer 1.
std::string routine(const char *name, const std::string &work, const std::string &logged, int pieces)
{
    return std::string(".nfunc r:") + name + " I:0 I:0 I:0 I:0 I:0 I:4\n" + lumba_test::from_cell(0) + num(1) +
           "add\n" + lumba_test::to_cell(0) + work +
           log_line(number_text(lumba_test::from_cell(0)) + str(" ") + str(name) + logged, pieces + 3) + num(1) +
           "exitv\n";
}

std::string symbols(const char *name)
{
    return std::string("symtab\n__ROUTINE__ ") + name +
           " 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\nIP$ 40 0 0x8014 0 4 -\n"
           "__END_ROUTINE__\n.end\n";
}

// A date field (four-digit years) named name, packed into the box and added as field index.
std::string date_field(int index, const char *name, int tab)
{
    return ref(CM) + num(index) + num(1) + call("ifcallr", in_IGDATE_NEW, 3) + store(D) + load(Y) + load(D) + num(0) +
           num(0) + num(0) + num(0) + num(0) + num(0) + num(0) + call("ipcall", in_IGHBOX_PACK, 9) + load(CM) +
           num(-1) + str(name) + num(index) + num(0) + load(D) + num(0) + num(tab) + num(1) + num(7) + num(0) +
           call("ifcallr", in_ICADD, 11) + store(R);
}

const std::string three_inputs = field(1, "Code", 1) + field(2, "Name", 3) + field(3, "Town", 3);

// The form's main program: the fields (by default three input fields), the window's routines
// attached by code (Post_Focus, Pre_Focus and Escape, by default routines 1 to 3), the focus on
// field focus, then IGTK_MAIN.
std::string form_main(int post = 1, int pre = 2, int escape = 3, const std::string &fields = three_inputs,
                      int focus = 1)
{
    return ".proc r:main I:0 I:0 I:6 I:40 I:0 I:0\n.common I:2 I:0\nsrcline I:3 I:0\n" + str("a") +
           call("ifcallr", in_IGWIN_NEW, 1) + store(W) + load(W) + str("Keys form") +
           call("ipcall", in_IGPRINT_TITLE, 2) + ref(CM) + load(W) + call("ipcall", in_ICATTACH_WINDOW, 2) + load(W) +
           call("ifcallr", in_IGVBOX_NEW, 1) + store(Y) + fields + attach("Post_Focus", post) +
           attach("Pre_Focus", pre) + attach("Escape", escape) + load(CM) + num(2) +
           call("ipcall", in_ICSET_PROGRAM_MODE, 2) + load(W) + call("ipcall", in_IGSHOW, 1) + load(CM) + num(focus) +
           call("ipcall", in_ICSET_FOCUS, 2) + log_line(str("form up"), 1) +
           call("ipcall", in_IGTK_MAIN, 0) + log_line(str("main loop done"), 1) + "exit\n";
}

const std::string main_symbols =
    "symtab\n__ROUTINE__ main 7\nCM 0 0 0x12 0 1 -\nW 0 0 0x12 1 2 -\nY 0 0 0x12 2 3 -\n"
    "D 0 0 0x12 3 4 -\nR 0 0 0x12 4 5 -\nIP 0 0 0x12 5 6 -\nIP$ 40 0 0x14 0 7 -\n__END_ROUTINE__\n.end\n";

std::string program()
{
    const std::string main =
        ".proc r:main I:0 I:0 I:6 I:40 I:0 I:0\n.common I:1 I:0\nsrcline I:3 I:0\n" + str("a") +
        call("ifcallr", in_IGWIN_NEW, 1) + store(W) + load(W) + str("Keys form") + call("ipcall", in_IGPRINT_TITLE, 2) +
        ref(CM) + load(W) + call("ipcall", in_ICATTACH_WINDOW, 2) + load(W) + call("ifcallr", in_IGVBOX_NEW, 1) +
        store(Y) + field(1, "Code", 1) + field(2, "Name", 3) + field(3, "Town", 3) + attach("Post_Focus", 1) +
        attach("Pre_Focus", 2) + attach("Escape", 3) + load(CM) + num(2) + call("ipcall", in_ICSET_PROGRAM_MODE, 2) +
        load(W) + call("ipcall", in_IGSHOW, 1) + load(CM) + num(1) + call("ipcall", in_ICSET_FOCUS, 2) +
        log_line(str("form up"), 1) + call("ipcall", in_IGTK_MAIN, 0) + log_line(str("main loop done"), 1) + "exit\n";
    const std::string post = routine("post", param(0) + num(1) + call("ipcall", in_ICSET_MODIFIED, 2),
                                      str(" ") + number_text(param(1)) + str(" [") + text_param(3) + str("]"), 5);
    const std::string pre = routine("pre", "", str(" ") + number_text(param(1)), 2);
    const std::string escape = routine("escape", "", "", 0);
    return main + post + pre + escape +
           "symtab\n__ROUTINE__ main 7\nCM 0 0 0x12 0 1 -\nW 0 0 0x12 1 2 -\nY 0 0 0x12 2 3 -\n"
           "D 0 0 0x12 3 4 -\nR 0 0 0x12 4 5 -\nIP 0 0 0x12 5 6 -\nIP$ 40 0 0x14 0 7 -\n__END_ROUTINE__\n.end\n" +
           symbols("post") + symbols("pre") + symbols("escape");
}

} // namespace

TEST(KeysRun, AUserGoesThroughAFormWithKeysAndLeavesIt)
{
    lumba_test::Xvfb x;
    lumba_test::zasm(program(), "/usr/local/oska/apps/unit0/keys");
    const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/keys.out";
    lumba_test::GuiChild run({LUMBA_RUN, "-v", "0", "keys", "0"}, x.gui_env(), out);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B form up")) << read_all(out);
    const lumba_test::Xdotool user(x.display());
    const std::string form = user.search("^Keys form$");
    // Each step: keys on the form, then the log line its last routine writes.
    auto step = [&](const std::vector<std::string> &keys, const std::string &line) {
        user.focus(form);
        user.key(keys);
        ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B " + line)) << read_all(out);
    };
    user.focus(form);
    user.type("abc");
    step({"Tab"}, "3 pre 2");
    // Back onto the key field in change mode: the discard question, "_No" (the second button)
    // keeps the focus on field 2 and reruns its Pre_Focus.
    user.focus(form);
    user.key({"shift+Tab"});
    std::string question = user.search("[0-9]-main:");
    user.focus(question);
    user.key({"Tab", "Return"});
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B 5 pre 2")) << read_all(out);
    step({"Return"}, "7 pre 3");
    step({"F8"}, "9 pre 2");
    // Escape on the modified form asks again; "_Yes" (the first) lets the Escape routine close it.
    user.focus(form);
    user.key({"Escape"});
    question = user.search("[0-9]-main:");
    user.focus(question);
    user.key({"Return"});
    EXPECT_EQ(run.wait(), 0) << read_all(out);
    // ICSET_FOCUS ran the first field's Pre_Focus before the form was up.
    const std::vector<std::string> expected = {
        "1 pre 1", "form up", "2 post 1 [abc]", "3 pre 2", "4 post 2 []", "5 pre 2",       "6 post 2 []",
        "7 pre 3", "8 pre 3", "9 pre 2",        "10 escape", "main loop done",
    };
    EXPECT_EQ(program_lines(read_all(out)), expected) << read_all(out);
}


// The window's close button while a routine that turns the main loop runs on the form: from
// ICSET_FOCUS before the main loop (its Pre_Focus), and inside an event (Tab's Post_Focus). The
// close waits until the routine has returned, then takes the Escape road, and the run ends
// cleanly (no freed form under the routine).
TEST(KeysRun, TheCloseButtonWaitsForTheRoutineThatRunsOnTheForm)
{
    // waits (cm, ind, IP, IP$): logs "waiting", then turns the main loop (IGTK_MAIN_ITERATION, SLEEP
    // 1) until the test's file go-on exists, and logs "<count> waits <ind>"; answers 1.
    const std::string go_on = std::string(std::getenv("LUMBA_SITE")) + "/go-on";
    const std::string wait = log_line(str("waiting"), 1) + "waittop:\n" + call("ipcall", in_IGTK_MAIN_ITERATION, 0) +
                             str(go_on) + num(1) + call("ifcallr", in_IFEXISTS, 2) + "jumpz l:waitmore\n" +
                             "jump l:waitdone\nwaitmore:\n" + num(1) + call("ipcall", in_SLEEP, 1) +
                             "jump l:waittop\nwaitdone:\n";
    const std::string routines = routine("post", "", str(" ") + number_text(param(1)), 2) +
                                 routine("pre", "", str(" ") + number_text(param(1)), 2) +
                                 routine("escape", "", "", 0) + routine("waits", wait, str(" ") + number_text(param(1)), 2) +
                                 main_symbols + symbols("post") + symbols("pre") + symbols("escape") + symbols("waits");
    struct Case {
        const char *what;
        int post, pre;                  // the routines attached for Post_Focus and Pre_Focus
        std::vector<std::string> keys;  // what the user presses before the routine runs
        std::vector<std::string> lines;
    } cases[] = {
        {"Pre_Focus from ICSET_FOCUS", 1, 4, {}, {"waiting", "1 waits 1", "form up", "2 escape", "main loop done"}},
        {"Post_Focus from Tab", 4, 2, {"a", "Tab"},
         {"1 pre 1", "form up", "waiting", "2 waits 1", "3 pre 2", "4 escape", "main loop done"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        lumba_test::Xvfb x;
        lumba_test::zasm(form_main(c.post, c.pre) + routines, "/usr/local/oska/apps/unit0/closer");
        const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/closer.out";
        std::remove(out.c_str());
        std::remove(go_on.c_str());
        lumba_test::GuiChild run({LUMBA_RUN, "-w", "0", "-v", "0", "closer", "0"}, x.gui_env(), out);
        const lumba_test::Xdotool user(x.display());
        const std::string form = user.search("^Keys form$");
        if (!c.keys.empty()) {
            ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B form up")) << read_all(out);
            user.focus(form);
            user.key(c.keys);
        }
        ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B waiting")) << read_all(out);
        user.close_window(form);
        // The close came while the routine ran; then the routine may end.
        EXPECT_TRUE(lumba_test::wait_for_log_line(out, "Close request of Control Matrix")) << read_all(out);
        std::ofstream(go_on) << "go on\n";
        EXPECT_EQ(run.wait(), 0) << read_all(out);
        const std::string all = read_all(out);
        EXPECT_EQ(all.find("AddressSanitizer"), std::string::npos) << all;
        EXPECT_EQ(program_lines(all), c.lines) << all;
    }
}

// Another X client destroys the form's window (a window manager, or `xdotool windowclose`): the
// run takes it as the window's close, so the program's Escape routine runs and the run ends
// through its own exit (its COMMON object removed), where GDK would have aborted on its own
// assertion or ended the process at the next X error about the window. An error about the window
// that GDK meets inside a wait of its own before the destruction is known still ends the run, but
// through its exit, with the line of a lost display.
TEST(KeysRun, AWindowAnotherClientDestroysTakesTheEscapeRoad)
{
    lumba_test::Xvfb x;
    const std::string routines = routine("post", "", str(" ") + number_text(param(1)), 2) +
                                 routine("pre", "", str(" ") + number_text(param(1)), 2) +
                                 routine("escape", "", "", 0) + main_symbols + symbols("post") + symbols("pre") +
                                 symbols("escape");
    lumba_test::zasm(form_main() + routines, "/usr/local/oska/apps/unit0/destroyed");
    const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/destroyed.out";
    lumba_test::GuiChild run({LUMBA_RUN, "-w", "0", "-v", "0", "destroyed", "0"}, x.gui_env(), out);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B form up")) << read_all(out);
    const std::string common =
        "/dev/shm/oska_" + std::string(getpwuid(geteuid())->pw_name) + "_" + std::to_string(run.pid());
    EXPECT_TRUE(std::ifstream(common).good()) << common;
    const lumba_test::Xdotool user(x.display());
    user.run({"windowclose", user.search("^Keys form$")});
    const int status = run.wait();
    const std::string all = read_all(out);
    for (const char *fault : {"assertion", "Bail out", "Caught signal", "E R R O R"})
        EXPECT_EQ(all.find(fault), std::string::npos) << fault << "\n" << all;
    EXPECT_FALSE(std::ifstream(common).good()) << common;
    if (all.find("X Window System error") == std::string::npos) {
        EXPECT_EQ(status, 0) << all;
        EXPECT_EQ(program_lines(all), (std::vector<std::string>{"1 pre 1", "form up", "2 escape", "main loop done"}))
            << all;
        EXPECT_EQ(all.find("display connection lost"), std::string::npos) << all;
    } else {
        EXPECT_EQ(status, 1) << all;
        EXPECT_NE(all.find("display connection lost"), std::string::npos) << all;
    }
}

// A date typed digit by digit through the X server, as a user types (a quarter of a second apart):
// each digit goes where the cursor stands and moves it on, over the slashes, and the field's
// routine gets the whole date.
TEST(KeysRun, ADateTypedDigitByDigitFillsTheMask)
{
    lumba_test::Xvfb x;
    const std::string routines = routine("post", "", str(" ") + number_text(param(1)) + str(" [") + text_param(3) + str("]"), 5) +
                                 routine("pre", "", str(" ") + number_text(param(1)), 2) + routine("escape", "", "", 0) +
                                 main_symbols + symbols("post") + symbols("pre") + symbols("escape");
    lumba_test::zasm(form_main(1, 2, 3, field(1, "Code", 3) + date_field(2, "When", 3), 2) + routines,
                     "/usr/local/oska/apps/unit0/dater");
    const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/dater.out";
    lumba_test::GuiChild run({LUMBA_RUN, "-w", "0", "-v", "0", "dater", "0"}, x.gui_env(), out);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B form up")) << read_all(out);
    const lumba_test::Xdotool user(x.display());
    const std::string form = user.search("^Keys form$");
    user.focus(form);
    user.run({"type", "--delay", "250", "01022024"});
    // The screen as the user sees it, for a look (ImageMagick's import of the X server's root).
    if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR"))
        std::system(("import -display " + x.display() + " -window root " + dir + "/date_typed.png").c_str());
    user.key({"Tab"});
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, " post 2 [")) << read_all(out);
    const std::string all = read_all(out);
    const std::vector<std::string> lines = program_lines(all);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "2 post 2 [2024-02-01]"), lines.end()) << all;
    EXPECT_EQ(all.find("Year must be greater"), std::string::npos) << all;
}

// A value the field's mask refuses leaves the whole text selected: what the user types next
// replaces it (not goes in front of it).
TEST(KeysRun, AfterARefusedMaskTheNextTypingReplacesTheText)
{
    lumba_test::Xvfb x;
    const std::string routines = routine("post", "", str(" ") + number_text(param(1)) + str(" [") + text_param(3) + str("]"), 5) +
                                 routine("pre", "", str(" ") + number_text(param(1)), 2) + routine("escape", "", "", 0) +
                                 main_symbols + symbols("post") + symbols("pre") + symbols("escape");
    const std::string fields = field(1, "Code", 3, "^[0-9]{4}-[A-Z]{2}$", "Four digits, a dash, two capitals") +
                               field(2, "Name", 3);
    lumba_test::zasm(form_main(1, 2, 3, fields, 1) + routines, "/usr/local/oska/apps/unit0/masked");
    const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/masked.out";
    lumba_test::GuiChild run({LUMBA_RUN, "-w", "0", "-v", "0", "masked", "0"}, x.gui_env(), out);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B form up")) << read_all(out);
    const lumba_test::Xdotool user(x.display());
    const std::string form = user.search("^Keys form$");
    user.focus(form);
    user.type("AB");
    user.key({"Return"});
    const std::string warning = user.search("main");
    user.focus(warning);
    user.key({"Return"});
    user.focus(form);
    user.type("1212-AB");
    if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR"))
        std::system(("import -display " + x.display() + " -window root " + dir + "/mask_retyped.png").c_str());
    user.key({"Return"});
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, " post 1 [")) << read_all(out);
    const std::string all = read_all(out);
    const std::vector<std::string> lines = program_lines(all);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "2 post 1 [1212-AB]"), lines.end()) << all;
}
