// A key on a form, against a named peer in the same run, on a private X server:
// - Tab by direct on_key_press_event calls over a 500-field form of input fields whose Post_Focus
//   and Pre_Focus routines are trivial, the end of the event included (validation, the routines,
//   the next field by the Tab rules, its focus, the newest window presented and the field made
//   editable), against those two routines alone run bare through invoke_basic_callback_routine
//   with ready copies of their arguments. The engine's share of a key is the difference.
// - The heap in use after 1,000 Tabs against that after 10 (counter heap_growth_bytes); more than
//   64 KB of growth stops the benchmark with an error, so the smoke run catches a leak per key.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <memory>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "button_form.h"
#include "cattach.h"
#include "cfield.h"
#include "cfocus.h"
#include "cinvoke.h"
#include "ckeys.h"
#include "cmatrix.h"
#include "executor.h"
#include "globals.h"
#include "gui_bench.h"
#include "handles.h"
#include "intrinsics.h"
#include "numerics.h"
#include "stack.h"

namespace {

constexpr int FIELDS = 500;
constexpr long HEAP_SLACK = 64 * 1024;

using button_form::handle_of;

struct Form {
    ControlMatrix_t *cm = nullptr;
    std::vector<GtkEventController *> keys;  // keys[k]: a key controller on field k's widget (0 unused)
} form;

// main: ICATTACH_WINDOW, then per field IGINPUT_NEW (into R), IGHBOX_PACK of it into the box and
// ICADD of it as a standard input field; Post_Focus and Pre_Focus of `trivial` on the window.
void build_form()
{
    GtkWidget *window = gtk_window_new();
    handle_issue_widget(window);
    GtkWidget *scroll = gtk_scrolled_window_new();
    gtk_window_set_child(GTK_WINDOW(window), scroll);
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    handle_issue_widget(box);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroll), box);
    const std::string window_handle = std::to_string(handle_of(window)), box_handle = std::to_string(handle_of(box));

    ObjectWriter o;
    o.routine("main", 3, 40, 0);
    o.constant("0"), o.record(o_storrd, {0, 1, 0, 0, 0});
    o.record(o_loadrad, {0, 1, 0, 0, 0});
    o.constant(window_handle.c_str());
    o.record(o_ipcall, {in_ICATTACH_WINDOW, 2});
    for (int k = 1; k <= FIELDS; ++k) {
        const std::string index = std::to_string(k), name = "F" + index;
        o.record(o_loadrad, {0, 1, 0, 0, 0});
        o.constant(index.c_str());
        for (const char *v : {"0", "10", "0.5", "0"}) o.constant(v);
        o.text("s");
        o.record(o_ifcallr, {in_IGINPUT_NEW, 7});
        o.record(o_storrd, {1, 1, 0, 0, 0});
        o.constant(box_handle.c_str());
        o.record(o_loadrvd, {1, 1, 0, 0, 0});
        for (int i = 0; i < 7; ++i) o.constant("0");
        o.record(o_ipcall, {in_IGHBOX_PACK, 9});
        o.record(o_loadrvd, {0, 1, 0, 0, 0});
        o.constant("-1");
        o.text(name.c_str());
        o.constant(index.c_str());
        o.constant("0");
        o.record(o_loadrvd, {1, 1, 0, 0, 0});
        for (const char *v : {"0", "3", "1", "1", "0"}) o.constant(v);
        o.record(o_ifcallr, {in_ICADD, 11});
        o.record(o_storrd, {1, 1, 0, 0, 0});
    }
    button_form::write_attach(o, "Post_Focus", 0);
    button_form::write_attach(o, "Pre_Focus", 0);
    form.cm = button_form::run(o, "keys");
    if (!form.cm || form.cm->field_count != FIELDS) return;
    gtk_window_present(GTK_WINDOW(window));
    form.keys.assign(FIELDS + 1, nullptr);
    for (int k = 1; k <= FIELDS; ++k) {
        GtkWidget *entry = cget_widget_for_widget(cm_field(form.cm, k).entry);
        form.keys[static_cast<std::size_t>(k)] = gtk_event_controller_key_new();
        gtk_widget_add_controller(entry, form.keys[static_cast<std::size_t>(k)]);
    }
    cmat_set_focus_index(form.cm, 1);
    cinvoke_pre_display(form.cm);
}

bool form_ready(benchmark::State &state)
{
    if (form.cm && form.cm->field_count == FIELDS && cmat_get_scm(form.cm, 0, AC_PRE_FOCUS)) return true;
    state.SkipWithError("the form was not built");
    return false;
}

// One Tab on the field that has the focus, as its key controller calls the dispatcher.
void tab()
{
    const int at = form.cm->current_focus;
    on_key_press_event(GTK_EVENT_CONTROLLER_KEY(form.keys[static_cast<std::size_t>(at)]), GDK_KEY_Tab, 0,
                       GdkModifierType(0), global_data);
}

void BM_engine_tab(benchmark::State &state)
{
    if (!form_ready(state)) return;
    for (auto _ : state) {
        const int from = form.cm->current_focus;
        tab();
        if (form.cm->current_focus != from % FIELDS + 1) return state.SkipWithError("a Tab went elsewhere");
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_bare_routines(benchmark::State &state)
{
    if (!form_ready(state)) return;
    const SubControlMatrix_t *post = cmat_get_scm(form.cm, 0, AC_POST_FOCUS);
    const SubControlMatrix_t *pre = cmat_get_scm(form.cm, 0, AC_PRE_FOCUS);
    const RoutineParams post_params(post), pre_params(pre);
    for (auto _ : state)
        for (const auto &[scm, p] : {std::pair{post, &post_params}, std::pair{pre, &pre_params}}) {
            invoke_basic_callback_routine(scm->routine, p->stack, p->count, scm->application, form.cm->Minterp);
            int answer = 0;
            NumericToINT(&fn_value.num, &answer);
            if (answer != 1) return state.SkipWithError("a routine did not answer 1");
        }
    state.SetItemsProcessed(state.iterations());
}

long heap_in_use() { return static_cast<long>(mallinfo2().uordblks); }

void BM_engine_heap_after_tabs(benchmark::State &state)
{
    if (!form_ready(state)) return;
    long growth = 0;
    for (auto _ : state) {
        for (int i = 0; i < 10; ++i) tab();
        const long after_10 = heap_in_use();
        for (int i = 10; i < 1000; ++i) tab();
        growth = heap_in_use() - after_10;
    }
    state.counters["heap_growth_bytes"] = static_cast<double>(growth);
    if (growth > HEAP_SLACK) state.SkipWithError("the heap grew by more than 64 KB over 990 Tabs");
}

} // namespace

BENCHMARK(BM_engine_tab)->Name("engine/tab_500_input_fields")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_bare_routines)->Name("bare/post_focus_and_pre_focus_routines")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_engine_heap_after_tabs)->Name("engine/heap_after_1000_tabs")->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char **argv)
{
    return run_gui_benchmarks(argc, argv, build_form);
}
