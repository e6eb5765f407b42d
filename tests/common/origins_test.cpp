// Include-file versions and loaded files: the lists and their object-file sections.
#include <gtest/gtest.h>

#include <string>

#include "globals.h"
#include "section_fixtures.h"
#include "symtab.h"
#include "test_host.h"

using lumba_test::abort_text;
using lumba_test::feed_object;

TEST(IncludeVersions, CommentTag)
{
    EXPECT_STREQ(ParseCommentInclV("REM INCLV:2.3 stable"), "2.3 stable");
    EXPECT_STREQ(ParseCommentInclV("INCLV:"), "");
    EXPECT_STREQ(ParseCommentInclV("a INCLV:1 INCLV:2"), "1 INCLV:2");
    EXPECT_EQ(ParseCommentInclV("REM INCLV 2.3"), nullptr);
    EXPECT_EQ(ParseCommentInclV(nullptr), nullptr);
}

TEST(IncludeVersions, AddKeepsTheFirstVersion)
{
    EXPECT_EQ(AddInclV("iv_a.inc", "2.3"), 0);
    EXPECT_EQ(AddInclV("iv_a.inc", "2.3"), 0);
    EXPECT_EQ(AddInclV("iv_b.inc", "1.0"), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(AddInclV("iv_a.inc", "2.4"), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Include file version mismatch! [iv_a.inc, old 2.3, new 2.4]\n");
    ASSERT_NE(FindInclV("iv_a.inc"), nullptr);
    EXPECT_EQ(FindInclV("iv_a.inc")->vers, "2.3");
    EXPECT_EQ(FindInclV("iv_A.inc"), nullptr);
    int a = 0, b = 0;
    for (const InclVers_t *v = included_files; v; v = v->nxt) {
        a += v->fn == "iv_a.inc";
        b += v->fn == "iv_b.inc";
    }
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(last_added->fn, "iv_b.inc");
}

TEST(IncludeVersions, SaveWritesTheSectionAndListsUnlessQuiet)
{
    AddInclV("iv_save.inc", "7");
    int n = 0;
    std::string entries;
    for (const InclVers_t *v = included_files; v; v = v->nxt, ++n) entries += v->fn + " => " + v->vers + "\n";
    quiet = 1;
    testing::internal::CaptureStdout();
    std::string section = fixtures::stream_text([](std::FILE *f) { SaveInclV(f); });
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(section, "__INCL_VERS__ " + std::to_string(n) + "\n" + entries);

    quiet = 0;
    testing::internal::CaptureStdout();
    fixtures::stream_text([](std::FILE *f) { SaveInclV(f); });
    std::string listing = testing::internal::GetCapturedStdout();
    quiet = 1;
    EXPECT_EQ(listing.rfind("Include file Versions\n", 0), 0u);
    char line[128];
    std::snprintf(line, sizeof line, "%-40s %s\n", "iv_save.inc", "7");
    EXPECT_NE(listing.find(line), std::string::npos) << listing;

    // What was written reads back.
    feed_object(section + "X", 5);
    parse_inclvstrings();
    EXPECT_EQ(*obj_ptr, 'X');
}

TEST(IncludeVersions, SectionIsPassedOver)
{
    for (std::size_t block : {1, 2, 7, 2048}) {
        feed_object(fixtures::inclv_two + "X", block);
        parse_inclvstrings();
        ASSERT_NE(obj_ptr, obj_end) << block;
        EXPECT_EQ(*obj_ptr, 'X') << block;
    }
    feed_object("__INCL_VERS__ 0\nX");
    parse_inclvstrings();
    EXPECT_EQ(*obj_ptr, 'X');
}

TEST(IncludeVersions, MalformedSectionsAreRefused)
{
    struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"__INCL_VERS__\n", "Malformed include file version section - possible old object [__INCL_VERS__]\n"},
        {"__LOADED_FILES__ 1\n", "Malformed include file version section - possible old object [__LOADED_FILES__ 1]\n"},
        {"__INCL_VERS__ 1" + std::string(1100, ' ') + "\n",
         "Malformed include file version section - possible old object [__INCL_VERS__ 1" + std::string(1023 - 15, ' ') +
             "]\n"},
        {"__INCL_VERS__ 1\n" + std::string(1024, 'x') + "\n",
         "Malformed include file version section - possible old object [" + std::string(1023, 'x') + "]\n"},
        {"__INCL_VERS__ 2\na => 1\n", "Binary corrupted: incomplete object file"},
        {"__INCL_VERS__ 1\na => 1", "Binary corrupted: incomplete object file"},
        {"__INCL_VERS__ 2000000000\n" + std::string("a => 1\0", 7), "Binary corrupted: incomplete object file"},
        {"", "Binary corrupted: incomplete object file"},
    };
    for (const auto &c : cases) {
        feed_object(c.text, 3);
        EXPECT_EQ(abort_text([] { parse_inclvstrings(); }), c.message);
    }
}

TEST(LoadedFiles, IdsFollowFirstAppearance)
{
    LoadedFiles_t *list = nullptr;
    EXPECT_EQ(AddLoadedFile("a", &list), 0);
    EXPECT_EQ(AddLoadedFile("b", &list), 1);
    EXPECT_EQ(current_loaded_file, 1);
    EXPECT_EQ(AddLoadedFile("a", &list), 0);
    EXPECT_EQ(current_loaded_file, 0);
    EXPECT_EQ(FindLoadedFile("b", &list), 1);
    EXPECT_EQ(FindLoadedFile("c", &list), -1);
    EXPECT_STREQ(FindLoadedFileExIndex(1, &list), "b");
    EXPECT_STREQ(FindLoadedFileExIndex(2, &list), "unknown");
    EXPECT_STREQ(FindLoadedFileExIndex(-1, &list), "unknown");

    EXPECT_EQ(fixtures::stream_text([&](std::FILE *f) { PrintLoadedFiles(f, 0, &list); }),
              "__LOADED_FILES__ 2\na\nb\n");
    EXPECT_EQ(fixtures::stream_text([&](std::FILE *f) { PrintLoadedFiles(f, 1, &list); }),
              "__LOADED_FILES__ 2\n0\ta\n1\tb\n");
    DeleteLoadedFiles(&list);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(fixtures::stream_text([&](std::FILE *f) { PrintLoadedFiles(f, 0, &list); }), "__LOADED_FILES__ 0\n");
}

TEST(LoadedFiles, SectionReadsTheSameForEveryChunkSize)
{
    for (std::size_t block : {1, 2, 7, 2048}) {
        LoadedFiles_t *list = nullptr;
        feed_object(fixtures::loaded_three + "X", block);
        parse_LoadedFiles(1, &list);
        EXPECT_EQ(fixtures::stream_text([&](std::FILE *f) { PrintLoadedFiles(f, 1, &list); }),
                  "__LOADED_FILES__ 3\n0\tmain.src\n1\tlib/util.src\n2\tforms.src\n")
            << block;
        EXPECT_EQ(*obj_ptr, 'X') << block;
        DeleteLoadedFiles(&list);
    }
}

TEST(LoadedFiles, CountZeroAndSkipping)
{
    LoadedFiles_t *list = nullptr;
    feed_object("__LOADED_FILES__ 0\nX");
    parse_LoadedFiles(1, &list);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(*obj_ptr, 'X');
    feed_object(fixtures::loaded_three + "X", 2);
    parse_LoadedFiles(0, &list);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(*obj_ptr, 'X');
    // A name with blanks is the whole line.
    feed_object("__LOADED_FILES__ 1\nmy file.src\n");
    parse_LoadedFiles(1, &list);
    EXPECT_EQ(FindLoadedFile("my file.src", &list), 0);
    DeleteLoadedFiles(&list);
}

TEST(LoadedFiles, MalformedSectionsAreRefused)
{
    struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"__LOADED_FILES__\n", "Malformed loadedfiles section - possible old object [__LOADED_FILES__]\n"},
        {"__LOADED__ 1\n", "Malformed loadedfiles section - possible old object [__LOADED__ 1]\n"},
        {"__LOADED_FILES__ 1\n" + std::string(2048, 'f') + "\n",
         "Malformed loadedfiles section - possible old object [" + std::string(2047, 'f') + "]\n"},
        {"__LOADED_FILES__ 3\na\nb\n", "Binary corrupted: incomplete object file"},
        {"__LOADED_FILES__ 1\na", "Binary corrupted: incomplete object file"},
        // A NUL byte ends its line and is used up: a huge count cannot be read from no bytes.
        {"__LOADED_FILES__ 2000000000\n" + std::string("a\0b\0", 4), "Binary corrupted: incomplete object file"},
    };
    for (const auto &c : cases) {
        LoadedFiles_t *list = nullptr;
        feed_object(c.text, 7);
        EXPECT_EQ(abort_text([&] { parse_LoadedFiles(1, &list); }), c.message);
        DeleteLoadedFiles(&list);
    }
    // A name of 2047 characters still fits.
    LoadedFiles_t *list = nullptr;
    feed_object("__LOADED_FILES__ 1\n" + std::string(2047, 'f') + "\n");
    parse_LoadedFiles(1, &list);
    EXPECT_EQ(FindLoadedFile(std::string(2047, 'f').c_str(), &list), 0);
    DeleteLoadedFiles(&list);
}
