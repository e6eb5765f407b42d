// A program under test run as a GUI child (lumba_run on the test's X server): started with extra
// environment settings, its standard output and error written to a file the test can wait on
// (log_wait.h), ended by the test or killed when the object goes. In the sanitizer build it writes
// its reports into a directory of its own, and its end (wait) fails the test on any report found,
// whatever its exit status (sanitizer_reports.h); so does a GTK or GLib critical in its output
// (glib_criticals.h).
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "test_time.h"

namespace lumba_test {

class GuiChild {
public:
    // Starts argv[0] (a path) with the environment and env ("NAME=value", in place of a variable of
    // the same name), both output streams into output_path.
    GuiChild(const std::vector<std::string> &argv, const std::vector<std::string> &env, const std::string &output_path);
    ~GuiChild();
    GuiChild(const GuiChild &) = delete;
    GuiChild &operator=(const GuiChild &) = delete;

    pid_t pid() const { return pid_; }
    // Waits up to timeout_ms for the end: the exit status (128 + signal after a signal), or -1
    // when it still runs (it is killed then). A sanitizer report or a GTK or GLib critical of the
    // run fails the test.
    int wait(int timeout_ms = RUN_WAIT_MS);

private:
    void check_reports();

    pid_t pid_ = -1;
    std::string program_;
    std::string output_;   // the file of its output
    std::string reports_;  // the directory of its sanitizer reports
};

} // namespace lumba_test
