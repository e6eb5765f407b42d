// The line renderers for print and display and their helpers. See ps_render.h.
#include "ps_render.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <sys/time.h>

#include "mem_mgt.h"
#include "message.h"
#include "ps_format.h"
#include "ps_notes.h"
#include "text_escape.h"

namespace {

// A position or length in cm counts from above this.
constexpr double GIVEN_CM = 0.1;
constexpr int TIME_STAMP_ROOM = 25;
constexpr int ALIGN_RIGHT = 1, ALIGN_CENTRE = 2, ALIGN_DECIMAL = 3, ALIGN_BOOLEAN = 4;

bool white(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

char family_letter(int family) { return family == 1 ? 'H' : family == 2 ? 'T' : 'C'; }

// A decimal column's text is negative when it ends in its only minus sign ("12.50-"); "-" and
// "--" are not amounts.
bool negative_decimal(std::string_view text)
{
    return text.size() >= 2 && text.back() == '-' && text.find('-') == text.size() - 1;
}

bool false_boolean(std::string_view text) { return !text.empty() && (text[0] == '0' || text[0] == 'N' || text[0] == 'n'); }

// Traces a renderer's entry and exit in the run-time trace ring.
class Traced {
public:
    explicit Traced(const char *function) : function_(function) { trace_in(function_, __FILE__, __LINE__); }
    ~Traced() { trace_out(function_, __FILE__, __LINE__); }
    Traced(const Traced &) = delete;
    Traced &operator=(const Traced &) = delete;

private:
    const char *function_;
};

// One segment of the walk over a line: its raw text and whether it is an amount column a note
// left for it (its text is then the note's second piece, as it stands).
struct SegmentText {
    std::string text;
    bool second_part;
};

// The walk both renderers share: continuation lines of notes and multi-line texts appended to the
// line, then each segment with its characters, the conversions of its tag applied. render gets
// the segment and its text.
template <class Render> void walk(std::string_view text, PrintState_t *state, int heading, int screen, int note, Render &&render)
{
    int total = 0;
    const std::string line = postscript_notes_get_line(&total, state->format_values, text, state, heading);
    int position = 1;
    FormatValue_t *segment = state->format_values;
    std::string second_part;
    bool second_pending = false;
    // An amount column a note left prints after the note's field, even at the end of the line.
    while (position < total || second_pending) {
        if (!segment) Abort("Missing format segment, around: %s", line.c_str());
        const int count = std::max(0, segment->last - segment->first + 1);
        SegmentText s;
        if (second_pending) {
            s = {second_part, true};
            second_pending = false;
        } else {
            const std::size_t at = std::min(static_cast<std::size_t>(position - 1), line.size());
            s = {line.substr(at, static_cast<std::size_t>(count)), false};
        }
        position += count;
        const PrintTag_t *tag = segment->tag;
        if (tag->line_type < 1 && !s.second_part) {
            if (tag->time_stamp) s.text = postscript_convert_ts_format(std::move(s.text), TIME_STAMP_ROOM, tag->time_stamp);
            if (tag->note_type > 0) {
                second_part.clear();
                s.text = postscript_convert_note(second_part, state, segment, std::move(s.text), screen, note);
                second_pending = !second_part.empty();
            }
            if (tag->multi_line_wrap_width > 0)
                s.text = postscript_convert_multi_line(state, segment, std::move(s.text), screen, note);
        }
        render(segment, s);
        segment = segment->next;
    }
}

} // namespace

// ---- Helpers ------------------------------------------------------------------------------------------

std::string postscript_truncate(std::string_view text, const FormatValue_t *segment)
{
    if (segment->length <= GIVEN_CM) return std::string(text);
    const int limit = static_cast<int>(1530 * segment->length);
    const int size = segment->tag->print_size * 100;
    std::size_t n = 0;
    for (int sum = 0; n < text.size() && text[n] != '\n' && sum < limit; ++n)
        sum += gnote_convert2print_getsize(static_cast<unsigned char>(text[n]), size);
    // A character of several bytes is kept whole.
    while (n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) ++n;
    return std::string(text.substr(0, n));
}

std::string postscript_trim_space(std::string_view text, const FormatValue_t *segment)
{
    std::string cut = postscript_truncate(text, segment);
    std::size_t begin = 0, end = cut.size();
    while (begin < end && white(cut[begin])) ++begin;
    while (end > begin && white(cut[end - 1])) --end;
    return cut.substr(begin, end - begin);
}

std::string postscript_escape(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && white(text[i])) ++i;
    std::string out;
    out.reserve(text.size() - i + 8);
    const auto put = [&out](unsigned code) {
        if (code == '\\' || code == '(' || code == ')') {
            out += '\\';
            out += static_cast<char>(code);
        } else if (code == '\t') {
            out += "    ";
        } else if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code <= 0xFF) {
            // Latin-1 above ASCII as an octal escape: the file stays plain ASCII.
            ps_append(out, "\\%03o", code);
        } else {
            out += '?';
        }
    };
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            put(c);
            ++i;
            continue;
        }
        // One UTF-8 character: its length from the lead byte, each following byte 10xxxxxx.
        const int length = c >= 0xF0 && c < 0xF8 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        unsigned code = length == 2 ? c & 0x1Fu : length == 3 ? c & 0x0Fu : c & 0x07u;
        bool whole = length > 0 && i + static_cast<std::size_t>(length) <= text.size();
        for (int k = 1; whole && k < length; ++k) {
            const auto b = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            whole = (b & 0xC0) == 0x80;
            code = code << 6 | (b & 0x3Fu);
        }
        put(whole ? code : 0x100);
        i += whole ? static_cast<std::size_t>(length) : 1;
    }
    return out;
}

int postscript_print_colour(std::string &out, int colour)
{
    const int red = colour >> 16 & 0xFF, green = colour >> 8 & 0xFF, blue = colour & 0xFF;
    const auto pure = [](int c) { return c == 0 || c == 255; };
    if (pure(red) && pure(green) && pure(blue))
        ps_append(out, "%d %d %d C", red / 255, green / 255, blue / 255);
    else
        ps_append(out, "%0.2f %0.2f %0.2f C", red / 255.0, green / 255.0, blue / 255.0);
    return colour;
}

std::string postscript_convert_ts_format(std::string text, int room, const char *format)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::string stamp(static_cast<std::size_t>(room), '\0');
    const std::size_t n = std::strftime(stamp.data(), stamp.size(), format, &local);
    text.append(stamp.data(), n);
    return text;
}

// ---- Print ----------------------------------------------------------------------------------------------

int postscript_apply_format_to_print_line(std::string &out, std::string_view text, PrintState_t *state, int heading,
                                          int note)
{
    const Traced traced(__func__);
    out.clear();
    int font_size = 0;
    walk(text, state, heading, 0, note, [&](const FormatValue_t *segment, const SegmentText &s) {
        const PrintTag_t *tag = segment->tag;
        int normal_colour = tag->print_colour, negative_colour = tag->print_neg_colour;
        int normal_weight = tag->print_weight, negative_weight = tag->print_neg_weight;
        if (state->grey) {
            if (tag->print_grey >= 0) normal_colour = tag->print_grey;
            if (tag->print_neg_grey >= 0) negative_colour = tag->print_neg_grey;
            normal_weight = tag->print_grey_weight;
            negative_weight = tag->print_neg_grey_weight;
        }
        const bool positioned = segment->position > GIVEN_CM;
        if (tag->line_type >= 1) {
            std::string colour;
            if (normal_colour != state->current_colour) state->current_colour = postscript_print_colour(colour, normal_colour);
            state->current_size = tag->print_size;
            font_size = tag->print_size;
            if (!out.empty()) out += ' ';
            if (!colour.empty()) ps_append(out, "%s ", colour.c_str());
            ps_append(out, "%0.2f %0.2f ln%d%d", segment->position, segment->length, tag->line_type, tag->line_style);
            return;
        }
        std::string body = s.second_part ? s.text : postscript_trim_space(s.text, segment);
        const bool negative = (tag->print_align == ALIGN_DECIMAL && negative_decimal(body)) ||
                              (tag->print_align == ALIGN_BOOLEAN && negative_colour > 0 && false_boolean(body));
        const int colour = negative ? negative_colour : normal_colour;
        const int weight = negative ? negative_weight : normal_weight;
        std::string command;
        if (colour != state->current_colour && !body.empty()) {
            state->current_colour = postscript_print_colour(command, colour);
            command += ' ';
        }
        // A placing procedure takes a position: without one the text flows where the line is.
        const char *kind = "sf";
        if (positioned) {
            if (tag->page_number > 0)
                kind = tag->print_align == ALIGN_RIGHT ? "sr" : "sg";
            else
                kind = tag->print_align == ALIGN_RIGHT    ? "sr"
                       : tag->print_align == ALIGN_CENTRE ? "sc"
                       : tag->print_align == ALIGN_DECIMAL ? "sn"
                                                           : "sg";
        }
        std::string show = kind;
        show += family_letter(tag->print_family);
        if (weight == 1) show += 'b';
        if (tag->print_style == 1) show += 'i';
        if (!out.empty() && !body.empty()) out += ' ';
        if (tag->print_size < 1) {
            if (!body.empty()) ps_append(out, "%s(%s) show", command.c_str(), postscript_escape(body).c_str());
            if (font_size == 0) font_size = state->current_size;
            return;
        }
        if (positioned && tag->page_number > 0) {
            while (!body.empty() && white(body.back())) body.pop_back();
            const int page = state->page_number + (tag->page_number == 2 ? 1 : 0);
            // Even without text the page number is written: it needs its own separator.
            if (!out.empty() && body.empty()) out += ' ';
            ps_append(out, "%s%0.2f %d (%s %d) %s", command.c_str(), segment->position, tag->print_size,
                      postscript_escape(body).c_str(), page, show.c_str());
        } else if (!body.empty()) {
            // "%s%0.2f %d (%s) %s", or without a position "%s%d (%s) %s", put together directly:
            // every line of a report passes here.
            out += command;
            if (positioned) {
                ps_fixed(out, segment->position, 2);
                out += ' ';
            }
            ps_integer(out, tag->print_size);
            out += " (";
            out += postscript_escape(body);
            out += ") ";
            out += show;
        }
        state->current_size = tag->print_size;
        font_size = std::max(font_size, tag->print_size);
    });
    return font_size;
}

// ---- Display --------------------------------------------------------------------------------------------

void postscript_apply_format_to_display_line(std::string &out, std::string_view text, PrintState_t *state)
{
    const Traced traced(__func__);
    out.clear();
    bool open = false;
    walk(text, state, 0, 1, 0, [&](const FormatValue_t *segment, const SegmentText &s) {
        const PrintTag_t *tag = segment->tag;
        if (tag->line_type >= 1) {
            if (open) out += "</posn>";
            open = false;
            if (segment->position > 0) {
                ps_append(out, "<posn start=\"%0.2f\" align=\"%d\">", segment->position, tag->screen_align);
                if (segment->length > 0)
                    ps_append(out, "<line length=\"%0.2f\" /></posn>", segment->length);
                else
                    out += "<line /></posn>";
            } else {
                out += "<line />";
            }
            return;
        }
        std::string body = s.text;
        if (tag->page_number > 0) {
            if (body.empty() || body.back() != ' ') body += ' ';
            ps_append(body, "%d", state->page_number + (tag->page_number == 2 ? 1 : 0));
        }
        const std::string shown = s.second_part ? s.text : postscript_trim_space(body, segment);
        std::string attributes;
        const bool negative =
            (tag->screen_align == ALIGN_DECIMAL && tag->screen_neg_colour >= 1 && negative_decimal(shown)) ||
            (tag->screen_align == ALIGN_BOOLEAN && tag->screen_neg_colour > 0 && false_boolean(shown));
        if (negative) {
            ps_append(attributes, " foreground=\"#%06x\"", static_cast<unsigned>(tag->screen_neg_colour));
            if (tag->screen_neg_weight == 1) attributes += " weight=\"bold\"";
        } else {
            if (tag->screen_colour > 0) ps_append(attributes, " foreground=\"#%06x\"", static_cast<unsigned>(tag->screen_colour));
            if (tag->screen_weight == 1) attributes += " weight=\"bold\"";
        }
        if (tag->screen_bg_colour >= 0) ps_append(attributes, " background=\"#%06x\"", static_cast<unsigned>(tag->screen_bg_colour));
        attributes += tag->screen_family == 1 ? " font_desc=\"Helvetica" : tag->screen_family == 2 ? " font_desc=\"Times-Roman" : " font_desc=\"Courier";
        if (tag->screen_style == 1) attributes += " Italic";
        if (tag->screen_size > 0) ps_append(attributes, " %d", tag->screen_size);
        attributes += '"';
        if (segment->position > 0) {
            if (open) out += "</posn>";
            if (segment->length > 0)
                ps_append(out, "<posn start=\"%0.2f\" align=\"%d\" length=\"%0.2f\">", segment->position,
                          tag->screen_align, segment->length);
            else
                ps_append(out, "<posn start=\"%0.2f\" align=\"%d\">", segment->position, tag->screen_align);
            open = true;
        }
        // Escaped once, after every replacement, so a note's or a field's '&' or '<' is text.
        out += "<span" + attributes + ">" + fn_escape_string(shown) + "</span>";
    });
    if (open) out += "</posn>";
    // The display takes each continuation line once: the lines shown here are dropped now.
    postscript_notes_free_line(state);
}
