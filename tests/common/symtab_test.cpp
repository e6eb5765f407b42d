// Symbol-table sections, the routine's symbol list, lookups by location and symbol listings.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "globals.h"
#include "section_fixtures.h"
#include "sql.h"
#include "symtab.h"
#include "test_host.h"

using lumba_test::abort_text;
using lumba_test::feed_object;

namespace {

// A routine table of three, with "main" and "sub1" loaded and a third entry beyond the last one.
struct Routines : testing::Test {
    std::unique_ptr<Routine[]> table{new Routine[3]};
    void SetUp() override
    {
        table[0].R_name = "main";
        table[1].R_name = "sub1";
        table[2].R_name = "later";
        routines = table.get();
        cur_loaded_routine = 1;
    }
    void TearDown() override
    {
        routines = nullptr;
        cur_loaded_routine = -1;
    }
    Routine &sub1() { return table[1]; }
};

std::string names(const Routine &r)
{
    std::string out;
    for (const Symbol *s = r.R_variables; s; s = s->S_fwd) out += s->S_name + " ";
    std::string back;
    for (const Symbol *s = r.R_variables_last; s; s = s->S_bck) back = s->S_name + " " + back;
    EXPECT_EQ(out, back) << "forward and backward links disagree";
    return out;
}

} // namespace

TEST_F(Routines, SectionHangsSymbolsOnTheRoutineInOrder)
{
    feed_object(fixtures::symtab_sub1);
    parse_symtab(1);
    EXPECT_EQ(names(sub1()), "COUNT NAME$ CUST BREC ");
    EXPECT_EQ(table[0].R_variables, nullptr);

    const Symbol *count = sub1().R_variables;
    EXPECT_EQ(count->S_type, s_numeric | s_variable);
    EXPECT_EQ(count->S_memloc, 3u);
    EXPECT_EQ(count->S_order, 1u);
    const Symbol *name = count->S_fwd;
    EXPECT_EQ(name->S_dims[0], 20u);
    EXPECT_EQ(name->S_dims[1], 0u);
    EXPECT_EQ(SymTableName(name), nullptr);  // the seventh word of a non-structure is not kept

    const Symbol *cust = name->S_fwd;
    EXPECT_TRUE(cust->S_type & s_sigtname);
    EXPECT_STREQ(SymTableName(cust), "customer");
    const Symbol *brec = cust->S_fwd;  // based: no table name
    EXPECT_FALSE(brec->S_type & s_sigtname);
    EXPECT_EQ(SymTableName(brec), nullptr);
    EXPECT_EQ(brec->S_order, 4u);
}

TEST_F(Routines, EmptySectionLeavesTheListAsItWas)
{
    feed_object(fixtures::symtab_sub1);
    parse_symtab(1);
    feed_object("__ROUTINE__ sub1 0\n__END_ROUTINE__\nX");
    parse_symtab(1);
    EXPECT_EQ(names(sub1()), "COUNT NAME$ CUST BREC ");
    EXPECT_EQ(*obj_ptr, 'X');  // the closing line was taken, nothing more
    // A second section for the same routine appends.
    feed_object("__ROUTINE__ sub1 1\nMORE 0 0 0x12 9 5 -\n\n");
    parse_symtab(1);
    EXPECT_EQ(names(sub1()), "COUNT NAME$ CUST BREC MORE ");
    EXPECT_EQ(FreeVarsinRoutine(&sub1()), 5);
    EXPECT_EQ(sub1().R_variables, nullptr);
    EXPECT_EQ(sub1().R_variables_last, nullptr);
}

TEST_F(Routines, EveryChunkSizeGivesTheSameSymbols)
{
    for (std::size_t block : {1, 2, 7, 2048}) {
        FreeVarsinRoutine(&sub1());
        feed_object(fixtures::symtab_sub1 + "X", block);
        parse_symtab(1);
        EXPECT_EQ(names(sub1()), "COUNT NAME$ CUST BREC ") << block;
        EXPECT_STREQ(SymTableName(sub1().R_variables->S_fwd->S_fwd), "customer") << block;
        ASSERT_NE(obj_ptr, obj_end) << block;
        EXPECT_EQ(*obj_ptr, 'X') << block;
    }
}

TEST_F(Routines, SeekRoutineStopsAtTheLastLoaded)
{
    EXPECT_EQ(SeekRoutine("main"), &table[0]);
    EXPECT_EQ(SeekRoutine("sub1"), &table[1]);
    EXPECT_EQ(SeekRoutine("later"), nullptr);
    EXPECT_EQ(SeekRoutine("sub"), nullptr);
    cur_loaded_routine = 2;
    EXPECT_EQ(SeekRoutine("later"), &table[2]);
    routines = nullptr;
    EXPECT_EQ(SeekRoutine("main"), nullptr);
}

TEST_F(Routines, MalformedSectionsAreRefused)
{
    const std::string long_name(512, 'v');
    const std::string long_word(600, 't');
    struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"__ROUTINE__ sub1\n", "Bad symbol table format on __ROUTINE__ \n"},
        {"__ROUTINE sub1 1\n", "Bad symbol table format on __ROUTINE__ \n"},
        {"__ROUTINE__ " + long_name + " 0\n\n", "Bad symbol table format on __ROUTINE__ \n"},
        {"__ROUTINE__ sub1 0" + std::string(2100, ' ') + "\n\n", "Bad symbol table format on __ROUTINE__ \n"},
        {"__ROUTINE__ nosuch 0\n\n", "Cannot find routine nosuch for loading symbol table\n"},
        {"__ROUTINE__ later 0\n\n", "Cannot find routine later for loading symbol table\n"},
        {"__ROUTINE__ sub1 1\nX 0 0 0x12 3 1\n\n", "Bad symbol table format for SYMBOL X\n"},
        {"__ROUTINE__ sub1 1\nX 0 0 12 3 1 -\n\n", "Bad symbol table format for SYMBOL X\n"},
        {"__ROUTINE__ sub1 1\n" + long_name + " 0 0 0x12 3 1 -\n\n",
         "Bad symbol table format for SYMBOL " + long_name.substr(0, 511) + "\n"},
        {"__ROUTINE__ sub1 1\nS 0 0 0x200010 3 1 " + long_word + "\n\n", "Bad symbol table format for SYMBOL S\n"},
        {"__ROUTINE__ sub1 1\nX 0 0 0x12 3 1 -" + std::string(2100, ' ') + "\n\n",
         "Bad symbol table format for SYMBOL X\n"},
        {"__ROUTINE__ sub1 2\nX 0 0 0x12 3 1 -\n", "Binary corrupted: incomplete object file"},
        {"__ROUTINE__ sub1 1\nX 0 0 0x12 3 1 -\n", "Binary corrupted: incomplete object file"},
        {"__ROUTINE__ sub1 1\nX 0 0 0x1", "Binary corrupted: incomplete object file"},
        {"", "Binary corrupted: incomplete object file"},
    };
    for (const auto &c : cases) {
        for (std::size_t block : {std::size_t{3}, std::size_t{2048}}) {
            feed_object(c.text, block);
            EXPECT_EQ(abort_text([] { parse_symtab(1); }), c.message) << c.text.substr(0, 40);
        }
        FreeVarsinRoutine(&sub1());
    }
}

TEST_F(Routines, ListingFormCreatesNothing)
{
    feed_object(fixtures::symtab_sub1);
    testing::internal::CaptureStdout();
    parse_symtab(0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Symbol table for sub1 (4 symbols)\n"
              "\tCOUNT 0 0 0x12 (s_numeric s_variable) 3 1 [-]\n"
              "\tNAME$ 20 0 0x14 (s_string s_variable) 7 2 [-]\n"
              "\tCUST 0 0 0x200010 (s_variable s_struct) 0 3 [customer]\n"
              "\tBREC 0 0 0x200810 (s_variable s_based s_struct) 0 4 [customer]\n");
    EXPECT_EQ(sub1().R_variables, nullptr);
    // Listing needs no routine table.
    feed_object("__ROUTINE__ nowhere 0\n\n");
    testing::internal::CaptureStdout();
    parse_symtab(0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Symbol table for nowhere (0 symbols)\n");
}

TEST(SymbolLookup, ByLocationLatestOrFirst)
{
    Routine r;
    auto add = [&](const char *name, SymType type, Address loc) {
        Symbol *s = SymCreate(name, 0, 0, type, loc);
        if (!r.R_variables) {
            r.R_variables = r.R_variables_last = s;
        } else {
            s->S_bck = r.R_variables_last;
            r.R_variables_last->S_fwd = s;
            r.R_variables_last = s;
        }
        return s;
    };
    Symbol *first = add("FIRST", s_numeric | s_variable, 5);
    Symbol *second = add("SECOND", s_numeric | s_variable, 5);
    Symbol *text = add("TEXT$", s_string | s_variable, 5);
    Symbol *rec = add("REC", s_struct | s_variable | s_numeric, 5);
    add("OTHER", s_numeric | s_variable, 6);
    // A based structure holds its pointer number where it lies: no structure variable of its own.
    Symbol *based = add("BASED", s_struct | s_based | s_variable | s_numeric, 9);

    EXPECT_EQ(FindSymbolExMloc(&r, s_numeric, 0, 5), second);  // the later declaration wins
    EXPECT_EQ(FindSymbolExMloc(&r, s_variable, 0, 5), text);   // structures only when asked for
    EXPECT_EQ(FindSymbolExMloc(&r, s_variable, s_string, 5), second);
    EXPECT_EQ(FindSymbolExMloc(&r, s_struct, 0, 5), rec);
    EXPECT_EQ(FindSymbolExMloc(&r, s_numeric, 0, 9), based);
    EXPECT_EQ(FindSymbolExMloc(&r, s_struct, s_based, 9), nullptr);
    EXPECT_EQ(FindSymbolExMloc(&r, s_numeric | s_string, 0, 5), nullptr);
    EXPECT_EQ(FindSymbolExMloc(&r, 0, 0, 7), nullptr);
    EXPECT_EQ(FindSymbolExMloc(nullptr, 0, 0, 5), nullptr);
    EXPECT_EQ(FindSymbolExMlocAbsolute(&r, 5), first);
    EXPECT_EQ(FindSymbolExMlocAbsolute(&r, 8), nullptr);
    EXPECT_EQ(FindSymbolExMlocAbsolute(nullptr, 5), nullptr);
}

TEST(SymbolLookup, CreateGivesAnEmptySymbol)
{
    std::unique_ptr<Symbol> s(SymCreate("X", 3, 4, s_string, 0x40));
    EXPECT_EQ(s->S_name, "X");
    EXPECT_EQ(s->S_dims[0], 3u);
    EXPECT_EQ(s->S_dims[1], 4u);
    EXPECT_EQ(s->S_memloc, 0x40u);
    EXPECT_EQ(s->S_order, 0u);
    EXPECT_EQ(s->S_fwd, nullptr);
    EXPECT_EQ(s->S_bck, nullptr);
    ASSERT_TRUE(std::holds_alternative<SymBased>(s->S_));
    EXPECT_EQ(std::get<SymBased>(s->S_).at, nullptr);
    EXPECT_EQ(std::get<SymBased>(s->S_).root, nullptr);
}

TEST(SymbolListing, StructuresShowTheirTableOrBase)
{
    fixtures::Registry reg;
    OskaTable_t *schema = CreateOskaTable(reg.tables, "customer");
    std::unique_ptr<Symbol> base(SymCreate("BASE", 0, 0, s_string | s_variable, 0x10));
    std::unique_ptr<Symbol> on_table(SymCreate("CUST", 0, 0, s_struct | s_variable | s_sigtname, 0x20));
    on_table->S_ = SymSignature{"customer"};
    on_table->S_order = 3;
    std::unique_ptr<Symbol> based(SymCreate("BREC", 1, 0, s_struct | s_based | s_variable, 0x28));
    std::get<SymBased>(based->S_).at = base.get();

    auto print = [](const Symbol *s) { return fixtures::stream_text([&](std::FILE *f) { PrintSymbol(s, f); }); };
    EXPECT_EQ(print(base.get()), "BASE 0 0 0x14 (s_string s_variable) 0x10 0\n");
    EXPECT_EQ(print(on_table.get()), "CUST 0 0 0x1200010 (s_variable s_struct s_sigtname) 0x20 3 [[customer]]\n");
    EXPECT_EQ(print(based.get()), "BREC 1 0 0x200810 (s_variable s_based s_struct) 0x28 0 [BASE]\n");

    // Once the loader has put the schema in place of the name, the schema's name is shown.
    on_table->S_ = schema;
    on_table->S_type &= ~s_sigtname;
    EXPECT_EQ(print(on_table.get()), "CUST 0 0 0x200010 (s_variable s_struct) 0x20 3 [[customer]]\n");

    auto zema = [](const Symbol *s) { return fixtures::stream_text([&](std::FILE *f) { PrintSymbol_zema(s, f); }); };
    char addr[32];
    std::snprintf(addr, sizeof addr, "0x%lX", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(based.get())));
    EXPECT_EQ(zema(based.get()), std::string("BREC @ ") + addr +
                                     " 1 0 0x200810 (s_variable s_based s_struct) 0x28 [BASE]\n"
                                     "\tOrder: 0, decl 0, file none, book none\n"
                                     "\tSig: none\n");
    on_table->S_src_line_declared = 12;
    on_table->S_src_file_name = "cust.src";
    std::snprintf(addr, sizeof addr, "0x%lX", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(on_table.get())));
    EXPECT_EQ(zema(on_table.get()), std::string("CUST @ ") + addr +
                                        " 0 0 0x200010 (s_variable s_struct) 0x20\n"
                                        "\tOrder: 3, decl 12, file cust.src, book none\n"
                                        "\tSig: customer\n");
}
