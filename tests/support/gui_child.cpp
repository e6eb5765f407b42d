#include "gui_child.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include "glib_criticals.h"
#include "sanitizer_reports.h"

namespace lumba_test {

GuiChild::GuiChild(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                   const std::string &output_path)
    : program_(argv.at(0)), output_(output_path)
{
    char *dir = g_dir_make_tmp("lumba-gui-child-XXXXXX", nullptr);
    if (!dir) throw std::runtime_error("cannot make a directory for sanitizer reports");
    reports_ = dir;
    g_free(dir);
    char **envp = g_get_environ();
    for (const std::string &e : env) {
        const std::size_t eq = e.find('=');
        envp = g_environ_setenv(envp, e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), TRUE);
    }
    envp = add_sanitizer_option(envp, "ASAN_OPTIONS", "log_path=" + reports_ + "/report");
    envp = add_sanitizer_option(envp, "UBSAN_OPTIONS", "log_path=" + reports_ + "/report");
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    const int out = open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        g_strfreev(envp);
        throw std::runtime_error("cannot open " + output_path);
    }
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out, 1);
        dup2(out, 2);
        execve(args[0], args.data(), envp);
        _exit(127);
    }
    close(out);
    g_strfreev(envp);
    if (pid_ < 0) throw std::runtime_error("cannot fork " + argv[0]);
}

GuiChild::~GuiChild()
{
    if (pid_ > 0) wait(0);
    g_rmdir(reports_.c_str());
}

void GuiChild::check_reports()
{
    const std::string found = take_sanitizer_reports(reports_);
    if (!found.empty()) ADD_FAILURE() << "sanitizer report of " << program_ << ":\n" << found;
    gchar *output = nullptr;
    if (g_file_get_contents(output_.c_str(), &output, nullptr, nullptr)) {
        const std::string criticals = critical_lines(output);
        g_free(output);
        if (!criticals.empty()) ADD_FAILURE() << "GTK or GLib critical of " << program_ << ":\n" << criticals;
    }
}

int GuiChild::wait(int timeout_ms)
{
    if (pid_ <= 0) return -1;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaled_ms(timeout_ms));
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) break;
        if (r < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() >= end) {
            kill(pid_, SIGKILL);
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {}
            pid_ = -1;
            check_reports();
            return -1;
        }
        // A child's end wakes nobody here: look again shortly.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    check_reports();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace lumba_test
