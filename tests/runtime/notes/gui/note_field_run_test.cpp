// The note field through the real lumba_run on a private X server: a program builds a form of a
// note field (with the Edit_Content and Escape routines the form's check demands) and an input
// field, a user (xdotool) types a line into the note and presses Enter, and the note's Post_Focus
// routine logs what IGNOTE_GET gives back; Escape then closes the form. Every routine logs its
// run.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gui_child.h"
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
// numerics A 0, T 1, M 2, P 3, R 4, O 5; texts N$ (10) at 0, X$ (600) at 10, S$ (40) at 610.
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
std::string text_param(int k)
{
    return "loadsvi I:" + std::to_string(k) + " I:0 I:1 I:0 I:0 I:0\n" + call("ifcalls", in_STRIP, 1);
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

std::string program()
{
    const std::string main =
        ".proc r:main I:0 I:0 I:6 I:40 I:0 I:0\nsrcline I:3 I:0\n" + str("a") + call("ifcallr", in_IGWIN_NEW, 1) +
        store(W) + load(W) + str("Note form") + call("ipcall", in_IGPRINT_TITLE, 2) + ref(CM) + load(W) +
        call("ipcall", in_ICATTACH_WINDOW, 2) + load(W) + call("ifcallr", in_IGVBOX_NEW, 1) + store(Y) +
        // IGNOTE_NEW (cm, 1, max 40, min 0, "NoteF", width 300, height 120, 500 x 400, placement 0, margin 2, Edit)
        ref(CM) + num(1) + num(40) + num(0) + str("NoteF") + num(300) + num(120) + num(500) + num(400) + num(0) +
        num(2) + num(2) + call("ifcallr", in_IGNOTE_NEW, 12) + store(D) + add(1, "Note", 8) +
        ref(CM) + num(2) + num(0) + num(10) + num("0.5") + num(0) + str("s") + call("ifcallr", in_IGINPUT_NEW, 7) +
        store(D) + add(2, "Town", 1) + attach("Edit_Content", 1, 1) + attach("Escape", 2, 1) +
        attach("Escape", 2, 0) + attach("Post_Focus", 3, 1) +
        attach("Pre_Focus", 4, 1) + attach("Pre_Focus", 4, 0) + load(W) + call("ipcall", in_IGSHOW, 1) + load(CM) +
        num(1) + call("ipcall", in_ICSET_FOCUS, 2) + log_line(str("form up"), 1) + call("ipcall", in_IGTK_MAIN, 0) +
        log_line(str("main loop done"), 1) + "exit\n";
    const std::string edit = ".nfunc r:edit I:0 I:0 I:0 I:0 I:0 I:4\n" + log_line(str("edit"), 1) + num(1) + "exitv\n";
    const std::string escape = ".nfunc r:escape I:0 I:0 I:0 I:0 I:0 I:4\n" + log_line(str("escape"), 1) + num(1) +
                               "exitv\n";
    const std::string pre = ".nfunc r:pre I:0 I:0 I:0 I:0 I:0 I:4\n" +
                            log_line(str("pre ") + number_text(param(1)), 2) + num(1) + "exitv\n";
    // post: IGNOTE_GET (cm, ind, N$, X$, S$, A, T, M, P, R, O) and its results logged.
    const std::string post =
        ".nfunc r:post I:0 I:0 I:6 I:650 I:0 I:4\n" + param(0) + param(1) + sref(0, 10) + sref(10, 600) +
        sref(610, 40) + ref(0) + ref(1) + ref(2) + ref(3) + ref(4) + ref(5) + call("ipcall", in_IGNOTE_GET, 11) +
        log_line(str("post [") + text_param(3) + str("] number [") + sload(0, 10) + str("] short [") + sload(610, 40) +
                     str("] approved ") + number_text(load(0)) + str(" total ") + number_text(load(1)) +
                     str(" modified ") + number_text(load(2)) + str(" paragraphs ") + number_text(load(3)) +
                     str(" reserved ") + number_text(load(4)) + str(" only ") + number_text(load(5)),
                 18) +
        log_line(str("xml ") + sload(10, 600), 2) + num(1) + "exitv\n";
    const std::string params =
        "CM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\nIP$ 40 0 0x8014 0 4 -\n";
    return main + edit + escape + post + pre +
           "symtab\n__ROUTINE__ main 7\nCM 0 0 0x12 0 1 -\nW 0 0 0x12 1 2 -\nY 0 0 0x12 2 3 -\n"
           "D 0 0 0x12 3 4 -\nR 0 0 0x12 4 5 -\nIP 0 0 0x12 5 6 -\nIP$ 40 0 0x14 0 7 -\n__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ edit 4\n" + params + "__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ escape 4\n" + params + "__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ post 13\n" + params +
           "A 0 0 0x12 0 5 -\nT 0 0 0x12 1 6 -\nM 0 0 0x12 2 7 -\nP 0 0 0x12 3 8 -\nR 0 0 0x12 4 9 -\n"
           "O 0 0 0x12 5 10 -\nN$ 10 0 0x14 0 11 -\nX$ 600 0 0x14 10 12 -\nS$ 40 0 0x14 610 13 -\n"
           "__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ pre 4\n" + params + "__END_ROUTINE__\n.end\n";
}

} // namespace

TEST(NoteRun, ALineTypedIntoTheNoteComesBackThroughIgnoteGet)
{
    lumba_test::Xvfb x;
    lumba_test::zasm(program(), "/usr/local/oska/apps/unit0/noter");
    const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/noter.out";
    lumba_test::GuiChild run({LUMBA_RUN, "-w", "0", "-v", "0", "noter", "0"}, x.gui_env(), out);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B form up")) << read_all(out);
    const lumba_test::Xdotool user(x.display());
    const std::string form = user.search("^Note form$");
    user.focus(form);
    user.type("The quick brown fox jumps over");  // 30 characters
    user.key({"Return"});
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B xml ")) << read_all(out);
    if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR"))
        std::system(("import -display " + x.display() + " -window root " + dir + "/note_typed.png").c_str());
    user.focus(form);
    user.key({"Escape"});
    EXPECT_EQ(run.wait(), 0) << read_all(out);
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
    lumba_test::Xvfb x;
    lumba_test::zasm(program(), "/usr/local/oska/apps/unit0/noter");
    const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/noter.out";
    lumba_test::GuiChild run({LUMBA_RUN, "-w", "0", "-v", "0", "noter", "0"}, x.gui_env(), out);
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
    if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR"))
        std::system(("import -display " + x.display() + " -window root " + dir + "/note_window_run.png").c_str());
    user.key({"F12"});
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B xml ")) << read_all(out);
    user.focus(form);
    user.key({"Escape"});
    EXPECT_EQ(run.wait(), 0) << read_all(out);
    const std::string saved =
        "xml <note ver=\"1\"><p datatype=\"P\" position=\"0\"><![CDATA[Caf\xC3\xA9 first line]]></p>"
        "<p datatype=\"P\" position=\"0\"><![CDATA[second]]></p></note>";
    const std::vector<std::string> lines = lumba_test::program_lines(read_all(out));
    EXPECT_NE(std::find(lines.begin(), lines.end(), saved), lines.end()) << read_all(out);
}
