// Damaged object files given to the real lumba_run in background mode: each stops with the
// loader's own message and status 1, adds one full report to both error logs without touching
// what they held, and leaves the object file as it was.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "site.h"
#include "zasm_run.h"

using lumba_test::Site;

namespace {

const std::string program_path = "/usr/local/oska/apps/unit0/hello";

std::string hello()
{
    return lumba_test::read_bytes(LUMBA_EXAMPLES_DIR "/hello.obj");
}

std::string header_of(const std::string &object)
{
    return object.substr(0, object.find('\n'));
}

// hello with its header line replaced.
std::string with_header(const std::string &header)
{
    std::string object = hello();
    return header + object.substr(object.find('\n'));
}

// hello with the header field at index (0-based) replaced.
std::string with_field(int index, const std::string &value)
{
    std::string header = header_of(hello());
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) start = header.find(' ', start) + 1;
    std::size_t end = header.find(' ', start);
    return with_header(header.replace(start, end == std::string::npos ? std::string::npos : end - start, value));
}

// The first code record of hello with its first operand tag replaced by 'x'.
std::string with_bad_tag()
{
    std::string object = hello();
    std::size_t record = object.find('\n') + 1;  // op byte of the routine start, then its operands
    object[record + 1] = 'x';
    return object;
}

struct Damage {
    const char *name;
    std::string object;
    std::string message;  // the report's message, as the loader words it
};

std::vector<Damage> damages()
{
    std::string object = hello();
    return {
        {"empty", "", "Null load file"},
        {"no_header_end", "V150611 70 107", "Not ZEMA object file - Missing Header"},
        {"fifteen_fields", with_header(header_of(object).substr(0, header_of(object).rfind(' '))),
         "ZEMA object header miss match! Read 15 header fields"},
        {"other_name", with_field(15, "other"), "Compiled in object name [other] != loaded name [hello]\n"},
        {"other_key", with_field(12, std::string(44, 'A')), "Version mismatch in program header"},
        {"short_key_length", with_field(11, "43"), "Version mismatch in program header"},
        {"revision", with_field(1, "71"),
         "cannot load " + program_path +
             " - incompatible revision\nObject Version: 71 but expected 70. Please recompile."},
        {"issue", with_field(0, "V140611"),
         "cannot load " + program_path + " - incompatible ISSUE expected V15 but got ISSUE=V140611\n"},
        {"incomplete_binary", with_field(0, "1150611"), "cannot load " + program_path + " - incomplete binary"},
        {"cut_in_record", object.substr(0, object.find('\n') + 12), "Binary corrupted: incomplete object file"},
        {"bad_tag", with_bad_tag(), "Binary corrupted: bad operand type - 0x78 (x)"},
        {"too_few_words", with_field(2, "3"), "Not enought code space!"},
    };
}

void PrintTo(const Damage &d, std::ostream *os)
{
    *os << d.name;
}

class DamagedObject : public ::testing::TestWithParam<Damage> {};

} // namespace

TEST_P(DamagedObject, StopsWithItsMessageAndOneReport)
{
    const Damage &d = GetParam();
    Site site;
    const std::string earlier = "an earlier report\n";
    site.write_file("oska/log/errorlog", earlier);
    site.write_file("home/.oska/errorlog", earlier);
    site.write_file("oska/apps/unit0/hello", d.object);

    auto r = site.lumba({"-b", "hello", "0"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Message:  " + d.message), std::string::npos) << r.err;

    for (const char *log : {"oska/log/errorlog", "home/.oska/errorlog"}) {
        std::string text = site.read_file(log);
        EXPECT_EQ(text.rfind(earlier, 0), 0u) << log;  // what the log held stays in front
        std::string added = text.substr(earlier.size());
        EXPECT_NE(added.find("Message:  " + d.message), std::string::npos) << log << "\n" << added;
        std::size_t first = added.find("** E R R O R **");
        EXPECT_NE(first, std::string::npos) << log;
        EXPECT_EQ(added.find("** E R R O R **", first + 1), std::string::npos) << log << ": more than one report";
    }
    EXPECT_EQ(site.read_file("oska/apps/unit0/hello"), d.object);
}

INSTANTIATE_TEST_SUITE_P(Loader, DamagedObject, ::testing::ValuesIn(damages()),
                         [](const ::testing::TestParamInfo<Damage> &info) { return std::string(info.param.name); });
