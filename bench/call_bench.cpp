// The cost of one dispatched intrinsic call: the executor running X = LEN(A$) a million times
// against the same loop with X = 1, and CPython 3 doing x = len(a) and x = 1 in a function's
// loop, all in one run. Items per second are loop turns per second; the difference between the two
// loops of one side, per turn, is what a call costs it.
#include <benchmark/benchmark.h>

#include <string>

#include "applications.h"
#include "executor.h"
#include "globals.h"
#include "intrinsics.h"
#include "object_writer.h"
#include "python_peer.h"

namespace {

constexpr long TURNS = 1000000;
constexpr int X = 0, I = 1;  // numeric cells
constexpr int TEXT = 16;     // A$ at byte 0, sixteen characters
const char *const A_TEXT = "abcdefghijklmnop";

// X = LEN(A$) (with_call) or X = 1 in a counted loop, after A$ = "abcdefghijklmnop".
void write_program(const std::string &path, bool with_call)
{
    ObjectWriter w;
    w.routine("main", 2, TEXT + 1, 0);
    w.text(A_TEXT), w.store_text(0, TEXT);
    w.counted_loop(I, TURNS, [&] {
        if (with_call) {
            w.load_text(0, TEXT);
            w.record(o_ifcallr, {in_LEN, 1});
        } else {
            w.constant("1");
        }
        w.store(X);
    });
    w.record(o_exit, {});
    w.save(path, "calls", 2, TEXT + 1);
}

void BM_lumba(benchmark::State &state)
{
    const bool with_call = state.range(0) != 0;
    const ScratchDir dir;
    write_program(dir / "calls", with_call);
    Interp_t *context = load_object(dir / "calls");
    const dec_t *x = context->routines[0].local_numerics + X;
    for (auto _ : state) {
        run_program(context);
    }
    long value = 0;
    NumericToLONG(x, &value);
    if (value != (with_call ? TEXT : 1)) state.SkipWithError("X is not what the loop stores");
    state.SetItemsProcessed(state.iterations() * TURNS);
}

void BM_python(benchmark::State &state)
{
    const std::string body = state.range(0) ? "x = len(a)" : "x = 1";
    python_peer(state, "def run(n):\n"
                       "    a = '" + std::string(A_TEXT) + "'\n"
                       "    x = 0\n"
                       "    for i in range(1, n + 1):\n"
                       "        " + body + "\n"
                       "    return x\n"
                       "t = time.process_time()\n"
                       "x = run(" + std::to_string(TURNS) + ")\n"
                       "print(time.process_time() - t, x)\n",
                std::to_string(state.range(0) ? TEXT : 1));
    state.SetItemsProcessed(state.iterations() * TURNS);
}

} // namespace

BENCHMARK(BM_lumba)->Name("lumba/x_equals_len")->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_lumba)->Name("lumba/x_equals_1")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_python)->Name("cpython/x_equals_len")->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_python)->Name("cpython/x_equals_1")->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
