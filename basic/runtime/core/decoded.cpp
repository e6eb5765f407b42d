// The decoded steps: the first time a routine runs after its code was loaded, its code is decoded
// into one step a code word, holding what the checks of the general path proved about the op's
// operands; the loop (run_loop) runs the common ops on them, keeping numbers in binary between
// ops and the routine's variables in shadows that settle() writes out before anything else can
// read them. Anything else goes to the general path (executor.cpp), op by op.
#include "decoded.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "dec_word.h"
#include "exec_util.h"
#include "hooks.h"
#include "intrinsics.h"
#include "loader.h"
#include "mem_mgt.h"
#include "run_time.h"
#include "signals.h"
#include "trace_ring.h"
#include "value_stack.h"

namespace exec {
namespace {

// The truth values of the comparisons, as NumericCvINT makes them.
struct Truth {
    dec_t no, yes;
    Truth()
    {
        NumericCvINT(0, &no);
        NumericCvINT(1, &yes);
        if (no.dec_ndgts == 0 && no.dec_pos == 0) no.dec_pos = 1;  // as maths leaves a zero
    }
};

// The low 32 bits of the position of the op at, which messages and reports show.
inline int position_of(const Code *at)
{
    return static_cast<int>(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(at)));
}

// After an op that left the stack above its warning level (sp and yylineno set): the overflow stops
// the run, a level just below it is mailed to support and the run goes on.
[[gnu::noinline]] void stack_level()
{
    static_assert(STACK_WARN_LEVEL < STACKSIZE - 1);
    if (sp >= STACKSIZE - 1) Abort("Stack overflow\n");
    Email(SUPPORT_ADDRESS, "Almost hit stack size limit, %d of %d", sp, STACKSIZE);
}


// ---- Numbers in binary between the loop's ops -----------------------------------------------

// A number as the loop keeps it between ops: m x 100^q, m below 10^16 in magnitude (eight digit
// pairs) and q such that its decimal form's exponent is in range whatever m's length. Arithmetic on
// it is exact, and an exact result has one normalised decimal form: converted, it is byte for byte
// the decimal the library's correctly rounded arithmetic gives.
struct Binary {
    std::int64_t m;
    std::int32_t q;
};

constexpr std::int64_t BINARY_LIMIT = 10000000000000000;  // 10^16
constexpr int BINARY_Q_MIN = DEC_MINEXP - 1, BINARY_Q_MAX = DEC_MAXEXP - 8;
constexpr std::int64_t POWERS_OF_100[9] = {1, 100, 10000, 1000000, 100000000, 10000000000, 1000000000000,
                                           100000000000000, 10000000000000000};

// Value-stack entries of the loop alone, never seen outside it: a number held only in binary
// (params[0] m, params[1] q), and one whose decimal (num) also holds it. Their other fields are
// left as they were; settle() makes them plain numbers before anything else reads the stack.
constexpr auto LOOP_BINARY = static_cast<ConType>(0x100);
constexpr auto LOOP_DUAL = static_cast<ConType>(0x101);

// The binary form of a whole decimal of one to eight digit pairs whose exponent allows it; false
// for anything else (a zero, a longer or damaged value), which the library's arithmetic takes.
inline bool binary_from_decimal(const dec_t *d, Binary &b)
{
    std::uint64_t digits;
    unsigned n;
    if (!decword::load(d, digits, n)) return false;
    const int q = d->dec_exp - static_cast<int>(n);
    if (q < BINARY_Q_MIN || q > BINARY_Q_MAX) return false;
    const auto m = static_cast<std::int64_t>(decword::binary(digits, n));
    b = {d->dec_pos ? m : -m, q};
    return true;
}

// The decimal of b as three pieces: bytes 0 to 7 (exponent, sign, digit count and the first two
// digit pairs), 8 to 15 (six more pairs and two zero ones) and the zero pairs after them. Normalised;
// a zero is the positive zero add and subtract give.
struct DecimalImage {
    std::uint64_t head, middle;
};

[[gnu::always_inline]] inline DecimalImage image_of(const Binary &b)
{
    static_assert(offsetof(dec_t, dec_exp) == 0 && offsetof(dec_t, dec_pos) == 2 && offsetof(dec_t, dec_ndgts) == 4 &&
                  offsetof(dec_t, dec_dgts) == 6);
    if (b.m == 0) return {std::uint64_t{1} << 16, 0};
    const std::uint64_t v = b.m < 0 ? 0 - static_cast<std::uint64_t>(b.m) : static_cast<std::uint64_t>(b.m);
    std::uint64_t R = v < 100000000 ? decword::four_pairs(v)
                                    : decword::four_pairs(v % 100000000) | decword::four_pairs(v / 100000000) << 32;
    const int lead = __builtin_clzll(R) >> 3;  // zero pairs before the first digit
    R <<= 8 * lead;
    const auto exp = static_cast<std::uint16_t>(b.q + 8 - lead);  // in range by the bounds of q
    const auto pairs = static_cast<std::uint64_t>(8 - (__builtin_ctzll(R) >> 3));
    const std::uint64_t digits = __builtin_bswap64(R);  // digit 0 in the lowest byte
    return {exp | std::uint64_t{b.m > 0 ? 1u : 0u} << 16 | pairs << 32 | digits << 48, digits >> 16};
}

// Writes the image into d with stores of the widths same_decimal reads, so that a read right after
// is served from the stores.
[[gnu::always_inline]] inline void put_image(const DecimalImage &i, dec_t *d)
{
    auto *bytes = reinterpret_cast<unsigned char *>(d);
    const std::uint32_t zero4 = 0;
    const std::uint16_t zero2 = 0;
    std::memcpy(bytes, &i.head, 8);
    std::memcpy(bytes + 8, &i.middle, 8);
    std::memcpy(bytes + 16, &zero4, 4);
    std::memcpy(bytes + 20, &zero2, 2);
}

[[gnu::always_inline]] inline void decimal_from_binary(const Binary &b, dec_t *r) { put_image(image_of(b), r); }

// Whether two decimals are the same bytes.
[[gnu::always_inline]] inline bool same_decimal(const dec_t &a, const dec_t &b)
{
    std::uint64_t a0, a1, b0, b1;
    std::uint32_t a2, b2;
    std::uint16_t a3, b3;
    const auto *x = reinterpret_cast<const unsigned char *>(&a), *y = reinterpret_cast<const unsigned char *>(&b);
    std::memcpy(&a0, x, 8), std::memcpy(&b0, y, 8);
    std::memcpy(&a1, x + 8, 8), std::memcpy(&b1, y + 8, 8);
    std::memcpy(&a2, x + 16, 4), std::memcpy(&b2, y + 16, 4);
    std::memcpy(&a3, x + 20, 2), std::memcpy(&b3, y + 20, 2);
    return ((a0 ^ b0) | (a1 ^ b1) | (a2 ^ b2) | (a3 ^ b3)) == 0;
}

inline Binary binary_in(const Stack &e)
{
    return {static_cast<std::int64_t>(e.params[0]), static_cast<std::int32_t>(static_cast<std::int64_t>(e.params[1]))};
}

// A number entry holding its own decimal. A reference to a variable's cell is left to the general
// path, which finds the variables the loop holds in binary written out.
inline bool own_number(const Stack &e) { return e.s_t == real && e.s_c.C_N == &e.num; }

// The binary form of a plain number entry, or false.
bool binary_from_entry(const Stack &e, Binary &b)
{
    if (!own_number(e)) return false;
    if (binary_from_decimal(&e.num, b)) return true;
    dec_t zero;
    decword::set_zero(&zero);
    if (!same_decimal(e.num, zero)) return false;
    b = {0, 0};
    return true;
}

// The binary form of a number entry, or false. The zero a sum may meet is taken as such too.
[[gnu::always_inline]] inline bool binary_of(const Stack &e, Binary &b)
{
    if (e.s_t == LOOP_BINARY || e.s_t == LOOP_DUAL) {
        b = binary_in(e);
        return true;
    }
    return binary_from_entry(e, b);
}

// a + b (b negated first by the caller for a difference), exact within the bounds; false when the
// sum of two zeros or a sum beyond them is asked, which the library's arithmetic then takes.
inline bool binary_add(Binary a, Binary b, Binary &r)
{
    if (a.m == 0 || b.m == 0) {
        if (a.m == 0 && b.m == 0) return false;
        r = a.m == 0 ? b : a;
        return true;
    }
    const int q = a.q < b.q ? a.q : b.q, da = a.q - q, db = b.q - q;
    if (da > 8 || db > 8) return false;
    std::int64_t x, y, sum;
    if (__builtin_mul_overflow(a.m, POWERS_OF_100[da], &x) || __builtin_mul_overflow(b.m, POWERS_OF_100[db], &y) ||
        __builtin_add_overflow(x, y, &sum) || sum >= BINARY_LIMIT || sum <= -BINARY_LIMIT)
        return false;
    r = {sum, q};
    return true;
}

// a * b of two non-zero numbers, exact within the bounds.
inline bool binary_mul(Binary a, Binary b, Binary &r)
{
    std::int64_t p;
    const int q = a.q + b.q;
    if (a.m == 0 || b.m == 0 || __builtin_mul_overflow(a.m, b.m, &p) || p >= BINARY_LIMIT || p <= -BINARY_LIMIT ||
        q < BINARY_Q_MIN || q > BINARY_Q_MAX)
        return false;
    r = {p, q};
    return true;
}

// The order of a and b (-1, 0 or 1), or false when their scales lie too far apart for a word.
inline bool binary_compare(Binary a, Binary b, int &c)
{
    if (a.q != b.q) {
        const int q = a.q < b.q ? a.q : b.q, da = a.q - q, db = b.q - q;
        if (da > 8 || db > 8 || __builtin_mul_overflow(a.m, POWERS_OF_100[da], &a.m) ||
            __builtin_mul_overflow(b.m, POWERS_OF_100[db], &b.m))
            return false;
    }
    c = a.m < b.m ? -1 : a.m > b.m ? 1 : 0;
    return true;
}

// Makes e a number the loop holds in binary.
inline void set_binary(Stack &e, const Binary &b)
{
    e.s_t = LOOP_BINARY;
    e.params[0] = static_cast<Address>(b.m);
    e.params[1] = static_cast<Address>(static_cast<std::int64_t>(b.q));
}

// The plain number entry e holding its decimal num.
inline void make_plain(Stack &e)
{
    e.s_t = real;
    e.s_c.C_N = &e.num;
    e.flags = 0;
    e.s_dims[0] = e.s_dims[1] = 0;
    e.length = 0;
}

// The decimal of a number entry the loop may hold in binary, written out when it is not yet; or
// nullptr for any other entry, a reference among them.
[[gnu::always_inline]] inline const dec_t *decimal_of(Stack &e)
{
    if (own_number(e)) return &e.num;
    if (e.s_t == LOOP_DUAL) return &e.num;
    if (e.s_t != LOOP_BINARY) return nullptr;
    decimal_from_binary(binary_in(e), &e.num);
    e.s_t = LOOP_DUAL;
    return &e.num;
}

inline bool held_in_binary(const Stack &e) { return e.s_t == LOOP_BINARY || e.s_t == LOOP_DUAL; }

// The binary form of an entry the loop holds in binary or of a plain number that has one.
inline bool binary_form(const Stack &e, Binary &b)
{
    if (held_in_binary(e)) {
        b = binary_in(e);
        return true;
    }
    return own_number(e) && binary_from_decimal(&e.num, b);
}

// The comparison of two number entries as the library's (-1, 0, 1, or DECUNKNOWN for a null): in
// binary when either is held so and both have that form, else of their decimals; false when
// either is no number. compare_entries takes two binaries inline and leaves the rest to this.
bool compare_slowly(Stack &a, Stack &b, int &c)
{
    Binary x, y;
    if ((held_in_binary(a) || held_in_binary(b)) && binary_form(a, x) && binary_form(b, y) && binary_compare(x, y, c))
        return true;
    const dec_t *p = decimal_of(a), *q = decimal_of(b);
    if (!p || !q) return false;
    c = decword::compare(p, q);
    return true;
}

[[gnu::always_inline]] inline bool compare_entries(Stack &a, Stack &b, int &c)
{
    return (held_in_binary(a) && held_in_binary(b) && binary_compare(binary_in(a), binary_in(b), c)) ||
           compare_slowly(a, b, c);
}

// The order of two plain texts (no pointer), as the general path's comparison gives it: bytes as
// unsigned, a prefix before the longer text, trailing blanks counted; false for anything else.
[[gnu::always_inline]] inline bool compare_texts(const Stack &a, const Stack &b, int &c)
{
    if (a.s_t != string || b.s_t != string || ((a.flags | b.flags) & stk_pointer)) return false;
    const std::size_t an = a.s_c.C_S ? a.length : 0, bn = b.s_c.C_S ? b.length : 0, n = std::min(an, bn);
    const int d = n > 0 ? std::memcmp(a.s_c.C_S, b.s_c.C_S, n) : 0;
    c = d != 0 ? (d < 0 ? -1 : 1) : an < bn ? -1 : an > bn ? 1 : 0;
    return true;
}

// Frees what a popped text entry owns, as popping does.
inline void release_text(Stack &e)
{
    if (!(e.flags & stk_ref) && e.s_c.C_S) release_entry(e);
}

// Whether a number entry is negative (-1) or not (1), as the FOR test reads its step: a decimal's
// sign field says, so a negative zero counts as negative.
inline bool sign_of(Stack &e, int &sign)
{
    if (held_in_binary(e)) {
        sign = static_cast<std::int64_t>(e.params[0]) < 0 ? -1 : 1;
        return true;
    }
    const dec_t *d = decimal_of(e);
    if (!d) return false;
    sign = d->dec_pos == 0 ? -1 : 1;
    return true;
}

// The 0-based element a one-subscript array of dim elements takes from the number entry e, when e
// holds a whole number from 1 to dim; false for anything else, which the general path reads (and
// refuses) as it always did.
[[gnu::always_inline]] inline bool element_of(const Stack &e, std::int32_t dim, std::int64_t &index)
{
    Binary k;
    if (!binary_of(e, k) || k.q < 0 || k.q > 4 || k.m < 1 || k.m > dim) return false;
    const std::int64_t v = k.m * POWERS_OF_100[k.q];  // below 2^31 x 10^8
    if (v > dim) return false;
    index = v - 1;
    return true;
}

// A numeric variable of the running routine as the loop keeps it: while dirty, its value is m x
// 100^q and its decimal cell is yet to be written, which settle() does before anything else can
// read it. Once written, m and q still serve a load while the cell holds the bytes written.
struct Shadow {
    std::int64_t m = 0;
    std::int32_t q = 0;
    std::uint8_t dirty = 0;
    std::uint8_t written = 0;  // image holds the decimal written from m and q
    dec_t *cell = nullptr;
    dec_t image{};

    // Whether m and q hold the variable's value.
    bool current() const { return dirty || (written && same_decimal(*cell, image)); }
};


// ---- The decoded form ------------------------------------------------------------------------

// What the loop does with one code position of a routine (a kind of the step table), decided once
// from the op and its operands when the routine first runs after its code was loaded.
struct Step {
    StepKind kind = STEP_GENERAL;
    std::uint16_t words = 1;  // the op word and its operands: the distance to the next op's step
    std::int32_t value = 0;  // a text's length; a source line; an array's dimension; entries read
    union {
        dec_t *cell;
        const dec_t *constant;
        const Step *target;
        char *field;
        std::int32_t file;
    } operand{nullptr};
    union {
        Shadow *shadow;  // a variable's; an array's first cell's
        Binary binary;   // a constant's binary form
        const Step *taker;  // a text's: the call that follows it, of which it is the last argument
        struct {
            std::int32_t nargs;
            bool text;  // a string function (ifcalls)
        } call;
    } more{nullptr};
};
static_assert(sizeof(Step) == 32, "a decoded step is four words");

// One routine decoded: a step for each code word from its entry op to where the decoding walk
// stopped, and a general step after them, so that an op that runs on past the last one leaves.
struct DecodedRoutine {
    const Code *first = nullptr;
    std::vector<Step> steps;
    std::vector<Shadow> shadows;  // one a cell of the routine's numeric area
    std::size_t count() const { return steps.size() - 1; }
};

// The code words of the op at p with its operands (the label table of jumpl and gosubl, the base
// operands of a based loadsad and storsd included), or 0 when the op is none the walk knows.
int op_words(const Code *p, const Code *end)
{
    const auto op = static_cast<unsigned>(static_cast<std::uint32_t>(p->param));
    if (op >= OP_CODE_COUNT) return 0;
    long words = 1 + operand_words(static_cast<OpCode>(op));
    if (words > end - p) return 0;
    if (op == o_jumpl || op == o_gosubl) words += operand(p + 1);
    if ((op == o_loadsad || op == o_storsd) && operand(p + 8) == 1) words += BASED_WORDS;
    return words > end - p || words < 1 || words > UINT16_MAX ? 0 : static_cast<int>(words);
}

// The routine's own area an offset of a direct op names, when the loader's operands prove it: not
// COMMON, the structure area or a structure parameter, no subscripts, inside the area.
bool own_area(const Code *operands, long count, long &offset)
{
    const long area = static_cast<long>(operands[1].param);
    offset = operand(operands);
    return area != AREA_COMMON && area != AREA_STRUCTS && area < AREA_PSTRUCT && operands[4].param == 0 &&
           static_cast<unsigned long>(offset) < static_cast<unsigned long>(count);
}

// The same for an array of one subscript (dim elements from offset), wholly inside the area.
bool own_array(const Code *operands, long count, long &offset, long &dim)
{
    const long area = static_cast<long>(operands[1].param);
    offset = operand(operands);
    dim = operand(operands + 2);
    return area != AREA_COMMON && area != AREA_STRUCTS && area < AREA_PSTRUCT && operands[4].param == 1 &&
           offset >= 0 && dim >= 1 && offset < count && dim <= count - offset;
}

// Makes s a step of kind on a whole plain string of routine r's own character area when the
// operands of its loadsvd or storsd name one (no subscripts, dimension, pointer, fixed or based
// flag; a field of at least min_length bytes inside the area): the field and its length.
bool own_text(Step &s, const Code *operands, const Routine &r, long min_length, StepKind kind)
{
    const long area = static_cast<long>(operands[1].param), length = operand(operands + 2), offset = operand(operands);
    const long chars = r.local_chars ? r.local_ccount : 0;
    const Code *o = operands;
    if (area == AREA_COMMON || area == AREA_STRUCTS || area >= AREA_PSTRUCT ||
        (o[3].param | o[4].param | o[5].param | o[6].param | o[7].param) != 0 || offset < 0 || length < min_length ||
        offset >= chars || length > chars - offset)
        return false;
    s.kind = kind;
    s.operand.field = r.local_chars + offset;
    s.value = static_cast<std::int32_t>(length);
    return true;
}

// Makes s a text op reading the given count of entries, when the operands allow it.
void text_op(Step &s, bool allowed, int reads)
{
    if (!allowed) return;
    s.kind = STEP_TEXT_OP;
    s.value = reads;
}

// The step of the op at p (words long) of routine r, its jump targets still as positions in at.
Step decode_step(const Code *p, int words, const Routine &r, std::vector<Shadow> &shadows,
                 std::vector<const Code *> &targets, std::size_t at)
{
    Step s;
    s.words = static_cast<std::uint16_t>(words);
    const Code *o = p + 1;
    const long numbers = r.local_numerics ? r.local_ncount : 0;
    long offset, dim;
    const auto op = static_cast<unsigned>(static_cast<std::uint32_t>(p->param));
    switch (op) {
    case o_loadrvd:
    case o_storrd:
        if (own_area(o, numbers, offset)) {
            s.kind = op == o_loadrvd ? STEP_LOAD_NUMBER : STEP_STORE_NUMBER;
        } else if (own_array(o, numbers, offset, dim)) {
            s.kind = op == o_loadrvd ? STEP_LOAD_ELEMENT : STEP_STORE_ELEMENT;
            s.value = static_cast<std::int32_t>(dim);
        } else {
            break;
        }
        s.operand.cell = r.local_numerics + offset;
        s.more.shadow = &shadows[static_cast<std::size_t>(offset)];
        break;
    case o_loadrc:
        if (o->num) {
            s.operand.constant = o->num;
            s.kind = binary_from_decimal(o->num, s.more.binary) ? STEP_LOAD_BINARY : STEP_LOAD_CONSTANT;
        }
        break;
    case o_loadsvd:
        if (own_text(s, o, r, 0, STEP_LOAD_TEXT)) {
            s.more.taker = nullptr;  // until the walk has met the op that follows
            break;
        }
        [[fallthrough]];
    case o_loadsad:
        text_op(s, static_cast<unsigned>(operand(o + 4)) <= 2, operand(o + 4));
        break;
    case o_storsd:
        // A store into an empty field stops as it always did, on the general path.
        if (own_text(s, o, r, 1, STEP_STORE_TEXT)) break;
        // The value and the subscripts (operands 6 and 7: pointer, based); a store through a
        // pointer or a base stays general.
        text_op(s, static_cast<unsigned>(operand(o + 4)) <= 2 && (o[6].param | o[7].param) == 0, operand(o + 4) + 1);
        break;
    case o_loadsc:
        if (o->string) {
            s.kind = STEP_LOAD_TEXT_CONSTANT, s.operand.field = o->string, s.value = operand(o + 1) != 0;
            break;
        }
        text_op(s, true, 0);
        break;
    case o_scat: text_op(s, static_cast<unsigned>(operand(o)) <= STACKSIZE, operand(o)); break;
    case o_srnge: text_op(s, true, 1); break;
    LUMBA_STEP_TABLE(LUMBA_STEP_ARM)
    case o_ifcallr:
    case o_ifcalls:
        // The code and count as the general path reads them; EXECUTE, which starts a child program,
        // a code beyond the table and a count below none stay there.
        s.value = operand(o);
        s.more.call = {operand(o + 1), op == o_ifcalls};
        if (static_cast<unsigned>(s.value) < IN_ROWS && !(op == o_ifcallr && s.value == in_EXECUTE) &&
            s.more.call.nargs >= 0)
            s.kind = STEP_CALL;
        break;
    default: break;
    }
    if (s.kind == STEP_SOURCE_LINE) {
        s.value = operand(o);
        s.operand.file = operand(o + 1);
    }
    // A label of none goes on at the next op, as the op itself does.
    if (s.kind == STEP_FOR_TEST || s.kind == STEP_JUMP || s.kind == STEP_JUMP_ZERO || s.kind == STEP_GOSUB) {
        if (targets.size() <= at) targets.resize(at + 1);
        targets[at] = o->c_ptr ? o->c_ptr : p + words;
    }
    return s;
}

// Decodes the routine whose entry op is at first: the walk goes from op to op until the next
// routine's entry, the end of the program's code or an op it does not know. Every step depends
// only on the code words it was made from and the routine's areas, so a jump into the middle of
// an op finds a general step and runs as it always did.
void decode_routine(DecodedRoutine &d, const Code *first, const Code *end, const Routine &r)
{
    d.first = first;
    d.steps.clear();
    // Sized once: the steps point into it.
    d.shadows.assign(r.local_numerics ? static_cast<std::size_t>(std::max(r.local_ncount, 0)) : 0, Shadow{});
    for (std::size_t i = 0; i < d.shadows.size(); ++i) d.shadows[i].cell = r.local_numerics + i;
    std::vector<const Code *> targets;
    const Code *p = first;
    while (p < end) {
        const auto op = static_cast<unsigned>(static_cast<std::uint32_t>(p->param));
        if (p != first && (op == o__proc || op == o__nfunc || op == o__sfunc)) break;
        const int words = op_words(p, end);
        if (words == 0) break;
        const auto at = static_cast<std::size_t>(p - first);
        d.steps.resize(at + static_cast<std::size_t>(words));
        d.steps[at] = decode_step(p, words, r, d.shadows, targets, at);
        p += words;
    }
    d.steps.emplace_back();  // where an op runs on past the last one
    // A jump whose target lies outside the routine's steps goes the general way.
    for (std::size_t at = 0; at < targets.size(); ++at) {
        if (!targets[at]) continue;
        const auto to = static_cast<std::uintptr_t>(reinterpret_cast<std::uintptr_t>(targets[at]) -
                                                    reinterpret_cast<std::uintptr_t>(first));
        if (to % sizeof(Code) == 0 && to / sizeof(Code) <= d.count())
            d.steps[at].operand.target = &d.steps[to / sizeof(Code)];
        else
            d.steps[at].kind = STEP_GENERAL;
    }
    // A text loaded right before a call of which it is the last argument: whether the call may
    // take it in place depends on the intrinsic's row, which the loop looks at when it runs.
    for (std::size_t at = 0; at < d.count(); at += d.steps[at].words) {
        Step &s = d.steps[at];
        if (s.kind != STEP_LOAD_TEXT) continue;
        const Step &next = d.steps[at + s.words];
        if (next.kind == STEP_CALL && next.more.call.nargs >= 1) s.more.taker = &next;
    }
}

// The decoded form of the running routine, made on its first run after its code was loaded and
// kept until the loader stores code again; nullptr when the routine has no code in the program.
const DecodedRoutine *decoded_routine(const Routine *r, int number)
{
    static std::unordered_map<const Routine *, DecodedRoutine> tables;
    static std::uint64_t stored = 0;
    if (stored != code_words_stored) {
        tables.clear();
        stored = code_words_stored;
    }
    if (!r || !Minterp || !code || number < 0 || number >= MAX_ROUTINES) return nullptr;
    const Code *first = code[number];
    const Code *base = Minterp->code_base, *end = base ? base + Minterp->code_size : nullptr;
    if (!first || !base || first < base || first >= end) return nullptr;
    DecodedRoutine &d = tables[r];
    if (d.first != first) decode_routine(d, first, end, *r);
    return &d;
}

// dispatch_intrinsic for a function whose row the dispatcher readied (DirectIntrinsic) and whose
// count of arguments the caller has checked against it: the same frame, name, depth and result in
// fn_value, without the dispatcher's round trip. Inlined into the loop, which calls it most: the
// call of a function of its own would cost some ten instructions more a call.
template <bool text>
[[gnu::always_inline]] inline void direct_call(Run &run, const DirectIntrinsic &row, int number, int nargs)
{
    if (text && depth >= 1) caller[depth - 1].position = static_cast<std::uint16_t>(yylineno & 0xFFFF);
    Rname = row.name;
    run.intrinsic_depth = depth;
    ++depth;
    begin_result(&fn_value, text, number);
    row.handler(nargs, sp, &fn_value);
    end_result(&fn_value, text);
    --depth;
    run.intrinsic_depth = -1;
    restore_caller_name();
    if constexpr (text) {
        POPSTK(nargs);
        push_result(false);
        return;
    }
    // POPSTK(nargs) and push_result(true), the result going straight into the entry of the first
    // argument (freed as popping frees it) field by field, without the copy of the whole entry.
    POPSTK(nargs - 1);
    Stack &e = nargs > 0 ? Stk[sp] : push();
    if (nargs > 0 && e.s_t == string && !(e.flags & stk_ref) && e.s_c.C_S) release_entry(e);
    e.s_t = real;
    e.s_c.C_N = &e.num;
    e.num = fn_value.num;
    e.flags = 0;
    e.s_dims[0] = fn_value.s_dims[0];
    e.s_dims[1] = fn_value.s_dims[1];
    e.length = fn_value.length;
    e.params[0] = fn_value.params[0];
    e.params[1] = fn_value.params[1];
    fn_value.s_dims[0] = fn_value.s_dims[1] = 0;
}


struct Locals;
// The locals of a loop whose call of a handler that reads only its texts is running: an error
// report writes out the variables they hold in binary before anything can read them.
Locals *reporting_locals = nullptr;

// While it lives, an error report writes out the variables the loop whose locals it names holds in
// binary; any way out of the scope, an exception's included, gives the outer loop's back.
class ReportingScope {
public:
    explicit ReportingScope(Locals *l) : outer_(std::exchange(reporting_locals, l)) {}
    ~ReportingScope() { reporting_locals = outer_; }
    ReportingScope(const ReportingScope &) = delete;
    ReportingScope &operator=(const ReportingScope &) = delete;

private:
    Locals *outer_;
};

// The step for positions outside the running routine's decoded form.
const Step LONE_GENERAL_STEP{};

// The loop's copy of the executor's state: the top of the value stack and what the running
// routine's ops read, loaded from the globals after anything that may change them.
struct Locals {
    Stack *base;  // Stk
    Stack *top;   // the entry at sp (base - 1 when the stack is empty)
    Stack *warn;  // the entry at the warning level
    const Routine *routine;
    const DecodedRoutine *decoded = nullptr;  // the running routine's, or nullptr
    std::uint64_t decoded_when = 0;  // code_words_stored when decoded was looked up
    const Step *steps;  // the steps the loop runs on: the decoded routine's, or the lone general one
    const Code *first;  // the position of steps[0]
    Stack *binary_low;  // no entry below it is one the loop holds in binary
    Binary result;      // the last arithmetic result, for fn_value
    bool result_binary;  // fn_value is still to get it
    static constexpr int DIRTY_MAX = 32;
    Shadow *dirty[DIRTY_MAX];  // the variables that may be dirty
    int dirty_count;
    int transactions;    // open database transactions, -1 until a source line asks
    bool position_known;  // trace_position holds the running routine's names

    // After settle(), or before the loop made any number binary.
    void load(bool fast)
    {
        base = Stk;
        top = base + sp;
        warn = base + STACK_WARN_LEVEL;
        binary_low = base + STACKSIZE;
        result_binary = false;
        dirty_count = 0;
        const Routine *was = routine;
        routine = routines ? &routines[cur_routine] : nullptr;
        // The steps hold the routine's own areas: they serve while the executor's globals name them.
        // Most loads find the routine that ran before, its code where it was.
        if (!fast || !routine || local_numerics != routine->local_numerics || local_chars != routine->local_chars) {
            decoded = nullptr;
        } else if (!decoded || routine != was || decoded_when != code_words_stored || !code ||
                   code[cur_routine] != decoded->first) {
            decoded = decoded_routine(routine, cur_routine);
            decoded_when = code_words_stored;
        }
        transactions = -1;
        position_known = trace_position_current(routine);
    }
    // Turns the numbers the loop holds in binary into plain ones, writes the variables it holds in
    // binary into their cells and gives fn_value the last arithmetic result, as the general path
    // and anything else that reads them expect.
    void settle()
    {
        for (int i = 0; i < dirty_count; ++i) {
            Shadow &v = *dirty[i];
            if (v.dirty) {
                const DecimalImage i = image_of({v.m, v.q});
                put_image(i, &v.image);
                put_image(i, v.cell);
                v.written = 1;
                // The last result is most often the value just stored.
                if (result_binary && result.m == v.m && result.q == v.q) {
                    put_image(i, &fn_value.num);
                    result_binary = false;
                }
            }
            v.dirty = 0;
        }
        dirty_count = 0;
        for (Stack *e = binary_low; e <= top; ++e) {
            if (e->s_t == LOOP_BINARY) decimal_from_binary(binary_in(*e), &e->num);
            if (e->s_t == LOOP_BINARY || e->s_t == LOOP_DUAL) make_plain(*e);
        }
        binary_low = base + STACKSIZE;
        if (result_binary) decimal_from_binary(result, &fn_value.num);
        result_binary = false;
    }
    // Whether the n entries at the top are all plain texts: none the loop holds in binary, no
    // reference to a number, no pointer (which could name a variable's cell).
    bool plain_texts(int n) const
    {
        for (const Stack *e = top; n > 0; --n, --e)
            if (e->s_t != string || (e->flags & stk_pointer)) return false;
        return true;
    }
    // Whether the n entries at the top may be read without the variables written out: plain texts
    // and numbers holding their own decimals (one held in binary is written out here). Not a
    // reference to a number nor a pointer, which could name a variable's cell.
    bool own_operands(int n)
    {
        for (Stack *e = top; n > 0; --n, --e) {
            if (e->s_t == string ? (e->flags & stk_pointer) != 0 : !decimal_of(*e)) return false;
            if (held_in_binary(*e)) make_plain(*e);
        }
        return true;
    }
    void binary_at(Stack *e)
    {
        if (e < binary_low) binary_low = e;
    }
    // The entry e made the count n a measuring handler gave (at most a text's length), in binary;
    // fn_value gets it as the handler's frame gives it, once the loop settles.
    void count(Stack &e, long n)
    {
        const Binary b{n, 0};
        set_binary(e, b);
        e.flags = 0;
        binary_at(&e);
        result = b;
        result_binary = true;
        fn_value.s_t = real;
        fn_value.s_c.C_N = &fn_value.num;
        fn_value.flags = 0;
    }
    // The value of the variable or element whose shadow is v, as its load pushes it into e.
    void load_cell(Stack &e, const Shadow &v)
    {
        if (v.current()) {
            set_binary(e, {v.m, v.q});
            binary_at(&e);
        } else {
            set_number(e, *v.cell);
        }
    }
    // Stores b into the variable: its shadow, or the cell when no more variables can be kept dirty.
    // Inlined into both forms of the loop, which each call it from two paths.
    [[gnu::always_inline]] void store(Shadow &v, const Binary &b)
    {
        if (!v.dirty) {
            if (dirty_count == DIRTY_MAX) {
                decimal_from_binary(b, v.cell);
                return;
            }
            dirty[dirty_count++] = &v;
            v.dirty = 1;
        }
        v.m = b.m;
        v.q = b.q;
    }
    // The step of the op at pc.
    const Step *locate(Code *pc)
    {
        if (decoded) {
            const auto to = reinterpret_cast<std::uintptr_t>(pc) - reinterpret_cast<std::uintptr_t>(decoded->first);
            if (to % sizeof(Code) == 0 && to / sizeof(Code) <= decoded->count()) {
                steps = decoded->steps.data();
                first = decoded->first;
                return steps + to / sizeof(Code);
            }
        }
        steps = &LONE_GENERAL_STEP;
        first = pc;
        return steps;
    }
    // The position of the op whose step is s.
    Code *position(const Step *s) const { return const_cast<Code *>(first + (s - steps)); }
    int index() const { return static_cast<int>(top - base); }
    // At least n entries on the stack.
    bool holds(int n) const { return top >= base + (n - 1); }
};

// The loop. The ops that make up most of a program's turns run here on the running routine's
// decoded steps and the executor's state kept in locals: numeric loads and stores of the routine's
// own variables, constants, the arithmetic of word-sized numbers and the comparisons of numbers,
// the FOR test, jumps and source lines. What the loader's operands settle (the variable's area,
// no subscripts, the offset inside the area, the jump targets) the decoding checked once; anything
// else about them (a value that is not a plain number, a result beyond a word, a stack at its
// warning level) goes to the general path, which does the whole op again from the start with the
// globals written back, at the op's position in the code.
// Numbers stay in binary from op to op, on the stack and in the variables the fast paths store;
// settle() writes them out as decimals before anything else can see them: the general path, an
// intrinsic call, a signal.
// Nothing in the fast paths changes state before it is sure to finish and none of them can fail,
// so an error always finds sp and yylineno at the op that raised it; nor can they open or end a
// database transaction, change the running routine or switch contexts, so what the locals hold
// stays true until the general path runs. Signals are acted on after every op of the general path
// and after every jump, so a program meets the safe point within a bounded number of ops.
// Fast false sends every op to the general path, so the two can be checked against each other.

// The way from one step to the next: in the threaded form straight to the next step's path, in
// the portable form back to the switch at the top of the loop.
#if LUMBA_THREADED_STEPS
#define LUMBA_NEXT_STEP() \
    if constexpr (Threaded) goto *paths[s->kind]; \
    else continue
#else
#define LUMBA_NEXT_STEP() continue
#endif
// A transfer of the run (a jump, the FOR test, a gosub and its return, a call the loop made): a
// pending signal is acted on first, with the position of the op that transferred, from.
#define LUMBA_TRANSFER(from) \
    if (pending_signal) { \
        jumped_from = (from); \
        goto signal; \
    } \
    LUMBA_NEXT_STEP()

template <bool Fast, bool Threaded> void run_loop(Run &run)
{
    static const Truth truth;
    Locals l{};
    l.load(Fast);
    if (!run.pc) {
        publish_exit();
        TRACE_OUT;
        return;
    }
    const Step *s = l.locate(run.pc);  // the op's step
    Code *jumped_from = nullptr;  // the op whose turn it is to look for a signal
    int reads = 0;  // the entries a text op reads
#if LUMBA_THREADED_STEPS
    // Each fast path goes on straight to the path of the next step, so that each has its own jump
    // to predict (labels as values, where the compiler provides them).
#define LUMBA_STEP_PATH(kind, label, ops, operands) &&label,
    static const void *const paths[STEP_KINDS] = {LUMBA_STEP_TABLE(LUMBA_STEP_PATH)};
#undef LUMBA_STEP_PATH
#endif
    for (;;) {
        if constexpr (!Fast) goto general;
        switch (s->kind) {
#define LUMBA_STEP_CASE(kind, label, ops, operands) case kind: goto label;
            LUMBA_STEP_TABLE(LUMBA_STEP_CASE)
#undef LUMBA_STEP_CASE
        default: goto general;
        }
        load_number: {
            if (l.top >= l.warn) goto general;
            l.load_cell(*++l.top, *s->more.shadow);
            s += s->words;
            LUMBA_NEXT_STEP();
        }
        load_element: {
            // The subscript at the top becomes the element.
            std::int64_t index;
            if (l.top > l.warn || !l.holds(1) || !element_of(*l.top, s->value, index)) goto general;
            l.load_cell(*l.top, s->more.shadow[index]);
            s += s->words;
            LUMBA_NEXT_STEP();
        }
        store_element: {
            std::int64_t index;
            if (l.top > l.warn || !l.holds(2) || !element_of(*l.top, s->value, index)) goto general;
            Shadow &v = s->more.shadow[index];
            Stack &value = l.top[-1];
            if (held_in_binary(value)) {
                l.store(v, binary_in(value));
            } else {
                const dec_t *d = decimal_of(value);
                if (!d) goto general;
                *v.cell = *d;
                v.dirty = 0;  // the cell holds it now
            }
            l.top -= 2;
            s += s->words;
            LUMBA_NEXT_STEP();
        }
        load_text: {
            // A plain string of the routine's own character area, its whole text, with no range
            // pending: a copy of its text up to its terminator or its length; or, as the last
            // argument of the intrinsic call that follows, whose handler only reads it, the text
            // in place.
            if (l.top >= l.warn) goto general;
            if (srange >= 0) {
                reads = 0;
                goto text_op;
            }
            char *field = s->operand.field;
            const std::size_t n = strnlen(field, static_cast<std::size_t>(s->value));
            const Step *taker = s->more.taker;
            // The text as the only argument of a count (LEN and its kin): the count, and the
            // loop goes on after the call.
            if (taker && taker->more.call.nargs == 1 && !taker->more.call.text) {
                if (const auto measure = intrinsic_calls().direct[taker->value].measure) {
                    l.count(*++l.top, measure({field, n}));
                    s = taker + taker->words;
                    LUMBA_NEXT_STEP();
                }
            }
            Stack &e = *++l.top;
            e = Stack{};
            e.s_t = string;
            e.length = e.s_dims[0] = static_cast<std::uint32_t>(n);
            // The call that follows takes its texts in place: the string is its last argument and
            // is popped by it before any other op runs, so the variable's text need not be copied.
            if (taker && intrinsic_calls().reads_text_only[taker->value]) {
                e.s_c.C_S = field;
                e.flags = stk_ref;  // the variable's own bytes: popping frees nothing
            } else {
                char *copy = text_block(n + 1);
                std::memcpy(copy, field, n);
                copy[n] = '\0';
                e.s_c.C_S = copy;
            }
            s += s->words;
            LUMBA_NEXT_STEP();
        }
        load_constant:
            if (l.top >= l.warn) goto general;
            set_number(*++l.top, *s->operand.constant);
            s += s->words;
            LUMBA_NEXT_STEP();
        load_binary: {
            if (l.top >= l.warn) goto general;
            Stack &e = *++l.top;
            set_binary(e, s->more.binary);
            l.binary_at(&e);
            s += s->words;
            LUMBA_NEXT_STEP();
        }
        store_number: {
            if (l.top > l.warn || !l.holds(1)) goto general;
            Shadow &v = *s->more.shadow;
            if (held_in_binary(*l.top)) {
                l.store(v, binary_in(*l.top));
            } else {
                const dec_t *value = decimal_of(*l.top);
                if (!value) goto general;
                *v.cell = *value;
                v.dirty = 0;  // the cell holds it now
            }
            --l.top;
            s += s->words;
            LUMBA_NEXT_STEP();
        }
        arithmetic: {
            if (l.top > l.warn || !l.holds(2)) goto general;
            Binary a, b, r;
            if (!binary_of(l.top[-1], a) || !binary_of(*l.top, b)) goto general;
            const StepKind k = s->kind;
            if (k == STEP_SUB) b.m = -b.m;
            if (!(k == STEP_MUL ? binary_mul(a, b, r) : binary_add(a, b, r))) goto general;
            // The entry that held the left operand holds the result, as push_result leaves it; so
            // does fn_value, as maths does, once the loop settles.
            Stack &e = l.top[-1];
            set_binary(e, r);
            l.binary_at(&e);
            l.result = r;
            l.result_binary = true;
            --l.top;
            s += 1;
            LUMBA_NEXT_STEP();
        }
        comparison: {
            if (l.top > l.warn || !l.holds(2)) goto general;
            int c;
            if (compare_texts(l.top[-1], *l.top, c)) {
                release_text(*l.top);
                release_text(l.top[-1]);
            } else if (!compare_entries(l.top[-1], *l.top, c)) {
                reads = 2;  // anything else the general path then takes
                goto text_op;
            }
            const StepKind k = s->kind;
            const bool t = k == STEP_EQ ? c == 0 : k == STEP_NE ? c != 0 : k == STEP_LT ? c < 0 : k == STEP_LE ? c <= 0
                         : k == STEP_GT ? c > 0 : c >= 0;
            fn_value.num = t ? truth.yes : truth.no;
            l.result_binary = false;
            set_number(*--l.top, fn_value.num);
            s += 1;
            LUMBA_NEXT_STEP();
        }
        for_test: {
            if (l.top > l.warn || !l.holds(3)) goto general;
            int c, step_sign;
            if (!compare_entries(l.top[-1], l.top[-2], c) || !sign_of(*l.top, step_sign)) goto general;
            l.top -= 3;
            const Step *at = s;
            s = (step_sign < 0 ? c == 1 : c == -1) ? s->operand.target : s + s->words;
            LUMBA_TRANSFER(l.position(at));
        }
        jump: {
            if (l.top > l.warn) goto general;
            const Step *at = s;
            s = s->operand.target;
            LUMBA_TRANSFER(l.position(at));
        }
        gosub: {
            if (l.top > l.warn || !gosub_stk || gosub_ptr < 0 || gosub_ptr > GOSUB_STK - 1) goto general;
            const Step *at = s;
            gosub_stk[gosub_ptr++] = l.position(s) + s->words;
            s = s->operand.target;
            LUMBA_TRANSFER(l.position(at));
        }
        return_: {
            if (l.top > l.warn || !gosub_stk || gosub_ptr < 1 || gosub_ptr > GOSUB_STK || !gosub_stk[gosub_ptr - 1])
                goto general;
            Code *from = l.position(s);
            s = l.locate(gosub_stk[--gosub_ptr]);
            LUMBA_TRANSFER(from);
        }
        jump_zero: {
            if (l.top > l.warn || !l.holds(1)) goto general;
            int zero;
            if (held_in_binary(*l.top)) {
                zero = l.top->params[0] == 0;
            } else {
                const dec_t *value = decimal_of(*l.top);
                if (!value) goto general;
                zero = decword::compare(value, &ZERO_DEC) == 0;
            }
            --l.top;
            const Step *at = s;
            s = zero ? s->operand.target : s + s->words;
            LUMBA_TRANSFER(l.position(at));
        }
        call: {
            // A function intrinsic without the general path's round trip: straight to the handler
            // of a row the dispatcher readied that takes this count, else through the dispatcher.
            // A handler that reads only its texts sees nothing of the program's variables: the
            // variables the loop holds in binary stay so (should it stop with an error, the report
            // writes them out first: settle_for_report), and the loop goes on at the next step.
            // Any other handler may change anything the locals hold, so they are loaded again.
            Code *pc = l.position(s);
            const int number = s->value, nargs = s->more.call.nargs;
            const bool text = s->more.call.text;
            const DirectIntrinsic &row = intrinsic_calls().direct[number];
            if (l.top >= l.warn || !l.holds(nargs)) goto general;
            // A count of one plain text: its value without the frame (it cannot fail).
            if (row.measure && nargs == 1 && !text && l.plain_texts(1)) {
                Stack &e = *l.top;
                const long n = row.measure(e.s_c.C_S ? std::string_view(e.s_c.C_S, e.length) : std::string_view());
                release_text(e);
                l.count(e, n);
                s += s->words;
                LUMBA_NEXT_STEP();
            }
            sp = l.index();
            yylineno = position_of(pc);
            if (row.takes_call(text, nargs) && intrinsic_calls().reads_text_only[number] &&
                l.plain_texts(nargs)) {
                // fn_value gets the last arithmetic result only should the handler stop with an
                // error, which it raises before it makes its result; a number result replaces it.
                {
                    const ReportingScope reporting(&l);
                    text ? direct_call<true>(run, row, number, nargs) : direct_call<false>(run, row, number, nargs);
                }
                l.result_binary = l.result_binary && text;
                l.top = l.base + sp;
                jumped_from = pc;
                if (!npc) {
                    s += s->words;
                    LUMBA_TRANSFER(pc);
                }
                l.settle();
                pc += 1 + WORDS<o_ifcallr>;
            } else {
                l.settle();
                if (row.takes_call(text, nargs))
                    text ? direct_call<true>(run, row, number, nargs) : direct_call<false>(run, row, number, nargs);
                else
                    dispatch_intrinsic(run, text ? o_ifcalls : o_ifcallr, number, nargs);
                jumped_from = pc;
                pc += 1 + WORDS<o_ifcallr>;
            }
            if (npc) {
                pc = npc;
                npc = nullptr;
            }
            l.load(Fast);
            s = l.locate(pc);
            if (pending_signal) goto signal;
            continue;
        }
        load_text_constant: {
            // The constant itself when shared, else a copy of it.
            if (l.top >= l.warn) goto general;
            char *text = s->operand.field;
            const std::size_t n = std::strlen(text);
            Stack &e = *++l.top;
            e = Stack{};
            e.s_t = string;
            e.length = e.s_dims[0] = static_cast<std::uint32_t>(n);
            if (s->value) {
                e.s_c.C_S = text;
                e.flags = stk_ref;
            } else {
                char *copy = text_block(n + 1);
                std::memcpy(copy, text, n + 1);
                e.s_c.C_S = copy;
            }
            s += s->words;
            LUMBA_NEXT_STEP();
        }
        store_text: {
            // A plain text into the whole field, no range pending: as much of it as the field
            // holds, and a terminator when it does not fill the field.
            if (l.top > l.warn || !l.holds(1) || srange >= 0) goto general;
            Stack &e = *l.top;
            if (e.s_t != string || (e.flags & stk_pointer)) goto general;
            const std::size_t room = static_cast<std::size_t>(s->value);
            const std::size_t n = std::min<std::size_t>(e.s_c.C_S ? e.length : 0, room);
            if (n > 0) std::memmove(s->operand.field, e.s_c.C_S, n);
            if (n < room) s->operand.field[n] = '\0';
            substring = 0;
            release_text(e);
            --l.top;
            s += s->words;
            LUMBA_NEXT_STEP();
        }
        text_op_step:
            reads = s->value;
        text_op: {
            // An op of the general path that reads no numeric variable and does not move the run:
            // when the entries it reads are texts or plain numbers, it runs without the variables the
            // loop holds in binary written out (should it stop with an error, the report writes them
            // out first), and the loop goes on at the next step.
            if (l.top >= l.warn || !l.holds(reads) || !l.own_operands(reads)) goto general;
            Code *pc = l.position(s);
            if (l.result_binary) {
                decimal_from_binary(l.result, &fn_value.num);  // the op may give fn_value another
                l.result_binary = false;
            }
            sp = l.index();
            yylineno = position_of(pc);
            Code *next = pc + 1;
            {
                const ReportingScope reporting(&l);
                general_op(run, static_cast<unsigned>(static_cast<std::uint32_t>(pc->param)), next);
            }
            if (sp > STACK_WARN_LEVEL) stack_level();
            l.top = l.base + sp;
            s += s->words;
            LUMBA_NEXT_STEP();
        }
        source_line:
            if (l.top > l.warn) goto general;
            src_line_number = s->value;
            src_file_index = s->operand.file;
            if (l.transactions < 0) l.transactions = open_transactions();
            if (!l.position_known || src_file_index != trace_position.file_index) {
                trace_position_refresh(l.routine);
                l.position_known = true;
            }
            basic_trace_add(trace_position.names, trace_position.kind, src_line_number, l.transactions);
            s += s->words;
            LUMBA_NEXT_STEP();
        general: {
            Code *pc = l.position(s);
            const auto op = static_cast<unsigned>(static_cast<std::uint32_t>(pc->param));
            l.settle();
            sp = l.index();
            yylineno = position_of(pc);
            Code *next = pc + 1;
            if (general_op(run, op, next)) return;
            pc = next;
            if (sp > STACK_WARN_LEVEL) stack_level();
            if (npc) {
                pc = npc;
                npc = nullptr;
            }
            check_signals();
            l.load(Fast);
            if (!pc) {
                publish_exit();
                TRACE_OUT;
                return;
            }
            s = l.locate(pc);
            continue;
        }
    signal: {
        Code *pc = l.position(s);
        l.settle();
        sp = l.index();
        yylineno = position_of(jumped_from);
        act_on_signal();
        l.load(Fast);
        s = l.locate(pc);
    }
    }
}

#undef LUMBA_TRANSFER
#undef LUMBA_NEXT_STEP

} // namespace

void run_steps(Run &run, bool fast)
{
    if (!fast) return run_loop<false, false>(run);
#if LUMBA_THREADED_STEPS
    if (!executor_switch_steps) return run_loop<true, true>(run);
#endif
    run_loop<true, false>(run);
}

std::vector<const char *> decoded_step_names(int number)
{
    std::vector<const char *> names;
    const Routine *r = routines && number >= 0 && number <= loaded_routines ? &routines[number] : nullptr;
    const DecodedRoutine *d = decoded_routine(r, number);
    if (!d) return names;
    for (std::size_t at = 0; at < d->count(); at += d->steps[at].words) names.push_back(step_name(d->steps[at].kind));
    return names;
}

} // namespace exec

void settle_for_report()
{
    if (exec::Locals *l = std::exchange(exec::reporting_locals, nullptr)) l->settle();
}
