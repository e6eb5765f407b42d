// The zoom pick-list in-process on a private X server: IGZOOM_SETUP over a parent form (rows,
// initial row, colours from the site's tags file, keyboard focus, checks of its arguments),
// IGZOOM_RESET, the selected answer the forms engine asks for, the list's keys and type-ahead,
// the search box and its Zoom_Search routine, and choosing a row through the zoom's Post_Focus.
#include <fstream>
#include <utility>

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

class ZoomTest : public RoutineTest {
protected:
    // The site's key sets (the private site tree's conf/softkeys), as start-up loads them.
    void SetUp() override
    {
        RoutineTest::SetUp();
        ASSERT_GT(LoadKeySets(PPATH_ROOT "/conf/softkeys"), 0);
    }
    void TearDown() override
    {
        RoutineTest::TearDown();
        freekeysets();
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
        std::string attachments;  // ICATTACH_FUN calls on the zoom's CM before it opens
    };
    Outcome open(const Setup &s)
    {
        const Window parent = make_window(1);
        std::string t = ref(CM) + number(parent.window) + st(in_ICATTACH_WINDOW, 2) +
                        add(CM, "B1", parent.buttons[0], WIDGET_BUTTON, TAB_STANDARD);
        t += ref(CM2) + num(0L) + st(in_ICATTACH_WINDOW, 2) + s.attachments;
        int n = 12;
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
    GzoomRow *row(guint i)
    {
        GzoomRow *r = GZOOM_ROW(g_list_model_get_item(rows(), i));
        g_object_unref(r);  // the store keeps it
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
