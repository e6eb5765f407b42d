// The hooks through which the core reaches the subsystems above it, with their defaults for a
// run-time in which nothing of a subsystem is registered (see hooks.h). Every table here is
// constant-initialised, so registration objects may fill it before main in any order.
#include "hooks.h"

#include <cstdio>
#include <utility>

#include <glib.h>

#include "gdata.h"
#include "intrinsics.h"
#include "message.h"

namespace {

int no_numeric(Stack *, int code, int, int) { Abort("Bad real function intrinsic code - %d", code); }
int no_string(Stack *, int code, int, int) { Abort("Bad string intrinsic code - %d", code); }
int no_statement(int code, int, int) { Abort("Bad c-intrinsic code - %d", code); }
void no_io_parameter(int, int) { Abort("File channels not available"); }
void no_io_statement(int, int, int, Routine *) { Abort("File channels not available"); }
bool no_io_traps() { return false; }
Code *no_trap_label() { return nullptr; }
void nothing() {}
constexpr bool copies_texts[IN_ROWS] = {};
constexpr DirectIntrinsic through_dispatchers[IN_ROWS] = {};

} // namespace

constinit IntrinsicCalls intrinsic_calls_now{no_numeric, no_string, no_statement, no_io_parameter, no_io_statement,
                                             no_io_traps, no_trap_label, nothing, copies_texts, through_dispatchers};

namespace {

void no_control_matrices()
{
    if (global_data && global_data->first_cm) Abort("Control matrices not available");
}

void no_dump() { Abort("Crash dump not available"); }

HookFunction hooks[CORE_HOOK_COUNT] = {
    nothing,              // start_file_channels
    nothing,              // start_child_slots
    nothing,              // close_file_channels
    nothing,              // free_db_results
    nothing,              // free_db_connections
    no_control_matrices,  // free_control_matrices
    nothing,              // close_directory
    nothing,              // application_deleted
    nothing,              // free_tls_config
    no_dump,              // take_dump
};

int no_transactions() { return 0; }
TransactionQuery transactions = no_transactions;

void nothing_remembered(const AppMemory_t *) {}
AppMemoryRelease memory_release = nothing_remembered;

[[noreturn]] void insertion_unavailable(std::uintptr_t) { Abort("Document insertion is not available"); }
InsertionHandleRelease insertion_release = insertion_unavailable;

void message_on_stderr(const char *text, const char *)
{
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
}

int no_question(const char *, const char *, const char *) { Abort("Message dialogs not available"); }
char *no_help() { return g_strdup(""); }

WindowHooks windows{message_on_stderr, no_question, no_help, nothing};

} // namespace

IntrinsicCalls register_intrinsic_calls(const IntrinsicCalls &replacement)
{
    return std::exchange(intrinsic_calls_now, replacement);
}

HookFunction register_hook(CoreHook hook, HookFunction function)
{
    return std::exchange(hooks[static_cast<int>(hook)], function);
}

void run_hook(CoreHook hook)
{
    hooks[static_cast<int>(hook)]();
}

TransactionQuery register_transaction_query(TransactionQuery query)
{
    return std::exchange(transactions, query);
}

int open_transactions()
{
    return transactions();
}

InsertionHandleRelease register_insertion_handle_release(InsertionHandleRelease release)
{
    return std::exchange(insertion_release, release);
}

void release_insertion_handle(std::uintptr_t handle)
{
    insertion_release(handle);
}

AppMemoryRelease register_app_memory_release(AppMemoryRelease release)
{
    return std::exchange(memory_release, release);
}

void app_memory_released(const AppMemory_t *mem)
{
    memory_release(mem);
}

WindowHooks register_window_hooks(const WindowHooks &replacement)
{
    return std::exchange(windows, replacement);
}

const WindowHooks &window_hooks()
{
    return windows;
}
