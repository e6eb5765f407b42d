// Intrinsic rows registered by the test itself, in a program that links the intrinsics library
// alone: no forms or widgets library registers the codes used here, so what the dispatchers do
// with them comes from the test's rows only. The background-mode refusal and the argument counts
// follow each row, and a row that would make a second one for a code is refused at registration.
#include <gtest/gtest.h>

#include <string>

#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "numerics.h"
#include "recording_handlers.h"
#include "run_time.h"
#include "test_host.h"
#include "value_stack.h"

namespace {

using namespace recording;

// Codes that the full run-time gives to the forms engine and the widgets, with the opposite flag
// or none: IGWIN_NEW and IGMENU_KEY$ are windows-only there, ICADD, ICCLEAR, IGMESSAGE and
// ICSHOW_ALL are not.
constexpr IntrinsicRow test_rows[] = {
    {in_ICADD, record_number, ANY_COUNT, WINDOWS_ONLY},
    {in_IGWIN_NEW, record_number},
    {in_IGMENU_KEY, record_text, exactly(1), WINDOWS_ONLY},
    {in_IGMESSAGE, record_statement, ANY_COUNT, WINDOWS_ONLY},
    {in_ICCLEAR, {}, ANY_COUNT, WINDOWS_ONLY},  // reserved: the flag without a handler
    {in_ICSHOW_ALL, record_statement, exactly(2)},
};

class Rows : public ::testing::Test {
protected:
    static void SetUpTestSuite() { register_intrinsic_rows(test_rows); }
    void TearDown() override { Back_ground = 0; }
};

} // namespace

TEST_F(Rows, BackgroundRefusalFollowsTheRowFlag)
{
    struct {
        Dispatcher d;
        int code;
        int nargs;
        const char *foreground, *background;
    } cases[] = {
        {NUMERIC, in_ICADD, 11, "handler", "ICADD: not in windows mode"},
        {NUMERIC, in_IGWIN_NEW, 0, "handler", "handler"},
        {STRING, in_IGMENU_KEY, 1, "handler", "IGMENU_KEY: not in windows mode"},
        // The refusal comes before the count is looked at.
        {STRING, in_IGMENU_KEY, 3, "IGMENU_KEY$: wrong number of arguments (3)", "IGMENU_KEY: not in windows mode"},
        {STATEMENT, in_IGMESSAGE, 2, "handler", "IGMESSAGE: not in windows mode"},
        {STATEMENT, in_ICCLEAR, 1, "ICCLEAR not available", "ICCLEAR: not in windows mode"},
        {STATEMENT, in_ICSHOW_ALL, 2, "handler", "handler"},
        {STATEMENT, in_ICSHOW_ALL, 1, "ICSHOW_ALL: wrong number of arguments (1)",
         "ICSHOW_ALL: wrong number of arguments (1)"},
        // Served codes that no row names: neither refused nor reached.
        {NUMERIC, in_IGBUTTON_NEW, 0, "IGBUTTON_NEW not available", "IGBUTTON_NEW not available"},
        // The notes own this one and give it the flag; this program does not link them.
        {NUMERIC, in_IGNOTE_DELETE_BLOCK_TAG, 0, "IGNOTE_DELETE_BLOCK_TAG not available",
         "IGNOTE_DELETE_BLOCK_TAG not available"},
    };
    for (const auto &c : cases)
        for (int background : {0, 1}) {
            Back_ground = background;
            EXPECT_EQ(call_with(c.d, c.code, c.nargs), background ? c.background : c.foreground)
                << inbuilt[c.code].F_name << " with " << c.nargs << (background ? " in background" : "");
        }
}

// Installing another handler (the seam tests use) keeps the row's flag and counts.
TEST_F(Rows, AnotherHandlerKeepsTheFlagAndCounts)
{
    const StatementIntrinsic kept = register_statement_intrinsic(in_ICSHOW_ALL, record_statement);
    const NumericIntrinsic numeric = register_numeric_intrinsic(in_ICADD, record_number);
    EXPECT_EQ(kept, record_statement);
    EXPECT_EQ(numeric, record_number);
    Back_ground = 1;
    EXPECT_EQ(call_with(NUMERIC, in_ICADD, 11), "ICADD: not in windows mode");
    EXPECT_EQ(call_with(STATEMENT, in_ICSHOW_ALL, 3), "ICSHOW_ALL: wrong number of arguments (3)");
    register_statement_intrinsic(in_ICSHOW_ALL, kept);
    register_numeric_intrinsic(in_ICADD, numeric);
}

TEST(RowsDeath, FaultyRowsEndTheStartUp)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // A second row for a code: the library's own, or the test's once registered.
    constexpr IntrinsicRow abs_again[] = {{in_ABS, record_number, exactly(1)}};
    EXPECT_DEATH(register_intrinsic_rows(abs_again), "register_intrinsic_rows: ABS has a row already");
    constexpr IntrinsicRow twice[] = {{in_ICREMOVE, record_statement},
                                      {in_ICREMOVE, record_statement, ANY_COUNT, WINDOWS_ONLY}};
    EXPECT_DEATH(register_intrinsic_rows(twice), "register_intrinsic_rows: ICREMOVE has a row already");
    // A code reserved by a row without a handler, and its owner's row after it.
    constexpr IntrinsicRow reserved[] = {{in_IGNOTE_GET_BLOCK_TAG, {}, ANY_COUNT, WINDOWS_ONLY}};
    constexpr IntrinsicRow reserved_again[] = {{in_IGNOTE_GET_BLOCK_TAG, record_number, ANY_COUNT, WINDOWS_ONLY}};
    EXPECT_DEATH(
        {
            register_intrinsic_rows(reserved);
            register_intrinsic_rows(reserved_again);
        },
        "register_intrinsic_rows: IGNOTE_GET_BLOCK_TAG has a row already");
    // A code without a case, and a handler of the other kind.
    constexpr IntrinsicRow without_case[] = {{in_PATTERN_SUBST, record_number}};
    EXPECT_DEATH(register_intrinsic_rows(without_case),
                 "register_intrinsic_rows: PATTERN.SUBST\\$ is not an intrinsic that a dispatcher serves");
    constexpr IntrinsicRow wrong_kind[] = {{in_IGHIDE, record_number}};
    EXPECT_DEATH(register_intrinsic_rows(wrong_kind),
                 "register_intrinsic_rows: the handler of IGHIDE is not a statement handler");
    constexpr IntrinsicRow wrong_kind_value[] = {{in_ICGET_INDEX, record_statement}};
    EXPECT_DEATH(register_intrinsic_rows(wrong_kind_value),
                 "register_intrinsic_rows: the handler of ICGET_INDEX is not a numeric handler");
    // A count beside a handler not known to read one text only.
    constexpr TextMeasure count = [](std::string_view text) { return static_cast<long>(text.size()); };
    constexpr IntrinsicRow count_of_any[] = {{in_ICGET_INDEX, record_number, exactly(1), false, false, count}};
    EXPECT_DEATH(register_intrinsic_rows(count_of_any),
                 "register_intrinsic_rows: the count of ICGET_INDEX needs a numeric row that reads one text only");
    constexpr IntrinsicRow count_of_two[] = {{in_ICGET_INDEX, record_number, exactly(2), false, READS_TEXT_ONLY, count}};
    EXPECT_DEATH(register_intrinsic_rows(count_of_two),
                 "register_intrinsic_rows: the count of ICGET_INDEX needs a numeric row that reads one text only");
}
