// The road into the note edit window in-process: gnote_edit's decisions (the page keys, Display
// mode, the one-line text taken into the note before the window, the try-lock), the +/- button's
// keys and clicks, and the arrow button.
#include <gtest/gtest.h>

#include "ccallback.h"
#include "gmisc.h"
#include "gui_env.h"
#include "note_field_fixture.h"
#include "test_host.h"
#include "xdotool.h"

using namespace forms_test;
using namespace note_test;

TEST_F(NoteFieldTest, TheEditRoadTakesTheOneLineTextFirst)
{
    ASSERT_EQ(note_program(note_form(2)).abort, "");
    NoteData_t *n = note();
    edit(1);
    type(n->input, "typed line");
    // F9 or Enter on the field: the typed line goes into the note, then the window opens.
    EXPECT_EQ(lumba_test::abort_text([&] { widget_type(WIDGET_NOTE).edit(cm(), 1, 0); }), "");
    EXPECT_NE(edit_cm(), nullptr);
    ASSERT_NE(n->note, nullptr);
    EXPECT_STREQ(n->note->p.text, "typed line");
    EXPECT_STREQ(n->short_text, "typed line");
    EXPECT_EQ(n->modified, 1);
    EXPECT_TRUE(g_mutex_trylock(&n->lock)) << "the lock is released on the way out";
    g_mutex_unlock(&n->lock);
    close_edit();
    // While the lock is held the event is dropped: no window opens.
    ASSERT_TRUE(g_mutex_trylock(&n->lock));
    EXPECT_EQ(lumba_test::abort_text([&] { widget_type(WIDGET_NOTE).edit(cm(), 1, 0); }), "");
    EXPECT_EQ(edit_cm(), nullptr);
    g_mutex_unlock(&n->lock);

    // Display mode only gives the arrow the focus.
    ASSERT_EQ(note_program(note_form(1) + print("N1", "text", 1)).abort, "");
    on_screen();
    EXPECT_EQ(lumba_test::abort_text([&] { widget_type(WIDGET_NOTE).edit(cm(), 1, 0); }), "");
    EXPECT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(note()->arrow_button); }));
}

TEST_F(NoteFieldTest, ThePlusMinusButtonsKeysAndClicks)
{
    ASSERT_EQ(note_program(note_form(2) + print("N1", xml({"First", "Second"}), 2)).abort, "");
    NoteData_t *n = note();
    edit(1);
    // Return and KP_Enter on the button open the window.
    auto *keys = GTK_EVENT_CONTROLLER_KEY(oska_widget_get_controller(n->activate_button, "gnote-activate-button"));
    for (const guint key : {GDK_KEY_Return, GDK_KEY_KP_Enter}) {
        EXPECT_TRUE(gnote_key_press_event(keys, key, 0, GdkModifierType(0), global_data));
        EXPECT_EQ(kept(), "");
        EXPECT_NE(edit_cm(), nullptr);
        close_edit();
    }

    on_screen();
    const lumba_test::Xdotool user(lumba_test::gui_display());
    const std::string id = lumba_test::x_window_id(cm()->window);
    user.focus(id);
    int x = 0, y = 0;
    lumba_test::widget_centre(n->activate_button, &x, &y);
    // The secondary button toggles the display; the primary one takes the F9 road to the window.
    ASSERT_EQ(n->display_state, 2);
    user.click(id, x, y, 3);
    EXPECT_TRUE(lumba_test::wait_until([&] { return n->display_state == 3; }));
    lumba_test::widget_centre(n->activate_button, &x, &y);
    user.click(id, x + 1, y, 3);
    EXPECT_TRUE(lumba_test::wait_until([&] { return n->display_state == 2; }));
    EXPECT_EQ(kept(), "");
    user.click(id, x, y, 1);
    EXPECT_TRUE(lumba_test::wait_until([&] { return edit_cm() != nullptr; }));
    EXPECT_EQ(std::string(cm()->event_name), "F9");
    EXPECT_EQ(kept(), "");
    close_edit();
}

// In Display mode the arrow button switches the display with either button; the line is
// clickable too, and only focuses the arrow.
TEST_F(NoteFieldTest, TheArrowButtonTogglesTheDisplay)
{
    ASSERT_EQ(note_program(note_form(1) + print("N1", xml({"First", "Second"}), 1)).abort, "");
    NoteData_t *n = note();
    edit(1);
    on_screen();
    const lumba_test::Xdotool user(lumba_test::gui_display());
    const std::string id = lumba_test::x_window_id(cm()->window);
    user.focus(id);
    int x = 0, y = 0;
    ASSERT_EQ(n->display_state, 2);
    lumba_test::widget_centre(n->arrow_button, &x, &y);
    user.click(id, x, y, 1);
    EXPECT_TRUE(lumba_test::wait_until([&] { return n->display_state == 3; }));
    EXPECT_STREQ(gtk_image_get_icon_name(GTK_IMAGE(n->arrow_image)), "go-up");
    lumba_test::widget_centre(n->arrow_button, &x, &y);
    user.click(id, x + 1, y, 3);
    EXPECT_TRUE(lumba_test::wait_until([&] { return n->display_state == 2; }));
    EXPECT_STREQ(gtk_image_get_icon_name(GTK_IMAGE(n->arrow_image)), "go-down");
    lumba_test::widget_centre(n->line_box, &x, &y);
    user.click(id, x, y, 1);
    EXPECT_TRUE(lumba_test::wait_until([&] { return std::string(cm()->event_name) == "F9"; }));
    EXPECT_EQ(n->display_state, 2);
    EXPECT_EQ(kept(), "");
}

// Typing past 40 bytes into the one-line input opens the edit window.
TEST_F(NoteFieldTest, ALongLineOpensTheEditWindow)
{
    ASSERT_EQ(note_program(note_form(2)).abort, "");
    NoteData_t *n = note();
    edit(1);
    type(n->input, std::string(40, 'a'));
    EXPECT_EQ(kept(), "");
    type(n->input, "b");
    EXPECT_EQ(kept(), "");
    ASSERT_NE(edit_cm(), nullptr);
    EXPECT_STREQ(n->note->p.text, (std::string(40, 'a') + "b").c_str());
    // Keys that still reach the input while the window is open go on at the end of the paragraph
    // the window shows; the input keeps the short text.
    const std::string shown = gtk_editable_get_text(GTK_EDITABLE(n->input));
    type(n->input, "cd");
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(buffer_text(n->note), std::string(40, 'a') + "bcd");
    EXPECT_EQ(cursor_of(n->note), 43);
    EXPECT_EQ(gtk_editable_get_text(GTK_EDITABLE(n->input)), shown);
    close_edit();
}

// A click on a tool-bar button leaves the keyboard with the paragraph the clerk was typing in (or
// the one the action made current): what is typed next goes on there, not to the button.
TEST_F(NoteFieldTest, TypingGoesOnInTheParagraphAfterAToolBarClick)
{
    const char *const tips[] = {"Underline the selected text", "Bold the selected text",
                                "Make the selected text italic", "Delete an amount field",
                                "Toggle hidden comments visibility"};
    for (const char *tip : tips) {
        SCOPED_TRACE(tip);
        ASSERT_EQ(note_program(note_form(2) + print("N1", xml({"First", "Second"}), 2)).abort, "");
        NoteData_t *n = open_edit_window();
        ASSERT_NE(edit_cm(), nullptr);
        ASSERT_TRUE(lumba_test::wait_drawn(edit_cm()->window));
        const lumba_test::Xdotool user(lumba_test::gui_display());
        const std::string id = lumba_test::x_window_id(edit_cm()->window);
        user.focus(id);
        focus_on(n, 1);
        select_chars(element(n, 1), 6, 6);
        GtkWidget *button = tool_button(edit_cm()->window, tip);
        ASSERT_NE(button, nullptr);
        int x = 0, y = 0;
        lumba_test::widget_centre(button, &x, &y);
        bool clicked = false;
        const gulong h = g_signal_connect_swapped(button, "clicked", G_CALLBACK(+[](bool *c) { *c = true; }), &clicked);
        user.click(id, x, y);
        ASSERT_TRUE(lumba_test::wait_until([&] { return clicked; }));
        g_signal_handler_disconnect(button, h);
        user.type("more");
        EXPECT_TRUE(lumba_test::wait_until([&] { return buffer_text(element(n, 1)) == "Secondmore"; }))
            << buffer_text(element(n, 1));
        EXPECT_EQ(kept(), "");
        close_edit();
    }
}
