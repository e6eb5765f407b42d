// A decimal's shortest text and string concatenation.
#include <gtest/gtest.h>

#include <string>

#include "intrinsic_dispatch.h"
#include "mem_mgt.h"
#include "numerics.h"
#include "stack.h"

namespace {

dec_t dec(const char *text)
{
    dec_t d{};
    EXPECT_EQ(NumericCvASC(text, static_cast<int>(std::string(text).size()), &d), 0) << text;
    return d;
}

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
