// Combo, radio and toggle fields in-process on a private X server: the choice intrinsics over the
// three kinds, the constructors' refusals, the combo's list placement (as a function and on the
// screen), the combo's keys closed and open, the list's mouse handlers, the radio and toggle key
// variants, the toggle release, and the Change_Content runs of setting and moving a choice.
#include <algorithm>
#include <gdk/gdk.h>

#include "cclear.h"
#include "cclick.h"
#include "cinvoke.h"
#include "gcombo.h"
#include "gmisc.h"
#include "gradio.h"
#include "gui_env.h"
#include "keys_fixture.h"
#include "snapshot.h"
#include "xdotool.h"

using namespace keys_test;

namespace {

// Field indexes of the choice form.
enum ChoiceField { C_KEY = 1, COMBO, RADIO, TOGGLE, EMPTY_COMBO, EMPTY_RADIO, EMPTY_TOGGLE, C_FIELDS = EMPTY_TOGGLE };

constexpr int choice_kinds[] = {CM_FIELD_TYPE_GCOMBO, CM_FIELD_TYPE_GTOGGLE_BUTTON, CM_FIELD_TYPE_GRADIO_BUTTON};

std::string items(const std::vector<std::string> &texts)
{
    std::string t;
    for (const std::string &s : texts) t += val(D) + str(s) + st(in_IGCOMBO_TEXT_ADD, 2);
    return t;
}
std::string combo(int index, const std::vector<std::string> &texts)
{
    return ref(CM) + num(index) + fn(in_IGCOMBO_NEW, 2) + set(D) + items(texts);
}
std::string radio(int index, const std::vector<std::string> &texts)
{
    return ref(CM) + num(index) + fn(in_IGRADIO_NEW, 2) + set(D) + items(texts);
}
std::string toggle(int index, const std::vector<std::string> &texts)
{
    return ref(CM) + num(index) + fn(in_IGTOGGLE_NEW, 2) + set(D) + items(texts);
}

// The routines after the fixture's: nfunc setter (cm, ind, IP, IP$) logs "set [<IP$>]", sets its
// own field to "Three" with IGCOMBO_SET and answers 1;
constexpr int SETTER = routine_test::FOCUSER + 1;
const std::string setter =
    ".nfunc r:setter I:0 I:0 I:0 I:0 I:0 I:4\n" + num(0L) + str("set [") + "loadsvi I:3 I:0 I:1 I:0 I:0 I:0\n" +
    sfn(in_STRIP, 1) + str("]") + "scat I:3\n" + st(in_IMLOG, 2) + "loadrvi I:0 I:0 I:1 I:0 I:0 I:0\n" +
    "loadrvi I:1 I:0 I:1 I:0 I:0 I:0\n" + str("Three") + st(in_IGCOMBO_SET, 3) + num(1) + "exitv\n" +
    "symtab\n__ROUTINE__ setter 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\n"
    "IP$ 40 0 0x8014 0 4 -\n__END_ROUTINE__\n.end\n" +
    // nfunc mover (cm, ind, IP, IP$): ICSET_FOCUS(cm, 1), answers 1.
    ".nfunc r:mover I:0 I:0 I:0 I:0 I:0 I:4\n" + "loadrvi I:0 I:0 I:1 I:0 I:0 I:0\n" + num(1) + st(in_ICSET_FOCUS, 2) +
    num(1) + "exitv\n" +
    "symtab\n__ROUTINE__ mover 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\n"
    "IP$ 40 0 0x8014 0 4 -\n__END_ROUTINE__\n.end\n";
constexpr int MOVER = SETTER + 1;
const std::string set_focus = val(CM) + num(1) + st(in_ICSET_FOCUS, 2);

const std::vector<std::string> colours = {"Red", "Green  ", "Blue"};
const std::vector<std::string> numbers = {"One", "Two", "Three"};
const std::vector<std::string> sides = {"Left", "Mid", "Right"};

} // namespace

class ChoiceTest : public KeysTest {
protected:
    void SetUp() override
    {
        RecordKindHooks own[CM_FIELD_TYPE_GMAX + 1];
        for (int kind : choice_kinds) own[kind] = record_kind(kind);
        KeysTest::SetUp();
        for (int kind : choice_kinds) register_record_kind(kind, own[kind]);
    }

    // The form: a key field, a combo (Red, "Green  ", Blue), a radio field (One, Two, Three) and a
    // toggle field (Left, Mid, Right), with Pre_Focus and Post_Focus on the window and the probe
    // for Change_Content; with empty, three fields of the same kinds without items; then extra.
    Outcome build_choice(const std::string &extra = "", bool empty = false)
    {
        std::string body = routine_test::common + window_form() +
                           add_field(input(C_KEY, 0, 10, "s"), WIDGET_INPUT, TAB_KEY, "A") +
                           add_field(combo(COMBO, colours), WIDGET_COMBO, TAB_STANDARD, "CO") +
                           add_field(radio(RADIO, numbers), WIDGET_RADIO, TAB_STANDARD, "RA") +
                           add_field(toggle(TOGGLE, sides), WIDGET_TOGGLE, TAB_STANDARD, "TO");
        if (empty)
            body += add_field(combo(EMPTY_COMBO, {}), WIDGET_COMBO, TAB_STANDARD, "EC") +
                    add_field(radio(EMPTY_RADIO, {}), WIDGET_RADIO, TAB_STANDARD, "ER") +
                    add_field(toggle(EMPTY_TOGGLE, {}), WIDGET_TOGGLE, TAB_STANDARD, "ET");
        body += attach(CM, "Pre_Focus", routine_test::COUNTER, 0) + attach(CM, "Post_Focus", routine_test::PROBE, 0) +
                attach(CM, "Change_Content", routine_test::PROBE, 0) + extra;
        cmat_free_all();
        Outcome o = form(body, routine_test::routines + setter);
        if (o.abort.empty()) answer(1);
        return o;
    }
    // The form on screen, the focus on field index.
    void shown(int index)
    {
        gtk_window_present(GTK_WINDOW(cm()->window));
        ASSERT_TRUE(lumba_test::wait_drawn(cm()->window));
        focus(index);
    }

    combo_data *combo_rec() const { return static_cast<combo_data *>(entry_record(COMBO)); }
    radio_data *radio_rec() const { return static_cast<radio_data *>(entry_record(RADIO)); }
    toggle_data *toggle_rec() const { return static_cast<toggle_data *>(entry_record(TOGGLE)); }
    static std::string label_of(const combo_data *c) { return gtk_label_get_text(GTK_LABEL(c->label)); }
    static guint selected(const combo_data *c)
    {
        return gtk_single_selection_get_selected(GTK_SINGLE_SELECTION(gtk_list_view_get_model(GTK_LIST_VIEW(c->list_view))));
    }
    static bool is_on(const ButtonItem *item)
    {
        return GTK_IS_CHECK_BUTTON(item->button) ? gtk_check_button_get_active(GTK_CHECK_BUTTON(item->button))
                                                 : gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(item->button));
    }
    // Which buttons are on, as "100".
    template <class R> static std::string lit(const R *r)
    {
        std::string s;
        for (const ButtonItem *item = r->values; item; item = item->next) s += is_on(item) ? '1' : '0';
        return s;
    }
    static ButtonItem *nth(ButtonItem *item, int n)
    {
        while (--n > 0) item = item->next;
        return item;
    }

    // A key on the closed combo, through its own controller's handler.
    Pressed combo_key(guint keyval)
    {
        GtkEventController *keys = oska_widget_get_controller(combo_rec()->button, "gcombo");
        Pressed p = capture([&] {
            p.taken = gcombo_key_press_event(GTK_EVENT_CONTROLLER_KEY(keys), keyval, 0, GdkModifierType(0), &record);
        });
        return p;
    }
    // A key in the open list.
    Pressed list_key(guint keyval)
    {
        gboolean taken = FALSE;
        Pressed p = capture([&] { taken = gcombo_tv_key_press_event(nullptr, keyval, 0, GdkModifierType(0), combo_rec()); });
        p.taken = taken;
        return p;
    }
    Pressed open_list()
    {
        return capture([&] { gcombo_edit(cm(), COMBO, 0); });
    }
    // A key on the toggle field's chosen button through its own controller's handler.
    Pressed toggle_key(guint keyval)
    {
        GtkEventController *keys = oska_widget_get_controller(toggle_rec()->active->button, "gtoggle");
        gboolean taken = FALSE;
        Pressed p = capture([&] {
            taken = gtoggle_button_key_press_event(GTK_EVENT_CONTROLLER_KEY(keys), keyval, 0, GdkModifierType(0),
                                                   toggle_rec());
        });
        p.taken = taken;
        return p;
    }
};

// ---- The choice intrinsics ------------------------------------------------------------------------------

TEST_F(ChoiceTest, TheChoiceIntrinsicsServeTheThreeKindsAlike)
{
    struct Kind {
        int field;
        int empty;
        const char *name;   // field name
        const char *word;   // the kind in messages
        std::vector<std::string> texts;
    } kinds[] = {
        {COMBO, EMPTY_COMBO, "CO", "Combo", {"Red", "Green", "Blue"}},
        {RADIO, EMPTY_RADIO, "RA", "Radio Button", {"One", "Two", "Three"}},
        {TOGGLE, EMPTY_TOGGLE, "TO", "Toggle Button", {"Left", "Mid", "Right"}},
    };
    enum Call { SET, GET, VALID };
    struct Case {
        Call call;
        bool by_name;
        std::string item;  // a text argument ("#n": the number n)
        std::string result;  // GET: the text; VALID: "1" or "0"
        int active;          // active_index afterwards (0: unchanged from 1)
        std::string abort;   // "%K" the kind's word, "%F" the field index
        bool empty_field = false;
    };
    for (const Kind &k : kinds) {
        auto text_of = [&](int n) { return k.texts[static_cast<std::size_t>(n - 1)]; };
        const Case cases[] = {
            {SET, false, text_of(2) + "   ", "", 2, ""},
            {SET, true, text_of(3), "", 3, ""},
            {SET, false, "#0", "", 1, ""},
            {SET, false, "#1", "", 1, ""},
            {SET, false, "#3", "", 3, ""},
            {SET, false, "#4", "", 1, "Invalid index 4 in %K"},
            {SET, false, "#-1", "", 1, "Invalid content at index -1 for field %F"},
            {SET, false, "Purple", "", 1, "Value 'Purple' not found in %K"},
            {SET, false, "2", "", 1, "Value '2' not found in %K"},  // a text is never an item number
            {SET, false, "", "", 1, "Invalid content at index -1 for field %F"},
            {GET, false, "#0", text_of(1), 1, ""},
            {GET, true, "#3", text_of(3), 1, ""},
            {GET, false, "#4", "", 1, "Invalid index 4 in %K"},
            {GET, false, "#-2", "", 1, "Invalid content at index -2 for field %F"},
            {GET, false, text_of(1), "", 1, "Invalid data type in third parameter"},
            {VALID, false, text_of(3) + " ", "1", 1, ""},
            {VALID, false, "Purple", "0", 1, ""},
            {VALID, false, "#3", "1", 1, ""},
            {VALID, false, "#4", "0", 1, ""},
            {VALID, false, "#0", "1", 1, ""},
            {VALID, false, "#-1", "", 1, "Invalid content at index -1 for field %F"},
            {SET, false, "#1", "", 0, "Must call igcombo_text_add before calling igcombo_set", true},
            {GET, false, "#1", "", 0, "Must call igcombo_text_add before calling igcombo_get", true},
            {VALID, false, "#1", "0", 0, "", true},
            {VALID, false, text_of(1), "0", 0, "", true},
        };
        for (const Case &c : cases) {
            const int field = c.empty_field ? k.empty : k.field;
            std::string item = c.item.rfind('#', 0) == 0 ? num(std::stol(c.item.substr(1))) : str(c.item);
            std::string call = val(CM) + (c.by_name ? str(std::string(k.name) + "  ") : num(field)) + item;
            call += c.call == SET ? st(in_IGCOMBO_SET, 3)
                    : c.call == GET ? sfn(in_IGCOMBO_GET, 3) + sset(TS)
                                    : fn(in_IGCOMBO_VALIDATE_SET, 3) + set(X);
            const Outcome o = build_choice(call, true);
            std::string abort = c.abort;
            if (auto at = abort.find("%K"); at != std::string::npos) abort.replace(at, 2, k.word);
            if (auto at = abort.find("%F"); at != std::string::npos) abort.replace(at, 2, std::to_string(field));
            const std::string what = std::string(k.word) + " case " + c.item + " call " + std::to_string(c.call);
            EXPECT_EQ(o.abort, abort) << what;
            if (!abort.empty()) continue;
            if (c.call == GET) { EXPECT_EQ(text(TS), c.result) << what; }
            if (c.call == VALID) { EXPECT_EQ(value(X), std::stod(c.result)) << what; }
            if (c.empty_field) continue;
            const int active = k.field == COMBO ? combo_rec()->active_index
                               : k.field == RADIO ? radio_rec()->active_index : toggle_rec()->active_index;
            EXPECT_EQ(active, c.active) << what;
            if (k.field == RADIO) { EXPECT_EQ(lit(radio_rec()), std::string(3, '0').replace(c.active - 1, 1, "1")) << what; }
            if (k.field == TOGGLE) { EXPECT_EQ(lit(toggle_rec()), std::string(3, '0').replace(c.active - 1, 1, "1")) << what; }
            if (k.field == COMBO && c.call == SET) { EXPECT_EQ(label_of(combo_rec()), text_of(c.active)) << what; }
        }
    }
}

TEST_F(ChoiceTest, AddingTextsAndTheWrongCallsStopWithTheirMessages)
{
    auto entry = [&](int field) { return val(CM) + num(field) + fn(in_ICGET_FIELD_ENTRY_PTR, 2) + set(E); };
    struct Case {
        std::string code;
        std::string abort;
    } cases[] = {
        {entry(EMPTY_RADIO) + val(E) + str("") + st(in_IGCOMBO_TEXT_ADD, 2), "Empty values not permitted"},
        {entry(EMPTY_RADIO) + val(E) + str("   ") + st(in_IGCOMBO_TEXT_ADD, 2), "Empty values not permitted"},
        {entry(EMPTY_TOGGLE) + val(E) + str("  ") + st(in_IGCOMBO_TEXT_ADD, 2), "Empty values not permitted"},
        {entry(EMPTY_COMBO) + val(E) + str("  ") + st(in_IGCOMBO_TEXT_ADD, 2) + val(CM) + num(EMPTY_COMBO) + num(1) +
             sfn(in_IGCOMBO_GET, 3) + sset(TS),
         ""},
        {entry(C_KEY) + val(E) + str("x") + st(in_IGCOMBO_TEXT_ADD, 2), "Invalid Widget Type"},
        {entry(COMBO) + val(E) + st(in_IGCOMBO_TEXT_ADD, 1), "Invalid number of parameters"},
        {entry(COMBO) + val(E) + str("x") + str("y") + st(in_IGCOMBO_TEXT_ADD, 3), "Invalid number of parameters"},
        {val(CM) + num(C_KEY) + num(1) + st(in_IGCOMBO_SET, 3), "Invalid widget type"},
        {val(CM) + num(COMBO) + st(in_IGCOMBO_SET, 2), "Unexpected number of parameters 2"},
        {num(0L) + num(COMBO) + num(1) + st(in_IGCOMBO_SET, 3), "No Process Control Matrix found"},
        {ref(CM) + num(COMBO) + fn(in_IGCOMBO_NEW, 2), "An attempt was made to create a combo box twice"},
        {ref(CM) + num(9) + num(0L) + fn(in_IGRADIO_NEW, 3), "Invalid width 0"},
        {ref(CM) + num(9) + num(10) + num(1) + fn(in_IGRADIO_NEW, 4), "May have two or three parameters; not 4"},
        {ref(CM) + num(RADIO) + fn(in_IGRADIO_NEW, 2), "An attempt was made to create a Radio Button twice at index 3"},
        {ref(CM) + num(9) + num(1) + fn(in_IGTOGGLE_NEW, 3), "Wrong number of parameters 3"},
        {ref(CM) + num(TOGGLE) + fn(in_IGTOGGLE_NEW, 2), "An attempt was made to create a Toggle Button twice at index 4"},
    };
    for (const Case &c : cases) {
        const Outcome o = build_choice(c.code, true);
        EXPECT_EQ(o.abort, c.abort) << c.abort;
    }
    EXPECT_EQ(text(TS), "") << "the blank item was added as an empty text";
}

TEST_F(ChoiceTest, TheComboShowsItsLongestTextUntilSetAndAWidthStacksRadioButtons)
{
    ASSERT_EQ(build_choice().abort, "");
    combo_data *c = combo_rec();
    EXPECT_EQ(label_of(c), "Green") << "the longest text, without its blanks";
    EXPECT_EQ(c->active_index, 1);
    EXPECT_STREQ(c->active->text, "Red");
    EXPECT_EQ(g_list_model_get_n_items(G_LIST_MODEL(c->store)), 3u);
    gcombo_clear_display(c);
    EXPECT_EQ(label_of(c), "Red");

    ASSERT_EQ(build_choice(ref(CM) + num(9) + num(80) + fn(in_IGRADIO_NEW, 3) + set(E) + val(E) + str("a") +
                           st(in_IGCOMBO_TEXT_ADD, 2) + val(E) + str("b") + st(in_IGCOMBO_TEXT_ADD, 2))
                  .abort,
              "");
    auto *stacked = reinterpret_cast<radio_data *>(handle(E));
    EXPECT_EQ(stacked->row, nullptr);
    EXPECT_EQ(gtk_widget_get_parent(stacked->values->next->button), stacked->box);
    int w = 0;
    gtk_widget_get_size_request(stacked->values->button, &w, nullptr);
    EXPECT_EQ(w, 80);
    EXPECT_EQ(gtk_widget_get_parent(radio_rec()->values->button), radio_rec()->row);
}

// ---- Placement ----------------------------------------------------------------------------------------

TEST(ComboPlacement, BelowAboveTheLargerSideAndTheEdges)
{
    const GdkRectangle monitor{0, 0, 1000, 800};
    struct Case {
        ComboListGeometry in;
        ComboListPlace out;
    } cases[] = {
        // Fits below.
        {{100, 100, 120, 30, 100, 200, monitor}, {100, 130, 120, 200, false, false}},
        // Not below, fits above.
        {{100, 700, 120, 30, 100, 200, monitor}, {100, 500, 120, 200, false, false}},
        // Neither: more room above (y 500) than below (270): cut to the room above.
        {{100, 500, 120, 30, 100, 700, monitor}, {100, 0, 120, 500, false, true}},
        // Neither: more room below (500) than above (270).
        {{100, 270, 120, 30, 100, 700, monitor}, {100, 300, 120, 500, false, true}},
        // Equal room goes above.
        {{100, 385, 120, 30, 100, 700, monitor}, {100, 0, 120, 385, false, true}},
        // Items wider than the button: a horizontal scrollbar.
        {{100, 100, 120, 30, 300, 50, monitor}, {100, 130, 120, 50, true, false}},
        // Past the right edge and before the left one.
        {{950, 100, 120, 30, 100, 50, monitor}, {880, 130, 120, 50, false, false}},
        {{-20, 100, 120, 30, 100, 50, monitor}, {0, 130, 120, 50, false, false}},
        // A monitor that does not begin at the origin.
        {{1010, 1700, 100, 30, 80, 150, {1000, 1000, 800, 800}}, {1010, 1550, 100, 150, false, false}},
    };
    for (const Case &c : cases) {
        const ComboListPlace p = gcombo_list_place(c.in);
        const std::string what = "button at " + std::to_string(c.in.x) + "," + std::to_string(c.in.y);
        EXPECT_EQ(p.x, c.out.x) << what;
        EXPECT_EQ(p.y, c.out.y) << what;
        EXPECT_EQ(p.width, c.out.width) << what;
        EXPECT_EQ(p.height, c.out.height) << what;
        EXPECT_EQ(p.scroll_horizontal, c.out.scroll_horizontal) << what;
        EXPECT_EQ(p.scroll_vertical, c.out.scroll_vertical) << what;
    }
}

TEST_F(ChoiceTest, AComboNearTheScreensBottomOpensItsListAbove)
{
    for (const bool low : {false, true}) {
        ASSERT_EQ(build_choice().abort, "");
        if (low) {
            // A spacer pushes the fields to the foot of the 1024-pixel screen.
            GtkWidget *spacer = gtk_label_new("");
            gtk_widget_set_size_request(spacer, 10, 960);
            gtk_box_prepend(GTK_BOX(handle_widget(static_cast<std::uintptr_t>(handle(Y)))), spacer);
        }
        shown(COMBO);
        EXPECT_EQ(open_list().abort, "");
        combo_data *c = combo_rec();
        ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_get_mapped(c->list_view); }));
        GdkRectangle rect{};
        ASSERT_TRUE(gtk_popover_get_pointing_to(GTK_POPOVER(c->popover), &rect));
        graphene_point_t origin = GRAPHENE_POINT_INIT(0.f, 0.f), at{};
        ASSERT_TRUE(gtk_widget_compute_point(c->button, cm()->window, &origin, &at));
        if (low) {
            EXPECT_GT(at.y, 900.f) << "the combo lies near the bottom";
            EXPECT_LT(rect.y, 0) << "the list hangs above the button";
        } else {
            EXPECT_EQ(rect.y, gtk_widget_get_allocated_height(c->button) - 1) << "the list hangs below the button";
        }
        EXPECT_EQ(c->list_open, 1);
        gcombo_popdown_menu(c);
        EXPECT_EQ(c->list_open, 0);
    }
}

// ---- Combo keys ---------------------------------------------------------------------------------------

TEST_F(ChoiceTest, ClosedComboKeysMoveTheChoiceWithoutARoutine)
{
    ASSERT_EQ(build_choice().abort, "");
    shown(COMBO);
    combo_data *c = combo_rec();
    struct Case {
        guint key;
        int active;
        const char *label;
    } cases[] = {
        {GDK_KEY_Up, 1, "Green"},  // at item 1 nothing changes (the label still shows the longest text)
        {GDK_KEY_Down, 2, "Green"}, {GDK_KEY_Down, 3, "Blue"}, {GDK_KEY_Down, 3, "Blue"},
        {GDK_KEY_Home, 1, "Red"},   {GDK_KEY_End, 3, "Blue"},  {GDK_KEY_uparrow, 2, "Green"},
    };
    for (const Case &k : cases) {
        const Pressed p = combo_key(k.key);
        EXPECT_EQ(p.abort, "") << gdk_keyval_name(k.key);
        EXPECT_TRUE(p.taken);
        EXPECT_TRUE(p.logged.empty()) << gdk_keyval_name(k.key) << ": no routine";
        EXPECT_EQ(c->active_index, k.active) << gdk_keyval_name(k.key);
        EXPECT_EQ(label_of(c), k.label) << gdk_keyval_name(k.key);
    }
    // Left goes on to the form's dispatcher, which swallows it on a combo.
    const Pressed left = combo_key(GDK_KEY_Left);
    EXPECT_TRUE(left.taken);
    EXPECT_EQ(c->active_index, 2);
    // Space opens the list at the chosen item.
    EXPECT_EQ(combo_key(GDK_KEY_space).abort, "");
    EXPECT_EQ(c->list_open, 1);
    EXPECT_EQ(selected(c), 1u);
    EXPECT_NE(c->key_handler, 0u);
    gcombo_popdown_menu(c);
    EXPECT_EQ(c->key_handler, 0u);
}

TEST_F(ChoiceTest, MovesInTheOpenListRunChangeContentAndOnlyConfirmingKeysCommit)
{
    struct Case {
        const char *name;
        std::vector<guint> keys;              // in the open list, the choice being item 3 (Blue)
        std::vector<std::string> logged;      // routines of the keys
        int active;                           // afterwards
        int focus;                            // afterwards
    } cases[] = {
        // Down on the last row wraps to the first: Change_Content gets "Red", the choice stays.
        {"down wraps", {GDK_KEY_Down}, {"probe 2 -1 [Red]"}, 3, COMBO},
        {"up", {GDK_KEY_Up}, {"probe 2 -1 [Green]"}, 3, COMBO},
        {"escape keeps", {GDK_KEY_Down, GDK_KEY_Escape}, {"probe 2 -1 [Red]", "probe 2 3 [Blue]", "pre 3"}, 3, RADIO},
        {"enter commits", {GDK_KEY_Down, GDK_KEY_Return}, {"probe 2 -1 [Red]", "probe 2 1 [Red]", "pre 3"}, 1, RADIO},
        {"F12 commits", {GDK_KEY_Up, GDK_KEY_F12}, {"probe 2 -1 [Green]", "probe 2 2 [Green]", "pre 3"}, 2, RADIO},
        {"tab commits", {GDK_KEY_Down, GDK_KEY_Tab}, {"probe 2 -1 [Red]", "probe 2 1 [Red]", "pre 3"}, 1, RADIO},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(build_choice().abort, "");
        shown(COMBO);
        combo_data *combo = combo_rec();
        combo_key(GDK_KEY_End);
        ASSERT_EQ(open_list().abort, "");
        ASSERT_EQ(selected(combo), 2u);
        std::vector<std::string> logged;
        for (guint key : c.keys) {
            const Pressed p = list_key(key);
            EXPECT_EQ(p.abort, "") << c.name;
            EXPECT_TRUE(p.taken) << c.name;
            logged.insert(logged.end(), p.logged.begin(), p.logged.end());
        }
        EXPECT_EQ(logged, c.logged) << c.name;
        EXPECT_EQ(combo->active_index, c.active) << c.name;
        EXPECT_STREQ(combo->active->text, colours[static_cast<std::size_t>(c.active - 1)].substr(0, c.active == 2 ? 5 : 4).c_str())
            << c.name;
        EXPECT_EQ(cm()->current_focus, c.focus) << c.name;
        if (c.focus != COMBO) {
            EXPECT_EQ(combo->list_open, 0) << c.name << ": closed and done";
            EXPECT_FALSE(gtk_widget_get_visible(combo->popover)) << c.name;
        }
    }
}

// Keys faster than the main loop (a quick user on a busy machine): Down and Return in the open
// list are handled before the list's own work at the next idle moment (the selected row taking
// the keyboard) has run; that work then finds the list closed and leaves the keyboard on the next
// field.
TEST_F(ChoiceTest, KeysFasterThanTheLoopLeaveTheKeyboardOnTheNextField)
{
    ASSERT_EQ(build_choice().abort, "");
    shown(COMBO);
    ASSERT_EQ(open_list().abort, "");
    EXPECT_EQ(list_key(GDK_KEY_Down).abort, "");
    EXPECT_EQ(list_key(GDK_KEY_Return).abort, "");
    ASSERT_EQ(cm()->current_focus, RADIO);
    lumba_test::drain();
    EXPECT_FALSE(gtk_widget_get_visible(combo_rec()->popover));
    GtkWidget *focus = gtk_root_get_focus(GTK_ROOT(cm()->window));
    EXPECT_EQ(focus, radio_rec()->active->button) << (focus ? G_OBJECT_TYPE_NAME(focus) : "no focus");
}

TEST_F(ChoiceTest, APressInTheListRunsChangeContentAndItsActivationCommits)
{
    ASSERT_EQ(build_choice().abort, "");
    shown(COMBO);
    combo_data *c = combo_rec();
    ASSERT_EQ(open_list().abort, "");
    auto *selection = GTK_SINGLE_SELECTION(gtk_list_view_get_model(GTK_LIST_VIEW(c->list_view)));
    GtkGesture *press = GTK_GESTURE(oska_widget_get_controller(c->list_view, "button-press-button"));
    ASSERT_NE(press, nullptr);

    // A press on the chosen row runs nothing; on another row it runs Change_Content.
    Pressed same = capture([&] { gcombo_tv_button_press_event(GTK_GESTURE_CLICK(press), 1, 1, 1, c); });
    EXPECT_TRUE(same.logged.empty());
    gtk_single_selection_set_selected(selection, 2);
    Pressed other = capture([&] { gcombo_tv_button_press_event(GTK_GESTURE_CLICK(press), 1, 1, 1, c); });
    EXPECT_EQ(other.abort, "");
    EXPECT_EQ(other.logged, std::vector<std::string>{"probe 2 -1 [Blue]"});
    EXPECT_EQ(c->pending_index, 3);
    EXPECT_EQ(c->active_index, 1) << "pending until the row is activated";

    // A click elsewhere in the form commits the pending choice (the click handler's row member).
    widget_type(WIDGET_COMBO).commit_pending(cm(), COMBO);
    EXPECT_EQ(c->active_index, 3);
    EXPECT_EQ(c->pending_index, -1);
    EXPECT_EQ(label_of(c), "Blue");

    // The activation of a row commits it and runs the Enter handling.
    Pressed activated = capture([&] { gcombo_row_activated(GTK_LIST_VIEW(c->list_view), 1, c); });
    EXPECT_EQ(activated.abort, "");
    EXPECT_EQ(activated.logged, (std::vector<std::string>{"probe 2 2 [Green]", "pre 3"}));
    EXPECT_EQ(c->active_index, 2);
    EXPECT_EQ(c->list_open, 0);
    EXPECT_EQ(cm()->current_focus, RADIO);
}

TEST_F(ChoiceTest, F12AndEscapeOnTheFormReachAnOpenList)
{
    for (const bool save : {true, false}) {
        ASSERT_EQ(build_choice().abort, "");
        shown(COMBO);
        combo_data *c = combo_rec();
        EXPECT_EQ(gcombo_button_press_save(cm(), COMBO), 0) << "no list open";
        EXPECT_EQ(gcombo_button_press_save(cm(), RADIO), 0) << "no combo";
        ASSERT_EQ(open_list().abort, "");
        // As while the form's Enter handling runs for a choice made in the list: editing has
        // ended and the choice waits.
        cinvoke_post_display(cm(), 0);
        c->list_open = 1;
        c->pending = c->values->next;
        c->pending_index = 2;
        const Pressed p = press(COMBO, save ? GDK_KEY_F12 : GDK_KEY_Escape);
        EXPECT_EQ(p.abort, "");
        EXPECT_EQ(c->active_index, save ? 2 : 1) << "F12 commits the pending choice, Escape does not";
        EXPECT_TRUE(p.taken);
        if (save) {
            EXPECT_EQ(p.logged, (std::vector<std::string>{"probe 2 2 [Green]", "pre 3"}));
            EXPECT_EQ(cm()->current_focus, RADIO);
        } else {
            // Escape holds its guard, so the Enter handling it asks for is dropped as any Enter
            // arriving during Escape's work is: nothing runs, the list's choice still waits.
            EXPECT_TRUE(p.logged.empty());
            EXPECT_EQ(cm()->current_focus, COMBO);
            EXPECT_EQ(c->list_open, 1);
        }
    }
}

TEST_F(ChoiceTest, TheFormsFirstCheckSetsTheComboAndChangeRoutinesMayNotMoveTheFocus)
{
    ASSERT_EQ(build_choice("", true).abort, "");
    auto *empty = static_cast<combo_data *>(entry_record(EMPTY_COMBO));
    EXPECT_EQ(capture([&] { gcombo_popup_menu(empty); }).abort, "Unable to find active item");
    EXPECT_EQ(capture([&] { gcombo_edit(cm(), RADIO, 0); }).abort, "Unexpected type found in Combo");
    EXPECT_EQ(capture([&] { gcombo_edit(cm(), EMPTY_COMBO, 1); }).abort, "") << "flag 1 opens nothing";
    EXPECT_EQ(build_choice(set_focus, true).abort, "Must call igcombo_text_add before calling igcombo_set");

    ASSERT_EQ(build_choice(set_focus + attach(CM, "Change_Content", MOVER, COMBO) +
                           attach(CM, "Change_Content", MOVER, RADIO) + attach(CM, "Change_Content", MOVER, TOGGLE))
                  .abort,
              "");
    EXPECT_EQ(label_of(combo_rec()), "Red") << "the first check set the combo to its first item";
    shown(COMBO);
    ASSERT_EQ(open_list().abort, "");
    EXPECT_EQ(list_key(GDK_KEY_Down).abort,
              "in gcombo.c   Not permitted to change focus from a function attached with the Change_Content Action Code");
    shown(RADIO);
    EXPECT_EQ(press_on(radio_rec()->active->button, GDK_KEY_Right).abort,
              "in gradio.c Not permitted to change focus from a function attached with the Change_Content Action Code");
    shown(TOGGLE);
    EXPECT_EQ(toggle_key(GDK_KEY_Right).abort,
              "in gtoggle.c   Not permitted to change focus from a function attached with the Change_Content Action "
              "Code");
}

// ---- Radio and toggle ---------------------------------------------------------------------------------

TEST_F(ChoiceTest, RadioAndToggleKeyVariants)
{
    enum Way { RADIO_HOOK, TOGGLE_OWN, TOGGLE_HOOK };
    struct Case {
        Way way;
        std::vector<guint> keys;
        std::string lit;                  // buttons on afterwards
        std::vector<std::string> logged;  // Change_Content runs
        gboolean taken;                   // of the last key
    } cases[] = {
        {RADIO_HOOK, {GDK_KEY_Left}, "100", {}, TRUE},
        {RADIO_HOOK, {GDK_KEY_Right}, "010", {"probe 3 2 [Two]"}, TRUE},
        {RADIO_HOOK, {GDK_KEY_Down, GDK_KEY_KP_Down, GDK_KEY_Down}, "001", {"probe 3 2 [Two]", "probe 3 3 [Three]"}, TRUE},
        {RADIO_HOOK, {GDK_KEY_Right, GDK_KEY_Up}, "100", {"probe 3 2 [Two]", "probe 3 1 [One]"}, TRUE},
        {RADIO_HOOK, {GDK_KEY_a}, "100", {}, FALSE},
        {TOGGLE_OWN, {GDK_KEY_Left}, "100", {}, TRUE},
        {TOGGLE_OWN, {GDK_KEY_Down, GDK_KEY_KP_Right}, "001", {"probe 4 -1 [Mid]", "probe 4 -1 [Right]"}, TRUE},
        {TOGGLE_OWN, {GDK_KEY_Right, GDK_KEY_Up}, "100", {"probe 4 -1 [Mid]", "probe 4 -1 [Left]"}, TRUE},
        {TOGGLE_HOOK, {GDK_KEY_Right, GDK_KEY_KP_Right, GDK_KEY_Right}, "001", {}, TRUE},
        {TOGGLE_HOOK, {GDK_KEY_Down}, "100", {}, FALSE},
        {TOGGLE_HOOK, {GDK_KEY_Left}, "100", {}, TRUE},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(build_choice().abort, "");
        const int field = c.way == RADIO_HOOK ? RADIO : TOGGLE;
        shown(field);
        std::vector<std::string> logged;
        gboolean taken = FALSE;
        for (guint key : c.keys) {
            GtkWidget *button = field == RADIO ? radio_rec()->active->button : toggle_rec()->active->button;
            const Pressed p = c.way == TOGGLE_OWN ? toggle_key(key) : press_on(button, key);
            EXPECT_EQ(p.abort, "");
            logged.insert(logged.end(), p.logged.begin(), p.logged.end());
            taken = p.taken;
        }
        const std::string what = std::to_string(c.way) + " " + gdk_keyval_name(c.keys.front());
        EXPECT_EQ(field == RADIO ? lit(radio_rec()) : lit(toggle_rec()), c.lit) << what;
        EXPECT_EQ(logged, c.logged) << what;
        EXPECT_EQ(taken, c.taken) << what;
        const int active = field == RADIO ? radio_rec()->active_index : toggle_rec()->active_index;
        EXPECT_EQ(active, static_cast<int>(c.lit.find('1')) + 1) << what;
        GtkWidget *focused = gtk_root_get_focus(GTK_ROOT(cm()->window));
        EXPECT_EQ(focused, field == RADIO ? radio_rec()->active->button : toggle_rec()->active->button) << what;
    }
}

TEST_F(ChoiceTest, SettingByTextRunsTheRadioRoutineButNoToggleRoutine)
{
    const std::string set_toggle = val(CM) + num(TOGGLE) + str("Right") + st(in_IGCOMBO_SET, 3);
    const std::string set_radio = val(CM) + num(RADIO) + str("Three ") + st(in_IGCOMBO_SET, 3);
    std::vector<std::string> logged;
    const Outcome toggled = build_choice(set_toggle);
    EXPECT_EQ(toggled.abort, "");
    EXPECT_EQ(lit(toggle_rec()), "001");
    for (const std::string &l : log_lines(toggled.err))
        if (l.rfind("B ", 0) == 0) logged.push_back(l.substr(2));
    EXPECT_TRUE(logged.empty()) << "no routine on a toggle field";

    const Outcome radioed = build_choice(set_radio);
    EXPECT_EQ(radioed.abort, "");
    EXPECT_EQ(lit(radio_rec()), "001");
    for (const std::string &l : log_lines(radioed.err))
        if (l.rfind("B ", 0) == 0) logged.push_back(l.substr(2));
    // The button switched off and the one switched on both run it; IP$ is the field's new text.
    EXPECT_EQ(logged, (std::vector<std::string>{"probe 3 3 [Three]", "probe 3 3 [Three]"}));
}

TEST_F(ChoiceTest, ARadioRoutineSettingItsOwnFieldDoesNotRunAgainInsideItself)
{
    ASSERT_EQ(build_choice(attach(CM, "Change_Content", SETTER, RADIO)).abort, "");
    shown(RADIO);
    const Pressed p = press_on(radio_rec()->active->button, GDK_KEY_Right);
    EXPECT_EQ(p.abort, "");
    EXPECT_EQ(p.logged, std::vector<std::string>{"set [Two]"});
    EXPECT_EQ(radio_rec()->active_index, 3);
    EXPECT_EQ(lit(radio_rec()), "001");

    // Blocking it while it runs leaves a click's two "toggled" signals (the button going off and
    // the one going on) running it once each.
    ASSERT_EQ(build_choice().abort, "");
    shown(RADIO);
    const Pressed click = capture([&] {
        GtkWidget *two = radio_rec()->values->next->button;
        widget_type(WIDGET_RADIO).click_choice(cm(), RADIO, two);
        gtk_check_button_set_active(GTK_CHECK_BUTTON(two), TRUE);
    });
    EXPECT_EQ(click.abort, "");
    EXPECT_EQ(click.logged, (std::vector<std::string>{"probe 3 2 [Two]", "probe 3 2 [Two]"}));
    EXPECT_EQ(lit(radio_rec()), "010");
}

TEST_F(ChoiceTest, ClearingTogglingAndReleasingKeepOneButtonOn)
{
    ASSERT_EQ(build_choice().abort, "");
    shown(TOGGLE);
    toggle_data *t = toggle_rec();
    // The toolkit flips the pressed button off on a click; the release puts it back in.
    ButtonItem *first = t->values;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(first->button), FALSE);
    GtkGesture *release = GTK_GESTURE(oska_widget_get_controller(first->button, "gtoggle-button-release"));
    ASSERT_NE(release, nullptr);
    gtoggle_button_release_event(GTK_GESTURE_CLICK(release), 1, 1, 1, t);
    EXPECT_EQ(lit(t), "100");

    // The focus arriving by a click on a button makes it the choice; by a key (no button) nothing.
    gtoggle_button_toggle(cm(), TOGGLE, 0, nth(t->values, 3)->button);
    EXPECT_EQ(lit(t), "001");
    EXPECT_EQ(t->active_index, 3);
    widget_type(WIDGET_TOGGLE).toggle(cm(), TOGGLE, GDK_KEY_Tab, 0, nullptr);
    EXPECT_EQ(lit(t), "001");
    widget_type(WIDGET_TOGGLE).click_choice(cm(), TOGGLE, t->values->next->button);
    EXPECT_EQ(t->active_index, 2);
    widget_type(WIDGET_TOGGLE).click_choice(cm(), TOGGLE, t->box);  // no choice of the field
    EXPECT_EQ(t->active_index, 2);
    EXPECT_EQ(lit(t), "000") << "the toolkit switches the clicked button on";

    // Clearing goes back to the first item, without a routine on a radio field.
    const Pressed cleared = capture([&] {
        gradio_button_do_set(radio_rec(), "", 2);
        cclear_fields(cm(), 1);
    });
    EXPECT_EQ(cleared.abort, "");
    EXPECT_EQ(lit(radio_rec()), "100");
    EXPECT_EQ(lit(t), "100");
    EXPECT_EQ(combo_rec()->active_index, 1);
    EXPECT_EQ(capture([&] { gradio_button_toggle(cm(), TOGGLE, 0, nullptr); }).abort,
              "Unexpectedly didn't find Radio Button internal data at index 4");
}

// A click from the field before onto one item of a radio or toggle field moves the focus there and
// makes that item the choice (the form's click handler claims the click, so the toolkit does not).
TEST_F(ChoiceTest, AClickFromAnotherFieldChoosesTheClickedItem)
{
    ASSERT_EQ(build_choice().abort, "");
    cm()->focus_initialised = 1;
    shown(COMBO);
    const Pressed radio = capture([&] { cclick_button_press(nth(radio_rec()->values, 3)->button, 1, 1, 5, 5, &record); });
    EXPECT_EQ(radio.abort, "");
    EXPECT_EQ(cm()->current_focus, RADIO);
    EXPECT_EQ(radio_rec()->active_index, 3);
    EXPECT_EQ(lit(radio_rec()), "001");
    // The button going off and the one going on each run Change_Content with the new text.
    EXPECT_EQ(std::count(radio.logged.begin(), radio.logged.end(), "probe 3 3 [Three]"), 2) << radio.logged.size();

    const Pressed toggle = capture([&] { cclick_button_press(nth(toggle_rec()->values, 2)->button, 1, 1, 5, 5, &record); });
    EXPECT_EQ(toggle.abort, "");
    EXPECT_EQ(cm()->current_focus, TOGGLE);
    EXPECT_EQ(toggle_rec()->active_index, 2);
    EXPECT_EQ(lit(toggle_rec()), "010");
}

// A user's click on the toggle field's pressed button leaves it pressed: the toolkit flips it off
// and the release puts it back in. F4 (which runs nothing) after the click shows when the X server's
// events up to the click's release have all been handled.
TEST_F(ChoiceTest, AUsersClickOnThePressedToggleLeavesItPressed)
{
    ASSERT_EQ(build_choice().abort, "");
    cm()->focus_initialised = 1;
    record.log_level_lumbas = 0;
    shown(TOGGLE);
    toggle_data *t = toggle_rec();
    ASSERT_EQ(lit(t), "100");
    ASSERT_TRUE(lumba_test::wait_drawn(t->values->button));
    int x = 0, y = 0;
    lumba_test::widget_centre(t->values->button, &x, &y);
    const lumba_test::Xdotool user(lumba_test::gui_display());
    const Pressed p = capture([&] {
        const std::string id = lumba_test::x_window_id(cm()->window);
        user.focus(id);
        user.click(id, x, y);
        user.key({"F4"});
        ASSERT_TRUE(lumba_test::wait_until([&] { return std::string(cm()->event_name) == "F4"; }));
        // The pointer goes back to the screen's corner, where no later test's window lies under it.
        user.run({"mousemove", "--sync", "0", "0"});
    });
    EXPECT_EQ(p.abort, "");
    EXPECT_EQ(std::count_if(p.lines.begin(), p.lines.end(),
                            [](const std::string &l) { return l.find("A Mouse Click - button1") != std::string::npos; }),
              1) << "the click reached the field";
    EXPECT_EQ(lit(t), "100");
    EXPECT_EQ(t->active_index, 1);
    EXPECT_EQ(cm()->current_focus, TOGGLE);
}

// ---- A user's keys ---------------------------------------------------------------------------------------

TEST_F(ChoiceTest, AUsersKeysChooseInTheThreeKinds)
{
    ASSERT_EQ(build_choice().abort, "");
    shown(COMBO);
    combo_data *c = combo_rec();
    const lumba_test::Xdotool user(lumba_test::gui_display());
    const Pressed p = capture([&] {
        user.focus(lumba_test::x_window_id(cm()->window));
        // Space opens the list at Red, Down highlights Green, Return commits it and moves on.
        user.key({"space"});
        ASSERT_TRUE(lumba_test::wait_until([&] {
            GtkWidget *focus = gtk_root_get_focus(GTK_ROOT(cm()->window));
            return gtk_widget_get_mapped(c->list_view) && focus && gtk_widget_is_ancestor(focus, c->list_view);
        }));
        user.key({"Down", "Return"});
        ASSERT_TRUE(lumba_test::wait_until([&] { return cm()->current_focus == RADIO; }));
        // The radio field's Right moves its choice on; Tab goes on to the toggle field, whose own
        // keys move its choice.
        ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(radio_rec()->active->button); }));
        user.key({"Right"});
        ASSERT_TRUE(lumba_test::wait_until([&] { return radio_rec()->active_index == 2; }));
        user.key({"Tab"});
        ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(toggle_rec()->active->button); }));
        user.key({"Right"});
        ASSERT_TRUE(lumba_test::wait_until([&] { return toggle_rec()->active_index == 2; }));
    });
    EXPECT_EQ(p.abort, "");
    EXPECT_EQ(c->active_index, 2);
    EXPECT_EQ(label_of(c), "Green");
    EXPECT_EQ(lit(radio_rec()), "010");
    EXPECT_EQ(lit(toggle_rec()), "010");
    EXPECT_EQ(p.logged, (std::vector<std::string>{"probe 2 -1 [Green]", "probe 2 2 [Green]", "pre 3",
                                                  "probe 3 2 [Two]", "probe 3 2 [Two]", "pre 4", "probe 4 -1 [Mid]"}));
}

// A routine that reads a choice field gets the chosen item's number as IP and its text as IP$,
// and the run-time log says which it read.
TEST_F(ChoiceTest, ARoutineReadsTheChosenItemsNumberAsIP)
{
    const auto choose = [](int field, const char *text) { return val(CM) + num(field) + str(text) + st(in_IGCOMBO_SET, 3); };
    struct Case {
        int field;
        std::string logged, line;
    } cases[] = {
        {COMBO, "probe 2 3 [Blue]", "gkey_press_get_ip: Combo 'Blue' Index 3"},
        {RADIO, "probe 3 2 [Two]", "gkey_press_get_ip: Radio Button 'Two' Index 2"},
        {TOGGLE, "probe 4 3 [Right]", "gkey_press_get_ip: Toggle Button 'Right' Index 3"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(build_choice(choose(COMBO, "Blue") + choose(RADIO, "Two") + choose(TOGGLE, "Right")).abort, "");
        shown(c.field);
        record.log_level_lumbas = 2;
        const Pressed p = press(c.field, GDK_KEY_Tab);
        EXPECT_EQ(p.abort, "") << c.line;
        ASSERT_FALSE(p.logged.empty()) << c.line;
        EXPECT_EQ(p.logged.front(), c.logged);
        EXPECT_NE(std::find_if(p.lines.begin(), p.lines.end(), [&](const std::string &l) { return l.ends_with(c.line); }),
                  p.lines.end())
            << testing::PrintToString(p.lines);
    }
}

// Up and Down on the closed combo edit it: its Edit_Content routine runs before the first of them
// moves the choice, once in the field's visit.
TEST_F(ChoiceTest, UpAndDownOnTheClosedComboRunEditContentFirst)
{
    ASSERT_EQ(build_choice(attach(CM, "Edit_Content", routine_test::PROBE, COMBO)).abort, "");
    shown(COMBO);
    combo_data *c = combo_rec();
    const Pressed down = combo_key(GDK_KEY_Down);
    EXPECT_EQ(down.abort, "");
    EXPECT_EQ(down.logged, std::vector<std::string>{"probe 2 1 [Red]"}) << "told before the choice moved";
    EXPECT_EQ(c->active_index, 2);
    const Pressed up = combo_key(GDK_KEY_Up);
    EXPECT_TRUE(up.logged.empty()) << "once in the visit";
    EXPECT_EQ(c->active_index, 1);
}

// One table routes the form's keys on the field and in the combo's open list: every key in it does
// in the open list what it does on the field (the same event, the focus where the field's key
// leaves it), but Enter, F12 and Escape, which close the list and go on as Enter on the field.
TEST_F(ChoiceTest, EveryRoutedKeyDoesInTheOpenListWhatItDoesOnTheField)
{
    struct Outcome {
        std::string abort, event;
        int focus = 0;
    };
    const auto outcome = [&](const Pressed &p) {
        return Outcome{p.abort, p.abort.empty() ? cm()->event_name : "", p.abort.empty() ? cm()->current_focus : 0};
    };
    ASSERT_FALSE(key_routes().empty());
    for (const KeyRoute &route : key_routes()) {
        const char *name = gdk_keyval_name(route.keyval);
        ASSERT_EQ(build_choice().abort, "") << name;
        shown(COMBO);
        ASSERT_EQ(open_list().abort, "") << name;
        cm()->event_name[0] = '\0';
        const Outcome in_list = outcome(list_key(route.keyval));
        EXPECT_EQ(in_list.abort, "") << name;
        EXPECT_NE(in_list.event, "") << name << ": the key's handler ran";
        if (route.action == KeyAction::enter || route.action == KeyAction::f12 ||
            route.action == KeyAction::escape) {
            EXPECT_EQ(in_list.event, "Enter") << name;
            EXPECT_EQ(in_list.focus, RADIO) << name;
            continue;
        }
        ASSERT_EQ(build_choice().abort, "") << name;
        shown(COMBO);
        cm()->event_name[0] = '\0';
        const Outcome on_field = outcome(press(COMBO, route.keyval));
        EXPECT_EQ(on_field.abort, "") << name;
        EXPECT_EQ(in_list.event, on_field.event) << name;
        EXPECT_EQ(in_list.focus, on_field.focus) << name;
    }
}

// Tab and the function keys in the open list hold Enter's guard as on the form: while another
// event is at work (its routine waiting in a dialog) they are dropped and the list stays open.
TEST_F(ChoiceTest, KeysInTheOpenListWaitForTheEventAtWork)
{
    for (guint key : {GDK_KEY_Tab, GDK_KEY_ISO_Left_Tab, GDK_KEY_F2, GDK_KEY_F3, GDK_KEY_F5, GDK_KEY_F9}) {
        ASSERT_EQ(build_choice().abort, "");
        shown(COMBO);
        ASSERT_EQ(open_list().abort, "");
        record.activate_lock = 1;  // as while an Enter routine waits in a dialog
        const Pressed p = list_key(key);
        record.activate_lock = 0;
        EXPECT_EQ(p.abort, "") << gdk_keyval_name(key);
        EXPECT_TRUE(p.taken) << gdk_keyval_name(key);
        EXPECT_TRUE(p.logged.empty()) << gdk_keyval_name(key);
        EXPECT_EQ(combo_rec()->list_open, 1) << gdk_keyval_name(key);
        EXPECT_EQ(cm()->current_focus, COMBO) << gdk_keyval_name(key);
        gcombo_popdown_menu(combo_rec());
    }
}
