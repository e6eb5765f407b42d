// Test intrinsics: handlers a test program installs in the run-time's dispatcher rows for all its
// tests (the rows keep their argument counts and windows-only flag). The handlers they replace are
// put back when the tests end.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>
#include <vector>

#include "intrinsic_dispatch.h"

namespace lumba_test {

class TestIntrinsics : public ::testing::Environment {
public:
    struct Rows {
        std::vector<std::pair<int, NumericIntrinsic>> numeric = {};
        std::vector<std::pair<int, StringIntrinsic>> string = {};
        std::vector<std::pair<int, StatementIntrinsic>> statement = {};
    };
    explicit TestIntrinsics(Rows rows) : rows_(std::move(rows)) {}

    // Each swap installs what the row holds and keeps what it replaced, so a second swap puts
    // the run-time's handler back.
    void SetUp() override { swap(); }
    void TearDown() override { swap(); }

private:
    void swap()
    {
        for (auto &[code, h] : rows_.numeric) h = register_numeric_intrinsic(code, h);
        for (auto &[code, h] : rows_.string) h = register_string_intrinsic(code, h);
        for (auto &[code, h] : rows_.statement) h = register_statement_intrinsic(code, h);
    }
    Rows rows_;
};

// Registers rows for the test program; call from a namespace-scope initialiser, e.g.
//     const auto *intrinsics = lumba_test::add_test_intrinsics({.statement = {{in_ABORT, abort_case}}});
inline ::testing::Environment *add_test_intrinsics(TestIntrinsics::Rows rows)
{
    return ::testing::AddGlobalTestEnvironment(new TestIntrinsics(std::move(rows)));
}

} // namespace lumba_test
