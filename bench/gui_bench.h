// The main of a benchmark that runs GTK: a private X server, GTK on it (X11 back end, software
// drawing, no accessibility bus), the run-time's global record with its log off, then the
// benchmarks given on the command line.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdlib>

#include <gtk/gtk.h>

#include "gdata.h"
#include "xvfb.h"

// before, when given, runs once GTK is up and before the first benchmark.
inline int run_gui_benchmarks(int argc, char **argv, void (*before)() = nullptr)
{
    lumba_test::Xvfb x;
    setenv("DISPLAY", x.display().c_str(), 1);
    setenv("GTK_A11Y", "none", 1);
    setenv("GDK_BACKEND", "x11", 1);
    setenv("GSK_RENDERER", "cairo", 1);
    gtk_init();
    global_data = &_global_data;
    global_data->log_mode = LOG_MODE_STDERR;
    global_data->log_level_lumbas = -1;
    global_data->log_level_basic = -1;
    if (before) before();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
