// A fixture for running attached routines: the forms fixture's main program with a COMMON block
// (cell 0 is the answer the routines give, which a test sets; cell 1 counts Pre_Focus runs), a
// set of routines that log what they receive with IMLOG and act as each test needs, forms of
// GtkButton fields built in real windows, and direct calls of cinvoke_basic_routine whose log
// lines are collected.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "forms_fixture.h"

namespace routine_test {

// Routine numbers (main is 0; post, plain and texts of the forms fixture are 1 to 3).
enum Routines {
    PROBE = 4,    // nfunc (cm, ind, IP, IP$): logs "probe <ind> <IP> [<IP$>]"; answers cell 0
    PLAINFN,      // nfunc (cm, ind): logs "plain <ind>"; answers cell 0
    WORDS,        // sfunc (cm, ind, IP, IP$): answers "done"
    NOTHING,      // proc (cm, ind): logs "nothing"; ends without a value
    AGAIN,        // proc (cm): ICINVOKE_FETCH of itself
    CALLER,       // nfunc (cm, ind): ICCALL_FUN(FIRST), ICCALL_FUN(SECOND, "x"); logs "caller"; answers 1
    FIRST,        // proc (): logs "first"
    SECOND,       // proc (s$): logs "second <s$>"
    POSTER,       // nfunc (cm, ind, IP, IP$): ICINVOKE_ZOOM_POST(cm, "picked"); answers cell 0
    DETACHER,     // nfunc (cm, ind): ICDETACH_FUN("F5", cm, 0); answers 0
    OUTER,        // nfunc (cm, ind, IP, IP$): ICINVOKE_WIN_POST(cm), ICCLEAR(cm); logs "outer <IP> [<IP$>]"; answers 1
    CLEARER,      // nfunc (cm, ind, IP, IP$): logs "clear <ind> [<IP$>]"; answers 1
    COUNTER,      // nfunc (cm, ind, IP, IP$): cell 1 + 1; logs "pre <ind>"; answers 1
    FOCUSER,      // nfunc (cm, ind, IP, IP$): ICSET_FOCUS(cm, 2); answers 1
};

// The routines above with their symbol tables, for FormsTest::form's extra text.
extern const std::string routines;
// main's first lines: the COMMON block.
extern const std::string common;

// ICATTACH_FUN(code, routine, CM variable, index[, IP, IP$]).
std::string attach(forms_test::Numeric cm, const std::string &code, int routine, int index, bool ip = true);
// ICADD of a field into the CM variable: entry a widget (or 0), Widget Type, Tab Sequence Type.
std::string add(forms_test::Numeric cm, const std::string &name, const void *entry, int type, int tab,
                int enabled = 1, int prompt = 0);

// A window holding a vertical box, and GtkButtons in it, issued as handles.
struct Window {
    GtkWidget *window = nullptr;
    GtkWidget *box = nullptr;
    std::vector<GtkWidget *> buttons;  // buttons[i] is field i + 1's entry
};
Window make_window(int buttons);

} // namespace routine_test

class RoutineTest : public FormsTest {
protected:
    struct Call {
        int answer = 0;
        int index = 0;
        int closing = 0;
        ControlMatrix_t *out = nullptr;
        std::string result;
        std::vector<std::string> logged;  // the IMLOG lines of the run, without "B "
        std::vector<std::string> lines;   // every log line of the run
        std::string abort;
    };

    void SetUp() override;

    // Runs main (body after the COMMON declaration) with the routines.
    Outcome program(const std::string &body);
    // cinvoke_basic_routine on cm for (index, code).
    Call invoke(ControlMatrix_t *cm, int code, int index, const char *variable = "IP$", const char *text = "",
                int value = 0, int must_exist = 0, int close_processing = 0);
    // Runs work, returning its abort text ("" when none), the IMLOG lines it made and (when all
    // is given) every log line.
    std::string logged(const std::function<void()> &work, std::vector<std::string> *lines,
                       std::vector<std::string> *all = nullptr);
    // COMMON cells.
    void set_cell(int i, long value);
    long cell_value(int i) const;
};
