// The note print conversion: one note, fetched from the program by its key, cut into print lines
// that fit the note's wrap width and laid out as print blocks, one per paragraph, that report
// printing hands out line by line below the report line that holds the note's key.
//
// The widths come from a fixed table of character widths, not from font metrics, so a report
// wraps the same wherever it is printed or shown.
#pragma once

#include <cstdint>

#include "note_model.h"
#include "print_state.h"

struct ControlMatrix_t;

// One paragraph of a note ready for printing. Allocated zero-filled; owns its segments (each with
// its own tag copy) and its text.
struct NotePrintBlock_t {
    FormatValue_t *items;  // one segment per print line, and one per amount, in order
    // One NUL-terminated string per segment, in the order of the segments, empty print lines
    // included: printing hands segments and strings out in pairs.
    char *text;
    std::int32_t length;   // bytes of text in use from printed on, every string's NUL included
    std::int32_t printed;  // bytes at the front of text whose strings have printed (kept, not moved)
    std::int32_t column;  // 1 when the second segment and string are an amount on the first line
    NotePrintBlock_t *next, *prior;
};

// A note being printed across report lines. Allocated zero-filled.
struct PrintNote_t {
    NotePrintBlock_t *blocks;  // the remaining print blocks, the first one next to print
    char *note;                // owned: the note's key as it stood in the report line
    int completion;            // the tag's note completion
    PrintNote_t *next, *prior;
};

// A note wrap width (cm) below the least is taken as the default.
inline constexpr double GNOTE_LEAST_WRAP_WIDTH = 3.999;
inline constexpr double GNOTE_DEFAULT_WRAP_WIDTH = 4.0;

// Fetches the note of print_note's key from the program (the Get_Note routine attached at index
// 0 of cm) and fills print_note's blocks from it. segment is the note field's segment of the
// report line, the template of every produced segment; screen is non-zero for display.
void gnote_convert2print(ControlMatrix_t *cm, PrintNote_t *print_note, const FormatValue_t *segment, int screen);
// The two steps apart. The note string of key: a new g_malloc string, from the Get_Note routine
// of cm (which must exist and may not close the window).
char *gnote_convert2print_fetch(ControlMatrix_t *cm, const char *key);
// Replaces print_note's blocks by those of note_string.
void gnote_convert2print_note(PrintNote_t *print_note, const char *note_string, const FormatValue_t *segment,
                              int screen);

// The next print line of the text at *position as a new string (free with sfree); *position moves
// past it. size is the font size; width the wrap width in cm.
char *gnote_convert2print_getfield(const char **position, int size, double width);
// The width of one byte at size (a font size × 100).
int gnote_convert2print_getsize(unsigned char character, int size);

// Fills the scratch note record of a conversion: field type 2, index 0 and the key as its number,
// cut to the number's CM_GNOTE_ID_SIZE characters.
void gnote_print_scratch_note(NoteData_t *note, const char *key);

// Frees a list of print blocks with their segments, tag copies and texts.
void gnote_free_print_blocks(NotePrintBlock_t *blocks);
