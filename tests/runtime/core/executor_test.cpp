// The executor run in-process on programs written as zasm text: operators against exact
// arithmetic, control flow, routines and their guards, variables, traps, COMMON, the trace ring.
#include <map>
#include <sys/mman.h>
#include <fcntl.h>

#include "common_block.h"
#include "contexts.h"
#include "decoded.h"
#include "exec_fixture.h"
#include "hooks.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "op_codes.h"
#include "program_text.h"
#include "test_intrinsics.h"
#include "tsv.h"

// Test intrinsics in place of the run-time's: ABS as a numeric intrinsic, ABORT as a statement
// raising the trappable error. They record the depth and name they ran under; ABS also the
// kind of its argument.
namespace {
int seen_depth;
std::string seen_name;
std::vector<ConType> seen_kinds;  // of ABS's argument, a call each

void test_abs(int nargs, int last, Stack *result)
{
    seen_depth = depth;
    seen_name = Rname ? Rname : "";
    if (nargs != 1) throw lumba_test::AbortError("unexpected numeric intrinsic");
    seen_kinds.push_back(Stk[last].s_t);
    result->num = *Stk[last].s_c.C_N;
    if (result->num.dec_pos == 0) result->num.dec_pos = 1;
}

// ASC raising the trappable error, as a handler that reads only its texts may.
void test_failing_asc(int, int, Stack *) { Xerror(TRAPPABLE_ERROR, "test error in ASC"); }

void test_abort(int nargs, int)
{
    seen_depth = depth;
    seen_name = Rname ? Rname : "";
    Xerror(TRAPPABLE_ERROR, "test error %d", nargs);
}

const auto *test_intrinsics =
    lumba_test::add_test_intrinsics({.numeric = {{in_ABS, test_abs}, {in_ASC, test_failing_asc}},
                                     .statement = {{in_ABORT, test_abort}}});
} // namespace

namespace {

using lumba_test::num;
using lumba_test::str;
using lumba_test::to_cell;
using lumba_test::from_cell;
using lumba_test::fn;
using lumba_test::sfn;
// Local numeric variable k (area 1).
std::string load_var(int k) { return "loadrvd I:" + std::to_string(k) + " I:1 I:0 I:0 I:0\n"; }
std::string store_var(int k) { return "storrd I:" + std::to_string(k) + " I:1 I:0 I:0 I:0\n"; }

// A main routine that computes fragment into COMMON cell 0, then ends.
std::string computes(const std::string &fragment)
{
    return program(".common I:4 I:0\n" + fragment + to_cell(0) + "exit\n");
}

std::string hex_image(const dec_t &d)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    const auto *b = reinterpret_cast<const unsigned char *>(&d);
    for (std::size_t i = 0; i < sizeof d; ++i) {
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}

} // namespace

// A generated program computes (a op b) for every row of the table into COMMON; each 22-byte
// result must be the exact result rounded to the base-100 grid, byte for byte.
TEST_F(ExecTest, OperatorTableMatchesExactArithmetic)
{
    auto rows = lumba_test::read_tsv(OPS_TABLE);
    ASSERT_GT(rows.size(), 300u);
    Interp_t *c = nullptr;
    ASSERT_EQ(load(OPS_OBJECT, &c), "");
    Outcome o = execute(c);
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(o.status, 0);
    ASSERT_GE(Common_size, static_cast<long>(rows.size() * sizeof(dec_t)));
    for (const auto &row : rows) {
        const int i = std::stoi(row[0]);
        EXPECT_EQ(hex_image(cell(i)), row[4]) << row[2] << " " << row[1] << " " << row[3] << " gave " << text_of(cell(i));
    }
}

// The loop's fast paths (plain local loads and stores, add, subtract, multiply, compares, the FOR
// test, jumps, source lines, function intrinsic calls and a string variable read in place by the
// call that follows) against the general path doing every op: one program over the operands of the
// generated table and over a few texts, run both ways, must leave the same COMMON byte for byte.
TEST_F(ExecTest, FastPathsAgreeWithTheGeneralPath)
{
    const auto rows = lumba_test::read_tsv(OPS_TABLE);
    ASSERT_GT(rows.size(), 300u);
    const int n = static_cast<int>(rows.size());
    // Texts for S$ (10 bytes at 0 in main's character area): empty, blanks at either end, its whole
    // length (no terminator), multi-byte characters.
    const std::vector<std::string> texts = {"", "abc", "  lead", "trail   ", "ten chars!", "  ", "\\xC3\\xA9t\\xC3\\xA9 "};
    constexpr int PER_TEXT = 6;  // cells a text fills
    const int text_cells = static_cast<int>(texts.size()) * PER_TEXT;
    const int texts_at = 2 * n + 2 + text_cells;  // the cell where the stored texts begin
    std::string body = ".common I:" + std::to_string(texts_at + 1) + " I:" + std::to_string(10 * texts.size()) + "\n";
    for (int i = 0; i < n; ++i) {
        const auto &row = rows[static_cast<std::size_t>(i)];
        const std::string at = std::to_string(i);
        // r = a op b through local variables; cell 2i gets r, cell 2i+1 whether r is zero.
        body += "srcline I:" + std::to_string(i + 1) + " I:0\n" + num(row[2]) + store_var(0) + num(row[3]) +
                store_var(1) + load_var(0) + load_var(1) + row[1] + "\n" + store_var(2) + load_var(2) + to_cell(2 * i) +
                load_var(2) + "jumpz l:z" + at + "\n" + num(2) + "jump l:e" + at + "\nz" + at + ":\n" + num(1) + "e" +
                at + ":\n" + to_cell(2 * i + 1);
    }
    // s = 0: FOR k = 1 TO 500 STEP 0.5: s = s + k * 1.5 - 0.25: NEXT, with a source line a turn.
    body += num("0") + store_var(3) + num("1") + store_var(0) + "top:\nsrcline I:9999 I:0\n" + load_var(0) + num("500") +
            num("0.5") + "cmpidx l:done\n" + load_var(3) + load_var(0) + num("1.5") + "mul\nadd\n" + num("0.25") +
            "sub\n" + store_var(3) + load_var(0) + num("0.5") + "add\n" + store_var(0) + "jump l:top\ndone:\n" +
            load_var(3) + to_cell(2 * n) + load_var(0) + to_cell(2 * n + 1);
    // S$ = t, then LEN, FLEN and LLEN of S$ (read in place), LEN of STRIP$ and LSTRIP$ of S$ (read in
    // place by a string intrinsic), ABS(LEN(S$)) (a call on a call's result), and STRIP$(S$) stored
    // into COMMON's bytes.
    const std::string s_value = "loadsvd I:0 I:1 I:10 I:0 I:0 I:0 I:0 I:0\n";
    for (std::size_t k = 0; k < texts.size(); ++k) {
        const int at = 2 * n + 2 + static_cast<int>(k) * PER_TEXT;
        body += str(texts[k]) + "storsd I:0 I:1 I:10 I:0 I:0 I:0 I:0 I:0\n" + s_value + fn(in_LEN, 1) + to_cell(at) +
                s_value + fn(in_FLEN, 1) + to_cell(at + 1) + s_value + fn(in_LLEN, 1) + to_cell(at + 2) + s_value +
                sfn(in_STRIP, 1) + fn(in_LEN, 1) + to_cell(at + 3) + s_value + sfn(in_LSTRIP, 1) + fn(in_LEN, 1) +
                to_cell(at + 4) + s_value + fn(in_LEN, 1) + fn(in_ABS, 1) + to_cell(at + 5) + s_value + sfn(in_STRIP, 1) +
                "storsd I:" + std::to_string(22 * texts_at + 10 * static_cast<int>(k)) + " I:0 I:10 I:0 I:0 I:0 I:0 I:0\n";
    }
    body += "exit\n";
    const std::string text = program(body, 4, 10);

    auto run_with = [&](bool general_only) {
        const PathRun r = run_on_path(text, general_only);
        EXPECT_EQ(r.outcome.abort, "") << (general_only ? "general path" : "fast paths");
        return std::pair{r.outcome.status, r.common};
    };
    seen_kinds.clear();
    const auto fast = run_with(false), general = run_with(true);
    EXPECT_EQ(fast.first, general.first);
    ASSERT_EQ(fast.second.size(), general.second.size());
    EXPECT_EQ(fast.second, general.second) << "COMMON, byte for byte";
    // ABS ran on a number each way: the general path and the fast paths in both forms of the loop.
    EXPECT_EQ(seen_kinds, std::vector<ConType>(3 * texts.size(), real));
    for (int i = 0; i < 2 * n + 2; ++i) {
        const auto at = static_cast<std::size_t>(i) * sizeof(dec_t);
        dec_t f, g;
        std::memcpy(&f, fast.second.data() + at, sizeof f);
        std::memcpy(&g, general.second.data() + at, sizeof g);
        const auto &row = rows[static_cast<std::size_t>(std::min(i / 2, n - 1))];
        EXPECT_EQ(hex_image(f), hex_image(g)) << "cell " << i << " (" << row[2] << " " << row[1] << " " << row[3]
                                              << "): fast " << text_of(f) << ", general " << text_of(g);
    }
    // The loop's sum, 1.5 * (1 + 1.5 + ... + 500) - 0.25 * 999, computed exactly.
    dec_t fast_sum;
    std::memcpy(&fast_sum, fast.second.data() + static_cast<std::size_t>(2 * n) * sizeof(dec_t), sizeof fast_sum);
    EXPECT_TRUE(same(fast_sum, "375124.5")) << text_of(fast_sum);
    // The texts' lengths, as the fast paths left them: LEN, FLEN, LLEN, then LEN of STRIP$ and
    // LSTRIP$, then ABS(LEN).
    const long expected[][PER_TEXT] = {{0, 0, 0, 0, 0, 0},    {3, 3, 0, 3, 3, 3},      {6, 6, 2, 6, 4, 6},
                                       {8, 5, 0, 5, 8, 8},    {10, 10, 0, 10, 10, 10}, {2, 0, 0, 0, 0, 2},
                                       {6, 5, 0, 5, 6, 6}};
    for (std::size_t k = 0; k < texts.size(); ++k)
        for (int j = 0; j < PER_TEXT; ++j) {
            const auto at = static_cast<std::size_t>(2 * n + 2 + static_cast<int>(k) * PER_TEXT + j) * sizeof(dec_t);
            dec_t v;
            std::memcpy(&v, fast.second.data() + at, sizeof v);
            EXPECT_TRUE(same(v, std::to_string(expected[k][j]).c_str())) << texts[k] << " #" << j << ": " << text_of(v);
        }
    // STRIP$ of "trail   ", stored into COMMON's bytes.
    EXPECT_EQ(fast.second.substr(static_cast<std::size_t>(22 * texts_at + 30), 5), "trail");
}

TEST_F(ExecTest, OperatorEdges)
{
    struct {
        std::string fragment;
        const char *value;  // expected result, or nullptr when the run stops with message
        const char *message;
    } cases[] = {
        {num("7") + num("0") + "div\n", "0", nullptr},
        {num("7") + num("0") + "mod\n", nullptr, "Attempt to divide by zero"},
        {num("7") + num("3") + "mod\n", "1", nullptr},
        {num("-7") + num("3") + "mod\n", "-1", nullptr},
        // Quotients beyond 32 bits are truncated in decimal, not wrapped.
        {num("12345678901234567890123") + num("7") + "mod\n", "3", nullptr},
        {num("98765432109876543210987654321") + num("97") + "mod\n", "4", nullptr},
        {num("1e40") + num("7") + "mod\n", nullptr, "BCD Overflow"},
        {num("0") + num("5") + "sub\n", "-5", nullptr},
        {num("0") + num("-5") + "sub\n", "5", nullptr},
        {num("1e100") + num("1e100") + "mul\n", nullptr, "BCD Overflow"},
        {num("1e-100") + num("1e-100") + "mul\n", nullptr, "BCD Underflow"},
        {num("0") + num("9") + "and\n", "0", nullptr},
        {num("1") + num("0") + "or\n", "1", nullptr},
        {num("2") + num("-3") + "and\n", "1", nullptr},
        {num("3") + "neg\n", "-3", nullptr},
        {num("0") + "not\n", "1", nullptr},
        {num("0.5") + "not\n", "0", nullptr},
        // Strings compare by length; trailing blanks count.
        {str("ab ") + str("ab") + "ne\n", "1", nullptr},
        {str("ab ") + str("ab") + "gt\n", "1", nullptr},
        {str("abc") + str("abd") + "lt\n", "1", nullptr},
        {str("b") + str("abc") + "gt\n", "1", nullptr},
        {str("") + str("a") + "lt\n", "1", nullptr},
        {str("\\xE9") + str("e") + "gt\n", "1", nullptr},  // bytes compare unsigned
        {str("same") + str("same") + "eq\n", "1", nullptr},
        {num("1") + str("1") + "eq\n", nullptr, "Cannot compare a number with a non-number"},
        {str("1") + num("1") + "add\n", nullptr, "Numeric value expected on the value stack (entry kind 1)"},
    };
    for (const auto &c : cases) {
        Outcome o = run(computes(c.fragment));
        if (c.value) {
            EXPECT_EQ(o.abort, "") << c.fragment;
            EXPECT_TRUE(same(cell(0), c.value)) << c.fragment << " gave " << text_of(cell(0));
        } else {
            EXPECT_EQ(o.abort, c.message) << c.fragment;
        }
        release_common_block();
        delete_all_applications();
    }
}

// Text stored into COMMON over a number and read back as one: a number whose first digit pair is
// zero. Dividing by it is error 204 (the arithmetic answers non-numeric), not a hardware fault.
TEST_F(ExecTest, TextStoredOverANumberIsNotANumber)
{
    // Bytes 1, 0 at the exponent, the sign and the digit count of cell 1; every digit 0.
    std::string damage;
    for (int at : {22, 24, 26}) damage += str("\\x01") + "storsd I:" + std::to_string(at) + " I:0 I:1 I:0 I:0 I:0 I:0 I:0\n";
    const std::string cell1 = "loadrvd I:22 I:0 I:0 I:0 I:0\n";
    for (const char *op : {"div", "mul", "add", "sub", "mod"}) {
        Outcome o = run(program(".common I:4 I:0\n" + damage + num("7") + cell1 + op + "\n" + to_cell(0) + "exit\n"));
        EXPECT_EQ(o.abort, "BCD Error status -1213") << op;
        release_common_block();
        delete_all_applications();
    }
}

TEST_F(ExecTest, ZeroResultsArePositive)
{
    for (const std::string &f : {num("5") + num("5") + "sub\n", num("0") + "neg\n", num("-5") + num("5") + "add\n",
                                 num("-6") + num("3") + "mod\n"}) {
        ASSERT_EQ(run(computes(f)).abort, "") << f;
        EXPECT_EQ(cell(0).dec_pos, 1) << f;
        EXPECT_EQ(cell(0).dec_ndgts, 0) << f;
        release_common_block();
        delete_all_applications();
    }
}

TEST_F(ExecTest, StringConstantsAreNeverWritten)
{
    Outcome o = run(computes(str("abc") + str("abcd") + "lt\n" + str("abc") + "loadsc s:\"abc\" p:0\neq\nadd\n"));
    ASSERT_EQ(o.abort, "");
    EXPECT_TRUE(same(cell(0), "2"));
    // The shared constant still reads "abc", terminator in place.
    const char *constant = nullptr;
    for (Code *w = context->code_base; w < context->code_base + context->code_size; ++w)
        if (w->param == o_loadsc) {
            constant = w[1].string;
            break;
        }
    ASSERT_NE(constant, nullptr);
    EXPECT_STREQ(constant, "abc");
}

TEST_F(ExecTest, CountedLoopsAndJumps)
{
    // FOR I = from TO limit STEP step: count the turns into cell 0.
    auto loop = [](const char *from, const char *limit, const char *step) {
        return num("0") + store_var(1) + num(from) + store_var(0) + "top:\n" + load_var(0) + num(limit) + num(step) +
               "cmpidx l:done\n" + load_var(1) + num("1") + "add\n" + store_var(1) + load_var(0) + num(step) +
               "add\n" + store_var(0) + "jump l:top\ndone:\n" + load_var(1);
    };
    // jumpl / gosubl with selector k over two labels: cell 0 gets 10, 20 or 99 (fell through).
    auto jumpl = [](const char *k) {
        return num(k) + "jumpl I:2 l:one l:two\n" + num("99") + "jump l:out\none:\n" + num("10") +
               "jump l:out\ntwo:\n" + num("20") + "out:\n";
    };
    auto gosubl = [](const char *k) {
        // The selected gosub returns past the table; an unselected one must leave no return behind.
        return std::string("gosub l:outer\n") + load_var(2) + "jump l:fin\nouter:\n" + num("99") + store_var(2) + num(k) +
               "gosubl I:2 l:one l:two\nreturn\none:\n" + num("10") + store_var(2) + "return\ntwo:\n" + num("20") +
               store_var(2) + "return\nfin:\n";
    };
    struct {
        std::string fragment;
        const char *value;
    } cases[] = {
        {loop("1", "10", "1"), "10"},
        {loop("10", "1", "-1"), "10"},
        {loop("0", "1", "-1"), "0"},  // control below the limit of a falling loop leaves at once
        {loop("1", "1", "-1"), "1"},  // equal: one turn
        {loop("1", "2", "0.5"), "3"},
        {loop("5", "1", "1"), "0"},
        {jumpl("1"), "10"},
        {jumpl("2"), "20"},
        {jumpl("0"), "99"},
        {jumpl("3"), "99"},
        {jumpl("1e20"), "99"},
        {gosubl("1"), "10"},
        {gosubl("2"), "20"},
        {gosubl("0"), "99"},
        {gosubl("3"), "99"},
        {num("0") + "jumpz l:z\n" + num("1") + "jump l:e\nz:\n" + num("2") + "e:\n", "2"},
        {num("0.01") + "jumpz l:z\n" + num("1") + "jump l:e\nz:\n" + num("2") + "e:\n", "1"},
    };
    for (const auto &c : cases) {
        Outcome o = run(computes(c.fragment));
        EXPECT_EQ(o.abort, "") << c.fragment;
        EXPECT_TRUE(same(cell(0), c.value)) << c.fragment << " gave " << text_of(cell(0));
        EXPECT_EQ(gosub_ptr, 0) << c.fragment;
        release_common_block();
        delete_all_applications();
    }
}

TEST_F(ExecTest, GosubStackLimits)
{
    EXPECT_EQ(run(program("g:\ngosub l:g\n")).abort, "Internal gosub stack overflow");
    delete_all_applications();
    EXPECT_EQ(run(program("return\n")).abort, "Internal gosub stack underflow");
    delete_all_applications();
    // 100 nested gosubs are allowed.
    std::string body = num("0") + store_var(0) + "g:\n" + load_var(0) + num("1") + "add\n" + store_var(0) + load_var(0) +
                       num("100") + "lt\njumpz l:back\ngosub l:g\nback:\nreturn\n";
    Outcome o = run(program("gosub l:g\nexit\n" + body));
    EXPECT_EQ(o.abort, "");
}

namespace {

// main calls f with the arguments already pushed; f declares declared parameters.
// Symbols of f: declared parameters P0, P1, ...
std::string parameters(int declared)
{
    std::string t = "symtab\n__ROUTINE__ f " + std::to_string(declared) + "\n";
    for (int i = 0; i < declared; ++i) t += "P" + std::to_string(i) + " 0 0 0x8012 0 " + std::to_string(i + 1) + " -\n";
    return t + "__END_ROUTINE__\n.end\n";
}

std::string call_program(const std::string &pushes, int count, int declared, const std::string &f_body,
                         const char *kind = ".nfunc", const char *call = "fcallr")
{
    return ".proc r:main I:0 I:0 I:4 I:0 I:0 I:0\n.common I:4 I:0\n" + pushes + call + " r:f I:" +
           std::to_string(count) + "\n" + to_cell(0) + "exit\n" + kind + " r:f I:0 I:0 I:2 I:0 I:0 I:" +
           std::to_string(declared) + "\n" + f_body + parameters(declared);
}

} // namespace

TEST_F(ExecTest, RoutineCallsAndResults)
{
    struct {
        std::string text;
        const char *value;
        const char *message;
    } cases[] = {
        // f(a, b) = a * b + 1 through parameters by value.
        {call_program(num("6") + num("7"), 2, 2,
                      "loadrvi I:0 I:0 I:1 I:0 I:0 I:0\nloadrvi I:1 I:0 I:1 I:0 I:0 I:0\nmul\n" + num("1") +
                          "add\nexitv\n"),
         "43", nullptr},
        // A numeric function that leaves by exit returns 0 (nothing pushed: main stores its own).
        {call_program("", 0, 0, "exitv\n"), nullptr, "Stack underflow\n"},
        {call_program(num("1") + num("2"), 2, 3, "exitv\n"), nullptr,
         "Routine f called with wrong number of arguments"},
        {call_program("", 0, 0, "fcallr r:f I:0\nexitv\n"), nullptr, "Routine f is being recursively called!"},
    };
    for (const auto &c : cases) {
        Outcome o = run(c.text);
        if (c.value) {
            EXPECT_EQ(o.abort, "") << c.text;
            EXPECT_TRUE(same(cell(0), c.value)) << text_of(cell(0));
        } else {
            EXPECT_EQ(o.abort, c.message) << c.text;
        }
        release_common_block();
        delete_all_applications();
    }
}

// The decoded steps of two routines against the general path: main loops over k = 1 TO 20 with a
// source line a turn, calls f(k) (whose own variables 0 and 1 are other cells than main's), comes
// back from a gosub and a labelled jump into the middle of its steps; f loops down from its
// parameter. Both runs must leave the same COMMON byte for byte, and the sums must be right.
TEST_F(ExecTest, DecodedRoutinesAgreeWithTheGeneralPath)
{
    const std::string main_body =
        ".proc r:main I:0 I:0 I:4 I:0 I:0 I:0\n.common I:3 I:0\n" + num("0") + store_var(0) + num("1") + store_var(1) +
        "mtop:\nsrcline I:1 I:0\n" + load_var(1) + num("20") + num("1") + "cmpidx l:mdone\n" + load_var(1) +
        "fcallr r:f I:1\n" + store_var(2) + load_var(0) + load_var(2) + "add\n" + store_var(0) + "gosub l:half\n" +
        // k MOD 2 + 1 selects: an even k adds 1, an odd one takes 3 off.
        load_var(1) + num("2") + "mod\n" + num("1") + "add\njumpl I:2 l:even l:odd\neven:\n" + load_var(0) + num("1") +
        "add\n" + store_var(0) + "jump l:next\nodd:\n" + load_var(0) + num("3") + "sub\n" + store_var(0) + "next:\n" +
        load_var(1) + num("1") + "add\n" + store_var(1) + "jump l:mtop\nhalf:\n" + load_var(3) + num("0.5") + "add\n" +
        store_var(3) + "return\nmdone:\n" + load_var(0) + to_cell(0) + load_var(3) + to_cell(1) + load_var(1) +
        to_cell(2) + "exit\n";
    // f(P0): a = P0, s = 0; WHILE a > 0: s = s + a * 1.25: a = a - 1; f = s.
    const std::string f_body = ".nfunc r:f I:0 I:0 I:2 I:0 I:0 I:1\nloadrvi I:0 I:0 I:1 I:0 I:0 I:0\n" + store_var(0) +
                               num("0") + store_var(1) + "floop:\n" + load_var(0) + num("0") + "gt\njumpz l:fout\n" +
                               load_var(1) + load_var(0) + num("1.25") + "mul\nadd\n" + store_var(1) + load_var(0) +
                               num("1") + "sub\n" + store_var(0) + "jump l:floop\nfout:\n" + load_var(1) + "exitv\n";
    const std::string text = main_body + f_body + parameters(1);
    auto run_with = [&](bool general_only) {
        const PathRun r = run_on_path(text, general_only);
        EXPECT_EQ(r.outcome.abort, "") << (general_only ? "general path" : "decoded steps");
        return std::pair{r.outcome.status, r.common};
    };
    const auto fast = run_with(false), general = run_with(true);
    EXPECT_EQ(fast.first, general.first);
    EXPECT_EQ(fast.second, general.second) << "COMMON, byte for byte";
    // 1.25 * (1 + 3 + 6 + ... + 210) = 1925, ten times +1 and ten times -3; twenty halves; k past 20.
    const char *expected[] = {"1905", "10", "21"};
    for (int i = 0; i < 3; ++i) {
        dec_t v;
        std::memcpy(&v, fast.second.data() + static_cast<std::size_t>(i) * sizeof(dec_t), sizeof v);
        EXPECT_TRUE(same(v, expected[i])) << "cell " << i << ": " << text_of(v);
    }
}

// Numbers the loop keeps in binary between ops, and variables it writes back only when something
// else may read them, against the general path: products that outgrow a machine word inside a
// loop, a negative step, sums that cancel to zero and are used again, exponents at the edges,
// comparisons of different scales, a jump on a zero and a reference to a variable stored into
// after it was pushed. Both runs must leave the same COMMON.
TEST_F(ExecTest, NumbersKeptInBinaryAgreeWithTheGeneralPath)
{
    // FOR k = first TO last STEP step: body: NEXT, k in variable 0, labels named by tag.
    auto for_loop = [](const std::string &tag, const char *first, const char *last, const char *step,
                       const std::string &body) {
        return num(first) + store_var(0) + tag + "top:\n" + load_var(0) + num(last) + num(step) + "cmpidx l:" + tag +
               "done\n" + body + load_var(0) + num(step) + "add\n" + store_var(0) + "jump l:" + tag + "top\n" + tag +
               "done:\n";
    };
    std::string body = ".common I:17 I:0\n";
    // x = 1, y = 0: FOR k = 1 TO 30: x = x * 7.5: y = y - x: NEXT (x passes 10^16 at k = 19).
    body += num("1") + store_var(1) + num("0") + store_var(2) +
            for_loop("g", "1", "30", "1",
                     load_var(1) + num("7.5") + "mul\n" + store_var(1) + load_var(2) + load_var(1) + "sub\n" + store_var(2)) +
            load_var(1) + to_cell(0) + load_var(2) + to_cell(1);
    // s = 0: FOR k = 10 TO 1 STEP -0.5: s = s + k * k: NEXT.
    body += num("0") + store_var(1) + for_loop("n", "10", "1", "-0.5", load_var(1) + load_var(0) + load_var(0) +
                                                                        "mul\nadd\n" + store_var(1)) +
            load_var(1) + to_cell(2) + load_var(0) + to_cell(3);
    // z = 0.01 - 0.01, then z * 3, z + z and 5 - z, all kept as they are computed.
    body += num("0.01") + num("0.01") + "sub\n" + store_var(1) + load_var(1) + num("3") + "mul\n" + store_var(2) +
            load_var(1) + load_var(1) + "add\n" + store_var(3) + num("5") + load_var(1) + "sub\n" + to_cell(7) +
            load_var(1) + to_cell(4) + load_var(2) + to_cell(5) + load_var(3) + to_cell(6);
    // Exponents at the edges: 1E-120 * 10, 9.9E120 * 10 stopped nowhere, 123456789012345.5 + 0.05 and
    // its product by 1000.
    body += num("1E-120") + num("10") + "mul\n" + to_cell(8) + num("123456789012345.5") + num("0.05") + "add\n" +
            store_var(1) + load_var(1) + to_cell(9) + load_var(1) + num("1000") + "mul\n" + to_cell(10);
    // Comparisons across scales: 2.5 + 0.5 = 3, 3 > 2.99, 3 < 300000000000000000.
    body += num("2.5") + num("0.5") + "add\n" + store_var(1) + load_var(1) + num("3") + "eq\n" + to_cell(11) +
            load_var(1) + num("2.99") + "gt\n" + to_cell(12) + load_var(1) + num("300000000000000000") + "lt\n" +
            to_cell(13);
    // A jump on a zero computed in binary: cell 14 gets 1.
    body += num("0.5") + num("0.5") + "sub\n" + store_var(1) + load_var(1) + "jumpz l:zero\n" + num("2") +
            "jump l:zdone\nzero:\n" + num("1") + "zdone:\n" + to_cell(14);
    // A reference to a variable stored into after it was pushed reads the value stored: cell 15 gets 6.
    body += num("2") + store_var(1) + "loadrad I:1 I:1 I:0 I:0 I:0\n" + num("5") + store_var(1) + num("1") + "add\n" +
            to_cell(15) + "exit\n";
    const std::string text = program(body, 4, 0);
    auto run_with = [&](bool general_only) {
        const PathRun r = run_on_path(text, general_only);
        EXPECT_EQ(r.outcome.abort, "") << (general_only ? "general path" : "fast paths");
        return r.common;
    };
    const std::string fast = run_with(false), general = run_with(true);
    ASSERT_EQ(fast.size(), general.size());
    const char *expected[16] = {nullptr, nullptr, "717.25", "0.5", "0", "0", "0", "5", "1E-119", "123456789012345.55",
                                "123456789012345550", "1", "1", "1", "1", "6"};
    for (int i = 0; i < 16; ++i) {
        dec_t f, g;
        std::memcpy(&f, fast.data() + static_cast<std::size_t>(i) * sizeof f, sizeof f);
        std::memcpy(&g, general.data() + static_cast<std::size_t>(i) * sizeof g, sizeof g);
        EXPECT_EQ(hex_image(f), hex_image(g)) << "cell " << i << ": fast " << text_of(f) << ", general " << text_of(g);
        if (expected[i]) {
            EXPECT_TRUE(same(f, expected[i])) << "cell " << i << ": " << text_of(f);
        }
    }
}

TEST_F(ExecTest, ArgumentsPassedByAddressAreShared)
{
    // main: X = 5; CALL f(X) where f adds 1 to its parameter; cell 0 = X.
    std::string text = program(".common I:1 I:0\n" + num("5") + store_var(0) +
                                   "loadrad I:0 I:1 I:0 I:0 I:0\npcall r:f I:1\n" + load_var(0) + to_cell(0) + "exit\n",
                               1) +
                       ".proc r:f I:0 I:0 I:0 I:0 I:0 I:1\nloadrvi I:0 I:0 I:1 I:0 I:0 I:0\n" + num("1") +
                       "add\nstorri I:0 I:0 I:1 I:0 I:0 I:0\nexit\n" + parameters(1);
    Outcome o = run(text);
    ASSERT_EQ(o.abort, "");
    EXPECT_TRUE(same(cell(0), "6")) << text_of(cell(0));
    EXPECT_EQ(sp, -1);  // the marker and the argument are gone
}

TEST_F(ExecTest, WholeNumericReferencesAreArraysByTheirDimensions)
{
    // A reference to a whole variable is an array when its first dimension is set; one through a
    // parameter when either dimension the argument carries is set. A variable declared 0 x 3
    // shows the two apart: a plain number where it is declared, an array in the routine it is
    // passed to. main hands the reference to ABS, then passes it to f, which does the same.
    struct {
        int dim1, dim2;
        ConType in_main, in_f;
    } cases[] = {
        {0, 0, real, real},
        {3, 0, real_array, real_array},
        {3, 4, real_array, real_array},
        {0, 3, real, real_array},
    };
    for (const auto &c : cases) {
        const std::string ref =
            "loadrad I:0 I:1 I:" + std::to_string(c.dim1) + " I:" + std::to_string(c.dim2) + " I:0\n";
        const std::string abs = lumba_test::fn(in_ABS, 1) + to_cell(0);
        std::string text = program(".common I:1 I:0\n" + ref + abs + ref + "pcall r:f I:1\nexit\n", 12) +
                           ".proc r:f I:0 I:0 I:0 I:0 I:0 I:1\nloadrai I:0 I:0 I:1 I:0 I:0 I:0\n" + abs + "exit\n" +
                           parameters(1);
        seen_kinds.clear();
        Outcome o = run(text);
        ASSERT_EQ(o.abort, "") << c.dim1 << " x " << c.dim2;
        EXPECT_EQ(seen_kinds, (std::vector<ConType>{c.in_main, c.in_f})) << c.dim1 << " x " << c.dim2;
        release_common_block();
        delete_all_applications();
    }
}

TEST_F(ExecTest, NestingLimit)
{
    // main and a chain f1 -> f2 -> ... -> fn: at most 98 routine levels are active.
    auto chain = [](int n) {
        std::string t = program("pcall r:f1 I:0\nexit\n");
        for (int i = 1; i <= n; ++i) {
            t += ".proc r:f" + std::to_string(i) + " I:0 I:0 I:0 I:0 I:0 I:0\n";
            if (i < n) t += "pcall r:f" + std::to_string(i + 1) + " I:0\n";
            t += "exit\n";
        }
        return t;
    };
    Outcome o = run(chain(97));
    EXPECT_EQ(o.abort, "");
    EXPECT_EQ(depth, 0);
    delete_all_applications();
    o = run(chain(98));
    EXPECT_EQ(o.abort, "Nesting of routines too deep at routine f98");
}

TEST_F(ExecTest, MainRoutineExitEndsTheProgram)
{
    Outcome o = run(program(num("1") + store_var(0) + "exit\n"));
    EXPECT_EQ(o.abort, "");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(Minterp, nullptr);
    EXPECT_EQ(depth, 0);
    EXPECT_TRUE(lumba_test::mailed().empty());
    // Ending without exit is reported by mail.
    delete_all_applications();
    o = run(program("end\n"));
    EXPECT_EQ(o.abort, "");
    ASSERT_EQ(lumba_test::mailed().size(), 1u);
    EXPECT_EQ(lumba_test::mailed()[0], "Routine main has had no exit before end/stop!");
}

TEST_F(ExecTest, IntrinsicCallConvention)
{
    Outcome o = run(computes(num("5") + num("-2.5") + "ifcallr I:1 I:1\nadd\n"));
    ASSERT_EQ(o.abort, "");
    EXPECT_TRUE(same(cell(0), "7.5")) << text_of(cell(0));
    EXPECT_EQ(seen_depth, 2);  // main at depth 1, raised by one around the call
    EXPECT_EQ(seen_name, "ABS");
}

// A function intrinsic the loop calls without the dispatcher keeps every refusal the dispatcher
// makes before a handler runs, and runs the handler its row holds now: each program run by the
// loop's fast paths and by the general path alone, with the same outcome.
// A text loaded right before a call is handed over in place only when the call's row reads texts
// and nothing else: VAL's does not (its argument is copied), nor is the first of POS's two texts
// loaded right before the call; LEN's does. The loaded text may fill its whole field.
TEST_F(ExecTest, TextsLoadedBeforeACallAgreeWithTheGeneralPath)
{
    const std::vector<std::string> texts = {"7", "-42", "1234567890"};
    const std::string s_value = "loadsvd I:0 I:1 I:10 I:0 I:0 I:0 I:0 I:0\n";
    std::string body = ".common I:" + std::to_string(3 * texts.size()) + " I:0\n";
    for (std::size_t k = 0; k < texts.size(); ++k) {
        const int at = 3 * static_cast<int>(k);
        body += str(texts[k]) + "storsd I:0 I:1 I:10 I:0 I:0 I:0 I:0 I:0\n" + s_value + fn(in_VAL, 1) + to_cell(at) +
                s_value + s_value + fn(in_POS, 2) + to_cell(at + 1) + s_value + fn(in_LEN, 1) + to_cell(at + 2);
    }
    body += "exit\n";
    const std::string text = program(body, 0, 10);
    auto run_with = [&](bool general_only) {
        const PathRun r = run_on_path(text, general_only);
        EXPECT_EQ(r.outcome.abort, "") << (general_only ? "general path" : "fast paths");
        EXPECT_EQ(r.outcome.status, 0) << r.outcome.err;
        return r.common;
    };
    const std::string fast = run_with(false), general = run_with(true);
    EXPECT_EQ(fast, general) << "COMMON, byte for byte";
    const char *expected[] = {"7", "1", "1", "-42", "1", "3", "1234567890", "1", "10"};
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        dec_t v;
        std::memcpy(&v, fast.data() + i * sizeof(dec_t), sizeof v);
        EXPECT_TRUE(same(v, expected[i])) << "cell " << i << ": " << text_of(v);
    }
}

// Counts taken straight from the text (LEN, FLEN and LLEN of a variable loaded right before the
// call and of a concatenation), array elements loaded and stored with one subscript, and GOSUB and
// RETURN on decoded steps, against the general path: the same COMMON byte for byte, and the same
// stop for subscripts out of bounds.
TEST_F(ExecTest, CountsElementsAndGosubsAgreeWithTheGeneralPath)
{
    // S$ (160 characters) at 0; numeric variables: J 0, T 1, A(1..100) from 2.
    const std::string s_store = "storsd I:0 I:1 I:160 I:0 I:0 I:0 I:0 I:0\n";
    const std::string s_value = "loadsvd I:0 I:1 I:160 I:0 I:0 I:0 I:0 I:0\n";
    const std::string element = "I:2 I:1 I:100 I:0 I:1\n";
    const std::vector<std::string> texts = {"", "abc", "  ab  ", "   ", std::string(150, 'x') + "  "};
    int at = 0;
    std::string body = ".common I:80 I:0\n";
    for (const std::string &t : texts) {
        body += str(t) + s_store;
        for (int code : {in_LEN, in_FLEN, in_LLEN}) body += s_value + fn(code, 1) + to_cell(at++);
        // A count in arithmetic and stored into a variable; a count of a concatenation.
        body += s_value + fn(in_LEN, 1) + num("1") + "add\n" + store_var(1) + load_var(1) + to_cell(at++);
        body += s_value + fn(in_LEN, 1) + num("3") + "mul\n" + to_cell(at++);
        body += s_value + str("xy") + "scat I:2\n" + fn(in_LEN, 1) + to_cell(at++);
    }
    // FOR J = 1 TO 100: A(J) = J * 1.25: NEXT, then T = 0: FOR J = 1 TO 100: GOSUB add: NEXT, where
    // add: T = T + A(J): GOSUB twice: RETURN and twice: T = T + 0.5: RETURN.
    const auto for_j = [](const std::string &tag, const std::string &body_of) {
        return num("1") + store_var(0) + tag + ":\n" + load_var(0) + num("100") + num("1") + "cmpidx l:" + tag + "x\n" +
               body_of + load_var(0) + num("1") + "add\n" + store_var(0) + "jump l:" + tag + "\n" + tag + "x:\n";
    };
    body += for_j("fill", load_var(0) + num("1.25") + "mul\n" + load_var(0) + "storrd " + element);
    body += num("0") + store_var(1) + for_j("sum", "gosub l:add\n") + load_var(1) + to_cell(at++);
    // Subscripts of every form: 100 (kept as 1 x 100^1), 2.0, 2.5; a text stored into an element;
    // an element stored in binary read by reference.
    for (const char *k : {"100", "2.0", "2.5"}) body += num(k) + "loadrvd " + element + to_cell(at++);
    body += str("7.5") + num("3") + "storrd " + element + num("3") + "loadrvd " + element + to_cell(at++);
    body += num("4") + "loadrad " + element + fn(in_ABS, 1) + to_cell(at++);
    body += "exit\nadd:\n" + load_var(1) + load_var(0) + "loadrvd " + element + "add\n" + store_var(1) +
            "gosub l:half\nreturn\nhalf:\n" + load_var(1) + num("0.5") + "add\n" + store_var(1) + "return\n";
    ASSERT_LE(at, 80);
    const std::string fast = common_on_both_paths(program(body, 102, 160));
    const auto cell_of = [](const std::string &common, int i) {
        dec_t v;
        std::memcpy(&v, common.data() + static_cast<std::size_t>(i) * sizeof v, sizeof v);
        return v;
    };
    // Per text: LEN, FLEN, LLEN, LEN + 1, LEN * 3, LEN of the text and "xy".
    const char *expected[] = {"0",   "0",   "0", "1",   "0",   "2",   "3", "3",   "0",     "4",    "9",   "5",
                              "6",   "4",   "2", "7",   "18",  "8",   "3", "0",   "0",     "4",    "9",   "5",
                              "152", "150", "0", "153", "456", "154", "6362.5", "125", "2.5", "2.5", "7.5", "5"};
    ASSERT_EQ(static_cast<int>(std::size(expected)), at);
    for (int i = 0; i < at; ++i)
        EXPECT_TRUE(same(cell_of(fast, i), expected[i])) << "cell " << i << ": " << text_of(cell_of(fast, i));
    // Subscripts out of bounds, and a text as subscript, stop the same way on both paths.
    const std::pair<std::string, std::string> stops[] = {
        {num("0"), "Subscript (val 0) out of bounds"},
        {num("101"), "Subscript (val 101) out of bounds"},
        {num("-1"), "Subscript (val -1) out of bounds"},
        {str("7"), "Numeric value expected on the value stack"},
    };
    for (const auto &[subscript, message] : stops) {
        const std::string bad = program(".common I:1 I:0\n" + subscript + "loadrvd " + element + to_cell(0) + "exit\n", 102);
        const PathRun f = run_on_path(bad, false), g = run_on_path(bad, true);
        EXPECT_EQ(f.outcome.abort, g.outcome.abort) << subscript;
        EXPECT_EQ(f.outcome.err, g.outcome.err) << subscript;
        EXPECT_EQ(f.outcome.abort.rfind(message, 0), 0u) << subscript << ": " << f.outcome.abort;
    }
}

// Each op decodes to the step its table names: the one-to-one arms the table writes and the
// decoder's own arms, which look at the operands (a plain variable, an element, COMMON, a constant
// with or without a binary form, a text taken by the call that follows, a text op).
TEST_F(ExecTest, OpsDecodeToTheStepsTheTableNames)
{
    const std::string body = ".common I:4 I:0\n" + num("0") + store_var(0) + "top:\nsrcline I:1 I:0\n" + load_var(0) +
                             num("10") + num("1") + "cmpidx l:done\n" + load_var(0) + num("1.5") + "mul\n" + load_var(1) +
                             "sub\nadd\n" + store_var(1) + num("3") + "loadrvd I:2 I:1 I:2 I:0 I:1\n" + from_cell(0) +
                             "eq\njumpz l:top\n" + str("ab") + "storsd I:0 I:1 I:8 I:0 I:0 I:0 I:0 I:0\n" +
                             "loadsvd I:0 I:1 I:8 I:0 I:0 I:0 I:0 I:0\n" + fn(in_LEN, 1) + "gosub l:sub\njump l:top\n" +
                             "sub:\n" + str("x") + str("y") + "scat I:2\nreturn\ndone:\nexit\n";
    Interp_t *c = nullptr;
    ASSERT_EQ(load_text(program(body, 4, 8), &c), "");
    push_interpreter(c, nullptr, "");
    const std::vector<const char *> names = exec::decoded_step_names(0);
    pop_interpreter();
    const std::vector<std::string> expected = {
        "GENERAL",                                                    // .proc
        "GENERAL",                                                    // .common
        "LOAD_CONSTANT", "STORE_NUMBER",                              // a zero has no binary form
        "SOURCE_LINE", "LOAD_NUMBER", "LOAD_BINARY", "LOAD_BINARY", "FOR_TEST",
        "LOAD_NUMBER", "LOAD_BINARY", "MUL", "LOAD_NUMBER", "SUB", "ADD", "STORE_NUMBER",
        "LOAD_BINARY", "LOAD_ELEMENT", "GENERAL",                     // COMMON's cell stays general
        "EQ", "JUMP_ZERO",
        "LOAD_TEXT_CONSTANT", "STORE_TEXT", "LOAD_TEXT", "CALL", "GOSUB", "JUMP",
        "LOAD_TEXT_CONSTANT", "LOAD_TEXT_CONSTANT", "TEXT_OP", "RETURN",
        "GENERAL",                                                    // exit
    };
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.end()), expected);
}

TEST_F(ExecTest, CallsStraightToTheHandlerKeepTheDispatchersChecks)
{
    static long answer;  // what the handler put into LEN's row gives
    const auto len_row = [](int, int, Stack *result) { NumericCvLONG(answer, &result->num); };
    const std::string len_of_abc = str("abc") + fn(in_LEN, 1);
    struct {
        std::string fragment;
        int put_in;         // 0: LEN's own handler, 1: len_row giving 42, 2: no handler
        const char *value;  // the number stored, or nullptr when the run stops with message
        std::string message;
    } cases[] = {
        {len_of_abc, 0, "3", ""},
        {len_of_abc, 1, "42", ""},
        {len_of_abc, 0, "3", ""},  // the owner's handler put back
        {len_of_abc, 2, nullptr, "LEN not available"},
        {fn(in_LEN, 0), 0, nullptr, "LEN: wrong number of arguments (0)"},
        {str("a") + str("b") + fn(in_LEN, 2), 0, nullptr, "LEN: wrong number of arguments (2)"},
        {str("a") + str("b") + fn(in_LEN, 2), 1, nullptr, "LEN: wrong number of arguments (2)"},
        {str("abc") + sfn(in_LEN, 1), 0, nullptr, "Bad string intrinsic code - " + std::to_string(in_LEN)},
        {str("abc") + fn(in_STR, 1), 0, nullptr, "Bad real function intrinsic code - " + std::to_string(in_STR)},
        {num("1") + fn(in_IGINPUT_NEW, 1), 0, nullptr, "IGINPUT_NEW: not in windows mode"},
        {str("abc") + fn(in_LEN, 1) + fn(in_ABS, 1), 0, "3", ""},  // the test's ABS, put in the same way
    };
    for (const auto &c : cases) {
        for (int path_number : {0, 1, 2}) {
            const bool general_only = path_number == 2, switch_form = path_number == 1;
            answer = 42;
            NumericIntrinsic owner = c.put_in == 1   ? register_numeric_intrinsic(in_LEN, len_row)
                                     : c.put_in == 2 ? register_numeric_intrinsic(in_LEN, nullptr)
                                                     : nullptr;
            select_path(general_only, switch_form);
            Outcome o = run(computes(c.fragment));
            select_path(false, false);
            if (c.put_in) register_numeric_intrinsic(in_LEN, owner);
            const char *path = general_only ? "general path" : switch_form ? "fast paths, switch form" : "fast paths";
            if (c.value) {
                EXPECT_EQ(o.abort, "") << c.fragment << path;
                EXPECT_TRUE(same(cell(0), c.value)) << c.fragment << path << ": " << text_of(cell(0));
            } else {
                EXPECT_EQ(o.abort, c.message) << c.fragment << path;
            }
            release_common_block();
            delete_all_applications();
        }
    }
}

// A handler that reads only its texts is called while the loop holds variables in binary: what it
// leaves and what an error it raises lets the trap see must be what the general path gives. The
// test's ABS and ASC are marked as reading only texts here: ABS, given a reference to a numeric
// variable, must still find the variable written out; ASC raises a trappable error, and the trap
// must see the variables the loop held.
TEST_F(ExecTest, CallsOfHandlersThatReadOnlyTextsKeepTheVariablesTheLoopHolds)
{
    const IntrinsicCalls owner = intrinsic_calls();
    static bool text_only[IN_ROWS];
    std::copy_n(owner.reads_text_only, IN_ROWS, text_only);
    text_only[in_ABS] = text_only[in_ASC] = true;
    IntrinsicCalls marked = owner;
    marked.reads_text_only = text_only;
    // x = 0, y = 0: FOR k = 1 TO 6: x = x + 2.5 (on the stack above "abc"): y = y + LEN("abc"):
    // cell 2 = ABS(k by reference, counted up after the reference was pushed): IF k = 5 THEN
    // x = x + 1: z = ASC("x"): NEXT. The trap reads k, x and y by reference (the general path's
    // way, which reads their cells) into cells 0, 1 and 3.
    const auto by_reference = [](int k) {
        return "loadrad I:" + std::to_string(k) + " I:1 I:0 I:0 I:0\n" + num("0") + "add\n";
    };
    const std::string body =
        ".common I:4 I:0\n" + num("0") + store_var(1) + num("0") + store_var(2) + "tsterr l:go\n" + by_reference(0) +
        to_cell(0) + by_reference(1) + to_cell(1) + by_reference(2) + to_cell(3) + "exit\ngo:\n" + num("1") + store_var(0) +
        "top:\n" + load_var(0) + num("6") + num("1") + "cmpidx l:done\n" + str("abc") + load_var(1) + num("2.5") +
        "add\n" + store_var(1) + fn(in_LEN, 1) + load_var(2) + "add\n" + store_var(2) + "loadrad I:0 I:1 I:0 I:0 I:0\n" + load_var(0) +
        num("1") + "add\n" + store_var(0) + fn(in_ABS, 1) + to_cell(2) + load_var(0) +
        num("5") + "eq\njumpz l:skip\n" + str("x") + load_var(1) + num("1") + "add\n" + store_var(1) + fn(in_ASC, 1) +
        store_var(3) + "skip:\njump l:top\ndone:\nexit\n";
    const std::string text = program(body, 4, 0);
    auto run_with = [&](bool general_only) {
        register_intrinsic_calls(marked);
        lumba_test::trapped_errors().clear();
        const PathRun r = run_on_path(text, general_only);
        register_intrinsic_calls(owner);
        const char *path = general_only ? "general path" : "fast paths";
        EXPECT_EQ(r.outcome.abort, "") << path;
        EXPECT_EQ(r.outcome.status, 0) << path;
        // One trapped error a run; the fast paths run in both forms of the loop.
        EXPECT_EQ(lumba_test::trapped_errors().size(), general_only ? 1u : 2u) << path;
        return r.common;
    };
    const std::string fast = run_with(false), general = run_with(true);
    EXPECT_EQ(fast, general) << "COMMON, byte for byte";
    // The fourth turn: k already 5, x = 4 * 2.5 + 1, y = 4 * 3; ABS read k = 5 by reference.
    const char *expected[] = {"5", "11", "5", "12"};
    for (int i = 0; i < 4; ++i) {
        dec_t v;
        std::memcpy(&v, fast.data() + static_cast<std::size_t>(i) * sizeof(dec_t), sizeof v);
        EXPECT_TRUE(same(v, expected[i])) << "cell " << i << ": " << text_of(v);
    }
}

// Text ops (constants, concatenation, a range, string loads and stores, a comparison of texts)
// run while the loop holds variables and stack entries in binary: FOR k = 1 TO 6: x = x + 2.5:
// push y and k * 0.5: B$ = A$ + "xyz": C$ = MID$(B$, 3, 4 - k): IF C$ = "cde" THEN n = n + 1:
// y = y + k * 0.5: NEXT. The loop's last turn stores them into COMMON; at k = 5 the range is -1,
// which stops the run from within the text op: the report must find k, x, y and n in their cells.
TEST_F(ExecTest, TextOpsKeepTheVariablesTheLoopHolds)
{
    const std::string a = "I:0 I:1 I:16 I:0 I:0 I:0 I:0 I:0\n", b = "I:16 I:1 I:32 I:0 I:0 I:0 I:0 I:0\n",
                      c = "I:48 I:1 I:8 I:0 I:0 I:0 I:0 I:0\n";
    std::string copies;  // k, x, y and n into COMMON
    for (int k = 0; k < 4; ++k) copies += load_var(k) + to_cell(k);
    const std::string body =
        ".common I:4 I:0\n" + num("0") + store_var(1) + num("0") + store_var(2) + num("0") + store_var(3) +
        str("abcdefghijklmnop") + "storsd " + a + num("1") + store_var(0) + "top:\n" + load_var(0) + num("6") +
        num("1") + "cmpidx l:done\n" + load_var(1) + num("2.5") +
        "add\n" + store_var(1) + load_var(2) + load_var(0) + num("0.5") + "mul\n" + "loadsvd " + a + str("xyz") +
        "scat I:2\nstorsd " + b + num("4") + load_var(0) + "sub\nsrnge\n" + num("3") +
        "loadsvd I:16 I:1 I:32 I:0 I:1 I:0 I:0 I:0\nstorsd " + c + "loadsvd " + c + str("cde") + "eq\njumpz l:skip\n" +
        load_var(3) + num("1") + "add\n" + store_var(3) + "skip:\nadd\n" + store_var(2) +
copies + load_var(0) + num("1") + "add\n" + store_var(0) + "jump l:top\ndone:\nexit\n";
    const std::string text = program(body, 4, 56);
    // The run's stop, the variables' cells as the report found them and COMMON.
    auto run_with = [&](bool general_only) {
        const AreasRun r = run_reading_areas(text, general_only, 4, 0);
        EXPECT_EQ(r.outcome.abort, "Range reference of string must be >= 0 but it is -1 now")
            << (general_only ? "general path" : "fast paths");
        return r.areas;
    };
    const std::string fast = run_with(false), general = run_with(true);
    EXPECT_EQ(fast, general) << "the variables and COMMON, byte for byte";
    // Stopped at k = 5: x = 5 * 2.5, y = 0.5 * (1 + 2 + 3 + 4), C$ was "cde" at k = 1 only; COMMON
    // holds the fourth turn's.
    const char *expected[] = {"5", "12.5", "5", "1", "4", "10", "5", "1"};
    for (int i = 0; i < 8; ++i) {
        dec_t v;
        std::memcpy(&v, fast.data() + static_cast<std::size_t>(i) * sizeof(dec_t), sizeof v);
        EXPECT_TRUE(same(v, expected[i])) << "cell " << i << ": " << text_of(v);
    }
}

// Text constants (shared and copied), stores into whole string variables (a shorter text, one
// that fills the field, a longer one, a number, one under a pending range) and comparisons of
// texts, against the general path: the same variables' bytes and COMMON.
TEST_F(ExecTest, TextsStoredAndComparedAgreeWithTheGeneralPath)
{
    // Six fields of 8 characters.
    const auto field = [](int k) { return "I:" + std::to_string(8 * k) + " I:1 I:8 I:0 I:0 I:0 I:0 I:0\n"; };
    std::string body = ".common I:12 I:0\n";
    for (int k = 0; k < 6; ++k) body += str("XXXXXXXX") + "storsd " + field(k);
    body += str("abc") + "storsd " + field(0);            // abc, a terminator, then the old bytes
    body += str("0123456789") + "storsd " + field(1);     // cut at the field's end, no terminator
    body += num("12.5") + "storsd " + field(2);           // a number's text (the general path)
    body += num("2") + "srnge\n" + str("zz") + "storsd " + field(3);  // under a range
    body += str("q", false) + "storsd " + field(4);       // a copied constant
    body += "loadsvd " + field(0) + "storsd " + field(5);  // one variable into another
    const struct {
        std::string left, right, op;
    } comparisons[] = {
        {"abc", "abc", "eq"}, {"abc", "abd", "lt"}, {"ab", "abc", "lt"}, {"abc ", "abc", "gt"},
        {"\\xE9", "a", "gt"}, {"", "", "eq"},       {"abc", "abd", "ge"}, {"b", "abc", "le"},
        {"abc", "ABC", "ne"}, {"abc", "abc", "ne"},
    };
    int at = 0;
    for (const auto &c : comparisons) body += str(c.left) + str(c.right, false) + c.op + "\n" + to_cell(at++);
    // A variable's text against a constant.
    body += "loadsvd " + field(0) + str("abc") + "eq\n" + to_cell(at++) + "exit\n";
    const std::string text = program(body, 0, 48);
    auto run_with = [&](bool general_only) {
        const AreasRun r = run_reading_areas(text, general_only, 0, 48);
        EXPECT_EQ(r.outcome.abort, "") << (general_only ? "general path" : "fast paths");
        return r.areas;
    };
    const std::string fast = run_with(false), general = run_with(true);
    EXPECT_EQ(fast.substr(0, 48), general.substr(0, 48)) << "the variables' bytes";
    EXPECT_EQ(fast, general) << "the variables and COMMON, byte for byte";
    EXPECT_EQ(fast.substr(0, 48), std::string("abc\0XXXX01234567", 16) + std::string("12.5\0XXX", 8) +
                                      "zzXXXXXX" + std::string("q\0XXXXXX", 8) + std::string("abc\0XXXX", 8));
    const char *expected[] = {"1", "1", "1", "1", "1", "1", "0", "0", "1", "0", "1"};
    ASSERT_EQ(static_cast<int>(std::size(expected)), at);
    for (int i = 0; i < at; ++i) {
        dec_t v;
        std::memcpy(&v, fast.data() + 48 + static_cast<std::size_t>(i) * sizeof(dec_t), sizeof v);
        EXPECT_TRUE(same(v, expected[i])) << "cell " << i << ": " << text_of(v);
    }
    // A text against a number stops the same way on both paths.
    const std::string mixed = program(str("a") + num("1") + "eq\nexit\n");
    EXPECT_EQ(run_on_path(mixed, false).outcome.abort, "Cannot compare a non-number with a number");
    EXPECT_EQ(run_on_path(mixed, true).outcome.abort, "Cannot compare a non-number with a number");
}

TEST_F(ExecTest, StackLimitAndUnknownOps)
{
    Outcome o = run(program("l:\n" + num("1") + "jump l:l\n"));
    EXPECT_EQ(o.abort, "Stack overflow\n");
    // Mailed after each op run at 254 entries (the load, then the jump).
    ASSERT_EQ(lumba_test::mailed().size(), 2u);
    EXPECT_EQ(lumba_test::mailed()[0], "Almost hit stack size limit, 254 of 256");
    delete_all_applications();

    EXPECT_EQ(run(program("add\n")).abort, "Stack underflow\n");
    delete_all_applications();

    // Codes the loader never leaves in code, and codes beyond the set.
    for (unsigned op : {0u, 2u, 3u, 10u, 27u, 34u, 64u, 73u, 75u, 0xFFFFFFFFu}) {
        Interp_t *c = nullptr;
        ASSERT_EQ(load_text(program("reseterr\nexit\n"), &c), "");
        c->code[0][8].param = op;  // the reseterr word after the routine entry
        EXPECT_EQ(execute(c).abort, "execute op = " + std::to_string(static_cast<int>(op)) + "\n");
        delete_all_applications();
    }
}

// Op bytes beyond the set load like any other record, operands and all; the program stops only
// when it reaches one.
TEST_F(ExecTest, OpBytesBeyondTheSetStopWhenReached)
{
    for (unsigned op : {75u, 200u, 255u}) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", op);
        // zasm counts only the records it knows: the header gets room for this one's two words,
        // and the jump over it its target by index (entry 8, .common 3, jump 2, the record 2).
        const std::string header = ".header * * 64 * * * * * * * * * * * * *\n";
        const std::string record = std::string(".bytes ") + byte + " 0x63 0x05 0x0A\n";
        // Skipped by a jump: the program ends normally.
        Outcome o = run(header + program(".common I:1 I:0\njump l:#15\n" + record + num("4") + to_cell(0) + "exit\n"));
        EXPECT_EQ(o.abort, "") << op;
        EXPECT_TRUE(same(cell(0), "4")) << op;
        release_common_block();
        delete_all_applications();
        // Reached: the op word holds the byte and the operand follows it.
        Interp_t *c = nullptr;
        ASSERT_EQ(load_text(header + program(record + "exit\n"), &c), "") << op;
        EXPECT_EQ(c->code[0][8].param, op);
        EXPECT_EQ(c->code[0][9].param, 5u);
        EXPECT_EQ(execute(c).abort, "execute op = " + std::to_string(op) + "\n");
        delete_all_applications();
    }
}

TEST_F(ExecTest, NumericSubscripts)
{
    // A(3,4) at local 0 (12 cells), B(5) at local 12.
    const std::string symbols = "symtab\n__ROUTINE__ main 2\nA 3 4 0x12 0 1 -\nB 5 0 0x12 12 2 -\n__END_ROUTINE__\n.end\n";
    auto store_a = [&](const char *i, const char *j) {
        return program(num("42") + num(i) + num(j) + "storrd I:0 I:1 I:3 I:4 I:2\nexit\n", 17, 0, symbols);
    };
    struct {
        const char *i, *j;
        int cell;
        const char *message;
    } cases[] = {
        {"1", "1", 0, nullptr},
        {"3", "4", 11, nullptr},
        {"2", "3", 7, nullptr},
        {"4", "1", 0, "Subscript 1 (val 4) out of bounds on Var: A"},
        {"0", "1", 0, "Subscript 1 (val 0) out of bounds on Var: A"},
        {"1", "5", 0, "Subscript 2 (val 5) out of bounds on Var: A"},
        {"1", "-1", 0, "Subscript 2 (val -1) out of bounds on Var: A"},
        {"1", "4294967297", 0, "Subscript 2 (val 2147483647) out of bounds on Var: A"},
    };
    for (const auto &c : cases) {
        Outcome o = run(store_a(c.i, c.j));
        if (c.message) {
            EXPECT_EQ(o.abort, c.message) << c.i << "," << c.j;
        } else {
            ASSERT_EQ(o.abort, "") << c.i << "," << c.j;
            const dec_t *area = context->routines[0].local_numerics;
            for (int k = 0; k < 12; ++k) EXPECT_EQ(same(area[k], "42"), k == c.cell) << c.i << "," << c.j << " cell " << k;
        }
        delete_all_applications();
    }
    Outcome o = run(program(num("6") + "loadrvd I:12 I:1 I:5 I:0 I:1\nexit\n", 17, 0, symbols));
    EXPECT_EQ(o.abort, "Subscript (val 6) out of bounds on Var: B");
    delete_all_applications();
    // A reference to a whole array carries its dimensions.
    o = run(program("loadrad I:0 I:1 I:3 I:4 I:0\nexitv\n", 17, 0, symbols));
    EXPECT_EQ(o.abort, "");
    EXPECT_EQ(fn_value.s_t, real);  // exitv keeps the value
}
