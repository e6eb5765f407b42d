// The intrinsic table: rows, codes, kinds, lookups both ways and the signature check.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "intrinsics.h"
#include "stack.h"

TEST(IntrinsicTable, RowKindsAndTheClosingRow)
{
    std::map<SymType, int> kinds;
    for (int c = 0; c < in_NULL; ++c) {
        ++kinds[inbuilt[c].F_type];
        ASSERT_NE(inbuilt[c].F_name, nullptr) << c;
        EXPECT_GT(std::strlen(inbuilt[c].F_name), 0u) << c;
        ASSERT_NE(inbuilt[c].signature, nullptr) << c;
    }
    EXPECT_EQ(kinds[IN_NUMERIC_FN], 177);
    EXPECT_EQ(kinds[IN_STRING_FN], 70);
    EXPECT_EQ(kinds[IN_STATEMENT], 139);
    EXPECT_EQ(kinds[IN_UNTYPED_FN], 1);
    EXPECT_EQ(kinds[IN_NUMERIC_STATEMENT], 1);
    EXPECT_EQ(kinds.size(), 5u);
    EXPECT_EQ(inbuilt[in_IGPROGRESS_IS_CANCELLED].F_type, IN_UNTYPED_FN);
    EXPECT_EQ(inbuilt[in_IGBUTTON_ADD_LABEL].F_type, IN_NUMERIC_STATEMENT);
    EXPECT_STREQ(inbuilt[in_NULL].F_name, "");
    EXPECT_EQ(inbuilt[in_NULL].F_type, 0u);
    EXPECT_STREQ(inbuilt[in_NULL].signature, "");
}

TEST(IntrinsicTable, CodesAndKnownRows)
{
    EXPECT_EQ(in_ABORT, 0);
    EXPECT_EQ(in_APPLICATIONNAME, 3);
    EXPECT_EQ(in_ERROR_TEXT, 23);
    EXPECT_EQ(in_EXIT_CODE, 25);
    EXPECT_EQ(in_IDOC_FETCH, 96);
    EXPECT_EQ(in_ORUN_ORIGIN, 347);
    EXPECT_EQ(in_NEWRUN, 348);
    EXPECT_EQ(in_VARIABLE_SET, 383);
    EXPECT_EQ(in_X2GO_ID, 387);

    struct {
        int code;
        const char *name;
        SymType type;
        const char *signature;
    } rows[] = {
        {1, "ABS", 0x122, "n0"},
        {334, "LEN", 0x122, "s1"},
        {364, "STR$", 0x124, "n0"},
        {368, "VAL", 0x122, "s1"},
        {2, "ADDKEY", 0x140, "n0n0N2n0"},
        {11, "CHAIN", 0x140, "s1?n0"},
        {24, "EXECUTE", 0x122, "s1n0?n0S2"},
        {16, "CPMED$", 0x124, "n0n0n0?s1"},
        {21, "EDIT$", 0x124, "n0s1"},
        {35, "ICADD", 0x122, "n0n0s1n0n0n0n0n0n0n0n0"},
        {38, "ICCALL_FUN", 0x140, "n0|"},
        {348, "NEWRUN#", 0x140, "|s1n0"},
        {386, "VARINFO", 0x140, "|"},
        {73, "ICSET_CONTENT", 0x140, "n0?A?A"},
        {234, "ILIST_ADD", 0x122, "n0A"},
        {96, "IDOC_FETCH", 0x122, "n0s1s1z"},
        {327, "ISTRUCTEQ", 0x122, "zz"},
        {119, "IGDIALOG", 0x122, "s1s1*"},
        {168, "IGPROGRESS_IS_CANCELLED", 0x120, ""},
        {106, "IGBUTTON_ADD_LABEL", 0x142, ""},
        {0, "ABORT", 0x140, "s1"},
        {12, "CHG_ROOT", 0x140, "s1|"},
        {339, "LOG.ERROR", 0x140, "s1s1s1s1s1s1s1s1s1"},
        {367, "USER.INFO", 0x140, "S1N0"},
        {366, "TAB$", 0x124, "n0"},
        {10, "BS$", 0x124, "?n0"},
        {340, "LOOKUP.STRING$", 0x124, "n0s1*"},
        {369, "VARADR$", 0x124, "V"},
        {3, "APPLICATIONNAME$", 0x124, ""},
        // Kinds that follow from the dispatcher alone.
        {124, "IGEOMETRY_GET_OAE", 0x124, ""},
        {127, "IGEOMETRY_PUT_STD", 0x140, ""},
        {64, "ICHECKVIRUS", 0x122, ""},
        {352, "PATTERN.SUBST$", 0x124, ""},
        {383, "VARIABLE.SET", 0x140, ""},
        {343, "MACH", 0x140, ""},
        {328, "ISTRUCT_DUMP", 0x140, ""},
        {49, "ICGET_EVENT_NAME$", 0x124, ""},
        {387, "X2GO_ID$", 0x124, ""},
    };
    for (const auto &r : rows) {
        EXPECT_STREQ(inbuilt[r.code].F_name, r.name) << r.code;
        EXPECT_EQ(inbuilt[r.code].F_type, r.type) << r.name;
        EXPECT_STREQ(inbuilt[r.code].signature, r.signature) << r.name;
    }
}

TEST(IntrinsicTable, EveryNameFindsItsCode)
{
    for (int c = 0; c < in_NULL; ++c) EXPECT_EQ(insearch(IntrinsicString(c)), c) << IntrinsicString(c);
    EXPECT_EQ(insearch("ABS"), 1);
    EXPECT_EQ(insearch("ORUN.ORIGIN$"), 347);  // the row out of byte order
    EXPECT_EQ(insearch("NEWRUN#"), 348);
    EXPECT_EQ(insearch("X2GO_ID$"), 387);
    EXPECT_EQ(insearch("ABORT"), 0);
    EXPECT_EQ(insearch("NOSUCH"), in_NULL);
    EXPECT_EQ(insearch("abs"), in_NULL);
    EXPECT_EQ(insearch("ABS "), in_NULL);
    EXPECT_EQ(insearch(""), in_NULL);
    EXPECT_EQ(insearch("ZZZ"), in_NULL);
    EXPECT_EQ(insearch("A"), in_NULL);
    EXPECT_EQ(insearch(nullptr), in_NULL);
}

TEST(IntrinsicTable, NamesByCode)
{
    EXPECT_STREQ(IntrinsicString(5), "ARGC");
    EXPECT_STREQ(IntrinsicString(6), "ARGV$");
    EXPECT_STREQ(IntrinsicString(387), "X2GO_ID$");
    EXPECT_STREQ(IntrinsicString(388), "");
    EXPECT_STREQ(IntrinsicString(389), "UKN Intrinsic 389");
    EXPECT_STREQ(IntrinsicString(-1), "UKN Intrinsic -1");
    EXPECT_LT(FnTab_cmp(&inbuilt[0], &inbuilt[1]), 0);
    EXPECT_GT(FnTab_cmp(&inbuilt[347], &inbuilt[348]), 0);
    EXPECT_EQ(FnTab_cmp(&inbuilt[7], &inbuilt[7]), 0);
}

namespace {

Stack num(bool ref = false)
{
    Stack s{};
    s.s_t = real;
    s.flags = ref ? stk_ref : 0;
    return s;
}

Stack str(std::uint32_t len = 3, bool ref = false)
{
    Stack s{};
    s.s_t = string;
    s.s_dims[0] = len;
    s.length = len;
    s.flags = ref ? stk_ref : 0;
    return s;
}

Stack arr(ConType t, std::uint32_t d0, std::uint32_t d1, bool ref = true)
{
    Stack s{};
    s.s_t = t;
    s.s_dims[0] = d0;
    s.s_dims[1] = d1;
    s.flags = ref ? stk_ref : 0;
    return s;
}

} // namespace

TEST(SignatureCheck, ArgumentsAgainstSignatures)
{
    struct {
        const char *signature;
        std::vector<Stack> args;
        int first;
        const char *message;  // nullptr: accepted
    } cases[] = {
        {"s1?n0", {str()}, 1, nullptr},
        {"s1?n0", {str(), num(), num(), str()}, 1, nullptr},
        {"s1?n0", {}, 1, "insufficient arguments"},
        {"s1?n0", {num()}, 1, "argument #1 must be a 1-dimensional string array"},
        {"n0|", {num()}, 1, "insufficient arguments"},
        {"n0|", {num(), str()}, 1, nullptr},
        {"n0|", {num(), str(), num()}, 1, nullptr},
        {"n0", {num(), num()}, 1, "too many arguments"},
        {"n0", {str()}, 1, "argument #1 must be a scalar numeric"},
        {"n0", {num()}, 1, nullptr},
        {"", {}, 1, nullptr},
        {"", {num()}, 1, "too many arguments"},
        {"n0s1", {num(), str(0)}, 1, nullptr},  // an empty string still counts as one dimension
        {"n0s1", {num(), num()}, 3, "argument #4 must be a 1-dimensional string array"},
        {"S1N0", {str(3, true), num(true)}, 1, nullptr},
        {"S1N0", {str(3, false), num(true)}, 1, "argument #1 must be a variable"},
        {"S1N0", {str(3, true), num(false)}, 0, "argument #1 must be a variable"},
        {"n0n0N2n0", {num(), num(), arr(real_array, 4, 5), num()}, 1, nullptr},
        {"n0n0N2n0", {num(), num(), arr(real_array, 4, 0), num()}, 1,
         "argument #3 must be a 2-dimensional numeric array"},
        {"n0n0N2n0", {num(), num(), num(true), num()}, 1, "argument #3 must be a 2-dimensional numeric array"},
        {"s1n0?n0S2", {str(), num(), num(), arr(string_array, 4, 10)}, 1, nullptr},
        {"s1n0?n0S2", {str(), num()}, 1, nullptr},
        {"s1n0?n0S2", {str()}, 1, "insufficient arguments"},
        {"N1", {arr(real_array, 6, 0)}, 1, nullptr},
        {"N1", {arr(string_array, 6, 0)}, 1, "argument #1 must be a 1-dimensional numeric array"},
        {"|", {}, 1, "insufficient arguments"},
        {"|", {num(), str()}, 1, nullptr},
        {"|s1n0", {num()}, 1, nullptr},
    };
    for (const auto &c : cases) {
        const char *got = Check_signature(c.signature, c.args.data(), static_cast<int>(c.args.size()), c.first);
        if (c.message)
            EXPECT_STREQ(got, c.message) << c.signature << " with " << c.args.size();
        else
            EXPECT_EQ(got, nullptr) << c.signature << " with " << c.args.size() << ": " << got;
    }
}

TEST(SignatureCheck, UnusualCharactersReadSafely)
{
    // Letters without a digit, and the end of the text right after a letter, are read without
    // stepping past the end.
    // Any letter but s and S stands for a number; upper case asks for a variable.
    Stack args[] = {num(), num(true)};
    EXPECT_EQ(Check_signature("n0A", args, 2, 1), nullptr);
    EXPECT_STREQ(Check_signature("n0A", args, 1, 1), "insufficient arguments");
    EXPECT_STREQ(Check_signature("A", args, 1, 1), "argument #1 must be a variable");
    EXPECT_EQ(Check_signature("zz", args, 2, 1), nullptr);
    EXPECT_STREQ(Check_signature("s1s1*", args, 2, 1), "argument #1 must be a 1-dimensional string array");
    EXPECT_EQ(Check_signature(nullptr, args, 0, 1), nullptr);
}
