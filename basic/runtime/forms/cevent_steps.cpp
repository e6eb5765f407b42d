// Steps the key, Enter and closing handlers share (see cevent_steps.h).
#include "cevent_steps.h"

#include <cstring>

#include "cfield.h"
#include "cinvoke.h"
#include "handles.h"
#include "cmatrix.h"
#include "hooks.h"
#include "message.h"
#include "run_time.h"

namespace events {

RoutineName::RoutineName(const char *name) : saved(Rname) { Rname = name; }
RoutineName::~RoutineName() { Rname = saved; }

ControlMatrix_t *cm_of(GlobalData_t *gd, GtkWidget *widget, bool must_exist)
{
    GtkWidget *window = widget ? gtk_widget_get_ancestor(widget, GTK_TYPE_WINDOW) : nullptr;
    ControlMatrix_t *cm = window ? cget_cm_for_window(gd, window, 0) : nullptr;
    if (!cm && must_exist) Abort("No Control Matrix found for the window of the key");
    return cm;
}

int field_of(ControlMatrix_t *cm, GtkWidget *widget)
{
    if (!widget) return 0;
    const int index = cget_index_for_ptr(cm, CM_ENTRY_PTR, widget, 0);
    return index >= 1 ? index : 0;
}

Ran run(ControlMatrix_t *cm, int code, int *index, bool close, bool must_exist, const char *variable)
{
    Ran ran;
    ControlMatrix_t *out = cm;
    char *text = nullptr;
    ran.answer = cinvoke_basic_routine(cm, &out, code, index, nullptr, global_data, variable, "", 0, must_exist ? 1 : 0,
                                       &text, &ran.closing, close ? 1 : 0);
    g_free(text);
    return ran;
}

Ran run_pre_no_close(ControlMatrix_t *cm, int *index, const char *message)
{
    const Ran ran = run(cm, AC_PRE_FOCUS, index, false);
    if (ran.closing) Abort("%s", message);
    return ran;
}

void set_event_name(ControlMatrix_t *cm, const char *name) { g_strlcpy(cm->event_name, name, CM_EVENT_NAME); }

void banner(GlobalData_t *gd, const char *line)
{
    if (gd->log_level_lumbas < 0) return;
    static const char row[] = "====================================================";
    mlog(0, "%s", row);
    mlog(0, "%s", line);
    mlog(0, "%s", row);
}

bool discard_changes()
{
    return window_hooks().question("Do you want to discard your changes?", "_Yes", "_No") == 0;
}

void blank_add_change(ControlMatrix_t *cm)
{
    const int at = cset_cm_get_index(cm, CM_NAME, "AddChange", 0);
    if (at < 1) return;
    void *entry = cm_field(cm, at).entry;
    const int kind = entry ? handle_kind(entry) : -1;
    GtkWidget *label = kind == 0 || kind == CM_FIELD_TYPE_GLABEL ? cget_label_for_widget(entry) : nullptr;
    if (!label || !GTK_IS_LABEL(label))
        Abort("No pointer for the AddChange field field recorded in the Control Matrix");
    if (cm_windows_mode()) gtk_label_set_text(GTK_LABEL(label), " ");
}

int type_of(ControlMatrix_t *cm, int index)
{
    return index >= 1 && index <= cm->field_count ? cm_field(cm, index).type : 0;
}

} // namespace events
