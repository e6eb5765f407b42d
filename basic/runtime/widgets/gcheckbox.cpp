// The check box field: IGCHECKBOX_NEW, IGCHECKBOX_SET and IGCHECKBOX_GET, the toggled handler that
// runs Change_Content with the new state (blocking itself, so that a routine that sets the box
// does not run again), clearing and flipping for the forms engine, and the kind's rows.
#include "gcheckbox.h"

#include <string>

#include "cases.h"
#include "cattach.h"
#include "ccallback.h"
#include "cfield.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "cnext.h"
#include "gmisc.h"
#include "handles.h"
#include "gwidget.h"
#include "kinds.h"
#include "message.h"

namespace {

using intr::arg;

checkbox_data *checkbox_of(const void *record) { return static_cast<checkbox_data *>(const_cast<void *>(record)); }

// A field's check box record: the entry must hold a record, and that of a check box.
checkbox_data *checked_record(void *entry, int line)
{
    const int kind = entry ? handle_kind(entry) : -1;
    if (kind <= 0) Abort("Pointer to Check box not found in Entry field of Control Matrix");
    if (kind != CM_FIELD_TYPE_GCHECKBOX)
        assertion_failed(__FILE__, line, "checkbox_data->type == CM_FIELD_TYPE_GCHECKBOX");
    return checkbox_of(entry);
}

void on_toggled(GtkCheckButton *button, gpointer gd);

// Blocks (or unblocks) the toggled handler on the button.
void block_toggled(GtkWidget *button, bool blocked)
{
    const auto mask = G_SIGNAL_MATCH_FUNC;
    const auto func = reinterpret_cast<gpointer>(on_toggled);
    if (blocked)
        g_signal_handlers_block_matched(button, mask, 0, 0, nullptr, func, nullptr);
    else
        g_signal_handlers_unblock_matched(button, mask, 0, 0, nullptr, func, nullptr);
}

void set_state(checkbox_data *r, bool active, bool run_change)
{
    if (!run_change) block_toggled(r->check, true);
    gtk_check_button_set_active(GTK_CHECK_BUTTON(r->check), active);
    if (!run_change) block_toggled(r->check, false);
}

// The toggled handler's work: the edit step, then Change_Content with IP the new state.
void toggled(GtkCheckButton *button, GlobalData_t *gd)
{
    const RoutineName name("gcheckbox_toggled");
    auto *widget = GTK_WIDGET(button);
    ControlMatrix_t *cm = cget_cm_for_window(gd, gtk_widget_get_ancestor(widget, GTK_TYPE_WINDOW), 1);
    const int index = cget_index_for_ptr(cm, CM_ENTRY_PTR, widget, 1);
    ccallback_do_edit(cm, index, cset_cm_get_int(cm, CM_TYPE, index), GdkModifierType(0), GDK_KEY_space);
    const int mode = cm->program_mode;
    ControlMatrix_t *out = cm;
    int moved = index, closing = 0;
    char *text = nullptr;
    const int answer = cinvoke_basic_routine(cm, &out, AC_CHANGE_CONTENT, &moved, nullptr, gd, "IP", "",
                                             gtk_check_button_get_active(button) ? 1 : 0, 0, &text, &closing, 0);
    g_free(text);
    if (closing || cm->closing) Abort("Not permitted to exit window from a function attached with the Change_Content Action Code");
    if (moved == index) return;
    if (cutil_count_next_real_cm(cm) > 0)
        Abort("Not permitted to create a window from a function attached with the Change_Content Action Code and also "
              "change focus");
    ccallback_set_focus_next_field(cm, index, answer, mode, 0, GDK_KEY_Return, 0);
    if (cutil_count_next_real_cm(cm) > 1)
        Abort("Unexpected grandchild window in gcheckbox_toggled; Please inform Oska of your keystrokes that produce "
              "this scenario");
}

void on_toggled(GtkCheckButton *button, gpointer gd)
{
    block_toggled(GTK_WIDGET(button), true);
    forms_callback([&] { toggled(button, static_cast<GlobalData_t *>(gd)); });
    block_toggled(GTK_WIDGET(button), false);
}

// The field an intrinsic's first two arguments name: its check box record.
checkbox_data *field_record(int nargs, int last)
{
    ControlMatrix_t *cm = cutil_get_cm(global_data, &arg(nargs, last, 0));
    if (!cm) Abort("No Process Control Matrix found");
    const Stack &field = arg(nargs, last, 1);
    int index = 0;
    if (intr::is_number(field)) {
        index = intr::integer(field);
    } else if (intr::is_text(field)) {
        std::string name(intr::text(field));
        name.resize(name.find_last_not_of(' ') + 1);
        index = cset_cm_get_index(cm, CM_NAME, name, 1);
    } else {
        Abort("Invalid data type to second parameter");
    }
    return checked_record(cset_cm_get_ptr(cm, CM_ENTRY_PTR, index), __LINE__);
}

// ---- The rows of the check box kind -----------------------------------------------------------------------

int owns_checkbox(const void *record, const GtkWidget *widget)
{
    return widget && (widget == checkbox_of(record)->check || widget == checkbox_of(record)->outer);
}
GtkWidget *check_of(const void *record) { return checkbox_of(record)->check; }
GtkWidget *packed_checkbox(const void *record)
{
    const checkbox_data *r = checkbox_of(record);
    return r->outer ? r->outer : r->check;
}
void set_sensitive_checkbox(ControlMatrix_t *, int, void *record, int sensitive, int)
{
    gtk_widget_set_sensitive(checkbox_of(record)->check, sensitive != 0);
}
void destroy_checkbox(void *record) { oska_widget_destroy(checkbox_of(record)->check); }
void set_name_checkbox(void *record, const char *name)
{
    const checkbox_data *r = checkbox_of(record);
    if (r->outer) gtk_widget_set_name(r->outer, name);
    gtk_widget_set_name(r->check, name);
}

char *value_checkbox(ControlMatrix_t *, int, void *entry, int *ip_int, char **, int *ip_given)
{
    *ip_int = gtk_check_button_get_active(GTK_CHECK_BUTTON(checked_record(entry, __LINE__)->check)) ? 1 : 0;
    *ip_given = 1;
    return nullptr;
}
int validate_checkbox(ControlMatrix_t *, int, void *) { return 1; }
void no_display_change(ControlMatrix_t *, int, void *) {}
GtkWidget *focus_checkbox(ControlMatrix_t *, int, void *entry) { return checkbox_of(entry)->check; }
void clear_checkbox(ControlMatrix_t *, int, void *entry) { gcheckbox_clear(entry); }

} // namespace

void gcheckbox_clear(void *record)
{
    set_state(checked_record(record, __LINE__), false, false);
}

void gcheckbox_toggle(ControlMatrix_t *cm, int index)
{
    checkbox_data *r = checked_record(cset_cm_get_ptr(cm, CM_ENTRY_PTR, index), __LINE__);
    set_state(r, !gtk_check_button_get_active(GTK_CHECK_BUTTON(r->check)), true);
}

void igcheckbox_new(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 2 && nargs != 3) Abort("Unexpected number of parameters %d", nargs);
    mlog(2, "Do gcheckbox_new");
    if (!cutil_get_cm(global_data, &arg(nargs, last, 0))) Abort("No Process Control Matrix found");
    const int background = nargs == 3 ? intr::integer(arg(nargs, last, 2)) : 0;
    if (background != 0 && background != 1)
        Abort("Invalid background colour flag %d; Must be true or false", background);
    const FieldRecord made =
        gfield_make_record(nargs, last, CM_FIELD_TYPE_GCHECKBOX, AC_CHECKBOX_SETUP, sizeof(checkbox_data),
                           "No Process Control Matrix found", "An attempt was made to create a check box twice for Index %d");
    checkbox_data *r = checkbox_of(made.record);
    r->check = gtk_check_button_new();
    if (background) r->outer = r->check;
    gfield_connect(r->check, "gcheckbox-button", "gcheckbox");
    g_signal_connect(r->check, "toggled", G_CALLBACK(on_toggled), global_data);
    oska_widget_show(r->check);
    gwidget_give_record(result, r);
}

void igcheckbox_set(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 3) Abort("Unexpected number of parameters %d", nargs);
    checkbox_data *r = field_record(nargs, last);
    const int state = intr::integer(arg(nargs, last, 2)) != 0 ? 1 : 0;
    mlog(2, "gcheckbox_set: State = %d", state);
    set_state(r, state != 0, false);
}

void igcheckbox_get(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Unexpected number of parameters %d", nargs);
    const int state = gtk_check_button_get_active(GTK_CHECK_BUTTON(field_record(nargs, last)->check)) ? 1 : 0;
    mlog(2, "gcheckbox_get: State = %d", state);
    intr::set_number(result, state);
}

void gcheckbox_register_kind()
{
    register_field_kind({
        .kind = CM_FIELD_TYPE_GCHECKBOX,
        .type = WIDGET_CHECKBOX,
        .record = {.owns = owns_checkbox, .principal = check_of, .set_sensitive = set_sensitive_checkbox},
        .behaviour = {
            .value = value_checkbox,
            .validate = validate_checkbox,
            .pre_display = no_display_change,
            .post_display = no_display_change,
            .display_init = no_display_change,
            .focus_widget = focus_checkbox,
            .clear = clear_checkbox,
            // A click, or Shift-Back-Tab, onto the box flips it.
            .toggle = [](ControlMatrix_t *cm, int index, guint, int, GtkWidget *) { gcheckbox_toggle(cm, index); },
        },
        .intrinsics = {
            .packed = packed_checkbox,
            .tooltip = check_of,
            .destroy = destroy_checkbox,
            .set_name = set_name_checkbox,
        },
    });
}
