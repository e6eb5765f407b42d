// The end of an event and the closing of windows: the posts up the chain, the Exit routine's and
// the posts' rules, ICDELETE_WINDOW, the deferred destroy of a window a routine still runs on,
// the nested end of an event, and ICGET_EVENT_NAME$.
#include "cevents.h"
#include "cnext.h"
#include "dialog_script.h"
#include "keys_fixture.h"

using namespace keys_test;

namespace {

// A child window (CM2, window E2) over the form, whose F1 asks for a Zoom_Post with "picked".
std::string child(int parent_zoom_post)
{
    const bool ip = parent_zoom_post != routine_test::DETACHER;
    return window_of("a", E2) + attach(CM2, E2) + attach(CM2, "F1", routine_test::POSTER, 0) +
           attach(CM, "Zoom_Post", parent_zoom_post, 0, ip);
}

} // namespace

TEST_F(KeysTest, AZoomPostClosesTheChildAndRunsTheParentsRoutine)
{
    struct Case {
        long child_answer;
        int parent_routine;
        bool child_gone, parent_gone;
        std::vector<std::string> logged;
    } cases[] = {
        {1, routine_test::CLEARER, true, true, {"clear 0 [picked]"}},  // the parent answers true: it closes too
        {1, routine_test::DETACHER, true, false, {}},                   // false: it stays
        {0, routine_test::CLEARER, false, false, {}},                   // the child answers false: nothing closes
    };
    for (const Case &c : cases) {
        build(child(c.parent_routine));
        ControlMatrix_t *parent = cm(), *kid = cm_of(CM2);
        ASSERT_EQ(record.last_cm, kid);
        answer(c.child_answer);
        const Pressed p = press_on(kid->window, GDK_KEY_F1);
        EXPECT_EQ(p.abort, "");
        EXPECT_EQ(p.logged, c.logged);
        EXPECT_EQ(cm_chain_position(kid) == 0, c.child_gone);
        EXPECT_EQ(cm_chain_position(parent) == 0, c.parent_gone);
        if (c.child_gone) {
            const std::string stale = ref(X) + num(reinterpret_cast<long>(kid)) + fn(in_ICGET_PROGRAM_MODE, 1) + set(X);
            EXPECT_NE(form(stale).abort.find("Control Matrix"), std::string::npos) << "the handle is checked";
        }
    }
}

TEST_F(KeysTest, ExitRoutineAndPostRules)
{
    const std::string middle = window_of("a", E2) + attach(CM2, E2);
    const std::string third = window_of("a", E) + attach(Z, E);
    struct Case {
        std::string extra;
        Numeric kid;
        long answer;
        std::function<void(ControlMatrix_t *)> request;
        std::string abort;
        bool stays;
    } cases[] = {
        {middle + attach(CM2, "Exit", routine_test::COUNTER, 0), CM2, 1, nullptr,
         "Must create a window in the function attached with the 'Exit' Action Code when returning true", false},
        {middle + attach(CM2, "Exit", routine_test::PLAINFN, 0, false), CM2, 0, nullptr, "", true},
        {middle, CM2, 1, [](ControlMatrix_t *k) { k->win_post_due = k->zoom_post_due = 1; },
         "Not permitted to call more than one of Win_Post, Drill_Post, and Zoom_Post, from within the one function",
         false},
        {middle, CM2, 1, [](ControlMatrix_t *k) { k->win_post_due = 1; },
         "cinvoke_basic_routine: 'basic' function not found for Action Code Win_Post", false},
        {middle + third + attach(CM2, "Zoom_Post", routine_test::CLEARER, 0), Z, 1,
         [](ControlMatrix_t *k) { k->zoom_post_due = 1; }, "", false},
        // An Exit routine that opens a window but closes its own as well, or follows a post request.
        {middle + attach(CM2, "Exit", OPENER, 0), CM2, 1, nullptr,
         "Not permitted to destroy a window, run Win_Post, Drill_Post, or Zoom_Post from an the 'Exit' Action Code",
         false},
        {middle + attach(CM2, "Exit", OPENER, 0), CM2, 1, [](ControlMatrix_t *k) { k->win_post_due = 1; },
         "Not permitted to call Win_Post, Drill_Post, or Zoom_Post, when function is attached with the 'Exit' Action "
         "Code",
         false},
        // The parent's Zoom_Post asks for a Win_Post of its own (and clears its form) and answers
        // true.
        {middle + third + attach(CM2, "Zoom_Post", routine_test::OUTER, 0), Z, 1,
         [](ControlMatrix_t *k) { k->zoom_post_due = k->prior->focus_initialised = 1; },
         "Not permitted to run icinvoke_win_post from a Zoom_Post.", false},
        // The same from the parent's Win_Post is no post of another kind: the parent closes in turn.
        {middle + third + attach(CM2, "Win_Post", routine_test::OUTER, 0), Z, 1,
         [](ControlMatrix_t *k) { k->win_post_due = k->prior->focus_initialised = 1; },
         "cinvoke_basic_routine: 'basic' function not found for Action Code Win_Post", false},
    };
    for (const Case &c : cases) {
        build(c.extra);
        lumba_test::DialogScript script({0});  // the opener's question
        ControlMatrix_t *kid = cm_of(c.kid);
        answer(c.answer);
        kid->closing = 1;
        if (c.request) c.request(kid);
        const Pressed p = capture([&] {
            cdeletewin(kid, &record);
            ccallbacks_finish_event(1, 1);
        });
        EXPECT_EQ(p.abort.substr(0, c.abort.size()), c.abort) << c.extra;
        if (c.abort.empty()) {
            EXPECT_EQ(cm_chain_position(kid) != 0, c.stays);
        }
    }
}

TEST_F(KeysTest, DeleteWindowAllowsOneOpenChild)
{
    build();
    const std::string one = window_of("a", E2) + attach(CM2, E2);
    const std::string two = one + window_of("a", E) + attach(Z, E);
    const std::string del = val(CM) + st(in_ICDELETE_WINDOW, 1);
    struct Case {
        std::string body, abort;
    } cases[] = {
        {window_form() + one + del, ""},
        {window_form() + two + del,
         "Attempting to use icdelete_window to delete a parent window when it has undeleted children. Child windows "
         "must be deleted along with deleting the parent."},
        {window_form() + val(CM) + val(CM) + st(in_ICDELETE_WINDOW, 2), "Invalid number of parameters to icdelete_window"},
        {num(0L) + st(in_ICDELETE_WINDOW, 1), "Must set the Process Control Matrix first"},
    };
    for (const Case &c : cases) {
        cmat_free_all();
        EXPECT_EQ(form(c.body).abort, c.abort);
    }
    cmat_free_all();
    ASSERT_EQ(form(window_form() + one + del).abort, "");
    ControlMatrix_t *parent = cm();
    EXPECT_EQ(parent->closing, 1);
    ccallbacks_finish_event(1, 1);
    EXPECT_EQ(cm_chain_position(parent), 0) << "closed at the end of the event";
}

TEST_F(KeysTest, AWindowARoutineRunsOnIsDestroyedByTheOutermostEnd)
{
    build();
    ControlMatrix_t *form_cm = cm();
    form_cm->closing = 1;
    cinvoke_record_ac(form_cm, AC_F1);  // a routine runs on it (and, say, iterates the main loop)
    ccallbacks_finish_event(1, 1);
    EXPECT_NE(cm_chain_position(form_cm), 0) << "kept while the routine runs";
    EXPECT_EQ(form_cm->closing, 1) << "still marked";
    cinvoke_pop_ac(form_cm);
    // An end of event inside the end of an event does nothing.
    record.finishing_event = 1;
    ccallbacks_finish_event(1, 1);
    EXPECT_NE(cm_chain_position(form_cm), 0);
    record.finishing_event = 0;
    ccallbacks_finish_event(1, 1);
    EXPECT_EQ(cm_chain_position(form_cm), 0) << "the outermost end destroys it";
}

TEST_F(KeysTest, AWindowItsOwnRoutineClosesAndReplacesOutlivesAnEventEndedMeanwhile)
{
    // F1's routine marks its window closing, opens another and waits in a dialog; meanwhile a key
    // on the new window ends an event, which must leave the routine's window alone.
    build(attach(CM, "F1", OPENER, 0));
    ControlMatrix_t *form_cm = cm();
    lumba_test::DialogScript script({0});
    bool kept = false;
    ControlMatrix_t *opened = nullptr;
    script.on_shown = [&](const DialogRequest &) {
        opened = record.last_cm;
        ASSERT_NE(opened, form_cm);
        dispatch(opened->window, GDK_KEY_F4);
        kept = cm_chain_position(form_cm) != 0 && form_cm->closing == 1;
    };
    const Pressed p = press(KEY, GDK_KEY_F1);
    EXPECT_EQ(p.abort, "");
    ASSERT_EQ(script.asked().size(), 1u);
    EXPECT_TRUE(kept) << "the window stayed, marked, while its routine ran";
    EXPECT_EQ(p.logged, std::vector<std::string>{"opened"});
    EXPECT_EQ(cm_chain_position(form_cm), 0) << "the end of the key's own event destroyed it";
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(record.first_cm, opened);
    EXPECT_EQ(record.last_cm, opened);
    EXPECT_TRUE(GTK_IS_WINDOW(opened->window));
}

TEST_F(KeysTest, AnEventEndedInsideTheEndOfAnEventDoesNothing)
{
    // The menu's refresh routine (run by the end of an event whose child window closes) waits in a
    // dialog; a key meanwhile ends its own event, which must not destroy the child nor run the
    // refresh again.
    build(window_of("a", E2) + attach(CM2, E2) + attach(CM, "Menu_Refresh", ASKER, 0));
    ControlMatrix_t *first = cm(), *kid = cm_of(CM2);
    first->menu_refresh_due = 1;
    kid->closing = 1;
    lumba_test::DialogScript script({0});
    bool nothing = false;
    script.on_shown = [&](const DialogRequest &) {
        dispatch(first->window, GDK_KEY_F4);
        nothing = cm_chain_position(kid) != 0 && record.finishing_event == 1;
    };
    const Pressed p = capture([&] { ccallbacks_finish_event(1, 1); });
    EXPECT_EQ(p.abort, "");
    EXPECT_TRUE(nothing);
    EXPECT_EQ(script.asked().size(), 1u) << "one refresh";
    EXPECT_EQ(p.logged, std::vector<std::string>{"asked"});
    EXPECT_EQ(first->menu_refresh_due, 0);
    EXPECT_EQ(cm_chain_position(kid), 0) << "the outer end destroyed it";
    EXPECT_EQ(record.finishing_event, 0);
}

TEST_F(KeysTest, EventNameIntrinsic)
{
    build();
    press(KEY, GDK_KEY_F4);
    ASSERT_STREQ(cm()->event_name, "F4");
    const std::string handle = num(reinterpret_cast<long>(cm()));
    ASSERT_EQ(form(handle + sfn(in_ICGET_EVENT_NAME, 1) + sset(TS)).abort, "");
    EXPECT_EQ(text(TS, 2), "F4");
    EXPECT_EQ(form(sfn(in_ICGET_EVENT_NAME, 0) + sset(TS)).abort, "Invalid number of parameters");
    EXPECT_EQ(form(num(0L) + sfn(in_ICGET_EVENT_NAME, 1) + sset(TS)).abort, "Must have a valid Process Control Matrix");
}
