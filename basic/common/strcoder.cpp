// The string coder of the filer link.
#include "strcoder.h"

std::uint64_t code_seed;

namespace {

// Bit offset of the lane for text position p mod 8.
constexpr unsigned lane_shift[8] = {8, 0, 16, 24, 40, 56, 48, 32};

// Fletcher-style sums over the text bytes taken as signed; remainders keep the sign of the
// dividend and are stored in 16 bits, as both ends of the link compute them.
struct Checksum {
    std::uint16_t sum1 = 0;
    std::uint16_t sum2 = 0;

    void add(char byte)
    {
        int b = static_cast<signed char>(byte);
        sum1 = static_cast<std::uint16_t>((static_cast<int>(sum1) + b) % 255);
        sum2 = static_cast<std::uint16_t>((static_cast<int>(sum2) + static_cast<int>(sum1)) % 255);
    }
    std::uint64_t word() const
    {
        return static_cast<std::uint16_t>(sum1 + 256u * sum2);
    }
};

unsigned char lane_byte(std::uint64_t word, int lane)
{
    return static_cast<unsigned char>(word >> lane_shift[lane]);
}

} // namespace

void initialise_coding()
{
    std::uint64_t seed = CODE_SEED_BASE;
    for (std::uint64_t m : CODE_SEED_MUL) seed *= m;
    code_seed = seed;
}

std::uint64_t encode_word(std::uint64_t word, std::uint64_t k)
{
    if (!code_seed) initialise_coding();
    return word + k * code_seed;
}

std::uint64_t decode_word(std::uint64_t word, std::uint64_t k)
{
    if (!code_seed) initialise_coding();
    return word - k * code_seed;
}

std::uint64_t insert_byte(std::uint64_t word, unsigned char byte, std::size_t p)
{
    unsigned shift = lane_shift[p % 8];
    return (word & ~(std::uint64_t{0xFF} << shift)) | (std::uint64_t{byte} << shift);
}

const char *recode(std::uint64_t word)
{
    static char text[9];
    for (int lane = 0; lane < 8; ++lane) text[lane] = static_cast<char>(lane_byte(word, lane));
    text[8] = '\0';
    return text;
}

int encode_string(const char *text, std::uint64_t *words, std::size_t size)
{
    std::size_t capacity = size / 8;
    if (capacity < 3) return -1;
    Checksum sum;
    std::uint64_t current = 0;
    std::size_t k = 0;
    std::size_t p = 0;
    for (; text[p]; ++p) {
        sum.add(text[p]);
        current = insert_byte(current, static_cast<unsigned char>(text[p]), p);
        if (p % 8 == 7) {
            ++k;
            words[k] = encode_word(current, k);
            current = 0;
            if (capacity <= k + 2) return -1;
        }
    }
    if (p % 8 != 0 || p == 0) {
        ++k;
        words[k] = encode_word(current, k);
        if (k + 1 >= capacity) return -1;
    }
    words[k + 1] = encode_word(0, k + 1);
    words[0] = sum.word();
    return static_cast<int>(k + 2);
}

int decode_string(const std::uint64_t *words, std::size_t nwords, char *text, std::size_t size)
{
    if (size == 0) return -1;
    text[0] = '\0';
    Checksum sum;
    std::size_t len = 0;
    bool fits = true;
    for (std::size_t k = 1;; ++k) {
        if (k >= nwords) return -1;  // no terminator within the words given
        std::uint64_t w = decode_word(words[k], k);
        if (w == 0) break;
        bool text_ended = false;
        for (int lane = 0; lane < 8; ++lane) {
            unsigned char b = lane_byte(w, lane);
            if (!b) {
                text_ended = true;
                continue;
            }
            sum.add(static_cast<char>(b));
            if (text_ended) continue;
            if (len + 1 < size)
                text[len++] = static_cast<char>(b);
            else
                fits = false;
        }
        text[len] = '\0';
    }
    if (!fits) return -1;
    return nwords > 0 && words[0] == sum.word() ? 0 : -1;
}
