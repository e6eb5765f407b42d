// The application area: the rectangle inside which form windows are placed and whose size scales
// the main window type. Set at launch from the geometry and app_option options, kept in step with
// the monitor a window is on, and read and changed by programs through the geometry intrinsics.
#pragma once

#include <gtk/gtk.h>

struct Stack;

// Help text of the app_option option, a new g_malloc text (NULL when memory runs out).
char *aoae_get_oaa_help();
// Applies OAE_Option and OAE_Geometry to global_data and the environment (windows mode). A
// geometry needs two numbers 1..9999 ("WWWxHHH"), else the run ends ("Invalid geometry %s").
void aoae_set_oae_geometry_abcd();
// Handler of a window's size and state notifications: a window shown on another monitor moves
// its CM's area origin (or global_data's, while no CM exists) to that monitor's origin.
void aoae_configure_event(GtkWidget *window, GParamSpec *property, gpointer gd);

// ---- Intrinsics ------------------------------------------------------------------------------------
void igeometry_get_std(int nargs, int last, Stack *result);  // IGEOMETRY_GET_STD
void igeometry_get_oae(int nargs, int last, Stack *result);  // IGEOMETRY_GET_OAE
void igeometry_put_std(int nargs, int last);                 // IGEOMETRY_PUT_STD
void igeometry_put_oae(int nargs, int last);                 // IGEOMETRY_PUT_OAE
