// Directory intrinsics in a program run by the real lumba_run in a private site, against this test
// program's slapd: the rows are registered in the shipped program, the work reaches the server, and
// the run-time log shows every connection string with its password as "***".
#include <gtest/gtest.h>

#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "intrinsics.h"
#include "program_text.h"
#include "site.h"
#include "slapd.h"

namespace {

using lumba_test::call;
using lumba_test::str;

std::string user_log()
{
    const struct passwd *pw = getpwuid(getuid());
    return std::string("temp/") + (pw ? pw->pw_name : "") + ".log";
}

// Pushes the texts, calls the numeric intrinsic and stores its value into the routine's local decimal.
std::string ldap_call(int code, const std::vector<std::string> &args)
{
    std::string text = str(lumba_test::Slapd::ldapinfo());
    for (const auto &a : args) text += str(a);
    return text + call("ifcallr", code, static_cast<int>(args.size()) + 1) + "storrd I:0 I:1 I:0 I:0 I:0\n";
}

} // namespace

TEST(LdapRun, ProgramAdministersTheDirectory)
{
    lumba_test::set_group_file("root:x:0:\noska:x:4242:\n");
    auto &server = lumba_test::slapd();
    std::vector<std::string> alice = {"alice", "Doe", "Alice", "Alice Doe", "", "030 123", "", "alice@x.test", "",
                                      "1 Main St", "", "Town", "ST", "", "", ""};
    std::string body = ldap_call(in_ILDAP_USERADD, alice);
    body += ldap_call(in_ILDAP_RESETPASSWD, {"alice", "Run-Pw7"});
    body += ldap_call(in_ILDAP_VERIFYPASSWD, {"alice", "Run-Pw7"});
    body += ldap_call(in_ILDAP_PHLINKADD, {"+49301", "Alice"});

    lumba_test::Site site;
    site.install_program("ldaprun", ".proc r:main I:0 I:0 I:1 I:0 I:0 I:0\nsrcline I:3 I:0\n" + body + "exit\n");
    const auto r = site.lumba({"-b", "-w", "0", "ldaprun", "0"});
    ASSERT_EQ(r.status, 0) << r.err;

    const std::string dn = "uid=alice,ou=People,dc=example,dc=test";
    EXPECT_EQ(server.values(dn, "uidNumber"), std::vector<std::string>{"10001"});
    EXPECT_EQ(server.values(dn, "telephoneNumber"), std::vector<std::string>{"030123"});
    EXPECT_TRUE(server.can_bind(dn, "Run-Pw7"));
    EXPECT_TRUE(server.exists("cn=\\+49301,ou=Phlinks,dc=example,dc=test"));

    const std::string log = site.read_file("oska/" + user_log());
    EXPECT_NE(log.find("set_ldapinfo: ldapinfo:admin:***@127.0.0.1:389?dc=example,dc=test\n"), std::string::npos) << log;
    EXPECT_NE(log.find("set_ldapinfo: secret:***\n"), std::string::npos) << log;
    EXPECT_NE(log.find("oska_ldap_verifypasswd: ldapinfo:admin:***@127.0.0.1:389?dc=example,dc=test\n"),
              std::string::npos);
    EXPECT_EQ(log.find(lumba_test::Slapd::PASSWORD), std::string::npos) << log;
    EXPECT_EQ(log.find("Run-Pw7"), std::string::npos) << log;
}
