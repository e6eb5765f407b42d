// Line reading from the host's object buffer.
#include "objlines.h"

#include <cstdio>

#include "globals.h"

namespace {

// Makes sure a byte is available; false when the object file has ended.
bool obj_fill()
{
    if (obj_ptr && obj_ptr < obj_end) return true;
    return Load_buffer() == 0 && obj_ptr && obj_ptr < obj_end;
}

} // namespace

int obj_peek_byte()
{
    if (!obj_fill()) return -1;
    return static_cast<unsigned char>(*obj_ptr);
}

int obj_next_byte()
{
    if (!obj_fill()) return -1;
    return static_cast<unsigned char>(*obj_ptr++);
}

ObjLine obj_read_line(char *buf, std::size_t size)
{
    std::size_t len = 0;
    bool overflow = false;
    for (;;) {
        int c = obj_peek_byte();
        if (c < 0) {
            buf[len] = '\0';
            return ObjLine::end_of_file;
        }
        ++obj_ptr;
        // A NUL byte ends a line as a newline does, and is used up with it: left in place it
        // would end every following line at once, and a section's line count, however large,
        // would then be read from no bytes at all.
        if (c == '\n' || c == '\0') break;
        if (len + 1 < size)
            buf[len++] = static_cast<char>(c);
        else
            overflow = true;
    }
    buf[len] = '\0';
    return overflow ? ObjLine::too_long : ObjLine::ok;
}

void obj_section_done()
{
    if (obj_ptr == obj_end) Load_buffer();
}

void obj_read_counted_section(char *buf, std::size_t size, const char *header_format,
                              void (*malformed)(const char *line),
                              const std::function<void(const char *line)> &each_line)
{
    int count = 0;
    ObjLine r = obj_read_line(buf, size);
    if (r == ObjLine::end_of_file) obj_incomplete();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (r != ObjLine::ok || std::sscanf(buf, header_format, &count) != 1) malformed(buf);
#pragma GCC diagnostic pop
    for (int i = 0; i < count; ++i) {
        r = obj_read_line(buf, size);
        if (r == ObjLine::end_of_file) obj_incomplete();
        if (r == ObjLine::too_long) malformed(buf);
        if (each_line) each_line(buf);
    }
    obj_section_done();
}

void obj_incomplete()
{
    Abort("Binary corrupted: incomplete object file");
}
