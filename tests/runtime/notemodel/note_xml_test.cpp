// The note XML string: the reader's table of strings and the lists they give, its table of strings
// that do not read and the errors it returns for them, the writer's table of lists and the strings
// they give (or its abort), an exact round trip, and hostile input.
#include <functional>
#include <gtest/gtest.h>
#include <string>

#include "note_test_util.h"
#include "test_host.h"

namespace {

using lumba_test::abort_text;
using namespace note_test;

std::string note(const std::string &body)
{
    return "<note ver=\"1\">" + body + "</note>";
}

std::string para(const std::string &content, const char *datatype = "P")
{
    return std::string("<p datatype=\"") + datatype + "\" position=\"0\"><![CDATA[" + content + "]]></p>";
}

std::string amount(const std::string &value, const char *attributes = "required=\"false\" next=\"false\" "
                                                                      "protect=\"false\" orsec=\"0\" orsecvalue=\"0\"")
{
    return std::string("<am ") + attributes + ">" + value + "</am>";
}

std::string tag(const char *name, bool start, const std::string &text = "")
{
    return std::string("<tag name=\"") + name + "\" start=\"" + (start ? "true" : "false") + "\">" + text + "</tag>";
}

// Reading string into a note that held a paragraph "kept": the error, and the list's dump after.
struct Read {
    ReadError error;
    std::string list;
};
Read read(const std::string &string, int compact = 0)
{
    Note n;
    add_paragraph(n, "kept");
    const NoteElement_t *kept = n->note;
    Read r;
    r.error = gnote_parse_xml(n.data, string.c_str(), compact);
    r.list = dump(n);
    // A note that does not read leaves the list as it was, the very elements.
    if (r.error) EXPECT_EQ(n->note, kept) << r.error.message;
    EXPECT_EQ(n->version, 1);
    return r;
}

// The dump of what string reads into, "" and a failure when it does not read.
std::string read_list(const std::string &string, int compact = 0)
{
    const Read r = read(string, compact);
    EXPECT_FALSE(r.error) << r.error.message;
    return r.list;
}

std::string described(const ReadError &e)
{
    return "code " + std::to_string(e.code) + " at " + std::to_string(e.offset) + ": " + e.message;
}

std::string write(Note &n)
{
    char *xml = nullptr;
    const std::string message = abort_text([&] { xml = gnote_get_xml(n.data); });
    if (!message.empty()) return "abort: " + message;
    std::string s = xml;
    sfree(xml);
    return s;
}

struct ReadCase {
    const char *what;
    std::string string;
    int compact;
    std::string result;  // the list's dump
};

struct ErrorCase {
    const char *what;
    std::string string;
    std::string message;  // a pattern where it holds "@ "
    int code;
    std::string at;  // the error's offset is that of the first occurrence of this in the string
    int compact = 0;
};

// Reads each string and checks the error it returns, with the note as it was.
void expect_errors(const ErrorCase *begin, const ErrorCase *end)
{
    for (const ErrorCase *c = begin; c != end; ++c) {
        SCOPED_TRACE(c->what);
        const Read r = read(c->string, c->compact);
        ASSERT_TRUE(r.error) << r.list;
        if (c->message.find("@ ") != std::string::npos)
            EXPECT_PRED2(matches, r.error.message, c->message.c_str());
        else
            EXPECT_EQ(r.error.message, c->message);
        EXPECT_EQ(r.error.code, c->code) << described(r.error);
        const std::size_t at = c->string.find(c->at);
        ASSERT_NE(at, std::string::npos) << c->at;
        EXPECT_EQ(r.error.offset, at) << described(r.error)
                                      << "; the string from there: " << c->string.substr(r.error.offset, 40);
        EXPECT_EQ(r.list, "P \"kept\"\n");
    }
}

TEST(NoteXmlReader, StringsAndWhatTheyGive)
{
    const std::string am1 = amount("1"), am2 = amount("2");
    const std::string big = "1" + std::string(59, '0') + ".00";  // 63 characters
    const ReadCase cases[] = {
        // Plain text and the note's frame.
        {"plain text is taken as it is", "a &amp; b\r\n<x>", 0, "P \"a &amp; b\r\n<x>\"\n"},
        {"an empty string", "", 0, "P \"\"\n"},
        {"plain text is split at blank lines", "a\n\nb\n\n\nc", 1, "P \"a\"\nP \"b\"\nP \"\nc\"\n"},
        {"a note of no element", note(""), 0, ""},
        {"the end mark may be missing", "<note ver=\"1\">" + para("x"), 0, "P \"x\"\n"},
        {"text after the end mark is ignored", note(para("x")) + "<junk", 0, "P \"x\"\n"},
        // Paragraph content.
        {"runs, entities and a slash", note(para("a<b>b<i>c</b>d</i> &lt;x&gt; &amp; 1&#47;2")), 0,
         "P \"abcd <x> & 1/2\" b[1,3) i[2,4)\n"},
        {"a carriage return reads as a line feed", note(para("a\rb")), 0, "P \"a\nb\"\n"},
        {"raw '>' and ']' are text", note(para("a>b]c")), 0, "P \"a>b]c\"\n"},
        {"underline and an empty run", note(para("<u>x</u><b></b>y")), 0, "P \"xy\" b[1,1) u[0,1)\n"},
        {"runs stay with the first piece of a split", note(para("<b>ab</b>\n\ncd")), 0, "P \"ab\" b[0,2)\nP \"cd\"\n"},
        {"a hidden paragraph", note(para("x") + para("h", "H")), 0, "P \"x\"\nH \"h\"\nP \"\"\n"},
        // Amounts.
        {"two amounts in a row, compact 0", note(para("x") + am1 + am2), 0,
         "P \"x\"\nAM 1.00 r0 n0 p0 s0 v0\nP \"\"\nAM 2.00 r0 n0 p0 s0 v0\nP \"\"\n"},
        {"two amounts in a row, compact 1", note(para("x") + am1 + am2), 1,
         "P \"x\"\nAM 1.00 r0 n0 p0 s0 v0\nAM 2.00 r0 n0 p0 s0 v0\n"},
        {"compact 1 keeps an empty paragraph between two amounts only",
         note(para("") + para("x") + am1 + para("") + am2 + para("")), 1,
         "P \"x\"\nAM 1.00 r0 n0 p0 s0 v0\nP \"\"\nAM 2.00 r0 n0 p0 s0 v0\n"},
        {"compact 0 keeps every paragraph", note(para("") + para("x") + para("")), 0, "P \"\"\nP \"x\"\nP \"\"\n"},
        {"compact 1 of an all-empty note", note(para("") + para("", "H")), 1, ""},
        {"an amount's settings",
         note(para("x") + amount("-0.5", "required=\"true\" next=\"false\" protect=\"true\" orsec=\"-7\" "
                                         "orsecvalue=\"2147483647\"")),
         1, "P \"x\"\nAM -0.50 r1 n0 p1 s-7 v2147483647\n"},
        {"fewer settings", note(para("x") + amount("3", "required=\"true\"")), 1, "P \"x\"\nAM 3.00 r1 n0 p0 s0 v0\n"},
        {"an empty amount and one not a number", note(para("x") + amount("") + amount("abc")), 1,
         "P \"x\"\nAM 0.00 r0 n0 p0 s0 v0\nAM 0.00 r0 n0 p0 s0 v0\n"},
        {"an amount text of the writer's 63 characters", note(para("x") + amount(big)), 1,
         "P \"x\"\nAM " + big + " r0 n0 p0 s0 v0\n"},
        // Tags.
        {"a trailing tag, compact 0", note(para("x") + tag("T1", true, "a<b&c")), 0,
         "P \"x\"\nTAG T1 start \"a<b&c\"\nP \"\"\n"},
        {"a trailing tag, compact 1", note(para("x") + tag("T1", false)), 1, "P \"x\"\nTAG T1 end \"\"\n"},
        {"a tag forgets a pending paragraph", note(para("x") + para("") + tag("T", true) + am1), 1,
         "P \"x\"\nTAG T start \"\"\nAM 1.00 r0 n0 p0 s0 v0\n"},
        {"a tag text of 249 bytes", note(tag("T", true, std::string(249, 't'))), 1,
         "TAG T start \"" + std::string(249, 't') + "\"\n"},
        {"an empty paragraph without a datatype, compact 1, is dropped", note(para("x") + "<p ><![CDATA[]]></p>"), 1,
         "P \"x\"\n"},
    };
    for (const ReadCase &c : cases) EXPECT_EQ(read_list(c.string, c.compact), c.result) << c.what;
}

TEST(NoteXmlReader, StringsThatDoNotReadAndTheirErrors)
{
    const std::string big = "1" + std::string(59, '0') + ".00";  // 63 characters
    const std::string am_attrs = "required=\"true\" next=\"true\" protect=\"true\" ";
    const ErrorCase cases[] = {
        // The note element.
        {"a second attribute of the note", "<note ver=\"1\" x=\"2\"></note>",
         "gnote_parse_xml: Unexpected attribute in the note tag", GNOTE_READ_NOTE, "x=\"2\""},
        {"version 2", "<note ver=\"2\"></note>", "gnote_parse_xml: Unexpected version number 2", GNOTE_READ_NOTE,
         "2\""},
        {"a version not a number", "<note ver=\"1x\"></note>",
         "gnote_parse_xml: Unexpected value '1x' for the ver attribute", GNOTE_READ_VALUE, "1x"},
        {"a version beyond 32 bits", "<note ver=\"4294967297\"></note>",
         "gnote_parse_xml: Unexpected value '4294967297' for the ver attribute", GNOTE_READ_VALUE, "4294967297"},
        {"a note tag without its '>'", "<note ver", "gnote_parse_xml_attr: Failed to find '=' in the arrtibute",
         GNOTE_READ_ATTRIBUTE_FORM, "ver"},
        // Element start tags and attributes.
        {"text between elements", note("abc"), "gnote_parse_xml_tag: Expecting an open tag, found \"abc</note>\"",
         GNOTE_READ_START_TAG, "abc"},
        {"a long element name", note("<parag x=\"1\">"), "gnote_parse_xml_tag: Name too long parag",
         GNOTE_READ_START_TAG, "parag"},
        {"an unknown element", note("<x a=\"1\">"), "Unexpected tag encountered: x", GNOTE_READ_ELEMENT, "x a="},
        {"a close tag", note("</p >"), "gnote_parse_xml: Unexpected close tag encountered '/p'", GNOTE_READ_ELEMENT,
         "</p >"},
        {"no '='", note("<p datatype>"), "gnote_parse_xml_attr: Failed to find '=' in the arrtibute",
         GNOTE_READ_ATTRIBUTE_FORM, "datatype>"},
        {"no quote after '='", note("<p datatype=P>"),
         "gnote_parse_xml_attr: Failed to find '\"' following a '=' in the arrtibute", GNOTE_READ_ATTRIBUTE_FORM, "P>"},
        {"no closing quote", note("<p datatype=\"P>"),
         "gnote_parse_xml_attr: Failed to find '\"' following the value in the arrtibute", GNOTE_READ_ATTRIBUTE_FORM,
         "\"P>"},
        {"no blank after a value", note("<p datatype=\"P\"position=\"0\">"),
         "gnote_parse_xml_attr: Failed to find a space following an arrtibute", GNOTE_READ_ATTRIBUTE_FORM, "position"},
        {"an attribute text over 535 bytes", note("<p datatype=\"P\" " + std::string(600, 'x') + ">"),
         "gnote_parse_xml_tag: Attribute text too long in a 'p' tag", GNOTE_READ_START_TAG, "datatype"},
        {"an attribute name over 31 bytes", note("<p " + std::string(32, 'd') + "=\"P\">"),
         "gnote_parse_xml_attr: Attribute name too long", GNOTE_READ_ATTRIBUTE_FORM, "ddd"},
        {"an attribute value over 255 bytes", note("<tag name=\"" + std::string(256, 'n') + "\" start=\"true\">"),
         "gnote_parse_xml_attr: Value of the attribute 'name' too long", GNOTE_READ_ATTRIBUTE_FORM, "nnn"},
        // Tags.
        {"a wrong first tag attribute", note("<tag nam=\"a\" start=\"true\"></tag>"),
         "gnote_parse_xml: Unexpected attribute in the 'tag' text tag", GNOTE_READ_ATTRIBUTE, "nam="},
        {"a wrong second tag attribute", note("<tag name=\"a\" begin=\"true\"></tag>"),
         "gnote_parse_xml: Unexpected attribute in the 'tag' text tag", GNOTE_READ_ATTRIBUTE, "begin"},
        {"a start neither true nor false", note("<tag name=\"a\" start=\"yes\"></tag>"),
         "gnote_parse_xml: Unexpected value 'yes' for the start attribute", GNOTE_READ_VALUE, "yes"},
        {"three tag attributes", note("<tag name=\"a\" start=\"true\" x=\"1\"></tag>"),
         "gnote_parse_xml: Too many parameters to the 'tag' text tag", GNOTE_READ_ATTRIBUTE, "x=\"1\""},
        {"a tag text over 249 bytes", note(tag("T", true, std::string(250, 't'))),
         "gnote_parse_xml: Closing 'tag' text tag not found", GNOTE_READ_UNCLOSED, "ttt"},
        {"a name starting with t", note("<tab name=\"a\">"), "Unexpected tag encountered: tab", GNOTE_READ_ELEMENT,
         "tab "},
        // Paragraphs.
        {"a name starting with p", note("<pp datatype=\"P\">"), "Unexpected tag encountered: pp", GNOTE_READ_ELEMENT,
         "pp "},
        {"a wrong first p attribute", note("<p type=\"P\" position=\"0\">"),
         "gnote_parse_xml: Unexpected attribute in the 'p' tag", GNOTE_READ_ATTRIBUTE, "type="},
        {"a wrong second p attribute", note("<p datatype=\"P\" pos=\"0\">"),
         "gnote_parse_xml: Unexpected attribute in the 'p' tag", GNOTE_READ_ATTRIBUTE, "pos="},
        {"a datatype X", note("<p datatype=\"X\" position=\"0\">"),
         "gnote_parse_xml: Unexpected value 'X' for the datatype attribute @ 319", GNOTE_READ_VALUE, "X\""},
        {"a position 1", note("<p datatype=\"P\" position=\"1\">"),
         "gnote_parse_xml: Unexpected value '1' for the position attribute", GNOTE_READ_VALUE, "1\"></note>"},
        {"three p attributes", note("<p datatype=\"P\" position=\"0\" x=\"1\">"),
         "gnote_parse_xml: Too many attributes in the 'p' tag", GNOTE_READ_ATTRIBUTE, "x=\"1\""},
        {"no CDATA", note("<p datatype=\"P\" position=\"0\">x</p>"),
         "gnote_parse_xml: Failed to find a 'CDATA' tag within a 'p' tag", GNOTE_READ_UNCLOSED, "x</p>"},
        {"an unterminated CDATA", "<note ver=\"1\"><p datatype=\"P\" position=\"0\"><![CDATA[abc",
         "gnote_parse_xml: 'CDATA' end tag not found", GNOTE_READ_UNCLOSED, "abc"},
        {"no closing p", note("<p datatype=\"P\" position=\"0\"><![CDATA[abc]]></q>"),
         "gnote_parse_xml: Failed to find closing 'p' tag", GNOTE_READ_UNCLOSED, "</q>"},
        {"a paragraph without a datatype", note(para("x") + "<p ><![CDATA[y]]></p>"),
         "gmenu_parse_xml_add: Tag type not yet coded @ 221", GNOTE_READ_ATTRIBUTE, "p ><"},
        {"an empty one, compact 1, before an amount", note(para("x") + "<p ><![CDATA[]]></p>" + amount("1")),
         "gmenu_parse_xml_add: Tag type not yet coded @ 221", GNOTE_READ_ATTRIBUTE, "p ><", 1},
        // Amounts.
        {"a name starting with a", note("<amt required=\"true\">"), "Unexpected tag encountered: amt",
         GNOTE_READ_ELEMENT, "amt "},
        {"a wrong am attribute", note(amount("1", "required=\"true\" nxt=\"false\"")),
         "gnote_parse_xml: Unexpected attribute in the 'am' tag", GNOTE_READ_ATTRIBUTE, "nxt"},
        {"required neither true nor false", note(amount("1", "required=\"1\"")),
         "gnote_parse_xml: Unexpected value '1' for the required attribute", GNOTE_READ_VALUE, "1\">1</am>"},
        {"next neither true nor false", note(amount("1", "required=\"true\" next=\"no\"")),
         "gnote_parse_xml: Unexpected value 'no' for the next attribute", GNOTE_READ_VALUE, "no\""},
        {"protect neither true nor false", note(amount("1", "required=\"true\" next=\"true\" protect=\"\"")),
         "gnote_parse_xml: Unexpected value '' for the protect attribute", GNOTE_READ_VALUE, "\">1</am>"},
        {"an orsec not an integer", note(amount("1", (am_attrs + "orsec=\"1.5\"").c_str())),
         "gnote_parse_xml: Unexpected value '1.5' for the orsec attribute", GNOTE_READ_VALUE, "1.5"},
        {"an orsecvalue beyond 32 bits",
         note(amount("1", (am_attrs + "orsec=\"1\" orsecvalue=\"2147483648\"").c_str())),
         "gnote_parse_xml: Unexpected value '2147483648' for the orsecvalue attribute", GNOTE_READ_VALUE, "2147483648"},
        {"six am attributes", note(amount("1", (am_attrs + "orsec=\"1\" orsecvalue=\"2\" x=\"3\"").c_str())),
         "gnote_parse_xml: Too many parameters to the 'am' tag", GNOTE_READ_ATTRIBUTE, "x=\"3\""},
        {"an amount text over 63 characters", note(para("x") + amount(big + "0")),
         "gnote_parse_xml: Closing 'am' tag not found", GNOTE_READ_UNCLOSED, big},
        // Run marks and entities.
        {"<u without '>'", note(para("<ux")), "Malformed underline open tag", GNOTE_READ_RUN_MARK, "<ux"},
        {"<i without '>'", note(para("<i")), "Malformed italic open tag", GNOTE_READ_RUN_MARK, "<i]"},
        {"<b without '>'", note(para("<b x")), "Malformed bold open tag", GNOTE_READ_RUN_MARK, "<b x"},
        {"a close mark without '>'", note(para("<i>a</i ")), "Malformed bold close tag", GNOTE_READ_RUN_MARK, "</i "},
        {"an unknown close mark", note(para("</s>")), "Unexpected paragraph close format tag", GNOTE_READ_RUN_MARK,
         "</s>"},
        {"an unknown open mark", note(para("<s>")), "Unexpected paragraph open format tag", GNOTE_READ_RUN_MARK, "<s>"},
        {"&a not &amp;", note(para("&ampx")), "Unexpected paragraph format tag '&a...'", GNOTE_READ_ENTITY, "&ampx"},
        {"&l not &lt;", note(para("&l")), "Unexpected paragraph format tag '&l...'", GNOTE_READ_ENTITY, "&l"},
        {"&g not &gt;", note(para("&gt")), "Unexpected paragraph format tag '&g...'", GNOTE_READ_ENTITY, "&gt"},
        {"&# not &#47;", note(para("&#48;")), "Unexpected paragraph format tag '&#...'", GNOTE_READ_ENTITY, "&#48"},
        {"another ampersand", note(para("a & b")), "Unexpected ampersand", GNOTE_READ_ENTITY, "& b"},
        {"bold opened twice", note(para("<b>a<b>")), "Unexpected mismatch in start and end bold format tags 1",
         GNOTE_READ_RUN_MARK, "<b>]"},
        {"italic closed unopened", note(para("a</i>")), "Unexpected mismatch in end and start italic format tags 1",
         GNOTE_READ_RUN_MARK, "</i>"},
        {"bold left open", note(para("<b>a")), "Missing paragraph close bold format tag", GNOTE_READ_RUN_MARK, "]]>"},
        {"italic left open", note(para("<i>a")), "Missing paragraph close italic format tag", GNOTE_READ_RUN_MARK,
         "]]>"},
        {"underline left open", note(para("<u>a")), "Missing paragraph close underline format tag", GNOTE_READ_RUN_MARK,
         "]]>"},
        {"a fault after elements that read", note(para("a") + amount("1") + tag("T", true) + para("&x")),
         "Unexpected ampersand", GNOTE_READ_ENTITY, "&x"},
    };
    expect_errors(std::begin(cases), std::end(cases));
}

TEST(NoteXmlReader, ContentDecodesIntoAnElement)
{
    Note n;
    NoteElement_t *p = add_paragraph(n, "old");
    set_runs(p, 'u', {{0, 3}});
    // Content that does not read changes nothing; the offset counts from the content's start.
    char *decoded = nullptr;
    const ReadError error = gnote_parse_xml_cdata(p, "<b>a</b><i>b", &decoded);
    EXPECT_EQ(described(error),
              "code " + std::to_string(GNOTE_READ_RUN_MARK) + " at 12: Missing paragraph close italic format tag");
    EXPECT_EQ(decoded, nullptr);
    EXPECT_EQ(dump(n), "P \"old\" u[0,3)\n");

    ASSERT_FALSE(gnote_parse_xml_cdata(p, "<u>a&lt;</u>\r<b>&#47;</b>", &decoded));
    sfree(p->p.text);
    p->p.text = decoded;
    EXPECT_EQ(dump(n), "P \"a<\n/\" b[3,4) u[0,3) u[0,2)\n") << "runs follow those the element had";
    std::string buffer = "left over";
    EXPECT_EQ(gnote_get_xml_cdata(buffer, p), "<u>a&lt;\n</u><b>/</b>") << "the second run lies inside the first";
}

// gnote_read_xml hands over a list of the record's elements and leaves the record alone.
TEST(NoteXmlReader, ReadingALeavesTheRecordAlone)
{
    Note n;
    add_paragraph(n, "kept");
    n->version = 0;
    NoteElement_t *list = nullptr;
    ASSERT_FALSE(gnote_read_xml(n.data, note(para("a") + amount("1")).c_str(), 0, &list));
    EXPECT_EQ(dump(list, n.data), "P \"a\"\nAM 1.00 r0 n0 p0 s0 v0\nP \"\"\n") << "elements of the record";
    EXPECT_EQ(dump(n), "P \"kept\"\n");
    EXPECT_EQ(n->version, 0);
    NoteElement_t *none = nullptr;
    const ReadError error = gnote_read_xml(n.data, note(para("b") + "<x ").c_str(), 0, &none);
    EXPECT_EQ(error.message, "Unexpected tag encountered: x");
    EXPECT_EQ(none, nullptr);
    Note owner;
    owner->note = list;  // freed with it
}

TEST(NoteXmlReader, SplittingAList)
{
    for (int compact : {0, 1}) {
        Note n;
        set_runs(add_paragraph(n, "a\n\nb\n\n"), 'b', {{0, 4}});
        add_paragraph(n, "h\n\nh", "h");
        add_amount(n, "1");
        add_amount(n, "2");
        add_tag(n, "T", 0, "t");
        gnote_split_paragraphs(n.data, compact);
        const std::string amounts = compact ? "AM 1.00 r0 n0 p0 s0 v0\nAM 2.00 r0 n0 p0 s0 v0\n"
                                            : "AM 1.00 r0 n0 p0 s0 v0\nP \"\"\nAM 2.00 r0 n0 p0 s0 v0\n";
        EXPECT_EQ(dump(n), "P \"a\" b[0,4)\nP \"b\"\nP \"\"\nH \"h\n\nh\"\n" + amounts + "TAG T end \"t\"\n" +
                               (compact ? "" : "P \"\"\n"))
            << "compact " << compact;
    }
}

struct WriteCase {
    const char *what;
    std::function<void(Note &)> build;
    std::string result;  // the note string, or "abort: " and the message (a pattern where it holds "@ ")
};

TEST(NoteXmlWriter, ListsAndTheirStrings)
{
    const std::string long_text(20000, 'x');
    const WriteCase cases[] = {
        {"bold over a whole paragraph", [](Note &n) { set_runs(add_paragraph(n, "abc"), 'b', {{0, 3}}); },
         note(para("<b>abc</b>"))},
        {"adjacent runs", [](Note &n) { set_runs(add_paragraph(n, "abc"), 'b', {{0, 1}, {1, 3}}); },
         note(para("<b>a</b><b>bc</b>"))},
        {"interleaved kinds",
         [](Note &n) {
             NoteElement_t *p = add_paragraph(n, "abcd");
             set_runs(p, 'b', {{0, 2}});
             set_runs(p, 'i', {{1, 3}});
             set_runs(p, 'u', {{1, 2}});
         },
         note(para("<b>a<i><u>b</b></u>c</i>d"))},
        {"a run still open, and one starting at the end",
         [](Note &n) { set_runs(add_paragraph(n, "abc"), 'u', {{1, -1}, {3, -1}}); }, note(para("a<u>bc</u>"))},
        {"empty runs are not written",
         [](Note &n) {
             NoteElement_t *p = add_paragraph(n, "abc");
             set_runs(p, 'b', {{1, 1}, {1, 2}, {3, 3}});
             set_runs(p, 'i', {{0, 0}});
         },
         note(para("a<b>b</b>c"))},
        {"overlapping and reversed runs are written clear of each other",
         [](Note &n) { set_runs(add_paragraph(n, "abcdef"), 'b', {{0, 3}, {2, 5}, {6, 4}}); },
         note(para("<b>abc</b><b>de</b>f"))},
        {"escaped bytes", [](Note &n) { add_paragraph(n, "<x> & ]]> 1/2 \xc3\xa9"); },
         note(para("&lt;x&gt; &amp; ]]&gt; 1/2 \xc3\xa9"))},
        {"a hidden paragraph", [](Note &n) { add_paragraph(n, "x"); add_paragraph(n, "h", "hide"); },
         note(para("x") + para("h", "H"))},
        {"-0.5 as -0.50, the settings, a null amount",
         [](Note &n) {
             add_paragraph(n, "x");
             add_amount(n, "-0.5", 1, 0, 1, 7, -5);
             add_amount(n, nullptr, 0, 1, 0, 0, 0);
         },
         note(para("x") +
              amount("-0.50", "required=\"true\" next=\"false\" protect=\"true\" orsec=\"7\" orsecvalue=\"-5\"") +
              amount("", "required=\"false\" next=\"true\" protect=\"false\" orsec=\"0\" orsecvalue=\"0\""))},
        {"tags, as stored", [](Note &n) { add_tag(n, "T1", 1, "a<b"); add_paragraph(n, "x"); add_tag(n, "T1", 0); },
         note(tag("T1", true, "a<b") + para("x") + tag("T1", false))},
        {"the empty note", [](Note &) {}, note(para(""))},
        {"a paragraph over 8 KB", [&](Note &n) { add_paragraph(n, long_text); }, note(para(long_text))},
        {"a list beginning with an amount", [](Note &n) { add_amount(n, "1"); },
         "abort: Program assertion failed in note_xml@[0-9]+: CM_GNOTE_NOTE_TYPE_AM != note_data->note->type"},
        {"version 2", [](Note &n) { n->version = 2; }, "abort: Unexpected Note version number 2"},
        {"an unknown type", [](Note &n) { add_paragraph(n, "x"); add_paragraph(n, "y")->type = 9; },
         "abort: Unexpected note type 9 in gnote_get_xml @ 489"},
        {"a tag the reader could not read", [](Note &n) { add_tag(n, "a\"b", 1); },
         "abort: Block tag name 'a\"b' holds '\"' or '>'"},
        {"an amount too long for its field",
         [](Note &n) { add_paragraph(n, "x"); add_amount(n, ("1" + std::string(61, '0')).c_str()); },
         "abort: gnote_get_xml: The amount 1" + std::string(61, '0') + ".00 does not fit in 63 characters"},
        {"a datatype the reader refuses", [](Note &n) { std::strcpy(add_paragraph(n, "x", "P")->p.datatype, "X"); },
         "abort: gnote_get_xml: Unexpected datatype 'X' of a paragraph"},
        {"a position the reader refuses", [](Note &n) { add_paragraph(n, "x")->p.position = 3; },
         "abort: gnote_get_xml: Unexpected position 3 of a paragraph"},
    };
    for (const WriteCase &c : cases) {
        Note n;
        c.build(n);
        const std::string result = write(n);
        if (c.result.find("@[") != std::string::npos || c.result.find("@ ") != std::string::npos)
            EXPECT_PRED2(matches, result, c.result.c_str()) << c.what;
        else
            EXPECT_EQ(result, c.result) << c.what;
        // The type the unknown-type case set, so the note can be freed.
        for (NoteElement_t *e = n->note; e; e = e->next)
            if (e->type == 9) e->type = CM_GNOTE_NOTE_TYPE_P;
    }
}

TEST(NoteXmlWriter, TheRunTest)
{
    const std::int32_t starts[] = {1, 4}, ends[] = {3, 6};
    int open = 0, index = 0;
    std::string marks;
    for (int at = 0; at < 8; ++at) {
        if (gnote_get_xml_cdata_format(&open, ends, 2, &index, at)) marks += "/" + std::to_string(at);
        if (gnote_get_xml_cdata_format(&open, starts, 2, &index, at)) marks += "+" + std::to_string(at);
    }
    EXPECT_EQ(marks, "+1/3+4/6");
    EXPECT_EQ(index, -1);
    int none = -1;
    EXPECT_EQ(gnote_get_xml_cdata_format(&open, starts, 2, &none, 1), 0);

    char text[] = "a b \t\n ";
    EXPECT_STREQ(gnote_trim(text), "a b");
    char blank[] = "   ";
    EXPECT_STREQ(gnote_trim(blank), "");
}

TEST(NoteXml, ExactRoundTrip)
{
    const std::string input =
        note(para("a<b>b<i>c</b>d</i> &lt;x&gt; &amp; 1&#47;2") +
             amount("-1234.50", "required=\"true\" next=\"false\" protect=\"false\" orsec=\"7\" orsecvalue=\"5\"") +
             para("hidden", "H") + tag("T1", true) + para("") + tag("T1", false));
    std::string expected = input;
    expected.replace(expected.find("&#47;"), 5, "/");
    expected.insert(expected.size() - 7, para(""));

    Note n;
    ASSERT_FALSE(gnote_parse_xml(n.data, input.c_str(), 0));
    EXPECT_EQ(dump(n), "P \"abcd <x> & 1/2\" b[1,3) i[2,4)\nAM -1234.50 r1 n0 p0 s7 v5\nH \"hidden\"\n"
                       "TAG T1 start \"\"\nP \"\"\nTAG T1 end \"\"\nP \"\"\n");
    const std::string first = write(n);
    EXPECT_EQ(first, expected);
    Note again;
    ASSERT_FALSE(gnote_parse_xml(again.data, first.c_str(), 0));
    EXPECT_EQ(write(again), first);
}

TEST(NoteXml, EmptyNotesComeBackEmpty)
{
    for (const std::string &s : {note(""), note(para("") + para("")), note(para(""))}) {
        Note n;
        add_paragraph(n, "replaced");
        ASSERT_FALSE(gnote_parse_xml(n.data, s.c_str(), 1)) << s;
        EXPECT_EQ(n->note, nullptr) << s;
        EXPECT_EQ(write(n), note(para(""))) << s;
    }
}

TEST(NoteXml, HostileInputEndsCleanly)
{
    const std::string marks(1 << 20, 'x');
    std::string empty_runs;
    while (empty_runs.size() < (1 << 20)) empty_runs += "<b></b>";
    std::string opened;
    while (opened.size() < (1 << 20)) opened += "<i>";
    const ErrorCase refused[] = {
        {"a 100,000-byte tag name", note("<tag name=\"" + std::string(100000, 'n') + "\" start=\"true\"></tag>"),
         "gnote_parse_xml_tag: Attribute text too long in a 'tag' tag", GNOTE_READ_START_TAG, "name="},
        {"a 100,000-byte element name", note("<" + std::string(100000, 'n') + ">"),
         "gnote_parse_xml_tag: Name too long nnnnn", GNOTE_READ_START_TAG, "nnnnn"},
        {"an unterminated CDATA", "<note ver=\"1\">" + para("x").substr(0, 40) + std::string(100000, ']'),
         "gnote_parse_xml: 'CDATA' end tag not found", GNOTE_READ_UNCLOSED, "x]]]"},
    };
    expect_errors(std::begin(refused), std::end(refused));

    const std::string reopened = note(para(opened));
    const Read r = read(reopened, 1);
    EXPECT_EQ(r.error.message, "Unexpected mismatch in start and end italic format tags 0");
    EXPECT_EQ(r.error.offset, reopened.find("<i>") + 3) << "the second mark";
    EXPECT_EQ(r.list, "P \"kept\"\n");

    EXPECT_EQ(read_list(note(para(marks)), 1), "P \"" + marks + "\"\n") << "a megabyte of text";
    Note n;
    ASSERT_FALSE(gnote_parse_xml(n.data, note(para(empty_runs)).c_str(), 1)) << "1 MB of marks, all closed";
    EXPECT_EQ(n->note->p.bold_count, (1 << 20) / 7 + 1);
    EXPECT_EQ(write(n), note(para(""))) << "empty runs are not written";
}

} // namespace
