// The progress window in-process: its layout, a user's click on Cancel (by xdotool, through the
// X server), its text rewritten, the close button refused, destroy twice, and its argument checks.
#include "gdata.h"
#include "gui_env.h"
#include "widgets_fixture.h"
#include "xdotool.h"

using namespace forms_test;
using namespace widgets_test;

namespace {

GtkWidget *find(GtkWidget *root, GType type)
{
    if (g_type_is_a(G_OBJECT_TYPE(root), type)) return root;
    for (GtkWidget *c = gtk_widget_get_first_child(root); c; c = gtk_widget_get_next_sibling(c))
        if (GtkWidget *w = find(c, type)) return w;
    return nullptr;
}

GtkWindow *progress_window()
{
    for (GtkWindow *w : WidgetsTest::toplevels())
        if (g_strcmp0(gtk_window_get_title(w), "Oska Working .......") == 0) return w;
    return nullptr;
}

const std::string cancelled = fn(in_IGPROGRESS_IS_CANCELLED, 0) + set(X);

} // namespace

TEST_F(WidgetsTest, ProgressWindowIsCancelledByAUsersClick)
{
    const std::string create = num(1) + num(0L) + num(100) + str("<b>Working</b>") + num(1) + st(in_IGPROGRESS_CREATE, 5);
    ASSERT_EQ(form(window_of("a", W) + attach(CM, W) + create + cancelled).abort, "");
    EXPECT_EQ(value(X), 0) << "not cancelled yet";
    GtkWindow *window = progress_window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(gtk_window_get_modal(window));
    EXPECT_FALSE(gtk_window_get_deletable(window));
    EXPECT_EQ(gtk_window_get_transient_for(window), GTK_WINDOW(reinterpret_cast<GtkWidget *>(handle(W))));
    int dw = 0, dh = 0;
    gtk_window_get_default_size(window, &dw, &dh);
    EXPECT_EQ(dw, 400);
    EXPECT_EQ(dh, 100);
    GtkWidget *label = find(GTK_WIDGET(window), GTK_TYPE_LABEL);
    ASSERT_NE(label, nullptr);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label)), "Working");
    // The user clicks Cancel.
    GtkWidget *button = find(GTK_WIDGET(window), GTK_TYPE_BUTTON);
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(lumba_test::wait_drawn(button));
    int x = 0, y = 0;
    lumba_test::widget_centre(button, &x, &y);
    lumba_test::Xdotool(lumba_test::gui_display()).click(lumba_test::x_window_id(GTK_WIDGET(window)), x, y);
    ASSERT_EQ(form(cancelled + str("Step <i>2</i>") + st(in_IGPROGRESS_UPDATE, 1)).abort, "");
    EXPECT_EQ(value(X), 1);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label)), "Step 2") << "a window with Cancel takes new text too";
    ASSERT_EQ(form(cancelled).abort, "");
    EXPECT_EQ(value(X), 1) << "and stays cancelled";
    // The close button does nothing; destroying twice is harmless.
    gtk_window_close(window);
    lumba_test::drain();
    EXPECT_EQ(progress_window(), window);
    ASSERT_EQ(form(st(in_IGPROGRESS_DESTROY, 0) + st(in_IGPROGRESS_DESTROY, 0)).abort, "");
    EXPECT_EQ(progress_window(), nullptr);
    EXPECT_EQ(global_data->progress_meter, nullptr);
}

TEST_F(WidgetsTest, ProgressWindowArguments)
{
    const auto create = [](int type, int count) {
        std::string t = num(type) + num(0L) + num(0L) + str("Working");
        if (count == 5) t += num(0L);
        if (count == 3) t = num(type) + num(0L) + num(0L);
        return t + st(in_IGPROGRESS_CREATE, count);
    };
    EXPECT_EQ(form(create(2, 4)).abort, "Type must be one");
    EXPECT_EQ(form(create(1, 3)).abort, "Invalid number of parameters");
    EXPECT_EQ(form(st(in_IGPROGRESS_UPDATE, 0)).abort, "Invalid number of parameters");
    const Outcome closed = form(cancelled);
    EXPECT_NE(closed.abort.find("Program assertion failed in"), std::string::npos) << closed.abort;
    EXPECT_NE(closed.abort.find(": global_data->progress_meter"), std::string::npos) << closed.abort;
    // Without a Cancel button; a second one while it is open is refused.
    ASSERT_EQ(form(create(1, 4)).abort, "");
    EXPECT_EQ(find(GTK_WIDGET(progress_window()), GTK_TYPE_BUTTON), nullptr);
    const Outcome twice = form(create(1, 5));
    EXPECT_NE(twice.abort.find(": !global_data->progress_meter"), std::string::npos) << twice.abort;
    ASSERT_EQ(form(st(in_IGPROGRESS_DESTROY, 0)).abort, "");
}
