// Form windows: their creation by type letter (IGWIN_NEW, and the report viewer's "a"), their
// placement inside the application area, and their close and destroy handling. GTK 4 cannot place
// a window, so a computed position is only recorded in the newest CM and written to the log; the
// sizes, the transient parent and the titles are what the user sees.
#pragma once

#include <gtk/gtk.h>

#include "gdata.h"

struct Application_t;
struct Stack;

// ---- The arithmetic, without a window ------------------------------------------------------------------

// A row of the window-type table: default size, placement code, and whether the position
// offsets are taken from the parent window (gwin_new_get_posn).
struct WindowType {
    int width, height;
    int placement;
    bool offsets;
};
// The row of a type letter; type "a" takes the scaling factor, type "x" the launch area of gd.
// False for a letter the table lacks.
bool gwin_type(char letter, float factor, const GlobalData_t &gd, WindowType *out);
// IGWIN_NEW's scaling factor for a type letter and an application area size.
float gwin_scaling_factor(char letter, int area_width, int area_height);

struct WindowArea {
    int x, y, width, height;
};
struct WindowPosition {
    int x, y;
};
// gwindow_move's position: placement code p (0..9, 100..109; others give (0, 0) before the
// clamps) for the passed size w x h, a window whose default size is dw x dh, inside area with
// decorations dx, dy.
WindowPosition gwindow_position(int p, int w, int h, int dw, int dh, const WindowArea &area, int dx, int dy);
// The offsets of placements 100..109 for a window of W x H over a parent whose default size is
// pw x ph.
WindowPosition gwin_new_offsets(int p, int W, int H, int pw, int ph);

// ---- Windows ---------------------------------------------------------------------------------------------

// Makes (or, over the menu screen, borrows) the window of a type text and returns it; an unknown
// letter ends the run ("Unexpected window type %s").
GtkWidget *gwin_new_nb(const char *type, float factor);
// Computes the position of window for placement code p and the passed width and height, records
// it (and the size passed) in the newest CM and logs it.
void gwindow_move(GtkWidget *window, int p, int width, int height);
// The offsets for placements 100..109 from the newest CM's window; (0, 0) without one.
WindowPosition gwin_new_get_posn(int p, int width, int height);

// Whether a window still open runs routines of the application, or runs in its context: they
// would be left pointing into its freed code, so the application must stay loaded.
bool windows_use(const Application_t *ap, const GlobalData_t &gd);

// Handlers connected to every new window.
gboolean on_gwin_new_delete(GtkWindow *window, gpointer gd);
void on_gwin_new_destroy(GtkWidget *window, gpointer program_name);

// ---- Intrinsics ------------------------------------------------------------------------------------------
void igwin_new(int nargs, int last, Stack *result);  // IGWIN_NEW
void igwindow_move(int nargs, int last);             // IGWINDOW_MOVE
