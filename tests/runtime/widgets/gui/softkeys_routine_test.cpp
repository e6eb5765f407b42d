// The soft-key bar's fourth button with the forms engine's own routine runs: it runs the
// Screen_Capture routine of the focused field, or of the window when no field has the focus.
#include "cmatrix.h"
#include "gmisc.h"
#include "gsoftkeys.h"
#include "routine_fixture.h"

using namespace forms_test;
using namespace routine_test;

namespace {

KeySet_t all_keys{const_cast<char *>("ALL"), 0, 0x1fff, {}, nullptr};

void press_f4(GtkWidget *window)
{
    GtkWidget *f4 = GFindSoftkeys(window)->slots[4].button;
    g_signal_emit_by_name(oska_widget_get_controller(f4, "gsoftkey-F4-button"), "pressed", 1, 5.0, 5.0);
    forms_rethrow_kept();
}

} // namespace

TEST_F(RoutineTest, SoftKeyFourRunsTheScreenCaptureRoutine)
{
    KeySet_t *saved = keysets;
    keysets = &all_keys;
    const Window w = make_window(2);
    ASSERT_EQ(program(ref(CM) + number(w.window) + st(in_ICATTACH_WINDOW, 2) +
                      add(CM, "B1", w.buttons[0], WIDGET_BUTTON, TAB_STANDARD) +
                      add(CM, "B2", w.buttons[1], WIDGET_BUTTON, TAB_STANDARD) +
                      attach(CM, "Screen_Capture", PLAINFN, 2, false) + attach(CM, "Screen_Capture", PLAINFN, 0, false))
                  .abort,
              "");
    ControlMatrix_t *cm = cm_of(CM);
    gsoftkey_box(cm, 0, "ALL", w.box, nullptr);
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
    keysets = saved;
}
