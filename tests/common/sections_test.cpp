// All section readers in a row over one object text, handed over in blocks of different sizes:
// every block size gives the same registries and lists.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "globals.h"
#include "section_fixtures.h"
#include "sql.h"
#include "symtab.h"
#include "test_host.h"

namespace {

// What the readers leave behind, as text.
std::string read_all(std::size_t block)
{
    std::unique_ptr<Routine[]> table(new Routine[2]);
    table[0].R_name = "main";
    table[1].R_name = "sub1";
    routines = table.get();
    cur_loaded_routine = 1;
    fixtures::Registry reg;
    LoadedFiles_t *files = nullptr;

    lumba_test::feed_object(fixtures::inclv_two + fixtures::loaded_three + fixtures::sql_customer +
                                fixtures::symtab_sub1 + "__ROUTINE__ main 1\nTOTAL 0 0 0x12 0 1 -\n\n",
                            block);
    parse_inclvstrings();
    parse_LoadedFiles(1, &files);
    int tables = LoadOskaTables(reg.tables);
    parse_symtab(1);
    parse_symtab(1);
    bool at_end = obj_ptr == obj_end && Load_buffer() == -1;

    std::string out = "tables " + std::to_string(tables) + "\n" + fixtures::describe(reg.tables);
    out += fixtures::stream_text([&](std::FILE *f) { PrintLoadedFiles(f, 1, &files); });
    for (int r = 0; r < 2; ++r)
        for (const Symbol *s = table[r].R_variables; s; s = s->S_fwd)
            out += fixtures::stream_text([&](std::FILE *f) { PrintSymbol(s, f); });
    out += at_end ? "end\n" : "more\n";

    DeleteLoadedFiles(&files);
    routines = nullptr;
    cur_loaded_routine = -1;
    return out;
}

} // namespace

TEST(Sections, EveryBlockSizeGivesTheSameResult)
{
    const std::string expected = read_all(2048);
    EXPECT_NE(expected.find("tables 1\nT customer v0 c7 i2 s171\n"), std::string::npos) << expected;
    EXPECT_NE(expected.find("__LOADED_FILES__ 3\n0\tmain.src\n1\tlib/util.src\n2\tforms.src\n"), std::string::npos);
    EXPECT_NE(expected.find("CUST 0 0 0x1200010 (s_variable s_struct s_sigtname) 0x0 3 [[customer]]\n"),
              std::string::npos);
    EXPECT_NE(expected.find("TOTAL 0 0 0x12 (s_numeric s_variable) 0x0 1\n"), std::string::npos);
    EXPECT_EQ(expected.substr(expected.size() - 4), "end\n");
    for (std::size_t block : {1, 2, 7}) EXPECT_EQ(read_all(block), expected) << block;
}
