// Filling an OpenDocument template (IINSERT_OO_DO's work, in-process: read the package, fill 20
// tokens in a content.xml of about 30 KB, styles.xml and meta.xml, write a new package) against a
// plain libzip copy of the same package, every entry read and written, in the same run. The smoke
// run checks that every token was replaced and that the copy holds every entry. A second pair
// fills a multi-row table (three tokens a row, 200, 1,000 and 10,000 rows) against the libzip copy
// of its template, with the process's peak memory as a counter. Children fill a template with a
// 200 MB picture (against a libzip copy of it) and hostile packages (forged sizes, zip bombs,
// duplicate and backslash names); the smoke run holds their peak memory to its bounds and wants a
// clear stop from each hostile one.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <string>
#include <vector>

#include <zip.h>

#include "hostile_zip.h"
#include "odf_insert.h"
#include "odf_package.h"
#include "report_sink.h"

namespace {

namespace fs = std::filesystem;

constexpr int TOKENS = 20;
constexpr std::size_t CONTENT_SIZE = 30 * 1024;

const char *const NS = "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                       "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
                       "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
                       "xmlns:meta=\"urn:oasis:names:tc:opendocument:xmlns:meta:1.0\"";

std::string content()
{
    std::string body;
    for (int i = 0; body.size() < CONTENT_SIZE; ++i) {
        body += "<text:p text:style-name=\"P1\">Paragraph " + std::to_string(i) +
                " of the letter, with some ordinary words to fill the line";
        if (i < TOKENS) body += " and the value {T" + std::to_string(i) + "} in it";
        body += ".</text:p>\n";
    }
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content ") + NS +
           "><office:automatic-styles><style:style style:name=\"P1\" style:family=\"paragraph\"/>"
           "</office:automatic-styles><office:body><office:text>" +
           body + "</office:text></office:body></office:document-content>\n";
}

struct Template {
    fs::path dir, source, target, copy;
    Template()
    {
        char name[] = "/tmp/odf-bench.XXXXXX";
        dir = mkdtemp(name);
        source = dir / "template.odt";
        target = dir / "filled.odt";
        copy = dir / "copy.odt";
        const std::vector<std::pair<std::string, std::string>> parts = {
            {"mimetype", "application/vnd.oasis.opendocument.text"},
            {"META-INF/manifest.xml", "<?xml version=\"1.0\"?>\n<manifest:manifest/>"},
            {"content.xml", content()},
            {"styles.xml", std::string("<?xml version=\"1.0\"?>\n<office:document-styles ") + NS +
                               "><office:automatic-styles><style:style style:name=\"M\"/></office:automatic-styles>"
                               "<office:master-styles><text:p>{T0}</text:p></office:master-styles></office:document-styles>"},
            {"meta.xml", std::string("<?xml version=\"1.0\"?>\n<office:document-meta ") + NS +
                             "><office:meta><meta:generator>Bench</meta:generator><meta:editing-cycles>1"
                             "</meta:editing-cycles></office:meta></office:document-meta>"},
        };
        write_package(source, parts);
    }
    ~Template() { fs::remove_all(dir); }
    static void write_package(const fs::path &path, const std::vector<std::pair<std::string, std::string>> &parts)
    {
        int error = 0;
        zip_t *za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        for (const auto &[name, data] : parts) {
            zip_source_t *s = zip_source_buffer(za, data.data(), data.size(), 0);
            const zip_int64_t i = zip_file_add(za, name.c_str(), s, 0);
            if (name == "mimetype") zip_set_file_compression(za, static_cast<zip_uint64_t>(i), ZIP_CM_STORE, 0);
        }
        zip_close(za);
    }
};

const Template &the_template()
{
    static const Template t;
    return t;
}

// The peer: every entry read and written into a new archive, as the filling does.
int libzip_copy(const char *from, const char *to)
{
    int error = 0;
    zip_t *in = zip_open(from, ZIP_RDONLY, &error);
    zip_t *out = zip_open(to, ZIP_CREATE | ZIP_TRUNCATE, &error);
    std::vector<std::string> data;
    const zip_int64_t n = zip_get_num_entries(in, 0);
    data.reserve(static_cast<std::size_t>(n));
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        zip_stat_index(in, static_cast<zip_uint64_t>(i), 0, &st);
        zip_file_t *f = zip_fopen_index(in, static_cast<zip_uint64_t>(i), 0);
        std::string &d = data.emplace_back(st.size, '\0');
        zip_fread(f, d.data(), st.size);
        zip_fclose(f);
        zip_source_t *s = zip_source_buffer(out, d.data(), d.size(), 0);
        const zip_int64_t j = zip_file_add(out, st.name, s, 0);
        if (i == 0) zip_set_file_compression(out, static_cast<zip_uint64_t>(j), ZIP_CM_STORE, 0);
    }
    zip_close(out);
    zip_close(in);
    return static_cast<int>(n);
}

void BM_insert_oo_do(benchmark::State &state)
{
    const Template &t = the_template();
    // A handle of the registry's own kind with 20 plain text values; no style tags, so the site's
    // tags file is not needed.
    InsertOoHandle_t handle;
    for (int i = 0; i < TOKENS; ++i) {
        auto value = std::make_unique<InsertOoValue_t>();
        value->text = insert_oo_parse_text("value number " + std::to_string(i) + " & more");
        insert_oo_add_item(&handle, std::move(value), IOO_TP_TEXT, "{T" + std::to_string(i) + "}");
    }
    int cycles = 0;
    std::string generator;
    for (auto _ : state) benchmark::DoNotOptimize(insert_oo_fill(&handle, t.source.c_str(), t.target.c_str(), &cycles, &generator));
    OdfPackage filled = insert_oo_open_doc(t.target.c_str());
    const std::string &text = odf_entry(filled, "content.xml")->data;
    if (text.find("{T") != std::string::npos || text.find("value number 19 &amp; more") == std::string::npos ||
        generator != "Bench")
        state.SkipWithError("the template was not filled");
}

void BM_libzip_copy(benchmark::State &state)
{
    const Template &t = the_template();
    int entries = 0;
    for (auto _ : state) benchmark::DoNotOptimize(entries = libzip_copy(t.source.c_str(), t.copy.c_str()));
    if (entries != 5) state.SkipWithError("the copy lost entries");
}

// A template whose table has a header row, the row {D} {T} {A} and a total row.
struct TableTemplate {
    fs::path dir, source, target, copy;
    TableTemplate()
    {
        char name[] = "/tmp/odf-bench.XXXXXX";
        dir = mkdtemp(name);
        source = dir / "table.odt";
        target = dir / "filled.odt";
        copy = dir / "copy.odt";
        auto row = [](const char *a, const char *b, const char *c) {
            return std::string("<table:table-row><table:table-cell><text:p>") + a +
                   "</text:p></table:table-cell><table:table-cell><text:p>" + b +
                   "</text:p></table:table-cell><table:table-cell><text:p>" + c +
                   "</text:p></table:table-cell></table:table-row>";
        };
        const std::string content =
            std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content ") + NS +
            " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\"><office:automatic-styles>"
            "<style:style style:name=\"P1\" style:family=\"paragraph\"/></office:automatic-styles><office:body>"
            "<office:text><text:p>Statement</text:p><table:table table:name=\"Lines\"><table:table-column "
            "table:number-columns-repeated=\"3\"/>" +
            row("Date", "Text", "Amount") + row("{D}", "{T}", "{A}") + row("", "Total", "") +
            "</table:table></office:text></office:body></office:document-content>\n";
        Template::write_package(
            source, {{"mimetype", "application/vnd.oasis.opendocument.text"},
                     {"META-INF/manifest.xml", "<?xml version=\"1.0\"?>\n<manifest:manifest/>"},
                     {"content.xml", content},
                     {"styles.xml", std::string("<?xml version=\"1.0\"?>\n<office:document-styles ") + NS +
                                        "><office:automatic-styles><style:style style:name=\"M\"/>"
                                        "</office:automatic-styles><office:master-styles><text:p>Page</text:p>"
                                        "</office:master-styles></office:document-styles>"},
                     {"meta.xml", std::string("<?xml version=\"1.0\"?>\n<office:document-meta ") + NS +
                                      "><office:meta><meta:generator>Bench</meta:generator></office:meta>"
                                      "</office:document-meta>"}});
    }
    ~TableTemplate() { fs::remove_all(dir); }
};

const TableTemplate &the_table_template()
{
    static const TableTemplate t;
    return t;
}

void add_text(InsertOoHandle_t &handle, const char *token, const std::string &text)
{
    auto value = std::make_unique<InsertOoValue_t>();
    value->text = insert_oo_parse_text(text);
    insert_oo_add_item(&handle, std::move(value), IOO_TP_TEXT, token);
}

// A handle with rows lines of date, text and amount for the table template.
void table_values(InsertOoHandle_t &handle, int rows)
{
    handle.multi_table.push_back({"{D}", nullptr});
    for (int i = 0; i < rows; ++i) {
        add_text(handle, "{D}", "2026-12-" + std::to_string(1 + i % 28));
        add_text(handle, "{T}", "Line " + std::to_string(i) + " of the statement");
        add_text(handle, "{A}", std::to_string(i) + ".50");
    }
}

void BM_table_fill(benchmark::State &state)
{
    const TableTemplate &t = the_table_template();
    const auto rows = static_cast<int>(state.range(0));
    InsertOoHandle_t handle;
    table_values(handle, rows);
    int cycles = 0;
    std::string generator;
    for (auto _ : state)
        benchmark::DoNotOptimize(insert_oo_fill(&handle, t.source.c_str(), t.target.c_str(), &cycles, &generator));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    OdfPackage filled = insert_oo_open_doc(t.target.c_str());
    const std::string &text = odf_entry(filled, "content.xml")->data;
    std::size_t made = 0;
    for (std::size_t at = 0; (at = text.find("<table:table-row>", at)) != std::string::npos; ++at) ++made;
    const std::string last = "Line " + std::to_string(rows - 1) + " of the statement";
    if (made != static_cast<std::size_t>(rows) + 1 || text.find(last) == std::string::npos ||
        text.find('{') != std::string::npos || text.find("Total") != std::string::npos)
        state.SkipWithError("the table was not filled");
}

// The peer of the 200-row fill: a copy of a package as large as the one the fill writes (the
// template filled once), read and written entry by entry.
void BM_table_copy(benchmark::State &state)
{
    const TableTemplate &t = the_table_template();
    const fs::path filled = t.dir / "filled-200.odt";
    {
        InsertOoHandle_t handle;
        table_values(handle, 200);
        int cycles = 0;
        std::string generator;
        insert_oo_fill(&handle, t.source.c_str(), filled.c_str(), &cycles, &generator);
    }
    int entries = 0;
    for (auto _ : state) benchmark::DoNotOptimize(entries = libzip_copy(filled.c_str(), t.copy.c_str()));
    if (entries != 5) state.SkipWithError("the copy lost entries");
}

// ---- Big and hostile packages, each filled by a child process ----------------------------------

// The child's fatal report: its text on standard error and the end of the child, status 3.
void child_report(const Report &report)
{
    if (report.kind != ReportKind::fatal) return;
    std::fprintf(stderr, "%s\n", report.text);
    std::fflush(stderr);
    _exit(3);
}

long resident_kib()
{
    long pages = 0, resident = 0;
    if (std::FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct ChildRun {
    int status = -1;
    std::string err;
    double base_mb = 0, peak_mb = 0;
};

// Runs work in a forked child: its exit status, what it wrote on standard error, the resident size
// it had before the work (told through a shared page) and its peak (the child's getrusage).
template <class Work> ChildRun in_child(Work work)
{
    ChildRun run;
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return run;
    void *page = mmap(nullptr, sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) return run;
    auto *base = static_cast<volatile long *>(page);
    *base = 0;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], 2);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        set_report_sink(child_report);
        *base = resident_kib();
        _exit(work());
    }
    close(pipe_fds[1]);
    char buffer[4096];
    for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) run.err.append(buffer, static_cast<std::size_t>(n));
    close(pipe_fds[0]);
    rusage usage{};
    int status = 0;
    if (wait4(pid, &status, 0, &usage) == pid) run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.peak_mb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    run.base_mb = static_cast<double>(*base) / 1024.0;
    munmap(page, sizeof(long));
    return run;
}

const char *const BIG_CONTENT = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content><office:body>"
                                "<office:text><text:p>Dear {T0}</text:p></office:text></office:body>"
                                "</office:document-content>\n";
const char *const BIG_HEAD = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content>";

std::vector<hostile_zip::Entry> parts(std::vector<hostile_zip::Entry> extra)
{
    std::vector<hostile_zip::Entry> entries{
        {"mimetype", "application/vnd.oasis.opendocument.text", {}},
        {"META-INF/manifest.xml", "<?xml version=\"1.0\"?>\n<manifest:manifest/>", {}},
        {"content.xml", BIG_CONTENT, {}},
        {"styles.xml", "<?xml version=\"1.0\"?>\n<office:document-styles><office:master-styles><text:p>P</text:p>"
                       "</office:master-styles></office:document-styles>", {}},
        {"meta.xml", "<?xml version=\"1.0\"?>\n<office:document-meta><office:meta><meta:generator>Bench"
                     "</meta:generator></office:meta></office:document-meta>", {}}};
    for (auto &e : extra) {
        auto same = std::find_if(entries.begin(), entries.end(), [&](const auto &p) { return p.name == e.name; });
        if (same != entries.end() && e.text != "#second") *same = std::move(e);
        else entries.push_back(std::move(e));
    }
    return entries;
}

hostile_zip::Entry with(std::string name, hostile_zip::Stored stored) { return {std::move(name), {}, std::move(stored)}; }

constexpr std::uint64_t MiB = 1 << 20;
constexpr std::uint64_t PICTURE_MIB = 200;

struct BigTemplates {
    fs::path dir;
    BigTemplates()
    {
        char name[] = "/tmp/odf-bench.XXXXXX";
        dir = mkdtemp(name);
    }
    ~BigTemplates() { fs::remove_all(dir); }
    fs::path make(const std::string &name, const std::vector<hostile_zip::Entry> &entries) const
    {
        const fs::path path = dir / name;
        if (!fs::exists(path)) hostile_zip::write(path, entries);
        return path;
    }
    // A letter with a photograph of 200 MB, stored as photographs are.
    fs::path picture() const
    {
        std::string block(MiB, '\0');
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 2654435761u >> 13);
        return make("picture.odt", parts({with("Pictures/photo.jpg", hostile_zip::stored(block, PICTURE_MIB))}));
    }
};

const BigTemplates &big_templates()
{
    static const BigTemplates t;
    return t;
}

int fill_in_child(const fs::path &source, const fs::path &target)
{
    InsertOoHandle_t handle;
    add_text(handle, "{T0}", "Ms Who");
    int cycles = 0;
    std::string generator;
    return insert_oo_fill(&handle, source.c_str(), target.c_str(), &cycles, &generator) == 1 ? 0 : 1;
}

// The peer: the package copied entry by entry with libzip, every entry's compressed bytes as
// they are (zip_source_zip), into a new archive file.
int copy_in_child(const fs::path &source, const fs::path &target)
{
    int error = 0;
    zip_t *in = zip_open(source.c_str(), ZIP_RDONLY, &error);
    zip_t *out = zip_open(target.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    const zip_int64_t n = zip_get_num_entries(in, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        zip_stat_index(in, static_cast<zip_uint64_t>(i), 0, &st);
        const zip_int64_t j = zip_file_add(out, st.name, zip_source_zip(out, in, static_cast<zip_uint64_t>(i), 0, 0, -1), 0);
        if (st.comp_method == ZIP_CM_STORE) zip_set_file_compression(out, static_cast<zip_uint64_t>(j), ZIP_CM_STORE, 0);
    }
    const int closed = zip_close(out);
    zip_close(in);
    return closed == 0 ? 0 : 1;
}

// Peak memory above the start of the child: the smoke run holds it under 64 MB.
constexpr double PICTURE_GROWTH_MB = 64;

void picture_case(benchmark::State &state, int (*run)(const fs::path &, const fs::path &))
{
    const fs::path source = big_templates().picture(), target = big_templates().dir / "out.odt";
    ChildRun last;
    for (auto _ : state) last = in_child([&] { return run(source, target); });
    state.counters["base_MB"] = last.base_mb;
    state.counters["peak_MB"] = last.peak_mb;
    if (last.status != 0) return state.SkipWithError(("the child failed: " + last.err).c_str());
    if (last.peak_mb - last.base_mb > PICTURE_GROWTH_MB) state.SkipWithError("more than 64 MB above the child's start");
    int error = 0;
    zip_t *za = zip_open(target.c_str(), ZIP_RDONLY, &error);
    zip_stat_t st;
    const bool kept = za && zip_stat(za, "Pictures/photo.jpg", 0, &st) == 0 && st.comp_method == ZIP_CM_STORE &&
                      st.size == PICTURE_MIB * MiB;
    if (za) zip_discard(za);
    if (!kept) state.SkipWithError("the picture did not come through stored and whole");
}

void BM_picture_fill(benchmark::State &state) { picture_case(state, fill_in_child); }
void BM_picture_copy(benchmark::State &state) { picture_case(state, copy_in_child); }

// Hostile packages: each must end in a clear stop naming its entry, promptly and in little memory.
constexpr double HOSTILE_PEAK_MB = 300;

struct HostileCase {
    const char *name;
    std::vector<hostile_zip::Entry> (*entries)();
    const char *refusal;  // what the stop says after the entry's name
};

const std::string &zeros()
{
    static const std::string z(MiB, '\0');
    return z;
}

const HostileCase hostile_cases[] = {
    {"forged_1TiB", [] { return parts({with("content.xml", hostile_zip::forged("<?xml?>", 1ull << 40))}); },
     "Entry content.xml of the OpenOffice document"},
    {"forged_4GiB", [] { return parts({with("content.xml", hostile_zip::forged("<?xml?>", 0xFFFFFFF0))}); },
     "Entry content.xml of the OpenOffice document"},
    {"content_2GiB_zeros", [] { return parts({with("content.xml", hostile_zip::deflated(BIG_HEAD, zeros(), 2048))}); },
     "Entry content.xml of the OpenOffice document"},
    {"content_1GB_blanks",
     [] { return parts({with("content.xml", hostile_zip::deflated(BIG_HEAD, std::string(MiB, ' '), 1000))}); },
     "Entry content.xml of the OpenOffice document"},
    {"extra_2GiB_zeros", [] { return parts({with("zeros.bin", hostile_zip::deflated("", zeros(), 2048))}); },
     "Entry zeros.bin of the OpenOffice document"},
    {"duplicate_names", [] { return parts({{"content.xml", "#second", {}}}); },
     "Entry content.xml of the OpenOffice document"},
    {"backslash_name", [] { return parts({{"..\\..\\win", "x", {}}}); }, "Entry ..\\..\\win of the OpenOffice document"},
};

void BM_hostile(benchmark::State &state)
{
    const HostileCase &c = hostile_cases[state.range(0)];
    state.SetLabel(c.name);
    const fs::path source = big_templates().make(std::string(c.name) + ".odt", c.entries()),
                   target = big_templates().dir / "out.odt";
    ChildRun last;
    for (auto _ : state) last = in_child([&] { return fill_in_child(source, target); });
    state.counters["base_MB"] = last.base_mb;
    state.counters["peak_MB"] = last.peak_mb;
    if (last.status != 3 || last.err.find(c.refusal) != 0 || last.err.find(" refused: ") == std::string::npos)
        return state.SkipWithError(("no clear stop: " + last.err).c_str());
    if (last.peak_mb > HOSTILE_PEAK_MB) state.SkipWithError("above 300 MB");
}

} // namespace

BENCHMARK(BM_picture_fill)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_picture_copy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_hostile)->DenseRange(0, std::size(hostile_cases) - 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_insert_oo_do)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_libzip_copy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_table_fill)->Arg(200)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_table_copy)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
