// Scripted answers for the run-time's message dialogs (gmessage, gdialog, Mgdialog) in
// in-process tests, through the dialogs' answerer seam: each dialog that comes up is recorded and
// takes the next answer of the script, which the dialog's own road then carries out (its button,
// its close request or its destruction) while its caller waits. While the script lives it
// replaces any other answerer.
#pragma once

#include <functional>
#include <vector>

#include "gmessage.h"

namespace lumba_test {

class DialogScript {
public:
    // answers: per dialog in turn a button index, DIALOG_CLOSE, DIALOG_DESTROY or DIALOG_LEAVE;
    // dialogs beyond the script are left to the user (DIALOG_LEAVE).
    explicit DialogScript(std::vector<int> answers);
    ~DialogScript();
    DialogScript(const DialogScript &) = delete;
    DialogScript &operator=(const DialogScript &) = delete;

    // What each dialog asked, in order (the window pointers are good while the dialog is up).
    const std::vector<DialogRequest> &asked() const { return asked_; }
    // Called with each request before it is answered (e.g. to take a snapshot of the dialog).
    std::function<void(const DialogRequest &)> on_shown;

private:
    std::vector<int> answers_;
    std::vector<DialogRequest> asked_;
    DialogAnswerer replaced_;
};

} // namespace lumba_test
