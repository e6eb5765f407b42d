// The print state and the line formats: parsing a line's format into segments, applying tags and
// default tags to them, and rescaling a format for the drill window. See print_state.h.
#include "print_state.h"

#include <charconv>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>

#include "mem_mgt.h"
#include "message.h"
#include "read_error.h"

// Lookups by name take the first tag of a name in file order.
struct TagIndex {
    std::unordered_map<std::string_view, PrintTag_t *> first;
};

namespace {

// Item limits of a line format, terminator included.
constexpr int SEGMENT_SIZE = 2048;
constexpr int NUMBER_SIZE = 4;     // first character and count
constexpr int MEASURE_SIZE = 13;   // position and length
constexpr int TAG_NAME_SIZE = 128;
// Above this a position or length is rescaled for the drill window; a measure of 0.008 or less
// is copied as written.
constexpr double SMALLEST_MEASURE = 0.008;
constexpr std::size_t DRILL_FIELD_SIZE = 28;

bool white(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// A decimal number in the C notation whatever the locale; 0 when the text holds none.
double measure(const char *text)
{
    while (white(*text)) ++text;
    double value = 0.0;
    std::from_chars(text, text + std::strlen(text), value);
    return value;
}

int integer(const char *text)
{
    int value = 0;
    std::from_chars(text, text + std::strlen(text), value);
    return value;
}

FormatValue_t *new_segment(int first, int last, PrintTag_t *tag)
{
    auto *v = Alloc(FormatValue_t);
    v->first = first;
    v->last = last;
    v->position = v->length = NOT_GIVEN_CM;
    v->tag = tag;
    return v;
}

// A copy of segment v for a part of its range: its own tag copy without the attributes that
// belong to one place of the line (time stamp, watermark, note and multi-line starts), and no
// position or length.
FormatValue_t *split_copy(const FormatValue_t *v, int first, int last)
{
    PrintTag_t *tag = postscript_print_tag_copy(v->tag);
    DPS_FREE(tag->time_stamp);
    DPS_FREE(tag->watermark_text);
    if (tag->note_type > 0) tag->note_type = 0;
    if (tag->multi_line_wrap_width > 0) tag->multi_line_wrap_width = -1.0;
    FormatValue_t *copy = new_segment(first, last, tag);
    copy->set = v->set;
    return copy;
}

void insert_after(FormatValue_t *v, FormatValue_t *n)
{
    n->prior = v;
    n->next = v->next;
    if (v->next) v->next->prior = n;
    v->next = n;
}

int code(PrintFormatCode c) { return static_cast<int>(c); }

// The offset of p in the format that begins at base; 0 when there is no format.
std::size_t offset_in(const char *base, const char *p) { return base && p >= base ? std::size_t(p - base) : 0; }

// Copies the item at *position, up to delimiter or end, into output without white space and moves
// *position past the delimiter. An item longer than size - 1 is refused with the format's text from
// the item on (base: where the format begins, for the offset); nothing moves then.
ReadError take_item(char *output, const char **position, const char *end, char delimiter, int size, const char *base)
{
    const char *start = *position, *p = start;
    int length = 0;
    for (; p < end && *p != delimiter; ++p) {
        if (white(*p)) continue;
        if (length >= size - 1)
            return read_error(code(PrintFormatCode::ItemTooLong), offset_in(base, start),
                              "Style tag item '%s' exceeds bounds", start);
        output[length++] = *p;
    }
    output[length] = '\0';
    *position = p < end ? p + 1 : p;
    return {};
}

// Every tag name from p to end, each applied by apply (which gives a ReadError, without an offset);
// the first error, at the name's offset in the format that begins at base.
template <class F> ReadError each_tag_name(const char *p, const char *end, const char *base, F &&apply)
{
    char name[TAG_NAME_SIZE];
    while (p < end) {
        const char *at = p;
        if (ReadError error = take_item(name, &p, end, ',', TAG_NAME_SIZE, base)) return error;
        if (!name[0]) continue;
        if (ReadError error = apply(name)) {
            error.offset = offset_in(base, at);
            return error;
        }
    }
    return {};
}

// What a format changes in a state, kept apart until the whole format is read: a format with a
// fault leaves the state as it was. The segments are the state's own copied (a line's format is
// mostly read with none yet, so there is seldom anything to copy), the default tag is copied when
// a default segment first changes it.
class Draft {
public:
    explicit Draft(PrintState_t *state) : note_phase(state->note_phase), multi_line_phase(state->multi_line_phase), state_(state)
    {
        FormatValue_t *prior = nullptr;
        for (const FormatValue_t *v = state->format_values; v; v = v->next) {
            FormatValue_t *copy = new_segment(v->first, v->last, postscript_print_tag_copy(v->tag));
            copy->set = v->set;
            copy->position = v->position;
            copy->length = v->length;
            copy->prior = prior;
            (prior ? prior->next : values) = copy;
            prior = copy;
        }
    }
    Draft(const Draft &) = delete;
    Draft &operator=(const Draft &) = delete;
    ~Draft()
    {
        free_values(values);
        postscript_print_tag_free(default_tag_);
        postscript_print_tag_free(watermark_tag_);
    }

    const PrintState_t &state() const { return *state_; }
    // The default tag to change: the state's own, copied the first time.
    PrintTag_t *default_tag()
    {
        if (!default_tag_) default_tag_ = postscript_print_tag_copy(state_->default_tag);
        return default_tag_;
    }
    // The line's first segment, 1..line_length in the default style, when there is none.
    void init_value(int line_length)
    {
        if (!values) values = new_segment(1, line_length, postscript_print_tag_copy(current_default()));
    }
    void drop_values() { free_values(std::exchange(values, nullptr)); }
    void set_watermark(PrintTag_t *tag)
    {
        postscript_print_tag_free(watermark_tag_);
        watermark_tag_ = tag;
    }
    // Puts what the format made into the state.
    void commit()
    {
        free_values(state_->format_values);
        state_->format_values = std::exchange(values, nullptr);
        if (default_tag_) {
            postscript_print_tag_free(state_->default_tag);
            state_->default_tag = std::exchange(default_tag_, nullptr);
        }
        if (watermark_tag_) {
            postscript_print_tag_free(state_->watermark_tag);
            state_->watermark_tag = std::exchange(watermark_tag_, nullptr);
        }
        state_->note_phase = note_phase;
        state_->multi_line_phase = multi_line_phase;
    }

    FormatValue_t *values = nullptr;  // the line's segments
    int note_phase, multi_line_phase;

private:
    const PrintTag_t *current_default() const { return default_tag_ ? default_tag_ : state_->default_tag; }
    static void free_values(FormatValue_t *v)
    {
        while (v) {
            FormatValue_t *next = v->next;
            postscript_print_tag_free(v->tag);
            sfree(v);
            v = next;
        }
    }

    PrintState_t *state_;
    PrintTag_t *default_tag_ = nullptr;
    PrintTag_t *watermark_tag_ = nullptr;
};

void insert_before(Draft &draft, FormatValue_t *v, FormatValue_t *n)
{
    n->next = v;
    n->prior = v->prior;
    (v->prior ? v->prior->next : draft.values) = n;
    v->prior = n;
}

// A note or multi-line text begins (phase 1) or asks for its completion (phase 2).
void update_phases(Draft &draft, const PrintTag_t *tag)
{
    if (tag->note_completion > 0 && (tag->note_type > 0 || draft.note_phase == 1))
        draft.note_phase = 2;
    else if (tag->note_type > 0 && tag->note_completion <= 0 && draft.note_phase == 0)
        draft.note_phase = 1;
    if (tag->multi_line_completion > 0 && (tag->multi_line_wrap_width > 0 || draft.multi_line_phase == 1))
        draft.multi_line_phase = 2;
    else if (tag->multi_line_wrap_width > 0 && tag->multi_line_completion <= 0 && draft.multi_line_phase == 0)
        draft.multi_line_phase = 1;
}

ReadError save_tag(Draft &draft, int first, int last, const char *name, double position, double length)
{
    if (!draft.state().tags)
        return read_error(code(PrintFormatCode::NoTags), 0, "postscript_save_tag - No data found in Styles Configuration file");
    if (!draft.values)
        return read_error(code(PrintFormatCode::NotInitialised), 0, "postscript_save_tag - Display Styles not initialised");
    const PrintTag_t *tag = postscript_find_tag(&draft.state(), name);
    if (!tag) {
        Email(SUPPORT_ADDRESS, "The print Style Tag name '%s' does not exist in the Style Tags Configuration file", name);
        return {};
    }
    if (tag->watermark_text)
        return read_error(code(PrintFormatCode::WatermarkInField), 0,
                          "watermark-text format tag attribute %s not allowed in a non-default tag", name);
    FormatValue_t *v = nullptr;
    for (FormatValue_t *s = draft.values; s && s->first <= first; s = s->next) v = s;
    // A range that begins outside the line has no characters to style.
    if (!v || first < 1 || first > v->last) return {};
    if (last > v->last) {
        if (v->next)
            return read_error(code(PrintFormatCode::SpansSegments), 0,
                              "igdrill: Style Tag '%s' spans source text positions of multiple prior tags", name);
        last = v->last;
    }
    if (first > v->first) {
        FormatValue_t *rest = split_copy(v, first, v->last);
        v->last = first - 1;
        insert_after(v, rest);
        v = rest;
    }
    if (last < v->last) {
        FormatValue_t *range = split_copy(v, v->first, last);
        v->first = last + 1;
        insert_before(draft, v, range);
        v = range;
    }
    if (position > -1.5) v->position = position;
    if (length > -1.5) v->length = length;
    update_phases(draft, tag);
    postscript_add_tag_value(v->tag, tag);
    v->set = 1;
    return {};
}

// The attributes a default tag may not give, in the order they are checked.
struct Refused {
    bool (*given)(const PrintTag_t *);
    PrintFormatCode code;
    const char *format;
};

constexpr Refused REFUSED_IN_DEFAULT[] = {
    {[](const PrintTag_t *t) { return t->time_stamp != nullptr; }, PrintFormatCode::DefaultTimeStamp,
     "time-stamp format tag attribute %s not allowed in a default tag"},
    {[](const PrintTag_t *t) { return t->page_number > 0; }, PrintFormatCode::DefaultPageNumber,
     "page-number format tag attribute %s not allowed in a default tag"},
    {[](const PrintTag_t *t) { return t->line_type > 0; }, PrintFormatCode::DefaultLineType,
     "line-type format tag attribute %s not allowed in a default tag"},
    {[](const PrintTag_t *t) { return t->line_style > 0; }, PrintFormatCode::DefaultLineStyle,
     "line-style format tag attribute %s not allowed in a default tag"},
    {[](const PrintTag_t *t) { return t->note_type > 0; }, PrintFormatCode::DefaultNoteType,
     "note-type format tag attribute %s not allowed in a default tag"},
    {[](const PrintTag_t *t) { return t->multi_line_wrap_width > 0; }, PrintFormatCode::DefaultMultiLine,
     "multi-line-wrap-width format tag attribute %s not allowed in a default tag"},
};

ReadError save_default_tag(Draft &draft, const char *name)
{
    if (!draft.state().tags)
        return read_error(code(PrintFormatCode::NoTags), 0,
                          "postscript_save_default_tag - No data found in Styles Configuration file");
    if (!draft.values)
        return read_error(code(PrintFormatCode::NotInitialised), 0,
                          "postscript_save_default_tag - Display Styles not initialised");
    const PrintTag_t *tag = postscript_find_tag(&draft.state(), name);
    if (!tag) {
        Email(SUPPORT_ADDRESS, "igdrill: The print Style Tag name '%s' does not exist in the Style Tags Configuration file",
              name);
        return {};
    }
    for (const Refused &r : REFUSED_IN_DEFAULT)
        if (r.given(tag)) return read_error(code(r.code), 0, r.format, name);
    if (tag->watermark_text) {
        PrintTag_t *watermark = postscript_print_tag_copy(tag);
        DPS_FREE(watermark->time_stamp);
        draft.set_watermark(watermark);
        return {};
    }
    update_phases(draft, tag);
    postscript_add_tag_value(draft.default_tag(), tag);
    FormatValue_t *last = draft.values;
    if (!last) return read_error(code(PrintFormatCode::NoSegments), 0, "postscript_save_default_tag - No format values found");
    while (last->next) last = last->next;
    if (!last->set) postscript_add_tag_value(last->tag, tag);
    return {};
}

ReadError parse_field_segment(Draft &draft, const char *p, const char *end, int line_length, const char *base)
{
    char first_text[NUMBER_SIZE], count_text[NUMBER_SIZE], position_text[MEASURE_SIZE], length_text[MEASURE_SIZE];
    for (auto [item, size] : {std::pair{first_text, NUMBER_SIZE}, std::pair{count_text, NUMBER_SIZE},
                              std::pair{position_text, MEASURE_SIZE}, std::pair{length_text, MEASURE_SIZE}})
        if (ReadError error = take_item(item, &p, end, ',', size, base)) return error;
    const int first = first_text[0] ? integer(first_text) : 1;
    const int last = count_text[0] ? first + integer(count_text) - 1 : line_length;
    const double position = position_text[0] ? measure(position_text) : NOT_GIVEN_CM;
    const double length = length_text[0] ? measure(length_text) : NOT_GIVEN_CM;
    return each_tag_name(p, end, base, [&](const char *name) { return save_tag(draft, first, last, name, position, length); });
}

// Each segment of format: the tag names of default segments through on_default, the items of
// field segments through on_field (their text from begin to end in the format); the first error.
template <class D, class F> ReadError each_segment(const char *format, D &&on_default, F &&on_field)
{
    char segment[SEGMENT_SIZE];
    for (const char *p = format; *p;) {
        const char *begin = p;
        if (ReadError error = take_item(segment, &p, p + std::strlen(p), ';', SEGMENT_SIZE, format)) return error;
        const bool tag_names = segment[0] == 'm';
        const char *end = p > begin && p[-1] == ';' ? p - 1 : p;
        ReadError error;
        if (tag_names)
            error = each_tag_name(begin, end, format, on_default);
        else if (segment[0])
            error = on_field(begin, end);
        if (error) return error;
    }
    return {};
}

} // namespace

ReadError postscript_print_state_initialise(int output_kind, float drill_scale, PrintState_t **made)
{
    PrintTag_t *tags = nullptr;
    if (ReadError error = postscript_read_style_tag_config_file(&tags)) return error;
    auto *state = Alloc(PrintState_t);
    state->tags = tags;
    state->output_kind = output_kind;
    state->drill_scale = drill_scale;
    state->default_tag = postscript_print_tag_initialise(1);
    state->left_margin = state->right_margin = state->top_margin = state->bottom_margin = 20.0f;
    state->form = 3;
    state->page_number = 1;
    state->current_colour = -1;
    state->line_spacing = 1.15f;
    state->tag_index = new TagIndex;
    for (PrintTag_t *t = state->tags; t; t = t->next) state->tag_index->first.emplace(t->name, t);
    *made = state;
    return {};
}

void postscript_print_state_free(PrintState_t *state)
{
    if (!state) return;
    postscript_print_tag_free(state->default_tag);
    postscript_print_tags_free(state->tags);
    DPS_FREE(state->output_name);
    postscript_print_tag_free(state->watermark_tag);
    while (PrintHeader_t *h = state->headings) {
        state->headings = h->next;
        DPS_FREE(h->text);
        DPS_FREE(h->format);
        sfree(h);
    }
    delete state->tag_index;
    sfree(state);
}

PrintTag_t *postscript_find_tag(const PrintState_t *state, std::string_view name)
{
    if (!state->tag_index) return nullptr;
    const auto found = state->tag_index->first.find(name);
    return found == state->tag_index->first.end() ? nullptr : found->second;
}

void postscript_free_format_line(PrintState_t *state)
{
    while (FormatValue_t *v = state->format_values) {
        state->format_values = v->next;
        postscript_print_tag_free(v->tag);
        sfree(v);
    }
}

void postscript_init_value(PrintState_t *state, int line_length)
{
    if (!state->format_values)
        state->format_values = new_segment(1, line_length, postscript_print_tag_copy(state->default_tag));
}

ReadError postscript_get_format_tag(char *output, const char **position, char delimiter, int size, int *tag_name)
{
    if (ReadError error = take_item(output, position, *position + std::strlen(*position), delimiter, size, nullptr))
        return error;
    *tag_name = output[0] == 'm' ? 1 : 0;
    return {};
}

ReadError postscript_parse_format(const char *format, PrintState_t *state, int line_length)
{
    Draft draft(state);
    draft.init_value(line_length);
    const ReadError error = each_segment(
        format, [&](const char *name) { return save_default_tag(draft, name); },
        [&](const char *begin, const char *end) { return parse_field_segment(draft, begin, end, line_length, format); });
    if (!error) draft.commit();
    return error;
}

ReadError postscript_parse_default(const char *format, PrintState_t *state)
{
    // A default tag also styles the line's last segment: a line of no characters takes it here,
    // and goes with the draft.
    Draft draft(state);
    const bool own_line = !draft.values;
    draft.init_value(0);
    const ReadError error = each_segment(
        format, [&](const char *name) { return save_default_tag(draft, name); },
        [](const char *, const char *) { return ReadError{}; });
    if (error) return error;
    if (own_line) draft.drop_values();
    draft.commit();
    return {};
}

ReadError postscript_save_tag(PrintState_t *state, int first, int last, const char *name, double position, double length)
{
    Draft draft(state);
    const ReadError error = save_tag(draft, first, last, name, position, length);
    if (!error) draft.commit();
    return error;
}

ReadError postscript_save_default_tag(PrintState_t *state, const char *name)
{
    Draft draft(state);
    const ReadError error = save_default_tag(draft, name);
    if (!error) draft.commit();
    return error;
}

ReadError psprint_drill_conv_field(const PrintState_t *state, std::string_view segment, std::string &converted)
{
    double page_width = 29.7;
    if (state->form == 4 && state->orientation == 0) page_width = 21.0;
    if (state->form == 3 && state->orientation == 1) page_width = 42.0;
    const double s = 26.1 / (page_width - (state->left_margin + state->right_margin));
    const double k = state->drill_scale;
    std::string out;
    int field = 1;
    for (std::size_t start = 0;; ++field) {
        const std::size_t comma = segment.find(',', start);
        const std::string_view item = segment.substr(start, comma == std::string_view::npos ? segment.npos : comma - start);
        if (field == 3 || field == 4) {
            if (item.size() > DRILL_FIELD_SIZE)
                return read_error(code(PrintFormatCode::DrillItemTooLong), start, "Buffer overflow in psprint_drill_conv_field");
            const double value = measure(std::string(item).c_str());
            if (value > SMALLEST_MEASURE) {
                const double margin = field == 3 ? state->right_margin : 0.0;
                const double scaled = SMALLEST_MEASURE + (value - margin) * s * k - k * (k - 1) * 0.8;
                char printed[64];
                const auto [end, error] = std::to_chars(printed, printed + sizeof printed, scaled, std::chars_format::fixed, 2);
                std::string_view text(printed, error == std::errc{} ? end - printed : 0);
                if (text.size() > DRILL_FIELD_SIZE)
                    return read_error(code(PrintFormatCode::DrillValueTooLong), start,
                                      "Buffer overflow in psprint_drill_conv_field 2");
                if (text.find('.') != text.npos) {
                    while (text.ends_with('0')) text.remove_suffix(1);
                    if (text.ends_with('.')) text.remove_suffix(1);
                }
                out += text;
            } else {
                out += item;
            }
        } else {
            out += item;
        }
        if (comma == std::string_view::npos) break;
        out += ',';
        start = comma + 1;
    }
    converted += out;
    return {};
}

ReadError psprint_drill_conv_format(const PrintState_t *state, const char *format, char **converted)
{
    const std::string_view in(format);
    std::string out;
    for (std::size_t start = 0;;) {
        const std::size_t semicolon = in.find(';', start);
        if (ReadError error =
                psprint_drill_conv_field(state, in.substr(start, semicolon == in.npos ? in.npos : semicolon - start), out)) {
            error.offset += start;
            return error;
        }
        if (semicolon == in.npos) break;
        out += ';';
        start = semicolon + 1;
    }
    if (out.size() > 2 * in.size())
        return read_error(code(PrintFormatCode::DrillFormatTooLong), 0, "String length exceeded in psprint_drill_conv_format");
    *converted = Strcpy(out.c_str());
    return {};
}

char *psprint_trim(char *text)
{
    std::size_t n = std::strlen(text);
    while (n && white(text[n - 1])) --n;
    text[n] = '\0';
    return text;
}
