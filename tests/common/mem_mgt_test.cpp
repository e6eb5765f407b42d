// Allocation wrappers, string-entry copies, pointer values and the trace ring.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "globals.h"
#include "mem_mgt.h"
#include "stack.h"
#include "test_host.h"

using lumba_test::abort_text;

namespace {

bool all_zero(const void *p, std::size_t n)
{
    const auto *b = static_cast<const unsigned char *>(p);
    for (std::size_t i = 0; i < n; ++i)
        if (b[i]) return false;
    return true;
}

constexpr std::size_t five_gib = std::size_t{5} << 30;

} // namespace

TEST(Allocators, BlocksReadAsZero)
{
    void *a = salloc(4096);
    void *b = DpsXmalloc(4096);
    void *c = zerobuf(64, 64);
    void *d = DpsXrealloc(nullptr, 4096);
    EXPECT_TRUE(all_zero(a, 4096));
    EXPECT_TRUE(all_zero(b, 4096));
    EXPECT_TRUE(all_zero(c, 4096));
    EXPECT_TRUE(all_zero(d, 4096));
    sfree(a);
    sfree(b);
    sfree(c);
    sfree(d);
    sfree(nullptr);  // releasing nothing is allowed
}

TEST(Allocators, ReallocKeepsContents)
{
    auto *p = static_cast<char *>(salloc(4));
    std::memcpy(p, "abc", 4);
    p = static_cast<char *>(srealloc(p, 1 << 20));
    EXPECT_STREQ(p, "abc");
    p = static_cast<char *>(DpsXrealloc(p, 8));
    EXPECT_STREQ(p, "abc");
    sfree(p);
}

TEST(Allocators, RequestsAbove4GiBAreRefusedWithTheCallersPlace)
{
    yylineno = 42;
    int line = __LINE__ + 1;
    std::string text = abort_text([] { salloc(five_gib); });
    EXPECT_EQ(text, "Malloc: insufficient memory at line 42. @" __FILE__ ":" + std::to_string(line));

    line = __LINE__ + 1;
    text = abort_text([] { zerobuf(std::size_t{1} << 20, std::size_t{1} << 13); });
    EXPECT_EQ(text, "Calloc: returns NULL. No memory. @" __FILE__ ":" + std::to_string(line));

    void *p = salloc(16);
    line = __LINE__ + 1;
    text = abort_text([&] { p = srealloc(p, five_gib); });
    EXPECT_EQ(text, "Realloc: returns NULL. No memory. @" __FILE__ ":" + std::to_string(line));
    // The failed resize released the old block: nothing is left to free (LeakSanitizer agrees).
}

TEST(Allocators, ReallocToZeroFreesOnce)
{
    void *p = salloc(32);
    EXPECT_EQ(DpsRealloc(p, 0), nullptr);  // a double free here fails under AddressSanitizer
    void *q = salloc(32);
    EXPECT_EQ(srealloc(q, 0), nullptr);
}

TEST(Allocators, FailedSoftReallocReturnsNullAndReleasesTheOldBlock)
{
    void *p = DpsXmalloc(32);
    EXPECT_EQ(DpsRealloc(p, SIZE_MAX / 2), nullptr);  // a leak here fails under LeakSanitizer
    EXPECT_EQ(DpsXmalloc(SIZE_MAX / 2), nullptr);
}

TEST(Allocators, StrcpyCopiesIntoANewBlock)
{
    const char *src = "hello";
    char *copy = Strcpy(src);
    EXPECT_STREQ(copy, "hello");
    EXPECT_NE(copy, src);
    sfree(copy);
}

namespace {

struct EntryCase {
    const char *what;
    Stack entry;
    const char *expected;
};

Stack string_entry(const char *text, std::uint32_t length)
{
    Stack e{};
    e.s_t = string;
    e.s_c.C_S = const_cast<char *>(text);
    e.length = length;
    return e;
}

Stack pointer_entry(unsigned char *field, const char *target)
{
    CtoBasicPtr(field, target);
    Stack e = string_entry(reinterpret_cast<char *>(field), 8);
    e.flags = stk_pointer;
    return e;
}

} // namespace

TEST(StringEntries, CopyByLengthOrThroughThePointerValue)
{
    static const char unterminated[] = {'a', 'b', 'c', 'd', 'e', 'f'};
    unsigned char field1[8], field2[8];
    const EntryCase cases[] = {
        {"length bounds the copy", string_entry(unterminated, 3), "abc"},
        {"embedded text", string_entry("xyz", 3), "xyz"},
        {"empty entry", string_entry("ignored", 0), ""},
        {"no text at all", string_entry(nullptr, 0), ""},
        {"pointer value", pointer_entry(field1, "pointed text"), "pointed text"},
        {"null pointer value", pointer_entry(field2, nullptr), ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        char *s = Stacktochar(&c.entry);
        ASSERT_NE(s, nullptr);
        EXPECT_STREQ(s, c.expected);
        sfree(s);
        gchar *g = Stacktogchar(&c.entry);
        ASSERT_NE(g, nullptr);
        EXPECT_STREQ(g, c.expected);
        g_free(g);
    }
}

TEST(PointerValues, BigEndianEightBytes)
{
    const unsigned char bytes[8] = {0, 0, 0, 0, 0, 0, 0x12, 0x34};
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(BasicPtrtoC(bytes)), 0x1234u);

    unsigned char field[8];
    auto *address = reinterpret_cast<void *>(std::uintptr_t{0x0102030405060708});
    CtoBasicPtr(field, address);
    const unsigned char expected[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(std::memcmp(field, expected, 8), 0);
    EXPECT_EQ(BasicPtrtoC(field), address);

    ClearBasicPtr(field);
    EXPECT_TRUE(all_zero(field, 8));
    EXPECT_EQ(BasicPtrtoC(field), nullptr);
}

namespace {

void reset_trace()
{
    std::memset(trace_log, 0, sizeof trace_log);
    std::memset(trace_path, 0, sizeof trace_path);
    p_trace = 0;
    trace_level = 0;
}

} // namespace

TEST(TraceRing, LinesShowDepthKindAndPlace)
{
    reset_trace();
    trace_in("outer", "f.cpp", 1);
    trace_in("inner", "f.cpp", 2);
    trace_mark("note", "f.cpp", 3);
    trace_out("inner", "f.cpp", 4);
    trace_out("outer", "f.cpp", 5);
    EXPECT_STREQ(trace_log[0], " --TRACE -IN: outer -- f.cpp:1");
    EXPECT_STREQ(trace_log[1], " --TRACE --IN: inner -- f.cpp:2");
    EXPECT_STREQ(trace_log[2], " --TRACE --MARK note -- f.cpp:3");
    EXPECT_STREQ(trace_log[3], " --TRACE --OUT inner -- f.cpp:4");
    EXPECT_STREQ(trace_log[4], " --TRACE -OUT outer -- f.cpp:5");
    EXPECT_EQ(trace_level, 0);
    EXPECT_STREQ(trace_path, "");
}

TEST(TraceRing, TheHundredAndFirstLineOverwritesTheFirst)
{
    reset_trace();
    for (int i = 0; i < 101; ++i) trace_mark(("m" + std::to_string(i)).c_str(), "f.cpp", i);
    EXPECT_EQ(p_trace, 1);
    EXPECT_STREQ(trace_log[0], " --TRACE MARK m100 -- f.cpp:100");
    EXPECT_STREQ(trace_log[1], " --TRACE MARK m1 -- f.cpp:1");
}

TEST(TraceRing, DeepNestingKeepsThePathTerminatedAndLinesBounded)
{
    reset_trace();
    std::string long_name(300, 'x');
    for (int i = 0; i < 80; ++i) trace_in(long_name.c_str(), "f.cpp", i);
    EXPECT_EQ(trace_level, TRACE_DEPTH - 1);
    EXPECT_EQ(std::strlen(trace_path), std::size_t(TRACE_DEPTH - 1));
    for (const auto &line : trace_log) EXPECT_LT(std::strlen(line), std::size_t(TRACE_LINE));
    for (int i = 0; i < 80; ++i) trace_out("f", "f.cpp", i);
    EXPECT_EQ(trace_level, 0);
    EXPECT_STREQ(trace_path, "");
}
