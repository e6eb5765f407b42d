// Growing a grid table row by row: 500 IGTABLE_ADD_ROW on a 10-column grid of labels, each new
// row then filled by 10 IGTABLE_ATTACH (through the dispatchers, as a program calls them), against
// GTK's own gtk_grid_insert_row with the same 10 gtk_grid_attach, in the same run. The labels are
// made outside the timing. GTK runs on a private X server.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include <gtk/gtk.h>

#include "gdata.h"
#include "grid_cells.h"
#include "gui_bench.h"
#include "handles.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "numerics.h"
#include "value_stack.h"

namespace {

constexpr int ROWS = 500;
constexpr int COLUMNS = 10;

// A value stack of numbers for the calls.
struct Arguments {
    Stack entries[12]{};
    Arguments() { Stk = entries; }
    void set(int i, long v)
    {
        entries[i].s_t = real;
        entries[i].s_c.C_N = &entries[i].num;
        NumericCvLONG(v, &entries[i].num);
    }
};

long handle_of(GtkWidget *w) { return static_cast<long>(reinterpret_cast<std::uintptr_t>(w)); }

std::vector<GtkWidget *> labels(int n, bool issued)
{
    std::vector<GtkWidget *> v;
    for (int i = 0; i < n; ++i) {
        GtkWidget *l = gtk_label_new("cell");
        if (issued) handle_issue_widget(l);
        v.push_back(l);
    }
    return v;
}

void BM_igtable_add_row(benchmark::State &state)
{
    Arguments a;
    Stack result{};
    for (auto _ : state) {
        state.PauseTiming();
        GtkWidget *grid = gtk_grid_new();
        g_object_ref_sink(grid);
        handle_issue_widget(grid);
        const std::vector<GtkWidget *> cells = labels(ROWS * COLUMNS, true);
        state.ResumeTiming();
        for (int r = 0; r < ROWS; ++r) {
            a.set(0, handle_of(grid));
            r_intrins(&result, in_IGTABLE_ADD_ROW, 1, 0);
            long row = 0;
            NumericToLONG(&result.num, &row);
            // Without a position the new row is one past the row after the last: 1, 3, 5, ...
            for (int c = 0; c < COLUMNS; ++c) {
                const long args[] = {handle_of(grid), handle_of(cells[r * COLUMNS + c]), c, c + 1, row, row + 1, 4, 4, 0, 0};
                for (int i = 0; i < 10; ++i) a.set(i, args[i]);
                c_intrins(in_IGTABLE_ATTACH, 10, 9);
            }
        }
        state.PauseTiming();
        int rows = 0, columns = 0;
        grid_extent(grid, &rows, &columns);
        g_object_unref(grid);
        if (rows != 2 * ROWS || columns != COLUMNS) {
            state.SkipWithError("the grid was not built");
            break;
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * ROWS);
}

void BM_gtk_grid_insert_row(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        GtkWidget *grid = gtk_grid_new();
        g_object_ref_sink(grid);
        const std::vector<GtkWidget *> cells = labels(ROWS * COLUMNS, false);
        state.ResumeTiming();
        for (int r = 0; r < ROWS; ++r) {
            // The rows IGTABLE_ADD_ROW makes.
            const int row = 2 * r + 1;
            gtk_grid_insert_row(GTK_GRID(grid), row);
            for (int c = 0; c < COLUMNS; ++c) gtk_grid_attach(GTK_GRID(grid), cells[r * COLUMNS + c], c, row, 1, 1);
        }
        state.PauseTiming();
        g_object_unref(grid);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * ROWS);
}

} // namespace

BENCHMARK(BM_igtable_add_row)->Name("lumba/500_IGTABLE_ADD_ROW_10_columns")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_gtk_grid_insert_row)->Name("gtk/500_gtk_grid_insert_row_10_columns")->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return run_gui_benchmarks(argc, argv);
}
