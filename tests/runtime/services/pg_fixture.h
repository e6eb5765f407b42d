// A fixture for in-process tests of the PostgreSQL intrinsics against this test program's
// scratch cluster: the intrinsics are called through the dispatchers with value-stack entries,
// as the executor calls them, and every handle is released at the end of each test the way the
// end of the program releases them. The report sink of test_report_sink.cpp turns fatal reports
// into lumba_test::AbortError and records mails.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <glib.h>

#include "executor.h"
#include "intrinsic_call.h"
#include "message.h"
#include "pg.h"
#include "pg_cluster.h"

using lumba_test::as_long;
using lumba_test::decimal;
using namespace lumba_test::args;

class PgTest : public ::testing::Test, public lumba_test::IntrinsicCall {
protected:
    void SetUp() override
    {
        Back_ground = 1;
        lumba_test::mailed().clear();
        lumba_test::mail_reports().clear();
        slept().clear();
        set_pg_connect_sleep(record_sleep);
        set_pg_statement_clock(nullptr);
        db = lumba_test::pg_cluster().conninfo();
    }

    void TearDown() override
    {
        finish_pg();
        set_pg_connect_sleep(nullptr);
        set_pg_statement_clock(nullptr);
        cur_routine = 0;
    }

    // What the end of the program does to the layer: standard output and error are kept in
    // exit_out and exit_err; the statistics start again from zero.
    void finish_pg()
    {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        FreeAllPgRes();
        FreeAllPgConn();
        exit_out = testing::internal::GetCapturedStdout();
        exit_err = testing::internal::GetCapturedStderr();
        for (std::uint64_t *c : counters()) *c = 0;
    }

    static std::vector<std::uint64_t *> counters()
    {
        return {&pg_req_count, &pg_select_count, &pg_insert_count, &pg_update_count, &pg_delete_count,
                &pg_truncate_count, &pg_comment_count, &pg_begin_count, &pg_commit_count, &pg_rollback_count};
    }

public:
    // Shorthands.
    long connect() { return numeric(in_IPQCONNECTDB, {str(db)}); }
    long exec(long conn, const std::string &sql) { return numeric(in_IPQEXEC, {num(conn), str(sql)}); }
    long clear(long res) { return numeric(in_IPQCLEAR, {num(res)}); }
    void begin(long conn) { statement(in_IPQBEGIN, {num(conn)}); }
    long commit(long conn) { return numeric(in_IPQCOMMIT, {num(conn)}); }
    void rollback(long conn) { statement(in_IPQROLLBACK, {num(conn)}); }
    long status(long conn) { return numeric(in_IPQTRANSACTIONSTATUS, {num(conn)}); }
    // The last error message, without the "returning" line on standard error.
    std::string errmsg()
    {
        testing::internal::CaptureStderr();
        std::string m = text(in_IPQERRMSG);
        testing::internal::GetCapturedStderr();
        return m;
    }

protected:
    static std::vector<std::string> mails_to(const char *recipient)
    {
        std::vector<std::string> v;
        for (const auto &m : lumba_test::mail_reports())
            if (m.recipient == recipient) v.push_back(m.text);
        return v;
    }

    static std::vector<unsigned> &slept()
    {
        static std::vector<unsigned> v;
        return v;
    }
    static void record_sleep(unsigned seconds) { slept().push_back(seconds); }

    std::string db;
    std::string exit_out, exit_err;
};
