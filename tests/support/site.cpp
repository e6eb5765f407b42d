#include "site.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include "glib_criticals.h"
#include "sanitizer_reports.h"
#include "site_tree.h"
#include "zasm_run.h"

namespace lumba_test {

Site::Site()
{
    root_ = temporary_dir("lumba-test-XXXXXX");
    lay_site_tree(root_);
}

Site::~Site()
{
    remove_tree(root_);
}

namespace {

// The child's way into the site: the mount namespace, then the input file as standard input.
// Runs between fork and exec, so system calls only.
struct Entry {
    SiteEntry site;
    std::string input;
};

void enter(gpointer data)
{
    const auto *entry = static_cast<const Entry *>(data);
    const char *failed = enter_site(entry->site);
    const int in = failed ? -1 : open(entry->input.c_str(), O_RDONLY | O_CLOEXEC);
    if (!failed && (in < 0 || dup2(in, STDIN_FILENO) < 0)) failed = "cannot open the input";
    if (failed) {
        (void)!write(STDERR_FILENO, failed, strlen(failed));
        _exit(127);
    }
}

} // namespace

RunResult Site::run(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                    const std::string &input) const
{
    std::vector<char *> cargv;
    for (auto &a : argv) cargv.push_back(const_cast<char *>(a.c_str()));
    cargv.push_back(nullptr);

    char **envp = g_get_environ();
    envp = g_environ_setenv(envp, "LUMBA_SITE", root_.c_str(), TRUE);
    envp = g_environ_setenv(envp, "HOME", home().c_str(), TRUE);
    const std::string reports = root_ + "/sanitizer";
    g_mkdir_with_parents(reports.c_str(), 0755);
    envp = add_sanitizer_option(envp, "ASAN_OPTIONS", "log_path=" + reports + "/report");
    envp = add_sanitizer_option(envp, "UBSAN_OPTIONS", "log_path=" + reports + "/report");
    envp = add_sanitizer_option(envp, "LSAN_OPTIONS", std::string("suppressions=") + LUMBA_LSAN_SUPPRESSIONS);
    for (const auto &e : env) {
        auto eq = e.find('=');
        envp = g_environ_setenv(envp, e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), TRUE);
    }

    // The input goes through a file so that a command that never reads it cannot block us.
    Entry entry{site_entry(root_, g_environ_getenv(envp, "LUMBA_SITE_DEBUGGER")), root_ + "/stdin"};
    g_file_set_contents(entry.input.c_str(), input.c_str(), static_cast<gssize>(input.size()), nullptr);

    char *out = nullptr, *err = nullptr;
    int wait_status = 0;
    GError *error = nullptr;
    gboolean ok = g_spawn_sync(nullptr, cargv.data(), envp, G_SPAWN_SEARCH_PATH_FROM_ENVP, enter, &entry, &out,
                               &err, &wait_status, &error);
    g_strfreev(envp);
    if (!ok) {
        std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("cannot run " + argv.at(0) + ": " + message);
    }
    RunResult r{0, out ? out : "", err ? err : ""};
    g_free(out);
    g_free(err);
    r.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    const std::string found = take_sanitizer_reports(reports);
    if (!found.empty()) ADD_FAILURE() << "sanitizer report of " << argv.at(0) << ":\n" << found;
    // A run on an X server is a GUI run: a GTK or GLib critical in what it wrote fails the test.
    const bool gui = std::any_of(env.begin(), env.end(), [](const std::string &e) { return e.starts_with("DISPLAY="); });
    if (const std::string criticals = critical_lines(r.out + r.err); gui && !criticals.empty())
        ADD_FAILURE() << "GTK or GLib critical of " << argv.at(0) << ":\n" << criticals;
    return r;
}

RunResult Site::lumba(const std::vector<std::string> &args, const std::vector<std::string> &env) const
{
    std::vector<std::string> argv{LUMBA_RUN};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, env);
}

std::string report_message(const std::string &err)
{
    auto at = err.find("Message:  ");
    if (at == std::string::npos) return "";
    at += 10;
    return err.substr(at, err.find('\n', at) - at);
}

void Site::install_program(const std::string &name, const std::string &zasm_text) const
{
    write_file("oska/apps/unit0/.keep", "");
    zasm(zasm_text, oska() + "/apps/unit0/" + name);
}

void Site::install_example(const std::string &name) const
{
    write_file("oska/apps/unit0/" + name, read_bytes(std::string(LUMBA_EXAMPLES_DIR) + "/" + name + ".obj"));
}

void Site::write_file(const std::string &relative, const std::string &text) const
{
    std::string path = root_ + "/" + relative;
    char *dir = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(dir, 0755);
    g_free(dir);
    std::ofstream(path, std::ios::binary) << text;
}

std::string Site::read_file(const std::string &relative) const
{
    std::ifstream in(root_ + "/" + relative, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace lumba_test
