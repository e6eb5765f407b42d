// Focus and Tab order in-process, on forms of GtkButton fields in real windows: the three walks
// around the AnyChange field, passed type-5 fields and their Pre_Focus routines, walks with
// nothing to stop at, scrolling into view through nested scrolled windows, ICSET_FOCUS with the
// consistency check, ICCLEAR, and both in background mode.
#include "cclear.h"
#include "cevents.h"
#include "cfocus.h"
#include "gui_env.h"
#include "routine_fixture.h"

using namespace forms_test;
using namespace routine_test;
using lumba_test::abort_text;

namespace {

enum class Move { tab, back, next };

// ICATTACH_WINDOW(CM, window) and one button field per Tab Sequence Type given (the rest as
// named: a type 0 is a table field whose entry is a grid).
std::string form_of(const Window &w, const std::vector<int> &tabs, const std::vector<GtkWidget *> &entries = {})
{
    std::string t = ref(CM) + number(w.window) + st(in_ICATTACH_WINDOW, 2);
    for (std::size_t i = 0; i < tabs.size(); ++i) {
        const bool table = tabs[i] == 0;
        GtkWidget *entry = i < entries.size() && entries[i] ? entries[i] : w.buttons[i];
        t += add(CM, "F" + std::to_string(i + 1), entry, table ? WIDGET_TABLE : WIDGET_BUTTON,
                 table ? TAB_NO_FOCUS : tabs[i]);
    }
    return t;
}

// Calls an intrinsic handler with numeric arguments, as the dispatcher would.
void call(void (*handler)(int, int), std::vector<long> values)
{
    std::vector<dec_t> numbers(values.size());
    std::vector<Stack> args(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        NumericCvLONG(values[i], &numbers[i]);
        args[i].s_t = real;
        args[i].s_c.C_N = &numbers[i];
    }
    Stack *saved = Stk;
    Stk = args.data();
    struct Back {
        Stack *saved;
        ~Back() { Stk = saved; }
    } back{saved};
    handler(static_cast<int>(args.size()), static_cast<int>(args.size()) - 1);
}

long handle_of(const void *p) { return static_cast<long>(reinterpret_cast<std::uintptr_t>(p)); }

} // namespace

class FocusTest : public RoutineTest {
protected:
    // Moves from `from`; returns the target.
    int move(ControlMatrix_t *cm, Move m, int from)
    {
        int target = -1;
        last_stop = logged(
            [&] {
                switch (m) {
                case Move::tab: target = cmat_set_focus_on_tab(cm, from); break;
                case Move::back: target = cmat_set_focus_on_left_tab(cm, from, 0); break;
                case Move::next: target = cmat_set_focus_next(cm, from); break;
                }
            },
            &last_logged);
        return target;
    }
    // The focused field as the form records it, and as GTK has it (0 when neither names a field).
    void expect_focus(ControlMatrix_t *cm, const Window &w, int index)
    {
        EXPECT_EQ(cset_st_get_int(cm, CM_CUR_FOCUS), index);
        GtkWidget *focus = gtk_root_get_focus(GTK_ROOT(w.window));
        EXPECT_EQ(focus, index >= 1 ? w.buttons[static_cast<std::size_t>(index - 1)] : nullptr);
    }
    void show(const Window &w)
    {
        gtk_window_present(GTK_WINDOW(w.window));
        EXPECT_TRUE(lumba_test::wait_until([&] { return gtk_widget_get_mapped(w.window); }));
    }
    std::string last_stop;
    std::vector<std::string> last_logged;
};

TEST_F(FocusTest, TabBackTabAndNextAroundTheAnyChangeField)
{
    const Window w = make_window(9);
    ASSERT_EQ(program(form_of(w, {3, 3, 3, 7, 3, 3, 3, 3, 3})).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    show(w);
    struct {
        Move move;
        int from, to;
    } steps[] = {
        {Move::tab, 9, 4},  {Move::tab, 4, 1},  {Move::tab, 3, 5},  {Move::back, 1, 4}, {Move::back, 4, 9},
        {Move::back, 5, 3}, {Move::tab, 0, 1},  {Move::next, 3, 5}, {Move::next, 9, 4}, {Move::next, 4, 1},
        {Move::next, 0, 1},
    };
    for (const auto &s : steps) {
        EXPECT_EQ(move(cm, s.move, s.from), s.to) << static_cast<int>(s.move) << " from " << s.from;
        expect_focus(cm, w, s.to);
    }
    // Any-change mode: the next-field rule only stops at the AnyChange field; Tab as before.
    cm->anychange = 1;
    EXPECT_EQ(move(cm, Move::next, 1), 4);
    EXPECT_EQ(move(cm, Move::tab, 1), 2);
    EXPECT_EQ(abort_text([&] { cmat_get_focus_on_tab(cm, 10); }),
              "Attempt to access Program Control Matrix at index 10 out of range 9");
}

TEST_F(FocusTest, PassedSkipInAddModeFieldsRunTheirPreFocus)
{
    const Window w = make_window(9);
    ASSERT_EQ(program(form_of(w, {3, 3, 3, 7, 3, 5, 3, 3, 3}) + attach(CM, "Pre", COUNTER, 6)).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    show(w);
    set_cell(1, 0);
    struct {
        int anychange;
        Move move;
        int from, to;
        long runs;  // Pre_Focus runs so far
    } steps[] = {
        // Add mode: Tab and the next-field rule pass field 6 and run its Pre_Focus; Back-Tab never does.
        {0, Move::tab, 5, 7, 1},
        {0, Move::next, 5, 7, 2},
        {0, Move::back, 7, 5, 2},
        // Any-change mode: Tab and Back-Tab stop there; the next-field rule goes to the AnyChange field.
        {1, Move::tab, 5, 6, 2},
        {1, Move::back, 7, 6, 2},
        {1, Move::next, 5, 4, 2},
    };
    for (const auto &s : steps) {
        cm->anychange = s.anychange;
        EXPECT_EQ(move(cm, s.move, s.from), s.to) << s.anychange << " " << static_cast<int>(s.move) << " from " << s.from;
        EXPECT_EQ(last_stop, "");
        EXPECT_EQ(cell_value(1), s.runs);
        expect_focus(cm, w, s.to);
    }
    EXPECT_EQ(last_logged, std::vector<std::string>{});
    cm->anychange = 0;
    move(cm, Move::tab, 5);
    EXPECT_EQ(last_logged, std::vector<std::string>{"pre 6"});
}

TEST_F(FocusTest, WalksWithNothingToStopAt)
{
    // Skip on tab, skip in add mode (with a Pre_Focus), no focus, skip & not AnyChange, skip on
    // tab: no field stops any walk in add mode, and there is no AnyChange field.
    const Window w = make_window(5);
    ASSERT_EQ(program(form_of(w, {4, 5, 6, 8, 4}) + attach(CM, "Pre", COUNTER, 2)).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    show(w);
    struct {
        Move move;
        int from, to;
        long runs;  // Pre_Focus runs of the walk: one round, not one per wrap
    } steps[] = {
        {Move::tab, 3, 3, 1},   // Tab stays on the field it started from
        {Move::back, 3, 3, 0},  // so does Back-Tab, without routines
        {Move::next, 3, 5, 1},  // the next-field rule ends on the last field
        {Move::tab, 0, 0, 1},
    };
    for (const auto &s : steps) {
        set_cell(1, 0);
        EXPECT_EQ(move(cm, s.move, s.from), s.to) << static_cast<int>(s.move);
        EXPECT_EQ(last_stop, "");
        EXPECT_EQ(cell_value(1), s.runs) << static_cast<int>(s.move);
    }
    expect_focus(cm, w, 5);
}

TEST_F(FocusTest, TheNextFieldRuleNeverEndsOnATable)
{
    Window w = make_window(4);
    GtkWidget *grid = gtk_grid_new();
    gtk_box_append(GTK_BOX(w.box), grid);
    handle_issue_widget(grid);
    w.buttons.push_back(grid);
    ASSERT_EQ(program(form_of(w, {4, 4, 6, 8, 0})).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    show(w);
    EXPECT_EQ(move(cm, Move::next, 2), 2);
    EXPECT_EQ(last_stop, "");
    expect_focus(cm, w, 2);
    EXPECT_EQ(abort_text([&] { cmat_set_focus_index(cm, 5); }),
              "Attempting to set focus to a Table at Index 5; Change the Tab Sequence Type to Display Only (i.e. No "
              "Focus)");
    // A field without a widget is refused before its kind is looked at.
    cm_field(cm, 5).entry = nullptr;
    EXPECT_EQ(abort_text([&] { cmat_set_focus_index(cm, 5); }),
              "No widget id recorded in Entry field for Control Matrix index 5");
    expect_focus(cm, w, 2);
}

TEST_F(FocusTest, FieldsInNestedScrolledWindowsAreScrolledIntoView)
{
    // window > outer scrolled window > box: [button A, 300px, inner scrolled window > box: [300px, button B]]
    Window w = make_window(0);
    gtk_window_set_default_size(GTK_WINDOW(w.window), 300, 150);
    const auto scrolled = [](int height) {
        GtkWidget *s = gtk_scrolled_window_new();
        gtk_widget_set_size_request(s, 200, height);
        GtkWidget *viewport = gtk_viewport_new(nullptr, nullptr);
        gtk_viewport_set_scroll_to_focus(GTK_VIEWPORT(viewport), FALSE);
        GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_viewport_set_child(GTK_VIEWPORT(viewport), box);
        gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(s), viewport);
        return std::pair{s, box};
    };
    const auto spacer = [] {
        GtkWidget *s = gtk_label_new("");
        gtk_widget_set_size_request(s, 10, 300);
        return s;
    };
    auto [outer, outer_box] = scrolled(120);
    auto [inner, inner_box] = scrolled(100);
    gtk_box_append(GTK_BOX(w.box), outer);
    GtkWidget *a = gtk_button_new_with_label("A"), *b = gtk_button_new_with_label("B");
    gtk_box_append(GTK_BOX(outer_box), a);
    gtk_box_append(GTK_BOX(outer_box), spacer());
    gtk_box_append(GTK_BOX(outer_box), inner);
    gtk_box_append(GTK_BOX(inner_box), spacer());
    gtk_box_append(GTK_BOX(inner_box), b);
    for (GtkWidget *x : {a, b}) handle_issue_widget(x);
    w.buttons = {b, a};
    ASSERT_EQ(program(form_of(w, {3, 3})).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    // The scrolled windows as the containers' code lists them, outer first.
    for (GtkWidget *s : {outer, inner}) {
        auto *r = g_new0(ScrolledWindow_t, 1);
        r->scrolled_window = s;
        ScrolledWindow_t **end = &cm->scrolled_windows;
        while (*end) {
            r->prior = *end;
            end = &(*end)->next;
        }
        *end = r;
    }
    show(w);
    ASSERT_TRUE(lumba_test::wait_until(
        [&, inner = inner] { return gtk_widget_get_height(inner) > 0 && gtk_widget_get_height(b) > 0; }));
    const auto adjustment = [](GtkWidget *s) { return gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(s)); };
    const auto value = [&](GtkWidget *s) { return gtk_adjustment_get_value(adjustment(s)); };

    // A field wholly in view moves nothing.
    cmat_set_focus_index(cm, 2);
    EXPECT_EQ(value(outer), 0);
    EXPECT_EQ(value(inner), 0);

    // B lies below both pages: the outer page moves as far as it can (the inner window into view),
    // the inner page until B's bottom is its bottom.
    cmat_set_focus_index(cm, 1);
    expect_focus(cm, w, 1);
    GtkAdjustment *o = adjustment(outer), *i = adjustment(inner);
    EXPECT_GT(value(outer), 0);
    EXPECT_EQ(value(outer), gtk_adjustment_get_upper(o) - gtk_adjustment_get_page_size(o));
    graphene_rect_t bounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(b, inner_box, &bounds));
    EXPECT_DOUBLE_EQ(value(inner), bounds.origin.y + bounds.size.height - gtk_adjustment_get_page_size(i));
    EXPECT_GT(value(inner), 0);

    // Back to A: above the outer page, which returns to it; the inner page stays.
    const double inner_before = value(inner);
    cmat_set_focus_index(cm, 2);
    EXPECT_EQ(value(outer), 0);
    EXPECT_EQ(value(inner), inner_before);
}

TEST_F(FocusTest, ScrollToView)
{
    GtkAdjustment *adj = gtk_adjustment_new(0, 0, 1000, 1, 10, 100);
    g_object_ref_sink(adj);
    struct {
        double value, position, size, moved;
    } cases[] = {
        {200, 250, 20, 200},   // in view
        {200, 150, 20, 150},   // above: its top at the top
        {200, 290, 20, 210},   // below: its bottom at the bottom
        {200, 280, 20, 200},   // ending exactly on the bottom: moved by nothing
        {200, 990, 50, 900},   // beyond the end: the last page
    };
    for (const auto &c : cases) {
        gtk_adjustment_set_value(adj, c.value);
        scroll_to_view(adj, c.position, c.size);
        EXPECT_EQ(gtk_adjustment_get_value(adj), c.moved) << c.position;
    }
    g_object_unref(adj);
}

TEST_F(FocusTest, FirstSetFocusChecksTheForm)
{
    struct Case {
        std::string name;
        std::function<std::string(const Window &)> form;
        const char *stop;
        const char *warning = nullptr;
    };
    const auto field = [](const Window &w, int i, const std::string &name, int type, int tab, int prompt) {
        return add(CM, name, w.buttons[static_cast<std::size_t>(i)], type, tab, 1, prompt);
    };
    const std::vector<Case> cases = {
        {"prompts 1 2 4",
         [&](const Window &w) {
             return field(w, 0, "A", 3, 3, 1) + field(w, 1, "B", 3, 3, 0) + field(w, 2, "C", 3, 3, 2) +
                    field(w, 3, "D", 3, 3, 4);
         },
         "Prompt number 4 not one greater than the prior prompt 2"},
        {"prompts 1 2 3",
         [&](const Window &w) {
             return field(w, 0, "A", 3, 3, 1) + field(w, 1, "B", 3, 3, 2) + field(w, 2, "C", 3, 3, 3) +
                    field(w, 3, "D", 3, 3, 0);
         },
         ""},
        {"duplicate names",
         [&](const Window &w) {
             return field(w, 0, "A", 3, 3, 0) + field(w, 1, "B", 3, 3, 0) + field(w, 2, "B", 3, 3, 0) +
                    field(w, 3, "A", 3, 3, 0);
         },
         "Duplicate field name found for fields 1 and 4"},
        {"Post_Focus without Pre_Focus",
         [&](const Window &w) { return field(w, 0, "A", 1, 3, 0) + attach(CM, "Post", PLAINFN, 1, false); },
         "Function 1 plainfn: No matching icattach_fun Action Code 'Pre_Focus' for an Action Code 'Post_Focus'"},
        {"Post_Focus with Pre_Focus",
         [&](const Window &w) {
             return field(w, 0, "A", 3, 3, 0) + attach(CM, "Post", PLAINFN, 1, false) + attach(CM, "Pre", PROBE, 1);
         },
         ""},
        {"Post_Focus on a button",
         [&](const Window &w) { return field(w, 0, "A", 3, 3, 0) + attach(CM, "Post", PLAINFN, 1, false); }, ""},
        {"prompt on type 4",
         [&](const Window &w) { return field(w, 0, "A", 3, 3, 0) + field(w, 1, "B", 3, 4, 1); },
         "Must not have a prompt number for a type 4: Mouse clickable only (when enabled is true)"},
        {"prompt on type 7",
         [&](const Window &w) { return field(w, 0, "A", 3, 3, 0) + field(w, 1, "B", 3, 7, 1); },
         "Must not have a prompt number for the AnyChange field"},
        {"prompt on type 8",
         [&](const Window &w) { return field(w, 0, "A", 3, 3, 0) + field(w, 1, "B", 3, 8, 1); },
         "Must not have a prompt number for a type 8: Mouse clickable only (when AnyChange is true)"},
        {"table not type 6",
         [&](const Window &w) { return field(w, 0, "A", 3, 3, 0) + field(w, 1, "T", WIDGET_TABLE, 3, 0); },
         "A Table (index 2) must have a Tab Sequence Type of Display Only (i.e. No Focus)"},
        {"table without entry",
         [&](const Window &) { return add(CM, "A", nullptr, 3, 3) + add(CM, "T", nullptr, WIDGET_TABLE, 6); },
         "A field at index 2 defined as a Table does not contain anything"},
        {"table of a box",
         [&](const Window &w) { return field(w, 0, "A", 3, 3, 0) + add(CM, "T", w.box, WIDGET_TABLE, 6); }, "",
         "Found box when expecting a grid (table) in the Entry field of the Control Matrix index 2"},
        {"table of a button",
         [&](const Window &w) { return field(w, 0, "A", 3, 3, 0) + field(w, 1, "T", WIDGET_TABLE, 6, 0); }, "",
         "An unexpected widget type encountered when expecting a grid (table) in the Entry field of the Control "
         "Matrix index 2"},
    };
    for (const Case &c : cases) {
        const Window w = make_window(4);
        messages.clear();
        const Outcome o = program(ref(CM) + number(w.window) + st(in_ICATTACH_WINDOW, 2) + c.form(w) + val(CM) +
                                  num(1) + st(in_ICSET_FOCUS, 2));
        EXPECT_EQ(o.abort, c.stop) << c.name;
        EXPECT_EQ(messages, c.warning ? std::vector<std::string>{c.warning} : std::vector<std::string>{}) << c.name;
        if (o.abort.empty()) {
            EXPECT_EQ(cm_of(CM)->focus_initialised, 1) << c.name;
            EXPECT_EQ(cm_of(CM)->current_focus, 1) << c.name;
        }
        cmat_free_all();
        gtk_window_destroy(GTK_WINDOW(w.window));
        delete_all_applications();
    }
}

TEST_F(FocusTest, SetFocusRunsTheFirstPreFocusOnly)
{
    const Window w = make_window(3);
    const std::string form = form_of(w, {3, 3, 3}) + attach(CM, "Pre", COUNTER, 1) + attach(CM, "Pre", COUNTER, 2);
    ASSERT_EQ(program(form + val(CM) + num(1) + st(in_ICSET_FOCUS, 2) + val(CM) + str("F2") + st(in_ICSET_FOCUS, 2))
                  .abort,
              "");
    ControlMatrix_t *cm = cm_of(CM);
    // The first call ran field 1's Pre_Focus; the second, with a field focused, none.
    EXPECT_EQ(cell_value(1), 1);
    EXPECT_EQ(cm->current_focus, 2);
    EXPECT_EQ(cm->focus_request, 1);
    show(w);
    expect_focus(cm, w, 2);
    // Focus already recorded before the first call is refused.
    delete_all_applications();
    const Window v = make_window(3);
    ASSERT_EQ(program(form_of(v, {3, 3, 3})).abort, "");
    ControlMatrix_t *fresh = cm_of(CM);
    cmat_set_focus_index(fresh, 2);
    EXPECT_EQ(abort_text([&] { call(cset_focus, {handle_of(fresh), 1}); }), "Illegal focus 2 in initial call to icset_focus");
}

TEST_F(FocusTest, SetFocusRefusals)
{
    const Window w = make_window(3);
    const std::string form = ref(CM) + number(w.window) + st(in_ICATTACH_WINDOW, 2) +
                             add(CM, "A", w.buttons[0], 3, 3) + add(CM, "B", w.buttons[1], 3, 3) +
                             add(CM, "C", w.buttons[2], 3, 3, 0);
    struct {
        std::string tail;
        const char *stop;
    } cases[] = {
        {val(CM) + num(3) + st(in_ICSET_FOCUS, 2), "Field 3 is not enabled, not permitted to icset_focus"},
        {val(CM) + st(in_ICSET_FOCUS, 1), "Invalid number of parameters to icset_focus"},
        {num(0L) + num(1) + st(in_ICSET_FOCUS, 2), "Must set the Process Control Matrix first"},
        {val(CM) + str("Z") + st(in_ICSET_FOCUS, 2), ("Field name 'Z' not found in the Control Matrix ")},
        {attach(CM, "Pre", FOCUSER, 1) + val(CM) + num(1) + st(in_ICSET_FOCUS, 2),
         "Not permitted to change focus from a function attached with the Pre_Focus Action Code at index 1"},
        {val(CM) + num(2) + st(in_ICSET_FOCUS, 2), ""},
    };
    for (const auto &c : cases) {
        const std::string stop = program(form + c.tail).abort;
        EXPECT_EQ(stop.substr(0, std::strlen(c.stop)), c.stop);
        if (!*c.stop) {
            EXPECT_EQ(stop, "");
        }
        cmat_free_all();
        delete_all_applications();
    }
}

TEST_F(FocusTest, ClearRunsClearRoutinesAndMovesTheFocusOn)
{
    const Window w = make_window(3);
    const std::string form = form_of(w, {4, 3, 3}) + attach(CM, "Clear", CLEARER, 0);
    EXPECT_EQ(program(form + val(CM) + st(in_ICCLEAR, 1)).abort, "Must call icset_focus before calling icclear");
    cmat_free_all();
    delete_all_applications();

    ASSERT_EQ(program(form + val(CM) + num(3) + st(in_ICSET_FOCUS, 2)).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    show(w);
    cm->anychange = cm->modified = 1;
    cm->focus_request = 0;
    std::vector<std::string> lines;
    EXPECT_EQ(logged([&] { call(cclear, {handle_of(cm)}); }, &lines), "");
    // The window's Clear routine ran once per row, in place of any clearing of the fields.
    EXPECT_EQ(lines, (std::vector<std::string>{"clear 1 []", "clear 2 []", "clear 3 []"}));
    EXPECT_EQ(cm->anychange, 0);
    EXPECT_EQ(cm->modified, 0);
    EXPECT_EQ(cm->focus_request, 1);
    expect_focus(cm, w, 2);  // the first field the next-field rule stops at
}

namespace {

std::vector<int> cleared;
void clear_text(ControlMatrix_t *, int index, void *entry)
{
    cleared.push_back(index);
    gtk_editable_set_text(GTK_EDITABLE(entry), "");
}
GtkWidget *focus_text(ControlMatrix_t *, int, void *entry) { return GTK_WIDGET(entry); }

} // namespace

TEST_F(FocusTest, ClearByWidgetTypeAndTheClearRoutinesRules)
{
    Window w = make_window(2);
    GtkWidget *text = gtk_text_new(), *description = gtk_label_new("said");
    gtk_editable_set_text(GTK_EDITABLE(text), "typed");
    gtk_box_append(GTK_BOX(w.box), text);
    gtk_box_append(GTK_BOX(w.box), description);
    for (GtkWidget *x : {text, description}) handle_issue_widget(x);
    Add input;
    input.name = str("I");
    input.entry = number(text);
    input.description = number(description);
    input.type = num(WIDGET_INPUT);
    const std::string form = form_of(w, {3, 3}) + input.text() + val(CM) + num(1) + st(in_ICSET_FOCUS, 2);
    ASSERT_EQ(program(form).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    // The input kind clears its own fields; without its row, clearing one stops.
    const WidgetTypeHooks real = register_widget_type(WIDGET_INPUT, WidgetTypeHooks{});
    EXPECT_EQ(abort_text([&] { call(cclear, {handle_of(cm)}); }), "Input fields not available");
    WidgetTypeHooks row{};
    row.clear = clear_text;
    row.focus_widget = focus_text;
    register_widget_type(WIDGET_INPUT, row);
    cleared.clear();
    EXPECT_EQ(abort_text([&] { call(cclear, {handle_of(cm)}); }), "");
    EXPECT_EQ(cleared, std::vector<int>{3});  // buttons have nothing to clear
    EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(text)), "");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(description)), "");
    register_widget_type(WIDGET_INPUT, real);
    cmat_free_all();
    delete_all_applications();

    // A Clear routine may not move the focus.
    const Window v = make_window(3);
    ASSERT_EQ(program(form_of(v, {3, 3, 3}) + attach(CM, "Clear", FOCUSER, 1) + val(CM) + num(3) +
                      st(in_ICSET_FOCUS, 2) + val(CM) + st(in_ICCLEAR, 1))
                  .abort,
              "Not permitted to change focus in a function attached with the Clear Action Code");
}

TEST_F(FocusTest, BackgroundModeRunsTheRulesAndRecordsTheFocus)
{
    Back_ground = 1;
    const std::string form = ref(CM) + num(0L) + st(in_ICATTACH_WINDOW, 2) + add(CM, "A", nullptr, 3, 3) +
                             add(CM, "B", nullptr, 3, 3) + attach(CM, "Pre", COUNTER, 2) +
                             attach(CM, "Clear", CLEARER, 2);
    ASSERT_EQ(program(form + val(CM) + num(2) + st(in_ICSET_FOCUS, 2)).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    EXPECT_EQ(cell_value(1), 1);
    EXPECT_EQ(cm->current_focus, 2);
    EXPECT_EQ(cm->focus_initialised, 1);
    EXPECT_EQ(move(cm, Move::tab, 2), 1);
    EXPECT_EQ(cm->current_focus, 1);
    // ICCLEAR needs no widgets: field 2's Clear routine runs, and the focus moves on to field 1.
    cm->focus_request = 0;
    std::vector<std::string> lines;
    EXPECT_EQ(logged([&] { call(cclear, {handle_of(cm)}); }, &lines), "");
    EXPECT_EQ(lines, std::vector<std::string>{"clear 2 []"});
    EXPECT_EQ(cm->current_focus, 1);
    EXPECT_EQ(cm->focus_request, 1);
    cmat_free_all();
    delete_all_applications();
    // Its checks still hold.
    EXPECT_EQ(program(form + val(CM) + st(in_ICCLEAR, 1)).abort, "Must call icset_focus before calling icclear");
}

namespace {

std::vector<int> pre_displayed;
void note_pre_display(ControlMatrix_t *, int index, void *) { pre_displayed.push_back(index); }
GtkWidget *entry_itself(ControlMatrix_t *, int, void *entry) { return GTK_WIDGET(entry); }

} // namespace

TEST_F(FocusTest, TheEndOfAnEventGivesTheFocusBackAndMakesTheFieldEditable)
{
    Window w = make_window(2);
    GtkWidget *text = gtk_text_new();
    gtk_editable_set_text(GTK_EDITABLE(text), "abc");
    gtk_box_append(GTK_BOX(w.box), text);
    handle_issue_widget(text);
    w.buttons.push_back(text);
    Add input;
    input.name = str("I");
    input.entry = number(text);
    input.type = num(WIDGET_INPUT);
    ASSERT_EQ(program(form_of(w, {3, 3}) + input.text()).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    WidgetTypeHooks row{};
    row.pre_display = note_pre_display;
    row.focus_widget = entry_itself;
    const WidgetTypeHooks saved = register_widget_type(WIDGET_INPUT, row);
    show(w);
    cm->current_focus = 3;
    gtk_widget_grab_focus(w.buttons[0]);
    record.presented_cm = nullptr;
    pre_displayed.clear();
    ccallbacks_finish_event(1, 1);
    // Presented again, the window's focused field has the focus, its whole text selected, and is
    // made editable once.
    EXPECT_EQ(record.presented_cm, cm);
    expect_focus(cm, w, 3);
    int start = -1, end = -1;
    EXPECT_TRUE(gtk_editable_get_selection_bounds(GTK_EDITABLE(text), &start, &end));
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 3);
    EXPECT_EQ(pre_displayed, std::vector<int>{3});
    EXPECT_EQ(cm->edit_field, 3);
    ccallbacks_finish_event(1, 1);
    EXPECT_EQ(pre_displayed, std::vector<int>{3});
    register_widget_type(WIDGET_INPUT, saved);
}
