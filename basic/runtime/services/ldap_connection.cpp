// The connection information and its cache, the administrative session with the creation of the
// organisational units that are missing, the one-attribute modify and the clean-up at exit.
#include <algorithm>
#include <cstring>

#include "gdata.h"
#include "ldap_internal.h"
#include "libldap_calls.h"
#include "mem_mgt.h"
#include "message.h"

char *p_ldapinfo = nullptr;
char *root_pw = nullptr;
char *ldap_host = nullptr;
char *base_dn = nullptr;
char *root_dn = nullptr;
char x2go_group_name[10] = "x2gouser";

namespace {

void replace(char *&cached, const std::string &value)
{
    DPS_FREE(cached);
    cached = Strcpy(value.c_str());
}

const char *shown(const char *cached) { return cached ? cached : ""; }

// The units a connect creates when the phone-link unit is missing, in order, with the messages
// of a refused add.
struct Unit {
    const char *ou;
    const char *description;
    const char *label;  // how the message of a refused add names it
};
constexpr Unit CERTINFO{"Certinfo", "Oska Certificate Information", "certinfo"};
constexpr Unit PHLINK_UNITS[] = {
    {"Rpcs", "Oska's responsible person list", "Rpcs"},
    {"Orgs", "Oska's organisation list", "Orgs"},
    {"Aliases", "Oska's aliases", "Aliases"},
    {"Phlinks", "Oska's phone links", "Phlinks"},
};

void create_unit(LDAP *ld, const Unit &unit)
{
    const std::string dn = unit_dn(unit.ou);
    const int rc = LdapEntry()
                       .add("objectClass", {"top", "organizationalUnit"})
                       .add("ou", {unit.ou})
                       .add("description", {unit.description})
                       .send(ld, dn);
    if (rc != LDAP_SUCCESS && rc != LDAP_ALREADY_EXISTS)
        Abort("ldap add %s %s: %d -- %s", unit.label, dn.c_str(), rc, ldap_text(rc));
}

// A base-scope search the connect makes: success or no-such-object, anything else ends the run.
int probe(LDAP *ld, const std::string &dn, const char *filter, const char *attr, int *count = nullptr)
{
    LdapSearch s(ld, dn, LDAP_SCOPE_BASE, filter, {attr});
    if (s.code() != LDAP_SUCCESS && s.code() != LDAP_NO_SUCH_OBJECT)
        Abort("ldap_search for %s: %d -- %s", dn.c_str(), s.code(), ldap_text(s.code()));
    if (count) *count = s.count();
    return s.code();
}

} // namespace

std::string ldapinfo_for_log(std::string_view info)
{
    std::string shown(info);
    const std::size_t query = std::min(shown.find('?'), shown.size());
    const std::size_t at = std::min(shown.find('@'), query);
    const std::size_t colon = shown.find(':');
    if (colon < at && colon + 1 < at) shown.replace(colon + 1, at - colon - 1, "***");
    return shown;
}

void set_ldapinfo(const char *ldapinfo)
{
    const std::string given = arg_text(ldapinfo);
    const std::string logged = ldapinfo_for_log(given);
    mlog(0, "set_ldapinfo: ldapinfo:%s", logged.c_str());
    if (p_ldapinfo && given == p_ldapinfo) return;

    std::string rest = given;
    while (rest.size() > 1 && rest.back() == ' ') rest.pop_back();
    replace(p_ldapinfo, given);
    mlog(0, "set_ldapinfo: p_ldapinfo:%s", logged.c_str());

    // Everything after the first "?" is the base DN, the host follows the first "@" before it,
    // and the password the first ":" before that.
    auto split = [&rest](char at) {
        const std::size_t i = rest.find(at);
        if (i == std::string::npos) return std::string();
        std::string after = rest.substr(i + 1);
        rest.resize(i);
        return after;
    };
    const std::string dn = split('?');
    mlog(0, "set_ldapinfo: dn:%s", dn.c_str());
    const std::string host = split('@');
    mlog(0, "set_ldapinfo: ldaphost:%s", host.c_str());
    const std::string password = split(':');
    const std::string &admin = rest;
    mlog(0, "set_ldapinfo: secret:%s", password.empty() ? "" : "***");
    mlog(0, "set_ldapinfo: admin:%s", admin.c_str());

    replace(root_pw, password);
    replace(ldap_host, "ldap://" + host + "/");
    mlog(0, "set_ldapinfo: ldap_host:%s", ldap_host);
    replace(base_dn, dn);
    mlog(0, "set_ldapinfo: base_dn:%s", base_dn);
    replace(root_dn, "cn=" + dn_value(admin) + "," + dn);
    mlog(0, "set_ldapinfo: root_dn:%s", root_dn);
}

void oska_ldap_connect(LDAP **ld)
{
    mlog(0, "oska_ldap_connect  host:%s dn=%s", shown(ldap_host), shown(root_dn));
    const std::string address = ldap_address_uri(shown(ldap_host));
    int rc = libldap().ldap_initialize(ld, address.empty() ? shown(ldap_host) : address.c_str());
    if (rc != LDAP_SUCCESS) Abort("oska_ldap_connect(): ldap_init failed: %d -- %s", rc, ldap_text(rc));
    int version = desired_version;
    rc = libldap().ldap_set_option(*ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    if (rc != LDAP_OPT_SUCCESS) Abort("oska_ldap_connect(): ldap_set_option failed: %d -- %s", rc, ldap_text(rc));
    ldap_limit_waits(*ld);
    berval secret{static_cast<ber_len_t>(std::strlen(shown(root_pw))), const_cast<char *>(shown(root_pw))};
    // A name without an address fails as the library's own lookup would: the server is not reached.
    rc = address.empty() ? LDAP_SERVER_DOWN
                         : ldap_answer(libldap().ldap_sasl_bind_s(*ld, shown(root_dn), LDAP_SASL_SIMPLE, &secret,
                                                                  nullptr, nullptr, nullptr));
    if (rc != LDAP_SUCCESS)
        Abort("oska_ldap_connect(): ldap_bind.%d: %d -- %s, host:%s dn=%s", 521, rc, ldap_text(rc), shown(ldap_host),
              shown(root_dn));
    mlog(0, "oska_ldap_connect(): LDAP BIND host:%s dn=%s", shown(ldap_host), shown(root_dn));

    const std::string group = "cn=x2gousers,ou=Groups," + arg_text(base_dn);
    mlog(0, "oska_ldap_connect(): Looking for x2go group %s", group.c_str());
    int members = 0;
    rc = probe(*ld, group, "(objectClass=posixGroup)", "cn", &members);
    mlog(0, "oska_ldap_connect(): ldap_search_ext_s  %s result = %d", group.c_str(), rc);
    std::strcpy(x2go_group_name, members ? "x2gousers" : "x2gouser");
    mlog(0, "oska_ldap_connect(): x2go group name: %s", x2go_group_name);

    const std::string certinfo = unit_dn(CERTINFO.ou);
    mlog(0, "oska_ldap_connect(): Looking for certinfo %s", certinfo.c_str());
    rc = probe(*ld, certinfo, "(objectClass=*)", "ou");
    mlog(0, "oska_ldap_connect(): ldap_search_ext_s  %s result = %d no such object = %d", certinfo.c_str(), rc,
         LDAP_NO_SUCH_OBJECT);
    if (rc == LDAP_NO_SUCH_OBJECT) {
        mlog(0, "oska_ldap_connect(): certinfo %s not found. creating certinfo top object", certinfo.c_str());
        create_unit(*ld, CERTINFO);
        mlog(0, "oska_ldap_connect(): ldap_add_ext added top object %s", certinfo.c_str());
    }

    // The phone-link unit alone tells whether the four units of the address book were made.
    const std::string phlinks = unit_dn("Phlinks");
    mlog(0, "oska_ldap_connect(): after certinfo phlinks next");
    rc = probe(*ld, phlinks, "(objectclass=*)", "ou");
    mlog(0, "oska_ldap_connect(): after  phlinks search");
    if (rc == LDAP_NO_SUCH_OBJECT) {
        mlog(0, "phlinks %s not found. creating top objects", phlinks.c_str());
        for (const Unit &unit : PHLINK_UNITS) create_unit(*ld, unit);
        mlog(0, "oska_ldap_connect(): after  phlinks creation");
    }
}

int oska_ldap_setattr(LDAP *ld, const char *dn, const char *attr, int operation, const char *value)
{
    const int rc =
        modify_value(ld, dn, attr, operation, {static_cast<ber_len_t>(std::strlen(value)), const_cast<char *>(value)});
    if (rc == LDAP_SUCCESS || (operation == LDAP_MOD_DELETE && rc == LDAP_NO_SUCH_ATTRIBUTE)) {
        mlog(0, "oska_ldap_settattr: (dn:%s, attr:%s, value %s):", dn, attr, value);
        return 1;
    }
    Email(SUPPORT_ADDRESS, "oska_ldap_setattr: ldap_modify_ext_s: (dn:%s, attr:%s, value:%s): %d -- %s", dn, attr,
          value, rc, ldap_text(rc));
    mlog(0, "oska_ldap_setattr: ldap_modify_ext_s: (dn:%s, attr:%s, value:%s): %d -- %s", dn, attr, value, rc,
         ldap_text(rc));
    return 0;
}

void ldap_cleanup()
{
    DPS_FREE(p_ldapinfo);
    DPS_FREE(root_pw);
    DPS_FREE(root_dn);
    DPS_FREE(base_dn);
    DPS_FREE(ldap_host);
}
