// Keys through the real lumba_run on a private X server: a program opens a form of three input
// fields in change mode and hands control to IGTK_MAIN; a user (xdotool) types, goes forward with
// Tab and Enter, back with shift+Tab and F8, and leaves with Escape, answering the discard question
// with keys; the routines log what they are given, in order, and the run ends with status 0 when
// the form's window (the last) has closed.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
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
using lumba_test::str;

namespace {

// main's numerics: CM 0, W 1, Y 2, D 3, R 4, IP 5; its text IP$ (40) at 0.
enum { CM, W, Y, D, R, IP };
std::string load(int v) { return "loadrvd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string ref(int v) { return "loadrad I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string store(int v) { return "storrd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
// A routine's parameter k by value; a text parameter without trailing blanks.
std::string param(int k) { return "loadrvi I:" + std::to_string(k) + " I:0 I:1 I:0 I:0 I:0\n"; }
std::string text_param(int k)
{
    return "loadsvi I:" + std::to_string(k) + " I:0 I:1 I:0 I:0 I:0\n" + call("ifcalls", in_STRIP, 1);
}
std::string number_text(const std::string &push) { return push + call("ifcalls", in_STR, 1); }
std::string log_line(const std::string &pieces, int n)
{
    return num(0) + pieces + "scat I:" + std::to_string(n) + "\n" + call("ipcall", in_IMLOG, 2);
}

// An input field named name, packed into the box and added with its prompt and Tab Sequence Type.
std::string field(int index, const char *name, int tab)
{
    return ref(CM) + num(index) + num(0) + num(10) + num("0.5") + num(0) + str("s") +
           call("ifcallr", in_IGINPUT_NEW, 7) + store(D) + load(Y) + load(D) + num(0) + num(0) + num(0) + num(0) +
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

std::string read_all(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The program's own log lines ("B " and the text), in order.
std::vector<std::string> program_lines(const std::string &out)
{
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (const std::size_t at = line.find("B "); at != std::string::npos && (at == 0 || line[at - 1] == ' '))
            lines.push_back(line.substr(at + 2));
    return lines;
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

