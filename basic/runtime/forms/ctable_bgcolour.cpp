// Table colours: the settings each CM keeps per grid, the statements that make them, keeping row
// settings in step with rows the grid intrinsics insert and delete, and the painting.
#include "ctable_bgcolour.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cases.h"
#include "cmatrix.h"
#include "grid_cells.h"
#include "handles.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "kinds.h"
#include "message.h"

// One row's setting: its style (a name of the grid's list, or none) and its cells' styles by
// column. Ordered maps keep rows and cells ascending by number, as painting walks them.
struct BgClrRow_t {
    const std::string *style = nullptr;
    std::map<int, const std::string *> cells;
};
using BgClrRows = std::map<int, BgClrRow_t>;

struct BgClrTable_t {
    GtkWidget *table = nullptr;
    gulong destroy_handler = 0;
    std::set<std::string> styles;  // every name once; rows and cells point at these
    BgClrRows default_rows;        // the repeating pattern (numbers only order it)
    BgClrRows rows;                // explicit settings of grid rows
    int changed = 1;
    BgClrTable_t *next = nullptr, *prior = nullptr;
};

namespace {

using intr::arg;

void unlink(ControlMatrix_t *cm, BgClrTable_t *t)
{
    if (t->prior) t->prior->next = t->next;
    else cm->bgclr_tables = t->next;
    if (t->next) t->next->prior = t->prior;
}

BgClrTable_t *table_of(ControlMatrix_t *cm, const GtkWidget *grid)
{
    for (BgClrTable_t *t = cm->bgclr_tables; t; t = t->next)
        if (t->table == grid) return t;
    return nullptr;
}

// The grid went: its settings go with it. Nothing here can fail, so nothing crosses GTK's frame.
void ctable_on_table_destroy(GtkWidget *grid, gpointer data)
{
    auto *cm = static_cast<ControlMatrix_t *>(data);
    if (BgClrTable_t *t = table_of(cm, grid)) {
        unlink(cm, t);
        delete t;
    }
}

// The grid's record in the CM, made (and its "destroy" watched) on first use.
BgClrTable_t *record_for(ControlMatrix_t *cm, GtkWidget *grid)
{
    if (BgClrTable_t *t = table_of(cm, grid)) return t;
    auto *t = new BgClrTable_t;
    t->table = grid;
    t->destroy_handler = g_signal_connect(grid, "destroy", G_CALLBACK(ctable_on_table_destroy), cm);
    BgClrTable_t **end = &cm->bgclr_tables;
    while (*end) {
        t->prior = *end;
        end = &(*end)->next;
    }
    *end = t;
    return t;
}

// The row of that number: kept as it is, or (replace) made afresh without style or cells.
BgClrRow_t &row_in(BgClrRows &rows, int number, bool replace)
{
    if (replace) rows.erase(number);
    return rows[number];
}

// ---- The statements -------------------------------------------------------------------------------

struct Setting {
    ControlMatrix_t *cm;
    BgClrTable_t *table;
    int row, column;
    const std::string *style;
};

GtkWidget *grid_argument(const Stack &entry)
{
    const long value = intr::long_integer(entry);
    if (!value) Abort("Table pointer is NULL");
    GtkWidget *grid = handle_widget(static_cast<std::uintptr_t>(value));
    if (!grid || !GTK_IS_GRID(grid)) Abort("Invalid widget handle %lX", static_cast<unsigned long>(value));
    return grid;
}

// The matrix (checked first); then the statement's own argument count.
ControlMatrix_t *matrix(int nargs, int last, int count)
{
    if (nargs < 1) Abort("Invalid number of parameters");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must have a valid Process Control Matrix");
    if (nargs != count) Abort("Invalid number of parameters");
    return cm;
}

// Reads matrix, table, row, (column,) style; count is the statement's argument count.
Setting setting(int nargs, int last, int count)
{
    ControlMatrix_t *cm = matrix(nargs, last, count);
    GtkWidget *grid = grid_argument(arg(nargs, last, 1));
    const int row = intr::integer(arg(nargs, last, 2));
    const int column = count == 5 ? intr::integer(arg(nargs, last, 3)) : 0;
    const std::string_view style = intr::text(arg(nargs, last, count - 1));
    if (!style.empty() && std::isspace(static_cast<unsigned char>(style.front())))
        Abort("Invalid name for Background Colour style");
    BgClrTable_t *table = record_for(cm, grid);
    table->changed = 1;
    return {cm, table, row, column, &*table->styles.emplace(style).first};
}

bool logging() { return global_data && global_data->log_level_lumbas > 2; }

// The four setters: a row's style (the row record replaced, its cells dropped) or a cell's style
// (the row record kept, or made without a style), in the default rows or the explicit rows.
void store(int nargs, int last, BgClrRows BgClrTable_t::*list, bool cell)
{
    const Setting s = setting(nargs, last, cell ? 5 : 4);
    if (logging()) {
        const char *statement = list == &BgClrTable_t::default_rows
                                    ? (cell ? "ictable_bgcolour_cell_default" : "ictable_bgcolour_row_default")
                                    : (cell ? "ictable_bgcolour_set_cell" : "ictable_bgcolour_set_row");
        if (cell) mlog(3, "%s - row %d, column %d, colour %s", statement, s.row, s.column, s.style->c_str());
        else mlog(3, "%s - row %d, colour %s", statement, s.row, s.style->c_str());
    }
    BgClrRow_t &row = row_in(s.table->*list, s.row, !cell);
    if (cell) row.cells[s.column] = s.style;
    else row.style = s.style;
}

// ---- Painting -------------------------------------------------------------------------------------------

// The grid's extent and the widget of every cell, rows by columns, from one pass over the children
// (reading each child's cell data once): a child covers the cells of its span; where two overlap,
// the earlier child holds the cell, as GTK's lookup finds it.
struct Cells {
    int rows = 0, columns = 0;
    std::vector<GtkWidget *> at;
    GtkWidget *widget(int row, int column) const { return at[static_cast<std::size_t>(row) * columns + column]; }
};

Cells cell_widgets(GtkWidget *grid)
{
    std::vector<std::pair<GtkWidget *, GridCell>> children;
    Cells cells;
    for (GtkWidget *child = gtk_widget_get_first_child(grid); child; child = gtk_widget_get_next_sibling(child)) {
        const GridCell c = grid_cell(child);
        cells.rows = std::max(cells.rows, c.top + c.height);
        cells.columns = std::max(cells.columns, c.left + c.width);
        children.emplace_back(child, c);
    }
    cells.rows = std::min(cells.rows, 0xFFFF);  // the extent is two 16-bit numbers
    cells.columns = std::min(cells.columns, 0xFFFF);
    cells.at.assign(static_cast<std::size_t>(cells.rows) * static_cast<std::size_t>(cells.columns), nullptr);
    for (const auto &[child, c] : children)
        for (int r = std::max(c.top, 0); r < std::min(c.top + c.height, cells.rows); ++r)
            for (int col = std::max(c.left, 0); col < std::min(c.left + c.width, cells.columns); ++col) {
                GtkWidget *&held = cells.at[static_cast<std::size_t>(r) * cells.columns + col];
                if (!held) held = child;
            }
    return cells;
}

// A box takes the style as its widget name, and so does its first child if that is a label.
void gtable_bgclr_set_colour(GtkWidget *widget, const std::string *style)
{
    if (!style || !widget) return;
    gtk_widget_set_name(widget, style->c_str());
    if (GTK_IS_BOX(widget))
        if (GtkWidget *first = gtk_widget_get_first_child(widget); first && GTK_IS_LABEL(first))
            gtk_widget_set_name(first, style->c_str());
}

void paint(BgClrTable_t *t)
{
    t->changed = 0;
    grid_log_children(t->table);
    const Cells cells = cell_widgets(t->table);
    const int rows = cells.rows, columns = cells.columns;
    std::vector<const BgClrRow_t *> pattern;
    for (const auto &[number, row] : t->default_rows) pattern.push_back(&row);

    auto explicit_row = t->rows.lower_bound(0);
    for (int r = 0; r < rows; ++r) {
        const BgClrRow_t &def = *pattern[static_cast<std::size_t>(r) % pattern.size()];
        while (explicit_row != t->rows.end() && explicit_row->first < r) ++explicit_row;
        const BgClrRow_t *own = explicit_row != t->rows.end() && explicit_row->first == r ? &explicit_row->second : nullptr;
        const std::string *row_style = own && own->style ? own->style : def.style;
        const auto &cell_styles = own ? own->cells : def.cells;
        auto cell = cell_styles.lower_bound(0);
        for (int c = 0; c < columns; ++c) {
            while (cell != cell_styles.end() && cell->first < c) ++cell;
            const std::string *style = cell != cell_styles.end() && cell->first == c ? cell->second : row_style;
            gtable_bgclr_set_colour(cells.widget(r, c), style);
        }
    }
}

// ---- Keeping rows in step with the grid ------------------------------------------------------------------

void mark(BgClrTable_t *t) { t->changed = 1; }

// Moves the explicit settings of rows from `from` on by `by` rows.
void shift_rows(BgClrRows &rows, int from, int by)
{
    BgClrRows moved;
    for (auto it = rows.lower_bound(from); it != rows.end();) {
        auto node = rows.extract(it++);
        node.key() += by;
        moved.insert(std::move(node));
    }
    rows.merge(moved);
}

void row_inserted(BgClrTable_t *t, int row)
{
    shift_rows(t->rows, row, 1);
    t->changed = 1;
}

void rows_deleted(BgClrTable_t *t, int first, int last)
{
    t->rows.erase(t->rows.lower_bound(first), t->rows.upper_bound(last));
    shift_rows(t->rows, last + 1, -(last - first + 1));
    t->changed = 1;
}

} // namespace

// ---- The operations --------------------------------------------------------------------------------------

void ctable_bgcolour_display(ControlMatrix_t *cm)
{
    FORMS_TRACE;
    for (BgClrTable_t *t = cm->bgclr_tables; t; t = t->next)
        if (t->changed && !t->default_rows.empty()) paint(t);
}

BgClrTable_t *ctable_bgcolour_find_table(GtkWidget *grid)
{
    if (!global_data) return nullptr;
    for (ControlMatrix_t *cm = global_data->first_cm; cm; cm = cm->next)
        if (BgClrTable_t *t = table_of(cm, grid)) return t;
    return nullptr;
}

void ctable_bgclr_get_table_dim(std::uint16_t *rows, std::uint16_t *columns, GtkWidget *grid)
{
    grid_log_children(grid);
    int r = 0, c = 0;
    grid_extent(grid, &r, &c);
    *rows = static_cast<std::uint16_t>(std::clamp(r, 0, 0xFFFF));
    *columns = static_cast<std::uint16_t>(std::clamp(c, 0, 0xFFFF));
}

void ctable_bgclr_free(ControlMatrix_t *cm)
{
    while (BgClrTable_t *t = cm->bgclr_tables) {
        g_signal_handler_disconnect(t->table, t->destroy_handler);
        unlink(cm, t);
        delete t;
    }
}

void ictable_bgcolour_row_default(int nargs, int last)
{
    FORMS_TRACE;
    store(nargs, last, &BgClrTable_t::default_rows, false);
}

void ictable_bgcolour_cell_default(int nargs, int last)
{
    FORMS_TRACE;
    store(nargs, last, &BgClrTable_t::default_rows, true);
}

void ictable_bgcolour_set_row(int nargs, int last)
{
    FORMS_TRACE;
    store(nargs, last, &BgClrTable_t::rows, false);
}

void ictable_bgcolour_set_cell(int nargs, int last)
{
    FORMS_TRACE;
    store(nargs, last, &BgClrTable_t::rows, true);
}

void ictable_bgcolour_show(int nargs, int last)
{
    FORMS_TRACE;
    ctable_bgcolour_display(matrix(nargs, last, 1));
}

void ictable_bgcolour_display_table(int nargs, int last)
{
    FORMS_TRACE;
    matrix(nargs, last, 2);
    grid_log_children(grid_argument(arg(nargs, last, 1)));
}

void register_table_colours()
{
    CmResourceHooks hooks = cm_resources();
    hooks.paint_colour_tables = ctable_bgcolour_display;
    hooks.free_colour_tables = ctable_bgclr_free;
    hooks.find_colour_table = ctable_bgcolour_find_table;
    hooks.mark_colour_table = mark;
    hooks.colour_row_inserted = row_inserted;
    hooks.colour_rows_deleted = rows_deleted;
    register_cm_resources(hooks);
}

namespace {

constexpr IntrinsicRow rows[] = {
    {in_ICTABLE_BGCOLOUR_ROW_DEFAULT, ictable_bgcolour_row_default, ANY_COUNT, WINDOWS_ONLY},
    {in_ICTABLE_BGCOLOUR_CELL_DEFAULT, ictable_bgcolour_cell_default, ANY_COUNT, WINDOWS_ONLY},
    {in_ICTABLE_BGCOLOUR_SET_ROW, ictable_bgcolour_set_row, ANY_COUNT, WINDOWS_ONLY},
    {in_ICTABLE_BGCOLOUR_SET_CELL, ictable_bgcolour_set_cell, ANY_COUNT, WINDOWS_ONLY},
    {in_ICTABLE_BGCOLOUR_SHOW, ictable_bgcolour_show, ANY_COUNT, WINDOWS_ONLY},
    {in_ICTABLE_BGCOLOUR_DISPLAY_TABLE, ictable_bgcolour_display_table, ANY_COUNT, WINDOWS_ONLY},
};

} // namespace

std::span<const IntrinsicRow> table_colour_intrinsics() { return rows; }
