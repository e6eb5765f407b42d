// Message dialogs as a user meets them on the screen: Escape dismisses one with the answer of its
// cancel button, and a long text, even one unbroken word, wraps and scrolls inside the screen with
// the buttons in sight.
#include <functional>

#include "dialog_script.h"
#include "gmessage.h"
#include "gui_env.h"
#include "widgets_fixture.h"
#include "xdotool.h"

using namespace widgets_test;
using lumba_test::DialogScript;

namespace {

// The box a widget takes in its window's coordinates.
graphene_rect_t bounds_in_window(GtkWidget *widget)
{
    graphene_rect_t r{};
    EXPECT_TRUE(gtk_widget_compute_bounds(widget, GTK_WIDGET(gtk_widget_get_root(widget)), &r));
    return r;
}

// The dialog's buttons (the buttons of its last row).
std::vector<GtkWidget *> buttons_of(GtkWidget *dialog)
{
    std::vector<GtkWidget *> found;
    std::function<void(GtkWidget *)> walk = [&](GtkWidget *w) {
        if (GTK_IS_BUTTON(w)) found.push_back(w);
        for (GtkWidget *c = gtk_widget_get_first_child(w); c; c = gtk_widget_get_next_sibling(c)) walk(c);
    };
    walk(dialog);
    return found;
}

} // namespace

TEST_F(WidgetsTest, EscapeDismissesADialogWithItsCancelAnswer)
{
    struct Case {
        const char *what;
        std::function<int()> ask;
        int answer;  // the cancel button's index, or -1 without one
    } cases[] = {
        {"a question", [] { return gmessage_ask("Post the invoice?", "Q"); }, 1},
        {"information", [] { return gmessage_ask("Posted", "I"); }, -1},
        {"an error", [] { return gmessage_ask("Not posted", "E"); }, -1},
        {"IGDIALOG's question", [] { return gdialog("Which copy?", {"Left", "Right"}); }, -1},
        {"the engine's question", [] { return Mgdialog("Discard?", "_Yes", "_No"); }, -1},
    };
    const lumba_test::Xdotool user(lumba_test::gui_display());
    for (const Case &c : cases) {
        DialogScript script({DIALOG_LEAVE});
        bool dismissed = false;
        script.on_shown = [&](const DialogRequest &r) {
            GtkWidget *dialog = GTK_WIDGET(r.dialog);
            ASSERT_TRUE(lumba_test::wait_drawn(dialog));
            g_object_add_weak_pointer(G_OBJECT(dialog), reinterpret_cast<gpointer *>(&dialog));
            const std::string window = lumba_test::x_window_id(dialog);
            user.focus(window);
            user.key({"Escape"});
            dismissed = lumba_test::wait_until([&] { return dialog == nullptr; }, 3000);
            if (dialog) {  // not dismissed: take it away, so that the test goes on
                g_object_remove_weak_pointer(G_OBJECT(dialog), reinterpret_cast<gpointer *>(&dialog));
                gtk_window_destroy(GTK_WINDOW(dialog));
            }
        };
        const int answer = c.ask();
        EXPECT_TRUE(dismissed) << c.what;
        if (dismissed) {
            EXPECT_EQ(answer, c.answer) << c.what;
        }
    }
}

TEST_F(WidgetsTest, LongMessagesWrapAndScrollInsideTheScreen)
{
    std::string lines;
    for (int i = 1; i <= 300; ++i) lines += "Line " + std::to_string(i) + " of a long report\n";
    struct Case {
        const char *what;
        std::string text;
    } cases[] = {
        {"one unbroken word", std::string(4000, 'W')},
        {"three hundred lines", lines},
        {"a long sentence", [] {
             std::string s;
             for (int i = 0; i < 400; ++i) s += "word ";
             return s;
         }()},
    };
    GdkMonitor *monitor =
        GDK_MONITOR(g_list_model_get_item(gdk_display_get_monitors(gdk_display_get_default()), 0));
    GdkRectangle screen{};
    gdk_monitor_get_geometry(monitor, &screen);
    g_object_unref(monitor);
    for (const Case &c : cases) {
        DialogScript script({0});
        int width = 0, height = 0;
        std::vector<graphene_rect_t> buttons;
        lumba_test::Snapshot picture;
        script.on_shown = [&](const DialogRequest &r) {
            GtkWidget *dialog = GTK_WIDGET(r.dialog);
            picture = drawn(dialog);
            width = gtk_widget_get_width(dialog);
            height = gtk_widget_get_height(dialog);
            for (GtkWidget *b : buttons_of(dialog)) buttons.push_back(bounds_in_window(b));
        };
        EXPECT_EQ(gmessage_ask(c.text.c_str(), "W"), 0) << c.what;
        EXPECT_GT(width, 100) << c.what;
        EXPECT_LE(width, screen.width * 3 / 4) << c.what;
        EXPECT_LE(height, screen.height * 3 / 4) << c.what;
        ASSERT_EQ(buttons.size(), 1u) << c.what;
        EXPECT_GE(buttons[0].origin.x, 0) << c.what;
        EXPECT_LE(buttons[0].origin.x + buttons[0].size.width, width) << c.what << ": the button is inside";
        EXPECT_LE(buttons[0].origin.y + buttons[0].size.height, height) << c.what;
        EXPECT_GT(picture.dark_pixels(), 1000) << c.what << ": the text shows";
        if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR"))
            picture.save_png(std::string(dir) + "/long_message_" + std::to_string(&c - cases) + ".png");
    }
}

TEST_F(WidgetsTest, TabsBetweenTwoSentencesPutTheSecondOnALineOfItsOwn)
{
    // The refused click's message: seven tabs between its sentences.
    const std::string text =
        "This field is not available to be changed.\t\t\t\t\t\t\tMouse control currently disabled";
    DialogScript script({DIALOG_CLOSE});
    std::vector<std::string> lines;
    lumba_test::Snapshot picture;
    script.on_shown = [&](const DialogRequest &r) {
        picture = drawn(GTK_WIDGET(r.dialog));
        std::function<void(GtkWidget *)> walk = [&](GtkWidget *w) {
            if (GTK_IS_LABEL(w) && std::string(gtk_label_get_text(GTK_LABEL(w))).find("Mouse") != std::string::npos) {
                PangoLayout *layout = gtk_label_get_layout(GTK_LABEL(w));
                const char *all = pango_layout_get_text(layout);
                for (GSList *l = pango_layout_get_lines_readonly(layout); l; l = l->next) {
                    const auto *line = static_cast<PangoLayoutLine *>(l->data);
                    std::string shown(all + line->start_index, static_cast<std::size_t>(line->length));
                    shown.erase(shown.find_last_not_of(" \t\n") + 1);
                    lines.push_back(shown);
                }
            }
            for (GtkWidget *c = gtk_widget_get_first_child(w); c; c = gtk_widget_get_next_sibling(c)) walk(c);
        };
        walk(GTK_WIDGET(r.dialog));
    };
    gmessage_ask(text.c_str(), "I");
    EXPECT_EQ(lines, (std::vector<std::string>{"This field is not available to be changed.",
                                               "Mouse control currently disabled"}));
    ASSERT_EQ(script.asked().size(), 1u);
    EXPECT_EQ(script.asked()[0].text, text) << "the message's own text";
    if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR")) picture.save_png(std::string(dir) + "/refused_click.png");
}
