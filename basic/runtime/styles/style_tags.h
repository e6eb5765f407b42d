// The site's style tags file (PPATH/conf/tags): named sets of print and screen attributes that
// line formats, documents and the zoom pick-list refer to by name. This is the one reader of its
// text: a tokeniser handing over one tag at a time, with white space and comments removed, and the
// extraction of one attribute name or value from a tag's text.
//
// The tokeniser keeps the text that followed the last '}' of a chunk for the next call, process-
// wide: one file is read at a time, and a reader that stops before the end of a file resets it
// (postscript_print_tags_reset) before the next reader begins.
//
// The functions that read the file return what they find wrong as a ReadError, whose offset is
// the byte in the file where it was found (for a fault inside a tag, where the tag's text begins;
// 0 when the file cannot be opened); their callers stop the run with its text.
#pragma once

#include <cstddef>
#include <cstdio>

#include "read_error.h"

// A tag name as written, "mtag_" included, and its terminator.
inline constexpr int TAGNAMESIZE = 32;

// Attribute values in a tag record: NOT_GIVEN marks what the file did not give (merging copies
// only what a tag gives); NO_COLOUR is a given "NULL" colour.
inline constexpr int NOT_GIVEN = -2;
inline constexpr int NO_COLOUR = -1;

// What the reading of the file finds wrong: the code of a ReadError.
enum class StyleTagCode : int {
    None = 0,
    PathTooLong,       // the file's name would be longer than 255 characters
    CannotOpen,        // the file cannot be opened
    SlashesInQuotes,   // "//" inside double quotes
    UnexpectedEnd,     // a tag's text ends inside an attribute name or value
    QuoteNotAllowed,   // a '"' where none is allowed
    TooManyQuotes,     // a second quoted part
    StrayDelimiter,    // ':' or ';' where the other one was expected
    AfterQuotes,       // text after the closing quote
    ValueTooLong,      // a name or value that does not fit
    NoPrefix,          // a tag not beginning with "mtag_"
    NoBrace,           // no '{' after the tag's name
    NameTooLong,       // a tag name of TAGNAMESIZE characters or more
    UnknownAttribute,  // an attribute name no attribute has
    WrongValue,        // a value not among the attribute's words
    WrongPageNumber,   // a page-number value not among its words
    WrongColour,       // a colour or grey that is not '#' and its hexadecimal digits (or NULL)
    SizeDigits,        // a font size not beginning with a digit
    SizeUnits,         // a font size not in "pt"
    WidthDigits,       // a width of more than 10 digits and points
    WidthMissing,      // a width without digits
    WidthUnits,        // a width not in "cm"
    TimeStampFormat,   // a time stamp of another format than the one allowed
};

// One style tag. Allocated zero-filled; owns its two strings.
struct PrintTag_t {
    char name[TAGNAMESIZE];     // as written, "mtag_" included
    int print_weight;           // 0 normal, 1 bold
    int print_size;             // points
    int print_family;           // 0 Courier, 1 Helvetica, 2 Times-Roman
    int print_style;            // 0 normal, 1 italic
    int print_align;            // 0 left, 1 right, 2 centre, 3 decimal, 4 boolean
    int print_colour;           // 0xRRGGBB
    int print_underline;        // 0 none, 1 normal
    int print_neg_colour;       // of negative or false values
    int print_bg_colour;        // NO_COLOUR for none
    int print_grey;             // 0xGGGGGG
    int print_neg_grey;
    int print_bg_grey;          // NO_COLOUR for none
    int print_neg_weight;
    int print_grey_weight;      // weight when printing in grey
    int print_neg_grey_weight;
    int screen_weight;
    int screen_neg_weight;
    int screen_size;
    int screen_family;
    int screen_style;
    int screen_align;
    int screen_colour;
    int screen_underline;
    int screen_neg_colour;
    int screen_bg_colour;
    int page_number;            // 0 none, 1 current page, 2 next page
    char *time_stamp;           // strftime format, nullptr for none
    char *watermark_text;       // "\n" for "none", nullptr when not given
    int line_type;              // NOT_GIVEN no rule, 1 single
    int line_style;             // NOT_GIVEN, 1 solid, 2 dotted, 3 dashed
    int user_definable;
    int note_type;              // 0 not a note, 1 plain, 2 extended
    double note_wrap_width;     // cm
    double note_extension_width;
    int note_completion;
    double multi_line_wrap_width;  // cm, -1.0 for none
    int multi_line_completion;
    PrintTag_t *next, *prior;
};

// A new record: with defaults non-zero the initial style of a report line, else the unset record
// that a tag read from the file starts from (every mergeable attribute NOT_GIVEN).
PrintTag_t *postscript_print_tag_initialise(int defaults);
// A new record with the attributes and strings of tag, outside any list.
PrintTag_t *postscript_print_tag_copy(const PrintTag_t *tag);
// Frees tag and its strings (nullptr is allowed); postscript_print_tags_free frees a whole list.
void postscript_print_tag_free(PrintTag_t *tag);
void postscript_print_tags_free(PrintTag_t *head);

// The colour of value into *colour: '#' and digits hexadecimal digits (6 for a colour, 2 for a
// grey, which gives the same byte in red, green and blue), or NO_COLOUR for "NULL" where
// null_allowed. The digits are lower-cased in place; anything else is refused naming tag_text
// (offset 0), and value and *colour stay as they were.
[[nodiscard]] ReadError postscript_get_colour_value(char *value, const char *tag_text, int null_allowed, int digits,
                                                    int *colour);

// Reads the whole style tags file into *tags: the list of its tags in file order (nullptr when it
// holds none). A fault in the file is returned, and *tags stays as it was.
[[nodiscard]] ReadError postscript_read_style_tag_config_file(PrintTag_t **tags);

// Merges what source gives into destination: print attributes as given, screen attributes from
// the source's screen attribute or else its print one, and the line, note and multi-line
// attributes by their own rules. Name and links of destination stay.
void postscript_add_tag_value(PrintTag_t *destination, const PrintTag_t *source);

// The style tags file opened for reading (close-on-exec) into *file. A path that would be longer
// than 255 characters and a file that cannot be opened are refused.
[[nodiscard]] ReadError postscript_print_tags_open_file(std::FILE **file);

// Reads the next tag of file into *buffer (a DpsRealloc'd buffer owned by the caller, nullptr at
// first): its text up to the closing '}' (a '}' inside double quotes ends it too), without white
// space outside double quotes and without comments, NUL-terminated. *found is 1 when a tag with at
// least one character was read, 0 at the end of the file (text after the last '}' is ignored);
// *offset, when asked for, the byte in the file where the tag's text begins. "//" inside double
// quotes is refused with its offset, and the carried-over text is then forgotten.
[[nodiscard]] ReadError postscript_print_tags_get_tag(std::FILE *file, char **buffer, int *found,
                                                      std::size_t *offset = nullptr);
// Forgets the text carried over from the last tag read.
void postscript_print_tags_reset();

// Copies the attribute name (delimiter ':') or value (delimiter ';') that begins at *position
// into output, which holds size bytes with the terminator, and moves *position just after the
// delimiter. Double quotes around the text are removed where quotes_allowed is non-zero and are
// refused elsewhere; a stray delimiter, text after the closing quote, a text that does not fit and
// a text without its delimiter are refused, with the offset from *position where they were found,
// and neither output nor *position changes then.
[[nodiscard]] ReadError postscript_get_style_tag_value(char *output, const char **position, char delimiter, int size,
                                                       int quotes_allowed);
