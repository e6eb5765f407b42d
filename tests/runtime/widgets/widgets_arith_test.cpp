// What the widgets compute without a display: the window-type table and its scaling factor, the
// placement codes with their clamps, the offsets of the second placement set, the row arithmetic
// of grids, the stripping of program texts, and the launch options of the application area (with
// what a child process inherits of them).
#include <gtest/gtest.h>

#include <glib.h>

#include <cstdlib>
#include <string>

#include "gcontainers.h"
#include "gdata.h"
#include "gprint.h"
#include "gwindow.h"
#include "aoae.h"
#include "run_time.h"
#include "test_host.h"

using lumba_test::abort_text;

namespace {

constexpr float SCALE_1010x630 = 630.0f / 680.0f;

TEST(WindowTypes, EachLetterGivesItsSizeAndPlacement)
{
    GlobalData_t gd{};
    gd.oae_app_width = 1010;
    gd.oae_app_height = 630;
    struct Case {
        char letter;
        int width, height, placement;
        bool offsets;
    } cases[] = {
        {'a', 939, 630, 8, false},   {'b', 530, 500, 4, false},    {'c', 530, 500, 0, false},
        {'e', 530, 670, 3, false},   {'f', 530, 670, 103, true},   {'g', 530, 500, 106, true},
        {'h', 1, 1, 100, true},      {'i', 1014, 680, 108, true},  {'j', 530, 500, 104, true},
        {'k', 530, 500, 100, true},  {'n', 1, 1, 0, false},        {'p', 530, 350, 0, false},
        {'q', 530, 350, 100, true},  {'s', 1014, 480, 5, false},   {'t', 1014, 480, 105, true},
        {'w', 530, 500, 6, false},   {'x', 1010, 630, 8, false},
    };
    for (const Case &c : cases) {
        WindowType t{};
        ASSERT_TRUE(gwin_type(c.letter, gwin_scaling_factor(c.letter, 1010, 630), gd, &t)) << c.letter;
        EXPECT_EQ(t.width, c.width) << c.letter;
        EXPECT_EQ(t.height, c.height) << c.letter;
        EXPECT_EQ(t.placement, c.placement) << c.letter;
        EXPECT_EQ(t.offsets, c.offsets) << c.letter;
    }
    for (char refused : {'d', 'l', 'm', 'o', 'r', 'u', 'v', 'y', 'z', 'A', 'B', '\0', ' '}) {
        WindowType t{};
        EXPECT_FALSE(gwin_type(refused, 1.0f, gd, &t)) << int(refused);
    }
}

TEST(WindowTypes, ScalingFactorFollowsTheArea)
{
    struct Case {
        char letter;
        int width, height;
        float factor;
    } cases[] = {
        {'a', 1010, 630, SCALE_1010x630},  // the launch default: the height decides
        {'a', 1200, 800, 1.0f},            // room for the full size
        {'a', 800, 800, 800.0f / 1014},    // narrower only
        {'i', 500, 300, 300.0f / 680},     // first the width, then the height lower still
        {'s', 1014, 680, 1.0f},
        {'t', 1013, 680, 1013.0f / 1014},
        {'b', 500, 300, 1.0f},             // only a, i, s and t scale
        {'x', 500, 300, 1.0f},
    };
    for (const Case &c : cases)
        EXPECT_FLOAT_EQ(gwin_scaling_factor(c.letter, c.width, c.height), c.factor)
            << c.letter << " " << c.width << "x" << c.height;
    // The scaled type "a" at the launch default is 939 x 630.
    GlobalData_t gd{};
    WindowType t{};
    ASSERT_TRUE(gwin_type('a', SCALE_1010x630, gd, &t));
    EXPECT_EQ(t.width, 939);
    EXPECT_EQ(t.height, 630);
}

TEST(WindowPlacement, TwentyCodesWithTheirClamps)
{
    const WindowArea area{600, 400, 1000, 600};
    const int dx = 5, dy = 32;
    struct Case {
        int p, w, h, dw, dh;
        int x, y;
        const char *why;
    } cases[] = {
        // The ten points of the area for a window of 200 x 100.
        {0, 200, 100, 200, 100, 995, 618, "centre"},
        {1, 200, 100, 200, 100, 995, 400, "top centre"},
        {2, 200, 100, 200, 100, 1390, 400, "top right"},
        {3, 200, 100, 200, 100, 1390, 618, "right middle"},
        {4, 200, 100, 200, 100, 1390, 836, "bottom right"},
        {5, 200, 100, 200, 100, 995, 836, "bottom centre"},
        {6, 200, 100, 200, 100, 600, 836, "bottom left"},
        {7, 200, 100, 200, 100, 600, 618, "left middle"},
        {8, 200, 100, 200, 100, 600, 400, "top left"},
        {9, 200, 100, 200, 100, 600, 400, "top left"},
        // The second set: the passed size acts as offsets, the default size is clamped.
        {100, 600, 400, 200, 100, 695, 468, "centre by offsets, clamped with the passed size"},
        {101, 600, 400, 200, 100, 695, 800, ""},
        {102, 600, 400, 200, 100, 600, 800, "left of the area: at its left edge"},
        {103, 600, 400, 200, 100, 600, 468, ""},
        {104, 600, 400, 200, 100, 600, 400, "above the area: at its top"},
        {105, 600, 400, 200, 100, 695, 400, ""},
        {106, 600, 400, 200, 100, 1200, 400, ""},
        {107, 600, 400, 200, 100, 1200, 468, ""},
        {108, 600, 400, 200, 100, 1200, 800, ""},
        {109, 600, 400, 200, 100, 1200, 800, ""},
        {108, 1500, 400, 200, 100, 1390, 800, "beyond the right edge: ends at it"},
        // Anything else is (0, 0), clamped into the area.
        {42, 200, 100, 200, 100, 600, 400, "unknown code"},
        {-1, 200, 100, 200, 100, 600, 400, "unknown code"},
        // A width of 0 or 1 takes the default size.
        {0, 1, 7, 200, 100, 995, 618, "width 1"},
        {0, 0, 0, 200, 100, 995, 618, "width 0"},
        // Codes 0 and 100 keep the passed size for the clamps; the others take the default size.
        {0, 400, 300, 200, 100, 895, 518, "centre of the passed size"},
        {5, 400, 300, 200, 100, 895, 636, "bottom, clamped with the default size"},
        // A window wider (or higher) than the area ends at its left (or top) edge.
        {0, 1200, 100, 1200, 100, 600, 618, "too wide"},
        {4, 200, 700, 200, 700, 1390, 400, "too high"},
    };
    for (const Case &c : cases) {
        const WindowPosition pos = gwindow_position(c.p, c.w, c.h, c.dw, c.dh, area, dx, dy);
        EXPECT_EQ(pos.x, c.x) << "code " << c.p << " " << c.w << "x" << c.h << ": " << c.why;
        EXPECT_EQ(pos.y, c.y) << "code " << c.p << " " << c.w << "x" << c.h << ": " << c.why;
    }
}

TEST(WindowPlacement, OffsetsOverTheParentWindow)
{
    // A 530 x 500 window over a 1014 x 680 parent (decorations 10 and 28).
    struct Case {
        int p, x, y;
    } cases[] = {
        {100, 247, 104}, {101, 247, 0}, {102, 494, 0}, {103, 494, 104}, {104, 494, 208},
        {105, 247, 208}, {106, 0, 208}, {107, 0, 104}, {108, 0, 0},     {109, 0, 0},
        {5, 0, 0},       {110, 0, 0},
    };
    for (const Case &c : cases) {
        const WindowPosition o = gwin_new_offsets(c.p, 530, 500, 1014, 680);
        EXPECT_EQ(o.x, c.x) << c.p;
        EXPECT_EQ(o.y, c.y) << c.p;
    }
    // A window larger than its parent gets no negative offsets.
    const WindowPosition o = gwin_new_offsets(104, 2000, 1000, 1014, 680);
    EXPECT_EQ(o.x, 0);
    EXPECT_EQ(o.y, 0);
}

TEST(GridRows, InsertPositions)
{
    struct Case {
        int rows;
        RowArgument requested;
        int position;
    } cases[] = {
        {5, {-1, false}, 6},  // none given: one past the row after the last
        {5, {-9, false}, 6},
        {0, {-1, false}, 1},
        {5, {0, false}, 0},
        {5, {6, false}, 6},
        {5, {7, false}, -1},  // beyond
        {5, {3, true}, 3},    // the row after a widget
        {5, {9, true}, 9},
        {5, {-1, true}, -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(gtable_add_position(c.rows, c.requested), c.position)
            << c.rows << " rows, " << c.requested.value << (c.requested.widget ? " (widget)" : "");
}

TEST(GridRows, DeleteRanges)
{
    const RowArgument none{-2, false};
    struct Case {
        int rows;
        RowArgument first, last;
        bool ok;
        int from, to;
    } cases[] = {
        {5, none, none, true, 0, 4},                     // only the grid: everything
        {0, none, none, true, 0, -1},                    // an empty grid: nothing
        {5, {2, false}, none, true, 2, 2},               // one row
        {5, {-1, false}, none, true, 4, 4},              // the last row
        {0, {-1, false}, none, true, 0, -1},
        {5, {5, false}, none, false, 0, 0},              // beyond
        {5, {1, false}, {3, false}, true, 1, 3},
        {5, {1, false}, {-1, false}, true, 1, 4},        // to the last row
        {5, {3, false}, {1, false}, false, 0, 0},        // last before first
        {5, {1, false}, {5, false}, false, 0, 0},        // last beyond
        {5, {2, true}, {4, true}, true, 2, 4},           // widgets give their first rows
        {5, {3, true}, {1, true}, false, 0, 0},
    };
    for (const Case &c : cases) {
        RowRange r{99, 99};
        const bool ok = gtable_delete_range(c.rows, c.first, c.last, &r);
        EXPECT_EQ(ok, c.ok) << c.rows << " rows, " << c.first.value << ".." << c.last.value;
        if (ok && c.ok) {
            EXPECT_EQ(r.first, c.from) << c.rows << " rows, " << c.first.value << ".." << c.last.value;
            EXPECT_EQ(r.last, c.to) << c.rows << " rows, " << c.first.value << ".." << c.last.value;
        }
    }
}

TEST(GridRows, CellsFollowInsertsAndDeletes)
{
    struct Insert {
        GridCell before;
        int row;
        GridCell after;
    } inserts[] = {
        {{0, 1, 1, 2}, 2, {0, 1, 1, 3}},  // spanning rows 1..2: now 1..3
        {{0, 2, 1, 1}, 2, {0, 3, 1, 1}},  // at the row: moves down
        {{3, 4, 2, 1}, 2, {3, 5, 2, 1}},  // below: moves down, columns untouched
        {{0, 0, 1, 1}, 2, {0, 0, 1, 1}},  // above: stays
        {{0, 1, 1, 1}, 2, {0, 1, 1, 1}},  // ends just above: stays
        {{0, 0, 1, 1}, 0, {0, 1, 1, 1}},
    };
    for (const Insert &c : inserts)
        EXPECT_EQ(gtable_cell_after_insert(c.before, c.row), c.after) << c.before.top << "+" << c.before.height;

    struct Delete {
        GridCell before;
        int first, last;
        bool stays;
        GridCell after;
    } deletes[] = {
        {{0, 1, 1, 3}, 2, 2, true, {0, 1, 1, 1}},   // spanning rows 1..3 into row 2: rows 1..1
        {{0, 5, 1, 1}, 2, 2, true, {0, 4, 1, 1}},   // after: up by one
        {{0, 2, 1, 1}, 2, 2, false, {}},            // inside: goes
        {{0, 0, 1, 1}, 2, 2, true, {0, 0, 1, 1}},   // above: stays
        {{0, 3, 1, 2}, 2, 2, true, {0, 2, 1, 2}},
        {{0, 0, 1, 5}, 1, 3, true, {0, 0, 1, 1}},   // reaching past the range: cut before it
        {{2, 4, 2, 1}, 1, 3, true, {2, 1, 2, 1}},   // after: up by three
        {{0, 3, 1, 2}, 1, 3, false, {}},            // begins inside, ends after: goes
    };
    for (const Delete &c : deletes) {
        GridCell cell = c.before;
        EXPECT_EQ(gtable_cell_after_delete(&cell, c.first, c.last), c.stays) << c.before.top << "+" << c.before.height;
        if (c.stays) {
            EXPECT_EQ(cell, c.after) << c.before.top << "+" << c.before.height;
        }
    }
}

TEST(ProgramTexts, TrailingSpacesAreStripped)
{
    struct Case {
        const char *in, *out;
    } cases[] = {
        {"abc   ", "abc"}, {"   ", ""}, {"", ""}, {"a\t ", "a\t"}, {" a b ", " a b"}, {"a\n ", "a\n"},
    };
    for (const Case &c : cases) {
        std::string text = c.in;
        gprint_strip(text.data());
        EXPECT_STREQ(text.c_str(), c.out) << '"' << c.in << '"';
    }
}

// The launch options in-process, without a display (no monitor: its size stays 0).
class LaunchArea : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = global_data;
        record.log_mode = LOG_MODE_STDERR;
        record.log_level_lumbas = -1;
        global_data = &record;
    }
    void TearDown() override
    {
        global_data = saved;
        OAE_Option = OAE_Geometry = nullptr;
    }
    // Applies the two options; the abort text, "" when they were taken.
    std::string apply(const char *option, const char *geometry)
    {
        OAE_Option = const_cast<char *>(option);
        OAE_Geometry = const_cast<char *>(geometry);
        return abort_text([] { aoae_set_oae_geometry_abcd(); });
    }
    // What a child started now sees of the two environment variables.
    static std::string child_sees()
    {
        gchar *out = nullptr;
        const char *argv[] = {"/bin/sh", "-c", "printf '%s %s' \"$OAE_APP_WIDTH\" \"$OAE_APP_HEIGHT\"", nullptr};
        EXPECT_TRUE(g_spawn_sync(nullptr, const_cast<char **>(argv), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out,
                                 nullptr, nullptr, nullptr));
        std::string s = out ? out : "";
        g_free(out);
        return s;
    }

    GlobalData_t record{};
    GlobalData_t *saved = nullptr;
};

TEST_F(LaunchArea, OptionLettersAndGeometry)
{
    struct Case {
        const char *option, *geometry;
        int width, height, x, y;
        const char *child;
    } cases[] = {
        {nullptr, nullptr, 1010, 630, 0, 0, "1010 630"},
        {"ab", nullptr, 1200, 670, 0, 0, "1200 670"},
        {"ad", nullptr, 1600, 880, 0, 0, "1600 880"},
        {"aak", nullptr, 1010, 630, 1940, 30, "1010 630"},
        {"zae", nullptr, 1010, 630, 20, 50, "1010 630"},  // any first letter: one normal window
        {"a", nullptr, 1010, 630, 0, 0, "1010 630"},
        {"aaac", nullptr, 1010, 630, 0, 0, "1010 630"},
        // The geometry wins over the letter, kept with its leading zeros for children.
        {"ab", "800x600", 800, 600, 0, 0, "0800 0600"},
        {nullptr, "1x9999", 1, 9999, 0, 0, "0001 9999"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(apply(c.option, c.geometry), "") << (c.option ? c.option : "-") << " " << (c.geometry ? c.geometry : "-");
        EXPECT_EQ(record.oae_app_width, c.width) << (c.option ? c.option : "-");
        EXPECT_EQ(record.oae_app_height, c.height) << (c.option ? c.option : "-");
        EXPECT_EQ(record.oae_app_x, c.x) << (c.option ? c.option : "-");
        EXPECT_EQ(record.oae_app_y, c.y) << (c.option ? c.option : "-");
        EXPECT_EQ(record.window_x_decoration, 5);
        EXPECT_EQ(record.window_y_decoration, 32);
        EXPECT_EQ(child_sees(), c.child) << (c.option ? c.option : "-");
    }
}

TEST_F(LaunchArea, BadOptionsEndTheRun)
{
    struct Case {
        const char *option, *geometry, *message;
    } cases[] = {
        {"ae", nullptr, "Invalid Max window argument"},
        {"a`", nullptr, "Invalid Max window argument"},  // below 'a': past the table too
        {"aal", nullptr, "Invalid offset argument"},
        {"aaad", nullptr, "Invalid internet argument"},
        {"aaaaa", nullptr, "Invalid argument"},
        {nullptr, "800", "Invalid geometry 800"},
        {nullptr, "0x600", "Invalid geometry 0x600"},
        {nullptr, "800x0", "Invalid geometry 800x0"},
        {nullptr, "10000x600", "Invalid geometry 10000x600"},
        {nullptr, "800x600x", "Invalid geometry 800x600x"},
        {nullptr, "x600", "Invalid geometry x600"},
        {nullptr, "-800x600", "Invalid geometry -800x600"},
        {nullptr, "800x-600", "Invalid geometry 800x-600"},
        {nullptr, " 800x600", "Invalid geometry  800x600"},
        {nullptr, "", "Invalid geometry "},
    };
    for (const Case &c : cases)
        EXPECT_EQ(apply(c.option, c.geometry), c.message) << (c.option ? c.option : "-") << " "
                                                         << (c.geometry ? c.geometry : "-");
}

} // namespace
