// lumba_run in windows mode under a private X server: GTK start-up with the style sheets, the
// fatal report in a message box, and a signal while it waits there.
#include <gtest/gtest.h>

#include <string>

#include "site.h"
#include "xvfb.h"

using lumba_test::Site;
using lumba_test::Xvfb;

namespace {

// Starts lumba_run prog, waits until its fatal report is up (the report reaches the site's error
// log before the box waits), then sends the signal; prints the run's status.
const char *signal_script =
    ": > /usr/local/oska/apps/unit0/prog; \"$0\" prog 0 2>\"$LUMBA_SITE/err\" & p=$!; "
    "i=0; while [ $i -lt 1000 ] && ! grep -q '^Message:' /usr/local/oska/log/errorlog 2>/dev/null; "
    "do sleep 0.02; i=$((i+1)); done; "
    "sleep 0.3; kill -$1 $p; "
    "( sleep 20; kill -KILL $p ) >/dev/null 2>&1 & w=$!; "
    "wait $p; s=$?; kill $w 2>/dev/null; echo status=$s";

} // namespace

TEST(Gui, StartupLoadsBothStyleSheetsAndEndsOnSigterm)
{
    Xvfb x;
    Site site;
    site.write_file("oska/conf/gtk/gtk3-user.css", "window { background-color: #fafafa; }\n");
    auto r = site.run({"sh", "-c", signal_script, LUMBA_RUN, "TERM"}, {x.display_env(), Xvfb::a11y_env()});
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
    auto r = site.run({"sh", "-c", signal_script, LUMBA_RUN, "HUP"}, {x.display_env(), Xvfb::a11y_env()});
    EXPECT_EQ(r.out, "status=1\n") << r.err;
    std::string err = site.read_file("err");
    EXPECT_NE(err.find("** Theme name: "), std::string::npos) << err;
    EXPECT_EQ(err.find("Loaded user CSS file"), std::string::npos) << err;
}
