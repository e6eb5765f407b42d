// A fixture for the note field in-process: the routine fixture's programs (zasm text with the
// logging routines, COMMON cell 0 the answer the routines give) with the run-time's own note kind
// and input kind, forms built with IGNOTE_NEW, and the field driven as the forms engine drives it:
// its hooks and handlers called directly. Dialogs are answered by a script. main has room for the
// note XML: a text variable of XML_SIZE bytes at XML_AT.
#pragma once

#include <string>

#include "gnote_field.h"
#include "kinds.h"
#include "routine_fixture.h"
#include "snapshot.h"

namespace note_test {

inline constexpr int XML_AT = 80, XML_SIZE = 600;

// IGNOTE_NEW (cm, index, max length 40, min, name, width 300, expanded height 120, edit window
// 500 x 400, placement 0, margin 2, mode) leaving the handle in D.
std::string note_new(int index, int min, int mode, const std::string &name = "NoteF");
// A form (window W of type "a", CM, vertical box Y) with a note field at index 1 of that mode and
// minimum, of Tab Sequence Type tab, with its Edit_Content (PROBE) and Escape (PLAINFN) routines;
// more fields may follow.
std::string note_form(int mode, int min = 0, int tab = TAB_STANDARD);
// A text constant of any content (quotes, backslashes and line feeds escaped for zasm).
std::string text(const std::string &v);
// IGNOTE_PRINT (CM, 1, number, note, type, descriptor, mode, flags, rpc, 0).
std::string print(const std::string &number, const std::string &note, int mode, const int (&flags)[8] = {},
                  const std::string &type = "TY", const std::string &descriptor = "Desc", const std::string &rpc = "R");
// IGNOTE_GET (CM, 1, IP$, the XML variable, T$, E, IP, X, L, CM2[, E2]).
std::string get(int nargs = 11);
// A statement intrinsic on (CM, 1).
std::string on_field(int code);

// The note XML string of the paragraphs given (plain texts, escaped for the XML).
std::string xml(const std::vector<std::string> &paragraphs);
// A note of the XML elements given; a paragraph element of content (CDATA) and kind: a plain
// paragraph (P) or a hidden comment (H).
inline constexpr const char *P = R"(<p datatype="P" position="0"><![CDATA[)";
inline constexpr const char *H = R"(<p datatype="H" position="0"><![CDATA[)";
std::string note_of(const std::string &elements);
std::string para(const std::string &content, const char *kind = P);
// An amount element of value (required, not protected).
std::string amount(const std::string &value, int orsecvalue = 0, int orsec = 0, const char *next = "false");
// main's XML variable pushed by reference.
std::string xml_ref();

// The errors the forms engine kept for later, as abort text ("" when none).
std::string kept();
// The i-th element of a note's list, or nullptr past its end.
NoteElement_t *element(NoteData_t *n, int i);
// The note's XML as gnote_get_xml gives it.
std::string xml_of(NoteData_t *n);
// The text of a paragraph's buffer.
std::string buffer_text(const NoteElement_t *e);
// The character offset of the cursor in a paragraph's buffer.
int cursor_of(const NoteElement_t *e);
// Selects characters from to to of a paragraph's buffer.
void select_chars(NoteElement_t *e, int from, int to);
// Makes element i the current one by giving its widget the focus, which lasts while other windows
// come and go.
void focus_on(NoteData_t *n, int i);
// The button of a tooltip in a widget tree (a tool bar's).
GtkWidget *tool_button(GtkWidget *w, const char *tooltip);
// What GTK hands an element's view or input, given to the controller the window installed on it
// (found by its name): a key pressed (whether the window took it), the pointer entering, the
// keyboard focus leaving.
bool press_key(NoteElement_t *e, guint keyval, GdkModifierType state = GdkModifierType(0));
void pointer_enters(NoteElement_t *e);
void focus_leaves(NoteElement_t *e);

} // namespace note_test

class NoteFieldTest : public RoutineTest {
protected:
    void SetUp() override;

    // Runs main's body (after the COMMON declaration) with the routine fixture's routines, or the
    // routines given (those and more), main holding the XML variable; then the routines answer
    // true (COMMON cell 0 is 1).
    Outcome note_program(const std::string &body, const std::string &routines = routine_test::routines);
    ControlMatrix_t *cm() const { return cm_of(forms_test::CM); }
    NoteData_t *note(int index = 1) const;
    // The note edit window's matrix (the one after the form's), or nullptr when none is open.
    ControlMatrix_t *edit_cm() const;
    // Editing begins on field 1 with the form on screen, and its edit window opens as the road into
    // the editor opens it. The note.
    NoteData_t *open_edit_window();
    // Leaves the open edit window as Escape does.
    void close_edit();
    // The XML variable's text.
    std::string xml_variable() const;

    // Editing begins on field index as the forms engine begins it, and ends.
    void edit(int index);
    void leave();
    // Typing into an editable as GTK does for a key: each character replaces the selection.
    static void type(GtkWidget *editable, const std::string &text);
    // The form's window on screen, drawn.
    void on_screen();
    static lumba_test::Snapshot drawn(GtkWidget *widget);
    // Saves a picture under LUMBA_SNAPSHOT_DIR, when set.
    static void save(const lumba_test::Snapshot &s, const std::string &name);
};
