// GTK support operations shared by the widgets, notes and documents.
#include "gmisc.h"

#include <cstring>

#include "gdata.h"
#include "message.h"

namespace {

void pack(GtkWidget *box, GtkWidget *child, int expand, int fill, int margin, GtkAlign loose, bool first)
{
    if (first)
        gtk_box_prepend(GTK_BOX(box), child);
    else
        gtk_box_append(GTK_BOX(box), child);
    gtk_widget_set_hexpand(child, expand != 0);
    gtk_widget_set_vexpand(child, expand != 0);
    const GtkAlign align = fill ? GTK_ALIGN_FILL : loose;
    if (gtk_orientable_get_orientation(GTK_ORIENTABLE(box)) == GTK_ORIENTATION_VERTICAL)
        gtk_widget_set_valign(child, align);
    else
        gtk_widget_set_halign(child, align);
    gtk_widget_set_margin_start(child, margin);
    gtk_widget_set_margin_end(child, margin);
    gtk_widget_set_margin_top(child, margin);
    gtk_widget_set_margin_bottom(child, margin);
}

const char *name_of(GtkWidget *w) { return G_OBJECT_TYPE_NAME(w); }

// The pending scroll of a list view, keyed on the view so that it is scheduled once.
constexpr const char *SCROLL_PENDING = "oska-scroll-pending";

// Whether the keyboard focus of the view's window is the view or inside it.
bool has_keyboard(GtkWidget *view)
{
    GtkRoot *root = gtk_widget_get_root(view);
    GtkWidget *focus = root ? gtk_root_get_focus(root) : nullptr;
    return focus && (focus == view || gtk_widget_is_ancestor(focus, view));
}

// The selected row takes the keyboard while the list still has it: keys handled before this ran
// may have closed the list and moved on to another field, which keeps it.
gboolean focus_selected_row(gpointer data)
{
    auto *view = static_cast<GtkWidget *>(data);
    if (has_keyboard(view))
        for (GtkWidget *row = gtk_widget_get_first_child(view); row; row = gtk_widget_get_next_sibling(row))
            if (gtk_widget_get_state_flags(row) & GTK_STATE_FLAG_SELECTED) {
                gtk_widget_grab_focus(row);
                break;
            }
    g_object_unref(view);
    return G_SOURCE_REMOVE;
}

gboolean scroll_to_selected(gpointer data)
{
    auto *view = static_cast<GtkWidget *>(data);
    g_object_set_data(G_OBJECT(view), SCROLL_PENDING, nullptr);
    GtkSelectionModel *model = gtk_list_view_get_model(GTK_LIST_VIEW(view));
    if (model && GTK_IS_SINGLE_SELECTION(model)) {
        const guint position = gtk_single_selection_get_selected(GTK_SINGLE_SELECTION(model));
        if (position != GTK_INVALID_LIST_POSITION) {
            gtk_widget_activate_action(view, "list.scroll-to-item", "u", position);
            // The row's widget exists only once the view has laid out the scrolled position.
            g_idle_add(focus_selected_row, g_object_ref(view));
        }
    }
    g_object_unref(view);
    return G_SOURCE_REMOVE;
}

} // namespace

void oska_widget_show(GtkWidget *widget)
{
    for (GtkWidget *w = widget; w; w = gtk_widget_get_parent(w)) gtk_widget_set_visible(w, TRUE);
}

void oska_widget_destroy(GtkWidget *widget)
{
    if (GTK_IS_WINDOW(widget)) {
        gtk_window_destroy(GTK_WINDOW(widget));
        return;
    }
    GtkWidget *parent = gtk_widget_get_parent(widget);
    if (!parent) {
        // A widget never placed is still floating: the caller's reference is that one.
        if (g_object_is_floating(widget)) g_object_ref_sink(widget);
        g_object_unref(widget);
    } else if (GTK_IS_BOX(parent)) {
        gtk_box_remove(GTK_BOX(parent), widget);
    } else if (GTK_IS_FIXED(parent)) {
        gtk_fixed_remove(GTK_FIXED(parent), widget);
    } else if (GTK_IS_GRID(parent)) {
        gtk_grid_remove(GTK_GRID(parent), widget);
    } else if (GTK_IS_VIEWPORT(parent)) {
        gtk_viewport_set_child(GTK_VIEWPORT(parent), nullptr);
    } else {
        Abort("oska_widget_destroy call on widget %s %p with parent %s %p not of box or fixed type", name_of(widget),
              static_cast<void *>(widget), name_of(parent), static_cast<void *>(parent));
    }
}

void oska_container_add(GtkWidget *parent, GtkWidget *child)
{
    if (GTK_IS_WINDOW(parent))
        gtk_window_set_child(GTK_WINDOW(parent), child);
    else if (GTK_IS_BOX(parent))
        gtk_box_append(GTK_BOX(parent), child);
    else
        Abort("oska_container_add call with parent not of box or window type");
}

void oska_box_append(GtkWidget *box, GtkWidget *child, int expand, int fill, int margin)
{
    pack(box, child, expand, fill, margin, GTK_ALIGN_START, false);
}

void oska_box_append_end(GtkWidget *box, GtkWidget *child, int expand, int fill, int margin)
{
    pack(box, child, expand, fill, margin, GTK_ALIGN_END, false);
}

void oska_box_prepend(GtkWidget *box, GtkWidget *child, int expand, int fill, int margin)
{
    pack(box, child, expand, fill, margin, GTK_ALIGN_START, true);
}

gboolean oska_window_activate_focus(GtkWidget *window)
{
    if (!GTK_IS_WINDOW(window)) {
        g_return_if_fail_warning(nullptr, "oska_window_activate_focus", "GTK_IS_WINDOW (window)");
        return FALSE;
    }
    GtkWidget *focus = gtk_window_get_focus(GTK_WINDOW(window));
    if (!focus || !gtk_widget_is_sensitive(focus)) return FALSE;
    return gtk_widget_activate(focus);
}

GtkWidget *oska_widget_get_window(GtkWidget *widget)
{
    return widget ? gtk_widget_get_ancestor(widget, GTK_TYPE_WINDOW) : nullptr;
}

GtkWidget *oska_form_content_frame(GtkWidget *box)
{
    GtkWidget *parent = gtk_widget_get_parent(box);
    GtkWidget *scrolled = GTK_IS_VIEWPORT(parent) ? gtk_widget_get_parent(parent) : nullptr;
    if (scrolled && g_strcmp0(gtk_widget_get_name(scrolled), OSKA_FORM_CONTENT) == 0) return scrolled;
    return box;
}

GtkWidget *oska_widget_get_parent(GtkWidget *widget)
{
    return gtk_widget_get_parent(oska_form_content_frame(widget));
}

GtkWidget *oska_widget_get_toplevel(GtkWidget *widget)
{
    GtkWidget *top = widget;
    while (top && gtk_widget_get_parent(top)) top = gtk_widget_get_parent(top);
    return top;
}

void oska_on_button_propagate(GtkGesture *gesture, int flag)
{
    if (flag) gtk_gesture_set_state(gesture, GTK_EVENT_SEQUENCE_CLAIMED);
}

namespace {

gboolean full_text_tooltip(GtkWidget *label, int, int, gboolean, GtkTooltip *tooltip, gpointer)
{
    // A tooltip the program gave the label itself is GTK's own to show.
    if (gtk_widget_get_tooltip_text(label) || !pango_layout_is_ellipsized(gtk_label_get_layout(GTK_LABEL(label))))
        return FALSE;
    gtk_tooltip_set_text(tooltip, gtk_label_get_text(GTK_LABEL(label)));
    return TRUE;
}

GtkWidget *label_within(GtkWidget *widget)
{
    if (GTK_IS_LABEL(widget)) return widget;
    for (GtkWidget *c = gtk_widget_get_first_child(widget); c; c = gtk_widget_get_next_sibling(c))
        if (GtkWidget *label = label_within(c)) return label;
    return nullptr;
}

} // namespace

void oska_label_ellipsize(GtkWidget *label)
{
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    gtk_widget_set_has_tooltip(label, TRUE);
    g_signal_connect(label, "query-tooltip", G_CALLBACK(full_text_tooltip), nullptr);
}

void oska_button_ellipsize(GtkWidget *button)
{
    if (GtkWidget *label = label_within(button)) oska_label_ellipsize(label);
}

void oska_label_set_markup(GtkWidget *label, const char *markup)
{
    gchar *valid = g_utf8_make_valid(markup, -1);
    char *plain = nullptr;
    const bool is_markup = pango_parse_markup(valid, -1, 0, nullptr, &plain, nullptr, nullptr);
    if (std::strlen(valid) <= OSKA_SHOWN_TEXT_MAX && is_markup)
        gtk_label_set_markup(GTK_LABEL(label), valid);
    else if (std::strlen(valid) <= OSKA_SHOWN_TEXT_MAX)
        gtk_label_set_text(GTK_LABEL(label), valid);
    else  // a cut could fall inside a tag: the cut text shows plain
        gtk_label_set_text(GTK_LABEL(label), oska_shown_text(is_markup ? plain : valid, "label").c_str());
    g_free(plain);
    g_free(valid);
}

std::string oska_shown_text(std::string text, const char *what)
{
    if (text.size() <= OSKA_SHOWN_TEXT_MAX) return text;
    const std::size_t whole = text.size();
    const char *end = g_utf8_find_prev_char(text.c_str(), text.c_str() + OSKA_SHOWN_TEXT_MAX + 1);
    text.resize(end ? static_cast<std::size_t>(end - text.c_str()) : 0);
    mlog(0, "%s text of %zu bytes cut to %zu bytes", what, whole, text.size());
    return text;
}

void ring_bell(GtkWidget *widget, const char *caller)
{
    if (GdkDisplay *display = widget ? gtk_widget_get_display(widget) : gdk_display_get_default())
        gdk_display_beep(display);
    mlog(3, "Bell - function has been called:");
    mlog(3, "    %s", caller);
}

void oska_listview_scroll_to_single_selected(GtkListView *list_view)
{
    if (g_object_get_data(G_OBJECT(list_view), SCROLL_PENDING)) return;
    g_object_set_data(G_OBJECT(list_view), SCROLL_PENDING, GINT_TO_POINTER(1));
    g_idle_add(scroll_to_selected, g_object_ref(list_view));
}

GtkEventController *oska_widget_get_controller(GtkWidget *widget, const char *name)
{
    GListModel *controllers = gtk_widget_observe_controllers(widget);
    GtkEventController *found = nullptr;
    const guint n = g_list_model_get_n_items(controllers);
    for (guint i = 0; i < n && !found; ++i) {
        auto *c = static_cast<GtkEventController *>(g_list_model_get_item(controllers, i));
        if (g_strcmp0(gtk_event_controller_get_name(c), name) == 0) found = c;
        g_object_unref(c);
    }
    g_object_unref(controllers);
    return found;
}
