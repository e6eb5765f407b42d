// The intrinsics of field rows: ICADD, the element getters and setters, the index lookups and
// ICREMOVE. Every widget or field record a program hands over is looked up in the handle
// registry before it is stored.
#include <cctype>
#include <string>

#include "cases.h"
#include "cfield.h"
#include "cmatrix.h"
#include "handles.h"
#include "kinds.h"
#include "message.h"

namespace {

using intr::arg;

// The field an argument names: its index, or the row of that name.
int field_of(ControlMatrix_t *cm, const Stack &entry)
{
    if (entry.s_t == real) return intr::integer(entry);
    if (entry.s_t == string) return cset_cm_get_index(cm, CM_NAME, intr::text(entry), 1);
    Abort("Invalid data type to second parameter");
}

// Which handles an element may hold.
enum class Holds { widget, entry, description };

// The widget or record a program's number names for an element, or nullptr for 0; ok is false
// for any other number.
void *element_handle(long value, Holds holds, bool &ok)
{
    ok = true;
    if (!value) return nullptr;
    const auto v = static_cast<std::uintptr_t>(value);
    if (GtkWidget *w = handle_widget(v)) return w;
    if (void *record = handle_record(v)) {
        const int kind = handle_kind(record);
        if (holds == Holds::entry || (holds == Holds::description && kind == CM_FIELD_TYPE_GLABEL)) return record;
    }
    ok = false;
    return nullptr;
}

std::string trimmed(std::string_view text)
{
    std::size_t n = text.size();
    while (n > 0 && std::isspace(static_cast<unsigned char>(text[n - 1]))) --n;
    return std::string(text.substr(0, n));
}

void get_int(int nargs, int last, Stack *result, int element)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Invalid number of parameters");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must have a valid Process Control Matrix");
    intr::set_number(result, cset_cm_get_int(cm, element, field_of(cm, arg(nargs, last, 1))));
}

void get_ptr(int nargs, int last, Stack *result, int element)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Invalid number of parameters");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must have a valid Process Control Matrix");
    void *p = cset_cm_get_ptr(cm, element, field_of(cm, arg(nargs, last, 1)));
    intr::set_number(result, static_cast<long>(reinterpret_cast<std::uintptr_t>(p)));
}

ControlMatrix_t *setter(int nargs, int last, int *index)
{
    if (nargs != 3) Abort("Invalid number of parameters");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must have a valid Process Control Matrix");
    *index = field_of(cm, arg(nargs, last, 1));
    return cm;
}

void put_int(int nargs, int last, int element, bool refresh)
{
    FORMS_TRACE;
    int index;
    ControlMatrix_t *cm = setter(nargs, last, &index);
    cset_cm_put_int(cm, element, index, intr::integer(arg(nargs, last, 2)));
    if (refresh) cinvoke_set_enabled(cm, nullptr);
}

void put_ptr(int nargs, int last, int element, Holds holds, const char *what)
{
    FORMS_TRACE;
    int index;
    ControlMatrix_t *cm = setter(nargs, last, &index);
    const char *name = cset_cm_get_chr(cm, CM_NAME, index);
    bool ok;
    void *value = element_handle(intr::long_integer(arg(nargs, last, 2)), holds, ok);
    if (!ok)
        Abort("Invalid pointer to the %s field at index %d field %s prompt %d", what, index, name ? name : "",
              cm_field(cm, index).prompt);
    cset_cm_put_ptr(cm, element, index, value);
}

} // namespace

void cadd(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 11) Abort("Invalid number of parameters to icadd");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must set the Process Control Matrix before inserting entries");
    const int index = intr::integer(arg(nargs, last, 1));
    const std::string name = trimmed(intr::text(arg(nargs, last, 2)));
    const char *n = name.c_str();
    const int prompt = intr::integer(arg(nargs, last, 3));
    const long label_value = intr::long_integer(arg(nargs, last, 4));
    const long entry_value = intr::long_integer(arg(nargs, last, 5));
    const long description_value = intr::long_integer(arg(nargs, last, 6));
    const int tab_seq = intr::integer(arg(nargs, last, 7));
    const int enabled = intr::integer(arg(nargs, last, 8));
    const int type = intr::integer(arg(nargs, last, 9));
    const int valid = intr::integer(arg(nargs, last, 10));

    // Every check comes before anything changes.
    if (prompt < 0 || prompt > 10000) Abort("Invalid prompt number %d at index %d field %s", prompt, index, n);
    if (index < -1 || index > 10000) Abort("Invalid index %d at field %s prompt %d", index, n, prompt);
    bool ok;
    auto *label = static_cast<GtkWidget *>(element_handle(label_value, Holds::widget, ok));
    if (!ok) Abort("Invalid pointer to the label field at index %d field %s prompt %d", index, n, prompt);
    void *entry = element_handle(entry_value, Holds::entry, ok);
    if (!ok) Abort("Invalid pointer to the entry field at index %d field %s prompt %d", index, n, prompt);
    void *description = element_handle(description_value, Holds::widget, ok);
    if (!ok) Abort("Invalid pointer to the description field at index %d field %s prompt %d", index, n, prompt);
    if (tab_seq < 1 || tab_seq > TAB_MAX)
        Abort("Invalid Tab Sequence Type %d at index %d field %s prompt %d", tab_seq, index, n, prompt);
    if (enabled < 0 || enabled > 1)
        Abort("Invalid Enabled flag %d at index %d field %s prompt %d", enabled, index, n, prompt);
    if (type < 1 || type > WIDGET_MAX) Abort("Invalid Widget Type %d at index %d field %s prompt %d", type, index, n, prompt);
    if (valid < 0 || valid > 1)
        Abort("Invalid Validation flag %d at index %d field %s prompt %d", valid, index, n, prompt);

    if (global_data->log_level_lumbas > 1)
        mlog(2,
             "Do icadd; Index = %d; Field Name = '%s'; Prompt Number = %d; Tab Seq Type = %d; Enabled Flag = %d; "
             "Widget Type = %d; Validation Flag = %d; Widget: %p",
             index, n, prompt, tab_seq, enabled, type, valid, entry);
    intr::set_number(result, cadd_field(cm, index, name, prompt, label, entry, description, tab_seq, enabled, type, valid));
}

void cget_field_prompt_no(int nargs, int last, Stack *result) { get_int(nargs, last, result, CM_PROMPT); }
void cget_field_tab_seq(int nargs, int last, Stack *result) { get_int(nargs, last, result, CM_TAB_SEQ); }
void cget_field_enabled(int nargs, int last, Stack *result) { get_int(nargs, last, result, CM_ENABLED); }
void cget_field_type(int nargs, int last, Stack *result) { get_int(nargs, last, result, CM_TYPE); }
void cget_field_valid(int nargs, int last, Stack *result) { get_int(nargs, last, result, CM_VALID); }
void cget_field_prompt_ptr(int nargs, int last, Stack *result) { get_ptr(nargs, last, result, CM_LABEL_PTR); }
void cget_field_entry_ptr(int nargs, int last, Stack *result) { get_ptr(nargs, last, result, CM_ENTRY_PTR); }
void cget_field_des_ptr(int nargs, int last, Stack *result) { get_ptr(nargs, last, result, CM_DES_PTR); }

void cget_field_name(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Invalid number of parameters");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must have a valid Process Control Matrix");
    const char *name = cset_cm_get_chr(cm, CM_NAME, field_of(cm, arg(nargs, last, 1)));
    intr::set_text(result, name ? name : "");
}

void cset_field_prompt_no(int nargs, int last) { put_int(nargs, last, CM_PROMPT, false); }
void cset_field_type(int nargs, int last) { put_int(nargs, last, CM_TYPE, false); }
void cset_field_valid(int nargs, int last) { put_int(nargs, last, CM_VALID, false); }
void cset_field_enabled(int nargs, int last) { put_int(nargs, last, CM_ENABLED, true); }
void cset_field_tab_seq(int nargs, int last) { put_int(nargs, last, CM_TAB_SEQ, true); }
void cset_field_prompt_ptr(int nargs, int last) { put_ptr(nargs, last, CM_LABEL_PTR, Holds::widget, "label"); }
void cset_field_entry_ptr(int nargs, int last) { put_ptr(nargs, last, CM_ENTRY_PTR, Holds::entry, "entry"); }
void cset_field_des_ptr(int nargs, int last) { put_ptr(nargs, last, CM_DES_PTR, Holds::description, "description"); }

void cset_field_name(int nargs, int last)
{
    FORMS_TRACE;
    int index;
    ControlMatrix_t *cm = setter(nargs, last, &index);
    if (index < 1 || index > cm->field_count) Abort("Invalid Control Matrix index (b0): %d", index);
    const std::string_view text = intr::text(arg(nargs, last, 2));
    CmField_t &f = cm_field(cm, index);
    g_free(f.name);
    f.name = g_strndup(text.data(), text.size());
}

void cget_last_index(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("Invalid number of parameters");
    intr::set_number(result, cm_argument(nargs, last, 0, "Must have a valid Process Control Matrix")->field_count);
}

void cget_index(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Invalid number of parameters to icget_index");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must set the Process Control Matrix before getting the index");
    const std::string_view name = intr::text(arg(nargs, last, 1));
    const int index = cset_cm_get_index(cm, CM_NAME, name, 0);
    if (index < 0) Abort("Field '%s' not found in current window", std::string(name).c_str());
    intr::set_number(result, index);
}

void ccheck_index(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Invalid number of parameters");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must set the Process Control Matrix first");
    intr::set_number(result, cset_cm_get_index(cm, CM_NAME, intr::text(arg(nargs, last, 1)), 0) > 0 ? 1 : 0);
}

void cremove(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs < 2 || nargs > 3) Abort("Invalid number of parameters to icremove");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must set the Process Control Matrix before removing entries");
    const int first = intr::integer(arg(nargs, last, 1));
    const int final = nargs == 3 ? intr::integer(arg(nargs, last, 2)) : cm->field_count;
    cremove_ind(cm, first, final);
}
