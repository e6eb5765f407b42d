// The note operations on note text, called by small programs run in-process through the real
// dispatchers: each case is the note variable before, the call, its result and the note variable
// after (or the stop it made, with the variable as it was).
#include <cstring>
#include <string>
#include <vector>

#include "exec_fixture.h"
#include "gdata.h"
#include "intrinsics.h"
#include "program_text.h"
#include "run_time.h"

namespace {

using lumba_test::fn;
using lumba_test::num;
using lumba_test::st;
using lumba_test::to_cell;

// Main's character area: N$ (4000 bytes) at 0, the note variable.
constexpr int WIDTH = 4000;
const std::string symbols = "symtab\n__ROUTINE__ main 1\nN$ 4000 0 0x14 0 1 -\n__END_ROUTINE__\n.end\n";
const std::string n_ref = "loadsad I:0 I:1 I:4000 I:0 I:0 I:0 I:0 I:0\n";
const std::string n_store = "storsd I:0 I:1 I:4000 I:0 I:0 I:0 I:0 I:0\n";

// A text constant, quoted for zasm.
std::string s(const std::string &text)
{
    std::string q;
    for (char c : text) {
        if (c == '\\' || c == '"') q += '\\';
        if (c == '\n')
            q += "\\n";
        else if (c == '\r')
            q += "\\x0D";
        else
            q += c;
    }
    return lumba_test::str(q);
}

// Note strings.
std::string P(const std::string &text) { return "<p datatype=\"P\" position=\"0\"><![CDATA[" + text + "]]></p>"; }
std::string H(const std::string &text) { return "<p datatype=\"H\" position=\"0\"><![CDATA[" + text + "]]></p>"; }
std::string A(const std::string &value)
{
    return "<am required=\"false\" next=\"false\" protect=\"false\" orsec=\"0\" orsecvalue=\"0\">" + value + "</am>";
}
std::string Ts(const std::string &name, const std::string &text = "S")
{
    return "<tag name=\"" + name + "\" start=\"true\">" + text + "</tag>";
}
std::string Te(const std::string &name, const std::string &text = "E")
{
    return "<tag name=\"" + name + "\" start=\"false\">" + text + "</tag>";
}
std::string NOTE(const std::string &elements) { return "<note ver=\"1\">" + elements + "</note>"; }
const std::string EMPTY = NOTE(P(""));

// Calls: the note variable first, then the other arguments.
std::string append_block_tag(const std::string &args, int nargs) { return n_ref + args + st(in_INOTE_APPEND_BLOCK_TAG, nargs); }
std::string append_text(const std::string &args, int nargs) { return n_ref + args + st(in_INOTE_APPEND_TEXT, nargs); }
std::string check(const std::string &args, int nargs) { return n_ref + args + fn(in_INOTE_CHECK_BLOCK_TAG, nargs) + to_cell(0); }
std::string remove(const std::string &args, int nargs) { return n_ref + args + fn(in_INOTE_DELETE, nargs) + to_cell(0); }
std::string insert(const std::string &args, int nargs) { return n_ref + args + fn(in_INOTE_INSERT_TEXT, nargs) + to_cell(0); }

struct Case {
    std::string before, call;
    std::string result;  // the function's value, "" for a statement
    std::string after;   // the note variable after, or "stop: <message prefix>" with the variable unchanged
};

class NoteOperations : public ExecTest {
protected:
    struct Result {
        std::string value, note, abort;
    };

    // Runs the call with N$ = before; windows mode for the statements, which need it.
    Result run_case(const std::string &before, const std::string &call)
    {
        Back_ground = call.find("ipcall") == std::string::npos ? 1 : 0;
        Outcome o = run(program(".common I:4 I:0\n" + s(before) + n_store + call + "exit\n", 4, WIDTH, symbols));
        Result r;
        r.abort = o.abort;
        r.note.assign(context->routines[0].local_chars, strnlen(context->routines[0].local_chars, WIDTH));
        if (o.abort.empty() && call.find("ifcallr") != std::string::npos) r.value = Convert_BCD(&cell(0));
        delete_all_applications();
        return r;
    }

    void check_case(const Case &c)
    {
        SCOPED_TRACE(c.before + " | " + c.call);
        const Result r = run_case(c.before, c.call);
        if (c.after.starts_with("stop: ")) {
            EXPECT_TRUE(r.abort.starts_with(c.after.substr(6))) << r.abort;
            EXPECT_EQ(r.note, c.before) << "nothing is written back";
            return;
        }
        EXPECT_EQ(r.abort, "");
        EXPECT_EQ(r.value, c.result);
        EXPECT_EQ(r.note, c.after);
    }
};

TEST_F(NoteOperations, ASectionIsBuiltFilledTestedAndUnwrapped)
{
    struct Step {
        std::string call, result, after;
    } steps[] = {
        {append_block_tag(s("T1") + s("Start") + s("End") + s("Hello"), 5), "",
         NOTE(P("") + Ts("T1", "Start") + P("Hello") + Te("T1", "End") + P(""))},
        {insert(s("T1") + s("World") + num(0), 4), "1",
         NOTE(Ts("T1", "Start") + P("Hello") + P("World") + Te("T1", "End"))},
        {check(s("T2"), 2), "0", NOTE(Ts("T1", "Start") + P("Hello") + P("World") + Te("T1", "End"))},
        {check(s("T1"), 2), "1", NOTE(Ts("T1", "Start") + P("Hello") + P("World") + Te("T1", "End"))},
        {remove(s("T1") + num(1) + num(0), 4), "1", NOTE(P("Hello") + P("World"))},
        {append_text(s("a<b & c/d"), 2), "", NOTE(P("Hello") + P("World") + P("a&lt;b &amp; c/d"))},
    };
    std::string note;
    for (const Step &step : steps) {
        check_case({note, step.call, step.result, step.after});
        note = step.after;
    }
}

TEST_F(NoteOperations, EdgeCases)
{
    const std::string block = NOTE(Ts("T1") + P("a") + Te("T1"));
    const Case cases[] = {
        // A block without text; a second call of the same name adds nothing and drops the
        // empty paragraphs; an empty text is no text.
        {"", append_block_tag(s("T1") + s("S") + s("E"), 4), "", NOTE(P("") + Ts("T1") + P("") + Te("T1") + P(""))},
        {NOTE(P("") + Ts("T1") + P("") + Te("T1") + P("")), append_block_tag(s("T1") + s("X") + s("Y") + s("t"), 5), "",
         NOTE(Ts("T1") + Te("T1"))},
        {"", append_block_tag(s("T1") + s("S") + s("E") + s(""), 5), "", NOTE(P("") + Ts("T1") + P("") + Te("T1") + P(""))},
        {"x", append_block_tag(s("T1") + s("S") + s("E") + s("<b>t</b>") + num("5"), 6), "",
         NOTE(P("x") + Ts("T1") + P("<b>t</b>") + A("5.00") + P("") + Te("T1") + P(""))},
        // Trailing white space of every string is cut.
        {"x  ", append_block_tag(s("T1 ") + s("S ") + s("E\n") + s("t  "), 5), "",
         NOTE(P("x") + Ts("T1") + P("t") + Te("T1") + P(""))},
        // Appending text: into the last paragraph when it is empty, literally, cut at blank lines.
        {"", append_text(s("one\n\ntwo <b>"), 2), "", NOTE(P("one") + P("two &lt;b&gt;"))},
        {"plain", append_text(s("text") + num("12.5"), 3), "", NOTE(P("plain") + P("text") + A("12.50") + P(""))},
        {"plain", append_text(s("a\rb"), 2), "", NOTE(P("plain") + P("a\nb"))},
        // Inserting: at the end fills an empty last paragraph; at the beginning after the start
        // tag and the tags that follow it directly.
        {NOTE(Ts("T1") + P("Hello\n\n") + Te("T1")), insert(s("T1") + s("World") + num(0), 4), "1",
         NOTE(Ts("T1") + P("Hello") + P("World") + Te("T1"))},
        {NOTE(Ts("T1") + Ts("T2") + P("x") + Te("T2") + Te("T1")), insert(s("T1") + s("W"), 3), "1",
         NOTE(Ts("T1") + Ts("T2") + P("W") + P("x") + Te("T2") + Te("T1"))},
        {block, insert(s("T1") + s("<i>b</i>\n\nc") + num(0) + num("-3"), 5), "1",
         NOTE(Ts("T1") + P("a") + P("<i>b</i>") + P("c") + A("-3.00") + P("") + Te("T1"))},
        // A block that holds nothing receives the text between its tags.
        {NOTE(Ts("T1") + Te("T1") + P("z")), insert(s("T1") + s("y") + num(0), 4), "1",
         NOTE(Ts("T1") + P("y") + Te("T1") + P("z"))},
        {NOTE(Ts("T1") + Te("T1") + P("z")), insert(s("T1") + s("y"), 3), "1",
         NOTE(Ts("T1") + P("y") + Te("T1") + P("z"))},
        {NOTE(P("a") + Ts("T1") + Te("T1")), insert(s("T1") + s("y") + num(0), 4), "1",
         NOTE(P("a") + Ts("T1") + P("y") + Te("T1"))},
        {NOTE(P("a") + Ts("T1") + Te("T1") + Ts("T2") + Te("T2")), insert(s("T2") + s("y") + num(1), 4), "1",
         NOTE(P("a") + Ts("T1") + Te("T1") + Ts("T2") + P("y") + Te("T2"))},
        {"abc", insert(s("T9") + s("x"), 3), "0", NOTE(P("abc"))},
        // Deleting.
        {block, remove(s("T1") + num(1) + num(0), 4), "1", NOTE(P("a"))},
        {NOTE(P("o") + Ts("T1") + P("a") + A("1.00") + P("") + A("2.00") + Te("T1")),
         remove(s("T1") + num(0) + num(1), 4), "1", NOTE(P("o") + Ts("T1") + Te("T1"))},
        {block, remove(s("T1") + num(0) + num(0), 4), "0", block},
        {block, remove(s("T9") + num(1) + num(1), 4), "0", block},
        {NOTE(Ts("T1") + P("a") + Ts("T2") + P("b") + Te("T2") + P("c") + Te("T1") + P("out")),
         remove(s("T1") + num(1) + num(1), 4), "1", NOTE(P("out"))},
        {NOTE(Ts("T1") + Ts("T2") + P("b") + Te("T1") + Te("T2")), remove(s("T1") + num(1) + num(1), 4), "1",
         NOTE(Ts("T2") + Te("T2"))},
        {NOTE(P("p") + Ts("T1") + P("a") + Te("T1") + P("m") + Ts("T1") + P("b") + Te("T1")),
         remove(s("T1") + num(0) + num(1), 4), "1", NOTE(P("p") + Ts("T1") + Te("T1") + P("m") + Ts("T1") + Te("T1"))},
        {NOTE(H("h") + Ts("T1") + P("a") + Te("T1")), remove(s("T1") + num(1) + num(1), 4), "1", NOTE(H("h"))},
        // A hidden comment inside the block is text of the block: it goes with the text only.
        {NOTE(Ts("T1") + H("h") + P("a") + Te("T1") + P("z")), remove(s("T1") + num(1) + num(0), 4), "1",
         NOTE(H("h") + P("a") + P("z"))},
        {NOTE(Ts("T1") + H("h") + P("a") + Te("T1") + P("z")), remove(s("T1") + num(0) + num(1), 4), "1",
         NOTE(Ts("T1") + Te("T1") + P("z"))},
        {NOTE(Ts("T1") + H("h") + P("a") + Te("T1") + P("z")), remove(s("T1") + num(1) + num(1), 4), "1", NOTE(P("z"))},
        // Checking: an end tag alone names the block.
        {NOTE(P("a") + Te("T1")), check(s("T1"), 2), "1", NOTE(P("a") + Te("T1"))},
        {"T1", check(s("T1"), 2), "0", "T1"},
    };
    for (const Case &c : cases) check_case(c);
}

TEST_F(NoteOperations, RefusalsWriteNothingBack)
{
    const std::string block = NOTE(Ts("T1") + P("a") + Te("T1"));
    const Case cases[] = {
        {block, append_block_tag(s("T1") + s("S"), 3), "", "stop: inote_append_block_tag may have four, five, or six parameters"},
        {block, append_block_tag(s("T1") + s("S") + s("E") + s("t") + num(1) + num(2), 7), "",
         "stop: inote_append_block_tag may have four, five, or six parameters"},
        {block, n_ref + st(in_INOTE_APPEND_TEXT, 1), "", "stop: inote_append_text must have two or three parameters"},
        {block, append_text(s("a") + num(1) + num(2), 4), "", "stop: inote_append_text must have two or three parameters"},
        {block, check(s("T1") + s("x"), 3), "", "stop: inote_check_block_tag must have two parameters"},
        {block, insert(s("T1"), 2), "", "stop: inote_insert_text may have three, four, or five parameters"},
        {block, insert(s("T1") + s("x") + num(1) + num(1) + num(1), 6), "",
         "stop: inote_insert_text may have three, four, or five parameters"},
        {block, insert(s("T1") + s("x") + num(2), 4), "", "stop: Invalid value 2 provided for the Insertion Position Flag"},
        {block, remove(s("T1") + num(1), 3), "", "stop: inote_delete must have four parameters"},
        {block, remove(s("T1") + num(3) + num(0), 4), "", "stop: Invalid value 3 provided for the Tag Deletion Flag"},
        {block, remove(s("T1") + num(1) + num(-1), 4), "", "stop: Invalid value -1 provided for the Text Deletion Flag"},
        // Mark-up decoded from the text, a malformed note, a hidden paragraph in a deleted block.
        {block, insert(s("T1") + s("a & b"), 3), "", "stop: Unexpected ampersand"},
        {block, append_block_tag(s("T2") + s("S") + s("E") + s("<x>"), 5), "", "stop: Unexpected paragraph open format tag"},
        {NOTE("<p datatype=\"X\" position=\"0\"><![CDATA[]]></p>"), check(s("T1"), 2), "",
         "stop: gnote_parse_xml: Unexpected value 'X' for the datatype attribute"},
        // A note that begins with an amount is refused before any operation starts; so is a list
        // a deletion would leave beginning with one.
        {NOTE(A("1.00") + P("a")), check(s("T1"), 2), "", "stop: Expecting a Note to commence with a paragraph"},
        {NOTE(A("1.00") + P("a")), append_text(s("x"), 2), "", "stop: Expecting a Note to commence with a paragraph"},
        {NOTE(A("1.00") + Ts("T1") + P("a") + Te("T1")), append_block_tag(s("T2") + s("S") + s("E"), 4), "",
         "stop: Expecting a Note to commence with a paragraph"},
        {NOTE(A("1.00") + Ts("T1") + P("a") + Te("T1")), insert(s("T1") + s("x"), 3), "",
         "stop: Expecting a Note to commence with a paragraph"},
        {NOTE(A("1.00") + Ts("T1") + P("a") + Te("T1")), remove(s("T1") + num(1) + num(1), 4), "",
         "stop: Expecting a Note to commence with a paragraph"},
        {NOTE(Ts("T1") + P("a") + Te("T1") + A("1.00") + P("b")), remove(s("T1") + num(1) + num(1), 4), "",
         "stop: Expecting a Note to commence with a paragraph"},
        // A tag the note string could not hold is refused before anything changes.
        {block, append_block_tag(s("a\"b") + s("S") + s("E"), 4), "", "stop: Block tag name 'a\"b' holds '\"' or '>'"},
        {block, append_block_tag(s("T2") + s("S") + s("x</tag>"), 4), "", "stop: Text of block tag 'T2' holds '</tag>'"},
        {block, append_block_tag(s(std::string(256, 'n')) + s("S") + s("E"), 4), "",
         "stop: Block tag name longer than 255 bytes"},
    };
    for (const Case &c : cases) check_case(c);
}

TEST_F(NoteOperations, EmptyNotesNeverStop)
{
    const std::string bare = NOTE("");
    const Case cases[] = {
        {"", check(s("T1"), 2), "0", ""},
        {bare, check(s("T1"), 2), "0", bare},
        {bare, append_text(s("x"), 2), "", NOTE(P("x"))},
        {bare, append_text(s("") + num(1), 3), "", NOTE(P("") + A("1.00") + P(""))},
        {bare, append_block_tag(s("T1") + s("S") + s("E"), 4), "", NOTE(Ts("T1") + P("") + Te("T1") + P(""))},
        {bare, insert(s("T1") + s("x"), 3), "0", EMPTY},
        {"", insert(s("T1") + s("x"), 3), "0", EMPTY},
        {bare, remove(s("T1") + num(0) + num(0), 4), "0", EMPTY},
        {bare, remove(s("T1") + num(1) + num(1), 4), "0", EMPTY},
        {NOTE(Ts("T1") + P("a") + Te("T1")), remove(s("T1") + num(1) + num(1), 4), "1", EMPTY},
        {EMPTY, append_text(s("y"), 2), "", NOTE(P("y"))},
    };
    for (const Case &c : cases) check_case(c);
}

TEST_F(NoteOperations, AppendingNeedsWindows)
{
    for (int code : {in_INOTE_APPEND_BLOCK_TAG, in_INOTE_APPEND_TEXT}) {
        Back_ground = 1;
        Outcome o = run(program(".common I:4 I:0\n" + s("x") + n_store + n_ref + s("a") + st(code, 2) + "exit\n", 4,
                                WIDTH, symbols));
        const std::string name = inbuilt[code].F_name;
        EXPECT_NE((o.abort + o.err).find(name + ": not in windows mode"), std::string::npos) << o.abort << o.err;
        EXPECT_EQ(std::string(context->routines[0].local_chars), "x");
        delete_all_applications();
    }
}

TEST_F(NoteOperations, EachCallIsLoggedAboveLevelTwo)
{
    struct {
        std::string call, logged;
    } cases[] = {
        {append_block_tag(s("T1") + s("S") + s("E"), 4), "Do inote_append_block_tag"},
        {append_text(s("a"), 2), "Do inote_append_text"},
        {check(s("T1"), 2), "Do inote_check_block_tag"},
        {insert(s("T1") + s("x"), 3), "Do inote_insert_text"},
        {remove(s("T1") + num(1) + num(1), 4), "Do inote_delete"},
    };
    int &level = global_data ? global_data->log_level_lumbas : Lumba_Log_Level;
    const int saved = level;
    for (const auto &c : cases)
        for (int at : {2, 3}) {
            level = at;
            Back_ground = c.call.find("ipcall") == std::string::npos ? 1 : 0;
            Outcome o = run(program(".common I:4 I:0\n" + c.call + "exit\n", 4, WIDTH, symbols));
            EXPECT_EQ(o.abort, "");
            EXPECT_EQ(o.err.find(c.logged) != std::string::npos, at == 3) << c.logged << " at level " << at << o.err;
            delete_all_applications();
        }
    level = saved;
}

} // namespace
