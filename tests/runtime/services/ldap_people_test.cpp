// Persons and responsible persons against the private slapd: add with every attribute, the uid
// numbers, repeats, responsible persons, modify, photos, password reset, disabling, verification,
// deletion, the check and number look-up, and input that must neither abort nor leak a password.
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "ldap_fixture.h"
#include "planted.h"

namespace {

using lumba_test::abort_text;
using namespace std::string_literals;

class LdapPeople : public LdapTest {
protected:
    // A posixAccount with a uid number, as another tool would have made it.
    static void seed_account(const std::string &uid, const std::string &number)
    {
        server().add("dn: " + people_dn(uid) +
                     "\nobjectClass: top\nobjectClass: posixAccount\nobjectClass: inetOrgPerson\nuid: " + uid +
                     "\ncn: " + uid + "\nsn: " + uid + "\nuidNumber: " + number +
                     "\ngidNumber: 1\nhomeDirectory: /home/" + uid + "\n");
    }
};

// Bytes no text could carry: NUL, high bytes, a JPEG start.
const std::string JPEG = "\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x02\x80\x7F\n\r"s;

} // namespace

TEST_F(LdapPeople, AddWritesEveryAttribute)
{
    Person p = person("alice");
    p[FULL] = "Alice Example";
    p[TITLE] = "Engineer";
    p[TEL] = "+49 (30) 123-45.67:8";
    p[MOBILE] = "0170 / 123 45";
    p[MAIL] = "alice@example.test";
    p[FAX] = "(030) 99.88";
    p[LINE1] = "12 Main St";
    p[LINE2] = "Unit 4";
    p[LOCALITY] = "Springfield";
    p[STATE] = "XY";
    p[POSTCODE] = "123";
    p[FINAL] = "Utopia";
    p[PHOTO] = file_with(JPEG);
    ASSERT_EQ(ldap(in_ILDAP_USERADD, p), 1);

    const std::string dn = people_dn("alice");
    struct {
        const char *attr;
        Values values;
    } expected[] = {
        {"objectClass", {"top", "posixAccount", "inetOrgPerson"}},
        {"uid", {"alice"}},
        {"cn", {"alice", "Alice Example"}},
        {"sn", {"Doe"}},
        {"gecos", {"alice"}},
        {"gidNumber", {"4242"}},
        {"uidNumber", {"10001"}},
        {"loginShell", {"/usr/local/oska/scripts/dump_shell"}},
        {"homeDirectory", {"/home/alice"}},
        {"displayName", {"Alice Example"}},
        {"givenName", {"Jane"}},
        {"title", {"Engineer"}},
        {"telephoneNumber", {"+493012345678"}},
        {"mobile", {"0170/12345"}},
        {"mail", {"alice@example.test"}},
        {"facsimileTelephoneNumber", {"0309988"}},
        {"l", {"Springfield"}},
        {"st", {"XY"}},
        {"postalCode", {"123"}},
        {"street", {"12 Main St Unit 4"}},
        {"registeredAddress", {"12 Main St Unit 4, Springfield XY, 123, Utopia"}},
        {"jpegPhoto", {JPEG}},
    };
    for (const auto &e : expected) EXPECT_EQ(values(dn, e.attr), e.values) << e.attr;
    EXPECT_EQ(values(GROUP, "memberUid"), Values{"alice"});
    EXPECT_EQ(support_mails(), Values{});
}

TEST_F(LdapPeople, UidNumbersFollowTheGreatest)
{
    struct {
        Values existing;  // uid numbers already in ou=People
        const char *next;
    } cases[] = {
        {{}, "10001"},
        {{"10003", "20000"}, "20001"},
        {{"500", "9999"}, "10001"},
    };
    for (const auto &c : cases) {
        for (std::size_t i = 0; i < c.existing.size(); ++i) seed_account("old" + std::to_string(i), c.existing[i]);
        ASSERT_EQ(ldap(in_ILDAP_USERADD, person("newbie")), 1);
        EXPECT_EQ(values(people_dn("newbie"), "uidNumber"), Values{c.next});
        for (const auto &dn : server().children(unit("People"))) server().remove(dn);
    }
}

TEST_F(LdapPeople, RepeatedAddAnswers68AndChangesNothing)
{
    ASSERT_EQ(ldap(in_ILDAP_USERADD, person("alice")), 1);
    Person again = person("alice");
    again[FULL] = "Someone Else";
    again[TITLE] = "Changed";
    EXPECT_EQ(ldap(in_ILDAP_USERADD, again), 68);
    EXPECT_EQ(values(people_dn("alice"), "cn"), (Values{"alice", "Jane Doe alice"}));
    EXPECT_EQ(values(people_dn("alice"), "title"), Values{});
    EXPECT_EQ(support_mails(), Values{});
    // A full name equal to the uid but for case gives one cn.
    Person same = person("bob");
    same[FULL] = "BOB";
    EXPECT_EQ(ldap(in_ILDAP_USERADD, same), 1);
    EXPECT_EQ(values(people_dn("bob"), "cn"), Values{"BOB"});
}

TEST_F(LdapPeople, ResponsiblePersonHasNoLoginAndNoMembership)
{
    // Already listed in the group: the add takes the uid out.
    server().add("dn: " + std::string(GROUP) + "\nchangetype: modify\nadd: memberUid\nmemberUid: carol\n");
    Person p = person("carol");
    p[MAIL] = "carol@example.test";
    ASSERT_EQ(ldap(in_ILDAP_RPCADD, p), 1);
    const std::string dn = rpc_dn("carol");
    EXPECT_EQ(values(dn, "objectClass"), (Values{"top", "inetOrgPerson"}));
    EXPECT_EQ(values(dn, "mail"), Values{"carol@example.test"});
    for (const char *attr : {"uidNumber", "gidNumber", "homeDirectory", "loginShell", "gecos"})
        EXPECT_EQ(values(dn, attr), Values{}) << attr;
    EXPECT_FALSE(server().exists(people_dn("carol")));
    EXPECT_EQ(values(GROUP, "memberUid"), Values{});
    // Without the local group a responsible person is still added: it has no group id.
    lumba_test::set_group_file("root:x:0:\n");
    EXPECT_EQ(ldap(in_ILDAP_RPCADD, person("dora")), 1);
    EXPECT_TRUE(server().exists(rpc_dn("dora")));
}

TEST_F(LdapPeople, ModifyChangesOrAddsTheEntry)
{
    // Missing: the modify adds.
    EXPECT_EQ(ldap(in_ILDAP_USERMODIFY, person("alice")), 1);
    EXPECT_EQ(values(people_dn("alice"), "uidNumber"), Values{"10001"});
    EXPECT_EQ(ldap(in_ILDAP_RPCMODIFY, person("rita")), 1);
    EXPECT_TRUE(server().exists(rpc_dn("rita")));

    Person p = person("alice");
    p[SN] = "Smith";
    p[FULL] = "Alice Smith";
    p[TEL] = "030 555";
    p[LINE1] = std::string(150, 'x');
    p[LINE2] = "y";
    p[LOCALITY] = "Town";
    EXPECT_EQ(ldap(in_ILDAP_USERMODIFY, p), 1);
    const std::string dn = people_dn("alice");
    EXPECT_EQ(values(dn, "cn"), (Values{"Alice Smith", "alice"}));
    EXPECT_EQ(values(dn, "displayName"), Values{"Alice Smith"});
    EXPECT_EQ(values(dn, "sn"), Values{"Smith"});
    EXPECT_EQ(values(dn, "telephoneNumber"), Values{"030555"});
    EXPECT_EQ(values(dn, "street"), Values{std::string(150, 'x') + " y"});  // the modify keeps 155 bytes
    EXPECT_EQ(values(dn, "uidNumber"), Values{"10001"});
    EXPECT_EQ(values(GROUP, "memberUid"), Values{"alice"});
    EXPECT_EQ(support_mails(), Values{});
}

TEST_F(LdapPeople, PhotosAreStoredByteForByte)
{
    Person p = person("alice");
    p[PHOTO] = file_with(JPEG);
    ASSERT_EQ(ldap(in_ILDAP_USERADD, p), 1);
    const std::string second = JPEG + std::string(70000, '\x5A');
    struct {
        std::string path;
        std::string stored;
    } cases[] = {
        {file_with(second), second},         // replaced
        {" " + file_with(JPEG), second},    // a path led by a blank is skipped
        {"/nonexistent/photo.jpg", second},  // so is a file that does not open
        {"/tmp", second},                    // and one that is no regular file
        {"", second},
    };
    for (const auto &c : cases) {
        p[PHOTO] = c.path;
        EXPECT_EQ(ldap(in_ILDAP_USERMODIFY, p), 1) << c.path;
        EXPECT_EQ(values(people_dn("alice"), "jpegPhoto"), Values{c.stored}) << c.path;
    }
    EXPECT_EQ(support_mails(), Values{});
}

// A photo named in a shared directory of another user's is read only when it is the run's own (or
// root's): a link they planted (to a file only root may read), a FIFO and a file of theirs are
// files that do not open, and the stored photo stays.
TEST_F(LdapPeople, PhotosAnotherUserPlantedAreNotRead)
{
    Person p = person("alice");
    p[PHOTO] = file_with(JPEG);
    ASSERT_EQ(ldap(in_ILDAP_USERADD, p), 1);
    char *scratch = g_dir_make_tmp("ldap-photos-XXXXXX", nullptr);
    ASSERT_NE(scratch, nullptr);
    const std::string dir = scratch, pub = dir + "/pub", secret = JPEG + "secret"s;
    g_free(scratch);
    lumba_test::make_their_shared_directory(pub);
    std::ofstream(dir + "/private.jpg", std::ios::binary) << secret;
    ASSERT_EQ(chmod((dir + "/private.jpg").c_str(), 0600), 0);
    lumba_test::plant_link(dir + "/private.jpg", pub + "/link.jpg");
    lumba_test::plant_fifo(pub + "/fifo.jpg");
    lumba_test::plant_file(pub + "/theirs.jpg", secret);
    for (const char *name : {"link.jpg", "fifo.jpg", "theirs.jpg"}) {
        p[PHOTO] = pub + "/" + name;
        EXPECT_EQ(ldap(in_ILDAP_USERMODIFY, p), 1) << name;
        EXPECT_EQ(values(people_dn("alice"), "jpegPhoto"), Values{JPEG}) << name;
    }
    std::ofstream(pub + "/mine.jpg", std::ios::binary) << secret;
    p[PHOTO] = pub + "/mine.jpg";
    EXPECT_EQ(ldap(in_ILDAP_USERMODIFY, p), 1);
    EXPECT_EQ(values(people_dn("alice"), "jpegPhoto"), Values{secret});
    std::filesystem::remove_all(dir);
}

TEST_F(LdapPeople, PasswordResetDisableAndVerification)
{
    ASSERT_EQ(ldap(in_ILDAP_USERADD, person("alice")), 1);
    const std::string dn = people_dn("alice");
    struct {
        int code;
        Values args;
        long result;
        const char *works;    // a password that binds afterwards, or null
        const char *refused;  // one that no longer does, or null
    } steps[] = {
        {in_ILDAP_RESETPASSWD, {"alice", "first-Pw1"}, 1, "first-Pw1", nullptr},
        {in_ILDAP_VERIFYPASSWD, {"alice", "first-Pw1"}, 1, nullptr, nullptr},
        {in_ILDAP_VERIFYPASSWD, {"alice", "wrong"}, 0, nullptr, nullptr},
        {in_ILDAP_RESETPASSWD, {"alice", "second-Pw2"}, 1, "second-Pw2", "first-Pw1"},
        {in_ILDAP_VERIFYPASSWD, {"alice", "first-Pw1"}, 0, nullptr, nullptr},
        {in_ILDAP_VERIFYPASSWD, {"alice", "second-Pw2"}, 1, nullptr, nullptr},
        {in_ILDAP_USERDISABLE, {"alice"}, 1, nullptr, "second-Pw2"},
        {in_ILDAP_VERIFYPASSWD, {"alice", "second-Pw2"}, 0, nullptr, nullptr},
        {in_ILDAP_RESETPASSWD, {"nobody", "x-Pw3"}, 0, nullptr, nullptr},  // no such person
        {in_ILDAP_USERDISABLE, {"nobody"}, 0, nullptr, nullptr},
        {in_ILDAP_VERIFYPASSWD, {"nobody", "x-Pw3"}, 0, nullptr, nullptr},
    };
    int i = 0;
    for (const auto &s : steps) {
        EXPECT_EQ(ldap(s.code, s.args), s.result) << "step " << i;
        if (s.works) {
            EXPECT_TRUE(server().can_bind(dn, s.works)) << "step " << i;
        }
        if (s.refused) {
            EXPECT_FALSE(server().can_bind(dn, s.refused)) << "step " << i;
        }
        ++i;
    }
    // The server itself takes an empty password as an unauthenticated bind; the verification never.
    EXPECT_TRUE(server().can_bind(dn, ""));
    EXPECT_EQ(ldap(in_ILDAP_VERIFYPASSWD, {"alice", ""}), 0);
}

TEST(LdapDisable, PasswordsAreSixteenCharactersFromAToGraveAccent)
{
    std::string seen;
    for (int i = 0; i < 200; ++i) {
        const std::string pw = disabled_password();
        ASSERT_EQ(pw.size(), 16u);
        for (const char c : pw) ASSERT_TRUE(c >= 'A' && c <= '`') << pw;
        seen += pw;
    }
    // 3200 draws from 32 characters reach every one of them.
    for (char c = 'A'; c <= '`'; ++c) EXPECT_NE(seen.find(c), std::string::npos) << c;
    EXPECT_NE(disabled_password(), disabled_password());
}

TEST_F(LdapPeople, DeleteLeavesTheGroup)
{
    ASSERT_EQ(ldap(in_ILDAP_USERADD, person("alice")), 1);
    ASSERT_EQ(ldap(in_ILDAP_USERADD, person("bob")), 1);
    EXPECT_EQ(values(GROUP, "memberUid"), (Values{"alice", "bob"}));
    EXPECT_EQ(ldap(in_ILDAP_USERDEL, {"alice"}), 1);
    EXPECT_FALSE(server().exists(people_dn("alice")));
    EXPECT_EQ(values(GROUP, "memberUid"), Values{"bob"});
    EXPECT_EQ(ldap(in_ILDAP_USERDEL, {"alice"}), 0);
    EXPECT_EQ(support_mails(), Values{});
}

TEST_F(LdapPeople, CheckAndNumberLookUp)
{
    ASSERT_EQ(ldap(in_ILDAP_USERADD, person("alice")), 1);
    ASSERT_EQ(ldap(in_ILDAP_USERADD, person("bob")), 1);
    ASSERT_EQ(ldap(in_ILDAP_RPCADD, person("carol")), 1);
    const std::string long_name = std::string(54, 'n') + "*)(|x";  // 60 characters
    struct {
        std::string name;
        long found, number;
    } cases[] = {
        {"alice", 1, 10001},
        {"10002", 1, 10002},  // by number
        {"carol", 0, 0},      // responsible persons have no login
        {"*", 0, 0},          // a value, not a pattern
        {"alice)(uid=*", 0, 0},
        {long_name, 0, 0},
        {"", 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ldap(in_ILDAP_CHECKUSER, {c.name}), c.found) << c.name;
        EXPECT_EQ(ldap(in_ILDAP_USERID, {c.name}), c.number) << c.name;
    }
}

TEST_F(LdapPeople, MailAndImapRights)
{
    ASSERT_EQ(ldap(in_ILDAP_USERADD, person("alice")), 1);
    EXPECT_EQ(ldap(in_ILDAP_SETEMAIL, {"alice", "a@example.test"}), 1);
    EXPECT_EQ(ldap(in_ILDAP_IMAPACL, {"alice", "lrswi"}), 1);
    EXPECT_EQ(values(people_dn("alice"), "mail"), Values{"a@example.test"});
    EXPECT_EQ(values(people_dn("alice"), "employeeType"), Values{"lrswi"});
    EXPECT_EQ(support_mails(), Values{});
    // A person that is not there: 0, and the refusal is mailed.
    EXPECT_EQ(ldap(in_ILDAP_SETEMAIL, {"nobody", "n@example.test"}), 0);
    EXPECT_EQ(ldap(in_ILDAP_IMAPACL, {"nobody", "lr"}), 0);
    EXPECT_EQ(support_mails(),
              (Values{"oska_ldap_setattr: ldap_modify_ext_s: (dn:uid=nobody,ou=People,dc=example,dc=test, attr:mail, "
                      "value:n@example.test): 32 -- No such object",
                      "oska_ldap_setattr: ldap_modify_ext_s: (dn:uid=nobody,ou=People,dc=example,dc=test, "
                      "attr:employeeType, value:lr): 32 -- No such object"}));
}

TEST_F(LdapPeople, RefusedAddGivesTheServersCodeAndAMail)
{
    Person p = person("erin");
    p[SN] = "";
    p[FULL] = "Erin Doe";
    EXPECT_EQ(ldap(in_ILDAP_USERADD, p), 65);
    EXPECT_FALSE(server().exists(people_dn("erin")));
    EXPECT_EQ(support_mails(),
              Values{"oska_ldap_useradd for uid=erin,ou=People,dc=example,dc=test: 65 -- Object class violation -- "
                     "class=posixAccount--uid=erin--cn=erin cn=Erin Doe--sn=--gecos=erin--gid=4242--uid=10001--"
                     "shell=/usr/local/oska/scripts/dump_shell--home=/home/erin"});
    lumba_test::mail_reports().clear();
    EXPECT_EQ(ldap(in_ILDAP_RPCADD, p), 65);
    EXPECT_EQ(support_mails(), Values{"oska_ldap_useradd for uid=erin,ou=Rpcs,dc=example,dc=test: 65 -- Object class "
                                      "violation -- class=inetOrgPerson -- uid=erin -- cn=erin cn=Erin Doe -- sn="});
}

TEST_F(LdapPeople, MissingLocalGroupAddsNothing)
{
    lumba_test::set_group_file("root:x:0:\nusers:x:100:\n");
    EXPECT_EQ(ldap(in_ILDAP_USERADD, person("frank")), 0);
    EXPECT_EQ(ldap(in_ILDAP_USERMODIFY, person("frank")), 0);
    EXPECT_FALSE(server().exists(people_dn("frank")));
    EXPECT_EQ(support_mails(), (Values{"oska_ldap_useradd: local group oska not found, uid frank not added",
                                       "oska_ldap_useradd: local group oska not found, uid frank not added"}));
}

TEST_F(LdapPeople, ValuesCannotMoveEntries)
{
    Person p = person("o'neil, admin");
    p[FULL] = "O'Neil";
    EXPECT_EQ(ldap(in_ILDAP_USERADD, p), 1);
    EXPECT_TRUE(server().exists("uid=o'neil\\, admin,ou=People,dc=example,dc=test"));
    EXPECT_EQ(server().children(unit("People")), Values{"uid=o'neil\\2C admin,ou=People,dc=example,dc=test"});
    EXPECT_EQ(ldap(in_ILDAP_CHECKUSER, {"o'neil, admin"}), 1);
    EXPECT_EQ(ldap(in_ILDAP_USERDEL, {"o'neil, admin"}), 1);
}

TEST_F(LdapPeople, TheLogHoldsNoPassword)
{
    const std::vector<std::string> log = log_of([&] {
        ASSERT_EQ(ldap(in_ILDAP_USERADD, person("alice")), 1);
        ASSERT_EQ(ldap(in_ILDAP_RESETPASSWD, {"alice", "Reset-Pw9"}), 1);
        ASSERT_EQ(ldap(in_ILDAP_VERIFYPASSWD, {"alice", "Reset-Pw9"}), 1);
        ASSERT_EQ(ldap(in_ILDAP_USERDISABLE, {"alice"}), 1);
        ASSERT_EQ(ldap(in_ILDAP_CHECKUSER, {"alice"}), 1);
    });
    ASSERT_FALSE(log.empty());
    bool masked = false;
    for (const auto &line : log) {
        EXPECT_EQ(line.find(lumba_test::Slapd::PASSWORD), std::string::npos) << line;
        EXPECT_EQ(line.find("Reset-Pw9"), std::string::npos) << line;
        masked = masked || line.find("admin:***@127.0.0.1:389") != std::string::npos;
    }
    EXPECT_TRUE(masked);
    for (const char *line : {"oska_ldap_verifypasswd: ldapinfo:admin:***@127.0.0.1:389?dc=example,dc=test",
                             "oska_ldap_checkuser: ldapinfo:admin:***@127.0.0.1:389?dc=example,dc=test"})
        EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
}
