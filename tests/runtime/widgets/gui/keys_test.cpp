// Keys and Enter: the dispatcher's table of keys, Tab and Back-Tab, the function keys, Escape,
// F8, Ctrl-z, Alt-m, Edit_Content, Enter with the AnyChange jump and Revert, and the guards.
#include "cclick.h"
#include "center.h"
#include "dialog_script.h"
#include "gcheckbox.h"
#include "gmisc.h"
#include "gsoftkeys.h"
#include "softkeys.h"
#include "gui_env.h"
#include "snapshot.h"
#include "xdotool.h"

#include <algorithm>
#include <cstring>
#include "keys_fixture.h"

using namespace keys_test;

// ---- Dispatch ------------------------------------------------------------------------------------------

TEST_F(KeysTest, KeysGoToTheirHandlersWithTheirEventNames)
{
    struct Case {
        int field;
        guint key;
        unsigned state;
        const char *event;
        std::vector<std::string> logged;
        int focus_after;
        gboolean taken;
    } cases[] = {
        {KEY, GDK_KEY_Tab, 0, "Tab", {"probe 1 -1 [k]", "pre 2"}, PLAIN, TRUE},
        {KEY, GDK_KEY_Tab, NUM_LOCK, "Tab", {"probe 1 -1 [k]", "pre 2"}, PLAIN, TRUE},
        {KEY, GDK_KEY_F1, 0, "F1", {"plain 1"}, KEY, TRUE},
        {KEY, GDK_KEY_F3, 0, "F3", {"plain 1"}, KEY, TRUE},
        {KEY, GDK_KEY_F4, 0, "F4", {}, KEY, TRUE},
        {KEY, GDK_KEY_F9, 0, "F9", {}, KEY, TRUE},
        {KEY, GDK_KEY_z, GDK_CONTROL_MASK, "Ctrl-z", {"pre 1"}, KEY, TRUE},
        {LABEL, GDK_KEY_z, GDK_CONTROL_MASK, "Ctrl-z", {}, KEY, FALSE},
        {BUTTON, GDK_KEY_Up, 0, "", {}, KEY, TRUE},
        {BUTTON, GDK_KEY_Down, 0, "", {}, KEY, TRUE},
        {BUTTON, GDK_KEY_a, 0, "", {}, KEY, FALSE},
    };
    for (const Case &c : cases) {
        build(attach(CM, "F1", routine_test::PLAINFN, 0, false) + attach(CM, "F3", routine_test::PLAINFN, 0, false));
        cm()->event_name[0] = '\0';
        const Pressed p = press(c.field, c.key, c.state);
        const std::string what = std::string("field ") + std::to_string(c.field) + " key " + gdk_keyval_name(c.key);
        EXPECT_EQ(p.abort, "") << what;
        EXPECT_STREQ(cm()->event_name, c.event) << what;
        EXPECT_EQ(p.logged, c.logged) << what;
        EXPECT_EQ(cm()->current_focus, c.focus_after) << what;
        EXPECT_EQ(p.taken, c.taken) << what;
        EXPECT_EQ(record.finishing_event, 0) << what;
        EXPECT_EQ(Rname, nullptr) << what << ": the routine name is put back";
    }
}

TEST_F(KeysTest, TwoF3PressesBothRunAndAShiftedTabGoesBack)
{
    build(attach(CM, "F3", routine_test::PLAINFN, 0, false));
    EXPECT_EQ(press(KEY, GDK_KEY_F3).logged, std::vector<std::string>{"plain 1"});
    EXPECT_EQ(press(KEY, GDK_KEY_F3).logged, std::vector<std::string>{"plain 1"});
    focus(DATE);
    const Pressed back = press(DATE, GDK_KEY_ISO_Left_Tab);
    EXPECT_STREQ(cm()->event_name, "Back Tab");
    EXPECT_EQ(back.logged, (std::vector<std::string>{"probe 3 -1 []", "pre 2"}));
    EXPECT_EQ(cm()->current_focus, PLAIN);
}

TEST_F(KeysTest, CtrlZRerunsTheF8RoutineWhereThereIsOne)
{
    // Without an F8 routine Ctrl-z reruns Pre_Focus (the dispatch table above); with one, F8's.
    build(attach(CM, "F8", routine_test::PLAINFN, 0, false));
    for (int field : {KEY, DATE, BOX}) {
        focus(field);
        const Pressed p = press(field, GDK_KEY_z, GDK_CONTROL_MASK);
        EXPECT_EQ(p.abort, "") << field;
        EXPECT_TRUE(p.taken) << field;
        EXPECT_STREQ(cm()->event_name, "Ctrl-z");
        EXPECT_EQ(p.logged, std::vector<std::string>{"plain " + std::to_string(field)}) << field;
        EXPECT_EQ(cm()->current_focus, field);
    }
    // Without Control it is a typed letter: Edit_Content's business, no F8.
    EXPECT_TRUE(press(KEY, GDK_KEY_z).logged.empty());
}

TEST_F(KeysTest, ATableFieldRefusesKeysAndAltMNeedsTheMetaBit)
{
    build();
    cset_cm_put_int(cm(), CM_TYPE, BUTTON, WIDGET_TABLE);
    EXPECT_EQ(press(BUTTON, GDK_KEY_a).abort, "Widget Type 'Table' not permitted to respond to keystrokes at index 6");
    cset_cm_put_int(cm(), CM_TYPE, BUTTON, WIDGET_BUTTON);

    const Pressed alt = press(KEY, GDK_KEY_m, GDK_ALT_MASK);
    EXPECT_FALSE(alt.taken) << "Alt (0x8) alone is not the Meta bit";
    EXPECT_STRNE(cm()->event_name, "Alt-m");
    const Pressed meta = press(KEY, GDK_KEY_m, 0x10000000);
    EXPECT_EQ(meta.abort, "");
    EXPECT_TRUE(meta.taken) << "the edit menu opened";
    EXPECT_STREQ(cm()->event_name, "Alt-m");
}

// ---- Edit_Content ---------------------------------------------------------------------------------

TEST_F(KeysTest, EditContentRunsOncePerVisitAndAgainAfterAFalseAnswer)
{
    build(attach(CM, "Edit_Content", routine_test::PLAINFN, 0, false));
    struct Case {
        guint key;
        unsigned state;
        long answer;
        bool runs;
    } cases[] = {
        {GDK_KEY_a, NUM_LOCK, 1, true},            // the first editing key, Num Lock on
        {GDK_KEY_b, 0, 1, false},                  // once per visit
        {GDK_KEY_Tab, 0, 1, false},                // leaving the field starts a new visit
        {GDK_KEY_KP_5, NUM_LOCK, 0, true},         // a keypad digit; false: a warning, and ...
        {GDK_KEY_c, GDK_SHIFT_MASK, 1, true},      // ... the next key asks again
        {GDK_KEY_Tab, 0, 1, false},
        {GDK_KEY_a, GDK_CONTROL_MASK, 1, false},   // Control-a is no edit
        {GDK_KEY_v, GDK_CONTROL_MASK, 1, true},    // Control-v is
    };
    int field = KEY;
    for (const Case &c : cases) {
        answer(c.answer);
        const Pressed p = press(field, c.key, c.state);
        const std::string what = gdk_keyval_name(c.key);
        EXPECT_EQ(p.abort, "") << what;
        if (c.key == GDK_KEY_Tab) {
            field = cm()->current_focus;
            continue;
        }
        EXPECT_EQ(p.logged, c.runs ? std::vector<std::string>{"plain " + std::to_string(field)}
                                   : std::vector<std::string>{})
            << what;
    }
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("The lumbas code for false return from function attached to the Edit_Content", 0), 0u)
        << messages[0];
}

// ---- Enter ----------------------------------------------------------------------------------------------

TEST_F(KeysTest, EnterMovesOnATrueAnswerAndKeepsTheFieldOnAFalseOne)
{
    build();
    set_text(KEY, "abc");
    answer(0);
    Pressed p = press(KEY, GDK_KEY_Return);
    EXPECT_EQ(p.abort, "");
    EXPECT_STREQ(cm()->event_name, "Enter");
    EXPECT_EQ(p.logged, std::vector<std::string>{"probe 1 -1 [abc]"});
    EXPECT_EQ(cm()->current_focus, KEY);
    int start = -1, end = -1;
    EXPECT_TRUE(gtk_editable_get_selection_bounds(GTK_EDITABLE(widget_of(KEY)), &start, &end));
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 3) << "the whole text selected";

    answer(1);
    p = press(KEY, GDK_KEY_KP_Enter);
    EXPECT_EQ(p.logged, (std::vector<std::string>{"probe 1 -1 [abc]", "pre 2"}));
    EXPECT_EQ(cm()->current_focus, PLAIN);
    EXPECT_EQ(record.enter_running, 0);
    EXPECT_EQ(record.activate_lock + record.escape_lock + record.f8_lock, 0) << "every guard released";

    // Without a Post_Focus or Activate routine an input field cannot take Enter.
    build("", false);
    EXPECT_EQ(press(KEY, GDK_KEY_Return).abort.rfind("cinvoke_basic_routine: 'basic' function not found for Action "
                                                     "Code Post_Focus; Index 1",
                                                     0),
              0u);
    EXPECT_EQ(record.enter_running + record.activate_lock + record.escape_lock + record.f8_lock, 0)
        << "released on the way out of a stop too";
    // An external program running for the program: Enter goes on to GTK untouched.
    build();
    record.external_running = 1;
    p = press(KEY, GDK_KEY_Return);
    EXPECT_TRUE(p.logged.empty());
    record.external_running = 0;
}

TEST_F(KeysTest, APromptNumberOnTheAnyChangeFieldJumps)
{
    struct Case {
        const char *typed;
        int enabled_plain, tab_box;
        std::vector<std::string> logged;
        std::vector<std::string> messages;
        int focus_after;
    } cases[] = {
        {"  3", 1, TAB_STANDARD, {"probe 7 -1 [  3]", "pre 3"}, {}, DATE},
        {"0", 1, TAB_STANDARD, {}, {"Prompt number out of range"}, ANY},
        {"9", 1, TAB_STANDARD, {}, {"Prompt number out of range"}, ANY},
        {"2", 0, TAB_STANDARD, {}, {"This field is not available to be changed."}, ANY},
        {"4", 1, TAB_NO_FOCUS, {}, {}, ANY},
    };
    for (const Case &c : cases) {
        build();
        cset_cm_put_int(cm(), CM_ENABLED, PLAIN, c.enabled_plain);
        cset_cm_put_int(cm(), CM_TAB_SEQ, BOX, c.tab_box);
        focus(ANY);
        cm()->anychange = 1;
        set_text(ANY, c.typed);
        messages.clear();
        const Pressed p = press(ANY, GDK_KEY_Return);
        EXPECT_EQ(p.abort, "") << c.typed;
        EXPECT_EQ(p.logged, c.logged) << c.typed;
        EXPECT_EQ(messages, c.messages) << c.typed;
        EXPECT_EQ(cm()->current_focus, c.focus_after) << c.typed;
    }
}

TEST_F(KeysTest, MovingBackOntoTheKeyFieldInChangeModeAsks)
{
    build();
    focus(PLAIN);
    cm()->program_mode = CM_MODE_CHANGE;
    lumba_test::DialogScript script({1});  // "_No"
    const Pressed p = press(PLAIN, GDK_KEY_ISO_Left_Tab);
    EXPECT_EQ(p.abort, "");
    ASSERT_EQ(script.asked().size(), 1u);
    EXPECT_EQ(script.asked()[0].text, "Do you want to discard your changes?");
    EXPECT_EQ(script.asked()[0].buttons, (std::vector<std::string>{"_Yes", "_No"}));
    EXPECT_EQ(p.logged, (std::vector<std::string>{"probe 2 -1 []", "pre 2"})) << "its Pre_Focus runs again";
    EXPECT_EQ(cm()->current_focus, PLAIN);
    EXPECT_EQ(cm()->program_mode, CM_MODE_CHANGE);
}

// ---- Guards -------------------------------------------------------------------------------------------

TEST_F(KeysTest, KeysArrivingWhileEnterWaitsInADialogAreDropped)
{
    build(attach(CM, "Escape", routine_test::PROBE, 0));
    record.log_level_lumbas = 0;
    focus(ANY);
    cm()->program_mode = CM_MODE_CHANGE;
    set_text(ANY, "1");
    cm()->anychange = 0;
    // The jump to the key field asks the discard question (AnyChange is off by then); while it is
    // up a second Enter and an Escape come in.
    lumba_test::DialogScript script({1});
    int again = -1, escape = -1;
    script.on_shown = [&](const DialogRequest &) {
        again = on_key_press_enter(widget_of(ANY), nullptr, GDK_KEY_Return, &record, 0);
        escape = on_key_press_escape(widget_of(ANY), nullptr, &record, 0);
    };
    cm()->anychange = 1;
    const Pressed p = press(ANY, GDK_KEY_Return);
    EXPECT_EQ(p.abort, "");
    ASSERT_EQ(script.asked().size(), 1u);
    EXPECT_EQ(again, 1) << "dropped";
    EXPECT_EQ(escape, 1) << "dropped";
    EXPECT_EQ(calls(p), 2) << "the AnyChange field's Post_Focus and its Pre_Focus again, nothing for the others";
    // The guards are free again: Escape and F8 work.
    answer(0);
    EXPECT_EQ(press(ANY, GDK_KEY_Escape).logged, std::vector<std::string>{"probe 7 -1 []"});
    // The form still holds the kept change, so F8 would ask again: answer it to leave.
    lumba_test::DialogScript leave({0});
    EXPECT_EQ(press(PLAIN, GDK_KEY_F8).logged.front(), "pre 2");
}

// ---- Escape and F8 -----------------------------------------------------------------------------------

TEST_F(KeysTest, EscapeOnAModifiedFormInChangeModeAsksAndNoStays)
{
    build();
    cm()->modified = 1;
    cm()->program_mode = CM_MODE_CHANGE;
    lumba_test::DialogScript script({1});
    const Pressed p = press(KEY, GDK_KEY_Escape);
    EXPECT_EQ(p.abort, "");
    EXPECT_EQ(script.asked().size(), 1u);
    EXPECT_TRUE(p.logged.empty()) << "no Escape routine";
    EXPECT_EQ(cm()->closing, 0);
    EXPECT_EQ(record.last_cm, cm());
    EXPECT_EQ(cm()->current_focus, KEY);
}

TEST_F(KeysTest, F8OnTheFirstFieldLeavesTheModeAndRunsTheEscapeRoutine)
{
    build(attach(CM, "Escape", routine_test::PLAINFN, 0, false));
    cm()->program_mode = CM_MODE_ADD;
    cm()->modified = 1;
    answer(0);  // Pre_Focus answers 1 anyway; the Escape routine keeps the window
    const Pressed p = press(KEY, GDK_KEY_F8);
    EXPECT_EQ(p.abort, "");
    EXPECT_STREQ(cm()->event_name, "F8");
    // Back-Tab from the first field wraps to the AnyChange field, which gets the focus.
    EXPECT_EQ(p.logged, (std::vector<std::string>{"pre 1", "plain 1", "pre 7"}));
    EXPECT_EQ(cm()->current_focus, ANY);
    EXPECT_EQ(cm()->program_mode, CM_MODE_NULL);
    EXPECT_EQ(cm()->modified, 0);
    EXPECT_EQ(record.last_cm, cm());
    // Answering true, the window goes at the end of the event.
    answer(1);
    ControlMatrix_t *gone = cm();
    EXPECT_EQ(press(KEY, GDK_KEY_F8).abort, "");
    EXPECT_EQ(cm_chain_position(gone), 0);
}

// Tab, Back-Tab, the function keys and Ctrl-z hold Enter's guard while their routines run: a click,
// Enter, another Tab or a soft key that comes while a routine waits in a dialog is dropped, so no
// routine runs inside it.
TEST_F(KeysTest, KeysArrivingWhileATabRoutineWaitsInADialogAreDropped)
{
    struct Case {
        const char *what;
        int field;         // where the key is pressed
        const char *code;  // the action code of its routine there
        guint key;
        unsigned state;
        std::vector<std::string> logged;
    } cases[] = {
        {"Tab", KEY, "Post_Focus", GDK_KEY_Tab, 0, {"asked", "pre 2"}},
        {"Back-Tab", DATE, "Post_Focus", GDK_KEY_ISO_Left_Tab, 0, {"asked", "pre 2"}},
        {"F2", KEY, "F2", GDK_KEY_F2, 0, {"asked"}},
        {"F12", KEY, "F12", GDK_KEY_F12, 0, {"probe 1 -1 [k]", "asked", "pre 1"}},
        {"Ctrl-z", KEY, "F8", GDK_KEY_z, GDK_CONTROL_MASK, {"asked"}},
    };
    // A bar of every soft key on the form; its F1 button runs the field's F1 routine.
    KeySet_t all_keys{const_cast<char *>("ALL"), 0, 0x1fff, {}, nullptr};
    KeySet_t *saved = keysets;
    keysets = &all_keys;
    for (const Case &c : cases) {
        build(attach(CM, c.code, ASKER, c.field) + attach(CM, "F1", routine_test::PLAINFN, c.field, false));
        record.log_level_lumbas = 0;
        gsoftkey_box(cm(), 1, "ALL", handle_widget(static_cast<std::uintptr_t>(handle(Y))), nullptr);
        focus(c.field);
        lumba_test::DialogScript script({0});
        gboolean clicked = FALSE, tab = FALSE;
        int enter = -1;
        script.on_shown = [&](const DialogRequest &) {
            clicked = cclick_button_press(widget_of(PLAIN), 1, 1, 0, 0, &record);
            enter = on_key_press_enter(widget_of(c.field), nullptr, GDK_KEY_Return, &record, 0);
            tab = dispatch(widget_of(c.field), GDK_KEY_Tab);
            GtkWidget *f1 = GFindSoftkeys(cm()->window)->slots[1].button;
            g_signal_emit_by_name(oska_widget_get_controller(f1, "gsoftkey-F1-button"), "pressed", 1, 5.0, 5.0);
        };
        const Pressed p = press(c.field, c.key, c.state);
        EXPECT_EQ(p.abort, "") << c.what;
        EXPECT_EQ(script.asked().size(), 1u) << c.what;
        EXPECT_TRUE(clicked) << c.what << ": the click dropped and claimed";
        EXPECT_EQ(enter, 1) << c.what << ": Enter dropped";
        EXPECT_TRUE(tab) << c.what << ": Tab dropped";
        EXPECT_EQ(p.logged, c.logged) << c.what;
        EXPECT_EQ(record.activate_lock + record.escape_lock + record.f8_lock, 0) << c.what << ": the guards are free";
    }
    keysets = saved;
}

// A check box's Change_Content routine gets the new state as IP and no text as IP$ (not what an
// earlier routine's IP$ held).
TEST_F(KeysTest, ACheckBoxChangeGetsItsStateAndAnEmptyText)
{
    // The field reached by Tab runs a Pre_Focus routine without IP and IP$: the last text IP$ got
    // is the key field's.
    build(attach(CM, "Change_Content", routine_test::PROBE, BOX) + attach(CM, "Pre_Focus", routine_test::PLAINFN, PLAIN, false));
    focus(KEY);
    ASSERT_EQ(press(KEY, GDK_KEY_Tab).logged, (std::vector<std::string>{"probe 1 -1 [k]", "plain 2"}));
    auto *box = static_cast<checkbox_data *>(entry_record(BOX));
    for (int state : {1, 0}) {
        const Pressed p = capture([&] { gtk_check_button_set_active(GTK_CHECK_BUTTON(box->check), state); });
        EXPECT_EQ(p.abort, "");
        EXPECT_EQ(p.logged, std::vector<std::string>{"probe 4 " + std::to_string(state) + " []"});
    }
}

namespace {

// The display's double-click time made long for a while: two clicks on one spot within the
// test's life are one double click, however slow the machine, unless something starts the count
// again.
class LongDoubleClick {
public:
    LongDoubleClick()
    {
        g_object_get(gtk_settings_get_default(), "gtk-double-click-time", &saved_, nullptr);
        set(lumba_test::scaled_ms(lumba_test::WAIT_MS));
    }
    ~LongDoubleClick() { set(saved_); }

private:
    static void set(int ms) { g_object_set(gtk_settings_get_default(), "gtk-double-click-time", ms, nullptr); }
    int saved_ = 0;
};

// Keeps the main loop busy at the priority of events, as events and frames keep a loaded machine's
// loop, from the end of a window until stop(): work queued at idle priority waits meanwhile.
class BusyLoop {
public:
    ~BusyLoop() { stop(); }
    void from_end_of(GtkWindow *window) { g_object_weak_ref(G_OBJECT(window), ended, this); }
    bool busy() const { return source_ != 0; }
    void stop()
    {
        if (source_) g_source_remove(source_);
        source_ = 0;
    }

private:
    static void ended(gpointer self, GObject *)
    {
        static_cast<BusyLoop *>(self)->source_ = g_idle_add_full(G_PRIORITY_DEFAULT, busy, nullptr, nullptr);
    }
    static gboolean busy(gpointer) { return G_SOURCE_CONTINUE; }
    guint source_ = 0;
};

} // namespace

// A user's click whose routine asks in a dialog, then a click on the same field: the second is a
// click of its own (one press), not the second press of a double click, since the dialog took the
// first click's release. The second click comes within the double-click time, and while the
// main loop is busy from the dialog's end until it is handled.
TEST_F(KeysTest, AClickAfterADialogIsASingleClick)
{
    build(attach(CM, "Post_Focus", ASKER, KEY));
    record.log_level_lumbas = 3;
    cm()->focus_initialised = 1;
    gtk_window_present(GTK_WINDOW(cm()->window));
    ASSERT_TRUE(lumba_test::wait_drawn(widget_of(PLAIN)));
    int x = 0, y = 0;
    lumba_test::widget_centre(widget_of(PLAIN), &x, &y);
    const LongDoubleClick long_double_click;
    lumba_test::DialogScript script({0});
    BusyLoop loop;
    script.on_shown = [&](const DialogRequest &r) { loop.from_end_of(r.dialog); };
    const lumba_test::Xdotool user(lumba_test::gui_display());
    const Pressed p = capture([&] {
        const std::string id = lumba_test::x_window_id(cm()->window);
        user.click(id, x, y);
        ASSERT_TRUE(lumba_test::wait_until([&] { return cm()->current_focus == PLAIN && loop.busy(); }));
        user.run({"click", "1"});  // the pointer is still there
        user.key({"F4"});
        ASSERT_TRUE(lumba_test::wait_until([&] { return std::string(cm()->event_name) == "F4"; }));
        loop.stop();
        user.run({"mousemove", "--sync", "0", "0"});
    });
    EXPECT_EQ(p.abort, "");
    EXPECT_EQ(script.asked().size(), 1u);
    const auto presses = [&](const char *text) {
        return std::count_if(p.lines.begin(), p.lines.end(),
                             [&](const std::string &l) { return l.find(text) != std::string::npos; });
    };
    EXPECT_EQ(presses("A Mouse Click - button1; n_press1"), 2) << testing::PrintToString(p.lines);
    EXPECT_EQ(presses("n_press2"), 0);
    EXPECT_EQ(presses("A dialog closed: the click count starts again"), 1);
}

// ---- Keys on a focused button ---------------------------------------------------------------------------

// A user at the keyboard (xdotool) on a button of the form (IGBUTTON_NEW, field SAVE): the forms
// engine has its keys as any field's. Escape runs the window's Escape road, Tab moves on in the
// engine's order (not into whatever GTK finds next), and Return or Space take the button's Enter
// road, named by the key, also when GTK gave the button the keyboard while the engine's focus is
// on another field (the click's road then: the field being left is checked first).
TEST_F(KeysTest, KeysOnAFocusedButtonAreTheEnginesAndNameTheirEvent)
{
    constexpr int SAVE = FIELDS + 1;
    // Post_Focus (probe) on every field; the button's Activate routine probes too.
    build(add_field(str("Save") + fn(in_IGBUTTON_NEW, 1) + set(D), WIDGET_BUTTON, TAB_STANDARD, "SV") +
          attach(CM, "Escape", routine_test::PLAINFN, 0, false) + attach(CM, "Activate", routine_test::PROBE, SAVE));
    GtkWidget *save = widget_of(SAVE);
    ASSERT_TRUE(GTK_IS_BUTTON(save));
    cm()->focus_initialised = 1;
    gtk_window_present(GTK_WINDOW(cm()->window));
    ASSERT_TRUE(lumba_test::wait_drawn(save));
    const lumba_test::Xdotool user(lumba_test::gui_display());
    user.focus(lumba_test::x_window_id(cm()->window));
    struct Case {
        const char *key;
        int engine_focus;  // the engine's field when the key comes (the button has the keyboard)
        const char *event;
        std::vector<std::string> logged;
        int focus_after;
    } cases[] = {
        // The AnyChange field follows the last field.
        {"Tab", SAVE, "Tab", {"probe 8 -1 []", "pre 7"}, ANY},
        {"Return", SAVE, "Enter", {"probe 8 -1 []", "pre 7"}, ANY},
        {"space", SAVE, "Enter", {"probe 8 -1 []", "pre 7"}, ANY},
        // The field being left runs its Post_Focus first, then the button its Activate routine.
        {"Return", PLAIN, "Enter", {"probe 2 -1 []", "probe 8 -1 []", "pre 7"}, ANY},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.key) + " with the engine on field " + std::to_string(c.engine_focus));
        focus(c.engine_focus);
        gtk_widget_grab_focus(save);
        ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(save); }));
        std::strcpy(cm()->event_name, "none");
        const Pressed p = capture([&] {
            user.key({c.key});
            ASSERT_TRUE(lumba_test::wait_until([&] { return std::string(cm()->event_name) != "none"; }));
            lumba_test::drain();
        });
        EXPECT_EQ(p.abort, "");
        EXPECT_STREQ(cm()->event_name, c.event);
        EXPECT_EQ(p.logged, c.logged);
        EXPECT_EQ(cm()->current_focus, c.focus_after);
        EXPECT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(widget_of(c.focus_after)); }))
            << "the keyboard follows the engine";
    }
    // Escape runs the window's Escape routine, which lets the window close.
    focus(SAVE);
    gtk_widget_grab_focus(save);
    ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(save); }));
    GtkWidget *window = cm()->window;
    g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer *>(&window));
    const Pressed p = capture([&] {
        user.key({"Escape"});
        ASSERT_TRUE(lumba_test::wait_until([&] { return window == nullptr; }));
    });
    EXPECT_EQ(p.abort, "");
    EXPECT_EQ(p.logged, std::vector<std::string>{"plain 8"});
}
