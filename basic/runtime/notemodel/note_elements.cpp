// The element list of a note: making, appending, freeing, copying and comparing elements, runs
// being recorded, and the amount text. See note_model.h.
#include "note_model.h"

#include <cstring>

#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"

namespace {

char *copy_or_null(const char *text)
{
    return text ? Strcpy(text) : nullptr;
}

std::int32_t *copy_positions(const std::int32_t *positions, int count)
{
    if (!positions || count <= 0) return nullptr;
    auto *copy = static_cast<std::int32_t *>(salloc(sizeof(std::int32_t) * count));
    std::memcpy(copy, positions, sizeof(std::int32_t) * count);
    return copy;
}

void copy_state(NoteElement_t *to, const NoteElement_t *from)
{
    to->focus = from->focus;
    to->selected = from->selected;
    to->press_mark = from->press_mark;
    to->release_mark = from->release_mark;
    to->release_sec = from->release_sec;
    to->release_usec = from->release_usec;
}

// The edit-window references of a paragraph, which every copy carries over.
void copy_paragraph_views(NoteParagraph_t &to, const NoteParagraph_t &from)
{
    to.buffer = from.buffer;
    to.view = from.view;
    to.bold_tag = from.bold_tag;
    to.italic_tag = from.italic_tag;
    to.underline_tag = from.underline_tag;
    to.click_controller = from.click_controller;
    to.key_controller = from.key_controller;
    to.focus_controller = from.focus_controller;
    to.motion_controller = from.motion_controller;
}

void copy_amount_widgets(NoteAmount_t &to, const NoteAmount_t &from)
{
    to.key_controller = from.key_controller;
    to.focus_controller = from.focus_controller;
    to.motion_controller = from.motion_controller;
    to.box = from.box;
    to.input = from.input;
}

void copy_amount_settings(NoteAmount_t &to, const NoteAmount_t &from)
{
    to.required = from.required;
    to.next = from.next;
    to.protect = from.protect;
    to.orsec = from.orsec;
    to.orsecvalue = from.orsecvalue;
}

void free_paragraph_parts(NoteParagraph_t &p)
{
    sfree(p.text);
    sfree(p.bold_start);
    sfree(p.bold_end);
    sfree(p.italic_start);
    sfree(p.italic_end);
    sfree(p.underline_start);
    sfree(p.underline_end);
    sfree(p.extra1);
    sfree(p.extra2);
}

void free_element(NoteElement_t *element)
{
    if (element->type == CM_GNOTE_NOTE_TYPE_P || element->type == CM_GNOTE_NOTE_TYPE_HIDE)
        free_paragraph_parts(element->p);
    else if (element->type == CM_GNOTE_NOTE_TYPE_TAG) {
        sfree(element->tag.name);
        sfree(element->tag.text);
    }
    sfree(element);
}

bool known_type(int type)
{
    return type >= CM_GNOTE_NOTE_TYPE_P && type <= CM_GNOTE_NOTE_TYPE_HIDE;
}

// Frees *list element by element. The list stays whole until an element of an unknown type ends
// the run, so what is left can still be freed.
template <class Refuse> void free_list(NoteElement_t **list, Refuse refuse)
{
    while (NoteElement_t *element = *list) {
        if (!known_type(element->type)) refuse(element->type);
        *list = element->next;
        if (*list) (*list)->prior = nullptr;
        free_element(element);
    }
}

// The start array, end array and count of one kind of run.
struct Runs {
    std::int32_t **start, **end, *count;
    const char *title;  // for the messages
};

bool runs_of(NoteElement_t *element, const char *kind, Runs &runs)
{
    NoteParagraph_t &p = element->p;
    switch (kind ? kind[0] : '\0') {
    case 'b': runs = {&p.bold_start, &p.bold_end, &p.bold_count, "Bold"}; return true;
    case 'i': runs = {&p.italic_start, &p.italic_end, &p.italic_count, "Italic"}; return true;
    case 'u': runs = {&p.underline_start, &p.underline_end, &p.underline_count, "Underline"}; return true;
    default: return false;
    }
}

bool same_text(const char *a, const char *b)
{
    if (!a || !b) return a == b;
    return std::strcmp(a, b) == 0;
}

bool same_positions(const std::int32_t *a, const std::int32_t *b, int count)
{
    if (count <= 0) return true;
    if (!a || !b) return a == b;
    return std::memcmp(a, b, sizeof(std::int32_t) * count) == 0;
}

// Both kinds' runs equal, when either has any.
bool same_runs(int count_a, const std::int32_t *start_a, const std::int32_t *end_a, int count_b,
               const std::int32_t *start_b, const std::int32_t *end_b)
{
    if (!count_a && !count_b) return true;
    return count_a == count_b && same_positions(start_a, start_b, count_a) && same_positions(end_a, end_b, count_a);
}

bool same_extra(int count_a, const std::int32_t *a, int count_b, const std::int32_t *b)
{
    if (!count_a && !count_b) return true;
    return count_a == count_b && same_positions(a, b, count_a);
}

bool same_paragraph(const NoteParagraph_t &a, const NoteParagraph_t &b)
{
    return std::strncmp(a.datatype, b.datatype, sizeof a.datatype) == 0 && a.position == b.position &&
           same_text(a.text, b.text) &&
           same_runs(a.bold_count, a.bold_start, a.bold_end, b.bold_count, b.bold_start, b.bold_end) &&
           same_runs(a.italic_count, a.italic_start, a.italic_end, b.italic_count, b.italic_start, b.italic_end) &&
           same_runs(a.underline_count, a.underline_start, a.underline_end, b.underline_count, b.underline_start,
                     b.underline_end) &&
           same_extra(a.extra1_count, a.extra1, b.extra1_count, b.extra1) &&
           same_extra(a.extra2_count, a.extra2, b.extra2_count, b.extra2);
}

bool same_amount(const NoteAmount_t &a, const NoteAmount_t &b)
{
    return a.required == b.required && a.next == b.next && a.protect == b.protect && a.orsec == b.orsec &&
           a.orsecvalue == b.orsecvalue && NumericCmp(&a.value, &b.value) == 0;
}

bool same_tag(const NoteTag_t &a, const NoteTag_t &b)
{
    return same_text(a.name, b.name) && same_text(a.text, b.text) && a.start == b.start;
}

int hidden_visible_of(const NoteElement_t *element)
{
    return element && element->note_data ? element->note_data->hidden_visible : 0;
}

} // namespace

NoteElement_t *gmenu_parse_xml_add_tag(NoteData_t *note_data, const char *kind)
{
    auto *element = static_cast<NoteElement_t *>(salloc(sizeof(NoteElement_t)));
    element->note_data = note_data;
    switch (kind ? kind[0] : '\0') {
    case 'p':
        element->type = CM_GNOTE_NOTE_TYPE_P;
        std::strcpy(element->p.datatype, "P");
        break;
    case 'P':
        element->type = CM_GNOTE_NOTE_TYPE_P;
        break;
    case 'h':
    case 'H':
        element->type = CM_GNOTE_NOTE_TYPE_HIDE;
        std::strcpy(element->p.datatype, "H");
        break;
    case 'a':
        element->type = CM_GNOTE_NOTE_TYPE_AM;
        NumericCvINT(0, &element->am.value);
        break;
    case 't':
        element->type = CM_GNOTE_NOTE_TYPE_TAG;
        break;
    default:
        sfree(element);
        Abort("gmenu_parse_xml_add: Tag type not yet coded @ %d", GNOTE_UNKNOWN_KIND_LINE);
    }
    return element;
}

NoteElement_t *gmenu_parse_xml_add(NoteData_t *note_data, const char *kind)
{
    NoteElement_t *element = gmenu_parse_xml_add_tag(note_data, kind);
    NoteElement_t *last = note_data->note;
    while (last && last->next) last = last->next;
    return note_append(&note_data->note, last, element);
}

void note_link_after(NoteElement_t *at, NoteElement_t *e)
{
    e->prior = at;
    e->next = at->next;
    if (at->next) at->next->prior = e;
    at->next = e;
}

void note_link_before(NoteElement_t **head, NoteElement_t *at, NoteElement_t *e)
{
    if (!at) {
        NoteElement_t *last = *head;
        while (last && last->next) last = last->next;
        if (last) {
            note_link_after(last, e);
            return;
        }
    }
    e->prior = at ? at->prior : nullptr;
    e->next = at;
    (e->prior ? e->prior->next : *head) = e;
    if (at) at->prior = e;
}

void note_unlink(NoteElement_t **head, NoteElement_t *e)
{
    (e->prior ? e->prior->next : *head) = e->next;
    if (e->next) e->next->prior = e->prior;
    e->next = e->prior = nullptr;
}

NoteElement_t *note_append(NoteElement_t **head, NoteElement_t *tail, NoteElement_t *e)
{
    if (tail)
        note_link_after(tail, e);
    else
        note_link_before(head, nullptr, e);  // the list is empty: e is its head
    return e;
}

void gnote_free_xml(NoteData_t *note_data)
{
    free_list(&note_data->note, [](int type) { Abort("Unexpected note type %d in gnote_free_xml:%d", type, __LINE__); });
}

void gnote_free_original_note(NoteData_t *note_data)
{
    free_list(&note_data->original,
              [](int type) { Abort("Unexpected note type %d in gnote_free_original_note @ %d", type, __LINE__); });
}

void gnote_free_xml_p(NoteElement_t **element)
{
    if (!*element) return;
    free_paragraph_parts((*element)->p);
    sfree(*element);
    *element = nullptr;
}

void gnote_free_xml_am(NoteElement_t **element)
{
    sfree(*element);
    *element = nullptr;
}

void gnote_free_xml_tag(NoteElement_t **element)
{
    if (!*element) return;
    sfree((*element)->tag.name);
    sfree((*element)->tag.text);
    sfree(*element);
    *element = nullptr;
}

void gnote_copy_note_shell(NoteData_t *note_data, const NoteElement_t *list)
{
    note_data->note = nullptr;
    NoteElement_t *tail = nullptr;
    for (const NoteElement_t *from = list; from; from = from->next) {
        NoteElement_t *to;
        switch (from->type) {
        case CM_GNOTE_NOTE_TYPE_TAG:
            to = gmenu_parse_xml_add_tag(note_data, "tag");
            to->tag.name = copy_or_null(from->tag.name);
            to->tag.text = copy_or_null(from->tag.text);
            to->tag.start = from->tag.start;
            to->tag.view = from->tag.view;
            break;
        case CM_GNOTE_NOTE_TYPE_AM:
            to = gmenu_parse_xml_add_tag(note_data, "am");
            copy_amount_widgets(to->am, from->am);
            copy_amount_settings(to->am, from->am);
            break;
        case CM_GNOTE_NOTE_TYPE_P:
        case CM_GNOTE_NOTE_TYPE_HIDE:
            to = gmenu_parse_xml_add_tag(note_data, from->type == CM_GNOTE_NOTE_TYPE_P ? "p" : "hide");
            copy_paragraph_views(to->p, from->p);
            std::memcpy(to->p.datatype, from->p.datatype, sizeof to->p.datatype);
            to->p.position = from->p.position;
            // A hidden paragraph's text is not edited, so the shell keeps it.
            if (from->type == CM_GNOTE_NOTE_TYPE_HIDE) to->p.text = copy_or_null(from->p.text);
            break;
        default:
            Abort("Unexpected note type %d in gnote_copy_note_shell:%d", from->type, __LINE__);
        }
        copy_state(to, from);
        tail = note_append(&note_data->note, tail, to);
    }
}

int gnote_add_format_tag_position(NoteElement_t *element, const char *kind, int position, int open)
{
    if (open) Abort("Unexpected mismatch in start and end %s format tags %d", kind, position);
    Runs runs;
    if (!runs_of(element, kind, runs)) Abort("Unexpected format type in gnote_add_format_tag_position");
    if (!*runs.start && *runs.count != 0)
        Abort("%s format length should be zero when there is no postion data recorded", runs.title);
    const int count = *runs.count + 1;
    *runs.start = static_cast<std::int32_t *>(srealloc(*runs.start, sizeof(std::int32_t) * count));
    *runs.end = static_cast<std::int32_t *>(srealloc(*runs.end, sizeof(std::int32_t) * count));
    (*runs.start)[count - 1] = position;
    (*runs.end)[count - 1] = -1;
    *runs.count = count;
    return 1;
}

int gnote_end_format_tag_position(NoteElement_t *element, const char *kind, int position, int open)
{
    Runs runs;
    if (!runs_of(element, kind, runs)) Abort("Unexpected format type in gnote_end_format_tag_position");
    // Open with no run recorded is the same mismatch: there is nothing to end.
    if (!open || *runs.count <= 0 || !*runs.end)
        Abort("Unexpected mismatch in end and start %s format tags %d", kind, position);
    (*runs.end)[*runs.count - 1] = position;
    return 0;
}

int gnote_compare_notes(int modified, const NoteElement_t *a, const NoteElement_t *b)
{
    if (modified || hidden_visible_of(a) != hidden_visible_of(b)) return 1;
    const bool hidden_shown = a && a->note_data && gnote_hidden_shown(a->note_data);
    for (; a && b; a = a->next, b = b->next) {
        if (a->type != b->type) return 1;
        switch (a->type) {
        case CM_GNOTE_NOTE_TYPE_TAG:
            if (!same_tag(a->tag, b->tag)) return 1;
            break;
        case CM_GNOTE_NOTE_TYPE_AM:
            if (!same_amount(a->am, b->am)) return 1;
            break;
        case CM_GNOTE_NOTE_TYPE_HIDE:
            // Hidden paragraphs cannot be edited while they are not shown.
            if (hidden_shown && !same_paragraph(a->p, b->p)) return 1;
            break;
        case CM_GNOTE_NOTE_TYPE_P:
            if (!same_paragraph(a->p, b->p)) return 1;
            break;
        default:
            Abort("gnote_compare_notes: Unexpected note content type @ %d", __LINE__);
        }
    }
    return a || b ? 1 : 0;
}

bool gnote_hidden_shown(const NoteData_t *note_data)
{
    return note_data->hidden_visible || note_data->mode == GNOTE_MODE_TEMPLATE;
}

int gnote_cmp_short_text(const char *a, const char *b)
{
    return same_text(a, b) ? 1 : 0;
}

void gnote_save_original(NoteData_t *note_data)
{
    gnote_free_original_note(note_data);
    NoteElement_t *tail = nullptr;
    for (const NoteElement_t *from = note_data->note; from; from = from->next) {
        NoteElement_t *to;
        switch (from->type) {
        case CM_GNOTE_NOTE_TYPE_TAG:
            to = gmenu_parse_xml_add_tag(note_data, "tag");
            to->tag.name = copy_or_null(from->tag.name);
            to->tag.text = copy_or_null(from->tag.text);
            to->tag.start = from->tag.start;
            to->tag.view = from->tag.view;
            break;
        case CM_GNOTE_NOTE_TYPE_AM:
            if (!from->prior) Abort("Must start with a paragraph");
            to = gmenu_parse_xml_add_tag(note_data, "am");
            copy_amount_settings(to->am, from->am);
            to->am.value = from->am.value;
            copy_amount_widgets(to->am, from->am);
            break;
        case CM_GNOTE_NOTE_TYPE_P:
        case CM_GNOTE_NOTE_TYPE_HIDE: {
            to = gmenu_parse_xml_add_tag(note_data, from->type == CM_GNOTE_NOTE_TYPE_P ? "p" : "h");
            const NoteParagraph_t &f = from->p;
            NoteParagraph_t &t = to->p;
            t.text = copy_or_null(f.text);
            t.position = f.position;
            copy_paragraph_views(t, f);
            t.bold_start = copy_positions(f.bold_start, f.bold_count);
            t.bold_end = copy_positions(f.bold_end, f.bold_count);
            t.bold_count = t.bold_start ? f.bold_count : 0;
            t.italic_start = copy_positions(f.italic_start, f.italic_count);
            t.italic_end = copy_positions(f.italic_end, f.italic_count);
            t.italic_count = t.italic_start ? f.italic_count : 0;
            t.underline_start = copy_positions(f.underline_start, f.underline_count);
            t.underline_end = copy_positions(f.underline_end, f.underline_count);
            t.underline_count = t.underline_start ? f.underline_count : 0;
            break;
        }
        default:
            Abort("Unexpected Note element type @ %s:%d", "gnote_save_original", __LINE__);
        }
        tail = note_append(&note_data->original, tail, to);
    }
}

char *gnote_format_amount(const dec_t *value)
{
    dec_t zero;
    NumericCvINT(0, &zero);
    if (NumericCmp(value, &zero) == 0) return Strcpy("nil");
    char field[64];
    NumericToASC(value, field, 63, 2);
    field[63] = '\0';
    const std::size_t length = std::strcspn(field, " ");
    if (length == 0) return Strcpy("nil");
    // Backwards from the last character, counting from 1: the characters counted 6, 9, 12, ...
    // begin the groups of three integer digits after the point and its two decimals.
    char grouped[96];
    std::size_t out = sizeof grouped - 1;
    grouped[out] = '\0';
    for (std::size_t count = 1; count <= length; ++count) {
        const std::size_t left = length - count;  // characters still before this one
        grouped[--out] = field[left];
        if (count > 3 && count % 3 == 0 && left > 0 && !(left == 1 && field[0] == '-')) grouped[--out] = ',';
    }
    return Strcpy(grouped + out);
}

void gnote_check_tag(const char *name, const char *text)
{
    if (!name) name = "";
    if (std::strlen(name) > GNOTE_TAG_NAME_MAX)
        Abort("Block tag name longer than %d bytes", GNOTE_TAG_NAME_MAX);
    if (std::strpbrk(name, "\">")) Abort("Block tag name '%s' holds '\"' or '>'", name);
    if (!text) return;
    if (std::strlen(text) > GNOTE_TAG_TEXT_MAX)
        Abort("Text of block tag '%s' longer than %d bytes", name, GNOTE_TAG_TEXT_MAX);
    if (std::strstr(text, "</tag>")) Abort("Text of block tag '%s' holds '</tag>'", name);
}
