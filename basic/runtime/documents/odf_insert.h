// Filling OpenDocument templates: a program registers values under tokens such as {NAME} on an
// insertion handle, then IINSERT_OO_DO copies a template into a target document with every token
// replaced. This header holds the handle and its registry, the working records of one XML part,
// and the functions the insertion's files share.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "intrinsic_dispatch.h"
#include "odf_tree.h"

struct PrintTag_t;
struct OdfPackage;

// Value types.
enum : std::uint32_t {
    IOO_TP_TEXT = 1,
    IOO_TP_NOTE = 2,
    IOO_TP_NUMERIC = 3,
    IOO_TP_MONEY = 4,
    IOO_TP_GRAPHIC = 5,
    IOO_TP_TABLE = 6,  // reserved: no intrinsic registers it
    IOO_TP_EXCLUDE = 7,
};

// The style tags a value was registered with, in the order given; the records belong to the
// handle.
using InsertOoTagList = std::vector<const PrintTag_t *>;

// One registered value. Which payload fields count depends on the type.
struct InsertOoValue_t {
    std::uint32_t type = 0;
    std::uint32_t sequence = 0;  // the handle's count of registered values when it was added
    std::string text;            // text: ODF mark-up; numeric, money: the formatted number;
                                 // note: the note text; graphic: the picture file
    InsertOoTagList tags;        // text, numeric, money
    std::uint32_t amount = 1;    // note
    std::uint32_t paragraph = 0; // note
    std::optional<std::string> tag_name;  // note
    std::uint32_t justify = 0;   // graphic
    std::uint32_t picture = 0;   // graphic
};

// One distinct token text with its values in registration order.
struct InsertOoToken_t {
    std::string token;
    std::vector<std::unique_ptr<InsertOoValue_t>> values;
};

// A token whose table row is repeated once per value.
struct InsertOoMultiRow_t {
    std::string token;
    IooNode_t *table = nullptr;  // found anew in each content pass
};

struct InsertOoHandle_t {
    std::vector<std::unique_ptr<InsertOoToken_t>> tokens;  // in order of first registration
    std::uint32_t sequence = 0;
    PrintTag_t *tags = nullptr;  // the style tags file, read at creation; owned
    std::vector<InsertOoMultiRow_t> multi_table;
    InsertOoHandle_t *next = nullptr, *prior = nullptr;  // the chain of live handles
};

// ---- Working records of one XML part ------------------------------------------------------------

// A text node and a token found in it.
struct InsertOoXref_t {
    IooNode_t *node;
    InsertOoToken_t *token;
};

// A value inserted with style tags, waiting for its automatic style.
struct InsertOoTextAttr_t {
    std::uint32_t type;      // IOO_TP_TEXT, IOO_TP_NUMERIC or IOO_TP_MONEY
    std::uint32_t negative;  // not text, and the text begins with "-"
    IooNode_t *node;         // the text node holding the value
    const InsertOoTagList *tags;
    std::optional<std::string> old_style;  // the enclosing element's style name, quoted
    IooNode_t *new_style = nullptr;
};

// One value of a token found in a table, filed to be inserted when the table is rebuilt.
struct InsertOoTableEntry_t {
    IooNode_t *row;   // the template row holding the token's cell
    IooNode_t *node;  // the text node holding the token
    InsertOoToken_t *token;
    InsertOoValue_t *value;
};

// A table of the part that holds tokens; format (its first row) identifies it.
struct InsertOoTable_t {
    std::uint32_t multi_row = 0;
    IooNode_t *format = nullptr;
    IooTree rows;  // the rebuilt rows, owned until they replace the template rows
    std::vector<InsertOoTableEntry_t> entries;  // in registration order once rebuilt
};

// A template paragraph that holds a note token: the styles generated for notes derive from it.
struct InsertOoNoteStyle_t {
    std::uint32_t amount = 0;
    std::string paragraph;  // its style name, quoted
    int paragraph_number = 0;
    std::optional<std::string> span;  // the style name of the span around the token, quoted
    int span_number = 0;
};

struct InsertOoMeta_t {
    IooTree tree;
    IooNode_t *styles = nullptr;  // the first automatic style
    IooNode_t *automatic = nullptr;  // the part's office:automatic-styles, which may be empty
    bool spreadsheet = false;     // the document text is a spreadsheet's
    IooNode_t *text = nullptr;    // the document text's first node, or the master styles
    std::vector<InsertOoXref_t> xrefs;
    std::size_t current = 0;      // the entry being dispatched; those after it are pending
    InsertOoHandle_t *handle = nullptr;
    std::vector<InsertOoTextAttr_t> attrs;
    std::vector<std::unique_ptr<InsertOoTable_t>> tables;  // the newest first
    OdfPackage *package = nullptr;  // where pictures and the manifest go
    int note_styles_ready = 1;
    std::vector<InsertOoNoteStyle_t> note_styles;
    std::map<std::string, int> style_numbers;  // the number generated styles carry, per style name
    std::uint32_t frame = 0, z_index = 0, frame_base = 0, graphics = 0;  // picture counters
    int style_counter = 0;
    bool fonts_used[IOO_FONT_FAMILIES] = {};
};

// ---- The registry (odf_handle.cpp) ----------------------------------------------------------------

InsertOoHandle_t *insert_oo_new_handle();
// The live handle a number names, or nullptr.
InsertOoHandle_t *insert_oo_find_handle(std::uintptr_t number);
// The live handle a program's number names; any other number ends the run naming intrinsic.
InsertOoHandle_t *insert_oo_live_handle(long number, const char *intrinsic);
// Registers value under token; returns the token's entry.
InsertOoToken_t *insert_oo_add_item(InsertOoHandle_t *handle, std::unique_ptr<InsertOoValue_t> value,
                                    std::uint32_t type, std::string_view token);
// Frees a handle with everything registered on it and unlinks it from the chain; returns 1.
int insert_oo_free_handle(InsertOoHandle_t *handle);
// The style tags named in a comma-separated list.
InsertOoTagList insert_oo_get_attribute(InsertOoHandle_t *handle, std::string_view names);
// Text as ODF text mark-up.
std::string insert_oo_parse_text(std::string_view text);
// The number's text with exactly decimals fraction digits (cut, not rounded), grouped by
// thousands when grouping.
struct dec_t;
std::string insert_oo_parse_number(const dec_t *value, int decimals, bool grouping);
// Gives a new picture value its number.
void insert_oo_add_graphic_id(InsertOoHandle_t *handle, InsertOoValue_t *value);
// The intrinsic rows.
std::span<const IntrinsicRow> insert_oo_intrinsics();

// Fills source into target with handle's values; the cycles and generator read from meta.xml
// come back. Returns 1.
int insert_oo_fill(InsertOoHandle_t *handle, const char *source, const char *target, int *cycles,
                   std::string *generator);

// ---- The passes and the engine (odf_engine.cpp) ----------------------------------------------

int insert_oo_do_content_xml(InsertOoHandle_t *handle, OdfPackage &package, std::uint32_t *pictures);
int insert_oo_do_styles_xml(InsertOoHandle_t *handle, OdfPackage &package, std::uint32_t *pictures);
int insert_oo_get_meta_data(InsertOoHandle_t *handle, OdfPackage &package, int *cycles, std::string *generator);
long insert_oo_get_target_size(const char *file);

void insert_oo_get_xref(IooNode_t *node, InsertOoMeta_t *meta);
void insert_oo_do_item(InsertOoMeta_t *meta, const InsertOoXref_t &entry);
int insert_oo_do_text_ins(std::uint32_t type, IooNode_t *node, std::string_view token, std::string_view value,
                          const InsertOoTagList &tags, InsertOoMeta_t *meta);
int insert_oo_do_exclude_ins(IooNode_t *node, std::string_view token);
// Splits text around the first occurrence of token.
void insert_oo_do_split(std::optional<std::string> *before, std::optional<std::string> *after, std::string_view text,
                        std::string_view token);
// A text node was split around a token into before (or nullptr), the node and after (or nullptr):
// the entries still to be dispatched for that node go to whichever part now holds their token.
// Left on the node they would look for their token where it no longer is, and after a note's
// insertion, which frees the node, in freed memory.
void insert_oo_retarget(InsertOoMeta_t *meta, IooNode_t *node, IooNode_t *before, IooNode_t *after);

// ---- Tables (odf_tables.cpp) ---------------------------------------------------------------------

int insert_oo_do_is_in_table(const IooNode_t *node);
// The first row of the run of rows holding node's cell, with the cell's own row in row; nullptr
// when node is not in a table.
IooNode_t *insert_oo_do_get_table(const IooNode_t *node, IooNode_t **row);
// Files every value of token for the rebuild of node's table.
void insert_oo_do_add_table(InsertOoToken_t *token, IooNode_t *node, InsertOoMeta_t *meta);
// Marks the tables holding the tokens the program asked to repeat per value.
void insert_oo_do_get_table_multi_row_mode(InsertOoMeta_t *meta);
void insert_oo_do_build_table(InsertOoMeta_t *meta);
int insert_oo_do_tbl_item(IooNode_t *node, const InsertOoTableEntry_t &entry, InsertOoMeta_t *meta);
// The first text node holding token, from node on (children first, then following siblings).
IooNode_t *insert_oo_get_tbl_tag(IooNode_t *node, std::string_view token);
// Whether a brace pattern stands in node, its descendants and, unless only, its following
// siblings.
bool insert_oo_is_tbl_tag(const IooNode_t *node, bool only);

// ---- Pictures (odf_pictures.cpp) ----------------------------------------------------------------

// Places the picture value at node's paragraph in place of token; returns 1.
int insert_oo_do_graphic_ins(IooNode_t *node, const InsertOoValue_t &value, std::string_view token,
                             InsertOoMeta_t *meta);
int insert_oo_do_graphic_content(InsertOoMeta_t *meta, IooNode_t *node, std::string_view token,
                                 const InsertOoValue_t &value, std::string *frame_name, std::string *path,
                                 std::int32_t *type);
int insert_oo_do_graphic_style(InsertOoMeta_t *meta, const std::string &frame_name, std::uint32_t justify);
int insert_oo_do_graphic_manifest(OdfPackage &package, const std::string &path, std::int32_t type);
void insert_oo_do_manifest_add(IooNode_t *tree, const std::string &path, std::int32_t type);
void insert_oo_do_graphic_get_name(InsertOoMeta_t *meta, std::string_view token, std::string *frame_name,
                                   std::string *graphics_name, std::string *z_index, std::string *path,
                                   std::int32_t type, const InsertOoValue_t &value);

// ---- Notes (odf_notes.cpp) --------------------------------------------------------------------------

struct NoteData_t;
struct NoteElement_t;
// Records the style of the paragraph holding a note token (paragraph_style quoted, or nullptr).
void insert_oo_get_note_style(InsertOoMeta_t *meta, IooNode_t *node, const InsertOoValue_t &value,
                              const std::string *paragraph_style);
// Generates the note styles of the part, once.
void insert_oo_note_styles(InsertOoMeta_t *meta);
void insert_oo_merge_styles(IooNode_t *copy, const IooNode_t *span);
// Replaces the paragraph holding token at node by the note's paragraphs; 0 when the paragraph
// could not be split.
int insert_oo_do_note_ins(IooNode_t *node, const InsertOoValue_t &value, std::string_view token, InsertOoMeta_t *meta);
// Leaves the token's node (or the span holding it, in unit) alone in a paragraph of its own.
int insert_oo_split_parent_on_tag(InsertOoMeta_t *meta, IooNode_t *node, const std::optional<std::string> &before,
                                  const std::optional<std::string> &after, IooNode_t **unit);
int insert_oo_insert_note(NoteData_t *note, const InsertOoValue_t &value, IooNode_t *unit, InsertOoMeta_t *meta);
// A paragraph of a note as ODF text, its runs as spans of the run styles numbered n.
std::string insert_oo_note_get_xml_cdata(const NoteElement_t *element, int n);
// A new amount-table name, quoted.
std::string insert_oo_note_tbl_name(InsertOoMeta_t *meta);

// ---- Text styles (odf_styles.cpp) -----------------------------------------------------------------

void insert_oo_do_text_attributes(InsertOoMeta_t *meta);
std::string insert_oo_merge_print_attr(std::uint32_t type, std::uint32_t negative, IooNode_t *style, int number,
                                       const InsertOoTagList &tags, bool *fonts_used);
void insert_oo_add_font_family(InsertOoMeta_t *meta, int family);
// The part's last automatic style; nullptr when it has none.
IooNode_t *insert_oo_last_style(const InsertOoMeta_t *meta);
// Links style (unlinked) after the part's last automatic style, or as the first when the part's
// automatic styles are empty; returns it. Office suites save a document without direct formatting
// with an empty office:automatic-styles.
IooNode_t *insert_oo_link_style(InsertOoMeta_t *meta, IooNode_t *style);
// A new childless element called name linked as insert_oo_link_style does.
IooNode_t *insert_oo_add_style(InsertOoMeta_t *meta, std::string_view name);
