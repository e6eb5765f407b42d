#include "gui_env.h"

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

#include <gtk/gtk.h>

#include "glib_criticals.h"
#include "xvfb.h"

namespace lumba_test {
namespace {

std::string display;

std::string read_text(const char *path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The style sheet (the fixture's unless another is named) where the run-time would find the
// site's, at the site's priority.
void load_style_sheet(const std::string &sheet)
{
    std::string path = sheet;
    if (std::getenv("LUMBA_SITE")) {
        // A private site tree (with_site): the sheet becomes its style sheet.
        const std::string site = "/usr/local/oska/conf/gtk/gtk3.css";
        std::ofstream(site) << read_text(sheet.c_str());
        path = site;
    }
    GtkCssProvider *provider = gtk_css_provider_new();
    gtk_css_provider_load_from_path(provider, path.c_str());
    gtk_style_context_add_provider_for_display(gdk_display_get_default(), GTK_STYLE_PROVIDER(provider), 600);
    g_object_unref(provider);
}

class GuiEnvironment : public ::testing::Environment {
public:
    GuiEnvironment(ScreenSize size, std::string style_sheet)
        : size_(size), style_sheet_(style_sheet.empty() ? LUMBA_GUI_CSS : std::move(style_sheet))
    {
    }

    void SetUp() override
    {
        xvfb_ = std::make_unique<Xvfb>(size_.width, size_.height);
        display = xvfb_->display();
        setenv("DISPLAY", display.c_str(), 1);
        setenv("GTK_A11Y", "none", 1);
        setenv("GDK_BACKEND", "x11", 1);
        setenv("GSK_RENDERER", "cairo", 1);
        setenv("GDK_DEBUG", "gl-disable", 1);  // no GL: software drawing is all the tests need
        // GTK's font thread reads the environment from now on: a variable the fixtures set later
        // must exist already, so that setting it never moves the environment under that thread.
        setenv("PID", std::to_string(getpid()).c_str(), 1);
        setenv("OAE_APP_WIDTH", "", 1);  // the application area's launch values
        setenv("OAE_APP_HEIGHT", "", 1);
        fail_on_criticals();
        gtk_init();
        // The theme's transitions move sizes and colours for a while after a change (the scroll
        // bars of a new scroller shrink over 300 ms): without them a widget shows its final style
        // at once, and what a test measures or snapshots does not depend on when it looks.
        g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE, nullptr);
        load_style_sheet(style_sheet_);
    }

    // The X server stays up until the process ends: GTK keeps its connection to the last.
    void TearDown() override { drain(); }

private:
    ScreenSize size_;
    std::string style_sheet_;
    std::unique_ptr<Xvfb> xvfb_;
};

} // namespace

::testing::Environment *add_gui_environment(ScreenSize size, std::string style_sheet)
{
    return ::testing::AddGlobalTestEnvironment(new GuiEnvironment(size, std::move(style_sheet)));
}

const std::string &gui_display()
{
    return display;
}

void drain()
{
    while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
}

bool wait_until(const std::function<bool()> &done, int timeout_ms)
{
    const gint64 end = g_get_monotonic_time() + gint64{scaled_ms(timeout_ms)} * 1000;
    // A tick keeps the loop turning while nothing else stirs, so the condition is looked at again.
    const guint tick = g_timeout_add(10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool ok;
    while (!(ok = done()) && g_get_monotonic_time() < end) g_main_context_iteration(nullptr, TRUE);
    g_source_remove(tick);
    return ok;
}

} // namespace lumba_test

// Under the leak sanitizer: what fontconfig keeps for the life of the process (its configuration,
// loaded by Pango's font thread) is no leak of ours. Nothing of the run-time calls fontconfig.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
