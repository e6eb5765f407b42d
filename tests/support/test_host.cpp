// The test host of the library tests: Abort throws lumba_test::AbortError with the formatted text
// and Load_buffer serves an in-memory object file block by block (the globals: host_globals.cpp).
#include "test_host.h"

#include <cstdarg>
#include <cstring>
#include <vector>

#include <glib.h>

#include "globals.h"

namespace {
std::string feed;
std::size_t feed_pos;
std::size_t feed_block = 2048;
std::vector<char> buffer;
} // namespace

void lumba_test::feed_object(const std::string &text, std::size_t block)
{
    feed = text;
    feed_pos = 0;
    feed_block = block;
    obj_ptr = obj_end = nullptr;
    Load_buffer();
}

int Load_buffer()
{
    std::size_t n = std::min(feed_block, feed.size() - feed_pos);
    if (n == 0) return -1;
    buffer.assign(feed.begin() + feed_pos, feed.begin() + feed_pos + n);
    buffer.push_back('\0');  // the loader's buffer has a NUL after the block
    feed_pos += n;
    obj_ptr = buffer.data();
    obj_end = buffer.data() + n;
    return 0;
}

void Abort(const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    char *text = g_strdup_vprintf(format, ap);
    va_end(ap);
    std::string message(text);
    g_free(text);
    throw lumba_test::AbortError(message);
}

// Program assertions end in Abort with the run-time's text (without its trap).
void assertion_failed(const char *file, int line, const char *condition)
{
    char *base = g_path_get_basename(file);
    if (char *dot = std::strrchr(base, '.')) *dot = '\0';
    const std::string name(base);
    g_free(base);
    Abort("Program assertion failed in %s@%d: %s", name.c_str(), line, condition);
}
