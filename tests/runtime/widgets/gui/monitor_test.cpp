// The application extent on a smaller monitor (1366 x 768, a test program of its own): a size the
// monitor cannot hold is lowered step by step.
#include "gui_env.h"
#include "widgets_fixture.h"

using namespace forms_test;
using namespace widgets_test;

namespace {

const auto *gui = lumba_test::add_gui_environment({1366, 768});

} // namespace

TEST_F(WidgetsTest, ExtentIsLoweredStepByStepToTheMonitor)
{
    struct Case {
        const char *size;
        int width, height;
    } cases[] = {
        {"1680x1050", 1024, 768},  // first to 1280 x 800, which is still too high
        {"1280x800", 1024, 768},
        {"1024x768", 1024, 768},
    };
    for (const Case &c : cases) {
        const Outcome o = form(window_of("a", W) + attach(CM, W) + str(c.size) + st(in_IGEOMETRY_PUT_OAE, 1) +
                               sfn(in_IGEOMETRY_GET_OAE, 0) + sset(TS));
        ASSERT_EQ(o.abort, "") << c.size;
        ControlMatrix_t *cm = cm_of(CM);
        EXPECT_EQ(cm->oae_app_width, c.width) << c.size;
        EXPECT_EQ(cm->oae_app_height, c.height) << c.size;
        EXPECT_EQ(cm->monitor_width, 1366);
        EXPECT_EQ(cm->monitor_height, 768);
        EXPECT_EQ(text(TS), "1010x630") << "the launch area is what the program reads";
    }
}
