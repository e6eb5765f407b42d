// The test host of the library tests: Abort throws AbortError carrying the formatted text, and
// Load_buffer serves an in-memory object file block by block.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumba_test {

struct AbortError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Core tests (test_report_sink.cpp): the texts of the trappable errors raised and of the reports mailed.
std::vector<std::string> &trapped_errors();
std::vector<std::string> &mailed();

// The same mails with their recipients: Email's (the support address when it named none) and
// Debug's (always the database-transaction address).
struct MailedReport {
    bool debug;             // made by Debug, else by Email
    std::string recipient;
    std::string text;
};
std::vector<MailedReport> &mail_reports();

// Makes Load_buffer serve text in blocks of block bytes, starting with the first block.
void feed_object(const std::string &text, std::size_t block = 2048);

// The text Abort was called with, or "" when statement did not abort.
template <class F> std::string abort_text(F &&statement)
{
    try {
        statement();
    } catch (const AbortError &e) {
        return e.what();
    }
    return "";
}

} // namespace lumba_test
