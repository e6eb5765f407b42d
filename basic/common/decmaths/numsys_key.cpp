// The numeric-system key and the hexadecimal form of a number.
#include <cstdio>
#include <cstring>

#include "mem_mgt.h"
#include "numerics.h"

char *numsys_key;
int numsys_keylen;

namespace {

// Exact decimal of a long (the full conversion family lives with the arithmetic).
dec_t long_to_dec(long n)
{
    dec_t d{};
    d.dec_pos = n < 0 ? 0 : 1;
    unsigned long m = n < 0 ? 0ul - static_cast<unsigned long>(n) : static_cast<unsigned long>(n);
    char pairs[DECSIZE];
    int count = 0;
    for (; m; m /= 100) pairs[count++] = static_cast<char>(m % 100);
    d.dec_exp = static_cast<std::int16_t>(count);
    int first = 0;
    while (first < count && pairs[first] == 0) ++first;  // trailing zero pairs are not counted
    d.dec_ndgts = static_cast<std::int16_t>(count - first);
    for (int i = 0; i < d.dec_ndgts; ++i) d.dec_dgts[i] = pairs[count - 1 - i];
    if (count == 0) d.dec_exp = 0;
    return d;
}

} // namespace

char *CheckNumericGenerate(int *length, long n)
{
    dec_t d = long_to_dec(n);
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
