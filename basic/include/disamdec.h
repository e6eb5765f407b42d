// The 22-byte decimal number of every numeric value. Its byte image is observable (value-stack
// entries, memory areas, table records and the hexadecimal form copy it), so the layout is fixed.
#pragma once

#include <cstdint>

inline constexpr int DECSIZE = 16;      // base-100 digit pairs
inline constexpr int DECPOSNULL = -1;   // dec_pos of a null value

struct dec_t {
    std::int16_t dec_exp;    // exponent, base 100
    std::int16_t dec_pos;    // 1 positive, 0 negative, -1 null
    std::int16_t dec_ndgts;  // digit pairs in use; 0 is the value zero
    char dec_dgts[DECSIZE];  // base-100 digits, most significant first
};
static_assert(sizeof(dec_t) == 22, "a decimal is 22 bytes");
static_assert(alignof(dec_t) == 2);

using NumericType_t = dec_t;
