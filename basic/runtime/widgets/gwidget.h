// The widget handle and the field widgets' common ground: turning a number a program hands over
// into the field record or GTK object it names (through the forms engine's registry of issued
// handles), handing new widgets out as numbers, the table of what each field-record kind does for
// the widget intrinsics, the one descriptor by which a field kind registers all its rows, and the
// construction pattern every field constructor follows.
#pragma once

#include <cstddef>
#include <gtk/gtk.h>
#include <string>
#include <string_view>
#include <vector>

#include "cevent_steps.h"
#include "ckeys.h"
#include "forms.h"
#include "kinds.h"

struct Stack;

// ---- Handles --------------------------------------------------------------------------------------

// What a widget handle names: a live field record (kind 1..12, record set), or a live GTK widget
// (kind 0, widget set), or a live object that is no widget (kind -1, object set, a size group).
struct WidgetHandle {
    int kind;
    void *record;
    GtkWidget *widget;
    GObject *object;
};

// The handle a number names; 0, or a number that names nothing issued (never issued, or gone
// since), ends the run ("Invalid widget handle %lX").
WidgetHandle gwidget_handle(long value);
// The same for a numeric argument.
WidgetHandle gwidget_handle_arg(const Stack &entry);
// The GTK widget a handle argument names, as the containers place it: a record's principal widget
// (the forms engine's row of its kind), else the widget itself; anything else ends the run
// ("Invalid widget handle %lX").
GtkWidget *gwidget_arg(const Stack &entry);
// A widget argument of a GTK type (GTK_TYPE_GRID, GTK_TYPE_WINDOW, ...); any other handle ends the
// run ("Invalid widget handle %lX").
GtkWidget *gwidget_arg_of(const Stack &entry, GType type);
// Hands a widget to the program: registers it and makes it the numeric result (0 for none).
void gwidget_give(Stack *result, GtkWidget *widget);
// The same for a field record (already registered when it was made) or another object.
void gwidget_give_record(Stack *result, void *record);
void gwidget_give_object(Stack *result, GObject *object);

// ---- What each field-record kind does for the widget intrinsics -------------------------------------
//
// One row per record kind (CM_FIELD_TYPE_GINPUT .. CM_FIELD_TYPE_GTEXT), filled by the code of the
// kind. An intrinsic that needs a member the row of the kind lacks (every member, until the kind
// registers its row) stops with "<Kind> fields not available". The first five members concern the
// kinds with widgets of their own (field_kind_has_widgets); the rest the kinds IGPRINT names.
struct FieldKindHooks {
    // The widget IGHBOX_PACK places for the record.
    GtkWidget *(*packed)(const void *record) = nullptr;
    // The widget that carries the field's tooltip (IGTOOLTIP_SET).
    GtkWidget *(*tooltip)(const void *record) = nullptr;
    // The widget IGPRINT writes into when the record stands for a field part (label: its GtkLabel;
    // text: its GtkTextView). Empty: the record cannot be printed into ("Unexpected widget type
    // encountered %d").
    GtkWidget *(*text)(const void *record) = nullptr;
    // IGDELETE_WIDGET: removes the kind's outer widgets from their containers.
    void (*destroy)(void *record) = nullptr;
    // IGWIDGET_SET_NAME: gives the kind's widgets the CSS name.
    void (*set_name)(void *record, const char *name) = nullptr;
    // IGPRINT of a number (input, label and text kinds): the field's display format, and its
    // maximum length (0: none).
    const char *(*format)(const void *record) = nullptr;
    int (*max_length)(const void *record) = nullptr;
    // IGPRINT of a text: writes it into widget, the field's entry (input kind: a GtkText or
    // GtkEntry, record may be nullptr; date kind: its GtkText, record its date record; text kind:
    // its GtkTextView, record the text record).
    void (*write_text)(void *record, GtkWidget *widget, const char *text) = nullptr;
    // Date kind: the display form of a date text with the field's year digits.
    std::string (*display_text)(const void *record, const char *text) = nullptr;
    // Input kind: a number's text formatted by a display format into width characters.
    std::string (*format_numeric)(const char *number, const char *format, int width) = nullptr;
};
// Whether records of a kind stand for widgets of their own that the containers place, IGDELETE_WIDGET
// removes and IGWIDGET_SET_NAME names: note, combo, check box, label, image, toggle, radio and text.
// The others (input, date; table and button have no records) are entered by their GtkText.
bool field_kind_has_widgets(int kind);
// Installs the row of a kind and returns the one it replaces, so a test can put it back.
FieldKindHooks register_field_kind(int kind, const FieldKindHooks &hooks);
// The row of a kind (empty until the kind registers it); a number outside 1..12 ends the run
// ("Unexpected widget type %d").
const FieldKindHooks &field_kind(int kind);

// ---- One descriptor per field kind ------------------------------------------------------------------
//
// Everything a field kind hands the forms engine and the widget intrinsics, filled once in the
// kind's own file and registered in one call (how to add a kind: the top of forms/kinds.h). It
// lives here, above the engine, because the engine knows nothing of the widgets' row.
struct FieldKindDescriptor {
    int kind;  // CM_FIELD_TYPE_*: the records of the kind
    int type;  // WIDGET_*: the Widget Type of the kind's fields
    RecordKindHooks record;     // what the forms engine does with the records
    WidgetTypeHooks behaviour;  // what routine runs and focus moves need of the fields
    FieldKindHooks intrinsics;  // what the widget intrinsics do with the records
};
// Installs the three rows of a kind (register_record_kind, register_widget_type and
// register_field_kind) and returns the rows they replace, so a test can put them back. A kind or
// type outside 1..12 ends the run ("Unexpected widget type %d") before any row changes.
FieldKindDescriptor register_field_kind(const FieldKindDescriptor &descriptor);

// ---- Handlers ------------------------------------------------------------------------------------------

// Blocks a handler's own connection on an instance (matched by function and user data) for its
// lifetime, so that an event arriving meanwhile (from a nested main-loop iteration) is dropped.
struct BlockedHandler {
    BlockedHandler(gpointer instance, GCallback handler, gpointer data);
    ~BlockedHandler();
    BlockedHandler(const BlockedHandler &) = delete;
    BlockedHandler &operator=(const BlockedHandler &) = delete;
    gpointer instance;
    GCallback handler;
    gpointer data;
};

// ---- The construction pattern of field constructors ---------------------------------------------------

// What the first steps of a constructor give it.
struct FieldRecord {
    ControlMatrix_t *cm;
    int index;
    void *record;  // zero-filled, its kind written first, hung on the CM's record for (index, code)
};
// Steps after the constructor's own argument count check: the CM from argument 1 (none:
// no_cm_message), the field index from argument 2; with twice_message (a format that may take the
// index), a second record for (index, code) is refused; then the attached record for (index, code)
// with a new field record of size bytes.
FieldRecord gfield_make_record(int nargs, int last, int kind, int code, std::size_t size, const char *no_cm_message,
                               const char *twice_message);
// The focusable widget's event controllers: a click gesture named click_name (any button,
// exclusive) whose "pressed" goes to the forms engine's click handler, and a key controller named
// key_name, by default in the capture phase (so that it sees typed letters before the widget
// does), whose "key-pressed" goes to key_handler. User data: global_data. Returns the gesture
// (the widget owns it).
GtkGesture *gfield_connect(GtkWidget *focusable, const char *click_name, const char *key_name,
                           GCallback key_handler = G_CALLBACK(on_key_press_event),
                           GtkPropagationPhase key_phase = GTK_PHASE_CAPTURE,
                           GtkPropagationPhase click_phase = GTK_PHASE_BUBBLE);

// ---- Change_Content of the choice fields ------------------------------------------------------------------

// The texts a choice field's Change_Content run ends the run with when its routine broke a rule.
struct ChangeRules {
    const char *exits;    // it asked to leave the window
    const char *creates;  // it opened a window (nullptr: allowed)
    const char *moves;    // it moved the focus
};
// The Edit_Content step of the visit (as for the Up key), then Change_Content on field index of
// Widget Type type with IP$ text (empty: the field's own text); a broken rule ends the run.
void gfield_run_change(ControlMatrix_t *cm, int index, int type, const char *text, const ChangeRules &rules);

// ---- Small helpers of the field widgets ------------------------------------------------------------------

// The text without the white space (isspace) at either end.
std::string_view trimmed(std::string_view text);
// A program text as GTK takes it: invalid UTF-8 sequences replaced.
std::string valid_utf8(std::string_view text);
// The characters of a UTF-8 text in turn; a byte that begins no valid character is one character
// of its own that no class accepts (-1).
std::vector<gunichar> characters(std::string_view text);
// Appends a character to a UTF-8 text.
void append_char(std::string &text, gunichar c);

// Saves Rname, names the handler while it works and puts the name back on every way out (the
// forms engine's own guard).
using events::RoutineName;
