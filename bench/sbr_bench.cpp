// The SBR XML import (sbr_xml_parse: two SAX passes and the six lists) against libxml2's own
// streaming parse of the same file (an xmlReaderForFile loop, as xmllint --stream --noout does), on
// generated instances of 1,000, 10,000 and 50,000 facts. Each import also reports its peak resident
// memory; the smoke run checks what each side read. A third line times only the building of lists
// as large as the import's, the part of the import that the program lists themselves cost.
//
// The instances are sbr_document.h's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include <libxml/xmlreader.h>

#include "axml.h"
#include "ilist.h"
#include "read_error.h"
#include "sbr_document.h"

namespace {

// The instance of n facts, written once per size and removed when the program ends.
const std::string &instance(int n)
{
    static sbr_bench::Documents documents;
    return documents.of_facts(n).path;
}

// The peak resident memory since the last reset, in MiB (the kernel's high-water mark).
double peak_mib()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}
void reset_peak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Standard output goes to /dev/null while fn runs: the import writes a line per pass.
template <class F> void quietly(F &&fn)
{
    std::fflush(stdout);
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(null, 1);
    fn();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(null);
}

void BM_SbrImport(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const std::string &file = instance(n);
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        reset_peak();
        state.ResumeTiming();
        SbrResult_t lists{};
        ReadError error;
        quietly([&] { error = sbr_xml_parse(file.c_str(), lists); });
        state.PauseTiming();
        peak = peak_mib();
        if (error) {
            state.SkipWithError(error.message.c_str());
            break;
        }
        // Each fact has a name and a path entry, each tuple one entry; the DIN is listed once.
        const bool right = ilist_length(lists.lists[SBR_VALUES]) > 2 * n + n / 50 &&
                           ilist_length(lists.lists[SBR_DINS]) == 1 &&
                           std::string(ilist_sfetch(lists.lists[SBR_VALUES], 0, "Item7")) == "49.50";
        sbr_result_free(lists);
        state.ResumeTiming();
        if (!right) state.SkipWithError("the lists do not hold the instance's facts");
    }
    state.counters["facts"] = n;
    state.counters["peak_MiB"] = peak;
}

void BM_XmlReaderStream(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const std::string &file = instance(n);
    for (auto _ : state) {
        xmlTextReaderPtr reader = xmlReaderForFile(file.c_str(), nullptr, 0);
        long nodes = 0;
        int ret;
        while ((ret = xmlTextReaderRead(reader)) == 1) ++nodes;
        xmlFreeTextReader(reader);
        if (ret != 0 || nodes < 3L * n) state.SkipWithError("the stream did not read the instance");
    }
    state.counters["facts"] = n;
}

// The floor the lists set: the six lists an import of the same instance made, appended element by
// element (ilist_addselt with their names, no search) to six new lists, without any parsing.
void BM_ListsAlone(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    std::vector<std::pair<std::string, std::string>> elements[SBR_LISTS];
    SbrResult_t made{};
    ReadError error;
    quietly([&] { error = sbr_xml_parse(instance(n).c_str(), made); });
    if (error) {
        state.SkipWithError(error.message.c_str());
        return;
    }
    for (int l = 0; l < SBR_LISTS; ++l)
        for (IListElt_t *e = made.lists[l]->head; e; e = e->next) elements[l].emplace_back(e->name, e->value.text);
    sbr_result_free(made);
    for (auto _ : state) {
        SbrResult_t lists{};
        for (int l = 0; l < SBR_LISTS; ++l) {
            lists.lists[l] = ilist_declare(ILIST_STRING | ILIST_HASH);
            for (const auto &[name, value] : elements[l])
                ilist_addselt(lists.lists[l], value.c_str(), static_cast<int>(value.size()), 0, name.c_str());
        }
        state.PauseTiming();
        const bool right = ilist_length(lists.lists[SBR_VALUES]) == static_cast<int>(elements[SBR_VALUES].size());
        sbr_result_free(lists);
        state.ResumeTiming();
        if (!right) state.SkipWithError("the lists were not rebuilt");
    }
    std::size_t total = 0;
    for (const auto &e : elements) total += e.size();
    state.counters["facts"] = n;
    state.counters["elements"] = static_cast<double>(total);
}

} // namespace

BENCHMARK(BM_SbrImport)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlReaderStream)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListsAlone)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
