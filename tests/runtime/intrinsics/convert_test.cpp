// A decimal's shortest text and string concatenation.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "executor.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "mem_mgt.h"
#include "numerics.h"
#include "program_text.h"
#include "test_host.h"
#include "value_stack.h"

namespace {

using lumba_test::dec;

} // namespace

TEST(ConvertBCD, ShortestText)
{
    const std::string small = "0." + std::string(127, '0') + "1";
    const std::string big = std::string(32, '9') + std::string(94, '0');  // 126 digits: the largest exponent
    struct {
        std::string in, out;
    } cases[] = {
        {"123", "123"},      {"-0.5", "-0.5"},   {"1.50", "1.5"},   {"0", "0"},
        {"-0", "0"},         {"100", "100"},     {"0.005", "0.005"}, {"-12345.678", "-12345.678"},
        {"12345678901234567890123456789012", "12345678901234567890123456789012"},
        {"0.33333333333333333333333333333333", "0.33333333333333333333333333333333"},
        {small, small},      {big, big},
    };
    for (const auto &c : cases) {
        dec_t d = dec(c.in.c_str());
        EXPECT_EQ(std::string(Convert_BCD(&d)), c.out) << c.in;
    }
}

TEST(Concatenation, JoinsEntriesInStackOrderByLength)
{
    Stack stack[4]{};
    Stack *saved = Stk;
    Stk = stack;
    const char *texts[] = {"ab\0x", "", "cde"};
    std::uint32_t lengths[] = {4, 0, 3};
    for (int i = 0; i < 3; ++i) {
        stack[i + 1].s_t = string;
        stack[i + 1].s_c.C_S = const_cast<char *>(texts[i]);
        stack[i + 1].length = lengths[i];
    }
    Stack result{};
    s_concat(&result, 3, 3);
    EXPECT_EQ(result.s_t, string);
    EXPECT_EQ(std::string(result.s_c.C_S, result.length), std::string("ab\0xcde", 7));
    EXPECT_EQ(result.s_dims[0], 7u);
    EXPECT_EQ(result.s_c.C_S[7], '\0');
    sfree(result.s_c.C_S);
    Stk = saved;
}

TEST(ConvertBCD, AgreesWithPythonDecimalOnRandomValues)
{
    std::ifstream in(BCD_TABLE);
    ASSERT_TRUE(in) << BCD_TABLE;
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        const auto tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        const std::string input = line.substr(0, tab), expected = line.substr(tab + 1);
        dec_t d = dec(input.c_str());
        EXPECT_EQ(std::string(Convert_BCD(&d)), expected) << input;
        ++count;
    }
    EXPECT_EQ(count, 5000);
}

TEST(ConvertHEX, PointerNotationOfTheIntegerValue)
{
    struct {
        const char *in, *out;
    } cases[] = {
        {"255", "0xff"}, {"0", "(nil)"}, {"1", "0x1"}, {"4096.9", "0x1000"},
        {"-1", "0xffffffffffffffff"}, {"9223372036854775807", "0x7fffffffffffffff"},
        {"18446744073709551615", "0xffffffffffffffff"}, {"18446744073709551615.99", "0xffffffffffffffff"},
        {"9223372036854775808", "0x8000000000000000"}, {"-9223372036854775808.5", "0x8000000000000000"},
    };
    for (const auto &c : cases) {
        dec_t d = dec(c.in);
        EXPECT_EQ(std::string(Convert_HEX(&d)), c.out) << c.in;
    }
}

// An integer part beyond 64 bits would wrap into some other number: it is refused.
TEST(ConvertHEX, RefusesIntegersBeyond64Bits)
{
    for (const char *in : {"18446744073709551616", "-9223372036854775809", "1e30", "-1e30", "36893488147419103232"}) {
        dec_t d = dec(in);
        EXPECT_EQ(lumba_test::abort_text([&] { Convert_HEX(&d); }), "Bad conversion of HEX number") << in;
    }
}

TEST(IntrinsicString, RunsOfTheControlCharacter)
{
    struct {
        int code, n;
        std::string out;
    } cases[] = {
        {in_BS, 2, "\b\b"}, {in_CR, 1, "\r"}, {in_FF, 3, "\f\f\f"}, {in_LF, 0, ""}, {in_TAB, 2, "\t\t"}, {in_TAB, -4, ""},
    };
    for (const auto &c : cases) {
        Stack result{};
        Intrinsic_string(&result, c.code, c.n);
        EXPECT_EQ(result.s_t, string);
        EXPECT_EQ(std::string(result.s_c.C_S, result.length), c.out) << c.code;
        EXPECT_EQ(result.s_c.C_S[result.length], '\0');
        sfree(result.s_c.C_S);
    }
    Stack result{};
    EXPECT_EQ(lumba_test::abort_text([&] { Intrinsic_string(&result, in_STR, 1); }),
              "Intrinsic_string called with bad icode - 0x16C\n");
    // Runs are bounded as IREPEAT$ is, instead of taking gigabytes.
    EXPECT_EQ(lumba_test::abort_text([&] { Intrinsic_string(&result, in_CR, (256 << 20) + 1); }),
              "CR$: result of 268435457 bytes is too long");
    EXPECT_EQ(lumba_test::abort_text([&] { Intrinsic_string(&result, in_TAB, 2147483647); }),
              "TAB$: result of 2147483647 bytes is too long");
}
