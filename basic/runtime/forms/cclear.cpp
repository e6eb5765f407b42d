// Clearing what a form's fields show (ICCLEAR, and the Revert key through cclear_fields): a
// field's Clear routine when it has one, else the clearing of its kind; then the focus moves on.
#include "cclear.h"

#include "cases.h"
#include "cattach.h"
#include "cfield.h"
#include "cfocus.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "kinds.h"
#include "message.h"
#include "run_time.h"

namespace {

using intr::arg;

struct RoutineName {
    explicit RoutineName(const char *name) : saved(Rname) { Rname = name; }
    RoutineName(const RoutineName &) = delete;
    RoutineName &operator=(const RoutineName &) = delete;
    ~RoutineName() { Rname = saved; }
    const char *saved;
};

// The Clear routine of field index runs in place of the built-in clearing; it may neither close
// the window nor move the focus.
void run_clear_routine(ControlMatrix_t *cm, int index)
{
    ControlMatrix_t *out = cm;
    int at = index, closing = 0;
    const int focus = cm->current_focus;
    char *text = nullptr;
    cinvoke_basic_routine(cm, &out, AC_CLEAR, &at, nullptr, global_data, "", "", 0, 0, &text, &closing, 0);
    g_free(text);
    if (closing) Abort("icdelete_window not allowed in a function attached with the Clear Action Code");
    if (at != index || cm->current_focus != focus)
        Abort("Not permitted to change focus in a function attached with the Clear Action Code");
}

void clear_kind(ControlMatrix_t *cm, int index, CmField_t &f)
{
    if (f.type < 1 || f.type > WIDGET_MAX)
        Abort("Unexpected widget type encountered in cclear_fields; Index = %d; Tab Sequence Type = %d; Widget Type = %d",
              index, f.tab_seq, f.type);
    if (f.type == WIDGET_TABLE || f.type == WIDGET_BUTTON || !cm_windows_mode()) return;
    auto clear = widget_type(f.type).clear;
    if (!clear) type_not_available(f.type);
    clear(cm, index, f.entry);
}

} // namespace

void cclear_fields(ControlMatrix_t *cm, int first)
{
    FORMS_TRACE;
    const RoutineName name("icclear");
    const bool was_focused = cm->focus_initialised != 0;
    if (!was_focused) {
        cset_do_validation(cm);
        cm->focus_initialised = 1;
    }
    if (first < 1) first = 1;
    // A Clear routine may add or remove rows: the count is read again after each one.
    for (int i = first; i <= cm->field_count; ++i) {
        CmField_t &f = cm_field(cm, i);
        // Without a window system no field has widgets, and none is needed.
        if (!f.entry && cm_windows_mode())
            Abort("Index %d %s in the Control Matrix type %s is missing the widget id in the Entry field", i,
                  f.name ? f.name : "", widget_type_word(f.type));
        if (cm_windows_mode())
            if (GtkWidget *label = cget_label_for_widget(f.description)) gtk_label_set_text(GTK_LABEL(label), "");
        if (cmat_get_fn_ptr(cm, i, AC_CLEAR))
            run_clear_routine(cm, i);
        else
            clear_kind(cm, i, f);
    }
    cm->anychange = 0;
    cm->modified = 0;
    if (was_focused) {
        cm->focus_request = 1;
        cmat_set_focus_next(cm, first - 1);
    } else {
        cm->focus_request = 0;
        cm->current_focus = 0;
    }
}

void cclear(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("Invalid number of parameters to icclear");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must set the Process Control Matrix first");
    if (!cm->focus_initialised) Abort("Must call icset_focus before calling icclear");
    cclear_fields(cm, 0);
    if (global_data->log_level_lumbas > 2) mlog(3, "icclear - Clear all fields on the screen");
}
