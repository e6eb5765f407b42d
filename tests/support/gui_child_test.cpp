// GUI children and their sanitizer reports: in the sanitizer build a child's report fails the test
// that started it, whatever the child's exit status; a clean child does not.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>

#include <glib.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include "gui_child.h"
#include "sanitizer_reports.h"

namespace {

std::string output_path()
{
    return std::string(g_get_tmp_dir()) + "/gui-child-test-" + std::to_string(getpid()) + ".out";
}

} // namespace

TEST(GuiChild, AChildsSanitizerReportFailsTheTest)
{
#if !defined(LUMBA_ASAN)
    GTEST_SKIP() << "only the sanitizer build writes reports";
#endif
    EXPECT_NONFATAL_FAILURE(
        {
            lumba_test::GuiChild run({LUMBA_SANITIZER_FAULT}, {}, output_path());
            run.wait();
        },
        "heap-use-after-free");
    lumba_test::GuiChild clean({"/bin/true"}, {}, output_path());
    EXPECT_EQ(clean.wait(), 0);
    g_unlink(output_path().c_str());
}
