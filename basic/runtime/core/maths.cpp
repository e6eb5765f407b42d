// The operators: arithmetic on decimals and the six comparisons (numbers or strings), whose
// result is a number held in the result entry's own decimal; string concatenation; and a
// decimal's shortest text, which a number stored into a string variable becomes.
#include <algorithm>
#include <cstring>

#include "exec_util.h"
#include "executor.h"
#include "mem_mgt.h"
#include "op_codes.h"
#include "run_time.h"
#include "value_stack.h"

namespace {

// A decimal's text needs at most 127 integer digits or "0.", 127 zeros and 32 digits, and a
// sign; the field is kept well clear of that so the text never reaches its end, without blank-
// filling a large buffer for every number.
constexpr int BCD_FIELD = 200;
char tstr1[BCD_FIELD + 1];

[[noreturn]] void arithmetic_failed(int status)
{
    switch (status) {
    case DEC_OVERFLOW: Xerror(204, "BCD Overflow");
    case DEC_UNDERFLOW: Xerror(204, "BCD Underflow");
    case DEC_DIVIDE_BY_ZERO: Xerror(204, "Attempt to divide by zero");
    default: Xerror(204, "BCD Error status %d", status);
    }
}

inline void check(int status)
{
    if (status != 0) arithmetic_failed(status);
}

// The answer of NumericCmp(v, &ZERO_DEC) == 0 without the call: a value without digits equals
// zero whatever its sign; a null compares as unknown.
inline bool is_zero(const dec_t *v) { return v->dec_pos != DECPOSNULL && v->dec_ndgts == 0; }

inline void set_truth(dec_t *r, bool value) { NumericCvINT(value ? 1 : 0, r); }

// Length-bounded comparison of two texts as unsigned bytes: a text that is a prefix of the
// other is the smaller; trailing blanks count.
int compare_texts(const Stack &left, const Stack &right)
{
    long ln = 0, rn = 0;
    const char *l = entry_text(left, &ln);
    const char *r = entry_text(right, &rn);
    const long n = std::min(ln, rn);
    if (n > 0) {
        const int c = std::memcmp(l, r, static_cast<std::size_t>(n));
        if (c != 0) return c < 0 ? -1 : 1;
    }
    return ln < rn ? -1 : (ln > rn ? 1 : 0);
}

int compare(const Stack &left, const Stack &right)
{
    if (left.s_t == real && right.s_t == real) return NumericCmp(numeric_of(left), numeric_of(right));
    if (left.s_t == string && right.s_t == string) return compare_texts(left, right);
    Abort("Cannot compare a %s with a %s", left.s_t == real ? "number" : "non-number",
          right.s_t == real ? "number" : "non-number");
}

// left - trunc(left / right) x right. The integer quotient must be known exactly: a quotient of
// more than 32 digits cannot be truncated to its integer and is an overflow; a quotient rounded
// up across an integer is corrected by one step of the divisor.
void remainder_of(const dec_t *left, const dec_t *right, dec_t *r)
{
    dec_t q;
    check(NumericDiv(left, right, &q));
    if (q.dec_exp > DECSIZE && q.dec_ndgts > 0) arithmetic_failed(DEC_OVERFLOW);
    // Truncate toward zero in decimal: keep the digit pairs before the point.
    if (q.dec_exp <= 0) {
        q = dec_t{0, 1, 0, {}};
    } else if (q.dec_ndgts > q.dec_exp) {
        for (int i = q.dec_exp; i < DECSIZE; ++i) q.dec_dgts[i] = 0;
        q.dec_ndgts = q.dec_exp;
        while (q.dec_ndgts > 0 && q.dec_dgts[q.dec_ndgts - 1] == 0) --q.dec_ndgts;
    }
    dec_t product;
    check(NumericMul(&q, right, &product));
    check(NumericSub(left, &product, r));
    // The remainder takes the sign of the dividend and stays below the divisor in size.
    dec_t magnitude = *right;
    magnitude.dec_pos = 1;
    const bool negative_left = left->dec_pos == 0;
    if (r->dec_ndgts > 0 && (r->dec_pos == 0) != negative_left) {
        dec_t fixed;
        check(negative_left ? NumericSub(r, &magnitude, &fixed) : NumericAdd(r, &magnitude, &fixed));
        *r = fixed;
    }
    dec_t size = *r;
    size.dec_pos = 1;
    if (r->dec_ndgts > 0 && NumericCmp(&size, &magnitude) >= 0) arithmetic_failed(DEC_OVERFLOW);
}

} // namespace

int maths(unsigned op, int right, int left, Stack *result)
{
    result->s_t = real;
    result->flags = 0;
    result->s_c.C_N = &result->num;
    dec_t *r = &result->num;
    const Stack &le = Stk[left];
    const Stack &re = Stk[right];

    switch (op) {
    case o_add: {
        const dec_t *a = numeric_of(le), *b = numeric_of(re);
        if (!NumericHasDigits(a))
            NumericCopy(r, b);
        else if (!NumericHasDigits(b))
            NumericCopy(r, a);
        else
            check(NumericAdd(a, b, r));
        break;
    }
    case o_sub: {
        const dec_t *a = numeric_of(le), *b = numeric_of(re);
        if (!NumericHasDigits(a)) {
            NumericCopy(r, b);
            r->dec_pos = b->dec_pos == 0 ? 1 : 0;
        } else if (!NumericHasDigits(b)) {
            NumericCopy(r, a);
        } else if (a == b) {
            *r = ZERO_DEC;  // the subtraction needs distinct operands
        } else {
            check(NumericSub(a, b, r));
        }
        break;
    }
    case o_mul: {
        const dec_t *a = numeric_of(le), *b = numeric_of(re);
        if (is_zero(a) || is_zero(b))
            *r = ZERO_DEC;
        else
            check(NumericMul(a, b, r));
        break;
    }
    case o_div: {
        const dec_t *a = numeric_of(le), *b = numeric_of(re);
        if (is_zero(b))
            *r = ZERO_DEC;
        else
            check(NumericDiv(a, b, r));
        break;
    }
    case o_mod: {
        dec_t t;
        remainder_of(numeric_of(le), numeric_of(re), &t);
        *r = t;
        break;
    }
    case o_and: set_truth(r, !is_zero(numeric_of(le)) && !is_zero(numeric_of(re))); break;
    case o_or: set_truth(r, !is_zero(numeric_of(le)) || !is_zero(numeric_of(re))); break;
    case o_eq: set_truth(r, compare(le, re) == 0); break;
    case o_ne: set_truth(r, compare(le, re) != 0); break;
    case o_gt: set_truth(r, compare(le, re) > 0); break;
    case o_ge: set_truth(r, compare(le, re) >= 0); break;
    case o_lt: set_truth(r, compare(le, re) < 0); break;
    case o_le: set_truth(r, compare(le, re) <= 0); break;
    default: return 0;
    }
    if (r->dec_ndgts == 0 && r->dec_pos == 0) r->dec_pos = 1;
    return 0;
}

char *Convert_BCD(const dec_t *value)
{
    if (NumericToASC(value, tstr1, BCD_FIELD, -1) != 0) Xerror(202, "Bad conversion of BCD number");
    tstr1[BCD_FIELD] = '\0';
    char *end = tstr1 + BCD_FIELD;
    while (end > tstr1 && end[-1] == ' ') --end;  // the field is blank-filled on the right
    *end = '\0';
    char *point = std::strchr(tstr1, '.');
    if (!point) return tstr1;
    char *p = point + 1;
    bool fraction = false;
    for (; *p && *p != ' '; ++p) fraction |= *p != '0';
    *(fraction ? p : point) = '\0';
    return tstr1;
}

int s_concat(Stack *result, int last, int count)
{
    Stack *first = &Stk[last - count + 1];
    std::size_t total = 0;
    for (int i = 0; i < count; ++i) total += first[i].length;
    char *text = text_block(total + 1);  // every byte is written: no need to zero it
    char *out = text;
    for (int i = 0; i < count; ++i) {
        if (first[i].length) std::memcpy(out, first[i].s_c.C_S, first[i].length);
        out += first[i].length;
    }
    *out = '\0';
    result->s_t = string;
    result->s_c.C_S = text;
    result->length = static_cast<std::uint32_t>(total);
    result->s_dims[0] = static_cast<std::uint32_t>(total);
    result->s_dims[1] = 0;
    result->flags = 0;
    return 0;
}
