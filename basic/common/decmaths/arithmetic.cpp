// Compare, add, subtract, multiply and divide. Each forms the exact leading digits of the result
// (a floor of the magnitude, 17 significant base-100 digits or more) and leaves rounding to finish().
#include <array>

#include "dec_internal.h"

using namespace decmaths;

namespace {

// Magnitude order of two values with digits: -1, 0 or 1.
int cmp_magnitude(const dec_t *x, const dec_t *y)
{
    if (x->dec_exp != y->dec_exp) return x->dec_exp < y->dec_exp ? -1 : 1;
    int c = std::memcmp(x->dec_dgts, y->dec_dgts, DECSIZE);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

using u128 = unsigned __int128;

// The 16 digits as one big-endian number: digit 0 in the top byte.
inline u128 load_digits(const dec_t *a)
{
    std::uint64_t hi, lo;
    std::memcpy(&hi, a->dec_dgts, 8);
    std::memcpy(&lo, a->dec_dgts + 8, 8);
    return static_cast<u128>(__builtin_bswap64(hi)) << 64 | __builtin_bswap64(lo);
}

inline void store_digits(u128 v, char *dgts)
{
    std::uint64_t hi = __builtin_bswap64(static_cast<std::uint64_t>(v >> 64));
    std::uint64_t lo = __builtin_bswap64(static_cast<std::uint64_t>(v));
    std::memcpy(dgts, &hi, 8);
    std::memcpy(dgts + 8, &lo, 8);
}

inline int clz128(u128 v)
{
    auto hi = static_cast<std::uint64_t>(v >> 64);
    return hi ? __builtin_clzll(hi) : 64 + __builtin_clzll(static_cast<std::uint64_t>(v));
}

inline int ctz128(u128 v)
{
    auto lo = static_cast<std::uint64_t>(v);
    return lo ? __builtin_ctzll(lo) : 64 + __builtin_ctzll(static_cast<std::uint64_t>(v >> 64));
}

// One in each of the fifteen low bytes.
constexpr u128 ONES15 = static_cast<u128>(0x0001010101010101ull) << 64 | 0x0101010101010101ull;

// The invariants the operations rely on: a digit count of 0 to 16, the sign 0 or 1, the exponent
// in range, digits of 0 to 99, none past the count and the first one not 0. A record that breaks
// them (text stored over a number and read back as one) is not a number: dividing by a leading
// zero pair would divide by zero in the hardware. Eight digits are checked at a time.
struct DigitWords {
    std::uint64_t lo, hi;  // digits 0..7 and 8..15, digit i in byte i % 8
};

inline DigitWords digit_words(const dec_t *a)
{
    DigitWords w;
    std::memcpy(&w.lo, a->dec_dgts, 8);
    std::memcpy(&w.hi, a->dec_dgts + 8, 8);
    return w;
}

constexpr std::uint64_t ONES8 = 0x0101010101010101ull;

// The top bit of each byte above 99: set already, or set by adding 28 to its low seven bits.
inline std::uint64_t above_99(std::uint64_t v) { return (v | ((v & ONES8 * 0x7F) + ONES8 * 28)) & ONES8 * 0x80; }

// For each count, the bytes of the digits from that count on.
constexpr auto PAST_COUNT = [] {
    std::array<DigitWords, DECSIZE + 1> t{};
    for (int n = 0; n <= DECSIZE; ++n) {
        t[n].lo = n >= 8 ? 0 : ~std::uint64_t{0} << (8 * n);
        t[n].hi = n >= 16 ? 0 : n <= 8 ? ~std::uint64_t{0} : ~std::uint64_t{0} << (8 * (n - 8));
    }
    return t;
}();

inline bool fields_agree(const dec_t *a, const DigitWords &w)
{
    const auto n = static_cast<std::uint16_t>(a->dec_ndgts);
    return n <= DECSIZE && ((w.lo & PAST_COUNT[n].lo) | (w.hi & PAST_COUNT[n].hi)) == 0 &&
           (n == 0 || (w.lo & 0xFF) != 0) && static_cast<std::uint16_t>(a->dec_pos) <= 1 &&
           static_cast<unsigned>(a->dec_exp - DEC_MINEXP) <= static_cast<unsigned>(DEC_MAXEXP - DEC_MINEXP);
}

inline bool well_formed(const dec_t *x, const dec_t *y)
{
    const DigitWords a = digit_words(x), b = digit_words(y);
    if (above_99(a.lo) | above_99(a.hi) | above_99(b.lo) | above_99(b.hi)) return false;
    return fields_agree(x, a) && fields_agree(y, b);
}

// The answer to an operand that is not a number.
int non_numeric(dec_t *r)
{
    set_null(r);
    return DEC_NON_NUMERIC;
}

// An exact digit string of at most 16 digits (digit 0 in the top byte, value 0.R x 100^exp):
// normalised and stored without rounding.
int pack_exact(u128 R, int exp, int pos, dec_t *r)
{
    if (R == 0) {
        set_zero(r);
        return 0;
    }
    int lz = clz128(R) >> 3;
    R <<= 8 * lz;
    exp -= lz;
    dec_t out;
    out.dec_ndgts = static_cast<std::int16_t>(16 - (ctz128(R) >> 3));
    out.dec_pos = static_cast<std::int16_t>(pos);
    store_digits(R, out.dec_dgts);
    const int status = clamp_exponent(exp);
    out.dec_exp = static_cast<std::int16_t>(exp);
    *r = out;
    return status;
}

// |a| >= |b|, both with digits, a's digits (na <= 15) and b's shifted d places (d + nb <= 15) fit
// below a spare top digit: the exact sum or difference, all sixteen digits at once. Each byte is a
// base-100 digit; adding 156 to every digit makes a decimal carry a binary one, and the digits that
// did not carry (or did borrow) get their 156 back.
int add_short(u128 A, u128 B, int exp, int d, bool same, int pos, dec_t *r)
{
    A >>= 8;
    B >>= 8 * (1 + d);
    constexpr u128 K = ONES15 * 0x9C;
    u128 S = A + B + K;
    u128 carried = ((S ^ A ^ B ^ K) >> 8) & ONES15;
    S -= (ONES15 & ~carried) * 0x9C;
    u128 D = A - B;
    u128 borrowed = ((A ^ B ^ D) >> 8) & ONES15;
    D -= borrowed * 0x9C;
    return pack_exact(same ? S : D, exp + 1, pos, r);
}

// x (sign xs) + y (sign ys), neither null.
int add_signed(const dec_t *x, int xs, const dec_t *y, int ys, dec_t *r)
{
    int nx = ndigits(x), ny = ndigits(y);
    if (ny == 0) {  // a zero operand is always the smaller one: the result is the other operand
        if (r != x) *r = *x;
        return 0;
    }
    if (nx == 0) {
        if (r != y) *r = *y;
        r->dec_pos = static_cast<std::int16_t>(ys);
        return 0;
    }
    u128 X = load_digits(x), Y = load_digits(y);
    bool swap = x->dec_exp < y->dec_exp || (x->dec_exp == y->dec_exp && X < Y);
    const dec_t *a = swap ? y : x, *b = swap ? x : y;
    int as = swap ? ys : xs, na = swap ? ny : nx, nb = swap ? nx : ny;
    int d = a->dec_exp - b->dec_exp;
    if (d < 0) d = 0;  // only a damaged record could do this
    if (na <= 15 && d + nb <= 15) return add_short(swap ? Y : X, swap ? X : Y, a->dec_exp, d, xs == ys, as, r);
    // w[0] takes a carry out of the top; a's digits from w[1]. Eighteen digit slots are exact:
    // when b reaches below them (d >= 3) at most one leading digit can cancel, so w[1..18] still
    // hold the 17 digits that decide the rounding.
    int w[19] = {};
    for (int i = 0; i < na; ++i) w[1 + i] = a->dec_dgts[i];
    int end = d + nb < 18 ? d + nb : 18;  // b's digits at slots 1+d .. end
    if (xs == ys) {
        int c = 0, p = end;
        for (; p > d; --p) {
            int v = w[p] + b->dec_dgts[p - 1 - d] + c;
            c = v >= 100;
            w[p] = c ? v - 100 : v;
        }
        for (; c && p > 0; --p) {
            int v = w[p] + 1;
            c = v >= 100;
            w[p] = c ? v - 100 : v;
        }
        w[0] = c;
    } else {
        int borrow = 0;  // digits of b below slot 18 make the floor one unit smaller
        for (int j = d < 18 ? 18 - d : 0; j < nb; ++j)
            if (b->dec_dgts[j]) {
                borrow = 1;
                break;
            }
        int p = end;
        for (; p > d; --p) {
            int v = w[p] - b->dec_dgts[p - 1 - d] - borrow;
            borrow = v < 0;
            w[p] = borrow ? v + 100 : v;
        }
        for (; borrow && p > 0; --p) {
            int v = w[p] - 1;
            borrow = v < 0;
            w[p] = borrow ? v + 100 : v;
        }
    }
    return finish(w, 19, a->dec_exp + 1, as, r);
}

inline bool is_null(const dec_t *a) { return a->dec_pos == DECPOSNULL; }

#if defined(__x86_64__)
// (hi:lo) / d with hi < d: one hardware division.
inline std::uint64_t div128(std::uint64_t hi, std::uint64_t lo, std::uint64_t d, std::uint64_t *rem)
{
    std::uint64_t q, r;
    __asm__("divq %4" : "=a"(q), "=d"(r) : "a"(lo), "d"(hi), "rm"(d) : "cc");
    *rem = r;
    return q;
}
#else
inline std::uint64_t div128(std::uint64_t hi, std::uint64_t lo, std::uint64_t d, std::uint64_t *rem)
{
    unsigned __int128 n = (static_cast<unsigned __int128>(hi) << 64) | lo;
    *rem = static_cast<std::uint64_t>(n % d);
    return static_cast<std::uint64_t>(n / d);
}
#endif

constexpr std::uint64_t LIMB = 100000000;  // four base-100 digits

// Limbs of four digits each, most significant first; digit slots past the count are zero.
int to_limbs(const dec_t *a, int n, std::uint64_t *limb)
{
    const auto *d = reinterpret_cast<const unsigned char *>(a->dec_dgts);
    int nl = (n + 3) / 4;
    for (int k = 0; k < nl; ++k, d += 4) limb[k] = d[0] * 1000000u + d[1] * 10000u + d[2] * 100u + d[3];
    return nl;
}

void limbs_to_digits(const std::uint64_t *limb, int nl, unsigned char *out)
{
    for (int k = 0; k < nl; ++k, out += 4) {
        auto v = static_cast<std::uint32_t>(limb[k]);
        std::uint32_t hi = v / 10000, lo = v % 10000;
        out[0] = static_cast<unsigned char>(hi / 100);
        out[1] = static_cast<unsigned char>(hi % 100);
        out[2] = static_cast<unsigned char>(lo / 100);
        out[3] = static_cast<unsigned char>(lo % 100);
    }
}

// Quotient digits of x's digits followed by zeros (L pairs in all, a multiple of 8) divided by
// a divisor of at most 8 pairs: eight quotient pairs per hardware division.
void divide_short(const dec_t *x, int nx, std::uint64_t yc, int L, unsigned char *q)
{
    std::uint64_t xl[4] = {};
    to_limbs(x, nx, xl);
    if (L > 32) L = 32;  // 17 + 8 pairs, rounded up
    std::uint64_t rem = 0;
    for (int t = 0; t < L; t += 8) {
        std::uint64_t chunk = t < 16 ? xl[t / 4] * LIMB + xl[t / 4 + 1] : 0;
        if (rem == 0 && chunk == 0 && t >= 4 * ((nx + 3) / 4)) {  // nothing left to divide
            std::memset(q + t, 0, L - t);
            return;
        }
        unsigned __int128 n = static_cast<unsigned __int128>(rem) * (LIMB * LIMB) + chunk;
        std::uint64_t qq = div128(static_cast<std::uint64_t>(n >> 64), static_cast<std::uint64_t>(n), yc, &rem);
        std::uint64_t ql[2] = {qq / LIMB, qq % LIMB};
        limbs_to_digits(ql, 2, q + t);
    }
}

// Long division in base 10^8 with a normalised divisor of n >= 3 limbs (two-limb quotient
// estimate, at most two corrections and one add-back, so every quotient limb is exact).
// u holds L + 1 limbs, the first one 0; q receives L - n + 1 limbs.
void divide_long(std::uint64_t *u, int L, std::uint64_t *v, int n, std::uint64_t *q)
{
    std::uint64_t f = LIMB / (v[0] + 1);
    if (f > 1) {
        std::uint64_t c = 0;
        for (int i = n - 1; i >= 0; --i) {
            std::uint64_t t = v[i] * f + c;
            v[i] = t % LIMB;
            c = t / LIMB;
        }
        c = 0;
        for (int i = L; i >= 0; --i) {
            std::uint64_t t = u[i] * f + c;
            u[i] = t % LIMB;
            c = t / LIMB;
        }
    }
    for (int j = 0; j <= L - n; ++j) {
        std::uint64_t num = u[j] * LIMB + u[j + 1];
        std::uint64_t qhat = num / v[0], rhat = num % v[0];
        while (qhat >= LIMB || qhat * v[1] > rhat * LIMB + u[j + 2]) {
            --qhat;
            rhat += v[0];
            if (rhat >= LIMB) break;
        }
        std::int64_t borrow = 0;
        std::uint64_t carry = 0;
        for (int i = n - 1; i >= 0; --i) {
            std::uint64_t p = qhat * v[i] + carry;
            carry = p / LIMB;
            std::int64_t t = static_cast<std::int64_t>(u[j + 1 + i]) - static_cast<std::int64_t>(p % LIMB) - borrow;
            borrow = t < 0;
            u[j + 1 + i] = static_cast<std::uint64_t>(borrow ? t + static_cast<std::int64_t>(LIMB) : t);
        }
        std::int64_t t = static_cast<std::int64_t>(u[j]) - static_cast<std::int64_t>(carry) - borrow;
        if (t < 0) {  // the estimate was one too large: add the divisor back
            --qhat;
            std::uint64_t c = 0;
            for (int i = n - 1; i >= 0; --i) {
                std::uint64_t s2 = u[j + 1 + i] + v[i] + c;
                c = s2 >= LIMB;
                u[j + 1 + i] = c ? s2 - LIMB : s2;
            }
            t += static_cast<std::int64_t>(c);  // the borrow out of the top limb cancels
        }
        u[j] = static_cast<std::uint64_t>(t);
        q[j] = qhat;
    }
}

} // namespace

int dmaths_dec_round(dec_a *acc, int carry)
{
    int n = acc->dec_ndgts < 0 ? 0 : acc->dec_ndgts > DECSIZE + 1 ? DECSIZE + 1 : acc->dec_ndgts;
    int w[DECSIZE + 2];
    int exp = acc->dec_exp, m = 0;
    if (carry > 0) {
        w[m++] = carry;
        ++exp;
        if (n > DECSIZE) n = DECSIZE;  // the former guard digit drops out
    }
    for (int i = 0; i < n; ++i) w[m++] = acc->dec_dgts[i];
    dec_t out;
    int status = finish(w, m, exp, acc->dec_pos, &out);
    std::memset(acc, 0, sizeof *acc);
    std::memcpy(acc, &out, sizeof out);
    return status;
}

int dmaths_deccmp(const dec_t *x, const dec_t *y)
{
    if (is_null(x) || is_null(y)) return DECUNKNOWN;
    bool hx = x->dec_ndgts != 0, hy = y->dec_ndgts != 0;
    if (!hx || !hy) {  // zero and negative zero are equal and lie between the signs
        if (hx) return x->dec_pos ? 1 : -1;
        if (hy) return y->dec_pos ? -1 : 1;
        return 0;
    }
    if (x->dec_pos != y->dec_pos) return x->dec_pos ? 1 : -1;
    int c = cmp_magnitude(x, y);
    return x->dec_pos ? c : -c;
}

int dmaths_decadd(const dec_t *x, const dec_t *y, dec_t *r)
{
    if (is_null(x) || is_null(y)) {
        set_null(r);
        return 0;
    }
    if (!well_formed(x, y)) return non_numeric(r);
    return add_signed(x, x->dec_pos, y, y->dec_pos, r);
}

int dmaths_decsub(const dec_t *x, const dec_t *y, dec_t *r)
{
    if (is_null(x) || is_null(y)) {
        set_null(r);
        return 0;
    }
    if (!well_formed(x, y)) return non_numeric(r);
    return add_signed(x, x->dec_pos, y, y->dec_pos ? 0 : 1, r);
}

int dmaths_decmul(const dec_t *x, const dec_t *y, dec_t *r)
{
    if (is_null(x) || is_null(y)) {
        set_null(r);
        return 0;
    }
    if (!well_formed(x, y)) return non_numeric(r);
    int nx = ndigits(x), ny = ndigits(y);
    int pos = x->dec_pos == y->dec_pos ? 1 : 0;
    // The exact product in base 10^8: column sums of at most four products below 10^16 each.
    std::uint64_t xl[4], yl[4], col[8];
    int nlx = to_limbs(x, nx, xl), nly = to_limbs(y, ny, yl), nl = nlx + nly;
    col[0] = 0;
    for (int t = 1; t < nl; ++t) {
        std::uint64_t sum = 0;
        int lo = t - nly > 0 ? t - nly : 0, hi = t - 1 < nlx - 1 ? t - 1 : nlx - 1;
        for (int i = lo; i <= hi; ++i) sum += xl[i] * yl[t - 1 - i];
        col[t] = sum;
    }
    std::uint64_t c = 0;
    for (int t = nl - 1; t >= 0; --t) {
        std::uint64_t v = col[t] + c;
        col[t] = v % LIMB;
        c = v / LIMB;
    }
    if (nl <= 4) {  // at most 16 digits: exact, nothing to round
        unsigned char w[16] = {};
        limbs_to_digits(col, nl, w);
        dec_t t;
        std::memcpy(t.dec_dgts, w, 16);
        return pack_exact(load_digits(&t), x->dec_exp + y->dec_exp, pos, r);
    }
    unsigned char w[4 * 8];
    limbs_to_digits(col, nl, w);
    return finish(w, 4 * nl, x->dec_exp + y->dec_exp, pos, r);
}

int dmaths_decdiv(const dec_t *x, const dec_t *y, dec_t *r)
{
    if (is_null(x) || is_null(y)) {
        set_null(r);
        return 0;
    }
    if (!well_formed(x, y)) return non_numeric(r);
    int nx = ndigits(x), ny = ndigits(y);
    if (ny == 0) {
        set_zero(r);
        return DEC_DIVIDE_BY_ZERO;
    }
    int pos = x->dec_pos == y->dec_pos ? 1 : 0;
    int ex = x->dec_exp, ey = y->dec_exp;
    if (ny <= 8) {
        // The dividend is x's digits followed by zeros, at least 17 + ny pairs: its integer
        // quotient by y's digits has 17 significant pairs or more, all exact (floor).
        int L = (17 + ny + 7) & ~7;
        unsigned char q[32];
        std::uint64_t yc = 0;
        for (int j = 0; j < ny; ++j) yc = yc * 100 + static_cast<unsigned char>(y->dec_dgts[j]);
        divide_short(x, nx, yc, L, q);
        return finish(q, L, ex - ey + ny, pos, r);
    }
    // Dividend: x's four limbs followed by zero limbs, 5 + n in all; its quotient by y's limbs
    // has six limbs, the first 17 significant digits among them.
    std::uint64_t u[10] = {}, v[4] = {}, ql[6];
    to_limbs(x, nx, u + 1);
    int n = to_limbs(y, ny, v), L = 5 + n;
    divide_long(u, L, v, n, ql);
    unsigned char w[24];
    limbs_to_digits(ql, 6, w);
    return finish(w, 24, ex - ey + 4, pos, r);
}
