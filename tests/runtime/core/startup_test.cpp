// lumba_run start-up: options, user switch, application version, environment numbers, soft keys.
#include <gtest/gtest.h>

#include <string>

#include "shell_time.h"
#include "site.h"
#include "zasm_run.h"

using lumba_test::Site;

namespace {

} // namespace

TEST(Options, UnknownOptionIsGlibErrorAndStatus1)
{
    Site site;
    auto r = site.lumba({"--bogus"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Unknown option --bogus \n");
    EXPECT_EQ(r.out, "");
}

TEST(Options, MissingArgumentIsAnError)
{
    Site site;
    auto r = site.lumba({"-w", "many"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("-w"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - 2), " \n");
}

TEST(Options, HelpAllShowsGroupsAndTexts)
{
    Site site;
    auto r = site.lumba({"--help-all"});
    ASSERT_EQ(r.status, 0) << r.err;
    const char *expected[] = {
        "] [path_to_app|appname unit# [arg1 arg2 ... to app]]",
        "Oska Application options",
        "Console Logging Debug Verbosity options",
        "GTK related options",
        "-b, --background",
        "Run in background mode",
        "-C, --originname=some_string",
        "Set interpreter origin name",
        "-i, --issue",
        "Print Issue and exit",
        "-d, --dump",
        "Ask to make a core dump if needed",
        "-s, --stack",
        "Evaluate stack items before copy (for developers)",
        "-t, --test",
        "Alter gmessage title for automatic tests",
        "-u, --user",
        "user to execute under (requires be run under sudo to be able to switch)",
        "-e, --version",
        "-G, --geometry=[WWWxHHH]",
        "device window geometry in pixels; WWW - width; HHH - height",
        "-a, --app_option=[wxyz]",
        "Oska Application Options",
        "Fourth Character 'z' represents Internet connection",
        "-x, --x2go_sid=[assigned automatically]",
        "x2go session id from Oska x2go client",
        "-v, --basic-verbose",
        "-w, --lumba-verbose",
        "Run with this level of basic debug enabled",
        "--g-fatal-warnings",
        "Make all warnings fatal",
        "--help-oska",
        "--help-verbosity",
        "--help-gtk",
    };
    for (const char *text : expected) EXPECT_NE(r.out.find(text), std::string::npos) << text;
}

TEST(Options, UserSwitch)
{
    Site site;
    struct {
        const char *user;
        int status;
        const char *err;
        const char *out;
    } cases[] = {
        {"nosuchuser", 1, "No user record found for 'nosuchuser' specified in -u switch\n", ""},
        {"nobody", 0, "Switched to 'nobody' user\n", "OSKA Run-time system:   ISSUE V15 (Revision 70)\n"},
    };
    for (const auto &c : cases) {
        auto r = site.lumba({"-u", c.user, "-i"});
        EXPECT_EQ(r.status, c.status) << c.user << r.err;
        EXPECT_EQ(r.err, c.err) << c.user;
        EXPECT_EQ(r.out, c.out) << c.user;
    }
}

TEST(Options, UserSwitchDropsGroupsToo)
{
    Site site;
    // The soft-key file is a FIFO, so start-up waits there after the switch and the process's ids
    // can be read; then the file is fed and the run goes on to its end.
    auto r = site.run({"sh", "-c",
                       "chmod 755 \"$LUMBA_SITE\"; chmod 777 /usr/local/oska/log /usr/local/oska/temp \"$HOME\" "
                       "\"$HOME/.oska\"; rm -f /usr/local/oska/conf/softkeys; "
                       "mkfifo -m 666 /usr/local/oska/conf/softkeys; "
                       "\"$0\" -u nobody -b prog 2>/dev/null & p=$!; "
                       "i=0; while [ $i -lt $(( $1 / 10 )) ] && ! grep -q '^Uid:.*65534' /proc/$p/status 2>/dev/null; "
                       "do sleep 0.01; i=$((i+1)); done; "
                       "grep -E '^(Uid|Gid|Groups):' /proc/$p/status; "
                       "timeout $(( ($1 + 999) / 1000 )) sh -c 'echo \"default : 1 \\\"Help\\\"\" > /usr/local/oska/conf/softkeys'; "
                       "wait $p; echo status=$?",
                       LUMBA_RUN, lumba_test::scaled_ms_text(lumba_test::WAIT_MS)});
    EXPECT_NE(r.out.find("Uid:\t65534\t65534\t65534\t65534"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("Gid:\t65534\t65534\t65534\t65534"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Groups:\t65534"), std::string::npos) << r.out;  // root's groups are gone
    EXPECT_NE(r.out.find("status=1"), std::string::npos) << r.out;
}

TEST(Startup, EnvironmentNumbers)
{
    struct {
        const char *setting;
        const char *message;
    } cases[] = {
        {"F=513", "F environment variable exceeds 512"},
        {"F=12x", "Environment variable F ill-formed"},
        {"F=", "Environment variable F ill-formed"},
        {"F=-3", "Environment variable F ill-formed"},
        {"F=99999999999", "Environment variable F ill-formed"},
        {"M=abc", "Environment variable M ill-formed"},
        {"T=1 2", "Environment variable T ill-formed"},
        // Good numbers let start-up go on to load and run the program.
        {"F=0", nullptr},
        {"F=512", nullptr},
        {"S=-4", nullptr},
    };
    Site site;
    site.install_example("hello");
    for (const auto &c : cases) {
        auto r = site.lumba({"-b", "hello", "0"}, {c.setting});
        EXPECT_EQ(r.status, c.message ? 1 : 0) << c.setting << "\n" << r.err;
        EXPECT_EQ(lumba_test::report_message(r.err), c.message ? c.message : "") << c.setting << "\n" << r.err;
    }
}

TEST(Startup, SoftKeyFileMissingOrEmpty)
{
    Site site;
    site.write_file("oska/conf/softkeys", "# no sets here\n\n");
    auto r = site.lumba({"-b", "prog"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lumba_test::report_message(r.err), "Unable to load softkey labels - fn /usr/local/oska/conf/softkeys") << r.err;

    site.run({"rm", "/usr/local/oska/conf/softkeys"});
    r = site.lumba({"-b", "prog"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lumba_test::report_message(r.err), "SOFTKEY: could not find label configuration '/usr/local/oska/conf/softkeys'")
        << r.err;
}

TEST(Startup, ApplicationVersionInReports)
{
    struct {
        const char *tag;
        const char *revno;
        const char *version;
    } cases[] = {
        {"1.2.3-beta\nsecond line\n", nullptr, "App:v.1.2.3;"},
        {"7.1 extra\n", "99\n", "App:v.7.1;"},
        {nullptr, "4711\n", "App:v.r.4711;"},
        {nullptr, nullptr, "App:v.;"},
    };
    for (const auto &c : cases) {
        Site site;
        if (c.tag) site.write_file("oska/apps/tag.txt", c.tag);
        if (c.revno) site.write_file("oska/apps/revno.txt", c.revno);
        auto r = site.lumba({"-b", "prog"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.version), std::string::npos) << c.version << "\n" << r.err;
    }
}

TEST(Startup, OverlongProgramPathStops)
{
    Site site;
    auto r = site.lumba({"-b", std::string(100, 'p')});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lumba_test::report_message(r.err), "Program path longer than 95 characters: " + std::string(100, 'p'));
    r = site.lumba({"-b", "prog", std::string(90, '7')});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lumba_test::report_message(r.err).rfind("Program directory longer than 95 characters", 0), 0u) << r.err;
}

TEST(Startup, LogLevelZeroLogsPpath)
{
    Site site;
    auto r = site.lumba({"-b", "-w", "0", "prog"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("  PPATH = /usr/local/oska\n"), std::string::npos) << r.err;
    r = site.lumba({"-b", "prog"});
    EXPECT_EQ(r.err.find("PPATH = "), std::string::npos) << r.err;
}
