// Filling OpenDocument templates in-process, in background mode: the IINSERT_OO_ intrinsics
// through the dispatchers, the registry they keep, the conversions, and IINSERT_OO_DO's packages
// as an independent reader (Python's zipfile and ElementTree, xmllint, file) sees them.
#include <array>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "gdata.h"
#include "intrinsic_call.h"
#include "intrinsics.h"
#include "numerics.h"
#include "odf_fixture.h"
#include "odf_insert.h"
#include "planted.h"
#include "program_text.h"
#include "run_time.h"
#include "signals.h"
#include "style_tags.h"
#include "test_host.h"
#include "value_stack.h"

namespace {

using lumba_test::abort_text;
using namespace odf_test;
using lumba_test::Arg;
using lumba_test::as_long;
using namespace lumba_test::args;

const char *const TAGS = "mtag_red { print-colour: #ff0000; print-neg-colour: #0000ff; print-neg-weight: bold;\n"
                         "  print-size: 10pt; print-family: Helvetica; }\n"
                         "mtag_bold { print-weight: bold; }\n"
                         "mtag_times { print-family: Times-Roman; print-style: italic; print-underline: normal;\n"
                         "  print-bg-colour: #ffff00; }\n"
                         "mtag_plain { print-underline: none; print-weight: normal; print-family: Helvetica; }\n";

class OdfFill : public ::testing::Test, public lumba_test::IntrinsicCall {
protected:
    void SetUp() override
    {
        record.log_mode = LOG_MODE_STDERR;
        record.log_level_lumbas = -1;
        record.log_level_basic = -1;
        saved = global_data;
        global_data = &record;
        Back_ground = 1;
        std::ofstream(std::string(PPATH_ROOT) + "/conf/tags", std::ios::trunc) << TAGS;
    }
    void TearDown() override
    {
        for (InsertOoHandle_t *h : handles) insert_oo_free_handle(h);
        global_data = saved;
    }

    void call(int code, const std::vector<Arg> &args) { statement(code, args); }
    long callf(int code, const std::vector<Arg> &args) { return numeric(code, args); }
    std::string stop(int code, const std::vector<Arg> &args, bool function = false)
    {
        return abort_text([&] { function ? (void)callf(code, args) : call(code, args); });
    }

    InsertOoHandle_t *create()
    {
        auto *h = reinterpret_cast<InsertOoHandle_t *>(callf(in_IINSERT_OO_CREATE, {}));
        handles.push_back(h);
        return h;
    }
    void destroy(InsertOoHandle_t *h)
    {
        EXPECT_EQ(callf(in_IINSERT_OO_DESTROY, {num(h)}), 1);
        std::erase(handles, h);
    }

    // IINSERT_OO_DO with the generator in a string variable of the test's own.
    long fill(InsertOoHandle_t *h, const std::string &source, const std::string &target)
    {
        const long done =
            callf(in_IINSERT_OO_DO, {num(h), str(source), str(target), var(cycles), svar(generator_area), var(size)});
        generator = generator_area.text();
        return done;
    }

public:
    // Fills source's header, footer and letter with values whose tags name fonts and checks target.
    void fonts_case(const fs::path &source, const fs::path &target, const char *fonts)
    {
        InsertOoHandle_t *h = create();
        call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{HEAD}"), str("Ann"), str("mtag_red")});
        call(in_IINSERT_OO_ADD_NUMERIC, {num(h), str("{FOOT}"), dec("-5"), num(0), str("mtag_times")});
        call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{NAME}"), str("Bob"), str("mtag_times")});
        EXPECT_EQ(fill(h, source.string(), target.string()), 1);
        look_at(target, target.stem().string());
        const auto seen = checks({{"package", target.string()},
                                  {"paras", target.string(), "styles.xml"},
                                  {"fonts", target.string(), "styles.xml"},
                                  {"fonts", target.string(), "content.xml"},
                                  {"style", target.string(), "styles.xml", "OSKA_TEXT1"},
                                  {"part", target.string(), "styles.xml"}});
        EXPECT_EQ(seen[0], conformant(TEMPLATE_NAMES));
        EXPECT_EQ(seen[1], "Header|Page header [OSKA_TEXT1:Ann]\nMP1|Page footer [OSKA_TEXT2:-5]\n");
        EXPECT_EQ(seen[2], fonts);
        EXPECT_EQ(seen[3], "Liberation Serif,Times New Roman\n");
        EXPECT_NE(seen[4].find("fo:color=#ff0000;fo:font-size=10pt;style:font-name=Arial;"), std::string::npos) << seen[4];
        // The declarations stand where the format has them: first in the document's styles.
        EXPECT_NE(seen[5].find("office:version=\"1.2\"><office:font-face-decls>"), std::string::npos) << seen[5];
        EXPECT_TRUE(Warnings::shown().empty());
    }

protected:
    GlobalData_t record{};
    GlobalData_t *saved = nullptr;
    std::vector<InsertOoHandle_t *> handles;
    dec_t cycles{}, size{};
    lumba_test::StringVariable generator_area{64};
    std::string generator;
    Scratch dir;
    Warnings warnings;
};

struct Conversion {
    const char *in;
    const char *out;
};

TEST_F(OdfFill, TextIsConvertedToOdfMarkUp)
{
    const Conversion cases[] = {
        {"a b", "a b"},
        {"a  b", "a <text:s/>b"},
        {"a     b", "a <text:s text:c=\"4\"/>b"},
        {"x\ny", "xy"},
        {"x\ry", "x<text:line-break/>y"},
        {"a\tb", "a<text:tab/>b"},
        {"R&D", "R&amp;D"},
        {"<a> \"q\" 'p'", "&lt;a&gt; \"q\" 'p'"},
        {"a\x01\x1f" "b\x7f", "ab\x7f"},
        {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},
        {"bad \xff\xc3(", "bad \xef\xbf\xbd\xef\xbf\xbd("},
        {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
    };
    for (const Conversion &c : cases) EXPECT_EQ(insert_oo_parse_text(c.in), c.out) << c.in;
    EXPECT_EQ(insert_oo_parse_text(std::string(1000000, ' ')), " <text:s text:c=\"999999\"/>");
}

TEST_F(OdfFill, TooManySpaces)
{
    EXPECT_EQ(abort_text([] { insert_oo_parse_text(std::string(1000001, ' ')); }), "Too many consequitive spaces");
}

struct Number {
    const char *value;
    int decimals;
    const char *money;
    const char *numeric;
};

TEST_F(OdfFill, NumbersAreCutNotRounded)
{
    const Number cases[] = {
        {"1234567.891", 2, "1,234,567.89", "1234567.89"},
        {"1234.5", 0, "1,234", "1234"},
        {"1234.5", 3, "1,234.500", "1234.500"},
        {"-1234", 2, "-1,234.00", "-1234.00"},
        {"-123456", 0, "-123,456", "-123456"},
        {"0.999", 1, "0.9", "0.9"},
        {"12", -1, "12", "12"},
    };
    for (const Number &c : cases) {
        const dec_t d = lumba_test::dec(c.value);
        EXPECT_EQ(insert_oo_parse_number(&d, c.decimals, true), c.money) << c.value;
        EXPECT_EQ(insert_oo_parse_number(&d, c.decimals, false), c.numeric) << c.value;
    }
}

TEST_F(OdfFill, StyleTagLists)
{
    InsertOoHandle_t *h = create();
    const auto names = [&](const char *list) {
        std::string out;
        for (const PrintTag_t *t : insert_oo_get_attribute(h, list)) out += std::string(t->name) + ";";
        return out;
    };
    EXPECT_EQ(names("mtag_red,mtag_bold"), "mtag_red;mtag_bold;");
    EXPECT_EQ(names("mtag_bold  "), "mtag_bold;");
    EXPECT_EQ(names("mtag_red,,mtag_bold"), "mtag_red;");
    EXPECT_EQ(names("mtag_red,"), "mtag_red;");
    EXPECT_EQ(abort_text([&] { names("mtag_red, mtag_bold"); }), "Invalid tag name encountered  mtag_bold");
    EXPECT_EQ(abort_text([&] { names("mtag-red"); }), "Invalid tag name encountered mtag-red");
    EXPECT_EQ(abort_text([&] { names(""); }), "Attribute empty");
    EXPECT_EQ(abort_text([&] { names("mtag_none"); }), "Optional insertion format tag mtag_none not found in the tags file");
}

TEST_F(OdfFill, ValuesAreRegisteredInOrderWithSequenceNumbers)
{
    InsertOoHandle_t *h = create();
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{A}  "), str("one")});
    call(in_IINSERT_OO_ADD_MONEY, {num(h), str("{A}"), dec("-1234"), num(2), str("mtag_red")});
    call(in_IINSERT_OO_ADD_NUMERIC, {num(h), str("{B}"), dec("1234.5"), num(3)});
    call(in_IINSERT_OO_ADD_NOTE, {num(h), str("{N}"), str("note  "), num(0), num(1), str("tag ")});
    call(in_IINSERT_OO_ADD_EXCLUDE, {num(h), str("{X}")});
    call(in_IINSERT_OO_ADD_GRAPHIC, {num(h), str("{P}"), str("/p/a.png ")});
    call(in_IINSERT_OO_ADD_GRAPHIC, {num(h), str("{P}"), str("/p/b.png"), num(1)});
    call(in_IINSERT_OO_ADD_GRAPHIC, {num(h), str("{Q}"), str("/p/a.png")});
    call(in_IINSERT_OO_ADD_GRAPHIC, {num(h), str("{Q}"), str("/p/a.png"), num(2)});
    call(in_IINSERT_OO_ADD_TABLE, {num(h), str("{T}"), num(1), num(2), str("s")});
    ASSERT_EQ(h->tokens.size(), 6u);
    std::string seen;
    for (const auto &t : h->tokens) {
        seen += t->token + ":";
        for (const auto &v : t->values)
            seen += std::to_string(v->type) + "/" + std::to_string(v->sequence) + "/" + v->text + "/" +
                    std::to_string(v->tags.size()) + "/" + std::to_string(v->picture) + " ";
        seen += "\n";
    }
    EXPECT_EQ(seen, "{A}:1/1/one/0/0 4/2/-1,234.00/1/0 \n"
                    "{B}:3/3/1234.500/0/0 \n"
                    "{N}:2/4/note/0/0 \n"
                    "{X}:7/5//0/0 \n"
                    "{P}:5/6//p/a.png/0/1 5/7//p/b.png/0/2 \n"
                    "{Q}:5/8//p/a.png/0/1 5/9//p/a.png/0/3 \n");
    const InsertOoValue_t &note = *h->tokens[2]->values[0];
    EXPECT_EQ(note.amount, 0u);
    EXPECT_EQ(note.paragraph, 1u);
    EXPECT_EQ(*note.tag_name, "tag");

    EXPECT_EQ(callf(in_IINSERT_OO_REMOVE, {num(h), str("{none}")}), 1);
    EXPECT_EQ(h->tokens.size(), 6u);
    EXPECT_EQ(callf(in_IINSERT_OO_REMOVE, {num(h), str("{B} ")}), 1);
    EXPECT_EQ(h->tokens.size(), 5u);
    EXPECT_EQ(h->tokens[1]->token, "{N}");

    call(in_IINSERT_OO_SET_TABLE_MULTI_ROW_MODE, {num(h), str("{R}")});
    call(in_IINSERT_OO_SET_TABLE_MULTI_ROW_MODE, {num(h), str("{R} ")});
    EXPECT_EQ(h->multi_table.size(), 1u);
}

TEST_F(OdfFill, LogLinesAtLevelOne)
{
    record.log_level_lumbas = 1;
    testing::internal::CaptureStderr();
    InsertOoHandle_t *h = create();
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{A} "), str("a b"), str("mtag_bold")});
    call(in_IINSERT_OO_ADD_MONEY, {num(h), str("{M}"), dec("1234.5"), num(2)});
    call(in_IINSERT_OO_ADD_NOTE, {num(h), str("{N}"), str("n"), num(1), num(0), str("t")});
    call(in_IINSERT_OO_ADD_GRAPHIC, {num(h), str("{G}"), str("/g.png"), num(2)});
    call(in_IINSERT_OO_ADD_TABLE, {num(h), str("{T}"), num(1), num(2), str("s")});
    callf(in_IINSERT_OO_REMOVE, {num(h), str("{T}")});
    destroy(h);
    const std::string err = testing::internal::GetCapturedStderr();
    for (const char *line : {"Do insert_oo_create", "Do iinsert_oo_add_text {A} 'a b' 'mtag_bold'",
                             "Do iinsert_oo_add_money {M} 1,234.50",
                             "Do iinsert_oo_add_note {N} 'n' Amount Flag=1 Tag Name='t'",
                             "Do iinsert_oo_add_graphic {G} /g.png Justify=2",
                             "Do insert_oo_add_table [### Not coded yet ###]", "Do insert_oo_remove",
                             "Do insert_oo_destroy"})
        EXPECT_NE(err.find(line), std::string::npos) << line << "\n" << err;
}

struct CountStop {
    int code;
    int nargs;
    bool function;
    const char *message;
};

TEST_F(OdfFill, ArgumentCountsAndHandlesAreChecked)
{
    InsertOoHandle_t *h = create();
    const CountStop cases[] = {
        {in_IINSERT_OO_CREATE, 1, true, "insert_oo_create may not have any parameters"},
        {in_IINSERT_OO_ADD_TEXT, 2, false, "insert_oo_add_text must have three or four parameters"},
        {in_IINSERT_OO_ADD_NOTE, 7, false, "insert_oo_add_note may have three, four, five or six parameters"},
        {in_IINSERT_OO_ADD_NUMERIC, 3, false, "insert_oo_add_numeric may have four or five parameters"},
        {in_IINSERT_OO_ADD_MONEY, 6, false, "insert_oo_add_money may have four or five parameters"},
        {in_IINSERT_OO_ADD_GRAPHIC, 5, false, "insert_oo_add_graphic may have three or four parameters"},
        {in_IINSERT_OO_ADD_TABLE, 4, false, "insert_oo_add_table may have five or six parameters"},
        {in_IINSERT_OO_ADD_EXCLUDE, 3, false, "Must have two parameters"},
        {in_IINSERT_OO_SET_TABLE_MULTI_ROW_MODE, 1, false, "Must have two parameters"},
        {in_IINSERT_OO_REMOVE, 1, true, "insert_oo_remove must have two parameters"},
        {in_IINSERT_OO_DO, 5, true, "insert_oo_do must have six parameters"},
        {in_IINSERT_OO_DESTROY, 2, true, "insert_oo_destroy must have one parameter"},
    };
    for (const CountStop &c : cases) {
        const std::vector<Arg> laid = {num(h), str("{A}"), str("x"), num(1), num(1), num(1), num(1)};
        const std::vector<Arg> args(laid.begin(), laid.begin() + c.nargs);
        const std::string message = stop(c.code, args, c.function);
        EXPECT_EQ(message, c.message) << c.code << " " << c.nargs;
    }
    EXPECT_EQ(stop(in_IINSERT_OO_ADD_TEXT, {num(0x1234), str("{A}"), str("x")}),
              "Invalid OpenOffice document handle 1234 passed to iinsert_oo_add_text");
    EXPECT_EQ(stop(in_IINSERT_OO_ADD_TEXT, {num(h), str("  "), str("x")}), "Empty token passed to iinsert_oo_add_text");
    destroy(h);
    EXPECT_EQ(stop(in_IINSERT_OO_DO, {num(h), str("a"), str("b"), num(0), num(0), num(0)}, true),
              "Invalid OpenOffice document handle " + [&] {
                  char b[32];
                  std::snprintf(b, sizeof b, "%lX", reinterpret_cast<unsigned long>(h));
                  return std::string(b);
              }() + " passed to iinsert_oo_do");
}

// ---- IINSERT_OO_DO ----------------------------------------------------------------------------------

const std::string NS = "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                       "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
                       "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
                       "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
                       "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
                       "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                       "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
                       "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\"";

std::string content(const std::string &body, const char *kind = "text")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content " + NS +
           "><office:font-face-decls><style:font-face style:name=\"Arial\" svg:font-family=\"Arial\"/>"
           "</office:font-face-decls><office:automatic-styles><style:style style:name=\"P1\" style:family=\"paragraph\">"
           "<style:paragraph-properties fo:text-align=\"center\"/></style:style><style:style style:name=\"T1\" "
           "style:family=\"text\"><style:text-properties fo:font-style=\"italic\"/></style:style>"
           "</office:automatic-styles><office:body><office:" +
           kind + ">" + body + "</office:" + kind + "></office:body></office:document-content>\n";
}

// A template whose content.xml holds body, written to name in the scratch directory.
fs::path template_with(const Scratch &dir, const std::string &name, const std::string &body)
{
    const fs::path part = dir / (name + ".content.xml");
    std::ofstream(part) << content(body);
    const fs::path path = dir / name;
    make_template(path, {"content.xml=@" + part.string()});
    return path;
}

// A fault of the style tags file stops the handle's making with the reader's text.
TEST_F(OdfFill, AFaultyStyleTagsFileStopsTheCreation)
{
    std::ofstream(std::string(PPATH_ROOT) + "/conf/tags", std::ios::trunc) << "mtag_a { print-size: big; }\n";
    EXPECT_EQ(stop(in_IINSERT_OO_CREATE, {}, true),
              "Did not find units 'big' on font size attribute in Style Tag 'mtag_a{print-size:big;'");
    std::remove((std::string(PPATH_ROOT) + "/conf/tags").c_str());
    EXPECT_EQ(stop(in_IINSERT_OO_CREATE, {}, true), "Cannot open style tags configuration file " PPATH_ROOT "/conf/tags");
}

TEST_F(OdfFill, FillsTextNumbersAndExclusions)
{
    const fs::path source = template_with(dir, "letter.odt",
                                          "<text:p text:style-name=\"P1\">{A}{A} and {B}, {C}</text:p>"
                                          "<text:p>{X}gone{X}</text:p><text:p>{NONE} {same}</text:p>");
    InsertOoHandle_t *h = create();
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{A}"), str("R&D  x")});
    call(in_IINSERT_OO_ADD_NUMERIC, {num(h), str("{B}"), dec("-12.345"), num(2)});
    call(in_IINSERT_OO_ADD_MONEY, {num(h), str("{C}"), dec("1234567.891"), num(2)});
    call(in_IINSERT_OO_ADD_EXCLUDE, {num(h), str("{X}")});
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{same}"), str("in {same} out")});
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{FOOT}"), str("7")});
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{unused}"), str("never")});
    const fs::path target = dir / "filled.odt";
    EXPECT_EQ(fill(h, source.string(), target.string()), 1);
    look_at(target, "fills-text");
    EXPECT_EQ(check({"package", target.string()}), conformant(TEMPLATE_NAMES));
    EXPECT_EQ(check({"paras", target.string(), "content.xml"}),
              "P1|R&D <s>xR&D <s>x and -12.34, 1,234,567.89\n"
              "|gone{X}\n"
              "|{NONE} in {same} out\n");
    EXPECT_EQ(check({"paras", target.string(), "styles.xml"}), "Header|Page header {HEAD}\nMP1|Page footer 7\n");
    EXPECT_EQ(as_long(cycles), 7);
    EXPECT_EQ(generator, "Hand/1.0");
    EXPECT_EQ(as_long(size), static_cast<long>(fs::file_size(target)));
    EXPECT_NE(check({"part", target.string(), "meta.xml"}).find("<meta:editing-cycles>8</meta:editing-cycles>"),
              std::string::npos);
    EXPECT_EQ(fs::current_path(), "/tmp");
    EXPECT_TRUE(Warnings::shown().empty());
    // The handle stays as it was: the same values fill the template again, over the source itself.
    EXPECT_EQ(fill(h, source.string(), ""), 1);
    EXPECT_EQ(check({"paras", source.string(), "content.xml"}), check({"paras", target.string(), "content.xml"}));
}

TEST_F(OdfFill, StyledValuesGetAutomaticStyles)
{
    const fs::path source = template_with(
        dir, "styled.odt",
        "<text:p text:style-name=\"P1\">Dear {TITLE} {NAME},</text:p>"
        "<text:p text:style-name=\"P1\"><text:span text:style-name=\"T1\">Total: {SUM} EUR</text:span></text:p>"
        "<text:p text:style-name=\"Standard\">{ALONE}</text:p>"
        "<text:p text:style-name=\"P1\">{TITLE}</text:p><text:p text:style-name=\"P1\">{TITLE}</text:p>"
        "<text:p>{B}{B}</text:p><text:p>{POS}</text:p>");
    InsertOoHandle_t *h = create();
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{TITLE}"), str("Mr"), str("mtag_bold")});
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{NAME}"), str("Smith"), str("mtag_red")});
    call(in_IINSERT_OO_ADD_MONEY, {num(h), str("{SUM}"), dec("-1234.5"), num(2), str("mtag_red")});
    call(in_IINSERT_OO_ADD_NUMERIC, {num(h), str("{POS}"), dec("5"), num(0), str("mtag_red")});
    call(in_IINSERT_OO_ADD_NUMERIC, {num(h), str("{ALONE}"), dec("42"), num(2), str("mtag_times,mtag_bold")});
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{B}"), str("b"), str("mtag_red,mtag_plain")});
    const fs::path target = dir / "styled out.odt";
    EXPECT_EQ(fill(h, source.string(), target.string()), 1);
    look_at(target, "styled-values");
    EXPECT_EQ(check({"package", target.string()}), conformant(TEMPLATE_NAMES));
    EXPECT_EQ(check({"paras", target.string(), "content.xml"}),
              "P1|Dear [OSKA_TEXT1:Mr] [OSKA_TEXT2:Smith],\n"
              "P1|[T1:Total: ][OSKA_TEXT3:-1,234.50][T1: EUR]\n"
              "OSKA_TEXT4|42.00\n"
              "OSKA_TEXT5|Mr\n"
              "OSKA_TEXT5|Mr\n"
              "|[OSKA_TEXT6:b][OSKA_TEXT6:b]\n"
              "OSKA_TEXT7|5\n");
    const auto style = [&](const char *name) { return check({"style", target.string(), "content.xml", name}); };
    EXPECT_EQ(style("OSKA_TEXT1"), "parent=;fo:font-weight=bold;style:font-weight-asian=bold;style:font-weight-complex=bold;\n");
    EXPECT_EQ(style("OSKA_TEXT2"),
              "parent=;fo:color=#ff0000;fo:font-size=10pt;style:font-name=Arial;style:font-name-complex=Arial;"
              "style:font-size-asian=10pt;style:font-size-complex=10pt;\n");
    // The negative amount: the negative colour and weight, over the italic of the span's own style.
    EXPECT_EQ(style("OSKA_TEXT3"),
              "parent=;fo:color=#0000ff;fo:font-size=10pt;fo:font-style=italic;fo:font-weight=bold;"
              "style:font-name=Arial;style:font-name-complex=Arial;style:font-size-asian=10pt;"
              "style:font-size-complex=10pt;style:font-weight-asian=bold;style:font-weight-complex=bold;\n");
    EXPECT_EQ(style("OSKA_TEXT4"),
              "parent=Standard;fo:background-color=#ffff00;fo:font-style=italic;fo:font-weight=bold;"
              "style:font-name=Times New Roman;style:font-name-complex=Times New Roman;style:font-style-asian=italic;"
              "style:font-style-complex=italic;style:font-weight-asian=bold;style:font-weight-complex=bold;"
              "style:text-underline-color=font-color;style:text-underline-style=solid;style:text-underline-width=auto;\n");
    EXPECT_EQ(style("OSKA_TEXT6"),
              "parent=;fo:color=#ff0000;fo:font-size=10pt;fo:font-weight=normal;style:font-name=Arial;"
              "style:font-name-complex=Arial;style:font-size-asian=10pt;style:font-size-complex=10pt;"
              "style:font-weight-asian=normal;style:font-weight-complex=normal;style:text-underline-style=none;\n");
    // A positive number of the same tag has the tag's own colour.
    EXPECT_NE(style("OSKA_TEXT7").find("fo:color=#ff0000;"), std::string::npos);
    // The paragraph style copied for {TITLE} keeps its paragraph properties.
    EXPECT_NE(check({"show", target.string()}).find("<style:paragraph-properties fo:text-align=\"center\"/>"),
              std::string::npos);
    EXPECT_EQ(check({"fonts", target.string(), "content.xml"}), "Arial,Times New Roman\n");
}

TEST_F(OdfFill, MoreThanOneValueOutsideATableWarnsAndUsesTheFirst)
{
    const fs::path source = template_with(dir, "two.odt", "<text:p>{A}</text:p>");
    InsertOoHandle_t *h = create();
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{A}"), str("first")});
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{A}"), str("second")});
    const fs::path target = dir / "two-out.odt";
    EXPECT_EQ(fill(h, source.string(), target.string()), 1);
    EXPECT_EQ(Warnings::shown(),
              std::vector<std::string>{"insert_oo_do_text: Insertion of multirow text entry not in a table is not yet coded! {A}"});
    EXPECT_EQ(check({"paras", target.string(), "content.xml"}), "|first\n");
}

TEST_F(OdfFill, AMissingSourceChangesNothing)
{
    InsertOoHandle_t *h = create();
    NumericCvINT(99, &cycles);
    NumericCvINT(98, &size);
    std::strcpy(generator_area.area.data(), "kept");
    const fs::path before = fs::current_path();
    EXPECT_EQ(fill(h, (dir / "none.odt").string(), (dir / "out.odt").string()), 0);
    EXPECT_EQ(fill(h, dir.path().string(), (dir / "out.odt").string()), 0);
    EXPECT_EQ(Warnings::shown(), (std::vector<std::string>{
                                     "Invalid or null source document supplied to iinsert_oo_do - code 0",
                                     "Invalid or null source document supplied to iinsert_oo_do - code 2"}));
    EXPECT_EQ(as_long(cycles), 99);
    EXPECT_EQ(as_long(size), 98);
    EXPECT_EQ(generator, "kept");
    EXPECT_FALSE(fs::exists(dir / "out.odt"));
    EXPECT_EQ(fs::current_path(), before);
}

TEST_F(OdfFill, AwkwardPathsAreJustNames)
{
    const char *const names[] = {"with blanks.odt", "quote\"'s.odt", "semi;colon.odt", "$(touch marker)", "-dash.odt",
                                 "wild*?.odt", "no extension"};
    InsertOoHandle_t *h = create();
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{TITLE}"), str("Ms")});
    for (const char *name : names) {
        const fs::path source = dir / name;
        make_template(source);
        const fs::path target = dir / (std::string("out ") + name);
        EXPECT_EQ(fill(h, source.string(), target.string()), 1) << name;
        EXPECT_EQ(check({"paras", target.string(), "content.xml"}), "P1|Dear Ms {NAME},\nStandard|R&D <ok>\n") << name;
    }
    EXPECT_FALSE(fs::exists(dir / "marker"));
    EXPECT_FALSE(fs::exists("/tmp/marker"));
}

TEST_F(OdfFill, ARelativeTargetIsWrittenWhereTheProgramIs)
{
    InsertOoHandle_t *h = create();
    const fs::path source = dir / "t.odt";
    make_template(source);
    fs::current_path(dir.path());
    EXPECT_EQ(fill(h, "t.odt", "relative.odt"), 1);
    EXPECT_EQ(check({"package", (dir / "relative.odt").string()}), conformant(TEMPLATE_NAMES));
    // The size handed back is the new document's, read where it was written.
    EXPECT_EQ(as_long(size), static_cast<long>(fs::file_size(dir / "relative.odt")));
    EXPECT_EQ(Warnings::shown(), std::vector<std::string>{});
    EXPECT_EQ(fs::current_path(), "/tmp");
}

struct BadTemplate {
    const char *what;
    std::vector<std::string> args;
    std::string message;  // the source's path follows "%s"
};

TEST_F(OdfFill, BadTemplatesStopWithSourceAndOldTargetWhole)
{
    const BadTemplate cases[] = {
        {"link", {"--link", "Pictures/x=/etc/passwd"}, "Entry Pictures/x of the OpenOffice document %s refused: it is not a plain file or directory"},
        {"up", {"../x=1"}, "Entry ../x of the OpenOffice document %s refused: its name leads outside the package"},
        {"malformed", {"content.xml=<?xml version=\"1.0\"?><a><b>x</a>"}, "Mismatching closing tag following open"},
        {"no generator",
         {"meta.xml=<?xml version=\"1.0\"?><office:document-meta><office:meta><dc:title>t</dc:title></office:meta>"
          "</office:document-meta>"},
         "meta:generator tag not found in the meta file"},
        {"no content", {"--drop", "content.xml"}, "Error No such file or directory when attempting to open OpenOffice content.xml file %s"},
    };
    InsertOoHandle_t *h = create();
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{TITLE}"), str("Ms")});
    for (const BadTemplate &c : cases) {
        const fs::path source = dir / (std::string(c.what) + ".odt");
        std::vector<std::string> argv{"/usr/bin/python3", script("make_template.py"), source.string()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        run(argv);
        const fs::path target = dir / "old.odt";
        make_template(target, {"extra.txt=old"});
        const std::string old_target = contents(target), old_source = contents(source);
        std::string expected = c.message;
        if (const auto at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, source.string());
        EXPECT_EQ(abort_text([&] { fill(h, source.string(), target.string()); }), expected) << c.what;
        EXPECT_EQ(contents(target), old_target) << c.what;
        EXPECT_EQ(contents(source), old_source) << c.what;
    }
    int left = 0;
    for (const auto &e : fs::directory_iterator(dir.path())) left += e.path().filename().string()[0] == '.';
    EXPECT_EQ(left, 0);
}

// ---- Tables -----------------------------------------------------------------------------------------

// A table named T: a column, then one row per entry, its cells separated by '|'; a cell that is
// not mark-up becomes one paragraph.
std::string table(std::initializer_list<std::string> rows)
{
    std::string xml = "<table:table table:name=\"T\"><table:table-column/>";
    for (const std::string &row : rows) {
        xml += "<table:table-row>";
        std::size_t from = 0;
        for (;;) {
            const std::size_t bar = row.find('|', from);
            const std::string cell = row.substr(from, bar == std::string::npos ? std::string::npos : bar - from);
            xml += "<table:table-cell>" + (cell.starts_with("<") ? cell : "<text:p>" + cell + "</text:p>") +
                   "</table:table-cell>";
            if (bar == std::string::npos) break;
            from = bar + 1;
        }
        xml += "</table:table-row>";
    }
    return xml + "</table:table>";
}

struct Registration {
    const char *token;
    const char *text;  // nullptr: an exclusion
};

struct TableCase {
    const char *what;
    std::string body;
    std::vector<Registration> values;
    std::vector<const char *> multi_row;
    const char *rows;  // what the reader sees, or the message the run stops with
    bool stops = false;
};

TEST_F(OdfFill, TablesAreRebuiltFromTheirTemplateRows)
{
    const TableCase cases[] = {
        {"default mode: a second {A} below is replaced too",
         table({"{A}|{B}", "again {A}"}), {{"{A}", "a"}, {"{B}", "b"}}, {}, "table T\na | b\nagain a\n"},
        {"a row whose only token is excluded goes; one with another token stays",
         table({"{A}|{X}", "{X}", "plain"}), {{"{A}", "a"}, {"{X}", nullptr}}, {}, "table T\na | \nplain\n"},
        {"a row with two excluded tokens stays, empty of both",
         table({"{X}|{Y}", "plain"}), {{"{X}", nullptr}, {"{Y}", nullptr}}, {}, "table T\n | \nplain\n"},
        {"two values without multi-row mode stop",
         table({"{A}"}), {{"{A}", "1"}, {"{A}", "2"}}, {},
         "Must call iinsert_oo_set_table_multi_row_mode when the program is providing multiple values for token {A} "
         "located within a table; May not simultaneously insert and exclude.", true},
        {"a token after a text:s in its cell is in the table",
         table({"<text:p>Sum<text:s text:c=\"2\"/>{A}</text:p>|{B}"}), {{"{A}", "a"}, {"{B}", "b"}}, {},
         "table T\nSum<s2>a | b\n"},
        {"a value holding its own token is put in once per occurrence",
         table({"{A}|{B}", "{A}"}), {{"{A}", "in {A} out"}, {"{B}", "b"}}, {},
         "table T\nin {A} out | b\nin {A} out\n"},
        {"multi-row: a header and one row per value",
         table({"Date|Text|Amount", "{D}|{T}|{M}"}),
         {{"{D}", "D1"}, {"{T}", "T1"}, {"{M}", "A1"}, {"{D}", "D2"}, {"{T}", "T2"}, {"{M}", "A2"}}, {"{D}"},
         "table T\nDate | Text | Amount\nD1 | T1 | A1\nD2 | T2 | A2\n"},
        {"multi-row: a plain total row behind the last walk is dropped",
         table({"Date|Amount", "{D}|{M}", "Total|0"}), {{"{D}", "D1"}, {"{M}", "A1"}}, {"{D}"},
         "table T\nDate | Amount\nD1 | A1\n"},
        {"multi-row: a header, two rows, the total row dropped",
         table({"Date|Text|Amount", "{D}|{T}|{M}", "Total||0"}),
         {{"{D}", "D1"}, {"{T}", "T1"}, {"{M}", "A1"}, {"{D}", "D2"}, {"{T}", "T2"}, {"{M}", "A2"}}, {"{M}"},
         "table T\nDate | Text | Amount\nD1 | T1 | A1\nD2 | T2 | A2\n"},
        {"multi-row: plain rows are carried where a walk passes them; rows with other tokens are not",
         table({"{D}", "Section two", "{X}", "{unused}", "Total"}),
         {{"{D}", "D1"}, {"{D}", "D2"}, {"{X}", "X1"}, {"{X}", "X2"}}, {"{D}"},
         "table T\nD1\nD2\nSection two\nX1\nX2\n"},
        {"multi-row: a single value fills every repeated row",
         table({"{D}|{C}"}), {{"{C}", "EUR"}, {"{D}", "D1"}, {"{D}", "D2"}, {"{D}", "D3"}}, {"{D}"},
         "table T\nD1 | EUR\nD2 | EUR\nD3 | EUR\n"},
        {"multi-row: a value holding its token makes no extra row",
         table({"{D}"}), {{"{D}", "{D}1"}, {"{D}", "{D}2"}}, {"{D}"}, "table T\n{D}1\n{D}2\n"},
        {"a token table nested in another token table stops",
         table({"<text:p>{A}</text:p>" + table({"{B}"})}), {{"{A}", "a"}, {"{B}", "b"}}, {},
         "Token {B} lies in a table nested in another table holding tokens; such tables may not be nested", true},
    };
    int n = 0;
    for (const TableCase &c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path source = template_with(dir, "t" + std::to_string(n) + ".odt", "<text:p>x</text:p>" + c.body);
        InsertOoHandle_t *h = create();
        for (const Registration &r : c.values)
            if (r.text)
                call(in_IINSERT_OO_ADD_TEXT, {num(h), str(r.token), str(r.text)});
            else
                call(in_IINSERT_OO_ADD_EXCLUDE, {num(h), str(r.token)});
        for (const char *token : c.multi_row) call(in_IINSERT_OO_SET_TABLE_MULTI_ROW_MODE, {num(h), str(token)});
        const fs::path target = dir / ("o" + std::to_string(n++) + ".odt");
        if (c.stops) {
            EXPECT_EQ(abort_text([&] { fill(h, source.string(), target.string()); }), c.rows);
            EXPECT_FALSE(fs::exists(target));
            continue;
        }
        EXPECT_EQ(fill(h, source.string(), target.string()), 1);
        look_at(target, "table-" + std::to_string(n));
        const auto seen = checks({{"package", target.string()}, {"tables", target.string(), "content.xml"}});
        EXPECT_EQ(seen[0], conformant(TEMPLATE_NAMES));
        EXPECT_EQ(seen[1], c.rows);
        EXPECT_TRUE(Warnings::shown().empty());
    }
}

TEST_F(OdfFill, StyledValuesInTablesAndSpreadsheets)
{
    // A spreadsheet's sheet is a table like any other; styled values get their spans and styles.
    const fs::path part = dir / "sheet.content.xml";
    std::ofstream(part) << content(table({"Name|Amount", "{N}|<text:p>EUR {M}</text:p>"}), "spreadsheet");
    const fs::path source = dir / "sheet.ods";
    make_template(source, {"mimetype=application/vnd.oasis.opendocument.spreadsheet", "content.xml=@" + part.string()});
    InsertOoHandle_t *h = create();
    call(in_IINSERT_OO_SET_TABLE_MULTI_ROW_MODE, {num(h), str("{N}")});
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{N}"), str("Ann"), str("mtag_bold")});
    call(in_IINSERT_OO_ADD_MONEY, {num(h), str("{M}"), dec("-1234.5"), num(2), str("mtag_red")});
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{N}"), str("Bob")});
    call(in_IINSERT_OO_ADD_MONEY, {num(h), str("{M}"), dec("7"), num(2)});
    const fs::path target = dir / "filled.ods";
    EXPECT_EQ(fill(h, source.string(), target.string()), 1);
    look_at(target, "sheet");
    const std::string package = check({"package", target.string()});
    EXPECT_NE(package.find("xmllint: ok\nfile: OpenDocument Spreadsheet\n"), std::string::npos) << package;
    EXPECT_EQ(check({"tables", target.string(), "content.xml"}),
              "table T\nName | Amount\n[OSKA_TEXT1:Ann] | EUR [OSKA_TEXT2:-1,234.50]\nBob | EUR 7.00\n");
    EXPECT_EQ(check({"paras", target.string(), "content.xml"}),
              "|Name\n|Amount\n|[OSKA_TEXT1:Ann]\n|EUR [OSKA_TEXT2:-1,234.50]\n|Bob\n|EUR 7.00\n");
    // The negative amount takes the tag's negative colour and weight.
    const std::string style = check({"style", target.string(), "content.xml", "OSKA_TEXT2"});
    EXPECT_NE(style.find("fo:color=#0000ff;fo:font-size=10pt;fo:font-weight=bold;"), std::string::npos) << style;
}

TEST_F(OdfFill, MultiRowModeNeedsTheTokenInATable)
{
    const fs::path source = template_with(dir, "t.odt", "<text:p>{A}</text:p>" + table({"{B}"}));
    InsertOoHandle_t *h = create();
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{A}"), str("a")});
    call(in_IINSERT_OO_SET_TABLE_MULTI_ROW_MODE, {num(h), str("{A}")});
    EXPECT_EQ(abort_text([&] { fill(h, source.string(), (dir / "o.odt").string()); }),
              "No table found that contains the token '{A}' passed to iinsert_oo_set_table_multi_row_mode");
    // A token the document does not hold asks for nothing.
    InsertOoHandle_t *g = create();
    call(in_IINSERT_OO_ADD_TEXT, {num(g), str("{B}"), str("b")});
    call(in_IINSERT_OO_SET_TABLE_MULTI_ROW_MODE, {num(g), str("{absent}")});
    EXPECT_EQ(fill(g, source.string(), (dir / "o.odt").string()), 1);
    EXPECT_EQ(check({"tables", (dir / "o.odt").string(), "content.xml"}), "table T\nb\n");
}

// ---- Pictures -------------------------------------------------------------------------------------

// A picture of width x height pixels made by ImageMagick, checked with identify.
fs::path picture(const fs::path &path, const char *size, const char *format)
{
    fs::create_directories(path.parent_path());
    run({"/usr/bin/convert", "-size", size, "xc:red", path.string()});
    EXPECT_EQ(run({"/usr/bin/identify", "-format", "%m %wx%h", path.string()}), std::string(format) + " " + size);
    return path;
}

const char *const FRAMES = "<text:p><draw:frame draw:style-name=\"fr1\" draw:name=\"graphics1\" draw:z-index=\"0\" "
                           "svg:width=\"1cm\" svg:height=\"1cm\"/><draw:frame draw:style-name=\"fr2\" "
                           "draw:name=\"graphics2\" draw:z-index=\"1\" svg:width=\"1cm\" svg:height=\"1cm\"/></text:p>";

TEST_F(OdfFill, PicturesAreNumberedAfterTheDocumentsOwnFrames)
{
    const fs::path png = picture(dir / "pics/red.png", "200x100", "PNG");
    const fs::path source =
        template_with(dir, "t.odt", std::string(FRAMES) + "<text:p text:style-name=\"P1\">Logo: {P} here</text:p>"
                                        "<text:p>{Q}</text:p><text:p>{P}</text:p>");
    InsertOoHandle_t *h = create();
    call(in_IINSERT_OO_ADD_GRAPHIC, {num(h), str("{P}"), str(png.string())});
    call(in_IINSERT_OO_ADD_GRAPHIC, {num(h), str("{Q}"), str(png.string()), num(2)});
    call(in_IINSERT_OO_ADD_GRAPHIC, {num(h), str("{FOOT}"), str(png.string())});
    const fs::path target = dir / "filled.odt";
    EXPECT_EQ(fill(h, source.string(), target.string()), 1);
    look_at(target, "pictures");
    EXPECT_EQ(check({"package", target.string()}),
              conformant(std::string(TEMPLATE_NAMES) + ",Pictures/red.png.png"));
    EXPECT_EQ(check({"same", target.string(), "Pictures/red.png.png", png.string()}), "same\n");
    // {P} is dispatched once per paragraph holding it, and each dispatch counts its frame on from
    // the template's highest; {Q} was registered with another justification, so a frame of its own.
    EXPECT_EQ(check({"frames", target.string(), "content.xml"}),
              "draw:style-name=fr1 draw:name=graphics1 draw:z-index=0 svg:width=1cm svg:height=1cm\n"
              "draw:style-name=fr2 draw:name=graphics2 draw:z-index=1 svg:width=1cm svg:height=1cm\n"
              "draw:style-name=fr3 draw:name=graphics3 text:anchor-type=paragraph svg:width=1.648cm "
              "svg:height=0.824cm draw:z-index=2 href=Pictures/red.png.png\n"
              "draw:style-name=fr4 draw:name=graphics4 text:anchor-type=paragraph svg:width=1.648cm "
              "svg:height=0.824cm draw:z-index=3 href=Pictures/red.png.png\n"
              "draw:style-name=fr5 draw:name=graphics5 text:anchor-type=paragraph svg:width=1.648cm "
              "svg:height=0.824cm draw:z-index=4 href=Pictures/red.png.png\n");
    EXPECT_EQ(check({"paras", target.string(), "content.xml"}),
              "|<draw:frame><draw:frame>\n"
              "P1|<draw:frame><draw:image>Logo:  here\n"
              "|<draw:frame><draw:image>\n"
              "|<draw:frame><draw:image>\n");
    // styles.xml numbers its frames on from the highest content.xml reached.
    EXPECT_EQ(check({"frames", target.string(), "styles.xml"}),
              "draw:style-name=fr6 draw:name=graphics1 text:anchor-type=paragraph svg:width=1.648cm "
              "svg:height=0.824cm draw:z-index=1 href=Pictures/red.png.png\n");
    EXPECT_EQ(check({"paras", target.string(), "styles.xml"}), "Header|Page header {HEAD}\nMP1|<draw:frame><draw:image>Page footer \n");
    const std::string manifest = check({"part", target.string(), "META-INF/manifest.xml"});
    std::size_t entries = 0;
    for (std::size_t at = 0; (at = manifest.find("manifest:full-path=\"Pictures/red.png.png\"", at)) != std::string::npos;
         ++at)
        ++entries;
    EXPECT_EQ(entries, 1u) << manifest;
    EXPECT_NE(manifest.find("<manifest:file-entry manifest:media-type=\"image/png\" "
                            "manifest:full-path=\"Pictures/red.png.png\"/>"),
              std::string::npos);
    const std::string content = check({"part", target.string(), "content.xml"});
    EXPECT_NE(content.find("<style:style style:name=\"fr3\" style:family=\"graphic\" style:parent-style-name="
                           "\"Graphics\"><style:graphic-properties style:horizontal-pos=\"center\" "
                           "style:horizontal-rel=\"paragraph\" style:mirror=\"none\""),
              std::string::npos)
        << content;
    EXPECT_NE(content.find("<style:style style:name=\"fr4\" style:family=\"graphic\" style:parent-style-name="
                           "\"Graphics\"><style:graphic-properties style:horizontal-pos=\"right\""),
              std::string::npos);
    EXPECT_TRUE(Warnings::shown().empty());
}

TEST_F(OdfFill, PictureKindsAndNames)
{
    struct Case {
        const char *file;
        const char *size;
        const char *format;
        const char *entry;
    };
    const Case cases[] = {
        {"a/logo.png", "200x100", "PNG", "Pictures/logo.png.png"},
        {"b/logo.png", "20x10", "PNG", "Pictures/logo.png-2.png"},  // same name, another file
        {"c/pic.gif", "30x20", "GIF", "Pictures/pic.gif.gif"},
        {"c/pic.jpg", "40x30", "JPEG", "Pictures/pic.jpg.jpeg"},
        {"c/pic.bmp", "50x40", "BMP", "Pictures/pic.bmp.bmp"},
        {"c/R&D logo <1>.png", "10x10", "PNG", "Pictures/R_D_logo__1_.png.png"},
    };
    std::string body, names = TEMPLATE_NAMES, frames;
    InsertOoHandle_t *h = create();
    int n = 0;
    for (const Case &c : cases) {
        const fs::path file = picture(dir / c.file, c.size, c.format);
        const std::string token = "{P" + std::to_string(++n) + "}";
        body += "<text:p>" + token + "</text:p>";
        call(in_IINSERT_OO_ADD_GRAPHIC, {num(h), str(token), str(file.string())});
        names += std::string(",") + c.entry;
    }
    const fs::path source = template_with(dir, "t.odt", body);
    const fs::path target = dir / "filled.odt";
    EXPECT_EQ(fill(h, source.string(), target.string()), 1);
    look_at(target, "picture-kinds");
    EXPECT_EQ(check({"package", target.string()}), conformant(names));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(check({"same", target.string(), c.entry, (dir / c.file).string()}), "same\n");
        EXPECT_NE(check({"frames", target.string(), "content.xml"}).find(std::string("href=") + c.entry),
                  std::string::npos);
    }
    // A file of none of the four kinds stops the insertion.
    const fs::path text = dir / "notes.txt";
    std::ofstream(text) << "not a picture\n";
    InsertOoHandle_t *u = create();
    call(in_IINSERT_OO_ADD_GRAPHIC, {num(u), str("{P1}"), str(text.string())});
    EXPECT_EQ(abort_text([&] { fill(u, source.string(), (dir / "o.odt").string()); }),
              "Unknown type of Graphic image {P1} " + text.string());
    EXPECT_FALSE(fs::exists(dir / "o.odt"));
}

// In a shared directory of another user's only a template and pictures of the run's own (or
// root's) are read: a link they planted under the name (to a file only root may read), a FIFO and
// a file of theirs are refused with the reader's open error (the template's unzip failure, with
// libzip's "cannot open" 11; the picture's header probe), and no target is written. A FIFO is no
// template by the source test that comes first.
TEST_F(OdfFill, OnlyTheRunsOwnTemplatesAndPicturesAreReadFromASharedDirectory)
{
    const fs::path pub = dir / "pub";
    lumba_test::make_their_shared_directory(pub.string());
    const fs::path source = template_with(dir, "t.odt", "<text:p>{P}</text:p>");
    const fs::path png = picture(dir / "red.png", "20x10", "PNG");
    for (const fs::path &f : {source, png}) fs::permissions(f, fs::perms::owner_read | fs::perms::owner_write);
    lumba_test::plant_link(source.string(), (pub / "link.odt").string());
    lumba_test::plant_fifo((pub / "fifo.odt").string());
    fs::copy_file(source, pub / "theirs.odt");
    lumba_test::plant_link(png.string(), (pub / "link.png").string());
    lumba_test::plant_fifo((pub / "fifo.png").string());
    fs::copy_file(png, pub / "theirs.png");
    for (const char *name : {"theirs.odt", "theirs.png"})
        ASSERT_EQ(chown((pub / name).c_str(), lumba_test::OTHER_USER, lumba_test::OTHER_USER), 0);
    const fs::path target = dir / "out.odt";

    InsertOoHandle_t *h = create();
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{P}"), str("text")});
    for (const char *name : {"link.odt", "theirs.odt"}) {
        const std::string path = (pub / name).string();
        EXPECT_EQ(abort_text([&] { fill(h, path, target.string()); }),
                  "Return value 11 when attempting to unzip the OpenOffice document " + path);
    }
    EXPECT_EQ(fill(h, (pub / "fifo.odt").string(), target.string()), 0);
    EXPECT_EQ(Warnings::shown(), std::vector<std::string>{"Invalid or null source document supplied to iinsert_oo_do - code -2"});

    struct {
        const char *name, *why;
    } pictures[] = {
        {"link.png", "Too many levels of symbolic links"},
        {"fifo.png", "Invalid argument"},
        {"theirs.png", "Permission denied"},
    };
    for (const auto &c : pictures) {
        InsertOoHandle_t *g = create();
        const std::string path = (pub / c.name).string();
        call(in_IINSERT_OO_ADD_GRAPHIC, {num(g), str("{P}"), str(path)});
        EXPECT_EQ(abort_text([&] { fill(g, source.string(), target.string()); }),
                  std::string("Error ") + c.why + " when attempting to open " + path + " for image stats");
    }
    EXPECT_FALSE(fs::exists(target));

    // The run's own template and picture there are read as anywhere.
    fs::copy_file(source, pub / "mine.odt");
    fs::copy_file(png, pub / "mine.png");
    InsertOoHandle_t *m = create();
    call(in_IINSERT_OO_ADD_GRAPHIC, {num(m), str("{P}"), str((pub / "mine.png").string())});
    EXPECT_EQ(fill(m, (pub / "mine.odt").string(), target.string()), 1);
    EXPECT_EQ(check({"same", target.string(), "Pictures/mine.png.png", png.string()}), "same\n");
}

// ---- Notes ------------------------------------------------------------------------------------------

std::string note(const std::string &elements) { return "<note ver=\"1\">" + elements + "</note>"; }
std::string para(const std::string &cdata, const char *type = "P")
{
    return std::string("<p datatype=\"") + type + "\" position=\"0\"><![CDATA[" + cdata + "]]></p>";
}
std::string amount(const char *value)
{
    return std::string("<am required=\"false\" next=\"false\" protect=\"false\" orsec=\"0\" orsecvalue=\"0\">") + value +
           "</am>";
}
std::string block(const char *name, bool start)
{
    return std::string("<tag name=\"") + name + "\" start=\"" + (start ? "true" : "false") + "\"></tag>";
}

// content.xml with the paragraph styles P3 and P20 and the span style T5 for the note tests.
std::string note_content(const std::string &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content " + NS +
           " xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\"><office:automatic-styles>"
           "<style:style style:name=\"P3\" style:family=\"paragraph\" style:parent-style-name=\"Standard\">"
           "<style:paragraph-properties fo:text-align=\"justify\"/><style:text-properties fo:font-size=\"11pt\"/>"
           "</style:style><style:style style:name=\"P20\" style:family=\"paragraph\"><style:paragraph-properties/>"
           "<style:text-properties/></style:style><style:style style:name=\"T5\" style:family=\"text\">"
           "<style:text-properties fo:color=\"#ff0000\"/></style:style></office:automatic-styles><office:body>"
           "<office:text>" +
           body + "</office:text></office:body></office:document-content>\n";
}

struct NoteCase {
    const char *what;
    std::string body;
    std::string text;
    int amount_flag;
    const char *paras;   // the paragraphs as the reader sees them, or the message the run stops with
    const char *cells = "";  // the amount tables' cells
    bool stops = false;
    int paragraph_flag = 0;
    const char *tag = nullptr;
};

TEST_F(OdfFill, NotesReplaceTheirParagraph)
{
    const char *const P3 = "<text:p text:style-name=\"P3\">{N}</text:p>";
    const NoteCase cases[] = {
        {"a two-paragraph note", P3, note(para("First") + para("Second")), 0,
         "OSKA_STD3|First\nOSKA_STD3|Second\n"},
        {"a paragraph and an amount", P3, note(para("Total") + amount("1234.50")), 0,
         "OSKA_SGL3|Total\nOSKA_AMT3|1,234.50\nOSKA_STD3|\n"},
        {"a paragraph and an amount in a table", P3, note(para("Total") + amount("1234.50") + para("Small") +
                                                         amount("0.40")),
         1, "P3|Total\nOSKA_AMT3|1,234.50\nP3|Small\nOSKA_AMT3|0.40\nP3|\nOSKA_AMT3|\n",
         "table OSKA_00000001TBL OSKA_5f_TBL\n"
         "OSKA_5f_TBL.A1 string -|P3:Total\nOSKA_5f_TBL.B1 float 1234.50|OSKA_AMT3:1,234.50\n"
         "OSKA_5f_TBL.A1 string -|P3:Small\nOSKA_5f_TBL.B1 string -|OSKA_AMT3:0.40\n"
         "OSKA_5f_TBL.A1 string -|P3:\nOSKA_5f_TBL.B1 string -|OSKA_AMT3:\n"},
        {"the paragraph flag drops the cells' bottom padding", P3, note(para("Total") + amount("-7")), 1,
         "P3|Total\nOSKA_AMT3|-7.00\n",
         "table OSKA_00000001TBL OSKA_5f_TBL\nOSKA_5f_TBL.A1.L string -|P3:Total\n"
         "OSKA_5f_TBL.B1.L float -7.00|OSKA_AMT3:-7.00\n", false, 1},
        {"an amount before any included paragraph gets its own row", P3,
         note(para("Out") + block("T1", true) + amount("5") + para("In") + block("T1", false)), 1,
         "P3|\nOSKA_AMT3|5.00\nP3|In\nOSKA_AMT3|\n",
         "table OSKA_00000001TBL OSKA_5f_TBL\nOSKA_5f_TBL.A1 string -|P3:\nOSKA_5f_TBL.B1 float 5.00|OSKA_AMT3:5.00\n"
         "OSKA_5f_TBL.A1 string -|P3:In\nOSKA_5f_TBL.B1 string -|OSKA_AMT3:\n", false, 0, "T1"},
        {"three blanks in a bold run", P3, note(para("a<b>x   y</b>z &amp; &lt;<i>i</i>")), 0,
         "OSKA_STD3|a[OSKA_B3:x <s2>y]z & <[OSKA_I3:i]\n"},
        {"control characters are dropped, tabs and line feeds kept", P3, note(para("a\x01\tb\nc")), 0,
         "OSKA_STD3|a<text:tab>b<text:line-break>c\n"},
        {"a token mid-paragraph makes three paragraphs", "<text:p text:style-name=\"P3\">Before {N} after</text:p>",
         note(para("Note")), 0, "P3|Before \nOSKA_STD3|Note\nP3| after\n"},
        {"the block-tag filter keeps what lies between the tags", P3,
         note(para("Pre") + block("T1", true) + para("In") + block("T1", false) + para("Post")), 0, "OSKA_STD3|In\n",
         "", false, 0, "T1"},
        {"a block tag the note lacks keeps everything", P3, note(para("All")), 0, "OSKA_STD3|All\n", "", false, 0, "T9"},
        {"a token inside a span splits the span into the paragraphs around",
         "<text:p text:style-name=\"P3\">A <text:span text:style-name=\"T5\">b {N} c</text:span> d</text:p>",
         note(para("Note")), 0, "P3|A [T5:b ]\nOSKA_STD3|Note\nP3|[T5: c] d\n"},
        {"a paragraph converting to more than the budget stops", P3, note(para(std::string(8100, 'x'))), 0,
         "cdata buffer overflow", "", true},
        {"a hidden paragraph stops", P3, note(para("Seen") + para("Hidden", "H")), 0,
         "Unexpected note type 4 in note_xsl_oo", "", true},
        {"a note that does not read stops with the reader's text", P3, note(para("Seen") + para("a & b")), 0,
         "Unexpected ampersand", "", true},
    };
    int n = 0;
    for (const NoteCase &c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path part = dir / ("n" + std::to_string(n) + ".content.xml");
        std::ofstream(part) << note_content(c.body);
        const fs::path source = dir / ("n" + std::to_string(n) + ".odt");
        make_template(source, {"content.xml=@" + part.string()});
        InsertOoHandle_t *h = create();
        if (c.tag)
            call(in_IINSERT_OO_ADD_NOTE, {num(h), str("{N}"), str(c.text), num(c.amount_flag), num(c.paragraph_flag),
                                          str(c.tag)});
        else
            call(in_IINSERT_OO_ADD_NOTE, {num(h), str("{N}"), str(c.text), num(c.amount_flag), num(c.paragraph_flag)});
        const fs::path target = dir / ("o" + std::to_string(n++) + ".odt");
        if (c.stops) {
            EXPECT_EQ(abort_text([&] { fill(h, source.string(), target.string()); }), c.paras);
            EXPECT_FALSE(fs::exists(target));
            continue;
        }
        EXPECT_EQ(fill(h, source.string(), target.string()), 1);
        look_at(target, "note-" + std::to_string(n));
        std::vector<std::vector<std::string>> commands{{"package", target.string()},
                                                       {"paras", target.string(), "content.xml"}};
        if (c.amount_flag) commands.push_back({"cells", target.string(), "content.xml"});
        const auto seen = checks(commands);
        EXPECT_EQ(seen[0], conformant(TEMPLATE_NAMES));
        EXPECT_EQ(seen[1], c.paras);
        if (c.amount_flag) { EXPECT_EQ(seen[2], c.cells); }
        EXPECT_TRUE(Warnings::shown().empty());
    }
}

TEST_F(OdfFill, NoteStylesAreGeneratedOncePerStyle)
{
    // Two notes in P3 paragraphs share one style set; P20 and the common style Text_20_body get
    // sets of their own, the latter deriving from it. A second token in a note's paragraph is
    // still filled, and each amount table gets its own name.
    const std::string body = "<text:p text:style-name=\"P3\">{N} and {X}</text:p><text:p text:style-name=\"P3\">{M}"
                             "</text:p><text:p text:style-name=\"P20\">{N}</text:p>"
                             "<text:p text:style-name=\"Text_20_body\">{M}</text:p>";
    const fs::path part = dir / "content.xml";
    std::ofstream(part) << note_content(body);
    const fs::path source = dir / "t.odt";
    make_template(source, {"content.xml=@" + part.string()});
    InsertOoHandle_t *h = create();
    call(in_IINSERT_OO_ADD_NOTE, {num(h), str("{N}"), str(note(para("Plain"))), num(0)});
    call(in_IINSERT_OO_ADD_NOTE, {num(h), str("{M}"), str(note(para("Sum") + amount("12"))), num(1)});
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{X}"), str("x")});
    const fs::path target = dir / "o.odt";
    EXPECT_EQ(fill(h, source.string(), target.string()), 1);
    look_at(target, "note-styles");
    EXPECT_EQ(check({"package", target.string()}), conformant(TEMPLATE_NAMES));
    EXPECT_EQ(check({"paras", target.string(), "content.xml"}),
              "OSKA_STD3|Plain\nP3| and x\nP3|Sum\nOSKA_AMT3|12.00\nP3|\nOSKA_AMT3|\nOSKA_STD20|Plain\n"
              "Text_20_body|Sum\nOSKA_AMT21|12.00\nText_20_body|\nOSKA_AMT21|\n");
    // The note reader adds an empty paragraph behind a last amount.
    EXPECT_EQ(check({"tables", target.string(), "content.xml"}),
              "table OSKA_00000001TBL\nSum | 12.00\n | \ntable OSKA_00000002TBL\nSum | 12.00\n | \n");
    for (const char *name : {"OSKA_STD3", "OSKA_SGL3", "OSKA_AMT3", "OSKA_B3", "OSKA_I3", "OSKA_U3", "OSKA_BI3",
                             "OSKA_BU3", "OSKA_IU3", "OSKA_BIU3", "OSKA_STD20", "OSKA_STD21", "OSKA_5f_N4", "OSKA_5f_TBL",
                             "OSKA_5f_TBL.A", "OSKA_5f_TBL.B1.L"})
        EXPECT_EQ(check({"count", target.string(), "content.xml", std::string("style:name=\"") + name + "\""}), "1\n")
            << name;
    EXPECT_EQ(check({"style", target.string(), "content.xml", "OSKA_STD3"}), "parent=Standard;fo:font-size=11pt;\n");
    EXPECT_EQ(check({"style", target.string(), "content.xml", "OSKA_STD21"}), "parent=Text_20_body;\n");
    EXPECT_TRUE(Warnings::shown().empty());
}

TEST_F(OdfFill, NotesInTableCells)
{
    const fs::path part = dir / "content.xml";
    std::ofstream(part) << note_content(table({"<text:p text:style-name=\"P3\">{N}</text:p>|{X}"}));
    const fs::path source = dir / "t.odt";
    make_template(source, {"content.xml=@" + part.string()});
    InsertOoHandle_t *h = create();
    call(in_IINSERT_OO_ADD_NOTE, {num(h), str("{N}"), str(note(para("First") + para("<u>Second</u>"))), num(0)});
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{X}"), str("x")});
    const fs::path target = dir / "o.odt";
    EXPECT_EQ(fill(h, source.string(), target.string()), 1);
    look_at(target, "note-in-table");
    EXPECT_EQ(check({"package", target.string()}), conformant(TEMPLATE_NAMES));
    EXPECT_EQ(check({"tables", target.string(), "content.xml"}), "table T\nFirst/[OSKA_U3:Second] | x\n");
    EXPECT_EQ(check({"paras", target.string(), "content.xml"}), "OSKA_STD3|First\nOSKA_STD3|[OSKA_U3:Second]\n|x\n");
}

TEST_F(OdfFill, InvalidTokensStop)
{
    const fs::path source = template_with(dir, "t.odt", "<text:p>{N}</text:p>");
    InsertOoHandle_t *bad = create();
    call(in_IINSERT_OO_ADD_TEXT, {num(bad), str("N}"), str("x")});
    EXPECT_EQ(abort_text([&] { fill(bad, source.string(), (dir / "o.odt").string()); }), "Invalid insertion tag 'N}'");
    EXPECT_FALSE(fs::exists(dir / "o.odt"));
}

// ---- Templates as office suites write them ---------------------------------------------------------

// content.xml as an office suite writes it, with the given automatic styles and document text.
std::string suite_content(const std::string &automatic, const std::string &body, const char *kind = "text")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content " + NS +
           " xmlns:calcext=\"urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0\""
           " xmlns:of=\"urn:oasis:names:tc:opendocument:xmlns:of:1.2\" office:version=\"1.2\"><office:scripts/>"
           "<office:font-face-decls><style:font-face style:name=\"Liberation Serif\" svg:font-family=\"&apos;"
           "Liberation Serif&apos;\" style:font-family-generic=\"roman\" style:font-pitch=\"variable\"/>"
           "</office:font-face-decls>" +
           automatic + "<office:body><office:" + kind + ">" + body + "</office:" + kind +
           "></office:body></office:document-content>\n";
}

// A styled value in the header and footer of a template whose styles.xml is as office suites write
// it (font declarations, common styles, automatic styles, master pages), with its declarations
// replaced by decls (or as written): the fonts the tags name are declared in styles.xml.
void header_fonts(OdfFill &t, const Scratch &dir, const char *name, const std::optional<std::string> &decls,
                  const char *fonts)
{
    make_template(dir / "default.odt");
    const std::string styles = check({"part", (dir / "default.odt").string(), "styles.xml"});
    const std::size_t from = styles.find("<office:font-face-decls>");
    const std::size_t to = styles.find("</office:font-face-decls>") + std::strlen("</office:font-face-decls>");
    ASSERT_NE(from, std::string::npos);
    // As written, office:styles stands between the font declarations and the automatic styles.
    ASSERT_NE(styles.find("</office:font-face-decls><office:styles>"), std::string::npos);
    const fs::path part = dir / (std::string(name) + ".styles.xml");
    std::ofstream(part) << (decls ? styles.substr(0, from) + *decls + styles.substr(to) : styles);
    const fs::path source = dir / (std::string(name) + ".odt");
    make_template(source, {"styles.xml=@" + part.string()});
    t.fonts_case(source, dir / (std::string(name) + "-out.odt"), fonts);
}

TEST_F(OdfFill, FontsOfStyledValuesInHeadersAndFooters)
{
    header_fonts(*this, dir, "as-written", std::nullopt, "Liberation Serif,Arial,Times New Roman\n");
}

TEST_F(OdfFill, FontsAreDeclaredWhereStylesHaveNoDeclarations)
{
    header_fonts(*this, dir, "none", "", "Arial,Times New Roman\n");
    header_fonts(*this, dir, "empty", "<office:font-face-decls/>", "Arial,Times New Roman\n");
}

TEST_F(OdfFill, EmptyOrSingleAutomaticStylesTakeNewStyles)
{
    // A letter without direct formatting is saved with empty automatic styles; one with a single
    // automatic style has no second to link behind. Styled values, notes and pictures fill both.
    const fs::path png = picture(dir / "pics/logo.png", "100x50", "PNG");
    const std::string body = "<text:p text:style-name=\"Standard\">Dear {NAME},</text:p>"
                             "<text:p text:style-name=\"Standard\">{N}</text:p>"
                             "<text:p text:style-name=\"Standard\">{P}</text:p>"
                             "<text:p text:style-name=\"Standard\">{AMOUNT}</text:p>";
    struct Case {
        const char *what;
        const char *automatic;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        {"empty", "<office:automatic-styles/>", {"No styles found in content automatic styles section"}},
        {"a single style",
         "<office:automatic-styles><style:style style:name=\"P1\" style:family=\"paragraph\">"
         "<style:paragraph-properties fo:text-align=\"center\"/></style:style></office:automatic-styles>",
         {}},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Warnings::shown().clear();
        const fs::path part = dir / ("c" + std::to_string(n) + ".xml");
        std::ofstream(part) << suite_content(c.automatic, body);
        const fs::path source = dir / ("t" + std::to_string(n) + ".odt");
        make_template(source, {"content.xml=@" + part.string()});
        InsertOoHandle_t *h = create();
        call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{NAME}"), str("Ann"), str("mtag_bold")});
        call(in_IINSERT_OO_ADD_NOTE, {num(h), str("{N}"), str(note(para("A <b>note</b>"))), num(0)});
        call(in_IINSERT_OO_ADD_GRAPHIC, {num(h), str("{P}"), str(png.string())});
        call(in_IINSERT_OO_ADD_MONEY, {num(h), str("{AMOUNT}"), dec("-12.5"), num(2), str("mtag_red")});
        const fs::path target = dir / ("o" + std::to_string(n++) + ".odt");
        EXPECT_EQ(fill(h, source.string(), target.string()), 1);
        look_at(target, "automatic-styles-" + std::to_string(n));
        const auto seen = checks({{"package", target.string()},
                                  {"paras", target.string(), "content.xml"},
                                  {"style", target.string(), "content.xml", "OSKA_TEXT2"},
                                  {"count", target.string(), "content.xml", "style:name=\"fr1\" style:family=\"graphic\""},
                                  {"count", target.string(), "content.xml", "style:name=\"OSKA_B0\""},
                                  {"fonts", target.string(), "content.xml"}});
        EXPECT_EQ(seen[0], conformant(std::string(TEMPLATE_NAMES) + ",Pictures/logo.png.png"));
        // A note's styles carry the number of its paragraph's style name: none in Standard.
        EXPECT_EQ(seen[1], "Standard|Dear [OSKA_TEXT1:Ann],\nOSKA_STD0|A [OSKA_B0:note]\n"
                           "Standard|<draw:frame><draw:image>\nOSKA_TEXT2|-12.50\n");
        EXPECT_EQ(seen[2], "parent=Standard;fo:color=#0000ff;fo:font-size=10pt;fo:font-weight=bold;"
                           "style:font-name=Arial;style:font-name-complex=Arial;style:font-size-asian=10pt;"
                           "style:font-size-complex=10pt;style:font-weight-asian=bold;style:font-weight-complex=bold;\n");
        EXPECT_EQ(seen[3], "1\n");
        EXPECT_EQ(seen[4], "1\n");
        EXPECT_EQ(seen[5], "Liberation Serif,Arial\n");
        EXPECT_EQ(Warnings::shown(), c.warnings);
    }
}

// A sheet as a spreadsheet application writes it: its cells are strings until filled; the total
// row sums the amounts above it.
std::string sheet(const std::string &rows)
{
    return suite_content("<office:automatic-styles><style:style style:name=\"ce1\" style:family=\"table-cell\" "
                         "style:parent-style-name=\"Default\"><style:text-properties fo:font-weight=\"bold\"/>"
                         "</style:style></office:automatic-styles>",
                         "<table:table table:name=\"Sheet1\"><table:table-column table:number-columns-repeated=\"2\"/>" +
                             rows + "</table:table>",
                         "spreadsheet");
}
std::string text_cell(const std::string &text)
{
    return "<table:table-cell office:value-type=\"string\" calcext:value-type=\"string\"><text:p>" + text +
           "</text:p></table:table-cell>";
}
std::string row(const std::string &a, const std::string &b) { return "<table:table-row>" + a + b + "</table:table-row>"; }

TEST_F(OdfFill, SpreadsheetCellsShowStylesAndCountNumbers)
{
    const std::string total = "<table:table-cell table:formula=\"of:=SUM([.B2:.B4])\" office:value-type=\"float\" "
                              "office:value=\"0\" calcext:value-type=\"float\"><text:p>0</text:p></table:table-cell>";
    const fs::path part = dir / "sheet.xml";
    std::ofstream(part) << sheet(row(text_cell("Item"), text_cell("Amount")) + row(text_cell("{I1}"), text_cell("{A1}")) +
                                 row(text_cell("{I2}"), text_cell("{A2}")) +
                                 row(text_cell("{I3}"), text_cell("EUR {A3}")) + row(text_cell("Total"), total));
    const fs::path source = dir / "sheet.ods";
    make_template(source, {"mimetype=application/vnd.oasis.opendocument.spreadsheet", "content.xml=@" + part.string()});
    InsertOoHandle_t *h = create();
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{I1}"), str("Rent"), str("mtag_bold")});
    call(in_IINSERT_OO_ADD_MONEY, {num(h), str("{A1}"), dec("-1234.5"), num(2), str("mtag_red")});
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{I2}"), str("Fee")});
    call(in_IINSERT_OO_ADD_NUMERIC, {num(h), str("{A2}"), dec("7.25"), num(2)});
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{I3}"), str("Other")});
    call(in_IINSERT_OO_ADD_MONEY, {num(h), str("{A3}"), dec("3"), num(2)});
    const fs::path target = dir / "filled.ods";
    EXPECT_EQ(fill(h, source.string(), target.string()), 1);
    look_at(target, "sheet-cells");
    const auto seen = checks({{"package", target.string()},
                              {"cells", target.string(), "content.xml"},
                              {"style", target.string(), "content.xml", "OSKA_TEXT1"},
                              {"count", target.string(), "content.xml", "style:family=\"text\""},
                              {"part", target.string(), "content.xml"}});
    EXPECT_NE(seen[0].find("xmllint: ok\nfile: OpenDocument Spreadsheet\n"), std::string::npos) << seen[0];
    // Styled values stand in spans of their own with text styles, which a spreadsheet shows; a
    // number or amount that is a cell's whole text makes the cell a number, the text as shown.
    EXPECT_EQ(seen[1], "table Sheet1 \n"
                       " string -|:Item\n string -|:Amount\n"
                       " string -|:[OSKA_TEXT1:Rent]\n float -1234.50|:[OSKA_TEXT2:-1,234.50]\n"
                       " string -|:Fee\n float 7.25|:7.25\n"
                       " string -|:Other\n string -|:EUR 3.00\n"
                       " string -|:Total\n float 0|:0\n");
    EXPECT_EQ(seen[2], "parent=;fo:font-weight=bold;style:font-weight-asian=bold;style:font-weight-complex=bold;\n");
    EXPECT_EQ(seen[3], "2\n");
    EXPECT_NE(seen[4].find("<table:table-cell office:value-type=\"float\" calcext:value-type=\"float\" "
                           "office:value=\"-1234.50\">"),
              std::string::npos)
        << seen[4];
}

// A signal that arrives while a template is filled is acted on between the steps of a part: the
// run ends through the signal path and no target is written.
TEST_F(OdfFill, ASignalStopsTheFillingAtTheSafePoint)
{
    const fs::path source = template_with(dir, "t.odt", "<text:p>{A}</text:p>");
    InsertOoHandle_t *h = create();
    call(in_IINSERT_OO_ADD_TEXT, {num(h), str("{A}"), str("a")});
    const fs::path target = dir / "o.odt";
    pending_signal = SIGINT;
    EXPECT_EQ(abort_text([&] { fill(h, source.string(), target.string()); }), "Program interrupted by user");
    const bool left = pending_signal != 0;
    pending_signal = 0;
    EXPECT_FALSE(left);
    EXPECT_FALSE(fs::exists(target));
}

} // namespace
