// Boxes, packing, scrollable areas and size groups.
#include <string>

#include "cases.h"
#include "cmatrix.h"
#include "gcontainers.h"
#include "hooks.h"
#include "gmisc.h"
#include "gwidget.h"
#include "handles.h"
#include "interp.h"
#include "kinds.h"
#include "message.h"
#include "numerics.h"

namespace {

using intr::arg;

double real_value(const Stack &entry)
{
    double d = 0;
    NumericToDBL(intr::number(entry), &d);
    return d;
}

GtkAlign align_of(double a)
{
    if (a < 0.001) return GTK_ALIGN_START;
    if (a > 0.9) return GTK_ALIGN_END;
    return GTK_ALIGN_CENTER;
}

// The CM records which program built its content box: the running program's name, empty inside a
// routine run from an event.
void record_app_name(ControlMatrix_t *cm)
{
    const char *name = ib_callback_depth == 0 && Program_name ? Program_name : "";
    if (cm->app_name)
        Abort("Unexpected duplicate application name record in Control Matrix '%s' '%s'", cm->app_name, name);
    cm->app_name = g_strdup(name);
}

int chain_length(const GlobalData_t &gd)
{
    int n = 0;
    for (const ControlMatrix_t *cm = gd.first_cm; cm; cm = cm->next) ++n;
    return n;
}

gboolean refuse_key_scrolling(GtkScrolledWindow *, GtkScrollType, gboolean, gpointer) { return TRUE; }

// A form's content box is shown inside a scrolled window as large as the content wants while the
// screen (or the menu window it borrows) has room: a larger form scrolls rather than push its
// window past the screen's edges.
GtkWidget *content_scroller(GtkWidget *box)
{
    GtkWidget *scrolled = gtk_scrolled_window_new();
    gtk_widget_set_name(scrolled, OSKA_FORM_CONTENT);
    GtkScrolledWindow *s = GTK_SCROLLED_WINDOW(scrolled);
    gtk_scrolled_window_set_policy(s, GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_propagate_natural_width(s, TRUE);
    gtk_scrolled_window_set_propagate_natural_height(s, TRUE);
    g_signal_connect(scrolled, "scroll-child", G_CALLBACK(refuse_key_scrolling), nullptr);
    gtk_scrolled_window_set_child(s, box);
    return scrolled;
}

// A box becomes a window's content in its scroller; anything else takes the box as
// oska_container_add does.
void add_content(GtkWidget *parent, GtkWidget *box)
{
    if (GTK_IS_WINDOW(parent))
        gtk_window_set_child(GTK_WINDOW(parent), content_scroller(box));
    else
        oska_container_add(parent, box);
}

// Where a form's first vertical box goes: into the menu window while a form borrows it, else as
// the window's content; any further box into its parent.
void place_content(GtkWidget *parent, GtkWidget *box)
{
    GlobalData_t *gd = global_data;
    ControlMatrix_t *first = gd->first_cm;
    const int count = chain_length(*gd);
    if (count == 2) {
        ControlMatrix_t *form = first->next;
        if (first->type == CM_WT_MENU && !form->extra_widget) {
            form->extra_widget = box;
            GtkWidget *scrolled = content_scroller(box);
            gtk_widget_set_hexpand(scrolled, TRUE);
            gtk_widget_set_vexpand(scrolled, TRUE);
            oska_container_add(first->child_container, scrolled);
            first->busy = 1;
            record_app_name(form);
            return;
        }
        if (first->type != CM_WT_MENU) {
            add_content(parent, box);
            return;
        }
    }
    if (count == 1 && !first->extra_widget) {
        first->extra_widget = box;
        add_content(parent, box);
        record_app_name(first);
        return;
    }
    add_content(parent, box);
}

// The widget IGHBOX_PACK places for a handle: a record's packed widget, a widget itself.
GtkWidget *packed_widget(const Stack &entry)
{
    const WidgetHandle h = gwidget_handle_arg(entry);
    if (h.record) {
        if (!field_kind_has_widgets(h.kind)) Abort("Unexpected widget type %d", h.kind);
        const FieldKindHooks &kind = field_kind(h.kind);
        if (!kind.packed) kind_not_available(h.kind);
        return kind.packed(h.record);
    }
    if (!h.widget) Abort("Unexpected widget type");
    return h.widget;
}

} // namespace

// ---- Helpers --------------------------------------------------------------------------------------------

int gcontainers_policy(const Stack &entry, bool horizontal)
{
    const int policy = intr::integer(entry);
    if (policy < 0 || policy > 2) {
        if (horizontal) Abort("Invalid horizontal scrolling policy %d", policy);
        Abort("Invalid vertical scrolling policy %d", policy);
    }
    return policy;
}

GtkWidget *gcontainers_scrolled(GtkWidget *parent, bool fill_parent, int horizontal, int vertical, GtkWidget *child,
                                bool no_key_scrolling)
{
    ControlMatrix_t *cm = global_data->last_cm;
    PROGRAM_ASSERT(cm);
    GtkWidget *scrolled = gtk_scrolled_window_new();
    auto *record = g_new0(ScrolledWindow_t, 1);
    record->scrolled_window = scrolled;
    ScrolledWindow_t **end = &cm->scrolled_windows;
    while (*end) {
        record->prior = *end;
        end = &(*end)->next;
    }
    *end = record;
    if (no_key_scrolling) g_signal_connect(scrolled, "scroll-child", G_CALLBACK(refuse_key_scrolling), nullptr);
    const int fill = fill_parent ? 1 : 0;
    oska_box_append(parent, scrolled, fill, fill, 0);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), static_cast<GtkPolicyType>(horizontal),
                                   static_cast<GtkPolicyType>(vertical));
    GtkWidget *viewport = gtk_viewport_new(nullptr, nullptr);
    gtk_viewport_set_scroll_to_focus(GTK_VIEWPORT(viewport), FALSE);
    gtk_viewport_set_child(GTK_VIEWPORT(viewport), child);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), viewport);
    for (GtkWidget *w : {scrolled, viewport, child}) gtk_widget_set_visible(w, TRUE);
    return scrolled;
}

void gcontainers_store(Stack &variable, long value, const char *intrinsic)
{
    if (variable.s_t != real || !(variable.flags & stk_ref) || !variable.s_c.C_N)
        Abort("%s: numeric variable expected", intrinsic);
    NumericCvLONG(value, variable.s_c.C_N);
}

// ---- Boxes ----------------------------------------------------------------------------------------------

void igvbox_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs < 1 || nargs > 2) Abort("igvbox_new(): Wrong Argument Count!");
    const int expand = nargs == 2 ? intr::integer(arg(nargs, last, 1)) : 1;
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_hexpand(box, expand != 0);
    gtk_widget_set_vexpand(box, expand != 0);
    if (nargs == 2)
        oska_box_append(gwidget_arg_of(arg(nargs, last, 0), GTK_TYPE_BOX), box, expand, 1, 0);
    else
        place_content(gwidget_arg(arg(nargs, last, 0)), box);
    oska_widget_show(box);
    if (global_data->log_level_lumbas > 2)
        mlog(3, "Pointer Value for vbox is = %d", static_cast<int>(reinterpret_cast<std::uintptr_t>(box)));
    gwidget_give(result, box);
}

void ighbox_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("ighbox_new(): Wrong Argument Count!");
    GtkWidget *parent = gwidget_arg_of(arg(nargs, last, 0), GTK_TYPE_BOX);
    const int expand = intr::integer(arg(nargs, last, 1));
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_set_hexpand(box, expand != 0);
    gtk_widget_set_vexpand(box, expand != 0);
    gtk_widget_set_visible(box, TRUE);
    oska_box_append(parent, box, expand, 0, 0);
    gwidget_give(result, box);
}

void ighbox_new_other(int nargs, int, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 0) Abort("ighbox_new_other(): Wrong Argument Count!");
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_set_hexpand(box, FALSE);
    gtk_widget_set_vexpand(box, FALSE);
    gtk_widget_set_visible(box, TRUE);
    gwidget_give(result, box);
}

void ighbox_pack(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 9 && nargs != 10) Abort("Invalid number of parameters to ighbox_pack");
    if (nargs == 10) window_hooks().message("Please remove the last parameter, tagname, from ighbox_pack", "I");
    GtkWidget *box = gwidget_arg_of(arg(nargs, last, 0), GTK_TYPE_BOX);
    GtkWidget *widget = packed_widget(arg(nargs, last, 1));
    const double xalign = real_value(arg(nargs, last, 2)), yalign = real_value(arg(nargs, last, 3));
    const int xpad = intr::integer(arg(nargs, last, 4)), ypad = intr::integer(arg(nargs, last, 5));
    const int expand = intr::integer(arg(nargs, last, 6)), fill = intr::integer(arg(nargs, last, 7));
    const int padding = intr::integer(arg(nargs, last, 8));
    if (GTK_IS_LABEL(widget)) {
        gtk_label_set_xalign(GTK_LABEL(widget), static_cast<float>(xalign));
        gtk_label_set_yalign(GTK_LABEL(widget), static_cast<float>(yalign));
    }
    if (gtk_widget_get_parent(widget)) {
        // GTK places a widget in one container only: it stays where it is.
        mmessage(1, "Child widget has unexpected parent in IGHBOX_PACK");
    } else {
        oska_box_append(box, widget, expand, fill, padding);
    }
    gtk_widget_set_halign(widget, align_of(xalign));
    gtk_widget_set_valign(widget, align_of(yalign));
    gtk_widget_set_margin_start(widget, xpad);
    gtk_widget_set_margin_end(widget, xpad);
    gtk_widget_set_margin_top(widget, ypad);
    gtk_widget_set_margin_bottom(widget, ypad);
    gtk_widget_set_visible(widget, TRUE);
}

// ---- Scrollable areas -----------------------------------------------------------------------------------

void igscrollable_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 1 && nargs != 3) Abort("Must have one or three parameters.");
    GtkWidget *parent = gwidget_arg_of(arg(nargs, last, 0), GTK_TYPE_BOX);
    const int horizontal = nargs == 3 ? gcontainers_policy(arg(nargs, last, 1), true) : GTK_POLICY_NEVER;
    const int vertical = nargs == 3 ? gcontainers_policy(arg(nargs, last, 2), false) : GTK_POLICY_AUTOMATIC;
    GtkWidget *inner = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gcontainers_scrolled(parent, true, horizontal, vertical, inner, false);
    gwidget_give(result, inner);
}

// ---- Size groups ----------------------------------------------------------------------------------------

void igsize_group_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("igsize_group_new(): Wrong Argument Count!");
    const std::string mode(intr::text(arg(nargs, last, 0)));
    GtkSizeGroupMode m;
    switch (mode.empty() ? '\0' : mode[0]) {
    case 'H': m = GTK_SIZE_GROUP_HORIZONTAL; break;
    case 'V': m = GTK_SIZE_GROUP_VERTICAL; break;
    case 'B': m = GTK_SIZE_GROUP_BOTH; break;
    case 'N': m = GTK_SIZE_GROUP_NONE; break;
    default: Abort("igsize_group_new: Invalid input type '%s'", mode.c_str());
    }
    gwidget_give_object(result, G_OBJECT(gtk_size_group_new(m)));
}

namespace {

GtkSizeGroup *size_group_arg(const Stack &entry)
{
    const long value = intr::long_integer(entry);
    const WidgetHandle h = gwidget_handle(value);
    if (!h.object || !GTK_IS_SIZE_GROUP(h.object)) Abort("Invalid widget handle %lX", static_cast<unsigned long>(value));
    return GTK_SIZE_GROUP(h.object);
}

} // namespace

void igsize_group_add(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("igsize_group_add(): Wrong Argument Count!");
    GtkSizeGroup *group = size_group_arg(arg(nargs, last, 0));
    gtk_size_group_add_widget(group, gwidget_arg(arg(nargs, last, 1)));
}

void igsize_group_finalise(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("igsize_group_finalise(): Wrong Argument Count!");
    GtkSizeGroup *group = size_group_arg(arg(nargs, last, 0));
    // The program's reference goes, and with it the number: the group lives on in its widgets.
    handle_revoke_object(G_OBJECT(group));
    g_object_unref(group);
}
