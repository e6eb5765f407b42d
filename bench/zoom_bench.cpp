// The zoom pick-list's list: from the fill (gzoom_fillPopUp over program lists of 1,000, 10,000 and
// 100,000 rows of three columns) to the first frame painted in a window, against a plain
// GtkColumnView over a GListStore with the same three label factories, filled and shown the same
// way in the same run; the heap memory each shown list holds is reported as heap_kib. Also: 10,000 rows
// naming a tag the tags file does not have against no format list, and one type-ahead key on
// 100,000 rows against a plain case-blind scan of the same answers. GTK runs on a private X
// server; the tags file is the site's, so the program runs under the with_site runner.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtk/gtk.h>
#include <malloc.h>

#include "forms.h"
#include "gui_bench.h"
#include "gzoom.h"
#include "ilist.h"
#include "run_time.h"

namespace {

constexpr int COLUMNS = 3;

// Bytes allocated from the heap now, the blocks the allocator maps on their own included: the
// growth a shown list costs, without the noise of pages the allocator keeps from an earlier pass.
long heap_bytes()
{
    const struct mallinfo2 m = mallinfo2();
    return static_cast<long>(m.uordblks + m.hblkhd);
}

// The program lists of n rows: texts row after row, answers "000001" ..., and formats naming name.
struct Lists {
    IList_t *display, *answers, *titles, *format = nullptr;
    Lists(int n, const char *tag)
    {
        display = ilist_declare(ILIST_STRING);
        answers = ilist_declare(ILIST_STRING);
        titles = ilist_declare(ILIST_STRING);
        if (tag) format = ilist_declare(ILIST_STRING);
        char text[32];
        for (int r = 0; r < n; ++r) {
            for (int c = 0; c < COLUMNS; ++c) {
                const int len = std::snprintf(text, sizeof text, "row %d column %d", r, c);
                ilist_addselt(display, text, len, 0, nullptr);
            }
            const int len = std::snprintf(text, sizeof text, "%06d", r);
            ilist_addselt(answers, text, len, 0, nullptr);
            if (tag) ilist_addselt(format, tag, static_cast<int>(std::strlen(tag)), 0, nullptr);
        }
        for (const char *t : {"One", "Two", "Three"}) ilist_addselt(titles, t, 3, 0, nullptr);
    }
    ~Lists()
    {
        for (IList_t *l : {display, answers, titles, format})
            if (l) ilist_destroy(l);
    }
};

// Shows view in a new window and turns the main loop until its first frame is painted.
GtkWidget *show_until_painted(GtkWidget *view)
{
    GtkWidget *window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), 400, 600);
    GtkWidget *scrolled = gtk_scrolled_window_new();
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), view);
    gtk_window_set_child(GTK_WINDOW(window), scrolled);
    bool painted = false;
    gtk_window_present(GTK_WINDOW(window));
    gtk_widget_realize(window);
    GdkFrameClock *clock = gtk_widget_get_frame_clock(window);
    const gulong id = g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(+[](bool *p) { *p = true; }), &painted);
    while (!painted) g_main_context_iteration(nullptr, TRUE);
    g_signal_handler_disconnect(clock, id);
    return window;
}

void close_window(GtkWidget *window)
{
    gtk_window_destroy(GTK_WINDOW(window));
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

// Times fill-to-paint of the view make() builds, reporting the memory the shown view adds.
template <class Make> void fill_and_paint(benchmark::State &state, Make make)
{
    long grown = 0;
    for (auto _ : state) {
        const long before = heap_bytes();
        GtkWidget *window = show_until_painted(make());
        state.PauseTiming();
        grown = heap_bytes() - before;
        close_window(window);
        state.ResumeTiming();
    }
    state.counters["heap_kib"] = static_cast<double>(grown) / 1024.0;
}

void BM_gzoom_fill(benchmark::State &state)
{
    const Lists lists(static_cast<int>(state.range(0)), nullptr);
    fill_and_paint(state, [&] {
        return gzoom_fillPopUp(lists.answers, lists.display, lists.titles, nullptr, COLUMNS, "000500", 0, 0);
    });
}

// The peer: three label factories over a store of one string object per row, the first row
// selected, as a program would build it with GTK alone.
void peer_bind(GtkSignalListItemFactory *, GtkListItem *item, gpointer column)
{
    const char *row = gtk_string_object_get_string(GTK_STRING_OBJECT(gtk_list_item_get_item(item)));
    char text[48];
    std::snprintf(text, sizeof text, "%s column %u", row, GPOINTER_TO_UINT(column));
    gtk_label_set_text(GTK_LABEL(gtk_list_item_get_child(item)), text);
}

void peer_setup(GtkSignalListItemFactory *, GtkListItem *item, gpointer)
{
    GtkWidget *label = gtk_label_new(nullptr);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_list_item_set_child(item, label);
}

GtkWidget *peer_view(int n)
{
    GListStore *store = g_list_store_new(GTK_TYPE_STRING_OBJECT);
    std::vector<gpointer> rows(static_cast<std::size_t>(n));
    char text[32];
    for (int r = 0; r < n; ++r) {
        std::snprintf(text, sizeof text, "row %d", r);
        rows[static_cast<std::size_t>(r)] = gtk_string_object_new(text);
    }
    g_list_store_splice(store, 0, 0, rows.data(), static_cast<guint>(n));
    for (gpointer r : rows) g_object_unref(r);
    GtkSingleSelection *selection = gtk_single_selection_new(G_LIST_MODEL(store));
    GtkWidget *view = gtk_column_view_new(GTK_SELECTION_MODEL(selection));
    for (unsigned c = 0; c < COLUMNS; ++c) {
        GtkListItemFactory *factory = gtk_signal_list_item_factory_new();
        g_signal_connect(factory, "setup", G_CALLBACK(peer_setup), nullptr);
        g_signal_connect(factory, "bind", G_CALLBACK(peer_bind), GUINT_TO_POINTER(c));
        GtkColumnViewColumn *column = gtk_column_view_column_new("Title", factory);
        gtk_column_view_append_column(GTK_COLUMN_VIEW(view), column);
        g_object_unref(column);
    }
    return view;
}

void BM_gtk_column_view_fill(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    fill_and_paint(state, [&] { return peer_view(n); });
}

bool in_private_site() { return std::getenv("LUMBA_SITE") != nullptr; }

// 10,000 rows naming a tag the file lacks (read once for the name), against no format list.
void BM_gzoom_fill_missing_tag(benchmark::State &state)
{
    if (!in_private_site()) {
        state.SkipWithError("run under the with_site runner: the tags file is the site's");
        return;
    }
    const Lists lists(10000, state.range(0) ? "mtag_missing" : nullptr);
    fill_and_paint(state, [&] {
        return gzoom_fillPopUp(lists.answers, lists.display, lists.titles, lists.format, COLUMNS, "", 0, 0);
    });
}

// One type-ahead key on 100,000 rows (the last answer wins, so every row is compared).
void BM_gzoom_typeahead_key(benchmark::State &state)
{
    const Lists lists(100000, nullptr);
    GtkWidget *view = gzoom_fillPopUp(lists.answers, lists.display, lists.titles, nullptr, COLUMNS, "", 0, 1);
    g_object_ref_sink(view);
    zoom_data zd{};
    zd.column_view = view;
    zd.matching = 1;
    zd.rows = GZOOM_ROWS(gtk_single_selection_get_model(gzoom_selection(&zd)));
    ControlMatrix_t cm{};
    cm.type = CM_WT_ZOOM;
    cm.window_data = &zd;
    for (auto _ : state) {
        zd.typeahead[0] = '\0';
        for (const char *k = "09999"; *k; ++k) gzoom_typeahead_add(zd.typeahead, *k);
        gzoom_alphanumeric_search(&cm, '9', GdkModifierType(0));
    }
    if (gtk_single_selection_get_selected(gzoom_selection(&zd)) != 99999) state.SkipWithError("wrong row chosen");
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    g_object_unref(view);
}

void BM_plain_scan_key(benchmark::State &state)
{
    std::vector<std::string> answers;
    char text[16];
    for (int r = 0; r < 100000; ++r) answers.emplace_back(text, std::snprintf(text, sizeof text, "%06d", r));
    std::size_t chosen = 0;
    for (auto _ : state) {
        std::size_t best = 0;
        for (std::size_t i = 0; i < answers.size(); ++i) {
            std::size_t shared = 0;
            while (shared < 6 && g_ascii_tolower(answers[i][shared]) == "099999"[shared]) ++shared;
            if (shared > best) best = shared, chosen = i;
            if (shared == 6) break;
        }
        benchmark::DoNotOptimize(chosen);
    }
    if (chosen != 99999) state.SkipWithError("wrong row chosen");
}

void write_tags()
{
    if (in_private_site())
        std::ofstream(std::string(PPATH_ROOT) + "/conf/tags") << "mtag_red { screen-bg-colour: #ff0000; }\n"
                                                                  "mtag_blue { screen-bg-colour: #0000ff; }\n";
}

} // namespace

BENCHMARK(BM_gzoom_fill)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_gtk_column_view_fill)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_gzoom_fill_missing_tag)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_gzoom_typeahead_key)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_plain_scan_key)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) { return run_gui_benchmarks(argc, argv, write_tags); }
