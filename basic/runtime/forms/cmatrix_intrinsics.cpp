// The intrinsics of control matrices: ICATTACH_WINDOW, the state getters and setters,
// ICSHOW_ALL, ICHIDE_ALL and IDISPLAY_CM. Each checks its argument count, then the handle.
#include <string>

#include "cases.h"
#include "cmatrix.h"
#include "handles.h"
#include "message.h"
#include "run_time.h"

namespace {

using intr::arg;

void put_state(int nargs, int last, int element)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Invalid number of parameters");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must have a valid Process Control Matrix");
    cset_st_put_int(cm, element, intr::integer(arg(nargs, last, 1)));
}

void get_state(int nargs, int last, Stack *result, int element)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("Invalid number of parameters");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must have a valid Process Control Matrix");
    intr::set_number(result, cset_st_get_int(cm, element));
}

// The window of a CM when there is a window system and the CM has a real one.
GtkWindow *shown_window(ControlMatrix_t *cm)
{
    if (Back_ground || !gtk_is_initialized()) return nullptr;
    GtkWidget *w = cget_window_for_cm(global_data, cm);
    return w && w != CM_WINDOWLESS && GTK_IS_WINDOW(w) ? GTK_WINDOW(w) : nullptr;
}

} // namespace

ControlMatrix_t *cm_argument(int nargs, int last, int position, const char *zero_message)
{
    ControlMatrix_t *cm = cutil_get_cm(global_data, &arg(nargs, last, position));
    if (!cm) Abort("%s", zero_message);
    return cm;
}

void cattach_window(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs < 2 || nargs > 3) Abort("Invalid number of parameters to icmat_attach_window");
    Stack &variable = arg(nargs, last, 0);
    const long value = intr::long_integer(arg(nargs, last, 1));
    GtkWidget *window = nullptr;
    if (value) {
        window = handle_widget(static_cast<std::uintptr_t>(value));
        if (!window || !GTK_IS_WINDOW(window)) Abort("Invalid window id %lX", static_cast<unsigned long>(value));
    }
    if (window && cmat_window_exists_in_cm(global_data, window))
        Abort("Attempting to attach a window %lX when the window is already attached to a Control Matrix",
              static_cast<unsigned long>(value));
    if (variable.s_t != real || !(variable.flags & stk_ref) || !variable.s_c.C_N)
        Abort("The Control Matrix must be defined as a numeric");
    ControlMatrix_t *cm = cattach_window1(&variable, window, 0);
    NumericCvLONG(reinterpret_cast<long>(cm), variable.s_c.C_N);
}

void cset_anychange(int nargs, int last) { put_state(nargs, last, CM_ANYCHANGE); }
void cset_modified(int nargs, int last) { put_state(nargs, last, CM_MODIFIED); }
void cset_program_mode(int nargs, int last) { put_state(nargs, last, CM_PROG_MODE); }
void cget_anychange(int nargs, int last, Stack *result) { get_state(nargs, last, result, CM_ANYCHANGE); }
void cget_modified(int nargs, int last, Stack *result) { get_state(nargs, last, result, CM_MODIFIED); }
void cget_program_mode(int nargs, int last, Stack *result) { get_state(nargs, last, result, CM_PROG_MODE); }
void cget_current_focus(int nargs, int last, Stack *result) { get_state(nargs, last, result, CM_CUR_FOCUS); }
void cget_return_focus(int nargs, int last, Stack *result) { get_state(nargs, last, result, CM_RET_FOCUS); }

void cshow_all(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("Invalid number of parameters to icshow_all");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must set the Process Control Matrix first");
    if (GtkWindow *w = shown_window(cm)) gtk_window_present(w);
}

void chide_all(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("Invalid number of parameters to ichide_all");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must set the Process Control Matrix first");
    if (GtkWindow *w = shown_window(cm)) gtk_widget_set_visible(GTK_WIDGET(w), FALSE);
}

void display_cm(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Invalid number of parameters to idisplay_cm");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must set the Process Control Matrix first");
    cdisplay_cm(cm, std::string(intr::text(arg(nargs, last, 1))).c_str());
}
