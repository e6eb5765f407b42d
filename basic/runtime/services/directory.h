// The directory services: programs administer the site's LDAP directory (persons, responsible
// persons, organisations, project mail aliases, phone links and certificate entries) through the
// ILDAP_ intrinsics. Every call parses (or reuses) its connection-information string, opens one
// administrative connection, works and unbinds again: nothing stays open between calls.
//
// The connection information is "<admin>:<password>@<host>?<base_dn>": the bind DN is
// cn=<admin>,<base_dn>, the server ldap://<host>/ (the host may carry ":<port>"). Values taken from
// programs are escaped wherever they enter a DN or a filter, so no value can move an entry or widen
// a search. No password ever reaches the log: it is shown as "***".
#pragma once

#include <string>
#include <string_view>

typedef struct ldap LDAP;

// ---- The cached connection information ---------------------------------------------------------
//
// Each is a separately allocated text (the memory wrappers) or null before the first call; a call
// with the same string as the last one reuses them all.
extern char *p_ldapinfo;  // the last connection-information string exactly as given
extern char *root_pw;     // its password part
extern char *ldap_host;   // "ldap://<host>/"
extern char *base_dn;     // the base DN part
extern char *root_dn;     // "cn=<admin>,<base_dn>"
// The posixGroup listing the users of the remote desktop: "x2gousers" when the directory holds
// cn=x2gousers,ou=Groups, else "x2gouser". Set by every administrative connect.
extern char x2go_group_name[10];
inline constexpr int desired_version = 3;  // the LDAP protocol version of every session

// Parses and caches the connection information, logging each part (the password as "***").
void set_ldapinfo(const char *ldapinfo);
// The connection information as logs show it: a non-empty password part becomes "***".
std::string ldapinfo_for_log(std::string_view ldapinfo);
// Opens and binds the administrative session into *ld (set as soon as a session exists, so the
// caller can unbind it); reads the remote-desktop group's name and creates the organisational
// units that are missing. Any failure ends the run.
void oska_ldap_connect(LDAP **ld);
// One modify of one attribute with one value (operation 0 add, 1 delete, 2 replace). A failure is
// mailed to the support address and logged; the caller's operation goes on. 1 when the change
// stands (a delete of a value that is not there included), 0 when it was refused.
int oska_ldap_setattr(LDAP *ld, const char *dn, const char *attr, int operation, const char *value);
// A new copy (salloc; the caller frees it) of a telephone number without blanks, "(", ")", "-",
// "." and ":".
char *phone_validation(const char *text);
// Frees the cache at the end of the run (the core's directory clean-up hook).
void ldap_cleanup();

// ---- Persons and responsible persons -----------------------------------------------------------

// The 17 texts of ILDAP_USERADD, ILDAP_USERMODIFY, ILDAP_RPCADD and ILDAP_RPCMODIFY, in order.
struct LdapPerson {
    const char *ldapinfo;
    const char *uid;
    const char *surname;
    const char *given_name;
    const char *full_name;
    const char *title;
    const char *telephone;
    const char *mobile;
    const char *email;
    const char *fax;
    const char *address1;
    const char *address2;
    const char *locality;
    const char *state;
    const char *postal_code;
    const char *final_line;  // the last line of the registered address
    const char *photo;       // path of a picture file for jpegPhoto
};

// Each returns the intrinsic's result.
// 1 for a local account of that name, else the number of directory persons matching it.
int oska_ldap_checkuser(const char *ldapinfo, const char *name);
// The local account's numeric id, else the directory person's uidNumber; 0 when none is found.
int oska_ldap_userid(const char *ldapinfo, const char *name);
// Replace employeeType (IMAP rights) / mail of a person: 1, or 0 when the server refused it.
int oska_ldap_imapacl(const char *ldapinfo, const char *uid, const char *value);
int oska_ldap_setemail(const char *ldapinfo, const char *uid, const char *value);
// rpc 1: a responsible person under ou=Rpcs (no login, no remote-desktop membership); 0: a person
// under ou=People. Add: 1 added, 68 already there, another server code when refused (mailed), 0
// when the local group "oska" is missing (mailed). Modify: 1, or the add's result for a missing
// entry.
int oska_ldap_useradd(int rpc, const LdapPerson &person);
int oska_ldap_usermodify(int rpc, const LdapPerson &person);
// Sets a person's password (the password-modify extended operation): 1 when the server changed
// it, 0 when it refused (unknown uid included).
int oska_ldap_resetpasswd(const char *ldapinfo, const char *uid, const char *password);
// Resets the password to 16 random characters nobody knows: as the reset.
int oska_ldap_userdisable(const char *ldapinfo, const char *uid);
// 1 deleted (and taken out of the remote-desktop group), else 0.
int oska_ldap_userdel(const char *ldapinfo, const char *uid);
// 1 when a bind as the person with the password succeeds; 0 otherwise, an empty password always.
int oska_ldap_verifypasswd(const char *ldapinfo, const char *uid, const char *password);

// 16 characters from "A" to "`" drawn from the kernel's random source: the password of a disabled
// person.
std::string disabled_password();

// ---- Organisations, project aliases, phone links and certificate entries -----------------------

// The 15 texts of ILDAP_ORGADD and ILDAP_ORGMODIFY, in order.
struct LdapOrganisation {
    const char *ldapinfo;
    const char *name;
    const char *display_name;
    const char *telephone;
    const char *fax;
    const char *mobile;
    const char *email;
    const char *web_site;
    const char *address1;
    const char *address2;
    const char *locality;
    const char *state;
    const char *postal_code;
    const char *final_line;
    const char *photo;
};

// 1 added; else the server's code of the add (68 already there).
int oska_ldap_orgadd(const LdapOrganisation &org);
// 1 modified; 0 when there is no such organisation.
int oska_ldap_orgmodify(const LdapOrganisation &org);
// 1 deleted, else 0.
int oska_ldap_orgdel(const char *ldapinfo, const char *name);
// The alias <part1>.<project>-<part3>.<part4> routed to the mail domain: 1 added, else 0.
int oska_ldap_projaliasadd(const char *ldapinfo, const char *part1, const char *project, const char *part3,
                           const char *part4, const char *domain);
// Deletes every alias of the project: 1 when the last delete tried succeeded or none was tried, 0
// otherwise and for an empty project.
int oska_ldap_projaliasdel(const char *ldapinfo, const char *unused, const char *project);
// A link from a telephone number to a name (each up to its first blank): 1 added / deleted, else 0.
int oska_ldap_phlinkadd(const char *ldapinfo, const char *telephone, const char *name);
int oska_ldap_phlinkdel(const char *ldapinfo, const char *telephone);
// A certificate-information entry: the server's code of the add (0 added; a refusal is mailed).
int oska_ldap_certadd(const char *ldapinfo, const char *name, const char *uid, const char *unused,
                      const char *surname, const char *photo, const char *audio);
// 1 deleted, else 0.
int oska_ldap_certdel(const char *ldapinfo, const char *name);

// ---- Values in DNs, filters and postal addresses -----------------------------------------------

// value as an attribute value of a DN (backslash escapes of its special characters).
std::string dn_value(std::string_view value);
// value as the assertion value of a search filter (\2a, \28, \29, \5c, \00).
std::string filter_value(std::string_view value);
// The first max bytes of text at most, never ending inside a UTF-8 character.
std::string cut_utf8(std::string_view text, std::size_t max);
