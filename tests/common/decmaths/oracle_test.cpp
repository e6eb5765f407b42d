// The oracle table written by gen_cases.py (exact Python arithmetic rounded to the base-100 grid),
// one test per operation, every case byte-exact.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "numerics.h"
#include "tsv.h"

namespace {

using Row = lumba_test::TsvRow;

const std::map<std::string, std::vector<Row>> &cases()
{
    static const auto table = [] {
        std::map<std::string, std::vector<Row>> t;
        for (Row &row : lumba_test::read_tsv(DECIMAL_CASES))
            if (!row.empty()) t[row[0]].push_back(std::move(row));
        return t;
    }();
    return table;
}

std::vector<unsigned char> unhex(const std::string &h)
{
    std::vector<unsigned char> out;
    if (h == "-") return out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2) out.push_back(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

std::string hex(const void *p, std::size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        auto b = static_cast<const unsigned char *>(p)[i];
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

dec_t dec(const std::string &h)
{
    dec_t d;
    auto bytes = unhex(h);
    EXPECT_EQ(bytes.size(), sizeof d) << h;
    std::memcpy(&d, bytes.data(), sizeof d);
    return d;
}

std::string image(const dec_t &d) { return hex(&d, sizeof d); }

double parse_double(const std::string &s) { return std::strtod(s.c_str(), nullptr); }

// Runs every row of one operation; check(row) gives "" or a mismatch description.
template <class F> void run(const char *op, F check)
{
    const auto &all = cases();
    auto it = all.find(op);
    ASSERT_NE(it, all.end()) << "no cases for " << op << " in " << DECIMAL_CASES;
    int failures = 0;
    for (const Row &row : it->second) {
        std::string why = check(row);
        if (why.empty()) continue;
        if (++failures <= 20) ADD_FAILURE() << op << " " << row.back() << ": " << why;
    }
    EXPECT_EQ(failures, 0) << "of " << it->second.size() << " " << op << " cases";
    EXPECT_GT(it->second.size(), 100u);
}

std::string expect_dec(int status, const dec_t &r, const std::string &want_status, const std::string &want)
{
    std::string got = std::to_string(status) + " " + image(r);
    std::string expected = want_status + " " + want;
    return got == expected ? "" : "got " + got + ", want " + expected;
}

class DecimalOracle : public testing::TestWithParam<const char *> {};

TEST_P(DecimalOracle, MatchesEveryCase)
{
    std::string op = GetParam();
    using Fn = int (*)(const dec_t *, const dec_t *, dec_t *);
    static const std::map<std::string, Fn> binary = {
        {"add", NumericAdd}, {"sub", NumericSub}, {"mul", NumericMul}, {"div", NumericDiv}};
    if (binary.count(op)) {
        Fn fn = binary.at(op);
        run(op.c_str(), [&](const Row &c) {
            dec_t a = dec(c[1]), b = dec(c[2]), r;
            std::memset(&r, 0x5A, sizeof r);
            std::string why = expect_dec(fn(&a, &b, &r), r, c[3], c[4]);
            // The same again with the result stored over each operand in turn.
            dec_t x = a, y = b;
            int s1 = fn(&x, &y, &x);
            if (why.empty() && image(x) != c[4]) why = "result over the first operand: " + image(x);
            x = a, y = b;
            int s2 = fn(&x, &y, &y);
            if (why.empty() && image(y) != c[4]) why = "result over the second operand: " + image(y);
            if (why.empty() && (std::to_string(s1) != c[3] || std::to_string(s2) != c[3])) why = "status with aliasing";
            return why;
        });
    } else if (op == "cmp") {
        run("cmp", [](const Row &c) {
            dec_t a = dec(c[1]), b = dec(c[2]);
            int got = NumericCmp(&a, &b);
            return std::to_string(got) == c[3] ? std::string() : "got " + std::to_string(got) + ", want " + c[3];
        });
    } else if (op == "cvasc") {
        run("cvasc", [](const Row &c) {
            auto bytes = unhex(c[1]);
            std::string text(bytes.begin(), bytes.end());
            dec_t r{};
            int status = NumericCvASC(text.data(), int(text.size()), &r);
            dec_t untouched{};
            untouched.dec_pos = DECPOSNULL;
            return expect_dec(status, r, c[2], c[3] == "unchanged" ? image(untouched) : c[3]);
        });
    } else if (op == "toasc") {
        run("toasc", [](const Row &c) {
            dec_t a = dec(c[1]);
            int width = std::stoi(c[2]), decimals = std::stoi(c[3]);
            auto want = unhex(c[4]);
            std::string buf(width + 8, '#');
            NumericToASC(&a, buf.data(), width, decimals);
            std::string got = buf.substr(0, width), expected(want.begin(), want.end());
            if (buf.substr(width) != std::string(8, '#')) return std::string("wrote past the width");
            return got == expected ? std::string() : "got [" + got + "], want [" + expected + "] width " + c[2] +
                                                         " decimals " + c[3];
        });
    } else if (op == "cvlong" || op == "cvint") {
        run(op.c_str(), [&](const Row &c) {
            dec_t r;
            std::memset(&r, 0x5A, sizeof r);
            int status = op == "cvlong" ? NumericCvLONG(std::stol(c[1]), &r) : NumericCvINT(std::stoi(c[1]), &r);
            return expect_dec(status, r, "0", c[2]);
        });
    } else if (op == "tolong" || op == "toint") {
        run(op.c_str(), [&](const Row &c) {
            dec_t a = dec(c[1]);
            long got;
            if (op == "tolong") {
                NumericToLONG(&a, &got);
            } else {
                int i;
                NumericToINT(&a, &i);
                got = i;
            }
            return std::to_string(got) == c[2] ? std::string() : "got " + std::to_string(got) + ", want " + c[2];
        });
    } else if (op == "todbl" || op == "toflt") {
        run(op.c_str(), [&](const Row &c) {
            dec_t a = dec(c[1]);
            std::string got;
            if (op == "todbl") {
                double d;
                NumericToDBL(&a, &d);
                std::uint64_t bits;
                std::memcpy(&bits, &d, sizeof bits);
                char t[20];
                std::snprintf(t, sizeof t, "%016llX", static_cast<unsigned long long>(bits));
                got = t;
            } else {
                float f;
                NumericToFLT(&a, &f);
                std::uint32_t bits;
                std::memcpy(&bits, &f, sizeof bits);
                char t[12];
                std::snprintf(t, sizeof t, "%08X", bits);
                got = t;
            }
            return got == c[2] ? std::string() : "got " + got + ", want " + c[2];
        });
    } else if (op == "cvdbl" || op == "cvflt") {
        run(op.c_str(), [&](const Row &c) {
            dec_t r;
            std::memset(&r, 0x5A, sizeof r);
            double x = parse_double(c[1]);
            int status = op == "cvdbl" ? NumericCvDBL(x, &r) : NumericCvFLT(static_cast<float>(x), &r);
            return expect_dec(status, r, c[2], c[3]);
        });
    } else if (op == "pack") {
        run("pack", [](const Row &c) {
            dec_t a = dec(c[1]);
            int len = std::stoi(c[2]);
            std::vector<unsigned char> bytes(len + 4, 0xEE);
            int status = dmaths_stdecimal(&a, bytes.data(), len);
            if (std::to_string(status) != c[3]) return "status " + std::to_string(status) + ", want " + c[3];
            if (hex(bytes.data() + len, 4) != "EEEEEEEE") return std::string("wrote past the length");
            if (c[4] == "unchanged")
                return hex(bytes.data(), len) == std::string(2 * len, 'E') ? std::string()
                                                                            : "bytes written: " + hex(bytes.data(), len);
            if (hex(bytes.data(), len) != c[4]) return "bytes " + hex(bytes.data(), len) + ", want " + c[4];
            dec_t back;
            std::memset(&back, 0x5A, sizeof back);
            int ls = dmaths_lddecimal(bytes.data(), len, &back);
            return expect_dec(ls, back, "0", c[5]);
        });
    } else {
        FAIL() << "unknown operation " << op;
    }
}

INSTANTIATE_TEST_SUITE_P(Ops, DecimalOracle,
                         testing::Values("add", "sub", "mul", "div", "cmp", "cvasc", "toasc", "cvlong", "cvint",
                                         "tolong", "toint", "todbl", "toflt", "cvdbl", "cvflt", "pack"),
                         [](const auto &info) { return std::string(info.param); });

} // namespace
