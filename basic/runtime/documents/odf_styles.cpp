// Automatic text styles for values inserted with style tags: each gets a style of its own, made
// from the enclosing paragraph's or span's style, filled with the font, size, weight, slant,
// underline and colours that its merged tags give for printing. See odf_insert.h.
#include <cstdio>
#include <memory>

#include "message.h"
#include "odf_insert.h"
#include "style_tags.h"

namespace {

#define IOO_ASSERT(condition, text)                                                                 \
    do {                                                                                            \
        if (!(condition)) assertion_failed(__FILE__, __LINE__, text);                               \
    } while (0)

struct TagFree {
    void operator()(PrintTag_t *tag) const { postscript_print_tag_free(tag); }
};

struct FontFace {
    const char *name;  // quoted, as the style refers to it
    const char *attributes[4][2];
};

constexpr FontFace font_faces[IOO_FONT_FAMILIES] = {
    {"\"Courier 10 Pitch\"",
     {{"style:name", "\"Courier 10 Pitch\""},
      {"svg:font-family", "\"&apos;Courier 10 Pitch&apos;\""},
      {"style:font-pitch", "\"fixed\""},
      {}}},
    {"\"Arial\"",
     {{"style:name", "\"Arial\""},
      {"svg:font-family", "\"Arial\""},
      {"style:font-family-generic", "\"swiss\""},
      {"style:font-pitch", "\"variable\""}}},
    {"\"Times New Roman\"",
     {{"style:name", "\"Times New Roman\""},
      {"svg:font-family", "\"&apos;Times New Roman&apos;\""},
      {"style:font-family-generic", "\"roman\""},
      {"style:font-pitch", "\"variable\""}}},
};

std::string insert_oo_convert_colour(int colour)
{
    char buffer[11];
    const int n = std::snprintf(buffer, sizeof buffer, "\"#%06x\"", static_cast<unsigned>(colour));
    if (n < 0 || n >= static_cast<int>(sizeof buffer)) Abort("insert_oo_convert_colour: Buffer overflow");
    return buffer;
}

std::string insert_oo_convert_size(int points)
{
    char buffer[11];
    const int n = std::snprintf(buffer, sizeof buffer, "\"%dpt\"", points);
    if (n < 0 || n >= static_cast<int>(sizeof buffer)) Abort("insert_oo_convert_size: Buffer overflow");
    return buffer;
}

// The ODF font of a print-family code; sets that font's used flag.
const char *insert_oo_convert_family(int family, bool *fonts_used)
{
    const int index = family == 1 ? 1 : family == 2 ? 2 : 0;
    fonts_used[index] = true;
    return font_faces[index].name;
}

void set_three(IooNode_t *props, const char *const (&names)[3], const std::string &value)
{
    for (const char *name : names) insert_oo_add_link_attr(props, name, value);
}

constexpr const char *weights[3] = {"fo:font-weight", "style:font-weight-asian", "style:font-weight-complex"};

IooNode_t *last_sibling(IooNode_t *node)
{
    while (node->next) node = node->next;
    return node;
}

IooAttr_t *style_name_of(IooNode_t *style)
{
    for (IooAttr_t *a = style->attributes; a; a = a->next)
        if (a->type == IOO_ATTR_NAME) return a;
    return nullptr;
}

// Whether an earlier request's style serves this one as well.
bool shares(const InsertOoTextAttr_t &earlier, const InsertOoTextAttr_t &request, const IooNode_t *element)
{
    if (earlier.tags != request.tags || ioo_parent(earlier.node)->type != element->type) return false;
    if (!earlier.old_style && !request.old_style) return true;
    if (!earlier.old_style || !request.old_style || *earlier.old_style != *request.old_style) return false;
    const bool text = earlier.type == IOO_TP_TEXT, other_text = request.type == IOO_TP_TEXT;
    return (text && other_text) || (!text && !other_text && earlier.negative == request.negative);
}

// A new automatic style for an element whose style is a common one, or none: of the element's
// family, deriving from that style, with empty text properties to be filled.
IooNode_t *derived_style(InsertOoMeta_t *meta, const IooNode_t *element, const std::optional<std::string> &base)
{
    IooNode_t *style = insert_oo_add_style(meta, "style:style");
    insert_oo_add_link_attr(style, "style:name", "\"\"");
    insert_oo_add_link_attr(style, "style:family", element->type == IOO_TAG_PAR ? "\"paragraph\"" : "\"text\"");
    if (base) insert_oo_add_link_attr(style, "style:parent-style-name", *base);
    insert_oo_add_child_tag(style, "style:text-properties");
    return style;
}

// The part's office:font-face-decls, among the children of the element holding the automatic
// styles. Office suites write styles.xml with office:styles between the font declarations and
// the automatic styles, so the declarations are found by name; a part without them gets them in
// their place, after office:scripts and before everything else.
IooNode_t *font_declarations(IooNode_t *automatic)
{
    IooNode_t *first = automatic;
    while (first->prior) first = first->prior;
    IooNode_t *after = nullptr;
    for (IooNode_t *c = first; c; c = c->next) {
        if (c->type == IOO_TAG_OFONTFDECLS) return c;
        if (c->type == IOO_TAG_OSCRIPTS) after = c;
    }
    if (after) return insert_oo_add_link_tag(after, "office:font-face-decls");
    IooNode_t *root = first->parent;
    IOO_ASSERT(root, "meta->styles->parent->prior");
    IooNode_t *decls = insert_oo_create_tag(IOO_TAG_OFONTFDECLS, "office:font-face-decls", 0);
    decls->next = first;
    first->prior = decls;
    first->parent = nullptr;
    decls->parent = root;
    root->content = decls;
    return decls;
}

} // namespace

void insert_oo_do_text_attributes(InsertOoMeta_t *meta)
{
    for (std::size_t i = 0; i < meta->attrs.size(); ++i) {
        InsertOoTextAttr_t &request = meta->attrs[i];
        IooNode_t *element = ioo_parent(request.node);
        IOO_ASSERT(element && (element->type == IOO_TAG_TEXT || element->type == IOO_TAG_PAR),
                   "(tag->parent) && ((tag->parent->type == IOO_TAG_TEXT) || (tag->parent->type == IOO_TAG_PAR))");
        if (IooAttr_t *attr1 = ioo_find_attr(element, "text:style-name"); attr1 && attr1->value)
            request.old_style = *attr1->value;
        IOO_ASSERT(!request.new_style, "!style->new_style");
        const InsertOoTextAttr_t *earlier = nullptr;
        for (std::size_t j = i; j-- > 0 && !earlier;)
            if (shares(meta->attrs[j], request, element)) earlier = &meta->attrs[j];
        if (earlier) {
            IooAttr_t *attr2 = style_name_of(earlier->new_style);
            IOO_ASSERT((attr2) && (attr2->type == IOO_ATTR_NAME), "(attr2) && (attr2->type == IOO_ATTR_NAME)");
            insert_oo_add_link_attr(element, "text:style-name", attr2->value);
            request.new_style = earlier->new_style;
            continue;
        }
        IooNode_t *source = nullptr;
        if (request.old_style)
            for (IooNode_t *s = meta->styles; s && !source; s = s->next) {
                if (s->text) continue;  // white space between the styles
                IooAttr_t *attr3 = style_name_of(s);
                IOO_ASSERT((attr3) && (attr3->type == IOO_ATTR_NAME), "(attr3) && (attr3->type == IOO_ATTR_NAME)");
                if (attr3->value == request.old_style) source = s;
            }
        IooNode_t *style;
        if (source) {
            style = insert_oo_link_style(meta, insert_oo_copy_tag1(source));
        } else {
            // A common style, or none: a new automatic style derives from it.
            style = derived_style(meta, element, request.old_style);
        }
        const std::string name =
            insert_oo_merge_print_attr(request.type, request.negative, style, ++meta->style_counter, *request.tags, meta->fonts_used);
        request.new_style = style;
        insert_oo_add_link_attr(element, "text:style-name", name);
    }
    for (int family = 0; family < IOO_FONT_FAMILIES; ++family)
        if (meta->fonts_used[family]) insert_oo_add_font_family(meta, family);
}

std::string insert_oo_merge_print_attr(std::uint32_t type, std::uint32_t negative, IooNode_t *style, int number,
                                       const InsertOoTagList &tags, bool *fonts_used)
{
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof buffer, "\"OSKA_TEXT%d\"", number);
    if (n < 0 || n >= static_cast<int>(sizeof buffer)) Abort("insert_oo_merge_print_attr: Buffer overflow");
    const std::string name = buffer;
    insert_oo_add_link_attr(style, "style:name", name);

    IooNode_t *sty = style->content;
    while (sty && sty->type != IOO_TAG_STYLE_TEXT_PROP && sty->next) sty = sty->next;
    IOO_ASSERT((sty) && ((sty->type == IOO_TAG_STYLE_TEXT_PROP) || (sty->type == IOO_TAG_STYLE_PAR_PROP)),
               "(sty) && ((sty->type == IOO_TAG_STYLE_TEXT_PROP) || (sty->type == IOO_TAG_STYLE_PAR_PROP))");
    IooNode_t *props = sty->type == IOO_TAG_STYLE_TEXT_PROP ? sty : insert_oo_add_link_tag(sty, "style:text-properties");

    IOO_ASSERT(!tags.empty(), "print");
    std::unique_ptr<PrintTag_t, TagFree> print(postscript_print_tag_copy(tags.front()));
    for (std::size_t i = 1; i < tags.size(); ++i) postscript_add_tag_value(print.get(), tags[i]);

    bool colour_done = false, weight_done = false;
    if (type == IOO_TP_NUMERIC || type == IOO_TP_MONEY) {
        if (negative) {
            if (print->print_neg_colour >= 0) {
                insert_oo_add_link_attr(props, "fo:color", insert_oo_convert_colour(print->print_neg_colour));
                colour_done = true;
            }
            if (print->print_neg_weight >= 0) {
                set_three(props, weights, print->print_neg_weight > 0 ? "\"bold\"" : "\"normal\"");
                weight_done = true;
            }
        }
    } else if (type != IOO_TP_TEXT) {
        Abort("Unexpected text type");
    }
    if (print->print_colour >= 0 && !colour_done)
        insert_oo_add_link_attr(props, "fo:color", insert_oo_convert_colour(print->print_colour));
    if (print->print_bg_colour >= 0)
        insert_oo_add_link_attr(props, "fo:background-color", insert_oo_convert_colour(print->print_bg_colour));
    if (print->print_size > 0)
        set_three(props, {"fo:font-size", "style:font-size-asian", "style:font-size-complex"},
                  insert_oo_convert_size(print->print_size));
    if (print->print_family >= 0) {
        const char *font = insert_oo_convert_family(print->print_family, fonts_used);
        insert_oo_add_link_attr(props, "style:font-name", font);
        insert_oo_add_link_attr(props, "style:font-name-complex", font);
    }
    if (print->print_style >= 0)
        set_three(props, {"fo:font-style", "style:font-style-asian", "style:font-style-complex"},
                  print->print_style > 0 ? "\"italic\"" : "\"normal\"");
    if (!weight_done && print->print_weight >= 0)
        set_three(props, weights, print->print_weight > 0 ? "\"bold\"" : "\"normal\"");
    if (print->print_underline > 0) {
        insert_oo_add_link_attr(props, "style:text-underline-style", "\"solid\"");
        insert_oo_add_link_attr(props, "style:text-underline-width", "\"auto\"");
        insert_oo_add_link_attr(props, "style:text-underline-color", "\"font-color\"");
    } else if (print->print_underline == 0) {
        insert_oo_add_link_attr(props, "style:text-underline-style", "\"none\"");
        insert_oo_add_unlink_attr(props, "style:text-underline-width");
        insert_oo_add_unlink_attr(props, "style:text-underline-color");
    }
    return name;
}

void insert_oo_add_font_family(InsertOoMeta_t *meta, int family)
{
    if (family < 0 || family >= IOO_FONT_FAMILIES) Abort("Unexpected font family");
    IOO_ASSERT(meta->styles, "meta->styles");
    IooNode_t *automatic = ioo_parent(meta->styles);
    IOO_ASSERT(automatic, "meta->styles->parent");
    IooNode_t *decls = font_declarations(automatic);
    const FontFace &face = font_faces[family];
    IooNode_t *added;
    if (IooNode_t *tag = decls->content) {
        for (;; tag = tag->next) {
            const IooAttr_t *first = tag->attributes;
            if (first && first->type == IOO_ATTR_NAME && first->value == face.name) return;
            if (!tag->next) break;
        }
        IOO_ASSERT(!tag->next, "!tag->next");
        added = insert_oo_add_link_tag(tag, "style:font-face");
    } else {
        added = insert_oo_add_child_tag(decls, "style:font-face");
    }
    for (const auto &attribute : face.attributes)
        if (attribute[0]) insert_oo_add_link_attr(added, attribute[0], attribute[1]);
}

IooNode_t *insert_oo_last_style(const InsertOoMeta_t *meta)
{
    if (meta->styles) return last_sibling(meta->styles);
    return meta->automatic && meta->automatic->content ? last_sibling(meta->automatic->content) : nullptr;
}

IooNode_t *insert_oo_link_style(InsertOoMeta_t *meta, IooNode_t *style)
{
    style->parent = nullptr;
    if (IooNode_t *last = insert_oo_last_style(meta)) {
        style->next = last->next;
        if (last->next) last->next->prior = style;
        last->next = style;
        style->prior = last;
        return style;
    }
    IOO_ASSERT(meta->automatic, "meta->styles");
    meta->automatic->content = style;
    style->parent = meta->automatic;
    meta->automatic->open = 0;
    meta->styles = style;
    return style;
}

IooNode_t *insert_oo_add_style(InsertOoMeta_t *meta, std::string_view name)
{
    return insert_oo_link_style(meta, insert_oo_create_tag(insert_oo_set_tag_type(name), name, 0));
}
