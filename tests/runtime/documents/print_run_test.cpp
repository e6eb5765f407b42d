// A report written by a batch program in the real lumba_run: a control matrix without a window,
// a print handle on it and its buffer file, which the program copies before the run's end frees
// the matrix with its handles and removes the buffer.
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

#include "intrinsics.h"
#include "program_text.h"
#include "site.h"

namespace {

using lumba_test::num;
using lumba_test::Site;
using lumba_test::st;
using lumba_test::str;

// main's numerics: the control matrix CM 0, the handle H 1 and the result R 2.
enum Numeric { CM, H, R };
std::string ref(Numeric v) { return "loadrad I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string val(Numeric v) { return "loadrvd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }

std::string program(const std::string &body)
{
    return ".proc r:main I:0 I:0 I:3 I:20 I:0 I:0\nsrcline I:3 I:0\n" + body + "exit\n" +
           "symtab\n__ROUTINE__ main 4\nCM 0 0 0x12 0 1 -\nH 0 0 0x12 1 2 -\nR 0 0 0x12 2 3 -\n"
           "IP$ 20 0 0x14 0 4 -\n__END_ROUTINE__\n.end\n";
}

std::string golden()
{
    std::ifstream in(LUMBA_DOCUMENTS_GOLDEN "/report.buf", std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(PrintRun, ABatchProgramWritesItsReportBuffer)
{
    Site site;
    const std::string report = "/usr/local/oska/temp/report.ps";
    site.install_program(
        "report",
        program(ref(CM) + num("0") + st(in_ICATTACH_WINDOW, 2) + val(CM) + ref(H) + st(in_IPSCREATE, 2) +
                str(report) + str("A4") + str("1.6,0.7,1,1") + str("mtag_a") + str("C") + str("N") + val(H) + ref(R) +
                st(in_IPSOPEN, 8) +
                val(H) + str("Report") + str("1,,,,mtag_b") + num(0) + num(1) + num(0) + num("2.5") + num(1) + ref(R) +
                st(in_IPSHEADER, 9) +
                val(H) + str("Total") + str("") + ref(R) + st(in_IPSFOOTER, 4) +
                val(H) + str("line\\none") + str("1,4,,,mtag_b") + str("v1") + ref(R) + st(in_IPSWRITE, 5) +
                val(H) + str("line two") + str("") + str("v2") + ref(R) + num("0.5") + st(in_IPSWRITE, 6) +
                val(H) + ref(R) + st(in_IPSCLOSE, 2) + str(report + ".buf") + str(report + ".copy") + st(in_ICOPY, 2)));
    const auto r = site.lumba({"-b", "report", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(site.read_file("oska/temp/report.ps.copy"), golden());
    std::ifstream buffer(site.oska() + "/temp/report.ps.buf");
    EXPECT_FALSE(buffer.is_open()) << "the run's end removes the buffer with its handle";
}

} // namespace
