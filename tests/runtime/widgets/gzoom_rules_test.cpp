// The zoom pick-list's rules without a display: its row objects, the colour class names (against
// Python's formatting), the initial row, type-ahead, and the row colours from a site's tags file.
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "gzoom.h"
#include "ilist.h"
#include "run_time.h"
#include "test_host.h"

namespace {

using lumba_test::abort_text;

TEST(GzoomRow, HoldsCopiesAndIgnoresColumnsBeyondItsCount)
{
    GzoomRow *row = gzoom_row_new(2, 1);
    EXPECT_EQ(row->r + row->g + row->b, 0);
    EXPECT_STREQ(row->answer, "");
    EXPECT_EQ(row->markup, 1);
    EXPECT_EQ(row->columns[0], nullptr);
    std::string text = "first";
    gzoom_row_set_column(row, 0, text.c_str());
    gzoom_row_set_column(row, 0, "again");
    gzoom_row_set_column(row, 2, "beyond");
    gzoom_row_set_answer(row, text.c_str());
    text = "changed";
    gzoom_row_set_bg_color(row, 1, 2, 3);
    EXPECT_STREQ(row->columns[0], "again");
    EXPECT_EQ(row->columns[1], nullptr);
    EXPECT_STREQ(row->answer, "first");
    EXPECT_EQ(row->r * 100 + row->g * 10 + row->b, 123);
    g_object_unref(row);  // the sanitizer build sees a leak of any text
}

TEST(GzoomRow, ClassNamesAreThoseOfPythonsFormat)
{
    std::vector<std::array<int, 3>> colours = {{255, 255, 255}, {10, 11, 12}, {0, 0, 0}, {255, 0, 0}, {1, 16, 128}};
    for (int i = 0; i < 40; ++i) colours.push_back({(i * 37) % 256, (i * 101) % 256, (i * 7) % 256});
    std::string script = "for r, g, b in [";
    for (const auto &c : colours) script += "(" + std::to_string(c[0]) + "," + std::to_string(c[1]) + "," + std::to_string(c[2]) + "),";
    script += "]: print('bg_%x%x%x' % (r, g, b))";
    const char *argv[] = {"/usr/bin/python3", "-c", script.c_str(), nullptr};
    char *out = nullptr;
    int status = 0;
    ASSERT_TRUE(g_spawn_sync(nullptr, const_cast<char **>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out,
                             nullptr, &status, nullptr));
    std::string expected;
    for (const auto &c : colours) expected += gzoom_bg_class(c[0], c[1], c[2]) + "\n";
    EXPECT_EQ(out, expected);
    EXPECT_EQ(gzoom_bg_class(10, 11, 12), "bg_abc");
    g_free(out);
}

// A string list of the texts; the caller destroys it.
IList_t *text_list(std::initializer_list<const char *> texts)
{
    IList_t *l = ilist_declare(ILIST_STRING);
    for (const char *t : texts) ilist_addselt(l, t, static_cast<int>(std::strlen(t)), 0, nullptr);
    return l;
}

TEST(GzoomRows, RowsFromTheListsWithAPartialLastRowAndTheirColours)
{
    IList_t *display = text_list({"a", "b", "c", "d", "e", "f", "g"}), *answers = text_list({"1", "22"});
    const std::vector<GzoomColour> colours = {{255, 0, 0}, {10, 11, 12}};
    for (const bool coloured : {false, true}) {
        SCOPED_TRACE(coloured ? "coloured" : "white");
        GzoomRows *rows = gzoom_rows_new(display, answers, coloured ? &colours : nullptr, 3, 1);
        GListModel *model = G_LIST_MODEL(rows);
        EXPECT_EQ(g_list_model_get_item_type(model), GZOOM_TYPE_ROW);
        ASSERT_EQ(g_list_model_get_n_items(model), 3u);
        ASSERT_EQ(gzoom_rows_answers(rows).size(), 3u);
        EXPECT_STREQ(gzoom_rows_answers(rows)[1], "22");
        EXPECT_STREQ(gzoom_rows_answers(rows)[2], "");
        const struct {
            const char *answer, *columns[3];
            int rgb;
        } expected[] = {{"1", {"a", "b", "c"}, coloured ? 0xff0000 : 0xffffff},
                        {"22", {"d", "e", "f"}, coloured ? 0x0a0b0c : 0xffffff},
                        {"", {"g", "", ""}, 0xffffff}};
        for (guint i = 0; i < 3; ++i) {
            auto *row = GZOOM_ROW(g_list_model_get_item(model, i));
            EXPECT_STREQ(row->answer, expected[i].answer) << i;
            ASSERT_EQ(row->column_count, 3u);
            for (int c = 0; c < 3; ++c) EXPECT_STREQ(row->columns[c], expected[i].columns[c]) << i << " " << c;
            EXPECT_EQ(row->r << 16 | row->g << 8 | row->b, expected[i].rgb) << i;
            EXPECT_EQ(row->markup, 1);
            g_object_unref(row);
        }
        EXPECT_EQ(g_list_model_get_item(model, 3), nullptr);
        g_object_unref(rows);
    }
    ilist_destroy(display);
    ilist_destroy(answers);
}

TEST(GzoomRows, ARowIsTheSameObjectWhileHeldAndOutlivesItsList)
{
    IList_t *display = text_list({"x", "y"}), *answers = text_list({"1", "2"});
    GzoomRows *rows = gzoom_rows_new(display, answers, nullptr, 1, 0);
    ilist_destroy(display);  // the rows keep copies
    ilist_destroy(answers);
    GListModel *model = G_LIST_MODEL(rows);
    auto *held = G_OBJECT(g_list_model_get_item(model, 1));
    g_object_set_data(held, "mark", held);
    auto *again = G_OBJECT(g_list_model_get_item(model, 1));
    EXPECT_EQ(again, held) << "what a cell set on a row stays while the row is held";
    g_object_unref(again);
    auto *other = G_OBJECT(g_list_model_get_item(model, 0));
    EXPECT_NE(other, held);
    g_object_unref(other);
    g_object_unref(held);
    auto *fresh = G_OBJECT(g_list_model_get_item(model, 1));
    EXPECT_EQ(g_object_get_data(fresh, "mark"), nullptr) << "a released row is made afresh";
    EXPECT_STREQ(GZOOM_ROW(fresh)->columns[0], "y");
    g_object_unref(rows);
    EXPECT_STREQ(GZOOM_ROW(fresh)->answer, "2") << "a row outlives its list";
    g_object_unref(fresh);
}

struct InitialCase {
    std::vector<const char *> answers;
    const char *initial;
    int matching, row;
};

TEST(GzoomChoice, InitialRowByTheMatchingOption)
{
    const InitialCase cases[] = {
        {{"AB", "ABC", "ABD"}, "AB", 1, 0},   // the exact match counts its terminator
        {{"ABC", "AB", "ABD"}, "AB", 1, 1},
        {{"AB", "ABC", "ABD"}, "ABX", 1, 0},  // three share two characters: the first stays
        {{"", "B", "C"}, "", 1, 1},           // empty initial: the first row with an answer
        {{"X", "AQ", "AB"}, "AB", 1, 2},
        {{"10", "20", "30"}, "15", 0, 1},
        {{"10", "20", "30"}, "35", 0, 0},     // none at or above: the first row
        {{"10", "20", "30"}, "20", 0, 1},
        {{"", "20", "30"}, "", 0, 1},         // rows without an answer are never chosen
        {{"", "", ""}, "1", 0, -1},
        {{"", ""}, "", 1, -1},
        {{}, "1", 0, -1},
        {{"A\xE9", "B"}, "A\x7F", 0, 0},      // bytes compare unsigned
    };
    for (const InitialCase &c : cases)
        EXPECT_EQ(gzoom_initial_row(c.answers, c.initial, c.matching), c.row) << c.initial << " matching " << c.matching;
}

struct TypeAheadCase {
    std::vector<const char *> answers;
    const char *typed;  // characters typed into an empty text, one at a time
    int matching, row;
    const char *text;   // the type-ahead text afterwards
};

TEST(GzoomChoice, TypeAheadOverTheAnswers)
{
    const TypeAheadCase cases[] = {
        {{"AAA", "ABC", "ABD"}, "ab", 1, 1, "AB"},
        {{"AAA", "ABC", "ABD"}, "x", 1, 0, "X"},
        {{"CAT", "DOG", "Dot", "dove"}, "dov", 1, 3, "DOV"},
        {{"CAT", "DOG", "DOT"}, "dz", 1, 1, "DZ"},   // the first of the best
        {{"apple", "Banana", "cherry"}, "b", 0, 1, "B"},
        {{"apple", "Banana", "cherry"}, "z", 0, 0, "Z"},
        {{"apple", "Banana", "cherry"}, "CH", 0, 2, "CH"},
        {{}, "a", 0, 0, "A"},
        {{}, "a", 1, 0, "A"},
        {{"ABCDEFGHIJKLMNOP"}, "abcdefghijklmnoq", 1, 0, "ABCDEFGHIJKLMNQ"},  // sixteen keep 15
    };
    for (const TypeAheadCase &c : cases) {
        char text[GZOOM_TYPEAHEAD + 1] = "";
        for (const char *p = c.typed; *p; ++p) gzoom_typeahead_add(text, *p);
        EXPECT_STREQ(text, c.text) << c.typed;
        EXPECT_EQ(gzoom_typeahead_row(c.answers, text, c.matching), c.row) << c.typed << " matching " << c.matching;
    }
}

// ---- Colours from the site's tags file -----------------------------------------------------------------

void write_tags(const std::string &text)
{
    std::ofstream(std::string(PPATH_ROOT) + "/conf/tags", std::ios::binary | std::ios::trunc) << text;
}

IList_t *format_list(const std::vector<std::string> &names)
{
    IList_t *list = ilist_declare(ILIST_STRING);
    for (const std::string &n : names) ilist_addselt(list, n.c_str(), static_cast<int>(n.size()), 0, nullptr);
    return list;
}

const char *const TAGS = R"(// the zoom's colours
mtag_red { screen-bg-colour: #ff0000; }
mtag_repeat { screen-bg-colour: #00ff00;
              screen-bg-colour: #0A0b0c; }  // the last value counts
mtag_other { print-size: 10pt; }
mtag_nohash { screen-bg-colour: ff0000; }
mtag_bad { screen-bg-colour: #zz0000; }
mtag_long { screen-bg-colour: #0123456789abcdef0123456789abcdef; }
mtag_empty { }
)";

TEST(GzoomColours, RowsTakeTheirTagsColourOrWhite)
{
    write_tags(TAGS);
    IList_t *format = format_list({"mtag_red", "", " mtag_red", "mtag_missing", "mtag_repeat", "mtag_red", "red"});
    const std::vector<GzoomColour> colours = gzoom_get_row_colours(format, 8);
    const int expected[8][3] = {{255, 0, 0},     {255, 255, 255}, {255, 255, 255}, {255, 255, 255},
                                {10, 11, 12},    {255, 0, 0},     {255, 255, 255}, {255, 255, 255}};
    ASSERT_EQ(colours.size(), 8u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(std::vector<int>({colours[i].r, colours[i].g, colours[i].b}),
                  std::vector<int>(expected[i], expected[i] + 3))
            << "row " << i;
    ilist_destroy(format);
    for (const GzoomColour &c : gzoom_get_row_colours(nullptr, 3)) EXPECT_EQ(c.r + c.g + c.b, 765);
}

TEST(GzoomColours, TagsTheZoomCannotUseStopTheRun)
{
    write_tags(TAGS);
    const std::pair<const char *, const char *> cases[] = {
        {"mtag_other", "Invalid attribute print-size for tag mtag_other"},
        {"mtag_nohash", "Colour value for mtag_nohash must commence with '#'"},
        {"mtag_bad", "Invalid background colour tag value"},
        {"mtag_long", "gzoom_get_row_colours tag background colour attribute value too long"},
        {"mtag_empty", "Tag attributes not found"},
    };
    for (const auto &[name, message] : cases) {
        IList_t *format = format_list({"mtag_red", name});
        EXPECT_EQ(abort_text([&] { gzoom_get_row_colours(format, 2); }), message) << name;
        ilist_destroy(format);
    }
    // Reading stopped early each time: the next lookup still starts at the top of the file.
    char *value = gzoom_get_tag_bg_colour("mtag_red");
    EXPECT_STREQ(value, "#ff0000");
    g_free(value);
}

TEST(GzoomColours, TheFileMustBeWrittenAsTheZoomReadsIt)
{
    const std::pair<std::string, std::string> cases[] = {
        {"mtag_a{screen-bg-colour:#ffffff;}mtag_" + std::string(26, 'x') + "{screen-bg-colour:#000000;}",
         "Tag name in tags file is too long: mtag_" + std::string(26, 'x')},
        {"tag_a{screen-bg-colour:#ffffff;}", "Found tag 'tag_a{screen-bg-colour:#ffffff;' not commencing with 'mtag_'"},
        {"mtag_a screen-bg-colour:#ffffff;}", "Did not find '{' following a Style Tag 'mtag_ascreen-bg-colour:#ffffff;'"},
        {"mtag_a{screen-bg-colour:\"a//b\";}", "Missmatched quotes in format tag attribute: '/b\";}'"},
    };
    for (const auto &[file, message] : cases) {
        write_tags(file);
        EXPECT_EQ(abort_text([] { g_free(gzoom_get_tag_bg_colour("mtag_missing")); }), message);
    }
    // The attributes of the tag looked up are read as the style tags reader reads them.
    write_tags("mtag_a{screen-bg-colour;#ffffff;}");
    EXPECT_EQ(abort_text([] { g_free(gzoom_get_tag_bg_colour("mtag_a")); }),
              "Found unexpected delimiter in Style Tag attribute ';#ffffff;'");
    // A 30-character name is the longest the zoom accepts.
    const std::string longest = "mtag_" + std::string(25, 'x');
    write_tags(longest + "{screen-bg-colour:#102030;}");
    char *value = gzoom_get_tag_bg_colour(longest.c_str());
    EXPECT_STREQ(value, "#102030");
    g_free(value);
    std::remove((std::string(PPATH_ROOT) + "/conf/tags").c_str());
    IList_t *format = format_list({"mtag_red"});
    EXPECT_EQ(abort_text([&] { gzoom_get_row_colours(format, 1); }),
              "Cannot open style tags configuration file " PPATH_ROOT "/conf/tags");
    ilist_destroy(format);
}

TEST(GzoomColours, EveryByteValueComesBackWhole)
{
    std::string file;
    std::vector<std::string> names;
    for (int v = 0; v < 256; ++v) {
        char tag[64];
        std::snprintf(tag, sizeof tag, "mtag_v%d{screen-bg-colour:#%02x%02x%02x;}\n", v, v, 255 - v, v);
        file += tag;
        names.push_back("mtag_v" + std::to_string(v));
    }
    write_tags(file);
    IList_t *format = format_list(names);
    const std::vector<GzoomColour> colours = gzoom_get_row_colours(format, 256);
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(colours[v].r, v);
        EXPECT_EQ(colours[v].g, 255 - v);
        EXPECT_EQ(colours[v].b, v);
    }
    ilist_destroy(format);
}

} // namespace
