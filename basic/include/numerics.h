// The decimal arithmetic as the rest of the system uses it, and the numeric-system key.
#pragma once

#include "disamdec.h"

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
