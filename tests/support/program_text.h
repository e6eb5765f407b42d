// Pieces of zasm text that tests build programs from (see tests/tools/README.md), and decimals
// made from text.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "numerics.h"

namespace lumba_test {

// Pushes the decimal constant v.
inline std::string num(const std::string &v) { return "loadrc n:" + v + " c:0\n"; }
inline std::string num(long v) { return num(std::to_string(v)); }
// Pushes the text constant v (zasm-quoted: \\, \", \n, \t, \xHH); shared, the entry points at the
// constant, else it owns a copy.
inline std::string str(const std::string &v, bool shared = true)
{
    return "loadsc s:\"" + v + "\" p:" + (shared ? "1" : "0") + "\n";
}
// Stores the top entry into COMMON cell i (22 bytes a cell), and pushes that cell's value.
inline std::string to_cell(int i) { return "storrd I:" + std::to_string(22 * i) + " I:0 I:0 I:0 I:0\n"; }
inline std::string from_cell(int i) { return "loadrvd I:" + std::to_string(22 * i) + " I:0 I:0 I:0 I:0\n"; }
// An intrinsic call: op ifcallr, ifcalls or ipcall, the intrinsic's code and its argument count.
inline std::string call(const char *op, int code, int nargs)
{
    return std::string(op) + " I:" + std::to_string(code) + " I:" + std::to_string(nargs) + "\n";
}
// A numeric, string or statement intrinsic call.
inline std::string fn(int code, int nargs) { return call("ifcallr", code, nargs); }
inline std::string sfn(int code, int nargs) { return call("ifcalls", code, nargs); }
inline std::string st(int code, int nargs) { return call("ipcall", code, nargs); }
// Inside a routine: pushes the value of its numeric parameter k.
inline std::string param(int k) { return "loadrvi I:" + std::to_string(k) + " I:0 I:1 I:0 I:0 I:0\n"; }

// The decimal text stands for; text that is no number fails the test.
inline dec_t dec(const char *text)
{
    dec_t d{};
    EXPECT_EQ(NumericCvASC(text, static_cast<int>(std::strlen(text)), &d), 0) << text;
    return d;
}

} // namespace lumba_test
