// The way out of the process (finish, restart by re-exec), the signal catcher and its safe point,
// and the environment numbers.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "contexts.h"
#include "gdata.h"
#include "ilist.h"
#include "message.h"
#include "numerics.h"
#include "applications.h"
#include "common_block.h"
#include "hooks.h"
#include "loader.h"
#include "run_time.h"
#include "signals.h"
#include "softkeys.h"
#include "trace_ring.h"

volatile std::sig_atomic_t pending_signal;

namespace {

volatile std::sig_atomic_t fault_in_handler;

bool synchronous_fault(int sig)
{
    return sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL || sig == SIGABRT;
}

// The signals that end the run quietly.
bool terminates(int sig)
{
    return sig == SIGHUP || sig == SIGUSR1 || sig == SIGTERM;
}

bool keeps_disposition(int sig)
{
    switch (sig) {
    case SIGTRAP: case SIGCHLD: case SIGCONT: case SIGURG: case SIGPROF: case SIGWINCH: case SIGIO: case SIGPWR:
        return true;
    default:
        return false;
    }
}

} // namespace

void finish_mem_cleanup()
{
    release_loose_context();  // before the applications: it is freed only when none holds it
    CanDeleteLastApplication();
    DelAllApplications();
    freekeysets();
    run_hook(CoreHook::free_db_results);
    run_hook(CoreHook::free_db_connections);
    ilist_destroyall();
    FreeLoadedprogramname();
    FreeKeys();
    run_hook(CoreHook::free_control_matrices);
    if (global_data) global_data->first_cm = global_data->last_cm = nullptr;
}

void finish(int status)
{
    const int code = static_cast<int>(static_cast<unsigned>(status));
    run_hook(CoreHook::close_file_channels);
    release_shmem();
    if (code == EXIT_NEWDB || code == EXIT_NEWRUN) {
        if (code == EXIT_NEWDB) {
            // setenv, not putenv: the variables must stay present and empty in the new image.
            setenv("DPATH", "", 1);
            setenv("PP", "", 1);
            setenv("OSKA_SESSION", "", 1);
            DPATH = nullptr;
        }
        std::fflush(nullptr);
        if (IMAGE && Command_args) execvp(IMAGE, Command_args);
        Abort("Cannot restart Orun");
    }
    finish_mem_cleanup();
    g_free(IMAGE);
    g_free(PPATH);
    g_free(apps_PATH);
    IMAGE = PPATH = apps_PATH = nullptr;
    run_hook(CoreHook::close_directory);
    run_hook(CoreHook::free_tls_config);
    free_program_trace_ring();
    std::exit(code);
}

void display_lost()
{
    // The clean-up may meet the lost connection again, and nothing can be shown any more.
    static bool ending = false;
    if (ending) _exit(1);
    ending = true;
    mlog(9, "display connection lost");
    finish(1);
}

extern "C" void sigcatcher(int sig)
{
    has_signal = 1;
    if (synchronous_fault(sig)) {
        // Returning would repeat the fault: report from here.
        fault_in_handler = 1;
        Abort("Caught signal %d", sig);
    }
    // A signal that comes before the first is acted on does not replace it: an interrupt after a
    // request to terminate still terminates quietly. A request to terminate replaces a pending
    // interrupt: both sent together arrive interrupt first (the kernel delivers the lower number
    // first), and the run must still end quietly.
    if (!pending_signal || (pending_signal == SIGINT && terminates(sig))) pending_signal = sig;
}

bool in_fault_handler()
{
    return fault_in_handler != 0;
}

void install_sigcatcher()
{
    for (int sig = 0; sig <= 64; ++sig) {
        if (keeps_disposition(sig)) continue;
        struct sigaction sa {};
        // While a signal is recorded no other may come between the handler's test and its store.
        // A fault's handler does not return (it makes the report): it blocks nothing.
        sigemptyset(&sa.sa_mask);
        if (!synchronous_fault(sig)) {
            sigfillset(&sa.sa_mask);
            for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigdelset(&sa.sa_mask, fault);
        }
        sa.sa_flags = 0;  // no SA_RESTART: the signal ends whatever call the run waits in
        sa.sa_handler = sig == SIGPIPE ? SIG_IGN : sigcatcher;
        sigaction(sig, &sa, nullptr);  // numbers the system refuses are left as they are
    }
}

void act_on_signal()
{
    const int sig = pending_signal;
    if (!sig) return;
    if (terminates(sig)) {
        pending_signal = 0;
        finish(1);
    }
    // A fatal report already being made ends by raising SIGTRAP (has_signal stays set).
    if (abort_in_progress()) return;
    pending_signal = 0;
    if (sig == SIGINT) {
        Dump_available = 0;
        Abort("Program interrupted by user");
    }
    Abort("Caught signal %d", sig);
}

void env_num(std::int32_t *value, const char *name)
{
    const char *text = std::getenv(name);
    if (!text) {
        *value = 0;
        return;
    }
    char *end = nullptr;
    errno = 0;
    long long n = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || n < INT32_MIN || n > INT32_MAX)
        Abort("Environment variable %s ill-formed", name);
    *value = static_cast<std::int32_t>(n);
}

void release_mem()
{
    release_context_stack();
}

// The COMMON block belongs to this run only: it is unmapped and its shared-memory object removed,
// also before a restart, whose new run starts on a fresh block.
void release_shmem()
{
    release_common_block();
}
