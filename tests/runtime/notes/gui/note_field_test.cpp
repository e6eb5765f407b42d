// The note field in-process: IGNOTE_NEW and its checks, the widget tree with its names, classes
// and controllers, what each operational mode shows after IGNOTE_NEW, and pictures of the field
// in each mode.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <utility>
#include <vector>

#include "cattach.h"
#include "dialog_script.h"
#include "gmisc.h"
#include "gwidget.h"
#include "gui_env.h"
#include "note_field_fixture.h"
#include "typed_fields_fixture.h"
#include "xdotool.h"

using namespace forms_test;
using namespace note_test;

namespace {

bool shown(GtkWidget *w) { return gtk_widget_get_visible(w); }
std::string name_of(GtkWidget *w) { return gtk_widget_get_name(w); }
std::string tip_of(GtkWidget *w)
{
    const char *t = gtk_widget_get_tooltip_text(w);
    return t ? t : "";
}
// Whether the widget has a controller of that name.
std::size_t toplevel_count()
{
    GListModel *windows = gtk_window_get_toplevels();
    return g_list_model_get_n_items(windows);
}

bool has(GtkWidget *w, const char *name) { return oska_widget_get_controller(w, name) != nullptr; }

} // namespace

TEST_F(NoteFieldTest, NewChecksItsArguments)
{
    const auto with = [](const std::string &cm, int mode, int placement) {
        return typed_test::window_form() + cm + num(1) + num(40) + num(0L) + str("NoteF") + num(300) + num(120) +
               num(500) + num(400) + num(placement) + num(2) + num(mode) + fn(in_IGNOTE_NEW, 12) + set(D);
    };
    struct Case {
        std::string body, abort;
    } cases[] = {
        {with(num(0L), 2, 0), "Must set the Process Control Matrix before creating the note widget"},
        // The CM is checked before the mode, the mode before the placement.
        {with(num(0L), 7, 0), "Must set the Process Control Matrix before creating the note widget"},
        {with(ref(CM), 5, 10),
         "Operational Mode 5 must be one of: 0 = Null; 1 = Display; 2 = Edit; 3 = Template; 4 = Edit One Line"},
        {with(ref(CM), -1, 0),
         "Operational Mode -1 must be one of: 0 = Null; 1 = Display; 2 = Edit; 3 = Template; 4 = Edit One Line"},
        {with(ref(CM), 2, 10), "Placement 10 is out of range"},
        {with(ref(CM), 2, -1), "Placement -1 is out of range"},
    };
    for (const Case &c : cases) EXPECT_EQ(note_program(c.body).abort, c.abort) << c.abort;
    const Outcome few = note_program(typed_test::window_form() + ref(CM) + num(1) + fn(in_IGNOTE_NEW, 2));
    EXPECT_NE(few.abort + few.err, "") << "eleven or fewer arguments are refused";

    ASSERT_EQ(note_program(note_form(2, 3)).abort, "");
    NoteData_t *n = note();
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(handle_kind(n), CM_FIELD_TYPE_GNOTE);
    EXPECT_EQ(reinterpret_cast<NoteData_t *>(handle(D)), n) << "the handle is the record";
    // The setup record (103) holds the note; the note's F9 record (159) is there too.
    EXPECT_EQ(cmat_get_scm(cm(), 1, AC_NOTE_SETUP)->setup, n);
    EXPECT_NE(cmat_get_scm(cm(), 1, AC_NOTE_F9), nullptr);
    EXPECT_EQ(n->index, 1);
    EXPECT_EQ(n->cm, cm());
    EXPECT_EQ(n->min_chars, 3);
    EXPECT_STREQ(n->name, "NoteF");
    EXPECT_STREQ(n->input_type, "s");
    EXPECT_EQ(n->mode, 2);
    EXPECT_EQ(n->created_mode, 2);
    EXPECT_EQ(n->width, 300);
    EXPECT_EQ(n->edit_width, 500);
    EXPECT_EQ(n->edit_height, 400);
    EXPECT_EQ(n->version, 1);
    EXPECT_EQ(n->has_more, 0);
    EXPECT_STREQ(n->number, "");
    EXPECT_EQ(n->total.dec_pos, 1) << "total 0, not null";

    // The widget tree.
    EXPECT_EQ(name_of(n->hbox), "hbox");
    EXPECT_EQ(name_of(n->hbox2), "hbox2");
    EXPECT_EQ(name_of(n->line_box), "scrolledline");
    EXPECT_TRUE(gtk_widget_has_css_class(n->line_box, "ginput"));
    EXPECT_TRUE(gtk_widget_has_css_class(n->line_box, "NoteF"));
    EXPECT_EQ(name_of(n->line_label), "NoteF");
    ASSERT_TRUE(GTK_IS_TEXT(n->input)) << "the input is its own editable";
    EXPECT_TRUE(gtk_widget_has_css_class(n->input, "ginput"));
    EXPECT_EQ(name_of(n->input), "NoteF");
    EXPECT_EQ(gtk_text_get_max_length(GTK_TEXT(n->input)), 50) << "the maximum length and 10";
    EXPECT_FALSE(gtk_text_get_enable_emoji_completion(GTK_TEXT(n->input)));
    EXPECT_EQ(gtk_widget_get_parent(n->hbox2), n->vbox);
    EXPECT_EQ(gtk_widget_get_parent(n->vbox), n->hbox);
    EXPECT_EQ(gtk_widget_get_first_child(n->hbox), gtk_widget_get_parent(n->input)) << "the column comes first";
    EXPECT_EQ(gtk_widget_get_parent(n->full_window), gtk_widget_get_parent(n->input));
    EXPECT_EQ(gtk_widget_get_first_child(n->hbox2), n->activate_button);
    EXPECT_EQ(gtk_widget_get_next_sibling(n->activate_button), n->arrow_button);
    EXPECT_EQ(gtk_button_get_child(GTK_BUTTON(n->activate_button)), n->activate_label);
    EXPECT_EQ(gtk_button_get_child(GTK_BUTTON(n->arrow_button)), n->arrow_image);
    EXPECT_STREQ(gtk_image_get_icon_name(GTK_IMAGE(n->arrow_image)), "go-down");
    for (auto [widget, name] : {std::pair{n->arrow_button, "gnote-button"}, {n->arrow_button, "gnote"},
                                {n->activate_button, "gnote-create-active-button-button"},
                                {n->activate_button, "gnote-activate-button"}, {n->input, "gnote-input-button"},
                                {n->input, "gnote-input"}})
        EXPECT_TRUE(has(widget, name)) << name;
    EXPECT_FALSE(has(n->line_box, "gnote-scrolledline")) << "clickable only in modes 0 and 1";
    // The rows the engine and the widget intrinsics take.
    EXPECT_EQ(record_kind(CM_FIELD_TYPE_GNOTE).principal(n), n->hbox);
    EXPECT_EQ(*record_kind(CM_FIELD_TYPE_GNOTE).own_index(n), 1);
    EXPECT_EQ(field_kind(CM_FIELD_TYPE_GNOTE).packed(n), n->hbox);
    EXPECT_EQ(field_kind(CM_FIELD_TYPE_GNOTE).tooltip(n), n->hbox);
    EXPECT_EQ(widget_type(WIDGET_NOTE).key_refused(n), &n->modified);
    EXPECT_EQ(widget_type(WIDGET_NOTE).context_menu(cm(), 1, n, 3), 0);
    field_kind(CM_FIELD_TYPE_GNOTE).set_name(n, "loud");
    EXPECT_EQ(name_of(n->input), "loud");
    EXPECT_EQ(name_of(n->line_label), "loud");
}

// What each mode shows once IGNOTE_NEW has run.
TEST_F(NoteFieldTest, EachModeShowsItsWidgetsAfterNew)
{
    struct Case {
        int mode, state;
        bool activate, arrow, input, line;
        const char *label;  // of the +/- button
        const char *tip;
    } cases[] = {
        {0, 1, true, false, true, false, "<b>-</b>", "Left mouse button to edit"},
        {1, 2, false, true, false, true, "<b>+</b>", "Left mouse button to edit"},
        {2, 1, true, false, true, false, "<b>+</b>", "Left mouse button to edit"},
        {3, 1, true, false, true, false, "<b>+</b>", "Left mouse button to edit"},
        {4, 1, true, false, true, false, "<b>+</b>", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        ASSERT_EQ(note_program(note_form(c.mode)).abort, "");
        NoteData_t *n = note();
        EXPECT_EQ(n->display_state, c.state);
        EXPECT_EQ(shown(n->activate_button), c.activate);
        EXPECT_EQ(shown(n->arrow_button), c.arrow);
        EXPECT_EQ(shown(n->input), c.input);
        EXPECT_EQ(shown(n->line_box), c.line);
        EXPECT_FALSE(shown(n->full_window));
        EXPECT_STREQ(gtk_label_get_label(GTK_LABEL(n->activate_label)), c.label);
        EXPECT_EQ(tip_of(n->activate_button), c.tip ? c.tip : "");
        // Nothing more to see: neither button is named as the one to press.
        EXPECT_NE(name_of(n->activate_button), "NoteActivateButtonOk");
        EXPECT_NE(name_of(n->arrow_button), "NoteActivateButtonOk");
        EXPECT_EQ(has(n->line_box, "gnote-scrolledline"), c.mode <= 1);
    }
}

// The field in each mode, empty after IGNOTE_NEW, with a note of two paragraphs (collapsed), and
// expanded: what each shows, and pictures of all under LUMBA_SNAPSHOT_DIR to look at.
TEST_F(NoteFieldTest, EachModeCollapsedAndExpanded)
{
    using lumba_test::Rgba;
    const Rgba line{0xc0, 0xc0, 0xff, 0xff}, ok{0xff, 0x80, 0x00, 0xff}, named{0xff, 0xe0, 0xa0, 0xff};
    const std::string two = xml({"First line of the note", "A second paragraph that the line does not show"});
    std::vector<lumba_test::Snapshot> pictures;
    for (int mode = 0; mode <= 4; ++mode) {
        SCOPED_TRACE(mode);
        const std::string load = mode == 0 ? "" : print("N1", two, mode) + on_field(in_IGNOTE_COLLAPSE);
        ASSERT_EQ(note_program(note_form(mode) + load).abort, "");
        NoteData_t *n = note();
        on_screen();
        const lumba_test::Snapshot collapsed = drawn(n->hbox);
        if (mode == 0) {
            EXPECT_GT(collapsed.count(named, 8), 0) << "the empty one-line input";
        } else {
            EXPECT_EQ(n->display_state, 2);
            EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(n->line_label)), "First line of the note");
            EXPECT_GT(collapsed.count(line, 8), 0) << "the collapsed line";
            EXPECT_GT(collapsed.count(ok, 8), 0) << "the button to press";
        }
        pictures.push_back(collapsed);
        if (mode == 0) continue;
        gnote_expand_p(n);
        const lumba_test::Snapshot expanded = drawn(n->hbox);
        if (mode == 4) {
            EXPECT_EQ(n->display_state, 2) << "Edit One Line never expands";
            EXPECT_FALSE(gtk_widget_get_visible(n->full_window));
        } else {
            EXPECT_EQ(n->display_state, 3);
            EXPECT_TRUE(gtk_widget_get_visible(n->full_window));
            EXPECT_FALSE(gtk_widget_get_visible(n->line_box));
            EXPECT_GT(expanded.height(), collapsed.height()) << "the whole note under the line";
            EXPECT_GT(drawn(n->full_window).dark_pixels(), 0);
        }
        if (mode == 1) {
            EXPECT_STREQ(gtk_image_get_icon_name(GTK_IMAGE(n->arrow_image)), "go-up");
        }
        pictures.push_back(expanded);
    }
    save(lumba_test::Snapshot::side_by_side(pictures), "note_field_modes.png");
}

// The short text of a paragraph: cut at a blank (which becomes the paragraph's line break), at a
// line break, or at a character boundary.
TEST_F(NoteFieldTest, ShortTextTable)
{
    ASSERT_EQ(note_program(note_form(2)).abort, "");
    NoteData_t *n = note();
    const std::string words45 = "aaaa bbbb cccc dddd eeee ffff gggg hhhh iiiii";  // a blank at byte 39
    ASSERT_EQ(words45.size(), 45u);
    const std::string forty(40, 'x'), fifty(50, 'y'), accent = std::string(39, 'a') + "\xc3\xa9" + "bcd";
    struct Case {
        std::string paragraph, short_text, after;  // after: the paragraph's text afterwards
        int has_more;
    } cases[] = {
        {words45, words45.substr(0, 39), words45.substr(0, 39) + "\n" + words45.substr(40), 1},
        {forty + "\nmore", forty, forty + "\nmore", 1},
        {fifty, fifty.substr(0, 40), fifty, 1},
        {accent, std::string(39, 'a'), accent, 1},
        {"short", "short", "short", 0},
        {"", "", "", 0},
    };
    for (const Case &c : cases) {
        ASSERT_FALSE(gnote_parse_xml(n, c.paragraph.c_str(), 0));
        const std::string s = gnote_get_short_note(n);
        EXPECT_EQ(s, c.short_text) << c.paragraph;
        EXPECT_TRUE(g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr)) << c.paragraph;
        EXPECT_EQ(std::string(n->note->p.text), c.after) << c.paragraph;
        EXPECT_EQ(n->has_more, c.has_more) << c.paragraph;
    }
}

// Enter on the one-line input: fewer characters than the minimum (trailing blanks not counted)
// warns and refuses on a required field; an empty optional field passes.
TEST_F(NoteFieldTest, EnterChecksTheMinimumLength)
{
    struct Case {
        int tab;
        std::string typed;
        int accepted;
        std::vector<std::string> asked;
    } cases[] = {
        {TAB_REQUIRED, "ab  ", 0, {"Entered 2 characters, minimum number required is 3."}},
        {TAB_KEY, "", 0, {"Entered 0 characters, minimum number required is 3."}},
        {TAB_STANDARD, "", 1, {}},
        {TAB_STANDARD, "a", 0, {"Entered 1 characters, minimum number required is 3."}},
        {TAB_REQUIRED, "abc", 1, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed);
        ASSERT_EQ(note_program(note_form(2, 3, c.tab)).abort, "");
        NoteData_t *n = note();
        edit(1);
        type(n->input, c.typed);
        EXPECT_EQ(std::string(gtk_editable_get_text(GTK_EDITABLE(n->input))), c.typed);
        const lumba_test::DialogScript script({0});
        EXPECT_EQ(widget_type(WIDGET_NOTE).validate(cm(), 1, n), c.accepted);
        std::vector<std::string> asked;
        for (const DialogRequest &r : script.asked()) {
            asked.push_back(r.text);
            EXPECT_EQ(r.style, "warning");
        }
        EXPECT_EQ(asked, c.asked);
        EXPECT_STREQ(n->short_text, c.typed.c_str()) << "the typed text is the short text";
    }
}

// The field's value for routines (IP$): the one-line text, else the short text.
TEST_F(NoteFieldTest, TheValueIsTheLineShown)
{
    ASSERT_EQ(note_program(note_form(2) + print("N1", xml({"First", "Second"}), 2)).abort, "");
    NoteData_t *n = note();
    char *v = widget_type(WIDGET_NOTE).value(cm(), 1, n, nullptr, nullptr, nullptr);
    EXPECT_STREQ(v, "First");
    g_free(v);
    ASSERT_EQ(note_program(note_form(2)).abort, "");
    n = note();
    edit(1);
    type(n->input, "typed");
    v = widget_type(WIDGET_NOTE).value(cm(), 1, n, nullptr, nullptr, nullptr);
    EXPECT_STREQ(v, "typed");
    EXPECT_STREQ(n->short_text, "typed");
    g_free(v);
}

// An Edit_Content routine answering false keeps typed text and deletions out of the input, and
// the key-refused flag is put back; answering true lets them in.
TEST_F(NoteFieldTest, TheInputHonoursTheEditRefusal)
{
    for (const int answer : {0, 1}) {
        SCOPED_TRACE(answer);
        ASSERT_EQ(note_program(note_form(2) + print("N1", "old", 2)).abort, "");
        NoteData_t *n = note();
        set_cell(0, answer);
        edit(1);
        cm()->user_edit_watch = 1;
        gtk_editable_set_position(GTK_EDITABLE(n->input), -1);
        type(n->input, "x");
        gtk_editable_delete_text(GTK_EDITABLE(n->input), 0, 1);
        EXPECT_EQ(std::string(gtk_editable_get_text(GTK_EDITABLE(n->input))), answer ? "ldx" : "old");
        EXPECT_EQ(n->modified, 0);
        leave();
        // Not edited: the handlers are blocked, a program's text goes in as it is.
        set_cell(0, 0);
        type(n->input, "y");
        EXPECT_NE(std::string(gtk_editable_get_text(GTK_EDITABLE(n->input))).find('y'), std::string::npos);
    }
}

// The bold, italic and underline a label shows, as "b[0,2) i[5,9)" in byte ranges of its text in
// order of kind (ranges of a kind that meet are one, as they look).
std::string label_runs(GtkWidget *label)
{
    std::map<std::string, std::vector<std::pair<guint, guint>>> kinds;
    PangoAttrList *attrs = pango_layout_get_attributes(gtk_label_get_layout(GTK_LABEL(label)));
    GSList *list = attrs ? pango_attr_list_get_attributes(attrs) : nullptr;
    for (GSList *l = list; l; l = l->next) {
        const auto *a = static_cast<PangoAttribute *>(l->data);
        const char *kind = a->klass->type == PANGO_ATTR_WEIGHT      ? "b"
                           : a->klass->type == PANGO_ATTR_STYLE     ? "i"
                           : a->klass->type == PANGO_ATTR_UNDERLINE ? "u"
                                                                    : "other";
        auto &ranges = kinds[kind];
        if (!ranges.empty() && ranges.back().second == a->start_index)
            ranges.back().second = a->end_index;
        else
            ranges.emplace_back(a->start_index, a->end_index);
    }
    g_slist_free_full(list, reinterpret_cast<GDestroyNotify>(pango_attribute_destroy));
    std::string out;
    for (const auto &[kind, ranges] : kinds)
        for (const auto &[from, to] : ranges)
            out += std::string(out.empty() ? "" : " ") + kind + "[" + std::to_string(from) + "," + std::to_string(to) + ")";
    return out;
}

// The expanded display shows each paragraph's text as it is written, whatever mark-up it looks
// like, with the note's own bold, italic and underline runs (interleaved runs too); bytes that are
// no UTF-8 show as replacement characters.
TEST_F(NoteFieldTest, ExpandedParagraphsShowTheirTextAndTheirOwnRuns)
{
    const struct Case {
        std::string content;  // the paragraph's content in the note string
        std::string shown, runs;
    } cases[] = {
        {"Smith &amp; Sons", "Smith & Sons", ""},
        {"x &lt; 5", "x < 5", ""},
        {"&lt;b&gt;bold&lt;/b&gt;", "<b>bold</b>", ""},
        {"&lt;span foreground='red' size='xx-large'&gt;RED ALERT&lt;/span&gt;",
         "<span foreground='red' size='xx-large'>RED ALERT</span>", ""},
        {"<b>bo</b>ld <i>it<u>al</i></u>ic &amp; <u>&lt;i&gt;</u>", "bold italic & <i>", "b[0,2) i[5,9) u[7,9) u[14,17)"},
        {"<b>a<i>b</b>c</i>", "abc", "b[0,2) i[1,3)"},
        {"caf\xE9 <b>ol\xE9</b>", "caf\xEF\xBF\xBD ol\xEF\xBF\xBD", "b[7,12)"},
    };
    std::string elements;
    for (const Case &c : cases) elements += para(c.content);
    ASSERT_EQ(note_program(note_form(2) + print("N1", note_of(elements), 2) + on_field(in_IGNOTE_EXPAND)).abort, "");
    NoteData_t *n = note();
    on_screen();
    ASSERT_EQ(n->display_state, 3);
    std::vector<GtkWidget *> labels;
    std::vector<lumba_test::Snapshot> pictures;
    for (GtkWidget *w = gtk_widget_get_first_child(n->full_label); w; w = gtk_widget_get_next_sibling(w)) {
        if (std::string(gtk_label_get_text(GTK_LABEL(w))).empty()) continue;  // the spacers
        labels.push_back(w);
        const lumba_test::Snapshot s = drawn(w);
        EXPECT_GT(s.dark_pixels(), 0) << gtk_label_get_text(GTK_LABEL(w)) << ": its text is seen";
        pictures.push_back(s);
    }
    ASSERT_EQ(labels.size(), std::size(cases));
    for (std::size_t i = 0; i < labels.size(); ++i) {
        SCOPED_TRACE(cases[i].content);
        EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(labels[i]))), cases[i].shown);
        EXPECT_EQ(label_runs(labels[i]), cases[i].runs);
    }
    // The note keeps its bytes.
    EXPECT_EQ(xml_of(n), note_of(elements));
    save(lumba_test::Snapshot::side_by_side(pictures), "note_markup.png");
}

// The focused input: the middle and right buttons paste the clipboard's text (no menu opens); the
// left button goes to the forms engine's click handler.
TEST_F(NoteFieldTest, ClicksOnTheFocusedInput)
{
    ASSERT_EQ(note_program(note_form(2)).abort, "");
    NoteData_t *n = note();
    on_screen();
    const lumba_test::Xdotool user(lumba_test::gui_display());
    const std::string id = lumba_test::x_window_id(cm()->window);
    user.focus(id);
    ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_window_is_active(GTK_WINDOW(cm()->window)); }, 5000));
    edit(1);
    gtk_widget_grab_focus(n->input);
    graphene_rect_t r{};
    ASSERT_TRUE(gtk_widget_compute_bounds(n->input, cm()->window, &r));
    const int x = static_cast<int>(r.origin.x + 10), y = static_cast<int>(r.origin.y + r.size.height / 2);
    const std::size_t windows = toplevel_count();
    for (const int button : {2, 3}) {
        SCOPED_TRACE(button);
        gtk_editable_set_text(GTK_EDITABLE(n->input), "");
        gdk_clipboard_set_text(gtk_widget_get_clipboard(n->input), "pasted");
        std::snprintf(cm()->event_name, sizeof cm()->event_name, "%s", "none");
        user.click(id, x + button, y, button);  // a new place each time: the move must happen
        EXPECT_TRUE(lumba_test::wait_until([&] {
            return std::string(gtk_editable_get_text(GTK_EDITABLE(n->input))) == "pasted";
        })) << gtk_editable_get_text(GTK_EDITABLE(n->input));
        EXPECT_STREQ(cm()->event_name, "none") << "the engine did not see the click";
        EXPECT_EQ(toplevel_count(), windows) << "no menu";
    }
    user.click(id, x + 1, y, 1);
    EXPECT_TRUE(lumba_test::wait_until([&] { return std::string(cm()->event_name) == "Mouse"; }))
        << "the left button reaches the engine's click handler";
}
