// Sanitizer reports of the processes a test starts (lumba_run in a site, GUI children): each
// process is told to write its reports into a directory of the test's (log_path), which the test
// reads when the process has ended and fails on. Leaks of third-party libraries are left out: by
// name those lsan.supp lists, and those whose stacks have no frame in this tree.
#pragma once

#include <string>

// LUMBA_ASAN: this is the sanitizer build (GCC says so with __SANITIZE_ADDRESS__, clang through
// __has_feature).
#if defined(__SANITIZE_ADDRESS__)
#define LUMBA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMBA_ASAN 1
#endif
#endif

#include <glib.h>

namespace lumba_test {

// Appends option to the sanitizer options in variable name ("ASAN_OPTIONS") of envp.
char **add_sanitizer_option(char **envp, const char *name, const std::string &option);
// The reports in dir that are errors (not warnings, nor leaks of other libraries' own), each file
// removed once read; "" when there is none.
std::string take_sanitizer_reports(const std::string &dir);

} // namespace lumba_test
