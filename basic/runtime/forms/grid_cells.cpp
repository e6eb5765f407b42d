// Cell data of grid children, kept as object data under the names the table colours read.
#include "grid_cells.h"

#include <algorithm>

#include "gdata.h"

namespace {

struct Keys {
    GQuark left = g_quark_from_static_string("left-attach");
    GQuark top = g_quark_from_static_string("top-attach");
    GQuark width = g_quark_from_static_string("width");
    GQuark height = g_quark_from_static_string("height");
    // The four together, for the grid's own walks: one lookup instead of four per child.
    GQuark cell = g_quark_from_static_string("lumba-grid-cell");
};

const Keys &keys()
{
    static const Keys k;
    return k;
}

void put(GtkWidget *child, GQuark key, int value) { g_object_set_qdata(G_OBJECT(child), key, GINT_TO_POINTER(value)); }

} // namespace

GridCell grid_cell(GtkWidget *child)
{
    const auto *cell = static_cast<const GridCell *>(g_object_get_qdata(G_OBJECT(child), keys().cell));
    return cell ? *cell : GridCell{};
}

void grid_set_cell(GtkWidget *child, const GridCell &cell)
{
    const Keys &k = keys();
    auto *kept = static_cast<GridCell *>(g_object_get_qdata(G_OBJECT(child), k.cell));
    if (!kept) {
        kept = g_new(GridCell, 1);
        g_object_set_qdata_full(G_OBJECT(child), k.cell, kept, g_free);
    }
    *kept = cell;
    put(child, k.left, cell.left);
    put(child, k.top, cell.top);
    put(child, k.width, cell.width);
    put(child, k.height, cell.height);
}

void grid_extent(GtkWidget *grid, int *rows, int *columns)
{
    int r = 0, c = 0;
    for (GtkWidget *child = gtk_widget_get_first_child(grid); child; child = gtk_widget_get_next_sibling(child)) {
        const GridCell cell = grid_cell(child);
        r = std::max(r, cell.top + cell.height);
        c = std::max(c, cell.left + cell.width);
    }
    if (rows) *rows = r;
    if (columns) *columns = c;
}

void grid_log_children(GtkWidget *grid)
{
    if (!global_data || global_data->log_level_lumbas < 0) return;
    mlog(0, "Display Gtk Table %p", static_cast<void *>(grid));
    if (global_data->log_level_lumbas > 2)
        for (GtkWidget *child = gtk_widget_get_first_child(grid); child; child = gtk_widget_get_next_sibling(child)) {
            const GridCell c = grid_cell(child);
            mlog(3, "Left Attach = %d; Top Attach = %d; Width = %d; Height = %d; Widget = %p", c.left, c.top, c.width,
                 c.height, static_cast<void *>(child));
        }
    mlog(0, "Display Gtk Table %p finished", static_cast<void *>(grid));
}
