// FORMAT items: a comma-separated list, one item per variable or value. A numeric item is a run
// of '9' (its width), optionally '.' and a second run of '9' (its decimals); a string item is a
// run of 'X'. One cursor serves all values of a statement.
#include "io_internal.h"
#include "message.h"

namespace {

int run_of(const char *&cursor, char c)
{
    int n = 0;
    while (*cursor == c) {
        ++cursor;
        ++n;
    }
    return n;
}

} // namespace

FormatItem decode_format(const char *&cursor, bool numeric)
{
    if (!cursor || *cursor == '\0') Io_error(304, 0, "Insufficient format items");
    const char first = *cursor;
    if ((first != '9' && first != 'X') || (first == '9') != numeric) Io_error(304, 0, "Error in format descriptor");
    FormatItem item{numeric, 0, 0};
    if (numeric) {
        item.width = run_of(cursor, '9');
        if (*cursor == '.') {
            ++cursor;
            item.decimals = run_of(cursor, '9');
            if (*cursor == '.') Io_error(304, 0, "Error in numeric format descriptor");
        }
    } else {
        item.width = run_of(cursor, 'X');
    }
    if (*cursor != ',' && *cursor != '\0') Io_error(304, 0, "Error in format descriptor");
    if (*cursor == ',') ++cursor;
    return item;
}
