// Loadable modules: the code that calls a library most programs never use (FFmpeg, ...) is built
// as a module of its own and opened on its first use, so a program that does not use it does not
// pay at start for the dynamic loader binding that library and everything it pulls in.
//
// A module is looked for in lib/lumba/ beside the directory of the running program (an installed
// bin/lumba_run finds <prefix>/lib/lumba/), then in the build tree's module directory (the tests
// and lumba_run run from a build). It stays loaded to the end of the run.
#pragma once

// The entry table a module exports under the name entry (a C symbol), from the module file name
// (e.g. "lumba-video.so"). A module that cannot be found, opened or has no such entry stops the run
// with "<what> not available: <reason>".
const void *load_module(const char *file, const char *entry, const char *what);

// load_module's answer as the module's table type.
template <class Table> const Table &module_table(const char *file, const char *entry, const char *what)
{
    return *static_cast<const Table *>(load_module(file, entry, what));
}

// A module may hold nothing but a library's functions. Its table has one pointer per function,
// named as the function (LUMBA_CALL_POINTER), and the module, which links the library, fills it
// with their addresses (LUMBA_CALL_ADDRESS); the program reaches the library only through the
// table, e.g. libpq().PQexec(conn, sql), and so does not link it.
#define LUMBA_CALL_POINTER(function) decltype(&::function) function;
#define LUMBA_CALL_ADDRESS(function) &::function,
