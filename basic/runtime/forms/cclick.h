// Mouse clicks on the fields of a form: a click is an event like a key (see cclick.cpp).
#pragma once

#include <gtk/gtk.h>

#include "forms.h"

// The "pressed" handler of every field widget's click gesture: claims the click's event sequence
// unless the click is left to the widget (an ordinary click on the focused field).
void on_button_press_event(GtkGestureClick *gesture, int n_press, double x, double y, gpointer gd);

// The work of on_button_press_event for a click of mouse button `button` with n_press presses (two
// or more: a double click, ignored) on widget, a field's widget: answers TRUE when the click's event
// sequence is to be claimed. Ends the event itself. A click while a key or another click is at
// work is dropped; one that leaves the focus where it was gives the keyboard back to the focused
// field.
// event_name: what ICGET_EVENT_NAME$ reads (a key that activates a button takes the click's road).
gboolean cclick_button_press(GtkWidget *widget, guint button, int n_press, double x, double y, GlobalData_t *gd,
                             const char *event_name = "Mouse");
// Resets the count of presses of the click gesture that took the last press: a dialog opened by
// that click took its release, so the next press on the field is a first press again.
void cclick_reset_gesture();
// Whether a click may move the focus from field current to field clicked: 1, or 0 after the user
// has been told (not for a field that never takes the focus) and the focus is back on current.
int cmat_check_clickable(ControlMatrix_t *cm, int current, int clicked);
