// ICSET_CONTENT in-process on forms of GtkButton fields in real windows: which fields a range fills
// and in what order (the AnyChange field last), Set_Content before Pre_Focus, fields added by a
// routine while the range runs to the end, the CM's state put back, the prohibitions and the
// argument errors.
#include "gui_env.h"
#include "routine_fixture.h"

using namespace forms_test;
using namespace routine_test;

namespace {

// Routines of these tests, after the fixture's (numbered on from FOCUSER).
enum { ADDER = FOCUSER + 1, CLOSER };
using lumba_test::param;
std::string imlog(const std::string &text) { return num(0L) + str(text) + st(in_IMLOG, 2); }
// adder (cm, ind, IP, IP$): logs "adder", appends a button field "NEW" (no widget); answers 1.
// closer (cm, ind, IP, IP$): ICINVOKE_WIN_POST(cm), which marks the window closing; answers 1.
const std::string extra_routines = [] {
    std::string symbols;
    for (const char *name : {"adder", "closer"})
        symbols += "symtab\n__ROUTINE__ " + std::string(name) +
                   " 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\nIP$ 40 0 0x8014 0 4 -\n"
                   "__END_ROUTINE__\n.end\n";
    return routine_test::routines + ".nfunc r:adder I:0 I:0 I:0 I:0 I:0 I:4\n" + imlog("adder") + param(0) + num(-1) + str("NEW") +
           num(0L) + num(0L) + num(0L) + num(0L) + num(3) + num(1) + num(WIDGET_BUTTON) + num(0L) + fn(in_ICADD, 11) +
           lumba_test::to_cell(2) + num(1) + "exitv\n" + ".nfunc r:closer I:0 I:0 I:0 I:0 I:0 I:4\n" + param(0) +
           st(in_ICINVOKE_WIN_POST, 1) + num(1) + "exitv\n" + symbols;
}();

// ICSET_CONTENT(CM, args...).
std::string content(const std::string &args = "", int nargs = 0)
{
    return val(CM) + args + st(in_ICSET_CONTENT, 1 + nargs);
}

} // namespace

class ContentTest : public RoutineTest {
protected:
    // A window (with a parent window's CM in CM2) of six button fields F1..F6, F4 the AnyChange
    // field, and a window-wide Pre_Focus PROBE; then body. Answers the abort text, and in *filled
    // the routine lines logged after "go".
    std::string run(const std::string &body, std::vector<std::string> *filled)
    {
        const Window parent = make_window(0), w = make_window(6);
        std::string form = ref(CM2) + number(parent.window) + st(in_ICATTACH_WINDOW, 2) + ref(CM) + number(w.window) +
                           st(in_ICATTACH_WINDOW, 2);
        for (int i = 1; i <= 6; ++i)
            form += add(CM, "F" + std::to_string(i), w.buttons[i - 1], WIDGET_BUTTON, i == 4 ? TAB_ANYCHANGE : TAB_STANDARD);
        form += attach(CM, "Pre_Focus", PROBE, 0);
        const Outcome o = form_run(common + num(1) + lumba_test::to_cell(0) + form + body);  // PROBE answers true
        filled->clear();
        bool going = false;
        for (const std::string &l : log_lines(o.err)) {
            if (l == "B go") going = true;
            else if (going && l.starts_with("B ")) filled->push_back(l.substr(2));
        }
        return o.abort;
    }
    Outcome form_run(const std::string &text) { return form(text, extra_routines); }
};

TEST_F(ContentTest, TheRangeAndTheOrderOfFilling)
{
    const std::string go = imlog("go");
    const std::string focus2 = val(CM) + num(2) + st(in_ICSET_FOCUS, 2);
    const std::string adder_on_3 = attach(CM, "Set_Content", ADDER, 3);
    auto probes = [](std::initializer_list<int> fields) {
        std::vector<std::string> v;
        for (int f : fields) v.push_back("probe " + std::to_string(f) + " -1 []");
        return v;
    };
    struct Case {
        const char *what;
        std::string body;
        std::vector<std::string> filled;
    } cases[] = {
        {"before ICSET_FOCUS every field, the AnyChange field last", go + content(), probes({1, 2, 3, 5, 6, 4})},
        {"after it the fields after the current one", focus2 + go + content(), probes({3, 5, 6, 4})},
        {"on the last field, the last field", val(CM) + num(6) + st(in_ICSET_FOCUS, 2) + go + content(), probes({6})},
        {"one field by index", go + content(num(5), 1), probes({5})},
        {"one field by name", go + content(str("F2"), 1), probes({2})},
        {"EndIndex", go + content(str("EndIndex"), 1), probes({6})},
        {"AnyChange", go + content(str("AnyChange"), 1), probes({4})},
        {"a range holding the AnyChange field", go + content(num(3) + num(5), 2), probes({3, 5, 4})},
        {"a range without it", go + content(num(5) + str("EndIndex"), 2), probes({5, 6})},
        {"a last field beyond the count", go + content(num(5) + num(60), 2), probes({5, 6})},
        {"Set_Content before the window's Pre_Focus",
         attach(CM, "Set_Content", PLAINFN, 2, false) + go + content(num(1) + num(3), 2),
         {"probe 1 -1 []", "plain 2", "probe 3 -1 []"}},
        {"to the end, a field added meanwhile is filled too", adder_on_3 + go + content(num(3) + num(6), 2),
         {"adder", "probe 5 -1 []", "probe 6 -1 []", "probe 7 -1 []", "probe 4 -1 []"}},
        {"a range ending before the end does not fill it", adder_on_3 + go + content(num(3) + num(5), 2),
         {"adder", "probe 5 -1 []", "probe 4 -1 []"}},
    };
    for (const Case &c : cases) {
        std::vector<std::string> filled;
        const std::string stop = run(c.body, &filled);
        ASSERT_EQ(stop, "") << c.what;
        EXPECT_EQ(filled, c.filled) << c.what;
    }
}

TEST_F(ContentTest, FieldsWithoutRoutinesAreOnlyDisplayedAndTheMatrixIsPutBack)
{
    const Window w = make_window(2);
    const std::string form = common + ref(CM) + number(w.window) + st(in_ICATTACH_WINDOW, 2) +
                             add(CM, "F1", w.buttons[0], WIDGET_BUTTON, TAB_STANDARD) +
                             add(CM, "F2", w.buttons[1], WIDGET_BUTTON, TAB_STANDARD);
    ASSERT_EQ(form_run(form).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    cm->return_focus = 7;
    cm->event_index = 9;
    const std::string again = number(cm) + st(in_ICSET_CONTENT, 1);
    const Outcome o = form_run(common + again);
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(cm->return_focus, 7);
    EXPECT_EQ(cm->event_index, 9);
    EXPECT_EQ(cm->set_content, 0);
    for (const std::string &l : log_lines(o.err)) EXPECT_FALSE(l.starts_with("B ")) << l;
}

TEST_F(ContentTest, RoutinesMayNeitherCloseTheWindowNorMoveTheFocus)
{
    struct Case {
        std::string body;
        std::string message;
    } cases[] = {
        {attach(CM, "Set_Content", CLOSER, 3) + content(),
         "Not permitted to destroy the window while doing the Set_Content Action Code"},
        {attach(CM, "Pre_Focus", CLOSER, 3) + content(),
         "Not permitted to destroy the window while doing the Pre_Focus Action Code"},
        {attach(CM, "Set_Content", FOCUSER, 3) + content(),
         "Not permitted to change focus from a function attached with the Set_Content Action Code at index 2"},
        {attach(CM, "Pre_Focus", FOCUSER, 3) + content(),
         "Not permitted to change focus from a function attached with the Pre_Focus Action Code at index 3"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> filled;
        EXPECT_EQ(run(c.body, &filled), c.message);
    }
}

TEST_F(ContentTest, ArgumentErrors)
{
    struct Case {
        std::string body;
        std::string message;
    } cases[] = {
        {st(in_ICSET_CONTENT, 0), "Invalid number of parameters to icset_content"},
        {content(num(1) + num(2) + num(3), 3), "Invalid number of parameters to icset_content"},
        {num(0L) + st(in_ICSET_CONTENT, 1), "Must set the Process Control Matrix first"},
        {content(num(5) + num(3), 2), "Start Index 5 must not be greater than End Index 3"},
        {content(str("F9"), 1), "Field name 'F9' not found in the Control Matrix "},
    };
    for (const Case &c : cases) {
        std::vector<std::string> filled;
        const std::string stop = run(c.body, &filled);
        EXPECT_TRUE(stop.starts_with(c.message)) << stop;
    }
}
