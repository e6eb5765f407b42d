// Tokens in table cells. They are not replaced where the scan finds them: their values are filed
// under the table, and once the part's entries are all dispatched each such table gets its rows
// rebuilt from copies of the template rows. In the default mode every token has one value; in
// multi-row mode the row holding a token is repeated once per value, in registration order.
#include <algorithm>
#include <set>
#include <utility>

#include "message.h"
#include "odf_insert.h"

namespace {

bool holds(const IooNode_t *node, std::string_view token)
{
    return node->text && node->text->find(token) != std::string::npos;
}

// A "{" followed by printable non-blank characters up to a "}".
bool brace_pattern(std::string_view text)
{
    for (std::size_t at = text.find('{'); at != std::string_view::npos;) {
        std::size_t i = at + 1;
        while (i < text.size() && text[i] > 0x20 && text[i] < 0x7f && text[i] != '}') ++i;
        if (i == text.size()) return false;
        if (text[i] == '}') return true;
        at = text.find('{', i);
    }
    return false;
}

// The enclosing cell of a text node: through a span and a paragraph at most.
IooNode_t *cell_of(const IooNode_t *node)
{
    IooNode_t *p = ioo_parent(node);
    if (p && p->type == IOO_TAG_TEXT) p = ioo_parent(p);
    if (p && p->type == IOO_TAG_PAR) p = ioo_parent(p);
    return p && p->type == IOO_TAG_TABLE_CELL ? p : nullptr;
}

// Every text node holding token, from node on (following siblings included), in document order.
void collect(IooNode_t *node, std::string_view token, std::vector<IooNode_t *> &found)
{
    for (; node; node = node->next) {
        if (holds(node, token)) found.push_back(node);
        if (node->content) collect(node->content, token, found);
    }
}

// The values whose token has no other: after a row is filled they replace what is left of their
// token in it and the rows below, which the entry itself reached only once.
using Singles = std::vector<const InsertOoTableEntry_t *>;

Singles singles_of(const InsertOoTable_t &table)
{
    Singles singles;
    for (const InsertOoTableEntry_t &e : table.entries)
        if (e.token->values.size() == 1) singles.push_back(&e);
    return singles;
}

// The text nodes that took a value of a token. A token's value is put into every occurrence of
// the token in a node at once, so what such a node still holds of the token came with the value
// and is left as it is.
using Filled = std::set<std::pair<const InsertOoToken_t *, const IooNode_t *>>;

void fill(IooNode_t *node, const InsertOoTableEntry_t &e, InsertOoMeta_t *meta, Filled &filled)
{
    const std::size_t styled = meta->attrs.size();
    insert_oo_do_tbl_item(node, e, meta);
    if (e.value->type == IOO_TP_EXCLUDE) return;
    filled.insert({e.token, node});
    for (std::size_t i = styled; i < meta->attrs.size(); ++i) filled.insert({e.token, meta->attrs[i].node});
}

// The first text node from node on holding token, but for those that took its value.
IooNode_t *target_of(IooNode_t *node, const InsertOoToken_t *token, const Filled &filled)
{
    for (; node; node = node->next) {
        if (holds(node, token->token) && !filled.count({token, node})) return node;
        if (node->content)
            if (IooNode_t *found = target_of(node->content, token, filled)) return found;
    }
    return nullptr;
}

// Each remaining occurrence is replaced once: the nodes are gathered before any value goes in,
// and nodes that took the token's value are passed over.
void single_value_pass(IooNode_t *row, const Singles &singles, InsertOoMeta_t *meta, Filled &filled)
{
    std::vector<IooNode_t *> found;
    for (const InsertOoTableEntry_t *e : singles) {
        found.clear();
        collect(row, e->token->token, found);
        for (IooNode_t *node : found) {
            if (filled.count({e->token, node})) continue;
            while (holds(node, e->token->token)) {
                fill(node, *e, meta, filled);
                if (e->value->type != IOO_TP_EXCLUDE) break;  // an exclusion takes one occurrence a time
            }
        }
    }
}

// Appends row to the rebuilt list ending in last.
void append(InsertOoTable_t &table, IooNode_t *&last, IooNode_t *row)
{
    if (!last) {
        table.rows.reset(row);
    } else {
        last->next = row;
        row->prior = last;
    }
    last = row;
}

void build_default(InsertOoTable_t &table, InsertOoMeta_t *meta)
{
    Filled filled;
    table.rows.reset(insert_oo_copy_tag(table.format));
    std::vector<IooNode_t *> templates;
    for (IooNode_t *r = table.format; r; r = r->next) templates.push_back(r);
    std::vector<int> marks(templates.size(), 0);
    for (const InsertOoTableEntry_t &e : table.entries) {
        IooNode_t *row = nullptr;
        if (insert_oo_do_get_table(e.node, &row) != table.format)
            assertion_failed(__FILE__, __LINE__, "tbl == table->format");
        IooNode_t *target = target_of(table.rows.get(), e.token, filled);
        if (!target)
            Abort("Must call iinsert_oo_set_table_multi_row_mode when multiple values are provided by the program for "
                  "token %s located within a table; May not simultaneously insert and exclude.",
                  e.token->token.c_str());
        const std::size_t at = std::find(templates.begin(), templates.end(), e.row) - templates.begin();
        if (e.token->values.size() != 1)
            Abort("Must call iinsert_oo_set_table_multi_row_mode when the program is providing multiple values for "
                  "token %s located within a table; May not simultaneously insert and exclude.",
                  e.token->token.c_str());
        if (at < marks.size()) marks[at] = marks[at] == 0 && e.value->type == IOO_TP_EXCLUDE ? 2 : 1;
        fill(target, e, meta, filled);
    }
    // A row whose only tokens were excluded goes; the others get what is left of single values.
    // The rows go first so that no value lands in a row about to be freed.
    IooNode_t *row = table.rows.get();
    for (std::size_t i = 0; row; ++i) {
        IooNode_t *next = row->next;
        if (i < marks.size() && marks[i] == 2) {
            if (row->prior) {
                row->prior->next = next;
            } else {
                (void)table.rows.release();
                table.rows.reset(next);
            }
            if (next) next->prior = row->prior;
            row->next = row->prior = nullptr;
            insert_oo_free_xml(row);
        }
        row = next;
    }
    const Singles singles = singles_of(table);
    for (row = table.rows.get(); row; row = row->next)
        if (insert_oo_is_tbl_tag(row, true)) single_value_pass(row, singles, meta, filled);
}

void build_multi_row(InsertOoTable_t &table, InsertOoMeta_t *meta)
{
    const Singles singles = singles_of(table);
    Filled filled;
    std::vector<IooNode_t *> templates;
    for (IooNode_t *r = table.format; r; r = r->next) templates.push_back(r);
    IooNode_t *last = nullptr;
    std::size_t walked = 0;  // the template rows the walk has passed
    for (const InsertOoTableEntry_t &e : table.entries) {
        IooNode_t *token_row = nullptr;
        insert_oo_do_get_table(e.node, &token_row);
        IooNode_t *target = last ? target_of(last, e.token, filled) : nullptr;
        if (!target) {
            if (last && insert_oo_is_tbl_tag(last, true)) single_value_pass(last, singles, meta, filled);
            filled.clear();  // only the last row is ever searched again
            const std::size_t at = std::find(templates.begin(), templates.end(), token_row) - templates.begin();
            if (at < walked) {
                // A row already passed is repeated where the rows have got to; the walk stays
                // where it stopped, so rows behind it (a total, say) are not carried in between.
                if (!last) assertion_failed(__FILE__, __LINE__, "lastnew");
                append(table, last, insert_oo_copy_tag1(token_row));
            } else {
                // Walk on to the token's row, carrying the plain rows on the way; template rows
                // with other tokens are dropped, being reached only through copies for values.
                for (; walked <= at && walked < templates.size(); ++walked)
                    if (walked == at || !insert_oo_is_tbl_tag(templates[walked], true))
                        append(table, last, insert_oo_copy_tag1(templates[walked]));
            }
            target = target_of(last, e.token, filled);
        }
        if (!target) assertion_failed(__FILE__, __LINE__, "tag");
        fill(target, e, meta, filled);
    }
    if (last && insert_oo_is_tbl_tag(last, true)) single_value_pass(last, singles, meta, filled);
}

// The rebuilt rows take the template rows' place behind the node in front of them.
void splice(InsertOoTable_t &table)
{
    IooNode_t *prior = table.format->prior;
    if (!prior) Abort("Unexpected absence of prior tag");
    prior->next = nullptr;
    table.format->prior = nullptr;
    insert_oo_free_list(table.format);
    table.format = nullptr;
    if (IooNode_t *rows = table.rows.release()) {
        prior->next = rows;
        rows->prior = prior;
    }
}

// A table with tokens inside a cell of another would lose its template rows to the outer rebuild
// while still being filed against them.
void refuse_nested(const InsertOoMeta_t *meta)
{
    for (const auto &inner : meta->tables)
        for (IooNode_t *up = ioo_parent(inner->format); up; up = ioo_parent(up)) {
            if (up->type != IOO_TAG_TABLE_ROW) continue;
            IooNode_t *first = up;
            while (first->prior && first->prior->type == IOO_TAG_TABLE_ROW) first = first->prior;
            for (const auto &outer : meta->tables)
                if (outer->format == first)
                    Abort("Token %s lies in a table nested in another table holding tokens; such tables may not "
                          "be nested",
                          inner->entries.front().token->token.c_str());
        }
}

} // namespace

int insert_oo_do_is_in_table(const IooNode_t *node) { return cell_of(node) ? 1 : 0; }

IooNode_t *insert_oo_do_get_table(const IooNode_t *node, IooNode_t **row)
{
    *row = nullptr;
    IooNode_t *cell = cell_of(node);
    if (!cell) return nullptr;
    IooNode_t *r = ioo_parent(cell);
    if (!r || r->type != IOO_TAG_TABLE_ROW) return nullptr;
    *row = r;
    while (r->prior && r->prior->type == IOO_TAG_TABLE_ROW) r = r->prior;
    return r;
}

void insert_oo_do_add_table(InsertOoToken_t *token, IooNode_t *node, InsertOoMeta_t *meta)
{
    IooNode_t *row = nullptr;
    IooNode_t *format = insert_oo_do_get_table(node, &row);
    InsertOoTable_t *table = nullptr;
    for (const auto &t : meta->tables)
        if (t->format == format) {
            table = t.get();
            break;
        }
    if (table && !table->format) Abort("insert_oo_do_add_table unexpected empty table");
    if (!table) {
        meta->tables.insert(meta->tables.begin(), std::make_unique<InsertOoTable_t>());
        table = meta->tables.front().get();
        table->format = format;
    }
    // Kept in filing order here and sorted by sequence number before the rebuild, which files
    // large tables without moving entries about.
    for (const auto &value : token->values) table->entries.push_back({row, node, token, value.get()});
}

void insert_oo_do_get_table_multi_row_mode(InsertOoMeta_t *meta)
{
    for (InsertOoMultiRow_t &request : meta->handle->multi_table) {
        const auto x = std::find_if(meta->xrefs.begin(), meta->xrefs.end(),
                                    [&](const InsertOoXref_t &e) { return e.token->token == request.token; });
        if (x == meta->xrefs.end()) continue;
        IooNode_t *row = nullptr;
        request.table = insert_oo_do_get_table(x->node, &row);
        if (!request.table)
            Abort("No table found that contains the token '%s' passed to iinsert_oo_set_table_multi_row_mode",
                  request.token.c_str());
        const auto t = std::find_if(meta->tables.begin(), meta->tables.end(),
                                    [&](const auto &table) { return table->format == request.table; });
        if (t == meta->tables.end())
            Abort("Table not found for token '%s' passed to iinsert_oo_set_table_multi_row_mode",
                  request.token.c_str());
        (*t)->multi_row = 1;
    }
}

void insert_oo_do_build_table(InsertOoMeta_t *meta)
{
    refuse_nested(meta);
    for (const auto &table : meta->tables) {
        std::stable_sort(table->entries.begin(), table->entries.end(),
                         [](const InsertOoTableEntry_t &a, const InsertOoTableEntry_t &b) {
                             return a.value->sequence < b.value->sequence;
                         });
        if (table->multi_row)
            build_multi_row(*table, meta);
        else
            build_default(*table, meta);
        splice(*table);
    }
}

int insert_oo_do_tbl_item(IooNode_t *node, const InsertOoTableEntry_t &entry, InsertOoMeta_t *meta)
{
    const InsertOoValue_t &value = *entry.value;
    switch (value.type) {
    case IOO_TP_TEXT:
    case IOO_TP_NUMERIC:
    case IOO_TP_MONEY:
        return insert_oo_do_text_ins(value.type, node, entry.token->token, value.text, value.tags, meta);
    case IOO_TP_NOTE: return insert_oo_do_note_ins(node, value, entry.token->token, meta);
    case IOO_TP_GRAPHIC: return insert_oo_do_graphic_ins(node, value, entry.token->token, meta);
    case IOO_TP_EXCLUDE: return insert_oo_do_exclude_ins(node, entry.token->token);
    default: Abort("Unexpected insert_oo type");
    }
}

IooNode_t *insert_oo_get_tbl_tag(IooNode_t *node, std::string_view token)
{
    for (; node; node = node->next) {
        if (holds(node, token)) return node;
        if (node->content)
            if (IooNode_t *found = insert_oo_get_tbl_tag(node->content, token)) return found;
    }
    return nullptr;
}

bool insert_oo_is_tbl_tag(const IooNode_t *node, bool only)
{
    for (; node; node = node->next) {
        if (node->text && brace_pattern(*node->text)) return true;
        if (node->content && insert_oo_is_tbl_tag(node->content, false)) return true;
        if (only) break;
    }
    return false;
}
