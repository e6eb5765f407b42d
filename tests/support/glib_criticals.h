// GTK and GLib criticals of GUI runs: a failed check ("Gtk-CRITICAL **: ... assertion ... failed")
// is a fault of the run-time, and the test that met it fails, whether it was logged by a child
// (in its output) or by the test program itself.
#pragma once

#include <string>

namespace lumba_test {

// The lines of a process's output that are GTK or GLib criticals; "" when there is none.
std::string critical_lines(const std::string &output);
// From now on every GTK or GLib critical logged in this process fails the running test (the GUI
// environment calls it; later calls change nothing).
void fail_on_criticals();

} // namespace lumba_test
