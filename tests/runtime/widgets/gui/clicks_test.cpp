// Mouse clicks on the fields of a form, driven through the click function with a mouse button and
// a press count as the click gesture calls it: the click rule, the click on the Back-Tab target,
// double clicks, a button field's Activate routine, the focused field's own clicks (the edit
// menu), the guards and the program errors.
#include "cclick.h"
#include "dialog_script.h"
#include "gbutton.h"
#include "gui_env.h"
#include "snapshot.h"
#include "xdotool.h"
#include "keys_fixture.h"

using namespace keys_test;

namespace {

// deleter (cm, ind, IP, IP$), numbered on from the fixture's routines: logs "deleter" and
// deletes the window (ICDELETE_WINDOW); answers 1.
constexpr int DELETER = routine_test::FOCUSER + 1;
const std::string with_deleter = routine_test::routines + ".nfunc r:deleter I:0 I:0 I:0 I:0 I:0 I:4\n" + num(0L) +
                                 str("deleter") + st(in_IMLOG, 2) + "loadrvi I:0 I:0 I:1 I:0 I:0 I:0\n" +
                                 st(in_ICDELETE_WINDOW, 1) + num(1) + "exitv\n" +
                                 "symtab\n__ROUTINE__ deleter 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\n"
                                 "IP 0 0 0x8012 0 3 -\nIP$ 40 0 0x8014 0 4 -\n__END_ROUTINE__\n.end\n";

const char REFUSED[] = "This field is not available to be changed.\t\t\t\t\t\t\tMouse control currently disabled";

} // namespace

class ClicksTest : public KeysTest {
protected:
    // The form of the key tests, focused as after the program's ICSET_FOCUS.
    void build(const std::string &extra = "")
    {
        KeysTest::build(extra, true, with_deleter);
        cm()->focus_initialised = 1;
    }
    // A click of button (1 left, 3 right) with presses presses on field index's widget; taken is
    // whether the click's event sequence was claimed.
    Pressed click(int index, guint button = 1, int presses = 1) { return click_on(widget_of(index), button, presses); }
    Pressed click_on(GtkWidget *widget, guint button = 1, int presses = 1)
    {
        gboolean claimed = FALSE;
        Pressed p = capture([&] { claimed = cclick_button_press(widget, button, presses, 5, 5, &record); });
        p.taken = claimed;
        return p;
    }
    // The widget that has the keyboard focus in the form's window.
    GtkWidget *gtk_focus() { return gtk_root_get_focus(GTK_ROOT(cm()->window)); }
    // The edit menu open on field index's text, or nullptr.
    GtkWidget *open_menu(int index)
    {
        for (GtkWidget *c = gtk_widget_get_first_child(widget_of(index)); c; c = gtk_widget_get_next_sibling(c))
            if (GTK_IS_POPOVER(c) && gtk_widget_get_visible(c)) return c;
        return nullptr;
    }
    void guards_free(const std::string &what)
    {
        EXPECT_EQ(record.activate_lock + record.escape_lock + record.f8_lock, 0) << what << ": every guard released";
        EXPECT_EQ(record.finishing_event, 0) << what;
        EXPECT_EQ(Rname, nullptr) << what << ": the routine name is put back";
    }
};

// Which clicks may move the focus: the click rule in add and any-change mode, and what a refused
// click leaves behind.
TEST_F(ClicksTest, TheClickRuleDecidesWhetherTheFocusMoves)
{
    struct Case {
        const char *what;
        int plain_tab, date_tab;  // PLAIN's and DATE's Tab Sequence Types
        int box_enabled;
        int from, anychange, mode;
        const char *from_text;
        int clicked;
        std::vector<std::string> logged;
        std::vector<std::string> messages;
        int focus_after, mode_after;
    } cases[] = {
        {"a later key field in add mode", TAB_KEY, TAB_KEY, 1, KEY, 0, CM_MODE_ADD, "k", DATE, {}, {REFUSED}, KEY,
         CM_MODE_ADD},
        {"the next Tab stop", TAB_KEY, TAB_KEY, 1, KEY, 0, CM_MODE_ADD, "k", PLAIN, {"probe 1 -1 [k]", "pre 2"}, {},
         PLAIN, CM_MODE_ADD},
        {"an earlier key field from an empty key field", TAB_KEY, TAB_KEY, 1, DATE, 0, CM_MODE_ADD, "", KEY,
         {"probe 3 -1 []", "pre 1"}, {}, KEY, CM_MODE_NULL},
        {"a later field from an empty key field", TAB_KEY, TAB_KEY, 1, PLAIN, 0, CM_MODE_ADD, "", DATE, {},
         {"Field must not be empty"}, PLAIN, CM_MODE_ADD},
        {"a no-focus field", TAB_STANDARD, TAB_STANDARD, 1, KEY, 0, CM_MODE_ADD, "k", LABEL, {}, {}, KEY, CM_MODE_ADD},
        {"any field in any-change mode", TAB_STANDARD, TAB_STANDARD, 1, ANY, 1, CM_MODE_CHANGE, "", DATE,
         {"probe 7 -1 []", "pre 3"}, {}, DATE, CM_MODE_CHANGE},
        {"a skip-on-tab field in add mode", TAB_STANDARD, TAB_SKIP, 1, KEY, 0, CM_MODE_ADD, "k", DATE,
         {"probe 1 -1 [k]", "pre 3"}, {}, DATE, CM_MODE_ADD},
        {"a disabled field in any-change mode", TAB_STANDARD, TAB_STANDARD, 0, ANY, 1, CM_MODE_CHANGE, "", BOX, {},
         {REFUSED}, ANY, CM_MODE_CHANGE},
    };
    for (const Case &c : cases) {
        build();
        cset_cm_put_int(cm(), CM_TAB_SEQ, PLAIN, c.plain_tab);
        cset_cm_put_int(cm(), CM_TAB_SEQ, DATE, c.date_tab);
        cset_cm_put_int(cm(), CM_ENABLED, BOX, c.box_enabled);
        set_text(c.from, c.from_text);
        cm()->anychange = c.anychange;
        cm()->program_mode = c.mode;
        // GTK gives the clicked widget the focus before the handler decides.
        gtk_widget_grab_focus(widget_of(c.clicked));
        messages.clear();
        const Pressed p = click(c.clicked);
        EXPECT_EQ(p.abort, "") << c.what;
        EXPECT_TRUE(p.taken) << c.what << ": claimed";
        EXPECT_STREQ(cm()->event_name, "Mouse") << c.what;
        EXPECT_EQ(p.logged, c.logged) << c.what;
        EXPECT_EQ(messages, c.messages) << c.what;
        EXPECT_EQ(cm()->current_focus, c.focus_after) << c.what;
        EXPECT_EQ(cm()->program_mode, c.mode_after) << c.what;
        GtkWidget *focused = gtk_focus();
        EXPECT_TRUE(focused == widget_of(c.focus_after) || gtk_widget_is_ancestor(focused, widget_of(c.focus_after)))
            << c.what << ": GTK's focus is on the field that has the form's focus";
        guards_free(c.what);
    }
}

TEST_F(ClicksTest, AFalsePostFocusKeepsTheFocus)
{
    build();
    answer(0);
    gtk_widget_grab_focus(widget_of(PLAIN));  // as GTK does for the clicked text
    const Pressed p = click(PLAIN);
    EXPECT_EQ(p.abort, "");
    EXPECT_EQ(p.logged, std::vector<std::string>{"probe 1 -1 [k]"});
    EXPECT_EQ(cm()->current_focus, KEY);
    EXPECT_EQ(gtk_focus(), widget_of(KEY));
    guards_free("false");
}

TEST_F(ClicksTest, APostFocusThatClosesTheWindowEndsTheClick)
{
    build(attach(CM, "Post_Focus", DELETER, KEY));
    record.log_level_lumbas = 3;
    ControlMatrix_t *form = cm();
    const Pressed p = click(PLAIN);
    EXPECT_EQ(p.abort, "");
    EXPECT_EQ(p.logged, std::vector<std::string>{"deleter"}) << "no Pre_Focus on the clicked field";
    EXPECT_NE(std::find_if(p.lines.begin(), p.lines.end(),
                           [](const std::string &l) { return l.ends_with("on_button_press_event: Exit from window"); }),
              p.lines.end());
    EXPECT_EQ(cm_chain_position(form), 0) << "the window went at the end of the click";
    guards_free("closing");
}

TEST_F(ClicksTest, RefusalsAreLoggedAtLevelThree)
{
    build();
    record.log_level_lumbas = 3;
    const Pressed p = click(LABEL);
    EXPECT_EQ(p.abort, "");
    const std::string refused = "Mouse control not allowed: Index = 5; Tab Sequence Type = 6; AddChange Mode = 0";
    EXPECT_NE(std::find_if(p.lines.begin(), p.lines.end(), [&](const std::string &l) { return l.ends_with(refused); }),
              p.lines.end())
        << testing::PrintToString(p.lines);
    // The banner comes first, at log level 0.
    const std::string row(56, '=');
    ASSERT_GE(p.lines.size(), 3u);
    EXPECT_EQ(p.lines[0], row);
    EXPECT_EQ(p.lines[1], "===  A Mouse Click - button1; n_press1; x=5.000000  y=5.000000  ===");
    EXPECT_EQ(p.lines[2], row);
}

// A click on the field Back-Tab reaches is a Back-Tab: the field's Post_Focus runs and the focus
// lands by the Back-Tab rule (the next-field rule would go forward instead).
TEST_F(ClicksTest, AClickOnTheBackTabTargetIsABackTab)
{
    build();
    focus(DATE);
    const Pressed p = click(PLAIN);
    EXPECT_EQ(p.abort, "");
    EXPECT_STREQ(cm()->event_name, "Back Tab");
    EXPECT_EQ(p.logged, (std::vector<std::string>{"probe 3 -1 []", "pre 2"}));
    EXPECT_EQ(cm()->current_focus, PLAIN);
    guards_free("Back-Tab");

    // The same as the Back-Tab key does, from the same place.
    build();
    focus(DATE);
    const Pressed key = press(DATE, GDK_KEY_ISO_Left_Tab);
    EXPECT_EQ(key.logged, p.logged);
    EXPECT_EQ(cm()->current_focus, PLAIN);
}

TEST_F(ClicksTest, DoubleClicksAndClicksOnNoFieldDoNothing)
{
    build();
    cm()->event_name[0] = '\0';
    Pressed p = click(PLAIN, 1, 2);
    EXPECT_EQ(p.abort, "");
    EXPECT_TRUE(p.taken) << "claimed";
    EXPECT_TRUE(p.logged.empty());
    EXPECT_EQ(cm()->current_focus, KEY);
    EXPECT_STREQ(cm()->event_name, "") << "no event was taken";
    EXPECT_EQ(calls(p), 0);
    guards_free("double click");

    // A widget of the form that is no field's: the focused field's editing ends and the event too.
    GtkWidget *box = handle_widget(static_cast<std::uintptr_t>(handle(Y)));
    p = click_on(box);
    EXPECT_EQ(p.abort, "");
    EXPECT_TRUE(p.logged.empty());
    EXPECT_STREQ(cm()->event_name, "Mouse");
    EXPECT_EQ(cm()->current_focus, KEY);
    guards_free("no field");
}

TEST_F(ClicksTest, AButtonRunsItsActivateRoutineAndTheFocusGoesBack)
{
    build(attach(CM, "Activate", routine_test::PLAINFN, BUTTON, false));
    cset_cm_put_int(cm(), CM_TAB_SEQ, BUTTON, TAB_SKIP);
    const Pressed p = click(BUTTON);
    EXPECT_EQ(p.abort, "");
    EXPECT_EQ(p.logged, (std::vector<std::string>{"probe 1 -1 [k]", "plain 6", "pre 1"}));
    EXPECT_EQ(cm()->current_focus, KEY);
    EXPECT_EQ(gtk_focus(), widget_of(KEY));
    guards_free("button");
}

// GTK gives a clicked text the keyboard on the press, before the click is handled: a click that
// leaves the form's focus where it was gives the keyboard back to the focused field, so that what
// the user types next goes there (not unfiltered into the clicked field).
TEST_F(ClicksTest, AClickThatLeavesTheFocusGivesTheKeyboardBack)
{
    struct Case {
        const char *what;
        const char *key_text;
        int presses;
        bool busy;  // Enter's guard is held, as while an Enter routine waits in a dialog
        std::vector<std::string> messages;
    } cases[] = {
        {"a field that refuses to be left", "", 1, false, {"Field must not be empty"}},
        {"the second press of a double click", "k", 2, false, {}},
        {"a click dropped while Enter is at work", "k", 1, true, {}},
    };
    for (const Case &c : cases) {
        build();
        set_text(KEY, c.key_text);
        messages.clear();
        gtk_widget_grab_focus(widget_of(PLAIN));  // as GTK does for the clicked text
        record.activate_lock = c.busy ? 1 : 0;
        const Pressed p = click(PLAIN, 1, c.presses);
        record.activate_lock = 0;
        EXPECT_EQ(p.abort, "") << c.what;
        EXPECT_TRUE(p.logged.empty()) << c.what;
        EXPECT_EQ(messages, c.messages) << c.what;
        EXPECT_EQ(cm()->current_focus, KEY) << c.what;
        EXPECT_EQ(gtk_focus(), widget_of(KEY)) << c.what << ": the keyboard is back on the focused field";
        guards_free(c.what);
    }
}

// The same by a user: a click on the next field while the key field is empty, then typing. The
// letters go into the key field, which still has the form's focus.
TEST_F(ClicksTest, AUserTypesIntoTheFieldARefusedClickLeft)
{
    build();
    set_text(KEY, "");
    gtk_window_present(GTK_WINDOW(cm()->window));
    ASSERT_TRUE(lumba_test::wait_drawn(widget_of(PLAIN)));
    int x = 0, y = 0;
    lumba_test::widget_centre(widget_of(PLAIN), &x, &y);
    messages.clear();
    const lumba_test::Xdotool user(lumba_test::gui_display());
    const Pressed p = capture([&] {
        const std::string id = lumba_test::x_window_id(cm()->window);
        user.focus(id);
        user.click(id, x, y);
        ASSERT_TRUE(lumba_test::wait_until([&] { return !messages.empty(); }));
        user.type("abc");
        ASSERT_TRUE(lumba_test::wait_until([&] {
            return std::string(gtk_editable_get_text(GTK_EDITABLE(widget_of(KEY)))) == "abc" ||
                   std::string(gtk_editable_get_text(GTK_EDITABLE(widget_of(PLAIN)))) == "abc";
        }));
        user.run({"mousemove", "--sync", "0", "0"});
    });
    EXPECT_EQ(p.abort, "");
    EXPECT_EQ(messages, std::vector<std::string>{"Field must not be empty"});
    EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(widget_of(KEY))), "abc");
    EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(widget_of(PLAIN))), "");
    EXPECT_EQ(cm()->current_focus, KEY);
}

// A button's click (its "clicked" signal, as a user's click ends) while another field has the
// focus is a click on a field: the field being left is validated and runs its Post_Focus before
// the button's Activate; an empty key field keeps the form from being saved.
TEST_F(ClicksTest, AButtonClickValidatesTheFieldBeingLeft)
{
    struct Case {
        const char *what;
        const char *key_text;
        std::vector<std::string> logged;
        std::vector<std::string> messages;
    } cases[] = {
        {"an empty key field", "", {}, {"Field must not be empty"}},
        {"a filled key field", "k", {"probe 1 -1 [k]", "plain 6", "pre 1"}, {}},
    };
    for (const Case &c : cases) {
        build(attach(CM, "Activate", routine_test::PLAINFN, BUTTON, false));
        cset_cm_put_int(cm(), CM_TAB_SEQ, BUTTON, TAB_SKIP);
        g_signal_connect(button, "clicked", G_CALLBACK(gbutton_activate_event), &record);
        set_text(KEY, c.key_text);
        messages.clear();
        const Pressed p = capture([&] { g_signal_emit_by_name(button, "clicked"); });
        EXPECT_EQ(p.abort, "") << c.what;
        EXPECT_EQ(p.logged, c.logged) << c.what;
        EXPECT_EQ(messages, c.messages) << c.what;
        EXPECT_STREQ(cm()->event_name, "Mouse") << c.what;
        EXPECT_EQ(cm()->current_focus, KEY) << c.what;
        guards_free(c.what);
    }
}

// A click on the focused field is the field's own: a right click opens an input's edit menu (and
// goes no further), a left click is left to the text (to place the cursor).
TEST_F(ClicksTest, TheFocusedInputTakesARightClickForItsEditMenu)
{
    build();
    Pressed p = click(KEY, 1);
    EXPECT_EQ(p.abort, "");
    EXPECT_FALSE(p.taken) << "a left click goes on to the text widget";
    EXPECT_EQ(open_menu(KEY), nullptr);
    EXPECT_EQ(calls(p), 0);

    p = click(KEY, 3);
    EXPECT_EQ(p.abort, "");
    EXPECT_TRUE(p.taken) << "the edit menu took the click";
    GtkWidget *menu = open_menu(KEY);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(calls(p), 0);
    EXPECT_EQ(cm()->current_focus, KEY);
    gtk_popover_popdown(GTK_POPOVER(menu));
    guards_free("edit menu");

    // On a check box, the field's own widget takes the click.
    focus(BOX);
    p = click(BOX, 3);
    EXPECT_FALSE(p.taken);
    EXPECT_EQ(calls(p), 0);
}

TEST_F(ClicksTest, AClickWhileEnterWaitsInADialogIsDropped)
{
    build();
    record.log_level_lumbas = 0;
    focus(ANY);
    cm()->program_mode = CM_MODE_CHANGE;
    set_text(ANY, "1");
    // The jump to the key field asks the discard question; a click comes in while it is up.
    lumba_test::DialogScript script({1});
    gboolean claimed = FALSE;
    script.on_shown = [&](const DialogRequest &) { claimed = cclick_button_press(widget_of(PLAIN), 1, 1, 0, 0, &record); };
    cm()->anychange = 1;
    const Pressed p = press(ANY, GDK_KEY_Return);
    EXPECT_EQ(p.abort, "");
    ASSERT_EQ(script.asked().size(), 1u);
    EXPECT_TRUE(claimed) << "dropped, and claimed";
    EXPECT_EQ(calls(p), 2) << "the AnyChange field's Post_Focus and its Pre_Focus again, nothing for the click";
    EXPECT_EQ(cm()->current_focus, ANY);
    guards_free("after Enter");
}

TEST_F(ClicksTest, ProgramErrors)
{
    build();
    cm()->current_focus = 0;
    EXPECT_EQ(click(PLAIN).abort, "Must call icset_focus");
    guards_free("before ICSET_FOCUS");

    build();
    cset_cm_put_int(cm(), CM_TAB_SEQ, BOX, 9);
    EXPECT_EQ(click(BOX).abort, "Invalid Widget Tab Sequence Type 9; Index 4");
    guards_free("a bad Tab Sequence Type");

    // A widget in a window without a form.
    GtkWidget *window = gtk_window_new();
    GtkWidget *alone = gtk_label_new("alone");
    gtk_window_set_child(GTK_WINDOW(window), alone);
    EXPECT_EQ(click_on(alone).abort, "Widget not found in the Process Control Matrix (k)");
    gtk_window_destroy(GTK_WINDOW(window));
    guards_free("no form");
}

// Removing the focused row (ICREMOVE, or the grid row of a table) moves the form's focus to the
// nearest remaining field, and the next click works from there.
TEST_F(ClicksTest, RemovingTheFocusedRowMovesTheFocusToTheNearestField)
{
    struct Case {
        const char *what;
        int focused, first, last;
        int focus_after;
    } cases[] = {
        {"the last field", ANY, ANY, ANY, BUTTON},
        {"fields in the middle", PLAIN, PLAIN, DATE, PLAIN},
        {"a field before the focused one", BOX, KEY, KEY, DATE},
        {"every field", KEY, KEY, ANY, 0},
    };
    for (const Case &c : cases) {
        build();
        focus(c.focused);
        cremove_ind(cm(), c.first, c.last);
        EXPECT_EQ(cm()->current_focus, c.focus_after) << c.what;
        EXPECT_LE(cm()->current_focus, cm()->field_count) << c.what;
        if (c.focus_after < 1) continue;
        // A click on the focused field's row, or on the first row, reads only rows there are.
        const Pressed p = click(1);
        EXPECT_EQ(p.abort, "") << c.what;
        guards_free(c.what);
    }
    // The same when the focused field's row goes with its widget, as a table's grid row does.
    build();
    focus(ANY);
    cutil_destroy_widget(widget_of(ANY));
    EXPECT_EQ(cm()->field_count, ANY - 1);
    EXPECT_EQ(cm()->current_focus, BUTTON);
    EXPECT_EQ(click(1).abort, "");
    guards_free("a grid row");
}
