// Attached records of a CM: building them from a routine's arguments, their list and their
// index by (code, field index), renumbering, per-call copies and freeing.
#include "cattach.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "applications.h"
#include "cases.h"
#include "cfunctionkey.h"
#include "globals.h"
#include "handles.h"
#include "interp.h"
#include "kinds.h"
#include "message.h"
#include "run_time.h"
#include "symtab.h"
#include "value_stack.h"

// Records by field index: the first record at each index from 0 up (the others at that index
// chained through same_next in attachment order); records at negative or very high indexes, which
// no row can have, on one chain of their own.
struct ScmIndex {
    std::vector<SubControlMatrix_t *> dense;
    SubControlMatrix_t *others = nullptr;
};

namespace {

constexpr int DENSE_INDEXES = 1 << 15;
std::uint64_t next_seq = 1;

ScmIndex &index_of(ControlMatrix_t *cm)
{
    if (!cm->scm_index) cm->scm_index = new ScmIndex;
    return *cm->scm_index;
}

// The head of the chain of records at ind; nullptr when none can be there and grow is false.
SubControlMatrix_t **chain(ControlMatrix_t *cm, int ind, bool grow)
{
    ScmIndex &x = index_of(cm);
    if (ind < 0 || ind >= DENSE_INDEXES) return &x.others;
    if (static_cast<std::size_t>(ind) >= x.dense.size()) {
        if (!grow) return nullptr;
        x.dense.resize(static_cast<std::size_t>(ind) + 1);
    }
    return &x.dense[static_cast<std::size_t>(ind)];
}

void index_add(ControlMatrix_t *cm, SubControlMatrix_t *s)
{
    SubControlMatrix_t **link = chain(cm, s->ind, true);
    while (*link && (*link)->seq < s->seq) link = &(*link)->same_next;
    s->same_next = *link;
    *link = s;
    cm->scm_max_ind = std::max(cm->scm_max_ind, s->ind);
}

void index_remove(ControlMatrix_t *cm, SubControlMatrix_t *s)
{
    SubControlMatrix_t **link = chain(cm, s->ind, false);
    while (link && *link && *link != s) link = &(*link)->same_next;
    if (link && *link) *link = s->same_next;
    s->same_next = nullptr;
}

void index_rebuild(ControlMatrix_t *cm)
{
    ScmIndex &x = index_of(cm);
    std::fill(x.dense.begin(), x.dense.end(), nullptr);
    x.others = nullptr;
    cm->scm_max_ind = 0;
    for (SubControlMatrix_t *s = cm->scm_list; s; s = s->next) {
        s->same_next = nullptr;
        index_add(cm, s);
    }
}

void list_append(ControlMatrix_t *cm, SubControlMatrix_t *s)
{
    s->next = nullptr;
    s->prior = cm->scm_last;
    if (cm->scm_last)
        cm->scm_last->next = s;
    else
        cm->scm_list = s;
    cm->scm_last = s;
    index_add(cm, s);
}

void list_unlink(ControlMatrix_t *cm, SubControlMatrix_t *s)
{
    index_remove(cm, s);
    if (s->prior)
        s->prior->next = s->next;
    else
        cm->scm_list = s->next;
    if (s->next)
        s->next->prior = s->prior;
    else
        cm->scm_last = s->prior;
    s->next = s->prior = nullptr;
}

// The field record's own index follows its attachment's; the kinds that keep one say so.
constexpr const char *own_index_checks[] = {
    nullptr, "scm->ind == input_data->index", "scm->ind == note_data->index", "scm->ind == combo_data->index",
    "scm->ind == checkbox_data->index", "scm->ind == table_data->index", "scm->ind == clabel_data->index",
    "scm->ind == image_data->index", "scm->ind == toggle_data->index", "scm->ind == radio_data->index",
    "scm->ind == date_data->index", "scm->ind == button_data->index", "scm->ind == text_data->index",
};

int *own_index(SubControlMatrix_t *s, int *kind)
{
    if (!s->setup) return nullptr;
    std::memcpy(kind, s->setup, sizeof *kind);
    const RecordKindHooks &row = record_kind(*kind);
    return row.own_index ? row.own_index(s->setup) : nullptr;
}

void move_own_index(SubControlMatrix_t *s, int delta)
{
    int kind = 0;
    if (int *index = own_index(s, &kind)) {
        *index += delta;
        if (*index != s->ind) assertion_failed(__FILE__, __LINE__, own_index_checks[kind]);
    }
}

// ---- Building a record from a routine's arguments ---------------------------------------------------

const char *name_of(const Symbol *s) { return s ? s->S_name.c_str() : nullptr; }
bool starts(const char *name, const char *prefix) { return name && std::strncmp(name, prefix, std::strlen(prefix)) == 0; }

struct Found {
    Symbol *global = nullptr;  // of the main routine
    Symbol *local = nullptr;   // of the running routine, when that is not the main one
    const char *name() const { return name_of(global ? global : local); }
};

Found symbols_at(const void *address, unsigned kind)
{
    Found f;
    f.global = cutil_get_symbol(0, 0, address, kind);
    if (cur_routine > 0) f.local = cutil_get_symbol(cur_routine, 0, address, kind);
    return f;
}

const void *storage(const Stack &e)
{
    switch (e.s_t) {
    case string: return e.s_c.C_S;
    case bstruct: return e.s_c.C_P;
    default: return e.s_c.C_N;
    }
}

unsigned symbol_kind(const Stack &e)
{
    switch (e.s_t) {
    case string: return s_string;
    case bstruct: return s_struct;
    default: return s_numeric;
    }
}

bool string_variable(const Stack &e)
{
    return (e.flags & stk_ref) && e.s_c.C_S &&
           ((e.flags & stk_pointer) || intr::variable_storage(e.s_c.C_S, std::max<std::size_t>(e.s_dims[0], 1)));
}

// The text a string entry stands for, as a new g_malloc block of length + 1 bytes.
char *text_copy(const Stack &e, std::uint32_t *length)
{
    long n = 0;
    const char *text = entry_text(e, &n);
    auto *copy = static_cast<char *>(g_malloc(static_cast<std::size_t>(n) + 1));
    if (n > 0) std::memcpy(copy, text, static_cast<std::size_t>(n));
    copy[n] = '\0';
    *length = static_cast<std::uint32_t>(n);
    return copy;
}

// A string variable is kept blank-padded to its declared length, which the routine then sees.
void pad_variable(Stack &e)
{
    const std::uint32_t declared = e.s_dims[0];
    if ((e.flags & stk_pointer) || declared == 0) return;
    const std::string current(e.s_c.C_S, std::min(e.length, declared));
    cutil_store_padded(e, current);
}

// Checks and prepares argument i (0-based; messages count from 3) of a record; literal strings
// are noted in owned for copying once every check has passed.
void prepare(Stack &e, int i, int fixed, int code, std::vector<int> &owned)
{
    const bool checked = oska_do_cp_check != 0;
    const int position = i + 3;
    switch (e.s_t) {
    case bstruct: {
        if (i < fixed) Abort("Unexpected struct in parameter position %d", position);
        if (!checked) return;
        const Found f = symbols_at(e.s_c.C_P, s_struct);
        if (f.global) return;
        if (f.local)
            Abort("Not permitted to pass a localised struct %s to icattach_fun at parameter %d", name_of(f.local),
                  position);
        Abort("Unexpected failure to find symbol for a struct passed to icattach_fun");
    }
    case real_array:
        if (checked && !symbols_at(e.s_c.C_N, s_numeric).global)
            Abort("Localised real array not permitted in parameter %d", position);
        return;
    case string: {
        if (checked) {
            if (i < fixed) Abort("Unexpected string in parameter position %d", position);
            const Found f = symbols_at(e.s_c.C_S, s_string);
            if (f.local && !f.global && std::strcmp(name_of(f.local), "IP$") != 0)
                Abort("Localised string not permitted in parameter %d", position);
        }
        if (string_variable(e))
            pad_variable(e);
        else
            owned.push_back(i);
        return;
    }
    case real: {
        const Found f = symbols_at(e.s_c.C_N, s_numeric);
        if (checked && i >= 2 && f.local && !f.global && std::strcmp(name_of(f.local), "IP") != 0)
            Abort("Localised numeric not permitted in parameter %d", position);
        bool by_value = true;
        if (e.flags & stk_ref) {
            const char *name = f.name();
            if (checked && !name && i < fixed) Abort("Unexpected literal in parameter %d", position);
            if (i == 0) {
                if (checked && name && !starts(name, "CM")) Abort("Unexpected third parameter encountered '%s'", name);
            } else if (i != 1 || code == AC_EXTERNAL_END) {
                if (checked && (starts(name, "INDEX") || starts(name, "T_CM.INDEX")))
                    Abort("Unexpected parameter %d encountered '%s'", position, name);
                by_value = false;
            }
        } else if (checked && i == 0) {
            Abort("Unexpected literal encountered in parameter %d", position);
        }
        if (by_value) {
            e.num = *e.s_c.C_N;
            e.flags &= static_cast<std::uint16_t>(~stk_ref);
        }
        return;
    }
    default: Abort("Unexpected data type encountered");
    }
}

// Entries holding their own value point at it (after every copy of the entry).
void point_at_own_values(Stack *entries, int count)
{
    for (int i = 0; i < count; ++i)
        if (entries[i].s_t == real && !(entries[i].flags & stk_ref)) entries[i].s_c.C_N = &entries[i].num;
}

// ---- Packed arguments: per argument a tag byte, then a number's decimal or the whole entry, then
// (with NAMED) the owned name of the variable it refers to. A literal text's copy is owned by its
// entry.
constexpr unsigned char PACKED_NUMBER = 0, PACKED_ENTRY = 1, NAMED = 0x80;

unsigned char *packed(const SubControlMatrix_t *s)
{
    return reinterpret_cast<unsigned char *>(const_cast<SubControlMatrix_t *>(s) + 1);
}

bool number_by_value(const Stack &e) { return e.s_t == real && !(e.flags & stk_ref); }

std::size_t packed_size(const Stack &e, const char *name)
{
    return 1 + (number_by_value(e) ? sizeof(dec_t) : sizeof(Stack)) + (name ? sizeof(char *) : 0);
}

unsigned char *pack(unsigned char *at, const Stack &e, const char *name)
{
    *at++ = static_cast<unsigned char>((number_by_value(e) ? PACKED_NUMBER : PACKED_ENTRY) | (name ? NAMED : 0));
    if (number_by_value(e)) {
        std::memcpy(at, &e.num, sizeof(dec_t));
        at += sizeof(dec_t);
    } else {
        std::memcpy(at, &e, sizeof(Stack));
        at += sizeof(Stack);
    }
    if (name) {
        char *copy = g_strdup(name);
        std::memcpy(at, &copy, sizeof copy);
        at += sizeof copy;
    }
    return at;
}

// Reads one argument at at into e (and its name); returns the next argument's place.
const unsigned char *unpack(const unsigned char *at, Stack &e, char **name)
{
    const unsigned char tag = *at++;
    if ((tag & ~NAMED) == PACKED_NUMBER) {
        e = Stack{};
        e.s_t = real;
        std::memcpy(&e.num, at, sizeof(dec_t));
        e.s_c.C_N = &e.num;
        at += sizeof(dec_t);
    } else {
        std::memcpy(&e, at, sizeof(Stack));
        at += sizeof(Stack);
    }
    *name = nullptr;
    if (tag & NAMED) {
        std::memcpy(name, at, sizeof *name);
        at += sizeof *name;
    }
    return at;
}

// Records kept while a routine runs wait here until it returns.
void park(ControlMatrix_t *cm, SubControlMatrix_t *s)
{
    s->prior = nullptr;
    s->next = cm->scm_free_list;
    if (s->next) s->next->prior = s;
    cm->scm_free_list = s;
}

int soft_key_slot(int code)
{
    if (code >= AC_INTERNAL + AC_F1 && code <= AC_INTERNAL + AC_F12) code -= AC_INTERNAL;
    switch (code) {
    case AC_ESCAPE: return 0;
    case AC_SCREEN_CAPTURE: return 4;
    case 51: case 52: case 53: return code - 50;
    default: return code >= 55 && code <= AC_F12 ? code - 50 : -1;
    }
}

// The first record of one of the codes at exactly index (in attachment order).
SubControlMatrix_t *first_setup(ControlMatrix_t *cm, int index, std::initializer_list<int> codes)
{
    SubControlMatrix_t *found = nullptr;
    for (int code : codes)
        if (SubControlMatrix_t *s = cmat_get_scm(cm, index, code); s && (!found || s->seq < found->seq)) found = s;
    return found;
}

int setup_kind(const SubControlMatrix_t *s)
{
    int kind = 0;
    if (s->setup) std::memcpy(&kind, s->setup, sizeof kind);
    return kind;
}

} // namespace

// ---- Building and linking ---------------------------------------------------------------------------------

SubControlMatrix_t *cutil_cp_stack(ControlMatrix_t *cm, const Stack *args, int count, int ind, int code,
                                   Routine *routine, Application_t *application, int setup)
{
    PROGRAM_ASSERT(cm);
    if (count >= 1 && setup) Abort("Internal consistency check failure in cutil_cp_stack");
    count = std::max(count, 0);
    std::vector<Stack> entries(args, args + count);
    std::vector<int> owned;
    const int fixed = code == AC_EXTERNAL_END ? 1 : 2;
    for (int i = 0; i < count; ++i) prepare(entries[i], i, fixed, code, owned);

    // Once every check has passed: names of the variables referred to, copies of literal texts.
    std::vector<const char *> names(static_cast<std::size_t>(count), nullptr);
    std::size_t size = sizeof(SubControlMatrix_t);
    for (int i = 0; i < count; ++i) {
        Stack &e = entries[i];
        if ((e.flags & stk_ref) && e.s_t != string_array) names[i] = symbols_at(storage(e), symbol_kind(e)).name();
        size += packed_size(e, names[i]);
    }
    for (int i : owned) {
        Stack &e = entries[i];
        e.s_c.C_S = text_copy(e, &e.length);
        e.flags &= static_cast<std::uint16_t>(~(stk_ref | stk_pointer));
    }
    auto *s = static_cast<SubControlMatrix_t *>(g_malloc0(size));
    s->routine = routine;
    s->action_code = code;
    s->ind = ind;
    s->application = application;
    s->nparams = count;
    s->seq = next_seq++;
    unsigned char *at = packed(s);
    for (int i = 0; i < count; ++i) at = pack(at, entries[i], names[i]);

    if (SubControlMatrix_t *old = cmat_get_scm(cm, ind, code)) {
        mmessage(1, "iginput_setup is being rerun for index = %d", ind);
        cremove_scm(cm, old);
    }
    list_append(cm, s);
    return s;
}

void *cutil_new_setup(SubControlMatrix_t *scm, int kind, std::size_t size)
{
    PROGRAM_ASSERT(!scm->setup);
    PROGRAM_ASSERT(size >= sizeof(int));
    if (kind < 1 || kind > CM_FIELD_TYPE_GMAX) Abort("Invalid field record type %d", kind);
    void *record = g_malloc0(size);
    std::memcpy(record, &kind, sizeof kind);
    scm->setup = record;
    handle_issue_record(record);
    return record;
}

// ---- Lookup and renumbering ---------------------------------------------------------------------------------

SubControlMatrix_t *cmat_get_scm(ControlMatrix_t *cm, int ind, int code)
{
    if (!cm->scm_index) return nullptr;
    SubControlMatrix_t **head = chain(cm, ind, false);
    for (SubControlMatrix_t *s = head ? *head : nullptr; s; s = s->same_next)
        if (s->action_code == code && s->ind == ind) return s;
    return nullptr;
}

SubControlMatrix_t *cattach_next_same(const SubControlMatrix_t *scm)
{
    for (SubControlMatrix_t *s = scm->same_next; s; s = s->same_next)
        if (s->action_code == scm->action_code && s->ind == scm->ind) return s;
    return nullptr;
}

SubControlMatrix_t *cmat_get_fn_ptr(ControlMatrix_t *cm, int ind, int code)
{
    if (SubControlMatrix_t *s = cmat_get_scm(cm, ind, code)) return s;
    return cmat_get_scm(cm, 0, code);
}

void cattach_set_ind(ControlMatrix_t *cm, SubControlMatrix_t *scm, int ind)
{
    index_remove(cm, scm);
    scm->ind = ind;
    index_add(cm, scm);
    int kind = 0;
    if (int *own = own_index(scm, &kind)) *own = ind;
}

void cattach_shift(ControlMatrix_t *cm, int from, int delta, const SubControlMatrix_t *keep1,
                   const SubControlMatrix_t *keep2)
{
    if (from > cm->scm_max_ind) return;  // no record stands at or above it
    bool moved = false;
    for (SubControlMatrix_t *s = cm->scm_list; s; s = s->next) {
        if (s == keep1 || s == keep2 || s->ind < from) continue;
        s->ind += delta;
        move_own_index(s, delta);
        moved = true;
    }
    if (moved) index_rebuild(cm);
}

void cattach_remove_rows(ControlMatrix_t *cm, int first, int last)
{
    if (first <= cm->scm_max_ind) {
        for (SubControlMatrix_t *s = cm->scm_list, *next; s; s = next) {
            next = s->next;
            if (s->ind >= first && s->ind <= last) cremove_scm(cm, s);
        }
    }
    cattach_shift(cm, last + 1, -(last - first + 1));
}

// ---- Per-call copies ----------------------------------------------------------------------------------------

void cattach_params(const SubControlMatrix_t *scm, Stack *out, const char **names)
{
    const unsigned char *at = packed(scm);
    for (int i = 0; i < scm->nparams; ++i) {
        char *name;
        at = unpack(at, out[i], &name);
        if (names) names[i] = name;
    }
    point_at_own_values(out, scm->nparams);
}

Stack *cutil_cp_stk(const Stack *entries, int count, char ***strings, int *nstrings, const char *const *keep)
{
    *strings = nullptr;
    *nstrings = 0;
    if (count <= 0) return nullptr;
    auto *copy = g_new(Stack, count);
    std::memcpy(copy, entries, sizeof(Stack) * static_cast<std::size_t>(count));
    std::vector<char *> owned;
    for (int i = 0; i < count; ++i) {
        Stack &e = copy[i];
        const bool reference = (e.flags & stk_ref) && (!keep || keep[i]);
        if (e.s_t == string && !reference) {
            char *text = text_copy(entries[i], &e.length);
            e.s_c.C_S = text;
            e.flags &= static_cast<std::uint16_t>(~(stk_ref | stk_pointer));
            owned.push_back(text);
        } else if (e.s_t == real && !reference) {
            e.num = *entries[i].s_c.C_N;
            e.flags &= static_cast<std::uint16_t>(~stk_ref);
        }
    }
    point_at_own_values(copy, count);
    if (!owned.empty()) {
        *strings = g_new(char *, owned.size());
        std::memcpy(*strings, owned.data(), sizeof(char *) * owned.size());
        *nstrings = static_cast<int>(owned.size());
    }
    return copy;
}

Stack *cutil_cp_scm(const SubControlMatrix_t *scm, char ***strings, int *nstrings)
{
    std::vector<Stack> entries(static_cast<std::size_t>(scm->nparams));
    std::vector<const char *> names(static_cast<std::size_t>(scm->nparams));
    cattach_params(scm, entries.data(), names.data());
    return cutil_cp_stk(entries.data(), scm->nparams, strings, nstrings, names.data());
}

void cutil_free_stk(Stack *copy, char **strings, int nstrings)
{
    for (int i = 0; i < nstrings; ++i) g_free(strings[i]);
    g_free(strings);
    g_free(copy);
}

// ---- Removal and freeing ---------------------------------------------------------------------------------------

void cremove_scm(ControlMatrix_t *cm, SubControlMatrix_t *scm)
{
    list_unlink(cm, scm);
    if (cm_routine_running(cm))
        park(cm, scm);
    else
        cremove_free_scm(scm);
}

void cremove_free_scm(SubControlMatrix_t *scm)
{
    if (scm->prior) scm->prior->next = scm->next;
    if (scm->next) scm->next->prior = scm->prior;
    const unsigned char *at = packed(scm);
    for (int i = 0; i < scm->nparams; ++i) {
        Stack e;
        char *name;
        at = unpack(at, e, &name);
        if (e.s_t == string && !(e.flags & stk_ref)) g_free(e.s_c.C_S);
        g_free(name);
    }
    if (void *record = scm->setup) {
        handle_revoke_record(record);
        const RecordKindHooks &row = record_kind(setup_kind(scm));
        if (row.free) row.free(record);
        g_free(record);
    }
    g_free(scm);
}

void cmat_free_scmfree(ControlMatrix_t *cm)
{
    while (SubControlMatrix_t *s = cm->scm_free_list) {
        cm->scm_free_list = s->next;
        s->prior = s->next = nullptr;
        cremove_free_scm(s);
    }
}

void cattach_free_all(ControlMatrix_t *cm)
{
    while (SubControlMatrix_t *s = cm->scm_list) {
        cm->scm_list = s->next;
        s->prior = s->next = nullptr;
        cremove_free_scm(s);
    }
    cm->scm_last = nullptr;
    cmat_free_scmfree(cm);
    delete cm->scm_index;
    cm->scm_index = nullptr;
}

// ---- Soft keys -------------------------------------------------------------------------------------------------

void cutil_get_active_function_keys(ControlMatrix_t *cm, int index, int flags[CM_SOFT_KEYS])
{
    std::fill(flags, flags + CM_SOFT_KEYS, 0);
    for (const SubControlMatrix_t *s = cm->scm_list; s; s = s->next)
        if (s->ind == index || s->ind == 0)
            if (const int slot = soft_key_slot(s->action_code); slot >= 0) flags[slot] = 1;
    flags[8] = 1;
    flags[0] = 1;
    // A zoom picks its selected row with F12 itself, routine or none.
    if (cm->type == CM_WT_ZOOM) flags[12] = 1;
}

void cutil_set_active_function_keys(ControlMatrix_t *cm, int index)
{
    int flags[CM_SOFT_KEYS];
    cutil_get_active_function_keys(cm, index, flags);
    cfunctionkey_set(cm, flags);
}

// ---- Storing into string variables --------------------------------------------------------------------------

void cutil_store_padded(Stack &e, std::string_view text)
{
    const bool pointer = (e.flags & stk_pointer) != 0;
    const std::uint32_t declared = e.s_dims[0];
    if (!pointer && declared == 0) return;
    // The text cut and padded (variables are short: a buffer of the stack serves most).
    char small[256];
    std::string large;
    const std::size_t size = pointer ? text.size() : declared;
    char *value = small;
    if (size > sizeof small) {
        large.resize(size);
        value = large.data();
    }
    const std::size_t kept = std::min(text.size(), size);
    if (kept) std::memcpy(value, text.data(), kept);
    if (size > kept) std::memset(value + kept, ' ', size - kept);
    // A store made outside any statement: no substring of the program's is pending.
    const int saved_srange = srange, saved_substring = substring;
    srange = -1;
    substring = 0;
    const long flags = pointer ? static_cast<long>(s_pointer | s_string) : -1;
    const int n = store_string(e.s_c.C_S, value, static_cast<long>(size), static_cast<int>(declared), 0, 0,
                               (e.flags & stk_fixed) != 0, (e.flags & stk_based) != 0, e.params[0], e.params[1],
                               static_cast<Address>(-1), flags);
    srange = saved_srange;
    substring = saved_substring;
    e.length = static_cast<std::uint32_t>(n);
}

// ---- Routines by number ---------------------------------------------------------------------------------------

Routine *cutil_routine_by_number(int number, Application_t *ap)
{
    Routine *routine = GetRoutine(number);
    const char *program = Program_name ? Program_name : "";
    if (!routine) Abort("Routine %d not found! Program_name %s", number, program);
    if (routine->R_name.empty()) {
        if (global_data->log_level_lumbas >= 0)
            mlog(0, "interp 0x%lX, app 0x%lX\n", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(Minterp)),
                 static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(ap)));
        if (ap) PrintApplication(ap, stdout);
        Abort("Routine %d is nameless! Program_name %s", number, program);
    }
    return routine;
}

// ---- Symbols ---------------------------------------------------------------------------------------------------

Symbol *cutil_get_symbol(int routine, int also_global, const void *address, unsigned kind)
{
    auto search = [&](int r) -> Symbol * {
        if (!routines || r < 0 || r > loaded_routines || r >= MAX_ROUTINES) return nullptr;
        for (Symbol *s = routines[r].R_variables; s; s = s->S_fwd) {
            const SymType t = s->S_type;
            if (!(t & s_variable) || (t & kind) != kind) continue;
            if (!(kind & s_struct) && (t & s_struct)) continue;
            if (s->S_memloc == reinterpret_cast<Address>(address)) return s;
        }
        return nullptr;
    };
    if (Symbol *s = search(routine)) return s;
    return also_global && routine != 0 ? search(0) : nullptr;
}

// ---- Field records of a field ------------------------------------------------------------------------------------

void *ginput_get_mintype(ControlMatrix_t *cm, int index)
{
    SubControlMatrix_t *s = first_setup(cm, index, {AC_INPUT_SETUP, AC_NOTE_SETUP});
    if (!s) {
        const int type = index >= 1 && index <= cm->field_count ? cm_field(cm, index).type : 0;
        Abort("Encountered field at index %d type %d with missing internal reference. Check that the Widget was "
              "created with the correct index number.",
              index, type);
    }
    const int kind = setup_kind(s);
    if (kind != CM_FIELD_TYPE_GINPUT && kind != CM_FIELD_TYPE_GNOTE)
        Abort("Sub Control Matrix for field must be type Input or Note not %d", kind);
    return s->setup;
}

void *gtext_get_mintype(ControlMatrix_t *cm, int index)
{
    SubControlMatrix_t *s = first_setup(cm, index, {AC_TEXT_SETUP});
    if (!s) Abort("Hidden data not found for Text widget; Index = %d", index);
    if (setup_kind(s) != CM_FIELD_TYPE_GTEXT)
        Abort("Sub Control Matrix for an Text field must be type Text not %d", setup_kind(s));
    return s->setup;
}

void *glabel_get_type(ControlMatrix_t *cm, int index)
{
    SubControlMatrix_t *s = first_setup(cm, index, {AC_LABEL_SETUP});
    if (!s) Abort("Must call iglabel_setup for fields of type label; Index = %d", index);
    if (setup_kind(s) != CM_FIELD_TYPE_GLABEL)
        Abort("Sub Control Matrix for a Label field must be type Label not %d", setup_kind(s));
    return s->setup;
}

void *gdate_get_yr(ControlMatrix_t *cm, int index)
{
    SubControlMatrix_t *s = first_setup(cm, index, {AC_DATE_SETUP});
    if (!s) Abort("Must call igdate_setup for fields of type date; Index = %d", index);
    return s->setup;
}
