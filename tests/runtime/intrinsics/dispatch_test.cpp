// Every intrinsic code through each of the three dispatchers: the code reaches the handler in
// its dispatcher's row, or ends in the dispatcher's default stop, the windows-mode refusal of
// background mode or the stop of a subsystem not built yet.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "hooks.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "message.h"
#include "numerics.h"
#include "recording_handlers.h"
#include "run_time.h"
#include "test_host.h"
#include "value_stack.h"

namespace {

// The intrinsics the table names but no dispatcher serves (EXECUTE and CHAIN are the executor's).
const std::set<std::string> without_case = {
    "EXECUTE", "CHAIN", "ICHECKVIRUS", "ILIST_CLONE", "IMAP_FOLDER_CREATE", "IMAP_FOLDER_DECLARE",
    "IMAP_FOLDER_DELETE", "IMAP_FOLDER_DESTROY", "IMAP_MAILBOX_DECLARE", "IMAP_MAILBOX_DESTROY",
    "VARIABLE.ARRAY.SIZE", "VARIABLE.EXISTS", "VARIABLE.LIST.LENGTH", "VARIABLE.LIST.SEARCH", "PATTERN.SUBST$",
    "VARIABLE.LIST.ITEM$", "VARIABLE.LIST.JOIN$", "VARIABLE.VALUE$", "NEWRUN#", "VARIABLE.DESTROY", "VARIABLE.GET",
    "VARIABLE.LIST.APPEND", "VARIABLE.LIST.INSERT", "VARIABLE.LIST.REMOVE", "VARIABLE.LIST.REPLACE",
    "VARIABLE.LIST.SORT", "VARIABLE.SET", "VARIABLE.SPLIT",
};

// Intrinsics refused in background mode.
const std::set<std::string> windows_only = {
    "ICCHECK_INDEX", "ICGET_ANYCHANGE", "ICGET_CURRENT_FOCUS", "ICGET_FIELD_DES_PTR", "ICGET_FIELD_ENABLED",
    "ICGET_FIELD_ENTRY_PTR", "ICGET_FIELD_PROMPT_NO", "ICGET_FIELD_PROMPT_PTR", "ICGET_FIELD_TAB_SEQ",
    "ICGET_FIELD_TYPE", "ICGET_FIELD_VALID", "ICGET_INDEX", "ICGET_LAST_INDEX", "ICGET_MODIFIED",
    "ICGET_PROGRAM_MODE", "ICGET_RETURN_FOCUS", "IGBUTTON_NEW", "IGBUTTON_NEW_EMPTY", "IGCHECKBOX_GET",
    "IGCHECKBOX_NEW", "IGCOMBO_NEW", "IGCOMBO_VALIDATE_SET", "IGDATE_NEW", "IGEBOX_NEW", "IGHBOX_NEW",
    "IGHBOX_NEW_OTHER", "IGHSEPARATOR_NEW", "IGIMAGE_NEW", "IGINPUT_NEW", "IGLABEL_NEW", "IGLABEL_SIMPLE_NEW",
    "IGMENU_SETUP", "IGNOTE_DELETE_BLOCK_TAG", "IGNOTE_GET_AMOUNT", "IGNOTE_GET_BLOCK_TAG", "IGNOTE_IS_WINDOW",
    "IGNOTE_NEW", "IGNOTE_PRINT_BLOCK_TAG", "IGRADIO_NEW", "IGSCROLLABLE_NEW", "IGSIZE_GROUP_NEW",
    "IGSOFTKEY_BOX", "IGTABLE_ADD_ROW", "IGTABLE_DELETE_ROW", "IGTABLE_NEW", "IGTABLE_UNATTACHED", "IGTEXT_NEW",
    "IGTOGGLE_NEW", "IGVBOX_NEW", "IGVSEPARATOR_NEW", "IGWGET_PARENT", "IGWIN_NEW", "IGZOOM_SETUP",
    "ICGET_FIELD_NAME$", "IGCOMBO_GET$", "IGMENU_KEY$",
    "ICINVOKE_DRILL_POST", "ICINVOKE_FETCH", "ICINVOKE_WIN_POST", "ICINVOKE_ZOOM_POST", "ICSET_ANYCHANGE",
    "ICSET_FIELD_DES_PTR", "ICSET_FIELD_ENABLED", "ICSET_FIELD_ENTRY_PTR", "ICSET_FIELD_NAME",
    "ICSET_FIELD_PROMPT_NO", "ICSET_FIELD_PROMPT_PTR", "ICSET_FIELD_TAB_SEQ", "ICSET_FIELD_TYPE",
    "ICSET_FIELD_VALID", "ICSET_MODIFIED", "ICSET_PROGRAM_MODE", "ICTABLE_BGCOLOUR_CELL_DEFAULT",
    "ICTABLE_BGCOLOUR_DISPLAY_TABLE", "ICTABLE_BGCOLOUR_ROW_DEFAULT", "ICTABLE_BGCOLOUR_SET_CELL",
    "ICTABLE_BGCOLOUR_SET_ROW", "ICTABLE_BGCOLOUR_SHOW", "IDISPLAY_CM", "IGBUTTON_ADD_LABEL", "IGCHECKBOX_SET",
    "IGCOMBO_SET", "IGCOMBO_TEXT_ADD", "IGDELETE_WIDGET", "IGDRILL", "IGDRILL_SETUP", "IGEBOX_ADD_LABEL",
    "IGFILECHOOSER_NEW", "IGHBOX_PACK", "IGHIDE", "IGIMAGECHOOSER_NEW", "IGIMAGE_PRINT", "IGLABEL_SETUP",
    "IGMENU_GET", "IGMENU_REFRESH", "IGMENU_RESET", "IGMENU_SET_BUTTONS", "IGMENU_SET_SHORTCUT", "IGNOTE_COLLAPSE",
    "IGNOTE_DELETE_AMOUNT", "IGNOTE_EXPAND", "IGNOTE_GET", "IGNOTE_PRINT", "IGNOTE_PRINT_AMOUNT", "IGPRINT",
    "IGPRINT_NOT_ESCAPED", "IGPROGRESS_CREATE", "IGPROGRESS_DESTROY", "IGPROGRESS_UPDATE", "IGSHOW",
    "IGSIZE_GROUP_ADD", "IGSIZE_GROUP_FINALISE", "IGTABLE_ATTACH", "IGTABLE_GET_CELL", "IGTK_MAIN",
    "IGTK_MAIN_ITERATION", "IGTOOLTIP_SET", "IGWHIDE", "IGWIDGET_SET_NAME", "IGWSHOW", "IGWSIMPLESHOW",
    "IGZOOM_RESET", "INOTE_APPEND_BLOCK_TAG", "INOTE_APPEND_TEXT",
};

using namespace recording;

const char *const default_stop[] = {"Bad real function intrinsic code - %d", "Bad string intrinsic code - %d",
                                    "Bad c-intrinsic code - %d"};

Dispatcher owner(int code)
{
    const SymType t = inbuilt[code].F_type;
    return t == IN_STRING_FN ? STRING : (t == IN_STATEMENT || t == IN_NUMERIC_STATEMENT) ? STATEMENT : NUMERIC;
}

bool served(int code, Dispatcher d) { return code < in_NULL && owner(code) == d && !without_case.count(inbuilt[code].F_name); }

std::string wrong_count(int code, int nargs)
{
    return std::string(inbuilt[code].F_name) + ": wrong number of arguments (" + std::to_string(nargs) + ")";
}

// The same with the fewest arguments the row takes.
std::string call(Dispatcher d, int code)
{
    for (int n = 0;; ++n) {
        std::string outcome = call_with(d, code, n);
        if (n == 19 || code < 0 || code >= IN_ROWS || outcome != wrong_count(code, n)) return outcome;
    }
}

std::string formatted(const char *format, int code)
{
    char text[80];
    std::snprintf(text, sizeof text, format, code);
    return text;
}

class Dispatch : public ::testing::Test {
protected:
    void TearDown() override { Back_ground = 0; }
};

} // namespace

TEST_F(Dispatch, EveryCodeReachesItsHandlerOrItsStop)
{
    ASSERT_EQ(without_case.size(), 28u);  // the 26 without an owner, EXECUTE and CHAIN
    // Every served row gets a recording handler; the rows are put back afterwards.
    NumericIntrinsic numeric[IN_ROWS] = {};
    StringIntrinsic strings[IN_ROWS] = {};
    StatementIntrinsic statements[IN_ROWS] = {};
    int served_count[3] = {};
    for (int code = 0; code < IN_ROWS; ++code) {
        if (served(code, NUMERIC)) numeric[code] = register_numeric_intrinsic(code, record_number), ++served_count[0];
        if (served(code, STRING)) strings[code] = register_string_intrinsic(code, record_text), ++served_count[1];
        if (served(code, STATEMENT))
            statements[code] = register_statement_intrinsic(code, record_statement), ++served_count[2];
    }
    EXPECT_EQ(served_count[0], 178 - 13);  // EXECUTE is numeric
    EXPECT_EQ(served_count[1], 70 - 4);
    EXPECT_EQ(served_count[2], 140 - 11);  // CHAIN is a statement

    for (int background = 0; background <= 1; ++background) {
        Back_ground = background;
        for (int code = -1; code <= IN_ROWS; ++code)
            for (Dispatcher d : {NUMERIC, STRING, STATEMENT}) {
                std::string expected = formatted(default_stop[d], code);
                if (code >= 0 && code < IN_ROWS && served(code, d)) {
                    std::string name = inbuilt[code].F_name;
                    expected = "handler";
                    if (background && windows_only.count(name)) {
                        if (name.back() == '$') name.pop_back();
                        expected = name + ": not in windows mode";
                    }
                }
                EXPECT_EQ(call(d, code), expected) << "code " << code << " dispatcher " << d << " background " << background;
            }
    }

    for (int code = 0; code < IN_ROWS; ++code) {
        if (served(code, NUMERIC)) register_numeric_intrinsic(code, numeric[code]);
        if (served(code, STRING)) register_string_intrinsic(code, strings[code]);
        if (served(code, STATEMENT)) register_statement_intrinsic(code, statements[code]);
    }
}

TEST_F(Dispatch, IntrinsicsOfSubsystemsNotBuiltStopClearly)
{
    struct {
        Dispatcher d;
        int code;
        int background;
        const char *stop;
    } cases[] = {
        {NUMERIC, in_IGINPUT_NEW, 1, "IGINPUT_NEW: not in windows mode"},
        {STRING, in_IGMENU_KEY, 1, "IGMENU_KEY: not in windows mode"},
        {STATEMENT, in_IGTK_MAIN, 1, "IGTK_MAIN: not in windows mode"},
        // Registered by the notes, for windows mode only: their own argument checks answer there.
        {NUMERIC, in_IGNOTE_GET_BLOCK_TAG, 0, "ignote_get_block_tag must have four parameters"},
        {NUMERIC, in_IGNOTE_PRINT_BLOCK_TAG, 0, "ignote_print_block_tag must have four parameters"},
        {NUMERIC, in_IGNOTE_PRINT_BLOCK_TAG, 1, "IGNOTE_PRINT_BLOCK_TAG: not in windows mode"},
        {NUMERIC, in_IGNOTE_DELETE_BLOCK_TAG, 0, "ignote_delete_block_tag must have one parameter"},
        // Registered by the documents library and served in background mode too: its own
        // argument check answers.
        {NUMERIC, in_ISBRXMLPARSE, 0, "ISBRXMLPARSE called with wrong number of arguments (0)"},
        {NUMERIC, in_ISBRXMLPARSE, 1, "ISBRXMLPARSE called with wrong number of arguments (0)"},
        {STATEMENT, in_IGDRILL, 0, "This procedure is no longer in use"},
        // Its nine arguments are read first: blank ones are no numbers (the stop names the
        // intrinsic, as the executor names it while it runs).
        {STATEMENT, in_IGDRILL_SETUP, 0, "IGDRILL_SETUP: numeric argument expected"},
    };
    for (const auto &c : cases) {
        Back_ground = c.background;
        EXPECT_EQ(call(c.d, c.code), c.stop) << inbuilt[c.code].F_name;
    }
}

// A case never reads an argument that is not there: a call with a count its row does not take is
// refused before the case runs, whatever handler the row holds.
TEST_F(Dispatch, ArgumentCountsAreCheckedBeforeTheCaseRuns)
{
    struct {
        Dispatcher d;
        int code;
        int fewest, most;  // the counts taken; -1: any number
    } cases[] = {
        {STATEMENT, in_PUTENV, 2, 2},     {STATEMENT, in_SETEXIT, 2, 2},   {STATEMENT, in_SETMAN, 2, 2},
        {STATEMENT, in_USER_INFO, 2, 2},  {STATEMENT, in_LOG_ERROR, 9, 9}, {STATEMENT, in_LOG_DEBUG, 1, 1},
        {STATEMENT, in_ABORT, 1, 1},      {STATEMENT, in_CHG_ROOT, 1, -1}, {STATEMENT, in_SLEEP, 1, 1},
        {NUMERIC, in_LFN_FILE, 2, 2},     {NUMERIC, in_ABS, 1, 1},         {NUMERIC, in_MAXIMUM, 1, -1},
        {NUMERIC, in_POS, 2, 2},          {NUMERIC, in_ARGC, 0, 0},        {NUMERIC, in_ILIST_INSERT, 3, 3},
        {NUMERIC, in_ILIST_SORT, 1, 2},   {STRING, in_STR, 1, 1},          {STRING, in_TAB, 0, 1},
        {STRING, in_LOOKUP_STRING, 2, -1}, {STRING, in_VARADR, 1, 1},      {STRING, in_ILIST_SFETCH, 2, 2},
    };
    for (const auto &c : cases) {
        NumericIntrinsic n = c.d == NUMERIC ? register_numeric_intrinsic(c.code, record_number) : nullptr;
        StringIntrinsic s = c.d == STRING ? register_string_intrinsic(c.code, record_text) : nullptr;
        StatementIntrinsic t = c.d == STATEMENT ? register_statement_intrinsic(c.code, record_statement) : nullptr;
        for (int nargs = 0; nargs <= 12; ++nargs) {
            const bool taken = nargs >= c.fewest && (c.most < 0 || nargs <= c.most);
            EXPECT_EQ(call_with(c.d, c.code, nargs), taken ? "handler" : wrong_count(c.code, nargs))
                << inbuilt[c.code].F_name << " with " << nargs;
        }
        if (n) register_numeric_intrinsic(c.code, n);
        if (s) register_string_intrinsic(c.code, s);
        if (t) register_statement_intrinsic(c.code, t);
    }
}

TEST_F(Dispatch, StructureOperationsReachTheirHandlers)
{
    // The handlers check their arguments first: a call without any shows it reached them.
    struct {
        Dispatcher d;
        int code;
        const char *stop;
    } cases[] = {
        {NUMERIC, in_COPYSTRUCT, "COPYSTRUCT called with wrong number of arguments (0)"},
        {NUMERIC, in_COPYTOTEXT, "COPYTOTEXT called with wrong number of arguments (0)"},
        {NUMERIC, in_ISTRUCTEQ, "ISTRUCTEQ called with wrong number of arguments (0)"},
        {STATEMENT, in_ISTRUCT_DUMP, "ISTRUCT_DUMP called with wrong number of arguments (0)"},
    };
    for (const auto &c : cases) EXPECT_EQ(call(c.d, c.code), c.stop) << inbuilt[c.code].F_name;
}

TEST_F(Dispatch, FramesSetTheResultEntry)
{
    NumericIntrinsic n = register_numeric_intrinsic(in_ABS, record_number);
    StringIntrinsic s = register_string_intrinsic(in_STR, record_text);
    Stack result{};
    result.s_t = string;
    result.flags = stk_ref;
    Stack argument[1] = {};
    Stack *saved = Stk;
    Stk = argument;
    current = in_ABS;
    r_intrins(&result, in_ABS, 1, 0);
    EXPECT_EQ(result.s_t, real);
    EXPECT_EQ(result.flags, 0);
    EXPECT_EQ(result.s_c.C_N, &result.num);
    result = Stack{};
    result.s_dims[1] = 9;
    current = in_STR;
    s_intrins(&result, in_STR, 1, 0);
    Stk = saved;
    EXPECT_EQ(result.s_t, string);
    EXPECT_EQ(result.s_dims[0], 3u);
    EXPECT_EQ(result.s_dims[1], 0u);
    register_numeric_intrinsic(in_ABS, n);
    register_string_intrinsic(in_STR, s);

    // Before its case runs a string result is the intrinsic itself; a case that makes no text
    // leaves it so.
    static Stack seen;
    s = register_string_intrinsic(in_STR, [](int, int, Stack *r) { seen = *r; });
    result = Stack{};
    Stk = argument;
    s_intrins(&result, in_STR, 1, 0);
    Stk = saved;
    register_string_intrinsic(in_STR, s);
    EXPECT_EQ(seen.s_t, intrinsic);
    EXPECT_EQ(seen.s_c.C_A, static_cast<Address>(in_STR));
    EXPECT_EQ(result.s_t, intrinsic);
    EXPECT_EQ(result.s_c.C_A, static_cast<Address>(in_STR));
}

// The rows whose handlers only read their texts, which the executor may hand a string variable's
// text in place; a handler put into a row through the seam is not taken to be one of them, and the
// owner's handler put back is again.
TEST_F(Dispatch, OnlyRowsThatReadTheirTextsTakeThemInPlace)
{
    const std::set<int> marked = {in_LEN, in_FLEN, in_LLEN, in_LSTRIP, in_STRIP};
    const bool *rows = text_only_rows();
    for (int code = -1; code <= IN_ROWS; ++code) {
        EXPECT_EQ(reads_text_only(code), marked.count(code) == 1) << code;
        if (code >= 0 && code < IN_ROWS) {
            EXPECT_EQ(rows[code], reads_text_only(code)) << inbuilt[code].F_name;
        }
    }
    NumericIntrinsic n = register_numeric_intrinsic(in_FLEN, record_number);
    StringIntrinsic s = register_string_intrinsic(in_STRIP, record_text);
    EXPECT_FALSE(reads_text_only(in_FLEN));
    EXPECT_FALSE(reads_text_only(in_STRIP));
    EXPECT_TRUE(reads_text_only(in_LEN));
    register_numeric_intrinsic(in_FLEN, n);
    register_string_intrinsic(in_STRIP, s);
    EXPECT_TRUE(reads_text_only(in_FLEN));
    EXPECT_TRUE(reads_text_only(in_STRIP));
}

// The rows through which the executor calls a function intrinsic without its dispatcher: a call
// comes straight to a handler only when the dispatcher would run that handler for it, in either
// mode, whatever handler the row holds; any other call goes to the dispatcher and its stop.
TEST_F(Dispatch, CallsComeStraightOnlyWhereTheDispatcherRunsTheHandler)
{
    const DirectIntrinsic *rows = direct_rows();
    const auto straight = [&](Dispatcher d, int code, int nargs) {
        const DirectIntrinsic &row = rows[code];
        return row.takes_call(d == STRING, nargs) ? row.handler : nullptr;
    };
    int straight_calls = 0;
    for (int code = 0; code < IN_ROWS; ++code) {
        const std::string name = inbuilt[code].F_name;
        for (Dispatcher d : {NUMERIC, STRING}) {
            const bool function = served(code, d);
            NumericIntrinsic owner = nullptr;
            if (function) owner = d == NUMERIC ? register_numeric_intrinsic(code, record_number)
                                               : register_string_intrinsic(code, record_text);
            NumericIntrinsic recorder = d == NUMERIC ? record_number : record_text;
            // A windows-only row's calls always go to the dispatcher, which knows the mode.
            const bool may = !windows_only.count(name);
            for (int background : {0, 1}) {
                Back_ground = background;
                for (int nargs = 0; nargs <= 12; ++nargs) {
                    const bool runs = call_with(d, code, nargs) == "handler";
                    EXPECT_EQ(straight(d, code, nargs), runs && may ? recorder : nullptr) << name << " with " << nargs;
                    straight_calls += runs && may;
                }
                EXPECT_EQ(straight(d, code, 64), nullptr) << name;
            }
            Back_ground = 0;
            if (!function) continue;
            // No handler: every call goes to the dispatcher's "not available".
            if (d == NUMERIC) register_numeric_intrinsic(code, nullptr);
            if (d == STRING) register_string_intrinsic(code, nullptr);
            for (int nargs = 0; nargs < 64; ++nargs) EXPECT_EQ(straight(d, code, nargs), nullptr) << name;
            if (d == NUMERIC) register_numeric_intrinsic(code, owner);
            if (d == STRING) register_string_intrinsic(code, owner);
            if (owner && !windows_only.count(name)) {
                EXPECT_EQ(rows[code].handler, owner) << name;
                EXPECT_STREQ(rows[code].name, name.c_str());
            }
        }
    }
    EXPECT_GT(straight_calls, 100);
    // Through the other kind's call or past the rows, never.
    EXPECT_EQ(straight(STRING, in_LEN, 1), nullptr);
    EXPECT_EQ(straight(NUMERIC, in_STR, 1), nullptr);
    EXPECT_EQ(straight(NUMERIC, in_EXECUTE, 1), nullptr);
}

TEST(DispatchDeath, RowsWithoutCaseCannotBeRegistered)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(register_string_intrinsic(in_PATTERN_SUBST, record_text),
                 "PATTERN.SUBST\\$ is not a string intrinsic that the dispatcher serves");
    EXPECT_DEATH(register_numeric_intrinsic(in_STR, record_number), "STR\\$ is not a numeric intrinsic");
    EXPECT_DEATH(register_statement_intrinsic(in_CHAIN, record_statement), "CHAIN is not a statement intrinsic");
}
