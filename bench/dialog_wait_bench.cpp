// What waiting for a message dialog costs the machine: the share of one core the process uses
// while an information dialog stays up for a while (closed by a main-loop timeout, as a user would
// close it), waiting as the run-time waits (the pipe watched in the main loop) against the same
// dialog waited on by a nested g_main_loop_run until it goes, in the same run. Counter
// "cpu_percent": process CPU time over wall time. GTK runs on a private X server.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>

#include <gtk/gtk.h>

#include "gdata.h"
#include "gmessage.h"
#include "gui_bench.h"

namespace {

double cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double wall_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The user closes the information dialog after the time given.
gboolean close_dialog(gpointer)
{
    GListModel *windows = gtk_window_get_toplevels();
    for (guint i = 0; i < g_list_model_get_n_items(windows); ++i) {
        auto *w = static_cast<GtkWindow *>(g_list_model_get_item(windows, i));
        if (gtk_widget_has_css_class(GTK_WIDGET(w), "info")) gtk_window_close(w);
        g_object_unref(w);
    }
    return G_SOURCE_REMOVE;
}

void quit_loop(GtkWidget *, gpointer loop) { g_main_loop_quit(static_cast<GMainLoop *>(loop)); }

// The peer: once the dialog is up, a nested main loop runs until the dialog is destroyed; the
// run-time's own wait then finds the answer already there.
int wait_in_nested_loop(const DialogRequest &request)
{
    GMainLoop *loop = g_main_loop_new(nullptr, FALSE);
    g_signal_connect(request.dialog, "destroy", G_CALLBACK(quit_loop), loop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    return DIALOG_LEAVE;
}

void measure(benchmark::State &state, bool nested)
{
    const int ms = static_cast<int>(state.range(0));
    DialogAnswerer saved = set_dialog_answerer(nested ? DialogAnswerer(wait_in_nested_loop) : DialogAnswerer());
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        g_timeout_add(static_cast<guint>(ms), close_dialog, nullptr);
        const double c0 = cpu_seconds(), w0 = wall_seconds();
        const int answer = gmessage_ask("Waiting for the user", "I");
        cpu += cpu_seconds() - c0;
        wall += wall_seconds() - w0;
        if (answer != -1) state.SkipWithError("the dialog was not closed unanswered");
    }
    set_dialog_answerer(saved);
    state.counters["cpu_percent"] = wall > 0 ? 100.0 * cpu / wall : 0.0;
}

// One dialog first, so that neither side pays for GTK's first window (theme, fonts).
void warm_up()
{
    g_timeout_add(100, close_dialog, nullptr);
    gmessage_ask("Warming up", "I");
}

void BM_pipe_watch(benchmark::State &state) { measure(state, false); }
void BM_nested_main_loop(benchmark::State &state) { measure(state, true); }

} // namespace

BENCHMARK(BM_pipe_watch)->Name("lumba/dialog_wait")->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_nested_main_loop)->Name("peer/nested_g_main_loop_run")->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    return run_gui_benchmarks(argc, argv, warm_up);
}
