// The XML tree of one part of an OpenDocument package (content.xml, styles.xml, meta.xml) and
// the small reader and writer that turn a part into it and back. The reader keeps what it does not
// understand byte for byte: attribute values with their quotes, entity references undecoded, the
// text between elements. A part written back unchanged comes out as it went in, but for white
// space inside tags (one space before each attribute) and childless elements (always self-closed).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "read_error.h"

// Element codes, from the element name.
enum : std::uint32_t {
    IOO_TAG_DEFAULT = 0,
    IOO_TAG_HEAD = 1,       // top-level nodes other than the four document roots
    IOO_TAG_HEAD_XML = 2,   // the leading ?xml declaration
    IOO_TAG_CLOSE = 3,      // a close tag while reading; never left in the tree
    IOO_TAG_DOC_CONTENT = 4,
    IOO_TAG_AUTO_STYLES = 5,
    IOO_TAG_OSCRIPTS = 6,
    IOO_TAG_OFONTFDECLS = 7,
    IOO_TAG_STYLE = 8,
    IOO_TAG_OTEXT = 9,
    IOO_TAG_BODY = 10,
    IOO_TAG_OFORMS = 11,
    IOO_TAG_PAR = 12,
    IOO_TAG_TEXT = 13,
    IOO_TAG_RAW_TEXT = 14,  // a text node as read
    IOO_TAG_SEQDECLS = 15,
    IOO_TAG_SECTION = 16,
    IOO_TAG_STYLE_PAR_PROP = 17,
    IOO_TAG_DOC_STYLES = 18,
    IOO_TAG_OSTYLES = 19,
    IOO_TAG_MSTYLES = 20,
    IOO_TAG_DOC_META = 21,
    IOO_TAG_OMETA = 22,
    IOO_TAG_META_ED_CYCLES = 23,
    IOO_TAG_META_GENERATOR = 24,
    IOO_TAG_TABLE_CELL = 25,
    IOO_TAG_TABLE_ROW = 26,
    IOO_TAG_STYLE_PG_LAYOUT = 26,  // shares the table row's code
    IOO_TAG_DRAW_FRAME = 27,
    IOO_TAG_MANIFEST = 28,
    IOO_TAG_STYLE_TEXT_PROP = 29,
    IOO_TAG_OSPREADSHEET = 30,
};

// Attribute codes, from the attribute name.
enum : std::uint32_t {
    IOO_ATTR_DEFAULT = 0,
    IOO_ATTR_NAME = 1,
    IOO_ATTR_FAMILY = 2,
    IOO_ATTR_PARENT = 3,
    IOO_ATTR_STYLE_NAME = 4,
    IOO_ATTR_STYLE_JUSTIFY_SW = 5,
    IOO_ATTR_STYLE_FONT_WEIGHT_ASN = 6,
    IOO_ATTR_STYLE_FONT_WEIGHT_CPX = 7,
    IOO_ATTR_STYLE_TXT_ULINE_STYLE = 8,
    IOO_ATTR_STYLE_TXT_ULINE_WIDTH = 9,
    IOO_ATTR_STYLE_TXT_ULINE_COLOUR = 10,
    IOO_ATTR_STYLE_REL_WIDTH = 11,
    IOO_ATTR_STYLE_REL_COL_WIDTH = 12,
    IOO_ATTR_STYLE_VERT_ALIGN = 13,
    IOO_ATTR_TABLE_ALIGN = 14,
    IOO_ATTR_FO_MARGIN_TOP = 15,
    IOO_ATTR_FO_MARGIN_BOTTOM = 16,
    IOO_ATTR_FO_TEXT_ALIGN = 17,
    IOO_ATTR_FO_FONT_WEIGHT = 18,
    IOO_ATTR_FO_BKG_COLOUR = 19,
    IOO_ATTR_FO_PAD_LEFT = 20,
    IOO_ATTR_FO_PAD_RIGHT = 21,
    IOO_ATTR_FO_PAD_TOP = 22,
    IOO_ATTR_FO_PAD_BOTTOM = 23,
    IOO_ATTR_FO_BORDER = 24,
    IOO_ATTR_DRAW_INDEX = 25,
    IOO_ATTR_DRAW_FILE = 26,
    IOO_ATTR_DRAW_STYLE = 27,
    IOO_ATTR_DRAW_NAME = 28,
    IOO_ATTR_MAN_MED_TYPE = 29,
    IOO_ATTR_MAN_FULL_PATH = 30,
};

// The longest element or attribute name the reader takes is IOO_BUF_SIZE - 1 characters.
inline constexpr int IOO_BUF_SIZE = 100;
inline constexpr int IOO_FONT_FAMILIES = 3;

// One attribute; a node's attributes form a doubly linked list in document order.
struct IooAttr_t {
    std::uint32_t type = IOO_ATTR_DEFAULT;
    std::string name;
    std::optional<std::string> value;  // as written, quotes included; none for a bare name
    IooAttr_t *next = nullptr, *prior = nullptr;
};

// One node. Only the FIRST child of a node links to its parent; the parent of any node is found
// by walking prior to the first sibling (ioo_parent).
struct IooNode_t {
    std::uint32_t type = IOO_TAG_DEFAULT;
    std::string name;                 // as written, prefix included; empty for a text node
    IooAttr_t *attributes = nullptr;
    IooNode_t *parent = nullptr;
    IooNode_t *content = nullptr;     // first child
    std::optional<std::string> text;  // raw text of a text node, entities undecoded
    std::uint32_t open = 0;           // 1 while a start tag still expects its content
    IooNode_t *next = nullptr, *prior = nullptr;
};

std::uint32_t insert_oo_set_tag_type(std::string_view name);
std::uint32_t insert_oo_set_attr_type(std::string_view name);
IooNode_t *insert_oo_create_tag(std::uint32_t type, std::string_view name, std::uint32_t open);
IooAttr_t *insert_oo_create_attr(std::uint32_t type, std::string_view name, std::optional<std::string_view> value);

// Frees node with its attributes and its whole subtree, not its following siblings.
void insert_oo_free_xml(IooNode_t *node);
// Frees a top-level list: node and every following sibling.
void insert_oo_free_list(IooNode_t *node);

// Owns a top-level list.
struct IooListFree {
    void operator()(IooNode_t *head) const { insert_oo_free_list(head); }
};
using IooTree = std::unique_ptr<IooNode_t, IooListFree>;

// What the reader and the writer of a part find wrong: the code of a ReadError.
enum class OdfReadCode : int {
    None = 0,
    CloseFirst,         // the part begins with a close tag
    NoDeclaration,      // the first node is not "?xml"
    Malformed,          // nothing follows the declaration, or a top-level node is cut short
    MisplacedClose,     // a close tag at the top level
    MismatchedClose,    // a close tag of another element than the open one
    EqualsInName,       // "=" in an element's name
    MalformedClose,     // "/" in a start tag not followed by ">"
    EndOfTag,           // "/" or "?" after an attribute not followed by ">"
    EndOfFile,          // the part ends inside an attribute or its value
    EndInAttributes,    // the part ends where an attribute was expected
    NameTooLong,        // an element's name of IOO_BUF_SIZE characters or more
    AttrNameTooLong,    // an attribute's name of IOO_BUF_SIZE characters or more
    TooDeep,            // elements nested beyond the limit
    MissingName,        // writer: an element without a name
    MissingDeclaration, // writer: the list does not begin with the declaration
    MissingContent,     // writer: nothing after the declaration
};

// Reads a whole part into tree: its top-level list, headed by the ?xml declaration; empty when the
// part holds nothing. A fault of syntax is returned with the offset of the byte where the reader
// found it, and tree is left as it was.
[[nodiscard]] ReadError insert_oo_parse_xml(std::string_view part, IooTree &tree);
// Writes a top-level list back, appending to out; a tree the writer cannot write leaves out as it
// was (offset 0: there is no input).
[[nodiscard]] ReadError insert_oo_write_xml(const IooNode_t *head, std::string &out);

// The enclosing node of node: its first sibling's parent.
IooNode_t *ioo_parent(const IooNode_t *node);
// The first attribute called name, or nullptr.
IooAttr_t *ioo_find_attr(const IooNode_t *node, std::string_view name);

// Where the insertion works in a part; each shows a warning and gives nullptr when the place is
// missing.
IooNode_t *insert_oo_get_style_ptr_content_xml(IooNode_t *head);
IooNode_t *insert_oo_get_text_ptr_content_xml(IooNode_t *head);
IooNode_t *insert_oo_get_style_ptr_styles_xml(IooNode_t *head);
IooNode_t *insert_oo_get_text_ptr_styles_xml(IooNode_t *head);

// ---- Tree operations of the insertion ----------------------------------------------------------
// Names and values are copied; an absent name makes a text node (type IOO_TAG_DEFAULT).

// A new node right after node (no parent link).
IooNode_t *insert_oo_add_link_tag(IooNode_t *node, std::optional<std::string_view> name);
// A new node as the first and only child of node.
IooNode_t *insert_oo_add_child_tag(IooNode_t *node, std::optional<std::string_view> name);
// Replaces the value of node's attribute called name, or appends a new one.
IooAttr_t *insert_oo_add_link_attr(IooNode_t *node, std::string_view name, std::optional<std::string_view> value);
// Removes the first attribute called name, if any.
void insert_oo_add_unlink_attr(IooNode_t *node, std::string_view name);
// Deep copy of node, its children and its following siblings.
IooNode_t *insert_oo_copy_tag(const IooNode_t *node);
// Deep copy of node and its children only.
IooNode_t *insert_oo_copy_tag1(const IooNode_t *node);
// Copy of node's type, name, open flag and attributes: no children, text or links.
IooNode_t *insert_oo_copy_tag_attr(const IooNode_t *node);
