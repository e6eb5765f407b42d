// The note model: a note held as a doubly linked list of elements (paragraphs, hidden paragraphs,
// amounts and the tags that bracket blocks) under its note record, the operations on that list,
// the amount text, and the note XML string that programs keep a note in (its reader and writer).
//
// This library needs nothing above the core, so documents, tests and the fuzz target use it
// without the widgets. The widget, buffer and controller fields of the records are only carried
// here: the note field and its edit window fill and use them.
//
// Run positions are byte offsets into an element's decoded text everywhere in the model; the edit
// window converts from and to its views' character offsets at its own boundary.
//
// Every string, array, element and note string made here is allocated with salloc and freed with
// sfree (mem_mgt.h). The reader returns what it finds wrong in a note string (a ReadError, whose
// text its callers stop the run with); every other inconsistency ends the run through Abort.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <glib.h>

#include "disamdec.h"
#include "read_error.h"

// The widget types the records refer to, opaque here.
typedef struct _GtkWidget GtkWidget;
typedef struct _GtkTextBuffer GtkTextBuffer;
typedef struct _GtkTextTag GtkTextTag;
typedef struct _GtkEventController GtkEventController;
struct ControlMatrix_t;

// Element types.
inline constexpr int CM_GNOTE_NOTE_TYPE_P = 1;     // paragraph
inline constexpr int CM_GNOTE_NOTE_TYPE_AM = 2;    // amount
inline constexpr int CM_GNOTE_NOTE_TYPE_TAG = 3;   // one end of a block tag
inline constexpr int CM_GNOTE_NOTE_TYPE_HIDE = 4;  // hidden paragraph

// Sizes of the note record's texts (without their terminators).
inline constexpr int CM_GNOTE_ID_SIZE = 9;
inline constexpr int CM_GNOTE_TYPE_SIZE = 6;
inline constexpr int CM_GNOTE_TYPE_DESC_SIZE = 40;
inline constexpr int CM_GNOTE_RPC_SIZE = 6;
inline constexpr int CM_GNOTE_TEXT_SIZE = 40;
inline constexpr int CM_GNOTE_ARROW_SIZE = 10;
// The size unit of one element's XML text; the writer's buffers grow past it, so a long paragraph
// is written whole.
inline constexpr int MAX_NOTE_PARA_SIZE = 8192;

// Limits of the note XML string that the reader holds to and the writer therefore keeps.
inline constexpr int GNOTE_TAG_NAME_MAX = 255;    // a tag's name (an attribute value)
inline constexpr int GNOTE_TAG_TEXT_MAX = 249;    // a tag's text, whose "</tag>" ends 255 bytes on
inline constexpr int GNOTE_AMOUNT_TEXT_MAX = 63;  // an amount's value text: the writer's field

// Operational modes of a note (NoteData_t::mode).
inline constexpr int GNOTE_MODE_NULL = 0;
inline constexpr int GNOTE_MODE_DISPLAY = 1;
inline constexpr int GNOTE_MODE_EDIT = 2;
inline constexpr int GNOTE_MODE_TEMPLATE = 3;
inline constexpr int GNOTE_MODE_ONE_LINE = 4;

struct NoteData_t;

// Paragraph and hidden paragraph (CM_GNOTE_NOTE_TYPE_P, CM_GNOTE_NOTE_TYPE_HIDE).
struct NoteParagraph_t {
    char datatype[4];  // "P" or "H"
    std::int32_t position;  // always 0
    char *text;             // owned, or null until filled; may hold '\n'
    // Runs: [start, end) byte offsets into text, end -1 while a run is still open. Owned arrays of
    // count entries each.
    std::int32_t *bold_start, *bold_end;
    std::int32_t bold_count;
    std::int32_t *italic_start, *italic_end;
    std::int32_t italic_count;
    std::int32_t *underline_start, *underline_end;
    std::int32_t underline_count;
    // Two further owned position arrays, kept, copied, compared and freed with the runs but never
    // written to the XML.
    std::int32_t *extra1;
    std::int32_t extra1_count;
    std::int32_t *extra2;
    std::int32_t extra2_count;
    // Edit window only (not owned).
    GtkTextBuffer *buffer;
    GtkWidget *view;
    GtkTextTag *bold_tag, *italic_tag, *underline_tag;
    // The view's controllers: a click gesture, key, focus and motion controllers.
    GtkEventController *click_controller, *key_controller, *focus_controller, *motion_controller;
};

// Amount (CM_GNOTE_NOTE_TYPE_AM).
struct NoteAmount_t {
    std::int32_t required, next, protect, orsec, orsecvalue;
    dec_t value;
    // Edit window only (not owned).
    GtkEventController *key_controller, *focus_controller, *motion_controller;
    GtkWidget *box;    // "AmtNoteBackground"
    GtkWidget *input;  // shows and edits the value
};

// Tag (CM_GNOTE_NOTE_TYPE_TAG): the start (start 1) or end (start 0) of a block of one name.
struct NoteTag_t {
    char *name;  // owned
    char *text;  // owned, or null
    std::int32_t start;
    GtkWidget *view;  // its label box in the edit window (not owned)
};

struct NoteElement_t {
    std::int32_t type;
    // Edit-window state.
    std::int32_t focus, selected, press_mark, release_mark, release_sec, release_usec;
    NoteData_t *note_data;  // the record whose note (or original) list holds this element
    NoteElement_t *next, *prior;
    union {
        NoteParagraph_t p;  // types 1 and 4
        NoteAmount_t am;    // type 2
        NoteTag_t tag;      // type 3
    };
};

// The note record: a note field's setup record, or a zeroed scratch record for one operation (in
// which only the element lists and cm matter).
struct NoteData_t {
    std::int32_t field_type;  // CM_FIELD_TYPE_GNOTE in a field record, 0 in a scratch record
    char number[CM_GNOTE_ID_SIZE + 1];
    std::int32_t index;  // the field's index in its control matrix
    GtkWidget *hbox, *hbox2, *vbox;
    GtkWidget *old_activate_button, *activate_button, *activate_label;
    std::int32_t display_state;  // 0 none, 1 one-line input, 2 collapsed, 3 expanded, 4 edit window
    std::int32_t saved_display_state;
    GtkWidget *arrow_button, *arrow_image;
    GtkWidget *input;  // the one-line input
    std::int32_t min_chars;
    char input_type[4];
    GtkWidget *line_box, *line_label;
    GtkWidget *full_window, *full_label;
    void *reserved1, *reserved2;
    ControlMatrix_t *cm;
    NoteElement_t *original;  // the copy saved when the note was loaded, or null
    NoteElement_t *note;      // the current list, or null
    std::int32_t version;     // the note XML version, 1
    char short_text[CM_GNOTE_TEXT_SIZE + 1];
    std::int32_t has_more;
    std::int32_t width;
    std::int32_t edit_width, edit_height;
    std::int32_t placement;
    char note_type[CM_GNOTE_TYPE_SIZE + 1];
    char type_desc[CM_GNOTE_TYPE_DESC_SIZE + 1];
    std::int32_t mode;  // 0 Null, 1 Display, 2 Edit, 3 Template, 4 Edit One Line
    std::int32_t created_mode;
    std::int32_t print_flags[8];
    char rpc[CM_GNOTE_RPC_SIZE + 1];
    std::int32_t print_last;
    GtkWidget *total_label;
    dec_t total;  // the sum of the amounts
    std::int32_t modified;
    std::int32_t reserved3;
    std::int32_t approved;
    GtkWidget *focus_widget;
    void *reserved4, *reserved5, *reserved6;
    GtkWidget *views_box;
    GtkWidget *edit_scroller;
    char *name;  // owned: the field's widget name and CSS class
    // A try-lock against re-entry while the edit window restructures the note; whoever makes a
    // field record initialises it (g_mutex_init). Scratch records never take it.
    GMutex lock;
    std::int32_t hidden_visible;
};

// ---- The element list ------------------------------------------------------------------------

// A new zeroed, unlinked element of note_data whose kind is the first character of kind: 'p' a
// paragraph "P", 'P' a paragraph whose datatype the caller sets, 'h' or 'H' a hidden paragraph
// "H", 'a' an amount of value 0, 't' a tag. Any other kind stops the run with "gmenu_parse_xml_add:
// Tag type not yet coded @ " and this number (the reader returns that text for a paragraph without
// a datatype, which would be of no kind).
inline constexpr int GNOTE_UNKNOWN_KIND_LINE = 221;
NoteElement_t *gmenu_parse_xml_add_tag(NoteData_t *note_data, const char *kind);
// The same, appended to note_data's current list.
NoteElement_t *gmenu_parse_xml_add(NoteData_t *note_data, const char *kind);

// The list's links. e belongs to no list; head is the list's first-element pointer (a note's note
// or original), which a link before the first element or the first element's unlinking changes.
// e directly after at.
void note_link_after(NoteElement_t *at, NoteElement_t *e);
// e directly before at; with at null, at the list's end.
void note_link_before(NoteElement_t **head, NoteElement_t *at, NoteElement_t *e);
// e out of its list, its own links cleared.
void note_unlink(NoteElement_t **head, NoteElement_t *e);
// e after tail, the list's last element (null for an empty list), without walking the list: the
// step of the readers and copies that build a list from its start. Returns e, the new tail.
NoteElement_t *note_append(NoteElement_t **head, NoteElement_t *tail, NoteElement_t *e);

// Free the current list, or the original copy, and clear the record's reference.
void gnote_free_xml(NoteData_t *note_data);
void gnote_free_original_note(NoteData_t *note_data);
// Free one element of that kind with what it owns, and clear *element.
void gnote_free_xml_p(NoteElement_t **element);
void gnote_free_xml_am(NoteElement_t **element);
void gnote_free_xml_tag(NoteElement_t **element);

// Replaces note_data's current list (not freed here) by a copy of list's structure, without the
// paragraphs' texts and runs and the amounts' values, for the edit window to fill.
void gnote_copy_note_shell(NoteData_t *note_data, const NoteElement_t *list);

// Runs being recorded. kind is "bold", "italic" or "underline"; open is the caller's flag for the
// kind. Starting returns 1 (the kind is now open), ending returns 0.
int gnote_add_format_tag_position(NoteElement_t *element, const char *kind, int position, int open);
int gnote_end_format_tag_position(NoteElement_t *element, const char *kind, int position, int open);

// Whether the edit window shows a note's hidden paragraphs, and so takes them back and compares
// them: while the visibility action has them shown, and always in Template mode, where they are
// made and edited.
bool gnote_hidden_shown(const NoteData_t *note_data);
// 1 when modified is set or the two lists differ, else 0.
int gnote_compare_notes(int modified, const NoteElement_t *a, const NoteElement_t *b);
// 1 when the two texts are equal, else 0.
int gnote_cmp_short_text(const char *a, const char *b);
// Replaces note_data's original copy by a copy of its current list.
void gnote_save_original(NoteData_t *note_data);

// The amount text of value, with two decimals and ',' between groups of thousands ("nil" for 0
// and null); a new string.
char *gnote_format_amount(const dec_t *value);

// Refuses, with an Abort, a block tag that the note XML string cannot hold: a name with '"' or
// '>' or longer than GNOTE_TAG_NAME_MAX bytes, a text (null for none) holding "</tag>" or longer
// than GNOTE_TAG_TEXT_MAX bytes. Called before a tag is stored, and by the writer.
void gnote_check_tag(const char *name, const char *text);

// ---- The note XML string -----------------------------------------------------------------------

// The note string of note_data's current list; a new string. An empty list is written as one
// empty paragraph.
char *gnote_get_xml(NoteData_t *note_data);
// The escaped, marked-up content of one paragraph element into buffer (replacing what it held);
// returns buffer.
std::string &gnote_get_xml_cdata(std::string &buffer, const NoteElement_t *element);
// The run test of every writer of run marks: with open and index the caller's state for one kind
// of run and positions its start or end array of count runs, 1 when a mark is due at byte at.
int gnote_get_xml_cdata_format(int *open, const std::int32_t *positions, int count, int *index, int at);
// Removes trailing white space in place; returns string.
char *gnote_trim(char *string);

// What the reader found wrong in a note string (ReadError::code); the error's offset is the byte
// of the string where it was found.
inline constexpr int GNOTE_READ_NOTE = 1;            // the note element: its attribute or version
inline constexpr int GNOTE_READ_START_TAG = 2;       // no element starts there, its name or attribute text is too long
inline constexpr int GNOTE_READ_ELEMENT = 3;         // a name no element has, or a close tag
inline constexpr int GNOTE_READ_ATTRIBUTE_FORM = 4;  // an attribute without '=', quotes or blank, or too long
inline constexpr int GNOTE_READ_ATTRIBUTE = 5;       // an attribute out of place or missing, or one too many
inline constexpr int GNOTE_READ_VALUE = 6;           // a value the attribute does not take
inline constexpr int GNOTE_READ_UNCLOSED = 7;        // a content or end mark missing, or a tag or amount text too long
inline constexpr int GNOTE_READ_RUN_MARK = 8;        // a run mark malformed, unknown or not paired
inline constexpr int GNOTE_READ_ENTITY = 9;          // an '&' that begins none of the entities read

// Reads string (unchanged) into a new list of note_data's elements that is not linked to it, and
// hands it over in *list, which the caller then owns; note_data is left as it is. compact 0 keeps
// every paragraph and adds the separating empty paragraphs; compact 1 drops empty paragraphs.
// When the string does not read, nothing is handed over and the error says why.
[[nodiscard]] ReadError gnote_read_xml(NoteData_t *note_data, const char *string, int compact, NoteElement_t **list);
// Reads string as gnote_read_xml does and, when it reads, frees note_data's current list, puts the
// new one in its place and sets the version to 1. When it does not, note_data is left as it was.
[[nodiscard]] ReadError gnote_parse_xml(NoteData_t *note_data, const char *string, int compact);
// What the reader calls every so many elements or marks of a long note: the run-time sets its
// signal safe point here, so that a termination ends the reading of a note of many megabytes at
// once. The model itself calls nothing of the core's signal handling (null: nothing is called).
extern void (*gnote_parse_safe_point)();
// Decodes one paragraph's content into a new text in *decoded, recording its runs after those the
// element already has; when the content does not read, neither *decoded nor the element changes.
// The error's offset counts from the content's start.
[[nodiscard]] ReadError gnote_parse_xml_cdata(NoteElement_t *element, std::string_view content, char **decoded);
// Cuts paragraphs at blank lines and, with compact 0, adds the empty paragraphs between two
// amounts and after a last element that is not a paragraph.
void gnote_split_paragraphs(NoteData_t *note_data, int compact);

// The reader's steps over the note string; each writes its results only when it succeeds, and
// its error's offset counts from the start of the view it was given. An element's start tag at
// the front of *text: its name (at most 4 characters, in name[32]) and its attribute text (at most
// 535 bytes); *text moves past the '>'. *end is set at the note's end mark "</note", cleared
// otherwise.
[[nodiscard]] ReadError gnote_parse_xml_tag(std::string_view *text, char *name, std::string_view *attributes,
                                            bool *end);
// The attribute at the front of *attributes: its name (at most 31 characters, in name[32]) and
// value (at most 255, in value[256]); *attributes moves past it. *more is set when another
// follows.
[[nodiscard]] ReadError gnote_parse_xml_attr(std::string_view *attributes, char *name, char *value, bool *more);
