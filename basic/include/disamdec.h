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

// Accumulator: a decimal with a 17th (guard) digit that decides the rounding.
struct dec_a {
    std::int16_t dec_exp;
    std::int16_t dec_pos;
    std::int16_t dec_ndgts;
    char dec_dgts[DECSIZE + 1];
};
static_assert(sizeof(dec_a) == 24, "the accumulator is 24 bytes");

// Exponent range of a value (base 100).
inline constexpr int DEC_MAXEXP = 63;
inline constexpr int DEC_MINEXP = -64;

// Status codes of the arithmetic (0 is success).
inline constexpr int DEC_OVERFLOW = -1200;        // result exponent above 63
inline constexpr int DEC_UNDERFLOW = -1201;       // result exponent below -64
inline constexpr int DEC_DIVIDE_BY_ZERO = -1202;  // divisor has no digits
inline constexpr int DEC_NON_NUMERIC = -1213;     // text (or binary value) is not a number
inline constexpr int DEC_BAD_EXPONENT = -1216;    // text exponent above 999
inline constexpr int DECUNKNOWN = -2;             // comparison with a null value

// Every routine takes caller-owned records and allocates nothing. Results are correctly rounded
// to 16 base-100 digits, half away from zero; the result may be the same object as an operand.
int dmaths_dec_round(dec_a *acc, int carry);  // normalise and round an accumulator in place
int dmaths_deccmp(const dec_t *x, const dec_t *y);
int dmaths_decadd(const dec_t *x, const dec_t *y, dec_t *r);
int dmaths_decsub(const dec_t *x, const dec_t *y, dec_t *r);
int dmaths_decmul(const dec_t *x, const dec_t *y, dec_t *r);
int dmaths_decdiv(const dec_t *x, const dec_t *y, dec_t *r);

// Text: at most length characters are read; the output form writes exactly width characters.
int dmaths_deccvasc(const char *text, int length, dec_t *r);
int dmaths_dectoasc(const dec_t *a, char *buffer, int width, int decimals);
// Digit strings in a static buffer that the next call overwrites: n significant digits (ecvt)
// or n digits after the point (fcvt); *pt digits stand before the point, *sign is 1 if negative.
char *dmaths_decefcvt(const dec_t *a, int n, int *pt, int *sign, int fixed);
char *dmaths_dececvt(const dec_t *a, int ndigits, int *pt, int *sign);
char *dmaths_decfcvt(const dec_t *a, int ndecimals, int *pt, int *sign);

// Integers and binary floating values.
int dmaths_deccvint(int n, dec_t *r);
int dmaths_deccvlong(long n, dec_t *r);
int dmaths_deccvdbl(double d, dec_t *r);
int dmaths_deccvflt(float f, dec_t *r);
int dmaths_dectoint(const dec_t *a, int *n);
int dmaths_dectolong(const dec_t *a, long *n);
int dmaths_dectodbl(const dec_t *a, double *d);
int dmaths_dectoflt(const dec_t *a, float *f);

// Packed storage form: a header byte, then len - 1 digit bytes.
int dmaths_stdecimal(const dec_t *a, unsigned char *bytes, int len);
int dmaths_lddecimal(const unsigned char *bytes, int len, dec_t *r);
