// A fixture for the typed fields in-process (input, text, date, check box, label): the forms
// fixture with the run-time's own constructors and the real rows of these kinds, so a program
// builds its form with IGINPUT_NEW and the others, and a test then drives a field as the forms
// engine does: calling the kind's hooks and handlers directly, with the filters unblocked by its
// pre-display. Dialogs are answered by a script (lumba_test::DialogScript), which records them.
#pragma once

#include <string>
#include <vector>

#include "forms_fixture.h"
#include "kinds.h"
#include "snapshot.h"

class TypedFieldsTest : public FormsTest {
protected:
    void SetUp() override;

    // Field index of the last program's CM: its entry element, as a widget or as a record.
    GtkWidget *entry_widget(int index) const;
    void *entry_record(int index) const;
    ControlMatrix_t *cm() const { return cm_of(forms_test::CM); }
    // Starts editing field index as the forms engine does (it becomes the focused field).
    void edit(int index);
    // Ends editing of the focused field.
    void leave();

    // Typing into an editable: each character replaces the selection and is inserted at the cursor,
    // as GTK does for a key.
    static void type(GtkWidget *editable, const std::string &text);
    // A widget once it is drawn.
    static lumba_test::Snapshot drawn(GtkWidget *widget);
};

namespace typed_test {

// A form: window W (type "a") with CM and a vertical content box Y.
std::string window_form();
// Appends a field: make (code leaving the constructor's handle in D) packed into Y, then ICADD
// of D with the Widget Type and Tab Sequence Type; the field's index is the row count.
std::string add_field(const std::string &make, int widget_type, int tab = TAB_STANDARD, const std::string &name = "F");
// Constructor calls leaving the handle in D. Texts are quoted, numbers as written.
std::string input(int index, int min, int max, const std::string &type, const std::vector<std::string> &more = {});
std::string text_field(int index, int min, int max, const std::string &type, const std::vector<std::string> &more = {});
std::string date(int index, int four_digits);
std::string checkbox(int index, const std::vector<std::string> &more = {});
// IGLABEL_NEW with the field flag, the clickable flag, the text and more arguments after the
// alignment and width (0.0, 20).
std::string label(int index, int field, int clickable, const std::string &text, const std::vector<std::string> &more = {});

} // namespace typed_test
