// The report sink: what each error call hands it and how control goes on afterwards. (A sink
// that returns from a fatal report is overruled: core_probe's "ReturningSink" in finish_test.)
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "message.h"
#include "report_sink.h"
#include "run_time.h"
#include "test_host.h"

namespace {

struct Seen {
    ReportKind kind;
    std::string text;
    std::string recipient;
    int error_number;
};
Seen seen;

void recording_sink(const Report &r)
{
    seen = {r.kind, r.text, r.recipient ? r.recipient : "", r.error_number};
    if (r.kind == ReportKind::fatal) throw lumba_test::AbortError(r.text);
}

// Installs a sink for one test and puts the previous one back.
class ReportSinkTest : public ::testing::Test {
protected:
    void SetUp() override { previous = set_report_sink(recording_sink); }
    void TearDown() override { set_report_sink(previous); }
    ReportSink previous = nullptr;
};

} // namespace

TEST_F(ReportSinkTest, EachCallHandsItsKindTextAndGoesOnAsItMust)
{
    enum Then { THROWS_ABORT, BAILS_OUT, RETURNS };
    struct {
        const char *name;
        std::function<void()> call;
        ReportKind kind;
        std::string text, recipient;
        int error_number;
        Then then;
        int errors_counted;
    } cases[] = {
        {"Abort", [] { Abort("fatal %d", 1); }, ReportKind::fatal, "fatal 1", "", 0, THROWS_ABORT, 0},
        {"Xerror other", [] { Xerror(200, "wrong %s", "count"); }, ReportKind::fatal, "wrong count", "", 0,
         THROWS_ABORT, 0},
        {"Xerror 110", [] { Xerror(TRAPPABLE_ERROR, "trap %d", 7); }, ReportKind::trappable, "trap 7", "", 0,
         BAILS_OUT, 1},
        {"Syserr", [] { errno = ENOENT; Syserr("open %s", "x"); }, ReportKind::system, "open x", "", ENOENT,
         BAILS_OUT, 1},
        {"Email", [] { Email(SUPPORT_ADDRESS, "mail %d", 2); }, ReportKind::mail, "mail 2", SUPPORT_ADDRESS, 0,
         RETURNS, 0},
        {"Debug", [] { Debug("debug %s", "text"); }, ReportKind::debug, "debug text", DB_TRANSACTION_ADDRESS, 0,
         RETURNS, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        seen = {};
        const int errors_before = n_errors;
        Then then = RETURNS;
        try {
            c.call();
        } catch (const lumba_test::AbortError &) {
            then = THROWS_ABORT;
        } catch (const BailOut &) {
            then = BAILS_OUT;
        }
        EXPECT_EQ(then, c.then);
        EXPECT_EQ(seen.kind, c.kind);
        EXPECT_EQ(seen.text, c.text);
        EXPECT_EQ(seen.recipient, c.recipient);
        EXPECT_EQ(seen.error_number, c.error_number);
        EXPECT_EQ(n_errors - errors_before, c.errors_counted);
    }
    EXPECT_EQ(ERR_REG, TRAPPABLE_ERROR);
}

TEST_F(ReportSinkTest, LongMessagesArriveWhole)
{
    const std::string text(3 * ERROR_TEXT_SIZE, 'x');
    EXPECT_EQ(lumba_test::abort_text([&] { Abort("%s", text.c_str()); }), text);
}

TEST_F(ReportSinkTest, InstallingReturnsThePreviousAndNullRestoresTheRunTimes)
{
    EXPECT_EQ(set_report_sink(nullptr), recording_sink);
    EXPECT_EQ(set_report_sink(recording_sink), standard_report);
}
