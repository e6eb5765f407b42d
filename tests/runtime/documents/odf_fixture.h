// What the OpenDocument tests share: templates made by make_template.py, the independent reader
// odf_check.py (Python's zipfile and ElementTree, xmllint, file), the warnings the run-time shows,
// and a scratch directory per test.
#pragma once

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <initializer_list>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "hooks.h"

namespace odf_test {

namespace fs = std::filesystem;

// Runs argv (no shell) and gives its standard output; a failing status fails the test.
inline std::string run(const std::vector<std::string> &argv)
{
    int out[2];
    if (pipe(out) != 0) return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    std::string text;
    std::array<char, 4096> buffer;
    for (ssize_t n; (n = read(out[0], buffer.data(), buffer.size())) > 0;) text.append(buffer.data(), n);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << argv[1] << ": status " << status;
    return text;
}

inline std::string script(const char *name) { return std::string(LUMBA_ODF_FIXTURES) + "/" + name; }

// A template at path: the default parts of make_template.py, changed by args. The scripts run under
// Debian's python3 by its full path: a python3 found first on PATH may be a version manager's shim
// that costs a third of a second a start.
inline void make_template(const fs::path &path, std::initializer_list<std::string> args = {})
{
    std::vector<std::string> argv{"/usr/bin/python3", script("make_template.py"), path.string()};
    argv.insert(argv.end(), args);
    run(argv);
}

inline std::string check(std::initializer_list<std::string> args)
{
    std::vector<std::string> argv{"/usr/bin/python3", script("odf_check.py")};
    argv.insert(argv.end(), args);
    return run(argv);
}

// Several checks in one run of the reader (a Python start costs more than a check): their outputs
// in order.
inline std::vector<std::string> checks(const std::vector<std::vector<std::string>> &commands)
{
    std::vector<std::string> argv{"/usr/bin/python3", script("odf_check.py"), "batch"};
    for (const auto &c : commands) {
        if (argv.size() > 3) argv.push_back("--");
        argv.insert(argv.end(), c.begin(), c.end());
    }
    const std::string out = run(argv);
    std::vector<std::string> outputs;
    for (std::size_t from = 0, end; (end = out.find(std::string("\0\n", 2), from)) != std::string::npos; from = end + 2)
        outputs.push_back(out.substr(from, end - from));
    EXPECT_EQ(outputs.size(), commands.size()) << out;
    outputs.resize(commands.size());
    return outputs;
}

// What a well-made filled package looks like to the independent reader.
inline std::string conformant(const std::string &names)
{
    return "names: " + names + "\nfirst: mimetype stored extra=0\ntestzip: ok\nxmllint: ok\nfile: OpenDocument Text\n";
}
inline const char *const TEMPLATE_NAMES = "mimetype,META-INF/manifest.xml,content.xml,styles.xml,meta.xml";

// With LUMBA_SNAPSHOT_DIR set, a copy of the package stays there and its entries, content.xml
// and styles.xml are printed, to be looked at.
inline void look_at(const fs::path &package, const std::string &name)
{
    const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR");
    if (!dir || !*dir) return;
    const fs::path copy = fs::path(dir) / (name + ".odt");
    fs::copy_file(package, copy, fs::copy_options::overwrite_existing);
    std::printf("%s", check({"show", copy.string()}).c_str());
}

inline std::string contents(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The warnings shown (message boxes of kind "W"), kept while the object lives.
class Warnings {
public:
    Warnings()
    {
        WindowHooks hooks = window_hooks();
        hooks.message = [](const char *text, const char *) { shown().push_back(text); };
        saved_ = register_window_hooks(hooks);
        shown().clear();
    }
    ~Warnings() { register_window_hooks(saved_); }
    static std::vector<std::string> &shown()
    {
        static std::vector<std::string> list;
        return list;
    }

private:
    WindowHooks saved_;
};

// A scratch directory for one test, removed with it.
class Scratch {
public:
    Scratch()
    {
        char dir[] = "/tmp/odf-test.XXXXXX";
        path_ = mkdtemp(dir) ? dir : "";
    }
    ~Scratch() { fs::remove_all(path_); }
    const fs::path &path() const { return path_; }
    fs::path operator/(const std::string &name) const { return path_ / name; }

private:
    fs::path path_;
};

} // namespace odf_test
