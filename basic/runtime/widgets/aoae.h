// The application area set at launch from the geometry and app_option options.
#pragma once

// Help text of the app_option option, a new g_malloc text (NULL when memory runs out).
char *aoae_get_oaa_help();
// Applies OAE_Option and OAE_Geometry to global_data and the environment (windows mode).
void aoae_set_oae_geometry_abcd();
