#include "note_field_fixture.h"

#include <cstdlib>
#include <cstring>

#include "ccallback.h"
#include "cfield.h"
#include "cinvoke.h"
#include "gmisc.h"
#include "gnote_edit.h"
#include "gnote_edit_parts.h"  // gnote_element_widget: the widget a user focuses
#include "gui_env.h"
#include "mem_mgt.h"
#include "run_time.h"
#include "softkeys.h"
#include "typed_fields_fixture.h"

using namespace forms_test;

namespace note_test {

std::string xml_ref()
{
    return "loadsad I:" + std::to_string(XML_AT) + " I:1 I:" + std::to_string(XML_SIZE) + " I:0 I:0 I:0 I:0 I:0\n";
}

std::string note_new(int index, int min, int mode, const std::string &name)
{
    return ref(CM) + num(index) + num(40) + num(min) + str(name) + num(300) + num(120) + num(500) + num(400) +
           num(0L) + num(2) + num(mode) + fn(in_IGNOTE_NEW, 12) + set(D);
}

std::string note_form(int mode, int min, int tab)
{
    // The routines a note field must have: Edit_Content (answering COMMON cell 0) and Escape.
    return typed_test::window_form() + typed_test::add_field(note_new(1, min, mode), WIDGET_NOTE, tab, "N") +
           routine_test::attach(CM, "Edit_Content", routine_test::PROBE, 1) +
           routine_test::attach(CM, "Escape", routine_test::PLAINFN, 1, false);
}

std::string text(const std::string &v)
{
    std::string quoted;
    for (char c : v) {
        if (c == '"' || c == '\\')
            quoted += '\\', quoted += c;
        else if (c == '\n')
            quoted += "\\n";
        else
            quoted += c;
    }
    return str(quoted);
}

std::string print(const std::string &number, const std::string &note, int mode, const int (&flags)[8],
                  const std::string &type, const std::string &descriptor, const std::string &rpc)
{
    std::string t = val(CM) + num(1) + text(number) + text(note) + text(type) + text(descriptor) + num(mode);
    for (int f : flags) t += num(f);
    return t + text(rpc) + num(0L) + st(in_IGNOTE_PRINT, 17);
}

std::string get(int nargs)
{
    std::string t = val(CM) + num(1) + sref(IPS) + xml_ref() + sref(TS) + ref(E) + ref(IP) + ref(X) + ref(L) + ref(CM2);
    if (nargs == 11) t += ref(E2);
    return t + st(in_IGNOTE_GET, nargs);
}

std::string on_field(int code) { return val(CM) + num(1) + st(code, 2); }

std::string xml(const std::vector<std::string> &paragraphs)
{
    std::string t = "<note ver=\"1\">";
    for (const std::string &p : paragraphs) {
        std::string escaped;
        for (char c : p) escaped += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
        t += "<p datatype=\"P\" position=\"0\"><![CDATA[" + escaped + "]]></p>";
    }
    return t + "</note>";
}

std::string note_of(const std::string &elements) { return "<note ver=\"1\">" + elements + "</note>"; }

std::string para(const std::string &content, const char *kind) { return kind + content + "]]></p>"; }

std::string amount(const std::string &value, int orsecvalue, int orsec, const char *next)
{
    return std::string(R"(<am required="true" next=")") + next + R"(" protect="false" orsec=")" +
           std::to_string(orsec) + R"(" orsecvalue=")" + std::to_string(orsecvalue) + R"(">)" + value + "</am>";
}

std::string kept() { return lumba_test::abort_text([] { forms_rethrow_kept(); }); }

NoteElement_t *element(NoteData_t *n, int i)
{
    NoteElement_t *e = n->note;
    while (e && i-- > 0) e = e->next;
    return e;
}

std::string xml_of(NoteData_t *n)
{
    char *x = gnote_get_xml(n);
    std::string s = x;
    sfree(x);
    return s;
}

std::string buffer_text(const NoteElement_t *e)
{
    GtkTextIter a, b;
    gtk_text_buffer_get_bounds(e->p.buffer, &a, &b);
    char *t = gtk_text_buffer_get_text(e->p.buffer, &a, &b, TRUE);
    std::string s = t;
    g_free(t);
    return s;
}

int cursor_of(const NoteElement_t *e)
{
    GtkTextIter it;
    gtk_text_buffer_get_iter_at_mark(e->p.buffer, &it, gtk_text_buffer_get_insert(e->p.buffer));
    return gtk_text_iter_get_offset(&it);
}

void select_chars(NoteElement_t *e, int from, int to)
{
    GtkTextIter a, b;
    gtk_text_buffer_get_iter_at_offset(e->p.buffer, &a, from);
    gtk_text_buffer_get_iter_at_offset(e->p.buffer, &b, to);
    gtk_text_buffer_select_range(e->p.buffer, &a, &b);
}

void focus_on(NoteData_t *n, int i)
{
    NoteElement_t *e = element(n, i);
    gtk_widget_grab_focus(gnote_element_widget(e));
    ASSERT_EQ(gnote_get_current_focus(n), e);
}

namespace {

GtkEventController *controller_of(NoteElement_t *e, const char *paragraph, const char *amount)
{
    GtkEventController *c = e->type == CM_GNOTE_NOTE_TYPE_AM ? oska_widget_get_controller(e->am.input, amount)
                                                             : oska_widget_get_controller(e->p.view, paragraph);
    EXPECT_NE(c, nullptr) << "the element has no controller " << paragraph << " / " << amount;
    return c;
}

} // namespace

bool press_key(NoteElement_t *e, guint keyval, GdkModifierType state)
{
    GtkEventController *c = controller_of(e, "gnote-view-paragraph", "gnote-view-amount");
    gboolean handled = FALSE;
    if (c) g_signal_emit_by_name(c, "key-pressed", keyval, 0u, state, &handled);
    return handled;
}

void pointer_enters(NoteElement_t *e)
{
    if (GtkEventController *c = controller_of(e, "gnote-view-paragraph-motion", "gnote-view-amount-motion"))
        g_signal_emit_by_name(c, "enter", 1.0, 1.0);
}

void focus_leaves(NoteElement_t *e)
{
    if (GtkEventController *c = controller_of(e, "gnote-view-paragraph-focus", "gnote-view-amount-focus"))
        g_signal_emit_by_name(c, "leave");
}

GtkWidget *tool_button(GtkWidget *w, const char *tooltip)
{
    const char *t = gtk_widget_get_tooltip_text(w);
    if (GTK_IS_BUTTON(w) && t && std::strcmp(t, tooltip) == 0) return w;
    for (GtkWidget *c = gtk_widget_get_first_child(w); c; c = gtk_widget_get_next_sibling(c))
        if (GtkWidget *f = tool_button(c, tooltip)) return f;
    return nullptr;
}

} // namespace note_test

void NoteFieldTest::SetUp()
{
    // The forms fixture puts test rows in the forms engine's table; the note and input kinds keep
    // their own.
    const RecordKindHooks note_row = record_kind(CM_FIELD_TYPE_GNOTE);
    const RecordKindHooks input_row = record_kind(CM_FIELD_TYPE_GINPUT);
    RoutineTest::SetUp();
    register_record_kind(CM_FIELD_TYPE_GNOTE, note_row);
    register_record_kind(CM_FIELD_TYPE_GINPUT, input_row);
    // The application area of a launch without options: the form's window ("a") opens at 939 x 630.
    record.oae_app_width = 1010;
    record.oae_app_height = 630;
    // The site's key sets, as start-up loads them: the edit window's bar is "FKN".
    ASSERT_GT(LoadKeySets(PPATH_ROOT "/conf/softkeys"), 0);
}

ExecTest::Outcome NoteFieldTest::note_program(const std::string &body, const std::string &routines)
{
    std::string t = form_text(routine_test::common + body, routines);
    const std::string chars = " I:" + std::to_string(CHARS) + " I:0 I:0\n";
    const std::string more = " I:" + std::to_string(note_test::XML_AT + note_test::XML_SIZE) + " I:0 I:0\n";
    t.replace(t.find(chars), chars.size(), more);
    const Outcome outcome = run(t);
    set_cell(0, 1);  // the routines accept unless a test says otherwise
    return outcome;
}

NoteData_t *NoteFieldTest::note(int index) const
{
    return static_cast<NoteData_t *>(cset_cm_get_ptr(cm(), CM_ENTRY_PTR, index));
}

ControlMatrix_t *NoteFieldTest::edit_cm() const
{
    ControlMatrix_t *next = cm()->next;
    return next && next->type == CM_WT_NOTE ? next : nullptr;
}

NoteData_t *NoteFieldTest::open_edit_window()
{
    NoteData_t *n = note();
    edit(1);
    on_screen();
    EXPECT_EQ(lumba_test::abort_text([&] { widget_type(WIDGET_NOTE).edit(cm(), 1, 0); }), "");
    EXPECT_NE(edit_cm(), nullptr);
    return n;
}

void NoteFieldTest::close_edit()
{
    ControlMatrix_t *window = edit_cm();
    ASSERT_NE(window, nullptr);
    window_kind(CM_WT_NOTE).cancel(window, GDK_KEY_Escape);
}

std::string NoteFieldTest::xml_variable() const
{
    return text(static_cast<Text>(note_test::XML_AT), note_test::XML_SIZE);
}

void NoteFieldTest::edit(int index)
{
    cm()->current_focus = index;
    cinvoke_pre_display(cm());
}

void NoteFieldTest::leave() { cinvoke_post_display(cm(), 0); }

void NoteFieldTest::type(GtkWidget *editable, const std::string &text)
{
    GtkEditable *e = GTK_EDITABLE(editable);
    for (char c : text) {
        gtk_editable_delete_selection(e);
        int position = gtk_editable_get_position(e);
        const char one[2] = {c, '\0'};
        gtk_editable_insert_text(e, one, 1, &position);
        gtk_editable_set_position(e, position);
    }
}

void NoteFieldTest::on_screen()
{
    gtk_window_present(GTK_WINDOW(cm()->window));
    ASSERT_TRUE(lumba_test::wait_drawn(cm()->window));
}

lumba_test::Snapshot NoteFieldTest::drawn(GtkWidget *widget)
{
    EXPECT_TRUE(lumba_test::wait_drawn(widget));
    return lumba_test::snapshot(widget);
}

void NoteFieldTest::save(const lumba_test::Snapshot &s, const std::string &name)
{
    if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR")) {
        EXPECT_TRUE(s.save_png(std::string(dir) + "/" + name));
    }
}
