// Small helpers shared by the executor, the variable access and the operators.
#pragma once

#include <climits>

#include "message.h"
#include "numerics.h"
#include "stack.h"

// The decimal a numeric entry stands for; any other kind of entry ends the run.
[[noreturn]] void not_numeric(const Stack &entry);
inline const dec_t *numeric_of(const Stack &entry)
{
    if (entry.s_t != real || !entry.s_c.C_N) not_numeric(entry);
    return entry.s_c.C_N;
}

// The integer part of a numeric entry, truncated toward zero and kept within the int range
// (a value beyond it stays beyond every bound it is checked against).
inline int integer_of(const Stack &entry)
{
    const dec_t *d = numeric_of(entry);
    if (d->dec_exp > 5 && d->dec_ndgts > 0) return d->dec_pos == 0 ? INT_MIN + 1 : INT_MAX;  // 10^10 and above
    long v = 0;
    NumericToLONG(d, &v);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN + 1) return INT_MIN + 1;
    return static_cast<int>(v);
}
