// The cell data of a program's grid: every child attached by the grid intrinsics carries four
// integers as named object data, "left-attach", "top-attach", "width" and "height" (cells, not
// pixels). The grid intrinsics write them when they attach, insert or delete rows, and keep GTK's
// own layout of the child equal to them; the table colours read them to find a grid's extent.
#pragma once

#include <gtk/gtk.h>

struct GridCell {
    int left, top, width, height;
    bool operator==(const GridCell &) const = default;
};

// The child's cell data; zeros for a child that carries none. (The data is written only here, so
// it is also kept as one record, read in one lookup.)
GridCell grid_cell(GtkWidget *child);
void grid_set_cell(GtkWidget *child, const GridCell &cell);

// The grid's extent: rows = the largest top + height, columns = the largest left + width over its
// children (0 for an empty grid).
void grid_extent(GtkWidget *grid, int *rows, int *columns);

// At run-time log level 0 or more, lists the grid's children in the log: "Display Gtk Table %p",
// each child's cell at level above 2, then "Display Gtk Table %p finished".
void grid_log_children(GtkWidget *grid);
