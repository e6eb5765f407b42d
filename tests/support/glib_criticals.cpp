#include "glib_criticals.h"

#include <sstream>

#include <glib.h>
#include <gtest/gtest.h>

namespace lumba_test {
namespace {

std::string field_text(const GLogField &f)
{
    if (!f.value) return {};
    const auto *text = static_cast<const char *>(f.value);
    return f.length < 0 ? std::string(text) : std::string(text, static_cast<std::size_t>(f.length));
}

// Every message of the process passes here: GLib's own g_log and g_return_if_fail as well as the
// structured log of GTK. What is not critical goes on to GLib's writer unchanged.
GLogWriterOutput fail_on_critical(GLogLevelFlags level, const GLogField *fields, gsize n, gpointer)
{
    if (level & G_LOG_LEVEL_CRITICAL) {
        std::string domain, message;
        for (gsize i = 0; i < n; ++i) {
            if (g_strcmp0(fields[i].key, "GLIB_DOMAIN") == 0) domain = field_text(fields[i]);
            else if (g_strcmp0(fields[i].key, "MESSAGE") == 0) message = field_text(fields[i]);
        }
        ADD_FAILURE() << (domain.empty() ? "" : domain + "-") << "CRITICAL: " << message;
    }
    return g_log_writer_default(level, fields, n, nullptr);
}

} // namespace

std::string critical_lines(const std::string &output)
{
    std::istringstream in(output);
    std::string line, found;
    while (std::getline(in, line))
        if (line.find("CRITICAL **") != std::string::npos) found += line + "\n";
    return found;
}

void fail_on_criticals()
{
    static const bool installed = [] {
        g_log_set_writer_func(fail_on_critical, nullptr, nullptr);
        return true;
    }();
    (void)installed;
}

} // namespace lumba_test
