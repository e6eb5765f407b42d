// The string coder of the filer link: a text travels as 64-bit words, its bytes scattered over
// byte lanes, word k offset by k times a seed, with a Fletcher-style checksum in word 0.
//
// Message layout (n data words):
//   word 0       checksum in the low 16 bits, the other bits zero
//   word 1..n    8 text bytes each, packed into lanes, plus k x seed
//   word n+1     terminator: 0 + (n+1) x seed
// An empty text still has one (all-zero) data word.
//
// Seed: built once from CODE_SEED_BASE by multiplying (modulo 2^64) by CODE_SEED_MUL[0], [1] and
// [2] in turn, which gives 0x3151E5F4E41AE6B3. Both ends of the filer link must use this value.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::uint64_t CODE_SEED_BASE = 0x5DEECE66DULL;
inline constexpr std::uint64_t CODE_SEED_MUL[3] = {6364136223846793005ULL, 1442695040888963407ULL,
                                                   0x9E3779B97F4A7C15ULL};
inline constexpr std::uint64_t CODE_SEED_VALUE = 0x3151E5F4E41AE6B3ULL;

extern std::uint64_t code_seed;  // 0 until first use
void initialise_coding();

std::uint64_t encode_word(std::uint64_t word, std::uint64_t k);  // word + k x seed
std::uint64_t decode_word(std::uint64_t word, std::uint64_t k);  // word - k x seed
// word with byte placed in the lane of text position p.
std::uint64_t insert_byte(std::uint64_t word, unsigned char byte, std::size_t p);
// The word's 8 bytes in lane order and a NUL, in a static buffer the next call overwrites.
const char *recode(std::uint64_t word);

// Codes text into words (size bytes of room); the number of words written, or -1 when they do
// not fit (words already written stay).
int encode_string(const char *text, std::uint64_t *words, std::size_t size);
// Restores the text of a message of nwords words into text (size bytes, always terminated).
// 0 when the checksum matches; -1 when it does not, when no terminator comes within nwords, or
// when the text does not fit.
int decode_string(const std::uint64_t *words, std::size_t nwords, char *text, std::size_t size);
