// Allocation wrappers and value-stack string copies.
#include "mem_mgt.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "globals.h"
#include "stack.h"

namespace {

// The wrappers take 32-bit sizes by contract; a larger request is refused, never truncated.
constexpr std::size_t max_request = UINT32_MAX;

bool too_large(std::size_t n, std::size_t size)
{
    return size != 0 && n > max_request / size;
}

} // namespace

void *DpsXmalloc(std::size_t size)
{
    // calloc gives the zero fill; a zero-size request still gets a block of its own.
    return std::calloc(size ? size : 1, 1);
}

void *DpsRealloc(void *p, std::size_t size)
{
    if (size == 0) {
        // realloc(p, 0) frees p and may answer NULL: treating that as a failure would free twice.
        std::free(p);
        return nullptr;
    }
    void *q = std::realloc(p, size);
    if (!q && p) std::free(p);
    return q;
}

void *DpsXrealloc(void *ptr, std::size_t size)
{
    return ptr ? DpsRealloc(ptr, size) : DpsXmalloc(size);
}

void *_salloc(std::size_t size, const char *file, int line)
{
    void *p = size > max_request ? nullptr : DpsXmalloc(size);
    if (!p) Abort("Malloc: insufficient memory at line %d. @%s:%d", yylineno, file, line);
    return p;
}

void *_zerobuf(std::size_t n, std::size_t size, const char *file, int line)
{
    void *p = too_large(n, size) ? nullptr : std::calloc(n ? n : 1, size ? size : 1);
    if (!p) Abort("Calloc: returns NULL. No memory. @%s:%d", file, line);
    return p;
}

void *_srealloc(void *mem, std::size_t size, const char *file, int line)
{
    if (size == 0) return DpsRealloc(mem, 0);  // a release, not a failure
    void *p;
    if (size > max_request) {
        std::free(mem);  // fails like DpsRealloc: the old block is gone either way
        p = nullptr;
    } else {
        p = DpsRealloc(mem, size);
    }
    if (!p) Abort("Realloc: returns NULL. No memory. @%s:%d", file, line);
    return p;
}

void _sfree(void *p, const char *, int)
{
    if (p) std::free(p);
}

char *_Strcpy(const char *s, const char *file, int line)
{
    std::size_t n = s ? std::strlen(s) : 0;
    auto *copy = static_cast<char *>(_salloc(n + 1, file, line));
    if (n) std::memcpy(copy, s, n);
    return copy;
}

namespace {

// The bytes and length a string entry stands for: its own field, or the text its pointer value names.
void entry_text(const Stack *entry, const char **src, std::size_t *len)
{
    if (entry->flags & stk_pointer) {
        *src = BasicPtrtoText(entry->s_c.C_S);
        *len = *src ? std::strlen(*src) : 0;
    } else {
        *src = entry->s_c.C_S;
        *len = *src ? entry->length : 0;
    }
}

} // namespace

char *_Stacktochar(const Stack *entry, const char *, int)
{
    const char *src;
    std::size_t len;
    entry_text(entry, &src, &len);
    auto *copy = static_cast<char *>(_salloc(len + 1, __FILE__, __LINE__));
    if (len) std::memcpy(copy, src, len);
    copy[len] = '\0';
    mlog_mem_save(0, copy);
    return copy;
}

gchar *_Stacktogchar(const Stack *entry, const char *, int)
{
    const char *src;
    std::size_t len;
    entry_text(entry, &src, &len);
    // GLib's allocator aborts the process itself when memory runs out.
    gchar *copy = g_strndup(len ? src : "", len);
    mlog_mem_save(0, copy);
    return copy;
}

const char *BasicPtrtoText(const void *bytes)
{
    if (!bytes) return nullptr;
    std::uint64_t raw;
    std::memcpy(&raw, bytes, sizeof raw);
    if (raw == 0 || raw == BasicPtrBlank) return nullptr;
    return static_cast<const char *>(BasicPtrtoC(bytes));
}

void *BasicPtrtoC(const void *bytes)
{
    if (!bytes) return nullptr;
    const auto *b = static_cast<const unsigned char *>(bytes);
    std::uintptr_t v = 0;
    for (int i = 0; i < BasicPtrSz; ++i) v = (v << 8) | b[i];
    return reinterpret_cast<void *>(v);
}
