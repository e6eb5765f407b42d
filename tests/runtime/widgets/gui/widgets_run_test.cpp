// The widgets through the real lumba_run on a private X server: a program opens a form with boxes,
// a grid and a separator, titles its window and asks a question with IGDIALOG; a user (xdotool)
// moves to the second answer with Tab and takes it with Return; the program logs the answer and
// ends with status 0. In background mode the same question is answered -1 at once. The menu as it
// is once a form launched from it has returned goes to $LUMBA_SNAPSHOT_DIR/menu_after_a_form.png
// when that is set (the one kept in tests/runtime/forms/gui/snapshots/ was taken so).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <sstream>
#include <string>

#include "gui_child.h"
#include "intrinsics.h"
#include "log_wait.h"
#include "program_text.h"
#include "snapshot.h"
#include "xdotool.h"
#include "xvfb.h"
#include "zasm_run.h"

using lumba_test::call;
using lumba_test::num;
using lumba_test::str;

namespace {

using lumba_test::read_all;

// main's numerics: W 0, B 1, H 2, G 3, S 4, X 5.
std::string load(int v) { return "loadrvd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string store(int v) { return "storrd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
enum { W, B, H, G, S, X };

std::string attach_separator(int column)
{
    return call("ifcallr", in_IGHSEPARATOR_NEW, 0) + store(S) + load(G) + load(S) + num(column) + num(column + 1) +
           num(0) + num(1) + num(5) + num(5) + num(2) + num(2) + call("ipcall", in_IGTABLE_ATTACH, 10);
}

std::string log_line(const std::string &text) { return num(0) + str(text) + call("ipcall", in_IMLOG, 2); }

const std::string form_and_question =
    str("a") + call("ifcallr", in_IGWIN_NEW, 1) + store(W) + load(W) + str("Invoice") +
    call("ipcall", in_IGPRINT_TITLE, 2) + load(W) + call("ifcallr", in_IGVBOX_NEW, 1) + store(B) + load(B) + num(1) +
    call("ifcallr", in_IGHBOX_NEW, 2) + store(H) + load(H) + num(2) + num(3) + num(1) + num(0) +
    call("ifcallr", in_IGTABLE_NEW, 5) + store(G) + attach_separator(0) + attach_separator(2) +
    call("ipcall", in_IGTK_MAIN_ITERATION, 0) + log_line("asking") + str("Post the invoice?") + str("Later") +
    str("Post") + call("ifcallr", in_IGDIALOG, 3) + store(X) + num(0) + str("answer ") + load(X) +
    call("ifcalls", in_STR, 1) + "scat I:2\n" + call("ipcall", in_IMLOG, 2);

std::string program(const std::string &body)
{
    return ".proc r:main I:0 I:0 I:6 I:0 I:0 I:0\nsrcline I:3 I:0\n" + body + "exit\n" +
           "symtab\n__ROUTINE__ main 6\nW 0 0 0x12 0 1 -\nB 0 0 0x12 1 2 -\nH 0 0 0x12 2 3 -\n"
           "G 0 0 0x12 3 4 -\nS 0 0 0x12 4 5 -\nX 0 0 0x12 5 6 -\n__END_ROUTINE__\n.end\n";
}

// The private site's program (the test program runs under with_site).
void install(const std::string &name, const std::string &text)
{
    lumba_test::zasm(program(text), "/usr/local/oska/apps/unit0/" + name);
}

} // namespace

TEST(WidgetsRun, UserAnswersTheQuestionOfAFormWithTabAndReturn)
{
    lumba_test::Xvfb x;
    install("form", form_and_question);
    const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/run.out";
    lumba_test::GuiChild run({LUMBA_RUN, "-v", "0", "form", "0"}, x.gui_env(), out);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "asking")) << read_all(out);
    const lumba_test::Xdotool user(x.display());
    // The question's title is its heading: where the program stands.
    const std::string dialog = user.search("^3-main:$");
    user.focus(dialog);
    user.key({"Tab", "Return"});
    EXPECT_EQ(run.wait(), 0) << read_all(out);
    EXPECT_NE(read_all(out).find("answer 1\n"), std::string::npos) << read_all(out);
}

TEST(WidgetsRun, InBackgroundTheQuestionIsAnsweredAtOnce)
{
    install("ask", log_line("asking") + str("Post the invoice?") + str("Later") + str("Post") +
                       call("ifcallr", in_IGDIALOG, 3) + store(X) + num(0) + str("answer ") + load(X) +
                       call("ifcalls", in_STR, 1) + "scat I:2\n" + call("ipcall", in_IMLOG, 2));
    const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/bg.out";
    lumba_test::GuiChild run({LUMBA_RUN, "-b", "-v", "0", "ask", "0"}, {}, out);
    EXPECT_EQ(run.wait(), 0) << read_all(out);
    const std::string text = read_all(out);
    EXPECT_NE(text.find("Post the invoice? [Later | Post]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("answer -1\n"), std::string::npos) << text;
}

namespace {

std::string ref(int v) { return "loadrad I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }

// main's lines that build a menu: its definition list (the elements, seven an item) in H, then
// IGMENU_SETUP with the CM into cell 1 (B) and the window into W.
std::string menu_setup(std::initializer_list<const char *> elements)
{
    std::string body = str("char") + call("ifcallr", in_ILIST_DECLARE, 1) + store(H);
    for (const char *e : elements) body += load(H) + str(e) + call("ifcallr", in_ILIST_ADD, 2) + store(X);
    body += ref(B) + str("APP") + str("Main menu") + str("site") + str("") + load(H) + str("07inc") + str("07790m") +
            str("07tar");
    for (int i = 0; i < 6; ++i) body += str("1");
    return body + str("0") + call("ifcallr", in_IGMENU_SETUP, 16) + store(W);
}

// A menu program: top-level sub-menu 1 with the item 1.1 naming the program 07ord, which the site
// does not have; then the main loop.
std::string menu_program()
{
    return menu_setup({"1", "2", "1", "Sales", "A", "", "", "1.1", "1", "2", "Orders", "B", "07ord", "ord"}) +
           log_line("menu up") + call("ipcall", in_IGTK_MAIN, 0) + log_line("menu gone");
}

} // namespace

// What the menu does without routines: a bad path and a missing program each bring up a message,
// which the user takes with Return (with -t a message's title ends with its text). With an
// application area of 800 x 600 (-G) the menu's window is scaled to 800 x 536.
TEST(WidgetsRun, MenuAnswersABadPathAndAMissingProgram)
{
    lumba_test::Xvfb x;
    install("mnu", menu_program());
    const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/menu.out";
    lumba_test::GuiChild run({LUMBA_RUN, "-t", "-G", "800x600", "-v", "0", "mnu", "0"}, x.gui_env(), out);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "menu up")) << read_all(out);
    const lumba_test::Xdotool user(x.display());
    const std::string menu = user.search("OSKA Application Manager");
    EXPECT_NE(user.run({"getwindowgeometry", menu}).find("Geometry: 800x536"), std::string::npos);
    struct Case {
        const char *typed, *message;
    } cases[] = {{"9", "Invalid menu selection"}, {"1.1", "This will be the 07ord program"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed);
        user.focus(menu);
        user.type(c.typed);
        user.key({"Return"});
        const std::string dialog = user.search(std::string("^mnu:.*::") + c.message + "$");
        user.focus(dialog);
        user.key({"Return"});
    }
    // Each answer let the menu go on: the run is still in its main loop (and is ended here).
    EXPECT_EQ(run.wait(1000), -1) << read_all(out);
    EXPECT_EQ(read_all(out).find("menu gone"), std::string::npos);
}

namespace {

std::string local(int v) { return "loadrvd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string local_ref(int v) { return "loadrad I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string to_local(int v) { return "storrd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
const std::string s_ref = "loadsad I:0 I:1 I:20 I:0 I:0 I:0 I:0 I:0\n";
const std::string s_val = "loadsvd I:0 I:1 I:20 I:0 I:0 I:0 I:0 I:0\n";

std::string two_params(const char *name)
{
    return "symtab\n__ROUTINE__ " + std::string(name) + " 2\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\n"
           "__END_ROUTINE__\n.end\n";
}

// The menu of a unit-7 program: sub-menu 3 ("Stock") with the item 3.2 "07ord" (short cut "ord").
// The menu's Post_Focus routine at index 0 (launch) logs "launch <IGMENU_GET> key <IGMENU_KEY$>"
// and opens the program's form, titled "Order form", whose Escape routine (form_escape) logs
// "form escape" and lets it close. The menu's own Escape routine (menu_escape) logs "menu escape"
// and lets the menu close, which ends the main loop: main then logs "menu gone". The CM variables
// bear the name of the routines' parameter, as the attachment's checks want.
std::string launching_menu()
{
    const std::string main =
        ".proc r:main I:0 I:0 I:6 I:0 I:0 I:0\nsrcline I:3 I:0\n" +
        menu_setup({"3", "2", "1", "Stock", "A", "", "", "3.2", "1", "2", "Orders", "B", "07ord", "ord"}) +
        str("Post") + num(1) + ref(B) + num(0) + call("ipcall", in_ICATTACH_FUN, 4) + str("Escape") + num(3) +
        ref(B) + num(0) + call("ipcall", in_ICATTACH_FUN, 4) + log_line("menu up") + call("ipcall", in_IGTK_MAIN, 0) +
        log_line("menu gone") + "exit\n";
    // launch: W (local 0), CMF (local 1), S$ (local text 0).
    const std::string launch =
        // CMF, emptied first, keeps the last form's CM
        ".proc r:launch I:0 I:0 I:2 I:20 I:0 I:2\n" + num(0) + to_local(1) +
        "loadrvi I:0 I:0 I:1 I:0 I:0 I:0\n" + s_ref + call("ipcall", in_IGMENU_GET, 2) + num(0) + str("launch ") +
        s_val + str(" key ") + call("ifcalls", in_IGMENU_KEY, 0) + "scat I:4\n" + call("ipcall", in_IMLOG, 2) +
        str("b") + call("ifcallr", in_IGWIN_NEW, 1) + to_local(0) + local(0) + str("Order form") +
        call("ipcall", in_IGPRINT_TITLE, 2) + local_ref(1) + local(0) + call("ipcall", in_ICATTACH_WINDOW, 2) +
        local(0) + call("ifcallr", in_IGVBOX_NEW, 1) + to_local(0) + local(0) + str("Order 1042 for Smith Ltd") +
        num("0.0") + num(0) + call("ifcallr", in_IGLABEL_SIMPLE_NEW, 3) + num("0.0") + num("0.0") + num(0) + num(0) +
        num(0) + num(0) + num(0) + call("ipcall", in_IGHBOX_PACK, 9) + str("Escape") + num(2) + local_ref(1) + num(0) +
        call("ipcall", in_ICATTACH_FUN, 4) + log_line("form up") + "exit\n";
    const std::string form_escape = ".nfunc r:form_escape I:0 I:0 I:0 I:0 I:0 I:2\n" + log_line("form escape") +
                                    num(1) + "exitv\n";
    const std::string menu_escape = ".nfunc r:menu_escape I:0 I:0 I:0 I:0 I:0 I:2\n" + log_line("menu escape") +
                                    num(1) + "exitv\n";
    return main + launch + form_escape + menu_escape +
           "symtab\n__ROUTINE__ main 6\nW 0 0 0x12 0 1 -\nCM 0 0 0x12 1 2 -\nH 0 0 0x12 2 3 -\n"
           "G 0 0 0x12 3 4 -\nS 0 0 0x12 4 5 -\nX 0 0 0x12 5 6 -\n__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ launch 5\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nW 0 0 0x12 0 3 -\n"
           "CMF 0 0 0x12 1 4 -\nS$ 20 0 0x14 0 5 -\n__END_ROUTINE__\n.end\n" +
           two_params("form_escape") + two_params("menu_escape");
}

// A screenshot of the window (kept in $LUMBA_SNAPSHOT_DIR when that is set): the form's first
// line of text starts at least the form's 12 px margin from the window's left and top edges.
void expect_form_margin(const lumba_test::Xvfb &x, const std::string &window, const std::string &name)
{
    const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR");
    const std::string picture = (dir ? std::string(dir) : std::string(std::getenv("LUMBA_SITE"))) + "/" + name;
    ASSERT_EQ(std::system(("import -display " + x.display() + " -window " + window + " " + picture).c_str()), 0);
    const lumba_test::Snapshot s = lumba_test::load_png(picture);
    ASSERT_FALSE(s.empty());
    int left = s.width(), top = s.height();
    for (int y = 0; y < s.height(); ++y)
        for (int x = 0; x < s.width(); ++x) {
            const lumba_test::Rgba p = s.pixel(x, y);
            if (p.r < 96 && p.g < 96 && p.b < 96) {
                left = std::min(left, x);
                top = std::min(top, y);
            }
        }
    ASSERT_LT(left, s.width()) << "no text in the window";
    EXPECT_GE(left, 12);
    EXPECT_GE(top, 12);
}

} // namespace

// A user at the menu: a typed path and then a short cut, each with Return, launch the program
// through the menu's Post_Focus routine, which IGMENU_GET tells the program chosen; its form shows
// in the menu's own window and, closed by its close button, gives the window back to the menu.
// The close button on the menu runs the menu's Escape routine, which lets it close, and the run
// ends.
TEST(WidgetsRun, MenuLaunchesAFormInItsWindowAndEndsByItsEscapeRoutine)
{
    lumba_test::Xvfb x;
    lumba_test::zasm(launching_menu(), "/usr/local/oska/apps/unit0/mnu");
    mkdir("/usr/local/oska/apps/unit7", 0755);
    std::ofstream("/usr/local/oska/apps/unit7/07ord") << "x\n";
    const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/launch.out";
    lumba_test::GuiChild run({LUMBA_RUN, "-t", "-v", "0", "mnu", "0"}, x.gui_env(), out);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "menu up")) << read_all(out);
    const lumba_test::Xdotool user(x.display());
    const std::string menu_title = "^\\*\\*\\* OSKA Application Manager \\*\\*\\*$";
    const std::string menu = user.search(menu_title);
    struct Case {
        const char *typed, *launched;
    } cases[] = {{"3.2", "launch 07ord key 3.2"}, {"ord", "launch 07ord key ord"}};
    // The keyboard is given to the menu's window once: after a form has given the window back, the
    // Menu Selection entry has the focus again, and what the clerk types next goes there.
    user.focus(menu);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed);
        user.key({"period", "period"});  // empties the entry, which shows the last path chosen
        user.type(c.typed);
        user.key({"Return"});
        ASSERT_TRUE(lumba_test::wait_for_log_line(out, c.launched)) << read_all(out);
        // The form takes the menu's window, its content with the margin a form has in a window of its own.
        EXPECT_EQ(user.search("^Order form$"), menu);
        if (c.typed == cases[0].typed) expect_form_margin(x, menu, "form_in_the_menu_window.png");
        user.close_window(menu);
        // The form's Escape routine let it close: the menu has its window back, with its title.
        EXPECT_EQ(user.search(menu_title), menu);
    }
    // What the clerk sees once a form has given the window back: the menu, drawn whole again.
    if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR")) {
        const std::string picture = std::string(dir) + "/menu_after_a_form.png";
        const int status = std::system(("import -display " + x.display() + " -window " + menu + " " + picture).c_str());
        EXPECT_EQ(status, 0) << "import took the screenshot";
    }
    // The close button on the menu: its Escape routine lets it go, and the run ends.
    user.close_window(menu);
    EXPECT_EQ(run.wait(), 0) << read_all(out);
    const std::string text = read_all(out);
    std::size_t form_escapes = 0;
    for (std::size_t at = text.find("form escape"); at != std::string::npos; at = text.find("form escape", at + 1))
        ++form_escapes;
    EXPECT_EQ(form_escapes, 2u) << text;
    EXPECT_NE(text.find("menu escape"), std::string::npos) << text;
    EXPECT_NE(text.find("menu gone"), std::string::npos) << text;
}

namespace {

// A form whose input field's F2 routine opens a zoom of three rows (answers 10, 20, 30), whose
// Post_Focus accepts the chosen row; the form's Zoom_Post for the field logs the answer it gets.
// Routines: 1 opener (cm, ind), 2 zoom_post (cm, ind, IP, IP$), 3 pick (cm, ind, IP, IP$).
// main's numerics: CM 0, W 1, Y 2, D 3, R 4, IP 5; its IP$ at 0. opener's: CM2 0, D 1, R 2, T 3,
// Z 4, IP 5; its IP$ at 0.
std::string local(const char *op, int v) { return std::string(op) + " I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
const std::string ip_text_ref = "loadsad I:0 I:1 I:20 I:0 I:0 I:0 I:0 I:0\n";

std::string text_list(int into, std::initializer_list<const char *> texts)
{
    std::string t = str("char") + call("ifcallr", in_ILIST_DECLARE, 1) + local("storrd", into);
    for (const char *e : texts) t += local("loadrvd", into) + str(e) + call("ifcallr", in_ILIST_ADD, 2) + local("storrd", 4);
    return t;
}

std::string zoom_form()
{
    enum { CM, W, Y, D, R, IP };
    std::string main = ".proc r:main I:0 I:0 I:6 I:20 I:0 I:0\nsrcline I:3 I:0\n" + str("a") +
                       call("ifcallr", in_IGWIN_NEW, 1) + local("storrd", W) + local("loadrvd", W) + str("Codes") +
                       call("ipcall", in_IGPRINT_TITLE, 2) + local("loadrad", CM) +
                       local("loadrvd", W) + call("ipcall", in_ICATTACH_WINDOW, 2) + local("loadrvd", W) +
                       call("ifcallr", in_IGVBOX_NEW, 1) + local("storrd", Y) + local("loadrad", CM) + num(1) + num(0) +
                       num(10) + num("0.5") + num(0) + str("s") + call("ifcallr", in_IGINPUT_NEW, 7) +
                       local("storrd", D) + local("loadrvd", Y) + local("loadrvd", D);
    for (int i = 0; i < 7; ++i) main += num(0);
    main += call("ipcall", in_IGHBOX_PACK, 9) + local("loadrvd", CM) + num(-1) + str("Code") + num(1) + num(0) +
            local("loadrvd", D) + num(0) + num(3) + num(1) + num(1) + num(0) + call("ifcallr", in_ICADD, 11) +
            local("storrd", R) + str("F2") + num(1) + local("loadrad", CM) + num(1) +
            call("ipcall", in_ICATTACH_FUN, 4) + str("Zoom_Post") + num(2) + local("loadrad", CM) + num(1) +
            local("loadrad", IP) + ip_text_ref + call("ipcall", in_ICATTACH_FUN, 6) + local("loadrvd", CM) + num(1) +
            call("ipcall", in_ICSET_FOCUS, 2) + log_line("form up") + call("ipcall", in_IGTK_MAIN, 0) + "exit\n";

    enum { CM2, LD, LR, LT, Z, IPZ };
    const std::string opener =
        ".nfunc r:opener I:0 I:0 I:6 I:20 I:0 I:2\n" + local("loadrad", CM2) + num(0) +
        call("ipcall", in_ICATTACH_WINDOW, 2) + str("Post_Focus") + num(3) + local("loadrad", CM2) + num(0) +
        local("loadrad", IPZ) + ip_text_ref + call("ipcall", in_ICATTACH_FUN, 6) +
        text_list(LD, {"ten", "twenty", "thirty"}) + text_list(LR, {"10", "20", "30"}) + text_list(LT, {"Name"}) +
        local("loadrad", CM2) + str("Pick one") + num(0) + num(40) + num(0) + local("loadrvd", LD) + num(1) +
        local("loadrvd", LR) + local("loadrvd", LT) + str("") + num(0) + num(0) +
        call("ifcallr", in_IGZOOM_SETUP, 12) + local("storrd", Z) + log_line("zoom up") + num(1) + "exitv\n";
    const std::string ip_param = "loadsvi I:3 I:0 I:1 I:0 I:0 I:0\n" + call("ifcalls", in_STRIP, 1);
    const std::string zoom_post = ".nfunc r:zoom_post I:0 I:0 I:0 I:0 I:0 I:4\n" + num(0) + str("zoom post ") +
                                  ip_param + "scat I:2\n" + call("ipcall", in_IMLOG, 2) + num(0) + "exitv\n";
    const std::string pick = ".nfunc r:pick I:0 I:0 I:0 I:0 I:0 I:4\n" + num(0) + str("picked ") + ip_param +
                             "scat I:2\n" + call("ipcall", in_IMLOG, 2) + num(1) + "exitv\n";
    const std::string four = " 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\n"
                             "IP$ 20 0 0x8014 0 4 -\n__END_ROUTINE__\n.end\n";
    return main + opener + zoom_post + pick +
           "symtab\n__ROUTINE__ main 7\nCM 0 0 0x12 0 1 -\nW 0 0 0x12 1 2 -\nY 0 0 0x12 2 3 -\nD 0 0 0x12 3 4 -\n"
           "R 0 0 0x12 4 5 -\nIP 0 0 0x12 5 6 -\nIP$ 20 0 0x14 0 7 -\n__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ opener 9\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nCM2 0 0 0x12 0 3 -\n"
           "LD 0 0 0x12 1 4 -\nLR 0 0 0x12 2 5 -\nLT 0 0 0x12 3 6 -\nZ 0 0 0x12 4 7 -\nIP 0 0 0x12 5 8 -\n"
           "IP$ 20 0 0x14 0 9 -\n__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ zoom_post" + four + "symtab\n__ROUTINE__ pick" + four;
}

// Whether the X server still has a window of that title, asked until it has none (5 s at most).
bool window_goes(const lumba_test::Xdotool &user, const std::string &title)
{
    const gint64 end = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
    while (g_get_monotonic_time() < end) {
        try {
            user.run({"search", "--name", title});
        } catch (const std::runtime_error &) {
            return true;  // xdotool search fails when no window matches
        }
        g_main_context_iteration(nullptr, FALSE);
    }
    return false;
}

} // namespace

// A user opens the zoom with the field's F2, types 2 (type-ahead to the answer 20) and takes the
// row with Return: the zoom closes and the form's Zoom_Post gets 20.
TEST(WidgetsRun, ZoomOpenedByAFunctionKeyHandsTheTypedChoiceToTheForm)
{
    lumba_test::Xvfb x;
    lumba_test::zasm(zoom_form(), "/usr/local/oska/apps/unit0/zoomer");
    const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/zoom.out";
    lumba_test::GuiChild run({LUMBA_RUN, "-v", "0", "zoomer", "0"}, x.gui_env(), out);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "form up")) << read_all(out);
    const lumba_test::Xdotool user(x.display());
    const std::string form = user.search("Codes");
    user.focus(form);
    user.key({"F2"});
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "zoom up")) << read_all(out);
    const std::string zoom = user.search("^Pick one$");
    user.focus(zoom);
    user.type("2");
    user.key({"Return"});
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "zoom post 20")) << read_all(out);
    EXPECT_NE(read_all(out).find("picked 20\n"), std::string::npos) << read_all(out);
    EXPECT_TRUE(window_goes(user, "^Pick one$"));
    EXPECT_EQ(run.wait(1000), -1) << "the form stays: " << read_all(out);
}

namespace {

// A menu whose main, before its main loop, EXECUTEs the program p2 (unit 0). p2 opens form A,
// which borrows the menu's window, and form B in a window of its own; it keeps A's CM in COMMON
// cell 0 and ends. B has one input field with a Post_Focus routine (b_post: logs "b post") and an
// Escape routine (b_escape) that counts its runs in COMMON cell 1: the first closes A with
// ICDELETE_WINDOW, logs "b escape 1" and answers 0 (B stays); a later one logs "b escape 2" and
// lets B close. The menu's Escape routine (menu_escape) logs "menu escape" and lets it close.
// Routines of mnu: 0 main, 1 menu_escape; of p2: 0 main, 1 b_post, 2 b_escape.
std::string executing_menu()
{
    const std::string main =
        ".proc r:main I:0 I:0 I:6 I:0 I:0 I:0\nsrcline I:3 I:0\n" +
        menu_setup({"1", "2", "1", "Sales", "A", "", "", "1.1", "1", "2", "Orders", "B", "07ord", "ord"}) +
        str("Escape") + num(1) + ref(B) + num(0) + call("ipcall", in_ICATTACH_FUN, 4) + str("p2") + num(0) +
        call("ifcallr", in_EXECUTE, 2) + store(X) + log_line("menu up") + call("ipcall", in_IGTK_MAIN, 0) +
        log_line("menu gone") + "exit\n";
    const std::string menu_escape = ".nfunc r:menu_escape I:0 I:0 I:0 I:0 I:0 I:2\n" + log_line("menu escape") +
                                    num(1) + "exitv\n";
    return main + menu_escape +
           "symtab\n__ROUTINE__ main 6\nW 0 0 0x12 0 1 -\nCM 0 0 0x12 1 2 -\nH 0 0 0x12 2 3 -\n"
           "G 0 0 0x12 3 4 -\nS 0 0 0x12 4 5 -\nX 0 0 0x12 5 6 -\n__END_ROUTINE__\n.end\n" +
           two_params("menu_escape");
}

std::string two_forms()
{
    enum { CMA, WA, CM, WB, Y, D };
    const std::string a =
        str("b") + call("ifcallr", in_IGWIN_NEW, 1) + store(WA) + load(WA) + str("Form A") +
        call("ipcall", in_IGPRINT_TITLE, 2) + ref(CMA) + load(WA) + call("ipcall", in_ICATTACH_WINDOW, 2) +
        load(WA) + call("ifcallr", in_IGVBOX_NEW, 1) + store(Y) + load(CMA) + lumba_test::to_cell(0) + num(0) +
        lumba_test::to_cell(1);
    const std::string b =
        str("b") + call("ifcallr", in_IGWIN_NEW, 1) + store(WB) + load(WB) + str("Form B") +
        call("ipcall", in_IGPRINT_TITLE, 2) + ref(CM) + load(WB) + call("ipcall", in_ICATTACH_WINDOW, 2) +
        load(WB) + call("ifcallr", in_IGVBOX_NEW, 1) + store(Y) + ref(CM) + num(1) + num(0) + num(10) +
        num("0.5") + num(0) + str("s") + call("ifcallr", in_IGINPUT_NEW, 7) + store(D) + load(Y) + load(D) +
        num(0) + num(0) + num(0) + num(0) + num(0) + num(0) + num(0) + call("ipcall", in_IGHBOX_PACK, 9) +
        load(CM) + num(-1) + str("Code") + num(1) + num(0) + load(D) + num(0) + num(3) + num(1) + num(1) +
        num(0) + call("ifcallr", in_ICADD, 11) + store(D) + str("Post_Focus") + num(1) + ref(CM) + num(0) +
        call("ipcall", in_ICATTACH_FUN, 4) + str("Escape") + num(2) + ref(CM) + num(0) +
        call("ipcall", in_ICATTACH_FUN, 4) + load(CM) + num(1) + call("ipcall", in_ICSET_FOCUS, 2);
    const std::string main = ".proc r:main I:0 I:0 I:6 I:0 I:0 I:0\n.common I:2 I:0\nsrcline I:3 I:0\n" + a + b +
                             log_line("p2 up") + "exit\n";
    const std::string b_post = ".nfunc r:b_post I:0 I:0 I:0 I:0 I:0 I:2\n" + log_line("b post") + num(1) + "exitv\n";
    const std::string b_escape =
        ".nfunc r:b_escape I:0 I:0 I:0 I:0 I:0 I:2\n" + lumba_test::from_cell(1) + num(1) + "add\n" +
        lumba_test::to_cell(1) + lumba_test::from_cell(1) + num(1) + "eq\njumpz l:again\n" +
        lumba_test::from_cell(0) + call("ipcall", in_ICDELETE_WINDOW, 1) + log_line("b escape 1") + num(0) +
        "exitv\nagain:\n" + log_line("b escape 2") + num(1) + "exitv\n";
    return main + b_post + b_escape +
           "symtab\n__ROUTINE__ main 6\nCMA 0 0 0x12 0 1 -\nWA 0 0 0x12 1 2 -\nCM 0 0 0x12 2 3 -\n"
           "WB 0 0 0x12 3 4 -\nY 0 0 0x12 4 5 -\nD 0 0 0x12 5 6 -\n__END_ROUTINE__\n.end\n" +
           two_params("b_post") + two_params("b_escape");
}

} // namespace

// A program run by the menu's main leaves a form of its own open after the menu took back its
// window: the program stays loaded while that form's routines may still run, and goes with the
// form's window. Escape in B closes A (the menu's window comes back), Return in B runs its
// Post_Focus, and the close button on B runs its Escape routine, which lets B close; only then is
// p2 unloaded.
TEST(WidgetsRun, AProgramStaysLoadedWhileAFormOfItsOwnOutlivesTheOneInTheMenuWindow)
{
    lumba_test::Xvfb x;
    lumba_test::zasm(executing_menu(), "/usr/local/oska/apps/unit0/mnu");
    lumba_test::zasm(two_forms(), "/usr/local/oska/apps/unit0/p2");
    const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/execute.out";
    lumba_test::GuiChild run({LUMBA_RUN, "-v", "0", "mnu", "0"}, x.gui_env(), out);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "menu up")) << read_all(out);
    const lumba_test::Xdotool user(x.display());
    const std::string menu = user.search("^Form A$");
    const std::string b = user.search("^Form B$");
    const std::string unloaded = "DELETING application p2__A";

    user.focus(b);
    user.key({"Escape"});
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "b escape 1")) << read_all(out);
    EXPECT_EQ(user.search("^\\*\\*\\* OSKA Application Manager \\*\\*\\*$"), menu);
    // What the user sees then: B, still up, over the menu's window.
    if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR")) {
        const std::string import = "import -display " + x.display() + " -window ";
        EXPECT_EQ(std::system((import + b + " " + dir + "/form_b_alone.png").c_str()), 0);
        EXPECT_EQ(std::system((import + "root " + dir + "/form_b_and_menu.png").c_str()), 0);
    }

    user.focus(b);
    user.key({"Return"});
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "b post")) << read_all(out);
    EXPECT_EQ(read_all(out).find(unloaded), std::string::npos) << "p2 went while B was open:\n" << read_all(out);

    user.close_window(b);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, unloaded)) << read_all(out);
    EXPECT_TRUE(window_goes(user, "^Form B$"));
    const std::string text = read_all(out);
    EXPECT_LT(text.find("b escape 2"), text.find(unloaded)) << text;

    // The menu goes on alone; its close button ends the run.
    user.close_window(menu);
    EXPECT_EQ(run.wait(), 0) << read_all(out);
    const std::string all = read_all(out);
    EXPECT_NE(all.find("menu gone"), std::string::npos) << all;
    EXPECT_EQ(all.find(unloaded), all.rfind(unloaded)) << "unloaded once:\n" << all;
}
