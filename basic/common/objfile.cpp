// Object-file naming.
#include "objfile.h"

#include <cstdio>
#include <cstring>

#include "globals.h"
#include "mem_mgt.h"

char object_file[OBJECT_FILE_SIZE];

void Gen_Objname(const char *source, char *out, int out_size)
{
    if (out_size <= 0) return;
    const char *dot = std::strrchr(source, '.');
    if (!dot) {
        std::snprintf(out, out_size, "%s.obj", source);
        return;
    }
    int stem = static_cast<int>(dot - source);
    const char *suffix = dot + 1;
    if (std::strcmp(suffix, "SRC") == 0 || std::strcmp(suffix, "src") == 0)
        std::snprintf(out, out_size, "%.*s.ozz", stem, source);
    else
        std::snprintf(out, out_size, "%.*s.o%s", stem, source, suffix);
}

char *ObjFile(const char *dir, const char *name)
{
    char obj[OBJECT_FILE_SIZE - 1];  // at most 4094 characters
    if (phase == compiling)
        Gen_Objname(name, obj, sizeof obj);
    else
        std::snprintf(obj, sizeof obj, "%s", name);
    if (dir)
        std::snprintf(object_file, sizeof object_file, "%s/%s", dir, obj);
    else
        std::snprintf(object_file, sizeof object_file, "%s", obj);
    return object_file;
}

char *basic_obj_fname(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    const char *base = slash ? slash + 1 : path;
    std::size_t n = std::strcspn(base, ".");
    auto *name = static_cast<char *>(salloc(n + 1));
    if (!name) Abort("No memory for %d byte string!", static_cast<int>(n + 1));
    std::memcpy(name, base, n);
    name[n] = '\0';
    return name;
}
