// The statement path of the PostgreSQL intrinsics against plain libpq, in the same run, on the same
// connection of a scratch cluster: 10,000 IPQEXEC + IPQCLEAR of a one-row select through the
// numeric dispatcher (classification, counting, timing, handle allocation and the copies kept
// with each result; the run-time log off) against 10,000 PQexec + PQclear of the same statement.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <string>

#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "numerics.h"
#include "pg.h"
#include "pg_cluster.h"
#include "run_time.h"
#include "stack.h"

namespace {

constexpr int STATEMENTS = 10000;
const char SQL[] = "select 1";

struct Connection {
    long handle = 0;
    PGconn *conn = nullptr;
};

const Connection &connection()
{
    static const Connection c = [] {
        Connection c;
        const std::string info = lumba_test::pg_cluster().conninfo();
        c.handle = OskaPgConnect(info.c_str());
        c.conn = hdlgetconn(static_cast<std::uint16_t>(c.handle));
        return c;
    }();
    return c;
}

std::array<Stack, 4> stack;

long intrinsic(int code, long handle, const char *text)
{
    Stack result{};
    Stack &h = stack[0];
    h = Stack{};
    h.s_t = real;
    NumericCvLONG(handle, &h.num);
    h.s_c.C_N = &h.num;
    int n = 1;
    if (text) {
        Stack &t = stack[1];
        t = Stack{};
        t.s_t = string;
        t.s_c.C_S = const_cast<char *>(text);
        t.length = static_cast<std::uint32_t>(std::strlen(text));
        t.flags = stk_ref;
        n = 2;
    }
    r_intrins(&result, code, n, n - 1);
    long value = 0;
    NumericToLONG(&result.num, &value);
    return value;
}

void BM_IpqexecIpqclear(benchmark::State &state)
{
    const Connection &c = connection();
    Stk = stack.data();
    for (auto _ : state) {
        long cleared = 0;
        for (int i = 0; i < STATEMENTS; ++i) {
            const long res = intrinsic(in_IPQEXEC, c.handle, SQL);
            cleared += intrinsic(in_IPQCLEAR, res, nullptr);
        }
        if (cleared != STATEMENTS) state.SkipWithError("a statement failed or its result was not cleared");
    }
    state.SetItemsProcessed(state.iterations() * STATEMENTS);
}

void BM_PQexecPQclear(benchmark::State &state)
{
    const Connection &c = connection();
    for (auto _ : state) {
        int rows = 0;
        for (int i = 0; i < STATEMENTS; ++i) {
            PGresult *res = PQexec(c.conn, SQL);
            rows += PQntuples(res);
            PQclear(res);
        }
        if (rows != STATEMENTS) state.SkipWithError("a statement failed");
    }
    state.SetItemsProcessed(state.iterations() * STATEMENTS);
}

} // namespace

BENCHMARK(BM_IpqexecIpqclear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PQexecPQclear)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
