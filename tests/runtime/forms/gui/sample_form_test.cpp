// The sample form examples/order_entry.zasm as a user meets it: lumba_run on a private X server
// with the site's own style sheet, a user (xdotool) filling the order in, saving it (answering the
// message) and closing the window. The program's routines log what they were given, the run-time
// when each ended. A screenshot of the filled form goes to $LUMBA_SNAPSHOT_DIR/sample_form.png
// when that is set (the one kept in snapshots/ was taken so).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gui_child.h"
#include "log_wait.h"
#include "snapshot.h"
#include "xdotool.h"
#include "xvfb.h"

namespace {

using lumba_test::read_all;
using lumba_test::program_lines;
using lumba_test::Rgba;
using lumba_test::Snapshot;

// Whether a pixel stands out from the window's ground (the frame of an entry or a button does).
bool ink(const Snapshot &s, int x, int y, Rgba ground)
{
    const Rgba p = s.pixel(x, y);
    return std::abs(p.r - ground.r) > 20 || std::abs(p.g - ground.g) > 20 || std::abs(p.b - ground.b) > 20;
}

// The leftmost column holding a straight vertical run of ink of at least 16 pixels within rows
// [top, bottom): the left side of the first frame there (text has no such runs); -1 when none.
int left_frame(const Snapshot &s, int top, int bottom, Rgba ground)
{
    for (int x = 0; x < s.width(); ++x)
        for (int y = std::max(top, 0), run = 0; y < std::min(bottom, s.height()); ++y)
            if (!ink(s, x, y, ground)) run = 0;
            else if (++run >= 16) return x;
    return -1;
}

// The soft-key bar is the foot of the form: its keys' left edge lines up with the fields' left
// edge, that is with the first field's frame in the form's first row.
void expect_keys_line_up_with_fields(const Snapshot &s)
{
    ASSERT_FALSE(s.empty());
    const Rgba ground = s.pixel(2, 2);
    int top = 0, foot = s.height() - 1;
    auto row_has_ink = [&](int y) {
        for (int x = 0; x < s.width(); ++x)
            if (ink(s, x, y, ground)) return true;
        return false;
    };
    while (top < s.height() && !row_has_ink(top)) ++top;
    while (foot > top && !row_has_ink(foot)) --foot;
    const int field = left_frame(s, top, top + 24, ground), keys = left_frame(s, foot - 24, foot + 1, ground);
    ASSERT_GT(field, 0);
    EXPECT_GT(keys, field - 2) << "the soft keys start left of the fields";
    EXPECT_LT(keys, field + 2) << "the soft keys start right of the fields";
}

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

    {
        const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR");
        const std::string picture =
            (dir ? std::string(dir) : std::string(std::getenv("LUMBA_SITE"))) + "/sample_form.png";
        const int status = std::system(("import -display " + x.display() + " -window " + form + " " + picture).c_str());
        ASSERT_EQ(status, 0) << "import took the screenshot";
        expect_keys_line_up_with_fields(lumba_test::load_png(picture));
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
