// The text field: IGTEXT_NEW, its key filter (Shift+Return breaks a line only for r types), the
// insert filter on its buffer that judges each typed character and keeps the text within its
// maximum, the Enter check, the program-form text (carriage returns), and what the field hands the
// forms engine and the widget intrinsics.
//
// The insert filter is connected blocked: the forms engine unblocks it while the field is edited.
#include "gtext.h"

#include <algorithm>
#include <cstring>

#include "cases.h"
#include "cattach.h"
#include "ccallback.h"
#include "cfield.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "ginput.h"
#include "gmessage.h"
#include "gmisc.h"
#include "gwidget.h"
#include "kinds.h"
#include "message.h"

namespace {

using intr::arg;

// Object data of a view: the insert filter's handler, and whether the field is being edited.
constexpr const char *FILTER = "oska-text-filter";
constexpr const char *EDITING = "oska-text-editing";

text_data *text_of(const void *record) { return static_cast<text_data *>(const_cast<void *>(record)); }

std::string_view type_of(const text_data *r) { return {r->input_type, strnlen(r->input_type, sizeof r->input_type)}; }

bool breaks_lines(std::string_view type)
{
    return (type.size() > 1 && type[1] == 'r') || (type.size() > 2 && type[2] == 'r');
}

// The field whose entry the view is, and its record; nullptr (with must_exist false) when the view
// is no field's.
struct Field {
    ControlMatrix_t *cm;
    int index;
    text_data *record;
};
Field field_of(GtkWidget *view, bool must_exist)
{
    GtkWidget *window = gtk_widget_get_ancestor(view, GTK_TYPE_WINDOW);
    ControlMatrix_t *cm = window ? cget_cm_for_window(global_data, window, 0) : nullptr;
    if (!cm && must_exist) cm = cget_cm_for_widget(global_data, view);
    const int index = cm ? cget_index_for_ptr(cm, CM_ENTRY_PTR, view, must_exist) : -1;
    if (index < 1) return {cm, index, nullptr};
    return {cm, index, text_of(gtext_get_mintype(cm, index))};
}

GtkTextBuffer *buffer_of(GtkWidget *view) { return gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)); }
gulong filter_of(GtkWidget *view) { return GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(view), FILTER)); }

void set_editing(GtkWidget *view, bool editing)
{
    const gulong id = filter_of(view);
    const bool now = g_object_get_data(G_OBJECT(view), EDITING) != nullptr;
    if (!id || now == editing) return;
    if (editing)
        g_signal_handler_unblock(buffer_of(view), id);
    else
        g_signal_handler_block(buffer_of(view), id);
    g_object_set_data(G_OBJECT(view), EDITING, editing ? GINT_TO_POINTER(1) : nullptr);
}

std::string buffer_text(GtkWidget *view)
{
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer_of(view), &start, &end);
    gchar *t = gtk_text_buffer_get_text(buffer_of(view), &start, &end, TRUE);
    std::string s(t);
    g_free(t);
    return s;
}

void select_all(GtkWidget *view)
{
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer_of(view), &start, &end);
    gtk_text_buffer_select_range(buffer_of(view), &start, &end);
}

// The key filter: with Shift, Return and keypad Enter break a line (left to the view) in a type
// that allows it, and do nothing in another; every other key goes to the forms engine.
gboolean on_gtext_key(GtkEventControllerKey *controller, guint keyval, guint keycode, GdkModifierType state,
                      gpointer gd)
{
    if ((state & GDK_SHIFT_MASK) && (keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter)) {
        bool lines = false;
        forms_callback([&] {
            const Field f = field_of(gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller)), false);
            lines = f.record && breaks_lines(type_of(f.record));
        });
        return lines ? FALSE : TRUE;
    }
    return on_key_press_event(controller, keyval, keycode, state, gd);
}

// The insert filter (the buffer's "insert-text"; user data the view).
void gtext_insert_text_handler(GtkTextBuffer *buffer, GtkTextIter *location, char *text, int length, gpointer data)
{
    forms_callback([&] {
        auto *view = static_cast<GtkWidget *>(data);
        const text_data *r = field_of(view, true).record;
        const std::string_view type = type_of(r);
        std::string accepted;
        const std::size_t n = length < 0 ? std::strlen(text) : static_cast<std::size_t>(length);
        for (gunichar c : characters({text, n})) {
            if (!gtext_is_valid_char(type, c)) {
                ring_bell(view, "gtext_insert_text_handler");
                return;
            }
            append_char(accepted, ginput_convert_toupper(c, type));
        }
        const gulong id = filter_of(view);
        g_signal_handler_block(buffer, id);
        gtk_text_buffer_insert_interactive_at_cursor(buffer, accepted.data(), static_cast<int>(accepted.size()),
                                                     gtk_text_view_get_editable(GTK_TEXT_VIEW(view)));
        g_signal_handler_unblock(buffer, id);
        const int most = std::max(r->max_chars, 0);
        if (gtk_text_buffer_get_char_count(buffer) > most) {
            GtkTextIter from, end;
            gtk_text_buffer_get_iter_at_offset(buffer, &from, most);
            gtk_text_buffer_get_end_iter(buffer, &end);
            gtk_text_buffer_delete(buffer, &from, &end);
        }
    });
    // The insertion has been made here (or refused): the default one must not follow, and the
    // caller's iterator is made valid again.
    gtk_text_buffer_get_iter_at_mark(buffer, location, gtk_text_buffer_get_insert(buffer));
    g_signal_stop_emission_by_name(buffer, "insert-text");
}

// No mask is an empty text or a single blank.
bool none(std::string_view t) { return t.empty() || t == " "; }

std::string replaced(std::string text, char from, char to)
{
    std::replace(text.begin(), text.end(), from, to);
    return text;
}

// ---- The rows of the text kind --------------------------------------------------------------------------

void free_text(void *record)
{
    text_data *r = text_of(record);
    g_free(r->mask);
    g_free(r->message);
}
int owns_text(const void *record, const GtkWidget *widget)
{
    const text_data *r = text_of(record);
    return widget && (widget == r->view || widget == r->scrolled_window || widget == r->box);
}
GtkWidget *box_of(const void *record) { return text_of(record)->box; }
GtkWidget *view_of(const void *record) { return text_of(record)->view; }
int *index_of(void *record) { return &text_of(record)->index; }
void set_sensitive_text(ControlMatrix_t *, int, void *record, int sensitive, int)
{
    gtk_widget_set_sensitive(text_of(record)->view, sensitive != 0);
}
void destroy_text(void *record) { oska_widget_destroy(text_of(record)->box); }
void set_name_text(void *record, const char *name) { gtk_widget_set_name(text_of(record)->view, name); }
const char *format_text(const void *record) { return text_of(record)->input_type; }
int max_length_text(const void *record) { return text_of(record)->max_chars; }
void write_text(void *record, GtkWidget *widget, const char *text) { gtext_write_text(widget, text_of(record), text); }

char *value_text(ControlMatrix_t *, int, void *entry, int *, char **, int *)
{
    char *text = gtext_get_text(text_of(entry));
    mlog(2, "gkey_press_get_ip: Text '%s'", text);
    return text;
}
// gtext_val_return_press for record r of the field at index, or of the field whose view is r's
// (cm nullptr).
gboolean accepts(text_data *r, ControlMatrix_t *cm, int index);

int validate_text(ControlMatrix_t *cm, int index, void *entry) { return accepts(text_of(entry), cm, index); }
void pre_display_text(ControlMatrix_t *, int, void *entry)
{
    text_data *r = text_of(entry);
    gtk_widget_grab_focus(r->view);
    set_editing(r->view, true);
}
void post_display_text(ControlMatrix_t *, int, void *entry) { set_editing(text_of(entry)->view, false); }
void display_init_text(ControlMatrix_t *, int, void *) {}
GtkWidget *focus_text(ControlMatrix_t *, int, void *entry) { return text_of(entry)->view; }
void clear_text(ControlMatrix_t *, int, void *entry) { gtext_clear(text_of(entry)); }

} // namespace

bool gtext_type_valid(std::string_view type)
{
    if (type.empty() || std::string_view("acps").find(type[0]) == std::string_view::npos) return false;
    const std::string_view rest = type.substr(1);
    return rest.empty() || rest == "u" || rest == "r" || rest == "ur";
}

// Whole characters by GLib's Unicode classes, as the input field judges them.
bool gtext_is_valid_char(std::string_view type, gunichar c)
{
    if (type.size() >= 16) Abort("Invalid Input Type: '%.*s'", static_cast<int>(type.size()), type.data());
    const char letter = type.empty() ? '\0' : type[0];
    if (letter != 'a' && letter != 'c' && letter != 'p' && letter != 's') Abort("gtext_is_valid_char: Invald input type");
    if (c == '\n') return breaks_lines(type);
    if (letter == 'a') return g_unichar_isalpha(c) != 0;
    if (letter == 'c') return g_unichar_isalpha(c) || g_unichar_isdigit(c);
    return g_unichar_isprint(c) != 0 && c != '\\';
}

std::string gtext_value_message(std::string_view type, std::string_view value, int min_chars, int max_chars,
                                bool required)
{
    const std::string v(trimmed(value));
    const auto count = static_cast<int>(g_utf8_strlen(v.c_str(), static_cast<gssize>(v.size())));
    if (count < min_chars && (required || !v.empty()))
        return "Entered " + std::to_string(count) + " characters, minimum number required is " +
               std::to_string(min_chars) + ".";
    if (count > max_chars)
        return "Entered " + std::to_string(count) + " characters, maximum number allowed is " +
               std::to_string(max_chars) + ".";
    const char letter = type.empty() ? '\0' : type[0];
    if (letter == 'p') Abort("The coding for Pattern Matching in Text widgets is yet to be completed!");
    const bool lines = breaks_lines(type);
    for (gunichar c : characters(v)) {
        if (c == '\r' && lines) continue;
        if (letter == 's' && (!g_unichar_isprint(c) || c == '\\'))
            return "Text must be printable character or space and not '\\'";
        if (letter == 'a' && !g_unichar_isalpha(c)) return "Text must be alphabetic character";
        if (letter == 'c' && !g_unichar_isalpha(c) && !g_unichar_isdigit(c))
            return "Text must be alphabetic character or a digit";
    }
    return {};
}

gboolean gtext_val_return_press(text_data *r, GlobalData_t *)
{
    return accepts(r, nullptr, 0);
}

namespace {

gboolean accepts(text_data *r, ControlMatrix_t *cm, int index)
{
    const std::string_view type = type_of(r);
    const std::string text = buffer_text(r->view);
    std::string checked;
    bool refused = false;
    for (gunichar c : characters(text)) {
        if (!gtext_is_valid_char(type, c)) {
            refused = true;
            break;
        }
        append_char(checked, ginput_convert_toupper(c, type));
    }
    if (!refused && checked != text) gtext_write_text(r->view, r, checked.c_str());
    std::string message;
    if (!refused) {
        const Field f = cm ? Field{cm, index, r} : field_of(r->view, true);
        const int tab = cset_cm_get_int(f.cm, CM_TAB_SEQ, f.index);
        message = gtext_value_message(type, replaced(checked, '\n', '\r'), r->min_chars, r->max_chars,
                                      tab == TAB_KEY || tab == TAB_REQUIRED);
        if (message.empty()) return TRUE;
        gmessage(message.c_str(), "Warning");
    }
    select_all(r->view);
    return FALSE;
}

} // namespace

char *gtext_get_text(const text_data *r)
{
    return g_strdup(replaced(buffer_text(r->view), '\n', '\r').c_str());
}

void gtext_write_text(GtkWidget *view, text_data *, const char *text)
{
    const std::string t = replaced(valid_utf8(text ? text : ""), '\r', '\n');
    const gulong id = filter_of(view);
    GtkTextBuffer *buffer = buffer_of(view);
    if (id) g_signal_handler_block(buffer, id);
    gtk_text_buffer_set_text(buffer, t.c_str(), static_cast<int>(t.size()));
    if (id) g_signal_handler_unblock(buffer, id);
}

void gtext_clear(text_data *r) { gtext_write_text(r->view, r, ""); }

void igtext_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 8 && nargs != 10) Abort("Must have eight or ten parameters not %d", nargs);
    const FieldRecord made = gfield_make_record(nargs, last, CM_FIELD_TYPE_GTEXT, AC_TEXT_SETUP, sizeof(text_data),
                                                "Must set the Process Control Matrix first", nullptr);
    const int index = made.index;
    const int min_chars = intr::integer(arg(nargs, last, 2)), max_chars = intr::integer(arg(nargs, last, 3));
    const int width = intr::integer(arg(nargs, last, 4)), height = intr::integer(arg(nargs, last, 5));
    std::string type(intr::text(arg(nargs, last, 6)));
    type.resize(type.find_last_not_of(' ') + 1);
    const int margin = intr::integer(arg(nargs, last, 7));
    const std::string mask = nargs == 10 ? std::string(intr::text(arg(nargs, last, 8))) : "";
    const std::string message = nargs == 10 ? std::string(intr::text(arg(nargs, last, 9))) : "";

    if (type.empty() || std::string_view("acps").find(type[0]) == std::string_view::npos)
        Abort("Invalid type '%s' to igtext_new", type.c_str());
    if (!gtext_type_valid(type)) Abort("Input Type to igtext_new is invalid; Index %d; Type '%s'", index, type.c_str());
    if (type[0] == 'p') {
        if (none(mask))
            Abort("Must supply a regular expression mask to igtext_new at index %d when the type '%s' is 'p'", index,
                  type.c_str());
        if (none(message))
            Abort("Must supply an error message with the regular expression mask to igtext_new at index %d when the "
                  "type '%s' is 'p'",
                  index, type.c_str());
    } else {
        if (!none(mask))
            Abort("Must not supply a regular expression mask to igtext_new at index %d when the type '%s' is not 'p'",
                  index, type.c_str());
        if (!none(message))
            Abort("Must not supply an error message with the regular expression mask to igtext_new at index %d when "
                  "the type '%s' is not 'p'",
                  index, type.c_str());
    }
    if (type.size() >= CM_TEXT_TYPE_SIZE) Abort("Text field type exceeds array length");

    GtkWidget *scrolled = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_min_content_width(GTK_SCROLLED_WINDOW(scrolled), width);
    gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(scrolled), height);
    GtkWidget *view = gtk_text_view_new();
    gtk_widget_set_size_request(view, width, height);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
    gtk_widget_set_name(view, "ViewText");
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), view);
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_set_homogeneous(GTK_BOX(box), FALSE);
    gtk_widget_set_hexpand(box, FALSE);
    gtk_widget_set_vexpand(box, TRUE);
    oska_box_append(box, scrolled, 0, 0, margin);
    oska_widget_show(box);

    text_data *r = text_of(made.record);
    r->min_chars = min_chars;
    r->max_chars = max_chars;
    std::memcpy(r->input_type, type.c_str(), type.size() + 1);
    r->mask = g_strdup(none(mask) ? "" : mask.c_str());
    r->message = g_strdup(none(message) ? "" : message.c_str());
    r->view = view;
    r->scrolled_window = scrolled;
    r->box = box;
    r->index = index;

    // The press is the engine's before the view's own: a click the engine refuses must not give the
    // clicked view the keyboard.
    gfield_connect(view, "gtext-button", "gtext", G_CALLBACK(on_gtext_key), GTK_PHASE_CAPTURE, GTK_PHASE_CAPTURE);
    const gulong filter = g_signal_connect_object(buffer_of(view), "insert-text", G_CALLBACK(gtext_insert_text_handler),
                                                  view, GConnectFlags(0));
    g_signal_handler_block(buffer_of(view), filter);
    g_object_set_data(G_OBJECT(view), FILTER, GSIZE_TO_POINTER(filter));
    gwidget_give_record(result, r);
}

void gtext_register_kind()
{
    register_field_kind({
        .kind = CM_FIELD_TYPE_GTEXT,
        .type = WIDGET_TEXT,
        .record = {
            .free = free_text,
            .owns = owns_text,
            .principal = box_of,
            .own_index = index_of,
            .set_sensitive = set_sensitive_text,
        },
        .behaviour = {
            .value = value_text,
            .validate = validate_text,
            .pre_display = pre_display_text,
            .post_display = post_display_text,
            .display_init = display_init_text,
            .focus_widget = focus_text,
            .clear = clear_text,
        },
        .intrinsics = {
            .packed = box_of,
            .tooltip = view_of,
            .text = view_of,
            .destroy = destroy_text,
            .set_name = set_name_text,
            .format = format_text,
            .max_length = max_length_text,
            .write_text = write_text,
        },
    });
}
