// Persons (login accounts under ou=People) and responsible persons (address-book entries under
// ou=Rpcs): check, number look-up, IMAP rights and e-mail, add and modify, password reset,
// disabling, deletion and password verification.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <memory>
#include <pwd.h>
#include <sys/random.h>

#include "gdata.h"
#include "ldap_internal.h"
#include "libldap_calls.h"
#include "message.h"

namespace {

const std::vector<std::string> obj_values{"top", "posixAccount", "inetOrgPerson"};
const std::vector<std::string> rpcobj_values{"top", "inetOrgPerson"};
const std::vector<std::string> sh_values{"/usr/local/oska/scripts/dump_shell"};

// The people a check or number look-up finds: by uid or by uidNumber.
std::string person_filter(const char *name)
{
    const std::string v = filter_value(arg_text(name));
    return "(&(objectClass=posixAccount)(|(uid=" + v + ")(uidNumber=" + v + ")))";
}

const struct passwd *local_account(const char *name) { return empty_arg(name) ? nullptr : getpwnam(name); }

// A number as atoi reads it: leading blanks, a sign and digits; 0 for none.
long long leading_number(const std::string &text)
{
    return std::strtoll(text.c_str(), nullptr, 10);
}

// n kept within the int range of the intrinsic's answer.
int as_int(long long n) { return n > INT_MAX ? INT_MAX : n < INT_MIN ? INT_MIN : static_cast<int>(n); }

std::string group_dn() { return std::string("cn=") + x2go_group_name + ",ou=Groups," + arg_text(base_dn); }

// The next free uid number: one above the greatest of ou=People, and never below 10001.
long long next_uid_number(LDAP *ld)
{
    const std::string people = unit_dn("People");
    LdapSearch found(ld, people, LDAP_SCOPE_SUBTREE, "(objectClass=posixAccount)", {"uidNumber"});
    if (found.code() != LDAP_SUCCESS)
        Abort("oska_ldap_useradd: ldap_search for dn:%s: %d -- %s", people.c_str(), found.code(),
              ldap_text(found.code()));
    long long greatest = 10000;
    for (const auto &values : found.values("uidNumber"))
        if (!values.empty()) greatest = std::max(greatest, leading_number(values[0]));
    return greatest + 1;
}

// The values an add and a modify both set after their own first steps, in this order.
void replace_person_values(LDAP *ld, const std::string &dn, const LdapPerson &p, const ComposedAddress &address)
{
    replace_given(ld, dn, "gn", p.given_name);
    replace_given(ld, dn, "title", p.title);
    replace_given(ld, dn, "telephoneNumber", p.telephone, true);
    replace_given(ld, dn, "mobile", p.mobile, true);
    replace_given(ld, dn, "mail", p.email);
    replace_given(ld, dn, "facsimileTelephoneNumber", p.fax, true);
    replace_given(ld, dn, "l", p.locality);
    replace_given(ld, dn, "st", p.state);
    replace_given(ld, dn, "postalCode", p.postal_code);
    if (!address.street.empty()) replace_value(ld, dn, "street", address.street);
    replace_value(ld, dn, "registeredAddress", address.registered);
}

// A person is a member of the remote-desktop group exactly once; a responsible person never.
void set_membership(LDAP *ld, int rpc, const char *uid)
{
    const std::string group = group_dn();
    oska_ldap_setattr(ld, group.c_str(), "memberUid", LDAP_MOD_DELETE, uid);
    if (!rpc) oska_ldap_setattr(ld, group.c_str(), "memberUid", LDAP_MOD_ADD, uid);
}

// The reason a refused add is mailed with: what was sent.
std::string add_detail(int rpc, const LdapEntry &e)
{
    std::string detail = "class=" + e.value("objectClass", 1);
    if (rpc) {
        detail += " -- uid=" + e.value("uid") + " -- cn=" + e.value("cn") + " cn=" + e.value("cn", 1) +
                  " -- sn=" + e.value("sn");
    } else {
        detail += "--uid=" + e.value("uid") + "--cn=" + e.value("cn") + " cn=" + e.value("cn", 1) + "--sn=" +
                  e.value("sn") + "--gecos=" + e.value("gecos") + "--gid=" + e.value("gidNumber") +
                  "--uid=" + e.value("uidNumber") + "--shell=" + e.value("loginShell") +
                  "--home=" + e.value("homeDirectory");
    }
    return cut_utf8(detail, 4095);
}

// Sends the password-modify extended operation for dn; true when the server changed the password.
bool modify_password(LDAP *ld, const std::string &dn, const std::string &password)
{
    std::unique_ptr<BerElement, void (*)(BerElement *)> ber(libldap().ber_alloc_t(LBER_USE_DER),
                                                            [](BerElement *b) { libldap().ber_free(b, 1); });
    if (!ber) Abort("oska_ldap_resetpasswd: no memory");
    berval id{static_cast<ber_len_t>(dn.size()), const_cast<char *>(dn.data())};
    berval secret{static_cast<ber_len_t>(password.size()), const_cast<char *>(password.data())};
    berval *flat = nullptr;
    if (libldap().ber_printf(ber.get(), "{tOtO}", LDAP_TAG_EXOP_MODIFY_PASSWD_ID, &id, LDAP_TAG_EXOP_MODIFY_PASSWD_NEW,
                             &secret) < 0 ||
        libldap().ber_flatten(ber.get(), &flat) < 0)
        Abort("oska_ldap_resetpasswd: encoding error");
    std::unique_ptr<berval, void (*)(berval *)> request(flat, libldap().ber_bvfree);
    ber.reset();

    int msgid = 0;
    int rc = ldap_answer(
        libldap().ldap_extended_operation(ld, LDAP_EXOP_MODIFY_PASSWD, request.get(), nullptr, nullptr, &msgid));
    if (rc != LDAP_SUCCESS) Abort("oska_ldap_resetpasswd.%d: (%d) -- %s", 1282, rc, ldap_text(rc));
    LDAPMessage *answer = nullptr;
    timeval reply = ldap_reply_timeout();
    if (libldap().ldap_result(ld, msgid, LDAP_MSG_ALL, &reply, &answer) <= 0 || !answer) {
        if (answer) libldap().ldap_msgfree(answer);
        ldap_answer(LDAP_OTHER);
        Abort("oska_ldap_resetpasswd.%d: error result receiving", 1286);
    }
    int code = LDAP_OTHER;
    rc = libldap().ldap_parse_result(ld, answer, &code, nullptr, nullptr, nullptr, nullptr, 1);
    return rc == LDAP_SUCCESS && code == LDAP_SUCCESS;
}

int reset_password(const char *ldapinfo, const char *uid, const std::string &password)
{
    set_ldapinfo(ldapinfo);
    LdapSession session;
    connect(session);
    const bool changed = modify_password(session.get(), entry_dn("uid", arg_text(uid), "People"), password);
    session.close("oska_ldap_resetpasswd: ldap_unbind_s:");
    return changed ? 1 : 0;
}

// The values of attr of each login person whose uid or uid number is name; operation names the
// failures that end the run.
std::vector<std::vector<std::string>> find_people(const char *ldapinfo, const char *name, const char *attr,
                                                  const char *operation)
{
    set_ldapinfo(ldapinfo);
    LdapSession session;
    connect(session);
    std::vector<std::vector<std::string>> found;
    {
        LdapSearch search(session.get(), unit_dn("People"), LDAP_SCOPE_SUBTREE, person_filter(name), {attr});
        if (search.code() != LDAP_SUCCESS)
            Abort("%s: ldap_search: %d -- %s", operation, search.code(), ldap_text(search.code()));
        found = search.values(attr);
    }
    session.close((std::string(operation) + ": ldap_unbind_s:").c_str());
    return found;
}

int replace_person_attribute(const char *ldapinfo, const char *uid, const char *attr, const char *value,
                             const char *unbind_message)
{
    set_ldapinfo(ldapinfo);
    const std::string dn = entry_dn("uid", arg_text(uid), "People");
    LdapSession session;
    connect(session);
    const int done = oska_ldap_setattr(session.get(), dn.c_str(), attr, LDAP_MOD_REPLACE, arg_text(value).c_str());
    session.close(unbind_message);
    return done;
}

} // namespace

int oska_ldap_checkuser(const char *ldapinfo, const char *name)
{
    if (local_account(name)) return 1;
    mlog(0, "oska_ldap_checkuser: ldapinfo:%s", ldapinfo_for_log(arg_text(ldapinfo)).c_str());
    mlog(0, "oska_ldap_checkuser: rpc:%s", arg_text(name).c_str());
    return static_cast<int>(find_people(ldapinfo, name, "uid", "oska_ldap_checkuser").size());
}

int oska_ldap_userid(const char *ldapinfo, const char *name)
{
    if (const struct passwd *pw = local_account(name)) return static_cast<int>(pw->pw_uid);
    const auto found = find_people(ldapinfo, name, "uidNumber", "oska_dap_userid");
    return found.empty() || found[0].empty() ? 0 : as_int(leading_number(found[0][0]));
}

int oska_ldap_imapacl(const char *ldapinfo, const char *uid, const char *value)
{
    return replace_person_attribute(ldapinfo, uid, "employeeType", value, "oska_ldap_imapacl: ldap_unbind_s:");
}

int oska_ldap_setemail(const char *ldapinfo, const char *uid, const char *value)
{
    return replace_person_attribute(ldapinfo, uid, "mail", value, "oska_ldap_setemail: ldap_unbind_s:");
}

int oska_ldap_useradd(int rpc, const LdapPerson &p)
{
    const char *unit = rpc ? "Rpcs" : "People";
    const std::string uid = arg_text(p.uid), full_name = arg_text(p.full_name);
    const ComposedAddress address =
        compose_address(p.address1, p.address2, p.locality, p.state, p.postal_code, p.final_line, 83);
    set_ldapinfo(p.ldapinfo);

    // A person's group id is the local group's: without it nothing is added.
    std::string gid;
    if (!rpc) {
        const struct group *local = getgrnam("oska");
        if (!local) {
            Email(SUPPORT_ADDRESS, "oska_ldap_useradd: local group oska not found, uid %s not added", uid.c_str());
            return 0;
        }
        gid = std::to_string(local->gr_gid);
    }

    LdapSession session;
    connect(session);
    LDAP *ld = session.get();
    mlog(0, "oska_ldap_useradd (%d) for dn:%s in group:%s", rpc, unit_dn(unit).c_str(), group_dn().c_str());
    const long long uid_number = rpc ? 10001 : next_uid_number(ld);
    const std::string dn = entry_dn("uid", uid, unit);
    mlog(0, "oska_ldap_useradd for dn:%s (uid: %lld)", dn.c_str(), uid_number);

    LdapEntry entry;
    entry.add("objectClass", rpc ? rpcobj_values : obj_values)
        .add("uid", {uid})
        .add("cn", same_ignoring_case(uid, full_name) ? std::vector{full_name} : std::vector{uid, full_name})
        .add("sn", {arg_text(p.surname)});
    if (!rpc) {
        entry.add("gecos", {uid})
            .add("gidNumber", {gid})
            .add("uidNumber", {std::to_string(uid_number)})
            .add("loginShell", sh_values)
            .add("homeDirectory", {"/home/" + uid});
    }
    const int rc = entry.send(ld, dn);
    if (rc != LDAP_SUCCESS) {
        // Already there is the program's answer; any other refusal is also reported to support.
        if (rc != LDAP_ALREADY_EXISTS)
            Email(SUPPORT_ADDRESS, "oska_ldap_useradd for %s: %d -- %s -- %s", dn.c_str(), rc, ldap_text(rc),
                  add_detail(rpc, entry).c_str());
        session.close("oska_ldap_useradd: ldap_unbind_s:");
        return rc;
    }

    replace_given(ld, dn, "displayName", p.full_name);
    replace_person_values(ld, dn, p, address);
    store_file_value(ld, dn, p.photo, "jpegPhoto", {"oska_ldap_useradd", "oska_ldap_useradd", "jpegPhoto", "photo"});
    set_membership(ld, rpc, uid.c_str());
    session.close("oska_ldap_useradd: ldap_unbind_s:");
    return 1;
}

int oska_ldap_usermodify(int rpc, const LdapPerson &p)
{
    const char *unit = rpc ? "Rpcs" : "People";
    const std::string uid = arg_text(p.uid), full_name = arg_text(p.full_name);
    set_ldapinfo(p.ldapinfo);
    const std::string dn = entry_dn("uid", uid, unit);
    LdapSession session;
    connect(session);
    LDAP *ld = session.get();
    {
        LdapSearch found(ld, dn, LDAP_SCOPE_BASE, "(objectclass=*)", {});
        if (found.code() == LDAP_NO_SUCH_OBJECT) {
            session.close("oska_ldap_usermodify: ldap_unbind_s:");
            return oska_ldap_useradd(rpc, p);
        }
        if (found.code() != LDAP_SUCCESS)
            Abort("oska_ldap_usermodify: ldap_search for %s: %d -- %s", dn.c_str(), found.code(),
                  ldap_text(found.code()));
    }
    mlog(0, "oska_ldap_usermodify (%d) for dn:%s in group:%s", rpc, dn.c_str(), group_dn().c_str());

    if (!full_name.empty()) {
        replace_value(ld, dn, "cn", full_name);
        replace_value(ld, dn, "displayName", full_name);
    }
    if (!uid.empty() && !same_ignoring_case(uid, full_name))
        oska_ldap_setattr(ld, dn.c_str(), "cn", LDAP_MOD_ADD, uid.c_str());
    replace_given(ld, dn, "sn", p.surname);
    replace_person_values(
        ld, dn, p, compose_address(p.address1, p.address2, p.locality, p.state, p.postal_code, p.final_line, 155));
    set_membership(ld, rpc, uid.c_str());
    store_file_value(ld, dn, p.photo, "jpegPhoto",
                     {"oska_ldap_usermodify", "oska_ldap_usermodify", "jpegPhoto", "photo"});
    session.close("oska_ldap_usermodify: ldap_unbind_s:");
    return 1;
}

int oska_ldap_resetpasswd(const char *ldapinfo, const char *uid, const char *password)
{
    return reset_password(ldapinfo, uid, arg_text(password));
}

std::string disabled_password()
{
    unsigned char bytes[16];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Abort("oska_ldap_userdisable: no random bytes: %s", std::strerror(errno));
        got += static_cast<std::size_t>(n);
    }
    std::string password;
    for (const unsigned char b : bytes) password += static_cast<char>('A' + (b & 0x1F));
    return password;
}

int oska_ldap_userdisable(const char *ldapinfo, const char *uid)
{
    return reset_password(ldapinfo, uid, disabled_password());
}

int oska_ldap_userdel(const char *ldapinfo, const char *uid)
{
    set_ldapinfo(ldapinfo);
    const std::string dn = entry_dn("uid", arg_text(uid), "People");
    LdapSession session;
    connect(session);
    const int rc = ldap_answer(libldap().ldap_delete_ext_s(session.get(), dn.c_str(), nullptr, nullptr));
    if (rc == LDAP_SUCCESS)
        oska_ldap_setattr(session.get(), group_dn().c_str(), "memberUid", LDAP_MOD_DELETE, arg_text(uid).c_str());
    session.close("ldap_unbind_s:");
    return rc == LDAP_SUCCESS ? 1 : 0;
}

int oska_ldap_verifypasswd(const char *ldapinfo, const char *uid, const char *password)
{
    mlog(0, "oska_ldap_verifypasswd: ldapinfo:%s", ldapinfo_for_log(arg_text(ldapinfo)).c_str());
    set_ldapinfo(ldapinfo);
    const std::string dn = entry_dn("uid", arg_text(uid), "People");
    // An empty simple bind is an unauthenticated one, which some servers accept: it proves nothing.
    if (empty_arg(password)) return 0;

    LdapSession session;
    const std::string address = ldap_address_uri(ldap_host);
    int rc = libldap().ldap_initialize(session.handle(), address.empty() ? ldap_host : address.c_str());
    if (rc != LDAP_SUCCESS) Abort("oska_ldap_verifypasswd: ldap_init failed: %d -- %s", rc, ldap_text(rc));
    int version = desired_version;
    rc = libldap().ldap_set_option(session.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
    if (rc != LDAP_OPT_SUCCESS) Abort("oska_ldap_verifypasswd: ldap_set_option failed: %d -- %s", rc, ldap_text(rc));
    ldap_limit_waits(session.get());
    berval secret{static_cast<ber_len_t>(std::strlen(password)), const_cast<char *>(password)};
    rc = address.empty() ? LDAP_SERVER_DOWN
                         : ldap_answer(libldap().ldap_sasl_bind_s(session.get(), dn.c_str(), LDAP_SASL_SIMPLE, &secret,
                                                                  nullptr, nullptr, nullptr));
    session.close("oska_ldap_verifypasswd: ldap_unbind_s");
    return rc == LDAP_SUCCESS ? 1 : 0;
}
