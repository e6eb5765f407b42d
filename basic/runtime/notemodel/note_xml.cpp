// The note XML string: a small fixed dialect, not general XML. Elements, attributes and their
// order are fixed and nothing stands between elements; the reader returns any deviation as an
// error, and its callers stop the run with it. The writer only writes what its own reader reads
// back. See note_model.h.
#include "note_model.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"

using namespace std::string_view_literals;

namespace {

constexpr std::string_view NOTE_START = "<note ver"sv;
constexpr std::string_view EMPTY_PARAGRAPH = "<p datatype=\"P\" position=\"0\"><![CDATA[]]></p>"sv;
constexpr std::size_t ELEMENT_NAME_SCAN = 5;  // a name of at most 4 characters and its blank
constexpr std::size_t ATTR_NAME_MAX = 31;
constexpr std::size_t ATTR_VALUE_MAX = 255;
constexpr std::size_t ATTR_TEXT_MAX = 535;
constexpr std::size_t TAG_WINDOW = GNOTE_TAG_TEXT_MAX + "</tag>"sv.size();
constexpr std::size_t AMOUNT_WINDOW = GNOTE_AMOUNT_TEXT_MAX + "</am>"sv.size();
// How many elements, pieces or marks the reader goes through between two calls of its safe point.
constexpr std::size_t SAFE_POINT_EVERY = 4096;

// Calls the safe point every SAFE_POINT_EVERY calls of step.
struct SafePointCount {
    std::size_t count = 0;
    void step()
    {
        if (++count % SAFE_POINT_EVERY == 0 && gnote_parse_safe_point) gnote_parse_safe_point();
    }
};

// The numbers two messages name after their '@': once the source lines of their stops, kept as
// they were so that moving code does not change what a program is told.
constexpr int DATATYPE_MESSAGE_LINE = 319;
constexpr int NOTE_TYPE_MESSAGE_LINE = 489;

// Wide enough for any decimal in fixed form with two decimals, so a value too long for the
// amount's field is seen whole and refused instead of cut.
constexpr int AMOUNT_SCRATCH = 200;

char *new_text(std::string_view text)
{
    auto *copy = static_cast<char *>(salloc(text.size() + 1));
    if (!text.empty()) std::memcpy(copy, text.data(), text.size());
    return copy;
}

// ---- Writing ---------------------------------------------------------------------------------

// The note string being written, in a block of its own that is handed over as it is (a note may
// be megabytes long, and a last copy would cost as much as a good part of the writing).
class NoteText {
public:
    explicit NoteText(std::size_t capacity)
        : capacity_(std::max<std::size_t>(capacity, 64)), data_(static_cast<char *>(srealloc(nullptr, capacity_ + 1)))
    {
    }
    ~NoteText() { sfree(data_); }
    NoteText(const NoteText &) = delete;
    NoteText &operator=(const NoteText &) = delete;

    NoteText &operator+=(std::string_view text)
    {
        if (text.size() > capacity_ - size_) {
            capacity_ = std::max(capacity_ * 2, size_ + text.size());
            data_ = static_cast<char *>(srealloc(data_, capacity_ + 1));
        }
        std::memcpy(data_ + size_, text.data(), text.size());
        size_ += text.size();
        return *this;
    }
    void append(std::string_view text, std::size_t from, std::size_t count) { *this += text.substr(from, count); }
    char *release()
    {
        data_[size_] = '\0';
        return std::exchange(data_, nullptr);
    }

private:
    std::size_t capacity_, size_ = 0;
    char *data_;
};

// Appends text[from, to) with '&', '<' and '>' escaped. *special is the position of the first of
// those at or after from (text's length when there is none), kept by the caller across calls so
// that the text is searched once however many marks split it.
template <class Out>
void append_escaped(Out &out, std::string_view text, std::size_t from, std::size_t to, std::size_t *special)
{
    while (*special < to) {
        const char c = text[*special];
        out.append(text, from, *special - from);
        out += c == '&' ? "&amp;"sv : c == '<' ? "&lt;"sv : "&gt;"sv;
        from = *special + 1;
        // The text is NUL-terminated; the C library's search is much faster than a byte loop.
        *special = from + std::strcspn(text.data() + from, "&<>");
    }
    out.append(text, from, to - from);
}

// One kind's runs as they are marked: in order, not empty, inside the text and clear of the run
// before; a run still open ends at the end of the text. Runs recorded otherwise (an empty run
// would be closed before it is opened) would give marks that the reader refuses. The writer keeps
// one set of these for all its paragraphs.
struct WrittenRuns {
    std::vector<std::int32_t> start, end;

    void take(const std::int32_t *starts, const std::int32_t *ends, int count, std::int32_t length)
    {
        start.clear();
        end.clear();
        if (!starts || !ends) return;
        std::int32_t floor = 0;
        for (int i = 0; i < count; ++i) {
            const std::int32_t s = std::max(starts[i], floor);
            const std::int32_t e = ends[i] < 0 || ends[i] > length ? length : ends[i];
            if (s >= e) continue;
            start.push_back(s);
            end.push_back(e);
            floor = e;
        }
    }
};
using ParagraphRuns = std::array<WrittenRuns, 3>;  // bold, italic, underline

// Appends the escaped, marked-up content of a paragraph.
template <class Out> void append_cdata(Out &out, const NoteElement_t *element, ParagraphRuns &runs)
{
    const NoteParagraph_t &p = element->p;
    const std::string_view text = p.text ? p.text : "";
    const auto length = static_cast<std::int32_t>(text.size());
    runs[0].take(p.bold_start, p.bold_end, p.bold_count, length);
    runs[1].take(p.italic_start, p.italic_end, p.italic_count, length);
    runs[2].take(p.underline_start, p.underline_end, p.underline_count, length);
    static constexpr std::string_view opening[3] = {"<b>", "<i>", "<u>"};
    static constexpr std::string_view closing[3] = {"</b>", "</i>", "</u>"};
    int open[3] = {0, 0, 0};
    int index[3];
    for (int k = 0; k < 3; ++k) index[k] = runs[k].start.empty() ? -1 : 0;

    // The next byte at which some kind's mark may be due.
    auto next_mark = [&] {
        std::int32_t next = length;
        for (int k = 0; k < 3; ++k)
            if (index[k] >= 0) next = std::min(next, open[k] ? runs[k].end[index[k]] : runs[k].start[index[k]]);
        return next;
    };
    std::int32_t at = 0;
    std::size_t special = std::strcspn(text.data(), "&<>");
    while (at < length) {
        for (int k = 0; k < 3; ++k)
            if (gnote_get_xml_cdata_format(&open[k], runs[k].end.data(), static_cast<int>(runs[k].end.size()),
                                           &index[k], at))
                out += closing[k];
        for (int k = 0; k < 3; ++k)
            if (gnote_get_xml_cdata_format(&open[k], runs[k].start.data(), static_cast<int>(runs[k].start.size()),
                                           &index[k], at))
                out += opening[k];
        const std::int32_t next = std::max(next_mark(), at + 1);
        append_escaped(out, text, at, next, &special);
        at = next;
    }
    for (int k = 0; k < 3; ++k)
        if (open[k]) out += closing[k];
}

std::string_view bool_text(std::int32_t flag)
{
    return flag ? "true"sv : "false"sv;
}

void append_paragraph(NoteText &out, ParagraphRuns &runs, const NoteElement_t *element)
{
    const NoteParagraph_t &p = element->p;
    const std::string_view datatype(p.datatype, strnlen(p.datatype, sizeof p.datatype));
    if (datatype != "P" && datatype != "H")
        Abort("gnote_get_xml: Unexpected datatype '%.*s' of a paragraph", static_cast<int>(datatype.size()),
              datatype.data());
    if (p.position != 0) Abort("gnote_get_xml: Unexpected position %d of a paragraph", p.position);
    out += "<p datatype=\""sv;
    out += datatype;
    out += "\" position=\"0\"><![CDATA["sv;
    append_cdata(out, element, runs);
    out += "]]></p>"sv;
}

void append_amount(NoteText &out, const NoteElement_t *element)
{
    const NoteAmount_t &am = element->am;
    char value[AMOUNT_SCRATCH + 1];
    NumericToASC(&am.value, value, AMOUNT_SCRATCH, 2);
    value[AMOUNT_SCRATCH] = '\0';
    gnote_trim(value);
    if (std::strlen(value) > GNOTE_AMOUNT_TEXT_MAX)
        Abort("gnote_get_xml: The amount %s does not fit in %d characters", value, GNOTE_AMOUNT_TEXT_MAX);
    out += "<am required=\""sv;
    out += bool_text(am.required);
    out += "\" next=\""sv;
    out += bool_text(am.next);
    out += "\" protect=\""sv;
    out += bool_text(am.protect);
    out += "\" orsec=\""sv;
    out += std::to_string(am.orsec);
    out += "\" orsecvalue=\""sv;
    out += std::to_string(am.orsecvalue);
    out += "\">"sv;
    out += value;
    out += "</am>"sv;
}

void append_tag(NoteText &out, const NoteElement_t *element)
{
    const NoteTag_t &tag = element->tag;
    gnote_check_tag(tag.name, tag.text);
    out += "<tag name=\""sv;
    out += tag.name ? tag.name : "";
    out += "\" start=\""sv;
    out += bool_text(tag.start);
    out += "\">"sv;
    out += tag.text ? tag.text : "";
    out += "</tag>"sv;
}

// ---- Reading ---------------------------------------------------------------------------------

// Frees a list of elements that no record holds.
void free_list(NoteElement_t *list)
{
    NoteData_t holder{};
    holder.note = list;
    gnote_free_xml(&holder);
}

// The list being read, its elements note_data's but not linked to it, appended at its end; freed
// unless it is taken, so a note that does not read leaves nothing behind.
class ListBuilder {
public:
    explicit ListBuilder(NoteData_t *note_data) : note_data_(note_data) {}
    ~ListBuilder() { free_list(head_); }
    ListBuilder(const ListBuilder &) = delete;
    ListBuilder &operator=(const ListBuilder &) = delete;

    NoteElement_t *append(const char *kind)
    {
        return tail_ = note_append(&head_, tail_, gmenu_parse_xml_add_tag(note_data_, kind));
    }
    NoteData_t *owner() const { return note_data_; }
    NoteElement_t *head() const { return head_; }
    NoteElement_t *release()
    {
        tail_ = nullptr;
        return std::exchange(head_, nullptr);
    }

private:
    NoteData_t *note_data_;
    NoteElement_t *head_ = nullptr, *tail_ = nullptr;
};

NoteElement_t *new_empty_paragraph(NoteData_t *note_data)
{
    NoteElement_t *element = gmenu_parse_xml_add_tag(note_data, "p");
    element->p.text = new_text({});
    return element;
}

// Cuts the paragraphs of list (elements of note_data) at blank lines and, with compact 0, adds
// the separating empty paragraphs; elements only come after others, so list stays its head.
void split_paragraphs(NoteData_t *note_data, NoteElement_t *list, int compact)
{
    SafePointCount safe_point;
    for (NoteElement_t *element = list; element; element = element->next) {
        safe_point.step();
        if (element->type != CM_GNOTE_NOTE_TYPE_P || !element->p.text) continue;
        char *cut = std::strstr(element->p.text, "\n\n");
        if (!cut) continue;
        // Each piece after a blank line becomes a paragraph of its own, without runs; the pieces
        // hold no blank line, so the walk goes on after the last of them.
        const std::string whole = element->p.text;
        const std::size_t first = cut - element->p.text;
        element->p.text = static_cast<char *>(srealloc(element->p.text, first + 1));
        element->p.text[first] = '\0';
        std::string_view rest = std::string_view(whole).substr(first + 2);
        for (;;) {
            safe_point.step();
            const std::size_t next = rest.find("\n\n"sv);
            NoteElement_t *piece = gmenu_parse_xml_add_tag(note_data, "p");
            piece->p.text = new_text(rest.substr(0, next));
            note_link_after(element, piece);
            element = piece;
            if (next == std::string_view::npos) break;
            rest.remove_prefix(next + 2);
        }
    }
    if (compact) return;
    NoteElement_t *last = nullptr;
    for (NoteElement_t *element = list; element; element = element->next) {
        if (element->type == CM_GNOTE_NOTE_TYPE_AM && element->next && element->next->type == CM_GNOTE_NOTE_TYPE_AM)
            note_link_after(element, new_empty_paragraph(note_data));
        last = element;
    }
    if (last && last->type != CM_GNOTE_NOTE_TYPE_P) note_link_after(last, new_empty_paragraph(note_data));
}

// An error a step found in the part of the note string that view is, whose offset counts from
// view's start, with its offset counted from the string's start (base).
ReadError rebased(ReadError error, const char *base, std::string_view view)
{
    error.offset += static_cast<std::size_t>(view.data() - base);
    return error;
}

// One attribute of an element, read from the front of its attribute text.
struct Attribute {
    char name[ATTR_NAME_MAX + 1];
    char value[ATTR_VALUE_MAX + 1];
    std::size_t name_at = 0, value_at = 0;  // offsets in the note string
    bool more = false;                      // another attribute follows

    ReadError read(std::string_view &attributes, const char *base)
    {
        const std::string_view from = attributes;
        if (ReadError error = gnote_parse_xml_attr(&attributes, name, value, &more)) return rebased(error, base, from);
        name_at = static_cast<std::size_t>(from.data() - base);
        value_at = name_at + std::strlen(name) + "=\""sv.size();
        return {};
    }
};

ReadError boolean_value(const Attribute &a, const char *attribute, std::int32_t *flag)
{
    if (std::strcmp(a.value, "true") == 0) {
        *flag = 1;
        return {};
    }
    if (std::strcmp(a.value, "false") == 0) {
        *flag = 0;
        return {};
    }
    return read_error(GNOTE_READ_VALUE, a.value_at, "gnote_parse_xml: Unexpected value '%s' for the %s attribute",
                      a.value, attribute);
}

// An optional '-' and digits, within 32 bits.
ReadError integer_value(const Attribute &a, const char *attribute, std::int32_t *number)
{
    std::int32_t n = 0;
    const char *end = a.value + std::strlen(a.value);
    const auto [ptr, error] = std::from_chars(a.value, end, n);
    if (error != std::errc() || ptr != end || *a.value == '+')
        return read_error(GNOTE_READ_VALUE, a.value_at, "gnote_parse_xml: Unexpected value '%s' for the %s attribute",
                          a.value, attribute);
    *number = n;
    return {};
}

// A paragraph read empty under compact 1, kept back until an amount shows it is the one
// separating two amounts.
struct Pending {
    bool held = false;
    char datatype[4] = {};
    std::size_t name_at = 0;  // the offset of its element's name
};

// The reading of one note string's elements into a list. Each element's reader is called with the
// element's start tag read (name and attribute text) and text just past it, and moves text past
// the element. What they append is in the builder's list only, which goes when the note does not
// read, so an element is appended as soon as it is known and filled as it is read.
struct ElementReader {
    ListBuilder &list;
    const char *base;  // the note string, from which offsets count
    int compact;
    Pending pending;

    std::size_t at(std::string_view text) const { return static_cast<std::size_t>(text.data() - base); }

    // A paragraph of the datatype read; one read without a datatype would be an element of no
    // kind, which the element maker refuses with this text.
    ReadError append_paragraph(const char *datatype, std::size_t name_at, NoteElement_t **paragraph)
    {
        if (!datatype[0])
            return read_error(GNOTE_READ_ATTRIBUTE, name_at, "gmenu_parse_xml_add: Tag type not yet coded @ %d",
                              GNOTE_UNKNOWN_KIND_LINE);
        *paragraph = list.append(datatype);
        std::strcpy((*paragraph)->p.datatype, datatype);
        return {};
    }

    ReadError tag(const char *name, std::size_t name_at, std::string_view attributes, std::string_view &text)
    {
        if (std::strcmp(name, "tag") != 0)
            return read_error(GNOTE_READ_ELEMENT, name_at, "Unexpected tag encountered: %s", name);
        NoteElement_t *tag = list.append("tag");
        Attribute a;
        for (int n = 1; !attributes.empty(); ++n) {
            if (ReadError error = a.read(attributes, base)) return error;
            if (n == 1) {
                if (std::strcmp(a.name, "name") != 0)
                    return read_error(GNOTE_READ_ATTRIBUTE, a.name_at,
                                      "gnote_parse_xml: Unexpected attribute in the 'tag' text tag");
                tag->tag.name = new_text(a.value);
            } else if (n == 2) {
                if (std::strcmp(a.name, "start") != 0)
                    return read_error(GNOTE_READ_ATTRIBUTE, a.name_at,
                                      "gnote_parse_xml: Unexpected attribute in the 'tag' text tag");
                if (ReadError error = boolean_value(a, "start", &tag->tag.start)) return error;
            } else {
                return read_error(GNOTE_READ_ATTRIBUTE, a.name_at,
                                  "gnote_parse_xml: Too many parameters to the 'tag' text tag");
            }
        }
        const std::size_t close = text.substr(0, TAG_WINDOW).find("</tag>"sv);
        if (close == std::string_view::npos)
            return read_error(GNOTE_READ_UNCLOSED, at(text), "gnote_parse_xml: Closing 'tag' text tag not found");
        tag->tag.text = new_text(text.substr(0, close));
        text.remove_prefix(close + "</tag>"sv.size());
        pending.held = false;
        return {};
    }

    ReadError paragraph(const char *name, std::size_t name_at, std::string_view attributes, std::string_view &text)
    {
        if (std::strcmp(name, "p") != 0)
            return read_error(GNOTE_READ_ELEMENT, name_at, "Unexpected tag encountered: %s", name);
        char datatype[4] = {};
        Attribute a;
        for (int n = 1; !attributes.empty(); ++n) {
            if (ReadError error = a.read(attributes, base)) return error;
            if (n == 1) {
                if (std::strcmp(a.name, "datatype") != 0)
                    return read_error(GNOTE_READ_ATTRIBUTE, a.name_at,
                                      "gnote_parse_xml: Unexpected attribute in the 'p' tag");
                if (std::strcmp(a.value, "P") != 0 && std::strcmp(a.value, "H") != 0)
                    return read_error(GNOTE_READ_VALUE, a.value_at,
                                      "gnote_parse_xml: Unexpected value '%s' for the datatype attribute @ %d", a.value,
                                      DATATYPE_MESSAGE_LINE);
                std::strcpy(datatype, a.value);
            } else if (n == 2) {
                if (std::strcmp(a.name, "position") != 0)
                    return read_error(GNOTE_READ_ATTRIBUTE, a.name_at,
                                      "gnote_parse_xml: Unexpected attribute in the 'p' tag");
                if (std::strcmp(a.value, "0") != 0)
                    return read_error(GNOTE_READ_VALUE, a.value_at,
                                      "gnote_parse_xml: Unexpected value '%s' for the position attribute", a.value);
            } else {
                return read_error(GNOTE_READ_ATTRIBUTE, a.name_at,
                                  "gnote_parse_xml: Too many attributes in the 'p' tag");
            }
        }
        if (!text.starts_with("<![CDATA["sv))
            return read_error(GNOTE_READ_UNCLOSED, at(text),
                              "gnote_parse_xml: Failed to find a 'CDATA' tag within a 'p' tag");
        text.remove_prefix("<![CDATA["sv.size());
        const std::size_t end = text.find("]]>"sv);
        if (end == std::string_view::npos)
            return read_error(GNOTE_READ_UNCLOSED, at(text), "gnote_parse_xml: 'CDATA' end tag not found");
        const std::string_view content = text.substr(0, end);
        text.remove_prefix(end + "]]>"sv.size());
        if (!text.starts_with("</p>"sv))
            return read_error(GNOTE_READ_UNCLOSED, at(text), "gnote_parse_xml: Failed to find closing 'p' tag");
        text.remove_prefix("</p>"sv.size());
        if (!content.empty() || !compact) {
            NoteElement_t *paragraph = nullptr;
            if (ReadError error = append_paragraph(datatype, name_at, &paragraph)) return error;
            paragraph->p.position = 0;
            if (ReadError error = gnote_parse_xml_cdata(paragraph, content, &paragraph->p.text))
                return rebased(error, base, content);
            pending.held = false;
        } else {
            pending.held = true;
            std::strcpy(pending.datatype, datatype);
            pending.name_at = name_at;
        }
        return {};
    }

    ReadError amount(const char *name, std::size_t name_at, std::string_view attributes, std::string_view &text)
    {
        if (std::strcmp(name, "am") != 0)
            return read_error(GNOTE_READ_ELEMENT, name_at, "Unexpected tag encountered: %s", name);
        if (pending.held) {
            NoteElement_t *paragraph = nullptr;
            if (ReadError error = append_paragraph(pending.datatype, pending.name_at, &paragraph)) return error;
            paragraph->p.text = new_text({});
            pending.held = false;
        }
        NoteAmount_t &am = list.append("am")->am;
        static constexpr const char *names[] = {"required", "next", "protect", "orsec", "orsecvalue"};
        std::int32_t *const fields[] = {&am.required, &am.next, &am.protect, &am.orsec, &am.orsecvalue};
        Attribute a;
        for (int n = 0; !attributes.empty(); ++n) {
            if (ReadError error = a.read(attributes, base)) return error;
            if (n >= 5)
                return read_error(GNOTE_READ_ATTRIBUTE, a.name_at,
                                  "gnote_parse_xml: Too many parameters to the 'am' tag");
            if (std::strcmp(a.name, names[n]) != 0)
                return read_error(GNOTE_READ_ATTRIBUTE, a.name_at,
                                  "gnote_parse_xml: Unexpected attribute in the 'am' tag");
            if (ReadError error = n < 3 ? boolean_value(a, names[n], fields[n]) : integer_value(a, names[n], fields[n]))
                return error;
        }
        const std::size_t close = text.substr(0, AMOUNT_WINDOW).find("</am>"sv);
        if (close == std::string_view::npos)
            return read_error(GNOTE_READ_UNCLOSED, at(text), "gnote_parse_xml: Closing 'am' tag not found");
        if (close > 0) {
            NumericCvASC(text.data(), static_cast<int>(close), &am.value);
            if (am.value.dec_pos == DECPOSNULL) NumericCvINT(0, &am.value);
        }
        text.remove_prefix(close + "</am>"sv.size());
        return {};
    }
};

// Runs of one kind being decoded: opened and ended as gnote_add_format_tag_position and
// gnote_end_format_tag_position do, with the same messages, but kept in vectors until the end so
// that many runs cost no more than a few, and stored only when the whole content reads. The
// vectors are the caller's, kept from paragraph to paragraph, so a note of many paragraphs does
// not allocate them again for each.
struct DecodedRuns {
    const char *kind;
    std::int32_t **start_array, **end_array, *count;
    std::vector<std::int32_t> &start, &end;
    bool open = false;

    DecodedRuns(const char *kind, std::int32_t **start_array, std::int32_t **end_array, std::int32_t *count,
                std::vector<std::int32_t> (&scratch)[2])
        : kind(kind), start_array(start_array), end_array(end_array), count(count), start(scratch[0]), end(scratch[1])
    {
        start.clear();
        end.clear();
        if (*start_array && *end_array && *count > 0) {
            start.assign(*start_array, *start_array + *count);
            end.assign(*end_array, *end_array + *count);
        }
    }
    // A mark at byte offset in the content, at byte at of the decoded text.
    ReadError begin(std::int32_t at, std::size_t offset)
    {
        if (open)
            return read_error(GNOTE_READ_RUN_MARK, offset, "Unexpected mismatch in start and end %s format tags %d",
                              kind, at);
        start.push_back(at);
        end.push_back(-1);
        open = true;
        return {};
    }
    ReadError finish(std::int32_t at, std::size_t offset)
    {
        if (!open)
            return read_error(GNOTE_READ_RUN_MARK, offset, "Unexpected mismatch in end and start %s format tags %d",
                              kind, at);
        end.back() = at;
        open = false;
        return {};
    }
    // At the end of the content (its length is offset).
    ReadError check(std::size_t offset) const
    {
        if (open) return read_error(GNOTE_READ_RUN_MARK, offset, "Missing paragraph close %s format tag", kind);
        return {};
    }
    void store()
    {
        if (start.size() == static_cast<std::size_t>(std::max(*count, 0))) return;
        sfree(*start_array);
        sfree(*end_array);
        *start_array = static_cast<std::int32_t *>(salloc(sizeof(std::int32_t) * start.size()));
        *end_array = static_cast<std::int32_t *>(salloc(sizeof(std::int32_t) * end.size()));
        std::copy(start.begin(), start.end(), *start_array);
        std::copy(end.begin(), end.end(), *end_array);
        *count = static_cast<std::int32_t>(start.size());
    }
};

// Reads string into list: gnote_read_xml's work.
ReadError read_note(ListBuilder &list, const char *string, int compact)
{
    NoteData_t *note_data = list.owner();
    std::string_view text = string ? string : "";
    const char *base = text.data();
    if (!text.starts_with(NOTE_START)) {
        // Plain text, taken as it is.
        list.append("p")->p.text = new_text(text);
        split_paragraphs(note_data, list.head(), compact);
        return {};
    }
    char name[32];
    std::string_view attributes;
    bool end = false;
    if (ReadError error = gnote_parse_xml_tag(&text, name, &attributes, &end)) return error;
    if (std::strcmp(name, "note") != 0)
        return read_error(GNOTE_READ_NOTE, 1, "Unexpected first level tag encountered: %s", name);
    Attribute a;
    if (ReadError error = a.read(attributes, base)) return error;
    if (std::strcmp(a.name, "ver") == 0) {
        std::int32_t version = 0;
        if (ReadError error = integer_value(a, "ver", &version)) return error;
        if (version != 1)
            return read_error(GNOTE_READ_NOTE, a.value_at, "gnote_parse_xml: Unexpected version number %d", version);
    }
    if (a.more)
        return read_error(GNOTE_READ_NOTE, static_cast<std::size_t>(attributes.data() - base),
                          "gnote_parse_xml: Unexpected attribute in the note tag");

    ElementReader reader{list, base, compact, {}};
    SafePointCount safe_point;
    while (!text.empty()) {
        safe_point.step();
        const std::string_view element = text;
        if (ReadError error = gnote_parse_xml_tag(&text, name, &attributes, &end)) return rebased(error, base, element);
        if (end) break;  // "</note"
        const std::size_t name_at = reader.at(element) + 1;
        ReadError error;
        switch (name[0]) {
        case 't':
            error = reader.tag(name, name_at, attributes, text);
            break;
        case 'p':
            error = reader.paragraph(name, name_at, attributes, text);
            break;
        case 'a':
            error = reader.amount(name, name_at, attributes, text);
            break;
        case '/':
            // A name read here has at most 4 characters, so it is never the note's end mark.
            return read_error(GNOTE_READ_ELEMENT, reader.at(element),
                              "gnote_parse_xml: Unexpected close tag encountered '%s'", name);
        default:
            return read_error(GNOTE_READ_ELEMENT, name_at, "Unexpected tag encountered: %s", name);
        }
        if (error) return error;
    }
    split_paragraphs(note_data, list.head(), compact);
    return {};
}

} // namespace

// ---- Writer ------------------------------------------------------------------------------------

int gnote_get_xml_cdata_format(int *open, const std::int32_t *positions, int count, int *index, int at)
{
    if (*index < 0 || positions[*index] != at) return 0;
    if (*open) {
        *open = 0;
        if (++*index >= count) *index = -1;
    } else {
        *open = 1;
    }
    return 1;
}

std::string &gnote_get_xml_cdata(std::string &buffer, const NoteElement_t *element)
{
    ParagraphRuns runs;
    buffer.clear();
    append_cdata(buffer, element, runs);
    return buffer;
}

char *gnote_trim(char *string)
{
    std::size_t n = std::strlen(string);
    while (n > 0 && g_ascii_isspace(string[n - 1])) --n;
    string[n] = '\0';
    return string;
}

char *gnote_get_xml(NoteData_t *note_data)
{
    // An empty note is one empty paragraph: the form the reader gives back as an empty note.
    if (note_data->note) PROGRAM_ASSERT(CM_GNOTE_NOTE_TYPE_AM != note_data->note->type);
    if (note_data->version != 1) Abort("Unexpected Note version number %d", note_data->version);
    // Room for the texts with a little escaping and the elements' frames, so the string rarely
    // grows.
    std::size_t estimate = 64;
    for (const NoteElement_t *element = note_data->note; element; element = element->next) {
        const bool paragraph = element->type == CM_GNOTE_NOTE_TYPE_P || element->type == CM_GNOTE_NOTE_TYPE_HIDE;
        const std::size_t text = paragraph && element->p.text ? std::strlen(element->p.text) : 0;
        estimate += 128 + text + text / 8;
    }
    NoteText out(estimate);
    out += "<note ver=\"1\">"sv;
    if (!note_data->note) out += EMPTY_PARAGRAPH;
    ParagraphRuns runs;
    for (const NoteElement_t *element = note_data->note; element; element = element->next) {
        switch (element->type) {
        case CM_GNOTE_NOTE_TYPE_P:
        case CM_GNOTE_NOTE_TYPE_HIDE:
            append_paragraph(out, runs, element);
            break;
        case CM_GNOTE_NOTE_TYPE_AM:
            append_amount(out, element);
            break;
        case CM_GNOTE_NOTE_TYPE_TAG:
            append_tag(out, element);
            break;
        default:
            Abort("Unexpected note type %d in gnote_get_xml @ %d", element->type, NOTE_TYPE_MESSAGE_LINE);
        }
    }
    out += "</note>"sv;
    return out.release();
}

// ---- Reader ------------------------------------------------------------------------------------

ReadError gnote_parse_xml_tag(std::string_view *text, char *name, std::string_view *attributes, bool *end)
{
    const std::string_view t = *text;
    // The views are always the tail of the note string, so their data ends with its terminator.
    if (t.empty() || t[0] != '<')
        return read_error(GNOTE_READ_START_TAG, 0, "gnote_parse_xml_tag: Expecting an open tag, found \"%s\"",
                          t.data());
    const std::size_t blank = t.substr(1, ELEMENT_NAME_SCAN).find(' ');
    if (blank == std::string_view::npos) {
        if (t.substr(1).starts_with("/note"sv)) {
            *end = true;
            return {};
        }
        const std::string_view read = t.substr(1, ELEMENT_NAME_SCAN);
        return read_error(GNOTE_READ_START_TAG, 1, "gnote_parse_xml_tag: Name too long %.*s",
                          static_cast<int>(read.size()), read.data());
    }
    char found[ELEMENT_NAME_SCAN];
    std::memcpy(found, t.data() + 1, blank);
    found[blank] = '\0';
    const std::size_t rest_at = 1 + blank + 1;
    const std::string_view rest = t.substr(rest_at);
    const std::size_t close = rest.substr(0, ATTR_TEXT_MAX + 1).find('>');
    if (close == std::string_view::npos && rest.size() > ATTR_TEXT_MAX)
        return read_error(GNOTE_READ_START_TAG, rest_at, "gnote_parse_xml_tag: Attribute text too long in a '%s' tag",
                          found);
    std::memcpy(name, found, blank + 1);
    *end = false;
    if (close == std::string_view::npos) {
        // The string ends inside the start tag: what follows decides whether that is an error.
        *attributes = rest;
        *text = rest.substr(rest.size());
    } else {
        *attributes = rest.substr(0, close);
        *text = rest.substr(close + 1);
    }
    return {};
}

ReadError gnote_parse_xml_attr(std::string_view *attributes, char *name, char *value, bool *more)
{
    const std::string_view a = *attributes;
    const std::size_t equals = a.substr(0, ATTR_NAME_MAX + 1).find('=');
    if (equals == std::string_view::npos) {
        if (a.size() > ATTR_NAME_MAX)
            return read_error(GNOTE_READ_ATTRIBUTE_FORM, 0, "gnote_parse_xml_attr: Attribute name too long");
        return read_error(GNOTE_READ_ATTRIBUTE_FORM, 0, "gnote_parse_xml_attr: Failed to find '=' in the arrtibute");
    }
    char found[ATTR_NAME_MAX + 1];
    std::memcpy(found, a.data(), equals);
    found[equals] = '\0';
    if (a.size() <= equals + 1 || a[equals + 1] != '"')
        return read_error(GNOTE_READ_ATTRIBUTE_FORM, equals + 1,
                          "gnote_parse_xml_attr: Failed to find '\"' following a '=' in the arrtibute");
    const std::size_t value_at = equals + 2;
    const std::string_view rest = a.substr(value_at);
    const std::size_t quote = rest.substr(0, ATTR_VALUE_MAX + 1).find('"');
    if (quote == std::string_view::npos) {
        if (rest.size() > ATTR_VALUE_MAX)
            return read_error(GNOTE_READ_ATTRIBUTE_FORM, value_at,
                              "gnote_parse_xml_attr: Value of the attribute '%s' too long", found);
        return read_error(GNOTE_READ_ATTRIBUTE_FORM, equals + 1,
                          "gnote_parse_xml_attr: Failed to find '\"' following the value in the arrtibute");
    }
    const std::size_t after_at = value_at + quote + 1;
    const std::string_view after = a.substr(after_at);
    const bool another = !after.empty() && after[0] != '>';
    if (another && after[0] != ' ')
        return read_error(GNOTE_READ_ATTRIBUTE_FORM, after_at,
                          "gnote_parse_xml_attr: Failed to find a space following an arrtibute");
    std::memcpy(name, found, equals + 1);
    std::memcpy(value, rest.data(), quote);
    value[quote] = '\0';
    *more = another;
    *attributes = another ? after.substr(1) : after.substr(after.size());
    return {};
}

ReadError gnote_parse_xml_cdata(NoteElement_t *element, std::string_view content, char **decoded)
{
    NoteParagraph_t &p = element->p;
    // One thread's decoding at a time uses these (nothing here calls itself).
    thread_local std::vector<std::int32_t> scratch[3][2];
    DecodedRuns runs[3] = {{"bold", &p.bold_start, &p.bold_end, &p.bold_count, scratch[0]},
                           {"italic", &p.italic_start, &p.italic_end, &p.italic_count, scratch[1]},
                           {"underline", &p.underline_start, &p.underline_end, &p.underline_count, scratch[2]}};
    // The text is never longer than its content.
    std::unique_ptr<char, void (*)(char *)> text(static_cast<char *>(srealloc(nullptr, content.size() + 1)),
                                                 [](char *t) { sfree(t); });
    std::size_t length = 0;
    auto copy = [&](std::size_t from, std::size_t count) {
        std::memcpy(text.get() + length, content.data() + from, count);
        length += count;
    };
    auto at = [&] { return static_cast<std::int32_t>(length); };
    auto kind_of = [](char c) { return c == 'b' ? 0 : c == 'i' ? 1 : c == 'u' ? 2 : -1; };
    static constexpr const char *malformed_open[3] = {"Malformed bold open tag", "Malformed italic open tag",
                                                      "Malformed underline open tag"};
    // The next '<', '&' and carriage return at or after a position, each searched for again only
    // once passed, so the content is searched once however many of them it holds.
    std::size_t next[3];
    static constexpr char specials[3] = {'<', '&', '\r'};
    auto search = [&](int k, std::size_t from) {
        const void *found = std::memchr(content.data() + from, specials[k], content.size() - from);
        next[k] = found ? static_cast<const char *>(found) - content.data() : content.size();
    };
    for (int k = 0; k < 3; ++k) search(k, 0);
    auto next_special = [&](std::size_t from) {
        std::size_t first = content.size();
        for (int k = 0; k < 3; ++k) {
            if (next[k] < from) search(k, from);
            first = std::min(first, next[k]);
        }
        return first;
    };
    std::size_t i = 0;
    SafePointCount safe_point;
    for (;;) {
        safe_point.step();
        const std::size_t special = next_special(i);
        copy(i, special - i);
        i = special;
        if (i >= content.size()) break;
        const std::string_view rest = content.substr(i);
        const char c = rest[0];
        if (c == '\r') {
            text.get()[length++] = '\n';
            i += 1;
        } else if (c == '<') {
            const char second = rest.size() > 1 ? rest[1] : '\0';
            if (const int k = kind_of(second); k >= 0) {
                if (rest.size() < 3 || rest[2] != '>')
                    return read_error(GNOTE_READ_RUN_MARK, i, "%s", malformed_open[k]);
                if (ReadError error = runs[k].begin(at(), i)) return error;
                i += 3;
            } else if (second == '/') {
                const int closing = kind_of(rest.size() > 2 ? rest[2] : '\0');
                if (closing < 0) return read_error(GNOTE_READ_RUN_MARK, i, "Unexpected paragraph close format tag");
                if (rest.size() < 4 || rest[3] != '>')
                    return read_error(GNOTE_READ_RUN_MARK, i, "Malformed bold close tag");
                if (ReadError error = runs[closing].finish(at(), i)) return error;
                i += 4;
            } else {
                return read_error(GNOTE_READ_RUN_MARK, i, "Unexpected paragraph open format tag");
            }
        } else {
            static constexpr std::pair<std::string_view, char> entities[] = {
                {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&#47;", '/'}};
            const auto entity = std::find_if(std::begin(entities), std::end(entities),
                                             [&](const auto &e) { return rest.starts_with(e.first); });
            if (entity == std::end(entities)) {
                const char second = rest.size() > 1 ? rest[1] : '\0';
                if (second == 'a' || second == 'l' || second == 'g' || second == '#')
                    return read_error(GNOTE_READ_ENTITY, i, "Unexpected paragraph format tag '&%c...'", second);
                return read_error(GNOTE_READ_ENTITY, i, "Unexpected ampersand");
            }
            text.get()[length++] = entity->second;
            i += entity->first.size();
        }
    }
    for (const DecodedRuns &r : runs)
        if (ReadError error = r.check(content.size())) return error;
    for (DecodedRuns &r : runs) r.store();
    text.get()[length] = '\0';
    *decoded = text.release();
    return {};
}

void gnote_split_paragraphs(NoteData_t *note_data, int compact)
{
    split_paragraphs(note_data, note_data->note, compact);
}

void (*gnote_parse_safe_point)() = nullptr;

ReadError gnote_read_xml(NoteData_t *note_data, const char *string, int compact, NoteElement_t **list)
{
    ListBuilder read(note_data);
    if (ReadError error = read_note(read, string, compact)) return error;
    *list = read.release();
    return {};
}

ReadError gnote_parse_xml(NoteData_t *note_data, const char *string, int compact)
{
    ListBuilder read(note_data);
    if (ReadError error = read_note(read, string, compact)) return error;
    gnote_free_xml(note_data);
    note_data->note = read.release();
    note_data->version = 1;
    return {};
}
