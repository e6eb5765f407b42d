// A fixture for in-process tests of the PostgreSQL intrinsics against this test program's
// scratch cluster: the intrinsics are called through the dispatchers with value-stack entries,
// as the executor calls them, and every handle is released at the end of each test the way the
// end of the program releases them. The report sink of test_report_sink.cpp turns fatal reports
// into lumba_test::AbortError and records mails.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include <functional>

#include <glib.h>

#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "executor.h"
#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"
#include "pg.h"
#include "pg_cluster.h"
#include "run_time.h"
#include "test_host.h"
#include "value_stack.h"

// An argument of an intrinsic call.
struct PgArg {
    enum Kind { number, text, variable, structure } kind;
    long n = 0;
    std::string s = {};
    dec_t *var = nullptr;
    void *record = nullptr;       // a structure: its record
    const void *routine = nullptr;  // and the routine record that declares it
};
inline PgArg num(long n) { return {PgArg::number, n}; }
inline PgArg str(std::string s) { return {PgArg::text, 0, std::move(s)}; }
inline PgArg var(dec_t &d) { return {PgArg::variable, 0, {}, &d}; }
inline PgArg structure(void *record, const void *routine) { return {PgArg::structure, 0, {}, nullptr, record, routine}; }

inline dec_t decimal(long n)
{
    dec_t d{};
    NumericCvLONG(n, &d);
    return d;
}

inline long as_long(const dec_t &d)
{
    long v = 0;
    NumericToLONG(&d, &v);
    return v;
}

// Calls of intrinsics through the dispatchers, with the arguments on a value stack of its own (Stk
// points at it from the first call on).
class PgCalls {
public:
    // Calls through the dispatchers: a numeric intrinsic's value, a string intrinsic's text, a
    // statement. A fatal report throws lumba_test::AbortError.
    long numeric(int code, std::initializer_list<PgArg> args)
    {
        Stack result{};
        const int n = place(args);
        r_intrins(&result, code, n, n - 1);
        return as_long(result.num);
    }
    std::string number_text(int code, std::initializer_list<PgArg> args)
    {
        Stack result{};
        const int n = place(args);
        r_intrins(&result, code, n, n - 1);
        return Convert_BCD(&result.num);
    }
    std::string text(int code, std::initializer_list<PgArg> args = {})
    {
        Stack result{};
        const int n = place(args);
        s_intrins(&result, code, n, n - 1);
        EXPECT_EQ(result.s_t, string);
        std::string s(result.s_c.C_S, result.length);
        sfree(result.s_c.C_S);
        return s;
    }
    void statement(int code, std::initializer_list<PgArg> args)
    {
        const int n = place(args);
        c_intrins(code, n, n - 1);
    }

protected:
    int place(std::initializer_list<PgArg> args)
    {
        int i = 0;
        for (const PgArg &a : args) {
            Stack &e = stack_[i];
            e = Stack{};
            switch (a.kind) {
            case PgArg::number:
                e.s_t = real;
                NumericCvLONG(a.n, &e.num);
                e.s_c.C_N = &e.num;
                break;
            case PgArg::text:
                texts_[i] = a.s;
                e.s_t = string;
                e.s_c.C_S = texts_[i].data();
                e.length = static_cast<std::uint32_t>(texts_[i].size());
                e.flags = stk_ref;
                break;
            case PgArg::variable:
                e.s_t = real;
                e.s_c.C_N = a.var;
                e.flags = stk_ref;
                break;
            case PgArg::structure:
                e.s_t = bstruct;
                e.s_c.C_P = a.record;
                e.flags = stk_ref;
                e.params[0] = reinterpret_cast<Address>(a.routine);
                break;
            }
            ++i;
        }
        Stk = stack_.data();
        sp = i - 1;
        return i;
    }

    std::array<Stack, 8> stack_{};
    std::array<std::string, 8> texts_{};
};

class PgTest : public ::testing::Test, public PgCalls {
protected:
    void SetUp() override
    {
        Stk = stack_.data();
        sp = -1;
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
        Stk = nullptr;
        cur_routine = 0;
        Rname = nullptr;
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
