// The note print conversion: the line cutter and its widths, a note string turned into print
// blocks from a template segment, and the note fetched from a program's Get_Note routine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmatrix.h"
#include "exec_fixture.h"
#include "gdata.h"
#include "intrinsics.h"
#include "mem_mgt.h"
#include "note_print.h"
#include "program_text.h"
#include "test_host.h"

namespace {

// ---- The line cutter ----------------------------------------------------------------------------

// The lines getfield cuts from text, one after the other until the text is used up.
std::vector<std::string> lines_of(const std::string &text, int size, double width)
{
    std::vector<std::string> lines;
    const char *position = text.c_str();
    do {
        char *line = gnote_convert2print_getfield(&position, size, width);
        lines.emplace_back(line);
        sfree(line);
    } while (*position && lines.size() < 100);
    return lines;
}

TEST(NotePrintLines, WidthsFollowTheFixedTable)
{
    struct {
        const char *characters;
        int code;
    } classes[] = {
        {"'`ijl", 100},       {" !,./:;I[\\]ft|", 120}, {"\"()-r{}", 150}, {"*", 170},    {"J^cksvxyz", 220},
        {"$?09LNWabdeghnopqu\x01\x7f", 240},            {"#_~", 250},      {"+<=>", 260}, {"FTZ", 270},
        {"&ABEKPSVXY", 290},  {"CDHRUw", 320},          {"GOQ", 340},      {"Mm", 370},   {"%", 390},
        {"@", 450},
    };
    for (const auto &c : classes)
        for (const char *p = c.characters; *p; ++p) {
            EXPECT_EQ(gnote_convert2print_getsize(static_cast<unsigned char>(*p), 800), c.code) << *p;
            EXPECT_EQ(gnote_convert2print_getsize(static_cast<unsigned char>(*p), 1000), c.code * 1000 / 800) << *p;
        }
    for (int byte : {0x80, 0xe9, 0xff}) EXPECT_EQ(gnote_convert2print_getsize(static_cast<unsigned char>(byte), 800), 240);
}

TEST(NotePrintLines, LinesAreCutAtTheWidth)
{
    const std::string as(30, 'a');
    struct {
        std::string text;
        int size;
        double width;
        std::vector<std::string> lines;
    } cases[] = {
        // Limit 6120 at 4 cm; an 'a' at size 10 is 300 wide: the 21st reaches the limit and stays.
        {as, 10, 4.0, {std::string(21, 'a'), std::string(9, 'a')}},
        // At size 6, "ii" and 47 '*' make 6119: below 6120, one more byte is taken; at 3.999 cm
        // (limit 6118) the line ends there.
        {"ii" + std::string(60, '*'), 6, 4.0, {"ii" + std::string(48, '*'), std::string(12, '*')}},
        {"ii" + std::string(60, '*'), 6, 3.999, {"ii" + std::string(47, '*'), std::string(13, '*')}},
        // Cut back to the last space, which starts the next line.
        {std::string(10, 'a') + " " + std::string(15, 'a'), 10, 4.0, {std::string(10, 'a'), " " + std::string(15, 'a')}},
        // A space right after the bytes taken keeps them whole; a space at the first byte is no cut.
        {std::string(21, 'a') + " b", 10, 4.0, {std::string(21, 'a'), " b"}},
        {" " + std::string(30, 'a'), 10, 4.0, {" " + std::string(20, 'a'), std::string(10, 'a')}},
        // A line feed ends a line and is not printed; an empty line between two gives an empty line.
        {"ab\ncd", 10, 4.0, {"ab", "cd"}},
        {"ab\n\ncd", 10, 4.0, {"ab", "", "cd"}},
        {"\nabc", 10, 4.0, {"", "abc"}},
        {"", 10, 4.0, {""}},
    };
    for (const auto &c : cases) EXPECT_EQ(lines_of(c.text, c.size, c.width), c.lines) << c.text;
}

// ---- A note string into print blocks ------------------------------------------------------------

std::string P(const std::string &text) { return "<p datatype=\"P\" position=\"0\"><![CDATA[" + text + "]]></p>"; }
std::string H(const std::string &text) { return "<p datatype=\"H\" position=\"0\"><![CDATA[" + text + "]]></p>"; }
std::string A(const std::string &value)
{
    return "<am required=\"false\" next=\"false\" protect=\"false\" orsec=\"0\" orsecvalue=\"0\">" + value + "</am>";
}
std::string T(bool start) { return std::string("<tag name=\"T\" start=\"") + (start ? "true" : "false") + "\">t</tag>"; }
std::string NOTE(const std::string &elements) { return "<note ver=\"1\">" + elements + "</note>"; }

struct Template {
    int note_type = 1;
    double wrap = 4.0;
    int print_size = 10, screen_size = 5;
};

// The note field's segment of a report line with its tag: characters 5 to 12 at 3 cm, with a
// time stamp and a watermark that the note's lines must not repeat.
struct Segment {
    explicit Segment(const Template &t)
    {
        tag = Alloc(PrintTag_t);
        tag->print_size = t.print_size;
        tag->screen_size = t.screen_size;
        tag->note_type = t.note_type;
        tag->note_wrap_width = t.wrap;
        tag->note_extension_width = 1.5;
        tag->note_completion = 1;
        tag->multi_line_wrap_width = 6.0;
        tag->multi_line_completion = 1;
        tag->time_stamp = Strcpy("%H:%M");
        tag->watermark_text = Strcpy("DRAFT");
        value = FormatValue_t{1, 5, 12, 3.0, 2.0, tag, nullptr, nullptr};
    }
    ~Segment() { postscript_print_tag_free(tag); }
    Segment(const Segment &) = delete;
    Segment &operator=(const Segment &) = delete;
    PrintTag_t *tag;
    FormatValue_t value;
};

// A print note whose blocks go with it.
struct Note {
    PrintNote_t record{};
    explicit Note(const char *key = "K1") { record.note = Strcpy(key); }
    ~Note()
    {
        gnote_free_print_blocks(record.blocks);
        sfree(record.note);
    }
    Note(const Note &) = delete;
    Note &operator=(const Note &) = delete;
};

// Each block as "column:" and its segments paired with its strings, "[first-last@position]" and
// "R" for a right-aligned one, then the string. Checks on the way what every block must hold.
std::vector<std::string> dump(const PrintNote_t &note)
{
    std::vector<std::string> out;
    const NotePrintBlock_t *prior = nullptr;
    for (const NotePrintBlock_t *b = note.blocks; b; prior = b, b = b->next) {
        EXPECT_EQ(b->prior, prior);
        std::string line = std::to_string(b->column) + ":";
        const char *text = b->text;
        int used = 0;
        const FormatValue_t *before = nullptr;
        for (const FormatValue_t *v = b->items; v; before = v, v = v->next) {
            EXPECT_EQ(v->prior, before);
            EXPECT_LT(used, b->length) << "a string for every segment";
            const std::string s = used < b->length ? std::string(text + used) : "?";
            used += static_cast<int>(s.size()) + 1;
            EXPECT_EQ(v->last - v->first + 1, static_cast<int>(s.size())) << s;
            const PrintTag_t *t = v->tag;
            EXPECT_TRUE(t && !t->time_stamp && !t->watermark_text && t->note_type == 0 &&
                        t->multi_line_wrap_width == -1.0 && t->multi_line_completion == 0 && !t->next && !t->prior);
            char where[64];
            std::snprintf(where, sizeof where, "[%d-%d@%g%s]", v->first, v->last, v->position,
                          t && t->print_align == 1 ? "R" : "");
            line += " " + std::string(where) + s;
        }
        EXPECT_EQ(used, b->length) << "length counts every string with its NUL";
        out.push_back(line);
    }
    return out;
}

std::vector<std::string> blocks_of(const std::string &note_string, const Template &t = {}, int screen = 0,
                                   const char *key = "K1")
{
    Segment segment(t);
    Note note(key);
    gnote_convert2print_note(&note.record, note_string.c_str(), &segment.value, screen);
    return dump(note.record);
}

TEST(NotePrintBlocks, ParagraphsAmountsTagsAndHiddenParagraphs)
{
    const std::string as(30, 'a');
    struct {
        std::string note;
        Template t;
        int screen;
        std::vector<std::string> blocks;
    } cases[] = {
        {"abc", {}, 0, {"0: [5-7@3]abc"}},
        // A wrap width below 3.999 cm is 4 cm.
        {as, {1, 2.5}, 0, {"0: [5-25@3]" + std::string(21, 'a') + " [5-13@3]" + std::string(9, 'a')}},
        {"ii" + std::string(60, '*'), {1, 3.999, 6}, 0,
         {"0: [5-53@3]ii" + std::string(47, '*') + " [5-17@3]" + std::string(13, '*')}},
        {"ii" + std::string(60, '*'), {1, 2.5, 6}, 0,
         {"0: [5-54@3]ii" + std::string(48, '*') + " [5-16@3]" + std::string(12, '*')}},
        // The screen size on screen: an 'a' at size 5 is 150 wide.
        {as + as, {1, 4.0, 10, 5}, 1, {"0: [5-45@3]" + std::string(41, 'a') + " [5-23@3]" + std::string(19, 'a')}},
        // A paragraph followed by another element ends with an empty line.
        {"one\n\ntwo", {}, 0, {"0: [5-7@3]one [5-4@3]", "0: [5-7@3]two"}},
        {"\nabc", {}, 0, {"0: [5-4@3] [5-7@3]abc"}},
        // Amounts after the paragraph (type 1) or beside its first line (type 2), right-aligned
        // and shifted by the extension width.
        {NOTE(P("abc") + A("12.50")), {1}, 0, {"0: [5-7@3]abc [5-9@4.5R]12.50 [5-4@3]", "0: [5-4@3]"}},
        {NOTE(P("abc") + A("12.50")), {2}, 0, {"1: [5-7@3]abc [5-9@4.5R]12.50 [5-4@3]", "0: [5-4@3]"}},
        {NOTE(P("ab\ncd") + A("-1234.5") + P("x")), {2}, 0,
         {"1: [5-6@3]ab [5-13@4.5R]-1,234.50 [5-6@3]cd [5-4@3]", "0: [5-5@3]x"}},
        {NOTE(P("") + A("0")), {1}, 0, {"0: [5-4@3] [5-7@4.5R]nil [5-4@3]", "0: [5-4@3]"}},
        // Tags and hidden paragraphs print nothing (the reader closes a note with an empty
        // paragraph after a last element that is not one).
        {NOTE(P("a") + T(true) + H("hidden") + T(false) + P("b")), {}, 0, {"0: [5-5@3]a [5-4@3]", "0: [5-5@3]b"}},
        {NOTE(T(true) + H("hidden") + T(false)), {}, 0, {"0: [5-4@3]"}},
    };
    for (const auto &c : cases) EXPECT_EQ(blocks_of(c.note, c.t, c.screen), c.blocks) << c.note;
}

TEST(NotePrintBlocks, ANewConversionReplacesTheBlocks)
{
    Segment segment(Template{});
    Note note;
    gnote_convert2print_note(&note.record, "one\n\ntwo", &segment.value, 0);
    gnote_convert2print_note(&note.record, "three", &segment.value, 0);
    EXPECT_EQ(dump(note.record), std::vector<std::string>{"0: [5-9@3]three"});
}

TEST(NotePrintBlocks, AKeyLongerThanTheNoteNumberIsCut)
{
    for (const char *key : {"K2345678901234567890", "K23456789", "K1", ""}) {
        NoteData_t note{};
        GtkWidget *const mark = reinterpret_cast<GtkWidget *>(&note);
        note.index = 7;
        note.hbox = mark;  // the field after the number
        gnote_print_scratch_note(&note, key);
        EXPECT_EQ(std::string(note.number), std::string(key).substr(0, CM_GNOTE_ID_SIZE));
        EXPECT_EQ(note.field_type, 2);
        EXPECT_EQ(note.index, 0);
        EXPECT_EQ(note.hbox, mark) << "the number is not overrun";
    }
    EXPECT_EQ(blocks_of("abc", {}, 0, "K2345678901234567890"), std::vector<std::string>{"0: [5-7@3]abc"});
}

TEST(NotePrintBlocks, Refusals)
{
    struct {
        std::string note;
        int note_type;
        std::string stop;
    } cases[] = {
        {NOTE(A("1.00") + P("x")), 1, "Expecting a Note to commence with a paragraph"},
        {NOTE(T(true) + A("1.00") + P("x")), 1, "Expecting a Note to commence with a paragraph"},
        {NOTE(P("x") + A("1.00")), 0, "Note print type must be one or two when printing a Note"},
        {NOTE(P("x") + A("1.00")), 3, "Note print type must be one or two when printing a Note"},
        {NOTE("<p datatype=\"X\" position=\"0\"><![CDATA[]]></p>"), 1,
         "gnote_parse_xml: Unexpected value 'X' for the datatype attribute"},
    };
    for (const auto &c : cases) {
        Template t;
        t.note_type = c.note_type;
        Segment segment(t);
        Note note;
        const std::string stop =
            lumba_test::abort_text([&] { gnote_convert2print_note(&note.record, c.note.c_str(), &segment.value, 0); });
        EXPECT_TRUE(stop.starts_with(c.stop)) << stop;
    }
}

// ---- The note fetched from the program ----------------------------------------------------------

using lumba_test::num;
using lumba_test::sfn;
using lumba_test::st;
using lumba_test::str;

std::string routine(const char *kind, const char *name, const std::string &body)
{
    return std::string(kind) + " r:" + name + " I:0 I:0 I:0 I:0 I:0 I:4\n" + body;
}
std::string routine_symbols(const char *name)
{
    return "symtab\n__ROUTINE__ " + std::string(name) +
           " 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\nIP$ 40 0 0x8014 0 4 -\n"
           "__END_ROUTINE__\n.end\n";
}
const std::string cm_param = "loadrvi I:0 I:0 I:1 I:0 I:0 I:0\n";
const std::string key_param = "loadsvi I:3 I:0 I:1 I:0 I:0 I:0\n";

// main: a control matrix without a window, the routine numbered `attached` attached to it as its
// Get_Note at index 0 with main's IP and IP$. Routine 1 answers the note of its key; routine 2 closes the window.
std::string program(int attached)
{
    return ".proc r:main I:0 I:0 I:2 I:40 I:0 I:0\n"
           "loadrad I:0 I:1 I:0 I:0 I:0\n" + num(0L) + st(in_ICATTACH_WINDOW, 2) + str("Get_Note") + num(attached) +
           "loadrvd I:0 I:1 I:0 I:0 I:0\n" + num(0L) + "loadrad I:1 I:1 I:0 I:0 I:0\n" +
           "loadsad I:0 I:1 I:40 I:0 I:0 I:0 I:0 I:0\n" + st(in_ICATTACH_FUN, 6) + "exit\n" +
           routine(".sfunc", "getnote",
                   str("Note for ") + key_param + sfn(in_STRIP, 1) + str("\\n\\nsecond") + "scat I:3\nexitv\n") +
           routine(".sfunc", "closer", cm_param + st(in_ICDELETE_WINDOW, 1) + str("x") + "exitv\n") +
           "symtab\n__ROUTINE__ main 3\nCM 0 0 0x12 0 1 -\nIP 0 0 0x12 1 2 -\nIP$ 40 0 0x14 0 3 -\n"
           "__END_ROUTINE__\n.end\n" + routine_symbols("getnote") +
           routine_symbols("closer");
}

class NotePrintFetch : public ExecTest {
protected:
    void SetUp() override
    {
        ExecTest::SetUp();
        record.log_mode = LOG_MODE_STDERR;
        record.log_level_lumbas = -1;
        record.log_level_basic = -1;
        record.cm_counter = -1;
        saved = global_data;
        global_data = &record;
    }
    void TearDown() override
    {
        cmat_free_all();
        delete_all_applications();
        ExecTest::TearDown();
        global_data = saved;
    }

    // The control matrix main made.
    ControlMatrix_t *cm() const
    {
        long l = 0;
        NumericToLONG(&context->routines[0].local_numerics[0], &l);
        return reinterpret_cast<ControlMatrix_t *>(l);
    }

    GlobalData_t record{};
    GlobalData_t *saved = nullptr;
};

TEST_F(NotePrintFetch, TheGetNoteRoutineGivesTheNote)
{
    const Outcome o = run(program(1));
    ASSERT_EQ(o.abort, "") << o.err;
    ASSERT_NE(cm(), nullptr);
    Segment segment(Template{});
    Note note("K7");
    std::string stop = lumba_test::abort_text([&] { gnote_convert2print(cm(), &note.record, &segment.value, 0); });
    EXPECT_EQ(stop, "");
    EXPECT_EQ(dump(note.record), (std::vector<std::string>{"0: [5-15@3]Note for K7 [5-4@3]", "0: [5-10@3]second"}));
}

TEST_F(NotePrintFetch, ARoutineThatClosesTheWindowIsRefused)
{
    const Outcome o = run(program(2));
    ASSERT_EQ(o.abort, "") << o.err;
    Segment segment(Template{});
    Note note;
    std::string stop = lumba_test::abort_text([&] { gnote_convert2print(cm(), &note.record, &segment.value, 0); });
    EXPECT_EQ(stop, "Not permitted to exit from window here");
    EXPECT_EQ(note.record.blocks, nullptr);
}

} // namespace
