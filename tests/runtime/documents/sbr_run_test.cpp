// ISBRXMLPARSE in a program run by the real lumba_run in background mode: the lists reach the
// program through its structure, and bad documents and structures end the run with status 1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "intrinsics.h"
#include "program_text.h"
#include "site.h"

namespace {

using lumba_test::fn;
using lumba_test::num;
using lumba_test::sfn;
using lumba_test::st;
using lumba_test::str;

const std::string FIXTURES = std::string(LUMBA_SOURCE_DIR) + "/tests/runtime/documents/sbr/";

struct Column {
    const char *name;
    int type;  // the object file's numbering: 4 numeric, 3 varchar
    int digits;
};
const std::vector<Column> SIX = {{"vals", 4, 20}, {"editable", 4, 20}, {"visible", 4, 20},
                                 {"ctx", 4, 20},  {"din", 4, 22},      {"dins", 4, 20}};

// The program: R = ISBRXMLPARSE(file, S) with S a structure of table sbr laid out from columns,
// then the first value named name (list 1, the structure's first column) and the number of DINs
// written to the program log; the exit status is R + 1.
// With structure false a number stands where the structure should.
std::string program(const std::string &file, const std::vector<Column> &columns, const std::string &name,
                    bool structure = true)
{
    const std::string S = structure ? "loadstad I:0 I:2 I:0 I:0 I:0\n" : num(7);
    const std::string column0 = "loadrvd I:0 I:2 I:0 I:0 I:0\n";
    const std::string column5 = "loadrvd I:110 I:2 I:0 I:0 I:0\n";
    std::string body = str(file) + S + fn(in_ISBRXMLPARSE, 2) + "storrd I:0 I:1 I:0 I:0 I:0\n";
    body += num(0) + column0 + str(name) + sfn(in_ILIST_SFETCH, 2) + st(in_IMLOG, 2);
    body += num(0) + column5 + fn(in_ILIST_LENGTH, 1) + sfn(in_STR, 1) + st(in_IMLOG, 2);
    body += "loadrvd I:0 I:1 I:0 I:0 I:0\n" + num(1) + "add\n" + str("") + st(in_SETEXIT, 2);

    int size = 0;
    std::string cols;
    for (const auto &c : columns) {
        const int bytes = c.type == 4 ? 22 : c.digits;
        cols += std::string("C:") + c.name + " " + std::to_string(c.type) + " " + std::to_string(c.digits) + " 0 " +
                std::to_string(size) + " 0 0\n";
        size += bytes;
    }
    return ".proc r:main I:0 I:0 I:1 I:0 I:" + std::to_string(size) + " I:0\nsrcline I:3 I:0\n" + body + "exit\n" +
           "symtab\n__ROUTINE__ main 1\nS 0 0 0x200010 0 1 sbr\n__END_ROUTINE__\n.end\n"
           "sqltab\n__SQL_TABLES__ 1\nT:sbr 0 " + std::to_string(columns.size()) + " 0 " + std::to_string(size) +
           "\n" + cols + ".end\n";
}

} // namespace

TEST(SbrRun, AProgramReadsTheListsThroughItsStructure)
{
    lumba_test::Site site;
    site.install_program("sbr", program(FIXTURES + "good.xml", SIX, "OrganisationName"));
    const auto r = site.lumba({"-b", "-v", "0", "sbr", "0"});
    EXPECT_EQ(r.status, 2) << r.err;  // ISBRXMLPARSE answered 1
    EXPECT_EQ(r.out, "Pass 1: XML Document is well formed\nPass 2: XML Document is well formed\n");
    EXPECT_NE(r.err.find("Smith & Jones\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" 1\n"), std::string::npos) << r.err;  // one DIN
    // The six lists belong to the program's application: left over at its end, each is reported.
    std::size_t unfreed = 0;
    for (auto at = r.err.find("Unfreed ilist around line 3 of "); at != std::string::npos;
         at = r.err.find("Unfreed ilist around line 3 of ", at + 1))
        ++unfreed;
    EXPECT_EQ(unfreed, 6u) << r.err;
}

TEST(SbrRun, BadDocumentsAndStructuresEndTheRun)
{
    std::vector<Column> five(SIX.begin(), SIX.end() - 1);
    std::vector<Column> narrow = SIX;
    narrow[4].digits = 19;
    std::vector<Column> text = SIX;
    text[2] = {"visible", 3, 22};
    struct {
        std::string file;
        std::vector<Column> columns;
        const char *stop;
        bool parsed;  // the structure is refused after the parse
    } cases[] = {
        {FIXTURES + "truncated.xml", SIX, "Pass 1: XML Document isn't well formed @ sbr_xml_parse", false},
        {FIXTURES + "unpaired.xml", SIX, "Unpaired end element 'measure*AUD^X' in XML parsing, X is expected", false},
        {FIXTURES + "good.xml", five, "Struct for ISBRXMLPARSE must contain 6 numeric columns, while sbr has 5 columns",
         true},
        {FIXTURES + "good.xml", narrow, "Column din of sbr must be at least numeric(20,0)", true},
        {FIXTURES + "good.xml", text, "Column visible of sbr must be of numeric(20,0) type", true},
    };
    for (const auto &c : cases) {
        lumba_test::Site site;
        site.install_program("sbr", program(c.file, c.columns, "OrganisationName"));
        const auto r = site.lumba({"-b", "sbr", "0"});
        EXPECT_EQ(r.status, 1) << c.stop;
        EXPECT_EQ(lumba_test::report_message(r.err), c.stop) << r.err;
        EXPECT_EQ(r.out.find("Pass 2: XML Document is well formed") != std::string::npos, c.parsed) << r.out;
        EXPECT_EQ(r.err.find("Smith & Jones"), std::string::npos) << r.err;
    }
}

TEST(SbrRun, ANumberForTheStructureEndsTheRunAfterTheParse)
{
    lumba_test::Site site;
    site.install_program("sbr", program(FIXTURES + "good.xml", SIX, "OrganisationName", false));
    const auto r = site.lumba({"-b", "sbr", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lumba_test::report_message(r.err).rfind("No symtab found for struct at 0x", 0), 0u) << r.err;
    EXPECT_NE(r.out.find("Pass 2: XML Document is well formed"), std::string::npos) << r.out;
}
