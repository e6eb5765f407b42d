// Style tag records: their initial values, the reading of the whole style tags file into a list
// of them with every attribute's value rules, and the merging of one tag into a style. See
// style_tags.h.
#include <charconv>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "mem_mgt.h"
#include "message.h"
#include "read_error.h"
#include "style_tags.h"

namespace {

// Names and values of attributes hold at most 55 characters.
constexpr int VALUE_SIZE = 56;
constexpr std::string_view TAG_PREFIX = "mtag_";
// The one time-stamp format a tag may give.
constexpr const char *TIME_STAMP_FORMAT = "%a  %d %b %y  %H:%M";
// The most digits and points of a width.
constexpr std::size_t WIDTH_DIGITS = 10;

char *copy_text(const char *text) { return text ? Strcpy(text) : nullptr; }

void replace_text(char *&field, const char *text)
{
    DPS_FREE(field);
    field = copy_text(text);
}

// ---- Attribute values ----------------------------------------------------------------------------

struct Word {
    const char *text;
    int value;
};

// Where a value is stored and how it is read.
enum class Kind { WORDS, SIZE, COLOUR, COLOUR_OR_NULL, GREY, GREY_OR_NULL, WIDTH, TIME_STAMP, WATERMARK, LINE_TYPE, LINE_STYLE, PAGE_NUMBER };

// The three messages of a width attribute.
struct WidthTexts {
    const char *too_long, *missing, *units;
};

constexpr WidthTexts MULTI_LINE_WIDTH{
    "Length '%s' too many digits in multi line wrap width attribute in Style Tag '%s'",
    "Did not find length '%s' on multi line wrap width attribute in Style Tag '%s'",
    "Found unexpected units '%s' on multi line wrap width attribute in Style Tag '%s'"};
constexpr WidthTexts NOTE_WRAP_WIDTH{
    "Length '%s' too many digits in note wrap width attribute in Style Tag '%s'",
    "Did not find length '%s' on note wrap width attribute in Style Tag '%s'",
    "Found unexpected units '%s' on note wrap width attribute in Style Tag '%s'"};
constexpr WidthTexts NOTE_EXTENSION_WIDTH{
    "Length '%s' too many digits in note extension width attribute in Style Tag '%s'",
    "Did not find length '%s' on note wrap extension attribute in Style Tag '%s'",
    "Found unexpected units '%s' on note wrap extension attribute in Style Tag '%s'"};

constexpr Word WEIGHTS[] = {{"normal", 0}, {"bold", 1}};
constexpr Word FAMILIES[] = {{"Courier", 0}, {"Helvetica", 1}, {"Times-Roman", 2}};
constexpr Word STYLES[] = {{"normal", 0}, {"italic", 1}};
constexpr Word ALIGNS[] = {{"left", 0}, {"right", 1}, {"centre", 2}, {"decimal", 3}, {"boolean", 4}};
constexpr Word UNDERLINES[] = {{"none", 0}, {"normal", 1}};
constexpr Word PAGE_NUMBERS[] = {{"current", 1}, {"next", 2}};
constexpr Word USER_DEFINABLE[] = {{"TRUE", 1}, {"true", 1}, {"FALSE", 0}, {"false", 0}};
constexpr Word NOTE_TYPES[] = {{"plain", 1}, {"extended", 2}};
constexpr Word TRUTHS[] = {{"true", 1}, {"false", 0}};
constexpr Word LINE_TYPES[] = {{"single", 1}};
constexpr Word LINE_STYLES[] = {{"solid", 1}, {"dotted", 2}, {"dashed", 3}};

// One attribute of the file: its name, how its value is read, the letter of its wrong-value
// message, and the field it sets (an int or a double member).
struct Attribute {
    const char *name;
    Kind kind;
    std::span<const Word> words;
    char letter;
    int PrintTag_t::*field;
    double PrintTag_t::*width = nullptr;
    const WidthTexts *width_texts = nullptr;
};

constexpr Attribute ATTRIBUTES[] = {
    {"line-type", Kind::LINE_TYPE, LINE_TYPES, 'M', &PrintTag_t::line_type},
    {"line-style", Kind::LINE_STYLE, LINE_STYLES, 'N', &PrintTag_t::line_style},
    {"multi-line-completion", Kind::WORDS, TRUTHS, 'X', &PrintTag_t::multi_line_completion},
    {"multi-line-wrap-width", Kind::WIDTH, {}, 0, nullptr, &PrintTag_t::multi_line_wrap_width, &MULTI_LINE_WIDTH},
    {"note-wrap-width", Kind::WIDTH, {}, 0, nullptr, &PrintTag_t::note_wrap_width, &NOTE_WRAP_WIDTH},
    {"note-type", Kind::WORDS, NOTE_TYPES, 'e', &PrintTag_t::note_type},
    {"note-completion", Kind::WORDS, TRUTHS, 'i', &PrintTag_t::note_completion},
    {"note-extension-width", Kind::WIDTH, {}, 0, nullptr, &PrintTag_t::note_extension_width, &NOTE_EXTENSION_WIDTH},
    {"page-number", Kind::PAGE_NUMBER, PAGE_NUMBERS, 'c', &PrintTag_t::page_number},
    {"print-align", Kind::WORDS, ALIGNS, 's', &PrintTag_t::print_align},
    {"print-bg-colour", Kind::COLOUR_OR_NULL, {}, 0, &PrintTag_t::print_bg_colour},
    {"print-bg-grey", Kind::GREY_OR_NULL, {}, 0, &PrintTag_t::print_bg_grey},
    {"print-colour", Kind::COLOUR, {}, 0, &PrintTag_t::print_colour},
    {"print-family", Kind::WORDS, FAMILIES, 'q', &PrintTag_t::print_family},
    {"print-grey-weight", Kind::WORDS, WEIGHTS, 'u', &PrintTag_t::print_grey_weight},
    {"print-grey", Kind::GREY, {}, 0, &PrintTag_t::print_grey},
    {"print-neg-colour", Kind::COLOUR, {}, 0, &PrintTag_t::print_neg_colour},
    {"print-neg-grey", Kind::GREY, {}, 0, &PrintTag_t::print_neg_grey},
    {"print-neg-weight", Kind::WORDS, WEIGHTS, 'w', &PrintTag_t::print_neg_weight},
    {"print-neg-grey-weight", Kind::WORDS, WEIGHTS, 'x', &PrintTag_t::print_neg_grey_weight},
    {"print-size", Kind::SIZE, {}, 0, &PrintTag_t::print_size},
    {"print-style", Kind::WORDS, STYLES, 'n', &PrintTag_t::print_style},
    {"print-underline", Kind::WORDS, UNDERLINES, 'Y', &PrintTag_t::print_underline},
    {"print-weight", Kind::WORDS, WEIGHTS, 'm', &PrintTag_t::print_weight},
    {"screen-align", Kind::WORDS, ALIGNS, 'B', &PrintTag_t::screen_align},
    {"screen-bg-colour", Kind::COLOUR_OR_NULL, {}, 0, &PrintTag_t::screen_bg_colour},
    {"screen-colour", Kind::COLOUR, {}, 0, &PrintTag_t::screen_colour},
    {"screen-family", Kind::WORDS, FAMILIES, '9', &PrintTag_t::screen_family},
    {"screen-neg-colour", Kind::COLOUR, {}, 0, &PrintTag_t::screen_neg_colour},
    {"screen-neg-weight", Kind::WORDS, WEIGHTS, 'D', &PrintTag_t::screen_neg_weight},
    {"screen-size", Kind::SIZE, {}, 0, &PrintTag_t::screen_size},
    {"screen-style", Kind::WORDS, STYLES, '6', &PrintTag_t::screen_style},
    {"screen-underline", Kind::WORDS, UNDERLINES, 'V', &PrintTag_t::screen_underline},
    {"screen-weight", Kind::WORDS, WEIGHTS, '5', &PrintTag_t::screen_weight},
    {"time-stamp", Kind::TIME_STAMP, {}, 0, nullptr},
    {"user-definable", Kind::WORDS, USER_DEFINABLE, 'J', &PrintTag_t::user_definable},
    {"watermark-text", Kind::WATERMARK, {}, 0, nullptr},
};

// The letter of the unknown-attribute message for a name no attribute has: it says how far the
// name followed a family of attributes (first character, then the character after the family's
// prefix).
char unknown_letter(std::string_view name)
{
    const auto at = [&](std::size_t i) { return i < name.size() ? name[i] : '\0'; };
    const auto by = [&](char c, std::string_view letters, std::string_view codes, char otherwise) {
        const std::size_t i = letters.find(c);
        return c && i != std::string_view::npos ? codes[i] : otherwise;
    };
    switch (at(0)) {
    case 'l': return 'P';
    case 'm':
        if (!name.starts_with("multi-line-")) return 'O';
        return by(at(11), "cw", "SQ", 'Z');
    case 'n':
        if (!name.starts_with("note-")) return 'T';
        return by(at(5), "wtce", "fdhg", 'j');
    case 'p':
        if (!name.starts_with("print-")) return 'k';
        return by(at(6), "abcfgnsuw", "rztpvyoWl", '2');
    case 's':
        if (!name.starts_with("screen-")) return '3';
        return by(at(7), "abcfnsuw", "AFC8E7U4", 'G');
    case 't': return 'K';
    case 'u': return 'H';
    case 'w': return 'L';
    default: return 'R';
    }
}

int code(StyleTagCode c) { return static_cast<int>(c); }

// The helpers below give their faults at offset 0: the reading of the file puts the tag's offset in.

ReadError wrong_value(const char *value, const char *tag_text, char letter)
{
    return read_error(code(StyleTagCode::WrongValue), 0, "Found unexpected attribute value '%s' in Style Tag '%s' (%c)",
                      value, tag_text, letter);
}

ReadError word_value(const Attribute &a, const char *value, const char *tag_text, int *out)
{
    for (const Word &w : a.words)
        if (std::strcmp(value, w.text) == 0) {
            *out = w.value;
            return {};
        }
    if (a.kind == Kind::PAGE_NUMBER)
        return read_error(code(StyleTagCode::WrongPageNumber), 0, "Found unexpected attribute '%s' in Style Tag '%s' (c)",
                          value, tag_text);
    return wrong_value(value, tag_text, a.letter);
}

// One or two digits followed by "pt".
ReadError size_value(const char *value, const char *tag_text, int *out)
{
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!digit(value[0]))
        return read_error(code(StyleTagCode::SizeDigits), 0, "Did not find units '%s' on font size attribute in Style Tag '%s'",
                          value, tag_text);
    int size = value[0] - '0';
    const char *units = value + 1;
    if (digit(*units)) size = size * 10 + (*units++ - '0');
    if (std::strcmp(units, "pt") != 0)
        return read_error(code(StyleTagCode::SizeUnits), 0,
                          "Found unexpected units '%s' on font size attribute in Style Tag '%s'", units, tag_text);
    *out = size;
    return {};
}

// One to ten digits and points followed by "cm", read as a decimal number.
ReadError width_value(const char *value, const char *tag_text, const WidthTexts &texts, double *out)
{
    const std::size_t n = std::strspn(value, "0123456789.");
    if (n > WIDTH_DIGITS) return read_error(code(StyleTagCode::WidthDigits), 0, texts.too_long, value, tag_text);
    if (n == 0) return read_error(code(StyleTagCode::WidthMissing), 0, texts.missing, value, tag_text);
    if (std::strcmp(value + n, "cm") != 0) return read_error(code(StyleTagCode::WidthUnits), 0, texts.units, value + n, tag_text);
    double width = 0.0;
    std::from_chars(value, value + n, width);  // the C notation whatever the locale; "." reads 0
    *out = width;
    return {};
}

ReadError set_attribute(PrintTag_t *tag, const Attribute &a, char *value, const char *tag_text)
{
    switch (a.kind) {
    case Kind::WORDS:
    case Kind::PAGE_NUMBER: return word_value(a, value, tag_text, &(tag->*a.field));
    case Kind::SIZE: return size_value(value, tag_text, &(tag->*a.field));
    case Kind::COLOUR: return postscript_get_colour_value(value, tag_text, 0, 6, &(tag->*a.field));
    case Kind::COLOUR_OR_NULL: return postscript_get_colour_value(value, tag_text, 1, 6, &(tag->*a.field));
    case Kind::GREY: return postscript_get_colour_value(value, tag_text, 0, 2, &(tag->*a.field));
    case Kind::GREY_OR_NULL: return postscript_get_colour_value(value, tag_text, 1, 2, &(tag->*a.field));
    case Kind::WIDTH: return width_value(value, tag_text, *a.width_texts, &(tag->*a.width));
    case Kind::TIME_STAMP:
        if (std::strcmp(value, TIME_STAMP_FORMAT) != 0)
            return read_error(code(StyleTagCode::TimeStampFormat), 0, "Found unexpected format type '%s' in Style Tag '%s'",
                              value, tag_text);
        replace_text(tag->time_stamp, value);
        return {};
    case Kind::WATERMARK: replace_text(tag->watermark_text, std::strcmp(value, "none") == 0 ? "\n" : value); return {};
    case Kind::LINE_TYPE:
        if (ReadError error = word_value(a, value, tag_text, &tag->line_type)) return error;
        if (tag->line_style == NOT_GIVEN) tag->line_style = 1;
        return {};
    case Kind::LINE_STYLE:
        if (ReadError error = word_value(a, value, tag_text, &tag->line_style)) return error;
        if (tag->line_type == NOT_GIVEN) tag->line_type = 1;
        return {};
    }
    return {};
}

bool quoted(Kind kind)
{
    return kind == Kind::TIME_STAMP || kind == Kind::WATERMARK || kind == Kind::LINE_TYPE || kind == Kind::LINE_STYLE;
}

// Fills tag (a record of the reading's own list) from one tag's text as the tokeniser gave it.
ReadError read_tag(PrintTag_t *tag, const char *text)
{
    if (std::strncmp(text, TAG_PREFIX.data(), TAG_PREFIX.size()) != 0)
        return read_error(code(StyleTagCode::NoPrefix), 0, "Found tag '%s' not commencing with 'mtag_'", text);
    const char *brace = std::strchr(text, '{');
    if (!brace) return read_error(code(StyleTagCode::NoBrace), 0, "Did not find '{' following a Style Tag '%s'", text);
    const std::string_view name(text, brace - text);
    if (name.size() >= sizeof tag->name)
        return read_error(code(StyleTagCode::NameTooLong), 0, "Tag name in tags file is too long: %.*s", int(name.size()),
                          name.data());
    name.copy(tag->name, name.size());
    for (const char *p = brace + 1; *p;) {
        char attribute[VALUE_SIZE], value[VALUE_SIZE];
        if (ReadError error = postscript_get_style_tag_value(attribute, &p, ':', VALUE_SIZE, 0)) return error;
        const Attribute *found = nullptr;
        for (const Attribute &a : ATTRIBUTES)
            if (std::strcmp(attribute, a.name) == 0) found = &a;
        if (!found)
            return read_error(code(StyleTagCode::UnknownAttribute), 0, "Found unexpected attribute '%s' in Style Tag '%s' (%c)",
                              attribute, text, unknown_letter(attribute));
        if (ReadError error = postscript_get_style_tag_value(value, &p, ';', VALUE_SIZE, quoted(found->kind))) return error;
        if (ReadError error = set_attribute(tag, *found, value, text)) return error;
    }
    return {};
}

// The reading of the file, released however it ends. A reading that stops before the end of the
// file resets the tokeniser, so the next reader does not begin with this file's text, and frees
// the tags read so far.
struct FileReading {
    std::FILE *file = nullptr;
    char *buffer = nullptr;
    PrintTag_t *head = nullptr, *tail = nullptr;
    bool finished = false;

    FileReading() = default;
    FileReading(const FileReading &) = delete;
    FileReading &operator=(const FileReading &) = delete;
    ~FileReading()
    {
        if (!finished) {
            postscript_print_tags_reset();
            postscript_print_tags_free(head);
        }
        DpsRealloc(buffer, 0);
        if (file) std::fclose(file);
    }
    void append(PrintTag_t *tag)
    {
        tag->prior = tail;
        (tail ? tail->next : head) = tag;
        tail = tag;
    }
};

} // namespace

PrintTag_t *postscript_print_tag_initialise(int defaults)
{
    auto *tag = Alloc(PrintTag_t);
    const int unset = defaults ? 0 : NOT_GIVEN;
    for (int PrintTag_t::*field :
         {&PrintTag_t::print_weight, &PrintTag_t::print_style, &PrintTag_t::print_align, &PrintTag_t::print_colour,
          &PrintTag_t::print_underline, &PrintTag_t::print_neg_colour, &PrintTag_t::print_grey,
          &PrintTag_t::print_neg_grey, &PrintTag_t::print_neg_weight, &PrintTag_t::print_grey_weight,
          &PrintTag_t::print_neg_grey_weight, &PrintTag_t::screen_weight, &PrintTag_t::screen_neg_weight,
          &PrintTag_t::screen_style, &PrintTag_t::screen_align, &PrintTag_t::screen_colour,
          &PrintTag_t::screen_underline, &PrintTag_t::screen_neg_colour, &PrintTag_t::note_completion,
          &PrintTag_t::multi_line_completion})
        tag->*field = unset;
    tag->print_size = tag->screen_size = defaults ? 8 : NOT_GIVEN;
    tag->print_family = tag->screen_family = defaults ? 1 : NOT_GIVEN;
    tag->print_bg_colour = tag->print_bg_grey = tag->screen_bg_colour = defaults ? NO_COLOUR : NOT_GIVEN;
    tag->line_type = tag->line_style = NOT_GIVEN;
    tag->note_wrap_width = 4.0;
    tag->note_extension_width = 12.0;
    tag->multi_line_wrap_width = -1.0;
    return tag;
}

PrintTag_t *postscript_print_tag_copy(const PrintTag_t *tag)
{
    auto *copy = Alloc(PrintTag_t);
    *copy = *tag;
    copy->time_stamp = copy_text(tag->time_stamp);
    copy->watermark_text = copy_text(tag->watermark_text);
    copy->next = copy->prior = nullptr;
    return copy;
}

void postscript_print_tag_free(PrintTag_t *tag)
{
    if (!tag) return;
    DPS_FREE(tag->time_stamp);
    DPS_FREE(tag->watermark_text);
    sfree(tag);
}

void postscript_print_tags_free(PrintTag_t *head)
{
    while (head) {
        PrintTag_t *next = head->next;
        postscript_print_tag_free(head);
        head = next;
    }
}

ReadError postscript_get_colour_value(char *value, const char *tag_text, int null_allowed, int digits, int *colour)
{
    if (null_allowed && std::strcmp(value, "NULL") == 0) {
        *colour = NO_COLOUR;
        return {};
    }
    if (value[0] != '#' || std::strlen(value) > std::size_t(digits) + 1)
        return read_error(code(StyleTagCode::WrongColour), 0,
                          "Found unexpected attribute value '%s' in Style Tag '%s' (a)", value, tag_text);
    // Lower-cased as it is read, in a copy: the message shows the digits so far lower-cased.
    std::string text(value);
    int read = 0;
    for (int i = 1; i <= digits; ++i) {
        char &c = text[i];
        if (c >= 'A' && c <= 'F') c = char(c - 'A' + 'a');
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return read_error(code(StyleTagCode::WrongColour), 0,
                              "Found unexpected attribute value '%s' in Style Tag '%s' (b)", text.c_str() + 1, tag_text);
        read = read * 16 + digit;
    }
    text.copy(value, text.size());
    *colour = digits == 2 ? read * 0x010101 : read;
    return {};
}

ReadError postscript_read_style_tag_config_file(PrintTag_t **tags)
{
    FileReading r;
    if (ReadError error = postscript_print_tags_open_file(&r.file)) return error;
    for (;;) {
        int found = 0;
        std::size_t at = 0;
        if (ReadError error = postscript_print_tags_get_tag(r.file, &r.buffer, &found, &at)) return error;
        if (!found) break;
        PrintTag_t *tag = postscript_print_tag_initialise(0);
        r.append(tag);
        if (ReadError error = read_tag(tag, r.buffer)) {
            error.offset = at;
            return error;
        }
    }
    r.finished = true;
    *tags = r.head;
    return {};
}

void postscript_add_tag_value(PrintTag_t *destination, const PrintTag_t *source)
{
    PrintTag_t *d = destination;
    const PrintTag_t *s = source;
    const auto given = [](int v) { return v >= -1; };
    for (int PrintTag_t::*field :
         {&PrintTag_t::print_weight, &PrintTag_t::print_size, &PrintTag_t::print_family, &PrintTag_t::print_style,
          &PrintTag_t::print_align, &PrintTag_t::print_colour, &PrintTag_t::print_underline,
          &PrintTag_t::print_neg_colour, &PrintTag_t::print_bg_colour, &PrintTag_t::print_grey,
          &PrintTag_t::print_neg_grey, &PrintTag_t::print_bg_grey, &PrintTag_t::print_neg_weight,
          &PrintTag_t::print_grey_weight, &PrintTag_t::print_neg_grey_weight})
        if (given(s->*field)) d->*field = s->*field;
    // A screen attribute the tag does not give follows its print attribute.
    static constexpr std::pair<int PrintTag_t::*, int PrintTag_t::*> screen_from_print[] = {
        {&PrintTag_t::screen_weight, &PrintTag_t::print_weight},
        {&PrintTag_t::screen_neg_weight, &PrintTag_t::print_neg_weight},
        {&PrintTag_t::screen_size, &PrintTag_t::print_size},
        {&PrintTag_t::screen_family, &PrintTag_t::print_family},
        {&PrintTag_t::screen_style, &PrintTag_t::print_style},
        {&PrintTag_t::screen_align, &PrintTag_t::print_align},
        {&PrintTag_t::screen_underline, &PrintTag_t::print_underline},
        {&PrintTag_t::screen_colour, &PrintTag_t::print_colour},
        {&PrintTag_t::screen_neg_colour, &PrintTag_t::print_neg_colour},
        {&PrintTag_t::screen_bg_colour, &PrintTag_t::print_bg_colour},
    };
    for (auto [screen, print] : screen_from_print) {
        if (given(s->*screen))
            d->*screen = s->*screen;
        else if (given(s->*print))
            d->*screen = s->*print;
    }
    if (s->page_number > 0) d->page_number = s->page_number;
    if (s->time_stamp) replace_text(d->time_stamp, s->time_stamp);
    if (s->watermark_text) replace_text(d->watermark_text, s->watermark_text);
    for (int PrintTag_t::*field : {&PrintTag_t::line_type, &PrintTag_t::line_style, &PrintTag_t::user_definable})
        if (given(s->*field)) d->*field = s->*field;
    if (s->note_type > 0) d->note_type = s->note_type;
    if (s->note_wrap_width != 4.0) d->note_wrap_width = s->note_wrap_width;
    if (s->note_extension_width != 12.0) d->note_extension_width = s->note_extension_width;
    if (given(s->note_completion)) d->note_completion = s->note_completion;
    if (s->multi_line_wrap_width > 0) d->multi_line_wrap_width = s->multi_line_wrap_width;
    if (given(s->multi_line_completion)) d->multi_line_completion = s->multi_line_completion;
}
