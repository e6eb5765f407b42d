// Reading the arguments of an intrinsic off the value stack and writing its result.
#include <climits>
#include <cstring>

#include "applications.h"
#include "cases.h"
#include "common_block.h"
#include "dec_word.h"
#include "exec_util.h"
#include "executor.h"
#include "globals.h"
#include "mem_mgt.h"
#include "message.h"
#include "run_time.h"

namespace {

const char *current_name() { return Rname ? Rname : "intrinsic"; }

bool within(const void *address, std::size_t size, const void *area, std::size_t area_size)
{
    auto a = reinterpret_cast<std::uintptr_t>(address), b = reinterpret_cast<std::uintptr_t>(area);
    return area && a >= b && size <= area_size && a - b <= area_size - size;
}

// A block the program's pointer accounting owns, in any loaded application.
bool accounted_block(const void *block)
{
    for (Application_t *ap = applications; ap; ap = ap->next)
        for (PointerMem_t *p = ap->app ? ap->app->pointer_memory : nullptr; p; p = p->next)
            if (p->block == block) return true;
    return false;
}

} // namespace

namespace intr {

bool is_number(const Stack &e) { return (e.s_t == real || e.s_t == real_array) && e.s_c.C_N; }

const dec_t *number(const Stack &e)
{
    if (!is_number(e)) Abort("%s: numeric argument expected", current_name());
    return e.s_c.C_N;
}

int integer(const Stack &e)
{
    Stack copy = e;
    copy.s_t = real;
    copy.s_c.C_N = const_cast<dec_t *>(number(e));
    return integer_of(copy);
}

long long_integer(const Stack &e)
{
    long v = 0;
    NumericToLONG(number(e), &v);
    return v;
}

std::string_view pointed_text(const Stack &e)
{
    if (!is_text(e)) Abort("%s: string argument expected", current_name());
    long length = 0;
    const char *t = entry_text(e, &length);
    return t ? std::string_view(t, static_cast<std::size_t>(length)) : std::string_view();
}

void set_wide_number(Stack *result, long value)
{
    if (!decword::from_integer(value, &result->num)) NumericCvLONG(value, &result->num);
}

// The bytes from_integer writes for n below 100: one digit pair, or none for zero.
constinit const std::array<dec_t, 100> SMALL_NUMBERS = [] {
    std::array<dec_t, 100> made{};
    for (int n = 0; n < 100; ++n) {
        made[n].dec_pos = 1;
        if (n) {
            made[n].dec_exp = 1;
            made[n].dec_ndgts = 1;
            made[n].dec_dgts[0] = static_cast<char>(n);
        }
    }
    return made;
}();

void set_text(Stack *result, std::string_view text)
{
    auto *copy = static_cast<char *>(salloc(text.size() + 1));
    if (!text.empty()) std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    result->s_t = string;
    result->s_c.C_S = copy;
    result->length = static_cast<std::uint32_t>(text.size());
}

char *reference_field(const Stack &e, const char *intrinsic)
{
    // A pointer variable by reference points at its 8-byte field; so does a reference to a
    // character field of at least 8 bytes.
    const bool pointer = (e.flags & stk_pointer) != 0;
    const bool field = (e.flags & stk_ref) && e.s_dims[0] >= BasicPtrSz;
    if (!is_text(e) || !e.s_c.C_S || !(pointer || field) || !variable_storage(e.s_c.C_S, BasicPtrSz))
        Xerror(202, "%s: argument is not a text reference", intrinsic);
    return e.s_c.C_S;
}

const char *reference_bytes(const Stack &e, const char *intrinsic)
{
    if (!is_text(e) || !e.s_c.C_S || !((e.flags & stk_pointer) || e.length >= BasicPtrSz))
        Xerror(202, "%s: argument is not a text reference", intrinsic);
    return e.s_c.C_S;
}

const char *referenced_text(const Stack &e, const char *intrinsic)
{
    const char *text = BasicPtrtoText(reference_bytes(e, intrinsic));
    if (text && !accounted_block(text))
        Xerror(202, "%s: 0x%lX is not a text of this program", intrinsic, reinterpret_cast<unsigned long>(text));
    return text;
}

bool variable_storage(const void *address, std::size_t size)
{
    if (within(address, size, Common_variables, Common_variables ? static_cast<std::size_t>(Common_size) : 0))
        return true;
    for (int i = 0; routines && i <= loaded_routines && i < MAX_ROUTINES; ++i) {
        const Routine &r = routines[i];
        if (within(address, size, r.local_chars, static_cast<std::size_t>(std::max(r.local_ccount, 0))) ||
            within(address, size, r.local_structs, static_cast<std::size_t>(std::max(r.local_stcount, 0))))
            return true;
    }
    return false;
}

void store_text(Stack &e, std::string_view text, const char *intrinsic)
{
    if (!is_text(e) || !(e.flags & stk_ref) || !e.s_c.C_S)
        Xerror(202, "%s: argument must be a string variable", intrinsic);
    const long flags = (e.flags & stk_pointer) ? static_cast<long>(s_pointer | s_string) : -1;
    const int n = store_string(e.s_c.C_S, text.data(), static_cast<long>(text.size()), static_cast<int>(e.s_dims[0]),
                               0, 0, (e.flags & stk_fixed) != 0, (e.flags & stk_based) != 0, e.params[0], e.params[1],
                               static_cast<Address>(-1), flags);
    e.length = static_cast<std::uint32_t>(n);
}

} // namespace intr
