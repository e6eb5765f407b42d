// Include-file versions: the list the compiler builds and the object-file section that carries it.
#include <cstdio>
#include <cstring>
#include <new>

#include "globals.h"
#include "objlines.h"
#include "symtab.h"

InclVers_t *included_files;
InclVers_t *last_added;

namespace {

constexpr std::size_t INCLV_LINE = 1024;

[[noreturn]] void malformed(const char *line)
{
    Abort("Malformed include file version section - possible old object [%s]\n", line);
}

} // namespace

const char *ParseCommentInclV(const char *line)
{
    const char *tag = line ? std::strstr(line, INCL_VERS_HEADER) : nullptr;
    return tag ? tag + std::strlen(INCL_VERS_HEADER) : nullptr;
}

InclVers_t *FindInclV(const char *name)
{
    for (InclVers_t *v = included_files; v; v = v->nxt)
        if (v->fn == name) return v;
    return nullptr;
}

int AddInclV(const char *name, const char *version)
{
    if (InclVers_t *old = FindInclV(name)) {
        if (old->vers == version) return 0;
        std::fprintf(stderr, "Include file version mismatch! [%s, old %s, new %s]\n", name, old->vers.c_str(),
                     version);
        return 1;
    }
    auto *v = new (std::nothrow) InclVers_t;
    if (!v) {
        std::fprintf(stderr, "No memory to create include file version entry header [%s, %s]\n", name, version);
        return 1;
    }
    const char *step = "fn";
    try {
        v->fn = name;
        step = "vers";
        v->vers = version;
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "No memory to create include file version entry %s [%s, %s]\n", step, name, version);
        delete v;
        return 1;
    }
    if (last_added)
        last_added->nxt = v;
    else
        included_files = v;
    last_added = v;
    return 0;
}

void ShowInclV()
{
    std::printf("Include file Versions\n");
    for (const InclVers_t *v = included_files; v; v = v->nxt) std::printf("%-40s %s\n", v->fn.c_str(), v->vers.c_str());
}

void SaveInclV(std::FILE *stream)
{
    if (!quiet) ShowInclV();
    int n = 0;
    for (const InclVers_t *v = included_files; v; v = v->nxt) ++n;
    std::fprintf(stream, "__INCL_VERS__ %d\n", n);
    for (const InclVers_t *v = included_files; v; v = v->nxt)
        std::fprintf(stream, "%s => %s\n", v->fn.c_str(), v->vers.c_str());
}

void parse_inclvstrings()
{
    char line[INCLV_LINE];
    // The run-time only passes over the entries; the compiler checks them.
    obj_read_counted_section(line, sizeof line, "__INCL_VERS__ %d", malformed, nullptr);
}
