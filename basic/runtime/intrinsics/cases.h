// What the dispatchers' own cases share: their rows and the reading of arguments off the value
// stack.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "numerics.h"
#include "value_stack.h"

// The longest text that repetition makes: IREPEAT$ and the control-character runs (TAB$ ...).
inline constexpr std::uint64_t REPEAT_LIMIT = std::uint64_t{256} << 20;

// The rows of the dispatchers' own cases, registered by the library's registration object.
std::span<const IntrinsicRow> numeric_intrinsics();    // numeric_cases.cpp
std::span<const IntrinsicRow> string_intrinsics();     // string_cases.cpp
std::span<const IntrinsicRow> statement_intrinsics();  // statement_cases.cpp
std::span<const IntrinsicRow> list_intrinsics();       // list_cases.cpp

namespace intr {

// Argument i (0 = the first) of the call.
inline Stack &arg(int nargs, int last, int i) { return Stk[last - nargs + 1 + i]; }

// The decimal of a numeric argument; any other kind ends the run.
const dec_t *number(const Stack &entry);
// Its integer part, kept within the int range (beyond it stays beyond every bound).
int integer(const Stack &entry);
// Its 64-bit integer value (handles).
long long_integer(const Stack &entry);
// The bytes of a string argument: its length bytes, or the text its pointer field names; never
// read up to a terminator. Any other kind ends the run.
inline std::string_view text(const Stack &entry);
bool is_number(const Stack &entry);
inline bool is_text(const Stack &entry) { return entry.s_t == string || entry.s_t == string_array; }

// Results.
inline void set_number(Stack *result, long value);
void set_text(Stack *result, std::string_view text);

// The text an 8-byte text reference names (a pointer variable, or a field of at least 8 bytes
// holding the big-endian address): nullptr when it holds none (zero or eight blanks). An address
// that is not a block of the pointer accounting, or an argument that is no such reference, is
// refused with error 202 naming the intrinsic.
const char *referenced_text(const Stack &entry, const char *intrinsic);
// The 8 bytes of a text reference argument (its field), unchecked against the accounting.
const char *reference_bytes(const Stack &entry, const char *intrinsic);
// The 8 bytes of a reference argument that a new text reference may be written into, else error
// 202 naming the intrinsic.
char *reference_field(const Stack &entry, const char *intrinsic);
// True when the bytes lie in the storage of the program's variables (not in its constants).
bool variable_storage(const void *address, std::size_t size);
// Stores text into the string variable the entry refers to (error 202 when it is none); the
// entry's length becomes the stored length.
void store_text(Stack &entry, std::string_view text, const char *intrinsic);

// Inline, since most handlers read a text or give a count and their calls are short: the entry's
// own bytes and the small counts here, the rest by the functions behind them.
std::string_view pointed_text(const Stack &entry);  // text() of any other entry
void set_wide_number(Stack *result, long value);   // set_number() of any other value
extern const std::array<dec_t, 100> SMALL_NUMBERS; // 0 to 99, as the library writes them

inline std::string_view text(const Stack &entry)
{
    if (!is_text(entry) || (entry.flags & stk_pointer)) return pointed_text(entry);
    return entry.s_c.C_S ? std::string_view(entry.s_c.C_S, entry.length) : std::string_view();
}

inline void set_number(Stack *result, long value)
{
    if (static_cast<unsigned long>(value) < SMALL_NUMBERS.size())
        result->num = SMALL_NUMBERS[value];
    else
        set_wide_number(result, value);
}

} // namespace intr
