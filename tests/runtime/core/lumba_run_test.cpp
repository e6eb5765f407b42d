// lumba_run as a user starts it, inside a private site tree.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <glib.h>

#include "site.h"

using lumba_test::Site;

TEST(LumbaRun, AnswersIssueAndVersion)
{
    Site site;
    struct {
        const char *option;
        const char *out;
    } cases[] = {
        {"--issue", "OSKA Run-time system:   ISSUE V15 (Revision 70)\n"},
        {"-i", "OSKA Run-time system:   ISSUE V15 (Revision 70)\n"},
        {"--version", "OSKA Run-time system\nVersion:  15.06.111\nRevision: 70\n"},
        {"-e", "OSKA Run-time system\nVersion:  15.06.111\nRevision: 70\n"},
    };
    for (const auto &c : cases) {
        auto r = site.lumba({c.option});
        EXPECT_EQ(r.status, 0) << c.option << r.err;
        EXPECT_EQ(r.out, c.out) << c.option;
    }
}

TEST(TestSite, IsPrivateAndRecordsMail)
{
    Site site;
    auto r = site.run({"sh", "-c",
                       "echo body > /usr/local/oska/temp/m.txt && "
                       "/usr/local/oska/scripts/mailit-mutt-noatt.sh to@x from@y 'the subject' "
                       "/usr/local/oska/temp/m.txt && echo $HOME"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, site.home() + "\n");
    EXPECT_EQ(site.read_file("mail/0.args"), "to@x\nfrom@y\nthe subject\n/usr/local/oska/temp/m.txt\n");
    EXPECT_EQ(site.read_file("mail/0.txt"), "body\n");
    EXPECT_EQ(site.read_file("oska/temp/m.txt"), "body\n");  // written into this site only
    EXPECT_FALSE(g_file_test("/usr/local/oska/temp/m.txt", G_FILE_TEST_EXISTS));
}

namespace {

// A child of the site writes text where the sanitizer options send its reports, as a sanitizer
// of the sanitizer build would.
void report_from_a_child(const std::string &text)
{
    static Site site;
    site.write_file("report-text", text);
    site.run({"sh", "-c", "p=${ASAN_OPTIONS##*log_path=}; cp \"$LUMBA_SITE/report-text\" \"${p%%:*}.4242\""});
}

} // namespace

// A sanitizer report written by any process of a run fails the test that made the run, whatever
// the run's status; a leak through code of this tree does too, while leaks only of libraries below
// it and warnings do not.
TEST(TestSite, SanitizerReportsOfItsRunsFailTheTest)
{
    EXPECT_NONFATAL_FAILURE(report_from_a_child("==1==ERROR: AddressSanitizer: heap-buffer-overflow on address\n"),
                            "heap-buffer-overflow");
    EXPECT_NONFATAL_FAILURE(report_from_a_child("x.cpp:3:5: runtime error: signed integer overflow\n"),
                            "signed integer overflow");
    EXPECT_NONFATAL_FAILURE(report_from_a_child("==1==ERROR: LeakSanitizer: detected memory leaks\n\n"
                                                "Direct leak of 35608 byte(s) in 2 object(s) allocated from:\n"
                                                "    #0 0x1 in __interceptor_calloc asan_malloc_linux.cpp:77\n"
                                                "    #1 0x2 in run_first_program(char const*) " LUMBA_SOURCE_DIR
                                                "/basic/runtime/core/contexts.cpp:131\n\n"),
                            "run_first_program");
    report_from_a_child("==1==ERROR: LeakSanitizer: detected memory leaks\n\n"
                        "Direct leak of 128 byte(s) in 1 object(s) allocated from:\n"
                        "    #0 0x1 in __interceptor_realloc asan_malloc_linux.cpp:85\n"
                        "    #1 0x2  (<unknown module>)\n\n");
    report_from_a_child("==1==WARNING: AddressSanitizer failed to allocate 0x7fffffffffffffff bytes\n");
}
