// A batch program in the real lumba_run that builds a note in a string variable with the note
// operations and prints it.
#include <gtest/gtest.h>
#include <string>

#include "intrinsics.h"
#include "program_text.h"
#include "site.h"

namespace {

using lumba_test::fn;
using lumba_test::num;
using lumba_test::Site;
using lumba_test::str;

// main's numerics: the result R 0; N$ (2000 bytes) at character 0.
const std::string n_ref = "loadsad I:0 I:1 I:2000 I:0 I:0 I:0 I:0 I:0\n";
const std::string n_value = "loadsvd I:0 I:1 I:2000 I:0 I:0 I:0 I:0 I:0\n";
const std::string n_store = "storsd I:0 I:1 I:2000 I:0 I:0 I:0 I:0 I:0\n";
const std::string r_store = "storrd I:0 I:1 I:0 I:0 I:0\n";
const std::string r_value = "loadrvd I:0 I:1 I:0 I:0 I:0\n";
const std::string logprint = "callio I:7 I:1\n";

std::string program(const std::string &body)
{
    return ".proc r:main I:0 I:0 I:1 I:2000 I:0 I:0\nsrcline I:3 I:0\n" + body + "exit\n" +
           "symtab\n__ROUTINE__ main 2\nR 0 0 0x12 0 1 -\nN$ 2000 0 0x14 0 2 -\n__END_ROUTINE__\n.end\n";
}

TEST(NoteRun, ABatchProgramBuildsAndPrintsANote)
{
    Site site;
    // N$ holds an empty block T1 after "Dear customer,"; the program fills the block at its end
    // (an amount after the text), prints the note, unwraps the block and prints it again.
    const std::string start = "<note ver=\\\"1\\\"><p datatype=\\\"P\\\" position=\\\"0\\\"><![CDATA[Dear customer,]]></p>"
                              "<tag name=\\\"T1\\\" start=\\\"true\\\">Terms</tag>"
                              "<tag name=\\\"T1\\\" start=\\\"false\\\">End</tag></note>";
    site.install_program(
        "notes", program(str(start) + n_store +
                         n_ref + str("T1") + str("Net <b>30</b> days\\n\\nThank you") + num(0) + num("12.5") +
                         fn(in_INOTE_INSERT_TEXT, 5) + r_store + n_value + logprint + r_value + logprint +
                         n_ref + str("T1") + num(1) + num(0) + fn(in_INOTE_DELETE, 4) + r_store + n_value + logprint +
                         r_value + logprint));
    const auto r = site.lumba({"-b", "notes", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string p = "<p datatype=\"P\" position=\"0\"><![CDATA[";
    const std::string text = p + "Dear customer,]]></p>";
    const std::string inside = p + "Net <b>30</b> days]]></p>" + p + "Thank you]]></p>" +
                               "<am required=\"false\" next=\"false\" protect=\"false\" orsec=\"0\" orsecvalue=\"0\">"
                               "12.50</am>";
    const std::string filled = "<note ver=\"1\">" + text + "<tag name=\"T1\" start=\"true\">Terms</tag>" + inside +
                               p + "]]></p><tag name=\"T1\" start=\"false\">End</tag></note>";
    // Read again, the note loses the empty paragraph after its amount.
    const std::string unwrapped = "<note ver=\"1\">" + text + inside + "</note>";
    EXPECT_EQ(r.out, filled + "\n1\n" + unwrapped + "\n1\n") << testing::PrintToString(r.out);
}

} // namespace
