// The 22-byte decimal against GCC's std::decimal::decimal128 on the same values (money-like:
// cents up to a million; full: 32 significant digits), and text conversions against strtod and
// snprintf("%.2f") as the floor.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <decimal/decimal>
#include <random>
#include <string>
#include <vector>

#include "numerics.h"

namespace {

using std::decimal::decimal128;

constexpr std::size_t N = 1024;  // operand pairs, cycled so that nothing is constant

struct Values {
    std::vector<dec_t> a, b;
    std::vector<decimal128> da, db;
    std::vector<double> fa;
    std::vector<std::string> text;
};

dec_t from_text(const std::string &s)
{
    dec_t d;
    NumericCvASC(s.data(), int(s.size()), &d);
    return d;
}

Values make_values(bool full)
{
    std::mt19937_64 rng(full ? 2 : 1);
    Values v;
    for (std::size_t i = 0; i < 2 * N; ++i) {
        std::string text;
        decimal128 d;
        double f;
        if (!full) {
            long long cents = static_cast<long long>(rng() % 100000000) + 1;  // up to 999999.99
            if (rng() & 1) cents = -cents;
            char buf[32];
            std::snprintf(buf, sizeof buf, "%s%lld.%02lld", cents < 0 ? "-" : "", std::llabs(cents) / 100,
                          std::llabs(cents) % 100);
            text = buf;
            d = std::decimal::make_decimal128(cents, -2);
            f = static_cast<double>(cents) / 100;
        } else {
            long long hi = static_cast<long long>(rng() % 9000000000000000ull) + 1000000000000000ll;  // 16 digits
            long long lo = static_cast<long long>(rng() % 10000000000000000ull);
            char buf[48];
            std::snprintf(buf, sizeof buf, "%lld.%016lld", hi, lo);
            text = buf;
            d = std::decimal::make_decimal128(hi, 0) + std::decimal::make_decimal128(lo, -16);
            f = std::strtod(buf, nullptr);
        }
        dec_t x = from_text(text);
        if (i < N) {
            v.a.push_back(x), v.da.push_back(d), v.fa.push_back(f), v.text.push_back(text);
        } else {
            v.b.push_back(x), v.db.push_back(d);
        }
    }
    return v;
}

const Values &values(bool full)
{
    static const Values money = make_values(false), precise = make_values(true);
    return full ? precise : money;
}

using DecOp = int (*)(const dec_t *, const dec_t *, dec_t *);

template <DecOp op> void BM_Dec(benchmark::State &state)
{
    const Values &v = values(state.range(0));
    std::size_t i = 0;
    dec_t r;
    for (auto _ : state) {
        op(&v.a[i], &v.b[i], &r);
        benchmark::DoNotOptimize(r);
        i = (i + 1) % N;
    }
}

enum class D128Op { add, sub, mul, div };

template <D128Op op> void BM_D128(benchmark::State &state)
{
    const Values &v = values(state.range(0));
    std::size_t i = 0;
    for (auto _ : state) {
        decimal128 r;
        if constexpr (op == D128Op::add) r = v.da[i] + v.db[i];
        if constexpr (op == D128Op::sub) r = v.da[i] - v.db[i];
        if constexpr (op == D128Op::mul) r = v.da[i] * v.db[i];
        if constexpr (op == D128Op::div) r = v.da[i] / v.db[i];
        benchmark::DoNotOptimize(r);
        i = (i + 1) % N;
    }
}

void BM_Dec_cmp(benchmark::State &state)
{
    const Values &v = values(state.range(0));
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(NumericCmp(&v.a[i], &v.b[i]));
        i = (i + 1) % N;
    }
}

void BM_D128_cmp(benchmark::State &state)
{
    const Values &v = values(state.range(0));
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(v.da[i] < v.db[i]);
        i = (i + 1) % N;
    }
}

void BM_Dec_from_text(benchmark::State &state)
{
    const Values &v = values(state.range(0));
    std::size_t i = 0;
    dec_t r;
    for (auto _ : state) {
        const std::string &t = v.text[i];
        NumericCvASC(t.data(), int(t.size()), &r);
        benchmark::DoNotOptimize(r);
        i = (i + 1) % N;
    }
}

void BM_strtod(benchmark::State &state)
{
    const Values &v = values(state.range(0));
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::strtod(v.text[i].c_str(), nullptr));
        i = (i + 1) % N;
    }
}

void BM_Dec_to_text(benchmark::State &state)
{
    bool full = state.range(0);
    const Values &v = values(full);
    std::size_t i = 0;
    char buf[48];
    for (auto _ : state) {
        NumericToASC(&v.a[i], buf, full ? 40 : 20, full ? -1 : 2);
        benchmark::DoNotOptimize(buf);
        i = (i + 1) % N;
    }
}

void BM_snprintf(benchmark::State &state)
{
    bool full = state.range(0);
    const Values &v = values(full);
    std::size_t i = 0;
    char buf[48];
    for (auto _ : state) {
        std::snprintf(buf, sizeof buf, full ? "%.17g" : "%.2f", v.fa[i]);
        benchmark::DoNotOptimize(buf);
        i = (i + 1) % N;
    }
}

// Argument 0: money-like values, 1: full precision.
#define PAIR(name, dec, peer)                                                                      \
    BENCHMARK(dec)->Name("dec/" name "/money")->Arg(0);                                            \
    BENCHMARK(peer)->Name("peer/" name "/money")->Arg(0);                                          \
    BENCHMARK(dec)->Name("dec/" name "/full")->Arg(1);                                             \
    BENCHMARK(peer)->Name("peer/" name "/full")->Arg(1);

PAIR("add", BM_Dec<NumericAdd>, BM_D128<D128Op::add>)
PAIR("sub", BM_Dec<NumericSub>, BM_D128<D128Op::sub>)
PAIR("mul", BM_Dec<NumericMul>, BM_D128<D128Op::mul>)
PAIR("div", BM_Dec<NumericDiv>, BM_D128<D128Op::div>)
PAIR("cmp", BM_Dec_cmp, BM_D128_cmp)
PAIR("from_text", BM_Dec_from_text, BM_strtod)
PAIR("to_text", BM_Dec_to_text, BM_snprintf)

} // namespace

BENCHMARK_MAIN();
