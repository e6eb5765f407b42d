// The run of a routine attached to a form event: the CM's two stacks, the routine's IP and IP$
// parameters, the nested run of the executor with its answer and the bookkeeping around it; the
// field values for IP and IP$; validation, pre- and post-display of the field being edited.
#include "cinvoke.h"

#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "cattach.h"
#include "ccallback.h"
#include "cfield.h"
#include "cmatrix.h"
#include "executor.h"
#include "hooks.h"
#include "interp.h"
#include "kinds.h"
#include "message.h"
#include "numerics.h"
#include "run_time.h"
#include "symtab.h"
#include "value_stack.h"

namespace {

struct GFree {
    void operator()(void *p) const { g_free(p); }
};
template <class T> using GPtr = std::unique_ptr<T, GFree>;

unsigned long hex(const void *p) { return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)); }
const char *program_name() { return Program_name ? Program_name : ""; }
GlobalData_t *record(GlobalData_t *gd) { return gd ? gd : global_data; }

// The first parameter called name, from position `from` (0-based) on, or nullptr.
Stack *parameter(const RoutineParams &p, const char *name, int from)
{
    for (int i = from; i < p.count; ++i)
        if (p.names[i] && std::strcmp(p.names[i], name) == 0)
            return &p.stack[i];
    return nullptr;
}

// The current text of a string parameter: a variable's up to its declared length.
std::string_view parameter_text(const Stack &e)
{
    if ((e.flags & stk_ref) && !(e.flags & stk_pointer) && e.s_c.C_S)
        return {e.s_c.C_S, strnlen(e.s_c.C_S, e.s_dims[0])};
    long n = 0;
    const char *text = entry_text(e, &n);
    return text ? std::string_view(text, static_cast<std::size_t>(n)) : std::string_view();
}

// The text a variable keeps of text: cut to its declared length (a pointer variable keeps all).
std::string_view cut(const Stack &e, std::string_view text)
{
    return (e.flags & stk_pointer) ? text : text.substr(0, std::min<std::size_t>(text.size(), e.s_dims[0]));
}

// The kinds whose pre-display and post-display do something, by Widget Type.
bool has_pre_display(int type)
{
    switch (type) {
    case WIDGET_INPUT: case WIDGET_COMBO: case WIDGET_IMAGE: case WIDGET_LABEL: case WIDGET_DATE: case WIDGET_NOTE:
    case WIDGET_TEXT: return true;
    default: return false;
    }
}

bool has_post_display(int type)
{
    switch (type) {
    case WIDGET_INPUT: case WIDGET_COMBO: case WIDGET_DATE: case WIDGET_NOTE: case WIDGET_TEXT: return true;
    default: return false;
    }
}

// A field hook of the field's Widget Type, or the kind's stop when its code has not given it.
template <class Hook> Hook required(int type, Hook WidgetTypeHooks::*member)
{
    Hook hook = widget_type(type).*member;
    if (!hook) type_not_available(type);
    return hook;
}

} // namespace

// ---- The answer -----------------------------------------------------------------------------------------

int cinvoke_read_answer(const Routine *routine, char **text)
{
    *text = nullptr;
    // Ended by end or stop, the routine is still marked running and the function value is what
    // its last operation left (a text it may since have released): nothing to read.
    if (routine && routine->executing) return 1;
    if (fn_value.s_t == string) {
        *text = g_strndup(fn_value.s_c.C_S ? fn_value.s_c.C_S : "", fn_value.s_c.C_S ? fn_value.length : 0);
        if (!(fn_value.flags & stk_ref) && fn_value.s_c.C_S) release_entry(fn_value);
        fn_value = Stack{};
        fn_value.s_t = real;
        fn_value.s_c.C_N = &fn_value.num;
        return 1;
    }
    const dec_t *value = fn_value.s_c.C_N ? fn_value.s_c.C_N : &fn_value.num;
    long n = 0;
    if (NumericToLONG(value, &n) != 0) n = 0;
    return n > INT_MAX ? INT_MAX : n < INT_MIN ? INT_MIN : static_cast<int>(n);
}

// ---- The CM's stacks ---------------------------------------------------------------------------------

void cinvoke_record_ac(ControlMatrix_t *cm, int code)
{
    for (int &slot : cm->ac_stack)
        if (slot == 0) {
            slot = code;
            return;
        }
    Abort("cinvoke_basic_routine call nesting greater than %d deep", CM_MAX_AC);
}

void cinvoke_pop_ac(ControlMatrix_t *cm)
{
    for (int i = CM_MAX_AC - 1; i >= 0; --i)
        if (cm->ac_stack[i]) {
            cm->ac_stack[i] = 0;
            return;
        }
}

int cinvoke_get_ac(const ControlMatrix_t *cm)
{
    for (int i = CM_MAX_AC - 1; i >= 0; --i)
        if (cm->ac_stack[i]) return cm->ac_stack[i];
    return 0;
}

Invocation_t *cinvoke_add_func(ControlMatrix_t *cm, const char *routine_name, int code)
{
    auto *inv = g_new0(Invocation_t, 1);
    inv->routine_name = g_strdup(routine_name ? routine_name : "");
    inv->action_code = code;
    inv->ip_int = -1;
    inv->prior = cm->invoke_stack;
    inv->depth = inv->prior ? inv->prior->depth + 1 : 1;
    if (inv->prior) inv->prior->next = inv;
    cm->invoke_stack = inv;
    return inv;
}

void cinvoke_remove_func(ControlMatrix_t *cm, Invocation_t *inv)
{
    if (!inv || cm->invoke_stack != inv) return;
    cm->invoke_stack = inv->prior;
    if (inv->prior) inv->prior->next = nullptr;
    g_free(inv->routine_name);
    g_free(inv->ip_text);
    g_free(inv->ip_decimal);
    g_free(inv);
}

void cinvoke_set_anychange(ControlMatrix_t *cm, int code, int index)
{
    if (code == AC_PRE_FOCUS && index != 0 && cset_cm_get_int(cm, CM_TAB_SEQ, index) == TAB_ANYCHANGE)
        cm->anychange = 1;
}

// ---- Parameters ------------------------------------------------------------------------------------------

RoutineParams::RoutineParams(const SubControlMatrix_t *scm) : count(std::max(scm->nparams, 0))
{
    Stack few[FEW];
    std::vector<Stack> many;
    Stack *entries = few;
    names = few_names_;
    if (count > FEW) {
        many.resize(static_cast<std::size_t>(count));
        many_names_.resize(static_cast<std::size_t>(count));
        entries = many.data();
        names = many_names_.data();
    }
    cattach_params(scm, entries, names);
    stack = cutil_cp_stk(entries, count, &strings, &nstrings, names);
}

RoutineParams::~RoutineParams() { cutil_free_stk(stack, strings, nstrings); }

void cinvoke_set_int(Invocation_t *inv, RoutineParams &params, const char *name, int value)
{
    if (params.count < 2) Abort("Must have at least four parameters in the icattach_fun (int)");
    Stack *e = parameter(params, name, 1);
    if (!e) return;
    if (e->s_t != real || !e->s_c.C_N) Abort("Unexpected Stack element type encountered in cinvoke_set_int");
    NumericCvINT(value, e->s_c.C_N);
    if (inv && std::strcmp(name, "IP") == 0) {
        inv->ip_int = value;
        inv->ip_int_set = 1;
    }
}

void cinvoke_set_dbl(Invocation_t *inv, RoutineParams &params, const char *name, const char *decimal)
{
    if (params.count < 2) Abort("Must have at least four parameters in the icattach_fun (int)");
    Stack *e = parameter(params, name, 1);
    if (!e) return;
    if (e->s_t != real || !e->s_c.C_N) Abort("Unexpected Stack element type encountered in cinvoke_set_dbl");
    if (!decimal) decimal = "";
    // A text that is no number (a field's kind gives only numbers) stores 0.
    if (NumericCvASC(decimal, static_cast<int>(std::strlen(decimal)), e->s_c.C_N) != 0) NumericCvINT(0, e->s_c.C_N);
    if (inv && std::strcmp(name, "IP") == 0) {
        g_free(inv->ip_decimal);
        inv->ip_decimal = g_strdup(decimal);
    }
}

void cinvoke_set_str(Invocation_t *inv, RoutineParams &params, const char *name, const char *text)
{
    if (params.count < 2) Abort("Must have at least four parameters in the icattach_fun (char)");
    Stack *e = parameter(params, name, 2);
    if (!e) return;
    if (e->s_t != string || !(e->flags & stk_ref) || !e->s_c.C_S)
        Abort("Unexpected Stack element type encountered in cinvoke_set_str");
    const std::string_view kept = cut(*e, text ? text : "");
    cutil_store_padded(*e, kept);
    if (inv && std::strcmp(name, "IP$") == 0) {
        g_free(inv->ip_text);
        inv->ip_text = g_strndup(kept.data(), kept.size());
    }
}

char *cinvoke_get_str(const RoutineParams &params, const char *name)
{
    const Stack *e = parameter(params, name, 2);
    if (!e) return g_strdup("");
    if (e->s_t != string) Abort("Unexpected Stack element type encountered in cinvoke_get_str");
    const std::string_view text = parameter_text(*e);
    return g_strndup(text.data(), text.size());
}

void cinvoke_set_index(RoutineParams &params, int index)
{
    if (params.count >= 2 && params.stack[1].s_t == real && params.stack[1].s_c.C_N)
        NumericCvINT(index, params.stack[1].s_c.C_N);
}

int cinvoke_get_index(const RoutineParams &params)
{
    int index = 0;
    if (params.count >= 2 && params.stack[1].s_t == real && params.stack[1].s_c.C_N &&
        NumericToINT(params.stack[1].s_c.C_N, &index) != 0)
        index = 0;
    return index;
}

void cinvoke_fix_string(RoutineParams &params)
{
    for (int i = 0; i < params.count; ++i) {
        Stack &e = params.stack[i];
        if (e.s_t != string || !(e.flags & stk_ref) || (e.flags & stk_pointer) || !e.s_c.C_S || e.s_dims[0] == 0) continue;
        cutil_store_padded(e, parameter_text(e));
    }
}

// ---- Field values -------------------------------------------------------------------------------------------

char *gkey_press_copy_dbl(char *old, const char *text)
{
    g_free(old);
    return g_strdup(text ? text : "");
}

char *gkey_press_get_ip1(ControlMatrix_t *cm, int index, int *ip_int, char **ip_decimal, int *ip_given)
{
    *ip_int = -1;
    *ip_decimal = gkey_press_copy_dbl(*ip_decimal, "0.0");
    *ip_given = 0;
    if (index >= 1) {
        const int type = cset_cm_get_int(cm, CM_TYPE, index);
        void *entry = cset_cm_get_ptr(cm, CM_ENTRY_PTR, index);
        return gkey_press_get_ip(cm, index, entry, type, ip_int, ip_decimal, ip_given);
    }
    switch (cm->type) {
    case CM_WT_WINDOW:
    case CM_WT_MENU: return g_strdup("");
    case CM_WT_DRILL:
    case CM_WT_ZOOM:
        if (auto value = window_kind(cm->type).value) return value(cm);
        Abort("%s not available", cm->type == CM_WT_ZOOM ? "Zoom pick-list" : "Report viewer");
    default: Abort("gkey_press_get_ip1: Invalid window type");
    }
}

char *gkey_press_get_ip(ControlMatrix_t *cm, int index, void *entry, int type, int *ip_int, char **ip_decimal,
                        int *ip_given)
{
    if (type < 1 || type > WIDGET_MAX) Abort("gkey_press_get_ip: Type %d invalid", type);
    // A field without widgets (none are made without a window system) has no value to give.
    if (type == WIDGET_TABLE || type == WIDGET_BUTTON || !entry || !cm_windows_mode()) return nullptr;
    return required(type, &WidgetTypeHooks::value)(cm, index, entry, ip_int, ip_decimal, ip_given);
}

// ---- Field hooks around a routine ---------------------------------------------------------------------------

int cinvoke_is_empty(ControlMatrix_t *cm, int index)
{
    if (index < 1 || index > cm->field_count) return 0;
    const CmField_t &f = cm_field(cm, index);
    if (f.tab_seq != TAB_KEY && f.tab_seq != TAB_REQUIRED) return 0;
    if (f.type != WIDGET_INPUT && f.type != WIDGET_DATE && f.type != WIDGET_TEXT) return 0;
    int ip_int = -1, ip_given = 0;
    char *decimal = nullptr;
    GPtr<char> text(gkey_press_get_ip(cm, index, f.entry, f.type, &ip_int, &decimal, &ip_given));
    g_free(decimal);
    for (const char *c = text ? text.get() : ""; *c; ++c)
        if (!g_ascii_isspace(*c) && !(f.type == WIDGET_DATE && *c == '/')) return 0;
    window_hooks().message("Field must not be empty", "E");
    return 1;
}

int cinvoke_val_enter(ControlMatrix_t *cm, int index, GlobalData_t *, int check_empty)
{
    if (check_empty && cinvoke_is_empty(cm, index)) return 0;
    if (index < 1 || index > cm->field_count) return 1;
    const CmField_t &f = cm_field(cm, index);
    switch (f.type) {
    case WIDGET_INPUT: case WIDGET_DATE: case WIDGET_NOTE: case WIDGET_TEXT:
        if (!f.entry || !cm_windows_mode()) return 1;
        return required(f.type, &WidgetTypeHooks::validate)(cm, index, f.entry);
    default: return 1;
    }
}

void cinvoke_pre_display(ControlMatrix_t *cm)
{
    const int f = cm->current_focus;
    if (f < 1 || f == cm->edit_field || f > cm->field_count) return;
    cm->edit_field = f;
    CmField_t &field = cm_field(cm, f);
    if (has_pre_display(field.type) && field.entry && cm_windows_mode())
        required(field.type, &WidgetTypeHooks::pre_display)(cm, f, field.entry);
    cutil_set_active_function_keys(cm, f);
}

void cinvoke_post_display(ControlMatrix_t *cm, int index)
{
    const int f = index ? index : cm->current_focus;
    if (f < 1 || !cm->edit_field || f > cm->field_count) return;
    cm->edit_field = 0;
    CmField_t &field = cm_field(cm, f);
    if (has_post_display(field.type) && field.entry && cm_windows_mode())
        required(field.type, &WidgetTypeHooks::post_display)(cm, f, field.entry);
}

void cinvoke_post_display_init(ControlMatrix_t *cm, int index)
{
    if (index < 1 || index > cm->field_count) return;
    CmField_t &field = cm_field(cm, index);
    if ((field.type == WIDGET_INPUT || field.type == WIDGET_DATE) && field.entry && cm_windows_mode())
        required(field.type, &WidgetTypeHooks::display_init)(cm, index, field.entry);
}

void cinvoke_display_context(Interp_t *) {}

// ---- The run ---------------------------------------------------------------------------------------------------

namespace {

// The focus, closing and post requests of a run that another run on the same CM interrupts: the
// inner run begins with its own cleared, and when it ends the outer ones stand again beside what
// it asked for.
class OuterRequests {
public:
    explicit OuterRequests(ControlMatrix_t *cm)
        : cm_(cm), nested_(cm->invoke_stack != nullptr), focus_(cm->focus_request), closing_(cm->closing),
          win_(cm->win_post_due), zoom_(cm->zoom_post_due), drill_(cm->drill_post_due)
    {
    }
    OuterRequests(const OuterRequests &) = delete;
    OuterRequests &operator=(const OuterRequests &) = delete;
    ~OuterRequests() { restore(); }
    void restore()
    {
        if (!nested_) return;
        nested_ = false;
        cm_->focus_request |= focus_;
        cm_->closing |= closing_;
        cm_->win_post_due |= win_;
        cm_->zoom_post_due |= zoom_;
        cm_->drill_post_due |= drill_;
    }

private:
    ControlMatrix_t *cm_;
    bool nested_;
    int focus_, closing_, win_, zoom_, drill_;
};

// What a run has pushed on the CM, taken off again however the run ends.
class RunFrame {
public:
    RunFrame(ControlMatrix_t *cm, const char *routine_name, int code) : cm_(cm), rname_(Rname)
    {
        invocation_ = cinvoke_add_func(cm, routine_name, code);
        try {
            cinvoke_record_ac(cm, code);
        } catch (...) {
            cinvoke_remove_func(cm, invocation_);
            throw;
        }
        ac_ = true;
    }
    RunFrame(const RunFrame &) = delete;
    RunFrame &operator=(const RunFrame &) = delete;
    ~RunFrame()
    {
        if (cm_) finish();
    }
    // The run is done with the CM: nothing of it stays there, and the frame no longer touches it
    // (the close road that may follow can free it).
    void finish()
    {
        pop_ac();
        end();
        cm_->user_edit_watch = 1;
        // A close request refused while the routine ran may be made again once none runs.
        if (!cm_routine_running(cm_)) ccallbacks_schedule_deferred_closes();
        cm_ = nullptr;
    }
    Invocation_t *invocation() const { return invocation_; }
    void pop_ac()
    {
        if (ac_) cinvoke_pop_ac(cm_);
        ac_ = false;
    }
    // Rname back as it was, and the invocation off the stack.
    void end()
    {
        Rname = rname_;
        cinvoke_remove_func(cm_, invocation_);
        invocation_ = nullptr;
    }

private:
    ControlMatrix_t *cm_;
    const char *rname_;
    Invocation_t *invocation_ = nullptr;
    bool ac_ = false;
};

// Records kept while routines ran on c go once none runs there.
void release_kept(ControlMatrix_t *c)
{
    if (c && !cm_routine_running(c)) cmat_free_scmfree(c);
}

} // namespace

namespace {

CloseRoad close_road = nullptr;

} // namespace

CloseRoad register_close_road(CloseRoad road)
{
    return std::exchange(close_road, road);
}

int cinvoke_basic_routine(ControlMatrix_t *cm, ControlMatrix_t **out_cm, int code, int *index, int *closed,
                          GlobalData_t *gd, const char *variable, const char *text, int value, int must_exist,
                          char **result_text, int *closing, int close_processing)
{
    PROGRAM_ASSERT(cm && out_cm && index && result_text && closing);
    gd = record(gd);
    if (!variable) variable = "";
    if (!text) text = "";
    OuterRequests outer(cm);
    char ac_name[24];
    cgetac(ac_name, code);

    *out_cm = cm;
    if (closed) *closed = 0;
    cinvoke_set_anychange(cm, code, *index);
    cm->event_index = *index;

    SubControlMatrix_t *scm = cmat_get_fn_ptr(cm, *index, code);
    *closing = 0;
    const int mode_at_entry = cm->program_mode;
    cm->focus_request = cm->closing = cm->win_post_due = cm->zoom_post_due = cm->drill_post_due = 0;

    if (!scm) {
        if (must_exist)
            Abort("cinvoke_basic_routine: 'basic' function not found for Action Code %s; Index %d; Control Matrix %lX",
                  ac_name, *index, hex(cm));
        *result_text = g_strdup("");
        return 1;
    }

    RunFrame frame(cm, scm->routine ? scm->routine->R_name.c_str() : "", code);
    Invocation_t *inv = frame.invocation();
    // What the routine changes of the Enabled flags is shown when it returns (the count of changes
    // stands for a copy of the flags: re-applying unchanged flags changes nothing).
    const unsigned enabled_changes = cm->enabled_changes;
    std::optional<RoutineParams> params(std::in_place, scm);

    // The index variable of this call (never the stored attachment) names the event's field; an
    // external program's follow-on keeps its own.
    if (*index >= 1 && code != AC_EXTERNAL_END && cinvoke_get_index(*params) != *index)
        cinvoke_set_index(*params, *index);

    int ip_int = -1, ip_given = 0;
    char *decimal = nullptr;
    GPtr<char> field_text;
    const bool read_field = std::strcmp(variable, "IP$") == 0 && *text == '\0';
    if (read_field) field_text.reset(gkey_press_get_ip1(cm, *index, &ip_int, &decimal, &ip_given));
    GPtr<char> ip_decimal(decimal);

    if (!scm->routine)
        Abort("No 'basic' function found for field index %d; Action Code %s; Control Matrix %lX; SCM %lX; "
              "Program_name %s",
              *index, ac_name, hex(cm), hex(scm), program_name());
    const char *name = scm->routine->R_name.c_str();
    if (!*name)
        Abort("'basic' function is nameless for field index %d; Action Code %s; Control Matrix %lX; SCM %lX; "
              "Program_name %s",
              *index, ac_name, hex(cm), hex(scm), program_name());
    Rname = name;
    if (gd->log_level_lumbas >= 0)
        mlog(0, "Call 'basic' function %s; Action Code = %s; Index = %d; Program_name %s", name, ac_name, *index,
             program_name());

    if (ip_given && ip_int == -1)
        cinvoke_set_dbl(inv, *params, "IP", ip_decimal.get());
    else
        cinvoke_set_int(inv, *params, "IP", ip_int);
    if (read_field)
        cinvoke_set_str(inv, *params, "IP$", field_text ? field_text.get() : "");
    else if (!*variable)
        cinvoke_set_str(inv, *params, "IP$", "");
    else if (!*text) {
        cinvoke_set_int(inv, *params, variable, value);
        // A number given for the run: IP$ keeps nothing of an earlier run's text.
        cinvoke_set_str(inv, *params, "IP$", "");
    } else
        cinvoke_set_str(inv, *params, variable, text);

    long held = 0;
    if (params->count >= 1 && params->stack[0].s_t == real && params->stack[0].s_c.C_N)
        NumericToLONG(params->stack[0].s_c.C_N, &held);
    if (static_cast<std::uintptr_t>(held) != reinterpret_cast<std::uintptr_t>(cm))
        Abort("Retrieved Stack has unexpected Control Matrix, %lx %lx", static_cast<unsigned long>(held), hex(cm));
    cm->user_edit_watch = 0;
    invoke_basic_callback_routine(scm->routine, params->stack, params->count, scm->application, cm->Minterp);
    cm->user_edit_watch = 1;

    SubControlMatrix_t *still = cmat_get_fn_ptr(cm, *index, code);
    if (!still) {
        // The routine detached itself (or its field went): nothing of it is read back.
        char *dropped = nullptr;
        cinvoke_read_answer(scm->routine, &dropped);
        g_free(dropped);
        *result_text = g_strdup("");
        return 1;
    }
    Rname = still->routine ? still->routine->R_name.c_str() : name;
    cinvoke_fix_string(*params);
    char *answer_text = nullptr;
    const int answer = cinvoke_read_answer(scm->routine, &answer_text);
    GPtr<char> result(answer_text ? answer_text : cinvoke_get_str(*params, "IP$"));

    // The enclosing run on this CM finds its own IP and IP$ again.
    if (cm->invoke_stack == inv && inv->prior) {
        const Invocation_t *o = inv->prior;
        if (o->ip_text) cinvoke_set_str(nullptr, *params, "IP$", o->ip_text);
        if (o->ip_decimal) cinvoke_set_dbl(nullptr, *params, "IP", o->ip_decimal);
        if (o->ip_int_set) cinvoke_set_int(nullptr, *params, "IP", o->ip_int);
    }

    params.reset();
    if (gd->log_level_lumbas >= 0)
        mlog(0, "Return value: %d from 'basic' function %s; Program_name %s", answer, name, program_name());
    ccall_fun_delayed();
    *closing = cm->closing;
    frame.pop_ac();

    if (cm->focus_request) {
        if (code == AC_PRE_FOCUS)
            Abort("Not permitted to change focus from a function attached with the Pre_Focus Action Code at index %d",
                  *index);
        *index = cm->current_focus;
    } else if (cm->enabled_changes != enabled_changes) {
        cinvoke_set_enabled(cm, nullptr);
    }
    if (mode_at_entry == CM_MODE_NULL) cm->modified = 0;

    if (!answer) {
        // A false answer cancels a close asked for during the run.
        frame.end();
        cm->closing = 0;
        *closing = 0;
        outer.restore();
        *out_cm = cutil_get_last_real_cm();
        *result_text = result.release();
        return 0;
    }

    frame.end();
    const bool was_closing = cm->closing != 0;
    if (close_processing) {
        if ((cm->win_post_due || cm->zoom_post_due || cm->drill_post_due) && (!cm->post_text || !*cm->post_text)) {
            g_free(cm->post_text);
            cm->post_text = g_strdup(result.get());
        }
        *closing = cm->closing;
        if (closed) *closed = was_closing ? 1 : 0;
        if (!close_road) Abort("Closing windows not available");
        // A closing CM goes on this road when its parent's routine opens a window, so from here on
        // it is touched only where it cannot have gone: it stays when it was not closing, and
        // while an outer run on it (whose requests are put back below) holds its window.
        frame.finish();
        *out_cm = close_road(cm, gd);
    }
    outer.restore();
    *out_cm = cutil_get_last_real_cm();
    if (!was_closing) release_kept(cm);
    if (*out_cm != cm || was_closing) release_kept(*out_cm);
    *result_text = result.release();
    return answer;
}

// ---- Close requests while a routine runs ----------------------------------------------------------------

namespace {

guint deferred_close_source = 0;

// Whether a routine runs on cm or on a CM newer than it (whose window goes with cm's).
bool routine_running_from(const ControlMatrix_t *cm)
{
    for (; cm; cm = cm->next)
        if (cm_routine_running(cm)) return true;
    return false;
}

// The newest CM whose deferred close request may be made again now, or nullptr.
ControlMatrix_t *deferred_close_due(GlobalData_t *gd)
{
    // An event at work ends with ccallbacks_finish_event, which asks again.
    if (gd->finishing_event || gd->activate_lock || gd->escape_lock || gd->f8_lock) return nullptr;
    for (ControlMatrix_t *cm = gd->last_cm; cm; cm = cm->prior)
        if (cm->close_requested && !routine_running_from(cm)) return cm;
    return nullptr;
}

gboolean run_deferred_close(gpointer)
{
    deferred_close_source = 0;
    forms_callback([] {
        GlobalData_t *gd = global_data;
        ControlMatrix_t *cm = gd ? deferred_close_due(gd) : nullptr;
        if (!cm) return;
        cm->close_requested = 0;
        GtkWidget *window = cget_window_for_cm(gd, cm);
        if (gd->log_level_lumbas >= 0) mlog(0, "Deferred close request of Control Matrix %lX made again", hex(cm));
        // One at a time: the close road may change the chain, and its event's end asks again.
        if (window && window != CM_WINDOWLESS && GTK_IS_WINDOW(window)) gtk_window_close(GTK_WINDOW(window));
    });
    return G_SOURCE_REMOVE;
}

} // namespace

bool ccallbacks_defer_close(ControlMatrix_t *cm)
{
    if (!cm || !routine_running_from(cm)) return false;
    if (!cm->close_requested && global_data->log_level_lumbas >= 0)
        mlog(0, "Close request of Control Matrix %lX deferred: a routine runs on its window", hex(cm));
    cm->close_requested = 1;
    return true;
}

void ccallbacks_schedule_deferred_closes()
{
    GlobalData_t *gd = global_data;
    if (!gd || deferred_close_source) return;
    for (const ControlMatrix_t *cm = gd->last_cm; cm; cm = cm->prior)
        if (cm->close_requested && !routine_running_from(cm)) {
            // Made from the main loop, once the event that runs now has ended.
            deferred_close_source = g_idle_add(run_deferred_close, nullptr);
            return;
        }
}
