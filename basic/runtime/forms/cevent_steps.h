// Steps the key, Enter, click and closing handlers share: the guards they hold while they work,
// finding the CM and field of the widget that got an event, running a field's routine in the
// handlers' usual way, the event's name, the log banner and the discard question. For the event
// code of the forms engine and of the field widgets.
#pragma once

#include <gtk/gtk.h>

#include "forms.h"
#include "kinds.h"

// A widget's key-controller dispatcher, blocked while block is set and unblocked again when the
// guard goes (every way out of a handler). Its members are defined beside the dispatcher (ckeys.cpp).
class DispatcherBlock {
public:
    DispatcherBlock(GtkEventController *controller, int block, GlobalData_t *gd);
    ~DispatcherBlock();
    DispatcherBlock(const DispatcherBlock &) = delete;
    DispatcherBlock &operator=(const DispatcherBlock &) = delete;
private:
    GtkEventController *controller_ = nullptr;
    GlobalData_t *gd_ = nullptr;
};
// A busy flag of global_data taken by try-take: taken() is false when it was busy; a taken flag is
// released when the guard goes.
class BusyFlag {
public:
    explicit BusyFlag(int &flag) : flag_(flag), taken_(flag == 0) { flag_ = 1; }
    ~BusyFlag() { if (taken_) flag_ = 0; }
    BusyFlag(const BusyFlag &) = delete;
    BusyFlag &operator=(const BusyFlag &) = delete;
    bool taken() const { return taken_; }
private:
    int &flag_;
    bool taken_;
};

// Enter's three busy flags taken together, as Tab, Back-Tab, the function keys and Ctrl-z (from
// the keyboard or the soft keys) hold them while their routines run: taken() is false when one was
// busy, and the event is then dropped.
class EventGuard {
public:
    explicit EventGuard(GlobalData_t *gd) : activate_(gd->activate_lock), escape_(gd->escape_lock), f8_(gd->f8_lock) {}
    bool taken() const { return activate_.taken() && escape_.taken() && f8_.taken(); }

private:
    BusyFlag activate_, escape_, f8_;
};

namespace events {

// Sets the running routine name for the guard's life.
struct RoutineName {
    explicit RoutineName(const char *name);
    ~RoutineName();
    RoutineName(const RoutineName &) = delete;
    RoutineName &operator=(const RoutineName &) = delete;
    const char *saved;
};

// The CM of the window holding widget: nullptr when there is none, unless must_exist, which ends
// the run ("No Control Matrix found for the window of the key").
ControlMatrix_t *cm_of(GlobalData_t *gd, GtkWidget *widget, bool must_exist);
// The field whose entry is (or holds) widget, or 0.
int field_of(ControlMatrix_t *cm, GtkWidget *widget);

// How a routine ran: its answer and whether it left the window closing.
struct Ran {
    int answer = 1;
    int closing = 0;
};
// Runs code on *index (moved when the routine asked for the focus): IP and IP$ from the field
// (variable "IP$"), or IP$ empty (variable ""). close: with close processing.
Ran run(ControlMatrix_t *cm, int code, int *index, bool close, bool must_exist = false, const char *variable = "IP$");
// Runs Pre_Focus on index, close processing off; a close ends the run with message.
Ran run_pre_no_close(ControlMatrix_t *cm, int *index, const char *message);

// Writes the event's name into the CM (at most 9 characters).
void set_event_name(ControlMatrix_t *cm, const char *name);
// The three-line banner of a key at log level 0 or more: a row of "=", line, the row again.
void banner(GlobalData_t *gd, const char *line);
// "Do you want to discard your changes?": true for "_Yes".
bool discard_changes();
// The "AddChange" field's label shows a blank, the form leaving its mode.
void blank_add_change(ControlMatrix_t *cm);
// Whether the field at index has Widget Type type (index 1..count).
int type_of(ControlMatrix_t *cm, int index);

// A member of a Widget Type's row that must be there ("<Kind> fields not available").
template <class Member> auto field_hook(int type, Member member)
{
    auto hook = widget_type(type).*member;
    if (!hook) type_not_available(type);
    return hook;
}

} // namespace events
