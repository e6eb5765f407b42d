// Small services of the intrinsics library that other subsystems use as well: the clock and the
// interval timer, the text of the last system error, the picture-header probe, the four ways of
// trimming white space, and the existence and link tests of file names.
//
// White space is what isspace classifies as such; none of these ever removes leading white space.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "intrinsic_dispatch.h"

// ---- Clock -------------------------------------------------------------------------------------

// Seconds and microseconds of the time of day; a clock that cannot be read ends the run.
void misc_get_time(std::int32_t *seconds, std::int32_t *microseconds);
// The present moment in UTC, split into parts: year (four digits), month 1..12, day of the month,
// hour, minute, second, and the microseconds of the same reading.
void misc_get_date(int *year, int *month, int *day, int *hour, int *minute, int *second, int *microseconds);
// Milliseconds since the epoch (seconds * 1000 + microseconds / 1000).
std::int64_t DpsStartTimer();

// The clock that ITIMER_RESET and ITIMER_LAP read: DpsStartTimer until a test installs another.
// Returns the clock it replaces.
using MillisecondClock = std::int64_t (*)();
MillisecondClock set_timer_clock(MillisecondClock clock);

// The dispatcher rows of ITIMER_RESET and ITIMER_LAP, registered by the library's registration
// object.
std::span<const IntrinsicRow> timer_intrinsics();

// ---- System errors -----------------------------------------------------------------------------

// The system's text for the current errno, which is then cleared to 0.
std::string misc_get_error();
// The system's text for error number.
std::string misc_error_text(int number);

// ---- Picture headers ---------------------------------------------------------------------------

// Kinds misc_get_image_stats reports.
inline constexpr std::int32_t IMAGE_UNKNOWN = 0;
inline constexpr std::int32_t IMAGE_GIF = 1;
inline constexpr std::int32_t IMAGE_JPEG = 2;
inline constexpr std::int32_t IMAGE_PNG = 3;
inline constexpr std::int32_t IMAGE_BMP = 4;

// Pixel size, bits per pixel and kind of the PNG, GIF, BMP or JPEG picture in the file at path,
// read from the header within its first 65,535 bytes. Everything is 0 (kind IMAGE_UNKNOWN) for a
// file that is none of them, or a JPEG whose frame header lies beyond that limit. Sizes are the
// low 16 bits of what the header holds. A file that cannot be opened, read or closed ends the run.
void misc_get_image_stats(std::int64_t *height, std::int64_t *width, std::int32_t *bits_per_pixel,
                          std::int32_t *kind, const char *path);

// ---- Trimming ----------------------------------------------------------------------------------

// Cuts text in place at its first white-space character; returns text.
char *utrunc_space(char *text);
// A copy of text without its trailing white space.
std::string utrunc_space_m(std::string_view text);
// Cuts text in place at its first blank (code 32 only); returns text.
char *utrunc_blank(char *text);
// Cuts the trailing white space of text in place; returns text.
char *umisc_trim(char *text);

// ---- File names --------------------------------------------------------------------------------

// What a name stands for, trailing white space of the name ignored and links followed: 1 a
// regular file, 2 a file whose type has the directory bit (directories, also block devices and
// sockets), 0 nothing of that name, -2 any other kind (character device, FIFO), or the negated
// error number when it cannot be looked at. ufexists1 is the same test.
int ufexists3(const char *name);
int ufexists1(const char *name);
// 1 when name, trailing white space removed, is a program found in the search path, else 0.
int ufexists2(const char *name);
// 1 when path is a symbolic link (its target at most 1023 bytes) to something that exists.
int test_is_link(const char *path);
// The name path finally stands for once every symbolic link in the chain is followed (a relative
// target is taken from the link's own directory). A link that cannot be read ends the run.
std::string resolve_link(const char *path);
