// Compare, add, subtract, multiply and divide. Each forms the exact leading digits of the result
// (a floor of the magnitude, 17 significant base-100 digits or more) and leaves rounding to finish().
#include <cstdio>

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

// A damaged record handed to the arithmetic: worth a line on standard error.
bool damaged(const dec_t *a)
{
    if (a->dec_ndgts < 0 || a->dec_ndgts > DECSIZE) return true;
    if (a->dec_exp < DEC_MINEXP || a->dec_exp > DEC_MAXEXP) return true;
    if (a->dec_pos < 0 || a->dec_pos > 1) return true;
    for (int i = 0; i < DECSIZE; ++i) {
        auto d = static_cast<unsigned char>(a->dec_dgts[i]);
        if (d > 99 || (i >= a->dec_ndgts && d != 0)) return true;
    }
    return a->dec_ndgts > 0 && a->dec_dgts[0] == 0;
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
        if (damaged(y))
            std::fprintf(stderr, " -- possible memory corruption in dmaths_decadd %s:%d\n", __FILE__, __LINE__);
        if (r != y) *r = *y;
        r->dec_pos = static_cast<std::int16_t>(ys);
        return 0;
    }
    const dec_t *a = x, *b = y;
    int as = xs, na = nx, nb = ny;
    if (cmp_magnitude(x, y) < 0) {
        a = y, b = x, as = ys, na = ny, nb = nx;
    }
    int d = a->dec_exp - b->dec_exp;
    if (d < 0) d = 0;  // only a damaged record could do this
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
        for (int j = 18 - d; j < nb; ++j)
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

constexpr std::uint64_t pow100[9] = {1ull,
                                     100ull,
                                     10000ull,
                                     1000000ull,
                                     100000000ull,
                                     10000000000ull,
                                     1000000000000ull,
                                     100000000000000ull,
                                     10000000000000000ull};

// Quotient digits of x's digits followed by zeros (L pairs in all) divided by a divisor of at
// most 8 pairs: eight quotient pairs per hardware division.
void divide_short(const dec_t *x, int nx, std::uint64_t yc, int L, unsigned char *q)
{
    std::uint64_t rem = 0;
    for (int t = 0; t < L; t += 8) {
        int cnt = L - t < 8 ? L - t : 8;
        if (rem == 0 && t >= nx) {  // the rest of the dividend is zero and so is the quotient
            std::memset(q + t, 0, L - t);
            return;
        }
        std::uint64_t chunk = 0;
        for (int i = t; i < t + cnt; ++i) chunk = chunk * 100 + (i < nx ? x->dec_dgts[i] : 0);
        unsigned __int128 n = static_cast<unsigned __int128>(rem) * pow100[cnt] + chunk;
        std::uint64_t qq = div128(static_cast<std::uint64_t>(n >> 64), static_cast<std::uint64_t>(n), yc, &rem);
        for (int i = t + cnt - 1; i >= t; --i) {
            q[i] = static_cast<unsigned char>(qq % 100);
            qq /= 100;
        }
    }
}

// Long division in base 100 with a normalised divisor (two-digit quotient estimate, at most two
// corrections and one add-back, so every quotient digit is exact). u holds L + 1 digits, the first
// one 0; q receives L - ny + 1 digits.
void divide_long(int *u, int L, int *v, int ny, unsigned char *q)
{
    int f = 100 / (v[0] + 1);
    if (f > 1) {
        int c = 0;
        for (int i = ny - 1; i >= 0; --i) {
            int t = v[i] * f + c;
            v[i] = t % 100;
            c = t / 100;
        }
        c = 0;
        for (int i = L; i >= 0; --i) {
            int t = u[i] * f + c;
            u[i] = t % 100;
            c = t / 100;
        }
    }
    for (int j = 0; j <= L - ny; ++j) {
        int num = u[j] * 100 + u[j + 1];
        int qhat = num / v[0], rhat = num % v[0];
        while (qhat >= 100 || qhat * v[1] > rhat * 100 + u[j + 2]) {
            --qhat;
            rhat += v[0];
            if (rhat >= 100) break;
        }
        int borrow = 0, carry = 0;
        for (int i = ny - 1; i >= 0; --i) {
            int p = qhat * v[i] + carry;
            carry = p / 100;
            int t = u[j + 1 + i] - p % 100 - borrow;
            borrow = t < 0;
            u[j + 1 + i] = borrow ? t + 100 : t;
        }
        int t = u[j] - carry - borrow;
        if (t < 0) {  // the estimate was one too large: add the divisor back
            --qhat;
            int c = 0;
            for (int i = ny - 1; i >= 0; --i) {
                int s = u[j + 1 + i] + v[i] + c;
                c = s >= 100;
                u[j + 1 + i] = c ? s - 100 : s;
            }
            t += c;  // the borrow out of the top slot cancels
        }
        u[j] = t;
        q[j] = static_cast<unsigned char>(qhat);
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
    return add_signed(x, x->dec_pos, y, y->dec_pos, r);
}

int dmaths_decsub(const dec_t *x, const dec_t *y, dec_t *r)
{
    if (is_null(x) || is_null(y)) {
        set_null(r);
        return 0;
    }
    return add_signed(x, x->dec_pos, y, y->dec_pos ? 0 : 1, r);
}

int dmaths_decmul(const dec_t *x, const dec_t *y, dec_t *r)
{
    if (is_null(x) || is_null(y)) {
        set_null(r);
        return 0;
    }
    int nx = ndigits(x), ny = ndigits(y);
    int pos = x->dec_pos == y->dec_pos ? 1 : 0;
    // The exact product: column sums (at most 16 x 99 x 99, no overflow), then one carry pass.
    std::uint32_t w[2 * DECSIZE] = {};
    for (int i = 0; i < nx; ++i) {
        std::uint32_t xi = static_cast<unsigned char>(x->dec_dgts[i]);
        if (!xi) continue;
        for (int j = 0; j < ny; ++j) w[i + j + 1] += xi * static_cast<unsigned char>(y->dec_dgts[j]);
    }
    std::uint32_t c = 0;
    for (int t = nx + ny - 1; t >= 0; --t) {
        std::uint32_t v = w[t] + c;
        w[t] = v % 100;
        c = v / 100;
    }
    return finish(w, nx + ny, x->dec_exp + y->dec_exp, pos, r);
}

int dmaths_decdiv(const dec_t *x, const dec_t *y, dec_t *r)
{
    if (is_null(x) || is_null(y)) {
        set_null(r);
        return 0;
    }
    int nx = ndigits(x), ny = ndigits(y);
    if (ny == 0) {
        set_zero(r);
        return DEC_DIVIDE_BY_ZERO;
    }
    int pos = x->dec_pos == y->dec_pos ? 1 : 0;
    int ex = x->dec_exp, ey = y->dec_exp;
    // The dividend is x's digits followed by zeros, L = 17 + ny pairs: its integer quotient by
    // y's digits has 17 or 18 significant pairs, all exact (floor).
    int L = 17 + ny;
    unsigned char q[17 + DECSIZE];
    if (ny <= 8) {
        std::uint64_t yc = 0;
        for (int j = 0; j < ny; ++j) yc = yc * 100 + static_cast<unsigned char>(y->dec_dgts[j]);
        divide_short(x, nx, yc, L, q);
        return finish(q, L, ex - ey + ny, pos, r);
    }
    int u[17 + DECSIZE + 1] = {}, v[DECSIZE];
    for (int i = 0; i < nx; ++i) u[1 + i] = static_cast<unsigned char>(x->dec_dgts[i]);
    for (int j = 0; j < ny; ++j) v[j] = static_cast<unsigned char>(y->dec_dgts[j]);
    divide_long(u, L, v, ny, q);
    return finish(q, L - ny + 1, ex - ey + 1, pos, r);
}
