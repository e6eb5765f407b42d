// The note XML reader and writer against libxml2 on the same note strings of about 1 KiB, 64 KiB
// and 1 MiB: gnote_parse_xml against xmlReadMemory (a document tree), gnote_get_xml of the list
// read against xmlDocDumpMemory of that tree. The notes are paragraphs of words with the odd
// escaped byte and run, an amount every fifth paragraph and a block tag around every twentieth.
// The smoke run checks that each string reads and writes back to itself, that libxml2 reads it,
// and that reading and writing the 1 MiB note takes less than 10 MiB at its peak.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "mem_mgt.h"
#include "note_model.h"
#include "numerics.h"

namespace {

constexpr long KiB = 1024;

// A scratch note record, its list freed at the end.
struct Note {
    NoteData_t *data = static_cast<NoteData_t *>(salloc(sizeof(NoteData_t)));
    Note() { data->version = 1; }
    ~Note()
    {
        gnote_free_xml(data);
        sfree(data);
    }
};

std::string written(Note &note)
{
    char *xml = gnote_get_xml(note.data);
    std::string s = xml;
    sfree(xml);
    return s;
}

void add_run(NoteElement_t *p, const char *kind, int start, int end)
{
    gnote_add_format_tag_position(p, kind, start, 0);
    gnote_end_format_tag_position(p, kind, end, 1);
}

// A note string of about size bytes.
std::string make_note(long size)
{
    static const char *const words[] = {"invoice", "delivery", "the", "customer", "agreed", "to", "terms",
                                        "payment", "within", "30", "days", "R&D", "a<b", "net", "goods",
                                        "returned", "K\xc3\xb6ln", "\xe2\x82\xac" "100", "per", "unit"};
    std::mt19937 random(11);
    Note note;
    long estimate = 20;
    for (int i = 0; estimate < size; ++i) {
        if (i % 20 == 1) {
            NoteElement_t *t = gmenu_parse_xml_add(note.data, "tag");
            t->tag.name = Strcpy("BLOCK");
            t->tag.text = Strcpy("block text");
            t->tag.start = 1;
        }
        std::string text;
        const int length = 40 + static_cast<int>(random() % 400);
        while (static_cast<int>(text.size()) < length) {
            if (!text.empty()) text += random() % 12 == 0 ? "\n" : " ";
            text += words[random() % std::size(words)];
        }
        NoteElement_t *p = gmenu_parse_xml_add(note.data, "p");
        p->p.text = Strcpy(text.c_str());
        // Runs begin and end at blanks, between characters.
        auto blank = [&](std::size_t from) { return static_cast<int>(std::min(text.find(' ', from), text.size())); };
        const int third = blank(text.size() / 3);
        add_run(p, "bold", 0, blank(text.size() / 6));
        add_run(p, "italic", third, blank(2 * text.size() / 3));
        add_run(p, "underline", third, blank(third + 1));
        estimate += static_cast<long>(text.size()) + 80;
        if (i % 5 == 4) {
            NoteElement_t *a = gmenu_parse_xml_add(note.data, "am");
            const std::string value = std::to_string(random() % 1000000) + ".25";
            NumericCvASC(value.c_str(), static_cast<int>(value.size()), &a->am.value);
            a->am.required = 1;
            a->am.orsec = i;
            gmenu_parse_xml_add(note.data, "p")->p.text = Strcpy("");
            estimate += 200;
        }
        if (i % 20 == 1) {
            NoteElement_t *t = gmenu_parse_xml_add(note.data, "tag");
            t->tag.name = Strcpy("BLOCK");
            estimate += 90;
        }
    }
    return written(note);
}

const std::string &note_of(long size)
{
    static std::map<long, std::string> notes;
    auto [at, added] = notes.try_emplace(size);
    if (added) at->second = make_note(size);
    return at->second;
}

// The note reads and writes back to itself, and libxml2 reads it.
bool round_trips(const std::string &xml)
{
    Note note;
    if (gnote_parse_xml(note.data, xml.c_str(), 0) || written(note) != xml) return false;
    xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET);
    if (!doc) return false;
    xmlFreeDoc(doc);
    return true;
}

void BM_NoteRead(benchmark::State &state)
{
    const std::string &xml = note_of(state.range(0));
    if (!round_trips(xml)) state.SkipWithError("the note does not read and write back to itself");
    Note note;
    for (auto _ : state) {
        // The list of the previous pass first: the reader frees it only after reading the new one.
        gnote_free_xml(note.data);
        if (gnote_parse_xml(note.data, xml.c_str(), 0)) state.SkipWithError("the note does not read");
        benchmark::DoNotOptimize(note.data->note);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(xml.size()));
}

void BM_Libxml2Read(benchmark::State &state)
{
    const std::string &xml = note_of(state.range(0));
    for (auto _ : state) {
        xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET);
        if (!doc) state.SkipWithError("libxml2 does not read the note");
        xmlFreeDoc(doc);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(xml.size()));
}

void BM_NoteWrite(benchmark::State &state)
{
    const std::string &xml = note_of(state.range(0));
    Note note;
    if (gnote_parse_xml(note.data, xml.c_str(), 0)) state.SkipWithError("the note does not read");
    for (auto _ : state) {
        char *out = gnote_get_xml(note.data);
        benchmark::DoNotOptimize(out);
        sfree(out);
    }
    if (written(note) != xml) state.SkipWithError("the written note differs from the one read");
    state.SetBytesProcessed(state.iterations() * static_cast<long>(xml.size()));
}

void BM_Libxml2Dump(benchmark::State &state)
{
    const std::string &xml = note_of(state.range(0));
    xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET);
    if (!doc) {
        state.SkipWithError("libxml2 does not read the note");
        return;
    }
    for (auto _ : state) {
        xmlChar *out = nullptr;
        int size = 0;
        xmlDocDumpMemory(doc, &out, &size);
        benchmark::DoNotOptimize(out);
        xmlFree(out);
    }
    xmlFreeDoc(doc);
    state.SetBytesProcessed(state.iterations() * static_cast<long>(xml.size()));
}

long status_kib(const char *field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(field)) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// The peak of resident memory, above what the process held before, while the 1 MiB note is read
// and written and the list and string are freed; measured in a child, whose heap is first given
// back to the system and whose peak mark is reset.
void BM_NotePeakMemory(benchmark::State &state)
{
    const std::string &xml = note_of(state.range(0));
    long peak_kib = -1;
    for (auto _ : state) {
        int fds[2];
        if (pipe(fds) != 0) state.SkipWithError("no pipe");
        const pid_t child = fork();
        if (child == 0) {
            malloc_trim(0);
            std::FILE *refs = std::fopen("/proc/self/clear_refs", "w");
            if (refs) {
                std::fputs("5", refs);  // reset the peak mark to the current size
                std::fclose(refs);
            }
            const long before = status_kib("VmRSS:");
            bool read = false;
            {
                Note note;
                read = !gnote_parse_xml(note.data, xml.c_str(), 0);
                char *out = gnote_get_xml(note.data);
                sfree(out);
            }
            const long growth = refs && read ? status_kib("VmHWM:") - before : -1;
            (void)!write(fds[1], &growth, sizeof growth);
            _exit(0);
        }
        close(fds[1]);
        if (read(fds[0], &peak_kib, sizeof peak_kib) != sizeof peak_kib) peak_kib = -1;
        close(fds[0]);
        waitpid(child, nullptr, 0);
    }
    state.counters["peak_KiB"] = static_cast<double>(peak_kib);
    if (peak_kib < 0) state.SkipWithError("no peak measured");
    else if (peak_kib >= 10 * KiB) state.SkipWithError("reading and writing a 1 MiB note takes 10 MiB or more");
}

} // namespace

BENCHMARK(BM_NoteRead)->Arg(KiB)->Arg(64 * KiB)->Arg(KiB * KiB)->Arg(4 * KiB * KiB);
BENCHMARK(BM_Libxml2Read)->Arg(KiB)->Arg(64 * KiB)->Arg(KiB * KiB)->Arg(4 * KiB * KiB);
BENCHMARK(BM_NoteWrite)->Arg(KiB)->Arg(64 * KiB)->Arg(KiB * KiB)->Arg(4 * KiB * KiB);
BENCHMARK(BM_Libxml2Dump)->Arg(KiB)->Arg(64 * KiB)->Arg(KiB * KiB)->Arg(4 * KiB * KiB);
BENCHMARK(BM_NotePeakMemory)->Arg(KiB * KiB)->Iterations(1);

BENCHMARK_MAIN();
