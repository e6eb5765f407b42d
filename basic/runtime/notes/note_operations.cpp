// Note operations on note text (see note_operations.h): the INOTE_* intrinsics and the list
// operations behind them.
#include "note_operations.h"

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cases.h"
#include "gdata.h"
#include "mem_mgt.h"
#include "message.h"
#include "read_error.h"
#include "run_time.h"
#include "text_escape.h"

using namespace std::string_view_literals;

namespace {

using intr::arg;

// ---- The element list ------------------------------------------------------------------------------

bool is_tag(const NoteElement_t *e) { return e && e->type == CM_GNOTE_NOTE_TYPE_TAG; }
bool is_tag_named(const NoteElement_t *e, const char *name)
{
    return is_tag(e) && std::strcmp(e->tag.name, name) == 0;
}
bool is_empty_paragraph(const NoteElement_t *e)
{
    return e && e->type == CM_GNOTE_NOTE_TYPE_P && (!e->p.text || !e->p.text[0]);
}

NoteElement_t *last_element(const NoteData_t *note)
{
    NoteElement_t *e = note->note;
    while (e && e->next) e = e->next;
    return e;
}

// Links element into the note's list right after `after`, or first when after is null.
void link_after(NoteData_t *note, NoteElement_t *after, NoteElement_t *element)
{
    if (after)
        note_link_after(after, element);
    else
        note_link_before(&note->note, note->note, element);
}

// Unlinks element from the note's list and frees it with what it owns.
void remove_element(NoteData_t *note, NoteElement_t *element)
{
    note_unlink(&note->note, element);
    switch (element->type) {
    case CM_GNOTE_NOTE_TYPE_AM:
        gnote_free_xml_am(&element);
        break;
    case CM_GNOTE_NOTE_TYPE_TAG:
        gnote_free_xml_tag(&element);
        break;
    default:
        gnote_free_xml_p(&element);
    }
}

// A new, unlinked element of the note. gmenu_parse_xml_add_tag makes it without linking it.
NoteElement_t *new_paragraph(NoteData_t *note)
{
    NoteElement_t *p = gmenu_parse_xml_add_tag(note, "p");
    p->p.text = static_cast<char *>(salloc(1));
    return p;
}

NoteElement_t *new_amount(NoteData_t *note, const dec_t &value)
{
    NoteElement_t *a = gmenu_parse_xml_add_tag(note, "a");
    a->am.value = value;
    return a;
}

NoteElement_t *new_tag(NoteData_t *note, const char *name, const char *text, int start)
{
    NoteElement_t *t = gmenu_parse_xml_add_tag(note, "t");
    t->tag.name = static_cast<char *>(salloc(std::strlen(name) + 1));
    std::strcpy(t->tag.name, name);
    t->tag.text = static_cast<char *>(salloc(std::strlen(text) + 1));
    std::strcpy(t->tag.text, text);
    t->tag.start = start;
    return t;
}

// The pieces of text between blank lines ("\n\n", dropped); one empty piece for an empty text.
std::vector<std::string_view> pieces_of(std::string_view text)
{
    std::vector<std::string_view> pieces;
    for (;;) {
        const std::size_t cut = text.find("\n\n"sv);
        pieces.push_back(text.substr(0, cut));
        if (cut == std::string_view::npos) return pieces;
        text.remove_prefix(cut + 2);
    }
}

// Replaces the text of paragraph p by the decoded content (run marks and entities); p stays as it
// was when the content does not read.
ReadError fill_paragraph(NoteElement_t *p, std::string_view content)
{
    char *decoded = nullptr;
    if (ReadError error = gnote_parse_xml_cdata(p, content, &decoded)) return error;
    sfree(p->p.text);
    p->p.text = decoded;
    return {};
}

// Puts the text's pieces into paragraphs from `at` on: into `at` itself when it is an empty
// paragraph, else into a new paragraph after it (first in the list when at is null); each further
// piece gets a paragraph after the previous one. literal escapes mark-up characters first, so
// they stay plain. The last paragraph filled goes to *last. A piece whose content does not read
// ends the filling with the reader's error, the paragraphs put in so far left in the note.
ReadError put_text(NoteData_t *note, NoteElement_t *at, std::string_view text, bool literal, NoteElement_t **last)
{
    NoteElement_t *paragraph = at;
    bool first = true;
    for (std::string_view piece : pieces_of(text)) {
        if (!first || !is_empty_paragraph(paragraph)) {
            NoteElement_t *p = new_paragraph(note);
            link_after(note, paragraph, p);
            paragraph = p;
        }
        first = false;
        if (ReadError error = literal ? fill_paragraph(paragraph, fn_escape_string(std::string(piece)))
                                      : fill_paragraph(paragraph, piece))
            return error;
    }
    *last = paragraph;
    return {};
}

// With an amount: the amount after `after`, then an empty paragraph after it.
void put_amount(NoteData_t *note, NoteElement_t *after, const dec_t *amount)
{
    if (!amount) return;
    NoteElement_t *a = new_amount(note, *amount);
    link_after(note, after, a);
    link_after(note, a, new_paragraph(note));
}

// ---- The common frame ------------------------------------------------------------------------------

// A scratch note record for one operation; its lists go with it, also when the run is stopped.
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

void log_call(const char *what)
{
    if ((global_data ? global_data->log_level_lumbas : Lumba_Log_Level) > 2) mlog(3, "Do %s", what);
}

// String argument i, cut of its trailing white space.
std::string trimmed(int nargs, int last, int i)
{
    std::string text(intr::text(arg(nargs, last, i)));
    gnote_trim(text.data());
    text.resize(std::strlen(text.c_str()));
    return text;
}

// A flag argument that must be 0 or 1; flag names it in the refusal.
int flag_argument(int nargs, int last, int i, const char *flag)
{
    const int value = intr::integer(arg(nargs, last, i));
    if (value != 0 && value != 1) Abort("Invalid value %d provided for the %s Flag", value, flag);
    return value;
}

// Reads the note string into the scratch note, compacted as these operations work on it. A note
// that begins with an amount is refused before anything is done to it: the writer could not write
// it back, and a program is to get the same clean stop that printing such a note gives.
void read_note(ScratchNote &note, const std::string &text)
{
    stop_on(gnote_parse_xml(&note.data, text.c_str(), 1));
    if (note.data.note && note.data.note->type == CM_GNOTE_NOTE_TYPE_AM)
        Abort("Expecting a Note to commence with a paragraph");
}

// Writes the note back into the first argument's variable, normalised. A deletion can leave an
// amount first (a block taken out from before it): that stops as cleanly as reading such a note.
void write_note(ScratchNote &note, int nargs, int last, const char *intrinsic)
{
    if (note.data.note && note.data.note->type == CM_GNOTE_NOTE_TYPE_AM)
        Abort("Expecting a Note to commence with a paragraph");
    std::unique_ptr<char, SallocFree> xml(gnote_get_xml(&note.data));
    intr::store_text(arg(nargs, last, 0), xml.get(), intrinsic);
}

} // namespace

// ---- The list operations ----------------------------------------------------------------------------

ReadError note_block_tag_append_tags(NoteData_t *note, const char *name, const char *start_text, const char *end_text,
                                     const char *text, const dec_t *amount)
{
    if (note_check_block_tag_exists(note, name)) return {};
    NoteElement_t *start = new_tag(note, name, start_text, 1);
    note_link_before(&note->note, nullptr, start);
    NoteElement_t *paragraph = nullptr;
    if (ReadError error = put_text(note, start, text ? text : "", false, &paragraph)) return error;
    put_amount(note, paragraph, amount);
    NoteElement_t *end = new_tag(note, name, end_text, 0);
    note_link_before(&note->note, nullptr, end);
    link_after(note, end, new_paragraph(note));
    return {};
}

ReadError note_text_append_text(NoteData_t *note, const char *text, const dec_t *amount)
{
    // An empty note (an empty list) takes the text as its first paragraph.
    NoteElement_t *paragraph = nullptr;
    if (ReadError error = put_text(note, last_element(note), text, true, &paragraph)) return error;
    put_amount(note, paragraph, amount);
    return {};
}

int note_check_block_tag_exists(const NoteData_t *note, const char *name)
{
    for (const NoteElement_t *e = note->note; e; e = e->next)
        if (is_tag_named(e, name)) return 1;
    return 0;
}

ReadError note_insert_text_in_tags(NoteData_t *note, const char *name, const char *text, int at_start,
                                   const dec_t *amount, int *found)
{
    *found = 0;
    NoteElement_t *tag = note->note;
    while (tag && !(is_tag_named(tag, name) && tag->tag.start == at_start)) tag = tag->next;
    if (!tag) return {};
    // The runs of consecutive tags stepped over stop at the block's own other tag, so that the
    // text for a block holding nothing lands between its two tags.
    auto own_other = [&](const NoteElement_t *e) { return is_tag_named(e, name) && e->tag.start != at_start; };
    NoteElement_t *at;
    if (at_start) {
        at = tag;
        while (is_tag(at->next) && !own_other(at->next)) at = at->next;
    } else {
        NoteElement_t *run = tag;
        while (is_tag(run->prior) && !own_other(run->prior)) run = run->prior;
        at = run->prior ? run->prior : note->note;
    }
    NoteElement_t *paragraph = nullptr;
    if (ReadError error = put_text(note, at, text, false, &paragraph)) return error;
    put_amount(note, paragraph, amount);
    *found = 1;
    return {};
}

int note_delete_tag_text(NoteData_t *note, const char *name, int delete_tags, int delete_text)
{
    if (!delete_tags && !delete_text) return 0;
    int found = 0;
    int inside = 0;
    for (NoteElement_t *e = note->note, *next; e; e = next) {
        NoteElement_t *before = e->prior;
        bool removed = false;
        if (is_tag_named(e, name)) {
            found = 1;
            inside = e->tag.start;
            if (delete_tags) {
                remove_element(note, e);
                removed = true;
            }
        } else if (inside) {
            switch (e->type) {
            case CM_GNOTE_NOTE_TYPE_P:
            case CM_GNOTE_NOTE_TYPE_HIDE:  // a hidden comment is text of the block like any other
            case CM_GNOTE_NOTE_TYPE_AM:
                if (delete_text) {
                    remove_element(note, e);
                    removed = true;
                }
                break;
            case CM_GNOTE_NOTE_TYPE_TAG:
                // A block of another name inside goes with its tags and text, when its other tag
                // comes before the next tag of this name; else it stays whole.
                if (e->tag.start && delete_tags && delete_text) {
                    NoteElement_t *other = e->next;
                    while (other && !is_tag_named(other, name) && !is_tag_named(other, e->tag.name))
                        other = other->next;
                    if (other && !is_tag_named(other, name)) {
                        remove_element(note, other);
                        remove_element(note, e);
                        removed = true;
                    }
                }
                break;
            default:
                Abort("Unexpected Note tag type %d", e->type);
            }
        }
        // Go on with what follows the current element in the list as it now stands.
        next = removed ? (before ? before->next : note->note) : e->next;
    }
    return found;
}

// ---- The intrinsics ----------------------------------------------------------------------------------

void note_append_block_tag(int nargs, int last)
{
    log_call("inote_append_block_tag");
    if (nargs < 4 || nargs > 6) Abort("inote_append_block_tag may have four, five, or six parameters");
    const std::string text = trimmed(nargs, last, 0);
    const std::string name = trimmed(nargs, last, 1);
    const std::string start_text = trimmed(nargs, last, 2);
    const std::string end_text = trimmed(nargs, last, 3);
    const std::string paragraph = nargs >= 5 ? trimmed(nargs, last, 4) : std::string();
    const dec_t *amount = nargs == 6 ? intr::number(arg(nargs, last, 5)) : nullptr;
    // A tag the note string could not hold is refused before anything changes.
    gnote_check_tag(name.c_str(), start_text.c_str());
    gnote_check_tag(name.c_str(), end_text.c_str());
    ScratchNote note;
    read_note(note, text);
    stop_on(note_block_tag_append_tags(&note.data, name.c_str(), start_text.c_str(), end_text.c_str(),
                                       nargs >= 5 ? paragraph.c_str() : nullptr, amount));
    write_note(note, nargs, last, "INOTE_APPEND_BLOCK_TAG");
}

void note_append_text(int nargs, int last)
{
    log_call("inote_append_text");
    if (nargs < 2 || nargs > 3) Abort("inote_append_text must have two or three parameters");
    const std::string text = trimmed(nargs, last, 0);
    const std::string paragraph = trimmed(nargs, last, 1);
    const dec_t *amount = nargs == 3 ? intr::number(arg(nargs, last, 2)) : nullptr;
    ScratchNote note;
    read_note(note, text);
    stop_on(note_text_append_text(&note.data, paragraph.c_str(), amount));
    write_note(note, nargs, last, "INOTE_APPEND_TEXT");
}

void note_check_block_tag(int nargs, int last, Stack *result)
{
    log_call("inote_check_block_tag");
    if (nargs != 2) Abort("inote_check_block_tag must have two parameters");
    const std::string text = trimmed(nargs, last, 0);
    const std::string name = trimmed(nargs, last, 1);
    ScratchNote note;
    read_note(note, text);
    intr::set_number(result, note_check_block_tag_exists(&note.data, name.c_str()));
}

void note_delete(int nargs, int last, Stack *result)
{
    log_call("inote_delete");
    if (nargs != 4) Abort("inote_delete must have four parameters");
    const std::string text = trimmed(nargs, last, 0);
    const std::string name = trimmed(nargs, last, 1);
    const int tags = flag_argument(nargs, last, 2, "Tag Deletion");
    const int texts = flag_argument(nargs, last, 3, "Text Deletion");
    ScratchNote note;
    read_note(note, text);
    const int found = note_delete_tag_text(&note.data, name.c_str(), tags, texts);
    write_note(note, nargs, last, "INOTE_DELETE");
    intr::set_number(result, found);
}

void note_insert_text(int nargs, int last, Stack *result)
{
    log_call("inote_insert_text");
    if (nargs < 3 || nargs > 5) Abort("inote_insert_text may have three, four, or five parameters");
    const std::string text = trimmed(nargs, last, 0);
    const std::string name = trimmed(nargs, last, 1);
    const std::string paragraph = trimmed(nargs, last, 2);
    const int at_start = nargs >= 4 ? flag_argument(nargs, last, 3, "Insertion Position") : 1;
    const dec_t *amount = nargs == 5 ? intr::number(arg(nargs, last, 4)) : nullptr;
    ScratchNote note;
    read_note(note, text);
    int found = 0;
    stop_on(note_insert_text_in_tags(&note.data, name.c_str(), paragraph.c_str(), at_start, amount, &found));
    write_note(note, nargs, last, "INOTE_INSERT_TEXT");
    intr::set_number(result, found);
}
