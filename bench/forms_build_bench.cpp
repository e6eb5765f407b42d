// Building a form: a program's ICADD of 500 fields with two ICATTACH_FUN attachments each (the
// forms engine's bookkeeping, run by the executor), against GTK building the same form's widgets
// (500 GtkText in a GtkGrid) in the same run; and ICADD appends alone at 500 and 5,000 fields,
// whose time per append must not grow with the table. The counter "bytes" is the heap the build
// leaves in use (mallinfo2 before and after). GTK runs on a private X server.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <malloc.h>
#include <string>
#include <unistd.h>

#include <glib.h>
#include <gtk/gtk.h>

#include "cattach.h"
#include "cmatrix.h"
#include "contexts.h"
#include "executor.h"
#include "globals.h"
#include "gui_bench.h"
#include "intrinsics.h"
#include "loader.h"
#include "mem_mgt.h"
#include "numerics.h"
#include "object_writer.h"
#include "run_time.h"

namespace {

constexpr int FIELDS = 500;

// main: CM (cell 0) := a new CM without window; then per field ICADD(CM, -1, "F", 0, 0, 0, 0,
// 3, 1, 3, 0) into R (cell 1) and, with attachments, ICATTACH_FUN of routine 1 (post) for
// Post_Focus and Pre_Focus on the new field.
void write_form(const std::string &path, int fields, bool attachments)
{
    ObjectWriter w;
    w.routine("main", 2, 0, 0);
    w.constant("0"), w.record(o_storrd, {0, 1, 0, 0, 0});
    w.record(o_loadrad, {0, 1, 0, 0, 0});
    w.constant("0");
    w.record(o_ipcall, {in_ICATTACH_WINDOW, 2});
    for (int k = 1; k <= fields; ++k) {
        w.record(o_loadrvd, {0, 1, 0, 0, 0});
        w.constant("-1");
        w.text("F");
        for (const char *v : {"0", "0", "0", "0", "3", "1", "3", "0"}) w.constant(v);
        w.record(o_ifcallr, {in_ICADD, 11});
        w.record(o_storrd, {1, 1, 0, 0, 0});
        if (!attachments) continue;
        for (const char *code : {"Post", "Pre"}) {
            w.text(code);
            w.constant("1");
            w.record(o_loadrvd, {0, 1, 0, 0, 0});
            w.constant(std::to_string(k).c_str());
            w.record(o_ipcall, {in_ICATTACH_FUN, 4});
        }
    }
    w.record(o_exit, {});
    w.routine("post", 0, 0, 2);
    w.record(o_exit, {});
    w.section(o_symtab, "__ROUTINE__ main 2\nCM 0 0 0x12 0 1 -\nR 0 0 0x12 1 2 -\n__END_ROUTINE__\n");
    w.section(o_symtab, "__ROUTINE__ post 2\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\n__END_ROUTINE__\n");
    w.save(path, "form", 2, 0);
}

struct Form {
    Interp_t *context = nullptr;
    std::string path;
};

Form load_form(int fields, bool attachments)
{
    char *dir = g_dir_make_tmp("forms-bench-XXXXXX", nullptr);
    Form f;
    f.path = std::string(dir) + "/form";
    g_free(dir);
    write_form(f.path, fields, attachments);
    f.context = load_object(f.path);
    unlink(f.path.c_str());
    return f;
}

std::size_t heap_in_use() { return mallinfo2().uordblks; }

// Runs the form program once per iteration; the CM it builds is checked and freed outside the
// timing.
void run_form(benchmark::State &state, bool attachments)
{
    const int fields = static_cast<int>(state.range(0));
    Form f = load_form(fields, attachments);
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::size_t before = heap_in_use();
        sp = -1;
        depth = 0;
        push_interpreter(f.context, nullptr, "");
        Execute(f.context->code[0]);
        state.PauseTiming();
        bytes = heap_in_use() - before;
        ControlMatrix_t *cm = global_data->last_cm;
        int records = 0;
        for (SubControlMatrix_t *s = cm ? cm->scm_list : nullptr; s; s = s->next) ++records;
        if (!cm || cm->field_count != fields || records != (attachments ? 2 * fields : 0))
            state.SkipWithError("the form was not built");
        cmat_free_all();
        state.ResumeTiming();
    }
    state.counters["bytes"] = static_cast<double>(bytes);
    state.SetItemsProcessed(state.iterations() * fields);
}

void BM_engine_form(benchmark::State &state) { run_form(state, true); }
void BM_engine_appends(benchmark::State &state) { run_form(state, false); }

void BM_gtk_form(benchmark::State &state)
{
    const int fields = static_cast<int>(state.range(0));
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::size_t before = heap_in_use();
        GtkWidget *grid = gtk_grid_new();
        g_object_ref_sink(grid);
        for (int k = 0; k < fields; ++k) gtk_grid_attach(GTK_GRID(grid), gtk_text_new(), 0, k, 1, 1);
        state.PauseTiming();
        bytes = heap_in_use() - before;
        g_object_unref(grid);
        state.ResumeTiming();
    }
    state.counters["bytes"] = static_cast<double>(bytes);
    state.SetItemsProcessed(state.iterations() * fields);
}

} // namespace

BENCHMARK(BM_engine_form)->Name("engine/icadd_500_fields_2_attachments")->Arg(FIELDS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_gtk_form)->Name("gtk/500_GtkText_in_GtkGrid")->Arg(FIELDS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_engine_appends)->Name("engine/icadd_appends")->Arg(FIELDS)->Arg(10 * FIELDS)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return run_gui_benchmarks(argc, argv);
}
