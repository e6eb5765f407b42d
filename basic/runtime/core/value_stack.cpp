// The value stack and the access to program variables: popping and unwinding, the gosub stack,
// numeric subscripts, string loads and stores (substrings, fixed, based and pointer strings),
// parameter and COMMON binding, structure parameters and the program's pointer blocks.
//
// Every check runs before the first byte is written, and no store writes outside its field.
#include "value_stack.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>

#include "applications.h"
#include "common_block.h"
#include "exec_util.h"
#include "globals.h"
#include "interp.h"
#include "intrinsics.h"
#include "mem_mgt.h"
#include "structops.h"

Stack *Stk;
int sp = -1;
int srange = -1;
int substring;

namespace {

constexpr long TYPE_POINTER = static_cast<long>(s_pointer);

bool pointer_field(long flags) { return flags != -1 && (flags & TYPE_POINTER); }

// The variable's name for a message, or "" when messages carry none.
std::string var_name(Address variable, long flags)
{
    if (variable == static_cast<Address>(-1)) return "";
    return get_var_ex_memloc(variable, flags);
}

// Element e of a two-subscript string reference (the top entry), checked against dim2.
int element_number(int dim2, Address variable, long flags, const char *plain, const char *named)
{
    int e = integer_of(Stk[sp]);
    if (e > dim2 || e < 1) {
        if (variable == static_cast<Address>(-1)) Xerror(203, plain, e, dim2);
        Xerror(203, named, e, dim2, var_name(variable, flags).c_str());
    }
    return e;
}

// The 0-based character offset given by the first subscript (the entry nsubs-1 below the top).
int first_offset(int nsubs)
{
    if (nsubs < 1) return 0;
    int s = integer_of(Stk[sp - (nsubs - 1)]);
    return s == INT_MIN + 1 ? INT_MIN + 1 : s - 1;
}

// The text a pointer variable's field refers to, for reading: a reference the pointer accounting
// does not record for this field is refused, never followed.
const char *pointer_text(const char *field) { return text_field_text(field, "Pointer string"); }

PointerMem_t **pointer_list(Interp_t *context)
{
    Application_t *ap = context ? context->current_application : current_application;
    if (!ap || !ap->app) return nullptr;
    return &ap->app->pointer_memory;
}

PointerMem_t *pointer_node(Interp_t *context, const void *variable)
{
    PointerMem_t **list = pointer_list(context);
    for (PointerMem_t *p = list ? *list : nullptr; p; p = p->next)
        if (p->variable == variable) return p;
    return nullptr;
}

// Short owned texts: most value entries' texts are a few bytes and are popped soon after they are
// made, so blocks of a small size go to a short list on release and serve the next short copy
// instead of going back to the allocator. They stay ordinary malloc blocks: whoever frees one
// with sfree frees it as any other.
constexpr std::size_t SHORT_TEXT = 24;  // the room of the allocator's smallest chunk
constexpr std::size_t KEPT_TEXT = 64;   // the largest block the list keeps
constexpr int KEPT_BLOCKS = 32;
char *kept_blocks[KEPT_BLOCKS];
int kept_count;

} // namespace

char *text_block(std::size_t size)
{
    if (size <= SHORT_TEXT) {
        if (kept_count > 0) return kept_blocks[--kept_count];
        size = SHORT_TEXT;
    }
    auto *block = static_cast<char *>(std::malloc(size));
    if (!block) Abort("Malloc: insufficient memory at line %d. @%s:%d", yylineno, __FILE__, __LINE__);
    return block;
}

void not_numeric(const Stack &entry)
{
    Abort("Numeric value expected on the value stack (entry kind %d)", static_cast<int>(entry.s_t));
}

void release_entry(Stack &entry)
{
    char *text = entry.s_c.C_S;
    entry.s_c.C_S = nullptr;
    if (kept_count < KEPT_BLOCKS) {
        const std::size_t room = malloc_usable_size(text);
        if (room >= SHORT_TEXT && room <= KEPT_TEXT) {
            kept_blocks[kept_count++] = text;
            return;
        }
    }
    std::free(text);  // as sfree does, without the call into the library
}

void push_gosub(Code *position, Code **stack, int *count)
{
    if (*count > GOSUB_STK - 1) Abort("Internal gosub stack overflow");
    stack[(*count)++] = position;
}

Code *pop_gosub(Code **stack, int *count)
{
    if (*count < 1) Abort("Internal gosub stack underflow");
    return stack[--*count];
}

void unwind_stack(Code **pc, int *frame, int *routine)
{
    for (int i = sp; i >= 0; --i) {
        Stack &m = Stk[i];
        if (m.s_t != marker) continue;
        *pc = m.s_c.C_L;
        *frame = static_cast<int>(static_cast<std::int64_t>(m.params[0]));
        *routine = static_cast<int>(m.params[1]);
        // Entries left above the marker go; what they own is freed with them.
        POPSTK(sp - i);
        const int args = static_cast<int>(std::min<std::uint32_t>(m.length, static_cast<std::uint32_t>(i)));
        POPSTK(args + 1);
        return;
    }
    *pc = nullptr;
    *frame = -1;
}

int numeric_offset(int nsubs, int dim1, int dim2, int top, Address variable, long flags)
{
    auto fail = [&](const char *plain, const char *named, int value) {
        if (variable == static_cast<Address>(-1)) Xerror(203, plain, value);
        Xerror(203, named, value, var_name(variable, flags).c_str());
    };
    if (nsubs <= 0) return 0;
    if (nsubs == 1) {
        int k = integer_of(Stk[top]);
        if (k < 1 || k > dim1) fail("Subscript (val %d) out of bounds", "Subscript (val %d) out of bounds on Var: %s", k);
        return k - 1;
    }
    int i = integer_of(Stk[top - 1]);
    if (i < 1 || i > dim1)
        fail("Subscript 1 (val %d) out of bounds", "Subscript 1 (val %d) out of bounds on Var: %s", i);
    int j = integer_of(Stk[top]);
    if (j < 1 || j > dim2)
        fail("Subscript 2 (val %d) out of bounds", "Subscript 2 (val %d) out of bounds on Var: %s", j);
    return (i - 1) + dim1 * (j - 1);
}

const char *get_var_ex_memloc(Address address, long flags)
{
    if (!routines || cur_routine < 0 || cur_routine >= MAX_ROUTINES) return "Unknown_Var";
    const SymType type = static_cast<SymType>(flags);
    for (Symbol *s = routines[cur_routine].R_variables; s; s = s->S_fwd) {
        const SymType kind = s->S_type & (s_numeric | s_string);
        if ((kind & type) != kind) continue;
        if ((s->S_type & s_common) != (type & s_common)) continue;
        if (s->S_memloc == address) return s->S_name.c_str();
    }
    return "Unknown_Var";
}

const char *entry_text(const Stack &entry, long *length)
{
    if (entry.flags & stk_pointer) {
        const char *text = pointer_text(entry.s_c.C_S);
        *length = text ? static_cast<long>(std::strlen(text)) : 0;
        return text;
    }
    *length = entry.s_c.C_S ? static_cast<long>(entry.length) : 0;
    return entry.s_c.C_S;
}

void load_string(char *address, long length, int max_length, int dim2, int nsubs, bool as_reference,
                 Address variable, long flags)
{
    if (nsubs == 2) {
        int e = element_number(dim2, variable, flags, "Second subscript out of bounds (Val %d past %d)",
                               "Second subscript out of bounds (Val %d past %d) Var: %s");
        address += static_cast<long>(e - 1) * max_length;
    }
    const char *text = address;
    int o = 0;
    if (pointer_field(flags)) {
        text = pointer_text(address);
        length = text ? static_cast<long>(std::strlen(text)) : 0;
    } else {
        if (length < 0) length = static_cast<long>(strnlen(address, static_cast<std::size_t>(std::max(max_length, 0))));
        o = first_offset(nsubs);
    }
    const long taken = srange >= 0 ? srange : length - o;
    if (o < 0 || (o != 0 && length <= o) || length < taken + o || taken < 0) {
        if (variable == static_cast<Address>(-1))
            Xerror(205, "Attempt to reference string beyond current length (offset %d)", o);
        Xerror(205, "Attempt to reference string beyond current length (offset %d) Var: %s", o,
               var_name(variable, flags).c_str());
    }

    sp -= nsubs;  // subscripts are numbers: nothing to free
    Stack &e = Stk[++sp];
    e = Stack{};
    e.length = static_cast<std::uint32_t>(taken);
    if (as_reference) {
        e.s_c.C_S = address + o;
        e.s_dims[0] = static_cast<std::uint32_t>(srange >= 0 ? srange : max_length - o);
        e.s_dims[1] = (dim2 >= 1 && nsubs == 0) ? static_cast<std::uint32_t>(dim2) : 0;
        e.s_t = e.s_dims[1] ? string_array : string;
        e.flags = stk_ref;
    } else {
        // Every byte of the copy is written: it needs no zero fill.
        char *copy = text_block(static_cast<std::size_t>(taken) + 1);
        if (taken > 0) std::memcpy(copy, text + o, static_cast<std::size_t>(taken));
        copy[taken] = '\0';
        e.s_c.C_S = copy;
        e.s_dims[0] = static_cast<std::uint32_t>(taken);
        e.s_t = string;
    }
}

int store_string(char *address, const char *text, long text_length, int max_length, int dim2, int nsubs,
                 int fixed, int based, Address, Address, Address variable, long flags)
{
    if (srange == 0) Xerror(205, "Attempt to store into zero-length sub-string");
    if (nsubs == 2) {
        int e = element_number(dim2, variable, flags, "Second subscript out of bounds. Val %d past %d",
                               "Second subscript out of bounds. Val %d past %d Var: %s");
        address += static_cast<long>(e - 1) * max_length;
    }
    if (!text) text_length = 0;

    if (pointer_field(flags)) {
        // The field holds the address of a block of the program's pointer memory.
        PointerMem_t *node = pointer_node(Minterp, address);
        const char *old = BasicPtrtoText(address);  // compared, never followed
        if (old && node && node->block == old) {
            sfree(node->block);
            node->block = nullptr;
        }
        ClearBasicPtr(address);
        char *block = nullptr;
        if (text_length > 0) {
            block = static_cast<char *>(salloc(static_cast<std::size_t>(text_length) + 1));
            std::memcpy(block, text, static_cast<std::size_t>(text_length));
            block[text_length] = '\0';
        }
        add_pointer_mem_usage(Minterp, address, block);
        if (block) CtoBasicPtr(address, block);
        return static_cast<int>(text_length);
    }

    auto past = [&](long value) {
        if (variable == static_cast<Address>(-1))
            Xerror(205, "Attempt to set string past maximum length (Val %ld past %d)", value, max_length);
        const char *name = get_var_ex_memloc(variable, flags);
        Xerror(205, "Attempt to set string past maximum length (Val %ld) Var: %s", value,
               std::strcmp(name, "Unknown_Var") == 0 ? "UnknownVar" : name);
    };
    const long o = first_offset(nsubs);
    if (o < 0) past(o);
    const long room = srange >= 0 ? srange : max_length - o;
    if (room <= 0) past(o);
    const long n = std::min(room, text_length);
    if (o + n > max_length) past(o + n);

    const long current = static_cast<long>(strnlen(address, static_cast<std::size_t>(max_length)));
    if (current < o) std::memset(address + current, ' ', static_cast<std::size_t>(o - current));
    if (n > 0) std::memmove(address + o, text, static_cast<std::size_t>(n));
    long end = o + n;
    if ((fixed || nsubs > 0) && srange < 0) {
        std::memset(address + end, ' ', static_cast<std::size_t>(max_length - end));
        end = max_length;
    }
    if (!based && !fixed && !substring) {
        const bool inside_old_text = srange >= 0 && end < current;
        // A full field needs no terminator: loads never read past its maximum length.
        if (!inside_old_text && end < max_length) address[end] = '\0';
    }
    return static_cast<int>(end);
}

void ArgumentSymbolMemory(Routine *routine, Stack *first, int count)
{
    const int nsp = count;
    int i = 0;
    for (Symbol *s = routine->R_variables; s; s = s->S_fwd) {
        if (!(s->S_type & s_args) || (s->S_type & s_based)) continue;
        if (i >= nsp) break;
        s->S_memloc = reinterpret_cast<Address>(first[i++].s_c.C_P);
    }
    PROGRAM_ASSERT(i == nsp);
}

void CommonSymbolMemory(Application_t *ap)
{
    if (!Common_variables || !ap || !ap->app || !ap->app->routines) return;
    const auto base = reinterpret_cast<Address>(Common_variables);
    for (int r = 0; r < ap->app->routine_count && r < MAX_ROUTINES; ++r)
        for (Symbol *s = ap->app->routines[r].R_variables; s; s = s->S_fwd)
            if ((s->S_type & s_common) && (s->S_type & s_variable) && !(s->S_type & s_args)) s->S_memloc += base;
}

namespace {

// Whether address is the place of a structure variable of the main routine.
bool global_structure(Address address)
{
    if (!routines || loaded_routines < 0) return false;
    for (Symbol *s = routines[0].R_variables; s; s = s->S_fwd) {
        const SymType t = s->S_type;
        if ((t & s_struct) && (t & s_variable) && !(t & (s_numeric | s_string)) && s->S_memloc == address) return true;
    }
    return false;
}

bool routine_record(Address address)
{
    if (address == 0) return true;
    for (int i = 0; routines && i <= loaded_routines && i < MAX_ROUTINES; ++i)
        if (reinterpret_cast<Address>(&routines[i]) == address) return true;
    return false;
}

} // namespace

void passign_val_global_def(Address address)
{
    if (!global_structure(address)) Abort("Illegal attempt to assign a localised struct");
}

void varadr_val_global_def(Address address)
{
    passign_val_global_def(address);
}

void passign(int parameter)
{
    long length = 0;
    const char *text = entry_text(Stk[sp], &length);
    char buffer[80];
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length), sizeof buffer - 1);
    if (n) std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    unsigned long v = 0, r = 0;
    char rest;
    if (std::sscanf(buffer, "0x%lX:0x%lX%c", &v, &r, &rest) != 2) Abort("Bad format passign string - %s", buffer);
    if (parameter < 0 || parameter >= MAX_PSTRUCTS) Abort("Bad structure parameter number %d", parameter);
    passign_val_global_def(v);
    // The routine reference is followed by the structure operations: it must name a routine.
    if (!routine_record(r)) Abort("Illegal attempt to assign a localised struct");
    routines[cur_routine].pstruct_refs[parameter].v_adr = v;
    routines[cur_routine].pstruct_refs[parameter].r_adr = r;
}

void add_pointer_mem_usage(Interp_t *context, void *variable, void *block)
{
    PointerMem_t **list = pointer_list(context);
    if (!list) Abort("No memory whilst allocating pointer memory!");
    PointerMem_t **tail = list;
    for (; *tail; tail = &(*tail)->next)
        if ((*tail)->variable == variable) {
            (*tail)->block = block;
            return;
        }
    auto *node = static_cast<PointerMem_t *>(DpsXmalloc(sizeof(PointerMem_t)));
    if (!node) Abort("No memory whilst allocating pointer memory!");
    *node = PointerMem_t{variable, block, nullptr};
    *tail = node;
}

PointerMem_t *find_pointer_mem_usage(const void *variable, const void *block)
{
    if (!block) return nullptr;
    auto records = [&](PointerMem_t *list) -> PointerMem_t * {
        for (PointerMem_t *p = list; p; p = p->next)
            if (p->variable == variable) return p->block == block ? p : nullptr;
        return nullptr;
    };
    PointerMem_t **own = pointer_list(Minterp);
    if (PointerMem_t *p = own ? records(*own) : nullptr) return p;
    // A structure handed to a program of another application keeps its texts in the accounting
    // of the application that stored them.
    for (Application_t *ap = applications; ap; ap = ap->next)
        if (ap->app && (!own || &ap->app->pointer_memory != own))
            if (PointerMem_t *p = records(ap->app->pointer_memory)) return p;
    return nullptr;
}

int lookup_routine(const char *name)
{
    for (int i = 0; routines && name && i <= loaded_routines && i < MAX_ROUTINES; ++i)
        if (routines[i].R_name == name) return i;
    return -1;
}

void pstk()
{
    for (int i = 0; i <= sp; ++i) {
        const Stack &e = Stk[i];
        std::fprintf(stderr, "Stack[%3.3d] = ", i);
        switch (e.s_t) {
        case real: {
            char text[64];
            NumericToASC(e.s_c.C_N, text, 40, -1);
            text[40] = '\0';
            std::fprintf(stderr, "%s%s\n", (e.flags & stk_ref) ? "&" : "", text);
            break;
        }
        case string: {
            long n = 0;
            const char *t = entry_text(e, &n);
            std::fprintf(stderr, "\"%.*s\"\n", static_cast<int>(n), t ? t : "");
            break;
        }
        case real_array: std::fputs("Numeric array\n", stderr); break;
        case string_array: std::fputs("String array\n", stderr); break;
        case intrinsic: {
            const auto c = static_cast<std::size_t>(e.s_c.C_A);
            std::fprintf(stderr, "Intrinsic %s\n", c < IN_ROWS ? inbuilt[c].F_name : "?");
            break;
        }
        case label: std::fprintf(stderr, "Label %lo\n", static_cast<unsigned long>(e.s_c.C_A)); break;
        case marker: std::fprintf(stderr, "Stack frame %lo\n", static_cast<unsigned long>(e.s_c.C_A)); break;
        default: std::fprintf(stderr, "Unknown type - %d\n", static_cast<int>(e.s_t)); break;
        }
    }
}
