// The menu screen in-process: the definition list's loader (a case per refusal, and what it
// accepts), the window IGMENU_SETUP builds (size, header with thought of the day and logo, grid,
// footer, the soft-key bar) and its redraw as pixels show it, the intrinsics that rebuild it, and
// navigation: the selection entry's keys by direct calls with key values, selection by path and
// short cut, Enter, clicks, footer buttons and the launch (the forms engine's routine runs watched
// through the table of calls the widgets make into it); and, with the forms engine's own handlers
// and routine runs, a form the launch opens in the menu's window and the menu's Escape routine.
#include <csignal>
#include <cstdio>
#include <functional>
#include <fstream>
#include <sys/stat.h>

#include "ccallback.h"
#include "cevents.h"
#include "cmatrix.h"
#include "common_block.h"
#include "dialog_script.h"
#include "gmenu.h"
#include "gmisc.h"
#include "gsoftkeys.h"
#include "gui_env.h"
#include "ilist.h"
#include "routine_fixture.h"
#include "widgets_fixture.h"

using namespace forms_test;
using namespace widgets_test;

namespace {

using Item = std::vector<std::string>;

IList_t *list_of(const std::vector<Item> &items)
{
    IList_t *list = ilist_declare(ILIST_STRING);
    for (const Item &item : items)
        for (const std::string &e : item) ilist_addselt(list, e.c_str(), static_cast<int>(e.size()), 0, nullptr);
    return list;
}

// The test menu: top-level sub-menus 1 ("Sales") and 3 (written "3a"), a top-level item 2 with a
// program, under 1 the item 1.1 and the sub-menu 1.2 with its item 1.2.1, under 3 an unnumbered
// line with a short cut, and a sub-menu 4 in row 0.
const std::vector<Item> tree = {
    {"1", "2", "1", "Sales", "A", "", ""},
    {"1.1", "1", "2", "Orders & <more>", "B", "07ord", "ord"},
    {"1.2", "2", "3", "Reports", "C", "", ""},
    {"1.2.1", "1", "4", "Day/night", "D", "07day", "day"},
    {"2", "2", "2", "Stock", "E", "07stock", "stk"},
    {"3a", "2", "5", "Three", "C", "", ""},
    {"3", "1", "6", "Line", "A", "07line", "line"},
    {"4", "2", "0", "Hidden", "A", "", ""},
};

std::string path_of(const menu_item *i)
{
    return std::to_string(i->key_one) + "." + std::to_string(i->key_two) + "." + std::to_string(i->number);
}

std::vector<std::string> paths(const menu_item *first)
{
    std::vector<std::string> v;
    for (const menu_item *i = first; i; i = i->next) v.push_back(path_of(i));
    return v;
}

// A program file the launch finds: PPATH/apps/unit7/<name>.
void install_program(const std::string &name)
{
    mkdir(APPS_ROOT "/unit7", 0755);
    std::ofstream(std::string(APPS_ROOT "/unit7/") + name) << "x\n";
}

// The site's thought-of-the-day program: its output depends on the number it is given.
void install_crumb()
{
    mkdir(BIN_DIR, 0755);
    const std::string path = BIN_DIR "/crumb";
    std::ofstream(path) << "#!/bin/sh\ncase \"$1\" in\n"
                           "0) printf 'Thought of the day\\n' ;;\n"
                           "5) printf 'a\\nb\\nc\\nd\\ne\\n' ;;\n"
                           "6) printf 'one\\ntwo\\nthree\\nfour\\nfive\\nsix\\n' ;;\n"
                           "9) grep -E '^Sig(Blk|Ign):' /proc/self/status ;;\n"
                           "esac\n";
    chmod(path.c_str(), 0755);
}

// What the forms engine was asked: routine runs and Escapes.
std::vector<std::string> &asked()
{
    static std::vector<std::string> v;
    return v;
}

FormsEventCalls recorder()
{
    FormsEventCalls calls = forms_event_calls();
    calls.escape = [](GtkWidget *, GtkEventController *, GlobalData_t *, int block) {
        asked().push_back("escape block=" + std::to_string(block));
        return 1;
    };
    calls.invoke = [](ControlMatrix_t *, ControlMatrix_t **, int code, int *index, int *, GlobalData_t *,
                      const char *, const char *, int, int must_exist, char **, int *, int) {
        asked().push_back("invoke " + std::to_string(code) + " index=" + std::to_string(*index) +
                          " must=" + std::to_string(must_exist) + " program=" + gmenu_data(gmenu_cm())->selected_program);
        return 1;
    };
    return calls;
}

KeySet_t fka{const_cast<char *>("FKA"), 0, 1 | 1 << 1, {}, nullptr};

class MenuTest : public WidgetsTest {
protected:
    void SetUp() override
    {
        WidgetsTest::SetUp();
        fka.labels[0] = const_cast<char *>("Exit");
        fka.labels[1] = const_cast<char *>("Help");
        saved_sets = keysets;
        keysets = &fka;
        saved_calls = set_forms_event_calls(recorder());
        asked().clear();
        install_crumb();
        menu_bg_no = 0;
    }
    void TearDown() override
    {
        WidgetsTest::TearDown();
        set_forms_event_calls(saved_calls);
        keysets = saved_sets;
        for (IList_t *l : lists) ilist_destroy(l);
    }

    IList_t *list(const std::vector<Item> &items)
    {
        lists.push_back(list_of(items));
        return lists.back();
    }
    // IGMENU_SETUP of a definition list, the CM into CM and the window into W.
    std::string setup(IList_t *l, const std::string &background = "3", const std::string &logo = "") const
    {
        std::string s = ref(CM) + str("ABCDEFGH") + str("Main Menu") + str("site") + str(logo) + number(l) +
                        str("07inc") + str("07790m") + str("07tar");
        for (const char *count : {"1", "0", "", "1234", "abc", "123456789012"}) s += str(count);
        return s + str(background) + fn(in_IGMENU_SETUP, 16) + set(W);
    }
    // Builds the test menu and answers its record.
    menu_data *menu(const std::string &background = "3")
    {
        const Outcome o = form(setup(list(tree), background));
        EXPECT_EQ(o.abort, "");
        return gmenu_cm() ? gmenu_data(gmenu_cm()) : nullptr;
    }
    GtkWidget *window() const { return reinterpret_cast<GtkWidget *>(handle(W)); }
    std::string entry_text() const { return gtk_editable_get_text(GTK_EDITABLE(gmenu_data(gmenu_cm())->short_cut)); }
    std::string cell_text(int column, int row) const
    {
        return gtk_label_get_label(GTK_LABEL(gmenu_data(gmenu_cm())->cells[column][row - 1].label));
    }
    // A key pressed in the entry; a key the handler passes on reaches the entry as GTK would type it.
    bool type(guint keyval)
    {
        GtkWidget *entry = gmenu_data(gmenu_cm())->short_cut;
        gboolean handled = FALSE;
        g_signal_emit_by_name(oska_widget_get_controller(entry, "gmenu-setup"), "key-pressed", keyval, 0u,
                              GdkModifierType(0), &handled);
        forms_rethrow_kept();
        const gunichar c = gdk_keyval_to_unicode(keyval);
        if (!handled && c >= ' ' && c <= '~') {
            const std::string text = gtk_editable_get_text(GTK_EDITABLE(entry)) + std::string(1, static_cast<char>(c));
            gtk_editable_set_text(GTK_EDITABLE(entry), text.c_str());
        } else if (!handled && keyval == GDK_KEY_BackSpace) {
            std::string text = gtk_editable_get_text(GTK_EDITABLE(entry));
            if (!text.empty()) text.pop_back();
            gtk_editable_set_text(GTK_EDITABLE(entry), text.c_str());
        }
        return handled;
    }
    void type_text(const std::string &keys)
    {
        for (char c : keys) type(static_cast<guint>(c));
    }
    void enter()
    {
        g_signal_emit_by_name(gmenu_data(gmenu_cm())->short_cut, "activate");
        forms_rethrow_kept();
    }

    std::vector<IList_t *> lists;
    KeySet_t *saved_sets = nullptr;
    FormsEventCalls saved_calls{};
};

} // namespace

// ---- The definition list ------------------------------------------------------------------------------

TEST_F(MenuTest, EveryRuleOfTheListStopsTheRunWithItsMessage)
{
    const Item top1 = {"1", "2", "1", "One", "A", "", ""};
    const Item top2 = {"2", "2", "2", "Two", "A", "", ""};
    const std::string long_text(64, 'd');
    struct Case {
        std::vector<Item> items;
        std::string message;
    } cases[] = {
        {{{"1", "2", "x", "D", "A", "", ""}}, "Menu row number x not numeric"},
        {{{"1", "2", "21", "D", "A", "", ""}}, "Menu row number out of range 21"},
        {{{"", "2", "1", "D", "A", "", ""}}, "Menu keystroke must not be empty"},
        {{{"3.x", "1", "1", "D", "A", "", ""}}, "Menu keystroke 3.x not numeric"},
        {{{"1.2.3", "3", "1", "D", "A", "", ""}}, "Invalid Menu-Label Keystroke Value 1.2.3 encountered"},
        {{{"4.2.1.1", "1", "1", "D", "A", "", ""}}, "Invalid Menu Keystroke Value 4.2.1.1 encountered"},
        {{{"4.2.1", "2", "1", "D", "A", "", ""}}, "Invalid Sub-Menu Keystroke Value 4.2.1 encountered"},
        {{{"1", "4", "1", "D", "A", "", ""}}, "Invalid Menu Type 4 encountered"},
        {{{"21", "1", "1", "D", "A", "", ""}}, "Menu key one out of range 21"},
        {{{"1.21", "3", "1", "D", "A", "", ""}}, "Menu key two out of range 1.21"},
        {{{"22", "2", "1", "D", "A", "", ""}}, "Menu key three out of range 22"},
        {{{"1", "2", "1", long_text, "A", "", ""}}, "Menu description too long"},
        {{{"1", "2", "1", "D", std::string(26, 'A'), "", ""}}, "Menu colour too long"},
        {{{"1", "2", "1", "D", "A", "0712345678", ""}}, "Menu program too long"},
        {{{"1", "2", "1", "D", "A", "", "abcdefghij"}}, "Menu shortcut too long (10>9:|abcdefghij|)"},
        {{{"1", "2", "1", "D", "AB", "", ""}}, "Invalid menu colour 'AB'"},
        {{{"1", "2", "1", "D", "b", "", ""}}, "Menu colour 'b' invalid"},
        {{{"1.1", "2", "1", "D", "A", "", ""}}, "First entry in file after the heading must be a first level menu item"},
        {{top1, {"2.1", "1", "4", "D", "A", "", ""}}, "Second level menu 2.0.1, position 4 has no parent"},
        {{top1, top2, {"2.1.1", "1", "5", "D", "A", "", ""}},
         "Expecting first second level menu item while attempting to add menu 2.1.1, position 5"},
        {{top1, top2, {"2.1", "1", "3", "D", "A", "", ""}, {"2.3.1", "1", "6", "D", "A", "", ""}},
         "Third level menu 2.3.1, position 6 has no parent"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        menu_data v{};
        IList_t *l = list(c.items);
        EXPECT_EQ(lumba_test::abort_text([&] { gmenu_fill_data_store(l, &v); }), c.message);
        gmenu_delete_data_store(&v);
    }
    // Fifteen elements: two items and a third whose row is empty.
    std::vector<Item> fifteen = {top1, top2, {"3"}};
    menu_data v{};
    IList_t *l = list(fifteen);
    EXPECT_EQ(lumba_test::abort_text([&] { gmenu_fill_data_store(l, &v); }), "Menu row number  not numeric");
    gmenu_delete_data_store(&v);
}

TEST_F(MenuTest, ListBuildsTheTree)
{
    menu_bg_no = 3;
    menu_data v{};
    gmenu_fill_data_store(list(tree), &v);
    EXPECT_EQ(paths(v.root), (std::vector<std::string>{"0.0.1", "0.0.2", "0.0.3", "0.0.4"}));
    const menu_item *sales = v.root, *three = v.root->next->next;
    EXPECT_EQ(paths(sales->children), (std::vector<std::string>{"1.0.1", "1.0.2"}));
    EXPECT_EQ(paths(sales->children->next->children), std::vector<std::string>{"1.2.1"});
    EXPECT_EQ(paths(three->children), std::vector<std::string>{"3.0.0"}) << "type 1 with one component: a line";
    EXPECT_STREQ(three->key, "3a") << "3a reads as 3";
    EXPECT_EQ(v.root->next->next->next->row, 0) << "row 0 loads";
    const menu_item *orders = sales->children;
    EXPECT_STREQ(orders->description, "Orders &amp; &lt;more&gt;");
    EXPECT_STREQ(orders->style, "MenuBM3");
    EXPECT_STREQ(orders->program, "07ord");
    EXPECT_STREQ(orders->short_cut, "ord");
    EXPECT_EQ(orders->parent, sales);
    EXPECT_STREQ(sales->children->next->children->description, "Day&#47;night");
    gmenu_delete_data_store(&v);
    // A key path of fifteen characters is kept whole.
    gmenu_fill_data_store(list({{"0001", "2", "1", "D", "A", "", ""},
                                {"0001.0002", "2", "2", "D", "A", "", ""},
                                {"0001.0002.0003", "1", "3", "D", "A", "07p", ""}}),
                          &v);
    EXPECT_STREQ(v.root->children->children->key, "0001.0002.0003");
    gmenu_delete_data_store(&v);
    EXPECT_EQ(v.root, nullptr);
}

TEST_F(MenuTest, ButtonsTakeTheirGroupStyleUnlessTheCountReadsZero)
{
    struct Case {
        const char *count, *style;
    } cases[] = {{"0", "ButtonNormal"}, {"abc", "ButtonNormal"}, {"", "IncomingMenuButtonIssue"},
                 {"7", "IncomingMenuButtonIssue"}, {" 00", "ButtonNormal"}};
    for (const Case &c : cases) {
        menu_button b{};
        gmenu_get_button_param(&b, "07inc", c.count, "IncomingMenuButtonIssue", 2);
        EXPECT_STREQ(b.style, c.style) << c.count;
        EXPECT_STREQ(b.count, c.count);
        g_free(b.program);
        g_free(b.count);
        g_free(b.style);
    }
}

// ---- The window ---------------------------------------------------------------------------------------------

TEST_F(MenuTest, SetupBuildsTheWindowAsTheFirstCM)
{
    menu_data *v = menu();
    ASSERT_NE(v, nullptr);
    ControlMatrix_t *cm = cm_of(CM);
    EXPECT_EQ(cm, global_data->first_cm);
    EXPECT_EQ(cm->type, CM_WT_MENU);
    EXPECT_EQ(cm->window, window());
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window())), "*** OSKA Application Manager ***");
    int w = 0, h = 0;
    gtk_window_get_default_size(GTK_WINDOW(window()), &w, &h);
    EXPECT_EQ(w, 939);  // the launch area of 1010 x 630
    EXPECT_EQ(h, 630);
    EXPECT_STREQ(global_data->menu_code, "ABCDEF");
    EXPECT_STREQ(gtk_widget_get_name(cm->child_container), "cm_container");
    EXPECT_STREQ(gtk_widget_get_name(cm->extra_widget), "cm_content");
    std::vector<GtkWidget *> parts;
    for (GtkWidget *c = gtk_widget_get_first_child(cm->extra_widget); c; c = gtk_widget_get_next_sibling(c))
        parts.push_back(c);
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_EQ(parts[0], v->header);
    EXPECT_EQ(parts[1], v->grid);
    EXPECT_EQ(parts[2], v->footer);
    EXPECT_STREQ(gtk_widget_get_name(v->footer), "footer_gmenu_setup");
    EXPECT_STREQ(gtk_widget_get_name(parts[3]), "functionkeys");
    EXPECT_EQ(GFindSoftkeys(window())->keyset, &fka);
    EXPECT_NE(GFindSoftkeys(window())->slots[12].button, nullptr) << "all thirteen keys";
    EXPECT_EQ(gtk_window_get_default_widget(GTK_WINDOW(window())), v->short_cut);
    EXPECT_TRUE(gtk_widget_has_css_class(v->short_cut, "gmenu"));
    // The buttons: Project View, then three Incoming and three Tarvel counts.
    const char *styles[] = {"ProjViewMenuTitleM",   "IncomingMenuButtonProblem", "ButtonNormal",
                            "IncomingMenuButtonOk", "TarvelMenuButtonProblem",  "ButtonNormal",
                            "TarvelMenuButtonOk"};
    for (int i = 0; i < GMENU_BUTTONS; ++i) EXPECT_STREQ(gtk_widget_get_name(v->buttons[i].button), styles[i]);
    auto count_markup = [&](int i) {
        return std::string(gtk_label_get_label(GTK_LABEL(gtk_button_get_child(GTK_BUTTON(v->buttons[i].button)))));
    };
    EXPECT_EQ(count_markup(1), "<tt>  1</tt>");
    EXPECT_EQ(count_markup(4), "<tt>1234</tt>");
    EXPECT_EQ(count_markup(6), "<tt>123456789</tt>") << "nine characters at most";
    // The grid: top-level items in column 0, nothing selected, arrows for sub-menus only.
    EXPECT_EQ(cell_text(0, 1), "<tt>  1.</tt> Sales");
    EXPECT_EQ(cell_text(0, 2), "<tt>  2.</tt> Stock");
    EXPECT_EQ(cell_text(0, 3), " ");
    EXPECT_STREQ(gtk_widget_get_name(v->cells[0][0].box), "MenuAM3");
    EXPECT_TRUE(gtk_widget_get_visible(v->cells[0][0].arrow));
    EXPECT_FALSE(gtk_widget_get_visible(v->cells[0][1].arrow)) << "an item with a program";
    EXPECT_EQ(v->cells[1][0].arrow, nullptr);
    EXPECT_EQ(entry_text(), "");
    EXPECT_STREQ(gtk_label_get_label(GTK_LABEL(v->short_cut_label)), "   ");
    // Another menu, or a menu after another window: refused.
    EXPECT_EQ(form(setup(list(tree))).abort, "The menu must be built before any other window");
}

TEST_F(MenuTest, WindowSizeFollowsTheApplicationArea)
{
    struct Case {
        int area_w, area_h, w, h;
    } cases[] = {{1010, 630, 939, 630}, {800, 600, 800, 536}, {1280, 1024, 1014, 680}};
    for (const Case &c : cases) {
        const MenuSize s = gmenu_window_size(c.area_w, c.area_h);
        EXPECT_EQ(s.width, c.w);
        EXPECT_EQ(s.height, c.h);
    }
    global_data->oae_app_width = 800;
    global_data->oae_app_height = 600;
    menu();
    int w = 0, h = 0;
    gtk_window_get_default_size(GTK_WINDOW(window()), &w, &h);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 536);
}

TEST_F(MenuTest, ThoughtOfTheDayOnRequestAndByLength)
{
    menu_data *v = menu();
    ASSERT_TRUE(GTK_IS_LABEL(v->thought_widget));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(v->thought_widget)), "Thought of the day\n");
    EXPECT_EQ(v->thought_hour, gmenu_get_time());
    struct Case {
        const char *request;
        bool scrolled;
        const char *text;
    } cases[] = {{"@5", false, "a\nb\nc\nd\ne\n"}, {"@6", true, "one\ntwo\nthree\nfour\nfive\nsix\n"}};
    for (const Case &c : cases) {
        type_text(c.request);
        EXPECT_EQ(entry_text(), c.request) << "the at sign passes every key";
        EXPECT_EQ(v->entry_mode, GMENU_MODE_THOUGHT);
        enter();
        EXPECT_EQ(entry_text(), "");
        EXPECT_EQ(v->entry_mode, GMENU_MODE_PATH);
        GtkWidget *label = v->thought_widget;
        EXPECT_EQ(gtk_widget_get_parent(label), v->thought_box);
        EXPECT_EQ(GTK_IS_SCROLLED_WINDOW(label), c.scrolled);
        if (c.scrolled) label = gtk_scrolled_window_get_child(GTK_SCROLLED_WINDOW(label));
        if (GTK_IS_VIEWPORT(label)) label = gtk_viewport_get_child(GTK_VIEWPORT(label));
        ASSERT_TRUE(GTK_IS_LABEL(label));
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label)), c.text);
        int children = 0;
        for (GtkWidget *w = gtk_widget_get_first_child(v->thought_box); w; w = gtk_widget_get_next_sibling(w)) ++children;
        EXPECT_EQ(children, 1) << "the new thought replaces the old";
    }
}

// The thought program starts with every signal at its default and none blocked, even though the
// run ignores SIGPIPE and keeps SIGWINCH as its own parent left it (here ignored): the program
// shows what /proc tells of its own signals.
TEST_F(MenuTest, TheThoughtProgramStartsWithDefaultSignals)
{
    menu_data *v = menu();
    struct sigaction ignore {}, pipe_before {}, winch_before {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &pipe_before);
    sigaction(SIGWINCH, &ignore, &winch_before);
    type_text("@9");
    enter();
    sigaction(SIGPIPE, &pipe_before, nullptr);
    sigaction(SIGWINCH, &winch_before, nullptr);
    ASSERT_TRUE(GTK_IS_LABEL(v->thought_widget));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(v->thought_widget)),
                 "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

TEST_F(MenuTest, LogoPathAndSize)
{
    const std::string big = "/tmp/menu-logo-350x100.png";
    ASSERT_EQ(std::system(("convert -size 350x100 xc:'#ff8000' " + big).c_str()), 0);
    const std::string fallback = PPATH_ROOT "/graphics/oska_menu_logo.png";
    EXPECT_EQ(gmenu_get_logo("site", big.c_str()), big);
    EXPECT_EQ(gmenu_get_logo("site", (big + " trailing words").c_str()), big) << "cut at white space";
    EXPECT_EQ(gmenu_get_logo("site", "abc"), fallback) << "shorter than 4";
    EXPECT_EQ(gmenu_get_logo("site", "/no/such/logo.png"), fallback);
    EXPECT_EQ(gmenu_get_logo("site", "logo.png"), fallback) << "looked up under the site data directory";
    EXPECT_EQ(gmenu_get_logo("site", ("/" + std::string(300, 'a')).c_str()), fallback) << "too long a name";
    struct Case {
        int w, h, shown_w, shown_h;
    } cases[] = {{350, 100, 175, 50}, {100, 200, 25, 50}, {100, 40, 100, 40}};
    for (const Case &c : cases) {
        int w = c.w, h = c.h;
        gmenu_logo_size(&w, &h);
        EXPECT_EQ(w, c.shown_w);
        EXPECT_EQ(h, c.shown_h);
    }
    ASSERT_EQ(form(setup(list(tree), "3", big)).abort, "");
    GtkWidget *logo = gtk_widget_get_last_child(gtk_widget_get_first_child(gmenu_data(gmenu_cm())->header));
    ASSERT_TRUE(GTK_IS_PICTURE(logo));
    int w = 0, h = 0;
    gtk_widget_get_size_request(logo, &w, &h);
    EXPECT_EQ(w, 175);
    EXPECT_EQ(h, 50);
    EXPECT_EQ(gtk_picture_get_content_fit(GTK_PICTURE(logo)), GTK_CONTENT_FIT_CONTAIN);
    std::remove(big.c_str());
}

TEST_F(MenuTest, RedrawShowsTheSelectedPathInPixels)
{
    menu_data *v = menu();
    ASSERT_TRUE(lumba_test::wait_drawn(window()));
    EXPECT_EQ(gmenu_display_short_cut("1.2", global_data), 0);
    EXPECT_EQ(entry_text(), "1.2");
    EXPECT_EQ(cell_text(0, 1), "<b><tt>  1.</tt><i> Sales</i></b>");
    EXPECT_EQ(cell_text(1, 3), "<b><tt>  2.</tt><i> Reports</i></b>");
    EXPECT_EQ(cell_text(1, 2), "<tt>  1.</tt> Orders &amp; &lt;more&gt;");
    EXPECT_EQ(cell_text(2, 4), "<tt>  1.</tt> Day&#47;night");
    // A MenuCM3 cell is painted in its style's colour, as are the empty cells after it.
    ASSERT_TRUE(lumba_test::wait_until([&] {
        lumba_test::Snapshot s = lumba_test::snapshot(v->cells[1][2].box);
        return !s.empty() && s.count({0x80, 0xff, 0x00, 0xff}, 8) > 0;
    }));
    EXPECT_GT(lumba_test::snapshot(v->cells[2][3].box).count({0x00, 0x80, 0x80, 0xff}, 8), 0) << "MenuDM3";
    lumba_test::Snapshot empty = lumba_test::snapshot(v->cells[2][19].box);
    EXPECT_GT(empty.count({0x80, 0xff, 0x00, 0xff}, 8), 0) << "MenuCM3, the style of the last item drawn";
    // The selected item's bold italic text carries more ink than the same text plain.
    GtkWidget *plain = gtk_label_new(nullptr), *bold = gtk_label_new(nullptr);
    oska_label_set_markup(plain, "<tt>  2.</tt> Reports");
    oska_label_set_markup(bold, cell_text(1, 3).c_str());
    GtkWidget *probe = gtk_window_new(), *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_append(GTK_BOX(box), plain);
    gtk_box_append(GTK_BOX(box), bold);
    gtk_window_set_child(GTK_WINDOW(probe), box);
    gtk_window_present(GTK_WINDOW(probe));
    ASSERT_TRUE(lumba_test::wait_drawn(bold));
    EXPECT_GT(lumba_test::snapshot(bold).dark_pixels(), lumba_test::snapshot(plain).dark_pixels());
    gtk_window_destroy(GTK_WINDOW(probe));
}

TEST_F(MenuTest, LongestDescriptionWithMarkupCharactersCanBeSelected)
{
    const std::string description = std::string(61, 'x') + "&<";
    ASSERT_EQ(description.size(), 63u);
    ASSERT_EQ(form(setup(list({{"1", "2", "1", description, "A", "07long", "lg"}}))).abort, "");
    EXPECT_EQ(gmenu_display_short_cut("lg", global_data), 1);
    menu_data *v = gmenu_data(gmenu_cm());
    const std::string markup = cell_text(0, 1);
    EXPECT_EQ(markup, "<b><tt>  1.</tt><i> " + std::string(61, 'x') + "&amp;&lt;</i></b>");
    EXPECT_TRUE(pango_parse_markup(markup.c_str(), -1, 0, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ(v->selected_description, (std::string(61, 'x') + "&amp;&lt;").c_str());
    EXPECT_STREQ(v->selected_program, "07long");
}

TEST_F(MenuTest, ALongDescriptionEndsInAnEllipsisInsideTheWindow)
{
    // On a screen of 1024 the window keeps its default width: the logo, the version and the last
    // function key stay in it.
    record.oae_app_width = 1024;
    record.oae_app_height = 768;
    const std::string description = "Monthly statement of all open items by customer, region, agents";
    ASSERT_EQ(description.size(), 63u);
    ASSERT_EQ(form(setup(list({{"1", "2", "1", description, "A", "07long", "lg"},
                               {"2", "2", "2", description, "A", "07long2", "lh"}})))
                  .abort,
              "");
    EXPECT_EQ(gmenu_display_short_cut("lg", global_data), 1) << "the selected item: bold and italic";
    menu_data *v = gmenu_data(gmenu_cm());
    gtk_window_present(GTK_WINDOW(window()));
    const lumba_test::Snapshot picture = drawn(window());
    int default_width = 0, default_height = 0;
    gtk_window_get_default_size(GTK_WINDOW(window()), &default_width, &default_height);
    const int width = gtk_widget_get_width(window());
    EXPECT_EQ(width, default_width);
    EXPECT_EQ(default_width, 1014);
    GtkWidget *row_one = gtk_widget_get_first_child(v->header);
    GtkWidget *row_two = gtk_widget_get_next_sibling(row_one);
    struct Part {
        const char *what;
        GtkWidget *widget;
    } parts[] = {{"logo", gtk_widget_get_last_child(row_one)},
                 {"version", gtk_widget_get_last_child(row_two)},
                 {"F12", GFindSoftkeys(window())->slots[12].button}};
    for (const Part &p : parts) {
        graphene_rect_t r{};
        ASSERT_TRUE(gtk_widget_compute_bounds(p.widget, window(), &r)) << p.what;
        EXPECT_GT(r.size.width, 0) << p.what;
        EXPECT_LE(r.origin.x + r.size.width, width) << p.what << " inside the window";
    }
    PangoLayout *layout = gtk_label_get_layout(GTK_LABEL(v->cells[0][0].label));
    EXPECT_TRUE(pango_layout_is_ellipsized(layout)) << "the cell cut its text";
    if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR")) picture.save_png(std::string(dir) + "/menu_long.png");
}

// ---- Rebuilding intrinsics -------------------------------------------------------------------------------

TEST_F(MenuTest, ResetSetButtonsShortCutsAndRefresh)
{
    menu_data *v = menu();
    GtkWidget *old_grid = v->grid;
    const std::string menu_cm = number(gmenu_cm());  // a later program's own variables start at 0
    const std::string reset = menu_cm + str("New title") + str("site") + str("") +
                              number(list({{"5", "2", "1", "Five", "C", "07five", "fv"}})) + str("07inc") +
                              str("07790m") + str("07tar") + str("0") + str("2") + str("3") + str("4") + str("5") +
                              str("6") + str("x") + st(in_IGMENU_RESET, 15);
    const std::string buttons = menu_cm + str("9") + str("0") + str("8") + str("7") + str("6") + str("5") +
                                st(in_IGMENU_SET_BUTTONS, 7);
    const std::string shortcuts = menu_cm + num(1) + st(in_IGMENU_SET_SHORTCUT, 2);
    ASSERT_EQ(form(reset + buttons + shortcuts + st(in_IGMENU_REFRESH, 0)).abort, "");
    EXPECT_NE(v->grid, old_grid);
    ControlMatrix_t *cm = gmenu_cm();
    EXPECT_STREQ(v->code, "ABCDEFGH") << "the code stays";
    EXPECT_STREQ(v->title, "New title");
    EXPECT_EQ(cell_text(0, 1), "<tt>  5.</tt> Five");
    EXPECT_STREQ(v->root->style, "MenuCM0") << "a background that is no number reads 0";
    EXPECT_STREQ(gtk_widget_get_name(v->footer), "footer_set_buttons");
    EXPECT_STREQ(v->buttons[2].count, "0");
    EXPECT_STREQ(v->buttons[1].style, "ButtonNormal") << "the styles stay as the reset left them";
    EXPECT_STREQ(v->buttons[2].style, "IncomingMenuButtonIssue");
    GtkWidget *content = cm->extra_widget;
    EXPECT_EQ(gtk_widget_get_first_child(content), v->header);
    EXPECT_STREQ(gtk_widget_get_name(gtk_widget_get_last_child(content)), "functionkeys");
    EXPECT_EQ(v->show_short_cuts, 1);
    EXPECT_EQ(cm->menu_refresh_due, 1);
    EXPECT_EQ(gtk_window_get_default_widget(cm_real_window(cm)), v->short_cut);
    EXPECT_EQ(gmenu_display_short_cut("fv", global_data), 1);
    EXPECT_STREQ(gtk_label_get_label(GTK_LABEL(v->short_cut_label)), "fv") << "short cuts shown";
    // On anything but the menu.
    struct Case {
        std::string call, message;
    } cases[] = {
        {num(0L) + str("t") + str("s") + str("l") + num(0L) + str("a") + str("b") + str("c") + str("1") + str("2") +
             str("3") + str("4") + str("5") + str("6") + str("0") + st(in_IGMENU_RESET, 15),
         "May only use igmenu_reset on a Menu"},
        {num(0L) + str("1") + str("2") + str("3") + str("4") + str("5") + str("6") + st(in_IGMENU_SET_BUTTONS, 7),
         "May only use igmenu_set_buttons on a Menu"},
        {num(0L) + num(1) + st(in_IGMENU_SET_SHORTCUT, 2), "May only use igmenu_set_shortcut on a Menu"},
        {num(0L) + sref(TS) + st(in_IGMENU_GET, 2), "May only use igmenu_get on a Menu"},
    };
    for (const Case &c : cases) EXPECT_EQ(form(c.call).abort, c.message);
}

// ---- Navigation -------------------------------------------------------------------------------------------

TEST_F(MenuTest, EntryKeysInTheThreeModes)
{
    menu();
    struct Case {
        const char *keys;
        const char *entry;
    } cases[] = {
        {"12345678901", "1234567890"},   // an eleventh digit is dropped (no item 12... is opened)
        {"Q", ""},                       // a first capital is dropped
        {"qQ", "qq"},                    // after a lower-case first letter, capitals are added in lower case
        {"abcdefghijk", "abcdefghij"},   // an eleventh letter is dropped
        {"abcdefghijQ", "abcdefghij"},
        {"1a*+", "1"},                   // letters and operators after a digit are dropped
        {"1 ", "1 "},                    // space reaches the entry
        {"@Q.1", "@Q.1"},                // after the at sign every key reaches the entry
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.keys);
        gtk_editable_set_text(GTK_EDITABLE(gmenu_data(gmenu_cm())->short_cut), "");
        type_text(c.keys);
        EXPECT_EQ(entry_text(), c.entry);
    }
    // In thought mode the function keys and Escape pass as well.
    EXPECT_FALSE(type(GDK_KEY_Escape));
    EXPECT_FALSE(type(GDK_KEY_F1));
    EXPECT_TRUE(asked().empty());
    // Backspace passes in every mode; in path mode Tab and arrows are dropped, F5 passed.
    gtk_editable_set_text(GTK_EDITABLE(gmenu_data(gmenu_cm())->short_cut), "");
    type_text("1");
    EXPECT_FALSE(type(GDK_KEY_BackSpace));
    EXPECT_TRUE(type(GDK_KEY_Tab));
    EXPECT_TRUE(type(GDK_KEY_Left));
    EXPECT_FALSE(type(GDK_KEY_F5));
    EXPECT_FALSE(type(GDK_KEY_Return));
}

TEST_F(MenuTest, DotOpensASubMenuAndClears)
{
    menu_data *v = menu();
    type_text("1.");
    EXPECT_EQ(entry_text(), "1.");
    EXPECT_EQ(cell_text(1, 2), "<tt>  1.</tt> Orders &amp; &lt;more&gt;") << "column 1 opened";
    type_text("2.");
    EXPECT_EQ(entry_text(), "1.2.");
    EXPECT_EQ(cell_text(2, 4), "<tt>  1.</tt> Day&#47;night");
    type_text(".");  // after a dot: clears
    EXPECT_EQ(entry_text(), "");
    EXPECT_EQ(cell_text(1, 2), " ");
    EXPECT_EQ(v->root->selected, 0);
    type_text(".");  // on an empty entry: clears
    EXPECT_EQ(entry_text(), "");
    // A dot after a path naming an item with a program: the item is chosen and the dot appended.
    type_text("2.");
    EXPECT_EQ(entry_text(), "2.");
    EXPECT_STREQ(v->selected_program, "07stock");
    // In short-cut mode a dot always clears.
    gtk_editable_set_text(GTK_EDITABLE(v->short_cut), "");
    type_text("st.");
    EXPECT_EQ(entry_text(), "");
    // Typing 9 and a dot with no top-level 9: the message, and the entry stays empty.
    lumba_test::DialogScript script({0});
    type_text("9.");
    ASSERT_EQ(script.asked().size(), 1u);
    EXPECT_EQ(script.asked()[0].text, "Invalid menu selection");
    EXPECT_EQ(script.asked()[0].style, "error");
    EXPECT_EQ(entry_text(), "");
}

TEST_F(MenuTest, FunctionKeysAndEscapeRunTheMenusRoutines)
{
    menu();
    struct Case {
        guint keyval;
        std::string run;
    } cases[] = {
        {GDK_KEY_F1, "invoke 51 index=0 must=1 program="}, {GDK_KEY_F2, "invoke 52 index=0 must=1 program="},
        {GDK_KEY_F3, "invoke 53 index=0 must=1 program="}, {GDK_KEY_F8, "invoke 58 index=0 must=1 program="},
        {GDK_KEY_F12, "invoke 62 index=0 must=0 program="}, {GDK_KEY_Escape, "escape block=1"},
    };
    for (const Case &c : cases) {
        asked().clear();
        EXPECT_TRUE(type(c.keyval));
        EXPECT_EQ(asked(), std::vector<std::string>{c.run});
    }
    asked().clear();
    EXPECT_FALSE(type(GDK_KEY_F5)) << "F5 does nothing here";
    EXPECT_TRUE(asked().empty());
}

TEST_F(MenuTest, SelectionByPathShortCutAndBadPath)
{
    menu_data *v = menu();
    GlobalData_t *gd = global_data;
    EXPECT_EQ(gmenu_display_short_cut("1.1", gd), 1);
    EXPECT_STREQ(v->selected_program, "07ord");
    EXPECT_STREQ(v->selected_key, "1.1");
    EXPECT_STREQ(v->selected_short_cut, "ord");
    EXPECT_EQ(gmenu_display_short_cut("day", gd), 1) << "by short cut";
    EXPECT_STREQ(v->selected_program, "07day");
    EXPECT_EQ(entry_text(), "1.2.1");
    EXPECT_EQ(v->root->selected, 1) << "its ancestors marked";
    EXPECT_EQ(gmenu_display_short_cut("line", gd), 1) << "the unnumbered line, by short cut only";
    EXPECT_EQ(gmenu_display_short_cut("nothing", gd), 0) << "no message for an unknown short cut";
    EXPECT_EQ(gmenu_display_short_cut("", gd), 0);
    lumba_test::DialogScript script({0, 0});
    EXPECT_EQ(gmenu_display_short_cut("9", gd), 0);
    EXPECT_EQ(entry_text(), "");
    EXPECT_EQ(gmenu_display_short_cut("1.9", gd), 0);
    EXPECT_EQ(entry_text(), "1") << "the valid part";
    ASSERT_EQ(script.asked().size(), 2u);
    EXPECT_EQ(script.asked()[1].text, "Invalid menu selection");
    EXPECT_EQ(gmenu_display_short_cut("4", gd), 0) << "the row-0 sub-menu is reached by its path";
    EXPECT_EQ(entry_text(), "4");
    EXPECT_EQ(gmenu_clear_selected(gd), 1);
    EXPECT_EQ(v->root->next->next->next->selected, 0);
}

TEST_F(MenuTest, EnterLaunchesThroughThePostFocusRoutine)
{
    menu_data *v = menu();
    install_program("07ord");
    // The path of an existing program: the menu's Post_Focus routine at index 0 runs, IGMENU_GET
    // giving it the program.
    type_text("1.1");
    enter();
    EXPECT_EQ(asked(), std::vector<std::string>{"invoke 1 index=0 must=1 program=07ord"});
    EXPECT_EQ(entry_text(), "1.1");
    ASSERT_EQ(form(number(gmenu_cm()) + sref(TS) + st(in_IGMENU_GET, 2) + sfn(in_IGMENU_KEY, 0) + sset(IPS)).abort, "");
    EXPECT_EQ(text(TS, 5), "07ord");
    EXPECT_EQ(text(IPS), "1") << "the entry as the last key found it (\"1.\"), less its trailing dot";
    // Its short cut: the entry shows the path first.
    asked().clear();
    gtk_editable_set_text(GTK_EDITABLE(v->short_cut), "");
    type_text("ord");
    enter();
    EXPECT_EQ(asked(), std::vector<std::string>{"invoke 1 index=0 must=1 program=07ord"});
    EXPECT_EQ(entry_text(), "1.1");
    EXPECT_EQ(v->entry_mode, GMENU_MODE_PATH);
    // A program whose file is missing, and the Project View program's own message.
    asked().clear();
    lumba_test::DialogScript script({0, 0, 0});
    gtk_editable_set_text(GTK_EDITABLE(v->short_cut), "");
    type_text("2");
    enter();
    g_strlcpy(v->selected_program, "07790m  ", sizeof v->selected_program);
    gmenu_finish(nullptr, v, v->short_cut, global_data);
    // A bad path: the message, the entry keeps the valid part and a dot.
    gtk_editable_set_text(GTK_EDITABLE(v->short_cut), "");
    type_text("1.9");
    enter();
    EXPECT_EQ(entry_text(), "1.");
    EXPECT_TRUE(asked().empty());
    ASSERT_EQ(script.asked().size(), 3u);
    EXPECT_EQ(script.asked()[0].text, "This will be the 07stock program");
    EXPECT_EQ(script.asked()[0].style, "info");
    EXPECT_EQ(script.asked()[1].text, "This will be the Project View program");
    EXPECT_EQ(script.asked()[2].text, "Invalid menu selection");
    // A busy search lock drops the Enter.
    global_data->menu_search_lock = 1;
    gtk_editable_set_text(GTK_EDITABLE(v->short_cut), "1.1");
    enter();
    global_data->menu_search_lock = 0;
    EXPECT_TRUE(asked().empty());
}

TEST_F(MenuTest, ClicksOnCellsAndFooterButtons)
{
    menu_data *v = menu();
    install_program("07stock");
    install_program("07790m");
    auto click = [](GtkWidget *w, const char *gesture) {
        g_signal_emit_by_name(oska_widget_get_controller(w, gesture), "pressed", 1, 5.0, 5.0);
        forms_rethrow_kept();
    };
    click(v->cells[1][1].box, "gmenu-setup--button");
    EXPECT_EQ(entry_text(), "") << "column 1 with nothing marked changes nothing visible";
    click(v->cells[0][0].box, "gmenu-setup--button");
    EXPECT_EQ(entry_text(), "1");
    EXPECT_EQ(cell_text(1, 2), "<tt>  1.</tt> Orders &amp; &lt;more&gt;");
    click(v->cells[0][1].box, "gmenu-setup--button");
    EXPECT_EQ(asked(), std::vector<std::string>{"invoke 1 index=0 must=1 program=07stock"});
    // The Project View button launches its program; the selection is cleared first.
    asked().clear();
    click(v->buttons[0].button, "gmenu-add-button");
    EXPECT_EQ(asked(), std::vector<std::string>{"invoke 1 index=0 must=1 program=07790m"});
    EXPECT_EQ(entry_text(), "");
    EXPECT_STREQ(v->selected_key, "");
}

TEST_F(MenuTest, AKeyPathOfFifteenCharactersIsChosenWhole)
{
    ASSERT_EQ(form(setup(list({{"0001", "2", "1", "D", "A", "", ""},
                               {"0001.0002", "2", "2", "D", "A", "", ""},
                               {"0001.0002.0003", "1", "3", "D", "A", "07p", ""}})))
                  .abort,
              "");
    EXPECT_EQ(gmenu_display_short_cut("1.2.3", global_data), 1);
    EXPECT_STREQ(gmenu_data(gmenu_cm())->selected_key, "0001.0002.0003");
}

TEST_F(MenuTest, AFormBorrowsTheWindowAndGivesItBack)
{
    menu_data *v = menu();
    ControlMatrix_t *menu_cm = gmenu_cm();
    GtkWidget *content = menu_cm->extra_widget;
    ASSERT_EQ(form(str("b") + fn(in_IGWIN_NEW, 1) + set(E) + ref(CM2) + val(E) + st(in_ICATTACH_WINDOW, 2) + val(E) +
                   fn(in_IGVBOX_NEW, 1) + set(Y))
                  .abort,
              "");
    GtkWidget *menu_window = reinterpret_cast<GtkWidget *>(handle(E));
    EXPECT_EQ(menu_cm->window, CM_WINDOWLESS);
    EXPECT_EQ(gtk_widget_get_parent(content), nullptr) << "the menu's content is put aside";
    EXPECT_EQ(GFindSoftkeys(menu_window), nullptr);
    EXPECT_EQ(menu_cm->function_keys, nullptr);
    ControlMatrix_t *form_cm = cm_of(CM2);
    EXPECT_EQ(form_cm->window, menu_window);
    // Keys in the hidden entry are not the menu's now.
    EXPECT_FALSE(type(GDK_KEY_F1));
    EXPECT_TRUE(asked().empty());
    // The form closes: the menu takes its window back with its bar.
    form_cm->closing = 1;
    ccallbacks_finish_event(1, 1);
    forms_rethrow_kept();
    EXPECT_EQ(global_data->last_cm, menu_cm);
    EXPECT_EQ(menu_cm->window, menu_window);
    EXPECT_EQ(gtk_widget_get_parent(content), menu_cm->child_container);
    EXPECT_TRUE(gtk_widget_get_visible(content));
    EXPECT_EQ(gtk_widget_get_first_child(menu_cm->child_container), content) << "the form's content is gone";
    ASSERT_NE(GFindSoftkeys(menu_window), nullptr);
    EXPECT_STREQ(gtk_widget_get_name(gtk_widget_get_last_child(content)), "functionkeys");
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(menu_window)), "*** OSKA Application Manager ***");
    EXPECT_EQ(gtk_window_get_default_widget(GTK_WINDOW(menu_window)), v->short_cut);
    int w = 0, h = 0;
    gtk_window_get_default_size(GTK_WINDOW(menu_window), &w, &h);
    EXPECT_EQ(w, 939);
    EXPECT_EQ(h, 630);
    EXPECT_FALSE(gtk_widget_get_sensitive(GFindSoftkeys(menu_window)->slots[1].button)) << "F1: nothing attached";
    EXPECT_TRUE(gtk_widget_get_sensitive(GFindSoftkeys(menu_window)->slots[0].button));
}

// ---- With the forms engine's own routine runs ----------------------------------------------------------

namespace {

// Routines of the launch tests (after the forms fixture's post, plain and texts):
//   4 opener (cm, ind), the menu's Post_Focus: opens a form (IGWIN_NEW "b", ICATTACH_WINDOW into a
//     local that it empties first, as it keeps the last form's handle, and a box)
//     with closer as its Escape routine, logs "opened <IGMENU_GET>", answers 1;
//   5 closer (cm, ind): logs "form escape", answers 1;
//   6 leaver (cm, ind), the menu's Escape: logs "menu escape", answers COMMON cell 0.
enum { OPENER = 4, CLOSER, LEAVER };

std::string local(int v) { return "loadrvd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string local_ref(int v) { return "loadrad I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string to_local(int v) { return "storrd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string log_text(const std::string &pieces, int n)
{
    return num(0L) + pieces + (n > 1 ? "scat I:" + std::to_string(n) + "\n" : "") + st(in_IMLOG, 2);
}
std::string two_params(const char *name)
{
    return "symtab\n__ROUTINE__ " + std::string(name) + " 2\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\n"
           "__END_ROUTINE__\n.end\n";
}

const std::string launch_routines =
    standard_routines +
    // opener: W (local 0), CMF (local 1), S$ (local text 0)
    ".nfunc r:opener I:0 I:0 I:2 I:20 I:0 I:2\n" + num(0L) + to_local(1) + str("b") + fn(in_IGWIN_NEW, 1) +
    to_local(0) + local_ref(1) + local(0) + st(in_ICATTACH_WINDOW, 2) + local(0) + fn(in_IGVBOX_NEW, 1) +
    to_local(0) + str("Escape") + num(CLOSER) + local_ref(1) + num(0L) + st(in_ICATTACH_FUN, 4) +
    "loadrvi I:0 I:0 I:1 I:0 I:0 I:0\n" +
    "loadsad I:0 I:1 I:20 I:0 I:0 I:0 I:0 I:0\n" + st(in_IGMENU_GET, 2) +
    log_text(str("opened ") + "loadsvd I:0 I:1 I:20 I:0 I:0 I:0 I:0 I:0\n", 2) + num(1) + "exitv\n" +
    ".nfunc r:closer I:0 I:0 I:0 I:0 I:0 I:2\n" + log_text(str("form escape"), 1) + num(1) + "exitv\n" +
    ".nfunc r:leaver I:0 I:0 I:0 I:0 I:0 I:2\n" + log_text(str("menu escape"), 1) +
    "loadrvd I:0 I:0 I:0 I:0 I:0\n" + "exitv\n" +
    "symtab\n__ROUTINE__ opener 5\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nW 0 0 0x12 0 3 -\n"
    "CMF 0 0 0x12 1 4 -\nS$ 20 0 0x14 0 5 -\n__END_ROUTINE__\n.end\n" +
    two_params("closer") + two_params("leaver");

} // namespace

class MenuLaunchTest : public MenuTest {
protected:
    void SetUp() override
    {
        MenuTest::SetUp();
        set_forms_event_calls(saved_calls);  // the forms engine's own handlers and routine runs
        record.log_level_basic = 0;
        install_program("07ord");
    }
    // The test menu with opener as its Post_Focus routine and leaver as its Escape routine.
    menu_data *launching_menu()
    {
        const Outcome o = form(".common I:1 I:0\n" + setup(list(tree)) +
                                   routine_test::attach(CM, "Post", OPENER, 0, false) +
                                   routine_test::attach(CM, "Escape", LEAVER, 0, false),
                               launch_routines);
        EXPECT_EQ(o.abort, "");
        return gmenu_cm() ? gmenu_data(gmenu_cm()) : nullptr;
    }
    void menu_escape_answers(long v) { NumericCvLONG(v, &static_cast<dec_t *>(Common_variables)[0]); }
    // Runs work and answers what the routines logged (abort text first when it stopped).
    std::vector<std::string> logged(const std::function<void()> &work)
    {
        testing::internal::CaptureStderr();
        const std::string stop = lumba_test::abort_text([&] {
            work();
            forms_rethrow_kept();
        });
        std::vector<std::string> lines;
        if (!stop.empty()) lines.push_back("stopped: " + stop);
        for (const std::string &l : log_lines(testing::internal::GetCapturedStderr()))
            if (l.rfind("B ", 0) == 0) lines.push_back(l.substr(2));
        return lines;
    }
};

TEST_F(MenuLaunchTest, AFormTheLaunchOpensShowsInTheMenuWindowAndGivesItBack)
{
    menu_data *v = launching_menu();
    ASSERT_NE(v, nullptr);
    ControlMatrix_t *menu_cm = gmenu_cm();
    GtkWidget *menu_window = window(), *content = menu_cm->extra_widget;
    struct Case {
        const char *how;
        std::function<void(GtkWidget *)> close;
    } cases[] = {
        {"Escape key", [](GtkWidget *w) {
             GtkEventController *keys = gtk_event_controller_key_new();
             gtk_widget_add_controller(w, keys);
             on_key_press_event(GTK_EVENT_CONTROLLER_KEY(keys), GDK_KEY_Escape, 0, GdkModifierType(0), global_data);
         }},
        {"close button", [](GtkWidget *w) { gtk_window_close(GTK_WINDOW(w)); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.how);
        gtk_editable_set_text(GTK_EDITABLE(v->short_cut), "");
        EXPECT_EQ(logged([&] {
                      type_text("1.1");
                      enter();
                  }),
                  std::vector<std::string>{"opened 07ord"});
        // The form shows in the menu's window; the menu's content and bar are put aside.
        ControlMatrix_t *form_cm = global_data->last_cm;
        ASSERT_NE(form_cm, menu_cm);
        EXPECT_EQ(form_cm->prior, menu_cm);
        EXPECT_EQ(form_cm->window, menu_window);
        EXPECT_EQ(menu_cm->window, CM_WINDOWLESS);
        EXPECT_EQ(gtk_widget_get_parent(content), nullptr);
        EXPECT_EQ(GFindSoftkeys(menu_window), nullptr);
        // The form's Escape routine closes it: the end of the event gives the window back to the menu.
        EXPECT_EQ(logged([&] { c.close(menu_window); }), std::vector<std::string>{"form escape"});
        EXPECT_EQ(global_data->last_cm, menu_cm);
        EXPECT_EQ(menu_cm->window, menu_window);
        EXPECT_TRUE(GTK_IS_WINDOW(menu_window)) << "the window stays";
        EXPECT_EQ(gtk_widget_get_parent(content), menu_cm->child_container);
        EXPECT_TRUE(gtk_widget_get_visible(content));
        ASSERT_NE(GFindSoftkeys(menu_window), nullptr);
        EXPECT_STREQ(gtk_widget_get_name(gtk_widget_get_last_child(content)), "functionkeys");
        EXPECT_TRUE(gtk_widget_is_ancestor(GFindSoftkeys(menu_window)->slots[0].button, content));
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(menu_window)), "*** OSKA Application Manager ***");
        EXPECT_EQ(gtk_window_get_default_widget(GTK_WINDOW(menu_window)), v->short_cut);
    }
}

TEST_F(MenuLaunchTest, TheCloseButtonEscapeButtonAndKeyRunTheMenusEscapeRoutine)
{
    struct Case {
        const char *how;
        std::function<void()> escape;
    } cases[] = {
        {"close button", [this] { gtk_window_close(GTK_WINDOW(window())); }},
        {"the bar's Escape button", [this] {
             GtkWidget *button = GFindSoftkeys(window())->slots[0].button;
             g_signal_emit_by_name(oska_widget_get_controller(button, "gsoftkey-Esc-button"), "pressed", 1, 5.0, 5.0);
         }},
        {"Escape in the entry", [this] { type(GDK_KEY_Escape); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.how);
        launching_menu();
        global_data->last_key = 0;
        menu_escape_answers(0);
        EXPECT_EQ(logged(c.escape), std::vector<std::string>{"menu escape"});
        EXPECT_EQ(global_data->first_cm, gmenu_cm()) << "refused: the routine answered false";
        ASSERT_NE(gmenu_cm(), nullptr);
        EXPECT_EQ(gmenu_cm()->closing, 0);
        menu_escape_answers(1);
        EXPECT_EQ(logged(c.escape), std::vector<std::string>{"menu escape"});
        EXPECT_EQ(global_data->first_cm, nullptr) << "the window went, and its CM with it";
        EXPECT_EQ(toplevels().size(), 0u);
        if (std::string(c.how) == "close button") {
            EXPECT_EQ(global_data->last_key, GDK_KEY_Escape);
        }
    }
}
