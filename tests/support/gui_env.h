// In-process GUI tests: one private X server per test program, started before its first test,
// with GTK initialised on it (no accessibility bus, the X11 back end, software rendering).
#pragma once

#include <gtest/gtest.h>

namespace lumba_test {

// Registers the environment; call from a namespace-scope initialiser of the test program, e.g.
//     const auto *gui = lumba_test::add_gui_environment();
::testing::Environment *add_gui_environment();

// Handles every GTK event pending now.
void drain();

} // namespace lumba_test
