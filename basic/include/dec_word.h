// Decimals whose digits fit a machine word: add, subtract and multiply of two whole decimals of
// at most eight digit pairs whose exact result has at most eight pairs (seven for a sum), and the
// comparison of any two decimals, inline. The library's arithmetic takes these paths first and the executor calls
// them directly, so the common small numbers (counters, money) cost no call into the library.
// Results are the library's own to the byte: an exact result has one normalised form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "disamdec.h"

namespace decword {

inline constexpr std::uint64_t ONES8 = 0x0101010101010101ull;

// The top bit of each byte above 99: set already, or set by adding 28 to its low seven bits.
inline std::uint64_t above_99(std::uint64_t v) { return (v | ((v & ONES8 * 0x7F) + ONES8 * 28)) & ONES8 * 0x80; }

// One to eight digit pairs: a value these paths may take, to be checked by load.
inline bool short_enough(const dec_t *a) { return static_cast<std::uint16_t>(a->dec_ndgts - 1) < 8; }

// Reads a whole decimal of one to eight digit pairs: its digits as one number, digit 0 in the top
// byte, and its count. False for a zero, a null, a longer value, a count that takes in trailing
// zero pairs, and any record that breaks the decimal's invariants (a digit above 99 or past the
// count, a leading zero pair, neither sign, the exponent out of range): those take the library's
// general path, which refuses the damaged ones.
[[gnu::always_inline]] inline bool load(const dec_t *a, std::uint64_t &digits, unsigned &n)
{
    std::uint64_t lo, hi;
    std::uint32_t head;  // exponent and sign
    std::memcpy(&lo, a->dec_dgts, 8);
    std::memcpy(&hi, a->dec_dgts + 8, 8);
    std::memcpy(&head, a, 4);
    n = static_cast<std::uint16_t>(a->dec_ndgts);
    // Digit 0 lies in the lowest byte: it must not be 0, no digit may exceed 99, none lie past the
    // eighth, and the count must reach the last non-zero one exactly.
    if ((lo & 0xFF) == 0 || (hi | above_99(lo)) != 0 || n != 8 - static_cast<unsigned>(__builtin_clzll(lo) >> 3))
        return false;
    // With the exponent's sign bit flipped and 32704 taken off, an exponent of -64 to 63 becomes 0 to
    // 127 and leaves the sign field alone, which must then be 0 or 1.
    static_assert(DEC_MINEXP == -64 && DEC_MAXEXP == 63 && offsetof(dec_t, dec_pos) == 2);
    if (((head ^ 0x8000u) - 0x7FC0u) & 0xFFFEFF80u) return false;
    digits = __builtin_bswap64(lo);
    return true;
}

// The n digit pairs (digit 0 in the top byte) as a binary integer.
inline std::uint64_t binary(std::uint64_t digits, unsigned n)
{
    std::uint64_t x = digits >> (8 * (8 - n));  // the last digit in the lowest byte
    x = ((x >> 8) & 0x00FF00FF00FF00FFull) * 100 + (x & 0x00FF00FF00FF00FFull);
    x = ((x >> 16) & 0x0000FFFF0000FFFFull) * 10000 + (x & 0x0000FFFF0000FFFFull);
    return (x >> 32) * 100000000 + (x & 0xFFFFFFFFull);
}

// The four digit pairs of v (below 10^8), the first in the top byte of the low 32 bits.
inline std::uint64_t four_pairs(std::uint64_t v)
{
    // Two halves of four decimal digits, each split in two pairs by a multiply that divides by 100
    // exactly below 10^4.
    const std::uint64_t halves = v % 10000 | (v / 10000) << 32;
    const std::uint64_t q = ((halves * 10486) >> 20) & 0x0000007F0000007Full;
    const std::uint64_t z = (halves - q * 100) | q << 8;
    return (z & 0xFFFF) | ((z >> 16) & 0xFFFF0000);
}

// Stores the digit pairs R (digit 0 in the top byte, value 0.R x 100^exp; not zero) normalised,
// with the sign; false when the exponent falls out of range (the library then clamps it and
// reports the overflow or underflow).
[[gnu::always_inline]] inline bool store(std::uint64_t R, int exp, int pos, dec_t *r)
{
    const int lead = __builtin_clzll(R) >> 3;  // zero pairs before the first digit
    R <<= 8 * lead;
    exp -= lead;
    if (static_cast<unsigned>(exp - DEC_MINEXP) > static_cast<unsigned>(DEC_MAXEXP - DEC_MINEXP)) return false;
    dec_t out;
    out.dec_exp = static_cast<std::int16_t>(exp);
    out.dec_pos = static_cast<std::int16_t>(pos);
    out.dec_ndgts = static_cast<std::int16_t>(8 - (__builtin_ctzll(R) >> 3));
    const std::uint64_t lo = __builtin_bswap64(R);
    std::memcpy(out.dec_dgts, &lo, 8);
    std::memset(out.dec_dgts + 8, 0, 8);
    *r = out;
    return true;
}

inline constexpr std::uint64_t POW100_8 = 10000000000000000ull;  // 100^8

inline void set_zero(dec_t *r)
{
    dec_t out{};
    out.dec_pos = 1;
    *r = out;
}

// x + y, or x - y with negate_y, when both have digits and every digit of both lies within seven
// pairs below the larger exponent (the top byte takes the carry). Adding 156 to every digit makes
// a decimal carry a binary one, and the digits that did not carry get their 156 back; a digit that
// borrowed gives 156 back. False when this path does not apply.
[[gnu::always_inline]] inline bool add(const dec_t *x, const dec_t *y, dec_t *r, bool negate_y = false)
{
    std::uint64_t a, b;
    unsigned na, nb;
    if (!load(x, a, na) || !load(y, b, nb)) return false;
    const int top = (x->dec_exp > y->dec_exp ? x->dec_exp : y->dec_exp) + 1;
    const int da = top - x->dec_exp, db = top - y->dec_exp;  // places below the top byte
    if (da + static_cast<int>(na) > 8 || db + static_cast<int>(nb) > 8) return false;
    a >>= 8 * da;
    b >>= 8 * db;
    constexpr std::uint64_t SEVEN = ONES8 >> 8;  // the carry out of each byte but the top one
    const int pa = x->dec_pos, pb = negate_y ? 1 - y->dec_pos : y->dec_pos;
    std::uint64_t R;
    int pos;
    if (pa == pb) {
        const std::uint64_t t = a + b, s = t + ONES8 * 0x9C;
        R = s - (ONES8 & ~(((s ^ t ^ ONES8 * 0x9C) >> 8) & SEVEN)) * 0x9C;
        pos = pa;
    } else {
        const bool a_larger = a >= b;
        const std::uint64_t big = a_larger ? a : b, small = a_larger ? b : a, d = big - small;
        R = d - (((big ^ small ^ d) >> 8) & SEVEN) * 0x9C;
        pos = a_larger ? pa : pb;
        if (R == 0) {
            set_zero(r);
            return true;
        }
    }
    return store(R, top, pos, r);
}

// x * y when both have digits and the product has at most eight pairs.
[[gnu::always_inline]] inline bool mul(const dec_t *x, const dec_t *y, dec_t *r)
{
    std::uint64_t a, b;
    unsigned na, nb;
    if (!load(x, a, na) || !load(y, b, nb) || na + nb > 8) return false;
    const std::uint64_t m = binary(a, na) * binary(b, nb);
    const std::uint64_t R = m < 100000000 ? four_pairs(m) : four_pairs(m % 100000000) | four_pairs(m / 100000000) << 32;
    return store(R, x->dec_exp - static_cast<int>(na) + y->dec_exp - static_cast<int>(nb) + 8, x->dec_pos == y->dec_pos ? 1 : 0, r);
}

// n as a decimal, as the library's integer conversions write it, when |n| lies below 10^16.
inline bool from_integer(long n, dec_t *r)
{
    const unsigned long m = n < 0 ? 0ul - static_cast<unsigned long>(n) : static_cast<unsigned long>(n);
    if (m >= POW100_8) return false;
    if (m < 100) {  // one pair or none: lengths, counts, flags
        dec_t out{};
        out.dec_pos = m == 0 || n > 0 ? 1 : 0;
        if (m) {
            out.dec_exp = 1;
            out.dec_ndgts = 1;
            out.dec_dgts[0] = static_cast<char>(m);
        }
        *r = out;
        return true;
    }
    const std::uint64_t R = m < 100000000 ? four_pairs(m) : four_pairs(m % 100000000) | four_pairs(m / 100000000) << 32;
    return store(R, 8, n >= 0 ? 1 : 0, r);
}

// The order of two digit strings read as numbers, digit 0 most significant: 64 bits at a time.
inline int compare_digits(const dec_t *x, const dec_t *y)
{
    std::uint64_t a, b;
    std::memcpy(&a, x->dec_dgts, 8);
    std::memcpy(&b, y->dec_dgts, 8);
    if (a == b) {
        std::memcpy(&a, x->dec_dgts + 8, 8);
        std::memcpy(&b, y->dec_dgts + 8, 8);
    }
    a = __builtin_bswap64(a);
    b = __builtin_bswap64(b);
    return a < b ? -1 : a > b ? 1 : 0;
}

// -1, 0 or 1; DECUNKNOWN when either is null. Zero and negative zero are equal and lie between the
// signs; otherwise the sign, the exponent and the digits decide.
inline int compare(const dec_t *x, const dec_t *y)
{
    if (x->dec_pos == DECPOSNULL || y->dec_pos == DECPOSNULL) return DECUNKNOWN;
    const bool hx = x->dec_ndgts != 0, hy = y->dec_ndgts != 0;
    if (!hx || !hy) {
        if (hx) return x->dec_pos ? 1 : -1;
        if (hy) return y->dec_pos ? -1 : 1;
        return 0;
    }
    if (x->dec_pos != y->dec_pos) return x->dec_pos ? 1 : -1;
    const int c = x->dec_exp != y->dec_exp ? (x->dec_exp < y->dec_exp ? -1 : 1) : compare_digits(x, y);
    return x->dec_pos ? c : -c;
}

} // namespace decword
