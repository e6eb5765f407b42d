// Running a program of the system (an oracle such as sed or date) from a test: no shell, the
// arguments as given, extra environment settings and a text on its standard input.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include <gio/gio.h>

namespace lumba_test {

// The standard output of argv run with env added to the environment and input on its standard
// input; "" (and a test failure) when it cannot run or does not end successfully.
inline std::string command_output(const std::vector<std::string> &argv,
                                  const std::vector<std::pair<std::string, std::string>> &env,
                                  const std::string &input = "")
{
    GSubprocessLauncher *launcher = g_subprocess_launcher_new(
        static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE));
    for (const auto &[name, value] : env) g_subprocess_launcher_setenv(launcher, name.c_str(), value.c_str(), TRUE);
    std::vector<const char *> args;
    for (const auto &a : argv) args.push_back(a.c_str());
    args.push_back(nullptr);
    GError *error = nullptr;
    GSubprocess *p = g_subprocess_launcher_spawnv(launcher, args.data(), &error);
    g_object_unref(launcher);
    EXPECT_NE(p, nullptr) << argv[0] << ": " << (error ? error->message : "");
    if (!p) {
        g_clear_error(&error);
        return "";
    }
    GBytes *in = g_bytes_new(input.data(), input.size()), *out = nullptr;
    EXPECT_TRUE(g_subprocess_communicate(p, in, nullptr, &out, nullptr, &error)) << (error ? error->message : "");
    g_clear_error(&error);
    g_bytes_unref(in);
    EXPECT_TRUE(g_subprocess_get_successful(p)) << argv[0] << " failed";
    g_object_unref(p);
    gsize size = 0;
    const char *data = out ? static_cast<const char *>(g_bytes_get_data(out, &size)) : nullptr;
    std::string s(data ? data : "", data ? size : 0);
    if (out) g_bytes_unref(out);
    return s;
}

} // namespace lumba_test
