// ICATTACH_FUN and ICDETACH_FUN: attaching a program routine to a field and action code, with
// the routine's declared parameters checked against the arguments it will get, and detaching it.
#include <cstdio>

#include "applications.h"
#include "cases.h"
#include "cattach.h"
#include "cmatrix.h"
#include "interp.h"
#include "message.h"
#include "symtab.h"

namespace {

using intr::arg;

unsigned long hex(const void *p) { return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)); }
const char *program_name() { return Program_name ? Program_name : ""; }

int action_code(const Stack &entry)
{
    const std::string_view text = intr::text(entry);
    return cattach_fun_get_ac(text.data(), text.size());
}

bool is_parameter(const Symbol *s) { return (s->S_type & s_args) && !(s->S_type & s_based); }

const Symbol *next_parameter(const Symbol *s)
{
    while (s && !is_parameter(s)) s = s->S_fwd;
    return s;
}

// The routine's declared parameters, pairwise against the count arguments from the CM on.
void check_parameters(int number, const Stack *args, int count, Application_t *ap)
{
    const Routine *routine = cutil_routine_by_number(number, ap);
    const char *name = routine->R_name.c_str();
    const Symbol *p = next_parameter(routine->R_variables);
    for (int i = 0; i < count; ++i, p = next_parameter(p->S_fwd)) {
        if (!p) Abort("Premature end of symbols in cattach_fun_val_parms");
        const SymType t = p->S_type;
        const char *wanted = nullptr;
        switch (args[i].s_t) {
        case bstruct: wanted = (t & s_struct) ? nullptr : "struct"; break;
        case real_array: wanted = (t & s_numeric) && !(t & s_struct) ? nullptr : "real array"; break;
        case real: wanted = (t & s_numeric) && !(t & s_struct) ? nullptr : "numeric"; break;
        case string: wanted = (t & s_string) ? nullptr : "string"; break;
        default:
            Abort("Unknown type of data passed to icattach_fun; parameter %d type %d", i + 3,
                  static_cast<int>(args[i].s_t));
        }
        if (wanted)
            Abort("Expecting parameter %d of function %s to be defined as %s; or inconsistent parameter %d to "
                  "icattach_fun",
                  i + 1, name, wanted, i + 3);
    }
}

void log_attachment(const ControlMatrix_t *cm, const SubControlMatrix_t *scm)
{
    if (global_data->log_level_lumbas <= 0) return;
    char code[24];
    mlog(1, "Do cattach_fun; Window = %lX; Action Code = %s; Index = %d; CM = %lX; SCM = %lX, Program = %s",
         hex(cm->window), cgetac(code, scm->action_code), scm->ind, hex(cm), hex(scm), program_name());
}

} // namespace

void cattach_fun(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs < 4) Abort("Invalid number of parameters to icset_control_matrix");
    const int code = action_code(arg(nargs, last, 0));
    const int number = intr::integer(arg(nargs, last, 1));
    Routine *routine = GetRoutine(number);
    ControlMatrix_t *cm =
        cm_argument(nargs, last, 2, "Must set the Process Control Matrix before attaching a function to a widget");
    const int index = intr::integer(arg(nargs, last, 3));
    Application_t *ap = FindApplication(Program_name);
    if (!ap) Abort("Failed to determine application, given the program name %s", program_name());
    const Stack *args = &arg(nargs, last, 2);
    check_parameters(number, args, nargs - 2, ap);
    if (code == AC_EXIT && index != 0)
        Abort("May only attach a function with the Exit Action Code to the Window (index zero)");
    SubControlMatrix_t *scm = cutil_cp_stack(cm, args, nargs - 2, index, code, routine, ap, 0);
    if (!cm->scm_list->application) cm->scm_list->application = ap;
    log_attachment(cm, scm);
}

void cdetach_fun(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 3) Abort("Invalid number of parameters to icdetach_fun");
    const int code = action_code(arg(nargs, last, 0));
    ControlMatrix_t *cm =
        cm_argument(nargs, last, 1, "Must have a valid Process Control Matrix for detaching a function from a widget");
    const int index = intr::integer(arg(nargs, last, 2));
    while (SubControlMatrix_t *scm = cmat_get_scm(cm, index, code)) {
        log_attachment(cm, scm);
        cremove_scm(cm, scm);
    }
}
