// Modal message dialogs. They answer synchronously: the dialog's buttons write the answer into a
// pipe that the caller polls while running main-loop iterations.
#pragma once

// Shows text in a dialog of the kind named by the first letter of type (E or F error,
// I information, O other, Q question, W warning; none means I) and waits until it is closed.
// In background mode, or before GTK is up, the text goes to standard error instead.
void gmessage(const char *text, const char *type);
// A two-button question; 0 for the first label, 1 for the second, -1 when closed otherwise.
int Mgdialog(const char *text, const char *label1, const char *label2);
