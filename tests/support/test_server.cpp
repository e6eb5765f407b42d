#include "test_server.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <net/if.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <glib.h>
#include <glib/gstdio.h>

#include "test_time.h"

extern char **environ;

namespace lumba_test {

namespace {

// How often a start looks again whether the server answers, and a stop whether it has gone.
constexpr auto POLL = std::chrono::milliseconds(10);

// True once pid has ended (reaped here, or no child of this process any more).
bool ended(pid_t pid)
{
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    return r == pid || (r < 0 && errno == ECHILD);
}

}  // namespace

std::string temporary_dir(const char *pattern)
{
    char *d = g_dir_make_tmp(pattern, nullptr);
    if (!d) throw std::runtime_error(std::string("cannot make a temporary directory ") + pattern);
    std::string dir = d;
    g_free(d);
    return dir;
}

void remove_tree(const std::string &path)
{
    GDir *dir = g_dir_open(path.c_str(), 0, nullptr);
    if (dir) {
        while (const char *name = g_dir_read_name(dir)) {
            std::string child = path + "/" + name;
            if (g_file_test(child.c_str(), G_FILE_TEST_IS_DIR) && !g_file_test(child.c_str(), G_FILE_TEST_IS_SYMLINK))
                remove_tree(child);
            else
                g_unlink(child.c_str());
        }
        g_dir_close(dir);
    }
    g_rmdir(path.c_str());
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool only_loopback()
{
    std::unique_ptr<struct if_nameindex, void (*)(struct if_nameindex *)> names(if_nameindex(), if_freenameindex);
    if (!names) return false;
    for (const struct if_nameindex *n = names.get(); n->if_index != 0; ++n)
        if (std::strcmp(n->if_name, "lo") != 0) return false;
    return true;
}

ToolOutput run_tool(const std::vector<std::string> &argv, const std::string &cwd)
{
    std::vector<char *> cargv;
    for (const auto &a : argv) cargv.push_back(const_cast<char *>(a.c_str()));
    cargv.push_back(nullptr);
    char *out = nullptr, *err = nullptr;
    int status = 0;
    GError *error = nullptr;
    const gboolean spawned = g_spawn_sync(cwd.empty() ? nullptr : cwd.c_str(), cargv.data(), nullptr,
                                          G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err, &status, &error);
    ToolOutput o{spawned && WIFEXITED(status) && WEXITSTATUS(status) == 0, out ? out : "", err ? err : ""};
    if (!spawned) {
        o.err = error->message;
        g_error_free(error);
    }
    g_free(out);
    g_free(err);
    return o;
}

ServerProcess::~ServerProcess() { stop(); }

void ServerProcess::start(const std::vector<std::string> &argv, const std::string &output,
                          const std::function<bool()> &answers)
{
    if (running()) return;
    std::vector<char *> cargv;
    for (const auto &a : argv) cargv.push_back(const_cast<char *>(a.c_str()));
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawn(&pid_, cargv[0], &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }
    owner_ = getpid();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaled_ms(WAIT_MS));
    while (!answers()) {
        if (ended(pid_)) {
            pid_ = -1;
            throw std::runtime_error(argv[0] + " ended at start:\n" + read_file(output));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            stop();
            throw std::runtime_error(argv[0] + " did not answer in time:\n" + read_file(output));
        }
        std::this_thread::sleep_for(POLL);
    }
}

void ServerProcess::stop()
{
    if (!running() || getpid() != owner_) return;
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaled_ms(WAIT_MS));
    while (!ended(pid_)) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {}
            break;
        }
        std::this_thread::sleep_for(POLL);
    }
    pid_ = -1;
}

}  // namespace lumba_test
