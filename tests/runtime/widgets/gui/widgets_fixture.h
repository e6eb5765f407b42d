// A fixture for the widget tests in-process: the forms fixture (programs in zasm text, run in
// windows mode with a global record of their own) with the widgets' own intrinsics registered,
// test rows in the widgets' per-kind table for every record kind, and field records made through
// the widgets' construction pattern by stand-in constructors:
//   IGCOMBO_NEW (cm, index, kind [, refuse twice]) a TestRecord of any kind (a GtkTextView as the
//     widget of a text record, else a button; a label in every record);
//   IGINPUT_NEW (cm, index) an input record, returning its GtkText;
//   IGDATE_NEW (cm, index) a date record, returning its GtkText;
//   IGLABEL_SIMPLE_NEW (text) a GtkLabel; IGBUTTON_NEW () a GtkButton.
// Each test program registers its X server (lumba_test::add_gui_environment) with its screen size.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "forms_fixture.h"
#include "gwidget.h"
#include "snapshot.h"

class WidgetsTest : public FormsTest {
public:
    // The toplevel windows now open.
    static std::vector<GtkWindow *> toplevels();
    // A window's snapshot once it is drawn.
    static lumba_test::Snapshot drawn(GtkWidget *widget);

protected:
    void SetUp() override;
    void TearDown() override;

    FieldKindHooks saved_kinds[CM_FIELD_TYPE_GMAX + 1];
};

namespace widgets_test {

using forms_test::TestRecord;

// What the test rows were asked to do, in order ("write input <text>", "destroy", ...).
std::vector<std::string> &calls();
// The display format and maximum length the test rows answer for a record.
std::map<const void *, std::string> &formats();
std::map<const void *, int> &lengths();

} // namespace widgets_test
