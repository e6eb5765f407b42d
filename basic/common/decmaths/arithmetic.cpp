// Compare, add, subtract, multiply and divide. Values of up to eight digit pairs take the word
// paths of dec_word.h; the others work on all sixteen digits at once where they can (add and
// subtract on the digit bytes, divide in binary), and otherwise form the exact leading digits of
// the result (a floor of the magnitude, 17 significant digits or more) and leave the rounding to
// finish(). Every result is the correctly rounded one, so the paths agree to the byte.
#include <array>

#include "dec_internal.h"
#include "dec_word.h"

using namespace decmaths;

namespace {

using u128 = unsigned __int128;

// The sixteen digits as two words in the record's own order.
struct DigitWords {
    std::uint64_t lo, hi;  // digits 0..7 and 8..15, digit i in byte i % 8
};

// The 16 digits as one big-endian number: digit 0 in the top byte.
inline u128 load_digits(const dec_t *a)
{
    std::uint64_t hi, lo;
    std::memcpy(&hi, a->dec_dgts, 8);
    std::memcpy(&lo, a->dec_dgts + 8, 8);
    return static_cast<u128>(__builtin_bswap64(hi)) << 64 | __builtin_bswap64(lo);
}

inline u128 big_endian(const DigitWords &w)
{
    return static_cast<u128>(__builtin_bswap64(w.lo)) << 64 | __builtin_bswap64(w.hi);
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

// One in each of the fifteen low bytes, and in all sixteen.
constexpr u128 ONES15 = static_cast<u128>(0x0001010101010101ull) << 64 | 0x0101010101010101ull;
constexpr u128 ONES16 = ONES15 | static_cast<u128>(1) << 120;

// The invariants the operations rely on: a digit count of 0 to 16, the sign 0 or 1, the exponent
// in range, digits of 0 to 99, none past the count and the first one not 0. A record that breaks
// them (text stored over a number and read back as one) is not a number: dividing by a leading
// zero pair would divide by zero in the hardware. Eight digits are checked at a time.

inline DigitWords digit_words(const dec_t *a)
{
    DigitWords w;
    std::memcpy(&w.lo, a->dec_dgts, 8);
    std::memcpy(&w.hi, a->dec_dgts + 8, 8);
    return w;
}

using decword::above_99;

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

inline bool well_formed(const dec_t *x, const DigitWords &a, const dec_t *y, const DigitWords &b)
{
    if (above_99(a.lo) | above_99(a.hi) | above_99(b.lo) | above_99(b.hi)) return false;
    return fields_agree(x, a) && fields_agree(y, b);
}

inline bool well_formed(const dec_t *x, const dec_t *y)
{
    return well_formed(x, digit_words(x), y, digit_words(y));
}

inline bool is_null(const dec_t *a) { return a->dec_pos == DECPOSNULL; }

// The answer to an operand that is not a number.
int non_numeric(dec_t *r)
{
    set_null(r);
    return DEC_NON_NUMERIC;
}

// A digit string of at most 16 digits whose first digit is not 0 (digit 0 in the top byte, value
// 0.R x 100^exp), stored as it stands.
inline int pack_normal(u128 R, int exp, int pos, dec_t *r)
{
    dec_t out;
    out.dec_ndgts = static_cast<std::int16_t>(16 - (ctz128(R) >> 3));
    out.dec_pos = static_cast<std::int16_t>(pos);
    store_digits(R, out.dec_dgts);
    const int status = clamp_exponent(exp);
    out.dec_exp = static_cast<std::int16_t>(exp);
    *r = out;
    return status;
}

// An exact digit string of at most 16 digits (digit 0 in the top byte, value 0.R x 100^exp):
// normalised and stored without rounding.
inline int pack_exact(u128 R, int exp, int pos, dec_t *r)
{
    if (R == 0) {
        set_zero(r);
        return 0;
    }
    const int lz = clz128(R) >> 3;
    return pack_normal(R << (8 * lz), exp - lz, pos, r);
}

// Sixteen base-100 digits added at once, digit 0 in the top byte: adding 156 to every digit makes
// a decimal carry a binary one, and the digits that did not carry get their 156 back. *carry
// tells whether digit 0 carried out.
inline u128 add_digits(u128 A, u128 B, bool *carry)
{
    constexpr u128 K = ONES16 * 0x9C;
    const u128 T = A + B;  // no byte exceeds 198: nothing crosses a byte yet
    const u128 S = T + K;
    *carry = S < T;
    const u128 carried = (((S ^ T ^ K) >> 8) & ONES15) | static_cast<u128>(*carry) << 120;
    return S - (ONES16 & ~carried) * 0x9C;
}

// A - B for A >= B, digit by digit: a digit that borrowed gets its 156 taken back.
inline u128 sub_digits(u128 A, u128 B)
{
    const u128 D = A - B;
    const u128 borrowed = ((A ^ B ^ D) >> 8) & ONES15;
    return D - borrowed * 0x9C;
}

// |a| >= |b|, both with digits, b's digits d places below a's: the sum or difference rounded to
// sixteen digits, from the two digit strings at once. False for a difference that cancels a's
// leading digit while b has digits below a's last one: the rounding then needs more digits.
bool add_wide(u128 A, u128 B, int exp, int d, bool same, int pos, dec_t *r, int *status)
{
    const u128 aligned = d >= 16 ? 0 : B >> (8 * d);
    // The first digit of b below a's last one, and whether any is non-zero or they are exactly
    // one half of a's last digit.
    const int first = d == 0 || d > 16 ? 0 : static_cast<int>(B >> (8 * (d - 1))) & 0xFF;
    const u128 below = d == 0 ? 0 : d >= 16 ? B : B << (8 * (16 - d)) >> (8 * (16 - d));
    const bool tail = below != 0;
    u128 R;
    if (same) {
        bool carry;
        R = add_digits(A, aligned, &carry);
        bool up = first >= 50;
        if (carry) {  // seventeen digits: the last one decides
            up = (R & 0xFF) >= 50;
            R = R >> 8 | static_cast<u128>(1) << 120;
            ++exp;
        }
        if (up) {
            R = add_digits(R, 1, &carry);
            if (carry) {
                R = static_cast<u128>(1) << 120;
                ++exp;
            }
        }
    } else {
        R = sub_digits(A, aligned);
        if (tail) {
            // The exact value lies between R - 1 and R: R less the fraction b's lower digits make,
            // which rounds back up to R when it is at most one half.
            const u128 less = sub_digits(R, 1);
            if ((less >> 120) == 0) return false;
            const bool half = first == 50 && (below & ((static_cast<u128>(1) << (8 * (d - 1))) - 1)) == 0;
            if (first > 50 || (first == 50 && !half)) R = less;
        }
    }
    *status = pack_exact(R, exp, pos, r);
    return true;
}

// x (sign xs) + y (sign ys), both with digits, of different exponents.
[[gnu::noinline]] int add_shifted(const dec_t *x, int xs, const dec_t *y, int ys, dec_t *r, u128 X, u128 Y)
{
    const int nx = ndigits(x), ny = ndigits(y);
    const bool swap = x->dec_exp < y->dec_exp;
    const dec_t *a = swap ? y : x, *b = swap ? x : y;
    int as = swap ? ys : xs, na = swap ? ny : nx, nb = swap ? nx : ny;
    const int d = a->dec_exp - b->dec_exp;
    int status;
    if (add_wide(swap ? Y : X, swap ? X : Y, a->dec_exp, d, xs == ys, as, r, &status)) return status;
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

// x (sign xs) + y (sign ys), neither null.
// x + y, or x - y with negate_y, past the word path: nulls, damaged records and zeros, then the
// digit strings: those of one exponent digit for digit, the others shifted.
[[gnu::noinline]] int add_general(const dec_t *x, const dec_t *y, dec_t *r, bool negate_y)
{
    if (is_null(x) || is_null(y)) {
        set_null(r);
        return 0;
    }
    const DigitWords wx = digit_words(x), wy = digit_words(y);
    // A damaged record gives null with the non-numeric status, which the caller sees. No "possible
    // memory corruption" line is written: its condition (zero plus a negative number below one) is
    // an ordinary sum, and a library routine's line on standard error would tell the user nothing.
    if (!well_formed(x, wx, y, wy)) return non_numeric(r);
    const int xs = x->dec_pos, ys = negate_y ? 1 - y->dec_pos : y->dec_pos;
    if (y->dec_ndgts == 0) {  // a zero operand is always the smaller one: the result is the other operand
        if (r != x) *r = *x;
        return 0;
    }
    if (x->dec_ndgts == 0) {
        if (r != y) *r = *y;
        r->dec_pos = static_cast<std::int16_t>(ys);
        return 0;
    }
    const u128 X = big_endian(wx), Y = big_endian(wy);
    if (x->dec_exp != y->dec_exp) return add_shifted(x, xs, y, ys, r, X, Y);
    if (xs == ys) {
        // A carry out of digit 0 makes seventeen digits, the first a 1: the last one rounds the
        // rest, which cannot carry out again. Chosen without a branch: a carry is as likely as not.
        bool carry, again;
        const u128 S = add_digits(X, Y, &carry);
        const bool up = carry && (S & 0xFF) >= 50;
        const u128 R = add_digits(carry ? (S >> 8 | static_cast<u128>(1) << 120) : S, up, &again);
        return pack_normal(R, x->dec_exp + carry, xs, r);
    }
    const bool x_larger = X >= Y;
    const u128 D = sub_digits(x_larger ? X : Y, x_larger ? Y : X);
    const int pos = x_larger ? xs : ys;
    return D >> 120 ? pack_normal(D, x->dec_exp, pos, r) : pack_exact(D, x->dec_exp, pos, r);
}

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

// The sixteen digit slots as one binary integer (below 10^32), digit 0 most significant.
inline u128 binary16(const DigitWords &w)
{
    constexpr std::uint64_t E16 = 10000000000000000ull;
    return static_cast<u128>(decword::binary(__builtin_bswap64(w.lo), 8)) * E16 +
           decword::binary(__builtin_bswap64(w.hi), 8);
}

// The eight digit pairs of m (below 10^16), digit 0 in the top byte.
inline std::uint64_t eight_pairs(std::uint64_t m)
{
    return decword::four_pairs(m / 100000000) << 32 | decword::four_pairs(m % 100000000);
}

// x / y from their digit slots (x = X x 100^(ex-16), y = Y x 100^(ey-16), both with a non-zero
// first digit). Q = floor(X x 100^k / Y) has exactly 17 pairs when k is 16 for X >= Y and 17
// otherwise; the 17th rounds the first 16. The quotient comes from a long division in base 2^64
// by the two-word divisor, normalised so its top bit is set (two quotient words, each estimated by
// one hardware division and corrected at most twice, then an add-back when it was still too
// large); one more hardware division splits it for the digit pairs.
int divide_wide(const DigitWords &wx, int ex, const DigitWords &wy, int ey, int pos, dec_t *r)
{
    const u128 X = binary16(wx), Y = binary16(wy);
    const int k = X >= Y ? 16 : 17;
    // X x 10^(2k) as four words, the multiplier's two words (10^32 or 10^34) times X's.
    constexpr u128 E32 = static_cast<u128>(10000000000000000ull) * 10000000000000000ull;
    const u128 C = k == 16 ? E32 : E32 * 100;
    const auto x0 = static_cast<std::uint64_t>(X), x1 = static_cast<std::uint64_t>(X >> 64);
    const auto c0 = static_cast<std::uint64_t>(C), c1 = static_cast<std::uint64_t>(C >> 64);
    const u128 p00 = static_cast<u128>(x0) * c0, p01 = static_cast<u128>(x0) * c1;
    const u128 p10 = static_cast<u128>(x1) * c0, p11 = static_cast<u128>(x1) * c1;
    const u128 mid = (p00 >> 64) + static_cast<std::uint64_t>(p01) + static_cast<std::uint64_t>(p10);
    const u128 high = (p01 >> 64) + (p10 >> 64) + p11 + (mid >> 64);
    std::uint64_t u[4] = {static_cast<std::uint64_t>(p00), static_cast<std::uint64_t>(mid),
                          static_cast<std::uint64_t>(high), static_cast<std::uint64_t>(high >> 64)};
    // Normalise: Y is at least 10^30, so the shift is below 64 and the dividend keeps four words.
    const int shift = clz128(Y);
    const u128 V = Y << shift;
    const auto v1 = static_cast<std::uint64_t>(V >> 64), v0 = static_cast<std::uint64_t>(V);
    if (shift) {
        u[3] = u[3] << shift | u[2] >> (64 - shift);
        u[2] = u[2] << shift | u[1] >> (64 - shift);
        u[1] = u[1] << shift | u[0] >> (64 - shift);
        u[0] <<= shift;
    }
    std::uint64_t q[2];
    for (int j = 1; j >= 0; --j) {
        // The remainder so far (u[j+2], u[j+1]) lies below the divisor, so u[j+2] <= v1.
        std::uint64_t qhat, rhat;
        bool rhat_over = false;
        if (u[j + 2] >= v1) {
            qhat = ~std::uint64_t{0};
            rhat = u[j + 1] + v1;
            rhat_over = rhat < v1;
        } else {
            qhat = div128(u[j + 2], u[j + 1], v1, &rhat);
        }
        while (!rhat_over && static_cast<u128>(qhat) * v0 > (static_cast<u128>(rhat) << 64 | u[j])) {
            --qhat;
            rhat += v1;
            rhat_over = rhat < v1;
        }
        // (u[j+2], u[j+1], u[j]) -= qhat x (v1, v0); a borrow out means one too many.
        const u128 lo = static_cast<u128>(qhat) * v0, hi = static_cast<u128>(qhat) * v1 + (lo >> 64);
        const u128 t0 = static_cast<u128>(u[j]) - static_cast<std::uint64_t>(lo);
        const u128 t1 = static_cast<u128>(u[j + 1]) - static_cast<std::uint64_t>(hi) - (t0 >> 64 ? 1 : 0);
        const u128 t2 = static_cast<u128>(u[j + 2]) - static_cast<std::uint64_t>(hi >> 64) - (t1 >> 64 ? 1 : 0);
        u[j] = static_cast<std::uint64_t>(t0);
        u[j + 1] = static_cast<std::uint64_t>(t1);
        u[j + 2] = static_cast<std::uint64_t>(t2);
        if (t2 >> 64) {
            --qhat;
            const u128 s0 = static_cast<u128>(u[j]) + v0;
            const u128 s1 = static_cast<u128>(u[j + 1]) + v1 + static_cast<std::uint64_t>(s0 >> 64);
            u[j] = static_cast<std::uint64_t>(s0);
            u[j + 1] = static_cast<std::uint64_t>(s1);
            u[j + 2] += static_cast<std::uint64_t>(s1 >> 64);
        }
        q[j] = qhat;
    }
    // Q below 10^34: its words over 10^16 give the first pair and two runs of eight.
    constexpr std::uint64_t E16 = 10000000000000000ull;
    std::uint64_t low;
    const std::uint64_t top = div128(q[1], q[0], E16, &low);
    const std::uint64_t first = top / E16, middle = eight_pairs(top % E16), last = eight_pairs(low);
    u128 R = static_cast<u128>(first) << 120 | static_cast<u128>(middle) << 56 | last >> 8;
    bool carry;
    R = add_digits(R, (last & 0xFF) >= 50, &carry);
    int exp = ex - ey - k + 17;
    if (carry) {
        R = static_cast<u128>(1) << 120;
        ++exp;
    }
    return pack_normal(R, exp, pos, r);
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

int dmaths_deccmp(const dec_t *x, const dec_t *y) { return decword::compare(x, y); }

int dmaths_decadd(const dec_t *x, const dec_t *y, dec_t *r)
{
    if (decword::short_enough(x) && decword::short_enough(y) && decword::add(x, y, r)) return 0;
    return add_general(x, y, r, false);
}

int dmaths_decsub(const dec_t *x, const dec_t *y, dec_t *r)
{
    if (decword::short_enough(x) && decword::short_enough(y) && decword::add(x, y, r, true)) return 0;
    return add_general(x, y, r, true);
}

int dmaths_decmul(const dec_t *x, const dec_t *y, dec_t *r)
{
    if (decword::short_enough(x) && decword::short_enough(y) && decword::mul(x, y, r)) return 0;
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
    const DigitWords wx = digit_words(x), wy = digit_words(y);
    if (!well_formed(x, wx, y, wy)) return non_numeric(r);
    if (y->dec_ndgts == 0) {
        set_zero(r);
        return DEC_DIVIDE_BY_ZERO;
    }
    if (x->dec_ndgts == 0) {
        set_zero(r);
        return 0;
    }
    return divide_wide(wx, x->dec_exp, wy, y->dec_exp, x->dec_pos == y->dec_pos ? 1 : 0, r);
}
