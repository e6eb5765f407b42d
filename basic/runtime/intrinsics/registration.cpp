// The intrinsics library's registration with the core: the three dispatchers and the I/O
// statements that the executor hands calls to, the file channels' start-up and clean-up, the
// table of child processes, and the crash dump; and the rows of its own intrinsics.
// Linked whole into every program that links the library (see the CMake file).
#include "cases.h"
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
    register_intrinsic_calls({r_intrins, s_intrins, c_intrins, ioc, callio, ioc_traps_set, ioc_trap_label, ioc_reset,
                            text_only_rows(), direct_rows()});
    register_hook(CoreHook::start_file_channels, initialize_files);
    register_hook(CoreHook::close_file_channels, close_files);
    register_hook(CoreHook::start_child_slots, initialize_children);
    register_hook(CoreHook::take_dump, write_crash_dump);
    register_intrinsic_rows(numeric_intrinsics());
    register_intrinsic_rows(string_intrinsics());
    register_intrinsic_rows(statement_intrinsics());
    register_intrinsic_rows(list_intrinsics());
    register_intrinsic_rows(dates_intrinsics());
    register_intrinsic_rows(pictures_intrinsics());
    register_intrinsic_rows(pattern_match_intrinsics());
    register_intrinsic_rows(url_encode_intrinsics());
    register_intrinsic_rows(text_escape_intrinsics());
    register_intrinsic_rows(timer_intrinsics());
    register_intrinsic_rows(file_intrinsics());
    register_intrinsic_rows(copy_and_remove_intrinsics());
    register_intrinsic_rows(system_intrinsics());
    register_intrinsic_rows(password_intrinsics());
    register_intrinsic_rows(child_process_intrinsics());
    register_intrinsic_rows(external_program_intrinsics());
    return true;
}();

} // namespace
