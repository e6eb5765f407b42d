// The report sink of in-process tests of the run-time: fatal reports throw
// lumba_test::AbortError with the text the run-time would report, so a test can assert exact
// messages and go on; trappable errors and mails are recorded instead of being logged or sent.
// It is installed when the test program starts, before any test runs.
#include <cstring>
#include <string>
#include <vector>

#include "message.h"
#include "report_sink.h"
#include "test_host.h"

namespace {

void throwing_sink(const Report &report)
{
    switch (report.kind) {
    case ReportKind::fatal:
        throw lumba_test::AbortError(report.text);
    case ReportKind::system:
        throw lumba_test::AbortError(std::string(report.text) + ": " + std::strerror(report.error_number));
    case ReportKind::trappable:
        // The error's text is all the report holds; the error then unwinds to the trap.
        lumba_test::trapped_errors().push_back(report.text);
        error_vector_clear();
        error_vector_add(report.text);
        return;
    case ReportKind::mail:
    case ReportKind::debug:
        lumba_test::mailed().push_back(report.text);
        lumba_test::mail_reports().push_back({report.kind == ReportKind::debug,
                                              report.recipient ? report.recipient : SUPPORT_ADDRESS, report.text});
        return;
    }
}

const bool installed = (set_report_sink(throwing_sink), true);

} // namespace

std::vector<std::string> &lumba_test::trapped_errors()
{
    static std::vector<std::string> v;
    return v;
}

std::vector<std::string> &lumba_test::mailed()
{
    static std::vector<std::string> v;
    return v;
}

std::vector<lumba_test::MailedReport> &lumba_test::mail_reports()
{
    static std::vector<MailedReport> v;
    return v;
}
