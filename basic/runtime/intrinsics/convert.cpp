// Helpers kept beside the dispatchers: a decimal's shortest and hexadecimal texts, runs of a
// control character and string concatenation.
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

// A decimal's text needs at most 127 integer digits or "0.", 127 zeros and 32 digits, and a
// sign; the field is kept well clear of that so the text never reaches its end, without blank-
// filling a large buffer for every number.
constexpr int BCD_FIELD = 200;
char tstr1[BCD_FIELD + 1];
char tstr0[64];  // "%p" of a 64-bit value

} // namespace

char *Convert_BCD(const dec_t *value)
{
    if (NumericToASC(value, tstr1, BCD_FIELD, -1) != 0) Xerror(202, "Bad conversion of BCD number");
    tstr1[BCD_FIELD] = '\0';
    char *end = tstr1 + BCD_FIELD;
    while (end > tstr1 && end[-1] == ' ') --end;  // the field is blank-filled on the right
    *end = '\0';
    char *point = std::strchr(tstr1, '.');
    if (!point) return tstr1;
    char *p = point + 1;
    bool fraction = false;
    for (; *p && *p != ' '; ++p) fraction |= *p != '0';
    *(fraction ? p : point) = '\0';
    return tstr1;
}

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

int s_concat(Stack *result, int last, int count)
{
    Stack *first = &Stk[last - count + 1];
    std::size_t total = 0;
    for (int i = 0; i < count; ++i) total += first[i].length;
    auto *text = static_cast<char *>(salloc(total + 1));
    char *out = text;
    for (int i = 0; i < count; ++i) {
        if (first[i].length) std::memcpy(out, first[i].s_c.C_S, first[i].length);
        out += first[i].length;
    }
    *out = '\0';
    result->s_t = string;
    result->s_c.C_S = text;
    result->length = static_cast<std::uint32_t>(total);
    result->s_dims[0] = static_cast<std::uint32_t>(total);
    result->s_dims[1] = 0;
    result->flags = 0;
    return 0;
}
