// Containers in-process: the form's content box (its own window, inside the menu window, or a
// parent), boxes and packing, grids with their attach options, cell data and duplicate check, rows
// inserted and deleted with GTK's layout kept equal to the cell data, scrollable areas and size
// groups.
#include "cfield.h"
#include "cmatrix.h"
#include "gcontainers.h"
#include "gmisc.h"
#include "gui_env.h"
#include "widgets_fixture.h"

using namespace forms_test;
using namespace widgets_test;

namespace {

GtkWidget *widget_at(long handle) { return reinterpret_cast<GtkWidget *>(handle); }

// A form: window W with its CM and content box Y.
const std::string form_box = window_of("a", W) + attach(CM, W) + val(W) + fn(in_IGVBOX_NEW, 1) + set(Y);

std::string label_into(Numeric v, const std::string &text = "L") { return str(text) + fn(in_IGLABEL_SIMPLE_NEW, 1) + set(v); }

// IGTABLE_ATTACH of the widget in child to the grid in grid.
std::string table_attach(Numeric grid, Numeric child, int left, int right, int top, int bottom, int xo = 5, int yo = 5,
                         int xp = 0, int yp = 0)
{
    return val(grid) + val(child) + num(left) + num(right) + num(top) + num(bottom) + num(xo) + num(yo) + num(xp) +
           num(yp) + st(in_IGTABLE_ATTACH, 10);
}

std::string table_new(Numeric parent, int expand, int homogeneous = 0) 
{
    return val(parent) + num(2) + num(2) + num(expand) + num(homogeneous) + fn(in_IGTABLE_NEW, 5);
}

GridCell layout_of(GtkWidget *grid, GtkWidget *child)
{
    GridCell c{};
    gtk_grid_query_child(GTK_GRID(grid), child, &c.left, &c.top, &c.width, &c.height);
    return c;
}

} // namespace

TEST_F(WidgetsTest, FirstVerticalBoxBecomesTheFormsContent)
{
    ASSERT_EQ(form(form_box + val(Y) + num(0L) + fn(in_IGVBOX_NEW, 2) + set(E)).abort, "");
    GtkWidget *window = widget_at(handle(W)), *content = widget_at(handle(Y)), *inner = widget_at(handle(E));
    ControlMatrix_t *cm = cm_of(CM);
    // The window's child scrolls it when it is larger than the screen.
    GtkWidget *scrolled = gtk_window_get_child(GTK_WINDOW(window));
    ASSERT_TRUE(GTK_IS_SCROLLED_WINDOW(scrolled));
    EXPECT_EQ(gtk_widget_get_ancestor(content, GTK_TYPE_SCROLLED_WINDOW), scrolled);
    EXPECT_EQ(cm->extra_widget, content);
    ASSERT_NE(cm->app_name, nullptr);
    EXPECT_STRNE(cm->app_name, "") << "the program that built it";
    EXPECT_TRUE(gtk_widget_get_hexpand(content));
    EXPECT_EQ(gtk_orientable_get_orientation(GTK_ORIENTABLE(content)), GTK_ORIENTATION_VERTICAL);
    // A vertical box in a box: appended with fill along the box (its vertical alignment).
    EXPECT_EQ(gtk_widget_get_parent(inner), content);
    EXPECT_FALSE(gtk_widget_get_hexpand(inner));
    EXPECT_EQ(gtk_widget_get_valign(inner), GTK_ALIGN_FILL);
    EXPECT_EQ(form(fn(in_IGVBOX_NEW, 0) + set(E)).abort, "igvbox_new(): Wrong Argument Count!");
}

TEST_F(WidgetsTest, FormsContentGoesIntoTheMenuWindowItBorrows)
{
    GtkWidget *menu_window = gtk_window_new();
    GtkWidget *container = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_window_set_child(GTK_WINDOW(menu_window), container);
    ControlMatrix_t *menu = cset_new(global_data, menu_window, 0);
    menu->type = CM_WT_MENU;
    menu->child_container = container;
    menu->busy = 0;
    ControlMatrix_t *form_cm = cset_new(global_data, nullptr, 0);
    handle_issue_widget(menu_window);
    ASSERT_EQ(form(number(menu_window) + fn(in_IGVBOX_NEW, 1) + set(Y)).abort, "");
    GtkWidget *content = widget_at(handle(Y));
    // Shown in the menu's container through the form's scroller, as a window's content is.
    GtkWidget *frame = oska_form_content_frame(content);
    EXPECT_EQ(gtk_widget_get_parent(frame), container);
    EXPECT_TRUE(GTK_IS_SCROLLED_WINDOW(frame));
    EXPECT_STREQ(gtk_widget_get_name(frame), OSKA_FORM_CONTENT);
    EXPECT_TRUE(gtk_widget_get_vexpand(frame));
    EXPECT_EQ(oska_widget_get_parent(content), container);
    EXPECT_EQ(form_cm->extra_widget, content);
    EXPECT_EQ(menu->extra_widget, nullptr);
    EXPECT_EQ(menu->busy, 1);
    ASSERT_NE(form_cm->app_name, nullptr);
    // A second content box for a form that has its program recorded is refused.
    form_cm->extra_widget = nullptr;
    const std::string recorded = form_cm->app_name;
    const Outcome o = form(number(menu_window) + fn(in_IGVBOX_NEW, 1) + set(Y));
    EXPECT_EQ(o.abort.rfind("Unexpected duplicate application name record in Control Matrix '" + recorded + "' '", 0), 0u)
        << o.abort;
}

TEST_F(WidgetsTest, HorizontalBoxesAndPacking)
{
    const std::string packs =
        val(Y) + num(1) + fn(in_IGHBOX_NEW, 2) + set(E) + label_into(L) + val(E) + val(L) + num("0") + num("1") +
        num(3) + num(4) + num(0L) + num(0L) + num(5) + st(in_IGHBOX_PACK, 9) + label_into(D) + val(E) + val(D) +
        num("0.5") + num("0.95") + num(0L) + num(0L) + num(1) + num(1) + num(0L) + st(in_IGHBOX_PACK, 9) +
        ref(CM) + num(3) + num(CM_FIELD_TYPE_GLABEL) + fn(in_IGCOMBO_NEW, 3) + set(X) + val(E) + val(X) + num(0L) +
        num(0L) + num(0L) + num(0L) + num(0L) + num(0L) + num(0L) + st(in_IGHBOX_PACK, 9);
    ASSERT_EQ(form(form_box + packs).abort, "");
    GtkWidget *row = widget_at(handle(E)), *left = widget_at(handle(L)), *middle = widget_at(handle(D));
    EXPECT_EQ(gtk_widget_get_parent(row), widget_at(handle(Y)));
    EXPECT_TRUE(gtk_widget_get_hexpand(row));
    EXPECT_TRUE(gtk_widget_get_vexpand(row));
    EXPECT_EQ(gtk_widget_get_valign(row), GTK_ALIGN_START) << "appended without fill: at the beginning";
    // x align 0, y align 1: begin and end; the paddings as margins; a label's own alignment too.
    EXPECT_EQ(gtk_widget_get_parent(left), row);
    EXPECT_EQ(gtk_widget_get_halign(left), GTK_ALIGN_START);
    EXPECT_EQ(gtk_widget_get_valign(left), GTK_ALIGN_END);
    EXPECT_EQ(gtk_widget_get_margin_start(left), 3);
    EXPECT_EQ(gtk_widget_get_margin_end(left), 3);
    EXPECT_EQ(gtk_widget_get_margin_top(left), 4);
    EXPECT_EQ(gtk_widget_get_margin_bottom(left), 4);
    EXPECT_FLOAT_EQ(gtk_label_get_xalign(GTK_LABEL(left)), 0.0f);
    EXPECT_FLOAT_EQ(gtk_label_get_yalign(GTK_LABEL(left)), 1.0f);
    EXPECT_EQ(gtk_widget_get_halign(middle), GTK_ALIGN_CENTER);
    EXPECT_EQ(gtk_widget_get_valign(middle), GTK_ALIGN_END);
    EXPECT_TRUE(gtk_widget_get_hexpand(middle));
    // A record places the widget its kind names.
    auto *record = static_cast<TestRecord *>(reinterpret_cast<void *>(handle(X)));
    EXPECT_EQ(gtk_widget_get_parent(record->widget), row);
    EXPECT_EQ(gtk_widget_get_last_child(row), record->widget);

    // A widget placed already stays where it is, with a warning; a tenth argument is told off.
    messages.clear();
    const std::string pack_left = val(E) + val(L) + num(0L) + num(0L) + num(0L) + num(0L) + num(0L) + num(0L) + num(0L);
    ASSERT_EQ(form(number(row) + fn(in_IGHBOX_NEW_OTHER, 0) + set(E2) + number(row) + set(E) + number(left) + set(L) +
                   pack_left + st(in_IGHBOX_PACK, 9) + pack_left + str("tag") + st(in_IGHBOX_PACK, 10))
                  .abort,
              "");
    EXPECT_EQ(messages, (std::vector<std::string>{"Child widget has unexpected parent in IGHBOX_PACK",
                                                  "Please remove the last parameter, tagname, from ighbox_pack",
                                                  "Child widget has unexpected parent in IGHBOX_PACK"}));
    EXPECT_EQ(gtk_widget_get_parent(left), row);
    GtkWidget *loose = widget_at(handle(E2));
    EXPECT_EQ(gtk_widget_get_parent(loose), nullptr);
    EXPECT_FALSE(gtk_widget_get_hexpand(loose));
    g_object_ref_sink(loose);
    g_object_unref(loose);

    // A record of a kind that is entered by its GtkText cannot be packed.
    const Outcome input = form(form_box + val(Y) + num(1) + fn(in_IGHBOX_NEW, 2) + set(E) + ref(CM) + num(1) +
                               num(CM_FIELD_TYPE_GINPUT) + fn(in_IGCOMBO_NEW, 3) + set(X) + val(E) + val(X) + num(0L) +
                               num(0L) + num(0L) + num(0L) + num(0L) + num(0L) + num(0L) + st(in_IGHBOX_PACK, 9));
    EXPECT_EQ(input.abort, "Unexpected widget type 1");
    EXPECT_EQ(form(num(1) + st(in_IGHBOX_PACK, 1)).abort, "Invalid number of parameters to ighbox_pack");
    EXPECT_EQ(form(form_box + val(Y) + fn(in_IGHBOX_NEW, 1) + set(E)).abort, "ighbox_new(): Wrong Argument Count!");
}

TEST_F(WidgetsTest, GridTablesByExpandAndScrollingPolicy)
{
    struct Case {
        std::string args;  // after the parent, rows, columns
        bool scrolled, expanded;
        GtkPolicyType horizontal, vertical;
    } cases[] = {
        {num(0L) + num(0L), false, false, GTK_POLICY_NEVER, GTK_POLICY_NEVER},
        {num(1) + num(1), false, true, GTK_POLICY_NEVER, GTK_POLICY_NEVER},
        {num(2) + num(0L), true, true, GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC},
        {num(3) + num(0L), true, false, GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC},
        {num(1) + num(0L) + num(0L) + num(1), true, true, GTK_POLICY_ALWAYS, GTK_POLICY_AUTOMATIC},
        {num(0L) + num(0L) + num(2) + num(2), false, false, GTK_POLICY_NEVER, GTK_POLICY_NEVER},
    };
    for (const Case &c : cases) {
        const int count = c.args.size() > 2 * num(0L).size() ? 7 : 5;
        ASSERT_EQ(form(form_box + val(Y) + num(3) + num(4) + c.args + fn(in_IGTABLE_NEW, count) + set(E)).abort, "")
            << c.args;
        GtkWidget *grid = widget_at(handle(E));
        ASSERT_TRUE(GTK_IS_GRID(grid));
        GtkWidget *placed = grid;
        if (c.scrolled) {
            GtkWidget *viewport = gtk_widget_get_parent(grid);
            ASSERT_TRUE(GTK_IS_VIEWPORT(viewport)) << c.args;
            EXPECT_FALSE(gtk_viewport_get_scroll_to_focus(GTK_VIEWPORT(viewport)));
            placed = gtk_widget_get_parent(viewport);
            ASSERT_TRUE(GTK_IS_SCROLLED_WINDOW(placed));
            GtkPolicyType h, v;
            gtk_scrolled_window_get_policy(GTK_SCROLLED_WINDOW(placed), &h, &v);
            EXPECT_EQ(h, c.horizontal) << c.args;
            EXPECT_EQ(v, c.vertical) << c.args;
            ScrolledWindow_t *last = cm_of(CM)->scrolled_windows;
            while (last && last->next) last = last->next;
            ASSERT_NE(last, nullptr);
            EXPECT_EQ(last->scrolled_window, placed) << "recorded in the form's list";
        }
        EXPECT_EQ(gtk_widget_get_parent(placed), widget_at(handle(Y))) << c.args;
        EXPECT_EQ(gtk_widget_get_hexpand(placed), c.expanded) << c.args;
        EXPECT_EQ(gtk_widget_get_valign(placed), c.expanded ? GTK_ALIGN_FILL : GTK_ALIGN_START) << c.args;
    }
    // Homogeneous rows and columns when asked.
    ASSERT_EQ(form(form_box + table_new(Y, 0, 1) + set(E)).abort, "");
    EXPECT_TRUE(gtk_grid_get_row_homogeneous(GTK_GRID(widget_at(handle(E)))));
    EXPECT_TRUE(gtk_grid_get_column_homogeneous(GTK_GRID(widget_at(handle(E)))));

    struct Bad {
        std::string args;
        int count;
        std::string message;
    } bad[] = {
        {num(4) + num(0L), 5, "Expand flag 4 may be zero = no expand, or one = expand. Values greater than one are "
                              "defunct, and should not be used. Rather, add a sixth and seventh parameter for "
                              "scrolling policy"},
        {num(2) + num(0L) + num(1) + num(1), 7, "Expand flag 2 may be zero = no expand, or one = expand"},
        {num(0L) + num(2), 5, "Homogeneous flag 2 must be true of false"},
        {num(0L) + num(0L) + num(3) + num(1), 7, "Invalid horizontal scrolling policy 3"},
        {num(0L) + num(0L) + num(1) + num(-1), 7, "Invalid vertical scrolling policy -1"},
        {num(0L) + num(0L) + num(1), 6, "Must have five or seven parameters"},
    };
    for (const Bad &b : bad)
        EXPECT_EQ(form(form_box + val(Y) + num(3) + num(4) + b.args + fn(in_IGTABLE_NEW, b.count) + set(E)).abort,
                  b.message);
    // A scrolling grid needs a form to record it in.
    GtkWidget *box = keep(gtk_box_new(GTK_ORIENTATION_VERTICAL, 0));
    cmat_free_all();
    const Outcome none = form(number(box) + num(3) + num(4) + num(2) + num(0L) + fn(in_IGTABLE_NEW, 5) + set(E));
    EXPECT_NE(none.abort.find("Program assertion failed in"), std::string::npos) << none.abort;
    EXPECT_EQ(none.abort.substr(none.abort.size() - 4), ": cm") << none.abort;
}

TEST_F(WidgetsTest, GridAttachOptionsCellsAndTheDuplicateCheck)
{
    const std::string body = form_box + table_new(Y, 1) + set(E) + label_into(L) +
                             table_attach(E, L, 2, 4, 1, 2, 5, 2, 3, 4) + val(E) + val(L) + ref(X) + ref(Z) +
                             st(in_IGTABLE_GET_CELL, 4) + label_into(D) + val(E) + val(D) + ref(CM2) + ref(E2) +
                             st(in_IGTABLE_GET_CELL, 4);
    ASSERT_EQ(form(body).abort, "");
    GtkWidget *grid = widget_at(handle(E)), *label = widget_at(handle(L));
    EXPECT_EQ(layout_of(grid, label), (GridCell{2, 1, 2, 1}));
    EXPECT_EQ(grid_cell(label), (GridCell{2, 1, 2, 1}));
    EXPECT_EQ(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(label), "left-attach")), 2);
    EXPECT_EQ(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(label), "width")), 2);
    // x options 5: expand and fill; y options 2 (shrink): neither.
    EXPECT_TRUE(gtk_widget_get_hexpand(label));
    EXPECT_EQ(gtk_widget_get_halign(label), GTK_ALIGN_FILL);
    EXPECT_FALSE(gtk_widget_get_vexpand(label));
    EXPECT_EQ(gtk_widget_get_valign(label), GTK_ALIGN_CENTER);
    EXPECT_EQ(gtk_widget_get_margin_start(label), 3);
    EXPECT_EQ(gtk_widget_get_margin_top(label), 4);
    // The last column and row it covers; -1 for a child of no grid.
    EXPECT_EQ(value(X), 3);
    EXPECT_EQ(value(Z), 1);
    EXPECT_EQ(value(CM2), -1);
    EXPECT_EQ(value(E2), -1);

    struct Case {
        int left, right, top, bottom;
        std::string message;
    } cases[] = {
        {3, 5, 1, 3, "Duplicated entries attached in table row 1 column 3"},
        {0, 3, 0, 2, "Duplicated entries attached in table row 1 column 2"},  // the first taken of its cells
        {0, 2, 0, 2, ""},                                                     // beside it
        {4, 6, 0, 3, ""},
    };
    for (const Case &c : cases) {
        const std::string check = form_box + table_new(Y, 1) + set(E) + label_into(L) + table_attach(E, L, 2, 4, 1, 2) +
                                  label_into(D) + val(E) + val(D) + num(c.left) + num(c.right) + num(c.top) +
                                  num(c.bottom) + num(0L) + num(0L) + num(0L) + num(0L) + num(1) +
                                  st(in_IGTABLE_ATTACH, 11);
        EXPECT_EQ(form(check).abort, c.message) << c.left << ".." << c.right << " x " << c.top << ".." << c.bottom;
    }
    EXPECT_EQ(form(form_box + label_into(L) + num(0L) + val(L) + num(0L) + num(1) + num(0L) + num(1) + num(0L) +
                   num(0L) + num(0L) + num(0L) + st(in_IGTABLE_ATTACH, 10))
                  .abort,
              "Table pointer is NULL");
    EXPECT_EQ(form(form_box + table_new(Y, 1) + set(E) + val(E) + num(0L) + ref(X) + ref(Z) + st(in_IGTABLE_GET_CELL, 4))
                  .abort,
              "Widget pointer is NULL");
    EXPECT_EQ(form(num(0L) + num(1) + ref(X) + ref(Z) + st(in_IGTABLE_GET_CELL, 4)).abort, "Table pointer is NULL");
    EXPECT_EQ(form(num(0L) + st(in_IGTABLE_GET_CELL, 1)).abort, "igtable_get_cell must have four parameters");
}

TEST_F(WidgetsTest, GridRowsFollowInsertsAndDeletes)
{
    // The grid in Z. Children: A rows 1..3 in column 0, B row 5, C row 2 in column 1, D row 0; C is a field's entry.
    const std::string grid = form_box + table_new(Y, 1) + set(Z) + label_into(E, "A") + label_into(L, "B") +
                             label_into(D, "C") + label_into(E2, "D") + table_attach(Z, E, 0, 1, 1, 4) +
                             table_attach(Z, L, 0, 1, 5, 6) + table_attach(Z, D, 1, 2, 2, 3) +
                             table_attach(Z, E2, 0, 1, 0, 1) + [] {
                                 Add a;
                                 a.entry = val(D);
                                 a.name = str("C");
                                 return a.text();
                             }();
    const GridCell gone{-1, -1, -1, -1};
    struct Case {
        std::string call;  // pushes its arguments after the grid
        int code, count;
        int answer;
        GridCell a, b, c, d;
    } cases[] = {
        {num(2), in_IGTABLE_ADD_ROW, 2, 2, {0, 1, 1, 4}, {0, 6, 1, 1}, {1, 3, 1, 1}, {0, 0, 1, 1}},
        {"", in_IGTABLE_ADD_ROW, 1, 7, {0, 1, 1, 3}, {0, 5, 1, 1}, {1, 2, 1, 1}, {0, 0, 1, 1}},
        {num(8), in_IGTABLE_ADD_ROW, 2, -1, {0, 1, 1, 3}, {0, 5, 1, 1}, {1, 2, 1, 1}, {0, 0, 1, 1}},
        {val(D), in_IGTABLE_ADD_ROW, 2, 3, {0, 1, 1, 4}, {0, 6, 1, 1}, {1, 2, 1, 1}, {0, 0, 1, 1}},
        {num(2), in_IGTABLE_DELETE_ROW, 2, 2, {0, 1, 1, 1}, {0, 4, 1, 1}, gone, {0, 0, 1, 1}},
        {num(-1), in_IGTABLE_DELETE_ROW, 2, 5, {0, 1, 1, 3}, gone, {1, 2, 1, 1}, {0, 0, 1, 1}},
        {num(1) + num(3), in_IGTABLE_DELETE_ROW, 3, 1, gone, {0, 2, 1, 1}, gone, {0, 0, 1, 1}},
        {"", in_IGTABLE_DELETE_ROW, 1, 0, gone, gone, gone, gone},
        {num(6), in_IGTABLE_DELETE_ROW, 2, -1, {0, 1, 1, 3}, {0, 5, 1, 1}, {1, 2, 1, 1}, {0, 0, 1, 1}},
        {val(L), in_IGTABLE_DELETE_ROW, 2, 5, {0, 1, 1, 3}, gone, {1, 2, 1, 1}, {0, 0, 1, 1}},
    };
    for (const Case &c : cases) {
        const std::string op = c.code == in_IGTABLE_ADD_ROW ? "add " : "delete ";
        const Outcome o = form(grid + val(Z) + c.call + fn(c.code, c.count) + set(X));
        ASSERT_EQ(o.abort, "") << op << c.count;
        EXPECT_EQ(value(X), c.answer) << op << c.count;
        GtkWidget *g = widget_at(handle(Z));
        const std::pair<Numeric, GridCell> children[] = {{E, c.a}, {L, c.b}, {D, c.c}, {E2, c.d}};
        for (const auto &[v, expected] : children) {
            GtkWidget *child = widget_at(handle(v));
            if (expected == gone) {
                EXPECT_NE(gtk_widget_get_parent(child), g) << op << c.count << ": child " << v << " goes";
                continue;
            }
            ASSERT_EQ(gtk_widget_get_parent(child), g) << op << c.count << ": child " << v << " stays";
            EXPECT_EQ(grid_cell(child), expected) << op << c.count << ": child " << v;
            EXPECT_EQ(layout_of(g, child), expected) << op << c.count << ": GTK's layout of child " << v;
        }
        // The field whose entry was C left the form with it.
        EXPECT_EQ(cm_of(CM)->field_count, c.c == gone ? 0 : 1) << op << c.count;
    }
    EXPECT_EQ(form(fn(in_IGTABLE_ADD_ROW, 0) + set(X)).abort, "igtable_add_row must have one or two parameters");
    EXPECT_EQ(form(num(1) + num(1) + num(1) + num(1) + fn(in_IGTABLE_DELETE_ROW, 4) + set(X)).abort,
              "igtable_delete_row must have one, two or three parameters");
}

TEST_F(WidgetsTest, ScrollableAreas)
{
    const Outcome o = form(form_box + val(Y) + fn(in_IGSCROLLABLE_NEW, 1) + set(E) + val(Y) + num(0L) + num(2) +
                           fn(in_IGSCROLLABLE_NEW, 3) + set(L));
    ASSERT_EQ(o.abort, "");
    struct Case {
        Numeric inner;
        GtkPolicyType horizontal, vertical;
    } cases[] = {{E, GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC}, {L, GTK_POLICY_ALWAYS, GTK_POLICY_NEVER}};
    ScrolledWindow_t *record = cm_of(CM)->scrolled_windows;
    for (const Case &c : cases) {
        GtkWidget *inner = widget_at(handle(c.inner));
        ASSERT_TRUE(GTK_IS_BOX(inner));
        EXPECT_EQ(gtk_orientable_get_orientation(GTK_ORIENTABLE(inner)), GTK_ORIENTATION_HORIZONTAL);
        GtkWidget *viewport = gtk_widget_get_parent(inner);
        ASSERT_TRUE(GTK_IS_VIEWPORT(viewport));
        EXPECT_FALSE(gtk_viewport_get_scroll_to_focus(GTK_VIEWPORT(viewport)));
        GtkWidget *scrolled = gtk_widget_get_parent(viewport);
        GtkPolicyType h, v;
        gtk_scrolled_window_get_policy(GTK_SCROLLED_WINDOW(scrolled), &h, &v);
        EXPECT_EQ(h, c.horizontal);
        EXPECT_EQ(v, c.vertical);
        EXPECT_EQ(gtk_widget_get_parent(scrolled), widget_at(handle(Y)));
        EXPECT_TRUE(gtk_widget_get_hexpand(scrolled));
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->scrolled_window, scrolled) << "recorded in order";
        record = record->next;
    }
    EXPECT_EQ(form(form_box + val(Y) + num(1) + fn(in_IGSCROLLABLE_NEW, 2) + set(E)).abort,
              "Must have one or three parameters.");
    EXPECT_EQ(form(form_box + val(Y) + num(1) + num(3) + fn(in_IGSCROLLABLE_NEW, 3) + set(E)).abort,
              "Invalid vertical scrolling policy 3");
}

TEST_F(WidgetsTest, SizeGroups)
{
    struct Case {
        const char *mode;
        GtkSizeGroupMode expected;
    } cases[] = {{"H", GTK_SIZE_GROUP_HORIZONTAL}, {"V", GTK_SIZE_GROUP_VERTICAL}, {"Both", GTK_SIZE_GROUP_BOTH},
                 {"N", GTK_SIZE_GROUP_NONE}};
    for (const Case &c : cases) {
        ASSERT_EQ(form(str(c.mode) + fn(in_IGSIZE_GROUP_NEW, 1) + set(X)).abort, "") << c.mode;
        auto *group = reinterpret_cast<GtkSizeGroup *>(handle(X));
        ASSERT_TRUE(GTK_IS_SIZE_GROUP(group));
        EXPECT_EQ(gtk_size_group_get_mode(group), c.expected) << c.mode;
        g_object_unref(group);
    }
    for (const char *bad : {"h", "", "x"})
        EXPECT_EQ(form(str(bad) + fn(in_IGSIZE_GROUP_NEW, 1) + set(X)).abort,
                  std::string("igsize_group_new: Invalid input type '") + bad + "'");
    // Widgets keep the group alive once the program has given it up; its number is gone then.
    ASSERT_EQ(form(str("H") + fn(in_IGSIZE_GROUP_NEW, 1) + set(X) + label_into(L) + label_into(D) + val(X) + val(L) +
                   st(in_IGSIZE_GROUP_ADD, 2) + val(X) + val(D) + st(in_IGSIZE_GROUP_ADD, 2) + val(X) +
                   st(in_IGSIZE_GROUP_FINALISE, 1))
                  .abort,
              "");
    auto *group = reinterpret_cast<GtkSizeGroup *>(handle(X));
    GtkWidget *members[] = {reinterpret_cast<GtkWidget *>(handle(L)), reinterpret_cast<GtkWidget *>(handle(D))};
    GObject *alive = G_OBJECT(group);
    g_object_add_weak_pointer(alive, reinterpret_cast<gpointer *>(&alive));
    EXPECT_EQ(g_slist_length(gtk_size_group_get_widgets(group)), 2u);
    EXPECT_EQ(form(number(group) + st(in_IGSIZE_GROUP_FINALISE, 1)).abort, "Invalid widget handle " + hex(group));
    for (GtkWidget *w : members) gtk_size_group_remove_widget(group, w);
    EXPECT_EQ(alive, nullptr) << "the last widget let it go";
    EXPECT_EQ(form(num(1) + st(in_IGSIZE_GROUP_ADD, 1)).abort, "igsize_group_add(): Wrong Argument Count!");
    EXPECT_EQ(form(st(in_IGSIZE_GROUP_FINALISE, 0)).abort, "igsize_group_finalise(): Wrong Argument Count!");
    EXPECT_EQ(form(fn(in_IGSIZE_GROUP_NEW, 0) + set(X)).abort, "igsize_group_new(): Wrong Argument Count!");
}
