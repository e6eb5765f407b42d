// The text, date, check box and label fields in-process: their constructors and checks, typing
// through their filters and key rules as the forms engine unblocks them, the three forms of a date
// on entering and leaving, the check box's state without and with its change road, and labels'
// mark-up as the user sees it.
#include <gtest/gtest.h>

#include "ccallback.h"
#include "dialog_script.h"
#include "gcheckbox.h"
#include "gdate.h"
#include "glabel.h"
#include "gtext.h"
#include "gui_env.h"
#include "typed_fields_fixture.h"

using namespace forms_test;
using namespace typed_test;

namespace {

std::string shown(GtkWidget *w) { return gtk_editable_get_text(GTK_EDITABLE(w)); }

text_data *text_record(void *record) { return static_cast<text_data *>(record); }

// The key controller of that name on the widget.
GtkEventController *controller_named(GtkWidget *widget, const char *name)
{
    GtkEventController *found = nullptr;
    GListModel *controllers = gtk_widget_observe_controllers(widget);
    for (guint i = 0; i < g_list_model_get_n_items(controllers) && !found; ++i) {
        auto *c = GTK_EVENT_CONTROLLER(g_list_model_get_item(controllers, i));
        if (g_strcmp0(gtk_event_controller_get_name(c), name) == 0) found = c;
        g_object_unref(c);
    }
    g_object_unref(controllers);
    return found;
}

// A key as the controller's "key-pressed" delivers it: whether a handler took it.
bool press(GtkEventController *keys, guint keyval, GdkModifierType state)
{
    gboolean taken = FALSE;
    g_signal_emit_by_name(keys, "key-pressed", keyval, 0u, state, &taken);
    return taken != FALSE;
}

// Text typed or pasted into a view at its cursor, as GTK's own insertion does.
void insert(GtkWidget *view, const char *text)
{
    gtk_text_buffer_insert_interactive_at_cursor(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), text, -1, TRUE);
}

std::string rethrown() { return lumba_test::abort_text([] { forms_rethrow_kept(); }); }

} // namespace

// ---- Text field -------------------------------------------------------------------------------------------------

TEST_F(TypedFieldsTest, TextConstructionChecksItsArgumentsAndType)
{
    const auto make = [](const std::string &type, const std::vector<std::string> &more = {}) {
        return window_form() + text_field(1, 0, 10, type, more);
    };
    struct Case {
        std::string body, abort;
    } cases[] = {
        {make("a", {str("x")}), "Must have eight or ten parameters not 9"},
        {ref(X) + num(1) + num(0L) + num(10) + num(200) + num(60) + str("a") + num(2) + fn(in_IGTEXT_NEW, 8),
         "Must set the Process Control Matrix first"},
        {make("n"), "Invalid type 'n' to igtext_new"},
        {make("au r"), "Input Type to igtext_new is invalid; Index 1; Type 'au r'"},
        {make("ru"), "Invalid type 'ru' to igtext_new"},
        {make("aru"), "Input Type to igtext_new is invalid; Index 1; Type 'aru'"},
        {make("p"), "Must supply a regular expression mask to igtext_new at index 1 when the type 'p' is 'p'"},
        {make("p", {str("^x"), str(" ")}),
         "Must supply an error message with the regular expression mask to igtext_new at index 1 when the type 'p' is 'p'"},
        {make("s", {str("^x"), str("")}),
         "Must not supply a regular expression mask to igtext_new at index 1 when the type 's' is not 'p'"},
        {make("s", {str(" "), str("Oops")}),
         "Must not supply an error message with the regular expression mask to igtext_new at index 1 when the type 's' is not 'p'"},
    };
    for (const Case &c : cases) EXPECT_EQ(form(c.body).abort, c.abort) << c.abort;

    ASSERT_EQ(form(window_form() + add_field(text_field(1, 2, 10, "cur"), WIDGET_TEXT, TAB_STANDARD, "NOTES") +
                   val(D) + str("Named") + st(in_IGWIDGET_SET_NAME, 2))
                  .abort,
              "");
    const text_data *r = text_record(entry_record(1));
    EXPECT_STREQ(r->input_type, "cur");
    EXPECT_EQ(r->min_chars, 2);
    EXPECT_EQ(r->max_chars, 10);
    EXPECT_TRUE(GTK_IS_TEXT_VIEW(r->view));
    EXPECT_EQ(gtk_widget_get_parent(r->scrolled_window), r->box) << "the box holds the scrolled window";
    EXPECT_STREQ(gtk_widget_get_name(r->view), "Named") << "naming a text field names its text view";
    EXPECT_EQ(gtk_text_view_get_wrap_mode(GTK_TEXT_VIEW(r->view)), GTK_WRAP_WORD_CHAR);
}

TEST_F(TypedFieldsTest, TextTypingIsFilteredAndKeptWithinTheMaximum)
{
    const std::string body = window_form() + add_field(text_field(1, 0, 10, "ar"), WIDGET_TEXT) +
                             add_field(text_field(2, 0, 40, "cu"), WIDGET_TEXT) +
                             add_field(text_field(3, 0, 40, "a"), WIDGET_TEXT);
    ASSERT_EQ(form(body).abort, "");
    text_data *lines = text_record(entry_record(1)), *upper = text_record(entry_record(2)),
              *plain = text_record(entry_record(3));

    // Shift+Return is left to the view only where line breaks are allowed.
    EXPECT_FALSE(press(controller_named(lines->view, "gtext"), GDK_KEY_Return, GDK_SHIFT_MASK));
    EXPECT_FALSE(press(controller_named(lines->view, "gtext"), GDK_KEY_KP_Enter, GDK_SHIFT_MASK));
    EXPECT_TRUE(press(controller_named(plain->view, "gtext"), GDK_KEY_Return, GDK_SHIFT_MASK)) << "consumed";

    edit(1);
    insert(lines->view, "ab");
    insert(lines->view, "\n");  // what the view inserts for Shift+Return
    insert(lines->view, "c");
    char *value = gtext_get_text(lines);
    EXPECT_STREQ(value, "ab\rc") << "read back with a carriage return";
    g_free(value);
    insert(lines->view, "d1");
    value = gtext_get_text(lines);
    EXPECT_STREQ(value, "ab\rc") << "a refused character refuses the insertion";
    g_free(value);
    gtext_write_text(lines->view, lines, "");
    insert(lines->view, "abcdefghijklmno");  // a paste of 15 characters
    value = gtext_get_text(lines);
    EXPECT_STREQ(value, "abcdefghij") << "the first ten are kept";
    g_free(value);
    leave();

    edit(2);
    insert(upper->view, "ab1");
    value = gtext_get_text(upper);
    EXPECT_STREQ(value, "AB1");
    g_free(value);
    leave();

    edit(3);
    record.log_level_lumbas = 3;
    testing::internal::CaptureStderr();
    insert(plain->view, "\n");
    const std::vector<std::string> log = log_lines(testing::internal::GetCapturedStderr());
    record.log_level_lumbas = -1;
    value = gtext_get_text(plain);
    EXPECT_STREQ(value, "");
    g_free(value);
    EXPECT_EQ(log, (std::vector<std::string>{"      Bell - function has been called:", "          gtext_insert_text_handler"}));
    leave();

    // Not edited: the filter is blocked and a program's text goes in as it is.
    gtext_write_text(plain->view, plain, "x\ry");
    value = gtext_get_text(plain);
    EXPECT_STREQ(value, "x\ry");
    g_free(value);
}

TEST_F(TypedFieldsTest, TextEnterChecksAndUpperCasesTheValue)
{
    const std::string body = window_form() + add_field(text_field(1, 5, 10, "cu"), WIDGET_TEXT) +
                             add_field(text_field(2, 5, 10, "s"), WIDGET_TEXT, TAB_REQUIRED) +
                             add_field(text_field(3, 0, 10, "p", {str("^x"), str("Starts with x")}), WIDGET_TEXT);
    ASSERT_EQ(form(body).abort, "");
    text_data *upper = text_record(entry_record(1)), *required = text_record(entry_record(2)),
              *pattern = text_record(entry_record(3));
    struct Case {
        text_data *r;
        const char *value;
        bool passes;
        const char *message, *after;
    } cases[] = {
        {upper, "", true, nullptr, ""},
        {upper, "ab1", false, "Entered 3 characters, minimum number required is 5.", "AB1"},
        {upper, "abcde", true, nullptr, "ABCDE"},
        {upper, "ab-de", false, nullptr, "ab-de"},  // a refused character: no message
        {required, "", false, "Entered 0 characters, minimum number required is 5.", ""},
        {required, "some text", true, nullptr, "some text"},
    };
    for (const Case &c : cases) {
        gtext_write_text(c.r->view, c.r, c.value);
        lumba_test::DialogScript script({0});
        EXPECT_EQ(gtext_val_return_press(c.r, &record) != FALSE, c.passes) << c.value;
        ASSERT_EQ(script.asked().size(), c.message ? 1u : 0u) << c.value;
        if (c.message) {
            EXPECT_EQ(script.asked()[0].text, c.message);
            EXPECT_EQ(script.asked()[0].style, "warning");
        }
        char *value = gtext_get_text(c.r);
        EXPECT_STREQ(value, c.after) << c.value;
        g_free(value);
        GtkTextIter start, end;
        const bool selected =
            gtk_text_buffer_get_selection_bounds(gtk_text_view_get_buffer(GTK_TEXT_VIEW(c.r->view)), &start, &end);
        if (!c.passes && *c.value) {
            EXPECT_TRUE(selected) << "a failure selects the whole text: " << c.value;
        }
    }
    gtext_write_text(pattern->view, pattern, "xyz");
    EXPECT_EQ(lumba_test::abort_text([&] { gtext_val_return_press(pattern, &record); }),
              "The coding for Pattern Matching in Text widgets is yet to be completed!");
    // Clearing writes the empty text; IGPRINT writes with line breaks for carriage returns.
    ASSERT_EQ(form(body + val(CM) + str("entry") + num(1) + str("one\rtwo") + st(in_IGPRINT, 4)).abort, "");
    upper = text_record(entry_record(1));
    char *value = gtext_get_text(upper);
    EXPECT_STREQ(value, "one\rtwo");
    g_free(value);
    widget_type(WIDGET_TEXT).clear(cm(), 1, upper);
    value = gtext_get_text(upper);
    EXPECT_STREQ(value, "");
    g_free(value);
}

// ---- Date field -------------------------------------------------------------------------------------------------

TEST_F(TypedFieldsTest, DateKeysWriteTheMaskWhileTheFieldIsEdited)
{
    ASSERT_EQ(form(window_form() + add_field(date(1, 0), WIDGET_DATE) + add_field(date(2, 1), WIDGET_DATE)).abort, "");
    GtkWidget *entry = entry_widget(1);
    EXPECT_TRUE(gtk_widget_has_css_class(entry, "oskadate"));
    EXPECT_EQ(gtk_editable_get_max_width_chars(GTK_EDITABLE(entry)), 8);
    EXPECT_EQ(gtk_editable_get_max_width_chars(GTK_EDITABLE(entry_widget(2))), 10);

    edit(1);
    EXPECT_EQ(shown(entry), "        ") << "an empty date is edited as blanks";
    EXPECT_EQ(gtk_editable_get_position(GTK_EDITABLE(entry)), 0);
    // GTK's own editing is stopped while the field is edited.
    int at = 0;
    gtk_editable_insert_text(GTK_EDITABLE(entry), "9", 1, &at);
    EXPECT_EQ(shown(entry), "        ");

    record.log_level_lumbas = 3;
    testing::internal::CaptureStderr();
    for (guint key : {GDK_KEY_3, GDK_KEY_1, GDK_KEY_0, GDK_KEY_2}) gdate_on_key_press(cm(), 1, key, &record);
    const std::vector<std::string> log = log_lines(testing::internal::GetCapturedStderr());
    record.log_level_lumbas = -1;
    EXPECT_EQ(shown(entry), "31/0 /  ") << "31 February is refused at the month's units";
    EXPECT_EQ(gtk_editable_get_position(GTK_EDITABLE(entry)), 4);
    EXPECT_EQ(log, (std::vector<std::string>{"      Bell - function has been called:",
                                             "          Pressed an invalid character while in a date field"}));
    EXPECT_TRUE(gdate_on_key_press(cm(), 1, GDK_KEY_Up, &record)) << "up and down are consumed";
    EXPECT_FALSE(gdate_on_key_press(cm(), 1, GDK_KEY_Home, &record));
    EXPECT_EQ(gtk_editable_get_position(GTK_EDITABLE(entry)), 0);
    gdate_on_key_press(cm(), 1, GDK_KEY_space, &record);
    EXPECT_EQ(shown(entry), "  /  /  ") << "space at the start empties the date";
    EXPECT_EQ(lumba_test::abort_text([&] { gdate_on_key_press(cm(), 1, GDK_KEY_Tab, &record); }),
              "gdate_on_key_press: Should not get here. Keyval 65289 should have been handled in the calling function "
              "on_key_press_event");

    for (guint key : {GDK_KEY_0, GDK_KEY_5, GDK_KEY_0, GDK_KEY_3, GDK_KEY_2, GDK_KEY_4})
        gdate_on_key_press(cm(), 1, key, &record);
    EXPECT_EQ(shown(entry), "05/03/24");
    int ip = -1, given = 0;
    char *decimal = g_strdup("0.0");
    char *stored = widget_type(WIDGET_DATE).value(cm(), 1, entry, &ip, &decimal, &given);
    EXPECT_STREQ(stored, "2024-03-05") << "routines get the stored form";
    g_free(stored);
    g_free(decimal);
    leave();
    EXPECT_EQ(shown(entry), "05Mar24") << "the display form on leaving";
    // Not edited: GTK's editing is no longer stopped, as for a program's text.
    at = 0;
    gtk_editable_insert_text(GTK_EDITABLE(entry), "x", 1, &at);
    EXPECT_EQ(shown(entry), "x05Mar24");
}

TEST_F(TypedFieldsTest, DateCursorGoesToTheStartAfterAClick)
{
    ASSERT_EQ(form(window_form() + add_field(date(1, 0), WIDGET_DATE)).abort, "");
    GtkWidget *entry = entry_widget(1);
    ASSERT_TRUE(lumba_test::wait_drawn(entry));
    edit(1);
    ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(entry); }));
    auto *gesture = GTK_GESTURE(controller_named(entry, "gdate-button"));
    ASSERT_NE(gesture, nullptr);
    for (const char *signal : {"released", "stopped"}) {
        gdate_write_text(entry, &record, "05/03/24");
        gtk_editable_set_position(GTK_EDITABLE(entry), 5);
        if (g_str_equal(signal, "released"))
            g_signal_emit_by_name(gesture, signal, 1, 1.0, 1.0);
        else
            g_signal_emit_by_name(gesture, signal);
        EXPECT_EQ(gtk_editable_get_position(GTK_EDITABLE(entry)), 5) << "moved at the next idle moment";
        EXPECT_TRUE(lumba_test::wait_until([&] { return gtk_editable_get_position(GTK_EDITABLE(entry)) == 0; }))
            << signal;
        EXPECT_EQ(shown(entry), "05/03/24");
    }
    leave();
}

TEST_F(TypedFieldsTest, DateEnterChecksTheWholeDate)
{
    ASSERT_EQ(form(window_form() + add_field(date(1, 0), WIDGET_DATE) + add_field(date(2, 1), WIDGET_DATE)).abort, "");
    struct Case {
        int index;
        const char *editing;
        const char *message;
    } cases[] = {
        {1, "29/02/23", "Is not a leap year and format is DD/MM/YY"},
        {1, "29/02/24", nullptr},
        {1, "  /  /  ", nullptr},
        {1, "31/04/24", "Day must be less than 31 and format is DD/MM/YY"},
        {1, "00/01/24", "Day must be greater then zero and format is DD/MM/YY"},
        {2, "01/01/1799", "Year must be greater then 1800 and format is DD/MM/YYYY"},
        {2, "31/12/2800", nullptr},
        {2, "01/01/2801", "Year must be less than 2800 and format is DD/MM/YYYY"},
    };
    for (const Case &c : cases) {
        GtkWidget *entry = entry_widget(c.index);
        edit(c.index);
        gdate_write_text(entry, &record, c.editing);
        lumba_test::DialogScript script({0});
        EXPECT_EQ(widget_type(WIDGET_DATE).validate(cm(), c.index, entry) != 0, c.message == nullptr) << c.editing;
        ASSERT_EQ(script.asked().size(), c.message ? 1u : 0u) << c.editing;
        if (c.message) {
            EXPECT_EQ(script.asked()[0].text, c.message);
            EXPECT_EQ(script.asked()[0].style, "error");
            EXPECT_EQ(gtk_editable_get_position(GTK_EDITABLE(entry)), 0) << "the cursor goes to the start";
        }
        leave();
    }
}

TEST_F(TypedFieldsTest, DatesArePrintedAndClearedInTheirForms)
{
    const auto print = [](int index, const std::string &value) {
        return val(CM) + str("entry") + num(index) + str(value) + st(in_IGPRINT, 4);
    };
    const std::string body = window_form() + add_field(date(1, 0), WIDGET_DATE) + add_field(date(2, 1), WIDGET_DATE);
    ASSERT_EQ(form(body + print(1, "2069-12-31") + print(2, "1975-03-05")).abort, "");
    EXPECT_EQ(shown(entry_widget(1)), "31Dec69");
    EXPECT_EQ(shown(entry_widget(2)), "05Mar1975");
    edit(2);
    EXPECT_EQ(shown(entry_widget(2)), "05/03/1975");
    leave();
    ASSERT_EQ(form(body + print(1, "2070-01-01")).abort, "");
    EXPECT_EQ(shown(entry_widget(1)), "01Jan**");
    widget_type(WIDGET_DATE).clear(cm(), 1, entry_widget(1));
    EXPECT_EQ(shown(entry_widget(1)), "");
    EXPECT_EQ(form(window_form() + ref(CM) + num(1) + fn(in_IGDATE_NEW, 2)).abort,
              "Found 2 parameters when expecting 3");
}

// ---- Check box --------------------------------------------------------------------------------------------------

TEST_F(TypedFieldsTest, CheckBoxStateIsSetAndReadWithoutTheChangeRoad)
{
    const std::string box = window_form() + add_field(checkbox(1), WIDGET_CHECKBOX, TAB_STANDARD, "AGREED");
    const auto get = [](const std::string &field) { return val(CM) + field + fn(in_IGCHECKBOX_GET, 2); };
    const auto put = [](const std::string &field, long state) {
        return val(CM) + field + num(state) + st(in_IGCHECKBOX_SET, 3);
    };
    // Setting runs no Change_Content.
    ASSERT_EQ(form(box + put(num(1), 5) + get(str("AGREED")) + set(X) + get(num(1)) + set(Z)).abort, "");
    EXPECT_EQ(rethrown(), "");
    EXPECT_EQ(value(X), 1) << "by name as by index";
    EXPECT_EQ(value(Z), 1);
    ASSERT_EQ(form(box + put(str("AGREED"), 0) + get(num(1)) + set(X)).abort, "");
    EXPECT_EQ(value(X), 0);

    ASSERT_EQ(form(box + put(num(1), 1)).abort, "");
    auto *r = static_cast<checkbox_data *>(entry_record(1));
    EXPECT_EQ(r->outer, nullptr) << "without the background flag the check button is packed itself";
    gcheckbox_clear(r);
    EXPECT_FALSE(gtk_check_button_get_active(GTK_CHECK_BUTTON(r->check)));
    EXPECT_EQ(rethrown(), "") << "clearing runs no Change_Content";

    // A user's change goes the change road: Edit_Content and Change_Content (none attached here),
    // then the focus moves on.
    gtk_check_button_set_active(GTK_CHECK_BUTTON(r->check), TRUE);
    EXPECT_EQ(rethrown(), "");

    struct Case {
        std::string body, abort;
    } cases[] = {
        {box + add_field(checkbox(1), WIDGET_CHECKBOX), "An attempt was made to create a check box twice for Index 1"},
        {window_form() + checkbox(1, {num(2)}), "Invalid background colour flag 2; Must be true or false"},
        {window_form() + checkbox(1, {num(1), num(1)}), "Unexpected number of parameters 4"},
        {ref(X) + num(1) + fn(in_IGCHECKBOX_NEW, 2), "No Process Control Matrix found"},
        {box + val(CM) + num(1) + fn(in_IGCHECKBOX_GET, 1), "Unexpected number of parameters 1"},
        {box + add_field(date(2, 0), WIDGET_DATE) + get(num(2)),
         "Pointer to Check box not found in Entry field of Control Matrix"},
    };
    for (const Case &c : cases) EXPECT_EQ(form(c.body).abort, c.abort) << c.abort;
    ASSERT_EQ(form(window_form() + add_field(checkbox(1, {num(1)}), WIDGET_CHECKBOX)).abort, "");
    r = static_cast<checkbox_data *>(entry_record(1));
    EXPECT_EQ(r->outer, r->check) << "with the background flag the check button is the outer widget";
}

// ---- Labels -----------------------------------------------------------------------------------------------------

TEST_F(TypedFieldsTest, LabelsShowCleanedMarkUpOrPlainText)
{
    const std::string body = window_form() + add_field(typed_test::label(1, 1, 0, "<b>WWWW</b>"), WIDGET_LABEL, TAB_NO_FOCUS) +
                             add_field(typed_test::label(2, 1, 0, "WWWW"), WIDGET_LABEL, TAB_NO_FOCUS) +
                             add_field(typed_test::label(3, 1, 0, "Smith & Sons"), WIDGET_LABEL, TAB_NO_FOCUS) +
                             add_field(typed_test::label(4, 1, 1, "<p>one</p>two<br><a href='x'>three</a>"), WIDGET_LABEL,
                                       TAB_STANDARD);
    ASSERT_EQ(form(body).abort, "");
    const auto label_of = [&](int index) { return static_cast<clabel_data *>(entry_record(index))->label; };
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label_of(1))), "WWWW");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label_of(3))), "Smith & Sons") << "refused mark-up shows as text";
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label_of(4))), "one\ntwo\nthree");
    const int bold = drawn(label_of(1)).dark_pixels(), normal = drawn(label_of(2)).dark_pixels();
    EXPECT_GT(bold, normal + normal / 5) << "bold strokes are heavier";
    EXPECT_GT(drawn(label_of(3)).dark_pixels(), 0) << "shown, not left empty";

    const auto *clickable = static_cast<clabel_data *>(entry_record(4));
    EXPECT_EQ(clickable->clickable, 1);
    EXPECT_NE(controller_named(clickable->label, "glabel"), nullptr);
    EXPECT_NE(controller_named(clickable->label, "glabel-button"), nullptr);
    EXPECT_EQ(controller_named(label_of(1), "glabel"), nullptr);
    glabel_clear(entry_record(1));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label_of(1))), "");

    // The simple label takes its mark-up as it is; what Pango refuses shows as text there too, and
    // so does IGPRINT_NOT_ESCAPED's.
    ASSERT_EQ(form(window_form() + str("<i>a</i> & b") + num("0.5") + num(10) + fn(in_IGLABEL_SIMPLE_NEW, 3) + set(Z) +
                   add_field(typed_test::label(1, 1, 0, "x"), WIDGET_LABEL, TAB_NO_FOCUS) + val(CM) + str("entry") + num(1) +
                   str("<b>unclosed") + st(in_IGPRINT_NOT_ESCAPED, 4))
                  .abort,
              "");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(reinterpret_cast<GtkWidget *>(handle(Z)))), "<i>a</i> & b");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(static_cast<clabel_data *>(entry_record(1))->label)), "<b>unclosed");
}

TEST_F(TypedFieldsTest, LabelArgumentsAndFormats)
{
    const auto print = [](int index, const std::string &value) {
        return val(CM) + str("entry") + num(index) + value + st(in_IGPRINT, 4);
    };
    const auto with_format = [](const std::string &format) {
        return typed_test::label(1, 1, 0, "", {num(0L), num(0L), num(0L), str(format)});
    };
    ASSERT_EQ(form(window_form() + add_field(with_format("m2"), WIDGET_LABEL, TAB_NO_FOCUS) +
                   print(1, num("-1234.5")))
                  .abort,
              "");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(static_cast<clabel_data *>(entry_record(1))->label)), "1,234.50-");
    ASSERT_EQ(form(window_form() + add_field(typed_test::label(1, 1, 0, "x"), WIDGET_LABEL, TAB_NO_FOCUS, "TOTAL") + val(CM) +
                   str("TOTAL") + str("n,2") + st(in_IGLABEL_SETUP, 3) + print(1, num("1234567")))
                  .abort,
              "");
    EXPECT_STREQ(static_cast<clabel_data *>(entry_record(1))->format_type, "n,2");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(static_cast<clabel_data *>(entry_record(1))->label)), "1,234,567.00");

    struct Case {
        std::string body, abort;
    } cases[] = {
        {window_form() + typed_test::label(1, 1, 0, "x", {num(0L), num(0L), num(0L)}),
         "May have seven, nine, eleven, twelve, or thirteen parameters"},
        {window_form() + typed_test::label(1, 2, 0, "x"), "Invalid value 2 to third parameter"},
        {window_form() + typed_test::label(1, 1, 3, "x"), "Invalid value 3 to fourth parameter"},
        {window_form() + typed_test::label(1, 1, 0, "x", {num(-1), num(0L)}), "X Padding -1 must not be less than zero"},
        {window_form() + typed_test::label(1, 1, 0, "x", {num(0L), num(-2)}), "Y Padding -2 must not be less than zero"},
        {window_form() + typed_test::label(1, 1, 0, "x", {num(0L), num(0L), num(2), str("")}), "wrap 2 must be true or false"},
        {window_form() + with_format("n,+2"), "Format Type 'n,+2' to iglabel_setup is invalid"},
        {window_form() + add_field(typed_test::label(1, 1, 0, "x"), WIDGET_LABEL, TAB_NO_FOCUS) + val(CM) + num(1) + str("x") +
             st(in_IGLABEL_SETUP, 3),
         "Format Type 'x' to iglabel_setup is invalid"},
        {window_form() + val(CM) + num(1) + st(in_IGLABEL_SETUP, 2), "Must have three parameters"},
        {window_form() + str("x") + num("0.5") + fn(in_IGLABEL_SIMPLE_NEW, 2),
         "May have three, four, five, or six parameters; and not 2"},
        {window_form() + str("x") + num("0.5") + num(10) + num(3) + fn(in_IGLABEL_SIMPLE_NEW, 4),
         "Wrap 3 must be true or false"},
    };
    for (const Case &c : cases) EXPECT_EQ(form(c.body).abort, c.abort) << c.abort;

    // A pixel width of 0 with wrap on falls back to the width in characters.
    ASSERT_EQ(form(window_form() + typed_test::label(1, 0, 0, "x", {num(0L), num(0L), num(1), str(""), num(0L)})).abort, "");
    GtkWidget *plain = reinterpret_cast<GtkWidget *>(handle(D));
    EXPECT_TRUE(GTK_IS_LABEL(plain)) << "field flag 0 hands back the label itself";
    EXPECT_EQ(gtk_label_get_width_chars(GTK_LABEL(plain)), 20);
    EXPECT_TRUE(gtk_label_get_wrap(GTK_LABEL(plain)));
}
