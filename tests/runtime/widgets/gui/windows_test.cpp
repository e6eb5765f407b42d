// Windows and the application area in-process: IGWIN_NEW by type letter (sizes, title, cursor,
// transient parent as the X server sees it, the menu window lent over the menu screen), the
// placement recorded and logged, IGWINDOW_MOVE, the close button and the destroy handler ending
// the main loop, the monitor a window shows on, the geometry intrinsics, and what background runs
// do instead of touching windows.
#include <regex>

#include "ccallback.h"
#include "cmatrix.h"
#include "gmenu.h"
#include "gui_env.h"
#include "hooks.h"
#include "kinds.h"
#include "widgets_fixture.h"
#include "xdotool.h"

using namespace forms_test;
using namespace widgets_test;

namespace {

// The test program's X server: one monitor of 1280 x 1024.
const auto *gui = lumba_test::add_gui_environment();

GtkWindow *window_at(long handle) { return GTK_WINDOW(reinterpret_cast<GtkWidget *>(handle)); }

std::string cursor_name(GtkWidget *w)
{
    GdkCursor *c = gtk_widget_get_cursor(w);
    return c && gdk_cursor_get_name(c) ? gdk_cursor_get_name(c) : "";
}

// WM_TRANSIENT_FOR of an X window as xprop prints it ("0x..."), "" when it has none.
std::string transient_for(GtkWidget *window)
{
    const std::string id = lumba_test::x_window_id(window);
    const char *argv[] = {"xprop", "-id", id.c_str(), "WM_TRANSIENT_FOR", nullptr};
    gchar *out = nullptr;
    EXPECT_TRUE(g_spawn_sync(nullptr, const_cast<char **>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out,
                             nullptr, nullptr, nullptr));
    const std::string text = out ? out : "";
    g_free(out);
    std::smatch m;
    return std::regex_search(text, m, std::regex("window id # (0x[0-9a-f]+)")) ? m[1].str() : "";
}

std::string hex_id(GtkWidget *window)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", std::stoul(lumba_test::x_window_id(window)));
    return text;
}

} // namespace

TEST_F(WidgetsTest, WindowTypesOpenAtTheirSizes)
{
    struct Case {
        const char *type;
        int width, height;
    } cases[] = {
        {"a", 939, 630},  // scaled to the launch area 1010 x 630
        {"abc", 939, 630},  // the first letter counts
        {"b", 530, 500},  {"h", 1, 1}, {"s", 1014, 480}, {"x", 1010, 630},
    };
    for (const Case &c : cases) {
        const Outcome o = form(window_of(c.type, W));
        ASSERT_EQ(o.abort, "") << c.type;
        GtkWindow *w = window_at(handle(W));
        ASSERT_TRUE(handle_widget(handle(W))) << "the window is an issued handle";
        int dw = 0, dh = 0;
        gtk_window_get_default_size(w, &dw, &dh);
        EXPECT_EQ(dw, c.width) << c.type;
        EXPECT_EQ(dh, c.height) << c.type;
        EXPECT_STREQ(gtk_window_get_title(w), "Oska Application Manager");
        EXPECT_EQ(cursor_name(GTK_WIDGET(w)), "wait");
        EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(w)));
        EXPECT_EQ(gtk_window_get_transient_for(w), nullptr) << "no form: no parent";
    }
    for (const char *bad : {"dialog", "D", ""})
        EXPECT_EQ(form(window_of(bad, W)).abort, std::string("Unexpected window type ") + bad);
    EXPECT_EQ(form(fn(in_IGWIN_NEW, 0) + set(W)).abort, "Invalid number of parameters");
}

TEST_F(WidgetsTest, NewWindowIsTransientForTheNewestFormAndItsPlaceIsLogged)
{
    record.log_level_lumbas = 0;
    const Outcome o = form(window_of("a", W) + attach(CM, W) + window_of("b", E));
    ASSERT_EQ(o.abort, "");
    GtkWidget *parent = reinterpret_cast<GtkWidget *>(handle(W));
    GtkWidget *child = reinterpret_cast<GtkWidget *>(handle(E));
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(child)), GTK_WINDOW(parent));
    ASSERT_TRUE(lumba_test::wait_drawn(child));
    EXPECT_EQ(transient_for(child), hex_id(parent)) << "WM_TRANSIENT_FOR on the X server";
    EXPECT_EQ(transient_for(parent), "");
    // Type b: 530 x 500 at the bottom right of the area 1010 x 630 (decorations 5 and 32).
    ControlMatrix_t *cm = cm_of(CM);
    EXPECT_EQ(cm->window_x, 470);
    EXPECT_EQ(cm->window_y, 66);
    EXPECT_EQ(cm->window_width, 530);
    EXPECT_EQ(cm->window_height, 500);
    const std::vector<std::string> lines = log_lines(o.err);
    const std::string rule(44, '#');
    const std::vector<std::string> banner{rule, "###  Move Window to: x =  470; y =   66  ###", rule};
    EXPECT_NE(std::search(lines.begin(), lines.end(), banner.begin(), banner.end()), lines.end()) << o.err;
}

TEST_F(WidgetsTest, OffsetTypesTakeTheirOffsetsFromTheParentWindow)
{
    // Type k (530 x 500, placement 100) over type a (939 x 630): offsets (209, 79) are handed on.
    ASSERT_EQ(form(window_of("a", W) + attach(CM, W) + window_of("k", E)).abort, "");
    EXPECT_EQ(cm_of(CM)->window_width, 209);
    EXPECT_EQ(cm_of(CM)->window_height, 79);
    EXPECT_EQ(cm_of(CM)->window_x, 0);
    EXPECT_EQ(cm_of(CM)->window_y, 0);
}

TEST_F(WidgetsTest, WindowMoveHandsOnTheDefaultHeight)
{
    ASSERT_EQ(form(window_of("c", W) + attach(CM, W) + val(W) + num(0L) + num(300) + st(in_IGWINDOW_MOVE, 3)).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    EXPECT_EQ(cm->window_width, 300);
    EXPECT_EQ(cm->window_height, 500);
    EXPECT_EQ(cm->window_x, 350);  // (1010 - 300) / 2 - 5
    EXPECT_EQ(cm->window_y, 33);   // (630 - 500) / 2 - 32
    // Only a window moves.
    const std::string box = window_of("c", W) + val(W) + fn(in_IGVBOX_NEW, 1) + set(E);
    const Outcome o = form(box + val(E) + num(0L) + num(300) + st(in_IGWINDOW_MOVE, 3));
    EXPECT_EQ(o.abort, "Invalid widget handle " + hex(reinterpret_cast<void *>(handle(E))));
    EXPECT_EQ(form(val(W) + num(0L) + st(in_IGWINDOW_MOVE, 2)).abort, "Invalid number of parameters");
}

TEST_F(WidgetsTest, OverTheMenuScreenTheMenuWindowIsLent)
{
    // The menu's CM, made before the program runs, with its window.
    GtkWidget *menu_window = gtk_window_new();
    gtk_window_present(GTK_WINDOW(menu_window));
    ControlMatrix_t *menu = cset_new(global_data, menu_window, 0);
    menu->type = CM_WT_MENU;
    static int lent;
    lent = 0;
    WindowKindHooks row{};
    row.lend_window = [](ControlMatrix_t *cm) {
        ++lent;
        return cm->window;
    };
    const WindowKindHooks saved = register_window_kind(CM_WT_MENU, row);
    const std::size_t before = toplevels().size();
    const Outcome o = form(window_of("b", W));
    register_window_kind(CM_WT_MENU, saved);
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(reinterpret_cast<GtkWidget *>(handle(W)), menu_window);
    EXPECT_EQ(lent, 1);
    EXPECT_EQ(toplevels().size(), before) << "no window of its own";
    int dw = 0, dh = 0;
    gtk_window_get_default_size(GTK_WINDOW(menu_window), &dw, &dh);
    EXPECT_EQ(dw, 530);
    EXPECT_EQ(dh, 500);
    // Outside this test the menu screen itself lends its window.
    EXPECT_EQ(window_kind(CM_WT_MENU).lend_window, gmenu_remove_menu);
}

TEST_F(WidgetsTest, DestroyingTheLastWindowEndsTheMainLoop)
{
    // Two forms; once the program waits in IGTK_MAIN the newer one is destroyed (the loop goes on),
    // then the older (it ends).
    static int destroyed;
    static bool running_after_first;
    destroyed = 0;
    running_after_first = false;
    const guint watch = g_timeout_add(10, [](gpointer) -> gboolean {
        if (!igtk_main_running()) return G_SOURCE_CONTINUE;
        if (destroyed == 1) running_after_first = true;
        for (GtkWindow *w : toplevels())
            if (destroyed == 1 || gtk_window_get_transient_for(w)) gtk_window_destroy(w);
        return ++destroyed < 2 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
    }, nullptr);
    const Outcome o = form(window_of("a", W) + attach(CM, W) + window_of("b", E) + attach(CM2, E) +
                           st(in_IGTK_MAIN, 0) + num(7) + set(X));
    if (destroyed < 2) g_source_remove(watch);
    ASSERT_EQ(o.abort, "");
    EXPECT_TRUE(running_after_first);
    EXPECT_EQ(value(X), 7) << "the program went on after IGTK_MAIN";
    EXPECT_EQ(global_data->first_cm, nullptr) << "each destroy freed its CM";
}

namespace {

// Destroys the newer window at the first turn of the main loop after it was made, then the older
// one once the program waits in IGTK_MAIN.
struct DestroyAsMade {
    GListModel *windows = gtk_window_get_toplevels();
    gulong added = 0;
    guint watch = 0;
    bool newer_gone = false, older_gone = false;

    DestroyAsMade() { added = g_signal_connect(windows, "items-changed", G_CALLBACK(made), this); }
    ~DestroyAsMade()
    {
        g_signal_handler_disconnect(windows, added);
        if (watch) g_source_remove(watch);
    }
    static void made(GListModel *, guint, guint, guint added, gpointer self)
    {
        auto *d = static_cast<DestroyAsMade *>(self);
        if (added > 0 && !d->watch) d->watch = g_idle_add(newer, d);
    }
    static gboolean newer(gpointer self)
    {
        auto *d = static_cast<DestroyAsMade *>(self);
        for (GtkWindow *w : WidgetsTest::toplevels())
            if (gtk_window_get_transient_for(w)) {
                gtk_window_destroy(w);
                d->newer_gone = true;
            }
        d->watch = d->newer_gone ? g_timeout_add(10, older, d) : 0;
        return G_SOURCE_REMOVE;
    }
    static gboolean older(gpointer self)
    {
        auto *d = static_cast<DestroyAsMade *>(self);
        if (!igtk_main_running()) return G_SOURCE_CONTINUE;
        for (GtkWindow *w : WidgetsTest::toplevels()) gtk_window_destroy(w);
        d->older_gone = true;
        d->watch = 0;
        return G_SOURCE_REMOVE;
    }
};

} // namespace

// A window destroyed by what the main loop handles at its first turn after the window was made
// (a user closing it as it shows): that turn is inside ICATTACH_WINDOW, which shows the older
// form's wait cursor at once. The destroy takes the new form with it; the program goes on to
// IGTK_MAIN, which the older window's destroy ends.
TEST_F(WidgetsTest, AWindowDestroyedWhileItIsAttachedTakesItsFormWithIt)
{
    DestroyAsMade user;
    const Outcome o = form(window_of("a", W) + attach(CM, W) + window_of("b", E) + attach(CM2, E) +
                           st(in_IGTK_MAIN, 0) + num(7) + set(X));
    ASSERT_EQ(o.abort, "");
    EXPECT_TRUE(user.newer_gone);
    EXPECT_TRUE(user.older_gone);
    EXPECT_EQ(value(X), 7) << "the program went on after IGTK_MAIN";
    EXPECT_EQ(global_data->first_cm, nullptr) << "each destroy freed its CM";
}

TEST_F(WidgetsTest, CloseButtonOfAWindowWithoutFormKeepsIt)
{
    ASSERT_EQ(form(window_of("a", W)).abort, "");
    GtkWindow *w = window_at(handle(W));
    gtk_window_close(w);
    lumba_test::drain();
    EXPECT_TRUE(handle_widget(handle(W))) << "the window is still there";
    EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(w)));
}

TEST_F(WidgetsTest, WindowTakesTheOriginOfItsMonitor)
{
    ASSERT_EQ(form(window_of("a", W) + attach(CM, W)).abort, "");
    GtkWidget *w = reinterpret_cast<GtkWidget *>(handle(W));
    ASSERT_TRUE(lumba_test::wait_drawn(w));
    ControlMatrix_t *cm = cm_of(CM);
    cm->monitor = nullptr;
    cm->oae_app_x = cm->oae_app_y = 77;
    gtk_window_set_default_size(GTK_WINDOW(w), 600, 400);
    lumba_test::drain();
    EXPECT_NE(cm->monitor, nullptr);
    EXPECT_EQ(cm->oae_app_x, 0) << "the monitor's origin";
    EXPECT_EQ(cm->oae_app_y, 0);
    EXPECT_EQ(cm->monitor_width, 1280);
    EXPECT_EQ(cm->monitor_height, 1024);
    EXPECT_EQ(cm->oae_app_width, 1010) << "the area's size stays";
    // Resized on the same monitor: nothing changes.
    cm->oae_app_x = 77;
    gtk_window_set_default_size(GTK_WINDOW(w), 700, 500);
    lumba_test::drain();
    EXPECT_EQ(cm->oae_app_x, 77);
}

TEST_F(WidgetsTest, GeometryIntrinsics)
{
    Outcome o = form(sfn(in_IGEOMETRY_GET_STD, 0) + sset(TS) + sfn(in_IGEOMETRY_GET_OAE, 0) + sset(IPS));
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(text(TS), "1024x768");
    EXPECT_EQ(text(IPS), "1010x630");
    struct Case {
        std::string body, message;
    } cases[] = {
        {num(1) + sfn(in_IGEOMETRY_GET_STD, 1), "Must have zero parameters; not 1"},
        {num(1) + num(1) + sfn(in_IGEOMETRY_GET_OAE, 2), "Must have zero parameters; not 2"},
        {st(in_IGEOMETRY_PUT_STD, 0), "Must have one parameter; not 0"},
        {str("a") + str("b") + st(in_IGEOMETRY_PUT_OAE, 2), "Must have one parameter; not 2"},
        {str("800x600") + st(in_IGEOMETRY_PUT_STD, 1), "Standard Window Size must be 1024x768; not 800x600"},
        {str("1024x768 ") + st(in_IGEOMETRY_PUT_STD, 1), ""},
        {str("1024x769") + st(in_IGEOMETRY_PUT_OAE, 1),
         "The Oska Applicaiton Extent (OAE) must be one of 1024x768, 1280x800, or 1680x1050; not 1024x769"},
    };
    for (const Case &c : cases) EXPECT_EQ(form(c.body).abort, c.message) << c.body;
}

TEST_F(WidgetsTest, ApplicationExtentIsLoweredToTheMonitor)
{
    // No form: global_data's area, on a 1280 x 1024 monitor.
    ASSERT_EQ(form(str("1680x1050  ") + st(in_IGEOMETRY_PUT_OAE, 1)).abort, "");
    EXPECT_EQ(record.oae_app_width, 1280);
    EXPECT_EQ(record.oae_app_height, 800);
    EXPECT_EQ(record.oae_app_x, 1);
    EXPECT_EQ(record.oae_app_y, 1);
    EXPECT_EQ(record.monitor, nullptr);
    EXPECT_EQ(record.monitor_width, 1280);
    EXPECT_EQ(record.monitor_height, 1024);
    // With a form: the newest CM's area; the launch area is what IGEOMETRY_GET_OAE reports.
    record.oae_app_width = 1010;
    record.oae_app_height = 630;
    const Outcome o = form(window_of("a", W) + attach(CM, W) + str("1680x1050") + st(in_IGEOMETRY_PUT_OAE, 1) +
                           sfn(in_IGEOMETRY_GET_OAE, 0) + sset(TS));
    ASSERT_EQ(o.abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    EXPECT_EQ(cm->oae_app_width, 1280);
    EXPECT_EQ(cm->oae_app_height, 800);
    EXPECT_NE(cm->monitor, nullptr);
    EXPECT_EQ(cm->monitor_width, 1280);
    EXPECT_EQ(text(TS), "1010x630");
}

TEST_F(WidgetsTest, BackgroundRunsTouchNoWindow)
{
    const std::size_t windows = toplevels().size();
    Back_ground = 1;
    const std::string bogus = num(123456789);
    const Outcome o = form(str("1680x1050") + st(in_IGEOMETRY_PUT_OAE, 1) + bogus + num(0L) + num(1) +
                           st(in_IGWINDOW_MOVE, 3) + bogus + str("Title") + st(in_IGPRINT_TITLE, 2) +
                           str("https://example.org/") + st(in_ISHOW_URI, 1) + str("Stock is low") + str("W") +
                           st(in_IGMESSAGE, 2) + str("Go on?") + str("Yes") + num(2) + fn(in_IGDIALOG, 3) + set(X));
    Back_ground = 0;
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(record.oae_app_width, 1680) << "no monitor to lower it to";
    EXPECT_EQ(record.oae_app_height, 1050);
    EXPECT_EQ(record.oae_app_x, 1);
    EXPECT_EQ(record.monitor_width, 1280) << "the monitor fields stay";
    EXPECT_EQ(value(X), -1) << "nobody can answer";
    EXPECT_NE(o.err.find("Stock is low\n"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("Go on? [Yes | 2]\n"), std::string::npos) << o.err;
    const std::vector<std::string> lines = log_lines(o.err);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Stock is low"), lines.end()) << "and in the run-time log";
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Go on? [Yes | 2]"), lines.end());
    EXPECT_EQ(toplevels().size(), windows);
    // Making a window is refused.
    Back_ground = 1;
    const Outcome refused = form(window_of("a", W));
    Back_ground = 0;
    EXPECT_EQ(refused.abort, "IGWIN_NEW: not in windows mode");
}
