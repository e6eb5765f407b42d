// Modal message dialogs: gmessage (a typed message with a fixed button set), gdialog (a question
// with the program's answers, behind IGDIALOG) and Mgdialog (a two-button question of the run-time
// itself). They answer synchronously to code inside a program routine: each dialog is a window of
// our own whose buttons write the answer into a pipe, and the caller waits on the pipe inside the
// main loop, so other windows repaint and their handlers run meanwhile.
#pragma once

#include <functional>
#include <gtk/gtk.h>
#include <string>
#include <vector>

struct Stack;

// Shows text in a dialog of the kind named by the first letter of type (E or F error,
// I information, O other, Q question, W warning, either case; none or empty means I) and waits
// until it is answered or closed. Any other letter ends the run ("Unknown gmessage type '%s'").
// Without windows (background mode, or before GTK is up) the text goes to standard error and the
// run-time log instead.
void gmessage(const char *text, const char *type);
// gmessage's dialog, answering the index of the button pressed, or the type's cancel answer (1 for
// a question, else -1) when it was closed unanswered; -1 without windows.
int gmessage_ask(const char *text, const char *type);
// Shows text with one button per label (the first the default) and waits: the index of the
// button pressed, -1 when the dialog was closed unanswered. Without windows the question goes to
// standard error and the run-time log and the answer is -1.
int gdialog(const char *text, const std::vector<std::string> &labels);
// A two-button question of the run-time: 0 for label1, 1 for label2, -1 when closed otherwise.
int Mgdialog(const char *text, const char *label1, const char *label2);

// ---- Intrinsics -------------------------------------------------------------------------------------
void igdialog(int nargs, int last, Stack *result);  // IGDIALOG
void igmessage(int nargs, int last);                 // IGMESSAGE

// ---- Test seam --------------------------------------------------------------------------------------
//
// What a dialog asks, as shown: the function that showed it ("gmessage", "gdialog", "Mgdialog"),
// its heading line and text, the style class (empty for none), the button labels, and the windows.
struct DialogRequest {
    std::string caller;
    std::string heading;
    std::string text;
    std::string style;
    std::vector<std::string> buttons;
    GtkWindow *dialog;
    GtkWindow *parent;  // nullptr when it has none
};
// How an answerer answers: a button's index (0 ..) presses that button; these close the dialog
// through its close request, destroy it, or leave it to the user.
inline constexpr int DIALOG_CLOSE = -1;
inline constexpr int DIALOG_DESTROY = -2;
inline constexpr int DIALOG_LEAVE = -3;
using DialogAnswerer = std::function<int(const DialogRequest &)>;
// Installs an answerer, called for every dialog once it is up; its answer is carried out from the
// main loop while the caller waits, so the dialog's own road (button, close, destroy, pipe) runs.
// Returns the answerer it replaces; an empty one leaves every dialog to the user.
DialogAnswerer set_dialog_answerer(DialogAnswerer answerer);
