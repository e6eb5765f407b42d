#include "note_run_program.h"

#include <algorithm>
#include <cstdlib>

#include <gtest/gtest.h>

#include "intrinsics.h"
#include "log_wait.h"
#include "program_text.h"
#include "zasm_run.h"

// Last: its macros (None, Bool, Status) would break the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using lumba_test::call;
using lumba_test::num;
using lumba_test::str;

namespace note_run {

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

std::string attach(const char *code, int routine, int index)
{
    return str(code) + num(routine) + ref(CM) + num(index) + ref(IP) + sref(0, 40) + call("ipcall", in_ICATTACH_FUN, 6);
}

std::string add(int index, const char *name, int type)
{
    return load(Y) + load(D) + num(0) + num(0) + num(0) + num(0) + num(0) + num(0) + num(0) +
           call("ipcall", in_IGHBOX_PACK, 9) + load(CM) + num(-1) + str(name) + num(index) + num(0) + load(D) + num(0) +
           num(3) + num(1) + num(type) + num(0) + call("ifcallr", in_ICADD, 11) + store(R);
}

std::string form_fields(const std::string &title, int mode)
{
    return ".proc r:main I:0 I:0 I:6 I:40 I:0 I:0\nsrcline I:3 I:0\n" + str("a") + call("ifcallr", in_IGWIN_NEW, 1) +
           store(W) + load(W) + str(title) + call("ipcall", in_IGPRINT_TITLE, 2) + ref(CM) + load(W) +
           call("ipcall", in_ICATTACH_WINDOW, 2) + load(W) + call("ifcallr", in_IGVBOX_NEW, 1) + store(Y) + ref(CM) +
           num(1) + num(40) + num(0) + str("NoteF") + num(300) + num(120) + num(500) + num(400) + num(0) + num(2) +
           num(mode) + call("ifcallr", in_IGNOTE_NEW, 12) + store(D) + add(1, "Note", 8) + ref(CM) + num(2) + num(0) +
           num(10) + num("0.5") + num(0) + str("s") + call("ifcallr", in_IGINPUT_NEW, 7) + store(D) + add(2, "Town", 1);
}

std::string form_run()
{
    return load(W) + call("ipcall", in_IGSHOW, 1) + load(CM) + num(1) + call("ipcall", in_ICSET_FOCUS, 2) +
           log_line(str("form up"), 1) + call("ipcall", in_IGTK_MAIN, 0) + log_line(str("main loop done"), 1) +
           "exit\n";
}

std::string routine(const char *name, int numerics, int texts)
{
    return std::string(".nfunc r:") + name + " I:0 I:0 I:" + std::to_string(numerics) + " I:" + std::to_string(texts) +
           " I:0 I:4\n";
}

std::string answer_true() { return num(1) + "exitv\n"; }

std::string note_get()
{
    return lumba_test::param(0) + lumba_test::param(1) + sref(0, 10) + sref(10, 600) + sref(610, 40) + ref(0) +
           ref(1) + ref(2) + ref(3) + ref(4) + ref(5) + call("ipcall", in_IGNOTE_GET, 11);
}

const char *const POST_LOCALS =
    "A 0 0 0x12 0 5 -\nT 0 0 0x12 1 6 -\nM 0 0 0x12 2 7 -\nP 0 0 0x12 3 8 -\nR 0 0 0x12 4 9 -\n"
    "O 0 0 0x12 5 10 -\nN$ 10 0 0x14 0 11 -\nX$ 600 0 0x14 10 12 -\nS$ 40 0 0x14 610 13 -\n";

std::string main_symbols()
{
    return "symtab\n__ROUTINE__ main 7\nCM 0 0 0x12 0 1 -\nW 0 0 0x12 1 2 -\nY 0 0 0x12 2 3 -\n"
           "D 0 0 0x12 3 4 -\nR 0 0 0x12 4 5 -\nIP 0 0 0x12 5 6 -\nIP$ 40 0 0x14 0 7 -\n__END_ROUTINE__\n.end\n";
}

std::string routine_symbols(const char *name, const std::string &locals)
{
    const auto rows = 4 + std::count(locals.begin(), locals.end(), '\n');
    return std::string("symtab\n__ROUTINE__ ") + name + " " + std::to_string(rows) +
           "\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\nIP$ 40 0 0x8014 0 4 -\n" + locals +
           "__END_ROUTINE__\n.end\n";
}

namespace {

// Assembles the program as unit0's application name; its log's path.
std::string assembled(const std::string &program, const std::string &name)
{
    lumba_test::zasm(program, "/usr/local/oska/apps/unit0/" + name);
    return std::string(std::getenv("LUMBA_SITE")) + "/" + name + ".out";
}

} // namespace

ProgramRun::ProgramRun(const std::string &program, const std::string &name)
    : out(assembled(program, name)), run({LUMBA_RUN, "-w", "0", "-v", "0", name, "0"}, x.gui_env(), out)
{
}

std::string print_note(const char *note, int mode)
{
    std::string print = load(CM) + num(1) + str("N1") + str(note) + str("TY") + str("Desc") + num(mode);
    for (int i = 0; i < 8; ++i) print += num(0);
    return print + str("R") + num(0) + call("ipcall", in_IGNOTE_PRINT, 17);
}

std::string form_up(const ProgramRun &run, const lumba_test::Xdotool &user, const std::string &title)
{
    EXPECT_TRUE(lumba_test::wait_for_log_line(run.out, "B form up")) << lumba_test::read_all(run.out);
    const std::string form = user.search(title);
    user.focus(form);
    return form;
}

void save_and_leave(ProgramRun &run, const lumba_test::Xdotool &user, const std::string &window,
                    const std::string &form)
{
    EXPECT_EQ(save_and_leave(run, user, EditWindow{form, window}), 0) << lumba_test::read_all(run.out);
}

EditWindow press_f9(const ProgramRun &run, const lumba_test::Xdotool &user, const std::string &form_title,
                    const std::string &window_title)
{
    if (!lumba_test::wait_for_log_line(run.out, "B form up")) {
        ADD_FAILURE() << lumba_test::read_all(run.out);
        return {};
    }
    EditWindow w;
    w.form = user.search("^" + form_title + "$");
    user.focus(w.form);
    user.key({"F9"});
    w.window = user.search("^" + window_title + "$");
    if (w.form.empty() || w.window.empty()) ADD_FAILURE() << "no window " << form_title << " or " << window_title;
    return w;
}

int save_and_leave(ProgramRun &run, const lumba_test::Xdotool &user, const EditWindow &w)
{
    user.focus(w.window);
    user.key({"F12"});
    if (!lumba_test::wait_for_log_line(run.out, "B xml ")) {
        ADD_FAILURE() << lumba_test::read_all(run.out);
        return -1;
    }
    user.focus(w.form);
    user.key({"Escape"});
    return run.run.wait();
}

long colour_at(const std::string &display, const std::string &window, int x, int y)
{
    Display *d = XOpenDisplay(display.c_str());
    if (!d) return -1;
    XImage *image = XGetImage(d, std::stoul(window), x, y, 1, 1, AllPlanes, ZPixmap);
    const long colour = image ? static_cast<long>(XGetPixel(image, 0, 0) & 0xffffff) : -1;
    if (image) XDestroyImage(image);
    XCloseDisplay(d);
    return colour;
}

bool white_at(const std::string &display, const std::string &window, int x, int y)
{
    return colour_at(display, window, x, y) == 0xffffff;
}

void screenshot(const std::string &display, const std::string &name)
{
    if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR"))
        std::system(("import -display " + display + " -window root " + dir + "/" + name).c_str());
}

} // namespace note_run
