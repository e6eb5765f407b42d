// Helpers shared by the decimal routines: every result goes through finish(), which normalises
// a digit string, rounds it to 16 base-100 digits (half away from zero) and checks the range.
#pragma once

#include <cstdint>
#include <cstring>

#include "disamdec.h"

namespace decmaths {

// Digit count, clamped so that damaged records never index outside the digit slots.
inline int ndigits(const dec_t *a)
{
    int n = a->dec_ndgts;
    return n < 0 ? 0 : n > DECSIZE ? DECSIZE : n;
}

// Keeps a result's exponent within range; the status tells whether it had to be clamped.
inline int clamp_exponent(int &exp)
{
    if (exp > DEC_MAXEXP) {
        exp = DEC_MAXEXP;
        return DEC_OVERFLOW;
    }
    if (exp < DEC_MINEXP) {
        exp = DEC_MINEXP;
        return DEC_UNDERFLOW;
    }
    return 0;
}

inline void set_null(dec_t *r)
{
    dec_t out{};
    out.dec_pos = DECPOSNULL;
    *r = out;
}

inline void set_zero(dec_t *r)
{
    dec_t out{};
    out.dec_pos = 1;
    *r = out;
}

// w[0..n): base-100 digits of a magnitude, value 0.w0 w1 ... x 100^exp. Only the first 17
// significant digits are looked at: digits further down cannot change a half-away rounding, so
// callers may hand over a truncated (floor) digit string.
template <class T> inline int finish(const T *w, int n, int exp, int pos, dec_t *r)
{
    int k = 0;
    while (k < n && w[k] == 0) ++k;
    dec_t out{};
    if (k == n) {
        out.dec_pos = 1;
        *r = out;
        return 0;
    }
    exp -= k;
    int m = n - k < DECSIZE ? n - k : DECSIZE;
    for (int i = 0; i < m; ++i) out.dec_dgts[i] = static_cast<char>(w[k + i]);
    if (k + DECSIZE < n && w[k + DECSIZE] >= 50) {
        int i = DECSIZE - 1;
        while (i >= 0 && out.dec_dgts[i] == 99) out.dec_dgts[i--] = 0;
        if (i < 0) {
            out.dec_dgts[0] = 1;
            ++exp;
        } else {
            ++out.dec_dgts[i];
        }
        m = DECSIZE;
    }
    while (m > 0 && out.dec_dgts[m - 1] == 0) --m;
    const int status = clamp_exponent(exp);
    out.dec_exp = static_cast<std::int16_t>(exp);
    out.dec_pos = static_cast<std::int16_t>(pos);
    out.dec_ndgts = static_cast<std::int16_t>(m);
    *r = out;
    return status;
}

// Builds a value from decimal digits d[0..count) (first one non-zero) with e digits before the
// point; used by text input and by the binary floating conversions.
int from_decimal_digits(const unsigned char *d, int count, long long e, int pos, dec_t *r);

// All significant decimal digits of a's magnitude (at most 32) and the number of them that stand
// before the point (pt; zero or negative for values below 1).
struct DecDigits {
    char d[2 * DECSIZE];
    int len;
    int pt;
};
void all_digits(const dec_t *a, DecDigits &out);
// Rounds the digits to their first k (half away from zero); digits past len count as '0'.
void round_digits(DecDigits &dd, int k);

} // namespace decmaths
