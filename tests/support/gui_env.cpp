#include "gui_env.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include <gtk/gtk.h>

#include "xvfb.h"

namespace lumba_test {
namespace {

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        xvfb_ = std::make_unique<Xvfb>();
        setenv("DISPLAY", xvfb_->display().c_str(), 1);
        setenv("GTK_A11Y", "none", 1);
        setenv("GDK_BACKEND", "x11", 1);
        setenv("GSK_RENDERER", "cairo", 1);
        setenv("GDK_DEBUG", "gl-disable", 1);  // no GL: software drawing is all the tests need
        // GTK's font thread reads the environment from now on: a variable the fixtures set later
        // must exist already, so that setting it never moves the environment under that thread.
        setenv("PID", std::to_string(getpid()).c_str(), 1);
        gtk_init();
    }

    // The X server stays up until the process ends: GTK keeps its connection to the last.
    void TearDown() override { drain(); }

private:
    std::unique_ptr<Xvfb> xvfb_;
};

} // namespace

::testing::Environment *add_gui_environment()
{
    return ::testing::AddGlobalTestEnvironment(new GuiEnvironment);
}

void drain()
{
    while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
}

} // namespace lumba_test

// Under the leak sanitizer: what fontconfig keeps for the life of the process (its configuration,
// loaded by Pango's font thread) is no leak of ours. Nothing of the run-time calls fontconfig.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
