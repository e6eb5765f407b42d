// Table colours in-process on grids of labels built by the grid intrinsics: default rows, explicit
// rows and cells and which wins where, the painting at ICSET_FOCUS and at the end of an event,
// settings kept in step with inserted and deleted rows, a destroyed grid's settings going alone, a
// grid outliving its freed matrix, the refusals and log lines, and the painted colours on screen.
#include <cmath>
#include <sstream>

#include "cevents.h"
#include "cmatrix.h"
#include "ctable_bgcolour.h"
#include "gui_env.h"
#include "widgets_fixture.h"

using namespace forms_test;
using namespace widgets_test;

namespace {

GtkWidget *widget_at(long handle) { return reinterpret_cast<GtkWidget *>(handle); }

// A form (window W, CM, content box Y) with a 6 x 3 grid of blank labels in E.
constexpr int ROWS = 6, COLUMNS = 3;
std::string grid_form()
{
    std::string t = window_of("a", W) + attach(CM, W) + val(W) + fn(in_IGVBOX_NEW, 1) + set(Y) + val(Y) + num(2) +
                    num(2) + num(1) + num(1) + fn(in_IGTABLE_NEW, 5) + set(E);
    for (int r = 0; r < ROWS; ++r)
        for (int c = 0; c < COLUMNS; ++c)
            t += str(" ") + fn(in_IGLABEL_SIMPLE_NEW, 1) + set(L) + val(E) + val(L) + num(c) + num(c + 1) + num(r) +
                 num(r + 1) + num(5) + num(5) + num(0L) + num(0L) + st(in_IGTABLE_ATTACH, 10);
    return t;
}

// The statements on a grid of a CM: target pushes both (by default grid E of CM).
const std::string cm_e = val(CM) + val(E);
std::string row_default(int row, const std::string &style, const std::string &target = cm_e)
{
    return target + num(row) + str(style) + st(in_ICTABLE_BGCOLOUR_ROW_DEFAULT, 4);
}
std::string cell_default(int row, int column, const std::string &style, const std::string &target = cm_e)
{
    return target + num(row) + num(column) + str(style) + st(in_ICTABLE_BGCOLOUR_CELL_DEFAULT, 5);
}
std::string set_row(int row, const std::string &style, const std::string &target = cm_e)
{
    return target + num(row) + str(style) + st(in_ICTABLE_BGCOLOUR_SET_ROW, 4);
}
std::string set_cell(int row, int column, const std::string &style, const std::string &target = cm_e)
{
    return target + num(row) + num(column) + str(style) + st(in_ICTABLE_BGCOLOUR_SET_CELL, 5);
}
std::string show(const std::string &cm = val(CM)) { return cm + st(in_ICTABLE_BGCOLOUR_SHOW, 1); }

// The widget names of the grid's cells, row by row ("a b c" for bg_a bg_b bg_c), "-" for a label
// without a name and "''" for an empty one.
std::vector<std::string> names(GtkWidget *grid)
{
    std::vector<std::string> rows;
    for (int r = 0; r < ROWS; ++r) {
        std::string line;
        for (int c = 0; c < COLUMNS; ++c) {
            GtkWidget *w = gtk_grid_get_child_at(GTK_GRID(grid), c, r);
            const std::string name = w ? gtk_widget_get_name(w) : "?";
            if (!line.empty()) line += ' ';
            line += name == "GtkLabel" ? "-" : name.empty() ? "''" : name.starts_with("bg_") ? name.substr(3) : name;
        }
        rows.push_back(line);
    }
    return rows;
}

} // namespace

TEST_F(WidgetsTest, ColoursComeFromDefaultRowsExplicitRowsAndCells)
{
    const std::string ab = row_default(0, "bg_a") + row_default(1, "bg_b");
    struct Case {
        const char *what;
        std::string settings;
        std::vector<std::string> expected;
    } cases[] = {
        {"two default rows alternate", ab, {"a a a", "b b b", "a a a", "b b b", "a a a", "b b b"}},
        {"a cell on a row with its own style", ab + set_row(2, "bg_c") + set_cell(2, 1, "bg_a"),
         {"a a a", "b b b", "c a c", "b b b", "a a a", "b b b"}},
        {"a row set after cells drops them", ab + set_cell(3, 0, "bg_a") + set_row(3, "bg_c"),
         {"a a a", "b b b", "a a a", "c c c", "a a a", "b b b"}},
        {"cells set after the row keep both", ab + set_row(3, "bg_c") + set_cell(3, 0, "bg_a"),
         {"a a a", "b b b", "a a a", "a c c", "a a a", "b b b"}},
        // Rows without a record of their own take the default row's columns; row 4 has one.
        {"default columns", row_default(0, "bg_a") + cell_default(0, 2, "bg_c") + row_default(1, "bg_b") + set_row(4, "bg_c"),
         {"a a c", "b b b", "a a c", "b b b", "c c c", "b b b"}},
        {"a default cell alone makes a row without style", cell_default(5, 1, "bg_c"),
         {"- c -", "- c -", "- c -", "- c -", "- c -", "- c -"}},
        {"a default row set again drops its cells", cell_default(0, 1, "bg_c") + row_default(0, "bg_a"),
         {"a a a", "a a a", "a a a", "a a a", "a a a", "a a a"}},
        {"default rows order by number only", row_default(7, "bg_b") + row_default(3, "bg_a") + row_default(9, "bg_c"),
         {"a a a", "b b b", "c c c", "a a a", "b b b", "c c c"}},
        {"explicit settings without default rows paint nothing", set_row(1, "bg_a") + set_cell(2, 2, "bg_b"),
         {"- - -", "- - -", "- - -", "- - -", "- - -", "- - -"}},
        {"an empty style is a name", row_default(0, ""), {"'' '' ''", "'' '' ''", "'' '' ''", "'' '' ''", "'' '' ''", "'' '' ''"}},
        {"explicit settings outside the grid change nothing", ab + set_row(-1, "bg_c") + set_row(6, "bg_c") + set_cell(0, 3, "bg_c"),
         {"a a a", "b b b", "a a a", "b b b", "a a a", "b b b"}},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(form(grid_form() + c.settings + show()).abort, "") << c.what;
        EXPECT_EQ(names(widget_at(handle(E))), c.expected) << c.what;
    }
}

TEST_F(WidgetsTest, AGridIsPaintedAgainOnlyAfterAChange)
{
    // Without default rows the mark stays up, so the first default row paints the earlier settings too.
    ASSERT_EQ(form(grid_form() + set_row(1, "bg_c") + show()).abort, "");
    GtkWidget *grid = widget_at(handle(E));
    ControlMatrix_t *cm = cm_of(CM);
    const std::string target = number(cm) + number(grid);
    std::uint16_t rows = 0, columns = 0;
    ctable_bgclr_get_table_dim(&rows, &columns, grid);
    EXPECT_EQ(rows, ROWS);
    EXPECT_EQ(columns, COLUMNS);
    EXPECT_EQ(names(grid)[1], "- - -");
    ASSERT_EQ(form(row_default(0, "bg_a", target)).abort, "");
    EXPECT_EQ(names(grid)[1], "- - -") << "not painted before the event ends";
    ccallbacks_finish_event(0, 0);
    EXPECT_EQ(names(grid), (std::vector<std::string>{"a a a", "c c c", "a a a", "a a a", "a a a", "a a a"}));
    // Painted and unchanged: a name given meanwhile stays until a setting marks the grid again.
    gtk_widget_set_name(gtk_grid_get_child_at(GTK_GRID(grid), 0, 0), "loud");
    ctable_bgcolour_display(cm);
    EXPECT_EQ(names(grid)[0], "loud a a");
    ASSERT_EQ(form(set_cell(5, 2, "bg_b", target) + show(number(cm))).abort, "");
    EXPECT_EQ(names(grid)[0], "a a a");
    EXPECT_EQ(names(grid)[5], "a a b");
}

TEST_F(WidgetsTest, SettingTheFocusPaintsTheGrids)
{
    // A form whose one field is a button beside the grid; its settings are not shown by the program.
    GtkWidget *button = keep(gtk_button_new_with_label("Go"));
    handle_issue_widget(button);
    Add b;
    b.entry = number(button);
    b.type = num(WIDGET_BUTTON);
    ASSERT_EQ(form(grid_form() + b.text() + row_default(0, "bg_a") + row_default(1, "bg_b")).abort, "");
    GtkWidget *grid = widget_at(handle(E));
    gtk_box_append(GTK_BOX(widget_at(handle(Y))), button);
    EXPECT_EQ(names(grid)[0], "- - -");
    ASSERT_EQ(form(number(cm_of(CM)) + num(1) + st(in_ICSET_FOCUS, 2)).abort, "");
    EXPECT_EQ(names(grid), (std::vector<std::string>{"a a a", "b b b", "a a a", "b b b", "a a a", "b b b"}));
}

TEST_F(WidgetsTest, RowSettingsFollowInsertedAndDeletedRows)
{
    // Rows 1 and 3 have their own style; the pattern itself never moves.
    const std::string settings = row_default(0, "bg_a") + set_row(1, "bg_b") + set_row(3, "bg_c") + show();
    struct Case {
        std::string change;  // on grid E, answer into X
        std::vector<std::string> expected;
    } cases[] = {
        // A row inserted at 2: the setting of row 3 moves to 4; the new row is empty.
        {val(E) + num(2) + fn(in_IGTABLE_ADD_ROW, 2), {"a a a", "b b b", "? ? ?", "a a a", "c c c", "a a a"}},
        // Rows 1..2 deleted: row 1's setting goes, row 3's moves up to 1; rows 4 and 5 are empty.
        {val(E) + num(1) + num(2) + fn(in_IGTABLE_DELETE_ROW, 3), {"a a a", "c c c", "a a a", "a a a", "? ? ?", "? ? ?"}},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(form(grid_form() + settings + c.change + set(X) + show()).abort, "");
        EXPECT_EQ(names(widget_at(handle(E))), c.expected);
    }
}

TEST_F(WidgetsTest, DestroyingOneGridLeavesTheOtherGridsSettings)
{
    // A second grid in E2 beside E, each with its own settings.
    const std::string second = val(Y) + num(2) + num(2) + num(1) + num(1) + fn(in_IGTABLE_NEW, 5) + set(E2) +
                               str(" ") + fn(in_IGLABEL_SIMPLE_NEW, 1) + set(D) + val(E2) + val(D) + num(0L) + num(1) +
                               num(0L) + num(1) + num(5) + num(5) + num(0L) + num(0L) + st(in_IGTABLE_ATTACH, 10);
    const std::string cm_e2 = val(CM) + val(E2);
    ASSERT_EQ(form(grid_form() + second + row_default(0, "bg_a") + row_default(0, "bg_c", cm_e2)).abort, "");
    GtkWidget *first = widget_at(handle(E)), *other = widget_at(handle(E2));
    ControlMatrix_t *cm = cm_of(CM);
    ASSERT_NE(ctable_bgcolour_find_table(first), nullptr);
    ASSERT_NE(ctable_bgcolour_find_table(other), nullptr);
    gtk_box_remove(GTK_BOX(widget_at(handle(Y))), first);  // the box held the only reference
    lumba_test::drain();
    EXPECT_EQ(ctable_bgcolour_find_table(other), cm->bgclr_tables) << "the second grid's record is now the head";
    ctable_bgcolour_display(cm);
    EXPECT_STREQ(gtk_widget_get_name(widget_at(handle(D))), "bg_c");
}

TEST_F(WidgetsTest, AGridDestroyedAfterItsMatrixWasFreedReachesNothing)
{
    ASSERT_EQ(form(grid_form() + row_default(0, "bg_a") + show()).abort, "");
    GtkWidget *grid = widget_at(handle(E));
    g_object_ref(grid);
    ControlMatrix_t *cm = cm_of(CM);
    ASSERT_NE(g_signal_handler_find(grid, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, cm), 0UL);
    cmat_free_cm(cm);  // the matrix goes first, its window and grid stay
    EXPECT_EQ(g_signal_handler_find(grid, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, cm), 0UL)
        << "no handler of the grid holds the freed matrix";
    gtk_box_remove(GTK_BOX(widget_at(handle(Y))), grid);
    g_object_unref(grid);  // disposed now: its "destroy" handler must not run on the freed matrix
    lumba_test::drain();
    EXPECT_EQ(ctable_bgcolour_find_table(grid), nullptr);
}

TEST_F(WidgetsTest, TableColourStatementsRefuseBadArgumentsAndLogTheirSettings)
{
    const std::string zero_cm = num(0L) + val(E);
    struct Case {
        std::string call;
        const char *message;
    } cases[] = {
        {row_default(0, "bg_a", zero_cm), "Must have a valid Process Control Matrix"},
        {cell_default(0, 0, "bg_a", zero_cm), "Must have a valid Process Control Matrix"},
        {set_row(0, "bg_a", zero_cm), "Must have a valid Process Control Matrix"},
        {set_cell(0, 0, "bg_a", zero_cm), "Must have a valid Process Control Matrix"},
        {show(num(0L)), "Must have a valid Process Control Matrix"},
        {zero_cm + st(in_ICTABLE_BGCOLOUR_DISPLAY_TABLE, 2), "Must have a valid Process Control Matrix"},
        {row_default(0, " bg_a"), "Invalid name for Background Colour style"},
        {set_cell(0, 0, "\\tbg_a"), "Invalid name for Background Colour style"},
        {val(CM) + num(0L) + num(0L) + str("bg_a") + st(in_ICTABLE_BGCOLOUR_SET_ROW, 4), "Table pointer is NULL"},
        {val(CM) + val(L) + num(0L) + str("bg_a") + st(in_ICTABLE_BGCOLOUR_SET_ROW, 4), "Invalid widget handle "},
        {val(CM) + val(E) + num(0L) + st(in_ICTABLE_BGCOLOUR_SET_ROW, 3), "Invalid number of parameters"},
        {st(in_ICTABLE_BGCOLOUR_SHOW, 0), "Invalid number of parameters"},
    };
    for (const Case &c : cases) {
        const Outcome o = form(grid_form() + c.call);
        EXPECT_TRUE(o.abort.starts_with(c.message)) << o.abort;
    }

    record.log_level_lumbas = 3;
    const Outcome o = form(grid_form() + row_default(1, "bg_a") + cell_default(0, 2, "bg_b") + set_row(4, "bg_c") +
                           set_cell(5, 1, "") + val(CM) + val(E) + st(in_ICTABLE_BGCOLOUR_DISPLAY_TABLE, 2));
    ASSERT_EQ(o.abort, "");
    const std::vector<std::string> lines = log_lines(o.err);
    for (const char *expected : {"ictable_bgcolour_row_default - row 1, colour bg_a",
                                 "ictable_bgcolour_cell_default - row 0, column 2, colour bg_b",
                                 "ictable_bgcolour_set_row - row 4, colour bg_c",
                                 "ictable_bgcolour_set_cell - row 5, column 1, colour ",
                                 "Left Attach = 2; Top Attach = 5; Width = 1; Height = 1; Widget = "})
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string &l) { return l.find(expected) != std::string::npos; }))
            << expected << "\n" << o.err;
    std::ostringstream table;
    table << "Display Gtk Table " << static_cast<void *>(widget_at(handle(E)));
    EXPECT_NE(std::find(lines.begin(), lines.end(), table.str()), lines.end()) << o.err;
    EXPECT_NE(std::find(lines.begin(), lines.end(), table.str() + " finished"), lines.end()) << o.err;
}

TEST_F(WidgetsTest, PaintedCellsShowTheirStylesColours)
{
    // Boxes with a label as first child take the style on both; the fixture style sheet makes
    // #bg_a red-ish, #bg_b green-ish and #bg_c blue-ish.
    GtkWidget *box = keep(gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0));
    GtkWidget *inner = gtk_label_new(" ");
    gtk_box_append(GTK_BOX(box), inner);
    const std::string boxed = val(E) + number(box) + num(3) + num(4) + num(0L) + num(1) + num(5) + num(5) + num(0L) +
                              num(0L) + st(in_IGTABLE_ATTACH, 10);
    ASSERT_EQ(form(grid_form() + boxed + row_default(0, "bg_a") + row_default(1, "bg_b") + set_cell(2, 1, "bg_c") +
                   set_cell(0, 3, "bg_c") + show())
                  .abort,
              "");
    GtkWidget *grid = widget_at(handle(E));
    EXPECT_STREQ(gtk_widget_get_name(box), "bg_c");
    EXPECT_STREQ(gtk_widget_get_name(inner), "bg_c");
    for (GtkWidget *c = gtk_widget_get_first_child(grid); c; c = gtk_widget_get_next_sibling(c))
        gtk_widget_set_size_request(c, 40, 24);
    const lumba_test::Snapshot picture = drawn(grid);
    ASSERT_FALSE(picture.empty());
    const lumba_test::Rgba a{0xff, 0x40, 0x40, 0xff}, b{0x40, 0xc0, 0x40, 0xff}, c{0x40, 0x40, 0xff, 0xff};
    for (int r = 0; r < ROWS; ++r)
        for (int col = 0; col <= COLUMNS; ++col) {
            if (col == COLUMNS && r > 0) continue;  // the box covers row 0 only
            GtkWidget *w = gtk_grid_get_child_at(GTK_GRID(grid), col, r);
            graphene_rect_t bounds;
            ASSERT_TRUE(gtk_widget_compute_bounds(w, grid, &bounds));
            const int x = static_cast<int>(bounds.origin.x + bounds.size.width / 2);
            const int y = static_cast<int>(bounds.origin.y + bounds.size.height / 2);
            const lumba_test::Rgba expected = (r == 2 && col == 1) || col == COLUMNS ? c : r % 2 == 0 ? a : b;
            EXPECT_EQ(picture.pixel(x, y), expected) << "row " << r << ", column " << col;
        }
}
