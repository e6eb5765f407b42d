// The style tags tokeniser and the extraction of attribute names and values, reading the site's
// conf/tags written by each test (the program runs in a private site tree).
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "mem_mgt.h"
#include "run_time.h"
#include "style_tags.h"
#include "test_host.h"

namespace {

using lumba_test::abort_text;

void write_tags(const std::string &text)
{
    std::ofstream(std::string(PPATH_ROOT) + "/conf/tags", std::ios::binary | std::ios::trunc) << text;
}

// The open tags file and the tag buffer, released however the reading ends.
struct Reading {
    std::FILE *file = postscript_print_tags_open_file();
    char *buffer = nullptr;
    ~Reading()
    {
        std::fclose(file);
        DpsRealloc(buffer, 0);
    }
};

// Every tag of the file, as the tokeniser hands them over.
std::vector<std::string> all_tags(const std::string &text)
{
    write_tags(text);
    Reading r;
    std::vector<std::string> tags;
    while (postscript_print_tags_get_tag(r.file, &r.buffer)) tags.emplace_back(r.buffer);
    return tags;
}

struct TagCase {
    const char *what;
    std::string file;
    std::vector<std::string> tags;
};

TEST(StyleTagsTokeniser, HandsOverEachTagWithoutBlanksAndComments)
{
    const std::string long_name = "mtag_" + std::string(60, 'x');
    const TagCase cases[] = {
        {"blanks and line ends between the parts go", "mtag_a {\n  print-size : 10pt ;\n\tprint-weight: bold;\n}\n",
         {"mtag_a{print-size:10pt;print-weight:bold;"}},
        {"quoted text keeps its blanks and quotes", "mtag_w { watermark-text: \"Not a copy: 1\"; }",
         {"mtag_w{watermark-text:\"Not a copy: 1\";"}},
        {"a comment runs to the line end, a single slash is text",
         "// heading } with a brace\nmtag_c { print-size: 1/2pt; // trailing\n}\n", {"mtag_c{print-size:1/2pt;"}},
        {"after a comment the slash before it does not start another",
         "mtag_d{a:b;//x\n/e;}", {"mtag_d{a:b;/e;"}},
        {"several tags in one chunk, and tags over many chunks",
         "mtag_1{a:b;}mtag_2{c:d;}" + std::string("mtag_") + std::string(60, 'x') + "{e:f;}",
         {"mtag_1{a:b;", "mtag_2{c:d;", long_name + "{e:f;"}},
        {"the text after the last brace is ignored", "mtag_a{a:b;}\nmtag_b{c:d;", {"mtag_a{a:b;"}},
        {"a brace ends the tag also inside quotes", "mtag_q{watermark-text:\"a}b\";}",
         {"mtag_q{watermark-text:\"a", "b\";"}},
        {"an empty tag ends the reading", "mtag_a{a:b;}  }mtag_b{c:d;}", {"mtag_a{a:b;"}},
        {"an empty file has no tag", "", {}},
    };
    for (const TagCase &c : cases) EXPECT_EQ(all_tags(c.file), c.tags) << c.what;
}

TEST(StyleTagsTokeniser, TwoSlashesInsideQuotesStopTheRun)
{
    EXPECT_EQ(abort_text([] { all_tags("mtag_w{watermark-text:\"http://x\";}"); }),
              "Missmatched quotes in format tag attribute: '/x\";}'");
    postscript_print_tags_get_tag(nullptr, nullptr);
}

TEST(StyleTagsTokeniser, ANullFileForgetsWhatFollowedTheLastBrace)
{
    write_tags("mtag_a{a:b;}mtag_b{c:d;}");
    {
        Reading r;
        ASSERT_EQ(postscript_print_tags_get_tag(r.file, &r.buffer), 1);
        EXPECT_STREQ(r.buffer, "mtag_a{a:b;");
        // Stopping early: without the reset the next reader would first get "mtag_b{c:d;".
        EXPECT_EQ(postscript_print_tags_get_tag(nullptr, &r.buffer), 1);
    }
    EXPECT_EQ(all_tags("mtag_z{e:f;}"), std::vector<std::string>{"mtag_z{e:f;"});
}

TEST(StyleTagsTokeniser, AMissingFileStopsTheRun)
{
    std::remove((std::string(PPATH_ROOT) + "/conf/tags").c_str());
    EXPECT_EQ(abort_text([] { postscript_print_tags_open_file(); }),
              "Cannot open style tags configuration file " PPATH_ROOT "/conf/tags");
}

struct ValueCase {
    const char *input;
    char delimiter;
    int quotes;
    const char *value;   // nullptr: the run stops with message
    const char *rest;    // the text after the delimiter
    std::string message;
};

TEST(StyleTagsValue, ExtractsNamesAndValues)
{
    const std::string longest(55, 'v'), too_long(56, 'v');
    const std::string fits = longest + ";x", overflows = too_long + ";x";
    const ValueCase cases[] = {
        {"print-size:10pt;", ':', 0, "print-size", "10pt;", ""},
        {"10pt;screen-size:8pt;", ';', 0, "10pt", "screen-size:8pt;", ""},
        {"\"a: b; c\";next", ';', 1, "a: b; c", "next", ""},
        {"x\"a\";", ';', 1, "xa", "", ""},
        {fits.c_str(), ';', 0, longest.c_str(), "x", ""},
        {"\"a\";", ';', 0, nullptr, "", "Found a '\"' in a format tag '\"a\";' attribute where one is not allowed"},
        {"\"a\"\"b\";", ';', 1, nullptr, "", "Found too many '\"' characters in format tag '\"a\"\"b\";' attributes"},
        {"\"a\"b;", ';', 1, nullptr, "", "Found unexpected character following quoted tag 'b;' attribute"},
        {"bold:x;", ';', 0, nullptr, "", "Found unexpected delimiter in Style Tag attribute ':x;'"},
        {"print-size;", ':', 0, nullptr, "", "Found unexpected delimiter in Style Tag attribute ';'"},
        {overflows.c_str(), ';', 0, nullptr, "", "Format Tag attribute value '" + overflows + "' exceeds buffer size"},
        {"bold", ';', 0, nullptr, "", "Found unexpected string termination in Style Tag"},
        {"\"bold;", ';', 1, nullptr, "", "Found unexpected string termination in Style Tag"},
    };
    for (const ValueCase &c : cases) {
        char out[56];
        const char *rest = nullptr;
        const std::string message =
            abort_text([&] { rest = postscript_get_style_tag_value(out, c.input, c.delimiter, sizeof out, c.quotes); });
        EXPECT_EQ(message, c.message) << c.input;
        if (c.value && message.empty()) {
            EXPECT_STREQ(out, c.value) << c.input;
            EXPECT_STREQ(rest, c.rest) << c.input;
        }
    }
}

} // namespace
