// Integers and binary floating values.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "dec_internal.h"
#include "dec_word.h"

using namespace decmaths;

namespace {

// Exact decimal of a magnitude; pos is the sign to give it.
void from_unsigned(unsigned long long m, int pos, dec_t *r)
{
    dec_t out{};
    out.dec_pos = 1;
    if (m) {
        char pairs[10] = {};
        int count = 0;
        for (; m; m /= 100) pairs[count++] = static_cast<char>(m % 100);
        int low = 0;
        while (pairs[low] == 0) ++low;  // trailing zero pairs are not counted
        out.dec_exp = static_cast<std::int16_t>(count);
        out.dec_pos = static_cast<std::int16_t>(pos);
        out.dec_ndgts = static_cast<std::int16_t>(count - low);
        for (int i = 0; i < out.dec_ndgts; ++i) out.dec_dgts[i] = pairs[count - 1 - i];
    }
    *r = out;
}

// Integer part, truncated toward zero, modulo 2^64 (no range check by design).
unsigned long long integer_part(const dec_t *a)
{
    int n = ndigits(a);
    unsigned long long v = 0;
    for (int i = 0; i < a->dec_exp; ++i) v = v * 100 + (i < n ? static_cast<unsigned char>(a->dec_dgts[i]) : 0);
    return a->dec_pos == 0 ? 0ull - v : v;
}

// digits significant decimal digits of a double, correctly rounded (as ecvt gives them).
int from_binary(double v, int digits, dec_t *r)
{
    if (!std::isfinite(v)) {
        set_null(r);
        return DEC_NON_NUMERIC;
    }
    if (v == 0) {
        set_zero(r);
        return 0;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.*e", digits - 1, v);  // [-]d.ddde[+-]xx
    const char *p = text;
    int pos = 1;
    if (*p == '-') {
        pos = 0;
        ++p;
    }
    unsigned char d[20];
    int count = 0;
    for (; *p && *p != 'e'; ++p)
        if (*p != '.') d[count++] = static_cast<unsigned char>(*p - '0');
    long long e = std::strtol(p + 1, nullptr, 10) + 1;  // digits before the point
    while (count > 0 && d[count - 1] == 0) --count;
    return from_decimal_digits(d, count, e, pos, r);
}

// "<digits>e<exponent>": the exact value as text, for a correctly rounded strtod/strtof.
void exact_text(const dec_t *a, char *text, std::size_t size)
{
    int n = ndigits(a), o = 0;
    if (a->dec_pos == 0) text[o++] = '-';
    text[o++] = '0';
    for (int i = 0; i < n; ++i) {
        int v = static_cast<unsigned char>(a->dec_dgts[i]) % 100;
        text[o++] = static_cast<char>('0' + v / 10);
        text[o++] = static_cast<char>('0' + v % 10);
    }
    std::snprintf(text + o, size - o, "e%d", 2 * (a->dec_exp - n));
}

// The nearest binary value through the exact text and the reader of the target type; NULL is 0.
template <class Binary>
int to_binary(const dec_t *a, Binary *out, Binary (*parse)(const char *, char **))
{
    if (a->dec_pos == DECPOSNULL) {
        *out = 0;
        return 0;
    }
    char text[48];
    exact_text(a, text, sizeof text);
    *out = parse(text, nullptr);
    return 0;
}

} // namespace

int dmaths_deccvint(int n, dec_t *r)
{
    if (n != std::numeric_limits<int>::min() && decword::from_integer(n, r)) return 0;
    if (n == std::numeric_limits<int>::min()) {
        set_null(r);
        return 0;
    }
    from_unsigned(n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n), n >= 0, r);
    return 0;
}

int dmaths_deccvlong(long n, dec_t *r)
{
    if (decword::from_integer(n, r)) return 0;
    if (n == std::numeric_limits<long>::min()) {
        set_null(r);
        return 0;
    }
    from_unsigned(n < 0 ? 0ul - static_cast<unsigned long>(n) : static_cast<unsigned long>(n), n >= 0, r);
    return 0;
}

int dmaths_dectoint(const dec_t *a, int *n)
{
    *n = a->dec_pos == DECPOSNULL ? std::numeric_limits<int>::min()
                                  : static_cast<int>(static_cast<unsigned>(integer_part(a)));
    return 0;
}

int dmaths_dectolong(const dec_t *a, long *n)
{
    *n = a->dec_pos == DECPOSNULL ? std::numeric_limits<long>::min() : static_cast<long>(integer_part(a));
    return 0;
}

int dmaths_deccvdbl(double d, dec_t *r) { return from_binary(d, 16, r); }

int dmaths_deccvflt(float f, dec_t *r) { return from_binary(f, 8, r); }

int dmaths_dectodbl(const dec_t *a, double *d) { return to_binary(a, d, std::strtod); }

int dmaths_dectoflt(const dec_t *a, float *f) { return to_binary(a, f, std::strtof); }
