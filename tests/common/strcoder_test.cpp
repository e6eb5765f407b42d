// The string coder: layout, round trips, capacity limits and tampering.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "strcoder.h"

namespace {

std::vector<std::uint64_t> encode(const std::string &text, std::size_t capacity_words, int *result)
{
    std::vector<std::uint64_t> words(capacity_words, 0xEEEEEEEEEEEEEEEEull);
    *result = encode_string(text.c_str(), words.data(), words.size() * 8);
    return words;
}

int decode(const std::vector<std::uint64_t> &words, std::string *text, std::size_t room = 256)
{
    std::vector<char> buf(room, '#');
    int r = decode_string(words.data(), words.size(), buf.data(), buf.size());
    *text = buf.data();
    return r;
}

// Text bytes 1..255 in a pattern that puts high bytes in every lane.
std::string sample(std::size_t n)
{
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(1 + (i * 37 + 11) % 255));
    return s;
}

} // namespace

TEST(StringCoder, SeedIsTheDocumentedValue)
{
    initialise_coding();
    EXPECT_EQ(code_seed, CODE_SEED_VALUE);
    EXPECT_EQ(encode_word(5, 3), 5 + 3 * CODE_SEED_VALUE);
    EXPECT_EQ(decode_word(encode_word(0x1234, 77), 77), 0x1234u);
}

TEST(StringCoder, ByteLanes)
{
    const unsigned shift[8] = {8, 0, 16, 24, 40, 56, 48, 32};
    for (std::size_t p = 0; p < 16; ++p)
        EXPECT_EQ(insert_byte(0, 0xAB, p), std::uint64_t{0xAB} << shift[p % 8]) << p;
    EXPECT_EQ(insert_byte(0xFFFFFFFFFFFFFFFFull, 0x00, 1), 0xFFFFFFFFFFFFFF00ull);  // only its own lane
    std::uint64_t w = 0;
    const char *text = "ABCDEFGH";
    for (int p = 0; p < 8; ++p) w = insert_byte(w, static_cast<unsigned char>(text[p]), p);
    EXPECT_STREQ(recode(w), "ABCDEFGH");
}

TEST(StringCoder, MessageLayout)
{
    int r = 0;
    auto w = encode("abcde", 8, &r);
    ASSERT_EQ(r, 3);
    EXPECT_EQ(w[0], 0xC8F0u);  // Fletcher-16 of "abcde"
    EXPECT_STREQ(recode(decode_word(w[1], 1)), "abcde");
    EXPECT_EQ(decode_word(w[2], 2), 0u);  // terminator
    EXPECT_EQ(w[3], 0xEEEEEEEEEEEEEEEEull);  // nothing beyond the message
}

TEST(StringCoder, RoundTripForEveryLengthUpTo64)
{
    for (std::size_t n = 0; n <= 64; ++n) {
        std::string text = sample(n);
        int r = 0;
        auto words = encode(text, n / 8 + 4, &r);
        ASSERT_EQ(r, static_cast<int>((n == 0 ? 1 : (n + 7) / 8) + 2)) << n;
        words.resize(r);  // the decoder gets exactly the message
        std::string back;
        EXPECT_EQ(decode(words, &back), 0) << n;
        EXPECT_EQ(back, text) << n;
    }
}

TEST(StringCoder, CapacityLimits)
{
    struct {
        std::size_t length;
        std::size_t words;
        int result;
    } cases[] = {
        {0, 2, -1}, {0, 3, 3}, {7, 3, 3}, {8, 3, -1}, {8, 4, 3}, {9, 4, 4},
        {15, 4, 4}, {16, 4, -1}, {16, 5, 4}, {17, 5, 5}, {64, 10, -1}, {64, 11, 10},
    };
    for (const auto &c : cases) {
        int r = 0;
        encode(sample(c.length), c.words, &r);
        EXPECT_EQ(r, c.result) << c.length << " in " << c.words;
    }
    // A byte count that is not a whole number of words counts only the whole words.
    std::uint64_t words[3];
    EXPECT_EQ(encode_string("abc", words, 23), -1);
    EXPECT_EQ(encode_string("abc", words, 24), 3);
}

TEST(StringCoder, TamperingIsDetected)
{
    std::string text = "Filer request: store /u/doc/17 as 0x80\x80\xff";
    int r = 0;
    auto words = encode(text, 16, &r);
    ASSERT_GT(r, 0);
    words.resize(r);
    struct {
        std::size_t word;
        std::uint64_t change;
    } cases[] = {{0, 1}, {0, 0x100}, {1, 1}, {2, 0x100}, {3, std::uint64_t{1} << 40}, {5, std::uint64_t{1} << 56}};
    for (const auto &c : cases) {
        auto bad = words;
        bad[c.word] ^= c.change;
        std::string back;
        EXPECT_EQ(decode(bad, &back), -1) << c.word;
    }
    // A data word that decodes to zero ends the text early.
    auto cut = words;
    cut[2] = encode_word(0, 2);
    std::string back;
    decode(cut, &back);
    EXPECT_EQ(back, text.substr(0, 8));
}

TEST(StringCoder, DecoderStaysInsideItsBuffers)
{
    std::string text = sample(30);
    int r = 0;
    auto words = encode(text, 8, &r);
    words.resize(r);
    std::string back;
    // Without its terminator the message is incomplete.
    auto no_end = words;
    no_end.pop_back();
    EXPECT_EQ(decode(no_end, &back), -1);
    EXPECT_EQ(decode(std::vector<std::uint64_t>{}, &back), -1);
    EXPECT_EQ(decode(std::vector<std::uint64_t>{words[0]}, &back), -1);
    // A text that does not fit is cut, terminated and reported.
    EXPECT_EQ(decode(words, &back, 10), -1);
    EXPECT_EQ(back, text.substr(0, 9));
    EXPECT_EQ(decode(words, &back, 31), 0);
    EXPECT_EQ(back, text);
    char none = 'x';
    EXPECT_EQ(decode_string(words.data(), words.size(), &none, 0), -1);
    EXPECT_EQ(none, 'x');
}

TEST(StringCoder, HighBytesKeepToTheirLane)
{
    std::string text = "\x80\x81\xfe\xff\x80\x7f\x01\x90";
    int r = 0;
    auto words = encode(text, 4, &r);
    ASSERT_EQ(r, 3);
    EXPECT_STREQ(recode(decode_word(words[1], 1)), text.c_str());
    words.resize(r);
    std::string back;
    EXPECT_EQ(decode(words, &back), 0);
    EXPECT_EQ(back, text);
}
