// Notes and multi-line texts in print. See ps_notes.h.
#include "ps_notes.h"

#include <cstring>

#include "gdata.h"
#include "mem_mgt.h"
#include "message.h"

namespace {

// Width codes of the print table: a byte's width at size s (points × 100) is code × s / 800.
constexpr int width_code(unsigned char c)
{
    switch (c) {
    case '\'': case '`': case 'i': case 'j': case 'l': return 100;
    case ' ': case '!': case ',': case '.': case '/': case ':': case ';': case 'I': case '[': case '\\': case ']':
    case 'f': case 't': case '|': return 120;
    case '"': case '(': case ')': case '-': case 'r': case '{': case '}': return 150;
    case '*': return 170;
    case 'J': case '^': case 'c': case 'k': case 's': case 'v': case 'x': case 'y': case 'z': return 220;
    case '#': case '_': case '~': return 250;
    case '+': case '<': case '=': case '>': return 260;
    case 'F': case 'T': case 'Z': return 270;
    case '&': case 'A': case 'B': case 'E': case 'K': case 'P': case 'S': case 'V': case 'X': case 'Y': return 290;
    case 'C': case 'D': case 'H': case 'R': case 'U': case 'w': return 320;
    case 'G': case 'O': case 'Q': return 340;
    case 'M': case 'm': return 370;
    case '%': return 390;
    case '@': return 450;
    default: return 240;  // digits, the other letters, control characters and bytes above 127
    }
}

// Below this a wrap width is taken as 4 cm.
constexpr double NARROWEST_WRAP = 3.999;
constexpr double DEFAULT_WRAP = 4.0;

// A copy of a field's segment for one continuation line: a tag without the attributes that begin
// something (time stamp, watermark, note, multi-line), so the line prints as plain text in the
// field's font and colour.
FormatValue_t *continuation_segment(const FormatValue_t *field, int first, int last)
{
    PrintTag_t *tag = postscript_print_tag_copy(field->tag);
    DPS_FREE(tag->time_stamp);
    DPS_FREE(tag->watermark_text);
    tag->note_type = 0;
    tag->multi_line_wrap_width = -1.0;
    auto *v = Alloc(FormatValue_t);
    *v = *field;
    v->first = first;
    v->last = last;
    v->tag = tag;
    v->next = v->prior = nullptr;
    return v;
}

void append_segment(FormatValue_t *first, FormatValue_t *segment)
{
    FormatValue_t *last = first;
    while (last->next) last = last->next;
    last->next = segment;
    segment->prior = last;
}

// Frees the first segment of a pending field's list, which must be a continuation segment.
FormatValue_t *free_first_segment(FormatValue_t *segment)
{
    if (segment->prior) Abort("Unexpected non NULL linked Value");
    PrintTag_t *tag = segment->tag;
    if (tag && (tag->time_stamp || tag->watermark_text || tag->next || tag->prior))
        Abort("Unexpected non NULL pointer when freeing Tag");
    FormatValue_t *next = segment->next;
    if (next) next->prior = nullptr;
    postscript_print_tag_free(tag);
    sfree(segment);
    return next;
}

void free_segments(FormatValue_t *segment)
{
    while (segment) {
        FormatValue_t *next = segment->next;
        postscript_print_tag_free(segment->tag);
        sfree(segment);
        segment = next;
    }
}

void unlink_multi_line(PrintState_t *state, PrintMultiLine_t *m)
{
    (m->prior ? m->prior->next : state->multi_lines) = m->next;
    if (m->next) m->next->prior = m->prior;
}

// The first NUL-terminated piece of a pending text.
std::string_view first_piece(const std::string &text)
{
    return std::string_view(text).substr(0, text.find('\0'));
}

} // namespace

int ps_print_char_width(unsigned char c, int size) { return width_code(c) * size / 800; }

std::string ps_print_cut_line(const char **position, int font_size, double wrap_width)
{
    const char *p = *position;
    const int limit = static_cast<int>(1530 * wrap_width);
    const int size = font_size * 100;
    std::size_t n = 0;
    for (int sum = 0; p[n] && p[n] != '\n' && sum < limit; ++n) sum += ps_print_char_width(static_cast<unsigned char>(p[n]), size);
    std::size_t length = n;
    if (p[n] && p[n] != '\n' && p[n] != ' ') {
        // A word would be split: the line ends before the last blank, when it has one past its start.
        for (std::size_t k = n; k-- > 1;)
            if (p[k] == ' ') {
                length = k;
                break;
            }
    }
    *position = p + length + (p[length] == '\n' ? 1 : 0);
    return std::string(p, length);
}

std::string postscript_convert_note(std::string &, PrintState_t *state, FormatValue_t *, std::string note_text, int,
                                    int note_flag)
{
    for (const PrintNote_t *n = state->notes; n; n = n->next)
        if (note_text == n->note && !note_flag)
            Abort("Not permitted to have a Note in a heading, or have a similtaneously duplicated Note");
    // Cutting a note into print lines (its widths, paragraphs and amounts) is the note print
    // conversion's, which this build does not have.
    Abort("Note print conversion not available (note field %s)", note_text.c_str());
}

std::string postscript_convert_multi_line(PrintState_t *state, FormatValue_t *segment, std::string text, int screen,
                                          int)
{
    for (char &c : text)
        if (c == '\r') c = '\n';
    if (segment->position < 0)
        Abort("Must explicitely set position of Multi Line data. i.e. Position may not be zero for Multi Line data. %s",
              text.c_str());
    auto *record = new PrintMultiLine_t{};
    record->number = ++state->multi_line_count;
    if (global_data && global_data->log_level_lumbas >= 0)
        mlog(1, "postscript_convert_multi_line: New Multi Line %d", record->number);
    record->completion = segment->tag->multi_line_completion;
    if (state->multi_line_phase == 2 && record->completion == 0) state->multi_line_phase = 1;
    record->text = std::move(text);
    PrintMultiLine_t **link = &state->multi_lines;
    PrintMultiLine_t *prior = nullptr;
    while (*link) {
        prior = *link;
        link = &prior->next;
    }
    record->prior = prior;
    *link = record;
    ps_multiline_convert2print(record, segment, screen);
    return std::string(first_piece(record->text));
}

void ps_multiline_convert2print(PrintMultiLine_t *record, const FormatValue_t *segment, int screen)
{
    double width = segment->tag->multi_line_wrap_width;
    if (width < NARROWEST_WRAP) width = DEFAULT_WRAP;
    const int font_size = screen ? segment->tag->screen_size : segment->tag->print_size;
    const std::string source = std::move(record->text);
    std::string pieces;
    const char *p = source.c_str();
    const char *const end = p + source.size();
    do {
        const std::string piece = ps_print_cut_line(&p, font_size, width);
        FormatValue_t *v = continuation_segment(segment, segment->first, segment->first + static_cast<int>(piece.size()) - 1);
        v->tag->multi_line_completion = 0;
        if (record->lines)
            append_segment(record->lines, v);
        else
            record->lines = v;
        // Every piece keeps its place, an empty one too: an empty line of the text is an empty
        // line in print, and each segment meets its own piece.
        pieces += piece;
        pieces += '\0';
    } while (p < end);
    record->text = std::move(pieces);
}

std::string postscript_notes_get_line(int *total, FormatValue_t *first, std::string_view text, PrintState_t *state,
                                      int heading)
{
    std::string line(text);
    *total = static_cast<int>(line.size()) + 1;
    if (heading) return line;
    // Notes come before multi-line texts; a note's print blocks come from the note print
    // conversion, so without it no note is ever pending here.
    if (state->notes) Abort("Note print conversion not available (pending note %s)", state->notes->note);
    return postscript_multi_line_get_line(total, first, std::move(line), state);
}

std::string postscript_multi_line_get_line(int *total, FormatValue_t *first, std::string text, PrintState_t *state)
{
    if (*total != static_cast<int>(text.size()) + 1) Abort("Error in length");
    for (PrintMultiLine_t *m = state->multi_lines; m; m = m->next) {
        if (!m->lines) continue;
        const std::string_view piece = first_piece(m->text);
        FormatValue_t *v = continuation_segment(m->lines, *total, *total + static_cast<int>(piece.size()) - 1);
        if (first) append_segment(first, v);
        else state->format_values = first = v;
        text += piece;
        *total += static_cast<int>(piece.size());
    }
    return text;
}

void postscript_notes_free_line(PrintState_t *state)
{
    if (state->notes) Abort("Note print conversion not available (pending note %s)", state->notes->note);
    postscript_multi_line_free_line(state);
}

void postscript_multi_line_free_line(PrintState_t *state)
{
    for (PrintMultiLine_t *m = state->multi_lines, *next = nullptr; m; m = next) {
        next = m->next;
        if (m->lines) m->lines = free_first_segment(m->lines);
        const std::size_t cut = std::min(m->text.size(), first_piece(m->text).size() + 1);
        m->text.erase(0, cut);
        if (m->lines) {
            if (m->text.empty()) m->text.assign(" \0", 2);
            continue;
        }
        unlink_multi_line(state, m);
        delete m;
    }
}

void postscript_notes_free_all(PrintState_t *state)
{
    while (PrintMultiLine_t *m = state->multi_lines) {
        unlink_multi_line(state, m);
        free_segments(m->lines);
        delete m;
    }
}
