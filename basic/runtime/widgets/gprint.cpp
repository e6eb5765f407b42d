// Showing, hiding, field text, window titles and tooltips. A field part is its prompt (element
// 3), entry (4) or description (5), or (element 0, "all") the container of its prompt; a part
// holds a widget or a field record, which stands for one of its widgets.
#include "gprint.h"

#include <cstring>
#include <string>

#include "cases.h"
#include "cattach.h"
#include "cfield.h"
#include "cmatrix.h"
#include "executor.h"
#include "gmisc.h"
#include "gwidget.h"
#include "handles.h"
#include "kinds.h"
#include "message.h"
#include "run_time.h"
#include "text_escape.h"

namespace {

using intr::arg;

constexpr int ALL = 0;

// A program text as given, without its trailing spaces.
std::string stripped(std::string_view text)
{
    std::string s(text);
    gprint_strip(s.data());
    s.resize(std::strlen(s.c_str()));
    return s;
}

// The element number a part name stands for; -1 for a name not accepted.
int part_of(const std::string &name, bool all_accepted)
{
    if (name == "prompt") return CM_LABEL_PTR;
    if (name == "entry") return CM_ENTRY_PTR;
    if (name == "des") return CM_DES_PTR;
    if (name == "all" && all_accepted) return ALL;
    return -1;
}

// The field an argument names: its index, or the row of that name.
int field_of(ControlMatrix_t *cm, const Stack &entry, const char *type_message)
{
    if (intr::is_number(entry)) return intr::integer(entry);
    if (intr::is_text(entry)) return cset_cm_get_index(cm, CM_NAME, stripped(intr::text(entry)), 1);
    Abort("%s", type_message);
}

// A part's element, a live widget or record; a part that holds nothing (or a widget gone since)
// ends the run.
void *element_of(ControlMatrix_t *cm, int element, int index, const std::string &part)
{
    void *e = cset_cm_get_ptr(cm, element, index);
    if (!e || handle_kind(e) < 0) Abort("No widget found for field '%s', index %d", part.c_str(), index);
    return e;
}

// The field part the first three arguments (CM, part name, field) of the show, hide and print
// intrinsics name, checked in that order.
struct FieldPart {
    ControlMatrix_t *cm;
    std::string part;
    int element;
    int index;
};
FieldPart field_part(int nargs, int last, const char *no_cm, bool all_accepted)
{
    FieldPart f;
    f.cm = cm_argument(nargs, last, 0, no_cm);
    f.part = stripped(intr::text(arg(nargs, last, 1)));
    f.element = part_of(f.part, all_accepted);
    if (f.element < 0) {
        if (all_accepted) Abort("Invalid widget type; Expecting 'all', 'prompt', 'entry' or 'des'");
        Abort("Invalid widget type; Expecting 'prompt', 'entry' or 'des'");
    }
    f.index = field_of(f.cm, arg(nargs, last, 2), "Invalid data type to third parameter");
    return f;
}

// What IGWSHOW and IGWHIDE act on: the part's widget, or a record's container.
GtkWidget *shown_part(int nargs, int last)
{
    if (nargs != 3) Abort("Invalid number of parameters");
    const FieldPart f = field_part(nargs, last, "No Process Control Matrix found", true);
    if (f.element == ALL && !cset_cm_get_ptr(f.cm, CM_LABEL_PTR, f.index)) Abort("Must have Prompt Label");
    void *e = f.element == ALL ? cset_cm_get_ptr(f.cm, ALL, f.index) : element_of(f.cm, f.element, f.index, f.part);
    if (!e) Abort("No widget found for field '%s', index %d", f.part.c_str(), f.index);
    return handle_kind(e) > 0 ? cmat_widget_get_parent(e) : static_cast<GtkWidget *>(e);
}

// The widget a record stands for when text is written into it: labels and texts only.
GtkWidget *text_widget(void *record, bool labels_only)
{
    const int kind = handle_kind(record);
    if (kind != CM_FIELD_TYPE_GLABEL && (labels_only || kind != CM_FIELD_TYPE_GTEXT))
        Abort("Unexpected widget type encountered %d", kind);
    const FieldKindHooks &row = field_kind(kind);
    if (!row.text) kind_not_available(kind);
    return row.text(record);
}

// The display text of a number for a field whose format begins with n or m.
std::string numeric_text(ControlMatrix_t *cm, int element, int index, int type, const dec_t *value)
{
    if (element != CM_ENTRY_PTR || (type != WIDGET_INPUT && type != WIDGET_LABEL && type != WIDGET_TEXT))
        Abort("Only permitted to provide a numeric parameter to igprint for a field of type Input or Label, and "
              "format n or m; Index = %d; Tab Sequence = %d",
              index, type);
    void *setup = type == WIDGET_INPUT   ? ginput_get_mintype(cm, index)
                  : type == WIDGET_LABEL ? glabel_get_type(cm, index)
                                         : gtext_get_mintype(cm, index);
    const int kind = handle_kind(setup);
    const FieldKindHooks &row = field_kind(kind);
    if (!row.format) kind_not_available(kind);
    const char *format = row.format(setup);
    if (!format || (format[0] != 'n' && format[0] != 'm'))
        Abort("Only permitted to provide a numeric parameter to igprint for a field of type Input or Label, and "
              "format n or m; Index = %d; Tab Sequence = %d, Format = %s",
              index, type, format ? format : "");
    const std::string number = Convert_BCD(value);
    const int length = static_cast<int>(number.size());
    int width = type != WIDGET_LABEL && row.max_length ? row.max_length(setup) : 0;
    if (width == 0) width = length + length / 3 + 3;
    const FieldKindHooks &input = field_kind(CM_FIELD_TYPE_GINPUT);
    if (!input.format_numeric) kind_not_available(CM_FIELD_TYPE_GINPUT);
    return input.format_numeric(number.c_str(), format, width);
}

} // namespace

void gprint_strip(char *text)
{
    std::size_t n = std::strlen(text);
    while (n > 0 && text[n - 1] == ' ') --n;
    text[n] = '\0';
}

// ---- Showing and hiding -----------------------------------------------------------------------------

void igwshow(int nargs, int last)
{
    FORMS_TRACE;
    oska_widget_show(shown_part(nargs, last));
}

void igwhide(int nargs, int last)
{
    FORMS_TRACE;
    GtkWidget *w = shown_part(nargs, last);
    if (GTK_IS_WIDGET(w) && gtk_widget_get_visible(w)) gtk_widget_set_visible(w, FALSE);
}

void igwsimpleshow(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("Invalid number of parameters");
    const long value = intr::long_integer(arg(nargs, last, 0));
    const WidgetHandle h = gwidget_handle(value);
    if (h.record) oska_widget_show(cmat_widget_get_parent(h.record));
    else if (h.widget) oska_widget_show(h.widget);
    else Abort("Invalid widget handle %lX", static_cast<unsigned long>(value));
}

void igshow(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("Invalid number of parameters to igshow");
    oska_widget_show(gwidget_arg_of(arg(nargs, last, 0), GTK_TYPE_WIDGET));
}

void ighide(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("Invalid number of parameters to ighide");
    gtk_widget_set_visible(gwidget_arg_of(arg(nargs, last, 0), GTK_TYPE_WIDGET), FALSE);
}

// ---- Field text -------------------------------------------------------------------------------------------

void igprint(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 4) Abort("Invalid number of parameters to gprint");
    const auto [cm, part, element, index] = field_part(nargs, last, "Process Control Matrix not found", false);
    void *e = element_of(cm, element, index, part);
    void *record = handle_kind(e) > 0 ? e : nullptr;
    GtkWidget *widget = record ? text_widget(record, false) : static_cast<GtkWidget *>(e);
    const int type = cset_cm_get_int(cm, CM_TYPE, index);

    const Stack &value = arg(nargs, last, 3);
    std::string text;
    if (intr::is_number(value))
        text = numeric_text(cm, element, index, type, intr::number(value));
    else if (intr::is_text(value))
        text = stripped(intr::text(value));
    else
        Abort("Invalid data type to fourth parameter");
    if (global_data->log_level_lumbas > 1) {
        const char *name = cset_cm_get_chr(cm, CM_NAME, index);
        mlog(2, "gprint: Type: '%s' Name: '%s' Text: '%s'", part.c_str(), name ? name : "", text.c_str());
    }
    const bool date_entry = element == CM_ENTRY_PTR && type == WIDGET_DATE;
    void *date = date_entry ? gdate_get_yr(cm, index) : nullptr;
    if (date_entry) {
        const FieldKindHooks &d = field_kind(CM_FIELD_TYPE_GDATE);
        if (!d.display_text) kind_not_available(CM_FIELD_TYPE_GDATE);
        text = d.display_text(date, text.c_str());
    }

    if (GTK_IS_ENTRY(widget) || GTK_IS_TEXT(widget)) {
        const int kind = date_entry ? CM_FIELD_TYPE_GDATE : CM_FIELD_TYPE_GINPUT;
        const FieldKindHooks &row = field_kind(kind);
        if (!row.write_text) kind_not_available(kind);
        row.write_text(date, widget, text.c_str());
    } else if (GTK_IS_TEXT_VIEW(widget)) {
        const FieldKindHooks &row = field_kind(CM_FIELD_TYPE_GTEXT);
        if (!row.write_text) kind_not_available(CM_FIELD_TYPE_GTEXT);
        row.write_text(record, widget, text.c_str());
    } else if (GTK_IS_BUTTON(widget)) {
        gtk_button_set_label(GTK_BUTTON(widget), valid_utf8(text).c_str());
    } else if (GTK_IS_LABEL(widget)) {
        // Shown literally: the mark-up characters are escaped.
        gtk_label_set_markup(GTK_LABEL(widget), fn_escape_string(oska_shown_text(valid_utf8(text), "label")).c_str());
    }
}

void igprint_not_escaped(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 4) Abort("Invalid number of parameters");
    const auto [cm, part, element, index] = field_part(nargs, last, "No Process Control Matrix found", false);
    const Stack &value = arg(nargs, last, 3);
    if (!intr::is_text(value)) Abort("Invalid data type to fourth parameter");
    void *e = element_of(cm, element, index, part);
    GtkWidget *widget = handle_kind(e) > 0 ? text_widget(e, true) : static_cast<GtkWidget *>(e);
    const int type = cset_cm_get_int(cm, CM_TYPE, index);
    if (element == CM_ENTRY_PTR && (type == WIDGET_DATE || type == WIDGET_INPUT))
        Abort("igprint_not_escaped not implemented for Widget Types Date and Input");
    const std::string text = valid_utf8(stripped(intr::text(value)));
    if (GTK_IS_ENTRY(widget))
        gtk_entry_buffer_set_text(gtk_entry_get_buffer(GTK_ENTRY(widget)), text.c_str(), -1);
    else if (GTK_IS_TEXT(widget))
        gtk_entry_buffer_set_text(gtk_text_get_buffer(GTK_TEXT(widget)), text.c_str(), -1);
    else if (GTK_IS_BUTTON(widget))
        gtk_button_set_label(GTK_BUTTON(widget), text.c_str());
    else if (GTK_IS_LABEL(widget))
        oska_label_set_markup(widget, text.c_str());
}

void igprint_title(int nargs, int last)
{
    FORMS_TRACE;
    if (Back_ground) return;  // no window has a title
    if (nargs != 2) Abort("Invalid number of parameters");
    GtkWidget *window = gwidget_arg_of(arg(nargs, last, 0), GTK_TYPE_WINDOW);
    std::string title = valid_utf8(std::string(intr::text(arg(nargs, last, 1))));
    constexpr std::size_t most = 2047;
    if (title.size() > most) {
        const char *end = g_utf8_find_prev_char(title.c_str(), title.c_str() + most + 1);
        title.resize(end ? static_cast<std::size_t>(end - title.c_str()) : 0);
    }
    gtk_window_set_title(GTK_WINDOW(window), title.c_str());
}

// ---- Tooltips ---------------------------------------------------------------------------------------------

void igtooltip_set(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 5) Abort("Wrong number of parameters %d", nargs);
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "No Process Control Matrix found");
    const int index = field_of(cm, arg(nargs, last, 1), "Invalid data type to second parameter");
    const std::string part = stripped(intr::text(arg(nargs, last, 2)));
    const int element = part_of(part, true);
    if (element < 0) Abort("Invalid widget type; Expecting 'prompt', 'entry', 'des', or 'all'");
    const int item = intr::integer(arg(nargs, last, 3));
    if (item != 0) Abort("Item %d must be zero. Other values not yet coded", item);
    const std::string text = oska_shown_text(valid_utf8(stripped(intr::text(arg(nargs, last, 4)))), "tooltip");
    void *e = element == ALL ? cset_cm_get_ptr(cm, ALL, index) : element_of(cm, element, index, part);
    if (!e) Abort("No widget found for field '%s', index %d", part.c_str(), index);
    GtkWidget *widget = static_cast<GtkWidget *>(e);
    if (const int kind = handle_kind(e); kind > 0) {
        const FieldKindHooks &row = field_kind(kind);
        if (!row.tooltip) kind_not_available(kind);
        widget = row.tooltip(e);
    }
    gtk_widget_set_tooltip_text(widget, text.empty() ? nullptr : text.c_str());
}
