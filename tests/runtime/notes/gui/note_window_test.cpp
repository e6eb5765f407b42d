// The note edit window in-process: what it shows by mode, its keys (split, join, typing, the
// amount filter) called with key values, the edit refusal, and the roads out (save and cancel).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "ccallback.h"
#include "gmisc.h"
#include "gnote_edit.h"
#include "gnote_edit_parts.h"  // gnote_parse_text2XML: the list as the user sees it
#include "gui_env.h"
#include "mem_mgt.h"
#include "note_field_fixture.h"
#include "test_host.h"

using namespace forms_test;
using namespace note_test;

namespace {


const std::string AM = amount("1234.50");
const std::string tags = R"(<tag name="T1" start="true">Block</tag><tag name="T1" start="false"></tag>)";

// Depth-first search of a widget tree.
GtkWidget *find(GtkWidget *w, const std::function<bool(GtkWidget *)> &match)
{
    if (match(w)) return w;
    for (GtkWidget *c = gtk_widget_get_first_child(w); c; c = gtk_widget_get_next_sibling(c))
        if (GtkWidget *f = find(c, match)) return f;
    return nullptr;
}
GtkWidget *named(GtkWidget *root, const char *name)
{
    return find(root, [name](GtkWidget *w) { return std::strcmp(gtk_widget_get_name(w), name) == 0; });
}

// The labels of a menu model's submenu items, "File:_Quit" and so on.
std::vector<std::string> menu_labels(GMenuModel *model)
{
    std::vector<std::string> out;
    for (int i = 0; i < g_menu_model_get_n_items(model); ++i) {
        char *title = nullptr;
        g_menu_model_get_item_attribute(model, i, G_MENU_ATTRIBUTE_LABEL, "s", &title);
        GMenuModel *sub = g_menu_model_get_item_link(model, i, G_MENU_LINK_SUBMENU);
        for (int j = 0; sub && j < g_menu_model_get_n_items(sub); ++j) {
            char *label = nullptr;
            g_menu_model_get_item_attribute(sub, j, G_MENU_ATTRIBUTE_LABEL, "s", &label);
            out.push_back(std::string(title) + ":" + label);
            g_free(label);
        }
        if (sub) g_object_unref(sub);
        g_free(title);
    }
    return out;
}

std::vector<std::string> tooltips(GtkWidget *toolbar)
{
    std::vector<std::string> out;
    for (GtkWidget *c = gtk_widget_get_first_child(toolbar); c; c = gtk_widget_get_next_sibling(c))
        out.push_back(gtk_widget_get_tooltip_text(c));
    return out;
}

// The runs of one kind as "[s,e)" pairs.
std::string runs(const NoteElement_t *e)
{
    std::string out;
    for (int i = 0; i < e->p.bold_count; ++i)
        out += "[" + std::to_string(e->p.bold_start[i]) + "," + std::to_string(e->p.bold_end[i]) + ")";
    return out;
}

// The characters of a view under its bold tag, as "[s,e)" ranges.
std::string bold_chars(const NoteElement_t *e)
{
    std::string out;
    GtkTextIter it;
    gtk_text_buffer_get_start_iter(e->p.buffer, &it);
    int from = -1;
    for (;; gtk_text_iter_forward_char(&it)) {
        const bool bold = !gtk_text_iter_is_end(&it) && gtk_text_iter_has_tag(&it, e->p.bold_tag);
        const int at = gtk_text_iter_get_offset(&it);
        if (bold && from < 0) from = at;
        if (!bold && from >= 0) {
            out += "[" + std::to_string(from) + "," + std::to_string(at) + ")";
            from = -1;
        }
        if (gtk_text_iter_is_end(&it)) return out;
    }
}

} // namespace

class NoteWindowTest : public NoteFieldTest {
public:
    // An idle source's function: saves (save_at_once) or cancels the edit window as soon as there is
    // one, as F12 or Escape typed the moment it appears do.
    bool save_at_once = false;
    static gboolean close_at_once(gpointer data)
    {
        auto *test = static_cast<NoteWindowTest *>(data);
        ControlMatrix_t *window = test->edit_cm();
        if (!window) return G_SOURCE_CONTINUE;
        if (test->save_at_once)
            window_kind(CM_WT_NOTE).save(window);
        else
            window_kind(CM_WT_NOTE).cancel(window, GDK_KEY_Escape);
        return G_SOURCE_REMOVE;
    }

protected:
    // A form whose note (mode) holds elements, with the field being edited and the window open.
    NoteData_t *open(int mode, const std::string &elements, const std::string &number = "N1",
                     const std::string &extra = "")
    {
        EXPECT_EQ(note_program(note_form(mode) + extra + print(number, note_of(elements), mode)).abort, "");
        return open_edit_window();
    }
    // A key on an element's view or input, as its key controller hands it on.
    static gboolean key(NoteElement_t *e, guint keyval, GdkModifierType state = GdkModifierType(0))
    {
        return press_key(e, keyval, state);
    }
    static void cursor_at(NoteElement_t *e, int chars)
    {
        GtkTextIter it;
        gtk_text_buffer_get_iter_at_offset(e->p.buffer, &it, chars);
        gtk_text_buffer_place_cursor(e->p.buffer, &it);
    }
};

TEST_F(NoteWindowTest, TheWindowShowsItsMenusToolsHeadingAndKeysByMode)
{
    struct Case {
        int mode;
        std::vector<std::string> menu, tips;
    };
    const Case cases[] = {
        {2,
         {"File:_Quit", "File:_Save", "Edit:_Bold", "Edit:_Italic", "Edit:_Underline", "Edit:Add A_mount",
          "Edit:D_elete Amount", "Edit:_Hidden comments", "Edit:App_rove"},
         {"Bold the selected text", "Make the selected text italic", "Underline the selected text",
          "Add an amount field", "Delete an amount field", "Toggle hidden comments visibility", "Approve the note"}},
        {3,
         {"File:_Quit", "File:_Save", "Edit:_Bold", "Edit:_Italic", "Edit:_Underline", "Edit:Add A_mount",
          "Edit:D_elete Amount", "Edit:_Tag", "Edit:_Hidden comment", "Edit:App_rove"},
         {"Bold the selected text", "Make the selected text italic", "Underline the selected text",
          "Add an amount field", "Delete an amount field", "Highlight block and add start and end tags",
          "Toggle hidden comment status for a paragraph", "Approve the note"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        NoteData_t *n = open(c.mode, para("one <b>two</b> three") + AM + tags + para("Secret", H) + para("last"));
        ControlMatrix_t *w = edit_cm();
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->window_data, n);
        EXPECT_EQ(w->prior, cm());
        GtkWidget *window = w->window;
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window)), "N1");
        EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(window)));
        EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(window)), GTK_WINDOW(cm()->window));
        EXPECT_EQ(n->display_state, 4);
        GtkWidget *bar = find(window, [](GtkWidget *x) { return GTK_IS_POPOVER_MENU_BAR(x); });
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(menu_labels(gtk_popover_menu_bar_get_menu_model(GTK_POPOVER_MENU_BAR(bar))), c.menu);
        GtkWidget *tools = find(window, [](GtkWidget *x) { return gtk_widget_has_css_class(x, "toolbar"); });
        ASSERT_NE(tools, nullptr);
        EXPECT_EQ(tooltips(tools), c.tips);
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(named(window, "l1NoteEdit"))), "TY");
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(named(window, "l2NoteEdit"))), "Desc");
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(named(window, "l3NoteEdit"))), "1,234.50");
        EXPECT_NE(named(window, "functionkeys"), nullptr);
        // Views: the bold run, the amount, the tag; the hidden paragraph editable in Template mode,
        // and in Edit mode read-only only while hidden paragraphs are shown (here they are not).
        NoteElement_t *first = element(n, 0);
        EXPECT_EQ(buffer_text(first), "one two three");
        GtkTextIter at;
        gtk_text_buffer_get_iter_at_offset(first->p.buffer, &at, 5);
        EXPECT_TRUE(gtk_text_iter_has_tag(&at, first->p.bold_tag));
        EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(element(n, 1)->am.input)), "1,234.50");
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(element(n, 2)->tag.view)), "T1 Block");
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(element(n, 3)->tag.view)), "T1 ");
        if (c.mode == 3) {
            ASSERT_NE(element(n, 4)->p.view, nullptr);
            EXPECT_TRUE(gtk_text_view_get_editable(GTK_TEXT_VIEW(element(n, 4)->p.view)));
            EXPECT_STREQ(gtk_widget_get_name(element(n, 4)->p.view), "HideNoteEditHide");
        } else {
            EXPECT_EQ(element(n, 4)->p.view, nullptr);
        }
        // The focus starts in the last paragraph.
        EXPECT_EQ(n->focus_widget, element(n, 5)->p.view);
        EXPECT_TRUE(element(n, 5)->focus);
        save(drawn(window), "note-window-mode" + std::to_string(c.mode) + ".png");
        close_edit();
        EXPECT_EQ(edit_cm(), nullptr);
        EXPECT_NE(n->display_state, 4);
    }

    // Hidden paragraphs shown outside Template mode are read-only.
    EXPECT_EQ(note_program(note_form(2) + print("", note_of(para("a") + para("Secret", H) + para("b")), 2)).abort, "");
    NoteData_t *n = note();
    n->hidden_visible = 1;
    open_edit_window();
    ASSERT_NE(edit_cm(), nullptr);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(edit_cm()->window)), "New");
    GtkWidget *hidden = element(n, 1)->p.view;
    ASSERT_NE(hidden, nullptr);
    EXPECT_STREQ(gtk_widget_get_name(hidden), "HideNoteEditHide");
    EXPECT_FALSE(gtk_text_view_get_editable(GTK_TEXT_VIEW(hidden)));
    EXPECT_EQ(oska_widget_get_controller(hidden, "gnote-view-paragraph"), nullptr);
    save(drawn(edit_cm()->window), "note-window-hidden.png");
    close_edit();

    // A number of ten characters stops the program before any window is made.
    std::memset(n->number, '1', sizeof n->number);
    EXPECT_EQ(lumba_test::abort_text([&] { gnote_edit_create(cm()->window, n); }),
              "Note number is 10 characters which exceeds 9 - '1111111111'");
    EXPECT_EQ(edit_cm(), nullptr);
    n->number[0] = '\0';
}

TEST_F(NoteWindowTest, ReturnSplitsAndBackSpaceJoinsTheRuns)
{
    NoteData_t *n = open(2, para("one <b>two</b> three"));
    cursor_at(element(n, 0), 6);
    EXPECT_TRUE(key(element(n, 0), GDK_KEY_Return));
    ASSERT_NE(element(n, 1), nullptr);
    EXPECT_STREQ(element(n, 0)->p.text, "one tw");
    EXPECT_EQ(runs(element(n, 0)), "[4,6)");
    EXPECT_STREQ(element(n, 1)->p.text, "o three");
    EXPECT_EQ(runs(element(n, 1)), "[0,1)");
    EXPECT_EQ(gnote_get_current_focus(n), element(n, 1));
    EXPECT_EQ(cursor_of(element(n, 1)), 0);
    EXPECT_EQ(n->focus_widget, element(n, 1)->p.view);

    EXPECT_TRUE(key(element(n, 1), GDK_KEY_BackSpace));
    ASSERT_EQ(element(n, 1), nullptr);
    EXPECT_STREQ(element(n, 0)->p.text, "one two three");
    EXPECT_EQ(runs(element(n, 0)), "[4,6)[6,7)");
    EXPECT_EQ(cursor_of(element(n, 0)), 6);
    EXPECT_EQ(kept(), "");
    close_edit();
}

TEST_F(NoteWindowTest, UnicodeTextKeepsItsRunsAndSplitsAtCharacters)
{
    const std::string cafe = para("Caf\xC3\xA9 <b>cr\xC3\xA8me</b>");
    NoteData_t *n = open(2, cafe);
    EXPECT_TRUE(key(element(n, 0), GDK_KEY_F12));
    EXPECT_EQ(edit_cm(), nullptr);
    EXPECT_EQ(xml_of(n), note_of(cafe));
    EXPECT_EQ(n->modified, 0);

    widget_type(WIDGET_NOTE).edit(cm(), 1, 0);
    ASSERT_NE(edit_cm(), nullptr);
    cursor_at(element(n, 0), 4);  // after the "é"
    EXPECT_TRUE(key(element(n, 0), GDK_KEY_Return));
    ASSERT_NE(element(n, 1), nullptr);
    EXPECT_STREQ(element(n, 0)->p.text, "Caf\xC3\xA9");
    EXPECT_EQ(runs(element(n, 0)), "");
    EXPECT_STREQ(element(n, 1)->p.text, " cr\xC3\xA8me");
    EXPECT_EQ(runs(element(n, 1)), "[1,7)");
    for (int i : {0, 1}) EXPECT_TRUE(g_utf8_validate(element(n, i)->p.text, -1, nullptr));
    GtkTextIter at;
    gtk_text_buffer_get_iter_at_offset(element(n, 1)->p.buffer, &at, 3);
    EXPECT_TRUE(gtk_text_iter_has_tag(&at, element(n, 1)->p.bold_tag)) << "the è is still bold";
    close_edit();
}

// Bytes that are no UTF-8 show as replacement characters; a note saved without a change keeps its
// bytes and runs and is reported unchanged. A paragraph the clerk edits takes what its view holds.
TEST_F(NoteWindowTest, AnUnchangedNoteKeepsBytesThatAreNoUtf8)
{
    const std::string replacement = "\xEF\xBF\xBD";
    const struct Case {
        std::string elements, first_shown, first_bold;  // the first view's text and bold characters
    } cases[] = {
        {para("caf\xE9"), "caf" + replacement, ""},
        {para("Caf\xE9 <b>au lait</b>"), "Caf" + replacement + " au lait", "[5,12)"},
        {para("a\xFF <b>b\xE9</b> c"), "a" + replacement + " b" + replacement + " c", "[3,5)"},
        {para("<i>x</i>\xC3") + para("<u>ok</u>"), "x" + replacement, ""},
        {para("\xE9t\xE9 <b>\xC3\xA9</b>") + AM + para("z\xFF", H) + para(""),
         replacement + "t" + replacement + " \xC3\xA9", "[4,5)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.elements);
        NoteData_t *n = open(3, c.elements);
        EXPECT_EQ(buffer_text(element(n, 0)), c.first_shown);
        EXPECT_EQ(bold_chars(element(n, 0)), c.first_bold);
        EXPECT_TRUE(key(element(n, 0), GDK_KEY_F12));
        EXPECT_EQ(edit_cm(), nullptr);
        EXPECT_EQ(xml_of(n), note_of(c.elements));
        EXPECT_EQ(n->modified, 0);
    }
    NoteData_t *n = open(2, para("caf\xE9"));
    gtk_text_buffer_insert_at_cursor(element(n, 0)->p.buffer, "!", -1);
    EXPECT_TRUE(key(element(n, 0), GDK_KEY_F12));
    EXPECT_EQ(xml_of(n), note_of(para("caf" + replacement + "!")));
    EXPECT_EQ(n->modified, 1);
}

// The edge cases of the keys, one note each.
TEST_F(NoteWindowTest, TheKeyTable)
{
    struct Case {
        const char *what;
        int mode;
        std::string elements;
        int at_element, at_char;
        guint keyval;
        GdkModifierType state;
        gboolean handled;
        std::vector<std::string> texts;  // the paragraphs' texts afterwards ("#" an amount, "T" a tag)
        int focus_element;               // the element with the focus afterwards (-1: not checked)
    };
    const GdkModifierType none = GdkModifierType(0);
    const Case cases[] = {
        {"Return at the start", 2, para("abc"), 0, 0, GDK_KEY_Return, none, TRUE, {"", "abc"}, 1},
        {"Return at the end", 2, para("abc"), 0, 3, GDK_KEY_KP_Enter, none, TRUE, {"abc", ""}, 1},
        {"Shift+Return", 2, para("abc"), 0, 1, GDK_KEY_Return, GDK_SHIFT_MASK, TRUE, {"a\nbc"}, 0},
        {"Return in a hidden paragraph", 3, para("a") + para("hid", H), 1, 1, GDK_KEY_Return, none, TRUE,
         {"a", "h", "id", ""}, 2},
        {"BackSpace after an amount", 2, para("a") + AM + para("b"), 2, 0, GDK_KEY_BackSpace, none, TRUE,
         {"a", "#", "b"}, 2},
        {"BackSpace in an empty paragraph", 2, para("ab") + para("") + para("c"), 1, 0, GDK_KEY_BackSpace, none, TRUE,
         {"ab", "c"}, 0},
        {"BackSpace inside a paragraph", 2, para("abc"), 0, 2, GDK_KEY_BackSpace, none, TRUE, {"ac"}, 0},
        {"Delete at the very end", 2, para("abc"), 0, 3, GDK_KEY_Delete, none, TRUE, {"abc"}, 0},
        {"Delete inside", 2, para("abc"), 0, 0, GDK_KEY_Delete, none, TRUE, {"bc"}, 0},
        {"Right at the end of the last element", 2, para("abc"), 0, 3, GDK_KEY_Right, none, TRUE, {"abc"}, 0},
        {"Right inside a paragraph", 2, para("abc"), 0, 1, GDK_KEY_Right, none, FALSE, {"abc"}, 0},
        {"Typing after a bold character", 2, para("<b>ab</b>c"), 0, 2, 'x', none, TRUE, {"abxc"}, 0},
        {"A letter in an amount", 2, para("a") + AM + para("b"), 1, 0, 'x', none, TRUE, {"a", "#", "b"}, 1},
        {"Down in an amount", 2, para("a") + AM, 1, 0, GDK_KEY_Down, none, TRUE, {"a", "#", ""}, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        NoteData_t *n = open(c.mode, c.elements, "N1");
        if (c.mode == 3 && !n->hidden_visible) {
            // Hidden paragraphs have views only while they are shown.
            close_edit();
            n->hidden_visible = 1;
            widget_type(WIDGET_NOTE).edit(cm(), 1, 0);
            ASSERT_NE(edit_cm(), nullptr);
        }
        NoteElement_t *e = element(n, c.at_element);
        ASSERT_NE(e, nullptr);
        if (e->type != CM_GNOTE_NOTE_TYPE_AM) cursor_at(e, c.at_char);
        EXPECT_EQ(key(e, c.keyval, c.state), c.handled);
        EXPECT_EQ(kept(), "");
        // The views are taken back so that the list shows what the user sees.
        gnote_remove_sigs(n->note);
        gnote_parse_text2XML(n);
        std::vector<std::string> texts;
        for (NoteElement_t *x = n->note; x; x = x->next)
            texts.push_back(x->type == CM_GNOTE_NOTE_TYPE_AM    ? "#"
                            : x->type == CM_GNOTE_NOTE_TYPE_TAG ? "T"
                                                                : x->p.text);
        EXPECT_EQ(texts, c.texts);
        if (c.focus_element >= 0) { EXPECT_EQ(gnote_get_current_focus(n), element(n, c.focus_element)); }
        if (std::string(c.what) == "Typing after a bold character") { EXPECT_EQ(runs(n->note), "[0,3)"); }
        if (std::string(c.what) == "Return in a hidden paragraph") {
            EXPECT_EQ(element(n, 2)->type, CM_GNOTE_NOTE_TYPE_P);
        }
        close_edit();
    }
}

TEST_F(NoteWindowTest, TheAmountFilterAndArrows)
{
    NoteData_t *n = open(2, para("a") + AM + tags + para("b"));
    NoteElement_t *am = element(n, 1);
    gtk_editable_set_text(GTK_EDITABLE(am->am.input), "");
    for (const guint k : {guint('1'), guint('x'), guint('-'), guint('.'), guint('5'), guint(' '), guint(GDK_KEY_KP_7)})
        EXPECT_TRUE(key(am, k));
    EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(am->am.input)), "1-.57");
    // Right at the end of a paragraph walks into the amount; Right at the amount's end over the
    // tags into the paragraph after them.
    NoteElement_t *first = element(n, 0);
    cursor_at(first, 1);
    EXPECT_TRUE(key(first, GDK_KEY_Right));
    // An entry never has the keyboard itself: its text child (the editable it delegates to) has.
    GtkWidget *typed_into = GTK_WIDGET(gtk_editable_get_delegate(GTK_EDITABLE(am->am.input)));
    EXPECT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(typed_into); }));
    gtk_editable_set_position(GTK_EDITABLE(am->am.input), -1);
    EXPECT_TRUE(key(am, GDK_KEY_Right));
    EXPECT_TRUE(gtk_widget_has_focus(element(n, 4)->p.view));
    EXPECT_EQ(kept(), "");
    close_edit();
}

TEST_F(NoteWindowTest, ARefusedEditChangesNothing)
{
    NoteData_t *n = open(2, para("abc"));
    set_cell(0, 0);  // Edit_Content answers false
    NoteElement_t *e = element(n, 0);
    cursor_at(e, 3);
    for (const guint k : {guint('x'), guint(GDK_KEY_Return), guint(GDK_KEY_BackSpace)}) EXPECT_TRUE(key(e, k));
    gdk_clipboard_set_text(gtk_widget_get_clipboard(e->p.view), "pasted");
    bool pasted = false;
    g_signal_connect_swapped(e->p.buffer, "paste-done", G_CALLBACK(+[](bool *done) { *done = true; }), &pasted);
    g_signal_emit_by_name(e->p.view, "paste-clipboard");
    EXPECT_TRUE(lumba_test::wait_until([&] { return pasted; }));
    gtk_text_buffer_insert_at_cursor(e->p.buffer, "\xC3\xA9", -1);  // input-method text
    EXPECT_EQ(buffer_text(element(n, 0)), "abc");
    EXPECT_EQ(element(n, 1), nullptr);
    EXPECT_EQ(n->modified, 0);
    set_cell(0, 1);
    EXPECT_TRUE(key(e, 'x'));
    EXPECT_EQ(buffer_text(element(n, 0)), "abcx");
    close_edit();

    // An amount input refuses a change made without a key (a paste) the same way.
    n = open(2, para("a") + AM + para("b"));
    set_cell(0, 0);
    GtkEditable *input = GTK_EDITABLE(element(n, 1)->am.input);
    int at = 0;
    gtk_editable_insert_text(input, "9", 1, &at);
    EXPECT_STREQ(gtk_editable_get_text(input), "1,234.50");
    gtk_editable_delete_text(input, 0, 1);
    EXPECT_STREQ(gtk_editable_get_text(input), "1,234.50");
    EXPECT_EQ(n->modified, 0);
    set_cell(0, 1);
    close_edit();
}

TEST_F(NoteWindowTest, SaveAndCancelRunTheFieldsRoutines)
{
    const std::string post = routine_test::attach(CM, "Post_Focus", routine_test::PROBE, 1) +
                             routine_test::attach(CM, "F8", routine_test::PLAINFN, 1, false);
    // Save: the text goes back, the field shows it expanded (more than its short text), Post_Focus runs.
    NoteData_t *n = open(2, para("one") + para("two"), "N1", post);
    gtk_text_buffer_insert_at_cursor(element(n, 1)->p.buffer, "!", -1);
    std::vector<std::string> lines;
    EXPECT_EQ(logged([&] { key(element(n, 1), GDK_KEY_F12); }, &lines), "");
    EXPECT_EQ(edit_cm(), nullptr);
    EXPECT_EQ(xml_of(n), note_of(para("one") + para("two!")));
    EXPECT_EQ(n->modified, 1);
    EXPECT_EQ(n->display_state, 3);
    EXPECT_NE(std::find_if(lines.begin(), lines.end(), [](const std::string &l) { return l.rfind("probe 1", 0) == 0; }),
              lines.end());

    // A single short paragraph saves collapsed.
    n = open(2, para("short"), "N1", post);
    EXPECT_EQ(logged([&] { key(element(n, 0), GDK_KEY_F12); }, &lines), "");
    EXPECT_NE(n->display_state, 3);

    // Cancel: the original comes back; Escape runs the Escape routine, F8 the F8 routine.
    for (const guint k : {guint(GDK_KEY_Escape), guint(GDK_KEY_F8)}) {
        n = open(2, para("keep"), "N1", post);
        gtk_text_buffer_insert_at_cursor(element(n, 0)->p.buffer, "lost", -1);
        lines.clear();
        EXPECT_EQ(logged([&] { key(element(n, 0), k); }, &lines), "");
        EXPECT_EQ(edit_cm(), nullptr);
        EXPECT_EQ(xml_of(n), note_of(para("keep")));
        EXPECT_NE(std::find(lines.begin(), lines.end(), "plain 1"), lines.end());
    }
}

// The forms engine's F12, Escape and F8 on the window reach the save and cancel through the
// window kind.
TEST_F(NoteWindowTest, TheEnginesKeysReachSaveAndCancel)
{
    NoteData_t *n = open(2, para("one"));
    gtk_text_buffer_insert_at_cursor(element(n, 0)->p.buffer, "two ", -1);
    window_kind(CM_WT_NOTE).save(edit_cm());
    EXPECT_EQ(edit_cm(), nullptr);
    EXPECT_EQ(xml_of(n), note_of(para("onetwo ")));
    for (const guint k : {guint(GDK_KEY_Escape), guint(GDK_KEY_F8)}) {
        widget_type(WIDGET_NOTE).edit(cm(), 1, 0);
        ASSERT_NE(edit_cm(), nullptr);
        gtk_text_buffer_insert_at_cursor(element(n, 0)->p.buffer, "lost", -1);
        window_kind(CM_WT_NOTE).cancel(edit_cm(), k);
        EXPECT_EQ(edit_cm(), nullptr);
        EXPECT_EQ(xml_of(n), note_of(para("onetwo ")));
    }
    EXPECT_EQ(kept(), "");
}

// F12 or Escape typed the moment the window appears reaches it while its opening still turns the
// main loop: the road out closes the window there and takes the field out of its edit-window state,
// and the opening touches nothing of the closed window after its turns. The field opens its window
// again as before.
TEST_F(NoteWindowTest, AWindowSavedOrCancelledWhileItOpensLeavesTheFieldAsTheRoadOutLeftIt)
{
    NoteData_t *n = open(2, para("one"));
    close_edit();
    for (const bool save : {true, false}) {
        SCOPED_TRACE(save ? "F12" : "Escape");
        save_at_once = save;
        const guint source = g_idle_add(close_at_once, this);
        EXPECT_EQ(lumba_test::abort_text([&] { widget_type(WIDGET_NOTE).edit(cm(), 1, 0); }), "");
        EXPECT_FALSE(g_main_context_find_source_by_id(nullptr, source)) << "the road out ran during the opening";
        if (GSource *left = g_main_context_find_source_by_id(nullptr, source)) g_source_destroy(left);
        EXPECT_EQ(edit_cm(), nullptr);
        EXPECT_NE(n->display_state, 4);
        EXPECT_EQ(xml_of(n), note_of(para("one")));
        widget_type(WIDGET_NOTE).edit(cm(), 1, 0);
        ASSERT_NE(edit_cm(), nullptr);
        EXPECT_EQ(n->display_state, 4);
        close_edit();
        EXPECT_NE(n->display_state, 4);
    }
    EXPECT_EQ(kept(), "");
}

// Leaving by F8 without an F8 routine on an AnyChange field: its Post_Focus runs, then the
// Pre_Focus of the field the focus returns to.
TEST_F(NoteWindowTest, CancelWithoutARoutineTakesTheAnyChangePath)
{
    ASSERT_EQ(note_program(note_form(2, 0, TAB_ANYCHANGE) +
                           routine_test::attach(CM, "Post_Focus", routine_test::PROBE, 1) +
                           routine_test::attach(CM, "Pre_Focus", routine_test::COUNTER, 1) +
                           print("N1", note_of(para("keep")), 2))
                  .abort,
              "");
    NoteData_t *n = note();
    open_edit_window();
    ASSERT_NE(edit_cm(), nullptr);
    std::vector<std::string> lines;
    EXPECT_EQ(logged([&] { key(element(n, 0), GDK_KEY_F8); }, &lines), "");
    EXPECT_EQ(edit_cm(), nullptr);
    const auto has = [&](const char *prefix) {
        return std::any_of(lines.begin(), lines.end(),
                           [prefix](const std::string &l) { return l.rfind(prefix, 0) == 0; });
    };
    EXPECT_TRUE(has("probe 1")) << "Post_Focus";
    EXPECT_TRUE(has("pre 1")) << "Pre_Focus";
    EXPECT_FALSE(has("plain")) << "no Escape routine for F8";
    EXPECT_EQ(cm()->current_focus, 1);
}

TEST_F(NoteWindowTest, AWindowDestroyedOtherwiseLeavesTheFieldAndTheNoteAsTheyWere)
{
    NoteData_t *n = open(2, para("keep"));
    gtk_text_buffer_insert_at_cursor(element(n, 0)->p.buffer, "lost", -1);
    gtk_window_destroy(GTK_WINDOW(edit_cm()->window));
    EXPECT_EQ(edit_cm(), nullptr);
    EXPECT_NE(n->display_state, 4);
    EXPECT_EQ(xml_of(n), note_of(para("keep")));
    EXPECT_EQ(n->edit_scroller, nullptr);
    // Opening again works, and freeing the field with the window open destroys it first.
    widget_type(WIDGET_NOTE).edit(cm(), 1, 0);
    ASSERT_NE(edit_cm(), nullptr);
    EXPECT_EQ(kept(), "");
}

namespace {

} // namespace

// Bold, italic and underline on a selection, through the menu's action or the tool-bar button;
// the paragraph is read back by saving the note.
TEST_F(NoteWindowTest, TheFormatActionsToggleOnTheSelection)
{
    struct Case {
        const char *name, *before;
        int from, to;  // the selection in characters; equal: nothing selected
        const char *action, *tooltip, *after;
    } const cases[] = {
        {"inside a run removes", "one <b>three</b> x", 5, 7, "bold", nullptr, "one <b>t</b>hr<b>ee</b> x"},
        {"partly formatted becomes whole", "ab<b>cd</b>ef", 1, 3, "bold", nullptr, "a<b>bcd</b>ef"},
        {"two runs become one", "<b>a</b>b<b>c</b>", 0, 3, "bold", nullptr, "<b>abc</b>"},
        {"a run at the first character", "<b>abc</b>d", 0, 2, "bold", nullptr, "ab<b>c</b>d"},
        {"a run to the last character", "x <b>yz</b>", 2, 4, "bold", nullptr, "x yz"},
        {"the whole of a run", "<b>abc</b>", 0, 3, "bold", nullptr, "abc"},
        {"nothing selected", "<b>ab</b>c", 1, 1, "bold", nullptr, "<b>ab</b>c"},
        {"italic", "abc", 0, 1, "italic", nullptr, "<i>a</i>bc"},
        {"underline", "abc", 1, 3, "underline", nullptr, "a<u>bc</u>"},
        {"the bold button", "abc", 1, 2, nullptr, "Bold the selected text", "a<b>b</b>c"},
        {"the italic button", "<i>abc</i>", 1, 2, nullptr, "Make the selected text italic", "<i>a</i>b<i>c</i>"},
        {"the underline button", "abc", 0, 3, nullptr, "Underline the selected text", "<u>abc</u>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        NoteData_t *n = open(2, para(c.before));
        NoteElement_t *e = element(n, 0);
        ASSERT_EQ(gnote_get_current_focus(n), e);
        select_chars(e, c.from, c.to);
        if (c.action) {
            const std::string name = std::string("gnotes.") + c.action;
            EXPECT_TRUE(gtk_widget_activate_action(e->p.view, name.c_str(), nullptr));
        } else {
            GtkWidget *button = tool_button(edit_cm()->window, c.tooltip);
            ASSERT_NE(button, nullptr);
            g_signal_emit_by_name(button, "clicked");
        }
        EXPECT_EQ(kept(), "");
        key(e, GDK_KEY_F12);
        EXPECT_EQ(kept(), "");
        EXPECT_EQ(xml_of(n), note_of(para(c.after)));
    }
}

// After the split and join of the runs, the joined run and a new one save as two.
TEST_F(NoteWindowTest, BoldAfterASplitAndJoin)
{
    NoteData_t *n = open(2, para("one <b>two</b> three"));
    cursor_at(element(n, 0), 6);
    EXPECT_TRUE(key(element(n, 0), GDK_KEY_Return));
    EXPECT_TRUE(key(element(n, 1), GDK_KEY_BackSpace));
    select_chars(element(n, 0), 8, 13);
    EXPECT_TRUE(gtk_widget_activate_action(element(n, 0)->p.view, "gnotes.bold", nullptr));
    EXPECT_EQ(buffer_text(element(n, 0)), "one two three");
    save(drawn(edit_cm()->window), "note-window-bold.png");
    key(element(n, 0), GDK_KEY_F12);
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(xml_of(n), note_of(para("one <b>two</b> <b>three</b>")));
}

// A refused Edit_Content drops a format action on an unmodified note; on a modified one the
// action goes on, and the routine runs once for it.
TEST_F(NoteWindowTest, TheFormatActionsAskEditContentOnce)
{
    NoteData_t *n = open(2, para("abc"));
    set_cell(0, 0);  // Edit_Content answers false
    NoteElement_t *e = element(n, 0);
    select_chars(e, 0, 2);
    std::vector<std::string> lines;
    const auto probes = [&] {
        return std::count_if(lines.begin(), lines.end(), [](const std::string &l) { return l.rfind("probe", 0) == 0; });
    };
    for (const char *action : {"gnotes.bold", "gnotes.italic", "gnotes.underline"}) {
        lines.clear();
        EXPECT_EQ(logged([&] { gtk_widget_activate_action(e->p.view, action, nullptr); }, &lines), "");
        EXPECT_EQ(probes(), 1) << action;
    }
    EXPECT_EQ(n->modified, 0);

    // Only this Bold formats: the note saves with no italic or underline.
    n->modified = 1;
    lines.clear();
    EXPECT_EQ(logged([&] { gtk_widget_activate_action(e->p.view, "gnotes.bold", nullptr); }, &lines), "");
    EXPECT_EQ(probes(), 1) << ::testing::PrintToString(lines);
    EXPECT_EQ(buffer_text(e), "abc");
    set_cell(0, 1);
    key(e, GDK_KEY_F12);
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(xml_of(n), note_of(para("<b>ab</b>c")));
}

// Delete Amount takes the current amount out and shows the paragraph before it; it asks no
// Edit_Content routine, so a refusing one does not stop it. Elsewhere it only redraws.
TEST_F(NoteWindowTest, DeleteAmountTakesTheCurrentAmountOut)
{
    struct Case {
        const char *name;
        int current;  // the element holding the focus
        bool button, refusing, locked;
        std::string after;
    } const cases[] = {
        {"the menu's action", 1, false, false, false, para("a") + para("b")},
        {"the tool-bar button", 1, true, false, false, para("a") + para("b")},
        {"a refusing Edit_Content", 1, false, true, false, para("a") + para("b")},
        {"the focus in a paragraph", 2, false, false, false, para("a") + AM + para("b")},
        {"the lock held", 1, false, false, true, para("a") + AM + para("b")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        NoteData_t *n = open(2, para("a") + AM + para("b"));
        NoteElement_t *target = element(n, c.current);
        gtk_widget_grab_focus(target->type == CM_GNOTE_NOTE_TYPE_AM ? target->am.input : target->p.view);
        ASSERT_EQ(gnote_get_current_focus(n), target);
        if (c.refusing) set_cell(0, 0);
        if (c.locked) { ASSERT_TRUE(g_mutex_trylock(&n->lock)); }
        if (c.button) {
            g_signal_emit_by_name(tool_button(edit_cm()->window, "Delete an amount field"), "clicked");
        } else {
            EXPECT_TRUE(gtk_widget_activate_action(element(n, 0)->p.view, "gnotes.del-amount", nullptr));
        }
        if (c.locked) g_mutex_unlock(&n->lock);
        EXPECT_EQ(kept(), "");
        const bool deleted = c.current == 1 && !c.locked;
        // The total the deleted amount leaves is a change of the note.
        EXPECT_EQ(n->modified, deleted ? 1 : 0);
        EXPECT_EQ(gnote_get_current_focus(n), deleted ? element(n, 0) : element(n, c.current));
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(n->total_label)), deleted ? "nil" : "1,234.50");
        set_cell(0, 1);
        key(element(n, 0), GDK_KEY_F12);
        EXPECT_EQ(kept(), "");
        EXPECT_EQ(xml_of(n), note_of(c.after));
    }
}

// Hidden comments shows the hidden paragraphs and hides them again, the focus going to the
// nearest paragraph at or after the current element; a refusing Edit_Content stops it.
TEST_F(NoteWindowTest, HiddenCommentsShowsAndHidesTheHiddenParagraphs)
{
    const std::string elements = para("a") + para("Secret", H) + para("b");
    NoteData_t *n = open(2, elements);
    EXPECT_EQ(n->hidden_visible, 0);
    EXPECT_EQ(element(n, 1)->p.view, nullptr);
    gtk_widget_grab_focus(element(n, 0)->p.view);
    set_cell(0, 0);  // refused while the note is unmodified
    EXPECT_TRUE(gtk_widget_activate_action(element(n, 0)->p.view, "gnotes.visibility", nullptr));
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(n->hidden_visible, 0);
    EXPECT_EQ(n->modified, 0);
    set_cell(0, 1);
    EXPECT_TRUE(gtk_widget_activate_action(element(n, 0)->p.view, "gnotes.visibility", nullptr));
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(n->hidden_visible, 1);
    ASSERT_NE(element(n, 1)->p.view, nullptr);
    EXPECT_EQ(buffer_text(element(n, 1)), "Secret");
    EXPECT_EQ(gnote_get_current_focus(n), element(n, 0));
    EXPECT_EQ(cursor_of(element(n, 0)), 1);

    // With the hidden paragraph current (its view shows outside Template mode but takes no focus),
    // by the button: the focus goes on to the next paragraph.
    element(n, 0)->focus = 0;
    element(n, 1)->focus = 1;
    g_signal_emit_by_name(tool_button(edit_cm()->window, "Toggle hidden comments visibility"), "clicked");
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(n->hidden_visible, 0);
    EXPECT_EQ(element(n, 1)->p.view, nullptr);
    EXPECT_EQ(gnote_get_current_focus(n), element(n, 2));
    EXPECT_EQ(n->focus_widget, element(n, 2)->p.view);

    key(element(n, 2), GDK_KEY_F12);
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(xml_of(n), note_of(elements));
}

// Approve marks the note approved and saves it, from the menu or the tool bar; a refusing
// Edit_Content on an unmodified note leaves the window open and the note unapproved.
TEST_F(NoteWindowTest, ApproveMarksTheNoteApprovedAndSavesIt)
{
    for (const bool button : {false, true}) {
        SCOPED_TRACE(button ? "the tool-bar button" : "the menu's action");
        NoteData_t *n = open(2, para("one"));
        const auto approve = [&] {
            if (button) g_signal_emit_by_name(tool_button(edit_cm()->window, "Approve the note"), "clicked");
            else EXPECT_TRUE(gtk_widget_activate_action(element(n, 0)->p.view, "gnotes.approve", nullptr));
            EXPECT_EQ(kept(), "");
        };
        set_cell(0, 0);
        approve();
        EXPECT_NE(edit_cm(), nullptr);
        EXPECT_EQ(n->approved, 0);
        EXPECT_EQ(n->modified, 0);
        set_cell(0, 1);
        gtk_text_buffer_insert_at_cursor(element(n, 0)->p.buffer, "!", -1);
        approve();
        EXPECT_EQ(edit_cm(), nullptr);
        EXPECT_EQ(n->approved, 1);
        EXPECT_EQ(xml_of(n), note_of(para("one!")));
    }
}
