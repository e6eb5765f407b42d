// The forms engine in the real lumba_run: a program builds a form's control matrix, dumps it to
// the run-time log and ends on a bad ICADD, under a private X server (the fatal report's message
// box answered with xdotool) and in background mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "intrinsics.h"
#include "program_text.h"
#include "site.h"
#include "test_time.h"
#include "xvfb.h"

using lumba_test::Site;
using lumba_test::Xvfb;

namespace {

using lumba_test::call;
using lumba_test::num;
using lumba_test::str;

// main's numerics: CM 0, IP 1, X 2; its text IP$ (20) at 0. post (cm, index, IP, IP$) is routine 1.
const std::string cm_ref = "loadrad I:0 I:1 I:0 I:0 I:0\n";
const std::string cm_val = "loadrvd I:0 I:1 I:0 I:0 I:0\n";

std::string add(const std::string &name, int prompt, int tab, int type)
{
    return cm_val + num("-1") + str(name) + num(std::to_string(prompt)) + num("0") + num("0") + num("0") +
           num(std::to_string(tab)) + num("1") + num(std::to_string(type)) + num("0") + call("ifcallr", in_ICADD, 11) +
           "storrd I:2 I:1 I:0 I:0 I:0\n";
}

std::string attach(const std::string &code, int index)
{
    return str(code) + num("1") + cm_ref + num(std::to_string(index)) + "loadrad I:1 I:1 I:0 I:0 I:0\n" +
           "loadsad I:0 I:1 I:20 I:0 I:0 I:0 I:0 I:0\n" + call("ipcall", in_ICATTACH_FUN, 6);
}

std::string program(const std::string &body)
{
    return ".proc r:main I:0 I:0 I:3 I:20 I:0 I:0\nsrcline I:3 I:0\n" + body + "exit\n" +
           ".proc r:post I:0 I:0 I:0 I:0 I:0 I:4\nexit\n"
           "symtab\n__ROUTINE__ main 4\nCM 0 0 0x12 0 1 -\nIP 0 0 0x12 1 2 -\nX 0 0 0x12 2 3 -\n"
           "IP$ 20 0 0x14 0 4 -\n__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ post 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\n"
           "IP$ 20 0 0x8014 0 4 -\n__END_ROUTINE__\n.end\n";
}

const std::string form_then_bad_add =
    cm_ref + num("0") + call("ipcall", in_ICATTACH_WINDOW, 2) + add("Name", 1, 1, 1) + add("Amount", 2, 3, 1) +
    attach("Post", 1) + attach("F10", 0) + cm_val + str("invoice") + call("ipcall", in_IDISPLAY_CM, 2) +
    add("Bad", 3, 9, 1);

// The run-time log lines from the dump's first line to its last, without time and memory.
std::vector<std::string> dump_lines(const std::string &err)
{
    std::vector<std::string> lines;
    bool in = false;
    std::size_t start = 0;
    while (start < err.size()) {
        std::size_t end = err.find('\n', start);
        if (end == std::string::npos) end = err.size();
        std::string line = err.substr(start, end - start);
        start = end + 1;
        const std::size_t text = line.find("  ");
        if (text == std::string::npos) continue;
        line = line.substr(text + 2);
        in = in || line.rfind("<<< Start of Display", 0) == 0;
        if (in) lines.push_back(line);
        if (line.rfind("<<< End of Display", 0) == 0) break;
    }
    return lines;
}

// Runs lumba_run ($0) in windows mode; once its fatal report is up, answers the message box. A run
// not over within $1 seconds is killed, and neither wait lasts longer.
const char *answering_script =
    "\"$0\" -w 0 form 0 2>\"$LUMBA_SITE/err\" & p=$!; "
    "( sleep \"$1\"; kill -KILL $p ) >/dev/null 2>&1 & w=$!; "
    "timeout \"$1\" sh -c 'until grep -q \"^Message:\" /usr/local/oska/log/errorlog 2>/dev/null; "
    "do sleep 0.02; done'; "
    "timeout \"$1\" xdotool search --sync --onlyvisible --name 'form' windowfocus --sync key Return; "
    "wait $p; s=$?; kill $w 2>/dev/null; echo status=$s";

// The script's arguments: lumba_run and the bound on the run.
std::vector<std::string> answering(const std::string &lumba_run)
{
    const int seconds = lumba_test::scaled_ms(lumba_test::RUN_WAIT_MS) / 1000;
    return {"sh", "-c", answering_script, lumba_run, std::to_string(seconds)};
}

} // namespace

TEST(FormsRun, DumpThenABadAddEndsTheRun)
{
    Xvfb x;
    Site site;
    site.install_program("form", program(form_then_bad_add));
    auto r = site.run(answering(LUMBA_RUN), x.gui_env());
    EXPECT_EQ(r.out, "status=1\n") << r.err;
    const std::string err = site.read_file("err");
    const std::vector<std::string> expected = {
        "<<< Start of Display Control Matrix (invoice) >>>",
        "Index  pNo En Val  Widget Type   Tab Sequence              Pmt Ent Des  Field Name EntryPtr",
        "    1    1  1   0  input         key field                   0   0   0  Name  0",
        "    2    2  1   0  input         standard field              0   0   0  Amount  0",
        "Program Mode = null; AnyChange = false; Modified = false; Current Focus = 0",
        "Index  Action Code         Function",
        "    1  Post_Focus          post",
        "    0  F10                 post",
        "set_focus: 0; return_focus: 0; invoke_focus: 0",
        "<<< End of Display Control Matrix (invoice) >>>",
    };
    EXPECT_EQ(dump_lines(err), expected) << err;
    const std::string message = "Invalid Tab Sequence Type 9 at index -1 field Bad prompt 3";
    EXPECT_NE(site.read_file("oska/log/errorlog").find("Message:  " + message), std::string::npos)
        << site.read_file("oska/log/errorlog");
}

TEST(FormsRun, BackgroundModeBuildsRowsButRefusesWindowIntrinsics)
{
    Site site;
    // ICADD runs without windows and answers the new row's index; ICGET_CURRENT_FOCUS is refused.
    site.install_program("form", program(cm_ref + num("0") + call("ipcall", in_ICATTACH_WINDOW, 2) +
                                         add("Name", 1, 1, 1) + add("Amount", 2, 3, 1) + num("1") +
                                         str("rows ") + "loadrvd I:2 I:1 I:0 I:0 I:0\n" +
                                         call("ifcalls", in_STR, 1) + "scat I:2\n" + call("ipcall", in_IMLOG, 2) + cm_val +
                                         call("ifcallr", in_ICGET_CURRENT_FOCUS, 1)));
    auto r = site.lumba({"-b", "-v", "1", "form", "0"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("B rows 2\n"), std::string::npos) << r.err;
    EXPECT_EQ(lumba_test::report_message(r.err), "ICGET_CURRENT_FOCUS: not in windows mode") << r.err;
}

TEST(FormsRun, ARoutineFetchingItselfEndsTheRun)
{
    // main attaches a CM and fetches routine 1, which fetches itself while it runs.
    const std::string text = ".proc r:main I:0 I:0 I:1 I:0 I:0 I:0\nsrcline I:3 I:0\n" + cm_ref + num("0") +
                             call("ipcall", in_ICATTACH_WINDOW, 2) + num("1") + cm_val +
                             call("ipcall", in_ICINVOKE_FETCH, 2) + "exit\n" +
                             ".proc r:again I:0 I:0 I:0 I:0 I:0 I:1\n" + num("1") +
                             "loadrvi I:0 I:0 I:1 I:0 I:0 I:0\n" + call("ipcall", in_ICINVOKE_FETCH, 2) + "exit\n" +
                             "symtab\n__ROUTINE__ main 1\nCM 0 0 0x12 0 1 -\n__END_ROUTINE__\n.end\n"
                             "symtab\n__ROUTINE__ again 1\nCM 0 0 0x8012 0 1 -\n__END_ROUTINE__\n.end\n";
    Xvfb x;
    Site site;
    site.install_program("form", text);
    auto r = site.run(answering(LUMBA_RUN), x.gui_env());
    EXPECT_EQ(r.out, "status=1\n") << r.err << site.read_file("err");
    EXPECT_NE(site.read_file("oska/log/errorlog").find("Message:  Routine again is being recursively called!"),
              std::string::npos)
        << site.read_file("oska/log/errorlog");
}
