// Program lists: the operations, the intrinsic entry points with their reports, the dump, handle
// checks, the application's tracking of lists, and the position and name index against a model.
#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "applications.h"
#include "ilist.h"
#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"
#include "program_text.h"
#include "structops.h"
#include "test_host.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LIST_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define LIST_TEST_ASAN 1
#endif
#ifdef LIST_TEST_ASAN
#include <sanitizer/allocator_interface.h>
#include <sanitizer/asan_interface.h>
#endif

namespace {

using lumba_test::abort_text;

using lumba_test::dec;

// Intrinsic arguments as the dispatcher hands them over; temporaries live through the call.
struct Num {
    dec_t d;
    explicit Num(const char *text) : d(dec(text)) {}
    operator IListArg() const { return {IListArg::Number, &d, nullptr, 0}; }
};
struct Txt {
    std::string s;
    explicit Txt(std::string text) : s(std::move(text)) {}
    operator IListArg() const { return {IListArg::Text, nullptr, s.data(), static_cast<int>(s.size())}; }
};
const IListArg other{IListArg::Other, nullptr, nullptr, 0};

std::string ptr(const void *p)
{
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

double number(const dec_t *d)
{
    double v = 0;
    NumericToDBL(d, &v);
    return v;
}

// The string list's texts in chain order, checking the back links on the way.
std::vector<std::string> texts(IList_t *list)
{
    std::vector<std::string> all;
    const IListElt_t *prev = nullptr;
    for (const IListElt_t *e = list->head; e; prev = e, e = e->next) {
        EXPECT_EQ(e->prev, prev);
        all.emplace_back(e->value.text);
    }
    EXPECT_EQ(list->tail, prev);
    return all;
}

IList_t *strings(std::initializer_list<const char *> values, int type = ILIST_STRING)
{
    IList_t *list = ilist_declare(type);
    for (const char *v : values) ilist_addselt(list, v, static_cast<int>(std::strlen(v)), 0, nullptr);
    return list;
}

class Lists : public ::testing::Test {
protected:
    void TearDown() override { ilist_destroyall(); }
};

TEST_F(Lists, DeclareByTypeName)
{
    struct {
        const char *name;
        int bits;
    } cases[] = {{"char", 1}, {"int", 2}, {"numeric", 4}, {"char_hash", 17}, {"int_hash", 18}, {"numeric_hash", 20}};
    for (const auto &c : cases) {
        IList_t *list = intr_ilist_declare(c.name, static_cast<int>(std::strlen(c.name)));
        EXPECT_EQ(ilist_type(list), c.bits) << c.name;
        EXPECT_EQ(intr_ilist_type(list), c.name);
        EXPECT_EQ(master_list, list) << "a new list goes to the front of the chain";
    }
    EXPECT_EQ(abort_text([] { intr_ilist_declare("text", 4); }), "Bad arg to ilist_declare - text");
    // The name is read by its length: "charm" cut to four characters is "char".
    EXPECT_EQ(ilist_type(intr_ilist_declare("charm", 4)), ILIST_STRING);
    EXPECT_EQ(abort_text([] { intr_ilist_declare("char", 3); }), "Bad arg to ilist_declare - cha");
}

TEST_F(Lists, TypeNames)
{
    EXPECT_EQ(intr_ilist_type(nullptr), " ");
    EXPECT_EQ(intr_ilist_type(ilist_declare(3)), "unknown type 3");
    EXPECT_EQ(intr_ilist_type(ilist_declare(ILIST_HASH)), "unknown type 16");
    IList_t *gone = ilist_declare(ILIST_STRING);
    ilist_destroy(gone);
    EXPECT_EQ(intr_ilist_type(gone), " ");
    int not_a_list = 0;
    EXPECT_EQ(ilist_type(reinterpret_cast<IList_t *>(&not_a_list)), 0);
}

TEST_F(Lists, InsertPositions)
{
    struct {
        int position;
        std::vector<std::string> after;
        std::string error;
    } cases[] = {
        {0, {"new", "a", "b", "c"}, ""},
        {1, {"a", "new", "b", "c"}, ""},
        {2, {"a", "b", "new", "c"}, ""},
        {3, {"a", "b", "c", "new"}, ""},
        {4, {"a", "b", "c"}, "Position 4 out of range when attempting to insert new list element"},
        {-1, {"a", "b", "c"}, "Position -1 out of range when attempting to insert new list element"},
    };
    for (const auto &c : cases) {
        IList_t *list = strings({"a", "b", "c"});
        EXPECT_EQ(abort_text([&] { intr_ilist_insert(list, c.position, Txt("new")); }), c.error) << c.position;
        EXPECT_EQ(texts(list), c.after) << c.position;
        EXPECT_EQ(ilist_length(list), static_cast<int>(c.after.size()));
        for (int i = 1; i <= ilist_length(list); ++i) EXPECT_EQ(ilist_sfetch(list, i, nullptr), c.after[i - 1]);
    }
    IList_t *empty = ilist_declare(ILIST_STRING);
    intr_ilist_insert(empty, 0, Txt("only"));
    EXPECT_EQ(texts(empty), std::vector<std::string>{"only"});
}

TEST_F(Lists, InsertNumbers)
{
    IList_t *numbers = ilist_declare(ILIST_NUMERIC);
    for (const char *v : {"1.5", "2.5", "3.5"}) intr_ilist_add(numbers, Num(v));
    intr_ilist_insert(numbers, 1, Num("7"));
    EXPECT_EQ(number(ilist_nfetch(numbers, 2, nullptr)), 7.0);
    EXPECT_EQ(number(ilist_nfetch(numbers, 3, nullptr)), 2.5);

    // Integers keep all 64 bits, inserted as when added or set.
    IList_t *ints = ilist_declare(ILIST_INTEGER);
    intr_ilist_insert(ints, 0, Num("5000000000"));
    intr_ilist_insert(ints, 1, Num("-12"));
    EXPECT_EQ(ilist_ifetch(ints, 1, nullptr), 5000000000LL);
    EXPECT_EQ(ilist_ifetch(ints, 2, nullptr), -12);
}

TEST_F(Lists, AddsAtEitherEnd)
{
    IList_t *list = ilist_declare(ILIST_STRING);
    ilist_addselt(list, "b", 1, 0, nullptr);
    ilist_addselt(list, "a", 1, 1, nullptr);
    ilist_addselt(list, "c", 1, 0, nullptr);
    EXPECT_EQ(texts(list), (std::vector<std::string>{"a", "b", "c"}));

    IList_t *ints = ilist_declare(ILIST_INTEGER);
    ilist_addielt(ints, 2, 0);
    ilist_addielt(ints, 1, 1);
    EXPECT_EQ(ilist_ifetch(ints, 1, nullptr), 1);
    EXPECT_EQ(ilist_ifetch(ints, 2, nullptr), 2);

    IList_t *numbers = ilist_declare(ILIST_NUMERIC);
    dec_t two = dec("2"), one = dec("1");
    ilist_addnelt(numbers, &two, 0);
    ilist_addnelt(numbers, &one, 1);
    EXPECT_EQ(number(ilist_nfetch(numbers, 1, nullptr)), 1.0);
}

TEST_F(Lists, StringValuesAreCutToTheirMaximumLength)
{
    IList_t *list = ilist_declare(ILIST_STRING);
    const char unterminated[4] = {'w', 'x', 'y', 'z'};
    struct {
        const char *text;
        int maxlen;
        const char *stored;
    } cases[] = {
        {"abc", 10, "abc"}, {"abcdef", 3, "abc"}, {"", 5, ""}, {"abc", 0, ""}, {nullptr, 4, ""},
        {unterminated, 4, "wxyz"}, {"ab\0cd", 5, "ab"},
    };
    int i = 0;
    for (const auto &c : cases) {
        ilist_addselt(list, c.text, c.maxlen, 0, nullptr);
        EXPECT_STREQ(ilist_sfetch(list, ++i, nullptr), c.stored) << i;
    }
    ilist_setselt(list, 1, "longer text", 6, nullptr);
    EXPECT_STREQ(ilist_sfetch(list, 1, nullptr), "longer");
    intr_ilist_add(list, Txt("value"));
    EXPECT_STREQ(ilist_sfetch(list, ilist_length(list), nullptr), "value");
}

TEST_F(Lists, TypeRefusals)
{
    IList_t *s = ilist_declare(ILIST_STRING), *i = ilist_declare(ILIST_INTEGER), *n = ilist_declare(ILIST_NUMERIC);
    IList_t *sh = ilist_declare(ILIST_STRING | ILIST_HASH), *ih = ilist_declare(ILIST_INTEGER | ILIST_HASH);
    IList_t *nh = ilist_declare(ILIST_NUMERIC | ILIST_HASH);
    dec_t d = dec("2.5");
    struct {
        std::function<void()> call;
        std::string error;
    } cases[] = {
        {[&] { ilist_addselt(i, "abc", 3, 0, nullptr); }, "List is not a character string list - cannot add abc\n"},
        {[&] { ilist_insertselt(n, 0, "abc", 3); }, "List is not a character string list - cannot insert abc\n"},
        {[&] { ilist_addselt(sh, "abc", 3, 0, nullptr); },
         "List is a character string hash - cannot add abc\n witout name provided (name argument is NULL"},
        {[&] { ilist_insertselt(sh, 0, "abc", 3); }, "List is a character string hash - cannot insert abc\n"},
        {[&] { ilist_addielt(s, 42, 0); }, "List is not an integer list - cannot add 42\n"},
        {[&] { ilist_insertielt(n, 0, 42); }, "List is not an integer list - cannot add 42\n"},
        {[&] { ilist_addielt(ih, 42, 0); }, "List is an integer hash list - cannot add 42\n"},
        {[&] { ilist_insertielt(ih, 0, 42); }, "List is an integer hash - cannot add 42\n"},
        {[&] { ilist_addnelt(i, &d, 0); }, "List is not a numeric list - cannot add 2.500000\n"},
        {[&] { ilist_insertnelt(s, 0, &d); }, "List is not a numeric list - cannot add 2.500000\n"},
        {[&] { ilist_addnelt(nh, &d, 0); }, "List is a numeric hash list - cannot add 2.500000\n"},
        {[&] { ilist_insertnelt(nh, 0, &d); }, "List is a numeric hash list - cannot add 2.500000\n"},
        {[&] { ilist_ifetch(s, 1, nullptr); }, "List is not an integer list\n"},
        {[&] { ilist_nfetch(i, 1, nullptr); }, "List is not a numeric list\n"},
        {[&] { ilist_sfetch(n, 1, "x"); }, "List is not a character string list\n"},
        {[&] { ilist_setselt(i, 1, "abc", 3, nullptr); }, "List is not a character string list - cannot add abc\n"},
        {[&] { ilist_setielt(s, 2, 42, nullptr); }, "List is not an integer list - cannot set 2 42\n"},
        {[&] { ilist_setnelt(s, 3, &d, nullptr); }, "List is not a numeric list - cannot set 3 2.500000\n"},
        {[&] { ilist_setname(ih, 1, "x"); }, "List is a hash list - cannot set name to x\n"},
        {[&] { ilist_snsearch(i, "abc", 0); }, "Given list " + ptr(i) + " is not a string list"},
        {[&] { ilist_snsearch(s, "abc", -1); }, "Length must be a positive number"},
        {[&] { ilist_clone(ilist_declare(ILIST_HASH)); }, "Unknown list element type"},
        {[&] { intr_ilist_sort(s, 0); }, "ilist_sort by value not implemented yet\n"},
    };
    for (const auto &c : cases) EXPECT_EQ(abort_text(c.call), c.error);
    for (IList_t *list : {s, i, n, sh, ih, nh}) EXPECT_EQ(ilist_length(list), 0) << "nothing was added";
}

TEST_F(Lists, MissingElements)
{
    IList_t *s = strings({"a"}), *i = ilist_declare(ILIST_INTEGER), *n = ilist_declare(ILIST_NUMERIC);
    ilist_addielt(i, 1, 0);
    dec_t one = dec("1");
    ilist_addnelt(n, &one, 0);
    const unsigned char no_text[8] = {};
    struct {
        std::function<void()> call;
        std::string error;
    } cases[] = {
        {[&] { ilist_sfetch(s, 2, nullptr); }, "No 2'th element in string list " + ptr(s)},
        {[&] { ilist_sfetch(s, 0, nullptr); }, "No 0'th element in string list " + ptr(s)},
        {[&] { ilist_ifetch(i, -1, nullptr); }, "No -1'th element in integer list " + ptr(i)},
        {[&] { ilist_nfetch(n, 5, nullptr); }, "No 5'th element in numeric list " + ptr(n)},
        {[&] { ilist_sfetch(s, 1, "x"); }, "No element named x in string list " + ptr(s)},
        {[&] { ilist_ifetch(i, 1, "x"); }, "No element named x in integer list " + ptr(i)},
        {[&] { ilist_nfetch(n, 1, "x"); }, "No element named x in numeric list " + ptr(n)},
        {[&] { ilist_fetchname(s, 2); }, "No 2'th element in the list " + ptr(s)},
        {[&] { ilist_setname(s, 0, "x"); }, "No 0'th element in the list " + ptr(s)},
        {[&] { ilist_setselt(s, 3, "x", 1, nullptr); }, "No 3'th element in string list " + ptr(s)},
        {[&] { ilist_setielt(i, 2, 7, nullptr); }, "No 2'th element in integer list " + ptr(i)},
        {[&] { ilist_setnelt(n, 2, &one, nullptr); }, "No 2'th element in numeric list " + ptr(n)},
        // A numeric key of 0 names no element: reported as position 0.
        {[&] { intr_ilist_set(s, Num("0"), Txt("v")); }, "No 0'th element in string list " + ptr(s)},
        {[&] { intr_ilist_settext(s, Num("0"), no_text); }, "No 0'th element in string list " + ptr(s)},
        {[&] { ilist_deleteelt(s, 2); }, "Position 2 out of range when attempting to delete a list element"},
        {[&] { ilist_deleteelt(s, 0); }, "Position 0 out of range when attempting to delete a list element"},
    };
    for (const auto &c : cases) EXPECT_EQ(abort_text(c.call), c.error);
    EXPECT_EQ(texts(s), std::vector<std::string>{"a"});
}

TEST_F(Lists, SetByNameFillsHashLists)
{
    IList_t *list = intr_ilist_declare("char_hash", 9);
    EXPECT_EQ(abort_text([&] { intr_ilist_add(list, Txt("v")); }),
              "List is a character string hash - cannot add v\n witout name provided (name argument is NULL");
    intr_ilist_set(list, Txt("x"), Txt("first"));
    EXPECT_EQ(ilist_length(list), 1);
    EXPECT_EQ(intr_ilist_sfetch(list, Txt("x")), "first");
    intr_ilist_set(list, Txt("y"), Txt("other"));
    intr_ilist_set(list, Txt("x"), Txt("second"));
    EXPECT_EQ(ilist_length(list), 2);
    EXPECT_EQ(intr_ilist_sfetch(list, Txt("x")), "second");
    EXPECT_EQ(intr_ilist_sfetch(list, Num("2")), "other");
    EXPECT_EQ(intr_ilist_fetchname(list, 1), "x");
    // By position a set does not look at the hash bit.
    intr_ilist_set(list, Num("2"), Txt("by position"));
    EXPECT_EQ(intr_ilist_sfetch(list, Txt("y")), "by position");

    IList_t *ints = intr_ilist_declare("int_hash", 8);
    intr_ilist_set(ints, Txt("big"), Num("5000000000"));
    intr_ilist_set(ints, Txt("small"), Num("3"));
    EXPECT_EQ(intr_ilist_ifetch(ints, Txt("big")), 5000000000LL);
    EXPECT_EQ(intr_ilist_ifetch(ints, Num("2")), 3);

    IList_t *numbers = intr_ilist_declare("numeric_hash", 12);
    intr_ilist_set(numbers, Txt("pi"), Num("3.14"));
    dec_t got;
    intr_ilist_nfetch(numbers, Txt("pi"), &got);
    dec_t pi = dec("3.14");
    EXPECT_EQ(NumericCmp(&got, &pi), 0);
    // The value may be the element's own.
    ilist_setnelt(numbers, 0, ilist_nfetch(numbers, 0, "pi"), "pi");
    EXPECT_EQ(number(ilist_nfetch(numbers, 1, nullptr)), 3.14);
}

TEST_F(Lists, SetStoresByTheListKind)
{
    IList_t *ints = ilist_declare(ILIST_INTEGER);
    ilist_addielt(ints, 0, 0);
    intr_ilist_set(ints, Num("1"), Num("-5000000000.7"));
    EXPECT_EQ(ilist_ifetch(ints, 1, nullptr), -5000000000LL);

    IList_t *numbers = ilist_declare(ILIST_NUMERIC);
    intr_ilist_add(numbers, Num("0"));
    intr_ilist_set(numbers, Num("1"), Num("-2.75"));
    EXPECT_EQ(number(ilist_nfetch(numbers, 1, nullptr)), -2.75);

    IList_t *plain = ilist_declare(ILIST_STRING);
    intr_ilist_set(plain, Txt("new"), Txt("made"));  // a name not there is appended on any list
    EXPECT_EQ(ilist_getindex(plain, "new"), 1);
}

TEST_F(Lists, ArgumentKindsAreChecked)
{
    IList_t *list = strings({"a"});
    struct {
        std::function<void()> call;
        const char *error;
    } cases[] = {
        {[&] { intr_ilist_add(list, other); }, "Second arg to ILIST_ADD not numeric or string\n"},
        {[&] { intr_ilist_insert(list, 0, other); }, "Third arg to ILIST_INSERT not numeric or string\n"},
        {[&] { intr_ilist_ifetch(list, other); }, "Second arg to ILIST_IFETCH not numeric or string\n"},
        {[&] {
             dec_t d;
             intr_ilist_nfetch(list, other, &d);
         },
         "2nd argument to ILIST_NFETCH must be string or numeric\n"},
        {[&] { intr_ilist_sfetch(list, other); }, "Second argument to ILIST_SFETCH$ is neither a string or a number"},
        {[&] { intr_ilist_set(list, other, Txt("v")); }, "Second arg to ILIST_SET must be string or numeric\n"},
        {[&] { intr_ilist_set(list, Num("1"), other); }, "Second arg to ILIST_SET not numeric or string\n"},
        {[&] { intr_ilist_settext(list, other, "v"); }, "Second arg to ILIST_SETTEXT must be string or numeric\n"},
        {[&] {
             char ref[8];
             intr_ilist_totext(list, other, ref);
         },
         "Argument 2 in ILIST_TOTEXT must be string or numeric"},
    };
    for (const auto &c : cases) EXPECT_EQ(abort_text(c.call), c.error);
    EXPECT_EQ(texts(list), std::vector<std::string>{"a"});
}

TEST_F(Lists, NamesAndIndexes)
{
    IList_t *list = strings({"a", "b", "c", "d", "e"});
    EXPECT_EQ(intr_ilist_fetchname(list, 1), " ");
    EXPECT_EQ(intr_ilist_setname(list, 2, "k", 1), 2);
    EXPECT_EQ(intr_ilist_setname(list, 4, "k", 1), 4);
    EXPECT_EQ(intr_ilist_setname(list, 5, "K", 1), 5);
    EXPECT_EQ(intr_ilist_fetchname(list, 2), "k");
    EXPECT_EQ(intr_ilist_sfetch(list, Txt("k")), "b") << "the first element of that name";
    EXPECT_EQ(intr_ilist_sfetch(list, Txt("K")), "e") << "names are case-sensitive";
    struct {
        long after;
        int found;
    } after_cases[] = {{-3, 2}, {0, 2}, {1, 2}, {2, 4}, {3, 4}, {4, 0}, {9, 0}};
    for (const auto &c : after_cases) EXPECT_EQ(intr_ilist_getindex_after(list, "k", 1, c.after), c.found) << c.after;
    EXPECT_EQ(intr_ilist_getindex(list, "k", 1), 2);
    EXPECT_EQ(intr_ilist_getindex(list, "none", 4), 0);
    EXPECT_EQ(intr_ilist_getindex(list, "kk", 1), 2) << "the name is read by its length";

    // Renaming frees the old name: k now starts at 4; inserting before moves every position.
    intr_ilist_setname(list, 2, "j", 1);
    EXPECT_EQ(ilist_getindex(list, "k"), 4);
    intr_ilist_insert(list, 0, Txt("z"));
    EXPECT_EQ(ilist_getindex(list, "k"), 5);
    EXPECT_EQ(ilist_getindex(list, "j"), 3);
    ilist_deleteelt(list, 5);
    EXPECT_EQ(ilist_getindex(list, "k"), 0);
    EXPECT_EQ(abort_text([&] { ilist_sfetch(list, 0, "k"); }), "No element named k in string list " + ptr(list));
    EXPECT_EQ(ilist_getindex(list, "K"), 5);
    // An element named at the front becomes the first match.
    ilist_addselt(list, "front", 5, 1, "K");
    EXPECT_EQ(ilist_getindex(list, "K"), 1);
    EXPECT_EQ(ilist_getindex_after(list, "K", 1), 6);
}

TEST_F(Lists, TextSearch)
{
    IList_t *list = strings({"abc", "ab", "xyz"});
    struct {
        const char *text;
        long length;
        int found;
    } cases[] = {{"ab", 0, 2}, {"ab", 2, 1}, {"abc", 0, 1}, {"abd", 2, 1}, {"abd", 3, -1}, {"xyz", 0, 3}, {"x", 0, -1}};
    for (const auto &c : cases)
        EXPECT_EQ(intr_ilist_ssearch(list, c.text, static_cast<int>(std::strlen(c.text)), c.length), c.found)
            << c.text << " " << c.length;
}

TEST_F(Lists, ClearDestroyAndHandleChecks)
{
    IList_t *list = strings({"a", "b"});
    ilist_setname(list, 1, "n");
    EXPECT_EQ(intr_ilist_clear(list), 2);
    EXPECT_EQ(intr_ilist_length(list), 0);
    EXPECT_EQ(ilist_getindex(list, "n"), 0);
    intr_ilist_add(list, Txt("again"));
    EXPECT_EQ(ilist_sfetch(list, 1, nullptr), std::string("again"));

    intr_ilist_destroy(nullptr);  // nothing
    intr_ilist_destroy(list);
    EXPECT_EQ(ilist_type(list), 0);
    dec_t d = dec("1");
    char ref[8] = {};  // a text field holding no text
    const std::string h = ptr(list);
    struct {
        std::function<void()> call;
        const char *operation;
    } cases[] = {
        {[&] { ilist_addselt(list, "a", 1, 0, nullptr); }, "ilist_addselt"},
        {[&] { intr_ilist_add(list, Num("1")); }, "ilist_addielt"},
        {[&] { ilist_addnelt(list, &d, 0); }, "ilist_addnelt"},
        {[&] { ilist_insertselt(list, 0, "a", 1); }, "ilist_insertselt"},
        {[&] { ilist_insertielt(list, 0, 1); }, "ilist_insertielt"},
        {[&] { ilist_insertnelt(list, 0, &d); }, "ilist_insertnelt"},
        {[&] { ilist_sfetch(list, 1, nullptr); }, "ilist_sfetch"},
        {[&] { ilist_ifetch(list, 1, nullptr); }, "ilist_ifetch"},
        {[&] { ilist_nfetch(list, 1, nullptr); }, "ilist_nfetch"},
        {[&] { ilist_fetchname(list, 1); }, "ilist_fetchname"},
        {[&] { ilist_setselt(list, 1, "a", 1, nullptr); }, "ilist_setselt"},
        {[&] { ilist_setielt(list, 1, 1, nullptr); }, "ilist_setielt"},
        {[&] { ilist_setnelt(list, 1, &d, nullptr); }, "ilist_setnelt"},
        {[&] { ilist_setname(list, 1, "x"); }, "ilist_setname"},
        {[&] { ilist_getindex_after(list, "x", 0); }, "ilist_getindex_after"},
        {[&] { ilist_getindex(list, "x"); }, "ilist_getindex"},
        {[&] { ilist_snsearch(list, "x", 0); }, "ilist_snsearch"},
        {[&] { ilist_deleteelt(list, 1); }, "ilist_deleteelt"},
        {[&] { ilist_clear(list); }, "ilist_clear"},
        {[&] { intr_ilist_destroy(list); }, "ilist_destroy"},
        {[&] { ilist_length(list); }, "ilist_length"},
        {[&] { ilist_clone(list); }, "ilist_clone"},
        {[&] { ilist_cdump(list, 1); }, "ilist_cdump"},
        {[&] { ilist_sort(list, 0); }, "ilist_sort"},
        {[&] { intr_ilist_totext(list, Num("1"), ref); }, "ilist_sfetch"},
        {[&] { intr_ilist_extext(list, ref); }, "ilist_addselt"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(abort_text(c.call), std::string(c.operation) + ": No list exists with handle " + h + "\n");
    EXPECT_EQ(abort_text([] { ilist_length(nullptr); }), "ilist_length: No list exists with handle (nil)\n");
}

TEST_F(Lists, DestroyAllEmptiesTheChain)
{
    IList_t *a = strings({"a"}), *b = ilist_declare(ILIST_INTEGER);
    ilist_destroyall();
    EXPECT_EQ(master_list, nullptr);
    EXPECT_EQ(ilist_type(a), 0);
    EXPECT_EQ(ilist_type(b), 0);
    IList_t *c = ilist_declare(ILIST_STRING), *d = ilist_declare(ILIST_STRING), *e = ilist_declare(ILIST_STRING);
    ilist_destroy(d);  // from the middle of the chain
    EXPECT_EQ(master_list, e);
    EXPECT_EQ(e->next, c);
    EXPECT_EQ(c->prev, e);
}

TEST_F(Lists, CloneCopiesValuesAndNames)
{
    IList_t *list = strings({"a", "b"});
    ilist_setname(list, 2, "second");
    IList_t *copy = ilist_clone(list);
    EXPECT_EQ(ilist_type(copy), ILIST_STRING);
    EXPECT_EQ(master_list, copy);
    ilist_setselt(list, 1, "changed", 7, nullptr);
    ilist_destroy(list);
    EXPECT_EQ(texts(copy), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(ilist_getindex(copy, "second"), 2);
    EXPECT_EQ(ilist_fetchname(copy, 1), nullptr);

    IList_t *numbers = ilist_declare(ILIST_NUMERIC | ILIST_HASH);
    dec_t d = dec("-1.25");
    ilist_setnelt(numbers, 0, &d, "x");
    IList_t *ncopy = ilist_clone(numbers);
    EXPECT_EQ(ilist_type(ncopy), ILIST_NUMERIC | ILIST_HASH);
    EXPECT_EQ(number(ilist_nfetch(ncopy, 0, "x")), -1.25);
}

TEST_F(Lists, DumpFormat)
{
    IList_t *s = strings({"plain"});
    ilist_setselt(s, 0, "named", 5, "k");
    IList_t *i = ilist_declare(ILIST_INTEGER);
    ilist_addielt(i, -5000000000LL, 0);
    IList_t *n = ilist_declare(ILIST_NUMERIC | ILIST_HASH);
    dec_t half = dec("2.5");
    ilist_setnelt(n, 0, &half, "half");
    IList_t *odd = ilist_declare(ILIST_HASH);
    struct {
        std::function<void()> dump;
        std::string out;
    } cases[] = {
        {[&] { intr_ilist_cdump(s); },
         "List: Handle " + ptr(s) + ", nelts 2, flags 0x1\n       1: plain\n       2: [k]=named\n"},
        {[&] { ilist_cdump(s, 0); }, "List: Handle " + ptr(s) + ", nelts 2, flags 0x1\n"},
        {[&] { ilist_cdump(i, 1); }, "List: Handle " + ptr(i) + ", nelts 1, flags 0x2\n       1: -5000000000\n"},
        {[&] { ilist_cdump(n, 1); }, "List: Handle " + ptr(n) + ", nelts 1, flags 0x14\n       1: [half]=2.500000\n"},
        {[&] { ilist_cdump(odd, 1); }, "List: Handle " + ptr(odd) + ", nelts 0, flags 0x10\n"},
        {[&] { intr_ilist_cdumpall(0); },
         "List: Handle " + ptr(odd) + ", nelts 0, flags 0x10\nList: Handle " + ptr(n) +
             ", nelts 1, flags 0x14\nList: Handle " + ptr(i) + ", nelts 1, flags 0x2\nList: Handle " + ptr(s) +
             ", nelts 2, flags 0x1\n"},
        {[&] {
             ilist_destroyall();
             intr_ilist_cdumpall(1);
         },
         "No Lists\n"},
    };
    for (const auto &c : cases) {
        testing::internal::CaptureStdout();
        c.dump();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
    }
}

// ---- The application's tracked lists -----------------------------------------------------

class TrackedLists : public Lists {
protected:
    void SetUp() override
    {
        ap = AddApplication("prog__A");
        ap->app = NewApplicationMem(1, 0, 0, 0);
        AddLoadedFile("main.src", &ap->app->loaded_files);
        current_application = ap;
        src_line_number = 42;
        src_file_index = 0;
    }
    void TearDown() override
    {
        ++last_ap_delete_ok;
        testing::internal::CaptureStderr();
        while (applications) DelApplication(applications->name, nullptr);
        testing::internal::GetCapturedStderr();
        last_ap_delete_ok = 0;
        current_application = nullptr;
        src_line_number = 0;
        Lists::TearDown();
    }
    Application_t *ap = nullptr;
};

TEST_F(TrackedLists, DeclareRegistersAndDestroyForgets)
{
    IList_t *list = intr_ilist_declare("int", 3);
    ASSERT_NE(ap->app->handles_first, nullptr);
    EXPECT_EQ(ap->app->handles_first->handle, reinterpret_cast<std::uintptr_t>(list));
    EXPECT_EQ(ap->app->handles_first->kind, APP_HANDLE_ILIST);
    EXPECT_EQ(ap->app->handles_first->line, 42);
    EXPECT_STREQ(ap->app->handles_first->file, "main.src");
    EXPECT_STREQ(ap->app->handles_first->app_name, "prog__A");
    intr_ilist_destroy(list);
    EXPECT_EQ(ap->app->handles_first, nullptr);
    EXPECT_EQ(ilist_type(list), 0);
}

TEST_F(TrackedLists, LeftoverListsGoWithTheApplication)
{
    IList_t *kept = intr_ilist_declare("char", 4);
    intr_ilist_add(kept, Txt("x"));
    ilist_setname(kept, 1, "name");
    IList_t *other = ilist_declare(ILIST_STRING);  // not the program's: stays
    ++last_ap_delete_ok;
    testing::internal::CaptureStderr();
    DelApplication("prog__A", nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Unfreed ilist around line 42 of main.src (app: prog__A)\n"), std::string::npos) << err;
    EXPECT_EQ(ilist_type(kept), 0);
    EXPECT_EQ(ilist_type(other), ILIST_STRING);
}

TEST_F(TrackedLists, DestroyedElsewhereIsForgottenEverywhere)
{
    IList_t *list = intr_ilist_declare("char", 4);
    Application_t *second = AddApplication("other__A");
    second->app = NewApplicationMem(1, 0, 0, 0);
    current_application = second;
    intr_ilist_destroy(list);  // by another application than the one that declared it
    EXPECT_EQ(ap->app->handles_first, nullptr);

    // A tracked handle that is no longer a list is reported and left alone.
    IList_t *gone = ilist_declare(ILIST_STRING);
    AppIlistAdd(ap->app, APP_HANDLE_ILIST, reinterpret_cast<std::uintptr_t>(gone), "prog__A", 7, 0);
    ilist_destroy(gone);
    ++last_ap_delete_ok;
    testing::internal::CaptureStderr();
    std::string error = abort_text([&] { DelApplication("prog__A", nullptr); });
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(error, "");
    EXPECT_NE(err.find("Unfreed ilist around line 7 of main.src (app: prog__A)\n"), std::string::npos) << err;
    EXPECT_EQ(FindApplication("prog__A"), nullptr);
}

// ---- Extended texts: program text fields under the pointer accounting ---------------------

namespace {

// A text field holding a registered copy of text.
void give_text(unsigned char *field, const char *text)
{
    char *copy = static_cast<char *>(salloc(std::strlen(text) + 1));
    std::strcpy(copy, text);
    text_field_set(field, copy, "test");
}

int nodes_for(AppMemory_t *mem, const void *field)
{
    int n = 0;
    for (PointerMem_t *p = mem->pointer_memory; p; p = p->next) n += p->variable == field;
    return n;
}

} // namespace

TEST_F(TrackedLists, ExtendedTextsReadTheFieldsText)
{
    IList_t *list = ilist_declare(ILIST_STRING);
    unsigned char field[8] = {}, blank[8], none[8] = {};
    std::memset(blank, ' ', sizeof blank);
    give_text(field, "a text of some length");
    intr_ilist_extext(list, field);
    intr_ilist_extext(list, none);   // zero: no text
    intr_ilist_extext(list, blank);  // eight blanks: no text, never an address
    EXPECT_EQ(texts(list), (std::vector<std::string>{"a text of some length", "", ""}));

    give_text(field, "second");
    intr_ilist_settext(list, Num("2"), field);
    give_text(field, "named");
    intr_ilist_settext(list, Txt("n"), field);
    intr_ilist_settext(list, Num("1"), blank);
    EXPECT_EQ(texts(list), (std::vector<std::string>{"", "second", "", "named"}));
    EXPECT_EQ(abort_text([&] { intr_ilist_settext(list, other, field); }),
              "Second arg to ILIST_SETTEXT must be string or numeric\n");
}

TEST_F(TrackedLists, ExtendedTextsRefuseUnknownReferences)
{
    IList_t *list = intr_ilist_declare("char", 4);
    ilist_addselt(list, "kept", 4, 0, nullptr);
    static char foreign[] = "not from the accounting";
    unsigned char field[8];
    CtoBasicPtr(field, foreign);
    const std::string where = " refused";
    for (auto &[op, call] : std::vector<std::pair<std::string, std::function<void()>>>{
             {"ILIST_EXTEXT", [&] { intr_ilist_extext(list, field); }},
             {"ILIST_SETTEXT", [&] { intr_ilist_settext(list, Num("1"), field); }},
             {"ILIST_TOTEXT", [&] { intr_ilist_totext(list, Num("1"), field); }},
         }) {
        std::string error = abort_text(call);
        EXPECT_EQ(error.rfind(op + ": unknown text reference 0x", 0), 0u) << error;
        EXPECT_NE(error.find(where), std::string::npos) << error;
        EXPECT_EQ(BasicPtrtoC(field), foreign) << op << " left the field as it was";
    }
    EXPECT_EQ(texts(list), (std::vector<std::string>{"kept"}));

    // A reference to a block the accounting holds, but for another field, is not this field's.
    unsigned char owner[8] = {};
    give_text(owner, "owned elsewhere");
    std::memcpy(field, owner, sizeof field);
    EXPECT_NE(abort_text([&] { intr_ilist_extext(list, field); }), "");
}

TEST_F(TrackedLists, ToTextReplacesAndReleasesTheOldText)
{
    IList_t *list = ilist_declare(ILIST_STRING | ILIST_HASH);
    ilist_setselt(list, 0, "first", 5, "a");
    ilist_setselt(list, 0, "", 0, "empty");
    unsigned char field[8];
    std::memset(field, ' ', sizeof field);  // a blank-filled record: no text to release

    intr_ilist_totext(list, Txt("a"), field);
    const char *copy = static_cast<const char *>(BasicPtrtoC(field));
    EXPECT_STREQ(copy, "first");
    EXPECT_NE(copy, ilist_sfetch(list, 0, "a")) << "the field gets its own copy";
    EXPECT_EQ(text_field_text(field, "test"), copy) << "the copy is registered for the field";

    // The old copy is released (the sanitizer build reports it otherwise), one node per field.
    intr_ilist_totext(list, Num("2"), field);
    EXPECT_STREQ(static_cast<const char *>(BasicPtrtoC(field)), "");
    EXPECT_EQ(nodes_for(ap->app, field), 1);
    intr_ilist_totext(list, Txt("a"), field);
    EXPECT_STREQ(text_field_text(field, "test"), "first");
    EXPECT_EQ(nodes_for(ap->app, field), 1);

    // A missing element stops before the field changes.
    const void *before = BasicPtrtoC(field);
    EXPECT_NE(abort_text([&] { intr_ilist_totext(list, Txt("nosuch"), field); }), "");
    EXPECT_EQ(BasicPtrtoC(field), before);
    EXPECT_EQ(abort_text([&] { intr_ilist_totext(list, other, field); }),
              "Argument 2 in ILIST_TOTEXT must be string or numeric");
}

// ---- The index against a plain model --------------------------------------------------------

struct ModelElt {
    std::string text;
    std::string name;  // "" for none
};

// Checks every position and every name of the pool against the model.
void check_against(IList_t *list, const std::vector<ModelElt> &model, const std::vector<std::string> &pool, int step)
{
    ASSERT_EQ(ilist_length(list), static_cast<int>(model.size())) << "step " << step;
    std::vector<std::string> chain = texts(list);
    for (std::size_t i = 0; i < model.size(); ++i) {
        ASSERT_EQ(chain[i], model[i].text) << "step " << step << " chain " << i;
        ASSERT_STREQ(ilist_sfetch(list, static_cast<int>(i + 1), nullptr), model[i].text.c_str()) << "step " << step;
        const char *name = ilist_fetchname(list, static_cast<int>(i + 1));
        ASSERT_EQ(name ? name : "", model[i].name) << "step " << step << " position " << i + 1;
    }
    for (const std::string &n : pool) {
        int after = 0;
        for (;;) {  // every element of that name, in order
            int expected = 0;
            for (std::size_t i = static_cast<std::size_t>(after); i < model.size(); ++i)
                if (model[i].name == n) {
                    expected = static_cast<int>(i + 1);
                    break;
                }
            ASSERT_EQ(ilist_getindex_after(list, n.c_str(), after), expected) << "step " << step << " name " << n;
            if (!expected) break;
            after = expected;
        }
        int first = ilist_getindex(list, n.c_str());
        if (first) {
            ASSERT_STREQ(ilist_sfetch(list, 0, n.c_str()), model[static_cast<std::size_t>(first - 1)].text.c_str());
        }
    }
}

TEST_F(Lists, IndexFollowsASeededSequenceOfChanges)
{
    const std::vector<std::string> pool = {"a", "b", "c", "d", "e", "f"};
    // Lists kept short, and lists grown to hundreds of elements, so that the runs of the
    // position index fill, split and empty wherever the changes fall.
    const struct {
        unsigned seed;
        int grow_until;
    } runs[] = {{1, 20}, {2, 20}, {3, 20}, {4, 400}, {5, 400}};
    for (const auto [seed, grow_until] : runs) {
        std::mt19937 rng(seed);
        auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
        IList_t *list = ilist_declare(ILIST_STRING);
        std::vector<ModelElt> model;
        int serial = 0;
        for (int step = 0; step < 1500; ++step) {
            int size = static_cast<int>(model.size());
            std::string text = "v" + std::to_string(++serial);
            if (serial % 7 == 0) text.resize(90, '-');  // too long for a small piece
            switch (pick(size < grow_until ? 4 : 7)) {
            case 0: {  // append, sometimes named
                std::string name = pick(2) ? pool[static_cast<std::size_t>(pick(6))] : "";
                ilist_addselt(list, text.c_str(), 99, 0, name.empty() ? nullptr : name.c_str());
                model.push_back({text, name});
                break;
            }
            case 1: {  // prepend, sometimes named
                std::string name = pick(2) ? pool[static_cast<std::size_t>(pick(6))] : "";
                ilist_addselt(list, text.c_str(), 99, 1, name.empty() ? nullptr : name.c_str());
                model.insert(model.begin(), {text, name});
                break;
            }
            case 2: {
                int p = pick(size + 1);
                ilist_insertselt(list, p, text.c_str(), 99);
                model.insert(model.begin() + p, {text, ""});
                break;
            }
            case 3: {  // set by name: the first of that name, or a new one at the end
                const std::string &n = pool[static_cast<std::size_t>(pick(6))];
                ilist_setselt(list, 0, text.c_str(), 99, n.c_str());
                auto it = std::find_if(model.begin(), model.end(), [&](const ModelElt &m) { return m.name == n; });
                if (it == model.end())
                    model.push_back({text, n});
                else
                    it->text = text;
                break;
            }
            case 4:
            case 5: {
                int p = pick(size) + 1;
                ilist_deleteelt(list, p);
                model.erase(model.begin() + (p - 1));
                break;
            }
            case 6: {
                int p = pick(size) + 1;
                const std::string &n = pool[static_cast<std::size_t>(pick(6))];
                ilist_setname(list, p, n.c_str());
                model[static_cast<std::size_t>(p - 1)].name = n;
                break;
            }
            }
            check_against(list, model, pool, step);
            if (HasFatalFailure()) return;
        }
        IList_t *copy = ilist_clone(list);
        check_against(copy, model, pool, -1);
        if (HasFatalFailure()) return;
        EXPECT_EQ(ilist_clear(list), static_cast<int>(model.size()));
        check_against(list, {}, pool, -2);
        ilist_destroy(copy);
        ilist_destroy(list);
    }
}

// ---- Footprint ---------------------------------------------------------------------------------

// The heap bytes in use: the sanitizer's count under the address sanitizer (it replaces malloc),
// else the allocator's.
std::size_t heap_in_use()
{
#ifdef LIST_TEST_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// Large imports keep millions of short named elements: what one costs must stay near its record,
// not several heap blocks (the element, its name, its text, a name-table node), and a text
// repeated from one element to the next is held once.
TEST_F(Lists, ShortElementsStayCompact)
{
    constexpr int ELEMENTS = 90000;
    struct Case {
        int type;
        bool repeated;
        std::size_t bound;  // bytes an element, all included
        const char *what;
    } cases[] = {
        {ILIST_STRING | ILIST_HASH, false, 88, "named, texts alternating"},
        {ILIST_STRING | ILIST_HASH, true, 80, "named, one text repeated"},
        {ILIST_STRING, false, 56, "unnamed, texts alternating"},
        {ILIST_STRING, true, 44, "unnamed, one text repeated"},
    };
    for (const Case &c : cases) {
        const std::size_t before = heap_in_use();
        IList_t *list = ilist_declare(c.type);
        const bool named = c.type & ILIST_HASH;
        for (int i = 1; i <= ELEMENTS; ++i) {
            const char *text = c.repeated || i % 2 ? "true" : "false";
            ilist_addselt(list, text, 5, 0, named ? std::to_string(i).c_str() : nullptr);
        }
        const std::size_t used = heap_in_use() - before;
        EXPECT_LE(used / ELEMENTS, c.bound) << c.what;
        EXPECT_STREQ(ilist_sfetch(list, named ? 0 : 4242, named ? "4242" : nullptr), c.repeated ? "true" : "false")
            << c.what;
        ilist_destroy(list);
    }
}

// Elements appended with the text of the one before share it: changing, deleting or clearing one
// of them leaves the others' text as it was.
TEST_F(Lists, RepeatedTextsStayApart)
{
    const std::string long_text(100, 'x');
    for (const std::string &repeated : {std::string("true"), long_text, std::string()}) {
        IList_t *list = ilist_declare(ILIST_STRING);
        for (const char *name : {"a", "b", "c", "d"})
            ilist_addselt(list, repeated.c_str(), static_cast<int>(repeated.size()), 0, name);
        ilist_setselt(list, 0, repeated.c_str(), static_cast<int>(repeated.size()), "e");  // a new one, by set
        ilist_setselt(list, 2, "other", 5, nullptr);
        ilist_deleteelt(list, 1);
        EXPECT_EQ(texts(list), (std::vector<std::string>{"other", repeated, repeated, repeated}));
        IList_t *copy = ilist_clone(list);
        ilist_deleteelt(list, 4);
        ilist_setselt(list, 0, "changed", 7, "c");
        EXPECT_EQ(texts(list), (std::vector<std::string>{"other", "changed", repeated}));
        EXPECT_EQ(texts(copy), (std::vector<std::string>{"other", repeated, repeated, repeated}));
        EXPECT_EQ(ilist_clear(list), 3);
        ilist_addselt(list, "other", 5, 0, nullptr);
        EXPECT_EQ(texts(list), (std::vector<std::string>{"other"}));
        ilist_destroy(copy);
        ilist_destroy(list);
    }
}

// A caller that keeps an element or its text past the element's removal reads freed memory: the
// sanitizer build must see it as such, though the storage stays with the list for reuse.
TEST_F(Lists, RemovedElementsAreFreedToTheSanitizer)
{
#ifdef LIST_TEST_ASAN
    IList_t *list = strings({"kept", "removed"});
    const IListElt_t *element = list->tail;
    const char *text = element->value.text;
    EXPECT_FALSE(__asan_address_is_poisoned(text));
    ilist_deleteelt(list, 2);
    EXPECT_TRUE(__asan_address_is_poisoned(text));
    EXPECT_TRUE(__asan_address_is_poisoned(&element->name));
    ilist_addselt(list, "again", 5, 0, nullptr);  // reused pieces are whole again
    EXPECT_STREQ(ilist_sfetch(list, 2, nullptr), "again");
    EXPECT_FALSE(__asan_address_is_poisoned(list->tail->value.text));
#else
    GTEST_SKIP() << "only the address sanitizer tells freed memory";
#endif
}

} // namespace
