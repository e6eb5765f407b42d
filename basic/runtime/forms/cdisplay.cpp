// The dump of a control matrix to the run-time log (IDISPLAY_CM): its field rows, its state and
// its attached records, at log level 0.
#include <string>

#include "cattach.h"
#include "cmatrix.h"
#include "message.h"
#include "symtab.h"

namespace {

constexpr const char *widget_type_names[] = {
    "input", "table", "button", "combo", "check box", "image", "date", "note", "label", "toggle button",
    "radio button", "text",
};
constexpr const char *tab_seq_names[] = {
    "key field", "required field", "standard field", "skip on tab", "skip when in add mode", "no focus allowed",
    "the anychange field", "skip on tab & not AnyChange",
};
constexpr const char *mode_names[] = {"null", "add", "change", "exit"};

const char *truth(int flag) { return flag ? "true" : "false"; }

void dump_row(ControlMatrix_t *cm, int index)
{
    const CmField_t &f = cm_field(cm, index);
    if (f.type < 1 || f.type > WIDGET_MAX) Abort("Invalid Widget Type %d", f.type);
    if (f.tab_seq < 1 || f.tab_seq > TAB_MAX) Abort("Invalid Tag Sequence Type %d", f.tab_seq);
    mlog(0, "%5d%5d  %d   %d  %-13s %-27s %d   %d   %d  %s  %lx", index, f.prompt, f.enabled, f.valid,
         widget_type_names[f.type - 1], tab_seq_names[f.tab_seq - 1], f.label != nullptr, f.entry != nullptr,
         f.description != nullptr, f.name ? f.name : "",
         static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(f.entry)));
}

} // namespace

void cdisplay_cm(ControlMatrix_t *cm, const char *title)
{
    FORMS_TRACE;
    if (!global_data || global_data->log_level_lumbas < 0) return;
    mlog(0, "<<< Start of Display Control Matrix (%s) >>>", title);
    mlog(0, "Index  pNo En Val  Widget Type   Tab Sequence              Pmt Ent Des  Field Name EntryPtr");
    for (int i = 1; i <= cm->field_count; ++i) dump_row(cm, i);
    if (cm->program_mode < CM_MODE_NULL || cm->program_mode > CM_MODE_EXIT)
        Abort("Invalid Program Mode %d", cm->program_mode);
    mlog(0, "Program Mode = %s; AnyChange = %s; Modified = %s; Current Focus = %d", mode_names[cm->program_mode],
         truth(cm->anychange), truth(cm->modified), cm->current_focus);
    mlog(0, "Index  Action Code         Function");
    for (const SubControlMatrix_t *scm = cm->scm_list; scm; scm = scm->next) {
        char name[24];
        mlog(0, "%5d  %-20s%s", scm->ind, cgetac(name, scm->action_code),
             scm->routine ? scm->routine->R_name.c_str() : "");
    }
    mlog(0, "set_focus: %d; return_focus: %d; invoke_focus: %d", cm->focus_request, cm->return_focus,
         cm->event_index);
    mlog(0, "<<< End of Display Control Matrix (%s) >>>", title);
}
