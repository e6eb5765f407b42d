// What the input field decides about text, without a display: its input types, the characters
// each type lets through, the Enter check of a whole value, and the forms of numbers (commas
// removed for editing, formatted for display).
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <regex.h>

#include "ginput.h"
#include "gwidget.h"
#include "message.h"

namespace {

bool is_number_type(char letter) { return letter == 'n' || letter == 'm'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool no_decimals_mark(char c) { return c == '0' || c == 'b' || c == '-'; }

// The character at i of a type, '\0' beyond its end.
char at(std::string_view type, std::size_t i) { return i < type.size() ? type[i] : '\0'; }

// Positive number types carry a plus sign first or second after the letter.
bool positive(std::string_view type) { return at(type, 1) == '+' || at(type, 2) == '+'; }

// The decimals character of a number type: behind the letter, a comma or a plus sign.
char decimals_char(std::string_view type)
{
    const char t1 = at(type, 1), t2 = at(type, 2);
    if (t1 == ',') return t2 == '+' ? at(type, 3) : t2;
    if (t1 == '+') return t2;
    return t1;
}

// What a number type lets through besides digits.
struct NumberChars {
    bool any;    // false: nothing at all
    bool point;  // a decimal point
    bool minus;  // a minus sign (at the beginning only)
};
NumberChars number_chars(std::string_view type)
{
    const char t1 = at(type, 1), t2 = at(type, 2);
    if (positive(type)) {
        const char d = t1 == '+' ? t2 : t1 == ',' ? at(type, 3) : '\0';
        if (d >= '1' && d <= '9') return {true, true, false};
        if (no_decimals_mark(d)) return {true, false, false};
        return {false, false, false};
    }
    if (t1 >= '1' && t1 <= '9') return {true, true, true};
    if (t1 == '0') return {true, false, true};
    if (t1 == ',') {
        if (t2 >= '1' && t2 <= '9') return {true, true, true};
        if (no_decimals_mark(t2)) return {true, false, true};
        return {false, false, false};
    }
    if (t1 == 'b' || t1 == '-') return {true, false, false};
    return {false, false, false};
}

// The decimals the insert filter allows: the first digit of the type, 0 when it has none.
int typed_decimals(std::string_view type)
{
    for (char c : type)
        if (is_digit(c)) return c - '0';
    return 0;
}

std::size_t decimals_of(std::string_view text)
{
    const std::size_t point = text.find('.');
    return point == std::string_view::npos ? 0 : text.size() - point - 1;
}

// The number check of Enter: digits and at most one point, at most d decimals, none when d is 0.
std::string number_message(std::string_view value, int d)
{
    std::size_t points = 0;
    bool ok = true;
    for (char c : value) {
        if (c == '.') ++points;
        else if (!is_digit(c)) ok = false;
    }
    ok = ok && points <= 1 && (points == 0 || (d > 0 && decimals_of(value) <= static_cast<std::size_t>(d)));
    if (ok) return {};
    if (d >= 1) return "Input a number with at most " + std::to_string(d) + " decimal places";
    return "Input a number without decimal places";
}

bool all_of(std::string_view value, bool (*accept)(gunichar))
{
    for (gunichar c : characters(value))
        if (!accept(c)) return false;
    return true;
}

// Whole characters by GLib's Unicode classes, so that a clerk's "Öberg" or "José" is a name like
// any other, whatever the locale.
bool alphabetic(gunichar c) { return g_unichar_isalpha(c) != 0; }
bool alphanumeric(gunichar c) { return g_unichar_isalpha(c) || g_unichar_isdigit(c); }
bool printable(gunichar c) { return g_unichar_isprint(c) != 0 && c != '\\'; }

// Whether value matches a POSIX extended expression anywhere (a mask that must cover the whole
// value says so with ^ and $).
bool mask_matches(const char *mask, const std::string &value)
{
    regex_t re;
    if (regcomp(&re, mask, REG_EXTENDED | REG_NOSUB) != 0)
        Abort("ginput_match: Error in compiling regular expression: %s", mask);
    const bool matched = regexec(&re, value.c_str(), 0, nullptr, 0) == 0;
    regfree(&re);
    return matched;
}

} // namespace

std::string ginput_normalise_type(std::string_view type)
{
    std::string t(type.substr(0, type.find_last_not_of(' ') + 1));
    if (!t.empty() && is_number_type(t[0]) && t.find_first_of("0123456789", 1) == std::string::npos) t += '0';
    return t;
}

bool ginput_type_valid(std::string_view type)
{
    if (type.empty()) return false;
    std::string_view rest = type.substr(1);
    switch (type[0]) {
    case 'a':
    case 'c':
    case 's':
    case 'p': return rest.empty() || rest == "u";
    case 'n':
        if (rest.find_first_of("b-") != std::string_view::npos) return true;
        if (!rest.empty() && rest[0] == ',') rest.remove_prefix(1);
        [[fallthrough]];
    case 'm':
        if (!rest.empty() && rest[0] == '+') rest.remove_prefix(1);
        return rest.empty() || (rest.size() == 1 && is_digit(rest[0]));
    default: return false;
    }
}

bool ginput_is_valid_char(std::string_view type, gunichar c, int position)
{
    if (type.size() >= 16) Abort("Invalid Input Type: '%.*s'", static_cast<int>(type.size()), type.data());
    switch (at(type, 0)) {
    case 'a': return alphabetic(c);
    case 'c': return alphanumeric(c);
    case 'p':
    case 's': return printable(c);
    case 'n':
    case 'm': {
        const NumberChars allowed = number_chars(type);
        if (!allowed.any) return false;
        if (c >= '0' && c <= '9') return true;
        if (c == '.') return allowed.point;
        return c == '-' && allowed.minus && position == 0;
    }
    default: Abort("ginput_is_valid_char: Invald input type: %.*s", static_cast<int>(type.size()), type.data());
    }
}

gunichar ginput_convert_toupper(gunichar c, std::string_view type)
{
    const char letter = at(type, 0);
    const bool upper = (letter == 'a' || letter == 'c' || letter == 'p' || letter == 's') && at(type, 1) == 'u';
    return upper ? g_unichar_toupper(c) : c;
}

InputInsert ginput_filter_insert(std::string_view type, std::string_view current, std::string_view inserted,
                                 int position)
{
    const bool number = is_number_type(at(type, 0));
    std::string text(trimmed(current));
    if (number && inserted == " " && text.empty()) return {InputInsert::dropped, {}};
    // The insertion point as a byte offset into the trimmed text; npos when beyond its end.
    std::size_t point = std::string::npos;
    if (position >= 0 && position <= g_utf8_strlen(text.c_str(), static_cast<gssize>(text.size())))
        point = static_cast<std::size_t>(g_utf8_offset_to_pointer(text.c_str(), position) - text.c_str());
    const int max_decimals = typed_decimals(type);

    std::string out;
    int i = 0;  // characters inserted so far
    for (gunichar c : characters(inserted)) {
        if (!ginput_is_valid_char(type, c, position + i++)) return {InputInsert::refused, {}};
        const gunichar accepted = ginput_convert_toupper(c, type);
        if (number) {
            // Numbers take ASCII characters only: one byte each.
            if (point == std::string::npos) return {InputInsert::refused, {}};
            text.insert(point + out.size(), 1, static_cast<char>(accepted));
            if (decimals_of(text) > static_cast<std::size_t>(max_decimals)) return {InputInsert::refused, {}};
        }
        append_char(out, accepted);
    }
    return {InputInsert::accepted, out};
}

std::string ginput_value_message(std::string_view type, std::string_view value, int min_length, bool required,
                                 const char *mask, const char *mask_message, bool forgive_mismatch)
{
    const std::string v(trimmed(value));
    const auto length = static_cast<int>(g_utf8_strlen(v.c_str(), static_cast<gssize>(v.size())));
    if (length < min_length && (required || !v.empty()))
        return "Entered " + std::to_string(length) + " characters, minimum number required is " +
               std::to_string(min_length) + ".";
    switch (at(type, 0)) {
    case 'a': return all_of(v, alphabetic) ? "" : "Input must be alphabetic character";
    case 'c': return all_of(v, alphanumeric) ? "" : "Input must be alphabetic character or a digit";
    case 's': return all_of(v, printable) ? "" : "Input must be printable character or space and not '\\'";
    case 'p':
        if (v.empty() || mask_matches(mask ? mask : "", v) || forgive_mismatch) return {};
        return mask_message ? mask_message : "";
    case 'n':
    case 'm': {
        if (v.starts_with("--")) return {};
        const char d = decimals_char(type);
        const int decimals = is_digit(d) ? d - '0' : 0;
        if (v.starts_with('-')) {
            if (positive(type)) return "Input must be +ve";
            return number_message(std::string_view(v).substr(1), decimals);
        }
        return number_message(v, decimals);
    }
    default: Abort("Invalid input validation type: %.*s", static_cast<int>(type.size()), type.data());
    }
}

std::string ginput_remove_commas(std::string_view text)
{
    std::string out = text.find('-') != std::string_view::npos ? "-" : "";
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ',' || c == '-') continue;
        if (std::isspace(static_cast<unsigned char>(c))) break;
        out += c;
    }
    return out;
}

// ginput_format_numeric:
// 1. Commas for m types and for a comma after the letter (or after a plus sign behind it); a
//    plus sign skipped; the decimals d are the number that follows (0 for a non-digit).
// 2. The number: a leading "-" noted; the leading run of digits with at most one point; decimals
//    beyond d cut (never rounded), d = 0 ending the text before the point, missing decimals filled
//    with "0".
// 3. L = digits before the point + d + 1 (when d > 0) + 1 (when negative). With commas wanted
//    but L wider than the width, no commas and the number as given (neither cut nor filled).
//    Otherwise a comma after every third digit leftwards from the point, leaving out as many
//    of the leftmost as the width needs.
// 4. n: "-" first when negative; m: "-" last when negative, else a blank. A leading point gets
//    a "0" before it. An n type without commas is cut to the width.
std::string ginput_format_numeric(std::string_view value, int width, std::string_view type)
{
    const bool m = at(type, 0) == 'm';
    std::size_t i = 1;
    bool commas = m;
    if (at(type, i) == ',') {
        commas = true;
        ++i;
    }
    if (at(type, i) == '+') ++i;
    // Label formats put the comma behind the plus sign (n+,2): it asks for commas all the same.
    if (at(type, i) == ',' && at(type, i - 1) == '+') {
        commas = true;
        ++i;
    }
    const std::string rest(type.substr(std::min(i, type.size())));
    const long precision = std::strtol(rest.c_str(), nullptr, 10);
    if (precision < 0 || precision > 9)
        Abort("Numeric precision %ld out of range 0..9 for type %.*s", precision, static_cast<int>(type.size()),
              type.data());
    const auto d = static_cast<std::size_t>(precision);

    if (value.size() > static_cast<std::size_t>(std::max(width, 0)))
        Email(SUPPORT_ADDRESS, "size: %d !fit into %d for input:%.*s -- type:%.*s @ ginput_format_numeric",
              static_cast<int>(std::min<std::size_t>(value.size(), INT_MAX)), width, static_cast<int>(value.size()),
              value.data(), static_cast<int>(type.size()), type.data());

    std::size_t p = 0;
    const bool negative = !value.empty() && value[0] == '-';
    if (negative) ++p;
    std::string run;
    bool point = false;
    for (; p < value.size(); ++p) {
        const char c = value[p];
        if (is_digit(c)) run += c;
        else if (c == '.' && !point) point = true, run += c;
        else break;
    }
    const std::size_t dot = run.find('.');
    const std::string whole = run.substr(0, dot);
    std::string number = whole;
    if (d > 0) {
        std::string fraction = dot == std::string::npos ? "" : run.substr(dot + 1, d);
        fraction.resize(d, '0');
        number += "." + fraction;
    }
    const std::size_t length = whole.size() + (d > 0 ? d + 1 : 0) + (negative ? 1 : 0);
    const auto room = static_cast<std::size_t>(std::max(width, 0));

    if (commas && length > room) {
        number = run;
    } else if (commas && whole.size() > 3) {
        const std::size_t all = (whole.size() - 1) / 3;
        const std::size_t left_out = length + all > room ? length + all - room : 0;
        std::string grouped;
        std::size_t comma = 0;  // commas passed, counted from the left
        for (std::size_t k = 0; k < whole.size(); ++k) {
            grouped += whole[k];
            const std::size_t after = whole.size() - k - 1;
            if (after > 0 && after % 3 == 0 && ++comma > left_out) grouped += ',';
        }
        number = grouped + number.substr(whole.size());
    }
    if (!number.empty() && number[0] == '.') number.insert(0, "0");
    std::string out;
    if (m) {
        out = number + (negative ? "-" : " ");
    } else {
        out = (negative ? "-" : "") + number;
        if (!commas && out.size() > room) out.resize(room);
    }
    return out;
}

std::string ginput_add_commas1(std::string_view text, int width, std::string_view type)
{
    if (text.empty()) return {};
    const std::size_t first = text.find_first_not_of(" 0");
    if (first == std::string_view::npos) return text.back() == '0' ? "0" : "";
    std::string significant(text.substr(first));
    if (significant[0] == '.') significant.insert(0, "0");
    return ginput_format_numeric(ginput_remove_commas(significant), width, type);
}
