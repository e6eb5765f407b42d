// Radio and toggle fields: IGRADIO_NEW and IGTOGGLE_NEW, their items (added, set, validated and
// read for the choice intrinsics), the moves of the arrow keys, the change handlers that run
// Change_Content, the toggle field's release handler, and the hooks and rows of both kinds.
#include "gradio.h"

#include <string>
#include <vector>

#include "cases.h"
#include "cattach.h"
#include "ccallback.h"
#include "cclick.h"
#include "cfield.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "gmisc.h"
#include "gwidget.h"
#include "handles.h"
#include "kinds.h"
#include "message.h"

namespace {

// ---- What both kinds share ---------------------------------------------------------------------------------

std::string stripped(const char *text)
{
    std::string s(text);
    s.resize(s.find_last_not_of(' ') + 1);
    return s;
}

const char *kind_name(const radio_data *) { return "Radio Button"; }
const char *kind_name(const toggle_data *) { return "Toggle Button"; }

void set_on(ButtonItem *item, bool on);

// The n-th item (0 counts as 1), or nullptr past the end.
template <class R> ButtonItem *item_at(const R *r, int n)
{
    ButtonItem *item = r->values;
    for (int i = 1; item && i < n; ++i) item = item->next;
    return item;
}

// The item whose button is widget, and its position; nullptr when none is.
template <class R> ButtonItem *item_of(const R *r, const GtkWidget *widget, int *position)
{
    int i = 1;
    for (ButtonItem *item = r->values; widget && item; item = item->next, ++i)
        if (item->button == widget) {
            *position = i;
            return item;
        }
    return nullptr;
}

// Appends an item (text not empty); the first becomes the choice.
template <class R> ButtonItem *append_item(R *r, const char *text, GtkWidget *button)
{
    auto *item = new ButtonItem{g_strdup(text), button, nullptr, nullptr};
    if (!r->values) {
        r->values = item;
        r->active = item;
        r->active_index = 1;
    } else {
        ButtonItem *last = r->values;
        while (last->next) last = last->next;
        last->next = item;
        item->prev = last;
    }
    return item;
}

// The item set names: a text (non-empty, compared without trailing blanks) or the n-th item.
template <class R> ButtonItem *item_to_set(const R *r, const char *text, int n, int *position)
{
    if (!r->values) Abort("Must call igcombo_text_add before calling igcombo_set");
    if (*text) {
        const std::string wanted = stripped(text);
        int i = 1;
        for (ButtonItem *item = r->values; item; item = item->next, ++i)
            if (stripped(item->text) == wanted) {
                *position = i;
                return item;
            }
        Abort("Value '%s' not found in %s", wanted.c_str(), kind_name(r));
    }
    ButtonItem *item = item_at(r, n);
    if (!item) Abort("Invalid index %d in %s", n, kind_name(r));
    *position = n < 1 ? 1 : n;
    return item;
}

template <class R> int val_set(const R *r, const char *text, int n)
{
    int count = 0;
    const std::string wanted = stripped(text);
    for (const ButtonItem *item = r->values; item; item = item->next) {
        ++count;
        if (*text && stripped(item->text) == wanted) return 1;
    }
    return !*text && count > 0 && count >= (n < 1 ? 1 : n) ? 1 : 0;
}

template <class R> char *text_get(const R *r, int n)
{
    if (!r->values) Abort("Must call igcombo_text_add before calling igcombo_get");
    const ButtonItem *item = item_at(r, n);
    if (!item) Abort("Invalid index %d in %s", n, kind_name(r));
    return g_strdup(item->text);
}

template <class R> char *active_text(const R *r) { return r->active ? g_strdup(r->active->text) : nullptr; }

// The previous (delta -1) or next (1) item becomes the choice, its button on and focused; at the
// ends nothing moves. Answers whether it moved.
template <class R> bool move(R *r, int delta)
{
    if (!r->active) return false;
    ButtonItem *to = delta < 0 ? r->active->prev : r->active->next;
    if (!to) return false;
    set_on(r->active, false);
    r->active_index += delta;
    r->active = to;
    set_on(to, true);
    gtk_widget_grab_focus(to->button);
    return true;
}

// The item of widget becomes the choice: the old button goes off, the new one on when on is set.
template <class R> void choose_widget(R *r, GtkWidget *widget, bool on, bool focus)
{
    int position = 0;
    ButtonItem *item = item_of(r, widget, &position);
    if (!item) return;
    ButtonItem *old = r->active;
    r->active = item;
    r->active_index = position;
    if (old && old != item) set_on(old, false);
    if (on) set_on(item, true);
    if (focus) gtk_widget_grab_focus(item->button);
}

// The first item becomes the choice (index 1); with none, index 0.
template <class R> void clear_choice(R *r)
{
    if (r->active) set_on(r->active, false);
    r->active = r->values;
    r->active_index = r->values ? 1 : 0;
    if (r->active) set_on(r->active, true);
}

template <class R> void free_items(R *r)
{
    for (ButtonItem *item = r->values; item;) {
        ButtonItem *next = item->next;
        g_free(item->text);
        delete item;
        item = next;
    }
    r->values = r->active = nullptr;
}

template <class R> int owns_item(const void *record, const GtkWidget *widget)
{
    const R *r = static_cast<const R *>(record);
    if (!widget) return 0;
    if (widget == r->box || widget == r->row) return 1;
    int position = 0;
    return item_of(r, widget, &position) != nullptr;
}

// The record of field index hung under code; none ends the run with missing (a format of the index).
template <class R> R *attached(ControlMatrix_t *cm, int index, int code, const char *missing)
{
    SubControlMatrix_t *scm = cmat_get_scm(cm, index, code);
    if (!scm || !scm->setup) Abort(missing, index);
    return static_cast<R *>(scm->setup);
}

radio_data *radio_at(ControlMatrix_t *cm, int index)
{
    return attached<radio_data>(cm, index, AC_RADIO_SETUP, "Unexpectedly didn't find Radio Button internal data at index %d");
}
toggle_data *toggle_at(ControlMatrix_t *cm, int index)
{
    return attached<toggle_data>(cm, index, AC_TOGGLE_SETUP,
                                 "Unexpectedly didn't find Toggle Button internal data at index %d");
}

// ---- Radio ----------------------------------------------------------------------------------------------------

radio_data *radio_of(const void *record) { return static_cast<radio_data *>(const_cast<void *>(record)); }
toggle_data *toggle_of(const void *record) { return static_cast<toggle_data *>(const_cast<void *>(record)); }

void gradio_button_toggled(GtkCheckButton *button, gpointer record);

// The radio change handler blocked on every button of the field for the guard's life: a routine
// that sets its own field, or a move made by a key, does not run it again inside itself.
class RadioQuiet {
public:
    explicit RadioQuiet(radio_data *r)
    {
        for (ButtonItem *item = r->values; item; item = item->next) {
            g_signal_handlers_block_by_func(item->button, reinterpret_cast<gpointer>(gradio_button_toggled), r);
            buttons_.push_back(item->button);
        }
        record_ = r;
    }
    ~RadioQuiet()
    {
        for (GtkWidget *b : buttons_)
            g_signal_handlers_unblock_by_func(b, reinterpret_cast<gpointer>(gradio_button_toggled), record_);
    }
    RadioQuiet(const RadioQuiet &) = delete;
    RadioQuiet &operator=(const RadioQuiet &) = delete;

private:
    std::vector<GtkWidget *> buttons_;
    radio_data *record_ = nullptr;
};

// Change_Content of the radio field at index.
void radio_change(radio_data *r, int index)
{
    const RadioQuiet quiet(r);
    static const ChangeRules rules{
        "in gradio.c Not permitted to exit window from a function attached with the Change_Content Action Code",
        nullptr,
        "in gradio.c Not permitted to change focus from a function attached with the Change_Content Action Code",
    };
    // IP$ empty: the routine takes the field's own text.
    gfield_run_change(r->cm, index, WIDGET_RADIO, "", rules);
}

void gradio_button_toggled(GtkCheckButton *, gpointer record)
{
    forms_callback([&] {
        const RoutineName name("gradio_button_toggled");
        radio_data *r = radio_of(record);
        radio_change(r, cget_index_for_ptr(r->cm, CM_ENTRY_PTR, r, 1));
    });
}

// ---- Toggle -----------------------------------------------------------------------------------------------------

void toggle_change(toggle_data *t)
{
    const std::string text = t->active ? t->active->text : "";
    static const ChangeRules rules{
        "in gtoggle.c   Not permitted to exit window from a function attached with the Change_Content Action Code",
        "in gtoggle.c   Not permitted to create a window from a function attached with the Change_Content Action "
        "Code",
        "in gtoggle.c   Not permitted to change focus from a function attached with the Change_Content Action Code",
    };
    gfield_run_change(t->cm, cget_index_for_ptr(t->cm, CM_ENTRY_PTR, t, 1), WIDGET_TOGGLE, text.c_str(), rules);
}

gboolean toggle_key(toggle_data *t, GtkEventControllerKey *controller, guint keyval, guint keycode,
                    GdkModifierType state)
{
    switch (keyval) {
    case GDK_KEY_Left:
    case GDK_KEY_Up:
    case GDK_KEY_KP_Left:
    case GDK_KEY_KP_Up:
        if (move(t, -1)) toggle_change(t);
        return TRUE;
    case GDK_KEY_Right:
    case GDK_KEY_Down:
    case GDK_KEY_KP_Right:
    case GDK_KEY_KP_Down:
        if (move(t, 1)) toggle_change(t);
        return TRUE;
    default:
        return on_key_press_event(controller, keyval, keycode, state, global_data);
    }
}

// ---- Buttons ------------------------------------------------------------------------------------------------------

void set_on(ButtonItem *item, bool on)
{
    if (GTK_IS_CHECK_BUTTON(item->button))
        gtk_check_button_set_active(GTK_CHECK_BUTTON(item->button), on);
    else
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(item->button), on);
}

bool is_back(guint k) { return k == GDK_KEY_Left || k == GDK_KEY_Up || k == GDK_KEY_KP_Left || k == GDK_KEY_KP_Up; }
bool is_on(guint k) { return k == GDK_KEY_Right || k == GDK_KEY_Down || k == GDK_KEY_KP_Right || k == GDK_KEY_KP_Down; }

// ---- The rows of both kinds ---------------------------------------------------------------------------------------

template <class R> void free_record(void *record) { free_items(static_cast<R *>(record)); }
template <class R> GtkWidget *box_of(const void *record) { return static_cast<const R *>(record)->box; }
template <class R> void set_sensitive(ControlMatrix_t *, int, void *record, int sensitive, int)
{
    gtk_widget_set_sensitive(static_cast<R *>(record)->box, sensitive != 0);
}
template <class R> void destroy_record(void *record) { oska_widget_destroy(static_cast<R *>(record)->box); }
template <class R> void set_name(void *record, const char *name)
{
    R *r = static_cast<R *>(record);
    gtk_widget_set_name(r->box, name);
    for (ButtonItem *item = r->values; item; item = item->next) gtk_widget_set_name(item->button, name);
}
// IP$ is the chosen item's text and IP its number (1-based).
template <class R> char *value_of(ControlMatrix_t *, int, void *entry, int *ip_int, char **, int *ip_given)
{
    const R *r = static_cast<const R *>(entry);
    char *text = active_text(r);
    *ip_int = r->active_index;
    *ip_given = 1;
    mlog(2, "gkey_press_get_ip: %s '%s' Index %d", kind_name(r), text ? text : "", r->active_index);
    return text;
}
// The chosen button takes the focus; a field without items gives its box.
template <class R> GtkWidget *focus_of(ControlMatrix_t *, int, void *entry)
{
    R *r = static_cast<R *>(entry);
    return r->active ? r->active->button : r->box;
}
void no_display_change(ControlMatrix_t *, int, void *) {}

// The rows the radio and toggle kinds share but for their record type.
template <class R> constexpr RecordKindHooks choice_record{
    .free = free_record<R>,
    .owns = owns_item<R>,
    .principal = box_of<R>,
    .set_sensitive = set_sensitive<R>,
};
template <class R> constexpr FieldKindHooks choice_intrinsics{
    .packed = box_of<R>,
    .tooltip = box_of<R>,
    .destroy = destroy_record<R>,
    .set_name = set_name<R>,
};

} // namespace

// ---- The choice intrinsics' part -----------------------------------------------------------------------------------

void gradio_button_do_text_add(radio_data *r, const char *text)
{
    if (!*text) Abort("Empty values not permitted");
    GtkWidget *button = gtk_check_button_new_with_label(valid_utf8(text).c_str());
    oska_button_ellipsize(button);
    ButtonItem *head = r->values;
    append_item(r, text, button);
    if (!head)
        gtk_check_button_set_active(GTK_CHECK_BUTTON(button), TRUE);
    else
        gtk_check_button_set_group(GTK_CHECK_BUTTON(button), GTK_CHECK_BUTTON(head->button));
    if (r->fixed_width) {
        gtk_widget_set_size_request(button, r->width, -1);
        oska_box_append(r->box, button, 0, 0, 0);
    } else {
        oska_box_append(r->row, button, 0, 0, 0);
    }
    gfield_connect(button, "gradio-text-add-button", "gradio-text-add");
    g_signal_connect(button, "toggled", G_CALLBACK(gradio_button_toggled), r);
    oska_widget_show(button);
}

void gtoggle_button_do_text_add(toggle_data *t, const char *text)
{
    if (!*text) Abort("Empty values not permitted");
    GtkWidget *button = gtk_toggle_button_new_with_label(valid_utf8(text).c_str());
    oska_button_ellipsize(button);
    append_item(t, text, button);
    oska_box_append(t->row, button, 1, 1, 0);
    if (t->active->button == button) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(button), TRUE);

    // Ahead of the button's own click, so that claiming the release keeps the toolkit from
    // flipping the button.
    GtkGesture *release = gtk_gesture_click_new();
    gtk_event_controller_set_name(GTK_EVENT_CONTROLLER(release), "gtoggle-button-release");
    gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(release), GTK_PHASE_CAPTURE);
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(release), 0);
    gtk_gesture_single_set_exclusive(GTK_GESTURE_SINGLE(release), TRUE);
    g_signal_connect(release, "released", G_CALLBACK(gtoggle_button_release_event), t);
    gtk_widget_add_controller(button, GTK_EVENT_CONTROLLER(release));

    GtkGesture *click = gtk_gesture_click_new();
    gtk_event_controller_set_name(GTK_EVENT_CONTROLLER(click), "gtoggle-button");
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), 0);
    gtk_gesture_single_set_exclusive(GTK_GESTURE_SINGLE(click), TRUE);
    g_signal_connect(click, "pressed", G_CALLBACK(on_button_press_event), global_data);
    gtk_widget_add_controller(button, GTK_EVENT_CONTROLLER(click));

    GtkEventController *keys = gtk_event_controller_key_new();
    gtk_event_controller_set_name(keys, "gtoggle");
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    g_signal_connect(keys, "key-pressed", G_CALLBACK(gtoggle_button_key_press_event), t);
    gtk_widget_add_controller(button, keys);
    oska_widget_show(button);
}

void gradio_button_do_set(radio_data *r, const char *text, int n)
{
    int position = 0;
    ButtonItem *item = item_to_set(r, text, n, &position);
    r->active = item;
    r->active_index = position;
    set_on(item, true);
    gtk_widget_grab_focus(item->button);
}

void gtoggle_button_do_set(toggle_data *t, const char *text, int n)
{
    int position = 0;
    ButtonItem *item = item_to_set(t, text, n, &position);
    if (t->active) set_on(t->active, false);
    t->active = item;
    t->active_index = position;
    set_on(item, true);
}

int gradio_button_do_val_set(const radio_data *r, const char *text, int n) { return val_set(r, text, n); }
int gtoggle_button_do_val_set(const toggle_data *t, const char *text, int n) { return val_set(t, text, n); }
char *gradio_button_do_text_get(const radio_data *r, int n) { return text_get(r, n); }
char *gtoggle_button_do_text_get(const toggle_data *t, int n) { return text_get(t, n); }

// ---- Hooks ------------------------------------------------------------------------------------------------------------

void gradio_button_mouse_toggle(ControlMatrix_t *cm, int index, GtkWidget *widget)
{
    choose_widget(radio_at(cm, index), widget, false, false);
}

void gtoggle_button_mouse_toggle(ControlMatrix_t *cm, int index, GtkWidget *widget)
{
    choose_widget(toggle_at(cm, index), widget, false, false);
}

void gradio_button_toggle(ControlMatrix_t *cm, int index, int, GtkWidget *widget)
{
    choose_widget(radio_at(cm, index), widget, true, true);
}

void gtoggle_button_toggle(ControlMatrix_t *cm, int index, int, GtkWidget *widget)
{
    choose_widget(toggle_at(cm, index), widget, true, true);
}

void gradio_button_clear_display(radio_data *r)
{
    // Clearing the form is no change made by the user: no Change_Content.
    const RadioQuiet quiet(r);
    clear_choice(r);
}

void gtoggle_button_clear_display(toggle_data *t) { clear_choice(t); }

char *gradio_button_get_active_text(const radio_data *r) { return active_text(r); }
char *gtoggle_button_get_active_text(const toggle_data *t) { return active_text(t); }

int gradio_button_on_key_press(ControlMatrix_t *cm, int index, guint keyval)
{
    radio_data *r = radio_at(cm, index);
    if (!is_back(keyval) && !is_on(keyval)) return 0;
    bool moved;
    {
        // The move switches two buttons; the change routine runs once, after it.
        const RadioQuiet quiet(r);
        moved = move(r, is_back(keyval) ? -1 : 1);
    }
    if (moved) radio_change(r, index);
    return 1;
}

int gtoggle_button_on_key_press(ControlMatrix_t *cm, int index, guint keyval)
{
    toggle_data *t = toggle_at(cm, index);
    if (keyval == GDK_KEY_Left || keyval == GDK_KEY_KP_Left) {
        move(t, -1);
        return 1;
    }
    if (keyval == GDK_KEY_Right || keyval == GDK_KEY_KP_Right) {
        move(t, 1);
        return 1;
    }
    return 0;
}

// ---- Handlers ----------------------------------------------------------------------------------------------------------

gboolean gtoggle_button_key_press_event(GtkEventControllerKey *controller, guint keyval, guint keycode,
                                        GdkModifierType state, gpointer record)
{
    gboolean taken = TRUE;
    forms_callback([&] {
        const RoutineName name("gtoggle_button_key_press_event");
        taken = toggle_key(toggle_of(record), controller, keyval, keycode, state);
    });
    return taken;
}

void gtoggle_button_release_event(GtkGestureClick *gesture, int, double, double, gpointer record)
{
    toggle_data *t = toggle_of(record);
    GtkWidget *widget = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(gesture));
    int position = 0;
    if (!item_of(t, widget, &position)) return;
    if (t->active) set_on(t->active, true);
    oska_on_button_propagate(GTK_GESTURE(gesture), 1);
}

// ---- Constructors -------------------------------------------------------------------------------------------------------

void igradio_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 2 && nargs != 3) Abort("May have two or three parameters; not %d", nargs);
    if (!cutil_get_cm(global_data, &intr::arg(nargs, last, 0))) Abort("No Process Control Matrix found");
    const int width = nargs == 3 ? intr::integer(intr::arg(nargs, last, 2)) : 0;
    if (nargs == 3 && width < 1) Abort("Invalid width %d", width);
    const FieldRecord made = gfield_make_record(nargs, last, CM_FIELD_TYPE_GRADIO_BUTTON, AC_RADIO_SETUP,
                                                sizeof(radio_data), "No Process Control Matrix found",
                                                "An attempt was made to create a Radio Button twice at index %d");
    radio_data *r = radio_of(made.record);
    r->cm = made.cm;
    r->active_index = 1;
    r->box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_vexpand(r->box, TRUE);
    if (nargs == 3) {
        r->fixed_width = 1;
        r->width = width;
    } else {
        gtk_box_set_homogeneous(GTK_BOX(r->box), TRUE);
        r->row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
        gtk_widget_set_vexpand(r->row, TRUE);
        gtk_box_append(GTK_BOX(r->box), r->row);
    }
    oska_widget_show(r->box);
    gwidget_give_record(result, r);
}

void igtoggle_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Wrong number of parameters %d", nargs);
    const FieldRecord made = gfield_make_record(nargs, last, CM_FIELD_TYPE_GTOGGLE_BUTTON, AC_TOGGLE_SETUP,
                                                sizeof(toggle_data), "No Process Control Matrix found",
                                                "An attempt was made to create a Toggle Button twice at index %d");
    toggle_data *t = toggle_of(made.record);
    t->cm = made.cm;
    t->active_index = 1;
    t->box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_set_homogeneous(GTK_BOX(t->box), TRUE);
    gtk_widget_set_hexpand(t->box, TRUE);
    gtk_widget_set_vexpand(t->box, TRUE);
    t->row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_set_hexpand(t->row, TRUE);
    gtk_widget_set_vexpand(t->row, TRUE);
    oska_box_append(t->box, t->row, 0, 0, 0);
    oska_widget_show(t->box);
    gwidget_give_record(result, t);
}

// ---- Registration ---------------------------------------------------------------------------------------------------

void gradio_register_kinds()
{
    register_field_kind({
        .kind = CM_FIELD_TYPE_GRADIO_BUTTON,
        .type = WIDGET_RADIO,
        .record = choice_record<radio_data>,
        .behaviour = {
            .value = value_of<radio_data>,
            .pre_display = no_display_change,
            .post_display = no_display_change,
            .display_init = no_display_change,
            .focus_widget = focus_of<radio_data>,
            .clear = [](ControlMatrix_t *cm, int index, void *) { gradio_button_clear_display(radio_at(cm, index)); },
            .key_press = [](ControlMatrix_t *cm, int index, guint keyval, GlobalData_t *) -> gboolean {
                return gradio_button_on_key_press(cm, index, keyval);
            },
            // A key names no button: the choice stays as it is.
            .toggle = [](ControlMatrix_t *cm, int index, guint, int, GtkWidget *clicked) {
                gradio_button_toggle(cm, index, 0, clicked);
            },
            .click_choice = gradio_button_mouse_toggle,
        },
        .intrinsics = choice_intrinsics<radio_data>,
    });
    register_field_kind({
        .kind = CM_FIELD_TYPE_GTOGGLE_BUTTON,
        .type = WIDGET_TOGGLE,
        .record = choice_record<toggle_data>,
        .behaviour = {
            .value = value_of<toggle_data>,
            .pre_display = no_display_change,
            .post_display = no_display_change,
            .display_init = no_display_change,
            .focus_widget = focus_of<toggle_data>,
            .clear = [](ControlMatrix_t *cm, int index, void *) { gtoggle_button_clear_display(toggle_at(cm, index)); },
            .key_press = [](ControlMatrix_t *cm, int index, guint keyval, GlobalData_t *) -> gboolean {
                return gtoggle_button_on_key_press(cm, index, keyval);
            },
            .toggle = [](ControlMatrix_t *cm, int index, guint, int, GtkWidget *clicked) {
                gtoggle_button_toggle(cm, index, 0, clicked);
            },
            .click_choice = gtoggle_button_mouse_toggle,
        },
        .intrinsics = choice_intrinsics<toggle_data>,
    });
}
