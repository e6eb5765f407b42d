// Hand-picked cases of the decimal arithmetic: the documented edge cases as 22-byte images,
// aliasing of results and operands, and the faults the straightforward algorithms had.
#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>

#include "numerics.h"

namespace {

dec_t image(int exp, int pos, std::initializer_list<int> digits)
{
    dec_t d{};
    d.dec_exp = static_cast<std::int16_t>(exp);
    d.dec_pos = static_cast<std::int16_t>(pos);
    d.dec_ndgts = static_cast<std::int16_t>(digits.size());
    int i = 0;
    for (int v : digits) d.dec_dgts[i++] = static_cast<char>(v);
    return d;
}

std::string show(const dec_t &d)
{
    std::string s = "exp " + std::to_string(d.dec_exp) + " pos " + std::to_string(d.dec_pos) + " n " +
                    std::to_string(d.dec_ndgts) + " :";
    for (int i = 0; i < DECSIZE; ++i) s += " " + std::to_string(int(d.dec_dgts[i]));
    return s;
}

bool same(const dec_t &a, const dec_t &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

dec_t num(const char *text)
{
    dec_t d;
    int status = NumericCvASC(text, int(std::strlen(text)), &d);
    EXPECT_EQ(status, 0) << text;
    return d;
}

const dec_t null_dec = image(0, DECPOSNULL, {});
const dec_t zero = image(0, 1, {});

std::string to_text(const dec_t &d, int width, int decimals)
{
    std::string buf(width, '#');
    NumericToASC(&d, buf.data(), width, decimals);
    return buf;
}

// Shortest text of a value, as the run-time's STR shows it.
std::string str(const dec_t &d)
{
    std::string s = to_text(d, 60, -1);
    return s.substr(0, s.find_last_not_of(' ') + 1);
}

TEST(DecimalText, DocumentedImages)
{
    struct {
        const char *text;
        dec_t want;
    } cases[] = {
        {"123", image(2, 1, {1, 23})},
        {"0.005", image(-1, 1, {50})},
        {"1e5", image(3, 1, {10})},
        {"-", image(0, 0, {})},
        {"-0.00", image(0, 0, {})},
        {".", zero},
        {"12x", image(1, 1, {12})},
        {"1e", image(1, 1, {1})},
        {"1000000000000000000000000000000000000000", image(20, 1, {10})},
        {"0.999999999999999999999999999999999", image(1, 1, {1})},
        {"  -1.5  trailing", image(1, 0, {1, 50})},
        {"+007.50", image(1, 1, {7, 50})},
    };
    for (const auto &c : cases) {
        dec_t r;
        std::memset(&r, 0x5A, sizeof r);
        EXPECT_EQ(NumericCvASC(c.text, int(std::strlen(c.text)), &r), 0) << c.text;
        EXPECT_TRUE(same(r, c.want)) << c.text << ": " << show(r);
    }
}

TEST(DecimalText, ErrorsLeaveOnlyTheSignNull)
{
    struct {
        const char *text;
        int status;
    } cases[] = {{"12xy", DEC_NON_NUMERIC}, {"12 3", DEC_NON_NUMERIC}, {"1..2", DEC_NON_NUMERIC},
                 {"1e1000", DEC_BAD_EXPONENT}, {"1e-1000", DEC_BAD_EXPONENT}, {"1e5 x", DEC_NON_NUMERIC},
                 {"   ", 0}, {"", 0}};
    const dec_t before = image(5, 1, {1, 2, 3});
    for (const auto &c : cases) {
        dec_t r = before;
        EXPECT_EQ(NumericCvASC(c.text, int(std::strlen(c.text)), &r), c.status) << c.text;
        dec_t want = before;
        want.dec_pos = DECPOSNULL;
        EXPECT_TRUE(same(r, want)) << c.text << ": " << show(r);
    }
}

TEST(DecimalText, ReadsNoFurtherThanTheLength)
{
    const char text[] = "12345";
    dec_t r;
    EXPECT_EQ(NumericCvASC(text, 3, &r), 0);
    EXPECT_TRUE(same(r, image(2, 1, {1, 23})));
    EXPECT_EQ(NumericCvASC("1e999", 5, &r), DEC_OVERFLOW);  // range errors keep the clamped value
    EXPECT_EQ(r.dec_exp, 63);
    EXPECT_EQ(NumericCvASC("1e-999", 6, &r), DEC_UNDERFLOW);
    EXPECT_EQ(r.dec_exp, -64);
}

TEST(DecimalArithmetic, NullOperandsGiveNull)
{
    dec_t one = num("1"), r;
    for (auto fn : {NumericAdd, NumericSub, NumericMul, NumericDiv}) {
        std::memset(&r, 0x5A, sizeof r);
        EXPECT_EQ(fn(&one, &null_dec, &r), 0);
        EXPECT_TRUE(same(r, null_dec)) << show(r);
        std::memset(&r, 0x5A, sizeof r);
        EXPECT_EQ(fn(&null_dec, &zero, &r), 0);
        EXPECT_TRUE(same(r, null_dec)) << show(r);
    }
    EXPECT_EQ(NumericCmp(&one, &null_dec), DECUNKNOWN);
    EXPECT_EQ(NumericCmp(&null_dec, &null_dec), DECUNKNOWN);
}

TEST(DecimalArithmetic, DivisionByZero)
{
    dec_t one = num("1"), negzero = num("-0"), r;
    EXPECT_EQ(NumericDiv(&one, &zero, &r), DEC_DIVIDE_BY_ZERO);
    EXPECT_TRUE(same(r, zero));
    EXPECT_EQ(NumericDiv(&one, &negzero, &r), DEC_DIVIDE_BY_ZERO);
    EXPECT_TRUE(same(r, zero));
}

// Results that the quotient-estimate division, the truncated multiplication, the digit-string
// rounding and the zero comparison of addition used to get wrong.
TEST(DecimalArithmetic, CorrectlyRoundedWhereShortcutsFailed)
{
    struct {
        const char *a;
        char op;
        const char *b;
        const char *want;
    } cases[] = {
        {"1.28", '/', "1.378263", "0.92870518906768882281538429167728"},
        {"10", '/', "7", "1.4285714285714285714285714285714"},  // last pair 71, the rest 42..
        {"-2", '/', "3", "-0.66666666666666666666666666666667"},
        {"2", '/', "3", "0.66666666666666666666666666666667"},
        {"0.99999999999999999999999999999999", '*', "0.99999999999999999999999999999999",
         "0.99999999999999999999999999999998"},
        {"0.005", '-', "0", "0.005"},
        {"0.005", '-', "-0", "0.005"},
        {"-0", '+', "0.005", "0.005"},
        {"-0", '-', "0.005", "-0.005"},
        {"1", '-', "9.9e-33", "0.99999999999999999999999999999999"},  // the gap is 17, not "unchanged"
        {"1", '+', "9.9e-33", "1"},
        {"1", '-', "1e-34", "1"},
        {"1", '-', "0.5e-32", "1"},  // exactly half a unit: away from zero
        {"1", '-', "0.51e-32", "0.99999999999999999999999999999999"},
        {"99999999999999999999999999999999", '+', "0.5", "100000000000000000000000000000000"},
    };
    for (const auto &c : cases) {
        dec_t a = num(c.a), b = num(c.b), r;
        int status = c.op == '+' ? NumericAdd(&a, &b, &r)
                     : c.op == '-' ? NumericSub(&a, &b, &r)
                     : c.op == '*' ? NumericMul(&a, &b, &r)
                                   : NumericDiv(&a, &b, &r);
        EXPECT_EQ(status, 0);
        dec_t want = num(c.want);
        EXPECT_TRUE(same(r, want)) << c.a << " " << c.op << " " << c.b << ": " << show(r) << " want " << show(want);
    }
    dec_t ten = num("10"), seven = num("7"), q;
    NumericDiv(&ten, &seven, &q);
    EXPECT_EQ(q.dec_ndgts, 16);
    EXPECT_EQ(q.dec_dgts[15], 71);
}

TEST(DecimalArithmetic, ResultMayBeEitherOperandAndSubtractionLeavesItsOperandAlone)
{
    dec_t a = num("7.25"), b = num("-2.5");
    dec_t r = a;
    NumericSub(&r, &b, &r);
    EXPECT_TRUE(same(r, num("9.75")));
    r = b;
    NumericMul(&a, &r, &r);
    EXPECT_TRUE(same(r, num("-18.125")));
    r = a;
    NumericSub(&r, &r, &r);  // the same object on both sides
    EXPECT_TRUE(same(r, zero));
    const dec_t before = b;
    NumericSub(&a, &b, &r);
    EXPECT_TRUE(same(b, before));
}

TEST(DecimalArithmetic, ExponentLimits)
{
    dec_t big = num("4e125"), small = num("1e-128"), r;
    EXPECT_EQ(NumericMul(&big, &big, &r), DEC_OVERFLOW);
    EXPECT_EQ(r.dec_exp, 63);
    EXPECT_EQ(NumericMul(&small, &small, &r), DEC_UNDERFLOW);
    EXPECT_EQ(r.dec_exp, -64);
    EXPECT_EQ(NumericAdd(&big, &big, &r), 0);  // 8e125 is still exponent 63
    dec_t max = num("9.9999999999999999999999999999999e125");
    EXPECT_EQ(NumericAdd(&max, &max, &r), DEC_OVERFLOW);
}

TEST(DecimalArithmetic, CompareTreatsBothZerosAlike)
{
    dec_t negzero = num("-0"), pos = num("0.005"), neg = num("-0.005");
    EXPECT_EQ(NumericCmp(&zero, &negzero), 0);
    EXPECT_EQ(NumericCmp(&negzero, &pos), -1);
    EXPECT_EQ(NumericCmp(&negzero, &neg), 1);
    EXPECT_EQ(NumericCmp(&neg, &pos), -1);
    dec_t a = num("-12.5"), b = num("-12.25");
    EXPECT_EQ(NumericCmp(&a, &b), -1);
}

// A record that breaks the invariants (text stored over a number) is not a number: every
// operation answers non-numeric with a null result, never a hardware fault. A valid negative value
// below 0.01 added to zero is no such record and raises nothing.
TEST(DecimalArithmetic, DamagedRecordsAreNotNumbers)
{
    dec_t neg = num("-0.005"), r;
    testing::internal::CaptureStderr();
    EXPECT_EQ(NumericAdd(&zero, &neg, &r), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(same(r, neg));

    auto damage = [](dec_t d, int byte, int value) {
        reinterpret_cast<unsigned char *>(&d)[byte] = static_cast<unsigned char>(value);
        return d;
    };
    const dec_t seven = num("7"), wide = num("1.234567890123456789");
    const int digit0 = static_cast<int>(offsetof(dec_t, dec_dgts));
    const dec_t damaged[] = {
        image(1, 1, {0}),                       // a leading zero pair: the divisor of a hardware fault
        image(5, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 12}),  // ten pairs with a zero lead: the long division's
        damage(seven, digit0, 100),             // a digit above 99
        damage(seven, digit0, 255),
        damage(seven, digit0 + 5, 7),           // a digit past the count
        damage(zero, digit0 + 15, 1),           // a zero with a digit
        image(1, 2, {7}),                       // neither sign
        image(64, 1, {7}),                      // exponent out of range
        damage(seven, static_cast<int>(offsetof(dec_t, dec_ndgts)), 17),  // seventeen digits
    };
    int (*const operations[])(const dec_t *, const dec_t *, dec_t *) = {NumericAdd, NumericSub, NumericMul,
                                                                        NumericDiv};
    for (std::size_t i = 0; i < std::size(damaged); ++i)
        for (const dec_t *other : {&seven, &wide})
            for (auto op : operations) {
                dec_t out = seven;
                EXPECT_EQ(op(other, &damaged[i], &out), DEC_NON_NUMERIC) << "case " << i;
                EXPECT_TRUE(same(out, null_dec)) << "case " << i << ": " << show(out);
                out = seven;
                EXPECT_EQ(op(&damaged[i], other, &out), DEC_NON_NUMERIC) << "case " << i;
                EXPECT_TRUE(same(out, null_dec)) << "case " << i;
            }
    // The last digit a count allows, and a full sixteen, are numbers.
    const dec_t full = image(1, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 99});
    EXPECT_EQ(NumericDiv(&seven, &full, &r), 0);
    EXPECT_EQ(NumericAdd(&full, &zero, &r), 0);
}

TEST(DecimalArithmetic, RoundingAnAccumulator)
{
    dec_a acc{};
    acc.dec_exp = 1;
    acc.dec_pos = 0;
    acc.dec_ndgts = 17;
    for (int i = 0; i < 17; ++i) acc.dec_dgts[i] = 99;
    acc.dec_dgts[16] = 50;  // guard: round the 16 nines up
    EXPECT_EQ(dmaths_dec_round(&acc, 0), 0);
    dec_t out;
    std::memcpy(&out, &acc, sizeof out);
    EXPECT_TRUE(same(out, image(2, 0, {1}))) << show(out);
    EXPECT_EQ(acc.dec_dgts[16], 0);

    dec_a carry{};
    carry.dec_exp = 63;
    carry.dec_pos = 1;
    carry.dec_ndgts = 1;
    carry.dec_dgts[0] = 5;
    EXPECT_EQ(dmaths_dec_round(&carry, 1), DEC_OVERFLOW);  // the carry lifts the exponent past 63
    std::memcpy(&out, &carry, sizeof out);
    EXPECT_TRUE(same(out, image(63, 1, {1, 5}))) << show(out);

    dec_a zeros{};
    zeros.dec_exp = 9;
    zeros.dec_pos = 0;
    zeros.dec_ndgts = 3;
    EXPECT_EQ(dmaths_dec_round(&zeros, 0), 0);
    std::memcpy(&out, &zeros, sizeof out);
    EXPECT_TRUE(same(out, zero));
}

TEST(DecimalToText, DocumentedForms)
{
    dec_t two = num("2"), three = num("3"), third, two_thirds;
    dec_t one = num("1");
    NumericDiv(&two, &three, &two_thirds);
    NumericDiv(&one, &three, &third);
    struct {
        dec_t value;
        int width, decimals;
        const char *want;
    } cases[] = {
        {two_thirds, 10, 2, "0.67      "},
        {num("123"), 10, -1, "123.0     "},
        {zero, 6, 2, "0.00  "},
        {num("-1.25"), 6, 1, "-1.3  "},
        {num("1.235"), 6, 2, "1.24  "},
        {num("-0.001"), 6, 2, "-0.00 "},
        {num("-0"), 6, 1, "0.0   "},
        {null_dec, 4, 2, "    "},
        {num("1234.5678"), 7, 4, "1234.57"},   // fewer decimals, rounded again
        {num("123.6"), 3, 1, "123"},           // cut at the field's end, the point too
        {num("0.67"), 3, 2, "0.6"},            // the "0" is not counted: cut, not rounded
        {num("-0.67"), 4, 2, "-0.6"},
        {two_thirds, 5, -1, "0.666"},          // 32 decimals cut down to 4, then cut at 5 columns
        {num("99.96"), 4, 2, "100."},          // one decimal fewer, rounded again from the value
        {num("0.0001"), 8, 2, "0.00    "},     // never more decimals than asked
        {num("12345678"), 6, 0, "1.23e7"},     // integer part wider than the field
        {num("12000000"), 6, 0, "1.2e7 "},
        {num("-12345678"), 6, 0, "-1.2e7"},
        {num("9999.6"), 3, 1, "1e4"},
        {num("123456"), 2, 0, "**"},
        {third, 40, -1, "0.33333333333333333333333333333333      "},
    };
    for (const auto &c : cases) EXPECT_EQ(to_text(c.value, c.width, c.decimals), c.want) << show(c.value);
    EXPECT_EQ(str(third), "0.33333333333333333333333333333333");
    EXPECT_EQ(str(two_thirds), "0.66666666666666666666666666666667");
    EXPECT_EQ(str(num("1.5")), "1.5");
    EXPECT_EQ(str(num("100")), "100.0");
}

TEST(DecimalToText, DigitStrings)
{
    dec_t one = num("1"), three = num("3"), third;
    NumericDiv(&one, &three, &third);
    int pt = 99, sign = 99;
    EXPECT_STREQ(dmaths_decfcvt(&third, 32, &pt, &sign), "33333333333333333333333333333333");
    EXPECT_EQ(pt, 0);
    EXPECT_EQ(sign, 0);
    dec_t v = num("-999.96");
    EXPECT_STREQ(dmaths_decfcvt(&v, 1, &pt, &sign), "10000");
    EXPECT_EQ(pt, 4);
    EXPECT_EQ(sign, 1);
    EXPECT_STREQ(dmaths_dececvt(&v, 3, &pt, &sign), "100");
    EXPECT_EQ(pt, 4);
    EXPECT_STREQ(dmaths_decfcvt(&zero, 2, &pt, &sign), "0");
    EXPECT_EQ(pt, -1);
    v = num("0.006");
    EXPECT_STREQ(dmaths_decfcvt(&v, 2, &pt, &sign), "1");
    EXPECT_EQ(pt, -1);
    v = num("0.001");
    EXPECT_STREQ(dmaths_decfcvt(&v, 2, &pt, &sign), "");
    v = num("1.2345678901234567890123456789012e-127");  // rounding near the bottom of the range
    EXPECT_STREQ(dmaths_dececvt(&v, 34, &pt, &sign), "1234567890123456789012345678901200");
    EXPECT_EQ(pt, -126);
    v = num("9.9999999999999999999999999999999e125");  // and at the top
    EXPECT_STREQ(dmaths_dececvt(&v, 2, &pt, &sign), "10");
    EXPECT_EQ(pt, 127);
    pt = sign = 42;
    EXPECT_STREQ(dmaths_dececvt(&null_dec, 5, &pt, &sign), "");
    EXPECT_EQ(pt, 42);
    EXPECT_EQ(std::strlen(dmaths_decfcvt(&one, 500, &pt, &sign)), 150u);
}

TEST(DecimalIntegers, NullAndLimits)
{
    dec_t r;
    int i = 0;
    long l = 0;
    EXPECT_EQ(NumericToINT(&null_dec, &i), 0);
    EXPECT_EQ(i, INT_MIN);
    EXPECT_EQ(NumericToLONG(&null_dec, &l), 0);
    EXPECT_EQ(l, LONG_MIN);
    NumericCvINT(INT_MIN, &r);
    EXPECT_TRUE(same(r, null_dec));
    NumericCvLONG(LONG_MIN, &r);
    EXPECT_TRUE(same(r, null_dec));
    NumericCvLONG(LONG_MAX, &r);
    NumericToLONG(&r, &l);
    EXPECT_EQ(l, LONG_MAX);
    NumericCvLONG(150670, &r);
    EXPECT_TRUE(same(r, image(3, 1, {15, 6, 70})));
    dec_t v = num("-99.99");
    NumericToINT(&v, &i);
    EXPECT_EQ(i, -99);
    v = num("1e30");  // no range check: the low bits of the integer part
    NumericToLONG(&v, &l);
    EXPECT_EQ(static_cast<unsigned long>(l), 5076944270305263616ul);  // 10^30 mod 2^64
}

TEST(DecimalIntegers, PointersSurviveTheRoundTrip)
{
    int target = 0;
    dec_t d;
    PointerToDec(&target, &d);
    int *back = nullptr;
    DecToPointer(&d, back);
    EXPECT_EQ(back, &target);
}

TEST(DecimalBinary, NonFiniteAndOutOfRange)
{
    dec_t r;
    EXPECT_EQ(NumericCvDBL(std::nan(""), &r), DEC_NON_NUMERIC);
    EXPECT_TRUE(same(r, null_dec));
    EXPECT_EQ(NumericCvDBL(-INFINITY, &r), DEC_NON_NUMERIC);
    EXPECT_TRUE(same(r, null_dec));
    EXPECT_EQ(NumericCvFLT(INFINITY, &r), DEC_NON_NUMERIC);
    EXPECT_EQ(NumericCvDBL(1e300, &r), DEC_OVERFLOW);
    EXPECT_EQ(NumericCvDBL(-1e-300, &r), DEC_UNDERFLOW);
    EXPECT_EQ(NumericCvDBL(-0.0, &r), 0);
    EXPECT_TRUE(same(r, zero));
    EXPECT_EQ(NumericCvDBL(0.1, &r), 0);
    EXPECT_TRUE(same(r, num("0.1")));
    EXPECT_EQ(NumericCvFLT(0.1f, &r), 0);
    EXPECT_TRUE(same(r, num("0.1")));
    double d = 1;
    NumericToDBL(&null_dec, &d);
    EXPECT_EQ(d, 0.0);
    dec_t v = num("0.1");
    NumericToDBL(&v, &d);
    EXPECT_EQ(d, 0.1);
}

TEST(DecimalPacked, NullZeroAndByteLayout)
{
    unsigned char bytes[9];
    std::memset(bytes, 0xEE, sizeof bytes);
    EXPECT_EQ(dmaths_stdecimal(&null_dec, bytes, 9), 0);
    for (unsigned char b : bytes) EXPECT_EQ(b, 0);
    dec_t r = num("5");
    EXPECT_EQ(dmaths_lddecimal(bytes, 9, &r), 0);
    EXPECT_TRUE(same(r, null_dec));

    dec_t v = num("123.45");
    dmaths_stdecimal(&v, bytes, 5);
    const unsigned char pos[] = {194, 1, 23, 45, 0};
    EXPECT_EQ(std::memcmp(bytes, pos, 5), 0);
    v = num("-123.45");
    dmaths_stdecimal(&v, bytes, 5);
    const unsigned char neg[] = {static_cast<unsigned char>(~194), 98, 76, 55, 0};
    EXPECT_EQ(std::memcmp(bytes, neg, 5), 0);
    EXPECT_EQ(dmaths_lddecimal(bytes, 5, &r), 0);
    EXPECT_TRUE(same(r, v));
    v = num("1.99999");  // rounded to the kept digits
    dmaths_stdecimal(&v, bytes, 3);
    EXPECT_EQ(dmaths_lddecimal(bytes, 3, &r), 0);
    EXPECT_TRUE(same(r, num("2")));
}

TEST(DecimalPacked, LargeValuesAreOverflowNotNull)
{
    unsigned char bytes[17];
    std::memset(bytes, 0xEE, sizeof bytes);
    dec_t v = num("-1e125");  // exponent 63: its inverted header would be 0, the null header
    EXPECT_EQ(dmaths_stdecimal(&v, bytes, 17), DEC_OVERFLOW);
    v = num("9.999e125");  // rounded to two digits it needs exponent 64
    EXPECT_EQ(dmaths_stdecimal(&v, bytes, 2), DEC_OVERFLOW);
    for (unsigned char b : bytes) EXPECT_EQ(b, 0xEE);
    v = num("1e125");
    EXPECT_EQ(dmaths_stdecimal(&v, bytes, 17), 0);
    EXPECT_EQ(bytes[0], 255);
    dec_t r;
    EXPECT_EQ(dmaths_lddecimal(bytes, 17, &r), 0);
    EXPECT_TRUE(same(r, v));
}

TEST(DecimalPacked, BadDigitBytesAreRefused)
{
    const unsigned char bytes[] = {193, 12, 150, 0};
    dec_t r = num("1");
    EXPECT_EQ(dmaths_lddecimal(bytes, 4, &r), DEC_NON_NUMERIC);
    EXPECT_TRUE(same(r, null_dec));
}

// The bytes of two non-zero values compare as the values do (index keys rely on it).
TEST(DecimalPacked, BytesSortLikeValues)
{
    const char *texts[] = {"-1e120", "-123.45", "-123.44", "-1", "-0.5", "-0.005", "0.005", "0.5",
                           "1", "1.000000000000000000000000000001", "99.99", "100", "123.45", "1e120"};
    unsigned char prev[17], cur[17];
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        dec_t v = num(texts[i]);
        ASSERT_EQ(dmaths_stdecimal(&v, cur, 17), 0);
        if (i > 0) {
            EXPECT_LT(std::memcmp(prev, cur, 17), 0) << texts[i - 1] << " < " << texts[i];
        }
        std::memcpy(prev, cur, 17);
    }
}

TEST(DecimalKey, HexFormOfANumber)
{
    int length = 0;
    char *text = CheckNumericGenerate(&length, -5);
    EXPECT_EQ(length, 44);
    EXPECT_STREQ(text, "01000000010005000000000000000000000000000000");
    std::free(text);
}

} // namespace
