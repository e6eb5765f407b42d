#include "log_wait.h"

#include <chrono>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <unistd.h>

namespace lumba_test {
namespace {

bool holds_line(const std::string &path, const std::string &text)
{
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
        if (line.find(text) != std::string::npos) return true;
    return false;
}

} // namespace

bool wait_for_log_line(const std::string &path, const std::string &text, int timeout_ms)
{
    // Watch the directory: the file may be made, replaced or appended to.
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd >= 0) inotify_add_watch(fd, dir.c_str(), IN_MODIFY | IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaled_ms(timeout_ms));
    bool found = holds_line(path, text);
    while (!found) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        // Without inotify, look again every 50 ms.
        pollfd p{fd, POLLIN, 0};
        poll(&p, fd >= 0 ? 1 : 0, fd >= 0 ? static_cast<int>(left.count()) : 50);
        char events[4096];
        while (fd >= 0 && read(fd, events, sizeof events) > 0) {}
        found = holds_line(path, text);
    }
    if (fd >= 0) close(fd);
    return found;
}

std::string read_all(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> program_lines(const std::string &log)
{
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        if (const std::size_t at = line.find("B "); at != std::string::npos && (at == 0 || line[at - 1] == ' '))
            lines.push_back(line.substr(at + 2));
    return lines;
}

} // namespace lumba_test
