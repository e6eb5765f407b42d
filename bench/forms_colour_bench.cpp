// Table colours and field content, each against a named peer in the same run, on a private X server:
// - ICTABLE_BGCOLOUR_SHOW of a 2,000 x 8 grid of labels with two default rows, a default column,
//   explicit rows and cells, against one pass over the grid's children setting the same widget
//   names directly (the names the engine gave, read beforehand);
// - ICSET_CONTENT of a 500-field form whose fields each have a trivial Set_Content routine, against
//   the same 500 routines run bare with ready copies of their arguments.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "button_form.h"
#include "ccontent.h"
#include "cattach.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "ctable_bgcolour.h"
#include "executor.h"
#include "globals.h"
#include "grid_cells.h"
#include "gui_bench.h"
#include "handles.h"
#include "intrinsics.h"
#include "kinds.h"
#include "numerics.h"
#include "value_stack.h"

namespace {

constexpr int ROWS = 2000, COLUMNS = 8;
constexpr int FIELDS = 500;

using button_form::handle_of;

// A value stack of numbers and texts for calling statement handlers as the dispatcher does.
struct Arguments {
    Stack entries[6]{};
    std::string texts[6];
    int count = 0;
    Arguments &number(long v)
    {
        Stack &e = entries[count++];
        e.s_t = real;
        e.s_c.C_N = &e.num;
        NumericCvLONG(v, &e.num);
        return *this;
    }
    Arguments &text(const char *t)
    {
        texts[count] = t;
        Stack &e = entries[count];
        e.s_t = string;
        e.s_c.C_S = texts[count].data();
        e.length = static_cast<int>(texts[count].size());
        ++count;
        return *this;
    }
    void call(void (*handler)(int, int))
    {
        Stack *saved = Stk;
        Stk = entries;
        handler(count, count - 1);
        Stk = saved;
    }
};

// ---- Table colours ---------------------------------------------------------------------------------------

struct Coloured {
    GtkWidget *window = nullptr, *grid = nullptr;
    ControlMatrix_t *cm = nullptr;
    std::vector<std::string> names;  // what the engine named each child, in child order
} coloured;

void build_coloured_grid()
{
    coloured.window = gtk_window_new();
    handle_issue_widget(coloured.window);
    coloured.grid = gtk_grid_new();
    handle_issue_widget(coloured.grid);
    gtk_window_set_child(GTK_WINDOW(coloured.window), coloured.grid);
    for (int r = 0; r < ROWS; ++r)
        for (int c = 0; c < COLUMNS; ++c) {
            GtkWidget *label = gtk_label_new("cell");
            gtk_grid_attach(GTK_GRID(coloured.grid), label, c, r, 1, 1);
            grid_set_cell(label, {c, r, 1, 1});  // what IGTABLE_ATTACH stores
        }
    coloured.cm = cset_new(global_data, coloured.window, 0);
    const long cm = handle_of(coloured.cm), grid = handle_of(coloured.grid);
    Arguments().number(cm).number(grid).number(0).text("bg_a").call(ictable_bgcolour_row_default);
    Arguments().number(cm).number(grid).number(1).text("bg_b").call(ictable_bgcolour_row_default);
    Arguments().number(cm).number(grid).number(1).number(3).text("bg_c").call(ictable_bgcolour_cell_default);
    for (int r = 5; r < ROWS; r += 100) Arguments().number(cm).number(grid).number(r).text("bg_c").call(ictable_bgcolour_set_row);
    for (int r = 7; r < ROWS; r += 50)
        Arguments().number(cm).number(grid).number(r).number(r % COLUMNS).text("bg_a").call(ictable_bgcolour_set_cell);
    ctable_bgcolour_display(coloured.cm);
    for (GtkWidget *c = gtk_widget_get_first_child(coloured.grid); c; c = gtk_widget_get_next_sibling(c))
        coloured.names.emplace_back(gtk_widget_get_name(c));
}

const char *name_at(int column, int row)
{
    return gtk_widget_get_name(gtk_grid_get_child_at(GTK_GRID(coloured.grid), column, row));
}

bool painted_right()
{
    return std::string(name_at(0, 0)) == "bg_a" && std::string(name_at(3, 1)) == "bg_c" &&
           std::string(name_at(2, 1)) == "bg_b" && std::string(name_at(3, 105)) == "bg_c" &&
           std::string(name_at(7 % COLUMNS, 7)) == "bg_a" && std::string(name_at(0, 7)) == "bg_b";
}

void BM_engine_show(benchmark::State &state)
{
    BgClrTable_t *table = ctable_bgcolour_find_table(coloured.grid);
    if (!table) return state.SkipWithError("the grid has no colour settings");
    Arguments show;
    show.number(handle_of(coloured.cm));
    for (auto _ : state) {
        cm_resources().mark_colour_table(table);  // as any setting does
        show.call(ictable_bgcolour_show);
    }
    if (!painted_right()) state.SkipWithError("the grid was painted wrongly");
    state.SetItemsProcessed(state.iterations() * ROWS * COLUMNS);
}

void BM_direct_names(benchmark::State &state)
{
    for (auto _ : state) {
        std::size_t k = 0;
        for (GtkWidget *c = gtk_widget_get_first_child(coloured.grid); c; c = gtk_widget_get_next_sibling(c))
            gtk_widget_set_name(c, coloured.names[k++].c_str());
    }
    if (!painted_right()) state.SkipWithError("the names were set wrongly");
    state.SetItemsProcessed(state.iterations() * ROWS * COLUMNS);
}

// ---- Field content ----------------------------------------------------------------------------------------

ControlMatrix_t *content_cm;

void build_content_form()
{
    GtkWidget *window = gtk_window_new();
    handle_issue_widget(window);
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_window_set_child(GTK_WINDOW(window), box);
    std::vector<GtkWidget *> buttons;
    for (int k = 1; k <= FIELDS; ++k) {
        GtkWidget *b = gtk_button_new_with_label(("Field " + std::to_string(k)).c_str());
        gtk_box_append(GTK_BOX(box), b);
        handle_issue_widget(b);
        buttons.push_back(b);
    }
    // Set_Content of the trivial routine on every field.
    ObjectWriter o;
    button_form::write_fields(o, window, buttons);
    for (int k = 1; k <= FIELDS; ++k) button_form::write_attach(o, "Set_Content", k);
    content_cm = button_form::run(o, "content");
}

bool content_ready(benchmark::State &state)
{
    if (content_cm && content_cm->field_count == FIELDS && cmat_get_scm(content_cm, FIELDS, AC_SET_CONTENT)) return true;
    state.SkipWithError("the form was not built");
    return false;
}

void BM_engine_set_content(benchmark::State &state)
{
    if (!content_ready(state)) return;
    Arguments content;
    content.number(handle_of(content_cm));
    for (auto _ : state) content.call(cset_content);
    state.SetItemsProcessed(state.iterations() * FIELDS);
}

void BM_bare_routines(benchmark::State &state)
{
    if (!content_ready(state)) return;
    std::vector<SubControlMatrix_t *> records;
    std::vector<std::unique_ptr<RoutineParams>> params;
    for (int k = 1; k <= FIELDS; ++k) {
        records.push_back(cmat_get_scm(content_cm, k, AC_SET_CONTENT));
        params.push_back(std::make_unique<RoutineParams>(records.back()));
    }
    for (auto _ : state)
        for (int k = 0; k < FIELDS; ++k) {
            const SubControlMatrix_t *scm = records[static_cast<std::size_t>(k)];
            const RoutineParams &p = *params[static_cast<std::size_t>(k)];
            invoke_basic_callback_routine(scm->routine, p.stack, p.count, scm->application, content_cm->Minterp);
            int answer = 0;
            NumericToINT(&fn_value.num, &answer);
            if (answer != 1) state.SkipWithError("a routine did not answer 1");
        }
    state.SetItemsProcessed(state.iterations() * FIELDS);
}

void build_forms()
{
    build_coloured_grid();
    build_content_form();
}

} // namespace

BENCHMARK(BM_engine_show)->Name("engine/ictable_bgcolour_show_2000x8")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_direct_names)->Name("direct/gtk_widget_set_name_2000x8")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_engine_set_content)->Name("engine/icset_content_500_fields")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_bare_routines)->Name("bare/500_set_content_routines")->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return run_gui_benchmarks(argc, argv, build_forms);
}
