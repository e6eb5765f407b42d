// lumba_run in windows mode under a private X server: GTK start-up with the style sheets, the
// fatal report in a message box, and a signal while it waits there.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "intrinsics.h"
#include "program_text.h"
#include "shell_time.h"
#include "site.h"
#include "xvfb.h"

using lumba_test::Site;
using lumba_test::Xvfb;

namespace {

// Starts lumba_run prog, waits until its fatal report is up (the report reaches the site's error
// log before the box waits) and the run waits in the box, then sends the signal $1; prints the
// run's status. $2: how long to wait for each (ms); $3: when a watchdog kills the run (s).
const std::string signal_script =
    lumba_test::shell_blocked() +
    ": > /usr/local/oska/apps/unit0/prog; \"$0\" prog 0 2>\"$LUMBA_SITE/err\" & p=$!; "
    "i=0; while [ $i -lt $(( $2 / 20 )) ] && ! grep -q '^Message:' /usr/local/oska/log/errorlog 2>/dev/null; "
    "do sleep 0.02; i=$((i+1)); done; "
    "blocked $p $2; kill -$1 $p; "
    "( sleep $3; kill -KILL $p ) >/dev/null 2>&1 & w=$!; "
    "wait $p; s=$?; kill $w 2>/dev/null; echo status=$s";

std::vector<std::string> signal_run(const char *sig)
{
    return {"sh", "-c", signal_script, LUMBA_RUN, sig, lumba_test::scaled_ms_text(lumba_test::WAIT_MS),
            lumba_test::scaled_s_text(lumba_test::RUN_WAIT_MS)};
}

} // namespace

TEST(Gui, StartupLoadsBothStyleSheetsAndEndsOnSigterm)
{
    Xvfb x;
    Site site;
    site.write_file("oska/conf/gtk/gtk3-user.css", "window { background-color: #fafafa; }\n");
    auto r = site.run(signal_run("TERM"), x.gui_env());
    EXPECT_EQ(r.out, "status=1\n") << r.err;
    std::string err = site.read_file("err");
    EXPECT_NE(err.find("** Theme name: "), std::string::npos) << err;
    EXPECT_NE(err.find("** Loaded user CSS file: /usr/local/oska/conf/gtk/gtk3-user.css\n"), std::string::npos)
        << err;
    EXPECT_EQ(err.find("Gtk-WARNING"), std::string::npos) << err;
    EXPECT_EQ(err.find("CRITICAL"), std::string::npos) << err;
    // The report was shown (and logged) before the signal ended the run.
    EXPECT_NE(site.read_file("oska/log/errorlog").find("Message:  Null load file"),
              std::string::npos);
}

TEST(Gui, NoUserStyleSheetNoLine)
{
    Xvfb x;
    Site site;
    auto r = site.run(signal_run("HUP"), x.gui_env());
    EXPECT_EQ(r.out, "status=1\n") << r.err;
    std::string err = site.read_file("err");
    EXPECT_NE(err.find("** Theme name: "), std::string::npos) << err;
    EXPECT_EQ(err.find("Loaded user CSS file"), std::string::npos) << err;
}

// The X server goes away under a program waiting in IGTK_MAIN, with no window and with a window
// shown: the run notices promptly, saying why in one line of the user log, where without the
// display it would wait for ever, and ends through its own exit (status 1, its COMMON object
// removed) before the watchdog. The time is taken to the line: what the exit does after it is
// bounded by the watchdog only, since a sanitizer's leak check there alone takes seconds on a
// loaded machine.
TEST(Gui, ALostDisplayEndsTheRunThroughItsExit)
{
    using lumba_test::call;
    using lumba_test::str;
    const std::string window = str("a") + call("ifcallr", in_IGWIN_NEW, 1) + "storrd I:0 I:1 I:0 I:0 I:0\n" +
                               call("ipcall", in_IGTK_MAIN_ITERATION, 0);
    // $1: the X server's process; $2: how long to wait for the run to wait, and for its line (ms);
    // $3: when a watchdog kills the run (s).
    const std::string script =
        lumba_test::shell_blocked() +
        "u=$(id -un); log=/usr/local/oska/temp/$u.log; "
        "\"$0\" -v 0 prog 0 2>\"$LUMBA_SITE/err\" & p=$!; "
        "i=0; while [ $i -lt $(( $2 / 20 )) ] && ! grep -q 'B waiting' \"$log\" 2>/dev/null; "
        "do sleep 0.02; i=$((i+1)); done; "
        "blocked $p $2; ls /dev/shm | grep -c \"^oska_${u}_$p\\$\"; "
        "t0=$(date +%s%N); kill -TERM \"$1\"; "
        "( sleep $3; kill -KILL $p ) >/dev/null 2>&1 & w=$!; "
        "i=0; until grep -q 'display connection lost' \"$log\" || [ $i -ge $(( $2 / 10 )) ]; "
        "do sleep 0.01; i=$((i+1)); done; t1=$(date +%s%N); "
        "wait $p; s=$?; kill $w 2>/dev/null; "
        "echo \"status=$s ms=$(( (t1 - t0) / 1000000 )) common=$(ls /dev/shm | grep -c \"^oska_${u}_$p\\$\")\"; "
        "grep -c 'display connection lost' \"$log\"";
    for (const std::string &shown : {std::string(), window}) {
        Xvfb x;
        Site site;
        site.install_program("prog", ".proc r:main I:0 I:0 I:1 I:0 I:0 I:0\n.common I:1 I:0\n" + shown +
                                         lumba_test::num(0) + str("waiting") + call("ipcall", in_IMLOG, 2) +
                                         call("ipcall", in_IGTK_MAIN, 0) + "exit\n");
        auto r = site.run({"sh", "-c", script, LUMBA_RUN, std::to_string(x.pid()),
                           lumba_test::scaled_ms_text(lumba_test::WAIT_MS),
                           lumba_test::scaled_s_text(lumba_test::RUN_WAIT_MS)},
                          x.gui_env());
        const std::string err = site.read_file("err");
        EXPECT_EQ(r.out.substr(0, 2), "1\n") << r.out << err;  // the COMMON object while it waits
        int status = -1, ms = -1, common = -1;
        const auto at = r.out.find("status=");
        ASSERT_NE(at, std::string::npos) << r.out << err;
        std::sscanf(r.out.c_str() + at, "status=%d ms=%d common=%d", &status, &ms, &common);
        EXPECT_EQ(status, 1) << r.out << err;
        EXPECT_EQ(common, 0) << r.out;
        EXPECT_LT(ms, lumba_test::scaled_ms(lumba_test::PROMPT_MS)) << r.out;
        EXPECT_EQ(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1), "1\n") << r.out << err;
        EXPECT_EQ(err.find("E R R O R"), std::string::npos) << err;
    }
}
