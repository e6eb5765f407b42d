#include "sanitizer_reports.h"

#include <sstream>

#include <glib/gstdio.h>

namespace lumba_test {

char **add_sanitizer_option(char **envp, const char *name, const std::string &option)
{
    const char *old = g_environ_getenv(envp, name);
    const std::string value = old && *old ? std::string(old) + ":" + option : option;
    return g_environ_setenv(envp, name, value.c_str(), TRUE);
}

namespace {

// True when some leak of a LeakSanitizer report was made through the run-time's own code (a frame
// in its tree). Leaks of the libraries below GTK that lsan.supp cannot name, because their frames
// end in a library built without frame pointers, have none and are not the run-time's.
bool own_leak(const std::string &report)
{
    std::istringstream lines(report);
    std::string line;
    bool in_leak = false;
    while (std::getline(lines, line)) {
        if (line.find("leak of ") != std::string::npos) in_leak = true;
        if (line.empty()) in_leak = false;
        if (in_leak && line.find(LUMBA_SOURCE_DIR) != std::string::npos) return true;
    }
    return false;
}

} // namespace

// The sanitizer reports in dir (errors, not warnings), removed once read.
std::string take_sanitizer_reports(const std::string &dir)
{
    std::string reports;
    GDir *d = g_dir_open(dir.c_str(), 0, nullptr);
    if (!d) return reports;
    while (const char *name = g_dir_read_name(d)) {
        const std::string path = dir + "/" + name;
        char *text = nullptr;
        if (g_file_get_contents(path.c_str(), &text, nullptr, nullptr)) {
            const std::string report(text);
            const bool leaks_only = report.find("ERROR: LeakSanitizer") != std::string::npos &&
                                    report.find("ERROR: AddressSanitizer") == std::string::npos &&
                                    report.find("runtime error") == std::string::npos;
            if (leaks_only ? own_leak(report)
                           : report.find("ERROR:") != std::string::npos || report.find("runtime error") != std::string::npos)
                reports += report + "\n";
        }
        g_free(text);
        g_unlink(path.c_str());
    }
    g_dir_close(d);
    return reports;
}

} // namespace lumba_test
