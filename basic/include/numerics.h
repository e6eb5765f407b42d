// The decimal arithmetic as the rest of the system uses it, and the numeric-system key.
#pragma once

#include <cstring>

#include "disamdec.h"

// Each wrapper hands its arguments unchanged to one dmaths_ routine and returns its status.
int NumericAdd(const dec_t *a, const dec_t *b, dec_t *r);
int NumericSub(const dec_t *a, const dec_t *b, dec_t *r);
int NumericMul(const dec_t *a, const dec_t *b, dec_t *r);
int NumericDiv(const dec_t *a, const dec_t *b, dec_t *r);
int NumericCmp(const dec_t *a, const dec_t *b);  // -1, 0, 1, or DECUNKNOWN with a null operand
int NumericCvASC(const char *text, int length, dec_t *r);
int NumericCvINT(int n, dec_t *r);
int NumericCvLONG(long n, dec_t *r);
int NumericCvDBL(double d, dec_t *r);  // 0, or DEC_NON_NUMERIC (NaN, infinity), range errors
int NumericCvFLT(float f, dec_t *r);
int NumericToASC(const dec_t *a, char *buffer, int width, int decimals);
int NumericToINT(const dec_t *a, int *n);
int NumericToLONG(const dec_t *a, long *n);
int NumericToDBL(const dec_t *a, double *d);
int NumericToFLT(const dec_t *a, float *f);

inline void NumericCopy(dec_t *dst, const dec_t *src) { std::memcpy(dst, src, sizeof(dec_t)); }
inline int NumericHasDigits(const dec_t *v) { return v->dec_ndgts != 0; }
inline int NumericIsPositive(const dec_t *v) { return v->dec_pos != 0; }  // null counts as positive
inline void NumericSetNegative(dec_t *v) { v->dec_pos = 0; }
inline void NumericSetPositive(dec_t *v) { v->dec_pos = 1; }

// A machine address kept in a number.
inline void PointerToDec(const void *p, dec_t *dec) { NumericCvLONG(reinterpret_cast<long>(p), dec); }
template <class T> inline void DecToPointer(const dec_t *dec, T *&p)
{
    long l = 0;
    NumericToLONG(dec, &l);
    p = reinterpret_cast<T *>(l);
}

// The numeric-system key: upper-case hexadecimal image (44 characters) of the decimal made from
// the library's constant 150670. The object-file header carries the compiler's copy of it.
inline constexpr long NUMSYS_KEY_CONSTANT = 150670;
extern char *numsys_key;
extern int numsys_keylen;
void AcquireKeys();
void GenNumSysKey();
void FreeKeys();
// Hexadecimal image of the decimal of n, as a new salloc string of *length (44) characters.
char *CheckNumericGenerate(int *length, long n);
