// A private X server for GUI tests: Xvfb on a free display, stopped when the object goes.
#pragma once

#include <string>
#include <sys/types.h>

namespace lumba_test {

class Xvfb {
public:
    Xvfb();   // starts Xvfb and waits until it names its display
    ~Xvfb();  // stops it
    Xvfb(const Xvfb &) = delete;
    Xvfb &operator=(const Xvfb &) = delete;

    const std::string &display() const { return display_; }  // ":N"
    // The settings a GUI child needs: DISPLAY and no accessibility bus.
    std::string display_env() const { return "DISPLAY=" + display_; }
    static std::string a11y_env() { return "GTK_A11Y=none"; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

} // namespace lumba_test
