// Pieces of the zasm programs the note run tests hand to the real lumba_run: main builds a form of
// a note field (index 1) and an input field (index 2), attaches routines to them and runs the main
// loop; the routines log what they see (IMLOG) for the test to read.
#pragma once

#include <string>

#include "gui_child.h"
#include "xdotool.h"
#include "xvfb.h"

namespace note_run {

// main's numerics: CM 0, W 1, Y 2, D 3, R 4, IP 5; its text IP$ (40) at 0.
enum { CM, W, Y, D, R, IP };

// A numeric variable of the routine running pushed by value or by reference, and stored into.
std::string load(int v);
std::string ref(int v);
std::string store(int v);
// The text variable of size bytes at `at` pushed by reference or by value.
std::string sref(int at, int size);
std::string sload(int at, int size);
// The number push pushes, as text (STR).
std::string number_text(const std::string &push);
// One line logged: the n texts pieces pushes, joined.
std::string log_line(const std::string &pieces, int n);
// ICATTACH_FUN(code, routine, CM, index, IP, IP$).
std::string attach(const char *code, int routine, int index);
// Packs D into the box and adds it as field index of Widget Type type.
std::string add(int index, const char *name, int type);

// main up to its attachments: window W of type "a" titled title attached to CM, vertical box Y,
// the note field "Note" (IGNOTE_NEW: max 40, min 0, "NoteF", width 300, height 120, edit window
// 500 x 400, placement 0, margin 2, mode) and the input field "Town".
std::string form_fields(const std::string &title, int mode);
// main's end: W shown with the focus on the note, "form up" logged, the main loop run, "main loop
// done" logged.
std::string form_run();
// The head of a numeric routine with locals numerics and texts bytes of text.
std::string routine(const char *name, int numerics = 0, int texts = 0);
// A routine's answer: true.
std::string answer_true();
// IGNOTE_GET (cm, ind, N$, X$, S$, A, T, M, P, R, O) into the locals that POST_LOCALS names:
// numerics A 0, T 1, M 2, P 3, R 4, O 5; texts N$ (10) at 0, X$ (600) at 10, S$ (40) at 610.
std::string note_get();
inline constexpr int POST_NUMERICS = 6, POST_TEXTS = 650;
extern const char *const POST_LOCALS;

// The symbol tables: main's, and a routine's (its parameters CM, IND, IP and IP$, then the rows
// of its locals, one a line).
std::string main_symbols();
std::string routine_symbols(const char *name, const std::string &locals = "");

// A program assembled as unit0's application name and run by lumba_run on a private X server,
// its log at out. Whether it runs the caller asks the log.
struct ProgramRun {
    ProgramRun(const std::string &program, const std::string &name);
    lumba_test::Xvfb x;
    const std::string out;
    lumba_test::GuiChild run;
};

// The form titled form_title, once main logged "form up", and the edit window titled
// window_title that F9 on it opens: their window ids ("" where one did not come, which fails the
// test).
struct EditWindow {
    std::string form, window;
};
EditWindow press_f9(const ProgramRun &run, const lumba_test::Xdotool &user, const std::string &form_title,
                    const std::string &window_title);

// F12 on the edit window, then, once Post_Focus logged the saved note ("xml ..."), Escape on the
// form: the run's exit status (-1 when the note was not logged).
int save_and_leave(ProgramRun &run, const lumba_test::Xdotool &user, const EditWindow &w);

// The window's colour at (x, y) as 0xRRGGBB, -1 when it cannot be read.
long colour_at(const std::string &display, const std::string &window, int x, int y);
// Whether the window shows white at (x, y): the inside of a paragraph view under the site's sheet.
bool white_at(const std::string &display, const std::string &window, int x, int y);
// The colour the site's sheet gives selected text and a note block selected for its tags.
inline constexpr long SITE_SELECTION_COLOUR = 0x99c1f1;

// IGNOTE_PRINT (CM, 1, "N1", note, "TY", "Desc", mode, eight flags 0, "R", 0): the note (zasm text)
// loaded into the field as number N1.
std::string print_note(const char *note, int mode);

// The form up: waits until main logged "form up", finds the window titled title (a regular
// expression) and gives it the keyboard; its window.
std::string form_up(const ProgramRun &run, const lumba_test::Xdotool &user, const std::string &title);
// Saves the note with F12 in the edit window, waits for the Post_Focus routine's "xml" line, and
// leaves the form with Escape; the run's exit status is expected 0.
void save_and_leave(ProgramRun &run, const lumba_test::Xdotool &user, const std::string &window,
                    const std::string &form);

// A picture of the X server's screen under LUMBA_SNAPSHOT_DIR, when set.
void screenshot(const std::string &display, const std::string &name);

} // namespace note_run
