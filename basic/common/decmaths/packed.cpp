// Packed storage form: header byte (exponent + 192, inverted for negative values), then the
// digits, 100's-complemented for negative values. The bytes of two non-zero values compare as
// the values do, every negative one below every positive one; not so around zero: zero (and a
// negative zero) has the header of exponent 0, so it sorts above the positive values below 0.01
// (negative exponents), and null, all zero bytes, sorts below everything.
#include "dec_internal.h"

using namespace decmaths;

namespace {

// 100's complement of digits d[0..n) in place (trailing zero digits stay 0); it undoes itself.
void complement(unsigned char *d, int n)
{
    int last = n - 1;
    while (last >= 0 && d[last] == 0) --last;
    if (last < 0) return;
    d[last] = static_cast<unsigned char>(100 - d[last]);
    for (int i = 0; i < last; ++i) d[i] = static_cast<unsigned char>(99 - d[i]);
}

} // namespace

int dmaths_stdecimal(const dec_t *a, unsigned char *bytes, int len)
{
    if (len <= 0) return 0;
    if (a->dec_pos == DECPOSNULL) {
        std::memset(bytes, 0, len);
        return 0;
    }
    int n = ndigits(a), keep = len - 1 < DECSIZE ? len - 1 : DECSIZE;
    unsigned char d[DECSIZE] = {};
    for (int i = 0; i < keep && i < n; ++i) d[i] = static_cast<unsigned char>(a->dec_dgts[i]);
    int exp = a->dec_exp;
    if (n > keep && keep > 0 && static_cast<unsigned char>(a->dec_dgts[keep]) >= 50) {
        int i = keep - 1;
        while (i >= 0 && d[i] == 99) d[i--] = 0;
        if (i < 0) {
            d[0] = 1;
            ++exp;
        } else {
            ++d[i];
        }
    }
    bool neg = a->dec_pos == 0 && n > 0;
    // Header 0 is null: a negative value with exponent 63 (or one rounded up past 63) has no
    // header of its own.
    if (exp > DEC_MAXEXP || (neg && exp == DEC_MAXEXP)) return DEC_OVERFLOW;
    if (exp < DEC_MINEXP) return DEC_UNDERFLOW;
    unsigned char header = static_cast<unsigned char>(exp + 192);
    if (neg) {
        header = static_cast<unsigned char>(~header);
        complement(d, keep);
    }
    bytes[0] = header;
    for (int i = 1; i < len; ++i) bytes[i] = i - 1 < keep ? d[i - 1] : 0;
    return 0;
}

int dmaths_lddecimal(const unsigned char *bytes, int len, dec_t *r)
{
    if (len <= 0 || bytes[0] == 0) {
        set_null(r);
        return 0;
    }
    int header = bytes[0], n = len - 1 < DECSIZE ? len - 1 : DECSIZE;
    unsigned char d[DECSIZE] = {};
    for (int i = 0; i < n; ++i) {
        d[i] = bytes[1 + i];
        if (d[i] > 99) {  // not a stored number: never let it into the arithmetic
            set_null(r);
            return DEC_NON_NUMERIC;
        }
    }
    if (header >= 128) return finish(d, n, header - 192, 1, r);
    complement(d, n);
    return finish(d, n, 63 - header, 0, r);
}
