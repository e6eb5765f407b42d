// Running attached routines in-process: IP and IP$ from the field or the caller, the index
// variable of one call, the answer (a number, a string, none), nested runs on one CM that keep the
// outer run's values and requests, the action-code stack's limit, recursion through
// ICINVOKE_FETCH, the one delayed call, post requests, a routine detaching itself, the run-time
// log lines, and the validation hooks around a routine.
#include "cinvoke.h"
#include "cnext.h"
#include "routine_fixture.h"

using namespace forms_test;
using namespace routine_test;
using lumba_test::abort_text;

namespace {

// A form of two button fields in a window of its own, bound to the CM variable cm.
std::string form_of(Numeric cm, const Window &w)
{
    std::string t = ref(cm) + number(w.window) + st(in_ICATTACH_WINDOW, 2);
    for (std::size_t i = 0; i < w.buttons.size(); ++i)
        t += add(cm, "B" + std::to_string(i + 1), w.buttons[i], WIDGET_BUTTON, TAB_STANDARD);
    return t;
}

int occupied(const ControlMatrix_t *cm)
{
    int n = 0;
    for (int slot : cm->ac_stack) n += slot != 0;
    return n;
}

} // namespace

TEST_F(RoutineTest, IpAndIpTextFromTheFieldOrTheCaller)
{
    const Window w = make_window(2);
    ASSERT_EQ(program(form_of(CM, w) + attach(CM, "F5", PROBE, 0) + num(123) + set(IP)).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    set_cell(0, 1);
    struct {
        int index;
        const char *variable, *text;
        int value;
        const char *logged;
    } cases[] = {
        // The window itself: an empty text and no number; the index variable keeps the attachment's 0.
        {0, "IP$", "", 0, "probe 0 -1 []"},
        // A button has no value: IP is -1 and IP$ empty; the index variable names the field.
        {2, "IP$", "", 0, "probe 2 -1 []"},
        {2, "IP$", "given", 0, "probe 2 -1 [given]"},
        // A number for IP; IP$ keeps nothing of the last run's text.
        {1, "IP", "", 7, "probe 1 7 []"},
        // No variable: IP$ becomes empty.
        {1, "", "", 0, "probe 1 -1 []"},
    };
    for (const auto &c : cases) {
        const Call r = invoke(cm, 55, c.index, c.variable, c.text, c.value);
        ASSERT_EQ(r.abort, "") << c.logged;
        EXPECT_EQ(r.logged, std::vector<std::string>{c.logged});
        EXPECT_EQ(r.answer, 1);
        EXPECT_EQ(r.out, cm);
        EXPECT_EQ(r.index, c.index);
    }
    // The routine's IP and IP$ are main's variables, which keep the last run's values.
    EXPECT_EQ(value(IP), -1);
    EXPECT_EQ(text(IPS), std::string(40, ' '));
    // The index of one call never reaches the stored attachment.
    SubControlMatrix_t *scm = cmat_get_scm(cm, 0, 55);
    ASSERT_NE(scm, nullptr);
    Stack params[4];
    cattach_params(scm, params, nullptr);
    double stored = -1;
    NumericToDBL(params[1].s_c.C_N, &stored);
    EXPECT_EQ(stored, 0);
    // Nothing of the runs is left on the CM.
    EXPECT_EQ(occupied(cm), 0);
    EXPECT_EQ(cm->invoke_stack, nullptr);
    EXPECT_EQ(cm->event_index, 1);
}

TEST_F(RoutineTest, AnswersAndResultTexts)
{
    const Window w = make_window(1);
    ASSERT_EQ(program(form_of(CM, w) + attach(CM, "F5", PROBE, 0) + attach(CM, "F6", WORDS, 0) +
                      attach(CM, "F7", NOTHING, 0, false) + attach(CM, "F8", PLAINFN, 0, false) + str("keep") +
                      sset(IPS) + num(123) + set(IP))
                  .abort,
              "");
    ControlMatrix_t *cm = cm_of(CM);
    // Routines without IP parameters store nothing into main's IP and IP$.
    const Call plain = invoke(cm, 58, 1, "IP", "", 9);
    EXPECT_EQ(plain.logged, std::vector<std::string>{"plain 1"});
    EXPECT_EQ(value(IP), 123);
    EXPECT_EQ(text(IPS), "keep");
    struct {
        int code;
        long cell;           // the answer the numeric routines give
        const char *text;    // IP$ given
        int answer;
        std::string result;
    } cases[] = {
        {55, 5, "given", 5, "given" + std::string(35, ' ')},  // a number; the result text is IP$
        {55, 0, "given", 0, "given" + std::string(35, ' ')},
        {56, 0, "", 1, "done"},                               // a string answers true and is the text
        {57, 0, "", 1, ""},                                   // no value at all: true, as no routine
        {58, 0, "", 0, ""},                                   // no IP$ parameter: an empty text
        {59, 0, "", 1, ""},                                   // nothing attached: true
    };
    for (const auto &c : cases) {
        set_cell(0, c.cell);
        const Call r = invoke(cm, c.code, 1, "IP$", c.text);
        ASSERT_EQ(r.abort, "") << c.code;
        EXPECT_EQ(r.answer, c.answer) << c.code;
        EXPECT_EQ(r.result, c.result) << c.code;
    }
    // A routine that must exist and does not ends the run.
    EXPECT_EQ(invoke(cm, 60, 1, "IP$", "", 0, 1).abort,
              "cinvoke_basic_routine: 'basic' function not found for Action Code F10; Index 1; Control Matrix " +
                  hex(cm));
}

TEST_F(RoutineTest, RunsAreLoggedBeforeAndAfter)
{
    const Window w = make_window(1);
    ASSERT_EQ(program(form_of(CM, w) + attach(CM, "F5", PROBE, 0)).abort, "");
    record.log_level_lumbas = 0;
    set_cell(0, 3);
    const Call r = invoke(cm_of(CM), 55, 1);
    std::vector<std::string> lines;
    for (const std::string &l : r.lines)
        if (l.rfind("Call ", 0) == 0 || l.rfind("Return ", 0) == 0) lines.push_back(l.substr(0, l.find("; Program_name")));
    EXPECT_EQ(r.abort, "");
    EXPECT_EQ(lines, (std::vector<std::string>{"Call 'basic' function probe; Action Code = F5; Index = 1",
                                               "Return value: 3 from 'basic' function probe"}));
}

TEST_F(RoutineTest, NestedRunsKeepTheOuterRunsValuesAndRequests)
{
    // A Post_Focus routine of a child window asks for Win_Post, then clears the form, whose Clear
    // routine runs for each row on the same CM.
    const Window parent = make_window(0), child = make_window(2);
    ASSERT_EQ(program(ref(CM) + number(parent.window) + st(in_ICATTACH_WINDOW, 2) + form_of(CM2, child) +
                      attach(CM2, "Post", OUTER, 1) + attach(CM2, "Clear", CLEARER, 0) + val(CM2) + num(2) +
                      st(in_ICSET_FOCUS, 2))
                  .abort,
              "");
    ControlMatrix_t *cm = cm_of(CM2);
    ASSERT_EQ(cm->current_focus, 2);
    const Call r = invoke(cm, AC_POST_FOCUS, 1, "IP$", "hello");
    ASSERT_EQ(r.abort, "");
    EXPECT_EQ(r.logged, (std::vector<std::string>{"clear 1 []", "clear 2 []", "outer -1 [hello]"}));
    EXPECT_EQ(r.answer, 1);
    EXPECT_EQ(r.closing, 1);
    EXPECT_EQ(cm->win_post_due, 1);
    EXPECT_EQ(cm->closing, 1);
    // ICCLEAR moved the focus on from the start: the routine's focus request gives the new field.
    EXPECT_EQ(cm->focus_request, 1);
    EXPECT_EQ(r.index, 1);
    EXPECT_EQ(cm->current_focus, 1);
    EXPECT_EQ(r.out, cm_of(CM));  // the newest window not closing
    EXPECT_EQ(occupied(cm), 0);
    EXPECT_EQ(cm->invoke_stack, nullptr);
}

TEST_F(RoutineTest, SixteenRunsNestOnOneCmTheSeventeenthStops)
{
    const Window w = make_window(1);
    ASSERT_EQ(program(form_of(CM, w) + attach(CM, "F5", PROBE, 0)).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    for (int i = 0; i < CM_MAX_AC - 1; ++i) cinvoke_record_ac(cm, AC_POST_FOCUS);
    set_cell(0, 1);
    EXPECT_EQ(invoke(cm, 55, 1).answer, 1);
    EXPECT_EQ(occupied(cm), CM_MAX_AC - 1);
    cinvoke_record_ac(cm, AC_ESCAPE);
    EXPECT_EQ(cinvoke_get_ac(cm), AC_ESCAPE);
    EXPECT_EQ(invoke(cm, 55, 1).abort, "cinvoke_basic_routine call nesting greater than 16 deep");
    // The refused run took nothing off and left nothing on.
    EXPECT_EQ(occupied(cm), CM_MAX_AC);
    EXPECT_EQ(cinvoke_get_ac(cm), AC_ESCAPE);
    EXPECT_EQ(cm->invoke_stack, nullptr);
    for (int i = 0; i < CM_MAX_AC; ++i) cinvoke_pop_ac(cm);
    EXPECT_EQ(cinvoke_get_ac(cm), 0);
}

TEST_F(RoutineTest, ARoutineFetchingItselfIsRecursion)
{
    const Window w = make_window(1);
    const Outcome o = program(form_of(CM, w) + num(AGAIN) + val(CM) + st(in_ICINVOKE_FETCH, 2));
    EXPECT_EQ(o.abort, "Routine again is being recursively called!");
}

TEST_F(RoutineTest, FetchRunsAtOnceAndTheLastDelayedCallAfterTheRun)
{
    const Window w = make_window(1);
    ASSERT_EQ(program(form_of(CM, w) + attach(CM, "F5", CALLER, 0, false)).abort, "");
    record.log_level_lumbas = 0;
    const Call r = invoke(cm_of(CM), 55, 1);
    std::vector<std::string> order;
    for (const std::string &l : r.lines)
        if (l.rfind("B ", 0) == 0 || l.rfind("Return value", 0) == 0) order.push_back(l.substr(0, 12));
    ASSERT_EQ(r.abort, "");
    // Two ICCALL_FUN: only the second runs, once the routine has returned.
    EXPECT_EQ(r.logged, (std::vector<std::string>{"caller", "second x"}));
    EXPECT_EQ(order, (std::vector<std::string>{"B caller", "Return value", "B second x"}));
    EXPECT_EQ(record.pending_call, nullptr);
    // Without a CM ICINVOKE_FETCH refuses.
    EXPECT_EQ(program(num(PROBE) + num(0L) + st(in_ICINVOKE_FETCH, 2)).abort, "Must set the Process Control Matrix first");
    const std::string unknown = program(num(99) + st(in_ICCALL_FUN, 1)).abort;
    EXPECT_EQ(unknown.substr(0, 39), "Routine 99 not found! Program_name prog") << unknown;
}

TEST_F(RoutineTest, PostRequestsCloseOnTrueAndCancelOnFalse)
{
    const Window parent = make_window(1), child = make_window(1);
    ASSERT_EQ(program(form_of(CM, parent) + form_of(CM2, child) + attach(CM2, "F5", POSTER, 0) +
                      attach(CM, "F5", POSTER, 0))
                  .abort,
              "");
    ControlMatrix_t *top = cm_of(CM2), *bottom = cm_of(CM);
    set_cell(0, 0);
    Call r = invoke(top, 55, 1);
    EXPECT_EQ(r.answer, 0);
    EXPECT_EQ(r.closing, 0);
    EXPECT_EQ(top->closing, 0);  // the window stays open
    EXPECT_EQ(r.out, top);
    set_cell(0, 1);
    r = invoke(top, 55, 1);
    EXPECT_EQ(r.answer, 1);
    EXPECT_EQ(r.closing, 1);
    EXPECT_EQ(top->closing, 1);
    EXPECT_EQ(top->zoom_post_due, 1);
    EXPECT_STREQ(top->post_text, "picked");
    EXPECT_EQ(r.out, bottom);
    // The first window has no parent to post to.
    EXPECT_EQ(invoke(bottom, 55, 1).abort, "No parent window found");
}

// A true answer of a run with close processing takes the closing road the registration installed;
// without one the run stops.
TEST_F(RoutineTest, CloseProcessingTakesTheRegisteredClosingRoad)
{
    const Window parent = make_window(1), child = make_window(1);
    ASSERT_EQ(program(form_of(CM, parent) + form_of(CM2, child) + attach(CM2, "F5", POSTER, 0)).abort, "");
    ControlMatrix_t *top = cm_of(CM2);
    static std::vector<ControlMatrix_t *> taken;
    taken.clear();
    const CloseRoad installed = register_close_road([](ControlMatrix_t *cm, GlobalData_t *) {
        taken.push_back(cm);
        return cm;
    });
    EXPECT_EQ(installed, &cdeletewin);
    set_cell(0, 1);
    const Call closing = invoke(top, 55, 1, "IP$", "", 0, 0, 1);
    const Call without = (register_close_road(nullptr), invoke(top, 55, 1, "IP$", "", 0, 0, 1));
    register_close_road(installed);
    EXPECT_EQ(closing.abort, "");
    EXPECT_EQ(closing.closing, 1);
    EXPECT_EQ(taken, std::vector<ControlMatrix_t *>{top});
    EXPECT_EQ(without.abort, "Closing windows not available");
}

TEST_F(RoutineTest, EachPostRequestMarksItsOwnFlagAndText)
{
    struct {
        int intrinsic;
        int ControlMatrix_t::*due;
        const char *logged;
    } cases[] = {
        {in_ICINVOKE_WIN_POST, &ControlMatrix_t::win_post_due, "Request delayed running of Win_Post"},
        {in_ICINVOKE_ZOOM_POST, &ControlMatrix_t::zoom_post_due, "Request delayed running of Zoom_Post"},
        {in_ICINVOKE_DRILL_POST, &ControlMatrix_t::drill_post_due, "Request delayed running of Drill_Post"},
    };
    for (const auto &c : cases) {
        for (const bool with_text : {true, false}) {
            const Window parent = make_window(1), child = make_window(1);
            record.log_level_lumbas = 3;
            const Outcome o = program(form_of(CM, parent) + form_of(CM2, child) + val(CM2) +
                                      (with_text ? str("chosen") : std::string()) +
                                      st(c.intrinsic, with_text ? 2 : 1));
            ASSERT_EQ(o.abort, "") << c.logged;
            ControlMatrix_t *cm = cm_of(CM2);
            EXPECT_EQ(cm->closing, 1) << c.logged;
            for (int ControlMatrix_t::*flag :
                 {&ControlMatrix_t::win_post_due, &ControlMatrix_t::zoom_post_due, &ControlMatrix_t::drill_post_due})
                EXPECT_EQ(cm->*flag, flag == c.due ? 1 : 0) << c.logged;
            EXPECT_STREQ(cm->post_text, with_text ? "chosen" : "") << c.logged;
            EXPECT_NE(o.err.find(std::string(c.logged) + "\n"), std::string::npos) << o.err;
            cmat_free_all();
            delete_all_applications();
            // The bottom window has no parent to post to.
            EXPECT_EQ(program(form_of(CM, make_window(1)) + val(CM) + st(c.intrinsic, 1)).abort, "No parent window found");
            cmat_free_all();
            delete_all_applications();
        }
    }
}

TEST_F(RoutineTest, ARoutineThatDetachesItselfAnswersTrue)
{
    const Window w = make_window(1);
    ASSERT_EQ(program(form_of(CM, w) + attach(CM, "F5", DETACHER, 0, false) + attach(CM, "F6", PROBE, 0)).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    const Call r = invoke(cm, 55, 1);
    ASSERT_EQ(r.abort, "");
    EXPECT_EQ(r.answer, 1);
    EXPECT_EQ(r.result, "");
    EXPECT_EQ(cmat_get_scm(cm, 0, 55), nullptr);
    // The next event finds the CM as before.
    EXPECT_EQ(occupied(cm), 0);
    EXPECT_EQ(cm->invoke_stack, nullptr);
    set_cell(0, 4);
    EXPECT_EQ(invoke(cm, 56, 1).answer, 4);
    // The detached record, kept while its routine ran, goes once a run has answered true.
    EXPECT_EQ(cm->scm_free_list, nullptr);
}

TEST_F(RoutineTest, PreFocusOnTheAnyChangeFieldTurnsAnyChangeOn)
{
    const Window w = make_window(2);
    ASSERT_EQ(program(ref(CM) + number(w.window) + st(in_ICATTACH_WINDOW, 2) +
                      add(CM, "A", w.buttons[0], WIDGET_BUTTON, TAB_STANDARD) +
                      add(CM, "AnyChange", w.buttons[1], WIDGET_BUTTON, TAB_ANYCHANGE))
                  .abort,
              "");
    ControlMatrix_t *cm = cm_of(CM);
    struct {
        int code, index, anychange;
    } cases[] = {{AC_POST_FOCUS, 2, 0}, {AC_PRE_FOCUS, 1, 0}, {AC_PRE_FOCUS, 0, 0}, {AC_PRE_FOCUS, 2, 1}};
    for (const auto &c : cases) {
        cm->anychange = 0;
        const Call r = invoke(cm, c.code, c.index);
        EXPECT_EQ(r.answer, 1);  // nothing is attached
        EXPECT_EQ(cm->anychange, c.anychange) << c.code << " " << c.index;
    }
}

TEST_F(RoutineTest, APreFocusRoutineMayNotMoveTheFocus)
{
    const Window w = make_window(2);
    ASSERT_EQ(program(form_of(CM, w) + attach(CM, "Pre", FOCUSER, 1)).abort, "");
    EXPECT_EQ(invoke(cm_of(CM), AC_PRE_FOCUS, 1).abort,
              "Not permitted to change focus from a function attached with the Pre_Focus Action Code at index 1");
}

namespace {

// A test row for input fields whose entry is a GtkText: its text is the value, validation answers
// `accept` and counts its calls.
int accept = 1, validations = 0;
char *text_value(ControlMatrix_t *, int, void *entry, int *, char **, int *)
{
    return g_strdup(gtk_editable_get_text(GTK_EDITABLE(entry)));
}
int validate(ControlMatrix_t *, int, void *)
{
    ++validations;
    return accept;
}

} // namespace

TEST_F(RoutineTest, EmptyRequiredFieldsAndValidation)
{
    const Window w = make_window(0);
    GtkWidget *texts[3];
    for (GtkWidget *&t : texts) {
        t = gtk_text_new();
        gtk_box_append(GTK_BOX(w.box), t);
        handle_issue_widget(t);
    }
    ASSERT_EQ(program(ref(CM) + number(w.window) + st(in_ICATTACH_WINDOW, 2) +
                      add(CM, "Key", texts[0], WIDGET_INPUT, TAB_KEY) + add(CM, "Req", texts[1], WIDGET_INPUT, TAB_REQUIRED) +
                      add(CM, "Std", texts[2], WIDGET_INPUT, TAB_STANDARD))
                  .abort,
              "");
    ControlMatrix_t *cm = cm_of(CM);
    // Without the input kind's row, reading an input field stops.
    const WidgetTypeHooks real = register_widget_type(WIDGET_INPUT, WidgetTypeHooks{});
    EXPECT_EQ(abort_text([&] { cinvoke_is_empty(cm, 1); }), "Input fields not available");
    WidgetTypeHooks row{};
    row.value = text_value;
    row.validate = validate;
    register_widget_type(WIDGET_INPUT, row);
    struct {
        int index;
        const char *text;
        int empty;
    } cases[] = {{1, "  \t", 1}, {1, "a", 0}, {2, "", 1}, {2, "/", 0}, {3, "", 0}, {0, "", 0}};
    for (const auto &c : cases) {
        messages.clear();
        if (c.index) gtk_editable_set_text(GTK_EDITABLE(texts[c.index - 1]), c.text);
        EXPECT_EQ(cinvoke_is_empty(cm, c.index), c.empty) << c.index << " '" << c.text << "'";
        EXPECT_EQ(messages, c.empty ? std::vector<std::string>{"Field must not be empty"} : std::vector<std::string>{});
    }
    // Validation: the empty check first (when asked), then the kind's own.
    gtk_editable_set_text(GTK_EDITABLE(texts[0]), "");
    validations = 0;
    EXPECT_EQ(cinvoke_val_enter(cm, 1, &record, 1), 0);
    EXPECT_EQ(validations, 0);
    EXPECT_EQ(cinvoke_val_enter(cm, 1, &record, 0), 1);
    accept = 0;
    gtk_editable_set_text(GTK_EDITABLE(texts[0]), "x");
    EXPECT_EQ(cinvoke_val_enter(cm, 1, &record, 1), 0);
    EXPECT_EQ(validations, 2);
    accept = 1;
    register_widget_type(WIDGET_INPUT, real);
}
