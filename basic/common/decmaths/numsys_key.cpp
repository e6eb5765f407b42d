// The numeric-system key and the hexadecimal form of a number.
#include <cstdio>
#include <cstring>

#include "mem_mgt.h"
#include "numerics.h"

char *numsys_key;
int numsys_keylen;

char *CheckNumericGenerate(int *length, long n)
{
    dec_t d{};
    NumericCvLONG(n, &d);
    unsigned char image[sizeof(dec_t)];
    std::memcpy(image, &d, sizeof image);
    auto *text = static_cast<char *>(salloc(2 * sizeof image + 1));
    for (std::size_t i = 0; i < sizeof image; ++i) std::snprintf(text + 2 * i, 3, "%2.2X", image[i]);
    *length = 2 * sizeof image;
    return text;
}

void GenNumSysKey()
{
    DPS_FREE(numsys_key);
    numsys_key = CheckNumericGenerate(&numsys_keylen, NUMSYS_KEY_CONSTANT);
}

void AcquireKeys()
{
    GenNumSysKey();
}

void FreeKeys()
{
    DPS_FREE(numsys_key);
    numsys_keylen = 0;
}
