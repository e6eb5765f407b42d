// The amounts of the note edit window in-process: Add Amount and Delete Amount over the ways an
// amount is linked in, the amount intrinsics on a window opened over the edit window (from main
// programs and from a Get_Note_Amount routine), and IGNOTE_PRINT from a routine nested in the
// field's Edit_Content check while the edit window is open, or from one outside it, also of a note
// that does not read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "ccallback.h"
#include "cevents.h"
#include "ckeys.h"
#include "gmisc.h"
#include "gnote_edit.h"
#include "gui_env.h"
#include "mem_mgt.h"
#include "note_field_fixture.h"
#include "test_host.h"
#include "typed_fields_fixture.h"

using namespace forms_test;
using namespace note_test;

namespace {

const std::string AM = amount("1234.50", 2, 3);
const std::string TAGS = R"(<tag name="T1" start="true">Block</tag><tag name="T1" start="false"></tag>)";

// Routines of these tests, numbered after the routine fixture's.
enum Routines {
    AMOUNTER = routine_test::FOCUSER + 1,  // Get_Note_Amount: a window over the edit window, an amount printed there
    EDITOR,                                // Edit_Content: ICSET_CONTENT of field 1; answers cell 0
    LOADER,                                // Set_Content: IGNOTE_PRINT of field 1, the note by cell 2
};

// The notes LOADER loads: the one the window was opened with, one changed meanwhile, and one whose
// second paragraph does not read.
const std::string SHOWN = para("one") + para("two");
const std::string CHANGED = para("changed");
const std::string BROKEN = para("changed") + para("a & b");

std::string cell_ref(int i) { return "loadrad I:" + std::to_string(22 * i) + " I:0 I:0 I:0 I:0\n"; }
std::string head(const char *kind, const char *name, int nargs)
{
    return std::string(kind) + " r:" + name + " I:0 I:0 I:0 I:0 I:0 I:" + std::to_string(nargs) + "\n";
}
std::string symbols(const char *name, int nargs)
{
    std::string t = "symtab\n__ROUTINE__ " + std::string(name) + " " + std::to_string(nargs) + "\n";
    const char *names[] = {"CM", "IND", "IP"};
    for (int i = 0; i < nargs; ++i)
        t += i == 3 ? std::string("IP$ 40 0 0x8014 0 4 -\n")
                    : std::string(names[i]) + " 0 0 0x8012 0 " + std::to_string(i + 1) + " -\n";
    return t + "__END_ROUTINE__\n.end\n";
}
std::string load_note(const std::string &elements)
{
    std::string t = lumba_test::param(0) + num(1) + text("N1") + text(note_of(elements)) + text("TY") + text("Desc") +
                    num(2);
    for (int i = 0; i < 8; ++i) t += num(0L);
    return t + text("R") + num(0L) + st(in_IGNOTE_PRINT, 17);
}

// The fixture's routines and these.
std::string all_routines()
{
    using lumba_test::from_cell;
    using lumba_test::to_cell;
    const std::string code =
        head(".nfunc", "amounter", 2) + str("a") + fn(in_IGWIN_NEW, 1) + to_cell(2) + cell_ref(3) + from_cell(2) +
        st(in_ICATTACH_WINDOW, 2) + from_cell(3) + num("1.005") + num(1) + num(0L) + num(0L) + num(5) + num(7) +
        st(in_IGNOTE_PRINT_AMOUNT, 7) + from_cell(3) + st(in_ICDELETE_WINDOW, 1) + from_cell(0) + "exitv\n" +
        head(".nfunc", "editor", 4) + lumba_test::param(0) + num(1) + st(in_ICSET_CONTENT, 2) + from_cell(0) +
        "exitv\n" +
        head(".nfunc", "loader", 4) + from_cell(2) + "jumpl I:3 l:ld_same l:ld_changed l:ld_broken\n" +
        "jump l:ld_done\n" + "ld_same:\n" + load_note(SHOWN) + "jump l:ld_done\n" + "ld_changed:\n" +
        load_note(CHANGED) + "jump l:ld_done\n" + "ld_broken:\n" + load_note(BROKEN) + "ld_done:\n" + num(1) +
        "exitv\n";
    std::string t = routine_test::routines;
    t.insert(t.find("symtab\n"), code);
    return t + symbols("amounter", 2) + symbols("editor", 4) + symbols("loader", 4);
}

// A form whose note field (mode 2) runs EDITOR as its Edit_Content routine and LOADER as its
// Set_Content routine.
std::string loading_form()
{
    return typed_test::window_form() + typed_test::add_field(note_new(1, 0, 2), WIDGET_NOTE, TAB_STANDARD, "N") +
           routine_test::attach(CM, "Edit_Content", EDITOR, 1) + routine_test::attach(CM, "Set_Content", LOADER, 1) +
           routine_test::attach(CM, "Escape", routine_test::PLAINFN, 1, false);
}

// The shape of a note's list: paragraphs by their text ("_" when empty), "H" a hidden paragraph,
// "T" a tag, "#" and its text an amount.
std::string shape(const NoteData_t *n)
{
    std::string out;
    for (const NoteElement_t *e = n->note; e; e = e->next) {
        if (!out.empty()) out += "|";
        switch (e->type) {
        case CM_GNOTE_NOTE_TYPE_P: out += e->p.text && *e->p.text ? e->p.text : "_"; break;
        case CM_GNOTE_NOTE_TYPE_HIDE: out += "H"; break;
        case CM_GNOTE_NOTE_TYPE_TAG: out += "T"; break;
        default: {
            char *text = gnote_format_amount(&e->am.value);
            out += std::string("#") + text;
            sfree(text);
        }
        }
    }
    return out;
}

} // namespace

class NoteAmountsTest : public NoteFieldTest {
protected:
    // note_program with this file's routines too.
    Outcome amounts_program(const std::string &body)
    {
        return note_program(body, all_routines());
    }
    // A form whose note (mode) holds elements, being edited with the window open.
    NoteData_t *open(int mode, const std::string &elements, const std::string &form = "")
    {
        EXPECT_EQ(amounts_program((form.empty() ? note_form(mode) : form) +
                                  routine_test::attach(CM, "Get_Note_Amount", AMOUNTER, 0, false) +
                                  print("N1", note_of(elements), mode))
                      .abort,
                  "");
        return open_edit_window();
    }
    // Makes element i the current one, as the focus arriving on its view does.
    static void make_current(NoteData_t *n, int i)
    {
        for (NoteElement_t *e = n->note; e; e = e->next) e->focus = 0;
        element(n, i)->focus = 1;
    }
    void action(NoteData_t *n, const char *name)
    {
        const std::string detailed = std::string("gnotes.") + name;
        EXPECT_TRUE(gtk_widget_activate_action(n->edit_scroller, detailed.c_str(), nullptr));
        EXPECT_EQ(kept(), "");
    }
    // A main program run over the open edit window: CM the form, CM2 a window opened over the edit
    // window, closed again at the end. Its abort text and the values it left in Z, X, L, D, E, E2
    // and Y.
    struct Over {
        std::string abort;
        std::vector<double> values;
    };
    Over over_window(const std::string &body)
    {
        ControlMatrix_t *form = cm();
        Over o;
        o.abort = amounts_program(number(form) + set(CM) + window_of("a", W) + attach(CM2, W) + body + val(CM2) +
                                  st(in_ICDELETE_WINDOW, 1))
                      .abort;
        for (Numeric v : {Z, X, L, D, E, E2, Y}) o.values.push_back(value(v));
        // The window's end ends that program too: the form's handle is the next program's.
        ccallbacks_finish_event(1, 0);
        EXPECT_EQ(amounts_program(number(form) + set(CM)).abort, "");
        EXPECT_EQ(edit_cm() ? edit_cm()->next : nullptr, nullptr) << "the window over the edit window is gone";
        return o;
    }
};

// Add Amount and Delete Amount by what follows the current element; a hidden paragraph or a tag
// current stands for the nearest paragraph before it, and without one nothing happens.
TEST_F(NoteAmountsTest, AddAndDeleteAmountFollowTheLinkTable)
{
    struct Case {
        const char *name;
        std::string elements;
        int current;
        bool button;
        const char *added, *deleted;  // the shapes after Add Amount and then Delete Amount ("" none)
    } const cases[] = {
        {"nothing after", para("a"), 0, false, "a|#nil|_", "a|_"},
        {"a paragraph after (the tool bar)", para("a") + para("b"), 0, true, "a|#nil|b", "a|b"},
        {"a tag after", para("a") + TAGS + para("b"), 0, false, "a|#nil|_|T|T|b", "a|_|T|T|b"},
        {"a hidden paragraph after", para("a") + para("S", H) + para("b"), 0, false, "a|#nil|_|H|b", "a|_|H|b"},
        {"an amount and a paragraph after", para("a") + AM + para("b"), 0, false, "a|#1,234.50|_|#nil|b",
         "a|#1,234.50|_|b"},
        {"an amount and a tag after", para("a") + AM + TAGS + para("b"), 0, false, "a|#1,234.50|_|#nil|_|T|T|b",
         "a|#1,234.50|_|_|T|T|b"},
        {"the focus on an amount", para("a") + AM + para("b"), 1, false, "a|#1,234.50|_|#nil|b", "a|#1,234.50|_|b"},
        {"a hidden paragraph current", para("a") + para("S", H) + para("b"), 1, false, "a|#nil|_|H|b", "a|_|H|b"},
        {"a tag current", para("a") + TAGS + para("b"), 2, true, "a|#nil|_|T|T|b", "a|_|T|T|b"},
        {"a hidden paragraph first", para("S", H) + para("b"), 0, false, "H|b", ""},
        {"a tag first", TAGS + para("b"), 0, true, "T|T|b", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        NoteData_t *n = open(2, c.elements);
        make_current(n, c.current);
        const std::string before = shape(n);
        if (c.button)
            g_signal_emit_by_name(tool_button(edit_cm()->window, "Add an amount field"), "clicked");
        else
            action(n, "amount");
        EXPECT_EQ(kept(), "");
        EXPECT_EQ(shape(n), c.added);
        NoteElement_t *added = gnote_get_current_focus(n);
        if (!*c.deleted) {
            // Nothing changed: the views are still the ones that take keys.
            EXPECT_EQ(shape(n), before);
            NoteElement_t *last = n->note;
            while (last->next) last = last->next;
            ASSERT_EQ(last->type, CM_GNOTE_NOTE_TYPE_P);
            EXPECT_NE(oska_widget_get_controller(last->p.view, "gnote-view-paragraph"), nullptr);
            close_edit();
            continue;
        }
        // The new amount is current, its input focused with "nil" wholly selected.
        ASSERT_EQ(added->type, CM_GNOTE_NOTE_TYPE_AM);
        EXPECT_EQ(added->am.required, 1);
        EXPECT_EQ(added->am.next, 1);
        EXPECT_EQ(n->focus_widget, added->am.input);
        EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(added->am.input)), "nil");
        int from = -1, to = -1;
        EXPECT_TRUE(gtk_editable_get_selection_bounds(GTK_EDITABLE(added->am.input), &from, &to));
        EXPECT_EQ(from, 0);
        EXPECT_EQ(to, 3);
        if (std::string(c.name) == "an amount and a tag after")
            save(drawn(edit_cm()->window), "note-window-added-amount.png");
        action(n, "del-amount");
        EXPECT_EQ(shape(n), c.deleted);
        close_edit();
    }
}

// A refusing Edit_Content on an unmodified note drops Add Amount.
TEST_F(NoteAmountsTest, AddAmountAsksEditContent)
{
    NoteData_t *n = open(2, para("a"));
    set_cell(0, 0);
    action(n, "amount");
    EXPECT_EQ(shape(n), "a");
    EXPECT_EQ(n->modified, 0);
    set_cell(0, 1);
    action(n, "amount");
    EXPECT_EQ(shape(n), "a|#nil|_");
    close_edit();
}

// In Template mode Add Amount runs the form's Get_Note_Amount routine, which opens a window over
// the edit window and prints the amount there: 1.005 is kept as 1.01, its settings in the order
// of the arguments.
TEST_F(NoteAmountsTest, TemplateAddAmountRunsGetNoteAmount)
{
    NoteData_t *n = open(3, para("a") + AM + para("b"));
    make_current(n, 0);
    action(n, "amount");
    ccallbacks_finish_event(1, 0);
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(edit_cm()->next, nullptr) << "the routine's window is closed";
    EXPECT_EQ(shape(n), "a|#1,234.50|_|#1.01|b");
    NoteElement_t *added = gnote_get_current_focus(n);
    ASSERT_EQ(added, element(n, 3));
    const dec_t kept_value = lumba_test::dec("1.01");
    EXPECT_EQ(NumericCmp(&added->am.value, &kept_value), 0) << "the value itself is rounded";
    EXPECT_EQ(added->am.orsecvalue, 5);
    EXPECT_EQ(added->am.orsec, 7);
    EXPECT_EQ(added->am.required, 1);
    EXPECT_EQ(added->am.next, 0);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(n->total_label)), "1,235.51");
    window_kind(CM_WT_NOTE).save(edit_cm());
    EXPECT_EQ(kept(), "");
    const std::string saved = note_of(para("a") + AM + para("") + amount("1.01", 5, 7) + para("b"));
    EXPECT_EQ(xml_of(n), saved);
    // Loaded again, the total is the sum of what was written.
    ASSERT_EQ(amounts_program(number(cm()) + set(CM) + print("N1", saved, 3) + get()).abort, "");
    EXPECT_DOUBLE_EQ(value(IP), 1235.51);
}

// The amount intrinsics on a window over the edit window: the current amount read, written and
// deleted; defaults elsewhere; values rounded half away from zero to two decimals.
TEST_F(NoteAmountsTest, TheAmountIntrinsics)
{
    const std::string get_amount =
        val(CM2) + ref(X) + ref(L) + ref(D) + ref(E) + ref(E2) + ref(Y) + fn(in_IGNOTE_GET_AMOUNT, 7) + set(Z);
    NoteData_t *n = open(2, para("a") + amount("1234.50", 2, 3) + para("b"));
    // Not on an amount: the defaults.
    focus_on(n, 0);
    Over o = over_window(get_amount);
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(o.values, (std::vector<double>{0, 0, 1, 1, 0, 0, 0}));
    focus_on(n, 1);
    o = over_window(get_amount);
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(o.values, (std::vector<double>{1, 1234.5, 1, 0, 0, 2, 3}));

    // Printed on the current amount: overwritten, -2.345 kept as -2.35.
    const auto print_amount = [&](const char *v, int required, int next, int protect, int orsecvalue, int orsec) {
        return val(CM2) + num(v) + num(required) + num(next) + num(protect) + num(orsecvalue) + num(orsec) +
               st(in_IGNOTE_PRINT_AMOUNT, 7);
    };
    o = over_window(print_amount("-2.345", 0, 1, 1, 5, 7) + get_amount);
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(o.values, (std::vector<double>{1, -2.35, 0, 1, 1, 5, 7}));
    EXPECT_EQ(shape(n), "a|#-2.35|b");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(n->total_label)), "-2.35");
    // Printed on a paragraph: a new amount after it.
    focus_on(n, 2);
    ASSERT_EQ(over_window(print_amount("1.005", 1, 0, 0, 5, 7)).abort, "");
    EXPECT_EQ(shape(n), "a|#-2.35|b|#1.01|_");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(n->total_label)), "-1.34");
    // Deleted: the paragraph before it is current.
    ASSERT_EQ(over_window(val(CM2) + st(in_IGNOTE_DELETE_AMOUNT, 1)).abort, "");
    EXPECT_EQ(shape(n), "a|#-2.35|b|_");
    EXPECT_EQ(gnote_get_current_focus(n), element(n, 2));
    // While the note's lock is held the delete does nothing.
    focus_on(n, 1);
    ASSERT_TRUE(g_mutex_trylock(&n->lock));
    ASSERT_EQ(over_window(val(CM2) + st(in_IGNOTE_DELETE_AMOUNT, 1)).abort, "");
    g_mutex_unlock(&n->lock);
    EXPECT_EQ(shape(n), "a|#-2.35|b|_");
    window_kind(CM_WT_NOTE).save(edit_cm());
    EXPECT_EQ(kept(), "");
    const std::string written = R"(<am required="false" next="true" protect="true" orsec="7" orsecvalue="5">-2.35</am>)";
    EXPECT_EQ(xml_of(n), note_of(para("a") + written + para("b") + para("")));
}

// The context and count messages.
TEST_F(NoteAmountsTest, TheAmountIntrinsicsRefuseOtherContexts)
{
    open(2, para("a"));
    const std::string edit = number(edit_cm()) + set(CM2);
    const std::string six = ref(X) + ref(L) + ref(D) + ref(E) + ref(E2) + ref(Y);
    const std::string values = num(1) + num(1) + num(0L) + num(0L) + num(0L) + num(0L);
    struct Case {
        std::string body;
        const char *abort;
    } const cases[] = {
        {val(CM) + six + fn(in_IGNOTE_GET_AMOUNT, 7) + set(Z),
         "An attept was made to run ignote_print_amount in context other than for a Note edit window"},
        {edit + val(CM2) + six + fn(in_IGNOTE_GET_AMOUNT, 7) + set(Z),
         "An attept was made to run ignote_print_amount in context other than for a Note edit window"},
        {val(CM) + values + st(in_IGNOTE_PRINT_AMOUNT, 7),
         "An attept was made to run ignote_print_amount in context other than for a Note edit window"},
        {val(CM) + st(in_IGNOTE_DELETE_AMOUNT, 1),
         "An attept was made to run ignote_delete_amount in context other than for a Note edit window"},
        {num(0L) + st(in_IGNOTE_DELETE_AMOUNT, 1), "Must set the Process Control Matrix first"},
        {val(CM) + ref(X) + fn(in_IGNOTE_GET_AMOUNT, 2) + set(Z), "ignote_get_amount must have seven parameters"},
        {val(CM) + values + num(0L) + st(in_IGNOTE_PRINT_AMOUNT, 8), "ignote_print_amount must have seven parameters"},
        {val(CM) + num(0L) + st(in_IGNOTE_DELETE_AMOUNT, 2), "ignote_delete_amount must have one parameter"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(amounts_program(number(cm()) + set(CM) + c.body).abort, c.abort) << c.abort;
    close_edit();
}

// IGNOTE_PRINT from a routine nested in the field's Edit_Content check (its Set_Content, run by
// ICSET_CONTENT) loads the note into the open edit window: unchanged, the user goes on where the
// user was; changed by another user, the window shows the new note with a warning, marked
// modified. The field stays in its edit-window state either way.
TEST_F(NoteAmountsTest, APrintFromTheEditCheckKeepsTheOpenWindow)
{
    const std::string form = loading_form();
    // Unchanged, by the Bold action: the selection comes back and Bold goes on there.
    NoteData_t *n = open(2, SHOWN, form);
    set_cell(2, 1);
    make_current(n, 1);
    gtk_widget_grab_focus(element(n, 1)->p.view);
    select_chars(element(n, 1), 1, 3);
    messages.clear();
    action(n, "bold");
    EXPECT_EQ(n->display_state, 4);
    ASSERT_NE(edit_cm(), nullptr);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(n->modified, 0);
    EXPECT_EQ(gnote_get_current_focus(n), element(n, 1));
    window_kind(CM_WT_NOTE).save(edit_cm());
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(xml_of(n), note_of(para("one") + para("t<b>wo</b>")));

    // Unchanged, by a typed key (the key's element is the one the load replaced).
    n = open(2, SHOWN, form);
    set_cell(2, 1);
    make_current(n, 0);
    press_key(element(n, 0), 'x');
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(n->display_state, 4);
    EXPECT_EQ(shape(n), "one|two");
    EXPECT_EQ(gnote_get_current_focus(n), element(n, 0));
    EXPECT_TRUE(lumba_test::wait_drawn(edit_cm()->window));
    EXPECT_EQ(buffer_text(element(n, 0)), "one") << "the key went to the replaced view";
    close_edit();

    // Changed, by the Bold action: the warning, and the action's check reads the modified note
    // as a refusal, so Bold is dropped and the note is unmodified again.
    n = open(2, SHOWN, form);
    set_cell(2, 2);
    select_chars(element(n, 1), 0, 2);
    messages.clear();
    action(n, "bold");
    EXPECT_EQ(n->display_state, 4);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(shape(n), "changed");
    EXPECT_EQ(n->modified, 0);
    close_edit();

    // Changed, as the engine's check runs it: the new short note, marked modified, a warning.
    n = open(2, SHOWN, form);
    set_cell(2, 2);
    messages.clear();
    cm()->edit_checked = 0;
    const auto check = [&] { ccallback_do_edit(cm(), 1, WIDGET_NOTE, GdkModifierType(0), GDK_KEY_space); };
    EXPECT_EQ(lumba_test::abort_text(check), "");
    EXPECT_EQ(n->display_state, 4);
    ASSERT_NE(edit_cm(), nullptr);
    EXPECT_EQ(shape(n), "changed");
    EXPECT_EQ(buffer_text(element(n, 0)), "changed");
    EXPECT_EQ(n->focus_widget, element(n, 0)->p.view);
    EXPECT_EQ(n->modified, 1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("The Note content has changed. While you have had this window open, changes were made "
                               "by another user. The changes made by that other user, are now being displayed here. "
                               "Please proceed with making your changes."),
              std::string::npos)
        << messages[0];
    save(drawn(edit_cm()->window), "note-window-changed.png");
    // Saved, the field shows the new note.
    window_kind(CM_WT_NOTE).save(edit_cm());
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(xml_of(n), note_of(CHANGED));
    EXPECT_NE(n->display_state, 4);

    // Outside the check the window cannot show a loaded note.
    n = open(2, SHOWN, form);
    set_cell(2, 1);
    EXPECT_EQ(invoke(cm(), AC_SET_CONTENT, 1).abort, "Invalid display state");
}

// A note that does not read, loaded while the edit window is open, stops the run with the reader's
// text before the field or the window changes: from the field's Edit_Content check, where the
// window would be kept, and from a routine outside it. The window goes on showing the note in its
// views, their handlers in place, and saves the note it showed.
TEST_F(NoteAmountsTest, APrintOfANoteThatDoesNotReadLeavesTheOpenWindowAsItWas)
{
    const std::string form = loading_form();
    const auto as_it_was = [&](NoteData_t *n) {
        EXPECT_EQ(n->display_state, 4);
        ASSERT_NE(edit_cm(), nullptr);
        EXPECT_EQ(shape(n), "one|two");
        EXPECT_EQ(xml_of(n), note_of(SHOWN));
        EXPECT_STREQ(n->number, "N1");
        EXPECT_EQ(n->modified, 0);
        EXPECT_EQ(gnote_compare_notes(0, n->note, n->original), 0) << "the original copy is the shown note's";
        for (int i : {0, 1}) {
            ASSERT_NE(element(n, i), nullptr) << i;
            ASSERT_NE(element(n, i)->p.view, nullptr) << i;
            EXPECT_EQ(buffer_text(element(n, i)), i ? "two" : "one");
            EXPECT_NE(oska_widget_get_controller(element(n, i)->p.view, "gnote-view-paragraph"), nullptr)
                << "the view's handlers are still there: " << i;
        }
    };

    // From the edit check, as the engine runs it.
    NoteData_t *n = open(2, SHOWN, form);
    set_cell(2, 3);
    cm()->edit_checked = 0;
    const auto check = [&] { ccallback_do_edit(cm(), 1, WIDGET_NOTE, GdkModifierType(0), GDK_KEY_space); };
    EXPECT_EQ(lumba_test::abort_text(check), "Unexpected ampersand");
    as_it_was(n);
    close_edit();

    // From a routine outside the check.
    n = open(2, SHOWN, form);
    set_cell(2, 3);
    EXPECT_EQ(invoke(cm(), AC_SET_CONTENT, 1).abort, "Unexpected ampersand");
    as_it_was(n);
    set_cell(2, 1);
    window_kind(CM_WT_NOTE).save(edit_cm());
    EXPECT_EQ(kept(), "");
    EXPECT_EQ(xml_of(n), note_of(SHOWN));
}
