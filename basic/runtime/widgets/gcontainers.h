// The containers a program lays a form out with: vertical and horizontal boxes (the first
// vertical box of a form becomes its content), packing into boxes, grid tables with GTK 2 style
// attach options whose rows can be inserted and deleted while their cell data and row colours
// follow, scrollable areas, and size groups.
#pragma once

#include "grid_cells.h"

struct Stack;

// ---- Grid row arithmetic ---------------------------------------------------------------------------------

// A row argument of IGTABLE_ADD_ROW or IGTABLE_DELETE_ROW: a row number, or (widget set) a
// widget's cell, of which add-row takes the row after it and delete-row its first row.
struct RowArgument {
    int value;
    bool widget;
};
// The row IGTABLE_ADD_ROW inserts at in a grid of `rows` rows: a negative number means rows + 1,
// a widget the row after it; -1 for a position beyond rows + 1 (or a widget's that is negative).
int gtable_add_position(int rows, RowArgument position);
struct RowRange {
    int first, last;
};
// The rows IGTABLE_DELETE_ROW deletes; -2 stands for an argument not given. False (the intrinsic
// answers -1) for a row at or beyond `rows`, or a last row before the first.
bool gtable_delete_range(int rows, RowArgument first, RowArgument last, RowRange *out);
// A child's cell after a row is inserted at `row`: one that begins above it and reaches past it
// grows by a row, one that begins at or below it moves down a row.
GridCell gtable_cell_after_insert(GridCell cell, int row);
// A child's cell after rows first..last are deleted: one that begins above and reaches into them
// ends before them, one that begins after them moves up. False when the child begins inside them
// (it goes).
bool gtable_cell_after_delete(GridCell *cell, int first, int last);

// ---- Intrinsics -------------------------------------------------------------------------------------------
void igvbox_new(int nargs, int last, Stack *result);          // IGVBOX_NEW
void ighbox_new(int nargs, int last, Stack *result);          // IGHBOX_NEW
void ighbox_new_other(int nargs, int last, Stack *result);    // IGHBOX_NEW_OTHER
void ighbox_pack(int nargs, int last);                        // IGHBOX_PACK
void igtable_new(int nargs, int last, Stack *result);         // IGTABLE_NEW
void igtable_unattached(int nargs, int last, Stack *result);  // IGTABLE_UNATTACHED
void igtable_attach(int nargs, int last);                     // IGTABLE_ATTACH
void igtable_add_row(int nargs, int last, Stack *result);     // IGTABLE_ADD_ROW
void igtable_delete_row(int nargs, int last, Stack *result);  // IGTABLE_DELETE_ROW
void igtable_get_cell(int nargs, int last);                   // IGTABLE_GET_CELL
void igscrollable_new(int nargs, int last, Stack *result);    // IGSCROLLABLE_NEW
void igsize_group_new(int nargs, int last, Stack *result);    // IGSIZE_GROUP_NEW
void igsize_group_add(int nargs, int last);                   // IGSIZE_GROUP_ADD
void igsize_group_finalise(int nargs, int last);              // IGSIZE_GROUP_FINALISE

// A scrolled window of the newest CM (which must exist), recorded in its scrolled_windows list,
// appended to parent with (1, 1, 0) when fill_parent, else (0, 0, 0), with the two policies, and
// a viewport (scroll-to-focus off) holding child; with no_key_scrolling the keyboard's scroll
// bindings do nothing. Shown, with the viewport and the child.
GtkWidget *gcontainers_scrolled(GtkWidget *parent, bool fill_parent, int horizontal, int vertical, GtkWidget *child,
                                bool no_key_scrolling);
// A scrolling policy argument (0 always, 1 automatic, 2 never); any other value ends the run with
// "Invalid horizontal scrolling policy %d" or "Invalid vertical scrolling policy %d".
int gcontainers_policy(const Stack &entry, bool horizontal);
// A value-stack numeric variable receives value; any other entry ends the run.
void gcontainers_store(Stack &variable, long value, const char *intrinsic);
