// A style tag record as text, for comparing records in tests.
#pragma once

#include <cstdio>
#include <string>

#include "style_tags.h"

namespace lumba_test {

// The fields of tag that differ from those of reference, as "field=value" words in field order.
inline std::string differences(const PrintTag_t *tag, const PrintTag_t *reference)
{
    std::string out;
    const auto word = [&](const char *name, const std::string &value) {
        out += (out.empty() ? "" : " ") + std::string(name) + "=" + value;
    };
    const auto hex = [](int v) {
        char b[16];
        std::snprintf(b, sizeof b, v < 0 ? "%d" : "0x%06x", v);
        return std::string(b);
    };
    const auto text = [](const char *s) { return s ? "'" + std::string(s) + "'" : std::string("null"); };
#define INT_FIELD(f)                                                                                              \
    if (tag->f != reference->f) word(#f, std::to_string(tag->f))
#define COLOUR_FIELD(f)                                                                                           \
    if (tag->f != reference->f) word(#f, hex(tag->f))
#define REAL_FIELD(f)                                                                                             \
    if (tag->f != reference->f) word(#f, std::to_string(tag->f))
#define TEXT_FIELD(f)                                                                                             \
    if (text(tag->f) != text(reference->f)) word(#f, text(tag->f))
    INT_FIELD(print_weight);
    INT_FIELD(print_size);
    INT_FIELD(print_family);
    INT_FIELD(print_style);
    INT_FIELD(print_align);
    COLOUR_FIELD(print_colour);
    INT_FIELD(print_underline);
    COLOUR_FIELD(print_neg_colour);
    COLOUR_FIELD(print_bg_colour);
    COLOUR_FIELD(print_grey);
    COLOUR_FIELD(print_neg_grey);
    COLOUR_FIELD(print_bg_grey);
    INT_FIELD(print_neg_weight);
    INT_FIELD(print_grey_weight);
    INT_FIELD(print_neg_grey_weight);
    INT_FIELD(screen_weight);
    INT_FIELD(screen_neg_weight);
    INT_FIELD(screen_size);
    INT_FIELD(screen_family);
    INT_FIELD(screen_style);
    INT_FIELD(screen_align);
    COLOUR_FIELD(screen_colour);
    INT_FIELD(screen_underline);
    COLOUR_FIELD(screen_neg_colour);
    COLOUR_FIELD(screen_bg_colour);
    INT_FIELD(page_number);
    TEXT_FIELD(time_stamp);
    TEXT_FIELD(watermark_text);
    INT_FIELD(line_type);
    INT_FIELD(line_style);
    INT_FIELD(user_definable);
    INT_FIELD(note_type);
    REAL_FIELD(note_wrap_width);
    REAL_FIELD(note_extension_width);
    INT_FIELD(note_completion);
    REAL_FIELD(multi_line_wrap_width);
    INT_FIELD(multi_line_completion);
#undef INT_FIELD
#undef COLOUR_FIELD
#undef REAL_FIELD
#undef TEXT_FIELD
    return out;
}

} // namespace lumba_test
