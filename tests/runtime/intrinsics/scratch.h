// A scratch directory per test, with helpers to write and read files in it.
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

// The first line a command prints, for oracles that answer in one line.
inline std::string first_line_of(const std::string &output) { return output.substr(0, output.find('\n')); }

} // namespace lumba_test
