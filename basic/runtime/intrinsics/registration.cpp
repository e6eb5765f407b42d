// The intrinsics library's registration with the core: the three dispatchers and the I/O
// statements that the executor hands calls to, the file channels' start-up and clean-up, the
// table of child processes, and the crash dump.
// Linked whole into every program that links the library (see the CMake file).
#include "child_processes.h"
#include "crash_dump.h"
#include "external_program.h"
#include "file_intrinsics.h"
#include "fileio.h"
#include "formatting.h"
#include "hooks.h"
#include "intrinsic_dispatch.h"
#include "misc.h"
#include "passwords.h"

namespace {

const bool registered = [] {
    register_intrinsic_calls({r_intrins, s_intrins, c_intrins, ioc, callio, ioc_traps_set, ioc_trap_label, ioc_reset});
    register_hook(CoreHook::start_file_channels, initialize_files);
    register_hook(CoreHook::close_file_channels, close_files);
    register_hook(CoreHook::start_child_slots, initialize_children);
    register_hook(CoreHook::take_dump, write_crash_dump);
    register_dates_intrinsics();
    register_pictures_intrinsics();
    register_pattern_match_intrinsics();
    register_url_encode_intrinsics();
    register_text_escape_intrinsics();
    register_timer_intrinsics();
    register_file_intrinsics();
    register_copy_and_remove_intrinsics();
    register_system_intrinsics();
    register_password_intrinsics();
    register_child_process_intrinsics();
    register_external_program_intrinsics();
    return true;
}();

} // namespace
