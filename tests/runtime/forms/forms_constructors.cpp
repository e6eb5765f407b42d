// The forms engine tests' stand-ins for the widget constructors, registered for the whole test
// program as the widgets register theirs (issued handles, records hung on the CM under their
// internal codes), and the program's X server.
#include "forms_fixture.h"

#include "cases.h"
#include "gui_env.h"
#include "test_intrinsics.h"

namespace forms_test {
namespace {

void window_new(int, int, Stack *result)
{
    GtkWidget *w = gtk_window_new();
    handle_issue_widget(w);
    give(result, w);
}

void label_new(int, int, Stack *result) { give(result, keep(gtk_label_new("L"))); }
void button_new(int, int, Stack *result) { give(result, keep(gtk_button_new())); }
void grid_new(int, int, Stack *result) { give(result, keep(gtk_grid_new())); }

// The constructor pattern: the CM from argument 1, a record for (index, code) with the field
// record hung on it, and the record's own widget.
TestRecord *make_record(int nargs, int last, int kind)
{
    ControlMatrix_t *cm = cutil_get_cm(global_data, &intr::arg(nargs, last, 0));
    if (!cm) Abort("Must set the Process Control Matrix first");
    const int index = intr::integer(intr::arg(nargs, last, 1));
    SubControlMatrix_t *scm = cutil_cp_stack(cm, nullptr, 0, index, setup_code(kind), nullptr, nullptr, 1);
    auto *record = static_cast<TestRecord *>(cutil_new_setup(scm, kind, sizeof(TestRecord)));
    record->index = index;
    record->widget = keep(gtk_button_new());
    record->label = keep(gtk_label_new("D"));
    if (kind == CM_FIELD_TYPE_GNOTE) cutil_cp_stack(cm, nullptr, 0, index, AC_NOTE_F9, nullptr, nullptr, 1);
    return record;
}

void input_new(int nargs, int last, Stack *result) { give(result, make_record(nargs, last, CM_FIELD_TYPE_GINPUT)->widget); }
void date_new(int nargs, int last, Stack *result) { give(result, make_record(nargs, last, CM_FIELD_TYPE_GDATE)->widget); }
void record_new(int nargs, int last, Stack *result)
{
    give(result, make_record(nargs, last, intr::integer(intr::arg(nargs, last, 2))));
}

const auto *gui = lumba_test::add_gui_environment();
const auto *constructors = lumba_test::add_test_intrinsics({.numeric = {
                                                                {in_IGWIN_NEW, window_new},
                                                                {in_IGLABEL_SIMPLE_NEW, label_new},
                                                                {in_IGBUTTON_NEW, button_new},
                                                                {in_IGTABLE_NEW, grid_new},
                                                                {in_IGINPUT_NEW, input_new},
                                                                {in_IGDATE_NEW, date_new},
                                                                {in_IGCOMBO_NEW, record_new},
                                                            }});

} // namespace
} // namespace forms_test
