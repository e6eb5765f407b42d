// Line reading from the host's object buffer, shared by the section readers.
#pragma once

#include <cstddef>
#include <functional>

enum class ObjLine { ok, too_long, end_of_file };

// Reads one line into buf (size bytes, terminated). A line ends at a newline or a NUL byte, which
// is consumed with it. A line that does not fit is read to its end and reported as
// too_long with its first size - 1 bytes in buf. A file that ends before the newline gives
// end_of_file: every line of a section is complete, so that is a cut-off section.
ObjLine obj_read_line(char *buf, std::size_t size);

// The next byte of the object buffer, refilling it when used up; -1 when the file has ended.
int obj_next_byte();
// The next byte without taking it; -1 when the file has ended.
int obj_peek_byte();

// After a section: refill an exhausted buffer so the loader sees the end of the file.
void obj_section_done();

// The section was cut off by the end of the object file.
[[noreturn]] void obj_incomplete();

// Reads a counted section into buf (size bytes): a header line matching header_format, a
// scanf format with one %d for the count, then that many lines, each handed to each_line
// (which may be empty). A bad header or a line too long goes to malformed with the line.
void obj_read_counted_section(char *buf, std::size_t size, const char *header_format,
                              void (*malformed)(const char *line),
                              const std::function<void(const char *line)> &each_line);
