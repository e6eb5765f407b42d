// A fixture for forms engine and widget tests: programs written as zasm text run in-process in
// windows mode (on the test program's private X server, which the test program registers with
// lumba_test::add_gui_environment) with a global record of their own. Field records of every kind
// are TestRecords, served by the forms engine through test rows (a row per record kind); the forms
// engine tests make them with stand-in constructors (forms_constructors.cpp), the widget tests with
// the widgets' construction pattern.
#pragma once

#include <string>
#include <vector>

#include "cattach.h"
#include "cfield.h"
#include "cmatrix.h"
#include "exec_fixture.h"
#include "forms.h"
#include "gdata.h"
#include "handles.h"
#include "intrinsics.h"
#include "kinds.h"
#include "program_text.h"

namespace forms_test {

// Variables of the test programs' main routine: numerics by cell, texts by offset.
enum Numeric { CM, W, E, R, IP, X, L, D, CM2, E2, Y, Z, NUMERICS };
enum Text { IPS = 0, TS = 40, CHARS = 80 };

std::string ref(Numeric v);    // pushes the variable by reference
std::string val(Numeric v);    // pushes its value
std::string set(Numeric v);    // stores the top entry into it
std::string sref(Text v);      // pushes a text variable by reference
std::string sset(Text v);      // stores the top text into it
using lumba_test::fn;
using lumba_test::num;
using lumba_test::sfn;
using lumba_test::st;
using lumba_test::str;

// The arguments of an ICADD (each a fragment pushing one value) and its call, storing the new
// row's index into R.
struct Add {
    std::string cm = val(CM), index = num(-1), name = str("F"), prompt = num(0L), label = num(0L),
                entry = num(0L), description = num(0L), tab = num(3), enabled = num(1), type = num(3),
                valid = num(0L);
    std::string text() const;
};

// A floating widget handed out by a test: issued as a handle and kept until the test ends.
GtkWidget *keep(GtkWidget *w);
// Makes a handle the numeric result.
void give(Stack *result, const void *p);
// The internal action code under which a record kind's field record is hung.
int setup_code(int kind);

// The forms tests' constructors (numeric intrinsics): IGWIN_NEW () a window; IGLABEL_SIMPLE_NEW () a label;
// IGBUTTON_NEW () a button; IGTABLE_NEW () a grid; IGINPUT_NEW (cm, index) a text entry with its
// input record (code 101); IGDATE_NEW (cm, index) the same for a date (102); IGCOMBO_NEW
// (cm, index, kind) a field record of any kind under its internal code (a note also gets its F9
// record). Each returns the handle a program would get.
std::string window_into(Numeric v);
// The same through the widgets' IGWIN_NEW of a type letter; ICATTACH_WINDOW of the window in w
// into the CM variable cm.
std::string window_of(const std::string &type, Numeric v);
std::string attach(Numeric cm, Numeric w);
// Pushes an address as a number, as a program holds a handle; the address in upper-case hex.
std::string number(const void *p);
std::string hex(const void *p);

// A field record of the test kinds: its kind, its own index and the widget it owns.
struct TestRecord {
    int kind;
    int index;
    GtkWidget *widget;
    GtkWidget *label;
};

// Routines the test programs attach: 1 post (cm, index, IP, IP$), 2 plain (cm, index),
// 3 texts (cm, index, S$, N), 4 local_attach (cm): attaches routine 2 from its own locals.
extern const std::string standard_routines;

} // namespace forms_test

class FormsTest : public ExecTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs main's body (and the extra routines) as the first program in windows mode.
    Outcome form(const std::string &body, const std::string &extra = forms_test::standard_routines);
    // The text of that program, for zasm (to run it in lumba_run).
    static std::string form_text(const std::string &body, const std::string &extra = forms_test::standard_routines);
    // A numeric variable of the last program's main routine.
    double value(forms_test::Numeric v) const;
    long handle(forms_test::Numeric v) const;
    std::string text(forms_test::Text v, int length = 40) const;
    // The run-time log lines of a run's standard error, without their time and memory prefix.
    static std::vector<std::string> log_lines(const std::string &err);
    ControlMatrix_t *cm_of(forms_test::Numeric v) const { return reinterpret_cast<ControlMatrix_t *>(handle(v)); }

    GlobalData_t record{};
    GlobalData_t *saved = nullptr;
    std::vector<std::string> messages;  // what the run showed in message boxes
};
