// The intrinsics that drive a note field in-process: IGNOTE_PRINT's checks and what it stores and
// shows, IGNOTE_GET (a fresh field, a loaded one, twice in a row), IGNOTE_IS_WINDOW, IGNOTE_COLLAPSE
// and IGNOTE_EXPAND, a clear of the field, and the paragraph count.
#include <gtest/gtest.h>

#include <cstring>

#include "mem_mgt.h"
#include "note_field_fixture.h"
#include "typed_fields_fixture.h"

using namespace forms_test;
using namespace note_test;

namespace {

constexpr const char *empty_note = "<note ver=\"1\"><p datatype=\"P\" position=\"0\"><![CDATA[]]></p></note>";

std::string tip_of(GtkWidget *w)
{
    const char *t = gtk_widget_get_tooltip_text(w);
    return t ? t : "";
}

} // namespace

TEST_F(NoteFieldTest, PrintRefusals)
{
    const auto flags = [](int i) {
        int f[8] = {};
        f[i] = 1;
        return print("N1", "text", 2, f);
    };
    struct Case {
        std::string load, abort;
    } cases[] = {
        {print("1234567890", "text", 2), "Note Number is 10 characters being greater then 9 characters"},
        {print("N1", "text", 2, {}, "TYPE777"),
         "Type passed to the Note is too long; It should be less than 6 and is 7 characters"},
        {print("N1", "text", 2, {}, "T", std::string(41, 'd')),
         "Type Descriptor passed to the Note is too long; It should be less than 40 and is 41 characters"},
        {print("N1", "text", 2, {}, "T", "D", "RPC7777"),
         "RPC passed to the Note is too long; It should be less than 6 and is 7 characters"},
        {print("N1", "text", 0),
         "Operational Mode 0 must be one of 1 = Display; 2 = Edit; 3 = Template; 4 = Edit One Line"},
        {print("N1", "text", 5),
         "Operational Mode 5 must be one of 1 = Display; 2 = Edit; 3 = Template; 4 = Edit One Line"},
        {flags(2), "Must pass the flag indicating that Calc data may be entered as false"},
        {flags(5), "Must pass the flag indicating that text may be protected as false"},
        {flags(6), "Must pass the flag indicating that Status data may be added as false"},
        {flags(7), "Must pass the flag indicating that Instruction data may be added as false"},
    };
    for (const Case &c : cases) EXPECT_EQ(note_program(note_form(2) + c.load).abort, c.abort) << c.abort;
    // A field that is no note.
    const std::string input = typed_test::window_form() +
                              typed_test::add_field(typed_test::input(1, 0, 10, "s"), WIDGET_INPUT);
    EXPECT_EQ(note_program(input + print("N1", "text", 2)).abort, "Unexpected type found in Note");
    EXPECT_EQ(note_program(input + get()).abort, "Unexpected type found in Note");
    EXPECT_EQ(note_program(note_form(2) + val(CM) + num(1) + num(1) + fn(in_IGNOTE_IS_WINDOW, 3) + set(X)).abort,
              "ignote_is_window must have two parameters: Control Matrix and the index");

    // Not from the field's own Edit_Content routine, nor from its Change_Content routine.
    ASSERT_EQ(note_program(note_form(2)).abort, "");
    ControlMatrix_t *form = cm();
    form->current_focus = 1;
    const std::string again = number(form) + set(CM) + print("N1", "text", 2);
    form->ac_stack[0] = AC_EDIT_CONTENT;
    EXPECT_EQ(note_program(again).abort,
              "Not permitted to use ignote_print from within Edit_Content Action Code, index 1 cm.current_focus 1");
    form->ac_stack[0] = AC_CHANGE_CONTENT;
    EXPECT_EQ(note_program(again).abort,
              "Not permitted to use ignote_print from within Change_Content Action Code, index 1 cm.current_focus 1");
    form->current_focus = 2;  // another field's Change_Content may load the note
    EXPECT_EQ(note_program(again).abort, "");
    form->ac_stack[0] = 0;

    // While the field's edit window is open a note with more than its short text cannot be shown.
    NoteData_t *n = note();
    n->saved_display_state = n->display_state;
    n->display_state = 4;
    EXPECT_EQ(note_program(number(form) + set(CM) + print("N1", xml({"A", "B"}), n->mode)).abort,
              "Invalid display state");
}

TEST_F(NoteFieldTest, PrintStoresTheNoteAndItsSettings)
{
    const std::string am = "<am required=\"true\" next=\"false\" protect=\"false\" orsec=\"0\" orsecvalue=\"0\">";
    const std::string p = "<p datatype=\"P\" position=\"0\"><![CDATA[";
    const std::string amounts =
        "<note ver=\"1\">" + p + "Costs]]></p>" + am + "12.50</am>" + p + "]]></p>" + am + "-2.25</am></note>   ";
    const int flags[8] = {1, 1, 0, 1, 1, 0, 0, 0};
    ASSERT_EQ(note_program(note_form(2) + print("123456789   ", amounts, 3, flags, "TYPE6", "Descr  ", "RPC ")).abort,
              "");
    NoteData_t *n = note();
    EXPECT_STREQ(n->number, "123456789") << "nine characters and blanks: trimmed";
    EXPECT_STREQ(n->note_type, "TYPE6");
    EXPECT_STREQ(n->type_desc, "Descr");
    EXPECT_STREQ(n->rpc, "RPC");
    for (int i = 0; i < 8; ++i) EXPECT_EQ(n->print_flags[i], flags[i]) << i;
    EXPECT_EQ(n->mode, 3);
    EXPECT_EQ(n->created_mode, 2);
    double total = 0;
    NumericToDBL(&n->total, &total);
    EXPECT_DOUBLE_EQ(total, 10.25);
    EXPECT_NE(n->original, nullptr) << "the original copy is kept";
    EXPECT_EQ(gnote_count_paragraphs(n), 3);
    EXPECT_STREQ(n->short_text, "Costs");
    EXPECT_EQ(n->has_more, 1);
    EXPECT_EQ(n->display_state, 2);
    EXPECT_STREQ(gtk_widget_get_name(n->activate_button), "NoteActivateButtonOk");
    EXPECT_EQ(tip_of(n->activate_button), "Right mouse button to expand display");
}

TEST_F(NoteFieldTest, GetOnAFreshFieldAndTwiceInARow)
{
    ASSERT_EQ(note_program(note_form(2) + get()).abort, "");
    EXPECT_EQ(text(IPS), "");
    EXPECT_EQ(xml_variable(), empty_note);
    EXPECT_EQ(text(TS), "");
    for (Numeric v : {E, IP, X, L, CM2}) EXPECT_EQ(value(v), 0) << v;
    EXPECT_EQ(value(E2), 1) << "only its short text";

    // The paragraph's first line grew past 40 bytes since the note was loaded (as the edit window
    // leaves it): the short text puts a line break into it, which the XML of the same call
    // carries already, so a second call agrees with the first.
    const std::string words45 = "aaaa bbbb cccc dddd eeee ffff gggg hhhh iiiii";
    ASSERT_EQ(note_program(note_form(2) + print("N1", "short", 2)).abort, "");
    NoteData_t *n = note();
    sfree(n->note->p.text);
    n->note->p.text = static_cast<char *>(salloc(words45.size() + 1));
    std::memcpy(n->note->p.text, words45.c_str(), words45.size() + 1);
    const std::string again = number(cm()) + set(CM) + get();
    ASSERT_EQ(note_program(again).abort, "");
    const std::string once = xml_variable();
    EXPECT_EQ(text(TS), "aaaa bbbb cccc dddd eeee ffff gggg hhhh");
    EXPECT_NE(once.find("hhhh\niiiii"), std::string::npos) << once;
    ASSERT_EQ(note_program(again).abort, "");
    EXPECT_EQ(xml_variable(), once) << "a second call agrees with the first";
    EXPECT_EQ(value(L), 1) << "one paragraph";
    EXPECT_EQ(value(E2), 0) << "more than its short text";
}

// IGNOTE_GET refuses a text where a number goes, naming itself.
TEST_F(NoteFieldTest, GetRefusesATextForANumber)
{
    // get() with T$ once more in E's place.
    const std::string text_for_e = val(CM) + num(1) + sref(IPS) + xml_ref() + sref(TS) + sref(TS) + ref(IP) + ref(X) +
                                   ref(L) + ref(CM2) + ref(E2) + st(in_IGNOTE_GET, 11);
    EXPECT_EQ(note_program(note_form(2) + text_for_e).abort, "IGNOTE_GET: argument must be a numeric variable");
}

TEST_F(NoteFieldTest, IsWindowCollapseExpandAndPageKeys)
{
    const std::string two = xml({"First", "Second"});
    ASSERT_EQ(note_program(note_form(2) + print("N1", two, 2) + val(CM) + num(1) + fn(in_IGNOTE_IS_WINDOW, 2) + set(X) +
                           on_field(in_IGNOTE_EXPAND))
                  .abort,
              "");
    NoteData_t *n = note();
    EXPECT_EQ(value(X), 0);
    EXPECT_EQ(n->display_state, 3);
    EXPECT_TRUE(gtk_widget_get_visible(n->full_window));
    EXPECT_EQ(tip_of(n->activate_button), "Right mouse button to collapse display");
    // The page keys through the engine's editing hook: Page_Up collapses, Page_Down expands; the
    // other way round they do nothing.
    const auto edit = widget_type(WIDGET_NOTE).edit;
    edit(cm(), 1, GDK_KEY_Page_Down);
    EXPECT_EQ(n->display_state, 3);
    edit(cm(), 1, GDK_KEY_Page_Up);
    EXPECT_EQ(n->display_state, 2);
    EXPECT_FALSE(gtk_widget_get_visible(n->full_window));
    edit(cm(), 1, GDK_KEY_Page_Up);
    EXPECT_EQ(n->display_state, 2);
    edit(cm(), 1, GDK_KEY_Page_Down);
    EXPECT_EQ(n->display_state, 3);
    // The second mouse button and the toggle switch it too.
    gnote_toggle_display(cm(), 1);
    EXPECT_EQ(n->display_state, 2);
    // While the edit window is open IGNOTE_IS_WINDOW answers 1, and collapsing gives the state
    // before it back.
    n->saved_display_state = n->display_state;
    n->display_state = 4;
    ASSERT_EQ(note_program(number(cm()) + set(CM) + val(CM) + num(1) + fn(in_IGNOTE_IS_WINDOW, 2) + set(X) +
                           on_field(in_IGNOTE_COLLAPSE))
                  .abort,
              "");
    EXPECT_EQ(value(X), 1);
    EXPECT_EQ(n->display_state, 2);
    EXPECT_EQ(n->saved_display_state, 4);

    // Edit One Line never expands, by intrinsic or key.
    ASSERT_EQ(note_program(note_form(4) + print("N1", two, 4) + on_field(in_IGNOTE_EXPAND)).abort, "");
    EXPECT_EQ(note()->display_state, 2);
    widget_type(WIDGET_NOTE).edit(cm(), 1, GDK_KEY_Page_Down);
    EXPECT_EQ(note()->display_state, 2);
    EXPECT_EQ(tip_of(note()->activate_button), "") << "no tooltips in Edit One Line";

    // Expanding an empty one-line note collapses and leaves the note empty.
    ASSERT_EQ(note_program(note_form(2) + on_field(in_IGNOTE_EXPAND)).abort, "");
    EXPECT_EQ(note()->display_state, 1);
    EXPECT_EQ(note()->note, nullptr);
}

// Display mode loaded into an Edit field shows the arrow and the collapsed line; a clear gives
// the field its own mode back. A clear of a mode 0 field shows " - ".
TEST_F(NoteFieldTest, PrintOfAnotherModeAndClear)
{
    ASSERT_EQ(note_program(note_form(2) + print("N1", "One line", 1)).abort, "");
    NoteData_t *n = note();
    EXPECT_EQ(n->mode, 1);
    EXPECT_EQ(n->display_state, 2);
    EXPECT_TRUE(gtk_widget_get_visible(n->arrow_button));
    EXPECT_TRUE(gtk_widget_get_visible(n->line_box));
    EXPECT_FALSE(gtk_widget_get_visible(n->activate_button));
    EXPECT_FALSE(gtk_widget_get_visible(n->input));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(n->line_label)), "One line");
    widget_type(WIDGET_NOTE).clear(cm(), 1, n);
    EXPECT_EQ(n->mode, 2);
    EXPECT_EQ(n->display_state, 1);
    EXPECT_TRUE(gtk_widget_get_visible(n->input));
    EXPECT_TRUE(gtk_widget_get_visible(n->activate_button));
    EXPECT_FALSE(gtk_widget_get_visible(n->arrow_button));
    EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(n->input)), "");
    EXPECT_EQ(n->note, nullptr);
    EXPECT_STREQ(n->number, "");
    EXPECT_EQ(tip_of(n->activate_button), "Field not available to be changed");

    // Mode 0: loaded, then cleared.
    ASSERT_EQ(note_program(note_form(0) + print("N1", xml({"A", "B"}), 2)).abort, "");
    n = note();
    EXPECT_STREQ(gtk_label_get_label(GTK_LABEL(n->activate_label)), "<b>+</b>");
    EXPECT_EQ(n->mode, 2);
    widget_type(WIDGET_NOTE).clear(cm(), 1, n);
    EXPECT_EQ(n->mode, 0);
    EXPECT_EQ(n->display_state, 0);
    EXPECT_STREQ(gtk_label_get_label(GTK_LABEL(n->activate_label)), " - ");
    EXPECT_TRUE(gtk_widget_get_visible(n->activate_button));
    EXPECT_TRUE(gtk_widget_get_visible(n->line_box)) << "the empty collapsed line";
    EXPECT_FALSE(gtk_widget_get_visible(n->input));
    EXPECT_EQ(tip_of(n->activate_button), "Field not available to be changed");

    // Mode 1 created, Edit loaded, cleared back to Display.
    ASSERT_EQ(note_program(note_form(1) + print("N1", "text", 2)).abort, "");
    n = note();
    EXPECT_EQ(n->display_state, 1);
    EXPECT_TRUE(gtk_widget_get_visible(n->input));
    widget_type(WIDGET_NOTE).clear(cm(), 1, n);
    EXPECT_EQ(n->mode, 1);
    EXPECT_EQ(n->display_state, 2);
    EXPECT_TRUE(gtk_widget_get_visible(n->arrow_button));
    EXPECT_FALSE(gtk_widget_get_visible(n->input));
}
