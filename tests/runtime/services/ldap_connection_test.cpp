// The connection information and its cache, the administrative connect with the units it creates
// and the remote-desktop group it picks, the local-account answers, and the values every operation
// builds: DN and filter escaping, cuts, telephone numbers and the composed address.
#include <pwd.h>

#include "ldap_fixture.h"
#include "ldap_internal.h"
#include "mem_mgt.h"
#include "net_wait.h"
#include "stall.h"

namespace {

using lumba_test::abort_text;

class LdapConnection : public LdapTest {};

std::string shown(const char *s) { return s ? s : "(null)"; }

// The connect's own log lines.
std::vector<std::string> connect_lines(const std::vector<std::string> &log)
{
    std::vector<std::string> v;
    for (const auto &l : log)
        if (l.rfind("oska_ldap_connect", 0) == 0 || l.rfind("phlinks", 0) == 0) v.push_back(l);
    return v;
}

} // namespace

TEST(LdapInfo, PartsOfTheConnectionInformation)
{
    struct {
        const char *info;
        const char *host, *root, *base, *password;
    } cases[] = {
        {"admin:pw@ldap.example:389?dc=x,dc=y", "ldap://ldap.example:389/", "cn=admin,dc=x,dc=y", "dc=x,dc=y", "pw"},
        {"admin:pw@ldap.example", "ldap://ldap.example/", "cn=admin,", "", "pw"},         // no "?": no base
        {"admin@ldap.example?dc=x", "ldap://ldap.example/", "cn=admin,dc=x", "dc=x", ""},  // no ":": no password
        {"admin:pw@h?dc=x,dc=y   ", "ldap://h/", "cn=admin,dc=x,dc=y", "dc=x,dc=y", "pw"},  // trailing blanks
        {"admin:p:w@h?dc=x", "ldap://h/", "cn=admin,dc=x", "dc=x", "p:w"},              // a second ":" is the password's
        {"admin:pw@h?dc=x?y@z", "ldap://h/", "cn=admin,dc=x?y@z", "dc=x?y@z", "pw"},    // all after the first "?"
        {"Smith, J:pw@h?dc=x", "ldap://h/", "cn=Smith\\, J,dc=x", "dc=x", "pw"},        // the admin name is a value
        {"admin:pw", "ldap:///", "cn=admin,", "", "pw"},
        {" ", "ldap:///", "cn=\\ ,", "", ""},                                           // the first character stays
    };
    for (const auto &c : cases) {
        set_ldapinfo(c.info);
        EXPECT_EQ(shown(ldap_host), c.host) << c.info;
        EXPECT_EQ(shown(root_dn), c.root) << c.info;
        EXPECT_EQ(shown(base_dn), c.base) << c.info;
        EXPECT_EQ(shown(root_pw), c.password) << c.info;
        EXPECT_EQ(shown(p_ldapinfo), c.info);
    }
    ldap_cleanup();
    EXPECT_EQ(p_ldapinfo, nullptr);
    EXPECT_EQ(root_pw, nullptr);
    EXPECT_EQ(ldap_host, nullptr);
    EXPECT_EQ(base_dn, nullptr);
    EXPECT_EQ(root_dn, nullptr);
}

TEST(LdapInfo, PasswordsAreMaskedInLogs)
{
    struct {
        const char *info, *shown;
    } cases[] = {
        {"admin:pw@h?dc=x", "admin:***@h?dc=x"},
        {"admin:p:w@h?dc=x:y@z", "admin:***@h?dc=x:y@z"},
        {"admin:pw?dc=x@y", "admin:***?dc=x@y"},
        {"admin:pw", "admin:***"},
        {"admin@h:389?dc=x", "admin@h:389?dc=x"},  // no password: nothing to hide
        {"admin:@h?dc=x", "admin:@h?dc=x"},
        {"", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(ldapinfo_for_log(c.info), c.shown) << c.info;
}

TEST_F(LdapConnection, ParsedOnceAndLoggedWithoutThePassword)
{
    const std::string masked = "admin:***@127.0.0.1:389?dc=example,dc=test";
    const std::vector<std::string> parse = {
        "set_ldapinfo: ldapinfo:" + masked,
        "set_ldapinfo: p_ldapinfo:" + masked,
        "set_ldapinfo: dn:dc=example,dc=test",
        "set_ldapinfo: ldaphost:127.0.0.1:389",
        "set_ldapinfo: secret:***",
        "set_ldapinfo: admin:admin",
        "set_ldapinfo: ldap_host:ldap://127.0.0.1:389/",
        "set_ldapinfo: base_dn:dc=example,dc=test",
        "set_ldapinfo: root_dn:cn=admin,dc=example,dc=test",
    };
    EXPECT_EQ(log_of([&] { set_ldapinfo(info.c_str()); }), parse);
    EXPECT_EQ(log_of([&] { set_ldapinfo(info.c_str()); }), std::vector<std::string>{parse[0]});
    // A trailing blank makes another string: parsed again, to the same parts.
    std::vector<std::string> again = parse;
    again[0] += " ";
    again[1] += " ";
    EXPECT_EQ(log_of([&] { set_ldapinfo((info + " ").c_str()); }), again);
    EXPECT_EQ(shown(base_dn), BASE);
}

TEST_F(LdapConnection, MissingUnitsAreCreated)
{
    const std::vector<std::string> all = {"Aliases", "Certinfo", "Groups", "Orgs", "People", "Phlinks", "Rpcs"};
    struct {
        const char *what;
        std::vector<std::string> removed;  // units taken away before the call
        std::vector<std::string> added;    // units put there before the call
        std::vector<std::string> after;    // the units under the base afterwards
    } steps[] = {
        {"a fresh directory gets all five", {}, {}, all},
        {"with ou=Phlinks, a missing ou=Rpcs stays missing; ou=Certinfo is made alone",
         {"Rpcs", "Certinfo"}, {}, {"Aliases", "Certinfo", "Groups", "Orgs", "People", "Phlinks"}},
        {"without ou=Phlinks, units already there are no error", {"Phlinks", "Aliases"}, {"Rpcs"}, all},
    };
    struct {
        const char *ou, *description;
    } made[] = {
        {"Rpcs", "Oska's responsible person list"}, {"Orgs", "Oska's organisation list"},
        {"Aliases", "Oska's aliases"}, {"Phlinks", "Oska's phone links"}, {"Certinfo", "Oska Certificate Information"},
    };
    bool first = true;
    for (const auto &s : steps) {
        for (const auto &u : s.removed) ASSERT_TRUE(server().remove(unit(u))) << u;
        for (const auto &u : s.added)
            server().add("dn: " + unit(u) + "\nobjectClass: top\nobjectClass: organizationalUnit\nou: " + u + "\n");
        EXPECT_EQ(ldap(in_ILDAP_ORGDEL, {"Nobody"}), 0) << s.what;
        std::vector<std::string> units;
        for (const auto &dn : server().children(BASE)) units.push_back(dn.substr(3, dn.find(',') - 3));
        std::sort(units.begin(), units.end());
        EXPECT_EQ(units, s.after) << s.what;
        for (const auto &m : made) {
            if (!first) break;
            EXPECT_EQ(values(unit(m.ou), "objectClass"), (Values{"top", "organizationalUnit"})) << m.ou;
            EXPECT_EQ(values(unit(m.ou), "ou"), Values{m.ou});
            EXPECT_EQ(values(unit(m.ou), "description"), Values{m.description});
        }
        first = false;
    }
}

TEST_F(LdapConnection, ConnectLogsItsSteps)
{
    const std::string host = "host:ldap://127.0.0.1:389/ dn=cn=admin,dc=example,dc=test";
    const std::vector<std::string> common = {
        "oska_ldap_connect  " + host,
        "oska_ldap_connect(): LDAP BIND " + host,
        "oska_ldap_connect(): Looking for x2go group cn=x2gousers,ou=Groups,dc=example,dc=test",
        "oska_ldap_connect(): ldap_search_ext_s  cn=x2gousers,ou=Groups,dc=example,dc=test result = 0",
        "oska_ldap_connect(): x2go group name: x2gousers",
        "oska_ldap_connect(): Looking for certinfo ou=Certinfo,dc=example,dc=test",
    };
    std::vector<std::string> fresh = common;
    fresh.insert(fresh.end(), {
        "oska_ldap_connect(): ldap_search_ext_s  ou=Certinfo,dc=example,dc=test result = 32 no such object = 32",
        "oska_ldap_connect(): certinfo ou=Certinfo,dc=example,dc=test not found. creating certinfo top object",
        "oska_ldap_connect(): ldap_add_ext added top object ou=Certinfo,dc=example,dc=test",
        "oska_ldap_connect(): after certinfo phlinks next",
        "oska_ldap_connect(): after  phlinks search",
        "phlinks ou=Phlinks,dc=example,dc=test not found. creating top objects",
        "oska_ldap_connect(): after  phlinks creation",
    });
    std::vector<std::string> later = common;
    later.insert(later.end(), {
        "oska_ldap_connect(): ldap_search_ext_s  ou=Certinfo,dc=example,dc=test result = 0 no such object = 32",
        "oska_ldap_connect(): after certinfo phlinks next",
        "oska_ldap_connect(): after  phlinks search",
    });
    EXPECT_EQ(connect_lines(log_of([&] { ldap(in_ILDAP_CERTDEL, {"nobody"}); })), fresh);
    EXPECT_EQ(connect_lines(log_of([&] { ldap(in_ILDAP_CERTDEL, {"nobody"}); })), later);
}

TEST_F(LdapConnection, RemoteDesktopGroupFallsBackToItsSingularName)
{
    ASSERT_TRUE(server().remove(GROUP));
    // Neither group: the membership changes of an add are refused and mailed, the person stands.
    EXPECT_EQ(ldap(in_ILDAP_USERADD, person("alice")), 1);
    EXPECT_STREQ(x2go_group_name, "x2gouser");
    const std::string fallback = "cn=x2gouser,ou=Groups,dc=example,dc=test";
    EXPECT_EQ(support_mails(),
              (Values{"oska_ldap_setattr: ldap_modify_ext_s: (dn:" + fallback + ", attr:memberUid, value:alice): 32 -- No such object",
                      "oska_ldap_setattr: ldap_modify_ext_s: (dn:" + fallback + ", attr:memberUid, value:alice): 32 -- No such object"}));
    // With the singular group present, it gets the members.
    server().add("dn: " + fallback + "\nobjectClass: top\nobjectClass: posixGroup\ncn: x2gouser\ngidNumber: 5001\n");
    EXPECT_EQ(ldap(in_ILDAP_USERADD, person("bob")), 1);
    EXPECT_EQ(values(fallback, "memberUid"), Values{"bob"});
}

TEST_F(LdapConnection, LocalAccountsAnswerWithoutTheDirectory)
{
    server().stop();
    const struct passwd *daemon = getpwnam("daemon");
    ASSERT_NE(daemon, nullptr);
    const long daemon_uid = static_cast<long>(daemon->pw_uid);
    struct {
        int code;
        const char *name;
        long result;
    } cases[] = {
        {in_ILDAP_CHECKUSER, "root", 1},
        {in_ILDAP_CHECKUSER, "daemon", 1},
        {in_ILDAP_USERID, "daemon", daemon_uid},
        {in_ILDAP_USERID, "root", 0},
    };
    for (const auto &c : cases) EXPECT_EQ(ldap(c.code, {c.name}), c.result) << c.name;
    // Anyone else needs the server.
    EXPECT_EQ(abort_text([&] { ldap(in_ILDAP_CHECKUSER, {"nosuchlocaluser"}); }),
              "oska_ldap_connect(): ldap_bind.521: -1 -- Can't contact LDAP server, "
              "host:ldap://127.0.0.1:389/ dn=cn=admin,dc=example,dc=test");
    server().start();
}

TEST_F(LdapConnection, AStoppedServerEndsEachCallAfterTheReplyTimeOut)
{
    // The kernel takes the connection; the server never answers.
    set_net_timeouts({500, 500});
    {
        lumba_test::Stopped held(server().pid());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(abort_text([&] { ldap(in_ILDAP_CHECKUSER, {"nosuchlocaluser"}); }),
                  "oska_ldap_connect(): ldap_bind.521: -5 -- Timed out, "
                  "host:ldap://127.0.0.1:389/ dn=cn=admin,dc=example,dc=test");
        EXPECT_EQ(ldap(in_ILDAP_VERIFYPASSWD, {"alice", "secret"}), 0);
        // Two reply time-outs, then promptly: far below the default time-outs.
        EXPECT_LT(lumba_test::seconds_since(start), 2 * 0.5 + lumba_test::scaled_ms(lumba_test::PROMPT_MS) / 1000.0);
    }
    set_net_timeouts({0, 0});
}

TEST_F(LdapConnection, BadConnectionInformationEndsTheRun)
{
    struct {
        std::string info;
        std::string stop;
    } cases[] = {
        {"admin:wrong@127.0.0.1:389?dc=example,dc=test",
         "oska_ldap_connect(): ldap_bind.521: 49 -- Invalid credentials, host:ldap://127.0.0.1:389/ "
         "dn=cn=admin,dc=example,dc=test"},
        {"admin:Adm1n-Pw@127.0.0.1:389?dc=other,dc=test",
         "oska_ldap_connect(): ldap_bind.521: 49 -- Invalid credentials, host:ldap://127.0.0.1:389/ "
         "dn=cn=admin,dc=other,dc=test"},
        {"admin:pw@bad host?dc=x", "oska_ldap_connect(): ldap_init failed: -9 -- Bad parameter to an ldap routine"},
    };
    for (const auto &c : cases) EXPECT_EQ(abort_text([&] { call(in_ILDAP_CHECKUSER, {c.info, "x"}); }), c.stop) << c.info;
}

TEST(LdapValues, DnValuesAreEscaped)
{
    struct {
        const char *value, *escaped;
    } cases[] = {
        {"alice", "alice"},
        {"Smith, Jones", "Smith\\, Jones"},
        {"+4930123456", "\\+4930123456"},
        {"a\"b<c>d;e\\f", "a\\\"b\\<c\\>d\\;e\\\\f"},
        {" lead", "\\ lead"},
        {"trail ", "trail\\ "},
        {"#1", "\\#1"},
        {"a#b=c", "a#b=c"},
        {"Zoë", "Zoë"},
        {"", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(dn_value(c.value), c.escaped) << c.value;
}

TEST(LdapValues, FilterValuesAreEscaped)
{
    struct {
        const char *value, *escaped;
    } cases[] = {
        {"alice", "alice"},
        {"*", "\\2A"},
        {"a*b(c)d\\e", "a\\2Ab\\28c\\29d\\5Ce"},
        {"x)(uid=*", "x\\29\\28uid=\\2A"},
    };
    for (const auto &c : cases) EXPECT_EQ(filter_value(c.value), c.escaped) << c.value;
}

TEST(LdapValues, CutsKeepCharactersWhole)
{
    struct {
        const char *text;
        std::size_t max;
        const char *cut;
    } cases[] = {
        {"abc", 2, "ab"}, {"abc", 3, "abc"}, {"abc", 9, "abc"},
        {"a\xC3\xA9", 2, "a"}, {"a\xC3\xA9", 3, "a\xC3\xA9"},          // é is two bytes
        {"\xE2\x82\xAC", 2, ""}, {"\xE2\x82\xAC" "b", 3, "\xE2\x82\xAC"},  // € is three
    };
    for (const auto &c : cases) EXPECT_EQ(cut_utf8(c.text, c.max), c.cut) << c.text << " " << c.max;
}

TEST(LdapValues, TelephoneNumbersAreCleaned)
{
    struct {
        const char *number, *cleaned;
    } cases[] = {
        {"+49 (30) 123-45.67:8", "+493012345678"},
        {"030/1234 ext 5", "030/1234ext5"},
        {" ()-.:", ""},
        {"", ""},
    };
    for (const auto &c : cases) {
        char *cleaned = phone_validation(c.number);
        EXPECT_STREQ(cleaned, c.cleaned) << c.number;
        sfree(cleaned);
    }
}

TEST(LdapValues, AddressComposition)
{
    const std::string a82(82, 'a'), a82_e = a82 + "\xC3\xA9";
    struct {
        const char *line1, *line2, *locality, *state, *postcode, *final_line;
        std::size_t street_max;
        std::string street, registered;
    } cases[] = {
        {"12 Main St", "", "Springfield", "XY", "123", "", 83, "12 Main St", "12 Main St, Springfield XY, 123"},
        {"12 Main St", "Unit 4", "Springfield", "XY", "123", "Utopia", 83, "12 Main St Unit 4",
         "12 Main St Unit 4, Springfield XY, 123, Utopia"},
        {"", "", "", "", "", "", 83, "", ",  "},
        {"Box $5", "C:\\dir", "L", "S", "", "", 155, "Box $5 C:\\dir", "Box \\245 C:\\5Cdir, L S"},
        // A cut never splits a character: é would end on byte 84 of the street.
        {a82_e.c_str(), "", "L", "S", "", "", 83, a82, a82_e + ", L S"},
    };
    for (const auto &c : cases) {
        const ComposedAddress a =
            compose_address(c.line1, c.line2, c.locality, c.state, c.postcode, c.final_line, c.street_max);
        EXPECT_EQ(a.street, c.street) << c.line1;
        EXPECT_EQ(a.registered, c.registered) << c.line1;
    }
    // The registered address keeps 155 bytes, whole characters, before its escapes.
    const std::string long_line = std::string(154, 'b') + "\xC3\xA9";
    EXPECT_EQ(compose_address(long_line.c_str(), "", "", "", "", "", 83).registered, std::string(154, 'b'));
}
