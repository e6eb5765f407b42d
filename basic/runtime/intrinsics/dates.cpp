// Today's date and time in fixed layouts (IDATEC$) and a stored "YYYY-MM-DD" date re-laid for
// print (IDATEP$). Local time throughout; a bad layout number gives the empty text, an unreadable
// date "********", so a report column shows the fault instead of stopping the run.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "cases.h"
#include "formatting.h"
#include "message.h"

namespace {

using namespace intr;

constexpr const char *weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char *months[] = {"***", "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::string_view unreadable_date = "********";

// A stored date is "YYYY-MM-DD"; a longer text of more than 18 bytes is a time stamp whose date
// comes first.
constexpr std::size_t DATE_LENGTH = 10;
constexpr std::size_t STAMP_LENGTH_OVER = 18;

// Two digits whatever the century: the layouts keep their columns in every year.
int two_digit_year(long year) { return static_cast<int>(((year % 100) + 100) % 100); }

unsigned days_in_month(unsigned year, unsigned month)
{
    static constexpr unsigned days[] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month];
}

std::string formatted(const char *format, auto... values)
{
    char text[64];  // the widest layout with the widest numbers takes under 40
    const int n = std::snprintf(text, sizeof text, format, values...);
    return std::string(text, std::min(static_cast<std::size_t>(n < 0 ? 0 : n), sizeof text - 1));
}

void date_current(int nargs, int last, Stack *result)
{
    if (nargs < 1) Xerror(200, "IDATEC$: wrong number of arguments (%d)", nargs);
    const int layout = integer(Stk[last]);
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    set_text(result, date_current_text(layout, t));
}

void date_print(int nargs, int last, Stack *result)
{
    if (nargs != 2) Xerror(200, "IDATEP$: wrong number of arguments (%d)", nargs);
    set_text(result, date_print_text(integer(arg(nargs, last, 0)), text(arg(nargs, last, 1))));
}

} // namespace

namespace {

constexpr IntrinsicRow rows[] = {
    {in_IDATEC, date_current},
    {in_IDATEP, date_print},
};

} // namespace

std::span<const IntrinsicRow> dates_intrinsics() { return rows; }

std::string date_current_text(int layout, const std::tm &t)
{
    const long year = 1900L + t.tm_year;
    const int wday = t.tm_wday >= 0 && t.tm_wday < 7 ? t.tm_wday : 0;
    const int mon = t.tm_mon >= 0 && t.tm_mon < 12 ? t.tm_mon + 1 : 0;
    switch (layout) {
    case 0: return formatted("%04ld-%02d-%02d", year, t.tm_mon + 1, t.tm_mday);
    case 1:
        return formatted("%s  %02d %s %02d  %02d:%02d", weekdays[wday], t.tm_mday, months[mon], two_digit_year(year),
                         t.tm_hour, t.tm_min);
    case 2: return formatted("%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    case 3:
        return formatted("%04ld-%02d-%02d %02d:%02d:%02d", year, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                         t.tm_sec);
    default: return {};
    }
}

std::string date_print_text(int layout, std::string_view date)
{
    if (date.size() > STAMP_LENGTH_OVER) date = date.substr(0, DATE_LENGTH);
    if (date.size() != DATE_LENGTH) return std::string(unreadable_date);
    bool all_space = true;
    for (char c : date) all_space = all_space && std::isspace(static_cast<unsigned char>(c));
    if (all_space) return std::string(date);
    // The separators may be anything; what is left reads as year, month and day, each after
    // leading blanks as at most 4, 2 and 2 digits. Digits only: a sign would read "-1" as a huge
    // unsigned day.
    char text[DATE_LENGTH + 1];
    date.copy(text, DATE_LENGTH);
    text[DATE_LENGTH] = '\0';
    text[4] = text[7] = ' ';
    char year_digits[5], month_digits[3], day_digits[3];
    if (std::sscanf(text, " %4[0-9] %2[0-9] %2[0-9]", year_digits, month_digits, day_digits) != 3)
        return std::string(unreadable_date);
    const unsigned year = static_cast<unsigned>(std::atoi(year_digits)),
                   month = static_cast<unsigned>(std::atoi(month_digits)),
                   day = static_cast<unsigned>(std::atoi(day_digits));
    // Only a date of the calendar is shown: the month names a table entry, and a day its month
    // does not have (31 February) would print as a date that never was.
    if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month)) return std::string(unreadable_date);
    const int yy = two_digit_year(year);
    switch (layout) {
    case 0: return formatted("%02u%s%02d", day, months[month], yy);
    case 1: return formatted("%02u %s %02d", day, months[month], yy);
    case 2: return formatted("%02u%s%04u", day, months[month], year);
    case 3: return formatted("%02u %s %04u", day, months[month], year);
    default: return {};
    }
}
