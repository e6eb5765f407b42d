// Soft-key label sets: good and malformed soft-key files (through core_probe).
#include <gtest/gtest.h>

#include <string>

#include "site.h"

using lumba_test::Site;

TEST(SoftKeys, GoodFiles)
{
    struct {
        const char *file;
        const char *out;
    } cases[] = {
        {"main : 1 \"Help\", 2 \"Save\"\n",
         "1\nmain|6|1=Help|2=Save\ndefault=main\nfind main=Help\nfind other=(none)\nafter free=none\n"},
        // Comments, empty lines and leading white space; the first set is the default.
        {"# sets\n\n   \t\nfirst : 0 \"Esc\"\n  # another comment\nsecond\t: 1 \"Two\"  \n",
         "2\nfirst|1|0=Esc\nsecond|2|1=Two\ndefault=first\nfind main=(none)\nfind other=(none)\n"
         "after free=none\n"},
        // Key 12; F3 is key 3; blanks before the label and around the comma; empty label.
        {"main : F3 \"Three\" ,12\"Twelve\", 0   \"\"\n",
         "1\nmain|1009|0=|3=Three|12=Twelve\ndefault=main\nfind main=\nfind other=(none)\n"
         "after free=none\n"},
        // A key defined twice keeps the last label.
        {"main : 1 \"Old\", 1 \"New\"\n",
         "1\nmain|2|1=New\ndefault=main\nfind main=New\nfind other=(none)\nafter free=none\n"},
        // Two sets of one name: the first is found.
        {"other : 1 \"A\"\nmain : 1 \"B\"\nmain : 1 \"C\"\n",
         "3\nother|2|1=A\nmain|2|1=B\nmain|2|1=C\ndefault=other\nfind main=B\nfind other=A\nafter free=none\n"},
        // A colon right after the name belongs to the name; the set needs a second colon.
        {"main: x : 1 \"A\"\n", "1\nmain:|2|1=A\ndefault=main:\nfind main=(none)\nfind other=(none)\nafter free=none\n"},
        // No line break at the end of the file; a CR LF line.
        {"main : 1 \"A\"\r\nother : 2 \"B\"",
         "2\nmain|2|1=A\nother|4|2=B\ndefault=main\nfind main=A\nfind other=\nafter free=none\n"},
        // A file of comments only gives no set.
        {"# nothing\n\n", "0\ndefault=(none)\nfind main=(none)\nfind other=(none)\nafter free=none\n"},
    };
    for (const auto &c : cases) {
        Site site;
        site.write_file("oska/conf/keys", c.file);
        auto r = site.run({CORE_PROBE, "softkeys", "/usr/local/oska/conf/keys", "main", "other"});
        EXPECT_EQ(r.status, 0) << c.file << r.err;
        EXPECT_EQ(r.out, c.out) << c.file;
    }
}

TEST(SoftKeys, MalformedFiles)
{
    struct {
        const char *file;
        const char *message;
    } cases[] = {
        {"main\n", "SOFTKEY: Unexpected EOS Line - 1"},
        {"# comment\n\nmain 1 \"A\"\n", "SOFTKEY: Unexpected EOS Line - 3"},  // no colon
        {"main: 1 \"A\"\n", "SOFTKEY: Unexpected EOS Line - 1"},               // the colon is the name's
        {"main : \n", "SOFTKEY: Unexpected EOS Line - 1"},                     // no key number
        {"main : 1 \n", "SOFTKEY: Unexpected EOS Line - 1"},                   // no label
        {"main : 1 \"Help\n", "SOFTKEY: Unexpected EOS Line - 1"},             // label not closed
        {"main : 1 \"A\",\n", "SOFTKEY: Unexpected EOS Line - 1"},             // nothing after the comma
        {"ok : 1 \"A\"\nmain : 13 \"A\"\n", "SOFTKEY: Bad function key # 13 - ln 2"},
        {"main : 99999999999999999999 \"A\"\n", "SOFTKEY: Bad function key # 9999999 - ln 1"},
        {"main : 1 A\n", "SOFTKEY: Missing opening quote for key 1 - ln 1"},
        {"main : 1 \"A\" 2 \"B\"\n", "SOFTKEY: Missing comma for next key def - ln 1."},
        {"main : 1 \"A\"; 2 \"B\"\n", "SOFTKEY: Missing comma for next key def - ln 1."},
    };
    for (const auto &c : cases) {
        Site site;
        site.write_file("oska/conf/keys", c.file);
        auto r = site.run({CORE_PROBE, "softkeys", "/usr/local/oska/conf/keys"});
        EXPECT_EQ(r.status, 1) << c.file;
        EXPECT_NE(r.err.find(std::string("\nMessage:  ") + c.message + "\n"), std::string::npos)
            << c.file << "\n" << r.err;
    }
    Site site;
    auto r = site.run({CORE_PROBE, "softkeys", "/usr/local/oska/conf/none"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Message:  SOFTKEY: could not find label configuration '/usr/local/oska/conf/none'\n"),
              std::string::npos)
        << r.err;
}

TEST(SoftKeys, SiteSkeletonFileLoads)
{
    Site site;
    auto r = site.run({CORE_PROBE, "softkeys", "/usr/local/oska/conf/softkeys", "menu"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 2), "5\n");  // default, menu and the built-in screens' FKA, FKZ, FKN
    EXPECT_NE(r.out.find("default=default\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("find menu=Help\n"), std::string::npos) << r.out;
    // The menu screen's set, which its window cannot do without.
    r = site.run({CORE_PROBE, "softkeys", "/usr/local/oska/conf/softkeys", "FKA"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("find FKA=Help\n"), std::string::npos) << r.out;
}
