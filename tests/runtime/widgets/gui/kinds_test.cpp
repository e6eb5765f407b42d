// A field kind's one descriptor: registered in one call, its record row is what the forms engine
// reaches for the kind's records, its Widget Type row what a routine run asks the fields, and its
// widgets row what the widget intrinsics use. A second registration of the kind replaces the first;
// a number out of range changes no row.
#include <string>
#include <tuple>
#include <vector>

#include "cfield.h"
#include "cinvoke.h"
#include "test_host.h"
#include "widgets_fixture.h"

using namespace forms_test;
using namespace widgets_test;

namespace {

TestRecord *test_record(const void *r) { return static_cast<TestRecord *>(const_cast<void *>(r)); }

// The note kind as the notes will add it from their own library; each hook says which kind (Name)
// it belongs to and that it ran.
template <char Name> std::string said(const std::string &what) { return std::string(1, Name) + " " + what; }
template <char Name> GtkWidget *principal(const void *r)
{
    calls().push_back(said<Name>("principal"));
    return test_record(r)->widget;
}
template <char Name> char *value(ControlMatrix_t *, int, void *, int *, char **, int *ip_given)
{
    calls().push_back(said<Name>("value"));
    *ip_given = 1;
    return g_strdup("");
}
template <char Name> void set_name(void *, const char *name) { calls().push_back(said<Name>("name ") + name); }

template <char Name> constexpr FieldKindDescriptor note_kind{
    .kind = CM_FIELD_TYPE_GNOTE,
    .type = WIDGET_NOTE,
    .record = {.principal = principal<Name>},
    .behaviour = {.value = value<Name>},
    .intrinsics = {.set_name = set_name<Name>},
};

class KindsTest : public WidgetsTest {
protected:
    // Goes through each row of the note kind once, on a note record made in a form: the program
    // names it (IGWIDGET_SET_NAME), then the engine takes its principal widget and a routine run's
    // IP$ of the field. The hooks that ran, or the fatal message.
    std::vector<std::string> rows_reached()
    {
        calls().clear();
        const Outcome o = form(window_of("a", W) + attach(CM, W) + ref(CM) + num(1) + num(CM_FIELD_TYPE_GNOTE) +
                               fn(in_IGCOMBO_NEW, 3) + set(X) + val(X) + str("n") + st(in_IGWIDGET_SET_NAME, 2));
        if (!o.abort.empty()) return {o.abort};
        void *note = reinterpret_cast<void *>(handle(X));
        EXPECT_EQ(cget_widget_for_widget(note), test_record(note)->widget);
        auto *cm = reinterpret_cast<ControlMatrix_t *>(handle(CM));
        int ip_int = 0;
        int given = 0;
        char *decimal = nullptr;
        g_free(gkey_press_get_ip(cm, 1, note, WIDGET_NOTE, &ip_int, &decimal, &given));
        g_free(decimal);
        return calls();
    }
};

using Calls = std::vector<std::string>;

TEST_F(KindsTest, OneDescriptorRegistersEveryRowOfItsKind)
{
    const FieldKindDescriptor before = register_field_kind(note_kind<'1'>);
    EXPECT_EQ(rows_reached(), (Calls{"1 name n", "1 principal", "1 value"}));

    // A second registration of the kind replaces every row, and gives back the rows it replaced.
    const FieldKindDescriptor first = register_field_kind(note_kind<'2'>);
    EXPECT_EQ(rows_reached(), (Calls{"2 name n", "2 principal", "2 value"}));

    // A number out of range ends the run before any row changes.
    for (auto [kind, type, message] : {std::tuple{CM_FIELD_TYPE_GNOTE, WIDGET_MAX + 1, "Unexpected widget type 13"},
                                       std::tuple{0, WIDGET_NOTE, "Unexpected widget type 0"}}) {
        FieldKindDescriptor bad = note_kind<'1'>;
        bad.kind = kind;
        bad.type = type;
        EXPECT_EQ(lumba_test::abort_text([&] { register_field_kind(bad); }), message);
    }
    EXPECT_EQ(rows_reached(), (Calls{"2 name n", "2 principal", "2 value"}));

    register_field_kind(first);
    EXPECT_EQ(rows_reached(), (Calls{"1 name n", "1 principal", "1 value"}));
    register_field_kind(before);
}

} // namespace
