// Clicks end to end: the real lumba_run on the test program's X server runs a form of four input
// fields whose routines log what runs, and a user (xdotool) clicks its fields, double-clicks one,
// right-clicks the focused one and goes back with Shift+Tab. Where the fields lie is measured on
// the same form built in-process (same constructors, style sheet and X server).
#include <algorithm>
#include <fstream>
#include <sstream>

#include "gui_child.h"
#include "gui_env.h"
#include "keys_fixture.h"
#include "log_wait.h"
#include "xdotool.h"
#include "zasm_run.h"

using namespace keys_test;

namespace {

using lumba_test::read_all;

int count(const std::string &path, const std::string &text)
{
    const std::string all = read_all(path);
    int n = 0;
    for (std::size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
    return n;
}

// ICATTACH_FUN of routine to the whole window, with the CM by reference as lumba_run's checks want.
std::string window_routine(const std::string &code, int routine)
{
    return str(code) + num(routine) + ref(CM) + num(0L) + ref(IP) + sref(IPS) + st(in_ICATTACH_FUN, 6);
}

// The form: four standard input fields with the window's Pre_Focus (logs "pre <ind>") and
// Post_Focus (logs "probe ...") routines answering true, the focus on field 1.
std::string form_body()
{
    std::string body = routine_test::common + num(1) + "storrd I:0 I:0 I:0 I:0 I:0\n" + window_form();
    for (int i = 1; i <= 4; ++i) body += add_field(input(i, 0, 10, "s"), WIDGET_INPUT, TAB_STANDARD, "F" + std::to_string(i));
    return body + window_routine("Pre_Focus", routine_test::COUNTER) + window_routine("Post_Focus", routine_test::PROBE) +
           val(CM) + num(1) + st(in_ICSET_FOCUS, 2);
}

std::string logged(const std::string &text) { return num(0L) + str(text) + st(in_IMLOG, 2); }

} // namespace

TEST_F(KeysTest, AUserClicksTheFieldsOfAFormInLumbaRun)
{
    // Where each field lies in its window, a few pixels into its left end.
    ASSERT_EQ(form(form_body(), routine_test::routines).abort, "");
    int x[5] = {}, y[5] = {};
    for (int i = 1; i <= 4; ++i) {
        GtkWidget *w = widget_of(i);
        ASSERT_TRUE(lumba_test::wait_drawn(w));
        graphene_rect_t r;
        ASSERT_TRUE(gtk_widget_compute_bounds(w, GTK_WIDGET(gtk_widget_get_root(w)), &r));
        x[i] = static_cast<int>(r.origin.x) + 6;
        y[i] = static_cast<int>(r.origin.y + r.size.height / 2);
    }

    lumba_test::zasm(form_text(form_body() + logged("form up") + st(in_IGTK_MAIN, 0), routine_test::routines),
                     "/usr/local/oska/apps/unit0/clk");
    const std::string site = std::getenv("LUMBA_SITE");
    const std::string out = site + "/clicks.out";
    // The run's GTK settings: a double-click time longer than the test, so that two clicks on one
    // spot are one double click however slow the machine.
    g_mkdir_with_parents((site + "/config/gtk-4.0").c_str(), 0755);
    std::ofstream(site + "/config/gtk-4.0/settings.ini")
        << "[Settings]\ngtk-double-click-time=" << lumba_test::scaled_ms(lumba_test::RUN_WAIT_MS) << "\n";
    lumba_test::GuiChild run({LUMBA_RUN, "-w", "0", "-v", "0", "clk", "0"},
                             {"DISPLAY=" + lumba_test::gui_display(), "GDK_BACKEND=x11", "GSK_RENDERER=cairo",
                              "GDK_DEBUG=gl-disable", "GTK_A11Y=none", "XDG_CONFIG_HOME=" + site + "/config"},
                             out);
    ASSERT_TRUE(lumba_test::wait_for_log_line(out, "form up")) << read_all(out);
    const lumba_test::Xdotool user(lumba_test::gui_display());
    const std::string found = user.run({"search", "--sync", "--onlyvisible", "--pid", std::to_string(run.pid())});
    const std::string id = found.substr(0, found.find('\n'));
    const auto reaches = [&](const std::string &text, int n) {
        return lumba_test::wait_until([&] { return count(out, text) >= n; }, 20000);
    };

    // A click on the next field: the field left runs its Post_Focus, the clicked one its Pre_Focus.
    user.click(id, x[2], y[2], 1);
    ASSERT_TRUE(reaches("B pre 2", 1)) << read_all(out);
    EXPECT_EQ(count(out, "B probe 1 "), 1) << read_all(out);

    // A double click on the next one: the first press moves, the second does nothing.
    user.run({"mousemove", "--sync", "--window", id, std::to_string(x[3]), std::to_string(y[3]), "click", "--repeat",
              "2", "--delay", "80", "1"});
    ASSERT_TRUE(reaches("n_press2", 1)) << read_all(out);
    ASSERT_TRUE(reaches("B pre 3", 1)) << read_all(out);

    // Shift+Tab goes back (the Back-Tab key), running the field's Post_Focus.
    user.focus(id);
    user.key({"shift+Tab"});
    ASSERT_TRUE(reaches("B pre 2", 2)) << read_all(out);
    EXPECT_EQ(count(out, "B probe 3 "), 1) << read_all(out);

    // A right click on the focused field opens its edit menu (windows of its own) and runs nothing:
    // once the menu shows, the click's handling is over.
    const auto windows = [&] {
        const std::string listed = user.run({"search", "--onlyvisible", "--pid", std::to_string(run.pid())});
        return static_cast<int>(std::count(listed.begin(), listed.end(), '\n'));
    };
    ASSERT_EQ(windows(), 1);
    user.click(id, x[2], y[2], 3);
    ASSERT_TRUE(reaches("button3; n_press1", 1)) << read_all(out);
    EXPECT_TRUE(lumba_test::wait_until([&] { return windows() > 1; })) << "the edit menu shows";

    const std::string all = read_all(out);
    EXPECT_EQ(count(out, "n_press2"), 1) << all;
    EXPECT_EQ(count(out, "B pre 3"), 1) << all;
    EXPECT_EQ(count(out, "B probe 2 "), 1) << all;
    const std::size_t right = all.find("button3; n_press1");
    EXPECT_EQ(all.find(" B ", right), std::string::npos) << all.substr(right);
    // Between the double click's second press and Shift+Tab's Post_Focus no routine ran either.
    const std::size_t second = all.find("n_press2");
    EXPECT_EQ(all.find(" B ", second), all.find(" B probe 3 ")) << all;
}
