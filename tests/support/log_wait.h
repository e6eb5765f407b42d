// Waiting for a line in a log file that another process writes (a run-time log, a captured
// standard error): woken by every change of the file, never by a fixed sleep.
#pragma once

#include <string>
#include <vector>

#include "test_time.h"

namespace lumba_test {

// Waits until the file holds a line that contains text (the file may not exist yet); answers
// whether it did within timeout_ms.
bool wait_for_log_line(const std::string &path, const std::string &text, int timeout_ms = WAIT_MS);

// The whole of a file ("" when it cannot be read).
std::string read_all(const std::string &path);

// A run-time log's lines of the program's own (IMLOG: "B " and the text), their texts in order.
std::vector<std::string> program_lines(const std::string &log);

} // namespace lumba_test
