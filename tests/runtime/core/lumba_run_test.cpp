// lumba_run as a user starts it, inside a private site tree.
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
