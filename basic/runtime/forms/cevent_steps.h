// Steps the key, Enter and closing handlers share: finding the CM and field of the widget that got
// an event, running a field's routine in the handlers' usual way, the event's name, the log banner
// and the discard question. Private to the forms engine's event code.
#pragma once

#include <gtk/gtk.h>

#include "forms.h"

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

} // namespace events
