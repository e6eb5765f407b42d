// The style tags file read into tag records: each attribute with its values, every message of a
// faulty file, and the merging of a tag into a style. Each case writes a one-tag conf/tags into
// the program's private site tree.
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "read_error.h"
#include "run_time.h"
#include "style_tags.h"
#include "tag_dump.h"

namespace {

using lumba_test::differences;

void write_tags(const std::string &text)
{
    std::ofstream(std::string(PPATH_ROOT) + "/conf/tags", std::ios::binary | std::ios::trunc) << text;
}

// The file read: its tags and their error, the tags left as they were when there is one.
ReadError read_tags(const std::string &file, PrintTag_t **head)
{
    write_tags(file);
    PrintTag_t *const mark = reinterpret_cast<PrintTag_t *>(head);  // never dereferenced
    *head = mark;
    const ReadError error = postscript_read_style_tag_config_file(head);
    if (error) {
        EXPECT_EQ(*head, mark) << file;
        *head = nullptr;
    }
    return error;
}

// The file's tags, each as its name and what it sets over the unset record; or "refused: " and
// the message.
std::string read_file(const std::string &file)
{
    PrintTag_t *head = nullptr;
    if (const ReadError error = read_tags(file, &head)) return "refused: " + error.message;
    std::string out;
    PrintTag_t *unset = postscript_print_tag_initialise(0);
    for (const PrintTag_t *t = head; t; t = t->next) {
        if (t->next) {
            EXPECT_EQ(t->next->prior, t);
        }
        out += (out.empty() ? "" : " | ") + std::string(t->name) + ": " + differences(t, unset);
    }
    postscript_print_tag_free(unset);
    postscript_print_tags_free(head);
    return out;
}

struct FileCase {
    std::string file;
    std::string expected;  // the tags read, or "refused: " and the message
};

void check(std::initializer_list<FileCase> cases)
{
    for (const FileCase &c : cases) EXPECT_EQ(read_file(c.file), c.expected) << c.file;
}

TEST(StyleTagFile, EveryAttributeSetsItsField)
{
    check({
        {"mtag_a{print-weight:bold;}", "mtag_a: print_weight=1"},
        {"mtag_a{print-size:12pt;}", "mtag_a: print_size=12"},
        {"mtag_a{print-size:7pt;}", "mtag_a: print_size=7"},
        {"mtag_a{print-family:Courier;}", "mtag_a: print_family=0"},
        {"mtag_a{print-family:Times-Roman;}", "mtag_a: print_family=2"},
        {"mtag_a{print-style:italic;}", "mtag_a: print_style=1"},
        {"mtag_a{print-align:left;}", "mtag_a: print_align=0"},
        {"mtag_a{print-align:boolean;}", "mtag_a: print_align=4"},
        {"mtag_a{print-colour:#A0b1C2;}", "mtag_a: print_colour=0xa0b1c2"},
        {"mtag_a{print-underline:normal;}", "mtag_a: print_underline=1"},
        {"mtag_a{print-neg-colour:#ff0000;}", "mtag_a: print_neg_colour=0xff0000"},
        {"mtag_a{print-bg-colour:#00ff00;}", "mtag_a: print_bg_colour=0x00ff00"},
        {"mtag_a{print-bg-colour:NULL;}", "mtag_a: print_bg_colour=-1"},
        {"mtag_a{print-grey:#80;}", "mtag_a: print_grey=0x808080"},
        {"mtag_a{print-neg-grey:#0F;}", "mtag_a: print_neg_grey=0x0f0f0f"},
        {"mtag_a{print-bg-grey:#20;}", "mtag_a: print_bg_grey=0x202020"},
        {"mtag_a{print-bg-grey:NULL;}", "mtag_a: print_bg_grey=-1"},
        {"mtag_a{print-neg-weight:bold;}", "mtag_a: print_neg_weight=1"},
        {"mtag_a{print-grey-weight:normal;}", "mtag_a: print_grey_weight=0"},
        {"mtag_a{print-neg-grey-weight:bold;}", "mtag_a: print_neg_grey_weight=1"},
        {"mtag_a{screen-weight:bold;}", "mtag_a: screen_weight=1"},
        {"mtag_a{screen-neg-weight:bold;}", "mtag_a: screen_neg_weight=1"},
        {"mtag_a{screen-size:9pt;}", "mtag_a: screen_size=9"},
        {"mtag_a{screen-family:Helvetica;}", "mtag_a: screen_family=1"},
        {"mtag_a{screen-style:normal;}", "mtag_a: screen_style=0"},
        {"mtag_a{screen-align:centre;}", "mtag_a: screen_align=2"},
        {"mtag_a{screen-align:decimal;}", "mtag_a: screen_align=3"},
        {"mtag_a{screen-colour:#0000ff;}", "mtag_a: screen_colour=0x0000ff"},
        {"mtag_a{screen-underline:none;}", "mtag_a: screen_underline=0"},
        {"mtag_a{screen-neg-colour:#123456;}", "mtag_a: screen_neg_colour=0x123456"},
        {"mtag_a{screen-bg-colour:NULL;}", "mtag_a: screen_bg_colour=-1"},
        {"mtag_a{page-number:current;}", "mtag_a: page_number=1"},
        {"mtag_a{page-number:next;}", "mtag_a: page_number=2"},
        {"mtag_a{time-stamp:\"%a  %d %b %y  %H:%M\";}", "mtag_a: time_stamp='%a  %d %b %y  %H:%M'"},
        {"mtag_a{watermark-text:\"Not a copy: 1; 2\";}", "mtag_a: watermark_text='Not a copy: 1; 2'"},
        {"mtag_a{watermark-text:none;}", "mtag_a: watermark_text='\n'"},
        {"mtag_a{line-type:single;}", "mtag_a: line_type=1 line_style=1"},
        {"mtag_a{line-style:dashed;}", "mtag_a: line_type=1 line_style=3"},
        {"mtag_a{line-style:\"dotted\";line-type:single;}", "mtag_a: line_type=1 line_style=2"},
        {"mtag_a{user-definable:TRUE;}", "mtag_a: user_definable=1"},
        {"mtag_a{user-definable:true;user-definable:false;}", "mtag_a: "},
        {"mtag_a{user-definable:FALSE;}", "mtag_a: "},
        {"mtag_a{note-type:plain;}", "mtag_a: note_type=1"},
        {"mtag_a{note-type:extended;}", "mtag_a: note_type=2"},
        {"mtag_a{note-wrap-width:5.5cm;}", "mtag_a: note_wrap_width=5.500000"},
        {"mtag_a{note-extension-width:1234567.90cm;}", "mtag_a: note_extension_width=1234567.900000"},
        {"mtag_a{note-completion:true;}", "mtag_a: note_completion=1"},
        {"mtag_a{multi-line-wrap-width:8cm;}", "mtag_a: multi_line_wrap_width=8.000000"},
        {"mtag_a{multi-line-completion:false;}", "mtag_a: multi_line_completion=0"},
        {"mtag_a{print-size:10pt;print-size:11pt;}", "mtag_a: print_size=11"},
    });
}

TEST(StyleTagFile, ReadsTheFileInOrderWithNamesUpTo31Characters)
{
    const std::string name31 = "mtag_" + std::string(26, 'n'), name32 = name31 + "x";
    check({
        {"", ""},
        {"// only a comment\n", ""},
        {"mtag_1 { print-weight: bold; }\nmtag_2 { print-size: 9pt; }\nmtag_1 { print-size: 7pt; }",
         "mtag_1: print_weight=1 | mtag_2: print_size=9 | mtag_1: print_size=7"},
        {"mtag_empty{}mtag_b{print-weight:bold;}", "mtag_empty:  | mtag_b: print_weight=1"},
        {"mtag_a{print-weight:bold;}mtag_b{print-size:9pt;", "mtag_a: print_weight=1"},
        {name31 + "{print-weight:bold;}", name31 + ": print_weight=1"},
        {name32 + "{print-weight:bold;}", "refused: Tag name in tags file is too long: " + name32},
        {"tag_a{print-weight:bold;}", "refused: Found tag 'tag_a{print-weight:bold;' not commencing with 'mtag_'"},
        {"mtag_a print-weight:bold;}", "refused: Did not find '{' following a Style Tag 'mtag_aprint-weight:bold;'"},
        {"mtag_a{print-weight:bold}", "refused: Found unexpected string termination in Style Tag"},
        {"mtag_a{watermark-text:\"a//b\";}",
         "refused: Missmatched quotes in format tag attribute: '/b\";}'"},
        {"mtag_a{print-weight:\"bold\";}",
         "refused: Found a '\"' in a format tag '\"bold\";' attribute where one is not allowed"},
    });
}

// Every letter of the unknown-attribute and wrong-value messages.
TEST(StyleTagFile, UnknownAttributesAndValuesNameTheirLetter)
{
    const auto unknown = [](const char *name, char letter) {
        const std::string tag = std::string("mtag_a{") + name + ":x;";
        return FileCase{tag + "}", "refused: Found unexpected attribute '" + std::string(name) + "' in Style Tag '" + tag +
                                       "' (" + letter + ")"};
    };
    const auto wrong = [](const char *name, const char *value, char letter) {
        const std::string tag = std::string("mtag_a{") + name + ":" + value + ";";
        return FileCase{tag + "}", "refused: Found unexpected attribute value '" + std::string(value) +
                                       "' in Style Tag '" + tag + "' (" + letter + ")"};
    };
    check({
        unknown("colour", 'R'), unknown("line-width", 'P'), unknown("multi-wrap", 'O'),
        unknown("multi-line-xyz", 'Z'), unknown("multi-line-count", 'S'), unknown("multi-line-width", 'Q'),
        unknown("notes", 'T'), unknown("note-size", 'j'), unknown("note-wrap", 'f'), unknown("note-text", 'd'),
        unknown("note-colour", 'h'), unknown("note-extension", 'g'), unknown("print-zoom", '2'),
        unknown("print-display", '2'), unknown("print-", '2'), unknown("print-alignment", 'r'),
        unknown("print-bg", 'z'), unknown("print-color", 't'), unknown("print-font", 'p'),
        unknown("print-greyish", 'v'), unknown("print-neg", 'y'), unknown("print-spacing", 'o'),
        unknown("print-under", 'W'), unknown("print-width", 'l'), unknown("page", 'k'), unknown("pen", 'k'),
        unknown("scr-size", '3'), unknown("screen-zoom", 'G'), unknown("screen-", 'G'), unknown("screen-alignment", 'A'),
        unknown("screen-bg-grey", 'F'), unknown("screen-color", 'C'), unknown("screen-font", '8'),
        unknown("screen-neg-grey", 'E'), unknown("screen-spacing", '7'), unknown("screen-under", 'U'),
        unknown("screen-width", '4'), unknown("timestamp", 'K'), unknown("user", 'H'), unknown("watermark", 'L'),
        wrong("line-type", "double", 'M'), wrong("line-style", "wavy", 'N'), wrong("multi-line-completion", "TRUE", 'X'),
        wrong("note-type", "rich", 'e'), wrong("note-completion", "yes", 'i'), wrong("print-align", "center", 's'),
        wrong("print-family", "Arial", 'q'), wrong("print-grey-weight", "heavy", 'u'),
        wrong("print-neg-weight", "heavy", 'w'), wrong("print-neg-grey-weight", "heavy", 'x'),
        wrong("print-style", "oblique", 'n'), wrong("print-underline", "double", 'Y'),
        wrong("print-weight", "Bold", 'm'), wrong("screen-align", "middle", 'B'), wrong("screen-family", "Arial", '9'),
        wrong("screen-neg-weight", "light", 'D'), wrong("screen-style", "oblique", '6'),
        wrong("screen-underline", "double", 'V'), wrong("screen-weight", "light", '5'),
        wrong("user-definable", "yes", 'J'),
        {"mtag_a{page-number:last;}", "refused: Found unexpected attribute 'last' in Style Tag 'mtag_a{page-number:last;' (c)"},
    });
}

TEST(StyleTagFile, ColoursSizesWidthsAndTimeStampsAreChecked)
{
    const auto message = [](const std::string &tag, const std::string &text, const std::string &letter = "") {
        return FileCase{tag + "}", "refused: " + text + " in Style Tag '" + tag + "'" + letter};
    };
    check({
        message("mtag_a{print-colour:NULL;", "Found unexpected attribute value 'NULL'", " (a)"),
        message("mtag_a{print-colour:ff0000;", "Found unexpected attribute value 'ff0000'", " (a)"),
        message("mtag_a{print-colour:#ff00001;", "Found unexpected attribute value '#ff00001'", " (a)"),
        message("mtag_a{print-colour:#ff00g0;", "Found unexpected attribute value 'ff00g0'", " (b)"),
        message("mtag_a{print-grey:#8;", "Found unexpected attribute value '8'", " (b)"),
        message("mtag_a{print-grey:#800;", "Found unexpected attribute value '#800'", " (a)"),
        message("mtag_a{print-size:pt;", "Did not find units 'pt' on font size attribute"),
        message("mtag_a{print-size:100pt;", "Found unexpected units '0pt' on font size attribute"),
        message("mtag_a{screen-size:10px;", "Found unexpected units 'px' on font size attribute"),
        message("mtag_a{time-stamp:\"%d %b %y\";", "Found unexpected format type '%d %b %y'"),
        message("mtag_a{multi-line-wrap-width:12345678901cm;",
                "Length '12345678901cm' too many digits in multi line wrap width attribute"),
        message("mtag_a{multi-line-wrap-width:cm;", "Did not find length 'cm' on multi line wrap width attribute"),
        message("mtag_a{multi-line-wrap-width:3in;", "Found unexpected units 'in' on multi line wrap width attribute"),
        message("mtag_a{note-wrap-width:12345678901cm;",
                "Length '12345678901cm' too many digits in note wrap width attribute"),
        message("mtag_a{note-wrap-width:x;", "Did not find length 'x' on note wrap width attribute"),
        message("mtag_a{note-wrap-width:3;", "Found unexpected units '' on note wrap width attribute"),
        message("mtag_a{note-extension-width:12345678901cm;",
                "Length '12345678901cm' too many digits in note extension width attribute"),
        message("mtag_a{note-extension-width:-1cm;", "Did not find length '-1cm' on note wrap extension attribute"),
        message("mtag_a{note-extension-width:3mm;", "Found unexpected units 'mm' on note wrap extension attribute"),
    });
}

TEST(StyleTagFile, RecordsStartAsDefaultOrUnset)
{
    PrintTag_t *def = postscript_print_tag_initialise(1), *unset = postscript_print_tag_initialise(0);
    EXPECT_EQ(differences(def, unset),
              "print_weight=0 print_size=8 print_family=1 print_style=0 print_align=0 print_colour=0x000000 "
              "print_underline=0 print_neg_colour=0x000000 print_bg_colour=-1 print_grey=0x000000 "
              "print_neg_grey=0x000000 print_bg_grey=-1 print_neg_weight=0 print_grey_weight=0 "
              "print_neg_grey_weight=0 screen_weight=0 screen_neg_weight=0 screen_size=8 screen_family=1 "
              "screen_style=0 screen_align=0 screen_colour=0x000000 screen_underline=0 screen_neg_colour=0x000000 "
              "screen_bg_colour=-1 note_completion=0 multi_line_completion=0");
    EXPECT_EQ(unset->print_weight, NOT_GIVEN);
    EXPECT_EQ(unset->line_type, NOT_GIVEN);
    EXPECT_EQ(unset->line_style, NOT_GIVEN);
    EXPECT_EQ(unset->page_number, 0);
    EXPECT_EQ(unset->note_wrap_width, 4.0);
    EXPECT_EQ(unset->note_extension_width, 12.0);
    EXPECT_EQ(unset->multi_line_wrap_width, -1.0);
    EXPECT_EQ(def->name[0], '\0');
    EXPECT_EQ(def->time_stamp, nullptr);
    EXPECT_EQ(def->watermark_text, nullptr);
    postscript_print_tag_free(def);
    postscript_print_tag_free(unset);
}

struct Fault {
    std::string file;
    StyleTagCode code;
    std::size_t offset;
};

// A fault has its code and the offset where its tag begins (a fault of the tokeniser, its own
// byte); the tags read before it go, and the next reading begins with its own file.
TEST(StyleTagFile, FaultsHaveTheirCodeAndWhereTheirTagBegins)
{
    const std::string good = "mtag_a{print-weight:bold;}\n// a comment\n  ";  // 42 bytes
    const Fault cases[] = {
        {good + "mtag_" + std::string(27, 'n') + "{print-weight:bold;}", StyleTagCode::NameTooLong, 42},
        {good + "tag_b{print-weight:bold;}", StyleTagCode::NoPrefix, 42},
        {good + "mtag_b print-weight:bold;}", StyleTagCode::NoBrace, 42},
        {good + "mtag_b{print-weight:bold}", StyleTagCode::UnexpectedEnd, 42},
        {good + "mtag_b{print-weight:\"bold\";}", StyleTagCode::QuoteNotAllowed, 42},
        {good + "mtag_b{print-weight:\"bold\"\"x\";}", StyleTagCode::QuoteNotAllowed, 42},
        {good + "mtag_b{line-type:\"single\"\"x\";}", StyleTagCode::TooManyQuotes, 42},
        {good + "mtag_b{line-type:\"single\"x;}", StyleTagCode::AfterQuotes, 42},
        {good + "mtag_b{print-weight;bold;}", StyleTagCode::StrayDelimiter, 42},
        {good + "mtag_b{print-weight:" + std::string(56, 'b') + ";}", StyleTagCode::ValueTooLong, 42},
        {good + "mtag_b{colour:red;}", StyleTagCode::UnknownAttribute, 42},
        {good + "mtag_b{print-weight:Bold;}", StyleTagCode::WrongValue, 42},
        {good + "mtag_b{page-number:last;}", StyleTagCode::WrongPageNumber, 42},
        {good + "mtag_b{print-colour:red;}", StyleTagCode::WrongColour, 42},
        {good + "mtag_b{print-grey:#8g;}", StyleTagCode::WrongColour, 42},
        {good + "mtag_b{print-size:pt;}", StyleTagCode::SizeDigits, 42},
        {good + "mtag_b{print-size:9px;}", StyleTagCode::SizeUnits, 42},
        {good + "mtag_b{note-wrap-width:12345678901cm;}", StyleTagCode::WidthDigits, 42},
        {good + "mtag_b{note-wrap-width:cm;}", StyleTagCode::WidthMissing, 42},
        {good + "mtag_b{note-wrap-width:1in;}", StyleTagCode::WidthUnits, 42},
        {good + "mtag_b{time-stamp:\"%H:%M\";}", StyleTagCode::TimeStampFormat, 42},
        {good + "mtag_b{watermark-text:\"a//b\";}", StyleTagCode::SlashesInQuotes, 42 + 25},
    };
    for (const Fault &c : cases) {
        PrintTag_t *head = nullptr;
        const ReadError error = read_tags(c.file + "mtag_after{print-size:9pt;}", &head);
        EXPECT_EQ(error.code, static_cast<int>(c.code)) << c.file << ": " << error.message;
        EXPECT_EQ(error.offset, c.offset) << c.file;
        EXPECT_EQ(read_file("mtag_z{print-size:7pt;}"), "mtag_z: print_size=7") << c.file;
    }
    std::remove((std::string(PPATH_ROOT) + "/conf/tags").c_str());
    PrintTag_t *head = nullptr;
    const ReadError missing = postscript_read_style_tag_config_file(&head);
    EXPECT_EQ(missing.message, "Cannot open style tags configuration file " PPATH_ROOT "/conf/tags");
    EXPECT_EQ(missing.code, static_cast<int>(StyleTagCode::CannotOpen));
    EXPECT_EQ(missing.offset, 0u);
    EXPECT_EQ(head, nullptr);
}

TEST(StyleTagFile, ColourValuesAreLowerCasedOnlyWhenRead)
{
    char good[] = "#A0b1C2", bad[] = "#ABCDEg";
    int colour = 7;
    EXPECT_FALSE(postscript_get_colour_value(good, "tag", 0, 6, &colour));
    EXPECT_EQ(colour, 0xa0b1c2);
    EXPECT_STREQ(good, "#a0b1c2");
    const ReadError error = postscript_get_colour_value(bad, "tag", 0, 6, &colour);
    EXPECT_EQ(error.message, "Found unexpected attribute value 'abcdeg' in Style Tag 'tag' (b)");
    EXPECT_EQ(colour, 0xa0b1c2);
    EXPECT_STREQ(bad, "#ABCDEg");
}

// Merging the first tag of a file into a default record: what changes.
std::string merged(const std::string &file)
{
    PrintTag_t *head = nullptr;
    EXPECT_FALSE(read_tags(file, &head)) << file;
    PrintTag_t *style = postscript_print_tag_initialise(1), *before = postscript_print_tag_initialise(1);
    std::snprintf(style->name, sizeof style->name, "mtag_style");
    postscript_add_tag_value(style, head);
    std::string out = differences(style, before) + (std::string(style->name) == "mtag_style" ? "" : " (renamed)");
    postscript_print_tag_free(before);
    postscript_print_tag_free(style);
    postscript_print_tags_free(head);
    return out;
}

TEST(StyleTagMerge, CopiesWhatTheTagGivesAndScreenFollowsPrint)
{
    const FileCase cases[] = {
        {"mtag_a{}", ""},
        {"mtag_a{print-colour:#112233;}", "print_colour=0x112233 screen_colour=0x112233"},
        {"mtag_a{print-colour:#112233;screen-colour:#445566;}", "print_colour=0x112233 screen_colour=0x445566"},
        {"mtag_a{screen-colour:#445566;}", "screen_colour=0x445566"},
        {"mtag_a{print-weight:bold;print-neg-weight:bold;print-size:12pt;print-family:Courier;print-style:italic;"
         "print-align:right;print-underline:normal;print-neg-colour:#010203;print-bg-colour:#040506;}",
         "print_weight=1 print_size=12 print_family=0 print_style=1 print_align=1 print_underline=1 "
         "print_neg_colour=0x010203 print_bg_colour=0x040506 print_neg_weight=1 screen_weight=1 screen_neg_weight=1 "
         "screen_size=12 screen_family=0 screen_style=1 screen_align=1 screen_underline=1 "
         "screen_neg_colour=0x010203 screen_bg_colour=0x040506"},
        {"mtag_a{print-grey:#40;print-neg-grey:#50;print-bg-grey:#60;print-grey-weight:bold;print-neg-grey-weight:bold;}",
         "print_grey=0x404040 print_neg_grey=0x505050 print_bg_grey=0x606060 print_grey_weight=1 "
         "print_neg_grey_weight=1"},
        {"mtag_a{print-bg-colour:#102030;screen-bg-colour:NULL;}", "print_bg_colour=0x102030"},
        {"mtag_a{page-number:next;time-stamp:\"%a  %d %b %y  %H:%M\";watermark-text:Draft;}",
         "page_number=2 time_stamp='%a  %d %b %y  %H:%M' watermark_text='Draft'"},
        {"mtag_a{line-style:dotted;user-definable:true;}", "line_type=1 line_style=2 user_definable=1"},
        {"mtag_a{note-type:extended;note-wrap-width:6cm;note-extension-width:10cm;note-completion:true;}",
         "note_type=2 note_wrap_width=6.000000 note_extension_width=10.000000 note_completion=1"},
        {"mtag_a{multi-line-wrap-width:5cm;multi-line-completion:true;}",
         "multi_line_wrap_width=5.000000 multi_line_completion=1"},
    };
    for (const FileCase &c : cases) EXPECT_EQ(merged(c.file), c.expected) << c.file;
}

} // namespace
