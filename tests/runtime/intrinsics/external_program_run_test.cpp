// IEXTERNAL_PROGRAM_START through the real lumba_run in background mode, for a windowless control
// matrix: a program missing from PATH refused before anything is set up, and a command that fails
// collected whole, logged and mailed once through the site's mail script before its follow-on
// routine runs, and the follow-on routine receiving the command's output whole as IP$.
#include <gtest/gtest.h>

#include <string>

#include "intrinsics.h"
#include "program_text.h"
#include "site.h"

using lumba_test::Site;

namespace {

using lumba_test::call;
using lumba_test::num;
using lumba_test::str;

// main's numeric CM (0); routine 1 is the follow-on done (cm, X).
std::string program(const std::string &command)
{
    return ".proc r:main I:0 I:0 I:1 I:0 I:0 I:0\n"
           "loadrad I:0 I:1 I:0 I:0 I:0\n" +
           num(0) + call("ipcall", in_ICATTACH_WINDOW, 2) + str(command) + num(1) +
           "loadrad I:0 I:1 I:0 I:0 I:0\n" + num(5) + call("ipcall", in_IEXTERNAL_PROGRAM_START, 4) +
           "exit\n.proc r:done I:0 I:0 I:0 I:0 I:0 I:2\nexit\n"
           "symtab\n__ROUTINE__ main 1\nCM 0 0 0x12 0 1 -\n__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ done 2\nCM 0 0 0x8012 0 1 -\nX 0 0 0x8012 0 2 -\n__END_ROUTINE__\n.end\n";
}

// main passes CM, 5 and its 400-character IP$ to the follow-on done (cm, X, X$), which logs "[X$]"
// at level 1. As for every attached routine, texts are looked for from the third parameter on.
std::string logging_program(const std::string &command)
{
    const std::string ip_text = "loadsad I:0 I:1 I:400 I:0 I:0 I:0 I:0 I:0\n";
    const std::string text_param = "loadsvi I:2 I:0 I:1 I:0 I:0 I:0\n";
    return ".proc r:main I:0 I:0 I:1 I:400 I:0 I:0\n"
           "loadrad I:0 I:1 I:0 I:0 I:0\n" +
           num(0) + call("ipcall", in_ICATTACH_WINDOW, 2) + str(command) + num(1) +
           "loadrad I:0 I:1 I:0 I:0 I:0\n" + num(5) + ip_text + call("ipcall", in_IEXTERNAL_PROGRAM_START, 5) +
           "exit\n.proc r:done I:0 I:0 I:0 I:0 I:0 I:3\n" + num(1) + str("[") + text_param + str("]") + "scat I:3\n" +
           call("ipcall", in_IMLOG, 2) +
           "exit\nsymtab\n__ROUTINE__ main 2\nCM 0 0 0x12 0 1 -\nIP$ 400 0 0x14 0 2 -\n__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ done 3\nCM 0 0 0x8012 0 1 -\nX 0 0 0x8012 0 2 -\nX$ 400 0 0x8014 0 3 -\n"
           "__END_ROUTINE__\n.end\n";
}

} // namespace

TEST(ExternalProgramRun, TheFollowOnRoutineGetsTheWholeOutputAsIPText)
{
    const std::string long_line(300, 'x');
    const struct {
        std::string command;  // zasm-quoted
        std::string output;
    } cases[] = {
        {R"(printf 'a\\nb\\n')", "a\nb\n"},
        {R"(printf '%s\\n' )" + long_line, long_line + "\n"},
    };
    for (const auto &c : cases) {
        Site site;
        site.install_program("output", logging_program(c.command));
        auto r = site.lumba({"-b", "-v", "1", "-w", "1", "output", "0"});
        EXPECT_EQ(r.status, 0) << r.err;
        // X$ holds the whole output, blank-padded to its 400 characters.
        const std::string logged = "B [" + c.output + std::string(400 - c.output.size(), ' ') + "]\n";
        EXPECT_NE(r.err.find(logged), std::string::npos) << c.command << "\n" << r.err;
    }
}

TEST(ExternalProgramRun, AProgramMissingFromPathIsRefusedBeforeTheRunIsSetUp)
{
    Site site;
    site.install_program("missing", program("no-such-program-here -x; true"));
    auto r = site.lumba({"-b", "-w", "1", "missing", "0"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(lumba_test::report_message(r.err), "External Program 'no-such-program-here' not found") << r.err;
    EXPECT_EQ(r.err.find("Do iexternal_program_start"), std::string::npos) << r.err;
    EXPECT_EQ(site.read_file("mail/1.args"), "");  // only the fatal report's own mail
    EXPECT_EQ(site.read_file("mail/0.txt").find("external program:"), std::string::npos);
}

TEST(ExternalProgramRun, AFailingCommandIsLoggedAndMailedOnce)
{
    Site site;
    const std::string command = "echo out; echo err >&2; exit 3 # a comment (";
    site.install_program("failing", program(command));
    auto r = site.lumba({"-b", "-w", "1", "failing", "0"});
    EXPECT_NE(r.err.find("Do iexternal_program_start; CM = "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("External Program '" + command + "' Results = '\nout\nerr\n'"), std::string::npos) << r.err;
    const std::string mail = site.read_file("mail/0.txt");
    EXPECT_NE(mail.find("\nexternal program: exit: 3; output of " + command + " is below\r\nout\nerr\n\r\n\n"),
              std::string::npos)
        << mail;
    const std::string args = site.read_file("mail/0.args");
    EXPECT_EQ(args.substr(0, args.find('\n')), "support@lumba-runtime.example") << args;
    // Then the follow-on routine runs, and the run ends normally: no further mail.
    EXPECT_NE(r.err.find("Call 'basic' function done; "), std::string::npos) << r.err;
    EXPECT_EQ(lumba_test::report_message(r.err), "") << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(site.read_file("mail/1.args"), "");
}
