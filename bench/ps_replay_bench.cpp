// The replay of a print buffer into PostScript (psprint_replay) against enscript turning the same
// report lines into PostScript, in the same run; then ghostscript's render time of both outputs
// (nullpage device), and the peak memory of a replay of 10,000 and of 100,000 lines (a child per
// replay, its maximum resident size). The buffer has five segments a line, a two-line page heading,
// a footer and a multi-line remark every 500 lines (a note would need a program's Get_Note
// routine). The style tags file is the site's: the program runs under the with_site runner. Also
// the print conversion of a note of one long paragraph, against fold cutting the same text.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <fcntl.h>
#include <spawn.h>

#include "mem_mgt.h"
#include "note_print.h"
#include "print_handles.h"
#include "ps_replay.h"
#include "run_time.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;

const char *const TAGS = "mtag_base { print-family: Helvetica; print-size: 9pt; }\n"
                         "mtag_head { print-size: 14pt; print-weight: bold; }\n"
                         "mtag_code { print-family: Courier; }\n"
                         "mtag_right { print-align: right; }\n"
                         "mtag_amount { print-align: decimal; print-neg-colour: #ff0000; }\n"
                         "mtag_page { page-number: current; }\n"
                         "mtag_wrap { multi-line-wrap-width: 5cm; }\n";

const fs::path &dir()
{
    static const fs::path d = [] {
        char name[] = "/tmp/ps-replay-bench.XXXXXX";
        if (!mkdtemp(name)) std::abort();
        std::ofstream(std::string(PPATH_ROOT) + "/conf/tags", std::ios::trunc) << TAGS;
        return fs::path(name);
    }();
    return d;
}

std::string line_text(int i)
{
    char text[96];
    std::snprintf(text, sizeof text, "%06d  Item %-18d%6d%12d.%02d%12d.%02d%s", i, i * 7 % 1000, i % 97, i % 5000, i % 100,
                  i % 3000, i % 100, i % 13 == 0 ? "-" : "");
    return text;
}

// The buffer of lines report lines and the same lines as plain text for enscript.
struct Report {
    fs::path buffer, output, text;
};

Report make_report(int lines)
{
    const std::string name = "r" + std::to_string(lines);
    Report r{dir() / (name + ".ps.buf"), dir() / (name + ".ps"), dir() / (name + ".txt")};
    if (fs::exists(r.buffer)) return r;
    std::FILE *b = std::fopen(r.buffer.c_str(), "w");
    std::ofstream plain(r.text);
    psprint_write_record_type(b, PR_OPEN);
    for (const std::string &t : {std::string("mtag_base"), std::string(""), std::string("A4"), r.output.string(),
                                 std::string("C"), std::string("N")})
        psprint_write_text(b, t);
    psprint_write_record_type(b, PR_HEADER);
    psprint_write_text(b, "Stock valuation\rNumber  Item                 Count       Price       Value");
    psprint_write_text(b, "1,,2,,mtag_head\r1,,2,,mtag_code");
    for (int v : {0, 0, 0}) psprint_write_integer(b, v);
    psprint_write_real(b, 0);
    psprint_write_real(b, 0);
    psprint_write_record_type(b, PR_FOOTER);
    psprint_write_text(b, "Page");
    psprint_write_text(b, "1,,10,,mtag_page");
    const std::string format = "1,6,2,,mtag_code;7,24,4;31,6,10,,mtag_right;37,15,14,,mtag_amount;52,,18,,mtag_amount";
    for (int i = 1; i <= lines; ++i) {
        std::string text = line_text(i), f = format;
        plain << text << '\n';
        if (i % 500 == 0) {
            f = "1,6,2,,mtag_code;7,24,4;31,6,10,,mtag_right;37,15,14,,mtag_amount;52,15,18,,mtag_amount;67,,20,,mtag_wrap";
            text.resize(66, ' ');
            text += "A remark long enough to wrap onto the next two lines of the report";
        }
        psprint_write_record_type(b, PR_WRITE);
        psprint_write_text(b, text);
        psprint_write_text(b, f);
        psprint_write_text(b, "");
        psprint_write_real(b, 0);
    }
    psprint_write_record_type(b, PR_CLOSE);
    std::fclose(b);
    return r;
}

void replay(const Report &r)
{
    PrintHandle_t handle{};
    handle.path = Strcpy(r.buffer.c_str());
    psprint_replay(&handle);
    DPS_FREE(handle.path);
}

// Runs argv to its end; its exit status.
int run(std::vector<std::string> args)
{
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const bool started = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (!started || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int pages_of(const fs::path &ps)
{
    std::ifstream in(ps);
    int pages = 0;
    for (std::string line; std::getline(in, line);)
        if (line == "S" || line.starts_with("S (")) ++pages;
    return pages;
}

void BM_replay(benchmark::State &state)
{
    const Report r = make_report(10000);
    for (auto _ : state) replay(r);
    if (pages_of(r.output) < 100) state.SkipWithError("the replay wrote too few pages");
    state.counters["pages"] = pages_of(r.output);
}
BENCHMARK(BM_replay)->Unit(benchmark::kMillisecond);

void BM_enscript(benchmark::State &state)
{
    const Report r = make_report(10000);
    const fs::path out = dir() / "enscript.ps";
    for (auto _ : state)
        if (run({"enscript", "-q", "-B", "-f", "Courier9", "-p", out.string(), r.text.string()}) != 0)
            state.SkipWithError("enscript failed");
    state.counters["pages"] = pages_of(out);
}
BENCHMARK(BM_enscript)->Unit(benchmark::kMillisecond);

// ghostscript renders a report without output.
void render(benchmark::State &state, const fs::path &ps)
{
    for (auto _ : state)
        if (run({"gs", "-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=nullpage", ps.string()}) != 0)
            state.SkipWithError("ghostscript failed");
}

void BM_render_replay(benchmark::State &state)
{
    const Report r = make_report(10000);
    if (!fs::exists(r.output)) replay(r);
    render(state, r.output);
}
BENCHMARK(BM_render_replay)->Unit(benchmark::kMillisecond);

void BM_render_enscript(benchmark::State &state)
{
    const Report r = make_report(10000);
    const fs::path out = dir() / "enscript.ps";
    if (!fs::exists(out)) run({"enscript", "-q", "-B", "-f", "Courier9", "-p", out.string(), r.text.string()});
    render(state, out);
}
BENCHMARK(BM_render_enscript)->Unit(benchmark::kMillisecond);

// The peak resident size of a child that replays lines lines, in KiB.
void BM_peak_memory(benchmark::State &state)
{
    const Report r = make_report(static_cast<int>(state.range(0)));
    long peak = 0;
    for (auto _ : state) {
        const pid_t child = fork();
        if (child == 0) {
            replay(r);
            _exit(0);
        }
        int status = 0;
        rusage usage{};
        if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("the replaying child failed");
        peak = usage.ru_maxrss;
    }
    state.counters["peak_kib"] = static_cast<double>(peak);
}
BENCHMARK(BM_peak_memory)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

// A note of one paragraph of mib MiB of words: plain text, as a Get_Note routine may give it.
std::string long_note(long mib)
{
    std::string text;
    text.reserve(static_cast<std::size_t>(mib) << 20);
    while (text.size() < static_cast<std::size_t>(mib) << 20) text += "lorem ipsum dolor sit amet ";
    text.resize(static_cast<std::size_t>(mib) << 20);
    return text;
}

// The note field's segment of a report line: a 10 pt note wrapped at 4 cm, amounts after the text.
struct NoteSegment {
    NoteSegment()
    {
        tag = Alloc(PrintTag_t);
        tag->print_size = tag->screen_size = 10;
        tag->note_type = 1;
        tag->note_wrap_width = 4.0;
        value = FormatValue_t{1, 5, 12, 3.0, 2.0, tag, nullptr, nullptr};
    }
    ~NoteSegment() { postscript_print_tag_free(tag); }
    NoteSegment(const NoteSegment &) = delete;
    NoteSegment &operator=(const NoteSegment &) = delete;
    PrintTag_t *tag;
    FormatValue_t value;
};

// The print conversion of a note of 1, 2 or 10 MiB into its print lines (gnote_convert2print_note);
// the peer, fold -s cutting the same text at its blanks into lines of the same width.
void BM_note_print(benchmark::State &state)
{
    const std::string note = long_note(state.range(0));
    NoteSegment segment;
    PrintNote_t print{};
    print.note = Strcpy("N1");
    std::size_t lines = 0;
    for (auto _ : state) {
        gnote_convert2print_note(&print, note.c_str(), &segment.value, 0);
        lines = 0;
        for (const FormatValue_t *v = print.blocks ? print.blocks->items : nullptr; v; v = v->next) ++lines;
    }
    // Every line holds at most a line's width of the text: fewer lines than bytes / 30 lost text.
    if (!print.blocks || print.blocks->next || lines < note.size() / 30) state.SkipWithError("the note lost lines");
    state.counters["lines"] = static_cast<double>(lines);
    gnote_free_print_blocks(print.blocks);
    sfree(print.note);
}
BENCHMARK(BM_note_print)->Arg(1)->Arg(2)->Arg(10)->Unit(benchmark::kMillisecond);

void BM_note_print_fold(benchmark::State &state)
{
    const fs::path text = dir() / ("note" + std::to_string(state.range(0)) + ".txt");
    if (!fs::exists(text)) std::ofstream(text) << long_note(state.range(0));
    for (auto _ : state)
        if (run({"sh", "-c", "fold -s -w 24 \"$0\" > /dev/null", text.string()}) != 0) state.SkipWithError("fold failed");
}
BENCHMARK(BM_note_print_fold)->Arg(1)->Arg(2)->Arg(10)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
