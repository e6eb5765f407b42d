// Notes and multi-line texts in print. See ps_notes.h.
#include "ps_notes.h"

#include <algorithm>
#include <cstring>

#include "gdata.h"
#include "mem_mgt.h"
#include "message.h"
#include "signals.h"

namespace {

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
std::string_view first_piece(const char *text) { return text ? std::string_view(text) : std::string_view(); }

void unlink_note(PrintState_t *state, PrintNote_t *n)
{
    (n->prior ? n->prior->next : state->notes) = n->next;
    if (n->next) n->next->prior = n->prior;
}

void free_note(PrintNote_t *n)
{
    gnote_free_print_blocks(n->blocks);
    sfree(n->note);
    sfree(n);
}

// Appends a copy of segment for piece to the line: text grows by it, *total moves past it.
void append_piece(std::string &text, int *total, FormatValue_t *&first, PrintState_t *state, const FormatValue_t *segment,
                  std::string_view piece)
{
    FormatValue_t *v = continuation_segment(segment, *total, *total + static_cast<int>(piece.size()) - 1);
    if (first)
        append_segment(first, v);
    else
        state->format_values = first = v;
    text += piece;
    *total += static_cast<int>(piece.size());
}

// The strings of a block not printed yet.
const char *unprinted(const NotePrintBlock_t *block) { return block->text ? block->text + block->printed : nullptr; }
std::string_view unprinted_pieces(const NotePrintBlock_t *block)
{
    return {unprinted(block), static_cast<std::size_t>(std::max(0, block->length))};
}

// Drops the first piece of a block's text. The rest stays where it is: moving it to the front at
// every line made the printing of a long paragraph quadratic.
void drop_piece(NotePrintBlock_t *block)
{
    const std::string_view pieces = unprinted_pieces(block);
    const std::size_t cut = std::min(pieces.size(), first_piece(unprinted(block)).size() + 1);
    block->printed += static_cast<std::int32_t>(cut);
    block->length -= static_cast<std::int32_t>(cut);
}

} // namespace

std::string postscript_convert_note(std::string &second_part, PrintState_t *state, FormatValue_t *segment,
                                    std::string note_text, int screen, int note_flag)
{
    for (const PrintNote_t *n = state->notes; n; n = n->next) {
        if (note_text != n->note) continue;
        if (!note_flag) Abort("Not permitted to have a Note in a heading, or have a similtaneously duplicated Note");
        if (!n->blocks || !n->blocks->items) return {};
        const FormatValue_t *first = n->blocks->items;
        return std::string(first_piece(unprinted(n->blocks))).substr(0, static_cast<std::size_t>(std::max(0, first->last - first->first + 1)));
    }
    if (global_data && global_data->log_level_lumbas >= 0) mlog(1, "postscript_convert_note: New Note %s", note_text.c_str());
    // The note comes from the Get_Note routine of the matrix the print handle hangs on; without
    // one there is no routine to ask.
    if (!state->cm) Abort("postscript_convert_note: no control matrix to fetch Note %s from", note_text.c_str());
    auto *record = Alloc(PrintNote_t);
    record->note = Strcpy(note_text.c_str());
    record->completion = segment->tag->note_completion;
    if (state->note_phase == 2 && record->completion == 0) state->note_phase = 1;
    PrintNote_t **link = &state->notes;
    PrintNote_t *prior = nullptr;
    while (*link) {
        prior = *link;
        link = &prior->next;
    }
    record->prior = prior;
    *link = record;
    gnote_convert2print(state->cm, record, segment, screen);
    const NotePrintBlock_t *block = record->blocks;
    if (!block) return {};
    if (block->column && block->items && block->items->next) {
        // The amount column prints next, at its own place, without moving along the line.
        const std::string_view pieces = unprinted_pieces(block);
        const std::string_view rest = pieces.substr(std::min(pieces.size(), pieces.find('\0') + 1));
        second_part = std::string(rest.substr(0, rest.find('\0')));
        FormatValue_t *amount = continuation_segment(block->items->next, 1, 0);
        amount->next = segment->next;
        amount->prior = segment;
        if (segment->next) segment->next->prior = amount;
        segment->next = amount;
    }
    return std::string(first_piece(unprinted(block)));
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
    if (width < GNOTE_LEAST_WRAP_WIDTH) width = GNOTE_DEFAULT_WRAP_WIDTH;
    const int font_size = screen ? segment->tag->screen_size : segment->tag->print_size;
    const std::string source = std::move(record->text);
    std::string pieces;
    const char *p = source.c_str();
    const char *const end = p + source.size();
    do {
        char *cut = gnote_convert2print_getfield(&p, font_size, width);
        const std::string piece = cut;
        sfree(cut);
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
    for (const PrintNote_t *n = state->notes; n; n = n->next) {
        const NotePrintBlock_t *block = n->blocks;
        if (!block || !block->items) continue;
        const std::string_view pieces = unprinted_pieces(block);
        const std::string_view piece = pieces.substr(0, pieces.find('\0'));
        append_piece(line, total, first, state, block->items, piece);
        if (block->column && block->items->next) {
            const std::string_view rest = pieces.substr(std::min(pieces.size(), piece.size() + 1));
            append_piece(line, total, first, state, block->items->next, rest.substr(0, rest.find('\0')));
        }
    }
    return postscript_multi_line_get_line(total, first, std::move(line), state);
}

std::string postscript_multi_line_get_line(int *total, FormatValue_t *first, std::string text, PrintState_t *state)
{
    if (*total != static_cast<int>(text.size()) + 1) Abort("Error in length");
    for (PrintMultiLine_t *m = state->multi_lines; m; m = m->next)
        if (m->lines) append_piece(text, total, first, state, m->lines, first_piece(m->text));
    return text;
}

void postscript_notes_free_line(PrintState_t *state)
{
    for (PrintNote_t *n = state->notes, *next = nullptr; n; n = next) {
        next = n->next;
        NotePrintBlock_t *block = n->blocks;
        if (block && block->items) {
            const int pieces = block->column && block->items->next ? 2 : 1;
            for (int k = 0; k < pieces; ++k) {
                block->items = free_first_segment(block->items);
                drop_piece(block);
            }
            block->column = 0;
            if (block->items) continue;
        }
        if (block) {
            // The block is used up: the next paragraph prints next.
            n->blocks = block->next;
            if (n->blocks) n->blocks->prior = nullptr;
            block->next = nullptr;
            gnote_free_print_blocks(block);
            if (n->blocks) continue;
        }
        unlink_note(state, n);
        free_note(n);
    }
    postscript_multi_line_free_line(state);
}

void postscript_multi_line_free_line(PrintState_t *state) { postscript_multi_line_free_line_since(state, 0); }

void postscript_multi_line_free_line_since(PrintState_t *state, int count)
{
    for (PrintMultiLine_t *m = state->multi_lines, *next = nullptr; m; m = next) {
        next = m->next;
        if (m->number <= count) continue;
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

void postscript_notes_forget_since(PrintState_t *state, const PrintNote_t *last, int count)
{
    for (PrintNote_t *n = last ? last->next : state->notes, *next = nullptr; n; n = next) {
        next = n->next;
        unlink_note(state, n);
        free_note(n);
    }
    for (PrintMultiLine_t *m = state->multi_lines, *next = nullptr; m; m = next) {
        next = m->next;
        if (m->number <= count) continue;
        unlink_multi_line(state, m);
        free_segments(m->lines);
        delete m;
    }
    state->multi_line_count = count;
}

void postscript_notes_free_all(PrintState_t *state)
{
    while (PrintNote_t *n = state->notes) {
        unlink_note(state, n);
        free_note(n);
    }
    while (PrintMultiLine_t *m = state->multi_lines) {
        unlink_multi_line(state, m);
        free_segments(m->lines);
        delete m;
    }
}

namespace {

// A flushed note's lines stand closer than the report's own.
constexpr float FLUSH_SPACING = 1.05f;
// How many flushed lines are laid out between two looks at a pending signal.
constexpr std::size_t FLUSH_SAFE_POINT_LINES = 1024;

bool has_note_segment(const PrintState_t *state)
{
    for (const FormatValue_t *v = state->format_values; v; v = v->next)
        if (v->tag && v->tag->note_type > 0) return true;
    return false;
}

bool has_multi_line_segment(const PrintState_t *state)
{
    for (const FormatValue_t *v = state->format_values; v; v = v->next)
        if (v->tag && v->tag->multi_line_wrap_width > 0) return true;
    return false;
}

} // namespace

int pswrite_do_clear_note(const PrintState_t *state, int clear)
{
    return !clear && state->notes && state->note_phase == 2 && !has_note_segment(state) ? 1 : 0;
}

int pswrite_do_clear_multi_line(const PrintState_t *state, int clear)
{
    return !clear && state->multi_lines && state->multi_line_phase == 2 && !has_multi_line_segment(state) ? 1 : 0;
}

void pswrite_flush_pending(PrintState_t *state, int forced, const std::function<void()> &write_flush_line)
{
    if ((state->notes && state->note_phase == 0) || (state->multi_lines && state->multi_line_phase == 0))
        Abort("'note_phase' or 'multi_line_phase' must be one or two when a Note is printing");
    if (!forced && state->note_phase != 2 && state->multi_line_phase != 2) return;
    const float spacing = state->line_spacing;
    state->line_spacing = FLUSH_SPACING;
    // A note of many megabytes flushes hundreds of thousands of lines: a signal is acted on
    // between them.
    for (std::size_t lines = 1; state->notes || state->multi_lines; ++lines) {
        if (lines % FLUSH_SAFE_POINT_LINES == 0) check_signals();
        write_flush_line();
    }
    state->line_spacing = spacing;
    state->note_phase = 0;
    state->multi_line_phase = 0;
}
