// The drill window's list: from a closed print buffer of 1,000 and 10,000 report lines (each a
// name and an amount placed by its format, with a value) through the drill replay, the rows and
// their list view to the first frame painted in a window, against a plain GtkListView of the same
// texts as one label per row, filled and shown the same way in the same run. The drill run also
// scrolls to the end and back five times and reports the process's resident memory after the
// first round and after the last (rss_first_kib, rss_last_kib). GTK runs on a private X server; the
// tags file is the site's, so the program runs under the with_site runner.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include <gtk/gtk.h>

#include "gdrill.h"
#include "gui_bench.h"
#include "ilist.h"
#include "mem_mgt.h"
#include "print_handles.h"
#include "run_time.h"

namespace {

const char *const TAGS = "mtag_base { print-family: Helvetica; print-size: 10pt; screen-size: 10pt; }\n"
                         "mtag_amount { print-align: decimal; screen-align: decimal; screen-neg-colour: #ff0000; }\n";

std::string line_text(int r)
{
    char text[64];
    std::snprintf(text, sizeof text, "Customer %06d  %9d.%02d%s", r, r * 7 % 100000, r % 100, r % 5 ? "" : "-");
    return text;
}

// A closed buffer of n write records, in a file of its own.
std::string write_buffer(int n)
{
    const std::string path = "/tmp/drill-bench-" + std::to_string(getpid()) + "-" + std::to_string(n) + ".buf";
    std::FILE *f = std::fopen(path.c_str(), "w");
    psprint_write_record_type(f, PR_OPEN);
    for (const char *t : {"mtag_base", "", "A4", "drill", "C", "N"}) psprint_write_text(f, t);
    for (int r = 0; r < n; ++r) {
        psprint_write_record_type(f, PR_WRITE);
        psprint_write_text(f, line_text(r));
        psprint_write_text(f, "1,15,2.0,,mtag_base;16,,12.0,,mtag_amount");
        psprint_write_text(f, std::to_string(r));
        psprint_write_real(f, 0);
    }
    psprint_write_record_type(f, PR_CLOSE);
    std::fclose(f);
    return path;
}

long rss_kib()
{
    long pages = 0, resident = 0;
    if (std::FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void paint_once(GtkWidget *window)
{
    bool painted = false;
    GdkFrameClock *clock = gtk_widget_get_frame_clock(window);
    const gulong id = g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(+[](bool *p) { *p = true; }), &painted);
    gtk_widget_queue_draw(window);
    while (!painted) g_main_context_iteration(nullptr, TRUE);
    g_signal_handler_disconnect(clock, id);
}

// Shows view in a new window of the drill's portrait size and turns the main loop until its
// first frame is painted.
GtkWidget *show_until_painted(GtkWidget *view, GtkWidget **scrolled_out)
{
    GtkWidget *window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), 1014, 680);
    GtkWidget *scrolled = gtk_scrolled_window_new();
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), view);
    gtk_window_set_child(GTK_WINDOW(window), scrolled);
    gtk_window_present(GTK_WINDOW(window));
    gtk_widget_realize(window);
    paint_once(window);
    if (scrolled_out) *scrolled_out = scrolled;
    return window;
}

void close_window(GtkWidget *window)
{
    gtk_window_destroy(GTK_WINDOW(window));
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

GtkWidget *drill_view(PrintHandle_t *handle)
{
    GdrillLists lists = gdrill_read_buffer(handle, 1.0f);
    guint selected = 0;
    GListStore *store = gdrill_fillPopUp(nullptr, lists, "", 0, 0, &selected);
    for (IList_t *l : {lists.values, lists.texts, lists.formats}) ilist_destroy(l);
    return gdrill_create_listview(store, selected);
}

void BM_drill_open(benchmark::State &state)
{
    if (!std::getenv("LUMBA_SITE")) {
        state.SkipWithError("run under the with_site runner: the tags file is the site's");
        return;
    }
    std::ofstream(std::string(PPATH_ROOT) + "/conf/tags", std::ios::trunc) << TAGS;
    const std::string path = write_buffer(static_cast<int>(state.range(0)));
    PrintHandle_t handle{};
    handle.path = Strcpy(path.c_str());
    long first = 0, last = 0;
    for (auto _ : state) {
        GtkWidget *scrolled = nullptr;
        GtkWidget *window = show_until_painted(drill_view(&handle), &scrolled);
        state.PauseTiming();
        GtkAdjustment *v = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled));
        for (int round = 0; round < 5; ++round) {
            gtk_adjustment_set_value(v, gtk_adjustment_get_upper(v));
            paint_once(window);
            gtk_adjustment_set_value(v, 0);
            paint_once(window);
            (round == 0 ? first : last) = rss_kib();
        }
        close_window(window);
        state.ResumeTiming();
    }
    state.counters["rss_first_kib"] = static_cast<double>(first);
    state.counters["rss_last_kib"] = static_cast<double>(last);
    sfree(handle.path);
    std::remove(path.c_str());
}

// The peer: one label per row over a store of string objects, the first row selected.
void peer_setup(GtkSignalListItemFactory *, GtkListItem *item, gpointer)
{
    GtkWidget *label = gtk_label_new(nullptr);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_list_item_set_child(item, label);
}

void peer_bind(GtkSignalListItemFactory *, GtkListItem *item, gpointer)
{
    gtk_label_set_text(GTK_LABEL(gtk_list_item_get_child(item)),
                       gtk_string_object_get_string(GTK_STRING_OBJECT(gtk_list_item_get_item(item))));
}

void BM_gtk_list_view_open(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        GtkStringList *texts = gtk_string_list_new(nullptr);
        for (int r = 0; r < n; ++r) gtk_string_list_append(texts, line_text(r).c_str());
        GtkListItemFactory *factory = gtk_signal_list_item_factory_new();
        g_signal_connect(factory, "setup", G_CALLBACK(peer_setup), nullptr);
        g_signal_connect(factory, "bind", G_CALLBACK(peer_bind), nullptr);
        GtkWidget *view = gtk_list_view_new(GTK_SELECTION_MODEL(gtk_single_selection_new(G_LIST_MODEL(texts))), factory);
        GtkWidget *window = show_until_painted(view, nullptr);
        state.PauseTiming();
        close_window(window);
        state.ResumeTiming();
    }
}

BENCHMARK(BM_drill_open)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_gtk_list_view_open)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) { return run_gui_benchmarks(argc, argv); }
