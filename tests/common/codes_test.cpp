// Code sets, symbol-type names and object-file naming.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <sstream>
#include <string>

#include "enum_codes.h"
#include "globals.h"
#include "mem_mgt.h"
#include "objfile.h"
#include "op_codes.h"

namespace {

template <std::size_t N> void expect_sorted_and_found(const char *const (&table)[N], int (*lookup)(const char *))
{
    for (std::size_t i = 1; i < N; ++i) EXPECT_LT(std::strcmp(table[i - 1], table[i]), 0) << table[i];
    for (std::size_t i = 0; i < N; ++i) EXPECT_EQ(lookup(table[i]), int(i)) << table[i];
}

} // namespace

TEST(CodeSets, EveryNameMapsToItsCodeAndTablesAreSorted)
{
    expect_sorted_and_found(op_codes, [](const char *t) { return int(OP_CODE(t)); });
    expect_sorted_and_found(ioc_codes, [](const char *t) { return int(IOC_CODE(t)); });
    expect_sorted_and_found(callio_codes, [](const char *t) { return int(CALLIO_CODE(t)); });
}

// Every op row documents its operands as tag:meaning words with a tag the loader decodes; the
// rows the executor never runs (sections and loader-only codes) have none.
TEST(OpTable, OperandsAreTaggedWordsTheLoaderDecodes)
{
    const std::regex word("[IPcilnprs]:[a-z_0-9]+");
    for (unsigned op = 0; op < OP_CODE_COUNT; ++op) {
        const std::string operands = op_info[op].operands, effect = op_info[op].effect;
        const std::size_t bracket = operands.find('[');
        std::istringstream fixed(operands.substr(0, bracket));
        int words = 0;
        for (std::string w; fixed >> w; ++words) EXPECT_TRUE(std::regex_match(w, word)) << op_info[op].name << ": " << w;
        EXPECT_EQ(words, operand_words(static_cast<OpCode>(op))) << op_info[op].name;
        if (bracket != std::string::npos) {
            EXPECT_EQ(operands.back(), ']') << op_info[op].name;
        }
        const bool never_run = effect.starts_with("section:") || effect.find("not executed") != std::string::npos;
        if (never_run) {
            EXPECT_EQ(words, 0) << op_info[op].name;
        }
        EXPECT_FALSE(effect.empty()) << op_info[op].name;
    }
    EXPECT_EQ(operand_words(o_loadsad), 8);  // the based operands are counted only when present
    EXPECT_EQ(operand_words(o_jumpl), 1);    // the label words follow their count
}

TEST(CodeSets, KnownCodesAndMisses)
{
    struct {
        const char *text;
        int code;
    } ops[] = {{"storsi", 71}, {"tsterr", 74}, {"add", 8}, {".common", 1}, {".NOP", 0},
               {"nosuchop", 0}, {"zzz", 0}, {"", 0}, {"Add", 0}};
    for (const auto &c : ops) EXPECT_EQ(int(OP_CODE(c.text)), c.code) << c.text;
    EXPECT_EQ(OP_CODE(nullptr), o__NOP);
    EXPECT_EQ(IOC_CODE("unit"), ioc_unit);
    EXPECT_EQ(IOC_CODE("lfn"), 12u);
    EXPECT_EQ(CALLIO_CODE("write"), callio_write);
    EXPECT_EQ(CALLIO_CODE("logemail"), 6u);
    EXPECT_EQ(CALLIO_CODE("read "), callio__NOP);
}

TEST(CodeSets, StringCompareOrdersNullFirst)
{
    EXPECT_EQ(StringCompare(nullptr, nullptr), 0);
    EXPECT_EQ(StringCompare(nullptr, "a"), -1);
    EXPECT_EQ(StringCompare("a", nullptr), 1);
    EXPECT_LT(StringCompare("a", "b"), 0);
    EXPECT_EQ(StringCompare("same", "same"), 0);
}

TEST(SymbolTypes, NamesInBitOrder)
{
    EXPECT_STREQ(S_TypeStr(0x6), "s_numeric s_string");
    EXPECT_STREQ(S_TypeStr(0), "");
    EXPECT_STREQ(S_TypeStr(s_struct | s_variable | s_sigtname), "s_variable s_struct s_sigtname");
    EXPECT_STREQ(S_TypeStr(0x8000000000000000ull), "");  // no named bit
    std::string all = S_TypeStr(0x1FFFFFF);
    EXPECT_EQ(all.rfind("s_logical s_numeric", 0), 0u);
    EXPECT_EQ(all.size(), all.find("s_sigtname") + std::strlen("s_sigtname"));
}

TEST(ObjectNames, GenObjname)
{
    struct {
        const char *source, *object;
    } cases[] = {
        {"prog", "prog.obj"},   {"prog.SRC", "prog.ozz"}, {"prog.src", "prog.ozz"},
        {"prog.bas", "prog.obas"}, {"a.b.c", "a.b.oc"},   {"dir.x/prog", "dir.ox/prog"},
        {"prog.", "prog.o"},
    };
    for (const auto &c : cases) {
        char out[256];
        Gen_Objname(c.source, out, sizeof out);
        EXPECT_STREQ(out, c.object) << c.source;
    }
}

TEST(ObjectNames, ObjFileNamesByPhase)
{
    phase = executing;
    EXPECT_STREQ(ObjFile("/d", "p"), "/d/p");
    EXPECT_STREQ(ObjFile(nullptr, "p.src"), "p.src");
    EXPECT_EQ(ObjFile("/d", "p"), object_file);
    phase = compiling;
    EXPECT_STREQ(ObjFile("/d", "p.src"), "/d/p.ozz");
    EXPECT_STREQ(ObjFile(nullptr, "p"), "p.obj");
    phase = executing;

    std::string long_name(5000, 'n');
    ObjFile("/dir", long_name.c_str());
    EXPECT_EQ(std::strlen(object_file), std::size_t(OBJECT_FILE_SIZE - 1));  // bounded, terminated
}

TEST(ObjectNames, BareProgramName)
{
    struct {
        const char *path, *name;
    } cases[] = {{"/x/y/prog.ozz", "prog"}, {"prog", "prog"}, {"/x/y.z/p.a.b", "p"}, {"/x/", ""}, {".hidden", ""}};
    for (const auto &c : cases) {
        char *name = basic_obj_fname(c.path);
        EXPECT_STREQ(name, c.name) << c.path;
        sfree(name);
    }
}

#include "numerics.h"

TEST(NumericSystemKey, IsTheHexImageOfTheConstant)
{
    AcquireKeys();
    ASSERT_NE(numsys_key, nullptr);
    EXPECT_EQ(numsys_keylen, 44);
    // 150670 is 15|06|70 in base 100: exponent 3, sign 1, three digit pairs, little-endian fields.
    EXPECT_STREQ(numsys_key, "0300010003000F064600000000000000000000000000");
    FreeKeys();
    EXPECT_EQ(numsys_key, nullptr);
    EXPECT_EQ(numsys_keylen, 0);
}
