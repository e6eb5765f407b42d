// zasm and zdis: text to object file and back.
#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <sstream>
#include <string>
#include <vector>

#include "zasm_run.h"

using lumba_test::read_bytes;
using lumba_test::zasm;
using lumba_test::zdis;

namespace {

// Every operand tag, a data list, every section, a "#!" line, a .NOP and labels both ways.
const std::string every_tag = R"(.shebang #!/usr/local/bin/lumba_run -b
.header * * * * * * * * * * * * * * * every

.proc r:main I:1 I:4 I:2 I:6 I:44 I:0
top:
.data n:1.5 s:"ab"
srcline I:1 I:0
loadrc n:-12.25e3 c:0
loadsc s:"quote \" and \\ and \x01 end" p:1
fcallr r:sub i:0
jump l:top
jumpz l:#3
ifcallr i:24 P:-5
.NOP
end
symtab
__ROUTINE__ main 2
COUNT 0 0 0x12 1 1 -
CUST 0 0 0x200010 0 2 customer
__END_ROUTINE__
.end
.sfunc r:sub I:0 I:0 I:0 I:0 I:0 I:1
exitv
sqltab
__SQL_TABLES__ 1
T:customer 0 2 0 44
C:code 2 10 0 0 7 0
'none'
C:amount 4 12 2 22 0 19
CHECK (amount >= 0)
.end
inclvs
__INCL_VERS__ 1
common.inc => 2.3
.end
loadedfiles
__LOADED_FILES__ 2
main.src
lib/util.src
.end
)";

class Tools : public ::testing::Test {
protected:
    void SetUp() override
    {
        char *d = g_dir_make_tmp("zasm-test-XXXXXX", nullptr);
        dir = d;
        g_free(d);
    }
    void TearDown() override
    {
        for (const auto &f : files) g_unlink(f.c_str());
        g_rmdir(dir.c_str());
    }
    std::string path(const std::string &name)
    {
        std::string p = dir + "/" + name;
        files.push_back(p);
        files.push_back(p + ".zasm");
        return p;
    }
    std::string dir;
    std::vector<std::string> files;
};

std::vector<std::string> words(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string s; in >> s;) w.push_back(s);
    return w;
}

TEST_F(Tools, RoundTripKeepsEveryByte)
{
    std::string a = path("every.obj"), b = path("every2.obj"), c = path("every3.obj");
    zasm(every_tag, a);
    std::string text = zdis(a);
    zasm(text, b);
    EXPECT_EQ(read_bytes(a), read_bytes(b)) << text;
    // The printed form is a fixed point and names the label it resolved.
    zasm(zdis(b), c);
    EXPECT_EQ(zdis(c), text);
    EXPECT_NE(text.find("jump l:L8"), std::string::npos) << text;
    EXPECT_NE(text.find("jumpz l:#3"), std::string::npos) << text;
}

TEST_F(Tools, HeaderIsComputedFromTheProgram)
{
    std::string a = path("every.obj");
    zasm(every_tag, a);
    std::string bytes = read_bytes(a);
    auto first = bytes.find('\n');
    ASSERT_EQ(bytes.substr(0, first), "#!/usr/local/bin/lumba_run -b");
    auto h = words(bytes.substr(first + 1, bytes.find('\n', first + 1) - first - 1));
    ASSERT_EQ(h.size(), 16u);
    // Code words: 8 + 3 + 3 + 3 + 3 + 2 + 2 + 3 + 1 for main, 8 + 1 for sub.
    std::vector<std::string> expected = {"V150611", "70", "37", "1", "1", "2", "24", "4", "6", "44", "0", "44"};
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(h[i], expected[i]) << "field " << i + 1;
    EXPECT_EQ(h[12].size(), 44u);
    EXPECT_EQ(h[15], "every");
    // A label operand is a 4-byte big-endian code-word index from routine 0's entry.
    // "top" stands after the 8 words of the routine-start record.
    EXPECT_NE(bytes.find(std::string(1, '\x1e') + "l" + std::string("\0\0\0\x08", 4) + "\n"), std::string::npos);
}

TEST_F(Tools, DamagedFilesRoundTripAsBytes)
{
    std::string a = path("every.obj"), cut = path("cut.obj"), back = path("back.obj");
    zasm(every_tag, a);
    std::string bytes = read_bytes(a);
    for (std::size_t n : {std::size_t{0}, std::size_t{5}, bytes.find('\n') + 1, bytes.size() / 2, bytes.size() - 3}) {
        lumba_test::write_bytes(cut, bytes.substr(0, n));
        zasm(zdis(cut), back);
        EXPECT_EQ(read_bytes(back), bytes.substr(0, n)) << "cut at " << n;
    }
}

TEST_F(Tools, RefusesBadText)
{
    const char *bad[] = {
        "jump l:nowhere\n",        // undefined label
        "frobnicate I:1\n",        // unknown op
        "jump 12\n",               // operand without a tag
        "loadrc c:256\n",          // byte out of range
        "loadsc x:1\n",            // unknown tag
        "symtab\n__ROUTINE__ a 0\n",  // section without .end
        "loadsc s:\"open\n",       // unterminated text
    };
    for (const char *text : bad) {
        EXPECT_THROW(zasm(text, path("bad.obj")), std::runtime_error) << text;
        EXPECT_THROW(lumba_test::zasm_in_process(text, path("bad.obj")), std::runtime_error) << text;
    }
}

// The assembler in the test program writes what the tool writes, and says what is wrong where.
TEST_F(Tools, InProcessTheToolsBytesAndMessages)
{
    const std::string a = path("every.obj");
    zasm(every_tag, a);
    const std::string by_the_tool = read_bytes(a);
    lumba_test::zasm_in_process(every_tag, a);
    EXPECT_EQ(read_bytes(a), by_the_tool);
    try {
        lumba_test::zasm_in_process("end\n\njump l:nowhere\n", path("bad.obj"));
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(std::string(e.what()), "zasm failed: zasm: " + path("bad.obj") + ".zasm:3: undefined label nowhere");
    }
}

} // namespace
