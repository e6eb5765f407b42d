// The rows each field kind and window kind registers with the forms engine, and their names.
#include "kinds.h"

#include <cstring>
#include <utility>

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

void check_kind(int kind)
{
    if (kind < 1 || kind > CM_FIELD_TYPE_GMAX) Abort("Unexpected widget type %d", kind);
}

void check_type(int type)
{
    if (type < 1 || type > WIDGET_MAX) Abort("Unexpected widget type %d", type);
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
