#include "gui_child.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace lumba_test {

GuiChild::GuiChild(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                   const std::string &output_path)
{
    std::vector<std::string> environment;
    for (char **e = environ; *e; ++e) environment.emplace_back(*e);
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char *> args, envp;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string &e : environment) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    const int out = open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) throw std::runtime_error("cannot open " + output_path);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out, 1);
        dup2(out, 2);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(out);
    if (pid_ < 0) throw std::runtime_error("cannot fork " + argv[0]);
}

GuiChild::~GuiChild()
{
    if (pid_ > 0) wait(0);
}

int GuiChild::wait(int timeout_ms)
{
    if (pid_ <= 0) return -1;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) break;
        if (r < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() >= end) {
            kill(pid_, SIGKILL);
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {}
            pid_ = -1;
            return -1;
        }
        // A child's end wakes nobody here: look again shortly.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace lumba_test
