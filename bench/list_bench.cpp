// Named sets then fetches by name on a hashed program list, against std::unordered_map doing the
// same work in the same run: 100,000 sets of distinct names, then 100,000 fetches in a shuffled
// order. Both sides store copies of the texts and hand back the stored text on a fetch.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "ilist.h"

namespace {

constexpr int N = 100000;

struct Data {
    std::vector<std::string> names, values;
    std::vector<int> fetch_order;
};

const Data &data()
{
    static const Data d = [] {
        Data d;
        std::mt19937 rng(7);
        for (int i = 0; i < N; ++i) {
            d.names.push_back("CUST" + std::to_string(rng() % 900000 + 100000) + "-" + std::to_string(i));
            d.values.push_back("value " + std::to_string(rng()));
            d.fetch_order.push_back(i);
        }
        std::shuffle(d.fetch_order.begin(), d.fetch_order.end(), rng);
        return d;
    }();
    return d;
}

void BM_ListSetThenFetchByName(benchmark::State &state)
{
    const Data &d = data();
    for (auto _ : state) {
        IList_t *list = ilist_declare(ILIST_STRING | ILIST_HASH);
        for (int i = 0; i < N; ++i)
            ilist_setselt(list, 0, d.values[i].data(), static_cast<int>(d.values[i].size()), d.names[i].c_str());
        for (int i : d.fetch_order) {
            const char *v = ilist_sfetch(list, 0, d.names[i].c_str());
            benchmark::DoNotOptimize(v);
        }
        state.PauseTiming();
        bool right = ilist_length(list) == N && d.values[7] == ilist_sfetch(list, 0, d.names[7].c_str());
        ilist_destroy(list);
        state.ResumeTiming();
        if (!right) state.SkipWithError("the list does not hold what was set");
    }
    state.SetItemsProcessed(state.iterations() * 2 * N);
}

void BM_UnorderedMapSetThenFetch(benchmark::State &state)
{
    const Data &d = data();
    for (auto _ : state) {
        auto *map = new std::unordered_map<std::string, std::string>;
        for (int i = 0; i < N; ++i) (*map)[d.names[i]] = d.values[i];
        for (int i : d.fetch_order) {
            const char *v = map->find(d.names[i])->second.c_str();
            benchmark::DoNotOptimize(v);
        }
        state.PauseTiming();
        bool right = map->size() == N && map->at(d.names[7]) == d.values[7];
        delete map;
        state.ResumeTiming();
        if (!right) state.SkipWithError("the map does not hold what was set");
    }
    state.SetItemsProcessed(state.iterations() * 2 * N);
}

} // namespace

BENCHMARK(BM_ListSetThenFetchByName)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnorderedMapSetThenFetch)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
