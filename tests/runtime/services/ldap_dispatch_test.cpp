// Every directory row of the numeric dispatcher reaches its own handler: a run of calls in which
// each row answers and leaves the directory as only its handler does (an unregistered row would
// stop with "<NAME> not available"); and the argument counts are checked before anything is read.
#include <ldap.h>

#include "ldap_fixture.h"

namespace {

using lumba_test::abort_text;

class LdapDispatch : public LdapTest {};

} // namespace

TEST_F(LdapDispatch, EveryRowReachesItsHandler)
{
    const Person alice = person("alice"), rita = person("rita");
    Person alice2 = alice, rita2 = rita;
    alice2[TITLE] = "Boss";
    rita2[TITLE] = "Contact";
    const Organisation acme = organisation("Acme", "Acme Ltd");
    const Organisation acme2 = organisation("Acme", "Acme Limited");
    const std::string alias = "cn=p.7-a.b,ou=Aliases,dc=example,dc=test";
    struct {
        int code;
        std::vector<std::string> args;
        long result;
        std::string dn;                 // an entry to look at afterwards
        std::string attr;               // its attribute (empty: the entry exists; "!": it is gone)
        std::vector<std::string> want;  // the attribute's values
    } rows[] = {
        {in_ILDAP_USERADD, {alice.begin(), alice.end()}, 1, people_dn("alice"), "uidNumber", {"10001"}},
        {in_ILDAP_RPCADD, {rita.begin(), rita.end()}, 1, rpc_dn("rita"), "", {}},
        {in_ILDAP_USERMODIFY, {alice2.begin(), alice2.end()}, 1, people_dn("alice"), "title", {"Boss"}},
        {in_ILDAP_RPCMODIFY, {rita2.begin(), rita2.end()}, 1, rpc_dn("rita"), "title", {"Contact"}},
        {in_ILDAP_CHECKUSER, {"alice"}, 1, "", "", {}},
        {in_ILDAP_USERID, {"alice"}, 10001, "", "", {}},
        {in_ILDAP_SETEMAIL, {"alice", "a@x.test"}, 1, people_dn("alice"), "mail", {"a@x.test"}},
        {in_ILDAP_IMAPACL, {"alice", "lr"}, 1, people_dn("alice"), "employeeType", {"lr"}},
        {in_ILDAP_RESETPASSWD, {"alice", "Pw-1"}, 1, "", "", {}},
        {in_ILDAP_VERIFYPASSWD, {"alice", "Pw-1"}, 1, "", "", {}},
        {in_ILDAP_USERDISABLE, {"alice"}, 1, "", "", {}},
        {in_ILDAP_VERIFYPASSWD, {"alice", "Pw-1"}, 0, "", "", {}},
        {in_ILDAP_USERDEL, {"alice"}, 1, people_dn("alice"), "!", {}},
        {in_ILDAP_ORGADD, {acme.begin(), acme.end()}, 1, "cn=Acme,ou=Orgs,dc=example,dc=test", "displayName", {"Acme Ltd"}},
        {in_ILDAP_ORGMODIFY, {acme2.begin(), acme2.end()}, 1, "cn=Acme,ou=Orgs,dc=example,dc=test", "sn", {"Acme Limited"}},
        {in_ILDAP_ORGDEL, {"Acme"}, 1, "cn=Acme,ou=Orgs,dc=example,dc=test", "!", {}},
        {in_ILDAP_PROJALIASADD, {"p", "7", "a", "b", "d"}, 1, alias, "mail", {"p.7-a.b@d"}},
        {in_ILDAP_PROJALIASDEL, {"", "7"}, 1, alias, "!", {}},
        {in_ILDAP_PHLINKADD, {"0301", "Alice"}, 1, "cn=0301,ou=Phlinks,dc=example,dc=test", "sn", {"Alice"}},
        {in_ILDAP_PHLINKDEL, {"0301"}, 1, "cn=0301,ou=Phlinks,dc=example,dc=test", "!", {}},
        {in_ILDAP_CERTADD, {"fp", "alice", "", "Doe", "", ""}, 0, "cn=fp,ou=Certinfo,dc=example,dc=test", "uid", {"alice"}},
        {in_ILDAP_CERTDEL, {"fp"}, 1, "cn=fp,ou=Certinfo,dc=example,dc=test", "!", {}},
    };
    std::vector<int> codes;
    for (const auto &row : rows) {
        const char *name = inbuilt[row.code].F_name;
        long got = -1;
        const std::string stop = abort_text([&] { got = ldap(row.code, row.args); });
        EXPECT_EQ(stop, "") << name;
        EXPECT_EQ(got, row.result) << name;
        codes.push_back(row.code);
        if (row.dn.empty()) continue;
        if (row.attr == "!") {
            EXPECT_FALSE(server().exists(row.dn)) << name;
        } else if (row.attr.empty()) {
            EXPECT_TRUE(server().exists(row.dn)) << name;
        } else {
            EXPECT_EQ(values(row.dn, row.attr), row.want) << name;
        }
    }
    std::sort(codes.begin(), codes.end());
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    EXPECT_EQ(codes.size(), 21u);
    EXPECT_EQ(support_mails(), Values{});
}

TEST_F(LdapDispatch, ArgumentCountsAreChecked)
{
    struct {
        int code;
        int wanted;
    } rows[] = {
        {in_ILDAP_CERTADD, 7},       {in_ILDAP_CERTDEL, 2},      {in_ILDAP_CHECKUSER, 2},
        {in_ILDAP_IMAPACL, 3},       {in_ILDAP_ORGADD, 15},      {in_ILDAP_ORGDEL, 2},
        {in_ILDAP_ORGMODIFY, 15},    {in_ILDAP_PHLINKADD, 3},    {in_ILDAP_PHLINKDEL, 2},
        {in_ILDAP_PROJALIASADD, 6},  {in_ILDAP_PROJALIASDEL, 3}, {in_ILDAP_RESETPASSWD, 3},
        {in_ILDAP_RPCADD, 17},       {in_ILDAP_RPCMODIFY, 17},   {in_ILDAP_SETEMAIL, 3},
        {in_ILDAP_USERADD, 17},      {in_ILDAP_USERDEL, 2},      {in_ILDAP_USERDISABLE, 2},
        {in_ILDAP_USERID, 2},        {in_ILDAP_USERMODIFY, 17},  {in_ILDAP_VERIFYPASSWD, 3},
    };
    for (const auto &row : rows) {
        const std::string name = inbuilt[row.code].F_name;
        for (const int n : {row.wanted - 1, row.wanted + 1}) {
            EXPECT_EQ(abort_text([&] { call(row.code, std::vector<std::string>(static_cast<std::size_t>(n), "x")); }),
                      name + " called with wrong number of arguments (" + std::to_string(n) + ")");
        }
    }
    // A number where a text belongs.
    lumba_test::IntrinsicCall calls;
    EXPECT_EQ(abort_text([&] {
                  calls.numeric(in_ILDAP_USERDEL, {lumba_test::args::num(0), lumba_test::args::num(0)});
              }),
              "ILDAP_USERDEL: string argument expected");
}
