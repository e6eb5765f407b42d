// The run-time log: levels, line format, the user log file and the error logs (through core_probe).
#include <gtest/gtest.h>

#include <glib.h>

#include <pwd.h>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

#include "site.h"

using lumba_test::Site;

namespace {

std::string user_log()
{
    struct passwd *pw = getpwuid(getuid());
    return std::string("oska/temp/") + (pw ? pw->pw_name : "") + ".log";
}

// The log lines with their prefix (memory, minutes:seconds.microseconds, two blanks) removed.
std::vector<std::string> bodies(const std::string &text)
{
    static const std::regex prefix(R"(^-?\d+ \d\d:\d\d\.\d{6}  )");
    std::vector<std::string> out;
    std::string::size_type start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        std::string line = text.substr(start, end - start);
        std::smatch m;
        if (std::regex_search(line, m, prefix)) out.push_back(m.suffix());
        start = end + 1;
    }
    return out;
}

} // namespace

TEST(RunTimeLog, LevelTable)
{
    struct {
        const char *lumba;
        const char *basic;
        std::vector<std::string> items;
        std::vector<std::string> lines;
    } cases[] = {
        // Not given (-1): level 0 dropped, 9 always (as level 0).
        {"-1", "-1", {"l:0:zero", "l:9:nine", "l:3:three"}, {"nine"}},
        // Level 2: indentation of two blanks per level; 3 dropped.
        {"2", "-1", {"l:0:a", "l:1:b", "l:2:c", "l:3:d"}, {"a", "  b", "    c"}},
        {"3", "-1", {"l:3:d"}, {"      d"}},
        // Levels 4 to 8 are dropped when the level test fails.
        {"2", "-1", {"l:5:five"}, {}},
        // Program lines follow the program level, not the run-time level.
        {"-1", "1", {"b:1:prog", "b:2:dropped", "l:1:dropped"}, {"  prog"}},
        // IMLOG: "B " and the text as it stands, at its level.
        {"-1", "3", {"i:3:x", "i:0:%s %d"}, {"      B x", "B %s %d"}},
        {"-1", "2", {"i:3:x"}, {}},
        // TPRINT: "T " at level 0 when the program level is 0 or more.
        {"-1", "0", {"t:hello"}, {"T hello"}},
        {"-1", "-1", {"t:hello"}, {}},
    };
    for (const auto &c : cases) {
        Site site;
        std::vector<std::string> args{CORE_PROBE, "log", c.lumba, c.basic};
        args.insert(args.end(), c.items.begin(), c.items.end());
        auto r = site.run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(bodies(site.read_file(user_log())), c.lines) << c.items[0];
        EXPECT_EQ(bodies(r.err), c.lines) << c.items[0];  // log mode 3: standard error too
    }
}

TEST(RunTimeLog, FatalLevelGoesToBothErrorLogs)
{
    Site site;
    site.write_file("oska/log/errorlog", "old\n");
    auto r = site.run({CORE_PROBE, "log", "-1", "-1", "l:-1:disk on \"fire\""});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(bodies(site.read_file(user_log())), std::vector<std::string>{"disk on \"fire\""});
    for (const char *log : {"oska/log/errorlog", "home/.oska/errorlog"}) {
        std::string text = site.read_file(log);
        EXPECT_NE(text.find("** E R R O R ** This information will be emailed to Oska.\n"), std::string::npos)
            << log;
        EXPECT_NE(text.find("\nMessage:  disk on \"fire\"\n"), std::string::npos) << text;
    }
    EXPECT_EQ(site.read_file("oska/log/errorlog").rfind("old\n", 0), 0u);
}

TEST(RunTimeLog, OutOfRangeLevelStops)
{
    Site site;
    auto r = site.run({CORE_PROBE, "log", "5", "-1", "l:5:five"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("mlog: Log Level 5 out of range\n", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("Message:  mlog_abort!"), std::string::npos) << r.err;
}

TEST(RunTimeLog, CarriageReturnBecomesLineFeed)
{
    Site site;
    auto r = site.run({CORE_PROBE, "log", "0", "-1", "l:0:one\rtwo"});
    EXPECT_EQ(r.status, 0);
    std::string text = site.read_file(user_log());
    EXPECT_NE(text.find("one\ntwo\n"), std::string::npos) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST(RunTimeLog, LongLineIsCutTo8191Characters)
{
    Site site;
    auto r = site.run({CORE_PROBE, "log", "0", "-1", "l:0:" + std::string(8200, 'x') + "%d%s"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string text = site.read_file(user_log());
    EXPECT_EQ(text.size(), 8191u);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find("%d"), std::string::npos);  // the message is cut, never the format
}

TEST(RunTimeLog, UserLogIsEmptiedAtStart)
{
    Site site;
    site.write_file(user_log(), "from an earlier run\n");
    auto r = site.run({CORE_PROBE, "log", "-1", "-1", "l:9:new"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(bodies(site.read_file(user_log())), std::vector<std::string>{"new"});
    EXPECT_EQ(site.read_file(user_log()).find("earlier"), std::string::npos);
}

TEST(RunTimeLog, HomeOskaMustBeADirectory)
{
    Site site;
    site.run({"sh", "-c", "rmdir \"$HOME/.oska\" && echo x > \"$HOME/.oska\""});
    auto r = site.run({CORE_PROBE, "log", "-1", "-1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, site.home() + "/.oska must be a directory. (tp=1)\n");
}

// The user log lies in the shared temp directory: what another user planted under its name is
// refused at start-up, never written into or waited on; the run says why on standard error and
// goes on without the user log (its lines still reach standard error). A new log is the user's
// alone.
TEST(RunTimeLog, UserLogTakesOnlyTheUsersOwnFile)
{
    const std::string log = "/usr/local/oska/temp/" + user_log().substr(std::string("oska/temp/").size());
    struct {
        const char *plant;  // shell commands run before the start, with $0 the log's path
        const char *why;    // the cause named in the refusal
    } cases[] = {
        {"echo theirs > \"$0\" && chown 65534 \"$0\"", "owned by another user"},
        {"mkfifo \"$0\"", "not a regular file"},  // a FIFO nobody reads: refused, not waited on
        {"mkfifo \"$0\" && exec 3<>\"$0\"", "not a regular file"},  // one the shell holds open to read
        {"mkdir \"$0\"", "not a regular file"},
        {"echo theirs > \"$0.x\" && chown 65534 \"$0.x\" && ln -s \"$0.x\" \"$0\"", "a link"},
        {"echo mine > \"$0.x\" && ln \"$0.x\" \"$0\"", "a link"},  // a second name of a file
    };
    for (const auto &c : cases) {
        Site site;
        auto r = site.run({"sh", "-c",
                           std::string(c.plant) +
                               " && \"$1\" log -1 -1 l:9:line 3<&-; echo status=$?; "
                                                   "for f in \"$0\" \"$0.x\"; do [ -f \"$f\" ] && cat \"$f\"; done",
                           log, CORE_PROBE});
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "status=0") << c.plant << "\n" << r.err;
        const std::string refusal = "mlog: Running without the log file " + log + ": it is " + c.why + "\n";
        EXPECT_EQ(r.err.substr(0, refusal.size()), refusal) << c.plant;
        EXPECT_EQ(bodies(r.err.substr(std::min(refusal.size(), r.err.size()))), std::vector<std::string>{"line"})
            << c.plant << "\n" << r.err;
        EXPECT_EQ(r.out.find("line"), std::string::npos) << c.plant << "\n" << r.out;  // nothing written into it
    }
    Site site;
    site.write_file("oska/temp/.keep", "");
    auto r = site.run({CORE_PROBE, "log", "-1", "-1", "l:9:mine"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto mode = site.run({"stat", "-c", "%a", log});
    EXPECT_EQ(mode.out, "600\n");
    EXPECT_EQ(bodies(site.read_file(user_log())), std::vector<std::string>{"mine"});
}

// A log file the user cannot make for another reason (the temp directory is gone) still ends the
// run, as every failure of the log does.
TEST(RunTimeLog, AUserLogThatCannotBeMadeEndsTheRun)
{
    Site site;
    auto r = site.run({"sh", "-c", "rm -rf /usr/local/oska/temp && exec \"$0\" log -1 -1 l:9:line", CORE_PROBE});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("mlog: Attempting to open log file "), std::string::npos) << r.err;
}

// An empty HOME is the password entry's home (never the root of the file system); a HOME too long
// to hold the error log is said to be so.
TEST(RunTimeLog, EmptyOrOverlongHome)
{
    Site site;
    // The user's home from the password database, replaced by a directory of the site in this
    // run's own mount namespace.
    site.write_file("passwd-home/.keep", "");
    auto r = site.run({"sh", "-c",
                       "mount --bind \"$LUMBA_SITE/passwd-home\" \"$(getent passwd $(id -u) | cut -d: -f6)\" && "
                       "HOME= exec \"$0\" log -1 -1 l:-1:reported",
                       CORE_PROBE});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(site.read_file("passwd-home/.oska/errorlog").find("Message:  reported"), std::string::npos);
    EXPECT_FALSE(g_file_test("/.oska", G_FILE_TEST_EXISTS));

    for (const std::string &home : {"/tmp/" + std::string(300, 'h'), "/tmp/" + std::string(5000, 'h')}) {
        r = site.run({"sh", "-c", "HOME=\"$1\" exec \"$0\" log -1 -1", CORE_PROBE, home});
        EXPECT_EQ(r.status, 1) << home.size();
        EXPECT_EQ(r.err, "mlog: Name of HOME directory is too long\n") << home.size();
    }
}

// Two starts of the same user at once: the probe of the user's error log by one may not remove
// the other's.
TEST(RunTimeLog, ConcurrentStartsOfOneUser)
{
    Site site;
    auto r = site.run({"sh", "-c",
                       "rm -f \"$HOME/.oska/errorlog\"; "
                       "\"$0\" logstarts 3000 & a=$!; \"$0\" logstarts 3000 & b=$!; "
                       "wait $a; x=$?; wait $b; echo $x $?",
                       CORE_PROBE});
    EXPECT_EQ(r.out, "0 0\n") << r.err;
    EXPECT_EQ(r.err, "");
}
