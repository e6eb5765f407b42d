// A fixture for image fields, buttons and the choosers in-process: the keys fixture (a live form,
// routines that log what they get, keys through the dispatcher) with the image kind's own rows,
// a scratch directory per test, and pictures made there by ImageMagick's convert and read back by
// identify, the same outside tool the run-time uses.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keys_fixture.h"

namespace pictures_test {

// Runs a program (argument vector, no shell); its standard output, or "" with *ok false.
std::string run(const std::vector<std::string> &argv, bool *ok = nullptr);
// A picture of width x height in one colour ("red", "#00ff00"); the format follows the extension
// unless format ("PNG", "GIF", ...) names it.
void make_picture(const std::string &path, int width, int height, const std::string &colour,
                  const std::string &format = "");
// identify -format text of a picture ("%m", "%w %h", "%[pixel:p{0,0}]").
std::string identify(const std::string &path, const std::string &format);
// The file's bytes' SHA-256, or "" when it cannot be read.
std::string checksum(const std::string &path);
bool exists(const std::string &path);

} // namespace pictures_test

class PicturesTest : public KeysTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // The scratch directory (no trailing "/"); the run's current directory during the test.
    std::string dir;

private:
    std::string saved_cwd;
};
