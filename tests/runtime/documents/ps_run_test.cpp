// A report printed by a batch program in the real lumba_run: a control matrix without a window
// (ICATTACH_WINDOW(cm, 0)), a print handle on it, the records written and replayed by IPSPRINT
// into a PostScript file that ps2ascii reads back.
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>

#include <glib.h>

#include "intrinsics.h"
#include "program_text.h"
#include "site.h"

namespace {

using lumba_test::num;
using lumba_test::sfn;
using lumba_test::Site;
using lumba_test::st;
using lumba_test::str;

// main's numerics: the control matrix CM 0, the handle H 1, the result R 2 and IP 3.
enum Numeric { CM, H, R, IP };
std::string ref(Numeric v) { return "loadrad I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string val(Numeric v) { return "loadrvd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }

// main and its Get_Note routine (routine 1), which answers a note of two paragraphs for a key.
std::string program(const std::string &body)
{
    return ".proc r:main I:0 I:0 I:4 I:40 I:0 I:0\nsrcline I:3 I:0\n" + body + "exit\n" +
           ".sfunc r:getnote I:0 I:0 I:0 I:0 I:0 I:4\n" + str("Remark for ") + "loadsvi I:3 I:0 I:1 I:0 I:0 I:0\n" +
           sfn(in_STRIP, 1) + str("\\n\\nsecond line") + "scat I:3\nexitv\n" +
           "symtab\n__ROUTINE__ main 5\nCM 0 0 0x12 0 1 -\nH 0 0 0x12 1 2 -\nR 0 0 0x12 2 3 -\nIP 0 0 0x12 3 4 -\n"
           "IP$ 40 0 0x14 0 5 -\n__END_ROUTINE__\n.end\n"
           "symtab\n__ROUTINE__ getnote 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\n"
           "IP$ 40 0 0x8014 0 4 -\n__END_ROUTINE__\n.end\n";
}

const char *const TAGS = "mtag_head { print-size: 14pt; print-weight: bold; }\n"
                         "mtag_amount { print-align: decimal; print-neg-colour: #ff0000; }\n"
                         "mtag_note { note-type: extended; }\n";

// The records of a report: its heading, two lines, then what more the case writes.
std::string report(const std::string &output, const std::string &more)
{
    return ref(CM) + num("0") + st(in_ICATTACH_WINDOW, 2) + str("Get_Note") + num(1L) + ref(CM) + num(0L) + ref(IP) +
           "loadsad I:0 I:1 I:40 I:0 I:0 I:0 I:0 I:0\n" + st(in_ICATTACH_FUN, 6) + val(CM) + ref(H) +
           st(in_IPSCREATE, 2) + str(output) +
           str("A4") + str("") + str("") + str("C") + str("N") + val(H) + ref(R) + st(in_IPSOPEN, 8) + val(H) +
           str("Stock list") + str("1,,2,,mtag_head") + num(0) + num(0) + num(0) + num("0") + num("0") + ref(R) +
           st(in_IPSHEADER, 9) + val(H) + str("Bolts    125.00") + str("1,6,2;7,,8,,mtag_amount") + str("") + ref(R) +
           st(in_IPSWRITE, 5) + val(H) + str("Nuts      12.50-") + str("1,6,2;7,,8,,mtag_amount") + str("") + ref(R) +
           st(in_IPSWRITE, 5) + more + val(H) + ref(R) + st(in_IPSCLOSE, 2) + val(H) + ref(R) + st(in_IPSPRINT, 2);
}

std::string ps2ascii(const std::string &path)
{
    gchar *out = nullptr;
    int wait = 0;
    const gchar *argv[] = {"ps2ascii", path.c_str(), nullptr};
    if (!g_spawn_sync(nullptr, const_cast<gchar **>(argv), nullptr, GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL),
                      nullptr, nullptr, &out, nullptr, &wait, nullptr))
        return "";
    std::string text = out ? out : "";
    g_free(out);
    return text;
}

TEST(PsRun, ABatchProgramPrintsItsReport)
{
    Site site;
    site.write_file("oska/conf/tags", TAGS);
    site.install_program("report", program(report("/usr/local/oska/temp/stock.ps", "")));
    const auto r = site.lumba({"-b", "report", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string ps = site.read_file("oska/temp/stock.ps");
    EXPECT_TRUE(ps.starts_with("%!PS-Adobe-3.0\n"));
    EXPECT_NE(ps.find("(12.50-) snH"), std::string::npos);
    const std::string text = ps2ascii(site.oska() + "/temp/stock.ps");
    const std::size_t heading = text.find("Stock list"), bolts = text.find("Bolts"), nuts = text.find("Nuts");
    ASSERT_NE(heading, std::string::npos) << text;
    ASSERT_NE(bolts, std::string::npos) << text;
    ASSERT_NE(nuts, std::string::npos) << text;
    EXPECT_LT(heading, bolts);
    EXPECT_LT(bolts, nuts);
    EXPECT_NE(text.find("12.50-"), std::string::npos) << text;
}

TEST(PsRun, AFreshSitePrintsWithTheShippedStyleTags)
{
    // A site laid from the skeleton alone has the commented tags file with its common tags.
    Site site;
    std::string program_text = program(report("/usr/local/oska/temp/fresh.ps", ""));
    for (std::size_t at; (at = program_text.find("mtag_head\"")) != std::string::npos;)
        program_text.replace(at, 9, "mtag_heading");
    site.install_program("report", program_text);
    const auto r = site.lumba({"-b", "report", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("style tags"), std::string::npos) << r.err;
    const std::string text = ps2ascii(site.oska() + "/temp/fresh.ps");
    EXPECT_NE(text.find("Stock list"), std::string::npos) << text;
    EXPECT_NE(text.find("12.50-"), std::string::npos) << text;
    // The heading in the shipped heading tag's bold 14 point Helvetica.
    const std::string ps = site.read_file("oska/temp/fresh.ps");
    EXPECT_NE(ps.find(" 14 (Stock list) sgHb"), std::string::npos) << ps;
}

TEST(PsRun, ANoteFieldPrintsWhatTheMatrixsGetNoteRoutineGives)
{
    Site site;
    site.write_file("oska/conf/tags", TAGS);
    const std::string note = val(H) + str("See N1") + str("1,4,2;5,,6,,mtag_note") + str("") + ref(R) + st(in_IPSWRITE, 5) +
                             val(H) + str("Washers") + str("") + str("") + ref(R) + st(in_IPSWRITE, 5);
    site.install_program("report", program(report("/usr/local/oska/temp/notes.ps", note)));
    const auto r = site.lumba({"-b", "report", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = ps2ascii(site.oska() + "/temp/notes.ps");
    const std::size_t see = text.find("See"), remark = text.find("Remark for N1"), second = text.find("second line");
    ASSERT_NE(see, std::string::npos) << text;
    ASSERT_NE(remark, std::string::npos) << text;
    ASSERT_NE(second, std::string::npos) << text;
    EXPECT_LT(remark, second);
    EXPECT_NE(text.find("Washers"), std::string::npos) << text;
    if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR")) {
        const std::string pages = std::string("-sOutputFile=") + dir + "/notes-%d.png", report = site.oska() + "/temp/notes.ps";
        const gchar *argv[] = {"gs", "-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=png16m", "-r72", pages.c_str(), report.c_str(), nullptr};
        int wait = 0;
        EXPECT_TRUE(g_spawn_sync(nullptr, const_cast<gchar **>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                                 nullptr, &wait, nullptr));
    }
}

} // namespace
