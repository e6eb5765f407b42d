// The executor on work that is not a bare counted loop, each against CPython 3 doing the same in a
// function, in one run:
//  - string work, a turn:  B$ = A$ + "xyz" : C$ = MID$(B$, 3, 5) : IF C$ = "cdefg" THEN K = K + 1 :
//    L = L + LEN(B$)  (MID$ as the compiler writes it: a range of 5 and a load of B$ from its
//    third character); CPython: b = a + 'xyz'; c = b[2:7]; if c == 'cdefg': k = k + 1;
//    l = l + len(b), its counters plain integers as a Python programmer keeps counts;
//  - an array sum through GOSUB: FOR J = 1 TO 100 : GOSUB ADD_ONE : NEXT, repeated, where ADD_ONE
//    is S = S + A(J) : RETURN over A(J) = 1.25 * J; CPython: a nested function adding a[j - 1] to
//    its enclosing function's s (nonlocal), on decimal.Decimal values, called in the same loops.
// Items per second are string turns or elements added per second.
#include <benchmark/benchmark.h>

#include <string>

#include "applications.h"
#include "executor.h"
#include "globals.h"
#include "intrinsics.h"
#include "numerics.h"
#include "object_writer.h"
#include "python_peer.h"

namespace {

constexpr long TURNS = 200000;  // string turns; elements added by the array sum
constexpr long ELEMENTS = 100;  // A(1) ... A(100)
constexpr long REPEATS = TURNS / ELEMENTS;

// Numeric cells: the counters and the array, A(1) at cell A.
constexpr int I = 0, J = 1, K = 2, L = 3, S = 4, A = 5;
constexpr int NUMERICS = A + ELEMENTS;
// Character area: A$ (16 characters) at 0, B$ (32) at 16, C$ (8) at 48.
constexpr int A_AT = 0, A_LEN = 16, B_AT = 16, B_LEN = 32, C_AT = 48, C_LEN = 8, CHARS = 56;
const char *const A_TEXT = "abcdefghijklmnop";

void string_turn(ObjectWriter &w)
{
    // B$ = A$ + "xyz"
    w.load_text(A_AT, A_LEN), w.text("xyz"), w.record(o_scat, {2}), w.store_text(B_AT, B_LEN);
    // C$ = MID$(B$, 3, 5)
    w.constant("5"), w.record(o_srnge, {}), w.constant("3");
    w.record(o_loadsvd, {B_AT, 1, B_LEN, 0, 1, 0, 0, 0});
    w.store_text(C_AT, C_LEN);
    // IF C$ = "cdefg" THEN K = K + 1
    w.load_text(C_AT, C_LEN), w.text("cdefg"), w.record(o_eq, {});
    w.op(o_jumpz);
    const std::size_t skip = w.label_to_place();
    w.end();
    w.load(K), w.constant("1"), w.record(o_add, {}), w.store(K);
    w.place(skip);
    // L = L + LEN(B$)
    w.load(L), w.load_text(B_AT, B_LEN), w.record(o_ifcallr, {in_LEN, 1}), w.record(o_add, {}), w.store(L);
}

void array_sum(ObjectWriter &w)
{
    // FOR J = 1 TO 100 : A(J) = J * 1.25 : NEXT
    w.counted_loop(J, ELEMENTS, [&] {
        w.load(J), w.constant("1.25"), w.record(o_mul, {});
        w.load(J), w.record(o_storrd, {A, 1, ELEMENTS, 0, 1});
    });
    w.constant("0"), w.store(S);
    std::size_t add_one = 0;
    w.counted_loop(I, REPEATS, [&] {
        w.counted_loop(J, ELEMENTS, [&] {
            w.op(o_gosub);
            add_one = w.label_to_place();
            w.end();
        });
    });
    w.record(o_exit, {});
    // ADD_ONE: S = S + A(J) : RETURN
    w.place(add_one);
    w.load(S), w.load(J), w.record(o_loadrvd, {A, 1, ELEMENTS, 0, 1}), w.record(o_add, {}), w.store(S);
    w.record(o_return, {});
}

void write_program(const std::string &path, bool strings)
{
    ObjectWriter w;
    w.routine("main", NUMERICS, CHARS, 0);
    if (strings) {
        w.text(A_TEXT), w.store_text(A_AT, A_LEN);
        w.constant("0"), w.store(K), w.constant("0"), w.store(L);
        w.counted_loop(I, TURNS, [&] { string_turn(w); });
        w.record(o_exit, {});
    } else {
        array_sum(w);
    }
    w.save(path, "routine", NUMERICS, CHARS);
}

// Whether the decimal d is the number text stands for.
bool is(const dec_t *d, const std::string &text)
{
    dec_t v{};
    return NumericCvASC(text.c_str(), static_cast<int>(text.size()), &v) == 0 && NumericCmp(d, &v) == 0;
}

// What both sides must leave: K and L of the string work, S of the array sum.
const std::string STRING_RESULT = std::to_string(TURNS) + " " + std::to_string(TURNS * 19);
const std::string SUM_RESULT = std::to_string(REPEATS * 63125 / 10) + (REPEATS % 2 ? ".50" : ".00");

void BM_lumba(benchmark::State &state)
{
    const bool strings = state.range(0) != 0;
    const ScratchDir dir;
    write_program(dir / "routine", strings);
    Interp_t *context = load_object(dir / "routine");
    const dec_t *cells = context->routines[0].local_numerics;
    for (auto _ : state) {
        run_program(context);
    }
    const bool right = strings ? is(cells + K, std::to_string(TURNS)) && is(cells + L, std::to_string(TURNS * 19))
                               : is(cells + S, SUM_RESULT);
    if (!right) state.SkipWithError("lumba did not leave what CPython does");
    state.SetItemsProcessed(state.iterations() * TURNS);
}

void BM_python(benchmark::State &state)
{
    const std::string n = std::to_string(TURNS);
    if (state.range(0)) {
        python_peer(state,
                    "def run(n):\n"
                    "    a = '" + std::string(A_TEXT) + "'\n"
                    "    k = 0\n"
                    "    l = 0\n"
                    "    for i in range(1, n + 1):\n"
                    "        b = a + 'xyz'\n"
                    "        c = b[2:7]\n"
                    "        if c == 'cdefg':\n"
                    "            k = k + 1\n"
                    "        l = l + len(b)\n"
                    "    return k, l\n"
                    "t = time.process_time()\n"
                    "k, l = run(" + n + ")\n"
                    "print(time.process_time() - t, k, l)\n",
                    STRING_RESULT);
    } else {
        python_peer(state,
                    "D = decimal.Decimal\n"
                    "def run(repeats):\n"
                    "    a = [j * D('1.25') for j in range(1, " + std::to_string(ELEMENTS + 1) + ")]\n"
                    "    s = D(0)\n"
                    "    j = 0\n"
                    "    def add_one():\n"
                    "        nonlocal s\n"
                    "        s = s + a[j - 1]\n"
                    "    for i in range(1, repeats + 1):\n"
                    "        for j in range(1, " + std::to_string(ELEMENTS + 1) + "):\n"
                    "            add_one()\n"
                    "    return s\n"
                    "t = time.process_time()\n"
                    "s = run(" + std::to_string(REPEATS) + ")\n"
                    "print(time.process_time() - t, format(s, '.2f'))\n",
                    SUM_RESULT);
    }
    state.SetItemsProcessed(state.iterations() * TURNS);
}

} // namespace

BENCHMARK(BM_lumba)->Name("lumba/string_work")->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_python)->Name("cpython/string_work")->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_lumba)->Name("lumba/array_sum_by_gosub")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_python)->Name("cpython/array_sum_by_gosub")->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
