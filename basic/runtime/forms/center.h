// Enter, the key that accepts a field (and a field's "activate"), with the jump to a prompt number
// typed on the AnyChange field.
#pragma once

#include <gtk/gtk.h>

#include "forms.h"

// Enter on a field (the Enter key, or a field's "activate"): answers 1 when the key was taken, 0
// when it goes on to GTK (a nested Enter, or one while an external program runs).
int on_key_press_enter(GtkWidget *widget, GtkEventController *controller, guint keyval, GlobalData_t *gd, int block);
