// Table schemas: registry and hashing, record layout, the section reader and its refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "globals.h"
#include "section_fixtures.h"
#include "sql.h"
#include "test_host.h"

using fixtures::Registry;
using lumba_test::abort_text;
using lumba_test::feed_object;

namespace {

int load(Registry &reg, const std::string &text, std::size_t block = 2048)
{
    feed_object(text, block);
    return LoadOskaTables(reg.tables);
}

OskaCol_t *add_col(OskaTable_t *t, const char *name, ColType_t type, int a = 0, int b = 0)
{
    OskaCol_t *c = CreateOskaCol(t, name);
    c->type = type;
    c->storage_A = static_cast<std::int16_t>(a);
    c->storage_B = static_cast<std::int16_t>(b);
    return c;
}

std::string replace(std::string text, const std::string &from, const std::string &to)
{
    auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

} // namespace

TEST(TableRegistry, HashIsStandardCrc32)
{
    EXPECT_EQ(hash_32(""), 0u);
    EXPECT_EQ(hash_32("abc"), 0x352441C2u);
    EXPECT_EQ(hash_32("abc") & 255, 0xC2u);
    EXPECT_EQ(hash_32("123456789"), 0xCBF43926u);  // the CRC-32 check value

    Registry reg;
    OskaTable_t *t = CreateOskaTable(reg.tables, "abc");
    EXPECT_EQ(reg.tables[0xC2], t);
    OskaTable_t *e = CreateOskaTable(reg.tables, "");
    EXPECT_EQ(reg.tables[0], e);
}

TEST(TableRegistry, LookupsAndDeletion)
{
    Registry reg;
    OskaTable_t *a = CreateOskaTable(reg.tables, "orders");
    OskaTable_t *b = CreateOskaTable(reg.tables, "Orders");
    EXPECT_EQ(FindOskaTable(reg.tables, "orders"), a);
    EXPECT_EQ(FindOskaTable(reg.tables, "Orders"), b);  // table names are case-sensitive
    EXPECT_EQ(FindOskaTable(reg.tables, "ORDERS"), nullptr);
    EXPECT_EQ(FindOskaTable(reg.tables, nullptr), nullptr);

    add_col(a, "Total", ct_numeric);
    int index = 7;
    EXPECT_NE(FindOskaCol(a, "total", &index), nullptr);  // column names are not
    EXPECT_EQ(index, 0);
    EXPECT_EQ(FindOskaCol(a, "missing", &index), nullptr);
    EXPECT_EQ(index, -1);

    OskaIdx_t *x = CreateOskaIdx(a, "by_total");
    EXPECT_EQ(FindOskaIdx(a, "by_total"), x);
    EXPECT_EQ(FindOskaIdx(a, "BY_TOTAL"), nullptr);
    AddColAttribute(a, x, "TOTAL");
    EXPECT_EQ(x->natts, 1);
    EXPECT_EQ(x->atts[0], 0);

    DelOskaTable(reg.tables, a);
    EXPECT_EQ(FindOskaTable(reg.tables, "orders"), nullptr);
    EXPECT_EQ(FindOskaTable(reg.tables, "Orders"), b);
    EXPECT_EQ(reg.count(), 1);
}

TEST(TableRegistry, SameBucketKeepsCreationOrder)
{
    // Names that share a bucket, found by trying a few short names.
    std::vector<std::string> same;
    for (int i = 0; same.size() < 3 && i < 100000; ++i) {
        std::string n = "t" + std::to_string(i);
        if ((hash_32(n.c_str()) & 255) == (hash_32("t0") & 255)) same.push_back(n);
    }
    ASSERT_EQ(same.size(), 3u);
    Registry reg;
    for (const auto &n : same) CreateOskaTable(reg.tables, n.c_str());
    OskaTable_t *t = reg.tables[hash_32("t0") & 255];
    for (const auto &n : same) {
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->tname, n);
        t = t->nxt;
    }
    DelOskaTable(reg.tables, FindOskaTable(reg.tables, same[1].c_str()));
    EXPECT_NE(FindOskaTable(reg.tables, same[2].c_str()), nullptr);
    EXPECT_EQ(reg.count(), 2);
}

TEST(TableRegistry, LimitsAbort)
{
    Registry reg;
    OskaTable_t *t = CreateOskaTable(reg.tables, "wide");
    for (int i = 0; i < MAX_SQL_COLS; ++i) add_col(t, ("c" + std::to_string(i)).c_str(), ct_numeric);
    EXPECT_EQ(abort_text([&] { CreateOskaCol(t, "one_more"); }), "Too many columns in table wide. Increase MAX_SQL_COLS");
    for (int i = 0; i < MAX_SQL_INDICES; ++i) CreateOskaIdx(t, ("i" + std::to_string(i)).c_str());
    EXPECT_EQ(abort_text([&] { CreateOskaIdx(t, "one_more"); }),
              "Too many indexes in table wide. Increase MAX_SQL_INDICES");
    OskaIdx_t *x = t->idxes[0].get();
    EXPECT_EQ(abort_text([&] { AddColAttribute(t, x, "nosuch"); }),
              "Index attribute column nosuch not present in table wide\n");
    for (int i = 0; i < MAX_SQL_IDX_ATTS; ++i) AddColAttribute(t, x, "c1");
    EXPECT_EQ(abort_text([&] { AddColAttribute(t, x, "c1"); }), "Index i0 in table wide - too many attribute indices\n");
}

TEST(ColumnTypes, NamesAndFileNumbers)
{
    struct {
        ColType_t type;
        const char *name;
        int number;
    } cases[] = {
        {ct_unknown, "Unknown", 0}, {ct_date, "date", 1}, {ct_char, "char", 2}, {ct_varchar, "varchar", 3},
        {ct_numeric, "numeric", 4}, {ct_text, "text", 5}, {ct_bytea, "bytea", 6}, {ct_serial, "serial", 12},
        {ct_struct, "struct", 7}, {ct_timestamp, "timestamp with time zone", 8},
        {ct_timestampw, "timestamp without time zone", 9}, {ct_timew, "time without time zone", 11},
        {ct_time, "time with time zone", 10}, {ct_oid, "oid", 13},
    };
    for (const auto &c : cases) {
        EXPECT_STREQ(ct_string(c.type), c.name);
        EXPECT_EQ(ct_ct2number(c.type), c.number) << c.name;
        if (c.number) {
            EXPECT_EQ(ct_number2ct(c.number), c.type) << c.name;
        }
    }
    EXPECT_EQ(ct_number2ct(0), ct_unknown);
    EXPECT_EQ(ct_number2ct(14), ct_unknown);
    EXPECT_EQ(ct_number2ct(-3), ct_unknown);
}

TEST(RecordLayout, OffsetsAlignDecimalsAndPointers)
{
    Registry reg;
    OskaTable_t *t = CreateOskaTable(reg.tables, "t");
    add_col(t, "a", ct_char, 10);
    add_col(t, "b", ct_numeric);
    add_col(t, "c", ct_text);
    EXPECT_EQ(OskaTable_GenOffsets(t), 56);
    EXPECT_EQ(t->cols[0]->offset, 0);
    EXPECT_EQ(t->cols[1]->offset, 22);
    EXPECT_EQ(t->cols[2]->offset, 48);

    // Every other type and its alignment: the fixture's customer table has size 171.
    OskaTable_t *u = CreateOskaTable(reg.tables, "u");
    add_col(u, "code", ct_char, 10);
    add_col(u, "amount", ct_numeric, 12, 2);
    add_col(u, "note", ct_text);
    add_col(u, "id", ct_serial);
    add_col(u, "created", ct_timestamp);
    add_col(u, "zone", ct_varchar, 40);
    add_col(u, "when", ct_date);
    EXPECT_EQ(OskaTable_GenOffsets(u), 171);
    const int want[] = {0, 22, 48, 66, 88, 119, 160};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(u->cols[i]->offset, want[i]) << i;

    OskaTable_t *v = CreateOskaTable(reg.tables, "v");
    add_col(v, "d", ct_date);
    add_col(v, "s", ct_struct, 30);
    add_col(v, "o", ct_oid);
    add_col(v, "tw", ct_timew);
    add_col(v, "tz", ct_time);
    add_col(v, "tsw", ct_timestampw);
    add_col(v, "by", ct_bytea);
    // 0+11 -> struct @16 (+30=46) -> oid @66 (+22=88) -> timew @88 (+19=107) -> time @107 (+14=121)
    // -> timestampw @121 (+25=146) -> bytea @152 (+8=160)
    EXPECT_EQ(OskaTable_GenOffsets(v), 160);
    const int want_v[] = {0, 16, 66, 88, 107, 121, 152};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(v->cols[i]->offset, want_v[i]) << i;

    OskaTable_t *w = CreateOskaTable(reg.tables, "w");
    add_col(w, "x", ct_unknown);
    EXPECT_EQ(abort_text([&] { OskaTable_GenOffsets(w); }), "Unknown column type found!\n");
}

TEST(RecordLayout, CompareLooksAtLayoutOnly)
{
    Registry reg;
    auto make = [&](const char *name, int a) {
        OskaTable_t *t = CreateOskaTable(reg.tables, name);
        add_col(t, "a", ct_char, a);
        add_col(t, "b", ct_numeric);
        t->tsize = OskaTable_GenOffsets(t);
        return t;
    };
    OskaTable_t *t0 = make("t0", 10), *t1 = make("t1", 10), *t2 = make("t2", 9);
    EXPECT_EQ(CompareOskaTable(t0, t0), 0);
    EXPECT_EQ(CompareOskaTable(t0, t1), 0);
    t1->cols[0]->cname = "renamed";  // names and flags do not count
    t1->cols[0]->cflags = OCOL_TS_TZ;
    EXPECT_EQ(CompareOskaTable(t0, t1), 0);
    EXPECT_EQ(CompareOskaTable(t0, t2), 1);  // same size, different storage
    t1->cols[1]->storage_B = 2;
    EXPECT_EQ(CompareOskaTable(t0, t1), 1);
    EXPECT_EQ(CompareOskaTable(t0, nullptr), 1);
    EXPECT_EQ(CompareOskaTable(nullptr, nullptr), 1);
    add_col(t2, "c", ct_date);
    EXPECT_EQ(CompareOskaTable(t0, t2), 1);
}

TEST(SqlSection, ReadsTablesColumnsTextsFlagsAndIndexes)
{
    Registry reg;
    EXPECT_EQ(load(reg, fixtures::sql_customer), 1);
    OskaTable_t *t = FindOskaTable(reg.tables, "customer");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(fixtures::describe(reg.tables),
              "T customer v0 c7 i2 s171\n"
              " C code char 10 0 @0 f0 d['none'] k[-]\n"
              " C amount numeric 12 2 @22 f0 d[-] k[CHECK (amount >= 0)]\n"
              " C note text 0 0 @48 f0 d[-] k[-]\n"
              " C id serial 0 0 @66 f0 d[-] k[-]\n"
              " C AUTO_I_created timestamp with time zone 0 0 @88 f1 d[-] k[-]\n"
              " C AUTO_U_stamp_TZ varchar 40 0 @119 f6 d[-] k[-]\n"
              " C AUTO_X_when date 0 0 @160 f0 d[-] k[-]\n"
              " I customer_pk 3\n"
              " I by_code 0 1\n");
    EXPECT_EQ(t->src_line, 0);
    EXPECT_EQ(t->cols[0]->src_line, 0);
}

TEST(SqlSection, WriterAndReaderAgree)
{
    // Through the compiler's registry: what is read is written back byte for byte.
    DelAllOskaTables(oska_tables);
    feed_object(fixtures::sql_customer, 7);
    EXPECT_EQ(LoadOskaTables(oska_tables), 1);
    std::string written = fixtures::stream_text([](std::FILE *f) { EXPECT_EQ(SaveOskaTables(f), 1); });
    EXPECT_EQ(written, fixtures::sql_customer);

    // Empty default and constraint texts are not the same as none.
    OskaCol_t *c = FindOskaCol(FindOskaTable(oska_tables, "customer"), "note", nullptr);
    c->defaults = "";
    c->constraints = "x";
    written = fixtures::stream_text([](std::FILE *f) { SaveOskaTables(f); });
    EXPECT_NE(written.find("C:note 5 0 0 48 1 1\n\nx\n"), std::string::npos) << written;
    Registry back;
    EXPECT_EQ(load(back, written), 1);
    OskaCol_t *r = FindOskaCol(FindOskaTable(back.tables, "customer"), "note", nullptr);
    ASSERT_TRUE(r->defaults.has_value());
    EXPECT_EQ(*r->defaults, "");
    EXPECT_EQ(r->constraints.value_or("?"), "x");
    DelAllOskaTables(oska_tables);
}

TEST(SqlSection, EmptySectionAndEndOfFileRefill)
{
    Registry reg;
    EXPECT_EQ(load(reg, "__SQL_TABLES__ 0\n"), 0);
    EXPECT_EQ(reg.count(), 0);
    // The section ends at a block end: the reader refills, so the next record is ready.
    feed_object("__SQL_TABLES__ 0\nX", 17);
    EXPECT_EQ(LoadOskaTables(reg.tables), 0);
    ASSERT_NE(obj_ptr, obj_end);
    EXPECT_EQ(*obj_ptr, 'X');
}

TEST(SqlSection, ReloadOfTheSameTableIsAccepted)
{
    Registry reg;
    EXPECT_EQ(load(reg, fixtures::sql_customer), 1);
    std::string first = fixtures::describe(reg.tables);
    EXPECT_EQ(load(reg, fixtures::sql_customer, 2), 1);
    EXPECT_EQ(reg.count(), 1);
    EXPECT_EQ(fixtures::describe(reg.tables), first);  // nothing added, nothing dropped
    // A column name in another case still finds its column.
    EXPECT_EQ(load(reg, replace(fixtures::sql_customer, "C:note", "C:NOTE")), 1);
    EXPECT_EQ(fixtures::describe(reg.tables), first);
}

TEST(SqlSection, ReloadConflictsAbortAndLeaveNoTable)
{
    const std::string base = fixtures::sql_customer;
    struct {
        std::string text;
        std::string message;
    } cases[] = {
        {replace(base, "C:note 5 0 0 48", "C:note 5 0 0 56"),
         "Reloading table customer, column note. Mismatch\n"
         "Type, Stor A, B, Offs: Old 5 0 0 48 vs New 5 0 0 56\n"},
        {replace(base, "C:code 2 10 0", "C:code 3 10 0"),
         "Reloading table customer, column code. Mismatch\n"
         "Type, Stor A, B, Offs: Old 2 10 0 0 vs New 3 10 0 0\n"},
        {replace(base, "C:note 5", "C:remark 5"),
         "Reloading table customer, column remark. Mismatch\n"
         "Type, Stor A, B, Offs: Old 5 0 0 48 vs New 5 0 0 48\n"},
        {replace(base, "T:customer 2 7 0 171", "T:customer 2 7 1 171"),
         "Reloaded SQL table customer different @ line 0\n"
         "Type, Ncols, Nidx, Size: Old 0 7 2 171, New 1 7 2 171\n"},
        {replace(base, "T:customer 2 7 0 171", "T:customer 2 7 0 180"),
         "Reloaded SQL table customer different @ line 0\n"
         "Type, Ncols, Nidx, Size: Old 0 7 2 171, New 0 7 2 180\n"},
        {replace(base, "C:code 2 10 0 0 7 0\n'none'\n", "C:code 2 10 0 0 0 0\n"),
         "Reloading table customer, column code. Old defaults value 'none', new default value NULL\n"},
        {replace(base, "C:note 5 0 0 48 0 0\n", "C:note 5 0 0 48 0 4\nNOT \n"),
         "Reloading table customer, column note. Old constraint NULL, new constraint NOT \n"},
    };
    yylineno = 0;
    for (const auto &c : cases) {
        Registry reg;
        load(reg, base);
        EXPECT_EQ(abort_text([&] { load(reg, c.text); }), c.message);
        EXPECT_EQ(reg.count(), 0) << c.message;
    }
    // Different default texts on both sides are accepted: only presence is compared.
    Registry reg;
    load(reg, base);
    EXPECT_EQ(load(reg, replace(base, "'none'", "'nada'")), 1);
    EXPECT_EQ(*FindOskaCol(FindOskaTable(reg.tables, "customer"), "code", nullptr)->defaults, "'none'");
}

TEST(SqlSection, DuplicatesInANewTableAbortAndLeaveNoTable)
{
    yylineno = 0;
    struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"__SQL_TABLES__ 1\nT:t 0 2 0 44\nC:a 4 0 0 0 0 0\nC:A 4 0 0 22 0 0\n",
         "Column A in table t already defined @ line 0\n"},
        {"__SQL_TABLES__ 1\nT:t 2 1 0 22\nC:a 4 0 0 0 0 0\nI:x 1\n0\nI:x 1\n0\n",
         "Index x in table t already defined @ line 0\n"},
        // An index beyond the limit of attributes is refused before its list is read.
        {"__SQL_TABLES__ 1\nT:t 1 2 0 44\nC:a 4 0 0 0 0 0\nC:b 4 0 0 22 0 0\nI:x 32\n",
         "Index x in table t - too many attribute indices\n"},
    };
    for (const auto &c : cases) {
        Registry reg;
        load(reg, "__SQL_TABLES__ 1\nT:other 0 1 0 22\nC:n 4 0 0 0 0 0\n");
        EXPECT_EQ(abort_text([&] { load(reg, c.text); }), c.message);
        EXPECT_EQ(reg.count(), 0);
    }
}

TEST(SqlSection, MalformedSectionsAreRefused)
{
    const std::string long_name(64, 'n');
    const std::string long_line(1100, ' ');
    const std::string head = "__SQL_TABLES__ 1\nT:t 1 2 0 44\n";
    struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"__SQL_TABLE__ 1\n", "Malformed SQL table section - Possible old object\n"},
        {"__SQL_TABLES__ x\n", "Malformed SQL table section - Possible old object\n"},
        {"__SQL_TABLES__ 1" + long_line + "\n", "Malformed SQL table section - Possible old object\n"},
        {"__SQL_TABLES__ 1\nT:t 1 2 0\n", "Malformed SQL table entry - T:t 1 2 0\n"},
        {"__SQL_TABLES__ 1\nX:t 1 2 0 44\n", "Malformed SQL table entry - X:t 1 2 0 44\n"},
        {"__SQL_TABLES__ 1\nT:t 1 2 0 -1\n", "Malformed SQL table entry - T:t 1 2 0 -1\n"},
        {"__SQL_TABLES__ 1\nT:t -1 2 0 44\n", "Malformed SQL table entry - T:t -1 2 0 44\n"},
        {"__SQL_TABLES__ 1\nT:" + long_name + " 0 1 0 22\n",
         "Malformed SQL table entry - T:" + long_name + " 0 1 0 22\n"},
        {head + "C:a 4 0 0 0 0\n", "Malformed SQL column entry - C:a 4 0 0 0 0\n"},
        {head + "C:" + long_name + " 4 0 0 0 0 0\n", "Malformed SQL column entry - C:" + long_name + " 4 0 0 0 0 0\n"},
        {head + "C:a 2 99999 0 0 0 0\n", "Malformed SQL column entry - C:a 2 99999 0 0 0 0\n"},
        // Columns must lie inside the announced record.
        {head + "C:a 4 0 0 23 0 0\n", "Malformed SQL column entry - C:a 4 0 0 23 0 0\n"},
        {head + "C:a 2 50 0 0 0 0\n", "Malformed SQL column entry - C:a 2 50 0 0 0 0\n"},
        {head + "C:a 4 0 0 -1 0 0\n", "Malformed SQL column entry - C:a 4 0 0 -1 0 0\n"},
        {head + "C:a 2 -5 0 0 0 0\n", "Malformed SQL column entry - C:a 2 -5 0 0 0 0\n"},
        {head + "C:a 7 45 0 0 0 0\n", "Malformed SQL column entry - C:a 7 45 0 0 0 0\n"},
        {head + "C:a 4 0 0 0 0 0\nC:b 4 0 0 22 0 0\nI:x\n", "Malformed SQL index entry - I:x\n"},
        {head + "C:a 4 0 0 0 0 0\nC:b 4 0 0 22 0 0\nI:" + long_name + " 1\n0\n",
         "Malformed SQL index entry - I:" + long_name + " 1\n"},
        {head + "C:a 4 0 0 0 0 0\nC:b 4 0 0 22 0 0\nI:x 1\none\n", "Malformed SQL index list entry - one\n"},
        // Attribute positions must name a column of the table.
        {head + "C:a 4 0 0 0 0 0\nC:b 4 0 0 22 0 0\nI:x 1\n2\n", "Malformed SQL index list entry - 2\n"},
        {head + "C:a 4 0 0 0 0 0\nC:b 4 0 0 22 0 0\nI:x 1\n-1\n", "Malformed SQL index list entry - -1\n"},
        // Cut off by the end of the file.
        {"__SQL_TABLES__ 2\nT:t 0 1 0 22\nC:a 4 0 0 0 0 0\n", "Binary corrupted: incomplete object file"},
        {head + "C:a 4 0 0 0 0 0\n", "Binary corrupted: incomplete object file"},
        {head + "C:a 4 0 0 0 0 0\nC:b 4 0 0 22 0 0\nI:x 2\n0\n", "Binary corrupted: incomplete object file"},
        {head + "C:a 4 0 0 0 9 0\n'abc", "Binary corrupted: incomplete object file"},
        {head + "C:a 4 0 0 0 0 0\nC:b 4 0 0 2", "Binary corrupted: incomplete object file"},
        {"", "Binary corrupted: incomplete object file"},
    };
    for (const auto &c : cases) {
        for (std::size_t block : {std::size_t{1}, std::size_t{2048}}) {
            Registry reg;
            EXPECT_EQ(abort_text([&] { load(reg, c.text, block); }), c.message) << c.text;
        }
    }
}

TEST(SqlSection, ListingShowsEveryTable)
{
    oska_htables_initialised = 1;
    Registry reg;
    load(reg, "__SQL_TABLES__ 1\nT:t 1 2 1 44\nC:a 4 12 2 0 4 4\n'x'\nNULL\nC:b 4 0 0 22 0 0\nI:ix 2\n1\n0\n");
    testing::internal::CaptureStdout();
    show_sql_tables(reg.tables);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "SQL Tables:\n"
              "t: ncols 2, nindexes 1, table size 44, VIRTUAL\n"
              "  Columns:\n"
              "\ta                    numeric     12    2 @     0 'x' NULL\n"
              "\tb                    numeric      0    0 @    22  \n"
              "  Indices:\n"
              "\tix 2 => cols 1 0 b a\n");
}

TEST(TableVariables, FoundByNameAndRoutine)
{
    static const char tname[] = "customer", v1[] = "CUST", v2[] = "OTHER";
    AddTableVar(tname, v1, 1, 0);
    AddTableVar(tname, v1, 2, 3);
    AddTableVar(tname, v2, 3, 3);
    ASSERT_NE(FindTableVar("CUST", 3), nullptr);
    EXPECT_EQ(FindTableVar("CUST", 3)->flag, 2u);
    EXPECT_EQ(FindTableVar("CUST", 0)->tname, tname);  // the given string itself
    EXPECT_EQ(FindTableVar("CUST", 5), nullptr);
    EXPECT_EQ(FindTableVar("NONE", 3), nullptr);
}
