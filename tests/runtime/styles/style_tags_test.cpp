// The style tags tokeniser and the extraction of attribute names and values, reading the site's
// conf/tags written by each test (the program runs in a private site tree).
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "mem_mgt.h"
#include "read_error.h"
#include "run_time.h"
#include "style_tags.h"

namespace {

void write_tags(const std::string &text)
{
    std::ofstream(std::string(PPATH_ROOT) + "/conf/tags", std::ios::binary | std::ios::trunc) << text;
}

int code(StyleTagCode c) { return static_cast<int>(c); }

// The open tags file and the tag buffer, released however the reading ends.
struct Reading {
    std::FILE *file = nullptr;
    char *buffer = nullptr;
    Reading()
    {
        const ReadError error = postscript_print_tags_open_file(&file);
        EXPECT_FALSE(error) << error.message;
    }
    ~Reading()
    {
        if (file) std::fclose(file);
        DpsRealloc(buffer, 0);
    }
    // The next tag's text and where it begins in the file; false at the end of the file or on a
    // fault (then in error).
    bool next(std::size_t *offset = nullptr)
    {
        int found = 0;
        error = postscript_print_tags_get_tag(file, &buffer, &found, offset);
        return !error && found;
    }
    ReadError error;
};

// Every tag of the file, as the tokeniser hands them over.
std::vector<std::string> all_tags(const std::string &text)
{
    write_tags(text);
    Reading r;
    std::vector<std::string> tags;
    while (r.next()) tags.emplace_back(r.buffer);
    EXPECT_FALSE(r.error) << r.error.message;
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

TEST(StyleTagsTokeniser, EachTagKnowsWhereItBeginsInTheFile)
{
    // The second tag begins in the text carried over from the first chunk, the third in the
    // second chunk.
    write_tags("// c\nmtag_a{a:b;}\n  mtag_b{c:d;}\tmtag_" + std::string(40, 'x') + "{e:f;}");
    Reading r;
    std::vector<std::size_t> offsets;
    for (std::size_t at = 0; r.next(&at);) offsets.push_back(at);
    EXPECT_EQ(offsets, (std::vector<std::size_t>{5, 20, 33}));
}

// "//" inside quotes is refused where it stands, and the text after it is forgotten: the next
// reading begins with its own file.
TEST(StyleTagsTokeniser, TwoSlashesInsideQuotesAreRefused)
{
    write_tags("mtag_w{watermark-text:\"http://x\";}mtag_next{a:b;}");
    {
        Reading r;
        EXPECT_FALSE(r.next());
        EXPECT_EQ(r.error.message, "Missmatched quotes in format tag attribute: '/x\";}mtag_next{a:b;}'");
        EXPECT_EQ(r.error.code, code(StyleTagCode::SlashesInQuotes));
        EXPECT_EQ(r.error.offset, 29u);
    }
    EXPECT_EQ(all_tags("mtag_z{e:f;}"), std::vector<std::string>{"mtag_z{e:f;"});
}

TEST(StyleTagsTokeniser, AResetForgetsWhatFollowedTheLastBrace)
{
    write_tags("mtag_a{a:b;}mtag_b{c:d;}");
    {
        Reading r;
        ASSERT_TRUE(r.next());
        EXPECT_STREQ(r.buffer, "mtag_a{a:b;");
        // Stopping early: without the reset the next reader would first get "mtag_b{c:d;".
        postscript_print_tags_reset();
    }
    EXPECT_EQ(all_tags("mtag_z{e:f;}"), std::vector<std::string>{"mtag_z{e:f;"});
}

TEST(StyleTagsTokeniser, AMissingFileIsRefused)
{
    std::remove((std::string(PPATH_ROOT) + "/conf/tags").c_str());
    std::FILE *file = nullptr;
    const ReadError error = postscript_print_tags_open_file(&file);
    EXPECT_EQ(error.message, "Cannot open style tags configuration file " PPATH_ROOT "/conf/tags");
    EXPECT_EQ(error.code, code(StyleTagCode::CannotOpen));
    EXPECT_EQ(error.offset, 0u);
    EXPECT_EQ(file, nullptr);
}

struct ValueCase {
    const char *input;
    char delimiter;
    int quotes;
    const char *value;   // nullptr: refused with message
    const char *rest;    // the text after the delimiter
    std::string message;
    StyleTagCode code = StyleTagCode::None;
    std::size_t offset = 0;  // of the fault in input
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
        {"\"a\";", ';', 0, nullptr, "", "Found a '\"' in a format tag '\"a\";' attribute where one is not allowed",
         StyleTagCode::QuoteNotAllowed, 0},
        {"\"a\"\"b\";", ';', 1, nullptr, "", "Found too many '\"' characters in format tag '\"a\"\"b\";' attributes",
         StyleTagCode::TooManyQuotes, 3},
        {"\"a\"b;", ';', 1, nullptr, "", "Found unexpected character following quoted tag 'b;' attribute",
         StyleTagCode::AfterQuotes, 3},
        {"bold:x;", ';', 0, nullptr, "", "Found unexpected delimiter in Style Tag attribute ':x;'",
         StyleTagCode::StrayDelimiter, 4},
        {"print-size;", ':', 0, nullptr, "", "Found unexpected delimiter in Style Tag attribute ';'",
         StyleTagCode::StrayDelimiter, 10},
        {overflows.c_str(), ';', 0, nullptr, "", "Format Tag attribute value '" + overflows + "' exceeds buffer size",
         StyleTagCode::ValueTooLong, 55},
        {"bold", ';', 0, nullptr, "", "Found unexpected string termination in Style Tag", StyleTagCode::UnexpectedEnd, 4},
        {"\"bold;", ';', 1, nullptr, "", "Found unexpected string termination in Style Tag", StyleTagCode::UnexpectedEnd, 6},
    };
    for (const ValueCase &c : cases) {
        char out[56] = "untouched";
        const char *position = c.input;
        const ReadError error = postscript_get_style_tag_value(out, &position, c.delimiter, sizeof out, c.quotes);
        EXPECT_EQ(error.message, c.message) << c.input;
        EXPECT_EQ(error.code, code(c.code)) << c.input;
        EXPECT_EQ(error.offset, c.offset) << c.input;
        if (c.value) {
            EXPECT_STREQ(out, c.value) << c.input;
            EXPECT_STREQ(position, c.rest) << c.input;
        } else {
            EXPECT_STREQ(out, "untouched") << c.input;
            EXPECT_EQ(position, c.input) << c.input;
        }
    }
}

} // namespace
