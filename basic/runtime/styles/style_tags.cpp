// Reading the style tags file: the tokeniser that hands over one tag's text at a time and the
// extraction of an attribute name or value from it. See style_tags.h.
#include "style_tags.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <unistd.h>

#include "mem_mgt.h"
#include "message.h"
#include "run_time.h"

namespace {

constexpr const char *TAGS_FILE = "/conf/tags";
constexpr std::size_t CHUNK = 25;         // bytes read from the file at a time
constexpr std::size_t REMAINDER = CHUNK;  // the rest of a chunk after its '}' and a terminator

// Text of the last chunk that followed its '}', handed over first by the next call.
char remainder[REMAINDER + 1];
int first = 1;

// The tag text being built, in the caller's buffer.
struct TagText {
    char **buffer;
    std::size_t length = 0, capacity = 0;

    void append(char c)
    {
        if (length + 1 >= capacity) {
            capacity = capacity ? capacity * 2 : 64;
            *buffer = static_cast<char *>(DpsRealloc(*buffer, capacity));
            if (!*buffer) Abort("Out of memory reading the style tags file");
        }
        (*buffer)[length++] = c;
    }
    void drop_last()
    {
        if (length) --length;
    }
    void terminate()
    {
        append('\0');
        --length;
    }
};

// What one tag's scan has seen so far; carried from chunk to chunk.
struct Scan {
    bool in_quotes = false, in_comment = false;
    char previous = ' ';
};

// Feeds chunk[0..n) into text; true when a '}' ended the tag (the rest of the chunk then waits in
// remainder).
bool scan_chunk(const char *chunk, std::size_t n, Scan &scan, TagText &text)
{
    for (std::size_t i = 0; i < n; ++i) {
        const char c = chunk[i];
        if (scan.in_comment) {
            if (c == '\n') {
                scan.in_comment = false;
                scan.previous = ' ';
            }
            continue;
        }
        if (c == '"') {
            scan.in_quotes = !scan.in_quotes;
            text.append(c);
        } else if (c == '/' && scan.previous == '/') {
            if (scan.in_quotes) {
                const std::string rest(chunk + i, n - i);
                Abort("Missmatched quotes in format tag attribute: '%s'", rest.c_str());
            }
            text.drop_last();
            scan.in_comment = true;
        } else if (c == '}') {
            // The brace ends the tag even inside quotes: stored style files were read that way.
            const std::size_t rest = std::min(n - i - 1, REMAINDER - 1);
            std::memcpy(remainder, chunk + i + 1, rest);
            remainder[rest] = '\0';
            return true;
        } else if (!scan.in_quotes && (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')) {
            // white space between the parts of a tag carries no meaning
        } else {
            text.append(c);
        }
        scan.previous = c;
    }
    return false;
}

} // namespace

std::FILE *postscript_print_tags_open_file()
{
    if (std::strlen(PPATH_ROOT) + 10 > 255)
        Abort("Style tags configuration file name longer than 255 characters %s%s", PPATH_ROOT, TAGS_FILE);
    const std::string path = std::string(PPATH_ROOT) + TAGS_FILE;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::FILE *file = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (!file) {
        if (fd >= 0) close(fd);
        Abort("Cannot open style tags configuration file %s", path.c_str());
    }
    return file;
}

int postscript_print_tags_get_tag(std::FILE *file, char **buffer)
{
    if (first) {
        remainder[0] = '\0';
        first = 0;
    }
    if (!file) {
        remainder[0] = '\0';
        return 1;
    }
    TagText text{buffer};
    Scan scan;
    bool closed = false;
    if (remainder[0]) {
        char carried[REMAINDER + 1];
        std::memcpy(carried, remainder, sizeof carried);
        remainder[0] = '\0';
        closed = scan_chunk(carried, std::strlen(carried), scan, text);
    }
    char chunk[CHUNK];
    while (!closed) {
        const std::size_t n = std::fread(chunk, 1, CHUNK, file);
        closed = scan_chunk(chunk, n, scan, text);
        if (n < CHUNK) break;
    }
    text.terminate();
    return closed && text.length > 0 ? 1 : 0;
}

const char *postscript_get_style_tag_value(char *output, const char *input, char delimiter, int size,
                                           int quotes_allowed)
{
    const char *p = input;
    int length = 0, quotes = 0;
    bool in_quotes = false, after_quotes = false;
    for (;; ++p) {
        const char c = *p;
        if (c == '\0') Abort("Found unexpected string termination in Style Tag");
        if (in_quotes) {
            if (c == '"') {
                in_quotes = false;
                after_quotes = true;
                continue;
            }
        } else if (c == delimiter) {
            break;
        } else if (c == '"') {
            if (!quotes_allowed) Abort("Found a '\"' in a format tag '%s' attribute where one is not allowed", input);
            if (quotes) Abort("Found too many '\"' characters in format tag '%s' attributes", input);
            quotes = 1;
            in_quotes = true;
            continue;
        } else if (c == ';' || c == ':') {
            Abort("Found unexpected delimiter in Style Tag attribute '%s'", p);
        } else if (after_quotes) {
            Abort("Found unexpected character following quoted tag '%s' attribute", p);
        }
        if (length >= size - 1) Abort("Format Tag attribute value '%s' exceeds buffer size", input);
        output[length++] = c;
    }
    if (size > 0) output[length] = '\0';
    return p + 1;
}
