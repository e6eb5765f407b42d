// The date field's widget: IGDATE_NEW, the three stoppers that keep GTK's own editing away from
// the mask, the key rules applied to the entry, the cursor put back to the start after a click,
// the Enter check, and what the field hands the forms engine and the widget intrinsics.
//
// The stoppers are connected blocked: the forms engine unblocks them while the field is edited
// (pre-display) and blocks them again afterwards; every change of the text made here blocks the
// delete and insert stoppers around it.
#include "gdate.h"

#include <utility>

#include "cases.h"
#include "cattach.h"
#include "cfield.h"
#include "ginput.h"
#include "gmessage.h"
#include "gmisc.h"
#include "gwidget.h"
#include "kinds.h"
#include "message.h"

namespace {

// Object data of an entry: the stoppers' handlers, and whether the field is being edited.
constexpr const char *STOP_DELETE = "oska-date-stop-delete";
constexpr const char *STOP_INSERT = "oska-date-stop-insert";
constexpr const char *STOP_MOVE = "oska-date-stop-move";
constexpr const char *EDITING = "oska-date-editing";

date_data *date_of(const void *record) { return static_cast<date_data *>(const_cast<void *>(record)); }

gulong handler(GtkWidget *entry, const char *key) { return GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(entry), key)); }

void block(GtkWidget *entry, const char *key, bool blocked)
{
    if (const gulong id = handler(entry, key)) {
        if (blocked)
            g_signal_handler_block(entry, id);
        else
            g_signal_handler_unblock(entry, id);
    }
}

// Unblocks the three stoppers while the field is edited, blocks them otherwise; kept balanced.
void set_editing(GtkWidget *entry, bool editing)
{
    const bool now = g_object_get_data(G_OBJECT(entry), EDITING) != nullptr;
    if (!handler(entry, STOP_DELETE) || now == editing) return;
    for (const char *key : {STOP_DELETE, STOP_INSERT, STOP_MOVE}) block(entry, key, !editing);
    g_object_set_data(G_OBJECT(entry), EDITING, editing ? GINT_TO_POINTER(1) : nullptr);
}

void stop_delete(GtkEditable *e, int, int, gpointer) { g_signal_stop_emission_by_name(e, "delete-text"); }
void stop_insert(GtkEditable *e, const char *, int, int *, gpointer) { g_signal_stop_emission_by_name(e, "insert-text"); }
void stop_move(GtkText *e, GtkMovementStep, int, gboolean, gpointer) { g_signal_stop_emission_by_name(e, "move-cursor"); }

std::string text_of(GtkWidget *entry)
{
    if (GTK_IS_LABEL(entry)) return gtk_label_get_text(GTK_LABEL(entry));
    return GTK_IS_EDITABLE(entry) ? gtk_editable_get_text(GTK_EDITABLE(entry)) : "";
}

int year_digits_of(ControlMatrix_t *cm, int index) { return date_of(gdate_get_yr(cm, index))->year_digits; }

// ---- The cursor back to the start after a click --------------------------------------------------------

gboolean move_to_start(gpointer data)
{
    auto *entry = static_cast<GtkWidget *>(data);
    if (gtk_widget_has_focus(entry)) {
        g_signal_emit_by_name(entry, "move-cursor", GTK_MOVEMENT_DISPLAY_LINE_ENDS, -1, FALSE);
        gtk_editable_set_position(GTK_EDITABLE(entry), 0);
    }
    g_object_unref(entry);
    return G_SOURCE_REMOVE;
}

void schedule_move_to_start(GtkGesture *gesture)
{
    GtkWidget *entry = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(gesture));
    g_idle_add(move_to_start, g_object_ref(entry));
}

void on_released(GtkGestureClick *gesture, int n_press, double, double, gpointer)
{
    if (n_press == 1)
        schedule_move_to_start(GTK_GESTURE(gesture));
    else
        oska_on_button_propagate(GTK_GESTURE(gesture), 1);
}

void on_stopped(GtkGestureClick *gesture, gpointer) { schedule_move_to_start(GTK_GESTURE(gesture)); }

// ---- The rows of the date kind --------------------------------------------------------------------------

int owns_date(const void *record, const GtkWidget *widget) { return date_of(record)->entry == widget; }
GtkWidget *principal_date(const void *record) { return date_of(record)->entry; }
void write_date(void *, GtkWidget *widget, const char *text) { gdate_write_text(widget, global_data, text); }
std::string display_date(const void *record, const char *text)
{
    return gdate_display_form(text, date_of(record)->year_digits);
}

char *value_date(ControlMatrix_t *cm, int index, void *entry, int *, char **, int *)
{
    return g_strdup(gdate_read_widget(static_cast<GtkWidget *>(entry), year_digits_of(cm, index)).c_str());
}
int validate_date(ControlMatrix_t *cm, int index, void *entry)
{
    auto *widget = static_cast<GtkWidget *>(entry);
    if (!GTK_IS_EDITABLE(widget)) return 1;
    if (gdate_val_return_press(widget, global_data, year_digits_of(cm, index))) return 1;
    gtk_editable_set_position(GTK_EDITABLE(widget), 0);
    return 0;
}
void pre_display_date(ControlMatrix_t *cm, int index, void *entry)
{
    auto *widget = static_cast<GtkWidget *>(entry);
    if (!GTK_IS_EDITABLE(widget)) return;
    const int digits = year_digits_of(cm, index);
    gdate_display_input(widget, digits);
    global_data->four_digit_year = digits == 4;
    set_editing(widget, true);
    gtk_widget_grab_focus(widget);
    gtk_editable_set_position(GTK_EDITABLE(widget), 0);
}
void post_display_date(ControlMatrix_t *cm, int index, void *entry)
{
    auto *widget = static_cast<GtkWidget *>(entry);
    if (!GTK_IS_EDITABLE(widget)) return;
    gdate_format_display2(cm, index);
    set_editing(widget, false);
    const int at = gtk_editable_get_position(GTK_EDITABLE(widget));
    gtk_editable_select_region(GTK_EDITABLE(widget), at, at);
}
void display_init_date(ControlMatrix_t *cm, int index, void *entry)
{
    if (GTK_IS_EDITABLE(static_cast<GtkWidget *>(entry))) gdate_format_display2(cm, index);
}
GtkWidget *focus_date(ControlMatrix_t *, int, void *entry) { return static_cast<GtkWidget *>(entry); }
void clear_date(ControlMatrix_t *, int, void *entry)
{
    auto *widget = static_cast<GtkWidget *>(entry);
    if (GTK_IS_LABEL(widget))
        gtk_label_set_text(GTK_LABEL(widget), "");
    else
        gdate_write_text(widget, global_data, "");
}

} // namespace

std::string gdate_read_widget(GtkWidget *entry, int year_digits)
{
    return gdate_stored_form(text_of(entry), year_digits);
}

void gdate_display_input(GtkWidget *entry, int year_digits)
{
    const std::string editing = gdate_editing_form(text_of(entry), year_digits);
    if (!g_utf8_validate(editing.data(), static_cast<gssize>(editing.size()), nullptr)) {
        g_return_if_fail_warning(nullptr, "gdate_display_input", "g_utf8_validate (text, -1, NULL)");
        return;
    }
    gdate_write_text(entry, global_data, editing.c_str());
    gtk_editable_set_position(GTK_EDITABLE(entry), 0);
    gtk_editable_select_region(GTK_EDITABLE(entry), 0, 0);
}

void gdate_format_display2(ControlMatrix_t *cm, int index)
{
    const int digits = year_digits_of(cm, index);
    if (digits != 2 && digits != 4)
        Abort("gdate_format_display2: Found year of %d digits when expecting 2 or 4; Index %d", digits, index);
    auto *entry = static_cast<GtkWidget *>(cset_cm_get_ptr(cm, CM_ENTRY_PTR, index));
    const std::string text = text_of(entry);
    if (text.empty()) return;
    if (text.size() > 10) Abort("gdate_format_display2: Date display value too long; Index %d", index);
    if (text.size() < 7) Abort("gdate_format_display2: Malformed date '%s'; Index %d", text.c_str(), index);
    if (text[2] != '/') return;  // already the display form
    gdate_write_text(entry, global_data, gdate_display_form(gdate_stored_form(text, digits), digits).c_str());
}

gboolean gdate_on_key_press(ControlMatrix_t *cm, int index, guint keyval, GlobalData_t *gd)
{
    FORMS_TRACE;
    gd->date_key_word = 0;
    auto *entry = static_cast<GtkWidget *>(cset_cm_get_ptr(cm, CM_ENTRY_PTR, index));
    const std::string text = text_of(entry);
    const DateKey key =
        gdate_key(text, gtk_editable_get_position(GTK_EDITABLE(entry)), keyval, year_digits_of(cm, index));
    if (key.text != text) gdate_write_text(entry, gd, key.text.c_str());
    gtk_editable_set_position(GTK_EDITABLE(entry), key.cursor);
    if (key.bell) ring_bell(entry, key.bell);
    return key.consumed;
}

gboolean gdate_val_return_press(GtkWidget *entry, GlobalData_t *, int year_digits)
{
    const std::string message = gdate_check(gdate_read_widget(entry, year_digits), year_digits);
    if (message.empty()) return TRUE;
    ring_bell(entry, message.c_str());
    gmessage(message.c_str(), "E");
    return FALSE;
}

void gdate_write_text(GtkWidget *entry, GlobalData_t *, const char *text)
{
    if (!GTK_IS_EDITABLE(entry)) return;
    const std::string valid = valid_utf8(text ? text : "");
    block(entry, STOP_DELETE, true);
    block(entry, STOP_INSERT, true);
    gtk_editable_set_text(GTK_EDITABLE(entry), valid.c_str());
    block(entry, STOP_DELETE, false);
    block(entry, STOP_INSERT, false);
}

void igdate_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 3) Abort("Found %d parameters when expecting 3", nargs);
    const FieldRecord made = gfield_make_record(nargs, last, CM_FIELD_TYPE_GDATE, AC_DATE_SETUP, sizeof(date_data),
                                                "Must set the Process Control Matrix first", nullptr);
    const int digits = intr::integer(intr::arg(nargs, last, 2)) ? 4 : 2;

    GtkWidget *entry = gtk_text_new();
    gtk_text_set_enable_emoji_completion(GTK_TEXT(entry), FALSE);
    oska_widget_show(entry);
    gtk_editable_set_max_width_chars(GTK_EDITABLE(entry), digits + 6);
    gtk_widget_add_css_class(entry, "oskadate");
    GtkGesture *click = gfield_connect(entry, "gdate-button", "gdate", G_CALLBACK(on_key_press_event), GTK_PHASE_TARGET,
                                       GTK_PHASE_TARGET);
    g_signal_connect(click, "released", G_CALLBACK(on_released), global_data);
    g_signal_connect(click, "stopped", G_CALLBACK(on_stopped), global_data);
    g_signal_connect(entry, "activate", G_CALLBACK(ginput_on_activate), global_data);
    const std::pair<const char *, GCallback> stoppers[] = {{"delete-text", G_CALLBACK(stop_delete)},
                                                           {"insert-text", G_CALLBACK(stop_insert)},
                                                           {"move-cursor", G_CALLBACK(stop_move)}};
    const char *keys[] = {STOP_DELETE, STOP_INSERT, STOP_MOVE};
    for (int i = 0; i < 3; ++i) {
        const gulong id = g_signal_connect(entry, stoppers[i].first, stoppers[i].second, global_data);
        g_signal_handler_block(entry, id);
        g_object_set_data(G_OBJECT(entry), keys[i], GSIZE_TO_POINTER(id));
    }

    date_data *r = date_of(made.record);
    r->year_digits = digits;
    r->entry = entry;
    gwidget_give(result, entry);
}

void gdate_register_kind()
{
    register_field_kind({
        .kind = CM_FIELD_TYPE_GDATE,
        .type = WIDGET_DATE,
        .record = {.owns = owns_date, .principal = principal_date},
        .behaviour = {
            .value = value_date,
            .validate = validate_date,
            .pre_display = pre_display_date,
            .post_display = post_display_date,
            .display_init = display_init_date,
            .focus_widget = focus_date,
            .clear = clear_date,
            // The keys of a date field the dispatcher leaves to it.
            .key_press = gdate_on_key_press,
        },
        .intrinsics = {.write_text = write_date, .display_text = display_date},
    });
}
