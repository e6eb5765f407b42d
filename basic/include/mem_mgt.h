// Allocation wrappers, value-stack string copies, 8-byte pointer values and the trace ring.
#pragma once

#include <cstddef>
#include <cstdint>
#include <glib.h>

struct Stack;

// Aborting allocators: the file and line are the caller's (see the macros below).
// Requests above 4 GiB are refused like an exhausted heap, never truncated.
void *_salloc(std::size_t size, const char *file, int line);
void *_zerobuf(std::size_t n, std::size_t size, const char *file, int line);
void *_srealloc(void *mem, std::size_t size, const char *file, int line);
void _sfree(void *p, const char *file, int line);

// Soft allocators: NULL on failure, never abort.
void *DpsXmalloc(std::size_t size);
void *DpsXrealloc(void *ptr, std::size_t size);
void *DpsRealloc(void *p, std::size_t size);  // frees p when it fails; size 0 frees and gives NULL

#define salloc(s) _salloc((s), __FILE__, __LINE__)
#define zerobuf(n, s) _zerobuf((n), (s), __FILE__, __LINE__)
#define srealloc(m, s) _srealloc((m), (s), __FILE__, __LINE__)
#define sfree(p) _sfree((p), __FILE__, __LINE__)

#define Malloc(s) salloc(s)
#define Alloc(type) static_cast<type *>(salloc(sizeof(type)))
#define Calloc(n, type) static_cast<type *>(zerobuf((n), sizeof(type)))
#define Realloc(x, s) srealloc((x), (s))
#define Free(x) _sfree((x), __FILE__, __LINE__)
#define Strcpy(x) _Strcpy((x), __FILE__, __LINE__)
#define DPS_FREE(x) do { if (x) { _sfree((x), __FILE__, __LINE__); (x) = nullptr; } } while (0)
#define cmalloc(index, type, n) static_cast<type *>(zerobuf((n), sizeof(type)))
#define cmalloc0(index, type, n) static_cast<type *>(DpsXmalloc(sizeof(type) * (n)))
#define cremalloc(index, x, type, n) static_cast<type *>(DpsRealloc((x), sizeof(type) * (n)))
#define cfree(index, x) _sfree((x), __FILE__, __LINE__)

char *_Strcpy(const char *s, const char *file, int line);

// New NUL-terminated copies of a value-stack string entry; the caller frees them
// (_Stacktochar with sfree, _Stacktogchar with g_free).
char *_Stacktochar(const Stack *entry, const char *file, int line);
gchar *_Stacktogchar(const Stack *entry, const char *file, int line);
#define Stacktochar(e) _Stacktochar((e), __FILE__, __LINE__)
#define Stacktogchar(e) _Stacktogchar((e), __FILE__, __LINE__)

// Pointer values: 8 bytes holding an address, most significant byte first.
inline constexpr int BasicPtrSz = 8;
void *BasicPtrtoC(const void *bytes);
inline void CtoBasicPtr(void *l, const void *c)
{
    auto *out = static_cast<unsigned char *>(l);
    auto v = reinterpret_cast<std::uintptr_t>(c);
    for (int i = BasicPtrSz - 1; i >= 0; --i, v >>= 8) out[i] = static_cast<unsigned char>(v & 0xFF);
}
inline void ClearBasicPtr(void *l)
{
    auto *out = static_cast<unsigned char *>(l);
    for (int i = 0; i < BasicPtrSz; ++i) out[i] = 0;
}

// Trace ring of the forms engine and widgets, printed by fatal reports and crash dumps.
inline constexpr int TRACE_SIZE = 100;
inline constexpr int TRACE_DEPTH = 50;
inline constexpr int TRACE_LINE = TRACE_DEPTH + 128;  // 178
extern char trace_log[TRACE_SIZE][TRACE_LINE];
extern int p_trace;
extern char trace_path[TRACE_DEPTH];
extern int trace_level;

void trace_in(const char *func, const char *file, int line);
void trace_out(const char *func, const char *file, int line);
void trace_mark(const char *text, const char *file, int line);
#define TRACE_IN trace_in(__func__, __FILE__, __LINE__)
#define TRACE_OUT trace_out(__func__, __FILE__, __LINE__)
#define TRACE_MARK(text) trace_mark((text), __FILE__, __LINE__)

// The text a pointer field names, or nullptr when the field holds no text: all zero bytes or the
// eight-blank pattern of a blank-filled record. A blank field is never dereferenced.
inline constexpr std::uint64_t BasicPtrBlank = 0x2020202020202020ull;
const char *BasicPtrtoText(const void *bytes);
