// The XML tree of an OpenDocument part, its reader and writer, and the tree operations the
// insertion shares. See odf_tree.h.
#include "odf_tree.h"

#include <cstdarg>
#include <cstdio>

#include <glib.h>

#include "message.h"

namespace {

struct NodeFree {
    void operator()(IooNode_t *node) const { insert_oo_free_xml(node); }
};
using NodePtr = std::unique_ptr<IooNode_t, NodeFree>;

struct NameCode {
    std::string_view name;
    std::uint32_t code;
};

constexpr NameCode tag_codes[] = {
    {"office:document-content", IOO_TAG_DOC_CONTENT},
    {"office:automatic-styles", IOO_TAG_AUTO_STYLES},
    {"office:scripts", IOO_TAG_OSCRIPTS},
    {"office:font-face-decls", IOO_TAG_OFONTFDECLS},
    {"style:style", IOO_TAG_STYLE},
    {"office:text", IOO_TAG_OTEXT},
    {"office:body", IOO_TAG_BODY},
    {"office:forms", IOO_TAG_OFORMS},
    {"text:p", IOO_TAG_PAR},
    {"text:span", IOO_TAG_TEXT},
    {"text:sequence-decls", IOO_TAG_SEQDECLS},
    {"text:section", IOO_TAG_SECTION},
    {"style:paragraph-properties", IOO_TAG_STYLE_PAR_PROP},
    {"office:document-styles", IOO_TAG_DOC_STYLES},
    {"office:styles", IOO_TAG_OSTYLES},
    {"office:master-styles", IOO_TAG_MSTYLES},
    {"office:document-meta", IOO_TAG_DOC_META},
    {"office:meta", IOO_TAG_OMETA},
    {"meta:editing-cycles", IOO_TAG_META_ED_CYCLES},
    {"meta:generator", IOO_TAG_META_GENERATOR},
    {"table:table-cell", IOO_TAG_TABLE_CELL},
    {"table:table-row", IOO_TAG_TABLE_ROW},
    {"style:page-layout", IOO_TAG_STYLE_PG_LAYOUT},
    {"draw:frame", IOO_TAG_DRAW_FRAME},
    {"manifest:manifest", IOO_TAG_MANIFEST},
    {"style:text-properties", IOO_TAG_STYLE_TEXT_PROP},
    {"office:spreadsheet", IOO_TAG_OSPREADSHEET},
};

constexpr NameCode attr_codes[] = {
    {"style:name", IOO_ATTR_NAME},
    {"style:family", IOO_ATTR_FAMILY},
    {"style:parent-style-name", IOO_ATTR_PARENT},
    {"text:style-name", IOO_ATTR_STYLE_NAME},
    {"style:justify-single-word", IOO_ATTR_STYLE_JUSTIFY_SW},
    {"style:font-weight-asian", IOO_ATTR_STYLE_FONT_WEIGHT_ASN},
    {"style:font-weight-complex", IOO_ATTR_STYLE_FONT_WEIGHT_CPX},
    {"style:text-underline-style", IOO_ATTR_STYLE_TXT_ULINE_STYLE},
    {"style:text-underline-width", IOO_ATTR_STYLE_TXT_ULINE_WIDTH},
    {"style:text-underline-color", IOO_ATTR_STYLE_TXT_ULINE_COLOUR},
    {"style:rel-width", IOO_ATTR_STYLE_REL_WIDTH},
    {"style:rel-column-width", IOO_ATTR_STYLE_REL_COL_WIDTH},
    {"style:vertical-align", IOO_ATTR_STYLE_VERT_ALIGN},
    {"table:align", IOO_ATTR_TABLE_ALIGN},
    {"fo:margin-top", IOO_ATTR_FO_MARGIN_TOP},
    {"fo:margin-bottom", IOO_ATTR_FO_MARGIN_BOTTOM},
    {"fo:text-align", IOO_ATTR_FO_TEXT_ALIGN},
    {"fo:font-weight", IOO_ATTR_FO_FONT_WEIGHT},
    {"fo:background-color", IOO_ATTR_FO_BKG_COLOUR},
    {"fo:padding-left", IOO_ATTR_FO_PAD_LEFT},
    {"fo:padding-right", IOO_ATTR_FO_PAD_RIGHT},
    {"fo:padding-top", IOO_ATTR_FO_PAD_TOP},
    {"fo:padding-bottom", IOO_ATTR_FO_PAD_BOTTOM},
    {"fo:border", IOO_ATTR_FO_BORDER},
    {"draw:z-index", IOO_ATTR_DRAW_INDEX},
    {"xlink:href", IOO_ATTR_DRAW_FILE},
    {"draw:style-name", IOO_ATTR_DRAW_STYLE},
    {"draw:name", IOO_ATTR_DRAW_NAME},
    {"manifest:media-type", IOO_ATTR_MAN_MED_TYPE},
    {"manifest:full-path", IOO_ATTR_MAN_FULL_PATH},
};

template <std::size_t N> std::uint32_t code_of(const NameCode (&table)[N], std::string_view name)
{
    for (const NameCode &row : table)
        if (row.name == name) return row.code;
    return 0;
}

// Parts nest a few dozen levels; the reader, the writer and the copies recurse per level, so a
// hostile part must not take them deeper than the stack allows.
constexpr int MAX_DEPTH = 1000;

constexpr int END = -1;
// What ends a quoted value: its closing quote, or a byte that ends the part.
constexpr std::string_view QUOTE_OR_END("\"\0\xFF", 3);

// The reader over one part: one byte at a time. A NUL or 0xFF byte (neither belongs in XML) ends
// the part there, as the end of a stream would. The first fault it finds is kept in error; a
// function that meets one returns as it does at the end of the part, and its caller looks at error.
class Reader {
public:
    explicit Reader(std::string_view part) : part_(part) {}

    int get()
    {
        at_ = pos_;
        if (pos_ >= part_.size()) return END;
        const auto c = static_cast<unsigned char>(part_[pos_++]);
        if (c == 0 || c == 0xFF) {
            if (c == 0) std::fprintf(stderr, " -- memory leak at %s:%d\n", "ainsert_oo", 169);
            part_ = part_.substr(0, pos_ - 1);
            return END;
        }
        return c;
    }
    void unget() { --pos_; }
    // c, just read, is the "?" of the "?>" that closes the declaration ("<?xml ...?>").
    bool question_end(int c) const
    {
        return declaration_ && c == '?' && pos_ < part_.size() && part_[pos_] == '>';
    }

    // The rest of a text: the bytes up to the next "<" (left to be read) or to the end. A NUL or
    // 0xFF byte ends it as get() does.
    std::string_view text_run()
    {
        const std::size_t start = pos_;
        std::size_t end = start;
        while (end < part_.size() && part_[end] != '<' && part_[end] != '\0' && part_[end] != '\xFF') ++end;
        pos_ = end;
        if (end < part_.size() && part_[end] != '<') get();
        return part_.substr(start, end - start);
    }

    // One node: nullptr at the end of the part, when the end cut the node short, or on a fault.
    NodePtr tag(int depth);

    // Records a fault found at the byte last read (or at the end of the part); the first one stays.
    bool fail(OdfReadCode code, const char *format, ...) G_GNUC_PRINTF(3, 4)
    {
        if (error) return false;
        std::va_list ap;
        va_start(ap, format);
        char *text = g_strdup_vprintf(format, ap);
        va_end(ap);
        error = ReadError{static_cast<int>(code), text, at_};
        g_free(text);
        return false;
    }

    ReadError error;

private:
    bool attributes(IooNode_t *node);
    bool content(IooNode_t *node, int depth);

    std::string_view part_;
    std::size_t pos_ = 0;
    std::size_t at_ = 0;        // offset of the byte get() gave last, or of the end it met
    bool first_ = true;         // no tag read yet
    bool declaration_ = false;  // reading the first tag, which began "<?"
};

void append_attr(IooNode_t *node, IooAttr_t *attr, IooAttr_t *&last)
{
    attr->prior = last;
    (last ? last->next : node->attributes) = attr;
    last = attr;
}

// The attribute list after the space that ended the element's name. False when the end of the
// part cut the node short or on a fault.
bool Reader::attributes(IooNode_t *node)
{
    IooAttr_t *last = nullptr;
    for (;;) {
        int c = get();
        while (c == ' ') c = get();
        if (c == END) return fail(OdfReadCode::EndInAttributes, "Unexpected ending or error encountered");
        if (c == '/' || c == '?') {
            const int close = get();
            if (close == END) return fail(OdfReadCode::EndOfFile, "Unexpected end of file or error encountered");
            if (close != '>') return fail(OdfReadCode::EndOfTag, "Unexpected end to tag encountered");
            node->open = 0;
            return true;
        }
        std::string name;
        while (c != END && c != '=' && c != ' ' && c != '/' && c != '>' && !question_end(c)) {
            if (name.size() >= IOO_BUF_SIZE - 1)
                return fail(OdfReadCode::AttrNameTooLong, "Buffer overflow when obtaining tag sub-name");
            name += static_cast<char>(c);
            c = get();
        }
        if (c == END) return false;
        if (question_end(c)) {
            // A bare name right before "?>": the declaration's end follows.
            unget();
            append_attr(node, insert_oo_create_attr(insert_oo_set_attr_type(name), name, {}), last);
            continue;
        }
        if (c == '>' || c == '/') {
            if (!name.empty()) append_attr(node, insert_oo_create_attr(insert_oo_set_attr_type(name), name, {}), last);
            if (c == '/') {
                node->open = 0;
                const int close = get();
                if (close == END) return fail(OdfReadCode::EndOfFile, "Unexpected end of file or error encountered");
                if (close != '>') return fail(OdfReadCode::EndOfTag, "Unexpected end to tag encountered");
            }
            return true;
        }
        if (c == ' ') {
            append_attr(node, insert_oo_create_attr(insert_oo_set_attr_type(name), name, {}), last);
            continue;
        }
        // After "=": a quoted value runs to the closing quote, any other to a space, "/" or ">".
        std::string value;
        c = get();
        if (c == '"') {
            // Taken in one run up to the closing quote.
            const std::size_t close = part_.find_first_of(QUOTE_OR_END, pos_);
            if (close == std::string_view::npos || part_[close] != '"') {
                pos_ = close == std::string_view::npos ? part_.size() : close;
                get();  // a NUL or 0xFF byte ends the part
                return fail(OdfReadCode::EndOfFile, "Unexpected end of file or error encountered");
            }
            value.reserve(close - pos_ + 2);
            value += '"';
            value.append(part_.substr(pos_, close - pos_));
            value += '"';
            pos_ = close + 1;
            c = get();
        } else {
            // The "?" of "?>" ends it too, as "/" does, so a declaration written back reads the same.
            while (c != ' ' && c != '/' && c != '>' && !question_end(c)) {
                if (c == END) return fail(OdfReadCode::EndOfFile, "Unexpected end of file or error encountered");
                value += static_cast<char>(c);
                c = get();
            }
        }
        if (c == END) return fail(OdfReadCode::EndOfFile, "Unexpected end of file or error encountered");
        if (c != ' ') unget();
        append_attr(node, insert_oo_create_attr(insert_oo_set_attr_type(name), name, value), last);
    }
}

// The children of an open element up to its close tag. False when the end of the part came
// first (the element then ends with the children read so far) or on a fault.
bool Reader::content(IooNode_t *node, int depth)
{
    IooNode_t *last = nullptr;
    for (;;) {
        NodePtr child = tag(depth + 1);
        if (!child) return false;
        if (child->type == IOO_TAG_CLOSE) {
            if (child->name != node->name)
                return fail(OdfReadCode::MismatchedClose, "%s",
                            last ? "Mismatching closing tag following open"
                                 : "Mismatching closing tag following open with empty content");
            return true;
        }
        IooNode_t *c = child.release();
        if (last) {
            last->next = c;
            c->prior = last;
        } else {
            node->content = c;
            c->parent = node;
        }
        last = c;
    }
}

NodePtr Reader::tag(int depth)
{
    if (depth > MAX_DEPTH) {
        at_ = pos_;
        fail(OdfReadCode::TooDeep, "OpenOffice Document nested more than %d levels deep", MAX_DEPTH);
        return nullptr;
    }
    int c = get();
    if (c == END) return nullptr;
    if (c != '<') {
        // Text runs to the next "<"; text that runs to the end of the part (after the root) is
        // kept as it stands.
        NodePtr node(insert_oo_create_tag(IOO_TAG_RAW_TEXT, {}, 0));
        node->text.emplace(1, static_cast<char>(c));
        node->text->append(text_run());
        return node;
    }
    NodePtr node(insert_oo_create_tag(IOO_TAG_DEFAULT, {}, 1));
    c = get();
    // Only the part's first node is a declaration: "?>" ends nothing elsewhere, as the writer
    // writes it for the first node alone.
    declaration_ = first_ && c == '?';
    first_ = false;
    if (c == '/') {
        node->type = IOO_TAG_CLOSE;
        node->open = 0;
        c = get();
    }
    while (c != END && c != ' ' && c != '/' && c != '=' && c != '>' && (node->name.empty() || !question_end(c))) {
        if (node->name.size() >= IOO_BUF_SIZE - 1) {
            fail(OdfReadCode::NameTooLong, "Buffer overflow when obtaining tag name");
            return nullptr;
        }
        node->name += static_cast<char>(c);
        c = get();
    }
    if (c == END) return nullptr;
    if (c == '=') {
        fail(OdfReadCode::EqualsInName, "Unexpected '=' encountered in tag name");
        return nullptr;
    }
    if (node->type != IOO_TAG_CLOSE) node->type = insert_oo_set_tag_type(node->name);
    if (c == ' ' && !attributes(node.get())) return nullptr;
    const bool declaration_end = question_end(c);
    declaration_ = false;
    if (declaration_end) {
        // A declaration without attributes, "<?xml?>".
        get();
        node->open = 0;
        return node;
    }
    if (c == '/') {
        c = get();
        if (c == END) return nullptr;
        if (c != '>') {
            fail(OdfReadCode::MalformedClose, "Malformed close tag; expecting '>' found '%c'", c);
            return nullptr;
        }
        node->open = 0;
        return node;
    }
    if (!node->open) return node;
    if (!content(node.get(), depth) && error) return nullptr;
    // An element written as a start tag and an end tag with nothing between is kept: it is
    // written back self-closed, which says the same.
    node->open = 0;
    return node;
}

void write_attrs(const IooNode_t *node, std::string &out)
{
    for (const IooAttr_t *a = node->attributes; a; a = a->next) {
        out += ' ';
        out += a->name;
        if (a->value) {
            out += '=';
            out += *a->value;
        }
    }
}

// False when an element of the subtree has no name.
bool write_tag(const IooNode_t *node, std::string &out)
{
    if (node->text) {
        out += *node->text;
        return true;
    }
    if (node->name.empty()) return false;
    out += '<';
    out += node->name;
    write_attrs(node, out);
    if (!node->content) {
        out += "/>";
        return true;
    }
    out += '>';
    for (const IooNode_t *c = node->content; c; c = c->next)
        if (!write_tag(c, out)) return false;
    out += "</";
    out += node->name;
    out += '>';
    return true;
}

IooNode_t *find_child(IooNode_t *node, std::uint32_t type)
{
    for (IooNode_t *c = node ? node->content : nullptr; c; c = c->next)
        if (c->type == type) return c;
    return nullptr;
}

IooNode_t *find_top(IooNode_t *head, std::uint32_t type)
{
    for (IooNode_t *n = head; n; n = n->next)
        if (n->type == type) return n;
    return nullptr;
}

IooNode_t *warn(const char *text)
{
    mmessage(1, "%s", text);
    return nullptr;
}

void free_attr(IooAttr_t *attr) { delete attr; }

} // namespace

std::uint32_t insert_oo_set_tag_type(std::string_view name) { return code_of(tag_codes, name); }
std::uint32_t insert_oo_set_attr_type(std::string_view name) { return code_of(attr_codes, name); }

IooNode_t *insert_oo_create_tag(std::uint32_t type, std::string_view name, std::uint32_t open)
{
    auto *node = new IooNode_t;
    node->type = type;
    node->name = name;
    node->open = open;
    return node;
}

IooAttr_t *insert_oo_create_attr(std::uint32_t type, std::string_view name, std::optional<std::string_view> value)
{
    auto *attr = new IooAttr_t;
    attr->type = type;
    attr->name = name;
    if (value) attr->value.emplace(*value);
    return attr;
}

void insert_oo_free_xml(IooNode_t *node)
{
    if (!node) return;
    for (IooAttr_t *a = node->attributes; a;) {
        IooAttr_t *next = a->next;
        free_attr(a);
        a = next;
    }
    for (IooNode_t *c = node->content; c;) {
        IooNode_t *next = c->next;
        insert_oo_free_xml(c);
        c = next;
    }
    delete node;
}

void insert_oo_free_list(IooNode_t *node)
{
    while (node) {
        IooNode_t *next = node->next;
        insert_oo_free_xml(node);
        node = next;
    }
}

ReadError insert_oo_parse_xml(std::string_view part, IooTree &tree)
{
    Reader reader(part);
    NodePtr first = reader.tag(0);
    if (reader.error) return reader.error;
    if (!first) {
        tree.reset();
        return {};
    }
    if (first->type == IOO_TAG_CLOSE) reader.fail(OdfReadCode::CloseFirst, "Can not start document with a close");
    else if (first->name != "?xml")
        reader.fail(OdfReadCode::NoDeclaration, "OpenOffice Document did not commence with '?xml'");
    if (reader.error) return reader.error;
    first->type = IOO_TAG_HEAD_XML;
    IooTree read(first.release());
    IooNode_t *last = read.get();
    for (NodePtr node = reader.tag(0); node || last == read.get(); node = reader.tag(0)) {
        if (reader.error) return reader.error;
        if (!node) reader.fail(OdfReadCode::Malformed, "Malformed OpenOffice Document");
        else if (node->type == IOO_TAG_CLOSE) reader.fail(OdfReadCode::MisplacedClose, "Missplaced closing tag");
        if (reader.error) return reader.error;
        if (node->type != IOO_TAG_DOC_CONTENT && node->type != IOO_TAG_DOC_STYLES &&
            node->type != IOO_TAG_DOC_META && node->type != IOO_TAG_MANIFEST)
            node->type = IOO_TAG_HEAD;
        IooNode_t *n = node.release();
        last->next = n;
        n->prior = last;
        last = n;
    }
    if (reader.error) return reader.error;
    tree = std::move(read);
    return {};
}

ReadError insert_oo_write_xml(const IooNode_t *head, std::string &out)
{
    if (head->name.empty() || head->name[0] != '?')
        return read_error(static_cast<int>(OdfReadCode::MissingDeclaration), 0,
                          "Malformed OpenOffice Document missing doctype name");
    if (!head->next)
        return read_error(static_cast<int>(OdfReadCode::MissingContent), 0,
                          "Malformed OpenOffice Document missing content");
    const std::size_t size = out.size();
    out += '<';
    out += head->name;
    write_attrs(head, out);
    out += "?>";
    for (const IooNode_t *n = head->next; n; n = n->next)
        if (!write_tag(n, out)) {
            out.resize(size);
            return read_error(static_cast<int>(OdfReadCode::MissingName), 0, "Missing name in tag");
        }
    return {};
}

IooNode_t *ioo_parent(const IooNode_t *node)
{
    if (!node) return nullptr;
    while (node->prior) node = node->prior;
    return node->parent;
}

IooAttr_t *ioo_find_attr(const IooNode_t *node, std::string_view name)
{
    for (IooAttr_t *a = node ? node->attributes : nullptr; a; a = a->next)
        if (a->name == name) return a;
    return nullptr;
}

// ---- Navigation ----------------------------------------------------------------------------------

IooNode_t *insert_oo_get_style_ptr_content_xml(IooNode_t *head)
{
    IooNode_t *doc = find_top(head, IOO_TAG_DOC_CONTENT);
    if (!doc) return warn("Document content not found in content OpenOffice Document");
    if (!doc->content) return warn("Content not found in content section of content OpenOffice Document");
    IooNode_t *styles = find_child(doc, IOO_TAG_AUTO_STYLES);
    if (!styles) return warn("Content Automatic Styles section not found");
    if (!styles->content) return warn("No styles found in content automatic styles section");
    if (styles->content->type != IOO_TAG_STYLE) {
        mmessage(1, "Styles not found in content auto styles section %s", styles->content->name.c_str());
        return nullptr;
    }
    return styles->content;
}

IooNode_t *insert_oo_get_text_ptr_content_xml(IooNode_t *head)
{
    IooNode_t *doc = find_top(head, IOO_TAG_DOC_CONTENT);
    if (!doc) return warn("Document content not found in content OpenOffice Document content");
    if (!doc->content) return warn("Content not found in content section of OpenOffice Document");
    IooNode_t *body = find_child(doc, IOO_TAG_BODY);
    if (!body) return warn("Main Body content section not found in content");
    if (!body->content) return warn("Content not found in body of content OpenOffice Document");
    IooNode_t *text = nullptr;
    for (IooNode_t *c = body->content; c && !text; c = c->next)
        if (c->type == IOO_TAG_OTEXT || c->type == IOO_TAG_OSPREADSHEET) text = c;
    if (!text) return warn("Not an OpenOffice Writer/Calc Document");
    if (!text->content) return warn("Nothing found in content section of content OpenOffice Document");
    return text->content;
}

IooNode_t *insert_oo_get_style_ptr_styles_xml(IooNode_t *head)
{
    IooNode_t *doc = find_top(head, IOO_TAG_DOC_STYLES);
    if (!doc) return warn("Styles not found in OpenOffice Document Styles");
    if (!doc->content) return warn("Content not found in styles section of OpenOffice Document Styles");
    IooNode_t *styles = find_child(doc, IOO_TAG_AUTO_STYLES);
    if (!styles) return warn("Styles Automatic Styles section not found");
    if (!styles->content) return warn("No styles found in styles automatic styles section");
    if (styles->content->type != IOO_TAG_STYLE && styles->content->type != IOO_TAG_STYLE_PG_LAYOUT) {
        mmessage(1, "Styles not found in styles auto styles section %s", styles->content->name.c_str());
        return nullptr;
    }
    return styles->content;
}

IooNode_t *insert_oo_get_text_ptr_styles_xml(IooNode_t *head)
{
    IooNode_t *doc = find_top(head, IOO_TAG_DOC_STYLES);
    if (!doc) return warn("Content Styles not found in OpenOffice Document Styles");
    if (!doc->content) return warn("Content not found in content styles section of OpenOffice Document Styles");
    IooNode_t *master = find_child(doc, IOO_TAG_MSTYLES);
    if (!master) return warn("Master Styles section not found in content sytles");
    return master;
}

// ---- Tree operations -------------------------------------------------------------------------------

namespace {

IooNode_t *new_node(std::optional<std::string_view> name)
{
    if (!name) {
        IooNode_t *node = insert_oo_create_tag(IOO_TAG_DEFAULT, {}, 0);
        node->text.emplace();
        return node;
    }
    return insert_oo_create_tag(insert_oo_set_tag_type(*name), *name, 0);
}

} // namespace

IooNode_t *insert_oo_add_link_tag(IooNode_t *node, std::optional<std::string_view> name)
{
    if (!node) Abort("Attempting to link new tag to null prior");
    IooNode_t *added = new_node(name);
    added->next = node->next;
    if (node->next) node->next->prior = added;
    node->next = added;
    added->prior = node;
    return added;
}

IooNode_t *insert_oo_add_child_tag(IooNode_t *node, std::optional<std::string_view> name)
{
    if (node->content) Abort("Attempting to add new content where content already exists");
    IooNode_t *added = new_node(name);
    node->content = added;
    added->parent = node;
    return added;
}

IooAttr_t *insert_oo_add_link_attr(IooNode_t *node, std::string_view name, std::optional<std::string_view> value)
{
    IooAttr_t *last = nullptr;
    for (IooAttr_t *a = node->attributes; a; a = a->next) {
        if (a->name == name) {
            if (value)
                a->value.emplace(*value);
            else
                a->value.reset();
            return a;
        }
        last = a;
    }
    IooAttr_t *attr = insert_oo_create_attr(insert_oo_set_attr_type(name), name, value);
    append_attr(node, attr, last);
    return attr;
}

void insert_oo_add_unlink_attr(IooNode_t *node, std::string_view name)
{
    IooAttr_t *a = ioo_find_attr(node, name);
    if (!a) return;
    (a->prior ? a->prior->next : node->attributes) = a->next;
    if (a->next) a->next->prior = a->prior;
    free_attr(a);
}

IooNode_t *insert_oo_copy_tag_attr(const IooNode_t *node)
{
    IooNode_t *copy = insert_oo_create_tag(node->type, node->name, node->open);
    IooAttr_t *last = nullptr;
    for (const IooAttr_t *a = node->attributes; a; a = a->next)
        append_attr(copy, insert_oo_create_attr(a->type, a->name, a->value), last);
    return copy;
}

IooNode_t *insert_oo_copy_tag1(const IooNode_t *node)
{
    if (!node) return nullptr;
    IooNode_t *copy = insert_oo_copy_tag_attr(node);
    copy->text = node->text;
    copy->content = insert_oo_copy_tag(node->content);
    if (copy->content) copy->content->parent = copy;
    return copy;
}

IooNode_t *insert_oo_copy_tag(const IooNode_t *node)
{
    IooNode_t *first = nullptr, *last = nullptr;
    for (; node; node = node->next) {
        IooNode_t *copy = insert_oo_copy_tag1(node);
        if (last) {
            last->next = copy;
            copy->prior = last;
        } else {
            first = copy;
        }
        last = copy;
    }
    return first;
}
