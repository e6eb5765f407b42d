// The sample form examples/order_entry.zasm as a user meets it: lumba_run on a private X server
// with the site's own style sheet, a user (xdotool) filling the order in, saving it (answering the
// message) and closing the window. The program's routines log what they were given, the run-time
// when each ended. A screenshot of the filled form goes to $LUMBA_SNAPSHOT_DIR/sample_form.png
// when that is set (the one kept in snapshots/ was taken so).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gui_child.h"
#include "log_wait.h"
#include "xdotool.h"
#include "xvfb.h"

namespace {

using lumba_test::read_all;
using lumba_test::program_lines;

} // namespace

TEST(SampleForm, AUserEntersSavesAndClosesAnOrder)
{
    lumba_test::Xvfb x;
    std::filesystem::copy_file(LUMBA_ORDER_ENTRY, "/usr/local/oska/apps/unit0/order_entry",
                               std::filesystem::copy_options::overwrite_existing);
    const std::string out = std::string(std::getenv("LUMBA_SITE")) + "/order_entry.out";
    lumba_test::GuiChild run({LUMBA_RUN, "-w", "0", "-v", "0", "order_entry", "0"}, x.gui_env(), out);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B form up")) << read_all(out);
    const lumba_test::Xdotool user(x.display());
    const std::string form = user.search("^Order entry$");
    // Each step: keys on the form, then the log line its last routine writes.
    auto step = [&](const std::vector<std::string> &keys, const std::string &line) {
        user.focus(form);
        user.key(keys);
        ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B " + line)) << read_all(out);
    };
    user.focus(form);
    user.type("a12");
    step({"Tab"}, "post 1 [A12]");
    user.type("Smith Ltd");
    step({"Tab"}, "post 2 [Smith Ltd]");
    step({"Tab"}, "post 3 []");
    user.type("125.5");
    step({"Tab"}, "post 4 [125.50]");
    step({"space", "Tab"}, "post 5 [");
    step({"Tab"}, "post 6 [Post]");

    if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR")) {
        const std::string picture = std::string(dir) + "/sample_form.png";
        const int status = std::system(("import -display " + x.display() + " -window " + form + " " + picture).c_str());
        EXPECT_EQ(status, 0) << "import took the screenshot";
    }

    // Enter on Save: the order is saved and a message says so; Return answers it.
    step({"Return"}, "order saved");
    const std::string message = user.search("^order:");
    user.focus(message);
    user.key({"Return"});
    // The message answered, Save's routine has ended: the form takes clicks again.
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "Return value: 1 from 'basic' function save")) << read_all(out);
    // A click on Close (where the site's style sheet lays it out, as snapshots/sample_form.png
    // shows) closes the window and the run ends.
    user.focus(form);
    user.click(form, 113, 204);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "B closing")) << read_all(out);
    EXPECT_EQ(run.wait(), 0) << read_all(out);
    const std::vector<std::string> lines = program_lines(read_all(out));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "order entry done") << read_all(out);
}
