// ICOPY and IREMOVE against their everyday peers in the same run: copying one file against cp,
// removing a tree of many empty files against rm -rf. A copy starts from a synced file system;
// only the copy or the removal itself is timed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <glib.h>

#include "file_intrinsics.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr long SMALL_FILE = 8L << 20, LARGE_FILE = 1L << 30;
constexpr long FEW_FILES = 1000, MANY_FILES = 100000;
constexpr long FILES_PER_DIRECTORY = 1000;

// A scratch directory for the whole run, removed at its end.
const std::string &scratch()
{
    static struct Dir {
        std::string path;
        Dir()
        {
            char *d = g_dir_make_tmp("file-bench-XXXXXX", nullptr);
            path = d;
            g_free(d);
        }
        ~Dir() { fs::remove_all(path); }
    } dir;
    return dir.path;
}

// Runs argv from the search path and waits; true when it exited with 0.
bool run(const std::vector<std::string> &argv)
{
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t child;
    if (posix_spawnp(&child, args[0], nullptr, nullptr, args.data(), environ) != 0) return false;
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// One source file per size, made on first use and kept for both peers.
const std::string &source_of(long size)
{
    static std::map<long, std::string> made;
    auto [it, fresh] = made.try_emplace(size, scratch() + "/source-" + std::to_string(size));
    if (fresh) {
        std::FILE *f = std::fopen(it->second.c_str(), "wb");
        std::vector<char> block(1 << 20);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 7);
        for (long done = 0; done < size; done += static_cast<long>(block.size()))
            std::fwrite(block.data(), 1, std::min<long>(static_cast<long>(block.size()), size - done), f);
        std::fclose(f);
    }
    return it->second;
}

void copy(benchmark::State &state, bool ours)
{
    const long size = state.range(0);
    const std::string &from = source_of(size);
    const std::string to = scratch() + "/copy";
    for (auto _ : state) {
        sync();
        const auto start = Clock::now();
        const bool ok = ours ? (icopy_file(from, to), true) : run({"cp", from, to});
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        struct stat st;
        if (!ok || stat(to.c_str(), &st) != 0 || st.st_size != size) {
            state.SkipWithError("the copy is not the source's size");
            break;
        }
        fs::remove(to);
    }
    state.SetBytesProcessed(state.iterations() * size);
}

// files empty files, FILES_PER_DIRECTORY to a directory, under a new tree.
std::string make_tree(long files)
{
    const std::string top = scratch() + "/tree";
    for (long i = 0; i < files; ++i) {
        const std::string dir = top + "/d" + std::to_string(i / FILES_PER_DIRECTORY);
        if (i % FILES_PER_DIRECTORY == 0) fs::create_directories(dir);
        const int fd = open((dir + "/f" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) close(fd);
    }
    return top;
}

void remove(benchmark::State &state, bool ours)
{
    const long files = state.range(0);
    for (auto _ : state) {
        const std::string tree = make_tree(files);
        const auto start = Clock::now();
        const bool ok = ours ? (iremove_path(tree), true) : run({"rm", "-rf", tree});
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (!ok || fs::exists(tree)) {
            state.SkipWithError("the tree is still there");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * files);
}

const bool registered = [] {
    for (bool ours : {true, false}) {
        benchmark::RegisterBenchmark(ours ? "copy/lumba" : "copy/cp", copy, ours)
            ->Arg(SMALL_FILE)->Arg(LARGE_FILE)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(ours ? "remove/lumba" : "remove/rm", remove, ours)
            ->Arg(FEW_FILES)->Arg(MANY_FILES)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
