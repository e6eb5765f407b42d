// The address book's further entries: organisations under ou=Orgs, project mail aliases under
// ou=Aliases, phone links under ou=Phlinks and certificate information under ou=Certinfo.
#include <unistd.h>

#include "gdata.h"
#include "ldap_internal.h"
#include "libldap_calls.h"
#include "message.h"

namespace {

const std::vector<std::string> orgobj_values{"top", "inetOrgPerson"};
const std::vector<std::string> aliasobj_values{"top", "inetOrgPerson", "inetLocalMailRecipient"};
const std::vector<std::string> phlinkobj_values{"top", "inetOrgPerson"};
const std::vector<std::string> certobj_values{"top", "inetOrgPerson"};

// "No data" stands in for an empty name.
std::string or_no_data(const char *value) { return empty_arg(value) ? "No data" : value; }

std::string org_description(const LdapOrganisation &o)
{
    std::string d = "Oska organisation\nEmail:" + arg_text(o.email);
    if (!empty_arg(o.web_site)) d += "\nWeb site: " + arg_text(o.web_site);
    return cut_utf8(d, COMPOSED_VALUE_MAX);
}

// The values an add and a modify both replace after their first steps, in this order.
void replace_org_values(LDAP *ld, const std::string &dn, const LdapOrganisation &o)
{
    replace_given(ld, dn, "telephoneNumber", o.telephone, true);
    replace_given(ld, dn, "mobile", o.mobile, true);
    replace_given(ld, dn, "mail", o.email);
    replace_given(ld, dn, "labeledURI", o.web_site);
    replace_given(ld, dn, "facsimileTelephoneNumber", o.fax, true);
    replace_given(ld, dn, "l", o.locality);
    replace_given(ld, dn, "st", o.state);
    replace_given(ld, dn, "postalCode", o.postal_code);
    const ComposedAddress address = compose_address(o.address1, o.address2, o.locality, o.state, o.postal_code,
                                                    o.final_line, COMPOSED_VALUE_MAX);
    if (!address.street.empty()) replace_value(ld, dn, "street", address.street);
    replace_value(ld, dn, "registeredAddress", address.registered);
    replace_value(ld, dn, "description", org_description(o));
}

// Deletes one entry: 1 when the server deleted it, else 0; a failure is logged when log_failure is
// set, naming the entry as what.
int delete_entry(LDAP *ld, const std::string &dn, bool log_failure, const char *what)
{
    const int rc = ldap_answer(libldap().ldap_delete_ext_s(ld, dn.c_str(), nullptr, nullptr));
    if (rc != LDAP_SUCCESS && log_failure)
        mlog(0, "LDAP %s deleting for: %s (%d, x%x) %s", what, dn.c_str(), rc, static_cast<unsigned>(rc), ldap_text(rc));
    return rc == LDAP_SUCCESS ? 1 : 0;
}

// Connects, deletes the entry <attr>=<value> of the unit and closes: 1 deleted, else 0.
int delete_one(const char *ldapinfo, const std::string &value, const char *unit, const char *logged_as = nullptr)
{
    set_ldapinfo(ldapinfo);
    const std::string dn = entry_dn("cn", value, unit);
    LdapSession session;
    connect(session);
    const int deleted = delete_entry(session.get(), dn, logged_as != nullptr, logged_as);
    session.close("ldap_unbind_s:");
    return deleted;
}

// The text up to its first blank.
std::string first_word(const char *text)
{
    const std::string s = arg_text(text);
    return s.substr(0, s.find(' '));
}

std::string host_name()
{
    char name[129] = {};
    if (gethostname(name, sizeof name - 1) != 0) name[0] = '\0';
    return name;
}

} // namespace

int oska_ldap_orgadd(const LdapOrganisation &o)
{
    mlog(1, "ldapinfo: %s", ldapinfo_for_log(arg_text(o.ldapinfo)).c_str());
    set_ldapinfo(o.ldapinfo);
    const std::string dn = entry_dn("cn", arg_text(o.name), "Orgs");
    mlog(1, "ldap_orgadd for cn:%s", dn.c_str());
    LdapSession session;
    connect(session);
    LDAP *ld = session.get();

    const std::string display = or_no_data(o.display_name), name = or_no_data(o.name);
    const int rc = LdapEntry()
                       .add("objectClass", orgobj_values)
                       .add("cn", same_ignoring_case(display, name) ? std::vector{display} : std::vector{display, name})
                       .add("sn", {display})
                       .send(ld, dn);
    if (rc != LDAP_SUCCESS) {
        session.close("oska_ldap_orgadd: ldap_unbind_s:");
        return rc;
    }
    replace_given(ld, dn, "displayName", o.display_name);
    replace_org_values(ld, dn, o);
    store_file_value(ld, dn, o.photo, "jpegPhoto", {"oska_ldap_orgadd", "oska_ldap_orgadd", "jpegPhoto", "photo"});
    session.close("oska_ldap_orgadd: ldap_unbind_s:");
    return 1;
}

int oska_ldap_orgmodify(const LdapOrganisation &o)
{
    set_ldapinfo(o.ldapinfo);
    const std::string dn = entry_dn("cn", arg_text(o.name), "Orgs");
    mlog(1, "oska_ldap_orgmodify: for cn:%s", dn.c_str());
    LdapSession session;
    connect(session);
    LDAP *ld = session.get();
    {
        // Modifying what is not there would only mail one refusal per attribute.
        LdapSearch found(ld, dn, LDAP_SCOPE_BASE, "(objectclass=*)", {});
        if (found.code() == LDAP_NO_SUCH_OBJECT || found.code() == LDAP_INVALID_DN_SYNTAX) {
            session.close("oska_ldap_orgmodify: ldap_unbind_s:");
            return 0;
        }
        if (found.code() != LDAP_SUCCESS)
            Abort("oska_ldap_orgmodify: ldap_search for %s: %d -- %s", dn.c_str(), found.code(),
                  ldap_text(found.code()));
    }
    replace_value(ld, dn, "sn", or_no_data(o.display_name));
    replace_value(ld, dn, "cn", or_no_data(o.name));
    replace_org_values(ld, dn, o);
    store_file_value(ld, dn, o.photo, "jpegPhoto",
                     {"oska_ldap_orgmodify", "oska_ldap_orgmodify ldap_modify_ext_s", "jpegPhoto", "photo"});
    session.close("oska_ldap_orgmodify: ldap_unbind_s:");
    return 1;
}

int oska_ldap_orgdel(const char *ldapinfo, const char *name) { return delete_one(ldapinfo, arg_text(name), "Orgs"); }

int oska_ldap_projaliasadd(const char *ldapinfo, const char *part1, const char *project, const char *part3,
                           const char *part4, const char *domain)
{
    set_ldapinfo(ldapinfo);
    const std::string host = host_name();
    const std::string full_name =
        arg_text(part1) + "." + arg_text(project) + "-" + arg_text(part3) + "." + arg_text(part4);
    const std::string dn = entry_dn("cn", full_name, "Aliases");
    const std::string alias = cut_utf8(full_name, 127);
    const std::string display =
        cut_utf8(arg_text(part4) + " of " + arg_text(part3) + " (" + arg_text(project) + ")", 255);
    const std::string local_address = cut_utf8(alias + "@" + host, 255);
    LdapSession session;
    connect(session);
    LDAP *ld = session.get();

    std::vector<std::string> cn{alias};
    if (!empty_arg(part3)) cn = same_ignoring_case(display, alias) ? std::vector{display} : std::vector{display, alias};
    const int rc = LdapEntry()
                       .add("objectClass", aliasobj_values)
                       .add("cn", cn)
                       .add("sn", {empty_arg(part3) ? arg_text(project) : arg_text(part3)})
                       .add("gn", {or_no_data(part4)})
                       .send(ld, dn);
    if (rc == LDAP_SUCCESS) {
        replace_value(ld, dn, "mail", cut_utf8(alias + "@" + arg_text(domain), 255));
        replace_value(ld, dn, "mailLocalAddress", local_address);
        replace_value(ld, dn, "mailRoutingAddress", "nobody");
        replace_value(ld, dn, "displayName", display);
    }
    session.close("ldap_unbind_s:");
    return rc == LDAP_SUCCESS ? 1 : 0;
}

int oska_ldap_projaliasdel(const char *ldapinfo, const char *, const char *project)
{
    set_ldapinfo(ldapinfo);
    // An empty project would match the aliases of every project.
    if (empty_arg(project)) return 0;
    const std::string base = unit_dn("Aliases");
    const std::string filter = "(cn=*." + filter_value(arg_text(project)) + "-*)";
    LdapSession session;
    connect(session);
    int last = 1;
    {
        LdapSearch found(session.get(), base, LDAP_SCOPE_ONELEVEL, filter, {"cn"});
        if (found.code() != LDAP_SUCCESS && found.code() != LDAP_NO_SUCH_OBJECT)
            Abort("ldap_search for %s in %s: %d -- %s", filter.c_str(), base.c_str(), found.code(),
                  ldap_text(found.code()));
        for (const auto &names : found.values("cn"))
            for (const std::string &name : names)
                if (name.find('.') != std::string::npos)
                    last = delete_entry(session.get(), "cn=" + dn_value(name) + "," + base, true, "projalias");
    }
    session.close("ldap_unbind_s:");
    return last;
}

int oska_ldap_phlinkadd(const char *ldapinfo, const char *telephone, const char *name)
{
    set_ldapinfo(ldapinfo);
    const std::string number = first_word(telephone), linked = first_word(name);
    const std::string dn = entry_dn("cn", number, "Phlinks");
    LdapSession session;
    connect(session);
    LDAP *ld = session.get();
    const int rc = LdapEntry()
                       .add("objectClass", phlinkobj_values)
                       .add("cn", {cut_utf8(number, 127)})
                       .add("sn", {cut_utf8(linked, 255)})
                       .send(ld, dn);
    if (rc == LDAP_SUCCESS) {
        replace_value(ld, dn, "displayName", linked);
        replace_value(ld, dn, "telephoneNumber", number);
    }
    session.close("ldap_unbind_s:");
    return rc == LDAP_SUCCESS ? 1 : 0;
}

int oska_ldap_phlinkdel(const char *ldapinfo, const char *telephone)
{
    return delete_one(ldapinfo, first_word(telephone), "Phlinks", "phlink");
}

int oska_ldap_certadd(const char *ldapinfo, const char *name, const char *uid, const char *, const char *surname,
                      const char *photo, const char *audio)
{
    mlog(1, "oska_ldap_certadd: ldapinfo: %s", ldapinfo_for_log(arg_text(ldapinfo)).c_str());
    set_ldapinfo(ldapinfo);
    const std::string dn = entry_dn("cn", arg_text(name), "Certinfo");
    mlog(1, "oska_ldap_certadd for dn:%s", dn.c_str());
    LdapSession session;
    connect(session);
    LDAP *ld = session.get();
    const int rc = LdapEntry()
                       .add("objectClass", certobj_values)
                       .add("uid", {arg_text(uid)})
                       .add("cn", {arg_text(name), arg_text(uid)})
                       .add("sn", {arg_text(surname)})
                       .add("departmentNumber", {"browser_fingerprint_in"})
                       .send(ld, dn);
    if (rc != LDAP_SUCCESS) {
        Email(SUPPORT_ADDRESS, "ldap_certadd (dn:%s, attrs): %d -- %s", dn.c_str(), rc, ldap_text(rc));
    } else {
        store_file_value(ld, dn, photo, "jpegPhoto", {"ldap_certadd", "ldap_certadd", "jpegPhoto", "photo"});
        store_file_value(ld, dn, audio, "audio", {"ldap_certadd", "ldap_certadd", "Audio", "wav audio"});
    }
    session.close("ldap_unbind_s:");
    return rc;
}

int oska_ldap_certdel(const char *ldapinfo, const char *name) { return delete_one(ldapinfo, arg_text(name), "Certinfo"); }
