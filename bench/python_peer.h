// CPython 3 as a peer: each iteration runs a script that times its own work with
// time.process_time, the processor time Google Benchmark also counts (interpreter start-up
// excluded), and prints the seconds and a check value.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>

#include <benchmark/benchmark.h>
#include <glib.h>

// Runs "import decimal, os, time" followed by script once per iteration; the first word it
// prints is the iteration's time, the second must equal expect (the work's result).
inline void python_peer(benchmark::State &state, const std::string &script, const std::string &expect)
{
    const std::string program = "import decimal, os, time\n" + script;
    for (auto _ : state) {
        const char *argv[] = {"python3", "-c", program.c_str(), nullptr};
        char *out = nullptr;
        int status = 0;
        if (!g_spawn_sync(nullptr, const_cast<char **>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out,
                          nullptr, &status, nullptr) ||
            !out || status != 0) {
            g_free(out);
            state.SkipWithError("cannot run python3");
            return;
        }
        char *rest = nullptr;
        const double seconds = std::strtod(out, &rest);
        while (*rest == ' ') ++rest;
        const std::string value(rest, std::strcspn(rest, "\n"));
        g_free(out);
        if (value != expect) {
            state.SkipWithError(("python3 answered " + value).c_str());
            return;
        }
        state.SetIterationTime(seconds);
    }
}

// A scratch directory for one program's files, removed with them when the benchmark is done.
struct ScratchDir {
    std::string path;
    ScratchDir()
    {
        char *d = g_dir_make_tmp("lumba-bench-XXXXXX", nullptr);
        path = d;
        g_free(d);
    }
    ~ScratchDir()
    {
        if (GDir *dir = g_dir_open(path.c_str(), 0, nullptr)) {
            while (const char *name = g_dir_read_name(dir)) std::remove((path + "/" + name).c_str());
            g_dir_close(dir);
        }
        std::remove(path.c_str());
    }
    std::string operator/(const char *name) const { return path + "/" + name; }
};
