// What the test servers share (the PostgreSQL cluster, slapd, the TLS stub of the certificate
// API): a private directory, the tools run to their end, and the server process itself, started,
// waited for until it answers and ended when the test program is done with it.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lumba_test {

// A new directory of the test program's own under the temporary directory (pattern ends in
// XXXXXX); throws std::runtime_error when none can be made.
std::string temporary_dir(const char *pattern);
// Removes a directory and everything in it (symbolic links are removed, not followed).
void remove_tree(const std::string &path);
// The whole of a file, "" when it cannot be read.
std::string read_file(const std::string &path);
// True when the only network interface is the loopback: a private network namespace (the isolate
// runner), where a server may take a fixed port.
bool only_loopback();

// A tool run to its end from cwd ("" for the current directory), found on PATH: whether it exited
// with 0, and what it wrote.
struct ToolOutput {
    bool ok;
    std::string out, err;
};
ToolOutput run_tool(const std::vector<std::string> &argv, const std::string &cwd = "");

// A server run as a child of the test program. start() waits until answers() holds; the server
// ending first, or not answering within the start time-out, throws std::runtime_error with what it
// wrote. stop() sends SIGTERM and reaps it (SIGKILL when it outstays the time-out). Only the
// process that started it stops it, so that a forked child cannot take it down.
class ServerProcess {
public:
    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    // argv[0] is a path; standard output and error are appended to output.
    void start(const std::vector<std::string> &argv, const std::string &output, const std::function<bool()> &answers);
    void stop();
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    pid_t owner_ = -1;
};

}  // namespace lumba_test
