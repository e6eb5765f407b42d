// The soft-key bar with the forms engine's own key handlers and routine runs: the fourth button
// runs the Screen_Capture routine of the focused field, or of the window when no field has the
// focus; the Escape, F8 and F12 buttons reach their key handlers (with no key controller to block)
// and the routines attached to those keys, and after an F-key no control matrix keeps its
// softkey_event flag.
#include <algorithm>

#include "ccallback.h"
#include "cmatrix.h"
#include "gmisc.h"
#include "gsoftkeys.h"
#include "routine_fixture.h"

using namespace forms_test;
using namespace routine_test;

namespace {

KeySet_t all_keys{const_cast<char *>("ALL"), 0, 0x1fff, {}, nullptr};

void press_button(GtkWidget *window, int slot, const char *gesture)
{
    GtkWidget *button = GFindSoftkeys(window)->slots[slot].button;
    g_signal_emit_by_name(oska_widget_get_controller(button, gesture), "pressed", 1, 5.0, 5.0);
    forms_rethrow_kept();
}
void press_f4(GtkWidget *window) { press_button(window, 4, "gsoftkey-F4-button"); }

bool has_line(const std::vector<std::string> &lines, const std::string &text)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string &l) { return l.find(text) != std::string::npos; });
}

} // namespace

class SoftkeyRoutineTest : public RoutineTest {
protected:
    void SetUp() override
    {
        RoutineTest::SetUp();
        saved_sets = keysets;
        keysets = &all_keys;
    }
    void TearDown() override
    {
        RoutineTest::TearDown();
        keysets = saved_sets;
    }
    // A window of two button fields with the routines attached and a bar of every key; its CM.
    ControlMatrix_t *form_with_bar(const std::string &attached)
    {
        w = make_window(2);
        EXPECT_EQ(program(ref(CM) + number(w.window) + st(in_ICATTACH_WINDOW, 2) +
                          add(CM, "B1", w.buttons[0], WIDGET_BUTTON, TAB_STANDARD) +
                          add(CM, "B2", w.buttons[1], WIDGET_BUTTON, TAB_STANDARD) + attached)
                      .abort,
                  "");
        ControlMatrix_t *cm = cm_of(CM);
        gsoftkey_box(cm, 1, "ALL", w.box, nullptr);
        return cm;
    }

    Window w;
    KeySet_t *saved_sets = nullptr;
};

TEST_F(SoftkeyRoutineTest, SoftKeyFourRunsTheScreenCaptureRoutine)
{
    ControlMatrix_t *cm = form_with_bar(attach(CM, "Screen_Capture", PLAINFN, 2, false) +
                                        attach(CM, "Screen_Capture", PLAINFN, 0, false));
    set_cell(0, 1);
    struct Case {
        int focus;
        const char *logged;
    } cases[] = {{2, "plain 2"}, {1, "plain 1"}, {0, "plain 0"}};  // field 1 takes the window's routine
    for (const Case &c : cases) {
        cm->current_focus = c.focus;
        std::vector<std::string> lines;
        EXPECT_EQ(logged([&] { press_f4(w.window); }, &lines), "");
        EXPECT_EQ(lines, std::vector<std::string>{c.logged});
        EXPECT_STREQ(cm->event_name, "F4");
        EXPECT_EQ(cm->softkey_event, 0);
    }
}

TEST_F(SoftkeyRoutineTest, EscapeF8AndF12ButtonsRunTheirKeysRoutines)
{
    ControlMatrix_t *cm = form_with_bar(attach(CM, "Escape", PLAINFN, 0, false) + attach(CM, "F8", PLAINFN, 0, false) +
                                        attach(CM, "F12", PLAINFN, 0, false));
    ControlMatrix_t *newer = cset_new(global_data, nullptr, 0);  // its flag is cleared too
    record.log_level_lumbas = 0;                                   // the key handlers' banners
    struct Case {
        int slot;
        const char *gesture;
        int focus;
        std::string banner;                // the key handler's own log line
        std::vector<std::string> logged;   // what the routines logged
        const char *event;
    } cases[] = {
        // The Escape routine answers false: the window stays.
        {0, "gsoftkey-Esc-button", 1, "===   Pressed Escape Key (keypress:1)            ===", {"plain 1"}, "Escape"},
        // The F8 routine of the field answers false: nothing more.
        {8, "gsoftkey-F8-button", 2, "===   Pressed F8 Key; Index =  2                 ===", {"plain 2"}, "F8"},
        // F12 on a field: its Post_Focus (none attached) lets it go on to the F12 routine.
        {12, "gsoftkey-F12-button", 1, "===   Pressed F12 Key; Index =  1                ===", {"plain 1"}, "F12"},
        // F12 without a focused field runs the window's routine on index 0.
        {12, "gsoftkey-F12-button", 0, "===   Pressed F12 Key; Index =  0                ===", {"plain 0"}, "F12"},
    };
    set_cell(0, 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.gesture + std::string(" focus ") + std::to_string(c.focus));
        cm->current_focus = c.focus;
        newer->softkey_event = 1;
        std::vector<std::string> lines, all;
        EXPECT_EQ(logged([&] { press_button(w.window, c.slot, c.gesture); }, &lines, &all), "");
        EXPECT_EQ(lines, c.logged);
        EXPECT_TRUE(has_line(all, c.banner));
        EXPECT_STREQ(cm->event_name, c.event);
        EXPECT_EQ(cm->closing, 0);
        EXPECT_EQ(cm->softkey_event, 0);
        EXPECT_EQ(newer->softkey_event, c.slot == 0 ? 1 : 0) << "an F-key clears every control matrix's flag";
    }
    cmat_free_cm(newer);
    // An Escape routine that answers true closes the window at the end of the event.
    set_cell(0, 1);
    cm->current_focus = 1;
    std::vector<std::string> lines;
    EXPECT_EQ(logged([&] { press_button(w.window, 0, "gsoftkey-Esc-button"); }, &lines), "");
    EXPECT_EQ(lines, std::vector<std::string>{"plain 1"});
    EXPECT_EQ(global_data->first_cm, nullptr) << "the window went, and its CM with it";
}
