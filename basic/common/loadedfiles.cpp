// Source files a program was built from: the per-application list and its object-file section.
#include <cstdio>
#include <new>

#include "globals.h"
#include "objlines.h"
#include "symtab.h"

int current_loaded_file = -1;

namespace {

constexpr std::size_t LOADED_FILES_LINE = 2048;

[[noreturn]] void malformed(const char *line)
{
    Abort("Malformed loadedfiles section - possible old object [%s]\n", line);
}

} // namespace

int AddLoadedFile(const char *name, LoadedFiles_t **list)
{
    LoadedFiles_t *last = nullptr;
    for (LoadedFiles_t *f = *list; f; f = f->nxt) {
        if (f->name == name) return current_loaded_file = f->id;
        last = f;
    }
    auto *f = new (std::nothrow) LoadedFiles_t;
    if (!f) Abort("No memory when adding a new file %s", name);
    try {
        f->name = name;
    } catch (const std::bad_alloc &) {
        delete f;
        Abort("No memory when adding a new file %s", name);
    }
    f->id = last ? last->id + 1 : 0;
    if (last)
        last->nxt = f;
    else
        *list = f;
    return current_loaded_file = f->id;
}

int FindLoadedFile(const char *name, LoadedFiles_t *const *list)
{
    for (const LoadedFiles_t *f = *list; f; f = f->nxt)
        if (f->name == name) return f->id;
    return -1;
}

const char *FindLoadedFileExIndex(int id, LoadedFiles_t *const *list)
{
    for (const LoadedFiles_t *f = *list; f; f = f->nxt)
        if (f->id == id) return f->name.c_str();
    return "unknown";
}

void PrintLoadedFiles(std::FILE *stream, int verbose, LoadedFiles_t *const *list)
{
    int n = 0;
    for (const LoadedFiles_t *f = *list; f; f = f->nxt) ++n;
    std::fprintf(stream, "__LOADED_FILES__ %d\n", n);
    for (const LoadedFiles_t *f = *list; f; f = f->nxt) {
        if (verbose)
            std::fprintf(stream, "%d\t%s\n", f->id, f->name.c_str());
        else
            std::fprintf(stream, "%s\n", f->name.c_str());
    }
}

void parse_LoadedFiles(int form_list, LoadedFiles_t **list)
{
    char line[LOADED_FILES_LINE];
    obj_read_counted_section(line, sizeof line, "__LOADED_FILES__ %d", malformed, [&](const char *name) {
        if (form_list) AddLoadedFile(name, list);
    });
}

void DeleteLoadedFiles(LoadedFiles_t **list)
{
    for (LoadedFiles_t *f = *list; f;) {
        LoadedFiles_t *next = f->nxt;
        delete f;
        f = next;
    }
    *list = nullptr;
}
