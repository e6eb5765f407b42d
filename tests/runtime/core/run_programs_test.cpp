// Programs run by the real lumba_run in background mode: exit statuses and the fatal reports of
// the executor's guards, with their messages and error locations.
#include <gtest/gtest.h>

#include <glib.h>

#include <string>

#include "site.h"
#include "zasm_run.h"

using lumba_test::Site;

namespace {

std::string routine(const std::string &name, int params = 0)
{
    return ".proc r:" + name + " I:0 I:0 I:2 I:0 I:0 I:" + std::to_string(params) + "\n";
}

std::string nesting(int levels)
{
    std::string t = routine("main") + "pcall r:f1 I:0\nexit\n";
    for (int i = 1; i <= levels; ++i) {
        t += routine("f" + std::to_string(i));
        if (i < levels) t += "pcall r:f" + std::to_string(i + 1) + " I:0\n";
        t += "exit\n";
    }
    return t;
}

} // namespace

TEST(RunPrograms, HelloComputesItsSum)
{
    Site site;
    site.write_file("oska/apps/unit0/hello", lumba_test::read_bytes(LUMBA_EXAMPLES_DIR "/hello.obj"));
    auto r = site.lumba({"-b", "hello", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lumba_test::report_message(r.err), "") << r.err;
    EXPECT_FALSE(g_file_test((site.root() + "/mail/0.args").c_str(), G_FILE_TEST_EXISTS));
}

TEST(RunPrograms, GuardsStopWithTheirMessages)
{
    struct {
        const char *name;
        std::string text;
        const char *message;
    } cases[] = {
        {"recur", routine("main") + "pcall r:f I:0\nexit\n" + routine("f") + "pcall r:g I:0\nexit\n" + routine("g") +
                      "pcall r:f I:0\nexit\n",
         "Routine f is being recursively called!"},
        {"deep", nesting(98), "Nesting of routines too deep at routine f98"},
        {"args", routine("main") + "loadrc n:1 c:0\nloadrc n:2 c:0\npcall r:f I:2\nexit\n" + routine("f", 3) + "exit\n",
         "Routine f called with wrong number of arguments"},
        {"overflow", routine("main") + "l:\nloadrc n:1 c:0\njump l:l\n", "Stack overflow"},
        {"gosubs", routine("main") + "l:\ngosub l:l\n", "Internal gosub stack overflow"},
        {"returns", routine("main") + "return\n", "Internal gosub stack underflow"},
        {"extend", routine("main") + ".common I:2 I:0\n.common I:2 I:1\nexit\n", "Illegal attempt to extend COMMON"},
        {"divide", routine("main") + "srcline I:12 I:0\nloadrc n:7 c:0\nloadrc n:0 c:0\nmod\nexit\n",
         "Attempt to divide by zero"},
    };
    Site site;
    for (const auto &c : cases) {
        site.install_program(c.name, c.text);
        auto r = site.lumba({"-b", c.name, "0"});
        EXPECT_EQ(r.status, 1) << c.name << "\n" << r.err;
        EXPECT_EQ(lumba_test::report_message(r.err), c.message) << c.name << "\n" << r.err;
    }
    // The report names the routine and the source position.
    auto r = site.lumba({"-b", "divide", "0"});
    EXPECT_NE(r.err.find("in routine __MAIN__ around line 12@"), std::string::npos) << r.err;
    r = site.lumba({"-b", "args", "0"});
    EXPECT_NE(r.err.find("Function Name: f\n"), std::string::npos) << r.err;
}

TEST(RunPrograms, NestingOf97CallsEndsNormally)
{
    Site site;
    site.install_program("deep", nesting(97));
    auto r = site.lumba({"-b", "deep", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(RunPrograms, CommonBlockIsRemovedAtTheEnd)
{
    Site site;
    site.install_program("common", routine("main") + ".common I:3 I:5\nloadrc n:4 c:0\nstorrd I:22 I:0 I:0 I:0 I:0\nexit\n");
    // The run's process id is that of the shell that execs it, which first leaves a stale block
    // of that name (as a killed earlier process would): the run replaces it and removes its own.
    auto r = site.run({"sh", "-c",
                       "exec sh -c 'echo $$; printf stale > /dev/shm/oska_$(id -un)_$$; exec \"$0\" -b common 0' "
                       "\"$0\"",
                       LUMBA_RUN});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string pid = r.out.substr(0, r.out.find('\n'));
    ASSERT_FALSE(pid.empty());
    auto ls = site.run({"sh", "-c", "ls /dev/shm | grep -c \"_$0\\$\" || true", pid});
    EXPECT_EQ(ls.out, "0\n") << ls.out;
}
