// The PostgreSQL intrinsics against plain libpq, in the same run, on the same connection of a
// scratch cluster (the run-time log off):
// - the statement path: 10,000 IPQEXEC + IPQCLEAR of a one-row select through the numeric
//   dispatcher (classification, counting, timing, handle allocation and the copies kept with each
//   result) against 10,000 PQexec + PQclear of the same statement;
// - the fetch: 100,000 rows of (integer key, varchar(20), numeric(12,2), date, text of about 100
//   bytes) read with IPQEXEC and IPQFETCH into a structure variable, against PQexec and a loop
//   doing the same work per row (blank-padded copies, NumericCvASC for the numbers, an allocated
//   copy of the text). The fetch also reports the peak memory after 10,000 and after 100,000 rows.
#include <benchmark/benchmark.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "applications.h"
#include "globals.h"
#include "interp.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "loader.h"
#include "mem_mgt.h"
#include "numerics.h"
#include "pg.h"
#include "pg_cluster.h"
#include "run_time.h"
#include "value_stack.h"
#include "zasm_run.h"

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

// ---- The fetch ---------------------------------------------------------------------------------

constexpr int ROWS = 100000;
constexpr int FIRST_ROWS = 10000;
const char ROWS_SQL[] = "select id, name, amount, day, memo from bench_rows";

// A program with one structure variable R on the table bench_rows, and the rows in the server.
const char PROGRAM[] = R"(
.proc r:main I:0 I:0 I:0 I:0 I:96 I:0
end
symtab
__ROUTINE__ main 1
R 0 0 0x200010 0 1 bench_rows
__END_ROUTINE__
.end
sqltab
__SQL_TABLES__ 1
T:bench_rows 1 5 0 88
C:id 4 10 0 0 0 0
C:name 3 20 0 22 0 0
C:amount 4 12 2 44 0 0
C:day 1 0 0 66 0 0
C:memo 5 0 0 80 0 0
I:bench_rows_pkey 1
0
.end
)";

// A structure variable: its record and the routine that declares it.
struct Structure {
    char *record;
    Routine *routine;
};

const Structure &loaded_structure()
{
    static const Structure s = [] {
        lumba_test::pg_cluster().query(
            "create table bench_rows (id integer primary key, name varchar(20), amount numeric(12,2), day date, "
            "memo text);"
            "insert into bench_rows select i, 'name ' || i, i * 1.25, date '2024-01-01' + i % 365, "
            "repeat('memo text ', 10) || i from generate_series(1, " + std::to_string(ROWS) + ") i;");
        AcquireKeys();
        ZERO_DEC = dec_t{0, 1, 0, {}};
        phase = executing;
        char *dir = g_dir_make_tmp("pg-bench-XXXXXX", nullptr);
        std::string path = std::string(dir) + "/rows";
        lumba_test::zasm(PROGRAM, path);
        auto *context = Calloc(1, Interp_t);
        context->Stk = Calloc(STACKSIZE, Stack);
        object = path.data();
        LoadCode(context);
        object = nullptr;
        g_unlink(path.c_str());
        g_rmdir(dir);
        g_free(dir);
        Routine *main = &current_application->app->routines[0];
        return Structure{reinterpret_cast<char *>(FindSymInRoutine(main, "R")->S_memloc), main};
    }();
    return s;
}

// The peak resident memory since the last reset, in MiB (the kernel's high-water mark).
double peak_mib()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    return 0;
}
void reset_peak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// IPQFETCH (result, R) as a program's loop makes it: the handle is a number the program holds, the
// structure a reference to its record; the loop goes on while the value is not 0.
bool fetch_row(Stack *entries, Stack &value)
{
    Stk = entries;
    r_intrins(&value, in_IPQFETCH, 2, 1);
    return NumericHasDigits(&value.num);
}

void BM_IpqexecIpqfetch(benchmark::State &state)
{
    const Connection &c = connection();
    const Structure &s = loaded_structure();
    double peak_first = 0, peak_all = 0;
    for (auto _ : state) {
        Stk = stack.data();
        const long res = intrinsic(in_IPQEXEC, c.handle, ROWS_SQL);
        if (peak_all == 0) reset_peak();  // the result itself is in both figures
        Stack entries[2]{}, value{};
        entries[0].s_t = real;
        NumericCvLONG(res, &entries[0].num);
        entries[0].s_c.C_N = &entries[0].num;
        entries[1].s_t = bstruct;
        entries[1].s_c.C_P = s.record;
        entries[1].flags = stk_ref;
        entries[1].params[0] = reinterpret_cast<Address>(s.routine);
        long rows = 0;
        while (fetch_row(entries, value))
            if (++rows == FIRST_ROWS && peak_all == 0) peak_first = peak_mib();
        if (peak_all == 0) peak_all = peak_mib();
        Stk = stack.data();
        intrinsic(in_IPQCLEAR, res, nullptr);
        if (rows != ROWS) state.SkipWithError("the fetch did not deliver every row");
    }
    state.SetItemsProcessed(state.iterations() * ROWS);
    state.counters["peak_MiB_10k"] = peak_first;
    state.counters["peak_MiB_100k"] = peak_all;
    if (peak_all > 1.1 * peak_first) state.SkipWithError("memory grows with the rows fetched");
}

// The same work per row on the same result, with libpq alone.
struct PlainRecord {
    dec_t id, amount;
    char name[21];
    char day[11];
    char *memo = nullptr;
};

void copy_padded(char *field, int width, const char *value, int length)
{
    std::memset(field, ' ', static_cast<std::size_t>(width));
    std::memcpy(field, value, static_cast<std::size_t>(std::min(length, width)));
}

void BM_PQexecLoop(benchmark::State &state)
{
    const Connection &c = connection();
    loaded_structure();  // the same rows
    PlainRecord r;
    for (auto _ : state) {
        PGresult *res = PQexec(c.conn, ROWS_SQL);
        const int rows = PQntuples(res);
        for (int i = 0; i < rows; ++i) {
            NumericCvASC(PQgetvalue(res, i, 0), PQgetlength(res, i, 0), &r.id);
            copy_padded(r.name, 20, PQgetvalue(res, i, 1), PQgetlength(res, i, 1));
            NumericCvASC(PQgetvalue(res, i, 2), PQgetlength(res, i, 2), &r.amount);
            copy_padded(r.day, 10, PQgetvalue(res, i, 3), PQgetlength(res, i, 3));
            const int n = PQgetlength(res, i, 4);
            std::free(r.memo);
            r.memo = static_cast<char *>(std::calloc(static_cast<std::size_t>(n) + 1, 1));
            std::memcpy(r.memo, PQgetvalue(res, i, 4), static_cast<std::size_t>(n));
            benchmark::DoNotOptimize(r);
        }
        PQclear(res);
        if (rows != ROWS) state.SkipWithError("the select did not deliver every row");
    }
    std::free(r.memo);
    state.SetItemsProcessed(state.iterations() * ROWS);
}

} // namespace

BENCHMARK(BM_IpqexecIpqclear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PQexecPQclear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IpqexecIpqfetch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PQexecLoop)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
