// The print state and line formats: a line's format parsed into segments over a fixture tags
// file, the default style carried from line to line, the note and multi-line phases, and the
// rescaling of formats for the drill window.
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "mem_mgt.h"
#include "comma_locale.h"
#include "message.h"
#include "print_state.h"
#include "read_error.h"
#include "run_time.h"
#include "tag_dump.h"
#include "test_host.h"

namespace {

using lumba_test::differences;

const char *const TAGS = R"(// the fixture's style tags
mtag_bold { print-weight: bold; }
mtag_big { print-size: 12pt; }
mtag_red { print-colour: #ff0000; }
mtag_stamp { time-stamp: "%a  %d %b %y  %H:%M"; }
mtag_page { page-number: current; }
mtag_rule { line-type: single; }
mtag_dots { line-style: dotted; }
mtag_note { note-type: plain; }
mtag_notedone { note-type: plain; note-completion: true; }
mtag_done { note-completion: true; }
mtag_wrap { multi-line-wrap-width: 5cm; }
mtag_wrapdone { multi-line-completion: true; }
mtag_water { watermark-text: "Draft copy"; print-colour: #00ff00; }
mtag_bold { print-size: 20pt; }
)";

class PrintStateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::ofstream(std::string(PPATH_ROOT) + "/conf/tags", std::ios::binary | std::ios::trunc) << TAGS;
        ASSERT_FALSE(postscript_print_state_initialise(1, 1.0f, &state));
        lumba_test::mail_reports().clear();
    }
    void TearDown() override
    {
        postscript_free_format_line(state);
        postscript_print_state_free(state);
    }

    // The segments of a line of length characters with format, as "first-last" and what each
    // changes over the default record; the segments are freed again. A format refused gives
    // "refused: " and the message.
    std::string parsed(const std::string &format, int length)
    {
        if (const ReadError error = postscript_parse_format(format.c_str(), state, length))
            return "refused: " + error.message;
        std::string out;
        PrintTag_t *reference = postscript_print_tag_initialise(1);
        for (const FormatValue_t *v = state->format_values; v; v = v->next) {
            if (v->next) {
                EXPECT_EQ(v->next->prior, v);
                EXPECT_EQ(v->next->first, v->last + 1);
            }
            char range[96];
            std::snprintf(range, sizeof range, "%d-%d%s", v->first, v->last, v->set ? " set" : "");
            out += (out.empty() ? "" : " | ") + std::string(range);
            if (v->position > -1.5) out += " pos=" + std::to_string(v->position).substr(0, 4);
            if (v->length > -1.5) out += " len=" + std::to_string(v->length).substr(0, 4);
            const std::string changed = differences(v->tag, reference);
            if (!changed.empty()) out += " " + changed;
        }
        postscript_print_tag_free(reference);
        postscript_free_format_line(state);
        return out;
    }
    void reset_default_style()
    {
        postscript_print_tag_free(state->default_tag);
        state->default_tag = postscript_print_tag_initialise(1);
    }
    // What the state's default tag changes over the default record.
    std::string default_style()
    {
        PrintTag_t *reference = postscript_print_tag_initialise(1);
        std::string out = differences(state->default_tag, reference);
        postscript_print_tag_free(reference);
        return out;
    }

    PrintState_t *state = nullptr;
};

TEST_F(PrintStateTest, StartsWithItsInitialValuesAndTheTags)
{
    EXPECT_EQ(state->output_kind, 1);
    EXPECT_EQ(state->drill_scale, 1.0f);
    EXPECT_EQ(state->left_margin, 20.0f);
    EXPECT_EQ(state->bottom_margin, 20.0f);
    EXPECT_EQ(state->form, 3);
    EXPECT_EQ(state->page_number, 1);
    EXPECT_EQ(state->current_colour, -1);
    EXPECT_EQ(state->line_spacing, 1.15f);
    EXPECT_EQ(state->format_values, nullptr);
    EXPECT_EQ(default_style(), "");
    int count = 0;
    for (const PrintTag_t *t = state->tags; t; t = t->next) ++count;
    EXPECT_EQ(count, 14);
    EXPECT_STREQ(postscript_find_tag(state, "mtag_bold")->name, "mtag_bold");
    EXPECT_EQ(postscript_find_tag(state, "mtag_bold")->print_size, NOT_GIVEN);  // the first of the name
    EXPECT_EQ(postscript_find_tag(state, "MTAG_BOLD"), nullptr);
}

struct FormatCase {
    std::string format;
    int length;
    std::string segments;
};

TEST_F(PrintStateTest, LineFormatsSplitTheLineIntoStyledSegments)
{
    const std::string bold = "print_weight=1 screen_weight=1";
    const FormatCase cases[] = {
        {"", 10, "1-10"},
        {"1,,,,mtag_bold", 10, "1-10 set " + bold},
        {" 1 , , , , mtag_bold ", 10, "1-10 set " + bold},
        {",,,,mtag_bold", 10, "1-10 set " + bold},
        {"5,3,,,mtag_bold", 10, "1-4 | 5-7 set " + bold + " | 8-10"},
        {"5,3", 10, "1-10"},
        {"5,3,,,mtag_bold,mtag_big", 10, "1-4 | 5-7 set print_weight=1 print_size=12 screen_weight=1 screen_size=12 | 8-10"},
        {"5,3,,,mtag_bold;1,2,,,mtag_big", 10,
         "1-2 set print_size=12 screen_size=12 | 3-4 | 5-7 set " + bold + " | 8-10"},
        {"5,20,,,mtag_bold", 10, "1-4 | 5-10 set " + bold},
        {"1,3,,,mtag_big;2,5,,,mtag_bold", 10,
         "refused: igdrill: Style Tag 'mtag_bold' spans source text positions of multiple prior tags"},
        {"1,,3,2.5,mtag_bold", 10, "1-10 set pos=3.00 len=2.50 " + bold},
        {"1,4,3,,mtag_bold", 10, "1-4 set pos=3.00 " + bold + " | 5-10"},
        {"12,3,,,mtag_bold", 10, "1-10"},
        {"1,,5,6,mtag_stamp;3,2,,,mtag_bold", 10,
         "1-2 set pos=5.00 len=6.00 time_stamp='%a  %d %b %y  %H:%M' | 3-4 set " + bold + " | 5-10 set"},
        {"1,,,,mtag_note;4,2,,,mtag_bold", 10,
         "1-3 set note_type=1 | 4-5 set " + bold + " | 6-10 set"},
        {"1,,,,mtag_wrap;4,2,,,mtag_bold", 10,
         "1-3 set multi_line_wrap_width=5.000000 | 4-5 set " + bold + " | 6-10 set"},
        {"1,3,,,mtag_big;mtag_bold", 10, "1-3 set print_size=12 screen_size=12 | 4-10 " + bold},
        {"1,3,,,mtag_big;4,,,,mtag_red;mtag_bold", 10,
         "1-3 set print_size=12 screen_size=12 | 4-10 set print_colour=0xff0000 screen_colour=0xff0000"},
        {"1,,,,mtag_nothing", 10, "1-10"},
        {"1,,,,mtag_water", 10,
         "refused: watermark-text format tag attribute mtag_water not allowed in a non-default tag"},
        {"1234,,,,mtag_bold;x", 10, "refused: Style tag item '1234,,,,mtag_bold;x' exceeds bounds"},
        {"1,,1234567890123,,mtag_bold", 10, "refused: Style tag item '1234567890123,,mtag_bold' exceeds bounds"},
        {"1,,,," + std::string(128, 'm'), 10, "refused: Style tag item '" + std::string(128, 'm') + "' exceeds bounds"},
        {std::string(2048, '1'), 10, "refused: Style tag item '" + std::string(2048, '1') + "' exceeds bounds"},
    };
    for (const FormatCase &c : cases) {
        reset_default_style();
        EXPECT_EQ(parsed(c.format, c.length), c.segments) << c.format;
    }
}

TEST_F(PrintStateTest, TheDefaultStyleLastsUntilAnotherDefaultSegment)
{
    EXPECT_EQ(parsed("1,3,,,mtag_big;mtag_bold", 10), "1-3 set print_size=12 screen_size=12 | 4-10 print_weight=1 screen_weight=1");
    EXPECT_EQ(default_style(), "print_weight=1 screen_weight=1");
    EXPECT_EQ(parsed("", 4), "1-4 print_weight=1 screen_weight=1");
    EXPECT_EQ(parsed("mtag_red, mtag_big", 4),
              "1-4 print_weight=1 print_size=12 print_colour=0xff0000 screen_weight=1 screen_size=12 "
              "screen_colour=0xff0000");
    EXPECT_FALSE(postscript_parse_default("2,,,,mtag_bold;mtag_red", state));
    EXPECT_EQ(state->format_values, nullptr);
    EXPECT_EQ(default_style(),
              "print_weight=1 print_size=12 print_colour=0xff0000 screen_weight=1 screen_size=12 screen_colour=0xff0000");
}

TEST_F(PrintStateTest, DefaultSegmentsRefuseLineAttributesAndKeepTheWatermark)
{
    const FormatCase cases[] = {
        {"mtag_stamp", 5, "refused: time-stamp format tag attribute mtag_stamp not allowed in a default tag"},
        {"mtag_page", 5, "refused: page-number format tag attribute mtag_page not allowed in a default tag"},
        {"mtag_rule", 5, "refused: line-type format tag attribute mtag_rule not allowed in a default tag"},
        {"mtag_note", 5, "refused: note-type format tag attribute mtag_note not allowed in a default tag"},
        {"mtag_wrap", 5, "refused: multi-line-wrap-width format tag attribute mtag_wrap not allowed in a default tag"},
        {"mtag_water", 5, "1-5"},
    };
    for (const FormatCase &c : cases) EXPECT_EQ(parsed(c.format, c.length), c.segments) << c.format;
    ASSERT_NE(state->watermark_tag, nullptr);
    EXPECT_STREQ(state->watermark_tag->watermark_text, "Draft copy");
    EXPECT_EQ(state->watermark_tag->print_colour, 0x00ff00);
    EXPECT_EQ(default_style(), "");  // the watermark tag styles nothing else
    // line-style alone sets the line type as well, which is what the check meets first
    EXPECT_EQ(parsed("mtag_dots", 5), "refused: line-type format tag attribute mtag_dots not allowed in a default tag");
}

TEST_F(PrintStateTest, UnknownTagNamesAreMailedAndStyleNothing)
{
    EXPECT_EQ(parsed("1,3,,,mtag_bald;mtag_bolt", 6), "1-6");
    ASSERT_EQ(lumba_test::mail_reports().size(), 2u);
    EXPECT_EQ(lumba_test::mail_reports()[0].recipient, SUPPORT_ADDRESS);
    EXPECT_EQ(lumba_test::mail_reports()[0].text,
              "The print Style Tag name 'mtag_bald' does not exist in the Style Tags Configuration file");
    EXPECT_EQ(lumba_test::mail_reports()[1].recipient, SUPPORT_ADDRESS);
    EXPECT_EQ(lumba_test::mail_reports()[1].text,
              "igdrill: The print Style Tag name 'mtag_bolt' does not exist in the Style Tags Configuration file");
}

TEST_F(PrintStateTest, SavingNeedsTagsAndSegments)
{
    const auto refused = [](const ReadError &error, PrintFormatCode code) {
        EXPECT_EQ(error.code, static_cast<int>(code)) << error.message;
        EXPECT_EQ(error.offset, 0u) << error.message;
        return error.message;
    };
    EXPECT_EQ(refused(postscript_save_tag(state, 1, 2, "mtag_bold", -2.0, -2.0), PrintFormatCode::NotInitialised),
              "postscript_save_tag - Display Styles not initialised");
    EXPECT_EQ(refused(postscript_save_default_tag(state, "mtag_bold"), PrintFormatCode::NotInitialised),
              "postscript_save_default_tag - Display Styles not initialised");
    EXPECT_EQ(state->format_values, nullptr);
    PrintTag_t *tags = state->tags;
    state->tags = nullptr;
    postscript_init_value(state, 3);
    EXPECT_EQ(refused(postscript_save_tag(state, 1, 2, "mtag_bold", -2.0, -2.0), PrintFormatCode::NoTags),
              "postscript_save_tag - No data found in Styles Configuration file");
    EXPECT_EQ(refused(postscript_save_default_tag(state, "mtag_bold"), PrintFormatCode::NoTags),
              "postscript_save_default_tag - No data found in Styles Configuration file");
    // A format naming a tag has the name's offset.
    const ReadError error = postscript_parse_format("1,2,,,mtag_bold", state, 3);
    EXPECT_EQ(error.message, "postscript_save_tag - No data found in Styles Configuration file");
    EXPECT_EQ(error.offset, 6u);
    state->tags = tags;
    // Saved one at a time, the tags style the state's segments.
    EXPECT_FALSE(postscript_save_tag(state, 2, 3, "mtag_bold", 1.0, -2.0));
    EXPECT_FALSE(postscript_save_default_tag(state, "mtag_red"));
    ASSERT_NE(state->format_values->next, nullptr);
    EXPECT_EQ(state->format_values->next->first, 2);
    EXPECT_EQ(state->format_values->next->tag->print_weight, 1);
    EXPECT_EQ(state->format_values->next->position, 1.0);
    EXPECT_EQ(state->format_values->tag->print_colour, 0);  // the last segment was set already
    EXPECT_EQ(state->default_tag->print_colour, 0xff0000);
}

struct FormatFault {
    std::string format;
    PrintFormatCode code;
    std::size_t offset;  // of the item at fault
    std::string message;
    bool in_default = false;  // a report's default format is refused as well
};

// A format with a fault is refused with the item's offset, and the state stays as it was: its
// segments, default style, watermark and phases, also where the format changed them before.
TEST_F(PrintStateTest, AFaultyFormatLeavesTheStateAsItWas)
{
    const FormatFault cases[] = {
        {"3,1,,,mtag_big;4,2,,,mtag_bold", PrintFormatCode::SpansSegments, 21,
         "igdrill: Style Tag 'mtag_bold' spans source text positions of multiple prior tags"},
        {"mtag_red;1,2,,,mtag_bold,mtag_water", PrintFormatCode::WatermarkInField, 25,
         "watermark-text format tag attribute mtag_water not allowed in a non-default tag"},
        {"mtag_water;mtag_red;1,2,,,mtag_done; mtag_stamp", PrintFormatCode::DefaultTimeStamp, 36,
         "time-stamp format tag attribute mtag_stamp not allowed in a default tag", true},
        {"mtag_page", PrintFormatCode::DefaultPageNumber, 0,
         "page-number format tag attribute mtag_page not allowed in a default tag", true},
        {"mtag_bold,mtag_rule", PrintFormatCode::DefaultLineType, 10,
         "line-type format tag attribute mtag_rule not allowed in a default tag", true},
        {"mtag_note", PrintFormatCode::DefaultNoteType, 0,
         "note-type format tag attribute mtag_note not allowed in a default tag", true},
        {"mtag_wrap", PrintFormatCode::DefaultMultiLine, 0,
         "multi-line-wrap-width format tag attribute mtag_wrap not allowed in a default tag", true},
        {"mtag_red;1234,,,,mtag_bold;x", PrintFormatCode::ItemTooLong, 9, "Style tag item '1234,,,,mtag_bold;x' exceeds bounds"},
        {"1,,1234567890123,,mtag_bold", PrintFormatCode::ItemTooLong, 3,
         "Style tag item '1234567890123,,mtag_bold' exceeds bounds"},
        {"1,,,," + std::string(128, 'm'), PrintFormatCode::ItemTooLong, 5,
         "Style tag item '" + std::string(128, 'm') + "' exceeds bounds"},
        {"mtag_red;" + std::string(2048, '1'), PrintFormatCode::ItemTooLong, 9,
         "Style tag item '" + std::string(2048, '1') + "' exceeds bounds", true},
    };
    // A state in the middle of a report: a line's segments, a default style, a watermark, a note.
    ASSERT_FALSE(postscript_parse_default("mtag_big", state));
    ASSERT_FALSE(postscript_parse_format("3,2,,,mtag_bold;mtag_water;1,2,,,mtag_note", state, 6));
    const auto picture = [&] {
        std::string out = default_style() + " / " + std::to_string(state->note_phase) + std::to_string(state->multi_line_phase);
        out += state->watermark_tag ? std::string(" / ") + state->watermark_tag->watermark_text : " / none";
        for (const FormatValue_t *v = state->format_values; v; v = v->next)
            out += " / " + std::to_string(v->first) + "-" + std::to_string(v->last) + (v->set ? " set " : " ") +
                   std::to_string(v->tag->print_weight) + std::to_string(v->tag->note_type);
        return out;
    };
    const std::string before = picture();
    EXPECT_EQ(before, "print_size=12 screen_size=12 / 10 / Draft copy / 1-2 set 01 / 3-4 set 10 / 5-6 00");
    for (const FormatFault &c : cases) {
        const ReadError error = postscript_parse_format(c.format.c_str(), state, 10);
        EXPECT_EQ(error.message, c.message) << c.format;
        EXPECT_EQ(error.code, static_cast<int>(c.code)) << c.format;
        EXPECT_EQ(error.offset, c.offset) << c.format;
        EXPECT_EQ(picture(), before) << c.format;
        if (!c.in_default) continue;
        const ReadError by_default = postscript_parse_default(c.format.c_str(), state);
        EXPECT_EQ(by_default.message, c.message) << c.format;
        EXPECT_EQ(by_default.offset, c.offset) << c.format;
        EXPECT_EQ(picture(), before) << c.format;
    }
}

struct PhaseCase {
    std::vector<std::string> formats;  // one line each
    int note_phase, multi_line_phase;
};

TEST_F(PrintStateTest, NotesAndMultiLineTextsMoveThroughTheirPhases)
{
    const PhaseCase cases[] = {
        {{"1,,,,mtag_note"}, 1, 0},
        {{"1,,,,mtag_note", "1,,,,mtag_done"}, 2, 0},
        {{"1,,,,mtag_notedone"}, 2, 0},
        {{"1,,,,mtag_done"}, 0, 0},
        {{"1,,,,mtag_wrap"}, 0, 1},
        {{"1,,,,mtag_wrap", "mtag_wrapdone"}, 0, 2},
        {{"mtag_wrapdone"}, 0, 0},
    };
    for (const PhaseCase &c : cases) {
        state->note_phase = state->multi_line_phase = 0;
        for (const std::string &f : c.formats) parsed(f, 8);
        EXPECT_EQ(state->note_phase, c.note_phase) << c.formats[0];
        EXPECT_EQ(state->multi_line_phase, c.multi_line_phase) << c.formats[0];
    }
}

struct DrillCase {
    int form, orientation;
    float left, right, scale;
    const char *format, *converted;
};

TEST_F(PrintStateTest, DrillFormatsRescalePositionsAndLengths)
{
    const DrillCase cases[] = {
        // 0.008 + (3 - 0.7) * 26.1 / 18.7 on A4 portrait; a length of 0.005 stays
        {4, 0, 1.6f, 0.7f, 1.0f, "1,5,3,0.005,mtag_a", "1,5,3.22,0.005,mtag_a"},
        {4, 0, 1.6f, 0.7f, 1.0f, "1,5,,2,mtag_a;6,,0.7,,mtag_b", "1,5,,2.8,mtag_a;6,,0.01,,mtag_b"},
        // A3 landscape: 42 - 15.9 leaves the scale at 1; a value that prints whole loses its point
        {3, 1, 8.0f, 7.9f, 1.0f, "1,2,8.892,2.992,mtag_a", "1,2,1,3,mtag_a"},
        // scale 2: 0.008 + (v - m) * 2 - 2 * 0.8 on a page of 29.7 - 3.6 = 26.1
        {4, 1, 1.8f, 1.8f, 2.0f, "1,2,4,3,mtag_a", "1,2,2.81,4.41,mtag_a"},
        {3, 0, 1.8f, 1.8f, 1.0f, "mtag_a,mtag_b,mtag_c,mtag_d", "mtag_a,mtag_b,mtag_c,mtag_d"},
        {4, 0, 1.6f, 0.7f, 1.0f, "", ""},
    };
    for (const DrillCase &c : cases) {
        state->form = c.form;
        state->orientation = c.orientation;
        state->left_margin = c.left;
        state->right_margin = c.right;
        state->drill_scale = c.scale;
        char *converted = nullptr;
        EXPECT_FALSE(psprint_drill_conv_format(state, c.format, &converted)) << c.format;
        EXPECT_STREQ(converted, c.converted) << c.format;
        sfree(converted);
    }
    state->form = 4;
    state->left_margin = state->right_margin = 1.0f;
    state->drill_scale = 1.0f;
    const FormatFault faults[] = {
        {"1,2," + std::string(29, '1'), PrintFormatCode::DrillItemTooLong, 4, "Buffer overflow in psprint_drill_conv_field"},
        {"mtag_a;1,2,3," + std::string(29, '1'), PrintFormatCode::DrillItemTooLong, 13,
         "Buffer overflow in psprint_drill_conv_field"},
        {"1,2,1" + std::string(26, '0'), PrintFormatCode::DrillValueTooLong, 4, "Buffer overflow in psprint_drill_conv_field 2"},
        {",,1,1", PrintFormatCode::DrillFormatTooLong, 0, "String length exceeded in psprint_drill_conv_format"},
    };
    for (const FormatFault &c : faults) {
        char *converted = nullptr;
        const ReadError error = psprint_drill_conv_format(state, c.format.c_str(), &converted);
        EXPECT_EQ(error.message, c.message) << c.format;
        EXPECT_EQ(error.code, static_cast<int>(c.code)) << c.format;
        EXPECT_EQ(error.offset, c.offset) << c.format;
        EXPECT_EQ(converted, nullptr) << c.format;
    }
}

TEST_F(PrintStateTest, DrillFormatsKeepTheirPointInADecimalCommaLocale)
{
    lumba_test::CommaLocale comma;
    ASSERT_TRUE(comma.active()) << "no decimal-comma locale could be made";
    state->form = 4;
    state->left_margin = 1.6f;
    state->right_margin = 0.7f;
    char *converted = nullptr;
    ASSERT_FALSE(psprint_drill_conv_format(state, "1,5,3,0.005,mtag_a;6,,1.5,2.25,mtag_b", &converted));
    EXPECT_STREQ(converted, "1,5,3.22,0.005,mtag_a;6,,1.12,3.15,mtag_b");
    sfree(converted);
}

TEST(PrintTrim, RemovesTrailingWhiteSpaceInPlace)
{
    for (auto [in, out] : {std::pair<const char *, const char *>{"abc  \t\n", "abc"}, {"  a b ", "  a b"}, {"", ""}, {" \r ", ""}}) {
        std::string text(in);
        EXPECT_STREQ(psprint_trim(text.data()), out);
    }
}

} // namespace
