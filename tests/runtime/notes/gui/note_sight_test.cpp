// The note edit window on notes longer than its page, in-process: the focused element stays in
// sight once every view has its height (at the opening, after a Return typed on the X server and
// after Add Amount), Return and BackSpace keep every view they do not change, and the views box
// draws only the views in the page. Pictures under LUMBA_SNAPSHOT_DIR.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "dialog_script.h"
#include "gnote_edit.h"
#include "gui_env.h"
#include "note_field_fixture.h"
#include "test_host.h"
#include "xdotool.h"

using namespace forms_test;
using namespace note_test;

namespace {

// Paragraphs that wrap in the window, an amount after every tenth but the last.
std::string long_note(int paragraphs)
{
    std::string elements;
    for (int i = 0; i < paragraphs; ++i) {
        elements += para("Paragraph " + std::to_string(i) + " holds <b>some bold words</b> and a line of plain text" +
                         (i % 3 == 0 ? " long enough to wrap once in the window's width, or twice." : "."));
        if (i % 10 == 9 && i + 1 < paragraphs) elements += amount("12.50");
    }
    return note_of(elements);
}

// Frames painted with the scroller's content height, scroll position and the widget's place all
// unchanged: the views have their heights and nothing moves any more.
constexpr int STILL_FRAMES = 5;

struct Stillness {
    GtkWidget *scroller, *widget;
    double upper = -1, value = -1, y = -1;
    int still = 0;
};

gboolean count_still(GtkWidget *, GdkFrameClock *, gpointer data)
{
    auto *s = static_cast<Stillness *>(data);
    GtkAdjustment *v = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(s->scroller));
    graphene_rect_t r{};
    if (!gtk_widget_compute_bounds(s->widget, s->scroller, &r)) r.origin.y = -1;
    const bool same = gtk_adjustment_get_upper(v) == s->upper && gtk_adjustment_get_value(v) == s->value &&
                      r.origin.y == s->y;
    s->still = same ? s->still + 1 : 0;
    s->upper = gtk_adjustment_get_upper(v), s->value = gtk_adjustment_get_value(v), s->y = r.origin.y;
    return G_SOURCE_CONTINUE;
}

// Waits until the window is still, then answers whether widget lies wholly inside the page.
::testing::AssertionResult in_sight_when_still(NoteData_t *n, GtkWidget *widget)
{
    Stillness s{n->edit_scroller, widget};
    const guint tick = gtk_widget_add_tick_callback(n->edit_scroller, count_still, &s, nullptr);
    const bool still = lumba_test::wait_until([&] { return s.still >= STILL_FRAMES; });
    gtk_widget_remove_tick_callback(n->edit_scroller, tick);
    if (!still) return ::testing::AssertionFailure() << "the window never stood still";
    GtkAdjustment *v = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(n->edit_scroller));
    graphene_rect_t r;
    if (!gtk_widget_compute_bounds(widget, n->views_box, &r)) return ::testing::AssertionFailure() << "not laid out";
    const double top = gtk_adjustment_get_value(v), bottom = top + gtk_adjustment_get_page_size(v);
    if (r.origin.y >= top && r.origin.y + r.size.height <= bottom) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the widget at " << r.origin.y << ".." << r.origin.y + r.size.height
                                         << " of " << gtk_adjustment_get_upper(v) << ", the page at " << top << ".."
                                         << bottom;
}

NoteElement_t *last_paragraph(NoteData_t *n)
{
    NoteElement_t *last = nullptr;
    for (NoteElement_t *e = n->note; e; e = e->next)
        if (e->type == CM_GNOTE_NOTE_TYPE_P) last = e;
    return last;
}

int count_elements(NoteData_t *n)
{
    int count = 0;
    for (NoteElement_t *e = n->note; e; e = e->next) ++count;
    return count;
}

std::vector<GtkWidget *> paragraph_views(NoteData_t *n)
{
    std::vector<GtkWidget *> views;
    for (NoteElement_t *e = n->note; e; e = e->next)
        if (e->type == CM_GNOTE_NOTE_TYPE_P) views.push_back(e->p.view);
    return views;
}

// The text nodes in a render node tree: the paragraphs drawn.
int text_nodes(GskRenderNode *node)
{
    if (!node) return 0;
    switch (gsk_render_node_get_node_type(node)) {
    case GSK_TEXT_NODE: return 1;
    case GSK_CONTAINER_NODE: {
        int count = 0;
        for (guint i = 0; i < gsk_container_node_get_n_children(node); ++i)
            count += text_nodes(gsk_container_node_get_child(node, i));
        return count;
    }
    case GSK_TRANSFORM_NODE: return text_nodes(gsk_transform_node_get_child(node));
    case GSK_CLIP_NODE: return text_nodes(gsk_clip_node_get_child(node));
    case GSK_ROUNDED_CLIP_NODE: return text_nodes(gsk_rounded_clip_node_get_child(node));
    case GSK_OPACITY_NODE: return text_nodes(gsk_opacity_node_get_child(node));
    case GSK_DEBUG_NODE: return text_nodes(gsk_debug_node_get_child(node));
    case GSK_SHADOW_NODE: return text_nodes(gsk_shadow_node_get_child(node));
    case GSK_COLOR_MATRIX_NODE: return text_nodes(gsk_color_matrix_node_get_child(node));
    default: return 0;
    }
}

} // namespace

class NoteSightTest : public NoteFieldTest {
protected:
    // The field's note replaced by a long one (the real reader), then the window opened and drawn.
    NoteData_t *open_long(int paragraphs)
    {
        EXPECT_EQ(note_program(note_form(2) + print("N1", note_of(para("short")), 2)).abort, "");
        NoteData_t *n = note();
        gnote_free_xml(n);
        EXPECT_FALSE(gnote_parse_xml(n, long_note(paragraphs).c_str(), 1));
        open_edit_window();
        if (edit_cm()) {
            EXPECT_TRUE(lumba_test::wait_drawn(edit_cm()->window));
        }
        return n;
    }
    // The road into the window, which may refuse to open it.
    void open_edit_window_or_not()
    {
        edit(1);
        on_screen();
        EXPECT_EQ(lumba_test::abort_text([&] { widget_type(WIDGET_NOTE).edit(cm(), 1, 0); }), "");
    }
};

// The window opens at the end of the note, and a Return typed there (a real key on the X server)
// leaves the new paragraph in sight, however long the note (3,000 paragraphs: in the note edit
// benchmark, too slow under the sanitizers).
TEST_F(NoteSightTest, TheCursorsParagraphIsInSightAtTheOpeningAndAfterReturnAtTheEnd)
{
    for (const int paragraphs : {30, 300}) {
        SCOPED_TRACE(std::to_string(paragraphs) + " paragraphs");
        NoteData_t *n = open_long(paragraphs);
        ASSERT_NE(edit_cm(), nullptr);
        NoteElement_t *last = last_paragraph(n);
        ASSERT_EQ(gnote_get_current_focus(n), last);
        EXPECT_TRUE(in_sight_when_still(n, last->p.view)) << "at the opening";

        const lumba_test::Xdotool x(lumba_test::gui_display());
        const std::string window = lumba_test::x_window_id(edit_cm()->window);
        x.focus(window);
        ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(last->p.view); }));
        const int before = count_elements(n);
        x.key({"End", "Return"});
        ASSERT_TRUE(lumba_test::wait_until([&] { return count_elements(n) == before + 1; }));
        NoteElement_t *added = last_paragraph(n);
        ASSERT_NE(added, last);
        EXPECT_TRUE(gtk_widget_has_focus(added->p.view));
        EXPECT_TRUE(in_sight_when_still(n, added->p.view)) << "after Return at the end";
        if (paragraphs == 300) save(drawn(edit_cm()->window), "note-window-return-at-the-end-of-300.png");
        close_edit();
    }
}

// Add Amount near the end of a long note: the new amount (with its paragraph) is in sight.
TEST_F(NoteSightTest, AnAmountAddedAtTheEndIsInSight)
{
    NoteData_t *n = open_long(300);
    ASSERT_NE(edit_cm(), nullptr);
    EXPECT_TRUE(gtk_widget_activate_action(n->edit_scroller, "gnotes.amount", nullptr));
    NoteElement_t *am = gnote_get_current_focus(n);
    ASSERT_EQ(am->type, CM_GNOTE_NOTE_TYPE_AM);
    EXPECT_TRUE(in_sight_when_still(n, am->am.input));
    EXPECT_TRUE(in_sight_when_still(n, am->prior->p.view));
    close_edit();
}

// Return and BackSpace change the views of the paragraphs they split or join and keep every other
// view: nothing else is built again, and the note is what the views show.
TEST_F(NoteSightTest, ReturnAndBackSpaceKeepTheViewsTheyDoNotChange)
{
    NoteData_t *n = open_long(30);
    ASSERT_NE(edit_cm(), nullptr);
    const std::string opened = xml_of(n);
    const std::vector<GtkWidget *> before = paragraph_views(n);
    NoteElement_t *fifth = n->note;
    for (int k = 0; k < 5 || fifth->type != CM_GNOTE_NOTE_TYPE_P; fifth = fifth->next)
        if (fifth->type == CM_GNOTE_NOTE_TYPE_P) ++k;
    const std::string text = fifth->p.text;
    int fifth_at = 0;
    while (element(n, fifth_at) != fifth) ++fifth_at;
    GtkTextIter at;
    gtk_text_buffer_get_iter_at_offset(fifth->p.buffer, &at, 12);
    gtk_text_buffer_place_cursor(fifth->p.buffer, &at);
    EXPECT_TRUE(press_key(fifth, GDK_KEY_Return));
    std::vector<GtkWidget *> after = paragraph_views(n);
    ASSERT_EQ(after.size(), before.size() + 1);
    const auto split_at = std::find(before.begin(), before.end(), fifth->p.view) - before.begin();
    EXPECT_EQ(std::vector<GtkWidget *>(after.begin(), after.begin() + split_at + 1),
              std::vector<GtkWidget *>(before.begin(), before.begin() + split_at + 1));
    EXPECT_EQ(std::vector<GtkWidget *>(after.begin() + split_at + 2, after.end()),
              std::vector<GtkWidget *>(before.begin() + split_at + 1, before.end()));
    NoteElement_t *second = fifth->next;
    EXPECT_EQ(gtk_widget_get_next_sibling(gtk_widget_get_next_sibling(fifth->p.view)), second->p.view)
        << "the new view follows the split one, a spacer between";
    EXPECT_EQ(buffer_text(fifth), text.substr(0, 12));
    EXPECT_EQ(buffer_text(second), text.substr(12));
    EXPECT_TRUE(gtk_widget_has_focus(second->p.view));
    EXPECT_EQ(cursor_of(second), 0);

    EXPECT_TRUE(press_key(second, GDK_KEY_BackSpace));
    EXPECT_EQ(paragraph_views(n), before);
    EXPECT_EQ(buffer_text(fifth), text);
    EXPECT_EQ(cursor_of(fifth), 12);
    EXPECT_TRUE(gtk_widget_has_focus(fifth->p.view));
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(xml_of(n), opened);
    // What is saved is what the views show.
    EXPECT_TRUE(press_key(fifth, GDK_KEY_F12));
    EXPECT_EQ(edit_cm(), nullptr);
    EXPECT_STREQ(element(n, fifth_at)->p.text, text.c_str());
}

// The views box draws the views in the page, not the whole note.
TEST_F(NoteSightTest, OnlyTheViewsInThePageAreDrawn)
{
    NoteData_t *n = open_long(300);
    ASSERT_NE(edit_cm(), nullptr);
    ASSERT_TRUE(in_sight_when_still(n, last_paragraph(n)->p.view));
    GdkPaintable *paintable = gtk_widget_paintable_new(n->views_box);
    GtkSnapshot *snapshot = gtk_snapshot_new();
    gdk_paintable_snapshot(paintable, snapshot, gtk_widget_get_width(n->views_box),
                           gtk_widget_get_height(n->views_box));
    GskRenderNode *node = gtk_snapshot_free_to_node(snapshot);
    const int drawn = text_nodes(node);
    EXPECT_GT(drawn, 0);
    EXPECT_LT(drawn, 60) << "of 300 paragraphs";
    if (node) gsk_render_node_unref(node);
    g_object_unref(paintable);
    close_edit();
}

// A paragraph longer than the window's limit is refused at the opening, with a message naming the
// limit; one at the limit opens.
TEST_F(NoteSightTest, AParagraphLongerThanTheLimitIsRefusedAtTheOpening)
{
    struct Case {
        std::size_t bytes;
        bool opens;
    } const cases[] = {{GNOTE_EDIT_PARAGRAPH_LIMIT, true}, {GNOTE_EDIT_PARAGRAPH_LIMIT + 1, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes);
        ASSERT_EQ(note_program(note_form(2) + print("N1", note_of(para("short")), 2)).abort, "");
        NoteData_t *n = note();
        const std::string text(c.bytes, 'w');
        gnote_free_xml(n);
        ASSERT_FALSE(gnote_parse_xml(n, note_of(para("first") + para(text)).c_str(), 1));
        const int state = n->display_state;
        const lumba_test::DialogScript script({0});
        open_edit_window_or_not();
        EXPECT_EQ(edit_cm() != nullptr, c.opens);
        std::vector<std::string> asked;
        for (const DialogRequest &r : script.asked()) asked.push_back(r.text);
        if (c.opens) {
            EXPECT_EQ(asked, std::vector<std::string>{});
            close_edit();
            continue;
        }
        EXPECT_EQ(asked, std::vector<std::string>{"This note has a paragraph of 10001 bytes: the note edit window takes "
                                                  "paragraphs of at most 10000 bytes."});
        EXPECT_EQ(n->display_state, state) << "the field stays as it was";
        ASSERT_NE(element(n, 1), nullptr);
        EXPECT_EQ(std::string(element(n, 1)->p.text), text) << "the note is kept whole";
        EXPECT_EQ(kept(), "");
    }
}
