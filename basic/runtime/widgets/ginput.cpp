// The input field's widget: IGINPUT_NEW, the insert filter that judges each typed character, the
// Enter check, the commas taken off while the field is edited and put back when it is left, text
// written by the program, and what the field hands the forms engine and the widget intrinsics.
//
// The insert filter is connected blocked: the forms engine unblocks it while the field is edited
// (pre-display) and blocks it again afterwards, so text the program writes is never filtered.
#include "ginput.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cases.h"
#include "cattach.h"
#include "ccallback.h"
#include "center.h"
#include "cevents.h"
#include "cfield.h"
#include "cmatrix.h"
#include "gmessage.h"
#include "gmisc.h"
#include "gwidget.h"
#include "kinds.h"
#include "message.h"

namespace {

using intr::arg;

// Object data of an entry: the insert filter's handler, and whether the field is being edited
// (the filter unblocked).
constexpr const char *FILTER = "oska-input-filter";
constexpr const char *EDITING = "oska-input-editing";

input_data *input_of(const void *record) { return static_cast<input_data *>(const_cast<void *>(record)); }

// The record's input type without its fill blanks.
std::string_view type_of(const input_data *r)
{
    std::string_view t(r->input_type, strnlen(r->input_type, sizeof r->input_type));
    return t.substr(0, t.find_last_not_of(' ') + 1);
}

bool is_number_field(const input_data *r) { return r->input_type[0] == 'n' || r->input_type[0] == 'm'; }

struct Field {
    ControlMatrix_t *cm;
    int index;
    input_data *record;
};
// The field whose entry the widget is, and its input record.
Field field_of(GtkWidget *entry)
{
    ControlMatrix_t *cm = cget_cm_for_widget(global_data, entry);
    const int index = cget_index_for_ptr(cm, CM_ENTRY_PTR, entry, 1);
    return {cm, index, input_of(ginput_get_mintype(cm, index))};
}

gulong filter_of(GtkWidget *entry) { return GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(entry), FILTER)); }

// Unblocks the insert filter while the field is edited, blocks it otherwise; kept balanced.
void set_editing(GtkWidget *entry, bool editing)
{
    const gulong id = filter_of(entry);
    const bool now = g_object_get_data(G_OBJECT(entry), EDITING) != nullptr;
    if (!id || now == editing) return;
    if (editing)
        g_signal_handler_unblock(entry, id);
    else
        g_signal_handler_block(entry, id);
    g_object_set_data(G_OBJECT(entry), EDITING, editing ? GINT_TO_POINTER(1) : nullptr);
}

std::string text_of(GtkWidget *entry)
{
    if (GTK_IS_LABEL(entry)) return gtk_label_get_text(GTK_LABEL(entry));
    return GTK_IS_EDITABLE(entry) ? gtk_editable_get_text(GTK_EDITABLE(entry)) : "";
}

// The insert filter (the entry's "insert-text").
void on_ginput_insert_text(GtkEditable *editable, const char *text, int length, int *position, gpointer)
{
    forms_callback([&] {
        auto *entry = GTK_WIDGET(editable);
        const Field f = field_of(entry);
        const std::string_view inserted(text, length < 0 ? std::strlen(text) : static_cast<std::size_t>(length));
        const InputInsert outcome =
            ginput_filter_insert(type_of(f.record), gtk_editable_get_text(editable), inserted, *position);
        if (outcome.outcome == InputInsert::accepted) {
            const gulong id = filter_of(entry);
            g_signal_handler_block(editable, id);
            gtk_editable_insert_text(editable, outcome.text.c_str(), static_cast<int>(outcome.text.size()), position);
            g_signal_handler_unblock(editable, id);
        } else if (outcome.outcome == InputInsert::refused) {
            ring_bell(entry, "on_ginput_insert_text");
        }
    });
    g_signal_stop_emission_by_name(editable, "insert-text");
}

// A number's text for IP: the text without commas when it is a number, else none.
bool is_number_text(std::string_view t)
{
    if (t.starts_with('-')) t.remove_prefix(1);
    if (t.empty() || t == ".") return false;
    bool point = false;
    for (char c : t) {
        if (c == '.' && !point) point = true;
        else if (c < '0' || c > '9') return false;
    }
    return true;
}

// ---- The rows of the input kind -----------------------------------------------------------------------

void free_input(void *record)
{
    input_data *r = input_of(record);
    g_free(r->mask);
    g_free(r->message);
}
int owns_input(const void *record, const GtkWidget *widget) { return input_of(record)->entry == widget; }
GtkWidget *principal_input(const void *record) { return input_of(record)->entry; }
const char *format_input(const void *record) { return input_of(record)->input_type; }
int max_length_input(const void *record) { return input_of(record)->max_length; }
void write_input(void *, GtkWidget *widget, const char *text) { ginput_write_text(widget, global_data, text); }
std::string format_numeric(const char *number, const char *format, int width)
{
    return ginput_format_numeric(number, width, format);
}

char *value_input(ControlMatrix_t *cm, int index, void *entry, int *, char **ip_decimal, int *ip_given)
{
    const std::string text = text_of(static_cast<GtkWidget *>(entry));
    if (!is_number_field(input_of(ginput_get_mintype(cm, index)))) return g_strdup(text.c_str());
    // Numbers reach routines without their commas, and IP holds the value (0.0 when empty).
    const std::string plain = ginput_remove_commas(text);
    if (is_number_text(plain)) {
        g_free(*ip_decimal);
        *ip_decimal = g_strdup(plain.c_str());
    }
    *ip_given = 1;
    return g_strdup(plain.c_str());
}
// The whole text of a refused value stays selected, so that what the user types next replaces it.
// The text loses its selection when the keyboard comes back to its window after the message, so
// it is selected again then, at once (a key typed right after the message must find it selected)
// and once more when GTK's own handling of the window's return has run, unless a key has changed
// the text meanwhile.
constexpr const char *RESELECT = "oska-input-reselect";
constexpr const char *RESELECT_TEXT = "oska-input-reselect-text";

gboolean select_all(gpointer data)
{
    auto *widget = static_cast<GtkWidget *>(data);
    const auto *text = static_cast<const char *>(g_object_get_data(G_OBJECT(widget), RESELECT_TEXT));
    if (gtk_widget_has_focus(widget) && text && std::strcmp(text, gtk_editable_get_text(GTK_EDITABLE(widget))) == 0)
        gtk_editable_select_region(GTK_EDITABLE(widget), 0, -1);
    g_object_set_data(G_OBJECT(widget), RESELECT_TEXT, nullptr);
    g_object_unref(widget);
    return G_SOURCE_REMOVE;
}

void on_focus_enter(GtkEventControllerFocus *focus, gpointer)
{
    GtkWidget *widget = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(focus));
    if (!g_object_get_data(G_OBJECT(widget), RESELECT)) return;
    g_object_set_data(G_OBJECT(widget), RESELECT, nullptr);
    gtk_editable_select_region(GTK_EDITABLE(widget), 0, -1);
    g_object_set_data_full(G_OBJECT(widget), RESELECT_TEXT, g_strdup(gtk_editable_get_text(GTK_EDITABLE(widget))),
                           g_free);
    g_idle_add(select_all, g_object_ref(widget));
}

// ginput_val_return_press for field f, whose entry is entry.
gboolean accepts(const Field &f, GtkWidget *entry, GlobalData_t *gd)
{
    const int tab = cset_cm_get_int(f.cm, CM_TAB_SEQ, f.index);
    const std::string message =
        ginput_value_message(type_of(f.record), text_of(entry), f.record->min_length, tab == TAB_KEY || tab == TAB_REQUIRED,
                             f.record->mask, f.record->message, gd && gd->last_key == GDK_KEY_F3);
    if (message.empty()) return TRUE;
    gmessage(message.c_str(), "Warning");
    return FALSE;
}

int validate_input(ControlMatrix_t *cm, int index, void *entry)
{
    auto *widget = static_cast<GtkWidget *>(entry);
    if (!GTK_IS_EDITABLE(widget)) return 1;
    if (accepts({cm, index, input_of(ginput_get_mintype(cm, index))}, widget, global_data)) return 1;
    gtk_editable_select_region(GTK_EDITABLE(widget), 0, -1);
    g_object_set_data(G_OBJECT(widget), RESELECT, GINT_TO_POINTER(1));
    return 0;
}
void pre_display_input(ControlMatrix_t *cm, int index, void *entry)
{
    auto *widget = static_cast<GtkWidget *>(entry);
    if (!GTK_IS_EDITABLE(widget)) return;
    ginput_from_commas(widget, cm, index);
    set_editing(widget, true);
    gtk_editable_select_region(GTK_EDITABLE(widget), 0, -1);
}
void post_display_input(ControlMatrix_t *cm, int index, void *entry)
{
    auto *widget = static_cast<GtkWidget *>(entry);
    if (!GTK_IS_EDITABLE(widget)) return;
    set_editing(widget, false);
    ginput_to_commas(widget, cm, index);
    const int at = gtk_editable_get_position(GTK_EDITABLE(widget));
    gtk_editable_select_region(GTK_EDITABLE(widget), at, at);
}
void display_init_input(ControlMatrix_t *cm, int index, void *entry)
{
    auto *widget = static_cast<GtkWidget *>(entry);
    if (GTK_IS_EDITABLE(widget)) ginput_to_commas(widget, cm, index);
}
GtkWidget *focus_input(ControlMatrix_t *, int, void *entry) { return static_cast<GtkWidget *>(entry); }
void clear_input(ControlMatrix_t *, int, void *entry)
{
    auto *widget = static_cast<GtkWidget *>(entry);
    if (GTK_IS_LABEL(widget))
        gtk_label_set_text(GTK_LABEL(widget), "");
    else
        ginput_write_text(widget, global_data, "");
}

// No mask is an empty text or a single blank.
bool none(std::string_view t) { return t.empty() || t == " "; }

} // namespace

gboolean ginput_val_return_press(GtkWidget *entry, GlobalData_t *gd)
{
    return accepts(field_of(entry), entry, gd);
}

int ginput_validate_input(const char *text, GlobalData_t *gd, int show, int minimum, int length, const char *type,
                          const char *pattern, const char *pattern_message)
{
    const std::string_view value(text ? text : "", text ? static_cast<std::size_t>(std::max(length, 0)) : 0);
    const std::string message = ginput_value_message(type ? type : "", value, minimum, false, pattern, pattern_message,
                                                      gd && gd->last_key == GDK_KEY_F3);
    if (message.empty()) return 1;
    if (show) gmessage(message.c_str(), "Warning");
    return 0;
}

void ginput_from_commas(GtkWidget *entry, ControlMatrix_t *cm, int index)
{
    const input_data *r = input_of(ginput_get_mintype(cm, index));
    if (!is_number_field(r)) return;
    const std::string text = text_of(entry);
    // "--" holds no commas: it stays as it is, as it does on leaving.
    if (text != "--") ginput_write_text(entry, global_data, ginput_remove_commas(text).c_str());
}

void ginput_to_commas(GtkWidget *entry, ControlMatrix_t *cm, int index)
{
    const input_data *r = input_of(ginput_get_mintype(cm, index));
    if (!is_number_field(r)) return;
    const std::string text = text_of(entry);
    if (text == "--") return;
    // A field without a maximum length (0) gets the width a number printed into it would get.
    const auto plain = static_cast<int>(ginput_remove_commas(text).size());
    const int width = r->max_length > 0 ? r->max_length : plain + plain / 3 + 3;
    ginput_write_text(entry, global_data, ginput_add_commas1(text, width, type_of(r)).c_str());
}

void ginput_write_text(GtkWidget *entry, GlobalData_t *, const char *text)
{
    if (!GTK_IS_EDITABLE(entry)) return;
    const std::string valid = valid_utf8(text ? text : "");
    const gulong id = filter_of(entry);
    if (id) g_signal_handler_block(entry, id);
    gtk_editable_set_text(GTK_EDITABLE(entry), valid.c_str());
    if (id) g_signal_handler_unblock(entry, id);
}

void ginput_on_activate(GtkWidget *entry, gpointer gd)
{
    forms_callback([&] {
        const RoutineName name("on_key_press_event");
        if (on_key_press_enter(entry, nullptr, GDK_KEY_KP_Enter, static_cast<GlobalData_t *>(gd), 0))
            ccallbacks_finish_event(1, 1);
    });
}

void iginput_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 7 && nargs != 9 && nargs != 10) Abort("Must have seven, nine, or ten parameters; not %d", nargs);
    const FieldRecord made = gfield_make_record(nargs, last, CM_FIELD_TYPE_GINPUT, AC_INPUT_SETUP, sizeof(input_data),
                                                "Must set the Process Control Matrix first", nullptr);
    const int min_length = intr::integer(arg(nargs, last, 2));
    const int max_length = intr::integer(arg(nargs, last, 3));
    double fraction = 0, alignment = 0;
    NumericToDBL(intr::number(arg(nargs, last, 4)), &fraction);
    NumericToDBL(intr::number(arg(nargs, last, 5)), &alignment);
    const std::string mask = nargs >= 9 ? std::string(intr::text(arg(nargs, last, 7))) : "";
    const std::string message = nargs >= 9 ? std::string(intr::text(arg(nargs, last, 8))) : "";
    const int hidden = nargs == 10 ? intr::integer(arg(nargs, last, 9)) : 0;
    if (hidden != 0 && hidden != 1) Abort("Invalid value for optional hidden parameter %d", hidden);

    const std::string type = ginput_normalise_type(intr::text(arg(nargs, last, 6)));
    const int index = made.index;
    if (!ginput_type_valid(type)) Abort("Input Type to iginput_new is invalid; Index %d; Type '%s'", index, type.c_str());
    if (type[0] == 'p') {
        if (none(mask))
            Abort("Must supply a regular expression mask to iginput_new index %d when the type '%s' is 'p'", index,
                  type.c_str());
        if (none(message))
            Abort("Must supply an error message with the regular expression mask to iginput_new index %d when the "
                  "type '%s' is 'p'",
                  index, type.c_str());
    } else {
        if (!none(mask))
            Abort("Must not supply a regular expression mask to iginput_new index %d when the type '%s' is not 'p'",
                  index, type.c_str());
        if (!none(message))
            Abort("Must not supply an error message with the regular expression mask to iginput_new index %d when "
                  "the type '%s' is not 'p'",
                  index, type.c_str());
    }
    if (type.size() > CM_INPUT_TYPE_SIZE_A - 1) Abort("Input field type exceeds array length");

    GtkWidget *entry = gtk_text_new();
    gtk_widget_add_css_class(entry, "ginput");
    gtk_text_set_enable_emoji_completion(GTK_TEXT(entry), FALSE);
    oska_widget_show(entry);
    if (hidden) gtk_text_set_visibility(GTK_TEXT(entry), FALSE);
    // Width in characters: the fraction of the maximum length, -1 (natural) when below one.
    int width = fraction > 0.99 ? max_length : fraction < 0.01 ? 0 : static_cast<int>(fraction * max_length);
    if (width > max_length) width = max_length;
    if (width < 1) width = -1;
    gtk_text_set_max_length(GTK_TEXT(entry), std::clamp(max_length, 0, 65535));
    gtk_editable_set_max_width_chars(GTK_EDITABLE(entry), width);
    gtk_editable_set_width_chars(GTK_EDITABLE(entry), width);
    gtk_editable_set_alignment(GTK_EDITABLE(entry), static_cast<float>(std::clamp(alignment, 0.0, 1.0)));
    // The press is the engine's before the text's own: a click the engine refuses must not give the
    // clicked text the keyboard.
    gfield_connect(entry, "ginput-button", "ginput", G_CALLBACK(on_key_press_event), GTK_PHASE_CAPTURE, GTK_PHASE_CAPTURE);
    const gulong filter = g_signal_connect(entry, "insert-text", G_CALLBACK(on_ginput_insert_text), global_data);
    g_signal_handler_block(entry, filter);
    g_object_set_data(G_OBJECT(entry), FILTER, GSIZE_TO_POINTER(filter));
    g_signal_connect(entry, "activate", G_CALLBACK(ginput_on_activate), global_data);
    GtkEventController *focus = gtk_event_controller_focus_new();
    g_signal_connect(focus, "enter", G_CALLBACK(on_focus_enter), nullptr);
    gtk_widget_add_controller(entry, focus);

    input_data *r = input_of(made.record);
    r->min_length = min_length;
    r->max_length = max_length;
    std::snprintf(r->input_type, sizeof r->input_type, "%-*s", CM_INPUT_TYPE_SIZE_A - 1, type.c_str());
    r->mask = g_strdup(none(mask) ? "" : mask.c_str());
    r->message = g_strdup(none(message) ? "" : message.c_str());
    r->entry = entry;
    mlog(2, "Do ginput_new; minimum length = %d; Type = %s", min_length, type.c_str());
    gwidget_give(result, entry);
}

void ginput_register_kind()
{
    register_field_kind({
        .kind = CM_FIELD_TYPE_GINPUT,
        .type = WIDGET_INPUT,
        .record = {.free = free_input, .owns = owns_input, .principal = principal_input},
        .behaviour = {
            .value = value_input,
            .validate = validate_input,
            .pre_display = pre_display_input,
            .post_display = post_display_input,
            .display_init = display_init_input,
            .focus_widget = focus_input,
            .clear = clear_input,
            // Alt-m opens the edit menu as the right mouse button does.
            .context_menu = [](ControlMatrix_t *cm, int index, void *entry, int button) -> int {
                return ginput_right_mouse_menu(cm, index, static_cast<GtkWidget *>(entry), button);
            },
        },
        .intrinsics = {
            .format = format_input,
            .max_length = max_length_input,
            .write_text = write_input,
            .format_numeric = format_numeric,
        },
    });
}
