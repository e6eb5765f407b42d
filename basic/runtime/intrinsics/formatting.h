// Text, date and number formatting behind the intrinsics IDATEC$, IDATEP$, CPMED$, CPMEDZ$,
// EDIT$, PATTERN.MATCH and IURL_ENCODE$: the formatting itself, apart from the value stack, so
// that reports and benchmarks can use it directly. Errors end the run as the intrinsics do
// (Xerror 202 for bad pictures and widths, Abort for the URL library).
#pragma once

#include <cstddef>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

#include "intrinsic_dispatch.h"

struct dec_t;

// ---- Dates ------------------------------------------------------------------------------------
// The two-digit year of every layout is the year modulo 100.

// IDATEC$: the local time t in layout 0 "2026-12-07", 1 "Mon  07 Dec 26  14:05" (21 columns),
// 2 "14:05:09" or 3 "2026-12-07 14:05:09"; any other layout gives the empty text.
std::string date_current_text(int layout, const std::tm &t);

// IDATEP$: a stored date "YYYY?MM?DD" (the bytes at 4 and 7 are not looked at) re-laid as
// layout 0 "07Dec26", 1 "07 Dec 26", 2 "07Dec2026" or 3 "07 Dec 2026". A text longer than 18
// bytes is taken as its first 10 (a time stamp's date). Ten blanks give themselves; a text of
// another length, one that does not read as three numbers, or a month outside 1..12 gives
// "********"; a readable date with any other layout gives the empty text.
std::string date_print_text(int layout, std::string_view date);

// ---- Amount columns (CPMED$, CPMEDZ$) ---------------------------------------------------------

// What a value of zero shows: a number like any other, "--" (CPMEDZ$), or a text of the
// program's (CPMED$ with four arguments).
enum class ZeroForm { number, dashes, text };

// Widest column a program may ask for; the column is built in a caller's area of this size.
inline constexpr int CPMED_MAX_WIDTH = 2048;

// Writes the column of value into out and returns its length: the digits truncated (not rounded)
// to decimals places, "," between groups of three integer digits, then the sign column ("-" or a
// blank), right-aligned in width columns. Separators are dropped from the left while the
// digits do not fit; when the digits alone do not fit the column is width asterisks. A zero value
// with a zero form shows "-- " or zero_text (cut to width - 1 bytes) right-aligned instead.
// width must lie in 0..CPMED_MAX_WIDTH and decimals be 0 or more (else error 202 naming
// intrinsic); out must hold CPMED_MAX_WIDTH bytes.
std::size_t cpmed_column(const dec_t *value, int width, int decimals, ZeroForm zero, std::string_view zero_text,
                         std::span<char, CPMED_MAX_WIDTH> out, const char *intrinsic = "CPMED$");

// ---- Picture editing (EDIT$) -----------------------------------------------------------------

// Longest picture, and the size of the area the edited number is written into.
inline constexpr std::size_t EDIT_AREA = 4096;

// Writes number edited by picture into out and returns the edited length (at most the picture's
// length). A picture of EDIT_AREA bytes or more, a "z" before "V", or a second "." or "V" is
// refused with error 202. The picture language:
//   9       digit; shows "0" where the number has none left of the point
//   Z       digit; shows a blank where the number has none (also after "V")
//   z       decimal digit after "V"; missing digits and trailing zeros are dropped after a "."
//           (without a "." in the picture nothing is dropped: a missing digit shows "0")
//   V       implied decimal point, no column;  .  literal point (one at most)
//   + -     first: floating sign; last: trailing sign; after "V": sign column; else a digit
//   $ *     digit; a "*" anywhere fills the empty columns left of the number with "*"
//   XX      a first character other than 9Zz-+* repeated as the second: floating fill
//   other   written as it stands (blanked left of the number)
// A number that does not fit gives a column of "*".
std::size_t zedit(const dec_t *number, std::string_view picture, std::span<char, EDIT_AREA> out);

// ---- Regular expressions (PATTERN.MATCH) -----------------------------------------------------

// Most variables PATTERN.MATCH fills: the whole match and 29 groups.
inline constexpr int PATTERN_MAX_VARIABLES = 30;

// Matches text (every byte, zero bytes included) against pattern, a POSIX extended regular
// expression, ignoring case when asked. On a match fills parts with the whole match and then
// groups 1, 2, ... (as many as parts holds; a group that took no part is empty) and returns
// true; without a match returns false and leaves parts alone. A pattern that does not compile is
// refused with error 202 "PATTERN.MATCH: rexcomp() returns <code>".
bool pattern_match(std::string_view pattern, std::string_view text, bool ignore_case, std::span<std::string_view> parts);

// ---- URL encoding (IURL_ENCODE$) ------------------------------------------------------------

// Every byte of text but the unreserved characters of RFC 3986 (letters, digits, "-", ".", "_",
// "~") as "%" and two upper-case hexadecimal digits, through the URL library's one handle of the
// run. An empty text ends the run with "url_encode: Empty string passed in"; a handle that cannot
// be made, with "url_encode: cannot make a URL library handle".
std::string url_encode(std::string_view text);

// The dispatcher rows of the formatting intrinsics, registered by the library's registration object.
std::span<const IntrinsicRow> dates_intrinsics();
std::span<const IntrinsicRow> pictures_intrinsics();
std::span<const IntrinsicRow> pattern_match_intrinsics();
std::span<const IntrinsicRow> url_encode_intrinsics();
std::span<const IntrinsicRow> text_escape_intrinsics();
