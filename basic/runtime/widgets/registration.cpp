// The widgets' registration with the core: the message box and question of reports and notices,
// and the window-geometry options of start-up. Linked whole into every program that links the
// library (see the CMake file).
#include "aoae.h"
#include "gmessage.h"
#include "hooks.h"

namespace {

const bool registered =
    (register_window_hooks({gmessage, Mgdialog, aoae_get_oaa_help, aoae_set_oae_geometry_abcd}), true);

} // namespace
