// The passes over the XML parts of a package and the token engine inside them: the scan for
// text nodes holding tokens, the dispatch by value type, the insertion of text, numbers and
// amounts, exclusions, and meta.xml. See odf_insert.h.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <sys/stat.h>

#include "message.h"
#include "misc.h"
#include "odf_insert.h"
#include "odf_package.h"
#include "read_error.h"
#include "signals.h"

namespace {

// ---- Scan -------------------------------------------------------------------------------------------

// The number behind prefix at the start of value (at most 50 digits are looked at), or 0.
std::uint32_t number_behind(const IooAttr_t *attr, std::string_view prefix)
{
    if (!attr || !attr->value) return 0;
    std::string_view value = *attr->value;
    if (value.substr(0, prefix.size()) != prefix) return 0;
    value = value.substr(prefix.size(), 50);
    std::uint64_t n = 0;
    for (char c : value) {
        if (c < '0' || c > '9') break;
        n = n * 10 + static_cast<unsigned>(c - '0');
        if (n > UINT32_MAX) n = UINT32_MAX;
    }
    return static_cast<std::uint32_t>(n);
}

// A picture frame of the template raises the counters that new frames are numbered from.
void count_frame(const IooNode_t *node, InsertOoMeta_t *meta)
{
    meta->z_index = std::max(meta->z_index, number_behind(ioo_find_attr(node, "draw:z-index"), "\""));
    const std::uint32_t base = number_behind(ioo_find_attr(node, "draw:style-name"), "\"fr");
    if (base > meta->frame_base) {
        meta->frame_base = base;
        meta->frame = base;
    }
    meta->graphics = std::max(meta->graphics, number_behind(ioo_find_attr(node, "draw:name"), "\"graphics"));
}

void scan_text(IooNode_t *node, InsertOoMeta_t *meta, const std::string *paragraph_style)
{
    const std::string &text = *node->text;
    std::size_t pos = text.find('{');
    if (pos == std::string::npos) return;
    for (auto &token : meta->handle->tokens) {
        const std::size_t at = text.find(token->token, pos);
        if (at == std::string::npos) continue;
        meta->xrefs.push_back({node, token.get()});
        if (token->values.front()->type == IOO_TP_NOTE)
            insert_oo_get_note_style(meta, node, *token->values.front(), paragraph_style);
        if (at == pos) {
            pos = text.find('{', pos + 1);
            if (pos == std::string::npos) return;
        }
    }
}

// ---- Dispatch --------------------------------------------------------------------------------------

// The steps every kind shares: the token's form, filing under a table, and the warning for more
// than one value. Returns whether the value is to be inserted now.
bool check_entry(InsertOoToken_t *token, IooNode_t *node, InsertOoMeta_t *meta, const char *warning,
                 bool pictures = false)
{
    if (!token->token.empty() && token->token[0] != '{') Abort("Invalid insertion tag '%s'", token->token.c_str());
    // Frames are numbered after those the part already has.
    if (pictures)
        for (auto &value : token->values) value->picture += meta->frame_base;
    if (insert_oo_do_is_in_table(node)) {
        insert_oo_do_add_table(token, node, meta);
        return false;
    }
    if (token->values.size() > 1) mmessage(1, warning, token->token.c_str());
    return true;
}

int insert_oo_do_text(InsertOoToken_t *token, IooNode_t *node, InsertOoMeta_t *meta, std::uint32_t type,
                      const char *warning)
{
    if (!check_entry(token, node, meta, warning)) return 1;
    const InsertOoValue_t &value = *token->values.front();
    return insert_oo_do_text_ins(type, node, token->token, value.text, value.tags, meta);
}

int insert_oo_do_note(InsertOoToken_t *token, IooNode_t *node, InsertOoMeta_t *meta)
{
    if (!check_entry(token, node, meta,
                     "insert_oo_do_note: Insertion of multirow note entry not in a table is not yet coded! %s"))
        return 1;
    return insert_oo_do_note_ins(node, *token->values.front(), token->token, meta);
}

int insert_oo_do_graphic(InsertOoToken_t *token, IooNode_t *node, InsertOoMeta_t *meta)
{
    if (!check_entry(token, node, meta,
                     "insert_oo_do_graphic: Insertion of multirow graphic entry not in a table is not yet coded! %s",
                     true))
        return 1;
    return insert_oo_do_graphic_ins(node, *token->values.front(), token->token, meta);
}

int insert_oo_do_exclude(InsertOoToken_t *token, IooNode_t *node, InsertOoMeta_t *meta)
{
    if (!check_entry(token, node, meta,
                     "insert_oo_do_exclude: Insertion of multirow exclude entry not in a table is not yet coded! %s"))
        return 1;
    return insert_oo_do_exclude_ins(node, token->token);
}

// ---- Text insertion ----------------------------------------------------------------------------

// Links node in front of next, as its parent's first child when next was.
void link_before(IooNode_t *next, IooNode_t *node)
{
    if (next->prior) {
        next->prior->next = node;
        node->prior = next->prior;
    } else {
        node->parent = next->parent;
        if (next->parent) next->parent->content = node;
        next->parent = nullptr;
    }
    node->next = next;
    next->prior = node;
}

// Puts added in node's place among its siblings (node is left unlinked).
void replace_node(IooNode_t *node, IooNode_t *added)
{
    added->prior = node->prior;
    added->next = node->next;
    if (node->prior) node->prior->next = added;
    if (node->next) node->next->prior = added;
    if (!node->prior) {
        added->parent = node->parent;
        if (node->parent) node->parent->content = added;
    }
    node->prior = node->next = node->parent = nullptr;
}

// Links a copy of span's element (attributes only) right after span and moves first, with every
// sibling that follows it, into the copy.
IooNode_t *move_into_copy(IooNode_t *span, IooNode_t *first)
{
    IooNode_t *copy = insert_oo_copy_tag_attr(span);
    copy->open = 0;
    copy->next = span->next;
    if (span->next) span->next->prior = copy;
    span->next = copy;
    copy->prior = span;
    if (first->prior) first->prior->next = nullptr;
    first->prior = nullptr;
    first->parent = copy;
    copy->content = first;
    return copy;
}

// The spreadsheet cell whose whole text node is (alone in the cell's one paragraph, or in the
// one span of it), or nullptr.
IooNode_t *whole_cell(IooNode_t *node)
{
    if (node->prior || node->next) return nullptr;
    IooNode_t *parent = ioo_parent(node);
    if (parent && parent->type == IOO_TAG_TEXT) {
        if (parent->prior || parent->next) return nullptr;
        parent = ioo_parent(parent);
    }
    if (!parent || parent->type != IOO_TAG_PAR || parent->prior || parent->next) return nullptr;
    IooNode_t *cell = ioo_parent(parent);
    return cell && cell->type == IOO_TAG_TABLE_CELL ? cell : nullptr;
}

// A number or amount that is a spreadsheet cell's whole text makes the cell a number, so that the
// sheet's formulas count it: its value is the number shown, without the thousands' commas.
void mark_number_cell(const InsertOoMeta_t *meta, std::uint32_t type, IooNode_t *node, std::string_view value)
{
    if (!meta->spreadsheet || (type != IOO_TP_NUMERIC && type != IOO_TP_MONEY) || *node->text != value) return;
    IooNode_t *cell = whole_cell(node);
    if (!cell) return;
    std::string number;
    for (char c : *node->text)
        if (c != ',') number += c;
    if (number.empty() || number.find_first_not_of("-.0123456789") != std::string::npos) return;
    insert_oo_add_link_attr(cell, "office:value-type", "\"float\"");
    insert_oo_add_link_attr(cell, "office:value", "\"" + number + "\"");
    // The suite's own copy of the type, when the template has one, must not say otherwise.
    if (ioo_find_attr(cell, "calcext:value-type")) insert_oo_add_link_attr(cell, "calcext:value-type", "\"float\"");
}

IooNode_t *text_node(std::string text)
{
    IooNode_t *node = insert_oo_create_tag(IOO_TAG_DEFAULT, {}, 0);
    node->text = std::move(text);
    return node;
}

// ---- Parts -------------------------------------------------------------------------------------

OdfEntry &part(OdfPackage &package, const char *name)
{
    OdfEntry *entry = odf_entry(package, name);
    if (!entry)
        Abort("Error %s when attempting to open OpenOffice %s file %s", misc_error_text(ENOENT).c_str(), name,
              package.source.c_str());
    return *entry;
}

IooTree read_part(const OdfEntry &entry)
{
    IooTree tree;
    stop_on(insert_oo_parse_xml(entry.data, tree));
    if (!tree) Abort("Malformed OpenOffice Document");
    return tree;
}

using Locate = IooNode_t *(*)(IooNode_t *);

IooNode_t *child(IooNode_t *node, std::uint32_t type);

// The office:automatic-styles of a content or styles part, found without the warnings of the
// navigation: an empty one is where a document without direct formatting gets its first style.
IooNode_t *automatic_styles(IooNode_t *head)
{
    for (IooNode_t *n = head; n; n = n->next)
        if (n->type == IOO_TAG_DOC_CONTENT || n->type == IOO_TAG_DOC_STYLES) return child(n, IOO_TAG_AUTO_STYLES);
    return nullptr;
}

void pass(InsertOoHandle_t *handle, OdfPackage &package, std::uint32_t *pictures, const char *name, Locate styles,
          Locate text, bool content)
{
    InsertOoMeta_t meta;
    meta.tree = read_part(part(package, name));
    meta.styles = styles(meta.tree.get());
    meta.automatic = automatic_styles(meta.tree.get());
    meta.text = text(meta.tree.get());
    meta.spreadsheet = meta.text && ioo_parent(meta.text) && ioo_parent(meta.text)->type == IOO_TAG_OSPREADSHEET;
    meta.handle = handle;
    meta.package = &package;
    meta.frame = meta.frame_base = *pictures;
    if (meta.text) insert_oo_get_xref(meta.text, &meta);
    // A part with many tokens takes a while: a signal is acted on between its steps.
    check_signals();
    for (meta.current = 0; meta.current < meta.xrefs.size(); ++meta.current) {
        if (meta.current % 256 == 0) check_signals();
        insert_oo_do_item(&meta, meta.xrefs[meta.current]);
    }
    if (content) insert_oo_do_get_table_multi_row_mode(&meta);
    check_signals();
    insert_oo_do_build_table(&meta);
    check_signals();
    insert_oo_do_text_attributes(&meta);
    check_signals();
    std::string written;
    // Looked up again: pictures add entries to the package while the part is filled.
    OdfEntry &entry = part(package, name);
    written.reserve(entry.data.size() + entry.data.size() / 4);
    stop_on(insert_oo_write_xml(meta.tree.get(), written));
    entry.data = std::move(written);
    *pictures = meta.frame;
}

IooNode_t *child(IooNode_t *node, std::uint32_t type)
{
    for (IooNode_t *c = node->content; c; c = c->next)
        if (c->type == type) return c;
    return nullptr;
}

} // namespace

// ---- Scan and dispatch ----------------------------------------------------------------------------

namespace {

void scan(IooNode_t *node, InsertOoMeta_t *meta, const std::string *paragraph_style)
{
    for (; node; node = node->next) {
        if (node->text) {
            scan_text(node, meta, paragraph_style);
            continue;
        }
        if (node->type == IOO_TAG_DRAW_FRAME) count_frame(node, meta);
        if (!node->content) continue;
        const std::string *style = paragraph_style;
        if (node->type == IOO_TAG_PAR)
            if (const IooAttr_t *a = ioo_find_attr(node, "text:style-name"); a && a->value) style = &*a->value;
        scan(node->content, meta, style);
    }
}

} // namespace

void insert_oo_get_xref(IooNode_t *node, InsertOoMeta_t *meta) { scan(node, meta, nullptr); }

void insert_oo_do_item(InsertOoMeta_t *meta, const InsertOoXref_t &entry)
{
    InsertOoToken_t *token = entry.token;
    IooNode_t *node = entry.node;
    switch (token->values.front()->type) {
    case IOO_TP_TEXT:
        insert_oo_do_text(token, node, meta, IOO_TP_TEXT,
                          "insert_oo_do_text: Insertion of multirow text entry not in a table is not yet coded! %s");
        break;
    case IOO_TP_NOTE: insert_oo_do_note(token, node, meta); break;
    case IOO_TP_NUMERIC:
        insert_oo_do_text(token, node, meta, IOO_TP_NUMERIC,
                          "insert_oo_do_numeric: Insertion of multirow numeric entry not in a table is not yet coded! %s");
        break;
    case IOO_TP_MONEY:
        insert_oo_do_text(token, node, meta, IOO_TP_MONEY,
                          "insert_oo_do_money: Insertion of multirow money entry not in a table is not yet coded! %s");
        break;
    case IOO_TP_GRAPHIC: insert_oo_do_graphic(token, node, meta); break;
    case IOO_TP_EXCLUDE: insert_oo_do_exclude(token, node, meta); break;
    default: Abort("Unexpected insert_oo type");
    }
}

void insert_oo_retarget(InsertOoMeta_t *meta, IooNode_t *node, IooNode_t *before, IooNode_t *after)
{
    for (std::size_t i = meta->current + 1; i < meta->xrefs.size(); ++i) {
        InsertOoXref_t &x = meta->xrefs[i];
        if (x.node != node) continue;
        if (before && before->text->find(x.token->token) != std::string::npos)
            x.node = before;
        else if (after && after->text->find(x.token->token) != std::string::npos)
            x.node = after;
    }
}

void insert_oo_do_split(std::optional<std::string> *before, std::optional<std::string> *after, std::string_view text,
                        std::string_view token)
{
    const std::size_t at = text.find(token);
    if (at == std::string_view::npos) Abort("insert_oo_do_split: failed to find token in text");
    before->reset();
    after->reset();
    if (at > 0) before->emplace(text.substr(0, at));
    if (at + token.size() < text.size()) after->emplace(text.substr(at + token.size()));
}

int insert_oo_do_text_ins(std::uint32_t type, IooNode_t *node, std::string_view token, std::string_view value,
                          const InsertOoTagList &tags, InsertOoMeta_t *meta)
{
    std::optional<std::string> before, after;
    if (tags.empty()) {
        // Every occurrence, searching on behind each inserted value.
        std::string done;
        std::string rest = *node->text;
        for (;;) {
            insert_oo_do_split(&before, &after, rest, token);
            if (before) done += *before;
            done += value;
            rest = after.value_or("");
            if (rest.find(token) == std::string::npos) break;
        }
        *node->text = done + rest;
        mark_number_cell(meta, type, node, value);
        return 1;
    }
    for (;;) {
        insert_oo_do_split(&before, &after, *node->text, token);
        IooNode_t *before_node = nullptr, *after_node = nullptr;
        if (before) {
            before_node = text_node(*before);
            link_before(node, before_node);
        }
        if (after) {
            after_node = insert_oo_add_link_tag(node, std::nullopt);
            after_node->text = *after;
        }
        insert_oo_retarget(meta, node, before_node, after_node);
        IooNode_t *parent = ioo_parent(node);
        if (!parent) assertion_failed(__FILE__, __LINE__, "tag1->parent");
        if (parent->type == IOO_TAG_TEXT) {
            // The value ends alone in a span bearing the attributes of the one it came from.
            IooNode_t *span = parent;
            if (node->prior) span = move_into_copy(span, node);
            if (node->next) move_into_copy(span, node->next);
        } else if (parent->type == IOO_TAG_PAR && (node->prior || node->next || meta->spreadsheet)) {
            // A spreadsheet ignores a paragraph style for a cell's text: a value styled there
            // stands in a span of its own, whose style is of the text family.
            IooNode_t *span = insert_oo_create_tag(IOO_TAG_TEXT, "text:span", 0);
            replace_node(node, span);
            span->content = node;
            node->parent = span;
        }
        *node->text = value;
        const std::uint32_t negative = type != IOO_TP_TEXT && !value.empty() && value[0] == '-';
        meta->attrs.push_back({type, negative, node, &tags, std::nullopt, nullptr});
        mark_number_cell(meta, type, node, value);
        if (!after_node || after_node->text->find(token) == std::string::npos) return 1;
        node = after_node;
    }
}

int insert_oo_do_exclude_ins(IooNode_t *node, std::string_view token)
{
    std::optional<std::string> before, after;
    insert_oo_do_split(&before, &after, *node->text, token);
    *node->text = before.value_or("") + after.value_or("");
    return 1;
}

// ---- Passes ------------------------------------------------------------------------------------

int insert_oo_do_content_xml(InsertOoHandle_t *handle, OdfPackage &package, std::uint32_t *pictures)
{
    pass(handle, package, pictures, "content.xml", insert_oo_get_style_ptr_content_xml,
         insert_oo_get_text_ptr_content_xml, true);
    return 1;
}

int insert_oo_do_styles_xml(InsertOoHandle_t *handle, OdfPackage &package, std::uint32_t *pictures)
{
    pass(handle, package, pictures, "styles.xml", insert_oo_get_style_ptr_styles_xml, insert_oo_get_text_ptr_styles_xml,
         false);
    return 1;
}

int insert_oo_get_meta_data(InsertOoHandle_t *, OdfPackage &package, int *cycles, std::string *generator)
{
    OdfEntry &entry = part(package, "meta.xml");
    IooTree tree = read_part(entry);
    IooNode_t *doc = nullptr;
    for (IooNode_t *n = tree.get(); n && !doc; n = n->next)
        if (n->type == IOO_TAG_DOC_META) doc = n;
    if (!doc) Abort("office:document-meta tag not found in the meta file");
    if (!doc->content) Abort("Content not found for the office:document-meta tag");
    IooNode_t *office_meta = child(doc, IOO_TAG_OMETA);
    if (!office_meta) Abort("office:meta tag not found in the meta file");
    if (!office_meta->content) Abort("Content not found for the office:meta tag");
    *cycles = 0;
    if (IooNode_t *edits = child(office_meta, IOO_TAG_META_ED_CYCLES)) {
        if (!edits->content) Abort("Content not found for the meta:editing-cycles tag");
        long long n = 0;
        if (std::optional<std::string> &text = edits->content->text) {
            const std::size_t skip = text->find_first_not_of(" \t\r\n");
            if (skip != std::string::npos) std::from_chars(text->data() + skip, text->data() + text->size(), n);
            n = std::clamp<long long>(n, INT_MIN, INT_MAX - 1);
            *text = std::to_string(n + 1);
        }
        *cycles = static_cast<int>(n);
    }
    IooNode_t *made_by = child(office_meta, IOO_TAG_META_GENERATOR);
    if (!made_by) Abort("meta:generator tag not found in the meta file");
    if (!made_by->content) Abort("Content not found for the meta:generator tag");
    *generator = made_by->content->text.value_or("");
    std::string written;
    stop_on(insert_oo_write_xml(tree.get(), written));
    entry.data = std::move(written);
    return 1;
}

long insert_oo_get_target_size(const char *file)
{
    struct stat st;
    if (stat(file, &st) != 0) {
        mmessage(1, "Failed to obtain size of OpenOffice target file");
        return 0;
    }
    return static_cast<long>(st.st_size);
}
