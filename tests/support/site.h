// A private site tree for tests that run lumba_run: each Site owns a temporary directory holding
// oska/ (bind-mounted over /usr/local/oska while a command runs), home/ (HOME) and mail/ (what the
// stub mail script recorded). Fixtures are written into oska() before run().
//
// In the sanitizer build a run's processes write their sanitizer reports into the site (whatever
// their exit status, which a leak report does not change for a run that fails anyway); run()
// makes the test fail on any report it finds. Leaks of third-party libraries are left out: by
// name those lsan.supp lists, and those whose stacks have no frame in this tree.
#pragma once

#include <string>
#include <vector>

#include "test_server.h"  // remove_tree

namespace lumba_test {

struct RunResult {
    int status;       // exit status, or 128 + signal
    std::string out;  // standard output
    std::string err;  // standard error
};

// The message line of the fatal report a run wrote on standard error, or "" when there is none.
std::string report_message(const std::string &err);

class Site {
public:
    Site();
    ~Site();
    Site(const Site &) = delete;
    Site &operator=(const Site &) = delete;

    const std::string &root() const { return root_; }
    std::string oska() const { return root_ + "/oska"; }
    std::string home() const { return root_ + "/home"; }

    // Runs argv inside the site; env holds extra "NAME=value" settings.
    RunResult run(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
                  const std::string &input = "") const;
    // Runs lumba_run (the build's own) with the arguments.
    RunResult lumba(const std::vector<std::string> &args, const std::vector<std::string> &env = {}) const;

    // Assembles zasm text into the site's program apps/unit0/<name>.
    void install_program(const std::string &name, const std::string &zasm_text) const;
    // Copies the assembled sample program examples/<name> into the site as apps/unit0/<name>.
    void install_example(const std::string &name) const;

    void write_file(const std::string &relative, const std::string &text) const;
    std::string read_file(const std::string &relative) const;

private:
    std::string root_;
};

} // namespace lumba_test
