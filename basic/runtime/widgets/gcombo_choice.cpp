// The choice intrinsics shared by combo, toggle and radio fields: IGCOMBO_TEXT_ADD, IGCOMBO_SET,
// IGCOMBO_GET$ and IGCOMBO_VALIDATE_SET read their arguments here and hand the field record to
// its kind by the code at its head (3 combo, 8 toggle, 9 radio).
#include <string>

#include "cases.h"
#include "cfield.h"
#include "cmatrix.h"
#include "gcombo.h"
#include "gradio.h"
#include "gwidget.h"
#include "handles.h"
#include "message.h"

namespace {

using intr::arg;

// A program text without its trailing blanks.
std::string stripped(std::string_view text)
{
    std::string s(text);
    s.resize(s.find_last_not_of(' ') + 1);
    return s;
}

// What IGCOMBO_SET, IGCOMBO_GET$ and IGCOMBO_VALIDATE_SET name: the field record, the field's
// index, and the item as a text (n -1) or as a number (text empty).
struct Choice {
    void *record;
    int kind;
    int index;
    std::string text;
    int n;
};

Choice choice_args(int nargs, int last, bool number_only)
{
    if (nargs != 3) Abort("Unexpected number of parameters %d", nargs);
    ControlMatrix_t *cm = cutil_get_cm(global_data, &arg(nargs, last, 0));
    if (!cm) Abort("No Process Control Matrix found");
    const Stack &field = arg(nargs, last, 1);
    Choice c{};
    if (intr::is_number(field))
        c.index = intr::integer(field);
    else if (intr::is_text(field))
        c.index = cset_cm_get_index(cm, CM_NAME, stripped(intr::text(field)), 1);
    else
        Abort("Invalid data type to second parameter");
    const Stack &item = arg(nargs, last, 2);
    if (intr::is_text(item) && !number_only) {
        c.text = std::string(intr::text(item));
        c.n = -1;
    } else if (intr::is_number(item)) {
        c.n = intr::integer(item);
    } else {
        Abort("Invalid data type in third parameter");
    }
    if (c.text.empty() && c.n < 0) Abort("Invalid content at index %d for field %d", c.n, c.index);
    if (!c.text.empty() && c.n != -1)
        Abort("Invalid content at index %d for field %d when item '%s' provided", c.n, c.index, c.text.c_str());
    c.record = cset_cm_get_ptr(cm, CM_ENTRY_PTR, c.index);
    c.kind = c.record ? handle_kind(c.record) : -1;
    if (c.kind != CM_FIELD_TYPE_GCOMBO && c.kind != CM_FIELD_TYPE_GTOGGLE_BUTTON && c.kind != CM_FIELD_TYPE_GRADIO_BUTTON)
        Abort("Invalid widget type");
    return c;
}

// IGCOMBO_VALIDATE_SET on a combo: the item exists.
int combo_valid(const combo_data *combo, const std::string &text, int n)
{
    if (!combo->values) return 0;
    int count = 0;
    for (const ComboItem *item = combo->values; item; item = item->next) {
        ++count;
        if (!text.empty() && stripped(item->text) == stripped(text)) return 1;
    }
    return text.empty() && count >= (n < 1 ? 1 : n) ? 1 : 0;
}

char *combo_text(const combo_data *combo, int n)
{
    if (!combo->values) Abort("Must call igcombo_text_add before calling igcombo_get");
    const ComboItem *item = combo->values;
    for (int i = 1; item && i < n; ++i) item = item->next;
    if (!item) Abort("Invalid index %d in Combo", n);
    return g_strdup(item->text);
}

} // namespace

void igcombo_text_add(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Invalid number of parameters");
    const WidgetHandle h = gwidget_handle_arg(arg(nargs, last, 0));
    const std::string text = stripped(intr::text(arg(nargs, last, 1)));
    switch (h.kind) {
    case CM_FIELD_TYPE_GCOMBO: gcombo_text_add(static_cast<combo_data *>(h.record), text.c_str()); break;
    case CM_FIELD_TYPE_GTOGGLE_BUTTON: gtoggle_button_do_text_add(static_cast<toggle_data *>(h.record), text.c_str()); break;
    case CM_FIELD_TYPE_GRADIO_BUTTON: gradio_button_do_text_add(static_cast<radio_data *>(h.record), text.c_str()); break;
    default: Abort("Invalid Widget Type");
    }
}

void igcombo_set(int nargs, int last)
{
    FORMS_TRACE;
    const Choice c = choice_args(nargs, last, false);
    switch (c.kind) {
    case CM_FIELD_TYPE_GCOMBO: gcombo_set(static_cast<combo_data *>(c.record), c.text.c_str(), c.n); break;
    case CM_FIELD_TYPE_GTOGGLE_BUTTON: gtoggle_button_do_set(static_cast<toggle_data *>(c.record), c.text.c_str(), c.n); break;
    default: gradio_button_do_set(static_cast<radio_data *>(c.record), c.text.c_str(), c.n); break;
    }
}

void igcombo_validate_set(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    const Choice c = choice_args(nargs, last, false);
    int valid = 0;
    switch (c.kind) {
    case CM_FIELD_TYPE_GCOMBO: valid = combo_valid(static_cast<combo_data *>(c.record), c.text, c.n); break;
    case CM_FIELD_TYPE_GTOGGLE_BUTTON:
        valid = gtoggle_button_do_val_set(static_cast<toggle_data *>(c.record), c.text.c_str(), c.n);
        break;
    default: valid = gradio_button_do_val_set(static_cast<radio_data *>(c.record), c.text.c_str(), c.n); break;
    }
    intr::set_number(result, valid);
}

void igcombo_get(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    const Choice c = choice_args(nargs, last, true);
    char *text = nullptr;
    switch (c.kind) {
    case CM_FIELD_TYPE_GCOMBO: text = combo_text(static_cast<combo_data *>(c.record), c.n); break;
    case CM_FIELD_TYPE_GTOGGLE_BUTTON: text = gtoggle_button_do_text_get(static_cast<toggle_data *>(c.record), c.n); break;
    default: text = gradio_button_do_text_get(static_cast<radio_data *>(c.record), c.n); break;
    }
    intr::set_text(result, text);
    g_free(text);
}
