// Filling an OpenDocument template (IINSERT_OO_DO's work, in-process: read the package, fill 20
// tokens in a content.xml of about 30 KB, styles.xml and meta.xml, write a new package) against a
// plain libzip copy of the same package, every entry read and written, in the same run. The smoke
// run checks that every token was replaced and that the copy holds every entry. A second pair
// fills a multi-row table (three tokens a row, 200, 1,000 and 10,000 rows) against the libzip copy
// of its template, with the process's peak memory as a counter.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <sys/resource.h>
#include <filesystem>
#include <string>
#include <vector>

#include <zip.h>

#include "odf_insert.h"
#include "odf_package.h"

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

} // namespace

BENCHMARK(BM_insert_oo_do)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_libzip_copy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_table_fill)->Arg(200)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_table_copy)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
