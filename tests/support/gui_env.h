// In-process GUI tests: one private X server per test program, started before its first test,
// with GTK initialised on it (no accessibility bus, the X11 back end, software drawing) and the
// fixture style sheet tests/support/gui/gtk3.css loaded as the run-time loads the site's (under
// with_site it is installed as the site's conf/gtk/gtk3.css first). The style sheet gives every
// widget name and class of the widgets a loud colour of its own, so a pixel tells which applies.
// A GTK or GLib critical logged in the test program fails the test that is running.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "test_time.h"

namespace lumba_test {

struct ScreenSize {
    int width = 1280;
    int height = 1024;
};

// Registers the environment; call from a namespace-scope initialiser of the test program, e.g.
//     const auto *gui = lumba_test::add_gui_environment();
//     const auto *gui = lumba_test::add_gui_environment({1366, 768});  // a smaller monitor
// style_sheet names another sheet to load (and install) in place of the fixture's, such as the
// shipped site/conf/gtk/gtk3.css for tests of what a user sees.
::testing::Environment *add_gui_environment(ScreenSize size = {}, std::string style_sheet = {});

// The X display of the test program (":N"), once the environment is up.
const std::string &gui_display();

// Handles every GTK event pending now.
void drain();

// Runs the main loop until done() holds or timeout_ms (scaled, test_time.h) pass; answers done()
// then. Waits on the condition, never for a fixed time.
bool wait_until(const std::function<bool()> &done, int timeout_ms = WAIT_MS);

} // namespace lumba_test
