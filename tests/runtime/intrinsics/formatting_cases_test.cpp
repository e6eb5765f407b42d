// The formatting intrinsics called by small programs run in-process: each reaches its handler
// through its dispatcher with the arguments a compiled program gives, results are read from the
// program's variables, and refusals end the run with their texts. IDATEC$ is checked against
// date(1) at the same second.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex.h>

#include "command_output.h"
#include "exec_fixture.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "program_text.h"

namespace {

using lumba_test::fn;
using lumba_test::num;
using lumba_test::sfn;
using lumba_test::str;
using lumba_test::to_cell;

// Main's character area: S$ (300 bytes) at 0, then A$ and B$ (50 bytes each).
const std::string symbols = "symtab\n__ROUTINE__ main 3\nS$ 300 0 0x14 0 1 -\nA$ 50 0 0x14 300 2 -\n"
                            "B$ 50 0 0x14 350 3 -\n__END_ROUTINE__\n.end\n";
std::string store_s() { return "storsd I:0 I:1 I:300 I:0 I:0 I:0 I:0 I:0\n"; }
std::string ref(int offset) { return "loadsad I:" + std::to_string(offset) + " I:1 I:50 I:0 I:0 I:0 I:0 I:0\n"; }
std::string store(int offset) { return "storsd I:" + std::to_string(offset) + " I:1 I:50 I:0 I:0 I:0 I:0 I:0\n"; }
constexpr int A = 300, B = 350;

class Formatting : public ExecTest {
protected:
    // The text the fragment leaves, stored into S$; or the stop it made.
    std::string text(const std::string &fragment)
    {
        Outcome o = run(prog(fragment + store_s()));
        std::string r = o.abort.empty() ? variable(0, 300) : "stop: " + o.abort;
        delete_all_applications();
        return r;
    }

    static std::string prog(const std::string &body)
    {
        return program(".common I:4 I:0\n" + body + "exit\n", 4, 400, symbols);
    }

    std::string variable(int offset, int size) const
    {
        const char *c = context->routines[0].local_chars + offset;
        return std::string(c, strnlen(c, static_cast<std::size_t>(size)));
    }
    std::string value(int i) const { return Convert_BCD(&cell(i)); }
};

} // namespace

TEST_F(Formatting, TextResults)
{
    struct {
        std::string fragment, result;
    } cases[] = {
        {str("a/b<c") + sfn(in_IFNESCSTR, 1), "a&#47;b&lt;c"},
        {str("a/b<c") + sfn(in_IFNESC_XML_STR, 1), "a/b&lt;c"},
        {str("x") + str("it's \\x22&\\x22") + sfn(in_IFNESC_XML_STR, 2), "it&apos;s &quot;&amp;&quot;"},  // the last
        {str("aaa") + str("aa") + str("x") + sfn(in_ISTR_REPLACE, 3), "xa"},
        {str("abc   ") + str("z") + str("x") + sfn(in_ISTR_REPLACE, 3), "abc"},  // nothing replaced: cut
        {str("abc   ") + str("") + str("x") + sfn(in_ISTR_REPLACE, 3), "abc"},   // nothing to look for
        {str("abc") + str("b") + sfn(in_ISTR_REPLACE, 2), "stop: Invalid number of parameters"},
        {num("3") + str("2026-12-07") + sfn(in_IDATEP, 2), "07 Dec 2026"},
        {num("0") + str("2026/12/07") + sfn(in_IDATEP, 2), "07Dec26"},
        {num("3") + str("2026-12-0") + sfn(in_IDATEP, 2), "********"},
        {num("3") + str("2026-14-07") + sfn(in_IDATEP, 2), "********"},
        {num("3") + str("2026-12--1") + sfn(in_IDATEP, 2), "********"},
        {num("3") + str("2026-02-31") + sfn(in_IDATEP, 2), "********"},
        {num("7") + sfn(in_IDATEC, 1), ""},
        {num("1234567.891") + num("14") + num("2") + sfn(in_CPMED, 3), " 1,234,567.89 "},
        {num("-5") + num("6") + num("0") + sfn(in_CPMED, 3), "    5-"},
        {num("12345") + num("3") + num("0") + sfn(in_CPMED, 3), "***"},
        {num("0") + num("6") + num("2") + str("nil") + sfn(in_CPMED, 4), "   nil"},
        {num("0") + num("6") + num("2") + sfn(in_CPMED, 3), " 0.00 "},
        {num("0") + num("6") + num("2") + sfn(in_CPMEDZ, 3), "   -- "},
        {num("-0.001") + num("6") + num("2") + sfn(in_CPMED, 3), " 0.00 "},
        {num("0") + num("2") + num("2") + sfn(in_CPMEDZ, 3), "**"},
        {num("0") + num("6") + num("2") + str("nil") + sfn(in_CPMEDZ, 4), "   -- "},
        {num("1") + num("6") + sfn(in_CPMEDZ, 2), "stop: CPMEDZ$: wrong number of arguments (2)"},
        {num("1") + num("2049") + num("2") + sfn(in_CPMED, 3), "stop: CPMED$: width 2049 is outside 0..2048"},
        {num("1") + num("20") + num("-2") + sfn(in_CPMEDZ, 3), "stop: CPMEDZ$: number of decimals -2 is negative"},
        {num("1234.5") + str("ZZZ9.V99") + sfn(in_EDIT, 2), "1234.50"},
        {num("-5") + str("-ZZ9") + sfn(in_EDIT, 2), "  -5"},
        {num("1.5") + str("ZZ9.Vzz") + sfn(in_EDIT, 2), "  1.5"},
        {num("5") + str("ZzZ") + sfn(in_EDIT, 2), "stop: EDIT$: z designator mis-placed"},
        {num("5") + str("9V9V") + sfn(in_EDIT, 2), "stop: EDIT$: Bad format string"},
        {num("5") + str(std::string(4096, '9')) + sfn(in_EDIT, 2), "stop: EDIT$: picture of 4096 bytes is longer than 4095"},
        {str("ZZ9") + str("ZZ9") + sfn(in_EDIT, 2), "stop: EDIT$: numeric argument expected"},
        {str("a b/\\xE9~") + sfn(in_IURL_ENCODE, 1), "a%20b%2F%E9~"},
        {str("") + sfn(in_IURL_ENCODE, 1), "stop: url_encode: Empty string passed in"},
    };
    for (const auto &c : cases) EXPECT_EQ(text(c.fragment), c.result) << c.fragment;
}

TEST_F(Formatting, PatternMatchStoresTheMatchAndItsGroups)
{
    // A$ and B$ hold old texts; a match stores the whole match and the first group.
    const std::string setup = str("old a") + store(A) + str("old b") + store(B);
    Outcome o = run(prog(setup + str("^([a-z]+)-([0-9]+)$") + str("abc-42") + num("0") + ref(A) + ref(B) +
                         fn(in_PATTERN_MATCH, 5) + to_cell(0)));
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(value(0), "1");
    EXPECT_EQ(variable(A, 50), "abc-42");
    EXPECT_EQ(variable(B, 50), "abc");
    delete_all_applications();

    // No match: 0, the variables unchanged.
    o = run(prog(setup + str("^[0-9]+$") + str("abc") + num("0") + ref(A) + ref(B) + fn(in_PATTERN_MATCH, 5) + to_cell(0)));
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(value(0), "0");
    EXPECT_EQ(variable(A, 50), "old a");
    EXPECT_EQ(variable(B, 50), "old b");
    delete_all_applications();

    // The case option; a group that takes no part empties its variable; the text matched may be
    // the variable that takes the match.
    o = run(prog(setup + str("x") + store(A) + str("(X)(y)?") + ref(A) + num("1") + ref(A) + ref(B) +
                 fn(in_PATTERN_MATCH, 5) + to_cell(0) + str("Z") + str("z") + fn(in_PATTERN_MATCH, 2) + to_cell(1) +
                 str("Z") + str("z") + num("2") + fn(in_PATTERN_MATCH, 3) + to_cell(2)));
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(value(0), "1");
    EXPECT_EQ(variable(A, 50), "x");
    EXPECT_EQ(variable(B, 50), "x");  // group 1; group 2 has no variable
    EXPECT_EQ(value(1), "0");
    EXPECT_EQ(value(2), "0");  // only bit 0 asks for case-blind matching
    delete_all_applications();
}

TEST_F(Formatting, PatternMatchRefusals)
{
    std::string thirty_one;
    for (int i = 0; i < 31; ++i) thirty_one += ref(A);
    struct {
        std::string fragment, stop;
    } cases[] = {
        {str("a") + str("a") + num("0") + thirty_one + fn(in_PATTERN_MATCH, 34),
         "PATTERN.MATCH: too many substring match variables"},
        {str("[a") + str("a") + fn(in_PATTERN_MATCH, 2), "PATTERN.MATCH: rexcomp() returns " + std::to_string(REG_EBRACK)},
        {str("(a)") + str("a") + num("0") + str("constant") + fn(in_PATTERN_MATCH, 4),
         "PATTERN.MATCH: argument must be a string variable"},
        {str("a") + fn(in_PATTERN_MATCH, 1), "PATTERN.MATCH: wrong number of arguments (1)"},
    };
    for (const auto &c : cases) {
        Outcome o = run(prog(c.fragment + to_cell(0)));
        EXPECT_EQ(o.abort, c.stop) << c.fragment;
        delete_all_applications();
    }
    // Thirty variables are allowed.
    std::string thirty = ref(B);
    for (int i = 1; i < 30; ++i) thirty += ref(A);
    Outcome o = run(prog(str("b") + str("abc") + num("0") + thirty + fn(in_PATTERN_MATCH, 33) + to_cell(0)));
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(value(0), "1");
    EXPECT_EQ(variable(A, 50), "");  // the groups the pattern does not have are empty
    EXPECT_EQ(variable(B, 50), "b");
}

TEST_F(Formatting, CurrentDateIsLocalTimeAsDateShowsIt)
{
    // A zone half an hour off a whole hour: a clock read in UTC would show other minutes.
    const char *saved = std::getenv("TZ");
    const std::string saved_tz = saved ? saved : "";
    setenv("TZ", "Asia/Kolkata", 1);
    tzset();
    std::string shown, expected;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::time_t before = std::time(nullptr);
        shown = text(num("0") + sfn(in_IDATEC, 1) + str("|") + num("1") + sfn(in_IDATEC, 1) + str("|") + num("2") +
                     sfn(in_IDATEC, 1) + str("|") + num("3") + sfn(in_IDATEC, 1) + "scat I:7\n");
        if (std::time(nullptr) != before) continue;  // the second changed during the run: again
        const std::string at = "@" + std::to_string(before);
        expected = lumba_test::command_output(
            {"date", "-d", at, "+%Y-%m-%d|%a  %d %b %y  %H:%M|%H:%M:%S|%Y-%m-%d %H:%M:%S"},
            {{"TZ", "Asia/Kolkata"}, {"LC_ALL", "C"}});
        break;
    }
    if (saved)
        setenv("TZ", saved_tz.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    ASSERT_FALSE(expected.empty()) << "no run within one second";
    EXPECT_EQ(shown + "\n", expected);
}
