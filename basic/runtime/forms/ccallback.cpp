// The one main loop of the run-time, its quitting and pending events, and the exception a callback
// keeps for the code that runs the loop (see ccallback.h).
#include "ccallback.h"

#include "signals.h"

namespace {

GMainLoop *oska_loop;     // made on first use, never freed
std::exception_ptr kept;  // the first exception a callback met

} // namespace

GMainLoop *forms_main_loop()
{
    if (!oska_loop) oska_loop = g_main_loop_new(nullptr, FALSE);
    return oska_loop;
}

void forms_keep_exception(std::exception_ptr e) noexcept
{
    if (!kept) kept = e;
    igtk_main_quit();
}

void forms_rethrow_kept()
{
    if (!kept) return;
    std::exception_ptr e = kept;
    kept = nullptr;
    std::rethrow_exception(e);
}

void igtk_main_iteration()
{
    while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
    forms_rethrow_kept();
    check_signals();
}

void igtk_main_quit()
{
    if (oska_loop && g_main_loop_is_running(oska_loop)) g_main_loop_quit(oska_loop);
}

bool igtk_main_running()
{
    return oska_loop && g_main_loop_is_running(oska_loop);
}
