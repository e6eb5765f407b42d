// The menu screen's redraw: gmenu_display_menu on a full tree of 3 x 20 drawn cells (twenty
// top-level sub-menus of twenty items, a selected path two levels deep, alternating between two
// paths so that every cell changes), against setting the same 60 mark-ups and widget names
// directly with GTK in the same run. Also the time from a key press in the selection entry (a dot
// that opens or clears a sub-menu) to the next painted frame of the window. GTK runs on a private
// X server.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "cmatrix.h"
#include "gmenu.h"
#include "gmisc.h"
#include "gui_bench.h"
#include "ilist.h"

namespace {

ControlMatrix_t *menu_cm;
menu_data *menu;
GtkWidget *window;

// Twenty top-level sub-menus 1..20, each with twenty items, item 1 of each a sub-menu of twenty.
IList_t *full_tree()
{
    IList_t *list = ilist_declare(ILIST_STRING);
    auto add = [&](std::vector<std::string> item) {
        for (const std::string &e : item) ilist_addselt(list, e.c_str(), static_cast<int>(e.size()), 0, nullptr);
    };
    for (int t = 1; t <= GMENU_ROWS; ++t) {
        add({std::to_string(t), "2", std::to_string(t), "Department " + std::to_string(t), "A", "", ""});
        for (int c = 1; c <= GMENU_ROWS; ++c) {
            const std::string path = std::to_string(t) + "." + std::to_string(c);
            if (c == 1) add({path, "2", std::to_string(c), "Reports & lists", "B", "", ""});
            else add({path, "1", std::to_string(c), "Entry <" + path + ">", "C", "07p", ""});
        }
        for (int g = 1; g <= GMENU_ROWS; ++g)
            add({std::to_string(t) + ".1." + std::to_string(g), "1", std::to_string(g), "Report " + std::to_string(g),
                 "D", "07r", ""});
    }
    return list;
}

// Marks the path top.1 (top 1 or 2).
void select_path(int top)
{
    for (menu_item *t = menu->root; t; t = t->next) {
        t->selected = t->number == top;
        for (menu_item *c = t->children; c; c = c->next) c->selected = t->selected && c->number == 1;
    }
}

void build_menu()
{
    window = gtk_window_new();
    menu_cm = cset_new(global_data, window, 0);
    menu_cm->type = CM_WT_MENU;
    menu = static_cast<menu_data *>(g_malloc0(sizeof(menu_data)));
    menu_cm->window_data = menu;
    gmenu_set_buttons(menu, MenuButtonTexts{"07inc", "07790m", "07tar", {"1", "2", "3", "4", "5", "6"}});
    gmenu_fill_data_store(full_tree(), menu);
    GtkWidget *content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    oska_box_append(content, gmenu_setup_Middle(global_data), 1, 1, 5);
    oska_box_append(content, gmenu_setup_Footer(global_data), 0, 1, 0);
    gtk_window_set_child(GTK_WINDOW(window), content);
    gtk_window_set_default_size(GTK_WINDOW(window), 1014, 680);
    gtk_window_present(GTK_WINDOW(window));
    while (!gtk_widget_get_mapped(window)) g_main_context_iteration(nullptr, TRUE);
}

bool full(const menu_data *v)
{
    for (const auto &column : v->cells)
        for (const menu_cell &cell : column)
            if (std::string(gtk_label_get_label(GTK_LABEL(cell.label))) == " ") return false;
    return true;
}

void BM_gmenu_display_menu(benchmark::State &state)
{
    int top = 1;
    for (auto _ : state) {
        select_path(top);
        gmenu_display_menu(menu_cm);
        top = 3 - top;
    }
    if (!full(menu) || gtk_editable_get_text(GTK_EDITABLE(menu->short_cut)) != std::string(top == 1 ? "2.1" : "1.1"))
        state.SkipWithError("the menu was not drawn");
    state.SetItemsProcessed(state.iterations() * GMENU_COLUMNS * GMENU_ROWS);
}

// The same cells set straight: the mark-ups of both paths made beforehand, names and texts set.
void BM_gtk_set_markups(benchmark::State &state)
{
    struct Cell {
        const char *style;
        std::string markup;
    };
    std::vector<Cell> paths[2];
    for (int p = 0; p < 2; ++p) {
        select_path(p + 1);
        const menu_item *top = menu->root;
        std::vector<const menu_item *> columns[3] = {{}, {}, {}};
        for (const menu_item *t = menu->root; t; t = t->next) {
            columns[0].push_back(t);
            if (t->selected) top = t;
        }
        for (const menu_item *c = top->children; c; c = c->next) columns[1].push_back(c);
        for (const menu_item *g = top->children->children; g; g = g->next) columns[2].push_back(g);
        for (const auto &column : columns)
            for (const menu_item *i : column) paths[p].push_back({i->style, gmenu_cell_markup(i)});
    }
    const char *entry_texts[] = {"1.1", "2.1"};
    int p = 0;
    for (auto _ : state) {
        int k = 0;
        for (int c = 0; c < GMENU_COLUMNS; ++c)
            for (int r = 0; r < GMENU_ROWS; ++r, ++k) {
                const menu_cell &cell = menu->cells[c][r];
                const Cell &want = paths[p][k];
                gtk_widget_set_name(cell.box, want.style);
                gtk_widget_set_name(cell.label, want.style);
                if (cell.arrow) {
                    gtk_widget_set_name(cell.arrow, want.style);
                    gtk_widget_set_visible(cell.arrow, TRUE);
                }
                gtk_label_set_markup(GTK_LABEL(cell.label), want.markup.c_str());
            }
        gtk_editable_set_text(GTK_EDITABLE(menu->short_cut), entry_texts[p]);
        gtk_label_set_text(GTK_LABEL(menu->short_cut_label), "   ");
        p = 1 - p;
    }
    state.SetItemsProcessed(state.iterations() * GMENU_COLUMNS * GMENU_ROWS);
}

bool painted;
void after_paint(GdkFrameClock *, gpointer) { painted = true; }

// A dot typed after "1" opens sub-menu 1 (column 1 fills), the next dot clears it: each press
// redraws, and the time runs until the window has painted the frame after it.
void BM_key_press_to_painted_frame(benchmark::State &state)
{
    GdkFrameClock *clock = gtk_widget_get_frame_clock(window);
    const gulong id = g_signal_connect(clock, "after-paint", G_CALLBACK(after_paint), nullptr);
    GtkEventController *keys = oska_widget_get_controller(menu->short_cut, "gmenu-setup");
    select_path(0);
    gmenu_display_menu(menu_cm);
    bool open = false;
    for (auto _ : state) {
        state.PauseTiming();
        if (!open) gtk_editable_set_text(GTK_EDITABLE(menu->short_cut), "1");
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        painted = false;
        state.ResumeTiming();
        gboolean handled = FALSE;
        g_signal_emit_by_name(keys, "key-pressed", guint('.'), 0u, GdkModifierType(0), &handled);
        while (!painted) g_main_context_iteration(nullptr, TRUE);
        open = !open;
    }
    g_signal_handler_disconnect(clock, id);
    if (open && std::string(gtk_label_get_label(GTK_LABEL(menu->cells[1][0].label))) == " ")
        state.SkipWithError("the dot did not open the sub-menu");
}

} // namespace

BENCHMARK(BM_gmenu_display_menu)->Name("lumba/gmenu_display_menu_60_cells")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_gtk_set_markups)->Name("gtk/set_60_markups_and_names")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_key_press_to_painted_frame)->Name("lumba/menu_key_press_to_painted_frame")->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return run_gui_benchmarks(argc, argv, build_menu);
}
