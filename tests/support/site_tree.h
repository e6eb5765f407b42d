// The private site tree of tests and what puts a process inside it: shared by Site (site.h), which
// runs each command in the tree, and the with_site runner, which runs a whole test program there.
// Both work without a shell: on the machines CI runs on, every process started costs tens of
// milliseconds, and a test starts many.
#pragma once

#include <string>

namespace lumba_test {

// Lays out a site tree at root unless root/oska exists already (a tree laid by an earlier run is
// kept, with what was put into it): oska/ as the source tree's site/ skeleton with log/, temp/
// (world-writable and sticky, as on a real site), crash/, scripts/ (the stub mail script as the
// site's mail script), bin/ and apps/unit0/; home/.oska/; mail/. Throws std::runtime_error.
void lay_site_tree(const std::string &root);

// What a process needs to enter a site, made before a fork so that the child only makes system
// calls. The debugger that adds its stack trace to every fatal report takes seconds a report and
// its trace is read by one test only: inside a site /usr/bin/gdb is /bin/true, which leaves the
// trace out as a missing debugger would, unless LUMBA_SITE_DEBUGGER=gdb asks for the real one
// (debugger_wanted: that variable's value, or nullptr).
struct SiteEntry {
    std::string oska;  // the tree's oska/, bind-mounted over /usr/local/oska
    enum class Debugger { stub, real, none } debugger;
};
SiteEntry site_entry(const std::string &root, const char *debugger_wanted);

// In a process about to exec (a forked child: system calls only): a private mount namespace with
// the tree over /usr/local/oska and the debugger as entry says (a site inside another one's
// namespace takes the outer stub away when it wants the real debugger). Answers nullptr, or what
// failed.
const char *enter_site(const SiteEntry &entry);

} // namespace lumba_test
