// The SBR XML import (sbr_xml_parse: two SAX passes and the six lists) against libxml2's own
// streaming parse of the same file (an xmlReaderForFile loop, as xmllint --stream --noout does), on
// generated instances of 1,000, 10,000 and 50,000 facts. Each import also reports its peak resident
// memory; the smoke run checks what each side read. A third line times only the building of lists
// as large as the import's, the part of the import that the program lists themselves cost.
//
// A generated instance has one context per 100 facts (two explicit members each, so that every
// context has a converted name of its own; one DIN),
// a unit, facts named Item0 to Item99 in every context, and a withholding tuple per 50 facts.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include <glib.h>
#include <libxml/xmlreader.h>

#include "axml.h"
#include "ilist.h"

namespace {

// The instance of n facts, written once per size.
const std::string &instance(int n)
{
    static std::map<int, std::string> files;
    auto &path = files[n];
    if (!path.empty()) return path;
    char *dir = g_dir_make_tmp("sbr-bench-XXXXXX", nullptr);
    path = std::string(dir) + "/facts" + std::to_string(n) + ".xml";
    g_free(dir);
    std::ofstream out(path);
    out << "<?xml version=\"1.0\"?>\n<xbrli:xbrl xmlns:xbrli=\"http://www.xbrl.org/2003/instance\""
           " xmlns:xbrldi=\"http://xbrl.org/2006/xbrldi\" xmlns:t=\"http://sbr.gov.au/t\">\n";
    const int contexts = (n + 99) / 100;
    for (int c = 0; c < contexts; ++c)
        out << "<xbrli:context id=\"c" << c << "\"><xbrli:entity><xbrli:identifier scheme=\"abn\">" << 10000 + c
            << "</xbrli:identifier><xbrli:segment><xbrldi:explicitMember dimension=\"d:P\">d:Party" << char('A' + c / 26 % 26) << char('A' + c % 26)
            << "</xbrldi:explicitMember><xbrldi:explicitMember dimension=\"d:R\">d:Reporting</xbrldi:explicitMember>"
               "</xbrli:segment></xbrli:entity><xbrli:period><xbrli:instant>2026-06-30</xbrli:instant></xbrli:period>"
               "</xbrli:context>\n";
    out << "<xbrli:unit id=\"AUD\"><xbrli:measure>iso4217:AUD</xbrli:measure></xbrli:unit>\n";
    out << "<t:BusinessDocument.GovernmentGeneratedIdentifier.Text contextRef=\"c0\">DIN-1</t:BusinessDocument."
           "GovernmentGeneratedIdentifier.Text>\n";
    for (int i = 0; i < n; ++i) {
        out << "<t:Item" << i % 100 << " contextRef=\"c" << i / 100 << "\" unitRef=\"AUD\" isEditable=\"true\""
            << " isVisible=\"true\">" << i * 7 << ".50</t:Item" << i % 100 << ">\n";
        if (i % 50 == 49)
            out << "<t:ITPAYGWithholdingDetails><t:IncomeTax.PayAsYouGoWithholding.PaymentType.Code>P" << i
                << "</t:IncomeTax.PayAsYouGoWithholding.PaymentType.Code><t:IncomeTax.PayAsYouGoWithholding.TaxWithheld"
                   ".Amount contextRef=\"c0\" isEditable=\"false\" isVisible=\"true\">"
                << i << "</t:IncomeTax.PayAsYouGoWithholding.TaxWithheld.Amount></t:ITPAYGWithholdingDetails>\n";
    }
    out << "</xbrli:xbrl>\n";
    return path;
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
        quietly([&] { lists = sbr_xml_parse(file.c_str()); });
        state.PauseTiming();
        peak = peak_mib();
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
    quietly([&] { made = sbr_xml_parse(instance(n).c_str()); });
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
