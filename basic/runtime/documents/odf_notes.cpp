// Notes in filled documents. A note token stands in a paragraph of the template; the note's
// paragraphs replace that paragraph, styled like it, with their bold, italic and underline runs
// as spans, and amounts as right-aligned paragraphs or a two-column table. The styles this needs
// are generated once per part from the template paragraph's style, named OSKA_*n*.
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "mem_mgt.h"
#include "message.h"
#include "note_model.h"
#include "numerics.h"
#include "odf_insert.h"
#include "odf_package.h"
#include "read_error.h"

namespace {

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::string numbered(const char *prefix, int n) { return quoted(prefix + std::to_string(n)); }

// The number generated styles carry for a template style: its digits, unless another style name
// of the part already has that number (P20 and Text_20_body), then the next free one.
int style_number(InsertOoMeta_t *meta, const std::string &name)
{
    if (const auto known = meta->style_numbers.find(name); known != meta->style_numbers.end()) return known->second;
    long long n = 0;
    for (char c : name)
        if (c >= '0' && c <= '9') n = std::min<long long>(n * 10 + (c - '0'), 1000000000);
    int number = static_cast<int>(n);
    for (const auto &[other, used] : meta->style_numbers)
        if (used == number) {
            number = 0;
            for (const auto &[o, u] : meta->style_numbers) number = std::max(number, u);
            ++number;
            break;
        }
    meta->style_numbers.emplace(name, number);
    return number;
}

IooNode_t *new_node(std::string_view name) { return insert_oo_create_tag(insert_oo_set_tag_type(name), name, 0); }

IooNode_t *new_text(std::string text)
{
    IooNode_t *node = insert_oo_create_tag(IOO_TAG_DEFAULT, {}, 0);
    node->text = std::move(text);
    return node;
}

// Links node right after at.
void link_after(IooNode_t *at, IooNode_t *node)
{
    node->next = at->next;
    if (at->next) at->next->prior = node;
    at->next = node;
    node->prior = at;
}

IooNode_t *copy_after(IooNode_t *node)
{
    IooNode_t *copy = insert_oo_copy_tag_attr(node);
    copy->open = 0;
    link_after(node, copy);
    return copy;
}

// Makes first, with every sibling that follows it, the children of holder (which is empty).
void move_into(IooNode_t *holder, IooNode_t *first)
{
    if (first->prior) {
        first->prior->next = nullptr;
    } else if (first->parent) {
        first->parent->content = nullptr;
    }
    first->prior = nullptr;
    first->parent = holder;
    holder->content = first;
}

void append_child(IooNode_t *parent, IooNode_t *node)
{
    if (!parent->content) {
        parent->content = node;
        node->parent = parent;
        return;
    }
    IooNode_t *last = parent->content;
    while (last->next) last = last->next;
    link_after(last, node);
}

void prepend_child(IooNode_t *parent, IooNode_t *node)
{
    if (IooNode_t *first = parent->content) {
        first->parent = nullptr;
        first->prior = node;
        node->next = first;
    }
    parent->content = node;
    node->parent = parent;
}

IooNode_t *find_style(IooNode_t *styles, const std::string &name)
{
    for (IooNode_t *s = styles; s; s = s->next)
        if (s->name == "style:style") {
            const IooAttr_t *a = ioo_find_attr(s, "style:name");
            if (a && a->value == name) return s;
        }
    return nullptr;
}

IooNode_t *child_named(IooNode_t *node, std::string_view name)
{
    for (IooNode_t *c = node->content; c; c = c->next)
        if (c->name == name) return c;
    return nullptr;
}

IooNode_t *add_style(IooNode_t *after, const std::string &name, const char *family)
{
    IooNode_t *style = insert_oo_add_link_tag(after, "style:style");
    insert_oo_add_link_attr(style, "style:name", name);
    insert_oo_add_link_attr(style, "style:family", quoted(family));
    return style;
}

void set_all(IooNode_t *node, std::initializer_list<std::pair<const char *, const char *>> attrs)
{
    for (const auto &[name, value] : attrs) insert_oo_add_link_attr(node, name, quoted(value));
}

// The paragraph style copy that the generated paragraph styles start from.
IooNode_t *standard_style(InsertOoMeta_t *meta, const InsertOoNoteStyle_t &record, IooNode_t *last)
{
    IooNode_t *paragraph = find_style(meta->styles, record.paragraph);
    IooNode_t *span = nullptr;
    if (record.span) {
        span = find_style(meta->styles, *record.span);
        if (!span) Abort("Parent span style not found");
    }
    IooNode_t *copy;
    if (paragraph) {
        copy = insert_oo_copy_tag1(paragraph);
        if (copy->name != "style:style") Abort("Invalid style type");
        copy->parent = nullptr;
        link_after(last, copy);
    } else {
        // A common style of the document: the generated styles derive from it.
        if (last) {
            copy = add_style(last, record.paragraph, "paragraph");
        } else {
            // The part's first automatic style.
            copy = insert_oo_add_style(meta, "style:style");
            insert_oo_add_link_attr(copy, "style:name", record.paragraph);
            insert_oo_add_link_attr(copy, "style:family", quoted("paragraph"));
        }
        insert_oo_add_link_attr(copy, "style:parent-style-name", record.paragraph);
        insert_oo_add_child_tag(copy, "style:paragraph-properties");
        if (span) insert_oo_add_link_tag(copy->content, "style:text-properties");
    }
    if (span) insert_oo_merge_styles(copy, span);
    insert_oo_add_link_attr(copy, "style:name", numbered("OSKA_STD", record.paragraph_number));
    if (!copy->content || copy->content->name != "style:paragraph-properties") Abort("Unexpected style content type");
    set_all(copy->content, {{"fo:text-align", "start"}, {"style:justify-single-word", "false"}});
    return copy;
}

IooNode_t *copy_style(IooNode_t *style, const char *prefix, int n)
{
    IooNode_t *copy = insert_oo_copy_tag1(style);
    copy->parent = nullptr;
    link_after(style, copy);
    insert_oo_add_link_attr(copy, "style:name", numbered(prefix, n));
    return copy;
}

IooNode_t *run_styles(IooNode_t *last, int n)
{
    struct Run {
        const char *prefix;
        bool bold, italic, underline;
    };
    static const Run runs[] = {{"OSKA_B", true, false, false},  {"OSKA_I", false, true, false},
                               {"OSKA_U", false, false, true},  {"OSKA_BI", true, true, false},
                               {"OSKA_BU", true, false, true},  {"OSKA_IU", false, true, true},
                               {"OSKA_BIU", true, true, true}};
    for (const Run &r : runs) {
        last = add_style(last, numbered(r.prefix, n), "text");
        IooNode_t *props = insert_oo_add_child_tag(last, "style:text-properties");
        if (r.bold)
            set_all(props, {{"fo:font-weight", "bold"}, {"style:font-weight-asian", "bold"},
                            {"style:font-weight-complex", "bold"}});
        if (r.italic)
            set_all(props, {{"fo:font-style", "italic"}, {"style:font-style-asian", "italic"},
                            {"style:font-style-complex", "italic"}});
        if (r.underline)
            set_all(props, {{"style:text-underline-style", "solid"}, {"style:text-underline-width", "auto"},
                            {"style:text-underline-color", "font-color"}});
    }
    return last;
}

IooNode_t *amount_table_styles(IooNode_t *last)
{
    last = insert_oo_add_link_tag(last, "number:number-style");
    insert_oo_add_link_attr(last, "style:name", quoted("OSKA_5f_N4"));
    set_all(insert_oo_add_child_tag(last, "number:number"),
            {{"number:decimal-places", "2"}, {"number:min-integer-digits", "1"}, {"number:grouping", "true"}});
    last = add_style(last, quoted("OSKA_5f_TBL"), "table");
    set_all(insert_oo_add_child_tag(last, "style:table-properties"), {{"style:rel-width", "100%"}, {"table:align", "left"}});
    for (const auto &[name, width] : {std::pair{"OSKA_5f_TBL.A", "7938*"}, std::pair{"OSKA_5f_TBL.B", "2268*"}}) {
        last = add_style(last, quoted(name), "table-column");
        set_all(insert_oo_add_child_tag(last, "style:table-column-properties"), {{"style:rel-column-width", width}});
    }
    for (const char *name : {"OSKA_5f_TBL.A1", "OSKA_5f_TBL.B1", "OSKA_5f_TBL.A1.L", "OSKA_5f_TBL.B1.L"}) {
        const std::string_view n = name;
        last = add_style(last, quoted(name), "table-cell");
        if (n.find(".B1") != std::string_view::npos) insert_oo_add_link_attr(last, "style:data-style-name", quoted("OSKA_5f_N4"));
        IooNode_t *props = insert_oo_add_child_tag(last, "style:table-cell-properties");
        set_all(props, {{"style:vertical-align", "bottom"}, {"fo:background-color", "transparent"},
                        {"fo:padding-left", "0cm"}, {"fo:padding-right", "0cm"}, {"fo:padding-top", "0cm"},
                        {"fo:padding-bottom", n.ends_with(".L") ? "0cm" : "0.3cm"}, {"fo:border", "none"}});
        insert_oo_add_child_tag(props, "style:background-image");
    }
    return last;
}

// Puts the note's nodes where the template paragraph was: the first as the parent's first child
// when the paragraph was one, each later one behind the one before.
struct Placer {
    IooNode_t *point = nullptr;   // the node the next one follows
    IooNode_t *parent = nullptr;  // first-child mode: the parent and the paragraph's old follower
    IooNode_t *follower = nullptr;

    void place(IooNode_t *node)
    {
        if (!point) {
            parent->content = node;
            node->parent = parent;
            node->next = follower;
            if (follower) follower->prior = node;
        } else {
            link_after(point, node);
        }
        point = node;
    }
};

struct ScratchNote {
    NoteData_t data{};
    ScratchNote() = default;
    ScratchNote(const ScratchNote &) = delete;
    ScratchNote &operator=(const ScratchNote &) = delete;
    ~ScratchNote()
    {
        gnote_free_xml(&data);
        gnote_free_original_note(&data);
    }
};

struct SallocFree {
    void operator()(char *p) const { sfree(p); }
};

// What one converted paragraph may take, its runs' mark-up included.
constexpr std::size_t CDATA_BUDGET = 8191;

const char *const RUN_STYLES[8] = {nullptr, "OSKA_B", "OSKA_I", "OSKA_BI", "OSKA_U", "OSKA_BU", "OSKA_IU", "OSKA_BIU"};

// The first byte after at on which a run boundary of any kind lies, or the text's length.
std::int32_t next_boundary(const NoteParagraph_t &p, const int *index, std::int32_t at, std::int32_t length)
{
    std::int32_t next = length;
    const std::int32_t *starts[3] = {p.bold_start, p.italic_start, p.underline_start};
    const std::int32_t *ends[3] = {p.bold_end, p.italic_end, p.underline_end};
    for (int k = 0; k < 3; ++k)
        if (index[k] >= 0)
            for (const std::int32_t *positions : {starts[k], ends[k]})
                if (positions[index[k]] > at) next = std::min(next, positions[index[k]]);
    return next;
}

} // namespace

// ---- Template styles ------------------------------------------------------------------------------

void insert_oo_get_note_style(InsertOoMeta_t *meta, IooNode_t *node, const InsertOoValue_t &value,
                              const std::string *paragraph_style)
{
    meta->note_styles_ready = 0;
    if (!paragraph_style || paragraph_style->size() <= 2) Abort("Must have a paragraph name when inserting a Note");
    IooNode_t *parent = ioo_parent(node);
    if (!parent) assertion_failed(__FILE__, __LINE__, "tg->parent");
    InsertOoNoteStyle_t record;
    record.amount = value.amount;
    if (paragraph_style->size() > 31) Abort("insert_oo_get_note_style: Buffer overflow 2");
    record.paragraph = *paragraph_style;
    record.paragraph_number = style_number(meta, record.paragraph);
    if (parent->type == IOO_TAG_TEXT)
        if (const IooAttr_t *a = ioo_find_attr(parent, "text:style-name"); a && a->value) {
            if (a->value->size() > 31) Abort("insert_oo_get_note_style: Buffer overflow 1");
            record.span = *a->value;
            record.span_number = style_number(meta, *a->value);
        }
    auto &list = meta->note_styles;
    std::size_t i = 0;
    while (i + 1 < list.size() &&
           !(record.paragraph_number < list[i].paragraph_number || record.span_number < list[i].span_number ||
             record.amount <= list[i].amount))
        ++i;
    if (list.empty()) {
        list.push_back(std::move(record));
        return;
    }
    const InsertOoNoteStyle_t &at = list[i];
    if (record.paragraph_number == at.paragraph_number && record.span_number == at.span_number &&
        record.amount == at.amount)
        return;
    const bool after = record.paragraph_number >= at.paragraph_number && record.span_number >= at.span_number &&
                       record.amount > at.amount;
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(i + (after ? 1 : 0)), std::move(record));
}

void insert_oo_merge_styles(IooNode_t *copy, const IooNode_t *span)
{
    IooNode_t *into = child_named(copy, "style:text-properties");
    if (!into) Abort("Failed to find style:text-properties tag in style");
    IooNode_t *from = child_named(const_cast<IooNode_t *>(span), "style:text-properties");
    if (!from) Abort("Failed to find style:text-properties tag in span style");
    for (const IooAttr_t *a = from->attributes; a; a = a->next)
        insert_oo_add_link_attr(into, a->name,
                                a->value ? std::optional<std::string_view>(*a->value) : std::nullopt);
    if (from->content || from->next) mmessage(1, "Span style has unexpected addtional characteristics");
}

void insert_oo_note_styles(InsertOoMeta_t *meta)
{
    if (meta->note_styles_ready) return;
    if (!meta->styles && !meta->automatic) Abort("Unexpectantly didn't find last Style");
    IooNode_t *last = insert_oo_last_style(meta);  // none yet when the automatic styles are empty
    const auto &list = meta->note_styles;
    bool amounts = false;
    for (std::size_t i = 0; i < list.size(); ++i) {
        amounts |= list[i].amount != 0;
        // One set per paragraph style, from its last record: the list's order does not keep the
        // records of one style together when amount flags and span styles differ.
        if (std::any_of(list.begin() + static_cast<std::ptrdiff_t>(i) + 1, list.end(),
                        [&](const InsertOoNoteStyle_t &r) { return r.paragraph_number == list[i].paragraph_number; }))
            continue;
        const int n = list[i].paragraph_number;
        IooNode_t *standard = standard_style(meta, list[i], last);
        IooNode_t *single = copy_style(standard, "OSKA_SGL", n);
        set_all(single->content, {{"fo:text-align", "start"}, {"style:justify-single-word", "false"}});
        IooNode_t *amount = copy_style(single, "OSKA_AMT", n);
        set_all(amount->content, {{"fo:margin-left", "0cm"}, {"fo:text-align", "end"},
                                  {"style:justify-single-word", "false"}, {"fo:text-indent", "0cm"},
                                  {"style:auto-text-indent", "false"}});
        last = run_styles(amount, n);
    }
    if (amounts) amount_table_styles(last);
    meta->note_styles_ready = 1;
}

// ---- Insertion --------------------------------------------------------------------------------------

std::string insert_oo_note_tbl_name(InsertOoMeta_t *meta)
{
    const std::uint32_t n = ++meta->package->note_tables;
    char name[32];
    std::snprintf(name, sizeof name, "\"OSKA_%02u%06uTBL\"", (n / 1000000) % 100, n % 1000000);
    return name;
}

std::string insert_oo_note_get_xml_cdata(const NoteElement_t *element, int n)
{
    const NoteParagraph_t &p = element->p;
    const std::string_view text = p.text ? p.text : "";
    const auto length = static_cast<std::int32_t>(text.size());
    int open[3] = {0, 0, 0};
    int index[3] = {p.bold_count > 0 ? 0 : -1, p.italic_count > 0 ? 0 : -1, p.underline_count > 0 ? 0 : -1};
    const std::int32_t *starts[3] = {p.bold_start, p.italic_start, p.underline_start};
    const std::int32_t *ends[3] = {p.bold_end, p.italic_end, p.underline_end};
    const int counts[3] = {p.bold_count, p.italic_count, p.underline_count};
    std::string out;
    bool span = false;
    char previous = 0;
    for (std::int32_t at = 0; at < length;) {
        bool applied = false;
        for (int k = 0; k < 3; ++k) applied |= gnote_get_xml_cdata_format(&open[k], ends[k], counts[k], &index[k], at) != 0;
        for (int k = 0; k < 3; ++k)
            applied |= gnote_get_xml_cdata_format(&open[k], starts[k], counts[k], &index[k], at) != 0;
        if (applied) {
            if (span) out += "</text:span>";
            span = false;
            if (const int kinds = open[0] | open[1] << 1 | open[2] << 2) {
                out += "<text:span text:style-name=\"" + std::string(RUN_STYLES[kinds]) + std::to_string(n) + "\">";
                span = true;
            }
        }
        const char c = text[static_cast<std::size_t>(at)];
        std::int32_t used = 1;
        switch (c) {
        case '\t': out += "<text:tab/>"; break;
        case '\n': out += "<text:line-break/>"; break;
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case ' ':
            if (previous != ' ' || at == 0) {
                out += ' ';
            } else if (at + 1 >= length || text[static_cast<std::size_t>(at) + 1] != ' ') {
                out += "<text:s/>";
            } else {
                // The run of blanks stops at the next run boundary, so that boundary is still met.
                const std::int32_t stop = std::max(next_boundary(p, index, at, length), at + 1);
                while (at + used < stop && text[static_cast<std::size_t>(at + used)] == ' ') ++used;
                out += used == 1 ? std::string("<text:s/>") : "<text:s text:c=\"" + std::to_string(used) + "\"/>";
            }
            break;
        default:
            // Other control characters have no place in the document's text.
            if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) out += c;
        }
        at += used;
        previous = c;
        if (out.size() + 160 > CDATA_BUDGET) Abort("cdata buffer overflow");
    }
    if (span) out += "</text:span>";
    return out;
}

int insert_oo_split_parent_on_tag(InsertOoMeta_t *meta, IooNode_t *node, const std::optional<std::string> &before,
                                  const std::optional<std::string> &after, IooNode_t **unit)
{
    *unit = node;
    if (!before && !after && !node->prior && !node->next && node->parent && node->parent->type == IOO_TAG_PAR)
        return 1;
    IooNode_t *parent = ioo_parent(node);
    if (!parent) assertion_failed(__FILE__, __LINE__, "tag1->parent");
    IooNode_t *before_node = nullptr, *after_node = nullptr;
    std::optional<std::string> before_text = before, after_text = after;
    if (parent->type == IOO_TAG_TEXT) {
        // A token in a span: the texts around it stay in the span, which is divided so that the
        // token stands in a span of its own between the paragraphs before and after.
        if (before) {
            before_node = new_text(*before);
            if (node->prior) {
                link_after(node->prior, before_node);
            } else {
                before_node->parent = parent;
                parent->content = before_node;
                node->parent = nullptr;
            }
            before_node->next = node;
            node->prior = before_node;
        }
        if (after) {
            after_node = new_text(*after);
            link_after(node, after_node);
        }
        insert_oo_retarget(meta, node, before_node, after_node);
        before_text.reset();
        after_text.reset();
        IooNode_t *span = parent;
        if (node->prior) {
            IooNode_t *own = copy_after(span);
            move_into(own, node);
            span = own;
        }
        if (node->next) move_into(copy_after(span), node->next);
        *unit = node = span;
        parent = ioo_parent(span);
        if (!parent) assertion_failed(__FILE__, __LINE__, "tag2->parent");
    }
    if (parent->type != IOO_TAG_PAR) {
        mmessage(1, "Unable to insert Note; Unexpected content found within paragraph preceding Note insertion tag");
        return 0;
    }
    IooNode_t *par_before = nullptr, *par_after = nullptr, *holder = parent;
    if (node->prior || before_text) {
        IooNode_t *own = copy_after(parent);
        move_into(own, node);
        par_before = parent;
        holder = own;
    }
    if (node->next || after_text) {
        par_after = copy_after(holder);
        if (node->next) move_into(par_after, node->next);
    }
    if (before_text) {
        if (!par_before) assertion_failed(__FILE__, __LINE__, "par_before");
        before_node = new_text(*before_text);
        append_child(par_before, before_node);
    }
    if (after_text) {
        if (!par_after) assertion_failed(__FILE__, __LINE__, "par_after");
        after_node = new_text(*after_text);
        prepend_child(par_after, after_node);
    }
    if (before_text || after_text) insert_oo_retarget(meta, node, before_node, after_node);
    return 1;
}

int insert_oo_insert_note(NoteData_t *note, const InsertOoValue_t &value, IooNode_t *unit, InsertOoMeta_t *meta)
{
    if (!note->note) assertion_failed(__FILE__, __LINE__, "note_data->note");
    if (note->note->type == CM_GNOTE_NOTE_TYPE_AM)
        assertion_failed(__FILE__, __LINE__, "CM_GNOTE_NOTE_TYPE_AM != note_data->note->type");
    if (!unit->parent) assertion_failed(__FILE__, __LINE__, "tag->parent");
    IooNode_t *paragraph = unit->parent;
    if (!paragraph->attributes) assertion_failed(__FILE__, __LINE__, "attr");
    if (paragraph->attributes->next)
        mmessage(1, "Unable to insert Note because paragraph tag contains more than just the style name");
    if (paragraph->attributes->name != "text:style-name")
        mmessage(1, "Unable to insert Note because style name not found in paragraph tag");
    if (!paragraph->attributes->value) assertion_failed(__FILE__, __LINE__, "style_name");
    const std::string style = *paragraph->attributes->value;
    if (style.size() >= 32) Abort("insert_oo_insert_note: Buffer overflow");
    const int n = style_number(meta, style);

    Placer at;
    if (paragraph->prior) {
        at.point = paragraph->prior;
        paragraph->prior->next = paragraph->next;
        if (paragraph->next) paragraph->next->prior = paragraph->prior;
    } else {
        at.parent = paragraph->parent;
        at.parent->content = nullptr;
        at.follower = paragraph->next;
        if (at.follower) at.follower->prior = nullptr;
    }
    paragraph->next = paragraph->prior = paragraph->parent = nullptr;
    insert_oo_free_xml(paragraph);

    bool on = !value.tag_name || value.text.find(*value.tag_name) == std::string::npos;
    insert_oo_note_styles(meta);
    const bool compact = value.paragraph != 0;
    IooNode_t *amount_cell = nullptr, *amount_paragraph = nullptr;
    IooNode_t *table = nullptr;
    if (value.amount) {
        table = new_node("table:table");
        insert_oo_add_link_attr(table, "table:name", insert_oo_note_tbl_name(meta));
        insert_oo_add_link_attr(table, "table:style-name", quoted("OSKA_5f_TBL"));
        at.place(table);
        IooNode_t *a = insert_oo_add_child_tag(table, "table:table-column");
        insert_oo_add_link_attr(a, "table:style-name", quoted("OSKA_5f_TBL.A"));
        IooNode_t *b = insert_oo_add_link_tag(a, "table:table-column");
        insert_oo_add_link_attr(b, "table:style-name", quoted("OSKA_5f_TBL.B"));
        at.point = b;
    }
    // One row of the amount table: the paragraph's text and an empty amount paragraph.
    auto add_row = [&](std::string text) {
        IooNode_t *row = insert_oo_add_link_tag(at.point, "table:table-row");
        IooNode_t *cell = insert_oo_add_child_tag(row, "table:table-cell");
        insert_oo_add_link_attr(cell, "table:style-name", quoted(compact ? "OSKA_5f_TBL.A1.L" : "OSKA_5f_TBL.A1"));
        insert_oo_add_link_attr(cell, "office:value-type", quoted("string"));
        IooNode_t *p = insert_oo_add_child_tag(cell, "text:p");
        insert_oo_add_link_attr(p, "text:style-name", style);
        if (!text.empty()) insert_oo_add_child_tag(p, std::nullopt)->text = std::move(text);
        amount_cell = insert_oo_add_link_tag(cell, "table:table-cell");
        insert_oo_add_link_attr(amount_cell, "table:style-name", quoted(compact ? "OSKA_5f_TBL.B1.L" : "OSKA_5f_TBL.B1"));
        insert_oo_add_link_attr(amount_cell, "office:value-type", quoted("string"));
        amount_paragraph = insert_oo_add_child_tag(amount_cell, "text:p");
        insert_oo_add_link_attr(amount_paragraph, "text:style-name", numbered("OSKA_AMT", n));
        at.point = row;
    };
    auto add_paragraph = [&](const std::string &style_name, std::string text) {
        IooNode_t *p = new_node("text:p");
        insert_oo_add_link_attr(p, "text:style-name", style_name);
        if (!text.empty()) insert_oo_add_child_tag(p, std::nullopt)->text = std::move(text);
        at.place(p);
    };
    for (const NoteElement_t *e = note->note; e; e = e->next) {
        switch (e->type) {
        case CM_GNOTE_NOTE_TYPE_TAG:
            if (value.tag_name && e->tag.name && *value.tag_name == e->tag.name) on = !on;
            break;
        case CM_GNOTE_NOTE_TYPE_P:
            if (!on) break;
            if (value.amount) {
                add_row(insert_oo_note_get_xml_cdata(e, n));
            } else {
                const bool before_amount = e->next && e->next->type == CM_GNOTE_NOTE_TYPE_AM;
                add_paragraph(numbered(before_amount ? "OSKA_SGL" : "OSKA_STD", n), insert_oo_note_get_xml_cdata(e, n));
            }
            break;
        case CM_GNOTE_NOTE_TYPE_AM: {
            if (!on) break;
            std::unique_ptr<char, SallocFree> shown(gnote_format_amount(&e->am.value));
            if (!value.amount) {
                add_paragraph(numbered("OSKA_AMT", n), shown.get());
                break;
            }
            // An amount with no included paragraph before it gets a row of its own.
            if (!amount_paragraph || amount_paragraph->content) add_row({});
            insert_oo_add_child_tag(amount_paragraph, std::nullopt)->text = shown.get();
            if (static_cast<long long>(std::strtod(shown.get(), nullptr)) != 0) {
                // The value a reader takes as the cell's number: the plain decimal.
                char plain[64];
                NumericToASC(&e->am.value, plain, 63, 2);
                plain[63] = '\0';
                std::string number(plain);
                number.resize(number.find_last_not_of(' ') + 1);
                insert_oo_add_link_attr(amount_cell, "office:value-type", quoted("float"));
                insert_oo_add_link_attr(amount_cell, "office:value", quoted(number));
            }
            break;
        }
        default: Abort("Unexpected note type %d in note_xsl_oo", e->type);
        }
    }
    return 1;
}

int insert_oo_do_note_ins(IooNode_t *node, const InsertOoValue_t &value, std::string_view token, InsertOoMeta_t *meta)
{
    ScratchNote note;
    stop_on(gnote_parse_xml(&note.data, value.text.c_str(), static_cast<int>(value.paragraph)));
    std::optional<std::string> before, after;
    insert_oo_do_split(&before, &after, *node->text, token);
    IooNode_t *unit = nullptr;
    if (!insert_oo_split_parent_on_tag(meta, node, before, after, &unit)) return 0;
    return insert_oo_insert_note(&note.data, value, unit, meta);
}
