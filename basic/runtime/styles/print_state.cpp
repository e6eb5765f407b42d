// The print state and the line formats: parsing a line's format into segments, applying tags and
// default tags to them, and rescaling a format for the drill window. See print_state.h.
#include "print_state.h"

#include <charconv>
#include <cstring>
#include <string>
#include <unordered_map>

#include "mem_mgt.h"
#include "message.h"

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

void insert_before(PrintState_t *state, FormatValue_t *v, FormatValue_t *n)
{
    n->next = v;
    n->prior = v->prior;
    (v->prior ? v->prior->next : state->format_values) = n;
    v->prior = n;
}

// A note or multi-line text begins (phase 1) or asks for its completion (phase 2).
void update_phases(PrintState_t *state, const PrintTag_t *tag)
{
    if (tag->note_completion > 0 && (tag->note_type > 0 || state->note_phase == 1))
        state->note_phase = 2;
    else if (tag->note_type > 0 && tag->note_completion <= 0 && state->note_phase == 0)
        state->note_phase = 1;
    if (tag->multi_line_completion > 0 && (tag->multi_line_wrap_width > 0 || state->multi_line_phase == 1))
        state->multi_line_phase = 2;
    else if (tag->multi_line_wrap_width > 0 && tag->multi_line_completion <= 0 && state->multi_line_phase == 0)
        state->multi_line_phase = 1;
}

// Copies the item at *position, up to delimiter or end, into output without white space and moves
// *position past the delimiter. An item longer than size - 1 ends the run with the format's text
// from the item on.
void take_item(char *output, const char **position, const char *end, char delimiter, int size)
{
    const char *start = *position, *p = start;
    int length = 0;
    for (; p < end && *p != delimiter; ++p) {
        if (white(*p)) continue;
        if (length >= size - 1) Abort("Style tag item '%s' exceeds bounds", start);
        output[length++] = *p;
    }
    output[length] = '\0';
    *position = p < end ? p + 1 : p;
}

// Every tag name from p to end, each applied by apply.
template <class F> void each_tag_name(const char *p, const char *end, F &&apply)
{
    char name[TAG_NAME_SIZE];
    while (p < end) {
        take_item(name, &p, end, ',', TAG_NAME_SIZE);
        if (name[0]) apply(name);
    }
}

void parse_field_segment(PrintState_t *state, const char *p, const char *end, int line_length)
{
    char first_text[NUMBER_SIZE], count_text[NUMBER_SIZE], position_text[MEASURE_SIZE], length_text[MEASURE_SIZE];
    take_item(first_text, &p, end, ',', NUMBER_SIZE);
    take_item(count_text, &p, end, ',', NUMBER_SIZE);
    take_item(position_text, &p, end, ',', MEASURE_SIZE);
    take_item(length_text, &p, end, ',', MEASURE_SIZE);
    const int first = first_text[0] ? integer(first_text) : 1;
    const int last = count_text[0] ? first + integer(count_text) - 1 : line_length;
    const double position = position_text[0] ? measure(position_text) : NOT_GIVEN_CM;
    const double length = length_text[0] ? measure(length_text) : NOT_GIVEN_CM;
    each_tag_name(p, end, [&](const char *name) { postscript_save_tag(state, first, last, name, position, length); });
}

// Each segment of format: the tag names of default segments through on_default, the items of
// field segments through on_field (their text from begin to end in the format).
template <class D, class F> void each_segment(const char *format, D &&on_default, F &&on_field)
{
    char segment[SEGMENT_SIZE];
    for (const char *p = format; *p;) {
        const char *begin = p;
        const bool tag_names = postscript_get_format_tag(segment, &p, ';', SEGMENT_SIZE);
        const char *end = p > begin && p[-1] == ';' ? p - 1 : p;
        if (tag_names)
            each_tag_name(begin, end, on_default);
        else if (segment[0])
            on_field(begin, end);
    }
}

} // namespace

PrintState_t *postscript_print_state_initialise(int output_kind, float drill_scale)
{
    PrintTag_t *tags = postscript_read_style_tag_config_file();
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
    return state;
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

int postscript_get_format_tag(char *output, const char **position, char delimiter, int size)
{
    take_item(output, position, *position + std::strlen(*position), delimiter, size);
    return output[0] == 'm' ? 1 : 0;
}

void postscript_parse_format(const char *format, PrintState_t *state, int line_length)
{
    postscript_init_value(state, line_length);
    each_segment(
        format, [&](const char *name) { postscript_save_default_tag(state, name); },
        [&](const char *begin, const char *end) { parse_field_segment(state, begin, end, line_length); });
}

void postscript_parse_default(const char *format, PrintState_t *state)
{
    // A default tag also styles the line's last segment: a line of no characters takes it here.
    const bool own_line = !state->format_values;
    postscript_init_value(state, 0);
    each_segment(format, [&](const char *name) { postscript_save_default_tag(state, name); }, [](const char *, const char *) {});
    if (own_line) postscript_free_format_line(state);
}

void postscript_save_tag(PrintState_t *state, int first, int last, const char *name, double position, double length)
{
    if (!state->tags) Abort("postscript_save_tag - No data found in Styles Configuration file");
    if (!state->format_values) Abort("postscript_save_tag - Display Styles not initialised");
    const PrintTag_t *tag = postscript_find_tag(state, name);
    if (!tag) {
        Email(SUPPORT_ADDRESS, "The print Style Tag name '%s' does not exist in the Style Tags Configuration file", name);
        return;
    }
    if (tag->watermark_text) Abort("watermark-text format tag attribute %s not allowed in a non-default tag", name);
    FormatValue_t *v = nullptr;
    for (FormatValue_t *s = state->format_values; s && s->first <= first; s = s->next) v = s;
    // A range that begins outside the line has no characters to style.
    if (!v || first < 1 || first > v->last) return;
    if (last > v->last) {
        if (v->next) Abort("igdrill: Style Tag '%s' spans source text positions of multiple prior tags", name);
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
        insert_before(state, v, range);
        v = range;
    }
    if (position > -1.5) v->position = position;
    if (length > -1.5) v->length = length;
    update_phases(state, tag);
    postscript_add_tag_value(v->tag, tag);
    v->set = 1;
}

void postscript_save_default_tag(PrintState_t *state, const char *name)
{
    if (!state->tags) Abort("postscript_save_default_tag - No data found in Styles Configuration file");
    if (!state->format_values) Abort("postscript_save_default_tag - Display Styles not initialised");
    const PrintTag_t *tag = postscript_find_tag(state, name);
    if (!tag) {
        Email(SUPPORT_ADDRESS, "igdrill: The print Style Tag name '%s' does not exist in the Style Tags Configuration file",
              name);
        return;
    }
    if (tag->time_stamp) Abort("time-stamp format tag attribute %s not allowed in a default tag", name);
    if (tag->page_number > 0) Abort("page-number format tag attribute %s not allowed in a default tag", name);
    if (tag->line_type > 0) Abort("line-type format tag attribute %s not allowed in a default tag", name);
    if (tag->line_style > 0) Abort("line-style format tag attribute %s not allowed in a default tag", name);
    if (tag->note_type > 0) Abort("note-type format tag attribute %s not allowed in a default tag", name);
    if (tag->multi_line_wrap_width > 0)
        Abort("multi-line-wrap-width format tag attribute %s not allowed in a default tag", name);
    if (tag->watermark_text) {
        postscript_print_tag_free(state->watermark_tag);
        state->watermark_tag = postscript_print_tag_copy(tag);
        DPS_FREE(state->watermark_tag->time_stamp);
        return;
    }
    update_phases(state, tag);
    postscript_add_tag_value(state->default_tag, tag);
    FormatValue_t *last = state->format_values;
    if (!last) Abort("postscript_save_default_tag - No format values found");
    while (last->next) last = last->next;
    if (!last->set) postscript_add_tag_value(last->tag, tag);
}

std::string psprint_drill_conv_field(const PrintState_t *state, std::string_view segment)
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
            if (item.size() > DRILL_FIELD_SIZE) Abort("Buffer overflow in psprint_drill_conv_field");
            const double value = measure(std::string(item).c_str());
            if (value > SMALLEST_MEASURE) {
                const double margin = field == 3 ? state->right_margin : 0.0;
                const double scaled = SMALLEST_MEASURE + (value - margin) * s * k - k * (k - 1) * 0.8;
                char printed[64];
                const auto [end, error] = std::to_chars(printed, printed + sizeof printed, scaled, std::chars_format::fixed, 2);
                std::string_view text(printed, error == std::errc{} ? end - printed : 0);
                if (text.size() > DRILL_FIELD_SIZE) Abort("Buffer overflow in psprint_drill_conv_field 2");
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
    return out;
}

char *psprint_drill_conv_format(const PrintState_t *state, const char *format)
{
    const std::string_view in(format);
    std::string out;
    for (std::size_t start = 0;;) {
        const std::size_t semicolon = in.find(';', start);
        out += psprint_drill_conv_field(state, in.substr(start, semicolon == in.npos ? in.npos : semicolon - start));
        if (semicolon == in.npos) break;
        out += ';';
        start = semicolon + 1;
    }
    if (out.size() > 2 * in.size()) Abort("String length exceeded in psprint_drill_conv_format");
    return Strcpy(out.c_str());
}

char *psprint_trim(char *text)
{
    std::size_t n = std::strlen(text);
    while (n && white(text[n - 1])) --n;
    text[n] = '\0';
    return text;
}
