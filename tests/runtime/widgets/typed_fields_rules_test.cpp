// What the typed fields decide without a display: input types and the characters each lets
// through, the Enter checks, the display form of numbers (against Python's decimal), masks
// (against grep -E), the forms and checks of dates (against Python's datetime) and the date
// keys, text field types, label formats and the cleaning of label mark-up (checked by Pango).
#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>
#include <gdk/gdkkeysyms.h>
#include <pango/pango.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "gdate.h"
#include "ginput.h"
#include "glabel.h"
#include "gtext.h"
#include "test_host.h"
#include "tsv.h"

using lumba_test::abort_text;

namespace {

} // namespace

// ---- Input types --------------------------------------------------------------------------------------------

TEST(InputTypes, NormalisedThenAcceptedOrRefused)
{
    struct Case {
        const char *given, *normalised;
        bool accepted;
    } cases[] = {
        {"a", "a", true},       {"au", "au", true},     {"c", "c", true},       {"cu", "cu", true},
        {"s", "s", true},       {"su", "su", true},     {"p", "p", true},       {"pu", "pu", true},
        {"n", "n0", true},      {"n2", "n2", true},     {"n+", "n+0", true},    {"n+3", "n+3", true},
        {"n,", "n,0", true},    {"n,2", "n,2", true},   {"n,+", "n,+0", true},  {"n,+2", "n,+2", true},
        {"nb", "nb0", true},    {"n-", "n-0", true},    {"n,b", "n,b0", true},  {"n+b", "n+b0", true},
        {"nxb", "nxb0", true},  {"n2  ", "n2", true},   {"m", "m0", true},      {"m2", "m2", true},
        {"m+", "m+0", true},    {"m+2", "m+2", true},   {"mb", "mb0", false},   {"m-", "m-0", false},
        {"m,2", "m,2", false},  {"m,", "m,0", false},   {"n+,2", "n+,2", false}, {"n22", "n22", false},
        {"nu", "nu0", false},   {"ar", "ar", false},    {"au2", "au2", false},  {"x", "x", false},
        {"", "", false},        {"N2", "N2", false},    {"m2x", "m2x", false},
    };
    for (const Case &c : cases) {
        const std::string t = ginput_normalise_type(c.given);
        EXPECT_EQ(t, c.normalised) << c.given;
        EXPECT_EQ(ginput_type_valid(t), c.accepted) << c.given;
    }
}

TEST(InputTypes, EachCharacterByTypeAndPosition)
{
    // The characters tried, and per type those accepted at the beginning and elsewhere.
    const std::string tried = " -.,+0123456789aZ\\!";
    struct Case {
        const char *type, *at_start, *elsewhere;
    } cases[] = {
        {"a", "aZ", "aZ"},
        {"au", "aZ", "aZ"},
        {"c", "0123456789aZ", "0123456789aZ"},
        {"s", " -.,+0123456789aZ!", " -.,+0123456789aZ!"},
        {"p", " -.,+0123456789aZ!", " -.,+0123456789aZ!"},
        {"n0", "-0123456789", "0123456789"},
        {"n2", "-.0123456789", ".0123456789"},
        {"n,0", "-0123456789", "0123456789"},
        {"n,2", "-.0123456789", ".0123456789"},
        {"n,b0", "-0123456789", "0123456789"},
        {"nb0", "0123456789", "0123456789"},
        {"n-0", "0123456789", "0123456789"},
        {"n+0", "0123456789", "0123456789"},
        {"n+2", ".0123456789", ".0123456789"},
        {"n,+2", ".0123456789", ".0123456789"},
        {"n,+0", "0123456789", "0123456789"},
        {"n+b0", "0123456789", "0123456789"},
        {"m2", "-.0123456789", ".0123456789"},
        {"m+2", ".0123456789", ".0123456789"},
        {"nxb0", "", ""},
    };
    for (const Case &c : cases)
        for (int position : {0, 1, 5})
            for (char ch : tried) {
                const std::string accepted = position == 0 ? c.at_start : c.elsewhere;
                EXPECT_EQ(ginput_is_valid_char(c.type, static_cast<unsigned char>(ch), position),
                          accepted.find(ch) != std::string::npos)
                    << c.type << " '" << ch << "' at " << position;
            }
    EXPECT_EQ(abort_text([] { ginput_is_valid_char("x", '1', 0); }), "ginput_is_valid_char: Invald input type: x");
    EXPECT_EQ(abort_text([] { ginput_is_valid_char("n2345678901234567", '1', 0); }),
              "Invalid Input Type: 'n2345678901234567'");
    // Letters outside ASCII are whole characters judged by their Unicode class: Ö, é, ß, Omega, an
    // Arabic-Indic three (a digit, not a letter), a no-break space (printable), a zero-width space and
    // a C1 control (neither), and a byte that is no character at all.
    struct Wide {
        gunichar c;
        const char *accepted_by;  // the types (of a, c, s, n2) that take it
    } wide[] = {{0xD6, "acs"}, {0xE9, "acs"}, {0xDF, "acs"}, {0x3A9, "acs"}, {0x663, "cs"},
                {0xA0, "s"},   {0x200B, ""},  {0x85, ""},    {static_cast<gunichar>(-1), ""}};
    for (const Wide &w : wide)
        for (const char *type : {"a", "c", "s", "n2"})
            EXPECT_EQ(ginput_is_valid_char(type, w.c, 1), std::string_view(w.accepted_by).find(type[0]) != std::string_view::npos)
                << type << " U+" << std::hex << w.c;
    EXPECT_EQ(ginput_convert_toupper(0xE9, "au"), 0xC9u) << "é becomes É";
    EXPECT_EQ(ginput_convert_toupper(0xE9, "a"), 0xE9u);
    EXPECT_EQ(ginput_convert_toupper('q', "au"), 'Q');
    EXPECT_EQ(ginput_convert_toupper('q', "pu"), 'Q');
    EXPECT_EQ(ginput_convert_toupper('q', "a"), 'q');
    EXPECT_EQ(ginput_convert_toupper('q', "nu"), 'q');
}

TEST(InputTypes, InsertionsAreJudgedAsTheTextWouldBe)
{
    struct Case {
        const char *type, *current, *inserted;
        int position;
        InputInsert::Outcome outcome;
        const char *text;
    } cases[] = {
        {"n2", "12.34", "5", 5, InputInsert::refused, ""},      // a third decimal
        {"n2", "12.3", "4", 4, InputInsert::accepted, "4"},
        {"n2", "1234", ".567", 2, InputInsert::refused, ""},    // 12.567... after the point
        {"n2", "1234", ".5", 4, InputInsert::accepted, ".5"},
        {"n0", "12", ".", 2, InputInsert::refused, ""},
        {"n2", "", " ", 0, InputInsert::dropped, ""},            // a blank into an empty number
        {"n2", "  ", " ", 1, InputInsert::dropped, ""},
        {"n2", "5", " ", 1, InputInsert::refused, ""},
        {"n2", "12", "3", 5, InputInsert::refused, ""},          // beyond the end of the trimmed text
        {"n2", " 12 ", "3", 2, InputInsert::accepted, "3"},
        {"n2", "-5", "-", 0, InputInsert::accepted, "-"},         // "--" is a value of its own
        {"n2", "", "-5", 0, InputInsert::accepted, "-5"},
        {"n2", "", "5-", 0, InputInsert::refused, ""},
        {"au", "AB", "cd", 2, InputInsert::accepted, "CD"},
        {"a", "ab", "c1", 2, InputInsert::refused, ""},
        {"s", "", " x", 0, InputInsert::accepted, " x"},
        // Whole characters, counted as characters.
        {"s", "Anna Lindqvist-", "Öberg", 15, InputInsert::accepted, "Öberg"},
        {"a", "Jos", "é", 3, InputInsert::accepted, "é"},
        {"au", "", "josé", 0, InputInsert::accepted, "JOSÉ"},
        {"a", "", "Öberg1", 0, InputInsert::refused, ""},
        {"c", "Ö", "\xC3", 1, InputInsert::refused, ""},          // half a character
        {"n2", "Ö", "5", 1, InputInsert::accepted, "5"},
        {"n2", "1", "\xD9\xA3", 1, InputInsert::refused, ""},     // an Arabic-Indic three
        {"n2", "-1.5", "-", 0, InputInsert::accepted, "-"},
    };
    for (const Case &c : cases) {
        const InputInsert r = ginput_filter_insert(c.type, c.current, c.inserted, c.position);
        EXPECT_EQ(r.outcome, c.outcome) << c.type << " '" << c.current << "' + '" << c.inserted << "' at " << c.position;
        EXPECT_EQ(r.text, c.text) << c.type << " '" << c.current << "' + '" << c.inserted << "'";
    }
}

TEST(InputTypes, EnterMessagesByType)
{
    struct Case {
        const char *type, *value;
        int min;
        bool required;
        const char *message;
    } cases[] = {
        {"a", "Abc", 0, false, ""},
        {"a", "ab c", 0, false, "Input must be alphabetic character"},
        {"c", "ab1", 0, false, ""},
        {"c", "ab-1", 0, false, "Input must be alphabetic character or a digit"},
        {"s", "any text!", 0, false, ""},
        {"s", "back\\slash", 0, false, "Input must be printable character or space and not '\\'"},
        {"s", "tab\there", 0, false, "Input must be printable character or space and not '\\'"},
        {"n2", "12.34", 0, false, ""},
        {"n2", "12.345", 0, false, "Input a number with at most 2 decimal places"},
        {"n2", "1.2.3", 0, false, "Input a number with at most 2 decimal places"},
        {"n2", "12a", 0, false, "Input a number with at most 2 decimal places"},
        {"n0", "12.5", 0, false, "Input a number without decimal places"},
        {"n0", "12.", 0, false, "Input a number without decimal places"},
        {"nb0", "-12", 0, false, ""},                       // b: the minus cannot be typed
        {"n,2", "-1234.56", 0, false, ""},
        {"n,2", "-1234.567", 0, false, "Input a number with at most 2 decimal places"},
        {"n,+2", "-5", 0, false, "Input must be +ve"},
        {"n+2", "-5", 0, false, "Input must be +ve"},
        {"n+2", "5.25", 0, false, ""},
        {"n,+2", "5.256", 0, false, "Input a number with at most 2 decimal places"},
        {"m2", "-", 0, false, ""},
        {"m2", "--", 0, false, ""},
        {"m+2", "--7", 0, false, ""},
        {"n2", "", 0, false, ""},
        {"c", "", 3, false, ""},
        {"c", "ab", 3, false, "Entered 2 characters, minimum number required is 3."},
        {"c", "", 3, true, "Entered 0 characters, minimum number required is 3."},
        {"c", "  abc  ", 3, true, ""},
        {"a", "Öberg", 0, false, ""},
        {"c", "José3", 0, false, ""},
        {"s", "Anna Lindqvist-Öberg", 0, false, ""},
        {"au", "JOSÉ", 5, false, "Entered 4 characters, minimum number required is 5."},
        {"s", "zero\u200Bwidth", 0, false, "Input must be printable character or space and not '\\'"},
        {"c", "ab£", 0, false, "Input must be alphabetic character or a digit"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ginput_value_message(c.type, c.value, c.min, c.required, "", "", false), c.message)
            << c.type << " '" << c.value << "'";
    EXPECT_EQ(abort_text([] { ginput_value_message("q", "x", 0, false, "", "", false); }),
              "Invalid input validation type: q");
    EXPECT_EQ(ginput_value_message("p", "12", 0, false, "^[0-9]{3}$", "Three digits", false), "Three digits");
    EXPECT_EQ(ginput_value_message("p", "12", 0, false, "^[0-9]{3}$", "Three digits", true), "") << "F3 forgives";
}

TEST(InputTypes, NotesValidateThroughTheSameChecks)
{
    EXPECT_EQ(ginput_validate_input("plain words", nullptr, 0, 0, 11, "s", "", ""), 1);
    EXPECT_EQ(ginput_validate_input("a\\b", nullptr, 0, 0, 3, "s", "", ""), 0);
    // A note's short text is whole UTF-8 characters: a clerk's "Café" or "€" passes as any
    // printable character does, and the backslash is refused among them too.
    for (const char *text : {"Caf\u00e9 au lait", "\u20ac 12.50 \u00e0 payer", "\u00d6berg & S\u00f8n"})
        EXPECT_EQ(ginput_validate_input(text, nullptr, 0, 0, static_cast<int>(std::strlen(text)), "s", "", ""), 1)
            << text;
    EXPECT_EQ(ginput_validate_input("Caf\u00e9\\", nullptr, 0, 0, 6, "s", "", ""), 0);
    // The text is read by its length: what lies beyond is no part of it.
    EXPECT_EQ(ginput_validate_input("ok\\", nullptr, 0, 0, 2, "s", "", ""), 1);
    EXPECT_EQ(ginput_validate_input("ab", nullptr, 0, 3, 2, "c", "", ""), 0);
    EXPECT_EQ(ginput_validate_input("abc", nullptr, 0, 0, 3, "p", "^a", "Starts with a"), 1);
    EXPECT_EQ(abort_text([] { ginput_validate_input("x", nullptr, 0, 0, 1, "t", "", ""); }),
              "Invalid input validation type: t");
    EXPECT_EQ(abort_text([] { ginput_validate_input("x", nullptr, 0, 0, 1, "z", "", ""); }),
              "Invalid input validation type: z");
}

// ---- Numbers --------------------------------------------------------------------------------------------------

TEST(InputNumbers, CommasRemoved)
{
    struct Case {
        const char *text, *plain;
    } cases[] = {{"1,234.50-", "-1234.50"}, {"1,234.50 ", "1234.50"}, {"  -1,234", "-1234"}, {"12 34", "12"},
                 {"", ""},                  {"--", "-"},               {"1,2,3", "123"},       {"   ", ""}};
    for (const Case &c : cases) EXPECT_EQ(ginput_remove_commas(c.text), c.plain) << c.text;
}

TEST(InputNumbers, DisplayFormOfTheWorkedCases)
{
    struct Case {
        const char *value;
        int width;
        const char *type, *shown;
    } cases[] = {
        {"-1234567.5", 13, "n,2", "-1,234,567.50"},
        {"-1234567.5", 12, "n,2", "-1234,567.50"},   // the leftmost comma left out
        {"-1234567.5", 11, "n,2", "-1234567.50"},
        {"-1234567.5", 10, "n,2", "-1234567.5"},     // too wide even without commas: as given
        {"-1234.5", 10, "m2", "1,234.50-"},
        {"1234.5", 10, "m2", "1,234.50 "},
        {"5", 10, "n2", "5.00"},
        {".5", 10, "n2", "0.50"},
        {"12.999", 10, "n2", "12.99"},                // cut, never rounded
        {"123456", 4, "n0", "1234"},                  // cut to the width
        {"1234567.5", 12, "n+,2", "1,234,567.50"},    // a label's format
        {"7", 5, "nb0", "7"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ginput_format_numeric(c.value, c.width, c.type), c.shown) << c.value << " " << c.width << " " << c.type;
    EXPECT_EQ(abort_text([] { ginput_format_numeric("1", 5, "n-5"); }), "Numeric precision -5 out of range 0..9 for type n-5");

    struct Shown {
        const char *text, *type, *shown;
    } leaving[] = {{"", "n2", ""}, {"   ", "n2", ""}, {"000", "n2", "0"}, {"0 ", "n2", ""},
                   {"  .5", "n2", "0.50"}, {"007.5", "n2", "7.50"}, {"1,234.5-", "m2", "1,234.50-"}};
    for (const Shown &s : leaving) EXPECT_EQ(ginput_add_commas1(s.text, 10, s.type), s.shown) << "'" << s.text << "'";
}

TEST(InputNumbers, DisplayFormAgreesWithPythonDecimal)
{
    const auto table = lumba_test::read_tsv(NUMBERS_TABLE);
    ASSERT_EQ(table.size(), 1000u);
    for (const auto &r : table) {
        ASSERT_EQ(r.size(), 4u);
        const std::string expected = r[3].substr(1, r[3].size() - 2);
        EXPECT_EQ(ginput_format_numeric(r[0], std::stoi(r[1]), r[2]), expected)
            << r[0] << " width " << r[1] << " type " << r[2];
    }
}

TEST(InputNumbers, AValueWiderThanTheFieldIsReportedToSupport)
{
    lumba_test::mail_reports().clear();
    EXPECT_EQ(ginput_format_numeric("123456", 4, "n0"), "1234");
    ASSERT_EQ(lumba_test::mail_reports().size(), 1u);
    EXPECT_FALSE(lumba_test::mail_reports()[0].debug);
    EXPECT_NE(lumba_test::mail_reports()[0].text.find("size: 6 !fit into 4 for input:123456 -- type:n0 @ ginput_format_numeric"),
              std::string::npos)
        << lumba_test::mail_reports()[0].text;
    lumba_test::mail_reports().clear();
    ginput_format_numeric("1234", 4, "n0");
    EXPECT_TRUE(lumba_test::mail_reports().empty());
}

// ---- Masks ------------------------------------------------------------------------------------------------------

namespace {

// Whether grep -E finds the mask in the one-line value.
bool grep_matches(const std::string &mask, const std::string &value)
{
    gchar *path = nullptr;
    const int fd = g_file_open_tmp("mask-XXXXXX", &path, nullptr);
    EXPECT_GE(fd, 0);
    const std::string line = value + "\n";
    EXPECT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    close(fd);
    const char *argv[] = {"grep", "-qE", "-e", mask.c_str(), path, nullptr};
    int status = -1;
    EXPECT_TRUE(g_spawn_sync(nullptr, const_cast<char **>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                             nullptr, nullptr, &status, nullptr));
    g_unlink(path);
    g_free(path);
    return g_spawn_check_wait_status(status, nullptr);
}

} // namespace

TEST(InputMasks, MatchAsGrepDoes)
{
    const std::pair<const char *, std::vector<const char *>> cases[] = {
        {"^[0-9]{3}$", {"123", "1234", "12", "a123"}},
        {"[0-9]", {"abc", "ab7", "7"}},
        {"^[A-Z]{2}[0-9]{4}$", {"AB1234", "ab1234", "AB12345", "AB123"}},
        {"^(yes|no)$", {"yes", "no", "yesno", "maybe"}},
        {"a+b*c?$", {"xaaa", "xab", "abcx", "bc"}},
        {"^[[:alpha:]]+ [[:digit:]]+$", {"Road 12", "Road12", "12 Road"}},
        {"\\.", {"a.b", "ab"}},
        {"^$", {"x"}},
    };
    for (const auto &[mask, values] : cases)
        for (const char *value : values) {
            const bool grep = grep_matches(mask, value);
            const std::string message = ginput_value_message("p", value, 0, false, mask, "no match", false);
            EXPECT_EQ(message.empty(), grep) << mask << " on '" << value << "'";
        }
    EXPECT_EQ(abort_text([] { ginput_value_message("p", "x", 0, false, "a{2", "m", false); }),
              "ginput_match: Error in compiling regular expression: a{2");
}

// ---- Dates -------------------------------------------------------------------------------------------------------

namespace {

std::string stored(int y, int m, int d)
{
    char t[32];
    std::snprintf(t, sizeof t, "%04d-%02d-%02d", y, m, d);
    return t;
}

} // namespace

TEST(Dates, EveryDayOf1800To2800AgreesWithPythonDatetime)
{
    const auto table = lumba_test::read_tsv(MONTH_DAYS_TABLE);
    ASSERT_EQ(table.size(), 1001u * 12);
    int valid = 0;
    for (const auto &r : table) {
        const int y = std::stoi(r[0]), m = std::stoi(r[1]), days = std::stoi(r[2]);
        for (int d = 0; d <= 32; ++d) {
            const bool ok = gdate_check(stored(y, m, d), 4).empty();
            EXPECT_EQ(ok, d >= 1 && d <= days) << stored(y, m, d);
            valid += ok;
        }
    }
    EXPECT_EQ(valid, 365608);  // the days from 1800-01-01 to 2800-12-31
    for (int y : {1799, 2801})
        for (int d = 1; d <= 28; ++d) EXPECT_FALSE(gdate_check(stored(y, 6, d), 4).empty()) << y;
    for (int m : {0, 13}) EXPECT_FALSE(gdate_check(stored(2000, m, 10), 4).empty()) << m;
}

TEST(Dates, EnterMessages)
{
    struct Case {
        const char *value;
        int digits;
        const char *message;
    } cases[] = {
        {"2024-04-31", 4, "Day must be less than 31 and format is DD/MM/YYYY"},
        {"2024-02-30", 4, "Day must be less than 30 and format is DD/MM/YYYY"},
        {"2023-02-29", 4, "Is not a leap year and format is DD/MM/YYYY"},
        {"2023-02-29", 2, "Is not a leap year and format is DD/MM/YY"},
        {"2024-02-29", 2, ""},
        {"1900-02-29", 4, "Is not a leap year and format is DD/MM/YYYY"},
        {"2000-02-29", 4, ""},
        {"2023-02-30", 4, "Day must be less than 29 and format is DD/MM/YYYY"},
        {"2023-05-00", 4, "Day must be greater then zero and format is DD/MM/YYYY"},
        {"2023-05-32", 4, "Day must be less than 32 and format is DD/MM/YYYY"},
        {"2023-00-10", 4, "Month must be greater then zero and format is DD/MM/YYYY"},
        {"2023-13-10", 2, "Month must be less than 13 and format is DD/MM/YY"},
        {"1799-12-31", 4, "Year must be greater then 1800 and format is DD/MM/YYYY"},
        {"2800-12-31", 4, ""},
        {"2801-01-01", 4, "Year must be less than 2800 and format is DD/MM/YYYY"},
        {"1799-13-00", 4, "Year must be greater then 1800 and format is DD/MM/YYYY"},  // the last failure says
        {"2023-04-31", 2, "Day must be less than 31 and format is DD/MM/YY"},
        {"          ", 4, ""},
        {"", 2, ""},
    };
    for (const Case &c : cases) EXPECT_EQ(gdate_check(c.value, c.digits), c.message) << c.value << " " << c.digits;
}

TEST(Dates, FormsTurnIntoOneAnother)
{
    struct Stored {
        const char *text;
        int digits;
        const char *stored;
    } to_stored[] = {
        {"05/03/75", 2, "1975-03-05"}, {"05/03/24", 2, "2024-03-05"}, {"05/03/69", 2, "2069-03-05"},
        {"05/03/1875", 4, "1875-03-05"}, {" 5/ 3/24", 2, "2024-03-05"}, {"  /  /  ", 2, "          "},
        {"", 4, "          "},            {"05/  /24", 2, "2024-00-05"}, {"05Mar24", 2, "2024-03-05"},
        {"05Mar75", 2, "1975-03-05"},     {"05Mar1975", 4, "1975-03-05"}, {"05Xyz24", 2, "2024-**-05"},
        {"31/12/99", 2, "1999-12-31"},
    };
    for (const Stored &s : to_stored) EXPECT_EQ(gdate_stored_form(s.text, s.digits), s.stored) << s.text;

    struct Display {
        const char *stored;
        int digits;
        const char *display;
    } to_display[] = {
        {"2069-12-31", 2, "31Dec69"}, {"2070-01-01", 2, "01Jan**"},  {"1969-12-31", 2, "31Dec**"},
        {"1970-01-01", 2, "01Jan70"}, {"1875-03-05", 4, "05Mar1875"}, {"2024-13-05", 4, "05***2024"},
        {"          ", 2, "       "}, {"  -  -    ", 4, "         "}, {"20**-**-  ", 2, "       "},
        {"20  -  -  ", 4, "         "}, {"", 2, "       "},
    };
    for (const Display &d : to_display) EXPECT_EQ(gdate_display_form(d.stored, d.digits), d.display) << d.stored;
    EXPECT_EQ(abort_text([] { gdate_display_form("2024-3-5", 2); }),
              "Unexpected date format '2024-3-5' was expecting at least ten characters");

    struct Editing {
        const char *display;
        int digits;
        const char *editing;
    } to_editing[] = {
        {"05Mar24", 2, "05/03/24"},     {"05Mar1924", 4, "05/03/1924"}, {"05Mar75", 4, "05/03/1975"},
        {"05/03/24", 2, "05/03/24"},    {"       ", 2, "        "},     {"", 4, "          "},
        {"05Foo24", 2, "05/**/24"},
    };
    for (const Editing &e : to_editing) EXPECT_EQ(gdate_editing_form(e.display, e.digits), e.editing) << e.display;

    EXPECT_EQ(abort_text([] { gdate_stored_form("x", 3); }), "gdate_read_widget: Found year of 3 digits when expecting 2 or 4");
    EXPECT_EQ(abort_text([] { gdate_editing_form("x", 5); }), "gdate_display_input: Found year of 5 digits when expecting 2 or 4");

    char buffer[11] = "2024-03-05";
    gdate_format_display3(buffer, sizeof buffer, 2);
    EXPECT_STREQ(buffer, "05/03/24");
    char small[11] = "2024-03-05";
    EXPECT_EQ(abort_text([&] { gdate_format_display3(small, 10, 4); }), "gdate_format_display3 buffer overflow");
}

TEST(Dates, EveryDayRoundTripsThroughTheThreeForms)
{
    for (const auto &[digits, first, last] : {std::tuple{2, 1970, 2069}, std::tuple{4, 1800, 2800}}) {
        GDate *day = g_date_new_dmy(1, G_DATE_JANUARY, static_cast<GDateYear>(first));
        for (; g_date_get_year(day) <= last; g_date_add_days(day, 1)) {
            const std::string s = stored(g_date_get_year(day), g_date_get_month(day), g_date_get_day(day));
            const std::string display = gdate_display_form(s, digits);
            ASSERT_EQ(display.size(), digits == 4 ? 9u : 7u) << s;
            const std::string editing = gdate_editing_form(display, digits);
            ASSERT_EQ(gdate_stored_form(editing, digits), s) << display << " " << editing;
            ASSERT_EQ(gdate_stored_form(display, digits), s) << display;
        }
        g_date_free(day);
    }
}

namespace {

// Types keys into a date's editing form from an empty mask, as the date field does.
struct Typed {
    std::string text;
    int cursor;
    std::vector<std::string> bells;
};
Typed type_date(const std::vector<guint> &keys, int digits, std::string text = "", int cursor = 0)
{
    Typed t{text.empty() ? std::string(digits == 4 ? "  /  /    " : "  /  /  ") : text, cursor, {}};
    for (guint key : keys) {
        const DateKey k = gdate_key(t.text, t.cursor, key, digits);
        t.text = k.text;
        t.cursor = k.cursor;
        if (k.bell) t.bells.push_back(k.bell);
    }
    return t;
}
std::vector<guint> digits_of(const std::string &s)
{
    std::vector<guint> keys;
    for (char c : s) keys.push_back(GDK_KEY_0 + static_cast<guint>(c - '0'));
    return keys;
}
const std::string bad_character = "Pressed an invalid character while in a date field";
const std::string bad_stroke = "An invalid key stroke while in a date field";

} // namespace

TEST(Dates, KeysWriteDigitsIntoTheMask)
{
    struct Case {
        std::string digits;
        int year_digits;
        std::string text;
        int cursor;
        std::size_t bells;
    } cases[] = {
        {"3102", 2, "31/0 /  ", 4, 1},       // 31 February: the month's 2 is refused
        {"3004", 2, "30/04/  ", 6, 0},
        {"3104", 2, "31/0 /  ", 4, 1},       // 31 April
        {"290224", 2, "29/02/24", 8, 0},
        {"4", 2, "  /  /  ", 0, 1},          // no day begins with 4
        {"32", 2, "3 /  /  ", 1, 1},
        {"00", 2, "0 /  /  ", 1, 1},
        {"0102", 2, "01/02/  ", 6, 0},
        {"0113", 2, "01/1 /  ", 4, 1},
        {"0100", 2, "01/0 /  ", 4, 1},
        {"01013", 4, "01/01/    ", 6, 1},    // four-digit years begin with 1 or 2
        {"0101199912", 4, "01/01/1999", 10, 2},
        {"010124", 2, "01/01/24", 8, 0},
    };
    for (const Case &c : cases) {
        const Typed t = type_date(digits_of(c.digits), c.year_digits);
        EXPECT_EQ(t.text, c.text) << c.digits;
        EXPECT_EQ(t.cursor, c.cursor) << c.digits;
        EXPECT_EQ(t.bells.size(), c.bells) << c.digits;
        for (const std::string &b : t.bells) EXPECT_EQ(b, bad_character);
    }
    // The keypad's digits are digits; a digit typed on a slash goes after it.
    EXPECT_EQ(type_date({GDK_KEY_KP_1, GDK_KEY_KP_2}, 2).text, "12/  /  ");
    const Typed after_slash = type_date({GDK_KEY_1}, 2, "12/  /  ", 2);
    EXPECT_EQ(after_slash.text, "12/1 /  ") << "written after the slash";
    EXPECT_EQ(after_slash.cursor, 4);
    EXPECT_EQ(type_date({GDK_KEY_5}, 2, "12/  /  ", 2).bells.size(), 1u) << "no month begins with 5";
    // Typed into the blanks the editing form shows for an empty date.
    EXPECT_EQ(type_date(digits_of("1"), 2, "        ", 0).text, "1 /  /  ");
}

TEST(Dates, KeysMoveTheCursorOverTheSlashes)
{
    const std::string date = "12/03/24";
    struct Case {
        std::vector<guint> keys;
        int from;
        std::string text;
        int cursor;
        std::vector<std::string> bells;
        bool consumed;
    } cases[] = {
        {{GDK_KEY_Right}, 1, date, 3, {}, false},
        {{GDK_KEY_KP_Right}, 4, date, 6, {}, false},
        {{GDK_KEY_Right}, 8, date, 8, {bad_character}, false},
        {{GDK_KEY_Left}, 3, date, 1, {}, false},
        {{GDK_KEY_KP_Left}, 0, date, 0, {bad_character}, false},
        {{GDK_KEY_Home}, 5, date, 0, {}, false},
        {{GDK_KEY_KP_End}, 1, date, 8, {}, false},
        {{GDK_KEY_space}, 4, date, 6, {}, false},
        {{GDK_KEY_space}, 8, date, 8, {bad_stroke}, false},
        {{GDK_KEY_space}, 0, "  /  /  ", 0, {}, false},         // at the beginning: the date is emptied
        {{GDK_KEY_BackSpace}, 8, "  /  /  ", 0, {}, false},     // at the end: the same
        {{GDK_KEY_BackSpace}, 6, date, 4, {}, false},           // elsewhere only a move
        {{GDK_KEY_BackSpace}, 0, date, 0, {bad_stroke}, false},
        {{GDK_KEY_Up}, 3, date, 3, {}, true},
        {{GDK_KEY_KP_Down}, 3, date, 3, {}, true},
        {{GDK_KEY_Shift_L, GDK_KEY_Num_Lock, 0}, 3, date, 3, {}, false},
        {{GDK_KEY_a}, 3, date, 3, {bad_character}, false},
        {{GDK_KEY_slash}, 3, date, 3, {bad_character}, false},
    };
    for (const Case &c : cases) {
        Typed t{date, c.from, {}};
        bool consumed = false;
        for (guint key : c.keys) {
            const DateKey k = gdate_key(t.text, t.cursor, key, 2);
            t.text = k.text;
            t.cursor = k.cursor;
            consumed = k.consumed;
            if (k.bell) t.bells.push_back(k.bell);
        }
        EXPECT_EQ(t.text, c.text) << c.keys[0] << " from " << c.from;
        EXPECT_EQ(t.cursor, c.cursor) << c.keys[0] << " from " << c.from;
        EXPECT_EQ(t.bells, c.bells) << c.keys[0] << " from " << c.from;
        EXPECT_EQ(consumed, c.consumed) << c.keys[0];
    }
    for (guint key : {GDK_KEY_Tab, GDK_KEY_ISO_Left_Tab, GDK_KEY_Return, GDK_KEY_Escape, GDK_KEY_KP_Enter, GDK_KEY_F1,
                      GDK_KEY_F12})
        EXPECT_EQ(abort_text([&] { gdate_key(date, 0, key, 2); }),
                  "gdate_on_key_press: Should not get here. Keyval " + std::to_string(key) +
                      " should have been handled in the calling function on_key_press_event");
}

TEST(Dates, TypedDatesPassOrFailOnEnter)
{
    // 29/02 is typed without a year; Enter tells a leap year from another.
    const Typed non_leap = type_date(digits_of("290223"), 2);
    EXPECT_EQ(gdate_check(gdate_stored_form(non_leap.text, 2), 2), "Is not a leap year and format is DD/MM/YY");
    const Typed leap = type_date(digits_of("290224"), 2);
    EXPECT_EQ(gdate_check(gdate_stored_form(leap.text, 2), 2), "");
}

// ---- Text field types --------------------------------------------------------------------------------------------

TEST(TextTypes, AcceptedTypesCharactersAndEnterMessages)
{
    for (const char *t : {"a", "au", "ar", "aur", "c", "cu", "cr", "cur", "p", "pur", "s", "sr"}) EXPECT_TRUE(gtext_type_valid(t)) << t;
    for (const char *t : {"", "n", "ra", "aru", "au r", "auu", "x", "sur2"}) EXPECT_FALSE(gtext_type_valid(t)) << t;

    struct Char {
        const char *type;
        gunichar c;
        bool accepted;
    } chars[] = {{"a", 'x', true}, {"a", '1', false},  {"a", '\n', false}, {"ar", '\n', true},  {"aur", '\n', true},
                 {"c", '1', true}, {"c", ' ', false},  {"s", ' ', true},   {"s", '\\', false},  {"p", '~', true},
                 {"s", '\t', false}, {"sr", '\n', true}, {"a", 0xD6, true}, {"c", 0x663, true}, {"a", 0x663, false},
                 {"s", 0xE9, true}, {"s", 0x200B, false}, {"c", static_cast<gunichar>(-1), false}};
    for (const Char &c : chars) EXPECT_EQ(gtext_is_valid_char(c.type, c.c), c.accepted) << c.type << " " << int(c.c);
    EXPECT_EQ(abort_text([] { gtext_is_valid_char("n", 'x'); }), "gtext_is_valid_char: Invald input type");
    EXPECT_EQ(abort_text([] { gtext_is_valid_char("a23456789012345678", 'x'); }), "Invalid Input Type: 'a23456789012345678'");

    struct Message {
        const char *type, *value;
        int min, max;
        bool required;
        const char *message;
    } messages[] = {
        {"s", "", 5, 10, false, ""},
        {"s", "abc", 5, 10, false, "Entered 3 characters, minimum number required is 5."},
        {"s", "", 5, 10, true, "Entered 0 characters, minimum number required is 5."},
        {"s", "a long line of text", 0, 10, false, "Entered 19 characters, maximum number allowed is 10."},
        {"sr", "two\rlines", 0, 20, false, ""},
        {"s", "two\rlines", 0, 20, false, "Text must be printable character or space and not '\\'"},
        {"a", "two\rlines", 0, 20, false, "Text must be alphabetic character"},
        {"c", "ab-c", 0, 20, false, "Text must be alphabetic character or a digit"},
        {"ar", " \rab\r ", 0, 20, false, ""},
        {"s", "Anna Lindqvist-Öberg", 0, 20, false, ""},
        {"s", "Anna Lindqvist-Öbergs", 0, 20, false, "Entered 21 characters, maximum number allowed is 20."},
        {"ar", "José\rÖberg", 0, 20, false, ""},
        {"c", "ab£", 0, 20, false, "Text must be alphabetic character or a digit"},
    };
    for (const Message &m : messages)
        EXPECT_EQ(gtext_value_message(m.type, m.value, m.min, m.max, m.required), m.message) << m.type << " " << m.value;
    EXPECT_EQ(abort_text([] { gtext_value_message("p", "fits", 0, 10, false); }),
              "The coding for Pattern Matching in Text widgets is yet to be completed!");
}

// ---- Labels ---------------------------------------------------------------------------------------------------------

TEST(Labels, FormatTypes)
{
    for (const char *f : {"", "m", "m2", "m+", "m+2", "n", "n0", "n+", "n+2", "n+,", "n+,2", "n,", "n,2"})
        EXPECT_TRUE(glabel_format_valid(f)) << f;
    for (const char *f : {"n,+2", "m2x", "x", "n22", "m,", "m,2", "nb", "n+,22", "n,+", "M2", " n2", "n2 x"})
        EXPECT_FALSE(glabel_format_valid(f)) << f;
}

TEST(Labels, MarkUpIsCleanedToSimpleTags)
{
    struct Case {
        const char *given, *cleaned;
    } cases[] = {
        {"one<br>two</p><p>three", "one\ntwo\nthree"},
        {"<b>Bold</b> and <I>italic</I>", "<b>Bold</b> and <I>italic</I>"},
        {"<span foreground=\"red\">red</span>", "<span foreground=\"red\">red</span>"},
        {"<a href=\"x\">link</a> text", "link text"},
        {"<u>u</u><s>s</s><tt>tt</tt><big>big</big><small>small</small><sub>1</sub><sup>2</sup>",
         "<u>u</u><s>s</s><tt>tt</tt><big>big</big><small>small</small><sub>1</sub><sup>2</sup>"},
        {"<BR/>x<Br>", "\nx\n"},
        {"a <div class='x'>b</div> c", "a b c"},
        {"no tags & so on", "no tags & so on"},
        {"cut <b", "cut "},             // "b" without its ">" is no simple tag
        {"cut <span", "cut <span"},     // a kept tag runs to the end
        {"cut <script", "cut "},        // a dropped one goes with the rest
        {"", ""},
    };
    for (const Case &c : cases) {
        std::string text = c.given;
        sanitise_markup(text.data());
        text.resize(std::strlen(text.c_str()));
        EXPECT_EQ(text, c.cleaned) << c.given;
    }
    // What comes out of well-formed mark-up is mark-up Pango takes, with the text it means.
    for (const char *given : {"one<br>two</p><p>three", "<b>Bold</b> and <i>italic</i>",
                              "<span foreground=\"red\">red</span> <a href='x'>link</a>", "x<p>y</p><hr>z"}) {
        std::string text = given;
        sanitise_markup(text.data());
        text.resize(std::strlen(text.c_str()));
        char *plain = nullptr;
        GError *error = nullptr;
        EXPECT_TRUE(pango_parse_markup(text.c_str(), -1, 0, nullptr, &plain, nullptr, &error))
            << given << ": " << (error ? error->message : "");
        if (error) g_error_free(error);
        EXPECT_EQ(std::string(plain ? plain : "").find('<'), std::string::npos) << given;
        g_free(plain);
    }
}
