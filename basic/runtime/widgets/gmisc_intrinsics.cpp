// The intrinsics of the widget handle: removing and naming widgets, separators, a widget's parent,
// and opening a URI for the user.
#include "gmisc_intrinsics.h"

#include <string>

#include "cases.h"
#include "cfield.h"
#include "cmatrix.h"
#include "gmisc.h"
#include "gwidget.h"
#include "kinds.h"
#include "message.h"
#include "run_time.h"

namespace {

using intr::arg;

// A record still listed in its form's field table is removed anyway: the program is told (by a
// debug report) to remove the row first.
void report_listed_record(void *record)
{
    GtkWidget *window = cget_window_for_widget(record);
    ControlMatrix_t *cm = window ? cget_cm_for_window(global_data, window, 0) : nullptr;
    if (!cm) return;
    for (int i = 1; i <= cm->field_count; ++i)
        if (cm_field(cm, i).entry == record) {
            const char *name = cm_field(cm, i).name;
            Debug("delete widget in cm! Field: %s. Perhaps appropriate index should be deleted from cm first with "
                  "icremove()",
                  name ? name : "");
        }
}

GtkWidget *separator(GtkOrientation orientation)
{
    GtkWidget *s = gtk_separator_new(orientation);
    oska_widget_show(s);
    return s;
}

} // namespace

void igdelete_widget(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("Invalid number of parameters");
    const long value = intr::long_integer(arg(nargs, last, 0));
    if (!value) return;  // names nothing
    const WidgetHandle h = gwidget_handle(value);
    if (h.record) {
        report_listed_record(h.record);
        if (!field_kind_has_widgets(h.kind)) return;  // entered by its GtkText: left alone
        const FieldKindHooks &row = field_kind(h.kind);
        if (!row.destroy) kind_not_available(h.kind);
        row.destroy(h.record);
    } else if (h.widget) {
        if (GTK_IS_WINDOW(h.widget)) Abort("igdelete_widget is depricated for windows");
        oska_widget_destroy(h.widget);
    }
}

void igwidget_set_name(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Invalid number of parameters");
    const long value = intr::long_integer(arg(nargs, last, 0));
    if (!value) Abort("No widget passed to igwidget_set_name");
    const std::string name(intr::text(arg(nargs, last, 1)));
    const WidgetHandle h = gwidget_handle(value);
    if (h.record) {
        // Never named as a GTK object: a kind without widgets of its own ignores the name.
        if (!field_kind_has_widgets(h.kind)) return;
        const FieldKindHooks &row = field_kind(h.kind);
        if (!row.set_name) kind_not_available(h.kind);
        row.set_name(h.record, name.c_str());
    } else if (h.widget) {
        gtk_widget_set_name(h.widget, name.c_str());
    }
}

void ighseparator_new(int nargs, int, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 0) Abort("Invalid number of parameters");
    gwidget_give(result, separator(GTK_ORIENTATION_HORIZONTAL));
}

void igvseparator_new(int nargs, int, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 0) Abort("Invalid number of parameters");
    gwidget_give(result, separator(GTK_ORIENTATION_VERTICAL));
}

void igwget_parent(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("Invalid number of parameters");
    GtkWidget *widget = gwidget_arg_of(arg(nargs, last, 0), GTK_TYPE_WIDGET);
    gwidget_give(result, oska_widget_get_parent(widget));
}

void ishow_uri(int nargs, int last)
{
    FORMS_TRACE;
    if (Back_ground) return;  // nobody to show it to
    if (nargs != 1) Abort("Invalid number of parameters");
    const std::string uri(intr::text(arg(nargs, last, 0)));
    if (!cm_real_window(global_data->last_cm)) return;
    // GTK hands the URI to the display's own opener (the browser of a Broadway display too).
    gtk_show_uri(nullptr, uri.c_str(), GDK_CURRENT_TIME);
}
