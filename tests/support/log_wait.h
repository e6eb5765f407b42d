// Waiting for a line in a log file that another process writes (a run-time log, a captured
// standard error): woken by every change of the file, never by a fixed sleep.
#pragma once

#include <string>

namespace lumba_test {

// Waits until the file holds a line that contains text (the file may not exist yet); answers
// whether it did within timeout_ms.
bool wait_for_log_line(const std::string &path, const std::string &text, int timeout_ms = 20000);

} // namespace lumba_test
