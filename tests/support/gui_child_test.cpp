// GUI children and their sanitizer reports: in the sanitizer build a child's report fails the test
// that started it, whatever the child's exit status; a clean child does not. A GTK or GLib critical
// fails the test as well, a child's or the test program's own.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>

#include <glib.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include "glib_criticals.h"
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

TEST(GuiChild, AChildsCriticalFailsTheTest)
{
    EXPECT_NONFATAL_FAILURE(
        {
            lumba_test::GuiChild run({LUMBA_GLIB_CRITICAL}, {}, output_path());
            run.wait();
        },
        "GLib-CRITICAL **");
    g_unlink(output_path().c_str());
}

TEST(GuiChild, ACriticalInTheTestProgramFailsTheTest)
{
    lumba_test::fail_on_criticals();
    EXPECT_NONFATAL_FAILURE(g_hash_table_size(nullptr), "GLib-CRITICAL: g_hash_table_size: assertion");
    // A test that provokes one on purpose takes it with a handler of its own first.
    const guint id = g_log_set_handler("GLib", G_LOG_LEVEL_CRITICAL, [](const gchar *, GLogLevelFlags, const gchar *, gpointer) {}, nullptr);
    g_hash_table_size(nullptr);
    g_log_remove_handler("GLib", id);
}
