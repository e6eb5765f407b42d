// The note edit window's paragraph views and amount inputs in-process: the drag selection (real
// clicks on the test's X server, the pointer entering a view called as its motion controller
// calls it, the selection clock installed by the test), the amounts taken from their inputs with
// the total, the focus moving between views, and keeping the focused element in sight.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "ccallback.h"
#include "gmisc.h"
#include "ginput.h"
#include "gnote_edit.h"
#include "gnote_edit_parts.h"  // the selection clock, the marks and scrolling of the views
#include "gui_env.h"
#include "mem_mgt.h"
#include "note_field_fixture.h"
#include "numerics.h"
#include "test_host.h"
#include "xdotool.h"

using namespace forms_test;
using namespace note_test;

namespace {


// The note of the selection cases: paragraphs 0, 1, 3, 4, 6 and amounts 2 and 5.
const std::string seven = para("zero") + para("one") + amount("1234.50") + para("three") + para("four") +
                          amount("1234.50") + para("six");

// The selection clock: what the test sets.
std::int64_t now_usec = 0;
std::int64_t test_clock() { return now_usec; }

constexpr int NONE = -1;
// A case of the drag selection: the note's mode, the paragraph pressed, the element entered,
// and what is selected and marked after.
struct DragCase {
    const char *name;
    int mode;
    int press;            // the paragraph clicked (primary button) before, or NONE
    int entered;          // the element the pointer enters
    std::int64_t delay;   // microseconds from the release to the entering
    std::set<int> selected;
    int cursor;           // the element whose cursor went to its end, or NONE
    bool marks_kept;      // the press and release marks are still set
    int button = 1;
};

// The colours the fixture style sheet gives the selected and not selected names.
constexpr lumba_test::Rgba PAR_SELECT{0xff, 0x60, 0xc0, 0xff}, PAR_EDIT{0xb0, 0xe0, 0xff, 0xff},
    AMT_SELECT{0xff, 0x30, 0x80, 0xff};

} // namespace

class NoteViewsTest : public NoteFieldTest {
protected:
    void SetUp() override
    {
        NoteFieldTest::SetUp();
        before_ = gnote_set_select_clock(test_clock);
        now_usec = 5'000'000;
    }
    void TearDown() override
    {
        gnote_set_select_clock(before_);
        NoteFieldTest::TearDown();
    }

    // A form whose note (mode) holds elements, with the window open and drawn.
    NoteData_t *open(int mode, const std::string &elements)
    {
        EXPECT_EQ(note_program(note_form(mode) + print("N1", note_of(elements), mode)).abort, "");
        NoteData_t *n = open_edit_window();
        if (edit_cm()) {
            EXPECT_TRUE(lumba_test::wait_drawn(edit_cm()->window));
        }
        return n;
    }
    // The pointer entering an element's view or input, as its motion controller is told.
    static void enter(NoteElement_t *e) { pointer_enters(e); }
    // Where to click a view: its left edge, so the view's own click puts the cursor at the start.
    static void left_of(GtkWidget *w, int *x, int *y)
    {
        lumba_test::widget_centre(w, x, y);
        *x -= gtk_widget_get_width(w) / 2 - 6;
    }
    // A real click of button on a paragraph view, waited for until the view's gesture saw it.
    void click(NoteElement_t *e, int button = 1)
    {
        const lumba_test::Xdotool user(lumba_test::gui_display());
        const std::string id = lumba_test::x_window_id(edit_cm()->window);
        user.focus(id);
        int x = 0, y = 0;
        left_of(e->p.view, &x, &y);
        // The view's gesture has seen the click once it was released (the primary button) or
        // pressed (another, whose release the view's menu takes).
        bool seen = false;
        GtkEventController *gesture = oska_widget_get_controller(e->p.view, "gnote-view_paragraph-button");
        const gulong h = g_signal_connect_swapped(gesture, button == 1 ? "released" : "pressed",
                                                  G_CALLBACK(+[](bool *r) { *r = true; }), &seen);
        // The pointer may rest where the click goes (the last case's window stood there): it
        // moves off first, since a move that moves nothing is never done.
        user.run({"mousemove", "--sync", "--window", id, "1", "1"});
        user.click(id, x, y, button);
        EXPECT_TRUE(lumba_test::wait_until([&] { return seen; }));
        g_signal_handler_disconnect(gesture, h);
    }
    static std::string text_of(NoteElement_t *am) { return gtk_editable_get_text(GTK_EDITABLE(am->am.input)); }
    // Moves the focus as a user's Tab or click does.
    static void focus(GtkWidget *w)
    {
        gtk_widget_grab_focus(w);
        EXPECT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(w) || gtk_widget_is_focus(w) ||
                                                     gtk_widget_has_focus(gtk_widget_get_first_child(w)); }));
    }

    // One case of the drag selection tables, on a fresh window.
    void drag_case(const DragCase &c)
    {
        SCOPED_TRACE(c.name);
        NoteData_t *n = open(c.mode, seven);
        if (c.press != NONE) {
            now_usec = 7'000'000'000LL;
            click(element(n, c.press), c.button);
            ASSERT_EQ(kept(), "");
            if (c.button == 1) {
                EXPECT_TRUE(element(n, c.press)->press_mark);
                EXPECT_TRUE(element(n, c.press)->release_mark);
                EXPECT_LT(cursor_of(element(n, c.press)), 2) << "where the view was clicked";
            }
        } else {
            gnote_display_clear_release(n);
        }
        now_usec += c.delay;
        enter(element(n, c.entered));
        EXPECT_EQ(kept(), "");
        for (int i = 0; i < 7; ++i) {
            NoteElement_t *e = element(n, i);
            const bool selected = c.selected.count(i) == 1;
            EXPECT_EQ(e->selected, selected ? 1 : 0) << i;
            const bool am = e->type == CM_GNOTE_NOTE_TYPE_AM;
            EXPECT_STREQ(gtk_widget_get_name(gnote_element_widget(e)), selected ? (am ? "AmtNoteSelect" : "ParNoteSelect")
                                                                  : (am ? "AmtNoteEdit" : "ParNoteEdit"))
                << i;
            const bool marked = c.marks_kept && i == c.press;
            EXPECT_EQ(e->press_mark, marked ? 1 : 0) << i;
            EXPECT_EQ(e->release_mark, marked ? 1 : 0) << i;
        }
        if (c.cursor != NONE) {
            NoteElement_t *e = element(n, c.cursor);
            if (e->type == CM_GNOTE_NOTE_TYPE_AM) {
                // The amount is ready for editing: its commas gone, the cursor after its text.
                EXPECT_EQ(text_of(e), "1234.50");
                EXPECT_EQ(gtk_editable_get_position(GTK_EDITABLE(e->am.input)), 7);
            } else {
                EXPECT_EQ(cursor_of(e), gtk_text_buffer_get_char_count(e->p.buffer));
            }
        }
        if (std::string(c.name) == "downwards in Template mode")
            save(drawn(edit_cm()->window), "note-views-drag.png");
        if (std::string(c.name) == "into an amount further down")
            save(drawn(edit_cm()->window), "note-views-amount.png");
        close_edit();
    }

private:
    NoteSelectClock before_ = nullptr;
};

// Drags between paragraph views on the note of seven elements.
TEST_F(NoteViewsTest, TheDragSelectionTable)
{
    const DragCase cases[] = {
        {"downwards in Template mode", 3, 1, 4, 0, {1, 2, 3, 4, 5}, 4, false},
        {"upwards in Template mode", 3, 4, 1, 0, {1, 2, 3, 4, 5}, 4, false},
        {"at the edge of the 10 ms", 3, 1, 4, 10'000, {1, 2, 3, 4, 5}, 4, false},
        {"beyond the 10 ms", 3, 1, 4, 10'001, {}, NONE, true},
        {"in Edit mode", 2, 1, 4, 0, {}, NONE, false},
        {"into the view pressed", 3, 1, 1, 0, {}, NONE, true},
        {"a clock earlier than the release", 3, 1, 4, -5'000'000, {}, NONE, true},
        {"2148 s later (a 32-bit product wraps)", 3, 1, 4, 2148 * 1'000'000LL, {}, NONE, true},
        {"with the secondary button", 3, 1, 4, 0, {}, NONE, false, 3},
    };
    for (const DragCase &c : cases) {
        drag_case(c);
        if (HasFatalFailure()) return;
    }
}

// The pointer entering amount inputs, after a press or without one.
TEST_F(NoteViewsTest, TheAmountEntrySelectionTable)
{
    const DragCase cases[] = {
        {"into an amount further down", 2, 1, 5, 0, {1, 2, 3, 4, 5}, 5, false},
        {"into an amount further down, Template mode", 3, 1, 5, 99'000'000, {1, 2, 3, 4, 5}, 5, false},
        {"into the amount after the pressed paragraph", 2, 1, 2, 0, {}, NONE, false},
        {"into an amount above the press", 2, 4, 2, 0, {1, 2, 3, 4}, 4, false},
        {"into an amount without a press", 2, NONE, 2, 0, {1, 2, 3, 4, 5, 6}, 6, false},
    };
    for (const DragCase &c : cases) {
        drag_case(c);
        if (HasFatalFailure()) return;
    }
}

// A drag made by the pointer itself: the button goes down in one paragraph and comes up over
// another, whose view the pointer then enters. The selected views show in their colour.
TEST_F(NoteViewsTest, ARealDragSelectsAndShowsTheBlock)
{
    NoteData_t *n = open(3, seven);
    const lumba_test::Xdotool user(lumba_test::gui_display());
    const std::string id = lumba_test::x_window_id(edit_cm()->window);
    user.focus(id);
    int x1 = 0, y1 = 0, x4 = 0, y4 = 0;
    left_of(element(n, 1)->p.view, &x1, &y1);
    left_of(element(n, 4)->p.view, &x4, &y4);
    user.run({"mousemove", "--sync", "--window", id, std::to_string(x1), std::to_string(y1), "mousedown", "1"});
    EXPECT_TRUE(lumba_test::wait_until([&] { return element(n, 1)->press_mark == 1; }));
    user.run({"mousemove", "--sync", "--window", id, std::to_string(x4), std::to_string(y4), "mouseup", "1"});
    EXPECT_TRUE(lumba_test::wait_until([&] { return element(n, 4)->selected == 1; }));
    EXPECT_EQ(kept(), "");
    for (int i : {1, 2, 3, 4, 5}) EXPECT_EQ(element(n, i)->selected, 1) << i;
    for (int i : {0, 6}) EXPECT_EQ(element(n, i)->selected, 0) << i;

    // The pixel probe: the fixture's colour of "ParNoteSelect" on the selected view, the one of
    // "ParNoteEdit" on the others, the one of "AmtNoteSelect" on the selected amount.
    const lumba_test::Snapshot window = drawn(edit_cm()->window);
    save(window, "note-views-real-drag.png");
    const auto share = [](GtkWidget *w, lumba_test::Rgba colour) {
        const lumba_test::Snapshot s = lumba_test::snapshot(w);
        return s.empty() ? 0.0 : double(s.count(colour, 8)) / (s.width() * s.height());
    };
    EXPECT_GT(share(element(n, 1)->p.view, PAR_SELECT), 0.5);
    EXPECT_EQ(share(element(n, 1)->p.view, PAR_EDIT), 0.0);
    EXPECT_GT(share(element(n, 0)->p.view, PAR_EDIT), 0.5);
    EXPECT_EQ(share(element(n, 0)->p.view, PAR_SELECT), 0.0);
    EXPECT_GT(share(element(n, 2)->am.input, AMT_SELECT), 0.3);

    // A press clears the whole note's marks and names again.
    gnote_display_clear_release(n);
    for (int i = 0; i < 7; ++i) {
        NoteElement_t *e = element(n, i);
        EXPECT_EQ(e->selected, 0);
        EXPECT_STREQ(gtk_widget_get_name(gnote_element_widget(e)),
                     e->type == CM_GNOTE_NOTE_TYPE_AM ? "AmtNoteEdit" : "ParNoteEdit");
    }
    close_edit();
}

// An amount input: its commas go while it has the focus; on leaving, its text is taken as the
// value (two decimals, half away from zero; "nil", letters and commas are 0), shown formatted,
// and the total in the heading follows, marking the note modified when it changes.
TEST_F(NoteViewsTest, TheAmountInputTable)
{
    struct Case {
        const char *typed;  // nullptr: left as it is
        const char *shown, *written, *total;
        int modified;
    } const cases[] = {
        {nullptr, "1,234.50", "1234.50", "1,334.50", 0},
        {"1234.5", "1,234.50", "1234.50", "1,334.50", 0},
        {"nil", "nil", "0.00", "100.00", 1},
        {"abc", "nil", "0.00", "100.00", 1},
        {"1,234", "nil", "0.00", "100.00", 1},
        {"", "nil", "0.00", "100.00", 1},
        {"1.005", "1.01", "1.01", "101.01", 1},
        {"-1.005", "-1.01", "-1.01", "98.99", 1},
        {"0.004", "nil", "0.00", "100.00", 1},
        {"-1234567.891", "-1,234,567.89", "-1234567.89", "-1,234,467.89", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed ? c.typed : "unchanged");
        NoteData_t *n = open(2, para("a") + amount("1234.50") + para("b") + amount("100") + para("c"));
        NoteElement_t *am = element(n, 1);
        GtkWidget *heading = gtk_widget_get_parent(n->total_label);
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(n->total_label)), "1,334.50");
        EXPECT_EQ(text_of(am), "1,234.50");
        focus(am->am.input);
        EXPECT_EQ(text_of(am), "1234.50") << "edited without its commas";
        EXPECT_EQ(gnote_get_current_focus(n), am);
        EXPECT_EQ(n->focus_widget, element(n, 0)->p.view) << "the paragraph before it";
        if (c.typed) {
            gtk_editable_set_text(GTK_EDITABLE(am->am.input), c.typed);
            EXPECT_EQ(text_of(am), c.typed);
        }
        focus(element(n, 2)->p.view);
        EXPECT_EQ(kept(), "");
        EXPECT_EQ(text_of(am), c.shown);
        EXPECT_EQ(n->modified, c.modified);
        // The heading's total is a new label in the same place.
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(n->total_label)), c.total);
        EXPECT_STREQ(gtk_widget_get_name(n->total_label), "l3NoteEdit");
        EXPECT_EQ(gtk_widget_get_parent(n->total_label), heading);
        EXPECT_EQ(gtk_widget_get_last_child(heading), n->total_label);
        EXPECT_TRUE(gtk_widget_get_visible(n->total_label));
        // The total is the sum of the amounts as shown, to the last digit.
        const std::string sum = ginput_remove_commas(c.total);
        dec_t expected;
        NumericCvASC(sum.c_str(), static_cast<int>(sum.size()), &expected);
        EXPECT_EQ(NumericCmp(&n->total, &expected), 0);
        if (std::string(c.shown) == "1.01") save(drawn(edit_cm()->window), "note-views-amount-left.png");
        // What was shown is what is written.
        window_kind(CM_WT_NOTE).save(edit_cm());
        EXPECT_EQ(kept(), "");
        EXPECT_EQ(xml_of(n), note_of(para("a") + amount(c.written) + para("b") + amount("100.00") + para("c")));
    }
}

// The focus moving from one paragraph view to another drops the selection of the first; an amount
// taking the focus makes the paragraph before it the one the window gives the focus back to.
TEST_F(NoteViewsTest, TheFocusMovesBetweenViews)
{
    NoteData_t *n = open(2, para("first line") + para("second") + amount("5") + para("third"));
    NoteElement_t *first = element(n, 0), *second = element(n, 1), *am = element(n, 2);
    focus(first->p.view);
    select_chars(first, 1, 4);
    focus(second->p.view);
    EXPECT_FALSE(gtk_text_buffer_get_has_selection(first->p.buffer));
    EXPECT_EQ(cursor_of(first), 10);
    EXPECT_EQ(n->focus_widget, second->p.view);
    EXPECT_EQ(gnote_get_current_focus(n), second);
    EXPECT_EQ(first->focus + second->focus + am->focus, 1);

    focus(am->am.input);
    EXPECT_EQ(gnote_get_current_focus(n), am);
    EXPECT_EQ(n->focus_widget, second->p.view);
    focus(first->p.view);
    EXPECT_EQ(n->focus_widget, first->p.view);
    EXPECT_EQ(gnote_get_current_focus(n), first);
    EXPECT_EQ(kept(), "");

    // A handler given an element of the wrong kind stops the program.
    GtkEventController *leave = oska_widget_get_controller(am->am.input, "gnote-view-amount-focus");
    am->type = first->type;
    g_signal_emit_by_name(leave, "leave");
    am->type = CM_GNOTE_NOTE_TYPE_AM;
    EXPECT_NE(kept().find("am->type == CM_GNOTE_NOTE_TYPE_AM"), std::string::npos);
    close_edit();
}

// gnote_do_scrolling brings a widget wholly into sight with the smallest move and leaves one in
// sight alone; an amount is brought into sight with the paragraph before it.
TEST_F(NoteViewsTest, ScrollingBringsTheElementIntoSight)
{
    std::string elements;
    for (int i = 0; i < 24; ++i) elements += para("paragraph " + std::to_string(i)) + (i == 12 ? amount("7") : "");
    NoteData_t *n = open(2, elements);
    GtkAdjustment *v = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(n->edit_scroller));
    const double page = gtk_adjustment_get_page_size(v), last = gtk_adjustment_get_upper(v) - page;
    ASSERT_GT(last, 100) << "the note is longer than the page";
    const auto bounds = [&](NoteElement_t *e) {
        graphene_rect_t r;
        EXPECT_TRUE(gtk_widget_compute_bounds(gnote_element_widget(e), n->views_box, &r));
        return r;
    };
    struct Case {
        const char *name;
        double from;
        int element;  // its index; the amount is 13
        enum { top, bottom, unmoved } edge;
        int seen;  // the element that must be in sight (the paragraph before an amount)
    } const cases[] = {
        {"below: its bottom at the page's bottom", 0, 20, Case::bottom, 20},
        {"above: its top at the page's top", 1e9, 3, Case::top, 3},
        {"in sight: nothing moves", 0, 1, Case::unmoved, 1},
        {"an amount below: the paragraph before it, then the amount", 0, 13, Case::bottom, 13},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        gtk_adjustment_set_value(v, c.from);
        const double from = gtk_adjustment_get_value(v);
        NoteElement_t *e = element(n, c.element);
        gnote_do_scrolling(e, e->type == CM_GNOTE_NOTE_TYPE_AM ? e->am.input : e->p.view);
        EXPECT_EQ(kept(), "");
        const graphene_rect_t r = bounds(element(n, c.seen));
        const double value = gtk_adjustment_get_value(v);
        EXPECT_GE(r.origin.y, value);
        EXPECT_LE(r.origin.y + r.size.height, value + page);
        switch (c.edge) {
        case Case::top: EXPECT_DOUBLE_EQ(value, r.origin.y); break;
        case Case::bottom: EXPECT_DOUBLE_EQ(value + page, r.origin.y + r.size.height); break;
        case Case::unmoved: EXPECT_DOUBLE_EQ(value, from); break;
        }
    }
    // The amount's paragraph came into sight with it.
    const graphene_rect_t r = bounds(element(n, 12));
    GtkAdjustment *now = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(n->edit_scroller));
    EXPECT_GE(r.origin.y, gtk_adjustment_get_value(now));
    EXPECT_LE(r.origin.y + r.size.height, gtk_adjustment_get_value(now) + page);
    close_edit();
}

// A window destroyed while an amount input has the focus leaves the note as it was opened.
TEST_F(NoteViewsTest, AWindowDestroyedWithAnAmountFocused)
{
    NoteData_t *n = open(2, para("a") + amount("1234.50") + para("b"));
    focus(element(n, 1)->am.input);
    gtk_editable_set_text(GTK_EDITABLE(element(n, 1)->am.input), "99");
    gtk_window_destroy(GTK_WINDOW(edit_cm()->window));
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(edit_cm(), nullptr);
    EXPECT_EQ(xml_of(n), note_of(para("a") + amount("1234.50") + para("b")));
}

// Hidden paragraphs shown in Template mode: selected with the block they lie in ("HideNoteSelect"),
// and their views are no end of a drag. The marks are cleared again with their names.
TEST_F(NoteViewsTest, HiddenParagraphsInABlock)
{
    const std::string elements = para("zero") + para("one") + R"(<p datatype="H" position="0"><![CDATA[secret]]></p>)" +
                                 para("three") + amount("5") + para("five");
    EXPECT_EQ(note_program(note_form(3) + print("N1", note_of(elements), 3)).abort, "");
    NoteData_t *n = note();
    n->hidden_visible = 1;
    open_edit_window();
    ASSERT_NE(edit_cm(), nullptr);
    ASSERT_TRUE(lumba_test::wait_drawn(edit_cm()->window));
    NoteElement_t *hidden = element(n, 2);
    ASSERT_NE(hidden->p.view, nullptr);

    // A drag from paragraph 1 into the hidden paragraph's view selects nothing.
    click(element(n, 1));
    enter(hidden);
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(hidden->selected, 0);
    EXPECT_EQ(element(n, 1)->release_mark, 1);

    // A drag from paragraph 1 to 3 takes the hidden paragraph between them in.
    now_usec += 1000;
    enter(element(n, 3));
    EXPECT_EQ(kept(), "");
    for (int i : {1, 2, 3, 4}) EXPECT_EQ(element(n, i)->selected, 1) << i;
    EXPECT_STREQ(gtk_widget_get_name(hidden->p.view), "HideNoteSelect");
    save(drawn(edit_cm()->window), "note-views-hidden.png");
    gnote_display_clear_release(n);
    EXPECT_STREQ(gtk_widget_get_name(hidden->p.view), "HideNoteEditHide");

    // The pointer entering the amount with the hidden paragraph pressed: the block from there on.
    hidden->press_mark = 1;
    enter(element(n, 4));
    EXPECT_EQ(kept(), "");
    for (int i = 0; i < 6; ++i) EXPECT_EQ(element(n, i)->selected, i >= 2 && i <= 4 ? 1 : 0) << i;
    EXPECT_EQ(hidden->press_mark, 0);

    // An element of no known type, and an amount with no paragraph before it, stop the program.
    element(n, 5)->type = 9;
    EXPECT_EQ(lumba_test::abort_text([&] { gnote_display_clear_release(n); }), "Unexpected note type");
    enter(element(n, 4));
    EXPECT_EQ(kept(), "Unexpected note type @ gnote_input_enter_notify_event");
    element(n, 5)->type = CM_GNOTE_NOTE_TYPE_P;
    for (int i : {0, 1, 3}) element(n, i)->type = CM_GNOTE_NOTE_TYPE_HIDE;
    EXPECT_EQ(lumba_test::abort_text([&] { gnote_do_scrolling(element(n, 4), element(n, 4)->am.input); }),
              "Failed to find paragraph preceeding Amount field");
    for (int i : {0, 1, 3}) element(n, i)->type = CM_GNOTE_NOTE_TYPE_P;
    close_edit();
}

// Saving with F12 while an amount input is being edited takes the amount as leaving the input
// does: the total the program gets is the sum of the amounts written.
TEST_F(NoteViewsTest, SavingFromAnAmountInputTakesTheAmount)
{
    NoteData_t *n = open(2, para("a") + amount("1234.50") + para("b") + amount("100") + para("c"));
    NoteElement_t *am = element(n, 1);
    focus(am->am.input);
    gtk_editable_set_text(GTK_EDITABLE(am->am.input), "1.005");
    EXPECT_TRUE(press_key(am, GDK_KEY_F12));
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(edit_cm(), nullptr);
    EXPECT_EQ(xml_of(n), note_of(para("a") + amount("1.01") + para("b") + amount("100.00") + para("c")));
    dec_t expected;
    NumericCvASC("101.01", 6, &expected);
    EXPECT_EQ(NumericCmp(&n->total, &expected), 0);
    EXPECT_EQ(n->modified, 1);
}

// The window going inactive while an amount input has its focus (another window opened over it)
// takes the amount and shows it formatted; saving before the window is active again keeps it.
TEST_F(NoteViewsTest, SavingAfterTheWindowWentInactiveKeepsTheAmount)
{
    NoteData_t *n = open(2, para("a") + amount("1234.50") + para("b"));
    NoteElement_t *am = element(n, 1);
    focus(am->am.input);
    EXPECT_EQ(text_of(am), "1234.50");
    focus_leaves(am);
    EXPECT_EQ(text_of(am), "1,234.50");
    window_kind(CM_WT_NOTE).save(edit_cm());
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(xml_of(n), note_of(para("a") + amount("1234.50") + para("b")));
    EXPECT_EQ(n->modified, 0);
}

// Taking the views back (here for Add Amount) while an amount is being edited rounds it as leaving
// the input would.
TEST_F(NoteViewsTest, TakingTheViewsBackRoundsTheAmountBeingEdited)
{
    NoteData_t *n = open(2, para("a") + amount("100") + para("b"));
    NoteElement_t *am = element(n, 1);
    focus(am->am.input);
    gtk_editable_set_text(GTK_EDITABLE(am->am.input), "1.005");
    EXPECT_TRUE(gtk_widget_activate_action(am->am.input, "gnotes.amount", nullptr));
    EXPECT_EQ(kept(), "");
    dec_t expected;
    NumericCvASC("1.01", 4, &expected);
    EXPECT_EQ(NumericCmp(&element(n, 1)->am.value, &expected), 0);
    EXPECT_EQ(NumericCmp(&n->total, &expected), 0);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(n->total_label)), "1.01");
    close_edit();
}
