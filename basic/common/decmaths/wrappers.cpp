// The Numeric* family through which the rest of the system uses the decimal arithmetic.
#include "numerics.h"

int NumericAdd(const dec_t *a, const dec_t *b, dec_t *r) { return dmaths_decadd(a, b, r); }
int NumericSub(const dec_t *a, const dec_t *b, dec_t *r) { return dmaths_decsub(a, b, r); }
int NumericMul(const dec_t *a, const dec_t *b, dec_t *r) { return dmaths_decmul(a, b, r); }
int NumericDiv(const dec_t *a, const dec_t *b, dec_t *r) { return dmaths_decdiv(a, b, r); }
int NumericCmp(const dec_t *a, const dec_t *b) { return dmaths_deccmp(a, b); }
int NumericCvASC(const char *text, int length, dec_t *r) { return dmaths_deccvasc(text, length, r); }
int NumericCvINT(int n, dec_t *r) { return dmaths_deccvint(n, r); }
int NumericCvLONG(long n, dec_t *r) { return dmaths_deccvlong(n, r); }
int NumericCvDBL(double d, dec_t *r) { return dmaths_deccvdbl(d, r); }
int NumericCvFLT(float f, dec_t *r) { return dmaths_deccvflt(f, r); }
int NumericToASC(const dec_t *a, char *buffer, int width, int decimals)
{
    return dmaths_dectoasc(a, buffer, width, decimals);
}
int NumericToINT(const dec_t *a, int *n) { return dmaths_dectoint(a, n); }
int NumericToLONG(const dec_t *a, long *n) { return dmaths_dectolong(a, n); }
int NumericToDBL(const dec_t *a, double *d) { return dmaths_dectodbl(a, d); }
int NumericToFLT(const dec_t *a, float *f) { return dmaths_dectoflt(a, f); }
