// EXECUTE and CHAIN run by the real lumba_run in background mode. Programs cannot print yet, so
// each checks what it receives and ends normally, or stops on purpose with a `return` that has
// no gosub ("Internal gosub stack underflow") when something is wrong. Under the sanitizer build
// the runs also show that the exit clean-up frees every context once and nothing leaks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interp.h"
#include "sanitizer_reports.h"
#include "site.h"
#include "zasm_run.h"

using lumba_test::Site;

namespace {

constexpr const char *STOPPED = "Internal gosub stack underflow";

std::string routine(const std::string &name) { return ".proc r:" + name + " I:0 I:0 I:2 I:0 I:0 I:0\n"; }

std::string execute_call(const std::string &name)
{
    return "loadsc s:\"" + name + "\" p:1\nloadrc n:0 c:0\nifcallr I:24 I:2\n";
}

// Stops unless the top entry plus add is 0.
std::string expect_result(const std::string &add, const std::string &label)
{
    return "loadrc n:" + add + " c:0\nadd\njumpz l:" + label + "\nreturn\n" + label + ":\n";
}

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

} // namespace

TEST(ExecuteChain, ExecuteRunsTheChildTwiceAndReceivesZero)
{
    Site site;
    site.install_example("hello");
    site.install_program("parent",
            routine("main") + execute_call("hello") + expect_result("0", "one") + execute_call("hello") +
                expect_result("0", "two") + "exit\n");
    auto r = site.lumba({"-b", "parent", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(has(r.err, STOPPED)) << r.err;
    // Each child goes when it ends, so the second run takes the first one's name again.
    const std::string deleted = "DELETING application hello__A";
    const auto first = r.err.find(deleted);
    ASSERT_NE(first, std::string::npos) << r.err;
    EXPECT_TRUE(has(r.err.substr(first + 1), deleted)) << r.err;
    EXPECT_FALSE(has(r.err, "hello__B")) << r.err;
}

TEST(ExecuteChain, MissingChild)
{
    Site site;
    // The load failure is a trappable error of the program that called EXECUTE: with a trap
    // armed, its handler runs (and stops on purpose here).
    site.install_program("trapped", routine("main") + "tsterr l:go\nreturn\ngo:\n" + execute_call("nosuch") + "exit\n");
    auto r = site.lumba({"-b", "trapped", "0"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(has(r.err, "Cannot load /usr/local/oska/apps/unit0/nosuch")) << r.err;
    EXPECT_TRUE(has(r.err, STOPPED)) << r.err;

    // Untrapped, it ends that program; when it is itself an EXECUTE child, its parent receives -1
    // and goes on.
    site.install_program("mid", routine("main") + execute_call("nosuch") + "return\n");
    site.install_program("top", routine("main") + execute_call("mid") + expect_result("1", "ok") + "exit\n");
    r = site.lumba({"-b", "top", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.err, "Cannot load /usr/local/oska/apps/unit0/nosuch")) << r.err;
    EXPECT_FALSE(has(r.err, STOPPED)) << r.err;
}

TEST(ExecuteChain, ChainRunsTheNamedProgram)
{
    Site site;
    site.install_program("b", routine("main") + "exit\n");
    // a leaves an owned text on its stack, calls f, which chains to "b   " (owned, with trailing
    // blanks); nothing of a runs after that.
    site.install_program("a", routine("main") + "loadsc s:\"left\" p:0\npcall r:f I:0\nreturn\n" + routine("f") +
                           "loadsc s:\"b   \" p:0\nipcall I:11 I:1\nreturn\n");
    auto r = site.lumba({"-b", "a", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(has(r.err, STOPPED)) << r.err;
    EXPECT_TRUE(has(r.err, "DELETING application a__A")) << r.err;
    EXPECT_TRUE(has(r.err, "DELETING application b__A")) << r.err;
    EXPECT_FALSE(has(r.err, "elements left on Basic stack")) << r.err;

    // A program refused part-way through its load ends the run with the loader's message; the
    // context, held by neither program then, is freed once (the sanitizer build checks).
    site.install_program("damaged", routine("main") + "exit\n");
    site.write_file("oska/apps/unit0/damaged", site.read_file("oska/apps/unit0/damaged") + "\x02x\n");
    site.install_program("d", routine("main") + "loadsc s:\"damaged\" p:1\nipcall I:11 I:1\nexit\n");
    r = site.lumba({"-b", "d", "0"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(lumba_test::report_message(r.err), "Binary corrupted: invalid data list type - \"x\"") << r.err;

    // A program that cannot be loaded leaves the old one at its error trap.
    site.install_program("c", routine("main") + "tsterr l:go\nreturn\ngo:\nloadsc s:\"nosuch\" p:0\nipcall I:11 I:1\nexit\n");
    r = site.lumba({"-b", "c", "0"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(has(r.err, "Cannot load /usr/local/oska/apps/unit0/nosuch")) << r.err;
    EXPECT_TRUE(has(r.err, STOPPED)) << r.err;
}

// A program that executes itself stops at the nesting limit with a report of its own, instead of
// nesting until memory runs out. The report names every application loaded then: one per level.
TEST(ExecuteChain, AProgramExecutingItselfStopsAtTheNestingLimit)
{
    Site site;
    site.install_program("self", routine("main") + execute_call("self") + "exit\n");
    std::vector<std::string> run{LUMBA_RUN, "-b", "self", "0"};
#if !defined(LUMBA_ASAN)
    // Should the limit ever go, the run fails here soon instead of taking the machine's memory.
    run.insert(run.begin(), {"prlimit", "--as=2147483648"});
#endif
    auto r = site.run(run);
    EXPECT_EQ(r.status, 1) << r.err.substr(0, 2000);
    EXPECT_EQ(lumba_test::report_message(r.err), "EXECUTE of self nested too deep: more than " +
                                                      std::to_string(MAX_EXECUTE_NESTING) +
                                                      " programs running one inside another")
        << r.err.substr(0, 2000);
    // The loaded applications, after the report's own program name: the first few by name, then
    // how many more.
    const auto program = r.err.find("Program:  ");
    ASSERT_NE(program, std::string::npos);
    const std::string names = r.err.substr(program, r.err.find('\n', program) - program);
    const auto listed = names.find("App:v.");
    ASSERT_NE(listed, std::string::npos) << names;
    int levels = 0;
    for (auto at = names.find("self__", listed); at != std::string::npos; at = names.find("self__", at + 1)) ++levels;
    const auto more = names.find("... and ");
    if (more != std::string::npos) levels += std::stoi(names.substr(more + 8));
    EXPECT_EQ(levels, MAX_EXECUTE_NESTING) << names;
}
