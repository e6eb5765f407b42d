#include "gui_env.h"

#include <cstdlib>
#include <memory>

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
