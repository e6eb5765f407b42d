// A block tag set through the real lumba_run on a private X server: a program builds a form of a
// note field in Template mode whose Get_Note_Block_Tag routine opens a small window over the note
// edit window and calls IGNOTE_PRINT_BLOCK_TAG with that window's matrix. A user (xdotool) opens
// the edit window with F9, drags from the first paragraph into the second, clicks the tag button
// and saves with F12; the note's Post_Focus routine logs the saved note.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gui_child.h"
#include "gui_env.h"
#include "intrinsics.h"
#include "log_wait.h"
#include "program_text.h"
#include "xdotool.h"
#include "xvfb.h"
#include "zasm_run.h"

using lumba_test::call;
using lumba_test::num;
using lumba_test::param;
using lumba_test::read_all;
using lumba_test::str;

namespace {

// main's numerics: CM 0, W 1, Y 2, D 3, R 4, IP 5; its text IP$ (40) at 0. The routines' locals:
// numerics 0 to 5; texts N$ (10) at 0, X$ (600) at 10, S$ (40) at 610.
enum { CM, W, Y, D, R, IP };
std::string load(int v) { return "loadrvd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string ref(int v) { return "loadrad I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string store(int v) { return "storrd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string sref(int at, int size)
{
    return "loadsad I:" + std::to_string(at) + " I:1 I:" + std::to_string(size) + " I:0 I:0 I:0 I:0 I:0\n";
}
std::string sload(int at, int size)
{
    return "loadsvd I:" + std::to_string(at) + " I:1 I:" + std::to_string(size) + " I:0 I:0 I:0 I:0 I:0\n";
}
std::string number_text(const std::string &push) { return push + call("ifcalls", in_STR, 1); }
std::string log_line(const std::string &pieces, int n)
{
    return num(0) + pieces + "scat I:" + std::to_string(n) + "\n" + call("ipcall", in_IMLOG, 2);
}
// ICATTACH_FUN(code, routine, CM, index, IP, IP$).
std::string attach(const char *code, int routine, int index)
{
    return str(code) + num(routine) + ref(CM) + num(index) + ref(IP) + sref(0, 40) + call("ipcall", in_ICATTACH_FUN, 6);
}
// Packs D into the box and adds it as field index of Widget Type type.
std::string add(int index, const char *name, int type)
{
    return load(Y) + load(D) + num(0) + num(0) + num(0) + num(0) + num(0) + num(0) + num(0) +
           call("ipcall", in_IGHBOX_PACK, 9) + load(CM) + num(-1) + str(name) + num(index) + num(0) + load(D) + num(0) +
           num(3) + num(1) + num(type) + num(0) + call("ifcallr", in_ICADD, 11) + store(R);
}

const char *const note =
    "<note ver=\\\"1\\\"><p datatype=\\\"P\\\" position=\\\"0\\\"><![CDATA[First paragraph]]></p>"
    "<p datatype=\\\"P\\\" position=\\\"0\\\"><![CDATA[Second paragraph]]></p></note>";

std::string program()
{
    // IGNOTE_PRINT (CM, 1, "N1", note, "TY", "Desc", Template, eight flags 0, "R", 0)
    std::string print = load(CM) + num(1) + str("N1") + str(note) + str("TY") + str("Desc") + num(3);
    for (int i = 0; i < 8; ++i) print += num(0);
    print += str("R") + num(0) + call("ipcall", in_IGNOTE_PRINT, 17);
    const std::string main =
        ".proc r:main I:0 I:0 I:6 I:40 I:0 I:0\nsrcline I:3 I:0\n" + str("a") + call("ifcallr", in_IGWIN_NEW, 1) +
        store(W) + load(W) + str("Tag form") + call("ipcall", in_IGPRINT_TITLE, 2) + ref(CM) + load(W) +
        call("ipcall", in_ICATTACH_WINDOW, 2) + load(W) + call("ifcallr", in_IGVBOX_NEW, 1) + store(Y) +
        // IGNOTE_NEW (cm, 1, max 40, min 0, "NoteF", width 300, height 120, 500 x 400, placement 0, margin 2, Template)
        ref(CM) + num(1) + num(40) + num(0) + str("NoteF") + num(300) + num(120) + num(500) + num(400) + num(0) +
        num(2) + num(3) + call("ifcallr", in_IGNOTE_NEW, 12) + store(D) + add(1, "Note", 8) +
        ref(CM) + num(2) + num(0) + num(10) + num("0.5") + num(0) + str("s") + call("ifcallr", in_IGINPUT_NEW, 7) +
        store(D) + add(2, "Town", 1) + attach("Edit_Content", 1, 1) + attach("Escape", 2, 1) +
        attach("Escape", 2, 0) + attach("Post_Focus", 3, 1) + attach("Get_Note_Block_Tag", 4, 0) +
        attach("Pre_Focus", 5, 1) + attach("Pre_Focus", 5, 0) + print +
        load(W) + call("ipcall", in_IGSHOW, 1) + load(CM) + num(1) + call("ipcall", in_ICSET_FOCUS, 2) +
        log_line(str("form up"), 1) + call("ipcall", in_IGTK_MAIN, 0) + log_line(str("main loop done"), 1) + "exit\n";
    const std::string edit = ".nfunc r:edit I:0 I:0 I:0 I:0 I:0 I:4\n" + num(1) + "exitv\n";
    const std::string pre = ".nfunc r:pre I:0 I:0 I:0 I:0 I:0 I:4\n" + num(1) + "exitv\n";
    const std::string escape = ".nfunc r:escape I:0 I:0 I:0 I:0 I:0 I:4\n" + log_line(str("escape"), 1) + num(1) +
                               "exitv\n";
    // post: IGNOTE_GET (cm, ind, N$, X$, S$, A, T, M, P, R, O) and the note logged.
    const std::string post =
        ".nfunc r:post I:0 I:0 I:6 I:650 I:0 I:4\n" + param(0) + param(1) + sref(0, 10) + sref(10, 600) +
        sref(610, 40) + ref(0) + ref(1) + ref(2) + ref(3) + ref(4) + ref(5) + call("ipcall", in_IGNOTE_GET, 11) +
        log_line(str("modified ") + number_text(load(2)), 2) + log_line(str("xml ") + sload(10, 600), 2) + num(1) +
        "exitv\n";
    // tagger: a small window over the edit window (W 0, its matrix C 1), the block set with its
    // matrix (result 2), the window closed again at the end of the event.
    const std::string tagger =
        ".nfunc r:tagger I:0 I:0 I:3 I:0 I:0 I:4\n" + str("a") + call("ifcallr", in_IGWIN_NEW, 1) + store(0) + ref(1) +
        load(0) + call("ipcall", in_ICATTACH_WINDOW, 2) + load(1) + str("T1") + str("Start") + str("End") +
        call("ifcallr", in_IGNOTE_PRINT_BLOCK_TAG, 4) + store(2) + log_line(str("tagged ") + number_text(load(2)), 2) +
        load(1) + call("ipcall", in_ICDELETE_WINDOW, 1) + num(1) + "exitv\n";
    const std::string params =
        "CM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\nIP$ 40 0 0x8014 0 4 -\n";
    return main + edit + escape + post + tagger + pre +
           "symtab\n__ROUTINE__ main 7\nCM 0 0 0x12 0 1 -\nW 0 0 0x12 1 2 -\nY 0 0 0x12 2 3 -\n"
           "D 0 0 0x12 3 4 -\nR 0 0 0x12 4 5 -\nIP 0 0 0x12 5 6 -\nIP$ 40 0 0x14 0 7 -\n__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ edit 4\n" + params + "__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ escape 4\n" + params + "__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ post 13\n" + params +
           "A 0 0 0x12 0 5 -\nT 0 0 0x12 1 6 -\nM 0 0 0x12 2 7 -\nP 0 0 0x12 3 8 -\nR 0 0 0x12 4 9 -\n"
           "O 0 0 0x12 5 10 -\nN$ 10 0 0x14 0 11 -\nX$ 600 0 0x14 10 12 -\nS$ 40 0 0x14 610 13 -\n"
           "__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ tagger 7\n" + params +
           "W 0 0 0x12 0 5 -\nC 0 0 0x12 1 6 -\nT 0 0 0x12 2 7 -\n__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ pre 4\n" + params + "__END_ROUTINE__\n.end\n";
}

// The tag button's place in the edit window: the sixth button of the tool bar, which fills the
// second and third of the window's twenty rows.
constexpr int TAG_BUTTON_X = 233, TAG_BUTTON_Y = 45;
// The two paragraph views, one line each, under the heading: the first from y 140 to 159, a spacer
// line, the second from 174 to 193. The drag goes from the middle of the one to the middle of the
// other, right of their text and left of the scroll bar.
constexpr int DRAG_X = 400, FIRST_PARAGRAPH_Y = 150, SECOND_PARAGRAPH_Y = 184;

// Whether the window shows white at (x, y): the inside of a paragraph view under the site's sheet.
bool white_at(const std::string &display, const std::string &window, int x, int y)
{
    Display *d = XOpenDisplay(display.c_str());
    if (!d) return false;
    XImage *image = XGetImage(d, std::stoul(window), x, y, 1, 1, AllPlanes, ZPixmap);
    const bool white = image && (XGetPixel(image, 0, 0) & 0xffffff) == 0xffffff;
    if (image) XDestroyImage(image);
    XCloseDisplay(d);
    return white;
}

} // namespace

TEST(NoteRun, TheTagButtonRunsTheProgramsBlockTagRoutine)
{
    lumba_test::Xvfb x;
    lumba_test::zasm(program(), "/usr/local/oska/apps/unit0/tagger");
    const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/tagger.out";
    lumba_test::GuiChild run({LUMBA_RUN, "-w", "0", "-v", "0", "tagger", "0"}, x.gui_env(), out);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B form up")) << read_all(out);
    const lumba_test::Xdotool user(x.display());
    const std::string form = user.search("^Tag form$");
    user.focus(form);
    user.key({"F9"});
    const std::string window = user.search("^N1$");
    user.focus(window);
    ASSERT_TRUE(lumba_test::wait_until([&] {
        return white_at(x.display(), window, DRAG_X, FIRST_PARAGRAPH_Y) &&
               white_at(x.display(), window, DRAG_X, SECOND_PARAGRAPH_Y);
    })) << "the paragraph views laid out where the drag goes";
    // The drag: the button goes down on the first paragraph and comes up on the second. The X
    // server hands the press, the moves and the release to the program in that order, so the
    // click on the tag button that follows finds the block selected.
    const auto at = [&](int y) { return std::vector<std::string>{"mousemove", "--sync", "--window", window,
                                                                  std::to_string(DRAG_X), std::to_string(y)}; };
    std::vector<std::string> press = at(FIRST_PARAGRAPH_Y), release = at(SECOND_PARAGRAPH_Y);
    press.insert(press.end(), {"mousedown", "1"});
    release.insert(release.end(), {"mouseup", "1"});
    user.run(press);
    user.run(release);
    user.click(window, TAG_BUTTON_X, TAG_BUTTON_Y);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B tagged ")) << read_all(out);
    if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR"))
        std::system(("import -display " + x.display() + " -window root " + dir + "/note_tag_run.png").c_str());
    user.focus(window);
    user.key({"F12"});
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B xml ")) << read_all(out);
    user.focus(form);
    user.key({"Escape"});
    EXPECT_EQ(run.wait(), 0) << read_all(out);
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
