#include "typed_fields_fixture.h"

#include "cases.h"
#include "cinvoke.h"
#include "gui_env.h"
#include "handles.h"

using namespace forms_test;

namespace {

// A test program may name another style sheet than the fixture's (LUMBA_TEST_STYLE_SHEET).
#ifndef LUMBA_TEST_STYLE_SHEET
#define LUMBA_TEST_STYLE_SHEET ""
#endif
const auto *gui = lumba_test::add_gui_environment({}, LUMBA_TEST_STYLE_SHEET);

constexpr int typed_kinds[] = {CM_FIELD_TYPE_GINPUT, CM_FIELD_TYPE_GCHECKBOX, CM_FIELD_TYPE_GLABEL,
                               CM_FIELD_TYPE_GDATE, CM_FIELD_TYPE_GTEXT};

std::string args(const std::vector<std::string> &more)
{
    std::string t;
    for (const std::string &a : more) t += a;
    return t;
}

int count(const std::vector<std::string> &more) { return static_cast<int>(more.size()); }

} // namespace

void TypedFieldsTest::SetUp()
{
    // The forms fixture puts test rows in the forms engine's table; the typed kinds keep their own.
    RecordKindHooks own[CM_FIELD_TYPE_GMAX + 1];
    for (int kind : typed_kinds) own[kind] = record_kind(kind);
    FormsTest::SetUp();
    for (int kind : typed_kinds) register_record_kind(kind, own[kind]);
}

GtkWidget *TypedFieldsTest::entry_widget(int index) const
{
    return handle_widget(reinterpret_cast<std::uintptr_t>(entry_record(index)));
}

void *TypedFieldsTest::entry_record(int index) const
{
    return cset_cm_get_ptr(cm(), CM_ENTRY_PTR, index);
}

void TypedFieldsTest::edit(int index)
{
    cm()->current_focus = index;
    cinvoke_pre_display(cm());
}

void TypedFieldsTest::leave()
{
    cinvoke_post_display(cm(), 0);
}

void TypedFieldsTest::type(GtkWidget *editable, const std::string &text)
{
    GtkEditable *e = GTK_EDITABLE(editable);
    for (char c : text) {
        gtk_editable_delete_selection(e);
        int position = gtk_editable_get_position(e);
        // "insert-text" copies its text as a string: it must end in a NUL, as GTK's own do.
        const char one[2] = {c, '\0'};
        gtk_editable_insert_text(e, one, 1, &position);
        gtk_editable_set_position(e, position);
    }
}

lumba_test::Snapshot TypedFieldsTest::drawn(GtkWidget *widget)
{
    EXPECT_TRUE(lumba_test::wait_drawn(widget));
    return lumba_test::snapshot(widget);
}

namespace typed_test {

std::string window_form() { return window_of("a", W) + attach(CM, W) + val(W) + fn(in_IGVBOX_NEW, 1) + set(Y); }

std::string add_field(const std::string &make, int widget_type, int tab, const std::string &name)
{
    Add a;
    a.entry = val(D);
    a.type = num(widget_type);
    a.tab = num(tab);
    a.name = str(name);
    std::string pack = val(Y) + val(D);
    for (int i = 0; i < 7; ++i) pack += num(0L);
    return make + pack + st(in_IGHBOX_PACK, 9) + a.text();
}

std::string input(int index, int min, int max, const std::string &type, const std::vector<std::string> &more)
{
    return ref(CM) + num(index) + num(min) + num(max) + num("0.5") + num(0L) + str(type) + args(more) +
           fn(in_IGINPUT_NEW, 7 + count(more)) + set(D);
}

std::string text_field(int index, int min, int max, const std::string &type, const std::vector<std::string> &more)
{
    return ref(CM) + num(index) + num(min) + num(max) + num(200) + num(60) + str(type) + num(2) + args(more) +
           fn(in_IGTEXT_NEW, 8 + count(more)) + set(D);
}

std::string date(int index, int four_digits)
{
    return ref(CM) + num(index) + num(four_digits) + fn(in_IGDATE_NEW, 3) + set(D);
}

std::string checkbox(int index, const std::vector<std::string> &more)
{
    return ref(CM) + num(index) + args(more) + fn(in_IGCHECKBOX_NEW, 2 + count(more)) + set(D);
}

std::string label(int index, int field, int clickable, const std::string &text, const std::vector<std::string> &more)
{
    return ref(CM) + num(index) + num(field) + num(clickable) + str(text) + num("0.0") + num(20) + args(more) +
           fn(in_IGLABEL_NEW, 7 + count(more)) + set(D);
}

} // namespace typed_test
