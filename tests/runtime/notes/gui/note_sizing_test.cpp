// The note edit window's views sized for its scroller, under the site's style sheet: the views box
// asks for the scroller's minimum size, every view for that width and its natural height there;
// long paragraphs wrap inside the window, a typed long line grows its view, nothing is cut off.
// Pictures under LUMBA_SNAPSHOT_DIR.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gnote_edit.h"
#include "gui_env.h"
#include "note_field_fixture.h"

using namespace forms_test;
using namespace note_test;

namespace {

std::string tag(const std::string &text, bool start)
{
    return std::string(R"(<tag name="T1" start=")") + (start ? "true" : "false") + "\">" + text + "</tag>";
}

// Three lines and more at the window's width; the first line is longer than the short text, so the
// field breaks it there.
const std::string clause = "The tenant shall keep the premises in good repair and shall not make any alteration "
                           "to them without the landlord's consent in writing, which shall not be withheld "
                           "unreasonably; the rent is due on the first day of each month.";

int measured(GtkWidget *w, GtkOrientation o, int for_size, bool natural)
{
    int minimum = 0, nat = 0;
    gtk_widget_measure(w, o, for_size, &minimum, &nat, nullptr, nullptr);
    return natural ? nat : minimum;
}

std::vector<GtkWidget *> views_of(const NoteData_t *n)
{
    std::vector<GtkWidget *> out;
    for (GtkWidget *c = gtk_widget_get_first_child(n->views_box); c; c = gtk_widget_get_next_sibling(c))
        out.push_back(c);
    return out;
}

// A view's height as laid out (its frame, not its margins) against the height it measures for
// its width.
int given_height(GtkWidget *view)
{
    GtkAllocation given;
    gtk_widget_get_allocation(view, &given);
    return given.height;
}
int wanted_height(GtkWidget *view)
{
    return measured(view, GTK_ORIENTATION_VERTICAL, gtk_widget_get_width(view), true) -
           gtk_widget_get_margin_top(view) - gtk_widget_get_margin_bottom(view);
}

// Every paragraph view has the height its text needs at its width: a text view lays its text out
// as it gets its width, and takes that height a frame later.
bool settled(const NoteData_t *n)
{
    for (GtkWidget *view : views_of(n))
        if (GTK_IS_TEXT_VIEW(view) && given_height(view) != wanted_height(view)) return false;
    return true;
}

// What the sizing asks of the views box and each of its views, and that nothing runs past the
// scroller: no view wider than the page, each as tall as it measures (its text not cut).
void expect_sized(const NoteData_t *n)
{
    const int width = measured(n->edit_scroller, GTK_ORIENTATION_HORIZONTAL, -1, false);
    const int height = measured(n->edit_scroller, GTK_ORIENTATION_VERTICAL, width, false);
    int w = 0, h = 0;
    gtk_widget_get_size_request(n->views_box, &w, &h);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
    GtkAdjustment *across = gtk_scrolled_window_get_hadjustment(GTK_SCROLLED_WINDOW(n->edit_scroller));
    EXPECT_LE(gtk_adjustment_get_upper(across), gtk_adjustment_get_page_size(across)) << "no view runs past the page";
    for (GtkWidget *view : views_of(n)) {
        SCOPED_TRACE(gtk_widget_get_name(view));
        gtk_widget_get_size_request(view, &w, &h);
        EXPECT_EQ(w, width);
        if (GTK_IS_TEXT_VIEW(view)) {
            // Measured before its first layout: a floor below its text, which it follows.
            EXPECT_GT(h, 0);
            EXPECT_LT(h, measured(view, GTK_ORIENTATION_VERTICAL, gtk_widget_get_width(view), true));
        } else {
            EXPECT_EQ(h, measured(view, GTK_ORIENTATION_VERTICAL, width, true));
        }
        EXPECT_EQ(given_height(view), wanted_height(view)) << "as tall as its content";
    }
}

} // namespace

TEST_F(NoteFieldTest, TheViewsAreSizedForTheScroller)
{
    struct Case {
        const char *what;
        int mode;
        std::string elements;
        int views;  // children of the views box
    } const cases[] = {
        {"one short paragraph", 2, para("short"), 1},
        {"a word longer than a line", 2, para("x" + std::string(300, 0x62)), 1},
        {"long paragraphs", 2, para(clause) + para(clause + " " + clause), 3},
        {"amounts", 2, para("rent") + amount("1234.50") + para("deposit") + amount("-250") + para(""), 7},
        {"a block and a hidden comment", 3,
         para("before") + tag("Terms", true) + para(clause) + tag("End of terms", false) + para("office", H) +
             para("after"),
         7},
        {"a hidden comment not shown", 2, para("before") + para("office", H) + para("after"), 3},
        {"a tag text wider than the window", 3,
         tag(std::string(240, 'w'), true) + para(clause) + tag("End", false) + para("after"), 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(note_program(note_form(c.mode) + print("N1", note_of(c.elements), c.mode)).abort, "");
        NoteData_t *n = open_edit_window();
        ControlMatrix_t *w = edit_cm();
        ASSERT_NE(w, nullptr);
        ASSERT_TRUE(lumba_test::wait_drawn(w->window));
        ASSERT_TRUE(lumba_test::wait_until([&] { return settled(n); }));
        EXPECT_EQ(views_of(n).size(), std::size_t(c.views));
        expect_sized(n);
        save(drawn(w->window), "note_sizing_" + std::to_string(&c - cases) + ".png");

        // A rebuild sizes its new views the same way.
        NoteElement_t *last = n->note;
        while (last->next) last = last->next;
        gnote_redraw_note(n, last, -1, -1);
        ASSERT_TRUE(lumba_test::wait_drawn(w->window));
        ASSERT_TRUE(lumba_test::wait_until([&] { return settled(n); }));
        expect_sized(n);
        close_edit();
    }
}

// Long paragraphs wrap inside the window beside an amount and a block's tags; a long line typed
// into the last paragraph wraps and grows its view, and deleting it shrinks the view back.
TEST_F(NoteFieldTest, LongParagraphsWrapAndATypedLineGrowsItsView)
{
    const std::string elements = para(clause) + amount("1234567.89") + tag("Terms of the lease", true) +
                                 para(clause + " " + clause) + tag("End of the terms", false) + para("Signed");
    ASSERT_EQ(note_program(note_form(3) + print("N1", note_of(elements), 3)).abort, "");
    NoteData_t *n = open_edit_window();
    ControlMatrix_t *w = edit_cm();
    ASSERT_NE(w, nullptr);
    NoteElement_t *last = n->note;
    while (last->next) last = last->next;
    ASSERT_EQ(last->type, CM_GNOTE_NOTE_TYPE_P);
    GtkWidget *view = last->p.view;
    ASSERT_TRUE(lumba_test::wait_drawn(w->window));
    ASSERT_TRUE(lumba_test::wait_until([&] { return settled(n); }));
    const int one_line = gtk_widget_get_height(view);
    const int width = gtk_widget_get_width(view);
    expect_sized(n);
    save(drawn(w->window), "note_sizing_long.png");

    GtkTextIter end;
    gtk_text_buffer_get_end_iter(last->p.buffer, &end);
    gtk_text_buffer_place_cursor(last->p.buffer, &end);
    gtk_text_buffer_insert_at_cursor(last->p.buffer, (" by " + clause).c_str(), -1);
    EXPECT_TRUE(lumba_test::wait_until([&] { return gtk_widget_get_height(view) >= 3 * one_line && settled(n); }))
        << gtk_widget_get_height(view) << " against one line of " << one_line;
    EXPECT_EQ(gtk_widget_get_width(view), width) << "wrapped, not widened";
    expect_sized(n);
    save(drawn(w->window), "note_sizing_typed.png");

    GtkTextIter start;
    gtk_text_buffer_get_iter_at_offset(last->p.buffer, &start, 6);
    gtk_text_buffer_get_end_iter(last->p.buffer, &end);
    gtk_text_buffer_delete(last->p.buffer, &start, &end);
    EXPECT_TRUE(lumba_test::wait_until([&] { return gtk_widget_get_height(view) == one_line; }))
        << gtk_widget_get_height(view) << " against one line of " << one_line;
    close_edit();
}
