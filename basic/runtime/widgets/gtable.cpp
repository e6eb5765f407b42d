// Grid tables: GTK 2 style attach options over GtkGrid, rows inserted and deleted with the cell
// data of every child rewritten and GTK's layout of the child set to match, and the grid's row
// colours kept in step.
#include <climits>

#include "cases.h"
#include "cfield.h"
#include "cmatrix.h"
#include "gcontainers.h"
#include "gmisc.h"
#include "gwidget.h"
#include "kinds.h"
#include "message.h"

namespace {

using intr::arg;

// GTK 2 attach options: 1 expand, 2 shrink, 4 fill, 5 expand and fill, 6 shrink and fill; any
// other value means none.
bool option_expands(int option) { return option == 1 || option == 5; }
bool option_fills(int option) { return option == 4 || option == 5 || option == 6; }

GtkWidget *grid_arg(const Stack &entry)
{
    if (!intr::long_integer(entry)) Abort("Table pointer is NULL");
    return gwidget_arg_of(entry, GTK_TYPE_GRID);
}

int rows_of(GtkWidget *grid)
{
    int rows = 0;
    grid_extent(grid, &rows, nullptr);
    return rows;
}

// Sets GTK's layout of a child to its cell data.
void lay_out(GtkWidget *grid, GtkWidget *child, const GridCell &cell)
{
    GtkLayoutManager *manager = gtk_widget_get_layout_manager(grid);
    auto *layout = GTK_GRID_LAYOUT_CHILD(gtk_layout_manager_get_layout_child(manager, child));
    gtk_grid_layout_child_set_row(layout, cell.top);
    gtk_grid_layout_child_set_row_span(layout, cell.height);
}

BgClrTable_t *colours_of(GtkWidget *grid)
{
    return cm_resources().find_colour_table(grid);
}

void mark_colours(GtkWidget *grid)
{
    if (BgClrTable_t *table = colours_of(grid)) cm_resources().mark_colour_table(table);
}

GtkWidget *make_grid(int rows, int columns, int homogeneous)
{
    GtkWidget *grid = gtk_grid_new();
    gtk_grid_set_row_homogeneous(GTK_GRID(grid), homogeneous != 0);
    gtk_grid_set_column_homogeneous(GTK_GRID(grid), homogeneous != 0);
    for (int i = 0; i < rows; ++i) gtk_grid_insert_row(GTK_GRID(grid), i);
    for (int i = 0; i < columns; ++i) gtk_grid_insert_column(GTK_GRID(grid), i);
    return grid;
}

// A row argument: a widget handle when above 10000 or below -2, else a row number.
RowArgument row_argument(const Stack &entry, bool row_after)
{
    const long value = intr::long_integer(entry);
    if (value <= 10000 && value >= -2) return {static_cast<int>(value), false};
    const GridCell cell = grid_cell(gwidget_arg(entry));
    return {row_after ? cell.top + cell.height : cell.top, true};
}

} // namespace

// ---- Arithmetic -------------------------------------------------------------------------------------------

int gtable_add_position(int rows, RowArgument position)
{
    if (position.widget) return position.value < 0 ? -1 : position.value;
    if (position.value < 0) return rows + 1;
    return position.value > rows + 1 ? -1 : position.value;
}

bool gtable_delete_range(int rows, RowArgument first, RowArgument last, RowRange *out)
{
    int f = first.value;
    if (!first.widget) {
        if (f == -1) f = rows - 1;
        else if (f >= rows) return false;
    }
    int l = last.value;
    const bool last_given = last.widget || l >= -1;
    if (last_given) {
        if (!last.widget) {
            if (l == -1) l = rows - 1;
            else if (l >= rows) return false;
        }
        if (l < f) return false;
    }
    if (f < 0) {
        // No first row: the whole grid (nothing at all when it is empty).
        f = 0;
        l = rows - 1;
    } else if (!last_given) {
        l = f;
    }
    *out = {f, l};
    return true;
}

GridCell gtable_cell_after_insert(GridCell c, int row)
{
    if (c.top < row && row < c.top + c.height)
        ++c.height;
    else if (c.top >= row)
        ++c.top;
    return c;
}

bool gtable_cell_after_delete(GridCell *c, int first, int last)
{
    if (c->top < first) {
        if (c->top + c->height > first) c->height = first - c->top;
        return true;
    }
    if (c->top <= last) return false;
    c->top -= last - first + 1;
    return true;
}

// ---- Intrinsics -------------------------------------------------------------------------------------------

void igtable_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 5 && nargs != 7) Abort("Must have five or seven parameters");
    GtkWidget *parent = gwidget_arg_of(arg(nargs, last, 0), GTK_TYPE_BOX);
    const int rows = intr::integer(arg(nargs, last, 1)), columns = intr::integer(arg(nargs, last, 2));
    const int expand = intr::integer(arg(nargs, last, 3)), homogeneous = intr::integer(arg(nargs, last, 4));
    if (nargs == 5 && (expand < 0 || expand > 3))
        Abort("Expand flag %d may be zero = no expand, or one = expand. Values greater than one are defunct, and "
              "should not be used. Rather, add a sixth and seventh parameter for scrolling policy",
              expand);
    if (nargs == 7 && (expand < 0 || expand > 1))
        Abort("Expand flag %d may be zero = no expand, or one = expand", expand);
    if (homogeneous < 0 || homogeneous > 1) Abort("Homogeneous flag %d must be true of false", homogeneous);
    int horizontal = GTK_POLICY_NEVER;
    int vertical = expand >= 2 ? GTK_POLICY_AUTOMATIC : GTK_POLICY_NEVER;
    if (nargs == 7) {
        horizontal = gcontainers_policy(arg(nargs, last, 5), true);
        vertical = gcontainers_policy(arg(nargs, last, 6), false);
    }
    const bool fill = expand == 1 || expand == 2;
    GtkWidget *grid = make_grid(rows, columns, homogeneous);
    if (horizontal == GTK_POLICY_NEVER && vertical == GTK_POLICY_NEVER) {
        oska_box_append(parent, grid, fill, fill, 0);
        gtk_widget_set_visible(grid, TRUE);
    } else {
        gcontainers_scrolled(parent, fill, horizontal, vertical, grid, true);
    }
    gwidget_give(result, grid);
}

void igtable_unattached(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 3) Abort("igtable_unattached must have three parameters");
    GtkWidget *grid = make_grid(intr::integer(arg(nargs, last, 0)), intr::integer(arg(nargs, last, 1)),
                                intr::integer(arg(nargs, last, 2)));
    gtk_widget_set_halign(grid, GTK_ALIGN_FILL);
    gtk_widget_set_valign(grid, GTK_ALIGN_FILL);
    gtk_widget_set_visible(grid, TRUE);
    gwidget_give(result, grid);
}

void igtable_attach(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 10 && nargs != 11) Abort("igtable_attach must have ten or eleven parameters");
    GtkWidget *grid = grid_arg(arg(nargs, last, 0));
    if (!intr::long_integer(arg(nargs, last, 1))) return;  // nothing to attach
    GtkWidget *child = gwidget_arg(arg(nargs, last, 1));
    int n[8];
    for (int i = 0; i < 8; ++i) n[i] = intr::integer(arg(nargs, last, 2 + i));
    const int left = n[0], right = n[1], top = n[2], bottom = n[3];
    const int xoptions = n[4], yoptions = n[5], xpad = n[6], ypad = n[7];
    if (right <= left || bottom <= top || left < 0 || top < 0)
        Abort("Invalid table cell: left %d, right %d, top %d, bottom %d", left, right, top, bottom);
    if (gtk_widget_get_parent(child)) Abort("Child widget has unexpected parent in IGTABLE_ATTACH");
    if (nargs == 11 && intr::integer(arg(nargs, last, 10))) {
        // Every cell the child would take must be free; the first taken one is reported.
        for (int row = top; row < bottom; ++row)
            for (int column = left; column < right; ++column)
                if (gtk_grid_get_child_at(GTK_GRID(grid), column, row)) {
                    grid_log_children(grid);
                    Abort("Duplicated entries attached in table row %d column %d", row, column);
                }
    }
    gtk_widget_set_margin_start(child, xpad);
    gtk_widget_set_margin_end(child, xpad);
    gtk_widget_set_margin_top(child, ypad);
    gtk_widget_set_margin_bottom(child, ypad);
    gtk_widget_set_hexpand(child, option_expands(xoptions));
    // A check box filling its cell would draw its focus ring round the whole cell, the box
    // squeezed at its left edge: it keeps its own width at the cell's start.
    const GtkAlign fill = GTK_IS_CHECK_BUTTON(child) ? GTK_ALIGN_START : GTK_ALIGN_FILL;
    gtk_widget_set_halign(child, option_fills(xoptions) ? fill : GTK_ALIGN_CENTER);
    gtk_widget_set_vexpand(child, option_expands(yoptions));
    gtk_widget_set_valign(child, option_fills(yoptions) ? GTK_ALIGN_FILL : GTK_ALIGN_CENTER);
    grid_set_cell(child, {left, top, right - left, bottom - top});
    gtk_grid_attach(GTK_GRID(grid), child, left, top, right - left, bottom - top);
    mark_colours(grid);
}

void igtable_add_row(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs < 1 || nargs > 2) Abort("igtable_add_row must have one or two parameters");
    GtkWidget *grid = grid_arg(arg(nargs, last, 0));
    const int rows = rows_of(grid);
    const RowArgument requested = nargs == 2 ? row_argument(arg(nargs, last, 1), true) : RowArgument{-1, false};
    const int position = gtable_add_position(rows, requested);
    // At or after the extent no child begins or reaches: nothing moves.
    if (position >= 0 && position < rows) {
        for (GtkWidget *c = gtk_widget_get_first_child(grid); c; c = gtk_widget_get_next_sibling(c)) {
            const GridCell before = grid_cell(c);
            const GridCell after = gtable_cell_after_insert(before, position);
            if (after == before) continue;
            grid_set_cell(c, after);
            lay_out(grid, c, after);
        }
    }
    if (BgClrTable_t *table = position >= 0 ? colours_of(grid) : nullptr)
        cm_resources().colour_row_inserted(table, position);
    mark_colours(grid);
    intr::set_number(result, position);
}

void igtable_delete_row(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs < 1 || nargs > 3) Abort("igtable_delete_row must have one, two or three parameters");
    GtkWidget *grid = grid_arg(arg(nargs, last, 0));
    const int rows = rows_of(grid);
    const RowArgument first = nargs >= 2 ? row_argument(arg(nargs, last, 1), false) : RowArgument{-2, false};
    const RowArgument final = nargs >= 3 ? row_argument(arg(nargs, last, 2), false) : RowArgument{-2, false};
    RowRange range{-1, -1};
    if (gtable_delete_range(rows, first, final, &range)) {
        for (GtkWidget *c = gtk_widget_get_first_child(grid), *next; c; c = next) {
            next = gtk_widget_get_next_sibling(c);
            const GridCell before = grid_cell(c);
            GridCell after = before;
            if (!gtable_cell_after_delete(&after, range.first, range.last)) {
                // The child goes, and the field whose entry it is leaves its CM (whose records
                // may take their widgets with them).
                g_object_ref(c);
                cutil_destroy_widget(c);
                if (gtk_widget_get_parent(c) == grid) gtk_grid_remove(GTK_GRID(grid), c);
                g_object_unref(c);
            } else if (after != before) {
                grid_set_cell(c, after);
                lay_out(grid, c, after);
            }
        }
        if (BgClrTable_t *table = colours_of(grid)) cm_resources().colour_rows_deleted(table, range.first, range.last);
    }
    mark_colours(grid);
    intr::set_number(result, range.first);
}

void igtable_get_cell(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 4) Abort("igtable_get_cell must have four parameters");
    GtkWidget *grid = grid_arg(arg(nargs, last, 0));
    if (!intr::long_integer(arg(nargs, last, 1))) Abort("Widget pointer is NULL");
    GtkWidget *child = gwidget_arg(arg(nargs, last, 1));
    long column = -1, row = -1;
    if (gtk_widget_get_parent(child) == grid) {
        const GridCell cell = grid_cell(child);
        column = cell.left + cell.width - 1;
        row = cell.top + cell.height - 1;
    }
    gcontainers_store(arg(nargs, last, 2), column, "IGTABLE_GET_CELL");
    gcontainers_store(arg(nargs, last, 3), row, "IGTABLE_GET_CELL");
}
