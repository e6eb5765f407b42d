// The zoom pick-list in-process on a private X server: IGZOOM_SETUP over a parent form (rows,
// initial row, colours from the site's tags file, keyboard focus, checks of its arguments),
// IGZOOM_RESET, the selected answer the forms engine asks for, the list's keys and type-ahead,
// the search box and its Zoom_Search routine, and choosing a row through the zoom's Post_Focus.
// The list with its selected row goes to $LUMBA_SNAPSHOT_DIR/zoom_selected_row.png when that is set.
#include <fstream>
#include <utility>

#include "ccallback.h"
#include "cinvoke.h"
#include "gui_env.h"
#include "gzoom.h"
#include "ilist.h"
#include "routine_fixture.h"
#include "run_time.h"
#include "snapshot.h"
#include "softkeys.h"
#include "gsoftkeys.h"

using namespace forms_test;
using namespace routine_test;
using lumba_test::abort_text;

namespace {

const auto *gui = lumba_test::add_gui_environment();

// Routines of the choosing tests besides the routine fixture's, each nfunc (cm, ind, IP, IP$)
// logging "<word> <ind> [<IP$>]", doing one thing and answering COMMON cell ANSWER_CELL.
enum ChoosingRoutines {
    ANSWER = routine_test::FOCUSER + 1,  // nothing more
    WINPOSTER,                           // ICINVOKE_WIN_POST (cm)
    FOCUS2,                              // ICSET_FOCUS (cm, 2)
    DELETER,                             // ICDELETE_WINDOW (cell 4); answers true
    OPENER,                              // ICATTACH_WINDOW (cell 4, cell 5): a newer window
};
constexpr int ANSWER_CELL = 3;

std::string common_cell(int i) { return "loadrvd I:" + std::to_string(22 * i) + " I:0 I:0 I:0 I:0\n"; }
std::string common_ref(int i) { return "loadrad I:" + std::to_string(22 * i) + " I:0 I:0 I:0 I:0\n"; }
using lumba_test::param;

std::string choosing_routine(const char *name, const std::string &action, const std::string &answer = common_cell(ANSWER_CELL))
{
    const std::string ind = param(1) + sfn(in_STR, 1);
    const std::string ips = "loadsvi I:3 I:0 I:1 I:0 I:0 I:0\n" + sfn(in_STRIP, 1);
    return std::string(".nfunc r:") + name + " I:0 I:0 I:0 I:0 I:0 I:4\n" + num(0L) + str(std::string(name) + " ") +
           ind + str(" [") + ips + str("]") + "scat I:5\n" + st(in_IMLOG, 2) + action + answer + "exitv\n";
}

std::string choosing_symbols(const char *name)
{
    return std::string("symtab\n__ROUTINE__ ") + name +
           " 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\nIP$ 40 0 0x8014 0 4 -\n"
           "__END_ROUTINE__\n.end\n";
}

const std::string choosing_routines =
    routine_test::routines + choosing_routine("answer", "") +
    choosing_routine("winposter", param(0) + st(in_ICINVOKE_WIN_POST, 1)) +
    choosing_routine("focus", param(0) + num(2) + st(in_ICSET_FOCUS, 2)) +
    choosing_routine("delete", common_cell(4) + st(in_ICDELETE_WINDOW, 1), num(1)) +
    choosing_routine("open", common_ref(4) + common_cell(5) + st(in_ICATTACH_WINDOW, 2)) +
    choosing_symbols("answer") + choosing_symbols("winposter") + choosing_symbols("focus") +
    choosing_symbols("delete") + choosing_symbols("open");

class ZoomTest : public RoutineTest {
protected:
    // The site's key sets (the private site tree's conf/softkeys), as start-up loads them.
    void SetUp() override
    {
        RoutineTest::SetUp();
        ASSERT_GT(LoadKeySets(PPATH_ROOT "/conf/softkeys"), 0);
    }
    // Runs main (body) with the routine fixture's routines and the choosing tests' own, over a
    // COMMON block of six cells.
    Outcome program(const std::string &body)
    {
        return form(".common I:6 I:0\n" + body, choosing_routines);
    }

    void TearDown() override
    {
        RoutineTest::TearDown();
        freekeysets();
        for (GObject *o : held) g_object_unref(o);
        for (IList_t *l : lists)
            if (ilist_type(l)) ilist_destroy(l);
    }

    // A string list of the texts, destroyed with the test.
    IList_t *texts(const std::vector<std::string> &items)
    {
        IList_t *l = ilist_declare(ILIST_STRING);
        for (const std::string &t : items) ilist_addselt(l, t.c_str(), static_cast<int>(t.size()), 0, nullptr);
        lists.push_back(l);
        return l;
    }

    // The parent form (one button field) in CM, the zoom's CM in CM2 with the attachments given,
    // then IGZOOM_SETUP with these arguments into Z.
    struct Setup {
        Setup(IList_t *d, IList_t *a, IList_t *t, int c, std::string i, IList_t *f = nullptr, int h = 0, int m = -1,
              const char *k = nullptr)
            : display(d), answers(a), titles(t), columns(c), initial(std::move(i)), format(f), tall(h), matching(m),
              key_set(k)
        {
        }
        IList_t *display, *answers, *titles;
        int columns;
        std::string initial;
        IList_t *format;
        int tall, matching;  // matching -1: not passed
        const char *key_set;
        std::string attachments;         // ICATTACH_FUN calls on the zoom's CM before it opens
        std::string parent_attachments;  // and on the parent's
    };
    // The parent form has the button fields B1 and B2; the event that opens the zoom is on field
    // event_index of the parent (the zoom's CM comes with the attachments first, as a routine of
    // the parent would make it).
    Outcome open(const Setup &s, int event_index = 0)
    {
        const Window parent = make_window(2);
        std::string t = ref(CM) + number(parent.window) + st(in_ICATTACH_WINDOW, 2) +
                        add(CM, "B1", parent.buttons[0], WIDGET_BUTTON, TAB_STANDARD) +
                        add(CM, "B2", parent.buttons[1], WIDGET_BUTTON, TAB_STANDARD) + s.parent_attachments;
        t += ref(CM2) + num(0L) + st(in_ICATTACH_WINDOW, 2) + s.attachments;
        const Outcome made = program(t);
        if (!made.abort.empty()) return made;
        ControlMatrix_t *p = cm_of(CM), *z = cm_of(CM2);
        p->event_index = event_index;
        int n = 12;
        t = number(p) + set(CM) + number(z) + set(CM2);
        t += ref(CM2) + str("Pick one") + num(s.tall) + num(40) + num(0L) + number(s.display) + num(s.columns) +
             number(s.answers) + number(s.titles) + str(s.initial) + (s.format ? number(s.format) : num(0L)) + num(0L);
        if (s.matching >= 0 || s.key_set) t += num(s.matching < 0 ? 0 : s.matching), ++n;
        if (s.key_set) t += str(s.key_set), ++n;
        return program(t + fn(in_IGZOOM_SETUP, n) + set(Z));
    }
    // The three answers 10, 20 and 30 with texts in two columns; initial 15 picks "20".
    Setup tens()
    {
        return Setup(texts({"ten", "X", "twenty", "XX", "thirty", "XXX"}), texts({"10", "20", "30"}),
                     texts({"Name", "Mark"}), 2, "15");
    }

    zoom_data *zoom() { return gzoom_data(cm_of(CM2)); }
    GtkWindow *zoom_window() { return GTK_WINDOW(cm_of(CM2)->window); }
    guint selected() { return gtk_single_selection_get_selected(gzoom_selection(zoom())); }
    GListModel *rows() { return gtk_single_selection_get_model(gzoom_selection(zoom())); }
    // Row i of the list, held until the test ends (the list makes a row object when asked).
    GzoomRow *row(guint i)
    {
        GzoomRow *r = GZOOM_ROW(g_list_model_get_item(rows(), i));
        held.push_back(G_OBJECT(r));
        return r;
    }
    std::string ip()
    {
        char *t = gzoom_get_ip(cm_of(CM2));
        std::string s = t;
        g_free(t);
        return s;
    }
    // The key controller called name on widget.
    static GtkEventController *controller(GtkWidget *widget, const char *name)
    {
        GListModel *all = gtk_widget_observe_controllers(widget);
        GtkEventController *found = nullptr;
        for (guint i = 0; i < g_list_model_get_n_items(all) && !found; ++i) {
            auto *c = GTK_EVENT_CONTROLLER(g_list_model_get_item(all, i));
            if (g_strcmp0(gtk_event_controller_get_name(c), name) == 0) found = c;
            g_object_unref(c);
        }
        g_object_unref(all);
        return found;
    }
    // A key on the list; true when used up.
    bool list_key(guint keyval, const char *name = "gzoom-setup-select")
    {
        GtkEventController *c = controller(zoom()->scrolled_window, name);
        EXPECT_NE(c, nullptr) << name;
        return gzoom_callback_handle_select_key_press(GTK_EVENT_CONTROLLER_KEY(c), keyval, 0, GdkModifierType(0),
                                                      cm_of(CM2));
    }

    std::vector<IList_t *> lists;
    std::vector<GObject *> held;
};

void write_tags(const std::string &text)
{
    std::ofstream(std::string(PPATH_ROOT) + "/conf/tags", std::ios::binary | std::ios::trunc) << text;
}

} // namespace

TEST_F(ZoomTest, OpensOverItsParentWithTheInitialRowSelectedAndFocused)
{
    Setup s = tens();
    s.tall = 1;
    ASSERT_EQ(open(s).abort, "");
    ControlMatrix_t *z = cm_of(CM2), *parent = cm_of(CM);
    EXPECT_EQ(z->type, CM_WT_ZOOM);
    EXPECT_EQ(z->prior, parent);
    EXPECT_EQ(handle(Z), reinterpret_cast<long>(z->window)) << "the window's handle is the result";
    EXPECT_STREQ(gtk_window_get_title(zoom_window()), "Pick one");
    int w = 0, h = 0;
    gtk_window_get_default_size(zoom_window(), &w, &h);
    EXPECT_EQ(w, 400);
    EXPECT_EQ(h, 600);
    EXPECT_STREQ(gtk_widget_get_name(zoom()->column_view), "gZoomFixedFont");
    EXPECT_FALSE(gtk_widget_get_visible(zoom()->search_box));
    // The bar shows the keys key set FKZ labels, and only those.
    const GSoftkeys *keys = GFindSoftkeys(GTK_WIDGET(zoom_window()));
    ASSERT_NE(keys, nullptr);
    for (int k = 0; k < NUM_SOFTKEYS; ++k)
        EXPECT_EQ(keys->slots[k].button != nullptr, k == 0 || k == 5 || k == 12) << "key " << k;
    ASSERT_EQ(g_list_model_get_n_items(rows()), 3u);
    EXPECT_EQ(selected(), 1u);
    EXPECT_EQ(ip(), "20");
    EXPECT_STREQ(row(2)->columns[0], "thirty");
    EXPECT_STREQ(row(2)->columns[1], "XXX");
    EXPECT_NE(controller(zoom()->scrolled_window, "gzoom-setup-select"), nullptr);
    EXPECT_NE(controller(zoom()->search_entry, "gzoom-setup"), nullptr);
    // Once shown, the keyboard focus is in the selected row.
    auto *cell = static_cast<GtkWidget *>(g_object_get_data(G_OBJECT(row(1)), "gzoom-cell"));
    ASSERT_TRUE(lumba_test::wait_until([&] {
        cell = static_cast<GtkWidget *>(g_object_get_data(G_OBJECT(row(1)), "gzoom-cell"));
        GtkWidget *focus = gtk_window_get_focus(zoom_window());
        return cell && focus && gtk_widget_is_ancestor(cell, focus);
    }));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(cell)), "twenty");
    // Any tall value but 1 gives 320 pixels.
    s.tall = 2;
    ASSERT_EQ(open(s).abort, "");
    gtk_window_get_default_size(zoom_window(), &w, &h);
    EXPECT_EQ(h, 320);
}

TEST_F(ZoomTest, TheSelectedRowIsMarkedAcrossTheWholeList)
{
    ASSERT_EQ(open(tens()).abort, "");
    GtkWidget *view = zoom()->column_view, *selected_cell = nullptr, *other_cell = nullptr;
    ASSERT_TRUE(lumba_test::wait_until([&] {
        selected_cell = static_cast<GtkWidget *>(g_object_get_data(G_OBJECT(row(1)), "gzoom-cell"));
        other_cell = static_cast<GtkWidget *>(g_object_get_data(G_OBJECT(row(2)), "gzoom-cell"));
        return selected_cell && other_cell;
    }));
    ASSERT_TRUE(lumba_test::wait_drawn(view));
    // The middle of a row's first cell, in the list's coordinates.
    auto row_y = [&](GtkWidget *cell) {
        graphene_point_t at;
        const graphene_point_t middle = GRAPHENE_POINT_INIT(0, gtk_widget_get_height(cell) / 2.0f);
        EXPECT_TRUE(gtk_widget_compute_point(cell, view, &middle, &at));
        return static_cast<int>(at.y);
    };
    const lumba_test::Snapshot list = lumba_test::snapshot(view);
    ASSERT_FALSE(list.empty());
    if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR")) list.save_png(std::string(dir) + "/zoom_selected_row.png");
    // Far right of the texts, the selected row shows the selection's colour and the next row not.
    for (const int x : {list.width() * 3 / 4, list.width() - 4})
        EXPECT_NE(list.pixel(x, row_y(selected_cell)), list.pixel(x, row_y(other_cell))) << "x " << x;
}

TEST_F(ZoomTest, RowsFromTheListsAndTheirLengthChecks)
{
    // Seven texts in three columns with two answers: a third, partly filled row without an answer.
    Setup s{texts({"a", "b", "c", "d", "e", "f", "g"}), texts({"1", "2"}), texts({"A"}), 3, ""};
    ASSERT_EQ(open(s).abort, "");
    ASSERT_EQ(g_list_model_get_n_items(rows()), 3u);
    EXPECT_STREQ(row(2)->answer, "");
    EXPECT_STREQ(row(2)->columns[0], "g");
    EXPECT_STREQ(row(2)->columns[1], "");
    EXPECT_EQ(row(2)->r + row(2)->g + row(2)->b, 765) << "the partial row is white";
    EXPECT_EQ(selected(), 0u);

    const std::pair<Setup, std::string> refused[] = {
        {Setup(texts({"a", "b", "c", "d", "e", "f"}), texts({"1", "2", "3"}), texts({}), 3, ""),
         "Mismatch in list lengths: Display = 2, Return = 3; Check seventh parameter the number of display columns"},
        {Setup(texts({"a", "b"}), texts({"1", "2"}), texts({}), 1, "", texts({"mtag_x"})),
         "Mismatch in list lengths: Display = 2, Return = 2, Format = 1; Check seventh parameter the number of "
         "display columns"},
        {Setup(texts({"a"}), texts({"1"}), texts({}), 0, ""), "Invalid number of display columns 0"},
        {Setup(texts({"a"}), texts({"1"}), texts({}), 1, "", nullptr, 0, 2), "Invalid matching option 2"},
        {Setup(texts({"a"}), texts({"1"}), texts({}), 1, "", nullptr, 0, 0, "FK"), "Invalid KeySet name"},
        {Setup(texts({"a"}), texts({"1"}), texts({}), 1, "", nullptr, 0, 0, "FKZZ"), "KeySet name too long"},
    };
    for (const auto &[setup, message] : refused) EXPECT_EQ(open(setup).abort, message);
    Setup no_list{nullptr, texts({"1"}), texts({}), 1, ""};
    EXPECT_NE(open(no_list).abort.find("No list exists with handle"), std::string::npos);
    // A zoom opens over a window of the program's.
    cmat_free_all();
    const Outcome alone = program(ref(CM2) + num(0L) + st(in_ICATTACH_WINDOW, 2) + ref(CM2) + str("t") + num(0L) +
                                  num(40) + num(0L) + number(texts({"a"})) + num(1) + number(texts({"1"})) +
                                  number(texts({})) + str("") + num(0L) + num(0L) + fn(in_IGZOOM_SETUP, 12) + set(Z));
    EXPECT_EQ(alone.abort, "A zoom window must be opened from another window");
}

TEST_F(ZoomTest, RowsColouredByTheirTagShowTheirClassAndColour)
{
    write_tags("mtag_red { screen-bg-colour: #ff0000; }\n");
    Setup s = tens();
    s.format = texts({"", "mtag_red", " mtag_red"});
    ASSERT_EQ(open(s).abort, "");
    EXPECT_EQ(row(1)->r * 65536 + row(1)->g * 256 + row(1)->b, 0xff0000);
    EXPECT_EQ(row(0)->r + row(0)->g + row(0)->b, 765);
    EXPECT_EQ(row(2)->r + row(2)->g + row(2)->b, 765);
    GtkWidget *cell = nullptr;
    ASSERT_TRUE(lumba_test::wait_until([&] {
        return (cell = static_cast<GtkWidget *>(g_object_get_data(G_OBJECT(row(1)), "gzoom-cell"))) != nullptr;
    }));
    EXPECT_TRUE(gtk_widget_has_css_class(cell, "bg_ff00"));
    EXPECT_FALSE(gtk_widget_has_css_class(cell, "bg_ffffff"));
    // The fixture style sheet paints the class: the red row shows red, the others do not.
    const lumba_test::Snapshot red = lumba_test::snapshot(cell);
    ASSERT_FALSE(red.empty());
    EXPECT_GT(red.count({0xe0, 0x00, 0x00, 0xff}, 8), red.width() * red.height() / 2);
    auto *white = static_cast<GtkWidget *>(g_object_get_data(G_OBJECT(row(0)), "gzoom-cell"));
    ASSERT_NE(white, nullptr);
    EXPECT_EQ(lumba_test::snapshot(white).count({0xe0, 0x00, 0x00, 0xff}, 8), 0);
}

TEST_F(ZoomTest, TheSelectedAnswerIsIpAndAnEmptyListGivesAnEmptyText)
{
    ASSERT_EQ(open(tens()).abort, "");
    EXPECT_EQ(ip(), "20");
    int ip_int = 0, given = 0;
    char *decimal = nullptr;
    char *through_engine = gkey_press_get_ip1(cm_of(CM2), 0, &ip_int, &decimal, &given);
    EXPECT_STREQ(through_engine, "20") << "the forms engine asks the zoom for IP$ of index 0";
    g_free(through_engine);
    g_free(decimal);
    // No row has an answer: nothing is selected, and IP$ is empty rather than a stop.
    ASSERT_EQ(open(Setup(texts({"a", "b"}), texts({"", ""}), texts({}), 1, "a")).abort, "");
    EXPECT_EQ(selected(), GTK_INVALID_LIST_POSITION);
    EXPECT_EQ(ip(), "");
    ASSERT_EQ(open(Setup(texts({}), texts({}), texts({}), 1, "")).abort, "");
    EXPECT_EQ(g_list_model_get_n_items(rows()), 0u);
    EXPECT_EQ(ip(), "");
}

TEST_F(ZoomTest, ResetRefillsAndReselectsThePreviousAnswer)
{
    ASSERT_EQ(open(tens()).abort, "");
    gtk_single_selection_set_selected(gzoom_selection(zoom()), 2);  // "30"
    ControlMatrix_t *z = cm_of(CM2), *parent = cm_of(CM);
    const auto reset = [&](IList_t *display, IList_t *answers, const char *title) {
        return program(number(z) + str(title) + number(display) + number(answers) + num(0L) + st(in_IGZOOM_RESET, 5));
    };
    // An empty return list changes nothing at all.
    GtkWidget *view = zoom()->column_view;
    ASSERT_EQ(reset(texts({}), texts({}), "Other").abort, "");
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(z->window)), "Pick one");
    EXPECT_EQ(gzoom_data(z)->column_view, view);
    EXPECT_EQ(gtk_single_selection_get_selected(gzoom_selection(gzoom_data(z))), 2u);
    // New rows: the answer selected before is selected again; columns and titles stay.
    ASSERT_EQ(reset(texts({"five", "V", "thirty", "XXX", "forty", "XL"}), texts({"05", "30", "40"}), "Again").abort, "");
    zoom_data *zd = gzoom_data(z);
    EXPECT_NE(zd->column_view, view);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(z->window)), "Again");
    EXPECT_STREQ(zd->initial_answer, "30");
    EXPECT_EQ(gtk_single_selection_get_selected(gzoom_selection(zd)), 1u);
    EXPECT_NE(controller(zd->scrolled_window, "gzoom-reset-select"), nullptr);
    EXPECT_NE(controller(zd->search_entry, "gzoom-reset"), nullptr);
    // Only a zoom is refilled.
    const Outcome o = program(number(parent) + str("t") + number(texts({"a"})) + number(texts({"1"})) + num(0L) +
                              st(in_IGZOOM_RESET, 5));
    EXPECT_EQ(o.abort, "May only run igzoom_reset on a Zoom window");
    EXPECT_EQ(program(num(0L) + str("t") + number(texts({"a"})) + number(texts({"1"})) + num(0L) +
                      st(in_IGZOOM_RESET, 5))
                  .abort,
              "Must provide pointer to the Control Matrix of the Select or Zoom window");
}

TEST_F(ZoomTest, TypeAheadAndTheKeysOfTheList)
{
    Setup s{texts({"AAA", "ABC", "ABD"}), texts({"AAA", "ABC", "ABD"}), texts({}), 1, "", nullptr, 0, 1};
    ASSERT_EQ(open(s).abort, "");
    EXPECT_TRUE(list_key('a'));
    EXPECT_TRUE(list_key('b'));
    EXPECT_EQ(selected(), 1u);
    EXPECT_STREQ(zoom()->typeahead, "AB");
    EXPECT_TRUE(list_key(GDK_KEY_Shift_L)) << "modifiers are used up";
    EXPECT_STREQ(zoom()->typeahead, "AB") << "and keep the text";
    EXPECT_TRUE(list_key(GDK_KEY_space)) << "a blank after a letter is type-ahead";
    EXPECT_STREQ(zoom()->typeahead, "AB ");
    for (guint key : {GDK_KEY_Tab, GDK_KEY_Left, GDK_KEY_Right, GDK_KEY_BackSpace, GDK_KEY_Delete}) {
        list_key('a');
        EXPECT_TRUE(list_key(key)) << key << " is swallowed";
        EXPECT_STREQ(zoom()->typeahead, "") << key << " clears the text";
    }
    EXPECT_FALSE(list_key(GDK_KEY_space)) << "a blank on an empty text goes to the list";
    list_key('a');
    for (guint key : {GDK_KEY_Return, GDK_KEY_Down, GDK_KEY_KP_Enter, GDK_KEY_Page_Up}) {
        EXPECT_FALSE(list_key(key)) << key << " is left to the list";
        EXPECT_STREQ(zoom()->typeahead, "");
    }
    list_key(GDK_KEY_KP_2);
    EXPECT_STREQ(zoom()->typeahead, "2");
}

TEST_F(ZoomTest, TypeAheadWithMatchingZeroComparesWholeAnswers)
{
    Setup s{texts({"apple", "Banana", "cherry"}), texts({"apple", "Banana", "cherry"}), texts({}), 1, "cherry"};
    ASSERT_EQ(open(s).abort, "");
    EXPECT_EQ(selected(), 2u);
    list_key('b');
    EXPECT_EQ(selected(), 1u);
    list_key(GDK_KEY_Tab);  // a fresh text
    list_key('z');
    EXPECT_EQ(selected(), 0u) << "nothing at or above z: the first row";
}

TEST_F(ZoomTest, TheSearchBoxShowsOnlyWithZoomSearchAndRunsIt)
{
    ASSERT_EQ(open(tens()).abort, "");
    gzoom_search_field(cm_of(CM2));
    EXPECT_FALSE(gtk_widget_get_visible(zoom()->search_box)) << "no Zoom_Search routine";

    Setup s = tens();
    s.attachments = attach(CM2, "Zoom_Search", PROBE, 0);
    ASSERT_EQ(open(s).abort, "");
    gzoom_search_field(cm_of(CM2));
    EXPECT_TRUE(gtk_widget_get_visible(zoom()->search_box));
    EXPECT_EQ(gtk_window_get_default_widget(zoom_window()), zoom()->search_entry);
    EXPECT_EQ(window_kind(CM_WT_ZOOM).search, gzoom_search_field) << "F5 reaches it through the window kind";

    const auto enter = [&](const char *text) {
        gtk_editable_set_text(GTK_EDITABLE(zoom()->search_entry), text);
        GtkEventController *c = controller(zoom()->search_entry, "gzoom-setup");
        std::vector<std::string> lines;
        const std::string stop = logged(
            [&] {
                EXPECT_TRUE(gzoom_on_key_press_search(GTK_EVENT_CONTROLLER_KEY(c), GDK_KEY_Return, 0,
                                                      GdkModifierType(0), cm_of(CM2)));
                forms_rethrow_kept();
            },
            &lines);
        EXPECT_EQ(stop, "");
        return lines;
    };
    set_cell(0, 1);
    EXPECT_EQ(enter("thi"), std::vector<std::string>{"probe 0 -1 [thi]"});
    EXPECT_EQ(enter(""), std::vector<std::string>{"probe 0 -1 [20]"}) << "an empty entry: the selected answer";
    // Other keys are the entry's.
    EXPECT_FALSE(gzoom_on_key_press_search(GTK_EVENT_CONTROLLER_KEY(controller(zoom()->search_entry, "gzoom-setup")),
                                           'x', 0, GdkModifierType(0), cm_of(CM2)));
}

TEST_F(ZoomTest, ChoosingARowRunsTheZoomsPostFocus)
{
    Setup s = tens();
    s.attachments = attach(CM2, "Post_Focus", PROBE, 0);
    ASSERT_EQ(open(s).abort, "");
    ControlMatrix_t *z = cm_of(CM2);
    GtkWidget *view = zoom()->column_view;
    const auto choose = [&](guint position, std::vector<std::string> *lines) {
        return logged(
            [&] {
                g_signal_emit_by_name(view, "activate", position);
                forms_rethrow_kept();
            },
            lines);
    };
    // False: the zoom stays open on the same row.
    set_cell(0, 0);
    std::vector<std::string> lines;
    EXPECT_EQ(choose(1, &lines), "");
    EXPECT_EQ(lines, std::vector<std::string>{"probe 0 -1 [20]"});
    EXPECT_TRUE(cm_chain_position(z));
    EXPECT_EQ(selected(), 1u);
    // True with a window opened after the zoom: refused.
    set_cell(0, 1);
    const Window later = make_window(0);
    ASSERT_EQ(program(ref(E) + number(later.window) + st(in_ICATTACH_WINDOW, 2)).abort, "");
    EXPECT_EQ(choose(2, &lines), "Not permitted to create a window from the 'Post' function to a Zoom");
}

// ---- Choosing a row, through to the parent --------------------------------------------------------------

namespace {

// The inner list of the column view, whose "list.activate-item" is what Return on a row does.
GtkWidget *inner_list(GtkWidget *view)
{
    for (GtkWidget *c = gtk_widget_get_first_child(view); c; c = gtk_widget_get_next_sibling(c))
        if (g_strcmp0(G_OBJECT_TYPE_NAME(c), "GtkColumnListView") == 0) return c;
    return nullptr;
}

} // namespace

class ZoomChoosingTest : public ZoomTest {
protected:
    // Opens the tens (20 selected) from the parent's field 1, which has the focus; the zoom's
    // Post_Focus and the parent's routines as given ("" for none).
    Outcome open_from_field(const std::string &zoom_post_focus, const std::string &parent_attachments,
                            int event_index = 1)
    {
        cmat_free_all();  // a fresh chain: the window of an earlier case may still stand
        forget_window();
        Setup s = tens();
        s.attachments = zoom_post_focus;
        s.parent_attachments = parent_attachments;
        const Outcome o = open(s, event_index);
        if (o.abort.empty()) {
            parent = cm_of(CM);
            zoom_cm = cm_of(CM2);
            zoom_window_left = GTK_WIDGET(zoom_window());
            g_object_add_weak_pointer(G_OBJECT(zoom_window_left), reinterpret_cast<gpointer *>(&zoom_window_left));
            // The form's first focus, as a program sets it (its Pre_Focus runs).
            const Outcome focused = program(number(parent) + set(CM) + number(zoom_cm) + set(CM2) + val(CM) + num(1) +
                                            st(in_ICSET_FOCUS, 2));
            EXPECT_EQ(focused.abort, "");
            EXPECT_EQ(parent->current_focus, 1);
        }
        return o;
    }
    // Return on the selected row as the list takes it: the row is activated.
    std::string choose(std::vector<std::string> *lines)
    {
        GtkWidget *list = inner_list(zoom()->column_view);
        EXPECT_NE(list, nullptr);
        const guint position = selected();
        return logged(
            [&] {
                EXPECT_FALSE(list_key(GDK_KEY_Return)) << "Return is left to the list";
                gtk_widget_activate_action(list, "list.activate-item", "u", position);
                forms_rethrow_kept();
            },
            lines);
    }
    bool zoom_open() const { return cm_chain_position(zoom_cm) != 0; }

    void TearDown() override
    {
        forget_window();
        ZoomTest::TearDown();
    }
    void forget_window()
    {
        if (zoom_window_left)
            g_object_remove_weak_pointer(G_OBJECT(zoom_window_left), reinterpret_cast<gpointer *>(&zoom_window_left));
        zoom_window_left = nullptr;
    }

    ControlMatrix_t *parent = nullptr, *zoom_cm = nullptr;
    GtkWidget *zoom_window_left = nullptr;  // the zoom's window while it stands
};

TEST_F(ZoomChoosingTest, TheChosenAnswerGoesThroughTheZoomsPostFocusToTheParent)
{
    struct Case {
        const char *what;
        std::string zoom, parent;
        long cell0, answer;  // the answers of cell 0 (the fixture's routines) and ANSWER_CELL
        std::vector<std::string> logged;
        bool zoom_stays;
        int focus_after;
    } cases[] = {
        {"Post_Focus false: the zoom stays open on the same row", attach(CM2, "Post_Focus", ANSWER, 0), "", 0, 0,
         {"answer 0 [20]"}, true, 1},
        {"true: the parent's Zoom_Post gets 20, its Post_Focus the Zoom_Post's text, and the focus moves on",
         attach(CM2, "Post_Focus", CLEARER, 0),
         attach(CM, "Zoom_Post", PROBE, 1) + attach(CM, "Post_Focus", ANSWER, 1) + attach(CM, "Pre_Focus", COUNTER, 0),
         1, 1, {"clear 0 [20]", "probe 1 -1 [20]", "answer 1 [20]", "pre 2"}, false, 2},
        {"without Zoom_Post the parent's Pre_Focus gets 20", attach(CM2, "Post_Focus", CLEARER, 0),
         attach(CM, "Pre_Focus", PROBE, 1) + attach(CM, "Post_Focus", ANSWER, 1), 1, 1,
         {"clear 0 [20]", "probe 1 -1 [20]", "answer 1 [20]"}, false, 2},
        {"Zoom_Post false: the zoom closes and the parent stays on its field", attach(CM2, "Post_Focus", CLEARER, 0),
         attach(CM, "Zoom_Post", PROBE, 1) + attach(CM, "Post_Focus", ANSWER, 1), 0, 1,
         {"clear 0 [20]", "probe 1 -1 [20]"}, false, 1},
        {"Zoom_Post false after moving the focus: Pre_Focus of the new field with an empty IP$",
         attach(CM2, "Post_Focus", CLEARER, 0), attach(CM, "Zoom_Post", FOCUS2, 1) + attach(CM, "Pre_Focus", ANSWER, 2),
         0, 0, {"clear 0 [20]", "focus 1 [20]", "answer 2 []"}, false, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(open_from_field(c.zoom, c.parent).abort, "");
        set_cell(0, c.cell0);
        set_cell(ANSWER_CELL, c.answer);
        std::vector<std::string> lines;
        EXPECT_EQ(choose(&lines), "");
        EXPECT_EQ(lines, c.logged);
        EXPECT_EQ(zoom_open(), c.zoom_stays);
        EXPECT_EQ(zoom_window_left != nullptr, c.zoom_stays) << "the zoom's window goes with it";
        if (c.zoom_stays) {
            EXPECT_EQ(selected(), 1u);
        }
        EXPECT_EQ(parent->current_focus, c.focus_after);
        EXPECT_EQ(global_data->last_cm, c.zoom_stays ? zoom_cm : parent);
    }
}

TEST_F(ZoomChoosingTest, EachRuleOfTheChoosingFlowEndsTheRun)
{
    const Window later = make_window(0);
    struct Case {
        const char *what;
        std::string zoom, parent;
        int event_index;
        long answer;
        std::string message;  // "%p": the parent's CM, "%z": the zoom's, in upper-case hex
    } cases[] = {
        {"the zoom has no Post_Focus", "", "", 1, 1,
         "cinvoke_basic_routine: 'basic' function not found for Action Code Post_Focus; Index 0; Control Matrix %z"},
        {"the zoom's Post_Focus opens a window and answers true", attach(CM2, "Post_Focus", OPENER, 0), "", 1, 1,
         "Not permitted to create a window from the 'Post' function to a Zoom"},
        {"the zoom's Post_Focus asks for a Win_Post", attach(CM2, "Post_Focus", WINPOSTER, 0), "", 1, 1,
         "Not permitted to run icinvoke_drill_post or icinvoke_win_post here"},
        {"the parent has neither Zoom_Post nor Pre_Focus", attach(CM2, "Post_Focus", CLEARER, 0), "", 1, 1,
         "cinvoke_basic_routine: 'basic' function not found for Action Code Pre_Focus; Index 1; Control Matrix %p"},
        {"Zoom_Post sets the focus and answers true", attach(CM2, "Post_Focus", CLEARER, 0),
         attach(CM, "Zoom_Post", FOCUS2, 1), 1, 1,
         "Must return false from the function attached with the 'Zoom_Post' Action Code when calling icset_focus"},
        {"Zoom_Post answers true for a zoom of index 0", attach(CM2, "Post_Focus", CLEARER, 0),
         attach(CM, "Zoom_Post", ANSWER, 0), 0, 1,
         "Must return false from Zoom_Post (or Pre) when no fields exist in parent, or Zoom is in respect of index "
         "zero."},
        {"the Pre_Focus of the field Zoom_Post moved to closes the parent", attach(CM2, "Post_Focus", CLEARER, 0),
         attach(CM, "Zoom_Post", FOCUS2, 1) + attach(CM, "Pre_Focus", DELETER, 2), 1, 0,
         "Not permitted to exit window from the function attached with the Pre_Focus Action Code index 2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(open_from_field(c.zoom, c.parent, c.event_index).abort, "");
        set_cell(ANSWER_CELL, c.answer);
        set_cell(4, 0);
        set_cell(5, static_cast<long>(reinterpret_cast<std::uintptr_t>(later.window)));
        if (c.parent.find("Pre_Focus") != std::string::npos) set_cell(4, reinterpret_cast<long>(parent));
        std::string message = c.message;
        for (const auto &[mark, cm] : {std::pair{std::string("%p"), parent}, std::pair{std::string("%z"), zoom_cm}})
            if (const auto at = message.find(mark); at != std::string::npos) message.replace(at, 2, hex(cm));
        EXPECT_EQ(choose(nullptr), message);
    }
}

TEST_F(ZoomChoosingTest, F5ThroughTheKeyHandlerShowsTheSearchBoxOnlyWithZoomSearch)
{
    for (const bool searchable : {false, true}) {
        SCOPED_TRACE(searchable ? "with Zoom_Search" : "without");
        ASSERT_EQ(open_from_field(searchable ? attach(CM2, "Zoom_Search", PROBE, 0) : "", "").abort, "");
        std::vector<std::string> lines;
        EXPECT_EQ(logged([&] { EXPECT_TRUE(list_key(GDK_KEY_F5)); }, &lines), "");
        EXPECT_STREQ(zoom_cm->event_name, "F5");
        EXPECT_EQ(gtk_widget_get_visible(zoom()->search_box), searchable);
        EXPECT_TRUE(lines.empty()) << "F5 on a zoom runs no routine";
        GtkWidget *focus = gtk_window_get_focus(zoom_window());
        if (searchable) {
            EXPECT_TRUE(focus && (focus == zoom()->search_entry || gtk_widget_is_ancestor(focus, zoom()->search_entry)))
                << "the entry keeps the focus once the event has ended";
            EXPECT_EQ(gtk_window_get_default_widget(zoom_window()), zoom()->search_entry);
        }
    }
}

TEST_F(ZoomChoosingTest, AFunctionKeyRoutineOfIndexZeroSeesTheSelectedAnswerOrAnEmptyText)
{
    Setup full = tens(), empty{texts({}), texts({}), texts({}), 1, ""};
    for (Setup *s : {&full, &empty}) {
        s->attachments = attach(CM2, "F1", PROBE, 0);
        ASSERT_EQ(open(*s).abort, "");
        set_cell(0, 1);
        std::vector<std::string> lines;
        EXPECT_EQ(logged([&] { EXPECT_TRUE(list_key(GDK_KEY_F1)); }, &lines), "");
        ASSERT_EQ(lines.size(), 1u);
        const std::string expected = s == &full ? "[20]" : "[]";
        EXPECT_EQ(lines[0].substr(lines[0].rfind('[')), expected) << lines[0];
        EXPECT_EQ(lines[0].rfind("probe 0 ", 0), 0u) << lines[0];
    }
}

TEST_F(ZoomTest, TheBarIsSensitiveForWhatTheZoomHandles)
{
    // Pick (F12) always, Search (F5) with a Zoom_Search routine; Escape closes it.
    struct Case {
        bool search;
        bool f5;
    } cases[] = {{false, false}, {true, true}};
    for (const Case &c : cases) {
        Setup s = tens();
        if (c.search) s.attachments = attach(CM2, "Zoom_Search", PROBE, 0);
        ASSERT_EQ(open(s).abort, "");
        ASSERT_TRUE(lumba_test::wait_drawn(GTK_WIDGET(zoom_window())));
        lumba_test::drain();
        const GSoftkeys *keys = GFindSoftkeys(GTK_WIDGET(zoom_window()));
        ASSERT_NE(keys, nullptr);
        EXPECT_TRUE(gtk_widget_get_sensitive(keys->slots[0].button)) << c.search;
        EXPECT_TRUE(gtk_widget_get_sensitive(keys->slots[12].button)) << c.search;
        EXPECT_EQ(gtk_widget_get_sensitive(keys->slots[5].button), c.f5) << c.search;
    }
}
