// Page set-up, prolog, headings, the two line renderers and multi-line texts in print, in-process
// over the fixture's style tags.
#include <cstdio>
#include <fstream>
#include <pango/pango.h>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "comma_locale.h"
#include "mem_mgt.h"
#include "ps_fixture.h"
#include "ps_render.h"
#include "read_error.h"

namespace {

using lumba_test::abort_text;
using ps_test::PsTest;

// ---- Margins and forms ----------------------------------------------------------------------------

struct MarginCase {
    const char *margins, *form;
    float left, top, right, bottom;
    int form_kind, orientation, height;
};

TEST_F(PsTest, MarginsAndFormsSetThePage)
{
    const MarginCase cases[] = {
        {"", "", 1.6f, 0.7f, 0.7f, 1.2f, 4, 0, 842},
        {"2,1", "A4", 2.0f, 1.0f, 0.7f, 1.2f, 4, 0, 842},
        {"0,400,3,4", "A4P", 1.6f, 0.7f, 3.0f, 4.0f, 4, 0, 842},
        {" 1.5 , 2.5 ,, 3", "a3l", 1.5f, 2.5f, 0.7f, 3.0f, 3, 1, 842},
        {",,2.25", "A3", 1.6f, 0.7f, 2.25f, 1.2f, 3, 0, 1190},
        {"0.01,300.1", "a4l", 1.6f, 0.7f, 0.7f, 1.2f, 4, 1, 595},
        {"1,1,1,1", "   ", 1.0f, 1.0f, 1.0f, 1.0f, 4, 0, 842},
    };
    for (const MarginCase &c : cases) {
        SCOPED_TRACE(std::string(c.margins) + " / " + c.form);
        postscript_set_margins_form(state, c.margins, c.form);
        EXPECT_FLOAT_EQ(state->left_margin, c.left);
        EXPECT_FLOAT_EQ(state->top_margin, c.top);
        EXPECT_FLOAT_EQ(state->right_margin, c.right);
        EXPECT_FLOAT_EQ(state->bottom_margin, c.bottom);
        EXPECT_EQ(state->form, c.form_kind);
        EXPECT_EQ(state->orientation, c.orientation);
        EXPECT_EQ(state->page_height, c.height);
        EXPECT_FLOAT_EQ(state->current_y, static_cast<float>(c.height));
    }
}

TEST_F(PsTest, BadMarginsAndFormsStop)
{
    const std::pair<std::pair<const char *, const char *>, const char *> cases[] = {
        {{"1234567890123456", ""}, "Left margin figure has too many characters"},
        {{"1,1234567890.12345", ""}, "Top margin figure has too many characters"},
        {{"1,1,1234567890123456", ""}, "Right margin figure has too many characters"},
        {{"1,1,1,1234567890123456", ""}, "Bottom margin figure has too many characters"},
        {{"1,1,1,1,1", ""}, "Too many margin figures"},
        {{"", "A5"}, "Invalid form type: A5"},
        {{"", "A4X"}, "Invalid form type: A4X"},
        {{"", "A4LP"}, "Invalid form type: A4LP"},
        {{"", "B4"}, "Invalid form type 'B4'"},
        {{"10,1,10.5", "A4"}, "Left margin 10.00 cm and right margin 10.50 cm leave less than 1 cm of printable width"},
        {{"1,15,1,14", "A4L"}, "Top margin 15.00 cm and bottom margin 14.00 cm leave less than 1 cm of printable height"},
    };
    for (const auto &[input, message] : cases) {
        SCOPED_TRACE(std::string(input.first) + " / " + input.second);
        EXPECT_EQ(abort_text([&, &input = input] { postscript_set_margins_form(state, input.first, input.second); }),
                  message);
    }
}

// ---- Prolog -----------------------------------------------------------------------------------------

std::string masked_dates(std::string text)
{
    return std::regex_replace(text, std::regex("% Date:   [^\n]*"), "% Date:   <date>");
}

TEST_F(PsTest, PrologMatchesItsGoldenText)
{
    std::ifstream in(LUMBA_DOCUMENTS_GOLDEN "/prolog.ps", std::ios::binary);
    std::ostringstream golden;
    golden << in.rdbuf();
    const std::string prolog = postscript_prolog_text();
    EXPECT_EQ(masked_dates(prolog), golden.str());
    // The date comment: "% Date:   Thu  10 Dec 2026  12:00:00.123456".
    EXPECT_TRUE(std::regex_search(prolog, std::regex("\n% Date:   [A-Z][a-z]{2}  [0-9]{2} [A-Z][a-z]{2} [0-9]{4}  "
                                                     "[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{6}\n")));
}

TEST_F(PsTest, PrologNumbersAreCNotationUnderADecimalCommaLocale)
{
    const lumba_test::CommaLocale comma;
    EXPECT_NE(postscript_prolog_text().find("/cm {28.346456693 mul} def\n"), std::string::npos);
}

// ---- Headings ---------------------------------------------------------------------------------------

TEST_F(PsTest, HeadingsAreMeasuredReplacedAndCut)
{
    EXPECT_FLOAT_EQ(postscript_save_header(state, 0, "Title\rSub", "1,,1,,mtag_head\r1,,1,,mtag_big"), 1.15f * 26);
    EXPECT_FLOAT_EQ(postscript_save_header(state, 1, "One", ""), 1.15f * 8);
    EXPECT_FLOAT_EQ(postscript_save_header(state, 2, "Two  \r   ", "\r  "), 1.15f * 16);
    EXPECT_FLOAT_EQ(postscript_save_header(state, 0, "Page", "1,,1,,mtag_big"), 1.15f * 12);
    std::vector<std::string> seen;
    for (const PrintHeader_t *h = state->headings; h; h = h->next)
        seen.push_back(std::to_string(h->level) + ":" + h->text + "|" + h->format);
    EXPECT_EQ(seen, (std::vector<std::string>{"0:Page|1,,1,,mtag_big", "1:One|", "2:Two  \r |\r"}));
    postscript_cut_header(state, 0);
    ASSERT_NE(state->headings, nullptr);
    EXPECT_EQ(state->headings->next, nullptr);
    EXPECT_EQ(state->current_colour, -1) << "measuring leaves the output's colour as it was";
    EXPECT_EQ(abort_text([&] { postscript_save_header(state, 3, "a\rb\rc", "\r"); }),
              "Lines of heading text are 'cr' separated, and must have a one to one relationship with 'cr' separated "
              "format specification\na\rb\rc\n\r");
}

// The output written by f to a scratch report file.
template <class F> std::string written(PrintState_t *state, const std::filesystem::path &path, F &&f)
{
    state->output_file = std::fopen(path.c_str(), "w");
    f();
    std::fclose(state->output_file);
    state->output_file = nullptr;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return masked_dates(out.str());
}

TEST_F(PsTest, FirstPageHeadingWritesThePageSetUp)
{
    postscript_set_margins_form(state, "2.5,1,1", "A4");
    state->gutter = 1;
    postscript_save_header(state, 0, "Title\rSub", "1,,2,,mtag_big\r");
    const std::string out = written(state, scratch / "h.ps", [&] { postscript_print_heading(state, 0, 0, nullptr, nullptr, nullptr); });
    EXPECT_EQ(out, "/n {/Y exch def 70.87 sh Y moveto} def\n"
                   "/F {dup /pageheight 842 def 1 dict dup /PageSize [595 842] put\n"
                   "\t systemdict /setpagedevice known {dup setpagedevice} if\n"
                   "\t exch n} def\n"
                   "/sh {pg {1.50 cm sub} if} def\n"
                   "% Date:   <date>\n801.7 F 0 0 0 C 2.00 12 (Title) sgH\n"
                   "792.5 n 8 (Sub) sfH\n");
}

TEST_F(PsTest, WatermarkOnTheFirstPage)
{
    const std::pair<const char *, const char *> cases[] = {
        {"mtag_water",
         "/wm {gsave 60 exch saHb 92 170 translate 45 rotate 2 1 scale newpath dup stringwidth pop 2 div 200 sub -1 mul "
         "100 moveto true charpath 2.0 setlinewidth 0.75 0.75 0.75 C stroke grestore} def\n\n\n% Date:   <date>\n814.2 F "
         "(Draft) wm 0 0 0 C 8 (T) sfH\n"},
        {"mtag_nowater", "% Date:   <date>\n814.2 F 0 0 0 C 8 (T) sfH\n"},
    };
    for (const auto &[tag, tail] : cases) {
        SCOPED_TRACE(tag);
        postscript_set_margins_form(state, "", "A4");
        state->page_set_up = 0;
        state->current_colour = -1;
        ASSERT_FALSE(postscript_parse_default(tag, state));
        const std::string out = written(state, scratch / "w.ps", [&] { postscript_do_heading_lines(state, "T", "", 0, 0, nullptr, nullptr, nullptr); });
        EXPECT_TRUE(out.ends_with(tail)) << out;
        EXPECT_EQ(out.find("/wm ") != std::string::npos, std::string(tag) == "mtag_water");
    }
}

// ---- Print renderer ---------------------------------------------------------------------------------

struct RenderCase {
    const char *format, *text, *expected;
    int size;
};

std::string rendered(PrintState_t *state, const char *format, const std::string &text, int *size = nullptr)
{
    EXPECT_FALSE(postscript_parse_format(format, state, static_cast<int>(text.size()))) << format;
    std::string out;
    const int s = postscript_apply_format_to_print_line(out, text, state, 0, 0);
    postscript_free_format_line(state);
    postscript_notes_free_line(state);
    if (size) *size = s;
    return out;
}

TEST_F(PsTest, PrintRendererRows)
{
    const RenderCase cases[] = {
        {"1,,16,,mtag_dec", "12.50-", "1 0 0 C 16.00 8 (12.50-) snHb", 8},
        {"1,,16,,mtag_dec", "--", "0 0 0 C 16.00 8 (--) snH", 8},
        {"1,,16,,mtag_dec", "-", "0 0 0 C 16.00 8 (-) snH", 8},
        {"1,,16,,mtag_dec", "1-2-", "0 0 0 C 16.00 8 (1-2-) snH", 8},
        {"1,,3,,mtag_bool", "No", "0 0 1 C 3.00 8 (No) sgH", 8},
        {"1,,3,,mtag_bool", "Yes", "0 0 0 C 3.00 8 (Yes) sgH", 8},
        {"1,,3,,mtag_boolplain", "No", "0 0 0 C 3.00 8 (No) sgH", 8},
        {"1,2,1,,mtag_plain;3,2,5,,mtag_plain", "abcd", "0 0 0 C 1.00 8 (ab) sgH 5.00 8 (cd) sgH", 8},
        {"1,2,1,,mtag_red;3,2,5,,mtag_red;5,2,9,,mtag_plain", "abcdef", "1 0 0 C 1.00 8 (ab) sgH 5.00 8 (cd) sgH 0 0 0 C 9.00 8 (ef) sgH", 8},
        {"1,2,1,,mtag_plain;3,2,5,,mtag_plain;5,2,9,,mtag_plain", "ab  cd", "0 0 0 C 1.00 8 (ab) sgH 9.00 8 (cd) sgH", 8},
        {"1,,10,,mtag_page", "Page", "0 0 0 C 10.00 8 (Page 1) sgH", 8},
        {"1,,10,,mtag_next", "Page", "0 0 0 C 10.00 8 (Page 2) srH", 8},
        {"1,,10,,mtag_page", "   ", "10.00 8 ( 1) sgH", 8},
        {"1,2,1,,mtag_plain;3,,10,,mtag_page", "ab ", "0 0 0 C 1.00 8 (ab) sgH 10.00 8 ( 1) sgH", 8},
        {"", "a(b\tc)\\", "0 0 0 C 8 (a\\(b    c\\)\\\\) sfH", 8},
        {"", "Café", "0 0 0 C 8 (Caf\\351) sfH", 8},
        {"", "\xe2\x82\xac 5", "0 0 0 C 8 (? 5) sfH", 8},
        {"1,,2,15,mtag_rule", "x", "0 0 0 C 2.00 15.00 ln11", 8},
        {"1,,2,15,mtag_dots", "x", "0 0 0 C 2.00 15.00 ln12", 8},
        {"1,,2,15,mtag_dash", "x", "0 0 0 C 2.00 15.00 ln13", 8},
        {"1,,,,mtag_right", "12", "0 0 0 C 8 (12) sfH", 8},
        {"1,,,,mtag_centre", "12", "0 0 0 C 8 (12) sfH", 8},
        {"1,,,,mtag_dec", "12", "0 0 0 C 8 (12) sfH", 8},
        {"1,,4,,mtag_right", "12", "0 0 0 C 4.00 8 (12) srH", 8},
        {"1,,4,,mtag_centre", "12", "0 0 0 C 4.00 8 (12) scH", 8},
        {"1,,,,mtag_tbi", "x", "0 0 0 C 8 (x) sfTbi", 8},
        {"1,1,1,,mtag_plain;2,1,4,,mtag_big", "ab", "0 0 0 C 1.00 8 (a) sgH 4.00 12 (b) sgH", 12},
        {"1,,1,1,mtag_plain", "abcdefghij", "0 0 0 C 1.00 8 (abcdefg) sgH", 8},
    };
    for (const RenderCase &c : cases) {
        SCOPED_TRACE(std::string(c.format) + " / " + c.text);
        state->current_colour = -1;
        int size = 0;
        EXPECT_EQ(rendered(state, c.format, c.text, &size), c.expected);
        EXPECT_EQ(size, c.size);
    }
}

TEST_F(PsTest, PrintRendererKeepsTheColourAcrossLinesAndPrintsGrey)
{
    EXPECT_EQ(rendered(state, "1,,1,,mtag_plain", "a"), "0 0 0 C 1.00 8 (a) sgH");
    EXPECT_EQ(rendered(state, "1,,1,,mtag_plain", "b"), "1.00 8 (b) sgH");
    EXPECT_EQ(rendered(state, "1,,1,,mtag_red", ""), "");
    EXPECT_EQ(state->current_colour, 0) << "an empty segment leaves the colour";
    state->grey = 1;
    EXPECT_EQ(rendered(state, "1,,,,mtag_greyed", "x"), "0.50 0.50 0.50 C 8 (x) sfH");
}

TEST_F(PsTest, PrintLinesGrowAsNeeded)
{
    const std::string text(6000, 'x');
    const std::string out = rendered(state, "", text);
    EXPECT_EQ(out, "0 0 0 C 8 (" + text + ") sfH");
}

TEST_F(PsTest, PrintNumbersAreCNotationUnderADecimalCommaLocale)
{
    const lumba_test::CommaLocale comma;
    EXPECT_EQ(rendered(state, "1,,2.5,,mtag_greyed", "x"), "1 0 0 C 2.50 8 (x) sgH");
}

TEST_F(PsTest, EscapeAndColourHelpers)
{
    EXPECT_EQ(postscript_escape("  \t(a)\\b\tc"), "\\(a\\)\\\\b    c");
    EXPECT_EQ(postscript_escape("\xc3\xa9\xc3"), "\\351?");
    std::string colour;
    EXPECT_EQ(postscript_print_colour(colour, 0x00ff00), 0x00ff00);
    EXPECT_EQ(colour, "0 1 0 C");
    colour.clear();
    postscript_print_colour(colour, 0x336699);
    EXPECT_EQ(colour, "0.20 0.40 0.60 C");
    EXPECT_EQ(postscript_convert_ts_format("At ", 25, "%Y").size(), 7u);
    EXPECT_EQ(postscript_convert_ts_format("", 5, "%Y-%m-%d"), "") << "a time that does not fit the room is left out";
}

// ---- Display renderer -------------------------------------------------------------------------------

std::string displayed(PrintState_t *state, const char *format, const std::string &text)
{
    EXPECT_FALSE(postscript_parse_format(format, state, static_cast<int>(text.size()))) << format;
    std::string out;
    postscript_apply_format_to_display_line(out, text, state);
    postscript_free_format_line(state);
    return out;
}

// The spans of a row as Pango reads them: the row's own position and rule elements left out.
bool pango_accepts(const std::string &row)
{
    const std::string spans = std::regex_replace(row, std::regex("</?posn[^>]*>|<line[^>]*/>"), "");
    GError *error = nullptr;
    const bool ok = pango_parse_markup(spans.c_str(), -1, 0, nullptr, nullptr, nullptr, &error);
    if (error) {
        ADD_FAILURE() << error->message << " in " << spans;
        g_error_free(error);
    }
    // The whole row is well-formed mark-up too.
    GMarkupParser parser{};
    GMarkupParseContext *context = g_markup_parse_context_new(&parser, GMarkupParseFlags(0), nullptr, nullptr);
    const std::string whole = "<row>" + row + "</row>";
    const bool well_formed = g_markup_parse_context_parse(context, whole.c_str(), -1, nullptr) &&
                             g_markup_parse_context_end_parse(context, nullptr);
    g_markup_parse_context_free(context);
    return ok && well_formed;
}

TEST_F(PsTest, DisplayRendererRows)
{
    const std::pair<const char *, const char *> plain[] = {
        {"", "<span font_desc=\"Helvetica 8\">abc</span>"},
        {"1,,3.5,2,mtag_plain", "<posn start=\"3.50\" align=\"0\" length=\"2.00\"><span font_desc=\"Helvetica 8\">abc</span></posn>"},
        {"1,,3,,mtag_plain", "<posn start=\"3.00\" align=\"0\"><span font_desc=\"Helvetica 8\">abc</span></posn>"},
        {"1,1,3,,mtag_plain;2,2,,,mtag_plain", "<posn start=\"3.00\" align=\"0\"><span font_desc=\"Helvetica 8\">a</span><span "
                      "font_desc=\"Helvetica 8\">bc</span></posn>"},
        {"1,1,3,,mtag_plain;2,2,6,,mtag_plain", "<posn start=\"3.00\" align=\"0\"><span font_desc=\"Helvetica 8\">a</span></posn><posn "
                        "start=\"6.00\" align=\"0\"><span font_desc=\"Helvetica 8\">bc</span></posn>"},
        {"1,,,,mtag_tbi", "<span weight=\"bold\" font_desc=\"Times-Roman Italic 8\">abc</span>"},
        {"1,,,,mtag_red", "<span foreground=\"#ff0000\" font_desc=\"Helvetica 8\">abc</span>"},
        {"1,,2,15,mtag_rule", "<posn start=\"2.00\" align=\"0\"><line length=\"15.00\" /></posn>"},
        {"1,,,,mtag_rule", "<line />"},
        {"1,,4,,mtag_page", "<posn start=\"4.00\" align=\"0\"><span font_desc=\"Helvetica 8\">abc 1</span></posn>"},
    };
    for (const auto &[format, expected] : plain) {
        SCOPED_TRACE(format);
        const std::string row = displayed(state, format, "abc");
        EXPECT_EQ(row, expected);
        EXPECT_TRUE(pango_accepts(row));
    }
    const std::string negative = displayed(state, "1,,16,,mtag_dec", "12.50-");
    EXPECT_EQ(negative, "<posn start=\"16.00\" align=\"3\"><span foreground=\"#ff0000\" weight=\"bold\" "
                        "font_desc=\"Helvetica 8\">12.50-</span></posn>");
    EXPECT_TRUE(pango_accepts(negative));
    // A multi-line field's text is escaped once, like a segment's own.
    const std::string remark = displayed(state, "1,,3,,mtag_wrap5", "a&b<c");
    EXPECT_EQ(remark, "<posn start=\"3.00\" align=\"0\"><span font_desc=\"Helvetica 8\">a&amp;b&lt;c</span></posn>");
    EXPECT_TRUE(pango_accepts(remark));
    const std::string escaped = displayed(state, "", "a&b<c");
    EXPECT_EQ(escaped, "<span font_desc=\"Helvetica 8\">a&amp;b&lt;c</span>");
    EXPECT_TRUE(pango_accepts(escaped));
}

TEST_F(PsTest, RenderersTraceTheirEntryAndExit)
{
    const int before = p_trace;
    displayed(state, "", "x");
    rendered(state, "", "x");
    ASSERT_EQ((p_trace - before + TRACE_SIZE) % TRACE_SIZE, 4);
    const auto entry = [](int k) { return std::string(trace_log[k % TRACE_SIZE]); };
    EXPECT_NE(entry(before).find("IN: postscript_apply_format_to_display_line"), std::string::npos) << entry(before);
    EXPECT_NE(entry(before + 1).find("OUT postscript_apply_format_to_display_line"), std::string::npos);
    EXPECT_NE(entry(before + 2).find("IN: postscript_apply_format_to_print_line"), std::string::npos);
    EXPECT_NE(entry(before + 3).find("OUT postscript_apply_format_to_print_line"), std::string::npos);
}

// ---- Multi-line texts and notes ---------------------------------------------------------------------

TEST_F(PsTest, MultiLineWrapOfTwoCentimetresCutsAtFour)
{
    // 'a' is 240 wide at 8 points: 4 cm (6120) takes 26 of them, 2 cm would take 13.
    const std::string word(40, 'a');
    EXPECT_EQ(rendered(state, "1,,3,,mtag_wrap", word), "0 0 0 C 3.00 8 (" + word.substr(0, 26) + ") sgH");
    EXPECT_EQ(rendered(state, "", ""), "3.00 8 (" + word.substr(26) + ") sgH");
    EXPECT_EQ(state->multi_lines, nullptr);
}

TEST_F(PsTest, MultiLinesContinueInOrderOnTheFollowingLines)
{
    EXPECT_EQ(rendered(state, "1,1,1,,mtag_plain;2,1,5,,mtag_wrap5;3,1,10,,mtag_wrap5", "xAB"),
              "0 0 0 C 1.00 8 (x) sgH 5.00 8 (A) sgH 10.00 8 (B) sgH");
    ASSERT_EQ(state->multi_lines, nullptr) << "one-piece texts are used up at once";
    // Two texts, one of two paragraphs and an empty line, then their lines on the next lines; the
    // second is cut before the word that does not fit 5 cm (7650: three words of ten 'a' and the
    // blank after them take 7560, the next 'a' passes the width).
    const std::string ten(10, 'a');
    const std::string first = "one\rtwo\r\rfour", second = ten + " " + ten + " " + ten + " " + ten;
    const std::string line = "L" + first + second;
    const std::string format = "1,1,1,,mtag_plain;2," + std::to_string(first.size()) + ",5,,mtag_wrap5;" +
                               std::to_string(2 + first.size()) + ",,10,,mtag_wrap5";
    EXPECT_EQ(rendered(state, format.c_str(), line),
              "1.00 8 (L) sgH 5.00 8 (one) sgH 10.00 8 (" + ten + " " + ten + " " + ten + ") sgH");
    EXPECT_EQ(rendered(state, "", "M"), "8 (M) sfH 5.00 8 (two) sgH 10.00 8 (" + ten + ") sgH");
    EXPECT_EQ(rendered(state, "1,,1,,mtag_plain", "N"), "1.00 8 (N) sgH") << "an empty line prints nothing";
    EXPECT_EQ(rendered(state, "1,,1,,mtag_plain", "O"), "1.00 8 (O) sgH 5.00 8 (four) sgH");
    EXPECT_EQ(state->multi_lines, nullptr);
    EXPECT_EQ(state->multi_line_count, 4);
}

TEST_F(PsTest, EmptyMultiLinePrintsAnEmptyFirstLineOnly)
{
    EXPECT_EQ(rendered(state, "1,1,1,,mtag_plain;2,,5,,mtag_wrap5", "x "), "0 0 0 C 1.00 8 (x) sgH");
    EXPECT_EQ(state->multi_lines, nullptr);
    EXPECT_EQ(state->multi_line_count, 1);
}

TEST_F(PsTest, MultiLineWithoutPositionStops)
{
    EXPECT_EQ(abort_text([&] { rendered(state, "1,,,,mtag_wrap5", "text"); }),
              "Must explicitely set position of Multi Line data. i.e. Position may not be zero for Multi Line data. text");
}

TEST_F(PsTest, ANoteFieldWithoutAMatrixToAskStops)
{
    EXPECT_EQ(abort_text([&] { rendered(state, "1,,3,,mtag_note", "N1"); }),
              "postscript_convert_note: no control matrix to fetch Note N1 from");
}

} // namespace
