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

GtkWidget *make_button(const char *label)
{
    GtkWidget *button = label ? gtk_button_new_with_label(label) : gtk_button_new();
    if (label) oska_button_ellipsize(button);
    g_signal_connect(button, "clicked", G_CALLBACK(gbutton_activate_event), global_data);
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

} // namespace

namespace {

// Whether button is a field of its window's form while another field has the focus.
bool leaves_another_field(GtkWidget *button, GlobalData_t *gd)
{
    GtkWidget *window = gtk_widget_get_ancestor(button, GTK_TYPE_WINDOW);
    ControlMatrix_t *cm = window ? cget_cm_for_window(gd, window, 0) : nullptr;
    if (!cm || cm->current_focus < 1) return false;
    const int index = cget_index_for_ptr(cm, CM_ENTRY_PTR, button, 0);
    return index >= 1 && index != cm->current_focus;
}

} // namespace

void gbutton_activate_event(GtkButton *button, gpointer gd)
{
    forms_callback([&] {
        auto *g = static_cast<GlobalData_t *>(gd);
        GtkWidget *widget = GTK_WIDGET(button);
        // Clicked while another field has the focus, the button is clicked as any field is: the
        // field being left is validated and runs its Post_Focus before the button's Activate, so
        // that no form is saved past a field that refuses its value.
        if (leaves_another_field(widget, g)) {
            cclick_button_press(widget, 1, 1, 0, 0, g);
            return;
        }
        const RoutineName name("gbutton_activate_event");
        if (on_key_press_enter(widget, nullptr, GDK_KEY_Return, g, 0)) ccallbacks_finish_event(1, 1);
    });
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
