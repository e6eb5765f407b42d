// Organisations, project aliases, phone links and certificate entries against the private slapd.
#include <functional>
#include <ldap.h>
#include <unistd.h>

#include "ldap_fixture.h"

namespace {

using namespace std::string_literals;

class LdapEntries : public LdapTest {};

std::string org_dn(const std::string &name) { return "cn=" + name + ",ou=Orgs," + BASE; }
std::string alias_dn(const std::string &name) { return "cn=" + name + ",ou=Aliases," + BASE; }

std::string host_name()
{
    char name[129] = {};
    gethostname(name, 128);
    return name;
}

} // namespace

TEST_F(LdapEntries, OrganisationNamesAndDescriptions)
{
    struct {
        const char *name, *display, *web;
        Values cn, sn, display_name;
        const char *description;
    } cases[] = {
        {"Acme", "ACME", "", {"ACME"}, {"ACME"}, {"ACME"}, "Oska organisation\nEmail:info@acme.test"},
        {"Beta", "Beta Corp", "https://beta.test", {"Beta Corp", "Beta"}, {"Beta Corp"}, {"Beta Corp"},
         "Oska organisation\nEmail:info@acme.test\nWeb site: https://beta.test"},
        {"Gamma", "", "", {"No data", "Gamma"}, {"No data"}, {}, "Oska organisation\nEmail:info@acme.test"},
    };
    for (const auto &c : cases) {
        Organisation o = organisation(c.name, c.display);
        o[WEB] = c.web;
        ASSERT_EQ(ldap(in_ILDAP_ORGADD, o), 1) << c.name;
        const std::string dn = org_dn(c.name);
        EXPECT_EQ(values(dn, "objectClass"), (Values{"top", "inetOrgPerson"})) << c.name;
        EXPECT_EQ(values(dn, "cn"), c.cn) << c.name;
        EXPECT_EQ(values(dn, "sn"), c.sn) << c.name;
        EXPECT_EQ(values(dn, "displayName"), c.display_name) << c.name;
        EXPECT_EQ(values(dn, "description"), Values{c.description}) << c.name;
    }
    EXPECT_EQ(support_mails(), Values{});
}

TEST_F(LdapEntries, OrganisationAddWritesItsValues)
{
    const std::string logo = "\x89PNG\r\n\x1A\n\0\0\0\x0D"s;

    Organisation o = organisation("Acme", "Acme Ltd");
    o[OTEL] = "+44 (20) 7946-0000";
    o[OFAX] = "020.7946.0001";
    o[OMOBILE] = "07700 900000";
    o[WEB] = "https://acme.test";
    o[OLINE1] = "1 High St";
    o[OLOCALITY] = "London";
    o[OSTATE] = "LDN";
    o[OPOSTCODE] = "EC1";
    o[OPHOTO] = file_with(logo);
    ASSERT_EQ(ldap(in_ILDAP_ORGADD, o), 1);
    const std::string dn = org_dn("Acme");
    struct {
        const char *attr;
        Values values;
    } expected[] = {
        {"telephoneNumber", {"+442079460000"}}, {"facsimileTelephoneNumber", {"02079460001"}},
        {"mobile", {"07700900000"}}, {"mail", {"info@acme.test"}}, {"labeledURI", {"https://acme.test"}},
        {"l", {"London"}}, {"st", {"LDN"}}, {"postalCode", {"EC1"}}, {"street", {"1 High St"}},
        {"registeredAddress", {"1 High St, London LDN, EC1"}}, {"jpegPhoto", {logo}},
    };
    for (const auto &e : expected) EXPECT_EQ(values(dn, e.attr), e.values) << e.attr;
    // Once more: the server's code of the refused add, and nothing changed.
    o[OTEL] = "1";
    EXPECT_EQ(ldap(in_ILDAP_ORGADD, o), 68);
    EXPECT_EQ(values(dn, "telephoneNumber"), Values{"+442079460000"});
    EXPECT_EQ(support_mails(), Values{});
}

TEST_F(LdapEntries, OrganisationModifyAndDelete)
{
    ASSERT_EQ(ldap(in_ILDAP_ORGADD, organisation("Acme", "Acme Ltd")), 1);
    Organisation o = organisation("Acme", "Acme Limited");
    o[OMAIL] = "sales@acme.test";
    o[OLINE1] = "2 Low St";
    EXPECT_EQ(ldap(in_ILDAP_ORGMODIFY, o), 1);
    const std::string dn = org_dn("Acme");
    EXPECT_EQ(values(dn, "cn"), Values{"Acme"});  // the name alone, though the add stored two values
    EXPECT_EQ(values(dn, "sn"), Values{"Acme Limited"});
    EXPECT_EQ(values(dn, "displayName"), Values{"Acme Ltd"});  // not touched by a modify
    EXPECT_EQ(values(dn, "mail"), Values{"sales@acme.test"});
    EXPECT_EQ(values(dn, "street"), Values{"2 Low St"});
    EXPECT_EQ(values(dn, "description"), Values{"Oska organisation\nEmail:sales@acme.test"});
    EXPECT_EQ(support_mails(), Values{});

    // A missing organisation is an answer, not a mail per attribute.
    EXPECT_EQ(ldap(in_ILDAP_ORGMODIFY, organisation("Nowhere", "N")), 0);
    EXPECT_EQ(ldap(in_ILDAP_ORGMODIFY, organisation("", "N")), 0);
    EXPECT_FALSE(server().exists(org_dn("Nowhere")));
    EXPECT_EQ(support_mails(), Values{});

    EXPECT_EQ(ldap(in_ILDAP_ORGDEL, {"Acme"}), 1);
    EXPECT_FALSE(server().exists(dn));
    EXPECT_EQ(ldap(in_ILDAP_ORGDEL, {"Acme"}), 0);
}

TEST_F(LdapEntries, NamesWithSpecialCharactersStayInTheirUnit)
{
    const std::string name = "Smith, Jones & Co+ <Ltd>";
    ASSERT_EQ(ldap(in_ILDAP_ORGADD, organisation(name, name)), 1);
    EXPECT_EQ(values("cn=Smith\\, Jones & Co\\+ \\<Ltd\\>,ou=Orgs,dc=example,dc=test", "cn"), Values{name});
    EXPECT_EQ(server().children(unit("Orgs")).size(), 1u);
    EXPECT_EQ(ldap(in_ILDAP_ORGDEL, {name}), 1);
    EXPECT_EQ(server().children(unit("Orgs")).size(), 0u);
}

TEST_F(LdapEntries, ProjectAliases)
{
    ASSERT_EQ(ldap(in_ILDAP_PROJALIASADD, {"p", "123", "acme", "pm", "d"}), 1);
    const std::string dn = alias_dn("p.123-acme.pm");
    struct {
        const char *attr;
        Values values;
    } expected[] = {
        {"objectClass", {"top", "inetOrgPerson", "inetLocalMailRecipient"}},
        {"cn", {"pm of acme (123)", "p.123-acme.pm"}},
        {"sn", {"acme"}},
        {"givenName", {"pm"}},
        {"mail", {"p.123-acme.pm@d"}},
        {"mailLocalAddress", {"p.123-acme.pm@" + host_name()}},
        {"mailRoutingAddress", {"nobody"}},
        {"displayName", {"pm of acme (123)"}},
    };
    for (const auto &e : expected) EXPECT_EQ(values(dn, e.attr), e.values) << e.attr;

    // Without part 3: the alias name alone, the project as surname; without part 4: "No data".
    ASSERT_EQ(ldap(in_ILDAP_PROJALIASADD, {"q", "123", "", "", "d"}), 1);
    EXPECT_EQ(values(alias_dn("q.123-."), "cn"), Values{"q.123-."});
    EXPECT_EQ(values(alias_dn("q.123-."), "sn"), Values{"123"});
    EXPECT_EQ(values(alias_dn("q.123-."), "givenName"), Values{"No data"});
    // Once more: refused by the server, 0.
    EXPECT_EQ(ldap(in_ILDAP_PROJALIASADD, {"p", "123", "acme", "pm", "d"}), 0);
    EXPECT_EQ(support_mails(), Values{});
}

TEST_F(LdapEntries, ProjectAliasDeleteTakesOnlyThatProject)
{
    ASSERT_EQ(ldap(in_ILDAP_PROJALIASADD, {"p", "123", "acme", "pm", "d"}), 1);
    ASSERT_EQ(ldap(in_ILDAP_PROJALIASADD, {"s", "123", "acme", "sales", "d"}), 1);
    ASSERT_EQ(ldap(in_ILDAP_PROJALIASADD, {"p", "1234", "acme", "pm", "d"}), 1);
    ASSERT_EQ(ldap(in_ILDAP_PROJALIASADD, {"p", "x*", "acme", "pm", "d"}), 1);

    EXPECT_EQ(ldap(in_ILDAP_PROJALIASDEL, {"", ""}), 0);  // an empty project deletes nothing
    EXPECT_EQ(server().children(unit("Aliases")).size(), 4u);
    EXPECT_EQ(ldap(in_ILDAP_PROJALIASDEL, {"", "x*"}), 1);  // "*" is a character, not a pattern
    EXPECT_EQ(server().children(unit("Aliases")).size(), 3u);
    EXPECT_EQ(ldap(in_ILDAP_PROJALIASDEL, {"ignored", "123"}), 1);
    EXPECT_EQ(server().children(unit("Aliases")), Values{alias_dn("p.1234-acme.pm")});
    EXPECT_EQ(ldap(in_ILDAP_PROJALIASDEL, {"", "123"}), 1);  // nothing left to try
}

TEST_F(LdapEntries, PhoneLinks)
{
    EXPECT_EQ(ldap(in_ILDAP_PHLINKADD, {"+4930123456", "Alice"}), 1);
    const std::string dn = "cn=\\+4930123456,ou=Phlinks,dc=example,dc=test";
    EXPECT_EQ(values(dn, "cn"), Values{"+4930123456"});
    EXPECT_EQ(values(dn, "sn"), Values{"Alice"});
    EXPECT_EQ(values(dn, "displayName"), Values{"Alice"});
    EXPECT_EQ(values(dn, "telephoneNumber"), Values{"+4930123456"});
    // Each argument counts up to its first blank.
    EXPECT_EQ(ldap(in_ILDAP_PHLINKADD, {"030 999 11", "Bob Builder"}), 1);
    EXPECT_EQ(values("cn=030,ou=Phlinks,dc=example,dc=test", "sn"), Values{"Bob"});
    EXPECT_EQ(values("cn=030,ou=Phlinks,dc=example,dc=test", "telephoneNumber"), Values{"030"});
    EXPECT_EQ(ldap(in_ILDAP_PHLINKADD, {"+4930123456", "Again"}), 0);

    EXPECT_EQ(ldap(in_ILDAP_PHLINKDEL, {"+4930123456"}), 1);
    EXPECT_FALSE(server().exists(dn));
    std::vector<std::string> log = log_of([&] { EXPECT_EQ(ldap(in_ILDAP_PHLINKDEL, {"+4930123456 x"}), 0); });
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "LDAP phlink deleting for: cn=\\+4930123456,ou=Phlinks,dc=example,dc=test (32, x20) No such object"),
              log.end());
    EXPECT_EQ(support_mails(), Values{});
}

TEST_F(LdapEntries, CertificateEntries)
{
    const std::string wav = "RIFF\x04\0\0\0WAVE\xFF"s;
    EXPECT_EQ(ldap(in_ILDAP_CERTADD, {"fp-123", "alice", "unused", "Doe", "", file_with(wav)}), 0);
    const std::string dn = "cn=fp-123,ou=Certinfo,dc=example,dc=test";
    EXPECT_EQ(values(dn, "cn"), (Values{"fp-123", "alice"}));
    EXPECT_EQ(values(dn, "uid"), Values{"alice"});
    EXPECT_EQ(values(dn, "sn"), Values{"Doe"});
    EXPECT_EQ(values(dn, "departmentNumber"), Values{"browser_fingerprint_in"});
    EXPECT_EQ(values(dn, "audio"), Values{wav});
    EXPECT_EQ(values(dn, "jpegPhoto"), Values{});
    EXPECT_EQ(support_mails(), Values{});

    // A name equal to the uid sends one value twice: the server refuses, the answer is its code.
    const long code = ldap(in_ILDAP_CERTADD, {"bob", "bob", "", "Doe", "", ""});
    EXPECT_NE(code, 0);
    EXPECT_EQ(support_mails(), Values{"ldap_certadd (dn:cn=bob,ou=Certinfo,dc=example,dc=test, attrs): " +
                                      std::to_string(code) + " -- " + ldap_err2string(static_cast<int>(code))});
    EXPECT_FALSE(server().exists("cn=bob,ou=Certinfo,dc=example,dc=test"));

    EXPECT_EQ(ldap(in_ILDAP_CERTDEL, {"fp-123"}), 1);
    EXPECT_EQ(ldap(in_ILDAP_CERTDEL, {"fp-123"}), 0);
}

TEST_F(LdapEntries, LogLinesAtTheirLevels)
{
    const std::string shown = "admin:***@127.0.0.1:389?dc=example,dc=test";
    struct {
        std::function<void(LdapEntries &)> call;
        Values lines;  // each must be in the log, in this order (level 1 is indented by two blanks)
    } cases[] = {
        {[](LdapEntries &t) { t.ldap(in_ILDAP_ORGADD, organisation("Acme", "Acme")); },
         {"  ldapinfo: " + shown, "  ldap_orgadd for cn:cn=Acme,ou=Orgs,dc=example,dc=test"}},
        {[](LdapEntries &t) { t.ldap(in_ILDAP_ORGMODIFY, organisation("Acme", "Acme")); },
         {"  oska_ldap_orgmodify: for cn:cn=Acme,ou=Orgs,dc=example,dc=test"}},
        {[](LdapEntries &t) { t.ldap(in_ILDAP_CERTADD, {"fp", "u", "", "Doe", "", ""}); },
         {"  oska_ldap_certadd: ldapinfo: " + shown, "  oska_ldap_certadd for dn:cn=fp,ou=Certinfo,dc=example,dc=test"}},
    };
    for (const auto &c : cases) {
        const Values log = log_of([&] { c.call(*this); });
        auto at = log.begin();
        for (const auto &line : c.lines) {
            at = std::find(at, log.end(), line);
            EXPECT_NE(at, log.end()) << line;
        }
    }
}
