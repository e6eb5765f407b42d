// The AES and certificate API rows of the dispatchers reach their handlers: called with a wrong
// argument count, each answers with its own handler's stop, never "<NAME> not available".
#include <gtest/gtest.h>

#include "intrinsic_call.h"

using lumba_test::IntrinsicOutcome;
using lumba_test::args::str;

TEST(ServicesDispatch, AesAndCertificateRowsReachTheirHandlers)
{
    struct {
        int code;
        bool string_row;
        std::string stop;
    } rows[] = {
        {in_IAES_ENCRYPT, true, "Invalid number of parameteres"},
        {in_IAES_DECRYPT, true, "Invalid number of parameteres"},
        {in_ICERT_APPROVE, false, "icert_approve: Wrong Argument Count!"},
        {in_ICERT_LIST, false, "icert_list: Wrong Argument Count!"},
        {in_ICERT_REJECT, false, "icert_reject: Wrong Argument Count!"},
        {in_ICERT_REVOKE, false, "icert_revoke: Wrong Argument Count!"},
    };
    for (const auto &row : rows) {
        IntrinsicOutcome call;
        const std::string answer =
            row.string_row ? call.text(row.code, {str("a"), str("b")}) : call.number(row.code, {});
        EXPECT_EQ(answer, "stop: " + row.stop) << inbuilt[row.code].F_name;
    }
    // And with the right count they do their work.
    IntrinsicOutcome call;
    const std::string form = call.text(in_IAES_ENCRYPT, {str("hello")});
    EXPECT_EQ(form, "w+DKwHLSpsNwCxCeglwKbQ==?kuoZ6Zs=");
    EXPECT_EQ(call.text(in_IAES_DECRYPT, {str(form)}), "hello");
}
