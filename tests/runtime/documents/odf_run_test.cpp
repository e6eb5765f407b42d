// OpenDocument filling by a batch program in the real lumba_run: a handle made, values registered
// and a template filled through the dispatchers, and a handle the program leaves behind reported,
// mailed and freed at the end of its application.
#include <gtest/gtest.h>
#include <string>

#include "intrinsics.h"
#include "io_program.h"
#include "odf_fixture.h"
#include "program_text.h"
#include "site.h"

namespace {

using lumba_test::fn;
using lumba_test::num;
using lumba_test::Site;
using lumba_test::st;
using lumba_test::str;
using namespace io_program;
using namespace odf_test;

// main's numeric cells: the handle 0, the result 1, the cycles 2 and the size 3; the generator is
// the text at offset 0 (40 characters).
enum Cell { H, R, C, S };
std::string store(Cell k) { return "storrd I:" + std::to_string(k) + " I:1 I:0 I:0 I:0\n"; }

TEST(OdfRun, ABatchProgramFillsATemplate)
{
    Site site;
    site.write_file("oska/conf/tags", "mtag_bold { print-weight: bold; }\n");
    make_template(site.oska() + "/temp/letter.odt");
    const std::string target = "/usr/local/oska/temp/filled letter.odt";
    site.install_program(
        "letter", main_program(fn(in_IINSERT_OO_CREATE, 0) + store(H) +
                               nval(H) + str("{TITLE}") + str("Dr") + str("mtag_bold") + st(in_IINSERT_OO_ADD_TEXT, 4) +
                               nval(H) + str("{NAME}") + str("Who") + st(in_IINSERT_OO_ADD_TEXT, 3) +
                               nval(H) + str("/usr/local/oska/temp/letter.odt") + str(target) + nvar(C) + svar(0, 40) +
                               nvar(S) + fn(in_IINSERT_OO_DO, 6) + store(R) +
                               logprint(nval(R) + str("|") + nval(C) + str("|") + sval(0, 40) + str("|") + nval(S), 7) +
                               nval(H) + fn(in_IINSERT_OO_DESTROY, 1) + store(R) + logprint(nval(R), 1),
                               "", 0, 0));
    const auto r = site.lumba({"-b", "letter", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string filled = site.oska() + "/temp/filled letter.odt";
    EXPECT_EQ(r.out, "1|7|Hand/1.0|" + std::to_string(fs::file_size(filled)) + "\n1\n") << r.err;
    look_at(filled, "batch-letter");
    EXPECT_EQ(check({"package", filled}), conformant(TEMPLATE_NAMES));
    EXPECT_EQ(check({"paras", filled, "content.xml"}), "P1|Dear [OSKA_TEXT1:Dr] Who,\nStandard|R&D <ok>\n");
    EXPECT_EQ(r.err.find("Unfreed"), std::string::npos) << r.err;
}

TEST(OdfRun, AFreshSiteFillsWithTheShippedStyleTags)
{
    // No tags file written: the site skeleton's own serves, with its bold tag.
    Site site;
    make_template(site.oska() + "/temp/letter.odt");
    site.install_program(
        "letter", main_program(fn(in_IINSERT_OO_CREATE, 0) + store(H) + nval(H) + str("{NAME}") + str("Who") +
                                   str("mtag_bold") + st(in_IINSERT_OO_ADD_TEXT, 4) + nval(H) +
                                   str("/usr/local/oska/temp/letter.odt") + str("/usr/local/oska/temp/out.odt") +
                                   nvar(C) + svar(0, 40) + nvar(S) + fn(in_IINSERT_OO_DO, 6) + store(R) +
                                   logprint(nval(R), 1) + nval(H) + fn(in_IINSERT_OO_DESTROY, 1) + store(R),
                               "", 0, 0));
    const auto r = site.lumba({"-b", "letter", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "1\n") << r.err;
    const std::string filled = site.oska() + "/temp/out.odt";
    EXPECT_EQ(check({"paras", filled, "content.xml"}), "P1|Dear {TITLE} [OSKA_TEXT1:Who],\nStandard|R&D <ok>\n");
    EXPECT_EQ(check({"style", filled, "content.xml", "OSKA_TEXT1"}),
              "parent=;fo:font-weight=bold;style:font-weight-asian=bold;style:font-weight-complex=bold;\n");
}

TEST(OdfRun, AHandleLeftBehindIsReportedMailedAndFreed)
{
    Site site;
    site.write_file("oska/conf/tags", "mtag_bold { print-weight: bold; }\n");
    site.install_program("leaky", main_program("srcline I:3 I:0\n" + fn(in_IINSERT_OO_CREATE, 0) + store(H) + nval(H) + str("{A}") + str("a") +
                                               st(in_IINSERT_OO_ADD_TEXT, 3)));
    const auto r = site.lumba({"-b", "leaky", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string report = "Unfreed oo doc around line 3 of unknown (app: leaky__A)";
    EXPECT_NE(r.err.find(report + "\n"), std::string::npos) << r.err;
    EXPECT_NE(site.read_file("mail/0.txt").find(report), std::string::npos);
}

} // namespace
