// The executor on the loop  s = 0: FOR i = 1 TO n: s = s + i * 1.5: NEXT i  (with and without a
// source-line op per statement), against CPython 3 running the same loop with decimal.Decimal in
// a function and at module level.
// Items per second are loop turns per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include <glib.h>

#include "applications.h"
#include "executor.h"
#include "globals.h"
#include "loader.h"
#include "mem_mgt.h"
#include "numerics.h"
#include "object_writer.h"
#include "python_peer.h"
#include "run_time.h"

namespace {

constexpr long TURNS = 1000000;

// Writes the loop program to path; the locals are S (0) and I (1).
void write_program(const std::string &path, bool lines)
{
    ObjectWriter w;
    auto srcline = [&](int line) {
        if (lines) w.record(o_srcline, {line, 0});
    };
    w.routine("main", 2, 0, 0);
    srcline(1);
    w.constant("0"), w.record(o_storrd, {0, 1, 0, 0, 0});
    w.constant("1"), w.record(o_storrd, {1, 1, 0, 0, 0});
    const int top = w.words;
    srcline(2);
    w.record(o_loadrvd, {1, 1, 0, 0, 0});
    w.constant(std::to_string(TURNS).c_str());
    w.constant("1");
    w.op(o_cmpidx);
    const std::size_t patch = w.out.size() + 1;
    w.l(0), w.end();
    srcline(3);
    w.record(o_loadrvd, {0, 1, 0, 0, 0});
    w.record(o_loadrvd, {1, 1, 0, 0, 0});
    w.constant("1.5");
    w.record(o_mul, {}), w.record(o_add, {});
    w.record(o_storrd, {0, 1, 0, 0, 0});
    srcline(4);
    w.record(o_loadrvd, {1, 1, 0, 0, 0});
    w.constant("1");
    w.record(o_add, {});
    w.record(o_storrd, {1, 1, 0, 0, 0});
    w.op(o_jump), w.l(top), w.end();
    const int done = w.words;
    for (int k = 3; k >= 0; --k) w.out[patch + 3 - k] = static_cast<char>((static_cast<unsigned>(done) >> (8 * k)) & 0xFF);
    w.record(o_exit, {});
    w.save(path, "loop", 2, 0);
}

struct Program {
    Interp_t *context = nullptr;
    std::string path;
};

Program load_program(bool lines)
{
    char *dir = g_dir_make_tmp("loop-bench-XXXXXX", nullptr);
    Program p;
    p.path = std::string(dir) + "/loop";
    g_free(dir);
    write_program(p.path, lines);
    p.context = load_object(p.path);
    return p;
}

void BM_lumba_loop(benchmark::State &state)
{
    Program p = load_program(state.range(0) != 0);
    const dec_t *s = p.context->routines[0].local_numerics;
    for (auto _ : state) {
        run_program(p.context);
        benchmark::DoNotOptimize(s);
    }
    char text[48];
    NumericToASC(s, text, 40, -1);
    text[40] = '\0';
    if (std::strtod(text, nullptr) != 1.5 * TURNS * (TURNS + 1) / 2) state.SkipWithError(text);
    state.SetItemsProcessed(state.iterations() * TURNS);
    unlink(p.path.c_str());
}

// CPython 3 running the same loop with decimal.Decimal: as a Python programmer writes a hot loop,
// inside a function (its names are locals), and at module level (every name a global).
void BM_python_decimal(benchmark::State &state)
{
    const std::string n = std::to_string(TURNS);
    const std::string loop = state.range(0) ? "def run(n):\n"
                                              "    c = D('1.5')\n"
                                              "    s = D(0)\n"
                                              "    for i in range(1, n + 1):\n"
                                              "        s = s + i * c\n"
                                              "    return s\n"
                                              "t = time.process_time()\n"
                                              "s = run(" + n + ")\n"
                                            : "t = time.process_time()\n"
                                              "c = D('1.5')\n"
                                              "s = D(0)\n"
                                              "for i in range(1, " + n + " + 1):\n"
                                              "    s = s + i * c\n";
    python_peer(state, "D = decimal.Decimal\n" + loop + "print(time.process_time() - t, s)\n", "750000750000.0");
    state.SetItemsProcessed(state.iterations() * TURNS);
}

} // namespace

BENCHMARK(BM_lumba_loop)->Name("lumba/loop")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_lumba_loop)->Name("lumba/loop_with_source_lines")->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_python_decimal)->Name("cpython/decimal_loop_in_function")->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_python_decimal)->Name("cpython/decimal_loop_at_module_level")->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
