// The drill window through the real lumba_run on a private X server: a program writes a report
// through a print handle of its form, opens it in a drill window whose Post routine it attached
// beforehand, and hands control to IGTK_MAIN; a user (xdotool) moves down a row and presses
// Return. The drill's Post gets the row's value, answers true, the drill closes and the form's
// Drill_Post gets the value; closing the form (its Escape routine) ends the main loop. The
// routines log what they are given. The program runs first, or is executed by another one.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "gui_child.h"
#include "intrinsics.h"
#include "log_wait.h"
#include "program_text.h"
#include "stall.h"
#include "xdotool.h"
#include "xvfb.h"
#include "zasm_run.h"

using lumba_test::call;
using lumba_test::num;
using lumba_test::str;

namespace {

using lumba_test::program_lines;
using lumba_test::read_all;

// main's numerics: CM 0, W 1, H 2, R 3, IP 4, CM2 5; its text IP$ (40) at 0.
enum { CM, W, H, R, IP, CM2 };
std::string load(int v) { return "loadrvd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string ref(int v) { return "loadrad I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string store(int v) { return "storrd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string log_line(const std::string &pieces, int n)
{
    return num(0) + pieces + "scat I:" + std::to_string(n) + "\n" + call("ipcall", in_IMLOG, 2);
}

// ICATTACH_FUN(code, routine, cm, 0, IP, IP$).
std::string attach(const char *code, int routine, int cm)
{
    return str(code) + num(routine) + ref(cm) + num(0) + ref(IP) + "loadsad I:0 I:1 I:40 I:0 I:0 I:0 I:0 I:0\n" +
           call("ipcall", in_ICATTACH_FUN, 6);
}

// A routine (cm, ind, IP, IP$) that logs "<name> [<IP$>]" and answers 1.
std::string routine(const char *name)
{
    const std::string ips = "loadsvi I:3 I:0 I:1 I:0 I:0 I:0\n" + call("ifcalls", in_STRIP, 1);
    return std::string(".nfunc r:") + name + " I:0 I:0 I:0 I:0 I:0 I:4\n" +
           log_line(str(std::string(name) + " [") + ips + str("]"), 3) + num(1) + "exitv\n";
}

std::string symbols(const char *name)
{
    return std::string("symtab\n__ROUTINE__ ") + name +
           " 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\nIP$ 40 0 0x8014 0 4 -\n"
           "__END_ROUTINE__\n.end\n";
}

std::string write(const char *text, const char *format, const char *value)
{
    return load(H) + str(text) + str(format) + str(value) + ref(R) + call("ipcall", in_IPSWRITE, 5);
}

std::string program()
{
    std::string main = ".proc r:main I:0 I:0 I:6 I:40 I:0 I:0\nsrcline I:3 I:0\n" + str("a") +
                       call("ifcallr", in_IGWIN_NEW, 1) + store(W) + load(W) + str("Parent form") +
                       call("ipcall", in_IGPRINT_TITLE, 2) + ref(CM) + load(W) + call("ipcall", in_ICATTACH_WINDOW, 2) +
                       attach("Drill_Post", 2, CM) + attach("Escape", 3, CM) + load(CM) + ref(H) + call("ipcall", in_IPSCREATE, 2) +
                       str("/usr/local/oska/temp/drill") + str("A4") + str("") + str("mtag_base") + str("C") + str("N") +
                       load(H) + ref(R) + call("ipcall", in_IPSOPEN, 8);
    main += write("Bolts     12.50", "1,5,2.0,,mtag_base", "B1") + write("Nuts      7.25", "1,4,2.0,,mtag_base", "N1") +
            write("Washers   1.00", "1,7,2.0,,mtag_base", "W1");
    main += load(H) + ref(R) + call("ipcall", in_IPSCLOSE, 2) + ref(CM2) + num(0) +
            call("ipcall", in_ICATTACH_WINDOW, 2) + attach("Post_Focus", 1, CM2) + load(H) + load(CM2) +
            str("Stock drill") + str("") + str("B1") + str("FKZ") + str("") + num(0) + num(0) +
            call("ipcall", in_IGDRILL_SETUP, 9) + log_line(str("drill up"), 1) + call("ipcall", in_IGTK_MAIN, 0) +
            log_line(str("main loop done"), 1) + "exit\n";
    return main + routine("post") + routine("drillpost") + routine("escape") +
           "symtab\n__ROUTINE__ main 7\nCM 0 0 0x12 0 1 -\nW 0 0 0x12 1 2 -\nH 0 0 0x12 2 3 -\n"
           "R 0 0 0x12 3 4 -\nIP 0 0 0x12 4 5 -\nCM2 0 0 0x12 5 6 -\nIP$ 40 0 0x14 0 7 -\n__END_ROUTINE__\n.end\n" +
           symbols("post") + symbols("drillpost") + symbols("escape");
}

// A program that executes the drill program and logs its result once it has ended.
std::string outer()
{
    return ".proc r:main I:0 I:0 I:1 I:0 I:0 I:0\nsrcline I:3 I:0\n" + str("drill") + num(0) +
           call("ifcallr", in_EXECUTE, 2) + store(0) +
           log_line(str("drill ended ") + load(0) + call("ifcalls", in_STR, 1), 2) + "exit\n";
}

} // namespace

// Run by another program, the drill program is not the first of the run: the drill's window,
// which its main made, closing must not unload it while its main still runs (its form and its
// Escape routine are still to come), and it goes on to its end.
TEST(DrillRun, ReturnOnARowRunsTheDrillsPostAndTheParentsDrillPost)
{
    lumba_test::Xvfb x;
    std::ofstream("/usr/local/oska/conf/tags", std::ios::trunc)
        << "mtag_base { print-family: Helvetica; print-size: 10pt; screen-size: 10pt; }\n";
    lumba_test::zasm(program(), "/usr/local/oska/apps/unit0/drill");
    lumba_test::zasm(outer(), "/usr/local/oska/apps/unit0/outer");
    const std::vector<std::string> drill_lines = {"drill up", "post [N1]", "drillpost [N1]", "escape []",
                                                  "main loop done"};
    struct Case {
        const char *what;
        const char *program;
        std::vector<std::string> after;  // what the run logs after the drill program's lines
    } cases[] = {
        {"the drill program runs first", "drill", {}},
        {"another program executes it", "outer", {"drill ended 0"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/" + c.program + ".out";
        lumba_test::GuiChild run({LUMBA_RUN, "-v", "0", c.program, "0"}, x.gui_env(), out);
        ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B drill up")) << read_all(out);
        const lumba_test::Xdotool user(x.display());
        const std::string drill = user.search("^Stock drill$");
        user.focus(drill);
        // The window has settled: its first row has the keyboard focus.
        ASSERT_TRUE(lumba_test::wait_blocked(run.pid())) << read_all(out);
        user.key({"Down", "Return"});
        ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B drillpost [N1]")) << read_all(out);
        // Closing the form (its Escape road) closes the last window: the main loop ends.
        user.close_window(user.search("^Parent form$"));
        EXPECT_EQ(run.wait(), 0) << read_all(out);
        std::vector<std::string> expected = drill_lines;
        expected.insert(expected.end(), c.after.begin(), c.after.end());
        EXPECT_EQ(program_lines(read_all(out)), expected) << read_all(out);
    }
}

// Keys typed faster than the run takes them: Return acts on the row Down chose, though the list's
// keyboard focus follows the chosen row only later. The run is held stopped while both keys are
// typed, so that it meets them together.
TEST(DrillRun, ReturnTypedAheadActsOnTheRowTheKeysChose)
{
    lumba_test::Xvfb x;
    std::ofstream("/usr/local/oska/conf/tags", std::ios::trunc)
        << "mtag_base { print-family: Helvetica; print-size: 10pt; screen-size: 10pt; }\n";
    lumba_test::zasm(program(), "/usr/local/oska/apps/unit0/drill");
    const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/drill.out";
    lumba_test::GuiChild run({LUMBA_RUN, "-v", "0", "drill", "0"}, x.gui_env(), out);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B drill up")) << read_all(out);
    const lumba_test::Xdotool user(x.display());
    user.focus(user.search("^Stock drill$"));
    ASSERT_TRUE(lumba_test::wait_blocked(run.pid())) << read_all(out);
    {
        const lumba_test::Stopped held(run.pid());
        user.key({"Down", "Return"});
    }
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B drillpost [N1]")) << read_all(out);
    user.close_window(user.search("^Parent form$"));
    EXPECT_EQ(run.wait(), 0) << read_all(out);
    EXPECT_EQ(program_lines(read_all(out)),
              (std::vector<std::string>{"drill up", "post [N1]", "drillpost [N1]", "escape []", "main loop done"}))
        << read_all(out);
}
