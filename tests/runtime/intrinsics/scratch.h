// A scratch directory per test, with helpers to write and read files in it, and the output of a
// command line the test writes itself.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <glib.h>

namespace lumba_test {

class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        char *d = g_dir_make_tmp("lumba-scratch-XXXXXX", nullptr);
        dir = d;
        g_free(d);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string at(const std::string &name) const { return dir + "/" + name; }
    void write(const std::string &name, const std::string &bytes) const
    {
        std::ofstream(at(name), std::ios::binary) << bytes;
    }
    std::string read(const std::string &name) const
    {
        std::ifstream in(at(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string dir;
};

// Standard output of command (no program data in it), without its final line ends; the command
// must succeed.
inline std::string output_of(const std::string &command)
{
    gchar *out = nullptr;
    gint status = 0;
    EXPECT_TRUE(g_spawn_command_line_sync(command.c_str(), &out, nullptr, &status, nullptr)) << command;
    std::string s = out ? out : "";
    g_free(out);
    EXPECT_EQ(status, 0) << command;
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

} // namespace lumba_test
