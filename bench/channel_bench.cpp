// File channels against their everyday peers in the same run: lines of 100 bytes written with
// WRITE and read back with READ on a sequential channel, against mawk '{print}' copying the same
// file and a CPython write and readline loop in a function; 128-byte records read by READ with REC
// on a random channel, against a CPython os.pread loop. The argument is the number of lines or
// records; items per second are lines or records per second. Every side is timed by the processor
// time of the work itself (program start-up excluded).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>

#include <glib.h>

#include "applications.h"
#include "executor.h"
#include "fileio.h"
#include "globals.h"
#include "intrinsics.h"
#include "object_writer.h"
#include "python_peer.h"

extern char **environ;

namespace {

constexpr int LINE = 99;     // a line's text; its line end makes it 100 bytes
constexpr int RECORD = 128;  // a random record
constexpr int I = 0;         // the loop's counter cell
constexpr int A = 0, B = 128, CHARS = B + RECORD + 1;  // A$ (the line to write) and B$ (read into)

const ScratchDir &scratch()
{
    static const ScratchDir dir;
    return dir;
}

// The text of line or record k: filler, then k in eight digits.
std::string numbered(std::size_t length, char fill, long k)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08ld", k % 100000000);
    return std::string(length - 8, fill) + digits;
}
std::string line_text(long k) { return numbered(LINE, 'x', k); }
std::string record_text(long k) { return numbered(RECORD - 1, 'r', k); }  // and its zero byte

// The input files, made once per count: n lines, and n records each ending in a zero byte.
std::string made_file(const char *kind, long n, std::string (*text)(long), char end)
{
    const std::string path = scratch() / (kind + std::to_string(n)).c_str();
    if (!g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) {
        std::string all;
        for (long k = 1; k <= n; ++k) all += text(k) + end;
        g_file_set_contents(path.c_str(), all.data(), static_cast<gssize>(all.size()), nullptr);
    }
    return path;
}
std::string lines_file(long n) { return made_file("lines", n, line_text, '\n'); }
std::string records_file(long n) { return made_file("records", n, record_text, '\0'); }

// OPEN(LFN=1, FILE=path, ORG=org, OPT=opt [, RECLEN=reclen]).
void open_channel(ObjectWriter &w, const std::string &path, const char *org, int opt, int reclen = 0)
{
    w.constant("1"), w.parameter(ioc_lfn);
    w.text(path.c_str()), w.parameter(ioc_file);
    w.text(org), w.parameter(ioc_org);
    w.constant(std::to_string(opt).c_str()), w.parameter(ioc_opt);
    if (reclen) w.constant(std::to_string(reclen).c_str()), w.parameter(ioc_reclen);
    w.record(o_callio, {callio_open, 0});
}

void close_channel(ObjectWriter &w)
{
    w.constant("1"), w.parameter(ioc_lfn);
    w.record(o_callio, {callio_close, 0});
}

enum Work { WRITE_LINES, READ_LINES, READ_RECORDS };

// The program of one benchmark over n lines or records of path.
void write_program(const std::string &object, Work work, const std::string &path, long n)
{
    ObjectWriter w;
    w.routine("main", 1, CHARS, 0);
    if (work == WRITE_LINES) {
        open_channel(w, path, "S", 1);
        w.text(line_text(n).c_str()), w.store_text(A, LINE);
        // WRITE(LFN=1) A$, LF$
        w.counted_loop(I, n, [&] {
            w.constant("1"), w.parameter(ioc_lfn);
            w.load_text(A, LINE);
            w.record(o_ifcalls, {in_LF, 0});
            w.record(o_callio, {callio_write, 2});
        });
    } else {
        if (work == READ_LINES) open_channel(w, path, "S", 0);
        else open_channel(w, path, "R", 0, RECORD);
        // READ(LFN=1) B$, or READ(LFN=1, MODE="R", REC=I) B$
        w.counted_loop(I, n, [&] {
            w.constant("1"), w.parameter(ioc_lfn);
            if (work == READ_RECORDS) {
                w.text("R"), w.parameter(ioc_mode);
                w.load(I), w.parameter(ioc_rec);
            }
            w.address_text(B, RECORD);
            w.record(o_callio, {callio_read, 1});
        });
    }
    close_channel(w);
    w.record(o_exit, {});
    w.save(object, "channels", 1, CHARS);
}

void BM_lumba(benchmark::State &state, Work work)
{
    const long n = state.range(0);
    const std::string path = work == WRITE_LINES ? scratch() / "written" : work == READ_LINES ? lines_file(n) : records_file(n);
    const std::string object = scratch() / "channels";
    write_program(object, work, path, n);
    static const bool channels = [] {
        initialize_files();
        max_files = FILE_TABLE_SIZE;  // as start-up takes it without an F variable
        return true;
    }();
    (void)channels;
    Interp_t *context = load_object(object);
    const char *b = context->routines[0].local_chars + B;
    for (auto _ : state) {
        run_program(context);
    }
    // What the last turn wrote or read: the whole file, or the last line or record in B$.
    bool right;
    if (work == WRITE_LINES) {
        gchar *written = nullptr;
        gsize size = 0;
        right = g_file_get_contents(path.c_str(), &written, &size, nullptr) && size == static_cast<gsize>(n) * (LINE + 1) &&
                std::string(written + size - LINE - 1, LINE + 1) == line_text(n) + '\n';
        g_free(written);
    } else {
        right = std::string(b) == (work == READ_LINES ? line_text(n) : record_text(n));
    }
    if (!right) state.SkipWithError("the channel did not carry the lines or records");
    state.SetItemsProcessed(state.iterations() * n);
}

// mawk '{print}' over the lines into a file, timed by the processor time it used.
void BM_mawk(benchmark::State &state)
{
    const long n = state.range(0);
    const std::string in = lines_file(n), out = scratch() / "mawk.out";
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const char *argv[] = {"mawk", "{print}", in.c_str(), nullptr};
        rusage before{}, after{};
        getrusage(RUSAGE_CHILDREN, &before);
        pid_t child;
        int status = 0;
        const bool ran = posix_spawnp(&child, "mawk", &actions, nullptr, const_cast<char **>(argv), environ) == 0 &&
                         waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        posix_spawn_file_actions_destroy(&actions);
        getrusage(RUSAGE_CHILDREN, &after);
        if (!ran) {
            state.SkipWithError("cannot run mawk");
            return;
        }
        auto seconds = [](const rusage &u) {
            return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                   static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
        };
        state.SetIterationTime(seconds(after) - seconds(before));
    }
    gchar *copied = nullptr;
    gsize size = 0;
    if (!g_file_get_contents(out.c_str(), &copied, &size, nullptr) || size != static_cast<gsize>(n) * (LINE + 1))
        state.SkipWithError("mawk did not copy the lines");
    g_free(copied);
    state.SetItemsProcessed(state.iterations() * n);
}

// CPython in a function: writing the lines, reading them with readline, reading the records with
// os.pread; each prints the last line or record's number as its check.
void BM_python(benchmark::State &state, Work work)
{
    const long n = state.range(0);
    std::string run;
    if (work == WRITE_LINES) {
        run = "def run(path, n):\n"
              "    line = 'x' * 91\n"
              "    with open(path, 'w') as f:\n"
              "        for i in range(1, n + 1):\n"
              "            f.write(line + '%08d\\n' % i)\n"
              "    return i\n"
              "path = '" + scratch() / "python.out" + "'\n";
    } else if (work == READ_LINES) {
        run = "def run(path, n):\n"
              "    with open(path) as f:\n"
              "        for i in range(n):\n"
              "            line = f.readline()\n"
              "    return int(line[-9:])\n"
              "path = '" + lines_file(n) + "'\n";
    } else {
        run = "def run(path, n):\n"
              "    fd = os.open(path, os.O_RDONLY)\n"
              "    for i in range(n):\n"
              "        record = os.pread(fd, 128, i * 128)\n"
              "    os.close(fd)\n"
              "    return int(record[-9:-1])\n"
              "path = '" + records_file(n) + "'\n";
    }
    python_peer(state, run + "t = time.process_time()\n"
                             "x = run(path, " + std::to_string(n) + ")\n"
                             "print(time.process_time() - t, x)\n",
                std::to_string(n));
    state.SetItemsProcessed(state.iterations() * n);
}

} // namespace

// 10,000 for the smoke run, 1,000,000 for the figures.
#define COUNTS Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond)
BENCHMARK_CAPTURE(BM_lumba, write_lines, WRITE_LINES)->Name("lumba/write_lines")->COUNTS;
BENCHMARK_CAPTURE(BM_lumba, read_lines, READ_LINES)->Name("lumba/read_lines")->COUNTS;
BENCHMARK(BM_mawk)->Name("mawk/print")->UseManualTime()->COUNTS;
BENCHMARK_CAPTURE(BM_python, write_lines, WRITE_LINES)->Name("cpython/write_lines")->UseManualTime()->COUNTS;
BENCHMARK_CAPTURE(BM_python, read_lines, READ_LINES)->Name("cpython/readline")->UseManualTime()->COUNTS;
BENCHMARK_CAPTURE(BM_lumba, read_records, READ_RECORDS)->Name("lumba/read_by_rec")->COUNTS;
BENCHMARK_CAPTURE(BM_python, read_records, READ_RECORDS)->Name("cpython/pread")->UseManualTime()->COUNTS;

BENCHMARK_MAIN();
