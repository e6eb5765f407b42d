// Table colours: per control matrix, the colour settings of each grid table (a repeating pattern
// of default rows and explicit rows and cells, each a style name) and their painting, which sets
// the CSS widget name of the widget in each grid cell to its style so that the site style sheet
// decides the look. The end of every event and ICSET_FOCUS paint through cm_resources() (kinds.h),
// whose colour members this file fills at start-up.
#pragma once

#include <cstdint>
#include <span>
#include <gtk/gtk.h>

#include "forms.h"
#include "intrinsic_dispatch.h"

// Paints every grid of the CM whose settings changed since it was last painted and which has at
// least one default row (a changed grid without one keeps its mark).
void ctable_bgcolour_display(ControlMatrix_t *cm);
// The settings of a grid in any CM of the chain (first CM first), or nullptr.
BgClrTable_t *ctable_bgcolour_find_table(GtkWidget *grid);
// The grid's extent from its children's cell data, after listing the children in the log.
void ctable_bgclr_get_table_dim(std::uint16_t *rows, std::uint16_t *columns, GtkWidget *grid);
// Frees every grid's settings of the CM and empties its list; the grids' "destroy" handlers are
// disconnected, so a grid destroyed later never reaches the freed CM.
void ctable_bgclr_free(ControlMatrix_t *cm);

// The statements (matrix first; the table is a grid handle, the style a text).
void ictable_bgcolour_row_default(int nargs, int last);   // matrix, table, row, style
void ictable_bgcolour_cell_default(int nargs, int last);  // matrix, table, row, column, style
void ictable_bgcolour_set_row(int nargs, int last);       // matrix, table, row, style
void ictable_bgcolour_set_cell(int nargs, int last);      // matrix, table, row, column, style
void ictable_bgcolour_show(int nargs, int last);          // matrix
void ictable_bgcolour_display_table(int nargs, int last); // matrix, table

// Installs the colour members of cm_resources().
void register_table_colours();
// The dispatcher rows of the statements above, registered by the library's registration object.
std::span<const IntrinsicRow> table_colour_intrinsics();
