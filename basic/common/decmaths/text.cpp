// Text to number, digit strings and number to text.
#include <algorithm>
#include <cstdio>

#include "dec_internal.h"

using namespace decmaths;

namespace decmaths {

int from_decimal_digits(const unsigned char *d, int count, long long e, int pos, dec_t *r)
{
    // Base-100 exponent floor((e + 1) / 2); an odd e puts a single digit in the first pair.
    long long e1 = e + 1;
    long long exp = e1 >= 0 ? e1 / 2 : -((1 - e1) / 2);
    int shift = (e & 1) ? 1 : 0;
    int w[DECSIZE + 2] = {};
    int limit = 2 * (DECSIZE + 2) - shift;  // decimal digits that reach the 18 slots
    if (count > limit) count = limit;
    for (int i = 0; i < count; ++i) {
        int p = i + shift;
        w[p >> 1] += (p & 1) ? d[i] : d[i] * 10;
    }
    if (exp > 1000) exp = 1000;  // far out of range either way; keeps the int exponent sane
    if (exp < -1000) exp = -1000;
    return finish(w, (count + shift + 1) / 2, static_cast<int>(exp), pos, r);
}

void all_digits(const dec_t *a, DecDigits &out)
{
    int n = ndigits(a);
    int lead = static_cast<unsigned char>(a->dec_dgts[0]) < 10;
    out.pt = 2 * a->dec_exp - lead;
    int len = 0;
    for (int i = 0; i < n; ++i) {
        int v = static_cast<unsigned char>(a->dec_dgts[i]) % 100;
        if (i > 0 || !lead) out.d[len++] = static_cast<char>('0' + v / 10);
        out.d[len++] = static_cast<char>('0' + v % 10);
    }
    out.len = len;
}

void round_digits(DecDigits &dd, int k)
{
    if (k >= dd.len) return;
    if (k < 0) {
        dd.len = 0;
        return;
    }
    bool up = dd.d[k] >= '5';
    dd.len = k;
    if (!up) return;
    int i = k - 1;
    while (i >= 0 && dd.d[i] == '9') --i;
    if (i < 0) {  // all nines (or nothing kept): the next power of ten
        dd.d[0] = '1';
        dd.len = 1;
        ++dd.pt;
        return;
    }
    ++dd.d[i];
    dd.len = i + 1;
}

} // namespace decmaths

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// k clamped into int range for round_digits (anything past 32 digits leaves them unchanged).
int clamp_k(long long k) { return k > 1000 ? 1000 : k < -1000 ? -1000 : static_cast<int>(k); }

char digit_at(const DecDigits &dd, long long i) { return i >= 0 && i < dd.len ? dd.d[i] : '0'; }

// The value rounded to `decimals` places.
DecDigits fixed_digits(const dec_t *a, long long decimals)
{
    DecDigits dd;
    all_digits(a, dd);
    round_digits(dd, clamp_k(dd.pt + decimals));
    return dd;
}

void write_fixed(char *buf, int width, bool neg, const DecDigits &dd, long long decimals)
{
    int o = 0;
    auto put = [&](char c) {
        if (o < width) buf[o++] = c;
    };
    if (neg) put('-');
    if (dd.pt < 1)
        put('0');
    else
        for (int i = 0; i < dd.pt && o < width; ++i) put(digit_at(dd, i));
    put('.');
    for (long long j = 0; j < decimals && o < width; ++j) put(digit_at(dd, dd.pt + j));
}

// Mantissa, 'e' and exponent, left-aligned; all '*' when not even one digit fits.
void write_exponent(const dec_t *a, char *buf, int width, bool neg, int pt)
{
    for (int round = 0; round < 4; ++round) {
        char et[16];
        int el = std::snprintf(et, sizeof et, "%d", pt - 1);
        int room = width - el - 1 - (neg ? 1 : 0);
        if (room < 1) {
            if (a->dec_exp < -1) {
                buf[0] = '0';
            } else {
                std::memset(buf, '*', width);
            }
            return;
        }
        int nd = room - 1 < 1 ? 1 : room - 1;
        DecDigits dd;
        all_digits(a, dd);
        round_digits(dd, nd);
        if (dd.pt != pt) {  // rounding added a digit: the exponent changes, and maybe its length
            pt = dd.pt;
            continue;
        }
        char m[2 * DECSIZE + 4];
        int ml = 0;
        m[ml++] = digit_at(dd, 0);
        if (nd > 1) {
            m[ml++] = '.';
            for (int i = 1; i < nd && ml < int(sizeof m); ++i) m[ml++] = digit_at(dd, i);
            while (m[ml - 1] == '0') --ml;
            if (m[ml - 1] == '.') --ml;
        }
        int o = 0;
        if (neg) buf[o++] = '-';
        for (int i = 0; i < ml; ++i) buf[o++] = m[i];
        buf[o++] = 'e';
        for (int i = 0; i < el; ++i) buf[o++] = et[i];
        return;
    }
}

} // namespace

int dmaths_deccvasc(const char *text, int length, dec_t *r)
{
    r->dec_pos = DECPOSNULL;
    int n = length < 0 ? 0 : length, i = 0;
    while (i < n && text[i] == ' ') ++i;
    if (i == n) return 0;
    int pos = 1;
    if (text[i] == '-') {
        pos = 0;
        ++i;
    } else if (text[i] == '+') {
        ++i;
    }
    unsigned char dig[2 * DECSIZE + 2];
    int stored = 0;
    long long sig = 0, frac = 0;
    bool point = false;
    for (; i < n; ++i) {
        char c = text[i];
        if (is_digit(c)) {
            if (point) ++frac;
            if (sig == 0 && c == '0') continue;  // leading zeros
            if (stored < int(sizeof dig)) dig[stored++] = static_cast<unsigned char>(c - '0');
            ++sig;
        } else if (c == '.') {
            if (point) return DEC_NON_NUMERIC;
            point = true;
        } else {
            break;
        }
    }
    long long texp = 0;
    if (i < n) {
        char c = text[i++];  // ends the mantissa; consumed without a check
        if ((c == 'e' || c == 'E') && i < n) {
            bool eneg = false;
            if (text[i] == '+') {
                ++i;
            } else if (text[i] == '-') {
                eneg = true;
                ++i;
            }
            while (i < n) {
                c = text[i++];
                if (!is_digit(c)) break;
                texp = texp * 10 + (c - '0');
                if (texp > 999) return DEC_BAD_EXPONENT;
            }
            if (eneg) texp = -texp;
        }
        if (i < n && text[i] != ' ') return DEC_NON_NUMERIC;
    }
    if (stored == 0) {  // zero keeps the sign of the text: "-" or "-0" is a negative zero
        dec_t out{};
        out.dec_pos = static_cast<std::int16_t>(pos);
        *r = out;
        return 0;
    }
    return from_decimal_digits(dig, stored, sig - frac + texp, pos, r);
}

char *dmaths_decefcvt(const dec_t *a, int n, int *pt, int *sign, int fixed)
{
    static char buf[151];
    buf[0] = '\0';
    if (a->dec_pos == DECPOSNULL) return buf;
    *sign = a->dec_pos == 0 && a->dec_ndgts != 0;
    DecDigits dd;
    all_digits(a, dd);
    *pt = dd.pt;
    long long k = fixed ? static_cast<long long>(n) + dd.pt : n;
    if (k < 0) return buf;
    round_digits(dd, clamp_k(k));
    *pt = dd.pt;
    if (fixed) k = static_cast<long long>(n) + dd.pt;
    if (k > 150) k = 150;
    for (long long i = 0; i < k; ++i) buf[i] = digit_at(dd, i);
    buf[k < 0 ? 0 : k] = '\0';
    return buf;
}

char *dmaths_dececvt(const dec_t *a, int ndigits, int *pt, int *sign)
{
    return dmaths_decefcvt(a, ndigits, pt, sign, 0);
}

char *dmaths_decfcvt(const dec_t *a, int ndecimals, int *pt, int *sign)
{
    return dmaths_decefcvt(a, ndecimals, pt, sign, 1);
}

int dmaths_dectoasc(const dec_t *a, char *buffer, int width, int decimals)
{
    if (width <= 0) return 0;
    std::memset(buffer, ' ', width);
    if (a->dec_pos == DECPOSNULL) return 0;
    int nd = ndigits(a);
    long long dec = decimals;
    if (dec < 0) {  // as many as the value has, at least one
        dec = 2LL * nd - 2LL * a->dec_exp;
        if (dec != 0 && nd > 0 && static_cast<unsigned char>(a->dec_dgts[nd - 1]) % 10 == 0) --dec;
        if (dec < 1) dec = 1;
    }
    bool neg = a->dec_pos == 0 && nd > 0;
    // The fixed form counts its digits (pt + dec of them, so none stand for the "0" before the
    // point of a value below one) and the point, which is left out of the count when there are
    // no decimals. A field short by no more than the decimals takes that many fewer, rounded
    // again from the value; what still does not fit is cut at the field's end (0.67 in three
    // columns is 0.6), which reports and stored files rely on.
    DecDigits dd = fixed_digits(a, dec);
    const long long digits = std::clamp(dd.pt + dec, 0LL, 150LL);
    const long long excess = digits + (digits != dd.pt ? 1 : 0) + (neg ? 1 : 0) - width;
    if (excess > 0 && excess <= dec) {
        dec -= excess;
        dd = fixed_digits(a, dec);
    }
    if (width - (neg ? 1 : 0) < dd.pt)
        write_exponent(a, buffer, width, neg, dd.pt);
    else
        write_fixed(buffer, width, neg, dd, dec);
    return 0;
}
