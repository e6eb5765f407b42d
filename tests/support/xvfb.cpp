#include "xvfb.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lumba_test {

Xvfb::Xvfb(int width, int height)
{
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("cannot make a pipe for Xvfb");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("cannot fork Xvfb");
    if (pid_ == 0) {
        // A test program that dies (a crash, a sanitizer's stop) takes its server with it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(fds[0]);
        std::string fd = std::to_string(fds[1]);
        // Without GLX: GUI children draw without GL (gui_env), and loading the server's GL alone
        // takes more than the rest of its start, hundreds of times a suite.
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-extension", "GLX", "-screen", "0",
               screen.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    // Xvfb writes the display number it chose, then a newline, once it accepts clients.
    std::string number;
    char c;
    ssize_t n;
    while ((n = read(fds[0], &c, 1)) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        throw std::runtime_error("Xvfb did not start");
    }
    display_ = ":" + number;
}

std::vector<std::string> Xvfb::gui_env() const
{
    std::vector<std::string> env{display_env(), "GDK_BACKEND=x11", "GSK_RENDERER=cairo", "GDK_DEBUG=gl-disable",
                                 a11y_env()};
#ifdef LUMBA_LSAN_SUPPRESSIONS
    env.push_back(std::string("LSAN_OPTIONS=suppressions=") + LUMBA_LSAN_SUPPRESSIONS);
#endif
    return env;
}

Xvfb::~Xvfb()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {}
    }
}

} // namespace lumba_test
