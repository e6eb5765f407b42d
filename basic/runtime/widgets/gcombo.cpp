// The combo field: IGCOMBO_NEW, adding items, the open list in its popover (opening, closing,
// size and place against the monitor), the keys of the closed field and of the open list, the
// mouse in the list, committing a choice, the Change_Content rules of list moves, and the hooks
// and rows the forms engine reaches the combo through. The choice intrinsics are gcombo_choice.cpp.
#include "gcombo.h"

#include <algorithm>
#include <cstring>
#include <optional>

#ifdef GDK_WINDOWING_X11
#include <gdk/x11/gdkx.h>
#endif

#include "cases.h"
#include "cattach.h"
#include "ccallback.h"
#include "center.h"
#include "cevents.h"
#include "cfield.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "gmisc.h"
#include "gprint.h"
#include "gwidget.h"
#include "handles.h"
#include "kinds.h"
#include "message.h"

// ---- StringHolder ----------------------------------------------------------------------------------------

struct _StringHolder {
    GObject parent_instance;
    char *string;
};

G_DEFINE_TYPE(StringHolder, string_holder, G_TYPE_OBJECT)

static void string_holder_finalize(GObject *object)
{
    g_free(STRING_HOLDER(object)->string);
    G_OBJECT_CLASS(string_holder_parent_class)->finalize(object);
}

static void string_holder_class_init(StringHolderClass *klass)
{
    G_OBJECT_CLASS(klass)->finalize = string_holder_finalize;
}

static void string_holder_init(StringHolder *) {}

StringHolder *string_holder_new(const char *text)
{
    auto *holder = static_cast<StringHolder *>(g_object_new(string_holder_get_type(), nullptr));
    holder->string = g_strdup(text);
    return holder;
}

const char *string_holder_get_string(StringHolder *holder)
{
    return holder->string;
}

namespace {

using intr::arg;

combo_data *combo_of(const void *record) { return static_cast<combo_data *>(const_cast<void *>(record)); }

// The combo record of field index; any other entry ends the run.
combo_data *field_combo(ControlMatrix_t *cm, int index)
{
    void *entry = cset_cm_get_ptr(cm, CM_ENTRY_PTR, index);
    if (!entry || handle_kind(entry) != CM_FIELD_TYPE_GCOMBO) Abort("Unexpected type found in Combo");
    return combo_of(entry);
}

void show_text(combo_data *c, const char *text) { gtk_label_set_text(GTK_LABEL(c->label), valid_utf8(text).c_str()); }

// The item at 1-based position n (0 counts as 1), or nullptr past the end.
ComboItem *item_at(const combo_data *c, int n)
{
    ComboItem *item = c->values;
    for (int i = 1; item && i < n; ++i) item = item->next;
    return item;
}

// The first item whose text is text, and its position; nullptr when none is.
ComboItem *item_named(const combo_data *c, const char *text, int *position)
{
    int i = 1;
    for (ComboItem *item = c->values; item; item = item->next, ++i)
        if (std::strcmp(item->text, text) == 0) {
            *position = i;
            return item;
        }
    return nullptr;
}

GtkSingleSelection *selection_of(const combo_data *c)
{
    return GTK_SINGLE_SELECTION(gtk_list_view_get_model(GTK_LIST_VIEW(c->list_view)));
}

// The text of the list's selected row (nullptr when none), logged at log level above 2.
const char *selected_text(const combo_data *c, const char *operation)
{
    auto *holder = static_cast<StringHolder *>(gtk_single_selection_get_selected_item(selection_of(c)));
    if (!holder) return nullptr;
    if (global_data->log_level_lumbas > 2) mlog(3, "%s: GCombo Selection key = '%s'", operation, holder->string);
    return holder->string;
}

// The selected row becomes the choice; with no selection active_index becomes 0.
void commit_selection(combo_data *c, const char *operation)
{
    const char *text = selected_text(c, operation);
    if (!text) {
        c->active_index = 0;
        return;
    }
    int position = 0;
    ComboItem *item = item_named(c, text, &position);
    if (!item) Abort("Failed to find index selected value index");
    c->active = item;
    c->active_index = position;
    show_text(c, item->text);
}

void commit_pending(combo_data *c)
{
    if (!c->pending) return;
    c->active_index = c->pending_index;
    c->active = c->pending;
    c->pending_index = -1;
    c->pending = nullptr;
    show_text(c, c->active->text);
}

int index_of(const combo_data *c) { return cget_index_for_ptr(c->cm, CM_ENTRY_PTR, c->button, 1); }

GtkEventController *button_keys(const combo_data *c) { return oska_widget_get_controller(c->button, "gcombo"); }

// The Enter handling of the form for the combo's button; 1 when it reports success.
int enter_on_button(combo_data *c, guint keyval, int block)
{
    return on_key_press_enter(c->button, button_keys(c), keyval, global_data, block);
}

// The field's Change_Content routine with IP$ text: it may neither leave nor open a window, nor
// move the focus.
void run_change(combo_data *c, const char *text)
{
    static const ChangeRules rules{
        "in gcombo.c  Not permitted to exit window from a function attached with the Change_Content Action Code",
        "in gcombo.c  Not permitted to create a window from a function attached with the Change_Content Action Code",
        "in gcombo.c   Not permitted to change focus from a function attached with the Change_Content Action Code",
    };
    gfield_run_change(c->cm, index_of(c), WIDGET_COMBO, text, rules);
}

// ---- Placing the list -------------------------------------------------------------------------------------

// The widget's top-left corner on the screen: its place in its surface, plus the surface's place
// on the root window where the windowing system tells it (X11); else the surface's origin.
void screen_origin(GtkWidget *widget, int *x, int *y)
{
    GtkNative *native = gtk_widget_get_native(widget);
    graphene_point_t at = GRAPHENE_POINT_INIT(0.f, 0.f);
    graphene_point_t p{};
    if (!gtk_widget_compute_point(widget, GTK_WIDGET(native), &at, &p)) p = at;
    double tx = 0, ty = 0;
    gtk_native_get_surface_transform(native, &tx, &ty);
    int sx = 0, sy = 0;
#ifdef GDK_WINDOWING_X11
    GdkSurface *surface = gtk_native_get_surface(native);
    if (surface && GDK_IS_X11_SURFACE(surface)) {
        Display *display = gdk_x11_display_get_xdisplay(gdk_surface_get_display(surface));
        ::Window child = 0;
        XTranslateCoordinates(display, gdk_x11_surface_get_xid(surface), DefaultRootWindow(display), 0, 0, &sx, &sy,
                              &child);
    }
#endif
    *x = sx + static_cast<int>(p.x + tx);
    *y = sy + static_cast<int>(p.y + ty);
}

// Sizes the list and points the popover at the place it should take.
void gcombo_set_window_size(combo_data *c)
{
    GtkScrolledWindow *scroller = GTK_SCROLLED_WINDOW(c->scroller);
    gtk_scrolled_window_set_policy(scroller, GTK_POLICY_NEVER, GTK_POLICY_NEVER);
    ComboListGeometry g{};
    gtk_widget_measure(c->scroller, GTK_ORIENTATION_HORIZONTAL, -1, &g.list_width, nullptr, nullptr, nullptr);
    gtk_widget_measure(c->scroller, GTK_ORIENTATION_VERTICAL, -1, &g.list_height, nullptr, nullptr, nullptr);
    // The popover's size holds its padding and the frame around the list as well: counted in, so
    // that the list itself gets the height of all its rows.
    int whole = 0;
    gtk_widget_measure(c->popover, GTK_ORIENTATION_VERTICAL, -1, &whole, nullptr, nullptr, nullptr);
    if (whole > g.list_height) g.list_height = whole;
    g.width = gtk_widget_get_allocated_width(c->button);
    g.height = gtk_widget_get_allocated_height(c->button);
    screen_origin(c->button, &g.x, &g.y);
    g.monitor = {g.x, g.y, g.width, g.height};  // no monitor known: the list fits where it is
    GtkNative *native = gtk_widget_get_native(c->button);
    GdkSurface *surface = native ? gtk_native_get_surface(native) : nullptr;
    if (GdkMonitor *monitor = surface ? gdk_display_get_monitor_at_surface(gdk_surface_get_display(surface), surface)
                                      : nullptr) {
        gdk_monitor_get_geometry(monitor, &g.monitor);
    } else {
        g.monitor.height += g.list_height;
    }
    const ComboListPlace place = gcombo_list_place(g);
    gtk_scrolled_window_set_policy(scroller, place.scroll_horizontal ? GTK_POLICY_ALWAYS : GTK_POLICY_NEVER,
                                   place.scroll_vertical ? GTK_POLICY_ALWAYS : GTK_POLICY_AUTOMATIC);
    gtk_widget_set_size_request(c->popover, place.width > 9 ? place.width : -1, place.height > 9 ? place.height : -1);
    // The popover hangs below a one-pixel rectangle just above the list's top-left corner.
    const GdkRectangle rect{place.x - g.x, place.y - g.y - 1, 1, 1};
    gtk_popover_set_pointing_to(GTK_POPOVER(c->popover), &rect);
    gtk_popover_set_offset(GTK_POPOVER(c->popover), 0, 0);
}

void gcombo_box_list_position(combo_data *c) { gcombo_set_window_size(c); }

// ---- The list's handlers ------------------------------------------------------------------------------------

void connect_list_handlers(combo_data *c)
{
    if (c->activate_handler) return;
    c->activate_source = G_OBJECT(c->list_view);
    c->activate_handler = g_signal_connect(c->list_view, "activate", G_CALLBACK(gcombo_row_activated), c);

    GtkGesture *press = gtk_gesture_click_new();
    gtk_event_controller_set_name(GTK_EVENT_CONTROLLER(press), "button-press-button");
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(press), 0);
    gtk_gesture_single_set_exclusive(GTK_GESTURE_SINGLE(press), TRUE);
    c->press_source = G_OBJECT(press);
    c->press_handler = g_signal_connect(press, "pressed", G_CALLBACK(gcombo_tv_button_press_event), c);
    gtk_widget_add_controller(c->list_view, GTK_EVENT_CONTROLLER(press));

    // In the capture phase, ahead of the list view's own bindings of the arrow keys.
    GtkEventController *keys = gtk_event_controller_key_new();
    gtk_event_controller_set_name(keys, "gcombo-popup-menu");
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    c->key_source = G_OBJECT(keys);
    c->key_handler = g_signal_connect(keys, "key-pressed", G_CALLBACK(gcombo_tv_key_press_event), c);
    gtk_widget_add_controller(c->list_view, keys);
}

// Disconnects the list's handlers; the gesture and key controller go with them, so that the next
// opening does not pile up controllers on the list view.
void disconnect_list_handlers(combo_data *c)
{
    if (c->activate_handler && GTK_IS_LIST_VIEW(c->list_view)) {
        g_signal_handler_disconnect(c->activate_source, c->activate_handler);
        g_signal_handler_disconnect(c->press_source, c->press_handler);
        g_signal_handler_disconnect(c->key_source, c->key_handler);
        gtk_widget_remove_controller(c->list_view, GTK_EVENT_CONTROLLER(c->press_source));
        gtk_widget_remove_controller(c->list_view, GTK_EVENT_CONTROLLER(c->key_source));
    }
    c->activate_handler = c->press_handler = c->key_handler = 0;
    c->activate_source = c->press_source = c->key_source = nullptr;
}

// Moves the open list's selection one row (delta -1 up, 1 down), wrapping at the ends; answers the
// new row's text.
const char *move_selection(combo_data *c, int delta)
{
    GtkSingleSelection *selection = selection_of(c);
    const guint rows = g_list_model_get_n_items(G_LIST_MODEL(c->store));
    if (rows == 0) return nullptr;
    guint at = gtk_single_selection_get_selected(selection);
    if (at == GTK_INVALID_LIST_POSITION) at = 0;
    const guint next = delta < 0 ? (at == 0 ? rows - 1 : at - 1) : (at + 1 >= rows ? 0 : at + 1);
    gtk_single_selection_set_selected(selection, next);
    gtk_widget_activate_action(c->list_view, "list.scroll-to-item", "u", next);
    oska_listview_scroll_to_single_selected(GTK_LIST_VIEW(c->list_view));
    return selected_text(c, "gcombo_tv_key_press_event");
}

gboolean list_key(combo_data *c, guint keyval)
{
    GlobalData_t *gd = global_data;
    GtkWidget *button = c->button;
    // Tab and the function keys without a guard of their own hold Enter's while they work.
    std::optional<EventGuard> guard;
    const auto guarded = [&] {
        guard.emplace(gd);
        return guard->taken();
    };
    if (keyval == GDK_KEY_Up || keyval == GDK_KEY_KP_Up || keyval == GDK_KEY_Down || keyval == GDK_KEY_KP_Down) {
        const bool up = keyval == GDK_KEY_Up || keyval == GDK_KEY_KP_Up;
        if (const char *text = move_selection(c, up ? -1 : 1)) {
            const std::string copy(text);  // the routine may add items to the store
            run_change(c, copy.c_str());
        }
        return TRUE;
    }
    // The form's keys do on the open list what they do on the field, once the list is closed;
    // Enter and F12 commit the chosen row first and Escape keeps the old choice, then both go on
    // as Enter on the field.
    switch (const KeyRoute route = key_route(keyval); route.action) {
    case KeyAction::none:
        return FALSE;
    case KeyAction::enter:
    case KeyAction::f12:
        commit_selection(c, "gcombo_tv_key_press_event");
        gcombo_popdown_menu(c);
        c->list_open = 1;
        if (enter_on_button(c, keyval, 1)) c->list_open = 0;
        ccallbacks_finish_event(1, 1);
        return TRUE;
    case KeyAction::escape:
        gcombo_popdown_menu(c);
        if (enter_on_button(c, keyval, 1)) ccallbacks_finish_event(1, 1);
        return TRUE;
    default:
        if (route.guarded && !guarded()) return TRUE;
        if (route.action == KeyAction::tab) commit_selection(c, "gcombo_tv_key_press_event");
        gcombo_popdown_menu(c);
        run_key_action(route.action, button, button_keys(c), keyval, gd, 1);
        ccallbacks_finish_event(1, 1);
        return TRUE;
    }
}

gboolean closed_key(GtkWidget *widget, GtkEventControllerKey *controller, guint keyval, guint keycode,
                    GdkModifierType state, GlobalData_t *gd)
{
    ControlMatrix_t *cm = cget_cm_for_window(gd, oska_widget_get_window(widget), 1);
    const int index = cget_index_for_ptr(cm, CM_ENTRY_PTR, widget, 1);
    combo_data *c = field_combo(cm, index);
    if (!c->active) assertion_failed(__FILE__, __LINE__, "combo_data->active");
    // Up and Down edit the field: its Edit_Content routine hears of them before the choice moves.
    if (keyval == GDK_KEY_Up || keyval == GDK_KEY_Down)
        ccallback_do_edit(cm, index, WIDGET_COMBO, state, keyval);
    switch (keyval) {
    case GDK_KEY_space:
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
        gcombo_popup_menu(c);
        return TRUE;
    case GDK_KEY_Up:
    case GDK_KEY_uparrow:
        if (c->active_index > 1 && c->active->prev) {
            c->active = c->active->prev;
            --c->active_index;
            show_text(c, c->active->text);
        }
        return TRUE;
    case GDK_KEY_Down:
    case GDK_KEY_downarrow:
        if (c->active->next) {
            c->active = c->active->next;
            ++c->active_index;
            show_text(c, c->active->text);
        }
        return TRUE;
    case GDK_KEY_Home:
        c->active = c->values;
        c->active_index = 1;
        show_text(c, c->active->text);
        return TRUE;
    case GDK_KEY_End: {
        int n = 1;
        ComboItem *item = c->values;
        for (; item->next; item = item->next) ++n;
        c->active = item;
        c->active_index = n;
        show_text(c, item->text);
        return TRUE;
    }
    default:
        return on_key_press_event(controller, keyval, keycode, state, gd);
    }
}

// ---- The rows of the combo kind ------------------------------------------------------------------------

void free_combo(void *record)
{
    combo_data *c = combo_of(record);
    for (ComboItem *item = c->values; item;) {
        ComboItem *next = item->next;
        g_free(item->text);
        delete item;
        item = next;
    }
    c->values = c->active = c->pending = c->longest = nullptr;
    if (c->store) g_object_unref(c->store);
    c->store = nullptr;
}
int owns_combo(const void *record, const GtkWidget *widget)
{
    const combo_data *c = combo_of(record);
    return widget && (widget == c->button || widget == c->label || widget == c->list_view || widget == c->popover);
}
GtkWidget *button_of(const void *record) { return combo_of(record)->button; }
void set_sensitive_combo(ControlMatrix_t *, int, void *record, int sensitive, int)
{
    gtk_widget_set_sensitive(combo_of(record)->button, sensitive != 0);
}
void destroy_combo(void *record) { oska_widget_destroy(combo_of(record)->button); }
void set_name_combo(void *record, const char *name) { gtk_widget_set_name(combo_of(record)->button, name); }

// IP$ is the chosen item's text and IP its number (1-based).
char *value_combo(ControlMatrix_t *, int, void *entry, int *ip_int, char **, int *ip_given)
{
    const combo_data *c = combo_of(entry);
    char *text = gcombo_get_active_text(c);
    *ip_int = c->active_index;
    *ip_given = 1;
    mlog(2, "gkey_press_get_ip: Combo '%s' Index %d", text ? text : "", c->active_index);
    return text;
}
void no_display_change(ControlMatrix_t *, int, void *) {}
void post_display_combo(ControlMatrix_t *, int, void *entry) { combo_of(entry)->list_open = 0; }
GtkWidget *focus_combo(ControlMatrix_t *, int, void *entry) { return combo_of(entry)->button; }
void clear_combo(ControlMatrix_t *, int, void *entry) { gcombo_clear_display(combo_of(entry)); }
// F12 (save) and Escape on the form reach the focused field's open list.
int list_key_combo(ControlMatrix_t *cm, int save)
{
    return save ? gcombo_button_press_save(cm, cm->current_focus) : gcombo_button_press_cancel(cm, cm->current_focus);
}

// The combo at index with its list open, or nullptr.
combo_data *open_combo(ControlMatrix_t *cm, int index)
{
    if (index < 1 || index > cm->field_count || cm_field(cm, index).type != WIDGET_COMBO) return nullptr;
    void *entry = cm_field(cm, index).entry;
    if (!entry || handle_kind(entry) != CM_FIELD_TYPE_GCOMBO) return nullptr;
    combo_data *c = combo_of(entry);
    return c->list_open ? c : nullptr;
}

} // namespace

// ---- Placement ---------------------------------------------------------------------------------------------

ComboListPlace gcombo_list_place(const ComboListGeometry &g)
{
    ComboListPlace p{g.x, g.y, g.width, g.list_height, g.list_width > g.width, false};
    const GdkRectangle &m = g.monitor;
    if (p.x < m.x) p.x = m.x;
    if (p.x + p.width > m.x + m.width) p.x = m.x + m.width - p.width;
    const int bottom = m.y + m.height;
    if (g.y + g.height + p.height <= bottom) {
        p.y = g.y + g.height;
    } else if (g.y - p.height >= m.y) {
        p.y = g.y - p.height;
    } else if (bottom - (g.y + g.height) <= g.y - m.y) {
        p.height = g.y - m.y;
        p.y = m.y;
    } else {
        p.y = g.y + g.height;
        p.height = bottom - p.y;
    }
    p.scroll_vertical = g.list_height > p.height;
    return p;
}

// ---- Hooks --------------------------------------------------------------------------------------------------

char *gcombo_get_active_text(const combo_data *c)
{
    return c->active ? g_strdup(c->active->text) : nullptr;
}

void gcombo_edit(ControlMatrix_t *cm, int index, int flag)
{
    combo_data *c = field_combo(cm, index);
    if (flag == 0) gcombo_popup_menu(c);
}

void gcombo_clear_display(combo_data *c)
{
    if (!c) Abort("Unexpectedly did not find internal Combo data");
    if (c->values) {
        c->active = c->values;
        c->active_index = 1;
        show_text(c, c->active->text);
    } else {
        c->active_index = 0;
        show_text(c, "");
    }
    c->list_open = 0;
}

void gcombo_box_init_focus(ControlMatrix_t *, int, void *record)
{
    combo_data *c = combo_of(record);
    if (c->active_index < 2) gcombo_set(c, "", 1);
}

void gcombo_button_press_next(ControlMatrix_t *cm, int index)
{
    if (combo_data *c = open_combo(cm, index)) commit_pending(c);
}

int gcombo_button_press_save(ControlMatrix_t *cm, int index)
{
    combo_data *c = open_combo(cm, index);
    if (!c) return 0;
    commit_pending(c);
    if (enter_on_button(c, GDK_KEY_F12, 1)) ccallbacks_finish_event(1, 1);
    return 1;
}

int gcombo_button_press_cancel(ControlMatrix_t *cm, int index)
{
    combo_data *c = open_combo(cm, index);
    if (!c) return 0;
    if (enter_on_button(c, GDK_KEY_Escape, 1)) ccallbacks_finish_event(1, 1);
    return 1;
}

// ---- The list ------------------------------------------------------------------------------------------------

void gcombo_popup_menu(combo_data *c)
{
    c->list_open = 1;
    int position = 1;
    ComboItem *item = c->values;
    while (item && item != c->active) item = item->next, ++position;
    if (!item) Abort("Unable to find active item");
    gtk_single_selection_set_selected(selection_of(c), static_cast<guint>(position - 1));
    oska_listview_scroll_to_single_selected(GTK_LIST_VIEW(c->list_view));
    connect_list_handlers(c);
    gcombo_box_list_position(c);
    gtk_popover_popup(GTK_POPOVER(c->popover));
    gtk_widget_grab_focus(c->list_view);
    gcombo_set_window_size(c);
}

void gcombo_popdown_menu(combo_data *c)
{
    c->list_open = 0;
    disconnect_list_handlers(c);
    gtk_popover_popdown(GTK_POPOVER(c->popover));
}

// ---- Handlers -------------------------------------------------------------------------------------------------

gboolean gcombo_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode, GdkModifierType state,
                                gpointer gd)
{
    gboolean taken = TRUE;
    GtkWidget *widget = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller));
    forms_callback([&] { taken = closed_key(widget, controller, keyval, keycode, state, static_cast<GlobalData_t *>(gd)); });
    return taken;
}

gboolean gcombo_tv_key_press_event(GtkEventControllerKey *, guint keyval, guint, GdkModifierType, gpointer record)
{
    gboolean taken = TRUE;
    forms_callback([&] {
        const RoutineName name("gcombo_tv_key_press_event");
        taken = list_key(combo_of(record), keyval);
    });
    return taken;
}

void gcombo_tv_button_press_event(GtkGestureClick *gesture, int, double, double, gpointer record)
{
    forms_callback([&] {
        const RoutineName name("gcombo_tv_button_press_event");
        combo_data *c = combo_of(record);
        if (const char *text = selected_text(c, "gcombo_tv_button_press_event")) {
            int position = 0;
            ComboItem *item = item_named(c, text, &position);
            if (!item) Abort("Failed to find save selected value index");
            c->pending_index = position;
            c->pending = item;
        } else {
            c->pending_index = 0;
        }
        if (c->pending_index != c->active_index) run_change(c, c->pending ? c->pending->text : "");
    });
    oska_on_button_propagate(GTK_GESTURE(gesture), 0);
}

void gcombo_row_activated(GtkListView *, guint position, gpointer record)
{
    forms_callback([&] {
        const RoutineName name("gcombo_row_activated");
        combo_data *c = combo_of(record);
        auto *holder = static_cast<StringHolder *>(g_list_model_get_item(G_LIST_MODEL(c->store), position));
        const std::string text = holder ? holder->string : "";
        if (holder) g_object_unref(holder);
        if (global_data->log_level_lumbas > 2) mlog(3, "%s: GCombo Selection key = '%s'", "gcombo_row_activated", text.c_str());
        int at = 0;
        ComboItem *item = holder ? item_named(c, text.c_str(), &at) : nullptr;
        if (!item) Abort("Failed to find index of selected value");
        c->active = item;
        c->active_index = at;
        show_text(c, item->text);
        gcombo_popdown_menu(c);
        if (enter_on_button(c, GDK_KEY_Return, 0)) c->list_open = 0;
        ccallbacks_finish_event(1, 1);
    });
}

// ---- Items ---------------------------------------------------------------------------------------------------

void gcombo_text_add(combo_data *c, const char *text)
{
    auto *item = new ComboItem{g_strdup(text), nullptr, nullptr};
    if (!c->values) {
        c->values = item;
        c->active = item;
        c->active_index = 1;
    } else {
        ComboItem *last = c->values;
        while (last->next) last = last->next;
        last->next = item;
        item->prev = last;
    }
    StringHolder *holder = string_holder_new(text);
    g_list_store_append(c->store, holder);
    g_object_unref(holder);
    if (!c->longest || std::strlen(text) > std::strlen(c->longest->text)) {
        c->longest = item;
        show_text(c, text);
        int minimum = 0;
        gtk_widget_measure(c->button, GTK_ORIENTATION_HORIZONTAL, -1, &minimum, nullptr, nullptr, nullptr);
        c->width = minimum + 4 < 14 ? -1 : minimum + 4;
    }
}

void gcombo_set(combo_data *c, const char *text, int n)
{
    if (!c->values) Abort("Must call igcombo_text_add before calling igcombo_set");
    if (*text) {
        std::string wanted(text);
        gprint_strip(wanted.data());
        wanted.resize(std::strlen(wanted.c_str()));
        int position = 1;
        ComboItem *item = c->values;
        for (; item; item = item->next, ++position) {
            std::string have(item->text);
            gprint_strip(have.data());
            if (std::strcmp(have.c_str(), wanted.c_str()) == 0) break;
        }
        if (!item) Abort("Value '%s' not found in Combo", wanted.c_str());
        c->active = item;
        c->active_index = position;
    } else {
        ComboItem *item = item_at(c, n);
        if (!item) Abort("Invalid index %d in Combo", n);
        c->active = item;
        c->active_index = n < 1 ? 1 : n;
    }
    show_text(c, c->active->text);
    if (c->width >= 11) gtk_widget_set_size_request(c->button, c->width, -1);
}

// ---- IGCOMBO_NEW -----------------------------------------------------------------------------------------------

void igcombo_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Unexpected number of parameters %d", nargs);
    const FieldRecord made = gfield_make_record(nargs, last, CM_FIELD_TYPE_GCOMBO, AC_COMBO_SETUP, sizeof(combo_data),
                                                "No Process Control Matrix found",
                                                "An attempt was made to create a combo box twice");
    combo_data *c = combo_of(made.record);
    c->cm = made.cm;
    c->pending_index = -1;
    c->width = -1;

    c->button = gtk_button_new();
    gtk_widget_set_focusable(c->button, TRUE);
    gtk_widget_set_receives_default(c->button, TRUE);
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_set_homogeneous(GTK_BOX(box), FALSE);
    c->label = gtk_label_new("Yes");
    gtk_label_set_single_line_mode(GTK_LABEL(c->label), TRUE);
    // An item longer than the field has room for ends in an ellipsis, not off the screen.
    oska_label_ellipsize(c->label);
    gtk_label_set_xalign(GTK_LABEL(c->label), 0.0f);  // read from its start, as an entry is
    oska_box_prepend(box, c->label, 1, 1, 0);
    // Left to right: the text, the separator, the arrow.
    GtkWidget *separator = gtk_separator_new(GTK_ORIENTATION_VERTICAL);
    oska_box_append(box, separator, 0, 0, 2);
    GtkWidget *arrow = gtk_image_new_from_icon_name("go-down");
    gtk_image_set_icon_size(GTK_IMAGE(arrow), GTK_ICON_SIZE_INHERIT);
    oska_box_append(box, arrow, 0, 0, 0);
    gtk_button_set_child(GTK_BUTTON(c->button), box);
    gfield_connect(c->button, "gcombo-button", "gcombo", G_CALLBACK(gcombo_key_press_event));
    oska_widget_show(c->button);

    c->popover = gtk_popover_new();
    gtk_widget_set_focusable(c->popover, TRUE);
    gtk_popover_set_position(GTK_POPOVER(c->popover), GTK_POS_BOTTOM);
    gtk_popover_set_autohide(GTK_POPOVER(c->popover), TRUE);
    gtk_popover_set_has_arrow(GTK_POPOVER(c->popover), FALSE);
    gtk_widget_set_halign(c->popover, GTK_ALIGN_START);
    gtk_widget_add_css_class(c->popover, "gcombo-menu");
    gtk_widget_set_parent(c->popover, c->button);
    // A button knows nothing of the popover hung on it: it goes when the button goes.
    g_signal_connect(c->button, "destroy", G_CALLBACK(+[](GtkWidget *, gpointer popover) {
                         gtk_popover_popdown(GTK_POPOVER(popover));
                         gtk_widget_unparent(GTK_WIDGET(popover));
                     }),
                     c->popover);
    GtkWidget *frame = gtk_frame_new(nullptr);
    gtk_popover_set_child(GTK_POPOVER(c->popover), frame);
    GtkWidget *list_box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_frame_set_child(GTK_FRAME(frame), list_box);
    c->scroller = gtk_scrolled_window_new();
    gtk_widget_set_focusable(gtk_scrolled_window_get_hscrollbar(GTK_SCROLLED_WINDOW(c->scroller)), FALSE);
    gtk_widget_set_focusable(gtk_scrolled_window_get_vscrollbar(GTK_SCROLLED_WINDOW(c->scroller)), FALSE);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(c->scroller), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    oska_box_append(list_box, c->scroller, 1, 1, 0);

    GtkListItemFactory *factory = gtk_signal_list_item_factory_new();
    g_signal_connect(factory, "setup", G_CALLBACK(+[](GtkListItemFactory *, GtkListItem *item, gpointer) {
                         GtkWidget *label = gtk_label_new(nullptr);
                         gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
                         gtk_list_item_set_child(item, label);
                     }),
                     nullptr);
    g_signal_connect(factory, "bind", G_CALLBACK(+[](GtkListItemFactory *, GtkListItem *item, gpointer) {
                         auto *holder = static_cast<StringHolder *>(gtk_list_item_get_item(item));
                         gtk_label_set_text(GTK_LABEL(gtk_list_item_get_child(item)),
                                            valid_utf8(holder->string).c_str());
                     }),
                     nullptr);
    c->store = g_list_store_new(string_holder_get_type());
    GtkSingleSelection *selection = gtk_single_selection_new(G_LIST_MODEL(g_object_ref(c->store)));
    gtk_single_selection_set_autoselect(selection, TRUE);
    c->list_view = gtk_list_view_new(GTK_SELECTION_MODEL(selection), factory);
    gtk_widget_set_receives_default(c->list_view, TRUE);
    gtk_widget_set_focusable(c->list_view, TRUE);
    gtk_list_view_set_single_click_activate(GTK_LIST_VIEW(c->list_view), TRUE);
    gtk_list_view_set_show_separators(GTK_LIST_VIEW(c->list_view), FALSE);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(c->scroller), c->list_view);
    gwidget_give_record(result, c);
}

// ---- Registration ---------------------------------------------------------------------------------------------

void gcombo_register_kind()
{
    register_field_kind({
        .kind = CM_FIELD_TYPE_GCOMBO,
        .type = WIDGET_COMBO,
        .record = {
            .free = free_combo,
            .owns = owns_combo,
            .principal = button_of,
            .set_sensitive = set_sensitive_combo,
            .init_focus = gcombo_box_init_focus,
        },
        .behaviour = {
            .value = value_combo,
            .pre_display = no_display_change,
            .post_display = post_display_combo,
            .display_init = no_display_change,
            .focus_widget = focus_combo,
            .clear = clear_combo,
            .edit = [](ControlMatrix_t *cm, int index, guint flag) { gcombo_edit(cm, index, static_cast<int>(flag)); },
            .list_key = list_key_combo,
            .commit_pending = gcombo_button_press_next,
        },
        .intrinsics = {
            .packed = button_of,
            .tooltip = button_of,
            .destroy = destroy_combo,
            .set_name = set_name_combo,
        },
    });
}
