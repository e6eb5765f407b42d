// Routine runs and focus moves of a 500-field form of buttons, each against a named peer in the
// same run, on a private X server:
// - cinvoke_basic_routine of a trivial routine attached to the window (the engine's bookkeeping:
//   lookup, stacks, the per-call copy, IP and IP$, the answer) against invoke_basic_callback_routine
//   of the same routine with a ready copy of its arguments (the bare run);
// - 500 Tabs through the engine's walk (focus and scrolling into view) against GTK moving the focus
//   500 times with gtk_widget_child_focus over the same widgets;
// - the form's first ICSET_FOCUS (with its consistency check) until the window's first frame is
//   painted, against grabbing the focus and showing the same window without the engine;
// - the consistency check of a 5,000-field form (names by hashing) against comparing the same
//   5,000 names pairwise. The counter "frames" is the time in 60 Hz frames (16.7 ms).
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "button_form.h"
#include "cattach.h"
#include "cfield.h"
#include "cfocus.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "executor.h"
#include "globals.h"
#include "gui_bench.h"
#include "handles.h"
#include "intrinsics.h"
#include "numerics.h"
#include "object_writer.h"
#include "value_stack.h"

namespace {

constexpr int FIELDS = 500;
constexpr int CHECKED_FIELDS = 5000;
constexpr double FRAME_SECONDS = 1.0 / 60;

using button_form::handle_of;

// Time per iteration in 60 Hz frames.
benchmark::Counter frames()
{
    return benchmark::Counter(FRAME_SECONDS, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Time per step of 500 in 60 Hz frames.
benchmark::Counter step_frames()
{
    return benchmark::Counter(FRAME_SECONDS * FIELDS,
                              benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}


// A window with a scrolled window of buttons, as a form's containers make it (the viewport leaves
// scrolling to the focus to the forms engine).
struct Window {
    GtkWidget *window = nullptr, *scrolled = nullptr, *viewport = nullptr;
    std::vector<GtkWidget *> buttons;
};

Window make_window(int fields)
{
    Window w;
    w.window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(w.window), 400, 300);
    handle_issue_widget(w.window);
    w.scrolled = gtk_scrolled_window_new();
    w.viewport = gtk_viewport_new(nullptr, nullptr);
    gtk_viewport_set_scroll_to_focus(GTK_VIEWPORT(w.viewport), FALSE);
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_viewport_set_child(GTK_VIEWPORT(w.viewport), box);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(w.scrolled), w.viewport);
    gtk_window_set_child(GTK_WINDOW(w.window), w.scrolled);
    for (int k = 1; k <= fields; ++k) {
        GtkWidget *b = gtk_button_new_with_label(("Field " + std::to_string(k)).c_str());
        gtk_box_append(GTK_BOX(box), b);
        handle_issue_widget(b);
        w.buttons.push_back(b);
    }
    return w;
}

// The CM of a window with one button field per button (as ICATTACH_WINDOW and ICADD make it),
// its scrolled window listed for scrolling into view.
ControlMatrix_t *make_form(const Window &w)
{
    ControlMatrix_t *cm = cset_new(global_data, w.window, 0);
    for (std::size_t k = 0; k < w.buttons.size(); ++k)
        cadd_field(cm, -1, "F" + std::to_string(k + 1), 0, nullptr, w.buttons[k], nullptr, TAB_STANDARD, 1,
                   WIDGET_BUTTON, 0);
    auto *s = g_new0(ScrolledWindow_t, 1);
    s->scrolled_window = w.scrolled;
    cm->scrolled_windows = s;
    return cm;
}

void present_and_wait_for_paint(GtkWidget *window)
{
    gtk_window_present(GTK_WINDOW(window));
    bool painted = false;
    GdkFrameClock *clock = gtk_widget_get_frame_clock(window);
    const gulong id = g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(+[](bool *p) { *p = true; }), &painted);
    while (!painted) g_main_context_iteration(nullptr, TRUE);
    g_signal_handler_disconnect(clock, id);
}

void drain()
{
    while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
}

// ICSET_FOCUS as a program calls it.
void icset_focus(ControlMatrix_t *cm, int field)
{
    Stack args[2]{};
    for (Stack &a : args) {
        a.s_t = real;
        a.s_c.C_N = &a.num;
    }
    NumericCvLONG(handle_of(cm), &args[0].num);
    NumericCvINT(field, &args[1].num);
    Stack *saved = Stk;
    Stk = args;
    cset_focus(2, 1);
    Stk = saved;
}

// ---- The shared form: a window, its CM and a program whose routine `trivial` is attached to F5 on
// the window with IP and IP$ -------------------------------------------------------------------------

Window shared;
ControlMatrix_t *shared_cm;

void build_shared_form()
{
    shared = make_window(FIELDS);
    // main: the button fields, then ICATTACH_FUN("F5", trivial, CM, 0, IP, IP$).
    ObjectWriter o;
    button_form::write_fields(o, shared.window, shared.buttons);
    button_form::write_attach(o, "F5", 0);
    shared_cm = button_form::run(o, "form");
    auto *s = g_new0(ScrolledWindow_t, 1);
    s->scrolled_window = shared.scrolled;
    shared_cm->scrolled_windows = s;
    gtk_window_present(GTK_WINDOW(shared.window));
    drain();
}

bool shared_ready(benchmark::State &state)
{
    if (shared_cm && shared_cm->field_count == FIELDS && cmat_get_scm(shared_cm, 0, 55)) return true;
    state.SkipWithError("the form was not built");
    return false;
}

// ---- Routine runs -------------------------------------------------------------------------------------------

void BM_engine_invoke(benchmark::State &state)
{
    if (!shared_ready(state)) return;
    for (auto _ : state) {
        ControlMatrix_t *out = nullptr;
        int index = FIELDS / 2, closing = 0;
        char *text = nullptr;
        const int answer = cinvoke_basic_routine(shared_cm, &out, 55, &index, nullptr, global_data, "IP$", "", 0, 1,
                                                 &text, &closing, 0);
        g_free(text);
        if (answer != 1 || out != shared_cm) state.SkipWithError("the routine did not answer true");
    }
}

void BM_bare_callback(benchmark::State &state)
{
    if (!shared_ready(state)) return;
    SubControlMatrix_t *scm = cmat_get_scm(shared_cm, 0, 55);
    RoutineParams params(scm);
    for (auto _ : state) {
        invoke_basic_callback_routine(scm->routine, params.stack, params.count, scm->application, shared_cm->Minterp);
        int answer = 0;
        NumericToINT(&fn_value.num, &answer);
        if (answer != 1) state.SkipWithError("the routine did not answer 1");
    }
}

// ---- Tab ------------------------------------------------------------------------------------------------------

void BM_engine_tab(benchmark::State &state)
{
    if (!shared_ready(state)) return;
    int from = 1;
    cmat_set_focus_index(shared_cm, from);
    for (auto _ : state) {
        for (int k = 0; k < FIELDS; ++k) from = cmat_set_focus_on_tab(shared_cm, from);
        state.PauseTiming();
        GtkWidget *focus = gtk_root_get_focus(GTK_ROOT(shared.window));
        if (from != 1 || focus != shared.buttons[0]) state.SkipWithError("500 Tabs did not come round to field 1");
        drain();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * FIELDS);
    state.counters["step_frames"] = step_frames();
}

void BM_gtk_child_focus(benchmark::State &state)
{
    if (!shared_ready(state)) return;
    // GTK scrolls to the focus itself here.
    gtk_viewport_set_scroll_to_focus(GTK_VIEWPORT(shared.viewport), TRUE);
    gtk_widget_grab_focus(shared.buttons[0]);
    for (auto _ : state) {
        for (int k = 0; k < FIELDS; ++k) gtk_widget_child_focus(shared.window, GTK_DIR_TAB_FORWARD);
        state.PauseTiming();
        if (!gtk_root_get_focus(GTK_ROOT(shared.window))) state.SkipWithError("GTK lost the focus");
        gtk_widget_grab_focus(shared.buttons[0]);
        drain();
        state.ResumeTiming();
    }
    gtk_viewport_set_scroll_to_focus(GTK_VIEWPORT(shared.viewport), FALSE);
    state.SetItemsProcessed(state.iterations() * FIELDS);
    state.counters["step_frames"] = step_frames();
}

// ---- The first frame ----------------------------------------------------------------------------------------------

// The window is the run's only one: the shared form steps off the chain meanwhile.
void first_frame(benchmark::State &state, bool engine)
{
    ControlMatrix_t *first = global_data->first_cm, *last = global_data->last_cm;
    global_data->first_cm = global_data->last_cm = nullptr;
    for (auto _ : state) {
        state.PauseTiming();
        const Window w = make_window(FIELDS);
        ControlMatrix_t *cm = engine ? make_form(w) : nullptr;
        drain();
        state.ResumeTiming();
        if (engine)
            icset_focus(cm, 1);
        else
            gtk_widget_grab_focus(w.buttons[0]);
        present_and_wait_for_paint(w.window);
        state.PauseTiming();
        if (gtk_root_get_focus(GTK_ROOT(w.window)) != w.buttons[0]) state.SkipWithError("field 1 has no focus");
        if (engine) cmat_free_all();
        gtk_window_destroy(GTK_WINDOW(w.window));
        drain();
        state.ResumeTiming();
    }
    state.counters["frames"] = frames();
    global_data->first_cm = first;
    global_data->last_cm = last;
}

void BM_engine_first_frame(benchmark::State &state) { first_frame(state, true); }
void BM_gtk_first_frame(benchmark::State &state) { first_frame(state, false); }

// ---- The consistency check -----------------------------------------------------------------------------------------

ControlMatrix_t *checked_form()
{
    static ControlMatrix_t *cm = [] {
        ControlMatrix_t *c = g_new0(ControlMatrix_t, 1);  // off the chain: never shown
        for (int k = 1; k <= CHECKED_FIELDS; ++k)
            cadd_field(c, -1, "Field_" + std::to_string(k), 0, nullptr, nullptr, nullptr, TAB_STANDARD, 1,
                       WIDGET_BUTTON, 0);
        return c;
    }();
    return cm;
}

void BM_engine_consistency_check(benchmark::State &state)
{
    ControlMatrix_t *cm = checked_form();
    for (auto _ : state) cset_do_validation(cm);
    state.counters["frames"] = frames();
}

void BM_pairwise_names(benchmark::State &state)
{
    ControlMatrix_t *cm = checked_form();
    for (auto _ : state) {
        int duplicates = 0;
        for (int i = 1; i <= cm->field_count; ++i)
            for (int j = i + 1; j <= cm->field_count; ++j)
                duplicates += std::strcmp(cm_field(cm, i).name, cm_field(cm, j).name) == 0;
        benchmark::DoNotOptimize(duplicates);
        if (duplicates) state.SkipWithError("duplicate names");
    }
    state.counters["frames"] = frames();
}

} // namespace

BENCHMARK(BM_engine_invoke)->Name("engine/cinvoke_basic_routine_500_fields")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_bare_callback)->Name("bare/invoke_basic_callback_routine")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_engine_tab)->Name("engine/500_tabs")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_gtk_child_focus)->Name("gtk/500_gtk_widget_child_focus")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_engine_first_frame)->Name("engine/icset_focus_to_first_frame")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_gtk_first_frame)->Name("gtk/grab_focus_to_first_frame")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_engine_consistency_check)->Name("engine/consistency_check_5000_fields")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_pairwise_names)->Name("pairwise/5000_names")->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return run_gui_benchmarks(argc, argv, build_shared_form);
}
