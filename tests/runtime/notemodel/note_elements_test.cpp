// The element list of a note: the constructors, freeing, copying, comparing, runs being recorded,
// the tag check and the amount text.
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "note_test_util.h"
#include "test_host.h"

namespace {

using lumba_test::abort_text;
using namespace note_test;

// A reference that stands for a widget of the edit window; never followed.
template <class T> T *fake(std::uintptr_t n)
{
    return reinterpret_cast<T *>(n * 16);
}

TEST(NoteElements, KindsMakeTheirElements)
{
    struct Case {
        const char *kind;
        int type;
        const char *datatype;
    };
    const Case cases[] = {{"p", CM_GNOTE_NOTE_TYPE_P, "P"},      {"P", CM_GNOTE_NOTE_TYPE_P, ""},
                          {"hide", CM_GNOTE_NOTE_TYPE_HIDE, "H"}, {"h", CM_GNOTE_NOTE_TYPE_HIDE, "H"},
                          {"H", CM_GNOTE_NOTE_TYPE_HIDE, "H"},    {"am", CM_GNOTE_NOTE_TYPE_AM, ""},
                          {"tag", CM_GNOTE_NOTE_TYPE_TAG, ""}};
    for (const Case &c : cases) {
        Note note;
        NoteElement_t *e = gmenu_parse_xml_add_tag(note.data, c.kind);
        EXPECT_EQ(e->type, c.type) << c.kind;
        EXPECT_EQ(e->note_data, note.data) << c.kind;
        EXPECT_EQ(e->next, nullptr);
        EXPECT_EQ(e->prior, nullptr);
        EXPECT_EQ(note->note, nullptr) << "not linked";
        if (c.type == CM_GNOTE_NOTE_TYPE_AM) {
            EXPECT_EQ(amount_text(e->am.value), "0.00");
        } else if (c.type == CM_GNOTE_NOTE_TYPE_TAG) {
            EXPECT_EQ(e->tag.start, 0);
            EXPECT_EQ(e->tag.name, nullptr);
            EXPECT_EQ(e->tag.text, nullptr);
        } else {
            EXPECT_STREQ(e->p.datatype, c.datatype) << c.kind;
            EXPECT_EQ(e->p.position, 0);
            EXPECT_EQ(e->p.text, nullptr);
        }
        note->note = e;
    }
    for (const char *kind : {"x", "", "Am"}) {
        Note note;
        EXPECT_PRED2(matches, abort_text([&] { gmenu_parse_xml_add_tag(note.data, kind); }), ("gmenu_parse_xml_add: Tag type not yet coded @ [0-9]+"))
            << kind;
    }
}

TEST(NoteElements, AddAppendsAtTheEnd)
{
    Note note;
    add_paragraph(note, "a");
    add_amount(note, "1.5", 1, 0, 1, 2, 3);
    add_tag(note, "T", 1, "t");
    add_paragraph(note, "h", "hide");
    EXPECT_EQ(dump(note), "P \"a\"\nAM 1.50 r1 n0 p1 s2 v3\nTAG T start \"t\"\nH \"h\"\n");
}

// The list's links: each case links a new paragraph "x" into, or unlinks one paragraph from, the
// list of paragraphs given; the texts read forward, each element's prior link its predecessor.
TEST(NoteElements, LinkingAndUnlinkingKeepBothDirectionsAndTheHead)
{
    enum Op { after, before, at_end, unlink };
    struct Case {
        const char *name;
        std::vector<std::string> list;
        Op op;
        int at;  // the element linked after or before, or unlinked
        const char *expected;
    } const cases[] = {
        {"after the first", {"a", "b", "c"}, after, 0, "a x b c"},
        {"after the last", {"a", "b", "c"}, after, 2, "a b c x"},
        {"before the first: the new head", {"a", "b", "c"}, before, 0, "x a b c"},
        {"before the middle", {"a", "b", "c"}, before, 1, "a x b c"},
        {"before none: at the end", {"a", "b", "c"}, at_end, -1, "a b c x"},
        {"before none in an empty list: its only element", {}, at_end, -1, "x"},
        {"unlinking the head", {"a", "b", "c"}, unlink, 0, "b c"},
        {"unlinking the middle", {"a", "b", "c"}, unlink, 1, "a c"},
        {"unlinking the last", {"a", "b", "c"}, unlink, 2, "a b"},
        {"unlinking the only element", {"a"}, unlink, 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Note note;
        std::vector<NoteElement_t *> elements;
        for (const std::string &text : c.list) elements.push_back(add_paragraph(note, text));
        NoteElement_t *at = c.at >= 0 ? elements[c.at] : nullptr;
        NoteElement_t *x = nullptr;
        if (c.op == unlink) {
            note_unlink(&note->note, at);
            EXPECT_EQ(at->next, nullptr);
            EXPECT_EQ(at->prior, nullptr);
        } else {
            x = gmenu_parse_xml_add_tag(note.data, "p");
            x->p.text = Strcpy("x");
            if (c.op == after)
                note_link_after(at, x);
            else
                note_link_before(&note->note, at, x);
        }
        std::string texts;
        const NoteElement_t *prior = nullptr;
        for (const NoteElement_t *e = note->note; e; prior = e, e = e->next) {
            EXPECT_EQ(e->prior, prior) << e->p.text;
            texts += (texts.empty() ? "" : " ") + std::string(e->p.text);
        }
        EXPECT_EQ(texts, c.expected);
        if (c.op == unlink) gnote_free_xml_p(&at);
    }
}

TEST(NoteElements, FreeingAListOfUnknownTypeStopsAndLeavesItWhole)
{
    Note note;
    add_paragraph(note, "a");
    NoteElement_t *bad = add_paragraph(note, "b");
    bad->type = 9;
    add_tag(note, "T", 0);
    EXPECT_PRED2(matches, abort_text([&] { gnote_free_xml(note.data); }), ("Unexpected note type 9 in gnote_free_xml:[0-9]+"));
    EXPECT_EQ(note->note, bad);
    bad->type = CM_GNOTE_NOTE_TYPE_P;
    EXPECT_EQ(dump(note), "P \"b\"\nTAG T end null\n");

    gnote_save_original(note.data);
    note->original->next->type = 0;
    EXPECT_PRED2(matches, abort_text([&] { gnote_free_original_note(note.data); }), ("Unexpected note type 0 in gnote_free_original_note @ [0-9]+"));
    note->original->type = CM_GNOTE_NOTE_TYPE_TAG;
    gnote_free_original_note(note.data);
    EXPECT_EQ(note->original, nullptr);
    gnote_free_xml(note.data);
    EXPECT_EQ(note->note, nullptr);
}

TEST(NoteElements, SingleElementsAreFreedAndForgotten)
{
    Note note;
    NoteElement_t *p = gmenu_parse_xml_add_tag(note.data, "p");
    p->p.text = Strcpy("x");
    set_runs(p, 'b', {{0, 1}});
    NoteElement_t *a = gmenu_parse_xml_add_tag(note.data, "am");
    NoteElement_t *t = gmenu_parse_xml_add_tag(note.data, "tag");
    t->tag.name = Strcpy("n");
    gnote_free_xml_p(&p);
    gnote_free_xml_am(&a);
    gnote_free_xml_tag(&t);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(t, nullptr);
}

TEST(NoteElements, RunsAreRecordedAndMismatchesStop)
{
    Note note;
    NoteElement_t *p = add_paragraph(note, "abcdef");
    int bold = gnote_add_format_tag_position(p, "bold", 1, 0);
    EXPECT_EQ(bold, 1);
    EXPECT_EQ(gnote_end_format_tag_position(p, "bold", 3, bold), 0);
    int under = gnote_add_format_tag_position(p, "underline", 4, 0);
    EXPECT_EQ(dump(note), "P \"abcdef\" b[1,3) u[4,-1)\n");
    gnote_end_format_tag_position(p, "u", 6, under);
    gnote_add_format_tag_position(p, "italic", 0, 0);
    EXPECT_EQ(dump(note), "P \"abcdef\" b[1,3) i[0,-1) u[4,6)\n");

    struct Case {
        const char *what;
        std::function<void()> call;
        const char *message;
    };
    const Case cases[] = {
        {"start while open", [&] { gnote_add_format_tag_position(p, "bold", 5, 1); },
         "Unexpected mismatch in start and end bold format tags 5"},
        {"end while closed", [&] { gnote_end_format_tag_position(p, "italic", 2, 0); },
         "Unexpected mismatch in end and start italic format tags 2"},
        {"unknown kind to start", [&] { gnote_add_format_tag_position(p, "strike", 0, 0); },
         "Unexpected format type in gnote_add_format_tag_position"},
        {"unknown kind to end", [&] { gnote_end_format_tag_position(p, "strike", 0, 1); },
         "Unexpected format type in gnote_end_format_tag_position"},
    };
    for (const Case &c : cases) EXPECT_EQ(abort_text(c.call), c.message) << c.what;

    // A count without its arrays.
    for (const char *kind : {"bold", "italic", "underline"}) {
        Note other;
        NoteElement_t *q = add_paragraph(other, "x");
        std::int32_t &count = kind[0] == 'b' ? q->p.bold_count : kind[0] == 'i' ? q->p.italic_count : q->p.underline_count;
        count = 2;
        std::string title = kind;
        title[0] = static_cast<char>(std::toupper(title[0]));
        EXPECT_EQ(abort_text([&] { gnote_add_format_tag_position(q, kind, 0, 0); }),
                  title + " format length should be zero when there is no postion data recorded");
        count = 0;
    }
}

TEST(NoteElements, ComparingNotes)
{
    // Two notes built alike by build(), then changed by change(b).
    auto build = [](Note &n) {
        NoteElement_t *p = add_paragraph(n, "abc");
        set_runs(p, 'b', {{0, 2}});
        add_amount(n, "12.5", 1, 0, 1, 3, 4);
        add_paragraph(n, "hidden", "h");
        add_tag(n, "T", 1, "t");
    };
    struct Case {
        const char *what;
        std::function<void(NoteData_t *)> change;
        int hidden_visible;
        int differs;
    };
    const Case cases[] = {
        {"the same", [](NoteData_t *) {}, 0, 0},
        {"one more element", [](NoteData_t *d) { gmenu_parse_xml_add(d, "p"); }, 0, 1},
        {"other text", [](NoteData_t *d) { d->note->p.text[0] = 'x'; }, 0, 1},
        {"other run", [](NoteData_t *d) { d->note->p.bold_end[0] = 3; }, 0, 1},
        {"an extra array", [](NoteData_t *d) {
             d->note->p.extra1 = static_cast<std::int32_t *>(salloc(sizeof(std::int32_t)));
             d->note->p.extra1_count = 1;
         }, 0, 1},
        {"other amount value", [](NoteData_t *d) { NumericCvINT(12, &d->note->next->am.value); }, 0, 1},
        {"other orsec", [](NoteData_t *d) { d->note->next->am.orsec = 9; }, 0, 1},
        {"hidden text while hidden", [](NoteData_t *d) { d->note->next->next->p.text[0] = 'X'; }, 0, 0},
        {"hidden text while shown", [](NoteData_t *d) { d->note->next->next->p.text[0] = 'X'; }, 1, 1},
        {"tag text gone", [](NoteData_t *d) { DPS_FREE(d->note->next->next->next->tag.text); }, 0, 1},
        {"tag start", [](NoteData_t *d) { d->note->next->next->next->tag.start = 0; }, 0, 1},
        {"other type", [](NoteData_t *d) { d->note->next->next->type = CM_GNOTE_NOTE_TYPE_P; }, 0, 1},
    };
    for (const Case &c : cases) {
        Note a, b;
        build(a);
        build(b);
        a->hidden_visible = b->hidden_visible = c.hidden_visible;
        c.change(b.data);
        EXPECT_EQ(gnote_compare_notes(0, a->note, b->note), c.differs) << c.what;
        EXPECT_EQ(gnote_compare_notes(1, a->note, b->note), 1) << c.what << ", modified";
        if (b->note->next->next->type == CM_GNOTE_NOTE_TYPE_P) b->note->next->next->type = CM_GNOTE_NOTE_TYPE_HIDE;
    }
    Note a, b;
    build(a);
    build(b);
    b->hidden_visible = 1;
    EXPECT_EQ(gnote_compare_notes(0, a->note, b->note), 1) << "shown against hidden";
    a->note->type = 7;
    b->note->type = 7;
    EXPECT_PRED2(matches, abort_text([&] { gnote_compare_notes(0, a->note, a->note); }), ("gnote_compare_notes: Unexpected note content type @ [0-9]+"));
    a->note->type = b->note->type = CM_GNOTE_NOTE_TYPE_P;

    EXPECT_EQ(gnote_cmp_short_text("abc", "abc"), 1);
    EXPECT_EQ(gnote_cmp_short_text("abc", "abd"), 0);
    EXPECT_EQ(gnote_cmp_short_text("", ""), 1);
}

TEST(NoteElements, SavingTheOriginalCopiesTheList)
{
    Note note;
    NoteElement_t *p = add_paragraph(note, "abc");
    set_runs(p, 'b', {{0, 2}});
    set_runs(p, 'u', {{1, 3}});
    p->p.extra1 = static_cast<std::int32_t *>(salloc(sizeof(std::int32_t)));
    p->p.extra1_count = 1;
    p->focus = p->selected = 1;
    p->p.buffer = fake<GtkTextBuffer>(1);
    p->p.bold_tag = fake<GtkTextTag>(2);
    NoteElement_t *a = add_amount(note, "-7.25", 1, 1, 0, 5, 6);
    a->press_mark = 1;
    a->am.box = fake<GtkWidget>(3);
    add_paragraph(note, "h", "hide");
    add_tag(note, "T", 1, "t");
    add_tag(note, "T", 0);
    gnote_save_original(note.data);
    const std::string expected =
        "P \"abc\" b[0,2) u[1,3)\nAM -7.25 r1 n1 p0 s5 v6\nH \"h\"\nTAG T start \"t\"\nTAG T end null\n";
    EXPECT_EQ(dump(note->original, note.data), expected);
    EXPECT_EQ(note->original->p.extra1, nullptr) << "extra arrays stay behind";
    EXPECT_EQ(note->original->focus, 0);
    EXPECT_EQ(note->original->next->press_mark, 0);
    EXPECT_NE(note->original->p.text, p->p.text);
    EXPECT_EQ(note->original->p.buffer, fake<GtkTextBuffer>(1));
    EXPECT_EQ(note->original->p.bold_tag, fake<GtkTextTag>(2));
    EXPECT_EQ(note->original->next->am.box, fake<GtkWidget>(3));
    // A second save replaces the first.
    note->note->p.text[0] = 'x';
    gnote_save_original(note.data);
    EXPECT_EQ(note->original->p.text[0], 'x');

    Note starts_with_amount;
    add_amount(starts_with_amount, "1");
    EXPECT_EQ(abort_text([&] { gnote_save_original(starts_with_amount.data); }), "Must start with a paragraph");
    Note unknown;
    add_paragraph(unknown, "a")->type = 5;
    EXPECT_PRED2(matches, abort_text([&] { gnote_save_original(unknown.data); }), ("Unexpected Note element type @ gnote_save_original:[0-9]+"));
    unknown->note->type = CM_GNOTE_NOTE_TYPE_P;
}

TEST(NoteElements, TheShellCopiesTheStructure)
{
    Note note;
    NoteElement_t *p = add_paragraph(note, "abc");
    set_runs(p, 'i', {{0, 2}});
    p->selected = 1;
    p->release_usec = 77;
    // The edit window's references are carried over; they are never looked at here.
    p->p.view = fake<GtkWidget>(1);
    p->p.motion_controller = fake<GtkEventController>(2);
    NoteElement_t *a = add_amount(note, "3", 1, 0, 1, 2, 9);
    a->am.input = fake<GtkWidget>(3);
    a->am.key_controller = fake<GtkEventController>(4);
    add_paragraph(note, "hidden", "hide");
    add_tag(note, "T", 1, "t")->tag.view = fake<GtkWidget>(5);
    NoteElement_t *old = note->note;
    gnote_copy_note_shell(note.data, old);
    EXPECT_EQ(dump(note), "P null\nAM 0.00 r1 n0 p1 s2 v9\nH \"hidden\"\nTAG T start \"t\"\n");
    EXPECT_EQ(note->note->selected, 1);
    EXPECT_EQ(note->note->release_usec, 77);
    EXPECT_EQ(note->note->p.view, fake<GtkWidget>(1));
    EXPECT_EQ(note->note->p.motion_controller, fake<GtkEventController>(2));
    EXPECT_EQ(note->note->next->am.input, fake<GtkWidget>(3));
    EXPECT_EQ(note->note->next->am.key_controller, fake<GtkEventController>(4));
    EXPECT_EQ(note->note->next->next->next->tag.view, fake<GtkWidget>(5));
    NoteData_t scratch{};
    scratch.note = old;
    gnote_free_xml(&scratch);

    old = note->note;
    old->next->type = 6;
    EXPECT_PRED2(matches, abort_text([&] { gnote_copy_note_shell(note.data, old); }), ("Unexpected note type 6 in gnote_copy_note_shell:[0-9]+"));
    old->next->type = CM_GNOTE_NOTE_TYPE_AM;
    gnote_free_xml(note.data);  // the partial shell
    note->note = old;
}

TEST(NoteElements, TheTagCheckRefusesWhatTheNoteStringCannotHold)
{
    const std::string name255(255, 'n'), text249(249, 't'), text250(250, 't');
    struct Case {
        std::string name;
        const char *text;
        std::string message;
    };
    const Case cases[] = {
        {"T1", "any <text> & more", ""},
        {name255, text249.c_str(), ""},
        {"T1", nullptr, ""},
        {name255 + "n", nullptr, "Block tag name longer than 255 bytes"},
        {std::string(100000, 'n'), nullptr, "Block tag name longer than 255 bytes"},
        {"a\"b", nullptr, "Block tag name 'a\"b' holds '\"' or '>'"},
        {"a>b", nullptr, "Block tag name 'a>b' holds '\"' or '>'"},
        {"T1", text250.c_str(), "Text of block tag 'T1' longer than 249 bytes"},
        {"T1", "x</tag>y", "Text of block tag 'T1' holds '</tag>'"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(abort_text([&] { gnote_check_tag(c.name.c_str(), c.text); }), c.message) << c.name.substr(0, 10);
}

TEST(NoteElements, AmountTexts)
{
    struct Case {
        const char *value;
        const char *text;
    };
    const Case cases[] = {
        {"1234567.891", "1,234,567.89"}, {"-1234.5", "-1,234.50"}, {"999.99", "999.99"},
        {"-123.45", "-123.45"},          {"1000", "1,000.00"},     {"0", "nil"},
        {nullptr, "nil"},                {"-100", "-100.00"},       {"-100000", "-100,000.00"},
        {"0.5", "0.50"},                 {"-0.005", "-0.01"},       {"123456789012", "123,456,789,012.00"},
    };
    for (const Case &c : cases) {
        dec_t value;
        if (c.value)
            NumericCvASC(c.value, static_cast<int>(std::strlen(c.value)), &value);
        else
            value.dec_pos = DECPOSNULL;
        char *text = gnote_format_amount(&value);
        EXPECT_STREQ(text, c.text) << (c.value ? c.value : "null");
        sfree(text);
    }
}

} // namespace
