// What the directory files share beyond ldap.h: the session of one call, searches, new entries,
// values read from files and the composed address values.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <ldap.h>

#include "directory.h"

// The session of one intrinsic call. close() unbinds and ends the run with unbind_message (a
// format taking the library's text) when that fails; a session left open when its call ends by a
// fatal error is unbound quietly.
class LdapSession {
public:
    LdapSession() = default;
    ~LdapSession();
    LdapSession(const LdapSession &) = delete;
    LdapSession &operator=(const LdapSession &) = delete;

    LDAP **handle() { return &ld_; }
    LDAP *get() const { return ld_; }
    void close(const char *unbind_message);

private:
    LDAP *ld_ = nullptr;
};

// Opens and binds the administrative session of the cached connection information.
inline void connect(LdapSession &session) { oska_ldap_connect(session.handle()); }

// The answer of a synchronous search, freed with it.
class LdapSearch {
public:
    // scope: LDAP_SCOPE_BASE, LDAP_SCOPE_ONELEVEL or LDAP_SCOPE_SUBTREE; no attributes asked for
    // when attrs is empty.
    LdapSearch(LDAP *ld, const std::string &base, int scope, const std::string &filter,
               std::initializer_list<const char *> attrs);
    ~LdapSearch();
    LdapSearch(const LdapSearch &) = delete;
    LdapSearch &operator=(const LdapSearch &) = delete;

    int code() const { return code_; }
    int count() const;  // entries in the answer
    // The values of attr of each entry, in order (binary-safe).
    std::vector<std::vector<std::string>> values(const char *attr) const;

private:
    LDAP *ld_;
    int code_;
    LDAPMessage *answer_ = nullptr;
};

// A new entry: its attributes in the order they are given, each with its values.
class LdapEntry {
public:
    // Empty values are left out, and so is an attribute left without values.
    LdapEntry &add(const char *attr, std::vector<std::string> values);
    // Sends the add; the server's result code.
    int send(LDAP *ld, const std::string &dn) const;
    // The values of attr ("" when absent or not at index).
    std::string value(const char *attr, std::size_t index = 0) const;

private:
    std::vector<std::pair<const char *, std::vector<std::string>>> attrs_;
};

// The library's text of a result code.
const char *ldap_text(int code);

// The result code of a directory library call, passed on. The library gives up when a signal
// interrupts its wait: a failure while a signal is pending ends through the signal path (quietly
// for a termination signal), never as the directory's own error.
int ldap_answer(int rc);
// The session URI of uri ("ldap://host[:port]/") with the host's addresses in place of its name,
// one URI per address, so that the library makes no lookup of its own (it would hold a request to
// end the run for the resolver's time-out). uri itself when it names no host or an address;
// empty when the name has no address (the library could not connect either).
std::string ldap_address_uri(const char *uri);
// Limits the waits of a new session: connecting, and the reply of every synchronous operation,
// so that a server that stops answering makes the operation fail instead of holding the program.
void ldap_limit_waits(LDAP *ld);
// The reply time-out of an operation waited for with ldap_result.
timeval ldap_reply_timeout();

// An argument counts as empty when it is null or starts with NUL.
inline bool empty_arg(const char *s) { return !s || !*s; }
inline std::string arg_text(const char *s) { return s ? s : ""; }
// Two values that are the same text when letter case is ignored.
bool same_ignoring_case(const std::string &a, const std::string &b);
// phone_validation as a string.
std::string cleaned_phone(const char *text);
// One modify of dn: operation (LDAP_MOD_ADD, LDAP_MOD_DELETE, LDAP_MOD_REPLACE) of attr with the
// one value; the server's result code.
int modify_value(LDAP *ld, const char *dn, const char *attr, int operation, const berval &value);
// Replaces attr of dn by value through oska_ldap_setattr.
void replace_value(LDAP *ld, const std::string &dn, const char *attr, const std::string &value);
// The same with an argument when it is not empty, a telephone number cleaned first.
void replace_given(LDAP *ld, const std::string &dn, const char *attr, const char *argument, bool phone = false);
// "ou=<unit>,<base_dn>".
std::string unit_dn(const char *unit);
// "<attr>=<value escaped>,ou=<unit>,<base_dn>".
std::string entry_dn(const char *attr, std::string_view value, const char *unit);

// The messages of a file whose bytes become a binary attribute value.
struct FileValueMessages {
    const char *operation;  // "<operation>: can't allocate %ld bytes for <what>", "<operation>: error reading ..."
    const char *mail_operation;  // "<mail_operation> (dn:%s, <what>): %d -- %s", mailed when the modify fails
    const char *what;       // jpegPhoto, Audio
    const char *file_kind;  // "photo", "wav audio"
};
// Replaces attr of dn by the bytes of the file at path, when path is not empty, does not begin
// with a blank and names a regular file that opens; else nothing happens. Memory short or a short
// read ends the run; a refused modify is mailed and the operation goes on.
void store_file_value(LDAP *ld, const std::string &dn, const char *path, const char *attr, const FileValueMessages &m);

// The street and registered address composed from the address arguments. The street keeps at most
// street_max bytes, the registered address 155; "$" and "\" of the registered address are escaped
// for its postal-address syntax.
struct ComposedAddress {
    std::string street;
    std::string registered;
};
ComposedAddress compose_address(const char *line1, const char *line2, const char *locality, const char *state,
                                const char *postal_code, const char *final_line, std::size_t street_max);
inline constexpr std::size_t COMPOSED_VALUE_MAX = 155;
