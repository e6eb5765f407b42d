// Message dialogs in-process: each type's class (its loud colour on screen), buttons, default and
// answers when answered, closed or destroyed; the heading in both modes; the parent window and the
// cursors of the forms while a dialog is up; IGDIALOG and IGMESSAGE with their transaction
// reports; and the main loop going on while a dialog waits.
#include <regex>

#include "dialog_script.h"
#include "gmessage.h"
#include "gui_env.h"
#include "hooks.h"
#include "widgets_fixture.h"

using namespace forms_test;
using namespace widgets_test;
using lumba_test::DialogScript;
using lumba_test::Rgba;

namespace {

std::string cursor_name(GtkWidget *w)
{
    GdkCursor *c = gtk_widget_get_cursor(w);
    return c && gdk_cursor_get_name(c) ? gdk_cursor_get_name(c) : "";
}

struct OpenTransaction {
    OpenTransaction() : saved(register_transaction_query([] { return 1; })) {}
    ~OpenTransaction() { register_transaction_query(saved); }
    TransactionQuery saved;
};

} // namespace

TEST_F(WidgetsTest, EachMessageTypeItsClassButtonsAndAnswers)
{
    struct Case {
        const char *type;
        const char *style;
        std::vector<std::string> buttons;
        int pressed;  // the answer of the default button
        int cancel;   // the answer when closed or destroyed
    } cases[] = {
        {"E", "error", {"_Close"}, 0, -1},       {"F", "error", {"_Close"}, 0, -1},
        {"I", "info", {"_Ok"}, 0, -1},           {"O", "other", {"_Close"}, 0, -1},
        {"Q", "question", {"_Yes", "_No"}, 1, 1}, {"W", "warning", {"_Ok"}, 0, -1},
        {"w", "warning", {"_Ok"}, 0, -1},        {"", "info", {"_Ok"}, 0, -1},
        {nullptr, "info", {"_Ok"}, 0, -1},       {"question", "question", {"_Yes", "_No"}, 1, 1},
    };
    for (const Case &c : cases) {
        const std::string type = c.type ? c.type : "(none)";
        DialogScript script({c.pressed, DIALOG_CLOSE, DIALOG_DESTROY});
        bool classed = true;
        script.on_shown = [&](const DialogRequest &r) { classed = classed && gtk_widget_has_css_class(GTK_WIDGET(r.dialog), c.style); };
        EXPECT_EQ(gmessage_ask("Stock is low", c.type), c.pressed) << type;
        EXPECT_EQ(gmessage_ask("Stock is low", c.type), c.cancel) << type << " closed";
        EXPECT_EQ(gmessage_ask("Stock is low", c.type), c.cancel) << type << " destroyed";
        ASSERT_EQ(script.asked().size(), 3u);
        const DialogRequest &r = script.asked()[0];
        EXPECT_EQ(r.caller, "gmessage");
        EXPECT_EQ(r.style, c.style) << type;
        EXPECT_EQ(r.buttons, c.buttons) << type;
        EXPECT_EQ(r.text, "Stock is low");
        EXPECT_TRUE(classed) << type;
    }
    EXPECT_EQ(toplevels().size(), 0u) << "every dialog went";
    EXPECT_EQ(lumba_test::abort_text([] { gmessage("x", "X"); }), "Unknown gmessage type 'X'");
    EXPECT_EQ(lumba_test::abort_text([] { gmessage("x", "xyz"); }), "Unknown gmessage type 'xyz'");
}

TEST_F(WidgetsTest, DialogClassesShowTheirColours)
{
    struct Case {
        const char *type;
        Rgba colour;
    } cases[] = {
        {"E", {255, 0, 0, 255}}, {"I", {0, 255, 0, 255}}, {"O", {255, 0, 255, 255}},
        {"Q", {0, 0, 255, 255}}, {"W", {255, 255, 0, 255}},
    };
    for (const Case &c : cases) {
        DialogScript script({0});
        Rgba corner{};
        script.on_shown = [&](const DialogRequest &r) { corner = drawn(GTK_WIDGET(r.dialog)).pixel(3, 3); };
        gmessage_ask("Colour", c.type);
        EXPECT_EQ(corner, c.colour) << c.type;
    }
}

TEST_F(WidgetsTest, DialogHeadingNamesTheProgramAndWhereItStands)
{
    DialogScript script({0, 0});
    ASSERT_EQ(form(str("First line\\nsecond line") + str("I") + st(in_IGMESSAGE, 2)).abort, "");
    oska_do_test = 1;
    const Outcome test_mode = form(str("First line\\nsecond line") + st(in_IGMESSAGE, 1));
    oska_do_test = 0;
    ASSERT_EQ(test_mode.abort, "");
    ASSERT_EQ(script.asked().size(), 2u);
    // The application's name up to its first '_', then the program point.
    const std::string normal = script.asked()[0].heading;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(normal, m, std::regex(R"(([^:_]+):(\d+)-main:)"))) << normal;
    EXPECT_EQ(script.asked()[0].text, "First line\nsecond line");
    // Test mode: the name, the routine and the text, cut at its first line.
    EXPECT_EQ(script.asked()[1].heading, m[1].str() + ":main::First line");
}

TEST_F(WidgetsTest, DialogParentAndTheCursorsOfTheForms)
{
    // Before any window the dialog has no parent.
    {
        DialogScript alone({0});
        ASSERT_EQ(form(str("Hello") + st(in_IGMESSAGE, 1)).abort, "");
        ASSERT_EQ(alone.asked().size(), 1u);
        EXPECT_EQ(alone.asked()[0].parent, nullptr);
    }
    DialogScript script({0, 1});
    std::vector<std::string> cursors;
    script.on_shown = [&](const DialogRequest &) {
        for (ControlMatrix_t *cm = global_data->first_cm; cm; cm = cm->next) cursors.push_back(cursor_name(cm->window));
    };
    const Outcome o = form(window_of("a", W) + attach(CM, W) + window_of("b", E) + attach(CM2, E) + str("Note this") +
                           st(in_IGMESSAGE, 1) + str("Keep?") + str("Yes") + str("No") + fn(in_IGDIALOG, 3) + set(X));
    ASSERT_EQ(o.abort, "");
    ASSERT_EQ(script.asked().size(), 2u);
    EXPECT_EQ(reinterpret_cast<long>(script.asked()[0].parent), handle(E)) << "the newest form's window";
    EXPECT_EQ(cursors, (std::vector<std::string>{"not-allowed", "not-allowed", "not-allowed", "not-allowed"}));
    EXPECT_EQ(value(X), 1);
    EXPECT_EQ(cursor_name(cm_of(CM2)->window), "default") << "IGDIALOG gives the newest form its cursor back";
}

TEST_F(WidgetsTest, IgdialogAnswersTheIndexOfTheProgramsAnswers)
{
    struct Case {
        int answer, expected;
    } cases[] = {{0, 0}, {2, 2}, {DIALOG_CLOSE, -1}, {DIALOG_DESTROY, -1}};
    for (const Case &c : cases) {
        DialogScript script({c.answer});
        const Outcome o = form(str("Carry on?") + str("Yes") + num("2.5") + str("No") + fn(in_IGDIALOG, 4) + set(X));
        ASSERT_EQ(o.abort, "");
        EXPECT_EQ(value(X), c.expected) << c.answer;
        ASSERT_EQ(script.asked().size(), 1u);
        const DialogRequest &r = script.asked()[0];
        EXPECT_EQ(r.caller, "gdialog");
        EXPECT_EQ(r.text, "Carry on?");
        EXPECT_EQ(r.buttons, (std::vector<std::string>{"Yes", "2.5", "No"}));
        EXPECT_EQ(r.style, "");
        EXPECT_TRUE(std::regex_match(r.heading, std::regex(R"(\d+-main:)"))) << r.heading;
    }
    EXPECT_EQ(form(str("Carry on?") + fn(in_IGDIALOG, 1) + set(X)).abort, "Invalid number of parameters");
    // The run-time's own two-button question.
    DialogScript script({1, DIALOG_CLOSE});
    EXPECT_EQ(Mgdialog("Do you want to discard your changes?", "_Yes", "_No"), 1);
    EXPECT_EQ(Mgdialog("Do you want to discard your changes?", "_Yes", "_No"), -1);
    EXPECT_EQ(script.asked()[0].caller, "Mgdialog");
}

TEST_F(WidgetsTest, DialogsInsideATransactionAreReported)
{
    const OpenTransaction transaction;
    DialogScript script({0, 0, 0});
    lumba_test::mail_reports().clear();
    const Outcome o = form(str("Sure?") + str("Yes") + fn(in_IGDIALOG, 2) + set(X) + str("Saved") + st(in_IGMESSAGE, 1) +
                           str("Saved") + str("I") + num(0L) + st(in_IGMESSAGE, 3));
    ASSERT_EQ(o.abort, "");
    std::vector<std::string> reports;
    for (const auto &r : lumba_test::mail_reports())
        if (r.debug) reports.push_back(r.text.substr(0, r.text.find('\n')));
    ASSERT_EQ(reports.size(), 2u) << "the third argument silences IGMESSAGE's report";
    EXPECT_NE(reports[0].find("IGDIALOG is called within a PgSQL transaction!"), std::string::npos) << reports[0];
    EXPECT_NE(reports[1].find("IGMESSAGE is called within a PgSQL transaction!"), std::string::npos) << reports[1];
    EXPECT_EQ(script.asked().size(), 3u) << "the dialogs were shown all the same";
}

TEST_F(WidgetsTest, OtherWindowsGoOnWhileADialogWaits)
{
    // A window whose label a 100 ms timer rewrites, as a clock on another form would.
    GtkWidget *window = gtk_window_new();
    GtkWidget *label = gtk_label_new("tick 0");
    gtk_window_set_child(GTK_WINDOW(window), label);
    gtk_window_set_default_size(GTK_WINDOW(window), 200, 60);
    gtk_window_present(GTK_WINDOW(window));
    ASSERT_TRUE(lumba_test::wait_drawn(label));
    static int ticks;
    ticks = 0;
    const guint timer = g_timeout_add(100, [](gpointer l) -> gboolean {
        gtk_label_set_text(GTK_LABEL(l), ("tick " + std::to_string(++ticks)).c_str());
        return G_SOURCE_CONTINUE;
    }, label);
    // Snapshots taken by the main loop while the dialog waits: one, and another once the timer has
    // ticked twice more (or the wait is given up); then the dialog is closed.
    struct Seen {
        GtkWidget *label;
        lumba_test::Snapshot first, second;
        int ticks_first = -1, ticks_second = 0;
        gint64 give_up = g_get_monotonic_time() + gint64{lumba_test::scaled_ms(lumba_test::WAIT_MS)} * 1000;
    } seen{label, {}, {}};
    DialogScript script({DIALOG_LEAVE});
    script.on_shown = [&](const DialogRequest &) {
        g_timeout_add(10, [](gpointer s) -> gboolean {
            auto *seen = static_cast<Seen *>(s);
            if (seen->ticks_first < 0) {
                seen->first = lumba_test::snapshot(seen->label);
                seen->ticks_first = ticks;
                return G_SOURCE_CONTINUE;
            }
            if (ticks < seen->ticks_first + 2 && g_get_monotonic_time() < seen->give_up) return G_SOURCE_CONTINUE;
            seen->second = lumba_test::snapshot(seen->label);
            seen->ticks_second = ticks;
            for (GtkWindow *w : toplevels())
                if (gtk_widget_has_css_class(GTK_WIDGET(w), "info")) gtk_window_close(w);
            return G_SOURCE_REMOVE;
        }, &seen);
    };
    EXPECT_EQ(gmessage_ask("Waiting", "I"), -1) << "closed unanswered";
    g_source_remove(timer);
    ASSERT_FALSE(seen.first.empty());
    ASSERT_FALSE(seen.second.empty());
    EXPECT_GE(seen.ticks_second, seen.ticks_first + 2) << "the timer kept running";
    EXPECT_FALSE(seen.first == seen.second) << "the other window was redrawn while the dialog waited";
}

TEST_F(WidgetsTest, FormWithBoxesGridAndDialogOnScreen)
{
    // A form: a title row of two labels in a horizontal box, a 3 x 2 grid of labels under it with a
    // separator, then a question over it. Snapshots of both windows, side by side, go to
    // $LUMBA_SNAPSHOT_DIR/form_and_dialog.png when that is set (to look at).
    std::string grid = val(Y) + num(3) + num(2) + num(1) + num(0L) + fn(in_IGTABLE_NEW, 5) + set(Z);
    const char *cells[] = {"Widget", "3 x 12.50", "Gadget", "2 x 7.25", "Total", "51.00"};
    for (int i = 0; i < 6; ++i)
        grid += str(cells[i]) + fn(in_IGLABEL_SIMPLE_NEW, 1) + set(L) + val(Z) + val(L) + num(i % 2) + num(i % 2 + 1) +
                num(i / 2) + num(i / 2 + 1) + num(5) + num(5) + num(6) + num(4) + st(in_IGTABLE_ATTACH, 10);
    const std::string pack_label = val(E) + val(L) + num(0L) + num(0L) + num(8) + num(8) + num(0L) + num(0L) + num(0L) +
                                   st(in_IGHBOX_PACK, 9);
    const std::string body = window_of("p", W) + attach(CM, W) + val(W) + str("Invoice 1042") + st(in_IGPRINT_TITLE, 2) +
                             val(W) + fn(in_IGVBOX_NEW, 1) + set(Y) + val(Y) + num(0L) + fn(in_IGHBOX_NEW, 2) + set(E) +
                             str("Invoice 1042") + fn(in_IGLABEL_SIMPLE_NEW, 1) + set(L) + pack_label +
                             str("Customer: Smith Ltd") + fn(in_IGLABEL_SIMPLE_NEW, 1) + set(L) + pack_label +
                             fn(in_IGHSEPARATOR_NEW, 0) + set(D) + val(Y) + val(D) + num(0L) + num(0L) + num(0L) +
                             num(4) + num(0L) + num(1) + num(0L) + st(in_IGHBOX_PACK, 9) + grid + str("Post the invoice?") +
                             str("Later") + str("Post") + fn(in_IGDIALOG, 3) + set(X);
    DialogScript script({1});
    lumba_test::Snapshot form_picture, dialog_picture;
    script.on_shown = [&](const DialogRequest &r) {
        form_picture = drawn(reinterpret_cast<GtkWidget *>(handle(W)));
        dialog_picture = drawn(GTK_WIDGET(r.dialog));
    };
    ASSERT_EQ(form(body).abort, "");
    EXPECT_EQ(value(X), 1);
    ASSERT_FALSE(form_picture.empty());
    ASSERT_FALSE(dialog_picture.empty());
    EXPECT_GT(form_picture.dark_pixels(), 500) << "the labels are drawn";
    EXPECT_GT(dialog_picture.dark_pixels(), 200) << "the question and its buttons are drawn";
    if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR")) {
        const auto both = lumba_test::Snapshot::side_by_side({form_picture, dialog_picture});
        EXPECT_TRUE(both.save_png(std::string(dir) + "/form_and_dialog.png"));
    }
}
