// Child processes and external programs, each against a peer in the same run:
//   - 50 IEXTERNAL_PROGRAM_START of `true` in a row, each waited for until its follow-on would run,
//     against 50 g_spawn_sync of `/bin/sh -c true` collecting the output;
//   - MACH SP3 of `cat`, then 10,000 lines each written with WP and read back with RP, against
//     CPython 3 doing the same through a subprocess pipe (write, flush, readline), timing itself.
// Both run through the dispatchers, as a program calls them; the window side of START is replaced
// through its seam by a follow-on that only counts.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include <glib.h>

#include "applications.h"
#include "external_program.h"
#include "globals.h"
#include "interp.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "object_writer.h"
#include "python_peer.h"
#include "value_stack.h"

namespace {

constexpr int STARTS = 50;
constexpr int LINES = 10000;
const char *const LINE = "a line of some forty characters, and more";

// ---- A program to run in: main with a reference, a buffer and a count; routine 1 the follow-on --
constexpr int REF_AT = 0, BUFFER_AT = 16, BUFFER_SIZE = 100, CHARS = 128;

Interp_t *load_program()
{
    static Interp_t *context = [] {
        ObjectWriter w;
        w.routine("main", 2, CHARS, 0);
        w.record(o_exit, {});
        w.routine("done", 0, 0, 1);
        w.record(o_exit, {});
        char *dir = g_dir_make_tmp("process-bench-XXXXXX", nullptr);
        const std::string path = std::string(dir) + "/prog";
        g_free(dir);
        w.save(path, "prog", 2, CHARS);
        Interp_t *c = load_object(path);
        unlink(path.c_str());
        set_application_context(applications);
        Stk = c->Stk;
        return c;
    }();
    return context;
}

Stack text_constant(const char *t)
{
    Stack e{};
    e.s_t = string;
    e.flags = stk_ref;
    e.s_c.C_S = const_cast<char *>(t);
    e.length = e.s_dims[0] = static_cast<std::uint32_t>(std::strlen(t));
    return e;
}

Stack number(long v)
{
    Stack e{};
    e.s_t = real;
    NumericCvLONG(v, &e.num);
    e.s_c.C_N = &e.num;
    return e;
}

Stack text_variable(int at, int size)
{
    Stack e{};
    e.s_t = string;
    e.flags = stk_ref;
    e.s_c.C_S = routines[0].local_chars + at;
    e.length = static_cast<std::uint32_t>(strnlen(e.s_c.C_S, static_cast<std::size_t>(size)));
    e.s_dims[0] = static_cast<std::uint32_t>(size);
    return e;
}

Stack number_variable(int cell)
{
    Stack e{};
    e.s_t = real;
    e.flags = stk_ref;
    e.s_c.C_N = routines[0].local_numerics + cell;
    return e;
}

// A statement intrinsic with the arguments on the value stack, as the executor calls it.
void statement(int code, std::initializer_list<Stack> args)
{
    sp = -1;
    for (const Stack &a : args) Stk[++sp] = a;
    c_intrins(code, static_cast<int>(args.size()), sp);
}

// ---- START against g_spawn_sync ---------------------------------------------------------------------

int follow_ons;
char window_record;
ControlMatrix_t *bench_cm(const Stack *) { return reinterpret_cast<ControlMatrix_t *>(&window_record); }
void bench_attach(ExternalJob_t *, const Stack *, int) {}
void bench_detach(ExternalJob_t *) {}
void bench_follow_on(ExternalJob_t *, const std::string &output)
{
    if (output.empty()) ++follow_ons;
}

void BM_external_program_start(benchmark::State &state)
{
    load_program();
    const ExternalProgramHooks saved = register_external_program_hooks({bench_cm, bench_attach, bench_detach, bench_follow_on});
    follow_ons = 0;
    for (auto _ : state)
        for (int i = 0; i < STARTS; ++i)
            statement(in_IEXTERNAL_PROGRAM_START, {text_constant("true"), number(1), number(1)});
    register_external_program_hooks(saved);
    if (follow_ons != STARTS * static_cast<int>(state.iterations())) state.SkipWithError("a follow-on was missed");
    state.SetItemsProcessed(state.iterations() * STARTS);
}

void BM_g_spawn_sync(benchmark::State &state)
{
    const char *argv[] = {"/bin/sh", "-c", "true", nullptr};
    for (auto _ : state)
        for (int i = 0; i < STARTS; ++i) {
            char *out = nullptr;
            int status = -1;
            if (!g_spawn_sync(nullptr, const_cast<char **>(argv), nullptr, G_SPAWN_STDERR_TO_DEV_NULL, nullptr, nullptr,
                              &out, nullptr, &status, nullptr) ||
                status != 0)
                state.SkipWithError("sh -c true failed");
            g_free(out);
        }
    state.SetItemsProcessed(state.iterations() * STARTS);
}

// ---- MACH round trips against CPython ----------------------------------------------------------------

void BM_mach_round_trip(benchmark::State &state)
{
    load_program();
    const std::string line = std::string(LINE) + "\n";
    const Stack ref = text_variable(REF_AT, 4);
    long lines_back = 0;
    for (auto _ : state) {
        statement(in_MACH, {text_constant("SP3"), ref, text_constant("cat")});
        for (int i = 0; i < LINES; ++i) {
            statement(in_MACH, {text_constant("WP"), ref, text_constant(line.c_str())});
            NumericCvLONG(BUFFER_SIZE, routines[0].local_numerics);
            statement(in_MACH, {text_constant("RP"), ref, text_variable(BUFFER_AT, BUFFER_SIZE), number_variable(0)});
            long n = 0;
            NumericToLONG(routines[0].local_numerics, &n);
            if (n == static_cast<long>(std::strlen(LINE))) ++lines_back;
        }
        statement(in_MACH, {text_constant("CO"), ref});
        statement(in_MACH, {text_constant("TP1"), ref, text_variable(BUFFER_AT, BUFFER_SIZE)});
    }
    if (lines_back != LINES * static_cast<long>(state.iterations())) state.SkipWithError("a line did not come back");
    state.SetItemsProcessed(state.iterations() * LINES);
}

// CPython starts cat, times its own round trips and prints the seconds and the lines that came
// back. The work is mostly waiting on the pipe, so both sides are timed by the wall clock.
void BM_python_subprocess(benchmark::State &state)
{
    python_peer(state,
                "import subprocess\n"
                "line = b'" + std::string(LINE) + "\\n'\n"
                "t = time.perf_counter()\n"
                "p = subprocess.Popen(['cat'], stdin=subprocess.PIPE, stdout=subprocess.PIPE)\n"
                "back = 0\n"
                "for i in range(" + std::to_string(LINES) + "):\n"
                "    p.stdin.write(line); p.stdin.flush()\n"
                "    back += p.stdout.readline() == line\n"
                "p.stdin.close(); p.wait()\n"
                "print(time.perf_counter() - t, back)\n",
                std::to_string(LINES));
    state.SetItemsProcessed(state.iterations() * LINES);
}

} // namespace

BENCHMARK(BM_external_program_start)->Name("lumba/external_program_start_x50")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_g_spawn_sync)->Name("glib/g_spawn_sync_sh_x50")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_mach_round_trip)->Name("lumba/mach_cat_round_trips_x10000")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_python_subprocess)->Name("cpython/subprocess_cat_round_trips_x10000")->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
