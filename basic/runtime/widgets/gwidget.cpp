// Widget handles checked in the registry of issued handles, the per-kind table of field records
// and the registration of a field kind's descriptor, and the construction pattern of field
// constructors.
#include "gwidget.h"

#include <cctype>
#include <utility>

#include "cases.h"
#include "cattach.h"
#include "cclick.h"
#include "cfield.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "handles.h"
#include "kinds.h"
#include "message.h"
#include "run_time.h"

namespace {

FieldKindHooks rows[CM_FIELD_TYPE_GMAX + 1];

[[noreturn]] void invalid(long value)
{
    Abort("Invalid widget handle %lX", static_cast<unsigned long>(value));
}

void check_kind(int kind)
{
    if (kind < 1 || kind > CM_FIELD_TYPE_GMAX) Abort("Unexpected widget type %d", kind);
}

} // namespace

// ---- Handles ------------------------------------------------------------------------------------------

WidgetHandle gwidget_handle(long value)
{
    const auto v = static_cast<std::uintptr_t>(value);
    if (void *record = handle_record(v)) return {handle_kind(record), record, nullptr, nullptr};
    if (GtkWidget *widget = handle_widget(v)) return {0, nullptr, widget, nullptr};
    if (GObject *object = handle_object(v)) return {-1, nullptr, nullptr, object};
    invalid(value);
}

WidgetHandle gwidget_handle_arg(const Stack &entry)
{
    return gwidget_handle(intr::long_integer(entry));
}

GtkWidget *gwidget_arg(const Stack &entry)
{
    const long value = intr::long_integer(entry);
    const WidgetHandle h = gwidget_handle(value);
    if (h.record) return cget_widget_for_widget(h.record);
    if (!h.widget) invalid(value);
    return h.widget;
}

GtkWidget *gwidget_arg_of(const Stack &entry, GType type)
{
    const long value = intr::long_integer(entry);
    const WidgetHandle h = gwidget_handle(value);
    if (!h.widget || !g_type_is_a(G_OBJECT_TYPE(h.widget), type)) invalid(value);
    return h.widget;
}

void gwidget_give(Stack *result, GtkWidget *widget)
{
    handle_issue_widget(widget);
    intr::set_number(result, static_cast<long>(reinterpret_cast<std::uintptr_t>(widget)));
}

void gwidget_give_record(Stack *result, void *record)
{
    intr::set_number(result, static_cast<long>(reinterpret_cast<std::uintptr_t>(record)));
}

void gwidget_give_object(Stack *result, GObject *object)
{
    handle_issue_object(object);
    intr::set_number(result, static_cast<long>(reinterpret_cast<std::uintptr_t>(object)));
}

// ---- Per-kind table -----------------------------------------------------------------------------------

bool field_kind_has_widgets(int kind)
{
    switch (kind) {
    case CM_FIELD_TYPE_GNOTE:
    case CM_FIELD_TYPE_GCOMBO:
    case CM_FIELD_TYPE_GCHECKBOX:
    case CM_FIELD_TYPE_GLABEL:
    case CM_FIELD_TYPE_GIMAGE:
    case CM_FIELD_TYPE_GTOGGLE_BUTTON:
    case CM_FIELD_TYPE_GRADIO_BUTTON:
    case CM_FIELD_TYPE_GTEXT: return true;
    default: return false;
    }
}

FieldKindHooks register_field_kind(int kind, const FieldKindHooks &hooks)
{
    check_kind(kind);
    return std::exchange(rows[kind], hooks);
}

const FieldKindHooks &field_kind(int kind)
{
    check_kind(kind);
    return rows[kind];
}

FieldKindDescriptor register_field_kind(const FieldKindDescriptor &descriptor)
{
    // The lookups check both numbers, so a bad one changes no row.
    const FieldKindDescriptor replaced{descriptor.kind, descriptor.type, record_kind(descriptor.kind),
                                       widget_type(descriptor.type), field_kind(descriptor.kind)};
    register_record_kind(descriptor.kind, descriptor.record);
    register_widget_type(descriptor.type, descriptor.behaviour);
    register_field_kind(descriptor.kind, descriptor.intrinsics);
    return replaced;
}

// ---- Construction pattern -------------------------------------------------------------------------------

FieldRecord gfield_make_record(int nargs, int last, int kind, int code, std::size_t size, const char *no_cm_message,
                               const char *twice_message)
{
    ControlMatrix_t *cm = cutil_get_cm(global_data, &intr::arg(nargs, last, 0));
    if (!cm) Abort("%s", no_cm_message);
    const int index = intr::integer(intr::arg(nargs, last, 1));
    if (twice_message && cmat_get_fn_ptr(cm, index, code)) Abort(twice_message, index);
    SubControlMatrix_t *scm = cutil_cp_stack(cm, nullptr, 0, index, code, nullptr, nullptr, 1);
    return {cm, index, cutil_new_setup(scm, kind, size)};
}

GtkGesture *gfield_connect(GtkWidget *focusable, const char *click_name, const char *key_name, GCallback key_handler,
                           GtkPropagationPhase key_phase, GtkPropagationPhase click_phase)
{
    GtkGesture *click = gtk_gesture_click_new();
    gtk_event_controller_set_name(GTK_EVENT_CONTROLLER(click), click_name);
    gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(click), click_phase);
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), 0);
    gtk_gesture_single_set_exclusive(GTK_GESTURE_SINGLE(click), TRUE);
    g_signal_connect(click, "pressed", G_CALLBACK(on_button_press_event), global_data);
    gtk_widget_add_controller(focusable, GTK_EVENT_CONTROLLER(click));

    GtkEventController *keys = gtk_event_controller_key_new();
    gtk_event_controller_set_name(keys, key_name);
    gtk_event_controller_set_propagation_phase(keys, key_phase);
    g_signal_connect(keys, "key-pressed", key_handler, global_data);
    gtk_widget_add_controller(focusable, keys);
    return click;
}

// ---- Handlers ------------------------------------------------------------------------------------------

BlockedHandler::BlockedHandler(gpointer instance, GCallback handler, gpointer data)
    : instance(instance), handler(handler), data(data)
{
    g_signal_handlers_block_matched(instance, static_cast<GSignalMatchType>(G_SIGNAL_MATCH_FUNC | G_SIGNAL_MATCH_DATA),
                                    0, 0, nullptr, reinterpret_cast<gpointer>(handler), data);
}

BlockedHandler::~BlockedHandler()
{
    g_signal_handlers_unblock_matched(instance,
                                      static_cast<GSignalMatchType>(G_SIGNAL_MATCH_FUNC | G_SIGNAL_MATCH_DATA), 0, 0,
                                      nullptr, reinterpret_cast<gpointer>(handler), data);
}
// ---- Change_Content of the choice fields ----------------------------------------------------------------

void gfield_run_change(ControlMatrix_t *cm, int index, int type, const char *text, const ChangeRules &rules)
{
    ccallback_do_edit(cm, index, type, GdkModifierType(0), GDK_KEY_Up);
    const int windows = cutil_count_next_real_cm(cm);
    ControlMatrix_t *out = cm;
    int at = index, closing = 0;
    char *answer = nullptr;
    cinvoke_basic_routine(cm, &out, AC_CHANGE_CONTENT, &at, nullptr, global_data, "IP$", text, 0, 0, &answer,
                          &closing, 0);
    g_free(answer);
    if (closing || cm->closing) Abort("%s", rules.exits);
    if (rules.creates && cutil_count_next_real_cm(cm) > windows) Abort("%s", rules.creates);
    if (at != index) Abort("%s", rules.moves);
}

// ---- Small helpers ----------------------------------------------------------------------------------------

std::string_view trimmed(std::string_view text)
{
    auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

std::string valid_utf8(std::string_view text)
{
    gchar *valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string s(valid);
    g_free(valid);
    return s;
}

std::vector<gunichar> characters(std::string_view text)
{
    std::vector<gunichar> out;
    for (std::size_t i = 0; i < text.size();) {
        const gunichar c = g_utf8_get_char_validated(text.data() + i, static_cast<gssize>(text.size() - i));
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
            out.push_back(static_cast<gunichar>(-1));
            ++i;
            continue;
        }
        out.push_back(c);
        i += static_cast<std::size_t>(g_unichar_to_utf8(c, nullptr));
    }
    return out;
}

void append_char(std::string &text, gunichar c)
{
    char bytes[6];
    text.append(bytes, static_cast<std::size_t>(g_unichar_to_utf8(c, bytes)));
}

