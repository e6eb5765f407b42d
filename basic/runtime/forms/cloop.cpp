// The GTK main loop programs hand control to (IGTK_MAIN, IGTK_MAIN_ITERATION). While the loop
// runs, a 100 ms timer is the signal safe point, as the executor loop is otherwise.
#include "cloop.h"

#include "ccallback.h"
#include "forms.h"
#include "message.h"
#include "run_time.h"
#include "signals.h"

namespace {

guint safe_point_source;  // the timer while the loop runs

gboolean safe_point(gpointer)
{
    forms_callback([] { check_signals(); });
    return G_SOURCE_CONTINUE;
}

} // namespace

void igtk_main(int, int)
{
    FORMS_TRACE;
    GMainLoop *loop = forms_main_loop();
    const bool outermost = safe_point_source == 0;
    if (outermost) safe_point_source = g_timeout_add(100, safe_point, nullptr);
    g_main_loop_run(loop);
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
