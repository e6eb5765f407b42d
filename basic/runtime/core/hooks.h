// What the interpreter core calls in the subsystems above it. The layers run one way (common <-
// core <- intrinsics <- services, forms <- widgets <- notes, documents): the core never names a
// function of a higher layer. Each subsystem hands the core its part here, from its registration
// object (a static initialiser in <subsystem>/registration.cpp, linked whole into every program
// that links the subsystem), so a new subsystem registers itself and leaves the core alone.
//
// Until something is registered, every hook has a default that answers "nothing open" or stops
// the run with the "... not available" text a user would see. Each register_* call returns the
// function it replaces, so a test can put it back.
#pragma once

#include <cstdint>
#include <string_view>

#include "stack.h"

struct Routine;
struct Stack;
union Code;
struct AppMemory_t;

// ---- Intrinsic calls and I/O statements (the intrinsics library) ------------------------------
//
// The executor hands every intrinsic call and I/O statement to these. Defaults: an intrinsic call
// stops as a dispatcher does for a code it has no case for ("Bad real function intrinsic code -
// %d", "Bad string intrinsic code - %d", "Bad c-intrinsic code - %d"); an I/O statement stops
// with "File channels not available"; no statement sets trap labels and resetting does nothing.
struct DirectIntrinsic;
struct IntrinsicCalls {
    int (*numeric)(Stack *result, int code, int nargs, int last);    // r_intrins
    int (*string)(Stack *result, int code, int nargs, int last);     // s_intrins
    int (*statement)(int code, int nargs, int last);                 // c_intrins
    void (*io_parameter)(int code, int last);                        // ioc
    void (*io_statement)(int code, int nargs, int last, Routine *r); // callio
    bool (*io_traps_set)();                                          // ioc_traps_set
    Code *(*io_trap_label)();                                        // ioc_trap_label
    void (*io_reset)();                                              // ioc_reset
    const bool *reads_text_only;  // IN_ROWS flags: the row of each code carries READS_TEXT_ONLY
    const DirectIntrinsic *direct;  // IN_ROWS rows of the function intrinsics the executor calls itself
};

// A function intrinsic that the executor may call without its dispatcher. The dispatcher's checks
// are made when the row is filled in: the code is a numeric (takes[0]) or string (takes[1])
// function its dispatcher serves, the row has a handler and is not windows-only, and it takes the
// count of arguments; a call passes them all when bit nargs of takes[kind of the call] is set.
// Any other call goes through the dispatcher, which stops as it always did (63 arguments at most
// come straight). The frame around the handler is the dispatcher's: begin_result and end_result.
struct DirectIntrinsic {
    void (*handler)(int nargs, int last, Stack *result) = nullptr;
    const char *name = nullptr;        // the language's name, for Rname while the handler runs
    std::uint64_t takes[2] = {0, 0};  // by the call's kind (numeric, string): the counts it takes
    // The row's TextMeasure while the row has its owner's handler (which gives the same value), else
    // nullptr; a numeric call of one plain text may then take its value from it, without the frame.
    long (*measure)(std::string_view text) = nullptr;
    // A call of this kind with nargs arguments may come straight to the handler.
    bool takes_call(bool returns_text, int nargs) const
    {
        return static_cast<unsigned>(nargs) < 64 && (takes[returns_text] >> nargs & 1) != 0;
    }
};

// The result entry of a function intrinsic before its handler runs: a numeric handler finds its
// decimal in place, a string one finds the entry naming the intrinsic (it stays so when the handler
// makes no text).
inline void begin_result(Stack *result, bool returns_text, int code);
// ... and after it: a number entry without flags, or a text entry whose dimension is its length.
inline void end_result(Stack *result, bool returns_text);
// Installs every member of calls (all must be set) and returns what it replaces.
IntrinsicCalls register_intrinsic_calls(const IntrinsicCalls &calls);
// What the executor calls; inline, since it looks at them at every intrinsic call.
extern IntrinsicCalls intrinsic_calls_now;
inline const IntrinsicCalls &intrinsic_calls() { return intrinsic_calls_now; }

// ---- Start-up, clean-up and the crash dump -----------------------------------------------------
//
// Plain hooks, each called at one fixed point. Defaults do nothing (nothing is open) except where
// noted.
enum class CoreHook {
    start_file_channels,    // start-up, after the environment numbers: every channel closed
    start_child_slots,      // start-up, right after: the table of MACH child processes
    close_file_channels,    // finish, first of all, also before a restart
    free_db_results,        // finish's memory clean-up, after the key sets
    free_db_connections,    // finish's memory clean-up, after the results
    free_control_matrices,  // finish's memory clean-up, last: every matrix on global_data's chain
                            // (default: "Control matrices not available" when the chain is not
                            // empty; finish empties the chain afterwards)
    close_directory,        // finish, after the memory clean-up: the LDAP connection
    application_deleted,    // after each application is unloaded: records that the forms engine
                            // kept while their routines ran can go now
    free_tls_config,        // finish, right after close_directory: the certificate API client's
                            // TLS configuration
    take_dump,              // a fatal report whose user asked for a crash dump (default: "Crash
                            // dump not available")
};
inline constexpr int CORE_HOOK_COUNT = static_cast<int>(CoreHook::take_dump) + 1;
using HookFunction = void (*)();
HookFunction register_hook(CoreHook hook, HookFunction function);
void run_hook(CoreHook hook);

// ---- Open database transactions (the database layer) -------------------------------------------
//
// The number of transactions opened by IPQBEGIN and not yet ended, which the program trace ring
// records with every entry. Default: 0.
using TransactionQuery = int (*)();
TransactionQuery register_transaction_query(TransactionQuery query);
int open_transactions();

// ---- Application memory going away (any layer that remembers what it found in one) -----------
//
// DeleteApplicationMem calls this with a memory space just before it releases it, so that a layer
// keeping what it looked up there (the symbols of its routines, its table schemas, addresses in
// its areas) forgets it before the addresses can be reused. Default: nothing.
using AppMemoryRelease = void (*)(const AppMemory_t *mem);
AppMemoryRelease register_app_memory_release(AppMemoryRelease release);
void app_memory_released(const AppMemory_t *mem);

// ---- Document-insertion handles left over (the documents) -------------------------------------
//
// Releases a document-insertion handle that an application still held when its memory was
// deleted, given its number as tracked. Default: stops with "Document insertion is not
// available" (a program cannot have made one without the documents).
using InsertionHandleRelease = void (*)(std::uintptr_t handle);
InsertionHandleRelease register_insertion_handle_release(InsertionHandleRelease release);
void release_insertion_handle(std::uintptr_t handle);

// ---- Windows (the widgets) ---------------------------------------------------------------------
//
// The message box and the two-button question of reports and notices, and the parts of start-up
// that belong to the windows: the help text of the app_option option and applying the geometry
// and app_option options once GTK is up.
struct WindowHooks {
    // Shows text in a message box of the kind named by type ("fatal", "info", "W", ...) and waits
    // until it is closed. Default: the text on standard error.
    void (*message)(const char *text, const char *type);
    // Asks a question with two buttons: 0 for the first, 1 for the second, -1 when closed.
    // Default: stops with "Message dialogs not available".
    int (*question)(const char *text, const char *label1, const char *label2);
    // A new g_malloc text (NULL when memory runs out). Default: an empty text.
    char *(*app_option_help)();
    // Default: nothing.
    void (*apply_geometry)();
};
// Installs every member of hooks (all must be set) and returns what it replaces.
WindowHooks register_window_hooks(const WindowHooks &hooks);
const WindowHooks &window_hooks();

inline void begin_result(Stack *result, bool returns_text, int code)
{
    if (returns_text) {
        result->s_t = intrinsic;
        result->s_c.C_A = static_cast<Address>(code);
        result->flags = 0;
    } else {
        result->s_c.C_N = &result->num;
    }
}

inline void end_result(Stack *result, bool returns_text)
{
    if (returns_text) {
        if (result->s_t == string) {
            result->s_dims[0] = result->length;
            result->s_dims[1] = 0;
        }
    } else {
        result->s_t = real;
        result->s_c.C_N = &result->num;
        result->flags = 0;
    }
}
