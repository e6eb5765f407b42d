// The loads and stores of variables, parameters and constants that both of the executor's paths
// run: where a direct op's operands place a variable (COMMON, the routine's own areas, a structure
// parameter), the cell or field a parameter-form op names, and the entries they push or store.
// Every offset, subscript and length from the program's code is checked against the room of its
// area before it is used.
#include "variables.h"

#include <algorithm>
#include <cstring>

#include "applications.h"
#include "common_block.h"
#include "exec_util.h"
#include "mem_mgt.h"
#include "run_time.h"
#include "value_stack.h"

namespace exec {
namespace {

constexpr long TYPE_NUMERIC = static_cast<long>(s_numeric);
constexpr long TYPE_STRING = static_cast<long>(s_string);
constexpr long TYPE_COMMON = static_cast<long>(s_common);
constexpr long TYPE_STRUCT = static_cast<long>(s_struct);
constexpr long TYPE_POINTER = static_cast<long>(s_pointer);

// ---- Storage of variables -------------------------------------------------------------------

// Where a direct op's operands place a variable: its first byte, the room from there to the end
// of its area, and its type bits for messages.
struct Place {
    char *base;
    long room;
    long flags;
};

[[noreturn]] void outside_area(long offset) { Abort("Variable reference outside its area (offset %ld)", offset); }

// The message sites of a structure parameter that is not bound: the number that opens the message
// tells which op met it.
enum PstructSite {
    SITE_LOADR_DIRECT = 1,   // loadrad, loadrvd
    SITE_LOADST_DIRECT = 2,  // loadstad, loadstvd
    SITE_LOADS_DIRECT = 4,   // loadsad, loadsvd
    SITE_STORR_DIRECT = 6,   // storrd
    SITE_STORS_DIRECT = 8,   // storsd
};

const char *pstruct_message(PstructSite site)
{
    static const char *const texts[] = {
        "",
        "1.Illegal pstruct field reference - %d'th pstruct in routine %s\n",
        "2.Illegal pstruct field reference - %d'th pstruct in routine %s\n",
        "3.Illegal pstruct field reference - %d'th pstruct in routine %s\n",
        "4.Illegal pstruct field reference - %d'th pstruct in routine %s\n",
        "5.Illegal pstruct field reference - %d'th pstruct in routine %s\n",
        "6.Illegal pstruct field reference - %d'th pstruct in routine %s\n",
        "7. Illegal pstruct field reference - %d'th pstruct in routine %s\n",
        "8.Illegal pstruct field reference - %d'th pstruct in routine %s\n",
        "9.Illegal pstruct field reference - %d'th pstruct in routine %s\n",
        "10.Illegal pstruct field reference - %d'th pstruct in routine %s\n",
    };
    return texts[site];
}

// The structure parameter of selector area (30 and above) of the running routine.
PStructRef &pstruct(long area, PstructSite site)
{
    const long n = area - AREA_PSTRUCT;
    if (n >= MAX_PSTRUCTS) Abort("Illegal structure parameter number %ld", n);
    PStructRef &ref = running_routine().pstruct_refs[n];
    if (ref.r_adr == 0) Abort(pstruct_message(site), static_cast<int>(n), Rname ? Rname : "");
    return ref;
}

// Room from address to the end of the application's structure area (0 when outside it).
long room_in_structures(const char *address)
{
    const AppMemory_t *mem = current_application ? current_application->app : nullptr;
    if (!mem || !mem->structs) return 0;
    if (address < mem->structs || address >= mem->structs + mem->stcount) return 0;
    return static_cast<long>(mem->structs + mem->stcount - address);
}

// Byte areas: COMMON (selector 0), the routine's structure area (2), a structure parameter (30
// and above) or the routine's character area (any other).
Place byte_place(long offset, long area, PstructSite site, long type)
{
    if (offset < 0) outside_area(offset);
    if (area == AREA_COMMON) {
        if (!Common_variables) Abort("COMMON variable used before COMMON is declared");
        if (offset >= Common_size) outside_area(offset);
        return {static_cast<char *>(Common_variables) + offset, Common_size - offset, type | TYPE_COMMON};
    }
    if (area == AREA_STRUCTS) {
        if (!local_structs || offset >= running_routine().local_stcount) outside_area(offset);
        return {local_structs + offset, running_routine().local_stcount - offset, type | TYPE_STRUCT};
    }
    if (area >= AREA_PSTRUCT) {
        const Address v = pstruct(area, site).v_adr;
        char *at = reinterpret_cast<char *>(v + static_cast<Address>(offset));
        const long room = room_in_structures(at);
        if (room <= 0) outside_area(offset);
        return {at, room, type | TYPE_STRUCT};
    }
    if (!local_chars || offset >= running_routine().local_ccount) outside_area(offset);
    return {local_chars + offset, running_routine().local_ccount - offset, type};
}

// Numeric variables: as byte areas, except that the routine's own area counts 22-byte cells.
Place numeric_place(long offset, long area, PstructSite site)
{
    if (area == AREA_COMMON || area == AREA_STRUCTS || area >= AREA_PSTRUCT) return byte_place(offset, area, site, TYPE_NUMERIC);
    if (offset < 0 || offset >= running_routine().local_ncount) outside_area(offset);
    return {reinterpret_cast<char *>(local_numerics + offset),
            static_cast<long>(running_routine().local_ncount - offset) * static_cast<long>(sizeof(dec_t)), TYPE_NUMERIC};
}

// The cell of a numeric element: base plus the subscripted index, inside the room.
dec_t *numeric_cell(const Place &p, int nsubs, int dim1, int dim2, Address variable, long flags)
{
    need(nsubs);
    const int index = numeric_offset(nsubs, dim1, dim2, sp, variable, flags);
    if ((static_cast<long>(index) + 1) * static_cast<long>(sizeof(dec_t)) > p.room) outside_area(index);
    return reinterpret_cast<dec_t *>(p.base + static_cast<long>(index) * static_cast<long>(sizeof(dec_t)));
}

// The parameter entry at index relative to the running routine's frame base.
Stack &parameter(Run &run, int index)
{
    const long at = static_cast<long>(run.frame) + index;
    if (run.frame < 0 || index < 0 || at > sp) Abort("Illegal parameter reference %d", index);
    return Stk[at];
}

bool structure_selector(long area) { return area == AREA_STRUCTS || area >= AREA_PSTRUCT; }

// ---- Numeric loads and stores ---------------------------------------------------------------

// Pushes a numeric cell for a load: by address a reference carrying dims (a real_array when
// array is set), else a real holding a copy of the cell.
void push_numeric(dec_t *cell, bool by_address, const std::uint32_t dims[2], bool array)
{
    Stack &e = push();
    e.length = 0;
    e.params[0] = e.params[1] = 0;
    if (by_address) {
        e.s_c.C_N = cell;
        e.flags = stk_ref;
        e.s_dims[0] = dims[0];
        e.s_dims[1] = dims[1];
        e.s_t = array ? real_array : real;
    } else {
        e.num = *cell;
        e.s_c.C_N = &e.num;
        e.flags = 0;
        e.s_dims[0] = e.s_dims[1] = 0;
        e.s_t = real;
    }
}

void load_numeric_direct(Code *&pc, bool by_address)
{
    static_assert(WORDS<o_loadrad> == 5 && WORDS<o_loadrvd> == 5);
    const long offset = operand(pc), area = static_cast<long>(pc[1].param);
    const int dim1 = operand(pc + 2), dim2 = operand(pc + 3), nsubs = operand(pc + 4);
    pc += WORDS<o_loadrvd>;
    const Place p = numeric_place(offset, area, SITE_LOADR_DIRECT);
    const auto variable = reinterpret_cast<Address>(p.base);
    dec_t *cell = numeric_cell(p, nsubs, dim1, dim2, variable, p.flags);
    sp -= nsubs;
    // A whole variable is an array when its first dimension is set.
    const bool whole = nsubs == 0 && !structure_selector(area);
    const std::uint32_t dims[2] = {whole ? static_cast<std::uint32_t>(dim1) : 0,
                                   whole ? static_cast<std::uint32_t>(dim2) : 0};
    push_numeric(cell, by_address, dims, whole && dim1 != 0);
}

// A field of the structure passed as parameter index, at its 1-based offset.
Place parameter_field(const Stack &param, int index, long offset, long type)
{
    if (param.s_t != bstruct || offset < 1 || !param.s_c.C_P)
        Abort("Illegal structure field reference through parameter %d", index);
    char *at = static_cast<char *>(param.s_c.C_P) + offset - 1;
    const Place p{at, room_in_structures(at), type | TYPE_STRUCT};
    if (p.room <= 0) outside_area(offset);
    return p;
}

// The six operands of a parameter-form op: parameter index, subscript count, area selector,
// offset and the two dimensions (or max length and element count for strings).
struct ParamOperands {
    int index, nsubs;
    long area, offset;
    int dim1, dim2;
};

ParamOperands param_operands(Code *&pc)
{
    static_assert(WORDS<o_loadrai> == 6 && WORDS<o_loadrvi> == 6 && WORDS<o_storri> == 6 && WORDS<o_loadsai> == 6 &&
                  WORDS<o_loadsvi> == 6 && WORDS<o_storsi> == 6 + 2);
    ParamOperands o{operand(pc), operand(pc + 1), static_cast<int>(operand(pc + 2)), operand(pc + 3),
                    operand(pc + 4), operand(pc + 5)};
    pc += WORDS<o_loadrvi>;
    need(o.nsubs);
    return o;
}

// The cell a parameter-form op addresses (loadrai, loadrvi, storri); leaves the subscripts.
dec_t *parameter_cell(Run &run, Code *&pc, int &nsubs, bool &whole, std::uint32_t dims[2])
{
    const auto [index, n_subs, area, offset, dim1, dim2] = param_operands(pc);
    nsubs = n_subs;
    Stack &param = parameter(run, index);
    if (structure_selector(area)) {
        const Place p = parameter_field(param, index, offset, TYPE_NUMERIC);
        whole = false;
        dims[0] = dims[1] = 0;
        return numeric_cell(p, nsubs, dim1, dim2, static_cast<Address>(-1), -1);
    }
    if ((param.s_t != real && param.s_t != real_array) || !param.s_c.C_N) not_numeric(param);
    const int n = numeric_offset(nsubs, static_cast<int>(param.s_dims[0]), static_cast<int>(param.s_dims[1]), sp,
                                 static_cast<Address>(-1), -1);
    whole = nsubs == 0;
    dims[0] = param.s_dims[0];
    dims[1] = param.s_dims[1];
    return param.s_c.C_N + n;
}

void load_numeric_parameter(Run &run, Code *&pc, bool by_address)
{
    int nsubs;
    bool whole;
    std::uint32_t dims[2];
    dec_t *cell = parameter_cell(run, pc, nsubs, whole, dims);
    sp -= nsubs;
    // A whole parameter is an array when either of the dimensions it carries is set.
    if (!whole) dims[0] = dims[1] = 0;
    push_numeric(cell, by_address, dims, whole && dims[0] + dims[1] != 0);
}

// The value of the entry to store into a numeric variable.
void numeric_value_of(const Stack &value, dec_t *into)
{
    if (value.s_t == real) {
        *into = *numeric_of(value);
        return;
    }
    long n = 0;
    const char *text = value.s_t == string ? entry_text(value, &n) : nullptr;
    if (!text || NumericCvASC(text, static_cast<int>(std::min<long>(n, INT32_MAX)), into) != 0)
        Xerror(207, "Attempt to store non-numeric in numeric variable");
}

void store_numeric_direct(Code *&pc)
{
    const long offset = operand(pc), area = static_cast<long>(pc[1].param);
    const int dim1 = operand(pc + 2), dim2 = operand(pc + 3), nsubs = operand(pc + 4);
    static_assert(WORDS<o_storrd> == 5);
    pc += WORDS<o_storrd>;
    need(nsubs + 1);
    const Place p = numeric_place(offset, area, SITE_STORR_DIRECT);
    dec_t *cell = numeric_cell(p, nsubs, dim1, dim2, reinterpret_cast<Address>(p.base), p.flags);
    numeric_value_of(Stk[sp - nsubs], cell);
    POPSTK(nsubs + 1);
}

void store_numeric_parameter(Run &run, Code *&pc)
{
    int nsubs;
    bool whole;
    std::uint32_t dims[2];
    need(1);
    dec_t *cell = parameter_cell(run, pc, nsubs, whole, dims);
    need(nsubs + 1);
    numeric_value_of(Stk[sp - nsubs], cell);
    POPSTK(nsubs + 1);
}

// ---- String loads and stores ----------------------------------------------------------------

// Checks that a string field (or array of dim2 fields) of max_length bytes fits its room.
void check_string_room(const Place &p, long max_length, long dim2, bool pointer)
{
    const long size = std::max(max_length, pointer ? 8L : 0L);
    if (max_length < 0 || dim2 < 0 || size * std::max(dim2, 1L) > p.room) outside_area(p.room);
}

void load_string_direct(Code *&pc, bool by_address)
{
    const long offset = operand(pc), area = static_cast<long>(pc[1].param);
    const int max_length = operand(pc + 2), dim2 = operand(pc + 3), nsubs = operand(pc + 4);
    const bool pointer = operand(pc + 5) == 1, fixed = operand(pc + 6) == 1, based = operand(pc + 7) == 1;
    static_assert(WORDS<o_loadsad> == 8 && WORDS<o_loadsvd> == 8);
    pc += WORDS<o_loadsvd>;
    Address base_params[2] = {0, 0};
    if (by_address && based) {
        const Address base = reinterpret_cast<Address>(area == AREA_COMMON ? static_cast<char *>(Common_variables) : local_chars);
        base_params[0] = base + pc[0].param;
        base_params[1] = pc[1].param;
        pc += BASED_WORDS;
    }
    need(nsubs);
    const Place p = byte_place(offset, area, SITE_LOADS_DIRECT, TYPE_STRING | (pointer ? TYPE_POINTER : 0));
    check_string_room(p, max_length, dim2, pointer);
    const bool ranged = srange >= 0;
    load_string(p.base, -1, max_length, dim2, nsubs, by_address, reinterpret_cast<Address>(p.base), p.flags);
    Stack &e = Stk[sp];
    if (fixed) e.flags |= stk_fixed;
    if (based) e.flags |= stk_based;
    if (ranged) e.flags |= stk_substring;
    // A value load holds a copy of the pointed text, not the pointer field.
    if (pointer && by_address) e.flags |= stk_pointer;
    if (by_address && based) {
        e.params[0] = base_params[0];
        e.params[1] = base_params[1];
    }
    srange = -1;
}

// The field a string parameter-form op addresses: through a structure parameter, the field at
// the operand offset; otherwise the parameter entry itself.
struct StringTarget {
    char *address;
    long length;
    int max_length;
    int dim2;
    long flags;
    Stack *param;
};

StringTarget string_parameter(Run &run, Code *&pc, int &nsubs)
{
    const auto [index, n_subs, area, offset, max_length, dim2] = param_operands(pc);
    nsubs = n_subs;
    Stack &param = parameter(run, index);
    if (structure_selector(area)) {
        const Place p = parameter_field(param, index, offset, TYPE_STRING);
        char *at = p.base;
        check_string_room(p, max_length, dim2, false);
        return {at, -1, max_length, dim2, -1, &param};
    }
    if ((param.s_t != string && param.s_t != string_array) || !param.s_c.C_S)
        Abort("String parameter %d expected", index);
    const long flags = (param.flags & stk_pointer) ? TYPE_POINTER : -1;
    return {param.s_c.C_S, static_cast<long>(param.length), static_cast<int>(param.s_dims[0]),
            static_cast<int>(param.s_dims[1]), flags, &param};
}

void load_string_parameter(Run &run, Code *&pc, bool by_address)
{
    int nsubs;
    const StringTarget t = string_parameter(run, pc, nsubs);
    const std::uint16_t flags = t.param->flags;
    const Address params[2] = {t.param->params[0], t.param->params[1]};
    const bool from_entry = t.length >= 0;
    load_string(t.address, t.length, t.max_length, t.dim2, nsubs, by_address, static_cast<Address>(-1), t.flags);
    Stack &e = Stk[sp];
    if (from_entry) {
        e.flags |= flags | (by_address ? stk_ref : 0);
        if (!by_address) e.flags &= static_cast<std::uint16_t>(~(stk_ref | stk_pointer));
        if ((flags & stk_based) && by_address) {
            e.params[0] = params[0];
            e.params[1] = params[1];
        }
    }
    srange = -1;
}

// The text of the value entry of a string store (a number becomes its text).
const char *store_value(const Stack &value, long *length)
{
    if (value.s_t == real) {
        const char *text = Convert_BCD(numeric_of(value));
        *length = static_cast<long>(std::strlen(text));
        return text;
    }
    if (value.s_t != string && value.s_t != string_array) Abort("String value expected on the value stack");
    return entry_text(value, length);
}

void store_string_direct(Code *&pc)
{
    const long offset = operand(pc), area = static_cast<long>(pc[1].param);
    const int max_length = operand(pc + 2), dim2 = operand(pc + 3), nsubs = operand(pc + 4);
    const bool fixed = operand(pc + 5) == 1, pointer = operand(pc + 6) == 1, based = operand(pc + 7) == 1;
    static_assert(WORDS<o_storsd> == 8);
    pc += WORDS<o_storsd>;
    Address base_params[2] = {0, 0};
    if (based) {
        base_params[0] = pc[0].param;
        base_params[1] = pc[1].param;
        pc += BASED_WORDS;
    }
    need(nsubs + 1);
    const long type = TYPE_STRING | (based ? static_cast<long>(s_based) : 0) | (pointer ? TYPE_POINTER : 0) |
                      (fixed ? static_cast<long>(s_fixed) : 0);
    const Place p = byte_place(offset, area, SITE_STORS_DIRECT, type);
    check_string_room(p, max_length, dim2, pointer);
    long n = 0;
    const char *text = store_value(Stk[sp - nsubs], &n);
    substring = 0;
    store_string(p.base, text, n, max_length, dim2, nsubs, fixed, based, base_params[0], base_params[1],
                 reinterpret_cast<Address>(p.base), p.flags);
    POPSTK(nsubs + 1);
    srange = -1;
}

void store_string_parameter(Run &run, Code *&pc)
{
    int nsubs;
    need(1);
    const StringTarget t = string_parameter(run, pc, nsubs);
    const bool fixed = operand(pc) == 1;
    pc += WORDS<o_storsi> - WORDS<o_storri>;  // fixed flag, pointer flag (the entry tells a pointer field)
    need(nsubs + 1);
    long n = 0;
    const char *text = store_value(Stk[sp - nsubs], &n);
    const std::uint16_t f = t.param->flags;
    substring = (f & stk_substring) ? 1 : 0;
    const int result = store_string(t.address, text, n, t.max_length, t.dim2, nsubs, fixed || (f & stk_fixed),
                                    (f & stk_based) ? 1 : 0, t.param->params[0], t.param->params[1],
                                    static_cast<Address>(-1), t.flags);
    substring = 0;
    if (t.length >= 0) t.param->length = static_cast<std::uint32_t>(result);
    POPSTK(nsubs + 1);
    srange = -1;
}

// ---- Structure entries ----------------------------------------------------------------------

void push_structure(void *storage, std::uint32_t dim1, std::uint32_t dim2, bool by_address, Address routine)
{
    Stack &e = push();
    e = Stack{};
    e.s_t = bstruct;
    e.s_c.C_P = storage;
    e.s_dims[0] = dim1;
    e.s_dims[1] = dim2;
    e.flags = by_address ? stk_ref : 0;
    e.params[0] = routine;
}

void load_structure_direct(Code *&pc, bool by_address)
{
    const long offset = operand(pc), area = static_cast<long>(pc[1].param);
    const auto dim1 = static_cast<std::uint32_t>(pc[2].param), dim2 = static_cast<std::uint32_t>(pc[3].param);
    const int pops = operand(pc + 4);
    static_assert(WORDS<o_loadstad> == 5 && WORDS<o_loadstvd> == 5);
    pc += WORDS<o_loadstvd>;
    need(pops);
    void *storage;
    Address routine;
    if (area == AREA_STRUCTS) {
        PROGRAM_ASSERT(local_structs == routines[cur_routine].local_structs);
        if (offset < 0 || offset > running_routine().local_stcount) outside_area(offset);
        storage = local_structs + offset;
        routine = reinterpret_cast<Address>(&running_routine());
    } else if (area >= AREA_PSTRUCT) {
        const long n = area - AREA_PSTRUCT;
        if (n >= MAX_PSTRUCTS) Abort("Illegal structure parameter number %ld", n);
        PStructRef &ref = running_routine().pstruct_refs[n];
        if (ref.r_adr == 0 && dim2 != PASSIGN_VALUE) Abort(pstruct_message(SITE_LOADST_DIRECT), static_cast<int>(n), Rname ? Rname : "");
        storage = reinterpret_cast<void *>(ref.v_adr);
        routine = ref.r_adr;
    } else {
        Abort("Illegal structure area %ld", area);
    }
    POPSTK(pops);
    push_structure(storage, dim1, dim2, by_address, routine);
}

void load_structure_parameter(Run &run, Code *&pc, bool by_address)
{
    const int index = operand(pc), pops = operand(pc + 1);
    static_assert(WORDS<o_loadstai> == 2 && WORDS<o_loadstvi> == 2);
    pc += WORDS<o_loadstvi>;
    need(pops);
    const Stack param = parameter(run, index);
    if (param.s_t != bstruct) Abort("Structure parameter %d expected", index);
    POPSTK(pops);
    push_structure(param.s_c.C_P, param.s_dims[0], param.s_dims[1], by_address, param.params[0]);
}

} // namespace

bool variable_op(Run &run, unsigned op, Code *&pc)
{
    switch (op) {
    case o_loadrad: load_numeric_direct(pc, true); break;
    case o_loadrvd:
        if (const dec_t *cell = plain_cell(pc)) {
            pc += WORDS<o_loadrvd>;
            push_number(*cell);
        } else {
            load_numeric_direct(pc, false);
        }
        break;
    case o_loadrai: load_numeric_parameter(run, pc, true); break;
    case o_loadrvi: load_numeric_parameter(run, pc, false); break;
    case o_loadrc: {
        const dec_t *constant = pc->num;
        pc += WORDS<o_loadrc>;
        push_number(*constant);
        break;
    }
    case o_loadsad: load_string_direct(pc, true); break;
    case o_loadsvd: load_string_direct(pc, false); break;
    case o_loadsai: load_string_parameter(run, pc, true); break;
    case o_loadsvi: load_string_parameter(run, pc, false); break;
    case o_loadsc: {
        char *text = pc->string;
        const bool shared = operand(pc + 1) != 0;
        pc += WORDS<o_loadsc>;
        const auto n = static_cast<std::uint32_t>(std::strlen(text));
        Stack &e = push();
        e = Stack{};
        e.s_t = string;
        e.s_c.C_S = shared ? text : Strcpy(text);
        e.flags = shared ? stk_ref : 0;
        e.length = e.s_dims[0] = n;
        break;
    }
    case o_loadstad: load_structure_direct(pc, true); break;
    case o_loadstvd: load_structure_direct(pc, false); break;
    case o_loadstai: load_structure_parameter(run, pc, true); break;
    case o_loadstvi: load_structure_parameter(run, pc, false); break;
    case o_storrd:
        if (dec_t *cell = plain_cell(pc); cell && sp >= 0 && Stk[sp].s_t == real) {
            pc += WORDS<o_storrd>;
            *cell = *numeric_of(Stk[sp]);
            --sp;
        } else {
            store_numeric_direct(pc);
        }
        break;
    case o_storri: store_numeric_parameter(run, pc); break;
    case o_storsd: store_string_direct(pc); break;
    case o_storsi: store_string_parameter(run, pc); break;
    default: return false;
    }
    return true;
}

} // namespace exec
