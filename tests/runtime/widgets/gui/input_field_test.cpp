// The typed input field in-process: IGINPUT_NEW and its checks, typing through the insert
// filter as the forms engine unblocks it, the Enter check with its warnings, the display form of
// numbers on leaving and on IGPRINT, the value routines get, and the right-mouse edit menu.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dialog_script.h"
#include "ginput.h"
#include "gtext.h"
#include "gui_env.h"
#include "typed_fields_fixture.h"
#include "xdotool.h"

using namespace forms_test;
using namespace typed_test;

namespace {

std::string shown(GtkWidget *w) { return gtk_editable_get_text(GTK_EDITABLE(w)); }

} // namespace

TEST_F(TypedFieldsTest, TypingIsFilteredByTheInputTypeWhileTheFieldIsEdited)
{
    const std::string body = window_form() + add_field(input(1, 0, 10, "n2"), WIDGET_INPUT) +
                             add_field(input(2, 0, 10, "au"), WIDGET_INPUT);
    ASSERT_EQ(form(body).abort, "");
    GtkWidget *number = entry_widget(1), *letters = entry_widget(2);

    // Not edited: the filter is blocked, so anything goes in (as a program's text would).
    type(number, "x");
    EXPECT_EQ(shown(number), "x");
    gtk_editable_set_text(GTK_EDITABLE(number), "");

    edit(1);
    record.log_level_lumbas = 3;
    testing::internal::CaptureStderr();
    type(number, "12.345");
    const std::vector<std::string> log = log_lines(testing::internal::GetCapturedStderr());
    record.log_level_lumbas = -1;
    EXPECT_EQ(shown(number), "12.34") << "the third decimal is refused";
    // Logged at level 3, indented by the log for its level.
    EXPECT_EQ(log, (std::vector<std::string>{"      Bell - function has been called:", "          on_ginput_insert_text"}));
    leave();
    EXPECT_EQ(shown(number), "12.34");

    edit(2);
    type(letters, "abc");
    EXPECT_EQ(shown(letters), "ABC");
}

TEST_F(TypedFieldsTest, InputConstructionChecksItsArgumentsAndType)
{
    const auto make = [](const std::string &type, const std::vector<std::string> &more = {}) {
        return window_form() + input(1, 0, 10, type, more);
    };
    struct Case {
        std::string body, abort;
    } cases[] = {
        {window_form() + ref(CM) + num(1) + num(0L) + num(10) + num("0.5") + num(0L) + fn(in_IGINPUT_NEW, 6),
         "Must have seven, nine, or ten parameters; not 6"},
        {make("c", {str("x")}), "Must have seven, nine, or ten parameters; not 8"},
        {ref(X) + num(1) + num(0L) + num(10) + num("0.5") + num(0L) + str("c") + fn(in_IGINPUT_NEW, 7),
         "Must set the Process Control Matrix first"},
        {make("c", {str(""), str(""), num(2)}), "Invalid value for optional hidden parameter 2"},
        // The type is normalised before it is checked.
        {make("mb"), "Input Type to iginput_new is invalid; Index 1; Type 'mb0'"},
        {make("m,2"), "Input Type to iginput_new is invalid; Index 1; Type 'm,2'"},
        {make("nu"), "Input Type to iginput_new is invalid; Index 1; Type 'nu0'"},
        {make("cx"), "Input Type to iginput_new is invalid; Index 1; Type 'cx'"},
        {make("x"), "Input Type to iginput_new is invalid; Index 1; Type 'x'"},
        {make("p"), "Must supply a regular expression mask to iginput_new index 1 when the type 'p' is 'p'"},
        {make("pu", {str(" "), str("Digits")}),
         "Must supply a regular expression mask to iginput_new index 1 when the type 'pu' is 'p'"},
        {make("p", {str("^[0-9]+$"), str("")}),
         "Must supply an error message with the regular expression mask to iginput_new index 1 when the type 'p' is 'p'"},
        {make("c", {str("^a"), str("")}),
         "Must not supply a regular expression mask to iginput_new index 1 when the type 'c' is not 'p'"},
        {make("n2", {str(" "), str("Oops")}),
         "Must not supply an error message with the regular expression mask to iginput_new index 1 when the type 'n2' is not 'p'"},
        {make("nbbbbbbbbbbb"), "Input field type exceeds array length"},
    };
    for (const Case &c : cases) EXPECT_EQ(form(c.body).abort, c.abort) << c.abort;

    // Accepted types are stored normalised, blank-filled to nine characters.
    struct Stored {
        std::string given, stored;
    } stored[] = {{"n", "n0       "}, {"n,+", "n,+0     "}, {"nb", "nb0      "}, {"n-", "n-0      "},
                  {"n,2", "n,2      "}, {"m+", "m+0      "}, {"au  ", "au       "}, {"s", "s        "}};
    for (const Stored &s : stored) {
        ASSERT_EQ(form(make(s.given)).abort, "") << s.given;
        const auto *r = static_cast<const input_data *>(ginput_get_mintype(cm(), 1));
        EXPECT_EQ(std::string(r->input_type), s.stored) << s.given;
        EXPECT_EQ(r->max_length, 10);
    }
    ASSERT_EQ(form(make("p", {str("^[A-Z]{2}$"), str("Two capitals"), num(1)})).abort, "");
    const auto *r = static_cast<const input_data *>(ginput_get_mintype(cm(), 1));
    EXPECT_STREQ(r->mask, "^[A-Z]{2}$");
    EXPECT_STREQ(r->message, "Two capitals");
    GtkWidget *entry = reinterpret_cast<GtkWidget *>(handle(D));
    EXPECT_TRUE(GTK_IS_TEXT(entry)) << "the handle is the entry itself";
    EXPECT_FALSE(gtk_text_get_visibility(GTK_TEXT(entry))) << "hidden: typed characters are not shown";
    EXPECT_TRUE(gtk_widget_has_css_class(entry, "ginput"));
    EXPECT_EQ(gtk_text_get_max_length(GTK_TEXT(entry)), 10);
}

TEST_F(TypedFieldsTest, InputWidthIsAFractionOfTheMaximumLength)
{
    struct Case {
        const char *fraction;
        int max, width;
    } cases[] = {{"0.5", 10, 5}, {"0.99", 10, 9}, {"0.995", 10, 10}, {"1", 7, 7}, {"0.01", 10, -1},
                 {"0.009", 10, -1}, {"0.05", 10, -1}, {"0.25", 9, 2}, {"1.5", 8, 8}};
    for (const Case &c : cases) {
        const std::string make = ref(CM) + num(1) + num(0L) + num(c.max) + num(c.fraction) + num("1") + str("c") +
                                 fn(in_IGINPUT_NEW, 7) + set(D);
        ASSERT_EQ(form(window_form() + make).abort, "");
        auto *e = GTK_EDITABLE(reinterpret_cast<GtkWidget *>(handle(D)));
        EXPECT_EQ(gtk_editable_get_width_chars(e), c.width) << c.fraction << " of " << c.max;
        EXPECT_EQ(gtk_editable_get_max_width_chars(e), c.width) << c.fraction << " of " << c.max;
        EXPECT_FLOAT_EQ(gtk_editable_get_alignment(e), 1.0f);
    }
}

TEST_F(TypedFieldsTest, EnterChecksTheWholeValueAndSaysWhy)
{
    struct Case {
        std::string type;
        int min, tab;
        std::string value, message;  // "" when accepted
    } cases[] = {
        {"a", 0, TAB_STANDARD, "ab1", "Input must be alphabetic character"},
        {"c", 0, TAB_STANDARD, "ab1", ""},
        {"s", 0, TAB_STANDARD, "a\\b", "Input must be printable character or space and not '\\'"},
        {"n2", 0, TAB_STANDARD, "1.234", "Input a number with at most 2 decimal places"},
        {"n+", 0, TAB_STANDARD, "-5", "Input must be +ve"},
        {"n2", 0, TAB_STANDARD, "--", ""},
        {"c", 3, TAB_STANDARD, "", ""},
        {"c", 3, TAB_STANDARD, "ab", "Entered 2 characters, minimum number required is 3."},
        {"c", 3, TAB_REQUIRED, "", "Entered 0 characters, minimum number required is 3."},
        {"c", 3, TAB_KEY, "  ab ", "Entered 2 characters, minimum number required is 3."},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(form(window_form() + add_field(input(1, c.min, 10, c.type), WIDGET_INPUT, c.tab)).abort, "");
        GtkWidget *entry = entry_widget(1);
        gtk_editable_set_text(GTK_EDITABLE(entry), c.value.c_str());
        lumba_test::DialogScript script({0});
        const int accepted = widget_type(WIDGET_INPUT).validate(cm(), 1, entry);
        EXPECT_EQ(accepted, c.message.empty()) << c.type << " '" << c.value << "'";
        if (c.message.empty()) {
            EXPECT_TRUE(script.asked().empty()) << c.type << " '" << c.value << "'";
            continue;
        }
        ASSERT_EQ(script.asked().size(), 1u) << c.type << " '" << c.value << "'";
        EXPECT_EQ(script.asked()[0].text, c.message);
        EXPECT_EQ(script.asked()[0].style, "warning");
        int start = 0, end = 0;
        gtk_editable_get_selection_bounds(GTK_EDITABLE(entry), &start, &end);
        EXPECT_EQ(end - start, static_cast<int>(g_utf8_strlen(c.value.c_str(), -1))) << "refused: all selected";
    }
}

TEST_F(TypedFieldsTest, MasksMatchAnywhereUnlessAnchoredAndF3ForgivesAMismatch)
{
    const std::string body = window_form() +
                             add_field(input(1, 0, 10, "p", {str("^[0-9]{3}$"), str("Three digits")}), WIDGET_INPUT) +
                             add_field(input(2, 0, 10, "p", {str("[0-9]"), str("A digit somewhere")}), WIDGET_INPUT) +
                             add_field(input(3, 0, 10, "p", {str("(["), str("Broken")}), WIDGET_INPUT);
    ASSERT_EQ(form(body).abort, "");
    struct Case {
        int index;
        const char *value;
        bool accepted;
    } cases[] = {{1, "123", true}, {1, "1234", false}, {1, "", true}, {2, "ab7cd", true}, {2, "abcd", false}};
    for (const Case &c : cases) {
        gtk_editable_set_text(GTK_EDITABLE(entry_widget(c.index)), c.value);
        lumba_test::DialogScript script({0});
        EXPECT_EQ(ginput_val_return_press(entry_widget(c.index), &record), c.accepted) << c.index << " " << c.value;
        EXPECT_EQ(script.asked().size(), c.accepted ? 0u : 1u);
        if (!c.accepted) {
            EXPECT_EQ(script.asked()[0].text, c.index == 1 ? "Three digits" : "A digit somewhere");
        }
    }
    record.last_key = GDK_KEY_F3;
    gtk_editable_set_text(GTK_EDITABLE(entry_widget(1)), "12");
    EXPECT_TRUE(ginput_val_return_press(entry_widget(1), &record)) << "a mismatch is forgiven while F3 is handled";
    record.last_key = 0;
    gtk_editable_set_text(GTK_EDITABLE(entry_widget(3)), "x");
    EXPECT_EQ(lumba_test::abort_text([&] { ginput_val_return_press(entry_widget(3), &record); }),
              "ginput_match: Error in compiling regular expression: ([");
}

TEST_F(TypedFieldsTest, NumbersShowTheirDisplayFormWhenLeftAndLoseTheirCommasWhenEdited)
{
    struct Case {
        std::string type;
        int max;
        std::string value, shown, edited;
    } cases[] = {
        {"m2", 10, "-1234.5", "1,234.50-", "-1234.50"},
        {"m2", 10, "1234.5", "1,234.50 ", "1234.50"},
        {"n2", 10, "5", "5.00", "5.00"},
        {"n2", 10, ".5", "0.50", "0.50"},
        {"n2", 10, "   ", "", ""},
        {"n2", 10, "--", "--", "--"},
        {"n,2", 13, "-1234567.5", "-1,234,567.50", "-1234567.50"},
        {"n,2", 12, "-1234567.5", "-1234,567.50", "-1234567.50"},
        {"n", 4, "123456", "1234", "1234"},
        {"c", 10, "1,234", "1,234", "1,234"},
        // No maximum length: the width a printed number would get, so nothing is cut.
        {"n,2", 0, "1234567", "1,234,567.00", "1234567.00"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(form(window_form() + add_field(input(1, 0, c.max, c.type), WIDGET_INPUT)).abort, "");
        GtkWidget *entry = entry_widget(1);
        ginput_write_text(entry, &record, c.value.c_str());
        widget_type(WIDGET_INPUT).display_init(cm(), 1, entry);
        EXPECT_EQ(shown(entry), c.shown) << c.type << " " << c.value;
        edit(1);
        EXPECT_EQ(shown(entry), c.edited) << c.type << " " << c.value;
        leave();
        EXPECT_EQ(shown(entry), c.shown) << c.type << " " << c.value << " left again";
    }
}

TEST_F(TypedFieldsTest, IgprintWritesNumbersInTheFieldsFormat)
{
    const std::string field = window_form() + add_field(input(1, 0, 13, "n,2"), WIDGET_INPUT) +
                              add_field(input(2, 0, 10, "c"), WIDGET_INPUT);
    const auto print = [](int index, const std::string &value) {
        return val(CM) + str("entry") + num(index) + value + st(in_IGPRINT, 4);
    };
    ASSERT_EQ(form(field + print(1, num("-1234567.5")) + print(2, str("ab  "))).abort, "");
    EXPECT_EQ(shown(entry_widget(1)), "-1,234,567.50");
    EXPECT_EQ(shown(entry_widget(2)), "ab");
    EXPECT_EQ(form(field + print(2, num("5"))).abort,
              "Only permitted to provide a numeric parameter to igprint for a field of type Input or Label, and format "
              "n or m; Index = 2; Tab Sequence = 1, Format = c        ");
}

TEST_F(TypedFieldsTest, RoutinesGetNumbersWithoutTheirCommas)
{
    const std::string body = window_form() + add_field(input(1, 0, 10, "m2"), WIDGET_INPUT) +
                             add_field(input(2, 0, 10, "c"), WIDGET_INPUT);
    ASSERT_EQ(form(body).abort, "");
    struct Case {
        int index;
        const char *text, *ip_text, *ip_decimal;
        int given;
    } cases[] = {{1, "1,234.50-", "-1234.50", "-1234.50", 1},
                 {1, "", "", "0.0", 1},
                 {2, "1,234", "1,234", "0.0", 0}};
    for (const Case &c : cases) {
        ginput_write_text(entry_widget(c.index), &record, c.text);
        int ip = -1, given = 0;
        char *decimal = g_strdup("0.0");
        char *text = widget_type(WIDGET_INPUT).value(cm(), c.index, entry_widget(c.index), &ip, &decimal, &given);
        EXPECT_STREQ(text, c.ip_text) << c.text;
        EXPECT_STREQ(decimal, c.ip_decimal) << c.text;
        EXPECT_EQ(given, c.given) << c.text;
        EXPECT_EQ(ip, -1);
        g_free(text);
        g_free(decimal);
    }
}

namespace {

// The edit menu a field shows: the popover among the entry's children.
GtkWidget *menu_of(GtkWidget *entry)
{
    for (GtkWidget *c = gtk_widget_get_first_child(entry); c; c = gtk_widget_get_next_sibling(c))
        if (GTK_IS_POPOVER_MENU(c)) return c;
    return nullptr;
}

// The labels and actions of a menu's items.
std::vector<std::string> items_of(GtkWidget *menu)
{
    std::vector<std::string> items;
    GMenuModel *model = gtk_popover_menu_get_menu_model(GTK_POPOVER_MENU(menu));
    for (int i = 0; i < g_menu_model_get_n_items(model); ++i) {
        gchar *label = nullptr, *action = nullptr;
        g_menu_model_get_item_attribute(model, i, G_MENU_ATTRIBUTE_LABEL, "s", &label);
        g_menu_model_get_item_attribute(model, i, G_MENU_ATTRIBUTE_ACTION, "s", &action);
        items.push_back(std::string(label) + "|" + action);
        g_free(label);
        g_free(action);
    }
    return items;
}

std::string clipboard_text(GtkWidget *widget)
{
    struct Read {
        bool done = false;
        std::string text;
    } read;
    gdk_clipboard_read_text_async(
        gtk_widget_get_clipboard(widget), nullptr,
        [](GObject *source, GAsyncResult *result, gpointer data) {
            auto *r = static_cast<Read *>(data);
            char *t = gdk_clipboard_read_text_finish(GDK_CLIPBOARD(source), result, nullptr);
            r->text = t ? t : "";
            g_free(t);
            r->done = true;
        },
        &read);
    EXPECT_TRUE(lumba_test::wait_until([&] { return read.done; }));
    return read.text;
}

// Opens the edit menu of field index and runs one of its actions as a click on the item does;
// the selection right after it (the X server's primary selection may take it later).
std::pair<int, int> run_item(ControlMatrix_t *cm, int index, GtkWidget *entry, const char *action)
{
    std::pair<int, int> selected{-1, -1};
    EXPECT_TRUE(ginput_right_mouse_menu(cm, index, entry, 3));
    GtkWidget *menu = menu_of(entry);
    EXPECT_NE(menu, nullptr);
    if (!menu) return selected;
    gtk_widget_activate_action(menu, action, nullptr);
    gtk_editable_get_selection_bounds(GTK_EDITABLE(entry), &selected.first, &selected.second);
    gtk_popover_popdown(GTK_POPOVER(menu));
    EXPECT_TRUE(lumba_test::wait_until([&] { return menu_of(entry) == nullptr; }));
    return selected;
}

void select(GtkWidget *entry, int start, int end) { gtk_editable_select_region(GTK_EDITABLE(entry), start, end); }

// Selects a range once the X server's news of earlier primary selections has come in: a GtkText
// gives up its selection when told that another owner took the primary selection, which the
// news of the test's own earlier selections can make it believe.
void settled_selection(GtkWidget *entry, int start, int end)
{
    const std::pair<int, int> wanted{start, end};
    for (int tries = 0; tries < 50; ++tries) {
        select(entry, start, end);
        gdk_display_sync(gtk_widget_get_display(entry));
        for (int i = 0; i < 3; ++i) lumba_test::drain();
        std::pair<int, int> now{-1, -1};
        gtk_editable_get_selection_bounds(GTK_EDITABLE(entry), &now.first, &now.second);
        if (now == wanted || (start == end && now.first == now.second)) return;
    }
    ADD_FAILURE() << "the selection " << start << ".." << end << " did not stay";
}

// Every event the X server has sent so far handled (a round trip brings them all in), and what
// is ready to run after them: a key pressed through xdotool has been handled by then.
void handled(GtkWidget *widget)
{
    gdk_display_sync(gtk_widget_get_display(widget));
    lumba_test::drain();
}

// The texts inserted into any editable while it lives, as each insertion begins (an emission hook
// runs before the handlers, a field's filter among them).
class InsertWatch {
public:
    InsertWatch() : signal_(g_signal_lookup("insert-text", GTK_TYPE_EDITABLE))
    {
        hook_ = g_signal_add_emission_hook(signal_, 0, seen, this, nullptr);
    }
    ~InsertWatch() { g_signal_remove_emission_hook(signal_, hook_); }
    const std::vector<std::string> &texts() const { return texts_; }

private:
    static gboolean seen(GSignalInvocationHint *, guint, const GValue *values, gpointer self)
    {
        const char *text = g_value_get_string(&values[1]);
        const int length = g_value_get_int(&values[2]);
        static_cast<InsertWatch *>(self)->texts_.emplace_back(text, length < 0 ? std::strlen(text) : std::size_t(length));
        return TRUE;
    }
    guint signal_;
    gulong hook_ = 0;
    std::vector<std::string> texts_;
};

} // namespace

TEST_F(TypedFieldsTest, EditMenuOffersItsItemsByTheFieldsType)
{
    const std::string body = window_form() + add_field(input(1, 0, 20, "a"), WIDGET_INPUT) +
                             add_field(input(2, 0, 20, "n2"), WIDGET_INPUT) +
                             add_field(input(3, 0, 20, "au"), WIDGET_INPUT);
    ASSERT_EQ(form(body).abort, "");
    ASSERT_TRUE(lumba_test::wait_drawn(entry_widget(1)));
    EXPECT_FALSE(ginput_right_mouse_menu(cm(), 1, entry_widget(1), 1)) << "only the right button";
    EXPECT_EQ(menu_of(entry_widget(1)), nullptr);

    const std::vector<std::string> common = {
        "_Undo  Ctrl-z|ginput.undo",     "Cu_t  Ctrl-x|ginput.cut",        "_Copy\tCtrl-c|ginput.copy",
        "_Paste\tCtrl-v|ginput.paste",   "_Delete\t   Del|ginput.delete", "Select _All\tCtrl-a|ginput.select-all",
    };
    std::vector<std::string> with_case = common;
    for (const char *item : {"Uppe_r Case\tr|ginput.upper", "_Lower Case\tl|ginput.lower", "Titl_e Case\t\te|ginput.title"})
        with_case.push_back(item);
    struct Case {
        int index;
        std::vector<std::string> items;
    } cases[] = {{1, with_case}, {2, common}, {3, common}};
    for (const Case &c : cases) {
        GtkWidget *entry = entry_widget(c.index);
        ASSERT_TRUE(ginput_right_mouse_menu(cm(), c.index, entry, 3));
        GtkWidget *menu = menu_of(entry);
        ASSERT_NE(menu, nullptr);
        EXPECT_TRUE(lumba_test::wait_until([&] { return gtk_widget_get_mapped(menu); })) << "it pops up";
        EXPECT_EQ(items_of(menu), c.items) << c.index;
        bool named = false;
        GListModel *controllers = gtk_widget_observe_controllers(menu);
        for (guint i = 0; i < g_list_model_get_n_items(controllers); ++i) {
            auto *controller = GTK_EVENT_CONTROLLER(g_list_model_get_item(controllers, i));
            named = named || g_strcmp0(gtk_event_controller_get_name(controller), "ginput-right-mouse-menu") == 0;
            g_object_unref(controller);
        }
        g_object_unref(controllers);
        EXPECT_TRUE(named);
        gtk_popover_popdown(GTK_POPOVER(menu));
        EXPECT_TRUE(lumba_test::wait_until([&] { return menu_of(entry) == nullptr; })) << "a closed menu goes";
    }
}

TEST_F(TypedFieldsTest, EditMenuChangesCaseAndUsesTheDisplayClipboard)
{
    ASSERT_EQ(form(window_form() + add_field(input(1, 0, 30, "s"), WIDGET_INPUT)).abort, "");
    GtkWidget *entry = entry_widget(1);
    ASSERT_TRUE(lumba_test::wait_drawn(entry));
    const auto set_text = [&](const char *t) { gtk_editable_set_text(GTK_EDITABLE(entry), t); };

    set_text("hello big world");
    settled_selection(entry, 6, 9);
    EXPECT_EQ(run_item(cm(), 1, entry, "ginput.upper"), std::make_pair(6, 9)) << "the range stays selected";
    EXPECT_EQ(shown(entry), "hello BIG world");

    // Nothing selected: the whole text, unless the cursor stands at the beginning.
    set_text("hELLO bIG wORLD");
    gtk_editable_set_position(GTK_EDITABLE(entry), 0);
    run_item(cm(), 1, entry, "ginput.title");
    EXPECT_EQ(shown(entry), "hELLO bIG wORLD") << "disabled";
    gtk_editable_set_position(GTK_EDITABLE(entry), 3);
    run_item(cm(), 1, entry, "ginput.title");
    EXPECT_EQ(shown(entry), "Hello Big World");
    gtk_editable_set_position(GTK_EDITABLE(entry), 3);
    run_item(cm(), 1, entry, "ginput.lower");
    EXPECT_EQ(shown(entry), "hello big world");
    // Title case inside a word: the range's first letter is no word's first.
    settled_selection(entry, 7, 15);
    run_item(cm(), 1, entry, "ginput.title");
    EXPECT_EQ(shown(entry), "hello big World");

    settled_selection(entry, 10, 15);
    run_item(cm(), 1, entry, "ginput.copy");
    EXPECT_EQ(clipboard_text(entry), "World");
    settled_selection(entry, 0, 6);
    run_item(cm(), 1, entry, "ginput.cut");
    EXPECT_EQ(shown(entry), "big World");
    EXPECT_EQ(clipboard_text(entry), "hello ");
    gtk_editable_set_position(GTK_EDITABLE(entry), 3);
    run_item(cm(), 1, entry, "ginput.paste");
    EXPECT_TRUE(lumba_test::wait_until([&] { return shown(entry) == "bighello  World"; })) << shown(entry);
    settled_selection(entry, 0, 3);
    run_item(cm(), 1, entry, "ginput.delete");
    EXPECT_EQ(shown(entry), "hello  World");
    EXPECT_EQ(run_item(cm(), 1, entry, "ginput.select-all"), std::make_pair(0, 12));

    // A paste while the field is edited goes through the field's filter.
    gdk_clipboard_set_text(gtk_widget_get_clipboard(entry), "a\\b");
    edit(1);
    gtk_editable_set_text(GTK_EDITABLE(entry), "x");
    gtk_editable_set_position(GTK_EDITABLE(entry), 1);
    const InsertWatch inserted;
    run_item(cm(), 1, entry, "ginput.paste");
    ASSERT_TRUE(lumba_test::wait_until([&] { return !inserted.texts().empty(); })) << "the paste came in";
    EXPECT_EQ(inserted.texts(), std::vector<std::string>{"a\\b"});
    EXPECT_EQ(shown(entry), "x") << "a backslash is refused in type s";
}

TEST_F(TypedFieldsTest, EditMenuLettersRunTheirItemsOnce)
{
    ASSERT_EQ(form(window_form() + add_field(input(1, 0, 30, "s"), WIDGET_INPUT)).abort, "");
    GtkWidget *entry = entry_widget(1);
    ASSERT_TRUE(lumba_test::wait_drawn(entry));
    const lumba_test::Xdotool user(lumba_test::gui_display());
    user.focus(lumba_test::x_window_id(GTK_WIDGET(gtk_widget_get_root(entry))));
    struct Case {
        const char *text;
        int start, end;
        const char *key, *after;
    } cases[] = {
        {"make it loud", 5, 7, "r", "make IT loud"},
        {"Make It Quiet", 0, 4, "l", "make It Quiet"},
        {"title me", 0, 8, "e", "Title Me"},
        {"paste: ", 7, 7, "p", "paste: clip"},
        {"delete this", 6, 11, "d", "delete"},
        {"cut this", 0, 4, "t", "this"},
        {"keep", 0, 4, "ctrl+r", "keep"},
    };
    for (const Case &c : cases) {
        gdk_clipboard_set_text(gtk_widget_get_clipboard(entry), "clip");
        gtk_editable_set_text(GTK_EDITABLE(entry), c.text);
        gtk_editable_set_position(GTK_EDITABLE(entry), c.end);
        settled_selection(entry, c.start, c.end);
        ASSERT_TRUE(ginput_right_mouse_menu(cm(), 1, entry, 3));
        GtkWidget *menu = menu_of(entry);
        ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_get_mapped(menu); }));
        user.key({c.key});
        handled(entry);
        EXPECT_TRUE(lumba_test::wait_until([&] { return shown(entry) == c.after; })) << c.key << ": " << shown(entry);
        handled(entry);
        EXPECT_EQ(shown(entry), c.after) << c.key << ": once";
        if (menu_of(entry)) gtk_popover_popdown(GTK_POPOVER(menu_of(entry)));
        EXPECT_TRUE(lumba_test::wait_until([&] { return menu_of(entry) == nullptr; }));
    }
}

// A clerk types names with letters outside ASCII at the keyboard (xdotool on the X server): the
// input and text fields take whole characters by their Unicode class, count their maximum in
// characters, and sound the bell for each key they refuse.
TEST_F(TypedFieldsTest, LettersOutsideAsciiAreTypedAsAnyOther)
{
    struct Case {
        bool text;  // a text field, else an input field
        const char *type;
        int max;
        const char *typed, *shown;
        int bells;
    } cases[] = {
        {false, "s", 30, "Anna Lindqvist-Öberg", "Anna Lindqvist-Öberg", 0},
        {false, "a", 10, "José", "José", 0},
        {false, "au", 10, "josé", "JOSÉ", 0},
        {false, "a", 10, "Zo 7ë", "Zoë", 2},
        {false, "c", 5, "Øre123", "Øre12", 0},  // the entry itself stops the sixth character
        {true, "s", 30, "Anna Lindqvist-Öberg", "Anna Lindqvist-Öberg", 0},
        {true, "cu", 5, "øre 123", "ØRE12", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.typed) + " into " + (c.text ? "text " : "input ") + c.type);
        const std::string make = c.text ? text_field(1, 0, c.max, c.type) : input(1, 0, c.max, c.type);
        ASSERT_EQ(form(window_form() + add_field(make, c.text ? WIDGET_TEXT : WIDGET_INPUT)).abort, "");
        GtkWidget *field = c.text ? static_cast<text_data *>(entry_record(1))->view : entry_widget(1);
        auto now = [&]() -> std::string {
            if (!c.text) return shown(field);
            GtkTextBuffer *b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(field));
            GtkTextIter from, to;
            gtk_text_buffer_get_bounds(b, &from, &to);
            gchar *t = gtk_text_buffer_get_text(b, &from, &to, TRUE);
            std::string s(t);
            g_free(t);
            return s;
        };
        ASSERT_TRUE(lumba_test::wait_drawn(field));
        edit(1);
        gtk_widget_grab_focus(field);
        const lumba_test::Xdotool user(lumba_test::gui_display());
        user.focus(lumba_test::x_window_id(GTK_WIDGET(gtk_widget_get_root(field))));
        record.log_level_lumbas = 3;
        testing::internal::CaptureStderr();
        user.type(c.typed);
        // Keys come in order and the last key of a case that rings changes the text: once the text
        // shows, every bell has rung.
        const bool arrived = lumba_test::wait_until([&] { return now() == c.shown; });
        lumba_test::drain();
        const std::vector<std::string> log = log_lines(testing::internal::GetCapturedStderr());
        record.log_level_lumbas = -1;
        EXPECT_TRUE(arrived) << now();
        EXPECT_EQ(std::count(log.begin(), log.end(), "      Bell - function has been called:"), c.bells);
        if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR"))
            drawn(field).save_png(std::string(dir) + "/typed_" + std::to_string(&c - cases) + ".png");
        leave();
    }
}
