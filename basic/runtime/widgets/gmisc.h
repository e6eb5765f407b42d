// The GTK support layer every widget uses (and notes and documents too): showing up the parent
// chain, removing a widget from whatever holds it, adding to boxes and windows, finding a widget's
// window, claiming a click, and scrolling a list view to its selection.
//
// The box helpers align a child along the box's own axis: in a vertical box they set the
// child's vertical alignment, in a horizontal box its horizontal alignment, to fill when `fill` is
// set and otherwise to the beginning (oska_box_append, oska_box_prepend) or to the end
// (oska_box_append_end). The cross axis is left as the child has it. `expand` sets both expand
// flags; `margin` all four margins, in pixels. Notes and documents rely on this rule.
#pragma once

#include <cstddef>
#include <string>

#include <gtk/gtk.h>

// Makes the widget and every ancestor up to the top visible.
void oska_widget_show(GtkWidget *widget);
// A window is destroyed. Any other widget leaves its parent: a box, fixed or grid removes it, a
// viewport clears its child; a widget without a parent loses the caller's reference. Any other
// parent ends the run ("oska_widget_destroy call on widget %s %p with parent %s %p not of box or
// fixed type").
void oska_widget_destroy(GtkWidget *widget);
// A window takes child as its only child, a box appends it; any other parent ends the run
// ("oska_container_add call with parent not of box or window type").
void oska_container_add(GtkWidget *parent, GtkWidget *child);
void oska_box_append(GtkWidget *box, GtkWidget *child, int expand, int fill, int margin);
void oska_box_append_end(GtkWidget *box, GtkWidget *child, int expand, int fill, int margin);
void oska_box_prepend(GtkWidget *box, GtkWidget *child, int expand, int fill, int margin);
// Activates the window's focus widget when it has one and it is sensitive, answering what the
// activation answers; false otherwise. A non-window logs GLib's check failure and answers false.
gboolean oska_window_activate_focus(GtkWidget *window);
// The nearest GtkWindow among the widget and its ancestors, or nullptr.
GtkWidget *oska_widget_get_window(GtkWidget *widget);
// The widget's event controller of that name (the first one), or nullptr.
GtkEventController *oska_widget_get_controller(GtkWidget *widget, const char *name);
// The name of the scrolled window that holds a form's content box in its window.
inline constexpr const char *OSKA_FORM_CONTENT = "form_content";
// The scrolled window a form's content box is shown in (OSKA_FORM_CONTENT), or the box itself.
GtkWidget *oska_form_content_frame(GtkWidget *box);
// The widget's parent as the program built it: a form's content box lies in its window or the
// menu's container (the scrolled window between them is the run-time's own).
GtkWidget *oska_widget_get_parent(GtkWidget *widget);
// The topmost ancestor; the widget itself when it has no parent.
GtkWidget *oska_widget_get_toplevel(GtkWidget *widget);
// With flag set, claims the gesture's sequence so that no other controller handles the click.
void oska_on_button_propagate(GtkGesture *gesture, int flag);
// Gives a label mark-up; text that is no valid mark-up (or no valid UTF-8) shows as plain text
// rather than not at all. A text longer than OSKA_SHOWN_TEXT_MAX shows cut, as plain text.
void oska_label_set_markup(GtkWidget *label, const char *markup);

// Lets a label end in an ellipsis where its field is narrower than its text; the whole text is
// then its tooltip (unless the label has a tooltip of its own).
void oska_label_ellipsize(GtkWidget *label);
// The same for the text of a button (push, toggle or check button): the label it holds.
void oska_button_ellipsize(GtkWidget *button);

// The most bytes of text a label or a tooltip shows. Pango lays a megabyte out for seconds and
// draws it garbled, and no form has room for more than a few thousand characters.
inline constexpr std::size_t OSKA_SHOWN_TEXT_MAX = 4096;
// The text (valid UTF-8) cut at a character boundary to at most OSKA_SHOWN_TEXT_MAX bytes; a cut
// is written to the run-time log with what was cut (e.g. "label").
std::string oska_shown_text(std::string text, const char *what);
// The one bell of the typed fields: sounds the bell of the widget's display (the default display
// without a widget); at run-time log level above 2 logs that it rang, with the caller text.
void ring_bell(GtkWidget *widget, const char *caller);
// Once, at the next idle moment: scrolls the list view to the selected position of its
// single-selection model and, after one more pass of the main loop (when the row's widget exists),
// gives that row the keyboard focus. The list view is kept alive until then.
void oska_listview_scroll_to_single_selected(GtkListView *list_view);
