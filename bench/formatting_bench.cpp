// Amounts laid out for print: CPMED$ columns (width 14, two decimals, thousands separators, sign
// column) and EDIT$ pictures ("-ZZ,ZZZ,ZZ9.V99", 14 columns), against the C library's grouped formatting
// snprintf("%'14.2f") in the en_US.UTF-8 locale, on the same money-like values in the same run.
// Each side writes into a buffer of its caller; the intrinsic rows add the path a program takes
// (arguments off the value stack, the result text allocated and freed).
#include <benchmark/benchmark.h>

#include <clocale>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "formatting.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "mem_mgt.h"
#include "numerics.h"
#include "value_stack.h"

namespace {

constexpr int N = 1024;
constexpr std::string_view PICTURE = "-ZZ,ZZZ,ZZ9.V99";

struct Values {
    std::vector<dec_t> decimals;
    std::vector<double> doubles;
};

// Amounts up to 999999.99 with two decimals, a quarter of them negative.
const Values &values()
{
    static const Values v = [] {
        Values v;
        std::mt19937 rng(150670);
        for (int i = 0; i < N; ++i) {
            const long cents = static_cast<long>(rng() % 100000000) * (rng() % 4 == 0 ? -1 : 1);
            const std::string text = std::to_string(cents / 100) + "." + std::to_string(std::labs(cents % 100) + 100).substr(1);
            const std::string signed_text = cents < 0 && cents / 100 == 0 ? "-" + text : text;
            dec_t d{};
            NumericCvASC(signed_text.c_str(), static_cast<int>(signed_text.size()), &d);
            v.decimals.push_back(d);
            v.doubles.push_back(static_cast<double>(cents) / 100);
        }
        return v;
    }();
    return v;
}

// A known value each side must show, so a smoke run also checks what is measured.
bool checked(benchmark::State &state, const std::string &got, const std::string &want)
{
    if (got == want) return true;
    state.SkipWithError(("wrong text: '" + got + "', expected '" + want + "'").c_str());
    return false;
}

dec_t decimal(const char *text)
{
    dec_t d{};
    NumericCvASC(text, static_cast<int>(std::char_traits<char>::length(text)), &d);
    return d;
}

void BM_CpmedColumn(benchmark::State &state)
{
    const Values &v = values();
    char area[CPMED_MAX_WIDTH];
    const dec_t probe = decimal("-123456.789");
    if (!checked(state, std::string(area, cpmed_column(&probe, 14, 2, ZeroForm::number, {}, area)), "   123,456.78-"))
        return;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(cpmed_column(&v.decimals[i], 14, 2, ZeroForm::number, {}, area));
        benchmark::ClobberMemory();
        i = (i + 1) % N;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_EditPicture(benchmark::State &state)
{
    const Values &v = values();
    char area[EDIT_AREA];
    const dec_t probe = decimal("-123456.789");
    if (!checked(state, std::string(area, zedit(&probe, PICTURE, area)), "   -123,456.78")) return;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zedit(&v.decimals[i], PICTURE, area));
        benchmark::ClobberMemory();
        i = (i + 1) % N;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_SnprintfGrouped(benchmark::State &state)
{
    if (!std::setlocale(LC_NUMERIC, "en_US.UTF-8")) {
        state.SkipWithError("the en_US.UTF-8 locale is not installed (scripts/install-deps.sh makes it)");
        return;
    }
    const Values &v = values();
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%'14.2f", -123456.78);
    if (!checked(state, buffer, "   -123,456.78")) return;
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::snprintf(buffer, sizeof buffer, "%'14.2f", v.doubles[i]));
        benchmark::ClobberMemory();
        i = (i + 1) % N;
    }
    std::setlocale(LC_NUMERIC, "C");
    state.SetItemsProcessed(state.iterations());
}

// The intrinsic as a program calls it: the arguments on the value stack, the result text
// allocated by the dispatcher's case and freed as the value stack would.
void intrinsic(benchmark::State &state, int code, const std::vector<Stack> &arguments, const std::string &want)
{
    Stack stack[8]{};
    Stk = stack;
    const int nargs = static_cast<int>(arguments.size());
    for (int i = 0; i < nargs; ++i) stack[i] = arguments[static_cast<std::size_t>(i)];
    for (int i = 0; i < nargs; ++i)
        if (stack[i].s_t == real) stack[i].s_c.C_N = &stack[i].num;
    Stack result{};
    s_intrins(&result, code, nargs, nargs - 1);
    const bool right = checked(state, std::string(result.s_c.C_S, result.length), want);
    sfree(result.s_c.C_S);
    if (!right) return;
    const Values &v = values();
    std::size_t i = 0;
    for (auto _ : state) {
        stack[0].num = v.decimals[i];
        s_intrins(&result, code, nargs, nargs - 1);
        sfree(result.s_c.C_S);
        i = (i + 1) % N;
    }
    Stk = nullptr;
    state.SetItemsProcessed(state.iterations());
}

Stack number(const char *text)
{
    Stack e{};
    e.s_t = real;
    e.num = decimal(text);
    return e;
}

Stack text(std::string_view t)
{
    Stack e{};
    e.s_t = string;
    e.s_c.C_S = const_cast<char *>(t.data());
    e.length = e.s_dims[0] = static_cast<std::uint32_t>(t.size());
    e.flags = stk_ref;
    return e;
}

void BM_CpmedIntrinsic(benchmark::State &state)
{
    intrinsic(state, in_CPMED, {number("-123456.789"), number("14"), number("2")}, "   123,456.78-");
}

void BM_EditIntrinsic(benchmark::State &state)
{
    intrinsic(state, in_EDIT, {number("-123456.789"), text(PICTURE)}, "   -123,456.78");
}

} // namespace

BENCHMARK(BM_CpmedColumn);
BENCHMARK(BM_EditPicture);
BENCHMARK(BM_SnprintfGrouped);
BENCHMARK(BM_CpmedIntrinsic);
BENCHMARK(BM_EditIntrinsic);
BENCHMARK_MAIN();
