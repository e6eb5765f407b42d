// The note print conversion (see note_print.h).
#include "note_print.h"

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <glib.h>

#include "cinvoke.h"
#include "forms.h"
#include "gdata.h"
#include "mem_mgt.h"
#include "message.h"
#include "note_model.h"
#include "read_error.h"
#include "signals.h"

namespace {

// How many print lines or elements a conversion makes between two looks at a pending signal:
// a few milliseconds of work, so a termination ends even a note of many megabytes at once.
constexpr std::size_t SAFE_POINT_LINES = 4096;

// ---- Character widths -----------------------------------------------------------------------------

// Width codes by byte; every byte not listed (control characters, 128 and above) has 240.
constexpr std::array<unsigned short, 256> width_codes = [] {
    std::array<unsigned short, 256> codes{};
    codes.fill(240);
    const std::pair<int, const char *> classes[] = {
        {100, "'`ijl"},      {120, " !,./:;I[\\]ft|"}, {150, "\"()-r{}"}, {170, "*"},   {220, "J^cksvxyz"},
        {250, "#_~"},        {260, "+<=>"},             {270, "FTZ"},     {290, "&ABEKPSVXY"},
        {320, "CDHRUw"},     {340, "GOQ"},              {370, "Mm"},      {390, "%"},    {450, "@"},
    };
    for (const auto &[code, characters] : classes)
        for (const char *c = characters; *c; ++c)
            codes[static_cast<unsigned char>(*c)] = static_cast<unsigned short>(code);
    return codes;
}();

// ---- Segments and blocks ----------------------------------------------------------------------------

// The template's tag as the note's lines print it: without time stamp, watermark and links, and
// neither a note nor a multi-line text itself.
PrintTag_t *line_tag(const PrintTag_t *tag)
{
    auto *copy = Alloc(PrintTag_t);
    *copy = *tag;
    copy->time_stamp = nullptr;
    copy->watermark_text = nullptr;
    copy->note_type = 0;
    copy->multi_line_wrap_width = -1.0;
    copy->multi_line_completion = 0;
    copy->next = copy->prior = nullptr;
    return copy;
}

// A new unlinked segment for a text of length bytes, from the template.
FormatValue_t *new_segment(const FormatValue_t *segment, std::size_t length)
{
    auto *v = Alloc(FormatValue_t);
    *v = *segment;
    v->last = segment->first + static_cast<int>(length) - 1;
    v->tag = line_tag(segment->tag);
    v->next = v->prior = nullptr;
    return v;
}

void free_segments(FormatValue_t *v)
{
    while (v) {
        FormatValue_t *next = v->next;
        postscript_print_tag_free(v->tag);
        sfree(v);
        v = next;
    }
}

// A block being built: its segments in order and one string per segment.
struct Block {
    NotePrintBlock_t *record;
    std::vector<std::string> strings;
};

void link_segment_after(NotePrintBlock_t *block, FormatValue_t *after, FormatValue_t *v)
{
    FormatValue_t *following = after ? after->next : block->items;
    v->prior = after;
    v->next = following;
    if (following) following->prior = v;
    if (after)
        after->next = v;
    else
        block->items = v;
}

int position_of(const NotePrintBlock_t *block, const FormatValue_t *v)
{
    int i = 0;
    for (const FormatValue_t *w = block->items; w != v; w = w->next) ++i;
    return i;
}

// Packs the block's strings into its text buffer, each with its NUL.
void store_text(Block &block)
{
    std::size_t size = 0;
    for (const std::string &s : block.strings) size += s.size() + 1;
    if (size == 0) size = 1;  // "": a block that printed nothing
    sfree(block.record->text);
    block.record->text = static_cast<char *>(salloc(size));
    char *at = block.record->text;
    for (const std::string &s : block.strings) {
        std::memcpy(at, s.data(), s.size());
        at += s.size() + 1;
    }
    block.record->length = static_cast<std::int32_t>(size);
}

// A scratch note record for one conversion; its list goes with it.
struct ScratchNote {
    NoteData_t data{};
    ScratchNote() = default;
    ScratchNote(const ScratchNote &) = delete;
    ScratchNote &operator=(const ScratchNote &) = delete;
    ~ScratchNote() { gnote_free_xml(&data); }
};

struct SallocFree {
    void operator()(char *p) const { sfree(p); }
};

// The conversion of one note: the blocks made so far, the current one and the last segment made.
class Conversion {
public:
    Conversion(PrintNote_t *note, const FormatValue_t *segment, int screen)
        : note_(note), segment_(segment), tag_(segment->tag),
          width_(tag_->note_wrap_width < GNOTE_LEAST_WRAP_WIDTH ? GNOTE_DEFAULT_WRAP_WIDTH : tag_->note_wrap_width),
          size_(screen ? tag_->screen_size : tag_->print_size)
    {
    }

    void paragraph(const NoteElement_t *element)
    {
        finish_block();
        auto *record = Alloc(NotePrintBlock_t);
        // The last block is kept, not looked for: a note of many paragraphs converts in linear time.
        record->prior = last_block_;
        if (last_block_)
            last_block_->next = record;
        else
            note_->blocks = record;
        last_block_ = record;
        current_ = Block{record, {}};

        const char *position = element->p.text ? element->p.text : "";
        std::unique_ptr<char, SallocFree> line(gnote_convert2print_getfield(&position, size_, width_));
        // A paragraph followed by any element ends with one more, empty, print line.
        bool last = false, stop = false;
        // Each line goes after the one made before it (a paragraph's segments are all its lines),
        // so a long paragraph converts in linear time.
        FormatValue_t *tail = nullptr;
        for (std::size_t lines = 1; !stop; ++lines) {
            if (lines % SAFE_POINT_LINES == 0) check_signals();
            if (last) stop = true;
            if (!*position) {
                if (element->next)
                    last = true;
                else
                    stop = true;
            }
            FormatValue_t *v = new_segment(segment_, std::strlen(line.get()));
            link_segment_after(record, tail, v);
            tail = v;
            current_.strings.emplace_back(line.get());
            last_made_ = v;
            line.reset(gnote_convert2print_getfield(&position, size_, width_));
        }
    }

    void amount(const NoteElement_t *element)
    {
        if (!current_.record) Abort("Expecting a Note to commence with a paragraph");
        std::unique_ptr<char, SallocFree> text(gnote_format_amount(&element->am.value));
        FormatValue_t *v = new_segment(segment_, std::strlen(text.get()));
        v->tag->print_align = 1;
        v->position = segment_->position + tag_->note_extension_width;
        NotePrintBlock_t *block = current_.record;
        switch (tag_->note_type) {
        case 1: {
            // Just before the last segment made (the paragraph's closing empty line), its string
            // before that line's string.
            FormatValue_t *before = last_made_ ? last_made_->prior : nullptr;
            const int at = last_made_ ? position_of(block, last_made_) : 0;
            link_segment_after(block, before, v);
            current_.strings.insert(current_.strings.begin() + at, text.get());
            block->column = 0;
            break;
        }
        case 2:
            link_segment_after(block, block->items, v);
            current_.strings.insert(current_.strings.begin() + 1, text.get());
            block->column = 1;
            break;
        default:
            free_segments(v);
            Abort("Note print type must be one or two when printing a Note");
        }
        last_made_ = v;
    }

    void finish_block()
    {
        if (current_.record) store_text(current_);
    }

private:
    PrintNote_t *note_;
    const FormatValue_t *segment_;
    const PrintTag_t *tag_;
    double width_;
    int size_;
    Block current_{nullptr, {}};
    NotePrintBlock_t *last_block_ = nullptr;
    FormatValue_t *last_made_ = nullptr;
};

} // namespace

int gnote_convert2print_getsize(unsigned char character, int size)
{
    return width_codes[character] * size / 800;
}

char *gnote_convert2print_getfield(const char **position, int size, double width)
{
    const char *text = *position;
    const long limit = static_cast<long>(1530 * width);
    const int scaled = size * 100;
    std::size_t n = 0;
    long sum = 0;
    while (text[n] && text[n] != '\n' && sum < limit) {
        sum += gnote_convert2print_getsize(static_cast<unsigned char>(text[n]), scaled);
        ++n;
    }
    std::size_t length = n;
    const char after = text[n];
    if (after && after != '\n' && after != ' ') {
        // Cut back to the last space after the first byte; a word wider than the line is cut.
        for (std::size_t i = n; i-- > 1;)
            if (text[i] == ' ') {
                length = i;
                break;
            }
    }
    char *line = static_cast<char *>(salloc(length + 1));
    std::memcpy(line, text, length);
    *position = text + length + (text[length] == '\n' ? 1 : 0);
    return line;
}

void gnote_print_scratch_note(NoteData_t *note, const char *key)
{
    note->field_type = 2;
    note->index = 0;
    // A key longer than the number is cut: the number only names the note in reports.
    g_strlcpy(note->number, key ? key : "", sizeof note->number);
}

void gnote_free_print_blocks(NotePrintBlock_t *blocks)
{
    while (blocks) {
        NotePrintBlock_t *next = blocks->next;
        free_segments(blocks->items);
        sfree(blocks->text);
        sfree(blocks);
        blocks = next;
    }
}

void gnote_convert2print_note(PrintNote_t *print_note, const char *note_string, const FormatValue_t *segment,
                              int screen)
{
    ScratchNote note;
    gnote_print_scratch_note(&note.data, print_note->note);
    stop_on(gnote_parse_xml(&note.data, note_string, 0));

    gnote_free_print_blocks(print_note->blocks);
    print_note->blocks = nullptr;
    Conversion conversion(print_note, segment, screen);
    std::size_t elements = 0;
    for (const NoteElement_t *e = note.data.note; e; e = e->next) {
        if (++elements % SAFE_POINT_LINES == 0) check_signals();
        switch (e->type) {
        case CM_GNOTE_NOTE_TYPE_P:
            conversion.paragraph(e);
            break;
        case CM_GNOTE_NOTE_TYPE_AM:
            conversion.amount(e);
            break;
        case CM_GNOTE_NOTE_TYPE_TAG:
        case CM_GNOTE_NOTE_TYPE_HIDE:
            break;  // not printed
        default:
            Abort("Unexpected field type within a Note while attempting to encode for printing");
        }
    }
    conversion.finish_block();
}

char *gnote_convert2print_fetch(ControlMatrix_t *cm, const char *key)
{
    ControlMatrix_t *out_cm = nullptr;
    int index = 0;
    int closing = 0;
    char *text = nullptr;
    cinvoke_basic_routine(cm, &out_cm, AC_GET_NOTE, &index, nullptr, global_data, "IP$", key, 0, 1, &text, &closing,
                          0);
    if (closing) {
        g_free(text);
        Abort("Not permitted to exit from window here");
    }
    return text;
}

void gnote_convert2print(ControlMatrix_t *cm, PrintNote_t *print_note, const FormatValue_t *segment, int screen)
{
    const char *key = print_note->note ? print_note->note : "";
    std::unique_ptr<char, decltype(&g_free)> text(gnote_convert2print_fetch(cm, key), &g_free);
    gnote_convert2print_note(print_note, text.get(), segment, screen);
}
