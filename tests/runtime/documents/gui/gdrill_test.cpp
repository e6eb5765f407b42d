// The drill-down report viewer in-process on a private X server: IGDRILL_SETUP over a report a
// program wrote through its print handle (its argument checks, the window and its rows), the
// reading of a row's mark-up, the row to select, the keys and the value the forms engine asks for.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ccallback.h"
#include "cevents.h"
#include "ckeys.h"
#include "forms_fixture.h"
#include "routine_fixture.h"
#include "gdrill.h"
#include "gui_env.h"
#include "gwindow.h"
#include "run_time.h"
#include "softkeys.h"
#include "snapshot.h"
#include "xdotool.h"

using namespace forms_test;
using lumba_test::abort_text;

namespace {

const auto *gui = lumba_test::add_gui_environment();

const char *const TAGS = R"(// the drill tests' style tags
mtag_base { print-family: Helvetica; print-size: 10pt; screen-family: Helvetica; screen-size: 10pt; }
mtag_head { print-size: 14pt; print-weight: bold; screen-size: 14pt; screen-weight: bold; }
mtag_amount { print-align: decimal; screen-align: decimal; screen-neg-colour: #ff0000; screen-bg-colour: #ffff00; }
mtag_rule { line-type: single; line-style: solid; }
mtag_note { note-type: extended; }
mtag_wrap { multi-line-wrap-width: 3cm; screen-family: Times-Roman; screen-size: 10pt; }
)";

// The drill tests' site: the style tags above and the soft keys, and a scratch directory.
void prepare_drill_site(std::string &scratch)
{
    std::ofstream(std::string(PPATH_ROOT) + "/conf/tags", std::ios::binary | std::ios::trunc) << TAGS;
    ASSERT_GT(LoadKeySets(PPATH_ROOT "/conf/softkeys"), 0);
    char dir[] = "/tmp/gdrill.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    scratch = dir;
}

// One line of the report: a heading (level 0) when heading is set.
struct Line {
    std::string text, format, value;
    bool heading = false;
};

// The arguments of IGDRILL_SETUP after the handle and the control matrix.
struct DrillArgs {
    std::string title = "Report", initial = "", key_set = "FKZ", layout = "";
    int non_alphabetical = 0, initial_focus = 0;
    std::string handle;  // a fragment pushing the handle; the report's own when empty
    std::string drill_attachments;  // made before: the drill's CM (CM2) with these attachments
};

class DrillTest : public FormsTest {
protected:
    void SetUp() override
    {
        FormsTest::SetUp();
        prepare_drill_site(scratch);
    }
    void TearDown() override
    {
        FormsTest::TearDown();
        std::filesystem::remove_all(scratch);
    }

    // A parent form whose print handle (in R) holds the report, then IGDRILL_SETUP over it.
    Outcome drill(const std::vector<Line> &lines, const DrillArgs &s = {}, const std::string &parent_extra = "",
                  const std::string &routines = standard_routines)
    {
        std::string body = window_of("k", W) + attach(CM, W) + parent_extra + val(CM) + ref(R) + st(in_IPSCREATE, 2);
        // Each run writes a buffer of its own: the handles of earlier runs still hold theirs.
        body += str(scratch + "/report" + std::to_string(++runs)) + str("A4") + str("") + str("mtag_base") + str("C") + str("N") + val(R) +
                ref(X) + st(in_IPSOPEN, 8);
        for (const Line &l : lines)
            if (l.heading)
                body += val(R) + str(l.text) + str(l.format) + num(0L) + num(0L) + num(0L) + num(0L) + num(0L) +
                        ref(X) + st(in_IPSHEADER, 9);
            else
                body += val(R) + str(l.text) + str(l.format) + str(l.value) + ref(X) + st(in_IPSWRITE, 5);
        body += val(R) + ref(X) + st(in_IPSCLOSE, 2);
        if (!s.drill_attachments.empty())
            body += ref(CM2) + num(0L) + st(in_ICATTACH_WINDOW, 2) + s.drill_attachments;
        body += (s.handle.empty() ? val(R) : s.handle) + (s.drill_attachments.empty() ? num(0L) : val(CM2)) + str(s.title) + str("") + str(s.initial) +
                str(s.key_set) + str(s.layout) + num(s.non_alphabetical) + num(s.initial_focus) +
                st(in_IGDRILL_SETUP, 9);
        return form(body, routines);
    }

    ControlMatrix_t *drill_cm() const { return record.last_cm; }
    GtkListView *list_view() const
    {
        GtkWidget *box = gtk_window_get_child(GTK_WINDOW(drill_cm()->window));
        GtkWidget *scrolled = gtk_widget_get_first_child(box);
        return GTK_LIST_VIEW(gtk_scrolled_window_get_child(GTK_SCROLLED_WINDOW(scrolled)));
    }
    GtkSingleSelection *selection() const { return GTK_SINGLE_SELECTION(gtk_list_view_get_model(list_view())); }
    guint selected() const { return gtk_single_selection_get_selected(selection()); }
    std::string value_at(guint position) const
    {
        auto *row = static_cast<GdrillRow *>(g_list_model_get_item(G_LIST_MODEL(selection()), position));
        std::string value = row ? row->value : "?";
        if (row) g_object_unref(row);
        return value;
    }
    void key(guint keyval) { callback_handle_drill_key_press(nullptr, keyval, 0, GdkModifierType(0), list_view()); }

    std::string scratch;
    int runs = 0;
};

const std::vector<Line> report = {
    {"Customer balances", "1,,,,mtag_head", "", true},
    {"A10  Alpha", "1,3,2.0,,mtag_base", "A10"},
    {"V10  Victor", "1,3,2.0,,mtag_base", "V10"},
    {"Z10  Zulu", "1,3,2.0,,mtag_base", "Z10"},
};

// ---- IGDRILL_SETUP's arguments ------------------------------------------------------------------------

TEST_F(DrillTest, SetupArgumentsAreChecked)
{
    struct Case {
        int non_alphabetical, initial_focus;
        const char *layout;
        const char *stop;
    } cases[] = {
        {0, 2, "", "Initial focus flag invalid 2"},
        {2, 0, "", "Return list non-alphabetical flag invalid 2"},
        {1, 1, "", "Initial cursor position flag must be false when Return list non-alphabetical flag is true"},
        {0, 0, "a5", "Page Layout 'a5' is incorrect, should be either a4,a4p,a4l,a3,a3p,a3l"},
        {0, 0, "", ""},
        {0, 0, "A4L", ""},
        {1, 0, "a3p", ""},
    };
    for (const Case &c : cases) {
        DrillArgs s;
        s.non_alphabetical = c.non_alphabetical;
        s.initial_focus = c.initial_focus;
        s.layout = c.layout;
        EXPECT_EQ(drill(report, s).abort, c.stop) << c.layout << c.non_alphabetical << c.initial_focus;
        if (!*c.stop) {
            EXPECT_EQ(gdrill_landscape, std::string(c.layout) == "A4L" ? 1 : 0) << c.layout;
            EXPECT_EQ(drill_cm()->type, CM_WT_DRILL);
        }
    }
}

TEST_F(DrillTest, HandlesAreChecked)
{
    DrillArgs none;
    none.handle = num(0L);
    EXPECT_EQ(drill(report, none).abort, "Print Handle must not be NULL");
    int stray = 0;
    DrillArgs stray_handle;
    stray_handle.handle = number(&stray);
    EXPECT_EQ(drill(report, stray_handle).abort, "Invalid Print Handle");
}

// A line format the print state refuses stops the drill with its text: one it reads, one it rescales.
TEST_F(DrillTest, FaultyFormatsStop)
{
    EXPECT_EQ(drill({{"A10  Alpha", "1,3,,,mtag_base;2,3,,,mtag_head", "A10"}}).abort,
              "igdrill: Style Tag 'mtag_head' spans source text positions of multiple prior tags");
    // White space counts in the rescaled item, not in the one read.
    EXPECT_EQ(drill({{"A10  Alpha", "1,3,1" + std::string(28, ' ') + ",,mtag_base", "A10"}}).abort,
              "Buffer overflow in psprint_drill_conv_field");
}

TEST_F(DrillTest, RetiredIntrinsicStops)
{
    EXPECT_EQ(form(num(0L) + num(0L) + st(in_IGDRILL, 2)).abort, "This procedure is no longer in use");
}

// ---- The window ----------------------------------------------------------------------------------------

TEST_F(DrillTest, WindowShowsTheReport)
{
    record.oae_app_width = 1600;
    DrillArgs s;
    s.initial = "V10";
    ASSERT_EQ(drill(report, s).abort, "");
    EXPECT_FLOAT_EQ(gdrill_factor, 1.25f);
    int width = 0, height = 0;
    gtk_window_get_default_size(GTK_WINDOW(drill_cm()->window), &width, &height);
    EXPECT_EQ(width, 1268);
    EXPECT_EQ(height, 850);
    EXPECT_EQ(drill_cm()->geometry_tracked, 1);
    EXPECT_STREQ(gtk_widget_get_name(GTK_WIDGET(list_view())), "gDrillFixedFont");
    ASSERT_EQ(g_list_model_get_n_items(G_LIST_MODEL(selection())), 4u);
    EXPECT_EQ(value_at(0), "");
    EXPECT_EQ(value_at(selected()), "V10");
    // The forms engine asks through the window kind's row, for the function-key routines.
    char *ip = window_kind(CM_WT_DRILL).value(drill_cm());
    EXPECT_STREQ(ip, "V10");
    g_free(ip);
    ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_get_mapped(GTK_WIDGET(list_view())); }));
    lumba_test::drain();
    if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR"); dir && *dir)
        lumba_test::snapshot(drill_cm()->window).save_png(std::string(dir) + "/gdrill-portrait.png");
}

// A report with headings, amounts (one negative, in red), a rule and a text wrapped over lines;
// with LUMBA_SNAPSHOT_DIR set its window is saved in portrait and landscape for a look.
TEST_F(DrillTest, ReportWithAmountsAndRules)
{
    const std::vector<Line> lines = {
        {"Stock valuation", "1,,,,mtag_head", "", true},
        {"Item      Amount", "1,4,2.0,,mtag_base;11,6,12.0,,mtag_base", "", true},
        {"Bolts     1,234.50", "1,5,2.0,,mtag_base;11,8,12.0,,mtag_amount", "B1"},
        {"Nuts      17-", "1,4,2.0,,mtag_base;11,3,12.0,,mtag_amount", "N1"},
        {"Washers with a long description that wraps", "1,,2.0,,mtag_wrap", "W1"},
        {"-", "1,1,2.0,10.0,mtag_rule", ""},
        {"Total     1,217.50", "1,5,2.0,,mtag_base;11,8,12.0,,mtag_amount", "T1"},
    };
    for (const char *layout : {"a4", "a4l"}) {
        DrillArgs s;
        s.layout = layout;
        s.initial = "N1";
        ASSERT_EQ(drill(lines, s).abort, "") << layout;
        EXPECT_EQ(value_at(selected()), "N1");
        EXPECT_GE(g_list_model_get_n_items(G_LIST_MODEL(selection())), 7u);
        ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_get_mapped(GTK_WIDGET(list_view())); }));
        lumba_test::drain();
        if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR"); dir && *dir)
            lumba_test::snapshot(drill_cm()->window).save_png(std::string(dir) + "/gdrill-" + layout + ".png");
    }
}

// Routine 4: Get_Note (cm, ind, IP, IP$) gives "Remark for <IP$>", a blank line and "second line".
const std::string getnote_routine =
    standard_routines + ".sfunc r:getnote I:0 I:0 I:0 I:0 I:0 I:4\n" + str("Remark for ") +
    "loadsvi I:3 I:0 I:1 I:0 I:0 I:0\n" + lumba_test::sfn(in_STRIP, 1) + str("\\n\\nsecond line") + "scat I:3\nexitv\n" +
    "symtab\n__ROUTINE__ getnote 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\n"
    "IP$ 40 0 0x8014 0 4 -\n__END_ROUTINE__\n.end\n";

// A note's further lines are rows of their own under its line, with its value; the cursor still
// lands on the line the initial string names, not on a row the note pushed into its place.
TEST_F(DrillTest, NoteLinesAreRowsOfTheirOwn)
{
    const std::string get_note = str("Get_Note") + num(4L) + val(CM) + num(0L) + ref(IP) + sref(IPS) + st(in_ICATTACH_FUN, 6);
    DrillArgs s;
    s.initial = "W1";
    ASSERT_EQ(drill({{"See N1", "1,4,2;5,,6,,mtag_note", "N1"}, {"Washers", "1,,2,,mtag_base", "W1"}}, s, get_note,
                    getnote_routine)
                  .abort,
              "");
    const guint rows = g_list_model_get_n_items(G_LIST_MODEL(selection()));
    ASSERT_GE(rows, 3u);
    EXPECT_EQ(value_at(0), "N1");
    for (guint r = 1; r + 1 < rows; ++r) EXPECT_EQ(value_at(r), "N1") << r;
    EXPECT_EQ(value_at(rows - 1), "W1");
    EXPECT_EQ(selected(), rows - 1);
}

// Routine 4: a drill Post (cm, ind, IP, IP$) that asks for its parent's Drill_Post and answers 1.
const std::string drill_poster_routine =
    standard_routines + ".nfunc r:dposter I:0 I:0 I:0 I:0 I:0 I:4\n" + lumba_test::param(0) +
    st(in_ICINVOKE_DRILL_POST, 1) + num(1L) + "exitv\n" +
    "symtab\n__ROUTINE__ dposter 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\n"
    "IP$ 40 0 0x8014 0 4 -\n__END_ROUTINE__\n.end\n";

TEST_F(DrillTest, APostThatAsksForTheParentsDrillPostEnds)
{
    DrillArgs s;
    s.initial = "V10";
    s.drill_attachments = str("Post_Focus") + num(4L) + val(CM2) + num(0L) + ref(IP) + sref(IPS) + st(in_ICATTACH_FUN, 6);
    ASSERT_EQ(drill(report, s, "", drill_poster_routine).abort, "");
    GtkListView *view = list_view();
    EXPECT_EQ(abort_text([&] {
                  gdrill_row_activated_event(view, selected(), nullptr);
                  forms_rethrow_kept();
              }),
              "May only run icinvoke_drill_post in the Drill_Post function, and not in the Post function. Note that "
              "icinvoke_drill_post invokes the Drill_Post of the parent, from the Drill_Post of the child.");
}

TEST_F(DrillTest, EmptyReportShowsALabel)
{
    ASSERT_EQ(drill({{"Only a heading", "1,,,,mtag_head", "", true}}).abort, "");
    ASSERT_EQ(drill({}).abort, "");
    EXPECT_EQ(drill_cm()->type, CM_WT_WINDOW);
    GtkWidget *box = gtk_window_get_child(GTK_WINDOW(drill_cm()->window));
    GtkWidget *shown = gtk_scrolled_window_get_child(GTK_SCROLLED_WINDOW(gtk_widget_get_first_child(box)));
    if (GTK_IS_VIEWPORT(shown)) shown = gtk_viewport_get_child(GTK_VIEWPORT(shown));
    ASSERT_TRUE(GTK_IS_LABEL(shown));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(shown)), "No data provided to the Drill window");
}

TEST_F(DrillTest, KeysMoveBetweenRowsWithValues)
{
    std::vector<Line> lines = report;
    lines.insert(lines.begin() + 3, {"-- sub heading --", "1,,,,mtag_head", "", true});
    ASSERT_EQ(drill(lines).abort, "");
    // Rows: heading, A10, V10, sub heading, Z10.
    EXPECT_EQ(selected(), 1u);
    struct Step {
        guint keyval;
        guint row;
    } steps[] = {{GDK_KEY_End, 4},  {GDK_KEY_Up, 2},      {GDK_KEY_KP_Up, 1}, {GDK_KEY_Up, 1},
                 {GDK_KEY_Down, 2}, {GDK_KEY_KP_Down, 4}, {GDK_KEY_Down, 4},  {GDK_KEY_KP_Home, 1},
                 {GDK_KEY_KP_End, 4}, {GDK_KEY_Home, 1}};
    for (const Step &s : steps) {
        key(s.keyval);
        EXPECT_EQ(selected(), s.row) << gdk_keyval_name(s.keyval);
    }
    EXPECT_FALSE(callback_handle_drill_key_press(nullptr, GDK_KEY_a, 0, GdkModifierType(0), list_view()));
}

// Up onto the first row with a value brings the headings above it back into view.
TEST_F(DrillTest, UpOntoTheFirstValueShowsTheHeadings)
{
    std::vector<Line> lines;
    for (int h = 0; h < 6; ++h) lines.push_back({"Heading line " + std::to_string(h), "1,,,,mtag_head", "", true});
    for (int r = 0; r < 80; ++r) lines.push_back({"Line " + std::to_string(r), "1,,2.0,,mtag_base", "L" + std::to_string(r)});
    DrillArgs s;
    s.initial = "L3";
    ASSERT_EQ(drill(lines, s).abort, "");
    ASSERT_TRUE(lumba_test::wait_drawn(GTK_WIDGET(list_view())));
    GtkAdjustment *v = gtk_scrolled_window_get_vadjustment(
        GTK_SCROLLED_WINDOW(gtk_widget_get_parent(GTK_WIDGET(list_view()))));
    lumba_test::drain();
    // A little way down, less than half a page (the list laid out: it scrolls that far).
    gtk_adjustment_set_value(v, 40);
    ASSERT_EQ(gtk_adjustment_get_value(v), 40);
    lumba_test::drain();
    for (int i = 0; i < 3; ++i) key(GDK_KEY_Up);
    EXPECT_EQ(value_at(selected()), "L0");
    EXPECT_TRUE(lumba_test::wait_until([&] {
        lumba_test::drain();
        return gtk_adjustment_get_value(v) == 0;
    })) << gtk_adjustment_get_value(v);
}

// The same keys typed on the window: the window's own capture-phase controller takes them.
TEST_F(DrillTest, KeysTypedOnTheWindow)
{
    std::vector<Line> lines = report;
    lines.insert(lines.begin() + 3, {"-- sub heading --", "1,,,,mtag_head", "", true});
    ASSERT_EQ(drill(lines).abort, "");
    ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_get_mapped(GTK_WIDGET(list_view())); }));
    const lumba_test::Xdotool user(lumba_test::gui_display());
    user.focus(lumba_test::x_window_id(drill_cm()->window));
    struct Step {
        const char *key;
        guint row;
    } steps[] = {{"End", 4}, {"Home", 1}, {"Down", 2}, {"Down", 4}, {"Up", 2}};
    for (const Step &s : steps) {
        user.key({s.key});
        EXPECT_TRUE(lumba_test::wait_until([&] { return selected() == s.row; })) << s.key << " left " << selected();
    }
}

TEST_F(DrillTest, OnlyHeadingsSelectTheLastLineAndKeysKeepIt)
{
    ASSERT_EQ(drill({{"First", "1,,,,mtag_head", "", true}, {"Second", "", "", false}, {"Third", "", "", false}}).abort, "");
    EXPECT_EQ(selected(), 2u);
    for (guint k : {GDK_KEY_Home, GDK_KEY_End, GDK_KEY_Up, GDK_KEY_Down}) {
        key(k);
        EXPECT_EQ(selected(), 2u) << gdk_keyval_name(k);
    }
}

// ---- Choosing a row ----------------------------------------------------------------------------------------

using routine_test::PROBE;

// A parent form (CM) whose print handle holds the report and a drill CM (CM2) made in advance,
// with the routines of the routine fixture attached to both, then IGDRILL_SETUP completing CM2.
class DrillChoosingTest : public RoutineTest {
protected:
    void SetUp() override
    {
        RoutineTest::SetUp();
        prepare_drill_site(scratch);
    }
    void TearDown() override
    {
        RoutineTest::TearDown();
        std::filesystem::remove_all(scratch);
    }
    // With fields, the parent is a window of two buttons (fields 1 and 2) under a window of its own
    // whose Drill_Post is the probe.
    Outcome open(const std::string &drill_attachments, const std::string &parent_attachments,
                 const std::string &extra_routines = "", bool fields = false)
    {
        cmat_free_all();
        std::string t;
        if (fields) {
            const routine_test::Window w = routine_test::make_window(2);
            t = window_of("k", Y) + attach(Z, Y) + routine_test::attach(Z, "Drill_Post", PROBE, 0) + ref(CM) +
                number(w.window) + st(in_ICATTACH_WINDOW, 2) +
                routine_test::add(CM, "F1", w.buttons[0], WIDGET_BUTTON, TAB_STANDARD) +
                routine_test::add(CM, "F2", w.buttons[1], WIDGET_BUTTON, TAB_STANDARD);
        } else {
            t = window_of("k", W) + attach(CM, W);
        }
        t += parent_attachments + val(CM) + ref(R) +
                        st(in_IPSCREATE, 2) + str(scratch + "/report" + std::to_string(++runs)) + str("A4") + str("") +
                        str("mtag_base") + str("C") + str("N") + val(R) + ref(X) + st(in_IPSOPEN, 8);
        for (const Line &l : report)
            if (!l.heading) t += val(R) + str(l.text) + str(l.format) + str(l.value) + ref(X) + st(in_IPSWRITE, 5);
        t += val(R) + ref(X) + st(in_IPSCLOSE, 2);
        // The handle is kept in E2: ICADD, for fields of the drill's, leaves its result in R.
        t += val(R) + set(E2) + ref(CM2) + num(0L) + st(in_ICATTACH_WINDOW, 2) + drill_attachments;
        t += val(E2) + val(CM2) + str("Report") + str("") + str("V10") + str("FKZ") + str("") + num(0L) + num(0L) +
             st(in_IGDRILL_SETUP, 9);
        return form(routine_test::common + t, routine_test::routines + extra_routines);
    }
    GtkListView *view() const
    {
        GtkWidget *box = gtk_window_get_child(GTK_WINDOW(cm_of(CM2)->window));
        return GTK_LIST_VIEW(gtk_scrolled_window_get_child(GTK_SCROLLED_WINDOW(gtk_widget_get_first_child(box))));
    }
    // Activates the selected row as Enter does; the abort text, and the IMLOG lines.
    std::string choose(std::vector<std::string> *lines)
    {
        GtkListView *list = view();
        const guint position = gtk_single_selection_get_selected(GTK_SINGLE_SELECTION(gtk_list_view_get_model(list)));
        return logged(
            [&] {
                gdrill_row_activated_event(list, position, nullptr);
                forms_rethrow_kept();
            },
            lines);
    }
    bool drill_open() const { return cm_chain_position(drill) != 0; }
    static Application_t *application_of(const Interp_t *c)
    {
        for (Application_t *ap = applications; ap; ap = ap->next)
            if (ap->app && ap->app->interp == c) return ap;
        return nullptr;
    }

    std::string scratch;
    int runs = 0;
    ControlMatrix_t *drill = nullptr;
};

TEST_F(DrillChoosingTest, TheRowsValueGoesThroughTheDrillsPostToTheParentsDrillPost)
{
    struct Case {
        const char *what;
        long answer;
        std::vector<std::string> logged;
        bool stays;
    } cases[] = {
        {"Post false: the drill stays", 0, {"probe 0 -1 [V10]"}, true},
        {"Post true: the drill closes and the parent's Drill_Post gets the value", 1,
         {"probe 0 -1 [V10]", "probe 0 -1 [V10]"}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(open(routine_test::attach(CM2, "Post_Focus", PROBE, 0), routine_test::attach(CM, "Drill_Post", PROBE, 0))
                      .abort,
                  "");
        drill = cm_of(CM2);
        set_cell(0, c.answer);
        std::vector<std::string> lines;
        EXPECT_EQ(choose(&lines), "");
        EXPECT_EQ(lines, c.logged);
        EXPECT_EQ(drill_open(), c.stays);
    }
}

// Routines after the routine fixture's (cm, ind, IP, IP$), each answering cell 0 unless said:
// DPOSTER asks for its parent's Drill_Post (ICINVOKE_DRILL_POST); OPENER opens a window of its
// own, its control matrix made into IP (cleared first); OPENING_DPOSTER does both. WIN_POSTER,
// ZOOM_POSTER and DRILL_POSTER ask for their parent's Win_Post, Zoom_Post and Drill_Post and
// answer 1, so that their window closes.
enum { DPOSTER = routine_test::FOCUSER + 1, OPENER, OPENING_DPOSTER, WIN_POSTER, ZOOM_POSTER, DRILL_POSTER };
std::string choosing_routine(const char *name, const std::string &body,
                             const std::string &answer = lumba_test::from_cell(0))
{
    return std::string(".nfunc r:") + name + " I:0 I:0 I:0 I:0 I:0 I:4\n" + body + answer + "exitv\n";
}
std::string choosing_symbols(const char *name)
{
    return std::string("symtab\n__ROUTINE__ ") + name +
           " 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\nIP$ 40 0 0x8014 0 4 -\n"
           "__END_ROUTINE__\n.end\n";
}
const std::string opening = num(0L) + "storri I:2 I:0 I:1 I:0 I:0 I:0\nloadrai I:2 I:0 I:1 I:0 I:0 I:0\n" +
                            str("a") + fn(in_IGWIN_NEW, 1) + st(in_ICATTACH_WINDOW, 2);
const std::string choosing_routines =
    choosing_routine("dposter", lumba_test::param(0) + st(in_ICINVOKE_DRILL_POST, 1)) +
    choosing_routine("opener", opening) +
    choosing_routine("odposter", opening + lumba_test::param(0) + st(in_ICINVOKE_DRILL_POST, 1)) +
    choosing_routine("wposter", lumba_test::param(0) + st(in_ICINVOKE_WIN_POST, 1), num(1L)) +
    choosing_routine("zposter", lumba_test::param(0) + st(in_ICINVOKE_ZOOM_POST, 1), num(1L)) +
    choosing_routine("drposter", lumba_test::param(0) + st(in_ICINVOKE_DRILL_POST, 1), num(1L)) +
    choosing_symbols("dposter") + choosing_symbols("opener") + choosing_symbols("odposter") +
    choosing_symbols("wposter") + choosing_symbols("zposter") + choosing_symbols("drposter");

// What the drill's Post and the parent's routines may do after a row is chosen: each road's
// check, the parent's Pre_Focus when it has no Drill_Post, and the windows left open.
TEST_F(DrillChoosingTest, TheRoutinesAfterAChoiceAreChecked)
{
    using routine_test::attach;
    using routine_test::CLEARER;
    using routine_test::FOCUSER;
    // Fields for a drill whose Post moves the focus to its field 2.
    const routine_test::Window fields = routine_test::make_window(2);
    struct Case {
        const char *what;
        std::string drill_post, parent;
        int return_focus;
        long answer;
        const char *stop;
        std::vector<std::string> logged;
        bool drill_stays, parent_stays;
    } cases[] = {
        {"no Drill_Post: the parent's Pre_Focus of its return field", attach(CM2, "Post_Focus", PROBE, 0),
         attach(CM, "Pre_Focus", PROBE, 1), 1, 1, "", {"probe 0 -1 [V10]", "probe 1 -1 [V10]"}, false, true},
        {"no Drill_Post and no return field: nothing more", attach(CM2, "Post_Focus", PROBE, 0),
         attach(CM, "Pre_Focus", PROBE, 1), 0, 1, "", {"probe 0 -1 [V10]"}, false, true},
        {"a Post that sets the focus",
         attach(CM2, "Post_Focus", FOCUSER, 0) +
             routine_test::add(CM2, "F1", fields.buttons[0], WIDGET_BUTTON, TAB_STANDARD) +
             routine_test::add(CM2, "F2", fields.buttons[1], WIDGET_BUTTON, TAB_STANDARD),
         "", 0, 1, "Not permitted to set focus from the Post on a Drill", {}, true, true},
        {"a Post that opens a window and answers true", attach(CM2, "Post_Focus", OPENER, 0), "", 0, 1,
         "Must return false from the 'Post' function to a Drill when creating a window", {}, true, true},
        {"a Drill_Post that asks for its own parent's and answers false", attach(CM2, "Post_Focus", CLEARER, 0),
         attach(CM, "Drill_Post", DPOSTER, 0), 0, 0,
         "Must return true from the 'Drill_Post' when calling icinvoke_drill_post", {"clear 0 [V10]"}, false, true},
        {"a Drill_Post that asks for its own parent's and answers true: the parent closes, its parent's Drill_Post runs",
         attach(CM2, "Post_Focus", CLEARER, 0), attach(CM, "Drill_Post", DPOSTER, 0), 0, 1, "",
         {"clear 0 [V10]", "probe 0 -1 []"}, false, false},
        {"a Drill_Post that sets the focus", attach(CM2, "Post_Focus", CLEARER, 0), attach(CM, "Drill_Post", FOCUSER, 0),
         0, 1, "Not permitted to change focus from a function attached with the Drill_Post Action Code",
         {"clear 0 [V10]"}, false, true},
        {"a Pre_Focus that asks for the parent's Drill_Post", attach(CM2, "Post_Focus", CLEARER, 0),
         attach(CM, "Pre_Focus", DPOSTER, 1), 1, 1, "Not permitted to call icinvoke_drill_post from the 'Pre' function",
         {"clear 0 [V10]"}, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(open(c.drill_post, c.parent, choosing_routines, true).abort, "");
        drill = cm_of(CM2);
        ControlMatrix_t *parent = cm_of(CM);
        parent->return_focus = c.return_focus;
        set_cell(0, c.answer);
        std::vector<std::string> lines;
        EXPECT_EQ(choose(&lines), c.stop);
        EXPECT_EQ(lines, c.logged);
        if (*c.stop) continue;
        EXPECT_EQ(drill_open(), c.drill_stays);
        EXPECT_EQ(cm_chain_position(parent) != 0, c.parent_stays);
    }
}

// When a child window closes, a routine of its parent runs: the drill's parent's Drill_Post (or
// Pre_Focus) after a choice, and the parent's Win_Post, Zoom_Post or Drill_Post when the child's
// Escape routine, or a function key's, asked for one. Opening a window there destroys the closed
// child, and with it the program would be unloaded (a window a program made outside any routine
// takes it along) under the routine still running: it stays loaded, and the routine ends as the
// rules say. A function key's run closes its window itself, and is done with the child's record
// before the parent's routine may free it.
TEST_F(DrillChoosingTest, AParentsRoutineMayOpenAWindowAsItsChildCloses)
{
    using routine_test::attach;
    using routine_test::CLEARER;
    // The first program of a run is never unloaded: these run as one loaded after it, as a menu
    // starts them.
    ASSERT_EQ(program("").abort, "");
    enum Road { CHOICE, CLOSE, KEY };
    struct Case {
        const char *what;
        Road road;  // a row chosen, the child asked to close, or a function key pressed on it
        std::string child, parent;
        int return_focus;
        long answer;
        const char *stop;
        std::vector<std::string> logged;
        guint key = 0;
    } cases[] = {
        {"the drill's parent's Drill_Post opens a window and answers false", CHOICE,
         attach(CM2, "Post_Focus", CLEARER, 0), attach(CM, "Drill_Post", OPENER, 0), 0, 0, "", {"clear 0 [V10]"}},
        {"the drill's parent's Drill_Post opens a window and answers true", CHOICE,
         attach(CM2, "Post_Focus", CLEARER, 0), attach(CM, "Drill_Post", OPENER, 0), 0, 1, "", {"clear 0 [V10]"}},
        {"the drill's parent's Drill_Post opens a window, asks for its own parent's and answers true", CHOICE,
         attach(CM2, "Post_Focus", CLEARER, 0), attach(CM, "Drill_Post", OPENING_DPOSTER, 0), 0, 1,
         "Not permitted to create a window, return true, and call the icinvoke_drill_post from the 'Drill_Post' "
         "function",
         {"clear 0 [V10]"}},
        {"the drill's parent's Pre_Focus opens a window", CHOICE, attach(CM2, "Post_Focus", CLEARER, 0),
         attach(CM, "Pre_Focus", OPENER, 1), 1, 1, "", {"clear 0 [V10]"}},
        {"the parent's Win_Post opens a window and answers false", CLOSE, attach(CM2, "Escape", WIN_POSTER, 0),
         attach(CM, "Win_Post", OPENER, 0), 0, 0, "", {}},
        {"the parent's Win_Post opens a window and answers true", CLOSE, attach(CM2, "Escape", WIN_POSTER, 0),
         attach(CM, "Win_Post", OPENER, 0), 0, 1,
         "Not permitted to create a window when returning true from the Win_Post", {}},
        {"the parent's Zoom_Post opens a window", CLOSE, attach(CM2, "Escape", ZOOM_POSTER, 0),
         attach(CM, "Zoom_Post", OPENER, 0), 0, 0, "", {}},
        {"the parent's Drill_Post opens a window", CLOSE, attach(CM2, "Escape", DRILL_POSTER, 0),
         attach(CM, "Drill_Post", OPENER, 0), 0, 0, "", {}},
        {"F5's routine asks for the parent's Win_Post, which opens a window", KEY, attach(CM2, "F5", WIN_POSTER, 0),
         attach(CM, "Win_Post", OPENER, 0), 0, 0, "", {}, GDK_KEY_F5},
        {"F5's routine asks for the parent's Win_Post, which opens a window and answers true", KEY,
         attach(CM2, "F5", WIN_POSTER, 0), attach(CM, "Win_Post", OPENER, 0), 0, 1,
         "Not permitted to create a window when returning true from the Win_Post", {}, GDK_KEY_F5},
        {"F1's routine asks for the parent's Zoom_Post, which opens a window", KEY, attach(CM2, "F1", ZOOM_POSTER, 0),
         attach(CM, "Zoom_Post", OPENER, 0), 0, 0, "", {}, GDK_KEY_F1},
        {"F3's routine asks for the parent's Drill_Post, which opens a window", KEY, attach(CM2, "F3", DRILL_POSTER, 0),
         attach(CM, "Drill_Post", OPENER, 0), 0, 0, "", {}, GDK_KEY_F3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(open(c.child, c.parent, choosing_routines, true).abort, "");
        drill = cm_of(CM2);
        ControlMatrix_t *parent = cm_of(CM);
        parent->return_focus = c.return_focus;
        Application_t *program = application_of(context);
        ASSERT_NE(program, nullptr);
        ASSERT_NE(program, applications);
        set_cell(0, c.answer);
        std::vector<std::string> lines;
        if (c.road == CHOICE) {
            EXPECT_EQ(choose(&lines), c.stop);
        } else if (c.road == KEY) {
            // The key's handler, and the end of its event, as the key dispatcher runs them.
            GtkWidget *window = drill->window;
            EXPECT_EQ(logged(
                          [&] {
                              if (c.key == GDK_KEY_F5)
                                  on_key_press_f5(window, global_data);
                              else if (c.key == GDK_KEY_F3)
                                  on_key_press_f3(window, c.key, global_data);
                              else
                                  on_key_press_fn(window, c.key, global_data);
                              ccallbacks_finish_event(1, 1);
                          },
                          &lines),
                      c.stop);
        } else {
            // Asked to close, as by its title bar: its Escape routine runs, then the closing rules.
            GtkWindow *window = GTK_WINDOW(drill->window);
            EXPECT_EQ(logged(
                          [&] {
                              on_gwin_new_delete(window, global_data);
                              forms_rethrow_kept();
                          },
                          &lines),
                      c.stop);
        }
        EXPECT_EQ(lines, c.logged);
        // The program is still loaded, and no longer held once its routines have ended.
        ASSERT_EQ(application_of(context), program);
        EXPECT_EQ(program->running, 0);
        EXPECT_EQ(program->busy, 0);
        if (*c.stop) continue;
        // The child has gone (its record may be reused by the window opened), the parent stays
        // with the window its routine opened.
        EXPECT_NE(cm_chain_position(parent), 0);
        ASSERT_NE(parent->next, nullptr);
        EXPECT_EQ(parent->next->next, nullptr);
        EXPECT_EQ(parent->next->type, CM_WT_WINDOW);
        EXPECT_EQ(parent->next->closing, 0);
    }
}

// A program whose main has ended (as one a menu started) lives on in its windows: the drill that
// its main made closing after a choice leaves it loaded while its form, whose routines still
// run, stays open.
TEST_F(DrillChoosingTest, AProgramStaysWhileAWindowOfItStaysOpen)
{
    ASSERT_EQ(program("").abort, "");  // the first program of the run, never unloaded
    ASSERT_EQ(open(routine_test::attach(CM2, "Post_Focus", PROBE, 0), routine_test::attach(CM, "Drill_Post", PROBE, 0))
                  .abort,
              "");
    drill = cm_of(CM2);
    ControlMatrix_t *parent = cm_of(CM);
    Application_t *program = application_of(context);
    ASSERT_NE(program, nullptr);
    ASSERT_NE(program, applications);
    set_cell(0, 1);
    std::vector<std::string> lines;
    EXPECT_EQ(choose(&lines), "");
    EXPECT_EQ(lines, (std::vector<std::string>{"probe 0 -1 [V10]", "probe 0 -1 [V10]"}));
    ASSERT_FALSE(drill_open());
    ASSERT_EQ(application_of(context), program);
    // The form's routine runs again.
    const Call again = invoke(parent, AC_DRILL_POST, 0, "IP$", "B1");
    EXPECT_EQ(again.abort, "");
    EXPECT_EQ(again.logged, std::vector<std::string>{"probe 0 -1 [B1]"});
}

TEST_F(DrillChoosingTest, AnActivationWhileOneIsHandledIsDropped)
{
    ASSERT_EQ(open(routine_test::attach(CM2, "Post_Focus", PROBE, 0), "").abort, "");
    for (int *flag : {&global_data->activate_lock, &global_data->enter_running}) {
        *flag = 1;
        std::vector<std::string> lines;
        EXPECT_EQ(choose(&lines), "");
        EXPECT_TRUE(lines.empty());
        *flag = 0;
    }
    std::vector<std::string> lines;
    set_cell(0, 0);
    EXPECT_EQ(choose(&lines), "");
    EXPECT_EQ(lines, std::vector<std::string>{"probe 0 -1 [V10]"});
}

// ---- Rows and mark-up ------------------------------------------------------------------------------------

TEST(GdrillRows, RowToSelect)
{
    struct Case {
        std::vector<std::string> values;
        const char *initial;
        int non_alphabetical, initial_focus, row;
    } cases[] = {
        {{"A", "", "BA", "Z"}, "B", 0, 0, 2},
        {{"A", "", "BA", "Z"}, "B", 0, 1, 3},
        {{"A", "", "BA", "Z"}, "ZZ", 0, 0, 0},
        {{"Z", "BA", "BX1", "BX"}, "BX", 1, 0, 3},
        {{"Z", "BA", "BX1"}, "BX", 1, 0, 2},
        {{"Z", "BA"}, "Q", 1, 0, 0},
        {{"", "", ""}, "B", 0, 0, -1},
        {{"", "", ""}, "B", 1, 0, -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(gdrill_row_to_select(c.values, c.initial, c.non_alphabetical, c.initial_focus), c.row) << c.initial;
}

TEST(GdrillRows, EmptyMarkup)
{
    EXPECT_TRUE(gdrill_markup_empty("<span font_desc=\"Courier 10\"> > </span>"));
    EXPECT_FALSE(gdrill_markup_empty("<span>x</span>"));
}

TEST(GdrillMarkup, ItemsArePlacedFromTheirStart)
{
    for (auto [landscape, x] : {std::pair{0, 151.2}, std::pair{1, 169.722}}) {
        gdrill_landscape = landscape;
        const auto items = gdrill_layout_get_item("lead<posn start=\"5.45\" align=\"0\"><span>x</span></posn>tail");
        ASSERT_EQ(items.size(), 3u);
        EXPECT_EQ(items[0].markup, "lead");
        EXPECT_EQ(items[1].markup, "<span>x</span>");
        EXPECT_NEAR(items[1].x, x, 0.001);
        EXPECT_EQ(items[2].markup, "tail");
    }
    gdrill_landscape = 0;
    EXPECT_EQ(abort_text([] { gdrill_layout_get_item("<posn start=\"123456789012345678901234\" align=\"0\">x</posn>"); }),
              "The start position for an item has too many characters");
    EXPECT_EQ(abort_text([] { gdrill_layout_get_item("<posn start=\"1\" align=\"x\">x</posn>"); }), "Error in align of item");
}

TEST(GdrillMarkup, LabelMarkup)
{
    gdrill_factor = 1.25f;
    const std::string rule143 = "<span font_desc=\"Courier 8\">" + std::string(143, '_') + "</span>";
    const std::string rule54 = "<span font_desc=\"Courier 8\">" + std::string(54, '_') + "</span>";
    struct Case {
        std::string in, out;
    } cases[] = {
        {"<line />", rule143},
        {"<line length=\"10.00\" />", rule54},
        {"<line length=\"99.00\" />", rule143},
        {"<span background=\"#ffff00\" font_desc=\"Helvetica 10\">1,234.50</span>", "<span font_desc=\"Helvetica 11\">1,234.50</span>"},
        {"<span font_desc=\"Courier Italic 8\">a</span><span background=\"#010101\" font_desc=\"Times-Roman 12\">b</span>",
         "<span font_desc=\"Courier Italic 9\">a</span><span font_desc=\"Times-Roman 14\">b</span>"},
        {"plain & text", "plain & text"},
    };
    for (const Case &c : cases) EXPECT_EQ(gdrill_label_set_markup(c.in), c.out) << c.in;
    struct Stop {
        const char *in, *stop;
    } stops[] = {
        {"<span font_desc=\"Courier\" background=\"#ffffff\">", "font_desc appears before background"},
        {"<span font_desc=\"Courier\">x</span>", "Font size not found in font_desc tag"},
        {"<span font_desc=\"Courier 10>x", "Unexpected tag format in font_desc"},
        {"<span font_desc=\"Courier 10 x>\"", "Missing close quotes in font_desc"},
        {"<span font_desc=\"Courier 90\">", "Font size too large"},
        {"<line length=\"1234567890123456789\" />", "Malformed line tag"},
    };
    for (const Stop &s : stops) EXPECT_EQ(abort_text([&] { gdrill_label_set_markup(s.in); }), s.stop) << s.in;
    // A line of any length is converted whole.
    const std::string long_line(100 * 1024, 'x');
    EXPECT_EQ(gdrill_label_set_markup("<span font_desc=\"Courier 8\">" + long_line + "</span>"),
              "<span font_desc=\"Courier 9\">" + long_line + "</span>");
    gdrill_factor = 1.0f;
}

TEST(GdrillMarkup, AlignmentUsesTheLabelsWidth)
{
    auto width_of = [](const char *text) {
        GtkWidget *label = gtk_label_new(text);
        g_object_ref_sink(label);
        int w = 0, h = 0;
        pango_layout_get_size(gtk_label_get_layout(GTK_LABEL(label)), &w, &h);
        g_object_unref(label);
        return static_cast<double>(w / PANGO_SCALE);
    };
    auto placed = [](const char *text, double x, int align) {
        GtkWidget *label = gtk_label_new(text);
        g_object_ref_sink(label);
        const double at = gdrill_aligned_x(GTK_LABEL(label), x, align);
        g_object_unref(label);
        return at;
    };
    EXPECT_DOUBLE_EQ(placed("1,234.50", 300, 0), 300);
    EXPECT_DOUBLE_EQ(placed("1,234.50", 300, 1), 300 - width_of("1,234.50"));
    EXPECT_DOUBLE_EQ(placed("1,234.50", 300, 2), 300 - width_of("1,234.50") / 2);
    EXPECT_DOUBLE_EQ(placed("1,234.50", 300, 3), 300 - width_of("1,234"));
    EXPECT_DOUBLE_EQ(placed("17-", 300, 3), 300 - width_of("17"));
    EXPECT_DOUBLE_EQ(placed("17--", 300, 3), 300 - width_of("17--"));
    EXPECT_DOUBLE_EQ(placed("1,234.50", 1, 1), 0);
}

} // namespace

namespace {

// The family Pango resolves for a font description, and the width of a text in it (Pango units).
std::pair<std::string, int> resolved(const char *description, const char *text)
{
    GtkWidget *label = gtk_label_new(nullptr);
    g_object_ref_sink(label);
    PangoContext *context = gtk_widget_get_pango_context(label);
    PangoFontDescription *wanted = pango_font_description_from_string(description);
    PangoFont *font = pango_context_load_font(context, wanted);
    PangoFontDescription *got = pango_font_describe(font);
    std::string family = pango_font_description_get_family(got);
    PangoLayout *layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, wanted);
    pango_layout_set_text(layout, text, -1);
    int width = 0, height = 0;
    pango_layout_get_size(layout, &width, &height);
    g_object_unref(layout);
    pango_font_description_free(got);
    g_object_unref(font);
    pango_font_description_free(wanted);
    g_object_unref(label);
    return {family, width};
}

// The report's serif face is named "Times-Roman" in the mark-up, as PostScript names it: the site's
// fonts must give it the metrics of Times.
TEST(GdrillFonts, TimesRomanIsTimes)
{
    const auto times = resolved("Times 10", "Balance brought forward 1,234.50");
    const auto roman = resolved("Times-Roman 10", "Balance brought forward 1,234.50");
    EXPECT_EQ(roman.first, times.first);
    EXPECT_EQ(roman.second, times.second);
    EXPECT_NE(times.first, resolved("Helvetica 10", "x").first);
}

} // namespace
