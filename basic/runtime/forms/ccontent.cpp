// ICSET_CONTENT: the range of fields to fill, the order (the AnyChange field last) and the one
// field's fill, with the CM's return focus and event index put back afterwards.
#include "ccontent.h"

#include <algorithm>

#include "cases.h"
#include "cattach.h"
#include "cfield.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "message.h"

namespace {

using intr::arg;

// A field given by index or by name (as ICSET_FIELD_* take it); must exist.
int field_argument(ControlMatrix_t *cm, const Stack &entry, const char *wrong_type)
{
    if (entry.s_t == real) return intr::integer(entry);
    if (entry.s_t == string) return cset_cm_get_index(cm, CM_NAME, intr::text(entry), 1);
    Abort("%s", wrong_type);
}

// Routines run by ICSET_CONTENT see the CM's Set_Content flag, and leave no trace in its return
// focus and event index.
struct ContentRun {
    explicit ContentRun(ControlMatrix_t *cm)
        : cm(cm), set_content(cm->set_content), return_focus(cm->return_focus), event_index(cm->event_index)
    {
        cm->set_content = 1;
    }
    ~ContentRun()
    {
        cm->set_content = set_content;
        cm->return_focus = return_focus;
        cm->event_index = event_index;
    }
    ContentRun(const ContentRun &) = delete;
    ContentRun &operator=(const ContentRun &) = delete;
    ControlMatrix_t *cm;
    int set_content, return_focus, event_index;
};

} // namespace

int cset_content_field(ControlMatrix_t *cm, int index, int last, int to_end)
{
    FORMS_TRACE;
    const bool set_content = cmat_get_fn_ptr(cm, index, AC_SET_CONTENT) != nullptr;
    const char *action = set_content ? "Set_Content" : "Pre_Focus";
    ControlMatrix_t *out = cm;
    int at = index, closing = 0;
    char *text = nullptr;
    cinvoke_basic_routine(cm, &out, set_content ? AC_SET_CONTENT : AC_PRE_FOCUS, &at, nullptr, global_data, "IP$", "",
                          0, set_content ? 1 : 0, &text, &closing, 0);
    g_free(text);
    if (closing) Abort("Not permitted to destroy the window while doing the %s Action Code", action);
    if (at != index)
        Abort("Not permitted to change focus from a function attached with the %s Action Code at index %d", action, at);
    cinvoke_post_display_init(cm, index);
    return to_end ? cm->field_count : last;
}

void cset_content(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs < 1 || nargs > 3) Abort("Invalid number of parameters to icset_content");
    ControlMatrix_t *cm = cutil_get_cm(global_data, &arg(nargs, last, 0));
    if (!cm) Abort("Must set the Process Control Matrix first");
    int first = 1, final = cm->field_count;
    if (nargs == 1) {
        if (cm->focus_initialised) first = cm->current_focus + 1;
        first = std::min(first, cm->field_count);
    } else {
        first = final = field_argument(cm, arg(nargs, last, 1), "Invalid data type to second parameter");
        if (nargs == 3) final = field_argument(cm, arg(nargs, last, 2), "Invalid data type to third parameter");
    }
    if (first > final) Abort("Start Index %d must not be greater than End Index %d", first, final);
    first = std::min(first, cm->field_count);
    final = std::min(final, cm->field_count);
    const int to_end = first != final && final == cm->field_count;
    if (global_data->log_level_lumbas > 2) mlog(3, "Run icset_content for index %d through index %d", first, final);

    const ContentRun run(cm);
    const int anychange = cmat_get_anychange(cm, 0);
    // Rows below 1 are no fields, and a routine may remove rows as well as add them.
    for (int index = std::max(first, 1); index <= final && index <= cm->field_count; ++index)
        if (index != anychange) final = cset_content_field(cm, index, final, to_end);
    if (anychange >= std::max(first, 1) && anychange <= final && anychange <= cm->field_count)
        cset_content_field(cm, anychange, final, to_end);
}
