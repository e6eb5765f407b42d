// Programs calling intrinsics run by the real lumba_run in background mode: the dispatchers' stops
// and a spread of intrinsics whose results the program writes to the log.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "program_text.h"
#include "run_time.h"
#include "site.h"
#include "stack.h"
#include "test_host.h"
#include "zasm_run.h"

using lumba_test::Site;

namespace {

using lumba_test::call;
using lumba_test::num;
using lumba_test::str;
std::string main_proc(const std::string &body)
{
    return ".proc r:main I:0 I:0 I:2 I:0 I:0 I:0\nsrcline I:3 I:0\n" + body + "exit\n";
}

// A call of an intrinsic whose dispatcher row has no handler yet: its program text and the stop.
struct EmptyRow {
    std::string body, message;
};

// The first intrinsic of a function or statement row that runs without windows and has no
// handler yet, as lumba_run (whose libraries this program links) has it; none when every row has
// its handler. Found in-process by calling each row with -1 arguments in background mode: the
// dispatcher's own stops (no case, no windows, no handler) come before the argument count, so no
// handler ever runs.
std::optional<EmptyRow> first_empty_row()
{
    struct Background {
        Background() { Back_ground = 1; }
        ~Background() { Back_ground = 0; }
    } background;
    for (int code = 0; code < in_NULL; ++code) {
        const SymType type = inbuilt[code].F_type;
        const char *op = type == IN_NUMERIC_FN ? "ifcallr" : type == IN_STRING_FN ? "ifcalls"
                                                            : type == IN_STATEMENT ? "ipcall" : nullptr;
        if (!op) continue;
        Stack result{};
        const std::string stop = lumba_test::abort_text([&] {
            if (type == IN_NUMERIC_FN) r_intrins(&result, code, -1, -2);
            if (type == IN_STRING_FN) s_intrins(&result, code, -1, -2);
            if (type == IN_STATEMENT) c_intrins(code, -1, -2);
        });
        const std::string message = std::string(inbuilt[code].F_name) + " not available";
        if (stop == message) return EmptyRow{call(op, code, 0), message};
    }
    return std::nullopt;
}

} // namespace

TEST(RunIntrinsics, ARowWithoutItsHandlerEndsTheRun)
{
    const std::optional<EmptyRow> row = first_empty_row();
    if (!row) GTEST_SKIP() << "every intrinsic that runs without windows has its handler";
    Site site;
    site.install_program("empty", main_proc(row->body));
    auto r = site.lumba({"-b", "empty", "0"});
    EXPECT_EQ(r.status, 1) << row->message << "\n" << r.err;
    EXPECT_EQ(lumba_test::report_message(r.err), row->message) << r.err;
}

TEST(RunIntrinsics, DispatcherStopsEndTheRun)
{
    struct {
        const char *name;
        std::string body;
        std::string message;
    } cases[] = {
        {"window", str("a") + call("ifcallr", in_IGWIN_NEW, 1), "IGWIN_NEW: not in windows mode"},
        {"varset", str("a") + str("b") + call("ipcall", in_VARIABLE_SET, 2), "Bad c-intrinsic code - 383"},
        {"subst", str("a") + call("ifcalls", in_PATTERN_SUBST, 1), "Bad string intrinsic code - 352"},
        {"clone", num("1") + call("ifcallr", in_ILIST_CLONE, 1), "Bad real function intrinsic code - " + std::to_string(in_ILIST_CLONE)},
        {"addkey", num("1") + num("2") + num("3") + num("4") + call("ipcall", in_ADDKEY, 4), "ADDKEY: No DISAM available"},
        {"nkeys", num("1") + call("ifcallr", in_NKEYS, 1), "NKEYS: No DISAM available"},
        {"noteamount", num("1") + call("ifcallr", in_IGNOTE_GET_AMOUNT, 1), "IGNOTE_GET_AMOUNT: not in windows mode"},
        {"abort", str("stopped by the program") + call("ipcall", in_ABORT, 1), "stopped by the program"},
    };
    Site site;
    for (const auto &c : cases) {
        site.install_program(c.name, main_proc(c.body));
        auto r = site.lumba({"-b", c.name, "0"});
        EXPECT_EQ(r.status, 1) << c.name << "\n" << r.err;
        EXPECT_EQ(lumba_test::report_message(r.err), c.message) << c.name << "\n" << r.err;
    }
}

TEST(RunIntrinsics, ProgramLogsItsResults)
{
    // IMLOG of STR$ of arithmetic, a list round trip and a text filter, at program log level 1.
    const std::string body =
        num("1") + num("-2.5") + call("ifcallr", in_ABS, 1) + call("ifcalls", in_STR, 1) + call("ipcall", in_IMLOG, 2) +
        str("char") + call("ifcallr", in_ILIST_DECLARE, 1) + "storrd I:0 I:1 I:0 I:0 I:0\n" +
        "loadrvd I:0 I:1 I:0 I:0 I:0\n" + str("listed") + call("ifcallr", in_ILIST_ADD, 2) +
        "storrd I:1 I:1 I:0 I:0 I:0\n" + num("1") + "loadrvd I:0 I:1 I:0 I:0 I:0\n" + num("1") +
        call("ifcalls", in_ILIST_SFETCH, 2) + call("ipcall", in_IMLOG, 2) + num("1") + str("it\\x27s a\\\\b") +
        call("ifcalls", in_IFNPQFILTER, 1) + call("ipcall", in_IMLOG, 2) + num("1") + num("4") + str("done") +
        call("ipcall", in_SETEXIT, 2) + str("") + call("ipcall", in_IMLOG_PUSH_STATS, 1);
    Site site;
    site.install_program("logs", main_proc(body));
    auto r = site.lumba({"-b", "-v", "1", "logs", "0"});
    EXPECT_EQ(r.status, 4) << r.err;
    for (const char *line : {"B 2.5\n", "B listed\n", "B it''s a b\n"})
        EXPECT_NE(r.err.find(line), std::string::npos) << line << " in\n" << r.err;
}

TEST(RunIntrinsics, LogErrorReportsAndEndsWithStatusOne)
{
    std::string body;
    for (const char *part : {"Heading", "prog", "7", "label", "table", "/data", "fn", "meaning", "the message"})
        body += str(part);
    body += call("ipcall", in_LOG_ERROR, 9) + str("not reached") + call("ipcall", in_ABORT, 1);
    Site site;
    site.install_program("logerr", main_proc(body));
    auto r = site.lumba({"-b", "logerr", "0"});
    EXPECT_EQ(r.status, 1) << r.err;
    for (const char *line : {"Heading\n", "** E R R O R ** This information will be emailed to Oska.\n", "Program:  prog\n",
                             "Issue:    7\n", "Label:    label\n", "Table:    table\n", "Datapath: /data\n",
                             "Function Name: fn\n", "Meaning:  meaning\n", "Message:  the message\n"})
        EXPECT_NE(r.err.find(line), std::string::npos) << line << " in\n" << r.err;
    EXPECT_EQ(r.err.find("not reached"), std::string::npos) << r.err;
}

TEST(RunIntrinsics, SampleProgramLogsItsSum)
{
    Site site;
    site.install_example("hello");
    auto r = site.lumba({"-b", "-v", "0", "hello", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("B TOTAL = 170.4\n"), std::string::npos) << r.err;
}

TEST(RunIntrinsics, InvoiceSamplePrintsItsAmountsInColumns)
{
    // EDIT$ pictures for quantities and prices, CPMEDZ$ and CPMED$ columns for the amounts.
    Site site;
    site.install_example("invoice");
    auto r = site.lumba({"-b", "invoice", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lumba_test::report_message(r.err), "") << r.err;
    EXPECT_EQ(r.out,
              "Item             Qty Unit price        Amount\n"
              "Widget             3      12.50         37.50 \n"
              "Server rack        2   1,249.00      2,498.00 \n"
              "Support hours     12      85.00      1,020.00 \n"
              "Shipping           1       0.00            -- \n"
              "Discount           1    -250.00        250.00-\n"
              "Net                                  3,305.50 \n"
              "VAT 20%                                661.10 \n"
              "Total                                3,966.60 \n");
}
