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
#include "read_error.h"
#include "run_time.h"

namespace {

constexpr const char *TAGS_FILE = "/conf/tags";
constexpr std::size_t CHUNK = 25;         // bytes read from the file at a time
constexpr std::size_t REMAINDER = CHUNK;  // the rest of a chunk after its '}' and a terminator

// Text of the last chunk that followed its '}', handed over first by the next call.
char remainder[REMAINDER + 1];
int first = 1;

int code(StyleTagCode c) { return static_cast<int>(c); }

// The tag text being built, in the caller's buffer, and where in the file it began.
struct TagText {
    char **buffer;
    std::size_t length = 0, capacity = 0;
    std::size_t begins = 0;  // the file offset of its first character

    void append(char c, std::size_t at)
    {
        if (length == 0) begins = at;
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
        append('\0', begins);
        --length;
    }
};

// What one tag's scan has seen so far; carried from chunk to chunk.
struct Scan {
    bool in_quotes = false, in_comment = false;
    char previous = ' ';
};

// Feeds chunk[0..n), which begins at file offset at, into text; true when a '}' ended the tag
// (the rest of the chunk then waits in remainder). "//" inside quotes is a fault, kept in error.
bool scan_chunk(const char *chunk, std::size_t n, std::size_t at, Scan &scan, TagText &text, ReadError &error)
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
            text.append(c, at + i);
        } else if (c == '/' && scan.previous == '/') {
            if (scan.in_quotes) {
                const std::string rest(chunk + i, n - i);
                error = read_error(code(StyleTagCode::SlashesInQuotes), at + i,
                                   "Missmatched quotes in format tag attribute: '%s'", rest.c_str());
                return false;
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
            text.append(c, at + i);
        }
        scan.previous = c;
    }
    return false;
}

} // namespace

ReadError postscript_print_tags_open_file(std::FILE **file)
{
    if (std::strlen(PPATH_ROOT) + 10 > 255)
        return read_error(code(StyleTagCode::PathTooLong), 0,
                          "Style tags configuration file name longer than 255 characters %s%s", PPATH_ROOT, TAGS_FILE);
    const std::string path = std::string(PPATH_ROOT) + TAGS_FILE;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::FILE *opened = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (!opened) {
        if (fd >= 0) close(fd);
        return read_error(code(StyleTagCode::CannotOpen), 0, "Cannot open style tags configuration file %s", path.c_str());
    }
    *file = opened;
    return {};
}

void postscript_print_tags_reset()
{
    remainder[0] = '\0';
    first = 0;
}

ReadError postscript_print_tags_get_tag(std::FILE *file, char **buffer, int *found, std::size_t *offset)
{
    if (first) postscript_print_tags_reset();
    TagText text{buffer};
    Scan scan;
    ReadError error;
    bool closed = false;
    // The carried text stands in the file just before what the file reads next.
    const long next = std::ftell(file);
    std::size_t at = next > 0 ? static_cast<std::size_t>(next) : 0;
    if (remainder[0]) {
        char carried[REMAINDER + 1];
        std::memcpy(carried, remainder, sizeof carried);
        remainder[0] = '\0';
        const std::size_t n = std::strlen(carried);
        closed = scan_chunk(carried, n, at >= n ? at - n : 0, scan, text, error);
    }
    char chunk[CHUNK];
    while (!closed && !error) {
        const std::size_t n = std::fread(chunk, 1, CHUNK, file);
        closed = scan_chunk(chunk, n, at, scan, text, error);
        at += n;
        if (n < CHUNK) break;
    }
    if (error) {
        // The rest of this file must not begin the next reader's.
        postscript_print_tags_reset();
        return error;
    }
    text.terminate();
    *found = closed && text.length > 0 ? 1 : 0;
    if (offset) *offset = text.begins;
    return {};
}

ReadError postscript_get_style_tag_value(char *output, const char **position, char delimiter, int size,
                                         int quotes_allowed)
{
    const char *input = *position, *p = input;
    const auto fault = [&](StyleTagCode c, const char *format, const char *text) {
        return read_error(code(c), static_cast<std::size_t>(p - input), format, text);
    };
    std::string value;
    int quotes = 0;
    bool in_quotes = false, after_quotes = false;
    for (;; ++p) {
        const char c = *p;
        if (c == '\0')
            return read_error(code(StyleTagCode::UnexpectedEnd), static_cast<std::size_t>(p - input),
                              "Found unexpected string termination in Style Tag");
        if (in_quotes) {
            if (c == '"') {
                in_quotes = false;
                after_quotes = true;
                continue;
            }
        } else if (c == delimiter) {
            break;
        } else if (c == '"') {
            if (!quotes_allowed)
                return fault(StyleTagCode::QuoteNotAllowed,
                             "Found a '\"' in a format tag '%s' attribute where one is not allowed", input);
            if (quotes)
                return fault(StyleTagCode::TooManyQuotes, "Found too many '\"' characters in format tag '%s' attributes",
                             input);
            quotes = 1;
            in_quotes = true;
            continue;
        } else if (c == ';' || c == ':') {
            return fault(StyleTagCode::StrayDelimiter, "Found unexpected delimiter in Style Tag attribute '%s'", p);
        } else if (after_quotes) {
            return fault(StyleTagCode::AfterQuotes, "Found unexpected character following quoted tag '%s' attribute", p);
        }
        if (static_cast<int>(value.size()) >= size - 1)
            return fault(StyleTagCode::ValueTooLong, "Format Tag attribute value '%s' exceeds buffer size", input);
        value += c;
    }
    if (size > 0) {
        value.copy(output, value.size());
        output[value.size()] = '\0';
    }
    *position = p + 1;
    return {};
}
