// with_site COMMAND [ARGS...]
// Runs COMMAND in a private mount namespace in which a fresh site tree is bind-mounted over
// /usr/local/oska, with HOME in the tree, so tests never touch a real site and can run in parallel
// (site_tree.h: the tree, and the debugger left out unless LUMBA_SITE_DEBUGGER=gdb).
//
// The tree lives in $LUMBA_SITE_DIR when the caller sets it (the caller owns and removes it; it
// holds oska/, home/ and mail/ afterwards), else in a temporary directory removed at the end.
// COMMAND sees LUMBA_SITE=<tree>. The exit status is COMMAND's (128 + the signal that ended it).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "site_tree.h"

namespace {

int wait_status(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return 127;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: with_site COMMAND [ARGS...]\n");
        return 2;
    }
    std::string root;
    const char *given = std::getenv("LUMBA_SITE_DIR");
    const bool own = !given || !*given;
    if (own) {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/lumba-site.XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("with_site: mkdtemp");
            return 127;
        }
        root = pattern;
    } else {
        root = given;
    }
    try {
        lumba_test::lay_site_tree(root);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "with_site: %s\n", e.what());
        return 127;
    }
    setenv("LUMBA_SITE", root.c_str(), 1);
    setenv("HOME", (root + "/home").c_str(), 1);
    const lumba_test::SiteEntry entry = lumba_test::site_entry(root, std::getenv("LUMBA_SITE_DEBUGGER"));

    const pid_t child = fork();
    if (child < 0) {
        std::perror("with_site: fork");
        return 127;
    }
    if (child == 0) {
        if (const char *failed = lumba_test::enter_site(entry)) {
            std::fprintf(stderr, "with_site: %s: %s\n", failed, std::strerror(errno));
            _exit(127);
        }
        execvp(argv[1], argv + 1);
        std::fprintf(stderr, "with_site: cannot run %s: %s\n", argv[1], std::strerror(errno));
        _exit(127);
    }
    const int status = wait_status(child);
    std::error_code ignored;
    if (own) std::filesystem::remove_all(root, ignored);
    return status;
}
