// Helpers kept beside the dispatchers: a decimal's hexadecimal text and runs of a control
// character.
#include <cstdio>
#include <cstring>

#include "cases.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"
#include "stack.h"

namespace {

char tstr0[64];  // "%p" of a 64-bit value

} // namespace

char *Convert_HEX(const dec_t *value)
{
    // The integer part must fit 64 bits, as a signed or an unsigned number: from -2^63 up to
    // 2^64 - 1. Beyond that the conversion would wrap and show some other number.
    static const dec_t below = [] {
        dec_t d;
        NumericCvASC("-9223372036854775809", 20, &d);
        return d;
    }();
    static const dec_t above = [] {
        dec_t d;
        NumericCvASC("18446744073709551616", 20, &d);
        return d;
    }();
    long v = 0;
    if (value->dec_pos != DECPOSNULL && (NumericCmp(value, &below) <= 0 || NumericCmp(value, &above) >= 0))
        Xerror(202, "Bad conversion of HEX number");
    if (NumericToLONG(value, &v) != 0) Xerror(202, "Bad conversion of HEX number");
    std::snprintf(tstr0, sizeof tstr0, "%p", reinterpret_cast<void *>(v));
    return tstr0;
}

void Intrinsic_string(Stack *result, int code, int n)
{
    char c;
    switch (code) {
    case in_BS: c = 8; break;
    case in_CR: c = 13; break;
    case in_FF: c = 12; break;
    case in_LF: c = 10; break;
    case in_TAB: c = 9; break;
    default: Xerror(202, "Intrinsic_string called with bad icode - 0x%X\n", static_cast<unsigned>(code));
    }
    const std::size_t count = n > 0 ? static_cast<std::size_t>(n) : 0;  // a negative count gives ""
    if (count > REPEAT_LIMIT) Xerror(202, "%s: result of %zu bytes is too long", inbuilt[code].F_name, count);
    auto *text = static_cast<char *>(salloc(count + 1));
    std::memset(text, c, count);
    text[count] = '\0';
    result->s_t = string;
    result->s_c.C_S = text;
    result->length = static_cast<std::uint32_t>(count);
}
