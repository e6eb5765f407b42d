// Libraries a program may never use come in modules opened on their first use (core/modules.h):
// the real lumba_run starts without them, and a program installed with its modules beside it
// takes them from there.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "intrinsics.h"
#include "program_text.h"
#include "site.h"

using lumba_test::Site;

namespace {

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// Main with a 40-byte character area, URL-encoding a text into it.
const std::string ENCODE = ".proc r:main I:0 I:0 I:1 I:40 I:0 I:0\n" + lumba_test::str("a b") +
                           lumba_test::sfn(in_IURL_ENCODE, 1) + "storsd I:0 I:1 I:40 I:0 I:0 I:0 I:0 I:0\nexit\n";

} // namespace

TEST(ModulesRun, HelloLoadsNoLibraryItDoesNotUse)
{
    Site site;
    site.install_example("hello");
    auto r = site.lumba({"-b", "hello", "0"}, {"LD_DEBUG=files"});
    EXPECT_EQ(r.status, 0) << r.err;
    // The loader's trace names every object it loads, the program's own shared library among them.
    ASSERT_TRUE(has(r.err, "file=liblumba-common.so")) << r.err;
    for (const char *library : {"file=libavformat.", "file=libavcodec.", "file=libswscale.", "file=libpq.",
                                "file=libldap", "file=liblber", "file=libtls.", "file=libcurl.", "/lib/lumba/"})
        EXPECT_FALSE(has(r.err, library)) << library;
}

TEST(ModulesRun, AnInstalledProgramTakesTheModulesBesideIt)
{
    namespace fs = std::filesystem;
    Site site;
    const std::string prefix = site.root() + "/prefix", program = prefix + "/bin/lumba_run";
    const std::string module = prefix + "/lib/lumba/lumba-libcurl.so";
    fs::create_directories(prefix + "/bin");
    fs::create_directories(prefix + "/lib/lumba");
    fs::copy_file(LUMBA_RUN, program);
    site.install_program("encode", ENCODE);

    // What stands in the module's place is what the program loads, and refuses when it is none.
    site.write_file("prefix/lib/lumba/lumba-libcurl.so",
                    "This file stands where a module would be and is no shared object: loading it must fail.\n");
    auto r = site.run({program, "-b", "encode", "0"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(lumba_test::report_message(r.err), "URL encoding not available: " + module + ": invalid ELF header");

    fs::copy_file(LUMBA_MODULE_BUILD_DIR "/lumba-libcurl.so", module, fs::copy_options::overwrite_existing);
    r = site.run({program, "-b", "encode", "0"}, {"LD_DEBUG=files"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.err, "file=" + module)) << r.err;
    EXPECT_TRUE(has(r.err, "file=libcurl.so")) << r.err;
}
