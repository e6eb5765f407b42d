// The note field under the style sheet a site gets (site/conf/gtk/gtk3.css): its one-line input
// is framed like the typed fields and shows when it has the keyboard; its collapsed line is framed
// too; the edit window's views are framed, a hidden comment grey. Pictures under LUMBA_SNAPSHOT_DIR.
#include <gtest/gtest.h>

#include <algorithm>

#include "gmisc.h"
#include "gui_env.h"
#include "note_field_fixture.h"
#include "xdotool.h"

using namespace forms_test;
using namespace note_test;
using lumba_test::Rgba;

namespace {

int luminance(Rgba c) { return (c.r * 3 + c.g * 6 + c.b) / 10; }

} // namespace

TEST_F(NoteFieldTest, TheInputIsFramedAndShowsItsFocus)
{
    // A second note field to take the keyboard away.
    ASSERT_EQ(note_program(note_form(2) + note_new(2, 0, 2) + val(Y) + val(D) + num(0L) + num(0L) + num(0L) +
                           num(0L) + num(0L) + num(0L) + num(0L) + st(in_IGHBOX_PACK, 9))
                  .abort,
              "");
    NoteData_t *n = note();
    auto *other = reinterpret_cast<NoteData_t *>(handle(D));
    on_screen();
    const lumba_test::Xdotool user(lumba_test::gui_display());
    user.focus(lumba_test::x_window_id(cm()->window));
    ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_window_is_active(GTK_WINDOW(cm()->window)); }, 5000));

    gtk_widget_grab_focus(other->input);
    ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(other->input); }));
    const lumba_test::Snapshot idle = drawn(n->input);
    ASSERT_FALSE(idle.empty());
    const int middle = idle.height() / 2;
    const Rgba frame = idle.pixel(0, middle);
    EXPECT_LT(luminance(frame), 200) << "a frame on the left edge";
    EXPECT_EQ(luminance(idle.pixel(2, middle)), 255) << "a white ground inside it";
    EXPECT_LT(luminance(idle.pixel(idle.width() / 2, 0)), 200) << "the frame's top";

    gtk_widget_grab_focus(n->input);
    ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(n->input); }));
    const lumba_test::Snapshot focused = drawn(n->input);
    const Rgba ring = focused.pixel(0, middle);
    EXPECT_GT(ring.b, ring.r + 80) << "a blue frame while it has the keyboard";

    // The collapsed line of a Display note: framed, on white.
    ASSERT_EQ(note_program(note_form(1) + print("N1", xml({"First", "Second"}), 1)).abort, "");
    on_screen();
    const lumba_test::Snapshot line = drawn(note()->line_box);
    ASSERT_FALSE(line.empty());
    EXPECT_LT(luminance(line.pixel(0, line.height() / 2)), 200) << "the line's frame";
    EXPECT_EQ(luminance(line.pixel(line.width() - 3, line.height() / 2)), 255) << "a white ground";
    save(lumba_test::Snapshot::side_by_side({idle, focused, line}), "note_framed.png");
}

// The edit window's paragraph views are framed and show the keyboard like the typed fields.
TEST_F(NoteFieldTest, TheEditWindowsViewsAreFramedAndShowTheirFocus)
{
    ASSERT_EQ(note_program(note_form(2) + print("N1", xml({"First", "Second"}), 2)).abort, "");
    NoteData_t *n = open_edit_window();
    ControlMatrix_t *w = edit_cm();
    ASSERT_NE(w, nullptr);
    const lumba_test::Xdotool user(lumba_test::gui_display());
    user.focus(lumba_test::x_window_id(w->window));
    ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_window_is_active(GTK_WINDOW(w->window)); }, 5000));
    GtkWidget *first = n->note->p.view, *second = n->note->next->p.view;
    gtk_widget_grab_focus(second);
    ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(second); }));
    const lumba_test::Snapshot idle = drawn(first);
    ASSERT_FALSE(idle.empty());
    const int middle = idle.height() / 2;
    EXPECT_LT(luminance(idle.pixel(0, middle)), 200) << "a frame on the left edge";
    EXPECT_LT(luminance(idle.pixel(idle.width() / 2, 0)), 200) << "the frame's top";
    const lumba_test::Snapshot focused = drawn(second);
    const Rgba ring = focused.pixel(0, focused.height() / 2);
    EXPECT_GT(ring.b, ring.r + 80) << "a blue frame while it has the keyboard";
    save(drawn(w->window), "note_window_site.png");
    close_edit();
}

namespace {

// The darkest pixel inside a widget's picture, its frame left out.
int darkest(const lumba_test::Snapshot &s)
{
    int dark = 255;
    for (int y = 4; y < s.height() - 4; ++y)
        for (int x = 4; x < s.width() - 4; ++x) dark = std::min(dark, luminance(s.pixel(x, y)));
    return dark;
}

} // namespace

// In Template mode a hidden comment has a framed view of its own whose text is grey beside the
// black of a paragraph; a block's tags show as labels around it.
TEST_F(NoteFieldTest, AHiddenCommentIsGreyAndFramedInTemplateMode)
{
    const std::string text = "<note ver=\"1\"><p datatype=\"P\" position=\"0\"><![CDATA[Opening words]]></p>"
                             "<tag name=\"T1\" start=\"true\">Terms</tag>"
                             "<p datatype=\"P\" position=\"0\"><![CDATA[Inside the block]]></p>"
                             "<tag name=\"T1\" start=\"false\">End of terms</tag>"
                             "<p datatype=\"H\" position=\"0\"><![CDATA[A comment for the office]]></p>"
                             "<p datatype=\"P\" position=\"0\"><![CDATA[Closing words]]></p></note>";
    ASSERT_EQ(note_program(note_form(3) + print("N1", text, 3)).abort, "");
    NoteData_t *n = open_edit_window();
    ControlMatrix_t *w = edit_cm();
    ASSERT_NE(w, nullptr);
    NoteElement_t *hidden = n->note;
    while (hidden && hidden->type != CM_GNOTE_NOTE_TYPE_HIDE) hidden = hidden->next;
    ASSERT_NE(hidden, nullptr);
    ASSERT_NE(hidden->p.view, nullptr);
    const lumba_test::Snapshot comment = drawn(hidden->p.view), paragraph = drawn(n->note->p.view);
    ASSERT_FALSE(comment.empty());
    EXPECT_LT(luminance(comment.pixel(0, comment.height() / 2)), 200) << "a frame on the left edge";
    EXPECT_LT(darkest(paragraph), 60) << "a paragraph's text is black";
    EXPECT_GT(darkest(comment), 80) << "a hidden comment's text is grey";
    EXPECT_LT(darkest(comment), 160) << "and still there";
    save(drawn(w->window), "note_window_tag_hidden_site.png");
    close_edit();
}

namespace {

// The selection colour of the typed fields under the site's sheet.
constexpr Rgba SELECTION{0x99, 0xc1, 0xf1, 0xff};

// The share of a widget's pixels in the selection colour.
double selection_share(GtkWidget *w)
{
    const lumba_test::Snapshot s = lumba_test::snapshot(w);
    return s.empty() ? 0.0 : double(s.count(SELECTION, 8)) / (s.width() * s.height());
}

} // namespace

// A block selected in Template mode (from a pressed paragraph to an amount: the paragraph, the
// hidden comment and the amount) shows in the typed fields' selection colour; the paragraphs
// outside it do not.
TEST_F(NoteFieldTest, ATemplateSelectionShowsInTheSelectionColour)
{
    const std::string elements = para("Before the block") + para("Terms of payment") +
                                 para("For the office only", H) + amount("1500") + para("After the block");
    ASSERT_EQ(note_program(note_form(3) + print("N1", note_of(elements), 3)).abort, "");
    NoteData_t *n = open_edit_window();
    ControlMatrix_t *w = edit_cm();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(lumba_test::wait_drawn(w->window));
    element(n, 1)->press_mark = 1;
    NoteElement_t *am = element(n, 3);
    pointer_enters(am);
    EXPECT_EQ(kept(), "");
    for (int i : {1, 2, 3}) ASSERT_EQ(element(n, i)->selected, 1) << i;
    const lumba_test::Snapshot window = drawn(w->window);
    save(window, "note_template_selection.png");
    EXPECT_GT(selection_share(element(n, 1)->p.view), 0.5) << "the selected paragraph";
    EXPECT_GT(selection_share(element(n, 2)->p.view), 0.5) << "the selected hidden comment";
    EXPECT_GT(selection_share(am->am.input), 0.5) << "the selected amount";
    // Outside it the ground right of the text is white (the focused view's frame is blue).
    for (int i : {0, 4}) {
        const lumba_test::Snapshot s = drawn(element(n, i)->p.view);
        ASSERT_FALSE(s.empty());
        EXPECT_EQ(luminance(s.pixel(s.width() - 12, s.height() / 2)), 255) << "paragraph " << i << " outside it";
    }
    close_edit();
}
