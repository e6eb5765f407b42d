// Notes for the note model's tests: a scratch note record that frees its lists however a test
// ends, builders of elements, and a one-line-per-element dump to compare lists by.
#pragma once

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "mem_mgt.h"
#include "note_model.h"
#include "numerics.h"

namespace note_test {

// A zeroed scratch note record of version 1, with its lists freed at the end.
struct Note {
    NoteData_t *data = static_cast<NoteData_t *>(salloc(sizeof(NoteData_t)));
    Note() { data->version = 1; }
    ~Note()
    {
        gnote_free_xml(data);
        gnote_free_original_note(data);
        sfree(data);
    }
    Note(const Note &) = delete;
    Note &operator=(const Note &) = delete;
    NoteData_t *operator->() const { return data; }
};

// An abort text of the form "... @ <line>" against its pattern.
inline bool matches(const std::string &text, const char *pattern)
{
    return std::regex_match(text, std::regex(pattern));
}

struct Run {
    int start, end;
    bool operator==(const Run &) const = default;
};

// Sets one kind's runs of a paragraph (replacing what it had).
inline void set_runs(NoteElement_t *p, char kind, const std::vector<Run> &runs)
{
    std::int32_t **start = kind == 'b' ? &p->p.bold_start : kind == 'i' ? &p->p.italic_start : &p->p.underline_start;
    std::int32_t **end = kind == 'b' ? &p->p.bold_end : kind == 'i' ? &p->p.italic_end : &p->p.underline_end;
    std::int32_t *count = kind == 'b' ? &p->p.bold_count : kind == 'i' ? &p->p.italic_count : &p->p.underline_count;
    sfree(*start);
    sfree(*end);
    *start = *end = nullptr;
    *count = static_cast<std::int32_t>(runs.size());
    if (runs.empty()) return;
    *start = static_cast<std::int32_t *>(salloc(sizeof(std::int32_t) * runs.size()));
    *end = static_cast<std::int32_t *>(salloc(sizeof(std::int32_t) * runs.size()));
    for (std::size_t i = 0; i < runs.size(); ++i) {
        (*start)[i] = runs[i].start;
        (*end)[i] = runs[i].end;
    }
}

inline NoteElement_t *add_paragraph(Note &note, const std::string &text, const char *kind = "p")
{
    NoteElement_t *p = gmenu_parse_xml_add(note.data, kind);
    p->p.text = Strcpy(text.c_str());
    return p;
}

inline NoteElement_t *add_amount(Note &note, const char *value, int required = 0, int next = 0, int protect = 0,
                                 int orsec = 0, int orsecvalue = 0)
{
    NoteElement_t *a = gmenu_parse_xml_add(note.data, "am");
    if (value) NumericCvASC(value, static_cast<int>(std::strlen(value)), &a->am.value);
    else a->am.value.dec_pos = DECPOSNULL;
    a->am.required = required;
    a->am.next = next;
    a->am.protect = protect;
    a->am.orsec = orsec;
    a->am.orsecvalue = orsecvalue;
    return a;
}

inline NoteElement_t *add_tag(Note &note, const char *name, int start, const char *text = nullptr)
{
    NoteElement_t *t = gmenu_parse_xml_add(note.data, "tag");
    t->tag.name = name ? Strcpy(name) : nullptr;
    t->tag.text = text ? Strcpy(text) : nullptr;
    t->tag.start = start;
    return t;
}

inline std::string runs_text(char kind, const std::int32_t *start, const std::int32_t *end, int count)
{
    std::string s;
    for (int i = 0; i < count; ++i)
        s += std::string(" ") + kind + "[" + std::to_string(start[i]) + "," + std::to_string(end[i]) + ")";
    return s;
}

inline std::string amount_text(const dec_t &value)
{
    if (value.dec_pos == DECPOSNULL) return "null";
    char field[81];
    NumericToASC(&value, field, 80, 2);
    field[80] = '\0';
    return std::string(field, std::strcspn(field, " "));
}

// One line per element, for example
//   P "abcd" b[1,3) i[2,4)   H "x"   AM -1234.50 r1 n0 p0 s7 v5   TAG T1 start "text"
// and a check that the links and owners are consistent.
inline std::string dump(const NoteElement_t *list, const NoteData_t *owner)
{
    std::string s;
    const NoteElement_t *prior = nullptr;
    for (const NoteElement_t *e = list; e; prior = e, e = e->next) {
        if (e->prior != prior) s += "<bad prior link>\n";
        if (e->note_data != owner) s += "<bad owner>\n";
        switch (e->type) {
        case CM_GNOTE_NOTE_TYPE_P:
        case CM_GNOTE_NOTE_TYPE_HIDE: {
            const NoteParagraph_t &p = e->p;
            s += e->type == CM_GNOTE_NOTE_TYPE_P ? "P" : "H";
            if (std::strcmp(p.datatype, e->type == CM_GNOTE_NOTE_TYPE_P ? "P" : "H") != 0)
                s += std::string("(") + p.datatype + ")";
            s += p.text ? " \"" + std::string(p.text) + "\"" : std::string(" null");
            s += runs_text('b', p.bold_start, p.bold_end, p.bold_count);
            s += runs_text('i', p.italic_start, p.italic_end, p.italic_count);
            s += runs_text('u', p.underline_start, p.underline_end, p.underline_count);
            break;
        }
        case CM_GNOTE_NOTE_TYPE_AM: {
            const NoteAmount_t &a = e->am;
            s += "AM " + amount_text(a.value) + " r" + std::to_string(a.required) + " n" + std::to_string(a.next) +
                 " p" + std::to_string(a.protect) + " s" + std::to_string(a.orsec) + " v" +
                 std::to_string(a.orsecvalue);
            break;
        }
        case CM_GNOTE_NOTE_TYPE_TAG:
            s += std::string("TAG ") + (e->tag.name ? e->tag.name : "null") + (e->tag.start ? " start" : " end") +
                 (e->tag.text ? " \"" + std::string(e->tag.text) + "\"" : std::string(" null"));
            break;
        default:
            s += "type " + std::to_string(e->type);
        }
        s += "\n";
    }
    return s;
}

inline std::string dump(const Note &note)
{
    return dump(note.data->note, note.data);
}

} // namespace note_test
