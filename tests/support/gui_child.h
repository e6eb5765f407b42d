// A program under test run as a GUI child (lumba_run on the test's X server): started with extra
// environment settings, its standard output and error written to a file the test can wait on
// (log_wait.h), ended by the test or killed when the object goes.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace lumba_test {

class GuiChild {
public:
    // Starts argv[0] (a path) with the environment plus env ("NAME=value"), both output streams
    // into output_path.
    GuiChild(const std::vector<std::string> &argv, const std::vector<std::string> &env, const std::string &output_path);
    ~GuiChild();
    GuiChild(const GuiChild &) = delete;
    GuiChild &operator=(const GuiChild &) = delete;

    pid_t pid() const { return pid_; }
    // Waits up to timeout_ms for the end: the exit status (128 + signal after a signal), or -1
    // when it still runs (it is killed then).
    int wait(int timeout_ms = 30000);

private:
    pid_t pid_ = -1;
};

} // namespace lumba_test
