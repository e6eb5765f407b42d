// The print state of a report being produced (as PostScript or in a drill window) and the line
// format that says which character ranges of a report line go where, in which style tag.
//
// A line format is a list of ';'-separated segments. A segment beginning with 'm' is a default
// segment: ','-separated tag names that change the report's default style from then on. Any other
// is a field segment: first character, count, position and length in cm, then tag names, all
// ','-separated; empty items take their defaults (1, to the end of the line, not given).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "read_error.h"
#include "style_tags.h"

struct PrintNote_t;       // a note printed across lines
struct PrintMultiLine_t;  // a multi-line text printed across lines
struct TagIndex;          // the first tag of each name, for lookups by name
struct ControlMatrix_t;

// One saved heading: its level (0 the page heading), its text lines and their formats, separated
// by line feeds or carriage returns. Allocated zero-filled; owns its strings.
struct PrintHeader_t {
    int level;
    char *text;
    char *format;
    PrintHeader_t *next, *prior;
};

// Not given: a position or length that a segment does not set.
inline constexpr double NOT_GIVEN_CM = -2.0;

// One segment of the current line: characters first..last (1-based) of the line text, placed and
// styled together. The segments of a line cover it from 1 to its length without gap.
struct FormatValue_t {
    int set;          // 1 once a field segment applied a named tag to the range
    int first;
    int last;
    double position;  // cm from the page's left edge, or NOT_GIVEN_CM
    double length;    // cm, or NOT_GIVEN_CM
    PrintTag_t *tag;  // the range's own style (owned)
    FormatValue_t *next, *prior;
};

// Everything a report carries from line to line. Allocated zero-filled; owns its tags, strings,
// headings and the tag index.
struct PrintState_t {
    int output_kind;              // 1 PostScript file, 0 drill display
    float drill_scale;            // display scale of the drill window, 1.0 for PostScript
    FormatValue_t *format_values; // segments of the line being rendered
    PrintTag_t *default_tag;      // the current default style
    PrintTag_t *tags;             // the style tags file, in file order
    float left_margin, right_margin, top_margin, bottom_margin;  // cm
    int orientation;              // 0 portrait, 1 landscape
    int form;                     // 3 A3, 4 A4
    int page_height;              // points
    char *output_name;
    std::FILE *output_file;
    PrintTag_t *watermark_tag;    // copy of the default tag that gave watermark-text
    float current_y;              // baseline of the last line, points above the page's foot
    int page_number;
    PrintHeader_t *headings;
    int current_colour;           // last colour set in the output, -1 none yet
    int current_size;             // font size of the last text or rule segment
    float line_spacing;           // factor applied to a line's font size
    float footer_reserve;         // points kept free at every page's foot
    float heading_gap;            // points that must remain below a heading
    float keep_space;             // points a line or heading needs above the page's foot
    int grey;                     // 1 when printing in grey
    int gutter;                   // 1 when alternate pages are shifted
    int note_phase;               // 0 no note, 1 a note without completion seen, 2 completion asked
    PrintNote_t *notes;
    int multi_line_phase;         // as note_phase, for multi-line texts
    int multi_line_count;
    PrintMultiLine_t *multi_lines;
    TagIndex *tag_index;          // first tag of each name of tags
    int page_set_up;              // 1 once the first page's set-up is in the output
    ControlMatrix_t *cm;          // the matrix the print handle hangs on: its Get_Note gives notes
};

// A new state in *state for output kind (1 PostScript, 0 drill) at that drill scale, with the style
// tags file read into its tag list; a fault of the file is returned (see style_tags.h) and no state
// is made.
[[nodiscard]] ReadError postscript_print_state_initialise(int output_kind, float drill_scale, PrintState_t **state);
// Frees the default tag, the tags, the output name, the watermark tag and the headings, then the
// state (nullptr is allowed). It closes no file and leaves segments, notes and multi-line texts to
// their owners.
void postscript_print_state_free(PrintState_t *state);

// What a line format has wrong (or the state it is applied to): the code of a ReadError, whose
// offset is that of the item at fault in the format (0 for a fault of the state or of the whole).
enum class PrintFormatCode : int {
    None = 0,
    ItemTooLong,        // an item beyond its bounds (segment, number, measure, tag name)
    NoTags,             // the style tags file gave no tags
    NotInitialised,     // no segment to style
    WatermarkInField,   // a field segment's tag gives watermark-text
    SpansSegments,      // a field segment runs over more than one earlier segment
    DefaultTimeStamp,   // a default segment's tag gives a line attribute...
    DefaultPageNumber,
    DefaultLineType,
    DefaultLineStyle,
    DefaultNoteType,
    DefaultMultiLine,
    NoSegments,         // a default tag finds no segment
    DrillItemTooLong,   // a position or length too long for the drill window's format
    DrillValueTooLong,  // its rescaled value too long
    DrillFormatTooLong, // the rescaled format more than twice as long
};

// The functions that read a format return what they find wrong and leave the state as it was
// then; their callers stop the run with the error's text.

// The segments of one line of line_length characters, from its format; the caller renders them
// and then frees them with postscript_free_format_line.
[[nodiscard]] ReadError postscript_parse_format(const char *format, PrintState_t *state, int line_length);
void postscript_free_format_line(PrintState_t *state);
// Applies only the default segments of format to the state's default style (a report's default
// format, when it is opened).
[[nodiscard]] ReadError postscript_parse_default(const char *format, PrintState_t *state);
// The first segment, 1..line_length in the default style, when the state has none.
void postscript_init_value(PrintState_t *state, int line_length);

// Copies the next item of *position up to delimiter or the end into output (size bytes with the
// terminator), leaving out white space, and moves *position past the delimiter; *tag_name is 1
// when the item begins with 'm' (a tag name). An item that does not fit is refused (offset 0)
// and nothing moves.
[[nodiscard]] ReadError postscript_get_format_tag(char *output, const char **position, char delimiter, int size,
                                                  int *tag_name);

// Applies the named tag to characters first..last of the line, splitting segments as needed;
// position and length (cm) replace the segment's own when given (above -1.5). An unknown name is
// mailed to the support address and styles nothing.
[[nodiscard]] ReadError postscript_save_tag(PrintState_t *state, int first, int last, const char *name,
                                            double position, double length);
// Applies the named tag as a default style: to the state's default tag and to the line's last
// segment while no field segment styled it; a tag with watermark-text becomes the watermark tag.
[[nodiscard]] ReadError postscript_save_default_tag(PrintState_t *state, const char *name);
// The first tag of that name, or nullptr.
PrintTag_t *postscript_find_tag(const PrintState_t *state, std::string_view name);

// A new format in *converted (free with sfree) whose positions and lengths are rescaled from the
// page to the drill window of the state's form, margins and scale.
[[nodiscard]] ReadError psprint_drill_conv_format(const PrintState_t *state, const char *format, char **converted);
// One segment of it, appended to converted.
[[nodiscard]] ReadError psprint_drill_conv_field(const PrintState_t *state, std::string_view segment,
                                                 std::string &converted);

// Removes trailing white space of text in place and returns it.
char *psprint_trim(char *text);
