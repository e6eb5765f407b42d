// A private X server for GUI tests: Xvfb on a free display with one screen of a given size
// (1280x1024 unless a test needs another monitor, such as 1366x768), stopped when the object goes.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace lumba_test {

class Xvfb {
public:
    // Starts Xvfb and waits until it names its display.
    explicit Xvfb(int width = 1280, int height = 1024);
    ~Xvfb();  // stops it
    Xvfb(const Xvfb &) = delete;
    Xvfb &operator=(const Xvfb &) = delete;

    const std::string &display() const { return display_; }  // ":N"
    pid_t pid() const { return pid_; }  // the server's process, for a test that takes it away
    // The settings a GUI child needs: DISPLAY and no accessibility bus.
    std::string display_env() const { return "DISPLAY=" + display_; }
    static std::string a11y_env() { return "GTK_A11Y=none"; }
    // Everything a GUI child needs, as "NAME=value": the display, GTK's X11 back end, software
    // drawing without GL, no accessibility bus, and (for sanitizer builds) the leak sanitizer's
    // suppressions of what fontconfig keeps.
    std::vector<std::string> gui_env() const;

private:
    pid_t pid_ = -1;
    std::string display_;
};

} // namespace lumba_test
