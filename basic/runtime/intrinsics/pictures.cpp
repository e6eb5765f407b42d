// Numbers laid out for print: amount columns with thousands separators and a trailing sign
// column (CPMED$, CPMEDZ$), and picture editing (EDIT$). Both work on the number's decimal text
// and write into an area the caller gives, so a call allocates nothing but its result text.
#include <algorithm>
#include <cstring>

#include "cases.h"
#include "formatting.h"
#include "intrinsic_dispatch.h"
#include "message.h"

namespace {

using namespace intr;

// The digits of a number's decimal text: sign, integer digits (at least one for any value but a
// null one), fraction digits.
struct DecimalText {
    bool negative = false;
    std::string_view integer, fraction;
};

// The number with all its decimals as the decimal arithmetic writes it ("-12.5", "5.0"), in
// field; a null number gives the empty text. The field is wider than any decimal's text.
constexpr int NUMBER_FIELD = 200;
std::string_view number_text(const dec_t *value, char (&field)[NUMBER_FIELD])
{
    NumericToASC(value, field, NUMBER_FIELD, -1);
    const void *blank = std::memchr(field, ' ', NUMBER_FIELD);  // the text is blank-filled on the right
    return {field, blank ? static_cast<std::size_t>(static_cast<const char *>(blank) - field) : NUMBER_FIELD};
}

DecimalText split(std::string_view text)
{
    DecimalText d;
    if (!text.empty() && text.front() == '-') {
        d.negative = true;
        text.remove_prefix(1);
    }
    const std::size_t point = text.find('.');
    d.integer = text.substr(0, point);
    if (point != std::string_view::npos) d.fraction = text.substr(point + 1);
    return d;
}

// ---- Amount columns ---------------------------------------------------------------------------

// s right-aligned in width columns at the start of out; a longer s is written whole, as "%*s"
// would. Returns the length written.
std::size_t right_aligned(std::string_view s, int width, char *out)
{
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t pad = s.size() < w ? w - s.size() : 0;
    std::memset(out, ' ', pad);
    s.copy(out + pad, s.size());
    return pad + s.size();
}

// flag 1: CPMED$, whose optional fourth argument is the zero text; flag 0: CPMEDZ$, which shows
// zero as dashes (a fourth argument given to it is not looked at).
void cpmed(int nargs, int last, int flag, Stack *result)
{
    const char *name = flag ? "CPMED$" : "CPMEDZ$";
    if (nargs != 3 && nargs != 4) Xerror(200, "%s: wrong number of arguments (%d)", name, nargs);
    const dec_t *value = number(arg(nargs, last, 0));
    const int width = integer(arg(nargs, last, 1));
    const int decimals = integer(arg(nargs, last, 2));
    ZeroForm zero = flag ? ZeroForm::number : ZeroForm::dashes;
    std::string_view zero_text;
    if (flag && nargs == 4) {
        zero = ZeroForm::text;
        zero_text = text(arg(nargs, last, 3));
    }
    char area[CPMED_MAX_WIDTH];
    const std::size_t n = cpmed_column(value, width, decimals, zero, zero_text, std::span<char, CPMED_MAX_WIDTH>(area), name);
    set_text(result, {area, n});
}

void CPMED_case(int nargs, int last, Stack *result) { cpmed(nargs, last, 1, result); }
void CPMEDZ_case(int nargs, int last, Stack *result) { cpmed(nargs, last, 0, result); }

// ---- Picture editing --------------------------------------------------------------------------

// What a picture character stands for at its place.
enum class Column {
    implied_point,  // "V": no column
    integer_digit,  // 9 Z $ * and + - before "V" (not first or last)
    decimal_digit,  // 9 Z z after "V"
    sign,           // trailing + or -, or + - after "V"
    floating,       // the first column of a floating sign or fill
    point,          // "."
    literal,        // anything else
};

struct Picture {
    std::string_view text;
    std::size_t v = std::string_view::npos;      // index of "V"
    std::size_t point = std::string_view::npos;  // index of "."
    std::size_t decimals = 0;                    // 9 Z z after "V"
    bool star = false;                           // a "*" fills the empty columns left of the number
    bool floating_sign = false, floating_fill = false;

    Column column(std::size_t i) const
    {
        const char c = text[i];
        const bool after_v = v != std::string_view::npos && i > v;
        if (c == 'V' && i == v) return Column::implied_point;
        if (i == 0 && (floating_sign || floating_fill)) return Column::floating;
        if ((c == '+' || c == '-') && (i == text.size() - 1 || after_v)) return Column::sign;
        if (c == '.') return Column::point;
        if (after_v) return c == '9' || c == 'Z' || c == 'z' ? Column::decimal_digit : Column::literal;
        if (c == '9' || c == 'Z' || c == '$' || c == '*' || c == '+' || c == '-') return Column::integer_digit;
        return Column::literal;
    }

    // The output column of picture index i (the "V" takes none).
    std::size_t at(std::size_t i) const { return v != std::string_view::npos && i > v ? i - 1 : i; }
    std::size_t width() const { return text.size() - (v != std::string_view::npos ? 1 : 0); }
};

Picture read_picture(std::string_view text)
{
    if (text.size() >= EDIT_AREA)
        Xerror(202, "EDIT$: picture of %zu bytes is longer than %zu", text.size(), EDIT_AREA - 1);
    Picture p;
    p.text = text;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == 'V') {
            if (p.v != std::string_view::npos) Xerror(202, "EDIT$: Bad format string");
            p.v = i;
        } else if (c == '.') {
            if (p.point != std::string_view::npos) Xerror(202, "EDIT$: Bad format string");
            p.point = i;
        } else if (c == 'z' && p.v == std::string_view::npos) {
            Xerror(202, "EDIT$: z designator mis-placed");
        }
        if (p.v != std::string_view::npos && i > p.v && (c == '9' || c == 'Z' || c == 'z')) ++p.decimals;
    }
    p.star = text.find('*') != std::string_view::npos;
    if (text.size() >= 2) {
        const char first = text[0];
        p.floating_sign = first == '+' || first == '-';
        p.floating_fill = text[1] == first && !std::strchr("9Zz-+*", first);
    }
    return p;
}

// The sign a sign column shows: "-" for a negative number, else "+" under "+" and a blank under "-".
char sign_of(char picture_char, bool negative) { return negative ? '-' : picture_char == '+' ? '+' : ' '; }

// Drops the "z" columns after the point that hold no digit or a trailing zero; sign columns
// among them stay. Returns the new width. Without a point nothing is dropped: the decimals stand
// at an implied point that only their columns place, so a "z" without a digit shows "0".
std::size_t drop_trailing_z(const Picture &p, std::size_t missing, char *out)
{
    if (p.point == std::string_view::npos) return p.width();
    std::size_t cut = p.width(), seen = 0;
    for (std::size_t i = p.text.size(); i-- > p.point + 1;) {
        const Column k = p.column(i);
        if (k == Column::sign || k == Column::implied_point) continue;
        if (k != Column::decimal_digit) break;
        ++seen;
        const bool had_digit = seen > missing;
        if (p.text[i] != 'z' || (had_digit && out[p.at(i)] != '0')) break;
        cut = p.at(i);
    }
    std::size_t w = cut;
    for (std::size_t col = cut; col < p.width(); ++col) {
        const std::size_t i = p.v != std::string_view::npos && col >= p.v ? col + 1 : col;
        if (p.column(i) == Column::sign) out[w++] = out[col];
    }
    return w;
}

void EDIT_case(int nargs, int last, Stack *result)
{
    if (nargs != 2) Xerror(200, "EDIT$: wrong number of arguments (%d)", nargs);
    const dec_t *value = number(arg(nargs, last, 0));
    const std::string_view picture = text(arg(nargs, last, 1));
    char area[EDIT_AREA];
    const std::size_t n = zedit(value, picture, std::span<char, EDIT_AREA>(area));
    set_text(result, {area, n});
}

} // namespace

namespace {

constexpr IntrinsicRow rows[] = {
    {in_CPMED, CPMED_case},
    {in_CPMEDZ, CPMEDZ_case},
    {in_EDIT, EDIT_case},
};

} // namespace

std::span<const IntrinsicRow> pictures_intrinsics() { return rows; }

std::size_t cpmed_column(const dec_t *value, int width, int decimals, ZeroForm zero, std::string_view zero_text,
                         std::span<char, CPMED_MAX_WIDTH> out, const char *intrinsic)
{
    if (width < 0 || width > CPMED_MAX_WIDTH)
        Xerror(202, "%s: width %d is outside 0..%d", intrinsic, width, CPMED_MAX_WIDTH);
    if (decimals < 0) Xerror(202, "%s: number of decimals %d is negative", intrinsic, decimals);
    char *o = out.data();
    const bool is_zero = value->dec_pos == DECPOSNULL || value->dec_ndgts == 0;
    if (is_zero && zero == ZeroForm::dashes) {
        // The dashes are kept to the column like digits that do not fit: a narrower column is
        // all asterisks, never a text that runs into the next one.
        if (width < 3) {
            std::memset(o, '*', static_cast<std::size_t>(width));
            return static_cast<std::size_t>(width);
        }
        return right_aligned("-- ", width, o);
    }
    if (is_zero && zero == ZeroForm::text)
        return right_aligned(zero_text.substr(0, static_cast<std::size_t>(std::max(width - 1, 0))), width, o);

    // Trailing zeros of the text do not matter: the decimals are cut or padded with zeros.
    char field[NUMBER_FIELD];
    DecimalText d = split(number_text(value, field));
    if (d.integer.empty()) d.integer = "0";  // a null number shows as zero
    const std::size_t w = static_cast<std::size_t>(width);
    // Built from the right: sign column, then the point and the decimals, then the integer digits.
    const std::size_t tail = 1 + (decimals > 0 ? 1 + static_cast<std::size_t>(decimals) : 0);
    const std::size_t digits = d.integer.size();
    if (tail > w || w - tail < digits) {
        std::memset(o, '*', w);
        return w;
    }
    const std::size_t room = w - tail;
    // Separators fall from the left while the digits and their separators do not fit.
    const std::size_t separators = std::min((digits - 1) / 3, room - digits);
    const std::size_t body = digits + separators;
    std::memset(o, ' ', room - body);
    char *p = o + (room - body);
    for (std::size_t i = 0; i < digits; ++i) {
        const std::size_t left = digits - i;  // digits from here to the point
        *p++ = d.integer[i];
        if (left > 1 && (left - 1) % 3 == 0 && (left - 1) / 3 <= separators) *p++ = ',';
    }
    bool shown_zero = d.integer.find_first_not_of('0') == std::string_view::npos;
    if (decimals > 0) {
        *p++ = '.';
        const std::size_t taken = std::min(d.fraction.size(), static_cast<std::size_t>(decimals));
        d.fraction.copy(p, taken);
        shown_zero = shown_zero && d.fraction.substr(0, taken).find_first_not_of('0') == std::string_view::npos;
        std::memset(p + taken, '0', static_cast<std::size_t>(decimals) - taken);
        p += decimals;
    }
    // A negative value whose shown digits are all zero (-0.001 with two decimals) is shown as the
    // zero it reads as: a sign on 0.00 would tell of a debt the column does not show.
    *p = d.negative && !shown_zero ? '-' : ' ';
    return w;
}

std::size_t zedit(const dec_t *number, std::string_view picture, std::span<char, EDIT_AREA> out)
{
    const Picture p = read_picture(picture);
    // The number's decimals cut to the picture's (none without "V"): truncated, never rounded.
    char field[NUMBER_FIELD];
    DecimalText d = split(number_text(number, field));
    d.fraction = d.fraction.substr(0, p.decimals);
    const std::size_t missing = p.decimals - d.fraction.size();  // decimal columns beyond the number's

    // The digits from the right: fraction, then integer.
    const std::size_t count = d.integer.size() + d.fraction.size();
    auto digit = [&](std::size_t k) {  // the k-th digit from the right
        const std::size_t f = d.fraction.size();
        return k < f ? d.fraction[f - 1 - k] : d.integer[d.integer.size() - 1 - (k - f)];
    };
    // What the first column left of the number shows.
    const char fill = p.floating_fill ? picture[0] : p.floating_sign ? sign_of(picture[0], d.negative) : ' ';

    std::size_t placed = 0, decimal_seen = 0;
    bool fill_placed = false;
    char *o = out.data();
    for (std::size_t i = picture.size(); i-- > 0;) {
        const Column k = p.column(i);
        if (k == Column::implied_point) continue;
        char &c = o[p.at(i)];
        const char pc = picture[i];
        if (k == Column::sign) {
            c = sign_of(pc, d.negative);
            continue;
        }
        if (k == Column::decimal_digit) {
            // The columns beyond the number's decimals: "0" under "9", a blank under "Z"; a "z"
            // shows "0" until the trailing ones are dropped below.
            c = ++decimal_seen > missing ? digit(placed++) : pc == 'Z' ? ' ' : '0';
            continue;
        }
        if (placed < count) {
            if (k == Column::integer_digit) {
                c = digit(placed++);
            } else if (k == Column::floating) {
                break;  // the floating column belongs to the fill: the number does not fit
            } else {
                c = pc;  // the point and other characters within the number
            }
            continue;
        }
        // Left of the number.
        if (p.star) {
            c = '*';
        } else if (k == Column::point) {
            c = '.';
        } else if (k == Column::integer_digit && pc == '9') {
            c = '0';
        } else {
            c = fill_placed ? ' ' : fill;
            fill_placed = true;
        }
    }
    if (placed < count) {
        std::memset(o, '*', p.width());
        return p.width();
    }
    return drop_trailing_z(p, missing, o);
}
