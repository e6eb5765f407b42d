// IGBUTTON_NEW, IGBUTTON_NEW_EMPTY and IGBUTTON_ADD_LABEL; IGEBOX_NEW and IGEBOX_ADD_LABEL; and a
// button's click, which takes the road of the Enter key on the focused button and of a click on a
// field otherwise.
#include "gbutton.h"

#include <string>

#include "cases.h"
#include "ccallback.h"
#include "cclick.h"
#include "center.h"
#include "cevents.h"
#include "cfield.h"
#include "cmatrix.h"
#include "gmisc.h"
#include "gwidget.h"
#include "message.h"

namespace {

using intr::arg;

gboolean gbutton_key_press(GtkEventControllerKey *controller, guint keyval, guint keycode, GdkModifierType state,
                           gpointer gd);

// A button of a form is a field widget like any other: the forms engine has its keys (in the capture
// phase, as every field's, so that GTK's own activation never runs for Return and Space).
GtkWidget *make_button(const char *label)
{
    GtkWidget *button = label ? gtk_button_new_with_label(label) : gtk_button_new();
    if (label) oska_button_ellipsize(button);
    g_signal_connect(button, "clicked", G_CALLBACK(gbutton_activate_event), global_data);
    GtkEventController *keys = gtk_event_controller_key_new();
    gtk_event_controller_set_name(keys, "gbutton");
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    g_signal_connect(keys, "key-pressed", G_CALLBACK(gbutton_key_press), global_data);
    gtk_widget_add_controller(button, keys);
    oska_widget_show(button);
    return button;
}

// A widget handle that may be placed inside another widget: no window, nothing holding it yet.
GtkWidget *child_argument(const Stack &entry)
{
    GtkWidget *child = gwidget_arg_of(entry, GTK_TYPE_WIDGET);
    if (GTK_IS_WINDOW(child) || gtk_widget_get_parent(child))
        Abort("Invalid widget handle %lX", static_cast<unsigned long>(intr::long_integer(entry)));
    return child;
}

// Whether button is a field of its window's form while another field has the focus.
bool leaves_another_field(GtkWidget *button, GlobalData_t *gd)
{
    GtkWidget *window = gtk_widget_get_ancestor(button, GTK_TYPE_WINDOW);
    ControlMatrix_t *cm = window ? cget_cm_for_window(gd, window, 0) : nullptr;
    if (!cm || cm->current_focus < 1) return false;
    const int index = cget_index_for_ptr(cm, CM_ENTRY_PTR, button, 0);
    return index >= 1 && index != cm->current_focus;
}

// The button's road: Enter on it, or a click on it while another field has the focus; event_name
// names the event of the click road (Enter names its own).
void activate(GtkWidget *widget, GlobalData_t *g, const char *event_name)
{
    // Clicked while another field has the focus, the button is clicked as any field is: the
    // field being left is validated and runs its Post_Focus before the button's Activate, so
    // that no form is saved past a field that refuses its value.
    if (leaves_another_field(widget, g)) {
        cclick_button_press(widget, 1, 1, 0, 0, g, event_name);
        return;
    }
    const RoutineName name("gbutton_activate_event");
    if (on_key_press_enter(widget, nullptr, GDK_KEY_Return, g, 0)) ccallbacks_finish_event(1, 1);
}

bool activates(guint keyval)
{
    return keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter || keyval == GDK_KEY_ISO_Enter ||
           keyval == GDK_KEY_space || keyval == GDK_KEY_KP_Space;
}

// Whether button is a field of its window's form.
bool is_field(GtkWidget *button, GlobalData_t *gd)
{
    GtkWidget *window = gtk_widget_get_ancestor(button, GTK_TYPE_WINDOW);
    ControlMatrix_t *cm = window ? cget_cm_for_window(gd, window, 0) : nullptr;
    return cm && cget_index_for_ptr(cm, CM_ENTRY_PTR, button, 0) >= 1;
}

// Keys on a focused button: Return and Space activate it as a click does, the event named after
// the Enter road they take; Tab and Back-Tab move through the engine's order on a field, and
// through GTK's on a button that is no field; every other key is the forms engine's (Escape and
// the function keys run the window's routines).
gboolean gbutton_key_press(GtkEventControllerKey *controller, guint keyval, guint keycode, GdkModifierType state,
                           gpointer gd)
{
    auto *g = static_cast<GlobalData_t *>(gd);
    GtkWidget *button = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller));
    if (activates(keyval)) {
        const BlockedHandler blocked(controller, G_CALLBACK(gbutton_key_press), gd);
        forms_callback([&] {
            g->last_key = static_cast<int>(keyval);
            ++g->key_count;
            activate(button, g, "Enter");
        });
        return TRUE;
    }
    if (keyval == GDK_KEY_Tab || keyval == GDK_KEY_ISO_Left_Tab) {
        bool field = false;
        forms_callback([&] { field = is_field(button, g); });
        if (!field) return FALSE;
    }
    return on_key_press_event(controller, keyval, keycode, state, gd);
}

} // namespace

void gbutton_activate_event(GtkButton *button, gpointer gd)
{
    forms_callback([&] { activate(GTK_WIDGET(button), static_cast<GlobalData_t *>(gd), "Mouse"); });
}

void igbutton_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("Invalid number of parameters");
    const std::string label = valid_utf8(intr::text(arg(nargs, last, 0)));
    gwidget_give(result, make_button(label.c_str()));
}

void igbutton_new_empty(int nargs, int, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 0) Abort("Invalid number of parameters");
    gwidget_give(result, make_button(nullptr));
}

void igbutton_add_label(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Invalid number of parameters");
    GtkWidget *button = gwidget_arg_of(arg(nargs, last, 0), GTK_TYPE_BUTTON);
    gtk_button_set_child(GTK_BUTTON(button), child_argument(arg(nargs, last, 1)));
}

void igebox_new(int nargs, int, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 0) Abort("Invalid number of parameters");
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gfield_connect(box, "gebox-button", "gebox");
    oska_widget_show(box);
    gwidget_give(result, box);
}

void igebox_add_label(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 3) Abort("Invalid number of parameters");
    GtkWidget *box = gwidget_arg_of(arg(nargs, last, 0), GTK_TYPE_BOX);
    double alignment = 0;
    NumericToDBL(intr::number(arg(nargs, last, 1)), &alignment);
    GtkWidget *label = gwidget_arg_of(arg(nargs, last, 2), GTK_TYPE_LABEL);
    if (gtk_widget_get_parent(label))
        Abort("Invalid widget handle %lX", static_cast<unsigned long>(intr::long_integer(arg(nargs, last, 2))));
    gtk_box_prepend(GTK_BOX(box), label);
    oska_widget_show(label);
    gtk_label_set_xalign(GTK_LABEL(label), static_cast<float>(alignment));
    gtk_label_set_yalign(GTK_LABEL(label), 0.5f);
}
