// The soft-key bar in-process: the buttons a key set gives (labelled keys only, or all thirteen),
// their registration in the CM and the sensitivity that follows it, a bar built again replacing
// the first, the bar's refusals, and what a press or a key replays on the forms engine (watched
// through the table of calls the widgets make into it).
#include "cattach.h"
#include "ccallback.h"
#include "cmatrix.h"
#include "gmisc.h"
#include "gsoftkeys.h"
#include "gui_env.h"
#include "widgets_fixture.h"
#include "xdotool.h"

#include <algorithm>

using namespace forms_test;
using namespace widgets_test;

namespace {

// What the forms engine was asked to do, with the softkey_event flag of the newest CM at the time.
std::vector<std::string> &replayed()
{
    static std::vector<std::string> v;
    return v;
}
int f12_answer = 1;

std::string target_name(GtkWidget *w) { return GTK_IS_WINDOW(w) ? "window" : G_OBJECT_TYPE_NAME(w); }
ControlMatrix_t *watched;  // the CM whose flag is noted; the newest when none
std::string flag()
{
    return " softkey_event=" + std::to_string((watched ? watched : global_data->last_cm)->softkey_event);
}
void note(const std::string &what) { replayed().push_back(what + flag()); }

const FormsEventCalls recorder{
    [](GtkEventControllerKey *, guint keyval, guint, GdkModifierType, gpointer) -> gboolean {
        note("key " + std::string(gdk_keyval_name(keyval)));
        return TRUE;
    },
    [](GtkWidget *w, GtkEventController *, GlobalData_t *, int block) {
        note("escape " + target_name(w) + " block=" + std::to_string(block));
        return 0;
    },
    [](GtkWidget *w, guint keyval, GlobalData_t *) { note("fn " + std::string(gdk_keyval_name(keyval)) + " " + target_name(w)); },
    [](GtkWidget *w, guint, GlobalData_t *) { note("f3 " + target_name(w)); },
    [](GtkWidget *w, GlobalData_t *) { note("f5 " + target_name(w)); },
    [](GtkWidget *w, GtkEventController *, GlobalData_t *, int shift, int block) {
        note("f8 " + target_name(w) + " shift=" + std::to_string(shift) + " block=" + std::to_string(block));
        return 1;
    },
    [](GtkWidget *w, GlobalData_t *, guint page) { note("f9 " + target_name(w) + " page=" + std::to_string(page)); },
    [](GtkWidget *w, GtkEventController *, GlobalData_t *, int block) {
        note("f12 " + target_name(w) + " block=" + std::to_string(block));
        return f12_answer;
    },
    [] { replayed().push_back("change cursor"); },
    [](ControlMatrix_t *cm, ControlMatrix_t **, int code, int *index, int *, GlobalData_t *, const char *variable,
       const char *, int, int must_exist, char **, int *, int close) {
        note("invoke " + std::to_string(code) + " index=" + std::to_string(*index) + " " + variable + " event=" +
             cm->event_name + " must=" + std::to_string(must_exist) + " close=" + std::to_string(close));
        return 1;
    },
};

// Key sets of the tests: FKZ labels Escape, F5 and F12; BLANK labels none.
KeySet_t fkz{const_cast<char *>("FKZ"), 0, 1 | 1 << 5 | 1 << 12, {}, nullptr};
KeySet_t blank{const_cast<char *>("BLANK"), 0, 0, {}, nullptr};

// A form: window W with CM, its content box Y, a button field 1 (its widget in E2), and a bar
// of key set `set` built into Y by IGSOFTKEY_BOX with the further arguments, its handle in E.
std::string bar_form(const std::string &key_set, const std::string &all = "")
{
    Add field;
    field.entry = val(E2);
    return window_of("a", W) + attach(CM, W) + val(W) + fn(in_IGVBOX_NEW, 1) + set(Y) + fn(in_IGBUTTON_NEW, 0) +
           set(E2) + field.text() + val(Y) + str(key_set) + all + fn(in_IGSOFTKEY_BOX, all.empty() ? 2 : 3) + set(E);
}

std::vector<GtkWidget *> children(GtkWidget *box)
{
    std::vector<GtkWidget *> v;
    for (GtkWidget *c = gtk_widget_get_first_child(box); c; c = gtk_widget_get_next_sibling(c)) v.push_back(c);
    return v;
}

std::vector<std::string> button_labels(GtkWidget *bar)
{
    std::vector<std::string> v;
    for (GtkWidget *c : children(bar))
        if (GTK_IS_BUTTON(c)) v.push_back(gtk_button_get_label(GTK_BUTTON(c)));
    return v;
}

int records_of(const GtkWidget *window)
{
    int n = 0;
    for (GSoftkeys *k = gtk_softkeys; k; k = k->next) n += k->window == window;
    return n;
}

void press(GtkWidget *button, const char *gesture)
{
    GtkEventController *click = oska_widget_get_controller(button, gesture);
    ASSERT_NE(click, nullptr) << gesture;
    g_signal_emit_by_name(click, "pressed", 1, 5.0, 5.0);
}

gboolean key(GtkWidget *widget, const char *controller, guint keyval)
{
    gboolean handled = FALSE;
    g_signal_emit_by_name(oska_widget_get_controller(widget, controller), "key-pressed", keyval, 0u,
                          GdkModifierType(0), &handled);
    return handled;
}

class SoftkeysTest : public WidgetsTest {
protected:
    void SetUp() override
    {
        WidgetsTest::SetUp();
        fkz.labels[0] = const_cast<char *>("Cancel");
        fkz.labels[5] = const_cast<char *>("_Search");
        fkz.labels[12] = const_cast<char *>("Pick");
        fkz.next = &blank;
        saved_sets = keysets;
        keysets = &fkz;
        saved_calls = set_forms_event_calls(recorder);
        replayed().clear();
        f12_answer = 1;
        watched = nullptr;
    }
    void TearDown() override
    {
        WidgetsTest::TearDown();
        EXPECT_EQ(gtk_softkeys, nullptr) << "every record went with its window's CM";
        set_forms_event_calls(saved_calls);
        keysets = saved_sets;
    }
    GtkWidget *window() const { return reinterpret_cast<GtkWidget *>(handle(W)); }
    GtkWidget *bar() const { return reinterpret_cast<GtkWidget *>(handle(E)); }
    GtkWidget *button(int slot) const { return GFindSoftkeys(window())->slots[slot].button; }

    KeySet_t *saved_sets = nullptr;
    FormsEventCalls saved_calls{};
};

} // namespace

TEST_F(SoftkeysTest, LabelledKeysOnlyOrAllThirteen)
{
    const std::vector<std::string> all_fkz{"Cancel", "", "", "", "", "_Search", "", "", "", "", "", "", "Pick"};
    struct Case {
        const char *set, *all;
        std::vector<std::string> labels;
    } cases[] = {
        {"FKZ", "0", {"Cancel", "_Search", "Pick"}},
        {"FKZ", "", all_fkz},  // the flag defaults to all
        {"FKZ", "7", all_fkz},
        {"BLANK", "0", {}},
        {"BLANK", "1", std::vector<std::string>(13, "")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.set) + " all " + c.all);
        ASSERT_EQ(form(bar_form(c.set, *c.all ? num(c.all) : "")).abort, "");
        GtkWidget *b = bar();
        EXPECT_STREQ(gtk_widget_get_name(b), "functionkeys");
        EXPECT_EQ(gtk_widget_get_parent(b), reinterpret_cast<GtkWidget *>(handle(Y)));
        EXPECT_EQ(button_labels(b), c.labels);
        const std::vector<GtkWidget *> parts = children(b);
        ASSERT_EQ(parts.size(), c.labels.size() + 2);
        EXPECT_TRUE(GTK_IS_LABEL(parts.front())) << "the leading spacer";
        EXPECT_TRUE(GTK_IS_LABEL(parts.back())) << "the trailing spacer";
        EXPECT_EQ(gtk_widget_get_halign(parts.back()), GTK_ALIGN_END);
        for (GtkWidget *p : parts) {
            if (GTK_IS_BUTTON(p)) {
                EXPECT_TRUE(gtk_button_get_use_underline(GTK_BUTTON(p)));
            }
        }
        EXPECT_NE(oska_widget_get_controller(window(), "gsoftkey-window-key"), nullptr);
        EXPECT_EQ(context->keyset, c.set == std::string("FKZ") ? &fkz : &blank) << "the program's current set";
        cmat_free_all();
    }
}

TEST_F(SoftkeysTest, EachButtonIsRegisteredWithItsActionCodeAndControllers)
{
    ASSERT_EQ(form(bar_form("FKZ", num(1))).abort, "");
    const char *keys[] = {"Esc", "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12"};
    const std::uint32_t codes[] = {2, 51, 52, 53, 34, 55, 56, 57, 58, 59, 60, 61, 62};
    FunctionKey_t *k = cm_of(CM)->function_keys;
    for (int slot = 0; slot < 13; ++slot, k = k->next) {
        SCOPED_TRACE(keys[slot]);
        ASSERT_NE(k, nullptr);
        EXPECT_EQ(k->button, button(slot));
        EXPECT_EQ(k->action_code, codes[slot]);
        auto *click = oska_widget_get_controller(button(slot), ("gsoftkey-" + std::string(keys[slot]) + "-button").c_str());
        ASSERT_TRUE(click && GTK_IS_GESTURE_CLICK(click));
        EXPECT_EQ(gtk_gesture_single_get_button(GTK_GESTURE_SINGLE(click)), 0u);
        EXPECT_TRUE(gtk_gesture_single_get_exclusive(GTK_GESTURE_SINGLE(click)));
        auto *keyc = oska_widget_get_controller(button(slot), ("gsoftkey-" + std::string(keys[slot])).c_str());
        ASSERT_TRUE(keyc && GTK_IS_EVENT_CONTROLLER_KEY(keyc));
        EXPECT_EQ(gtk_event_controller_get_propagation_phase(keyc), slot == 0 ? GTK_PHASE_CAPTURE : GTK_PHASE_BUBBLE);
    }
    EXPECT_EQ(k, nullptr);
    // A gsoftkey slot lookup by button, and its refusals.
    EXPECT_EQ(gfindsoftkey_by_widgit(window(), button(5))->label, fkz.labels[5]);
    EXPECT_EQ(gfindsoftkey_by_widgit(window(), button(5))->state, 2);
    EXPECT_EQ(gfindsoftkey_by_widgit(window(), button(6))->state, 1);
    GtkWidget *stranger = keep(gtk_button_new());
    EXPECT_EQ(lumba_test::abort_text([&] { gfindsoftkey_by_widgit(window(), stranger); }),
              "Failed to find softkey registered for widget with address 0x" + hex(stranger));
    EXPECT_EQ(lumba_test::abort_text([&] { set_fkey_label_by_widget(window(), stranger); }),
              "Failed to find key in set_fkey_label_by_widget()");
    EXPECT_EQ(lumba_test::abort_text([&] { GAddKey(window(), stranger, 13); }), "Invalid keynum 13 passed to GAddKey()");
    EXPECT_EQ(lumba_test::abort_text([&] { GAddKey(window(), stranger, 3); }),
              "Key 3 already has widget 0x" + hex(button(3)) + " in GAddKey()");
    EXPECT_EQ(lumba_test::abort_text([&] { GAddKey(stranger, stranger, 3); }),
              "No parent window with address 0x" + hex(stranger) + " in GAddKey()");
    EXPECT_EQ(lumba_test::abort_text([&] { gfindsoftkey_by_widgit(stranger, stranger); }),
              "No parent window with address 0x" + hex(stranger));
}

TEST_F(SoftkeysTest, SensitivityFollowsWhatIsAttached)
{
    const std::string attach_f1 = str("F1") + num(2) + val(CM) + num(0L) + st(in_ICATTACH_FUN, 4);
    const std::string attach_capture = str("Screen_Capture") + num(2) + val(CM) + num(1) + st(in_ICATTACH_FUN, 4);
    struct Case {
        std::string attached;
        bool f1, f4;
    } cases[] = {{"", false, false}, {attach_f1, true, false}, {attach_capture, false, true}};
    for (const Case &c : cases) {
        ASSERT_EQ(form(bar_form("FKZ", num(1)) + c.attached).abort, "");
        cutil_set_active_function_keys(cm_of(CM), 1);
        EXPECT_EQ(gtk_widget_get_sensitive(button(1)), c.f1);
        EXPECT_EQ(gtk_widget_get_sensitive(button(4)), c.f4) << "the fourth button follows Screen_Capture";
        EXPECT_FALSE(gtk_widget_get_sensitive(button(2)));
        EXPECT_TRUE(gtk_widget_get_sensitive(button(0))) << "Escape always";
        EXPECT_TRUE(gtk_widget_get_sensitive(button(8))) << "F8 always";
        cmat_free_all();
    }
}

TEST_F(SoftkeysTest, ABarBuiltAgainReplacesTheFirst)
{
    ASSERT_EQ(form(bar_form("FKZ", num(0L)) + val(Y) + str("FKZ") + num(1) + fn(in_IGSOFTKEY_BOX, 3) + set(X)).abort, "");
    GtkWidget *second = reinterpret_cast<GtkWidget *>(handle(X));
    std::vector<GtkWidget *> bars;
    for (GtkWidget *c : children(reinterpret_cast<GtkWidget *>(handle(Y))))
        if (std::string(gtk_widget_get_name(c)) == "functionkeys") bars.push_back(c);
    EXPECT_EQ(bars, std::vector<GtkWidget *>{second});
    EXPECT_EQ(records_of(window()), 2) << "a record per bar";
    EXPECT_EQ(gtk_widget_get_parent(button(1)), second) << "lookups find the newest";
    int window_controllers = 0;
    GListModel *list = gtk_widget_observe_controllers(window());
    for (guint i = 0; i < g_list_model_get_n_items(list); ++i) {
        auto *c = static_cast<GtkEventController *>(g_list_model_get_item(list, i));
        window_controllers += g_strcmp0(gtk_event_controller_get_name(c), "gsoftkey-window-key") == 0;
        g_object_unref(c);
    }
    g_object_unref(list);
    EXPECT_EQ(window_controllers, 1);
    const GSoftkeys *newest = GFindSoftkeys(window());
    GDeleteSoftkeys(window());
    EXPECT_EQ(records_of(window()), 1) << "deletion takes the newest";
    ASSERT_NE(GFindSoftkeys(window()), newest);
    EXPECT_EQ(GFindSoftkeys(window())->slots[1].button, nullptr) << "the first bar's record: labelled keys only";
}

TEST_F(SoftkeysTest, BarRefusals)
{
    // A key set nobody loaded.
    EXPECT_EQ(form(bar_form("XYZ", num(1))).abort, "Cannot find keyset named - XYZ");
    cmat_free_all();
    // A box of another window than the CM's: refused before anything is made.
    ASSERT_EQ(form(bar_form("FKZ", num(1))).abort, "");
    GtkWidget *other = gtk_window_new();
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_window_set_child(GTK_WINDOW(other), box);
    EXPECT_EQ(lumba_test::abort_text([&] { gsoftkey_box(cm_of(CM), 1, "FKZ", box, nullptr); }),
              "Attempting to add Softkeys in a vbox that does not appear in the current Control Matrix");
    EXPECT_EQ(records_of(other), 0);
    EXPECT_EQ(gtk_widget_get_first_child(box), nullptr);
    gtk_window_destroy(GTK_WINDOW(other));
}

TEST_F(SoftkeysTest, PressReplaysTheKeyOnTheFocusedFieldAndEndsTheEvent)
{
    struct Case {
        int slot;
        int focus;
        std::string expected;
    } cases[] = {
        {0, 1, "escape GtkButton block=1 softkey_event=0"},
        {1, 1, "fn F1 GtkButton softkey_event=1"},
        {2, 0, "fn F2 window softkey_event=1"},
        {3, 1, "f3 GtkButton softkey_event=1"},
        {4, 1, "invoke 34 index=1 IP$ event=F4 must=0 close=1 softkey_event=1"},
        {4, 0, "invoke 34 index=0 IP$ event=F4 must=0 close=1 softkey_event=1"},
        {5, 1, "f5 GtkButton softkey_event=1"},
        {6, 1, "fn F6 GtkButton softkey_event=1"},
        {7, 1, "fn F7 GtkButton softkey_event=1"},
        {8, 1, "f8 GtkButton shift=0 block=1 softkey_event=1"},
        {9, 1, "f9 GtkButton page=0 softkey_event=1"},
        {10, 1, "fn F10 GtkButton softkey_event=1"},
        {11, 1, "fn F11 GtkButton softkey_event=1"},
        {12, 1, "f12 GtkButton block=1 softkey_event=1"},
    };
    const char *gestures[] = {"gsoftkey-Esc-button", "gsoftkey-F1-button",  "gsoftkey-F2-button",  "gsoftkey-F3-button",
                              "gsoftkey-F4-button",  "gsoftkey-F5-button",  "gsoftkey-F6-button",  "gsoftkey-F7-button",
                              "gsoftkey-F8-button",  "gsoftkey-F9-button",  "gsoftkey-F10-button", "gsoftkey-F11-button",
                              "gsoftkey-F12-button"};
    ASSERT_EQ(form(bar_form("FKZ", num(1))).abort, "");
    ControlMatrix_t *form_cm = cm_of(CM);
    watched = form_cm;
    ControlMatrix_t *newer = cset_new(global_data, nullptr, 0);  // a second CM, whose flag is cleared too
    for (const Case &c : cases) {
        SCOPED_TRACE(gestures[c.slot]);
        replayed().clear();
        form_cm->current_focus = c.focus;
        newer->softkey_event = 1;
        press(button(c.slot), gestures[c.slot]);
        forms_rethrow_kept();
        ASSERT_FALSE(replayed().empty());
        EXPECT_EQ(replayed().front(), c.expected);
        EXPECT_EQ(form_cm->softkey_event, 0);
        if (c.slot == 0) {
            EXPECT_EQ(newer->softkey_event, 1) << "the Escape button leaves the flags alone";
            EXPECT_EQ(replayed().back(), "change cursor") << "with more than one CM";
        } else {
            EXPECT_EQ(newer->softkey_event, 0) << "after an F-key every CM's flag is clear";
            EXPECT_EQ(replayed().size(), 1u);
        }
    }
}

TEST_F(SoftkeysTest, KeysOnTheBar)
{
    ASSERT_EQ(form(bar_form("FKZ", num(1))).abort, "");
    // On the window and the buttons, Escape and F1 .. F12 go to the key dispatcher; other keys to GTK.
    EXPECT_FALSE(key(window(), "gsoftkey-window-key", GDK_KEY_a));
    EXPECT_FALSE(key(button(3), "gsoftkey-F3", GDK_KEY_Tab));
    EXPECT_TRUE(key(button(3), "gsoftkey-F3", GDK_KEY_F5));
    EXPECT_TRUE(key(window(), "gsoftkey-window-key", GDK_KEY_Escape));
    EXPECT_EQ(replayed(), (std::vector<std::string>{"key F5 softkey_event=0", "key Escape softkey_event=0"}));
    // On the F12 button every key runs F12, answering the F12 action's answer.
    replayed().clear();
    f12_answer = 0;
    EXPECT_FALSE(key(button(12), "gsoftkey-F12", GDK_KEY_a));
    EXPECT_EQ(replayed(), std::vector<std::string>{"f12 window block=1 softkey_event=1"});
}

TEST_F(SoftkeysTest, AnFKeyButtonRunsTheKeyHandler)
{
    set_forms_event_calls(saved_calls);
    ASSERT_EQ(form(bar_form("FKZ", num(1))).abort, "");
    press(button(1), "gsoftkey-F1-button");
    EXPECT_EQ(lumba_test::abort_text([] { forms_rethrow_kept(); }), "");
    EXPECT_STREQ(cm_of(CM)->event_name, "F1") << "the real F1 handler took the press";
}

// A user at the keyboard on a focused soft key (xdotool): Return and Space run it as a press does,
// once each time, and a key pressed twice runs twice.
TEST_F(SoftkeysTest, ReturnAndSpaceOnAFocusedKeyRunIt)
{
    ASSERT_EQ(form(bar_form("FKZ", num(1))).abort, "");
    cm_of(CM)->current_focus = 1;
    gtk_window_present(GTK_WINDOW(window()));
    ASSERT_TRUE(lumba_test::wait_drawn(button(12)));
    const lumba_test::Xdotool user(lumba_test::gui_display());
    user.focus(lumba_test::x_window_id(window()));
    struct Case {
        int slot;
        const char *key;
        std::string replayed;
    } cases[] = {
        {5, "Return", "f5 GtkButton softkey_event=1"},
        {5, "space", "f5 GtkButton softkey_event=1"},
        {2, "KP_Enter", "fn F2 GtkButton softkey_event=1"},
        {0, "space", "escape GtkButton block=1 softkey_event=0"},
        {12, "Return", "f12 GtkButton block=1 softkey_event=1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.key) + " on slot " + std::to_string(c.slot));
        // The end of each event makes the keys without a routine insensitive: this one has one.
        gtk_widget_set_sensitive(button(c.slot), TRUE);
        gtk_widget_grab_focus(button(c.slot));
        ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(button(c.slot)); }));
        replayed().clear();
        user.key({c.key});
        ASSERT_TRUE(lumba_test::wait_until([&] { return !replayed().empty(); }));
        lumba_test::drain();
        forms_rethrow_kept();
        EXPECT_EQ(replayed().front(), c.replayed);
        EXPECT_EQ(std::count(replayed().begin(), replayed().end(), c.replayed), 1) << "once";
    }
}
