// The rows each field kind and window kind registers with the forms engine, their names, and the
// sensitivity of a form's widgets from the Enabled flags, which goes through those rows.
#include "kinds.h"

#include <cstring>
#include <utility>

#include "cfield.h"
#include "handles.h"
#include "message.h"

namespace {

RecordKindHooks record_rows[CM_FIELD_TYPE_GMAX + 1];
WidgetTypeHooks widget_rows[WIDGET_MAX + 1];
WindowKindHooks window_rows[CM_WT_NOTE + 1];

void no_softkeys(GtkWidget *) {}
void no_colours(ControlMatrix_t *cm)
{
    if (cm->bgclr_tables) Abort("Table colours not available");
}
void no_print_handles(ControlMatrix_t *cm)
{
    if (cm->print_handles) Abort("Print handles not available");
}
BgClrTable_t *no_colour_table(GtkWidget *) { return nullptr; }
void colours_unavailable(BgClrTable_t *) { Abort("Table colours not available"); }
void colour_rows_unavailable(BgClrTable_t *, int) { Abort("Table colours not available"); }
void colour_rows_unavailable(BgClrTable_t *, int, int) { Abort("Table colours not available"); }
CmResourceHooks resources{
    no_softkeys, no_colours, no_colours, no_print_handles,
    // No grid has colour settings, so the steps for one are never reached.
    no_colour_table, colours_unavailable, colour_rows_unavailable, colour_rows_unavailable,
};

constexpr const char *record_names[] = {
    nullptr, "Input", "Note", "Combo", "Check Box", "Table", "Label", "Image", "Toggle Button", "Radio Button",
    "Date", "Button", "Text",
};
constexpr const char *type_words[] = {
    nullptr, "Input", "Table", "Button", "Combo", "Check Box", "Image", "Date", "Note", "Label", "Toggle",
    "Radio", "Text",
};
// The names of Widget Types in the sensitivity messages.
constexpr const char *type_names[] = {
    nullptr, "Input", "Table", "Button", "Combo", "Check Box", "Image", "Date", "Note", "Label", "Toggle Button",
    "Radio Button", "Text",
};
// The record kind a field of each Widget Type holds as its entry; 0: a plain widget.
constexpr int entry_kind[] = {
    0, 0, 0, 0, CM_FIELD_TYPE_GCOMBO, CM_FIELD_TYPE_GCHECKBOX, CM_FIELD_TYPE_GIMAGE, 0, CM_FIELD_TYPE_GNOTE,
    CM_FIELD_TYPE_GLABEL, CM_FIELD_TYPE_GTOGGLE_BUTTON, CM_FIELD_TYPE_GRADIO_BUTTON, CM_FIELD_TYPE_GTEXT,
};

void check_kind(int kind)
{
    if (kind < 1 || kind > CM_FIELD_TYPE_GMAX) Abort("Unexpected widget type %d", kind);
}

void check_type(int type)
{
    if (type < 1 || type > WIDGET_MAX) Abort("Unexpected widget type %d", type);
}

void set_widget(GtkWidget *widget, int sensitive)
{
    if (widget && handle_kind(widget) == 0) gtk_widget_set_sensitive(widget, sensitive != 0);
}

// The entry of row index has the kind its Widget Type calls for, else the run ends.
void check_entry(int index, int type, int kind)
{
    const int wanted = entry_kind[type];
    if (kind == wanted) return;
    if (type == WIDGET_LABEL && kind == 0)
        Abort("For field Index %d, defined as type 'Label' (9), a widget of standard type, possibly a Simple Label, "
              "was unexpectedly encountered",
              index);
    Abort("For field Index %d, defined as type '%s' (%d), a widget of type %s was unexpectedly encountered", index,
          type_names[type], type, record_kind_name(kind));
}

void apply_sensitivity(ControlMatrix_t *cm, int index)
{
    CmField_t &f = cm_field(cm, index);
    if (!f.entry) return;
    check_type(f.type);
    const int kind = handle_kind(f.entry);
    if (kind < 0) return;  // the widget has gone: nothing left to change
    check_entry(index, f.type, kind);
    const int sensitive = f.enabled && f.tab_seq != TAB_NO_FOCUS;
    if (kind == 0) {
        if (f.type != WIDGET_TABLE) set_widget(static_cast<GtkWidget *>(f.entry), sensitive);
    } else {
        const RecordKindHooks &row = record_kind(kind);
        if (!row.set_sensitive) kind_not_available(kind);
        row.set_sensitive(cm, index, f.entry, sensitive, f.enabled);
    }
    set_widget(f.label, f.enabled);
    if (f.description) {
        if (handle_kind(f.description) > 0)
            set_widget(cget_label_for_widget(f.description), f.enabled);
        else
            set_widget(static_cast<GtkWidget *>(f.description), f.enabled);
    }
}

} // namespace

RecordKindHooks register_record_kind(int kind, const RecordKindHooks &hooks)
{
    check_kind(kind);
    return std::exchange(record_rows[kind], hooks);
}

const RecordKindHooks &record_kind(int kind)
{
    check_kind(kind);
    return record_rows[kind];
}

WidgetTypeHooks register_widget_type(int type, const WidgetTypeHooks &hooks)
{
    check_type(type);
    return std::exchange(widget_rows[type], hooks);
}

const WidgetTypeHooks &widget_type(int type)
{
    check_type(type);
    return widget_rows[type];
}

WindowKindHooks register_window_kind(int type, const WindowKindHooks &hooks)
{
    if (type < CM_WT_MENU || type > CM_WT_NOTE) Abort("Invalid window type %d", type);
    return std::exchange(window_rows[type], hooks);
}

const WindowKindHooks &window_kind(int type)
{
    static const WindowKindHooks none{};
    return type >= CM_WT_MENU && type <= CM_WT_NOTE ? window_rows[type] : none;
}

CmResourceHooks register_cm_resources(const CmResourceHooks &hooks)
{
    return std::exchange(resources, hooks);
}

const CmResourceHooks &cm_resources()
{
    return resources;
}

const char *record_kind_name(int kind)
{
    return kind >= 1 && kind <= CM_FIELD_TYPE_GMAX ? record_names[kind] : "Unexpected widget type";
}

const char *widget_type_word(int type)
{
    return type >= 1 && type <= WIDGET_MAX ? type_words[type] : "Unknown";
}

void kind_not_available(int kind)
{
    Abort("%s fields not available", record_kind_name(kind));
}

void type_not_available(int type)
{
    Abort("%s fields not available", widget_type_word(type));
}

char *cinvoke_get_widget_type(int kind)
{
    return g_strdup(record_kind_name(kind));
}

int *cinvoke_get_enabled(ControlMatrix_t *cm)
{
    int *flags = g_new(int, cm->field_count + 1);
    flags[0] = cm->field_count;
    for (int i = 1; i <= cm->field_count; ++i) flags[i] = cm_field(cm, i).enabled;
    return flags;
}

void cinvoke_set_enabled(ControlMatrix_t *cm, const int *snapshot)
{
    bool same = snapshot && snapshot[0] == cm->field_count;
    for (int i = 1; same && i <= cm->field_count; ++i) same = snapshot[i] == cm_field(cm, i).enabled;
    if (same) return;
    for (int i = 1; i <= cm->field_count; ++i) apply_sensitivity(cm, i);
}
