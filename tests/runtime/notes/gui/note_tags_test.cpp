// Block tags and hidden comments of the note edit window in-process: the bounds of the selected
// block, the block-tag intrinsics called with the matrix of a small window over the edit window,
// the Tag action running the program's Get_Note_Block_Tag routine, the Hidden comment action in
// Template mode, and the actions a refusing Edit_Content routine stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "ccallback.h"
#include "cevents.h"
#include "gmisc.h"
#include "gnote_edit.h"
#include "gnote_edit_parts.h"  // gnote_tag_get_bounds: the block of a note without a window
#include "gui_env.h"
#include "mem_mgt.h"
#include "note_field_fixture.h"
#include "test_host.h"

using namespace forms_test;
using namespace note_test;
using lumba_test::param;
using lumba_test::to_cell;

namespace {

std::string tag(const std::string &name, bool start, const std::string &text = "")
{
    return "<tag name=\"" + name + "\" start=\"" + (start ? "true" : "false") + "\">" + text + "</tag>";
}
const std::string AM = amount("1234.50");

// The note the block-tag cases start from: two paragraphs and an amount, then block T1.
const std::string start_note = para("one") + para("two") + AM + para("") + tag("T1", true, "Block") +
                               para("in") + tag("T1", false, "Done") + para("last");

// The labels of the views box's tag rows, in order.
std::vector<std::string> tag_labels(NoteData_t *n)
{
    std::vector<std::string> out;
    for (NoteElement_t *e = n->note; e; e = e->next)
        if (e->type == CM_GNOTE_NOTE_TYPE_TAG) out.push_back(gtk_label_get_text(GTK_LABEL(e->tag.view)));
    return out;
}

// A routine for Get_Note_Block_Tag, as a program writes one: it opens a small window over the edit
// window, calls IGNOTE_PRINT_BLOCK_TAG (cm2, "T9", "Start", "End") with that window's matrix,
// keeps the result in COMMON cell 2 and closes the window again. The second routine closes the
// form's window.
constexpr int TAGGER = routine_test::FOCUSER + 1, LEAVER = TAGGER + 1;
const std::string tag_routines =
    ".nfunc r:tagger I:0 I:0 I:2 I:0 I:0 I:4\n" + str("a") + fn(in_IGWIN_NEW, 1) +
    "storrd I:0 I:1 I:0 I:0 I:0\nloadrad I:1 I:1 I:0 I:0 I:0\nloadrvd I:0 I:1 I:0 I:0 I:0\n" +
    st(in_ICATTACH_WINDOW, 2) + "loadrvd I:1 I:1 I:0 I:0 I:0\n" + str("T9") + str("Start") + str("End") +
    fn(in_IGNOTE_PRINT_BLOCK_TAG, 4) + to_cell(2) + "loadrvd I:1 I:1 I:0 I:0 I:0\n" + st(in_ICDELETE_WINDOW, 1) +
    num(1) + "exitv\n" + ".nfunc r:leaver I:0 I:0 I:0 I:0 I:0 I:4\n" + param(0) + st(in_ICDELETE_WINDOW, 1) + num(1) +
    "exitv\n";
const std::string params = "CM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\nIP$ 40 0 0x8014 0 4 -\n";
const std::string tag_symbols = "symtab\n__ROUTINE__ tagger 6\n" + params +
                                "W 0 0 0x12 0 5 -\nC 0 0 0x12 1 6 -\n__END_ROUTINE__\n.end\n"
                                "symtab\n__ROUTINE__ leaver 4\n" + params + "__END_ROUTINE__\n.end\n";

} // namespace

class NoteTagsTest : public NoteFieldTest {
protected:
    // A form whose note (mode) holds elements, with the field being edited and the window open.
    // The extra routines of this file follow the fixture's.
    NoteData_t *open(int mode, const std::string &elements, const std::string &extra = "")
    {
        EXPECT_EQ(tag_program(note_form(mode) + extra + print("N1", note_of(elements), mode)).abort, "");
        form_ = NoteFieldTest::cm();
        return open_edit_window();
    }
    Outcome tag_program(const std::string &body)
    {
        return note_program(body, routine_test::routines + tag_routines + tag_symbols);
    }
    // Runs call in a program that first opens a small window over the edit window, its matrix in
    // CM2; the window is closed afterwards as at the end of an event.
    // What the program left in X and in its three text variables is read before the window goes
    // (which ends the program's application).
    struct Run {
        std::string abort;
        std::vector<std::string> log;
        double result = -1;
        std::string name, start, end;
    };
    Run over_edit(const std::string &call)
    {
        const Outcome o = tag_program(again() + window_of("a", W) + attach(CM2, W) + call);
        const Run r{o.abort, log_lines(o.err), value(X), text(IPS), text(TS), xml_variable()};
        if (ControlMatrix_t *small = edit_cm() ? edit_cm()->next : nullptr) {
            small->closing = 1;
            ccallbacks_finish_event(1, 0);
        }
        return r;
    }
    // The form's matrix and what hangs on it, kept here: a later program's application ends with the
    // small window it opened, and its variables with it.
    ControlMatrix_t *form_ = nullptr;
    ControlMatrix_t *cm() const { return form_; }
    ControlMatrix_t *edit_cm() const
    {
        ControlMatrix_t *next = form_->next;
        return next && next->type == CM_WT_NOTE ? next : nullptr;
    }
    NoteData_t *note() const { return static_cast<NoteData_t *>(cset_cm_get_ptr(form_, CM_ENTRY_PTR, 1)); }
    void close_edit()
    {
        ASSERT_NE(edit_cm(), nullptr);
        window_kind(CM_WT_NOTE).cancel(edit_cm(), GDK_KEY_Escape);
    }
    // A later program's first lines: the form's matrix in CM again.
    std::string again() const { return number(form_) + set(CM); }
    // The note as saved by F12 (the views taken back).
    std::string saved(NoteData_t *n)
    {
        window_kind(CM_WT_NOTE).save(edit_cm());
        EXPECT_EQ(kept(), "");
        return xml_of(n);
    }
    static bool action(NoteData_t *n, const char *name)
    {
        return gtk_widget_activate_action(n->focus_widget, (std::string("gnotes.") + name).c_str(), nullptr);
    }
};

namespace {

// The bounds of the selected block on a note read without a window: the i-th elements.
struct Bounds {
    int first, last;
    bool operator==(const Bounds &) const = default;
};

int position(const NoteData_t *n, const NoteElement_t *e)
{
    int i = 0;
    for (const NoteElement_t *x = n->note; x; x = x->next, ++i)
        if (x == e) return i;
    return -1;
}

} // namespace

TEST(NoteTagBounds, TheSelectionWidensToItsParagraphAmountAndEnclosingTags)
{
    // 0 one, 1 am, 2 two, 3 H, 4 T1, 5 in, 6 am, 7 "", 8 T1, 9 T2, 10 last
    const std::string elements = para("one") + AM + para("two") + para("hid", H) + tag("T1", true) + para("in") +
                                 AM + para("") + tag("T1", false) + tag("T2", false) + para("last");
    struct Case {
        const char *what;
        std::vector<int> selected;
        int current;  // -1: the focus flag set on no element
        Bounds bounds;
    } const cases[] = {
        {"the focus in a paragraph followed by an amount", {}, 0, {0, 1}},
        {"the focus in an amount", {}, 1, {0, 1}},
        {"the focus in a paragraph", {}, 2, {2, 2}},
        {"no focus: the last element", {}, -1, {10, 10}},
        {"a selection from a hidden paragraph", {3, 5}, 0, {2, 6}},
        {"the paragraphs between two tags of one name", {5, 7}, 0, {4, 8}},
        {"a tag current: back to a paragraph", {}, 9, {7, 9}},
        {"across paragraphs", {0, 1, 2}, 5, {0, 2}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        NoteData_t n{};
        ASSERT_FALSE(gnote_parse_xml(&n, note_of(elements).c_str(), 0));
        for (int i : c.selected) element(&n, i)->selected = 1;
        if (c.current >= 0) element(&n, c.current)->focus = 1;
        NoteElement_t *first = nullptr, *last = nullptr;
        gnote_tag_get_bounds(&n, &first, &last);
        EXPECT_EQ((Bounds{position(&n, first), position(&n, last)}), c.bounds)
            << position(&n, first) << " " << position(&n, last);
        gnote_free_xml(&n);
    }

    // A selection of hidden paragraphs before the first paragraph is that paragraph's block, and a
    // note without a paragraph has no block.
    NoteData_t n{};
    ASSERT_FALSE(gnote_parse_xml(&n, note_of(para("hid", H) + para("first") + para("second")).c_str(), 0));
    n.note->selected = 1;
    NoteElement_t *first = nullptr, *last = nullptr;
    gnote_tag_get_bounds(&n, &first, &last);
    EXPECT_EQ(position(&n, first), 1);
    EXPECT_EQ(position(&n, last), 1);
    gnote_free_xml(&n);
    ASSERT_FALSE(gnote_parse_xml(&n, note_of(para("hid", H)).c_str(), 1));
    EXPECT_EQ(lumba_test::abort_text([&] { gnote_tag_get_bounds(&n, &first, &last); }),
              "Unexpected absence of paragraph block in a Note");
    gnote_free_xml(&n);
}

// IGNOTE_GET_BLOCK_TAG reads the block around the selection without taking the views back.
TEST_F(NoteTagsTest, GetBlockTagReadsTheEnclosingBlock)
{
    NoteData_t *n = open(3, start_note);
    const std::string get =
        val(CM2) + sref(IPS) + sref(TS) + xml_ref() + fn(in_IGNOTE_GET_BLOCK_TAG, 4) + set(X);
    struct Case {
        const char *what;
        int current;
        double result;
        std::string name, start, end;
    } const cases[] = {
        {"inside the block", 5, 1, "T1", "Block", "Done"},
        {"outside it", 0, 0, "", "", ""},
        {"an amount", 2, 0, "", "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        focus_on(n, c.current);
        const Run r = over_edit(get);
        ASSERT_EQ(r.abort, "");
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(r.name, c.name);
        EXPECT_EQ(r.start, c.start);
        EXPECT_EQ(r.end, c.end);
    }
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(n->modified, 0);
    EXPECT_EQ(saved(n), note_of(start_note));
}

// IGNOTE_PRINT_BLOCK_TAG: a new block around the selection, a name taken elsewhere refused with 0,
// the block's own name replacing its texts, a free name renaming it; the strings trimmed.
TEST_F(NoteTagsTest, PrintBlockTagSetsRenamesOrRefuses)
{
    const std::string second = start_note + tag("T2", true, "Other") + para("more") + tag("T2", false);
    struct Case {
        const char *what;
        std::string note;
        std::vector<int> selected;  // else the focus in element current
        int current;
        std::string name, start, end;
        double result;
        std::string after;
        std::vector<std::string> labels;  // the tag views afterwards
    } const cases[] = {
        {"a new block over a selection", start_note, {0, 1}, 0, "T2  ", "Start ", "End", 1,
         tag("T2", true, "Start") + para("one") + para("two") + AM + tag("T2", false, "End") + para("") +
             tag("T1", true, "Block") + para("in") + tag("T1", false, "Done") + para("last"),
         {"T2 Start", "T2 End", "T1 Block", "T1 Done"}},
        {"a new block at the focus", start_note, {}, 7, "T3", "", "", 1,
         para("one") + para("two") + AM + para("") + tag("T1", true, "Block") + para("in") +
             tag("T1", false, "Done") + tag("T3", true) + para("last") + tag("T3", false) + para(""),
         {"T1 Block", "T1 Done", "T3 ", "T3 "}},
        {"a name taken elsewhere", start_note, {0}, 0, "T1", "x", "y", 0, start_note, {"T1 Block", "T1 Done"}},
        {"the block's own name", start_note, {}, 5, "T1", "New start", "New end", 1,
         para("one") + para("two") + AM + para("") + tag("T1", true, "New start") + para("in") +
             tag("T1", false, "New end") + para("last"),
         {"T1 New start", "T1 New end"}},
        {"a free name renames", start_note, {}, 5, "T4", "S", "", 1,
         para("one") + para("two") + AM + para("") + tag("T4", true, "S") + para("in") + tag("T4", false) +
             para("last"),
         {"T4 S", "T4 "}},
        // The window gave the note, which ends with a tag, its last paragraph.
        {"another block's name", second, {}, 5, "T2", "S", "E", 0, second + para(""),
         {"T1 Block", "T1 Done", "T2 Other", "T2 "}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        NoteData_t *n = open(3, c.note);
        focus_on(n, c.current);
        for (int i : c.selected) element(n, i)->selected = 1;
        const Run r = over_edit(val(CM2) + note_test::text(c.name) + note_test::text(c.start) +
                                note_test::text(c.end) + fn(in_IGNOTE_PRINT_BLOCK_TAG, 4) + set(X));
        ASSERT_EQ(r.abort, "");
        EXPECT_EQ(kept(), "");
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(tag_labels(n), c.labels);
        EXPECT_EQ(n->modified, c.result == 1 ? 1 : 0) << "only a change marks the note";
        // The redraw puts the cursor at the start of the block's first paragraph (or the selection's).
        const NoteElement_t *current = gnote_get_current_focus(n);
        EXPECT_EQ(current->type, CM_GNOTE_NOTE_TYPE_P);
        EXPECT_TRUE(gtk_widget_has_focus(current->p.view));
        EXPECT_EQ(saved(n), note_of(c.after));
    }

    // The own name with the texts it has already changes nothing.
    NoteData_t *n = open(3, start_note);
    focus_on(n, 5);
    const Run r = over_edit(val(CM2) + str("T1") + str("Block") + str("Done") + fn(in_IGNOTE_PRINT_BLOCK_TAG, 4) + set(X));
    ASSERT_EQ(r.abort, "");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(n->modified, 0);
    close_edit();
}

// A name or text the note XML string cannot hold stops the program before anything changes.
TEST_F(NoteTagsTest, PrintBlockTagChecksTheTagFirst)
{
    struct Case {
        std::string name, start, end, abort;
    } const cases[] = {
        {"a\"b", "", "", "Block tag name 'a\"b' holds '\"' or '>'"},
        {"a>b", "", "", "Block tag name 'a>b' holds '\"' or '>'"},
        {std::string(256, 'n'), "", "", "Block tag name longer than 255 bytes"},
        {"T5", "x</tag>", "", "Text of block tag 'T5' holds '</tag>'"},
        {"T5", "", std::string(250, 'e'), "Text of block tag 'T5' longer than 249 bytes"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.abort);
        NoteData_t *n = open(3, start_note);
        focus_on(n, 0);
        EXPECT_EQ(over_edit(val(CM2) + note_test::text(c.name) + note_test::text(c.start) + note_test::text(c.end) + fn(in_IGNOTE_PRINT_BLOCK_TAG, 4) +
                            set(X))
                      .abort,
                  c.abort);
        EXPECT_EQ(xml_of(n), note_of(start_note));
        close_edit();
    }
}

// IGNOTE_DELETE_BLOCK_TAG takes the two tags out and keeps what lies between; outside a block it
// gives 0 and only redraws.
TEST_F(NoteTagsTest, DeleteBlockTagKeepsTheContent)
{
    const std::string remove = val(CM2) + fn(in_IGNOTE_DELETE_BLOCK_TAG, 1) + set(X);
    NoteData_t *n = open(3, start_note);
    focus_on(n, 0);
    Run r = over_edit(remove);
    ASSERT_EQ(r.abort, "");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(n->modified, 0);
    EXPECT_EQ(gnote_get_current_focus(n), element(n, 0));
    EXPECT_TRUE(gtk_widget_has_focus(element(n, 0)->p.view));

    focus_on(n, 5);
    r = over_edit(remove);
    ASSERT_EQ(r.abort, "");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(n->modified, 1);
    EXPECT_EQ(tag_labels(n), std::vector<std::string>{});
    EXPECT_EQ(gnote_get_current_focus(n), element(n, 4));
    EXPECT_STREQ(element(n, 4)->p.text, "in");
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(saved(n), note_of(para("one") + para("two") + AM + para("") + para("in") + para("last")));
}

// The six edit-window intrinsics want the matrix of a window over the note edit window; the
// block-tag ones check their counts and log their names.
TEST_F(NoteTagsTest, TheBlockTagIntrinsicsContextCountsAndLog)
{
    NoteData_t *n = open(3, start_note);
    ASSERT_NE(n, nullptr);
    const std::string get_args = sref(IPS) + sref(TS) + xml_ref();
    const std::string print_args = str("T") + str("s") + str("e");
    struct Call {
        const char *name;
        int code;
        std::string args;
        int nargs;
    } const calls[] = {
        {"ignote_get_block_tag", in_IGNOTE_GET_BLOCK_TAG, get_args, 4},
        {"ignote_print_block_tag", in_IGNOTE_PRINT_BLOCK_TAG, print_args, 4},
        {"ignote_delete_block_tag", in_IGNOTE_DELETE_BLOCK_TAG, "", 1},
    };
    const std::string form = number(cm()), edit_window = number(edit_cm());
    for (const Call &c : calls) {
        SCOPED_TRACE(c.name);
        const std::string context = std::string("An attept was made to run ") + c.name +
                                    " in context other than for a Note edit window";
        // The form's own matrix, and the edit window's.
        EXPECT_EQ(tag_program(again() + form + c.args + fn(c.code, c.nargs) + set(X)).abort, context);
        EXPECT_EQ(tag_program(again() + edit_window + c.args + fn(c.code, c.nargs) + set(X)).abort, context);
        EXPECT_EQ(tag_program(again() + num(0L) + c.args + fn(c.code, c.nargs) + set(X)).abort,
                  "Must set the Process Control Matrix first");
        const std::string count = std::string(c.name) + (c.nargs == 4 ? " must have four parameters"
                                                                        : " must have one parameter");
        EXPECT_EQ(over_edit(val(CM2) + c.args + str("x") + fn(c.code, c.nargs + 1) + set(X)).abort, count);
        if (c.nargs == 4) {
            EXPECT_EQ(over_edit(val(CM2) + str("x") + fn(c.code, 2) + set(X)).abort, count);
        }
        // With log level 3 the name is logged.
        record.log_level_lumbas = 3;
        const Run r = over_edit(val(CM2) + c.args + fn(c.code, c.nargs) + set(X));
        record.log_level_lumbas = -1;
        EXPECT_EQ(r.abort, "");
        // (Indented by the depth of the trace.)
        EXPECT_NE(std::find_if(r.log.begin(), r.log.end(),
                               [&](const std::string &l) { return l.ends_with(std::string(" Do ") + c.name); }),
                  r.log.end())
            << ::testing::PrintToString(r.log);
    }
    EXPECT_EQ(kept(), "");
}

namespace {

// Whether the probe ran as a routine of the window: at index 0, with an empty IP$.
bool tag_routine_ran(const std::vector<std::string> &lines)
{
    return std::any_of(lines.begin(), lines.end(),
                       [](const std::string &l) { return l.starts_with("probe 0 ") && l.ends_with(" []"); });
}

constexpr const char *TAG_TIP = "Highlight block and add start and end tags";
constexpr const char *HIDE_TIP = "Toggle hidden comment status for a paragraph";

} // namespace

// Tag runs the Get_Note_Block_Tag routine attached at index 0 of the form; that routine opens a
// small window over the edit window and sets the block with IGNOTE_PRINT_BLOCK_TAG.
TEST_F(NoteTagsTest, TagRunsTheBlockTagRoutine)
{
    const std::string tagger = routine_test::attach(CM, "Get_Note_Block_Tag", TAGGER, 0);
    for (const bool button : {false, true}) {
        SCOPED_TRACE(button ? "the tool-bar button" : "the menu's action");
        NoteData_t *n = open(3, para("one") + para("two") + para("three"), tagger);
        focus_on(n, 1);
        set_cell(2, -1);
        if (button)
            g_signal_emit_by_name(tool_button(edit_cm()->window, TAG_TIP), "clicked");
        else
            EXPECT_TRUE(action(n, "tag"));
        EXPECT_EQ(kept(), "");
        EXPECT_EQ(cell_value(2), 1) << "IGNOTE_PRINT_BLOCK_TAG's result";
        ASSERT_NE(edit_cm(), nullptr);
        EXPECT_EQ(edit_cm()->next, nullptr) << "the routine's small window is gone at the end of the event";
        EXPECT_EQ(tag_labels(n), (std::vector<std::string>{"T9 Start", "T9 End"}));
        EXPECT_EQ(n->modified, 1);
        if (button) save(drawn(edit_cm()->window), "note-window-tag.png");
        EXPECT_EQ(saved(n), note_of(para("one") + tag("T9", true, "Start") + para("two") + tag("T9", false, "End") +
                                    para("three")));
    }

    // The routine gets an empty IP$ at index 0.
    NoteData_t *n = open(3, para("one"), routine_test::attach(CM, "Get_Note_Block_Tag", routine_test::PROBE, 0));
    std::vector<std::string> lines;
    EXPECT_EQ(logged([&] { action(n, "tag"); }, &lines), "");
    EXPECT_EQ(kept(), "");
    EXPECT_TRUE(tag_routine_ran(lines)) << ::testing::PrintToString(lines);
    close_edit();

    // A routine that closes the form's window stops the program; so does Tag outside Template mode.
    n = open(3, para("one"), routine_test::attach(CM, "Get_Note_Block_Tag", LEAVER, 0));
    action(n, "tag");
    EXPECT_EQ(kept(), "Not permitted to exit from window here");
    n = open(3, para("one"), routine_test::attach(CM, "Get_Note_Block_Tag", routine_test::PROBE, 0));
    n->mode = GNOTE_MODE_EDIT;
    action(n, "tag");
    EXPECT_EQ(kept(), "May only create or edit a tag in template mode");
    n->mode = GNOTE_MODE_TEMPLATE;
}

// Hidden comment turns the current paragraph hidden, with a view of its own in Template mode, and
// back; a hide that would leave an amount without a paragraph before it, or the note without a
// paragraph, changes nothing, and so does the focus on an amount.
TEST_F(NoteTagsTest, HiddenCommentTogglesTheCurrentParagraph)
{
    struct Case {
        const char *what;
        std::string before;
        int current;
        bool button;
        std::string after;
    } const cases[] = {
        {"a paragraph is hidden", para("one") + para("two") + AM + para("three"), 1, false,
         para("one") + para("two", H) + AM + para("three")},
        {"a hidden paragraph shows", para("one") + para("two", H) + para("three"), 1, true,
         para("one") + para("two") + para("three")},
        {"the first paragraph before an amount", para("one") + para("two", H) + AM + para("three"), 0, false, ""},
        {"the only paragraph", para("one"), 0, true, ""},
        {"an amount current", para("one") + AM + para("three"), 1, false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        NoteData_t *n = open(3, c.before);
        focus_on(n, c.current);
        if (c.button)
            g_signal_emit_by_name(tool_button(edit_cm()->window, HIDE_TIP), "clicked");
        else
            EXPECT_TRUE(action(n, "hide"));
        EXPECT_EQ(kept(), "");
        NoteElement_t *e = element(n, c.current);
        if (c.after.empty()) {
            EXPECT_EQ(n->modified, 0);
            // The views still answer: their controllers were left in place.
            GtkWidget *view = e->type == CM_GNOTE_NOTE_TYPE_AM ? e->am.input : e->p.view;
            EXPECT_NE(oska_widget_get_controller(view, e->type == CM_GNOTE_NOTE_TYPE_AM ? "gnote-view-amount"
                                                                                        : "gnote-view-paragraph"),
                      nullptr);
            EXPECT_EQ(saved(n), note_of(c.before));
            continue;
        }
        EXPECT_EQ(n->modified, 1);
        // The element keeps the focus, in an editable view, the cursor at its end.
        ASSERT_NE(e->p.view, nullptr);
        EXPECT_EQ(gnote_get_current_focus(n), e);
        EXPECT_TRUE(gtk_widget_has_focus(e->p.view));
        EXPECT_TRUE(gtk_text_view_get_editable(GTK_TEXT_VIEW(e->p.view)));
        EXPECT_STREQ(gtk_widget_get_name(e->p.view), e->type == CM_GNOTE_NOTE_TYPE_HIDE ? "HideNoteEditHide" : "ParNoteEdit");
        GtkTextIter cursor;
        gtk_text_buffer_get_iter_at_mark(e->p.buffer, &cursor, gtk_text_buffer_get_insert(e->p.buffer));
        EXPECT_TRUE(gtk_text_iter_is_end(&cursor));
        EXPECT_EQ(saved(n), note_of(c.after));
    }

    // In Template mode a hidden paragraph's text is edited and taken back, and its change counts.
    NoteData_t *n = open(3, para("one") + para("secret", H));
    gtk_text_buffer_insert_at_cursor(element(n, 1)->p.buffer, "!", -1);
    // (The reader gave the note, which ends with a hidden paragraph, its last paragraph.)
    EXPECT_EQ(saved(n), note_of(para("one") + para("secret!", H) + para("")));
    EXPECT_EQ(n->modified, 1);
}

// A refusing Edit_Content routine on an unmodified note stops typing, the format, amount, tag and
// hidden comment actions and Approve; Save, Quit and Delete Amount work regardless. (The probe
// stands for the Get_Note_Block_Tag and Get_Note_Amount routines, which do not run.)
TEST_F(NoteTagsTest, ARefusingEditContentStopsTheChanges)
{
    const std::string elements = para("abc") + AM + para("d", H) + para("e");
    const std::string probe = routine_test::attach(CM, "Get_Note_Block_Tag", routine_test::PROBE, 0) +
                              routine_test::attach(CM, "Get_Note_Amount", routine_test::PROBE, 0);
    using Check = std::function<bool(NoteData_t *)>;
    struct Case {
        const char *what;
        int mode;
        std::function<void(NoteTagsTest *, NoteData_t *)> act;
        Check unchanged;
    };
    const Case refused[] = {
        {"typing", 2, [](NoteTagsTest *, NoteData_t *n) { press_key(n->note, 'x'); },
         [&](NoteData_t *n) { return buffer_text(n->note) == "abc"; }},
        {"Bold", 3,
         [](NoteTagsTest *, NoteData_t *n) {
             select_chars(n->note, 0, 2);
             action(n, "bold");
         },
         [](NoteData_t *n) {
             GtkTextIter a;
             gtk_text_buffer_get_start_iter(n->note->p.buffer, &a);
             return !gtk_text_iter_has_tag(&a, n->note->p.bold_tag);
         }},
        {"Add Amount", 2, [](NoteTagsTest *, NoteData_t *n) { action(n, "amount"); },
         [](NoteData_t *n) { return n->note->next->type == CM_GNOTE_NOTE_TYPE_AM && !n->note->next->next->next->next; }},
        {"Add Amount", 3, [](NoteTagsTest *, NoteData_t *n) { action(n, "amount"); },
         [](NoteData_t *n) { return n->note->next->type == CM_GNOTE_NOTE_TYPE_AM; }},
        {"Tag", 3, [](NoteTagsTest *, NoteData_t *n) { action(n, "tag"); },
         [](NoteData_t *n) { return n->note->type == CM_GNOTE_NOTE_TYPE_P; }},
        {"Hidden comment", 3, [](NoteTagsTest *, NoteData_t *n) { action(n, "hide"); },
         [](NoteData_t *n) { return n->note->type == CM_GNOTE_NOTE_TYPE_P; }},
        {"Hidden comments", 2, [](NoteTagsTest *, NoteData_t *n) { action(n, "visibility"); },
         [](NoteData_t *n) { return n->hidden_visible == 0; }},
        {"Approve", 3, [](NoteTagsTest *, NoteData_t *n) { action(n, "approve"); },
         [](NoteData_t *n) { return n->approved == 0 && n->edit_scroller; }},
    };
    for (const Case &c : refused) {
        SCOPED_TRACE(c.what);
        NoteData_t *n = open(c.mode, elements, probe);
        focus_on(n, 0);
        set_cell(0, 0);  // Edit_Content answers false
        std::vector<std::string> lines;
        EXPECT_EQ(logged([&] { c.act(this, n); }, &lines), "");
        EXPECT_EQ(kept(), "");
        EXPECT_TRUE(c.unchanged(n));
        EXPECT_EQ(n->modified, 0);
        EXPECT_FALSE(tag_routine_ran(lines)) << ::testing::PrintToString(lines);
        set_cell(0, 1);
        EXPECT_EQ(saved(n), note_of(elements));
    }

    const Case working[] = {
        {"Delete Amount", 3,
         [](NoteTagsTest *, NoteData_t *n) {
             focus_on(n, 1);
             action(n, "del-amount");
         },
         [](NoteData_t *n) { return n->note->next->type != CM_GNOTE_NOTE_TYPE_AM; }},
        {"Save", 2, [](NoteTagsTest *, NoteData_t *n) { action(n, "save"); },
         [](NoteData_t *n) { return !n->edit_scroller; }},
        {"Quit", 3, [](NoteTagsTest *, NoteData_t *n) { action(n, "quit"); },
         [](NoteData_t *n) { return !n->edit_scroller; }},
    };
    for (const Case &c : working) {
        SCOPED_TRACE(c.what);
        NoteData_t *n = open(c.mode, elements, probe);
        focus_on(n, 0);
        set_cell(0, 0);
        c.act(this, n);
        EXPECT_EQ(kept(), "");
        EXPECT_TRUE(c.unchanged(n)) << "the action took place";
        set_cell(0, 1);
        if (edit_cm()) close_edit();
    }
}

// What a user sees of a tag block and a hidden comment in Template mode.
TEST_F(NoteTagsTest, ATagBlockAndAHiddenCommentOnScreen)
{
    NoteData_t *n = open(3, para("Opening words") + tag("T1", true, "Terms") + para("Inside the block") + AM +
                                para("") + tag("T1", false, "End of terms") + para("A comment for the office", H) +
                                para("Closing words"));
    GtkWidget *window = edit_cm()->window;
    const lumba_test::Snapshot s = drawn(window);
    save(s, "note-window-tag-hidden.png");
    EXPECT_EQ(tag_labels(n), (std::vector<std::string>{"T1 Terms", "T1 End of terms"}));
    NoteElement_t *hidden = element(n, 6);
    ASSERT_EQ(hidden->type, CM_GNOTE_NOTE_TYPE_HIDE);
    ASSERT_NE(hidden->p.view, nullptr);
    EXPECT_TRUE(gtk_widget_get_mapped(hidden->p.view));
    close_edit();
}
