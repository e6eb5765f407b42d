// The GTK main loop of the run-time (IGTK_MAIN, IGTK_MAIN_ITERATION) and the carrying of an
// exception from a callback to the code that runs the loop. While the loop runs, a 100 ms timer
// is the signal safe point, as the executor loop is otherwise.
#include "cevents.h"

#include "message.h"
#include "run_time.h"
#include "signals.h"

namespace {

GMainLoop *oska_loop;       // made by the first IGTK_MAIN, never freed
guint safe_point_source;    // the timer while the loop runs
std::exception_ptr kept;    // the first exception a callback met

gboolean safe_point(gpointer)
{
    forms_callback([] { check_signals(); });
    return G_SOURCE_CONTINUE;
}

} // namespace

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

void igtk_main(int, int)
{
    FORMS_TRACE;
    if (!oska_loop) oska_loop = g_main_loop_new(nullptr, FALSE);
    const bool outermost = safe_point_source == 0;
    if (outermost) safe_point_source = g_timeout_add(100, safe_point, nullptr);
    g_main_loop_run(oska_loop);
    if (outermost) {
        g_source_remove(safe_point_source);
        safe_point_source = 0;
    }
    forms_rethrow_kept();
}

void igtk_main_iteration(int, int)
{
    FORMS_TRACE;
    igtk_main_iteration();
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
