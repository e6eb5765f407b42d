// The intrinsics library's registration with the core: the three dispatchers and the I/O
// statements that the executor hands calls to, and the file channels' start-up and clean-up.
// Linked whole into every program that links the library (see the CMake file).
#include "fileio.h"
#include "formatting.h"
#include "hooks.h"
#include "intrinsic_dispatch.h"

namespace {

const bool registered = [] {
    register_intrinsic_calls({r_intrins, s_intrins, c_intrins, ioc, callio, ioc_traps_set, ioc_trap_label, ioc_reset});
    register_hook(CoreHook::start_file_channels, initialize_files);
    register_hook(CoreHook::close_file_channels, close_files);
    register_dates_intrinsics();
    register_pictures_intrinsics();
    register_pattern_match_intrinsics();
    register_url_encode_intrinsics();
    register_text_escape_intrinsics();
    return true;
}();

} // namespace
