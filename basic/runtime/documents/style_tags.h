// The site's style tags file (PPATH/conf/tags): named sets of print and screen attributes that
// line formats, documents and the zoom pick-list refer to by name. This is the one reader of its
// text: a tokeniser handing over one tag at a time, with white space and comments removed, and the
// extraction of one attribute name or value from a tag's text.
//
// The tokeniser keeps the text that followed the last '}' of a chunk for the next call, process-
// wide: one file is read at a time, and a reader that stops before the end of a file resets it by
// passing a null file before the next reader begins.
#pragma once

#include <cstdio>

// A tag name as written, "mtag_" included, and its terminator.
inline constexpr int TAGNAMESIZE = 32;

// The style tags file opened for reading (close-on-exec). A path that would be longer than 255
// characters, or a file that cannot be opened, ends the run.
std::FILE *postscript_print_tags_open_file();

// Reads the next tag of file into *buffer (a DpsRealloc'd buffer owned by the caller, nullptr at
// first): its text up to the closing '}', without white space outside double quotes and without
// comments, NUL-terminated. Returns 1 when a tag with at least one character was read, 0 at the
// end of the file (text after the last '}' is ignored). A null file empties the carried-over text
// and returns 1. "//" inside double quotes ends the run.
int postscript_print_tags_get_tag(std::FILE *file, char **buffer);

// Copies the attribute name (delimiter ':') or value (delimiter ';') that begins at input into
// output, which holds size bytes with the terminator, and returns the position just after the
// delimiter. Double quotes around the text are removed where quotes_allowed is non-zero and end
// the run elsewhere; a stray delimiter, text after the closing quote, a text that does not fit and
// a text without its delimiter end the run.
const char *postscript_get_style_tag_value(char *output, const char *input, char delimiter, int size,
                                           int quotes_allowed);
