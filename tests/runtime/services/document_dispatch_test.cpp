// The rows of the documents, the video frames and the file server reach their handlers; and every
// row of the database and directory services has a handler in its dispatcher, so none of them
// stops with "<NAME> not available".
#include <gtest/gtest.h>

#include <string_view>

#include "intrinsic_call.h"

using lumba_test::IntrinsicOutcome;

TEST(DocumentDispatch, TheRowsReachTheirHandlers)
{
    // Called without arguments, each answers with its own handler's count check.
    struct {
        int code;
        bool string_row;
    } rows[] = {{in_IDOC_FETCH, false}, {in_IDOC_STORE, false}, {in_IPQVIDEOFRAMES, false}, {in_IMFILER, true}};
    for (const auto &row : rows) {
        IntrinsicOutcome call;
        const std::string answer = row.string_row ? call.text(row.code, {}) : call.number(row.code, {});
        EXPECT_EQ(answer, std::string("stop: ") + inbuilt[row.code].F_name + " called with wrong number of arguments (0)");
    }
}

TEST(DocumentDispatch, EveryDatabaseAndDirectoryRowHasItsHandler)
{
    // The rows are looked at, not called: each handler is taken out of its row and put back.
    auto database_or_directory = [](std::string_view name) {
        for (std::string_view prefix : {"IPQ", "ILDAP_", "IAES_", "ICERT_", "IDOC_"})
            if (name.substr(0, prefix.size()) == prefix) return true;
        return name == "IMFILER$";
    };
    int rows = 0;
    for (int code = 0; code < in_NULL; ++code) {
        if (!database_or_directory(inbuilt[code].F_name)) continue;
        ++rows;
        bool handled = false;
        switch (inbuilt[code].F_type) {
        case IN_STRING_FN: {
            const StringIntrinsic h = register_string_intrinsic(code, nullptr);
            register_string_intrinsic(code, h);
            handled = h != nullptr;
            break;
        }
        case IN_STATEMENT:
        case IN_NUMERIC_STATEMENT: {
            const StatementIntrinsic h = register_statement_intrinsic(code, nullptr);
            register_statement_intrinsic(code, h);
            handled = h != nullptr;
            break;
        }
        default: {
            const NumericIntrinsic h = register_numeric_intrinsic(code, nullptr);
            register_numeric_intrinsic(code, h);
            handled = h != nullptr;
        }
        }
        EXPECT_TRUE(handled) << inbuilt[code].F_name;
    }
    EXPECT_EQ(rows, 60);
}
