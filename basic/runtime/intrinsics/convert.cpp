// Helpers kept beside the dispatchers: a decimal's hexadecimal text and runs of a control
// character.
#include <cstdio>
#include <cstring>

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
    long v = 0;
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
    auto *text = static_cast<char *>(salloc(count + 1));
    std::memset(text, c, count);
    text[count] = '\0';
    result->s_t = string;
    result->s_c.C_S = text;
    result->length = static_cast<std::uint32_t>(count);
}
