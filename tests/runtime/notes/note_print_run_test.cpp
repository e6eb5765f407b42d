// A report of a note of ten megabytes printed by a batch program in the real lumba_run: SIGTERM
// while the note is converted into print lines and laid out ends the run promptly and quietly.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>

#include "gui_child.h"
#include "intrinsics.h"
#include "log_wait.h"
#include "program_text.h"
#include "stall.h"
#include "zasm_run.h"

namespace {

using lumba_test::call;
using lumba_test::num;
using lumba_test::read_all;
using lumba_test::str;

std::string site() { return std::getenv("LUMBA_SITE"); }

// main's numerics: the control matrix CM 0, the handle H 1, the result R 2 and IP 3.
enum Numeric { CM, H, R, IP };
std::string ref(Numeric v) { return "loadrad I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string val(Numeric v) { return "loadrvd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }

// The note the Get_Note routine gives: plain text of NOTE_BYTES, one paragraph of words.
constexpr int NOTE_BYTES = 10 << 20;
const std::string note_load = "loadsvd I:0 I:1 I:" + std::to_string(NOTE_BYTES) + " I:0 I:0 I:0 I:0 I:0\n";
const std::string note_store = "storsd I:0 I:1 I:" + std::to_string(NOTE_BYTES) + " I:0 I:0 I:0 I:0 I:0\n";

// getnote doubles "lorem ipsum " in its local N$ until the variable's width cuts it, and logs
// "converting" as its last act before it returns the note: the program meets no safe point of its
// own after that line, so a signal sent once it is seen finds the run-time converting the note.
std::string get_note()
{
    std::string code = ".sfunc r:getnote I:0 I:0 I:0 I:" + std::to_string(NOTE_BYTES) + " I:0 I:4\n" +
                       str("lorem ipsum ") + note_store;
    for (int i = 0; i < 20; ++i) code += note_load + note_load + "scat I:2\n" + note_store;
    return code + note_load + num(0) + str("converting") + call("ipcall", in_IMLOG, 2) + "exitv\n";
}

// main: a control matrix without a window with getnote as its Get_Note routine, a report of one
// line holding the note's key, the report replayed, then a long sleep.
std::string program()
{
    const std::string report =
        ref(CM) + num("0") + call("ipcall", in_ICATTACH_WINDOW, 2) + str("Get_Note") + num(1L) + ref(CM) + num(0L) +
        ref(IP) + "loadsad I:0 I:1 I:40 I:0 I:0 I:0 I:0 I:0\n" + call("ipcall", in_ICATTACH_FUN, 6) + val(CM) + ref(H) +
        call("ipcall", in_IPSCREATE, 2) + str("/usr/local/oska/temp/big.ps") + str("A4") + str("") + str("") +
        str("C") + str("N") + val(H) + ref(R) + call("ipcall", in_IPSOPEN, 8) + val(H) + str("See N1") +
        str("1,4,2;5,,6,,mtag_note") + str("") + ref(R) + call("ipcall", in_IPSWRITE, 5) + val(H) + ref(R) +
        call("ipcall", in_IPSCLOSE, 2) + val(H) + ref(R) +
        call("ipcall", in_IPSPRINT, 2) + num(lumba_test::STALL_S) + call("ipcall", in_SLEEP, 1);
    return ".proc r:main I:0 I:0 I:4 I:40 I:0 I:0\nsrcline I:3 I:0\n" + report + "exit\n" + get_note() +
           "symtab\n__ROUTINE__ main 5\nCM 0 0 0x12 0 1 -\nH 0 0 0x12 1 2 -\nR 0 0 0x12 2 3 -\nIP 0 0 0x12 3 4 -\n"
           "IP$ 40 0 0x14 0 5 -\n__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ getnote 5\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\n"
           "IP$ 40 0 0x8014 0 4 -\nN$ " +
           std::to_string(NOTE_BYTES) + " 0 0x14 0 5 -\n__END_ROUTINE__\n.end\n";
}

} // namespace

// The conversion and the layout of hundreds of thousands of print lines reach the signal safe
// point; what follows them (a sleep of STALL_S) is woken by the signal too, so the run ends within
// PROMPT_MS whichever it is in, and only a loop that never looks at the signal outlasts the bound.
TEST(NotePrintRun, TermEndsTheReportOfATenMegabyteNote)
{
    std::ofstream(site() + "/oska/conf/tags") << "mtag_note { note-type: extended; }\n";
    lumba_test::zasm(program(), "/usr/local/oska/apps/unit0/bignote");
    const std::string out = site() + "/bignote.out";
    lumba_test::GuiChild run({LUMBA_RUN, "-b", "-v", "0", "bignote", "0"}, {}, out);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "converting")) << read_all(out);
    const auto signalled = std::chrono::steady_clock::now();
    kill(run.pid(), SIGTERM);
    const int status = run.wait();
    const double seconds = lumba_test::seconds_since(signalled);
    const std::string output = read_all(out);
    EXPECT_EQ(status, 1) << output;
    EXPECT_LT(seconds, lumba_test::scaled_ms(lumba_test::PROMPT_MS) / 1000.0) << output;
    EXPECT_EQ(output.find("E R R O R"), std::string::npos) << output;
}
