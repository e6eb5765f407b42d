// Text, date and number formatting on its own: escapes, search and replace, date layouts, amount
// columns and pictures against tables of cases, amount columns and URL encoding against Python's
// decimal and urllib (tables written at build time), and regular expressions against GNU sed.
#include <gtest/gtest.h>

#include <regex.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "command_output.h"
#include "formatting.h"
#include "numerics.h"
#include "test_host.h"
#include "text_escape.h"
#include "tsv.h"

namespace {

using lumba_test::abort_text;

dec_t dec(const std::string &text)
{
    dec_t d{};
    EXPECT_EQ(NumericCvASC(text.data(), static_cast<int>(text.size()), &d), 0) << text;
    return d;
}

// The column, or the stop it made.
std::string amount(const std::string &value, int width, int decimals, ZeroForm zero = ZeroForm::number,
                   std::string_view zero_text = {}, const char *intrinsic = "CPMED$")
{
    char area[CPMED_MAX_WIDTH];
    std::string column;
    std::string stop = abort_text([&] {
        const dec_t d = dec(value);
        column.assign(area, cpmed_column(&d, width, decimals, zero, zero_text, std::span<char, CPMED_MAX_WIDTH>(area),
                                         intrinsic));
    });
    return stop.empty() ? column : "stop: " + stop;
}

std::string edited(const std::string &value, std::string_view picture)
{
    char area[EDIT_AREA];
    std::string text;
    std::string stop = abort_text([&] {
        const dec_t d = dec(value);
        text.assign(area, zedit(&d, picture, std::span<char, EDIT_AREA>(area)));
    });
    return stop.empty() ? text : "stop: " + stop;
}

} // namespace

TEST(Escapes, MarkupAndXml)
{
    using namespace std::string_literals;
    struct {
        std::string in, markup, xml;
    } cases[] = {
        {"a/b<c", "a&#47;b&lt;c", "a/b&lt;c"},
        {"", "", ""},
        {"plain text", "plain text", "plain text"},
        {"<>&/\"'", "&lt;&gt;&amp;&#47;\"'", "&lt;&gt;&amp;/&quot;&apos;"},
        {"&&", "&amp;&amp;", "&amp;&amp;"},
        {"a\0<b"s, "a\0&lt;b"s, "a\0&lt;b"s},  // every byte counts, a zero byte too
        {"x>", "x&gt;", "x&gt;"},
        {"'quoted'", "'quoted'", "&apos;quoted&apos;"},
        {"\xE9/\xE9", "\xE9&#47;\xE9", "\xE9/\xE9"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(fn_escape_string(c.in), c.markup) << c.in;
        EXPECT_EQ(fn_escape_xml_string(c.in), c.xml) << c.in;
    }
    // A long text grows once to its escaped size, each byte in its place.
    const std::string many = std::string(5000, '<') + std::string(5000, '/');
    const std::string out = fn_escape_string(many);
    ASSERT_EQ(out.size(), 5000u * 4 + 5000u * 5);
    EXPECT_EQ(out.substr(0, 8), "&lt;&lt;");
    EXPECT_EQ(out.substr(out.size() - 10), "&#47;&#47;");
}

TEST(Escapes, SearchAndReplace)
{
    using namespace std::string_literals;
    struct {
        std::string text, search, replacement;
        std::optional<std::string> result;
    } cases[] = {
        {"aaa", "aa", "x", "xa"},  // occurrences do not overlap
        {"abc  ", "b", "", "ac"},  // trailing blanks go
        {"a b a ", "a", "xy", "xy b xy"},
        {"abab", "ab", "ba", "baba"},
        {"aaaa", "aa", "a", "aa"},  // the scan resumes after each replacement, not inside it
        {"ab\t ", "b", "c", "ac\t"},  // only blanks are cut
        {"a\0b"s, "\0"s, "-", "a-b"},
        {"abc", "", "x", std::nullopt},   // nothing to look for
        {"abc", "z", "x", std::nullopt},  // nothing replaced
        {"abc", "b", "b", std::nullopt},  // the result equals the text
        {"   ", " ", "x", std::nullopt},  // all blanks: nothing left to search
        {"xyz", "xyz", "", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(str_replace(c.text, c.search, c.replacement), c.result)
            << "'" << c.text << "' '" << c.search << "' '" << c.replacement << "'";
}

TEST(Dates, CurrentLayouts)
{
    std::tm monday{};  // Mon 2026-12-07 14:05:09
    monday.tm_year = 126, monday.tm_mon = 11, monday.tm_mday = 7, monday.tm_wday = 1;
    monday.tm_hour = 14, monday.tm_min = 5, monday.tm_sec = 9;
    std::tm saturday{};  // Sat 1999-01-02 03:04:05
    saturday.tm_year = 99, saturday.tm_mon = 0, saturday.tm_mday = 2, saturday.tm_wday = 6;
    saturday.tm_hour = 3, saturday.tm_min = 4, saturday.tm_sec = 5;
    std::tm new_year{};  // Sat 2000-01-01 00:00:00
    new_year.tm_year = 100, new_year.tm_mday = 1, new_year.tm_wday = 6;
    struct {
        const std::tm &t;
        int layout;
        std::string text;
    } cases[] = {
        {monday, 0, "2026-12-07"},
        {monday, 1, "Mon  07 Dec 26  14:05"},
        {monday, 2, "14:05:09"},
        {monday, 3, "2026-12-07 14:05:09"},
        {monday, 4, ""},
        {monday, -1, ""},
        {saturday, 1, "Sat  02 Jan 99  03:04"},
        {saturday, 3, "1999-01-02 03:04:05"},
        {new_year, 1, "Sat  01 Jan 00  00:00"},
    };
    for (const auto &c : cases) EXPECT_EQ(date_current_text(c.layout, c.t), c.text) << c.layout;
    EXPECT_EQ(date_current_text(1, monday).size(), 21u);
}

TEST(Dates, StoredDateReLaid)
{
    struct {
        int layout;
        std::string date, text;
    } cases[] = {
        {3, "2026-12-07", "07 Dec 2026"},
        {3, "2026/12/07", "07 Dec 2026"},  // the separators are not looked at
        {0, "2026-12-07", "07Dec26"},
        {1, "2026-12-07", "07 Dec 26"},
        {2, "2026-12-07", "07Dec2026"},
        {1, "1999-01-02", "02 Jan 99"},
        {0, "2000-02-29", "29Feb00"},
        {3, "2026-12-0", "********"},             // nine characters
        {3, "2026-12-077", "********"},           // eleven
        {3, "2026-12-07 14:05", "********"},      // a length between 11 and 18
        {3, "2026-12-07 14:05:09", "07 Dec 2026"},  // a time stamp: its first ten
        {2, "2026-12-07 14:05:09.123456+01", "07Dec2026"},
        {3, "", "********"},
        {0, "          ", "          "},  // ten blanks stay as they are, whatever the layout
        {9, "          ", "          "},
        {0, " \t        ", " \t        "},
        {3, "abcd-ef-gh", "********"},
        {3, "2026-13-07", "********"},  // no such month
        {3, "2026-00-07", "********"},
        // Only days of the calendar, read as digits (a sign is no digit).
        {3, "2026-12--1", "********"},
        {3, "2026-12-+1", "********"},
        {3, "-026-12-07", "********"},
        {3, "2026-02-31", "********"},
        {3, "2026-02-29", "********"},
        {3, "2024-02-29", "29 Feb 2024"},
        {3, "1900-02-29", "********"},
        {3, "2026-04-31", "********"},
        {3, "2026-04-30", "30 Apr 2026"},
        {3, "2026-12-00", "********"},
        {3, "2026-12-31", "31 Dec 2026"},
        {3, " 026-1 - 7", "07 Jan 0026"},  // leading blanks of a field, as before
        {4, "2026-12-07", ""},
        {-1, "2026-12-07", ""},
        {9, "2026-1x-07", "********"},  // the date is judged before the layout
    };
    for (const auto &c : cases) EXPECT_EQ(date_print_text(c.layout, c.date), c.text) << c.layout << " '" << c.date << "'";
}

TEST(AmountColumns, Cases)
{
    struct {
        std::string value;
        int width, decimals;
        ZeroForm zero;
        std::string zero_text, column;
    } cases[] = {
        {"1234567.891", 14, 2, ZeroForm::number, "", " 1,234,567.89 "},
        {"-5", 6, 0, ZeroForm::number, "", "    5-"},
        {"12345", 3, 0, ZeroForm::number, "", "***"},
        {"0", 6, 2, ZeroForm::dashes, "", "   -- "},
        {"0", 6, 2, ZeroForm::number, "", " 0.00 "},  // three arguments: zero is a number
        {"0", 6, 2, ZeroForm::text, "nil", "   nil"},
        {"0", 6, 2, ZeroForm::text, "abcdefgh", " abcde"},  // cut to width - 1
        {"0", 2, 0, ZeroForm::dashes, "", "**"},  // the dashes do not fit
        {"0", 1, 0, ZeroForm::dashes, "", "*"},
        {"0", 0, 0, ZeroForm::dashes, "", ""},
        {"0", 3, 0, ZeroForm::dashes, "", "-- "},
        {"0.001", 6, 2, ZeroForm::dashes, "", " 0.00 "},  // not zero: truncated, not a zero form
        {"-0.009", 7, 2, ZeroForm::number, "", "  0.00 "},  // what shows as zero has no sign
        {"-0.001", 7, 2, ZeroForm::dashes, "", "  0.00 "},
        {"-0.4", 4, 0, ZeroForm::number, "", "  0 "},
        {"-0.01", 7, 2, ZeroForm::number, "", "  0.01-"},
        {"-1000.001", 9, 2, ZeroForm::number, "", "1,000.00-"},
        {"1.999", 6, 2, ZeroForm::number, "", " 1.99 "},
        {"1234567", 9, 0, ZeroForm::number, "", "1234,567 "},  // the left separator goes first
        {"1234567", 8, 0, ZeroForm::number, "", "1234567 "},
        {"1234567", 7, 0, ZeroForm::number, "", "*******"},
        {"5", 4, 3, ZeroForm::number, "", "****"},  // the decimals alone do not fit
        {"5", 0, 0, ZeroForm::number, "", ""},
        {"-123456.5", 12, 1, ZeroForm::number, "", "  123,456.5-"},
        {"100", 10, 0, ZeroForm::number, "", "      100 "},
        {"5", 2049, 0, ZeroForm::number, "", "stop: CPMED$: width 2049 is outside 0..2048"},
        {"5", -1, 0, ZeroForm::number, "", "stop: CPMED$: width -1 is outside 0..2048"},
        {"5", 6, -1, ZeroForm::number, "", "stop: CPMED$: number of decimals -1 is negative"},
        {"5", 6, 2000000000, ZeroForm::number, "", "******"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(amount(c.value, c.width, c.decimals, c.zero, c.zero_text), c.column)
            << c.value << " " << c.width << " " << c.decimals;
    // A null number shows as zero.
    const dec_t null{0, DECPOSNULL, 0, {}};
    char area[CPMED_MAX_WIDTH];
    EXPECT_EQ(std::string(area, cpmed_column(&null, 6, 2, ZeroForm::number, {}, area)), " 0.00 ");
    EXPECT_EQ(std::string(area, cpmed_column(&null, 6, 2, ZeroForm::dashes, {}, area)), "   -- ");
    char picture_area[EDIT_AREA];
    EXPECT_EQ(std::string(picture_area, zedit(&null, "ZZ9.V99", picture_area)), "  0.00");
    // The widest column fills its area exactly.
    const std::string widest = amount("-1", CPMED_MAX_WIDTH, 0);
    EXPECT_EQ(widest, std::string(CPMED_MAX_WIDTH - 2, ' ') + "1-");
    EXPECT_EQ(amount("0", CPMED_MAX_WIDTH, 0, ZeroForm::text, std::string(3000, 'x')),
              " " + std::string(CPMED_MAX_WIDTH - 1, 'x'));
}

TEST(AmountColumns, AgreeWithPythonDecimal)
{
    const auto table = lumba_test::read_tsv(AMOUNTS_TABLE, lumba_test::TrailingEmptyField::kept);
    ASSERT_GE(table.size(), 4000u);
    int checked = 0;
    for (const auto &r : table) {
        ASSERT_EQ(r.size(), 5u);
        const ZeroForm zero = r[3] == "d" ? ZeroForm::dashes : r[3] == "t" ? ZeroForm::text : ZeroForm::number;
        EXPECT_EQ(amount(r[0], std::stoi(r[1]), std::stoi(r[2]), zero, "nil"), r[4])
            << r[0] << " width " << r[1] << " decimals " << r[2] << " zero form " << r[3];
        ++checked;
    }
    EXPECT_EQ(checked, 4000);
}

TEST(Pictures, Cases)
{
    struct {
        std::string value, picture, text;
    } cases[] = {
        {"1234.5", "ZZZ9.V99", "1234.50"},
        {"5", "ZZZ9.V99", "   5.00"},
        {"12345", "ZZ9", "***"},
        {"5", "$$ZZ9", "   $5"},
        {"1234", "$$ZZ9", "$1234"},
        {"12345", "$$ZZ9", "*****"},  // the fill's column cannot take a digit
        {"12", "ZZ,ZZ9", "    12"},   // the separator left of the number is blanked
        {"1234", "ZZ,ZZ9", " 1,234"},
        {"5", "*ZZ9", "***5"},
        {"1234", "**,**9.V99", "*1,234.00"},
        {"5", "**,**9.V99", "*****5.00"},
        {"-5", "ZZ9-", "  5-"},
        {"5", "ZZ9-", "  5 "},
        {"5", "ZZ9+", "  5+"},
        {"-5", "ZZ9+", "  5-"},
        {"-5", "-ZZ9", "  -5"},
        {"5", "-ZZ9", "   5"},
        {"5", "+ZZ9", "  +5"},
        {"-5", "+ZZ9", "  -5"},
        {"-123", "-ZZ9", "-123"},
        {"-1234", "-ZZ9", "****"},
        {"-250", "-ZZ,ZZ9.V99", "   -250.00"},
        {"-5", "ZZ9", "  5"},  // no sign column: the sign is not shown
        {"1.5", "ZZ9.Vzz", "  1.5"},
        {"1.05", "ZZ9.Vzz", "  1.05"},
        {"2", "ZZ9.Vzz", "  2."},
        {"2", "ZZ9.V9z", "  2.0"},
        {"-1.5", "ZZ9.Vzz-", "  1.5-"},  // the sign column stays where the zeros go
        {"1.5", "ZZ9Vzz", "  150"},      // without a point nothing is dropped
        {"2", "ZZ9Vzz", "  200"},
        {"5", "ZZ9.VZZ", "  5.0 "},  // a Z beyond the number's decimals is blank
        {"1.999", "Z9.V99", " 1.99"},  // truncated, not rounded
        {"1.999", "Z9", " 1"},
        {"0.5", "ZZ9.V99", "  0.50"},
        {"5", "999", "005"},
        {"-1.25", "Z9.V9-9", " 1.2-5"},  // a sign after V is a sign column
        {"5", "ZZ9 EUR", "  5 EUR"},
        {"5", "", ""},
        {"123456789012345678901234567890", "ZZZ,ZZZ,ZZZ,ZZZ,ZZZ,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9",
         "123,456,789,012,345,678,901,234,567,890"},
        {"5", "ZzZ", "stop: EDIT$: z designator mis-placed"},
        {"5", "9.9.9", "stop: EDIT$: Bad format string"},
        {"5", "9V9V9", "stop: EDIT$: Bad format string"},
        {"5", std::string(EDIT_AREA, '9'), "stop: EDIT$: picture of 4096 bytes is longer than 4095"},
    };
    for (const auto &c : cases) EXPECT_EQ(edited(c.value, c.picture), c.text) << c.value << " " << c.picture;
    // The longest picture fills its area.
    EXPECT_EQ(edited("5", std::string(EDIT_AREA - 1, '9')), std::string(EDIT_AREA - 2, '0') + "5");
}

namespace {

// What GNU sed -E makes of pattern on text: false without a match, else the whole match and
// groups 1..groups, each empty when it took no part.
bool sed_match(const std::string &pattern, const std::string &text, bool ignore_case, int groups,
               std::vector<std::string> &parts)
{
    // s<1>pattern<1><2>&<3>\1<3>\2...<2><1>p: the match and groups stand between markers.
    std::string script = "s\x01" + pattern + "\x01\x02&";
    for (int g = 1; g <= groups; ++g) script += "\x03\\" + std::to_string(g);
    script += std::string("\x02\x01p") + (ignore_case ? "I" : "");
    // sed works on lines: an empty text is an empty line.
    const std::string line = lumba_test::command_output({"sed", "-E", "-n", script}, {{"LC_ALL", "C"}}, text + "\n");
    if (line.empty()) return false;
    const std::size_t open = line.find('\x02'), close = line.rfind('\x02');
    std::stringstream fields(line.substr(open + 1, close - open - 1));
    parts.clear();
    for (std::string f; std::getline(fields, f, '\x03');) parts.push_back(f);
    parts.resize(static_cast<std::size_t>(groups) + 1);
    return true;
}

} // namespace

TEST(PatternMatch, AgreesWithGnuSed)
{
    struct {
        std::string pattern, text;
        bool ignore_case;
        int groups;
    } cases[] = {
        {"^([a-z]+)-([0-9]+)$", "abc-42", false, 2},
        {"(a|ab)(c|bcd)(d*)", "abcd", false, 3},  // leftmost-longest overall
        {"(x)?y", "y", false, 1},                  // a group that takes no part
        {"(a+)(b+)?", "aaac", false, 2},
        {"([A-Z]+)", "abcDEF", false, 1},
        {"([A-Z]+)", "abcDEF", true, 1},
        {"HELLO (world)", "say hello WORLD", true, 1},
        {"HELLO (world)", "say hello WORLD", false, 1},
        {"b+", "aabbbcc", false, 0},
        {"(a*)*", "b", false, 1},  // an empty match at the start
        {"((a)|b)+", "ab", false, 2},
        {"[[:digit:]]{2,3}", "a1234", false, 0},
        {"(foo|foobar)baz", "foobarbaz", false, 1},
        {"\\.([a-z]{2,4})$", "file.name.txt", false, 1},
        {"(\\(?[0-9]{3}\\)?)[- ]?([0-9]{4})", "call (555) 1234 now", false, 2},
        {"caf\xE9", "un caf\xE9 noir", false, 0},
        {"^$", "", false, 0},
        {"a|b|c", "xxc", false, 0},
        {"(a)(b)(c)(d)(e)(f)(g)(h)(i)", "xabcdefghix", false, 9},
        {"([0-9]+)\\.([0-9]+)?", "v3.", false, 2},
        {"no", "yes", false, 0},
        {"(ab|a)(bc|c)?", "abc", false, 2},
        {"([a-z]+) +([a-z]+)", "  two   words ", false, 2},
    };
    for (const auto &c : cases) {
        std::vector<std::string> expected;
        const bool sed_matched = sed_match(c.pattern, c.text, c.ignore_case, c.groups, expected);
        std::vector<std::string_view> parts(static_cast<std::size_t>(c.groups) + 1, "unset");
        bool matched = false;
        EXPECT_EQ(abort_text([&] { matched = pattern_match(c.pattern, c.text, c.ignore_case, parts); }), "");
        ASSERT_EQ(matched, sed_matched) << c.pattern << " on " << c.text;
        if (!matched) {
            for (auto p : parts) EXPECT_EQ(p, "unset") << "without a match nothing is set";
            continue;
        }
        for (std::size_t i = 0; i < parts.size(); ++i)
            EXPECT_EQ(std::string(parts[i]), expected[i]) << c.pattern << " on " << c.text << " part " << i;
    }
}

TEST(PatternMatch, FewerPartsThanGroupsAndZeroBytes)
{
    using namespace std::string_literals;
    std::string_view one[1];
    ASSERT_TRUE(pattern_match("(b)(c)", "abcd", false, one));
    EXPECT_EQ(one[0], "bc");
    // No part asked for: only whether it matches.
    EXPECT_TRUE(pattern_match("c", "abc", false, {}));
    EXPECT_FALSE(pattern_match("z", "abc", false, {}));
    // The text is read by its length: a zero byte does not end it.
    const std::string text = "ab\0cd"s;
    std::string_view two[2];
    ASSERT_TRUE(pattern_match("c(d)", text, false, two));
    EXPECT_EQ(two[0], "cd");
    EXPECT_EQ(two[1], "d");
    EXPECT_FALSE(pattern_match("^ab$", text, false, {}));
}

TEST(PatternMatch, Refusals)
{
    using namespace std::string_literals;
    std::string_view parts[PATTERN_MAX_VARIABLES + 1];
    EXPECT_EQ(abort_text([&] { pattern_match("a", "a", false, parts); }),
              "PATTERN.MATCH: too many substring match variables");
    EXPECT_EQ(abort_text([&] { pattern_match("[a", "a", false, {}); }),
              "PATTERN.MATCH: rexcomp() returns " + std::to_string(REG_EBRACK));
    EXPECT_EQ(abort_text([&] { pattern_match("(a", "a", false, {}); }),
              "PATTERN.MATCH: rexcomp() returns " + std::to_string(REG_EPAREN));
    EXPECT_EQ(abort_text([&] { pattern_match("a\0b"s, "a", false, {}); }), "PATTERN.MATCH: pattern holds a zero byte");
    // All thirty parts are filled.
    std::string pattern, text;
    for (int i = 0; i < PATTERN_MAX_VARIABLES - 1; ++i) pattern += "(.)", text += static_cast<char>('A' + i % 26);
    ASSERT_TRUE(pattern_match(pattern, text, false, std::span(parts, PATTERN_MAX_VARIABLES)));
    EXPECT_EQ(parts[0], text);
    EXPECT_EQ(parts[PATTERN_MAX_VARIABLES - 1], text.substr(text.size() - 1));
}

TEST(UrlEncoding, AgreesWithPythonQuote)
{
    const auto table = lumba_test::read_tsv(URLS_TABLE, lumba_test::TrailingEmptyField::kept);
    ASSERT_GE(table.size(), 400u);
    for (const auto &r : table) {
        ASSERT_EQ(r.size(), 2u);
        std::string bytes;
        for (std::size_t i = 0; i + 1 < r[0].size(); i += 2)
            bytes += static_cast<char>(std::stoi(r[0].substr(i, 2), nullptr, 16));
        EXPECT_EQ(url_encode(bytes), r[1]) << r[0];
    }
    EXPECT_EQ(abort_text([] { url_encode(""); }), "url_encode: Empty string passed in");
}
