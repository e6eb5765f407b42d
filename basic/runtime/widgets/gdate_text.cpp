// What the date field decides without a display: the three forms of a date and the turning of
// one into another, the Enter check of a whole date, and the key rules of the editing mask.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gdate.h"
#include "message.h"

namespace {

constexpr const char *month_names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr const char *invalid_stroke = "An invalid key stroke while in a date field";
constexpr const char *invalid_character = "Pressed an invalid character while in a date field";

// n characters from i, blanks standing for those beyond the end.
std::string part(std::string_view text, std::size_t i, std::size_t n)
{
    std::string s = i < text.size() ? std::string(text.substr(i, n)) : "";
    s.resize(n, ' ');
    return s;
}

char char_at(std::string_view text, std::size_t i) { return i < text.size() ? text[i] : ' '; }

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool only(std::string_view text, std::string_view allowed)
{
    for (char c : text)
        if (!is_space(c) && allowed.find(c) == std::string_view::npos) return false;
    return true;
}
bool blank(std::string_view text) { return only(text, ""); }

// The century of a two-digit year by its first digit.
std::string century(char first) { return first == '7' || first == '8' || first == '9' ? "19" : "20"; }

// The month number of a display-form name, 0 when unknown.
int month_number(std::string_view name)
{
    for (int m = 0; m < 12; ++m)
        if (name == month_names[m]) return m + 1;
    return 0;
}

std::string two_digits(int n)
{
    char s[16];
    std::snprintf(s, sizeof s, "%02d", n);
    return s;
}

// A month number in the editing and stored forms; "**" when unknown.
std::string month_digits(int m) { return m >= 1 && m <= 12 ? two_digits(m) : "**"; }

// The integer of a text, as atoi reads it.
int integer_of(const std::string &text) { return std::atoi(text.c_str()); }

// An editing-form part read as an integer: blanks skipped, at most two digits; "00" when it
// holds no digit.
std::string read_part(std::string_view text, std::size_t i)
{
    while (i < text.size() && text[i] == ' ') ++i;
    int n = 0, digits = 0;
    for (; digits < 2 && i < text.size() && is_digit(text[i]); ++i, ++digits) n = n * 10 + (text[i] - '0');
    return two_digits(n);
}

std::string empty_mask(int year_digits) { return year_digits == 4 ? "  /  /    " : "  /  /  "; }

bool is_slash_position(int p) { return p == 2 || p == 5; }

// The cursor one to the right or left, stepping over a slash.
int right_of(int c, int length)
{
    const int n = c + 1;
    return is_slash_position(n) && n < length ? n + 1 : n;
}
int left_of(int c)
{
    const int n = c - 1;
    return is_slash_position(n) ? n - 1 : n;
}

// February takes no day above 29; April, June, September and November none above 30.
bool day_fits_month(int day, int month)
{
    if (month == 2) return day <= 29;
    if (month == 4 || month == 6 || month == 9 || month == 11) return day <= 30;
    return true;
}

// gdate_put_num: digit v typed with the cursor at c.
DateKey put_digit(std::string_view text, int c, int v, int year_digits)
{
    const int length = year_digits + 6;
    std::string mask = "  /  /    ";
    mask.replace(0, std::min<std::size_t>(text.size(), 10), text.substr(0, 10));
    if (only(text, "/")) mask = "  /  /    ";
    mask.resize(static_cast<std::size_t>(length));
    const int p = is_slash_position(c) ? c + 1 : c;
    DateKey refused{mask, c, invalid_character, false};
    if (v < 0 || v > 9 || p < 0 || p >= length) return refused;

    const auto digit = [&](int i) { return is_digit(mask[i]) ? mask[i] - '0' : -1; };
    const int day = integer_of(mask.substr(0, 2));
    bool ok = true;
    switch (p) {
    case 0: ok = v <= 3; break;
    case 1: ok = !(digit(0) == 3 && v > 1) && !(digit(0) == 0 && v == 0); break;
    case 3: ok = v <= 1; break;
    case 4: {
        ok = !(digit(3) == 1 && v > 2) && !(digit(3) == 0 && v == 0);
        // The mask always has its first slash within the first characters, so the day is
        // checked against the month at every month units and first year digit.
        const int month = (digit(3) > 0 ? digit(3) * 10 : 0) + v;
        ok = ok && day_fits_month(day, month);
        break;
    }
    case 6:
        ok = (year_digits != 4 || v == 1 || v == 2) && day_fits_month(day, integer_of(mask.substr(3, 2)));
        break;
    default: break;
    }
    if (!ok) return refused;
    mask[static_cast<std::size_t>(p)] = static_cast<char>('0' + v);
    return {mask, std::min(right_of(p, length), length), nullptr, false};
}

int digit_of_key(guint keyval)
{
    if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return static_cast<int>(keyval - GDK_KEY_0);
    if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return static_cast<int>(keyval - GDK_KEY_KP_0);
    return -1;
}

bool ignored_key(guint keyval)
{
    switch (keyval) {
    case GDK_KEY_Linefeed:
    case GDK_KEY_Clear:
    case GDK_KEY_Pause:
    case GDK_KEY_Scroll_Lock:
    case GDK_KEY_Sys_Req:
    case GDK_KEY_Multi_key:
    case GDK_KEY_Num_Lock:
    case GDK_KEY_Shift_L:
    case GDK_KEY_Shift_R:
    case GDK_KEY_Control_L:
    case GDK_KEY_Control_R:
    case GDK_KEY_Caps_Lock:
    case GDK_KEY_Shift_Lock:
    case GDK_KEY_Meta_L:
    case GDK_KEY_Meta_R:
    case GDK_KEY_Alt_L:
    case GDK_KEY_Alt_R:
    case GDK_KEY_Super_L:
    case GDK_KEY_Super_R:
    case GDK_KEY_Hyper_L:
    case GDK_KEY_Hyper_R: return true;
    default: return false;
    }
}

bool engine_key(guint keyval)
{
    switch (keyval) {
    case GDK_KEY_ISO_Left_Tab:
    case GDK_KEY_Tab:
    case GDK_KEY_Return:
    case GDK_KEY_Escape:
    case GDK_KEY_KP_Enter: return true;
    default: return keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12;
    }
}

} // namespace

std::string gdate_stored_form(std::string_view text, int year_digits)
{
    if (year_digits != 2 && year_digits != 4)
        Abort("gdate_read_widget: Found year of %d digits when expecting 2 or 4", year_digits);
    if (only(text, "/")) return std::string(10, ' ');
    if (char_at(text, 2) != '/') {
        // The display form: DDMonYY or DDMonYYYY.
        const std::string year = text.size() == 7 ? century(char_at(text, 5)) + part(text, 5, 2) : part(text, 5, 4);
        return year + "-" + month_digits(month_number(part(text, 2, 3))) + "-" + part(text, 0, 2);
    }
    const std::string year = year_digits == 4 ? part(text, 6, 4) : century(char_at(text, 6)) + part(text, 6, 2);
    return year + "-" + read_part(text, 3) + "-" + read_part(text, 0);
}

std::string gdate_editing_form(std::string_view text, int year_digits)
{
    if (year_digits != 2 && year_digits != 4)
        Abort("gdate_display_input: Found year of %d digits when expecting 2 or 4", year_digits);
    if (char_at(text, 2) == '/') return std::string(text);
    if (blank(text)) return std::string(static_cast<std::size_t>(year_digits + 6), ' ');
    std::string year;
    if (year_digits == 2) year = part(text, 5, 2);
    else year = text.size() == 7 ? century(char_at(text, 5)) + part(text, 5, 2) : part(text, 5, 4);
    return part(text, 0, 2) + "/" + month_digits(month_number(part(text, 2, 3))) + "/" + year;
}

std::string gdate_display_form(std::string_view stored, int year_digits)
{
    const std::string blanks(year_digits == 4 ? 9 : 7, ' ');
    if (stored.size() < 10 && !blank(stored))
        Abort("Unexpected date format '%.*s' was expecting at least ten characters", static_cast<int>(stored.size()),
              stored.data());
    if (only(stored, "-") || (stored.starts_with("20") && only(stored.substr(2), "-*"))) return blanks;
    const int month = integer_of(part(stored, 5, 2));
    const int day = integer_of(part(stored, 8, 2));
    std::string year = part(stored, 0, 4);
    if (year_digits != 4) {
        const int y = integer_of(year);
        year = y >= 1970 && y <= 2069 ? year.substr(2) : "**";
    }
    return two_digits(day) + (month >= 1 && month <= 12 ? month_names[month - 1] : "***") + year;
}

void gdate_format_display3(char *buffer, int size, int year_digits)
{
    const std::string stored(buffer, strnlen(buffer, static_cast<std::size_t>(std::max(size, 0))));
    const std::string editing = gdate_editing_form(gdate_display_form(stored, year_digits), year_digits);
    if (static_cast<int>(editing.size()) >= size) Abort("gdate_format_display3 buffer overflow");
    std::copy(editing.begin(), editing.end(), buffer);
    buffer[editing.size()] = '\0';
}

std::string gdate_check(std::string_view stored, int year_digits)
{
    if (blank(stored)) return {};
    const int year = integer_of(part(stored, 0, 4));
    const int month = integer_of(part(stored, 5, 2));
    const int day = integer_of(part(stored, 8, 2));
    // Each later failure replaces the message of an earlier one.
    std::string message;
    if ((month == 4 || month == 6 || month == 9 || month == 11) && day > 30)
        message = "Day must be less than 31 and format is DD/MM/YYYY";
    if (month == 2) {
        const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
        if (leap && day > 29) message = "Day must be less than 30 and format is DD/MM/YYYY";
        else if (!leap && day == 29) message = "Is not a leap year and format is DD/MM/YYYY";
        else if (!leap && day > 29) message = "Day must be less than 29 and format is DD/MM/YYYY";
    }
    if (day <= 0) message = "Day must be greater then zero and format is DD/MM/YYYY";
    else if (day >= 32) message = "Day must be less than 32 and format is DD/MM/YYYY";
    if (month <= 0) message = "Month must be greater then zero and format is DD/MM/YYYY";
    else if (month >= 13) message = "Month must be less than 13 and format is DD/MM/YYYY";
    if (year <= 1799) message = "Year must be greater then 1800 and format is DD/MM/YYYY";
    else if (year >= 2801) message = "Year must be less than 2800 and format is DD/MM/YYYY";
    if (!message.empty() && year_digits == 2) message.resize(message.size() - 2);
    return message;
}

DateKey gdate_key(std::string_view text, int cursor, guint keyval, int year_digits)
{
    const int length = year_digits + 6;
    const std::string same(text);
    if (keyval == 0 || ignored_key(keyval)) return {same, cursor, nullptr, false};
    if (const int v = digit_of_key(keyval); v >= 0) return put_digit(text, cursor, v, year_digits);
    if (engine_key(keyval))
        Abort("gdate_on_key_press: Should not get here. Keyval %d should have been handled in the calling function "
              "on_key_press_event",
              static_cast<int>(keyval));
    switch (keyval) {
    case GDK_KEY_space:
        if (cursor <= 0) return {empty_mask(year_digits), 0, nullptr, false};
        if (cursor >= length) return {same, length, invalid_stroke, false};
        return {same, std::min(right_of(cursor, length), length), nullptr, false};
    case GDK_KEY_BackSpace:
        if (cursor >= length) return {empty_mask(year_digits), 0, nullptr, false};
        if (cursor <= 0) return {same, 0, invalid_stroke, false};
        return {same, std::max(left_of(cursor), 0), nullptr, false};
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home: return {same, 0, nullptr, false};
    case GDK_KEY_End:
    case GDK_KEY_KP_End: return {same, length, nullptr, false};
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left:
        if (cursor <= 0) return {same, 0, invalid_character, false};
        return {same, std::max(left_of(cursor), 0), nullptr, false};
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right:
        if (cursor >= length) return {same, length, invalid_character, false};
        return {same, std::min(right_of(cursor, length), length), nullptr, false};
    case GDK_KEY_Up:
    case GDK_KEY_Down:
    case GDK_KEY_KP_Up:
    case GDK_KEY_KP_Down: return {same, cursor, nullptr, true};
    default: return {same, cursor, invalid_character, false};
    }
}
